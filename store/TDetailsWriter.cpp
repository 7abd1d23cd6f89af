#include "TDetailsWriter.h"

#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "SeriesRecord.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TXIsamFile.h"

#include <QHash>
#include <QSet>

namespace {

using Kind = TXIsamFile::TBatchWrite::Kind;

QString entryOwner(const QString& key)
{
    return DetailRecord::owner(DetailRecord::EntryMark, key);
}

bool unTimed(const DayEntryRecord& entry)
{
    return (entry.Flags() & DayEntryRecord::UnTimed) != 0;
}

void fail(const TXIsamFile& dataset)
{
    throw EQuorla(dataset.ErrorText());
}

// Reads every record whose `index` value is one of `values` (none: nothing
// read); "none found" is no failure.
void among(TXIsamFile& dataset, std::span<char> record, qint16 index, const QStringList& values,
           const std::function<void()>& take)
{
    if (values.isEmpty())
        return;
    if (!dataset.Among(record, index, values, [&] {
            take();
            return true;
        })
        && dataset.LastError() != IsamNotFound)
        fail(dataset);
}

QList<TXIsamFile::TBatchWrite> addsOf(const QList<DetailRecord>& records)
{
    QList<TXIsamFile::TBatchWrite> adds;
    for (const DetailRecord& record : records)
        adds << TXIsamFile::TBatchWrite{Kind::Add, QString(), TRecordWriter::bytesOf(record.bytes())};
    return adds;
}

} // namespace

TDetailsWriter::TDetailsWriter(TQuorlaDB& database, TRecordWriter& writer) : database_(database), writer_(writer) {}

TXIsamFile* TDetailsWriter::dataset(bool needed)
{
    TXIsamFile* details = database_.Details();
    if (!details && needed)
        throw EQuorla(QStringLiteral("Unable to keep the event's end, place and notes: this database has no %1.")
                          .arg(DetailRecord::FileName));
    return details;
}

QList<TXIsamFile::TBatchWrite> TDetailsWriter::removals(const QStringList& owners)
{
    TXIsamFile& details = *database_.Details();
    QStringList heads, parts;
    for (const QString& owner : owners)
        heads << DetailRecord::of(owner, 0);
    QList<TXIsamFile::TBatchWrite> out;
    DetailRecord record;
    const auto take = [&] { out << TXIsamFile::TBatchWrite{Kind::Remove, details.CurrentKey(), QByteArray()}; };
    among(details, record.bytes(), DetailRecord::OfIndex, heads, [&] {
        take();
        for (int part = 1; part <= record.Parts(); ++part)
            parts << DetailRecord::of(record.Owner(), part);
    });
    among(details, record.bytes(), DetailRecord::OfIndex, parts, take);
    return out;
}

void TDetailsWriter::store(const QString& owner, const TEntryDetails& details, const QString& start, bool unTimed,
                           bool series, bool keepEmpty)
{
    const bool keep = keepEmpty || !details.isEmpty();
    // Refused before anything is read or written.
    const QList<DetailRecord> records = DetailRecords::Split(owner, details, start, unTimed, series);
    TXIsamFile* dataset = this->dataset(keep);
    if (!dataset)
        return;
    QList<TXIsamFile::TBatchWrite> writes = removals({owner});
    if (keep)
        writes << addsOf(records);
    if (!writes.isEmpty())
        writer_.writeBatch(*dataset, writes);
}

void TDetailsWriter::StoreEntry(const QString& key, const DayEntryRecord& entry, const TEntryDetails& details,
                                bool keepEmpty)
{
    store(entryOwner(key), details, entry.StartTime(), unTimed(entry), false, keepEmpty);
}

void TDetailsWriter::StoreSeries(const QString& key, const SeriesRecord& series, const TEntryDetails& details)
{
    store(DetailRecord::owner(DetailRecord::SeriesMark, key), details, series.Start(),
          (series.Flags() & SeriesRecord::UnTimed) != 0, true, false);
}

QList<TXIsamFile::TBatchWrite> TDetailsWriter::Adds(const QStringList& keys, const QList<DayEntryRecord>& entries,
                                                    const QList<TEntryDetails>& details)
{
    QList<TXIsamFile::TBatchWrite> adds;
    for (qsizetype i = 0; i < details.size() && i < keys.size(); ++i) {
        if (!details[i].isEmpty())
            adds << addsOf(
                DetailRecords::Split(entryOwner(keys[i]), details[i], entries[i].StartTime(), unTimed(entries[i]), false));
    }
    if (!adds.isEmpty())
        dataset(true);
    return adds;
}

