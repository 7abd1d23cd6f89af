#include "TDetailsStore.h"

#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QSet>

namespace {

constexpr qint64 Day = 86400;

QString dayKey(const QDate& day)
{
    return RecordKey::format(std::max<qint64>(QDate(1970, 1, 1).daysTo(day), 0) * Day);
}

QString entryOwner(const QString& key)
{
    return DetailRecord::owner(DetailRecord::EntryMark, key);
}

QString seriesOwner(const QString& key)
{
    return DetailRecord::owner(DetailRecord::SeriesMark, key);
}

// A read that found nothing is none; any other failure throws.
void check(bool read, const TXIsamFile& dataset)
{
    if (!read && dataset.LastError() != IsamNotFound)
        throw EQuorlaDB(dataset.ErrorText());
}

void among(TXIsamFile& dataset, std::span<char> record, qint16 index, const QStringList& values,
           const std::function<void()>& take)
{
    if (values.isEmpty())
        return;
    check(dataset.Among(record, index, values, [&] {
        take();
        return true;
    }),
          dataset);
}

// The most days past its start's day an occurrence of a template with
// `head` reaches.
int spanOf(const DetailRecord& head)
{
    return int(std::max<qint64>(head.Days() - 1, (head.Duration() + Day - 1) / Day));
}

} // namespace

TDetailsStore::TDetailsStore(TQuorlaDB& database) : database_(database) {}

QList<DetailRecord> TDetailsStore::recordsOf(const QString& owner)
{
    QList<DetailRecord> records;
    TXIsamFile* details = database_.Details();
    if (!details)
        return records;
    DetailRecord record;
    check(details->Range(record.bytes(), DetailRecord::OfIndex, DetailRecord::of(owner, 0),
                         DetailRecord::of(owner, 999), [&] {
                             records << record;
                             return true;
                         }),
          *details);
    return records;
}

QHash<QString, DetailRecord> TDetailsStore::heads(const QStringList& owners)
{
    QHash<QString, DetailRecord> found;
    TXIsamFile* details = database_.Details();
    if (!details)
        return found;
    QStringList values;
    for (const QString& owner : owners)
        values << DetailRecord::of(owner, 0);
    DetailRecord record;
    among(*details, record.bytes(), DetailRecord::OfIndex, values, [&] { found.insert(record.Owner(), record); });
    return found;
}

QHash<QString, QString> TDetailsStore::seriesOf(const QStringList& entryKeys)
{
    QHash<QString, QString> found;
    TXIsamFile* links = database_.SeriesLinks();
    if (!links)
        return found;
    SeriesLinkRecord link;
    among(*links, link.bytes(), SeriesLinkRecord::EntryKeyIndex, entryKeys, [&] {
        if (!(link.Flags() & SeriesLinkRecord::Deleted))
            found.insert(link.EntryKey(), link.SeriesKey());
    });
    return found;
}

QHash<QString, DayEntryRecord> TDetailsStore::entries(const QStringList& entryKeys)
{
    QHash<QString, DayEntryRecord> found;
    TXIsamFile& dataset = database_.DayEntries();
    DayEntryRecord entry;
    among(dataset, entry.bytes(), TXIsamFile::PrimaryIndex, entryKeys,
          [&] { found.insert(dataset.CurrentKey(), entry); });
    return found;
}

TEntryDetails TDetailsStore::Entry(const QString& entryKey)
{
    const QList<DetailRecord> own = recordsOf(entryOwner(entryKey));
    if (!own.isEmpty())
        return DetailRecords::Join(own);
    const QString series = seriesOf({entryKey}).value(entryKey);
    return series.isEmpty() ? TEntryDetails() : Series(series);
}

TEntryDetails TDetailsStore::Series(const QString& seriesKey)
{
    return DetailRecords::Join(recordsOf(seriesOwner(seriesKey)));
}

