#include "TDavNames.h"

#include "EQuorla.h"
#include "ImportRecord.h"
#include "IsamCode.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>

#include <map>

namespace {

constexpr int PartLength = 37;
constexpr int MostParts = 100;

QString forward(const QString& name)
{
    return QLatin1Char('=')
        + QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex());
}

QString part(const QString& key, int number)
{
    return QLatin1Char('~') + key + QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

} // namespace

TDavNames::TDavNames(TQuorlaDB& database)
    : database_(database)
{
}

TXIsamFile* TDavNames::map()
{
    if (!looked_) {
        looked_ = true;
        QString reason;
        map_ = database_.ImportMap(reason);
    }
    return map_;
}

QString TDavNames::KeyOf(const QString& name)
{
    bool number = false;
    name.toLongLong(&number);
    if (number && name.size() == 10)
        return name;
    TXIsamFile* names = map();
    ImportRecord known;
    if (names && TLookup::Equal(*names, known.bytes(), ImportRecord::SourceIndex, forward(name)))
        return known.TargetKey();
    return QString();
}

QString TDavNames::UidOf(const QString& key)
{
    TXIsamFile* names = map();
    if (!names)
        return QString();
    QString uid;
    ImportRecord record;
    const bool read = names->Range(record.bytes(), ImportRecord::SourceIndex, part(key, 0), part(key, MostParts - 1),
                                   [&] {
                                       uid += record.Source().mid(13);
                                       return true;
                                   });
    if (!read && names->LastError() != IsamNotFound)
        throw EQuorla(names->ErrorText());
    return uid;
}

QHash<QString, QString> TDavNames::Uids()
{
    QHash<QString, QString> uids;
    TXIsamFile* names = map();
    if (!names)
        return uids;
    ImportRecord record;
    const bool read = names->Range(record.bytes(), ImportRecord::SourceIndex, QStringLiteral("~"),
                                   QStringLiteral("~9999999999%1").arg(MostParts - 1), [&] {
                                       const QString source = record.Source();
                                       uids[source.mid(1, 10)] += source.mid(13);
                                       return true;
                                   });
    if (!read && names->LastError() != IsamNotFound)
        throw EQuorla(names->ErrorText());
    return uids;
}

void TDavNames::Remember(const QString& uid, const QString& name, const QString& key)
{
    TXIsamFile* names = map();
    // Parts are cut by characters: a UID of more than ASCII is left out.
    if (!names || uid.isEmpty() || uid.toUtf8().size() != uid.size() || uid.size() > PartLength * (MostParts - 1)
        || UidOf(key) == uid)
        return;
    const auto put = [&](const QString& source) {
        ImportRecord record;
        record.setSource(source);
        record.setKind(ImportRecord::Kind::Entry);
        record.setTargetKey(key);
        ImportRecord stored;
        const bool done = TLookup::Equal(*names, stored.bytes(), ImportRecord::SourceIndex, source)
            ? names->Update(record.bytes(), names->CurrentKey())
            : names->Insert(record.bytes());
        if (!done)
            throw EQuorla(names->ErrorText());
    };
    put(forward(uid));
    if (!name.isEmpty() && name != uid)
        put(forward(name));
    for (int at = 0, number = 0; at < uid.size(); at += PartLength, ++number)
        put(part(key, number) + uid.mid(at, PartLength));
}
