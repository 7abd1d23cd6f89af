#pragma once

#include "TEventCodec.h"
#include "TRecordWriter.h"
#include "UserRecord.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <functional>

class TQuorlaDB;

// An iCalendar (RFC 5545) file read by libical and taken into the database
// in one user's name, through the store's writers (TEventWriter,
// TSeriesWriter, TCategoryWriter), so every record rule holds as it does for
// an event typed in.
//
// - Each VEVENT becomes an entry with its details, as TEventCodec converts
//   it (times in the office's zone, Zone; the end, days, place and notes;
//   SUMMARY the summary line, DESCRIPTION the notes); what the codec had to
//   alter is listed in `remarks` ("imported in part").
// - The importing user is owner and only assignee; a VALARM gives him an
//   alarm at the moment its trigger names (relative to the start, to the end
//   with RELATED=END, or absolute).
// - CATEGORIES: the first category (an entry has one; the others are
//   said in a remark), matched by its name (case aside);
//   one not found is created when the user is an administrator, otherwise
//   the entry goes in without one and a remark says so.
// - An RRULE makes a series (one rule, of a form TRecurrenceRule has), from
//   its first occurrence when the start does not fit the rule, at the time
//   written when that is the office's (a skipped one included); an UNTIL
//   time ends it on the last day whose occurrence starts by then. Its
//   EXDATEs delete those occurrences, and each event of the same UID with a
//   RECURRENCE-ID changes its occurrence alone (STATUS:CANCELLED deletes it).
//   Only what differs from the stored series is written: a series, an
//   occurrence changed alone or a deleted day imported again as it stands
//   is left alone (its occurrences' alarms stay, the trail gets nothing).
//   A series written in another zone is kept at the office's time of its
//   first occurrence; each occurrence made now whose moment there differs
//   (other daylight-saving dates) is moved to it, changed alone.
// - The UID is remembered per user in the import map (TQuorlaDB::ImportMap):
//   a calendar imported again updates what its events became (an entry
//   removed since is made anew), never adds them twice. A UID of this
//   database's own export (TCalendarExport::Uid, SeriesUid) updates the entry
//   or series it names, when it is still there; one of another user's that
//   the user may not change is listed as not imported. A new entry's or
//   series' key is set aside and mapped before the record is written, so an
//   import killed half-way leaves nothing that the next one doubles.
// - The rooms and other resources an event names (ATTENDEE with CUTYPE ROOM
//   or RESOURCE, by this database's address of one or by its name as CN)
//   are booked for its time (TBookingWriter); one booked then by another
//   event refuses that event, listed with the other booking. A series books
//   them for each occurrence that is free, and a remark names the others.
//   A changed event that names none keeps what it books.
// - An event that cannot be taken - a rule with no form here, extra dates
//   (RDATE), a start outside 1970 to 2037, a cancelled event, an entry open
//   elsewhere - is listed in
//   Skipped with its reason; the rest goes in.
class TCalendarImport
{
public:
    // One event and what became of it (or why nothing did).
    struct TNote
    {
        // The event: its summary and start ("Team meeting, 2027-03-01 09:00").
        QString event;
        QString reason;
    };
    struct TOutcome
    {
        int added = 0;
        int updated = 0;
        QList<TNote> skipped;
        // Taken, but not wholly (a category left out, what the codec
        // altered).
        QList<TNote> remarks;
        // Something was left out, or an occurrence left as it was (an
        // exception from then on), because a series or an occurrence was
        // open elsewhere; `holder` names who has it when a note tells.
        bool held = false;
        QString holder;
    };

    // The office's zone as an IANA name; empty: the database's.
    QByteArray Zone;
    // The day the series' horizon counts from; invalid: today (TClock).
    QDate Today;
    // Whether the resources events name are booked (false: a caller that
    // books them itself).
    bool BookResources = true;
    // Told of every write (observers only).
    std::function<void(const TRecordWriter::TWrite&)> OnWrite;

    TCalendarImport(TQuorlaDB& database, const QString& userKey, const UserRecord& user);

    // Imports the calendar `text` (the contents of file `name`). Refuses
    // before writing anything, with EQuorla: a user without the right to add
    // entries (NoRightMessage), a text that is no iCalendar (NotCalendar-
    // Message), an import map that cannot be had. A failed read or write
    // throws EQuorla with the dataset's error text; what went in before
    // stays, and importing again finishes the rest.
    TOutcome Import(const QByteArray& text, const QString& name);

    // One event as this program keeps it (TEventCodec), with its UID; a
    // category beyond the first is among what was altered.
    struct TEvent : TEventCodec::TDecoded
    {
        QString uid;
        // It has a repeat rule or extra dates.
        bool repeats = false;
    };
    // The first event of `text` that changes no occurrence (no
    // RECURRENCE-ID), read as Import reads it, in the office's zone `zone`
    // (empty: the database's). False, with `reason`, for a text that is no
    // calendar (NotCalendarMessage of `name`), holds no event, or an event
    // Import would leave out (the same reasons).
    bool ReadEvent(const QByteArray& text, const QString& name, TEvent& event, QString& reason);

    // The most a calendar to import may hold: far beyond any office's
    // calendar, and a bound on what an import takes into memory.
    static constexpr qint64 MaxInputBytes = 64 * 1024 * 1024;
    // The contents of the file at `path`; EQuorla("Unable to read <path>
    // \r\r<reason>") when it cannot be read or is larger than
    // MaxInputBytes (read no further than that).
    static QByteArray ReadFile(const QString& path);

    // The import map's `Source` of the event `uid` imported by `userKey`.
    static QString SourceOf(const QString& userKey, const QString& uid);

    // "<name> is not an iCalendar file"
    static QString NotCalendarMessage(const QString& name);
    // "<full name> may not add entries"
    static QString NoRightMessage(const QString& fullName);

    // The outcome for people, one line per event left out or taken in part:
    // "3 events added, 1 updated.\n\nNot imported:\n<event>: <reason>\n...".
    static QString Report(const TOutcome& outcome);

private:
    TQuorlaDB& database_;
    QString userKey_;
    UserRecord user_;
};
