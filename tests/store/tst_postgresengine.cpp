// A database on a server: what a workstation sees when its stored location is
// a URI - the datasets made there, one session per database object, caches
// that follow other workstations' writes - and the server going away under a
// running workstation and coming back. The dataset contract itself is
// tst_xisamfile's, run against a server too.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorlaCache.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "PostgresCluster.h"
#include "PostgresConnection.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TCommandScope.h"
#include "TDatabaseLocation.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TUserCache.h"
#include "TestDatabase.h"
#include "UserRecord.h"

#include <QScopeGuard>

#include <memory>

namespace {

const QString Lost = QStringLiteral("The connection to the Quorla database server was lost\r\r");

using TestDatabase::user;

QString key(int n) { return RecordKey::format(n); }

} // namespace

class tst_PostgresEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<PostgresCluster> server_;
    QString name_, uri_;
    std::unique_ptr<TScriptedServices> services_;

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<PostgresCluster>();
        QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
    }
    // Each case on a new, empty database, stored as this workstation's location.
    void init()
    {
        static int serial = 0;
        name_ = QStringLiteral("case%1").arg(++serial);
        uri_ = TestDatabase::fresh(name_, server_.get());
        services_ = std::make_unique<TScriptedServices>();
    }
    void cleanup() { services_.reset(); }
    void cleanupTestCase() { server_.reset(); }

    // The four datasets are made as tables, the URI stays as stored, no lock
    // warning is shown, and each database object holds one session. A cache
    // reloads after another workstation's write, and only then.
    void twoWorkstations()
    {
        TQuorlaDB here(TScriptedServices::ofTest()), elsewhere(TScriptedServices::ofTest());
        QCOMPARE(here.RootPath(), uri_);
        QCOMPARE(server_->query(name_, "SELECT string_agg(name, ',' ORDER BY id) FROM quorla_datasets"),
                 QStringLiteral("qlusers,qlalarms,qlcat,qldayent,qltrail,qlholders,qlseries,qlserlnk,qlimport,qldetail,qlbin,qlres,qlbook"));
        QCOMPARE(server_->query(name_, "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'quorla'"),
                 QStringLiteral("2"));
        // Another session's records, read whole, are tst_xisamfile_postgres's
        // (locksBetweenObjects); here a cache sees them.
        QVERIFY(here.Users().Insert(user(QStringLiteral("ANNA")).bytes()));
        int loads = 0;
        TUserCache cache(here.Users(), TScriptedServices::ofTest().machine());
        cache.OnUpdate = [&](TQuorlaCache& c) {
            ++loads;
            c.FillFrom(here.Users());
        };
        UserRecord u;
        cache.Lookup(key(1), u);
        cache.Lookup(key(1), u);
        QCOMPARE(loads, 1);
        QVERIFY(elsewhere.Users().Insert(user(QStringLiteral("BERT")).bytes()));
        cache.Lookup(key(2), u);
        QCOMPARE(u.UserName(), QStringLiteral("BERT"));
        QCOMPARE(loads, 2);
        // A write that changed nothing is no change.
        QVERIFY(!elsewhere.Users().Update(user(QStringLiteral("CARL")).bytes(), key(9)));
        cache.Lookup(key(1), u);
        QCOMPARE(loads, 2);
    }

    // A fresh, empty server database, before any workstation made its
    // catalog: a dataset that is not there fails in the words a missing file
    // gets, and a reader (quorla_export) finds no Quorla database there and
    // leaves the server as it was.
    void emptyServer()
    {
        TXIsamFile users;
        QVERIFY(!users.Open(TDatabaseLocation(uri_).DatasetName(QStringLiteral("QLUsers.Ism"))));
        QCOMPARE(users.ErrorText(), QStringLiteral("DOS function call failure"));
        QCOMPARE(thrown<EQuorlaDB>([&] { TQuorlaDB reader(TScriptedServices::ofTest(), TDatabaseLocation(uri_), TQuorlaDB::Opening::ExistingOnly); }),
                 uri_ + QStringLiteral(" holds no QLUsers.Ism: it is no Quorla database"));
        QCOMPARE(server_->query(name_, "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"),
                 QStringLiteral("0"));
    }

    // An idle session is let go, and the next call connects again; a session
    // that holds a record lock is kept, since the lock would go with it.
    void idleSessionLetGo()
    {
        TQuorlaDB here(TScriptedServices::ofTest());
        const auto sessions = [&] {
            return server_->query(name_, "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'quorla'");
        };
        QVERIFY(here.Users().Insert(user(QStringLiteral("ANNA")).bytes()));
        QVERIFY(here.Users().Lock(key(1)));
        QTest::qWait(5);
        here.ReleaseIdleSession(0);
        QCOMPARE(sessions(), QStringLiteral("1"));
        {
            TQuorlaDB elsewhere(TScriptedServices::ofTest());
            QVERIFY(!elsewhere.Users().Lock(key(1)));
        }
        QVERIFY(here.Users().Unlock(key(1)));
        QTest::qWait(5);
        here.ReleaseIdleSession(0);
        QCOMPARE(sessions(), QStringLiteral("0"));
        UserRecord read;
        QVERIFY(here.Users().GetEqual(read.bytes(), 0, key(1)));
        QVERIFY(here.Users().Lock(key(1)));
        QCOMPARE(sessions(), QStringLiteral("1"));
    }

    // The server stops (as in a crash) or stalls (SIGSTOP: the machine still
    // answers on the network, the server never does) under a running
    // workstation: the call that meets it, and every call while it is away,
    // fails with a clear text, and a workstation starting meanwhile is told it
    // cannot reach the server. Once the server is back the workstation works
    // again, nothing acknowledged is lost (a write whose answer was lost may
    // have been made), and the locks a lost session held are gone. The fast
    // shutdown, how long a call may block and the rest after a stall are
    // tst_eventcommands' (serverGoesAwayAndComesBack).
    void serverGoesAway_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("stalled");
        QTest::newRow("read") << "read" << false;
        QTest::newRow("write") << "write" << false;
        QTest::newRow("lock") << "lock" << false;
        QTest::newRow("cache look-up") << "cache" << false;
        QTest::newRow("write, stalled") << "write" << true;
    }
    void serverGoesAway()
    {
        QFETCH(QString, operation);
        QFETCH(bool, stalled);
        TQuorlaDB db(TScriptedServices::ofTest());
        TXIsamFile& users = db.Users();
        QVERIFY(TestDatabase::addUsers(users, {"ANNA", "BERT", "CARL"}));
        QVERIFY(users.Lock(key(1)));
        TUserCache cache(users, TScriptedServices::ofTest().machine());
        cache.OnUpdate = [&](TQuorlaCache& c) { c.FillFrom(users); };
        UserRecord u;
        cache.Lookup(key(1), u);

        // The error text of one call; empty when it worked.
        const auto attempt = [&]() -> QString {
            UserRecord r;
            bool ok = true;
            if (operation == "read")
                ok = users.GetEqual(r.bytes(), 0, key(2));
            else if (operation == "write")
                ok = users.Insert(user(QStringLiteral("DORA")).bytes());
            else if (operation == "lock")
                ok = users.Lock(key(2));
            else
                return thrown<EQuorlaCache>([&] { cache.Lookup(key(2), r); });
            return ok ? QString() : users.ErrorText();
        };

        QVERIFY2(stalled ? server_->freeze(true) : server_->stop(false), qPrintable(server_->error()));
        // A stalled server is let go whatever happens here.
        const auto resume = qScopeGuard([&] {
            if (stalled)
                server_->freeze(false);
        });
        for (int call = 0; call < 2; ++call) {
            const QString text = attempt();
            QVERIFY2(text.startsWith(Lost) && text.size() > Lost.size(), qPrintable(text));
            // The open session's call waited for an answer in vain.
            QVERIFY2(!stalled || call > 0 || text.startsWith(Lost + "The database server did not answer within"),
                     qPrintable(text));
        }
        if (operation != "cache")
            QCOMPARE(users.LastError(), IsamServerLost);
        const QString refused = thrown<EQuorlaDB>([] { TQuorlaDB another(TScriptedServices::ofTest()); });
        QVERIFY2(refused.startsWith("Unable to open user isam\r\rUnable to connect to the Quorla database server\r\r"),
                 qPrintable(refused));

        QVERIFY2(stalled ? server_->freeze(false) : server_->start(), qPrintable(server_->error()));
        // After a stall the next connection waits out a rest.
        QString again = attempt();
        for (int tries = 0; stalled && !again.isEmpty() && tries < 200; ++tries) {
            QTest::qWait(100);
            again = attempt();
        }
        QCOMPARE(again, QString());
        const int written = operation == "write" ? 4 : 3;
        const int count = users.RecordCount();
        QVERIFY2(count == written || (stalled && count == written + 1), qPrintable(QString::number(count)));
        // A stalled session's server process may take a moment to see it gone.
        TXIsamFile other;
        QVERIFY(other.Open(users.FileName()));
        QTRY_VERIFY2_WITH_TIMEOUT(other.Lock(key(1)), "a lock held across a lost session must be gone", 5000);
    }

    // An event command's writes - the entry, its alarms, its trail record -
    // stand or fall together. The session lost between two of them leaves
    // nothing; a commit whose answer was lost says the change may have been
    // saved.
    void wholeCommands_data()
    {
        QTest::addColumn<bool>("atCommit");
        QTest::newRow("lost between the writes") << false;
        QTest::newRow("the commit's answer lost") << true;
    }
    void wholeCommands()
    {
        QFETCH(bool, atCommit);
        TQuorlaDB db(TScriptedServices::ofTest());
        QVERIFY(TestDatabase::addUsers(db.Users(), {"ANNA", "BERT"}));
        DayEntryRecord entry = TestDatabase::entry(QStringLiteral("Budget"), {1, 2});
        entry.setStartTime(QStringLiteral("1800000000"));
        AlarmRecord alarm = TestDatabase::alarmAt(QStringLiteral("1799999400"));
        TEventWriter writer(db);
        if (atCommit) {
            // The session ends itself as its transaction commits.
            server_->query(name_, "CREATE FUNCTION quit() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                                  " PERFORM pg_terminate_backend(pg_backend_pid()); RETURN NULL; END $$;"
                                  "CREATE CONSTRAINT TRIGGER quit AFTER INSERT ON qltrail"
                                  " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION quit()");
            QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
        } else {
            writer.OnWrite = [&](const TEventWriter::TWrite& write) {
                if (write.made && write.dataset == &db.Alarms())
                    server_->query(QStringLiteral("postgres"),
                                   "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                   " WHERE application_name = 'quorla'");
            };
        }
        const QString refused = thrown([&] { writer.insertEntryWithAlarms(entry, alarm); });
        if (atCommit)
            QCOMPARE(refused, QString::fromLatin1(TCommandScope::LostWhileSaving));
        else
            QVERIFY2(refused.startsWith(Lost), qPrintable(refused));
        for (const char* table : {"qldayent", "qlalarms", "qltrail"})
            QCOMPARE(server_->query(name_, QByteArray("SELECT count(*) FROM ") + table), QStringLiteral("0"));
        // The next command works on a new session.
        writer.OnWrite = nullptr;
        server_->query(name_, "DROP TRIGGER IF EXISTS quit ON qltrail");
        QVERIFY(!writer.insertEntryWithAlarms(entry, alarm).isEmpty());
        QCOMPARE(server_->query(name_, "SELECT count(*) FROM qlalarms"), QStringLiteral("2"));
        QCOMPARE(server_->query(name_, "SELECT count(*) FROM qltrail"), QStringLiteral("1"));
    }

    // A password in the URI never shows in what the workstation is told,
    // even where libpq quotes the URI it could not read.
    void passwordHidden_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::newRow("unreadable URI") << "postgresql://anna:Pa55word@[::1/quorla";
        QTest::newRow("password parameter") << "postgresql://[::1/quorla?password=Pa55word";
        QTest::newRow("no server there") << "postgresql://anna:Pa55word@/quorla?host=/nonexistent&port=1";
    }
    void passwordHidden()
    {
        QFETCH(QString, uri);
        TXIsamFile users;
        QVERIFY(!users.Open(TDatabaseLocation(uri).DatasetName(QStringLiteral("QLUsers.Ism"))));
        QVERIFY2(!users.ErrorText().contains(QStringLiteral("Pa55word")), qPrintable(users.ErrorText()));
        QVERIFY2(users.ErrorText().size() > 60, qPrintable(users.ErrorText()));
    }

    // The statement time limit every session gets, unless the URI sets its
    // own; the URI's other options stay.
    void statementLimit_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("limit");
        QTest::newRow("default") << QString() << QByteArray("10s");
        QTest::newRow("the URI's own") << "&options=-c%20statement_timeout%3D2500" << QByteArray("2500ms");
        QTest::newRow("other options") << "&options=-c%20search_path%3Dpublic" << QByteArray("10s");
    }
    void statementLimit()
    {
        QFETCH(QString, query);
        PostgresConnection connection((server_->uri(name_) + query).toUtf8());
        PostgresConnection::Result result;
        QCOMPARE(connection.exec({}, "SELECT current_setting('statement_timeout')", {}, result), int(IsamOk));
        QTEST(result.bytes(0, 0), "limit");
    }
};

QUORLA_TEST_CORE_MAIN(tst_PostgresEngine)
#include "tst_postgresengine.moc"
