#include "TBookingStore.h"

#include "BookingRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QTimeZone>

#include <algorithm>

namespace {

QDateTime momentOf(const QString& timeKey)
{
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(RecordKey::parse(timeKey), Qt::UTC);
    return QDateTime(utc.date(), utc.time());
}

QString shifted(const QString& timeKey, qint64 seconds)
{
    return RecordKey::format(qMax<qint64>(0, RecordKey::parse(timeKey) + seconds));
}

} // namespace

TBookingStore::TBooking TBookingStore::BookingOf(const QString& key, const BookingRecord& record)
{
    return {key, record.Resource(), record.Entry(), record.Series(), record.Start(), record.End()};
}

QDateTime TBookingStore::TBooking::From() const
{
    return momentOf(start);
}

QDateTime TBookingStore::TBooking::To() const
{
    return momentOf(end);
}

QString TBookingStore::TimeKey(const QDateTime& moment)
{
    return RecordKey::format(QDateTime(moment.date(), moment.time(), Qt::UTC).toSecsSinceEpoch());
}

TBookingStore::TBookingStore(TQuorlaDB& database) : database_(database) {}

bool TBookingStore::Available() const
{
    return database_.Bookings() != nullptr;
}

QList<TBookingStore::TBooking> TBookingStore::OfResource(const QString& resourceKey, const QString& from,
                                                         const QString& to)
{
    QList<TBooking> found;
    if (!database_.Bookings() || to <= from)
        return found;
    // A resource's bookings never overlap: of those that start before
    // `from`, only the last can reach into it. Most resources have one in
    // the week before; the whole reach back is read only when they do not.
    const QString recent = shifted(from, -RecentSeconds);
    if (!startsOf(resourceKey, recent, shifted(to, -1), from, found))
        startsOf(resourceKey, shifted(from, -LongestSeconds), shifted(recent, -1), from, found);
    std::sort(found.begin(), found.end(), [](const TBooking& a, const TBooking& b) { return a.start < b.start; });
    return found;
}

bool TBookingStore::startsOf(const QString& resourceKey, const QString& first, const QString& last, const QString& from,
                             QList<TBooking>& found)
{
    TXIsamFile* bookings = database_.Bookings();
    BookingRecord record;
    bool before = false;
    if (!bookings->Range(record.bytes(), BookingRecord::SlotIndex, BookingRecord::slot(resourceKey, first),
                         BookingRecord::slot(resourceKey, last), [&] {
                             // A series' note of its resource books no time.
                             if (RecordKey::isNone(record.Entry()))
                                 return true;
                             before = before || record.Start() < from;
                             if (record.End() > from)
                                 found << BookingOf(bookings->CurrentKey(), record);
                             return true;
                         })
        && bookings->LastError() != IsamNotFound)
        throw EQuorla(bookings->ErrorText());
    return before;
}

QList<TBookingStore::TBooking> TBookingStore::OfResource(const QString& resourceKey, const QDateTime& from,
                                                         const QDateTime& to)
{
    return OfResource(resourceKey, TimeKey(from), TimeKey(to));
}

QList<TBookingStore::TBooking> TBookingStore::OfEntries(const QStringList& entryKeys)
{
    return among(BookingRecord::EntryIndex, entryKeys);
}

QList<TBookingStore::TBooking> TBookingStore::OfSeries(const QString& seriesKey)
{
    return among(BookingRecord::SeriesIndex, {seriesKey});
}

QList<TBookingStore::TBooking> TBookingStore::among(qint16 index, const QStringList& values)
{
    QList<TBooking> found;
    TXIsamFile* bookings = database_.Bookings();
    QStringList wanted = values;
    wanted.removeDuplicates();
    wanted.removeAll(QString());
    if (!bookings || wanted.isEmpty())
        return found;
    BookingRecord record;
    if (!bookings->Among(record.bytes(), index, wanted, [&] {
            found << BookingOf(bookings->CurrentKey(), record);
            return true;
        })
        && bookings->LastError() != IsamNotFound)
        throw EQuorla(bookings->ErrorText());
    return found;
}
