#include "TfrmUsers.h"

#include "ui_TfrmUsers.h"

#include "EQuorla.h"
#include "RecordKey.h"
#include "TCommand.h"
#include "TTextLimit.h"
#include "TQuorlaDB.h"
#include "TLookup.h"
#include "THolderNotes.h"
#include "TUserWriter.h"
#include "TServices.h"
#include "TUserCache.h"
#include "TXIsamFile.h"
#include "TfrmDeleteUser.h"
#include "UserRecord.h"

#include <QLineEdit>
#include <QListWidgetItem>

#include <array>

namespace {

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
const QString UserGone = QStringLiteral("Unable to update this user. Another user has deleted it");
const QString UserChanged = QStringLiteral("Unable to update this user. Another user has changed it");

void inform(TPersonServices& person, const QString& text)
{
    person.message(TPersonServices::MessageKind::Information, TPersonServices::MessageButtons::Ok, text);
}

} // namespace

TfrmUsers::TfrmUsers(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui_(std::make_unique<Ui::TfrmUsers>()), frmDeleteUser_(new TfrmDeleteUser(services, this))
{
    ui_->setupUi(this);
    TTextLimit::Apply(ui_->edtUserName, services_.desktop(), UserRecord::UserNameCapacity, true);
    TTextLimit::Apply(ui_->edtPassword, services_.desktop(), UserRecord::PasswordCapacity, true);
    TTextLimit::Apply(ui_->edtFullname, services_.desktop(), UserRecord::FullNameCapacity);
    TTextLimit::Apply(ui_->edtAbbreviation, services_.desktop(), UserRecord::AbbreviationCapacity);

    // A click loads the user, the one already selected too (throwing away
    // what was typed over him).
    connect(ui_->lstUsers, &QListWidget::currentRowChanged, this, &TfrmUsers::lstUsersClick);
    connect(ui_->lstUsers, &QListWidget::itemClicked, this, &TfrmUsers::lstUsersClick);
    // Enter keeps what was typed: no button is the default, so it never closes
    // the dialog.
    for (QLineEdit* edit : {ui_->edtUserName, ui_->edtPassword, ui_->edtFullname, ui_->edtAbbreviation})
        connect(edit, &QLineEdit::returnPressed, this, &TfrmUsers::fieldsEnter);
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
    TLookup::Each(users, user.bytes(), [&](const QString& key) {
        auto* item = new QListWidgetItem(user.UserName());
        item->setData(Qt::UserRole, RecordKey::parse(key));
        ui_->lstUsers->addItem(item);
    });
}

QString TfrmUsers::selectedKey() const
{
    const QListWidgetItem* item = ui_->lstUsers->currentItem();
    return item ? RecordKey::format(item->data(Qt::UserRole).toLongLong()) : QString();
}

void TfrmUsers::lstUsersClick()
{
    TCommand::Run(services_.person(), [this] { loadSelectedUser(); });
}

void TfrmUsers::loadSelectedUser()
{
    if (ui_->lstUsers->currentItem() == nullptr)
        return;
    TXIsamFile& users = database_->Users();
    UserRecord user;
    if (!TUserWriter(users).readUser(selectedKey(), user))
        throw EQuorla(users.ErrorText());

    loaded_ = user;
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
    user.setUserName(UserRecord::NameOf(ui_->edtUserName->text()));
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

void TfrmUsers::actAddExecute()
{
    TCommand::Run(services_.person(), [this] { addUser(); });
}

void TfrmUsers::addUser()
{
    const UserRecord user = recordFromFields();
    QString key;
    if (TUserWriter(*database_).addUser(user, key) == TUserWriter::Result::NameTaken) {
        inform(services_.person(), NameTaken);
        return;
    }
    auto* item = new QListWidgetItem(user.UserName());
    item->setData(Qt::UserRole, RecordKey::parse(key));
    {
        const QSignalBlocker quiet(ui_->lstUsers);
        ui_->lstUsers->addItem(item);
        ui_->lstUsers->setCurrentItem(item);
    }
    // The list and the fields show the same user: the one just added.
    loadSelectedUser();
}

void TfrmUsers::fieldsEnter()
{
    // The loaded user, still under his own name and changed: Update. A new
    // name is a new user: Add.
    const UserRecord typed = recordFromFields();
    const bool loaded = ui_->lstUsers->currentItem() != nullptr && typed.UserName() == loaded_.UserName();
    if (!ui_->actAdd->isEnabled())
        return;
    if (!loaded)
        actAddExecute();
    else if (typed.Password() != loaded_.Password() || typed.FullName() != loaded_.FullName()
             || typed.Abbreviation() != loaded_.Abbreviation() || typed.Rights() != loaded_.Rights())
        actUpdateExecute();
}

void TfrmUsers::actUpdateExecute()
{
    TCommand::Run(services_.person(), [this] { updateUser(); });
}

void TfrmUsers::updateUser()
{
    const QString key = selectedKey();
    if (key.isEmpty())
        return;
    TUserWriter writer(*database_);
    // Only over the user as he was loaded: what another workstation changed
    // since is never written over unseen.
    switch (writer.updateUser(key, recordFromFields(), loaded_)) {
    case TUserWriter::Result::NoSuchUser:
        inform(services_.person(), NoSuchUser);
        break;
    case TUserWriter::Result::NameTaken:
        // Two users with one name would make log-in ambiguous.
        inform(services_.person(), NameTaken);
        break;
    case TUserWriter::Result::Locked:
        throw EQuorla(THolderNotes::WithHolder(UserLocked, writer.LockHolder()));
    case TUserWriter::Result::Gone:
        throw EQuorla(UserGone);
    case TUserWriter::Result::Changed:
        // The fields show him as he is now; the edit is made again on that.
        loadSelectedUser();
        throw EQuorla(UserChanged);
    case TUserWriter::Result::Done:
        loaded_ = recordFromFields();
        break;
    }
}

void TfrmUsers::actDeleteExecute()
{
    TCommand::Run(services_.person(), [this] {
        const QString key = selectedKey();
        if (key.isEmpty())
            return;
        if (key == currentUserKey_) {
            inform(services_.person(), CannotDeleteSelf);
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
    TCommand::Run(services_.person(), [this] {
        database_->ReopenUsersAndCategories();
        userCache_->Reload();
        done(1);
    });
}
