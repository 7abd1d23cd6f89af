#include "TBookingWriter.h"

#include "BookingRecord.h"
#include "DayEntryRecord.h"
#include "PostgresConnection.h"
#include "RecordKey.h"
#include "ResourceRecord.h"
#include "TDetailsStore.h"
#include "TEntryDetails.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TServerBookings.h"
#include "TStamp.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

namespace {

using Kind = TXIsamFile::TBatchWrite::Kind;

// How long a booking waits for a resource another workstation is booking
// right now: its check and write take milliseconds.
constexpr int LockWaitMs = 5000;

QString shifted(const QString& timeKey, qint64 seconds)
{
    return RecordKey::format(RecordKey::parse(timeKey) + seconds);
}

QString when(const TBookingStore::TBooking& booking)
{
    const QDateTime from = booking.From();
    const QDateTime to = booking.To();
    const bool wholeDays = from.time() == QTime(0, 0) && to.time() == QTime(0, 0);
    if (wholeDays)
        return from.daysTo(to) == 1 ? TStamp::FormatDateTime(QStringLiteral("ddd dd/mm/yyyy"), from)
                                    : TStamp::FormatDateTime(QStringLiteral("ddd dd/mm/yyyy"), from) + QStringLiteral(" to ")
                + TStamp::FormatDateTime(QStringLiteral("ddd dd/mm/yyyy"), to.addDays(-1));
    const QString end = from.date() == to.date() ? TStamp::FormatDateTime(QStringLiteral("hh:nn"), to)
                                                 : TStamp::FormatDateTime(QStringLiteral("ddd dd/mm/yyyy hh:nn"), to);
    return TStamp::FormatDateTime(QStringLiteral("ddd dd/mm/yyyy hh:nn"), from) + QStringLiteral("–") + end;
}

} // namespace

const QString TBookingWriter::NeedsEnd
    = QStringLiteral("An event books a resource for its time: give it an end, or make it un-timed.");

TBookingWriter::TClaim::TClaim() = default;
TBookingWriter::TClaim::TClaim(TClaim&&) noexcept = default;
TBookingWriter::TClaim::~TClaim() = default;

TBookingWriter::TBookingWriter(TQuorlaDB& database, TRecordWriter& writer) : database_(database), writer_(writer) {}

TBookingWriter::TSpan TBookingWriter::SpanOf(const DayEntryRecord& entry, const TEntryDetails& details)
{
    const QString start = entry.StartTime();
    if (entry.Flags() & DayEntryRecord::UnTimed) {
        const QString day = shifted(start, -(RecordKey::parse(start) % 86400));
        return {day, shifted(day, qint64(qMax(details.days, 1)) * 86400)};
    }
    if (details.durationSeconds <= 0)
        return {};
    return {start, shifted(start, details.durationSeconds)};
}

TRecordLock TBookingWriter::lockOf(const QString& resource)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        TRecordLock lock(*database_.Resources(), resource);
        if (lock.Held())
            return lock;
        if (waited.elapsed() > LockWaitMs)
            throw EQuorla(QStringLiteral("Unable to book the resource: another user is booking it right now. "
                                         "Another user has locked it"));
        QThread::usleep(2000);
    }
}

TBookingWriter::TClaim TBookingWriter::Claim(const QString& entryKey, const QStringList& resources, const TSpan& span)
{
    TClaim claim;
    claim.resources = resources;
    claim.resources.removeDuplicates();
    std::sort(claim.resources.begin(), claim.resources.end());
    claim.span = span;
    if (claim.resources.isEmpty())
        return claim;
    if (!database_.Bookings())
        throw ERefused(QStringLiteral("Unable to book a resource: this database has no %1.").arg(BookingRecord::FileName));
    if (span.isEmpty())
        throw ERefused(NeedsEnd);
    for (const QString& resource : claim.resources) {
        ResourceRecord record;
        if (!TLookup::Equal(*database_.Resources(), record.bytes(), TXIsamFile::PrimaryIndex, resource))
            throw ERefused(QStringLiteral("Unable to book resource %1: it is no longer there.").arg(resource));
        claim.locks.push_back(lockOf(resource));
        const QList<TBookingStore::TBooking> others = against(resource, span, entryKey, true);
        if (!others.isEmpty())
            throw ERefused(refusal(resource, others.first()));
        // Refused only for a new booking: one it holds stays while the
        // entry moves, as a resource taken out of use keeps what it has.
        if (!record.IsBookable() && !ResourcesOf(entryKey).contains(resource))
            throw ERefused(QStringLiteral("%1 cannot be booked.").arg(record.Name()));
    }
    return claim;
}

