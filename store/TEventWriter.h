#pragma once

#include "AlarmRecord.h"
#include "TBookingWriter.h"
#include "TChangeTrail.h"
#include "TEntryDetails.h"
#include "TRecordWriter.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class AlarmRecord;
class DayEntryRecord;
class EQuorla;
class TBin;
class TQuorlaDB;
class TRecordLock;
class TXIsamFile;

// The record-level work of the event commands and of the alarm pop-up, without
// any dialog: what New event, Event properties, Delete event, Snooze and Off
// write, and under which locks. The commands and the pop-up call these, and so
// does the reliability check, which runs them from several processes at once.
//
// An entry with an alarm has one alarm record per assignee. Existing records
// change only under their record locks, and a record found before its lock was
// taken is read again under the lock: a record that vanished, or that is no
// longer the one the caller saw, is left alone, never overwritten or deleted.
// Only "no such record" means a record is missing; any other failed read or
// write raises EQuorla with the dataset's error text. Every lock taken here is
// released on every way out.
class TEventWriter
{
public:
    enum class Result {
        Done,
        // Another holder has the record's lock; nothing was written.
        EntryLocked,
        AlarmLocked,
        // The record is no longer stored under its key; nothing was written.
        Gone,
        // The entry is there but no longer the one the caller confirmed.
        Changed
    };

    using TWrite = TRecordWriter::TWrite;

    explicit TEventWriter(TQuorlaDB& database);

    // Told of every write (observers only: the reliability check's log).
    std::function<void(const TWrite&)>& OnWrite;

    // After EntryLocked or AlarmLocked: who has the record open, where a holder note tells
    // (THolderNotes::HolderOf); else empty.
    const QString& LockHolder() const { return lockHolder_; }
    // After AlarmLocked: the user whose alarm another holder has (and
    // LockHolder() who that is, where a holder note tells).
    const QString& LockedAlarmUser() const { return lockedAlarmUser_; }

    // New event: inserts the entry under the next key and, when the alarm is
    // wanted, one alarm per assignee. Returns the entry's key. A failure
    // leaves neither the entry nor any alarm of it - unless on a folder even
    // taking back the entry failed: then the message ends with
    // KeptWithoutAlarms.
    // `reserved`, when given, is told the key before anything is written
    // under it, and the key is set aside first (the key mark raised past it)
    // so that nobody else ever adds under it: a caller that keeps the key
    // elsewhere before the entry exists (an import's map) finds after a kill
    // either its own entry there or nothing, never someone else's. A key
    // taken meanwhile tells it again with the next one.
    // `details` are stored with the entry (none when empty).
    // `resources` are booked for its time (TBookingWriter): a resource
    // booked then by another entry refuses the whole event
    // (TBookingWriter::ERefused), nothing written.
    QString insertEntryWithAlarms(const DayEntryRecord& entry, AlarmRecord& alarm,
                                  const std::function<void(const QString& key)>& reserved = {},
                                  const TEntryDetails& details = {}, const QStringList& resources = {});

    // Many new events at once (an import): the entries go in under keys set
    // aside first (each locked, none added meanwhile, the key mark raised
    // past them), `reserved` is told the keys in order before anything is
    // written under them, then come the entries, the alarms (`alarms[i]` for
    // `entries[i]`, one per assignee when wanted) and the trail's records:
    // one transaction per dataset, on a server all of it one. Returns the
    // keys in order.
    // `details`, when not empty, holds one TEntryDetails per entry.
    QStringList insertEntriesWithAlarms(const QList<DayEntryRecord>& entries, QList<AlarmRecord>& alarms,
                                        const std::function<void(const QStringList& keys)>& reserved,
                                        const QList<TEntryDetails>& details = {});

    // Event properties, before the editor opens: takes the entry's lock into
    // `lock` and reads the entry under it, and its earliest alarm - the
    // entry's alarm time - into `alarm` (`hadAlarm`). EntryLocked: another holder has the entry; Gone: no entry
    // under the key. On anything but Done no lock is held.
    Result openEntry(const QString& key, std::optional<TRecordLock>& lock, DayEntryRecord& entry, AlarmRecord& alarm,
                     bool& hadAlarm);

    // Event properties, with the entry's lock held by the caller: locks every
    // alarm that the change rewrites or deletes before anything is written
    // (AlarmLocked: nothing changed, neither the entry nor any alarm; see
    // LockedAlarmUser), then rewrites the entry and its alarms.
    // `openedAlarmTime` is the alarm time openEntry gave (empty when the
    // entry had no alarm).
    // - Alarm wanted at that same time: each assignee's alarm stays as it
    //   stands (snoozed, or switched off: none), the alarms of users no longer
    //   assigned go, and a newly assigned user gets one at that time.
    // - Alarm wanted at another time, or newly wanted: every alarm is replaced
    //   by one per current assignee.
    // - No alarm wanted: every alarm goes.
    // `details`: the entry's new details (empty ones remove them); without,
    // the stored details stay as they are.
    // `resources`: the resources it books from now on; without, those it
    // books stay, over its new time. Either way a resource booked then by
    // another entry refuses the change (TBookingWriter::ERefused), nothing
    // written.
    Result updateEntryWithAlarms(const QString& key, const DayEntryRecord& entry, AlarmRecord& alarm,
                                 const QString& openedAlarmTime,
                                 const std::optional<TEntryDetails>& details = std::nullopt,
                                 const std::optional<QStringList>& resources = std::nullopt);

    // Delete event: locks the entry, re-reads it, then locks every alarm of it
    // and deletes the alarms and the entry. With `description` the entry is
    // deleted only while it still carries that description (the one the user
    // confirmed): Changed otherwise. EntryLocked, AlarmLocked, Gone and
    // Changed leave everything as it was.
    Result deleteEntryWithAlarms(const QString& key, const std::optional<QString>& description = std::nullopt);

