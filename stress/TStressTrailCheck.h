#pragma once

#include "TDatabaseLocation.h"

#include <QString>
#include <QStringList>

// The change trail and the lock holder notes after a stress run, read through
// the engine from the database at `location` (a folder ending in "/", or a
// server's URI):
// - every change a worker made (each acknowledged write that stands for a
//   change: an entry added, changed or deleted, an alarm snoozed or switched
//   off, a category or user added, changed or removed) has exactly one trail
//   record with its action, dataset, key, the worker's user and workstation -
//   except changes of a command cut short by a kill or an error, whose record
//   may be missing: those are counted;
// - no trail record stands for a change that was not made;
// - each series command that was done has its one record (added, changed,
//   deleted) on its series, a split on both; a cut one may lack it;
// - every holder note left is a killed worker's (a live one removes its own),
//   or on a server one whose session was lost under a failed command (its
//   lock went with the session; the note's removal could not reach the
//   server).
class TStressTrailCheck
{
public:
    TStressTrailCheck(TDatabaseLocation location, QString logFolder, QStringList killedLogs);

    // Adds what it finds wrong to `faults`; prints its figures.
    void check(QStringList& faults);

    int checked = 0;
    int seriesChecked = 0;
    int cut = 0;
    int cutByError = 0;
    int notesLeftByKills = 0;
    int notesLeftByLostSessions = 0;
    int named = 0;

private:
    TDatabaseLocation location_;
    QString logFolder_;
    QStringList killed_;
};
