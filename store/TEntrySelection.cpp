#include "TEntrySelection.h"

#include "DayEntryRecord.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
#include "TStamp.h"
#include "TXIsamFile.h"

namespace {

QString keyOf(const QDate& date, qint32 plusSeconds)
{
    TStamp stamp;
    stamp.SetDateTime(date.year(), date.month(), date.day(), 0, 0, 0);
    stamp.Increment(TStamp::IncSeconds, plusSeconds);
    return stamp.Key();
}

} // namespace

QString TEntrySelection::FirstKey() const
{
    return keyOf(StartDate, 0);
}

QString TEntrySelection::LastKey() const
{
    return keyOf(EndDate, 86399);
}

void TEntrySelection::Read(TXIsamFile& dayEntries, const TEntryQuery::TTake& take) const
{
    TFilterRules rules;
    if (!Users.isEmpty()) {
        rules.Mode = TFilterRules::ShowChosen;
        for (const User& user : Users)
            rules.Add(user.Key);
    }
    TEntryQuery::Read(dayEntries, FirstKey(), LastKey(), [&](const DayEntryRecord& entry, const QString& key) {
        if (!EntryVisible(rules, CurrentUser, CurrentUserKey, entry))
            return;
        if (RestrictCategory && entry.CategoryKey() != CategoryKey)
            return;
        take(entry, key);
    });
}
