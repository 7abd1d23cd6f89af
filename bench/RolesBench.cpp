#include "RolesBench.h"

#include "BenchServices.h"
#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "PostgresCluster.h"
#include "TDatabaseCopier.h"
#include "TDatabaseLocation.h"
#include "TEntryQuery.h"
#include "TEventWriter.h"
#include "TOfficeLoad.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TServerRoles.h"
#include "TServices.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QMap>
#include <QThread>
#include <QProcess>
#include <QTemporaryDir>

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The steady state an office's server is in: the set-up's dead rows cleaned
// and the tables' statistics there, so that the background worker doing it
// does not run in the middle of the figures.
void settle(PostgresCluster& server, const QString& database)
{
    server.query(database, "VACUUM ANALYZE");
    check(server.error().isEmpty(), "vacuum");
}

using namespace Calendar;

constexpr int Entries = 10000;
constexpr int LoadSeconds = 60;
constexpr int LoadProcesses = 4;
constexpr int ThroughputSeconds = 10;
const QString Password = QStringLiteral("benchpw");

// Messages printed and answered at once: a benchmark waits for nobody.
class PrintedServices : public TQtServices
{
public:
    MessageAnswer message(MessageKind, MessageButtons, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return MessageAnswer::Ok;
    }
};

// The calendar of the server benchmark in a folder, its 30 users plain
// users (they may add entries) with a password, copied to the server; a
// tenth of the entries private; then every user made a role of his own.
QString makeDatabase(PostgresCluster& server, const QString& folder)
{
    loadCalendar(folder + DayEntryRecord::FileName, folder + AlarmRecord::FileName, Entries);
    TXIsamFile users, categories;
    check(users.CreateDataset(folder + UserRecord::FileName, 10, UserRecord::Format)
              && categories.CreateDataset(folder + CategoryRecord::FileName, 10, CategoryRecord::Format)
              && users.Open(folder + UserRecord::FileName),
          "create");
    for (int n = 1; n <= Users; ++n) {
        UserRecord user;
        user.setUserName(QStringLiteral("U%1").arg(n));
        user.setPassword(Password);
        user.setRights(UserRecord::CanAddEntries);
        check(users.Insert(user.bytes()), "user");
    }
    users.Close();
    const QString uri = server.createDatabase(QStringLiteral("roles"));
    check(!uri.isEmpty(), "server database");
    // Throws, with the reason, when the copy fails.
    TDatabaseCopier{TDatabaseLocation(folder), TDatabaseLocation(uri)}.Run();
    server.query(QStringLiteral("roles"),
                 "UPDATE qldayent SET data = set_byte(data, " + QByteArray::number(DayEntryRecord::FlagsOffset)
                     + ", get_byte(data, " + QByteArray::number(DayEntryRecord::FlagsOffset) + ") | "
                     + QByteArray::number(DayEntryRecord::Private) + ") WHERE pk LIKE '%7'");
    check(server.error().isEmpty(), "private entries");
    TQuorlaDB copy{BenchServices::running(), TDatabaseLocation(uri)};
    check(TServerRoles(copy).AdoptUsers().roles == Users, "roles");
    settle(server, QStringLiteral("roles"));
    return uri;
}

// Reads and writes of user 1 (key 1), timed on `person` (his own role, the
// row policies on) against `shared` (the tables' owner, which they do not
// bind), alternated in rounds on the same server and data.
// Each side runs alone for a round of about a second, the two alternated
// (the second first every other round), as a workstation runs its
// statements back to back: the figure is each side's median rate and the
// median over the rounds of how many times longer the own role takes (with
// the least and the most of the rounds beside it). Rounds much shorter than
// a second differ by more than the roles do: on a machine of few cores each
// round meets the scheduler's placing of client and server afresh.
void printAlternated(const char* what, const std::function<void()>& own, const std::function<void()>& common,
                     int rounds)
{
    const Alternated a = alternate(own, common, 1, rounds, 1000);
    std::printf("  %-40s own role %7.3f ms   shared %7.3f ms   own/shared median %5.2f (rounds %4.2f-%4.2f)\n",
                what, 1000 / a.first, 1000 / a.second, a.medianRatio, a.minRatio, a.maxRatio);
    std::fflush(stdout);
}

