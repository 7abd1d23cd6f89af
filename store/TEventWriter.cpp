#include "TEventWriter.h"

#include "AlarmRecord.h"
#include "TBin.h"
#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TChangeSummary.h"
#include "TCommandScope.h"
#include "TBookingWriter.h"
#include "TDetailsStore.h"
#include "TDetailsWriter.h"
#include "THolderNotes.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TXIsamFile.h"

#include <QSet>
#include <QThread>

namespace {

// Keys tried by a new entry while other workstations insert entries too.
constexpr int NewKeyAttempts = 200;

// The alarm time an entry has once stored with `alarm`: an alarm is made only
// for assignees.
std::optional<QString> alarmOf(const DayEntryRecord& entry, const AlarmRecord& alarm)
{
    if ((alarm.Flags() & AlarmRecord::AlarmWanted) && !entry.AssigneeKeys().isEmpty())
        return alarm.AlarmTime();
    return std::nullopt;
}

// The adds of one alarm per assignee of the entry under `entryKey`, each
// under the alarms' next key.
QList<TXIsamFile::TBatchWrite> alarmAdds(const DayEntryRecord& entry, AlarmRecord& alarm, const QString& entryKey)
{
    QList<TXIsamFile::TBatchWrite> adds;
    alarm.setDayEntryKey(entryKey);
    for (const QString& user : entry.AssigneeKeys()) {
        alarm.setUserKey(user);
        alarm.rebuildUserAlarmKey();
        adds << TXIsamFile::TBatchWrite{TXIsamFile::TBatchWrite::Add, QString(), TRecordWriter::bytesOf(alarm.bytes())};
    }
    return adds;
}

// The bookings of entry `key` changed into `entry`: `resources`, or those
// it books now, over its new time (with `details`, or its stored ones).
TBookingWriter::TClaim claimChanged(TQuorlaDB& database, TBookingWriter& bookings, const QString& key,
                                    const DayEntryRecord& entry, const std::optional<TEntryDetails>& details,
                                    const std::optional<QStringList>& resources)
{
    const QStringList booked = resources ? *resources : bookings.ResourcesOf(key);
    if (booked.isEmpty())
        return bookings.Claim(key, booked, TBookingWriter::TSpan());
    return bookings.Claim(key, booked,
                          TBookingWriter::SpanOf(entry, details ? *details : TDetailsStore(database).Entry(key)));
}

} // namespace

const char* const TEventWriter::KeptWithoutAlarms
    = "Nor could the event be taken back: it was saved without its alarms.";

TEventWriter::TEventWriter(TQuorlaDB& database)
    : OnWrite(writer_.OnWrite), database_(database)
{
}

bool TEventWriter::earliestAlarm(const QString& entryKey, AlarmRecord& alarm)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord scan;
    bool found = false;
    for (bool more = TLookup::Equal(alarms, scan.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey); more;
         more = TLookup::Next(alarms, scan.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, TXIsamFile::ScanPrefix)) {
        if (!found || RecordKey::parse(scan.AlarmTime()) < RecordKey::parse(alarm.AlarmTime()))
            alarm = scan;
        found = true;
    }
    return found;
}

std::optional<QString> TEventWriter::alarmTime(const QString& entryKey)
{
    AlarmRecord alarm;
    if (earliestAlarm(entryKey, alarm))
        return alarm.AlarmTime();
    return std::nullopt;
}

void TEventWriter::record(TChangeTrail::Action action, TXIsamFile& dataset, const QString& key,
                          const QString& entryKey, const QString& summary)
{
    database_.Trail().Record({action, &dataset, key, TChangeTrail::EntrySubject(entryKey), summary});
}

void TEventWriter::createAlarms(const DayEntryRecord& entry, AlarmRecord& alarm, const QString& entryKey)
{
    for (const TXIsamFile::TBatchWrite& add : alarmAdds(entry, alarm, entryKey))
        writer_.insert(database_.Alarms(), std::span(add.record.constData(), std::size_t(add.record.size())));
}

