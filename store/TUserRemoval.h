#pragma once

#include "TChangeTrail.h"
#include "TRecordLock.h"
#include "TRecordWriter.h"

#include <QSet>
#include <QString>

#include <functional>
#include <vector>

class DayEntryRecord;
class TEventWriter;
class TQuorlaDB;

// Removes a user without leaving anything that points at him: the templates
// of repeating events first, by the same choices as his entries (a series
// deleted goes with all its occurrences: TSeriesWriter::ReworkTemplates);
// then one pass over
// the day entries deals with the entries he owns (deleted, or transferred to
// another user) and those assigned to him (his slot emptied; an entry that was
// his alone deleted or given to another user), every alarm of each deleted
// entry goes with it (whoever it belongs to), his alarms of an entry he
// leaves go with that change, then his own alarms left, then his record. Every change is made under the record's lock and on the record as it
// is under the lock. Before his record goes, alarms left behind by entries
// deleted long ago are deleted too: after a pass no alarm points at nothing.
//
// A lock held elsewhere stops the pass with EQuorla(Locked); any other failure
// with the dataset's error text. What was done before stays done, the user is
// still there, and running the pass again finishes the rest: the records
// already handled no longer refer to him.
class TUserRemoval
{
public:
    struct TChoices
    {
        // Entries he owns: deleted, or transferred to `newOwner`.
        bool deleteOwned = false;
        QString newOwner;
        // Entries assigned to him alone: deleted, or assigned to `newAssignee`.
        bool deleteAssigned = false;
        QString newAssignee;
    };

    // What a pass does (or would do).
    struct TSummary
    {
        int transferred = 0;  // entries given to the new owner
        int reassigned = 0;   // entries of his alone given to the new assignee
        int unassigned = 0;   // entries that keep other assignees and lose him
        int deleted = 0;      // entries deleted
        int alarms = 0;       // alarms deleted: his own and those of deleted entries
        int strays = 0;       // others' alarms left behind by entries gone before
    };

    using TWrite = TRecordWriter::TWrite;

    static const QString Locked;

    TUserRemoval(TQuorlaDB& database, const QString& userKey, const TChoices& choices);

    // Told of every write (observers only).
    std::function<void(const TWrite&)>& OnWrite;

    // Told after each entry of the pass: entries seen so far and the total,
    // which grows when entries are added elsewhere during the pass.
    std::function<void(qint64 done, qint64 total)> OnProgress;

    // Runs the pass and removes the user.
    TSummary run();

    // What run() would do now, read only (his own alarms are not counted).
    TSummary survey();

private:
    enum class Action { Keep, Write, Delete };
    // Applies the choices to one entry in memory and says what to store.
    Action rework(DayEntryRecord& entry, TSummary& summary) const;
    void pass(bool write, TSummary& summary);
    // Reworks entry `key` again under its lock, as it is stored then, and
    // stores the outcome with its trail record.
    void reworkLocked(const QString& key, TEventWriter& events, TSummary& summary);
    // His alarms of entry `entryKey`, each locked (EQuorla(Locked) when one
    // is held elsewhere).
    std::vector<TRecordLock> lockAlarmsOf(const QString& entryKey);
    // Removes those of `locks` that are still his alarms of `entryKey`;
    // answers how many.
    int removeAlarms(const std::vector<TRecordLock>& locks, const QString& entryKey);
    int deleteUsersAlarms();
    // Deletes every alarm whose entry is gone (not among the entries the pass
    // saw, and not there under the alarm's lock).
    int deleteOrphanAlarms();
    void record(TChangeTrail::Action action, class TXIsamFile& dataset, const QString& key, const QString& subject,
                const QString& summary);

    TQuorlaDB& database_;
    QString userKey_;
    TChoices choices_;
    TRecordWriter writer_;
    // The keys of the entries the last pass met.
    QSet<qint64> seen_;
};
