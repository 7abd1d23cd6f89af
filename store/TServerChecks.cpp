#include "TServerChecks.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "IsamCode.h"
#include "IsamKeyRules.h"
#include "PostgresConnection.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TIsamFormat.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <vector>

namespace {

using Result = PostgresConnection::Result;

// What a field of a record must hold.
enum class Form {
    Keys,  // `count` keys in a row, each ten digits and a NUL, naming records of `dataset`
    Stamp, // a moment's key text: ten digits and a NUL
    Flags, // a 32-bit number of no bits but `count`'s
};

struct TField
{
    std::size_t offset;
    Form form;
    int count = 1;
    QLatin1StringView dataset = {};
};

struct TRule
{
    QLatin1StringView file;
    std::vector<TField> fields;
    // Beside the fields, in SQL of the row.
    QByteArray also = {};
};

QByteArray number(qint64 value)
{
    return QByteArray::number(value);
}

// The table that keeps the dataset of `file`.
QByteArray tableOf(QLatin1StringView file)
{
    QByteArray table = QByteArray(file.data(), file.size()).toLower();
    table.chop(4);
    return table;
}

// The `width` bytes at `offset` of the record in `data`.
QByteArray bytesAt(std::size_t offset, std::size_t width, const QByteArray& data = "data")
{
    return "substring(" + data + " from " + number(qint64(offset) + 1) + " for " + number(qint64(width)) + ")";
}

// The key at `offset` (ten digits) as text.
QByteArray keyAt(std::size_t offset, const QByteArray& data = "NEW.data")
{
    return "encode(" + bytesAt(offset, 10, data) + ", 'escape')";
}

constexpr std::size_t KeyWidth = 11;

// The records of the datasets that the program, and the server's policies,
// read by their fields.
const std::vector<TRule>& rules()
{
    const QLatin1StringView users = UserRecord::FileName;
    const QLatin1StringView categories{"QLCat.Ism"};
    const QLatin1StringView entries = DayEntryRecord::FileName;
    // An alarm's user-and-time index: its user's key, its time and a NUL.
    const QByteArray userAlarm = bytesAt(AlarmRecord::UserAlarmKeyOffset, AlarmRecord::UserAlarmKeyWidth) + " = "
        + bytesAt(AlarmRecord::UserKeyOffset, 10) + " || " + bytesAt(AlarmRecord::AlarmTimeOffset, 10)
        + " || '\\x00'::bytea";
    // The trail's setting record has no moment.
    const QByteArray trailMoment = "pk = '" + QByteArray(TrailRecord::SettingKey.data(), TrailRecord::SettingKey.size())
        + "'";
    static const std::vector<TRule> all{
        {users, {{UserRecord::RightsOffset, Form::Flags, UserRecord::CanAddEntries | UserRecord::CanAdminister
                                                             | UserRecord::CanModifyOthersEntries
                                                             | UserRecord::CanAddEntriesForOthers}}},
        {entries,
         {{DayEntryRecord::FlagsOffset, Form::Flags, DayEntryRecord::UnTimed | DayEntryRecord::Private},
          {DayEntryRecord::StartTimeOffset, Form::Stamp},
          {DayEntryRecord::OwnerKeyOffset, Form::Keys, 1, users},
          {DayEntryRecord::CategoryKeyOffset, Form::Keys, 1, categories},
          {DayEntryRecord::AssigneesOffset, Form::Keys, DayEntryRecord::MaxAssignees, users}}},
        {AlarmRecord::FileName,
         {{AlarmRecord::FlagsOffset, Form::Flags, AlarmRecord::AlarmWanted},
          {AlarmRecord::AlarmTimeOffset, Form::Stamp},
          {AlarmRecord::DayEntryKeyOffset, Form::Keys, 1, entries},
          {AlarmRecord::UserKeyOffset, Form::Keys, 1, users}},
         userAlarm},
        {SeriesRecord::FileName,
         {{SeriesRecord::FlagsOffset, Form::Flags,
           SeriesRecord::UnTimed | SeriesRecord::Private | SeriesRecord::AlarmWanted | SeriesRecord::AlarmsKept
               | SeriesRecord::SplitDone},
          {SeriesRecord::OwnerKeyOffset, Form::Keys, 1, users},
          {SeriesRecord::CategoryKeyOffset, Form::Keys, 1, categories},
          {SeriesRecord::AssigneesOffset, Form::Keys, SeriesRecord::MaxAssignees, users}}},
        {SeriesLinkRecord::FileName,
         {{SeriesLinkRecord::FlagsOffset, Form::Flags,
           SeriesLinkRecord::Exception | SeriesLinkRecord::Deleted | SeriesLinkRecord::Pending}}},
        {TrailRecord::FileName, {}, trailMoment + " OR encode(" + bytesAt(TrailRecord::WhenOffset, KeyWidth)
                                        + ", 'escape') ~ '^[0-9]{10}\\\\000$'"},
    };
    return all;
}

const TRule* ruleOf(const QByteArray& table)
{
    for (const TRule& rule : rules())
        if (tableOf(rule.file) == table)
            return &rule;
    return nullptr;
}

// The test of one field's form, in SQL of the row.
QByteArray formOf(const TField& field)
{
    if (field.form == Form::Flags)
        return "(get_byte(data, " + number(qint64(field.offset)) + ") & " + number(255 & ~field.count) + ") = 0 AND "
            + bytesAt(field.offset + 1, 3) + " = '\\x000000'::bytea";
    // In the escape encoding a NUL reads "\000".
    return "encode(" + bytesAt(field.offset, KeyWidth * std::size_t(field.count)) + ", 'escape') ~ '^([0-9]{10}\\\\000){"
        + number(field.count) + "}$'";
}

// An index column's value from the record: a text field up to its first NUL,
// a number field's bytes as stored (TIsamFormat::indexValue).
QByteArray indexValueOf(const TIsamFormat::Field& field)
{
    const QByteArray bytes = bytesAt(field.offset, field.width);
    if (!field.text)
        return bytes;
    return "substring(" + bytes + " from 1 for coalesce(nullif(position('\\x00'::bytea in " + bytes + "), 0) - 1, "
        + number(qint64(field.width)) + "))";
}

// The row check of a dataset: its record's length, its key's form, its
// index columns, and its fields' forms where the program reads them.
QByteArray recordCheck(const QByteArray& table, int keyLength, const TIsamFormat& format)
{
    QByteArray check = "octet_length(data) = " + number(qint64(format.recordSize())) + " AND pk ~ '^[0-9]{"
        + number(keyLength) + "}$'";
    for (int index : format.indexes())
        check += " AND " + IsamKeyRules::column(index) + " = "
            + indexValueOf(format.fields()[std::size_t(index - 1)]);
    if (const TRule* rule = ruleOf(table)) {
        for (const TField& field : rule->fields)
            check += " AND " + formOf(field);
        if (!rule->also.isEmpty())
            check += " AND (" + rule->also + ")";
    }
    return "ALTER TABLE " + table + " DROP CONSTRAINT IF EXISTS quorla_record; ALTER TABLE " + table
        + " ADD CONSTRAINT quorla_record CHECK (" + check + ") NOT VALID;";
}

// The largest of the keys of `field`.
QByteArray largestKey(const TField& field)
{
    QByteArray keys;
    for (int slot = 0; slot < field.count; ++slot)
        keys += (slot ? ", " : "") + keyAt(field.offset + std::size_t(slot) * KeyWidth);
    return field.count == 1 ? keys : "greatest(" + keys + ")";
}

// The trigger that refuses a row under, or naming, a key its dataset has
// not handed out: beyond the dataset's mark (which a workstation moves in
// the statement that adds, before the row is written). A mark an older
// program left empty bounds nothing.
QByteArray keysCheck(const QByteArray& table)
{
    QByteArray beyond = "(d.name = '" + table + "' AND NEW.pk > d.highkey)";
    if (const TRule* rule = ruleOf(table))
        for (const TField& field : rule->fields)
            if (field.form == Form::Keys)
                beyond += " OR (d.name = '" + tableOf(field.dataset) + "' AND " + largestKey(field) + " > d.highkey)";
    const QByteArray function = "quorla_keys_" + table;
    return "CREATE OR REPLACE FUNCTION " + function
        + "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, @S@, pg_temp AS $f$ BEGIN"
          " IF EXISTS (SELECT FROM quorla_datasets d WHERE d.highkey <> '' AND ("
        + beyond
        + ")) THEN RAISE EXCEPTION 'row % of % names a key the server has not handed out', NEW.pk, TG_TABLE_NAME"
          " USING ERRCODE = '23514'; END IF; RETURN NEW; END $f$;"
          "REVOKE ALL ON FUNCTION "
        + function + "() FROM PUBLIC; CREATE OR REPLACE TRIGGER quorla_keys BEFORE INSERT OR UPDATE OF pk, data ON " + table
        + " FOR EACH ROW EXECUTE FUNCTION " + function + "();";
}

// The datasets' counters: what a workstation's statements do to them, and
// nothing else (the tables' owner excepted).
QByteArray countersCheck()
{
    return R"SQL(
CREATE OR REPLACE FUNCTION quorla_counters_moved() RETURNS trigger
  LANGUAGE plpgsql SET search_path = pg_catalog, @S@, pg_temp AS $f$ BEGIN
  IF (NEW.name, NEW.id, NEW.keylength, NEW.format) IS NOT DISTINCT FROM (OLD.name, OLD.id, OLD.keylength, OLD.format)
     AND NEW.changes - OLD.changes IN (0, 1)
     AND (OLD.identity IS NULL OR NEW.identity IS NOT DISTINCT FROM OLD.identity)
     AND coalesce(octet_length(NEW.identity), 0) <= 64
     AND (NEW.highkey = OLD.highkey
          OR (NEW.highkey ~ ('^[0-9]{' || OLD.keylength || '}$')
              AND (OLD.highkey = '' OR (NEW.highkey > OLD.highkey
                                        AND NEW.highkey::numeric - OLD.highkey::numeric <= @STEP@)))) THEN
    RETURN NEW;
  END IF;
  IF pg_has_role(session_user, (SELECT c.relowner FROM pg_class c WHERE c.oid = TG_RELID), 'USAGE') THEN
    RETURN NEW;
  END IF;
  RAISE EXCEPTION 'the counters of dataset % are the server''s: a key mark moves up by at most @STEP@ keys, the count of changes by one, an identity is made once', OLD.name
    USING ERRCODE = '42501';
END $f$;
CREATE OR REPLACE TRIGGER quorla_counters BEFORE UPDATE ON quorla_datasets FOR EACH ROW
  EXECUTE FUNCTION quorla_counters_moved();
DO $$ BEGIN IF to_regclass('quorla_settings') IS NOT NULL THEN
  ALTER TABLE quorla_settings DROP CONSTRAINT IF EXISTS quorla_record;
  ALTER TABLE quorla_settings ADD CONSTRAINT quorla_record
    CHECK (octet_length(name) <= 256 AND octet_length(value) <= @SETTING@) NOT VALID;
END IF; END $$;
)SQL";
}

} // namespace

QByteArray TServerChecks::Sql(PostgresConnection& connection, const QByteArray& schema)
{
    connection.beginCall();
    Result result;
    if (connection.exec({}, "SELECT name, keylength, format FROM quorla_datasets WHERE to_regclass(name) IS NOT NULL",
                        nullptr, 0, result)
        != IsamOk)
        return {};
    QByteArray sql = countersCheck();
    for (int row = 0; row < result.rows(); ++row) {
        const QByteArray table = result.bytes(row, 0);
        TIsamFormat format;
        if (!format.parse(QString::fromUtf8(result.bytes(row, 2))))
            continue;
        sql += recordCheck(table, int(result.number(row, 1)), format) + keysCheck(table);
    }
    return sql.replace("@S@", schema)
        .replace("@STEP@", number(MarkStep))
        .replace("@SETTING@", number(MaxSettingBytes));
}
