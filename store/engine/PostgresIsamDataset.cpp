#include "PostgresIsamDataset.h"

#include "IsamCode.h"
#include "IsamKeyRules.h"

#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr qint64 KeysPerDataset = 10'000'000'000;
// Rows of a range read's first statement, and of its later chunks at most: a
// day or a week comes in one round trip, a year in a few dozen.
constexpr int RangeChunkFirst = 256;
constexpr int RangeChunkMost = 16384;
// Records of an InsertAll sent in one statement: a copy's batch.
constexpr qsizetype InsertsPerStatement = 500;

// The arrays of a statement for many records, parameters 2 to `end` (the
// records, then each index's values): each appended after ", " to `arrays`
// as a parameter and to `columns` as the unnest's column naming it (v.c2...).
void recordArrays(int end, QByteArray& arrays, QByteArray& columns)
{
    for (int p = 2; p < end; ++p) {
        arrays += ", $" + QByteArray::number(p) + "::bytea[]";
        columns += ", v.c" + QByteArray::number(p);
    }
}

} // namespace

PostgresIsamDataset::PostgresIsamDataset(std::shared_ptr<PostgresConnection> connection, QByteArray table, int id,
                                         TIsamFormat format, int keyLength)
    : connection_(std::move(connection)), table_(std::move(table)), id_(id), format_(std::move(format)),
      keyLength_(keyLength), cursor_(format_.recordSize(), keyLength)
{
}

PostgresIsamDataset::~PostgresIsamDataset()
{
    close();
}

IsamCode PostgresIsamDataset::close()
{
    if (!connection_)
        return IsamOk;
    connection_->beginCall();
    // The locks go with this object, not with the session it shares.
    auto& held = connection_->locks();
    QByteArray numbers;
    for (auto it = held.begin(); it != held.end();) {
        if (it->second == this) {
            numbers += (numbers.isEmpty() ? "" : ",") + QByteArray::number(it->first);
            it = held.erase(it);
        } else {
            ++it;
        }
    }
    if (!numbers.isEmpty()) {
        // A session lost meanwhile has released them already.
        const QByteArray array = "{" + numbers + "}";
        Result result;
        run(StmtUnlockAll, 0, {Param::text(array)}, result);
    }
    connection_.reset();
    cursor_.drop();
    return IsamOk;
}

IsamCode PostgresIsamDataset::readable(int index, std::span<char> record)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    if (!validIndex(index) || record.size() != format_.recordSize())
        return IsamBadParameter;
    return IsamOk;
}

bool PostgresIsamDataset::validIndex(int index) const
{
    return index == 0 || format_.isIndex(index);
}

bool PostgresIsamDataset::validKey(const QByteArray& key, qint64* number) const
{
    return IsamKeyRules::validKey(key, keyLength_, number);
}

