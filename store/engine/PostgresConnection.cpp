#include "PostgresConnection.h"

#include "IsamCode.h"
#include "TDatabaseLocation.h"

#include <QRegularExpression>
#include <QUrl>
#include <QtEndian>

#include <libpq-fe.h>

#include <poll.h>

#include <vector>

namespace {

// Without a limit of its own (in the URI or PGCONNECT_TIMEOUT), connecting to
// a server whose host does not answer would wait as long as the network lets
// it, with the program frozen.
constexpr const char* DefaultConnectTimeout = "10";

// The settings every session gets unless the URI says otherwise (see the
// class comment).
struct Default
{
    const char* key;
    const char* value;
};
constexpr Default SessionDefaults[] = {
    {"keepalives", "1"},
    {"keepalives_idle", "5"},
    {"keepalives_interval", "2"},
    {"keepalives_count", "3"},
    {"tcp_user_timeout", "10000"},
};
constexpr qint64 DefaultStatementLimitMs = 10'000;
// What the answer may take beyond the server's own limit: the way back.
constexpr qint64 AnswerMarginMs = 3'000;
// A connection attempt that failed only after this long waited for a limit;
// the next attempts within the rest after it fail at once.
constexpr qint64 SlowFailureMs = 2'000;
constexpr qint64 SlowFailureRestMs = 10'000;

// The statement time limit that `options` sets ("-c statement_timeout=30s"),
// in milliseconds; -1 when it sets none.
qint64 statementLimitIn(const QByteArray& options)
{
    static const QRegularExpression setting(
        QStringLiteral("statement_timeout\\s*=\\s*'?(\\d+)\\s*(ms|s|min|h)?"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = setting.match(QString::fromUtf8(options));
    if (!match.hasMatch())
        return -1;
    const qint64 number = match.captured(1).toLongLong();
    const QString unit = match.captured(2).toLower();
    if (unit == QLatin1String("s"))
        return number * 1000;
    if (unit == QLatin1String("min"))
        return number * 60'000;
    if (unit == QLatin1String("h"))
        return number * 3'600'000;
    return number;
}

// The server's message as the program shows messages: lines broken by a
// carriage return, no indentation.
QString words(const char* message)
{
    QString text = QString::fromUtf8(message ? message : "").trimmed();
    text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    // No other control character reaches a message box.
    text.removeIf([](QChar c) { return c != QLatin1Char('\r') && c.category() == QChar::Other_Control; });
    return text;
}

// Notices (a table that exists already, a lock that was not held) are the
// server talking to itself; by default libpq prints them on stderr.
void ignoreNotice(void*, const char*) {}

} // namespace

void PostgresConnection::Result::reset(pg_result* result)
{
    if (result_)
        PQclear(result_);
    result_ = result;
}

int PostgresConnection::Result::rows() const
{
    return result_ ? PQntuples(result_) : 0;
}

const char* PostgresConnection::Result::data(int row, int column) const
{
    return PQgetvalue(result_, row, column);
}

int PostgresConnection::Result::length(int row, int column) const
{
    return PQgetisnull(result_, row, column) ? 0 : PQgetlength(result_, row, column);
}

QByteArray PostgresConnection::Result::bytes(int row, int column) const
{
    return QByteArray(data(row, column), length(row, column));
}

qint64 PostgresConnection::Result::number(int row, int column) const
{
    const uchar* p = reinterpret_cast<const uchar*>(data(row, column));
    switch (length(row, column)) {
    case 1:
        return p[0];
    case 2:
        return qFromBigEndian<qint16>(p);
    case 4:
        return qFromBigEndian<qint32>(p);
    case 8:
        return qFromBigEndian<qint64>(p);
    default:
        return 0;
    }
}

PostgresConnection::PostgresConnection(QByteArray uri)
    : uri_(std::move(uri))
{
}

PostgresConnection::~PostgresConnection()
{
    if (conn_)
        PQfinish(conn_);
}

IsamCode PostgresConnection::ensure()
{
    collectAside();
    if (conn_ && PQstatus(conn_) == CONNECTION_OK)
        return IsamOk;
    if (conn_)
        lose();
    // A command whose session was lost stays failed: its first writes went
    // with the session, and the rest must not be made without them.
    if (commandDepth_ > 0) {
        if (reason_.isEmpty())
            reason_ = commandReason_;
        return IsamServerLost;
    }

    // A server that let the last attempt wait for its time limit is not
    // waited for again at once: a view's refresh makes many calls, and each
    // would wait as long.
    if (slowFailure_.isValid() && !slowFailure_.hasExpired(SlowFailureRestMs)) {
        reason_ = slowReason_;
        return everConnected_ ? IsamServerLost : IsamServerUnreachable;
    }
    slowFailure_.invalidate();

    // What the URI says wins over these defaults: it is read into its
    // settings, and only the settings it leaves out are added.
    char* parseError = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(uri_.constData(), &parseError);
    if (!parsed) {
        // libpq quotes a URI it cannot read, password and all.
        reason_ = hideSecrets(words(parseError));
        PQfreemem(parseError);
        return everConnected_ ? IsamServerLost : IsamServerUnreachable;
    }
    std::vector<std::pair<QByteArray, QByteArray>> settings;
    for (const PQconninfoOption* option = parsed; option->keyword; ++option)
        if (option->val)
            settings.emplace_back(option->keyword, option->val);
    PQconninfoFree(parsed);
    const auto given = [&settings](const char* key) -> QByteArray* {
        for (auto& [k, v] : settings)
            if (k == key)
                return &v;
        return nullptr;
    };
    if (!given("connect_timeout") && qEnvironmentVariableIsEmpty("PGCONNECT_TIMEOUT"))
        settings.emplace_back("connect_timeout", DefaultConnectTimeout);
    if (!given("fallback_application_name"))
        settings.emplace_back("fallback_application_name", "quorla");
    for (const Default& d : SessionDefaults)
        if (!given(d.key))
            settings.emplace_back(d.key, d.value);
    QByteArray* options = given("options");
    if (!options) {
        settings.emplace_back("options", qgetenv("PGOPTIONS"));
        options = &settings.back().second;
    }
    const qint64 limit = statementLimitIn(*options);
    if (limit < 0)
        *options += (options->isEmpty() ? "" : " ") + QByteArray("-c statement_timeout=")
                  + QByteArray::number(DefaultStatementLimitMs);
    // The engine's statements are prepared once a session and are plain
    // index ranges, for which the plan made without the values is as good:
    // planning each call afresh (which the server may keep doing where row
    // policies apply) would cost more than the call.
    if (!options->contains("plan_cache_mode"))
        *options += QByteArray(" -c plan_cache_mode=force_generic_plan");
    const qint64 statementLimit = limit < 0 ? DefaultStatementLimitMs : limit;
    // Without a limit on the server none here either.
    answerLimitMs_ = statementLimit == 0 ? 0 : statementLimit + AnswerMarginMs;

    // The person's own role and password, when he logged in, win over
    // the URI's.
    if (!role_.isEmpty()) {
        for (const char* key : {"user", "password"})
            if (QByteArray* value = given(key))
                *value = qstrcmp(key, "user") == 0 ? role_ : password_;
            else
                settings.emplace_back(key, qstrcmp(key, "user") == 0 ? role_ : password_);
    }

    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [k, v] : settings) {
        keys.push_back(k.constData());
        values.push_back(v.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    QElapsedTimer connecting;
    connecting.start();
    conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
    refused_ = false;
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        reason_ = conn_ ? hideSecrets(words(PQerrorMessage(conn_))) : QStringLiteral("out of memory");
        // A server that asked for a password refused the log-in (it asks
        // an unknown role too, and says the same for both).
        if (conn_)
            refused_ = PQconnectionNeedsPassword(conn_) || PQconnectionUsedPassword(conn_);
        if (connecting.hasExpired(SlowFailureMs)) {
            slowFailure_.start();
            slowReason_ = reason_;
        }
        if (conn_)
            PQfinish(conn_);
        conn_ = nullptr;
        return everConnected_ ? IsamServerLost : IsamServerUnreachable;
    }
    PQsetNoticeProcessor(conn_, ignoreNotice, nullptr);
    // Sending never waits on a full socket: await() does the waiting, with
    // its limit.
    PQsetnonblocking(conn_, 1);
    everConnected_ = true;
    return IsamOk;
}

QString PostgresConnection::hideSecrets(QString text) const
{
    const QString uri = QString::fromUtf8(uri_);
    text.replace(uri, TDatabaseLocation::Printable(uri));
    // The password alone, as the URI's own text and decoded.
    for (const QString& secret : TDatabaseLocation::Passwords(uri)) {
        text.replace(secret, QStringLiteral("***"));
        text.replace(QUrl::fromPercentEncoding(secret.toUtf8()), QStringLiteral("***"));
    }
    return text;
}

bool PostgresConnection::waitFor(short events, const QElapsedTimer& waited)
{
    int timeout = -1;
    if (answerLimitMs_ > 0) {
        const qint64 left = answerLimitMs_ - waited.elapsed();
        if (left <= 0)
            return false;
        timeout = int(left);
    }
    pollfd socket{PQsocket(conn_), events, 0};
    int ready;
    do
        ready = ::poll(&socket, 1, timeout);
    while (ready < 0 && errno == EINTR);
    return ready != 0;
}

bool PostgresConnection::flush(const QElapsedTimer& waited)
{
    for (int flushed; (flushed = PQflush(conn_)) != 0;) {
        if (flushed < 0)
            return false;
        if (!waitFor(POLLOUT | POLLIN, waited)) {
            timedOut_ = true;
            return false;
        }
        if (!PQconsumeInput(conn_))
            return false;
    }
    return true;
}

pg_result* PostgresConnection::collect(const QElapsedTimer& waited)
{
    pg_result* kept = nullptr;
    for (;;) {
        while (PQisBusy(conn_)) {
            if (!waitFor(POLLIN, waited)) {
                timedOut_ = true;
                PQclear(kept);
                return nullptr;
            }
            if (!PQconsumeInput(conn_))
                break;
        }
        pg_result* next = PQgetResult(conn_);
        if (!next)
            break;
        // As PQexec answers: the first failure, else the last result.
        const bool keptFailed
            = kept && PQresultStatus(kept) != PGRES_COMMAND_OK && PQresultStatus(kept) != PGRES_TUPLES_OK;
        if (keptFailed) {
            PQclear(next);
            continue;
        }
        PQclear(kept);
        kept = next;
        // The end of a pipeline has no end of results after it.
        if (PQstatus(conn_) != CONNECTION_OK || PQresultStatus(kept) == PGRES_PIPELINE_SYNC)
            break;
    }
    return kept;
}

pg_result* PostgresConnection::await(bool sent)
{
    timedOut_ = false;
    if (!sent)
        return nullptr;
    QElapsedTimer waited;
    waited.start();
    // The statement out, then its answer in, each within the limit.
    return flush(waited) ? collect(waited) : nullptr;
}

void PostgresConnection::lose()
{
    PQfinish(conn_);
    conn_ = nullptr;
    aside_ = false;
    prepared_.clear();
    locks_.clear();
}

IsamCode PostgresConnection::codeFor(const QByteArray& state)
{
    if (state == "23505") // unique_violation: an add under a key in use
        return IsamUpdateMode;
    if (state == "42P07") // duplicate_table
        return IsamNameInUse;
    // connection_exception, and the server shutting down or starting up
    if (state.startsWith("08") || state == "57P01" || state == "57P02" || state == "57P03")
        return IsamServerLost;
    if (state == "53100")
        return IsamDiskFull;
    if (state == "53200")
        return IsamNoMemory;
    // lock_not_available, serialization and deadlock failures, cancelled
    if (state == "55P03" || state == "40001" || state == "40P01" || state == "57014")
        return IsamBusy;
    // no permission, or the server refusing who we are
    if (state == "42501" || state.startsWith("28"))
        return IsamSystemCall;
    // Missing tables or columns: the dataset is not what it should be. Our
    // statements fit every table we create.
    if (state.startsWith("42"))
        return IsamCorrupt;
    if (state == "XX001" || state == "XX002")
        return IsamCorrupt;
    return IsamIoError;
}

IsamCode PostgresConnection::check(pg_result* result)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return IsamOk;
    if (timedOut_) {
        // A server that stopped answering (its machine or process stalled:
        // the kernel may still acknowledge, so no keepalive notices) would
        // hold the program as long as it stalls. The session is given up; a
        // statement that was running there may still finish.
        state_.clear();
        reason_ = QStringLiteral("The database server did not answer within %1 seconds.")
                      .arg((answerLimitMs_ + 999) / 1000);
        lose();
        // Nor is it waited for again at once, as after a connection attempt
        // that waited for its limit: the command that met it would wait
        // again in its next call.
        slowFailure_.start();
        slowReason_ = reason_;
        return failedInCommand(IsamServerLost);
    }
    state_ = result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
    // An error of libpq's own, without a state from the server, is the
    // connection failing (libpq may still call it good at that point, as when
    // a stopped server's socket fails the next send); the session is not to
    // be trusted any more either way.
    if (PQstatus(conn_) != CONNECTION_OK || state_.isEmpty()) {
        reason_ = words(PQerrorMessage(conn_));
        lose();
        return failedInCommand(IsamServerLost);
    }
    const IsamCode code = codeFor(state_);
    // What the code says in full needs no words of the server's.
    if (code != IsamUpdateMode && code != IsamNameInUse)
        reason_ = words(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    if (code == IsamServerLost)
        lose();
    return failedInCommand(code);
}

IsamCode PostgresConnection::ready()
{
    // A command that failed already fails all that follows, as the server's
    // aborted transaction would, and in the first failure's words.
    if (commandDepth_ > 0 && commandCode_ != IsamOk) {
        reason_ = commandReason_;
        return commandCode_;
    }
    const IsamCode code = ensure();
    if (code == IsamOk)
        sinceUse_.start();
    return code;
}

IsamCode PostgresConnection::hasFunction(const QByteArray& signature, bool& has)
{
    Result result;
    IsamCode code = exec({}, "SELECT to_regprocedure($1) IS NOT NULL", {Param::text(signature)}, result);
    if (code == IsamOk && result.rows() != 1)
        code = IsamCorrupt;
    has = code == IsamOk && result.number(0, 0) != 0;
    return code;
}

IsamCode PostgresConnection::prepare(const QByteArray& name, const QByteArray& sql, int count)
{
    if (name.isEmpty() || prepared_.count(name))
        return IsamOk;
    Result prepared;
    prepared.reset(await(PQsendPrepare(conn_, name.constData(), sql.constData(), count, nullptr)));
    const IsamCode code = check(prepared.get());
    if (code == IsamOk)
        prepared_.insert(name);
    return code;
}

bool PostgresConnection::send(const QByteArray& name, const QByteArray& sql, const Param* params, int count)
{
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (int i = 0; i < count; ++i) {
        values.push_back(params[i].data);
        lengths.push_back(params[i].length);
        formats.push_back(params[i].binary ? 1 : 0);
    }
    if (name.isEmpty())
        return PQsendQueryParams(conn_, sql.constData(), count, nullptr, values.data(), lengths.data(),
                                 formats.data(), 1)
            == 1;
    return PQsendQueryPrepared(conn_, name.constData(), count, values.data(), lengths.data(), formats.data(), 1) == 1;
}

IsamCode PostgresConnection::exec(const QByteArray& name, const QByteArray& sql, const Param* params, int count,
                                  Result& result)
{
    result.reset();
    IsamCode code = ready();
    if (code == IsamOk)
        code = prepare(name, sql, count);
    if (code != IsamOk)
        return code;
    result.reset(await(send(name, sql, params, count)));
    return check(result.get());
}

IsamCode PostgresConnection::execAll(const std::vector<Call>& calls, std::vector<Result>& results)
{
    IsamCode code = ready();
    for (std::size_t i = 0; i < calls.size() && code == IsamOk; ++i)
        code = prepare(calls[i].name, calls[i].sql, int(calls[i].params.size()));
    if (code != IsamOk || calls.empty())
        return code;
    // All sent at once, then the answers read in turn: one wait for the
    // server instead of one per statement. After a failure the server runs
    // none of the rest, and answers up to the end of the pipeline all the same.
    timedOut_ = false;
    QElapsedTimer waited;
    waited.start();
    bool sent = PQenterPipelineMode(conn_) == 1;
    for (const Call& call : calls)
        sent = sent && send(call.name, call.sql, call.params.data(), int(call.params.size()));
    sent = sent && PQpipelineSync(conn_) == 1 && flush(waited);
    if (!sent)
        return check(nullptr);
    // Each answer within the limit of its own, as for statements sent one
    // by one.
    for (std::size_t i = 0; i < calls.size() && code == IsamOk; ++i) {
        waited.start();
        results[i].reset(collect(waited));
        code = check(results[i].get());
    }
    // The rest of the answers, up to the end of the pipeline, unless the
    // session went with the failure.
    while (conn_) {
        Result rest;
        waited.start();
        rest.reset(collect(waited));
        if (rest.get() && PQresultStatus(rest.get()) == PGRES_PIPELINE_SYNC)
            break;
        if (!rest.get()) {
            // The first failure keeps its words; the session is not to be
            // trusted after this one either way.
            if (code == IsamOk)
                code = check(nullptr);
            lose();
        }
    }
    if (conn_ && PQexitPipelineMode(conn_) != 1 && code == IsamOk) {
        reason_ = words(PQerrorMessage(conn_));
        lose();
        code = failedInCommand(IsamServerLost);
    }
    return code;
}

bool PostgresConnection::sendAside(const QByteArray& sql)
{
    if (aside_ || !conn_ || PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) != PQTRANS_IDLE
        || !locks_.empty())
        return false;
    QElapsedTimer waited;
    waited.start();
    timedOut_ = false;
    // Nothing is held on the session: one that fails here is simply
    // connected again at the next call.
    if (PQsendQueryParams(conn_, sql.constData(), 0, nullptr, nullptr, nullptr, nullptr, 1) != 1 || !flush(waited)) {
        lose();
        return false;
    }
    sinceUse_.start();
    aside_ = true;
    return true;
}

void PostgresConnection::collectAside()
{
    if (!std::exchange(aside_, false) || !conn_)
        return;
    QElapsedTimer waited;
    waited.start();
    timedOut_ = false;
    asideAnswer_.reset(collect(waited));
    if (timedOut_ || PQstatus(conn_) != CONNECTION_OK) {
        asideAnswer_.reset();
        lose();
    } else if (asideAnswer_.get() && PQresultStatus(asideAnswer_.get()) != PGRES_TUPLES_OK) {
        asideAnswer_.reset();
    }
}

bool PostgresConnection::takeAside(Result& result)
{
    collectAside();
    result.reset(asideAnswer_.take());
    return result.get() != nullptr;
}

IsamCode PostgresConnection::command(const QByteArray& sql)
{
    if (commandDepth_ > 0 && commandCode_ != IsamOk) {
        reason_ = commandReason_;
        return commandCode_;
    }
    const IsamCode code = ensure();
    if (code != IsamOk)
        return code;
    sinceUse_.start();
    Result result;
    result.reset(await(PQsendQuery(conn_, sql.constData())));
    return check(result.get());
}

void PostgresConnection::releaseIfIdle(int idleMs)
{
    // A held lock lives only as long as its session, and a transaction would
    // be cut off: both keep the session.
    if (!conn_ || !locks_.empty() || PQtransactionStatus(conn_) != PQTRANS_IDLE
        || (sinceUse_.isValid() && !sinceUse_.hasExpired(idleMs)))
        return;
    PQfinish(conn_);
    conn_ = nullptr;
    prepared_.clear();
}

void PostgresConnection::rollback()
{
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK)
        return;
    const QString reason = reason_;
    const QByteArray state = state_;
    PQclear(await(PQsendQuery(conn_, "ROLLBACK")));
    if (timedOut_ || PQstatus(conn_) != CONNECTION_OK)
        lose();
    reason_ = reason;
    state_ = state;
}

