#include "WeekStepBench.h"

#include "BenchServices.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "BenchWorkstation.h"
#include "TDayEntries.h"
#include "TEntryQuery.h"
#include "TLookup.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TSession.h"
#include "TStamp.h"
#include "TViewAnswers.h"
#include "TViewNavigator.h"
#include "TWeekView.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPixmap>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int Entries = 100000;
const QSize viewSize(1400, 1000);

// The quiet services of a benchmark: nobody to ask, no waits.
class WeekServices : public TQtServices
{
public:
    QString userName() override { return QStringLiteral("BENCH"); }
};

// The program's week page, stepped a week on with Next and painted, as the
// main window does it: the views wired to the session's answers (entries the
// user may see, names and categories from the caches, alarm marks), beside the
// same seven days read alone. Each step goes to a week not shown before.
void measure(TViewNavigator& views, TQuorlaDB& database, const char* layout)
{
    TWeekView& week = *views.WeekView();
    QPixmap canvas(viewSize);
    // The step starts from the first weeks of the five years, the reads alone
    // from the middle: neither meets a week the other has read.
    const QDateTime first(QDate(2020, 1, 8), QTime(12, 0));
    week.ShowWeekOf(first);
    week.RefreshEntries();
    week.render(&canvas); // warm-up: fonts, glyph caches
    int steps = 0;
    const auto step = [&] {
        // Back to the start before the five years run out.
        if (++steps % 120 == 0)
            week.ShowWeekOf(first);
        views.Next();
        QCoreApplication::processEvents();
        week.render(&canvas);
    };
    TStamp day;
    int readWeeks = 0;
    const auto read = [&] {
        // A week a call: back to the middle every 120 weeks, before the
        // five years of data run out (an empty week reads nothing).
        if (readWeeks++ % 120 == 0)
            day.SetDateTime(2022, 7, 4, 0, 0, 0);
        for (int i = 0; i < 7; ++i) {
            int count = 0;
            TEntryQuery::ReadDay(database.DayEntries(), day.Key(),
                                 [&count](const DayEntryRecord&, const QString&) { ++count; });
            day.Increment(TStamp::IncDays, 1);
        }
    };
    const Alternated a = alternate(step, read, 1, 7, 150);
    std::printf("  %-26s %7.2f ms per step   7 days read alone %6.2f ms   step/read time min %5.2f median %5.2f\n",
                layout, 1000.0 / a.first, 1000.0 / a.second, a.minRatio, a.medianRatio);
    // Where a step's time goes: Next (the seven days read, their lists
    // rebuilt) and the paint.
    QElapsedTimer timer;
    qint64 nextNs = 0, paintNs = 0;
    constexpr int Parts = 40;
    for (int i = 0; i < Parts; ++i) {
        timer.start();
        views.Next();
        QCoreApplication::processEvents();
        nextNs += timer.nsecsElapsed();
        timer.start();
        week.render(&canvas);
        paintNs += timer.nsecsElapsed();
    }
    std::printf("  %-26s %7.2f ms Next   %6.2f ms paint\n", "  of which", nextNs / 1e6 / Parts, paintNs / 1e6 / Parts);
    std::fflush(stdout);
    const QByteArray shot = qgetenv("QUORLA_BENCH_SHOT");
    if (!shot.isEmpty())
        canvas.save(QString::fromLocal8Bit(shot) + QStringLiteral("-step-") + QString::fromLatin1(layout)
                    + QStringLiteral(".png"));
}

// Steps timed one by one (median and 90th percentile), each going to a week
// not shown before; with `change`, another workstation adds an alarm before
// each step, untimed: the step must cost the same whoever changed what.
void measureSteps(TViewNavigator& views, const char* what, const std::function<void(int)>& change)
{
    TWeekView& week = *views.WeekView();
    QPixmap canvas(viewSize);
    week.ShowWeekOf(QDateTime(QDate(2020, 1, 8), QTime(12, 0)));
    std::vector<double> times;
    for (int i = 0; i < 120; ++i) {
        if (change)
            change(i);
        QElapsedTimer timer;
        timer.start();
        views.Next();
        QCoreApplication::processEvents();
        week.render(&canvas);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-40s median %6.2f ms   p90 %6.2f ms\n", what, times[times.size() / 2],
                times[times.size() * 9 / 10]);
    std::fflush(stdout);
}

} // namespace

void runWeekStepBench()
{
    QTemporaryDir folder;
    check(folder.isValid(), "temporary folder");
    const BenchWorkstation workstation(folder.path());
    loadCalendar(folder.filePath(QString(DayEntryRecord::FileName)), folder.filePath(QString(AlarmRecord::FileName)),
                 Entries);
    addBenchUsers(folder.path(), Calendar::Users);

    WeekServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    {
        TSession session(BenchServices::running());
        startBenchSession(session);
        TViewNavigator views(nullptr);
        std::unique_ptr<QStackedWidget> pages(views.Pages());
        TViewAnswers answers(BenchServices::running(), session);
        answers.Wire(views);
        views.StartOnWeek();
        pages->resize(viewSize);
        views.WeekView()->resize(viewSize);
        views.WeekView()->setDateFormat(QStringLiteral("dddd, dd mmmm, yyyy"));

        std::printf("week step over %d day entries and %d alarms, %d users, the program's answers\n", Entries,
                    Calendar::Alarms, Calendar::Users);
        measure(views, *session.Database(), "one line");
        measureSteps(views, "one line, steps one by one", {});
        TXIsamFile otherAlarms;
        check(otherAlarms.Open(folder.filePath(QString(AlarmRecord::FileName))), "another workstation's alarms");
        measureSteps(views, "one line, an alarm added before each", [&otherAlarms](int i) {
            AlarmRecord alarm;
            alarm.setFlags(AlarmRecord::AlarmWanted);
            alarm.setAlarmTime(key(Calendar::FirstDay + Calendar::Day * i));
            alarm.setDayEntryKey(key(Entries - i));
            alarm.setUserKey(key(1));
            alarm.rebuildUserAlarmKey();
            check(otherAlarms.Insert(alarm.bytes()), "alarm added");
        });
        TDisplayStyle style = views.WeekView()->Style();
        style.DisplayMode = TDisplayMode::dmDouble;
        views.WeekView()->setStyle(style);
        measure(views, *session.Database(), "two lines");
    }
    BenchServices::install(previous);
}