void TEventWriter::createNewAlarms(const DayEntryRecord& entry, AlarmRecord& alarm, const QString& entryKey)
{
    QList<TXIsamFile::TBatchWrite> adds = alarmAdds(entry, alarm, entryKey);
    if (adds.isEmpty())
        return;
    try {
        writer_.writeBatch(database_.Alarms(), adds);
    } catch (const EQuorla& failure) {
        // On a server the command's end undoes the entry with them; on a
        // folder the entry stands alone, and is taken back.
        if (!database_.Connection())
            takeBackNewEntry(entryKey, entry, failure);
        throw;
    }
}

void TEventWriter::storeNewDetails(const QString& entryKey, const DayEntryRecord& entry, const TEntryDetails& details)
{
    if (details.isEmpty())
        return;
    try {
        TDetailsWriter(database_, writer_).StoreEntry(entryKey, entry, details);
    } catch (const EQuorla& failure) {
        if (!database_.Connection())
            takeBackNewEntry(entryKey, entry, failure);
        throw;
    }
}

void TEventWriter::storeNewBookings(const QString& entryKey, const DayEntryRecord& entry, TBookingWriter& bookings,
                                    TBookingWriter::TClaim& claim)
{
    if (claim.isEmpty())
        return;
    try {
        bookings.Write(claim, entryKey);
    } catch (const EQuorla& failure) {
        if (!database_.Connection())
            takeBackNewEntry(entryKey, entry, failure);
        throw;
    }
}

void TEventWriter::takeBackNewEntry(const QString& entryKey, const DayEntryRecord& entry, const EQuorla& failure)
{
    try {
        writer_.remove(database_.DayEntries(), entryKey, entry.bytes());
    } catch (const EQuorla&) {
        throw EQuorla(failure.message() + QStringLiteral("\r\r") + QString::fromLatin1(KeptWithoutAlarms));
    }
}

QString TEventWriter::insertEntryWithAlarms(const DayEntryRecord& entry, AlarmRecord& alarm,
                                            const std::function<void(const QString&)>& reserved,
                                            const TEntryDetails& details, const QStringList& resources)
{
    DetailRecords::Check(details);
    // Checked and held before the entry is written, until it is committed.
    TBookingWriter bookings(database_, writer_);
    TBookingWriter::TClaim claim = bookings.Claim(QString(), resources, TBookingWriter::SpanOf(entry, details));
    // The new entry is locked from before its insert until its alarms are all
    // there, so that no other workstation deletes it in between and leaves the
    // alarms inserted after that pointing at nothing.
    TXIsamFile& entries = database_.DayEntries();
    for (int attempt = 0;; ++attempt) {
        const QString key = entries.NextKey();
        if (key.isEmpty())
            throw EQuorla(entries.ErrorText());
        const TRecordLock lock(entries, key);
        // Not held: another workstation is inserting under that key right
        // now. Held, the key must still be the next one: otherwise another
        // workstation added it between the choice and the lock (and may have
        // deleted it since), and taking it now would use a key twice. While
        // the lock is held nobody else adds it.
        if (lock.Held() && entries.NextKey() == key) {
            // The entry, its alarms and its trail record are one change; a
            // key taken meanwhile undoes the attempt (on a server the failed
            // add has spoilt the transaction) and the next key is tried.
            TCommandScope command(database_);
            if (reserved) {
                if (!entries.RaiseKeyMark(key))
                    throw EQuorla(entries.ErrorText());
                reserved(key);
            }
            if (writer_.insertUnder(entries, key, entry.bytes())) {
                storeNewDetails(key, entry, details);
                storeNewBookings(key, entry, bookings, claim);
                if (alarm.Flags() & AlarmRecord::AlarmWanted)
                    createNewAlarms(entry, alarm, key);
                record(TChangeTrail::Action::EventAdded, entries, key, key,
                       TChangeSummary(database_).Entry(entry, alarmOf(entry, alarm)));
                // Committed while the lock is held.
                command.Commit();
                return key;
            }
            command.Undo();
        }
        if (attempt >= NewKeyAttempts)
            throw EQuorla(entries.ErrorText());
        if (!lock.Held())
            QThread::usleep(1000);
    }
}

