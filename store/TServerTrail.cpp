#include "TServerTrail.h"

#include "TrailRecord.h"

#include <QList>

namespace {

const QByteArray Definer = TServerTrail::LookupFunction();

// The datasets whose freed keys are kept, with their trail subjects' letter.
struct TKeyed
{
    const char* table;
    const char* letter;
};

QList<TKeyed> keyed(bool series)
{
    QList<TKeyed> all{{"qldayent", "E"}};
    if (series)
        all.append(TKeyed{"qlseries", "S"});
    return all;
}

// Who read both sides of a change, from each side's privacy and readers
// (owner and assignees); a side not known is NULL. NULL answers "everybody".
const QByteArray ReadersFunction = R"SQL(
CREATE OR REPLACE FUNCTION quorla_trail_readers(was_private boolean, was_readers text[],
                                                is_private boolean, is_readers text[])
  RETURNS text[] LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
  SELECT CASE
    WHEN was_private IS NULL AND is_private IS NULL THEN '{}'::text[]
    WHEN NOT coalesce(was_private, false) AND NOT coalesce(is_private, false) THEN NULL
    WHEN NOT coalesce(was_private, false) THEN coalesce(is_readers, '{}')
    WHEN NOT coalesce(is_private, false) THEN coalesce(was_readers, '{}')
    ELSE ARRAY(SELECT unnest(was_readers) INTERSECT SELECT unnest(is_readers)) END $f$;
)SQL";

} // namespace

QByteArray TServerTrail::ReadersSql(bool series)
{
    const QByteArray subject = NewSubject();
    const QByteArray kinds = series ? "('E', 'S')" : "('E')";
    const QByteArray marked = "substring(t.data from " + QByteArray::number(TrailRecord::SummaryOffset + 1)
        + " for 7) = 'private'::bytea";
    return ReadersFunction + R"SQL(
DO $$ BEGIN
  IF NOT EXISTS (SELECT FROM pg_attribute WHERE attrelid = 'qltrail'::regclass AND attname = 'q_readers'
                 AND NOT attisdropped) THEN
    ALTER TABLE qltrail ADD COLUMN q_readers text[];
    UPDATE qltrail t SET q_readers = CASE WHEN r.readers IS NULL AND )SQL" + marked + R"SQL( THEN '{}' ELSE r.readers END
      FROM (SELECT pk, quorla_trail_readers(lag(q_private) OVER w, lag(q_owner || q_assignees) OVER w,
                                            q_private, q_owner || q_assignees) AS readers
            FROM qltrail WHERE left(q_subject, 1) IN )SQL" + kinds + R"SQL(
            WINDOW w AS (PARTITION BY q_subject ORDER BY pk)) r
      WHERE t.pk = r.pk;
  END IF;
END $$;
CREATE OR REPLACE FUNCTION quorla_trail_readers_kept() RETURNS trigger)SQL" + Definer + R"SQL($f$
DECLARE
  subj text := encode()SQL" + subject + R"SQL(, 'escape');
  was_private boolean;
  was_readers text[];
BEGIN
  NEW.q_readers := NULL;
  IF left(subj, 1) NOT IN )SQL" + kinds + R"SQL( THEN
    RETURN NEW;
  END IF;
  )SQL" + NewestWithFacts("t.q_private, t.q_owner || t.q_assignees", "was_private, was_readers") + R"SQL(
  NEW.q_readers := quorla_trail_readers(was_private, was_readers, NEW.q_private, NEW.q_owner || NEW.q_assignees);
  RETURN NEW;
END $f$;
REVOKE ALL ON FUNCTION quorla_trail_readers_kept() FROM PUBLIC;
-- After quorla_kept (triggers of one event run in the order of their names),
-- whose facts it reads.
CREATE OR REPLACE TRIGGER quorla_readers BEFORE INSERT ON qltrail FOR EACH ROW
  EXECUTE FUNCTION quorla_trail_readers_kept();
)SQL";
}

