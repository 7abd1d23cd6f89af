#pragma once

#include "TIsamConnection.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <initializer_list>
#include <map>
#include <set>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;

// One session with a PostgreSQL server, shared by the datasets of one database
// object (PostgresIsamEngine). It connects on first use and, after the session
// was lost, again on the next call: the call that met the loss fails with
// IsamServerLost and the server's words in reason(); nothing is retried, since
// a write whose answer was lost may have been done.
//
// Also kept per session: the statements prepared so far, and the record locks
// it holds with the dataset object holding each. The server's advisory locks
// belong to the session and a session may take one lock many times, so the
// objects sharing a session must be kept apart here, in process memory. When
// the session is lost its locks are gone on the server, and so they are here.
//
// Never frozen: every call returns within a bounded time, whatever the server
// or the network does, since all calls run on the program's one thread.
// Unless the URI sets them, a session gets
//   connect_timeout=10           seconds to connect (or PGCONNECT_TIMEOUT)
//   keepalives=1, keepalives_idle=5, keepalives_interval=2, keepalives_count=3
//                                a peer gone from the network is noticed
//                                within about 11 s even while idle
//   tcp_user_timeout=10000       data the peer leaves unacknowledged for
//                                10 s drops the connection
//   options=-c statement_timeout=10000
//                                the server ends a statement after 10 s (a
//                                URI's own options keep this unless they set
//                                statement_timeout themselves; 0 turns it off)
//   options=-c plan_cache_mode=force_generic_plan
//                                the engine's prepared statements keep one
//                                plan (unless the options set the mode)
// and the program waits for an answer at most the statement limit plus 3 s
// (13 s): a server whose processes stopped (SIGSTOP, a stalled machine whose
// kernel still acknowledges) answers neither statements nor keepalives. The
// session is then given up and the call fails with IsamServerLost. After a
// connection attempt that failed only when its limit ran out, or a session
// given up so, none is made again for 10 s: the calls meanwhile fail at
// once, in its words (one command waits for one limit at most). None of
// these is a Quorla setting: libpq takes each from the URI, for example
// "postgresql://dbhost/quorla?keepalives_idle=30&options=-c%20statement_timeout%3D30s".
//
// Commands (beginCommand/endCommand) are transactions that first take every
// dataset's row of the catalog, so commands of all workstations run one after
// the other and never deadlock each other: a session lost
// inside one is not reconnected until the command ends, and the first
// failure inside it is the command's.
class PostgresConnection : public TIsamConnection
{
public:
    // `uri` is a libpq connection URI. Nothing is contacted yet.
    explicit PostgresConnection(QByteArray uri);
    ~PostgresConnection() override;
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    const QByteArray& uri() const { return uri_; }

    // Logs in as `role` with `password` instead of the user the URI (or
    // libpq's defaults) would give: a person's own server role (TServerRoles).
    // Takes effect at the next connection.
    void setLogin(const QByteArray& role, const QByteArray& password)
    {
        role_ = role;
        password_ = password;
    }
    const QByteArray& loginRole() const { return role_; }

    // Whether `uri` names the role to log in as (user name in the URI or a
    // "user" parameter): such a location is used by one role for everyone.
    static bool namesUser(const QByteArray& uri);
    // The value `uri` gives `keyword` ("dbname", "user"); empty when none.
    static QByteArray uriValue(const QByteArray& uri, const char* keyword);

    // After a connection failed: true when the server asked for a password
    // and refused the log-in (no such role, or a wrong password: it does not
    // say which), false when it could not be reached or refused otherwise.
    bool refusedLogin() const { return refused_; }

    // The server's verifier of `password` for `role` (SCRAM-SHA-256), made
    // here so that the password itself never travels in a statement; empty
    // without a session or on failure.
    QByteArray verifier(const QByteArray& password, const QByteArray& role);

    // True while a transaction is open on the session.
    bool inTransaction() const;

    // A statement's result; freed with the object.
    class Result
    {
    public:
        Result() = default;
        ~Result() { reset(); }
        Result(const Result&) = delete;
        Result& operator=(const Result&) = delete;

        void reset(pg_result* result = nullptr);
        pg_result* get() const { return result_; }
        // Hands the result over: the object then holds none.
        pg_result* take() { return std::exchange(result_, nullptr); }
        int rows() const;
        // The raw bytes of a value (binary result format); a null value is empty.
        const char* data(int row, int column) const;
        int length(int row, int column) const;
        QByteArray bytes(int row, int column) const;
        // An integer or Boolean column (int2, int4, int8, bool).
        qint64 number(int row, int column) const;

    private:
        pg_result* result_ = nullptr;
    };

    // A statement parameter: text (NUL-terminated) or binary bytes.
    struct Param
    {
        const char* data;
        int length;
        bool binary;
        static Param text(const QByteArray& bytes) { return {bytes.isNull() ? "" : bytes.constData(), 0, false}; }
        static Param blob(const QByteArray& bytes)
        {
            return {bytes.isNull() ? "" : bytes.constData(), int(bytes.size()), true};
        }
    };

    // Forgets the reason of an earlier failure: every operation begins with it.
    void beginCall()
    {
        reason_.clear();
        state_.clear();
    }

    // Makes sure a session is up: connects the first time and after a loss.
    // IsamServerUnreachable when this connection has never had a session,
    // IsamServerLost when it had one.
    IsamCode ensure();

