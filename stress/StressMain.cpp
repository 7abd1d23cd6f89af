// The reliability check of the shared folder: several workstation processes
// writing one database through the program's own write paths, crashes, and a
// checker that proves nothing acknowledged was lost or damaged.
//
//   quorla_stress run [--database URI] [--workers N] [--seconds S] [--kills K] <folder>
//   quorla_stress check [--database URI] <folder>
//   quorla_stress short <folder>      3 workers, 20 s without and 20 s with kills
//
// The folder is made afresh (a folder holding anything but an earlier stress
// run is refused). It holds the database, or with --database only the logs
// while the database is on that server, which must be empty: the URI's role
// (one that may create roles) sets up every user's role and checks, and each
// worker logs in as his own. Exit status 0 when every check held.

#include "EQuorla.h"
#include "TDatabaseLocation.h"
#include "TQuorlaDB.h"
#include "TServerRoles.h"
#include "TStressChecker.h"
#include "TStressLog.h"
#include "TStressRunner.h"
#include "TStressServices.h"
#include "TStressWorker.h"
#include "TWorkstationStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <memory>
#include <cstdlib>

namespace {

const char* const Usage = "usage: quorla_stress run [--database URI] [--workers N] [--seconds S] [--kills K] <folder>\n"
                          "       quorla_stress check [--database URI] <folder>\n"
                          "       quorla_stress short <folder>\n";

int usage()
{
    std::fputs(Usage, stderr);
    return 2;
}

// Each process keeps its workstation settings (the database folder) in its own
// place, as separate workstations do; set before anything reads them.
void privateSettings(const QString& folder, const QString& name)
{
    const QString config = QDir(folder).absoluteFilePath(QStringLiteral("config/") + name);
    QDir().mkpath(config);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
}

int worker(const QStringList& a)
{
    // worker <user> <users> <until> <seed> <log> <folder> <database>
    if (a.size() != 9)
        return usage();
    const int user = a[2].toInt();
    privateSettings(a[7], QStringLiteral("worker-%1-%2").arg(user).arg(::getpid()));
    TStressServices services;
    services.host = QFileInfo(a[6]).completeBaseName();
    {
        TWorkstationStore store;
        store.OpenKey(true);
        store.WriteString(QStringLiteral("RootPath"), a[8]);
    }
    TStressLog log(a[6]);
    const qint64 until = a[4].toLongLong();
    // On a server the worker's user logs in as his own role, as a person
    // does; the program's connection to the folder otherwise.
    const TDatabaseLocation location(a[8]);
    const TStressWorker::TConnect connect = [&]() {
        if (!location.IsServer())
            return std::make_unique<TQuorlaDB>(TServices(services));
        return std::make_unique<TQuorlaDB>(TServices(services), location,
                                           TQuorlaDB::TLogin{TServerRoles::RoleName(TStressRunner::WorkerName(user)),
                                                             TStressRunner::WorkerPassword(user)});
    };
    // A worker that starts while the server is away keeps trying to
    // connect until it can, or until its time is up, as a person would.
    std::unique_ptr<TStressWorker> work;
    while (!work) {
        try {
            work = std::make_unique<TStressWorker>(connect, user, a[3].toInt(), a[5].toULongLong(), log);
        } catch (const EQuorla& e) {
            log.note("# cannot connect: " + e.message().toUtf8());
            if (TStressLog::now() >= until)
                break;
            QThread::msleep(500);
        }
    }
    const int failures = work ? work->run(until) : 0;
    log.note("# done, commands failed with an error: " + QByteArray::number(failures));
    return 0;
}

int runRound(TStressServices& services, const QString& program, const QString& folder, const QString& database, int workers, int seconds,
             int kills)
{
    privateSettings(folder + QStringLiteral("-settings"), QStringLiteral("runner"));
    return TStressRunner(services, program, folder, database, workers, seconds, kills).run();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() == 2 && (a[1] == QLatin1String("--help") || a[1] == QLatin1String("-h"))) {
        std::fputs(Usage, stdout);
        return 0;
    }
    // The folder comes last and is never an option: a mistyped option must
    // not become a folder full of workers' databases.
    if (a.size() < 3 || a.last().startsWith(QLatin1Char('-')))
        return usage();
    const QString program = QCoreApplication::applicationFilePath();
    if (a[1] == QLatin1String("worker"))
        return worker(a);

    TStressServices services;
    int status = 2;
    const QString folder = QDir(a.last()).absolutePath();
    // The database: the folder itself, or a server given with --database.
    QString database;
    for (int i = 2; i + 1 < a.size() - 1; ++i)
        if (a[i] == QLatin1String("--database"))
            database = a[i + 1];
    if (!database.isEmpty() && !TDatabaseLocation(database).IsServer())
        return usage();
    if (a[1] == QLatin1String("check")) {
        if (a.size() != (database.isEmpty() ? 3 : 5))
            return usage();
        privateSettings(folder + QStringLiteral("-settings"), QStringLiteral("checker"));
        status = TStressChecker(services, folder, database).check() ? 0 : 1;
    } else if (a[1] == QLatin1String("run")) {
        int workers = 4, seconds = 60, kills = 0;
        if (a.size() % 2 == 0)
            return usage();
        for (int i = 2; i + 1 < a.size() - 1; i += 2) {
            if (a[i] == QLatin1String("--database"))
                continue;
            else if (a[i] == QLatin1String("--workers"))
                workers = a[i + 1].toInt();
            else if (a[i] == QLatin1String("--seconds"))
                seconds = a[i + 1].toInt();
            else if (a[i] == QLatin1String("--kills"))
                kills = a[i + 1].toInt();
            else
                return usage();
        }
        if (workers < 1 || seconds < 1 || kills < 0)
            return usage();
        status = runRound(services, program, folder, database, workers, seconds, kills);
    } else if (a[1] == QLatin1String("short")) {
        std::printf("-- 3 workers, 20 s, no kills\n");
        const int calm = runRound(services, program, folder + QStringLiteral("/calm"), QString(), 3, 20, 0);
        std::printf("-- 3 workers, 20 s, 8 kills\n");
        const int crashes = runRound(services, program, folder + QStringLiteral("/crashes"), QString(), 3, 20, 8);
        status = calm == 0 && crashes == 0 ? 0 : 1;
    } else {
        return usage();
    }
    return status;
}
