#include "SqliteIsamDataset.h"

#include "FolderPause.h"
#include "IsamCode.h"
#include "IsamKeyRules.h"
#include "SqliteIsamEngine.h"

#include <QUuid>

#include <sqlite3.h>

#include <QFile>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

void bindBytes(sqlite3_stmt* st, int column, const QByteArray& bytes, bool asText)
{
    const char* data = bytes.isEmpty() ? "" : bytes.constData();
    if (asText)
        sqlite3_bind_text(st, column, data, int(bytes.size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_blob(st, column, data, int(bytes.size()), SQLITE_TRANSIENT);
}

QByteArray columnBytes(sqlite3_stmt* st, int column)
{
    const void* data = sqlite3_column_blob(st, column);
    const int size = sqlite3_column_bytes(st, column);
    return data ? QByteArray(static_cast<const char*>(data), size) : QByteArray();
}

// Resets a statement on every way out, so that no read keeps the file locked.
class StatementGuard
{
public:
    explicit StatementGuard(sqlite3_stmt* st) : st_(st) {}
    ~StatementGuard()
    {
        if (st_) {
            sqlite3_reset(st_);
            sqlite3_clear_bindings(st_);
        }
    }
    StatementGuard(const StatementGuard&) = delete;
    StatementGuard& operator=(const StatementGuard&) = delete;

private:
    sqlite3_stmt* st_;
};

// A long range read through a secondary index visits the records in the
// order of that index, which is not their order in the file: with SQLite's
// usual page cache (a few megabytes) nearly every record costs a read of its
// page from the file again. Once a read has gone on for a while, the cache is
// widened for the rest of it, and put back as it was when the read ends,
// which gives the memory back.
class WideCacheWhileLong
{
public:
    explicit WideCacheWhileLong(sqlite3* db) : db_(db) {}
    ~WideCacheWhileLong()
    {
        if (widened_)
            sqlite3_exec(db_, ("PRAGMA cache_size=" + QByteArray::number(usual_)).constData(), nullptr, nullptr,
                         nullptr);
    }
    WideCacheWhileLong(const WideCacheWhileLong&) = delete;
    WideCacheWhileLong& operator=(const WideCacheWhileLong&) = delete;

    // Counts a record read.
    void read()
    {
        if (++records_ != LongRead)
            return;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, "PRAGMA cache_size", -1, &st, nullptr) == SQLITE_OK
            && sqlite3_step(st) == SQLITE_ROW) {
            usual_ = sqlite3_column_int64(st, 0);
            widened_ = sqlite3_exec(db_, ("PRAGMA cache_size=-" + QByteArray::number(WideKiB)).constData(), nullptr,
                                    nullptr, nullptr)
                == SQLITE_OK;
        }
        sqlite3_finalize(st);
    }

private:
    // Records read before the cache is widened, and its size then: room for
    // the pages of a dataset of a few hundred thousand records.
    static constexpr int LongRead = 1024;
    static constexpr int WideKiB = 128 * 1024;
    sqlite3* db_;
    int records_ = 0;
    qint64 usual_ = 0;
    bool widened_ = false;
};

} // namespace

SqliteIsamDataset::SqliteIsamDataset(sqlite3* db, const QString& fileName, TIsamFormat format, int keyLength)
    : db_(db), fileName_(fileName), encodedName_(QFile::encodeName(fileName)), format_(std::move(format)), keyLength_(keyLength),
      locks_(fileName + QStringLiteral(".lck")), cursor_(format_.recordSize(), keyLength)
{
}

SqliteIsamDataset::~SqliteIsamDataset()
{
    close();
}

IsamCode SqliteIsamDataset::close()
{
    for (auto& [id, st] : statements_)
        sqlite3_finalize(st);
    statements_.clear();
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    locks_.close();
    cursor_.drop();
    return IsamOk;
}

bool SqliteIsamDataset::validIndex(int index) const
{
    return index == 0 || format_.isIndex(index);
}

bool SqliteIsamDataset::validKey(const QByteArray& key, qint64* number) const
{
    return IsamKeyRules::validKey(key, keyLength_, number);
}

