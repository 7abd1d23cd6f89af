#pragma once

#include "TRecordWriter.h"

#include <QString>

#include <functional>

class TQuorlaDB;
class TXIsamFile;
class UserRecord;

// The record rules of the users dialog, without the dialog: looking users up,
// adding them under the next key and changing them, with the rule that no two
// users share a user name (log-in would not know which one is meant). Only "no
// such record" means a user is missing; any other failure raises EQuorla with
// the dataset's error text.
class TUserWriter
{
public:
    enum class Result {
        Done,
        // Another user bears the user name; nothing was written.
        NameTaken,
        // Update: no user bears the user name; nothing was written.
        NoSuchUser,
        // Another holder has the user's lock; nothing was written.
        Locked,
        // No user is stored under the key any more; nothing was written.
        Gone,
        // The user stored under the key is no longer the one the caller
        // loaded (another workstation changed him); nothing was written.
        Changed
    };

    using TWrite = TRecordWriter::TWrite;

    explicit TUserWriter(TXIsamFile& users);
    // On the database's users: changes also go to its change trail, and the
    // lock of an update is noted for other workstations.
    explicit TUserWriter(TQuorlaDB& database);

    // Told of every write (observers only).
    std::function<void(const TWrite&)>& OnWrite;

    // The user stored under `key`: false when there is none.
    bool readUser(const QString& key, UserRecord& user);

    // The key of the user who bears `userName`; empty when nobody does.
    QString keyOfUserNamed(const QString& userName);

    // Adds `user` under the next key (then in `key`); NameTaken when a user
    // bears its user name already.
    Result addUser(const UserRecord& user, QString& key);

    // Replaces the user stored under `key` by `user`, under the user's lock,
    // while he is still stored as `loaded` (what the caller read before the
    // edit): Changed otherwise, so that nobody writes over changes he never
    // saw. The user name entered must be that user's own: NoSuchUser when
    // nobody bears it, NameTaken when another user does.
    Result updateUser(const QString& key, const UserRecord& user, const UserRecord& loaded);

    // After Locked: who holds the user's lock, where a note tells.
    const QString& LockHolder() const { return lockHolder_; }

private:
    TXIsamFile& users_;
    TQuorlaDB* database_ = nullptr;
    TRecordWriter writer_;
    QString lockHolder_;
};
