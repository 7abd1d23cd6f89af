#include "QuorlaTest.h"
#include "RecordKey.h"

class tst_RecordKey : public QObject
{
    Q_OBJECT

private slots:
    void format_data()
    {
        QTest::addColumn<qint64>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << qint64(0) << "0000000000";
        QTest::newRow("largest 10 digits") << qint64(9999999999) << "9999999999";
        QTest::newRow("beyond 10 digits is not cut") << qint64(12345678901) << "12345678901";
    }
    void format()
    {
        QFETCH(qint64, key);
        QFETCH(QString, text);
        QCOMPARE(RecordKey::format(key), text);
        QCOMPARE(RecordKey::parse(text), key);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("key");
        QTest::newRow("padded") << "0000000007" << qint64(7);
        QTest::newRow("empty") << QString() << qint64(0);
        QTest::newRow("stops at NUL") << QString::fromLatin1("0000000042\0" "99", 13) << qint64(42);
        QTest::newRow("digits then letters") << "12ab" << qint64(0);
        QTest::newRow("leading blank") << " 7" << qint64(0);
        QTest::newRow("sign") << "-5" << qint64(0);
        QTest::newRow("non-ASCII digit") << QStringLiteral("٣") << qint64(0);
        QTest::newRow("largest qint64") << "9223372036854775807" << qint64(9223372036854775807);
        QTest::newRow("too large for qint64") << "9223372036854775808" << qint64(0);
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(qint64, key);
        QCOMPARE(RecordKey::parse(text), key);
    }
};

QUORLA_TEST_CORE_MAIN(tst_RecordKey)
#include "tst_recordkey.moc"
