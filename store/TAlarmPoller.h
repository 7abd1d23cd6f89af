#pragma once

#include "TStamp.h"

#include <QString>

#include <functional>

class AlarmRecord;
class TQuorlaDB;
class TfrmNotify;

// One poll of a user's alarms: while the user's earliest alarm is due, it is
// shown in the pop-up, and the look-up starts again from the user's earliest
// alarm. A poll in which nothing is due costs one positioning and one read on
// the user's own part of the user-and-time index, whatever the size of the
// dataset.
class TAlarmPoller
{
public:
    // Shows one due alarm stored under the key; TfrmNotify::Execute's contract.
    using TPopup = std::function<int(AlarmRecord& alarm, const QString& key, TQuorlaDB& database)>;

    explicit TAlarmPoller(TfrmNotify& notify);
    // Answers the due alarms through `popup` instead of the pop-up dialog (the
    // reliability check, which runs without a screen).
    explicit TAlarmPoller(TPopup popup);

    // Run after every pop-up (the main window refreshes its view).
    std::function<void()> AfterPopup;

    // Polls `userKey`'s alarms in `database` (the alarm poll's own database
    // object, so the views' scan positions never move). Errors of the pop-up
    // (a failed delete of an orphan alarm) pass on to the caller.
    void Poll(TQuorlaDB& database, const QString& userKey);

    // "Now" for each comparison.
    TStamp ClockStamp;

private:
    TPopup popup_;
};
