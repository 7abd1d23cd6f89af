#include "TfrmUsers.h"

#include "ui_TfrmUsers.h"

#include "EQuorla.h"
#include "RecordKey.h"
#include "TCommand.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TServices.h"
#include "TUserCache.h"
#include "TXIsamFile.h"
#include "TfrmDeleteUser.h"
#include "UserRecord.h"

#include <QLineEdit>
#include <QListWidgetItem>

#include <array>

namespace {

constexpr qint16 PrimaryIndex = 0;
constexpr qint16 UserNameIndex = 3;

// The bit of `Rights` each entry of the flags list stands for, by position.
constexpr std::array<qint32, 4> FlagBits = {UserRecord::CanAdminister, UserRecord::CanAddEntries,
                                            UserRecord::CanModifyOthersEntries,
                                            UserRecord::CanAddEntriesForOthers};

const QString NoUsers = QStringLiteral("Unable to read any user details");
const QString NameTaken =
    QStringLiteral("A user with this username already exists. Please choose another username.");
const QString NoSuchUser =
    QStringLiteral("This user does not exist. You can \"Add\" a new user but not \"Update\".");
const QString CannotDeleteSelf = QStringLiteral("You cannot delete the user you are logged on as");
const QString UserLocked = QStringLiteral("Unable to update this user. Another user has locked it");

void inform(const QString& text)
{
    TServices::current().message(TServices::MessageKind::Information, TServices::MessageButtons::Ok, text);
}

// Turns what is typed (or pasted) into upper case where it lands, keeping the
// cursor where it was.
void keepUpperCase(QLineEdit* edit)
{
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int cursor = edit->cursorPosition();
        edit->setText(upper);
        edit->setCursorPosition(cursor);
    });
}

} // namespace

TfrmUsers::TfrmUsers(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TfrmUsers>()), frmDeleteUser_(new TfrmDeleteUser(this))
{
    ui_->setupUi(this);
    keepUpperCase(ui_->edtUserName);
    keepUpperCase(ui_->edtPassword);

    connect(ui_->lstUsers, &QListWidget::currentRowChanged, this, &TfrmUsers::lstUsersClick);
    for (QLineEdit* edit : {ui_->edtUserName, ui_->edtFullname, ui_->edtAbbreviation})
        connect(edit, &QLineEdit::textChanged, this, &TfrmUsers::actAddUpdate);
    connect(ui_->actAdd, &QPushButton::clicked, this, &TfrmUsers::actAddExecute);
    connect(ui_->actUpdate, &QPushButton::clicked, this, &TfrmUsers::actUpdateExecute);
    connect(ui_->actDelete, &QPushButton::clicked, this, &TfrmUsers::actDeleteExecute);
    connect(ui_->actClose, &QPushButton::clicked, this, &TfrmUsers::actCloseExecute);
    actAddUpdate();
}

TfrmUsers::~TfrmUsers() = default;

int TfrmUsers::Execute(const QString& currentUserKey, TQuorlaDB& database, TUserCache& userCache)
{
    currentUserKey_ = currentUserKey;
    database_ = &database;
    userCache_ = &userCache;

    fillList();
    if (ui_->lstUsers->count() == 0)
        throw EQuorla(NoUsers);
    {
        const QSignalBlocker quiet(ui_->lstUsers);
        ui_->lstUsers->setCurrentRow(0);
    }
    loadSelectedUser();

    ui_->lstUsers->setFocus();
    return exec();
}

void TfrmUsers::reject()
{
    // Leaving without Close: the datasets and the cache stay as they are.
    done(2);
}

