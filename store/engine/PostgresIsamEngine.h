#pragma once

#include "TIsamEngine.h"

#include <QByteArray>

class PostgresConnection;

// The dataset engine of a database server: each dataset is a table of one
// PostgreSQL database, named by the database's libpq URI, "#" and the dataset
// ("postgresql://host/quorla#QLUsers.Ism" is the table "qlusers": the name in
// lower case without the ".Ism"). User and password come from where libpq
// looks: the URI, PGPASSFILE or ~/.pgpass, the environment.
//
// A dataset's table has the primary key (text), the record's bytes and one
// column of index values per indexed field (bytea, so that order is byte
// order), with an index on (value, key) for each. The table quorla_datasets
// describes every dataset: its number, key length and format, the mark of the
// largest key it ever held and a counter of its writes. Each write is one
// statement, and so one transaction, that changes the record and moves the
// mark and the counter together.
//
// Tables are made in the first schema of the role's search path; the role
// needs the right to create tables there for the first start (owning the
// database gives it), and to read and write them afterwards.
//
// Record locks are the server's session-level advisory locks on the number
// dataset number * 10^10 + key, so key lengths are at most 10 digits. They do
// not block reads, fail at once when held elsewhere, and vanish when the
// session ends, including when its process is killed.
class PostgresIsamEngine : public TIsamEngine
{
public:
    std::shared_ptr<TIsamConnection> connect(const QString& location) override;
    IsamCode create(const QString& name, int keyLength, const QString& format,
                    const std::shared_ptr<TIsamConnection>& connection) override;
    IsamCode exists(const QString& name, const std::shared_ptr<TIsamConnection>& connection) override;
    IsamCode open(const QString& name, IsamOpenMode mode, const std::shared_ptr<TIsamConnection>& connection,
                  std::unique_ptr<TIsamDataset>& dataset) override;

    // The table of dataset `name` (above); empty when the dataset part is
    // missing or does not make a plain table name.
    static QByteArray tableName(const QString& name);

    // Key lengths beyond this do not fit the lock numbers.
    static constexpr int MaxKeyLength = 10;

private:
    // The connection a call uses: the given one, or a new one for the name's
    // database; null when the given one is for another database.
    static std::shared_ptr<PostgresConnection> connectionFor(const QString& name,
                                                            const std::shared_ptr<TIsamConnection>& given);
};
