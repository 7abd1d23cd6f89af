#pragma once

#include "DayEntryRecord.h"
#include "TEntryDetails.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class TQuorlaDB;

// Busy times on a PostgreSQL server whose users are server roles
// (TServerRoles): a person's row policies hide the private entries he is no
// assignee of, yet those take their assignees' time all the same. A function
// of the server's own (quorla_busy_hidden, run with its owner's rights)
// answers them without their text: each private entry of the users asked
// whose start lies in a range, or earlier when its own head reaches further
// than ShortReachDays (DetailRecord::ReachesOn) or when it is an occurrence
// without details of its own whose series' template spans days back to it,
// its description blanked, with
// the head of its details (its own, or its series' template's) without the
// place.
namespace TServerBusy {

// The statements, for the schema `schema` (quoted); the entries' and the
// details' tables must exist, and with `series` the series links' too.
QByteArray Sql(const QByteArray& schema, bool series);

struct THidden
{
    QString key;
    DayEntryRecord entry;
    TEntryDetails details;
};

// The private entries of `users` starting from time key `fromKey` to
// `toKey`, and those starting earlier that reach far, without their text; none on a folder, on a server that keeps no
// roles, and on one set up before the function was there. A failed read
// throws EQuorlaDB with the server's reason.
QList<THidden> Hidden(TQuorlaDB& database, const QString& fromKey, const QString& toKey, const QStringList& users);

} // namespace TServerBusy
