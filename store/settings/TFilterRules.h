#pragma once

#include <QSet>
#include <QString>

class DayEntryRecord;

// Which day entries to show: all of them (mode 0), those assigned to the
// logged-in user (1), those assigned to at least one of Users (2), or those
// that book resource Resource (3). The owner of an entry does not count, only
// its assignees. An entry's record does not say what it books: in mode 3
// Accepts takes every entry, and whoever reads the entries keeps to the
// resource's bookings (TBookingStore::OfResource).
class TFilterRules
{
public:
    enum : quint8 { ShowAll = 0, ShowMine = 1, ShowChosen = 2, ShowResource = 3 };

    quint8 Mode = ShowAll;
    // The resource's key, in mode 3.
    QString Resource;

    // Adds key to the chosen users; a key already there stays once.
    void Add(const QString& key);
    bool Contains(const QString& key) const;
    // Empties the chosen users; the mode stays.
    void Clear();
    // The chosen users, sorted.
    QStringList Users() const;

    // Whether `entry` passes the filter for the logged-in user `currentUserKey`.
    // An unknown mode accepts nothing.
    bool Accepts(const QString& currentUserKey, const DayEntryRecord& entry) const;

private:
    QSet<QString> users_;
};