bool PostgresIsamDataset::textKey(const QByteArray& key)
{
    return std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

qint64 PostgresIsamDataset::lockNumber(qint64 key) const
{
    return qint64(id_) * KeysPerDataset + key;
}

QByteArray PostgresIsamDataset::movedMark(const QByteArray& last, const QByteArray& id) const
{
    // The keys of the dataset's length used up: no row, and nothing added.
    const QByteArray limit = "1" + QByteArray(keyLength_, '0');
    return "WITH m AS (UPDATE quorla_datasets SET changes = changes + 1, highkey = lpad(" + last + "::text, "
        + QByteArray::number(keyLength_) + ", '0') WHERE id = " + id + " AND " + last + " < " + limit
        + " RETURNING highkey),";
}

QByteArray PostgresIsamDataset::largestKey() const
{
    // The largest key ever held: the mark, which every add moves in its own
    // statement and every dataset made here has from the start. Only a mark
    // left empty by an older program asks the table; so no statement scans
    // it, which under row policies (where the largest key a person sees is
    // not the largest there is) would mean reading every row.
    return "CASE WHEN highkey <> '' THEN highkey ELSE coalesce((SELECT max(pk) FROM " + table_ + "), '') END";
}

QByteArray PostgresIsamDataset::legacyMark() const
{
    // What an empty mark is first raised past.
    return "CASE WHEN highkey = '' THEN (SELECT max(pk) FROM " + table_ + ") END";
}

QByteArray PostgresIsamDataset::sql(Statement which, int index) const
{
    switch (which) {
    case StmtEqual:
    case StmtNext:
    case StmtNextBelow:
    case StmtNextAtMost:
    case StmtRangeFirst:
    case StmtAmong:
        return readSql(which, index);
    case StmtInsert:
    case StmtAdd:
    case StmtAddMany:
    case StmtInsertMany:
        return addSql(which);
    case StmtUpdate:
    case StmtDelete:
    case StmtClear:
        return changeSql(which, index);
    default:
        return catalogSql(which);
    }
}

QByteArray PostgresIsamDataset::readSql(Statement which, int index) const
{
    const QByteArray col = IsamKeyRules::column(index);
    const QByteArray valueColumn = index == 0 ? QByteArray() : ", " + col;
    const QByteArray select = "SELECT pk, data" + valueColumn + " FROM " + table_ + " WHERE ";
    const QByteArray order = " ORDER BY " + col + (index == 0 ? QByteArray() : QByteArray(", pk"));
    const QByteArray valueType = index == 0 ? "text COLLATE \"C\"" : "bytea";
    switch (which) {
    case StmtEqual:
        return index == 0 ? select + "pk = $1::text COLLATE \"C\""
                          : select + col + " >= $1::bytea" + order + " LIMIT $2::int8";
    case StmtRangeFirst:
        return select + col + " >= $1::" + valueType + " AND " + col + " <= $2::" + valueType + order
            + " LIMIT $3::int8";
    case StmtAmong:
        return select + col + " = ANY($1::" + (index == 0 ? QByteArray("text[]") : QByteArray("bytea[]")) + ")" + order;
    default: {
        QByteArray where = index == 0 ? "pk > $1::text COLLATE \"C\""
                                      : "(" + col + ", pk) > ($1::bytea, $2::text COLLATE \"C\")";
        int p = index == 0 ? 2 : 3;
        if (which != StmtNext)
            where += " AND " + col + (which == StmtNextBelow ? " < $" : " <= $") + QByteArray::number(p++) + "::"
                + valueType;
        return select + where + order + " LIMIT $" + QByteArray::number(p) + "::int8";
    }
    }
}

QByteArray PostgresIsamDataset::addSql(Statement which) const
{
    const QByteArray id = QByteArray::number(id_);
    QByteArray names = "pk, data";
    QByteArray values;
    int n = 3;
    for (int ix : format_.indexes()) {
        names += ", " + IsamKeyRules::column(ix);
        values += ", $" + QByteArray::number(n++) + "::bytea";
    }
    if (which == StmtInsert) {
        // The mark of the largest key ever held moves with the add, so a key
        // freed later by a delete is never handed out again.
        return "WITH m AS (UPDATE quorla_datasets SET changes = changes + 1,"
               " highkey = greatest(highkey, $1::text COLLATE \"C\", " + legacyMark() + ") WHERE id = " + id + " RETURNING id),"
               " w AS (INSERT INTO " + table_ + " (" + names + ") SELECT $1::text, $2::bytea" + values
            + " FROM m RETURNING pk) SELECT count(*) FROM w";
    }
    if (which == StmtAdd) {
        // The next key from the mark as it stands once this statement holds
        // the row: a concurrent add that held it before has moved it.
        const QByteArray next = "(coalesce(nullif(" + largestKey() + ", ''), '0')::int8 + 1)";
        // Shifted by one: the key is not a parameter here.
        QByteArray shifted;
        for (int p = 3; p < n; ++p)
            shifted += ", $" + QByteArray::number(p - 1) + "::bytea";
        return movedMark(next, id) + " w AS (INSERT INTO " + table_ + " (" + names + ") SELECT m.highkey, $1::bytea"
            + shifted + " FROM m RETURNING pk) SELECT pk FROM w";
    }
    if (which == StmtInsertMany) {
        // As StmtInsert for many records, each column an array ($1 the
        // keys): the mark and the counter move once for all of them. A copy
        // adds its records so; one statement a record would leave a version
        // of the catalog's row per record, and every command reads them all.
        QByteArray arrays = "$1::text[]";
        QByteArray columns = "v.c1";
        recordArrays(n, arrays, columns);
        return "WITH m AS (UPDATE quorla_datasets SET changes = changes + 1, highkey = greatest(highkey,"
               " (SELECT max(k COLLATE \"C\") FROM unnest($1::text[]) k), " + legacyMark() + ") WHERE id = " + id
            + " RETURNING id), w AS (INSERT INTO " + table_ + " (" + names + ") SELECT " + columns + " FROM m, unnest("
            + arrays + ") AS v(" + QByteArray(columns).replace("v.", "") + ") RETURNING pk) SELECT count(*) FROM w";
    }
    // As StmtAdd for $1 records at once, each column an array ($2 the
    // records, then each index's values): the mark moves past all of them
    // and the counter once, and the keys follow each other in the
    // arrays' order. Answers the last key and the rows added.
    const QByteArray last = "(coalesce(nullif(" + largestKey() + ", ''), '0')::int8 + $1::int8)";
    QByteArray arrays;
    QByteArray columns;
    recordArrays(n, arrays, columns);
    return movedMark(last, id) + " w AS (INSERT INTO " + table_ + " (" + names + ") SELECT lpad((m.highkey::int8 - $1::int8 + v.n)::text, "
        + QByteArray::number(keyLength_) + ", '0')" + columns + " FROM m, unnest(" + arrays.mid(2)
        + ") WITH ORDINALITY AS v(" + columns.mid(2).replace("v.", "") + ", n) RETURNING pk)"
        + " SELECT m.highkey, (SELECT count(*) FROM w) FROM m";
}

QByteArray PostgresIsamDataset::changeSql(Statement which, int index) const
{
    const QByteArray id = QByteArray::number(id_);
    // Every write moves the dataset's counter in the same statement, and so in
    // the same transaction. Every write first locks the dataset's row of the
    // catalog, so that writers of one dataset take their locks in one order
    // and never deadlock; adds move the mark of the largest key there too.
    const QByteArray lockCatalog = "WITH l AS (SELECT id FROM quorla_datasets WHERE id = " + id + " FOR UPDATE), ";
    const QByteArray count = ", m AS (UPDATE quorla_datasets SET changes = changes + 1 WHERE id = " + id
        + " AND EXISTS (SELECT 1 FROM w)) SELECT count(*) FROM w";
    if (which == StmtUpdate) {
        QByteArray sets = "data = $2::bytea";
        int n = 3;
        for (int ix : format_.indexes())
            sets += ", " + IsamKeyRules::column(ix) + " = $" + QByteArray::number(n++) + "::bytea";
        return lockCatalog + "w AS (UPDATE " + table_ + " SET " + sets
            + " WHERE pk = $1::text AND EXISTS (SELECT 1 FROM l) RETURNING pk)" + count;
    }
    const QByteArray rows = which == StmtDelete ? "pk = $1::text" : IsamKeyRules::column(index) + " = $1::bytea";
    if (marksRemovals_.value_or(false))
        return lockCatalog + "w AS (UPDATE " + table_ + " SET q_drop = true WHERE " + rows
            + " AND EXISTS (SELECT 1 FROM l) RETURNING pk)" + count;
    return lockCatalog + "w AS (DELETE FROM " + table_ + " WHERE " + rows
        + " AND EXISTS (SELECT 1 FROM l) RETURNING pk)" + count;
}

QByteArray PostgresIsamDataset::catalogSql(Statement which) const
{
    const QByteArray id = QByteArray::number(id_);
    switch (which) {
    case StmtNextKey:
        // Keys are digit texts of one length, so text order is number order.
        return "SELECT " + largestKey() + " FROM quorla_datasets WHERE id = " + id;
    case StmtRaiseMark:
        return "UPDATE quorla_datasets SET highkey = greatest(highkey, $1::text COLLATE \"C\", " + legacyMark()
            + ") WHERE id = " + id;
    case StmtKeyMark:
        return "SELECT highkey FROM quorla_datasets WHERE id = " + id;
    case StmtCount:
        return "SELECT count(*) FROM " + table_;
    case StmtMark:
        return "SELECT changes FROM quorla_datasets WHERE id = " + id;
    case StmtIdentity:
        // Made once: a second workstation asking at the same moment gets the
        // first one's.
        return "UPDATE quorla_datasets SET identity = coalesce(identity, $1::text) WHERE id = " + id
            + " RETURNING identity";
    case StmtReadIdentity:
        return "SELECT identity FROM quorla_datasets WHERE id = " + id;
    case StmtLock:
        return "SELECT pg_try_advisory_lock($1::int8)";
    case StmtUnlock:
        return "SELECT pg_advisory_unlock($1::int8)";
    case StmtUnlockAll:
        return "SELECT pg_advisory_unlock(k) FROM unnest($1::int8[]) AS k";
    case StmtLockAll:
        return "SELECT k FROM unnest($1::int8[]) AS k WHERE pg_try_advisory_lock(k)";
    default:
        return {};
    }
}

PostgresConnection::Call PostgresIsamDataset::statement(Statement which, int index)
{
    // The lock statements are the same for every dataset of the session.
    static const char* const shared[] = {"lock", "unlock", "unlockall", "lockall"};
    PostgresConnection::Call call;
    call.name = which >= StmtLock ? QByteArray(shared[which - StmtLock])
                                  : table_ + "_" + QByteArray::number(which) + "_" + QByteArray::number(index);
    auto& text = statementText_[{which, index}];
    if (text.isEmpty())
        text = sql(which, index);
    call.sql = text;
    return call;
}

IsamCode PostgresIsamDataset::readyFor(Statement which)
{
    // Whether a removal marks its row or deletes it is asked once, before
    // the statement's text is made.
    return which == StmtDelete && !marksRemovals_ ? askMarking() : IsamOk;
}

IsamCode PostgresIsamDataset::run(Statement which, int index, const std::vector<Param>& params, Result& result)
{
    if (const IsamCode code = readyFor(which); code != IsamOk)
        return code;
    const PostgresConnection::Call call = statement(which, index);
    return connection_->exec(call.name, call.sql, params.data(), int(params.size()), result);
}

IsamCode PostgresIsamDataset::askMarking()
{
    Result result;
    const IsamCode code = connection_->exec({},
                                            "SELECT NOT has_table_privilege('" + table_
                                                + "', 'DELETE') AND EXISTS (SELECT FROM pg_attribute WHERE attrelid = '"
                                                + table_ + "'::regclass AND attname = 'q_drop' AND NOT attisdropped)",
                                            nullptr, 0, result);
    if (code == IsamOk)
        marksRemovals_ = result.rows() == 1 && result.number(0, 0) != 0;
    return code;
}

IsamCode PostgresIsamDataset::takeRows(const Result& rows, int index)
{
    for (int row = 0; row < rows.rows(); ++row) {
        const char* value = index == 0 ? nullptr : rows.data(row, 2);
        if (!cursor_.addRow(index, rows.data(row, 0), rows.length(row, 0), rows.data(row, 1),
                            std::size_t(rows.length(row, 1)), value, value ? rows.length(row, 2) : 0))
            return IsamCorrupt;
    }
    return IsamOk;
}

IsamCode PostgresIsamDataset::get(int index, IsamReadMode mode, const QByteArray& key, QByteArray& foundKey,
                                  std::span<char> record)
{
    if (const IsamCode code = readable(index, record); code != IsamOk)
        return code;
    if (index == 0 && !textKey(key))
        return IsamBadKey;
    if (mode == IsamReadEqual) {
        return cursor_.equal(index, key, foundKey, record, [this](int index, const QByteArray& key, int limit) {
            Result rows;
            const IsamCode code = index == 0
                ? run(StmtEqual, 0, {Param::text(key)}, rows)
                : run(StmtEqual, index, {Param::blob(key), Param::text(QByteArray::number(limit))}, rows);
            return code == IsamOk ? takeRows(rows, index) : code;
        });
    }
    if (mode != IsamReadNext && mode != IsamReadPrefix && mode != IsamReadBelow && mode != IsamReadAtMost)
        return IsamBadParameter;
    return cursor_.next(index, mode, key, foundKey, record, [this](const IsamReadAhead::TScanQuery& query) {
        const int index = query.index;
        const Statement which = query.bound == IsamReadAhead::Bound::Below ? StmtNextBelow
            : query.bound == IsamReadAhead::Bound::AtMost                  ? StmtNextAtMost
                                                                            : StmtNext;
        const QByteArray limit = QByteArray::number(query.limit);
        Result rows;
        IsamCode code = IsamOk;
        if (index == 0 && which == StmtNext)
            code = run(which, index, {Param::text(query.key), Param::text(limit)}, rows);
        else if (index == 0)
            code = run(which, index, {Param::text(query.key), Param::text(query.boundValue), Param::text(limit)}, rows);
        else if (which == StmtNext)
            code = run(which, index, {Param::blob(query.value), Param::text(query.key), Param::text(limit)}, rows);
        else
            code = run(which, index,
                       {Param::blob(query.value), Param::text(query.key), Param::blob(query.boundValue),
                        Param::text(limit)},
                       rows);
        return code == IsamOk ? takeRows(rows, index) : code;
    });
}

IsamCode PostgresIsamDataset::range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                                     const TRangeReader& take)
{
    if (const IsamCode code = readable(index, record); code != IsamOk)
        return code;
    if (index == 0 && (!textKey(from) || !textKey(to)))
        return IsamBadKey;
    cursor_.drop();
    if (from > to)
        return IsamOk;
    Result rows;
    const PostgresConnection::Call call = rangeCall(index, from, to);
    const IsamCode code = connection_->exec(call.name, call.sql, call.params.data(), int(call.params.size()), rows);
    return code == IsamOk ? rangeFrom(index, to, rows, record, take) : code;
}