IsamCode PostgresConnection::failedInCommand(IsamCode code)
{
    if (commandDepth_ > 0 && commandCode_ == IsamOk && code != IsamOk) {
        commandCode_ = code;
        commandReason_ = reason_;
    }
    return code;
}

void PostgresConnection::beginCommand()
{
    if (commandDepth_ > 0) {
        ++commandDepth_;
        return;
    }
    // Each write holds its dataset's row of the catalog until the commit;
    // a command writes several datasets, in an order of its own. Taking
    // every row at once, in one order, keeps commands from deadlocking each
    // other: commands run one after the other (they are short, and never
    // wait for a person), single writes wait for the command in hand.
    openCommand(true);
}

IsamCode PostgresConnection::beginCopy()
{
    if (commandDepth_ > 0) {
        ++commandDepth_;
        return commandCode_;
    }
    return openCommand(false);
}

IsamCode PostgresConnection::openCommand(bool takeCatalog)
{
    commandCode_ = IsamOk;
    commandReason_.clear();
    commitAnswerLost_ = false;
    beginCall();
    // Connects first when needed: once the command is open, a lost session
    // is not made again.
    IsamCode code = ensure();
    commandDepth_ = 1;
    if (code == IsamOk)
        code = takeCatalog ? beginTakingCatalog() : command("BEGIN");
    return failedInCommand(code);
}

