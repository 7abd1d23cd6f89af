#include "FirstWeekBench.h"

#include "BenchBulkLoad.h"
#include "BenchServices.h"
#include "BenchWorkstation.h"
#include "TClock.h"
#include "TQtServices.h"
#include "TSession.h"
#include "TViewAnswers.h"
#include "TViewNavigator.h"
#include "TWeekView.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QStackedWidget>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Large = 1000000;
constexpr int Small = 10000;
constexpr int Rounds = 9;
const QSize viewSize(1400, 1000);

class QuietServices : public TQtServices
{
public:
    QString userName() override { return QStringLiteral("BENCH"); }
};

// What a kept calendar was made of: another build of its records makes it
// anew.
QByteArray recipe(int entries)
{
    return QStringLiteral("%1\n%2\n%3\n%4\n")
        .arg(entries)
        .arg(DayEntryRecord::Format, AlarmRecord::Format, UserRecord::Format)
        .toUtf8();
}

// The calendar of `entries` day entries (loadCalendar's), made once and kept
// in QUORLA_BENCH_KEEP (default ~/.cache/quorla-bench) as week-N: a million
// entries take most of a minute to load. A folder whose recipe is missing or
// differs (a run stopped half-way, another record format) is made anew.
QString keptCalendar(int entries)
{
    QString base = qEnvironmentVariable("QUORLA_BENCH_KEEP");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache/quorla-bench");
    const QString folder = base + QStringLiteral("/week-%1").arg(entries);
    QFile made(folder + QStringLiteral("/recipe"));
    if (made.open(QIODevice::ReadOnly) && made.readAll() == recipe(entries))
        return folder;
    made.close();
    std::printf("  (making the calendar of %d entries in %s, once)\n", entries, qPrintable(folder));
    std::fflush(stdout);
    check(QDir(folder).removeRecursively() && QDir().mkpath(folder), "calendar folder");
    loadCalendar(folder + QLatin1Char('/') + QString(DayEntryRecord::FileName),
                 folder + QLatin1Char('/') + QString(AlarmRecord::FileName), entries);
    addBenchUsers(folder, Calendar::Users);
    check(made.open(QIODevice::WriteOnly) && made.write(recipe(entries)) > 0, "recipe");
    return folder;
}

// As the main window starts: the views made and wired and on today's week
// before anyone is logged in (nothing read), then the session started and
// logged in, the week read and painted. Answers the milliseconds it took.
double startToWeekMs()
{
    QElapsedTimer timer;
    timer.start();
    TViewNavigator views(nullptr);
    std::unique_ptr<QStackedWidget> pages(views.Pages());
    TSession session(BenchServices::running());
    TViewAnswers answers(BenchServices::running(), session);
    answers.Wire(views);
    pages->resize(viewSize);
    views.WeekView()->resize(viewSize);
    views.WeekView()->ShowToday();
    views.StartOnWeek();
    startBenchSession(session);
    views.WeekView()->RefreshEntries();
    QCoreApplication::processEvents();
    QPixmap canvas(viewSize);
    views.WeekView()->render(&canvas);
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

void runFirstWeekBench()
{
    std::printf("start to the first week painted (goal at %d entries: 0.3 s; the process and the main window's "
                "making are the startup figures)\n",
                Large);
    const QString large = keptCalendar(Large);
    const QString small = keptCalendar(Small);
    QuietServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    // A week in the middle of the calendar's five years.
    TClock::setOverride([] { return QDateTime(QDate(2022, 7, 6), QTime(12, 0)); });
    // Each start on a workstation set up for it beforehand; every other
    // round starts with the small calendar.
    const auto startOn = [](const QString& folder) {
        const BenchWorkstation workstation(folder);
        return startToWeekMs();
    };
    std::vector<double> onLarge, onSmall, ratios;
    for (int round = 0; round < Rounds; ++round) {
        const double first = startOn(round % 2 == 0 ? large : small);
        const double second = startOn(round % 2 == 0 ? small : large);
        onLarge.push_back(round % 2 == 0 ? first : second);
        onSmall.push_back(round % 2 == 0 ? second : first);
        ratios.push_back(onLarge.back() / onSmall.back());
    }
    std::printf("  %-34s %8.1f ms   at %d entries %8.1f ms   time ratio min %5.2f median %5.2f\n",
                "start to the week painted", median(onLarge), Small, median(onSmall),
                *std::min_element(ratios.begin(), ratios.end()), median(ratios));
    std::fflush(stdout);
    TClock::setOverride({});
    BenchServices::install(previous);
}
