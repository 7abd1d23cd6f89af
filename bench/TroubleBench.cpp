#include "TroubleBench.h"

#include "BenchServices.h"
#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "DayEntryRecord.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TWorkstationStore.h"
#include "TfrmTrouble.h"
#include "UserRecord.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int Users = 200;
constexpr int Entries = 100000;
constexpr int Alarms = 20000;
constexpr qint64 FirstDay = 1577836800;  // 2020-01-01
constexpr qint64 Span = 5LL * 365 * 86400;

void fillDatabase(const QString& folder)
{
    QRandomGenerator rng(42);
    bulkLoad<UserRecord>(folder + QLatin1Char('/') + UserRecord::FileName, Users, [](int i, UserRecord& r) {
        r.setUserName(QStringLiteral("USER%1").arg(i + 1));
        r.setFullName(QStringLiteral("User number %1").arg(i + 1));
        r.setAbbreviation(QStringLiteral("U%1").arg(i + 1));
    });
    // One owner in fifty and one alarm in fifty point at a record that does
    // not exist, so the "ERR" roads are part of the figure.
    bulkLoad<DayEntryRecord>(folder + QLatin1Char('/') + DayEntryRecord::FileName, Entries,
                             [&rng](int, DayEntryRecord& r) {
                                 r.setStartTime(key(FirstDay + rng.bounded(Span)));
                                 r.setOwnerKey(key(1 + rng.bounded(Users + Users / 49)));
                                 r.setDescription(QStringLiteral("Meeting about the quarterly figures with the team"));
                             });
    bulkLoad<AlarmRecord>(folder + QLatin1Char('/') + AlarmRecord::FileName, Alarms, [&rng](int, AlarmRecord& r) {
        r.setFlags(AlarmRecord::AlarmWanted);
        r.setAlarmTime(key(FirstDay + rng.bounded(Span)));
        r.setDayEntryKey(key(1 + rng.bounded(Entries + Entries / 49)));
        r.setUserKey(key(1 + rng.bounded(Users + Users / 49)));
        r.rebuildUserAlarmKey();
    });
}

} // namespace

void runTroubleBench()
{
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    QTemporaryDir dir;
    check(dir.isValid(), "temporary folder");
    const QString folder = dir.filePath(QStringLiteral("db"));
    check(QDir().mkpath(folder), "database folder");
    {
        TWorkstationStore store;
        check(store.OpenKey(true) && store.WriteString(QStringLiteral("RootPath"), folder), "workstation store");
    }
    fillDatabase(folder);
    TQuorlaDB database(BenchServices::running());

    TfrmTrouble dialog(BenchServices::running());
    auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("pgTrouble"));
    auto* alarms = dialog.findChild<QListWidget*>(QStringLiteral("lstAlarms"));
    auto* events = dialog.findChild<QListWidget*>(QStringLiteral("lstEvents"));
    QElapsedTimer timer;
    qint64 open = 0, toEvents = 0, toAlarms = 0;
    int alarmLines = 0, eventLines = 0;
    QTimer::singleShot(0, &dialog, [&] {
        // The dialog is up with its alarms listed and drawn once.
        open = timer.elapsed();
        alarmLines = alarms->count();
        timer.restart();
        pages->setCurrentIndex(1);
        QApplication::processEvents();
        toEvents = timer.elapsed();
        eventLines = events->count();
        timer.restart();
        pages->setCurrentIndex(0);
        QApplication::processEvents();
        toAlarms = timer.elapsed();
        dialog.done(1);
    });
    timer.start();
    dialog.Execute(database);

    std::printf("Troubleshooting lists (%d users, one owner and alarm reference in fifty dangling)\n", Users);
    std::printf("  open with %6d alarms listed      %6lld ms\n", alarmLines, static_cast<long long>(open));
    std::printf("  switch to %6d events listed      %6lld ms\n", eventLines, static_cast<long long>(toEvents));
    std::printf("  switch back, alarms re-read       %6lld ms\n", static_cast<long long>(toAlarms));
    std::fflush(stdout);
    BenchServices::install(previous);
}
