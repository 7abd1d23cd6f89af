#include "TSession.h"

#include "EQuorla.h"
#include "TCategoryCache.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
#include "TInstanceLock.h"
#include "TQuorlaCfg.h"
#include "TQuorlaDB.h"
#include "TServices.h"
#include "TTextCapacity.h"
#include "TUserCache.h"
#include "TUserWriter.h"

namespace {

// Add entries, administer, modify other users' entries; not add entries for
// other users.
constexpr qint32 FirstAdministratorRights
    = UserRecord::CanAddEntries | UserRecord::CanAdminister | UserRecord::CanModifyOthersEntries;

} // namespace

TSession::TSession()
    : FilterRules_(std::make_unique<TFilterRules>())
{
}

TSession::~TSession()
{
    if (InstanceMutex)
        InstanceMutex->Release();
    CategoryCache_.reset();
    UserCache_.reset();
    AlarmDatabase_.reset();
    Database_.reset();
    Settings_.reset();
}

bool TSession::TakeInstanceLock()
{
    if (!InstanceMutex)
        InstanceMutex = std::make_unique<TInstanceLock>();
    return InstanceMutex->Acquire();
}

TSession::Start TSession::StartUp(const TLogin& login, const std::function<void(const TQuorlaCfg&)>& applySettings,
                                  const std::function<void(const QString&)>& welcome)
{
    if (!TakeInstanceLock())
        return Start::AlreadyRunning;

    // Loading creates the workstation's key, where the database then looks
    // for its folder.
    auto settings = std::make_unique<TQuorlaCfg>();
    settings->Load();
    Settings_ = std::move(settings);
    applySettings(*Settings_);
    Database_ = std::make_unique<TQuorlaDB>();
    AlarmDatabase_ = std::make_unique<TQuorlaDB>();

    logIn(login, welcome);
    if (!LoggedIn())
        return Start::NoLogin;
    createCaches();
    return Start::Running;
}

void TSession::logIn(const TLogin& login, const std::function<void(const QString&)>& welcome)
{
    TServices& services = TServices::current();
    TXIsamFile& users = Database_->Users();
    UserRecord user;
    QString key;
    const qint32 count = users.RecordCount();
    // A count that cannot be had is an error, not an empty database (which
    // would make a new administrator) nor a reason to ask who is there.
    if (count < 0)
        throw EQuorla(users.ErrorText());
    if (count != 0) {
        user.setUserName(TTextCapacity::cut(services.userName().toUpper(), UserRecord::UserNameCapacity));
        if (login(*Database_, user, key))
            SetCurrentUser(user, key);
        return;
    }
    QString name = services.userName().toUpper();
    if (name.isEmpty())
        name = QStringLiteral("ADMIN");
    Database_->InitUserRecord(user);
    user.setRights(FirstAdministratorRights);
    // Cut to what the field holds (ten letters, fewer with accents).
    user.setUserName(TTextCapacity::cut(name, UserRecord::UserNameCapacity));
    user.setFullName(user.UserName());
    user.setAbbreviation(user.UserName());
    if (!users.Insert(user.bytes()))
        throw EQuorla(users.ErrorText());
    key = users.CurrentKey();
    welcome(user.UserName());
    SetCurrentUser(user, key);
}

void TSession::createCaches()
{
    UserCache_ = std::make_unique<TUserCache>(Database_->Users());
    UserCache_->OnUpdate = [this](TQuorlaCache& cache) { cache.FillFrom(Database_->Users()); };
    CategoryCache_ = std::make_unique<TCategoryCache>(Database_->Categories());
    CategoryCache_->OnUpdate = [this](TQuorlaCache& cache) { cache.FillFrom(Database_->Categories()); };
}

void TSession::SaveSettings(const std::function<void(TQuorlaCfg&)>& capture)
{
    if (!Settings_)
        return;
    capture(*Settings_);
    Settings_->Save();
}

void TSession::SetCurrentUser(const UserRecord& user, const QString& key)
{
    CurrentUser_ = user;
    CurrentUserKey_ = key;
    for (TQuorlaDB* database : {Database_.get(), AlarmDatabase_.get()})
        if (database != nullptr)
            database->SetActingUser(key);
}

void TSession::ReloadCurrentUser()
{
    if (!Database_ || !LoggedIn())
        return;
    UserRecord user;
    if (TUserWriter(Database_->Users()).readUser(CurrentUserKey_, user))
        CurrentUser_ = user;
}

bool TSession::MayChange(const QString& ownerKey) const
{
    return ownerKey == CurrentUserKey_ || (CurrentUser_.Rights() & UserRecord::CanModifyOthersEntries) != 0;
}

bool TSession::EntryVisible(const DayEntryRecord& entry, const TFilterRules& rules) const
{
    return ::EntryVisible(rules, CurrentUser_, CurrentUserKey_, entry);
}

bool TSession::EntryVisible(const DayEntryRecord& entry) const
{
    return EntryVisible(entry, *FilterRules_);
}
