#pragma once

#include "TChangeTrail.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

class TQuorlaDB;

// Which records of the change trail a user may read, and how much of each:
// the views' rule (EntryVisible) applied to an entry as it was when each of
// its records was made.
//
// - An entry's record (added, changed, deleted, also by a user's removal or a
//   category's deletion) shows its summary to an administrator, and to a user
//   who could see the entry then: it was public on both sides of the change,
//   or he was one of its assignees on both. Anybody else sees that a change
//   was made, by whom and when, and PrivateText instead of what it was. A
//   repeating event's record is judged so by its template.
// - An alarm's record (snoozed, switched off) is listed only to the user who
//   made it and to an administrator: others' alarms and where they work are
//   theirs.
// - Every other record is listed as it stands.
//
// Who could see the entry is read from the readers mark of the record's
// summary (TChangeSummary). A record without one was made while the entry was
// public, or by a build older than the marks; its entry's privacy is then
// worked out from the later records, going back from the entry as it is now,
// "made public" and "made private" turning it over. Such a record shows its
// summary to others than administrators only when the entry was public on
// both sides by that account; where it cannot be told (a deleted entry), it
// does not.
class TTrailVisibility
{
public:
    static const QString PrivateText;

    // For the logged-in user `userKey`; his rights are read from the users.
    TTrailVisibility(TQuorlaDB& database, const QString& userKey);

    // The history of entry `entryKey` as the user may read it, in the order
    // it was written.
    QList<TChangeTrail::TEntry> EntryHistory(const QString& entryKey);
    // The records of repeating event `seriesKey` (its own, not its
    // occurrences') as the user may read them, in the order written.
    QList<TChangeTrail::TEntry> SeriesHistory(const QString& seriesKey);
    // A page of the latest changes (TChangeTrail::Latest) as the user may read
    // it, in the same order.
    QList<TChangeTrail::TEntry> Page(const QList<TChangeTrail::TEntry>& page);

private:
    // Whether the user made `entry`'s alarm record or administers; true for
    // any record of another kind.
    bool listed(const TChangeTrail::TEntry& entry) const;
    // `history` of one entry as the user may read it; `privateNow` is the
    // entry's privacy as stored now, none when it is gone.
    QList<TChangeTrail::TEntry> shown(const QList<TChangeTrail::TEntry>& history,
                                      const std::optional<bool>& privateNow) const;

    TQuorlaDB& database_;
    QString userKey_;
    bool administers_ = false;
};