QStringList TEventWriter::insertEntriesWithAlarms(const QList<DayEntryRecord>& entries, QList<AlarmRecord>& alarms,
                                                  const std::function<void(const QStringList&)>& reserved,
                                                  const QList<TEntryDetails>& details)
{
    using Kind = TXIsamFile::TBatchWrite::Kind;
    TXIsamFile& dataset = database_.DayEntries();
    const qint64 count = entries.size();
    if (count == 0)
        return {};
    for (int attempt = 0;; ++attempt) {
        if (attempt >= NewKeyAttempts)
            throw EQuorla(dataset.ErrorText());
        const qint64 first = RecordKey::parse(dataset.NextKey());
        if (first <= 0)
            throw EQuorla(dataset.ErrorText());
        // As for one entry: every key held, and the first still the next
        // one (nobody added under any of them meanwhile).
        std::vector<TRecordLock> locks;
        locks.reserve(std::size_t(count));
        for (qint64 i = 0; i < count; ++i) {
            locks.emplace_back(dataset, RecordKey::format(first + i));
            if (!locks.back().Held())
                break;
        }
        if (qint64(locks.size()) < count || !locks.back().Held() || RecordKey::parse(dataset.NextKey()) != first) {
            locks.clear();
            QThread::usleep(1000);
            continue;
        }
        if (!dataset.RaiseKeyMark(RecordKey::format(first + count - 1)))
            throw EQuorla(dataset.ErrorText());
        QStringList keys;
        for (qint64 i = 0; i < count; ++i)
            keys << RecordKey::format(first + i);
        TCommandScope command(database_);
        reserved(keys);
        QList<TXIsamFile::TBatchWrite> entryWrites, alarmWrites;
        QList<TChangeTrail::TChange> added;
        TChangeSummary summary(database_);
        for (qint64 i = 0; i < count; ++i) {
            const DayEntryRecord& entry = entries[i];
            AlarmRecord& alarm = alarms[i];
            entryWrites << TXIsamFile::TBatchWrite{Kind::Add, keys[i], TRecordWriter::bytesOf(entry.bytes())};
            if (alarm.Flags() & AlarmRecord::AlarmWanted)
                alarmWrites << alarmAdds(entry, alarm, keys[i]);
            added << TChangeTrail::TChange{TChangeTrail::Action::EventAdded, &dataset, keys[i],
                                           TChangeTrail::EntrySubject(keys[i]), summary.Entry(entry, alarmOf(entry, alarm))};
        }
        TDetailsWriter detailsWriter(database_, writer_);
        QList<TXIsamFile::TBatchWrite> detailWrites = detailsWriter.Adds(keys, entries, details);
        writer_.writeBatch(dataset, entryWrites);
        detailsWriter.WriteAdds(detailWrites);
        if (!alarmWrites.isEmpty())
            writer_.writeBatch(database_.Alarms(), alarmWrites);
        database_.Trail().RecordAll(added);
        // Committed while the locks are held.
        command.Commit();
        return keys;
    }
}

TEventWriter::Result TEventWriter::openEntry(const QString& key, std::optional<TRecordLock>& lock,
                                             DayEntryRecord& entry, AlarmRecord& alarm, bool& hadAlarm)
{
    TXIsamFile& entries = database_.DayEntries();
    lock.emplace(entries, key, &database_.Holders());
    if (!lock->Held()) {
        lockHolder_ = lock->HolderLine();
        lock.reset();
        return Result::EntryLocked;
    }
    // The entry as it is now, not as the screen showed it: it may have been
    // changed or deleted since.
    if (!TLookup::Equal(entries, entry.bytes(), TXIsamFile::PrimaryIndex, key)) {
        lock.reset();
        return Result::Gone;
    }
    hadAlarm = earliestAlarm(key, alarm);
    return Result::Done;
}

