#pragma once

#include "TEntrySelection.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

class TChangeTrail;
class TQuorlaDB;

// The selected entries as an iCalendar (RFC 5545) calendar, made and written
// by libical: one VEVENT per entry, for other calendars to read.
//
// - UID: the entry's key and the database's identity (kept in the users
//   dataset), so an entry keeps its UID from export to export and two
//   databases never share one.
// - DTSTART in local time with its time zone (a VTIMEZONE for it, or UTC);
//   an un-timed entry is an all-day date. Entries have no end: a timed one
//   lasts DurationMinutes (DURATION), an all-day one its day.
// - SUMMARY the description, CATEGORIES the category, CLASS:PRIVATE for a
//   private entry, ORGANIZER its owner and ATTENDEE each assignee, by full
//   name (the program keeps no addresses: each carries a URI naming the user
//   in this database).
// - A VALARM where the exporting user (CurrentUserKey) has an alarm for the
//   entry, triggered that long before (or after) the start.
// - LAST-MODIFIED where LastModified knows when the entry last changed.
class TCalendarExport : public TEntrySelection
{
public:
    // How long a timed entry is said to last.
    int DurationMinutes = 30;

    // When the entry under the key last changed, where known (an invalid
    // date-time otherwise); unset, no LAST-MODIFIED is written.
    std::function<QDateTime(const QString& entryKey)> LastModified;

    // The calendar's text. `count` takes the number of events. Throws EQuorla
    // with the dataset's error text when a read fails, EStamp for a date
    // outside 1970 to 2037.
    QByteArray Build(TQuorlaDB& database, int* count = nullptr) const;

    // Writes `text` to the file at `path` as a whole: into a new file beside
    // it, then renamed over it, so that a reader (a calendar subscribed to
    // the file) sees the old calendar or the new one, never half of one.
    // Throws EQuorla naming the file and the reason when that fails.
    static void WriteFile(const QString& path, const QByteArray& text);

    // The UID of the entry under `key` in the database of `identity`.
    static QString Uid(const QString& key, const QString& identity);

    // A LastModified that reads the change trail: the moment of the entry's
    // latest recorded addition or change. The trail is read once, at the
    // first question, for every entry (one range read, not one per event). Alarms snoozed or switched off are
    // one user's business, not a change of the event. A trail that cannot be
    // read leaves the entry without LAST-MODIFIED rather than failing the
    // export, as the trail never stops the work it watches.
    static std::function<QDateTime(const QString& entryKey)> FromTrail(TChangeTrail& trail);
};
