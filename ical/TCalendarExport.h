#pragma once

#include "TEntrySelection.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

struct icaltriggertype;

class TChangeTrail;
class TQuorlaDB;

// The selected entries as an iCalendar (RFC 5545) calendar, made and written
// by libical: one VEVENT per entry, for other calendars to read, written so
// that readers which look a zone up by name, readers which take the VTIMEZONE
// as given and readers without libical all agree.
//
// - UID: the entry's key and the database's identity (kept in the users
//   dataset), so an entry keeps its UID from export to export and two
//   databases never share one.
// - Times: the entries' wall-clock times are the office's (Zone). DTSTART
//   carries the zone's IANA name as TZID, with one VTIMEZONE holding only
//   the observances of the exported years (and of the years an exported
//   series repeats in); the few wall-clock times that a
//   daylight-saving change skips or repeats go out in UTC instead (a skipped
//   one at the offset before the change, a repeated one at its first
//   occurrence), as readers disagree on them. An office in UTC writes UTC.
//   An un-timed entry is an all-day date. The end, place and notes are
//   written by TEventCodec from the entry's details: a timed entry lasts
//   its length (DURATION; DurationMinutes when it has none), an all-day one
//   its days (a DTEND date after more than one).
// - SUMMARY the first line of the description, DESCRIPTION the notes, else
//   the whole text when it has more lines, and with both the whole text,
//   an empty line and the notes (TEventCodec::Texts); LOCATION the place; CATEGORIES
//   the category as one value (its commas
//   and semicolons escaped); CLASS:PRIVATE for a private entry; ORGANIZER its
//   owner and ATTENDEE each assignee, by full name (the program keeps no
//   addresses: each carries a URI naming the user in this database).
// - A VALARM where the exporting user (CurrentUserKey) has an alarm for the
//   entry: for a timed entry the real interval between the two moments (in
//   hours, minutes and seconds, never nominal days, so a daylight-saving
//   change between them moves nothing); for an all-day entry, whose date
//   each reader places in his own zone, the alarm's moment in UTC.
// - LAST-MODIFIED (in UTC) and SEQUENCE where Changes knows the entry's
//   history.
// - A repeating event (a series) goes out as one VEVENT: its template's
//   fields, its first day's start as DTSTART, its rule as RRULE (UNTIL in
//   UTC for a timed one), an EXDATE for each day whose occurrence was
//   deleted, and the exporting user's alarm when the template gives him
//   one. An occurrence changed alone is an event of its own with the
//   series' UID and RECURRENCE-ID the start the rule gave it. A series goes
//   out whole, with its rule, when any of its occurrences is selected, or
//   one it has not made yet (past its horizon) would be.
// - Only what the exporting user may see leaves: a series whose template he
//   may not see (SeriesVisible: private, and he neither administers nor is
//   one of its assignees) leaves nothing of its own - no text, no CLASS, no
//   rule - and each of its occurrences he may see goes out as a single event
//   under its entry's UID. An occurrence of a series he sees that is private
//   to others goes out neither as a RECURRENCE-ID event nor as the rule's
//   day: an EXDATE leaves it out (in a CalDAV object too).
// - Restricted to a resource (RestrictResource), only what books it leaves:
//   each booked occurrence as an event of its own under its entry's UID,
//   never a series' rule, whose other days (not made yet, or left without
//   the resource) do not book it.
// - No METHOD: the file is a plain calendar (a feed, a CalDAV object), not a
//   scheduling message.
class TCalendarExport : public TEntrySelection
{
public:
    // How long a timed entry is said to last.
    int DurationMinutes = 30;

    // The office's time zone as an IANA name ("Europe/Berlin"); empty: the
    // database's (TQuorlaDB::OfficeZone). The entries' times are in it.
    QByteArray Zone;

    // What the trail knows of an entry: when it last changed (invalid when
    // unknown) and how often it was changed since it was added.
    struct TChanges
    {
        QDateTime lastModified;
        int changes = 0;
    };
    // When set, only the series under this key goes out, whole: its event
    // and each occurrence changed alone, whatever their dates (StartDate and
    // EndDate then only bound the zone's observances written), as a CalDAV
    // object holds a series. OnlySeriesUid, when set, is its UID in place of
    // SeriesUid's (the one a client gave it).
    QString OnlySeries;
    QString OnlySeriesUid;

    // The entry's changes by key; unset, no LAST-MODIFIED and SEQUENCE 0.
    std::function<TChanges(const QString& entryKey)> Changes;

    // The calendar's text. `count` takes the number of events. Throws EQuorla
    // with the dataset's error text when a read fails or the zone is unknown,
    // EStamp for a date outside 1970 to 2037.
    QByteArray Build(TQuorlaDB& database, int* count = nullptr) const;

    // Writes `text` to the file at `path` as a whole: into a new file beside
    // it, then renamed over it, so that a reader (a calendar subscribed to
    // the file) sees the old calendar or the new one, never half of one.
    // A symbolic link at `path` is refused, never written through. Throws
    // EQuorla naming the file and the reason when that fails, leaving
    // whatever was there as it was.
    static void WriteFile(const QString& path, const QByteArray& text);

    // libical writes a CATEGORIES value as a list, its commas and semicolons
    // bare: escapes them in each CATEGORIES line of `text`, so that each
    // category goes out as one value.
    static void EscapeCategories(QByteArray& text);

    // The TRIGGER of an alarm ringing at the instant `ring` for an event
    // starting at the instant `start` (seconds since the epoch): for an
    // un-timed event the absolute UTC time; otherwise the real interval
    // between the two, in hours, minutes and seconds, never days (a day is
    // nominal, an hour more or less on a daylight-saving day), so that every
    // reader rings at the same moment.
    static icaltriggertype AlarmTrigger(qint64 start, qint64 ring, bool untimed);

    // The UID of the entry under `key` in the database of `identity`.
    static QString Uid(const QString& key, const QString& identity);
    // The UID of the series under `seriesKey` (series and entries have keys
    // of their own: the two never share a UID).
    static QString SeriesUid(const QString& seriesKey, const QString& identity);

    // Changes read from the change trail: the moment of the entry's latest
    // recorded addition or change (TChangeTrail::Moment: true UTC whatever
    // the zones of its writer and of this process, but for an older
    // program's record), and the number of its changes. The trail is read once, at the first
    // question, for every entry (one range read, not one per event). Alarms
    // snoozed or switched off are one user's business, not a change of the
    // event. A trail that cannot be read leaves the entry without them rather
    // than failing the export, as the trail never stops the work it watches.
    static std::function<TChanges(const QString& entryKey)> FromTrail(TChangeTrail& trail);
};
