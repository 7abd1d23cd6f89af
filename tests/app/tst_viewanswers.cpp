// The views' answers on a real session: the alarm marks of the days shown
// follow the alarms dataset at each read of the days, whichever workstation
// changed it; while a server is away, only what the user logged in may see
// is kept.

#include "AlarmRecord.h"
#include "AppTestSupport.h"
#include "DayEntryRecord.h"
#include "IsamCode.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TDayEntries.h"
#include "TEventWriter.h"
#include "TFilterRules.h"
#include "TResourceWriter.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TSession.h"
#include "TViewAnswers.h"
#include "TXIsamFile.h"

// With QUORLA_TEST_ENGINE=postgres: the server that goes away.
static std::unique_ptr<PostgresCluster> server;

// Starts `session` on the workstation's database: on a new one its first
// administrator is logged in without a dialog.
static void startAsAdministrator(TSession& session)
{
    session.StartUp([](const TSession::TCheck&, UserRecord&, QString&) { return false; }, [](const TQuorlaCfg&) {},
                    [](const QString&) {});
}

// Adds BOB, who may add entries, and logs him in at `session`.
static void logInBob(TSession& session)
{
    TQuorlaDB& db = *session.Database();
    const QString key = AppTest::addUser(db, QStringLiteral("BOB"), QString(), UserRecord::CanAddEntries);
    UserRecord bob;
    db.Users().GetEqual(bob.bytes(), 0, key);
    session.SetCurrentUser(bob, key);
}

