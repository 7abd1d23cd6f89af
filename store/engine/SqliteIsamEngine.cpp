#include "SqliteIsamEngine.h"

#include "IsamCode.h"
#include "TIsamFormat.h"
#include "SqliteIsamDataset.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* Magic = "QuorlaDataset";
constexpr const char* FormatVersion = "1";

QByteArray nativePath(const QString& fileName)
{
    return QFile::encodeName(fileName);
}

QByteArray column(int index)
{
    return "ix" + QByteArray::number(index);
}

int execAll(sqlite3* db, const QByteArray& sql)
{
    return sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
}

// Builds the dataset's tables in a new file at `path`.
IsamCode buildSchema(const QByteArray& path, int keyLength, const QString& format, const TIsamFormat& parsed)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return SqliteIsamEngine::codeFor(rc);
    }
    QByteArray sql = "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; BEGIN;"
                     "CREATE TABLE isam_meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
                     "CREATE TABLE records (pk TEXT PRIMARY KEY NOT NULL, data BLOB NOT NULL";
    for (int ix : parsed.indexes())
        sql += ", " + column(ix) + " BLOB NOT NULL";
    sql += ");";
    for (int ix : parsed.indexes())
        sql += "CREATE INDEX records_" + column(ix) + " ON records (" + column(ix) + ", pk);";
    rc = execAll(db, sql);
    if (rc == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        rc = sqlite3_prepare_v2(db, "INSERT INTO isam_meta (name, value) VALUES (?1, ?2)", -1, &st, nullptr);
        const QByteArray formatText = format.toUtf8();
        const QByteArray keyText = QByteArray::number(keyLength);
        // A new dataset has its key mark from the start: nothing can refer
        // to a key of it yet.
        const std::pair<const char*, QByteArray> rows[] = {{"magic", Magic},
                                                           {"version", FormatVersion},
                                                           {"keylength", keyText},
                                                           {"format", formatText},
                                                           {"highkey", QByteArray(keyLength, '0')}};
        for (const auto& [name, value] : rows) {
            if (rc != SQLITE_OK)
                break;
            sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
            sqlite3_bind_text(st, 2, value.constData(), int(value.size()), SQLITE_TRANSIENT);
            rc = sqlite3_step(st);
            rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
    }
    if (rc == SQLITE_OK)
        rc = execAll(db, "COMMIT");
    const IsamCode code = rc == SQLITE_OK ? IsamOk : SqliteIsamEngine::codeFor(rc);
    sqlite3_close_v2(db);
    return code;
}

// Reads the dataset's own description; IsamNotDataset when the file is not one.
IsamCode readMeta(sqlite3* db, int& keyLength, QString& format)
{
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT name, value FROM isam_meta", -1, &st, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        // "no such table" (a database of something else) comes as SQLITE_ERROR.
        return rc == SQLITE_ERROR ? IsamNotDataset : SqliteIsamEngine::codeFor(rc);
    }
    QByteArray magic, version;
    keyLength = 0;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const QByteArray name(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        const QByteArray value(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        if (name == "magic")
            magic = value;
        else if (name == "version")
            version = value;
        else if (name == "keylength")
            keyLength = value.toInt();
        else if (name == "format")
            format = QString::fromUtf8(value);
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        return SqliteIsamEngine::codeFor(rc);
    if (magic != Magic || version != FormatVersion)
        return IsamNotDataset;
    return IsamOk;
}

} // namespace

IsamCode SqliteIsamEngine::codeFor(int sqliteCode)
{
    switch (sqliteCode & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return IsamOk;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return IsamBusy;
    case SQLITE_FULL:
        return IsamDiskFull;
    case SQLITE_NOMEM:
        return IsamNoMemory;
    case SQLITE_IOERR:
        return sqliteCode == SQLITE_IOERR_NOMEM ? IsamNoMemory : IsamIoError;
    case SQLITE_CORRUPT:
        return IsamCorrupt;
    case SQLITE_NOTADB:
        return IsamNotDataset;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
        return IsamSystemCall;
    case SQLITE_CONSTRAINT:
        return IsamUpdateMode;
    case SQLITE_RANGE:
    case SQLITE_MISUSE:
    case SQLITE_TOOBIG:
        return IsamBadParameter;
    default:
        return IsamIoError;
    }
}

