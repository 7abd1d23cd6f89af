#include "UserRecord.h"

qint32 UserRecord::Rights() const
{
    return int32(RightsOffset);
}

void UserRecord::setRights(qint32 rights)
{
    setInt32(RightsOffset, rights);
}

QString UserRecord::FullName() const
{
    return text(FullNameOffset, FullNameWidth);
}

void UserRecord::setFullName(const QString& fullName)
{
    setText(FullNameOffset, FullNameWidth, fullName, "full name");
}

QString UserRecord::UserName() const
{
    return text(UserNameOffset, UserNameWidth);
}

void UserRecord::setUserName(const QString& userName)
{
    setText(UserNameOffset, UserNameWidth, userName, "user name");
}

QString UserRecord::Password() const
{
    return text(PasswordOffset, PasswordWidth);
}

void UserRecord::setPassword(const QString& password)
{
    setText(PasswordOffset, PasswordWidth, password, "password");
}

QString UserRecord::Abbreviation() const
{
    return text(AbbreviationOffset, AbbreviationWidth);
}

void UserRecord::setAbbreviation(const QString& abbreviation)
{
    setText(AbbreviationOffset, AbbreviationWidth, abbreviation, "abbreviation");
}
