#include "TChangeLines.h"

#include "RecordKey.h"
#include "TChangeSummary.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <algorithm>

TChangeLines::TChangeLines(TQuorlaDB& database)
    : database_(database)
{
}

const QHash<QString, QString>& TChangeLines::trailNames()
{
    if (!trailNames_)
        trailNames_ = database_.Trail().UserNames();
    return *trailNames_;
}

QString TChangeLines::FullNameOf(const QString& userKey)
{
    if (const auto it = names_.constFind(userKey); it != names_.constEnd())
        return *it;
    UserRecord user;
    QString name;
    if (RecordKey::isNone(userKey))
        name = QStringLiteral("nobody logged in");
    else if (TLookup::Equal(database_.Users(), user.bytes(), TXIsamFile::PrimaryIndex, userKey))
        name = user.FullName();
    else if (const auto named = trailNames().constFind(userKey); named != trailNames().constEnd())
        name = *named + QStringLiteral(" (removed)");
    else
        name = QStringLiteral("user ") + userKey;
    names_.insert(userKey, name);
    return name;
}

QList<std::pair<QString, QString>> TChangeLines::FormerUsers()
{
    QStringList keys = trailNames().keys();
    std::sort(keys.begin(), keys.end());
    QList<std::pair<QString, QString>> former;
    UserRecord user;
    for (const QString& key : keys)
        if (!TLookup::Equal(database_.Users(), user.bytes(), TXIsamFile::PrimaryIndex, key))
            former.append({key, FullNameOf(key)});
    return former;
}

QString TChangeLines::Line(const TChangeTrail::TEntry& entry)
{
    return QStringLiteral("%1  %2 on %3: %4: %5")
        .arg(TChangeSummary::MomentOf(entry.when), FullNameOf(entry.userKey), entry.workstation,
             TChangeTrail::ActionText(entry.action), entry.summary);
}
