#include "TBookingStore.h"

#include "BookingRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QTimeZone>

namespace {

TBookingStore::TBooking bookingOf(const QString& key, const BookingRecord& record)
{
    return {key, record.Resource(), record.Entry(), record.Series(), record.Start(), record.End()};
}

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
    TXIsamFile* bookings = database_.Bookings();
    if (!bookings || to <= from)
        return found;
    BookingRecord record;
    const QString first = BookingRecord::slot(resourceKey, shifted(from, -LongestSeconds));
    const QString last = BookingRecord::slot(resourceKey, shifted(to, -1));
    if (!bookings->Range(record.bytes(), BookingRecord::SlotIndex, first, last, [&] {
            if (record.End() > from && !RecordKey::isNone(record.Entry()))
                found << bookingOf(bookings->CurrentKey(), record);
            return true;
        })
        && bookings->LastError() != IsamNotFound)
        throw EQuorla(bookings->ErrorText());
    return found;
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
            found << bookingOf(bookings->CurrentKey(), record);
            return true;
        })
        && bookings->LastError() != IsamNotFound)
        throw EQuorla(bookings->ErrorText());
    return found;
}
