#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

#include <cstddef>

// One user of the calendar, a record of the users dataset. `UserName` carries
// secondary index 3 (log-in lookup, uniqueness on add). `UserName` and
// `Password` are kept upper case by the dialogs that fill them; this record
// stores whatever it is given.
class UserRecord : public TRecordBuffer<68>
{
public:
    static constexpr QLatin1StringView FileName{"QLUsers.Ism"};
    static constexpr QLatin1StringView Format{"&,$*31,X$*11,$*11,$*11"};

    // Bits of `Rights`; every other bit is 0.
    static constexpr qint32 CanAddEntries = 1;
    static constexpr qint32 CanAdminister = 2;
    static constexpr qint32 CanModifyOthersEntries = 4;
    static constexpr qint32 CanAddEntriesForOthers = 8;

    static constexpr std::size_t RightsOffset = 0;
    static constexpr std::size_t RightsWidth = 4;
    static constexpr std::size_t FullNameOffset = 4;
    static constexpr std::size_t FullNameWidth = 31;
    static constexpr std::size_t UserNameOffset = 35;
    static constexpr std::size_t UserNameWidth = 11;
    static constexpr std::size_t PasswordOffset = 46;
    static constexpr std::size_t PasswordWidth = 11;
    static constexpr std::size_t AbbreviationOffset = 57;
    static constexpr std::size_t AbbreviationWidth = 11;

    // Index of `UserName`: log-in lookup, uniqueness on add.
    static constexpr qint16 UserNameIndex = 3;

    // Bytes of UTF-8 text each field can hold (see TTextCapacity).
    static constexpr int FullNameCapacity = FullNameWidth - 1;
    static constexpr int UserNameCapacity = UserNameWidth - 1;
    static constexpr int PasswordCapacity = PasswordWidth - 1;
    static constexpr int AbbreviationCapacity = AbbreviationWidth - 1;

    qint32 Rights() const;
    void setRights(qint32 rights);

    // Text setters refuse a text longer than the field's capacity with
    // ETextTooLong, leaving the field as it was.

    // Shown wherever users are listed by name; at most 30 bytes.
    QString FullName() const;
    void setFullName(const QString& fullName);

    // Log-in name, unique; at most 10 bytes.
    QString UserName() const;
    // A user name as it is kept and looked up, however it came (a dialog,
    // the machine's log-in name, a command line, a CalDAV client): upper
    // case by the full Unicode rule, so "Groß" is "GROSS" on every road.
    static QString NameOf(const QString& typed) { return typed.toUpper(); }
    void setUserName(const QString& userName);

    // Stored as entered; at most 10 bytes.
    QString Password() const;
    void setPassword(const QString& password);

    // The short name the calendar views show; at most 10 bytes.
    QString Abbreviation() const;
    void setAbbreviation(const QString& abbreviation);
};

static_assert(UserRecord::AbbreviationOffset + UserRecord::AbbreviationWidth == UserRecord::Size);
