#include "QuorlaTest.h"
#include "RecordKey.h"

class tst_RecordKey : public QObject
{
    Q_OBJECT

private slots:
    // A key read from a record is its leading ASCII digits up to a NUL; any
    // other text, or a number beyond qint64, is no key. Formatted keys read back.
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("key");
        QTest::addColumn<bool>("formatted"); // RecordKey::format(key) gives the text
        QTest::newRow("none") << "0000000000" << qint64(0) << true;
        QTest::newRow("beyond 10 digits is not cut") << "12345678901" << qint64(12345678901) << true;
        QTest::newRow("empty") << QString() << qint64(0) << false;
        QTest::newRow("stops at NUL") << QString::fromLatin1("0000000042\0" "99", 13) << qint64(42) << false;
        QTest::newRow("digits then letters") << "12ab" << qint64(0) << false;
        QTest::newRow("sign") << "-5" << qint64(0) << false;
        QTest::newRow("non-ASCII digit") << QStringLiteral("٣") << qint64(0) << false;
        QTest::newRow("largest qint64") << "9223372036854775807" << qint64(9223372036854775807) << true;
        QTest::newRow("too large for qint64") << "9223372036854775808" << qint64(0) << false;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(qint64, key);
        QFETCH(bool, formatted);
        QCOMPARE(RecordKey::parse(text), key);
        if (formatted)
            QCOMPARE(RecordKey::format(key), text);
    }
};

QUORLA_TEST_CORE_MAIN(tst_RecordKey)
#include "tst_recordkey.moc"
