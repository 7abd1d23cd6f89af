#pragma once

#include "PostgresConnection.h"
#include "TIsamDataset.h"
#include "TIsamFormat.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <vector>

// One open dataset on a database server (see PostgresIsamEngine), using its
// database object's shared connection. Like the folder engine it keeps the
// position as values and reads ahead: a scan fetches the next rows that can
// satisfy its condition in one statement and hands them out one by one, so a
// day or a user's alarms cost one round trip, not one per record. Any
// positioning or write through this object drops the rows read ahead.
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

    int get(int index, int mode, const QByteArray& key, QByteArray& foundKey,
            std::span<char> record) override;
    int put(const QByteArray& key, std::span<const char> record, int mode) override;
    // One statement that moves the mark of the largest key and adds under the
    // key after it: adds by others wait for each other there, and never meet
    // on one key.
    int add(std::span<const char> record, QByteArray& key) override;
    // One transaction for all of them.
    int putAll(const QList<QByteArray>& keys, std::span<const char> records) override;
    // One BEGIN ... COMMIT for all of them.
    int writeBatch(QList<TBatchWrite>& writes) override;
    int remove(const QByteArray& key) override;
    int first(int index) override;
    int nextKey(QByteArray& key) override;
    int raiseKeyMark(const QByteArray& key) override;
    int keyMark(QByteArray& mark) override;
    int info(qint64* recordCount, int& keyLength) override;
    int lock(const QByteArray& key) override;
    int unlock(const QByteArray& key) override;
    // The dataset's number and its counter of writes, read in one round trip.
    int changeMark(QByteArray& mark) override;
    int identity(QByteArray& id, bool make) override;
    int setting(const QByteArray& name, QByteArray& value, SettingMode mode) override;
    int close() override;

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
        StmtUpdate,
        StmtDelete,
        StmtCount,
        StmtMark,
        StmtIdentity,
        StmtReadIdentity,
        StmtLock,
        StmtUnlock,
        StmtUnlockAll,
    };
    using Param = PostgresConnection::Param;
    using Result = PostgresConnection::Result;

    int run(Statement which, int index, const std::vector<Param>& params, Result& result);
    QByteArray sql(Statement which, int index) const;
    int readEqual(int index, const QByteArray& key, QByteArray& foundKey, std::span<char> record);
    int fetchBatch(int index, int mode, const QByteArray& key);
    // Checks the rows of a read: records of the dataset's size under valid keys.
    int checkRows(const Result& rows) const;
    int write(Statement which, const QByteArray& key, std::span<const char> record, Result& result);
    bool validKey(const QByteArray& key, qint64* number = nullptr) const;
    // Keys compared on the primary index travel as text: printable ASCII only.
    static bool textKey(const QByteArray& key);
    bool validIndex(int index) const;
    qint64 lockNumber(qint64 key) const;
    void dropBatch();
    void setPosition(int index, QByteArray value, QByteArray key);
    // The index value of row `row` of `rows` read on `index`.
    QByteArray valueOf(const Result& rows, int row, int index) const;

    std::shared_ptr<PostgresConnection> connection_;
    QByteArray table_;
    int id_;
    TIsamFormat format_;
    int keyLength_;
    std::map<std::pair<int, int>, QByteArray> statementText_;

    // Current position: the index and the values of the last record returned
    // (or where a failed look-up would stand).
    int posIndex_ = 0;
    QByteArray posValue_;
    QByteArray posKey_;

    // Rows read ahead: the records that followed the position in one index when
    // they were read. batchDone_: the statement returned every row up to the end
    // of the index or, when batchBounded_, up to the bound of the scan it was
    // read for (batchMode_, batchKey_).
    Result batch_;
    int batchNext_ = 0;
    bool batchValid_ = false;
    bool batchDone_ = false;
    bool batchBounded_ = false;
    int batchIndex_ = 0;
    int batchMode_ = 0;
    QByteArray batchKey_;
    int batchSize_ = 0;

    // Rows read beyond the match of a look-up by a secondary index, learnt per
    // index from the scans that followed earlier look-ups.
    std::map<int, int> lookahead_;
    int equalIndex_ = 0;
    int readSinceEqual_ = 0;
};
