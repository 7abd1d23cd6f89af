#pragma once

#include <QString>
#include <QStringList>

// A named set of users, by their 10-digit RecordKeys, used to tick many users
// at once in a user list. A workstation keeps ten of them (slots 0 to 9); a slot
// is in use when its Name is not empty.
//
// Stored form (AsText / SetFromText): the name, a comma, then the members
// separated by commas; an item is written in double quotes (with inner quotes
// doubled) only when it holds a space, a comma or a double quote. An empty group
// is ",".
class TGroup
{
public:
    QString Name;
    // Members in the order they were added.
    QStringList Members;

    // Empties Members; the name stays.
    void Clear();
    // Appends key to Members.
    void Add(const QString& key);
    // True when key is one of Members (exact text).
    bool Contains(const QString& key) const;

    QString AsText() const;
    // Empty text: empty name, no members. Otherwise the first item is the name
    // and the rest are the members.
    void SetFromText(const QString& text);
};
