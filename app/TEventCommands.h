#pragma once

#include "TEntryDetails.h"
#include "TEventWriter.h"
#include "TRecordLock.h"
#include "TRecurrenceRule.h"
#include "TSeriesWriter.h"
#include "TServices.h"

#include <QString>

#include <functional>
#include <optional>

class AlarmRecord;
class SeriesLinkRecord;
class SeriesRecord;
class DayEntryRecord;
class TOutageScreen;
class TQuorlaDB;
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
//
// Repeating events. New event with a repeat creates a series (TSeriesWriter):
// its template is the edited entry and alarm, its rule the editor's. Event
// properties and Delete event on an occurrence first ask which events they
// act on (SeriesChoices: this one, this and the following, all), through the
// services so that tests answer it. This one is the entry alone under its
// lock (changed alone it becomes an exception the series leaves as it is);
// the other two go to the series writer (all: every part "this and
// following" split the series into), which leaves occurrences open on
// other workstations as they are: the person is told which, and who holds
// them. Every occurrence a series change touches is the series' owner's, so
// the right to change the owner's entries is checked once, on the series.
class TEventCommands
{
public:
    // Runs the event editor: `userSelection` is whether the user may choose
    // the assignees; returns 1 when the user confirmed, the buffers then
    // holding the edited entry and alarm choice and `mail` the message to the
    // other assignees (no recipients: none to send).
    using TEditor = std::function<int(bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm,
                                      TDesktopServices::MailMessage& mail)>;

    // The editor's Repeat section: set before Editor runs (the repeat shown,
    // whether it may be changed), and read after a confirmed one (the repeat
    // chosen; nothing: none), and the stored series it changes (empty for
    // none).
    struct TRepeat
    {
        std::optional<TRecurrenceRule> rule;
        bool editable = true;
        QString seriesKey;
    };
    TRepeat Repeat;
    // The editor's end, place and notes: set before Editor runs (those
    // stored, read when the editor opens), read after a confirmed one (and
    // before each save it runs), and written with the entry or series.
    TEntryDetails Details;
    // The resources the event books, as Details: set before Editor runs,
    // read after a confirmed one, booked with the entry or series.
    QStringList Resources;

    // `screen` is the window's error screen, which also serves as
    // services.person(): a save that fails is shown through it whether or not
    // its outage was told already.
    TEventCommands(TServices services, TOutageScreen& screen, TSession& session, TViewNavigator& views);

    // The editor the commands open; UseEditor sets it to `frmEvent`.
    TEditor Editor;
    // While Editor runs: the save an editor may run on OK before it closes
    // (true: saved, or ended with a message; the editor closes. false: the
    // failure was shown and the editor stays open with what was typed). An
    // editor that does not run it has it run once it returns 1, and is
    // opened again with what was typed when it fails.
    std::function<bool()> Saving;
    void UseEditor(TfrmEvent& frmEvent);

    void actEventNewExecute();
    void actEventPropertiesExecute();
    void actEventDeleteExecute();

    static const QString NotDisplayed;
    static const QString MailFailed;
    // The three-way question on an occurrence: its texts (%1: the
    // description) and its choices, in the order of TSeriesWriter::Scope.
    static const QString ChangeWhich;
    static const QString DeleteWhich;
    static const QStringList SeriesChoices;
    static const QString SeriesLocked;
    static const QString SeriesNoRight;
    // A change from this event on, or of all, of a series whose template is
    // private to others: the editor would show it.
    static const QString SeriesPrivate;
    static const QString SeriesKeepsRepeat;
    static const QString SeriesUnavailable;
    // All events of a series split into parts, with a changed repeat.
    static const QString SeriesPartsRepeat;
    // Heads the list of occurrences a series change left, one line each:
    // from then on they keep what they hold whatever the series becomes
    // (the views mark them so).
    static const QString SeriesLeft;
    static const QString SeriesNotBooked;

private:
    // Runs Editor until the person cancels or `save` (run as Saving) is
    // over; a failed save is shown and the person may try again. A commit
    // whose answer was lost is not tried again - the change may be there -
    // and is thrown on once the editor has closed. True when the edit was
    // saved (or ended by `save` with a message of its own to tell).
    bool EditUntilSaved(bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm,
                        TDesktopServices::MailMessage& mail, const std::function<bool()>& save);
    void TellIfHidden(const DayEntryRecord& entry);
    // The occurrence the selected entry `key` is, when it is one, and which
    // of its events the person chose (`question` asked with its
    // description); nothing for a plain entry. `cancelled` when the person
    // cancelled the question.
    std::optional<TSeriesWriter::Scope> AskScope(TSeriesWriter& series, const QString& key, const QString& question,
                                                 SeriesLinkRecord& link, bool& cancelled);
    // Event properties on one entry: the entry held open under its lock
    // while the editor runs, and how its saves went.
    struct TEntryEdit
    {
        TEntryEdit(TQuorlaDB& database, TEventWriter& entryWriter, TSeriesWriter& seriesWriter, const QString& entryKey,
                   bool occurrence)
            : db(database), writer(entryWriter), series(seriesWriter), key(entryKey), inSeries(occurrence)
        {
        }
        TQuorlaDB& db;
        TEventWriter& writer;
        TSeriesWriter& series;
        QString key;
        // An occurrence changed alone.
        bool inSeries = false;
        std::optional<TRecordLock> lock;
        QString openedAlarmTime;
        bool relock = false;
        TEventWriter::Result saved = TEventWriter::Result::Done;
        // A refusal to tell once the editor has closed.
        QString refusal;
    };
    // Books `Resources` for every occurrence of series `seriesKey` and
    // tells which ones were left without (they meet others' bookings).
    void BookSeries(TQuorlaDB& db, const QString& seriesKey);
    // Opens the entry under its lock for the editor, with its alarm (a new
    // one at the selected day when it has none); false when the person was
    // told why not.
    bool OpenToEdit(TEntryEdit& edit, DayEntryRecord& entry, AlarmRecord& alarm);
    // One save of the editor's OK; its outcome stays in `edit`.
    void SaveEdited(TEntryEdit& edit, const DayEntryRecord& entry, AlarmRecord& alarm);
    // Tells a refused or failed save; true when the command goes on.
    bool TellSaved(const TEntryEdit& edit, bool edited);
    // Event properties of this and the following, or all, occurrences.
    void EditSeries(TSeriesWriter& series, const SeriesLinkRecord& link, TSeriesWriter::Scope scope);
    void DeleteSeries(TSeriesWriter& series, const SeriesLinkRecord& link, TSeriesWriter::Scope scope);
    // Reads the series of `link` for a change by this user; false (the
    // person told) when it is gone or not his to change.
    bool ReadSeriesToChange(TSeriesWriter& series, const SeriesLinkRecord& link, SeriesRecord& record,
                            const QString& gone);
    // Tells the occurrences a series change left open elsewhere.
    void TellLeft(const QList<TSeriesWriter::THeld>& held);
    void HandOff(const TDesktopServices::MailMessage& mail);

    TServices services_;
    TOutageScreen& screen_;
    TSession& session_;
    TViewNavigator& views_;
    // The entry Event properties has open in the editor (its History).
    QString editing_;
};
