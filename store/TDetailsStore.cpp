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

#include <algorithm>
#include <vector>

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
            return held_->Find(mark, TDetailHeads::keyNumber(key));
        const QHash<QString, TDetailHeads::THead>& heads = mark == DetailRecord::SeriesMark ? series_ : entries_;
        const auto found = heads.constFind(key);
        return found == heads.cend() ? nullptr : &*found;
    }
    // find() for each of `keys`, at the same places.
    std::vector<const TDetailHeads::THead*> findAll(QLatin1Char mark, const QStringList& keys) const
    {
        std::vector<const TDetailHeads::THead*> found(std::size_t(keys.size()));
        if (!held_) {
            std::transform(keys.cbegin(), keys.cend(), found.begin(), [&](const QString& k) { return find(mark, k); });
            return found;
        }
        std::vector<qint64> numbers(std::size_t(keys.size()));
        std::transform(keys.cbegin(), keys.cend(), numbers.begin(), &TDetailHeads::keyNumber);
        held_->FindAll(mark, numbers, found);
        return found;
    }

private:
    const TDetailHeads* held_;
    TXIsamFile& details_;
    QHash<QString, TDetailHeads::THead> entries_;
    QHash<QString, TDetailHeads::THead> series_;
};

QStringList keysAt(const QStringList& keys, const QList<qsizetype>& places)
{
    QStringList at;
    at.reserve(places.size());
    for (const qsizetype i : places)
        at << keys[i];
    return at;
}

// The entries at `without` in `entryKeys`, which have no head of their own,
// answer their series' template's where `series` (by entry) names one; into
// `owners` by place, when given, those whose notes are to be read.
void fromTemplates(TBatchHeads& heads, const QStringList& entryKeys, const QList<qsizetype>& without,
                   const QHash<QString, QString>& series, QList<TEntryDetails>& found,
                   QHash<qsizetype, std::pair<QString, qint32>>* owners)
{
    QStringList templates = series.values();
    templates.removeDuplicates();
    heads.read(DetailRecord::SeriesMark, templates);
    for (const qsizetype i : without) {
        const auto inSeries = series.constFind(entryKeys[i]);
        const TDetailHeads::THead* head
            = inSeries == series.cend() ? nullptr : heads.find(DetailRecord::SeriesMark, *inSeries);
        if (!head)
            continue;
        found[i] = head->details;
        if (owners && head->parts > 0)
            owners->insert(i, {seriesOwner(*inSeries), head->parts});
    }
}

} // namespace

TDetailsStore::TDetailsStore(TQuorlaDB& database) : database_(database) {}

TDetailsStore::TOneRead::TOneRead(TDetailsStore& store, quint64 read)
    : store_(store), previous_(store.database_.DetailHeads().SharedRead())
{
    store_.database_.DetailHeads().ShareMarks(read ? read : previous_ ? previous_ : TDetailHeads::NewRead());
}

TDetailsStore::TOneRead::~TOneRead()
{
    store_.database_.DetailHeads().ShareMarks(previous_);
}

quint64 TDetailsStore::TOneRead::Read() const
{
    return store_.database_.DetailHeads().SharedRead();
}

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

void TDetailsStore::addNotes(QList<TEntryDetails>& found, const QHash<qsizetype, std::pair<QString, qint32>>& owners)
{
    QHash<QString, qint32> parts;
    for (const auto& [owner, count] : owners)
        parts.insert(owner, count);
    const QHash<QString, QString> notes = notesOf(parts);
    for (auto it = owners.cbegin(); it != owners.cend(); ++it)
        found[it.key()].notes = notes.value(it->first);
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
    const QList<TEntryDetails> inOrder = EntriesInOrder(entryKeys, withNotes);
    QHash<QString, TEntryDetails> found;
    found.reserve(entryKeys.size());
    for (qsizetype i = 0; i < entryKeys.size(); ++i)
        if (!inOrder[i].isEmpty())
            found.insert(entryKeys[i], inOrder[i]);
    return found;
}

QList<TEntryDetails> TDetailsStore::EntriesInOrder(const QStringList& entryKeys, bool withNotes)
{
    TXIsamFile* details = database_.Details();
    if (!details || entryKeys.isEmpty())
        return QList<TEntryDetails>(entryKeys.size());
    return entriesBy(entryKeys, withNotes, database_.DetailHeads().Current(*details, entryKeys.size()));
}

