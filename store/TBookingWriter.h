#pragma once

#include "EQuorla.h"
#include "TBookingStore.h"
#include "TRecordWriter.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class DayEntryRecord;
class TQuorlaDB;
class TRecordLock;
struct TEntryDetails;

// The one road by which bookings are made and taken back. The rule: a
// resource is never booked twice for one moment. A booking holds its
// resource over the half-open range [start, end): touching times, one
// ending when the next begins, are no overlap.
//
// What an entry books: a timed entry from its start for its length; an
// un-timed one whole days, from 00:00 of its first day to 00:00 after its
// last. A timed entry without an end books nothing, and asking it to book
// is refused (NeedsEnd).
//
// A booking is checked and written under the record lock of each resource it
// books (taken in key order, waited for a short while, released after the
// writes are committed): on a folder the lock is what keeps two workstations
// from both finding a room free; on a server the bookings' table refuses an
// overlap by itself as well (TServerBookings). A booking that meets another
// of an entry no longer stored is no overlap: that booking is left over by a
// deletion cut short, and goes.
class TBookingWriter
{
public:
    // A booking refused because of another: the message names the resource,
    // the other event (or "a private event" to whoever may not see it), its
    // owner and its time.
    class ERefused : public EQuorla
    {
    public:
        using EQuorla::EQuorla;
    };

    // What an entry books: [start, end) as time keys; empty when nothing.
    struct TSpan
    {
        QString start;
        QString end;
        bool isEmpty() const { return start.isEmpty() || end <= start; }
    };

    static const QString NeedsEnd;

    TBookingWriter(TQuorlaDB& database, TRecordWriter& writer);

    static TSpan SpanOf(const DayEntryRecord& entry, const TEntryDetails& details);

    // The locks of some resources, each checked free over a span. Made by
    // Claim, written by Write; the locks go with it.
    class TClaim
    {
    public:
        TClaim();
        TClaim(TClaim&&) noexcept;
        ~TClaim();
        bool isEmpty() const { return resources.isEmpty(); }

    private:
        friend class TBookingWriter;
        QStringList resources;
        TSpan span;
        std::vector<TRecordLock> locks;
    };

    // Takes the locks of `resources` and checks them free over `span`, but
    // for bookings of `entryKey` itself (which Write replaces). Throws
    // ERefused for an overlap, an unknown or unbookable resource, or
    // NeedsEnd; EQuorla when a lock stays held elsewhere.
    TClaim Claim(const QString& entryKey, const QStringList& resources, const TSpan& span);
    // Replaces the bookings of `entryKey` by those of `claim`, as
    // bookings of an occurrence of repeating event `seriesKey` (empty: of
    // none; null: as its bookings were). On a server an overlap another writer
    // made meanwhile is refused there (ERefused, with the server's reason).
    void Write(TClaim& claim, const QString& entryKey, const QString& seriesKey = QString());

    // The one call for a stored entry (an import's, a CalDAV client's): its
    // bookings become those of `resources` over its time as stored now, or
    // ERefused, nothing changed.
    void BookEntry(const QString& entryKey, const QStringList& resources);

    // What `resources` would meet over `span`, but for bookings of
    // `exceptEntry`: the refusal's text, or empty when they are free. Reads
    // without locks: for a caller that wants to know before it writes.
    QString Collisions(const QStringList& resources, const TSpan& span, const QString& exceptEntry = QString());

    // The bookings of repeating event `seriesKey`: every occurrence stored
    // now books `resources` (without: those the series books now) over its
    // own time, and the occurrences made later book them too. An occurrence
    // whose time meets another entry's booking goes without that resource,
    // and the rest are booked: answers a line for each one left out, its
    // day and whose booking it meets. Bookings of occurrences no longer
    // there, or at another time, are taken back.
    QStringList BookSeries(const QString& seriesKey, const std::optional<QStringList>& resources = std::nullopt);
    // The resources repeating event `seriesKey` books, in key order.
    QStringList ResourcesOfSeries(const QString& seriesKey);
    // A deleted series takes its bookings back.
    void RemoveSeries(const QString& seriesKey);
    // A series split off `from` books what `from` books.
    void CopySeries(const QString& from, const QString& to);

    // Takes the bookings of deleted entries back: the one call of every
    // path that deletes entries.
    void RemoveEntries(const QStringList& entryKeys);

    // The resources `entryKey` books now, in key order.
    QStringList ResourcesOf(const QString& entryKey);
    // The stored bytes of `booking` (its key aside).
    static QByteArray RecordOf(const TBookingStore::TBooking& booking);

    // Bookings a deletion took back, to be made again as they were (a
    // restore): the locks of their resources, the bookings still free, and
    // for each one left out why. Made by Reclaim, written by Rebook; the
    // locks go with it.
    class TReclaim
    {
    public:
        TReclaim();
        TReclaim(TReclaim&&) noexcept;
        ~TReclaim();
        // Per booking left out: its day, and the booking it meets now (or
        // that its resource is gone).
        const QStringList& LeftOut() const { return left; }

    private:
        friend class TBookingWriter;
        QList<TBookingStore::TBooking> free;
        QStringList left;
        std::vector<TRecordLock> locks;
    };
    // Takes the locks of the resources `kept` books (in key order) and
    // checks each booking free, but for bookings of its own entry; one
    // whose record is still stored stands as it is. Writes nothing; throws
    // EQuorla when a lock stays held elsewhere.
    TReclaim Reclaim(const QList<TBookingStore::TBooking>& kept);
    // Books the free ones of `claim` again (under new keys), each for its
    // entry, series and time.
    void Rebook(TReclaim& claim);

private:
    // The occurrences of a series stored now, and the time each books.
    struct TOccurrences
    {
        QStringList keys;
        QHash<QString, TSpan> spans;
    };
    TOccurrences occurrencesOf(const QString& seriesKey);
    // Takes back the bookings in `held` that no longer stand as they are
    // (a resource no longer wanted, an occurrence gone or moved): answers
    // those kept, each as its entry's key and its resource's.
    QSet<QString> takeBack(const QString& seriesKey, const QList<TBookingStore::TBooking>& held,
                           const QStringList& wanted, const TOccurrences& occurrences);
    // Books what `kept` lacks: the notes of `wanted`, and each occurrence
    // whose time is free; a line for each one left out.
    QStringList bookRest(const QString& seriesKey, const QStringList& wanted, const TOccurrences& occurrences,
                         const QSet<QString>& kept);
    // Writes `writes` to the bookings; on a server an overlap another
    // writer made meanwhile is refused there (ERefused, with its reason).
    void writeChecked(QList<TXIsamFile::TBatchWrite>& writes);
    // A booking of `resource` from `start` left out for meeting `other`:
    // its day, then the refusal.
    QString leftOut(const QString& resource, const QString& start, const TBookingStore::TBooking& other);
    // The bookings of `resource` over `span` that stand against it (entries
    // other than `exceptEntry` that are still stored); leftovers of deleted
    // entries are taken back.
    QList<TBookingStore::TBooking> against(const QString& resource, const TSpan& span, const QString& exceptEntry,
                                           bool sweep);
    QString refusal(const QString& resource, const TBookingStore::TBooking& other);
    // The resource's lock, waited for a short while.
    TRecordLock lockOf(const QString& resource);

    TQuorlaDB& database_;
    TRecordWriter& writer_;
};
