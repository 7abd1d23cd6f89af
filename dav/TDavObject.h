#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "TEntryDetails.h"

#include <functional>
#include <memory>

class DayEntryRecord;
class TResourceParties;

// One entry as a CalDAV object: a calendar of one VEVENT, byte for byte as
// libical writes it (its plain lines written here, the others by libical). Times in UTC, an all-day entry as its date (DTEND the day after the
// last of its days), a timed one with the DURATION of its stored length (PT30M
// when it has none, as the export says); LOCATION its place; SUMMARY and
// DESCRIPTION as the codec makes them of the text and the notes (the first
// line, then the notes, else the whole text when it has more); CATEGORIES (one value,
// its commas and semicolons escaped as the export escapes them),
// CLASS:PRIVATE; the user's alarm as VALARM (for a timed entry the real
// interval before the start in hours, minutes and seconds, for an all-day one
// its moment). DTSTAMP is the start, so that the bytes change only when the
// entry does.
//
// The calendar's text around the event and the properties libical writes
// are made once and filled anew for each entry: a listing writes hundreds of
// objects in one request.
class TDavObject
{
public:
    TDavObject();
    ~TDavObject();
    TDavObject(const TDavObject&) = delete;
    TDavObject& operator=(const TDavObject&) = delete;

    // `momentOf` turns the office's wall-clock seconds into seconds since
    // 1970 UTC; `alarmTime` is the user's alarm as a time key, empty for
    // none; `details` what the entry carries beyond its record;
    // `resources` those it books, each an ATTENDEE as `parties` writes it.
    QByteArray Text(const DayEntryRecord& entry, const TEntryDetails& details, const QString& uid,
                    const QString& category, const QString& alarmTime, const std::function<qint64(qint64)>& momentOf,
                    const QStringList& resources = {}, const TResourceParties* parties = nullptr);

private:
    struct TParts;
    std::unique_ptr<TParts> parts_;
};
