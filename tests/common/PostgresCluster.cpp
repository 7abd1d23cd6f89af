#include "PostgresCluster.h"

#include "TestFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <libpq-fe.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int Port = 5432;
constexpr int ToolTimeoutMs = 120'000;

QString newestBinDir()
{
    const QString chosen = qEnvironmentVariable("QUORLA_PG_BINDIR");
    if (!chosen.isEmpty())
        return chosen;
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : versions) {
        const QString bin = root.filePath(v + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

QString quoted(const QString& text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
}

} // namespace

std::unique_ptr<PostgresCluster> PostgresCluster::ForTestEngine()
{
    if (qgetenv("QUORLA_TEST_ENGINE") != "postgres")
        return nullptr;
    return std::make_unique<PostgresCluster>();
}

PostgresCluster::PostgresCluster(const QStringList& settings)
    : settings_(settings), binDir_(newestBinDir()), asRoot_(::geteuid() == 0)
{
    if (binDir_.isEmpty()) {
        error_ = QStringLiteral("no PostgreSQL server under /usr/lib/postgresql (tools/setup installs it)");
        return;
    }
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/quorla-pg-XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        error_ = QStringLiteral("cannot make the cluster's folder");
        return;
    }
    folder_ = QFile::decodeName(pattern);
    startWatchdog();
    if (asRoot_) {
        const passwd* pw = ::getpwnam("postgres");
        if (!pw || ::chown(pattern.constData(), pw->pw_uid, pw->pw_gid) != 0) {
            error_ = QStringLiteral("no \"postgres\" system user to run the server as");
            return;
        }
    }
    if (!run(binDir_ + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), folder_ + QStringLiteral("/data"), QStringLiteral("-U"), QStringLiteral("postgres"),
              QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C"), QStringLiteral("--no-sync"), QStringLiteral("--no-instructions")}))
        return;
    // The superuser needs no password; every other role logs in with its
    // own, checked by SCRAM, as on an office's server.
    if (!TestFile::write(folder_ + QStringLiteral("/data/pg_hba.conf"),
                         "local all postgres trust\nlocal all all scram-sha-256\n")) {
        error_ = QStringLiteral("cannot write the cluster's pg_hba.conf");
        return;
    }
    start();
}

PostgresCluster::~PostgresCluster()
{
    // The watchdog stops the server and removes the folder, as it would had
    // this process died.
    if (watchdog_ > 0) {
        ::kill(watchdog_, SIGUSR1);
        ::waitpid(watchdog_, nullptr, 0);
    }
}

void PostgresCluster::startWatchdog()
{
    // Everything the watchdog needs is made before the fork: after it, in a
    // copy of a process that may have threads, it makes system calls only.
    const QByteArray pidFile = QFile::encodeName(folder_ + QStringLiteral("/data/postmaster.pid"));
    const QByteArray folder = QFile::encodeName(folder_);
    sigset_t watched, previous;
    sigemptyset(&watched);
    sigaddset(&watched, SIGUSR1);
    sigaddset(&watched, SIGHUP);
    // Blocked before the fork, so that the watchdog cannot miss one.
    ::pthread_sigmask(SIG_BLOCK, &watched, &previous);
    const pid_t parent = ::getpid();
    watchdog_ = ::fork();
    if (watchdog_ == 0) {
        // Out of the test's process group, which a time-out may kill whole;
        // told by the kernel when the test process dies.
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGHUP);
        if (::getppid() == parent) {
            int received = 0;
            ::sigwait(&watched, &received);
        }
        // An immediate shutdown is SIGQUIT to the server's main process, whose
        // number heads its pid file until it is gone; at most 10 seconds.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int fd = ::open(pidFile.constData(), O_RDONLY);
            if (fd < 0)
                break;
            char text[16] = {};
            const ssize_t size = ::read(fd, text, sizeof(text) - 1);
            ::close(fd);
            pid_t server = 0;
            for (ssize_t i = 0; i < size && text[i] >= '0' && text[i] <= '9'; ++i)
                server = server * 10 + (text[i] - '0');
            if (server <= 0)
                break;
            // A server left stopped by freeze() must run to end.
            ::kill(-server, SIGCONT);
            ::kill(server, SIGCONT);
            if (::kill(server, SIGQUIT) != 0)
                break;
            const timespec pause{0, 100'000'000};
            ::nanosleep(&pause, nullptr);
        }
        ::execl("/bin/rm", "rm", "-rf", folder.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool PostgresCluster::run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The test's own folder may be closed to the server's user.
    process.setWorkingDirectory(folder_);
    const QStringList asPostgres{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program};
    process.start(asRoot_ ? QStringLiteral("runuser") : program, asRoot_ ? asPostgres + arguments : arguments);
    if (!process.waitForFinished(ToolTimeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        error_ = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll())
               + process.errorString();
        return false;
    }
    error_.clear();
    return true;
}

bool PostgresCluster::start()
{
    QString options = QStringLiteral("-k %1 -c listen_addresses='' -p %2 -c fsync=off").arg(quoted(folder_)).arg(Port);
    for (const QString& setting : settings_)
        options += QStringLiteral(" -c ") + quoted(setting);
    return run(binDir_ + QStringLiteral("/pg_ctl"),
               {QStringLiteral("-D"), folder_ + QStringLiteral("/data"), QStringLiteral("-l"),
                folder_ + QStringLiteral("/server.log"), QStringLiteral("-w"), QStringLiteral("-t"),
                QStringLiteral("60"), QStringLiteral("-o"), options, QStringLiteral("start")});
}

bool PostgresCluster::stop(bool fast)
{
    return run(binDir_ + QStringLiteral("/pg_ctl"),
               {QStringLiteral("-D"), folder_ + QStringLiteral("/data"), QStringLiteral("-m"),
                fast ? QStringLiteral("fast") : QStringLiteral("immediate"), QStringLiteral("-w"),
                QStringLiteral("stop")});
}

bool PostgresCluster::freeze(bool frozen)
{
    // The main process's number heads its pid file.
    const pid_t server = pid_t(TestFile::read(folder_ + QStringLiteral("/data/postmaster.pid")).split('\n')[0].toInt());
    if (server <= 0) {
        error_ = QStringLiteral("the server is not running");
        return false;
    }
    QList<pid_t> processes;
    // The server's processes are its main process's children.
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const pid_t pid = pid_t(entry.toInt());
        if (pid <= 0)
            continue;
        // "pid (name) state ppid ...": the name may hold spaces; empty when gone.
        const QByteArray line = TestFile::read(QStringLiteral("/proc/%1/stat").arg(pid));
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == server)
            processes << pid;
    }
    // Stopped before its children can be restarted by it; resumed after them.
    if (frozen)
        processes.prepend(server);
    else
        processes.append(server);
    for (pid_t pid : processes) {
        if (::kill(pid, frozen ? SIGSTOP : SIGCONT) != 0 && pid == server) {
            error_ = QStringLiteral("cannot signal the server");
            return false;
        }
    }
    error_.clear();
    return true;
}

