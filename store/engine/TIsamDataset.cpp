#include "TIsamDataset.h"

#include "IsamCode.h"

IsamCode TIsamDataset::range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                             const TRangeReader& take)
{
    if (from > to)
        return IsamOk;
    QByteArray key;
    IsamCode code = get(index, IsamReadEqual, from, key, record);
    if (code == IsamOk && !take(key))
        return IsamOk;
    if (code != IsamOk && code != IsamNotFound)
        return code;
    while ((code = get(index, IsamReadAtMost, to, key, record)) == IsamOk) {
        if (!take(key))
            return IsamOk;
    }
    return code == IsamNotFound ? IsamOk : code;
}

IsamCode TIsamDataset::among(int index, const QList<QByteArray>& values, std::span<char> record,
                             const TRangeReader& take)
{
    bool more = true;
    const TRangeReader each = [&](const QByteArray& key) { return more = take(key); };
    for (const QByteArray& value : values) {
        const IsamCode code = range(index, value, value, record, each);
        if (code != IsamOk || !more)
            return code;
    }
    return IsamOk;
}

IsamCode TIsamDataset::lockAll(const QList<QByteArray>& keys)
{
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const IsamCode code = lock(keys[i]);
        if (code == IsamOk)
            continue;
        unlockAll(keys.mid(0, i));
        return code;
    }
    return IsamOk;
}

IsamCode TIsamDataset::unlockAll(const QList<QByteArray>& keys)
{
    IsamCode first = IsamOk;
    for (const QByteArray& key : keys)
        if (const IsamCode code = unlock(key); first == IsamOk)
            first = code;
    return first;
}

IsamCode TIsamDataset::putAll(const QList<QByteArray>& keys, std::span<const char> records)
{
    if (keys.isEmpty())
        return IsamOk;
    const std::size_t size = records.size() / std::size_t(keys.size());
    if (size * std::size_t(keys.size()) != records.size())
        return IsamBadParameter;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const IsamCode code = put(keys[i], records.subspan(std::size_t(i) * size, size), IsamPutAdd);
        if (code != IsamOk)
            return code;
    }
    return IsamOk;
}

IsamCode TIsamDataset::writeBatch(QList<TBatchWrite>& writes)
{
    for (TBatchWrite& write : writes) {
        IsamCode code = IsamOk;
        const std::span<const char> record(write.record.constData(), std::size_t(write.record.size()));
        if (write.mode == IsamPutClear) {
            code = IsamUpdateMode;
        } else if (write.mode == IsamPutRemove) {
            code = remove(write.key);
            if (code == IsamNotFound)
                code = IsamOk;
        } else if (write.mode == IsamPutAdd && write.key.isEmpty()) {
            code = add(record, write.key);
        } else {
            code = put(write.key, record, write.mode);
        }
        if (code != IsamOk)
            return code;
    }
    return IsamOk;
}

IsamCode TIsamDataset::writeBatchAlong(QList<TBatchWrite>& writes, std::span<const TAlongWrite> along)
{
    IsamCode code = writeBatch(writes);
    for (std::size_t i = 0; i < along.size() && code == IsamOk; ++i)
        code = along[i].dataset->writeBatch(*along[i].writes);
    return code;
}

IsamCode TIsamDataset::checkBatch(const QList<TBatchWrite>& writes, std::size_t size,
                                  const std::function<bool(const QByteArray&)>& validKey,
                                  const std::function<bool(int)>& validIndex)
{
    for (const TBatchWrite& w : writes) {
        if (w.mode != IsamPutAdd && w.mode != IsamPutReplace && w.mode != IsamPutRemove && w.mode != IsamPutClear)
            return IsamUpdateMode;
        if (w.mode == IsamPutClear) {
            if (w.index == 0 || !validIndex(w.index))
                return IsamBadParameter;
            continue;
        }
        if (!(w.mode == IsamPutAdd && w.key.isEmpty()) && !validKey(w.key))
            return IsamBadKey;
        if (w.mode != IsamPutRemove && std::size_t(w.record.size()) != size)
            return IsamBadParameter;
    }
    return IsamOk;
}

IsamCode TIsamDataset::rangeAlong(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                                  const TRangeReader& take, std::span<const TAlongRead> along)
{
    IsamCode code = range(index, from, to, record, take);
    for (std::size_t i = 0; i < along.size() && code == IsamOk; ++i)
        code = along[i].dataset->among(along[i].index, along[i].values, along[i].record, along[i].take);
    return code;
}
