#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class DayEntryRecord;
class TQuorlaDB;

namespace Ui {
class TfrmDeleteUser;
}

// Removes a user without leaving entries that point at him. Four pages ask
// what becomes of the entries he owns (deleted, or transferred to another
// user) and of those assigned to him alone (deleted, or assigned to another
// user); Delete then makes one pass over the day entries, deletes his alarms
// and finally his user record.
//
// Every change to an entry or alarm is made under its record lock. A record
// locked elsewhere (or a failing dataset) stops the pass with an error; what
// was done stays done, the user record stays, and the wizard stays on its last
// page so that Delete can run the pass again and finish the rest.
class TfrmDeleteUser : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmDeleteUser(QWidget* parent = nullptr);
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
    void passOverDayEntries();
    void scanDayEntries(const QString& newOwner, const QString& newAssignee);
    // What the answers make of one entry: true when it is to be deleted;
    // otherwise `entry` holds its new contents and `changed` says whether it
    // differs from before.
    bool rework(DayEntryRecord& entry, const QString& newOwner, const QString& newAssignee, bool& changed) const;
    bool deleteAlarms();

    std::unique_ptr<Ui::TfrmDeleteUser> ui_;
    QString userKey_;
    TQuorlaDB* database_ = nullptr;
};
