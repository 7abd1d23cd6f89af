#include "TOfficeLoad.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "TIsamEngine.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "TConsoleMachineServices.h"
#include "TConsolePersonServices.h"
#include "TDatabaseLocation.h"
#include "TQuorlaDB.h"
#include "TQuorlaDatasets.h"
#include "TServerRoles.h"
#include "TStamp.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr qint64 PollEveryMs = 10'000;
constexpr qint64 WriteEveryMs = 60'000;

// One workstation of a load process: the alarm poll's database object, a
// server session of its own.
struct Workstation
{
    QString user;
    std::unique_ptr<TQuorlaDB> database;
    qint64 nextPoll = 0;
    qint64 nextWrite = 0;
};

// The services of a load process: nobody at a screen.
struct LoadServices
{
    TConsolePersonServices person;
    TConsoleMachineServices machine;
    TServices services{&person, nullptr, &machine};
};

// The program's poll as its timer runs it: the series extension, the user's
// rights where the server keeps roles, and the alarm look-up. An alarm that
// falls due in a long run is switched off as a person would.
TAlarmPoller officePoller()
{
    return TAlarmPoller([](AlarmRecord&, const QString& key, TQuorlaDB& database) {
        database.Alarms().Delete(key);
        return 0;
    });
}

bool open(TXIsamFile& file, const QString& uri, const QString& dataset)
{
    return file.Open(TDatabaseLocation(uri).DatasetName(dataset));
}

// An event of `user` tomorrow with an alarm for him an hour ahead: the
// records a New event command writes.
bool addEvent(TXIsamFile& entries, TXIsamFile& alarms, const QString& user)
{
    TStamp now;
    now.SetNow();
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(RecordKey::format(now.Seconds() + 86400));
    entry.setOwnerKey(user);
    entry.setAssignee(0, user);
    entry.setDescription(QStringLiteral("Weekly planning"));
    if (!entries.Insert(entry.bytes()))
        return false;
    AlarmRecord alarm;
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(RecordKey::format(now.Seconds() + 3600));
    alarm.setDayEntryKey(entries.CurrentKey());
    alarm.setUserKey(user);
    alarm.rebuildUserAlarmKey();
    return alarms.Insert(alarm.bytes());
}

// The sessions on the database, and how many of them are busy.
std::pair<int, int> sessionsOn(PGconn* conn)
{
    PGresult* r = PQexec(conn, "SELECT count(*), count(*) FILTER (WHERE state = 'active') - 1 FROM pg_stat_activity"
                               " WHERE datname = current_database() AND pid <> 0");
    std::pair<int, int> counts{-1, -1};
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1)
        counts = {std::atoi(PQgetvalue(r, 0, 0)) - 1, std::atoi(PQgetvalue(r, 0, 1))};
    PQclear(r);
    return counts;
}

} // namespace

bool TOfficeLoad::prepare(const QString& uri, int workstations, const QString& password)
{
    // The datasets as a workstation makes them at its first start.
    auto connection = TIsamEngine::forName(uri).connect(uri);
    for (const TQuorlaDatasets::Dataset& d : TQuorlaDatasets::All()) {
        TXIsamFile f;
        f.ShareConnection(connection);
        const QString name = TDatabaseLocation(uri).DatasetName(d.fileName);
        if (!f.Exists(name) && !f.CreateDataset(name, TQuorlaDatasets::KeyLength, d.format))
            return false;
    }
    TXIsamFile users, entries, alarms;
    for (TXIsamFile* f : {&users, &entries, &alarms})
        f->ShareConnection(connection);
    if (!open(users, uri, UserRecord::FileName) || !open(entries, uri, DayEntryRecord::FileName)
        || !open(alarms, uri, AlarmRecord::FileName))
        return false;
    for (int n = users.RecordCount() + 1; n <= workstations; ++n) {
        UserRecord user;
        user.setUserName(QStringLiteral("U%1").arg(n));
        user.setRights(1);
        user.setPassword(password);
        if (!users.Insert(user.bytes()) || !addEvent(entries, alarms, users.CurrentKey()))
            return false;
    }
    return true;
}

