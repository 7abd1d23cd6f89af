#include "TRecordWriter.h"

#include "EQuorla.h"
#include "IsamCode.h"
#include "TXIsamFile.h"

QByteArray TRecordWriter::bytesOf(std::span<const char> record)
{
    return QByteArray(record.data(), qsizetype(record.size()));
}

void TRecordWriter::tell(TWrite::Kind kind, bool made, const TXIsamFile& dataset, const QString& key,
                         const QByteArray& bytes, bool failed)
{
    if (OnWrite)
        OnWrite(TWrite{kind, made, &dataset, key, bytes, failed});
}

QString TRecordWriter::insert(TXIsamFile& dataset, std::span<const char> record)
{
    const QByteArray bytes = bytesOf(record);
    tell(TWrite::Insert, false, dataset, QString(), bytes);
    if (!dataset.Insert(record))
        throw EQuorla(dataset.ErrorText());
    tell(TWrite::Insert, true, dataset, dataset.CurrentKey(), bytes);
    return dataset.CurrentKey();
}

bool TRecordWriter::insertUnder(TXIsamFile& dataset, const QString& key, std::span<const char> record)
{
    const QByteArray bytes = bytesOf(record);
    tell(TWrite::Insert, false, dataset, key, bytes);
    if (!dataset.Insert(record, key)) {
        if (dataset.LastError() != IsamUpdateMode)
            throw EQuorla(dataset.ErrorText());
        tell(TWrite::Insert, false, dataset, key, bytes, true);
        return false;
    }
    tell(TWrite::Insert, true, dataset, key, bytes);
    return true;
}

void TRecordWriter::update(TXIsamFile& dataset, const QString& key, std::span<const char> record)
{
    const QByteArray bytes = bytesOf(record);
    tell(TWrite::Update, false, dataset, key, bytes);
    if (!dataset.Update(record, key))
        throw EQuorla(dataset.ErrorText());
    tell(TWrite::Update, true, dataset, key, bytes);
}

void TRecordWriter::remove(TXIsamFile& dataset, const QString& key, std::span<const char> was)
{
    const QByteArray bytes = bytesOf(was);
    tell(TWrite::Delete, false, dataset, key, bytes);
    if (!dataset.Delete(key) && dataset.LastError() != IsamNotFound)
        throw EQuorla(dataset.ErrorText());
    tell(TWrite::Delete, true, dataset, key, bytes);
}

void TRecordWriter::tellBatch(const TXIsamFile& dataset, const QList<TXIsamFile::TBatchWrite>& writes, bool made)
{
    // A clearing is told as the removal of the index value's records.
    static constexpr TWrite::Kind Kinds[] = {TWrite::Insert, TWrite::Update, TWrite::Delete, TWrite::Delete};
    for (const TXIsamFile::TBatchWrite& w : writes)
        tell(Kinds[w.kind], made, dataset, w.key, w.record);
}

void TRecordWriter::writeBatch(TXIsamFile& dataset, QList<TXIsamFile::TBatchWrite>& writes)
{
    tellBatch(dataset, writes, false);
    if (!dataset.WriteBatch(writes))
        throw EQuorla(dataset.ErrorText());
    tellBatch(dataset, writes, true);
}

void TRecordWriter::writeBatchAlong(TXIsamFile& dataset, QList<TXIsamFile::TBatchWrite>& writes,
                                   const std::vector<TXIsamFile::TWritesAlong>& along, TRecordWriter& alongTeller)
{
    tellBatch(dataset, writes, false);
    for (const TXIsamFile::TWritesAlong& other : along)
        alongTeller.tellBatch(*other.file, *other.writes, false);
    if (!dataset.WriteBatchAlong(writes, along))
        throw EQuorla(dataset.ErrorText());
    tellBatch(dataset, writes, true);
    for (const TXIsamFile::TWritesAlong& other : along)
        alongTeller.tellBatch(*other.file, *other.writes, true);
}
