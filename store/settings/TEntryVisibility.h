#pragma once

#include <QString>

class DayEntryRecord;
class SeriesRecord;
class TFilterRules;
class UserRecord;

// Whether the logged-in user (`currentUser`, stored under `currentUserKey`) may
// see `entry` under `rules`. In this order: the rules must accept the entry,
// whatever the user's rights; an entry that is not private is then visible; a
// private one is visible to a user who can administer, and otherwise only when
// `currentUserKey` is one of its assignees. The owner plays no part: an owner
// who is not an assignee does not see his own private entry.
//
// The main window and the event commands pass the display filter; the report
// passes a rule set of its own.
bool EntryVisible(const TFilterRules& rules, const UserRecord& currentUser, const QString& currentUserKey,
                  const DayEntryRecord& entry);

// Whether the user may see the template of a repeating event - its text, its
// rule, its private flag - by the same rights as an entry: a private template
// only to a user who can administer and to its assignees. No display filter:
// the template of a series one of whose occurrences the filter passes.
bool SeriesVisible(const UserRecord& currentUser, const QString& currentUserKey, const SeriesRecord& series);
