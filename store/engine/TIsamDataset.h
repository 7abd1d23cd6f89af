#pragma once

#include "IsamCode.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <span>

// One open dataset of a dataset engine: the operations TXIsamFile forwards.
// Every operation answers an IsamCode (IsamOk is success) and never throws.
//
// Keys are the primary keys as texts of decimal digits, exactly the dataset's
// key length long. Records are caller-owned buffers of the dataset's record size.
//
// Position: each dataset object has one current position in one index. Reads
// move it; writes do not. The position is held as values (index value and
// primary key of the last record returned), so that writes through this object
// or by other workstations never invalidate it: the next scan read returns the
// first record after those values in index order.
class TIsamDataset
{
public:
    virtual ~TIsamDataset() = default;

    // Reads by `index` (0 = primary key, N = the N-th field of the format) in
    // `mode` (IsamReadMode), comparing with `key`. On success copies the record
    // into `record` and sets `foundKey` to its primary key. A failed
    // IsamReadEqual leaves the position where `key` would stand (on every index,
    // the primary one included: the next scan read returns the first record
    // after `key`); a failed scan read (condition not met or end of index)
    // leaves it unchanged.
    virtual IsamCode get(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey,
                         std::span<char> record) = 0;

    // Told of each record of a range read, which is then in the caller's
    // buffer, with its primary key. Answering false stops the read.
    using TRangeReader = std::function<bool(const QByteArray& key)>;

