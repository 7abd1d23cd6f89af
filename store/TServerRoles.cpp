#include "TServerRoles.h"
#include "TServerChecks.h"
#include "TServerBin.h"
#include "TServerBusy.h"
#include "TServerBookings.h"
#include "TServerDetails.h"
#include "TServerHidden.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "ImportRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "PostgresConnection.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TChangeTrail.h"
#include "TClientNames.h"
#include "TDatabaseLocation.h"
#include "TRoleBounds.h"
#include "TLookup.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>
#include <QList>
#include <QRegularExpression>
#include <utility>
#include "TQuorlaDB.h"
#include "TServerTrail.h"
#include "TrailRecord.h"
#include "UserRecord.h"

namespace {

using Param = PostgresConnection::Param;
using Result = PostgresConnection::Result;

// The key text of a record's field at `offset` (a 10-digit key and its NUL)
// in the bytes `data`: as a column the server computes from the record's
// bytes in the same statement that writes them, or in a trigger from a row's
// bytes (NEW.data) before the server has computed its columns.
QByteArray keyAt(std::size_t offset, const QByteArray& data = "data")
{
    return "encode(substring(" + data + " from " + QByteArray::number(offset + 1) + " for 10), 'escape')";
}

QByteArray assigneesOf(std::size_t offset = DayEntryRecord::AssigneesOffset)
{
    static_assert(SeriesRecord::MaxAssignees == DayEntryRecord::MaxAssignees
                  && SeriesRecord::AssigneeWidth == DayEntryRecord::AssigneeWidth);
    QByteArray list;
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot)
        list += (slot ? ", " : "") + keyAt(offset + std::size_t(slot) * DayEntryRecord::AssigneeWidth);
    return "ARRAY[" + list + "]";
}

// The checks every role function begins with: the caller is an
// administrator, and the role is a Quorla user's (or, for a new one, has a
// Quorla user's name and does not exist).
const QByteArray RoleCheck = R"(
  IF NOT pg_has_role(session_user, 'quorla-admins', 'MEMBER') THEN
    RAISE EXCEPTION 'only Quorla administrators change Quorla users'' roles' USING ERRCODE = '42501';
  END IF;
  IF r !~ '^quorla[_@]' THEN
    RAISE EXCEPTION 'role % is no Quorla user''s', r USING ERRCODE = '42501';
  END IF;
  -- Another database's roles are that office's.
  IF must_exist AND (NOT EXISTS (SELECT FROM quorla_roles q WHERE q.rolename = r)
                     OR NOT EXISTS (SELECT FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid
                                JOIN pg_roles u ON u.oid = m.member
                                WHERE g.rolname = 'quorla-users' AND u.rolname = r AND NOT u.rolsuper)) THEN
    RAISE EXCEPTION 'role % is no Quorla user''s', r USING ERRCODE = '42501';
  END IF;
  -- A role that may create roles (the database's owner) is changed by
  -- nobody but itself: whoever could set its password would have its powers.
  IF must_exist AND r <> session_user AND EXISTS (SELECT FROM pg_roles WHERE rolname = r AND rolcreaterole) THEN
    RAISE EXCEPTION 'role % may create roles: only it changes itself', r USING ERRCODE = '42501';
  END IF;
)";

// @S@ stands for the schema of the tables, quoted.
const QByteArray InstallSql = R"SQL(
DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'quorla-users') THEN
    CREATE ROLE "quorla-users" NOLOGIN;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'quorla-admins') THEN
    CREATE ROLE "quorla-admins" NOLOGIN IN ROLE "quorla-users";
  END IF;
END $$;
CREATE TABLE IF NOT EXISTS quorla_roles (rolename name PRIMARY KEY, userkey text COLLATE "C" NOT NULL UNIQUE);
-- Beside each role its user's rights, as his record holds them (kept so by
-- the role functions and by a trigger on the users): the row policies ask
-- for the session's key and rights in one index probe.
ALTER TABLE quorla_roles ADD COLUMN IF NOT EXISTS rights integer NOT NULL DEFAULT 0;
-- "*" stands for every key in the policies: no role's user has it.
ALTER TABLE quorla_roles DROP CONSTRAINT IF EXISTS quorla_no_star;
ALTER TABLE quorla_roles ADD CONSTRAINT quorla_no_star CHECK (userkey <> '*');

CREATE OR REPLACE FUNCTION quorla_check_role(r name, must_exist boolean) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$ BEGIN @CHECK@ END $f$;

CREATE OR REPLACE FUNCTION quorla_role_create(r name, verifier text, userkey text, administrator boolean)
  RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE must_exist boolean := false;
BEGIN @CHECK@
  IF verifier IS NOT NULL AND verifier NOT LIKE 'SCRAM-SHA-256$%' THEN
    RAISE EXCEPTION 'a password reaches the server as its verifier only' USING ERRCODE = '22023';
  END IF;
  EXECUTE format('CREATE ROLE %I LOGIN PASSWORD %L IN ROLE "quorla-users"', r, verifier);
  IF administrator THEN EXECUTE format('GRANT "quorla-admins" TO %I', r); END IF;
  INSERT INTO quorla_roles (rolename, userkey, rights)
    VALUES (r, userkey, coalesce((SELECT u.q_rights FROM qlusers u WHERE u.pk = userkey), 0));
END $f$;

CREATE OR REPLACE FUNCTION quorla_role_change(r name, renamed name, verifier text, administrator boolean)
  RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE must_exist boolean := true;
BEGIN @CHECK@
  IF renamed <> r THEN
    IF renamed !~ '^quorla[_@]' THEN
      RAISE EXCEPTION 'role % is no Quorla user''s', renamed USING ERRCODE = '42501';
    END IF;
    EXECUTE format('ALTER ROLE %I RENAME TO %I', r, renamed);
    UPDATE quorla_roles SET rolename = renamed WHERE rolename = r;
    r := renamed;
  END IF;
  IF verifier IS NOT NULL THEN
    IF verifier NOT LIKE 'SCRAM-SHA-256$%' THEN
      RAISE EXCEPTION 'a password reaches the server as its verifier only' USING ERRCODE = '22023';
    END IF;
    EXECUTE format('ALTER ROLE %I PASSWORD %L', r, verifier);
  END IF;
  IF administrator THEN
    EXECUTE format('GRANT "quorla-admins" TO %I', r);
  ELSIF pg_has_role(r, 'quorla-admins', 'MEMBER') THEN
    EXECUTE format('REVOKE "quorla-admins" FROM %I', r);
  END IF;
END $f$;

