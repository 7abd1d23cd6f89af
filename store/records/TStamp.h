#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>

// A moment held as whole seconds since 1970-01-01 00:00:00 local wall-clock time,
// for the years 1970 to 2037. The value is plain calendar arithmetic: no time
// zone and no daylight-saving adjustment, so a day is always 86400 seconds and a
// week always 604800. Its key text (ten zero-padded digits) is what day entries
// and alarms are stored under, so the text order of keys is the order of time.
//
// The calendar counts every year divisible by 4 as a leap year; that is exact
// for 1970 to 2037. The value is never outside that range: every operation that
// would leave it raises EStamp instead (see each operation for what the value is
// afterwards). All arithmetic on the count traps on overflow with EStamp
// "Integer overflow" rather than wrapping.
class TStamp
{
public:
    // Unit numbers for Increment.
    enum : int { IncSeconds = 0, IncMinutes = 1, IncHours = 2, IncDays = 3, IncWeeks = 4 };

    // Starts at the current moment (SetNow). Throws EStamp if the clock is
    // outside 1970 to 2037.
    TStamp();

    // Date-time picture used by AsString; see FormatDateTime for the letters.
    QString Format = QStringLiteral("hh:nn:ss dd/mm/yy");
    // Number of digits of Key and DayKey.
    int Width = 10;
    // Called after the value has been set successfully by SetDateTime (and so
    // SetNow and TruncateToDay), SetSeconds or Increment; never after a failure.
    std::function<void(TStamp*)> OnChange;

    // Sets the value to TClock::now().
    void SetNow();

    // Sets the value from the wall-clock date and time-of-day of dateTime, as
    // they read, whatever its time zone or offset: nothing is converted.
    // Milliseconds are dropped. Same rules and failures as the overload below;
    // an invalid dateTime fails with "Invalid date or time".
    void SetDateTime(const QDateTime& dateTime);

    // Sets the value from calendar parts. A year below 100 is widened: 0 to 37
    // become 2000 to 2037, 38 to 99 become 1938 to 1999. Fails with EStamp
    // "Year precedes 1970", "Year excedes 2037" or, for a month, day, hour,
    // minute or second that does not exist, "Invalid date or time". On failure
    // the value is 0 (1970-01-01 00:00:00) and OnChange is not called.
    void SetDateTime(int year, int month, int day, int hour, int minute, int second);

    // The value as a local QDateTime built from its calendar parts.
    QDateTime AsDateTime() const;

    // Sets the raw count of seconds. A count outside 1970 to 2037 (negative, or
    // past 2037-12-31 23:59:59) fails with EStamp "Increment out of range" and
    // leaves the previous value in place.
    void SetSeconds(qint32 seconds);

    // The raw count of seconds since 1970-01-01 00:00:00.
    qint32 Seconds() const;

    // Calendar parts of the value.
    int Year() const;
    int Month() const;
    int Day() const;
    int Hour() const;
    int Minute() const;
    int Second() const;

    // The value formatted with the picture in Format.
    QString AsString() const;

    // Seconds() as decimal text zero-padded to Width digits.
    QString Key() const;

    // Key of 00:00:00 on the value's day.
    QString DayKey() const;

    // Moves the value by count units: 0 seconds, 1 minutes, 2 hours, 3 days,
    // 4 weeks (see IncSeconds..IncWeeks); any other unit moves it by 0 but still
    // counts as a change. Fails with EStamp "Integer overflow" when count × unit
    // or the sum does not fit in 32 bits, and with "Increment out of range" when
    // the result leaves 1970 to 2037; either way the value is kept as it was and
    // OnChange is not called.
    void Increment(int unit, qint32 count);

    // Sets the value to 00:00:00 of its own day.
    void TruncateToDay();

    // True when the value's calendar date is today's date by TClock::now(),
    // whatever the time of day of either.
    bool IsToday() const;

    // Formats a wall-clock date and time with a picture. Picture letters, in
    // either case:
    //   d dd ddd dddd   day; day with 2 digits; short day name; long day name
    //   m mm mmm mmmm   month; with 2 digits; short month name; long month name
    //   y yy / yyy yyyy two-digit year / four-digit year
    //   h hh            hour 0-23; with 2 digits
    //   n nn            minute; with 2 digits
    //   s ss            second; with 2 digits
    // "m" is always the month (minutes are "n"). Every other character is copied
    // as it is; there is no quoting. A run of one letter longer than its longest
    // form is split greedily from the left into longest forms and a remainder,
    // so "ddddd" is "dddd" followed by "d" and "hhh" is "hh" followed by "h".
    // Names come from the default QLocale. An invalid dateTime gives "".
    static QString FormatDateTime(const QString& picture, const QDateTime& dateTime);

private:
    struct Parts
    {
        int year;
        int month;
        int day;
        int hour;
        int minute;
        int second;
    };

    static Parts decode(qint32 seconds);
    // Checks that base + step stays within 1970 to 2037 and returns the sum.
    static qint32 moved(qint32 base, qint32 step);
    void changed();

    qint32 seconds_ = 0;
};
