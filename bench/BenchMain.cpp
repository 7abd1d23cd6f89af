// The benchmark program: figures for the engine and the layers above it, each
// beside a baseline measured in the same run where one exists. Build with the
// release preset and run build/release/bench/quorla_bench [store cache view
// month report week firstweek startup trouble poll trail series ical server roles dav davload details bin backup busy rooms]; "server"
// alone runs only the database server's figures, "dav" only the CalDAV service beside Radicale, "davload"
// only the CalDAV service's queries from one client and from 8 at once.

#include "BackupBench.h"
#include "BusyBench.h"
#include "CacheBench.h"
#include "DavBench.h"
#include "BinBench.h"
#include "DetailsBench.h"
#include "RoomsBench.h"
#include "FirstWeekBench.h"
#include "IcalBench.h"
#include "MonthBench.h"
#include "PollBench.h"
#include "ReportBench.h"
#include "RolesBench.h"
#include "SeriesBench.h"
#include "ServerBench.h"
#include "StartupBench.h"
#include "StoreBench.h"
#include "TOfficeLoad.h"
#include "TrailBench.h"
#include "TroubleBench.h"
#include "ViewBench.h"
#include "WeekStepBench.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "officeload-worker") == 0) {
        QCoreApplication app(argc, argv);
        return TOfficeLoad::workerMain(app.arguments().mid(2));
    }
    if (argc > 1 && qstrcmp(argv[1], "backup-writer") == 0) {
        QCoreApplication app(argc, argv);
        return backupWriterMain(app.arguments().mid(2));
    }
    if (argc > 1 && qstrcmp(argv[1], "roles-writer") == 0) {
        QCoreApplication app(argc, argv);
        return rolesWriterMain(app.arguments().mid(2));
    }
    if (argc > 1 && (qstrcmp(argv[1], "--help") == 0 || qstrcmp(argv[1], "-h") == 0)) {
        std::printf(
            "Usage: quorla_bench [NAME...]\n"
            "Runs the benchmarks named (all without a name): store cache view month report week firstweek\n"
            "startup trouble poll trail series ical server roles dav davload details bin backup busy rooms. Build "
            "with the release preset.\n"
            "\n"
            "firstweek: the start to the first week painted at 1,000,000 entries beside 10,000.\n"
            "  QUORLA_BENCH_KEEP=DIR       where its calendars are made once and kept (default\n"
            "                              ~/.cache/quorla-bench/week-N); remove them to start afresh.\n"
            "\n"
            "dav: quorla_dav on a folder and on a private server beside Radicale, on the same events, at\n"
            "10,000 and 100,000 entries.\n"
            "  QUORLA_BENCH_DAV_ENTRIES=N  only the size N (10000 or 100000).\n"
            "  QUORLA_BENCH_DAV_ROUNDS=N   N timed rounds (7 at 10,000, 5 at 100,000); the figures are\n"
            "                              their medians.\n"
            "  QUORLA_BENCH_DAV_KEEP=DIR   where Radicale's storage is kept between runs, one folder per\n"
            "                              size (default ~/.cache/quorla-bench/dav-N). Radicale's first\n"
            "                              query reads every item and caches it (over twenty minutes at\n"
            "                              100,000); later runs reuse the storage and its cache while the\n"
            "                              seeded entries are the same (their hash is kept as 'seed'),\n"
            "                              take out the events earlier runs added and refill it when the\n"
            "                              seed differs. Each run still warms every service with one\n"
            "                              query before timing. Remove the folder to start afresh.\n"
            "  QUORLA_BENCH_DAV_SERVER=1   quorla_dav on the server alone: no folder, no Radicale (for\n"
            "                              profiling the server's road).\n"
            "\n"
            "davload: quorla_dav's one-week queries per second from one client and from 8 at once, on a\n"
            "folder and on a private server, at 10,000 entries.\n"
            "  QUORLA_BENCH_DAV_QUERIES=N  queries per client (default 40).\n");
        return 0;
    }
    QApplication app(argc, argv);
    // The benchmarks point the workstation store at their own folders: keep
    // that in a settings location of this run, never the user's own.
    QTemporaryDir settings;
    if (!settings.isValid()) {
        std::fprintf(stderr, "no temporary folder for the settings\n");
        return 1;
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    // Names given on the command line run those benchmarks alone.
    const QStringList only = app.arguments().mid(1);
    const auto wanted = [&only](const char* name) { return only.isEmpty() || only.contains(QLatin1String(name)); };
    if (wanted("store"))
        runStoreBench();
    if (wanted("cache"))
        runCacheBench();
    if (wanted("view"))
        runViewBench();
    if (wanted("month"))
        runMonthBench();
    if (wanted("report"))
        runReportBench();
    if (wanted("week"))
        runWeekStepBench();
    if (wanted("firstweek"))
        runFirstWeekBench();
    if (wanted("startup"))
        runStartupBench();
    if (wanted("trouble"))
        runTroubleBench();
    if (wanted("poll"))
        runPollBench();
    if (wanted("trail"))
        runTrailBench();
    if (wanted("series"))
        runSeriesBench();
    if (wanted("ical"))
        runIcalBench();
    if (wanted("server"))
        runServerBench(QCoreApplication::applicationFilePath());
    if (wanted("roles"))
        runRolesBench(QCoreApplication::applicationFilePath());
    if (wanted("dav"))
        runDavBench();
    if (wanted("davload"))
        runDavLoadBench();
    if (wanted("details"))
        runDetailsBench();
    if (wanted("bin"))
        runBinBench();
    if (wanted("backup"))
        runBackupBench(QCoreApplication::applicationFilePath());
    if (wanted("busy"))
        runBusyBench();
    if (wanted("rooms"))
        runRoomsBench();
    return 0;
}