CREATE OR REPLACE FUNCTION quorla_role_drop(r name) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
DECLARE must_exist boolean := true;
BEGIN @CHECK@
  EXECUTE format('REVOKE CONNECT ON DATABASE %I FROM %I', current_database(), r);
  EXECUTE format('DROP ROLE %I', r);
  DELETE FROM quorla_roles WHERE rolename = r;
END $f$;

REVOKE ALL ON FUNCTION quorla_check_role(name, boolean), quorla_role_create(name, text, text, boolean),
  quorla_role_change(name, name, text, boolean), quorla_role_drop(name) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION quorla_role_create(name, text, text, boolean),
  quorla_role_change(name, name, text, boolean), quorla_role_drop(name) TO "quorla-admins";

-- A user's rights follow his record to his role's row, whoever writes the
-- record (administrators only, by its policies).
CREATE OR REPLACE FUNCTION quorla_user_rights() RETURNS trigger
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$
BEGIN
  IF TG_OP <> 'INSERT' THEN
    UPDATE quorla_roles SET rights = 0 WHERE userkey = OLD.pk AND (TG_OP = 'DELETE' OR OLD.pk <> NEW.pk);
  END IF;
  IF TG_OP <> 'DELETE' THEN
    UPDATE quorla_roles SET rights = NEW.q_rights WHERE userkey = NEW.pk AND rights <> NEW.q_rights;
  END IF;
  RETURN NULL;
END $f$;
REVOKE ALL ON FUNCTION quorla_user_rights() FROM PUBLIC;
CREATE OR REPLACE TRIGGER quorla_rights AFTER INSERT OR UPDATE OR DELETE ON qlusers
  FOR EACH ROW EXECUTE FUNCTION quorla_user_rights();

-- The session's role, for the row policies' look-up of it in quorla_roles.
-- Its cost tells the planner that it is worth computing once: written in
-- the policy as it stands (current_user), the look-up is a sequential scan
-- computing the name anew for every role as soon as the table has been
-- analyzed. Neither SECURITY DEFINER nor given a search path: it must
-- answer the caller's role, and names nothing.
CREATE OR REPLACE FUNCTION quorla_session_role() RETURNS name LANGUAGE plpgsql STABLE COST 10000 AS
  $f$ BEGIN RETURN current_user; END $f$;

GRANT SELECT ON quorla_roles TO "quorla-users";
COMMENT ON TABLE quorla_roles IS 'Quorla users'' server roles, set-up @V@';
DO $$ BEGIN IF to_regclass('quorla_settings') IS NULL THEN
  CREATE TABLE quorla_settings (dataset integer NOT NULL, name text COLLATE "C" NOT NULL,
                                value text NOT NULL, PRIMARY KEY (dataset, name));
END IF; END $$;
GRANT SELECT, INSERT, UPDATE ON quorla_settings TO "quorla-users";
GRANT SELECT ON quorla_datasets TO "quorla-users";
GRANT UPDATE (changes, highkey, identity) ON quorla_datasets TO "quorla-users";
DO $$ DECLARE t text; BEGIN
  FOR t IN SELECT name FROM quorla_datasets LOOP
    EXECUTE format('GRANT SELECT, INSERT, UPDATE, DELETE ON %I TO "quorla-users"', t);
  END LOOP;
END $$;
)SQL";

// Who could read a trail record's entry (or series) when the record was
// written, kept beside the record by the server: the entry's private flag,
// owner and assignees (q_private, q_owner, q_assignees), and whether the
// entry is gone since (q_gone). Once an entry is deleted its row no longer
// tells who may read its records, its deletion's least of all: these
// columns do. A trigger fills them whatever the client sends: from the
// entry's row; for a record written after the row went (a deletion's, in
// the same transaction), from the subject's newest earlier record that has
// them, or, for an occurrence of a repeating event never recorded alone,
// from its series, whose link outlives the occurrence. (q_gone marks a
// record written after its subject went; deleting an entry no longer
// updates its older records: their readers are kept with each.) Set up once
// with the columns, the records already there take them from the entries
// and series still there.
// @S@ stands for the schema, quoted.
QByteArray TrailKeptSql(bool series)
{
    const QByteArray subject = TServerTrail::NewSubject();
    const QByteArray definer = TServerTrail::LookupFunction();
    const QByteArray kept = "NEW.q_private, NEW.q_owner, NEW.q_assignees";
    // The series links' index of entries: its values are the client's, so a
    // look-up by it checks the record's bytes as well.
    const QByteArray byEntry = "ix" + QByteArray::number(SeriesLinkRecord::EntryKeyIndex);
    const auto copy = [](const char* table, const char* alias) {
        return "UPDATE qltrail t SET q_private = " + QByteArray(alias) + ".q_private, q_owner = " + alias
            + ".q_owner, q_assignees = " + alias + ".q_assignees FROM " + table + " " + alias
            + " WHERE t.q_subject LIKE '" + (QByteArray(table) == "qldayent" ? "E" : "S") + "%' AND " + alias
            + ".pk = substring(t.q_subject from 2);";
    };
    QByteArray sql = R"SQL(
DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_attribute WHERE attrelid = 'qltrail'::regclass AND attname = 'q_gone'
                 AND NOT attisdropped) THEN
    ALTER TABLE qltrail ADD COLUMN q_gone boolean NOT NULL DEFAULT false, ADD COLUMN q_private boolean,
      ADD COLUMN q_owner text, ADD COLUMN q_assignees text[];
    )SQL" + copy("qldayent", "d") + (series ? copy("qlseries", "s") : QByteArray()) + R"SQL(
  END IF;
END $$;
CREATE OR REPLACE FUNCTION quorla_trail_kept() RETURNS trigger)SQL" + definer + R"SQL($f$
DECLARE
  subj text := encode()SQL" + subject + R"SQL(, 'escape');
  subj_key text := substring(subj from 2);
BEGIN
  NEW.q_private := NULL; NEW.q_owner := NULL; NEW.q_assignees := NULL; NEW.q_gone := false;
  IF subj LIKE 'E%' THEN
    SELECT d.q_private, d.q_owner, d.q_assignees INTO )SQL" + kept + R"SQL( FROM qldayent d WHERE d.pk = subj_key;
)SQL" + (series ? "  ELSIF subj LIKE 'S%' THEN\n    SELECT s.q_private, s.q_owner, s.q_assignees INTO " + kept
                  + " FROM qlseries s WHERE s.pk = subj_key;\n"
                : QByteArray()) + R"SQL(  ELSE
    RETURN NEW;
  END IF;
  IF FOUND THEN
    RETURN NEW;
  END IF;
  NEW.q_gone := true;
  )SQL" + TServerTrail::NewestWithFacts("t.q_private, t.q_owner, t.q_assignees", kept) + R"SQL(
)SQL";
    if (series)
        sql += "  IF NOT FOUND AND subj LIKE 'E%' THEN\n    SELECT s.q_private, s.q_owner, s.q_assignees INTO " + kept
            + " FROM qlserlnk l JOIN qlseries s ON s.pk = l.q_series\n      WHERE l." + byEntry
            + " = convert_to(subj_key, 'UTF8') AND " + keyAt(SeriesLinkRecord::EntryKeyOffset, "l.data")
            + " = subj_key LIMIT 1;\n  END IF;\n";
    sql += R"SQL(  RETURN NEW;
