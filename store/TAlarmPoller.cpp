#include "TAlarmPoller.h"

#include "AlarmRecord.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TfrmNotify.h"

namespace {

constexpr qint16 UserAlarmIndex = 5;

} // namespace

TAlarmPoller::TAlarmPoller(TfrmNotify& notify)
    : popup_([&notify](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
          return notify.Execute(alarm, key, database);
      })
{
}

TAlarmPoller::TAlarmPoller(TPopup popup)
    : popup_(std::move(popup))
{
}

void TAlarmPoller::Poll(TQuorlaDB& database, const QString& userKey)
{
    TXIsamFile& alarms = database.Alarms();
    AlarmRecord alarm;
    for (;;) {
        // The index holds the user's key followed by the time, so the exact
        // look-up of the bare key finds nothing and stands just before the
        // user's earliest alarm.
        alarms.GetEqual(alarm.bytes(), UserAlarmIndex, userKey);
        if (!alarms.Get(alarm.bytes(), UserAlarmIndex, userKey, TXIsamFile::ScanPrefix))
            return;
        ClockStamp.SetNow();
        // The earliest alarm decides: when it is not due, none is.
        if (RecordKey::parse(alarm.AlarmTime()) > ClockStamp.Seconds())
            return;
        popup_(alarm, alarms.CurrentKey(), database);
        if (AfterPopup)
            AfterPopup();
    }
}