TEventWriter::Result TEventWriter::lockAlarms(const QString& entryKey, std::vector<TRecordLock>& locked,
                                              const std::function<bool(const AlarmRecord&)>& needed)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord scan;
    QList<std::pair<QString, QString>> found;
    lockedAlarms_.clear();
    for (bool more = TLookup::Equal(alarms, scan.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey); more;
         more = TLookup::Next(alarms, scan.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, TXIsamFile::ScanPrefix)) {
        if (!needed || needed(scan))
            found.append({alarms.CurrentKey(), scan.UserKey()});
    }
    for (const auto& [key, user] : found) {
        TRecordLock lock(alarms, key);
        if (!lock.Held()) {
            locked.clear();
            lockedAlarmUser_ = user;
            lockHolder_ = database_.Holders().HolderOf(alarms, key);
            return Result::AlarmLocked;
        }
        // Found before its lock: it may have been switched off meanwhile.
        if (!TLookup::Equal(alarms, scan.bytes(), TXIsamFile::PrimaryIndex, key) || scan.DayEntryKey() != entryKey)
            continue;
        locked.push_back(std::move(lock));
        lockedAlarms_.append({key, scan});
    }
    return Result::Done;
}

TEventWriter::Result TEventWriter::updateEntryWithAlarms(const QString& key, const DayEntryRecord& entry,
                                                         AlarmRecord& alarm, const QString& openedAlarmTime,
                                                         const std::optional<TEntryDetails>& details,
                                                         const std::optional<QStringList>& resources)
{
    TXIsamFile& alarms = database_.Alarms();
    const bool wanted = (alarm.Flags() & AlarmRecord::AlarmWanted) != 0;
    const bool replaceAll = !wanted || openedAlarmTime.isEmpty() || alarm.AlarmTime() != openedAlarmTime;
    const QStringList assigned = entry.AssigneeKeys();
    // The locks of the alarms this change rewrites, all of them before any
    // write: one held elsewhere leaves the entry and every alarm as they
    // were. An alarm that stays as it stands needs no lock; its user may be
    // snoozing it right now.
    std::vector<TRecordLock> locked;
    const auto rewritten = [&](const AlarmRecord& a) { return replaceAll || !assigned.contains(a.UserKey()); };
    if (lockAlarms(key, locked, rewritten) != Result::Done)
        return Result::AlarmLocked;
    // Read before anything changes, for the trail.
    DayEntryRecord before;
    const bool found = TLookup::Equal(database_.DayEntries(), before.bytes(), TXIsamFile::PrimaryIndex, key);
    const std::optional<QString> alarmBefore = alarmTime(key);
    // The bookings over the entry's new time, checked and held before
    // anything is written.
    TBookingWriter bookings(database_, writer_);
    TBookingWriter::TClaim claim = claimChanged(database_, bookings, key, entry, details, resources);
    const TCommandScope command(database_);
    // Refused (too long) before anything is written; after the entry, so
    // that the head follows its start.
    TDetailsWriter detailsWriter(database_, writer_);
    const auto writeDetails = [&] {
        if (details)
            detailsWriter.StoreEntry(key, entry, *details);
        else
            detailsWriter.FollowEntry(key, entry);
        if (resources || !claim.isEmpty())
            bookings.Write(claim, key);
    };
    if (details)
        DetailRecords::Check(*details);
    if (replaceAll) {
        // The old alarms go before the entry changes: a command cut short at
        // any point (a crash) leaves the entry with fewer alarms, never with
        // alarms of users it no longer has.
        for (const TRecordLock& lock : locked)
            writer_.remove(alarms, lock.Key());
        writer_.update(database_.DayEntries(), key, entry.bytes());
        writeDetails();
        if (wanted)
            createAlarms(entry, alarm, key);
    } else {
        // The alarm time stays: every alarm stays as it stands (snoozed, or
        // switched off and gone) but those of users no longer assigned, and
        // only a user newly assigned gets one.
        if (!found)
            return Result::Gone;
        removeUnassignedAlarms(locked, assigned);
        writer_.update(database_.DayEntries(), key, entry.bytes());
        writeDetails();
        addNewlyAssignedAlarms(key, alarm, assigned, before.AssigneeKeys());
    }
    // The alarm time as stored now: where alarms stayed as they stand, a
    // switched-off or snoozed one is not taken for the time the editor showed.
    record(TChangeTrail::Action::EventChanged, database_.DayEntries(), key, key,
           TChangeSummary(database_).EntryChanged(before, alarmBefore, entry, alarmTime(key)));
    return Result::Done;
}

