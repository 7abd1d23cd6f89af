#include "TRecurrenceRule.h"

#include "TWallClock.h"

#include <libical/ical.h>

#include <QStringList>

namespace {

// RFC 5545's weekday names in Qt's order (Monday = 1).
const char* const DayCodes[] = {"", "MO", "TU", "WE", "TH", "FR", "SA", "SU"};
const char* const DayNames[]
    = {"", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
const char* const MonthNames[] = {"",     "January", "February",  "March",   "April",    "May",     "June",
                                  "July", "August",  "September", "October", "November", "December"};
const char* const Ordinals[] = {"", "first", "second", "third", "fourth"};

constexpr int AllWeekdays = 0xFE;

QString dayNumber(int day)
{
    const char* suffix = "th";
    if (day % 10 == 1 && day != 11)
        suffix = "st";
    else if (day % 10 == 2 && day != 12)
        suffix = "nd";
    else if (day % 10 == 3 && day != 13)
        suffix = "rd";
    return QString::number(day) + QLatin1String(suffix);
}

QString longDate(const QDate& date)
{
    return QStringLiteral("%1 %2 %3").arg(date.day()).arg(QLatin1String(MonthNames[date.month()])).arg(date.year());
}

// "Monday", "Monday and Thursday", "Monday, Tuesday and Friday".
QString dayList(int bits)
{
    QStringList names;
    for (int day = 1; day <= 7; ++day)
        if (bits & TRecurrenceRule::weekdayBit(day))
            names << QLatin1String(DayNames[day]);
    if (names.size() <= 1)
        return names.join(QString());
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// The week of the month in which `date` falls for its weekday: 1 to 5.
int weekOfMonth(const QDate& date) { return (date.day() - 1) / 7 + 1; }
bool lastOfMonth(const QDate& date) { return date.addDays(7).month() != date.month(); }

icaltimetype icalDay(const QDate& date, const QTime& time)
{
    icaltimetype t = icaltime_null_time();
    t.year = date.year();
    t.month = date.month();
    t.day = date.day();
    if (time.isValid()) {
        t.hour = time.hour();
        t.minute = time.minute();
        t.second = time.second();
    } else {
        t.is_date = 1;
    }
    return t;
}

// The last day an UNTIL leaves in: its date, or the day before when it is a
// time before that day's occurrence (UNTIL bounds the occurrences' starts).
QDate untilDay(const icaltimetype& until, const QTime& time)
{
    const QDate day(until.year, until.month, until.day);
    if (until.is_date || !time.isValid())
        return day;
    const QDateTime occurrence = TRecurrenceRule::WallClock(day, time);
    const QDateTime end(day, QTime(until.hour, until.minute, until.second), Qt::UTC);
    return QDateTime(occurrence.date(), occurrence.time(), Qt::UTC) > end ? day.addDays(-1) : day;
}

} // namespace

bool TRecurrenceRule::IsValid() const
{
    if (!start_.isValid() || start_.year() < 1970 || start_.year() > 2037)
        return false;
    if (interval_ < 1 || interval_ > 99 || (weekdays_ & ~AllWeekdays) != 0)
        return false;
    if (monthlyWeek_ < -1 || monthlyWeek_ > 4)
        return false;
    if (end_ == End::AfterCount && (count_ < 1 || count_ > 999))
        return false;
    if (end_ == End::OnDate && !until_.isValid())
        return false;
    return true;
}

QString TRecurrenceRule::ToRRule() const
{
    static const char* const Freqs[] = {"DAILY", "WEEKLY", "MONTHLY", "YEARLY"};
    QString rule = QStringLiteral("FREQ=") + QLatin1String(Freqs[int(frequency_)]);
    if (interval_ != 1)
        rule += QStringLiteral(";INTERVAL=%1").arg(interval_);
    switch (frequency_) {
    case Frequency::Daily:
        break;
    case Frequency::Weekly: {
        const int bits = weekdays_ ? weekdays_ : weekdayBit(start_.dayOfWeek());
        QStringList days;
        for (int day = 1; day <= 7; ++day)
            if (bits & weekdayBit(day))
                days << QLatin1String(DayCodes[day]);
        rule += QStringLiteral(";BYDAY=") + days.join(QLatin1Char(','));
        break;
    }
    case Frequency::Monthly:
        if (monthlyWeek_ == 0)
            rule += QStringLiteral(";BYMONTHDAY=%1").arg(start_.day());
        else
            rule += QStringLiteral(";BYDAY=%1%2").arg(monthlyWeek_).arg(QLatin1String(DayCodes[start_.dayOfWeek()]));
        break;
    case Frequency::Yearly:
        rule += QStringLiteral(";BYMONTH=%1;BYMONTHDAY=%2").arg(start_.month()).arg(start_.day());
        break;
    }
    if (end_ == End::AfterCount)
        rule += QStringLiteral(";COUNT=%1").arg(count_);
    else if (end_ == End::OnDate)
        rule += QStringLiteral(";UNTIL=") + until_.toString(QStringLiteral("yyyyMMdd"))
            + (UnTimed() ? QString() : QStringLiteral("T235959"));
    return rule;
}

std::optional<TRecurrenceRule> TRecurrenceRule::FromRRule(const QString& rrule, const QDate& start, const QTime& time)
{
    const QByteArray text = rrule.trimmed().toLatin1();
    if (text.isEmpty())
        return std::nullopt;
    icalerror_clear_errno();
    const icalrecurrencetype r = icalrecurrencetype_from_string(text.constData());
    if (r.freq == ICAL_NO_RECURRENCE || icalerrno != ICAL_NO_ERROR)
        return std::nullopt;
    const auto unused = [](const short* list) { return list[0] == ICAL_RECURRENCE_ARRAY_MAX; };
    if (!unused(r.by_second) || !unused(r.by_minute) || !unused(r.by_hour) || !unused(r.by_year_day)
        || !unused(r.by_week_no) || !unused(r.by_set_pos))
        return std::nullopt;

    TRecurrenceRule rule;
    rule.setStart(start);
    rule.setTime(time);
    rule.setInterval(r.interval);
    // Lists of one value at most, except BYDAY of a weekly rule.
    const auto count = [](const short* list) {
        int n = 0;
        while (n < ICAL_BY_DAY_SIZE && list[n] != ICAL_RECURRENCE_ARRAY_MAX)
            ++n;
        return n;
    };
    const int days = count(r.by_day);
    const int monthDays = count(r.by_month_day);
    const int months = count(r.by_month);
    // libical's weekday numbers: Sunday 1 ... Saturday 7; Qt's Monday 1 ... Sunday 7.
    const auto qtDay = [](icalrecurrencetype_weekday day) { return day == ICAL_SUNDAY_WEEKDAY ? 7 : int(day) - 1; };
    switch (r.freq) {
    case ICAL_DAILY_RECURRENCE:
        if (days || monthDays || months)
            return std::nullopt;
        rule.setFrequency(Frequency::Daily);
        break;
    case ICAL_WEEKLY_RECURRENCE: {
        if (monthDays || months)
            return std::nullopt;
        rule.setFrequency(Frequency::Weekly);
        int bits = 0;
        for (int i = 0; i < days; ++i) {
            if (icalrecurrencetype_day_position(r.by_day[i]) != 0)
                return std::nullopt;
            bits |= weekdayBit(qtDay(icalrecurrencetype_day_day_of_week(r.by_day[i])));
        }
        rule.setWeekdays(bits == weekdayBit(start.dayOfWeek()) ? 0 : bits);
        break;
    }
    case ICAL_MONTHLY_RECURRENCE:
        rule.setFrequency(Frequency::Monthly);
        if (months || days > 1 || monthDays > 1 || (days && monthDays))
            return std::nullopt;
        if (monthDays && r.by_month_day[0] != start.day())
            return std::nullopt;
        if (days) {
            const int position = icalrecurrencetype_day_position(r.by_day[0]);
            if (qtDay(icalrecurrencetype_day_day_of_week(r.by_day[0])) != start.dayOfWeek() || position == 0
                || position < -1 || position > 4)
                return std::nullopt;
            rule.setMonthlyWeek(position);
        }
        break;
    case ICAL_YEARLY_RECURRENCE:
        rule.setFrequency(Frequency::Yearly);
        if (days || monthDays > 1 || months > 1 || (monthDays && r.by_month_day[0] != start.day())
            || (months && r.by_month[0] != start.month()))
            return std::nullopt;
        break;
    default:
        return std::nullopt;
    }
    if (r.count > 0) {
        rule.setCount(r.count);
    } else if (!icaltime_is_null_time(r.until)) {
        rule.setUntil(untilDay(r.until, time));
    }
    if (!rule.IsValid())
        return std::nullopt;
    return rule;
}

bool TRecurrenceRule::Fits(const QDate& day) const
{
    if (!IsValid() || day < start_)
        return false;
    return !Days(day, day, 1).isEmpty();
}

bool TRecurrenceRule::inPattern(const QDate& day) const
{
    switch (frequency_) {
    case Frequency::Daily:
        return true;
    case Frequency::Weekly:
        return ((weekdays_ ? weekdays_ : weekdayBit(start_.dayOfWeek())) & weekdayBit(day.dayOfWeek())) != 0;
    case Frequency::Monthly:
        if (monthlyWeek_ == 0)
            return day.day() == start_.day();
        return day.dayOfWeek() == start_.dayOfWeek()
            && (monthlyWeek_ == -1 ? lastOfMonth(day) : weekOfMonth(day) == monthlyWeek_);
    case Frequency::Yearly:
        return day.day() == start_.day() && day.month() == start_.month();
    }
    return false;
}

QList<QDate> TRecurrenceRule::Days(const QDate& from, const QDate& to, int limit) const
{
    QList<QDate> days;
    if (!IsValid() || !from.isValid() || !to.isValid() || from > to || limit <= 0)
        return days;
    // Expanded from the start itself, whose week, month or year is the first
    // of every interval. The iterator may name a start outside the pattern,
    // which is no occurrence: COUNT is counted here, over the occurrences.
    const QByteArray text = ToRRule().toLatin1();
    icalrecurrencetype r = icalrecurrencetype_from_string(text.constData());
    r.count = 0;
    icalrecur_iterator* it = icalrecur_iterator_new(r, icalDay(start_, time_));
    if (!it)
        return days;
    int counted = 0;
    for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t); t = icalrecur_iterator_next(it)) {
        const QDate day(t.year, t.month, t.day);
        if (day > to || day.year() > 2037 || (end_ == End::AfterCount && counted == count_))
            break;
        if (!inPattern(day))
            continue;
        ++counted;
        if (day < from)
            continue;
        days << day;
        if (days.size() >= limit)
            break;
    }
    icalrecur_iterator_free(it);
    return days;
}

