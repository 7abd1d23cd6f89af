#pragma once

// Helpers of the CalDAV tests.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TEventWriter.h"
#include "TResourceWriter.h"
#include "TQuorlaDB.h"

#include <QDateTime>

// An entry of `owner`'s at `start` ("yyyy-MM-ddThh:mm:ss", UTC) written as a
// workstation writes it; with `also` assigned too, both have an alarm at the
// start. Lasting `minutes` (0: no end), booking `resources`. Answers its key.
inline QString addEntry(TQuorlaDB& db, const QString& owner, const QString& text, qint32 flags, const QString& start,
                        const QString& also = {}, int minutes = 0, const QStringList& resources = {})
{
    DayEntryRecord entry;
    db.InitDayEntryRecord(entry);
    entry.setOwnerKey(owner);
    entry.setAssigneeKeys(also.isEmpty() ? QStringList{owner} : QStringList{owner, also});
    entry.setDescription(text);
    entry.setFlags(flags);
    const QDateTime wall = QDateTime::fromString(start, Qt::ISODate);
    entry.setStartTime(RecordKey::format(QDateTime(wall.date(), wall.time(), Qt::UTC).toSecsSinceEpoch()));
    AlarmRecord alarm;
    db.InitAlarmRecord(alarm);
    if (!also.isEmpty()) {
        alarm.setFlags(AlarmRecord::AlarmWanted);
        alarm.setAlarmTime(entry.StartTime());
    }
    TEntryDetails details;
    details.durationSeconds = minutes * 60;
    return TEventWriter(db).insertEntryWithAlarms(entry, alarm, {}, details, resources);
}

// A resource named `name`; answers its key.
inline QString addResource(TQuorlaDB& db, const QString& name, const QString& description,
                           TResourceStore::Kind kind = TResourceStore::Kind::Unset)
{
    TResourceStore::TResource resource{{}, name, description, true, kind};
    return TResourceWriter(db).Add(resource) == TResourceWriter::Result::Done ? resource.key : QString();
}
