#include "TDetailsStore.h"

#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "TDetailHeads.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QMap>
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

// The most days past its start's day an entry, or an occurrence of a
// template, with `details` reaches.
int spanOf(const TEntryDetails& details)
{
    return int(std::max<qint64>(details.days - 1, (qint64(details.durationSeconds) + Day - 1) / Day));
}

TDetailHeads::THead headOf(const DetailRecord& record)
{
    return {DetailRecords::HeadOnly(record), record.Parts(), record.Reach()};
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

TDetailsStore::THeads TDetailsStore::heads(const QStringList& owners, bool held)
{
    THeads found;
    TXIsamFile* details = database_.Details();
    if (!details)
        return found;
    if (held) {
        const TDetailHeads& cache = database_.DetailHeads();
        for (const QString& owner : owners)
            if (const TDetailHeads::THead* head = cache.Find(owner))
                found.insert(owner, *head);
        return found;
    }
    QStringList values;
    for (const QString& owner : owners)
        values << DetailRecord::of(owner, 0);
    DetailRecord record;
    among(*details, record.bytes(), DetailRecord::OfIndex, values,
          [&] { found.insert(record.Owner(), headOf(record)); });
    return found;
}

QHash<QString, QString> TDetailsStore::notesOf(const THeads& heads, const QStringList& owners)
{
    QStringList values;
    for (const QString& owner : QSet<QString>(owners.cbegin(), owners.cend()))
        for (int part = 1; part <= heads.value(owner).parts; ++part)
            values << DetailRecord::of(owner, part);
    QHash<QString, QMap<int, QString>> pieces;
    DetailRecord record;
    among(*database_.Details(), record.bytes(), DetailRecord::OfIndex, values,
          [&] { pieces[record.Owner()].insert(record.Part(), record.Body()); });
    // Only a whole set of parts: the notes as written, or none.
    QHash<QString, QString> notes;
    for (auto it = pieces.cbegin(); it != pieces.cend(); ++it)
        if (it->size() == heads.value(it.key()).parts)
            notes.insert(it.key(), it->values().join(QString()));
    return notes;
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
    TXIsamFile* details = database_.Details();
    if (!details || entryKeys.isEmpty())
        return {};
    return entriesBy(entryKeys, withNotes, database_.DetailHeads().Current(*details, entryKeys.size()));
}

QHash<QString, TEntryDetails> TDetailsStore::entriesBy(const QStringList& entryKeys, bool withNotes, bool held)
{
    QHash<QString, TEntryDetails> out;
    QStringList owners;
    for (const QString& key : entryKeys)
        owners << entryOwner(key);
    THeads found = heads(owners, held);
    // The others answer their series' template's, where they are
    // occurrences: one look-up of the links, one of the templates.
    QStringList without;
    for (const QString& key : entryKeys)
        if (!found.contains(entryOwner(key)))
            without << key;
    const QHash<QString, QString> series = seriesOf(without);
    QStringList seriesOwners;
    for (const QString& key : series)
        seriesOwners << seriesOwner(key);
    seriesOwners.removeDuplicates();
    found.insert(heads(seriesOwners, held));
    QStringList ownerOf;
    for (const QString& key : entryKeys)
        ownerOf << (found.contains(entryOwner(key)) ? entryOwner(key) : seriesOwner(series.value(key)));
    const QHash<QString, QString> notes = withNotes ? notesOf(found, ownerOf) : QHash<QString, QString>();
    for (qsizetype i = 0; i < entryKeys.size(); ++i) {
        const auto head = found.constFind(ownerOf[i]);
        if (head == found.cend())
            continue;
        TEntryDetails one = head->details;
        one.notes = notes.value(ownerOf[i]);
        if (!one.isEmpty())
            out.insert(entryKeys[i], one);
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

QStringList TDetailsStore::ReachingInto(const QDate& first, const QDate& last)
{
    QStringList keys;
    for (const auto& [key, entry] : ReachingEntries(first, last))
        keys << key;
    return keys;
}

QStringList TDetailsStore::reachingByIndex(const QDate& first, QHash<QString, TEntryDetails>& templates)
{
    TXIsamFile& details = *database_.Details();
    QStringList candidates;
    DetailRecord record;
    const auto take = [&] {
        const QString key = record.Owner().mid(1);
        if (record.Owner().startsWith(DetailRecord::EntryMark))
            candidates << key;
        else
            templates.insert(key, DetailRecords::HeadOnly(record));
        return true;
    };
    // An entry reaching into `first` from an earlier day ends within
    // ShortReachDays of it, or is one of the few that reach further.
    const QString shortEnd = dayKey(first.addDays(DetailRecord::ShortReachDays));
    check(details.Range(record.bytes(), DetailRecord::ReachIndex, dayKey(first), shortEnd, take), details);
    check(details.Range(record.bytes(), DetailRecord::ReachIndex, DetailRecord::ReachesOn, DetailRecord::ReachesOn,
                        take),
          details);
    return candidates;
}

QStringList TDetailsStore::reachingHeld(const QDate& first, QHash<QString, TEntryDetails>& templates)
{
    const TDetailHeads& cache = database_.DetailHeads();
    const qint64 firstDay = RecordKey::parse(dayKey(first));
    QStringList candidates;
    const QStringList owners = cache.ReachingFrom(dayKey(first), dayKey(first.addDays(DetailRecord::ShortReachDays)))
        + cache.ReachingFrom(DetailRecord::ReachesOn, DetailRecord::ReachesOn);
    for (const QString& owner : owners) {
        const TDetailHeads::THead& head = *cache.Find(owner);
        if (!owner.startsWith(DetailRecord::EntryMark)) {
            templates.insert(owner.mid(1), head.details);
            continue;
        }
        // One that, as its head was written, begins on the first day or
        // later is not read: it is among the days' own entries.
        if (head.reach != DetailRecord::ReachesOn
            && RecordKey::parse(head.reach) - qint64(spanOf(head.details)) * Day >= firstDay)
            continue;
        candidates << owner.mid(1);
    }
    return candidates;
}

QList<std::pair<QString, DayEntryRecord>> TDetailsStore::ReachingEntries(const QDate& first, const QDate&)
{
    TXIsamFile* details = database_.Details();
    if (!details)
        return {};
    // The heads that reach into the days or past them: entries' by their
    // last day, templates' that span days all.
    QHash<QString, TEntryDetails> templates;
    const bool held = database_.DetailHeads().Current(*details, 0);
    QStringList candidates = held ? reachingHeld(first, templates) : reachingByIndex(first, templates);
    // An occurrence with details of its own goes by those.
    QStringList occurrences;
    for (auto it = templates.cbegin(); it != templates.cend(); ++it)
        occurrences << occurrencesBefore(it.key(), first, spanOf(it.value()));
    QStringList ownersOf;
    for (const QString& key : occurrences)
        ownersOf << entryOwner(key);
    const THeads own = heads(ownersOf, held);
    for (const QString& key : occurrences)
        if (!own.contains(entryOwner(key)))
            candidates << key;
    candidates.removeDuplicates();
    // What the entries say now: another workstation may have moved one. The
    // heads found current above serve the whole read; when they were not,
    // the look-ups count towards their next full read as any others do.
    if (candidates.isEmpty())
        return {};
    const QHash<QString, TEntryDetails> detailsOf
        = entriesBy(candidates, false, held || database_.DetailHeads().Current(*details, candidates.size()));
    const QString firstKey = dayKey(first);
    QList<std::pair<QString, DayEntryRecord>> out;
    const QHash<QString, DayEntryRecord> stored = entries(candidates);
    for (const QString& key : candidates) {
        if (!stored.contains(key) || !detailsOf.contains(key))
            continue;
        const DayEntryRecord& entry = stored[key];
        const bool unTimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
        if (entry.StartTime() < firstKey && DetailRecords::LastDay(detailsOf[key], entry.StartTime(), unTimed) >= firstKey)
            out.append({key, entry});
    }
    return out;
}
