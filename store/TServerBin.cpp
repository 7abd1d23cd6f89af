#include "TServerBin.h"

#include "BinRecord.h"

namespace {

QByteArray keyAt(std::size_t offset)
{
    return "encode(substring(data from " + QByteArray::number(qint64(offset) + 1) + " for 10), 'escape')";
}

QByteArray columns()
{
    QByteArray assignees;
    for (int slot = 0; slot < BinRecord::MaxAssignees; ++slot) {
        const std::size_t offset = BinRecord::AssigneesOffset + std::size_t(slot) * BinRecord::AssigneeWidth;
        assignees += (slot ? ", " : "") + keyAt(offset);
    }
    return "ALTER TABLE qlbin ADD COLUMN IF NOT EXISTS q_private boolean GENERATED ALWAYS AS ((get_byte(data, "
        + QByteArray::number(BinRecord::FlagsOffset) + ") & " + QByteArray::number(BinRecord::Private)
        + ") <> 0) STORED;"
          "ALTER TABLE qlbin ADD COLUMN IF NOT EXISTS q_owner text GENERATED ALWAYS AS ("
        + keyAt(BinRecord::OwnerKeyOffset)
        + ") STORED;"
          "ALTER TABLE qlbin ADD COLUMN IF NOT EXISTS q_assignees text[] GENERATED ALWAYS AS (ARRAY["
        + assignees
        + "]) STORED;"
          "ALTER TABLE qlbin ADD COLUMN IF NOT EXISTS q_by text GENERATED ALWAYS AS ("
        + keyAt(BinRecord::DeletedByOffset) + ") STORED;";
}

QByteArray policies()
{
    const auto session = [](const QByteArray& value) {
        return "(SELECT " + value + " FROM quorla_roles r WHERE r.rolename = quorla_session_role())";
    };
    const auto keyOr = [&](int rights) {
        return session("CASE WHEN r.rights & " + QByteArray::number(rights) + " <> 0 THEN '*' ELSE r.userkey END");
    };
    const QByteArray readable = "NOT q_private OR " + keyOr(2) + " = ANY (q_owner || q_assignees || '*'::text)";
    const QByteArray mayChange = keyOr(6) + " = ANY (ARRAY[q_owner, '*'])";
    const QByteArray own = "q_by = " + session("r.userkey");
    QByteArray sql = "ALTER TABLE qlbin ENABLE ROW LEVEL SECURITY;";
    for (const char* policy : {"quorla_read", "quorla_add", "quorla_change", "quorla_delete", "quorla_admin"})
        sql += "DROP POLICY IF EXISTS " + QByteArray(policy) + " ON qlbin;";
    return sql + "CREATE POLICY quorla_read ON qlbin FOR SELECT TO \"quorla-users\" USING (" + readable
        + ");"
          "CREATE POLICY quorla_add ON qlbin FOR INSERT TO \"quorla-users\" WITH CHECK ("
        + mayChange + " AND " + own
        + ");"
          "CREATE POLICY quorla_delete ON qlbin FOR DELETE TO \"quorla-users\" USING (("
        + readable + ") AND " + mayChange + ");";
}

} // namespace

QByteArray TServerBin::Sql()
{
    return columns() + policies();
}
