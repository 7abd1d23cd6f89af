// When people are taken, and the times "Find a time" proposes, over a table
// of weeks: ends, un-timed days, entries reaching in from the week before,
// private entries busy without their text, working hours, the day the clocks
// go forward (the zone pinned to Europe/Berlin).
// Runs on a folder, and once more (QUORLA_TEST_ENGINE=postgres) on a server.

#include "QuorlaTest.h"
#include "TBusyTimes.h"
#include "TEventWriter.h"
#include "TFindTime.h"
#include "SeriesRecord.h"
#include "TSeriesWriter.h"
#include "TServerRoles.h"
#include "TestDatabase.h"

#include <QUrl>

#include <memory>

#include <time.h>

namespace {

std::unique_ptr<PostgresCluster> server;
// The week before the clocks go forward, on Sunday 2027-03-28.
const QDateTime Monday(QDate(2027, 3, 22), QTime(0, 0));

// An entry for `assignees` on `day` (0 = Monday) at `time` ("" un-timed)
// lasting `minutes` (un-timed: days), private when `secret`.
struct TPlanned
{
    int day;
    QString time;
    int length;
    QList<int> assignees;
    bool secret = false;
    QString text = QStringLiteral("Meeting");
    // The one occurrence of a series of its own.
    bool series = false;
};

// "day hh:mm minutes text", text "-" when hidden; day counted from Monday.
QString shown(const TBusyInterval& busy)
{
    const qint64 monday = RecordKey::parse(TestDatabase::timeKey(Monday));
    const qint64 day = (busy.start - monday + 7 * 86400) / 86400 - 7;
    return QStringLiteral("%1 %2 %3 %4")
        .arg(day)
        .arg(QTime(0, 0).addSecs(int((busy.start - monday) % 86400 + 86400) % 86400).toString(u"hh:mm"))
        .arg((busy.end - busy.start) / 60)
        .arg(busy.hidden ? QStringLiteral("-") : busy.text);
}

} // namespace

Q_DECLARE_METATYPE(TPlanned)

