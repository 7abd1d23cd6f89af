// The views' answers on a real session: the alarm marks of a day's entries
// follow the alarms dataset at each read of the day, whichever workstation
// changed it; while a server is away, only what the user logged in may see
// is kept.

#include "AlarmRecord.h"
#include "AppTestSupport.h"
#include "DayEntryRecord.h"
#include "IsamCode.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TDayEntries.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TSession.h"
#include "TViewAnswers.h"
#include "TXIsamFile.h"

// With QUORLA_TEST_ENGINE=postgres: the server that goes away.
static std::unique_ptr<PostgresCluster> server;

class tst_ViewAnswers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }

    void alarmMarksFollowTheAlarms()
    {
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
        for (const int hour : {9, 11, 14}) {
            const QString at = AppTest::keyOf(2027, 3, 10, hour);
            keys << AppTest::addEntry(db, at, me, {me});
            if (hour != 11)
                AppTest::addAlarm(db, at, me, keys.last());
        }
        TViewAnswers answers(services, session);
        const auto marks = [&] {
            TDayEntries entries;
            answers.WantDayEntries(nullptr, AppTest::keyOf(2027, 3, 10), entries);
            QString shown;
            for (int i = 0; i < entries.Count(); ++i) {
                bool alarmed = false;
                answers.WantAlarmedFlag(nullptr, entries.PkAt(i), alarmed);
                shown += alarmed ? QLatin1Char('A') : QLatin1Char('-');
            }
            return shown;
        };
        QCOMPARE(marks(), QStringLiteral("A-A"));

        // Another workstation moves the first entry's alarm to the second.
        TQuorlaDB other(TScriptedServices::ofTest());
        AlarmRecord alarm;
        QVERIFY(other.Alarms().GetEqual(alarm.bytes(), AlarmRecord::DayEntryKeyIndex, keys[0]));
        QVERIFY(other.Alarms().Delete(other.Alarms().CurrentKey()));
        alarm.setDayEntryKey(keys[1]);
        QVERIFY(other.Alarms().Insert(alarm.bytes()));
        QCOMPARE(marks(), QStringLiteral("-AA"));
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
        session.StartUp([](const TSession::TCheck&, UserRecord&, QString&) { return false; }, [](const TQuorlaCfg&) {},
                        [](const QString&) {});
        TQuorlaDB& db = *session.Database();
        const QString admin = session.CurrentUserKey();
        AppTest::addEntry(db, AppTest::keyOf(2027, 3, 10, 9), admin, {admin}, DayEntryRecord::Private);
        const QString bobKey = AppTest::addUser(db, QStringLiteral("BOB"), QString(), UserRecord::CanAddEntries);
        UserRecord bob;
        QVERIFY(db.Users().GetEqual(bob.bytes(), 0, bobKey));
        TViewAnswers answers(services, session);
        const auto shown = [&] {
            TDayEntries entries;
            answers.WantDayEntries(nullptr, AppTest::keyOf(2027, 3, 10), entries);
            return entries.Count();
        };
        QCOMPARE(shown(), 1);
        session.SetCurrentUser(bob, bobKey);
        QVERIFY2(server->stop(), qPrintable(server->error()));
        services.expectMessageStartingWith(AppTest::Kind::Error, TXIsamFile::ErrorText(IsamServerLost), AppTest::Answer::Ok);
        QCOMPARE(shown(), 0);
        QVERIFY2(server->start(), qPrintable(server->error()));
    }
};

QUORLA_TEST_GUI_MAIN(tst_ViewAnswers)
#include "tst_viewanswers.moc"