QList<QDateTime> TRecurrenceRule::Occurrences(const QDate& from, const QDate& to, int limit) const
{
    QList<QDateTime> moments;
    for (const QDate& day : Days(from, to, limit))
        moments << (UnTimed() ? QDateTime(day, QTime(0, 0)) : WallClock(day, time_));
    return moments;
}

QDate TRecurrenceRule::LastDay() const
{
    if (!IsValid())
        return {};
    if (end_ == End::OnDate)
        return until_;
    if (end_ == End::AfterCount) {
        const QList<QDate> days = Days(start_, QDate(2037, 12, 31), count_);
        return days.isEmpty() ? start_ : days.last();
    }
    return {};
}

QDateTime TRecurrenceRule::WallClock(const QDate& day, const QTime& time)
{
    const qint64 wall = QDateTime(day, time, Qt::UTC).toSecsSinceEpoch();
    const QDateTime local = QDateTime::fromSecsSinceEpoch(
        wallMoment(wall, [](qint64 utc) { return QDateTime::fromSecsSinceEpoch(utc).offsetFromUtc(); }));
    return QDateTime(local.date(), local.time());
}

QString TRecurrenceRule::Summary() const
{
    if (!IsValid())
        return QString();
    const auto every = [this](const char* one, const char* unit) {
        return interval_ == 1 ? QString::fromLatin1(one) : QStringLiteral("Every %1 %2").arg(interval_).arg(QLatin1String(unit));
    };
    QString text;
    switch (frequency_) {
    case Frequency::Daily:
        text = every("Every day", "days");
        break;
    case Frequency::Weekly: {
        const QString days = dayList(weekdays_ ? weekdays_ : weekdayBit(start_.dayOfWeek()));
        text = interval_ == 1 ? QStringLiteral("Every ") + days
                              : QStringLiteral("Every %1 weeks on %2").arg(interval_).arg(days);
        break;
    }
    case Frequency::Monthly: {
        const QString on = monthlyWeek_ == 0
            ? QStringLiteral("the ") + dayNumber(start_.day())
            : QStringLiteral("the %1 %2")
                  .arg(QLatin1String(monthlyWeek_ == -1 ? "last" : Ordinals[monthlyWeek_]))
                  .arg(QLatin1String(DayNames[start_.dayOfWeek()]));
        text = every("Monthly", "months") + QStringLiteral(" on ") + on;
        break;
    }
    case Frequency::Yearly:
        text = every("Every year", "years")
            + QStringLiteral(" on %1 %2").arg(start_.day()).arg(QLatin1String(MonthNames[start_.month()]));
        break;
    }
    if (!UnTimed())
        text += QStringLiteral(" at ") + time_.toString(QStringLiteral("HH:mm"));
    if (end_ == End::OnDate)
        text += QStringLiteral(" until ") + longDate(until_);
    else if (end_ == End::AfterCount)
        text += count_ == 1 ? QStringLiteral(", once") : QStringLiteral(", %1 times").arg(count_);
    return text;
}