QString PostgresCluster::uri(const QString& name) const
{
    return QStringLiteral("postgresql://postgres@/%1?host=%2&port=%3").arg(name, folder_).arg(Port);
}

QString PostgresCluster::personalUri(const QString& name) const
{
    return QStringLiteral("postgresql:///%1?host=%2&port=%3").arg(name, folder_).arg(Port);
}

QString PostgresCluster::createDatabase(const QString& name)
{
    query(QStringLiteral("postgres"), "CREATE DATABASE " + name.toUtf8());
    return error_.isEmpty() ? uri(name) : QString();
}

QString PostgresCluster::query(const QString& database, const QByteArray& sql)
{
    PGconn* conn = PQconnectdb(uri(database).toUtf8().constData());
    QString value;
    if (PQstatus(conn) != CONNECTION_OK) {
        error_ = QString::fromUtf8(PQerrorMessage(conn));
    } else {
        PGresult* result = PQexec(conn, sql.constData());
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
            error_.clear();
            if (PQntuples(result) > 0 && PQnfields(result) > 0)
                value = QString::fromUtf8(PQgetvalue(result, 0, 0));
        } else {
            error_ = QString::fromUtf8(PQresultErrorMessage(result));
        }
        PQclear(result);
    }
    PQfinish(conn);
    return value;
}