PostgresConnection::Call PostgresIsamDataset::rangeCall(int index, const QByteArray& from, const QByteArray& to)
{
    PostgresConnection::Call call = statement(StmtRangeFirst, index);
    call.values = {from, to, QByteArray::number(RangeChunkFirst)};
    for (const QByteArray& value : call.values)
        call.params.push_back(index == 0 || call.params.size() == 2 ? Param::text(value) : Param::blob(value));
    return call;
}

IsamCode PostgresIsamDataset::rangeFrom(int index, const QByteArray& to, const Result& first, std::span<char> record,
                                        const TRangeReader& take)
{
    const Param toValue = index == 0 ? Param::text(to) : Param::blob(to);
    const Result* rows = &first;
    Result next;
    for (int chunk = RangeChunkFirst;; chunk = std::min(chunk * 4, RangeChunkMost)) {
        bool more = true;
        IsamCode code = handOver(*rows, index, record, take, more);
        const int count = rows->rows();
        if (code != IsamOk || !more || count < chunk)
            return code;
        // The next chunk starts after the last row handed over.
        const QByteArray lastKey(rows->data(count - 1, 0), rows->length(count - 1, 0));
        const QByteArray lastValue = index == 0 ? lastKey : QByteArray(rows->data(count - 1, 2), rows->length(count - 1, 2));
        const QByteArray limit = QByteArray::number(std::min(chunk * 4, RangeChunkMost));
        if (index == 0)
            code = run(StmtNextAtMost, 0, {Param::text(lastKey), toValue, Param::text(limit)}, next);
        else
            code = run(StmtNextAtMost, index, {Param::blob(lastValue), Param::text(lastKey), toValue, Param::text(limit)},
                       next);
        if (code != IsamOk)
            return code;
        rows = &next;
    }
}

