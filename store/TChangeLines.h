#pragma once

#include "TChangeTrail.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

class TQuorlaDB;

// The one-line text of a change in the History list and the Changes page:
// "dd/mm/yy hh:nn  <full name> on <workstation>: <action>: <summary>". A user
// who is no longer in the users dataset is named as the change trail last
// named him, "<full name> (removed)", or as "user <key>" when it never did.
// Each user is read once per object.
class TChangeLines
{
public:
    explicit TChangeLines(TQuorlaDB& database);

    QString Line(const TChangeTrail::TEntry& entry);
    QString FullNameOf(const QString& userKey);
    // The users the trail names who are no longer in the users dataset, as
    // key and name (as FullNameOf gives it), in key order.
    QList<std::pair<QString, QString>> FormerUsers();

private:
    const QHash<QString, QString>& trailNames();

    TQuorlaDB& database_;
    QHash<QString, QString> names_;
    std::optional<QHash<QString, QString>> trailNames_;
};
