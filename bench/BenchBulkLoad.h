#pragma once

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "TIsamFormat.h"
#include "TXIsamFile.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
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

// The calendar the engine's benchmarks read: day entries over five years from
// 2020 among 30 users, a fifth of them un-timed and each with five assignees,
// and 20,000 alarms on them; the same for the same number of entries.
namespace Calendar {
inline constexpr qint64 Day = 86400;
inline constexpr qint64 FirstDay = 1577836800;  // 2020-01-01
inline constexpr int Days = 5 * 365;
inline constexpr int Users = 30;
inline constexpr int Alarms = 20000;
} // namespace Calendar

inline void loadCalendar(const QString& dayPath, const QString& alarmPath, int entries)
{
    using namespace Calendar;
    QRandomGenerator rng(entries);
    bulkLoad<DayEntryRecord>(dayPath, entries, [&](int, DayEntryRecord& r) {
        r.initialise();
        const qint64 day = FirstDay + Day * rng.bounded(Days);
        const bool untimed = rng.bounded(5) == 0;
        r.setFlags(untimed ? DayEntryRecord::UnTimed : 0);
        r.setStartTime(key(untimed ? day : day + 60 * rng.bounded(24 * 60)));
        r.setOwnerKey(key(1 + rng.bounded(Users)));
        r.setDescription(QStringLiteral("Meeting about the quarterly figures with the team"));
        for (int a = 0; a < 5; ++a)
            r.setAssignee(a, key(1 + rng.bounded(Users)));
    });
    bulkLoad<AlarmRecord>(alarmPath, Alarms, [&](int i, AlarmRecord& r) {
        r.setFlags(AlarmRecord::AlarmWanted);
        r.setAlarmTime(key(FirstDay + rng.bounded(Days * Day)));
        r.setDayEntryKey(key(1 + i % entries));
        r.setUserKey(key(1 + rng.bounded(Users)));
        r.rebuildUserAlarmKey();
    });
}
