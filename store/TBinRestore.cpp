#include "TBinRestore.h"

#include "AlarmRecord.h"
#include "BinRecord.h"
#include "BookingRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TBin.h"
#include "TBookingWriter.h"
#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TCommandScope.h"
#include "THolderNotes.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "UserRecord.h"

#include <optional>

namespace {

using Kind = TXIsamFile::TBatchWrite::Kind;

// The order the datasets are written in: the series before its links,
// links before their entries (a restore cut short finds its links and
// goes on), entries before their alarms and details; the bookings after
// them all.
const QList<QChar> Order = {BinRecord::SeriesData, BinRecord::LinkData, BinRecord::EntryData, BinRecord::AlarmData,
                            BinRecord::DetailData};

template <typename Record>
Record recordOf(const QByteArray& body)
{
    Record record;
    std::copy_n(body.constData(), std::min<qsizetype>(body.size(), Record::Size), record.bytes().data());
    return record;
}

// Whether `key` holds a record of `dataset`.
bool stored(TXIsamFile& dataset, const QString& key, std::size_t size)
{
    QByteArray scratch(qsizetype(size), '\0');
    return TLookup::Equal(dataset, std::span<char>(scratch.data(), std::size_t(scratch.size())),
                          TXIsamFile::PrimaryIndex, key);
}

} // namespace

TBinRestore::TBinRestore(TQuorlaDB& database)
    : database_(database)
{
}

TBinRestore::Result TBinRestore::Restore(const QString& item, const UserRecord& user, const QString& userKey)
{
    const TRecords records = TBin::Records(database_, item);
    if (records.isEmpty())
        return Result::Gone;
    const BinRecord& head = records.first().second;
    const bool mayChange
        = head.OwnerKey() == userKey || (user.Rights() & UserRecord::CanModifyOthersEntries) != 0;
    if (!TBin::Visible(user, userKey, head) || !mayChange)
        return Result::Refused;
    restorer_ = userKey;
    const bool entry = head.Kind() == BinRecord::EntryItem;
    TXIsamFile* series = database_.Series();
    std::optional<TRecordLock> entryLock, seriesLock;
    if (entry)
        entryLock.emplace(database_.DayEntries(), KeyOf(item), &database_.Holders());
    QString seriesKey = entry ? QString() : KeyOf(item);
    for (const auto& [binKey, one] : records)
        if (entry && one.Dataset() == BinRecord::LinkData)
            seriesKey = recordOf<SeriesLinkRecord>(one.Body()).SeriesKey();
    if (!seriesKey.isEmpty() && series)
        seriesLock.emplace(*series, seriesKey, &database_.Holders());
    for (const auto* lock : {&entryLock, &seriesLock})
        if (*lock && !(*lock)->Held()) {
            lockHolder_ = (*lock)->HolderLine();
            return Result::Locked;
        }
    return restoreLocked(item, records);
}

TBinRestore::Result TBinRestore::restoreLocked(const QString& item, const TRecords& records)
{
    const BinRecord& head = records.first().second;
    const QChar kind = head.Kind();
    TXIsamFile* series = database_.Series();
    const bool present = kind == BinRecord::EntryItem
        ? stored(database_.DayEntries(), KeyOf(item), DayEntryRecord::Size)
        : series && stored(*series, KeyOf(item), SeriesRecord::Size);
    if (kind == BinRecord::FollowingItem && !present)
        return Result::SeriesGone;
    const bool taken = kind != BinRecord::FollowingItem && present;
    TBookingWriter bookings(database_, writer_);
    // Declared before the command: the resources' locks go after its commit.
    TBookingWriter::TReclaim claim = taken ? TBookingWriter::TReclaim() : bookings.Reclaim(keptBookings(records));
    const TCommandScope command(database_);
    if (taken) {
        QList<TXIsamFile::TBatchWrite> removals = TBin::Removals(records);
        writer_.writeBatch(*database_.Bin(), removals);
        return Result::Taken;
    }
    leftOut_ = claim.LeftOut();
    writes_.clear();
    collect(records);
    if (kind == BinRecord::FollowingItem)
        ruleBack(KeyOf(item), head);
    writeAll(records, [&] { bookings.Rebook(claim); });
    record(item, head);
    return Result::Done;
}

QList<TBookingStore::TBooking> TBinRestore::keptBookings(const TRecords& records)
{
    QList<TBookingStore::TBooking> kept;
    for (const auto& [binKey, one] : records)
        if (one.Dataset() == BinRecord::BookingData) {
            const BookingRecord booking = recordOf<BookingRecord>(one.Body());
            kept << TBookingStore::TBooking{one.Key(),         booking.Resource(), booking.Entry(),
                                            booking.Series(),  booking.Start(),    booking.End()};
        }
    return kept;
}