END $f$;
-- Deletions no longer mark their records: their readers are kept with each.
DROP TRIGGER IF EXISTS quorla_gone ON qldayent;
)SQL" + QByteArray(series ? "DROP TRIGGER IF EXISTS quorla_gone ON qlseries;\n" : "") + R"SQL(DROP FUNCTION IF EXISTS quorla_trail_gone();
REVOKE ALL ON FUNCTION quorla_trail_kept() FROM PUBLIC;
CREATE OR REPLACE TRIGGER quorla_kept BEFORE INSERT ON qltrail FOR EACH ROW EXECUTE FUNCTION quorla_trail_kept();
)SQL";
    return sql;
}

// The alarms' kept columns, added (and filled) when missing.
const QByteArray AlarmColumnsSql = R"SQL(
DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_attribute WHERE attrelid = 'qlalarms'::regclass AND attname = 'q_private'
                 AND NOT attisdropped) THEN
    ALTER TABLE qlalarms ADD COLUMN q_private boolean, ADD COLUMN q_owner text, ADD COLUMN q_assignees text[];
    UPDATE qlalarms a SET q_private = d.q_private, q_owner = d.q_owner, q_assignees = d.q_assignees
      FROM qldayent d WHERE d.pk = a.q_entry;
  END IF;
  IF NOT EXISTS (SELECT FROM pg_attribute WHERE attrelid = 'qlalarms'::regclass AND attname = 'q_role'
                 AND NOT attisdropped) THEN
    ALTER TABLE qlalarms ADD COLUMN q_role name;
    UPDATE qlalarms a SET q_role = r.rolename FROM quorla_roles r WHERE r.userkey = a.q_user;
  END IF;
END $$;)SQL";

// The triggers that call AlarmKeptSql's functions, and the alarms kept
// before, written again.
const QByteArray AlarmTriggersSql = R"SQL(CREATE OR REPLACE TRIGGER quorla_kept BEFORE INSERT OR UPDATE ON qlalarms FOR EACH ROW
  EXECUTE FUNCTION quorla_alarm_kept();
-- Alarms kept before an alarm carried only what its user may read, written
-- again (quorla_kept then keeps nothing of their entries).
UPDATE qlalarms a SET q_owner = NULL WHERE a.q_private AND NOT a.q_user = ANY (a.q_owner || a.q_assignees)
  AND NOT EXISTS (SELECT FROM quorla_roles r WHERE r.userkey = a.q_user AND r.rights & 2 <> 0);
CREATE OR REPLACE TRIGGER quorla_alarms_follow AFTER INSERT ON qldayent FOR EACH ROW
  EXECUTE FUNCTION quorla_alarm_follow();
CREATE OR REPLACE TRIGGER quorla_alarms_follow_change AFTER UPDATE ON qldayent FOR EACH ROW
  WHEN (OLD.q_private IS DISTINCT FROM NEW.q_private OR OLD.q_owner IS DISTINCT FROM NEW.q_owner
        OR OLD.q_assignees IS DISTINCT FROM NEW.q_assignees)
  EXECUTE FUNCTION quorla_alarm_follow();
CREATE OR REPLACE TRIGGER quorla_alarm_roles AFTER INSERT OR DELETE ON quorla_roles FOR EACH ROW
  EXECUTE FUNCTION quorla_alarm_role();
CREATE OR REPLACE TRIGGER quorla_alarm_roles_change AFTER UPDATE ON quorla_roles FOR EACH ROW
  WHEN (OLD.rolename IS DISTINCT FROM NEW.rolename OR OLD.userkey IS DISTINCT FROM NEW.userkey)
  EXECUTE FUNCTION quorla_alarm_role();
)SQL";