    // Runs `sql` with `params`, results in binary form. With a `name` the
    // statement is prepared once per session under that name (names must be
    // unique per connection); without one it is sent as it is.
    IsamCode exec(const QByteArray& name, const QByteArray& sql, const Param* params, int count, Result& result);
    // Whether the server has the function `signature` ("name(type,...)"),
    // asked before a statement calls one that a set-up made by an earlier
    // program lacks: that statement would fail, and the transaction with it.
    IsamCode hasFunction(const QByteArray& signature, bool& has);
    IsamCode exec(const QByteArray& name, const QByteArray& sql, std::initializer_list<Param> params, Result& result)
    {
        return exec(name, sql, params.begin(), int(params.size()), result);
    }

    // One statement of execAll: as for exec, the parameters kept with it.
    struct Call
    {
        QByteArray name;
        QByteArray sql;
        std::vector<QByteArray> values;
        std::vector<Param> params;
    };
    // Runs `calls` in their order as exec would, all sent before the first
    // answer is awaited (libpq's pipeline mode). Answers as exec for the first
    // that fails, the ones after it not run; `results` (one per call) holds
    // the answers up to it.
    IsamCode execAll(const std::vector<Call>& calls, std::vector<Result>& results);

    // Sends `sql` (one statement, no parameters) without awaiting its
    // answer, on a session that is up, outside a transaction and holding no
    // record lock; the answer is read at the start of the session's next call
    // (or by takeAside), by when the server has mostly given it. False when
    // it was not sent.
    bool sendAside(const QByteArray& sql);
    // The answer to what was last sent aside, read now if it was not yet
    // (within the answer limit); false when there is none (nothing sent since
    // the last take, or the statement failed). Taken once.
    bool takeAside(Result& result);

    // Runs commands without parameters (one or more statements, text results).
    IsamCode command(const QByteArray& sql);

    // Ends an open transaction after a failure, quietly: the reason stays
    // that of the failure. Nothing to do when the session is gone.
    void rollback();

    // The server's error state (SQLSTATE) of the last failed statement.
    const QByteArray& state() const { return state_; }

    // The record locks of this session: lock key -> the object holding it.
    std::map<qint64, const void*>& locks() { return locks_; }
    // Since this session last asked the server to end the sessions past
    // their bounds (TRoleBounds::ReapAside); invalid before the first time.
    QElapsedTimer& sinceReap() { return sinceReap_; }

    // Maps a server error state (SQLSTATE) to a result code.
    static IsamCode codeFor(const QByteArray& state);

    void releaseIfIdle(int idleMs) override;
    void beginCommand() override;
    // A server's DDL is transactional: the tables made go with the rest.
    IsamCode beginCopy() override;
    IsamCode endCommand(bool commit) override;
    bool commitAnswerLost() const override { return commitAnswerLost_; }
    // One read-only transaction of the repeatable-read kind: one snapshot
    // for every statement until its end.
    IsamCode beginSnapshot() override;
    IsamCode endSnapshot() override;
    // True while a command is open: a write of several statements then
    // joins its transaction instead of opening (and committing) one of its own.
    bool inCommand() const { return commandDepth_ > 0; }

private:
    IsamCode check(pg_result* result);
    // The failure of the command in hand, or a session made sure of.
    IsamCode ready();
    // Prepares the statement `name` once per session (nothing without a name).
    IsamCode prepare(const QByteArray& name, const QByteArray& sql, int count);
    // Hands one statement to libpq, nothing awaited; false when it refused.
    bool send(const QByteArray& name, const QByteArray& sql, const Param* params, int count);
    // Waits, within the answer limit, for the answer to what was just sent
    // (`sent`: libpq took it); null when it could not be had, with
    // timedOut_ telling whether the limit passed.
    pg_result* await(bool sent);
    // await's steps, the limit counted from `waited`: the socket ready for
    // `events`; all sent out; the answer to the next statement (a failure
    // before the rest of its results, else its last), null as in await.
    bool waitFor(short events, const QElapsedTimer& waited);
    bool flush(const QElapsedTimer& waited);
    pg_result* collect(const QElapsedTimer& waited);
    // `text` (libpq's words) with the URI's password, wherever it shows,
    // replaced by "***".
    QString hideSecrets(QString text) const;
    // Notes the first failure inside a command; answers `code`.
    IsamCode failedInCommand(IsamCode code);
    // Opens the outermost command: its BEGIN and, with `takeCatalog`,
    // every dataset's row of the catalog (beginTakingCatalog).
    IsamCode openCommand(bool takeCatalog);
    IsamCode beginTakingCatalog();
    // The session is gone: its locks and statements with it.
    void lose();
    // Reads the answer to what was sent aside, if it is awaited: the
    // session is free for the next statement.
    void collectAside();

    QByteArray uri_;
    QByteArray role_;
    QByteArray password_;
    bool refused_ = false;
    pg_conn* conn_ = nullptr;
    bool everConnected_ = false;
    QByteArray state_;
    std::set<QByteArray> prepared_;
    std::map<qint64, const void*> locks_;
    // Since the last statement was sent.
    QElapsedTimer sinceUse_;
    QElapsedTimer sinceReap_;
    // A statement sent aside whose answer is not read yet, and the answer read.
    bool aside_ = false;
    Result asideAnswer_;
    // Since a connection attempt failed only after waiting for its limit,
    // and its reason.
    QElapsedTimer slowFailure_;
    QString slowReason_;
    // How long an answer may take, in milliseconds; 0 for no limit.
    qint64 answerLimitMs_ = 0;
    bool timedOut_ = false;
    // Open commands, and the first failure inside the outermost one.
    int commandDepth_ = 0;
    IsamCode commandCode_ = IsamOk;
    QString commandReason_;
    bool commitAnswerLost_ = false;
};
