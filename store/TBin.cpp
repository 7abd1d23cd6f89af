#include "TBin.h"

#include "AlarmRecord.h"
#include "BinRecord.h"
#include "BookingRecord.h"
#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TBookingStore.h"
#include "TBookingWriter.h"
#include "TChangeTrail.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <algorithm>

namespace {

using Kind = TXIsamFile::TBatchWrite::Kind;

const QString EndOfKeys = QString(10, QLatin1Char('9'));

// Reads the records of `index` from `from` to `to`; "none" is no failure.
void range(TXIsamFile& dataset, std::span<char> record, qint16 index, const QString& from, const QString& to,
           const std::function<bool()>& take)
{
    if (!dataset.Range(record, index, from, to, take) && dataset.LastError() != IsamNotFound)
        throw EQuorla(dataset.ErrorText());
}

} // namespace

TBin::TBin(TQuorlaDB& database)
    : database_(database)
{
}

bool TBin::Available() const
{
    return database_.Bin() != nullptr;
}

void TBin::begin(const QString& item, qint32 flags, const QString& ownerKey, const QStringList& assignees)
{
    writes_.clear();
    kept_ = TKept{true, {}, {}};
    // The fields every record of the item repeats are made once: an item's
    // records differ only in what they hold.
    TStamp& now = database_.Stamp();
    now.SetNow();
    head_ = BinRecord();
    head_.setItem(item);
    // Entries and series share the meaning of these two bits.
    head_.setFlags(flags & (BinRecord::UnTimed | BinRecord::Private));
    head_.setDeletedAt(now.Key());
    head_.setDeletedBy(database_.ActingUser());
    head_.setOwnerKey(ownerKey);
    head_.setAssigneeKeys(assignees);
}

void TBin::add(QLatin1Char dataset, const QString& key, std::span<const char> bytes)
{
    BinRecord record = head_;
    record.setDataset(dataset);
    record.setKey(key);
    if (writes_.isEmpty())
        record.setFlags(record.Flags() | BinRecord::Head);
    record.setBody(TRecordWriter::bytesOf(bytes));
    if (dataset == BinRecord::DetailData)
        kept_.details << key;
    else if (dataset == BinRecord::BookingData)
        kept_.bookings << key;
    writes_ << TXIsamFile::TBatchWrite{Kind::Add, QString(), TRecordWriter::bytesOf(record.bytes())};
}

void TBin::addAlarms(const QString& entryKey, const TAlarms* known)
{
    if (known) {
        for (const auto& [key, alarm] : *known)
            add(BinRecord::AlarmData, key, alarm.bytes());
        return;
    }
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord alarm;
    for (bool more = TLookup::Equal(alarms, alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey); more;
         more = TLookup::Next(alarms, alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, TXIsamFile::ScanPrefix))
        add(BinRecord::AlarmData, alarms.CurrentKey(), alarm.bytes());
}

void TBin::addDetails(const QString& owner)
{
    TXIsamFile* details = database_.Details();
    if (!details)
        return;
    DetailRecord record;
    range(*details, record.bytes(), DetailRecord::OfIndex, DetailRecord::of(owner, 0), DetailRecord::of(owner, 999),
          [&] {
              add(BinRecord::DetailData, details->CurrentKey(), record.bytes());
              return true;
          });
}

std::optional<std::pair<QString, SeriesLinkRecord>> TBin::addEntryPartsFindLink(const QString& entryKey)
{
    const QString owner = DetailRecord::owner(DetailRecord::EntryMark, entryKey);
    TXIsamFile* details = database_.Details();
    TXIsamFile* links = database_.SeriesLinks();
    TXIsamFile* bookings = database_.Bookings();
    std::optional<std::pair<QString, SeriesLinkRecord>> found;
    SeriesLinkRecord link;
    if (!details) {
        if (links && TLookup::Equal(*links, link.bytes(), SeriesLinkRecord::EntryKeyIndex, entryKey))
            found.emplace(links->CurrentKey(), link);
        addBookings({entryKey});
        return found;
    }
    // Read together: the link and the bookings cost no exchange of their
    // own on a server.
    std::vector<TXIsamFile::TAlong> along;
    if (links)
        along.push_back({links, link.bytes(), SeriesLinkRecord::EntryKeyIndex, {entryKey}, [&] {
                             found.emplace(links->CurrentKey(), link);
                             return false;
                         }});
    BookingRecord booking;
    if (bookings)
        along.push_back({bookings, booking.bytes(), BookingRecord::EntryIndex, {entryKey}, [&] {
                             addBooking(TBookingStore::BookingOf(bookings->CurrentKey(), booking));
                             return true;
                         }});
    DetailRecord record;
    const bool read = details->RangeAlong(
        record.bytes(), DetailRecord::OfIndex, DetailRecord::of(owner, 0), DetailRecord::of(owner, 999),
        [&] {
            add(BinRecord::DetailData, details->CurrentKey(), record.bytes());
            return true;
        },
        along);
    if (!read && details->LastError() != IsamNotFound)
        throw EQuorla(details->ErrorText());
    return found;
}