QList<TEntryDetails> TDetailsStore::entriesBy(const QStringList& entryKeys, bool withNotes, bool held)
{
    TBatchHeads heads(held ? &database_.DetailHeads() : nullptr, *database_.Details());
    heads.read(DetailRecord::EntryMark, entryKeys);
    // Built in place from the heads: a view asks this for every entry it
    // paints, most of which have a head of their own.
    QList<TEntryDetails> found;
    found.reserve(entryKeys.size());
    QList<qsizetype> without;
    QHash<qsizetype, std::pair<QString, qint32>> owners;
    const std::vector<const TDetailHeads::THead*> own = heads.findAll(DetailRecord::EntryMark, entryKeys);
    for (qsizetype i = 0; i < entryKeys.size(); ++i) {
        const TDetailHeads::THead* head = own[std::size_t(i)];
        if (!head) {
            without << i;
            found.emplaceBack();
            continue;
        }
        found.emplaceBack(head->details);
        if (withNotes && head->parts > 0)
            owners.insert(i, {entryOwner(entryKeys[i]), head->parts});
    }
    if (!without.isEmpty())
        fromTemplates(heads, entryKeys, without, seriesOf(keysAt(entryKeys, without)), found,
                      withNotes ? &owners : nullptr);
    if (!owners.isEmpty())
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

QStringList TDetailsStore::ReachingInto(const QDate& first, const QDate&)
{
    QStringList keys;
    reaching(first, [&keys](const QString& key, const DayEntryRecord&) { keys << key; });
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

QStringList TDetailsStore::reachingHeld(const QDate& first, QHash<QString, TEntryDetails>& templates,
                                       const TTakeReaching& take)
{
    QList<TDetailHeads::TReachingHead> heads;
    TDetailHeads& cache = database_.DetailHeads();
    const qint64 firstDay = dayAt(first);
    cache.ReachingInto(firstDay, heads, templates);
    QStringList candidates;
    if (!heads.isEmpty() && cache.ReachingCurrent(database_.DayEntries(), heads.size())) {
        // Their day entries as held: the check right away.
        for (const TDetailHeads::TReachingHead& head : std::as_const(heads))
            if (const TDetailHeads::TReachingEntry* held = cache.ReachingEntry(head);
                held && reaches(held->start, held->unTimed, head.head->details, firstDay))
                take(held->stored.first, held->stored.second);
        return candidates;
    }
    for (const TDetailHeads::TReachingHead& head : std::as_const(heads))
        candidates << RecordKey::format(head.head->key);
    return candidates;
}

bool TDetailsStore::reaches(qint64 start, bool unTimed, const TEntryDetails& details, qint64 firstDay)
{
    return start < firstDay && DetailRecords::LastDayAt(details, start, unTimed) >= firstDay;
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

QList<std::pair<QString, DayEntryRecord>> TDetailsStore::ReachingEntries(const QDate& first, const QDate&)
{
    QList<std::pair<QString, DayEntryRecord>> out;
    reaching(first, [&out](const QString& key, const DayEntryRecord& entry) { out.append({key, entry}); });
    return out;
}

void TDetailsStore::reaching(const QDate& first, const TTakeReaching& take)
{
    TXIsamFile* details = database_.Details();
    if (!details)
        return;
    const TOneRead read(*this);
    // The heads that reach into the days or past them: entries' by their
    // last day, templates' that span days all.
    QHash<QString, TEntryDetails> templates;
    TDetailHeads& cache = database_.DetailHeads();
    const bool held = cache.Current(*details, 0);
    QStringList candidates = held ? reachingHeld(first, templates, take) : reachingByIndex(first, templates);
    candidates << occurrencesReaching(templates, first, held);
    candidates.removeDuplicates();
    // What the entries say now: another workstation may have moved one. The
    // heads found current above serve the whole read; when they were not,
    // the look-ups count towards their next full read as any others do.
    if (candidates.isEmpty())
        return;
    const QList<TEntryDetails> detailsOf
        = entriesBy(candidates, false, held || cache.Current(*details, candidates.size()));
    const qint64 firstDay = dayAt(first);
    const QHash<QString, DayEntryRecord> stored = entries(candidates);
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const auto entry = stored.constFind(candidates[i]);
        if (entry == stored.cend() || detailsOf[i].isEmpty())
            continue;
        const qint64 start = RecordKey::parse(entry->StartTime());
        if (reaches(start, (entry->Flags() & DayEntryRecord::UnTimed) != 0, detailsOf[i], firstDay))
            take(candidates[i], *entry);
    }
}
