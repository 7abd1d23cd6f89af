#pragma once

#include "ImportRecord.h"

#include <QString>

class TQuorlaDB;
class TXIsamFile;

// The names CalDAV clients gave entries, kept as rows of the import map
// (ImportRecord) beside the imports' own, and like them each user's own: a
// row's `Source` begins with its user's key, which the server's row policies
// read, so nobody reads or changes another's names and a UID one user gave
// never leads another's client to an entry. After the key, a letter no
// SHA-1 in hexadecimal holds keeps them apart from the imports' records
// (and outside an import's range read):
// - "n" and the first 39 hexadecimal digits of the SHA-1 of a name (the
//   UID, or the object name it was PUT under): the entry it stands for;
// - "u", the entry's key, a two-digit part number and up to PartLength
//   characters of the UID: the UID in parts, in order; "s" and a series'
//   key the same for a repeating event.
class TClientNames
{
public:
    static constexpr int PartLength = 27;
    static constexpr int MostParts = 100;
    // Where a part's piece of the UID begins in its `Source`.
    static constexpr int PieceAt = 23;

    static QString Forward(const QString& userKey, const QString& name);
    static QString Part(const QString& userKey, const QString& key, int number, bool series);

    // Whether `uid` can be kept in parts: ASCII (parts are cut by
    // characters) and not too long.
    static bool Keepable(const QString& uid);

    // Writes the row `source` standing for `key` (a series' when `series`),
    // replacing the one of that source. Throws EQuorla.
    static void Put(TXIsamFile& map, const QString& source, const QString& key, bool series);
    // Writes the parts of `uid` for `key` as `userKey`'s.
    static void PutUid(TXIsamFile& map, const QString& userKey, const QString& key, const QString& uid, bool series);

    // Rows written while the names were shared by every user ("=" and the
    // SHA-1 of a name, "~" or "^" and the parts of a UID) become the rows of
    // the user who owns the entry (or series) they name; those naming one
    // that is gone are dropped. Answers how many old rows it took. Throws
    // EQuorla.
    static int AdoptShared(TQuorlaDB& database);
};
