#pragma once

#include "UserRecord.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

class TXIsamFile;

// Turns the calendar events of a date range into the lines of the plain-text
// report: four header lines, then the events in start-time order under month
// headings, each as a tab-separated line of day, time and description followed
// by a line of assignee names.
//
// The caller fills the fields and calls Build, which reads the day entries
// through their start-time index and the assignees' names from one pass over
// the users dataset. It moves the positions of both datasets.
class TReportBuilder
{
public:
    // A user chosen for the report: the entries assigned to any of them are
    // reported. No chosen user reports every user's entries.
    struct User
    {
        QString Key;
        QString FullName;
    };

    // First and last day of the report, both included whole (00:00:00 of the
    // start day to 23:59:59 of the end day).
    QDate StartDate;
    QDate EndDate;

    // When set, only entries whose category key is CategoryKey are reported
    // ("0000000000" for entries without one); CategoryText names it in the
    // header.
    bool RestrictCategory = false;
    QString CategoryKey;
    QString CategoryText;

    // The chosen users, in the order the header names them.
    QList<User> Users;

    // The logged-in user, whose rights and key decide which private entries
    // are reported.
    UserRecord CurrentUser;
    QString CurrentUserKey;

    // The report's lines. Throws EQuorla "Unable to locate user" for an
    // assignee the users dataset does not hold, EQuorla with the engine's error
    // text when a read fails for any other reason than "no such record", and
    // EStamp for a date outside 1970 to 2037.
    QStringList Build(TXIsamFile& dayEntries, TXIsamFile& users) const;
};
