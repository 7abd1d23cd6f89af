#include "TBookingWriter.h"

#include "BookingRecord.h"
#include "DayEntryRecord.h"
#include "PostgresConnection.h"
#include "RecordKey.h"
#include "ResourceRecord.h"
#include "SeriesLinkRecord.h"
#include "TCommandScope.h"
#include "TDetailsStore.h"
#include "TEntryDetails.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TSeriesWriter.h"
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

// The time a series' note of a resource is written at: it books none.
const QString NoteStart = RecordKey::format(0);
const QString NoteEnd = RecordKey::format(1);

QString gone(const QString& resource)
{
    return QStringLiteral("Unable to book resource %1: it is no longer there.").arg(resource);
}

QStringList sortedUnique(QStringList keys)
{
    keys.removeDuplicates();
    keys.removeAll(QString());
    std::sort(keys.begin(), keys.end());
    return keys;
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
            throw ERefused(gone(resource));
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
    for (const QString& resource : claim.resources)
        writes << TXIsamFile::TBatchWrite{Kind::Add, QString(), RecordOf({{}, resource, entryKey, series, claim.span.start, claim.span.end})};
    writeChecked(writes);
}

void TBookingWriter::writeChecked(QList<TXIsamFile::TBatchWrite>& writes)
{
    if (writes.isEmpty())
        return;
    try {
        writer_.writeBatch(*database_.Bookings(), writes);
    } catch (const EQuorla& failure) {
        PostgresConnection* server = database_.ServerConnection();
        if (server && server->state() == "23P01")
            throw ERefused(QStringLiteral("The resource was booked for that time meanwhile.\r\r") + failure.message());
        throw;
    }
}

QByteArray TBookingWriter::RecordOf(const TBookingStore::TBooking& booking)
{
    BookingRecord record;
    record.setSlot(booking.resource, booking.start);
    record.setEntry(booking.entry);
    record.setSeries(booking.series);
    record.setEnd(booking.end);
    return TRecordWriter::bytesOf(record.bytes());
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
             !ownerKnown ? QStringLiteral("user ") + entry.OwnerKey() : owner.FullName().isEmpty() ? owner.UserName() : owner.FullName(), when(other));
}

QStringList TBookingWriter::ResourcesOfSeries(const QString& seriesKey)
{
    QStringList notes;
    for (const TBookingStore::TBooking& booking : TBookingStore(database_).OfSeries(seriesKey))
        if (RecordKey::isNone(booking.entry))
            notes << booking.resource;
    return sortedUnique(notes);
}

void TBookingWriter::CopySeries(const QString& from, const QString& to)
{
    const QStringList notes = ResourcesOfSeries(from);
    if (!notes.isEmpty())
        BookSeries(to, notes);
}

QStringList TBookingWriter::BookSeries(const QString& seriesKey, const std::optional<QStringList>& resources)
{
    TXIsamFile* bookings = database_.Bookings();
    if (!bookings || seriesKey.isEmpty())
        return {};
    TBookingStore store(database_);
    QList<TBookingStore::TBooking> held = store.OfSeries(seriesKey);
    if (held.isEmpty() && (!resources || resources->isEmpty()))
        return {};
    QStringList notes;
    for (const TBookingStore::TBooking& booking : held)
        if (RecordKey::isNone(booking.entry))
            notes << booking.resource;
    const QStringList wanted = sortedUnique(resources ? *resources : notes);
    std::vector<TRecordLock> locks;
    for (const QString& resource : wanted)
        locks.push_back(lockOf(resource));
    const TOccurrences occurrences = occurrencesOf(seriesKey);
    // Occurrences taken over from the series split off are booked as this
    // one's from now on.
    for (const TBookingStore::TBooking& booking : store.OfEntries(occurrences.keys))
        if (booking.series != seriesKey)
            held << booking;
    const TCommandScope command(database_);
    const QSet<QString> kept = takeBack(seriesKey, held, wanted, occurrences);
    return bookRest(seriesKey, wanted, occurrences, kept);
}

TBookingWriter::TOccurrences TBookingWriter::occurrencesOf(const QString& seriesKey)
{
    TOccurrences occurrences;
    for (const auto& [linkKey, link] : TSeriesWriter(database_).Links(seriesKey))
        if (!RecordKey::isNone(link.EntryKey()))
            occurrences.keys << link.EntryKey();
    const QHash<QString, TEntryDetails> details = TDetailsStore(database_).Entries(occurrences.keys);
    DayEntryRecord entry;
    for (const QString& key : std::as_const(occurrences.keys))
        if (TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, key))
            occurrences.spans.insert(key, SpanOf(entry, details.value(key)));
    return occurrences;
}

