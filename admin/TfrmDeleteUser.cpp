#include "TfrmDeleteUser.h"

#include "ui_TfrmDeleteUser.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TBusyCursor.h"
#include "TCommand.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TServices.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>

namespace {

constexpr qint16 PrimaryIndex = 0;
constexpr qint16 UserAlarmIndex = 5;

constexpr int IntroPage = 0;
constexpr int LastPage = 3;

const QString NoUsers = QStringLiteral("Unable to read any user details");
const QString Locked = QStringLiteral("Unable to complete deletion. Another user has locked the database");
const QString AlarmsDeleted = QStringLiteral("Some alarms associated with this user were deleted");

} // namespace

TfrmDeleteUser::TfrmDeleteUser(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfrmDeleteUser>())
{
    ui_->setupUi(this);
    connect(ui_->actPrev, &QPushButton::clicked, this, &TfrmDeleteUser::actPrevExecute);
    connect(ui_->actNext, &QPushButton::clicked, this, &TfrmDeleteUser::actNextExecute);
    connect(ui_->actDelete, &QPushButton::clicked, this, &TfrmDeleteUser::actDeleteExecute);
    connect(ui_->actCancel, &QPushButton::clicked, this, &TfrmDeleteUser::actCancelExecute);
    connect(ui_->rdoOwnerDelete, &QRadioButton::clicked, this, &TfrmDeleteUser::rdoOwnerDeleteClick);
    connect(ui_->rdoOwnerTransfer, &QRadioButton::clicked, this, &TfrmDeleteUser::rdoOwnerTransferClick);
    connect(ui_->rdoAssignedDelete, &QRadioButton::clicked, this, &TfrmDeleteUser::rdoAssignedDeleteClick);
    connect(ui_->rdoAssignedAssign, &QRadioButton::clicked, this, &TfrmDeleteUser::rdoAssignedAssignClick);
    connect(ui_->nbkMain, &QStackedWidget::currentChanged, this, [this] {
        actPrevUpdate();
        actNextUpdate();
        actDeleteUpdate();
    });
}

TfrmDeleteUser::~TfrmDeleteUser() = default;

int TfrmDeleteUser::Execute(const QString& userKey, TQuorlaDB& database)
{
    userKey_ = userKey;
    database_ = &database;
    showPage(IntroPage);

    ui_->rdoOwnerTransfer->setChecked(true);
    rdoOwnerTransferClick();
    ui_->rdoAssignedAssign->setChecked(true);
    rdoAssignedAssignClick();
    ui_->lblScanning->hide();
    ui_->prgScanning->hide();

    fillUserLists();
    return exec();
}

