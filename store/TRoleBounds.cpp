#include "TRoleBounds.h"

#include "HolderNoteRecord.h"
#include "IsamCode.h"
#include "PostgresConnection.h"
#include "TQuorlaDB.h"
#include "TServerTrail.h"

namespace {

// The session's user key, from his role's row.
const QByteArray OwnKey = "(SELECT r.userkey FROM quorla_roles r WHERE r.rolename = quorla_session_role())";

QByteArray idleBound(const QByteArray& schema)
{
    const QByteArray bound = "'" + QByteArray::number(TRoleBounds::IdleSeconds) + "s'";
    return R"SQL(
CREATE OR REPLACE FUNCTION quorla_role_bounds(r name) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, )SQL" + schema + R"SQL(, pg_temp AS $f$ BEGIN
  IF pg_has_role(current_user, (SELECT datdba FROM pg_database WHERE datname = current_database()), 'USAGE') THEN
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO %I', current_database(), r);
  END IF;
  IF EXISTS (SELECT FROM pg_roles WHERE rolname = r AND NOT rolcreaterole AND NOT rolsuper) THEN
    EXECUTE format('ALTER ROLE %I IN DATABASE %I SET idle_in_transaction_session_timeout = %L',
                   r, current_database(), )SQL" + bound + R"SQL();
    EXECUTE format('ALTER ROLE %I IN DATABASE %I SET statement_timeout = %L', r, current_database(), )SQL" + bound + R"SQL();
    -- The set-up's owner holds the user's role, so that quorla_reap, its
    -- own, sees and ends his sessions; where it may not grant it (it may
    -- not create roles), his sessions go unreaped.
    IF NOT pg_has_role(current_user, r, 'USAGE') THEN
      BEGIN
        EXECUTE format('GRANT %I TO %I', r, current_user);
      EXCEPTION WHEN insufficient_privilege OR invalid_grant_operation THEN
        NULL;
      END;
    END IF;
  END IF;
END $f$;
CREATE OR REPLACE FUNCTION quorla_role_bounded() RETURNS trigger
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, )SQL" + schema + R"SQL(, pg_temp AS $f$ BEGIN
  PERFORM quorla_role_bounds(NEW.rolename);
  RETURN NULL;
END $f$;
REVOKE ALL ON FUNCTION quorla_role_bounds(name), quorla_role_bounded() FROM PUBLIC;
CREATE OR REPLACE TRIGGER quorla_bounds AFTER INSERT ON quorla_roles FOR EACH ROW
  EXECUTE FUNCTION quorla_role_bounded();
SELECT quorla_role_bounds(rolename) FROM quorla_roles;
DO $$ BEGIN
  IF pg_has_role(current_user, (SELECT datdba FROM pg_database WHERE datname = current_database()), 'USAGE') THEN
    EXECUTE format('REVOKE CONNECT ON DATABASE %I FROM PUBLIC', current_database());
  END IF;
END $$;
)SQL";
}