// Who may read an alarm's entry, kept on the alarm's row by the server: the
// entry's private flag, owner and assignees (q_private, q_owner,
// q_assignees), so that the alarms' policies test columns of their own row
// instead of looking the entry up. A look-up in a policy is set up by the
// server at every statement, whether it runs or not, which cost a person's
// alarm poll as much again as its own work; a column test costs nothing
// until it runs, and an alarm of a public entry never asks who the session
// is. The columns are filled from the entry's row on every write of the
// alarm, whatever the client sends (none when the entry is not there), and
// follow the entry's own in the statement that changes them. An alarm whose
// entry goes keeps them, as the entry's trail records do: it is read by
// whoever could read it then. Set up once with the columns, the alarms
// already there take them from their entries.
// Beside them the alarm's own user's role (q_role), so that a person's own
// alarms - all his poll reads - pass their policies by comparing a column
// with the session's role, and the session is not looked up at all: the
// look-up is most of what the policies cost a poll. It is filled from
// quorla_roles on every write of the alarm and follows the role when a role
// is made, renamed, given another user or dropped.
// @S@ stands for the schema, quoted; quorla_roles must exist.
QByteArray AlarmKeptSql()
{
    // The alarm's entry from its bytes: before a write, the server has not
    // computed its columns yet.
    const QByteArray entry = keyAt(AlarmRecord::DayEntryKeyOffset, "NEW.data");
    // The alarms' index of entries: its value is the entry's key, so a
    // look-up by it checks the column too.
    const QByteArray byEntry = "ix" + QByteArray::number(AlarmRecord::DayEntryKeyIndex);
    const QByteArray user = keyAt(AlarmRecord::UserKeyOffset, "NEW.data");
    // The alarms' index of users' alarms: its value is the user's key and
    // the alarm's time (AlarmRecord), so ":", after every digit, ends the
    // user's range.
    const QByteArray byUser = "ix" + QByteArray::number(AlarmRecord::UserAlarmIndex);
    const auto ofUser = [&](const char* row) {
        const QByteArray key = QByteArray(row) + ".userkey";
        return byUser + " >= convert_to(" + key + ", 'UTF8') AND " + byUser + " < convert_to(" + key
            + " || ':', 'UTF8') AND q_user = " + key;
    };
    const QByteArray definer = TServerTrail::LookupFunction();
    return AlarmColumnsSql + R"SQL(
CREATE OR REPLACE FUNCTION quorla_alarm_kept() RETURNS trigger)SQL" + definer + R"SQL($f$ BEGIN
  -- Only an entry the alarm's user may read: his own alarm on another
  -- one is as one on a missing entry, and tells him nothing of it.
  SELECT d.q_private, d.q_owner, d.q_assignees INTO NEW.q_private, NEW.q_owner, NEW.q_assignees
    FROM qldayent d WHERE d.pk = )SQL" + entry + R"SQL(
      AND (NOT d.q_private OR )SQL" + user + R"SQL( = ANY (d.q_owner || d.q_assignees)
           OR EXISTS (SELECT FROM quorla_roles r WHERE r.userkey = )SQL" + user + R"SQL( AND r.rights & 2 <> 0));
  IF NOT FOUND THEN
    NEW.q_private := NULL; NEW.q_owner := NULL; NEW.q_assignees := NULL;
  END IF;
  NEW.q_role := (SELECT r.rolename FROM quorla_roles r WHERE r.userkey = )SQL" + user + R"SQL();
  RETURN NEW;
END $f$;
CREATE OR REPLACE FUNCTION quorla_alarm_follow() RETURNS trigger)SQL" + definer + R"SQL($f$ BEGIN
  UPDATE qlalarms SET q_private = NEW.q_private, q_owner = NEW.q_owner, q_assignees = NEW.q_assignees
    WHERE )SQL" + byEntry + R"SQL( = convert_to(NEW.pk, 'UTF8') AND q_entry = NEW.pk;
  RETURN NULL;
END $f$;
-- A role's user's alarms written again (so quorla_alarm_kept names the role
-- they now have, or none): the old user's, and the new one's when the role
-- was made or given another user (a rename alone rewrites them once).
CREATE OR REPLACE FUNCTION quorla_alarm_role() RETURNS trigger)SQL" + definer + R"SQL($f$ BEGIN
  IF TG_OP <> 'INSERT' THEN
    UPDATE qlalarms SET q_role = NULL WHERE )SQL" + ofUser("OLD") + R"SQL(;
  END IF;
  IF TG_OP = 'INSERT' OR (TG_OP = 'UPDATE' AND NEW.userkey IS DISTINCT FROM OLD.userkey) THEN
    UPDATE qlalarms SET q_role = NULL WHERE )SQL" + ofUser("NEW") + R"SQL(;
  END IF;
  RETURN NULL;
END $f$;
REVOKE ALL ON FUNCTION quorla_alarm_kept(), quorla_alarm_follow(), quorla_alarm_role() FROM PUBLIC;
)SQL" + AlarmTriggersSql;
}

// The trail's columns the policies read and its triggers, for the schema
// `schema` (quoted).
QByteArray TrailSql(bool series, const QByteArray& schema)
{
    return "ALTER TABLE qltrail ADD COLUMN IF NOT EXISTS q_actor text GENERATED ALWAYS AS ("
        + keyAt(TrailRecord::UserKeyOffset) + ") STORED;"
        + "ALTER TABLE qltrail ADD COLUMN IF NOT EXISTS q_subject text GENERATED ALWAYS AS (encode(substring(data from "
        + QByteArray::number(TrailRecord::SubjectOffset + 1) + " for 11), 'escape')) STORED;"
        + QByteArray(TrailKeptSql(series) + TServerTrail::ReadersSql(series)).replace("@S@", schema);
}

// The statements of Policies, and the tests they share.
class TPolicyText
{
public:
    // What the session is, read in the statement itself (once a statement,
    // with its plan) by one index probe of its role's row: a function running
    // a query of its own would cost each statement more than its own work
    // (quorla_session_role() runs none). A statement's plan
    // holds every look-up of every policy that applies to it, and the server
    // sets each one up at every call, whether it runs or not: so a test
    // names the session once, and a table's reads pass one policy.
    static QByteArray session(const QByteArray& value)
    {
        return "(SELECT " + value + " FROM quorla_roles r WHERE r.rolename = quorla_session_role())";
    }
    // The session's key, or "*" (which no key is) when he holds any of
    // `rights`: compared with a row's keys and "*", one look-up answers
    // "his own row, or rights that let him past whoever's it is".
    static QByteArray keyOr(int rights)
    {
        return session("CASE WHEN r.rights & " + QByteArray::number(rights) + " <> 0 THEN '*' ELSE r.userkey END");
    }
    static QByteArray admin() { return session("r.rights & 2") + " <> 0"; }
    static QByteArray mayChange() { return keyOr(6) + " = ANY (ARRAY[q_owner, '*'])"; }
    // Whoever may change others' entries adds anyone's: an administrator's
    // poll grows every series, and a changed series' days are made anew as
    // its owner's (he may change any entry's owner anyway). Series alike.
    static QByteArray mayAdd()
    {
        return session("CASE WHEN r.rights & 6 <> 0 THEN '*' WHEN r.rights & 1 <> 0 THEN r.userkey END")
            + " = ANY (ARRAY[q_owner, '*'])";
    }
    // An entry (or series) not private, or the session its owner, one of
    // its assignees or an administrator; the column test first, so that a
    // public row never asks who the session is. (A function asking only for
    // a private row keeps the look-up out of the plan, but costs more per
    // private row than the look-up costs the statement: measured, not kept.)
    static QByteArray readable() { return "NOT q_private OR " + keyOr(2) + " = ANY (q_owner || q_assignees || '*'::text)"; }
    // A row's entry (or series) looked up under its key, one index probe a
    // row: "OFFSET 0" keeps the planner from turning the look-up into a
    // hashed subplan, which reads and hashes the whole table the first time
    // a batch meets a row that is not the person's own (a poll reading past
    // his alarms took 20 ms so).
    static QByteArray exists(const QByteArray& from, const QByteArray& where)
    {
        return "EXISTS (SELECT 1 FROM " + from + " WHERE " + where + " OFFSET 0)";
    }

