#include "TServerBusy.h"

#include "DetailRecord.h"
#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "PostgresConnection.h"
#include "SeriesLinkRecord.h"
#include "TQuorlaDB.h"

#include <QSet>

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

// The little-endian number of the 4 bytes at `offset` of `column`.
QByteArray int32At(const QByteArray& column, std::size_t offset)
{
    QByteArray sum;
    for (std::size_t byte = 0; byte < 4; ++byte)
        sum += (byte ? " + " : "(") + QByteArray("get_byte(") + column + ", " + QByteArray::number(qint64(offset + byte))
            + ") * " + QByteArray::number(1LL << (8 * byte));
    return sum + ")";
}

// The keys of the occurrences, made and not deleted, that begin before
// `first` (the first key's text) on the days a series' template reaching past its start's day
// may reach from: the template's span of days back. An occurrence without
// details of its own has no head, so reachingFar() does not name it.
QByteArray occurrencesReachingFar(const QByteArray& first)
{
    const QByteArray far(DetailRecord::ReachesOn.data(), DetailRecord::ReachesOn.size());
    const QByteArray span = "greatest(" + int32At("x.data", DetailRecord::DaysOffset) + " - 1, ceil("
        + int32At("x.data", DetailRecord::DurationOffset) + " / 86400.0))::bigint";
    const QByteArray series = "substr(convert_from(x.ix1, 'UTF8'), 2, 10)";
    return "SELECT convert_from(l.ix" + QByteArray::number(SeriesLinkRecord::EntryKeyIndex)
        + ", 'UTF8') FROM qldetail x JOIN qlserlnk l ON l.ix" + QByteArray::number(SeriesLinkRecord::OccurrenceIndex)
        + " >= convert_to(" + series + " || lpad(greatest(" + first + "::bigint - " + span
        + " * 86400, 0)::text, 10, '0'), 'UTF8') AND l.ix" + QByteArray::number(SeriesLinkRecord::OccurrenceIndex)
        + " < convert_to(" + series + " || " + first + ", 'UTF8') WHERE x.ix"
        + QByteArray::number(DetailRecord::ReachIndex) + " >= convert_to('" + far
        + "', 'UTF8') AND substr(convert_from(x.ix1, 'UTF8'), 1, 1) = '"
        + QByteArray(1, DetailRecord::SeriesMark.toLatin1()) + "' AND get_byte(l.data, "
        + QByteArray::number(qint64(SeriesLinkRecord::FlagsOffset)) + ") & "
        + QByteArray::number(SeriesLinkRecord::Deleted | SeriesLinkRecord::Pending) + " = 0";
}

// The entries of `users` (a text[] expression) starting from `first` to
// `last` (the keys' text expressions), and those starting earlier that
// reach far, each with the head of its details (its own, or its series'
// template's: one not deleted when `liveLinks`), as pk, entry, head; with
// `hidden` the private ones alone, their texts blanked.
QByteArray withHeads(const QByteArray& first, const QByteArray& last, const QByteArray& users, bool series,
                     bool hidden, bool liveLinks)
{
    const QByteArray live = !liveLinks ? QByteArray()
        : " AND get_byte(l.data, " + QByteArray::number(qint64(SeriesLinkRecord::FlagsOffset)) + ") & "
            + QByteArray::number(SeriesLinkRecord::Deleted) + " = 0";
    const QByteArray template_ = !series ? QByteArray()
        : " UNION ALL SELECT x.data FROM qlserlnk l JOIN qldetail x ON " + headOf("S", "l.q_series")
            + " WHERE l.ix2 = convert_to(d.pk, 'UTF8')" + live;
    // Those starting in the range, and those starting before it that reach
    // far, each read by its own index (one condition joining them with OR
    // would have the plan made for any range read every entry).
    const QByteArray before
        = series ? reachingFar() + " UNION " + occurrencesReachingFar(first) : reachingFar();
    const QByteArray entry
        = hidden ? blanked("d.data", DayEntryRecord::DescriptionOffset, DayEntryRecord::DescriptionWidth) : "d.data";
    const QByteArray head
        = hidden ? blanked("h.data", DetailRecord::BodyOffset, DetailRecord::BodyWidth) : "h.data";
    return "WITH d AS (SELECT * FROM qldayent WHERE ix3 BETWEEN convert_to(" + first + ", 'UTF8')"
        " AND convert_to(" + last + ", 'UTF8') UNION ALL SELECT * FROM qldayent WHERE ix3 < convert_to(" + first
        + ", 'UTF8') AND pk IN (" + before + ")) SELECT d.pk, " + entry + ", " + head
        + " FROM d LEFT JOIN LATERAL (SELECT x.data FROM qldetail x WHERE " + headOf("E", "d.pk") + template_
        + " LIMIT 1) h ON true WHERE " + (hidden ? "d.q_private AND " : "") + "d.q_assignees && " + users;
}