// No table lock beyond what reading and adding take: a user's role may
// update a dataset's columns (a right on columns lets no one lock their
// table) and delete no row; it removes one by marking it (q_drop), and the
// server then deletes it. A mark passes the table's policies for changing
// rows, and those for deleting them (copied): so stale lock notes are still
// cleared by whoever meets them, and old trail records by every
// workstation's clean-up.
QByteArray noTableLocks(const QByteArray& schema)
{
    return R"SQL(
DO $$ DECLARE t text; q text; BEGIN
  FOR t IN SELECT name FROM quorla_datasets WHERE to_regclass(name) IS NOT NULL LOOP
    EXECUTE format('ALTER TABLE %I ADD COLUMN IF NOT EXISTS q_drop boolean', t);
    -- Each table's own function, its DELETE written out: planned once a
    -- session, where a statement made at each call is planned at each (and
    -- by the key's index, however small the table was then).
    EXECUTE format('CREATE OR REPLACE FUNCTION %I() RETURNS trigger)SQL"
        + QByteArray(TServerTrail::LookupFunction()).replace("@S@", schema) + R"SQL(%L', 'quorla_dropped_' || t,
                   format('BEGIN DELETE FROM %I WHERE pk = NEW.pk; RETURN NULL; END', t));
    EXECUTE format('REVOKE ALL ON FUNCTION %I() FROM PUBLIC', 'quorla_dropped_' || t);
    EXECUTE format('CREATE OR REPLACE TRIGGER quorla_drop AFTER UPDATE OF q_drop ON %I FOR EACH ROW'
                   ' WHEN (NEW.q_drop) EXECUTE FUNCTION %I()', t, 'quorla_dropped_' || t);
    SELECT string_agg(quote_ident(attname), ', ') INTO q FROM pg_attribute
      WHERE attrelid = to_regclass(t) AND attnum > 0 AND NOT attisdropped AND attgenerated = '';
    EXECUTE format('REVOKE UPDATE, DELETE, TRUNCATE ON %I FROM "quorla-users"', t);
    EXECUTE format('GRANT UPDATE (%s) ON %I TO "quorla-users"', q, t);
    EXECUTE format('DROP POLICY IF EXISTS quorla_drop ON %I', t);
    SELECT p.qual INTO q FROM pg_policies p
      WHERE p.schemaname = current_schema() AND p.tablename = t AND p.policyname = 'quorla_delete';
    IF q IS NOT NULL THEN
      EXECUTE format('CREATE POLICY quorla_drop ON %I FOR UPDATE TO "quorla-users" USING (%s) WITH CHECK (q_drop)', t, q);
    END IF;
  END LOOP;
END $$;
DROP FUNCTION IF EXISTS quorla_dropped();
REVOKE UPDATE ON quorla_settings FROM "quorla-users";
GRANT UPDATE (value) ON quorla_settings TO "quorla-users";
)SQL";
}

QByteArray ownNotes()
{
    const QByteArray user = "encode(substring(data from " + QByteArray::number(HolderNoteRecord::UserKeyOffset + 1)
        + " for 10), 'escape')";
    const QByteArray own = "q_user = " + OwnKey;
    QByteArray sql = "ALTER TABLE qlholders ADD COLUMN IF NOT EXISTS q_user text GENERATED ALWAYS AS (" + user
        + ") STORED; ALTER TABLE qlholders ENABLE ROW LEVEL SECURITY;";
    for (const char* policy : {"quorla_read", "quorla_add", "quorla_change", "quorla_delete"})
        sql += "DROP POLICY IF EXISTS " + QByteArray(policy) + " ON qlholders;";
    return sql + "CREATE POLICY quorla_read ON qlholders FOR SELECT TO \"quorla-users\" USING (true);"
        + "CREATE POLICY quorla_add ON qlholders FOR INSERT TO \"quorla-users\" WITH CHECK (" + own + ");"
        + "CREATE POLICY quorla_change ON qlholders FOR UPDATE TO \"quorla-users\" USING (" + own + ") WITH CHECK ("
        + own + ");" + "CREATE POLICY quorla_delete ON qlholders FOR DELETE TO \"quorla-users\" USING ("
        + own + " OR quorla_holds_note(pk));";
}

// Whether this session holds the lock of the note `k`: whoever meets a
// stale note takes its lock before removing it, and nobody else removes
// another's note (a live note's lock is its writer's).
QByteArray holdsNote(const QByteArray& schema)
{
    return R"SQL(
CREATE OR REPLACE FUNCTION quorla_holds_note(k text) RETURNS boolean
  LANGUAGE sql STABLE SET search_path = pg_catalog, )SQL" + schema + R"SQL(, pg_temp AS $f$
  SELECT k ~ '^[0-9]{1,10}$' AND EXISTS (
    SELECT FROM pg_locks l JOIN quorla_datasets d ON d.name = 'qlholders'
      WHERE l.locktype = 'advisory' AND l.pid = pg_backend_pid() AND l.objsubid = 1 AND l.granted
        AND (l.classid::int8 << 32 | l.objid::int8) = d.id::int8 * 10000000000 + k::int8)
$f$;
)SQL";
}