    // Row security on for `name`, its policies dropped.
    void table(const QByteArray& name)
    {
        sql += "ALTER TABLE " + name + " ENABLE ROW LEVEL SECURITY;";
        for (const char* policy : {"quorla_read", "quorla_add", "quorla_change", "quorla_delete", "quorla_admin"})
            sql += "DROP POLICY IF EXISTS " + QByteArray(policy) + " ON " + name + ";";
    }
    void policy(const QByteArray& name, const QByteArray& on, const QByteArray& command, const QByteArray& usingRows,
                const QByteArray& checkRows)
    {
        sql += "CREATE POLICY " + name + " ON " + on + " FOR " + command + " TO \"quorla-users\"";
        if (!usingRows.isEmpty())
            sql += " USING (" + usingRows + ")";
        if (!checkRows.isEmpty())
            sql += " WITH CHECK (" + checkRows + ")";
        sql += ";";
    }
    // A table's reads pass its read policy or any policy of every command
    // (so one policy for all would add its test to every read): the writes'
    // policies name their commands. What may be changed may be read (the
    // right to change others' entries reads every alarm).
    void writes(const QByteArray& on, const QByteArray& rows)
    {
        policy("quorla_add", on, "INSERT", {}, rows);
        policy("quorla_change", on, "UPDATE", rows, rows);
        policy("quorla_delete", on, "DELETE", rows, {});
    }
    // An entry's table or the series': read by `readable`, added by whoever
    // may add it, changed and deleted by whoever may change it.
    void entries(const QByteArray& name)
    {
        table(name);
        policy("quorla_read", name, "SELECT", readable(), {});
        policy("quorla_add", name, "INSERT", {}, mayAdd());
        policy("quorla_change", name, "UPDATE", mayChange(), mayChange());
        policy("quorla_delete", name, "DELETE", mayChange(), {});
    }

    QByteArray sql;
};

// The users, the categories and the office's settings (its time zone): read
// by all, written by administrators. (The users' own policies read the
// rights beside the role: a policy of qlusers may not read qlusers.)
void SharedPolicies(TPolicyText& text)
{
    for (const QByteArray& name : {QByteArray("qlusers"), QByteArray("qlcat"), QByteArray("quorla_settings")}) {
        text.table(name);
        text.policy("quorla_read", name, "SELECT", "true", {});
        text.policy("quorla_admin", name, "ALL", TPolicyText::admin(), TPolicyText::admin());
    }
}

// An alarm is its own user's, and read by whoever reads its entry (the
// entry's readers kept on the alarm's row: AlarmKeptSql); the right to
// change others' entries reads and writes every alarm, the entry's owner
// writes its alarms. His own alarm is known by its role's name (q_role,
// kept), and else one look-up of the session, "*" for an administrator and
// "+" for that right; none for a public entry's alarm.
void AlarmPolicies(TPolicyText& text)
{
    text.table("qlalarms");
    const QByteArray alarmSession = TPolicyText::session(
        "CASE WHEN r.rights & 2 <> 0 THEN '*' WHEN r.rights & 4 <> 0 THEN '+' ELSE r.userkey END");
    text.policy("quorla_read", "qlalarms", "SELECT",
                "NOT q_private OR q_role = current_user OR " + alarmSession
                    + " = ANY (ARRAY[q_user, '*', '+'] || q_owner || q_assignees)",
                {});
    text.writes("qlalarms", "q_role = current_user OR " + alarmSession + " = ANY (ARRAY[q_user, q_owner, '*', '+'])");
}

// A repeating event's template is read and written as its occurrences are
// (its owner adds it); its links follow the template. A poll grows its
// user's own series, an administrator's every series (TAlarmPoller):
// occurrences are added as their owner's entries.
void SeriesPolicies(TPolicyText& text)
{
    text.entries("qlseries");
    text.table("qlserlnk");
    text.policy("quorla_read", "qlserlnk", "SELECT", TPolicyText::exists("qlseries s", "s.pk = q_series"), {});
    // (Every link that may be written may be read: its template is.)
    text.writes("qlserlnk", TPolicyText::exists("qlseries s", "s.pk = q_series AND " + TPolicyText::keyOr(6)
                                                                  + " = ANY (ARRAY[s.q_owner, '*'])"));
}

// An entry's or series' records are read by whoever could read the subject
// when they were written, as the server kept them beside each
// (TServerTrail): what became of the subject since - made public, deleted,
// its key taken - changes nothing. Also by the author and administrators,
// in one look-up of the session.
void TrailPolicies(TPolicyText& text)
{
    const QByteArray admin = TPolicyText::admin();
    const QByteArray keyOrAdmin = TPolicyText::keyOr(2);
    text.table("qltrail");
    text.policy("quorla_read", "qltrail", "SELECT", "q_readers IS NULL OR " + keyOrAdmin + " = ANY (q_readers || ARRAY[q_actor, '*'])",
                {});
    text.policy("quorla_add", "qltrail", "INSERT", {}, keyOrAdmin + " = ANY (ARRAY[q_actor, '*'])");
    text.policy("quorla_change", "qltrail", "UPDATE", admin, admin);
    // The trail's clean-up runs on every workstation: anyone may delete
    // what is older than the days kept (a day's slack for the clock's
    // zone: record times are local), only administrators the rest. The
    // days kept are read by a function running as the tables' owner: a
    // policy of the trail that read the trail itself would recurse.
    const QByteArray setting = "'" + QByteArray(TrailRecord::SettingKey.data(), TrailRecord::SettingKey.size()) + "'";
    text.sql += "CREATE OR REPLACE FUNCTION quorla_trail_days_kept() RETURNS bigint LANGUAGE sql STABLE SECURITY DEFINER"
                " SET search_path = pg_catalog, @S@, pg_temp AS $f$ SELECT greatest(1, coalesce((SELECT nullif("
        + keyAt(TrailRecord::KeyOffset) + ", '')::bigint FROM qltrail s WHERE s.pk = " + setting + "), "
        + QByteArray::number(TChangeTrail::DefaultDaysKept) + ")) $f$;"
          "REVOKE ALL ON FUNCTION quorla_trail_days_kept() FROM PUBLIC;"
          "GRANT EXECUTE ON FUNCTION quorla_trail_days_kept() TO \"quorla-users\";";
    const QByteArray old = "pk <> " + setting + " AND " + keyAt(TrailRecord::WhenOffset)
        + " < lpad((extract(epoch from now())::bigint + 86400 - 86400 * quorla_trail_days_kept())::text, 10, '0')";
    text.policy("quorla_delete", "qltrail", "DELETE", admin + " OR (" + old + ")", {});
}

// Alarm actions (snoozed, switched off) are read by their own user and
// administrators only, whoever reads their entry: a policy every read
// passes besides the others. (An action is the record's first four bytes, a
// little-endian number.)
void AlarmActionPolicy(TPolicyText& text)
{
    const auto action = [](TChangeTrail::Action code) {
        return "'\\x" + QByteArray::number(int(code), 16).rightJustified(2, '0') + "000000'::bytea";
    };
    text.sql += "DROP POLICY IF EXISTS quorla_alarm_actions ON qltrail;";
    text.policy("quorla_alarm_actions", "qltrail AS RESTRICTIVE", "SELECT",
                "substring(data from 1 for 4) NOT IN (" + action(TChangeTrail::Action::AlarmSnoozed) + ", "
                    + action(TChangeTrail::Action::AlarmSwitchedOff) + ") OR " + TPolicyText::keyOr(2)
                    + " = ANY (ARRAY[q_actor, '*'])",
                {});
}

