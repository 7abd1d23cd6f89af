#include "TServerBookings.h"

#include "BookingRecord.h"
#include "IsamCode.h"
#include "PostgresConnection.h"
#include "TQuorlaDB.h"

namespace {

using Result = PostgresConnection::Result;

QByteArray textAt(std::size_t offset, std::size_t width)
{
    return "encode(substring(data from " + QByteArray::number(qint64(offset) + 1) + " for "
        + QByteArray::number(qint64(width)) + "), 'escape')";
}

// The wall-clock moment of the time key at `offset`, as the server's
// timestamp (a TStamp counts plain calendar seconds, as UTC does).
QByteArray momentAt(std::size_t offset)
{
    return "(timestamp '1970-01-01 00:00:00' + " + textAt(offset, 10) + "::bigint * interval '1 second')";
}

QByteArray guard()
{
    return "CREATE EXTENSION IF NOT EXISTS btree_gist;"
           "ALTER TABLE qlbook ADD COLUMN IF NOT EXISTS q_resource text COLLATE \"C\" GENERATED ALWAYS AS ("
        + textAt(BookingRecord::SlotOffset, 10)
        + ") STORED;"
          "ALTER TABLE qlbook ADD COLUMN IF NOT EXISTS q_entry text COLLATE \"C\" GENERATED ALWAYS AS ("
        + textAt(BookingRecord::EntryOffset, 10)
        + ") STORED;"
          "ALTER TABLE qlbook ADD COLUMN IF NOT EXISTS q_series text COLLATE \"C\" GENERATED ALWAYS AS ("
        + textAt(BookingRecord::SeriesOffset, 10)
        + ") STORED;"
          "ALTER TABLE qlbook ADD COLUMN IF NOT EXISTS q_span tsrange GENERATED ALWAYS AS (tsrange("
        + momentAt(BookingRecord::SlotOffset + 10) + ", " + momentAt(BookingRecord::EndOffset)
        + ", '[)')) STORED;"
          "CREATE INDEX IF NOT EXISTS qlbook_q_entry ON qlbook (q_entry);"
          "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_constraint WHERE conname = '"
        + TServerBookings::OverlapConstraint
        + "' AND conrelid = 'qlbook'::regclass) THEN"
          " ALTER TABLE qlbook ADD CONSTRAINT "
        + TServerBookings::OverlapConstraint
        + " EXCLUDE USING gist (q_resource WITH =, q_span WITH &&) WHERE (q_entry <> '0000000000'); END IF; END $$;"
          "ALTER TABLE qlbook DROP CONSTRAINT IF EXISTS quorla_booking;"
          "ALTER TABLE qlbook ADD CONSTRAINT quorla_booking CHECK ("
        + textAt(BookingRecord::SlotOffset, 21) + " ~ '^[0-9]{20}\\\\000$' AND "
        + textAt(BookingRecord::EntryOffset, 11) + " ~ '^[0-9]{10}\\\\000$' AND upper(q_span) > lower(q_span));"
        + R"SQL(
CREATE OR REPLACE FUNCTION quorla_bookings_gone() RETURNS trigger
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$ BEGIN
  DELETE FROM qlbook WHERE q_entry = OLD.pk;
  RETURN NULL;
END $f$;
REVOKE ALL ON FUNCTION quorla_bookings_gone() FROM PUBLIC;
CREATE OR REPLACE TRIGGER quorla_bookings_gone AFTER DELETE ON qldayent FOR EACH ROW
  EXECUTE FUNCTION quorla_bookings_gone();
)SQL";
}

QByteArray policies(bool series)
{
    QByteArray sql;
    for (const QByteArray& table : {QByteArray("qlres"), QByteArray("qlbook")}) {
        sql += "ALTER TABLE " + table + " ENABLE ROW LEVEL SECURITY;";
        for (const char* policy : {"quorla_read", "quorla_add", "quorla_change", "quorla_delete", "quorla_admin"})
            sql += "DROP POLICY IF EXISTS " + QByteArray(policy) + " ON " + table + ";";
        sql += "CREATE POLICY quorla_read ON " + table + " FOR SELECT TO \"quorla-users\" USING (true);";
    }
    const QByteArray session = "(SELECT CASE WHEN r.rights & 6 <> 0 THEN '*' ELSE r.userkey END FROM quorla_roles r"
                               " WHERE r.rolename = quorla_session_role())";
    const QByteArray admin
        = "(SELECT r.rights & 2 FROM quorla_roles r WHERE r.rolename = quorla_session_role()) <> 0";
    // A series' note of the resources it books names no entry: whoever may
    // change the series writes it.
    const QByteArray ofSeries = series ? "EXISTS (SELECT 1 FROM qlseries s WHERE s.pk = q_series AND " + session
            + " = ANY (ARRAY[s.q_owner, '*']) OFFSET 0)"
                                       : QByteArray("false");
    const QByteArray mayChange = "CASE WHEN q_entry = '0000000000' THEN " + ofSeries
        + " ELSE EXISTS (SELECT 1 FROM qldayent x WHERE x.pk = q_entry AND " + session
        + " = ANY (ARRAY[x.q_owner, '*']) OFFSET 0) END";
    sql += "CREATE POLICY quorla_admin ON qlres FOR ALL TO \"quorla-users\" USING (" + admin + ") WITH CHECK ("
        + admin + ");";
    sql += "CREATE POLICY quorla_add ON qlbook FOR INSERT TO \"quorla-users\" WITH CHECK (" + mayChange + ");";
    sql += "CREATE POLICY quorla_change ON qlbook FOR UPDATE TO \"quorla-users\" USING (" + mayChange
        + ") WITH CHECK (" + mayChange + ");";
    sql += "CREATE POLICY quorla_delete ON qlbook FOR DELETE TO \"quorla-users\" USING (" + mayChange + ");";
    return sql;
}

} // namespace

QByteArray TServerBookings::Sql(const QByteArray& schema, bool roles, bool series)
{
    return QByteArray(guard() + (roles ? policies(series) : QByteArray())).replace("@S@", schema);
}

QString TServerBookings::Ensure(TQuorlaDB& database)
{
    PostgresConnection* connection = database.ServerConnection();
    if (!connection || !database.Bookings())
        return {};
    connection->beginCall();
    Result result;
    if (connection->exec({},
                         QByteArray("SELECT quote_ident(current_schema()), EXISTS (SELECT FROM pg_constraint WHERE conname = '")
                             + OverlapConstraint + "' AND conrelid = to_regclass('qlbook'))",
                         nullptr, 0, result)
        != IsamOk)
        return connection->reason();
    if (result.rows() == 1 && result.number(0, 1) != 0)
        return {};
    const QByteArray schema = result.bytes(0, 0);
    const bool outer = connection->inTransaction();
    // Inside a caller's transaction a failure would spoil it: there a
    // savepoint keeps it.
    const QByteArray begin = outer ? "SAVEPOINT quorla_bookings" : "BEGIN";
    if (connection->command(begin + ";" + Sql(schema, false) + (outer ? "RELEASE SAVEPOINT quorla_bookings" : "COMMIT"))
        == IsamOk)
        return {};
    const QString reason = connection->reason();
    if (outer)
        connection->command("ROLLBACK TO SAVEPOINT quorla_bookings");
    else
        connection->rollback();
    return reason;
}
