#include "BackupBench.h"

#include "BenchBulkLoad.h"
#include "BenchServices.h"
#include "EQuorla.h"
#include "TDatabaseBackup.h"
#include "TEventWriter.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int Entries = 100000;
constexpr int Writers = 3;
constexpr int Rounds = 3;
constexpr int WriterSeconds = 8 + Rounds * 6;

// Messages answered at once: a benchmark waits for nobody.
class QuietServices : public TQtServices
{
public:
    MessageAnswer message(MessageKind, MessageButtons, const QString&) override { return MessageAnswer::Ok; }
};

// One writer's command: when it began (ms since the epoch) and how long it took.
struct Command
{
    qint64 began = 0;
    qint64 took = 0;
};

} // namespace

int backupWriterMain(const QStringList& a)
{
    // <folder> <user number> <seconds>
    if (a.size() != 3)
        return 2;
    QuietServices services;
    BenchServices::install(services);
    TQuorlaDB db(BenchServices::running(), TDatabaseLocation(a[0]));
    db.SetActingUser(key(a[1].toInt()));
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(key(Calendar::FirstDay + 9 * 3600));
    entry.setOwnerKey(key(a[1].toInt()));
    entry.setAssigneeKeys({key(a[1].toInt())});
    entry.setDescription(QStringLiteral("Weekly planning"));
    QElapsedTimer running;
    running.start();
    while (running.elapsed() < a[2].toLongLong() * 1000) {
        AlarmRecord alarm;
        alarm.setFlags(AlarmRecord::AlarmWanted);
        alarm.setAlarmTime(key(Calendar::FirstDay + 8 * 3600));
        const qint64 began = QDateTime::currentMSecsSinceEpoch();
        QElapsedTimer took;
        took.start();
        TEventWriter(db).insertEntryWithAlarms(entry, alarm);
        std::printf("%lld %lld\n", static_cast<long long>(began), static_cast<long long>(took.elapsed()));
    }
    std::fflush(stdout);
    return 0;
}

void runBackupBench(const QString& program)
{
    std::printf("Backup of a folder of %d entries while %d workstations save events\n", Entries, Writers);
    QuietServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    QTemporaryDir folder;
    check(folder.isValid(), "folder");
    const QString root = folder.path() + QStringLiteral("/db/");
    check(QDir().mkpath(root), "database folder");
    loadCalendar(root + QString(DayEntryRecord::FileName), root + QString(AlarmRecord::FileName), Entries);
    { TQuorlaDB made(BenchServices::running(), TDatabaseLocation(root)); }

    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 1; w <= Writers; ++w) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(program, {QStringLiteral("backup-writer"), root, QString::number(w), QString::number(WriterSeconds)});
    }
    QThread::msleep(3000);
    std::vector<std::pair<qint64, qint64>> spans;
    for (int round = 0; round < Rounds; ++round) {
        TDatabaseBackup backup(TDatabaseLocation(root), folder.path() + QStringLiteral("/copy%1").arg(round));
        const qint64 began = QDateTime::currentMSecsSinceEpoch();
        QElapsedTimer took;
        took.start();
        try {
            backup.Run();
        } catch (const EQuorla& e) {
            std::printf("  round %d: no backup: %s\n", round + 1, qPrintable(e.message()));
        }
        spans.emplace_back(began, began + took.elapsed());
        std::printf("  round %d: %-25s %8lld ms  (read %d times, writers paused at most %lld ms)\n", round + 1,
                    "backup", static_cast<long long>(took.elapsed()), backup.Attempts(),
                    static_cast<long long>(backup.LongestPauseMs()));
        QThread::msleep(3000);
    }
    qint64 during = 0, apart = 0;
    int commands = 0;
    for (auto& w : writers) {
        check(w->waitForFinished((WriterSeconds + 60) * 1000), "writer");
        for (const QByteArray& line : w->readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() != 2)
                continue;
            const Command c{f[0].toLongLong(), f[1].toLongLong()};
            ++commands;
            const bool overlaps = std::any_of(spans.cbegin(), spans.cend(), [&](const auto& s) {
                return c.began < s.second && c.began + c.took > s.first;
            });
            (overlaps ? during : apart) = std::max(overlaps ? during : apart, c.took);
        }
    }
    std::printf("  %-34s %8d\n", "writers' commands", commands);
    std::printf("  %-34s %8lld ms\n", "longest command beside a backup", static_cast<long long>(during));
    std::printf("  %-34s %8lld ms\n", "longest command otherwise", static_cast<long long>(apart));
    std::fflush(stdout);
    BenchServices::install(previous);
}
