#pragma once

#include "TServices.h"
#include "UserRecord.h"

#include <QDialog>
#include <QString>

#include <memory>

class TfrmDeleteUser;
class TQuorlaDB;
class TUserCache;

namespace Ui {
class TfrmUsers;
}

// The administrator's list of users: add a user, change a user's details and
// rights, and remove a user through the delete-user wizard. Works directly on
// the users dataset of the database it is given; created once and reused.
//
// User names and passwords are upper case as typed and as stored, so log-in
// compares them in upper case. A user name belongs to one user only: Add and
// Update refuse a name that another user bears. Selecting or clicking a user
// loads him; an added user is selected and loaded. Enter in a field updates
// the loaded user when something but his name was changed, adds a user when
// the name is another, and never closes the dialog.
class TfrmUsers : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmUsers(TServices services, QWidget* parent = nullptr);
    ~TfrmUsers() override;

    // Lists every user, loads the first and shows the dialog modally.
    // `currentUserKey` is the logged-in administrator, who cannot remove
    // himself. Returns 1 after Close, which reopens the users and categories
    // datasets and reloads `userCache`; 2 when closed any other way (the
    // title-bar button, Escape), which reloads nothing. Throws EQuorla
    // "Unable to read any user details" when no user can be read, without
    // showing the dialog.
    int Execute(const QString& currentUserKey, TQuorlaDB& database, TUserCache& userCache);

    // The wizard the dialog removes users with.
    TfrmDeleteUser& DeleteUserWizard() { return *frmDeleteUser_; }

public slots:
    void reject() override;

private slots:
    void lstUsersClick();
    void actAddUpdate();
    void actAddExecute();
    void actUpdateExecute();
    void actDeleteExecute();
    void actCloseExecute();
    void fieldsEnter();

private:
    void fillList();
    void loadSelectedUser();
    QString selectedKey() const;
    UserRecord recordFromFields() const;
    void addUser();
    void updateUser();

    TServices services_;
    std::unique_ptr<Ui::TfrmUsers> ui_;
    TfrmDeleteUser* frmDeleteUser_;
    QString currentUserKey_;
    TQuorlaDB* database_ = nullptr;
    TUserCache* userCache_ = nullptr;
    // The user as last loaded into the fields.
    UserRecord loaded_;
};
