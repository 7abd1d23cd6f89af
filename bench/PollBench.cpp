#include "PollBench.h"

#include "AlarmRecord.h"
#include "BenchFigures.h"
#include "IsamFormat.h"
#include "TAlarmPoller.h"
#include "TQuorlaDB.h"
#include "TWorkstationStore.h"
#include "TXIsamFile.h"
#include "TfrmNotify.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr qint64 Day = 86400;
constexpr qint64 FirstDay = 1893456000;  // 2030-01-01: nothing is due yet
constexpr int Users = 30;

QString key(qint64 n)
{
    return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0'));
}

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "poll benchmark set-up failed: %s\n", what);
        std::exit(1);
    }
}

// Writes `count` alarms for random users at random future times into a new
// alarms dataset in one SQLite transaction, exactly as the engine stores them:
// inserting them one engine call at a time would take minutes.
void bulkLoadAlarms(const QString& path, int count)
{
    TXIsamFile f;
    check(f.CreateDataset(path, 10, QString(AlarmRecord::Format)), "create");
    TIsamFormat format;
    format.parse(QString(AlarmRecord::Format));
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
    QRandomGenerator rng(count);
    AlarmRecord r;
    for (int i = 0; i < count; ++i) {
        r.clear();
        r.setFlags(AlarmRecord::AlarmWanted);
        r.setAlarmTime(key(FirstDay + rng.bounded(int(365 * Day))));
        r.setDayEntryKey(key(1 + i));
        r.setUserKey(key(1 + rng.bounded(Users)));
        r.rebuildUserAlarmKey();
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

double pollsPerSecond(int alarms)
{
    QTemporaryDir folder;
    check(folder.isValid(), "folder");
    bulkLoadAlarms(folder.filePath(QString(AlarmRecord::FileName)), alarms);
    TWorkstationStore store;
    // Never point the workstation's real settings at a benchmark folder.
    check(store.Location().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))), "private settings");
    check(store.OpenKey(true) && store.WriteString(QStringLiteral("RootPath"), folder.path()), "root path");
    TQuorlaDB database;
    TfrmNotify notify;
    TAlarmPoller poller(notify);
    int user = 0;
    return opsPerSecond([&] { poller.Poll(database, key(1 + (user++ % Users))); });
}

} // namespace

void runPollBench()
{
    std::printf("Alarm poll, nothing due (30 users)\n");
    // The bench must not touch the workstation's own settings.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const double small = pollsPerSecond(1000);
    const double large = pollsPerSecond(100000);
    std::printf("  %-34s %12.0f polls/s\n", "1,000 alarms", small);
    std::printf("  %-34s %12.0f polls/s\n", "100,000 alarms", large);
    std::printf("  %-34s %12.2f\n", "time 100,000 / time 1,000", small / large);
    std::fflush(stdout);
}
