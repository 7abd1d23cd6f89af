#pragma once

#include "TRecordWriter.h"
#include "TStamp.h"

#include <QString>

#include <functional>

class AlarmRecord;
class TQuorlaDB;

// One poll of a user's alarms: while the user's earliest alarm is due, it is
// handed to the pop-up, and the look-up starts again from the user's earliest
// alarm. A poll in which nothing is due costs one positioning and one read on
// the user's own part of the user-and-time index, whatever the size of the
// dataset. A read that fails for any other reason than "no such record" throws
// EQuorla with the dataset's error text: the poll ends there and nothing is
// touched.
class TAlarmPoller
{
public:
    // Shows one due alarm stored under the key; TfrmNotify::Execute's contract
    // (the program's pop-up, or the reliability check's answers).
    using TPopup = std::function<int(AlarmRecord& alarm, const QString& key, TQuorlaDB& database)>;

    explicit TAlarmPoller(TPopup popup);

    // Run after every pop-up (the main window refreshes its view).
    std::function<void()> AfterPopup;
    // Told of every write the poll's extension of repeating events makes
    // (observers only: the reliability check's log).
    std::function<void(const TRecordWriter::TWrite&)> OnSeriesWrite;

    // Polls `userKey`'s alarms in `database` (the alarm poll's own database
    // object, so the views' scan positions never move). Errors of the pop-up
    // (a failed delete of an orphan alarm) pass on to the caller. First it
    // extends the repeating events due for it by a few occurrences
    // (TSeriesWriter::Extend), whoever's they are, and sweeps a few of the
    // details records whose entry is gone (TDetailsWriter::Sweep) and of the
    // bin's items past the retention (TBin::Sweep).
    void Poll(TQuorlaDB& database, const QString& userKey);

    // Poll for the alarm timer: a failure throws only when the poll before
    // it worked (or when it is the first), so that a database server or share
    // that stays away is reported once, not every 10 seconds while it is
    // gone. The caller polls on; the first poll that works again - on a
    // server, through a new session - ends the quiet spell. False for a
    // failure kept quiet.
    bool PollReportingOnce(TQuorlaDB& database, const QString& userKey);

    // "Now" for each comparison.
    TStamp ClockStamp;

private:
    // Whether user `userKey` has the right to administer (read afresh each
    // poll: rights change while a workstation runs).
    static bool administers(TQuorlaDB& database, const QString& userKey);

    TPopup popup_;
    bool failing_ = false;
    // Where the next poll's sweep of the details goes on (TDetailsWriter).
    QString sweepFrom_;
};