// The views' reads and the alarm poll, own role beside shared.
void readsSideBySide(TQuorlaDB& person, TQuorlaDB& shared, const QString& me)
{
    int dayIndex = 0;
    const auto nextDay = [&] { return FirstDay + Day * ((dayIndex = (dayIndex * 7 + 13) % Days)); };
    const auto readDay = [](TQuorlaDB& db, qint64 dayStart) {
        TEntryQuery::ReadDay(db.DayEntries(), key(dayStart), [](const DayEntryRecord&, const QString&) {});
    };
    const auto readWeek = [&](TQuorlaDB& db) {
        const qint64 monday = nextDay();
        for (int d = 0; d < 7; ++d)
            readDay(db, monday + d * Day);
    };
    // Both sessions warmed first (their statements prepared, the server's
    // caches of the tables and policies filled), as a workstation's are
    // after its first minutes: the first figure is otherwise the warm-up's.
    for (TQuorlaDB* db : {&person, &shared})
        opsPerSecond([&] { readWeek(*db); }, 300);
    printAlternated("one day (the views' query)", [&] { readDay(person, nextDay()); }, [&] { readDay(shared, nextDay()); }, 7);
    printAlternated("one week (seven days)", [&] { readWeek(person); }, [&] { readWeek(shared); }, 7);
    AlarmRecord alarm;
    const auto poll = [&](TQuorlaDB& db) {
        db.Alarms().GetEqual(alarm.bytes(), AlarmRecord::UserAlarmIndex, me)
            || db.Alarms().Get(alarm.bytes(), AlarmRecord::UserAlarmIndex, me, TXIsamFile::ScanPrefix);
    };
    for (TQuorlaDB* db : {&person, &shared})
        opsPerSecond([&] { poll(*db); }, 300);
    printAlternated("alarm poll (look-up, then mode 64)", [&] { poll(person); }, [&] { poll(shared); }, 7);
}

// A new event and an event's properties changed, own role beside shared.
void writesSideBySide(TQuorlaDB& person, TQuorlaDB& shared, const QString& me)
{
    // New event: the entry, its alarm and trail record, one command.
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(key(FirstDay + 100 * Day + 9 * 3600));
    entry.setOwnerKey(me);
    entry.setAssigneeKeys({me});
    entry.setDescription(QStringLiteral("Weekly planning"));
    AlarmRecord wanted;
    wanted.setFlags(AlarmRecord::AlarmWanted);
    wanted.setAlarmTime(key(FirstDay + 100 * Day + 8 * 3600));
    const auto add = [&](TQuorlaDB& db) {
        AlarmRecord a = wanted;
        check(!TEventWriter(db).insertEntryWithAlarms(entry, a).isEmpty(), "new event");
    };
    printAlternated("new event (command: entry, alarm, trail)", [&] { add(person); }, [&] { add(shared); }, 5);
    // Event properties: opened under its lock, changed, its alarm kept.
    const QString changed = [&] {
        AlarmRecord a = wanted;
        return TEventWriter(person).insertEntryWithAlarms(entry, a);
    }();
    int round = 0;
    const auto change = [&](TQuorlaDB& db) {
        TEventWriter writer(db);
        std::optional<TRecordLock> lock;
        DayEntryRecord e;
        AlarmRecord a;
        bool hadAlarm = false;
        check(writer.openEntry(changed, lock, e, a, hadAlarm) == TEventWriter::Result::Done, "open event");
        e.setDescription(QStringLiteral("Weekly planning %1").arg(++round));
        const QString opened = a.AlarmTime();
        a.setFlags(AlarmRecord::AlarmWanted);
        check(writer.updateEntryWithAlarms(changed, e, a, opened) == TEventWriter::Result::Done, "change event");
    };
    printAlternated("event properties (open, change)", [&] { change(person); }, [&] { change(shared); }, 5);
}

