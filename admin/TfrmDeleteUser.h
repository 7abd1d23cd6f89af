#pragma once

#include "TServices.h"

#include <QDialog>
#include <QString>

#include <memory>

#include "TUserRemoval.h"

class TQuorlaDB;

namespace Ui {
class TfrmDeleteUser;
}

// Removes a user without leaving entries that point at him. Four pages ask
// what becomes of the entries he owns (deleted, or transferred to another
// user) and of those assigned to him alone (deleted, or assigned to another
// user); the last page names the user and says what Delete will do, counted
// on the entries as they are; Delete then runs the store's removal
// (TUserRemoval), showing its progress. A record locked elsewhere (or a failing dataset) stops it with an
// error; what was done stays done, the user record stays, and the wizard
// stays on its last page so that Delete can run the pass again and finish.
class TfrmDeleteUser : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmDeleteUser(TServices services, QWidget* parent = nullptr);
    ~TfrmDeleteUser() override;

    // Starts on the first page with transfer and assign chosen and the first
    // other user selected in both lists, and shows the wizard modally.
    // Returns 1 when the user was removed, 2 when the wizard was left without.
    // Throws EQuorla "Unable to read any user details" when there is no other
    // user to hand entries to, without showing the wizard.
    int Execute(const QString& userKey, TQuorlaDB& database);

public slots:
    void reject() override;

private slots:
    void actPrevUpdate();
    void actPrevExecute();
    void actNextUpdate();
    void actNextExecute();
    void actDeleteUpdate();
    void actDeleteExecute();
    void actCancelExecute();
    void rdoOwnerDeleteClick();
    void rdoOwnerTransferClick();
    void rdoAssignedDeleteClick();
    void rdoAssignedAssignClick();

private:
    void fillUserLists();
    void showPage(int page);
    // The answers of the Owner and Assigned pages.
    TUserRemoval::TChoices choices() const;
    // What Delete will do with these answers, naming the user.
    QString summary();

    TServices services_;
    std::unique_ptr<Ui::TfrmDeleteUser> ui_;
    QString userKey_;
    // "FULL NAME (USERNAME)" of the user being removed.
    QString userName_;
    TQuorlaDB* database_ = nullptr;
};