QByteArray SqliteIsamDataset::readSql(Statement which, int index) const
{
    const QByteArray col = IsamKeyRules::column(index);
    const QByteArray valueColumn = index == 0 ? QByteArray() : ", " + col;
    switch (which) {
    case StmtEqual:
        return index == 0 ? "SELECT pk, data FROM records WHERE pk = ?1"
                          : "SELECT pk, data" + valueColumn + " FROM records WHERE " + col + " >= ?1 ORDER BY " + col
                + ", pk LIMIT ?2";
    case StmtNext:
    case StmtNextBelow:
    case StmtNextAtMost: {
        QByteArray where = index == 0 ? "pk > ?2" : "(" + col + ", pk) > (?1, ?2)";
        if (which == StmtNextBelow)
            where += " AND " + col + " < ?3";
        else if (which == StmtNextAtMost)
            where += " AND " + col + " <= ?3";
        return "SELECT pk, data" + valueColumn + " FROM records WHERE " + where + " ORDER BY " + col
            + (index == 0 ? QByteArray() : QByteArray(", pk")) + " LIMIT ?4";
    }
    case StmtRange:
        return "SELECT pk, data" + valueColumn + " FROM records WHERE " + col + " >= ?1 AND " + col + " <= ?2 ORDER BY "
            + col + (index == 0 ? QByteArray() : QByteArray(", pk"));
    default:
        return {};
    }
}

QByteArray SqliteIsamDataset::metaSql(Statement which) const
{
    switch (which) {
    case StmtIdentity:
        return "SELECT value FROM isam_meta WHERE name = 'identity'";
    case StmtSetIdentity:
        return "INSERT INTO isam_meta (name, value) VALUES ('identity', ?1) ON CONFLICT (name) DO NOTHING";
    // Settings are kept apart from the engine's own values by their prefix.
    case StmtSetting:
        return "SELECT value FROM isam_meta WHERE name = 'setting:' || ?1";
    case StmtKeepSetting:
        return "INSERT INTO isam_meta (name, value) VALUES ('setting:' || ?1, ?2) ON CONFLICT (name) DO NOTHING";
    case StmtReplaceSetting:
        return "INSERT INTO isam_meta (name, value) VALUES ('setting:' || ?1, ?2)"
               " ON CONFLICT (name) DO UPDATE SET value = excluded.value";
    case StmtNextKey:
        // Keys are digit texts of one length, so text order is number order.
        return "SELECT max(coalesce((SELECT value FROM isam_meta WHERE name = 'highkey'), ''),"
               " coalesce((SELECT max(pk) FROM records), ''))";
    case StmtRaiseMark:
        return "INSERT INTO isam_meta (name, value) VALUES ('highkey', ?1)"
               " ON CONFLICT (name) DO UPDATE SET value = excluded.value WHERE excluded.value > value";
    case StmtKeyMark:
        return "SELECT value FROM isam_meta WHERE name = 'highkey'";
    case StmtCount:
        return "SELECT count(*) FROM records";
    default:
        return {};
    }
}

QByteArray SqliteIsamDataset::writeSql(Statement which, int index) const
{
    switch (which) {
    case StmtInsert:
    case StmtUpdate: {
        QByteArray names = "pk, data";
        QByteArray values = "?1, ?2";
        QByteArray sets = "data = ?2";
        int n = 3;
        for (int ix : format_.indexes()) {
            const QByteArray c = IsamKeyRules::column(ix);
            const QByteArray p = "?" + QByteArray::number(n++);
            names += ", " + c;
            values += ", " + p;
            sets += ", " + c + " = " + p;
        }
        return which == StmtInsert ? "INSERT INTO records (" + names + ") VALUES (" + values + ")"
                                   : "UPDATE records SET " + sets + " WHERE pk = ?1";
    }
    case StmtDelete:
        return "DELETE FROM records WHERE pk = ?1";
    case StmtClear:
        return "DELETE FROM records WHERE " + IsamKeyRules::column(index) + " = ?1";
    default:
        return {};
    }
}

