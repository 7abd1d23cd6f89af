#pragma once

#include "TServices.h"
#include "TStamp.h"

#include <QDialog>
#include <QString>

#include <memory>

class AlarmRecord;
class DayEntryRecord;
class QListWidgetItem;
class TDisplaySettings;
class TQuorlaDB;
class TfrmAlarmProperties;
class TfrmHistory;
class TfrmSelectGroup;

namespace Ui {
class TfrmEvent;
}

// The event editor: shows a day entry and its alarm settings, lets the user
// change them and, on OK, writes the choices back into the caller's records and
// prepares the e-mail to the other assignees when asked. It reads the users and categories to
// fill its lists and never writes to a dataset: storing is the caller's job.
class TfrmEvent : public QDialog
{
    Q_OBJECT

public:
    // The most users an event may have.
    static constexpr int MaxUsers = 20;

    explicit TfrmEvent(QWidget* parent = nullptr);
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

    // After a confirmed Execute, the e-mail to the other assignees when the
    // user asked for one (no recipients otherwise); the caller hands it to the
    // mail system once the event is stored. Notify is offered only where the
    // workstation can hand mail over; otherwise it is unticked and disabled,
    // its hint saying why.
    const TServices::MailMessage& Mail() const { return mail_; }

private:
    void FillUserList();
    void FillCategoryList();
    void LoadFromRecord();
    void SaveToRecord();
    int TickedUserCount() const;
    TServices::MailMessage NotifyUsers();
    void offerNotify();

    void chkUnTimedClick();
    void chkAlarmClick(bool ticked);
    void lstUsersChanging(QListWidgetItem* item);
    void applyAlarmRule(int tickedUsers);
    void cmbCategoryChange(int index);
    void btnGroupClick();
    void actOkUpdate();
    void actOkExecute();
    void btnHistoryClick();

    std::unique_ptr<Ui::TfrmEvent> ui;
    TfrmAlarmProperties* alarmDialog_;
    TfrmSelectGroup* selectGroup_;
    TfrmHistory* history_;
    QString EntryKey;
    TStamp WorkStamp;
    QString CurrentUserKey;
    bool IsEdit = false;
    bool Loading = false;
    AlarmRecord* Alarm = nullptr;
    TQuorlaDB* Database = nullptr;
    TDisplaySettings* Settings = nullptr;
    DayEntryRecord* Entry = nullptr;
    TServices::MailMessage mail_;
    // The person's last choice of Notify, kept from one event to the next.
    bool notifyChosen_ = true;
    QString notifyHint_;
    bool alarmTimeChosen_ = false;
};
