#pragma once

#include "TEntryQuery.h"
#include "UserRecord.h"

#include <QDate>
#include <QList>
#include <QSet>
#include <QString>

class TFilterRules;
class TQuorlaDB;
class TXIsamFile;

// Which entries a report or an export takes: those that start from the first
// moment of StartDate to the last of EndDate, of one category when asked, for
// any of the chosen users (every user's when none is chosen), and that the
// user asking may see (EntryVisible: another user's private entry only for an
// administrator or an assignee).
class TEntrySelection
{
public:
    // A chosen user: the entries assigned to any of them are taken.
    struct User
    {
        QString Key;
        QString FullName;
    };

    QDate StartDate;
    QDate EndDate;

    // When set, only entries whose category key is CategoryKey are taken
    // ("0000000000" for entries without one); CategoryText names it.
    bool RestrictCategory = false;
    QString CategoryKey;
    QString CategoryText;

    QList<User> Users;

    // When set, only the entries that book resource ResourceKey are taken
    // (ResourceName names it); ReadBookings reads which ones.
    bool RestrictResource = false;
    QString ResourceKey;
    QString ResourceName;
    QSet<QString> BookedEntries;
    // Reads the entries that book ResourceKey within the range into
    // BookedEntries (none when not restricted). Throws EQuorla with the
    // dataset's error text, EStamp as below.
    void ReadBookings(TQuorlaDB& database);

    // The user asking, whose rights and key decide the private entries.
    UserRecord CurrentUser;
    QString CurrentUserKey;

    // The first and the last moment of the range as time keys. Throws EStamp
    // for a date outside 1970 to 2037.
    QString FirstKey() const;
    QString LastKey() const;

    // The selected entries, in start-time order (of the resource's
    // bookings when restricted). Throws EQuorla with the
    // dataset's error text when a read fails, EStamp as above.
    void Read(TXIsamFile& dayEntries, const TEntryQuery::TTake& take) const;
    // Whether an entry in the range would be selected (its users, category
    // and privacy).
    bool Takes(const DayEntryRecord& entry) const;

private:
    TFilterRules rules() const;
    bool takes(const TFilterRules& rules, const DayEntryRecord& entry) const;
};
