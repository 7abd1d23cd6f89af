#pragma once

#include <QByteArray>

#include <optional>

class TQuorlaDB;

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
//   hold it. Another's note is removed only by a session holding its lock:
//   stale notes are cleared by whoever meets them;
// - a user may lift his role's limits in his own session (SET), which no
//   one can forbid, and take any record's lock: the server ends a session of
//   a user's role idle in a transaction, or running one statement, for more
//   than IdleSeconds; or holding a record's lock with no note of its own
//   user on it, idle outside a transaction for more than UnnotedLockSeconds
//   or running statements under it for more than BusyLockSeconds; at the
//   reap of any workstation or service that follows (ReapAside).
namespace TRoleBounds {

constexpr int IdleSeconds = 15;
// A lock without its holder's note, held by a session that has run nothing
// for this long outside a transaction: the program holds such locks only
// while its command's statements run.
constexpr int UnnotedLockSeconds = 5;
// The same lock seen at every reap for this long while its session runs
// statements: longer than a large series change under a heavy load takes,
// so that a command's own locks are never taken for a lock held to stop
// others.
constexpr int BusyLockSeconds = 60;
// A reap runs at most this often, on the whole server and per session: as
// often as a workstation polls, and rarely enough that in a large office
// the one poll that does the server's look (a read of every session and
// lock) is far fewer than one in a hundred.
constexpr int ReapSeconds = 10;

// The statements, for the schema `schema` (quoted); quorla_roles and the
// notes' table must exist.
QByteArray Sql(const QByteArray& schema);

// Has the server end the sessions past those bounds, at most every
// ReapSeconds for `database`'s session (the alarm poll's, and quorla_dav's
// once a request is answered); nothing on a folder, inside a transaction,
// while the session holds a record lock, or where the users are no server
// roles. The reap is sent without awaiting its answer, which the server
// gives while the workstation does other things, and which is read at the
// session's next call; so no caller waits for the server's look at every
// session and lock. Failures are ignored: the next reap tries again.
void ReapAside(TQuorlaDB& database);
// The rights the reap last sent aside on `database`'s session answered (as
// they were when it ran), read once; nothing when none was sent since, or
// it failed, or the person is not logged in as himself.
std::optional<int> AnsweredRights(TQuorlaDB& database);

} // namespace TRoleBounds
