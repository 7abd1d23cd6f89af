#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "UserRecord.h"

#include "QuorlaTest.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

// Every byte of a record that a test does not mean to change starts as this
// value: it is not NUL, so a text read that overruns its field shows it, and a
// write that overruns its field destroys it.
constexpr char Fill = '\x7f';

template <class R>
R fromBytes(const QByteArray& bytes)
{
    R record;
    Q_ASSERT(static_cast<std::size_t>(bytes.size()) == R::Size);
    std::copy(bytes.cbegin(), bytes.cend(), record.bytes().begin());
    return record;
}

template <class R>
QByteArray toBytes(const R& record)
{
    return QByteArray(record.bytes().data(), static_cast<qsizetype>(R::Size));
}

// One field of one record kind, reached through the record's own getter and
// setter but on raw bytes, so that table rows can name the field they are about.
struct Field
{
    QString name;
    int offset;
    int width;
    int recordSize;
    QByteArray (*write)(const QByteArray& bytes, const QVariant& value);
    QVariant (*read)(const QByteArray& bytes);
};

template <class R, auto Get, auto Set, class V>
Field field(const char* name, int offset, int width)
{
    return {QString::fromLatin1(name), offset, width, static_cast<int>(R::Size),
            [](const QByteArray& bytes, const QVariant& value) {
                R record = fromBytes<R>(bytes);
                (record.*Set)(value.value<V>());
                return toBytes(record);
            },
            [](const QByteArray& bytes) { return QVariant::fromValue((fromBytes<R>(bytes).*Get)()); }};
}

template <int Slot>
Field assigneeSlot(const char* name, int offset)
{
    return {QString::fromLatin1(name), offset, 11, static_cast<int>(DayEntryRecord::Size),
            [](const QByteArray& bytes, const QVariant& value) {
                DayEntryRecord record = fromBytes<DayEntryRecord>(bytes);
                record.setAssignee(Slot, value.toString());
                return toBytes(record);
            },
            [](const QByteArray& bytes) {
                return QVariant(fromBytes<DayEntryRecord>(bytes).Assignee(Slot));
            }};
}

// The stored layout, byte for byte, in field order. The offsets and widths here
// are written out independently of the record classes' constants on purpose.
const QList<Field>& layout()
{
    using A = AlarmRecord;
    using C = CategoryRecord;
    using D = DayEntryRecord;
    using U = UserRecord;
    static const QList<Field> fields{
        field<U, &U::Rights, &U::setRights, qint32>("UserRecord.Rights", 0, 4),
        field<U, &U::FullName, &U::setFullName, QString>("UserRecord.FullName", 4, 31),
        field<U, &U::UserName, &U::setUserName, QString>("UserRecord.UserName", 35, 11),
        field<U, &U::Password, &U::setPassword, QString>("UserRecord.Password", 46, 11),
        field<U, &U::Abbreviation, &U::setAbbreviation, QString>("UserRecord.Abbreviation", 57, 11),
        field<C, &C::Description, &C::setDescription, QString>("CategoryRecord.Description", 0, 31),
        field<D, &D::Flags, &D::setFlags, qint32>("DayEntryRecord.Flags", 0, 4),
        field<D, &D::Tag, &D::setTag, qint16>("DayEntryRecord.Tag", 4, 2),
        field<D, &D::StartTime, &D::setStartTime, QString>("DayEntryRecord.StartTime", 6, 11),
        field<D, &D::OwnerKey, &D::setOwnerKey, QString>("DayEntryRecord.OwnerKey", 17, 11),
        field<D, &D::CategoryKey, &D::setCategoryKey, QString>("DayEntryRecord.CategoryKey", 28, 11),
        field<D, &D::Description, &D::setDescription, QString>("DayEntryRecord.Description", 39, 255),
        assigneeSlot<0>("DayEntryRecord.Assignee(0)", 294),
        assigneeSlot<1>("DayEntryRecord.Assignee(1)", 305),
        assigneeSlot<19>("DayEntryRecord.Assignee(19)", 503),
        field<A, &A::Flags, &A::setFlags, qint32>("AlarmRecord.Flags", 0, 4),
        field<A, &A::AlarmTime, &A::setAlarmTime, QString>("AlarmRecord.AlarmTime", 4, 11),
        field<A, &A::DayEntryKey, &A::setDayEntryKey, QString>("AlarmRecord.DayEntryKey", 15, 11),
        field<A, &A::UserKey, &A::setUserKey, QString>("AlarmRecord.UserKey", 26, 11),
        field<A, &A::UserAlarmKey, &A::setUserAlarmKey, QString>("AlarmRecord.UserAlarmKey", 37, 21),
    };
    return fields;
}