void TBinRestore::collect(const TRecords& records)
{
    users_.clear();
    UserRecord user;
    TLookup::Each(database_.Users(), user.bytes(), [&](const QString& key) { users_.insert(key); });
    for (const auto& [binKey, one] : records) {
        // Bookings are made again by the bookings' writer, not put back.
        if ((one.Kind() == BinRecord::FollowingItem && one.Dataset() == BinRecord::SeriesData)
            || one.Dataset() == BinRecord::BookingData)
            continue;
        const QByteArray bytes = mended(one.Dataset(), one.Body());
        if (!bytes.isEmpty())
            putBack(one.Dataset(), one.Key(), bytes);
    }
}

namespace {

// `record` with the assignees and owner in `users` only (the owner
// `restorer` otherwise).
template <typename Record>
QByteArray withUsers(Record record, const QSet<QString>& users, const QString& restorer)
{
    QStringList kept;
    for (const QString& key : record.AssigneeKeys())
        if (users.contains(key))
            kept << key;
    record.setAssigneeKeys(kept);
    if (!users.contains(record.OwnerKey()))
        record.setOwnerKey(restorer);
    return TRecordWriter::bytesOf(record.bytes());
}

} // namespace

QByteArray TBinRestore::mended(QChar dataset, const QByteArray& bytes)
{
    switch (dataset.toLatin1()) {
    case 'D':
        return withUsers(recordOf<DayEntryRecord>(bytes), users_, restorer_);
    case 'S':
        return withUsers(recordOf<SeriesRecord>(bytes), users_, restorer_);
    case 'A':
        return users_.contains(recordOf<AlarmRecord>(bytes).UserKey()) ? bytes : QByteArray();
    default:
        return bytes;
    }
}

namespace {

TXIsamFile* datasetOf(TQuorlaDB& database, QChar which)
{
    switch (which.toLatin1()) {
    case 'D':
        return &database.DayEntries();
    case 'A':
        return &database.Alarms();
    case 'S':
        return database.Series();
    case 'L':
        return database.SeriesLinks();
    case 'T':
        return database.Details();
    default:
        return nullptr;
    }
}

} // namespace

void TBinRestore::putBack(QChar dataset, const QString& key, const QByteArray& bytes)
{
    TXIsamFile* target = datasetOf(database_, dataset);
    // A dataset this database lacks now keeps none of it.
    if (!target)
        return;
    QByteArray stored(bytes.size(), '\0');
    const std::span<char> buffer(stored.data(), std::size_t(stored.size()));
    if (!TLookup::Equal(*target, buffer, TXIsamFile::PrimaryIndex, key)) {
        writes_[dataset] << TXIsamFile::TBatchWrite{Kind::Add, key, bytes};
        return;
    }
    if (dataset != BinRecord::LinkData)
        return;
    const SeriesLinkRecord now = recordOf<SeriesLinkRecord>(stored);
    const SeriesLinkRecord before = recordOf<SeriesLinkRecord>(bytes);
    if ((now.Flags() & SeriesLinkRecord::Deleted) || now.EntryKey() == before.EntryKey())
        writes_[dataset] << TXIsamFile::TBatchWrite{Kind::Replace, key, bytes};
}

void TBinRestore::ruleBack(const QString& key, const BinRecord& head)
{
    SeriesRecord now;
    if (!TLookup::Equal(*database_.Series(), now.bytes(), TXIsamFile::PrimaryIndex, key))
        return;
    const SeriesRecord before = recordOf<SeriesRecord>(head.Body());
    SeriesRecord restored = now;
    restored.setRule(before.Rule());
    restored.setMadeUntil(std::max(now.MadeUntil(), before.MadeUntil()));
    writes_[BinRecord::SeriesData] << TXIsamFile::TBatchWrite{Kind::Replace, key,
                                                               TRecordWriter::bytesOf(restored.bytes())};
}

void TBinRestore::writeAll(const TRecords& records, const std::function<void()>& rebook)
{
    for (const QChar which : Order)
        if (!writes_.value(which).isEmpty())
            writer_.writeBatch(*datasetOf(database_, which), writes_[which]);
    rebook();
    QList<TXIsamFile::TBatchWrite> removals = TBin::Removals(records);
    writer_.writeBatch(*database_.Bin(), removals);
}

void TBinRestore::record(const QString& item, const BinRecord& head)
{
    const QString key = KeyOf(item);
    if (head.Kind() == BinRecord::EntryItem) {
        const DayEntryRecord entry = recordOf<DayEntryRecord>(head.Body());
        database_.Trail().Record({TChangeTrail::Action::EventAdded, &database_.DayEntries(), key,
                                  TChangeTrail::EntrySubject(key),
                                  QStringLiteral("restored: ") + TChangeSummary(database_).Entry(entry, std::nullopt)});
        return;
    }
    const SeriesRecord series = recordOf<SeriesRecord>(head.Body());
    const bool whole = head.Kind() == BinRecord::SeriesItem;
    database_.Trail().Record(
        {whole ? TChangeTrail::Action::SeriesAdded : TChangeTrail::Action::SeriesChanged, database_.Series(), key,
         TChangeTrail::SeriesSubject(key),
         TChangeSummary::OfSeries(whole ? nullptr : &series, &series,
                                  whole ? QStringLiteral("restored: ") + series.Description()
                                        : QStringLiteral("occurrences restored"))});
}
