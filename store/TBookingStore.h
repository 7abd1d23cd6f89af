#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class BookingRecord;
class TQuorlaDB;

// The bookings of resources by day entries (BookingRecord), read. A booking
// takes its resource from `start` (included) to `end` (excluded), both time
// keys (TStamp) of the office's wall clock: one that ends when the next
// begins does not meet it. A database without the bookings dataset has none.
// Any failed read other than "none stored" throws EQuorla with the dataset's
// error text.
class TBookingStore
{
public:
    struct TBooking
    {
        QString key;      // the booking record's own key
        QString resource; // the resource's key
        QString entry;    // the booking day entry's key
        QString series;   // the repeating event it is an occurrence of, or empty
        QString start;    // time key, included
        QString end;      // time key, excluded

        QDateTime From() const;
        QDateTime To() const;
        // Whether it shares a moment with [start, end).
        bool Overlaps(const QString& otherStart, const QString& otherEnd) const
        {
            return start < otherEnd && otherStart < end;
        }
    };

    // The longest booking there can be, in seconds: a span of
    // TEntryDetails::MaxDays days and one more. A resource's bookings that
    // meet a time are one range of its start times reaching this far back.
    static constexpr qint64 LongestSeconds = qint64(367) * 86400;
    // How far back a read looks first for the one booking that may reach
    // into the asked time: a week.
    static constexpr qint64 RecentSeconds = qint64(7) * 86400;

    explicit TBookingStore(TQuorlaDB& database);

    bool Available() const;
    // The bookings of resource `resourceKey` that share a moment with the
    // time keys [from, to), by start.
    QList<TBooking> OfResource(const QString& resourceKey, const QString& from, const QString& to);
    // As above over wall-clock times (their date and time as they read).
    QList<TBooking> OfResource(const QString& resourceKey, const QDateTime& from, const QDateTime& to);
    // The bookings of each of `entryKeys`.
    QList<TBooking> OfEntries(const QStringList& entryKeys);
    QList<TBooking> OfEntry(const QString& entryKey) { return OfEntries({entryKey}); }
    // Every booking of series `seriesKey`'s occurrences.
    QList<TBooking> OfSeries(const QString& seriesKey);

    // The booking stored as `record` under `key`.
    static TBooking BookingOf(const QString& key, const BookingRecord& record);

    // The time key of a wall-clock time (its date and time as they read).
    static QString TimeKey(const QDateTime& moment);

private:
    // Adds to `found` the bookings of `resourceKey` starting from time key
    // `first` to `last` (both included) that end after `from`; answers
    // whether one of those read starts before `from`.
    bool startsOf(const QString& resourceKey, const QString& first, const QString& last, const QString& from,
                  QList<TBooking>& found);
    QList<TBooking> among(qint16 index, const QStringList& values);

    TQuorlaDB& database_;
};
