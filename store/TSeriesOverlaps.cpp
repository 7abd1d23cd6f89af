#include "TSeriesOverlaps.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TRecurrenceRule.h"
#include "TSeriesWriter.h"
#include "TStamp.h"

#include <QMap>

#include <algorithm>

namespace {

constexpr qint64 Day = 86400;
// The last day a stamp holds.
const QDate LastDay(2037, 12, 31);

} // namespace

TSeriesOverlaps::TSeriesOverlaps(TQuorlaDB& database, TBusyTimes& times) : database_(database), times_(times) {}

QList<TBusyInterval> TSeriesOverlaps::occurrences(const DayEntryRecord& entry, const TEntryDetails& details,
                                                  const TRecurrenceRule& rule, const QDate& today)
{
    // Stamps count wall-clock seconds: the time of day is the same on every
    // day, daylight saving or not.
    const qint64 timeOfDay = RecordKey::parse(entry.StartTime()) % Day;
    DayEntryRecord one = entry;
    QList<TBusyInterval> taken;
    QList<QDate> days = rule.Days(rule.Start(), TSeriesWriter::Horizon(rule, today));
    // A series that starts past its horizon is checked on its first day, the
    // one an event without a repeat would be checked on.
    if (days.isEmpty())
        days = rule.Days(rule.Start(), LastDay, 1);
    for (const QDate& day : days) {
        TStamp midnight;
        midnight.SetDateTime(day.year(), day.month(), day.day(), 0, 0, 0);
        one.setStartTime(RecordKey::format(midnight.Seconds() + timeOfDay));
        taken << TBusyTimes::Taken(one, details);
    }
    return taken;
}

bool TSeriesOverlaps::ownOccurrence(const QString& entryKey, const QString& seriesKey)
{
    TSeriesWriter series(database_);
    SeriesLinkRecord link;
    if (seriesKey.isEmpty() || !series.LinkOf(entryKey, link))
        return false;
    if (link.SeriesKey() == seriesKey)
        return true;
    SeriesRecord mine;
    SeriesRecord theirs;
    return series.ReadSeries(seriesKey, mine) && series.ReadSeries(link.SeriesKey(), theirs)
        && mine.FirstOfLine(seriesKey) == theirs.FirstOfLine(link.SeriesKey());
}

TSeriesOverlaps::TFound TSeriesOverlaps::Find(const DayEntryRecord& entry, const TEntryDetails& details,
                                              const TRecurrenceRule& rule, const QDate& today,
                                              const QString& seriesKey, const QString& entryKey, int days)
{
    const QList<TBusyInterval> taken = occurrences(entry, details, rule, today);
    if (taken.isEmpty())
        return {};
    const QStringList assignees = entry.AssigneeKeys();
    const QHash<QString, QList<TBusyInterval>> busy = times_.People(
        assignees, taken.first().start, taken.last().end, entryKey.isEmpty() ? QStringList() : QStringList{entryKey});
    QHash<QString, bool> own;
    // By occurrence, then by assignee and start as one event's are.
    QMap<qsizetype, QList<TBusyTimes::TOverlap>> byDay;
    for (const QString& user : assignees)
        for (const TBusyInterval& other : busy.value(user)) {
            // Every occurrence takes as long: their ends are in order too.
            auto at = std::partition_point(taken.cbegin(), taken.cend(),
                                           [&](const TBusyInterval& one) { return one.end <= other.start; });
            for (; at != taken.cend() && at->start < other.end; ++at) {
                if (!own.contains(other.entryKey))
                    own.insert(other.entryKey, ownOccurrence(other.entryKey, seriesKey));
                if (!own.value(other.entryKey))
                    byDay[at - taken.cbegin()].append({user, other});
            }
        }
    TFound found;
    found.days = int(byDay.size());
    for (const QList<TBusyTimes::TOverlap>& day : byDay.values().mid(0, days))
        found.first << day;
    return found;
}
