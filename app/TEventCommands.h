#pragma once

#include <QString>

#include <functional>

class AlarmRecord;
class DayEntryRecord;
class TQuorlaDB;
class TfrmEvent;
class TfrmMain;

// The three commands that change day entries - New event, Event properties and
// Delete event - run on the main window's Database against the active view's
// selection. They keep each entry's alarms in step with it: an entry with an
// alarm has one alarm record per assignee, all at the same time.
//
// Existing records change only under their record locks, and the entry's lock
// always comes first: Properties holds it while the editor is open, and both
// Properties and Delete take every alarm lock they need before they write
// anything, so a lock held on another workstation leaves the entry and its
// alarms exactly as they were. Every lock is released and the busy cursor
// restored on every way out. Data-store failures are raised as EQuorla with
// the dataset's error text; the caller runs the commands inside TCommand.
class TEventCommands
{
public:
    // Runs the event editor: `userSelection` is whether the user may choose
    // the assignees; returns 1 when the user confirmed, the buffers then
    // holding the edited entry and alarm choice.
    using TEditor = std::function<int(bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm)>;

    explicit TEventCommands(TfrmMain& main);

    // The editor the commands open; UseEditor sets it to `frmEvent`.
    TEditor Editor;
    void UseEditor(TfrmEvent& frmEvent);

    void actEventNewExecute();
    void actEventPropertiesExecute();
    void actEventDeleteExecute();

    static const QString NotDisplayed;

private:
    QString SelectedPk() const;
    QString SelectedDateKey() const;
    QString SelectedDescription() const;
    bool MayChooseUsers() const;
    void TellIfHidden(const DayEntryRecord& entry);

    TfrmMain& main_;
    // The entry Event properties has open in the editor (its History).
    QString editing_;
};
