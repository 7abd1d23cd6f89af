#include "StoreBench.h"

#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "DayEntryRecord.h"
#include "TIsamFormat.h"
#include "TEntryQuery.h"
#include "TXIsamFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>

namespace {

using namespace Calendar;

// The hand-written baseline: the statements one would write for each task.
class RawStore
{
public:
    explicit RawStore(const QString& dayPath, const QString& alarmPath)
    {
        sqlite3_open(QFile::encodeName(dayPath).constData(), &days_);
        sqlite3_open(QFile::encodeName(alarmPath).constData(), &alarms_);
        sqlite3_prepare_v2(days_, "SELECT pk, data FROM records WHERE ix3 >= ?1 AND ix3 < ?2 ORDER BY ix3, pk", -1,
                           &day_, nullptr);
        sqlite3_prepare_v2(days_, "SELECT pk, data FROM records ORDER BY pk", -1, &scan_, nullptr);
        sqlite3_prepare_v2(alarms_, "SELECT pk, data FROM records WHERE ix5 > ?1 AND ix5 < ?2 ORDER BY ix5, pk LIMIT 1",
                           -1, &poll_, nullptr);
        sqlite3_prepare_v2(days_, "SELECT max(pk) FROM records", -1, &maxKey_, nullptr);
        sqlite3_prepare_v2(days_, "INSERT INTO records (pk, data, ix3) VALUES (?1, ?2, ?3)", -1, &insert_, nullptr);
    }
    ~RawStore()
    {
        for (sqlite3_stmt* st : {day_, scan_, poll_, maxKey_, insert_})
            sqlite3_finalize(st);
        sqlite3_close(days_);
        sqlite3_close(alarms_);
    }

    int readDay(qint64 dayStart, DayEntryRecord& r)
    {
        const QByteArray from = key(dayStart).toLatin1(), to = key(dayStart + Day).toLatin1();
        sqlite3_bind_blob(day_, 1, from.constData(), int(from.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(day_, 2, to.constData(), int(to.size()), SQLITE_TRANSIENT);
        int n = 0;
        while (sqlite3_step(day_) == SQLITE_ROW) {
            std::memcpy(r.bytes().data(), sqlite3_column_blob(day_, 1), r.bytes().size());
            ++n;
        }
        sqlite3_reset(day_);
        return n;
    }

    bool poll(int user, AlarmRecord& r)
    {
        const QByteArray from = key(user).toLatin1(), to = key(user + 1).toLatin1();
        sqlite3_bind_blob(poll_, 1, from.constData(), int(from.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(poll_, 2, to.constData(), int(to.size()), SQLITE_TRANSIENT);
        const bool found = sqlite3_step(poll_) == SQLITE_ROW;
        if (found)
            std::memcpy(r.bytes().data(), sqlite3_column_blob(poll_, 1), r.bytes().size());
        sqlite3_reset(poll_);
        return found;
    }

    int scanAll(DayEntryRecord& r)
    {
        int n = 0;
        while (sqlite3_step(scan_) == SQLITE_ROW) {
            std::memcpy(r.bytes().data(), sqlite3_column_blob(scan_, 1), r.bytes().size());
            ++n;
        }
        sqlite3_reset(scan_);
        return n;
    }

    qint64 maxKey()
    {
        sqlite3_step(maxKey_);
        const qint64 largest = sqlite3_column_int64(maxKey_, 0);
        sqlite3_reset(maxKey_);
        return largest;
    }

    void insert(const DayEntryRecord& r)
    {
        sqlite3_exec(days_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        sqlite3_step(maxKey_);
        const qint64 next = sqlite3_column_int64(maxKey_, 0) + 1;
        sqlite3_reset(maxKey_);
        const QByteArray pk = key(next).toLatin1();
        const QByteArray start = r.StartTime().toLatin1();
        sqlite3_bind_text(insert_, 1, pk.constData(), int(pk.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert_, 2, r.bytes().data(), int(r.bytes().size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert_, 3, start.constData(), int(start.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert_);
        sqlite3_reset(insert_);
        sqlite3_exec(days_, "COMMIT", nullptr, nullptr, nullptr);
    }

private:
    sqlite3* days_ = nullptr;
    sqlite3* alarms_ = nullptr;
    sqlite3_stmt* day_ = nullptr;
    sqlite3_stmt* scan_ = nullptr;
    sqlite3_stmt* poll_ = nullptr;
    sqlite3_stmt* maxKey_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
};

// A day as the views read it.
int readDay(TXIsamFile& f, qint64 dayStart)
{
    int n = 0;
    TEntryQuery::ReadDay(f, key(dayStart), [&n](const DayEntryRecord&, const QString&) { ++n; });
    return n;
}

void runFor(int entries, const QString& folder)
{
    const QString dayPath = folder + QStringLiteral("/days%1.Ism").arg(entries);
    const QString alarmPath = folder + QStringLiteral("/alarms%1.Ism").arg(entries);
    loadCalendar(dayPath, alarmPath, entries);

    TXIsamFile days, alarms;
    check(days.Open(dayPath) && alarms.Open(alarmPath), "open");
    RawStore raw(dayPath, alarmPath);
    DayEntryRecord entry;
    AlarmRecord alarm;

    std::printf("%d day entries, 20000 alarms\n", entries);
    int dayIndex = 0;
    const auto nextDay = [&] { return FirstDay + Day * ((dayIndex = (dayIndex * 7 + 13) % Days)); };
    if (entries >= 10000) {
        printAlternated("one day (the views' query)", [&] { readDay(days, nextDay()); },
                        [&] { raw.readDay(nextDay(), entry); });
        printAlternated("one week (seven days)", [&] {
                            const qint64 monday = nextDay();
                            for (int d = 0; d < 7; ++d)
                                readDay(days, monday + d * Day);
                        },
                        [&] {
                            const qint64 monday = nextDay();
                            for (int d = 0; d < 7; ++d)
                                raw.readDay(monday + d * Day, entry);
                        });
        int user = 0;
        printAlternated("alarm poll (look-up, then mode 64)", [&] {
                            const QString u = key(1 + (user++ % Users));
                            alarms.GetEqual(alarm.bytes(), AlarmRecord::UserAlarmIndex, u);
                            alarms.Get(alarm.bytes(), AlarmRecord::UserAlarmIndex, u, TXIsamFile::ScanPrefix);
                        },
                        [&] { raw.poll(1 + (user++ % Users), alarm); });
        printAlternated("full scan (mode 16), per record", [&] {
                            days.Rewind(0);
                            while (days.Get(entry.bytes(), 0, QString(), TXIsamFile::ScanNext)) {
                            }
                        },
                        [&] { raw.scanAll(entry); }, entries, 5, 300);
    }
    entry.initialise();
    entry.setStartTime(key(FirstDay));
    printAlternated("insert with NextKey (synchronous)", [&] { check(days.Insert(entry.bytes()), "insert"); },
                    [&] { raw.insert(entry); }, 1, 5, 300);
    printAlternated("NextKey alone", [&] { days.NextKey(); }, [&] { raw.maxKey(); });
}

} // namespace

void runStoreBench()
{
    QTemporaryDir dir;
    std::printf("Dataset engine (ours) against hand-written SQLite statements on the same files\n");
    for (int entries : {1000, 10000, 100000})
        runFor(entries, dir.path());
}
