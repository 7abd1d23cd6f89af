#include "ReportBench.h"

#include "BenchServices.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "DayEntryRecord.h"
#include "TCalendarExport.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TReportBuilder.h"
#include "TXIsamFile.h"
#include "TfrmReportViewer.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

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

// The report as Go runs it: built, handed to the viewer, shown and painted
// once, beside the read of the same entries alone (the floor of any report).
void timeShown(const char* what, TReportBuilder& builder, TfrmReportViewer& viewer, TXIsamFile& days,
               TXIsamFile& users)
{
    qint64 painted = 0;
    const auto shown = [&] {
        const QStringList lines = builder.Build(days, users);
        QTimer::singleShot(0, &viewer, [&] {
            painted += viewer.grab().width();
            viewer.close();
        });
        viewer.Execute(lines);
    };
    // The same until every line is in the viewer.
    const auto whole = [&] {
        const QStringList lines = builder.Build(days, users);
        auto* text = viewer.findChild<QPlainTextEdit*>(QStringLiteral("memReport"));
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &viewer, [&] {
            // (A viewer without parts has them all from the start.)
            if (text == nullptr || text->blockCount() >= lines.size())
                viewer.close();
        });
        poll.start(0);
        viewer.Execute(lines);
    };
    const auto read = [&] {
        int entries = 0;
        builder.Read(days, [&entries](const DayEntryRecord&, const QString&) { ++entries; });
    };
    const Alternated a = alternate(shown, read, 1, 3, 0);
    std::printf("  %-40s %8.1f ms per report   read alone %8.1f ms   shown/read time min %5.2f median %5.2f\n",
                what, 1000.0 / a.first, 1000.0 / a.second, a.minRatio, a.medianRatio);
    const Alternated w = alternate(whole, read, 1, 3, 0);
    std::printf("  %-40s %8.1f ms per report   read alone %8.1f ms   whole/read time min %5.2f median %5.2f\n",
                "  every line in the viewer", 1000.0 / w.first, 1000.0 / w.second, w.minRatio, w.medianRatio);
    std::fflush(stdout);
    if (painted == 0)
        std::printf("  (the viewer painted nothing)\n");
}

// Opens `days` and `users` on a new database in `folder`: `entries` entries
// and the users they name.
bool makeDatabase(const QTemporaryDir& folder, int entries, TXIsamFile& days, TXIsamFile& users)
{
    const QString dayPath = folder.filePath(QStringLiteral("QLDayEnt.Ism"));
    const QString userPath = folder.filePath(QStringLiteral("QLUsers.Ism"));
    if (!folder.isValid() || !bulkLoadDays(dayPath, entries) || !users.CreateDataset(userPath, 10, UserRecord::Format)
        || !users.Open(userPath) || !days.Open(dayPath))
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
    {
        TQtServices services;
        const std::optional<TServices> previous = BenchServices::install(services);
        TfrmReportViewer viewer(BenchServices::running());
        timeShown("all users, Go to the painted viewer", builder, viewer, days, users);
        BenchServices::install(previous);
    }
    for (int i = 1; i <= 3; ++i)
        builder.Users.append({key(i), QStringLiteral("User number %1").arg(i)});
    time("three users", builder, days, users, 3);

    // The same year as an iCalendar file: every event of 2021 as user 1 sees it.
    TQuorlaDB database{BenchServices::running(), TDatabaseLocation(folder.path())};
    TCalendarExport calendar;
    calendar.StartDate = QDate(2021, 1, 1);
    calendar.EndDate = QDate(2021, 12, 31);
    calendar.CurrentUserKey = key(1);
    // As quorla_export runs it, each event's last change from the trail (read
    // anew for each export), beside the same export without the trail.
    int events = 0;
    qsizetype bytes = 0;
    const auto withTrail = [&] {
        calendar.Changes = TCalendarExport::FromTrail(database.Trail());
        bytes = calendar.Build(database, &events).size();
    };
    const auto withoutTrail = [&] {
        calendar.Changes = nullptr;
        calendar.Build(database);
    };
    const Alternated a = alternate(withTrail, withoutTrail, 1, 3, 0);
    std::printf("  %-40s %8.1f ms per export   without the trail %8.1f ms   ratio min %5.2f median %5.2f"
                "   (%d events, %lld bytes)\n",
                "iCalendar export of 2021", 1000.0 / a.first, 1000.0 / a.second, a.minRatio, a.medianRatio, events,
                static_cast<long long>(bytes));
}
