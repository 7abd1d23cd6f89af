#include "TUserRemoval.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TChangeSummary.h"
#include "TChangeTrail.h"
#include "TEventWriter.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TCommandScope.h"
#include "TRecordLock.h"
#include "TSeriesWriter.h"
#include "TServerRoles.h"
#include "TXIsamFile.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QStringList>

#include <algorithm>

const QString TUserRemoval::Locked = QStringLiteral("Unable to complete deletion. Another user has locked the database");

TUserRemoval::TUserRemoval(TQuorlaDB& database, const QString& userKey, const TChoices& choices)
    : OnWrite(writer_.OnWrite), database_(database), userKey_(userKey), choices_(choices)
{
}

TUserRemoval::Action TUserRemoval::rework(DayEntryRecord& entry, TSummary& summary) const
{
    Action action = Action::Keep;
    const bool owned = entry.OwnerKey() == userKey_;
    if (owned) {
        if (choices_.deleteOwned) {
            ++summary.deleted;
            return Action::Delete;
        }
        entry.setOwnerKey(choices_.newOwner);
        ++summary.transferred;
        action = Action::Write;
    }
    bool assigned = false;
    // Every slot that names him empties (a slot named twice would otherwise
    // keep pointing at a user who is gone); the others keep their positions.
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
        if (entry.Assignee(slot) == userKey_) {
            entry.setAssignee(slot, QString(RecordKey::None));
            assigned = true;
        }
    }
    if (!assigned)
        return action;
    if (!entry.AssigneeKeys().isEmpty()) {
        ++summary.unassigned;
        return Action::Write;
    }
    if (choices_.deleteAssigned) {
        // Counted once, whether it was also his own.
        summary.transferred -= owned ? 1 : 0;
        ++summary.deleted;
        return Action::Delete;
    }
    entry.setAssignee(0, choices_.newAssignee);
    ++summary.reassigned;
    return Action::Write;
}

void TUserRemoval::pass(bool write, TSummary& summary)
{
    TXIsamFile& entries = database_.DayEntries();
    const qint32 count = entries.RecordCount();
    if (count < 0)
        throw EQuorla(entries.ErrorText());
    qint64 total = count;
    qint64 done = 0;
    TEventWriter events(database_);
    events.OnWrite = writer_.OnWrite;
    DayEntryRecord entry;
    if (!entries.Rewind(TXIsamFile::PrimaryIndex))
        throw EQuorla(entries.ErrorText());
    while (TLookup::Next(entries, entry.bytes(), TXIsamFile::PrimaryIndex, QString(), TXIsamFile::ScanNext)) {
        const QString key = entries.CurrentKey();
        seen_.insert(RecordKey::parse(key));
        total = std::max(total, ++done);
        TSummary scanned;
        DayEntryRecord reworked = entry;
        const Action seen = rework(reworked, write ? scanned : summary);
        if (OnProgress)
            OnProgress(done, total);
        if (write && seen != Action::Keep)
            reworkLocked(key, events, summary);
    }
}

void TUserRemoval::reworkLocked(const QString& key, TEventWriter& events, TSummary& summary)
{
    TXIsamFile& entries = database_.DayEntries();
    DayEntryRecord entry;
    // What counts is the entry under the lock: another workstation may
    // have changed or deleted it since the scan read it. The look-up also
    // puts the scan's position on this key, so the pass goes on after it.
    const TRecordLock lock(entries, key, Locked, &database_.Holders());
    if (!TLookup::Equal(entries, entry.bytes(), TXIsamFile::PrimaryIndex, key))
        return;
    TSummary made;
    DayEntryRecord reworked = entry;
    const Action action = rework(reworked, made);
    if (action == Action::Keep)
        return;
    const std::vector<TRecordLock> his = action == Action::Write ? lockAlarmsOf(key) : std::vector<TRecordLock>();
    // The change and its trail record as one.
    const TCommandScope command(database_);
    if (action == Action::Write) {
        // His alarms of the entry go with his place on it, never after:
        // a removal cut short (a lost session) would leave them on an
        // entry he no longer has, where on a server its owner's writer
        // cannot read them, and assigning him again would give him a
        // second alarm.
        summary.alarms += removeAlarms(his, key);
        writer_.update(entries, key, reworked.bytes());
        record(TChangeTrail::Action::EventChangedByRemoval, entries, key, TChangeTrail::EntrySubject(key),
               TChangeSummary(database_).EntryChanged(entry, std::nullopt, reworked, std::nullopt));
    } else {
        // Every alarm of the entry goes with it, whoever it belongs to:
        // an alarm left behind would point at nothing.
        const QString words = TChangeSummary(database_).Entry(entry, std::nullopt);
        if (events.deleteLockedEntryWithAlarms(key, entry, &summary.alarms) != TEventWriter::Result::Done)
            throw EQuorla(Locked);
        record(TChangeTrail::Action::EventDeletedByRemoval, entries, key, TChangeTrail::EntrySubject(key), words);
    }
    summary.transferred += made.transferred;
    summary.reassigned += made.reassigned;
    summary.unassigned += made.unassigned;
    summary.deleted += made.deleted;
}

std::vector<TRecordLock> TUserRemoval::lockAlarmsOf(const QString& entryKey)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord alarm;
    QStringList found;
    for (bool more = TLookup::Equal(alarms, alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey); more;
         more = TLookup::Next(alarms, alarm.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, TXIsamFile::ScanPrefix))
        if (alarm.UserKey() == userKey_)
            found << alarms.CurrentKey();
    std::vector<TRecordLock> locks;
    for (const QString& key : found)
        locks.emplace_back(alarms, key, Locked);
    return locks;
}