IsamCode PostgresIsamDataset::rangeAlong(int index, const QByteArray& from, const QByteArray& to,
                                          std::span<char> record, const TRangeReader& take,
                                          std::span<const TAlongRead> along)
{
    std::vector<PostgresIsamDataset*> others;
    if (!onThisSession(along, others) || from > to)
        return TIsamDataset::rangeAlong(index, from, to, record, take, along);
    IsamCode code = readable(index, record);
    if (code == IsamOk && index == 0 && (!textKey(from) || !textKey(to)))
        code = IsamBadKey;
    for (std::size_t i = 0; i < along.size() && code == IsamOk; ++i)
        code = others[i]->readableAmong(along[i].index, along[i].values, along[i].record);
    if (code != IsamOk)
        return code;
    cursor_.drop();
    // An along read of no values asks the server nothing.
    std::vector<PostgresConnection::Call> calls{rangeCall(index, from, to)};
    for (std::size_t i = 0; i < along.size(); ++i) {
        others[i]->cursor_.drop();
        if (!along[i].values.isEmpty())
            calls.push_back(others[i]->amongCall(along[i].index, along[i].values));
    }
    std::vector<Result> results(calls.size());
    code = connection_->execAll(calls, results);
    if (code == IsamOk)
        code = rangeFrom(index, to, results[0], record, take);
    std::size_t answer = 1;
    for (std::size_t i = 0; i < along.size() && code == IsamOk; ++i) {
        bool more = true;
        if (!along[i].values.isEmpty())
            code = others[i]->handOver(results[answer++], along[i].index, along[i].record, along[i].take, more);
    }
    return code;
}

bool PostgresIsamDataset::onThisSession(std::span<const TAlongRead> along,
                                        std::vector<PostgresIsamDataset*>& others) const
{
    for (const TAlongRead& read : along) {
        auto* other = dynamic_cast<PostgresIsamDataset*>(read.dataset);
        if (!other || other->connection_ != connection_)
            return false;
        others.push_back(other);
    }
    return true;
}

IsamCode PostgresIsamDataset::readableAmong(int index, const QList<QByteArray>& values, std::span<char> record)
{
    if (const IsamCode code = readable(index, record); code != IsamOk)
        return code;
    return index == 0 && !std::all_of(values.begin(), values.end(), textKey) ? IsamBadKey : IsamOk;
}