IsamCode PostgresConnection::beginTakingCatalog()
{
    // The rows' statement is prepared once a session instead of planned for
    // every command; the BEGIN and its EXECUTE are still one exchange.
    const IsamCode code = prepare(QByteArrayLiteral("takecatalog"),
                                  QByteArrayLiteral("SELECT id FROM quorla_datasets ORDER BY id FOR UPDATE"), 0);
    return code == IsamOk ? command(QByteArrayLiteral("BEGIN; EXECUTE takecatalog")) : code;
}

IsamCode PostgresConnection::endCommand(bool commit)
{
    if (commandDepth_ == 0 || --commandDepth_ > 0)
        return IsamOk;
    const IsamCode failed = commandCode_;
    const QString failedReason = commandReason_;
    commandCode_ = IsamOk;
    commandReason_.clear();
    beginCall();
    if (!commit || failed != IsamOk || PQtransactionStatus(conn_) == PQTRANS_INERROR) {
        rollback();
        reason_ = failedReason;
        return commit && failed == IsamOk ? IsamIoError : failed;
    }
    if (!conn_)
        return IsamServerLost;
    const IsamCode code = command("COMMIT");
    // Sent, and no answer: the server may have made it or not.
    commitAnswerLost_ = code == IsamServerLost;
    return code;
}

