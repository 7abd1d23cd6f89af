#include "TfrmLogin.h"

#include "ui_TfrmLogin.h"

#include "TCommand.h"
#include "TDialogFrame.h"
#include "TLookup.h"
#include "TTextLimit.h"
#include "TQuorlaDB.h"
#include "TServices.h"
#include "UserRecord.h"

#include <QLineEdit>

namespace {

const QString UnknownUser = QStringLiteral(
    "Quorla was unable to find you as an existing user.\r\r"
    "Please make sure you have been added by an Administrator.");
const QString WrongPassword = QStringLiteral(
    "Quorla was unable to verify your password.\r\r"
    "Please make sure you have entered the correct password or contact your Administrator.");

} // namespace

TfrmLogin::TfrmLogin(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfrmLogin>())
{
    ui_->setupUi(this);
    TDialogFrame::Fixed(*this);
    TTextLimit::Apply(ui_->edtUserName, UserRecord::UserNameCapacity, true);
    TTextLimit::Apply(ui_->edtPassword, UserRecord::PasswordCapacity, true);
    TCommand::Bind(ui_->actOk, [this] { actOkExecute(); });
    TCommand::Bind(ui_->actCancel, [this] { actCancelExecute(); });
}

TfrmLogin::~TfrmLogin() = default;

int TfrmLogin::Execute(TQuorlaDB& database, UserRecord& user)
{
    database_ = &database;
    user_ = &user;
    key_.clear();
    ui_->edtUserName->setText(user.UserName().toUpper());
    ui_->edtPassword->clear();
    if (ui_->edtUserName->text().isEmpty())
        ui_->edtUserName->setFocus();
    else
        ui_->edtPassword->setFocus();
    const int result = exec() == QDialog::Accepted ? 1 : 2;
    database_ = nullptr;
    user_ = nullptr;
    return result;
}

QString TfrmLogin::EnteredKey() const
{
    return key_;
}

void TfrmLogin::actOkExecute()
{
    if (database_ == nullptr || user_ == nullptr)
        return;
    TServices& services = TServices::current();
    UserRecord found;
    // Only "no such user" means unknown: a read that failed (a share or a
    // server away) is an error, shown as one.
    if (!TLookup::Equal(database_->Users(), found.bytes(), UserRecord::UserNameIndex, ui_->edtUserName->text())) {
        services.message(TServices::MessageKind::Information, TServices::MessageButtons::Ok, UnknownUser);
        return;
    }
    const QString key = database_->Users().CurrentKey();
    if (found.Password().toUpper() != ui_->edtPassword->text().toUpper()) {
        services.message(TServices::MessageKind::Information, TServices::MessageButtons::Ok, WrongPassword);
        // Typed again from the start, where the typing goes on.
        ui_->edtPassword->clear();
        ui_->edtPassword->setFocus();
        return;
    }
    *user_ = found;
    key_ = key;
    done(QDialog::Accepted);
}

void TfrmLogin::actCancelExecute()
{
    done(QDialog::Rejected);
}
