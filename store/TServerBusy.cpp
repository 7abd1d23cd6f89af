#include "TServerBusy.h"

#include "DetailRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "PostgresConnection.h"
#include "TQuorlaDB.h"

#include <algorithm>

namespace {

// `column` (a record) with the `width` bytes at `offset` made NULs.
QByteArray blanked(const QByteArray& column, std::size_t offset, std::size_t width)
{
    return "overlay(" + column + " placing decode(repeat('00', " + QByteArray::number(qint64(width)) + "), 'hex') from "
        + QByteArray::number(qint64(offset) + 1) + ")";
}

QByteArray headOf(const QByteArray& mark, const QByteArray& key)
{
    return "x.ix1 = convert_to('" + mark + "' || " + key + " || '000', 'UTF8')";
}

// The keys of the entries whose own head reaches further than
// ShortReachDays past their start's day.
QByteArray reachingFar()
{
    const QByteArray far(DetailRecord::ReachesOn.data(), DetailRecord::ReachesOn.size());
    return "SELECT substr(convert_from(x.ix1, 'UTF8'), 2, 10) FROM qldetail x WHERE x.ix"
        + QByteArray::number(DetailRecord::ReachIndex) + " >= convert_to('" + far
        + "', 'UTF8') AND substr(convert_from(x.ix1, 'UTF8'), 1, 1) = '"
        + QByteArray(1, DetailRecord::EntryMark.toLatin1()) + "'";
}

} // namespace

QByteArray TServerBusy::Sql(const QByteArray& schema, bool series)
{
    const QByteArray template_ = !series ? QByteArray()
        : " UNION ALL SELECT x.data FROM qlserlnk l JOIN qldetail x ON " + headOf("S", "l.q_series")
            + " WHERE l.ix2 = convert_to(d.pk, 'UTF8')";
    return "CREATE OR REPLACE FUNCTION quorla_busy_hidden(first_key text, last_key text, users text[])"
           " RETURNS TABLE (pk text, entry bytea, head bytea) LANGUAGE sql STABLE SECURITY DEFINER"
           " SET search_path = "
        + schema + ", pg_temp AS $f$ SELECT d.pk, "
        + blanked("d.data", DayEntryRecord::DescriptionOffset, DayEntryRecord::DescriptionWidth) + ", "
        + blanked("h.data", DetailRecord::BodyOffset, DetailRecord::BodyWidth)
        + " FROM qldayent d LEFT JOIN LATERAL (SELECT x.data FROM qldetail x WHERE " + headOf("E", "d.pk")
        + template_
        + " LIMIT 1) h ON true"
          " WHERE (d.ix3 BETWEEN convert_to(first_key, 'UTF8') AND convert_to(last_key, 'UTF8')"
          " OR d.ix3 < convert_to(first_key, 'UTF8') AND d.pk IN ("
        + reachingFar()
        + "))"
          " AND d.q_private AND d.q_assignees && users $f$;"
          "REVOKE ALL ON FUNCTION quorla_busy_hidden(text, text, text[]) FROM PUBLIC;"
          "GRANT EXECUTE ON FUNCTION quorla_busy_hidden(text, text, text[]) TO \"quorla-users\";";
}

QList<TServerBusy::THidden> TServerBusy::Hidden(TQuorlaDB& database, const QString& fromKey, const QString& toKey,
                                                const QStringList& users)
{
    QList<THidden> found;
    PostgresConnection* server = database.ServerConnection();
    if (!server || users.isEmpty() || !database.KeepsRoles())
        return found;
    using Param = PostgresConnection::Param;
    const QByteArray first = fromKey.toUtf8();
    const QByteArray last = toKey.toUtf8();
    const QByteArray asked = "{" + users.join(QLatin1Char(',')).toUtf8() + "}";
    server->beginCall();
    PostgresConnection::Result result;
    // A set-up made before the function answers none rather than failing
    // (a failed statement would end the transaction it is part of).
    if (server->exec({}, "SELECT to_regprocedure('quorla_busy_hidden(text,text,text[])') IS NOT NULL", nullptr, 0,
                     result)
            != IsamOk
        || result.rows() != 1)
        throw EQuorlaDB(server->reason());
    if (result.number(0, 0) == 0)
        return found;
    if (server->exec({}, "SELECT pk, entry, head FROM quorla_busy_hidden($1, $2, $3::text[])",
                     {Param::text(first), Param::text(last), Param::text(asked)}, result)
        != IsamOk)
        throw EQuorlaDB(server->reason());
    for (int row = 0; row < result.rows(); ++row) {
        THidden one;
        one.key = QString::fromUtf8(result.bytes(row, 0));
        const QByteArray entry = result.bytes(row, 1);
        std::copy_n(entry.constData(), std::min<qsizetype>(entry.size(), DayEntryRecord::Size), one.entry.bytes().data());
        const QByteArray head = result.bytes(row, 2);
        if (!head.isEmpty()) {
            DetailRecord record;
            std::copy_n(head.constData(), std::min<qsizetype>(head.size(), DetailRecord::Size), record.bytes().data());
            one.details = DetailRecords::HeadOnly(record);
        }
        found.append(one);
    }
    return found;
}