    // Deletes an entry whose lock the caller holds, with every alarm of it,
    // whoever the alarms belong to; adds the alarms deleted to `alarmCount`.
    // AlarmLocked leaves everything as it was.
    Result deleteLockedEntryWithAlarms(const QString& key, const DayEntryRecord& entry, int* alarmCount = nullptr);

    // Snooze: under the alarm's lock, re-reads it; when it is still the same
    // user's alarm of the same entry, moves it to `alarmTime`. `alarm` takes
    // the stored record only on Done.
    Result snoozeAlarm(const QString& key, AlarmRecord& alarm, const QString& alarmTime);

    // Off: under the alarm's lock, deletes it when it is still the same user's
    // alarm of the same entry.
    Result switchOffAlarm(const QString& key, const AlarmRecord& alarm);

    // An alarm of one's own, with the entry's lock held by the caller: gives
    // `userKey` an alarm of entry `entryKey` at `alarmTime` when he has none
    // (a user has at most one per entry; Changed, and nothing written, when
    // he has one). The trail records it as his alarm moved to that time.
    Result addOwnAlarm(const QString& entryKey, const QString& userKey, const QString& alarmTime);

    // The end of a failed new event's message when its entry stayed.
    static const char* const KeptWithoutAlarms;

    // Reads the alarm's entry into `entry`: false only when there is no such
    // entry; any other failure throws, so that an unreadable entry never
    // passes for a missing one.
    bool entryExists(const AlarmRecord& alarm, DayEntryRecord& entry);

    // The pop-up's clean-up of an alarm whose entry is missing: deletes it when
    // its key still holds exactly that record (Gone otherwise, and nothing is
    // deleted), and with it every other alarm of that entry whose lock it
    // can take; adds the alarms deleted to `deleted`.
    Result deleteOrphanAlarm(const QString& key, const AlarmRecord& alarm, int* deleted = nullptr);

private:
    // Deletes an alarm whose entry is gone, and tells the trail.
    void removeOrphan(const QString& key, const AlarmRecord& alarm);
    void createAlarms(const DayEntryRecord& entry, AlarmRecord& alarm, const QString& entryKey);
    // A new entry's alarms, all or none; none takes the entry back.
    void createNewAlarms(const DayEntryRecord& entry, AlarmRecord& alarm, const QString& entryKey);
    // Stores a new entry's details; a failure takes the entry back as a
    // failure of its alarms does.
    void storeNewDetails(const QString& entryKey, const DayEntryRecord& entry, const TEntryDetails& details);
    // As storeNewDetails, for the bookings `claim` checked.
    void storeNewBookings(const QString& entryKey, const DayEntryRecord& entry, TBookingWriter& bookings,
                          TBookingWriter::TClaim& claim);
    // Removes a new entry whose alarms failed with `failure`; when that fails
    // too, throws `failure`'s message ending with KeptWithoutAlarms.
    void takeBackNewEntry(const QString& entryKey, const DayEntryRecord& entry, const EQuorla& failure);
    // Locks every alarm of the entry (only those `needed` picks, when given)
    // that still belongs to it under its lock, read then into
    // lockedAlarms_; AlarmLocked releases what it took and tells whose alarm
    // was refused.
    Result lockAlarms(const QString& entryKey, std::vector<TRecordLock>& locked,
                      const std::function<bool(const AlarmRecord&)>& needed = {});
    // Of the locked alarms, deletes those of users no longer `assigned`.
    void removeUnassignedAlarms(const std::vector<TRecordLock>& locked, const QStringList& assigned);
    // Adds `alarm` (its time and flags) for each user of `assigned` not in
    // `assignedBefore` who has no alarm on the entry `key` yet.
    void addNewlyAssignedAlarms(const QString& key, AlarmRecord& alarm, const QStringList& assigned,
                                const QStringList& assignedBefore);
    // Deletes the locked alarms, then the entry, keeping them in the bin.
    void removeWithAlarms(const QString& key, const DayEntryRecord& entry, const std::vector<TRecordLock>& alarms);
    // With the bin: its item, the alarms, the entry, and its details and
    // bookings the bin read, written together (on a server one exchange).
    void removeAlongBin(TBin& bin, const QStringList& details, const QStringList& bookings, const QString& key,
                        const DayEntryRecord& entry, const std::vector<TRecordLock>& alarms);
    // The removals of the records `keys`.
    static QList<TXIsamFile::TBatchWrite> removals(const QStringList& keys);
    // Takes the alarm's lock and re-reads it: Done with the lock held when the
    // key still holds `alarm`'s user and entry.
    Result lockSameAlarm(const QString& key, const AlarmRecord& alarm, AlarmRecord& stored,
                         std::optional<TRecordLock>& lock);

    // Reads the entry's earliest alarm into `alarm`; false, leaving `alarm`
    // as it was, when the entry has none. The earliest is the entry's alarm
    // time: a snooze only ever moves one user's alarm on from when it rang.
    bool earliestAlarm(const QString& entryKey, AlarmRecord& alarm);
    // The entry's alarm time as stored now, for the trail.
    std::optional<QString> alarmTime(const QString& entryKey);
    void record(TChangeTrail::Action action, TXIsamFile& dataset, const QString& key, const QString& entryKey,
                const QString& summary);

    TQuorlaDB& database_;
    TRecordWriter writer_;
    QString lockHolder_;
    QString lockedAlarmUser_;
    QList<std::pair<QString, AlarmRecord>> lockedAlarms_;
};
