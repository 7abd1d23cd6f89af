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
#include "TEventBusy.h"
#include "TQuorlaDB.h"
#include "TServices.h"
#include "TTextLimit.h"
#include "TUserCheckList.h"
#include "TfrmAlarmProperties.h"
#include "TResourcePicker.h"
#include "TfrmHistory.h"
#include "TfrmSelectGroup.h"
#include "UserRecord.h"
#include "TLookup.h"

#include <QCheckBox>
#include <QLocale>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyle>

#include <algorithm>
#include <limits>

namespace {

using Kind = TPersonServices::MessageKind;
using Buttons = TPersonServices::MessageButtons;
using Answer = TPersonServices::MessageAnswer;

// The seconds of a time key; a key beyond the stamp's range gives -1, which
// the stamp refuses like any other moment outside its years.
qint32 keySeconds(const QString& key)
{
    const qint64 seconds = RecordKey::parse(key);
    return seconds > std::numeric_limits<qint32>::max() ? -1 : static_cast<qint32>(seconds);
}

// The Repeat section's frequencies, in the order of cmbRepeat.
enum RepeatChoice { RepeatNone, RepeatDaily, RepeatWeekly, RepeatMonthly, RepeatYearly };

const char* const Ordinals[] = {"", "first", "second", "third", "fourth"};

} // namespace

const QString TfrmEvent::EndBeforeStart = QStringLiteral("The event cannot end before it starts: choose a later end");
const QString TfrmEvent::EndTooLate
    = QStringLiteral("An event can last at most %1 days: choose an earlier end").arg(TEntryDetails::MaxDays);
const QString TfrmEvent::RepeatNoWeekday = QStringLiteral("Choose at least one weekday for an event that repeats weekly");
const QString TfrmEvent::RepeatEndsBeforeStart
    = QStringLiteral("The repeat cannot end before the event's date: choose a later end");
const QString TfrmEvent::RepeatNoCount = QStringLiteral("A repeating event happens at least once: choose 1 time or more");
const QString TfrmEvent::RepeatNoOccurrence
    = QStringLiteral("The repeat has no day before its end: choose a later end or another repeat");

TfrmEvent::TfrmEvent(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmEvent>()), alarmDialog_(new TfrmAlarmProperties(this)),
      selectGroup_(new TfrmSelectGroup(this)), history_(new TfrmHistory(services, this))
{
    ui->setupUi(this);
    ui->layMain->insertWidget(ui->layMain->count() - 1, resources_ = new TResourcePicker(this));
    notifyHint_ = ui->chkNotify->toolTip();
    TTextLimit::Apply(ui->edtDescription, services_.desktop(), DayEntryRecord::DescriptionCapacity);
    TTextLimit::Apply(ui->edtLocation, services_.desktop(), TEntryDetails::MaxLocationBytes);
    TTextLimit::Apply(ui->memNotes, services_.desktop(), TEntryDetails::MaxNotesBytes);
    TfrmAlarmProperties::FillTimeLists(*ui->cmbHour, *ui->cmbMinute);
    busy_ = new TEventBusy(services_, {ui->cmbDate, ui->cmbHour, ui->cmbMinute, ui->chkUnTimed, ui->dtpEndDate,
                                       ui->edtEndTime, ui->lstUsers},
                           [this] { return TEventBusy::TContext{Database, CurrentUserKey, EntryKey, seriesKey_}; }, this);
    ui->layMain->insertWidget(1, busy_);
    useResourcesInBusy();
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
    connect(ui->btnHistory, &QPushButton::clicked, this, [this] { TCommand::Run(services_.person(), [this] { btnHistoryClick(); }); });
    connect(ui->chkNotify, &QCheckBox::clicked, this, [this](bool ticked) { notifyChosen_ = ticked; });

    // Whatever the summary depends on words it anew.
    const auto changed = [this] { repeatChanged(); };
    connect(ui->cmbRepeat, &QComboBox::currentIndexChanged, this, [this] {
        // Weekly starts on the event's own weekday rather than on none.
        if (!Loading && ui->cmbRepeat->currentIndex() == RepeatWeekly) {
            const QList<QCheckBox*> days = weekdayBoxes();
            if (std::none_of(days.begin(), days.end(), [](QCheckBox* box) { return box->isChecked(); }))
                days[ui->cmbDate->date().dayOfWeek() - 1]->setChecked(true);
        }
        repeatChanged();
    });
    connect(ui->cmbDate, &QDateEdit::dateChanged, this, &TfrmEvent::startMoved);
    connect(ui->cmbHour, &QComboBox::currentIndexChanged, this, &TfrmEvent::startMoved);
    connect(ui->cmbMinute, &QComboBox::currentIndexChanged, this, &TfrmEvent::startMoved);
    connect(ui->cmbDate, &QDateEdit::dateChanged, this, [this] {
        fillMonthlyChoices();
        repeatChanged();
    });
    connect(ui->cmbHour, &QComboBox::currentIndexChanged, this, changed);
    connect(ui->cmbMinute, &QComboBox::currentIndexChanged, this, changed);
    connect(ui->chkUnTimed, &QCheckBox::toggled, this, changed);
    connect(ui->spnRepeatEvery, &QSpinBox::valueChanged, this, changed);
    connect(ui->cmbRepeatMonthly, &QComboBox::currentIndexChanged, this, changed);
    for (QCheckBox* box : weekdayBoxes())
        connect(box, &QCheckBox::toggled, this, changed);
    connect(ui->rdoRepeatEndNever, &QRadioButton::toggled, this, changed);
    connect(ui->rdoRepeatEndDate, &QRadioButton::toggled, this, changed);
    connect(ui->rdoRepeatEndCount, &QRadioButton::toggled, this, changed);
    connect(ui->cmbRepeatUntil, &QDateEdit::dateChanged, this, changed);
    connect(ui->spnRepeatCount, &QSpinBox::valueChanged, this, changed);
}

