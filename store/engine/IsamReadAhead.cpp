#include "IsamReadAhead.h"

#include "IsamCode.h"
#include "IsamKeyRules.h"

#include <algorithm>
#include <cstring>

namespace {

// Bounds of the read-ahead window: scans up to a bound (a day, a date range)
// start wide because the caller reads to the end of the bound; the others (the
// next record, a user's alarms) start narrow because callers often stop early.
// The window doubles while a scan goes on.
constexpr int BoundedBatchStart = 64;
constexpr int OpenBatchStart = 4;
constexpr int BatchMax = 1024;
// Rows read beyond the match of a look-up by a secondary index, learnt from the
// scans that followed earlier look-ups in that index, within these bounds.
constexpr int LookaheadMin = 2;
constexpr int LookaheadMax = 128;

// Copies bytes into `target`, reusing its storage: scans set the position and
// the found key once per record.
void assignBytes(QByteArray& target, const char* data, qsizetype size)
{
    target.resize(size);
    if (size > 0)
        std::memcpy(target.data(), data, std::size_t(size));
}

} // namespace

IsamReadAhead::IsamReadAhead(std::size_t recordSize, int keyLength) : recordSize_(recordSize), keyLength_(keyLength)
{
}

bool IsamReadAhead::digitsKey(const char* key, int length) const
{
    if (!key || length != keyLength_)
        return false;
    for (int i = 0; i < length; ++i) {
        if (unsigned(key[i] - '0') > 9u)
            return false;
    }
    return true;
}

void IsamReadAhead::reserve(int rows)
{
    // Room for the whole batch at once: rows are copied in, never moved. Grown
    // only when a batch needs more than any before.
    const std::size_t bytes = std::size_t(rows) * (recordSize_ + 2 * std::size_t(keyLength_) + 32);
    if (arena_.size() < arenaUsed_ + bytes)
        arena_.resize(arenaUsed_ + bytes);
}

std::size_t IsamReadAhead::append(const char* bytes, std::size_t size)
{
    if (arena_.size() < arenaUsed_ + size)
        arena_.resize(std::max(arena_.size() * 2, arenaUsed_ + size));
    const std::size_t at = arenaUsed_;
    if (size > 0)
        std::memcpy(arena_.data() + at, bytes, size);
    arenaUsed_ += size;
    return at;
}

bool IsamReadAhead::addRow(int index, const char* key, int keyLength, const char* data, std::size_t dataLength,
                           const char* value, int valueLength)
{
    // A stored key that is not one of ours means damage, like a record of the
    // wrong size.
    if (dataLength != recordSize_ || !data || !digitsKey(key, keyLength)) {
        rows_.clear();
        return false;
    }
    Row row;
    row.keyOffset = append(key, std::size_t(keyLength));
    row.keyLength = keyLength;
    row.dataOffset = append(data, dataLength);
    if (index == 0) {
        row.valueOffset = row.keyOffset;
        row.valueLength = row.keyLength;
    } else {
        row.valueOffset = append(value, value ? std::size_t(valueLength) : 0);
        row.valueLength = value ? valueLength : 0;
    }
    rows_.push_back(row);
    return true;
}

void IsamReadAhead::settle()
{
    if (posRow_ < 0)
        return;
    const Row& row = rows_[std::size_t(posRow_)];
    assignBytes(posValue_, arena_.data() + row.valueOffset, row.valueLength);
    assignBytes(posKey_, arena_.data() + row.keyOffset, row.keyLength);
    posRow_ = -1;
}

void IsamReadAhead::drop()
{
    settle();
    rows_.clear();
    arenaUsed_ = 0;
    batchNext_ = 0;
    batchValid_ = false;
    batchDone_ = false;
    batchBounded_ = false;
}

void IsamReadAhead::setPosition(int index, QByteArray value, QByteArray key)
{
    posRow_ = -1;
    posIndex_ = index;
    posValue_ = std::move(value);
    posKey_ = std::move(key);
}

void IsamReadAhead::rewind(int index)
{
    drop();
    setPosition(index, {}, {});
}

void IsamReadAhead::standOn(int index, const char* value, int valueLength, const char* key, int keyLength)
{
    posRow_ = -1;
    posIndex_ = index;
    assignBytes(posValue_, value, valueLength);
    assignBytes(posKey_, key, keyLength);
}

