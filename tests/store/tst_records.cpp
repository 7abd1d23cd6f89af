// The stored record layouts, byte for byte: every field's offset and width,
// little-endian integers, and texts stored whole or refused.
// The offsets here are written out independently of the records' constants.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "ETextTooLong.h"
#include "TTextCapacity.h"
#include "UserRecord.h"

#include <algorithm>

namespace {

template <class R>
QByteArray bytesOf(const R& record)
{
    return QByteArray(record.bytes().data(), qsizetype(R::Size));
}

// A record image of `size` bytes of `fill` with the given bytes at their offsets.
QByteArray image(int size, std::initializer_list<std::pair<int, QByteArray>> fields, char fill = '\0')
{
    QByteArray bytes(size, fill);
    for (const auto& [offset, value] : fields)
        bytes.replace(offset, value.size(), value);
    return bytes;
}

template <class R>
R fromImage(const QByteArray& bytes)
{
    R record;
    std::copy(bytes.cbegin(), bytes.cend(), record.bytes().begin());
    return record;
}

// The bytes a text field of `width` holds for `text`: the text, then NULs.
QByteArray field(const QByteArray& text, int width)
{
    return text + QByteArray(width - text.size(), '\0');
}

} // namespace

class tst_Records : public QObject
{
    Q_OBJECT

private slots:
    // Every field written through its setter lands on exactly its bytes, as the
    // files other workstations already hold have them.
    void layouts()
    {
        UserRecord u;
        u.setRights(0x44332211);
        u.setFullName(QString(30, u'F'));
        u.setUserName(QStringLiteral("USERNAME10"));
        u.setPassword(QStringLiteral("PASSWORD"));
        u.setAbbreviation(QStringLiteral("ABBR"));
        const QByteArray user = image(68, {{0, "\x11\x22\x33\x44"}, {4, QByteArray(30, 'F')}, {35, "USERNAME10"},
                                           {46, "PASSWORD"}, {57, "ABBR"}});
        QCOMPARE(bytesOf(u), user);

        CategoryRecord c;
        c.setDescription(QString(30, u'c'));
        QCOMPARE(bytesOf(c), field(QByteArray(30, 'c'), 31));

        DayEntryRecord d;
        d.setFlags(-2);
        d.setTag(-32768);
        d.setStartTime(QStringLiteral("0000086400"));
        d.setOwnerKey(QStringLiteral("0000000007"));
        d.setCategoryKey(QStringLiteral("0000000005"));
        d.setDescription(QString(254, u'd'));
        d.setAssignee(0, QStringLiteral("0000000001"));
        d.setAssignee(1, QStringLiteral("0000000002"));
        d.setAssignee(19, QStringLiteral("0000000020"));
        const QByteArray entry = image(514, {{0, "\xfe\xff\xff\xff"}, {4, QByteArray("\0\x80", 2)}, {6, "0000086400"},
                                            {17, "0000000007"}, {28, "0000000005"}, {39, QByteArray(254, 'd')},
                                            {294, "0000000001"}, {305, "0000000002"}, {503, "0000000020"}});
        QCOMPARE(bytesOf(d), entry);

        AlarmRecord a;
        a.setFlags(0x12345678);
        a.setAlarmTime(QStringLiteral("0000086400"));
        a.setDayEntryKey(QStringLiteral("0000000003"));
        a.setUserKey(QStringLiteral("0000000007"));
        a.rebuildUserAlarmKey();
        const QByteArray alarm = image(58, {{0, "\x78\x56\x34\x12"}, {4, "0000086400"}, {15, "0000000003"},
                                            {26, "0000000007"}, {37, "00000000070000086400"}});
        QCOMPARE(bytesOf(a), alarm);
    }

    // A text is stored whole or refused whole: a field of width W holds W-1
    // bytes of UTF-8 and a NUL; a longer text leaves the field as it was.
    void textCapacity_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fits");
        const QString e = QStringLiteral("é"); // 2 bytes of UTF-8
        QTest::newRow("ten letters, one accented") << "JÖRGENSSON" << false;
        QTest::newRow("é ends exactly at the limit") << "ABCDEFGH" + e << true;
        QTest::newRow("é across the limit") << "ABCDEFGHI" + e << false;
    }
    void textCapacity()
    {
        QFETCH(QString, text);
        QFETCH(bool, fits);
        // The user name field: bytes 35 to 45, between full name and password.
        UserRecord u = fromImage<UserRecord>(QByteArray(68, '\x7f'));
        bool refused = false;
        try {
            u.setUserName(text);
        } catch (const ETextTooLong& e) {
            refused = true;
            QVERIFY(e.message().startsWith(QStringLiteral("The user name is too long: it takes 11 bytes")));
        }
        QCOMPARE(refused, !fits);
        QCOMPARE(bytesOf(u), image(68, {{35, fits ? field(text.toUtf8(), 11) : QByteArray(11, '\x7f')}}, '\x7f'));
        QCOMPARE(TTextCapacity::fits(text, UserRecord::UserNameCapacity), fits);
        QVERIFY(TTextCapacity::fits(TTextCapacity::cut(text, 10), 10));
        QCOMPARE(TTextCapacity::cut(text, 10) == text, fits);
    }

    void textRead_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("no NUL: all of the width") << QByteArray(11, 'x') << QString(11, u'x');
        QTest::newRow("stops at the first NUL") << QByteArray("AB\0CD", 5) << "AB";
        QTest::newRow("character cut by the field's end")
            << QByteArray(10, 'x') + "\xc3" << QString(10, u'x') + QChar(QChar::ReplacementCharacter);
    }
    void textRead()
    {
        QFETCH(QByteArray, raw);
        QTEST(fromImage<UserRecord>(image(68, {{35, raw}}, '\x7f')).UserName(), "text");
    }

    // The keys fill the first slots in order; every later slot, including those
    // a previous list filled, holds "0000000000"; empty slots are skipped.
    void assignees()
    {
        DayEntryRecord entry;
        entry.initialise();
        QStringList twenty;
        for (int i = 100; i < 120; ++i)
            twenty << RecordKey::format(i);
        entry.setAssigneeKeys(twenty);
        QCOMPARE(entry.AssigneeKeys(), twenty);
        const QStringList two{"0000000001", "0000000002"};
        entry.setAssigneeKeys(two);
        QCOMPARE(entry.AssigneeKeys(), two);
        for (int slot = 2; slot < 20; ++slot)
            QCOMPARE(bytesOf(entry).mid(294 + 11 * slot, 11), QByteArray("0000000000", 11));
        entry.setAssignee(0, QString());
        entry.setAssignee(19, QStringLiteral("0000000009"));
        QCOMPARE(entry.AssigneeKeys(), QStringList({"0000000002", "0000000009"}));
    }
};

QUORLA_TEST_CORE_MAIN(tst_Records)
#include "tst_records.moc"