// The target of a holder's note (its dataset's name, "#" and the key), as
// the dataset `d` and lock number `n` of pg_locks name it.
const QByteArray NoteTarget = "lower(split_part(encode(substring(h.data from 1 for 24), 'escape'), '\\000', 1))";
const QByteArray LockTarget = "d.name || '.ism#' || lpad((n.lock % 10000000000)::text, d.keylength, '0')";

// The sessions a reap may end: those of the database's user roles, not the
// owner's nor any that may create roles.
const QByteArray UserSessions = R"SQL(
      SELECT a.pid, a.backend_start, a.state, a.state_change, a.query_start, q.userkey
        FROM pg_stat_activity a JOIN quorla_roles q ON q.rolename = a.usename JOIN pg_roles o ON o.oid = a.usesysid
        WHERE a.datname = current_database() AND a.pid <> pg_backend_pid() AND NOT o.rolsuper
          AND NOT o.rolcreaterole AND pg_has_role(a.usesysid, 'USAGE'))SQL";

// The server's bound on what a user's own session can do to others,
// whatever he SETs in it: quorla_reap ends the sessions of the database's
// user roles (not the owner's, nor any that may create roles) that are idle
// in a transaction, or run one statement, for longer than IdleSeconds, or
// hold a record's lock without a note of their own user on it (a note's own
// lock is noted by the note) while idle outside a transaction for longer
// than UnnotedLockSeconds: having run nothing since, the session has held
// that one lock all along. A command's own locks (an alarm's, a new key's)
// are held while its statements run, and a session that keeps running
// statements is ended only once a reap has seen the lock at every look for
// longer than BusyLockSeconds (quorla_lock_seen: a lock's age is not on the
// server, and a look that misses it starts it afresh). One reap runs every
// few seconds, whoever asks: the others answer at once. Each answers the
// rights of the session's user, so that a poll needs no read of its own for
// them.
QByteArray reaper(const QByteArray& schema)
{
    const auto seconds = [](int n) { return "clock_timestamp() - interval '" + QByteArray::number(n) + " s'"; };
    const QByteArray tooLong = "(u.state LIKE 'idle in transaction%' AND u.state_change < " + seconds(TRoleBounds::IdleSeconds)
        + " OR u.state = 'active' AND u.query_start < " + seconds(TRoleBounds::IdleSeconds) + ")";
    return R"SQL(
CREATE UNLOGGED TABLE IF NOT EXISTS quorla_lock_seen (pid integer, started timestamptz, lock int8,
  seen timestamptz NOT NULL, PRIMARY KEY (pid, started, lock));
CREATE UNLOGGED TABLE IF NOT EXISTS quorla_reaped (at timestamptz NOT NULL);
INSERT INTO quorla_reaped SELECT '-infinity' WHERE NOT EXISTS (SELECT FROM quorla_reaped);
REVOKE ALL ON quorla_lock_seen, quorla_reaped FROM PUBLIC, "quorla-users";
CREATE OR REPLACE FUNCTION quorla_reap() RETURNS integer
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, )SQL" + schema + R"SQL(, pg_temp AS $f$
DECLARE rights integer := (SELECT q.rights FROM quorla_roles q WHERE q.rolename = session_user); p integer;
BEGIN
  IF NOT pg_try_advisory_xact_lock(1364541266, 1) THEN RETURN rights; END IF;
  UPDATE quorla_reaped SET at = clock_timestamp() WHERE at < )SQL" + seconds(TRoleBounds::ReapSeconds - 1) + R"SQL(;
  IF NOT FOUND THEN RETURN rights; END IF;
  -- Mostly no session holds a record's lock: then the sessions alone are
  -- looked at, in a statement far lighter to plan and run than the whole
  -- look (the reap's session runs it once, so its plan is made each time).
  IF NOT EXISTS (SELECT FROM pg_locks l WHERE l.locktype = 'advisory' AND l.objsubid = 1 AND l.granted) THEN
    DELETE FROM quorla_lock_seen;
    PERFORM pg_terminate_backend(u.pid) FROM ()SQL" + UserSessions + R"SQL() u WHERE )SQL" + tooLong + R"SQL(;
    RETURN rights;
  END IF;
  FOR p IN
    WITH users AS MATERIALIZED ()SQL" + UserSessions + R"SQL(),
    held AS MATERIALIZED (
      SELECT l.pid, (l.classid::int8 << 32 | l.objid::int8) AS lock FROM pg_locks l
        WHERE l.locktype = 'advisory' AND l.objsubid = 1 AND l.granted),
    unnoted AS (
      SELECT u.pid, u.backend_start, n.lock FROM users u JOIN held n ON n.pid = u.pid
        JOIN quorla_datasets d ON d.id = n.lock / 10000000000
        WHERE NOT EXISTS (
          SELECT FROM qlholders h WHERE h.q_user = u.userkey
            AND (d.name = 'qlholders' AND h.pk = lpad((n.lock % 10000000000)::text, d.keylength, '0')
                 OR )SQL" + NoteTarget + " = " + LockTarget + R"SQL())),
    gone AS (
      DELETE FROM quorla_lock_seen s WHERE NOT EXISTS (
        SELECT FROM unnoted n WHERE n.pid = s.pid AND n.backend_start = s.started AND n.lock = s.lock)),
    seen AS (
      INSERT INTO quorla_lock_seen SELECT n.pid, n.backend_start, n.lock, clock_timestamp() FROM unnoted n
        ON CONFLICT DO NOTHING)
    SELECT u.pid FROM users u WHERE )SQL" + tooLong + R"SQL(
    UNION
    SELECT n.pid FROM unnoted n JOIN users u ON u.pid = n.pid
      WHERE u.state = 'idle' AND u.state_change < )SQL" + seconds(TRoleBounds::UnnotedLockSeconds) + R"SQL(
    UNION
    SELECT s.pid FROM quorla_lock_seen s JOIN unnoted n ON n.pid = s.pid AND n.backend_start = s.started AND n.lock = s.lock
      WHERE s.seen < )SQL" + seconds(TRoleBounds::BusyLockSeconds) + R"SQL(
  LOOP
    PERFORM pg_terminate_backend(p);
  END LOOP;
  RETURN rights;
END $f$;
REVOKE ALL ON FUNCTION quorla_reap() FROM PUBLIC;
GRANT EXECUTE ON FUNCTION quorla_reap() TO "quorla-users";
)SQL";
}


} // namespace