const Field& fieldNamed(const QString& name)
{
    const auto& fields = layout();
    const auto it = std::find_if(fields.cbegin(), fields.cend(),
                                 [&](const Field& f) { return f.name == name; });
    Q_ASSERT(it != fields.cend());
    return *it;
}

QByteArray filled(const Field& f)
{
    return QByteArray(f.recordSize, Fill);
}

// The bytes of the field alone.
QByteArray fieldBytes(const Field& f, const QByteArray& bytes)
{
    return bytes.mid(f.offset, f.width);
}

// The record's bytes with the field's bytes blanked out, to compare what lies
// around the field.
QByteArray outside(const Field& f, QByteArray bytes)
{
    return bytes.replace(f.offset, f.width, QByteArray(f.width, '\0'));
}

QByteArray padded(const QByteArray& bytes, int width)
{
    return bytes + QByteArray(width - bytes.size(), '\0');
}

// The 10-digit key texts a small number of users would have.
QStringList userKeys(int count, int first = 1)
{
    QStringList keys;
    for (int i = 0; i < count; ++i)
        keys.append(RecordKey::format(first + i));
    return keys;
}

} // namespace

class tst_Records : public QObject
{
    Q_OBJECT

private slots:
    void fieldLayout_data();
    void fieldLayout();
    void formatDescribesLayout_data();
    void formatDescribesLayout();
    void integersLittleEndian_data();
    void integersLittleEndian();
    void textCut_data();
    void textCut();
    void textRead_data();
    void textRead();
    void newDayEntry();
    void assignees_data();
    void assignees();
    void assigneeKeysSkipEmptySlots();
    void userAlarmKey();
    void rereadRecordGivesSameBytes_data();
    void rereadRecordGivesSameBytes();
};

void tst_Records::fieldLayout_data()
{
    QTest::addColumn<QString>("name");
    for (const Field& f : layout())
        QTest::newRow(qPrintable(f.name)) << f.name;
}

// A value written through the setter lands exactly on the field's bytes, and
// bytes placed there are what the getter reads.
void tst_Records::fieldLayout()
{
    QFETCH(QString, name);
    const Field& f = fieldNamed(name);
    const QByteArray before = filled(f);

    QVariant value;
    QByteArray expected;
    if (f.width == 4) {
        value = QVariant::fromValue(qint32(0x44332211));
        expected = QByteArray("\x11\x22\x33\x44", 4);
    } else if (f.width == 2) {
        value = QVariant::fromValue(qint16(0x2211));
        expected = QByteArray("\x11\x22", 2);
    } else {
        QString text;
        for (int i = 0; i < f.width - 1; ++i)
            text.append(QChar(u'a' + i % 26));
        value = text;
        expected = padded(text.toLatin1(), f.width);
    }

    const QByteArray after = f.write(before, value);
    QCOMPARE(fieldBytes(f, after), expected);
    QCOMPARE(outside(f, after), outside(f, before));

    QByteArray raw = before;
    raw.replace(f.offset, f.width, expected);
    QCOMPARE(f.read(raw), value);
}

void tst_Records::formatDescribesLayout_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("size");

    QTest::newRow("UserRecord") << "UserRecord" << QString(UserRecord::Format) << int(UserRecord::Size);
    QTest::newRow("CategoryRecord") << "CategoryRecord" << QString(CategoryRecord::Format)
                                    << int(CategoryRecord::Size);
    QTest::newRow("DayEntryRecord") << "DayEntryRecord" << QString(DayEntryRecord::Format)
                                    << int(DayEntryRecord::Size);
    QTest::newRow("AlarmRecord") << "AlarmRecord" << QString(AlarmRecord::Format) << int(AlarmRecord::Size);
}