IsamCode PostgresIsamDataset::handOver(const Result& rows, int index, std::span<char> record, const TRangeReader& take,
                                        bool& more)
{
    QByteArray key;
    for (int row = 0; row < rows.rows() && more; ++row) {
        const char* keyData = rows.data(row, 0);
        const int keyLength = rows.length(row, 0);
        key = QByteArray(keyData, keyLength);
        if (std::size_t(rows.length(row, 1)) != record.size() || !validKey(key))
            return IsamCorrupt;
        // The position follows the rows, so a scan after the read goes on
        // after the last record handed over.
        const char* value = index == 0 ? keyData : rows.data(row, 2);
        const int valueLength = index == 0 ? keyLength : rows.length(row, 2);
        cursor_.standOn(index, value, valueLength, keyData, keyLength);
        std::memcpy(record.data(), rows.data(row, 1), record.size());
        more = take(key);
    }
    return IsamOk;
}

IsamCode PostgresIsamDataset::among(int index, const QList<QByteArray>& values, std::span<char> record,
                                    const TRangeReader& take)
{
    if (const IsamCode code = readableAmong(index, values, record); code != IsamOk)
        return code;
    cursor_.drop();
    if (values.isEmpty())
        return IsamOk;
    Result rows;
    const PostgresConnection::Call call = amongCall(index, values);
    const IsamCode code = connection_->exec(call.name, call.sql, call.params.data(), int(call.params.size()), rows);
    bool more = true;
    return code == IsamOk ? handOver(rows, index, record, take, more) : code;
}

PostgresConnection::Call PostgresIsamDataset::amongCall(int index, const QList<QByteArray>& values)
{
    // An array of the values as the server reads it: texts quoted, byte
    // values in hex.
    QByteArray array = "{";
    for (const QByteArray& value : values) {
        if (array.size() > 1)
            array += ',';
        if (index == 0)
            array += '"' + QByteArray(value).replace('\\', "\\\\").replace('"', "\\\"") + '"';
        else
            array += "\"\\\\x" + value.toHex() + '"';
    }
    array += '}';
    PostgresConnection::Call call = statement(StmtAmong, index);
    call.values = {array};
    call.params = {Param::text(call.values.front())};
    return call;
}

IsamCode PostgresIsamDataset::first(int index)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    if (!validIndex(index))
        return IsamBadParameter;
    cursor_.rewind(index);
    return IsamOk;
}

IsamCode PostgresIsamDataset::nextKey(QByteArray& key)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    Result result;
    const IsamCode code = run(StmtNextKey, 0, {}, result);
    if (code != IsamOk)
        return code;
    if (result.rows() != 1)
        return IsamCorrupt;
    const QByteArray largest = result.bytes(0, 0);
    qint64 number = 0;
    if (!largest.isEmpty() && !validKey(largest, &number))
        return IsamCorrupt;
    key = QByteArray::number(number + 1).rightJustified(keyLength_, '0');
    return key.size() == keyLength_ ? IsamOk : IsamBadKey;
}

IsamCode PostgresIsamDataset::raiseKeyMark(const QByteArray& key)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    if (!validKey(key))
        return IsamBadKey;
    cursor_.drop();
    Result result;
    return run(StmtRaiseMark, 0, {Param::text(key)}, result);
}

IsamCode PostgresIsamDataset::keyMark(QByteArray& mark)
{
    mark.clear();
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    Result result;
    const IsamCode code = run(StmtKeyMark, 0, {}, result);
    if (code != IsamOk)
        return code;
    if (result.rows() != 1)
        return IsamCorrupt;
    mark = result.bytes(0, 0);
    return mark.isEmpty() || validKey(mark) ? IsamOk : IsamCorrupt;
}

PostgresConnection::Call PostgresIsamDataset::writeCall(Statement which, const QByteArray& key,
                                                        std::span<const char> record)
{
    PostgresConnection::Call call = statement(which, 0);
    // The record, then its value of each index; the key before them.
    if (!record.empty()) {
        call.values.push_back(QByteArray::fromRawData(record.data(), qsizetype(record.size())));
        for (int ix : format_.indexes())
            call.values.push_back(format_.indexValue(ix, record.data()));
    }
    if (!key.isEmpty())
        call.params.push_back(Param::text(key));
    for (const QByteArray& value : call.values)
        call.params.push_back(Param::blob(value));
    return call;
}

IsamCode PostgresIsamDataset::write(Statement which, const QByteArray& key, std::span<const char> record,
                                    Result& result)
{
    cursor_.drop();
    if (const IsamCode code = readyFor(which); code != IsamOk)
        return code;
    const PostgresConnection::Call call = writeCall(which, key, record);
    return connection_->exec(call.name, call.sql, call.params.data(), int(call.params.size()), result);
}

IsamCode PostgresIsamDataset::put(const QByteArray& key, std::span<const char> record, IsamPutMode mode)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    if (!validKey(key))
        return IsamBadKey;
    if (record.size() != format_.recordSize())
        return IsamBadParameter;
    if (mode != IsamPutAdd && mode != IsamPutReplace)
        return IsamUpdateMode;
    Result result;
    const IsamCode code = write(mode == IsamPutAdd ? StmtInsert : StmtUpdate, key, record, result);
    if (code != IsamOk)
        return code;
    return result.rows() == 1 && result.number(0, 0) == 1 ? IsamOk : IsamNotFound;
}

IsamCode PostgresIsamDataset::putAll(const QList<QByteArray>& keys, std::span<const char> records)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    const std::size_t size = format_.recordSize();
    if (records.size() != size * std::size_t(keys.size()))
        return IsamBadParameter;
    for (const QByteArray& key : keys)
        if (!validKey(key))
            return IsamBadKey;
    if (keys.isEmpty())
        return IsamOk;
    // Within a command its transaction holds the writes together.
    const bool own = !connection_->inCommand();
    IsamCode code = own ? connection_->command("BEGIN") : IsamOk;
    for (qsizetype first = 0; first < keys.size() && code == IsamOk; first += InsertsPerStatement)
        code = insertMany(keys, records, first, std::min(InsertsPerStatement, keys.size() - first));
    if (code == IsamOk && own)
        code = connection_->command("COMMIT");
    if (code != IsamOk && own)
        connection_->rollback();
    return code;
}

