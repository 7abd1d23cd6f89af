#include "TUserWriter.h"

#include "TLookup.h"
#include "TRecordLock.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

TUserWriter::TUserWriter(TXIsamFile& users)
    : OnWrite(writer_.OnWrite), users_(users)
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
    key = writer_.insert(users_, user.bytes());
    return Result::Done;
}

TUserWriter::Result TUserWriter::updateUser(const QString& key, const UserRecord& user)
{
    const QString owner = keyOfUserNamed(user.UserName());
    if (owner.isEmpty())
        return Result::NoSuchUser;
    if (owner != key)
        return Result::NameTaken;
    const TRecordLock lock(users_, key);
    if (!lock.Held())
        return Result::Locked;
    UserRecord stored;
    if (!readUser(key, stored))
        return Result::Gone;
    writer_.update(users_, key, user.bytes());
    return Result::Done;
}
