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

TfrmLogin::TfrmLogin(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui_(std::make_unique<Ui::TfrmLogin>())
{
    ui_->setupUi(this);
    TDialogFrame::Fixed(*this);
    TTextLimit::Apply(ui_->edtUserName, services_.desktop(), UserRecord::UserNameCapacity, true);
    TTextLimit::Apply(ui_->edtPassword, services_.desktop(), UserRecord::PasswordCapacity, true);
    TCommand::Bind(ui_->actOk, services_.person(), [this] { actOkExecute(); });
    TCommand::Bind(ui_->actCancel, services_.person(), [this] { actCancelExecute(); });
}

TfrmLogin::~TfrmLogin() = default;

int TfrmLogin::Execute(TQuorlaDB& database, UserRecord& user)
{
    const TSession::TCheck check = [&database](const QString& name, const QString& password, UserRecord& found,
                                               QString& key) {
        return TSession::CheckStored(database, name, password, found, key);
    };
    return Execute(check, user);
}

int TfrmLogin::Execute(const TSession::TCheck& check, UserRecord& user)
{
    check_ = &check;
    user_ = &user;
    key_.clear();
    ui_->edtUserName->setText(UserRecord::NameOf(user.UserName()));
    ui_->edtPassword->clear();
    if (ui_->edtUserName->text().isEmpty())
        ui_->edtUserName->setFocus();
    else
        ui_->edtPassword->setFocus();
    const int result = exec() == QDialog::Accepted ? 1 : 2;
    check_ = nullptr;
    user_ = nullptr;
    return result;
}

QString TfrmLogin::EnteredKey() const
{
    return key_;
}

void TfrmLogin::actOkExecute()
{
    if (check_ == nullptr || user_ == nullptr)
        return;
    UserRecord found;
    QString key;
    // A read that failed (a share or a server away) is an error, shown as one.
    const TSession::Verdict verdict = (*check_)(ui_->edtUserName->text(), ui_->edtPassword->text(), found, key);
    if (verdict == TSession::Verdict::UnknownUser) {
        services_.person().message(TPersonServices::MessageKind::Information, TPersonServices::MessageButtons::Ok, UnknownUser);
        return;
    }
    if (verdict == TSession::Verdict::WrongPassword) {
        services_.person().message(TPersonServices::MessageKind::Information, TPersonServices::MessageButtons::Ok, WrongPassword);
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
