#pragma once

#include "IsamReadAhead.h"
#include "PostgresConnection.h"
#include "TIsamDataset.h"
#include "TIsamFormat.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// One open dataset on a database server (see PostgresIsamEngine), using its
// database object's shared connection. Its position and the rows read ahead
// of it are an IsamReadAhead, as in a folder: a day or a user's alarms cost
// one round trip, not one per record.
class PostgresIsamDataset : public TIsamDataset
{
public:
    // Dataset numbers beyond this do not fit the lock numbers.
    static constexpr qint64 MaxId = 900'000'000;

    PostgresIsamDataset(std::shared_ptr<PostgresConnection> connection, QByteArray table, int id,
                        TIsamFormat format, int keyLength);
    ~PostgresIsamDataset() override;
    PostgresIsamDataset(const PostgresIsamDataset&) = delete;
    PostgresIsamDataset& operator=(const PostgresIsamDataset&) = delete;

    IsamCode get(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey,
                 std::span<char> record) override;
    IsamCode put(const QByteArray& key, std::span<const char> record, IsamPutMode mode) override;
    // One statement for the range's first rows and, while there are more,
    // one for each next chunk after the last row read, growing to thousands
    // of rows: each chunk is read whole before its rows are handed over, so
    // that `take` may read other datasets of the same session.
    IsamCode range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                   const TRangeReader& take) override;
    // One statement for all the values, read whole before its rows are
    // handed over.
    IsamCode among(int index, const QList<QByteArray>& values, std::span<char> record,
                   const TRangeReader& take) override;
    // The range's first statement and `along`'s in one exchange (libpq's
    // pipeline mode), when all the datasets share the session.
    IsamCode rangeAlong(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                        const TRangeReader& take, std::span<const TAlongRead> along) override;
    // One statement that moves the mark of the largest key and adds under the
    // key after it: adds by others wait for each other there, and never meet
    // on one key.
    IsamCode add(std::span<const char> record, QByteArray& key) override;
    // One transaction for all of them.
    IsamCode putAll(const QList<QByteArray>& keys, std::span<const char> records) override;
    // One BEGIN ... COMMIT for all of them.
    IsamCode writeBatch(QList<TBatchWrite>& writes) override;
    // All the batches' statements in one exchange and one transaction, when
    // all the datasets share the session.
    IsamCode writeBatchAlong(QList<TBatchWrite>& writes, std::span<const TAlongWrite> along) override;
    IsamCode remove(const QByteArray& key) override;
    IsamCode first(int index) override;
    IsamCode nextKey(QByteArray& key) override;
    IsamCode raiseKeyMark(const QByteArray& key) override;
    IsamCode keyMark(QByteArray& mark) override;
    IsamCode info(qint64* recordCount, int& keyLength) override;
    IsamCode lock(const QByteArray& key) override;
    IsamCode unlock(const QByteArray& key) override;
    // One statement for all of them (and one more to give them back when
    // another holder has one).
    IsamCode lockAll(const QList<QByteArray>& keys) override;
    IsamCode unlockAll(const QList<QByteArray>& keys) override;
    // The dataset's number and its counter of writes, read in one round trip.
    IsamCode changeMark(QByteArray& mark) override;
    IsamCode identity(QByteArray& id, bool make) override;
    IsamCode setting(const QByteArray& name, QByteArray& value, SettingMode mode) override;
    IsamCode close() override;

