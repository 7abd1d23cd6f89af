#pragma once

#include "IsamFormat.h"
#include "TXIsamFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

// Set-up helpers shared by the benchmarks that need large datasets.

inline QString key(qint64 n)
{
    return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0'));
}

inline void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "benchmark set-up failed: %s\n", what);
        std::exit(1);
    }
}

// Fills a new dataset in one transaction straight through SQLite: loading
// 100,000 records one synchronous transaction at a time would take minutes and
// measure nothing we use. The rows are exactly what the engine writes.
template <typename Record>
void bulkLoad(const QString& path, int count, const std::function<void(int, Record&)>& make)
{
    TXIsamFile f;
    check(f.CreateDataset(path, 10, QString(Record::Format)), "create");
    TIsamFormat format;
    format.parse(QString(Record::Format));
    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK, "open");
    QByteArray sql = "INSERT INTO records (pk, data";
    QByteArray values = "?1, ?2";
    int n = 3;
    for (int ix : format.indexes()) {
        sql += ", ix" + QByteArray::number(ix);
        values += ", ?" + QByteArray::number(n++);
    }
    sql += ") VALUES (" + values + ")";
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK, "prepare");
    Record r;
    for (int i = 0; i < count; ++i) {
        r.clear();
        make(i, r);
        const QByteArray pk = key(i + 1).toLatin1();
        sqlite3_bind_text(st, 1, pk.constData(), int(pk.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(st, 2, r.bytes().data(), int(r.bytes().size()), SQLITE_TRANSIENT);
        int c = 3;
        for (int ix : format.indexes()) {
            const QByteArray v = format.indexValue(ix, r.bytes().data());
            sqlite3_bind_blob(st, c++, v.isEmpty() ? "" : v.constData(), int(v.size()), SQLITE_TRANSIENT);
        }
        check(sqlite3_step(st) == SQLITE_DONE, "insert");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "commit");
    sqlite3_close(db);
}