QList<QCheckBox*> TfrmEvent::weekdayBoxes() const
{
    return {ui->chkRepeatMon, ui->chkRepeatTue, ui->chkRepeatWed, ui->chkRepeatThu,
            ui->chkRepeatFri, ui->chkRepeatSat, ui->chkRepeatSun};
}

void TfrmEvent::SetRepeat(const std::optional<TRecurrenceRule>& rule, bool editable, const QString& seriesKey)
{
    shownRule_ = rule;
    repeatEditable_ = editable;
    seriesKey_ = seriesKey;
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
        shownRule_.reset();
        repeatEditable_ = true;
        seriesKey_.clear();
        save_ = nullptr;
    });
    setWindowTitle(isEdit ? QStringLiteral("Event Properties") : QStringLiteral("New Event"));
    ui->btnHistory->setEnabled(isEdit && !EntryKey.isEmpty() && database.Trail().Available());

    FillUserList();
    FillCategoryList();
    LoadFromRecord();
    LoadRepeat();
    rule_.reset();
    chkUnTimedClick();
    applyAlarmRule(TickedUserCount());
    actOkUpdate();
    mail_ = {};
    noCategoryOk_ = noUsersOk_ = false;
    // The alarm dialog offers the time the event has until one is chosen:
    // an alarm the event already has keeps its own.
    alarmTimeChosen_ = (Alarm->Flags() & AlarmRecord::AlarmWanted) != 0;
    offerNotify();

    ui->cmbDate->setFocus();
    return exec() == 1 ? 1 : 2;
}

void TfrmEvent::useResourcesInBusy()
{
    busy_->UseResources(
        [this] {
            QList<TEventBusy::TResource> chosen;
            for (const auto& [key, name] : resources_->ChosenNamed())
                chosen.append({key, name});
            return chosen;
        },
        // The database the editor works on when the strip is read.
        [this](const QString& resource, qint64 from, qint64 to) {
            return Database ? TBusyTimes::StoredBookings(*Database)(resource, from, to) : QList<TBusyInterval>{};
        });
    connect(resources_, &TResourcePicker::changed, busy_, &TEventBusy::Refresh);
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
    ui->edtLocation->setText(details_.location);
    ui->memNotes->setPlainText(details_.notes);
    ui->chkPrivate->setChecked(Entry->Flags() & DayEntryRecord::Private);
    ui->chkUnTimed->setChecked(Entry->Flags() & DayEntryRecord::UnTimed);
    LoadEnd();

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
    details_ = chosenDetails_;
}

void TfrmEvent::LoadEnd()
{
    // From the start as shown: its length is kept whatever the steps of
    // the time lists do to the start.
    const bool unTimed = (Entry->Flags() & DayEntryRecord::UnTimed) != 0;
    TStamp end;
    TfrmAlarmProperties::ReadStamp(end, *ui->cmbDate, *ui->cmbHour, *ui->cmbMinute, !unTimed);
    if (unTimed)
        end.Increment(TStamp::IncDays, std::max(details_.days, 1) - 1);
    else
        end.SetSeconds(end.Seconds() + std::max(details_.durationSeconds, 0));
    ui->dtpEndDate->setDate(QDate(end.Year(), end.Month(), end.Day()));
    ui->edtEndTime->setTime(QTime(end.Hour(), end.Minute()));
    shownStart_ = shownStart();
}

