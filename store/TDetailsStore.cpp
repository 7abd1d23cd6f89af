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

namespace {

constexpr qint64 Day = 86400;

// The number of `day`'s key (RecordKey::parse).
qint64 dayAt(const QDate& day)
{
    return std::max<qint64>(QDate(1970, 1, 1).daysTo(day), 0) * Day;
}

QString dayKey(const QDate& day)
{
    return RecordKey::format(dayAt(day));
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

// The heads one batch read goes by: those the connection holds when they
// are current, or else those read for it.
class TBatchHeads
{
public:
    TBatchHeads(const TDetailHeads* held, TXIsamFile& details) : held_(held), details_(details) {}

    // Reads the heads `mark` and `keys` name, unless those held serve.
    void read(QLatin1Char mark, const QStringList& keys)
    {
        if (held_)
            return;
        QStringList values;
        for (const QString& key : keys)
            values << DetailRecord::of(DetailRecord::owner(mark, key), 0);
        QHash<QString, TDetailHeads::THead>& heads = mark == DetailRecord::SeriesMark ? series_ : entries_;
        DetailRecord record;
        among(details_, record.bytes(), DetailRecord::OfIndex, values,
              [&] { heads.insert(record.Owner().mid(1), TDetailHeads::THead::of(record)); });
    }
    const TDetailHeads::THead* find(QLatin1Char mark, const QString& key) const
    {
        if (held_)
            return held_->Find(mark, key);
        const QHash<QString, TDetailHeads::THead>& heads = mark == DetailRecord::SeriesMark ? series_ : entries_;
        const auto found = heads.constFind(key);
        return found == heads.cend() ? nullptr : &*found;
    }

private:
    const TDetailHeads* held_;
    TXIsamFile& details_;
    QHash<QString, TDetailHeads::THead> entries_;
    QHash<QString, TDetailHeads::THead> series_;
};

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

QHash<QString, QString> TDetailsStore::notesOf(const QHash<QString, qint32>& parts)
{
    QStringList values;
    for (auto it = parts.cbegin(); it != parts.cend(); ++it)
        for (int part = 1; part <= *it; ++part)
            values << DetailRecord::of(it.key(), part);
    QHash<QString, QMap<int, QString>> pieces;
    DetailRecord record;
    among(*database_.Details(), record.bytes(), DetailRecord::OfIndex, values,
          [&] { pieces[record.Owner()].insert(record.Part(), record.Body()); });
    // Only a whole set of parts: the notes as written, or none.
    QHash<QString, QString> notes;
    for (auto it = pieces.cbegin(); it != pieces.cend(); ++it)
        if (it->size() == parts.value(it.key()))
            notes.insert(it.key(), it->values().join(QString()));
    return notes;
}

void TDetailsStore::addNotes(QHash<QString, TEntryDetails>& found, const QHash<QString, std::pair<QString, qint32>>& owners)
{
    QHash<QString, qint32> parts;
    for (const auto& [owner, count] : owners)
        parts.insert(owner, count);
    const QHash<QString, QString> notes = notesOf(parts);
    for (auto it = found.begin(); it != found.end();) {
        it->notes = notes.value(owners.value(it.key()).first);
        it = it->isEmpty() ? found.erase(it) : std::next(it);
    }
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
    TBatchHeads heads(held ? &database_.DetailHeads() : nullptr, *database_.Details());
    heads.read(DetailRecord::EntryMark, entryKeys);
    QList<const TDetailHeads::THead*> own(entryKeys.size());
    // The others answer their series' template's, where they are
    // occurrences: one look-up of the links, one of the templates.
    QStringList without;
    for (qsizetype i = 0; i < entryKeys.size(); ++i)
        if (!(own[i] = heads.find(DetailRecord::EntryMark, entryKeys[i])))
            without << entryKeys[i];
    const QHash<QString, QString> series = seriesOf(without);
    QStringList templates = series.values();
    templates.removeDuplicates();
    heads.read(DetailRecord::SeriesMark, templates);
    // The head each entry goes by: its own, or its template's.
    const auto goesBy = [&](qsizetype i) -> const TDetailHeads::THead* {
        const auto inSeries = own[i] ? series.cend() : series.constFind(entryKeys[i]);
        return inSeries == series.cend() ? own[i] : heads.find(DetailRecord::SeriesMark, *inSeries);
    };
    QHash<QString, TEntryDetails> found;
    found.reserve(entryKeys.size());
    QHash<QString, std::pair<QString, qint32>> owners;
    for (qsizetype i = 0; i < entryKeys.size(); ++i) {
        const TDetailHeads::THead* head = goesBy(i);
        // With notes, a head of no other details keeps its entry until its
        // notes are known.
        if (!head || (head->details.isEmpty() && !(withNotes && head->parts > 0)))
            continue;
        found.insert(entryKeys[i], head->details);
        if (withNotes)
            owners.insert(entryKeys[i], {own[i] ? entryOwner(entryKeys[i]) : seriesOwner(series[entryKeys[i]]), head->parts});
    }
    if (withNotes)
        addNotes(found, owners);
    return found;
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
    QStringList candidates;
    database_.DetailHeads().ReachingInto(dayAt(first), candidates, templates);
    return candidates;
}

QStringList TDetailsStore::occurrencesReaching(const QHash<QString, TEntryDetails>& templates, const QDate& first,
                                               bool held)
{
    QStringList occurrences;
    for (auto it = templates.cbegin(); it != templates.cend(); ++it)
        occurrences << occurrencesBefore(it.key(), first, DetailRecords::Span(it.value()));
    // An occurrence with details of its own goes by those.
    TBatchHeads own(held ? &database_.DetailHeads() : nullptr, *database_.Details());
    own.read(DetailRecord::EntryMark, occurrences);
    QStringList reaching;
    for (const QString& key : occurrences)
        if (!own.find(DetailRecord::EntryMark, key))
            reaching << key;
    return reaching;
}

QHash<QString, DayEntryRecord> TDetailsStore::storedOf(const QStringList& entryKeys, bool held)
{
    TDetailHeads& cache = database_.DetailHeads();
    if (!held || !cache.ReachingCurrent(database_.DayEntries(), entryKeys.size()))
        return entries(entryKeys);
    QHash<QString, DayEntryRecord> found;
    QStringList unheld;
    for (const QString& key : entryKeys) {
        const std::optional<const DayEntryRecord*> entry = cache.ReachingEntry(key);
        if (!entry)
            unheld << key;
        else if (*entry)
            found.insert(key, **entry);
    }
    found.insert(entries(unheld));
    return found;
}

QList<std::pair<QString, DayEntryRecord>> TDetailsStore::ReachingEntries(const QDate& first, const QDate&)
{
    TXIsamFile* details = database_.Details();
    if (!details)
        return {};
    // The heads that reach into the days or past them: entries' by their
    // last day, templates' that span days all.
    QHash<QString, TEntryDetails> templates;
    TDetailHeads& cache = database_.DetailHeads();
    const bool held = cache.Current(*details, 0);
    QStringList candidates = held ? reachingHeld(first, templates) : reachingByIndex(first, templates);
    candidates << occurrencesReaching(templates, first, held);
    candidates.removeDuplicates();
    // What the entries say now: another workstation may have moved one. The
    // heads found current above serve the whole read; when they were not,
    // the look-ups count towards their next full read as any others do.
    if (candidates.isEmpty())
        return {};
    const QHash<QString, TEntryDetails> detailsOf
        = entriesBy(candidates, false, held || cache.Current(*details, candidates.size()));
    const qint64 firstDay = dayAt(first);
    QList<std::pair<QString, DayEntryRecord>> out;
    const QHash<QString, DayEntryRecord> stored = storedOf(candidates, held);
    for (const QString& key : candidates) {
        const auto entry = stored.constFind(key);
        const auto details = detailsOf.constFind(key);
        if (entry == stored.cend() || details == detailsOf.cend())
            continue;
        const qint64 start = RecordKey::parse(entry->StartTime());
        const bool unTimed = (entry->Flags() & DayEntryRecord::UnTimed) != 0;
        if (start < firstDay && DetailRecords::LastDayAt(*details, start, unTimed) >= firstDay)
            out.append({key, *entry});
    }
    return out;
}
