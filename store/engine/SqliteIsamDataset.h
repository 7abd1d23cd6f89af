#pragma once

#include "IsamReadAhead.h"
#include "RecordLockFile.h"
#include "TIsamDataset.h"
#include "TIsamFormat.h"

#include <QByteArray>
#include <QString>

#include <map>

struct sqlite3;
struct sqlite3_stmt;

// One open SQLite dataset (see SqliteIsamEngine). Its position and the rows
// read ahead of it are an IsamReadAhead, as on a server; this class answers it
// with one statement a batch.
class SqliteIsamDataset : public TIsamDataset
{
public:
    // Takes ownership of `db`, opened on `fileName` and checked to be a dataset.
    SqliteIsamDataset(sqlite3* db, const QString& fileName, TIsamFormat format, int keyLength);
    ~SqliteIsamDataset() override;

    IsamCode get(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey,
                 std::span<char> record) override;
    IsamCode range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                   const TRangeReader& take) override;
    // The ranges in one read transaction: the file is locked, and looked at
    // for others' changes, once for all the values instead of once for each.
    IsamCode among(int index, const QList<QByteArray>& values, std::span<char> record,
                   const TRangeReader& take) override;
    IsamCode put(const QByteArray& key, std::span<const char> record, IsamPutMode mode) override;
    // Takes the next key and adds; when another process took that key in
    // between, the add fails (it never replaces) and the key after it is tried.
    IsamCode add(std::span<const char> record, QByteArray& key) override;
    // One BEGIN IMMEDIATE ... COMMIT for all of them.
    IsamCode putAll(const QList<QByteArray>& keys, std::span<const char> records) override;
    // One BEGIN IMMEDIATE ... COMMIT for all of them; next keys are chosen
    // under that write lock.
    IsamCode writeBatch(QList<TBatchWrite>& writes) override;
    IsamCode remove(const QByteArray& key) override;
    IsamCode first(int index) override;
    IsamCode nextKey(QByteArray& key) override;
    IsamCode raiseKeyMark(const QByteArray& key) override;
    IsamCode keyMark(QByteArray& mark) override;
    IsamCode info(qint64* recordCount, int& keyLength) override;
    IsamCode lock(const QByteArray& key) override;
    IsamCode unlock(const QByteArray& key) override;
    // The file's modification time to the nanosecond, size, device and file
    // number: what stat() tells, so that a write by any process moves it.
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
        StmtClear,
        StmtCount,
    };

    // The prepared statement `which` over `index`, prepared once and kept.
    sqlite3_stmt* statement(Statement which, int index, IsamCode& code);
    // The statement's text: the reads of the records, those of the engine's
    // own values (key mark, identity, settings, the count), the writes. Each
    // answers empty for a statement that is not its own.
    QByteArray readSql(Statement which, int index) const;
    QByteArray metaSql(Statement which) const;
    QByteArray writeSql(Statement which, int index) const;
    IsamCode read(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey, std::span<char> record);
    // Hands the rows of a read to the cursor; IsamCorrupt for one that is not
    // a record of this dataset.
    IsamCode readRows(sqlite3_stmt* st, int index);
    // One write in its own transaction. With `chosen`, an add under the next
    // key, chosen inside the transaction and answered there.
    IsamCode write(Statement which, const QByteArray& key, std::span<const char> record, int& changes,
                   QByteArray* chosen = nullptr);
    // The statements a batch writes with, prepared before its transaction.
    struct TBatchStatements
    {
        sqlite3_stmt* insert = nullptr;
        sqlite3_stmt* update = nullptr;
        sqlite3_stmt* remove = nullptr;
        sqlite3_stmt* mark = nullptr;
    };
    // False, with `code`, when one does not prepare.
    bool batchStatements(TBatchStatements& s, IsamCode& code);
    // One write of a batch inside its transaction, an add without a key
    // under the next one (into `key`). SQLITE_DONE when made; a refusal sets
    // `code` (IsamNotFound for a replace of no record) and answers
    // SQLITE_ERROR, a failed step its own result.
    int writeOne(const TBatchStatements& s, const TBatchWrite& w, QByteArray& key, IsamCode& code);
    // Rolls back the transaction a failed step `rc` was in; its IsamCode.
    IsamCode abandon(int rc);
    bool validKey(const QByteArray& key, qint64* number = nullptr) const;
    bool validIndex(int index) const;

    sqlite3* db_;
    QString fileName_;
    // The file's name as stat() takes it: changeMark() is asked once for
    // every view read, and need not encode the name each time.
    QByteArray encodedName_;
    TIsamFormat format_;
    int keyLength_;
    RecordLockFile locks_;
    // Damage was met: writes are refused with IsamCorrupt from then on.
    bool damaged_ = false;
    std::map<std::pair<int, int>, sqlite3_stmt*> statements_;

    // The position and the rows read ahead.
    IsamReadAhead cursor_;
};