void TBookingWriter::Write(TClaim& claim, const QString& entryKey, const QString& seriesKey)
{
    TXIsamFile* bookings = database_.Bookings();
    if (!bookings)
        return;
    QList<TXIsamFile::TBatchWrite> writes;
    const QList<TBookingStore::TBooking> old = TBookingStore(database_).OfEntry(entryKey);
    for (const TBookingStore::TBooking& booking : old)
        writes << TXIsamFile::TBatchWrite{Kind::Remove, booking.key, QByteArray()};
    const QString series = !seriesKey.isNull() ? seriesKey : old.isEmpty() ? QString() : old.first().series;
    for (const QString& resource : claim.resources) {
        BookingRecord record;
        record.setSlot(resource, claim.span.start);
        record.setEntry(entryKey);
        record.setSeries(series);
        record.setEnd(claim.span.end);
        writes << TXIsamFile::TBatchWrite{Kind::Add, QString(), TRecordWriter::bytesOf(record.bytes())};
    }
    if (writes.isEmpty())
        return;
    try {
        writer_.writeBatch(*bookings, writes);
    } catch (const EQuorla& failure) {
        PostgresConnection* server = database_.ServerConnection();
        if (server && server->state() == "23P01")
            throw ERefused(QStringLiteral("The resource was booked for that time meanwhile.\r\r") + failure.message());
        throw;
    }
}

void TBookingWriter::BookEntry(const QString& entryKey, const QStringList& resources)
{
    DayEntryRecord entry;
    if (!TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, entryKey))
        return;
    if (resources.isEmpty() && ResourcesOf(entryKey).isEmpty())
        return;
    TClaim claim = Claim(entryKey, resources, SpanOf(entry, TDetailsStore(database_).Entry(entryKey)));
    Write(claim, entryKey);
}

QString TBookingWriter::Collisions(const QStringList& resources, const TSpan& span, const QString& exceptEntry)
{
    if (resources.isEmpty())
        return {};
    if (span.isEmpty())
        return NeedsEnd;
    QStringList lines;
    for (const QString& resource : resources)
        for (const TBookingStore::TBooking& other : against(resource, span, exceptEntry, false))
            lines << refusal(resource, other);
    return lines.join(QLatin1Char('\r'));
}

void TBookingWriter::RemoveEntries(const QStringList& entryKeys)
{
    TXIsamFile* bookings = database_.Bookings();
    if (!bookings || entryKeys.isEmpty())
        return;
    QList<TXIsamFile::TBatchWrite> writes;
    for (const TBookingStore::TBooking& old : TBookingStore(database_).OfEntries(entryKeys))
        writes << TXIsamFile::TBatchWrite{Kind::Remove, old.key, QByteArray()};
    if (!writes.isEmpty())
        writer_.writeBatch(*bookings, writes);
}

QStringList TBookingWriter::ResourcesOf(const QString& entryKey)
{
    QStringList resources;
    if (entryKey.isEmpty())
        return resources;
    for (const TBookingStore::TBooking& booking : TBookingStore(database_).OfEntry(entryKey))
        resources << booking.resource;
    resources.sort();
    return resources;
}

QList<TBookingStore::TBooking> TBookingWriter::against(const QString& resource, const TSpan& span,
                                                       const QString& exceptEntry, bool sweep)
{
    QList<TBookingStore::TBooking> standing;
    DayEntryRecord entry;
    for (const TBookingStore::TBooking& other : TBookingStore(database_).OfResource(resource, span.start, span.end)) {
        if (other.entry == exceptEntry)
            continue;
        // A server takes an entry's bookings with it (and may not show a
        // reader someone's private entry): there every booking stands.
        if (database_.ServerConnection()
            || TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, other.entry))
            standing << other;
        else if (sweep)
            writer_.remove(*database_.Bookings(), other.key);
    }
    return standing;
}

QString TBookingWriter::refusal(const QString& resource, const TBookingStore::TBooking& other)
{
    ResourceRecord named;
    const QString name = TLookup::Equal(*database_.Resources(), named.bytes(), TXIsamFile::PrimaryIndex, resource)
        ? named.Name()
        : resource;
    DayEntryRecord entry;
    if (!TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, other.entry))
        return QStringLiteral("%1 is already booked by a private event, %2.").arg(name, when(other));
    UserRecord owner, me;
    const bool ownerKnown = TLookup::Equal(database_.Users(), owner.bytes(), TXIsamFile::PrimaryIndex, entry.OwnerKey());
    const QString acting = database_.ActingUser();
    const bool admin = TLookup::Equal(database_.Users(), me.bytes(), TXIsamFile::PrimaryIndex, acting)
        && (me.Rights() & UserRecord::CanAdminister) != 0;
    const bool seen = !(entry.Flags() & DayEntryRecord::Private) || admin || entry.OwnerKey() == acting
        || entry.AssigneeKeys().contains(acting);
    return QStringLiteral("%1 is already booked by %2 of %3, %4.")
        .arg(name, seen ? QLatin1Char('"') + entry.Description() + QLatin1Char('"') : QStringLiteral("a private event"),
             ownerKnown ? owner.FullName() : QStringLiteral("user ") + entry.OwnerKey(), when(other));
}
