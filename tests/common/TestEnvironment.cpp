#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <ctime>
#include <sys/stat.h>

namespace {
TestEnvironment* instance = nullptr;
}

TestEnvironment::TestEnvironment()
    : dir_(QDir::tempPath() + QStringLiteral("/quorla-test-XXXXXX"))
{
    Q_ASSERT(instance == nullptr);
    instance = this;
    if (!dir_.isValid())
        qFatal("cannot create the test's temporary folder");

    const QString config = dir_.path() + QStringLiteral("/config");
    const QString runtime = dir_.path() + QStringLiteral("/runtime");
    QDir().mkpath(config);
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    // CTest sets the offscreen platform; a test started by hand gets it too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test reaches the desktop's session bus; one that needs a bus starts
    // its own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(runtime) + "/no-session-bus");
    qputenv("TZ", "UTC");
    ::tzset();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
}

TestEnvironment::~TestEnvironment()
{
    instance = nullptr;
}

QString TestEnvironment::freshFolder(const QString& name)
{
    Q_ASSERT(instance != nullptr);
    static int serial = 0;
    const QString path = instance->dir_.path() + QStringLiteral("/%1-%2").arg(name).arg(++serial);
    QDir().mkpath(path);
    return path;
}
