#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class TQuorlaDB;

// Whether a deletion would take rows its session may not read, asked of a
// PostgreSQL server whose users are server roles (TServerRoles). A row
// policy makes a DELETE pass over a row its session may not read, without
// an error: a series' deletion by a colleague who may change others' entries
// would so leave another's private occurrence behind, outside its series,
// while its link and alarms went. A function of the server's own
// (quorla_series_hides, run with its owner's rights) answers, for a series
// the session reads, whether an occurrence on some day of a range is
// private and neither the session's user's own (owner or assignee) nor
// readable by his right to administer; it tells nothing of a series the
// session may not read.
namespace TServerHidden {

// The function's statements, for the schema `schema` (quoted); the entries',
// series' and series links' tables must exist.
QByteArray Sql(const QByteArray& schema);

// Whether an occurrence of series `seriesKey` on a day from `fromDay` to
// `toDay` (day keys) is hidden from the session; nullopt on a server whose
// set-up predates the function. A failed statement throws EQuorlaDB with
// the server's reason.
std::optional<bool> SeriesHides(TQuorlaDB& database, const QString& seriesKey, const QString& fromDay,
                                const QString& toDay);

} // namespace TServerHidden
