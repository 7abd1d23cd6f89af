#include "TEntrySelection.h"

#include "DayEntryRecord.h"
#include "TBookingStore.h"
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

TFilterRules TEntrySelection::rules() const
{
    TFilterRules rules;
    if (!Users.isEmpty()) {
        rules.Mode = TFilterRules::ShowChosen;
        for (const User& user : Users)
            rules.Add(user.Key);
    }
    return rules;
}

bool TEntrySelection::takes(const TFilterRules& rules, const DayEntryRecord& entry) const
{
    return EntryVisible(rules, CurrentUser, CurrentUserKey, entry)
        && (!RestrictCategory || entry.CategoryKey() == CategoryKey);
}

bool TEntrySelection::Takes(const DayEntryRecord& entry) const
{
    return takes(rules(), entry);
}

void TEntrySelection::ReadBookings(TQuorlaDB& database)
{
    BookedEntries.clear();
    if (!RestrictResource)
        return;
    for (const TBookingStore::TBooking& booking :
         TBookingStore(database).OfResource(ResourceKey, FirstKey(), keyOf(EndDate, 86400)))
        BookedEntries.insert(booking.entry);
}

void TEntrySelection::Read(TXIsamFile& dayEntries, const TEntryQuery::TTake& take) const
{
    const TFilterRules chosen = rules();
    TEntryQuery::Read(dayEntries, FirstKey(), LastKey(), [&](const DayEntryRecord& entry, const QString& key) {
        if (takes(chosen, entry) && (!RestrictResource || BookedEntries.contains(key)))
            take(entry, key);
    });
}