void TfrmDeleteUser::fillUserLists()
{
    ui_->cmbOwner->clear();
    ui_->cmbAssigned->clear();
    TXIsamFile& users = database_->Users();
    UserRecord user;
    users.Rewind(PrimaryIndex);
    while (users.Get(user.bytes(), PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        if (users.CurrentKey() == userKey_)
            continue;
        const qint64 key = RecordKey::parse(users.CurrentKey());
        ui_->cmbOwner->addItem(user.FullName(), key);
        ui_->cmbAssigned->addItem(user.FullName(), key);
    }
    if (ui_->cmbOwner->count() == 0)
        throw EQuorla(NoUsers);
    ui_->cmbOwner->setCurrentIndex(0);
    ui_->cmbAssigned->setCurrentIndex(0);
}

void TfrmDeleteUser::showPage(int page)
{
    ui_->nbkMain->setCurrentIndex(page);
    actPrevUpdate();
    actNextUpdate();
    actDeleteUpdate();
}

void TfrmDeleteUser::actPrevUpdate()
{
    ui_->actPrev->setEnabled(ui_->nbkMain->currentIndex() > IntroPage);
}

void TfrmDeleteUser::actPrevExecute()
{
    if (ui_->nbkMain->currentIndex() > IntroPage)
        showPage(ui_->nbkMain->currentIndex() - 1);
}

void TfrmDeleteUser::actNextUpdate()
{
    ui_->actNext->setEnabled(ui_->nbkMain->currentIndex() < LastPage);
}

void TfrmDeleteUser::actNextExecute()
{
    if (ui_->nbkMain->currentIndex() < LastPage)
        showPage(ui_->nbkMain->currentIndex() + 1);
}

void TfrmDeleteUser::actDeleteUpdate()
{
    ui_->actDelete->setEnabled(ui_->nbkMain->currentIndex() == LastPage);
}

void TfrmDeleteUser::actCancelExecute()
{
    done(2);
}

void TfrmDeleteUser::reject()
{
    actCancelExecute();
}

void TfrmDeleteUser::rdoOwnerDeleteClick()
{
    ui_->cmbOwner->setEnabled(false);
}

void TfrmDeleteUser::rdoOwnerTransferClick()
{
    ui_->cmbOwner->setEnabled(true);
}

void TfrmDeleteUser::rdoAssignedDeleteClick()
{
    ui_->cmbAssigned->setEnabled(false);
}

void TfrmDeleteUser::rdoAssignedAssignClick()
{
    ui_->cmbAssigned->setEnabled(true);
}

void TfrmDeleteUser::actDeleteExecute()
{
    if (ui_->nbkMain->currentIndex() != LastPage)
        return;
    bool alarmsDeleted = false;
    const bool finished = TCommand::Run([this, &alarmsDeleted] {
        // The datasets are reopened whether the pass finished or not, so that
        // what it did is seen at once.
        struct Reopen
        {
            TQuorlaDB& database;
            ~Reopen() { TCommand::Run([this] { database.ReopenUsersAndCategories(); }); }
        } reopen{*database_};
        {
            const TBusyCursor busy;
            passOverDayEntries();
            alarmsDeleted = deleteAlarms();
            TXIsamFile& users = database_->Users();
            const TRecordLock lock(users, userKey_, Locked);
            if (!users.Delete(userKey_))
                throw EQuorla(users.ErrorText());
        }
    });
    if (!finished)
        return;
    if (alarmsDeleted) {
        TServices::current().message(TServices::MessageKind::Information, TServices::MessageButtons::Ok,
                                     AlarmsDeleted);
    }
    QDialog::done(1);
}

void TfrmDeleteUser::passOverDayEntries()
{
    const QString newOwner = RecordKey::format(ui_->cmbOwner->currentData().toLongLong());
    const QString newAssignee = RecordKey::format(ui_->cmbAssigned->currentData().toLongLong());

    TXIsamFile& entries = database_->DayEntries();
    const qint32 count = entries.RecordCount();
    if (count < 0)
        throw EQuorla(entries.ErrorText());
    ui_->lblScanning->show();
    ui_->prgScanning->setRange(0, count);
    ui_->prgScanning->setValue(0);
    ui_->prgScanning->show();
    scanDayEntries(newOwner, newAssignee);
}

void TfrmDeleteUser::scanDayEntries(const QString& newOwner, const QString& newAssignee)
{
    TXIsamFile& entries = database_->DayEntries();
    DayEntryRecord entry;
    entries.Rewind(PrimaryIndex);
    while (entries.Get(entry.bytes(), PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        const QString key = entries.CurrentKey();
        QProgressBar* progress = ui_->prgScanning;
        // Entries added elsewhere during the pass may outnumber the count.
        progress->setMaximum(std::max(progress->maximum(), progress->value() + 1));
        progress->setValue(progress->value() + 1);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

        bool changed = false;
        DayEntryRecord scanned = entry;
        rework(scanned, newOwner, newAssignee, changed);
        if (!changed)
            continue;

        // The contents that count are those under the lock: another
        // workstation may have changed the entry since the scan read it.
        const TRecordLock lock(entries, key, Locked);
        if (!entries.GetEqual(entry.bytes(), PrimaryIndex, key))
            continue; // deleted elsewhere meanwhile; the scan goes on after it
        if (rework(entry, newOwner, newAssignee, changed)) {
            if (!entries.Delete(key))
                throw EQuorla(entries.ErrorText());
        } else if (changed && !entries.Update(entry.bytes(), key)) {
            throw EQuorla(entries.ErrorText());
        }
    }
}

bool TfrmDeleteUser::rework(DayEntryRecord& entry, const QString& newOwner, const QString& newAssignee,
                            bool& changed) const
{
    changed = false;
    if (entry.OwnerKey() == userKey_) {
        changed = true;
        if (ui_->rdoOwnerDelete->isChecked())
            return true;
        entry.setOwnerKey(newOwner);
    }

    int slot = 0;
    while (slot < DayEntryRecord::MaxAssignees && entry.Assignee(slot) != userKey_)
        ++slot;
    if (slot == DayEntryRecord::MaxAssignees)
        return false;
    changed = true;
    // Only his slot empties; the others keep their positions.
    entry.setAssignee(slot, QString(RecordKey::None));
    if (!entry.AssigneeKeys().isEmpty())
        return false;
    if (ui_->rdoAssignedDelete->isChecked())
        return true;
    entry.setAssignee(0, newAssignee);
    return false;
}

bool TfrmDeleteUser::deleteAlarms()
{
    TXIsamFile& alarms = database_->Alarms();
    AlarmRecord alarm;
    bool deleted = false;
    // An alarm's key is its user's key followed by its time, so this only
    // positions before his first alarm; a key that is his alone (no time) is
    // found here and is his as well.
    bool exact = alarms.GetEqual(alarm.bytes(), UserAlarmIndex, userKey_);
    while (exact || alarms.Get(alarm.bytes(), UserAlarmIndex, userKey_, TXIsamFile::ScanPrefix)) {
        exact = false;
        const QString key = alarms.CurrentKey();
        const TRecordLock lock(alarms, key, Locked);
        if (!alarms.Delete(key))
            throw EQuorla(alarms.ErrorText());
        deleted = true;
    }
    return deleted;
}
