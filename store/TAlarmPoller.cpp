#include "TAlarmPoller.h"

#include "AlarmRecord.h"
#include "TBin.h"
#include "TDetailsWriter.h"
#include "RecordKey.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRoleBounds.h"
#include "TSeriesWriter.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <utility>

namespace {

constexpr int DetailsSweptPerPoll = 64;
constexpr int BinSweptPerPoll = 64;

} // namespace

TAlarmPoller::TAlarmPoller(TPopup popup)
    : popup_(std::move(popup))
{
}

void TAlarmPoller::Poll(TQuorlaDB& database, const QString& userKey)
{
    // The rights the last poll's reap answered: no read of their own.
    const std::optional<int> rights = TRoleBounds::AnsweredRights(database);
    // Repeating events grow as the days pass: a few more occurrences a poll
    // (one index read when none is due), before their alarms are looked at.
    ClockStamp.SetNow();
    // Where each person logs in as himself, the server lets him add only
    // his own entries: his poll grows his own series, and each owner's poll
    // grows his; an administrator's, which may add anyone's, grows all.
    TSeriesWriter series(database);
    series.OnWrite = OnSeriesWrite;
    const bool own = database.KeepsRoles()
        && !(rights ? (*rights & UserRecord::CanAdminister) != 0 : administers(database, userKey));
    series.Extend(ClockStamp.AsDateTime().date(), TSeriesWriter::ExtendPerPoll, own ? userKey : QString());
    // Workstations that know no details delete entries without theirs: a
    // few records a poll, so that a whole pass costs nothing noticeable.
    sweepFrom_ = TDetailsWriter::Sweep(database, sweepFrom_, DetailsSweptPerPoll);
    // The bin's items past the retention, a few records a poll: where the
    // server lets a person remove only his own, an administrator's poll.
    if (!own)
        TBin::Sweep(database, BinSweptPerPoll);

    TXIsamFile& alarms = database.Alarms();
    AlarmRecord alarm;
    for (;;) {
        // The index holds the user's key followed by the time, so the exact
        // look-up of the bare key finds nothing and stands just before the
        // user's earliest alarm.
        bool found = TLookup::Equal(alarms, alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey);
        if (!found && !TLookup::Next(alarms, alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey, TXIsamFile::ScanPrefix))
            break;
        ClockStamp.SetNow();
        // The earliest alarm decides: when it is not due, none is.
        if (RecordKey::parse(alarm.AlarmTime()) > ClockStamp.Seconds())
            break;
        popup_(alarm, alarms.CurrentKey(), database);
        if (AfterPopup)
            AfterPopup();
    }
    // Every workstation's poll has the server end the sessions that hold
    // the others up past their bounds: no process of its own needed. Sent
    // last and awaited by nobody, so that the server's look at every
    // session and lock is never part of a poll.
    TRoleBounds::ReapAside(database);
}

bool TAlarmPoller::administers(TQuorlaDB& database, const QString& userKey)
{
    UserRecord user;
    return TLookup::Equal(database.Users(), user.bytes(), TXIsamFile::PrimaryIndex, userKey)
        && (user.Rights() & UserRecord::CanAdminister) != 0;
}

bool TAlarmPoller::PollReportingOnce(TQuorlaDB& database, const QString& userKey)
{
    try {
        Poll(database, userKey);
        failing_ = false;
        return true;
    } catch (...) {
        if (std::exchange(failing_, true))
            return false;
        throw;
    }
}
