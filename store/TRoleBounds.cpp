#include "TRoleBounds.h"

#include "HolderNoteRecord.h"

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
CREATE OR REPLACE FUNCTION quorla_dropped() RETURNS trigger
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, )SQL" + schema + R"SQL(, pg_temp AS $f$ BEGIN
  EXECUTE format('DELETE FROM %I.%I WHERE pk = $1', TG_TABLE_SCHEMA, TG_TABLE_NAME) USING NEW.pk;
  RETURN NULL;
END $f$;
REVOKE ALL ON FUNCTION quorla_dropped() FROM PUBLIC;
DO $$ DECLARE t text; q text; BEGIN
  FOR t IN SELECT name FROM quorla_datasets WHERE to_regclass(name) IS NOT NULL LOOP
    EXECUTE format('ALTER TABLE %I ADD COLUMN IF NOT EXISTS q_drop boolean', t);
    EXECUTE format('CREATE OR REPLACE TRIGGER quorla_drop AFTER UPDATE OF q_drop ON %I FOR EACH ROW'
                   ' WHEN (NEW.q_drop) EXECUTE FUNCTION quorla_dropped()', t);
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
        + own + ");" + "CREATE POLICY quorla_delete ON qlholders FOR DELETE TO \"quorla-users\" USING (true);";
}

} // namespace

QByteArray TRoleBounds::Sql(const QByteArray& schema)
{
    return idleBound(schema) + ownNotes() + noTableLocks(schema);
}
