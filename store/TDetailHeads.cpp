#include "TDetailHeads.h"

#include "DetailRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TXIsamFile.h"

namespace {

// Look-ups made without the heads, as a share of the heads held, after
// which stale heads are read again: a full read costs about what a tenth
// of its records looked up one by one costs.
constexpr qsizetype OwedShare = 10;
// Look-ups made one by one before the first full read: a connection's first
// view (the start's first week) pays for its own entries only, not for a
// read of every head of a large office; a reader that goes on reading pays
// the full read soon after.
constexpr qsizetype FirstReadOwed = 2048;

constexpr qint64 Day = 86400;

} // namespace

bool TDetailHeads::current(THeld& held, TXIsamFile& dataset, qsizetype asking, qsizetype holding,
                           void (TDetailHeads::*read)(TXIsamFile&))
{
    QByteArray mark;
    if (!dataset.ChangeMark(mark))
        return false;
    const bool before = held.held && held.from == &dataset;
    if (before && mark == held.mark)
        return true;
    held.owed += asking;
    if (held.owed < (before ? holding / OwedShare : FirstReadOwed))
        return false;
    // The mark is taken before the read: a write during it moves the mark
    // again, and the next look reads once more.
    held.held = false;
    (this->*read)(dataset);
    held = {mark, &dataset, true, 0};
    return true;
}

bool TDetailHeads::Current(TXIsamFile& details, qsizetype asking)
{
    return current(heads_, details, asking, entries_.size() + series_.size(), &TDetailHeads::read);
}

bool TDetailHeads::ReachingCurrent(TXIsamFile& days, qsizetype asking)
{
    return current(storedHeld_, days, asking, stored_.size(), &TDetailHeads::readReaching);
}

void TDetailHeads::read(TXIsamFile& details)
{
    entries_.clear();
    series_.clear();
    byReach_.clear();
    places_.clear();
    // The day entries held are those of the heads read before.
    storedHeld_.held = false;
    DetailRecord record;
    // In the order of the primary key, which is the order the records lie in.
    const bool read = details.Range(record.bytes(), TXIsamFile::PrimaryIndex, RecordKey::format(0),
                                    QString(10, QLatin1Char('9')), [&] {
                                        if (record.Part() == 0)
                                            take(record);
                                        return true;
                                    });
    if (!read && details.LastError() != IsamNotFound) {
        entries_.clear();
        series_.clear();
        throw EQuorlaDB(details.ErrorText());
    }
    index(entries_, false);
    index(series_, true);
}

void TDetailHeads::index(const QHash<QString, THead>& heads, bool series)
{
    for (auto it = heads.cbegin(); it != heads.cend(); ++it) {
        if (it->reach.isEmpty())
            continue;
        const qint64 last = RecordKey::parse(it->reach);
        const bool far = it->reach == DetailRecord::ReachesOn;
        byReach_.insert(last, {it.key(), series, far ? 0 : last - qint64(DetailRecords::Span(it->details)) * Day});
    }
}

QHash<QString, TDetailHeads::THead>& TDetailHeads::headsOf(QLatin1Char mark)
{
    return mark == DetailRecord::SeriesMark ? series_ : entries_;
}

const QHash<QString, TDetailHeads::THead>& TDetailHeads::headsOf(QLatin1Char mark) const
{
    return mark == DetailRecord::SeriesMark ? series_ : entries_;
}

TDetailHeads::THead TDetailHeads::THead::of(const DetailRecord& head)
{
    return {DetailRecords::HeadOnly(head), head.Parts(), head.Reach()};
}

void TDetailHeads::take(const DetailRecord& head)
{
    THead kept = THead::of(head);
    // Most heads of an office name one of a few places.
    auto place = places_.constFind(kept.details.location);
    if (place == places_.cend())
        place = places_.insert(kept.details.location, kept.details.location);
    kept.details.location = *place;
    const QString owner = head.Owner();
    // Two heads of one owner are a replacement caught half way by a copy:
    // the later key is the newer.
    headsOf(QLatin1Char(owner.at(0).toLatin1())).insert(owner.mid(1), std::move(kept));
}

QStringList TDetailHeads::reachingEntries() const
{
    QStringList keys;
    for (const TReaching& head : byReach_)
        if (!head.series)
            keys << head.key;
    return keys;
}

void TDetailHeads::readReaching(TXIsamFile& days)
{
    stored_.clear();
    const QStringList keys = reachingEntries();
    if (keys.isEmpty())
        return;
    DayEntryRecord entry;
    const bool read = days.Among(entry.bytes(), TXIsamFile::PrimaryIndex, keys, [&] {
        stored_.insert(days.CurrentKey(), entry);
        return true;
    });
    if (!read && days.LastError() != IsamNotFound) {
        stored_.clear();
        throw EQuorlaDB(days.ErrorText());
    }
}

const TDetailHeads::THead* TDetailHeads::Find(QLatin1Char mark, const QString& key) const
{
    const QHash<QString, THead>& heads = headsOf(mark);
    const auto found = heads.constFind(key);
    return found == heads.cend() ? nullptr : &*found;
}

void TDetailHeads::ReachingInto(qint64 day, QStringList& entries, QHash<QString, TEntryDetails>& templates) const
{
    const auto take = [&](const TReaching& head) {
        if (head.series)
            templates.insert(head.key, series_.value(head.key).details);
        else if (head.from < day)
            entries << head.key;
    };
    // One that, as its head was written, begins on the day or later is
    // among the day's own entries.
    const qint64 far = RecordKey::parse(DetailRecord::ReachesOn);
    for (auto it = byReach_.lowerBound(day); it != byReach_.cend() && it.key() <= day + DetailRecord::ShortReachDays * Day; ++it)
        take(*it);
    for (auto it = byReach_.lowerBound(far); it != byReach_.cend() && it.key() == far; ++it)
        take(*it);
}

std::optional<const DayEntryRecord*> TDetailHeads::ReachingEntry(const QString& entryKey) const
{
    const THead* head = Find(DetailRecord::EntryMark, entryKey);
    if (!head || head->reach.isEmpty())
        return std::nullopt;
    const auto found = stored_.constFind(entryKey);
    return found == stored_.cend() ? nullptr : &*found;
}
