#pragma once

#include "TChangeTrail.h"

#include <QHash>
#include <QString>

class TXIsamFile;

// The one-line text of a change in the History list and the Changes page:
// "dd/mm/yy hh:nn  <full name> on <workstation>: <action>: <summary>". A user
// who is no longer in the users dataset shows as "user <key>". Each user is
// read once per object.
class TChangeLines
{
public:
    explicit TChangeLines(TXIsamFile& users);

    QString Line(const TChangeTrail::TEntry& entry);
    QString FullNameOf(const QString& userKey);

private:
    TXIsamFile& users_;
    QHash<QString, QString> names_;
};
