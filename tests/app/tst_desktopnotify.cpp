// Desktop notifications through the program's real services, on a private
// session bus: a dbus-daemon of the test's own, with a notification service
// in this process that records what reaches it.

#include "QuorlaTest.h"
#include "TestFile.h"
#include "TQtServices.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

namespace {

// Records the calls of org.freedesktop.Notifications and raises its signals.
class Recorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList calls;

public slots:
    // Every note is 41; the test's "sentinel" is 99 and goes unrecorded.
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int timeout)
    {
        if (summary == QLatin1String("sentinel"))
            return 99;
        calls << QStringList{app, summary, body, actions.value(0), QString::number(timeout)}.join('|');
        return 41;
    }
    void CloseNotification(uint id) { calls << QStringLiteral("close %1").arg(id); }

signals:
    void ActionInvoked(uint id, const QString& action);
};

// A session bus that listens in the test's folder and lets anyone send,
// receive and own names.
const char* const BusConfig = "<busconfig><type>session</type><listen>unix:path=%1/bus</listen>"
                              "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                              "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";

} // namespace

class TestDesktopNotify : public QObject
{
    Q_OBJECT

    QProcess daemon;
    Recorder recorder;

private slots:
    void initTestCase()
    {
        const QString folder = TestEnvironment::freshFolder(QStringLiteral("bus"));
        const QString config = folder + QStringLiteral("/session.conf");
        QVERIFY(TestFile::write(config, QString::fromLatin1(BusConfig).arg(folder).toUtf8()));
        daemon.start(QStringLiteral("dbus-daemon"), {"--nofork", "--print-address", "--config-file=" + config});
        QVERIFY2(daemon.waitForReadyRead(10000), "dbus-daemon did not start (tools/setup installs it)");
        // Before the program's first use of the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
        QDBusConnection service = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                                                QStringLiteral("service"));
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    }

    void cleanupTestCase()
    {
        daemon.terminate();
        daemon.waitForFinished();
    }

    void notification_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<bool>("withdrawFirst");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<int>("activations");
        QTest::newRow("shown, then clicked") << true << false << "Quorla|Budget review, 3 > 2|Due Friday|default|0" << 1;
        QTest::newRow("withdrawn before the answer, then clicked")
            << true << true << "Quorla|Budget review, 3 > 2|Due Friday|default|0 close 41" << 0;
        QTest::newRow("no service") << false << false << "" << 0;
    }
    void notification()
    {
        QFETCH(bool, service);
        QFETCH(bool, withdrawFirst);
        QFETCH(QString, calls);
        QDBusConnection bus("service");
        const QString name = QStringLiteral("org.freedesktop.Notifications");
        if (service)
            QVERIFY(bus.registerService(name));
        recorder.calls.clear();
        TQtServices services;
        int activated = 0;
        const quint32 handle = services.notify({"Budget review, 3 > 2", "Due Friday"}, [&] { ++activated; });
        QVERIFY(handle != 0);
        if (withdrawFirst)
            services.withdrawNotification(handle);
        // A round trip on the program's connection: the bus has answered the
        // Notify call before it answers this.
        QVERIFY(QDBusConnection::sessionBus().interface()->isServiceRegistered(name).isValid());
        QTRY_COMPARE(recorder.calls.join(' '), calls);
        if (!service)
            QVERIFY(bus.registerService(name));
        emit recorder.ActionInvoked(41, QStringLiteral("default"));
        // Signals arrive in order: once the sentinel's click has run, the one
        // above has been handled.
        bool sentinel = false;
        services.notify({"sentinel", ""}, [&] { sentinel = true; });
        QTRY_VERIFY((emit recorder.ActionInvoked(99, QStringLiteral("default")), sentinel));
        QTEST(activated, "activations");
        QVERIFY(bus.unregisterService(name));
    }
};

QUORLA_TEST_GUI_MAIN(TestDesktopNotify)
#include "tst_desktopnotify.moc"
