#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class DayEntryRecord;

// One entry as a CalDAV object: a calendar of one VEVENT, written directly
// (a week of entries is written in a few milliseconds). Times in UTC, an
// all-day entry as its date (DTEND the next day), a timed one lasting
// DURATION PT30M as the export says; SUMMARY the first line, DESCRIPTION the
// whole text when it has more; CATEGORIES, CLASS:PRIVATE; the user's alarm
// as VALARM (for a timed entry the real interval before the start, for an
// all-day one its moment). DTSTAMP is the start, so that the bytes change
// only when the entry does. Lines are folded at 75 octets.
class TDavObject
{
public:
    TDavObject() = delete;

    // `momentOf` turns the office's wall-clock seconds into seconds since
    // 1970 UTC; `alarmTime` is the user's alarm as a time key, empty for
    // none.
    static QByteArray Text(const DayEntryRecord& entry, const QString& uid, const QString& category,
                           const QString& alarmTime, const std::function<qint64(qint64)>& momentOf);
};
