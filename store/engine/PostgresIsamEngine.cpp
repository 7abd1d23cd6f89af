#include "PostgresIsamEngine.h"

#include "IsamCode.h"
#include "TIsamFormat.h"
#include "PostgresConnection.h"
#include "PostgresIsamDataset.h"

namespace {

using Param = PostgresConnection::Param;
using Result = PostgresConnection::Result;

constexpr const char* Catalog = "quorla_datasets";
constexpr int MaxTableName = 40;

// Creations of datasets in one database wait for each other, so that two
// workstations creating the same dataset at once cannot both make it: the
// second finds the first one's row. The lock's two-number form keeps it apart
// from the record locks. Within a command (a copy's: TIsamConnection::
// beginCopy) the creation joins its transaction.
const QByteArray Creation = "SELECT pg_advisory_xact_lock(1364541266, 0);"
                                 "CREATE TABLE IF NOT EXISTS quorla_datasets ("
                                 " name text COLLATE \"C\" PRIMARY KEY,"
                                 " id integer GENERATED ALWAYS AS IDENTITY UNIQUE,"
                                 " keylength integer NOT NULL,"
                                 " format text NOT NULL,"
                                 " highkey text COLLATE \"C\" NOT NULL DEFAULT '',"
                                 " changes bigint NOT NULL DEFAULT 0,"
                                 " identity text);"
                                 "ALTER TABLE quorla_datasets ADD COLUMN IF NOT EXISTS identity text";

QByteArray uriOf(const QString& name)
{
    const qsizetype hash = name.lastIndexOf(QLatin1Char('#'));
    return (hash < 0 ? name : name.left(hash)).toUtf8();
}

QByteArray tableDefinition(const QByteArray& table, const TIsamFormat& format)
{
    QByteArray sql = "CREATE TABLE " + table + " (pk text COLLATE \"C\" PRIMARY KEY, data bytea NOT NULL";
    for (int ix : format.indexes())
        sql += ", ix" + QByteArray::number(ix) + " bytea NOT NULL";
    sql += ");";
    for (int ix : format.indexes()) {
        const QByteArray column = "ix" + QByteArray::number(ix);
        sql += "CREATE INDEX " + table + "_" + column + " ON " + table + " (" + column + ", pk);";
    }
    return sql;
}

} // namespace

QByteArray PostgresIsamEngine::tableName(const QString& name)
{
    const qsizetype hash = name.lastIndexOf(QLatin1Char('#'));
    if (hash < 0)
        return {};
    QByteArray table = name.mid(hash + 1).toLower().toUtf8();
    if (table.endsWith(".ism"))
        table.chop(4);
    if (table.isEmpty() || table.size() > MaxTableName || table == Catalog || (table[0] >= '0' && table[0] <= '9'))
        return {};
    for (char c : table)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return {};
    return table;
}

std::shared_ptr<TIsamConnection> PostgresIsamEngine::connect(const QString& location)
{
    return std::make_shared<PostgresConnection>(uriOf(location));
}

std::shared_ptr<PostgresConnection> PostgresIsamEngine::connectionFor(const QString& name,
                                                                     const std::shared_ptr<TIsamConnection>& given)
{
    if (!given)
        return std::make_shared<PostgresConnection>(uriOf(name));
    auto connection = std::dynamic_pointer_cast<PostgresConnection>(given);
    if (!connection || connection->uri() != uriOf(name))
        return nullptr;
    return connection;
}

IsamCode PostgresIsamEngine::create(const QString& name, int keyLength, const QString& format,
                                    const std::shared_ptr<TIsamConnection>& given)
{
    TIsamFormat parsed;
    if (!parsed.parse(format))
        return IsamBadFormat;
    const QByteArray table = tableName(name);
    auto connection = connectionFor(name, given);
    if (keyLength < 1 || keyLength > MaxKeyLength || table.isEmpty() || !connection)
        return IsamBadParameter;

    PostgresConnection& c = *connection;
    c.beginCall();
    Result result;
    const bool own = !c.inCommand();
    IsamCode code = c.command(own ? "BEGIN;" + Creation : Creation);
    if (code == IsamOk)
        code = c.exec({}, "SELECT 1 FROM quorla_datasets WHERE name = $1::text", {Param::text(table)}, result);
    if (code == IsamOk && result.rows() > 0)
        code = IsamNameInUse;
    if (code == IsamOk)
        code = c.command(tableDefinition(table, parsed));
    if (code == IsamOk) {
        const QByteArray length = QByteArray::number(keyLength);
        const QByteArray formatText = format.toUtf8();
        // A new dataset has its key mark from the start: nothing can refer
        // to a key of it yet.
        const QByteArray mark(keyLength, '0');
        code = c.exec({},
                      "INSERT INTO quorla_datasets (name, keylength, format, highkey)"
                      " VALUES ($1::text, $2::int4, $3::text, $4::text)",
                      {Param::text(table), Param::text(length), Param::text(formatText), Param::text(mark)}, result);
    }
    if (code == IsamOk && own)
        code = c.command("COMMIT");
    if (code != IsamOk && own)
        c.rollback();
    return code;
}

IsamCode PostgresIsamEngine::exists(const QString& name, const std::shared_ptr<TIsamConnection>& given)
{
    const QByteArray table = tableName(name);
    auto connection = connectionFor(name, given);
    if (table.isEmpty() || !connection)
        return IsamBadParameter;
    connection->beginCall();
    Result result;
    const IsamCode code =
        connection->exec({}, "SELECT 1 FROM quorla_datasets WHERE name = $1::text", {Param::text(table)}, result);
    if (code != IsamOk && connection->state() == "42P01") {
        // A database without the catalog holds no dataset yet.
        connection->beginCall();
        return IsamNotFound;
    }
    if (code != IsamOk)
        return code;
    return result.rows() > 0 ? IsamOk : IsamNotFound;
}

IsamCode PostgresIsamEngine::open(const QString& name, IsamOpenMode /*mode*/,
                                  const std::shared_ptr<TIsamConnection>& given, std::unique_ptr<TIsamDataset>& dataset)
{
    dataset.reset();
    const QByteArray table = tableName(name);
    auto connection = connectionFor(name, given);
    if (table.isEmpty() || !connection)
        return IsamBadParameter;
    connection->beginCall();
    Result result;
    const IsamCode code = connection->exec(
        {}, "SELECT id, keylength, format FROM quorla_datasets WHERE name = $1::text", {Param::text(table)}, result);
    // A dataset that is not there fails as a missing file does, in the same
    // words: on a database without the catalog too, whose SQL error says
    // nothing to the person reading it.
    if ((code != IsamOk && connection->state() == "42P01") || (code == IsamOk && result.rows() == 0)) {
        connection->beginCall();
        return IsamSystemCall;
    }
    if (code != IsamOk)
        return code;

    const qint64 id = result.number(0, 0);
    const qint64 keyLength = result.number(0, 1);
    TIsamFormat format;
    if (!format.parse(QString::fromUtf8(result.bytes(0, 2))) || keyLength < 1 || keyLength > MaxKeyLength || id < 1
        || id > PostgresIsamDataset::MaxId)
        return IsamCorrupt;
    dataset = std::make_unique<PostgresIsamDataset>(std::move(connection), table, int(id), std::move(format),
                                                    int(keyLength));
    return IsamOk;
}