void TEventWriter::removeUnassignedAlarms(const std::vector<TRecordLock>& locked, const QStringList& assigned)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord stored;
    for (const TRecordLock& lock : locked) {
        if (TLookup::Equal(alarms, stored.bytes(), TXIsamFile::PrimaryIndex, lock.Key())
            && !assigned.contains(stored.UserKey()))
            writer_.remove(alarms, lock.Key());
    }
}

void TEventWriter::addNewlyAssignedAlarms(const QString& key, AlarmRecord& alarm, const QStringList& assigned,
                                          const QStringList& assignedBefore)
{
    TXIsamFile& alarms = database_.Alarms();
    // A user assigned again whose alarm a removal cut short left on the
    // entry keeps that one: never two alarms for one user.
    QSet<QString> alarmed;
    AlarmRecord stored;
    for (bool more = TLookup::Equal(alarms, stored.bytes(), AlarmRecord::DayEntryKeyIndex, key); more;
         more = TLookup::Next(alarms, stored.bytes(), AlarmRecord::DayEntryKeyIndex, key, TXIsamFile::ScanPrefix))
        alarmed.insert(stored.UserKey());
    alarm.setDayEntryKey(key);
    for (const QString& user : assigned) {
        if (assignedBefore.contains(user) || alarmed.contains(user))
            continue;
        alarm.setUserKey(user);
        alarm.rebuildUserAlarmKey();
        writer_.insert(alarms, alarm.bytes());
    }
}

void TEventWriter::removeWithAlarms(const QString& key, const DayEntryRecord& entry,
                                    const std::vector<TRecordLock>& alarms)
{
    // Into the bin first: a stop in between leaves the entry there, and
    // the bin's item of it taken. The alarms are those just read under
    // their locks.
    TBin bin(database_);
    const TBin::TKept kept = bin.GatherEntry(key, entry, &lockedAlarms_);
    if (kept.kept) {
        removeAlongBin(bin, kept.details, kept.bookings, key, entry, alarms);
        return;
    }
    for (const TRecordLock& lock : alarms)
        writer_.remove(database_.Alarms(), lock.Key());
    writer_.remove(database_.DayEntries(), key, entry.bytes());
    TDetailsWriter(database_, writer_).RemoveEntries({key});
    TBookingWriter(database_, writer_).RemoveEntries({key});
}

