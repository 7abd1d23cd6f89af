#pragma once

#include <QByteArray>

// The bin (BinRecord) on a PostgreSQL server whose users are server roles
// (TServerRoles), set up with the rest of the roles. Each row carries who
// could see its item when it was deleted (its private flag, owner and
// assignees) and who deleted it, kept by the server as columns of the row:
// - a row is read by whoever could read the entry (or series) then: not
//   private, or its owner, one of its assignees or an administrator, as the
//   entries' own policy reads;
// - a row is added only in the deleter's own name, for an item he may
//   change (his own, or with the right to change others' entries), and
//   removed (restored, or swept) by the same; no row is ever changed.
namespace TServerBin {

// The statements; the bin's table must exist.
QByteArray Sql();

} // namespace TServerBin
