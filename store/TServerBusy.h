#pragma once

#include "DayEntryRecord.h"
#include "TEntryDetails.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class TQuorlaDB;

// Busy times on a PostgreSQL server whose users are server roles
// (TServerRoles), read in one statement: the entries a person's session
// reads, with the heads of their details, and the private entries his row
// policies hide from him, which take their assignees' time all the same. A
// function of the server's own (quorla_busy_hidden, run with its owner's
// rights) answers those without their text: each private entry of the users
// asked whose start lies in a range, or earlier when its own head reaches
// further than ShortReachDays (DetailRecord::ReachesOn) or when it is an
// occurrence without details of its own whose series' template spans days
// back to it, its description blanked, with the head of its details (its
// own, or its series' template's) without the place.
namespace TServerBusy {

// The function's statements, for the schema `schema` (quoted); the entries' and the
// details' tables must exist, and with `series` the series links' too.
QByteArray Sql(const QByteArray& schema, bool series);

// Whether `database` is a server that answers busy times itself (Read):
// one that keeps its users as roles and the entries' details.
bool Answers(TQuorlaDB& database);

// An entry as Read answers it: with the head of its details (its own, or
// its series' template's; empty when it has none), its text blanked when
// the session may not read it.
struct TRead
{
    QString key;
    DayEntryRecord entry;
    TEntryDetails details;
    bool blanked = false;
};

// In one statement: the entries of `users` starting from time key `fromKey`
// to `toKey`, and those starting earlier that reach far, as the session
// reads them, with the private ones it may not read answered by
// quorla_busy_hidden. `hidden` tells whether the server has that function:
// asked when negative (a set-up made before it answers no such entry),
// then kept for the next reads. Only where Answers; a failed read throws
// EQuorlaDB with the server's reason.
QList<TRead> Read(TQuorlaDB& database, const QString& fromKey, const QString& toKey, const QStringList& users,
                  int& hidden);

} // namespace TServerBusy
