#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class AlarmRecord;
class DayEntryRecord;
class TQuorlaDB;
class TXIsamFile;

// The record-level work of the event commands and of the alarm pop-up, without
// any dialog: what New event, Event properties, Delete event, Snooze and Off
// write, and under which locks. The commands and the pop-up call these, and so
// does the reliability check, which runs them from several processes at once.
//
// An entry with an alarm has one alarm record per assignee. Existing records
// change only under their record locks, and a record found before its lock was
// taken is read again under the lock: an alarm that vanished or whose key now
// holds another alarm is left alone, never overwritten or deleted. Data-store
// failures raise EQuorla with the dataset's error text; every lock taken here is
// released on every way out.
class TEventWriter
{
public:
    enum class Result {
        Done,
        // Another holder has the record's lock; nothing was written.
        EntryLocked,
        AlarmLocked,
        // The alarm is no longer stored under its key; nothing was written.
        Gone
    };

    // One write, reported before it is made (`made` false; an insert's key is
    // not known yet) and after it succeeded (`made` true). A delete carries the
    // deleted record where it was read under the lock, else no bytes.
    struct TWrite
    {
        enum Kind { Insert, Update, Delete };
        Kind kind;
        bool made;
        const TXIsamFile* dataset;
        QString key;
        QByteArray bytes;
        // Reported after a write that failed and is tried again differently.
        bool failed = false;
    };

    explicit TEventWriter(TQuorlaDB& database);

    // Told of every write (observers only: the reliability check's log).
    std::function<void(const TWrite&)> OnWrite;

    // New event: inserts the entry under the next key and, when the alarm is
    // wanted, one alarm per assignee. Returns the entry's key.
    QString insertEntryWithAlarms(const DayEntryRecord& entry, AlarmRecord& alarm);

    // Event properties, with the entry's lock held by the caller: locks every
    // alarm of the entry before anything is written (AlarmLocked: nothing
    // changed), deletes them, rewrites the entry, and gives it one alarm per
    // current assignee when the alarm is wanted (earlier snoozes go), or none.
    Result updateEntryReplacingAlarms(const QString& key, const DayEntryRecord& entry, AlarmRecord& alarm);

    // Delete event: locks the entry, then every alarm of it, then deletes the
    // alarms and the entry. A lock held elsewhere leaves everything as it was.
    Result deleteEntryWithAlarms(const QString& key);

    // Snooze: under the alarm's lock, re-reads it; when it is still the same
    // user's alarm of the same entry, moves it to `alarmTime`. `alarm` takes
    // the stored record only on Done.
    Result snoozeAlarm(const QString& key, AlarmRecord& alarm, const QString& alarmTime);

    // Off: under the alarm's lock, deletes it when it is still the same user's
    // alarm of the same entry.
    Result switchOffAlarm(const QString& key, const AlarmRecord& alarm);

    // Whether the alarm's entry exists; the pop-up shows it or cleans up.
    bool entryExists(const AlarmRecord& alarm, DayEntryRecord& entry);

    // The pop-up's clean-up of an alarm whose entry is missing: deletes it when
    // its key still holds exactly that record.
    Result deleteOrphanAlarm(const QString& key, const AlarmRecord& alarm);

private:
    void insert(TXIsamFile& dataset, const QByteArray& bytes, QString* key = nullptr);
    void update(TXIsamFile& dataset, const QString& key, const QByteArray& bytes);
    // Deletes the record; one already gone counts as deleted. `was` is what
    // the record held, where known, for OnWrite.
    void remove(TXIsamFile& dataset, const QString& key, const QByteArray& was = QByteArray());
    void tell(TWrite::Kind kind, bool made, const TXIsamFile& dataset, const QString& key, const QByteArray& bytes);
    void createAlarms(const DayEntryRecord& entry, AlarmRecord& alarm, const QString& entryKey);
    // Locks every alarm of the entry that still belongs to it under its lock;
    // on AlarmLocked releases what it took.
    Result lockAlarms(const QString& entryKey, QStringList& locked);
    void unlockAlarms(QStringList& locked);
    // Takes the alarm's lock and re-reads it: Done with the lock held when the
    // key still holds `alarm`'s user and entry.
    Result lockSameAlarm(const QString& key, const AlarmRecord& alarm, AlarmRecord& stored);

    TQuorlaDB& database_;
};
