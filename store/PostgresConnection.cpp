#include "PostgresConnection.h"

#include "IsamCode.h"

#include <QtEndian>

#include <libpq-fe.h>

#include <vector>

namespace {

// Without a limit of its own (in the URI or PGCONNECT_TIMEOUT), connecting to
// a server whose host does not answer would wait as long as the network lets
// it, with the program frozen.
constexpr const char* DefaultConnectTimeout = "10";

// The server's message as the program shows messages: lines broken by a
// carriage return, no indentation.
QString words(const char* message)
{
    QString text = QString::fromUtf8(message ? message : "").trimmed();
    text.replace(QLatin1Char('\t'), QString());
    text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
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

int PostgresConnection::ensure()
{
    if (conn_ && PQstatus(conn_) == CONNECTION_OK)
        return IsamOk;
    if (conn_)
        lose();

    // The URI comes last, so that what it says wins over these defaults.
    std::vector<const char*> keys;
    std::vector<const char*> values;
    if (qEnvironmentVariableIsEmpty("PGCONNECT_TIMEOUT")) {
        keys.push_back("connect_timeout");
        values.push_back(DefaultConnectTimeout);
    }
    keys.push_back("fallback_application_name");
    values.push_back("quorla");
    keys.push_back("dbname");
    values.push_back(uri_.constData());
    // After the URI, so that they win.
    if (!role_.isEmpty()) {
        keys.push_back("user");
        values.push_back(role_.constData());
        keys.push_back("password");
        values.push_back(password_.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    refused_ = false;
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        reason_ = conn_ ? words(PQerrorMessage(conn_)) : QStringLiteral("out of memory");
        // A server that asked for a password refused the log-in (it asks
        // an unknown role too, and says the same for both).
        if (conn_)
            refused_ = PQconnectionNeedsPassword(conn_) || PQconnectionUsedPassword(conn_);
        if (conn_)
            PQfinish(conn_);
        conn_ = nullptr;
        return everConnected_ ? IsamServerLost : IsamServerUnreachable;
    }
    PQsetNoticeProcessor(conn_, ignoreNotice, nullptr);
    everConnected_ = true;
    return IsamOk;
}

void PostgresConnection::lose()
{
    PQfinish(conn_);
    conn_ = nullptr;
    prepared_.clear();
    locks_.clear();
}

int PostgresConnection::codeFor(const QByteArray& state)
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

int PostgresConnection::check(pg_result* result)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return IsamOk;
    state_ = result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
    // An error of libpq's own, without a state from the server, is the
    // connection failing (libpq may still call it good at that point, as when
    // a stopped server's socket fails the next send); the session is not to
    // be trusted any more either way.
    if (PQstatus(conn_) != CONNECTION_OK || state_.isEmpty()) {
        reason_ = words(PQerrorMessage(conn_));
        lose();
        return IsamServerLost;
    }
    const int code = codeFor(state_);
    // What the code says in full needs no words of the server's.
    if (code != IsamUpdateMode && code != IsamNameInUse)
        reason_ = words(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    if (code == IsamServerLost)
        lose();
    return code;
}

int PostgresConnection::exec(const QByteArray& name, const QByteArray& sql, const Param* params, int count,
                             Result& result)
{
    result.reset();
    int code = ensure();
    if (code != IsamOk)
        return code;
    sinceUse_.start();
    if (!name.isEmpty() && !prepared_.count(name)) {
        Result prepared;
        prepared.reset(PQprepare(conn_, name.constData(), sql.constData(), count, nullptr));
        if ((code = check(prepared.get())) != IsamOk)
            return code;
        prepared_.insert(name);
    }
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (int i = 0; i < count; ++i) {
        values.push_back(params[i].data);
        lengths.push_back(params[i].length);
        formats.push_back(params[i].binary ? 1 : 0);
    }
    if (name.isEmpty())
        result.reset(PQexecParams(conn_, sql.constData(), count, nullptr, values.data(), lengths.data(),
                                  formats.data(), 1));
    else
        result.reset(PQexecPrepared(conn_, name.constData(), count, values.data(), lengths.data(), formats.data(), 1));
    return check(result.get());
}

int PostgresConnection::command(const QByteArray& sql)
{
    const int code = ensure();
    if (code != IsamOk)
        return code;
    sinceUse_.start();
    Result result;
    result.reset(PQexec(conn_, sql.constData()));
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
    if (conn_ && PQstatus(conn_) == CONNECTION_OK)
        PQclear(PQexec(conn_, "ROLLBACK"));
}

bool PostgresConnection::namesUser(const QByteArray& uri)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.constData(), &error);
    if (error)
        PQfreemem(error);
    bool named = false;
    for (PQconninfoOption* o = options; o && o->keyword; ++o)
        if (qstrcmp(o->keyword, "user") == 0 && o->val && *o->val)
            named = true;
    PQconninfoFree(options);
    return named;
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
    return conn_ && PQtransactionStatus(conn_) != PQTRANS_IDLE;
}
