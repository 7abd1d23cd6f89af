#include "TServerHidden.h"

#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "PostgresConnection.h"
#include "SeriesLinkRecord.h"
#include "TQuorlaDB.h"

namespace {

QByteArray ix(int index)
{
    return "l.ix" + QByteArray::number(index);
}

// The session's user's key, or "*" (no key is) for an administrator, read
// by the session's own name: inside the function current_user is its owner.
// A session with no user (the tables' owner) has none, and nothing is
// hidden from it.
constexpr const char* Me = "SELECT CASE WHEN r.rights & 2 <> 0 THEN '*' ELSE r.userkey END AS key"
                           " FROM quorla_roles r WHERE r.rolename = session_user";

} // namespace

QByteArray TServerHidden::Sql(const QByteArray& schema)
{
    const QByteArray occurrence = ix(SeriesLinkRecord::OccurrenceIndex);
    return "CREATE OR REPLACE FUNCTION quorla_series_hides(series_key text, from_day text, to_day text)"
           " RETURNS boolean LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, "
        + schema + ", pg_temp AS $f$ WITH me AS (" + Me
        + ") SELECT EXISTS (SELECT FROM me, qlseries s WHERE s.pk = series_key"
          " AND (NOT s.q_private OR me.key = ANY (s.q_owner || s.q_assignees || '*'::text))"
          " AND EXISTS (SELECT FROM qlserlnk l JOIN qldayent d ON d.pk = convert_from("
        + ix(SeriesLinkRecord::EntryKeyIndex) + ", 'UTF8') WHERE " + occurrence
        + " BETWEEN convert_to(series_key || from_day, 'UTF8') AND convert_to(series_key || to_day, 'UTF8')"
          " AND d.q_private AND NOT me.key = ANY (d.q_owner || d.q_assignees || '*'::text)))"
          " $f$;"
          "REVOKE ALL ON FUNCTION quorla_series_hides(text, text, text) FROM PUBLIC;"
          "GRANT EXECUTE ON FUNCTION quorla_series_hides(text, text, text) TO \"quorla-users\";";
}

std::optional<bool> TServerHidden::SeriesHides(TQuorlaDB& database, const QString& seriesKey,
                                               const QString& fromDay, const QString& toDay)
{
    PostgresConnection& server = *database.ServerConnection();
    server.beginCall();
    bool has = false;
    if (server.hasFunction("quorla_series_hides(text,text,text)", has) != IsamOk)
        throw EQuorlaDB(server.reason());
    if (!has)
        return std::nullopt;
    PostgresConnection::Result result;
    using Param = PostgresConnection::Param;
    const QByteArray series = seriesKey.toUtf8();
    const QByteArray from = fromDay.toUtf8();
    const QByteArray to = toDay.toUtf8();
    if (server.exec("quorla_hides", "SELECT quorla_series_hides($1::text, $2::text, $3::text)",
                    {Param::text(series), Param::text(from), Param::text(to)}, result)
            != IsamOk
        || result.rows() != 1)
        throw EQuorlaDB(server.reason());
    return result.number(0, 0) != 0;
}
