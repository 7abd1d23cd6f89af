#include "TEventWriter.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"

#include <QScopeGuard>
#include <QThread>

namespace {

constexpr qint16 PrimaryIndex = 0;
constexpr qint16 AlarmDayEntryIndex = 3;
// Keys tried by a new entry while other workstations insert entries too.
constexpr int NewKeyAttempts = 200;

QByteArray bytesOf(std::span<const char> record)
{
    return QByteArray(record.data(), qsizetype(record.size()));
}

} // namespace

TEventWriter::TEventWriter(TQuorlaDB& database)
    : database_(database)
{
}

void TEventWriter::tell(TWrite::Kind kind, bool made, const TXIsamFile& dataset, const QString& key,
                        const QByteArray& bytes)
{
    if (OnWrite)
        OnWrite(TWrite{kind, made, &dataset, key, bytes});
}

void TEventWriter::insert(TXIsamFile& dataset, const QByteArray& bytes, QString* key)
{
    tell(TWrite::Insert, false, dataset, QString(), bytes);
    if (!dataset.Insert(std::span<const char>(bytes.constData(), std::size_t(bytes.size()))))
        throw EQuorla(dataset.ErrorText());
    tell(TWrite::Insert, true, dataset, dataset.CurrentKey(), bytes);
    if (key)
        *key = dataset.CurrentKey();
}

void TEventWriter::update(TXIsamFile& dataset, const QString& key, const QByteArray& bytes)
{
    tell(TWrite::Update, false, dataset, key, bytes);
    if (!dataset.Update(std::span<const char>(bytes.constData(), std::size_t(bytes.size())), key))
        throw EQuorla(dataset.ErrorText());
    tell(TWrite::Update, true, dataset, key, bytes);
}

void TEventWriter::remove(TXIsamFile& dataset, const QString& key, const QByteArray& was)
{
    tell(TWrite::Delete, false, dataset, key, was);
    if (!dataset.Delete(key) && dataset.LastError() != IsamNotFound)
        throw EQuorla(dataset.ErrorText());
    tell(TWrite::Delete, true, dataset, key, was);
}

void TEventWriter::createAlarms(const DayEntryRecord& entry, AlarmRecord& alarm, const QString& entryKey)
{
    TXIsamFile& alarms = database_.Alarms();
    alarm.setDayEntryKey(entryKey);
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
        const QString user = entry.Assignee(slot);
        if (RecordKey::isNone(user))
            continue;
        alarm.setUserKey(user);
        alarm.rebuildUserAlarmKey();
        insert(alarms, bytesOf(alarm.bytes()));
    }
}

QString TEventWriter::insertEntryWithAlarms(const DayEntryRecord& entry, AlarmRecord& alarm)
{
    // The new entry is locked from before its insert until its alarms are all
    // there: otherwise another workstation could delete it in between, and
    // the alarms inserted after that would be left over - and belong to the
    // next entry that takes the freed key.
    TXIsamFile& entries = database_.DayEntries();
    const QByteArray bytes = bytesOf(entry.bytes());
    QString key;
    for (int attempt = 0; key.isEmpty(); ++attempt) {
        const QString next = entries.NextKey();
        if (next.isEmpty())
            throw EQuorla(entries.ErrorText());
        // Locked: another workstation is inserting under that key right now.
        if (!entries.Lock(next)) {
            if (attempt >= NewKeyAttempts)
                throw EQuorla(entries.ErrorText());
            QThread::usleep(1000);
            continue;
        }
        tell(TWrite::Insert, false, entries, next, bytes);
        if (entries.Insert(entry.bytes(), next)) {
            key = next;
            break;
        }
        const qint16 code = entries.LastError();
        const QString error = entries.ErrorText();
        entries.Unlock(next);
        if (OnWrite)
            OnWrite(TWrite{TWrite::Insert, false, &entries, next, bytes, true});
        // Taken meanwhile by an insert that took no lock (the category and
        // user dialogs never lock new records): try the key after it.
        if (code != IsamUpdateMode || attempt >= NewKeyAttempts)
            throw EQuorla(error);
    }
    const auto unlock = qScopeGuard([&] { entries.Unlock(key); });
    tell(TWrite::Insert, true, entries, key, bytes);
    if (alarm.Flags() & AlarmRecord::AlarmWanted)
        createAlarms(entry, alarm, key);
    return key;
}

TEventWriter::Result TEventWriter::lockAlarms(const QString& entryKey, QStringList& locked)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord scan;
    QStringList found;
    for (bool more = alarms.GetEqual(scan.bytes(), AlarmDayEntryIndex, entryKey); more;
         more = alarms.Get(scan.bytes(), AlarmDayEntryIndex, entryKey, TXIsamFile::ScanPrefix))
        found << alarms.CurrentKey();
    for (const QString& key : found) {
        if (!alarms.Lock(key)) {
            unlockAlarms(locked);
            return Result::AlarmLocked;
        }
        // Found before its lock: it may have been switched off meanwhile, and
        // its key taken by another entry's new alarm.
        if (!alarms.GetEqual(scan.bytes(), PrimaryIndex, key) || scan.DayEntryKey() != entryKey) {
            alarms.Unlock(key);
            continue;
        }
        locked << key;
    }
    return Result::Done;
}

