// The change trail and the lock holder notes, on folders and (with
// QUORLA_TEST_ENGINE=postgres) on a database server: one record per change
// with who, where, what and a summary; the history of an entry as each reader
// may see it; retention in batches; a trail that
// is missing or damaged; and a refused lock that names its holder until the
// holder is killed.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "HolderNoteRecord.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "RecordKey.h"
#include "TCategoryWriter.h"
#include "TChangeTrail.h"
#include "TEventWriter.h"
#include "THolderNotes.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TSeriesWriter.h"
#include "TScriptedServices.h"
#include "TTrailVisibility.h"
#include "TUserRemoval.h"
#include "TUserWriter.h"
#include "TestDatabase.h"
#include "TestChild.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>

namespace {

using Action = TChangeTrail::Action;
using Kind = TPersonServices::MessageKind;

std::unique_ptr<PostgresCluster> server;

QString key(int n) { return RecordKey::format(n); }

// A moment on 2 March 2026, `minutes` after 10:00.
QDateTime at(int minutes, int days = 0)
{
    return QDateTime(QDate(2026, 3, 2).addDays(days), QTime(10, 0)).addSecs(60 * minutes);
}

QString keyAt(int minutes, int days = 0) { return TestDatabase::timeKey(at(minutes, days)); }

// The office: Anna (1, administrator), Bob (2) and Cleo (3), the category
// Meeting (1), Anna logged in on "ws-anna" at 10:00.
struct Office : TestDatabase::Office
{
    Office() : TestDatabase::Office(QStringLiteral("trail"), server.get())
    {
        services.setNow(at(0));
        for (const auto& [name, full] : {std::pair{"ANNA", "Anna Smith"}, {"BOB", "Bob Jones"}, {"CLEO", "Cleo Li"}}) {
            UserRecord u;
            u.setUserName(QString::fromLatin1(name));
            u.setFullName(QString::fromLatin1(full));
            u.setAbbreviation(QString::fromLatin1(name).left(2));
            db->Users().Insert(u.bytes());
        }
        db->Categories().Insert(TestDatabase::category(QStringLiteral("Meeting")).bytes());
    }

    // A meeting at 10:00+`minutes` for Anna and Bob, with an alarm 10 minutes
    // before when `alarm`.
    QString addEntry(int minutes = 0, bool alarm = true)
    {
        DayEntryRecord e = TestDatabase::entry(QStringLiteral("Team meeting"), {1, 2}, 1);
        e.setStartTime(keyAt(minutes));
        AlarmRecord a = TestDatabase::alarmAt(keyAt(minutes - 10));
        a.setFlags(alarm ? AlarmRecord::AlarmWanted : 0);
        return TEventWriter(*db).insertEntryWithAlarms(e, a);
    }

    QList<TChangeTrail::TEntry> latest() { return db->Trail().Latest({}, QString(), 1000); }
};

// One change made by a row: what it leaves in the trail, latest last.
struct Expected
{
    Action action;
    QString dataset;
    QString key;
};
using Change = std::function<QList<Expected>(Office&)>;

// Opens entry `k` for editing under `lock`; true when it opened.
bool opens(TEventWriter& w, const QString& k, std::optional<TRecordLock>& lock)
{
    DayEntryRecord e;
    AlarmRecord a;
    bool had = false;
    return w.openEntry(k, lock, e, a, had) == TEventWriter::Result::Done;
}

} // namespace

Q_DECLARE_METATYPE(Change)