// Row-level security: what each Quorla role may read and change, the
// program's own rules enforced by the server. The session is known by its
// role's row of quorla_roles: its user's key and rights (add entries 1,
// administer 2, change others' entries 4).
// An entry's row is readable when it is not private, or by its owner, its
// assignees and administrators; its alarms follow the entry, its trail
// records the entry as it was when they were written (an alarm is also its
// own user's, a trail record its author's).
// Entries are added by their owner with the right to add (by anyone with
// the right to change others' or to administer, as their owner's), changed and
// deleted by their owner or with the right to change others' entries (or to
// administer, which can give itself that right anyway). Users and categories
// and the office's settings are changed by administrators only.
QByteArray Policies(bool trail, bool series, bool importMap)
{
    TPolicyText text;
    SharedPolicies(text);
    text.entries("qldayent");
    AlarmPolicies(text);
    if (series)
        SeriesPolicies(text);
    // What an imported calendar's events became, and the names CalDAV
    // clients gave events (TClientNames): each user's own rows, which his
    // imports and his service session read and write; administrators all.
    if (importMap) {
        text.table("qlimport");
        const QByteArray own = TPolicyText::keyOr(2) + " = ANY (ARRAY[q_user, '*'])";
        text.policy("quorla_admin", "qlimport", "ALL", own, own);
    }
    if (trail) {
        TrailPolicies(text);
        AlarmActionPolicy(text);
    }
    // What the users' own policies called before their rights were kept
    // beside the roles.
    text.sql += "DROP FUNCTION IF EXISTS quorla_me(); DROP FUNCTION IF EXISTS quorla_rights();";
    return text.sql;
}

} // namespace

QString TServerRoles::RoleName(const QString& userName)
{
    return QStringLiteral("quorla_") + UserRecord::NameOf(userName).toLower();
}

QString TServerRoles::LocalRoleName(const QString& userName, const QString& database)
{
    // Role names hold 63 bytes: "quorla@", a tag of 20 at most, ":" and a
    // user name of about 10.
    static const QRegularExpression plain(QStringLiteral("^[a-z0-9_]{1,20}$"));
    const QString tag = plain.match(database).hasMatch()
        ? database
        : QString::fromLatin1(QCryptographicHash::hash(database.toUtf8(), QCryptographicHash::Md5).toHex().left(20));
    return QStringLiteral("quorla@") + tag + QLatin1Char(':') + UserRecord::NameOf(userName).toLower();
}

std::unique_ptr<TQuorlaDB> TServerRoles::LogIn(TServices services, const TDatabaseLocation& location,
                                               const QString& userName, TQuorlaDB::TLogin& login)
{
    const QString database = QString::fromUtf8(PostgresConnection::uriValue(location.Path().toUtf8(), "dbname"));
    login.role = RoleName(userName);
    try {
        return std::make_unique<TQuorlaDB>(services, location, login);
    } catch (const TQuorlaDB::ERefused&) {
        if (database.isEmpty())
            throw;
    }
    login.role = LocalRoleName(userName, database);
    return std::make_unique<TQuorlaDB>(services, location, login);
}

QString TServerRoles::newRole(const QString& userName)
{
    const QString role = RoleName(userName);
    const QByteArray taken = call("SELECT CASE WHEN EXISTS (SELECT FROM pg_roles WHERE rolname = $1::name)"
                                  " AND NOT EXISTS (SELECT FROM quorla_roles WHERE rolename = $1::name)"
                                  " THEN current_database()::text END",
                                  {role.toUtf8()});
    return taken.isEmpty() ? role : LocalRoleName(userName, QString::fromUtf8(taken));
}

QString TServerRoles::roleOf(const QString& userName)
{
    const QString role = RoleName(userName);
    // A database's local roles share its tag, which holds no ":".
    const QByteArray kept = call("SELECT rolename::text FROM quorla_roles WHERE rolename = $1::name OR (rolename LIKE 'quorla@%'"
                                 " AND substring(rolename from position(':' in rolename) + 1) = $2::text)"
                                 " ORDER BY rolename = $1::name DESC LIMIT 1",
                                 {role.toUtf8(), UserRecord::NameOf(userName).toLower().toUtf8()});
    return kept.isEmpty() ? role : QString::fromUtf8(kept);
}

TServerRoles::TServerRoles(TQuorlaDB& database)
    : database_(database), connection_(database.ServerConnection())
{
}

bool TServerRoles::Kept()
{
    return connection_ != nullptr && database_.KeepsRoles();
}

QByteArray TServerRoles::call(const QByteArray& sql, const QList<QByteArray>& params)
{
    std::vector<Param> list;
    for (const QByteArray& p : params)
        list.push_back(p.isNull() ? Param{nullptr, 0, false} : Param::text(p));
    connection_->beginCall();
    Result result;
    const int code = connection_->exec({}, sql, list.data(), int(list.size()), result);
    if (code != IsamOk)
        throw EQuorla(QStringLiteral("Unable to change the user's server role\r\r") + connection_->reason());
    return result.rows() > 0 ? result.bytes(0, 0) : QByteArray();
}

QByteArray TServerRoles::verifierOf(const QString& password, const QString& role)
{
    if (password.isEmpty())
        return {};
    const QByteArray made = connection_->verifier(password.toUtf8(), role.toUtf8());
    if (made.isEmpty())
        throw EQuorla(QStringLiteral("Unable to change the user's server role\r\r") + connection_->reason());
    return made;
}