void TEventWriter::unlockAlarms(QStringList& locked)
{
    TXIsamFile& alarms = database_.Alarms();
    for (const QString& key : locked)
        alarms.Unlock(key);
    locked.clear();
}

TEventWriter::Result TEventWriter::updateEntryReplacingAlarms(const QString& key, const DayEntryRecord& entry,
                                                              AlarmRecord& alarm)
{
    QStringList locked;
    const auto unlock = qScopeGuard([&] { unlockAlarms(locked); });
    if (lockAlarms(key, locked) != Result::Done)
        return Result::AlarmLocked;
    // The old alarms go before the entry changes: a command cut short at any
    // point (a crash) leaves the entry with fewer alarms, never with alarms
    // of users it no longer has.
    for (const QString& alarmKey : locked)
        remove(database_.Alarms(), alarmKey);
    update(database_.DayEntries(), key, bytesOf(entry.bytes()));
    if (alarm.Flags() & AlarmRecord::AlarmWanted)
        createAlarms(entry, alarm, key);
    return Result::Done;
}

TEventWriter::Result TEventWriter::deleteEntryWithAlarms(const QString& key)
{
    TXIsamFile& entries = database_.DayEntries();
    // The entry's lock comes before its alarms, so an entry open elsewhere
    // keeps its alarms.
    if (!entries.Lock(key))
        return Result::EntryLocked;
    const auto unlockEntry = qScopeGuard([&] { entries.Unlock(key); });
    QStringList locked;
    const auto unlock = qScopeGuard([&] { unlockAlarms(locked); });
    if (lockAlarms(key, locked) != Result::Done)
        return Result::AlarmLocked;
    for (const QString& alarmKey : locked)
        remove(database_.Alarms(), alarmKey);
    remove(entries, key);
    return Result::Done;
}

TEventWriter::Result TEventWriter::lockSameAlarm(const QString& key, const AlarmRecord& alarm, AlarmRecord& stored)
{
    TXIsamFile& alarms = database_.Alarms();
    if (!alarms.Lock(key))
        return Result::AlarmLocked;
    if (alarms.GetEqual(stored.bytes(), PrimaryIndex, key) && stored.UserKey() == alarm.UserKey()
        && stored.DayEntryKey() == alarm.DayEntryKey())
        return Result::Done;
    const qint16 code = alarms.LastError();
    const QString error = alarms.ErrorText();
    alarms.Unlock(key);
    if (code != IsamOk && code != IsamNotFound)
        throw EQuorla(error);
    return Result::Gone;
}

TEventWriter::Result TEventWriter::snoozeAlarm(const QString& key, AlarmRecord& alarm, const QString& alarmTime)
{
    AlarmRecord snoozed;
    const Result locked = lockSameAlarm(key, alarm, snoozed);
    if (locked != Result::Done)
        return locked;
    TXIsamFile& alarms = database_.Alarms();
    const auto unlock = qScopeGuard([&] { alarms.Unlock(key); });
    snoozed.setAlarmTime(alarmTime);
    snoozed.rebuildUserAlarmKey();
    update(alarms, key, bytesOf(snoozed.bytes()));
    alarm = snoozed;
    return Result::Done;
}

TEventWriter::Result TEventWriter::switchOffAlarm(const QString& key, const AlarmRecord& alarm)
{
    AlarmRecord stored;
    const Result locked = lockSameAlarm(key, alarm, stored);
    if (locked != Result::Done)
        return locked;
    TXIsamFile& alarms = database_.Alarms();
    const auto unlock = qScopeGuard([&] { alarms.Unlock(key); });
    remove(alarms, key, bytesOf(stored.bytes()));
    return Result::Done;
}

bool TEventWriter::entryExists(const AlarmRecord& alarm, DayEntryRecord& entry)
{
    return database_.DayEntries().GetEqual(entry.bytes(), PrimaryIndex, alarm.DayEntryKey());
}

TEventWriter::Result TEventWriter::deleteOrphanAlarm(const QString& key, const AlarmRecord& alarm)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord stored;
    // Deleted without its lock, as the pop-up always has. The key is read again
    // so that an alarm stored meanwhile under it is not the one deleted.
    if (!alarms.GetEqual(stored.bytes(), PrimaryIndex, key) || bytesOf(stored.bytes()) != bytesOf(alarm.bytes())) {
        if (alarms.LastError() != IsamOk && alarms.LastError() != IsamNotFound)
            throw EQuorla(alarms.ErrorText());
        return Result::Gone;
    }
    remove(alarms, key, bytesOf(stored.bytes()));
    return Result::Done;
}
