#include "TSession.h"

#include "EQuorla.h"
#include "TCategoryCache.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
#include "TInstanceLock.h"
#include "TLookup.h"
#include "TServerRoles.h"
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

TSession::TSession(TServices services)
    : services_(services), FilterRules_(std::make_unique<TFilterRules>())
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
    location_ = std::make_unique<TDatabaseLocation>(TQuorlaDB::StoredLocation(services_));
    personal_ = TQuorlaDB::LogsInAsPerson(*location_);
    if (personal_) {
        // Nothing is connected before the person says who he is.
        UserRecord user;
        QString key;
        bool first = false;
        user.setUserName(TTextCapacity::cut(UserRecord::NameOf(services_.machine().userName()), UserRecord::UserNameCapacity));
        const TCheck check = [&](const QString& name, const QString& password, UserRecord& found, QString& foundKey) {
            return checkAsPerson(name, password, found, foundKey, Database_, AlarmDatabase_, first);
        };
        if (!login(check, user, key))
            return Start::NoLogin;
        if (first)
            welcome(user.UserName());
        SetCurrentUser(user, key);
        createCaches();
        return Start::Running;
    }
    Database_ = std::make_unique<TQuorlaDB>(services_);
    AlarmDatabase_ = std::make_unique<TQuorlaDB>(services_);

    logIn(login, welcome);
    if (!LoggedIn())
        return Start::NoLogin;
    createCaches();
    return Start::Running;
}

void TSession::logIn(const TLogin& login, const std::function<void(const QString&)>& welcome)
{
    TXIsamFile& users = Database_->Users();
    UserRecord user;
    QString key;
    const qint32 count = users.RecordCount();
    // A count that cannot be had is an error, not an empty database (which
    // would make a new administrator) nor a reason to ask who is there.
    if (count < 0)
        throw EQuorla(users.ErrorText());
    if (count != 0) {
        user.setUserName(TTextCapacity::cut(UserRecord::NameOf(services_.machine().userName()), UserRecord::UserNameCapacity));
        TQuorlaDB& database = *Database_;
        const TCheck check = [&database](const QString& name, const QString& password, UserRecord& found,
                                         QString& foundKey) {
            return CheckStored(database, name, password, found, foundKey);
        };
        if (login(check, user, key))
            SetCurrentUser(user, key);
        return;
    }
    QString name = UserRecord::NameOf(services_.machine().userName());
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

TSession::Verdict TSession::CheckStored(TQuorlaDB& database, const QString& name, const QString& password,
                                        UserRecord& user, QString& key)
{
    UserRecord found;
    // Only "no such user" means unknown: a read that failed (a share or a
    // server away) is an error, passed on.
    if (!TLookup::Equal(database.Users(), found.bytes(), UserRecord::UserNameIndex, name))
        return Verdict::UnknownUser;
    const QString foundKey = database.Users().CurrentKey();
    if (found.Password().toUpper() != password.toUpper())
        return Verdict::WrongPassword;
    user = found;
    key = foundKey;
    return Verdict::LoggedIn;
}

TSession::Verdict TSession::checkAsPerson(const QString& name, const QString& password, UserRecord& user,
                                          QString& key, std::unique_ptr<TQuorlaDB>& database,
                                          std::unique_ptr<TQuorlaDB>& alarms, bool& first)
{
    TQuorlaDB::TLogin as{QString(), password};
    std::unique_ptr<TQuorlaDB> opened;
    try {
        opened = TServerRoles::LogIn(services_, *location_, name, as);
    } catch (const TQuorlaDB::ERefused&) {
        return Verdict::WrongPassword;
    }
    TXIsamFile& users = opened->Users();
    UserRecord found;
    QString foundKey;
    if (TLookup::Equal(users, found.bytes(), UserRecord::UserNameIndex, name)) {
        foundKey = users.CurrentKey();
        // The role that owns the tables brings the roles' set-up of a server
        // set up by an earlier program to this one's (for others, nothing).
        TServerRoles(*opened).Upgrade();
    } else {
        const qint32 count = users.RecordCount();
        if (count < 0)
            throw EQuorla(users.ErrorText());
        // A role that logs in but is no user's: refused as the program
        // refuses an unknown name.
        if (count != 0)
            return Verdict::UnknownUser;
        // A fresh database: the role that created it is its first
        // administrator, and sets up everyone's roles.
        // His record and the roles' setup are one step: a setup refused
        // (a role without CREATEROLE) leaves the database fresh.
        opened->InitUserRecord(found);
        found.setRights(FirstAdministratorRights);
        found.setUserName(name);
        found.setFullName(name);
        found.setAbbreviation(name);
        TServerRoles roles(*opened);
        TServerRoles::TStep step(roles, true);
        if (!users.Insert(found.bytes()))
            throw EQuorla(users.ErrorText());
        foundKey = users.CurrentKey();
        roles.Install(foundKey);
        step.Commit();
        first = true;
    }
    auto second = std::make_unique<TQuorlaDB>(services_, *location_, as);
    database = std::move(opened);
    alarms = std::move(second);
    user = found;
    key = foundKey;
    return Verdict::LoggedIn;
}

bool TSession::SwitchUser(const TLogin& login)
{
    if (!Database_ || !LoggedIn())
        return false;
    UserRecord user;
    user.setUserName(CurrentUser_.UserName());
    QString key;
    if (!personal_) {
        TQuorlaDB& database = *Database_;
        const TCheck check = [&database](const QString& name, const QString& password, UserRecord& found,
                                         QString& foundKey) {
            return CheckStored(database, name, password, found, foundKey);
        };
        if (!login(check, user, key))
            return false;
        SetCurrentUser(user, key);
        return true;
    }
    std::unique_ptr<TQuorlaDB> database;
    std::unique_ptr<TQuorlaDB> alarms;
    bool first = false;
    const TCheck check = [&](const QString& name, const QString& password, UserRecord& found, QString& foundKey) {
        return checkAsPerson(name, password, found, foundKey, database, alarms, first);
    };
    if (!login(check, user, key))
        return false;
    // The caches read through the old connection: they go first.
    CategoryCache_.reset();
    UserCache_.reset();
    AlarmDatabase_ = std::move(alarms);
    Database_ = std::move(database);
    SetCurrentUser(user, key);
    createCaches();
    return true;
}

void TSession::createCaches()
{
    UserCache_ = std::make_unique<TUserCache>(Database_->Users(), services_.machine());
    UserCache_->OnUpdate = [this](TQuorlaCache& cache) { cache.FillFrom(Database_->Users()); };
    CategoryCache_ = std::make_unique<TCategoryCache>(Database_->Categories(), services_.machine());
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

bool TSession::SeriesVisible(const SeriesRecord& series) const
{
    return ::SeriesVisible(CurrentUser_, CurrentUserKey_, series);
}
