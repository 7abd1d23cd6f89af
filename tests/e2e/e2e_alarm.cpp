// Gives the first user of this workstation's database an alarm that is due, as
// another workstation would: "event" adds an event on a Wednesday of September
// (the longest names the pop-up shows) with its alarm a minute ago; "orphan"
// adds only an alarm whose event does not exist, which the next poll reports
// in a message box. Used by the end-to-end run of the program.
//
//   e2e_alarm event|orphan

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TStamp.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2 || (std::strcmp(argv[1], "event") != 0 && std::strcmp(argv[1], "orphan") != 0)) {
        std::fprintf(stderr, "usage: e2e_alarm event|orphan\n");
        return 2;
    }
    TScriptedServices services;
    TQuorlaDB db(TScriptedServices::ofTest());
    const QString user = RecordKey::format(1);
    TStamp due;
    due.SetNow();
    due.Increment(TStamp::IncSeconds, -60);
    AlarmRecord alarm;
    db.InitAlarmRecord(alarm);
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(due.Key());
    if (std::strcmp(argv[1], "event") == 0) {
        DayEntryRecord entry;
        db.InitDayEntryRecord(entry);
        TStamp start;
        start.SetDateTime(2027, 9, 29, 23, 55, 0);
        entry.setStartTime(start.Key());
        entry.setOwnerKey(user);
        entry.setAssigneeKeys({user});
        entry.setDescription(QStringLiteral("Quarterly budget review with the whole team"));
        TEventWriter(db).insertEntryWithAlarms(entry, alarm);
        return 0;
    }
    alarm.setUserKey(user);
    alarm.setDayEntryKey(RecordKey::format(999999));
    alarm.rebuildUserAlarmKey();
    return db.Alarms().Insert(alarm.bytes()) ? 0 : 1;
}
