#pragma once

#include "TEntryDetails.h"
#include "TRecurrenceRule.h"
#include "TServices.h"
#include "TStamp.h"

#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class AlarmRecord;
class DayEntryRecord;
class QCheckBox;
class QListWidgetItem;
class TDisplaySettings;
class TEventBusy;
class TQuorlaDB;
class TfrmAlarmProperties;
class TfrmHistory;
class TfrmSelectGroup;
class TResourcePicker;

namespace Ui {
class TfrmEvent;
}

// The event editor: shows a day entry and its alarm settings, lets the user
// change them and, on OK, writes the choices back into the caller's records and
// prepares the e-mail to the other assignees when asked, then runs the
// caller's save (SetSave) and closes once that is over: a save that failed
// keeps it open with what was typed. It reads the users and categories to
// fill its lists and never writes to a dataset itself: storing is the caller's job.
class TfrmEvent : public QDialog
{
    Q_OBJECT

public:
    // The most users an event may have.
    static constexpr int MaxUsers = 20;

    explicit TfrmEvent(TServices services, QWidget* parent = nullptr);
    ~TfrmEvent() override;

    // Shows `entry` ("Event Properties" when `isEdit`, else "New Event") with
    // the alarm flag of `alarm`. Returns 1 when the user confirmed: `entry`'s
    // Flags, StartTime, CategoryKey, Description and Assignees and `alarm`'s
    // Flags (1 or 0) then hold the edited event. Returns 2 on Cancel, `entry`
    // unchanged. The alarm dialog writes `alarm`'s AlarmTime in place whenever
    // the user confirms it, whatever this dialog returns.
    // Raises EQuorla "Unknown user", before anything is shown, when an
    // assignee is not a user of `database`.
    int Execute(bool isEdit, DayEntryRecord& entry, AlarmRecord& alarm, TQuorlaDB& database,
                const QString& currentUserKey, TDisplaySettings& settings);

    // Whether the user may choose the assignees: enables or disables the user
    // list, its label and the group button. Execute never changes it.
    void EnableUserSelection(bool enabled);
    // The key of the stored entry the next Execute shows, whose change trail
    // the History button lists; empty for a new event (the button is then
    // disabled).
    void SetEntryKey(const QString& key) { EntryKey = key; }
    // What OK runs in the next Execute once the caller's records hold the
    // choices (and Rule() and Mail() are set): true closes the editor
    // (Execute returns 1), false keeps it open. None: OK closes at once.
    // Execute forgets it.
    void SetSave(std::function<bool()> save) { save_ = std::move(save); }

    // After a confirmed Execute, the e-mail to the other assignees when the
    // user asked for one (no recipients otherwise); the caller hands it to the
    // mail system once the event is stored. Notify is offered only where the
    // workstation can hand mail over; otherwise it is unticked and disabled,
    // its hint saying why.
    const TDesktopServices::MailMessage& Mail() const { return mail_; }

    // The repeat the next Execute shows (nothing: the event does not repeat)
    // and whether the person may change it (an occurrence changed alone, or a
    // plain entry, shows its series' repeat or none, unchangeable); a shown
    // repeat is never changed to "None"; `seriesKey`: the stored series the
    // repeat changes, whose occurrences the overlap warning leaves out.
    // Execute forgets them: an Execute without them shows a changeable "None".
    void SetRepeat(const std::optional<TRecurrenceRule>& rule, bool editable, const QString& seriesKey = QString());
    // After a confirmed Execute: the repeat chosen, starting on the event's
    // date at its time (un-timed: no time); nothing when it does not repeat.
    const std::optional<TRecurrenceRule>& Rule() const { return rule_; }

    // The end, place and notes the next Execute shows; after a confirmed
    // Execute, those chosen. The end is shown as a day and a time (an
    // un-timed event's last day); an end at the start is none.
    void SetDetails(const TEntryDetails& details) { details_ = details; }
    const TEntryDetails& Details() const { return details_; }
    // The resources the event books, loaded and read by the caller.
    TResourcePicker& Resources() { return *resources_; }

    // The refusals of the end: OK shows them and keeps the dialog open,
    // nothing written.
    static const QString EndBeforeStart;
    static const QString EndTooLate;

    // The refusals of the Repeat section: OK shows them and keeps the dialog
    // open, nothing written.
    static const QString RepeatNoWeekday;
    static const QString RepeatEndsBeforeStart;
    static const QString RepeatNoCount;
    static const QString RepeatNoOccurrence;

private:
    // The free and busy strip shows the resources ticked, with their bookings.
    void useResourcesInBusy();
    void FillUserList();
    void FillCategoryList();
    void LoadFromRecord();
    void SaveToRecord();
    int TickedUserCount() const;
    TDesktopServices::MailMessage NotifyUsers();
    void offerNotify();

    void chkUnTimedClick();
    // The end shown from details_ and the start in WorkStamp.
    void LoadEnd();
    // The details the fields describe into `details`; the refusal of the
    // end, or empty. Throws EStamp for a start or end the stamp cannot hold.
    QString ReadDetails(TEntryDetails& details) const;
    void chkAlarmClick(bool ticked);
    void lstUsersChanging(QListWidgetItem* item);
    void applyAlarmRule(int tickedUsers);
    void cmbCategoryChange(int index);
    void btnGroupClick();
    void actOkUpdate();
    void actOkExecute();
    void btnHistoryClick();

    // The Repeat section: shows `shownRule_`, fills the monthly choices for
    // the date shown, enables what the chosen frequency uses and words the
    // summary.
    void LoadRepeat();
    void fillMonthlyChoices();
    // chkRepeatMon ... chkRepeatSun.
    QList<QCheckBox*> weekdayBoxes() const;
    void repeatChanged();
    // The rule the section describes (nothing for "None"), starting on the
    // date and at the time shown; not checked.
    std::optional<TRecurrenceRule> readRule() const;
    // Why the section cannot be saved; empty when it can.
    QString repeatRefusal() const;

    TServices services_;
    std::unique_ptr<Ui::TfrmEvent> ui;
    TfrmAlarmProperties* alarmDialog_;
    TfrmSelectGroup* selectGroup_;
    TfrmHistory* history_;
    TEventBusy* busy_;
    TResourcePicker* resources_;
    QString EntryKey;
    TStamp WorkStamp;
    QString CurrentUserKey;
    bool IsEdit = false;
    bool Loading = false;
    AlarmRecord* Alarm = nullptr;
    TQuorlaDB* Database = nullptr;
    TDisplaySettings* Settings = nullptr;
    DayEntryRecord* Entry = nullptr;
    TDesktopServices::MailMessage mail_;
    // The person's last choice of Notify, kept from one event to the next.
    bool notifyChosen_ = true;
    QString notifyHint_;
    bool alarmTimeChosen_ = false;
    // The person said, in this opening, that no category / no users is
    // right: a save tried again after a failure does not ask again.
    bool noCategoryOk_ = false;
    bool noUsersOk_ = false;
    std::optional<TRecurrenceRule> shownRule_;
    bool repeatEditable_ = true;
    QString seriesKey_;
    std::optional<TRecurrenceRule> rule_;
    std::function<bool()> save_;
    TEntryDetails details_;
    // What OK read, written to details_ with the records.
    TEntryDetails chosenDetails_;
    // The start as shown (date and time lists, counted without a zone): a
    // move of it moves the end along.
    QDateTime shownStart_;
    QDateTime shownStart() const;
    void startMoved();
};
