#include "TfrmEvent.h"
#include "ui_TfrmEvent.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TChangeTrail.h"
#include "TCommand.h"
#include "TDisplaySettings.h"
#include "TQuorlaDB.h"
#include "TServices.h"
#include "TTextLimit.h"
#include "TUserCheckList.h"
#include "TfrmAlarmProperties.h"
#include "TfrmHistory.h"
#include "TfrmSelectGroup.h"
#include "UserRecord.h"
#include "TLookup.h"

#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStyle>

#include <limits>

namespace {

using Kind = TServices::MessageKind;
using Buttons = TServices::MessageButtons;
using Answer = TServices::MessageAnswer;

// The seconds of a time key; a key beyond the stamp's range gives -1, which
// the stamp refuses like any other moment outside its years.
qint32 keySeconds(const QString& key)
{
    const qint64 seconds = RecordKey::parse(key);
    return seconds > std::numeric_limits<qint32>::max() ? -1 : static_cast<qint32>(seconds);
}

} // namespace

TfrmEvent::TfrmEvent(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmEvent>()), alarmDialog_(new TfrmAlarmProperties(this)),
      selectGroup_(new TfrmSelectGroup(this)), history_(new TfrmHistory(this))
{
    ui->setupUi(this);
    notifyHint_ = ui->chkNotify->toolTip();
    TTextLimit::Apply(ui->edtDescription, DayEntryRecord::DescriptionCapacity);
    TfrmAlarmProperties::FillTimeLists(*ui->cmbHour, *ui->cmbMinute);
    ui->btnGroup->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    connect(ui->btnOk, &QPushButton::clicked, ui->actOk, &QAction::trigger);
    connect(ui->btnCancel, &QPushButton::clicked, ui->actCancel, &QAction::trigger);
    connect(ui->actOk, &QAction::triggered, this, &TfrmEvent::actOkExecute);
    connect(ui->actCancel, &QAction::triggered, this, [this] { done(2); });
    connect(ui->actOk, &QAction::changed, this, [this] { ui->btnOk->setEnabled(ui->actOk->isEnabled()); });
    connect(ui->edtDescription, &QLineEdit::textChanged, this, &TfrmEvent::actOkUpdate);
    connect(ui->chkUnTimed, &QCheckBox::toggled, this, &TfrmEvent::chkUnTimedClick);
    connect(ui->chkAlarm, &QCheckBox::toggled, this, &TfrmEvent::chkAlarmClick);
    // itemChanged comes only from the user's ticks: every tick the program sets
    // is set with the list's signals blocked.
    connect(ui->lstUsers, &QListWidget::itemChanged, this, &TfrmEvent::lstUsersChanging);
    // activated, unlike currentIndexChanged, is the user's choice only.
    connect(ui->cmbCategory, &QComboBox::activated, this, &TfrmEvent::cmbCategoryChange);
    connect(ui->btnGroup, &QToolButton::clicked, this, &TfrmEvent::btnGroupClick);
    connect(ui->btnHistory, &QPushButton::clicked, this, [this] { TCommand::Run([this] { btnHistoryClick(); }); });
    connect(ui->chkNotify, &QCheckBox::clicked, this, [this](bool ticked) { notifyChosen_ = ticked; });
}

TfrmEvent::~TfrmEvent() = default;

void TfrmEvent::EnableUserSelection(bool enabled)
{
    ui->lstUsers->setEnabled(enabled);
    ui->lblUsers->setEnabled(enabled);
    ui->btnGroup->setEnabled(enabled);
}

int TfrmEvent::Execute(bool isEdit, DayEntryRecord& entry, AlarmRecord& alarm, TQuorlaDB& database,
                       const QString& currentUserKey, TDisplaySettings& settings)
{
    IsEdit = isEdit;
    Entry = &entry;
    Alarm = &alarm;
    Database = &database;
    CurrentUserKey = currentUserKey;
    Settings = &settings;
    const auto forget = qScopeGuard([this] {
        Entry = nullptr;
        Alarm = nullptr;
        Database = nullptr;
        Settings = nullptr;
    });
    setWindowTitle(isEdit ? QStringLiteral("Event Properties") : QStringLiteral("New Event"));
    ui->btnHistory->setEnabled(isEdit && !EntryKey.isEmpty() && database.Trail().Available());

    FillUserList();
    FillCategoryList();
    LoadFromRecord();
    chkUnTimedClick();
    applyAlarmRule(TickedUserCount());
    actOkUpdate();
    mail_ = {};
    // The alarm dialog offers the time the event has until one is chosen:
    // an alarm the event already has keeps its own.
    alarmTimeChosen_ = (Alarm->Flags() & AlarmRecord::AlarmWanted) != 0;
    offerNotify();

    ui->cmbDate->setFocus();
    return exec() == 1 ? 1 : 2;
}