private:
    enum Statement {
        StmtEqual,
        StmtNext,
        StmtNextBelow,
        StmtNextAtMost,
        StmtNextKey,
        StmtRaiseMark,
        StmtKeyMark,
        StmtInsert,
        StmtAdd,
        StmtAddMany,
        StmtInsertMany,
        StmtUpdate,
        StmtDelete,
        StmtClear,
        StmtCount,
        StmtMark,
        StmtIdentity,
        StmtReadIdentity,
        StmtRangeFirst,
        StmtAmong,
        StmtLock,
        StmtUnlock,
        StmtUnlockAll,
        StmtLockAll,
    };
    using Param = PostgresConnection::Param;
    using Result = PostgresConnection::Result;

    // The name and text of a statement (parameters not yet given).
    PostgresConnection::Call statement(Statement which, int index);
    IsamCode run(Statement which, int index, const std::vector<Param>& params, Result& result);
    QByteArray sql(Statement which, int index) const;
    // The statements by their job: reads of records, adds (which move the
    // mark of the largest key), other writes, and those of the catalog's row
    // and the locks.
    QByteArray readSql(Statement which, int index) const;
    QByteArray addSql(Statement which) const;
    QByteArray changeSql(Statement which, int index) const;
    QByteArray catalogSql(Statement which) const;
    // The largest key ever held, and what an empty mark is first raised past,
    // as expressions on the catalog's row.
    QByteArray largestKey() const;
    QByteArray legacyMark() const;
    // The first part of an add's statement: `m`, the catalog's row with its
    // counter moved and its mark at `last` (an expression of the mark as it
    // stands).
    QByteArray movedMark(const QByteArray& last, const QByteArray& id) const;
    // The first statement of a range read, and an among read, as calls.
    PostgresConnection::Call rangeCall(int index, const QByteArray& from, const QByteArray& to);
    PostgresConnection::Call amongCall(int index, const QList<QByteArray>& values);
    // Whether every dataset of `along` shares this one's session: `others`
    // are then they, in their order.
    bool onThisSession(std::span<const TAlongRead> along, std::vector<PostgresIsamDataset*>& others) const;
    // Whether an among read of `values` on `index` into `record` may be made.
    IsamCode readableAmong(int index, const QList<QByteArray>& values, std::span<char> record);
    // Hands over `first`, the range's first chunk, and reads and hands over
    // the chunks after it up to `to`.
    IsamCode rangeFrom(int index, const QByteArray& to, const Result& first, std::span<char> record,
                       const TRangeReader& take);
    // Hands the rows of a read on `index` to the cursor; IsamCorrupt for one
    // that is not a record of this dataset.
    IsamCode takeRows(const Result& rows, int index);
    // Hands `rows` of a read on `index` to `take` one by one through
    // `record`, the position following them, while `more` (false once
    // `take` answers false). IsamCorrupt for a row that is not a record of
    // this dataset.
    IsamCode handOver(const Result& rows, int index, std::span<char> record, const TRangeReader& take, bool& more);
    // A write of `record` under `key` (either may be empty) as one call.
    PostgresConnection::Call writeCall(Statement which, const QByteArray& key, std::span<const char> record);
    // The adds under the next keys of `writes` from `first`, `count` of
    // them, as one call.
    // One dataset's batch in a write of several (writeBatches).
    struct TBatchPart
    {
        PostgresIsamDataset* dataset;
        QList<TBatchWrite>* writes;
        // Writes per statement, and the keys they were made under.
        std::vector<qsizetype> sizes;
        QList<QByteArray> chosen;
    };
    IsamCode writeBatches(std::vector<TBatchPart>& parts);
    // Checks a batch and makes the dataset ready for its statements.
    IsamCode readyForBatch(const QList<TBatchWrite>& writes);
    // The keys of a batch's writes, from the answers to its statements.
    IsamCode takeKeys(TBatchPart& part, const std::vector<Result>& results, std::size_t first) const;
    PostgresConnection::Call addsCall(const QList<TBatchWrite>& writes, qsizetype first, qsizetype count);
    // Adds the records of `keys` from `first` on, `count` of them, in one
    // statement (the catalog's row changed once, not once a record).
    IsamCode insertMany(const QList<QByteArray>& keys, std::span<const char> records, qsizetype first,
                        qsizetype count);
    // The calls of a batch; `sizes`: how many of the writes each makes.
    std::vector<PostgresConnection::Call> batchCalls(const QList<TBatchWrite>& writes, std::vector<qsizetype>& sizes);
    // The keys that `result`, the answer to a call making `count` writes
    // from `first`, gives them; IsamOk or the batch's failure.
    IsamCode keysOf(const QList<TBatchWrite>& writes, qsizetype first, qsizetype count, const Result& result,
                    QList<QByteArray>& chosen) const;
    IsamCode write(Statement which, const QByteArray& key, std::span<const char> record, Result& result);
    bool validKey(const QByteArray& key, qint64* number = nullptr) const;
    // Keys compared on the primary index travel as text: printable ASCII only.
    static bool textKey(const QByteArray& key);
    bool validIndex(int index) const;
    // What every read looks at first: the dataset open (the call then
    // begun), a known index, a record of the dataset's size.
    IsamCode readable(int index, std::span<char> record);
    qint64 lockNumber(qint64 key) const;
    // Begins a call on the locks of `keys` and gives their lock numbers;
    // IsamNotOpen when the dataset is not open, IsamBadKey for a key that is
    // none.
    IsamCode lockCall(const QList<QByteArray>& keys, QList<qint64>& numbers);
    // Asks once whether this session may not delete the dataset's rows but
    // marks them for the server to remove (a server whose roles may lock no
    // table: TRoleBounds).
    IsamCode askMarking();
    // askMarking before the first removal's statement is made.
    IsamCode readyFor(Statement which);

    std::shared_ptr<PostgresConnection> connection_;
    QByteArray table_;
    int id_;
    TIsamFormat format_;
    int keyLength_;
    std::map<std::pair<int, int>, QByteArray> statementText_;
    std::optional<bool> marksRemovals_;

    // The position and the rows read ahead.
    IsamReadAhead cursor_;
};
