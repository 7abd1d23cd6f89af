// A database on a server: what a workstation sees when its stored location is
// a URI - the datasets made there, one session per database object, caches
// that follow other workstations' writes - and the server going away under a
// running workstation and coming back. The dataset contract itself is
// tst_xisamfile's, run against a server too.

#include "EQuorlaCache.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TDatabaseLocation.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TUserCache.h"
#include "TWorkstationStore.h"
#include "UserRecord.h"

#include <memory>

namespace {

const QString Lost = QStringLiteral("The connection to the Quorla database server was lost\r\r");

UserRecord user(const QString& name)
{
    UserRecord r;
    r.setUserName(name);
    r.setFullName(name);
    return r;
}

QString key(int n) { return RecordKey::format(n); }

} // namespace

class tst_PostgresEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<PostgresCluster> server_;
    QString name_;

    // A new, empty database, stored as this workstation's location.
    QString newDatabase()
    {
        static int serial = 0;
        name_ = QStringLiteral("case%1").arg(++serial);
        const QString uri = server_->createDatabase(name_);
        TWorkstationStore store;
        if (uri.isEmpty() || !store.OpenKey(true) || !store.WriteString(QStringLiteral("RootPath"), uri))
            qFatal("cannot prepare a database: %s", qPrintable(server_->error()));
        return uri;
    }

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<PostgresCluster>();
        QVERIFY2(server_->error().isEmpty(), qPrintable(server_->error()));
    }
    void cleanupTestCase() { server_.reset(); }

    // The four datasets are made as tables, the URI stays as stored, no lock
    // warning is shown, and each database object holds one session. A cache
    // reloads after another workstation's write, and only then.
    void twoWorkstations()
    {
        const QString uri = newDatabase();
        TScriptedServices services;
        TQuorlaDB here, elsewhere;
        QCOMPARE(here.RootPath(), uri);
        QCOMPARE(server_->query(name_, "SELECT string_agg(name, ',' ORDER BY id) FROM quorla_datasets"),
                 QStringLiteral("qlusers,qlalarms,qlcat,qldayent,qltrail,qlholders,qlseries,qlserlnk"));
        QCOMPARE(server_->query(name_, "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'quorla'"),
                 QStringLiteral("2"));
        QVERIFY(here.Users().Insert(user(QStringLiteral("ANNA")).bytes()));
        UserRecord read;
        QVERIFY(elsewhere.Users().GetEqual(read.bytes(), 3, QStringLiteral("ANNA")));
        QCOMPARE(read, user(QStringLiteral("ANNA")));

        int loads = 0;
        TUserCache cache(here.Users());
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
        const QString uri = newDatabase();
        TXIsamFile users;
        QVERIFY(!users.Open(TDatabaseLocation(uri).DatasetName(QStringLiteral("QLUsers.Ism"))));
        QCOMPARE(users.ErrorText(), QStringLiteral("DOS function call failure"));
        TScriptedServices services;
        try {
            TQuorlaDB reader(TDatabaseLocation(uri), TQuorlaDB::Opening::ExistingOnly);
            QFAIL("connected");
        } catch (const EQuorlaDB& e) {
            QCOMPARE(e.message(), uri + QStringLiteral(" holds no QLUsers.Ism: it is no Quorla database"));
        }
        QCOMPARE(server_->query(name_, "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"),
                 QStringLiteral("0"));
    }

    // An idle session is let go, and the next call connects again; a session
    // that holds a record lock is kept, since the lock would go with it.
    void idleSessionLetGo()
    {
        newDatabase();
        TScriptedServices services;
        TQuorlaDB here;
        const auto sessions = [&] {
            return server_->query(name_, "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'quorla'");
        };
        QVERIFY(here.Users().Insert(user(QStringLiteral("ANNA")).bytes()));
        QVERIFY(here.Users().Lock(key(1)));
        QTest::qWait(5);
        here.ReleaseIdleSession(0);
        QCOMPARE(sessions(), QStringLiteral("1"));
        {
            TQuorlaDB elsewhere;
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

    // The server stops (as in a crash) under a running workstation: the call
    // that meets it, and every call while it is away, fails with a clear text;
    // the first call after it is back works, nothing acknowledged is lost, and
    // the locks the session held are gone.
    void serverRestart_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("read") << "read";
        QTest::newRow("write") << "write";
        QTest::newRow("lock") << "lock";
        QTest::newRow("cache look-up") << "cache";
    }
    void serverRestart()
    {
        QFETCH(QString, operation);
        newDatabase();
        TScriptedServices services;
        TQuorlaDB db;
        TXIsamFile& users = db.Users();
        for (const char* name : {"ANNA", "BERT", "CARL"})
            QVERIFY(users.Insert(user(QString::fromLatin1(name)).bytes()));
        QVERIFY(users.Lock(key(1)));
        TUserCache cache(users);
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
                try {
                    cache.Lookup(key(2), r);
                } catch (const EQuorlaCache& e) {
                    return e.message();
                }
            return ok ? QString() : users.ErrorText();
        };

        QVERIFY2(server_->stop(), qPrintable(server_->error()));
        for (int call = 0; call < 2; ++call) {
            const QString text = attempt();
            QVERIFY2(text.startsWith(Lost) && text.size() > Lost.size(), qPrintable(text));
        }
        if (operation != "cache")
            QCOMPARE(users.LastError(), qint16(IsamServerLost));
        // A workstation starting meanwhile is told it cannot reach the server.
        try {
            TQuorlaDB another;
            QFAIL("connected to a stopped server");
        } catch (const EQuorlaDB& e) {
            const QString unreachable = QStringLiteral("Unable to connect to the Quorla database server\r\r");
            QVERIFY2(e.message().startsWith(QStringLiteral("Unable to open user isam\r\r") + unreachable),
                     qPrintable(e.message()));
        }

        QVERIFY2(server_->start(), qPrintable(server_->error()));
        QCOMPARE(attempt(), QString());
        QCOMPARE(users.RecordCount(), operation == "write" ? 4 : 3);
        TXIsamFile other;
        QVERIFY(other.Open(users.FileName()));
        QVERIFY2(other.Lock(key(1)), "a lock held across a lost session must be gone");
    }
};

QUORLA_TEST_CORE_MAIN(tst_PostgresEngine)
#include "tst_postgresengine.moc"