bool hiddenThere(PostgresConnection& server)
{
    bool has = false;
    if (server.hasFunction("quorla_busy_hidden(text,text,text[])", has) != IsamOk)
        throw EQuorlaDB(server.reason());
    return has;
}

TServerBusy::TRead readOf(const PostgresConnection::Result& result, int row)
{
    TServerBusy::TRead one;
    one.key = QString::fromUtf8(result.bytes(row, 0));
    const QByteArray entry = result.bytes(row, 1);
    std::copy_n(entry.constData(), std::min<qsizetype>(entry.size(), DayEntryRecord::Size), one.entry.bytes().data());
    const QByteArray head = result.bytes(row, 2);
    if (!head.isEmpty()) {
        DetailRecord record;
        std::copy_n(head.constData(), std::min<qsizetype>(head.size(), DetailRecord::Size), record.bytes().data());
        one.details = DetailRecords::HeadOnly(record);
    }
    one.blanked = result.number(row, 3) != 0;
    return one;
}

} // namespace

QByteArray TServerBusy::Sql(const QByteArray& schema, bool series)
{
    return "CREATE OR REPLACE FUNCTION quorla_busy_hidden(first_key text, last_key text, users text[])"
           " RETURNS TABLE (pk text, entry bytea, head bytea) LANGUAGE sql STABLE SECURITY DEFINER"
           " SET search_path = "
        + schema + ", pg_temp AS $f$ " + withHeads("first_key", "last_key", "users", series, true, false)
        + " $f$;"
          "REVOKE ALL ON FUNCTION quorla_busy_hidden(text, text, text[]) FROM PUBLIC;"
          "GRANT EXECUTE ON FUNCTION quorla_busy_hidden(text, text, text[]) TO \"quorla-users\";";
}

bool TServerBusy::Answers(TQuorlaDB& database)
{
    return database.ServerConnection() && database.Details() && database.KeepsRoles();
}

QList<TServerBusy::TRead> TServerBusy::Read(TQuorlaDB& database, const QString& fromKey, const QString& toKey,
                                            const QStringList& users, int& hidden)
{
    QList<TRead> found;
    PostgresConnection& server = *database.ServerConnection();
    server.beginCall();
    // A set-up made before the function answers no hidden entry rather
    // than failing (a failed statement would end the transaction it is
    // part of).
    if (hidden < 0)
        hidden = hiddenThere(server) ? 1 : 0;
    const bool series = database.SeriesLinks() != nullptr;
    // What the session reads under its own policies, then what the server
    // answers of the private entries it may not read: one statement.
    QByteArray sql = "SELECT *, false FROM (" + withHeads("$1::text", "$2::text", "$3::text[]", series, false, true)
        + ") v";
    if (hidden)
        sql += " UNION ALL SELECT *, true FROM quorla_busy_hidden($1::text, $2::text, $3::text[])";
    using Param = PostgresConnection::Param;
    const QByteArray first = fromKey.toUtf8();
    const QByteArray last = toKey.toUtf8();
    const QByteArray asked = "{" + users.join(QLatin1Char(',')).toUtf8() + "}";
    PostgresConnection::Result result;
    const QByteArray name = QByteArray("quorla_busy_") + (series ? "s" : "") + (hidden ? "h" : "");
    if (server.exec(name, sql, {Param::text(first), Param::text(last), Param::text(asked)}, result) != IsamOk)
        throw EQuorlaDB(server.reason());
    for (int row = 0; row < result.rows(); ++row)
        found.append(readOf(result, row));
    // One the session reads comes with its text, and not again blanked.
    QSet<QString> read;
    for (const TRead& one : std::as_const(found))
        if (!one.blanked)
            read.insert(one.key);
    found.removeIf([&read](const TRead& one) { return one.blanked && read.contains(one.key); });
    return found;
}