QHash<QString, TEntryDetails> TDetailsStore::Entries(const QStringList& entryKeys, bool withNotes)
{
    QHash<QString, TEntryDetails> out;
    if (!database_.Details() || entryKeys.isEmpty())
        return out;
    QStringList owners;
    for (const QString& key : entryKeys)
        owners << entryOwner(key);
    const QHash<QString, DetailRecord> own = heads(owners);
    // The others answer their series' template's, where they are
    // occurrences: one look-up of the links, one of the templates.
    QStringList without;
    for (const QString& key : entryKeys)
        if (!own.contains(entryOwner(key)))
            without << key;
    const QHash<QString, QString> series = seriesOf(without);
    QStringList seriesOwners;
    for (const QString& key : series)
        seriesOwners << seriesOwner(key);
    seriesOwners.removeDuplicates();
    const QHash<QString, DetailRecord> templates = heads(seriesOwners);
    for (const QString& key : entryKeys) {
        const QString owner = own.contains(entryOwner(key)) ? entryOwner(key) : seriesOwner(series.value(key));
        const DetailRecord head = own.contains(owner) ? own.value(owner) : templates.value(owner);
        if (head.Of().isEmpty())
            continue;
        const TEntryDetails details = withNotes && head.Parts() > 0 ? DetailRecords::Join(recordsOf(owner))
                                                                    : DetailRecords::HeadOnly(head);
        if (!details.isEmpty())
            out.insert(key, details);
    }
    return out;
}

QStringList TDetailsStore::occurrencesBefore(const QString& seriesKey, const QDate& first, int span)
{
    QStringList found;
    TXIsamFile* links = database_.SeriesLinks();
    if (!links || span <= 0)
        return found;
    SeriesLinkRecord link;
    check(links->Range(link.bytes(), SeriesLinkRecord::OccurrenceIndex,
                       SeriesLinkRecord::occurrence(seriesKey, dayKey(first.addDays(-span))),
                       SeriesLinkRecord::occurrence(seriesKey, dayKey(first.addDays(-1))), [&] {
                           if (!(link.Flags() & (SeriesLinkRecord::Deleted | SeriesLinkRecord::Pending)))
                               found << link.EntryKey();
                           return true;
                       }),
          *links);
    return found;
}

QStringList TDetailsStore::ReachingInto(const QDate& first, const QDate&)
{
    TXIsamFile* details = database_.Details();
    if (!details)
        return {};
    // The heads that reach into the days or past them: entries' by their
    // last day, templates' that span days all.
    QHash<QString, DetailRecord> reaching;
    QStringList candidates;
    DetailRecord record;
    const auto take = [&] {
        const QString key = record.Owner().mid(1);
        if (record.Owner().startsWith(DetailRecord::EntryMark))
            candidates << key;
        else
            reaching.insert(key, record);
        return true;
    };
    // An entry reaching into `first` from an earlier day ends within
    // ShortReachDays of it, or is one of the few that reach further.
    const QString shortEnd = dayKey(first.addDays(DetailRecord::ShortReachDays));
    check(details->Range(record.bytes(), DetailRecord::ReachIndex, dayKey(first), shortEnd, take), *details);
    check(details->Range(record.bytes(), DetailRecord::ReachIndex, DetailRecord::ReachesOn, DetailRecord::ReachesOn,
                         take),
          *details);
    // An occurrence with details of its own goes by those.
    QStringList occurrences;
    for (auto it = reaching.cbegin(); it != reaching.cend(); ++it)
        occurrences << occurrencesBefore(it.key(), first, spanOf(it.value()));
    QStringList ownersOf;
    for (const QString& key : occurrences)
        ownersOf << entryOwner(key);
    const QHash<QString, DetailRecord> own = heads(ownersOf);
    for (const QString& key : occurrences)
        if (!own.contains(entryOwner(key)))
            candidates << key;
    candidates.removeDuplicates();
    // What the entries say now: another workstation may have moved one.
    const QHash<QString, TEntryDetails> detailsOf = Entries(candidates);
    const QString firstKey = dayKey(first);
    QStringList out;
    const QHash<QString, DayEntryRecord> stored = entries(candidates);
    for (const QString& key : candidates) {
        if (!stored.contains(key) || !detailsOf.contains(key))
            continue;
        const DayEntryRecord& entry = stored[key];
        const bool unTimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
        if (entry.StartTime() < firstKey && DetailRecords::LastDay(detailsOf[key], entry.StartTime(), unTimed) >= firstKey)
            out << key;
    }
    return out;
}
