#include "TClientNames.h"

#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "SeriesRecord.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>
#include <QList>

namespace {

struct TOldRow
{
    QString rowKey;
    ImportRecord record;
};

// The rows of the shared form whose source begins with `first`, in order.
QList<TOldRow> oldRows(TXIsamFile& map, char first)
{
    QList<TOldRow> rows;
    ImportRecord record;
    const QString from(QLatin1Char{first});
    const bool read = map.Range(record.bytes(), ImportRecord::SourceIndex, from, from + QLatin1Char('~'), [&] {
        rows.append({map.CurrentKey(), record});
        return true;
    });
    if (!read && map.LastError() != IsamNotFound)
        throw EQuorla(map.ErrorText());
    return rows;
}

// The owner of entry (or series) `key`; empty when it is gone.
QString ownerOf(TQuorlaDB& database, const QString& key, bool series)
{
    if (series) {
        SeriesRecord record;
        TXIsamFile* set = database.Series();
        return set && TLookup::Equal(*set, record.bytes(), TXIsamFile::PrimaryIndex, key) ? record.OwnerKey() : QString();
    }
    DayEntryRecord record;
    return TLookup::Equal(database.DayEntries(), record.bytes(), TXIsamFile::PrimaryIndex, key) ? record.OwnerKey()
                                                                                              : QString();
}

void drop(TXIsamFile& map, const QString& rowKey)
{
    if (!map.Delete(rowKey) && map.LastError() != IsamNotFound)
        throw EQuorla(map.ErrorText());
}

} // namespace

QString TClientNames::Forward(const QString& userKey, const QString& name)
{
    const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
    return userKey + QLatin1Char('n') + QString::fromLatin1(hash.left(39));
}

QString TClientNames::Part(const QString& userKey, const QString& key, int number, bool series)
{
    return userKey + QLatin1Char(series ? 's' : 'u') + key + QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

bool TClientNames::Keepable(const QString& uid)
{
    // Parts are cut by characters: a UID of more than ASCII is left out.
    return !uid.isEmpty() && uid.toUtf8().size() == uid.size() && uid.size() <= PartLength * (MostParts - 1);
}

void TClientNames::Put(TXIsamFile& map, const QString& source, const QString& key, bool series)
{
    ImportRecord record;
    record.setSource(source);
    record.setKind(series ? ImportRecord::Kind::Series : ImportRecord::Kind::Entry);
    record.setTargetKey(key);
    ImportRecord stored;
    const bool done = TLookup::Equal(map, stored.bytes(), ImportRecord::SourceIndex, source)
        ? map.Update(record.bytes(), map.CurrentKey())
        : map.Insert(record.bytes());
    if (!done)
        throw EQuorla(map.ErrorText());
}

void TClientNames::PutUid(TXIsamFile& map, const QString& userKey, const QString& key, const QString& uid, bool series)
{
    for (int at = 0, number = 0; at < uid.size(); at += PartLength, ++number)
        Put(map, Part(userKey, key, number, series) + uid.mid(at, PartLength), key, series);
}

int TClientNames::AdoptShared(TQuorlaDB& database)
{
    QString reason;
    TXIsamFile* map = database.ImportMap(reason);
    if (!map)
        return 0;
    int taken = 0;
    for (const TOldRow& old : oldRows(*map, '=')) {
        const bool series = old.record.kind() == ImportRecord::Kind::Series;
        const QString owner = ownerOf(database, old.record.TargetKey(), series);
        if (!owner.isEmpty())
            Put(*map, owner + QLatin1Char('n') + old.record.Source().mid(1, 39), old.record.TargetKey(), series);
        drop(*map, old.rowKey);
        ++taken;
    }
    // The old parts: "~" (or "^"), the key, a two-digit number, the piece.
    for (const bool series : {false, true}) {
        const QList<TOldRow> parts = oldRows(*map, series ? '^' : '~');
        for (qsizetype at = 0, end = 0; at < parts.size(); at = end) {
            const QString key = parts[at].record.Source().mid(1, 10);
            QString uid;
            for (end = at; end < parts.size() && parts[end].record.Source().mid(1, 10) == key; ++end)
                uid += parts[end].record.Source().mid(13);
            const QString owner = ownerOf(database, key, series);
            if (!owner.isEmpty() && Keepable(uid))
                PutUid(*map, owner, key, uid, series);
            for (qsizetype old = at; old < end; ++old)
                drop(*map, parts[old].rowKey);
            taken += int(end - at);
        }
    }
    return taken;
}