void TDetailsWriter::WriteAdds(QList<TXIsamFile::TBatchWrite>& adds)
{
    if (!adds.isEmpty())
        writer_.writeBatch(*dataset(true), adds);
}

void TDetailsWriter::FollowEntry(const QString& key, const DayEntryRecord& entry)
{
    TXIsamFile* details = dataset(false);
    DetailRecord head;
    if (!details || !TLookup::Equal(*details, head.bytes(), DetailRecord::OfIndex, DetailRecord::of(entryOwner(key), 0)))
        return;
    const QString reach = DetailRecords::Reach(DetailRecords::HeadOnly(head), entry.StartTime(), unTimed(entry), false);
    if (reach == head.Reach())
        return;
    const QString headKey = details->CurrentKey();
    head.setReach(reach);
    writer_.update(*details, headKey, head.bytes());
}

void TDetailsWriter::RemoveEntries(const QStringList& keys)
{
    if (!dataset(false) || keys.isEmpty())
        return;
    QStringList owners;
    for (const QString& key : keys)
        owners << entryOwner(key);
    QList<TXIsamFile::TBatchWrite> writes = removals(owners);
    if (!writes.isEmpty())
        writer_.writeBatch(*database_.Details(), writes);
}

void TDetailsWriter::RemoveSeries(const QString& key)
{
    if (!dataset(false))
        return;
    QList<TXIsamFile::TBatchWrite> writes = removals({DetailRecord::owner(DetailRecord::SeriesMark, key)});
    if (!writes.isEmpty())
        writer_.writeBatch(*database_.Details(), writes);
}

namespace {

// The keys of `keys` that `dataset` holds (all of them when it is missing:
// nothing is taken for gone that cannot be looked at).
QSet<QString> held(TXIsamFile* dataset, const QStringList& keys, QHash<QString, DayEntryRecord>* entries = nullptr)
{
    if (!dataset)
        return QSet<QString>(keys.cbegin(), keys.cend());
    QSet<QString> found;
    DayEntryRecord entry;
    SeriesRecord series;
    const std::span<char> record = entries ? entry.bytes() : series.bytes();
    among(*dataset, record, TXIsamFile::PrimaryIndex, keys, [&] {
        found.insert(dataset->CurrentKey());
        if (entries)
            entries->insert(dataset->CurrentKey(), entry);
    });
    return found;
}

} // namespace

QString TDetailsWriter::Sweep(TQuorlaDB& database, const QString& from, int budget)
{
    TXIsamFile* details = database.Details();
    if (!details)
        return {};
    QList<std::pair<QString, DetailRecord>> read;
    DetailRecord record;
    try {
        if (!details->Range(record.bytes(), TXIsamFile::PrimaryIndex, from.isEmpty() ? RecordKey::format(0) : from,
                            QString(10, QLatin1Char('9')), [&] {
                                read.append({details->CurrentKey(), record});
                                return read.size() < budget;
                            })
            && details->LastError() != IsamNotFound)
            return from;
        QStringList entryKeys, seriesKeys;
        for (const auto& [key, found] : read)
            (found.Owner().startsWith(DetailRecord::EntryMark) ? entryKeys : seriesKeys) << found.Owner().mid(1);
        entryKeys.removeDuplicates();
        seriesKeys.removeDuplicates();
        QHash<QString, DayEntryRecord> entries;
        const QSet<QString> liveEntries = held(&database.DayEntries(), entryKeys, &entries);
        const QSet<QString> liveSeries = held(database.Series(), seriesKeys);
        for (const auto& [key, found] : read) {
            const QString owner = found.Owner().mid(1);
            const bool entry = found.Owner().startsWith(DetailRecord::EntryMark);
            if (!(entry ? liveEntries : liveSeries).contains(owner)) {
                details->Delete(key);
                continue;
            }
            if (!entry || found.Part() != 0)
                continue;
            const DayEntryRecord& now = entries[owner];
            const QString reach = DetailRecords::Reach(DetailRecords::HeadOnly(found), now.StartTime(),
                                                       (now.Flags() & DayEntryRecord::UnTimed) != 0, false);
            if (reach == found.Reach())
                continue;
            // Under the entry's lock: no writer is replacing its details.
            const TRecordLock lock(database.DayEntries(), owner);
            if (lock.Held()) {
                DetailRecord moved = found;
                moved.setReach(reach);
                details->Update(moved.bytes(), key);
            }
        }
    } catch (const EQuorla&) {
        return from;
    }
    if (read.size() < budget)
        return {};
    return RecordKey::format(RecordKey::parse(read.last().first) + 1);
}
