#include "ReportBench.h"

#include "BenchBulkLoad.h"
#include "DayEntryRecord.h"
#include "TCalendarExport.h"
#include "TQuorlaDB.h"
#include "TReportBuilder.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr qint64 Day = 86400;
constexpr qint64 FirstDay = 1577836800;  // 2020-01-01
constexpr int Days = 5 * 365;
constexpr int Users = 30;
// The report is timed at both sizes; the export at the larger.
constexpr int SmallEntries = 10000;
constexpr int Entries = 100000;

bool fail(const char* what)
{
    std::printf("report bench: set-up failed: %s\n", what);
    return false;
}

// `entries` entries over five years, a fifth un-timed, a tenth private.
bool bulkLoadDays(const QString& path, int entries)
{
    QRandomGenerator rng(entries);
    bulkLoad<DayEntryRecord>(path, entries, [&rng](int, DayEntryRecord& r) {
        r.initialise();
        const qint64 day = FirstDay + Day * rng.bounded(Days);
        const bool untimed = rng.bounded(5) == 0;
        r.setFlags((untimed ? DayEntryRecord::UnTimed : 0) | (rng.bounded(10) == 0 ? DayEntryRecord::Private : 0));
        r.setStartTime(key(untimed ? day : day + 60 * rng.bounded(24 * 60)));
        r.setOwnerKey(key(1 + rng.bounded(Users)));
        r.setDescription(QStringLiteral("Meeting about the quarterly figures with the team"));
        for (int a = 0; a < 5; ++a)
            r.setAssignee(a, key(1 + rng.bounded(Users)));
    });
    return true;
}

// Builds the report `runs` times and prints the mean time per report.
void time(const char* what, TReportBuilder& builder, TXIsamFile& days, TXIsamFile& users, int runs)
{
    QElapsedTimer timer;
    timer.start();
    qsizetype lines = 0;
    for (int i = 0; i < runs; ++i)
        lines = builder.Build(days, users).size();
    std::printf("  %-40s %8.1f ms per report, %lld lines\n", what, double(timer.nsecsElapsed()) / 1e6 / runs,
                static_cast<long long>(lines));
    std::fflush(stdout);
}

// Opens `days` and `users` on a new database in `folder`: `entries` entries
// and the users they name.
bool makeDatabase(const QTemporaryDir& folder, int entries, TXIsamFile& days, TXIsamFile& users)
{
    const QString dayPath = folder.filePath(QStringLiteral("QLDayEnt.Ism"));
    const QString userPath = folder.filePath(QStringLiteral("QLUsers.Ism"));
    if (!folder.isValid() || !bulkLoadDays(dayPath, entries) || !users.CreateDataset(userPath, 10, UserRecord::Format)
        || !users.Open(userPath, 3) || !days.Open(dayPath, 3))
        return fail("datasets");
    for (int i = 1; i <= Users; ++i) {
        UserRecord u;
        u.setFullName(QStringLiteral("User number %1").arg(i));
        users.Insert(u.bytes());
    }
    return true;
}

} // namespace

void runReportBench()
{
    TReportBuilder builder;
    builder.StartDate = QDate(2021, 1, 1);
    builder.EndDate = QDate(2021, 12, 31);
    builder.CurrentUserKey = key(1);
    {
        QTemporaryDir small;
        TXIsamFile days, users;
        if (!makeDatabase(small, SmallEntries, days, users))
            return;
        std::printf("report over 2021 of %d day entries, %d users\n", SmallEntries, Users);
        time("all users", builder, days, users, 3);
    }
    QTemporaryDir folder;
    TXIsamFile days, users;
    if (!makeDatabase(folder, Entries, days, users))
        return;
    std::printf("report over 2021 of %d day entries, %d users\n", Entries, Users);
    time("all users", builder, days, users, 3);
    for (int i = 1; i <= 3; ++i)
        builder.Users.append({key(i), QStringLiteral("User number %1").arg(i)});
    time("three users", builder, days, users, 3);

    // The same year as an iCalendar file: every event of 2021 as user 1 sees it.
    TQuorlaDB database{TDatabaseLocation(folder.path())};
    TCalendarExport calendar;
    calendar.StartDate = QDate(2021, 1, 1);
    calendar.EndDate = QDate(2021, 12, 31);
    calendar.CurrentUserKey = key(1);
    QElapsedTimer timer;
    timer.start();
    int events = 0;
    qsizetype bytes = 0;
    constexpr int Runs = 3;
    for (int i = 0; i < Runs; ++i)
        bytes = calendar.Build(database, &events).size();
    std::printf("  %-40s %8.1f ms per export, %d events, %lld bytes\n", "iCalendar export of 2021",
                double(timer.nsecsElapsed()) / 1e6 / Runs, events, static_cast<long long>(bytes));
}