void sideBySide(TQuorlaDB& person, TQuorlaDB& shared)
{
    const QString me = key(1);
    for (TQuorlaDB* db : {&person, &shared})
        db->SetActingUser(me);
    readsSideBySide(person, shared, me);
    writesSideBySide(person, shared, me);
}

// New events as fast as they go from `writers` processes at once, each
// user's own role (or the shared one): commands run one at a time on the
// server, so this shows what that costs. For each count of writers the two
// alternate, shared - own - own - shared, in spells of half the time, so
// that neither always meets the larger tables and the server's pending
// work; the figure is each side's commands over its whole time.
void throughput(const QString& program, const QString& uri, const QString& personal)
{
    struct Side
    {
        qint64 commands = 0;
        qint64 refused = 0;
        QMap<QByteArray, int> waits;
    };
    const int spell = ThroughputSeconds / 2;
    const auto run = [&](bool own, int writers, Side& side) {
        std::vector<std::unique_ptr<QProcess>> loads;
        for (int w = 1; w <= writers; ++w) {
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(program, {QStringLiteral("roles-writer"), own ? personal : uri, QString::number(w),
                               own ? Password : QString(), QString::number(spell)});
            loads.push_back(std::move(p));
        }
        // What the writers' statements wait for, sampled as they run.
        PGconn* watcher = PQconnectdb(uri.toUtf8().constData());
        QElapsedTimer running;
        running.start();
        while (running.elapsed() < spell * 1000 && PQstatus(watcher) == CONNECTION_OK) {
            PGresult* r = PQexec(watcher, "SELECT coalesce(wait_event_type || ':' || wait_event, 'running') || ' in '"
                                          " || left(query, 40) FROM pg_stat_activity WHERE datname = 'roles'"
                                          " AND state = 'active' AND pid <> pg_backend_pid()");
            for (int row = 0; row < PQntuples(r); ++row)
                ++side.waits[PQgetvalue(r, row, 0)];
            PQclear(r);
            QThread::msleep(50);
        }
        PQfinish(watcher);
        for (auto& p : loads) {
            p->waitForFinished((spell + 60) * 1000);
            const QList<QByteArray> counts = p->readAllStandardOutput().trimmed().split(' ');
            side.commands += counts.value(0).toLongLong();
            side.refused += counts.value(1).toLongLong();
        }
    };
    for (int writers : {1, 2, 4}) {
        Side shared, own;
        for (const bool ownSpell : {false, true, true, false})
            run(ownSpell, writers, ownSpell ? own : shared);
        for (const bool isOwn : {false, true}) {
            const Side& side = isOwn ? own : shared;
            std::printf("  new events from %d writer%s at once, %-17s: %6.0f commands/s (%lld refused)\n", writers,
                        writers == 1 ? "" : "s", isOwn ? "each his own role" : "the shared role",
                        double(side.commands) / (2 * spell), static_cast<long long>(side.refused));
            QList<std::pair<int, QByteArray>> seen;
            for (auto it = side.waits.cbegin(); it != side.waits.cend(); ++it)
                seen.append({it.value(), it.key()});
            std::sort(seen.rbegin(), seen.rend());
            for (const auto& [count, what] : seen.mid(0, 3))
                std::printf("      seen %4d times: %s\n", count, what.constData());
        }
        std::printf("    own/shared time per command: %5.2f\n",
                    own.commands > 0 ? double(shared.commands) / double(own.commands) : 0.0);
        std::fflush(stdout);
    }
}

} // namespace

