#pragma once

#include "TEntryDetails.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

struct icalcomponent_impl;
struct icalproperty_impl;
struct icaltimetype;
typedef struct icalcomponent_impl icalcomponent;
typedef struct icalproperty_impl icalproperty;

// The one conversion between an iCalendar (RFC 5545) VEVENT, as libical holds
// it, and what this program stores of an event: the day entry's fields (or a
// series template's) plus its TEntryDetails. Import, export, the feed and
// CalDAV all convert through it, so that every road keeps and drops the same.
//
// Decoding keeps what the records can hold and lists, as short English
// phrases, everything it had to alter; it refuses (with a reason) an event
// the records cannot hold at all. The rules:
// - Times become wall-clock times of the office's zone: a UTC time and a time
//   with a TZID (the calendar's VTIMEZONE, else the IANA zone of that name,
//   else the Windows zone of that name mapped to its IANA zone) are the same
//   moment there; a floating time is taken as it stands. A time its zone's
//   clock skips is read at the offset before the jump (02:30 as 03:30).
// - DTEND or DURATION: a timed event's length in wall-clock seconds of the
//   office (durationSeconds, 0 when it ends where it starts); a date event's
//   days, DTEND being the first day after it. A span past MaxDays is cut.
// - SUMMARY is the summary line (cut at a UTF-8 boundary to its capacity),
//   DESCRIPTION the notes (cut to MaxNotesBytes). A DESCRIPTION that repeats
//   the SUMMARY on its first line and fits the summary line is one text of
//   several lines, as the export writes an entry's text of several lines.
//   With X-QUORLA-TEXT-LINES:n (Texts: a text of several lines beside
//   notes) DESCRIPTION's first n lines are the text and the notes follow
//   after an empty line, where those lines begin with the SUMMARY and fit
//   the summary line; otherwise the property is passed over.
// - LOCATION is the location (cut to MaxLocationBytes).
// - CLASS PRIVATE or CONFIDENTIAL makes it private; the first CATEGORIES
//   value is its category; the first VALARM with a trigger its alarm.
// - Each ATTENDEE whose CUTYPE is ROOM or RESOURCE is a resource it asks to
//   book, named by its address (TResourceParties says whose it is).
// - Refused: no start, a start outside 1970 to 2037, STATUS:CANCELLED, and
//   extra dates (RDATE), which no record holds.
class TEventCodec
{
public:
    // One VEVENT as this program keeps it.
    struct TDecoded
    {
        // Wall-clock seconds of the office's zone (TStamp's count).
        qint64 wall = 0;
        bool untimed = false;
        // The summary line.
        QString text;
        bool isPrivate = false;
        QString category;
        // More categories than the first.
        bool moreCategories = false;
        bool alarm = false;
        qint64 ringWall = 0;
        TEntryDetails details;
        // The addresses of the rooms and other resources it names, and
        // beside each its CN (empty without one).
        QStringList resources;
        QStringList resourceNames;
        // What people call the event ("Team meeting, 2027-03-01 09:00").
        QString label;
        // What could not be kept as it was, one phrase each.
        QStringList altered;
    };

    // `office`: the zone the records' wall-clock times are in.
    explicit TEventCodec(const QTimeZone& office);

    // Decodes `event`; false, with `reason` (and `decoded.label` when it
    // has a start), for one the records cannot hold.
    bool Decode(icalcomponent* event, TDecoded& decoded, QString& reason) const;

    // The wall-clock seconds in the office's zone of a time property's
    // value `t` (`property` gives its TZID when libical left the zone
    // unresolved); `date` says whether it is a date alone.
    qint64 Wall(icalproperty* property, const icaltimetype& t, bool& date) const;
    // The zone a time property's value is in: the office's for a floating
    // time, a date or UTC (whose moment is the same everywhere).
    QTimeZone ZoneOf(icalproperty* property, const icaltimetype& t) const;
    // The wall-clock seconds at which `time` on `day` in the office's zone
    // happens: the time itself, or a time the clock skips moved on.
    qint64 OfficeWall(const QDate& day, const QTime& time) const;
    // The office's wall-clock seconds when `zone`'s clock shows `time` on
    // `day` (a time it skips read as RFC 5545 reads it).
    qint64 WallAt(const QTimeZone& zone, const QDate& day, const QTime& time) const;
    qint64 FromMoment(qint64 moment) const;
    qint64 MomentOf(qint64 wall) const;

    // The zone named by a TZID: an IANA name (libical's own prefix aside),
    // else a Windows zone name mapped to its IANA zone; invalid otherwise.
    static QTimeZone NamedZone(const QByteArray& tzid);

    // The length this program's writers give a timed entry that has no end
    // (the export's default, a CalDAV object's).
    static constexpr int AssumedSeconds = 30 * 60;
    // `decoded` as it lands on an entry whose details are `stored`: that
    // length read back onto an entry without an end leaves it without one,
    // so that an event stored back as it was read changes nothing.
    static TEntryDetails Onto(TEntryDetails decoded, const TEntryDetails& stored);

    // Encoding. The end of a stored event as iCalendar writes it: a
    // DURATION of the timed entry's length (`defaultSeconds` when it has
    // none), a DTEND date the day after the last of an un-timed entry's
    // days; null for an un-timed entry of one day (a date lasts its day).
    static icalproperty* EndProperty(const TEntryDetails& details, bool untimed, qint64 wall, int defaultSeconds);
    // SUMMARY and DESCRIPTION of an entry's text and notes: the text's first
    // line; the notes, or the whole text when it has more lines, or when it
    // has both the whole text, an empty line and the notes (empty: no
    // DESCRIPTION). `textLines` is then the text's number of lines, written
    // as TextLinesName so that Decode splits them again (0: not written):
    // every reader shows every line, and none is lost on the way back.
    struct TTexts
    {
        QString summary;
        QString description;
        int textLines = 0;
    };
    static TTexts Texts(const QString& text, const QString& notes);
    static constexpr const char* TextLinesName = "X-QUORLA-TEXT-LINES";
    // A property of that name, its value `lines` (icalproperty_set_x sets another).
    static icalproperty* TextLinesProperty(int lines);

    // Wall-clock seconds as a date and time (read as UTC) and back.
    static qint64 WallOf(const QDateTime& local);
    static QDateTime AsWall(qint64 wall);

private:
    bool decodeEnd(icalcomponent* event, TDecoded& decoded) const;
    void decodeTexts(icalcomponent* event, const QString& summary, TDecoded& decoded) const;
    static bool splitTexts(icalcomponent* event, const QString& summary, const QString& description,
                           TDecoded& decoded);
    void decodeAlarm(icalcomponent* event, TDecoded& decoded) const;
    static void resourcesOf(icalcomponent* event, TDecoded& decoded);

    QTimeZone office_;
};
