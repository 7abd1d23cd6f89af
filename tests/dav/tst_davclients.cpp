// Real CalDAV clients against quorla_dav, started on loopback on a database
// of two people: from Debian, the python3-caldav rows (caldav_client.py) and
// a vdirsyncer two-way sync with a local folder (vdirsyncer_sync.sh); from
// the npm registry, tsdav (tsdav/tsdav_client.mjs, run by Node.js). On the
// run's engine: a folder, or (QUORLA_TEST_ENGINE=postgres) the private server,
// the folder copied there by quorla_migrate so each person logs in as his
// own role. Bert has Anna's "Held on a workstation" open meanwhile.
// Passwords are digits: the log-in dialogs keep passwords in capitals, and
// digits read the same whichever way a login compares them.

#include "DavTestSupport.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TScriptedServices.h"
#include "TServerRoles.h"
#include "TUserWriter.h"
#include "TestChild.h"
#include "UserRecord.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <optional>

const QString Week = QStringLiteral("2026-03-02");

class tst_DavClients : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clients_data();
    void clients();
    void cleanupTestCase();

private:
    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<PostgresCluster> server_;
    QString place_;    // what the service and the tools are given
    QString toolPlace_; // what a workstation's tool opens (the server's superuser)
    QString heldKey_;
    QString roomKey_;
    std::unique_ptr<TestChild> holder_;
    QProcess service_;
    QString url_;
};

void tst_DavClients::initTestCase()
{
    services_ = std::make_unique<TScriptedServices>();
    services_->setUserName(QStringLiteral("bert"));
    const QString folder = TestEnvironment::freshFolder(QStringLiteral("office"));
    QString annaKey, bertKey, caraKey;
    {
        TQuorlaDB db{TScriptedServices::ofTest(), TDatabaseLocation(folder)};
        for (const auto& [name, full, password] :
             {std::tuple{"ANNA", "Anna Ash", "2468"}, {"BERT", "Bert Brook", "1357"}, {"CARA", "Cara Cole", "9753"}}) {
            UserRecord user;
            user.setUserName(QLatin1String(name));
            user.setFullName(QLatin1String(full));
            user.setAbbreviation(QLatin1String(name).left(3));
            user.setPassword(QLatin1String(password));
            user.setRights(UserRecord::CanAddEntries);
            const QString who = QLatin1String(name);
            QString& key = who == QLatin1String("ANNA") ? annaKey : who == QLatin1String("BERT") ? bertKey : caraKey;
            QCOMPARE(TUserWriter(db).addUser(user, key), TUserWriter::Result::Done);
        }
        addEntry(db, annaKey, "Week meeting", 0, "2026-03-03T09:00:00");
        addEntry(db, annaKey, "Outside the week", 0, "2026-03-20T09:00:00");
        heldKey_ = addEntry(db, annaKey, "Held on a workstation", 0, "2026-03-05T11:00:00");
        addEntry(db, bertKey, "Bert's private matter", DayEntryRecord::Private, "2026-03-04T10:00:00");
        addEntry(db, bertKey, "Bert's public talk", 0, "2026-03-04T15:00:00");
        roomKey_ = addResource(db, QStringLiteral("Room 1"), QStringLiteral("The big meeting room"));
        addEntry(db, caraKey, "Cara's workshop", 0, "2026-03-03T13:00:00", {}, 90, {roomKey_});
    }
    place_ = toolPlace_ = folder;
    QUORLA_TEST_SERVER(server_);
    if (server_) {
        toolPlace_ = server_->createDatabase(QStringLiteral("office"));
        QProcess migrate;
        migrate.start(QStringLiteral(QUORLA_MIGRATE), {folder + QLatin1Char('/'), toolPlace_});
        QVERIFY(migrate.waitForFinished(60000));
        QVERIFY2(migrate.exitCode() == 0, migrate.readAll().constData());
        place_ = server_->personalUri(QStringLiteral("office"));
    }

    // Bert's workstation has Anna's entry open until the end.
    holder_ = holdingChild([this, bertKey] {
        // On the server his workstation logs in as his own role.
        static auto db = server_ ? std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), TDatabaseLocation(place_),
                                                               TQuorlaDB::TLogin{TServerRoles::RoleName(QStringLiteral("BERT")),
                                                                                 QStringLiteral("1357")})
                                 : std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), TDatabaseLocation(place_));
        db->SetActingUser(bertKey);
        static std::optional<TRecordLock> lock;
        DayEntryRecord entry;
        AlarmRecord alarm;
        bool hadAlarm = false;
        return TEventWriter(*db).openEntry(heldKey_, lock, entry, alarm, hadAlarm) == TEventWriter::Result::Done;
    });
    QVERIFY(holder_);

    QTcpServer probe; // a free port
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();
    url_ = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    service_.setProcessChannelMode(QProcess::ForwardedChannels);
    service_.start(QStringLiteral(QUORLA_DAV),
                   {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--database"), place_});
    QTRY_VERIFY_WITH_TIMEOUT(([port] {
                                 QTcpSocket probe;
                                 probe.connectToHost(QHostAddress::LocalHost, port);
                                 return probe.waitForConnected(200);
                             }()),
                             20000);
}

void tst_DavClients::clients_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("python3-caldav") << QStringList{QStringLiteral("/usr/bin/python3"),
                                                   QStringLiteral(QUORLA_DAV_TESTS "/caldav_client.py")};
    QTest::newRow("vdirsyncer") << QStringList{QStringLiteral("bash"), QStringLiteral(QUORLA_DAV_TESTS "/vdirsyncer_sync.sh")};
    QTest::newRow("tsdav") << QStringList{QStringLiteral("node"), QStringLiteral(QUORLA_DAV_TESTS "/tsdav/tsdav_client.mjs")};
}