void TfrmEvent::FillUserList()
{
    const QSignalBlocker quiet(ui->lstUsers);
    TUserCheckList::Fill(*ui->lstUsers, Database->Users());
}

void TfrmEvent::FillCategoryList()
{
    ui->cmbCategory->clear();
    QListWidget sorted;
    CategoryRecord category;
    TXIsamFile& categories = Database->Categories();
    TLookup::Each(categories, category.bytes(), [&](const QString& key) {
        auto* item = new QListWidgetItem(category.Description());
        item->setData(Qt::UserRole, RecordKey::parse(key));
        TUserCheckList::InsertSorted(sorted, item);
    });
    ui->cmbCategory->addItem(QStringLiteral("<None>"), qint64(0));
    for (int row = 0; row < sorted.count(); ++row)
        ui->cmbCategory->addItem(sorted.item(row)->text(), sorted.item(row)->data(Qt::UserRole));
}

void TfrmEvent::LoadFromRecord()
{
    Loading = true;
    const auto loaded = qScopeGuard([this] { Loading = false; });

    WorkStamp.SetSeconds(keySeconds(Entry->StartTime()));
    TfrmAlarmProperties::ShowStamp(WorkStamp, *ui->cmbDate, *ui->cmbHour, *ui->cmbMinute);
    ui->edtDescription->setText(Entry->Description());
    ui->chkPrivate->setChecked(Entry->Flags() & DayEntryRecord::Private);
    ui->chkUnTimed->setChecked(Entry->Flags() & DayEntryRecord::UnTimed);

    // A category that is no longer listed reads as none.
    const int category = ui->cmbCategory->findData(RecordKey::parse(Entry->CategoryKey()));
    ui->cmbCategory->setCurrentIndex(category < 0 ? 0 : category);

    const QSignalBlocker quiet(ui->lstUsers);
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
        const QString key = Entry->Assignee(slot);
        if (RecordKey::isNone(key))
            continue;
        QListWidgetItem* found = nullptr;
        for (int row = 0; row < ui->lstUsers->count() && !found; ++row) {
            if (TUserCheckList::Value(*ui->lstUsers->item(row)) == RecordKey::parse(key))
                found = ui->lstUsers->item(row);
        }
        if (!found)
            throw EQuorla(QStringLiteral("Unknown user"));
        found->setCheckState(Qt::Checked);
    }

    UserRecord owner;
    const bool ownerFound = TLookup::Equal(Database->Users(), owner.bytes(), TXIsamFile::PrimaryIndex, Entry->OwnerKey());
    ui->edtOwner->setText(ownerFound ? owner.FullName() : QStringLiteral("ERR"));
    ui->chkAlarm->setChecked(Alarm->Flags() & AlarmRecord::AlarmWanted);
}

void TfrmEvent::SaveToRecord()
{
    // Everything is worked out before the first field is written, so a refused
    // date or too many users leave the caller's record as it was.
    TfrmAlarmProperties::ReadStamp(WorkStamp, *ui->cmbDate, *ui->cmbHour, *ui->cmbMinute,
                                   !ui->chkUnTimed->isChecked());
    QStringList assignees;
    for (int row = 0; row < ui->lstUsers->count(); ++row) {
        const QListWidgetItem& item = *ui->lstUsers->item(row);
        if (!TUserCheckList::Ticked(item))
            continue;
        if (assignees.size() == MaxUsers)
            throw EQuorla(QStringLiteral("A maximum of %1 users can be associated with an event").arg(MaxUsers));
        assignees << TUserCheckList::Key(item);
    }

    Entry->setStartTime(WorkStamp.Key());
    const int category = ui->cmbCategory->currentIndex();
    Entry->setCategoryKey(RecordKey::format(category < 0 ? 0 : ui->cmbCategory->itemData(category).toLongLong()));
    Entry->setDescription(ui->edtDescription->text());
    qint32 flags = 0;
    if (ui->chkPrivate->isChecked())
        flags += DayEntryRecord::Private;
    if (ui->chkUnTimed->isChecked())
        flags += DayEntryRecord::UnTimed;
    Entry->setFlags(flags);
    Entry->setAssigneeKeys(assignees);
    Alarm->setFlags(ui->chkAlarm->isChecked() ? AlarmRecord::AlarmWanted : 0);
}

int TfrmEvent::TickedUserCount() const
{
    return TUserCheckList::TickedCount(*ui->lstUsers);
}