QByteArray TRoleBounds::Sql(const QByteArray& schema)
{
    return idleBound(schema) + holdsNote(schema) + ownNotes() + noTableLocks(schema) + reaper(schema);
}

namespace {

// A poll comes every ReapSeconds or so: the timer's slack is no reason to
// skip one.
constexpr int ReapSlackMs = 1000;

// `database`'s server session when a reap is due on it, ReapSlackMs before
// ReapSeconds have passed since its last; else null.
PostgresConnection* dueReap(TQuorlaDB& database)
{
    PostgresConnection* server = database.ServerConnection();
    if (!server || server->inTransaction() || !database.KeepsRoles())
        return nullptr;
    QElapsedTimer& since = server->sinceReap();
    if (since.isValid() && since.elapsed() < TRoleBounds::ReapSeconds * 1000 - ReapSlackMs)
        return nullptr;
    since.start();
    return server;
}

// The rights a reap answered. The session's user is the person's only
// where he logs in as himself.
std::optional<int> rightsOf(const PostgresConnection& server, const PostgresConnection::Result& result)
{
    if (result.rows() != 1 || result.length(0, 0) == 0 || server.loginRole().isEmpty())
        return std::nullopt;
    return int(result.number(0, 0));
}

const QByteArray ReapCall = "SELECT quorla_reap()";

} // namespace

void TRoleBounds::ReapAside(TQuorlaDB& database)
{
    PostgresConnection* server = database.ServerConnection();
    if (server && server->locks().empty() && dueReap(database))
        server->sendAside(ReapCall);
}

std::optional<int> TRoleBounds::AnsweredRights(TQuorlaDB& database)
{
    PostgresConnection* server = database.ServerConnection();
    PostgresConnection::Result result;
    if (!server || !server->takeAside(result))
        return std::nullopt;
    return rightsOf(*server, result);
}