bool TOfficeLoad::adoptRoles(const QString& uri, int workstations)
{
    LoadServices services;
    try {
        TQuorlaDB database(services.services, TDatabaseLocation(uri));
        return TServerRoles(database).AdoptUsers().roles == workstations;
    } catch (const EQuorla& e) {
        std::fprintf(stderr, "the users' roles: %s\n", qPrintable(e.message()));
        return false;
    }
}

int TOfficeLoad::workerMain(const QStringList& a)
{
    // <uri> <first user> <count> <seconds> <result file> [<password>]
    if (a.size() != 5 && a.size() != 6)
        return 2;
    const QString password = a.value(5);
    const QString uri = a[0];
    const int first = a[1].toInt(), count = a[2].toInt();
    const qint64 runMs = a[3].toLongLong() * 1000;
    QRandomGenerator random{quint32(first)};
    std::vector<Workstation> stations(std::size_t(std::max(count, 0)));
    LoadServices services;
    TAlarmPoller poller = officePoller();
    for (int i = 0; i < count; ++i) {
        Workstation& w = stations[std::size_t(i)];
        w.user = RecordKey::format(first + i);
        try {
            // As the user's own role (user Un: quorla_un), or the URI's.
            w.database = password.isEmpty()
                ? std::make_unique<TQuorlaDB>(services.services, TDatabaseLocation(uri), TQuorlaDB::Opening::ExistingOnly)
                : std::make_unique<TQuorlaDB>(services.services, TDatabaseLocation(uri),
                                              TQuorlaDB::TLogin{QStringLiteral("quorla_u%1").arg(first + i), password, false});
            // A workstation polls from its start-up on, all day: the first
            // poll of a new session (the server's first look at the tables,
            // the statements prepared) is made here, before the timing starts.
            poller.Poll(*w.database, w.user);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "workstation %d: %s\n", first + i, e.what());
            return 1;
        }
        w.nextPoll = qint64(random.bounded(int(PollEveryMs)));
        w.nextWrite = qint64(random.bounded(int(WriteEveryMs)));
    }

    // The baseline's session is on the server's maintenance database, so that
    // the sessions counted on the office's database are the workstations'.
    const QByteArray uriText = uri.toUtf8();
    // (As the private server's superuser where the URI names nobody.)
    const char* keys[] = {"dbname", "dbname", password.isEmpty() ? nullptr : "user", nullptr};
    const char* values[] = {uriText.constData(), "postgres", "postgres", nullptr};
    PGconn* raw = PQconnectdbParams(keys, values, 1);
    if (PQstatus(raw) != CONNECTION_OK) {
        std::fprintf(stderr, "baseline session: %s\n", PQerrorMessage(raw));
        PQfinish(raw);
        return 1;
    }
    std::vector<qint64> latencies, rawLatencies;
    qint64 writes = 0, failures = 0;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        auto next = std::min_element(stations.begin(), stations.end(), [](const Workstation& x, const Workstation& y) {
            return std::min(x.nextPoll, x.nextWrite) < std::min(y.nextPoll, y.nextWrite);
        });
        if (next == stations.end())
            break;
        const qint64 at = std::min(next->nextPoll, next->nextWrite);
        if (at >= runMs)
            break;
        const qint64 wait = at - clock.elapsed();
        if (wait > 0)
            QThread::msleep(quint64(wait));
        if (next->nextPoll <= next->nextWrite) {
            QElapsedTimer took;
            took.start();
            try {
                poller.Poll(*next->database, next->user);
            } catch (const std::exception&) {
                ++failures;
            }
            latencies.push_back(took.nsecsElapsed());
            took.restart();
            PQclear(PQexec(raw, "SELECT 1"));
            rawLatencies.push_back(took.nsecsElapsed());
            next->nextPoll += PollEveryMs;
        } else {
            if (addEvent(next->database->DayEntries(), next->database->Alarms(), next->user))
                ++writes;
            else
                ++failures;
            next->nextWrite += WriteEveryMs;
        }
    }
    PQfinish(raw);
    QFile out(a[4]);
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    QDataStream stream(&out);
    stream << writes << failures << qint64(latencies.size());
    for (std::size_t i = 0; i < latencies.size(); ++i)
        stream << latencies[i] << rawLatencies[i];
    return 0;
}

