#include "TDetailHeads.h"

#include "DetailRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TXIsamFile.h"

#include <algorithm>

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

// The number of DetailRecord::ReachesOn, parsed once rather than per read.
qint64 reachesFar()
{
    static const qint64 far = RecordKey::parse(DetailRecord::ReachesOn);
    return far;
}

} // namespace

quint64 TDetailHeads::NewRead()
{
    static quint64 reads = 0;
    return ++reads;
}

bool TDetailHeads::lookedInRead(THeld& held, const TXIsamFile& dataset, qsizetype asking) const
{
    if (sharedRead_ == 0 || held.lookedIn != sharedRead_ || held.lookedAt != &dataset)
        return false;
    if (!held.fresh)
        held.owed += asking;
    return true;
}

bool TDetailHeads::current(THeld& held, TXIsamFile& dataset, qsizetype asking, qsizetype holding,
                           qsizetype firstWait, void (TDetailHeads::*read)(TXIsamFile&))
{
    if (lookedInRead(held, dataset, asking))
        return held.fresh;
    QByteArray mark;
    if (!dataset.ChangeMark(mark))
        return false;
    held.lookedIn = sharedRead_;
    held.lookedAt = &dataset;
    held.fresh = false;
    const bool before = held.held && held.from == &dataset;
    if (before && mark == held.mark)
        return held.fresh = true;
    held.owed += asking;
    if (held.owed < (before ? holding / OwedShare : firstWait))
        return false;
    // The mark is taken before the read: a write during it moves the mark
    // again, and the next look reads once more.
    held.held = false;
    (this->*read)(dataset);
    held = {mark, &dataset, true, 0, sharedRead_, &dataset, true};
    return true;
}

bool TDetailHeads::Current(TXIsamFile& details, qsizetype asking)
{
    const qsizetype firstWait = wholeFrom_ > 0 && asking >= wholeFrom_ ? 0 : FirstReadOwed;
    return current(heads_, details, asking, entries_.size() + series_.size(), firstWait, &TDetailHeads::read);
}

bool TDetailHeads::ReachingCurrent(TXIsamFile& days, qsizetype asking)
{
    // Their first read waits only for a tenth of the reaching heads: the
    // heads are read in full already, so no start is spared any more, and
    // until it is made every view read pays a statement for a few entries.
    const qsizetype reaching = qsizetype(byReach_.size());
    return current(storedHeld_, days, asking, stored_.size(), reaching / OwedShare, &TDetailHeads::readReaching);
}

void TDetailHeads::read(TXIsamFile& details)
{
    entries_.clear();
    series_.clear();
    byReach_.clear();
    places_.clear();
    // The day entries held are those of the heads read before.
    storedHeld_.held = false;
    storedHeld_.fresh = false;
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
    std::sort(byReach_.begin(), byReach_.end(), [](const TReaching& a, const TReaching& b) {
        return std::pair(a.last, a.head->key) < std::pair(b.last, b.head->key);
    });
}

void TDetailHeads::index(const TTable& heads, bool series)
{
    const qint64 far = reachesFar();
    for (const THead& head : heads.heads())
        if (head.reach != 0)
            byReach_.push_back({head.reach, &head, series,
                                head.reach == far ? 0 : head.reach - qint64(DetailRecords::Span(head.details)) * Day});
}

TDetailHeads::THead TDetailHeads::THead::of(const DetailRecord& head)
{
    const QString reach = head.Reach();
    return {DetailRecords::HeadOnly(head), head.Parts(), reach.isEmpty() ? 0 : RecordKey::parse(reach),
            keyNumber(head.Owner().mid(1))};
}

void TDetailHeads::take(const DetailRecord& head)
{
    THead kept = THead::of(head);
    // Most heads of an office name one of a few places.
    auto place = places_.constFind(kept.details.location);
    if (place == places_.cend())
        place = places_.insert(kept.details.location, kept.details.location);
    kept.details.location = *place;
    // Two heads of one owner are a replacement caught half way by a copy:
    // the later key is the newer.
    (head.Of().startsWith(DetailRecord::SeriesMark) ? series_ : entries_).insert(kept);
}

QStringList TDetailHeads::reachingEntries() const
{
    QStringList keys;
    for (const TReaching& reaching : byReach_)
        if (!reaching.series)
            keys << RecordKey::format(reaching.head->key);
    return keys;
}

