#pragma once

#include "TBusyTimes.h"

#include <QDate>
#include <QList>
#include <QString>

class DayEntryRecord;
class TRecurrenceRule;

// The other entries that take a repeating event's assignees at its
// occurrences: every day the series would make, from its first up to the
// horizon it writes (TSeriesWriter::Horizon on `today`; its first day alone
// when that lies past the horizon), is the event (`entry`, with `details`)
// at the same time of day, checked as TBusyTimes::Overlaps checks one event. The occurrences of the series being
// changed (`seriesKey`, and the other parts of its line) are its own, not
// other events; so is the entry being edited (`entryKey`).
class TSeriesOverlaps
{
public:
    struct TFound
    {
        // The overlaps of the first `days` days that have any, in day order
        // and on each day as TBusyTimes::Overlaps lists them.
        QList<TBusyTimes::TOverlap> first;
        // How many days have overlaps in all.
        int days = 0;
    };

    TSeriesOverlaps(TQuorlaDB& database, TBusyTimes& times);

    TFound Find(const DayEntryRecord& entry, const TEntryDetails& details, const TRecurrenceRule& rule,
                const QDate& today, const QString& seriesKey, const QString& entryKey, int days);

private:
    // The time each occurrence of `rule` takes, in day order.
    static QList<TBusyInterval> occurrences(const DayEntryRecord& entry, const TEntryDetails& details,
                                            const TRecurrenceRule& rule, const QDate& today);
    // Whether `entryKey` is an occurrence of the line of `seriesKey`.
    bool ownOccurrence(const QString& entryKey, const QString& seriesKey);

    TQuorlaDB& database_;
    TBusyTimes& times_;
};