IsamCode PostgresIsamDataset::writeBatch(QList<TBatchWrite>& writes)
{
    std::vector<TBatchPart> parts{{this, &writes, {}, {}}};
    return writeBatches(parts);
}

IsamCode PostgresIsamDataset::writeBatchAlong(QList<TBatchWrite>& writes, std::span<const TAlongWrite> along)
{
    std::vector<TBatchPart> parts{{this, &writes, {}, {}}};
    for (const TAlongWrite& other : along) {
        auto* dataset = dynamic_cast<PostgresIsamDataset*>(other.dataset);
        if (!dataset || !connection_ || dataset->connection_ != connection_)
            return TIsamDataset::writeBatchAlong(writes, along);
        parts.push_back({dataset, other.writes, {}, {}});
    }
    return writeBatches(parts);
}

IsamCode PostgresIsamDataset::readyForBatch(const QList<TBatchWrite>& writes)
{
    if (!connection_)
        return IsamNotOpen;
    if (const IsamCode code = checkBatch(
            writes, format_.recordSize(), [this](const QByteArray& key) { return validKey(key); },
            [this](int index) { return validIndex(index); });
        code != IsamOk)
        return code;
    if (writes.isEmpty())
        return IsamOk;
    cursor_.drop();
    const bool removes = std::any_of(writes.cbegin(), writes.cend(), [](const TBatchWrite& w) {
        return w.mode == IsamPutRemove || w.mode == IsamPutClear;
    });
    return removes ? readyFor(StmtDelete) : IsamOk;
}

IsamCode PostgresIsamDataset::writeBatches(std::vector<TBatchPart>& parts)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    std::vector<PostgresConnection::Call> calls;
    for (TBatchPart& part : parts) {
        if (const IsamCode code = part.dataset->readyForBatch(*part.writes); code != IsamOk)
            return code;
        for (PostgresConnection::Call& call : part.dataset->batchCalls(*part.writes, part.sizes))
            calls.push_back(std::move(call));
    }
    if (calls.empty())
        return IsamOk;
    // Within a command its transaction holds the batches together, and its
    // end commits or undoes them.
    const bool own = !connection_->inCommand();
    IsamCode code = own ? connection_->command("BEGIN") : IsamOk;
    std::vector<Result> results(calls.size());
    if (code == IsamOk)
        code = connection_->execAll(calls, results);
    std::size_t first = 0;
    for (std::size_t p = 0; p < parts.size() && code == IsamOk; first += parts[p++].sizes.size())
        code = parts[p].dataset->takeKeys(parts[p], results, first);
    if (code == IsamOk && own)
        code = connection_->command("COMMIT");
    if (code != IsamOk) {
        if (own)
            connection_->rollback();
        return code;
    }
    for (TBatchPart& part : parts)
        for (qsizetype i = 0; i < part.writes->size(); ++i)
            (*part.writes)[i].key = part.chosen[i];
    return IsamOk;
}

IsamCode PostgresIsamDataset::takeKeys(TBatchPart& part, const std::vector<Result>& results, std::size_t first) const
{
    for (std::size_t i = 0; i < part.sizes.size(); ++i)
        if (const IsamCode code = keysOf(*part.writes, part.chosen.size(), part.sizes[i], results[first + i], part.chosen);
            code != IsamOk)
            return code;
    return IsamOk;
}

std::vector<PostgresConnection::Call> PostgresIsamDataset::batchCalls(const QList<TBatchWrite>& writes,
                                                                     std::vector<qsizetype>& sizes)
{
    const auto underNextKey = [](const TBatchWrite& w) { return w.mode == IsamPutAdd && w.key.isEmpty(); };
    std::vector<PostgresConnection::Call> calls;
    for (qsizetype i = 0; i < writes.size(); i += sizes.back()) {
        // A run of adds under the next keys is one statement.
        qsizetype run = 0;
        while (i + run < writes.size() && underNextKey(writes[i + run]))
            ++run;
        if (run > 1) {
            calls.push_back(addsCall(writes, i, run));
            sizes.push_back(run);
            continue;
        }
        const TBatchWrite& w = writes[i];
        sizes.push_back(1);
        if (w.mode == IsamPutClear) {
            PostgresConnection::Call call = statement(StmtClear, w.index);
            call.values.push_back(w.key);
            call.params.push_back(Param::blob(call.values.back()));
            calls.push_back(std::move(call));
            continue;
        }
        const std::span<const char> record(w.record.constData(), std::size_t(w.record.size()));
        const Statement which = underNextKey(w) ? StmtAdd
            : w.mode == IsamPutAdd              ? StmtInsert
            : w.mode == IsamPutReplace          ? StmtUpdate
                                                : StmtDelete;
        calls.push_back(writeCall(which, w.key, w.mode == IsamPutRemove ? std::span<const char>() : record));
    }
    return calls;
}

namespace {

constexpr qint32 ByteaType = 17;
constexpr qint32 TextType = 25;

// A one-dimensional array of `type` values in the server's binary form.
QByteArray binaryArray(const QList<QByteArray>& values, qint32 type = ByteaType)
{
    QByteArray array;
    const auto put = [&array](qint32 number) {
        char bytes[4];
        qToBigEndian(number, bytes);
        array.append(bytes, 4);
    };
    for (const qint32 head : {1, 0, type, qint32(values.size()), 1})
        put(head);
    for (const QByteArray& value : values) {
        put(qint32(value.size()));
        array += value;
    }
    return array;
}

// The records as one array, then each index's values of them as one.
void appendColumns(const TIsamFormat& format, const QList<QByteArray>& records, std::vector<QByteArray>& values)
{
    values.push_back(binaryArray(records));
    for (int ix : format.indexes()) {
        QList<QByteArray> column;
        for (const QByteArray& record : records)
            column << format.indexValue(ix, record.constData());
        values.push_back(binaryArray(column));
    }
}

} // namespace

