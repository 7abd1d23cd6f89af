// The iCalendar export read back with libical's own parser and compared field
// by field with the database; UIDs across exports and databases; and the
// feed tool's file, which a reader never finds half written, and what the
// tool refuses without touching it.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TCalendarExport.h"
#include "TChangeTrail.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TScriptedServices.h"
#include "TestDatabase.h"
#include "UserRecord.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSet>

#include <libical/ical.h>

#include <memory>

namespace {

// Ann (1, administrator), Bob (2, exports), Cy "the \"Third\"" (3).
// Categories: 1 "Sales; Q1 €", 2 "Plain". (A comma in a category would make
// two: libical writes CATEGORIES as a comma-separated list.)
std::unique_ptr<TQuorlaDB> makeDatabase(const QString& name)
{
    auto db = TestDatabase::database(name, {});
    const QStringList names{QStringLiteral("Ann Åberg"), QStringLiteral("Bob"), QStringLiteral("Cy \"the Third\"")};
    for (int i = 0; i < names.size(); ++i) {
        UserRecord u;
        u.setUserName(QStringLiteral("U%1").arg(i + 1));
        u.setFullName(names[i]);
        u.setRights(i == 0 ? UserRecord::CanAdminister : 0);
        db->Users().Insert(u.bytes());
    }
    for (const QString& text : {QStringLiteral("Sales; Q1 €"), QStringLiteral("Plain")}) {
        CategoryRecord c;
        c.setDescription(text);
        db->Categories().Insert(c.bytes());
    }
    return db;
}

// One entry: "yyyy-MM-dd hh:mm", description, flags, category, owner,
// assignees, and Bob's alarm that many seconds after the start (none: 0).
QString addEntry(TQuorlaDB& db, const QString& when, const QString& description, int flags, int category, int owner,
                 const QList<int>& assignees, int alarmAfter)
{
    DayEntryRecord e;
    db.InitDayEntryRecord(e);
    // The tests run in UTC: local seconds are epoch seconds.
    const qint64 start = QDateTime::fromString(when, QStringLiteral("yyyy-MM-dd hh:mm")).toSecsSinceEpoch();
    e.setStartTime(RecordKey::format(start));
    e.setDescription(description);
    e.setFlags(flags);
    e.setCategoryKey(RecordKey::format(category));
    e.setOwnerKey(RecordKey::format(owner));
    QStringList keys;
    for (int a : assignees)
        keys << RecordKey::format(a);
    e.setAssigneeKeys(keys);
    AlarmRecord alarm;
    alarm.setFlags(alarmAfter != 0 ? AlarmRecord::AlarmWanted : 0);
    alarm.setAlarmTime(RecordKey::format(start + alarmAfter));
    const QString key = TEventWriter(db).insertEntryWithAlarms(e, alarm);
    return key;
}

TCalendarExport asBob(TQuorlaDB& db)
{
    TCalendarExport calendar;
    calendar.StartDate = QDate(2027, 3, 1);
    calendar.EndDate = QDate(2027, 3, 31);
    calendar.CurrentUserKey = RecordKey::format(2);
    db.Users().GetEqual(calendar.CurrentUser.bytes(), 0, calendar.CurrentUserKey);
    return calendar;
}

// Each event of a calendar as one line of its fields, by UID.
QHash<QString, QString> events(const QByteArray& text)
{
    QHash<QString, QString> found;
    icalcomponent* calendar = icalparser_parse_string(text.constData());
    if (!calendar)
        return found;
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
         e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        QStringList f;
        const icaltimetype start = icalcomponent_get_dtstart(e);
        f << QString::fromUtf8(icaltime_as_ical_string(start)) + (icaltime_is_utc(start) ? "" : "(local)");
        f << QString::number(icaldurationtype_as_int(icalcomponent_get_duration(e)));
        f << QString::fromUtf8(icalcomponent_get_summary(e));
        icalproperty* p = icalcomponent_get_first_property(e, ICAL_CATEGORIES_PROPERTY);
        f << (p ? QString::fromUtf8(icalproperty_get_categories(p)) : "-");
        p = icalcomponent_get_first_property(e, ICAL_CLASS_PROPERTY);
        f << (p ? QString::fromUtf8(icalproperty_enum_to_string(icalproperty_get_class(p))) : "-");
        // The names as libical decodes them (quotes travel as ^').
        const auto cn = [](icalproperty* person) {
            return QString::fromUtf8(icalparameter_get_cn(icalproperty_get_first_parameter(person, ICAL_CN_PARAMETER)));
        };
        p = icalcomponent_get_first_property(e, ICAL_ORGANIZER_PROPERTY);
        f << (p ? cn(p) : "-");
        QStringList attendees;
        for (p = icalcomponent_get_first_property(e, ICAL_ATTENDEE_PROPERTY); p;
             p = icalcomponent_get_next_property(e, ICAL_ATTENDEE_PROPERTY))
            attendees << cn(p);
        f << attendees.join('+');
        icalcomponent* alarm = icalcomponent_get_first_component(e, ICAL_VALARM_COMPONENT);
        f << (alarm ? QString::number(icaldurationtype_as_int(
                          icalproperty_get_trigger(icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY)).duration))
                    : "-");
        found.insert(QString::fromUtf8(icalcomponent_get_uid(e)), f.join(" | "));
    }
    icalcomponent_free(calendar);
    return found;
}

} // namespace

