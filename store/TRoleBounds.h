#pragma once

#include <QByteArray>

// How far a Quorla role on a PostgreSQL server reaches beyond his rights,
// set up with the roles (TServerRoles::Install):
// - only the database's own roles (and its owner) connect to it: the roles
//   of another office on the same server do not (set up where the role
//   installing it owns the database);
// - a transaction of a user's role left idle is ended by the server after
//   IdleSeconds, and a statement running as long is cancelled (defaults of
//   his role in this database, so also for roles made later; the program's
//   connections set their own statement limit); the role that owns the
//   tables, which copies whole databases, keeps none;
// - no table lock beyond what reading and adding take (which stop nobody's
//   reads and writes): a role updates columns and deletes no row itself, it
//   marks one (q_drop) under the rights to change or delete it, and the
//   server removes it;
// - a lock holder's note is written, and changed, only under its writer's
//   own user key, so that a refused lock never names someone who does not
//   hold it. Anyone may remove a note: stale notes are cleared by whoever
//   meets them, and a note only describes.
namespace TRoleBounds {

constexpr int IdleSeconds = 15;

// The statements, for the schema `schema` (quoted); quorla_roles and the
// notes' table must exist.
QByteArray Sql(const QByteArray& schema);

} // namespace TRoleBounds
