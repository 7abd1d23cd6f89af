#include "TTrailVisibility.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "SeriesRecord.h"
#include "TChangeSummary.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <algorithm>

namespace {

using Action = TChangeTrail::Action;

enum class Privacy { Public, Private, Unknown };

bool isAlarm(Action action)
{
    return action == Action::AlarmSnoozed || action == Action::AlarmSwitchedOff;
}

// An entry's record, or a repeating event's: judged by who could see it.
bool isEntry(Action action)
{
    switch (action) {
    case Action::EventAdded:
    case Action::EventChanged:
    case Action::EventDeleted:
    case Action::EventChangedByRemoval:
    case Action::EventDeletedByRemoval:
    case Action::SeriesAdded:
    case Action::SeriesChanged:
    case Action::SeriesDeleted:
        return true;
    default:
        return false;
    }
}

bool added(Action action)
{
    return action == Action::EventAdded || action == Action::SeriesAdded;
}

bool deleted(Action action)
{
    return action == Action::EventDeleted || action == Action::EventDeletedByRemoval
        || action == Action::SeriesDeleted;
}

} // namespace

const QString TTrailVisibility::PrivateText = QStringLiteral("private at the time");

TTrailVisibility::TTrailVisibility(TQuorlaDB& database, const QString& userKey)
    : database_(database), userKey_(userKey)
{
    UserRecord user;
    if (!RecordKey::isNone(userKey)
        && TLookup::Equal(database.Users(), user.bytes(), TXIsamFile::PrimaryIndex, userKey))
        administers_ = (user.Rights() & UserRecord::CanAdminister) != 0;
}

bool TTrailVisibility::listed(const TChangeTrail::TEntry& entry) const
{
    return !isAlarm(entry.action) || administers_ || (!RecordKey::isNone(userKey_) && entry.userKey == userKey_);
}

QList<TChangeTrail::TEntry> TTrailVisibility::shown(const QList<TChangeTrail::TEntry>& history,
                                                    const std::optional<bool>& privateNow) const
{
    QList<TChangeTrail::TEntry> result;
    Privacy after = !privateNow ? Privacy::Unknown : *privateNow ? Privacy::Private : Privacy::Public;
    for (auto it = history.crbegin(); it != history.crend(); ++it) {
        TChangeTrail::TEntry entry = *it;
        if (!listed(entry))
            continue;
        if (!isEntry(entry.action)) {
            result << entry;
            continue;
        }
        const std::optional<QStringList> readers = TChangeSummary::ReadersIn(entry.summary);
        const QStringList parts = entry.summary.split(QStringLiteral("; "));
        // The entry's privacy before this change. A marked summary names a
        // change of privacy right after its mark: without one, the entry was
        // private on both sides.
        Privacy before = readers ? Privacy::Private : after;
        if (parts.contains(QStringLiteral("made public")))
            before = Privacy::Private;
        else if (parts.contains(QStringLiteral("made private")))
            before = Privacy::Public;
        else if (deleted(entry.action) && !readers)
            before = Privacy::Unknown;
        // A deletion leaves nothing after it to be public.
        const bool readable
            = administers_
              || (readers ? !RecordKey::isNone(userKey_) && readers->contains(userKey_)
                          : after == Privacy::Public && (added(entry.action) || before == Privacy::Public));
        entry.summary = readable ? TChangeSummary::Shown(entry.summary) : PrivateText;
        result << entry;
        // Nothing comes before an entry's addition.
        after = added(entry.action) ? Privacy::Unknown : before;
    }
    std::reverse(result.begin(), result.end());
    return result;
}

QList<TChangeTrail::TEntry> TTrailVisibility::EntryHistory(const QString& entryKey)
{
    const QList<TChangeTrail::TEntry> history = database_.Trail().History(TChangeTrail::EntrySubject(entryKey));
    DayEntryRecord entry;
    std::optional<bool> privateNow;
    if (TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, entryKey))
        privateNow = (entry.Flags() & DayEntryRecord::Private) != 0;
    return shown(history, privateNow);
}

QList<TChangeTrail::TEntry> TTrailVisibility::SeriesHistory(const QString& seriesKey)
{
    const QList<TChangeTrail::TEntry> history = database_.Trail().History(TChangeTrail::SeriesSubject(seriesKey));
    SeriesRecord series;
    std::optional<bool> privateNow;
    TXIsamFile* all = database_.Series();
    if (all && TLookup::Equal(*all, series.bytes(), TXIsamFile::PrimaryIndex, seriesKey))
        privateNow = (series.Flags() & SeriesRecord::Private) != 0;
    return shown(history, privateNow);
}

QList<TChangeTrail::TEntry> TTrailVisibility::Page(const QList<TChangeTrail::TEntry>& page)
{
    // An entry's record is judged within its entry's whole history, read once
    // per entry of the page.
    QHash<QString, QHash<QString, QString>> judged;
    QList<TChangeTrail::TEntry> result;
    for (TChangeTrail::TEntry entry : page) {
        if (!listed(entry))
            continue;
        if (!isEntry(entry.action) || administers_) {
            entry.summary = isEntry(entry.action) ? TChangeSummary::Shown(entry.summary) : entry.summary;
            result << entry;
            continue;
        }
        auto found = judged.find(entry.subject);
        if (found == judged.end()) {
            QHash<QString, QString> summaries;
            const QString key = entry.subject.mid(1);
            const bool series = entry.subject == TChangeTrail::SeriesSubject(key);
            for (const TChangeTrail::TEntry& seen : series ? SeriesHistory(key) : EntryHistory(key))
                summaries.insert(seen.key, seen.summary);
            found = judged.insert(entry.subject, summaries);
        }
        entry.summary = found->value(entry.key, PrivateText);
        result << entry;
    }
    return result;
}