sqlite3_stmt* SqliteIsamDataset::statement(Statement which, int index, IsamCode& code)
{
    const auto id = std::make_pair(int(which), index);
    if (auto it = statements_.find(id); it != statements_.end())
        return it->second;
    if (!db_) {
        code = IsamNotOpen;
        return nullptr;
    }

    QByteArray sql = readSql(which, index);
    if (sql.isEmpty())
        sql = metaSql(which);
    if (sql.isEmpty())
        sql = writeSql(which, index);
    sqlite3_stmt* st = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        // The statements match every dataset we create; one that does not
        // prepare means the file's tables are not what they should be.
        code = rc == SQLITE_ERROR ? IsamCorrupt : SqliteIsamEngine::codeFor(rc);
        return nullptr;
    }
    statements_.emplace(id, st);
    return st;
}

IsamCode SqliteIsamDataset::get(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey,
                                std::span<char> record)
{
    // Damage met once makes the object refuse every later write (put, remove):
    // a damaged file is not written to any further.
    const IsamCode code = read(index, mode, key, foundKey, record);
    damaged_ = damaged_ || code == IsamCorrupt;
    return code;
}

IsamCode SqliteIsamDataset::read(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey,
                                 std::span<char> record)
{
    if (!db_)
        return IsamNotOpen;
    if (!validIndex(index))
        return IsamBadParameter;
    if (record.size() != format_.recordSize())
        return IsamBadParameter;
    if (mode == IsamReadEqual) {
        return cursor_.equal(index, key, foundKey, record, [this](int index, const QByteArray& key, int limit) {
            IsamCode code = IsamOk;
            sqlite3_stmt* st = statement(StmtEqual, index, code);
            if (!st)
                return code;
            StatementGuard guard(st);
            bindBytes(st, 1, key, index == 0);
            if (index != 0)
                sqlite3_bind_int(st, 2, limit);
            return readRows(st, index);
        });
    }
    if (mode != IsamReadNext && mode != IsamReadPrefix && mode != IsamReadBelow && mode != IsamReadAtMost)
        return IsamBadParameter;
    return cursor_.next(index, mode, key, foundKey, record, [this](const IsamReadAhead::TScanQuery& query) {
        const int index = query.index;
        const Statement which = query.bound == IsamReadAhead::Bound::Below ? StmtNextBelow
            : query.bound == IsamReadAhead::Bound::AtMost                  ? StmtNextAtMost
                                                                            : StmtNext;
        IsamCode code = IsamOk;
        sqlite3_stmt* st = statement(which, index, code);
        if (!st)
            return code;
        StatementGuard guard(st);
        if (index != 0)
            bindBytes(st, 1, query.value, false);
        bindBytes(st, 2, query.key, true);
        if (which != StmtNext)
            bindBytes(st, 3, query.boundValue, index == 0);
        sqlite3_bind_int(st, 4, query.limit);
        return readRows(st, index);
    });
}

IsamCode SqliteIsamDataset::range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                                  const TRangeReader& take)
{
    if (!db_)
        return IsamNotOpen;
    if (!validIndex(index) || record.size() != format_.recordSize())
        return IsamBadParameter;
    cursor_.drop();
    IsamCode code = IsamOk;
    sqlite3_stmt* st = statement(StmtRange, index, code);
    if (!st)
        return code;
    // One statement, its rows handed over as SQLite holds them: a day of the
    // calendar costs what a hand-written query costs.
    StatementGuard guard(st);
    bindBytes(st, 1, from, index == 0);
    bindBytes(st, 2, to, index == 0);
    WideCacheWhileLong cache(db_);
    int rc;
    QByteArray key;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const int keyLength = sqlite3_column_bytes(st, 0);
        const char* keyData = static_cast<const char*>(sqlite3_column_blob(st, 0));
        const int dataLength = sqlite3_column_bytes(st, 1);
        const char* data = static_cast<const char*>(sqlite3_column_blob(st, 1));
        key = QByteArray(keyData, keyLength);
        if (std::size_t(dataLength) != format_.recordSize() || !data || !keyData || !validKey(key)) {
            damaged_ = true;
            return IsamCorrupt;
        }
        // The position follows the rows, so a scan after the range goes on
        // after the last record handed over.
        if (index == 0)
            cursor_.standOn(index, keyData, keyLength, keyData, keyLength);
        else
            cursor_.standOn(index, static_cast<const char*>(sqlite3_column_blob(st, 2)), sqlite3_column_bytes(st, 2),
                            keyData, keyLength);
        std::memcpy(record.data(), data, record.size());
        if (!take(key))
            return IsamOk;
        if (index != 0)
            cache.read();
    }
    return rc == SQLITE_DONE ? IsamOk : SqliteIsamEngine::codeFor(rc);
}

