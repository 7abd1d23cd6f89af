#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

#include <optional>

// How a repeating event repeats: a value, compared and copied freely.
//
// A rule starts on a date, at a time of day or un-timed (all day), and
// repeats
// - daily,
// - weekly on chosen weekdays (none chosen: the start's weekday),
// - monthly on the start's day of the month, or on the nth weekday of the
//   month (1st to 4th, or the last: -1),
// - yearly on the start's day and month,
// every Interval() days, weeks, months or years; and ends never, after a date
// (that day included), or after a number of occurrences.
//
// It is stored as the RRULE value of RFC 5545 ("FREQ=WEEKLY;BYDAY=MO,TH;
// UNTIL=20270630T235959") beside its start, and expanded by libical's
// recurrence iterator, so an iCalendar reader of the same RRULE finds the
// same dates. The rules at the edges are RFC 5545's:
// - a day of the month the month does not have (the 31st in April, the 30th
//   in February) and 29 February in a year that is not a leap year are
//   skipped: that month or year has no occurrence, and an ending after N
//   occurrences counts only the ones that happen;
// - a time of day that does not exist on a daylight-saving day (the clock
//   jumps over it) moves forward by the length of the jump (02:30 becomes
//   03:30 when 02:00 jumps to 03:00); a time that exists twice (the clock
//   goes back) is the first of the two, which is the same wall-clock time, so
//   it reads as the rule says. Times are wall-clock times of this
//   workstation's zone, as every stored time is (TStamp).
// - the first occurrence is the first date on or after the start that fits
//   the rule; a start that does not fit (a Wednesday start of a Monday rule)
//   is not an occurrence. The start's week (from Monday), month or year is
//   the first of every interval, whether or not the start fits: every 2
//   weeks on Monday from Wednesday 6 January begins on Monday 18 January.
class TRecurrenceRule
{
public:
    enum class Frequency { Daily, Weekly, Monthly, Yearly };
    enum class End { Never, OnDate, AfterCount };

    // Bits of Weekdays(): Monday is 1 << 1 ... Sunday 1 << 7 (Qt's day
    // numbers).
    static constexpr int weekdayBit(int qtDayOfWeek) { return 1 << qtDayOfWeek; }

    // Daily, endless, without a start: not valid (IsValid()) until a start
    // is set.
    TRecurrenceRule() = default;

    // The first day, and the time of each occurrence (an invalid QTime: un-timed).
    QDate Start() const { return start_; }
    void setStart(const QDate& date) { start_ = date; }
    QTime Time() const { return time_; }
    void setTime(const QTime& time) { time_ = time; }
    bool UnTimed() const { return !time_.isValid(); }

    Frequency frequency() const { return frequency_; }
    void setFrequency(Frequency frequency) { frequency_ = frequency; }
    // Every N days/weeks/months/years; 1 to 99.
    int Interval() const { return interval_; }
    void setInterval(int interval) { interval_ = interval; }

    // Weekly: the chosen weekdays as weekdayBit()s; 0 means the start's.
    int Weekdays() const { return weekdays_; }
    void setWeekdays(int bits) { weekdays_ = bits; }

    // Monthly: 0 on the start's day of the month; 1 to 4, or -1 for the last,
    // on that weekday of the month, the start's weekday.
    int MonthlyWeek() const { return monthlyWeek_; }
    void setMonthlyWeek(int week) { monthlyWeek_ = week; }

    End end() const { return end_; }
    // Ends after this day (included); a date before the start leaves no
    // occurrence.
    QDate Until() const { return until_; }
    void setUntil(const QDate& date)
    {
        end_ = End::OnDate;
        until_ = date;
    }
    // Ends after this many occurrences (1 to 999).
    int Count() const { return count_; }
    void setCount(int count)
    {
        end_ = End::AfterCount;
        count_ = count;
    }
    void setEndless() { end_ = End::Never; }

    // Whether the rule can be stored and expanded: a start within 1970 to
    // 2037, an interval of 1 to 99, a count of 1 to 999, a monthly week of
    // -1 or 0 to 4, weekday bits only for Monday to Sunday.
    bool IsValid() const;

    // The RRULE value of RFC 5545 for this rule (without "RRULE:"), with the
    // weekdays and the day of the month spelt out (BYDAY, BYMONTHDAY,
    // BYMONTH), so that it means the same without the start. UNTIL is a date
    // for an un-timed rule, else the end of that day in local time.
    QString ToRRule() const;
    // The rule of an RRULE value for a series starting on `start` at `time`
    // (invalid: un-timed); nothing when the text is not an RRULE or asks for
    // what the rules above cannot say (BYSETPOS, BYHOUR, several months ...).
    // An UNTIL time (a wall-clock time here) ends on the last day whose
    // occurrence starts by then: UNTIL=20270108T085959 ends a rule at 09:00
    // on 7 January.
    static std::optional<TRecurrenceRule> FromRRule(const QString& rrule, const QDate& start, const QTime& time);

    // The occurrences whose day lies from `from` to `to` (both included), in
    // order, as local wall-clock date-times (00:00 for an un-timed rule), at
    // most `limit` of them; the edge rules above applied. An invalid rule has
    // none.
    QList<QDateTime> Occurrences(const QDate& from, const QDate& to, int limit = 100000) const;
    // The days of those occurrences as they stand in the rule, before the
    // daylight-saving move: the days that name occurrences in the series'
    // links.
    QList<QDate> Days(const QDate& from, const QDate& to, int limit = 100000) const;
    // Whether `day` is one of the rule's days.
    bool Fits(const QDate& day) const;

    // The last day of an ending rule (the UNTIL date, or the COUNT-th
    // occurrence's day); an invalid date for one that never ends.
    QDate LastDay() const;

    // One line for people, English: "Every Monday and Thursday at 09:00 until
    // 30 June 2027", "Every 2 weeks on Monday, 10 times", "Every day",
    // "Monthly on the last Friday at 14:30", "Every year on 29 February".
    QString Summary() const;

    // The wall-clock moment at which `time` on `day` happens in this
    // workstation's zone: the time itself, or, for one the clock jumps over,
    // the time moved forward by the jump.
    static QDateTime WallClock(const QDate& day, const QTime& time);

    bool operator==(const TRecurrenceRule&) const = default;

private:
    // Whether `day` has the pattern's weekday, day of the month or date
    // (whatever its interval).
    bool inPattern(const QDate& day) const;

    QDate start_;
    QTime time_;
    Frequency frequency_ = Frequency::Daily;
    int interval_ = 1;
    int weekdays_ = 0;
    int monthlyWeek_ = 0;
    End end_ = End::Never;
    QDate until_;
    int count_ = 0;
};
