#pragma once

#include <QHash>
#include <QString>

class TQuorlaDB;
class TXIsamFile;

// The names CalDAV clients gave the entries they added: a client keeps an
// event by its UID (and names its object after it), and expects both back,
// where an entry of Quorla has only its record key. Kept in the import map
// (ImportRecord), beside the imports' own records and apart from them by the
// first character of `Source`, so for every user alike:
// - "=" and the SHA-1 of a name (the UID, or the object name it was PUT
//   under) in hexadecimal: the entry it stands for;
// - "~", the entry's key, a two-digit part number and up to 37 characters
//   of the UID: the UID in parts, in order.
// An entry without them is named by its key ("0000000042.ics") and carries
// the iCalendar export's UID.
class TDavNames
{
public:
    explicit TDavNames(TQuorlaDB& database);

    // The entry key `name` stands for: ten digits are a key; else the name
    // a client gave. Empty when none.
    QString KeyOf(const QString& name);
    // The UID a client gave the entry `key`; empty when none.
    QString UidOf(const QString& key);
    // Every entry's client UID, by key: one range read.
    QHash<QString, QString> Uids();
    // Remembers that the client's `uid` (and the object name `name`) stand
    // for entry `key`. A map that cannot be written leaves the entry
    // named by its key.
    void Remember(const QString& uid, const QString& name, const QString& key);

private:
    TXIsamFile* map();

    TQuorlaDB& database_;
    TXIsamFile* map_ = nullptr;
    bool looked_ = false;
};
