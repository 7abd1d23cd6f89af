#include "MonthBench.h"

#include "BenchFigures.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TDayEntries.h"
#include "TMonthView.h"
#include "TWeekView.h"

#include <QDateTime>
#include <QHash>
#include <QPixmap>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int entriesPerDay = 100;
constexpr int assigneesPerEntry = 3;
const QSize viewSize(1400, 1000);

const char* const descriptions[] = {
    "Team meeting", "Customer call about the new contract", "Budget review", "Dentist",
    "Release planning with the whole department", "Lunch with suppliers", "Interview", "Quarterly figures",
};

// 100 entries a day from 07:00, one every 8 minutes; four un-timed, some
// private, three assignees each, most with a category.
void fillDay(const QString& dayKey, TDayEntries& entries)
{
    const qint64 day = RecordKey::parse(dayKey);
    for (int i = 0; i < entriesPerDay; ++i) {
        DayEntryRecord entry;
        entry.initialise();
        const bool untimed = i % 25 == 0;
        entry.setFlags((untimed ? DayEntryRecord::UnTimed : 0) | (i % 7 == 3 ? DayEntryRecord::Private : 0));
        entry.setStartTime(RecordKey::format(untimed ? day : day + 7 * 3600 + i * 480));
        entry.setOwnerKey(RecordKey::format(1 + i % 10));
        entry.setCategoryKey(i % 4 == 0 ? QString(RecordKey::None) : RecordKey::format(1 + i % 3));
        entry.setDescription(QString::fromLatin1(descriptions[i % 8]));
        QStringList assignees;
        for (int a = 0; a < assigneesPerEntry; ++a)
            assignees.append(RecordKey::format(1 + (i + a) % 10));
        entry.setAssigneeKeys(assignees);
        entries.Add(entry, RecordKey::format(day / 60 + i));
    }
}

// Wires a view's lookups the way the main window answers them from memory.
template <typename View>
void wire(View& view)
{
    static const QHash<QString, QString> users = [] {
        QHash<QString, QString> names;
        const char* const initials[] = {"AB", "CD", "EF", "GH", "JK", "LM", "NP", "QR", "ST", "UV"};
        for (int i = 0; i < 10; ++i)
            names.insert(RecordKey::format(i + 1), QString::fromLatin1(initials[i]));
        return names;
    }();
    view.OnWantDayEntries = [](QObject*, const QString& key, TDayEntries& entries) { fillDay(key, entries); };
    view.OnWantUserName = [](QObject*, const QString& pk, QString& name) { name = users.value(pk); };
    view.OnWantCategoryDescription = [](QObject*, const QString& pk, QString& text) {
        text = pk == RecordKey::format(1) ? QStringLiteral("Meeting") : QStringLiteral("Travel");
    };
    view.OnWantAlarmedFlag = [](QObject*, const QString& pk, bool& alarmed) { alarmed = RecordKey::parse(pk) % 3 == 0; };
    view.resize(viewSize);
}

void measure(TWeekView& week, TMonthView& month, const char* layout)
{
    QPixmap canvas(viewSize);
    week.render(&canvas); // warm-up: fonts, glyph caches
    month.render(&canvas);
    // Rounds taken in turns, the best of each kept: the machine is shared, and
    // a round slowed by others says nothing about the views.
    double weekDraws = 0, monthDraws = 0, weekReads = 0, monthReads = 0;
    for (int round = 0; round < 3; ++round) {
        weekDraws = std::max(weekDraws, opsPerSecond([&] { week.render(&canvas); }, 500));
        monthDraws = std::max(monthDraws, opsPerSecond([&] { month.render(&canvas); }, 500));
        weekReads = std::max(weekReads, opsPerSecond([&] { week.RefreshEntries(); week.render(&canvas); }, 500));
        monthReads = std::max(monthReads, opsPerSecond([&] { month.RefreshEntries(); month.render(&canvas); }, 500));
    }
    std::printf("view: month redraw, %s, %d entries a day, 42 days\n", layout, entriesPerDay);
    std::printf("  %-34s %9.1f draws/s   week %9.1f draws/s   month/week time %5.2f\n", "redraw", monthDraws,
                weekDraws, weekDraws / monthDraws);
    std::printf("  %-34s %9.1f draws/s   week %9.1f draws/s   month/week time %5.2f\n", "read every day, redraw",
                monthReads, weekReads, weekReads / monthReads);
    std::fflush(stdout);
    const QByteArray shot = qgetenv("QUORLA_BENCH_SHOT");
    if (!shot.isEmpty()) {
        month.render(&canvas);
        canvas.save(QString::fromLocal8Bit(shot) + QStringLiteral("-month-") + QString::fromLatin1(layout)
                    + QStringLiteral(".png"));
    }
}

} // namespace

void runMonthBench()
{
    TWeekView week;
    TMonthView month;
    wire(week);
    wire(month);
    week.ArrangeDays();
    week.setDateFormat(QStringLiteral("dddd, dd mmmm, yyyy"));
    const QDateTime shown(QDate(2024, 3, 13), QTime(12, 0));
    week.ShowWeekOf(shown);
    month.ShowMonthOf(shown);

    measure(week, month, "one line");
    TDisplayStyle style = week.Style();
    style.DisplayMode = TDisplayMode::dmDouble;
    week.setStyle(style);
    month.setStyle(style);
    measure(week, month, "two lines");
}