IsamCode PostgresConnection::beginSnapshot()
{
    beginCall();
    return command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
}

IsamCode PostgresConnection::endSnapshot()
{
    beginCall();
    return conn_ ? command("COMMIT") : IsamServerLost;
}

bool PostgresConnection::namesUser(const QByteArray& uri)
{
    return !uriValue(uri, "user").isEmpty();
}

QByteArray PostgresConnection::uriValue(const QByteArray& uri, const char* keyword)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.constData(), &error);
    if (error)
        PQfreemem(error);
    QByteArray value;
    for (PQconninfoOption* o = options; o && o->keyword; ++o)
        if (qstrcmp(o->keyword, keyword) == 0 && o->val)
            value = o->val;
    PQconninfoFree(options);
    return value;
}

QByteArray PostgresConnection::verifier(const QByteArray& password, const QByteArray& role)
{
    if (ensure() != IsamOk)
        return {};
    char* made = PQencryptPasswordConn(conn_, password.constData(), role.constData(), "scram-sha-256");
    if (!made) {
        reason_ = words(PQerrorMessage(conn_));
        return {};
    }
    const QByteArray text(made);
    PQfreemem(made);
    return text;
}

bool PostgresConnection::inTransaction() const
{
    // What was sent aside was sent outside a transaction.
    return conn_ && !aside_ && PQtransactionStatus(conn_) != PQTRANS_IDLE;
}
