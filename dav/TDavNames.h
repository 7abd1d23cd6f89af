#pragma once

#include <QHash>
#include <QString>

class TQuorlaDB;
class TXIsamFile;

// The names CalDAV clients gave the entries they added: a client keeps an
// event by its UID (and names its object after it), and expects both back,
// where an entry of Quorla has only its record key. Kept in the import map
// as the user's own rows (TClientNames): one user's names never lead another
// user's client anywhere, nor does a UID he gives change what another's
// names stand for.
// The object name it was PUT under, where it is not the UID, is kept too:
// the entry is listed under it, as the client tracks it by that name.
// An entry without them is named by its key ("0000000042.ics"), a series by
// "series-" and its key, and each carries the iCalendar export's UID.
class TDavNames
{
public:
    // The names of user `userKey`.
    TDavNames(TQuorlaDB& database, const QString& userKey);

    // The entry key `name` stands for: ten digits are a key; else the name
    // a client gave. Empty when none.
    // `series` (when given) tells whether it is a series' key.
    QString KeyOf(const QString& name, bool* series = nullptr);
    // The UID a client gave the entry (or the series) `key`; empty when none.
    QString UidOf(const QString& key, bool series = false);
    // The object name a client PUT the entry (or the series) `key` under,
    // where it is not its UID and was kept; empty when none.
    QString NameOf(const QString& key, bool series = false);
    // Every entry's client UID by key, and under NameKey(key) the name it
    // was PUT under where NameOf has one: two range reads.
    QHash<QString, QString> Uids();
    static QString NameKey(const QString& key) { return QLatin1Char('h') + key; }
    // Remembers that the client's `uid` (and the object name `name`) stand
    // for entry `key`. A map that cannot be written leaves the entry
    // named by its key.
    void Remember(const QString& uid, const QString& name, const QString& key, bool series = false);
    // The name of a series no client named: "series-" and its key.
    static QString SeriesName(const QString& seriesKey);

private:
    TXIsamFile* map();
    // The text kept in parts of user `userKey_` for `key`, `letter` their
    // kind (TClientNames' "u" and "s" for UIDs, "h" and "k" for names).
    QString partsOf(QChar letter, const QString& key);
    // Every entry's text of kind `letter`, into `into` under `prefix` and its key.
    void allOf(QChar letter, const QString& prefix, QHash<QString, QString>& into);
    QString partKey(QChar letter, const QString& key, int number) const;

    TQuorlaDB& database_;
    QString userKey_;
    TXIsamFile* map_ = nullptr;
    bool looked_ = false;
};
