#include "TServerDetails.h"

#include "DetailRecord.h"

namespace {

// The text of the `width` bytes at `offset` of the row's record, a NUL
// reading "\000".
QByteArray textAt(std::size_t offset, std::size_t width)
{
    return "encode(substring(data from " + QByteArray::number(qint64(offset) + 1) + " for "
        + QByteArray::number(qint64(width)) + "), 'escape')";
}

// Whether the session may read (`change` false) or change the row's entry
// or series: looked up under the session's own policies of that table, one
// index probe a row.
QByteArray owning(bool series, bool change)
{
    const QByteArray mayChange = change ? QByteArray(" AND (SELECT CASE WHEN r.rights & 6 <> 0 THEN '*' ELSE r.userkey"
                                                     " END FROM quorla_roles r WHERE r.rolename = quorla_session_role())"
                                                     " = ANY (ARRAY[x.q_owner, '*'])")
                                        : QByteArray();
    const auto in = [&](const QByteArray& table) {
        return "EXISTS (SELECT 1 FROM " + table + " x WHERE x.pk = q_key" + mayChange + " OFFSET 0)";
    };
    return "CASE q_kind WHEN 'E' THEN " + in("qldayent") + " WHEN 'S' THEN "
        + (series ? in("qlseries") : QByteArray("false")) + " ELSE false END";
}

QByteArray columnsAndCheck()
{
    return "ALTER TABLE qldetail ADD COLUMN IF NOT EXISTS q_kind text GENERATED ALWAYS AS (" + textAt(0, 1)
        + ") STORED;"
          "ALTER TABLE qldetail ADD COLUMN IF NOT EXISTS q_key text COLLATE \"C\" GENERATED ALWAYS AS ("
        + textAt(1, 10)
        + ") STORED;"
          "CREATE INDEX IF NOT EXISTS qldetail_q_key ON qldetail (q_key);"
          "ALTER TABLE qldetail DROP CONSTRAINT IF EXISTS quorla_detail;"
          "ALTER TABLE qldetail ADD CONSTRAINT quorla_detail CHECK ("
        + textAt(DetailRecord::OfOffset, 15) + " ~ '^[ES][0-9]{13}\\\\000$' AND "
        + textAt(DetailRecord::ReachOffset, 11) + " ~ '^([0-9]{10}\\\\000|(\\\\000){11})$') NOT VALID;";
}

QByteArray policies(bool series)
{
    QByteArray sql = "ALTER TABLE qldetail ENABLE ROW LEVEL SECURITY;";
    for (const char* policy : {"quorla_read", "quorla_add", "quorla_change", "quorla_delete", "quorla_admin"})
        sql += "DROP POLICY IF EXISTS " + QByteArray(policy) + " ON qldetail;";
    const QByteArray change = owning(series, true);
    return sql + "CREATE POLICY quorla_read ON qldetail FOR SELECT TO \"quorla-users\" USING (" + owning(series, false)
        + ");"
          "CREATE POLICY quorla_add ON qldetail FOR INSERT TO \"quorla-users\" WITH CHECK ("
        + change
        + ");"
          "CREATE POLICY quorla_change ON qldetail FOR UPDATE TO \"quorla-users\" USING ("
        + change + ") WITH CHECK (" + change
        + ");"
          "CREATE POLICY quorla_delete ON qldetail FOR DELETE TO \"quorla-users\" USING ("
        + change + ");";
}

// The details go with their entry or series, in the statement that
// deletes it.
QByteArray goneWith(bool series)
{
    QByteArray sql = R"SQL(
CREATE OR REPLACE FUNCTION quorla_details_gone() RETURNS trigger
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$ BEGIN
  DELETE FROM qldetail WHERE q_key = OLD.pk AND q_kind = TG_ARGV[0];
  RETURN NULL;
END $f$;
REVOKE ALL ON FUNCTION quorla_details_gone() FROM PUBLIC;
CREATE OR REPLACE TRIGGER quorla_details_gone AFTER DELETE ON qldayent FOR EACH ROW
  EXECUTE FUNCTION quorla_details_gone('E');
)SQL";
    if (series)
        sql += "CREATE OR REPLACE TRIGGER quorla_details_gone AFTER DELETE ON qlseries FOR EACH ROW"
               " EXECUTE FUNCTION quorla_details_gone('S');";
    return sql;
}

} // namespace

QByteArray TServerDetails::Sql(const QByteArray& schema, bool series)
{
    return QByteArray(columnsAndCheck() + policies(series) + goneWith(series)).replace("@S@", schema);
}