IsamCode SqliteIsamEngine::create(const QString& fileName, int keyLength, const QString& format,
                                  const std::shared_ptr<TIsamConnection>& /*connection*/)
{
    TIsamFormat parsed;
    if (!parsed.parse(format))
        return IsamBadFormat;
    if (keyLength < 1 || keyLength > 18)
        return IsamBadParameter;
    const QFileInfo target(fileName);
    if (!target.dir().exists())
        return IsamSystemCall;
    if (target.exists())
        return IsamNameInUse;

    // Build the file under a private name and link it into place: the link
    // fails if the name exists, so two workstations creating the same dataset at
    // once never overwrite each other, and nobody ever sees a half-made file.
    static QAtomicInt serial;
    const QString temporary = fileName + QStringLiteral(".new-%1-%2").arg(::getpid()).arg(serial.fetchAndAddRelaxed(1));
    const QByteArray tmpPath = nativePath(temporary);
    const QByteArray finalPath = nativePath(fileName);
    IsamCode code = buildSchema(tmpPath, keyLength, format, parsed);
    if (code == IsamOk) {
        if (::link(tmpPath.constData(), finalPath.constData()) != 0) {
            const int linkError = errno;
            if (linkError == EEXIST) {
                code = IsamNameInUse;
            } else if (::renameat2(AT_FDCWD, tmpPath.constData(), AT_FDCWD, finalPath.constData(), RENAME_NOREPLACE) != 0) {
                // Folders without hard links (some network shares) take the rename.
                code = errno == EEXIST ? IsamNameInUse : IsamSystemCall;
            }
        }
    }
    ::unlink(tmpPath.constData());
    ::unlink((tmpPath + "-journal").constData());
    return code;
}

IsamCode SqliteIsamEngine::exists(const QString& fileName, const std::shared_ptr<TIsamConnection>& /*connection*/)
{
    return QFileInfo::exists(fileName) ? IsamOk : IsamNotFound;
}

IsamCode SqliteIsamEngine::open(const QString& fileName, IsamOpenMode mode,
                                const std::shared_ptr<TIsamConnection>& /*connection*/,
                                std::unique_ptr<TIsamDataset>& dataset)
{
    dataset.reset();
    const QByteArray path = nativePath(fileName);
    sqlite3* db = nullptr;
    // Without SQLITE_OPEN_CREATE a missing file fails instead of being made.
    int rc = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return codeFor(rc);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, BusyTimeoutMs);

    int keyLength = 0;
    QString format;
    IsamCode code = readMeta(db, keyLength, format);
    TIsamFormat parsed;
    if (code == IsamOk && (!parsed.parse(format) || keyLength < 1 || keyLength > 18))
        code = IsamCorrupt;
    if (code == IsamOk) {
        // None of these pragmas writes to the file; cell_size_check makes
        // damaged pages fail as damaged instead of being read as something
        // else. A dataset that only looks on keeps its rollback journal file
        // between writes and does not wait for the disk: a write then changes
        // no folder entry, so it adds nothing to the next synchronous write
        // of the other datasets, and a killed process still rolls back.
        rc = execAll(db, (mode & IsamOpenUnsynced)
                             ? "PRAGMA journal_mode=PERSIST; PRAGMA synchronous=OFF; PRAGMA cell_size_check=ON;"
                             : "PRAGMA synchronous=FULL; PRAGMA cell_size_check=ON;");
        if (rc != SQLITE_OK)
            code = codeFor(rc);
    }
    if (code != IsamOk) {
        sqlite3_close_v2(db);
        return code;
    }
    dataset = std::make_unique<SqliteIsamDataset>(db, fileName, std::move(parsed), keyLength);
    return IsamOk;
}
