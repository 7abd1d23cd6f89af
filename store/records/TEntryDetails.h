#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

// What an event carries beyond its day entry: its end, the days it spans, a
// place and notes. The day entry (and a series' template) keeps the start, the
// un-timed flag and the one-line summary; these live in a dataset of their own
// beside it, keyed by the entry (or the series), so that every dataset a
// workstation without them reads keeps its layout.
//
// The end is kept as a length from the start, never as a moment: a
// workstation that knows only the day entries may move the start, and the end
// then moves with it.
struct TEntryDetails
{
    // A timed entry: seconds from its start to its end; 0 when it has no end
    // (a point in time, as every entry was before).
    qint32 durationSeconds = 0;
    // An un-timed entry: the days it spans, counting its own (1 = that day
    // alone). Ignored for a timed entry, whose days follow from its length.
    qint32 days = 1;
    QString location;
    QString notes;

    // Limits in bytes of UTF-8; a longer text is refused whole.
    static constexpr int MaxLocationBytes = 255;
    static constexpr int MaxNotesBytes = 32 * 1024;
    // The longest span kept: a longer end is refused. Bounds how far back a
    // reader looks for an entry that began before the days it shows.
    static constexpr int MaxDays = 366;

    // Nothing beyond the day entry: no end, one day, no place, no notes.
    bool isEmpty() const { return durationSeconds == 0 && days <= 1 && location.isEmpty() && notes.isEmpty(); }

    // The last day an entry that starts at `start` reaches: its own day when it
    // has no end; for a timed entry the day of its end, an end at 00:00
    // belonging to the day before.
    QDate lastDay(const QDateTime& start, bool unTimed) const
    {
        if (unTimed)
            return start.date().addDays(qMax(days, 1) - 1);
        if (durationSeconds <= 0)
            return start.date();
        return start.addSecs(qint64(durationSeconds) - 1).date();
    }

    bool operator==(const TEntryDetails&) const = default;
};