void TDetailHeads::readReaching(TXIsamFile& days)
{
    stored_.clear();
    for (TReaching& reaching : byReach_)
        reaching.stored = -1;
    const QStringList keys = reachingEntries();
    if (keys.isEmpty())
        return;
    std::vector<std::pair<qint64, TReachingEntry>> found;
    DayEntryRecord entry;
    const bool read = days.Among(entry.bytes(), TXIsamFile::PrimaryIndex, keys, [&] {
        const QString key = days.CurrentKey();
        const bool unTimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
        found.push_back({keyNumber(key), {{key, entry}, RecordKey::parse(entry.StartTime()), unTimed}});
        return true;
    });
    if (!read && days.LastError() != IsamNotFound)
        throw EQuorlaDB(days.ErrorText());
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (TReaching& reaching : byReach_) {
        const auto at = std::lower_bound(found.begin(), found.end(), reaching.head->key,
                                         [](const auto& stored, qint64 k) { return stored.first < k; });
        if (!reaching.series && at != found.end() && at->first == reaching.head->key)
            reaching.stored = qint32(at - found.begin());
    }
    for (auto& [key, stored] : found)
        stored_.push_back(std::move(stored));
}

void TDetailHeads::ReachingInto(qint64 day, QList<TReachingHead>& entries,
                                QHash<QString, TEntryDetails>& templates) const
{
    const auto take = [&](auto it) {
        if (it->series)
            templates.insert(RecordKey::format(it->head->key), it->head->details);
        else if (it->from < day)
            entries.append({it->head, it - byReach_.begin()});
    };
    const auto from = [this](qint64 last) {
        return std::lower_bound(byReach_.begin(), byReach_.end(), last,
                                [](const TReaching& r, qint64 l) { return r.last < l; });
    };
    // One that, as its head was written, begins on the day or later is
    // among the day's own entries.
    const qint64 far = reachesFar();
    for (auto it = from(day); it != byReach_.end() && it->last <= day + DetailRecord::ShortReachDays * Day; ++it)
        take(it);
    for (auto it = from(far); it != byReach_.end() && it->last == far; ++it)
        take(it);
}

const TDetailHeads::TReachingEntry* TDetailHeads::ReachingEntry(const TReachingHead& reaching) const
{
    const qint32 stored = std::size_t(reaching.at) < byReach_.size() ? byReach_[reaching.at].stored : -1;
    return stored < 0 ? nullptr : &stored_[std::size_t(stored)];
}

void TDetailHeads::TTable::clear()
{
    heads_.clear();
    slots_.clear();
}

std::size_t TDetailHeads::TTable::home(qint64 key) const
{
    // Key numbers come in runs: multiplied by 2^64 over the golden ratio,
    // neighbours land far apart. The table's size is a power of two.
    return std::size_t((quint64(key) * 0x9E3779B97F4A7C15ULL) >> 32) & (slots_.size() - 1);
}

const TDetailHeads::TTable::TSlot& TDetailHeads::TTable::slotOf(qint64 key) const
{
    std::size_t at = home(key);
    while (slots_[at].key != 0 && slots_[at].key != key)
        at = (at + 1) & (slots_.size() - 1);
    return slots_[at];
}

const TDetailHeads::THead* TDetailHeads::TTable::find(qint64 key) const
{
    if (key == 0 || slots_.empty())
        return nullptr;
    const TSlot& slot = slotOf(key);
    return slot.key == 0 ? nullptr : &heads_[std::size_t(slot.at)];
}

void TDetailHeads::TTable::findAll(std::span<const qint64> keys, std::span<const THead*> found) const
{
    if (slots_.empty()) {
        std::fill(found.begin(), found.end(), nullptr);
        return;
    }
    // The slots of a group are asked for before the first is read, and each
    // head as its slot is read: the caller reads the heads after the last
    // look-up, by when the first have come. A group's slots and heads stay
    // within the second level of the cache.
    constexpr std::size_t Group = 256;
    for (std::size_t from = 0; from < keys.size(); from += Group) {
        const std::size_t to = std::min(keys.size(), from + Group);
        for (std::size_t i = from; i < to; ++i)
            __builtin_prefetch(&slots_[home(keys[i])]);
        for (std::size_t i = from; i < to; ++i) {
            found[i] = find(keys[i]);
            if (found[i]) {
                // A head may lie across two lines of the cache.
                __builtin_prefetch(found[i]);
                __builtin_prefetch(reinterpret_cast<const char*>(found[i]) + sizeof(THead) - 1);
            }
        }
    }
}

void TDetailHeads::TTable::insert(const THead& head)
{
    if (head.key == 0)
        return;
    // At most half full, so that a search ends within a slot or two.
    if ((heads_.size() + 1) * 2 > slots_.size())
        grow();
    TSlot& slot = const_cast<TSlot&>(slotOf(head.key));
    if (slot.key != 0) {
        heads_[std::size_t(slot.at)] = head;
        return;
    }
    slot = {head.key, qint64(heads_.size())};
    heads_.push_back(head);
}

void TDetailHeads::TTable::grow()
{
    decltype(slots_) before(std::max<std::size_t>(64, slots_.size() * 2));
    slots_.swap(before);
    for (const TSlot& slot : before)
        if (slot.key != 0)
            const_cast<TSlot&>(slotOf(slot.key)) = slot;
}
