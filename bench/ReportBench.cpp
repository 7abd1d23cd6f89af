#include "ReportBench.h"

#include "DayEntryRecord.h"
#include "IsamFormat.h"
#include "TReportBuilder.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>

namespace {

constexpr qint64 Day = 86400;
constexpr qint64 FirstDay = 1577836800;  // 2020-01-01
constexpr int Days = 5 * 365;
constexpr int Users = 30;
constexpr int Entries = 100000;

QString key(qint64 n)
{
    return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0'));
}

bool fail(const char* what)
{
    std::printf("report bench: set-up failed: %s\n", what);
    return false;
}

// Writes the day entries in one SQLite transaction, as the engine would store
// them: inserting 100,000 records one synchronous write at a time would take
// minutes and measure nothing the report does.
bool bulkLoadDays(const QString& path)
{
    TXIsamFile f;
    if (!f.CreateDataset(path, 10, QString(DayEntryRecord::Format)))
        return fail("create");
    TIsamFormat format;
    format.parse(QString(DayEntryRecord::Format));
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
        return fail("open");
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
    sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
    QRandomGenerator rng(Entries);
    DayEntryRecord r;
    bool ok = st != nullptr;
    for (int i = 0; ok && i < Entries; ++i) {
        r.initialise();
        const qint64 day = FirstDay + Day * rng.bounded(Days);
        const bool untimed = rng.bounded(5) == 0;
        r.setFlags((untimed ? DayEntryRecord::UnTimed : 0) | (rng.bounded(10) == 0 ? DayEntryRecord::Private : 0));
        r.setStartTime(key(untimed ? day : day + 60 * rng.bounded(24 * 60)));
        r.setOwnerKey(key(1 + rng.bounded(Users)));
        r.setDescription(QStringLiteral("Meeting about the quarterly figures with the team"));
        for (int a = 0; a < 5; ++a)
            r.setAssignee(a, key(1 + rng.bounded(Users)));
        const QByteArray pk = key(i + 1).toLatin1();
        sqlite3_bind_text(st, 1, pk.constData(), int(pk.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(st, 2, r.bytes().data(), int(r.bytes().size()), SQLITE_TRANSIENT);
        int c = 3;
        for (int ix : format.indexes()) {
            const QByteArray v = format.indexValue(ix, r.bytes().data());
            sqlite3_bind_blob(st, c++, v.isEmpty() ? "" : v.constData(), int(v.size()), SQLITE_TRANSIENT);
        }
        ok = sqlite3_step(st) == SQLITE_DONE;
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok || fail("insert");
}

// Builds the report `runs` times and prints the mean time per report.
void time(const char* what, TReportBuilder& builder, TXIsamFile& days, TXIsamFile& users, int runs)
{
    QElapsedTimer timer;
    timer.start();
    qsizetype lines = 0;
    for (int i = 0; i < runs; ++i)
        lines = builder.Build(days, users).size();
    std::printf("  %-40s %8.1f ms per report, %lld lines\n", what, double(timer.nsecsElapsed()) / 1e6 / runs,
                static_cast<long long>(lines));
    std::fflush(stdout);
}

} // namespace

void runReportBench()
{
    QTemporaryDir folder;
    const QString dayPath = folder.filePath(QStringLiteral("QLDayEnt.Ism"));
    const QString userPath = folder.filePath(QStringLiteral("QLUsers.Ism"));
    TXIsamFile days, users;
    if (!folder.isValid() || !bulkLoadDays(dayPath) || !users.CreateDataset(userPath, 10, UserRecord::Format) ||
        !users.Open(userPath, 3) || !days.Open(dayPath, 3)) {
        fail("datasets");
        return;
    }
    for (int i = 1; i <= Users; ++i) {
        UserRecord u;
        u.setFullName(QStringLiteral("User number %1").arg(i));
        users.Insert(u.bytes());
    }

    std::printf("report over 2021 of %d day entries, %d users\n", Entries, Users);
    TReportBuilder builder;
    builder.StartDate = QDate(2021, 1, 1);
    builder.EndDate = QDate(2021, 12, 31);
    builder.CurrentUserKey = key(1);
    time("all users", builder, days, users, 3);
    for (int i = 1; i <= 3; ++i)
        builder.Users.append({key(i), QStringLiteral("User number %1").arg(i)});
    time("three users", builder, days, users, 3);
}