void TBin::addBookings(const QStringList& entryKeys, const QString& seriesKey)
{
    TBookingStore store(database_);
    QList<TBookingStore::TBooking> kept = store.OfEntries(entryKeys);
    for (const TBookingStore::TBooking& note : store.OfSeries(seriesKey))
        if (RecordKey::isNone(note.entry))
            kept << note;
    for (const TBookingStore::TBooking& booking : kept)
        addBooking(booking);
}

void TBin::addBooking(const TBookingStore::TBooking& booking)
{
    const QByteArray bytes = TBookingWriter::RecordOf(booking);
    add(BinRecord::BookingData, booking.key, {bytes.constData(), std::size_t(bytes.size())});
}

TBin::TKept TBin::KeepEntry(const QString& key, const DayEntryRecord& entry, const TAlarms* alarms)
{
    const TKept kept = GatherEntry(key, entry, alarms);
    if (kept.kept)
        write(true);
    return kept;
}

TBin::TKept TBin::GatherEntry(const QString& key, const DayEntryRecord& entry, const TAlarms* alarms)
{
    if (!Available())
        return {};
    begin(BinRecord::item(BinRecord::EntryItem, key), entry.Flags(), entry.OwnerKey(), entry.AssigneeKeys());
    add(BinRecord::EntryData, key, entry.bytes());
    addAlarms(key, alarms);
    const std::optional<std::pair<QString, SeriesLinkRecord>> link = addEntryPartsFindLink(key);
    if (link)
        add(BinRecord::LinkData, link->first, link->second.bytes());
    return kept_;
}

void TBin::WriteAlong(const std::vector<TXIsamFile::TWritesAlong>& along, TRecordWriter& teller)
{
    clearFirst();
    writer_.writeBatchAlong(*database_.Bin(), writes_, along, teller);
    writes_.clear();
}

void TBin::KeepEntry(const QString& key)
{
    DayEntryRecord entry;
    if (Available() && TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, key))
        KeepEntry(key, entry);
}

QString TBin::addOccurrence(const QString& linkKey, const SeriesLinkRecord& link)
{
    add(BinRecord::LinkData, linkKey, link.bytes());
    DayEntryRecord entry;
    if (RecordKey::isNone(link.EntryKey())
        || !TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, link.EntryKey()))
        return {};
    add(BinRecord::EntryData, link.EntryKey(), entry.bytes());
    addAlarms(link.EntryKey());
    addDetails(DetailRecord::owner(DetailRecord::EntryMark, link.EntryKey()));
    return link.EntryKey();
}

void TBin::KeepSeries(const QString& key, const SeriesRecord& series, bool whole, const QString& fromDayKey)
{
    if (!Available() || !database_.SeriesLinks())
        return;
    begin(BinRecord::item(whole ? BinRecord::SeriesItem : BinRecord::FollowingItem, key), series.Flags(),
          series.OwnerKey(), series.AssigneeKeys());
    add(BinRecord::SeriesData, key, series.bytes());
    if (whole)
        addDetails(DetailRecord::owner(DetailRecord::SeriesMark, key));
    TXIsamFile& links = *database_.SeriesLinks();
    SeriesLinkRecord link;
    QList<std::pair<QString, SeriesLinkRecord>> found;
    range(links, link.bytes(), SeriesLinkRecord::OccurrenceIndex, key + (whole ? QString(RecordKey::None) : fromDayKey),
          key + EndOfKeys, [&] {
              found.append({links.CurrentKey(), link});
              return true;
          });
    // What the deletion removes: from a day on, the occurrences made
    // (deleted days stay); the whole series, every link. Occurrences a
    // writer left unfinished are rolled back anyway, never kept.
    QStringList occurrences;
    for (const auto& [linkKey, one] : found)
        if (!(one.Flags() & SeriesLinkRecord::Pending) && (whole || !(one.Flags() & SeriesLinkRecord::Deleted)))
            occurrences << addOccurrence(linkKey, one);
    // The series' notes of its resources go with it whole; from a day on
    // they stay with the series.
    addBookings(occurrences, whole ? key : QString());
    // Another "this and following" of the same series joins the item kept
    // before: a restore puts both back.
    write(whole);
}