QDateTime TfrmEvent::shownStart() const
{
    return QDateTime(ui->cmbDate->date(), QTime(std::max(ui->cmbHour->currentIndex(), 0),
                                                std::max(ui->cmbMinute->currentIndex(), 0) * 5),
                     Qt::UTC);
}

void TfrmEvent::startMoved()
{
    if (Loading)
        return;
    // The end keeps its distance from the start.
    const QDateTime start = shownStart();
    const QDateTime end = QDateTime(ui->dtpEndDate->date(), ui->edtEndTime->time(), Qt::UTC)
                              .addSecs(shownStart_.secsTo(start));
    shownStart_ = start;
    ui->dtpEndDate->setDate(end.date());
    ui->edtEndTime->setTime(end.time());
}

QString TfrmEvent::ReadDetails(TEntryDetails& details) const
{
    details = {};
    details.location = ui->edtLocation->text();
    details.notes = ui->memNotes->toPlainText();
    const bool timed = !ui->chkUnTimed->isChecked();
    TStamp start;
    TfrmAlarmProperties::ReadStamp(start, *ui->cmbDate, *ui->cmbHour, *ui->cmbMinute, timed);
    const QDate endDay = ui->dtpEndDate->date();
    const qint64 days = ui->cmbDate->date().daysTo(endDay) + 1;
    if (days > TEntryDetails::MaxDays)
        return EndTooLate;
    if (!timed) {
        if (days < 1)
            return EndBeforeStart;
        details.days = int(days);
        return QString();
    }
    TStamp end;
    const QTime endTime = ui->edtEndTime->time();
    end.SetDateTime(endDay.year(), endDay.month(), endDay.day(), endTime.hour(), endTime.minute(), 0);
    if (end.Seconds() < start.Seconds())
        return EndBeforeStart;
    details.durationSeconds = end.Seconds() - start.Seconds();
    return QString();
}

int TfrmEvent::TickedUserCount() const
{
    return TUserCheckList::TickedCount(*ui->lstUsers);
}

void TfrmEvent::offerNotify()
{
    // Where no message can reach a mail program, the box says why instead
    // of promising one; the person's own choice comes back with the mail.
    const TDesktopServices::HandOffResult mail = services_.desktop().mailAvailability();
    const bool possible = mail.outcome == TDesktopServices::Outcome::Done;
    const QSignalBlocker quiet(ui->chkNotify);
    ui->chkNotify->setEnabled(possible);
    ui->chkNotify->setChecked(possible && notifyChosen_);
    const QString hint = possible ? notifyHint_ : QStringLiteral("No e-mail can be sent: %1").arg(mail.errorText);
    ui->chkNotify->setToolTip(hint);
    ui->chkNotify->setStatusTip(hint);
}

TDesktopServices::MailMessage TfrmEvent::NotifyUsers()
{
    TDesktopServices::MailMessage mail;
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
    ui->edtEndTime->setEnabled(timed);
    ui->lblTime->setEnabled(timed);
    ui->cmbHour->setEnabled(timed);
    ui->cmbMinute->setEnabled(timed);
}

