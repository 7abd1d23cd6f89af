#pragma once

#include "RecordLockFile.h"
#include "TIsamDataset.h"
#include "TIsamFormat.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// One open SQLite dataset (see SqliteIsamEngine). Scan reads are served in
// batches: a scan fetches the next rows that can satisfy its condition in one
// statement and hands them out one by one; any positioning or write through this
// object drops the batch, and the position itself is kept as values, so a batch
// never changes what a scan returns beyond the moment at which rows are read.
class SqliteIsamDataset : public TIsamDataset
{
public:
    // Takes ownership of `db`, opened on `fileName` and checked to be a dataset.
    SqliteIsamDataset(sqlite3* db, const QString& fileName, TIsamFormat format, int keyLength);
    ~SqliteIsamDataset() override;

    int get(int index, int mode, const QByteArray& key, QByteArray& foundKey,
            std::span<char> record) override;
    int range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
              const TRangeReader& take) override;
    int put(const QByteArray& key, std::span<const char> record, int mode) override;
    // Takes the next key and adds; when another process took that key in
    // between, the add fails (it never replaces) and the key after it is tried.
    int add(std::span<const char> record, QByteArray& key) override;
    // One BEGIN IMMEDIATE ... COMMIT for all of them.
    int putAll(const QList<QByteArray>& keys, std::span<const char> records) override;
    // One BEGIN IMMEDIATE ... COMMIT for all of them; next keys are chosen
    // under that write lock.
    int writeBatch(QList<TBatchWrite>& writes) override;
    int remove(const QByteArray& key) override;
    int first(int index) override;
    int nextKey(QByteArray& key) override;
    int raiseKeyMark(const QByteArray& key) override;
    int keyMark(QByteArray& mark) override;
    int info(qint64* recordCount, int& keyLength) override;
    int lock(const QByteArray& key) override;
    int unlock(const QByteArray& key) override;
    // The file's modification time to the nanosecond, size, device and file
    // number: what stat() tells, so that a write by any process moves it.
    int changeMark(QByteArray& mark) override;
    int identity(QByteArray& id, bool make) override;
    int setting(const QByteArray& name, QByteArray& value, SettingMode mode) override;
    int close() override;

private:
    // A row read ahead; its bytes live in arena_.
    struct Row {
        std::size_t keyOffset = 0;
        int keyLength = 0;
        std::size_t valueOffset = 0;
        int valueLength = 0;
        std::size_t dataOffset = 0;
    };
    enum Statement {
        StmtEqual,
        StmtNext,
        StmtNextBelow,
        StmtNextAtMost,
        StmtRange,
        StmtNextKey,
        StmtIdentity,
        StmtSetIdentity,
        StmtSetting,
        StmtKeepSetting,
        StmtReplaceSetting,
        StmtRaiseMark,
        StmtKeyMark,
        StmtInsert,
        StmtUpdate,
        StmtDelete,
        StmtCount,
    };

    sqlite3_stmt* statement(Statement which, int index, int& code);
    int read(int index, int mode, const QByteArray& key, QByteArray& foundKey, std::span<char> record);
    int readEqual(int index, const QByteArray& key, QByteArray& foundKey, std::span<char> record);
    int fetchBatch(int index, int mode, const QByteArray& key);
    int readRows(sqlite3_stmt* st, int index);
    // One write in its own transaction. With `chosen`, an add under the next
    // key, chosen inside the transaction and answered there.
    int write(Statement which, const QByteArray& key, std::span<const char> record, int& changes,
              QByteArray* chosen = nullptr);
    // Rolls back the transaction a failed step `rc` was in; its IsamCode.
    int abandon(int rc);
    bool validKey(const QByteArray& key, qint64* number = nullptr) const;
    bool validIndex(int index) const;
    // Drops the rows read ahead, keeping the position.
    void dropBatch();
    // Copies the position out of the batch row it stands on, if it does.
    void settlePosition();
    void reserveArena(std::size_t bytes);
    // Copies bytes to the end of the rows' bytes; answers where they start.
    std::size_t appendArena(const char* bytes, std::size_t size);
    // Whether the key is exactly the key length in decimal digits.
    bool digitsKey(const char* key, int length) const;
    void setPosition(int index, QByteArray value, QByteArray key);

    sqlite3* db_;
    QString fileName_;
    TIsamFormat format_;
    int keyLength_;
    RecordLockFile locks_;
    // Damage was met: writes are refused with IsamCorrupt from then on.
    bool damaged_ = false;
    std::map<std::pair<int, int>, sqlite3_stmt*> statements_;

    // Current position: the index and the values of the last record returned
    // (or where a failed look-up would stand).
    int posIndex_ = 0;
    QByteArray posValue_;
    QByteArray posKey_;
    // While >= 0 the position is that row of the batch (a scan read copies
    // nothing more); settlePosition() turns it into posValue_/posKey_.
    std::ptrdiff_t posRow_ = -1;

    // Rows read ahead: the records that followed the position in one index when
    // they were read. batchDone_: the statement returned every row up to the end
    // of the index or, when batchBounded_, up to the bound of the scan it was
    // read for (batchMode_, batchKey_).
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
    int batchMode_ = 0;
    QByteArray batchKey_;
    int batchSize_ = 0;

    // Read-ahead of secondary look-ups, learnt per index from the scans that
    // followed them.
    std::map<int, int> lookahead_;
    int equalIndex_ = 0;
    int readSinceEqual_ = 0;
};