void TfrmUsers::fillList()
{
    const QSignalBlocker quiet(ui_->lstUsers);
    ui_->lstUsers->clear();
    TXIsamFile& users = database_->Users();
    UserRecord user;
    users.Rewind(PrimaryIndex);
    while (users.Get(user.bytes(), PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        auto* item = new QListWidgetItem(user.UserName());
        item->setData(Qt::UserRole, RecordKey::parse(users.CurrentKey()));
        ui_->lstUsers->addItem(item);
    }
}

QString TfrmUsers::selectedKey() const
{
    const QListWidgetItem* item = ui_->lstUsers->currentItem();
    return item ? RecordKey::format(item->data(Qt::UserRole).toLongLong()) : QString();
}

void TfrmUsers::lstUsersClick()
{
    TCommand::Run([this] { loadSelectedUser(); });
}

void TfrmUsers::loadSelectedUser()
{
    if (ui_->lstUsers->currentItem() == nullptr)
        return;
    TXIsamFile& users = database_->Users();
    UserRecord user;
    if (!users.GetEqual(user.bytes(), PrimaryIndex, selectedKey()))
        throw EQuorla(users.ErrorText());

    ui_->edtUserName->setText(user.UserName());
    ui_->edtPassword->setText(user.Password());
    ui_->edtFullname->setText(user.FullName());
    ui_->edtAbbreviation->setText(user.Abbreviation());
    for (int i = 0; i < int(FlagBits.size()); ++i) {
        const bool set = (user.Rights() & FlagBits[std::size_t(i)]) != 0;
        ui_->lstFlags->item(i)->setCheckState(set ? Qt::Checked : Qt::Unchecked);
    }
}

void TfrmUsers::actAddUpdate()
{
    const bool complete = !ui_->edtUserName->text().isEmpty() && !ui_->edtFullname->text().isEmpty()
                          && !ui_->edtAbbreviation->text().isEmpty();
    ui_->actAdd->setEnabled(complete);
    ui_->actUpdate->setEnabled(complete);
}

UserRecord TfrmUsers::recordFromFields() const
{
    UserRecord user;
    database_->InitUserRecord(user);
    // Upper case whatever way the text got into the edits.
    user.setUserName(ui_->edtUserName->text().toUpper());
    user.setPassword(ui_->edtPassword->text().toUpper());
    user.setFullName(ui_->edtFullname->text());
    user.setAbbreviation(ui_->edtAbbreviation->text());
    qint32 rights = 0;
    for (int i = 0; i < int(FlagBits.size()); ++i) {
        if (ui_->lstFlags->item(i)->checkState() == Qt::Checked)
            rights |= FlagBits[std::size_t(i)];
    }
    user.setRights(rights);
    return user;
}

QString TfrmUsers::keyOfUserNamed(const QString& userName)
{
    TXIsamFile& users = database_->Users();
    UserRecord found;
    if (!users.GetEqual(found.bytes(), UserNameIndex, userName))
        return {};
    return users.CurrentKey();
}

void TfrmUsers::actAddExecute()
{
    TCommand::Run([this] { addUser(); });
}

void TfrmUsers::addUser()
{
    const UserRecord user = recordFromFields();
    if (!keyOfUserNamed(user.UserName()).isEmpty()) {
        inform(NameTaken);
        return;
    }
    TXIsamFile& users = database_->Users();
    if (!users.Insert(user.bytes()))
        throw EQuorla(users.ErrorText());

    auto* item = new QListWidgetItem(user.UserName());
    item->setData(Qt::UserRole, RecordKey::parse(users.CurrentKey()));
    const QSignalBlocker quiet(ui_->lstUsers);
    ui_->lstUsers->addItem(item);
}

void TfrmUsers::actUpdateExecute()
{
    TCommand::Run([this] { updateUser(); });
}

void TfrmUsers::updateUser()
{
    const QString key = selectedKey();
    if (key.isEmpty())
        return;
    const UserRecord user = recordFromFields();
    const QString owner = keyOfUserNamed(user.UserName());
    if (owner.isEmpty()) {
        inform(NoSuchUser);
        return;
    }
    // Two users with one name would make log-in ambiguous.
    if (owner != key) {
        inform(NameTaken);
        return;
    }
    TXIsamFile& users = database_->Users();
    const TRecordLock lock(users, key, UserLocked);
    if (!users.Update(user.bytes(), key))
        throw EQuorla(users.ErrorText());
}

void TfrmUsers::actDeleteExecute()
{
    TCommand::Run([this] {
        const QString key = selectedKey();
        if (key.isEmpty())
            return;
        if (key == currentUserKey_) {
            inform(CannotDeleteSelf);
            return;
        }
        if (frmDeleteUser_->Execute(key, *database_) != 1)
            return;

        QListWidget* list = ui_->lstUsers;
        const int row = list->currentRow();
        {
            const QSignalBlocker quiet(list);
            delete list->takeItem(row);
            list->setCurrentRow(row < list->count() ? row : list->count() - 1);
        }
        loadSelectedUser();
    });
}

void TfrmUsers::actCloseExecute()
{
    TCommand::Run([this] {
        database_->ReopenUsersAndCategories();
        userCache_->Reload();
        done(1);
    });
}
