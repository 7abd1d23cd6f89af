#include "BinBench.h"

#include "AlarmRecord.h"
#include "BenchServices.h"
#include "BinRecord.h"
#include "DayEntryRecord.h"
#include "PostgresCluster.h"
#include "RecordKey.h"
#include "TEventWriter.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Rounds = 15;
constexpr int PerRound = 20;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "bin bench: %s failed\n", what);
        std::exit(1);
    }
}

QStringList addEntries(TQuorlaDB& db, int count)
{
    TEventWriter writer(db);
    QStringList keys;
    for (int i = 0; i < count; ++i) {
        DayEntryRecord entry;
        entry.initialise();
        entry.setDescription(QStringLiteral("Budget review %1").arg(i));
        entry.setStartTime(RecordKey::format(1800000000 + i * 3600));
        entry.setOwnerKey(RecordKey::format(1));
        entry.setAssigneeKeys({RecordKey::format(1), RecordKey::format(2)});
        AlarmRecord alarm;
        alarm.setFlags(AlarmRecord::AlarmWanted);
        alarm.setAlarmTime(entry.StartTime());
        TEntryDetails details;
        details.location = QStringLiteral("Room 2.14");
        keys << writer.insertEntryWithAlarms(entry, alarm, {}, details);
    }
    return keys;
}

double deleteMs(TQuorlaDB& db, const QStringList& keys)
{
    TEventWriter writer(db);
    QElapsedTimer timer;
    timer.start();
    for (const QString& key : keys)
        check(writer.deleteEntryWithAlarms(key) == TEventWriter::Result::Done, "delete");
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Alternated rounds of PerRound deletions on each; prints the medians.
void compare(const char* engine, TQuorlaDB& withBin, TQuorlaDB& plain)
{
    check(withBin.Bin() != nullptr && plain.Bin() == nullptr, "bin on one side only");
    std::vector<double> ours, raw, ratios;
    for (int round = 0; round < Rounds; ++round) {
        const QStringList a = addEntries(withBin, PerRound);
        const QStringList b = addEntries(plain, PerRound);
        double x = 0, y = 0;
        if (round % 2 == 0) {
            x = deleteMs(withBin, a);
            y = deleteMs(plain, b);
        } else {
            y = deleteMs(plain, b);
            x = deleteMs(withBin, a);
        }
        ours.push_back(x / PerRound);
        raw.push_back(y / PerRound);
        ratios.push_back(x / y);
    }
    std::printf("  %-8s delete into the bin %8.2f ms   plain %8.2f ms   bin/plain time min %5.2f median %5.2f"
                " (goal <= 1.30)\n",
                engine, median(ours), median(raw), *std::min_element(ratios.begin(), ratios.end()), median(ratios));
    std::fflush(stdout);
}

void addUsers(TQuorlaDB& db)
{
    for (int i = 0; i < 2; ++i) {
        UserRecord user;
        user.setFullName(QStringLiteral("User %1").arg(i + 1));
        check(db.Users().Insert(user.bytes()), "user");
    }
    db.SetActingUser(RecordKey::format(1));
}

void onFolder()
{
    QTemporaryDir dir;
    const QString bin = dir.filePath(QStringLiteral("bin/"));
    const QString plain = dir.filePath(QStringLiteral("plain/"));
    check(QDir().mkpath(bin) && QDir().mkpath(plain), "folders");
    { TQuorlaDB made{BenchServices::running(), TDatabaseLocation(plain)}; }
    check(QFile::remove(plain + BinRecord::FileName), "remove the bin");
    TQuorlaDB withBin{BenchServices::running(), TDatabaseLocation(bin)};
    TQuorlaDB without{BenchServices::running(), TDatabaseLocation(plain), TQuorlaDB::Opening::ExistingOnly};
    addUsers(withBin);
    addUsers(without);
    compare("folder", withBin, without);
}

void onServer()
{
    PostgresCluster server({QStringLiteral("fsync=on")});
    if (!server.error().isEmpty()) {
        std::printf("  no server: %s\n", qPrintable(server.error()));
        return;
    }
    const QString bin = server.createDatabase(QStringLiteral("bin"));
    const QString plain = server.createDatabase(QStringLiteral("plain"));
    { TQuorlaDB made{BenchServices::running(), TDatabaseLocation(plain)}; }
    server.query(QStringLiteral("plain"), "DROP TABLE qlbin; DELETE FROM quorla_datasets WHERE name = 'qlbin'");
    check(server.error().isEmpty(), "drop the bin");
    TQuorlaDB withBin{BenchServices::running(), TDatabaseLocation(bin)};
    TQuorlaDB without{BenchServices::running(), TDatabaseLocation(plain), TQuorlaDB::Opening::ExistingOnly};
    addUsers(withBin);
    addUsers(without);
    compare("server", withBin, without);
}

} // namespace

void runBinBench()
{
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    std::printf("Deleting an event (2 assignees with alarms, a place) into the bin against a plain delete, "
                "median of %d rounds of %d\n",
                Rounds, PerRound);
    onFolder();
    onServer();
    BenchServices::install(previous);
}