class tst_ViewAnswers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }

    // Entries 0-2 on 10 March at 9, 11 and 14 o'clock, entry 3 on 11 March;
    // 0, 2 and 3 with an alarm. Another workstation then takes the alarms of
    // entry `from` (none: -1) and gives entry `to` one (none: -1; 4: a new
    // entry it adds on 11 March).
    void alarmMarksFollowTheAlarms_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("marks");
        QTest::newRow("alarm moved within a day") << 0 << 1 << "-AA|A";
        QTest::newRow("alarm taken on the second day") << 3 << -1 << "A-A|-";
        QTest::newRow("alarm moved to the other day") << 2 << 4 << "A--|AA";
        QTest::newRow("nothing changed") << -1 << -1 << "A-A|A";
    }
    void alarmMarksFollowTheAlarms()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        AppTest::freshWorkstation();
        TScriptedServices services;
        TSession session(services);
        // A new database: its first administrator is logged in without a dialog,
        // named ADMIN where the workstation gives no logon name.
        QCOMPARE(session.StartUp([](const TSession::TCheck&, UserRecord&, QString&) { return false; }, [](const TQuorlaCfg&) {},
                                 [](const QString&) {}),
                 TSession::Start::Running);
        QCOMPARE(session.CurrentUser().UserName(), QStringLiteral("ADMIN"));
        TQuorlaDB& db = *session.Database();
        const QString me = session.CurrentUserKey();
        QStringList keys;
        for (const auto& [day, hour] : {std::pair{10, 9}, {10, 11}, {10, 14}, {11, 10}}) {
            const QString at = AppTest::keyOf(2027, 3, day, hour);
            keys << AppTest::addEntry(db, at, me, {me});
            if (hour != 11)
                AppTest::addAlarm(db, at, me, keys.last());
        }
        TViewAnswers answers(services, session);
        // The marks of both days as a view shows them: each day's entries
        // read, then each line's mark asked for.
        const auto marks = [&] {
            QStringList days;
            for (const int day : {10, 11}) {
                TDayEntries entries;
                answers.WantDayEntries(nullptr, AppTest::keyOf(2027, 3, day), entries);
                QString shown;
                for (int i = 0; i < entries.Count(); ++i) {
                    bool alarmed = false;
                    answers.WantAlarmedFlag(nullptr, entries.PkAt(i), alarmed);
                    shown += alarmed ? QLatin1Char('A') : QLatin1Char('-');
                }
                days << shown;
            }
            return days.join(QLatin1Char('|'));
        };
        QCOMPARE(marks(), QStringLiteral("A-A|A"));

        TQuorlaDB other(TScriptedServices::ofTest());
        AlarmRecord alarm;
        if (from >= 0) {
            QVERIFY(other.Alarms().GetEqual(alarm.bytes(), AlarmRecord::DayEntryKeyIndex, keys[from]));
            QVERIFY(other.Alarms().Delete(other.Alarms().CurrentKey()));
        }
        if (to == 4)
            keys << AppTest::addEntry(other, AppTest::keyOf(2027, 3, 11, 12), me, {me});
        if (to >= 0)
            AppTest::addAlarm(other, AppTest::keyOf(2027, 3, 11, 12), me, keys[to]);
        QTEST(marks(), "marks");
    }

    // A name is looked up once per read of the days (not at every painted
    // line): renamed elsewhere, it shows with the next read.
    void namesFollowTheReadDays()
    {
        AppTest::freshWorkstation();
        TScriptedServices services;
        TSession session(services);
        startAsAdministrator(session);
        TQuorlaDB& db = *session.Database();
        const QString bob = AppTest::addUser(db, QStringLiteral("BOB"), QString(), 0);
        const QString day = AppTest::keyOf(2027, 3, 10);
        AppTest::addEntry(db, AppTest::keyOf(2027, 3, 10, 9), session.CurrentUserKey(), {bob});
        TViewAnswers answers(services, session);
        const auto shown = [&](bool read) {
            TDayEntries entries;
            if (read)
                answers.WantDayEntries(nullptr, day, entries);
            QString name;
            answers.WantUserName(nullptr, bob, name);
            return name;
        };
        QCOMPARE(shown(true), QStringLiteral("BOB"));
        TQuorlaDB other(TScriptedServices::ofTest());
        UserRecord user;
        QVERIFY(other.Users().GetEqual(user.bytes(), 0, bob));
        user.setAbbreviation(QStringLiteral("ROB"));
        QVERIFY(other.Users().Update(user.bytes(), bob));
        QCOMPARE(shown(false), QStringLiteral("BOB"));
        QCOMPARE(shown(true), QStringLiteral("ROB"));
    }

    // The filter on a room shows the events that book it, another's private
    // one only to whoever may see it.
    void filterOnResource()
    {
        AppTest::freshWorkstation();
        TScriptedServices services;
        TSession session(services);
        startAsAdministrator(session);
        TQuorlaDB& db = *session.Database();
        TResourceStore::TResource room{{}, QStringLiteral("Room 1"), {}};
        QCOMPARE(TResourceWriter(db).Add(room), TResourceWriter::Result::Done);
        for (const int hour : {9, 11, 14}) {
            DayEntryRecord entry;
            db.InitDayEntryRecord(entry);
            entry.setStartTime(AppTest::keyOf(2027, 3, 10, hour));
            entry.setAssigneeKeys({session.CurrentUserKey()});
            entry.setFlags(hour == 14 ? DayEntryRecord::Private : 0);
            AlarmRecord alarm;
            db.InitAlarmRecord(alarm);
            TEventWriter(db).insertEntryWithAlarms(entry, alarm, {}, {3600, 1, {}, {}},
                                                   hour != 11 ? QStringList{room.key} : QStringList());
        }
        session.FilterRules().Mode = TFilterRules::ShowResource;
        session.FilterRules().Resource = room.key;
        const auto shown = [&] {
            TDayEntries entries;
            TViewAnswers(services, session).WantDayEntries(nullptr, AppTest::keyOf(2027, 3, 10), entries);
            return entries.Count();
        };
        QCOMPARE(shown(), 2);
        logInBob(session);
        QCOMPARE(shown(), 1);
    }

    // The administrator's private entry, read before BOB logged in at the
    // workstation, is not among the days kept for BOB.
    void outageKeepsOnlyWhatHeMaySee()
    {
        if (!server)
            QSKIP("on a database server only (QUORLA_TEST_ENGINE=postgres)");
        AppTest::freshWorkstation(server->createDatabase(QStringLiteral("outage")));
        TScriptedServices services;
        TSession session(services);
        startAsAdministrator(session);
        TQuorlaDB& db = *session.Database();
        const QString admin = session.CurrentUserKey();
        AppTest::addEntry(db, AppTest::keyOf(2027, 3, 10, 9), admin, {admin}, DayEntryRecord::Private);
        TViewAnswers answers(services, session);
        const auto shown = [&] {
            TDayEntries entries;
            answers.WantDayEntries(nullptr, AppTest::keyOf(2027, 3, 10), entries);
            return entries.Count();
        };
        QCOMPARE(shown(), 1);
        logInBob(session);
        QVERIFY2(server->stop(), qPrintable(server->error()));
        services.expectMessageStartingWith(AppTest::Kind::Error, TXIsamFile::ErrorText(IsamServerLost), AppTest::Answer::Ok);
        QCOMPARE(shown(), 0);
        // The outage is told from the event loop, once the read is over.
        QCoreApplication::processEvents();
        QVERIFY2(server->start(), qPrintable(server->error()));
    }
};

QUORLA_TEST_GUI_MAIN(tst_ViewAnswers)
#include "tst_viewanswers.moc"