// The format string the dataset is created with describes the same fields, at
// the same places, as the record's accessors use, and adds up to its size.
void tst_Records::formatDescribesLayout()
{
    QFETCH(QString, record);
    QFETCH(QString, format);
    QFETCH(int, size);

    QList<QPair<int, int>> described; // (offset, width) of every field
    int offset = 0;
    for (QString part : format.split(u',')) {
        int repeat = 1;
        if (part.startsWith(u'X'))
            part.remove(0, 1);
        if (part.startsWith(u'R')) {
            const qsizetype digits = part.indexOf(u'$');
            repeat = part.mid(1, digits - 1).toInt();
            part.remove(0, digits);
        }
        int width = 0;
        if (part == u"&")
            width = 4;
        else if (part == u"%")
            width = 2;
        else if (part.startsWith(u"$*"))
            width = part.mid(2).toInt();
        QVERIFY2(width > 0 && repeat > 0, qPrintable(part));
        for (int i = 0; i < repeat; ++i, offset += width)
            described.append({offset, width});
    }
    QCOMPARE(offset, size);

    for (const Field& f : layout()) {
        if (f.name.startsWith(record + u'.'))
            QVERIFY2(described.contains(QPair<int, int>(f.offset, f.width)), qPrintable(f.name));
    }
}

void tst_Records::integersLittleEndian_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("bytes");

    const QString int32 = QStringLiteral("UserRecord.Rights");
    const QString int32Inner = QStringLiteral("AlarmRecord.Flags");
    const QString int16 = QStringLiteral("DayEntryRecord.Tag");
    QTest::newRow("int32 byte order") << int32Inner << 0x12345678 << QByteArray("\x78\x56\x34\x12", 4);
    QTest::newRow("int32 high byte only") << int32 << 0x01000000 << QByteArray("\0\0\0\x01", 4);
    QTest::newRow("int32 -1") << int32 << -1 << QByteArray("\xff\xff\xff\xff", 4);
    QTest::newRow("int32 -2") << int32Inner << -2 << QByteArray("\xfe\xff\xff\xff", 4);
    QTest::newRow("int32 min") << int32 << std::numeric_limits<qint32>::min() << QByteArray("\0\0\0\x80", 4);
    QTest::newRow("int32 max") << int32 << std::numeric_limits<qint32>::max() << QByteArray("\xff\xff\xff\x7f", 4);
    QTest::newRow("int16 byte order") << int16 << 0x1234 << QByteArray("\x34\x12", 2);
    QTest::newRow("int16 -1") << int16 << -1 << QByteArray("\xff\xff", 2);
    QTest::newRow("int16 min") << int16 << -32768 << QByteArray("\0\x80", 2);
    QTest::newRow("int16 max") << int16 << 32767 << QByteArray("\xff\x7f", 2);
}

void tst_Records::integersLittleEndian()
{
    QFETCH(QString, name);
    QFETCH(int, value);
    QFETCH(QByteArray, bytes);
    const Field& f = fieldNamed(name);

    const QByteArray before = filled(f);
    const QByteArray after = f.write(before, value);
    QCOMPARE(fieldBytes(f, after), bytes);
    QCOMPARE(outside(f, after), outside(f, before));

    QByteArray raw = before;
    raw.replace(f.offset, f.width, bytes);
    QCOMPARE(f.read(raw).toInt(), value);
}