void TEventWriter::removeAlongBin(TBin& bin, const QStringList& details, const QStringList& bookings,
                                  const QString& key, const DayEntryRecord& entry, const std::vector<TRecordLock>& alarms)
{
    using Write = TXIsamFile::TBatchWrite;
    QList<Write> alarmRemovals;
    for (const TRecordLock& lock : alarms)
        alarmRemovals << Write{Write::Remove, lock.Key(), QByteArray()};
    // The entry's bytes go to the observer only: a removal writes none.
    QList<Write> entryRemoval{Write{Write::Remove, key, TRecordWriter::bytesOf(entry.bytes())}};
    // After the entry: a stop in between (on a folder) leaves only details
    // of an entry gone, which nothing shows and the sweep removes. What the
    // bin read of them under the entry's lock is all there is.
    QList<Write> detailRemovals = removals(details);
    QList<Write> bookingRemovals = removals(bookings);
    std::vector<TXIsamFile::TWritesAlong> along{{&database_.Alarms(), &alarmRemovals},
                                                {&database_.DayEntries(), &entryRemoval}};
    if (database_.Details() && !detailRemovals.isEmpty())
        along.push_back({database_.Details(), &detailRemovals});
    if (database_.Bookings() && !bookingRemovals.isEmpty())
        along.push_back({database_.Bookings(), &bookingRemovals});
    bin.WriteAlong(along, writer_);
}

QList<TXIsamFile::TBatchWrite> TEventWriter::removals(const QStringList& keys)
{
    QList<TXIsamFile::TBatchWrite> writes;
    for (const QString& key : keys)
        writes << TXIsamFile::TBatchWrite{TXIsamFile::TBatchWrite::Remove, key, QByteArray()};
    return writes;
}

TEventWriter::Result TEventWriter::deleteEntryWithAlarms(const QString& key, const std::optional<QString>& description)
{
    TXIsamFile& entries = database_.DayEntries();
    // The entry's lock comes before its alarms, so an entry open elsewhere
    // keeps its alarms.
    const TRecordLock entryLock(entries, key);
    if (!entryLock.Held()) {
        lockHolder_ = database_.Holders().HolderOf(entries, key);
        return Result::EntryLocked;
    }
    DayEntryRecord entry;
    if (!TLookup::Equal(entries, entry.bytes(), TXIsamFile::PrimaryIndex, key))
        return Result::Gone;
    if (description && entry.Description() != *description)
        return Result::Changed;
    const QString summary = TChangeSummary(database_).Entry(entry, alarmTime(key));
    std::vector<TRecordLock> locked;
    if (lockAlarms(key, locked) != Result::Done)
        return Result::AlarmLocked;
    const TCommandScope command(database_);
    removeWithAlarms(key, entry, locked);
    record(TChangeTrail::Action::EventDeleted, entries, key, key, summary);
    return Result::Done;
}

TEventWriter::Result TEventWriter::deleteLockedEntryWithAlarms(const QString& key, const DayEntryRecord& entry,
                                                               int* alarmCount)
{
    std::vector<TRecordLock> locked;
    if (lockAlarms(key, locked) != Result::Done)
        return Result::AlarmLocked;
    const TCommandScope command(database_);
    removeWithAlarms(key, entry, locked);
    if (alarmCount)
        *alarmCount += int(locked.size());
    return Result::Done;
}

TEventWriter::Result TEventWriter::lockSameAlarm(const QString& key, const AlarmRecord& alarm, AlarmRecord& stored,
                                                 std::optional<TRecordLock>& lock)
{
    TXIsamFile& alarms = database_.Alarms();
    lock.emplace(alarms, key);
    if (!lock->Held()) {
        lock.reset();
        return Result::AlarmLocked;
    }
    if (TLookup::Equal(alarms, stored.bytes(), TXIsamFile::PrimaryIndex, key) && stored.UserKey() == alarm.UserKey()
        && stored.DayEntryKey() == alarm.DayEntryKey())
        return Result::Done;
    lock.reset();
    return Result::Gone;
}

TEventWriter::Result TEventWriter::snoozeAlarm(const QString& key, AlarmRecord& alarm, const QString& alarmTime)
{
    AlarmRecord snoozed;
    std::optional<TRecordLock> lock;
    const Result locked = lockSameAlarm(key, alarm, snoozed, lock);
    if (locked != Result::Done)
        return locked;
    const QString summary = TChangeSummary(database_).Alarm(snoozed, alarmTime);
    const TCommandScope command(database_);
    snoozed.setAlarmTime(alarmTime);
    snoozed.rebuildUserAlarmKey();
    writer_.update(database_.Alarms(), key, snoozed.bytes());
    record(TChangeTrail::Action::AlarmSnoozed, database_.Alarms(), key, snoozed.DayEntryKey(), summary);
    alarm = snoozed;
    return Result::Done;
}