void tst_DavClients::clients()
{
    QFETCH(QStringList, command);
    if (QStandardPaths::findExecutable(command.first()).isEmpty())
        QSKIP("the client's runtime is not installed");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DAV_URL"), url_);
    env.insert(QStringLiteral("DAV_USER"), QStringLiteral("anna"));
    env.insert(QStringLiteral("DAV_PASSWORD"), QStringLiteral("2468"));
    env.insert(QStringLiteral("DAV_OTHER_URL"), url_ + QStringLiteral("dav/calendars/bert/default/"));
    env.insert(QStringLiteral("DAV_WEEK"), Week);
    // Each one's busy time that week, by his principal; Bert's private entry
    // busy without its text.
    const QString bert = QStringLiteral("\"20260304T100000Z/20260304T103000Z\", ");
    const QString workshop = QStringLiteral("[\"20260303T130000Z/20260303T143000Z\"]");
    env.insert(QStringLiteral("DAV_BUSY"), QStringLiteral("{\"/dav/principals/BERT/\": [%1\"20260304T150000Z/20260304T153000Z\"], "
                                                          "\"/dav/principals/CARA/\": %2, \"/dav/principals/resource-%3/\": %2}")
                                               .arg(bert, workshop, roomKey_));
    env.insert(QStringLiteral("DAV_PRIVATE_SUMMARY"), QStringLiteral("Bert's private matter"));
    env.insert(QStringLiteral("DAV_OTHERS_SUMMARY"), QStringLiteral("Bert's public talk"));
    env.insert(QStringLiteral("DAV_HELD_SUMMARY"), QStringLiteral("Held on a workstation"));
    env.insert(QStringLiteral("DAV_HELD_BY"), QStringLiteral("Bert Brook"));
    env.insert(QStringLiteral("DAV_WORKSTATION_CHANGE"),
               QStringLiteral("'%1' --database '%2' --user ANNA").arg(QStringLiteral(QUORLA_IMPORT), toolPlace_));
    QProcess client;
    client.setProcessEnvironment(env);
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(command.takeFirst(), command);
    QVERIFY(client.waitForFinished(240000));
    const QByteArray output = client.readAll();
    qInfo().noquote() << output;
    if (client.exitCode() == 77)
        QSKIP("the client is not installed");
    QVERIFY2(client.exitCode() == 0, output.constData());
    QVERIFY(service_.state() == QProcess::Running);
}

void tst_DavClients::cleanupTestCase()
{
    if (service_.state() == QProcess::Running) {
        service_.terminate();
        QVERIFY(service_.waitForFinished(10000));
        QCOMPARE(service_.exitCode(), 0);
    }
    holder_.reset();
}

QUORLA_TEST_CORE_MAIN(tst_DavClients)
#include "tst_davclients.moc"
