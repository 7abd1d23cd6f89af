#include "TEventCommands.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TBusyCursor.h"
#include "TDayView.h"
#include "TEventWriter.h"
#include "TFilterRules.h"
#include "THolderNotes.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TServices.h"
#include "TWeekView.h"
#include "TfrmEvent.h"
#include "TfrmMain.h"
#include "UserRecord.h"

#include <optional>

namespace {

using Kind = TServices::MessageKind;
using Buttons = TServices::MessageButtons;
using Answer = TServices::MessageAnswer;

const QString EditLocked = QStringLiteral("Unable to edit event properties. Another user has locked it");
const QString EditGone = QStringLiteral("Unable to edit event properties. Another user has deleted it");
const QString DeleteLocked = QStringLiteral("Unable to delete event. Another user has locked it");
const QString DeleteGone = QStringLiteral("Unable to delete event. Another user has deleted it");
const QString DeleteChanged = QStringLiteral("Unable to delete event. Another user has changed it");
const QString AlarmLocked = QStringLiteral("Unable to delete alarm. Another user has locked it");

void tell(const QString& text)
{
    TServices::current().message(Kind::Information, Buttons::Ok, text);
}

} // namespace

const QString TEventCommands::NotDisplayed
    = QStringLiteral("This entry will not be displayed due to your privaledges / filtering options");

TEventCommands::TEventCommands(TfrmMain& main)
    : main_(main)
{
}

void TEventCommands::UseEditor(TfrmEvent& frmEvent)
{
    Editor = [this, &frmEvent](bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm) {
        frmEvent.EnableUserSelection(userSelection);
        frmEvent.SetEntryKey(isEdit ? editing_ : QString());
        return frmEvent.Execute(isEdit, entry, alarm, *main_.Database(), main_.CurrentUserKey(), *main_.Settings());
    };
}

QString TEventCommands::SelectedPk() const
{
    return main_.WeekViewActive() ? main_.WeekView()->SelectedPk() : main_.DayView()->SelectedPk();
}

QString TEventCommands::SelectedDateKey() const
{
    return main_.WeekViewActive() ? main_.WeekView()->SelectedDateKey() : main_.DayView()->Stamp.Key();
}

QString TEventCommands::SelectedDescription() const
{
    return main_.WeekViewActive() ? main_.WeekView()->SelectedDescription() : main_.DayView()->SelectedDescription();
}

bool TEventCommands::MayChooseUsers() const
{
    return (main_.CurrentUser().Rights() & UserRecord::CanAddEntriesForOthers) != 0;
}

void TEventCommands::TellIfHidden(const DayEntryRecord& entry)
{
    if (!main_.EntryVisible(entry, *main_.FilterRules()))
        tell(NotDisplayed);
}

void TEventCommands::actEventNewExecute()
{
    TQuorlaDB* db = main_.Database();
    if (db == nullptr || !Editor)
        return;
    DayEntryRecord entry;
    db->InitDayEntryRecord(entry);
    entry.setStartTime(SelectedDateKey());
    entry.setOwnerKey(main_.CurrentUserKey());
    const bool chooseUsers = MayChooseUsers();
    // Without the right to add entries for others, the entry is his own.
    if (!chooseUsers)
        entry.setAssignee(0, main_.CurrentUserKey());
    AlarmRecord alarm;
    db->InitAlarmRecord(alarm);
    alarm.setAlarmTime(entry.StartTime());
    if (Editor(false, chooseUsers, entry, alarm) != 1)
        return;

    TBusyCursor busy;
    TEventWriter(*db).insertEntryWithAlarms(entry, alarm);
    TellIfHidden(entry);
    main_.RefreshView();
}

void TEventCommands::actEventPropertiesExecute()
{
    TQuorlaDB* db = main_.Database();
    const QString key = SelectedPk();
    if (db == nullptr || !Editor || RecordKey::isNone(key))
        return;
    DayEntryRecord entry;
    {
        TEventWriter writer(*db);
        AlarmRecord alarm;
        bool hadAlarm = false;
        // Held while the editor is open, so no other workstation edits or
        // deletes the entry meanwhile.
        std::optional<TRecordLock> lock;
        switch (writer.openEntry(key, lock, entry, alarm, hadAlarm)) {
        case TEventWriter::Result::EntryLocked:
            tell(THolderNotes::WithHolder(EditLocked, writer.LockHolder()));
            return;
        case TEventWriter::Result::Gone:
            // The screen showed an entry that is no longer there.
            tell(EditGone);
            main_.RefreshView();
            return;
        default:
            break;
        }
        if (!hadAlarm) {
            db->InitAlarmRecord(alarm);
            alarm.setAlarmTime(SelectedDateKey());
        }
        editing_ = key;
        const int edited = Editor(true, MayChooseUsers(), entry, alarm);
        editing_.clear();
        if (edited == 1) {
            TBusyCursor busy;
            // Every alarm lock before any write: a lock held elsewhere leaves
            // the entry and all its alarms as they were.
            if (writer.updateEntryReplacingAlarms(key, entry, alarm) != TEventWriter::Result::Done) {
                tell(AlarmLocked);
                return;
            }
        }
    }
    TellIfHidden(entry);
    main_.RefreshView();
}

void TEventCommands::actEventDeleteExecute()
{
    TQuorlaDB* db = main_.Database();
    const QString key = SelectedPk();
    if (db == nullptr || RecordKey::isNone(key))
        return;
    const QString description = SelectedDescription();
    const QString question = QStringLiteral("Delete event \"%1\". Are you sure?").arg(description);
    if (TServices::current().message(Kind::Confirmation, Buttons::YesNo, question) != Answer::Yes)
        return;
    TEventWriter::Result result;
    TEventWriter writer(*db);
    {
        TBusyCursor busy;
        // Only the entry the user confirmed: one changed or deleted elsewhere
        // since the screen showed it is left alone.
        result = writer.deleteEntryWithAlarms(key, description);
    }
    switch (result) {
    case TEventWriter::Result::EntryLocked:
        tell(THolderNotes::WithHolder(DeleteLocked, writer.LockHolder()));
        return;
    case TEventWriter::Result::AlarmLocked:
        tell(AlarmLocked);
        return;
    case TEventWriter::Result::Gone:
        tell(DeleteGone);
        break;
    case TEventWriter::Result::Changed:
        tell(DeleteChanged);
        break;
    default:
        break;
    }
    main_.RefreshView();
}
