// Repeating events on folders and (with QUORLA_TEST_ENGINE=postgres) on a
// database server: a series' occurrences are ordinary entries with one alarm
// per assignee, exactly one per day of its rule up to the horizon; changes
// and deletions all / this and following / this one; an occurrence open
// elsewhere left and named, or the change refused whole; a writer killed at
// any write leaves what the next one finishes or rolls back; two processes
// extending the horizon at once make every occurrence once.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "TCategoryWriter.h"
#include "TChangeTrail.h"
#include "TEventWriter.h"
#include "TUserRemoval.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TLookup.h"
#include "TDatabaseLocation.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TServerRoles.h"
#include "TScriptedServices.h"
#include "TSeriesWriter.h"
#include "TStamp.h"
#include "TestChild.h"
#include "TestDatabase.h"
#include "UserRecord.h"

#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <memory>

namespace {

using Scope = TSeriesWriter::Scope;
using Held = TSeriesWriter::HeldOccurrences;
using Result = TSeriesWriter::Result;

std::unique_ptr<PostgresCluster> server;
const QDate Today(2027, 1, 4);

QString key(int n) { return RecordKey::format(n); }

// A weekly series on Monday and Thursday at 09:00 from Today (or daily), `count`
// times (0: endless), for the first `assignees` users, alarm 15 minutes before.
SeriesRecord meeting(int assignees, bool daily = false, int count = 0)
{
    SeriesRecord s;
    s.initialise();
    s.setOwnerKey(key(1));
    s.setDescription(QStringLiteral("Team meeting"));
    QStringList users;
    for (int i = 1; i <= assignees; ++i)
        users << key(i);
    s.setAssigneeKeys(users);
    s.setFlags(SeriesRecord::AlarmWanted);
    s.setAlarmOffset(15 * 60);
    TRecurrenceRule rule;
    rule.setFrequency(daily ? TRecurrenceRule::Frequency::Daily : TRecurrenceRule::Frequency::Weekly);
    rule.setStart(Today);
    rule.setTime(QTime(9, 0));
    if (count)
        rule.setCount(count);
    rule.setWeekdays(daily ? 0 : TRecurrenceRule::weekdayBit(1) | TRecurrenceRule::weekdayBit(4));
    s.setRule(rule);
    return s;
}

QDate dayOf(const QString& key)
{
    TStamp s;
    s.SetSeconds(qint32(RecordKey::parse(key)));
    return QDate(s.Year(), s.Month(), s.Day());
}

// The office of a case: 20 users, "User 1" acting.
struct Office : TestDatabase::Office
{
    Office() : TestDatabase::Office(QStringLiteral("series"), server.get(), 20) {}
};

// What a series holds, checked against its rule: every link made (none
// pending), one per day, every day of the rule up to what is made present
// unless deleted, every occurrence's entry there with the template's start
// and one alarm per assignee (exceptions: entry there). Answers the counts
// of occurrences and of their alarms; also checks that no alarm anywhere
// points at a missing entry.
struct Tally
{
    int occurrences = 0;
    int alarms = 0;
    int exceptions = 0;
};

Tally check(TQuorlaDB& db, const QString& seriesKey)
{
    Tally t;
    TSeriesWriter writer(db);
    SeriesRecord series;
    if (!writer.ReadSeries(seriesKey, series)) {
        if (!writer.Links(seriesKey).isEmpty())
            qWarning("links of a deleted series");
        return t;
    }
    const TRecurrenceRule rule = series.Rule();
    QSet<QDate> seen;
    for (const auto& [linkKey, link] : writer.Links(seriesKey)) {
        const QDate day = dayOf(link.DayKey());
        if (link.Flags() & SeriesLinkRecord::Pending)
            qWarning("pending link %s", qPrintable(linkKey));
        if (seen.contains(day))
            qWarning("two occurrences on %s", qPrintable(day.toString()));
        seen.insert(day);
        if (link.Flags() & SeriesLinkRecord::Deleted)
            continue;
        DayEntryRecord entry;
        if (!TLookup::Equal(db.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, link.EntryKey())) {
            qWarning("occurrence %s without its entry", qPrintable(day.toString()));
            continue;
        }
        ++t.occurrences;
        const int alarms = int(TestDatabase::alarms(db, link.EntryKey()).size());
        t.alarms += alarms;
        if (link.Flags() & SeriesLinkRecord::Exception) {
            ++t.exceptions;
            continue;
        }
        if (entry.StartTime() != TestDatabase::timeKey(QDateTime(day, rule.Time()))
            || entry.Description() != series.Description() || alarms != int(series.AssigneeKeys().size())
            || !rule.Fits(day))
            qWarning("occurrence %s unlike its series", qPrintable(day.toString()));
    }
    const QString made = series.MadeUntil();
    const QDate until = made == QLatin1String("9999999999") ? QDate(2037, 12, 31) : dayOf(made);
    for (const QDate& day : rule.Days(rule.Start(), until))
        if (!seen.contains(day))
            qWarning("occurrence %s missing", qPrintable(day.toString()));
    // No alarm of a removed entry anywhere.
    DayEntryRecord entry;
    for (const auto& [k, alarm] : TestDatabase::alarms(db))
        if (!TLookup::Equal(db.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, alarm.DayEntryKey()))
            qWarning("alarm of a removed entry %s", qPrintable(alarm.DayEntryKey()));
    return t;
}

int entryCount(TQuorlaDB& db) { return db.DayEntries().RecordCount(); }

// On a server: with a trail that refuses every record, `command` fails,
// saying so, and every record of every dataset stays as it was.
template <typename Command>
void refusedWhole(Office& o, const Command& command)
{
    const QString database = TestDatabase::serverDatabase(o.location);
    const QByteArray everything = "SELECT md5(string_agg(d::text || query_to_xml('SELECT * FROM ' || d.name"
                                  " || ' ORDER BY pk', false, false, '')::text, '' ORDER BY d.name)) FROM quorla_datasets d";
    server->query(database, "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS"
                            " $$BEGIN RAISE EXCEPTION 'no trail today'; END$$;"
                            " CREATE TRIGGER refuse BEFORE INSERT ON qltrail EXECUTE FUNCTION refuse()");
    const QString before = server->query(database, everything);
    QVERIFY2(server->error().isEmpty(), qPrintable(server->error()));
    const QString said = thrown(command);
    QVERIFY2(said.startsWith(QLatin1String("The change was not saved")) && said.contains(QLatin1String("no trail today")),
             qPrintable(said));
    QCOMPARE(server->query(database, everything), before);
    server->query(database, "DROP TRIGGER refuse ON qltrail");
}

} // namespace

class TestSeriesWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QUORLA_TEST_SERVER(server);
    }
    // check()'s findings are warnings: each fails the case it comes from
    // (asked for in every case: the request lasts one test function).
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("."))); }
    void cleanupTestCase() { server.reset(); }

    // A series made, changed and deleted, checked against the rule
    // afterwards (every occurrence with one alarm per assignee), with one
    // trail record per command. On a server a trail that refuses the record
    // refuses the command whole.
    void changes_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("occurrences");  // of the series the outcome names
        QTest::addColumn<int>("entries");      // in the database
        QTest::addColumn<int>("touched");
        QTest::addColumn<QString>("record");   // the latest in the trail
        const QString changed = QStringLiteral("Repeating event changed: ");
        // The people a series is for are named beside its description.
        const QString at = QStringLiteral("“Team meeting” for U1,U2,U3, Every Monday and Thursday at 10:30; ");
        // Monday and Thursday from 4 January 2027 up to 4 January 2028.
        QTest::newRow("made up to the horizon") << "none" << 105 << 105 << 105
            << "Repeating event added: “Team meeting” for U1,U2,U3, Every Monday and Thursday at 09:00; 105 occurrences made";
        QTest::newRow("all: a new time") << "time all" << 105 << 105 << 105 << changed + "all: " + at + "105 occurrences touched";
        QTest::newRow("all: Mondays only") << "mondays all" << 53 << 53 << 105
            << changed + "all: “Team meeting” for U1,U2,U3, Every Monday at 09:00; 105 occurrences touched";
        QTest::newRow("this and following from the 11th occurrence: a new time") << "time following" << 95 << 105 << 95
            << changed + "this and following from 2027-02-08, split from 0000000001: " + at + "95 occurrences touched";
        QTest::newRow("this one changed alone") << "change one" << 105 << 105 << 1
            << "Event changed: description “Meeting with the auditors”";
        QTest::newRow("this one: deleted, never made again") << "delete one" << 104 << 104 << 1
            << changed + "this one on 2027-02-08: 1 occurrences deleted";
        QTest::newRow("one deleted as a plain entry, then all: a new time") << "plain time all" << 104 << 104 << 104
            << changed + "all: " + at + "104 occurrences touched";
        QTest::newRow("one changed alone, then all: a new time, the exception left") << "alone time all" << 105 << 105 << 104
            << changed + "all: " + at + "104 occurrences touched";
        QTest::newRow("this and following deleted") << "delete following" << 10 << 10 << 95
            << changed + "this and following from 2027-02-08: “Team meeting” for U1,U2,U3; 95 occurrences deleted";
        // The occurrence was picked before a change elsewhere ended the
        // rule sooner: the rule is never lengthened again.
        QTest::newRow("this and following deleted from past the rule's end") << "shortened delete following" << 9 << 9
            << 0 << changed + "this and following from 2027-02-08: “Team meeting” for U1,U2,U3; 0 occurrences deleted";
        QTest::newRow("all deleted") << "delete all" << 0 << 0 << 105
            << "Repeating event deleted: all: “Team meeting” for U1,U2,U3; 105 occurrences deleted";
        // Opened from the later part: the earlier one goes along.
        QTest::newRow("split, every part: a new time") << "split time parts" << 95 << 105 << 105
            << changed + "all: " + at.chopped(2) + " until 7 February 2027; 10 occurrences touched";
        QTest::newRow("split, every part deleted") << "split delete parts" << 0 << 0 << 105
            << "Repeating event deleted: all: “Team meeting” for U1,U2,U3; 10 occurrences deleted";
        // A split taken for one not yet done (as a workstation that knows no
        // SplitDone takes it) finds nothing more to take over.
        QTest::newRow("split, settled again") << "split undone all" << 95 << 105 << 95
            << changed + "all: “Team meeting” for U1,U2,U3, Every Monday and Thursday at 09:00; 95 occurrences touched";
    }
    void changes()
    {
        QFETCH(QString, what);
        Office o;
        TSeriesWriter writer(*o.db);
        SeriesRecord s = meeting(3);
        if (what != QLatin1String("none"))
            writer.Create(s, Today);
        const QDate eleventh = Today.addDays(35);
        SeriesRecord changed = s;
        TRecurrenceRule rule = s.Rule();
        if (what.contains(QLatin1String("time")))
            rule.setTime(QTime(10, 30));
        else if (what.startsWith(QLatin1String("mondays")))
            rule.setWeekdays(TRecurrenceRule::weekdayBit(1));
        changed.setRule(rule);
        const QString eleventhKey = what == QLatin1String("none") ? QString() : writer.Links(key(1))[10].second.EntryKey();
        if (what.startsWith(QLatin1String("shortened"))) {
            SeriesRecord nine = s;
            TRecurrenceRule r = s.Rule();
            r.setCount(9);
            nine.setRule(r);
            QCOMPARE(writer.Change(key(1), Scope::All, Today, nine, Today, Held::Refuse).result, Result::Done);
            what = what.mid(10);
        }
        std::optional<TRecordLock> lock;
        DayEntryRecord entry;
        AlarmRecord alarm;
        const bool alone = what.startsWith(QLatin1String("alone")) || what == QLatin1String("change one");
        if (what.startsWith(QLatin1String("plain"))) {
            QCOMPARE(TEventWriter(*o.db).deleteEntryWithAlarms(eleventhKey), TEventWriter::Result::Done);
            what = what.mid(6);
        } else if (alone) {
            bool hadAlarm = false;
            QCOMPARE(TEventWriter(*o.db).openEntry(eleventhKey, lock, entry, alarm, hadAlarm), TEventWriter::Result::Done);
            entry.setDescription(QStringLiteral("Meeting with the auditors"));
        }
        const auto changeOne = [&] { return writer.ChangeOne(eleventhKey, entry, alarm, alarm.AlarmTime()); };
        QString opened = key(1);
        if (what.startsWith(QLatin1String("split"))) {
            opened = writer.Change(opened, Scope::ThisAndFollowing, eleventh, s, Today, Held::Refuse).seriesKey;
            rule.setStart(eleventh);
            changed.setRule(rule);
            what = what.mid(6);
        }
        if (what.startsWith(QLatin1String("undone"))) {
            SeriesRecord part;
            QVERIFY(writer.ReadSeries(opened, part));
            part.setFlags(part.Flags() & ~SeriesRecord::SplitDone);
            TRecordWriter().update(*o.db->Series(), opened, part.bytes());
        }
        if (what.startsWith(QLatin1String("alone"))) {
            QCOMPARE(changeOne().result, Result::Done);
            what = what.mid(6);
        }
        const Scope scope = what.endsWith(QLatin1String("parts"))       ? Scope::EveryPart
                            : what.endsWith(QLatin1String("all"))       ? Scope::All
                            : what.endsWith(QLatin1String("following")) ? Scope::ThisAndFollowing
                                                                        : Scope::ThisOne;
        const auto run = [&] {
            if (what == QLatin1String("none"))
                return writer.Create(s, Today);
            if (what == QLatin1String("change one"))
                return changeOne();
            if (what.startsWith(QLatin1String("delete")))
                return writer.Delete(opened, scope, eleventh, Held::Refuse);
            return writer.Change(opened, scope, eleventh, changed, Today, Held::Refuse);
        };
        if (scope == Scope::EveryPart && !what.startsWith(QLatin1String("delete"))) {
            // Each part keeps its own days.
            SeriesRecord mondays = changed;
            rule.setWeekdays(TRecurrenceRule::weekdayBit(1));
            mondays.setRule(rule);
            QCOMPARE(writer.Change(opened, scope, eleventh, mondays, Today, Held::Refuse).result, Result::PartsRepeat);
        }
        if (server)
            refusedWhole(o, run);
        const TSeriesWriter::TOutcome outcome = run();
        QCOMPARE(outcome.result, Result::Done);
        QTEST(outcome.touched, "touched");
        QTEST(check(*o.db, outcome.seriesKey).occurrences, "occurrences");
        QTEST(entryCount(*o.db), "entries");
        if (outcome.seriesKey != key(1))
            QCOMPARE(check(*o.db, key(1)).occurrences, what.startsWith(QLatin1String("delete")) ? 0 : 10);
        // Every entry is an occurrence, and a deleted day's link names none.
        QTEST(int(writer.OccurrenceKeys().size()), "entries");
        const TChangeTrail::TEntry latest = o.db->Trail().Latest({}, {}, 1).value(0);
        QTEST(TChangeTrail::ActionText(latest.action) + QStringLiteral(": ") + latest.summary, "record");
        if (alone) {
            // The exception keeps its own contents and its alarms.
            QVERIFY(TLookup::Equal(o.db->DayEntries(), entry.bytes(), 0, eleventhKey));
            QCOMPARE(entry.Description(), "Meeting with the auditors");
            QCOMPARE(check(*o.db, key(1)).alarms, 3 * 105);
        }
        // A month later the poll extends what is left, and never brings back
        // a deleted day.
        while (writer.Extend(Today.addMonths(1), 1000) > 0) {
        }
        check(*o.db, outcome.seriesKey);
    }

    // An occurrence's alarms after a change, user 1 having switched his off
    // and user 2 snoozed his to 08:55: a change that leaves the alarm alone
    // leaves them as they stand; the occurrence moved alone keeps its alarm
    // as far before its start.
    void alarmsOnChange_data()
    {
        QTest::addColumn<int>("scope");       // -1: this one alone; this and following: user 4 for user 3
        QTest::addColumn<QTime>("time");
        QTest::addColumn<int>("before");      // the alarm, minutes before the start
        QTest::addColumn<QString>("alarms");  // user@time
        const int all = int(Scope::All);
        QTest::newRow("all: description only") << all << QTime(9, 0) << 15 << "2@08:55 3@08:45";
        QTest::newRow("this and following: users") << int(Scope::ThisAndFollowing) << QTime(9, 0) << 15 << "2@08:55 4@08:45";
        QTest::newRow("all: alarm 30 minutes before") << all << QTime(9, 0) << 30 << "1@08:30 2@08:30 3@08:30";
        QTest::newRow("all: a new time") << all << QTime(10, 30) << 15 << "1@10:15 2@10:15 3@10:15";
        QTest::newRow("this one moved to 10:30") << -1 << QTime(10, 30) << 15 << "1@10:15 2@10:15 3@10:15";
    }
    void alarmsOnChange()
    {
        QFETCH(int, scope);
        QFETCH(QTime, time);
        QFETCH(int, before);
        Office o;
        TSeriesWriter writer(*o.db);
        SeriesRecord s = meeting(3);
        writer.Create(s, Today);
        const SeriesLinkRecord link = writer.Links(key(1))[1].second;
        const QDate day = dayOf(link.DayKey());
        TEventWriter events(*o.db);
        auto mine = TestDatabase::alarms(*o.db, link.EntryKey());
        QCOMPARE(events.switchOffAlarm(mine[0].first, mine[0].second), TEventWriter::Result::Done);
        QCOMPARE(events.snoozeAlarm(mine[1].first, mine[1].second, TestDatabase::timeKey(QDateTime(day, QTime(8, 55)))),
                 TEventWriter::Result::Done);
        SeriesRecord changed = s;
        changed.setDescription(QStringLiteral("Weekly review"));
        changed.setAlarmOffset(before * 60);
        TRecurrenceRule rule = s.Rule();
        rule.setTime(time);
        changed.setRule(rule);
        if (scope == int(Scope::ThisAndFollowing))
            changed.setAssigneeKeys({key(1), key(2), key(4)});
        if (scope >= 0) {
            QCOMPARE(writer.Change(key(1), Scope(scope), day, changed, Today, Held::Refuse).result, Result::Done);
        } else {
            DayEntryRecord entry;
            QVERIFY(TLookup::Equal(o.db->DayEntries(), entry.bytes(), 0, link.EntryKey()));
            entry.setStartTime(TestDatabase::timeKey(QDateTime(day, time)));
            AlarmRecord alarm = TestDatabase::alarmAt(mine[2].second.AlarmTime());  // the earliest, as opened
            QCOMPARE(writer.ChangeOne(link.EntryKey(), entry, alarm, alarm.AlarmTime()).result, Result::Done);
        }
        QStringList alarms;
        for (const auto& [k, alarm] : TestDatabase::alarms(*o.db, link.EntryKey()))
            alarms << QString::number(RecordKey::parse(alarm.UserKey())) + '@'
                    + QDateTime::fromSecsSinceEpoch(RecordKey::parse(alarm.AlarmTime()), Qt::UTC).toString("hh:mm");
        alarms.sort();
        QTEST(alarms.join(' '), "alarms");
    }

    // An occurrence open on another workstation (another process): left
    // and named, or the change refused whole; a fresh workstation then sees
    // the occurrences this one sees.
    void heldOccurrence_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<int>("scope");
        QTest::newRow("all, left") << int(Held::Leave) << int(Scope::All);
        QTest::newRow("all, refused") << int(Held::Refuse) << int(Scope::All);
        QTest::newRow("this and following, left") << int(Held::Leave) << int(Scope::ThisAndFollowing);
        QTest::newRow("this and following, refused") << int(Held::Refuse) << int(Scope::ThisAndFollowing);
    }
    void heldOccurrence()
    {
        QFETCH(int, policy);
        QFETCH(int, scope);
        const bool leave = policy == int(Held::Leave);
        Office o;
        TSeriesWriter writer(*o.db);
        SeriesRecord s = meeting(2);
        const QString seriesKey = writer.Create(s, Today).seriesKey;
        const SeriesLinkRecord link = writer.Links(seriesKey)[3].second;
        const QString fifth = writer.Links(seriesKey)[4].second.EntryKey();
        const auto holder = holdingChild([&] {
            auto* other = new TQuorlaDB{TScriptedServices::ofTest(), TDatabaseLocation(o.location)}; // held until the child is killed
            other->SetActingUser(key(2));
            return (new TRecordLock(other->DayEntries(), link.EntryKey(), &other->Holders()))->Held();
        });
        QVERIFY(holder);

        SeriesRecord changed = s;
        changed.setDescription(QStringLiteral("Weekly review"));
        const auto outcome = writer.Change(seriesKey, Scope(scope), dayOf(writer.Links(seriesKey)[2].second.DayKey()),
                                           changed, Today, Held(policy));
        QCOMPARE(outcome.result, leave ? Result::Done : Result::Held);
        QCOMPARE(outcome.held.size(), 1);
        QCOMPARE(outcome.held[0].entryKey, link.EntryKey());
        QCOMPARE(outcome.held[0].day, dayOf(link.DayKey()));
        QVERIFY2(outcome.held[0].holder.startsWith(QLatin1String("User 2 (workstation ws-anna)")),
                 qPrintable(outcome.held[0].holder));
        QCOMPARE(outcome.seriesKey != seriesKey, leave && scope == int(Scope::ThisAndFollowing));
        // The trail names who held the occurrence that was left.
        QCOMPARE(o.db->Trail().Latest({}, {}, 1).value(0).summary.endsWith(
                     "left open elsewhere: " + dayOf(link.DayKey()).toString(Qt::ISODate) + " User 2 (workstation ws-anna)"),
                 leave);
        DayEntryRecord entry;
        QVERIFY(TLookup::Equal(o.db->DayEntries(), entry.bytes(), 0, fifth));
        QCOMPARE(entry.Description(), leave ? "Weekly review" : "Team meeting");
        QVERIFY(TLookup::Equal(o.db->DayEntries(), entry.bytes(), 0, link.EntryKey()));
        QCOMPARE(entry.Description(), "Team meeting");
        QCOMPARE(check(*o.db, outcome.seriesKey).exceptions, leave ? 1 : 0);
        // The views mark it as no longer following its series.
        QSet<QString> detached;
        writer.OccurrenceKeys(&detached);
        QCOMPARE(detached, leave ? QSet<QString>{link.EntryKey()} : QSet<QString>{});
        const auto seen = [&](TQuorlaDB& db) {
            QStringList occurrences;
            for (const QString& k : {seriesKey, outcome.seriesKey})
                for (const auto& [lk, l] : TSeriesWriter(db).Links(k))
                    occurrences << k + l.DayKey() + l.EntryKey() + QString::number(l.Flags());
            return occurrences;
        };
        const QStringList here = seen(*o.db);
        QCOMPARE(TestChild([&] {
                     TQuorlaDB there{TScriptedServices::ofTest(), TDatabaseLocation(o.location)};
                     return seen(there) == here ? 0 : 1;
                 }).wait(),
                 0);
    }

    // An occurrence made private for others is one a colleague who may
    // change others' entries may not read, nor delete: a deletion that would
    // take it is refused whole, on both engines (a server's row policy would
    // pass over its row and leave it outside its series, its alarms gone);
    // one that leaves it, or one by its assignee, goes on.
    void hiddenOccurrence_data()
    {
        QTest::addColumn<int>("scope");
        QTest::addColumn<int>("from");  // the occurrence the deletion starts at; the hidden one is the third
        QTest::addColumn<int>("actor");
        QTest::addColumn<bool>("refused");
        QTest::newRow("all, by a colleague") << int(Scope::All) << 0 << 2 << true;
        QTest::newRow("this and following from before it") << int(Scope::ThisAndFollowing) << 1 << 2 << true;
        QTest::newRow("this and following from after it") << int(Scope::ThisAndFollowing) << 3 << 2 << false;
        QTest::newRow("this one, itself") << int(Scope::ThisOne) << 2 << 2 << true;
        QTest::newRow("all, by its assignee") << int(Scope::All) << 0 << 3 << false;
    }
    void hiddenOccurrence()
    {
        QFETCH(int, scope);
        QFETCH(int, from);
        QFETCH(int, actor);
        QFETCH(bool, refused);
        Office o;
        UserRecord colleague;
        for (int user : {2, 3}) {
            QVERIFY(TLookup::Equal(o.db->Users(), colleague.bytes(), TXIsamFile::PrimaryIndex, key(user)));
            colleague.setRights(UserRecord::CanAddEntries | UserRecord::CanModifyOthersEntries);
            QVERIFY(o.db->Users().Update(colleague.bytes(), key(user)));
        }
        TSeriesWriter writer(*o.db);
        SeriesRecord s = meeting(3, false, 6);
        const QString seriesKey = writer.Create(s, Today).seriesKey;
        const SeriesLinkRecord hidden = writer.Links(seriesKey)[2].second;
        DayEntryRecord entry;
        QVERIFY(TLookup::Equal(o.db->DayEntries(), entry.bytes(), 0, hidden.EntryKey()));
        entry.setFlags(entry.Flags() | DayEntryRecord::Private);
        entry.setAssigneeKeys({key(3)});
        AlarmRecord alarm = TestDatabase::alarms(*o.db, hidden.EntryKey()).value(0).second;
        QCOMPARE(writer.ChangeOne(hidden.EntryKey(), entry, alarm, alarm.AlarmTime()).result, Result::Done);

        std::unique_ptr<TQuorlaDB> acting;
        if (server) {
            TServerRoles(*o.db).Install(key(1));
            TServerRoles(*o.db).Create(QStringLiteral("U%1").arg(actor), key(actor), QStringLiteral("pw"), false);
            TQuorlaDB::TLogin login{{}, QStringLiteral("pw")};
            acting = TServerRoles::LogIn(TScriptedServices::ofTest(),
                                         TDatabaseLocation(server->personalUri(QUrl(o.location).path().mid(1))),
                                         QStringLiteral("U%1").arg(actor), login);
        } else {
            acting = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), TDatabaseLocation(o.location));
        }
        acting->SetActingUser(key(actor));
        const auto stored = [&] {
            QStringList all;
            for (const auto& [k, a] : TestDatabase::alarms(*o.db))
                all << a.DayEntryKey() + a.UserKey();
            for (const auto& [lk, l] : writer.Links(seriesKey))
                all << l.DayKey() + l.EntryKey() + QString::number(l.Flags());
            return all << QString::number(entryCount(*o.db));
        };
        const QStringList before = stored();
        const QDate day = dayOf(TSeriesWriter(*o.db).Links(seriesKey)[from].second.DayKey());
        QCOMPARE(TSeriesWriter(*acting).Delete(seriesKey, Scope(scope), day, Held::Leave).result,
                 refused ? Result::Hidden : Result::Done);
        if (refused)
            QCOMPARE(stored(), before);
        // The private occurrence is in its series, or gone with it.
        const bool kept = TLookup::Equal(o.db->DayEntries(), entry.bytes(), 0, hidden.EntryKey());
        QCOMPARE(kept, refused || from > 2);
        bool linked = false;
        for (const auto& [lk, l] : writer.Links(seriesKey))
            linked = linked || l.EntryKey() == hidden.EntryKey();
        QCOMPARE(linked, kept);
        check(*o.db, seriesKey);
    }

    // A writer killed after any of its writes: the next poll finishes it,
    // and the series holds to its rule.
    void killed_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("writes");  // made before the kill
        // Create: the series, the pending links, the entries, the alarms;
        // change and delete: the noted change, the alarms, the entries.
        for (int writes : {1, 2, 3, 4})
            QTest::addRow("create, after %d writes", writes) << "create" << writes;
        for (int writes : {1, 2, 3})
            QTest::addRow("change, after %d writes", writes) << "change" << writes;
        for (int writes : {1, 2, 3})
            QTest::addRow("delete following, after %d writes", writes) << "delete" << writes;
    }
    void killed()
    {
        QFETCH(QString, what);
        QFETCH(int, writes);
        Office o;
        SeriesRecord s = meeting(3, true, 40);
        QString seriesKey = key(1);
        if (what != QLatin1String("create"))
            seriesKey = TSeriesWriter(*o.db).Create(s, Today).seriesKey;
        TestChild child([&] {
            TQuorlaDB db{TScriptedServices::ofTest(), TDatabaseLocation(o.location)};
            TSeriesWriter writer(db);
            int made = 0;
            writer.OnWrite = [&](const TRecordWriter::TWrite& w) {
                if (w.made && ++made == writes)
                    ::_exit(3);
            };
            SeriesRecord changed = s;
            changed.setDescription(QStringLiteral("Daily stand-up"));
            if (what == QLatin1String("create"))
                writer.Create(s, Today);
            else if (what == QLatin1String("change"))
                writer.Change(seriesKey, Scope::All, Today, changed, Today, Held::Leave);
            else
                writer.Delete(seriesKey, Scope::ThisAndFollowing, Today.addDays(20), Held::Leave);
            return 0;
        });
        QCOMPARE(child.wait(), 3);
        TSeriesWriter writer(*o.db);
        // Occurrences begun (their links pending) are finished under the
        // keys they were given.
        QSet<std::pair<QString, QString>> begun;
        for (const auto& [linkKey, link] : writer.Links(seriesKey))
            if (link.Flags() & SeriesLinkRecord::Pending)
                begun.insert({linkKey, link.EntryKey()});
        // The next polls finish it; a server may hold the killed writer's
        // locks for a moment after its session died.
        SeriesRecord after;
        for (int poll = 0; poll < 100; ++poll) {
            writer.Extend(Today, 1000);
            // Done: gone, or no change noted and every one of its 40 days made.
            if (!writer.ReadSeries(seriesKey, after)
                || (after.Change() == SeriesRecord::Pending::None && after.MadeUntil() == "9999999999"))
                break;
            QTest::qWait(20);
        }
        if (!writer.ReadSeries(seriesKey, after)) {
            QCOMPARE(entryCount(*o.db), 0);
            return;
        }
        QCOMPARE(after.Change(), SeriesRecord::Pending::None);
        for (const auto& [linkKey, link] : writer.Links(seriesKey))
            begun.remove({linkKey, link.EntryKey()});
        QVERIFY(begun.isEmpty());
        const Tally t = check(*o.db, seriesKey);
        QCOMPARE(t.alarms, 3 * t.occurrences);
        QCOMPARE(entryCount(*o.db), t.occurrences);
    }

    // A user's removal and a category's deletion treat templates as entries.
    void templatesAcrossTheDatabase_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("series");       // left
        QTest::addColumn<QString>("assignees");  // of the series left
        QTest::addColumn<QString>("category");
        QTest::newRow("owner removed, his series deleted") << "owner delete" << 0 << "" << "";
        QTest::newRow("owner removed, his series transferred") << "owner transfer" << 1 << "1 2 3" << "0000000001";
        QTest::newRow("an assignee removed") << "assignee" << 1 << "1 3" << "0000000001";
        QTest::newRow("the category deleted") << "category" << 1 << "1 2 3" << "0000000000";
    }
    void templatesAcrossTheDatabase()
    {
        QFETCH(QString, what);
        Office o;
        QVERIFY(o.db->Categories().Insert(TestDatabase::category(QStringLiteral("Meeting")).bytes()));
        SeriesRecord s = meeting(3);
        s.setCategoryKey(key(1));
        if (what.startsWith(QLatin1String("owner")))
            s.setOwnerKey(key(4));
        const QString seriesKey = TSeriesWriter(*o.db).Create(s, Today).seriesKey;
        if (what == QLatin1String("category")) {
            TCategoryWriter(*o.db).deleteCategory(key(1));
        } else {
            const TUserRemoval::TChoices choices{what == QLatin1String("owner delete"), key(1), false, key(1)};
            TUserRemoval(*o.db, key(what == QLatin1String("assignee") ? 2 : 4), choices).run();
        }
        SeriesRecord after;
        TSeriesWriter writer(*o.db);
        QTEST(int(writer.ReadSeries(seriesKey, after)), "series");
        const Tally t = check(*o.db, seriesKey);
        QCOMPARE(entryCount(*o.db), t.occurrences);
        if (!writer.ReadSeries(seriesKey, after))
            return;
        QStringList users;
        for (const QString& k : after.AssigneeKeys())
            users << QString::number(RecordKey::parse(k));
        QTEST(users.join(QLatin1Char(' ')), "assignees");
        QTEST(after.CategoryKey(), "category");
        QCOMPARE(after.OwnerKey(), key(1));
        // The occurrences already made agree with their template.
        DayEntryRecord entry;
        QVERIFY(TLookup::Equal(o.db->DayEntries(), entry.bytes(), 0, writer.Links(seriesKey)[0].second.EntryKey()));
        QCOMPARE(entry.AssigneeKeys(), after.AssigneeKeys());
        QCOMPARE(entry.CategoryKey(), after.CategoryKey());
    }

    // The owner of a private series (on a server his own role, which reads
    // no alarm of a user the entry does not have) assigns user 3 to it again
    // after a lost session cut short his removal just after it took him off
    // the first occurrence: he has one alarm of it.
    void reassignedAfterACutRemoval_data()
    {
        QTest::addColumn<int>("before");  // the alarm, minutes before the start
        QTest::newRow("alarm as it stands") << 15;
        QTest::newRow("another alarm time") << 30;
    }
    void reassignedAfterACutRemoval()
    {
        Office o;
        SeriesRecord s = meeting(3, false, 4);
        s.setOwnerKey(key(2));
        s.setFlags(s.Flags() | SeriesRecord::Private);
        const QString seriesKey = TSeriesWriter(*o.db).Create(s, Today).seriesKey;
        TUserRemoval removal(*o.db, key(3), {false, key(1), false, key(1)});
        bool written = false;
        removal.OnWrite = [&](const TRecordWriter::TWrite& w) {
            if (written && !w.made)
                throw EQuorla(QStringLiteral("The connection to the Quorla database server was lost"));
            written = w.made && w.dataset == &o.db->DayEntries();
        };
        QVERIFY(!thrown([&] { removal.run(); }).isEmpty());
        auto owner = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest());
        if (server) {
            TServerRoles(*o.db).Install(key(1));
            TServerRoles(*o.db).Create(QStringLiteral("U2"), key(2), QStringLiteral("pw2"), false);
            TQuorlaDB::TLogin login{{}, QStringLiteral("pw2")};
            owner = TServerRoles::LogIn(TScriptedServices::ofTest(), TDatabaseLocation(server->personalUri(
                                            QUrl(o.location).path().mid(1))), QStringLiteral("U2"), login);
        }
        owner->SetActingUser(key(2));
        QFETCH(int, before);
        s.setAlarmOffset(before * 60);
        QCOMPARE(TSeriesWriter(*owner).Change(seriesKey, Scope::All, Today, s, Today, Held::Refuse).result, Result::Done);
        QStringList users;
        for (const auto& [k, alarm] : TestDatabase::alarms(*o.db, TSeriesWriter(*o.db).Links(seriesKey)[0].second.EntryKey()))
            users << alarm.UserKey();
        users.sort();
        QCOMPARE(users, QStringList({key(1), key(2), key(3)}));
    }

    // As the days pass the horizon is extended, a week ahead at a time and a
    // few occurrences a poll: by the alarm poll of any user, or by two
    // workstations at once (every day once); the next day then finds
    // nothing due and writes nothing.
    void extending_data()
    {
        QTest::addColumn<bool>("daily");
        QTest::addColumn<int>("days");          // after Today
        QTest::addColumn<int>("workstations");  // 0: one alarm poll
        QTest::addColumn<int>("polls");         // each workstation's; 0: till nothing is left
        QTest::addColumn<int>("added");
        QTest::newRow("daily, a poll the next day: the poll's share")
            << true << 1 << 0 << 0 << TSeriesWriter::ExtendPerPoll;
        QTest::newRow("weekly, a poll two days on: a week ahead") << false << 2 << 0 << 0 << 3;
        QTest::newRow("daily, two workstations three months on") << true << 90 << 2 << 0 << 92;
        // Its keys set aside, gone before it linked them.
        QTest::newRow("daily, after a workstation gone after one poll")
            << true << 1 << 1 << 1 << TSeriesWriter::ExtendPerPoll;
    }
    void extending()
    {
        QFETCH(bool, daily);
        QFETCH(int, days);
        QFETCH(int, workstations);
        QFETCH(int, polls);
        Office o;
        SeriesRecord s = meeting(2, daily);
        const QString seriesKey = TSeriesWriter(*o.db).Create(s, Today).seriesKey;
        const int before = check(*o.db, seriesKey).occurrences;
        const QDate day = Today.addDays(days);
        std::vector<std::unique_ptr<TestChild>> children;
        for (int i = 0; i < workstations; ++i)
            children.push_back(std::make_unique<TestChild>([&] {
                TQuorlaDB db{TScriptedServices::ofTest(), TDatabaseLocation(o.location)};
                TSeriesWriter writer(db);
                if (polls > 0) {
                    for (int poll = 0; poll < polls; ++poll)
                        writer.Extend(day);
                    return 0;
                }
                // Till fifty polls in a row find nothing to do: a paced step
                // (the series' made-until) or the other's turn answers none.
                for (int idle = 0; idle < 50;) {
                    if (writer.Extend(day, 2) == 0) {
                        ++idle;
                        ::usleep(2000);
                    } else {
                        idle = 0;
                    }
                }
                return 0;
            }));
        for (auto& child : children)
            QCOMPARE(child->wait(), 0);
        o.services.setNow(QDateTime(day, QTime(8, 0)));
        // A poll writes at most one dataset (each write waits for the
        // disk): its share takes six polls.
        TAlarmPoller poller([](AlarmRecord&, const QString&, TQuorlaDB&) { return 1; });
        QSet<const TXIsamFile*> written;
        poller.OnSeriesWrite = [&](const TRecordWriter::TWrite& w) { written.insert(w.dataset); };
        for (int poll = 0; poll < 6; ++poll, written.clear()) {
            poller.Poll(*o.db, key(3));
            QVERIFY(written.size() <= 1);
        }
        const Tally t = check(*o.db, seriesKey);
        QTEST(t.occurrences - before, "added");
        QCOMPARE(entryCount(*o.db), t.occurrences);
        TSeriesWriter writer(*o.db);
        int writes = 0;
        writer.OnWrite = [&](const TRecordWriter::TWrite&) { ++writes; };
        QCOMPARE(writer.Extend(day.addDays(1)), 0);
        QCOMPARE(writes, 0);
    }

    // A poll makes the occurrences of one series however many are due; the
    // polls after it take the others.
    void extendingOneSeriesAPoll()
    {
        Office o;
        QStringList keys;
        QList<int> before;
        for (int i = 0; i < 3; ++i) {
            SeriesRecord s = meeting(2);
            keys << TSeriesWriter(*o.db).Create(s, Today).seriesKey;
            before << check(*o.db, keys.last()).occurrences;
        }
        TSeriesWriter writer(*o.db);
        const int paced = 6;
        for (int poll = 1; poll <= 3; ++poll) {
            for (int step = 0; step < paced; ++step)
                writer.Extend(Today.addDays(2));
            int grown = 0;
            for (int i = 0; i < 3; ++i)
                grown += check(*o.db, keys[i]).occurrences > before[i] ? 1 : 0;
            QCOMPARE(grown, poll);
        }
    }
};

QUORLA_TEST_CORE_MAIN(TestSeriesWriter)
#include "tst_serieswriter.moc"
