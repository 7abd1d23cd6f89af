#include "TFindTime.h"

#include <QDate>

#include <algorithm>

namespace {

constexpr qint64 Day = 86400;

struct TSpan
{
    qint64 start;
    qint64 end;
};

// The stretches of `busy` joined where they overlap or touch, in order.
QList<TSpan> joined(const QList<TBusyInterval>& busy)
{
    QList<TSpan> spans;
    for (const TBusyInterval& one : busy)
        spans.append({one.start, one.end});
    std::sort(spans.begin(), spans.end(), [](const TSpan& a, const TSpan& b) { return a.start < b.start; });
    QList<TSpan> out;
    for (const TSpan& span : spans) {
        if (!out.isEmpty() && span.start <= out.last().end)
            out.last().end = std::max(out.last().end, span.end);
        else
            out.append(span);
    }
    return out;
}

// `moment` moved up to the grid of its day.
qint64 onGrid(qint64 moment)
{
    const qint64 day = moment - moment % Day;
    return day + (moment - day + TFindTime::Step - 1) / TFindTime::Step * TFindTime::Step;
}

int weekday(qint64 dayStart)
{
    return QDate(1970, 1, 1).addDays(dayStart / Day).dayOfWeek();
}

} // namespace

QList<qint64> TFindTime::Slots(const QList<TBusyInterval>& busy, const TWorkingHours& hours, qint64 length,
                               qint64 from, qint64 until, int count)
{
    QList<qint64> found;
    const QList<TSpan> taken = joined(busy);
    const qint64 opens = hours.start.msecsSinceStartOfDay() / 1000;
    const qint64 closes = hours.end.msecsSinceStartOfDay() / 1000;
    if (length <= 0 || length > closes - opens)
        return found;
    for (qint64 day = from - from % Day; day < until && found.size() < count; day += Day) {
        if (!hours.worksOn(weekday(day)))
            continue;
        qint64 start = onGrid(std::max(day + opens, from));
        while (start + length <= day + closes && start < until && found.size() < count) {
            // The first taken stretch that ends after the start: the only
            // one that can be in the way.
            const auto next = std::upper_bound(taken.cbegin(), taken.cend(), start,
                                               [](qint64 at, const TSpan& span) { return at < span.end; });
            if (next != taken.cend() && next->start < start + length) {
                start = onGrid(next->end);
                continue;
            }
            found.append(start);
            start = onGrid(start + length);
        }
    }
    return found;
}

QList<qint64> TFindTime::Search(TBusyTimes& times, const QStringList& people, const QStringList& resources,
                                const TWorkingHours& hours, qint64 length, qint64 from, qint64 until, int count,
                                const QStringList& leaveOut)
{
    QList<TBusyInterval> busy;
    for (const QList<TBusyInterval>& one : times.People(people, from, until, leaveOut))
        busy += one;
    for (const QList<TBusyInterval>& one : times.Resources(resources, from, until, leaveOut))
        busy += one;
    return Slots(busy, hours, length, from, until, count);
}
