#include "TDavNames.h"

#include "EQuorla.h"
#include "ImportRecord.h"
#include "IsamCode.h"
#include "TClientNames.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

TDavNames::TDavNames(TQuorlaDB& database, const QString& userKey)
    : database_(database), userKey_(userKey)
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

QString TDavNames::SeriesName(const QString& seriesKey)
{
    return QStringLiteral("series-") + seriesKey;
}

QString TDavNames::KeyOf(const QString& name, bool* series)
{
    const auto tenDigits = [](const QString& text) {
        bool number = false;
        text.toLongLong(&number);
        return number && text.size() == 10;
    };
    if (series)
        *series = false;
    if (tenDigits(name))
        return name;
    if (name.startsWith(QLatin1String("series-")) && tenDigits(name.mid(7))) {
        if (series)
            *series = true;
        return name.mid(7);
    }
    TXIsamFile* names = map();
    ImportRecord known;
    if (names && TLookup::Equal(*names, known.bytes(), ImportRecord::SourceIndex, TClientNames::Forward(userKey_, name))) {
        if (series)
            *series = known.kind() == ImportRecord::Kind::Series;
        return known.TargetKey();
    }
    return QString();
}

QString TDavNames::partKey(QChar letter, const QString& key, int number) const
{
    return userKey_ + letter + key + QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

QString TDavNames::partsOf(QChar letter, const QString& key)
{
    TXIsamFile* names = map();
    if (!names)
        return QString();
    QString text;
    ImportRecord record;
    const bool read = names->Range(record.bytes(), ImportRecord::SourceIndex, partKey(letter, key, 0),
                                   partKey(letter, key, TClientNames::MostParts - 1), [&] {
                                       text += record.Source().mid(TClientNames::PieceAt);
                                       return true;
                                   });
    if (!read && names->LastError() != IsamNotFound)
        throw EQuorla(names->ErrorText());
    return text;
}

void TDavNames::allOf(QChar letter, const QString& prefix, QHash<QString, QString>& into)
{
    TXIsamFile* names = map();
    if (!names)
        return;
    ImportRecord record;
    const bool read = names->Range(record.bytes(), ImportRecord::SourceIndex,
                                   partKey(letter, QStringLiteral("0000000000"), 0),
                                   partKey(letter, QStringLiteral("9999999999"), TClientNames::MostParts - 1), [&] {
                                       const QString source = record.Source();
                                       into[prefix + source.mid(11, 10)] += source.mid(TClientNames::PieceAt);
                                       return true;
                                   });
    if (!read && names->LastError() != IsamNotFound)
        throw EQuorla(names->ErrorText());
}

QString TDavNames::UidOf(const QString& key, bool series)
{
    return partsOf(QLatin1Char(series ? 's' : 'u'), key);
}

QString TDavNames::NameOf(const QString& key, bool series)
{
    return partsOf(QLatin1Char(series ? 'k' : 'h'), key);
}

QHash<QString, QString> TDavNames::Uids()
{
    QHash<QString, QString> uids;
    allOf(QLatin1Char('u'), QString(), uids);
    allOf(QLatin1Char('h'), NameKey(QString()), uids);
    return uids;
}

void TDavNames::Remember(const QString& uid, const QString& name, const QString& key, bool series)
{
    TXIsamFile* names = map();
    if (!names || !TClientNames::Keepable(uid) || UidOf(key, series) == uid)
        return;
    TClientNames::Put(*names, TClientNames::Forward(userKey_, uid), key, series);
    if (!name.isEmpty() && name != uid) {
        TClientNames::Put(*names, TClientNames::Forward(userKey_, name), key, series);
        if (TClientNames::Keepable(name))
            for (int at = 0, number = 0; at < name.size(); at += TClientNames::PartLength, ++number)
                TClientNames::Put(*names, partKey(QLatin1Char(series ? 'k' : 'h'), key, number)
                                      + name.mid(at, TClientNames::PartLength), key, series);
    }
    TClientNames::PutUid(*names, userKey_, key, uid, series);
}
