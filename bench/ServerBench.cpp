#include "ServerBench.h"

#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "TIsamEngine.h"
#include "PostgresCluster.h"
#include "TDatabaseCopier.h"
#include "TDatabaseLocation.h"
#include "TEntryQuery.h"
#include "TOfficeLoad.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace Calendar;

constexpr int Entries = 10000;
constexpr int LoadSeconds = 60;
constexpr int LoadProcesses = 4;

// The server against the folder (alternate), with the time of one call.
void printSideBySide(const char* what, const std::function<void()>& server, const std::function<void()>& folder,
                     int rounds = 5, int minMs = 200)
{
    const Alternated a = alternate(server, folder, 1, rounds, minMs);
    std::printf("  %-34s server %9.0f ops/s (%7.3f ms)   folder %9.0f ops/s (%7.3f ms)   server/folder time %6.2f\n",
                what, a.first, 1000 / a.first, a.second, 1000 / a.second, a.medianRatio);
    std::fflush(stdout);
}

void makeFolderDatabase(const QString& folder)
{
    loadCalendar(folder + DayEntryRecord::FileName, folder + AlarmRecord::FileName, Entries);
    TXIsamFile maker;
    check(maker.CreateDataset(folder + UserRecord::FileName, 10, UserRecord::Format)
              && maker.CreateDataset(folder + CategoryRecord::FileName, 10, CategoryRecord::Format),
          "create");
}

void engineSideBySide(PostgresCluster& server, const QString& folder)
{
    const QString uri = server.createDatabase(QStringLiteral("engine"));
    check(!uri.isEmpty(), "server database");
    QElapsedTimer copyTime;
    copyTime.start();
    // Throws, with the reason, when the copy fails.
    TDatabaseCopier{TDatabaseLocation(folder), TDatabaseLocation(uri)}.Run();
    std::printf("  quorla_migrate's copy of %d entries and %d alarms to the server, checked: %.1f s\n", Entries, Alarms,
                double(copyTime.elapsed()) / 1000);

    TXIsamFile serverDays, serverAlarms, folderDays, folderAlarms;
    auto connection = TIsamEngine::forName(uri).connect(uri);
    serverDays.ShareConnection(connection);
    serverAlarms.ShareConnection(connection);
    check(serverDays.Open(TDatabaseLocation(uri).DatasetName(DayEntryRecord::FileName))
              && serverAlarms.Open(TDatabaseLocation(uri).DatasetName(AlarmRecord::FileName))
              && folderDays.Open(folder + DayEntryRecord::FileName)
              && folderAlarms.Open(folder + AlarmRecord::FileName),
          "open");

    int dayIndex = 0;
    const auto nextDay = [&] { return FirstDay + Day * ((dayIndex = (dayIndex * 7 + 13) % Days)); };
    const auto readDay = [](TXIsamFile& f, qint64 dayStart) {
        TEntryQuery::ReadDay(f, key(dayStart), [](const DayEntryRecord&, const QString&) {});
    };
    const auto readWeek = [&](TXIsamFile& f) {
        const qint64 monday = nextDay();
        for (int d = 0; d < 7; ++d)
            readDay(f, monday + d * Day);
    };
    printSideBySide("one day (the views' query)", [&] { readDay(serverDays, nextDay()); },
                    [&] { readDay(folderDays, nextDay()); });
    printSideBySide("one week (seven days)", [&] { readWeek(serverDays); }, [&] { readWeek(folderDays); });
    int user = 0;
    AlarmRecord alarm;
    const auto poll = [&](TXIsamFile& f) {
        const QString u = key(1 + (user++ % Users));
        f.GetEqual(alarm.bytes(), AlarmRecord::UserAlarmIndex, u)
            || f.Get(alarm.bytes(), AlarmRecord::UserAlarmIndex, u, TXIsamFile::ScanPrefix);
    };
    printSideBySide("alarm poll (look-up, then mode 64)", [&] { poll(serverAlarms); }, [&] { poll(folderAlarms); });
    QByteArray mark;
    printSideBySide("change mark (a cache look-up)", [&] { serverDays.ChangeMark(mark); },
                    [&] { folderDays.ChangeMark(mark); });
    printSideBySide("NextKey alone", [&] { serverDays.NextKey(); }, [&] { folderDays.NextKey(); });
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(key(FirstDay));
    printSideBySide("insert with the next key (synced)", [&] { check(serverDays.Insert(entry.bytes()), "insert"); },
                    [&] { check(folderDays.Insert(entry.bytes()), "insert"); }, 3, 300);
}

} // namespace

void runServerBench(const QString& program)
{
    std::printf("Database server (a private PostgreSQL cluster on a UNIX socket, fsync on) beside the folder\n");
    // Room for the largest office and the measuring sessions.
    PostgresCluster server({QStringLiteral("max_connections=600"), QStringLiteral("fsync=on")});
    if (!server.error().isEmpty()) {
        std::printf("  no server: %s\n", qPrintable(server.error()));
        return;
    }
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/");
    makeFolderDatabase(folder);
    std::printf("%d day entries, %d alarms\n", Entries, Alarms);
    engineSideBySide(server, folder);

    std::printf("The office: each workstation polls every 10 s and adds an event with an alarm a minute; %d s each, "
                "%d load processes\n",
                LoadSeconds, LoadProcesses);
    const QString office = server.createDatabase(QStringLiteral("office"));
    check(!office.isEmpty() && TOfficeLoad::prepare(office, 500), "office database");
    for (int workstations : {50, 200, 500})
        TOfficeLoad::print(TOfficeLoad::run(program, office, workstations, LoadSeconds, LoadProcesses));
}