IsamCode SqliteIsamDataset::among(int index, const QList<QByteArray>& values, std::span<char> record,
                                  const TRangeReader& take)
{
    if (!db_)
        return IsamNotOpen;
    // Inside a transaction of this file's already, its reads are that one's.
    const bool own = values.size() > 1 && sqlite3_get_autocommit(db_) != 0
        && sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    const IsamCode code = TIsamDataset::among(index, values, record, take);
    // Nothing was written: the end only lets the file go.
    if (own && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return code;
}

IsamCode SqliteIsamDataset::readRows(sqlite3_stmt* st, int index)
{
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const char* value = index == 0 ? nullptr : static_cast<const char*>(sqlite3_column_blob(st, 2));
        if (!cursor_.addRow(index, static_cast<const char*>(sqlite3_column_blob(st, 0)), sqlite3_column_bytes(st, 0),
                            static_cast<const char*>(sqlite3_column_blob(st, 1)),
                            std::size_t(sqlite3_column_bytes(st, 1)), value,
                            value ? sqlite3_column_bytes(st, 2) : 0))
            return IsamCorrupt;
    }
    return rc == SQLITE_DONE ? IsamOk : SqliteIsamEngine::codeFor(rc);
}

IsamCode SqliteIsamDataset::first(int index)
{
    if (!db_)
        return IsamNotOpen;
    if (!validIndex(index))
        return IsamBadParameter;
    cursor_.rewind(index);
    return IsamOk;
}

IsamCode SqliteIsamDataset::nextKey(QByteArray& key)
{
    if (!db_)
        return IsamNotOpen;
    IsamCode code = IsamOk;
    sqlite3_stmt* st = statement(StmtNextKey, 0, code);
    if (!st)
        return code;
    StatementGuard guard(st);
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW)
        return SqliteIsamEngine::codeFor(rc);
    const QByteArray largest = columnBytes(st, 0);
    qint64 number = 0;
    if (!largest.isEmpty() && !validKey(largest, &number))
        return IsamCorrupt;
    key = QByteArray::number(number + 1).rightJustified(keyLength_, '0');
    return key.size() == keyLength_ ? IsamOk : IsamBadKey;
}

IsamCode SqliteIsamDataset::raiseKeyMark(const QByteArray& key)
{
    if (!db_)
        return IsamNotOpen;
    if (!validKey(key))
        return IsamBadKey;
    if (damaged_)
        return IsamCorrupt;
    cursor_.drop();
    IsamCode code = IsamOk;
    sqlite3_stmt* st = statement(StmtRaiseMark, 0, code);
    if (!st)
        return code;
    StatementGuard guard(st);
    bindBytes(st, 1, key, true);
    const int rc = sqlite3_step(st);
    return rc == SQLITE_DONE ? IsamOk : SqliteIsamEngine::codeFor(rc);
}

IsamCode SqliteIsamDataset::keyMark(QByteArray& mark)
{
    mark.clear();
    if (!db_)
        return IsamNotOpen;
    IsamCode code = IsamOk;
    sqlite3_stmt* st = statement(StmtKeyMark, 0, code);
    if (!st)
        return code;
    StatementGuard guard(st);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW)
        mark = columnBytes(st, 0);
    else if (rc != SQLITE_DONE)
        return SqliteIsamEngine::codeFor(rc);
    return mark.isEmpty() || validKey(mark) ? IsamOk : IsamCorrupt;
}