class tst_BusyTimes : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDatabase::Office> o;
    AlarmRecord noAlarm;

    void plan(const QList<TPlanned>& entries)
    {
        for (const TPlanned& p : entries) {
            DayEntryRecord e = TestDatabase::entry(p.text, p.assignees, 1);
            const QTime at = p.time.isEmpty() ? QTime(0, 0) : QTime::fromString(p.time, u"hh:mm");
            e.setStartTime(TestDatabase::timeKey(QDateTime(Monday.date().addDays(p.day), at)));
            e.setFlags((p.time.isEmpty() ? DayEntryRecord::UnTimed : 0) | (p.secret ? DayEntryRecord::Private : 0));
            TEntryDetails d;
            (p.time.isEmpty() ? d.days : d.durationSeconds) = p.time.isEmpty() ? p.length : p.length * 60;
            if (p.series)
                planSeries(e, Monday.date().addDays(p.day), p.time.isEmpty() ? QTime() : at, d);
            else
                TEventWriter(*o->db).insertEntryWithAlarms(e, noAlarm, {}, d);
        }
    }

    void planSeries(const DayEntryRecord& e, const QDate& day, const QTime& at, const TEntryDetails& d)
    {
        SeriesRecord s;
        s.initialise();
        s.setOwnerKey(e.OwnerKey());
        s.setFlags(e.Flags());
        s.setAssigneeKeys(e.AssigneeKeys());
        TRecurrenceRule rule;
        rule.setStart(day);
        rule.setTime(at);
        rule.setCount(1);
        s.setRule(rule);
        TSeriesWriter(*o->db).Create(s, day, {}, d);
    }

    // User 3's own connection: on a server his role's, whose session reads
    // no private entry of others.
    std::unique_ptr<TQuorlaDB> asThree()
    {
        if (!server)
            return nullptr;
        TServerRoles(*o->db).Install(RecordKey::format(1));
        TServerRoles(*o->db).Create(QStringLiteral("U3"), RecordKey::format(3), QStringLiteral("pw3"), false);
        TQuorlaDB::TLogin login{{}, QStringLiteral("pw3")};
        const QString name = QUrl(o->location).path().mid(1);
        return TServerRoles::LogIn(TScriptedServices::ofTest(), TDatabaseLocation(server->personalUri(name)),
                                   QStringLiteral("U3"), login);
    }

    QStringList found(const QList<qint64>& starts)
    {
        QStringList shownStarts;
        for (const qint64 start : starts) {
            TBusyInterval at;
            at.start = at.end = start;
            shownStarts << shown(at).section(QLatin1Char(' '), 0, 1);
        }
        return shownStarts;
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
        QUORLA_TEST_SERVER(server);
    }
    void cleanupTestCase() { server.reset(); }
    void init() { o = std::make_unique<TestDatabase::Office>(QStringLiteral("busy"), server.get(), 3); }
    void cleanup() { o.reset(); }

    // User 2's week as user 3 (no administrator) sees it.
    void week_data()
    {
        QTest::addColumn<QList<TPlanned>>("entries");
        QTest::addColumn<QStringList>("busy");
        QTest::addRow("an end") << QList<TPlanned>{{1, "09:00", 90, {2}}} << QStringList{"1 09:00 90 Meeting"};
        QTest::addRow("no end is half an hour") << QList<TPlanned>{{1, "09:00", 0, {1, 2}}}
                                                << QStringList{"1 09:00 30 Meeting"};
        QTest::addRow("no end late on Sunday stays on Sunday") << QList<TPlanned>{{-1, "23:45", 0, {2}}}
                                                               << QStringList{};
        QTest::addRow("un-timed, two days") << QList<TPlanned>{{3, "", 2, {2}}} << QStringList{"3 00:00 2880 Meeting"};
        QTest::addRow("reaching in from Sunday") << QList<TPlanned>{{-1, "22:00", 600, {2}}}
                                                 << QStringList{"-1 22:00 600 Meeting"};
        QTest::addRow("ending as the week starts") << QList<TPlanned>{{-1, "22:00", 120, {2}}} << QStringList{};
        QTest::addRow("three days reaching in") << QList<TPlanned>{{-2, "", 3, {2}}}
                                                << QStringList{"-2 00:00 4320 Meeting"};
        QTest::addRow("the owner is not taken") << QList<TPlanned>{{1, "09:00", 60, {1}}} << QStringList{};
        QTest::addRow("another's private") << QList<TPlanned>{{2, "10:00", 60, {2}, true}}
                                           << QStringList{"2 10:00 60 -"};
        QTest::addRow("another's private series, ten days reaching in")
            << QList<TPlanned>{{-9, "", 10, {2}, true, "Leave", true}} << QStringList{"-9 00:00 14400 -"};
        QTest::addRow("a private one shared with the asker")
            << QList<TPlanned>{{2, "10:00", 60, {2, 3}, true}} << QStringList{"2 10:00 60 Meeting"};
        QTest::addRow("in start order")
            << QList<TPlanned>{{4, "14:00", 60, {2}}, {0, "", 1, {2}}, {4, "08:00", 0, {2}}, {7, "08:00", 0, {2}}}
            << QStringList{"0 00:00 1440 Meeting", "4 08:00 30 Meeting", "4 14:00 60 Meeting"};
    }
    void week()
    {
        QFETCH(QList<TPlanned>, entries);
        QFETCH(QStringList, busy);
        plan(entries);
        UserRecord asker;
        const qint64 from = RecordKey::parse(TestDatabase::timeKey(Monday));
        const std::unique_ptr<TQuorlaDB> own = asThree();
        const auto found = TBusyTimes(own ? *own : *o->db, asker, RecordKey::format(3))
                               .People({RecordKey::format(2)}, from, from + 7 * 86400);
        QStringList got;
        for (const TBusyInterval& one : found.value(RecordKey::format(2)))
            got << shown(one);
        QCOMPARE(got, busy);
    }

    // The first three hours users 1 and 2 are both free for, in two weeks
    // from Monday, as user 3 finds them.
    void findTime_data()
    {
        QTest::addColumn<QList<TPlanned>>("entries");
        QTest::addColumn<QString>("hours");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QStringList>("starts");
        const QString office = QStringLiteral("08:00-18:00 12345");
        QTest::addRow("a free week") << QList<TPlanned>{} << office << 60 << QStringList{"0 08:00", "0 09:00", "0 10:00"};
        QTest::addRow("around a meeting") << QList<TPlanned>{{0, "08:30", 60, {1}}} << office << 60
                                          << QStringList{"0 09:30", "0 10:30", "0 11:30"};
        QTest::addRow("another's private entry") << QList<TPlanned>{{0, "08:00", 240, {2}, true}} << office << 60
                                                 << QStringList{"0 12:00", "0 13:00", "0 14:00"};
        QTest::addRow("a gap that just fits")
            << QList<TPlanned>{{0, "08:00", 60, {1}}, {0, "10:00", 480, {2}}} << office << 60
            << QStringList{"0 09:00", "1 08:00", "1 09:00"};
        QTest::addRow("onto the quarter hour") << QList<TPlanned>{{0, "08:00", 70, {1}}} << office << 60
                                               << QStringList{"0 09:15", "0 10:15", "0 11:15"};
        QTest::addRow("not past closing") << QList<TPlanned>{{0, "08:00", 570, {1}}, {1, "08:00", 0, {2}}} << office
                                          << 60 << QStringList{"1 08:30", "1 09:30", "1 10:30"};
        QTest::addRow("from Sunday night") << QList<TPlanned>{{-1, "22:00", 660, {2}}} << office << 60
                                           << QStringList{"0 09:00", "0 10:00", "0 11:00"};
        QTest::addRow("past the weekend") << QList<TPlanned>{{0, "", 5, {1}}} << office << 60
                                          << QStringList{"7 08:00", "7 09:00", "7 10:00"};
        QTest::addRow("weekend hours, the clocks going forward")
            << QList<TPlanned>{{5, "07:00", 60, {1}}} << QStringLiteral("07:00-09:00 67") << 60
            << QStringList{"5 08:00", "6 07:00", "6 08:00"};
        QTest::addRow("longer than a working day") << QList<TPlanned>{} << office << 660 << QStringList{};
    }
    void findTime()
    {
        QFETCH(QList<TPlanned>, entries);
        QFETCH(QString, hours);
        QFETCH(int, minutes);
        QFETCH(QStringList, starts);
        plan(entries);
        TWorkingHours::Store(*o->db, *TWorkingHours::fromText(hours));
        UserRecord asker;
        TBusyTimes times(*o->db, asker, RecordKey::format(3));
        const qint64 from = RecordKey::parse(TestDatabase::timeKey(Monday));
        QCOMPARE(found(TFindTime::Search(times, {RecordKey::format(1), RecordKey::format(2)}, {},
                                         TWorkingHours::Of(*o->db), minutes * 60, from, from + 14 * 86400, 3)),
                 starts);
    }
};

QUORLA_TEST_CORE_MAIN(tst_BusyTimes)
#include "tst_busytimes.moc"