IsamCode IsamReadAhead::next(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey,
                             std::span<char> record, const TScanFetch& fetch)
{
    if (index != posIndex_) {
        // A scan in another index than the position's starts at its beginning.
        setPosition(index, {}, {});
        drop();
    }

    if (!batchValid_ || batchNext_ >= rows_.size()) {
        // The rows read ahead are used up. When they were all the rows up to
        // the end of the index, or up to this very scan's bound, the scan ends.
        const bool sameScan = batchMode_ == mode && batchKey_ == key;
        if (batchValid_ && batchDone_ && (!batchBounded_ || sameScan))
            return IsamNotFound;
        const IsamCode code = fetchBatch(index, mode, key, fetch);
        if (code != IsamOk)
            return code;
        if (rows_.empty())
            return IsamNotFound;
    }

    // The batch holds the records that follow the position in index order, so
    // its next row is the next record whatever condition it was read for.
    const Row& row = rows_[batchNext_];
    const QByteArray value = QByteArray::fromRawData(arena_.data() + row.valueOffset, row.valueLength);
    if (!IsamKeyRules::conditionHolds(mode, value, key))
        return IsamNotFound;
    std::memcpy(record.data(), arena_.data() + row.dataOffset, record.size());
    assignBytes(foundKey, arena_.data() + row.keyOffset, row.keyLength);
    // The position is this row; it is copied out only when the batch goes.
    posRow_ = std::ptrdiff_t(batchNext_);
    posIndex_ = index;
    ++batchNext_;
    ++readSinceEqual_;
    return IsamOk;
}

IsamCode IsamReadAhead::fetchBatch(int index, IsamReadMode mode, const QByteArray& key, const TScanFetch& fetch)
{
    QByteArray bound;
    Bound kind = Bound::None;
    if (mode == IsamReadBelow) {
        kind = Bound::Below;
        bound = key;
    } else if (mode == IsamReadAtMost) {
        kind = Bound::AtMost;
        bound = key;
    } else if (mode == IsamReadPrefix) {
        bound = IsamKeyRules::prefixSuccessor(key);
        if (!bound.isEmpty())
            kind = Bound::Below;
    }
    const bool wide = mode == IsamReadBelow || mode == IsamReadAtMost;
    const bool continuing = batchValid_ && batchIndex_ == index;
    const int size = continuing ? std::min(batchSize_ * 2, BatchMax) : (wide ? BoundedBatchStart : OpenBatchStart);

    drop();
    reserve(size);
    const IsamCode code = fetch(TScanQuery{index, kind, bound, size, posValue_, posKey_});
    if (code != IsamOk) {
        drop();
        return code;
    }
    batchValid_ = true;
    batchDone_ = int(rows_.size()) < size;
    batchBounded_ = kind != Bound::None;
    batchIndex_ = index;
    batchMode_ = mode;
    batchKey_ = key;
    batchSize_ = size;
    return IsamOk;
}

IsamCode IsamReadAhead::equal(int index, const QByteArray& key, QByteArray& foundKey, std::span<char> record,
                              const TEqualFetch& fetch)
{
    drop();
    // Not there, or not to be had: stand where the key would be, so that the
    // next scan read returns the first record whose index value is greater.
    // On the primary index the value is the key itself.
    setPosition(index, key, index == 0 ? key : QByteArray());
    // Secondary look-ups usually start a scan (a day, a user's alarms): read
    // ahead as far as the last such scan went, and keep the rows beyond the
    // match as the start of the scan's batch. Long scans raise it at once,
    // short ones lower it slowly, so that days of varying length mostly fit.
    if (equalIndex_ > 0) {
        int& ahead = lookahead_[equalIndex_];
        ahead = std::clamp(std::max(readSinceEqual_ + 1, ahead * 3 / 4), LookaheadMin, LookaheadMax);
    }
    equalIndex_ = index;
    readSinceEqual_ = 0;
    const int lookahead = lookahead_.count(index) ? lookahead_[index] : LookaheadMin;

    reserve(1 + lookahead);
    const IsamCode code = fetch(index, key, 1 + lookahead);
    if (code != IsamOk) {
        drop();
        return code;
    }
    const bool found = !rows_.empty()
        && QByteArray::fromRawData(arena_.data() + rows_[0].valueOffset, rows_[0].valueLength) == key;
    if (found) {
        const Row& row = rows_[0];
        std::memcpy(record.data(), arena_.data() + row.dataOffset, record.size());
        assignBytes(foundKey, arena_.data() + row.keyOffset, row.keyLength);
        setPosition(index, key, foundKey);
    }
    if (index == 0) {
        drop();
    } else {
        batchNext_ = found ? 1 : 0;
        batchValid_ = true;
        batchDone_ = int(rows_.size()) < 1 + lookahead;
        batchBounded_ = false;
        batchIndex_ = index;
        batchMode_ = IsamReadNext;
        batchKey_.clear();
        batchSize_ = lookahead;
    }
    return found ? IsamOk : IsamNotFound;
}
