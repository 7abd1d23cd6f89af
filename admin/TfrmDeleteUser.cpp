#include "TfrmDeleteUser.h"

#include "ui_TfrmDeleteUser.h"

#include "EQuorla.h"
#include "RecordKey.h"
#include "TBusyCursor.h"
#include "TCommand.h"
#include "TQuorlaDB.h"
#include "TLookup.h"
#include "TServices.h"
#include "TXIsamFile.h"
#include "TUserWriter.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QEventLoop>


namespace {


constexpr int IntroPage = 0;
constexpr int LastPage = 3;

const QString NoUsers = QStringLiteral("Unable to read any user details");
const QString AlarmsDeleted = QStringLiteral("Some alarms associated with this user were deleted");

} // namespace

TfrmDeleteUser::TfrmDeleteUser(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui_(std::make_unique<Ui::TfrmDeleteUser>())
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
    UserRecord user;
    userName_ = TUserWriter(database.Users()).readUser(userKey, user)
                    ? QStringLiteral("%1 (%2)").arg(user.FullName(), user.UserName())
                    : userKey;
    setWindowTitle(QStringLiteral("Delete User %1").arg(userName_));
    return exec();
}

void TfrmDeleteUser::fillUserLists()
{
    ui_->cmbOwner->clear();
    ui_->cmbAssigned->clear();
    TXIsamFile& users = database_->Users();
    UserRecord user;
    TLookup::Each(users, user.bytes(), [&](const QString& key) {
        if (key == userKey_)
            return;
        ui_->cmbOwner->addItem(user.FullName(), RecordKey::parse(key));
        ui_->cmbAssigned->addItem(user.FullName(), RecordKey::parse(key));
    });
    if (ui_->cmbOwner->count() == 0)
        throw EQuorla(NoUsers);
    ui_->cmbOwner->setCurrentIndex(0);
    ui_->cmbAssigned->setCurrentIndex(0);
}

void TfrmDeleteUser::showPage(int page)
{
    if (page == LastPage)
        TCommand::Run(services_.person(), [this] { ui_->lblSummary->setText(summary()); });
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

QString TfrmDeleteUser::summary()
{
    // Counted as the pass would find the entries now.
    const TUserRemoval::TChoices chosen = choices();
    const TUserRemoval::TSummary will = TUserRemoval(*database_, userKey_, chosen).survey();
    const auto entries = [](int count) {
        return count == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(count);
    };
    QStringList parts;
    if (!chosen.deleteOwned)
        parts << QStringLiteral("%1 transferred to %2").arg(entries(will.transferred), ui_->cmbOwner->currentText());
    if (!chosen.deleteAssigned)
        parts << QStringLiteral("%1 to %2")
                     .arg(will.reassigned == 1 ? QStringLiteral("1 assignment")
                                               : QStringLiteral("%1 assignments").arg(will.reassigned),
                          ui_->cmbAssigned->currentText());
    // A deleted entry takes every alarm of it along, other assignees' too.
    if (will.deleted > 0)
        parts << QStringLiteral("%1 deleted with all %2 alarms, other users' too")
                     .arg(entries(will.deleted), will.deleted == 1 ? QStringLiteral("its") : QStringLiteral("their"));
    else
        parts << QStringLiteral("0 entries deleted");
    parts << QStringLiteral("this user's alarms deleted");
    return QStringLiteral("Delete will remove %1: %2.").arg(userName_, parts.join(QStringLiteral(", ")));
}

TUserRemoval::TChoices TfrmDeleteUser::choices() const
{
    TUserRemoval::TChoices choices;
    choices.deleteOwned = ui_->rdoOwnerDelete->isChecked();
    choices.newOwner = RecordKey::format(ui_->cmbOwner->currentData().toLongLong());
    choices.deleteAssigned = ui_->rdoAssignedDelete->isChecked();
    choices.newAssignee = RecordKey::format(ui_->cmbAssigned->currentData().toLongLong());
    return choices;
}

void TfrmDeleteUser::actDeleteExecute()
{
    if (ui_->nbkMain->currentIndex() != LastPage)
        return;
    TUserRemoval::TSummary summary;
    const bool finished = TCommand::Run(services_.person(), [this, &summary] {
        // The datasets are reopened whether the pass finished or not, so that
        // what it did is seen at once.
        struct Reopen
        {
            TQuorlaDB& database;
            TPersonServices& person;
            ~Reopen() { TCommand::Run(person, [this] { database.ReopenUsersAndCategories(); }); }
        } reopen{*database_, services_.person()};
        const TBusyCursor busy(services_.person());
        QProgressBar* progress = ui_->prgScanning;
        ui_->lblScanning->show();
        progress->setRange(0, 0);
        progress->setValue(0);
        progress->show();
        TUserRemoval removal(*database_, userKey_, choices());
        removal.OnProgress = [progress](qint64 done, qint64 total) {
            progress->setRange(0, int(total));
            progress->setValue(int(done));
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        };
        summary = removal.run();
    });
    if (!finished)
        return;
    if (summary.alarms > 0) {
        services_.person().message(TPersonServices::MessageKind::Information, TPersonServices::MessageButtons::Ok,
                                     AlarmsDeleted);
    }
    QDialog::done(1);
}
