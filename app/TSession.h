#pragma once

#include "TServices.h"
#include "UserRecord.h"

#include <QString>

#include <functional>
#include <memory>

class DayEntryRecord;
class SeriesRecord;
class TCategoryCache;
class TDatabaseLocation;
class TFilterRules;
class TInstanceLock;
class TQuorlaCfg;
class TQuorlaDB;
class TUserCache;

// One run of the program on a workstation: everything it opens at start-up and
// keeps until the end - the instance lock, the workstation's settings, the two
// connections to the database (one for the views and commands, one for the
// alarm poll alone, so that polling never moves the other's positions), the
// caches, the display filter - and the user logged in.
//
// StartUp opens them in that order; the destructor is the shutdown: the
// settings are saved (a second instance, which never loaded any, saves
// nothing) and everything is freed in the reverse order.
class TSession
{
public:
    enum class Start {
        Running,
        // Another instance runs on this workstation: nothing was opened.
        AlreadyRunning,
        // The person did not log in.
        NoLogin
    };

    // What one log-in attempt found.
    enum class Verdict { LoggedIn, UnknownUser, WrongPassword };
    // Tries a user name and password: on LoggedIn the user's record and key.
    using TCheck = std::function<Verdict(const QString& name, const QString& password, UserRecord& user, QString& key)>;
    // Asks the person to log in, trying what he types with `check` as often
    // as he likes; the record's user name comes in pre-filled. Answers the
    // user's record and its key, or false when he gave up.
    using TLogin = std::function<bool(const TCheck& check, UserRecord& user, QString& key)>;

    // The check of a folder (or a server used by one role for everyone): the
    // user looked up by name, the passwords compared upper-cased.
    static Verdict CheckStored(TQuorlaDB& database, const QString& name, const QString& password, UserRecord& user,
                               QString& key);

    explicit TSession(TServices services);
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // Takes this workstation's instance lock (see TInstanceLock); false while
    // another running instance holds it. True again once held.
    bool TakeInstanceLock();

    // The instance lock, the settings (loaded, then handed to
    // `applySettings`), both connections, and the user: on a database without
    // users the first administrator is added (his name is the workstation's
    // logged-on user, upper case, ADMIN without one) and `welcome` is told
    // his user name; otherwise `login` is asked. Then the caches. Errors of
    // the store pass on as EQuorla.
    //
    // On a server whose URI names no user, each person logs in as his own
    // server role (TServerRoles): `login` is asked first, and his name and
    // password open both connections; nothing is connected before. A refused
    // log-in is a wrong password (the server does not say whether the role
    // exists). On a fresh database the role that logs in (the one that
    // created it, which needs CREATEROLE) becomes its first administrator,
    // under the name typed, and `welcome` is told.
    Start StartUp(const TLogin& login, const std::function<void(const TQuorlaCfg&)>& applySettings,
                  const std::function<void(const QString& userName)>& welcome);

    // Writes the settings back, with `capture` first updating them from what
    // the views hold. Does nothing when no settings were loaded.
    void SaveSettings(const std::function<void(TQuorlaCfg&)>& capture);

    // Whether each person logs in as his own server role (above).
    bool LogsInAsPerson() const { return personal_; }

    // Logs in as another user: on a folder `login` checks against the open
    // database; where each person is his own server role, the new person's
    // log-in opens new connections that replace the old ones (and the
    // caches) only once it succeeded. False when he gave up.
    bool SwitchUser(const TLogin& login);

    // True once a user is logged in; nothing of the database is shown before.
    bool LoggedIn() const { return !CurrentUserKey_.isEmpty(); }
    // The logged-in user; both describe the same user.
    const UserRecord& CurrentUser() const { return CurrentUser_; }
    const QString& CurrentUserKey() const { return CurrentUserKey_; }
    // Logs `user` in; from then on both connections record changes and locks
    // in his name.
    void SetCurrentUser(const UserRecord& user, const QString& key);
    // Reads the logged-in user's record again, so that a change made to it
    // (his rights, his name) takes effect. A record that is gone keeps the
    // one in memory.
    void ReloadCurrentUser();
    bool MayAddEntries() const { return (CurrentUser_.Rights() & UserRecord::CanAddEntries) != 0; }
    bool MayAddForOthers() const { return (CurrentUser_.Rights() & UserRecord::CanAddEntriesForOthers) != 0; }
    bool MayAdminister() const { return (CurrentUser_.Rights() & UserRecord::CanAdminister) != 0; }
    // Whether the user may change or delete an entry owned by `ownerKey`.
    bool MayChange(const QString& ownerKey) const;

    // Whether the logged-in user may see `entry` under `rules` (see
    // TEntryVisibility's EntryVisible).
    bool EntryVisible(const DayEntryRecord& entry, const TFilterRules& rules) const;
    // The same under the display filter.
    bool EntryVisible(const DayEntryRecord& entry) const;
    // Whether the logged-in user may see the template of a repeating event
    // (TEntryVisibility's SeriesVisible).
    bool SeriesVisible(const SeriesRecord& series) const;

    // Null before StartUp has opened them.
    TQuorlaDB* Database() const { return Database_.get(); }
    TQuorlaDB* AlarmDatabase() const { return AlarmDatabase_.get(); }
    TQuorlaCfg* Settings() const { return Settings_.get(); }
    TUserCache* UserCache() const { return UserCache_.get(); }
    TCategoryCache* CategoryCache() const { return CategoryCache_.get(); }
    // The display filter of this run; no filtering at first.
    TFilterRules& FilterRules() const { return *FilterRules_; }

private:
    void logIn(const TLogin& login, const std::function<void(const QString&)>& welcome);
    // The check where each person logs in as his role: on LoggedIn the two
    // new connections are in `database` and `alarms`; `first` tells that he
    // was made the first administrator.
    Verdict checkAsPerson(const QString& name, const QString& password, UserRecord& user, QString& key,
                          std::unique_ptr<TQuorlaDB>& database, std::unique_ptr<TQuorlaDB>& alarms, bool& first);
    void createCaches();

    TServices services_;
    // Held in the order they are opened, freed in the reverse order.
    std::unique_ptr<TFilterRules> FilterRules_;
    std::unique_ptr<TInstanceLock> InstanceMutex;
    std::unique_ptr<TQuorlaCfg> Settings_;
    std::unique_ptr<TQuorlaDB> Database_;
    std::unique_ptr<TQuorlaDB> AlarmDatabase_;
    std::unique_ptr<TUserCache> UserCache_;
    std::unique_ptr<TCategoryCache> CategoryCache_;
    UserRecord CurrentUser_;
    QString CurrentUserKey_;
    bool personal_ = false;
    std::unique_ptr<TDatabaseLocation> location_;
};