TOfficeLoad::Figures TOfficeLoad::run(const QString& program, const QString& uri, int workstations, int seconds,
                                      int processes, const QString& password)
{
    Figures figures;
    figures.workstations = workstations;
    QTemporaryDir results;
    std::vector<std::unique_ptr<QProcess>> loads;
    processes = std::clamp(processes, 1, workstations);
    for (int p = 0; p < processes; ++p) {
        const int first = 1 + workstations * p / processes;
        const int last = workstations * (p + 1) / processes;
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, {QStringLiteral("officeload-worker"), uri, QString::number(first),
                                 QString::number(last - first + 1), QString::number(seconds),
                                 results.filePath(QString::number(p)), password});
        loads.push_back(std::move(process));
    }

    // The private server's superuser counts the sessions: a person's role
    // sees only whether the others' are there, not whether they are busy.
    PGconn* watcher = PQconnectdb((password.isEmpty() ? uri : uri + QStringLiteral("&user=postgres")).toUtf8().constData());
    // Every second until the load processes end (they stop by themselves;
    // this waits at most a minute longer).
    QElapsedTimer clock;
    clock.start();
    const auto running = [&] {
        return std::any_of(loads.begin(), loads.end(),
                           [](const auto& p) { return p->state() != QProcess::NotRunning; });
    };
    while (running() && clock.elapsed() < (seconds + 60) * 1000LL) {
        if (PQstatus(watcher) == CONNECTION_OK) {
            const auto [sessions, busy] = sessionsOn(watcher);
            figures.sessions = std::max(figures.sessions, sessions);
            figures.busySessions = std::max(figures.busySessions, busy);
        }
        for (auto& p : loads)
            p->waitForFinished(1000 / processes);
    }
    PQfinish(watcher);

    std::vector<qint64> latencies, rawLatencies;
    for (int p = 0; p < processes; ++p) {
        QProcess& process = *loads[std::size_t(p)];
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        QFile in(results.filePath(QString::number(p)));
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || !in.open(QIODevice::ReadOnly)) {
            figures.error = QStringLiteral("load process %1 failed").arg(p);
            continue;
        }
        QDataStream stream(&in);
        qint64 writes = 0, failures = 0, n = 0;
        stream >> writes >> failures >> n;
        figures.writes += writes;
        figures.failures += failures;
        for (qint64 i = 0; i < n; ++i) {
            qint64 ns = 0, rawNs = 0;
            stream >> ns >> rawNs;
            latencies.push_back(ns);
            rawLatencies.push_back(rawNs);
        }
    }
    figures.polls = qint64(latencies.size());
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        std::sort(rawLatencies.begin(), rawLatencies.end());
        const auto at = [](const std::vector<qint64>& v, double q) {
            return double(v[std::size_t(q * double(v.size() - 1))]) / 1e6;
        };
        figures.medianMs = at(latencies, 0.5);
        figures.p99Ms = at(latencies, 0.99);
        figures.maxMs = double(latencies.back()) / 1e6;
        figures.rawMedianMs = at(rawLatencies, 0.5);
        figures.rawP99Ms = at(rawLatencies, 0.99);
    }
    return figures;
}

void TOfficeLoad::print(const Figures& f)
{
    std::printf("  %4d workstations: %6lld polls, poll median %5.2f ms, p99 %5.2f ms, max %7.2f ms (baseline round trip "
                "median %5.2f ms, p99 %5.2f ms); %4lld writes; %lld failed; server sessions %d (busy at once at most "
                "%d)%s%s\n",
                f.workstations, static_cast<long long>(f.polls), f.medianMs, f.p99Ms, f.maxMs, f.rawMedianMs, f.rawP99Ms,
                static_cast<long long>(f.writes), static_cast<long long>(f.failures), f.sessions, f.busySessions,
                f.error.isEmpty() ? "" : "; ", qPrintable(f.error));
    std::fflush(stdout);
}