QSet<QString> TBookingWriter::takeBack(const QString& seriesKey, const QList<TBookingStore::TBooking>& held,
                                       const QStringList& wanted, const TOccurrences& occurrences)
{
    // What stays as it is; the rest goes first, so that an occurrence moved
    // onto another's old time does not meet that one's old booking.
    QSet<QString> kept;
    QList<TXIsamFile::TBatchWrite> writes;
    for (const TBookingStore::TBooking& booking : held) {
        const bool note = RecordKey::isNone(booking.entry);
        const TSpan span = occurrences.spans.value(booking.entry);
        const bool stays = wanted.contains(booking.resource) && booking.series == seriesKey
            && (note || (span.start == booking.start && span.end == booking.end));
        if (stays)
            kept.insert(booking.entry + booking.resource);
        else
            writes << TXIsamFile::TBatchWrite{Kind::Remove, booking.key, QByteArray()};
    }
    if (!writes.isEmpty())
        writer_.writeBatch(*database_.Bookings(), writes);
    return kept;
}

QStringList TBookingWriter::bookRest(const QString& seriesKey, const QStringList& wanted,
                                     const TOccurrences& occurrences, const QSet<QString>& kept)
{
    QList<TXIsamFile::TBatchWrite> writes;
    QStringList left;
    const auto add = [&](const QString& resource, const QString& entryKey, const TSpan& span) {
        writes << TXIsamFile::TBatchWrite{Kind::Add, QString(), RecordOf({{}, resource, entryKey, seriesKey, span.start, span.end})};
    };
    for (const QString& resource : wanted) {
        if (!kept.contains(QString(RecordKey::None) + resource))
            add(resource, QString(RecordKey::None), {NoteStart, NoteEnd});
        for (const QString& key : occurrences.keys) {
            const TSpan span = occurrences.spans.value(key);
            if (span.isEmpty() || kept.contains(key + resource))
                continue;
            const QList<TBookingStore::TBooking> others = against(resource, span, key, true);
            if (others.isEmpty())
                add(resource, key, span);
            else
                left << leftOut(resource, span.start, others.first());
        }
    }
    if (!writes.isEmpty())
        writer_.writeBatch(*database_.Bookings(), writes);
    return left;
}

void TBookingWriter::RemoveSeries(const QString& seriesKey)
{
    QList<TXIsamFile::TBatchWrite> writes;
    for (const TBookingStore::TBooking& booking : TBookingStore(database_).OfSeries(seriesKey))
        writes << TXIsamFile::TBatchWrite{Kind::Remove, booking.key, QByteArray()};
    if (!writes.isEmpty())
        writer_.writeBatch(*database_.Bookings(), writes);
}

QString TBookingWriter::leftOut(const QString& resource, const QString& start, const TBookingStore::TBooking& other)
{
    return TStamp::FormatDateTime(QStringLiteral("ddd dd/mm/yyyy"), TBookingStore::TBooking{{}, {}, {}, {}, start, {}}.From())
        + QStringLiteral(": ") + refusal(resource, other);
}

TBookingWriter::TReclaim::TReclaim() = default;
TBookingWriter::TReclaim::TReclaim(TReclaim&&) noexcept = default;
TBookingWriter::TReclaim::~TReclaim() = default;

TBookingWriter::TReclaim TBookingWriter::Reclaim(const QList<TBookingStore::TBooking>& kept)
{
    TReclaim claim;
    TXIsamFile* bookings = database_.Bookings();
    if (!bookings)
        return claim;
    QStringList resources;
    for (const TBookingStore::TBooking& booking : kept)
        resources << booking.resource;
    for (const QString& resource : sortedUnique(resources))
        claim.locks.push_back(lockOf(resource));
    BookingRecord stored;
    ResourceRecord resource;
    for (const TBookingStore::TBooking& booking : kept) {
        if (TLookup::Equal(*bookings, stored.bytes(), TXIsamFile::PrimaryIndex, booking.key))
            continue;
        if (!TLookup::Equal(*database_.Resources(), resource.bytes(), TXIsamFile::PrimaryIndex, booking.resource)) {
            claim.left << gone(booking.resource);
            continue;
        }
        const QList<TBookingStore::TBooking> others
            = against(booking.resource, {booking.start, booking.end}, booking.entry, true);
        if (others.isEmpty())
            claim.free << booking;
        else
            claim.left << leftOut(booking.resource, booking.start, others.first());
    }
    return claim;
}

void TBookingWriter::Rebook(TReclaim& claim)
{
    QList<TXIsamFile::TBatchWrite> writes;
    for (const TBookingStore::TBooking& booking : claim.free)
        writes << TXIsamFile::TBatchWrite{Kind::Add, QString(), RecordOf(booking)};
    writeChecked(writes);
}
