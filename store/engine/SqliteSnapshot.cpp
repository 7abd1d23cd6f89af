#include "SqliteSnapshot.h"

#include "SqliteIsamEngine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <sqlite3.h>

namespace {

constexpr int BusyPauseMs = 5;

sqlite3* openFile(const QString& path, int flags, int& rc)
{
    sqlite3* db = nullptr;
    rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK)
        sqlite3_extended_result_codes(db, 1);
    return db;
}

// Copies the whole of `from` into `to`; a file locked by a writer is tried
// again until `waitMs` have passed.
int copyWhole(sqlite3* from, sqlite3* to, int waitMs)
{
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup)
        return sqlite3_errcode(to);
    QElapsedTimer waited;
    waited.start();
    int rc;
    while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        if (waited.hasExpired(waitMs))
            break;
        QThread::msleep(BusyPauseMs);
    }
    const int finished = sqlite3_backup_finish(backup);
    return rc == SQLITE_DONE ? finished : rc;
}

} // namespace

SqliteSnapshot::SqliteSnapshot(QStringList files)
    : files_(std::move(files))
{
}

SqliteSnapshot::~SqliteSnapshot()
{
    closeAll();
}

void SqliteSnapshot::closeAll()
{
    for (sqlite3* db : sources_)
        sqlite3_close_v2(db);
    for (sqlite3* db : copies_)
        sqlite3_close_v2(db);
    sources_.clear();
    copies_.clear();
}

IsamCode SqliteSnapshot::failed(int rc, sqlite3* db)
{
    reason_ = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
    return SqliteIsamEngine::codeFor(rc);
}

IsamCode SqliteSnapshot::Open()
{
    closeAll();
    for (const QString& file : files_) {
        // Opened for writing, though never written: a file a killed writer
        // left with its journal is rolled back first, which a reader that may
        // not write cannot do. One this process may not write is read as it
        // is.
        int rc = SQLITE_OK;
        sources_.push_back(openFile(file, SQLITE_OPEN_READWRITE, rc));
        if (rc != SQLITE_OK) {
            sqlite3_close_v2(sources_.back());
            sources_.back() = openFile(file, SQLITE_OPEN_READONLY, rc);
        }
        if (rc != SQLITE_OK)
            return failed(rc, sources_.back());
        sqlite3_busy_timeout(sources_.back(), SqliteIsamEngine::BusyTimeoutMs);
    }
    return IsamOk;
}

IsamCode SqliteSnapshot::Versions(std::vector<qint64>& versions)
{
    versions.clear();
    for (sqlite3* db : sources_) {
        sqlite3_stmt* st = nullptr;
        int rc = sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &st, nullptr);
        if (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW)
            versions.push_back(sqlite3_column_int64(st, 0));
        sqlite3_finalize(st);
        if (rc != SQLITE_ROW)
            return failed(rc, db);
    }
    return IsamOk;
}

IsamCode SqliteSnapshot::Capture(int waitMs)
{
    for (sqlite3* db : copies_)
        sqlite3_close_v2(db);
    copies_.clear();
    for (sqlite3* source : sources_) {
        int rc = SQLITE_OK;
        copies_.push_back(openFile(QStringLiteral(":memory:"), SQLITE_OPEN_READWRITE, rc));
        if (rc == SQLITE_OK)
            rc = copyWhole(source, copies_.back(), waitMs);
        if (rc != SQLITE_OK)
            return failed(rc, source);
    }
    return IsamOk;
}

IsamCode SqliteSnapshot::Save(const QStringList& targets)
{
    if (targets.size() != qsizetype(copies_.size()))
        return IsamBadParameter;
    for (std::size_t i = 0; i < copies_.size(); ++i) {
        int rc = SQLITE_OK;
        sqlite3* target = openFile(targets[qsizetype(i)], SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, rc);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(target, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = copyWhole(copies_[i], target, 0);
        const IsamCode code = rc == SQLITE_OK ? IsamOk : failed(rc, target);
        sqlite3_close_v2(target);
        if (code != IsamOk)
            return code;
    }
    return IsamOk;
}

IsamCode SqliteSnapshot::Integrity(const QString& path, QString& findings)
{
    findings.clear();
    int rc = SQLITE_OK;
    sqlite3* db = openFile(path, SQLITE_OPEN_READONLY, rc);
    sqlite3_stmt* st = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check(20)", -1, &st, nullptr);
    QStringList lines;
    int step = SQLITE_DONE;
    while (rc == SQLITE_OK && (step = sqlite3_step(st)) == SQLITE_ROW)
        lines << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    if (rc != SQLITE_OK || step != SQLITE_DONE)
        lines << QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_finalize(st);
    sqlite3_close_v2(db);
    if (lines == QStringList{QStringLiteral("ok")})
        return IsamOk;
    findings = lines.join(QLatin1Char('\n'));
    return IsamCorrupt;
}
