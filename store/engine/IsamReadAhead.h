#pragma once

#include "IsamCode.h"

#include <QByteArray>

#include <cstddef>
#include <functional>
#include <map>
#include <span>
#include <vector>

// The position of one open dataset and the rows read ahead of it, the same
// for every engine: both keep the position as values (the index value and
// primary key of the last record returned) and serve scan reads in batches.
// A scan fetches, in one statement, the next rows that can satisfy its
// condition and hands them out one by one; any positioning or write drops the
// batch, and because the position is values, a batch never changes what a
// scan returns beyond the moment at which its rows were read.
//
// The engine answers the two questions only it can: the rows after the
// position (fetchScan) and the rows of a look-up (fetchEqual), handing each
// row in through addRow. Everything else - when to fetch, how many rows, when
// a scan has ended, where the position stands - is decided here, so that a
// folder and a server read alike.
class IsamReadAhead
{
public:
    // How a scan's batch is bounded: not at all (to the end of the index),
    // below `bound`, or at most `bound`.
    enum class Bound { None, Below, AtMost };

    // What a scan's batch asks of the engine: up to `limit` rows of `index`
    // that follow the position (`value`, `key`; both empty: from the start),
    // in index order, within `bound`.
    struct TScanQuery
    {
        int index = 0;
        Bound bound = Bound::None;
        QByteArray boundValue;
        int limit = 0;
        const QByteArray& value;
        const QByteArray& key;
    };
    // Runs the query, hands every row to addRow and answers an IsamCode.
    // (An engine passes a lambda that captures only itself, which
    // std::function keeps without an allocation: one is made per read.)
    using TScanFetch = std::function<IsamCode(const TScanQuery& query)>;
    // Runs the look-up of `key` in `index`: on the primary index the row under
    // it; on another index up to `limit` rows from the first whose value is at
    // least the key. Hands every row to addRow and answers an IsamCode.
    using TEqualFetch = std::function<IsamCode(int index, const QByteArray& key, int limit)>;

    IsamReadAhead(std::size_t recordSize, int keyLength);

    // A scan read in `mode` (IsamReadNext, IsamReadPrefix, IsamReadBelow,
    // IsamReadAtMost) on a valid `index` into a `record` of the record size.
    IsamCode next(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey, std::span<char> record,
                  const TScanFetch& fetch);
    // A look-up (IsamReadEqual). Whatever the outcome, the position stands
    // where `key` would: a look-up that failed because the file stayed busy or
    // the connection was lost leaves the next scan read to start there too.
    IsamCode equal(int index, const QByteArray& key, QByteArray& foundKey, std::span<char> record,
                   const TEqualFetch& fetch);
    // Positions before the first record of `index`.
    void rewind(int index);
    // Drops the rows read ahead, keeping the position: before any write and
    // any read that does not go through next or equal.
    void drop();
    // Puts the position on a record read outside the batch (a range read).
    void standOn(int index, const char* value, int valueLength, const char* key, int keyLength);

    // Takes one row of a fetch: its primary key, record and index value
    // (ignored on the primary index, whose value is the key). False when the
    // row is not one of the dataset's - a record of another size, a key that
    // is not the key length in digits - which means damage: the fetch then
    // answers IsamCorrupt, and the rows taken so far are dropped.
    bool addRow(int index, const char* key, int keyLength, const char* data, std::size_t dataLength,
                const char* value, int valueLength);

private:
    // A row read ahead; its bytes live in arena_.
    struct Row
    {
        std::size_t keyOffset = 0;
        int keyLength = 0;
        std::size_t valueOffset = 0;
        int valueLength = 0;
        std::size_t dataOffset = 0;
    };

    IsamCode fetchBatch(int index, IsamReadMode mode, const QByteArray& key, const TScanFetch& fetch);
    // Copies the position out of the batch row it stands on, if it does.
    void settle();
    void setPosition(int index, QByteArray value, QByteArray key);
    void reserve(int rows);
    // Copies bytes to the end of the rows' bytes; answers where they start.
    std::size_t append(const char* bytes, std::size_t size);
    bool digitsKey(const char* key, int length) const;

    std::size_t recordSize_;
    int keyLength_;

    // Current position: the index and the values of the last record returned
    // (or where a failed look-up would stand).
    int posIndex_ = 0;
    QByteArray posValue_;
    QByteArray posKey_;
    // While >= 0 the position is that row of the batch (a scan read copies
    // nothing more); settle() turns it into posValue_/posKey_.
    std::ptrdiff_t posRow_ = -1;

    // Rows read ahead: the records that followed the position in one index
    // when they were read. batchDone_: the fetch returned every row up to the
    // end of the index or, when batchBounded_, up to the bound of the scan it
    // was read for (batchMode_, batchKey_).
    std::vector<Row> rows_;
    // The rows' bytes: the first arenaUsed_ bytes of arena_, which keeps its
    // size from batch to batch.
    std::vector<char> arena_;
    std::size_t arenaUsed_ = 0;
    std::size_t batchNext_ = 0;
    bool batchValid_ = false;
    bool batchDone_ = false;
    bool batchBounded_ = false;
    int batchIndex_ = 0;
    IsamReadMode batchMode_ = IsamReadNext;
    QByteArray batchKey_;
    int batchSize_ = 0;

    // Rows read beyond the match of a look-up by a secondary index, learnt
    // per index from the scans that followed earlier look-ups.
    std::map<int, int> lookahead_;
    int equalIndex_ = 0;
    int readSinceEqual_ = 0;
};