void tst_Records::textCut_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("previous");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");

    const QString userName = QStringLiteral("UserRecord.UserName"); // 10 bytes of text
    const QString e = QStringLiteral("é");                          // 2 bytes of UTF-8
    const QString euro = QStringLiteral("€");                       // 3 bytes
    const QString emoji = QStringLiteral("\U0001F600");             // 4 bytes, a surrogate pair

    QTest::newRow("one byte too long") << userName << QString() << "ABCDEFGHIJK" << "ABCDEFGHIJ";
    QTest::newRow("shorter text over longer") << userName << "ABCDEFGHIJ" << "AB" << "AB";
    QTest::newRow("é ends exactly at the limit") << userName << QString() << "ABCDEFGH" + e << "ABCDEFGH" + e;
    QTest::newRow("é across the limit") << userName << QString() << "ABCDEFGHI" + e << "ABCDEFGHI";
    QTest::newRow("€ one byte over") << userName << QString() << "ABCDEFGH" + euro << "ABCDEFGH";
    QTest::newRow("€ two bytes over") << userName << QString() << "ABCDEFGHI" + euro << "ABCDEFGHI";
    QTest::newRow("emoji ends exactly at the limit") << userName << QString() << "ABCDEF" + emoji
                                                     << "ABCDEF" + emoji;
    QTest::newRow("emoji across the limit") << userName << QString() << "ABCDEFG" + emoji << "ABCDEFG";
    QTest::newRow("only two-byte characters") << userName << QString() << e.repeated(8) << e.repeated(5);
    QTest::newRow("full name of 30 characters: 4 to 33, NUL at 34")
        << "UserRecord.FullName" << QString() << QString(30, u'N') << QString(30, u'N');
    QTest::newRow("full name of 31 characters")
        << "UserRecord.FullName" << QString() << QString(31, u'N') << QString(30, u'N');
    QTest::newRow("description of 300 €") << "DayEntryRecord.Description" << QString() << euro.repeated(300)
                                          << euro.repeated(84);
    QTest::newRow("category filling the whole record")
        << "CategoryRecord.Description" << QString() << QString(40, u'c') << QString(30, u'c');
    QTest::newRow("last field of the record")
        << "AlarmRecord.UserAlarmKey" << QString() << QString(20, u'7') + emoji << QString(20, u'7');
}

// An over-long text is cut to whole characters with room for the NUL; the rest
// of the field is zero and nothing outside the field changes.
void tst_Records::textCut()
{
    QFETCH(QString, name);
    QFETCH(QString, previous);
    QFETCH(QString, text);
    QFETCH(QString, stored);
    const Field& f = fieldNamed(name);

    const QByteArray before = f.write(filled(f), previous);
    const QByteArray after = f.write(before, text);
    QCOMPARE(fieldBytes(f, after), padded(stored.toUtf8(), f.width));
    QCOMPARE(outside(f, after), outside(f, before));
    QCOMPARE(f.read(after).toString(), stored);
}

void tst_Records::textRead_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("text");

    const QString userName = QStringLiteral("UserRecord.UserName");
    const QChar replacement(QChar::ReplacementCharacter);
    QTest::newRow("no NUL: all of the width") << userName << QByteArray(11, 'x') << QString(11, u'x');
    QTest::newRow("stops at the first NUL") << userName << QByteArray("AB\0CD", 5) << "AB";
    QTest::newRow("UTF-8 decoded") << userName << QByteArray("Ren\xc3\xa9\0", 6) << QStringLiteral("René");
    QTest::newRow("invalid UTF-8") << userName << QByteArray("A\xff\0", 3) << QString(u'A') + replacement;
    QTest::newRow("character cut by the field's end")
        << userName << QByteArray(10, 'x') + "\xc3" << QString(10, u'x') + replacement;
    QTest::newRow("last field of the record, no NUL")
        << "AlarmRecord.UserAlarmKey" << QByteArray(21, '7') << QString(21, u'7');
}

void tst_Records::textRead()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, raw);
    QFETCH(QString, text);
    const Field& f = fieldNamed(name);

    QByteArray bytes = filled(f);
    bytes.replace(f.offset, raw.size(), raw);
    QCOMPARE(f.read(bytes).toString(), text);
}

void tst_Records::newDayEntry()
{
    DayEntryRecord entry;
    std::fill(entry.bytes().begin(), entry.bytes().end(), Fill);
    entry.initialise();

    QByteArray expected(int(DayEntryRecord::Size), '\0');
    expected[4] = '\x01';
    expected.replace(28, 10, "0000000000");
    for (int slot = 0; slot < 20; ++slot)
        expected.replace(294 + 11 * slot, 10, "0000000000");
    QCOMPARE(toBytes(entry), expected);

    QCOMPARE(entry.Tag(), qint16(1));
    QCOMPARE(entry.CategoryKey(), QString(RecordKey::None));
    QVERIFY(entry.AssigneeKeys().isEmpty());

    // A private, un-timed entry on 2 January 1970.
    entry.setFlags(DayEntryRecord::UnTimed | DayEntryRecord::Private);
    entry.setStartTime(QStringLiteral("0000086400"));
    QCOMPARE(toBytes(entry).left(17), QByteArray("\x03\0\0\0\x01\0" "0000086400\0", 17));
}