void TfrmEvent::chkAlarmClick(bool ticked)
{
    if (Loading || !ticked || !Alarm)
        return;
    TCommand::Run(services_.person(), [this] {
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
    const auto agreed = [this](bool& ok, const char* what) {
        ok = ok || services_.person().message(Kind::Confirmation, Buttons::YesNo,
                                              QStringLiteral("You have not chosen %1 for this event. Is this ok?")
                                                  .arg(QLatin1String(what)))
                       == Answer::Yes;
        return ok;
    };
    if (ui->cmbCategory->currentIndex() <= 0 && !agreed(noCategoryOk_, "a category"))
        return;
    if (TickedUserCount() == 0 && !agreed(noUsersOk_, "any users"))
        return;
    // The repeat is checked first: a refused one leaves nothing written.
    if (const QString refusal = repeatRefusal(); !refusal.isEmpty()) {
        services_.person().message(Kind::Warning, Buttons::Ok, refusal);
        return;
    }
    QString endRefusal;
    if (!TCommand::Run(services_.person(), [this, &endRefusal] { endRefusal = ReadDetails(chosenDetails_); }))
        return;
    if (!endRefusal.isEmpty()) {
        services_.person().message(Kind::Warning, Buttons::Ok, endRefusal);
        return;
    }
    if (!TCommand::Run(services_.person(), [this] { SaveToRecord(); }))
        return;
    // A repeat that may be changed is saved as a series: each occurrence is checked.
    if (!busy_->AgreedToOverlaps(*Entry, details_, repeatEditable_ ? readRule() : std::nullopt))
        return;
    rule_ = readRule();
    // The message goes once the event is stored (TEventCommands).
    if (ui->chkNotify->isEnabled() && ui->chkNotify->isChecked())
        mail_ = NotifyUsers();
    // The caller's save: one that failed (and said so) leaves the editor
    // open with what was typed.
    bool over = true;
    if (save_ && !TCommand::Run(services_.person(), [this, &over] { over = save_(); }))
        over = false;
    if (!over)
        return;
    done(1);
}

void TfrmEvent::LoadRepeat()
{
    Loading = true;
    const auto loaded = qScopeGuard([this] { Loading = false; });
    const std::optional<TRecurrenceRule>& rule = shownRule_;
    ui->cmbRepeat->setCurrentIndex(rule ? int(rule->frequency()) + RepeatDaily : RepeatNone);
    ui->spnRepeatEvery->setValue(rule ? rule->Interval() : 1);
    const QDate start = rule ? rule->Start() : ui->cmbDate->date();
    const int bits = rule && rule->Weekdays() ? rule->Weekdays() : TRecurrenceRule::weekdayBit(start.dayOfWeek());
    const QList<QCheckBox*> days = weekdayBoxes();
    for (int day = 1; day <= 7; ++day)
        days[day - 1]->setChecked(rule && rule->frequency() == TRecurrenceRule::Frequency::Weekly
                                  && (bits & TRecurrenceRule::weekdayBit(day)));
    fillMonthlyChoices();
    const int monthly = ui->cmbRepeatMonthly->findData(rule ? rule->MonthlyWeek() : 0);
    ui->cmbRepeatMonthly->setCurrentIndex(monthly < 0 ? 0 : monthly);
    const TRecurrenceRule::End end = rule ? rule->end() : TRecurrenceRule::End::Never;
    ui->rdoRepeatEndNever->setChecked(end == TRecurrenceRule::End::Never);
    ui->rdoRepeatEndDate->setChecked(end == TRecurrenceRule::End::OnDate);
    ui->rdoRepeatEndCount->setChecked(end == TRecurrenceRule::End::AfterCount);
    // An end not chosen yet is offered three months on, or ten times.
    ui->cmbRepeatUntil->setDate(end == TRecurrenceRule::End::OnDate ? rule->Until() : start.addMonths(3));
    ui->spnRepeatCount->setValue(end == TRecurrenceRule::End::AfterCount ? rule->Count() : 10);
    ui->cmbRepeat->setEnabled(repeatEditable_);
    // A repeating event changed as a series stays one: "None" is not offered
    // (ending it is deleting this and the following events).
    if (auto* choices = qobject_cast<QStandardItemModel*>(ui->cmbRepeat->model()))
        choices->item(RepeatNone)->setEnabled(!rule);
    repeatChanged();
}

void TfrmEvent::fillMonthlyChoices()
{
    // The day of the month, the nth weekday (1st to 4th) when the date is
    // one, and the last weekday when the date is in the month's last seven
    // days; the kind chosen before stays chosen where the new date has it.
    const QDate date = ui->cmbDate->date();
    const int chosen = ui->cmbRepeatMonthly->currentData().isValid() ? ui->cmbRepeatMonthly->currentData().toInt() : 0;
    const QString weekday = QLocale(QLocale::English).dayName(date.dayOfWeek());
    const int nth = (date.day() - 1) / 7 + 1;
    const bool last = date.day() + 7 > date.daysInMonth();
    const QSignalBlocker quiet(ui->cmbRepeatMonthly);
    ui->cmbRepeatMonthly->clear();
    ui->cmbRepeatMonthly->addItem(QStringLiteral("On day %1 of the month").arg(date.day()), 0);
    if (nth <= 4)
        ui->cmbRepeatMonthly->addItem(QStringLiteral("On the %1 %2").arg(QLatin1String(Ordinals[nth]), weekday), nth);
    if (last)
        ui->cmbRepeatMonthly->addItem(QStringLiteral("On the last %1").arg(weekday), -1);
    int index = ui->cmbRepeatMonthly->findData(chosen);
    if (index < 0 && chosen != 0)
        index = ui->cmbRepeatMonthly->count() - 1;
    ui->cmbRepeatMonthly->setCurrentIndex(index < 0 ? 0 : index);
}

void TfrmEvent::repeatChanged()
{
    const int choice = ui->cmbRepeat->currentIndex();
    const bool repeats = choice != RepeatNone;
    const bool editable = repeatEditable_;
    ui->lblRepeatEvery->setEnabled(repeats && editable);
    ui->spnRepeatEvery->setEnabled(repeats && editable);
    ui->lblRepeatUnit->setEnabled(repeats && editable);
    static const char* const Units[] = {"", "day(s)", "week(s)", "month(s)", "year(s)"};
    ui->lblRepeatUnit->setText(QLatin1String(Units[choice < 0 ? 0 : choice]));
    for (QCheckBox* box : weekdayBoxes()) {
        box->setVisible(choice == RepeatWeekly);
        box->setEnabled(editable);
    }
    ui->cmbRepeatMonthly->setVisible(choice == RepeatMonthly);
    ui->cmbRepeatMonthly->setEnabled(editable);
    for (QWidget* end : {static_cast<QWidget*>(ui->rdoRepeatEndNever), static_cast<QWidget*>(ui->rdoRepeatEndDate),
                         static_cast<QWidget*>(ui->rdoRepeatEndCount), static_cast<QWidget*>(ui->lblRepeatTimes)})
        end->setEnabled(repeats && editable);
    ui->cmbRepeatUntil->setEnabled(repeats && editable && ui->rdoRepeatEndDate->isChecked());
    ui->spnRepeatCount->setEnabled(repeats && editable && ui->rdoRepeatEndCount->isChecked());

    QString summary;
    if (!repeats)
        summary = QStringLiteral("Does not repeat");
    else if (const QString refusal = repeatRefusal(); !refusal.isEmpty())
        summary = refusal;
    else
        summary = readRule()->Summary();
    ui->lblRepeatSummary->setText(summary);
}

std::optional<TRecurrenceRule> TfrmEvent::readRule() const
{
    const int choice = ui->cmbRepeat->currentIndex();
    if (choice <= RepeatNone)
        return std::nullopt;
    TRecurrenceRule rule;
    rule.setStart(ui->cmbDate->date());
    if (!ui->chkUnTimed->isChecked())
        rule.setTime(QTime(ui->cmbHour->currentIndex(), ui->cmbMinute->currentIndex() * 5));
    rule.setFrequency(TRecurrenceRule::Frequency(choice - RepeatDaily));
    rule.setInterval(ui->spnRepeatEvery->value());
    if (choice == RepeatWeekly) {
        int bits = 0;
        const QList<QCheckBox*> days = weekdayBoxes();
        for (int day = 1; day <= 7; ++day)
            if (days[day - 1]->isChecked())
                bits |= TRecurrenceRule::weekdayBit(day);
        rule.setWeekdays(bits);
    }
    if (choice == RepeatMonthly)
        rule.setMonthlyWeek(ui->cmbRepeatMonthly->currentData().toInt());
    if (ui->rdoRepeatEndDate->isChecked())
        rule.setUntil(ui->cmbRepeatUntil->date());
    else if (ui->rdoRepeatEndCount->isChecked())
        rule.setCount(ui->spnRepeatCount->value());
    return rule;
}

QString TfrmEvent::repeatRefusal() const
{
    // A shown repeat the person cannot change is the series' own: never
    // refused here.
    const std::optional<TRecurrenceRule> rule = readRule();
    if (!rule || !repeatEditable_)
        return QString();
    if (rule->frequency() == TRecurrenceRule::Frequency::Weekly && rule->Weekdays() == 0)
        return RepeatNoWeekday;
    if (rule->end() == TRecurrenceRule::End::OnDate && rule->Until() < rule->Start())
        return RepeatEndsBeforeStart;
    if (rule->end() == TRecurrenceRule::End::AfterCount && rule->Count() < 1)
        return RepeatNoCount;
    // An end on a date before the first day the rule has (a Monday rule
    // from a Wednesday to Friday) would make a series without occurrences.
    if (rule->end() == TRecurrenceRule::End::OnDate && rule->IsValid()
        && rule->Days(rule->Start(), rule->Until(), 1).isEmpty())
        return RepeatNoOccurrence;
    return QString();
}
