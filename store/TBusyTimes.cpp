#include "TBusyTimes.h"

#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TBookingStore.h"
#include "TDetailsStore.h"
#include "TEntryQuery.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
#include "TQuorlaDB.h"
#include "TServerBusy.h"
#include "TXIsamFile.h"

#include <QSet>

#include <algorithm>
#include <optional>

namespace {

constexpr qint64 Day = 86400;

qint64 dayStart(qint64 stamp)
{
    return stamp - stamp % Day;
}

QDate dateOf(qint64 stamp)
{
    return QDate(1970, 1, 1).addDays(stamp / Day);
}

// Whether `entry` names one of `users` as assignee.
bool assignsAny(const DayEntryRecord& entry, const QSet<QString>& users)
{
    for (const QString& key : entry.AssigneeKeys())
        if (users.contains(key))
            return true;
    return false;
}

void byStart(QList<TBusyInterval>& intervals)
{
    std::sort(intervals.begin(), intervals.end(), [](const TBusyInterval& a, const TBusyInterval& b) {
        return a.start != b.start ? a.start < b.start : a.entryKey < b.entryKey;
    });
}

} // namespace

struct TBusyTimes::Read
{
    DayEntryRecord entry;
    QString key;
    // Given with the entry where the server answers it; read with the
    // others' otherwise.
    std::optional<TEntryDetails> details;
};

TBusyTimes::TBusyTimes(TQuorlaDB& database, const UserRecord& asker, const QString& askerKey)
    : database_(database), asker_(asker), askerKey_(askerKey)
{
}

TBusyTimes::~TBusyTimes() = default;

TBusyInterval TBusyTimes::Taken(const DayEntryRecord& entry, const TEntryDetails& details)
{
    TBusyInterval taken;
    taken.start = RecordKey::parse(entry.StartTime());
    if (entry.Flags() & DayEntryRecord::UnTimed) {
        taken.start = dayStart(taken.start);
        taken.end = taken.start + qMax(details.days, 1) * Day;
    } else {
        // One without an end is a moment of its own day (TEntryDetails::lastDay):
        // its half hour never runs past midnight into the next.
        taken.end = details.durationSeconds > 0 ? taken.start + details.durationSeconds
                                                : std::min(taken.start + PointLength, dayStart(taken.start) + Day);
    }
    return taken;
}

TBusyInterval TBusyTimes::interval(const DayEntryRecord& entry, const QString& key, const TEntryDetails& details) const
{
    TBusyInterval taken = Taken(entry, details);
    taken.entryKey = key;
    if (EntryVisible(TFilterRules(), asker_, askerKey_, entry))
        taken.text = entry.Description();
    else
        taken.hidden = true;
    return taken;
}

QHash<QString, DayEntryRecord> TBusyTimes::entries(const QStringList& keys)
{
    QHash<QString, DayEntryRecord> found;
    if (keys.isEmpty())
        return found;
    TXIsamFile& dataset = database_.DayEntries();
    DayEntryRecord entry;
    const bool read = dataset.Among(entry.bytes(), TXIsamFile::PrimaryIndex, keys, [&] {
        found.insert(dataset.CurrentKey(), entry);
        return true;
    });
    if (!read && dataset.LastError() != IsamNotFound)
        throw EQuorla(dataset.ErrorText());
    return found;
}

QList<TBusyTimes::Read> TBusyTimes::candidates(const QStringList& userKeys, qint64 from, qint64 to)
{
    if (TServerBusy::Answers(database_))
        return answered(userKeys, from, to);
    const QSet<QString> users(userKeys.cbegin(), userKeys.cend());
    QList<Read> found;
    // From the first day's start: an entry earlier that day may still run.
    TEntryQuery::Read(database_.DayEntries(), RecordKey::format(dayStart(from)), RecordKey::format(to - 1),
                      [&](const DayEntryRecord& entry, const QString& key) {
                          if (assignsAny(entry, users))
                              found.append({entry, key, std::nullopt});
                      });
    // Those reaching in come with their records as the check read them.
    for (const auto& [key, entry] : TDetailsStore(database_).ReachingEntries(dateOf(from), dateOf(to - 1)))
        if (assignsAny(entry, users))
            found.append({entry, key, std::nullopt});
    return found;
}