IsamCode SqliteIsamDataset::write(Statement which, const QByteArray& key, std::span<const char> record, int& changes,
                                  QByteArray* chosen)
{
    cursor_.drop();
    changes = 0;
    IsamCode code = IsamOk;
    sqlite3_stmt* st = statement(which, 0, code);
    if (!st)
        return code;

    // BEGIN IMMEDIATE takes the write lock before anything is read, so that two
    // writers wait for each other (within the busy timeout) instead of meeting
    // in a deadlock that SQLite would report at once. A backup's pause holds
    // every write back (FolderPause).
    const FolderPause::Hold pause(fileName_);
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return SqliteIsamEngine::codeFor(rc);
    if (chosen) {
        // The key is chosen under the write lock, so no other workstation can
        // add (or add and delete) it between the choice and the add.
        code = nextKey(*chosen);
        if (code != IsamOk) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return code;
        }
    }
    const QByteArray& used = chosen ? *chosen : key;
    {
        StatementGuard guard(st);
        bindBytes(st, 1, used, true);
        if (which != StmtDelete) {
            sqlite3_bind_blob(st, 2, record.data(), int(record.size()), SQLITE_TRANSIENT);
            int n = 3;
            for (int ix : format_.indexes())
                bindBytes(st, n++, format_.indexValue(ix, record.data()), false);
        }
        rc = sqlite3_step(st);
        if (rc == SQLITE_DONE)
            changes = sqlite3_changes(db_);
    }
    if (rc == SQLITE_DONE && which == StmtInsert) {
        // The mark of the largest key ever held moves in the same transaction
        // as the add, so a key freed later by a delete is never handed out again.
        sqlite3_stmt* mark = statement(StmtRaiseMark, 0, code);
        if (!mark) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return code;
        }
        StatementGuard guard(mark);
        bindBytes(mark, 1, used, true);
        rc = sqlite3_step(mark);
    }
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        changes = 0;
        return abandon(rc);
    }
    return IsamOk;
}

IsamCode SqliteIsamDataset::abandon(int rc)
{
    damaged_ = damaged_ || (rc & 0xFF) == SQLITE_CORRUPT;
    // A failed statement or commit must not leave the transaction, and with
    // it the dataset's write lock, behind.
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if ((rc & 0xFF) == SQLITE_CONSTRAINT)
        return IsamUpdateMode;
    return SqliteIsamEngine::codeFor(rc);
}

IsamCode SqliteIsamDataset::putAll(const QList<QByteArray>& keys, std::span<const char> records)
{
    if (!db_)
        return IsamNotOpen;
    const std::size_t size = format_.recordSize();
    if (records.size() != size * std::size_t(keys.size()))
        return IsamBadParameter;
    QByteArray largest;
    for (const QByteArray& key : keys) {
        if (!validKey(key))
            return IsamBadKey;
        largest = std::max(largest, key);
    }
    if (damaged_)
        return IsamCorrupt;
    if (keys.isEmpty())
        return IsamOk;
    cursor_.drop();
    IsamCode code = IsamOk;
    sqlite3_stmt* insert = statement(StmtInsert, 0, code);
    sqlite3_stmt* mark = insert ? statement(StmtRaiseMark, 0, code) : nullptr;
    if (!mark)
        return code;
    const FolderPause::Hold pause(fileName_);
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return SqliteIsamEngine::codeFor(rc);
    for (qsizetype i = 0; i < keys.size() && (rc == SQLITE_OK || rc == SQLITE_DONE); ++i) {
        StatementGuard guard(insert);
        const char* record = records.data() + std::size_t(i) * size;
        bindBytes(insert, 1, keys[i], true);
        sqlite3_bind_blob(insert, 2, record, int(size), SQLITE_TRANSIENT);
        int n = 3;
        for (int ix : format_.indexes())
            bindBytes(insert, n++, format_.indexValue(ix, record), false);
        rc = sqlite3_step(insert);
    }
    if (rc == SQLITE_DONE) {
        StatementGuard guard(mark);
        bindBytes(mark, 1, largest, true);
        rc = sqlite3_step(mark);
    }
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? IsamOk : abandon(rc);
}

bool SqliteIsamDataset::batchStatements(TBatchStatements& s, IsamCode& code)
{
    s.insert = statement(StmtInsert, 0, code);
    s.update = s.insert ? statement(StmtUpdate, 0, code) : nullptr;
    s.remove = s.update ? statement(StmtDelete, 0, code) : nullptr;
    s.mark = s.remove ? statement(StmtRaiseMark, 0, code) : nullptr;
    return s.mark != nullptr;
}

