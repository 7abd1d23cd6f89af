#pragma once

#include "TServices.h"

#include <QString>

#include <functional>

class AlarmRecord;
class DayEntryRecord;
class TSession;
class TViewNavigator;
class TfrmEvent;

// The three commands that change day entries - New event, Event properties and
// Delete event - run on the session's database against the selection of the
// view on show. The store's event writer keeps each entry's alarms in step
// with it (one per assignee).
//
// Existing records change only under their record locks, and the entry's lock
// always comes first: Properties holds it while the editor is open, and both
// Properties and Delete take every alarm lock they need before they write
// anything, so a lock held on another workstation leaves the entry and its
// alarms exactly as they were. Every lock is released and the busy cursor
// restored on every way out. Data-store failures are raised as EQuorla with
// the dataset's error text; the caller runs the commands inside TCommand.
//
// The e-mail to the assignees, when the editor asked for one, is handed to
// the mail system after the entry is written, and nothing waits for it; a
// hand-off that fails is reported with its reason when it ends.
class TEventCommands
{
public:
    // Runs the event editor: `userSelection` is whether the user may choose
    // the assignees; returns 1 when the user confirmed, the buffers then
    // holding the edited entry and alarm choice and `mail` the message to the
    // other assignees (no recipients: none to send).
    using TEditor = std::function<int(bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm,
                                      TServices::MailMessage& mail)>;

    TEventCommands(TSession& session, TViewNavigator& views);

    // The editor the commands open; UseEditor sets it to `frmEvent`.
    TEditor Editor;
    void UseEditor(TfrmEvent& frmEvent);

    void actEventNewExecute();
    void actEventPropertiesExecute();
    void actEventDeleteExecute();

    static const QString NotDisplayed;
    static const QString MailFailed;

private:
    void TellIfHidden(const DayEntryRecord& entry);
    void HandOff(const TServices::MailMessage& mail);

    TSession& session_;
    TViewNavigator& views_;
    // The entry Event properties has open in the editor (its History).
    QString editing_;
};
