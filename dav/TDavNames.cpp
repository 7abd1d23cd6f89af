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

QString TDavNames::UidOf(const QString& key, bool series)
{
    TXIsamFile* names = map();
    if (!names)
        return QString();
    QString uid;
    ImportRecord record;
    const bool read = names->Range(record.bytes(), ImportRecord::SourceIndex, TClientNames::Part(userKey_, key, 0, series),
                                   TClientNames::Part(userKey_, key, TClientNames::MostParts - 1, series),
                                   [&] {
                                       uid += record.Source().mid(TClientNames::PieceAt);
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
    const bool read = names->Range(record.bytes(), ImportRecord::SourceIndex, TClientNames::Part(userKey_, QStringLiteral("0000000000"), 0, false),
                                   TClientNames::Part(userKey_, QStringLiteral("9999999999"), TClientNames::MostParts - 1, false),
                                   [&] {
                                       const QString source = record.Source();
                                       uids[source.mid(11, 10)] += source.mid(TClientNames::PieceAt);
                                       return true;
                                   });
    if (!read && names->LastError() != IsamNotFound)
        throw EQuorla(names->ErrorText());
    return uids;
}

void TDavNames::Remember(const QString& uid, const QString& name, const QString& key, bool series)
{
    TXIsamFile* names = map();
    if (!names || !TClientNames::Keepable(uid) || UidOf(key, series) == uid)
        return;
    TClientNames::Put(*names, TClientNames::Forward(userKey_, uid), key, series);
    if (!name.isEmpty() && name != uid)
        TClientNames::Put(*names, TClientNames::Forward(userKey_, name), key, series);
    TClientNames::PutUid(*names, userKey_, key, uid, series);
}