class tst_ChangeTrail : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }

    void eachChangeOneRecord_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("summary");
        const QString entries(DayEntryRecord::FileName), alarms(AlarmRecord::FileName);
        const QString users(UserRecord::FileName), categories(CategoryRecord::FileName);
        // Anna's alarm snoozed, the alarm time kept: Bob's earlier alarm is the
        // entry's, and its time did not change.
        QTest::newRow("event moved, assignee added, a snooze kept") << Change([=](Office& o) {
            const QString k = o.addEntry();
            TEventWriter w(*o.db);
            auto [ak, a] = TestDatabase::alarms(*o.db, k).value(0);
            w.snoozeAlarm(ak, a, keyAt(-5));
            std::optional<TRecordLock> lock;
            DayEntryRecord e;
            bool had = false;
            w.openEntry(k, lock, e, a, had);
            e.setStartTime(keyAt(90));
            e.setAssigneeKeys({key(1), key(2), key(3)});
            w.updateEntryWithAlarms(k, e, a, a.AlarmTime());
            return QList<Expected>{{Action::EventAdded, entries, k},
                                   {Action::AlarmSnoozed, alarms, ak},
                                   {Action::EventChanged, entries, k}};
        }) << QStringLiteral("time 10:00 → 11:30; assignee added: CL");
        QTest::newRow("user added") << Change([=](Office& o) {
            UserRecord u = TestDatabase::user(QStringLiteral("DAN"));
            u.setRights(UserRecord::CanAddEntries);
            QString k;
            TUserWriter(*o.db).addUser(u, k);
            return QList<Expected>{{Action::UserAdded, users, k}};
        }) << QStringLiteral("DAN; “DAN Fullname”; rights add");
        // Named as he is from then on, however he is renamed or removed later.
        QTest::newRow("user changed") << Change([=](Office& o) {
            UserRecord u;
            TUserWriter(*o.db).readUser(key(2), u);
            const UserRecord loaded = u;
            u.setFullName(QStringLiteral("Bob Smith"));
            u.setPassword(QStringLiteral("SECRET"));
            u.setRights(UserRecord::CanAddEntries | UserRecord::CanModifyOthersEntries);
            TUserWriter(*o.db).updateUser(key(2), u, loaded);
            return QList<Expected>{{Action::UserChanged, users, key(2)}};
        }) << QStringLiteral("BOB; “Bob Smith”; full name “Bob Jones” → “Bob Smith”; password changed; "
                             "rights none → add,modify others'");
        QTest::newRow("category renamed") << Change([=](Office& o) {
            CategoryRecord c;
            TCategoryWriter(*o.db).renameCategory(key(1), QStringLiteral("Meetings"), c);
            return QList<Expected>{{Action::CategoryRenamed, categories, key(1)}};
        }) << QStringLiteral("“Meeting” → “Meetings”");
        QTest::newRow("category deleted, its event un-categorised") << Change([=](Office& o) {
            DayEntryRecord e = TestDatabase::entry(QString());
            e.setCategoryKey(key(1));
            AlarmRecord none;
            const QString k = TEventWriter(*o.db).insertEntryWithAlarms(e, none);
            TCategoryWriter(*o.db).deleteCategory(key(1));
            return QList<Expected>{{Action::EventAdded, entries, k},
                                   {Action::EventChanged, entries, k},
                                   {Action::CategoryDeleted, categories, key(1)}};
        }) << QStringLiteral("“Meeting”; 1 events un-categorised");
        QTest::newRow("days kept changed") << Change([=](Office& o) {
            o.db->Trail().SetDaysKept(90);
            return QList<Expected>{{Action::DaysKeptChanged, QString(TrailRecord::FileName), QString(TrailRecord::SettingKey)}};
        }) << QStringLiteral("days kept 365 → 90");
        QTest::newRow("user removed by the wizard") << Change([=](Office& o) {
            const QString k = o.addEntry(0, false);
            TUserRemoval(*o.db, key(2), {false, key(3), false, key(3)}).run();
            return QList<Expected>{{Action::EventAdded, entries, k},
                                   {Action::EventChangedByRemoval, entries, k},
                                   {Action::UserRemoved, users, key(2)}};
        }) << QStringLiteral("BOB; “Bob Jones”; rights none; 0 events transferred, 0 reassigned, 1 unassigned, "
                             "0 deleted, 0 alarms deleted");
    }

    // Each change adds exactly one record, by the acting user on this
    // workstation, naming what it touched; the last one's summary says what
    // changed.
    void eachChangeOneRecord()
    {
        QFETCH(Change, change);
        Office o;
        const QList<Expected> expected = change(o);
        const QList<TChangeTrail::TEntry> trail = o.latest();
        QCOMPARE(trail.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const TChangeTrail::TEntry& got = trail[trail.size() - 1 - i];
            QCOMPARE(got.action, expected[i].action);
            QCOMPARE(got.dataset, expected[i].dataset);
            QCOMPARE(got.recordKey, expected[i].key);
            QCOMPARE(got.userKey, key(1));
            QCOMPARE(got.workstation, QStringLiteral("ws-anna"));
            QCOMPARE(got.when, keyAt(0));
        }
        QTEST(trail.first().summary, "summary");
    }

    // An entry's history: its own changes and its alarms', in order, not
    // another entry's.
    void historyInOrder()
    {
        Office o;
        const QString k = o.addEntry();
        o.addEntry(5);
        auto [ak, a] = TestDatabase::alarms(*o.db, k).value(0);
        o.services.setNow(at(1));
        TEventWriter(*o.db).snoozeAlarm(ak, a, keyAt(-5));
        TEventWriter(*o.db).deleteEntryWithAlarms(k);
        QList<Action> actions;
        for (const TChangeTrail::TEntry& e : o.db->Trail().History(TChangeTrail::EntrySubject(k)))
            actions << e.action;
        QCOMPARE(actions, (QList<Action>{Action::EventAdded, Action::AlarmSnoozed, Action::EventDeleted}));
    }

    void historyShownTo_data()
    {
        QTest::addColumn<bool>("older");
        QTest::addColumn<int>("reader");
        QTest::addColumn<QStringList>("shown");
        const QString added
            = QStringLiteral("Event added: private; “Secret plan”; 02/03/26 10:00; for AN,BO; alarm 09:50");
        const QString published
            = QStringLiteral("Event changed: private; made public; description “Team lunch”; assignee added: CL");
        const QString moved = QStringLiteral("Event changed: time 10:00 → 10:30");
        const QStringList unseen{QStringLiteral("Event added: private at the time"),
                                 QStringLiteral("Event changed: private at the time"), moved};
        QTest::newRow("an administrator reads it all")
            << false << 1
            << QStringList{added, QStringLiteral("Alarm snoozed: alarm of BO 09:50 → 09:55"),
                           QStringLiteral("Alarm switched off: alarm of AN at 09:50"), published, moved};
        QTest::newRow("an assignee throughout, his own alarm only")
            << false << 2
            << QStringList{added, QStringLiteral("Alarm snoozed: alarm of BO 09:50 → 09:55"), published, moved};
        QTest::newRow("assigned once it was public") << false << 3 << unseen;
        // Records without readers marks: the entry's privacy is traced back
        // from the entry as it is now.
        QTest::newRow("older records") << true << 3 << unseen;
    }

    // An entry made private by Anna for herself and Bob, their alarms
    // snoozed and switched off, then made public for Cleo too and renamed,
    // and moved by Cleo: each reader sees the text of a change only when the
    // entry was his to see then, and no one else's alarms; its history and
    // the latest changes agree.
    void historyShownTo()
    {
        QFETCH(bool, older);
        QFETCH(int, reader);
        Office o;
        UserRecord anna;
        QVERIFY(o.db->Users().GetEqual(anna.bytes(), TXIsamFile::PrimaryIndex, key(1)));
        anna.setRights(UserRecord::CanAdminister);
        QVERIFY(o.db->Users().Update(anna.bytes(), key(1)));
        DayEntryRecord e = TestDatabase::entry(QStringLiteral("Secret plan"), {1, 2}, 1);
        e.setStartTime(keyAt(0));
        e.setFlags(DayEntryRecord::Private);
        QString k;
        if (older) {
            e.setDescription(QStringLiteral("Team lunch"));
            e.setFlags(0);
            QVERIFY(o.db->DayEntries().Insert(e.bytes()));
            k = o.db->DayEntries().CurrentKey();
            const auto record = [&](Action action, const char* summary) {
                o.db->Trail().Record({action, &o.db->DayEntries(), k, TChangeTrail::EntrySubject(k),
                                      QString::fromUtf8(summary)});
            };
            record(Action::EventAdded, "“Secret plan”; 02/03/26 10:00; for AN,BO; alarm 09:50");
            record(Action::EventChanged, "description “Team lunch”; assignee added: CL; made public");
            record(Action::EventChanged, "time 10:00 → 10:30");
        } else {
            TEventWriter w(*o.db);
            AlarmRecord a = TestDatabase::alarmAt(keyAt(-10));
            k = w.insertEntryWithAlarms(e, a);
            const auto alarmOf = [&](int user, AlarmRecord& alarm) {
                TLookup::Equal(o.db->Alarms(), alarm.bytes(), AlarmRecord::UserAlarmIndex, key(user) + keyAt(-10));
                return o.db->Alarms().CurrentKey();
            };
            o.db->SetActingUser(key(2));
            QVERIFY(w.snoozeAlarm(alarmOf(2, a), a, keyAt(-5)) == TEventWriter::Result::Done);
            o.db->SetActingUser(key(1));
            QVERIFY(w.switchOffAlarm(alarmOf(1, a), a) == TEventWriter::Result::Done);
            for (int who : {1, 3}) {
                o.db->SetActingUser(key(who));
                std::optional<TRecordLock> lock;
                bool had = false;
                QVERIFY(w.openEntry(k, lock, e, a, had) == TEventWriter::Result::Done);
                if (who == 1) {
                    e.setFlags(0);
                    e.setDescription(QStringLiteral("Team lunch"));
                    e.setAssigneeKeys({key(1), key(2), key(3)});
                } else {
                    e.setStartTime(keyAt(30));
                }
                QVERIFY(w.updateEntryWithAlarms(k, e, a, a.AlarmTime()) == TEventWriter::Result::Done);
            }
        }
        const auto texts = [](const QList<TChangeTrail::TEntry>& entries) {
            QStringList lines;
            for (const TChangeTrail::TEntry& entry : entries)
                lines << TChangeTrail::ActionText(entry.action) + QStringLiteral(": ") + entry.summary;
            return lines;
        };
        TTrailVisibility visibility(*o.db, key(reader));
        QTEST(texts(visibility.EntryHistory(k)), "shown");
        QList<TChangeTrail::TEntry> page = visibility.Page(o.latest());
        std::reverse(page.begin(), page.end());
        QTEST(texts(page), "shown");
    }

    // A repeating event private to Bob, made public for Cleo too, then
    // changed again: its own records are read as an entry's, in its history
    // (in order) and among the latest changes (latest first).
    void seriesHistoryShownTo_data()
    {
        QTest::addColumn<int>("reader");
        QTest::addColumn<QString>("shown");
        QTest::newRow("an assignee throughout") << 2 << "seen seen seen, seen seen seen";
        QTest::newRow("assigned once it was public") << 3 << "hidden hidden seen, seen hidden hidden";
    }
    void seriesHistoryShownTo()
    {
        QFETCH(int, reader);
        Office o;
        SeriesRecord s;
        s.initialise();
        s.setOwnerKey(key(1));
        s.setAssigneeKeys({key(2)});
        s.setFlags(SeriesRecord::Private);
        s.setRule(*TRecurrenceRule::FromRRule(QStringLiteral("FREQ=DAILY;COUNT=2"), QDate(2026, 3, 2), QTime(10, 0)));
        TSeriesWriter writer(*o.db);
        const QString seriesKey = writer.Create(s, QDate(2026, 3, 1)).seriesKey;
        s.setFlags(0);
        s.setAssigneeKeys({key(2), key(3)});
        for (int change = 0; change < 2; ++change)
            writer.Change(seriesKey, TSeriesWriter::Scope::All, QDate(2026, 3, 2), s, QDate(2026, 3, 1),
                          TSeriesWriter::HeldOccurrences::Leave);
        TTrailVisibility visibility(*o.db, key(reader));
        QStringList shown;
        for (const auto& read : {visibility.SeriesHistory(seriesKey), visibility.Page(o.latest())}) {
            QStringList words;
            for (const TChangeTrail::TEntry& entry : read)
                words << (entry.summary == TTrailVisibility::PrivateText ? "hidden" : "seen");
            shown << words.join(QLatin1Char(' '));
        }
        QTEST(shown.join(QStringLiteral(", ")), "shown");
    }

    void retention_data()
    {
        QTest::addColumn<int>("daysKept");
        QTest::addColumn<QList<int>>("ages");
        QTest::addColumn<QList<int>>("removedPerPoll");
        QTest::newRow("a year, the day itself kept") << 0 << QList<int>{400, 366, 365, 10} << QList<int>{2, 0};
        QTest::newRow("batches of eight") << 0 << QList<int>(20, 500) + QList<int>{1} << QList<int>{8, 8, 4, 0};
        QTest::newRow("thirty days chosen") << 30 << QList<int>{31, 30, 29, 400} << QList<int>{2, 0};
    }

    // Only records older than the days kept go, a batch per poll.
    void retention()
    {
        QFETCH(int, daysKept);
        QFETCH(QList<int>, ages);
        QFETCH(QList<int>, removedPerPoll);
        Office o;
        for (int age : ages) {
            o.services.setNow(at(0, -age));
            CategoryRecord c;
            TCategoryWriter(*o.db).addCategory(QStringLiteral("aged %1 %2").arg(age).arg(o.latest().size()), c);
        }
        o.services.setNow(at(0));
        if (daysKept > 0)
            QVERIFY(o.db->Trail().SetDaysKept(daysKept));
        const qsizetype before = o.latest().size();
        QList<int> removed;
        for (qsizetype i = 0; i < removedPerPoll.size(); ++i)
            removed << o.db->Trail().Prune();
        QCOMPARE(removed, removedPerPoll);
        QCOMPARE(o.latest().size(), before - std::accumulate(removed.begin(), removed.end(), 0));
        for (const TChangeTrail::TEntry& e : o.latest())
            QVERIFY(RecordKey::parse(e.when) >= RecordKey::parse(keyAt(0, -(daysKept > 0 ? daysKept : 365))));
    }

    void unusableTrail_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("warned");
        QTest::newRow("an older database without it") << QStringLiteral("remove") << false;
        QTest::newRow("a damaged file") << QStringLiteral("garbage") << true;
        QTest::newRow("something else under its name") << QStringLiteral("folder") << true;
    }

    // Editing goes on whatever became of the trail; a trail that cannot be
    // used is told once.
    void unusableTrail()
    {
        QFETCH(QString, damage);
        QFETCH(bool, warned);
        if (server && damage != QLatin1String("remove"))
            QSKIP("a file's damage has no counterpart on a server");
        Office o;
        o.db.reset();
        const QString trail = o.location + QStringLiteral("/") + QString(TrailRecord::FileName);
        if (server) {
            server->query(TestDatabase::serverDatabase(o.location), "DROP TABLE qltrail; DELETE FROM quorla_datasets WHERE name = 'qltrail'");
        } else {
            QFile::remove(trail);
            if (damage == QLatin1String("garbage")) {
                QVERIFY(TestFile::write(trail, QByteArray(4096, 'x')));
            } else if (damage == QLatin1String("folder")) {
                QVERIFY(QDir().mkpath(trail));
            }
        }
        if (warned)
            o.services.expectMessageStartingWith(Kind::Warning, QStringLiteral("Changes to the Quorla Database are "
                                                                              "not being recorded"),
                                                 TPersonServices::MessageAnswer::Ok);
        o.db = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest());
        TQuorlaDB second(TScriptedServices::ofTest());
        const QString k = o.addEntry();
        QVERIFY(TEventWriter(second).deleteEntryWithAlarms(k) == TEventWriter::Result::Done);
        QCOMPARE(o.db->Trail().Available(), !warned);
        QCOMPARE(o.latest().size(), warned ? 0 : 2);
    }

    void holderNamed_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("edit") << 0 << QString();
        QTest::newRow("category deletion") << 2 << TCategoryWriter::Locked + QLatin1Char('\r');
        QTest::newRow("user removal") << 3 << TUserRemoval::Locked + QLatin1Char('\r');
    }

    // Bob, on another workstation, is refused an entry that Anna has open and
    // is told who has it since when; once Anna's program is killed, her note
    // is not shown, it goes, and Bob's command goes through.
    void holderNamed()
    {
        QFETCH(int, command);
        QFETCH(QString, refusal);
        Office o;
        DayEntryRecord e = TestDatabase::entry(QString(), {3});
        e.setCategoryKey(key(1));
        AlarmRecord none;
        const QString k = TEventWriter(*o.db).insertEntryWithAlarms(e, none);
        o.services.setNow(at(-17));
        const auto anna = holdingChild([&] {
            auto* hers = new TQuorlaDB(TScriptedServices::ofTest()); // held until the child is killed
            hers->SetActingUser(key(1));
            TEventWriter writer(*hers);
            return opens(writer, k, *new std::optional<TRecordLock>);
        });
        QVERIFY(anna);
        o.services.setNow(at(0));
        o.services.setHostName(QStringLiteral("ws-bob"));
        TQuorlaDB bobs(TScriptedServices::ofTest());
        bobs.SetActingUser(key(2));
        const QString holder = QStringLiteral("Anna Smith (workstation ws-anna) has had it open since 09:43");
        // Answers what Bob is told, or empty when the command went through.
        const auto attempt = [&]() -> QString {
            TEventWriter w(bobs);
            std::optional<TRecordLock> lock;
            if (command == 0)
                return opens(w, k, lock) ? QString() : w.LockHolder();
            return thrown([&] {
                if (command == 2)
                    TCategoryWriter(bobs).deleteCategory(key(1));
                else
                    TUserRemoval(bobs, key(3), {false, key(2), false, key(2)}).run();
            });
        };
        QCOMPARE(attempt(), refusal + holder);
        QCOMPARE(bobs.Trail().Latest({}, QString(), 10).size(), 1);
        QCOMPARE(anna->kill(), -1);
        const auto notesLeft = [&] {
            HolderNoteRecord note;
            int notes = 0;
            TXIsamFile all;
            if (all.Open(bobs.Location().DatasetName(HolderNoteRecord::FileName)))
                TLookup::Each(all, note.bytes(), [&](const QString&) { ++notes; });
            return notes;
        };
        // Her locks go with her (a server may take a moment to see that her
        // session is gone); her note stays behind, is never shown, and goes
        // once met.
        const auto lockable = [&] {
            const bool free = bobs.DayEntries().Lock(k);
            bobs.DayEntries().Unlock(k);
            return free;
        };
        QTRY_VERIFY_WITH_TIMEOUT(lockable(), 5000);
        QCOMPARE(notesLeft(), 1);
        QCOMPARE(bobs.Holders().HolderOf(bobs.DayEntries(), k), QString());
        QCOMPARE(notesLeft(), 0);
        QCOMPARE(attempt(), QString());
        QCOMPARE(notesLeft(), 0);
    }
};

QUORLA_TEST_CORE_MAIN(tst_ChangeTrail)
#include "tst_changetrail.moc"
