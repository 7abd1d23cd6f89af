#include "TrailBench.h"

#include "BenchServices.h"
#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TChangeTrail.h"
#include "TEventWriter.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TWorkstationStore.h"
#include "TfrmTrouble.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int Users = 200;
constexpr int TrailRecords = 1000000;
constexpr qint64 Day = 86400;
// The trail ends at the moment the benchmark runs, so that retention meets
// it as a workstation would.
const qint64 Now = TStamp().Seconds();
constexpr int SpanDays = 400;

// The Qt services with every message answered at once: the baseline database
// has no trail, and says so.
class QuietServices : public TQtServices
{
public:
    MessageAnswer message(MessageKind, MessageButtons, const QString&) override { return MessageAnswer::Ok; }
};

std::unique_ptr<TQuorlaDB> openAt(const QString& folder)
{
    TWorkstationStore store;
    check(store.OpenKey(true) && store.WriteString(QStringLiteral("RootPath"), folder), "workstation store");
    return std::make_unique<TQuorlaDB>(BenchServices::running());
}

void addUsers(const QString& folder)
{
    bulkLoad<UserRecord>(folder + QLatin1Char('/') + UserRecord::FileName, Users, [](int i, UserRecord& r) {
        r.setUserName(QStringLiteral("USER%1").arg(i + 1));
        r.setFullName(QStringLiteral("User number %1").arg(i + 1));
        r.setAbbreviation(QStringLiteral("U%1").arg(i + 1));
    });
}