QByteArray TServerTrail::FreedKeysSql(bool series, bool trail)
{
    QByteArray seed;
    QByteArray triggers;
    for (const TKeyed& k : keyed(series)) {
        const QByteArray table(k.table);
        const QByteArray letter(k.letter);
        if (trail)
            seed += "    INSERT INTO quorla_freed (dataset, pk) SELECT DISTINCT '" + table + "', substring(t.q_subject from 2)"
                " FROM qltrail t WHERE t.q_subject LIKE '" + letter + "%' AND NOT EXISTS (SELECT FROM " + table
                + " x WHERE x.pk = substring(t.q_subject from 2)) ON CONFLICT DO NOTHING;\n"
                  // The mark of the largest key held goes past them, so that
                  // no workstation is handed one (a mark an older program
                  // left empty stands for the largest key there).
                  "    UPDATE quorla_datasets SET highkey = greatest(highkey, (SELECT max(pk) FROM quorla_freed WHERE dataset = '"
                + table + "'), CASE WHEN highkey = '' THEN (SELECT max(pk) FROM " + table + ") END) WHERE name = '" + table
                + "' AND EXISTS (SELECT FROM quorla_freed WHERE dataset = '" + table + "');\n";
        triggers += "CREATE OR REPLACE TRIGGER quorla_key_unused BEFORE INSERT ON " + table
            + " FOR EACH ROW EXECUTE FUNCTION quorla_key_unused();\n"
              "CREATE OR REPLACE TRIGGER quorla_key_unused_change BEFORE UPDATE OF pk ON " + table
            + " FOR EACH ROW WHEN (OLD.pk IS DISTINCT FROM NEW.pk) EXECUTE FUNCTION quorla_key_unused();\n"
              "CREATE OR REPLACE TRIGGER quorla_key_freed AFTER DELETE ON " + table
            + " FOR EACH ROW EXECUTE FUNCTION quorla_key_freed();\n"
              "CREATE OR REPLACE TRIGGER quorla_key_freed_change AFTER UPDATE OF pk ON " + table
            + " FOR EACH ROW WHEN (OLD.pk IS DISTINCT FROM NEW.pk) EXECUTE FUNCTION quorla_key_freed();\n";
    }
    return R"SQL(
DO $$ BEGIN
  IF to_regclass('quorla_freed') IS NULL THEN
    CREATE TABLE quorla_freed (dataset name NOT NULL, pk text COLLATE "C" NOT NULL, PRIMARY KEY (dataset, pk));
)SQL" + seed + R"SQL(  END IF;
END $$;
CREATE OR REPLACE FUNCTION quorla_key_freed() RETURNS trigger)SQL" + Definer + R"SQL($f$ BEGIN
  INSERT INTO quorla_freed (dataset, pk) VALUES (TG_TABLE_NAME, OLD.pk) ON CONFLICT DO NOTHING;
  RETURN NULL;
END $f$;
CREATE OR REPLACE FUNCTION quorla_key_unused() RETURNS trigger)SQL" + Definer + R"SQL($f$ BEGIN
  IF EXISTS (SELECT FROM quorla_freed WHERE dataset = TG_TABLE_NAME AND pk = NEW.pk) THEN
    RAISE EXCEPTION 'key % of % belonged to a record since deleted and is never used again', NEW.pk, TG_TABLE_NAME
      USING ERRCODE = '23505';
  END IF;
  RETURN NEW;
END $f$;
REVOKE ALL ON FUNCTION quorla_key_freed(), quorla_key_unused() FROM PUBLIC;
)SQL" + triggers;
}

QByteArray TServerTrail::LookupFunction()
{
    return " LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp SET enable_seqscan = off"
           " SET enable_bitmapscan = off AS ";
}

QByteArray TServerTrail::NewestWithFacts(const QByteArray& columns, const QByteArray& into)
{
    const QByteArray subject = NewSubject();
    const QByteArray bySubject = "t.ix" + QByteArray::number(TrailRecord::SubjectIndex);
    // The index's value is the client's, so the subject's column is checked too.
    return "SELECT " + columns + " INTO " + into + " FROM qltrail t WHERE " + bySubject + " >= " + subject + " AND "
        + bySubject + " <= " + subject + " AND t.q_subject = subj AND t.q_private IS NOT NULL ORDER BY " + bySubject
        + " DESC, t.pk DESC LIMIT 1;";
}

QByteArray TServerTrail::NewSubject()
{
    return "substring(NEW.data from " + QByteArray::number(TrailRecord::SubjectOffset + 1) + " for 11)";
}
