#pragma once

#include "TBusyTimes.h"
#include "TWorkingHours.h"

#include <QList>
#include <QStringList>
#include <QtGlobal>

// "Find a time": the next stretches of a meeting's length within the
// office's working hours where nobody asked for is taken. Times are stamp
// seconds (TStamp: the office's wall-clock time), so working hours are hours
// on the clock on every day, the days the clock changes included.
class TFindTime
{
public:
    TFindTime() = delete;

    // Proposals start on a grid of this many seconds from midnight.
    static constexpr qint64 Step = 15 * 60;

    // The starts of the first `count` stretches of `length` seconds that lie
    // within one working day's hours, start from `from` on and before
    // `until`, and overlap none of `busy` (touching is no overlap); one after
    // another, each beginning on the grid at or after the end of the one
    // before. None for a length of 0 or less, or longer than a working day.
    static QList<qint64> Slots(const QList<TBusyInterval>& busy, const TWorkingHours& hours, qint64 length,
                               qint64 from, qint64 until, int count);

    // Slots over what `times` reads of `people` and `resources` from `from`
    // to `until`, leaving out the entries `leaveOut` (the event being
    // moved).
    static QList<qint64> Search(TBusyTimes& times, const QStringList& people, const QStringList& resources,
                                const TWorkingHours& hours, qint64 length, qint64 from, qint64 until, int count,
                                const QStringList& leaveOut = {});
};
