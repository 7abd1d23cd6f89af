#include "TFilterRules.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"

#include <QStringList>

#include <algorithm>

void TFilterRules::Add(const QString& key)
{
    users_.insert(key);
}

bool TFilterRules::Contains(const QString& key) const
{
    return users_.contains(key);
}

void TFilterRules::Clear()
{
    users_.clear();
}

QStringList TFilterRules::Users() const
{
    QStringList list(users_.begin(), users_.end());
    std::sort(list.begin(), list.end());
    return list;
}

bool TFilterRules::Accepts(const QString& currentUserKey, const DayEntryRecord& entry) const
{
    switch (Mode) {
    case ShowAll:
    case ShowResource:
        return true;
    case ShowMine:
    case ShowChosen:
        for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
            const QString assignee = entry.Assignee(slot);
            // An empty slot ("0000000000") is nobody, even if a caller put
            // that text among the chosen users.
            if (RecordKey::isNone(assignee))
                continue;
            if (Mode == ShowMine ? assignee == currentUserKey : users_.contains(assignee))
                return true;
        }
        return false;
    default:
        return false;
    }
}