int SqliteIsamDataset::writeOne(const TBatchStatements& s, const TBatchWrite& w, QByteArray& key, IsamCode& code)
{
    if (w.mode == IsamPutAdd && key.isEmpty() && (code = nextKey(key)) != IsamOk)
        return SQLITE_ERROR;
    sqlite3_stmt* st = w.mode == IsamPutClear ? statement(StmtClear, w.index, code)
        : w.mode == IsamPutAdd                ? s.insert
        : w.mode == IsamPutReplace            ? s.update
                                              : s.remove;
    if (!st)
        return SQLITE_ERROR;
    int rc = SQLITE_OK;
    {
        StatementGuard guard(st);
        bindBytes(st, 1, key, w.mode != IsamPutClear);
        if (w.mode == IsamPutAdd || w.mode == IsamPutReplace) {
            sqlite3_bind_blob(st, 2, w.record.constData(), int(format_.recordSize()), SQLITE_TRANSIENT);
            int n = 3;
            for (int ix : format_.indexes())
                bindBytes(st, n++, format_.indexValue(ix, w.record.constData()), false);
        }
        rc = sqlite3_step(st);
    }
    if (rc != SQLITE_DONE)
        return rc;
    if (w.mode == IsamPutReplace && sqlite3_changes(db_) == 0) {
        code = IsamNotFound;
        return SQLITE_ERROR;
    }
    if (w.mode != IsamPutAdd)
        return rc;
    StatementGuard guard(s.mark);
    bindBytes(s.mark, 1, key, true);
    return sqlite3_step(s.mark);
}

IsamCode SqliteIsamDataset::writeBatch(QList<TBatchWrite>& writes)
{
    if (!db_)
        return IsamNotOpen;
    if (const IsamCode code = checkBatch(
            writes, format_.recordSize(), [this](const QByteArray& key) { return validKey(key); },
            [this](int index) { return validIndex(index); });
        code != IsamOk)
        return code;
    if (damaged_)
        return IsamCorrupt;
    if (writes.isEmpty())
        return IsamOk;
    cursor_.drop();
    IsamCode code = IsamOk;
    TBatchStatements statements;
    if (!batchStatements(statements, code))
        return code;
    const FolderPause::Hold pause(fileName_);
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return SqliteIsamEngine::codeFor(rc);
    QList<QByteArray> chosen;
    for (TBatchWrite& w : writes) {
        QByteArray key = w.key;
        rc = writeOne(statements, w, key, code);
        if (rc != SQLITE_DONE)
            break;
        chosen << key;
    }
    if (code != IsamOk) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return code;
    }
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return abandon(rc);
    for (qsizetype i = 0; i < writes.size(); ++i)
        writes[i].key = chosen[i];
    return IsamOk;
}

IsamCode SqliteIsamDataset::put(const QByteArray& key, std::span<const char> record, IsamPutMode mode)
{
    if (!db_)
        return IsamNotOpen;
    if (!validKey(key))
        return IsamBadKey;
    if (record.size() != format_.recordSize())
        return IsamBadParameter;
    if (damaged_)
        return IsamCorrupt;
    if (mode != IsamPutAdd && mode != IsamPutReplace)
        return IsamUpdateMode;
    int changes = 0;
    const IsamCode code = write(mode == IsamPutAdd ? StmtInsert : StmtUpdate, key, record, changes);
    if (code != IsamOk)
        return code;
    return changes == 0 ? IsamNotFound : IsamOk;
}

IsamCode SqliteIsamDataset::add(std::span<const char> record, QByteArray& key)
{
    key.clear();
    if (!db_)
        return IsamNotOpen;
    if (record.size() != format_.recordSize())
        return IsamBadParameter;
    if (damaged_)
        return IsamCorrupt;
    int changes = 0;
    const IsamCode code = write(StmtInsert, QByteArray(), record, changes, &key);
    if (code != IsamOk)
        key.clear();
    return code;
}

IsamCode SqliteIsamDataset::remove(const QByteArray& key)
{
    if (!db_)
        return IsamNotOpen;
    if (!validKey(key))
        return IsamBadKey;
    if (damaged_)
        return IsamCorrupt;
    int changes = 0;
    const IsamCode code = write(StmtDelete, key, {}, changes);
    if (code != IsamOk)
        return code;
    return changes == 0 ? IsamNotFound : IsamOk;
}

IsamCode SqliteIsamDataset::info(qint64* recordCount, int& keyLength)
{
    if (!db_)
        return IsamNotOpen;
    keyLength = keyLength_;
    if (!recordCount)
        return IsamOk;
    IsamCode code = IsamOk;
    sqlite3_stmt* st = statement(StmtCount, 0, code);
    if (!st)
        return code;
    StatementGuard guard(st);
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW)
        return SqliteIsamEngine::codeFor(rc);
    *recordCount = sqlite3_column_int64(st, 0);
    return IsamOk;
}