void TfrmEvent::offerNotify()
{
    // Where no message can reach a mail program, the box says why instead
    // of promising one; the person's own choice comes back with the mail.
    const TServices::HandOffResult mail = TServices::current().mailAvailability();
    const bool possible = mail.outcome == TServices::Outcome::Done;
    const QSignalBlocker quiet(ui->chkNotify);
    ui->chkNotify->setEnabled(possible);
    ui->chkNotify->setChecked(possible && notifyChosen_);
    const QString hint = possible ? notifyHint_ : QStringLiteral("No e-mail can be sent: %1").arg(mail.errorText);
    ui->chkNotify->setToolTip(hint);
    ui->chkNotify->setStatusTip(hint);
}

TServices::MailMessage TfrmEvent::NotifyUsers()
{
    TServices::MailMessage mail;
    for (int row = 0; row < ui->lstUsers->count(); ++row) {
        const QListWidgetItem& item = *ui->lstUsers->item(row);
        if (TUserCheckList::Ticked(item) && TUserCheckList::Key(item) != CurrentUserKey)
            mail.recipients << item.text();
    }
    if (mail.recipients.isEmpty())
        return mail;
    WorkStamp.Format = QStringLiteral("dddd mmmm dd, hh:nn");
    mail.subject = IsEdit ? QStringLiteral("Updated Quorla Event") : QStringLiteral("New Quorla Event");
    mail.bodyLines << (IsEdit ? QStringLiteral("An event in Quorla relating to you has been updated. The details are:")
                              : QStringLiteral("A new event has been added into Quorla for you. The details are:"))
                   << QString() << ui->edtDescription->text() << WorkStamp.AsString();
    return mail;
}

void TfrmEvent::chkUnTimedClick()
{
    const bool timed = !ui->chkUnTimed->isChecked();
    ui->lblTime->setEnabled(timed);
    ui->cmbHour->setEnabled(timed);
    ui->cmbMinute->setEnabled(timed);
}

void TfrmEvent::chkAlarmClick(bool ticked)
{
    if (Loading || !ticked || !Alarm)
        return;
    TCommand::Run([this] {
        if (!alarmTimeChosen_) {
            // The date and time set here, not those the editor opened with.
            TStamp event;
            TfrmAlarmProperties::ReadStamp(event, *ui->cmbDate, *ui->cmbHour, *ui->cmbMinute,
                                           !ui->chkUnTimed->isChecked());
            Alarm->setAlarmTime(event.Key());
        }
        if (alarmDialog_->Execute(*Alarm) == 1)
            alarmTimeChosen_ = true;
    });
}

void TfrmEvent::lstUsersChanging(QListWidgetItem* /*item*/)
{
    // Raised after the tick changed, so the count already holds the new state.
    applyAlarmRule(TickedUserCount());
}

void TfrmEvent::applyAlarmRule(int tickedUsers)
{
    ui->chkAlarm->setEnabled(tickedUsers > 0);
    if (tickedUsers == 0)
        ui->chkAlarm->setChecked(false);
}

void TfrmEvent::cmbCategoryChange(int index)
{
    if (ui->edtDescription->text().isEmpty())
        ui->edtDescription->setText(ui->cmbCategory->itemText(index));
}

void TfrmEvent::btnHistoryClick()
{
    if (Database && !EntryKey.isEmpty())
        history_->Execute(*Database, EntryKey);
}

void TfrmEvent::btnGroupClick()
{
    {
        const QSignalBlocker quiet(ui->lstUsers);
        selectGroup_->Execute(*Settings, *ui->lstUsers);
    }
    // Once, after all the ticks the group set.
    applyAlarmRule(TickedUserCount());
}

void TfrmEvent::actOkUpdate()
{
    ui->actOk->setEnabled(!ui->edtDescription->text().isEmpty());
}

void TfrmEvent::actOkExecute()
{
    if (!ui->actOk->isEnabled())
        return;
    TServices& services = TServices::current();
    if (ui->cmbCategory->currentIndex() <= 0
        && services.message(Kind::Confirmation, Buttons::YesNo,
                            QStringLiteral("You have not chosen a category for this event. Is this ok?"))
               != Answer::Yes)
        return;
    if (TickedUserCount() == 0
        && services.message(Kind::Confirmation, Buttons::YesNo,
                            QStringLiteral("You have not chosen any users for this event. Is this ok?"))
               != Answer::Yes)
        return;
    if (!TCommand::Run([this] { SaveToRecord(); }))
        return;
    // The message goes once the event is stored (TEventCommands).
    if (ui->chkNotify->isEnabled() && ui->chkNotify->isChecked())
        mail_ = NotifyUsers();
    done(1);
}
