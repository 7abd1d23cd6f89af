#include "PollBench.h"

#include "BenchServices.h"
#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "TAlarmPoller.h"
#include "TQuorlaDB.h"
#include "TWorkstationStore.h"
#include "TfrmNotify.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

constexpr qint64 Day = 86400;
constexpr qint64 FirstDay = 1893456000;  // 2030-01-01: nothing is due yet
constexpr int Users = 30;

// `count` alarms for random users at random future times.
void bulkLoadAlarms(const QString& path, int count)
{
    QRandomGenerator rng(count);
    bulkLoad<AlarmRecord>(path, count, [&rng](int i, AlarmRecord& r) {
        r.setFlags(AlarmRecord::AlarmWanted);
        r.setAlarmTime(key(FirstDay + rng.bounded(int(365 * Day))));
        r.setDayEntryKey(key(1 + i));
        r.setUserKey(key(1 + rng.bounded(Users)));
        r.rebuildUserAlarmKey();
    });
}

double pollsPerSecond(int alarms)
{
    QTemporaryDir folder;
    check(folder.isValid(), "folder");
    bulkLoadAlarms(folder.filePath(QString(AlarmRecord::FileName)), alarms);
    TWorkstationStore store;
    check(store.OpenKey(true) && store.WriteString(QStringLiteral("RootPath"), folder.path()), "root path");
    TQuorlaDB database(BenchServices::running());
    TfrmNotify notify(BenchServices::running());
    TAlarmPoller poller([&notify](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
        return notify.Execute(alarm, key, database);
    });
    int user = 0;
    return opsPerSecond([&] { poller.Poll(database, key(1 + (user++ % Users))); });
}

} // namespace

void runPollBench()
{
    std::printf("Alarm poll, nothing due (30 users)\n");
    const double small = pollsPerSecond(1000);
    const double large = pollsPerSecond(100000);
    std::printf("  %-34s %12.0f polls/s\n", "1,000 alarms", small);
    std::printf("  %-34s %12.0f polls/s\n", "100,000 alarms", large);
    std::printf("  %-34s %12.2f\n", "time 100,000 / time 1,000", small / large);
    std::fflush(stdout);
}