TEventWriter::Result TEventWriter::switchOffAlarm(const QString& key, const AlarmRecord& alarm)
{
    AlarmRecord stored;
    std::optional<TRecordLock> lock;
    const Result locked = lockSameAlarm(key, alarm, stored, lock);
    if (locked != Result::Done)
        return locked;
    const TCommandScope command(database_);
    writer_.remove(database_.Alarms(), key, stored.bytes());
    record(TChangeTrail::Action::AlarmSwitchedOff, database_.Alarms(), key, stored.DayEntryKey(),
           TChangeSummary(database_).Alarm(stored, QString()));
    return Result::Done;
}

TEventWriter::Result TEventWriter::addOwnAlarm(const QString& entryKey, const QString& userKey,
                                              const QString& alarmTime)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord alarm;
    for (bool more = TLookup::Equal(alarms, alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey); more;
         more = TLookup::Next(alarms, alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, TXIsamFile::ScanPrefix))
        if (alarm.UserKey() == userKey)
            return Result::Changed;
    database_.InitAlarmRecord(alarm);
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setDayEntryKey(entryKey);
    alarm.setUserKey(userKey);
    alarm.setAlarmTime(alarmTime);
    alarm.rebuildUserAlarmKey();
    const TCommandScope command(database_);
    const QString key = writer_.insert(alarms, alarm.bytes());
    record(TChangeTrail::Action::AlarmSnoozed, alarms, key, entryKey, TChangeSummary(database_).Alarm(alarm, QString()));
    return Result::Done;
}

bool TEventWriter::entryExists(const AlarmRecord& alarm, DayEntryRecord& entry)
{
    return TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, alarm.DayEntryKey());
}

TEventWriter::Result TEventWriter::deleteOrphanAlarm(const QString& key, const AlarmRecord& alarm, int* deleted)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord stored;
    // Deleted without its lock, as the pop-up always has. The key is read again
    // so that only exactly this alarm goes.
    if (!TLookup::Equal(alarms, stored.bytes(), TXIsamFile::PrimaryIndex, key) || stored != alarm)
        return Result::Gone;
    {
        const TCommandScope command(database_);
        removeOrphan(key, stored);
    }
    int count = 1;
    // The other assignees' alarms of the missing entry go too, each under its
    // lock: none is left to point at nothing. One held elsewhere (its user
    // snoozing it right now) is left to its own user's poll.
    const QString entryKey = stored.DayEntryKey();
    QStringList others;
    for (bool more = TLookup::Equal(alarms, stored.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey); more;
         more = TLookup::Next(alarms, stored.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, TXIsamFile::ScanPrefix))
        others << alarms.CurrentKey();
    DayEntryRecord entry;
    for (const QString& other : others) {
        const TRecordLock lock(alarms, other);
        if (lock.Held() && TLookup::Equal(alarms, stored.bytes(), TXIsamFile::PrimaryIndex, other)
            && stored.DayEntryKey() == entryKey && !entryExists(stored, entry)) {
            const TCommandScope command(database_);
            removeOrphan(other, stored);
            ++count;
        }
    }
    if (deleted)
        *deleted += count;
    return Result::Done;
}

void TEventWriter::removeOrphan(const QString& key, const AlarmRecord& alarm)
{
    TXIsamFile& alarms = database_.Alarms();
    writer_.remove(alarms, key, alarm.bytes());
    record(TChangeTrail::Action::AlarmSwitchedOff, alarms, key, alarm.DayEntryKey(),
           TChangeSummary(database_).Alarm(alarm, QString()) + QStringLiteral("; its event is gone"));
}