namespace {

// Columns the row policies read, kept by the server from the record's bytes
// in the statement that writes them (a user's password is refused): the
// entries' and alarms', the series' where the database has them, and the
// import map's.
QByteArray PolicyColumnsSql(bool series, bool importMap)
{
    const QByteArray columns
        = "ALTER TABLE qlusers ADD COLUMN IF NOT EXISTS q_rights integer GENERATED ALWAYS AS (get_byte(data, "
        + QByteArray::number(UserRecord::RightsOffset) + ")) STORED;"
        + "ALTER TABLE qlusers DROP CONSTRAINT IF EXISTS quorla_no_password;"
        + "ALTER TABLE qlusers ADD CONSTRAINT quorla_no_password CHECK (get_byte(data, "
        + QByteArray::number(UserRecord::PasswordOffset) + ") = 0);"
        + "ALTER TABLE qldayent ADD COLUMN IF NOT EXISTS q_owner text GENERATED ALWAYS AS ("
        + keyAt(DayEntryRecord::OwnerKeyOffset) + ") STORED;"
        + "ALTER TABLE qldayent ADD COLUMN IF NOT EXISTS q_private boolean GENERATED ALWAYS AS ((get_byte(data, "
        + QByteArray::number(DayEntryRecord::FlagsOffset) + ") & " + QByteArray::number(DayEntryRecord::Private)
        + ") <> 0) STORED;"
        + "ALTER TABLE qldayent ADD COLUMN IF NOT EXISTS q_assignees text[] GENERATED ALWAYS AS (" + assigneesOf()
        + ") STORED;"
        + "ALTER TABLE qlalarms ADD COLUMN IF NOT EXISTS q_user text GENERATED ALWAYS AS ("
        + keyAt(AlarmRecord::UserKeyOffset) + ") STORED;"
        + "ALTER TABLE qlalarms ADD COLUMN IF NOT EXISTS q_entry text GENERATED ALWAYS AS ("
        + keyAt(AlarmRecord::DayEntryKeyOffset) + ") STORED;";
    const QByteArray seriesColumns = !series ? QByteArray()
        : "ALTER TABLE qlseries ADD COLUMN IF NOT EXISTS q_owner text GENERATED ALWAYS AS ("
            + keyAt(SeriesRecord::OwnerKeyOffset) + ") STORED;"
            + "ALTER TABLE qlseries ADD COLUMN IF NOT EXISTS q_private boolean GENERATED ALWAYS AS ((get_byte(data, "
            + QByteArray::number(SeriesRecord::FlagsOffset) + ") & " + QByteArray::number(SeriesRecord::Private)
            + ") <> 0) STORED;"
            + "ALTER TABLE qlseries ADD COLUMN IF NOT EXISTS q_assignees text[] GENERATED ALWAYS AS ("
            + assigneesOf(SeriesRecord::AssigneesOffset) + ") STORED;"
            + "ALTER TABLE qlserlnk ADD COLUMN IF NOT EXISTS q_series text GENERATED ALWAYS AS ("
            + keyAt(SeriesLinkRecord::OccurrenceOffset) + ") STORED;";
    const QByteArray importColumns = !importMap ? QByteArray()
        : "ALTER TABLE qlimport ADD COLUMN IF NOT EXISTS q_user text GENERATED ALWAYS AS ("
            + keyAt(ImportRecord::SourceOffset) + ") STORED;";
    return columns + seriesColumns + importColumns;
}

// The installing role made the administrator of `userKey` (none: left as
// it is), and every role's rights taken from its user's record (a set-up
// that kept none beside the roles, a role made before its record).
QByteArray InstallerSql(const QString& userKey)
{
    const QByteArray role = QByteArray("'") + QByteArray(userKey.toLatin1()).replace('\'', "") + "'";
    QByteArray me = userKey.isEmpty() ? QByteArray()
                                      : "INSERT INTO quorla_roles (rolename, userkey) VALUES (current_user, " + role
            + ") ON CONFLICT (rolename) DO UPDATE SET userkey = EXCLUDED.userkey;"
              "DO $$ BEGIN EXECUTE format('GRANT \"quorla-admins\", \"quorla-users\" TO %I', current_user); END $$;";
    const QByteArray rightsOf = "coalesce((SELECT u.q_rights FROM qlusers u WHERE u.pk = r.userkey), 0)";
    me += "UPDATE quorla_roles r SET rights = " + rightsOf + " WHERE r.rights <> " + rightsOf + ";";
    return me;
}

} // namespace

void TServerRoles::makeMissingDatasets()
{
    // The lock holder notes: a person's role cannot make them, and without
    // them a refused lock names nobody.
    database_.MakeHolderNotes();
    // The details, so that they have their policies before anyone writes
    // some.
    database_.MakeDetails();
    database_.MakeBin();
    // Resources and bookings, with the guard against overlaps.
    database_.MakeBookingDatasets();
}

void TServerRoles::Install(const QString& userKey)
{
    if (!connection_)
        return;
    connection_->beginCall();
    Result result;
    if (connection_->exec({}, "SELECT quote_ident(current_schema())", nullptr, 0, result) != IsamOk
        || result.rows() != 1)
        throw EQuorla(QStringLiteral("Unable to set up the users' server roles\r\r") + connection_->reason());
    const QByteArray schema = result.bytes(0, 0);
    QByteArray sql = InstallSql;
    sql.replace("@CHECK@", RoleCheck);
    sql.replace("@S@", schema);
    sql.replace("@V@", QByteArray::number(SetUpVersion));
    // Repeating events' datasets, where the database has them.
    const bool series = database_.Series() != nullptr;
    // The import map, made here where it is missing, so that it has its
    // rights and policies before a person imports.
    QString ignored;
    const bool importMap = database_.ImportMap(ignored) != nullptr;
    makeMissingDatasets();
    const QByteArray trail = database_.Trail().Available() ? TrailSql(series, schema) : QByteArray();
    const QByteArray freed = QByteArray(TServerTrail::FreedKeysSql(series, !trail.isEmpty())).replace("@S@", schema);
    const QByteArray alarmsKept = QByteArray(AlarmKeptSql()).replace("@S@", schema);
    const QByteArray checks = TServerChecks::Sql(*connection_, schema);
    if (checks.isEmpty())
        throw EQuorla(QStringLiteral("Unable to set up the users' server roles\r\r") + connection_->reason());
    const QByteArray me = InstallerSql(userKey);
    const bool outer = connection_->inTransaction();
    int code = outer ? IsamOk : connection_->command("BEGIN");
    if (code == IsamOk)
        code = connection_->command(PolicyColumnsSql(series, importMap) + trail + freed + sql + alarmsKept + checks
                                    + me + Policies(!trail.isEmpty(), series, importMap).replace("@S@", schema)
                                    + (database_.Details() ? TServerDetails::Sql(schema, series)
                                                                 + TServerBusy::Sql(schema, series)
                                                           : QByteArray())
                                    + (series ? TServerHidden::Sql(schema) : QByteArray())
                                    + (database_.Bin() ? TServerBin::Sql() : QByteArray())
                                    + (database_.Bookings() ? TServerBookings::Sql(schema, true, series) : QByteArray())
                                    + TRoleBounds::Sql(schema));
    if (code == IsamOk && importMap)
        adoptSharedNames(outer);
    if (code == IsamOk && !outer)
        code = connection_->command("COMMIT");
    if (code != IsamOk) {
        const QString reason = connection_->reason();
        if (!outer)
            connection_->rollback();
        throw EQuorla(QStringLiteral("Unable to set up the users' server roles\r\r") + reason);
    }
    database_.ForgetRoles();
}