void TBin::clearFirst()
{
    // Cleared in the batch itself, unread: on a server that is no exchange
    // of its own.
    writes_.prepend(TXIsamFile::TBatchWrite{Kind::Clear, head_.Item(), QByteArray(), BinRecord::ItemIndex});
}

void TBin::write(bool fresh)
{
    if (fresh)
        clearFirst();
    writer_.writeBatch(*database_.Bin(), writes_);
    writes_.clear();
}

QList<std::pair<QString, BinRecord>> TBin::Records(TQuorlaDB& database, const QString& item)
{
    QList<std::pair<QString, BinRecord>> found;
    TXIsamFile* bin = database.Bin();
    if (!bin)
        return found;
    BinRecord record;
    range(*bin, record.bytes(), BinRecord::ItemIndex, item, item, [&] {
        found.append({bin->CurrentKey(), record});
        return true;
    });
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return found;
}

QList<TXIsamFile::TBatchWrite> TBin::Removals(const QList<std::pair<QString, BinRecord>>& records)
{
    QList<TXIsamFile::TBatchWrite> removals;
    for (const auto& one : records)
        removals << TXIsamFile::TBatchWrite{Kind::Remove, one.first, QByteArray()};
    return removals;
}

bool TBin::Visible(const UserRecord& user, const QString& userKey, const BinRecord& head)
{
    if (!(head.Flags() & BinRecord::Private) || (user.Rights() & UserRecord::CanAdminister))
        return true;
    return !RecordKey::isNone(userKey) && head.AssigneeKeys().contains(userKey);
}

namespace {

TBin::TItem itemOf(const BinRecord& head)
{
    TBin::TItem item;
    item.item = head.Item();
    item.deletedAt = head.DeletedAt();
    item.deletedBy = head.DeletedBy();
    item.ownerKey = head.OwnerKey();
    const QByteArray body = head.Body();
    if (head.Dataset() == BinRecord::SeriesData) {
        SeriesRecord series;
        std::copy_n(body.constData(), std::min<qsizetype>(body.size(), SeriesRecord::Size), series.bytes().data());
        item.description = series.Description();
        item.start = series.Start();
        item.series = true;
        item.following = head.Kind() == BinRecord::FollowingItem;
    } else {
        DayEntryRecord entry;
        std::copy_n(body.constData(), std::min<qsizetype>(body.size(), DayEntryRecord::Size), entry.bytes().data());
        item.description = entry.Description();
        item.start = entry.StartTime();
    }
    return item;
}

} // namespace

QList<TBin::TItem> TBin::Items(TQuorlaDB& database, const UserRecord& user, const QString& userKey)
{
    QList<TItem> items;
    TXIsamFile* bin = database.Bin();
    if (!bin)
        return items;
    BinRecord record;
    range(*bin, record.bytes(), BinRecord::DeletedAtIndex, RecordKey::None, EndOfKeys, [&] {
        if ((record.Flags() & BinRecord::Head) && Visible(user, userKey, record))
            items.prepend(itemOf(record));
        return true;
    });
    return items;
}

int TBin::Sweep(TQuorlaDB& database, int budget)
{
    TXIsamFile* bin = database.Bin();
    if (!bin)
        return 0;
    TStamp& now = database.Stamp();
    now.SetNow();
    const QString before = RecordKey::format(now.Seconds() - qint64(database.Trail().DaysKept()) * 86400);
    QStringList old;
    BinRecord record;
    try {
        range(*bin, record.bytes(), BinRecord::DeletedAtIndex, RecordKey::None, before, [&] {
            old << bin->CurrentKey();
            return old.size() < budget;
        });
    } catch (const EQuorla&) {
        return 0;
    }
    int removed = 0;
    for (const QString& key : old)
        removed += bin->Delete(key) ? 1 : 0;
    return removed;
}
