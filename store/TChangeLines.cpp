#include "TChangeLines.h"

#include "RecordKey.h"
#include "TChangeSummary.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

TChangeLines::TChangeLines(TXIsamFile& users)
    : users_(users)
{
}

QString TChangeLines::FullNameOf(const QString& userKey)
{
    if (const auto it = names_.constFind(userKey); it != names_.constEnd())
        return *it;
    UserRecord user;
    QString name;
    if (RecordKey::isNone(userKey))
        name = QStringLiteral("nobody logged in");
    else if (users_.GetEqual(user.bytes(), TXIsamFile::PrimaryIndex, userKey))
        name = user.FullName();
    else
        name = QStringLiteral("user ") + userKey;
    names_.insert(userKey, name);
    return name;
}

QString TChangeLines::Line(const TChangeTrail::TEntry& entry)
{
    return QStringLiteral("%1  %2 on %3: %4: %5")
        .arg(TChangeSummary::MomentOf(entry.when), FullNameOf(entry.userKey), entry.workstation,
             TChangeTrail::ActionText(entry.action), entry.summary);
}