int rolesWriterMain(const QStringList& a)
{
    // <uri> <user number> <password, empty for the URI's role> <seconds>
    if (a.size() != 4)
        return 2;
    PrintedServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    const int user = a[1].toInt();
    qint64 commands = 0, refused = 0;
    {
        const TDatabaseLocation location(a[0]);
        std::unique_ptr<TQuorlaDB> db
            = a[2].isEmpty() ? std::make_unique<TQuorlaDB>(BenchServices::running(), location)
                             : std::make_unique<TQuorlaDB>(BenchServices::running(), location, TQuorlaDB::TLogin{QStringLiteral("quorla_u%1").arg(user), a[2]});
        db->SetActingUser(key(user));
        DayEntryRecord entry;
        entry.initialise();
        entry.setStartTime(key(FirstDay + 200 * Day + 9 * 3600));
        entry.setOwnerKey(key(user));
        entry.setAssigneeKeys({key(user)});
        entry.setDescription(QStringLiteral("Weekly planning"));
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < a[3].toLongLong() * 1000) {
            AlarmRecord alarm;
            alarm.setFlags(AlarmRecord::AlarmWanted);
            alarm.setAlarmTime(key(FirstDay + 200 * Day + 8 * 3600));
            // A writer that finds the next key taken too often gives up
            // that event, as the program's command would.
            try {
                TEventWriter(*db).insertEntryWithAlarms(entry, alarm);
                ++commands;
            } catch (const EQuorla&) {
                ++refused;
            }
        }
    }
    std::printf("%lld %lld\n", static_cast<long long>(commands), static_cast<long long>(refused));
    BenchServices::install(previous);
    return 0;
}

void runRolesBench(const QString& program)
{
    std::printf("Each person as his own server role under the row policies, beside the shared role they do not bind "
                "(a private PostgreSQL cluster, fsync on)\n");
    PrintedServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    {
        PostgresCluster server({QStringLiteral("max_connections=600"), QStringLiteral("fsync=on")});
        if (!server.error().isEmpty()) {
            std::printf("  no server: %s\n", qPrintable(server.error()));
            BenchServices::install(previous);
            return;
        }
        QTemporaryDir dir;
        const QString uri = makeDatabase(server, dir.path() + QStringLiteral("/"));
        const QString personal = server.personalUri(QStringLiteral("roles"));
        std::printf("%d day entries (a tenth private), %d alarms, %d users; user U1 (may add entries) as himself\n",
                    Entries, Alarms, Users);
        {
            TQuorlaDB person(BenchServices::running(), TDatabaseLocation(personal), TQuorlaDB::TLogin{QStringLiteral("quorla_u1"), Password});
            TQuorlaDB shared{BenchServices::running(), TDatabaseLocation(uri)};
            sideBySide(person, shared);
        }
        throughput(program, uri, personal);
    }
    {
        // Roles belong to the whole server: the office's users on one of
        // their own.
        PostgresCluster server({QStringLiteral("max_connections=600"), QStringLiteral("fsync=on")});
        std::printf("The office: each workstation polls every 10 s and adds an event with an alarm a minute; %d s "
                    "each, %d load processes\n",
                    LoadSeconds, LoadProcesses);
        const QString office = server.createDatabase(QStringLiteral("office"));
        check(!office.isEmpty() && TOfficeLoad::prepare(office, 200, Password), "office database");
        settle(server, QStringLiteral("office"));
        TOfficeLoad::print(TOfficeLoad::run(program, office, 200, LoadSeconds, LoadProcesses));
        check(TOfficeLoad::adoptRoles(office, 200), "office roles");
        // The roles' 200 row and catalog changes otherwise leave the
        // background worker cleaning and analysing in the middle of the
        // figures (own-role p99 8.0 ms against 4.2 ms settled, one run each).
        settle(server, QStringLiteral("office"));
        std::printf("  the same, each workstation as its user's own role:\n");
        TOfficeLoad::print(TOfficeLoad::run(program, server.personalUri(QStringLiteral("office")), 200, LoadSeconds,
                                            LoadProcesses, Password));
    }
    BenchServices::install(previous);
}