void tst_Records::assignees_data()
{
    QTest::addColumn<QStringList>("previous");
    QTest::addColumn<QStringList>("keys");

    QTest::newRow("none") << QStringList() << QStringList();
    QTest::newRow("one") << QStringList() << userKeys(1, 7);
    QTest::newRow("twenty") << QStringList() << userKeys(20);
    QTest::newRow("two after twenty") << userKeys(20, 100) << userKeys(2);
    QTest::newRow("none after three") << userKeys(3) << QStringList();
}

// The keys fill the first slots in order; every later slot, including those a
// previous list had filled, holds "0000000000".
void tst_Records::assignees()
{
    QFETCH(QStringList, previous);
    QFETCH(QStringList, keys);

    DayEntryRecord entry;
    entry.initialise();
    entry.setAssigneeKeys(previous);
    entry.setAssigneeKeys(keys);

    QCOMPARE(entry.AssigneeKeys(), keys);
    const QByteArray bytes = toBytes(entry);
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
        const QString key = slot < keys.size() ? keys.at(slot) : QString(RecordKey::None);
        QCOMPARE(entry.Assignee(slot), key);
        QCOMPARE(bytes.mid(294 + 11 * slot, 11), key.toLatin1() + '\0');
    }
}

void tst_Records::assigneeKeysSkipEmptySlots()
{
    DayEntryRecord entry;
    entry.initialise();
    entry.setAssignee(0, QString());
    entry.setAssignee(2, QStringLiteral("0000000005"));
    entry.setAssignee(19, QStringLiteral("0000000009"));
    QCOMPARE(entry.AssigneeKeys(), QStringList({"0000000005", "0000000009"}));
}

// UserAlarmKey is the user's key directly followed by the alarm time; changing
// the time leaves it alone until it is rebuilt, as a snooze does.
void tst_Records::userAlarmKey()
{
    AlarmRecord alarm;
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setUserKey(QStringLiteral("0000000007"));
    alarm.setDayEntryKey(QStringLiteral("0000000003"));
    alarm.setAlarmTime(QStringLiteral("0000086400"));
    alarm.rebuildUserAlarmKey();
    QCOMPARE(alarm.UserAlarmKey(), QStringLiteral("00000000070000086400"));
    QCOMPARE(toBytes(alarm).mid(37, 21), QByteArray("00000000070000086400\0", 21));

    alarm.setAlarmTime(QStringLiteral("0000087000"));
    QCOMPARE(alarm.UserAlarmKey(), QStringLiteral("00000000070000086400"));
    alarm.rebuildUserAlarmKey();
    QCOMPARE(alarm.UserAlarmKey(), QStringLiteral("00000000070000087000"));
    QCOMPARE(alarm.UserKey(), QStringLiteral("0000000007"));
    QCOMPARE(alarm.DayEntryKey(), QStringLiteral("0000000003"));
}

void tst_Records::rereadRecordGivesSameBytes_data()
{
    QTest::addColumn<QString>("record");
    for (const char* record : {"UserRecord", "CategoryRecord", "DayEntryRecord", "AlarmRecord"})
        QTest::newRow(record) << QString::fromLatin1(record);
}

// Another workstation that reads every field of a record and writes the values
// into a new, zeroed buffer stores the same bytes, multi-byte texts included.
void tst_Records::rereadRecordGivesSameBytes()
{
    QFETCH(QString, record);
    QList<const Field*> fields;
    for (const Field& f : layout()) {
        if (f.name.startsWith(record + u'.'))
            fields.append(&f);
    }

    QByteArray written(fields.first()->recordSize, '\0');
    for (int i = 0; i < fields.size(); ++i) {
        const Field& f = *fields.at(i);
        const QVariant value = f.width <= 4 ? QVariant(-2 - i)
                                            : QVariant(QStringLiteral("Zoë%1 😀 ").arg(i).repeated(40));
        written = f.write(written, value);
    }
    QByteArray reread(written.size(), '\0');
    for (auto it = fields.crbegin(); it != fields.crend(); ++it)
        reread = (*it)->write(reread, (*it)->read(written));
    QCOMPARE(reread, written);
}

QUORLA_TEST_CORE_MAIN(tst_Records)
#include "tst_records.moc"
