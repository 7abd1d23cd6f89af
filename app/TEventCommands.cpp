#include "TEventCommands.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TBusyCursor.h"
#include "TCommand.h"
#include "TCommandScope.h"
#include "TEventWriter.h"
#include "THolderNotes.h"
#include "TQuorlaCfg.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TSession.h"
#include "TUserWriter.h"
#include "TViewNavigator.h"
#include "TOutageWatch.h"
#include "TfrmEvent.h"
#include "UserRecord.h"

#include <optional>
#include <utility>

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
const QString EditAlarmLocked
    = QStringLiteral("Unable to save event properties. Another user has locked the alarm of %1\r\r"
                     "Nothing was saved: the event and its alarms are as they were.");

void tell(const QString& text)
{
    TServices::current().message(Kind::Information, Buttons::Ok, text);
}

// A save that failed and may be tried again from the editor, which reopens
// with what was typed: the failure is shown whether or not its outage was
// told already (TCommand::Screen still learns of it). A commit whose answer
// was lost is not tried again - the change may be there - and passes on.
void reportFailedSave(const EQuorla& error)
{
    if (error.message() == QString::fromLatin1(TCommandScope::LostWhileSaving))
        throw;
    if (TCommand::Screen)
        TCommand::Screen(error.message());
    TServices::current().showApplicationError(TOutageWatch::Clean(error.message()));
}

} // namespace

const QString TEventCommands::NotDisplayed
    = QStringLiteral("This entry will not be displayed due to your privaledges / filtering options");

const QString TEventCommands::MailFailed = QStringLiteral("Unable to send EMail as requested");

TEventCommands::TEventCommands(TSession& session, TViewNavigator& views)
    : session_(session), views_(views)
{
}

void TEventCommands::UseEditor(TfrmEvent& frmEvent)
{
    Editor = [this, &frmEvent](bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm,
                               TServices::MailMessage& mail) {
        frmEvent.EnableUserSelection(userSelection);
        frmEvent.SetEntryKey(isEdit ? editing_ : QString());
        const int result
            = frmEvent.Execute(isEdit, entry, alarm, *session_.Database(), session_.CurrentUserKey(), *session_.Settings());
        mail = frmEvent.Mail();
        return result;
    };
}

void TEventCommands::TellIfHidden(const DayEntryRecord& entry)
{
    if (!session_.EntryVisible(entry))
        tell(NotDisplayed);
}

void TEventCommands::HandOff(const TServices::MailMessage& mail)
{
    if (mail.recipients.isEmpty())
        return;
    TServices::current().sendMail(mail, [](const TServices::HandOffResult& result) {
        if (result.outcome == TServices::Outcome::Done)
            return;
        TCommand::Run([&result] {
            tell(result.errorText.isEmpty() ? MailFailed : MailFailed + QStringLiteral("\r\r") + result.errorText);
        });
    });
}

void TEventCommands::actEventNewExecute()
{
    TQuorlaDB* db = session_.Database();
    if (db == nullptr || !Editor)
        return;
    DayEntryRecord entry;
    db->InitDayEntryRecord(entry);
    entry.setStartTime(views_.SelectedDateKey());
    entry.setOwnerKey(session_.CurrentUserKey());
    const bool chooseUsers = session_.MayAddForOthers();
    // Without the right to add entries for others, the entry is his own.
    if (!chooseUsers)
        entry.setAssignee(0, session_.CurrentUserKey());
    AlarmRecord alarm;
    db->InitAlarmRecord(alarm);
    alarm.setAlarmTime(entry.StartTime());
    TServices::MailMessage mail;
    for (;;) {
        if (Editor(false, chooseUsers, entry, alarm, mail) != 1)
            return;
        try {
            TBusyCursor busy;
            TEventWriter(*db).insertEntryWithAlarms(entry, alarm);
            break;
        } catch (const EQuorla& error) {
            reportFailedSave(error);
        }
    }
    HandOff(mail);
    TellIfHidden(entry);
    views_.RefreshView();
}

void TEventCommands::actEventPropertiesExecute()
{
    TQuorlaDB* db = session_.Database();
    const QString key = views_.SelectedPk();
    if (db == nullptr || !Editor || RecordKey::isNone(key))
        return;
    DayEntryRecord entry;
    TServices::MailMessage mail;
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
            views_.RefreshView();
            return;
        default:
            break;
        }
        // The alarm time the entry has: kept as it is, it keeps each
        // assignee's alarm as it stands.
        const QString openedAlarmTime = hadAlarm ? alarm.AlarmTime() : QString();
        if (!hadAlarm) {
            db->InitAlarmRecord(alarm);
            alarm.setAlarmTime(views_.SelectedDateKey());
        }
        // After a failed save the editor opens again with what was typed;
        // the entry's lock, which a lost session took with it, is taken again
        // before the next save.
        bool relock = false;
        TEventWriter::Result saved = TEventWriter::Result::Done;
        int edited = 0;
        for (;;) {
            editing_ = key;
            edited = Editor(true, session_.MayAddForOthers(), entry, alarm, mail);
            editing_.clear();
            if (edited != 1)
                break;
            try {
                TBusyCursor busy;
                if (std::exchange(relock, false)) {
                    lock.reset();
                    lock.emplace(db->DayEntries(), key, &db->Holders());
                    if (!lock->Held()) {
                        const QString holder = lock->HolderLine();
                        lock.reset();
                        tell(THolderNotes::WithHolder(EditLocked, holder));
                        return;
                    }
                }
                // Every alarm lock before any write: a lock held elsewhere
                // leaves the entry and all its alarms as they were, and the
                // user is told that nothing of his edit was kept.
                saved = writer.updateEntryWithAlarms(key, entry, alarm, openedAlarmTime);
                break;
            } catch (const EQuorla& error) {
                reportFailedSave(error);
                relock = true;
            }
        }
        if (edited != 1) {
            mail = {};
        } else {
            if (saved == TEventWriter::Result::Gone) {
                tell(EditGone);
                views_.RefreshView();
                return;
            }
            if (saved != TEventWriter::Result::Done) {
                UserRecord user;
                const QString userKey = writer.LockedAlarmUser();
                const QString name = TUserWriter(db->Users()).readUser(userKey, user)
                    ? user.FullName() : QStringLiteral("user ") + userKey;
                tell(THolderNotes::WithHolder(EditAlarmLocked.arg(name), writer.LockHolder()));
                return;
            }
        }
    }
    HandOff(mail);
    TellIfHidden(entry);
    views_.RefreshView();
}

void TEventCommands::actEventDeleteExecute()
{
    TQuorlaDB* db = session_.Database();
    const QString key = views_.SelectedPk();
    if (db == nullptr || RecordKey::isNone(key))
        return;
    const QString description = views_.SelectedDescription();
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
    views_.RefreshView();
}