    // Reads, in `index` order, every record whose index value lies from `from`
    // to `to` (both included) into `record`, telling `take` after each.
    // Afterwards the position stands on the last record read, as if the records
    // had been read by a look-up of `from` and a scan in IsamReadAtMost up to
    // `to`, which is what this default does; an engine may do it in one step.
    // `take` must not use this dataset object (the read may be under way).
    virtual IsamCode range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                           const TRangeReader& take);

    // Reads every record whose `index` value is one of `values` (each given
    // once) into `record`, telling `take` after each: the records of one
    // value together, in primary key order. Afterwards the position stands on
    // the last record read. What a caller asking about many scattered values
    // at once (the alarms of a day's entries) uses instead of one read a
    // value; this default makes one range read a value, an engine may do it
    // in one step. `take` must not use this dataset object.
    virtual IsamCode among(int index, const QList<QByteArray>& values, std::span<char> record,
                           const TRangeReader& take);

    // A read of another dataset of the same database to go along with a
    // range read (rangeAlong): its records of `index` whose value is one of
    // `values`, as among reads them.
    struct TAlongRead
    {
        TIsamDataset* dataset = nullptr;
        int index = 0;
        QList<QByteArray> values;
        std::span<char> record;
        TRangeReader take;
    };
    // As range, then as each of `along`'s among, in their order; an engine
    // whose exchanges cost a wait (a server) sends them all in one. `along`'s
    // records come after this range's. The first failure is the answer.
    virtual IsamCode rangeAlong(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                                const TRangeReader& take, std::span<const TAlongRead> along);

    // Writes `record` under `key` in `mode` (IsamPutMode). One transaction; an
    // add raises the dataset's mark of the largest key ever held in it.
    virtual IsamCode put(const QByteArray& key, std::span<const char> record, IsamPutMode mode) = 0;

    // Adds the records under their keys, all in one transaction: all are
    // added or, on the first failure, none (its code is the answer). `records`
    // holds them one after the other, keys.size() of them. For filling a new
    // dataset, such as a copy of a database, where one transaction a record
    // would cost a synchronous write each; workstations write one record a
    // transaction. Moves the mark of the largest key as put does. This
    // default adds them one by one, which is not all-or-none.
    virtual IsamCode putAll(const QList<QByteArray>& keys, std::span<const char> records);

    // One write of a batch (writeBatch): an add (IsamPutAdd) under `key`, or
    // under the next key when `key` is empty (the key taken is then set
    // here); a replace (IsamPutReplace) of the record under `key`; or a
    // removal (IsamPutRemove) of the record under `key`, where one already
    // gone counts as removed; or the removal (IsamPutClear) of every record
    // whose value of `index` (not the primary one) is `key`, none being
    // no failure. `record` is the dataset's record size, empty for a removal.
    struct TBatchWrite
    {
        IsamPutMode mode = IsamPutAdd;
        QByteArray key;
        QByteArray record;
        int index = 0;
    };

    // Makes every write of `writes`, in order, in one transaction: all are
    // made or, on the first failure, none (its code is the answer: an add
    // under a key that exists, a replace of a missing record). For a
    // workstation's writes of many records at once (a repeating event's
    // occurrences), at the cost of one synchronous write instead of one a
    // record. Adds move the mark of the largest key as put and add do. This
    // default writes them one by one, which is not all-or-none, and makes no
    // IsamPutClear (IsamUpdateMode).
    virtual IsamCode writeBatch(QList<TBatchWrite>& writes);

    // A batch of another dataset of the same database to go along with one
    // (writeBatchAlong).
    struct TAlongWrite
    {
        TIsamDataset* dataset = nullptr;
        QList<TBatchWrite>* writes = nullptr;
    };
    // As writeBatch, then as each of `along`'s writeBatch, in their order; an
    // engine whose exchanges cost a wait (a server) sends them all in one, in
    // one transaction. The first failure is the answer.
    virtual IsamCode writeBatchAlong(QList<TBatchWrite>& writes, std::span<const TAlongWrite> along);

    // Adds `record` under the next key (nextKey) and sets `key` to the key
    // used. Adds by others at the same moment never make it fail: each gets a
    // key of its own. On failure `key` is the key tried, or empty when none
    // was had.
    virtual IsamCode add(std::span<const char> record, QByteArray& key) = 0;

    // Removes the record with primary key `key`. One transaction.
    virtual IsamCode remove(const QByteArray& key) = 0;

    // Positions before the first record of `index`.
    virtual IsamCode first(int index) = 0;

    // The key for a new record: one more than the largest key the dataset has
    // ever held, deleted records included, so that a key once freed never
    // comes back to mean another record. The dataset keeps that mark itself;
    // one made before it did starts from its largest stored key. The position
    // does not move. Not a reservation: two callers may get the same key, and
    // the second add then fails with IsamUpdateMode.
    virtual IsamCode nextKey(QByteArray& key) = 0;

    // Raises the mark of the largest key ever held to `key` unless it stands
    // there or higher already; nextKey answers one more than the mark from
    // then on. A copy of a database takes its source's mark this way, so the
    // keys freed in the source stay freed in the copy. One transaction; no
    // record changes.
    virtual IsamCode raiseKeyMark(const QByteArray& key) = 0;

    // The mark of the largest key ever held, as stored: empty when the dataset
    // has none yet (one made before there was a mark, or one nothing has been
    // added to). The position does not move.
    virtual IsamCode keyMark(QByteArray& mark) = 0;

    // The key length given at creation and, when `recordCount` is given, the
    // number of records (which may cost a pass over the dataset).
    virtual IsamCode info(qint64* recordCount, int& keyLength) = 0;

    // Record locks: held by this dataset object, not by the process. Lock fails
    // at once with IsamLocked when another holder (another object, process or
    // workstation) holds the key; locking a key this object holds succeeds,
    // and one unlock releases it. Unlocking a key not held succeeds. Locks
    // never block reads. Locks vanish when the object closes or its process
    // ends. On a database server they are held by the server session: when the
    // connection is lost (IsamServerLost), every lock held through it is gone
    // with it, and reconnecting does not take them again - another holder may
    // have taken them in between.
    virtual IsamCode lock(const QByteArray& key) = 0;
    virtual IsamCode unlock(const QByteArray& key) = 0;
    // The locks of `keys`, all or none: IsamLocked (none of them held) when
    // another holder has one. One lock call each here; a server takes them
    // in one round trip.
    virtual IsamCode lockAll(const QList<QByteArray>& keys);
    // Releases the locks of `keys`.
    virtual IsamCode unlockAll(const QList<QByteArray>& keys);

    // A mark of the dataset's contents: it differs from every mark answered
    // before a later write to the dataset, by any object, process or
    // workstation, and stays the same while nothing is written. A mark means
    // nothing across engines or datasets; compare it only with this dataset's
    // earlier marks. The caches reload when it moves.
    virtual IsamCode changeMark(QByteArray& mark) = 0;

    // The dataset's identity: a random text made the first time it is asked
    // for and kept in the dataset for good, the same for every workstation.
    // What is exported from one database (iCalendar UIDs) never passes for
    // another's. With `make` false nothing is written: a dataset without one
    // answers IsamNotFound. With `make` true and `id` given, a dataset without
    // one keeps `id` (a copy of a database keeps its source's identity), and
    // `id` is set to the one kept either way.
    virtual IsamCode identity(QByteArray& id, bool make) = 0;

    // A named value kept in the dataset for every workstation, beside its
    // records (the office's time zone, in the users dataset). Read answers
    // IsamNotFound when there is none; Keep stores `value` only when there is
    // none and sets it to the one kept (two workstations at once keep the
    // first); Replace stores it.
    enum class SettingMode { Read, Keep, Replace };
    virtual IsamCode setting(const QByteArray& name, QByteArray& value, SettingMode mode) = 0;

    // Closes the dataset; every lock of this object is released. Afterwards
    // only destruction is allowed.
    virtual IsamCode close() = 0;

protected:
    // What a batch is checked for before anything is written: a known mode
    // (else IsamUpdateMode), a valid key (IsamBadKey), a record of `size`
    // and a clearing of a valid index other than the primary one
    // (IsamBadParameter).
    static IsamCode checkBatch(const QList<TBatchWrite>& writes, std::size_t size,
                               const std::function<bool(const QByteArray&)>& validKey,
                               const std::function<bool(int)>& validIndex);
};
