#pragma once

#include "TBookingStore.h"
#include "TRecordWriter.h"

#include <QHash>
#include <QSet>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

class BinRecord;
class TQuorlaDB;
class UserRecord;

// Puts an item of the bin (TBin) back under its own keys, as the writers
// would write it: with rights, under locks, in one command, with a record
// in the change trail, and the item then leaves the bin.
//
// - Rights: the person must be able to see the item by the views' rule and
//   to change it (its owner, or the right to change others' entries).
// - Locks: the entry's key (and, for an occurrence, its series'), or the
//   series' key; one held elsewhere refuses the restore (Locked, nothing
//   written), as it refuses a change.
// - An entry comes back with its alarms and details; an occurrence also
//   takes its place in its series again (its link), while the series is
//   there. A series comes back with its template's details and every
//   occurrence, alarm and link it had; the occurrences deleted from a day
//   on come back into their series, whose rule ends where it did before.
//   A record whose key holds a record again (an occurrence left as a plain
//   entry because it was open elsewhere) stays as it is. A user removed
//   since (by the delete-user wizard, whose removals land here too) is
//   left out of what comes back: his alarms, his place among the
//   assignees; an item he owned becomes the restoring person's.
// - Bookings: the resources the item booked are booked again for the same
//   times (TBookingWriter, under the resources' locks, taken after the
//   entry's and series' locks). A resource another booking took meanwhile,
//   or one removed since, is left out and the rest comes back: LeftOut()
//   names each booking left out and the booking it meets.
// Failures other than the person's throw EQuorla.
class TBinRestore
{
public:
    enum class Result {
        Done,
        // Another holder has the entry's or the series' lock.
        Locked,
        // The item is no longer in the bin (restored or swept elsewhere).
        Gone,
        // The person may not see or change it.
        Refused,
        // Its entry or series is there again (a deletion that stopped
        // half-way): nothing written, the item cleared from the bin.
        Taken,
        // Occurrences of a series that is gone since: restore the series
        // first.
        SeriesGone,

    };

    explicit TBinRestore(TQuorlaDB& database);

    Result Restore(const QString& item, const UserRecord& user, const QString& userKey);
    // After Locked: who has it open, where a holder note tells.
    const QString& LockHolder() const { return lockHolder_; }
    // After Done: the bookings left out, one line each (their day, and the
    // booking met now); empty when every one came back.
    const QStringList& LeftOut() const { return leftOut_; }

    // The key under which `item` comes back (the entry's or the series').
    static QString KeyOf(const QString& item) { return item.mid(1); }

private:
    // `bytes` of `dataset` with what names a user removed since mended:
    // such an assignee left out, such an owner replaced by the person
    // restoring; empty for an alarm of such a user (not put back).
    QByteArray mended(QChar dataset, const QByteArray& bytes);
    using TRecords = QList<std::pair<QString, BinRecord>>;
    Result restoreLocked(const QString& item, const TRecords& records);
    // The writes that put the records back, dataset by dataset.
    void collect(const TRecords& records);
    // Adds record `bytes` under `key` unless the key holds one; a link that
    // marks its day deleted, or still names the entry, is taken back.
    void putBack(QChar dataset, const QString& key, const QByteArray& bytes);
    // The series of a "from a day on" item as it was before, keeping what
    // it holds now but for the rule and the days made.
    void ruleBack(const QString& key, const BinRecord& head);
    void record(const QString& item, const BinRecord& head);
    // Writes the records, then `rebook`s, then clears the item from the bin.
    void writeAll(const TRecords& records, const std::function<void()>& rebook);
    // The bookings among `records`, each under the key it had.
    static QList<TBookingStore::TBooking> keptBookings(const TRecords& records);

    TQuorlaDB& database_;
    TRecordWriter writer_;
    QString lockHolder_;
    QStringList leftOut_;
    QHash<QChar, QList<TXIsamFile::TBatchWrite>> writes_;
    QString restorer_;
    QSet<QString> users_;
};