QList<TBusyTimes::Read> TBusyTimes::answered(const QStringList& userKeys, qint64 from, qint64 to)
{
    // From as far back as most reach, and the few that reach further; what
    // does not reach the range is left out by its details. A person's own
    // session reads no private entry of others: the server answers those too.
    const qint64 back = std::max<qint64>(dayStart(from) - DetailRecord::ShortReachDays * Day, 0);
    QList<Read> found;
    for (TServerBusy::TRead& one :
         TServerBusy::Read(database_, RecordKey::format(back), RecordKey::format(to - 1), userKeys, serverHidden_))
        found.append({one.entry, one.key, std::move(one.details)});
    return found;
}

QHash<QString, QList<TBusyInterval>> TBusyTimes::People(const QStringList& userKeys, qint64 from, qint64 to,
                                                        const QStringList& leaveOut)
{
    QHash<QString, QList<TBusyInterval>> busy;
    for (const QString& user : userKeys)
        busy.insert(user, {});
    if (userKeys.isEmpty() || to <= from)
        return busy;
    const QList<Read> read = candidates(userKeys, from, to);
    // Those that came without their details, read in one go.
    QStringList keys;
    for (const Read& one : read)
        if (!one.details)
            keys << one.key;
    const QHash<QString, TEntryDetails> details = TDetailsStore(database_).Entries(keys);
    for (const Read& one : read) {
        if (leaveOut.contains(one.key))
            continue;
        const TBusyInterval taken = interval(one.entry, one.key, one.details.value_or(details.value(one.key)));
        if (!taken.overlaps(from, to))
            continue;
        for (const QString& user : one.entry.AssigneeKeys())
            if (busy.contains(user))
                busy[user].append(taken);
    }
    for (QList<TBusyInterval>& intervals : busy)
        byStart(intervals);
    return busy;
}

TBusyTimes::TBookingsReader TBusyTimes::StoredBookings(TQuorlaDB& database)
{
    return [&database](const QString& resource, qint64 from, qint64 to) {
        QList<TBusyInterval> booked;
        for (const TBookingStore::TBooking& one :
             TBookingStore(database).OfResource(resource, RecordKey::format(from), RecordKey::format(to))) {
            TBusyInterval taken;
            taken.start = RecordKey::parse(one.start);
            taken.end = RecordKey::parse(one.end);
            taken.entryKey = one.entry;
            booked.append(taken);
        }
        return booked;
    };
}

void TBusyTimes::SetBookingsReader(TBookingsReader reader)
{
    bookings_ = std::move(reader);
}

void TBusyTimes::describe(QHash<QString, QList<TBusyInterval>>& busy)
{
    QStringList keys;
    for (const QList<TBusyInterval>& intervals : std::as_const(busy))
        for (const TBusyInterval& one : intervals)
            keys << one.entryKey;
    keys.removeDuplicates();
    const QHash<QString, DayEntryRecord> stored = entries(keys);
    for (QList<TBusyInterval>& intervals : busy)
        for (TBusyInterval& one : intervals) {
            // A booking whose entry cannot be read is busy without a name.
            const auto found = stored.constFind(one.entryKey);
            const bool shown = found != stored.cend() && EntryVisible(TFilterRules(), asker_, askerKey_, *found);
            one.text = shown ? found->Description() : QString();
            one.hidden = !shown;
        }
}

QHash<QString, QList<TBusyInterval>> TBusyTimes::Resources(const QStringList& resourceKeys, qint64 from, qint64 to,
                                                           const QStringList& leaveOut)
{
    QHash<QString, QList<TBusyInterval>> busy;
    for (const QString& resource : resourceKeys) {
        QList<TBusyInterval> booked = bookings_ && to > from ? bookings_(resource, from, to) : QList<TBusyInterval>();
        booked.removeIf([&](const TBusyInterval& one) {
            return leaveOut.contains(one.entryKey) || !one.overlaps(from, to);
        });
        byStart(booked);
        busy.insert(resource, booked);
    }
    describe(busy);
    return busy;
}

QList<TBusyTimes::TOverlap> TBusyTimes::Overlaps(const DayEntryRecord& entry, const TEntryDetails& details,
                                                 const QString& entryKey)
{
    const TBusyInterval taken = Taken(entry, details);
    const QStringList assignees = entry.AssigneeKeys();
    const QHash<QString, QList<TBusyInterval>> busy
        = People(assignees, taken.start, taken.end, entryKey.isEmpty() ? QStringList() : QStringList{entryKey});
    QList<TOverlap> found;
    for (const QString& user : assignees)
        for (const TBusyInterval& other : busy.value(user))
            found.append({user, other});
    return found;
}