class tst_CalendarExport : public QObject
{
    Q_OBJECT

private slots:
    // What Bob (no administrator) gets, field by field: start | duration |
    // summary | categories | class | organizer | attendees | alarm.
    void fields_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("category");
        QTest::addColumn<QList<int>>("assignees");
        QTest::addColumn<int>("alarmAfter");
        QTest::addColumn<QString>("expected"); // empty: not exported
        QTest::newRow("timed, category, alarm 15 minutes before")
            << "2027-03-10 09:30" << "Budget" << 0 << 1 << QList{2, 3} << -900
            << "20270310T093000Z | 1800 | Budget | Sales; Q1 € | - | Ann Åberg | Bob+Cy \"the Third\" | -900";
        QTest::newRow("un-timed: an all-day date")
            << "2027-03-11 00:00" << "Holiday" << int(DayEntryRecord::UnTimed) << 0 << QList{3} << 0
            << "20270311(local) | 86400 | Holiday | - | - | Ann Åberg | Cy \"the Third\" | -";
        QTest::newRow("private, his: shown as private")
            << "2027-03-12 10:00" << "Doctor" << int(DayEntryRecord::Private) << 2 << QList{2} << 0
            << "20270312T100000Z | 1800 | Doctor | Plain | PRIVATE | Ann Åberg | Bob | -";
        QTest::newRow("private, not his: left out")
            << "2027-03-12 11:00" << "Secret" << int(DayEntryRecord::Private) << 0 << QList{3} << 0 << "";
        QTest::newRow("text with commas, semicolons, quotes, a new line and accents")
            << "2027-03-13 08:15" << "Lunch, \"Café\"; Straße\nsecond line" << 0 << 0 << QList<int>() << 0
            << "20270313T081500Z | 1800 | Lunch, \"Café\"; Straße\nsecond line | - | - | Ann Åberg |  | -";
        QTest::newRow("23:59") << "2027-03-14 23:59" << "Late" << 0 << 0 << QList{2} << 60
                               << "20270314T235900Z | 1800 | Late | - | - | Ann Åberg | Bob | 60";
        QTest::newRow("midnight, timed") << "2027-03-15 00:00" << "Early" << 0 << 0 << QList{2} << 0
                                         << "20270315T000000Z | 1800 | Early | - | - | Ann Åberg | Bob | -";
        QTest::newRow("outside the range") << "2027-04-01 00:00" << "April" << 0 << 0 << QList{2} << 0 << "";
    }
    void fields()
    {
        QFETCH(QString, when);
        QFETCH(QString, description);
        QFETCH(int, flags);
        QFETCH(int, category);
        QFETCH(QList<int>, assignees);
        QFETCH(int, alarmAfter);
        QFETCH(QString, expected);
        TScriptedServices services;
        services.setNow(QDateTime(QDate(2027, 2, 1), QTime(12, 0)));
        auto db = makeDatabase(QStringLiteral("fields"));
        const QString key = addEntry(*db, when, description, flags, category, 1, assignees, alarmAfter);
        int count = -1;
        const QHash<QString, QString> found = events(asBob(*db).Build(*db, &count));
        QCOMPARE(count, expected.isEmpty() ? 0 : 1);
        QCOMPARE(found.size(), count);
        if (!expected.isEmpty())
            QCOMPARE(found.cbegin().value(), expected);
        QVERIFY(found.isEmpty() || found.cbegin().key().startsWith(key + QLatin1Char('-')));
    }

    // An entry keeps its UID from export to export; another database's entry
    // with the same key gets another.
    void uids()
    {
        TScriptedServices services;
        auto one = makeDatabase(QStringLiteral("one"));
        addEntry(*one, QStringLiteral("2027-03-10 09:30"), QStringLiteral("A"), 0, 0, 1, {2}, 0);
        const QStringList first = events(asBob(*one).Build(*one)).keys();
        QCOMPARE(events(asBob(*one).Build(*one)).keys(), first);
        one.reset();
        auto two = makeDatabase(QStringLiteral("two"));
        addEntry(*two, QStringLiteral("2027-03-10 09:30"), QStringLiteral("A"), 0, 0, 1, {2}, 0);
        const QStringList second = events(asBob(*two).Build(*two)).keys();
        QCOMPARE(second.size(), 1);
        QVERIFY(second != first);
    }

    // LAST-MODIFIED is the entry's latest change in the trail, in UTC.
    void lastModifiedFromTrail()
    {
        TScriptedServices services;
        services.setNow(QDateTime(QDate(2027, 2, 1), QTime(8, 15)));
        auto db = makeDatabase(QStringLiteral("trail"));
        const QString key = addEntry(*db, QStringLiteral("2027-03-10 09:30"), QStringLiteral("A"), 0, 0, 1, {2}, 0);
        const auto stamp = [&] {
            TCalendarExport calendar = asBob(*db);
            calendar.LastModified = TCalendarExport::FromTrail(db->Trail());
            icalcomponent* parsed = icalparser_parse_string(calendar.Build(*db).constData());
            icalcomponent* event = icalcomponent_get_first_component(parsed, ICAL_VEVENT_COMPONENT);
            icalproperty* p = event ? icalcomponent_get_first_property(event, ICAL_LASTMODIFIED_PROPERTY) : nullptr;
            const QString text = p ? QString::fromLatin1(icaltime_as_ical_string(icalproperty_get_lastmodified(p))) : "-";
            icalcomponent_free(parsed);
            return text;
        };
        QCOMPARE(stamp(), QStringLiteral("20270201T081500Z"));
        services.setNow(QDateTime(QDate(2027, 2, 3), QTime(17, 40)));
        TEventWriter writer(*db);
        std::optional<TRecordLock> lock;
        DayEntryRecord entry;
        AlarmRecord alarm;
        bool hadAlarm = false;
        QCOMPARE(writer.openEntry(key, lock, entry, alarm, hadAlarm), TEventWriter::Result::Done);
        entry.setDescription(QStringLiteral("B"));
        QCOMPARE(writer.updateEntryWithAlarms(key, entry, alarm, QString()), TEventWriter::Result::Done);
        QCOMPARE(stamp(), QStringLiteral("20270203T174000Z"));
    }

    // What the feed tool refuses ("DB": a database, "EMPTY": an empty
    // folder): it says why, and the feed already there stays as it was, as
    // does the empty folder, where no database is made.
    void feedRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("--from after --to") << QStringList{"DB", "--from", "2027-03-10", "--to", "2027-03-01"} << 2
                                           << "the first day (--from 2027-03-10) is after the last (--to 2027-03-01)";
        QTest::newRow("empty folder") << QStringList{"EMPTY"} << 1
                                      << "EMPTY/ holds no QLUsers.Ism: it is no Quorla database";
        QTest::newRow("another scheme") << QStringList{"mysql://host/db"} << 2
                                        << "'mysql://host/db' is neither a database folder nor a postgresql:// URI";
    }
    void feedRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        TScriptedServices services;
        auto db = makeDatabase(QStringLiteral("refused"));
        const QString empty = TestEnvironment::freshFolder(QStringLiteral("empty"));
        const QString out = TestEnvironment::freshFolder(QStringLiteral("out")) + QStringLiteral("/feed.ics");
        QFile old(out);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("the good feed") > 0);
        old.close();
        const auto place = [&](QString text) {
            return text.replace(QLatin1String("EMPTY"), empty).replace(QLatin1String("DB"), db->RootPath());
        };
        QStringList all{QStringLiteral("--user"), QStringLiteral("U2"), QStringLiteral("--out"), out,
                        QStringLiteral("--database")};
        for (const QString& argument : arguments)
            all << place(argument);
        QProcess tool;
        tool.start(QStringLiteral(QUORLA_EXPORT), all);
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), status);
        const QString said = QString::fromLocal8Bit(tool.readAllStandardError());
        QVERIFY2(said.contains(place(message)), qPrintable(said));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("the good feed"));
        QCOMPARE(QDir(empty).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // The feed tool rewrites the file over and over while a reader keeps
    // reading it: every read is one whole calendar.
    void feedAlwaysWhole()
    {
        TScriptedServices services;
        auto db = makeDatabase(QStringLiteral("feed"));
        for (int day = 1; day <= 28; ++day)
            addEntry(*db, QStringLiteral("2027-03-%1 09:00").arg(day, 2, 10, QLatin1Char('0')), QString(200, u'x'), 0, 0,
                     1, {2}, 0);
        const QString out = TestEnvironment::freshFolder(QStringLiteral("out")) + QStringLiteral("/feed.ics");
        const QString script = QStringLiteral("for i in $(seq 12); do for to in 2027-03-05 2027-03-28; do "
                                              "\"%1\" --database \"%2\" --user U2 --from 2027-03-01 --to $to --out \"%3\" "
                                              "|| exit 1; done; done")
                                   .arg(QStringLiteral(QUORLA_EXPORT), db->RootPath(), out);
        QProcess writer;
        writer.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        QVERIFY(writer.waitForStarted());
        int reads = 0;
        QSet<int> sizes;
        while (writer.state() != QProcess::NotRunning || reads == 0) {
            writer.waitForFinished(5);
            QFile file(out);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = file.readAll();
            ++reads;
            sizes.insert(events(text).size());
            QVERIFY2(text.startsWith("BEGIN:VCALENDAR") && text.endsWith("END:VCALENDAR\r\n"), text.right(40).constData());
        }
        QCOMPARE(writer.exitCode(), 0);
        QVERIFY(reads > 1);
        QVERIFY((sizes - QSet<int>{5, 28}).isEmpty());
    }
};

QUORLA_TEST_CORE_MAIN(tst_CalendarExport)
#include "tst_calendarexport.moc"