int TUserRemoval::removeAlarms(const std::vector<TRecordLock>& locks, const QString& entryKey)
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord alarm;
    int removed = 0;
    for (const TRecordLock& lock : locks) {
        // Found before its lock: it may have been switched off meanwhile.
        if (!TLookup::Equal(alarms, alarm.bytes(), TXIsamFile::PrimaryIndex, lock.Key()) || alarm.UserKey() != userKey_
            || alarm.DayEntryKey() != entryKey)
            continue;
        writer_.remove(alarms, lock.Key(), alarm.bytes());
        ++removed;
    }
    return removed;
}

int TUserRemoval::deleteUsersAlarms()
{
    TXIsamFile& alarms = database_.Alarms();
    int deleted = 0;
    // Rounds until none of his alarms is left: alarms made for him elsewhere
    // while a round runs are found by the next. A round that deletes nothing
    // ends it (what it found vanished or is not his).
    for (;;) {
        AlarmRecord alarm;
        QStringList found;
        // An alarm's index value is his key followed by its time, so the
        // look-up only positions before his first alarm.
        const auto next = [&] {
            return TLookup::Next(alarms, alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey_, TXIsamFile::ScanPrefix);
        };
        for (bool more = TLookup::Equal(alarms, alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey_) || next(); more;
             more = next())
            found << alarms.CurrentKey();
        int round = 0;
        for (const QString& key : found) {
            const TRecordLock lock(alarms, key, Locked);
            if (!TLookup::Equal(alarms, alarm.bytes(), TXIsamFile::PrimaryIndex, key) || alarm.UserKey() != userKey_)
                continue;
            writer_.remove(alarms, key, alarm.bytes());
            ++round;
        }
        deleted += round;
        if (round == 0)
            return deleted;
    }
}

int TUserRemoval::deleteOrphanAlarms()
{
    TXIsamFile& alarms = database_.Alarms();
    AlarmRecord alarm;
    QStringList found;
    TLookup::Each(alarms, alarm.bytes(), [&](const QString& key) {
        if (!seen_.contains(RecordKey::parse(alarm.DayEntryKey())))
            found << key;
    });
    int deleted = 0;
    DayEntryRecord entry;
    for (const QString& key : found) {
        // Its entry may have been added since the pass saw the entries; one
        // whose lock is held elsewhere is left to its user's alarm poll.
        const TRecordLock lock(alarms, key);
        if (!lock.Held() || !TLookup::Equal(alarms, alarm.bytes(), TXIsamFile::PrimaryIndex, key)
            || TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, alarm.DayEntryKey()))
            continue;
        writer_.remove(alarms, key, alarm.bytes());
        ++deleted;
    }
    return deleted;
}

TUserRemoval::TSummary TUserRemoval::run()
{
    TSummary summary;
    seen_.clear();
    // Repeating events first, by the same choices as his entries: a series
    // that goes takes its occurrences with it; the others' templates lose
    // him as their occurrences do in the pass below.
    TSeriesWriter series(database_);
    series.OnWrite = writer_.OnWrite;
    summary.deleted += series.ReworkTemplates(
        [this](SeriesRecord& s) {
            DayEntryRecord shape;
            shape.initialise();
            shape.setOwnerKey(s.OwnerKey());
            shape.setAssigneeKeys(s.AssigneeKeys());
            TSummary ignored;
            const Action action = rework(shape, ignored);
            s.setOwnerKey(shape.OwnerKey());
            s.setAssigneeKeys(shape.AssigneeKeys());
            return action == Action::Delete  ? TSeriesWriter::TemplateAction::Delete
                : action == Action::Write    ? TSeriesWriter::TemplateAction::Write
                                             : TSeriesWriter::TemplateAction::Keep;
        },
        Locked, QStringLiteral("changed by a user's removal"));
    pass(true, summary);
    summary.alarms += deleteUsersAlarms();
    // Alarms whose entry went before this program deleted alarms with their
    // entries (or with another program) go too: such an alarm would only
    // ever tell its user that its event cannot be found. None of them is
    // his (his own went above): they are counted apart.
    summary.strays = deleteOrphanAlarms();
    TXIsamFile& users = database_.Users();
    const TRecordLock lock(users, userKey_, Locked, &database_.Holders());
    UserRecord user;
    const bool found = TLookup::Equal(users, user.bytes(), TXIsamFile::PrimaryIndex, userKey_);
    // His server role goes with his record, in the command's transaction.
    TServerRoles roles(database_);
    const bool kept = roles.Kept();
    const TCommandScope command(database_);
    writer_.remove(users, userKey_, found ? user.bytes() : std::span<const char>());
    if (found && kept)
        roles.Drop(user.UserName());
    record(TChangeTrail::Action::UserRemoved, users, userKey_, TChangeTrail::UserSubject(userKey_),
           TChangeSummary::Join({TChangeSummary(database_).User(user),
                                 QStringLiteral("%1 events transferred, %2 reassigned, %3 unassigned, %4 deleted, "
                                                "%5 alarms deleted")
                                     .arg(summary.transferred)
                                     .arg(summary.reassigned)
                                     .arg(summary.unassigned)
                                     .arg(summary.deleted)
                                     .arg(summary.alarms + summary.strays)},
                                TrailRecord::SummaryCapacity));
    return summary;
}

void TUserRemoval::record(TChangeTrail::Action action, TXIsamFile& dataset, const QString& key,
                          const QString& subject, const QString& summary)
{
    database_.Trail().Record({action, &dataset, key, subject, summary});
}

TUserRemoval::TSummary TUserRemoval::survey()
{
    TSummary summary;
    pass(false, summary);
    return summary;
}
