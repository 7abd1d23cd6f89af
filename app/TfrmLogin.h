#pragma once

#include "TServices.h"
#include "TSession.h"

#include <QDialog>

#include <memory>

class TQuorlaDB;
class UserRecord;

namespace Ui {
class TfrmLogin;
}

// The log-in dialog: a user name and a password, both upper case. OK tries
// them (on a folder: the name looked up in the users dataset and the
// passwords compared upper-cased; where each person is his own server role,
// the two open his connection, see TSession); a name that is not found or a
// wrong password is told and the dialog stays open for another try, as often
// as the user likes; a wrong password is cleared, its field keeping the
// focus. Only Cancel (or closing the window) ends it without a log-in.
class TfrmLogin : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmLogin(TServices services, QWidget* parent = nullptr);
    ~TfrmLogin() override;

    // Pre-fills the user name from `user`'s UserName, clears the password,
    // focuses the password when a name is there (else the name) and shows the
    // dialog modally. Returns 1 when a user was verified, `user` then holding
    // that user's whole record, and 2 otherwise.
    int Execute(TQuorlaDB& database, UserRecord& user);
    // The same, trying name and password with `check`.
    int Execute(const TSession::TCheck& check, UserRecord& user);

    // The record key of the user verified by the last Execute; empty when
    // none was.
    QString EnteredKey() const;

private:
    void actOkExecute();
    void actCancelExecute();

    TServices services_;
    std::unique_ptr<Ui::TfrmLogin> ui_;
    UserRecord* user_ = nullptr;
    const TSession::TCheck* check_ = nullptr;
    QString key_;
};
