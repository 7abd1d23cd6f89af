#pragma once

#include "TEntryDetails.h"
#include "TRecordWriter.h"

#include <QList>
#include <QString>
#include <QStringList>

class DayEntryRecord;
class SeriesRecord;
class TQuorlaDB;

// Writes the details of entries and series' templates (DetailRecord) for the
// event and series writers, inside their locks and commands: all records of
// one owner change in one batch (on a folder too), so a reader finds the old
// details or the new ones, never part of either.
//
// Details are written after their entry is added and removed after it is
// removed: a writer stopped in between leaves at most details whose entry is
// gone. Keys are never used again, so those are only garbage, which no
// reader shows (readers go by an entry that is there) and Sweep removes;
// details are never left under a key that another entry has.
//
// A database without the details dataset keeps none: storing non-empty
// details there throws EQuorla, removing them does nothing. Failures throw
// EQuorla with the dataset's error text; a text too long ETextTooLong.
class TDetailsWriter
{
public:
    TDetailsWriter(TQuorlaDB& database, TRecordWriter& writer);

    // Replaces entry `key`'s details by `details`: none kept when they are
    // empty, unless `keepEmpty` (an occurrence of a series whose own
    // details are none, not its template's).
    void StoreEntry(const QString& key, const DayEntryRecord& entry, const TEntryDetails& details,
                    bool keepEmpty = false);
    // Replaces series `key`'s template's details.
    void StoreSeries(const QString& key, const SeriesRecord& series, const TEntryDetails& details);
    // The adds of many new entries' details, for a batch of the caller's
    // (`keys[i]` for `entries[i]` and `details[i]`).
    QList<TXIsamFile::TBatchWrite> Adds(const QStringList& keys, const QList<DayEntryRecord>& entries,
                                        const QList<TEntryDetails>& details);
    void WriteAdds(QList<TXIsamFile::TBatchWrite>& adds);
    // Entry `key` was rewritten as `entry` with its details kept: the head
    // follows a moved start (the last day it reaches).
    void FollowEntry(const QString& key, const DayEntryRecord& entry);
    // Removes the details of entries `keys` (each gone or going).
    void RemoveEntries(const QStringList& keys);
    void RemoveSeries(const QString& key);

    // The clean-up of a database whose entries other programs delete too:
    // reads up to `budget` details records from primary key `from` on,
    // removes those whose entry (or series) is gone and brings a head whose
    // entry moved up to date. Answers where the next call goes on (empty:
    // from the start). Failures are left for a later round.
    static QString Sweep(TQuorlaDB& database, const QString& from, int budget);

private:
    void store(const QString& owner, const TEntryDetails& details, const QString& start, bool unTimed, bool series,
               bool keepEmpty);
    // The removals of every record `owners` keep.
    QList<TXIsamFile::TBatchWrite> removals(const QStringList& owners);
    TXIsamFile* dataset(bool needed);

    TQuorlaDB& database_;
    TRecordWriter& writer_;
};
