#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

#include <sys/types.h>

// A private PostgreSQL server for tests: a new cluster in a temporary folder
// of its own, listening only on a UNIX socket in that folder, with one
// superuser "postgres" that needs no password (other roles log in with
// theirs, SCRAM). As root it runs under the
// unprivileged "postgres" system user (the server refuses to run as root),
// which owns the folder. The server binaries are the newest under
// /usr/lib/postgresql, or those in QUORLA_PG_BINDIR.
//
// The server is stopped and the folder removed when the object goes, and also
// when the test process dies without that (a crash, a kill, a time-out): a
// watchdog process, out of the test's process group, does it then.
class PostgresCluster
{
public:
    // Makes and starts the cluster; error() tells whether that worked.
    // `settings` are server settings ("max_connections=600") beyond those
    // the cluster always has.
    explicit PostgresCluster(const QStringList& settings = {});
    // The server a test runs its cases on when the run asks for the server
    // engine (QUORLA_TEST_ENGINE=postgres); null for a run on folders.
    static std::unique_ptr<PostgresCluster> ForTestEngine();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Empty while all went well; otherwise what failed last, with the tool's
    // own output.
    const QString& error() const { return error_; }

    // Creates the empty database `name` and answers its URI; empty on failure.
    QString createDatabase(const QString& name);
    // The URI of database `name` (libpq's, as a workstation stores it).
    QString uri(const QString& name) const;
    // The URI of database `name` naming no user, as a workstation stores it
    // where each person logs in as his own role (password checked by SCRAM;
    // only the superuser needs none).
    QString personalUri(const QString& name) const;

    // Stops the server - at once, as if it had crashed, or `fast`: the
    // sessions are ended and the server shuts down cleanly - and starts it
    // again.
    bool stop(bool fast = false);
    bool start();
    // Stops (SIGSTOP) or resumes (SIGCONT) the server's main process and
    // every process of it: a stalled server whose machine still answers on
    // the network.
    bool freeze(bool frozen);

    // Runs `sql` in database `database` as the superuser and answers the first
    // value of its first row (empty when none); on failure error() says why.
    QString query(const QString& database, const QByteArray& sql);

private:
    bool run(const QString& program, const QStringList& arguments);
    void startWatchdog();

    QStringList settings_;
    QString binDir_;
    QString folder_;
    bool asRoot_ = false;
    pid_t watchdog_ = -1;
    QString error_;
};

// For a test's initTestCase: starts into `server` the cluster its cases run on
// when the run asks for the server engine (left null for a run on folders), and
// fails the test when that cluster did not start.
#define QUORLA_TEST_SERVER(server)                                                                  \
    do {                                                                                            \
        (server) = PostgresCluster::ForTestEngine();                                                \
        if (server)                                                                                 \
            QVERIFY2((server)->error().isEmpty(), qPrintable((server)->error()));                   \
    } while (false)
