#include "TEntryVisibility.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "SeriesRecord.h"
#include "TFilterRules.h"
#include "UserRecord.h"

bool EntryVisible(const TFilterRules& rules, const UserRecord& currentUser, const QString& currentUserKey,
                  const DayEntryRecord& entry)
{
    if (!rules.Accepts(currentUserKey, entry))
        return false;
    if ((entry.Flags() & DayEntryRecord::Private) == 0)
        return true;
    if ((currentUser.Rights() & UserRecord::CanAdminister) != 0)
        return true;
    // An empty slot never matches, even for a caller whose key text is empty.
    if (RecordKey::isNone(currentUserKey))
        return false;
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
        if (entry.Assignee(slot) == currentUserKey)
            return true;
    }
    return false;
}

bool SeriesVisible(const UserRecord& currentUser, const QString& currentUserKey, const SeriesRecord& series)
{
    if ((series.Flags() & SeriesRecord::Private) == 0 || (currentUser.Rights() & UserRecord::CanAdminister) != 0)
        return true;
    return !RecordKey::isNone(currentUserKey) && series.AssigneeKeys().contains(currentUserKey);
}
