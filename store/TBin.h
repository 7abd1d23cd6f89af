#pragma once

#include "BinRecord.h"
#include "TBookingStore.h"
#include "TRecordWriter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <utility>
#include <vector>

class AlarmRecord;
class DayEntryRecord;
class SeriesLinkRecord;
class SeriesRecord;
class TQuorlaDB;
class UserRecord;

// The bin: what the deletions of entries and series removed, kept
// (BinRecord) so that a person may put it back (TBinRestore) until the
// office's retention - the days the change trail keeps - has passed.
//
// The writers keep an item in the bin under their locks, just before they
// remove its records: an entry with its alarms, details, bookings and
// series link; a series with its template's details, the resources it
// books, links, occurrences and their alarms, details and bookings; or the
// occurrences of a series from a day on. The item's
// records go in one batch, so the bin holds an item whole or not at all; a
// writer stopped after the bin's batch and before its deletion leaves an
// item whose records are still there, which a restore finds taken and
// clears. The bin's writes do not wait for the disk, as the trail's: a
// power cut may lose the last items kept, never a record the deletion left.
//
// A database without the bin (made by a program that knows none) deletes
// as before: nothing is kept. Failures throw EQuorla with the bin's error
// text, before anything was deleted.
class TBin
{
public:
    explicit TBin(TQuorlaDB& database);

    bool Available() const;

    // The keys of the records an entry's item holds of the datasets the
    // deletion then empties of that entry: it removes these instead of
    // looking for them again. `kept`: false when nothing was kept.
    struct TKept
    {
        bool kept = false;
        QStringList details;
        QStringList bookings;
    };
    // An entry's alarm records by key, as read under their locks.
    using TAlarms = QList<std::pair<QString, AlarmRecord>>;

    // Keeps entry `key` (as `entry`), with its alarms (`alarms`, where the
    // caller read them under their locks), details and link.
    TKept KeepEntry(const QString& key, const DayEntryRecord& entry, const TAlarms* alarms = nullptr);
    // As KeepEntry, the item's records only gathered (nothing when the
    // database has no bin): WriteAlong writes them.
    TKept GatherEntry(const QString& key, const DayEntryRecord& entry, const TAlarms* alarms);
    // Writes the item gathered, with `along` (the deletion's own batches,
    // told by `teller`) sent with it: on a server one exchange and one
    // transaction, the bin's records first.
    void WriteAlong(const std::vector<TXIsamFile::TWritesAlong>& along, TRecordWriter& teller);
    // Keeps entry `key` as it is stored (nothing when it is not).
    void KeepEntry(const QString& key);
    // Keeps series `key` (as `series`, before the deletion changes it):
    // whole, or its occurrences from day key `fromDayKey` on.
    void KeepSeries(const QString& key, const SeriesRecord& series, bool whole, const QString& fromDayKey);

    // One item as the dialog lists it: its head's contents.
    struct TItem
    {
        QString item;       // BinRecord::Item
        QString deletedAt;  // time key
        QString deletedBy;  // user key
        QString description;
        QString start;      // time key of the entry, or of the series' first day
        bool series = false;
        bool following = false;  // the series' occurrences from a day on
        QString ownerKey;
    };
    // The items `user` (stored as `userKey`) could see when they were
    // deleted, by the views' rule (a private one: administrators and its
    // assignees only), newest first.
    static QList<TItem> Items(TQuorlaDB& database, const UserRecord& user, const QString& userKey);
    // Whether `user` may see an item whose head is `head`.
    static bool Visible(const UserRecord& user, const QString& userKey, const BinRecord& head);

    // Every record of `item` with its bin key, in the order kept.
    static QList<std::pair<QString, BinRecord>> Records(TQuorlaDB& database, const QString& item);
    // The removals of those records, for a batch of the caller's.
    static QList<TXIsamFile::TBatchWrite> Removals(const QList<std::pair<QString, BinRecord>>& records);

    // The retention's clean-up: removes at most `budget` records of the
    // items deleted more than the trail's days kept ago, oldest first.
    // Answers how many went; failures are left for a later round.
    static int Sweep(TQuorlaDB& database, int budget);

private:
    // The records of `owner`'s details (DetailRecord::owner).
    void addDetails(const QString& owner);
    // Adds entry `entryKey`'s details, then its bookings, and answers its
    // series link with the link's key, none when it is in no series.
    std::optional<std::pair<QString, SeriesLinkRecord>> addEntryPartsFindLink(const QString& entryKey);
    void addAlarms(const QString& entryKey, const TAlarms* alarms = nullptr);
    // The bookings of `entryKeys`, and with `seriesKey` that series' notes
    // of the resources it books.
    void addBookings(const QStringList& entryKeys, const QString& seriesKey = QString());
    void addBooking(const TBookingStore::TBooking& booking);
    // Answers the occurrence's entry key, or empty when it has none.
    QString addOccurrence(const QString& linkKey, const SeriesLinkRecord& link);
    // Starts keeping `item`, whose entry (or template) has these.
    void begin(const QString& item, qint32 flags, const QString& ownerKey, const QStringList& assignees);
    void add(QLatin1Char dataset, const QString& key, std::span<const char> bytes);
    // Writes the item's records, `fresh`: after dropping what an unfinished
    // deletion of it left.
    void write(bool fresh);
    // Puts the removal of what an unfinished deletion of the item left
    // first in its batch.
    void clearFirst();

    TQuorlaDB& database_;
    // Its own, told to no observer: the bin only looks on, as the trail
    // does, and is none of the datasets whose every write is checked.
    TRecordWriter writer_;
    // The item being kept: its head's fields, set once, which each of its
    // records starts from, and its records.
    BinRecord head_;
    QList<TXIsamFile::TBatchWrite> writes_;
    TKept kept_;
};
