#pragma once

#include <QByteArray>

class PostgresConnection;

// What the server checks of every row a client writes, whoever the client
// is: a workstation, the CalDAV service, or a person's own psql. A row the
// program would never write is refused in the statement that writes it, so
// that no colleague's read ever meets it ("Corrupted dataset").
//
// - Every dataset: the record has its format's length (which bounds its
//   size), the key is a key of the dataset's length, and each index column
//   holds the value the record's field gives it.
// - The datasets whose records the program reads by their fields (users,
//   entries, alarms, series, links, trail): keys in key fields, stamps in
//   time fields, flags within their known bits, an alarm's user-and-time
//   index its user's key and its time.
// - Keys belong to the server: a row's key, and every key a record names
//   (an entry's owner, assignees and category, an alarm's entry and user),
//   lies within what the dataset has handed out (its mark of the largest
//   key). Workstations take the next key and move the mark in the statement
//   that adds the row, or move the mark first to set keys aside; a row
//   written without, or a record naming a key nobody got, is refused.
// - The datasets' counters move only as workstations move them: the count
//   of changes by one a statement, the mark up by at most MarkStep keys a
//   statement, the identity set once. The tables' owner (the database's
//   first administrator, or a superuser) may move them at will.
//
// Checks are made as rows are written; rows stored before are left as they
// are (a database need not be read whole to be brought up to date).
class TServerChecks
{
public:
    // The most a non-owner moves a dataset's mark in one statement: well
    // beyond the largest batch a workstation sets aside (an import's 2,000
    // new events), and 10^6 statements from the end of a dataset's keys.
    static constexpr qint64 MarkStep = 10'000;
    // The most a setting of the office may hold.
    static constexpr int MaxSettingBytes = 65'536;

    // The SQL that sets the checks up (again) on every dataset of the
    // connection's database; `schema` is the tables' schema, quoted. Empty,
    // with the connection's reason, when the datasets cannot be read.
    static QByteArray Sql(PostgresConnection& connection, const QByteArray& schema);
};
