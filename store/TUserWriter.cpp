#include "TUserWriter.h"

#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TCommandScope.h"
#include "TServerRoles.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

TUserWriter::TUserWriter(TXIsamFile& users)
    : OnWrite(writer_.OnWrite), users_(users)
{
}

TUserWriter::TUserWriter(TQuorlaDB& database)
    : OnWrite(writer_.OnWrite), users_(database.Users()), database_(&database)
{
}

bool TUserWriter::readUser(const QString& key, UserRecord& user)
{
    return TLookup::Equal(users_, user.bytes(), TXIsamFile::PrimaryIndex, key);
}

QString TUserWriter::keyOfUserNamed(const QString& userName)
{
    UserRecord found;
    if (!TLookup::Equal(users_, found.bytes(), UserRecord::UserNameIndex, userName))
        return QString();
    return users_.CurrentKey();
}

TUserWriter::Result TUserWriter::addUser(const UserRecord& user, QString& key)
{
    if (!keyOfUserNamed(user.UserName()).isEmpty())
        return Result::NameTaken;
    if (database_ == nullptr) {
        key = writer_.insert(users_, user.bytes());
        return Result::Done;
    }
    // Where users are server roles the password goes to the server, and
    // record, role and trail record are made in one transaction.
    TServerRoles roles(*database_);
    const bool kept = roles.Kept();
    UserRecord stored = user;
    if (kept)
        stored.setPassword(QString());
    TCommandScope command(*database_);
    key = writer_.insert(users_, stored.bytes());
    if (kept)
        roles.Create(user.UserName(), key, user.Password(), (user.Rights() & UserRecord::CanAdminister) != 0);
    database_->Trail().Record({TChangeTrail::Action::UserAdded, &users_, key, TChangeTrail::UserSubject(key),
                               TChangeSummary(*database_).User(stored)});
    command.Commit();
    return Result::Done;
}

TUserWriter::Result TUserWriter::updateUser(const QString& key, const UserRecord& user, const UserRecord& loaded)
{
    const QString owner = keyOfUserNamed(user.UserName());
    if (owner.isEmpty())
        return Result::NoSuchUser;
    if (owner != key)
        return Result::NameTaken;
    const TRecordLock lock(users_, key, database_ ? &database_->Holders() : nullptr);
    if (!lock.Held()) {
        lockHolder_ = lock.HolderLine();
        return Result::Locked;
    }
    UserRecord stored;
    if (!readUser(key, stored))
        return Result::Gone;
    if (stored != loaded)
        return Result::Changed;
    if (database_ == nullptr) {
        writer_.update(users_, key, user.bytes());
        return Result::Done;
    }
    // Where users are server roles, a password typed goes to the server (an
    // empty one keeps the role's), and record, role and trail record change together.
    TServerRoles roles(*database_);
    const bool kept = roles.Kept();
    UserRecord changed = user;
    if (kept)
        changed.setPassword(QString());
    TCommandScope command(*database_);
    writer_.update(users_, key, changed.bytes());
    if (kept)
        roles.Change(stored, changed, user.Password());
    database_->Trail().Record({TChangeTrail::Action::UserChanged, &users_, key, TChangeTrail::UserSubject(key),
                               TChangeSummary(*database_).UserChanged(stored, changed)});
    command.Commit();
    return Result::Done;
}