// Two assignees and an alarm, as most events have; `alarm` false: the
// cheapest insert, one write.
void insertEvent(TQuorlaDB& db, bool alarm)
{
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(RecordKey::format(Now));
    entry.setOwnerKey(RecordKey::format(1));
    entry.setDescription(QStringLiteral("Weekly planning with the team"));
    entry.setAssigneeKeys({RecordKey::format(1), RecordKey::format(2)});
    AlarmRecord a;
    a.setFlags(alarm ? AlarmRecord::AlarmWanted : 0);
    a.setAlarmTime(RecordKey::format(Now - 600));
    TEventWriter(db).insertEntryWithAlarms(entry, a);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double msOf(const std::function<void()>& op)
{
    QElapsedTimer timer;
    timer.start();
    op();
    return double(timer.nsecsElapsed()) / 1e6;
}


double mean(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return sum / double(v.size());
}

void writeCost(const QString& root)
{
    const QString with = root + QStringLiteral("/with"), without = root + QStringLiteral("/without");
    check(QDir().mkpath(with) && QDir().mkpath(without + QLatin1Char('/') + TrailRecord::FileName), "folders");
    auto trailed = openAt(with);
    auto plain = openAt(without);
    check(trailed->Trail().Available() && !plain->Trail().Available(), "one database with a trail, one without");
    trailed->SetActingUser(RecordKey::format(1));
    constexpr int Pairs = 200;
    std::printf("Change trail: an event insert with its trail record, against the same insert in a database\n"
                "without a trail, one after the other %d times, so that both meet the same disk\n", Pairs);
    for (const bool alarm : {true, false}) {
        std::vector<double> ours, raw, record;
        for (int i = 0; i < Pairs; ++i) {
            ours.push_back(msOf([&] { insertEvent(*trailed, alarm); }));
            raw.push_back(msOf([&] { insertEvent(*plain, alarm); }));
            // The trail's own part of an insert: its record, as the writer
            // makes it.
            record.push_back(msOf([&] {
                trailed->Trail().Record({TChangeTrail::Action::EventAdded, &trailed->DayEntries(), RecordKey::format(1),
                                         TChangeTrail::EntrySubject(RecordKey::format(1)),
                                         QStringLiteral("“Weekly planning with the team”; 01/01/26 10:00; for U1,U2")});
            }));
        }
        std::printf("  %-34s with %6.2f ms, without %6.2f ms (means), added %+5.1f%%; medians %6.2f / %6.2f ms;\n"
                    "  %-34s trail record alone %5.2f ms = %4.1f%% of the insert without\n",
                    alarm ? "two assignees and alarm (3 writes)" : "no alarm (1 write)", mean(ours), mean(raw),
                    100 * (mean(ours) / mean(raw) - 1), median(ours), median(raw), "", mean(record),
                    100 * mean(record) / mean(raw));
    }
}

// The median of five runs of `op`, in milliseconds.
double medianMs(const std::function<void()>& op)
{
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i)
        runs.push_back(msOf(op));
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

void readCost(const QString& root)
{
    const QString folder = root + QStringLiteral("/million");
    check(QDir().mkpath(folder), "folder");
    addUsers(folder);
    QRandomGenerator rng(7);
    // A million changes over 400 days by 200 users, about 2,500 a day; one
    // in a hundred on entry 42 and so in its history.
    bulkLoad<TrailRecord>(folder + QLatin1Char('/') + TrailRecord::FileName, TrailRecords, [&](int i, TrailRecord& r) {
        const QString pk = RecordKey::format(i + 1);
        const qint64 when = Now - SpanDays * Day + qint64(i) * SpanDays * Day / TrailRecords;
        const QString entry = RecordKey::format(i % 100 == 0 ? 42 : 1 + rng.bounded(50000));
        r.setAction(qint32(TChangeTrail::Action::EventChanged));
        r.setMoment(when, RecordKey::format(1 + rng.bounded(Users)), pk);
        r.setWorkstation(QStringLiteral("ws-%1").arg(rng.bounded(40)));
        r.setTarget(QString(DayEntryRecord::FileName), entry, TChangeTrail::EntrySubject(entry));
        r.setSummary(QStringLiteral("time 10:00 → 11:30; assignee added: U17"));
    });
    auto db = openAt(folder);
    TChangeTrail& trail = db->Trail();
    std::printf("Change trail at %d records (%d users, %d days)\n", TrailRecords, Users, SpanDays);
    QList<TChangeTrail::TEntry> page;
    const auto figure = [&](const char* what, const TChangeTrail::TFilter& filter, const QString& after) {
        const double ms = medianMs([&] { page = trail.Latest(filter, after, TfrmTrouble::PageSize); });
        std::printf("  %-40s %4lld changes %8.2f ms\n", what, static_cast<long long>(page.size()), ms);
    };
    figure("latest first, everybody", {}, QString());
    figure("next page", {}, page.isEmpty() ? QString() : page.last().position);
    figure("one user", {RecordKey::format(17), QString(), QString()}, QString());
    figure("everybody, one week ago", {QString(), RecordKey::format(Now - 8 * Day), RecordKey::format(Now - 7 * Day)},
           QString());
    figure("one user, one week ago", {RecordKey::format(17), RecordKey::format(Now - 8 * Day),
                                      RecordKey::format(Now - 7 * Day)}, QString());
    QList<TChangeTrail::TEntry> history;
    const double historyMs = medianMs([&] { history = trail.History(TChangeTrail::EntrySubject(RecordKey::format(42))); });
    std::printf("  %-40s %4lld changes %8.2f ms\n", "an event's history", static_cast<long long>(history.size()),
                historyMs);

    // The page as the administrator sees it: the tab opened, users listed, a
    // hundred lines drawn.
    TfrmTrouble dialog(BenchServices::running());
    auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("pgTrouble"));
    auto* changes = dialog.findChild<QListWidget*>(QStringLiteral("lstChanges"));
    double tabMs = 0;
    int lines = 0;
    QTimer::singleShot(0, &dialog, [&] {
        tabMs = msOf([&] {
            pages->setCurrentWidget(dialog.findChild<QWidget*>(QStringLiteral("tabChanges")));
            QApplication::processEvents();
        });
        lines = changes->count();
        dialog.done(1);
    });
    dialog.Execute(*db);
    std::printf("  %-40s %4d lines   %8.2f ms\n", "Changes page, first screen", lines, tabMs);

    // Retention: 35 of the 400 days are past a year; one poll's batch.
    std::vector<double> batches;
    int removed = 0;
    for (int poll = 0; poll < 20; ++poll) {
        int n = 0;
        batches.push_back(msOf([&] { n = trail.Prune(); }));
        removed += n;
    }
    std::sort(batches.begin(), batches.end());
    std::printf("  %-40s %4d records %6.2f ms median, %.2f ms at most (20 polls)\n", "retention batch",
                removed / 20, batches[batches.size() / 2], batches.back());
}

} // namespace

void runTrailBench()
{
    QuietServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    QTemporaryDir dir;
    check(dir.isValid(), "temporary folder");
    writeCost(dir.path());
    readCost(dir.path());
    std::fflush(stdout);
    BenchServices::install(previous);
}
