#include "TEntrySelection.h"

#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
#include "TStamp.h"
#include "TXIsamFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

QString keyOf(const QDate& date, qint32 plusSeconds)
{
    TStamp stamp;
    stamp.SetDateTime(date.year(), date.month(), date.day(), 0, 0, 0);
    stamp.Increment(TStamp::IncSeconds, plusSeconds);
    return stamp.Key();
}

// Whether every entry of the dataset starts from `first` to `last`: none
// before the first, none after the last (two reads through the start-time
// index). False, too, when a read fails: Read then meets the failure.
bool holdsAll(TXIsamFile& dayEntries, const QString& first, const QString& last)
{
    DayEntryRecord entry;
    if (!dayEntries.Rewind(DayEntryRecord::StartTimeIndex))
        return false;
    if (dayEntries.Get(entry.bytes(), DayEntryRecord::StartTimeIndex, QString(), TXIsamFile::ScanNext)) {
        if (entry.StartTime() < first)
            return false;
    } else {
        return dayEntries.LastError() == IsamNotFound;
    }
    const QString after = RecordKey::format(RecordKey::parse(last) + 1);
    if (dayEntries.GetEqual(entry.bytes(), DayEntryRecord::StartTimeIndex, after))
        return false;
    if (dayEntries.LastError() != IsamNotFound)
        return false;
    return !dayEntries.Get(entry.bytes(), DayEntryRecord::StartTimeIndex, QString(), TXIsamFile::ScanNext)
        && dayEntries.LastError() == IsamNotFound;
}

} // namespace

QString TEntrySelection::FirstKey() const
{
    return keyOf(StartDate, 0);
}

QString TEntrySelection::LastKey() const
{
    return keyOf(EndDate, 86399);
}

void TEntrySelection::Read(TXIsamFile& dayEntries, const TEntryQuery::TTake& take) const
{
    TFilterRules rules;
    if (!Users.isEmpty()) {
        rules.Mode = TFilterRules::ShowChosen;
        for (const User& user : Users)
            rules.Add(user.Key);
    }
    TEntryQuery::Read(dayEntries, FirstKey(), LastKey(), [&](const DayEntryRecord& entry, const QString& key) {
        if (!EntryVisible(rules, CurrentUser, CurrentUserKey, entry))
            return;
        if (RestrictCategory && entry.CategoryKey() != CategoryKey)
            return;
        take(entry, key);
    });
}

void TEntrySelection::ReadMany(TXIsamFile& dayEntries, const TEntryQuery::TTake& take,
                               const std::function<void(qsizetype)>& counted) const
{
    const QString first = FirstKey();
    const QString last = LastKey();
    if (!holdsAll(dayEntries, first, last)) {
        Read(dayEntries, take);
        return;
    }
    TFilterRules rules;
    if (!Users.isEmpty()) {
        rules.Mode = TFilterRules::ShowChosen;
        for (const User& user : Users)
            rules.Add(user.Key);
    }
    // The start of a record as stored.
    const auto startIn = [](const char* record) {
        const char* at = record + DayEntryRecord::StartTimeOffset;
        return std::string_view(at, strnlen(at, DayEntryRecord::StartTimeWidth));
    };
    const QByteArray from = first.toLatin1();
    const QByteArray to = last.toLatin1();
    // The taken records one after another, and the key of each.
    QByteArray records;
    std::vector<QString> keys;
    DayEntryRecord entry;
    const std::size_t size = entry.bytes().size();
    // Room for every record at once (the range holds them all).
    if (const qint32 all = dayEntries.RecordCount(); all > 0) {
        records.reserve(qsizetype(all) * qsizetype(size));
        keys.reserve(std::size_t(all));
    }
    const bool read = dayEntries.Range(entry.bytes(), TXIsamFile::PrimaryIndex, RecordKey::format(0),
                                       RecordKey::format(9999999999), [&] {
                                           const std::string_view start = startIn(entry.bytes().data());
                                           // (An entry written since the look at the range's ends.)
                                           if (start >= from.constData() && start <= to.constData()
                                               && EntryVisible(rules, CurrentUser, CurrentUserKey, entry)
                                               && (!RestrictCategory || entry.CategoryKey() == CategoryKey)) {
                                               records.append(entry.bytes().data(), qsizetype(size));
                                               keys.push_back(dayEntries.CurrentKey());
                                           }
                                           return true;
                                       });
    if (!read && dayEntries.LastError() != IsamNotFound)
        throw EQuorla(dayEntries.ErrorText());
    // Start-time order, entries at the same moment in key order (the index's):
    // each start copied once beside its record's place, zero-filled, so that
    // comparing the bytes is comparing the texts.
    struct TPlace
    {
        std::array<char, DayEntryRecord::StartTimeWidth> start{};
        std::size_t record;
    };
    std::vector<TPlace> places(keys.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
        const std::string_view start = startIn(records.constData() + i * size);
        std::memcpy(places[i].start.data(), start.data(), start.size());
        places[i].record = i;
    }
    std::stable_sort(places.begin(), places.end(),
                     [](const TPlace& a, const TPlace& b) { return a.start < b.start; });
    if (counted)
        counted(qsizetype(places.size()));
    for (const TPlace& place : places) {
        const std::size_t i = place.record;
        std::memcpy(entry.bytes().data(), records.constData() + i * size, size);
        take(entry, keys[i]);
    }
}