PostgresConnection::Call PostgresIsamDataset::addsCall(const QList<TBatchWrite>& writes, qsizetype first,
                                                       qsizetype count)
{
    PostgresConnection::Call call = statement(StmtAddMany, 0);
    QList<QByteArray> records;
    for (qsizetype i = first; i < first + count; ++i)
        records << writes[i].record;
    call.values.push_back(QByteArray::number(count));
    appendColumns(format_, records, call.values);
    call.params.push_back(Param::text(call.values.front()));
    for (std::size_t v = 1; v < call.values.size(); ++v)
        call.params.push_back(Param::blob(call.values[v]));
    return call;
}

IsamCode PostgresIsamDataset::insertMany(const QList<QByteArray>& keys, std::span<const char> records,
                                         qsizetype first, qsizetype count)
{
    cursor_.drop();
    const std::size_t size = format_.recordSize();
    PostgresConnection::Call call = statement(StmtInsertMany, 0);
    QList<QByteArray> rows;
    for (qsizetype i = first; i < first + count; ++i)
        rows << QByteArray::fromRawData(records.data() + std::size_t(i) * size, qsizetype(size));
    call.values.push_back(binaryArray(keys.mid(first, count), TextType));
    appendColumns(format_, rows, call.values);
    for (const QByteArray& value : call.values)
        call.params.push_back(Param::blob(value));
    Result result;
    const IsamCode code = connection_->exec(call.name, call.sql, call.params.data(), int(call.params.size()), result);
    if (code != IsamOk)
        return code;
    return result.rows() == 1 && result.number(0, 0) == count ? IsamOk : IsamNotFound;
}

IsamCode PostgresIsamDataset::keysOf(const QList<TBatchWrite>& writes, qsizetype first, qsizetype count,
                                     const Result& result, QList<QByteArray>& chosen) const
{
    const TBatchWrite& w = writes[first];
    // No row for an add under the next key: the keys of the dataset's
    // length are used up.
    if (count > 1) {
        qint64 last = 0;
        if (result.rows() != 1 || result.number(0, 1) != count || !validKey(result.bytes(0, 0), &last))
            return IsamBadKey;
        for (qint64 key = last - count + 1; key <= last; ++key)
            chosen << QByteArray::number(key).rightJustified(keyLength_, '0');
        return IsamOk;
    }
    if (w.mode == IsamPutAdd && w.key.isEmpty()) {
        if (result.rows() != 1)
            return IsamBadKey;
        chosen << result.bytes(0, 0);
        return IsamOk;
    }
    chosen << w.key;
    const bool removal = w.mode == IsamPutRemove || w.mode == IsamPutClear;
    return removal || (result.rows() == 1 && result.number(0, 0) == 1) ? IsamOk : IsamNotFound;
}

IsamCode PostgresIsamDataset::add(std::span<const char> record, QByteArray& key)
{
    key.clear();
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    if (record.size() != format_.recordSize())
        return IsamBadParameter;
    Result result;
    const IsamCode code = write(StmtAdd, {}, record, result);
    if (code != IsamOk)
        return code;
    // No row: the keys of the dataset's length are used up.
    if (result.rows() != 1)
        return IsamBadKey;
    key = result.bytes(0, 0);
    return IsamOk;
}

IsamCode PostgresIsamDataset::remove(const QByteArray& key)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    if (!validKey(key))
        return IsamBadKey;
    Result result;
    const IsamCode code = write(StmtDelete, key, {}, result);
    if (code != IsamOk)
        return code;
    return result.rows() == 1 && result.number(0, 0) == 1 ? IsamOk : IsamNotFound;
}

IsamCode PostgresIsamDataset::info(qint64* recordCount, int& keyLength)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    keyLength = keyLength_;
    if (!recordCount)
        return IsamOk;
    Result result;
    const IsamCode code = run(StmtCount, 0, {}, result);
    if (code != IsamOk)
        return code;
    *recordCount = result.number(0, 0);
    return IsamOk;
}

IsamCode PostgresIsamDataset::changeMark(QByteArray& mark)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    Result result;
    const IsamCode code = run(StmtMark, 0, {}, result);
    if (code != IsamOk)
        return code;
    if (result.rows() != 1)
        return IsamCorrupt;
    mark = QByteArray::number(id_) + ":" + QByteArray::number(result.number(0, 0));
    return IsamOk;
}

IsamCode PostgresIsamDataset::identity(QByteArray& id, bool make)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    Result result;
    const IsamCode code = make
        ? run(StmtIdentity, 0, {Param::text(id.isEmpty() ? QUuid::createUuid().toByteArray(QUuid::WithoutBraces) : id)},
              result)
        : run(StmtReadIdentity, 0, {}, result);
    if (code != IsamOk)
        return code;
    if (result.rows() != 1)
        return IsamCorrupt;
    id = result.bytes(0, 0);
    if (!make && id.isEmpty())
        return IsamNotFound;
    return id.isEmpty() ? IsamCorrupt : IsamOk;
}