IsamCode SqliteIsamDataset::lock(const QByteArray& key)
{
    if (!db_)
        return IsamNotOpen;
    qint64 number = 0;
    if (!validKey(key, &number))
        return IsamBadKey;
    switch (locks_.lock(number)) {
    case RecordLockFile::Locked:
        return IsamOk;
    case RecordLockFile::HeldElsewhere:
        return IsamLocked;
    case RecordLockFile::Failed:
        break;
    }
    return IsamSystemCall;
}

IsamCode SqliteIsamDataset::unlock(const QByteArray& key)
{
    if (!db_)
        return IsamNotOpen;
    qint64 number = 0;
    if (!validKey(key, &number))
        return IsamBadKey;
    return locks_.unlock(number) ? IsamOk : IsamSystemCall;
}

IsamCode SqliteIsamDataset::changeMark(QByteArray& mark)
{
    if (!db_)
        return IsamNotOpen;
    // The time alone is not enough: at the file system's clock resolution a
    // write right after the last look could keep the time, and a file replaced
    // by a copy may carry an old one. Size and file number come with the same
    // call and catch those.
    struct stat st {};
    if (::stat(encodedName_.constData(), &st) != 0)
        return IsamSystemCall;
    const qint64 fields[] = {qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), qint64(st.st_size),
                             qint64(st.st_dev), qint64(st.st_ino)};
    mark = QByteArray(reinterpret_cast<const char*>(fields), sizeof(fields));
    return IsamOk;
}

IsamCode SqliteIsamDataset::setting(const QByteArray& name, QByteArray& value, SettingMode mode)
{
    if (!db_)
        return IsamNotOpen;
    if (name.isEmpty() || (mode != SettingMode::Read && value.isEmpty()))
        return IsamBadParameter;
    IsamCode code = IsamOk;
    if (mode != SettingMode::Read) {
        if (damaged_)
            return IsamCorrupt;
        sqlite3_stmt* st = statement(mode == SettingMode::Keep ? StmtKeepSetting : StmtReplaceSetting, 0, code);
        if (!st)
            return code;
        StatementGuard guard(st);
        bindBytes(st, 1, name, true);
        bindBytes(st, 2, value, true);
        const int rc = sqlite3_step(st);
        if (rc != SQLITE_DONE)
            return SqliteIsamEngine::codeFor(rc);
        if (mode == SettingMode::Replace)
            return IsamOk;
    }
    sqlite3_stmt* st = statement(StmtSetting, 0, code);
    if (!st)
        return code;
    StatementGuard guard(st);
    bindBytes(st, 1, name, true);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        value = columnBytes(st, 0);
        return IsamOk;
    }
    return rc == SQLITE_DONE ? IsamNotFound : SqliteIsamEngine::codeFor(rc);
}

IsamCode SqliteIsamDataset::identity(QByteArray& id, bool make)
{
    if (!db_)
        return IsamNotOpen;
    for (int attempt = 0; attempt < 2; ++attempt) {
        IsamCode code = IsamOk;
        sqlite3_stmt* st = statement(StmtIdentity, 0, code);
        if (!st)
            return code;
        {
            StatementGuard guard(st);
            const int rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                id = columnBytes(st, 0);
                return id.isEmpty() ? IsamCorrupt : IsamOk;
            }
            if (rc != SQLITE_DONE)
                return SqliteIsamEngine::codeFor(rc);
        }
        // None yet: make one. Two workstations doing so at once keep the
        // first; the read above then finds it.
        if (!make)
            return IsamNotFound;
        if (damaged_)
            return IsamCorrupt;
        st = statement(StmtSetIdentity, 0, code);
        if (!st)
            return code;
        StatementGuard guard(st);
        bindBytes(st, 1, id.isEmpty() ? QUuid::createUuid().toByteArray(QUuid::WithoutBraces) : id, true);
        const int rc = sqlite3_step(st);
        if (rc != SQLITE_DONE)
            return SqliteIsamEngine::codeFor(rc);
    }
    return IsamCorrupt;
}