bool TServerRoles::Upgrade()
{
    if (!Kept())
        return false;
    const auto fail = [this] {
        const QString reason = connection_->reason();
        connection_->rollback();
        throw EQuorla(QStringLiteral("Unable to set up the users' server roles\r\r") + reason);
    };
    // Whether the server holds an earlier set-up and this session may
    // change it; not known (the server away) counts as no: what the caller
    // does next fails in its own words.
    const auto due = [this] {
        Result result;
        return connection_->exec({},
                                 "SELECT coalesce(substring(obj_description(c.oid, 'pg_class') from 'set-up ([0-9]+)$')::int, 1) < "
                                     + QByteArray::number(SetUpVersion)
                                     + " AND pg_has_role(current_user, c.relowner, 'USAGE')"
                                       " FROM pg_class c WHERE c.oid = to_regclass('quorla_roles')",
                                 nullptr, 0, result)
            == IsamOk
            && result.rows() == 1 && result.number(0, 0) != 0;
    };
    connection_->beginCall();
    if (connection_->inTransaction() || !due())
        return false;
    // One session upgrades; one that waited for it finds it done.
    if (connection_->command("BEGIN; LOCK TABLE quorla_roles IN SHARE ROW EXCLUSIVE MODE") != IsamOk)
        fail();
    if (!due()) {
        connection_->rollback();
        return false;
    }
    try {
        Install({});
    } catch (const EQuorla&) {
        connection_->rollback();
        throw;
    }
    if (connection_->command("COMMIT") != IsamOk)
        fail();
    return true;
}

void TServerRoles::adoptSharedNames(bool outer)
{
    // As the tables' owner, whom no row policy stops, in the set-up's
    // transaction.
    try {
        TClientNames::AdoptShared(database_);
    } catch (const EQuorla& failure) {
        if (!outer)
            connection_->rollback();
        throw EQuorla(QStringLiteral("Unable to set up the users' server roles\r\r") + failure.message());
    }
}

TServerRoles::TAdopted TServerRoles::AdoptUsers()
{
    TAdopted adopted;
    if (!connection_)
        return adopted;
    const auto fail = [this](const QString& why) {
        const QString reason = why.isEmpty() ? connection_->reason() : why;
        connection_->rollback();
        throw EQuorla(QStringLiteral("Unable to make the users server roles\r\r") + reason);
    };
    connection_->beginCall();
    Result result;
    if (connection_->exec({}, "SELECT current_user, current_database()", nullptr, 0, result) != IsamOk
        || result.rows() != 1)
        fail({});
    const QString self = QString::fromUtf8(result.bytes(0, 0));
    const QString database = QString::fromUtf8(result.bytes(0, 1));
    if (connection_->command("BEGIN") != IsamOk)
        fail({});
    try {
        TXIsamFile& users = database_.Users();
        QList<std::pair<QString, UserRecord>> all;
        UserRecord user;
        TLookup::Each(users, user.bytes(), [&](const QString& key) { all.append({key, user}); });
        QString selfKey;
        for (const auto& [key, record] : all) {
            if (RoleName(record.UserName()) == self || LocalRoleName(record.UserName(), database) == self)
                selfKey = key;
            if (record.Password().isEmpty())
                continue;
            UserRecord blank = record;
            blank.setPassword(QString());
            if (!users.Update(blank.bytes(), key))
                fail(users.ErrorText());
        }
        Install(selfKey);
        // A role running this that is no user's (the tables' owner) makes
        // the roles as an administrator would; a superuser may anyway.
        if (selfKey.isEmpty()
            && connection_->command("DO $$ BEGIN IF NOT (SELECT rolsuper FROM pg_roles WHERE rolname = current_user) THEN"
                                    " EXECUTE format('GRANT \"quorla-admins\" TO %I', current_user); END IF; END $$")
                != IsamOk)
            fail({});
        for (const auto& [key, record] : all) {
            if (key == selfKey)
                continue;
            Create(record.UserName(), key, record.Password(), (record.Rights() & UserRecord::CanAdminister) != 0);
            ++adopted.roles;
            adopted.withoutPassword += record.Password().isEmpty() ? 1 : 0;
        }
    } catch (const EQuorla&) {
        connection_->rollback();
        throw;
    }
    if (connection_->command("COMMIT") != IsamOk)
        fail({});
    database_.ForgetRoles();
    return adopted;
}

void TServerRoles::Create(const QString& userName, const QString& key, const QString& password, bool administrator)
{
    const QString role = newRole(userName);
    const QByteArray verifier = verifierOf(password, role);
    call("SELECT quorla_role_create($1::name, $2::text, $3::text, $4::boolean)",
         {role.toUtf8(), verifier, key.toLatin1(), administrator ? "true" : "false"});
}

void TServerRoles::Change(const UserRecord& before, const UserRecord& after, const QString& password)
{
    const bool administrator = (after.Rights() & UserRecord::CanAdminister) != 0;
    const bool sameName = RoleName(before.UserName()) == RoleName(after.UserName());
    // Nothing of the role's changes: nothing to ask (nor to refuse).
    if (sameName && password.isEmpty() && administrator == ((before.Rights() & UserRecord::CanAdminister) != 0))
        return;
    const QString role = roleOf(before.UserName());
    const QString renamed = sameName ? role : newRole(after.UserName());
    const QByteArray verifier = verifierOf(password, renamed);
    call("SELECT quorla_role_change($1::name, $2::name, $3::text, $4::boolean)",
         {role.toUtf8(), renamed.toUtf8(), verifier, administrator ? "true" : "false"});
}

void TServerRoles::Drop(const QString& userName)
{
    call("SELECT quorla_role_drop($1::name)", {roleOf(userName).toUtf8()});
}

TServerRoles::TStep::TStep(TServerRoles& roles, bool always)
{
    if (!roles.connection_ || (!always && !roles.Kept()) || roles.connection_->inTransaction())
        return;
    roles.connection_->beginCall();
    if (roles.connection_->command("BEGIN") != IsamOk)
        throw EQuorla(QStringLiteral("Unable to change the user's server role\r\r") + roles.connection_->reason());
    connection_ = roles.connection_;
}

TServerRoles::TStep::~TStep()
{
    if (connection_)
        connection_->rollback();
}

void TServerRoles::TStep::Commit()
{
    if (!connection_)
        return;
    PostgresConnection* connection = connection_;
    connection_ = nullptr;
    connection->beginCall();
    if (connection->command("COMMIT") != IsamOk)
        throw EQuorla(QStringLiteral("Unable to change the user's server role\r\r") + connection->reason());
}