IsamCode PostgresIsamDataset::setting(const QByteArray& name, QByteArray& value, SettingMode mode)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    if (name.isEmpty() || (mode != SettingMode::Read && value.isEmpty()))
        return IsamBadParameter;
    const QByteArray dataset = QByteArray::number(id_);
    Result result;
    if (mode != SettingMode::Read) {
        // The table is made by the first write: a database from before
        // settings has none. Creations wait for each other as the engine's do.
        // Made only when missing: a role that may not create tables (each
        // person's own, TServerRoles) may still write to it.
        // Within a command the creation joins its transaction.
        const bool own = !connection_->inCommand();
        const QByteArray creation = "SELECT pg_advisory_xact_lock(1364541266, 0);"
                                    "DO $$ BEGIN IF to_regclass('quorla_settings') IS NULL THEN"
                                    " CREATE TABLE quorla_settings ("
                                    " dataset integer NOT NULL, name text COLLATE \"C\" NOT NULL,"
                                    " value text NOT NULL, PRIMARY KEY (dataset, name)); END IF; END $$;";
        IsamCode code = connection_->command(own ? "BEGIN;" + creation + "COMMIT" : creation);
        if (code != IsamOk) {
            if (own)
                connection_->rollback();
            return code;
        }
        code = connection_->exec({},
                                 "INSERT INTO quorla_settings (dataset, name, value) VALUES (" + dataset
                                     + ", $1::text, $2::text) ON CONFLICT (dataset, name) DO "
                                     + (mode == SettingMode::Keep ? "NOTHING" : "UPDATE SET value = excluded.value"),
                                 {Param::text(name), Param::text(value)}, result);
        if (code != IsamOk || mode == SettingMode::Replace)
            return code;
    }
    const IsamCode code = connection_->exec(
        {}, "SELECT value FROM quorla_settings WHERE dataset = " + dataset + " AND name = $1::text",
        {Param::text(name)}, result);
    if (code != IsamOk && connection_->state() == "42P01") {
        connection_->beginCall();
        return IsamNotFound;
    }
    if (code != IsamOk)
        return code;
    if (result.rows() == 0)
        return IsamNotFound;
    value = result.bytes(0, 0);
    return IsamOk;
}

IsamCode PostgresIsamDataset::lock(const QByteArray& key)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    qint64 number = 0;
    if (!validKey(key, &number))
        return IsamBadKey;
    const qint64 lockKey = lockNumber(number);
    // Another object of this session holding it is invisible to the server,
    // which would just take the lock once more for the session.
    if (const auto it = connection_->locks().find(lockKey); it != connection_->locks().end())
        return it->second == this ? IsamOk : IsamLocked;
    Result result;
    const QByteArray text = QByteArray::number(lockKey);
    const IsamCode code = run(StmtLock, 0, {Param::text(text)}, result);
    if (code != IsamOk)
        return code;
    if (result.rows() != 1 || result.number(0, 0) == 0)
        return IsamLocked;
    connection_->locks()[lockKey] = this;
    return IsamOk;
}

IsamCode PostgresIsamDataset::lockCall(const QList<QByteArray>& keys, QList<qint64>& numbers)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    for (const QByteArray& key : keys) {
        qint64 number = 0;
        if (!validKey(key, &number))
            return IsamBadKey;
        numbers << lockNumber(number);
    }
    return IsamOk;
}

namespace {

QByteArray numberArray(const QList<qint64>& numbers)
{
    QByteArray array = "{";
    for (const qint64 number : numbers)
        array += (array.size() > 1 ? "," : "") + QByteArray::number(number);
    return array + "}";
}

} // namespace

IsamCode PostgresIsamDataset::lockAll(const QList<QByteArray>& keys)
{
    QList<qint64> numbers;
    if (const IsamCode code = lockCall(keys, numbers); code != IsamOk)
        return code;
    // A key some object of this session holds already is one the server
    // would just take again: the session's own record decides, key by key.
    for (const qint64 number : numbers)
        if (connection_->locks().count(number))
            return TIsamDataset::lockAll(keys);
    Result result;
    const IsamCode code = run(StmtLockAll, 0, {Param::text(numberArray(numbers))}, result);
    if (code != IsamOk)
        return code;
    QList<qint64> taken;
    for (int row = 0; row < result.rows(); ++row)
        taken << result.number(row, 0);
    if (taken.size() == numbers.size()) {
        for (const qint64 number : taken)
            connection_->locks()[number] = this;
        return IsamOk;
    }
    if (!taken.isEmpty()) {
        Result released;
        if (const IsamCode back = run(StmtUnlockAll, 0, {Param::text(numberArray(taken))}, released); back != IsamOk)
            return back;
    }
    return IsamLocked;
}

IsamCode PostgresIsamDataset::unlockAll(const QList<QByteArray>& keys)
{
    QList<qint64> numbers;
    if (const IsamCode code = lockCall(keys, numbers); code != IsamOk)
        return code;
    QList<qint64> held;
    for (const qint64 number : numbers) {
        const auto it = connection_->locks().find(number);
        if (it != connection_->locks().end() && it->second == this) {
            held << number;
            connection_->locks().erase(it);
        }
    }
    if (held.isEmpty())
        return IsamOk;
    // Released, or gone with a lost session.
    Result result;
    return run(StmtUnlockAll, 0, {Param::text(numberArray(held))}, result);
}

IsamCode PostgresIsamDataset::unlock(const QByteArray& key)
{
    if (!connection_)
        return IsamNotOpen;
    connection_->beginCall();
    qint64 number = 0;
    if (!validKey(key, &number))
        return IsamBadKey;
    const qint64 lockKey = lockNumber(number);
    const auto it = connection_->locks().find(lockKey);
    if (it == connection_->locks().end() || it->second != this)
        return IsamOk;
    Result result;
    const QByteArray text = QByteArray::number(lockKey);
    const IsamCode code = run(StmtUnlock, 0, {Param::text(text)}, result);
    // Released, or gone with a lost session.
    connection_->locks().erase(lockKey);
    return code;
}
