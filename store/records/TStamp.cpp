#include "TStamp.h"

#include "EStamp.h"
#include "TClock.h"

#include <QChar>
#include <QDate>
#include <QLocale>
#include <QTime>

#include <iterator>

namespace {

constexpr int FirstYear = 1970;
constexpr int LastYear = 2037;
constexpr qint32 SecondsPerDay = 86400;

// Seconds per unit of Increment, by unit number.
constexpr qint32 UnitLength[] = {1, 60, 3600, SecondsPerDay, 7 * SecondsPerDay};

// Month lengths in seconds for a common year.
constexpr qint32 MonthLength[] = {
    31 * SecondsPerDay, 28 * SecondsPerDay, 31 * SecondsPerDay, 30 * SecondsPerDay,
    31 * SecondsPerDay, 30 * SecondsPerDay, 31 * SecondsPerDay, 31 * SecondsPerDay,
    30 * SecondsPerDay, 31 * SecondsPerDay, 30 * SecondsPerDay, 31 * SecondsPerDay};

// Divisible by 4 is the whole rule: 2000 is the only century year in range and
// it is a leap year under the full rule too.
bool isLeapYear(int year)
{
    return year % 4 == 0;
}

qint32 yearLength(int year)
{
    return (isLeapYear(year) ? 366 : 365) * SecondsPerDay;
}

qint32 monthLength(int month, int year)
{
    return MonthLength[month - 1] + (month == 2 && isLeapYear(year) ? SecondsPerDay : 0);
}

[[noreturn]] void overflow()
{
    throw EStamp(QStringLiteral("Integer overflow"));
}

qint32 add(qint32 a, qint32 b)
{
    qint32 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        overflow();
    return sum;
}

qint32 multiply(qint32 a, qint32 b)
{
    qint32 product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        overflow();
    return product;
}

QString padded(int value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 10, QLatin1Char('0'));
}

// Longest form of each picture letter; 0 for a literal character.
int longestForm(char16_t letter)
{
    switch (letter) {
    case u'd':
    case u'm':
    case u'y':
        return 4;
    case u'h':
    case u'n':
    case u's':
        return 2;
    default:
        return 0;
    }
}

void appendField(QString& out, char16_t letter, int length, QDate date, QTime time)
{
    const QLocale locale;
    switch (letter) {
    case u'd':
        if (length <= 2)
            out += padded(date.day(), length);
        else
            out += locale.dayName(date.dayOfWeek(), length == 3 ? QLocale::ShortFormat
                                                                : QLocale::LongFormat);
        break;
    case u'm':
        if (length <= 2)
            out += padded(date.month(), length);
        else
            out += locale.monthName(date.month(), length == 3 ? QLocale::ShortFormat
                                                              : QLocale::LongFormat);
        break;
    case u'y':
        if (length <= 2)
            out += padded((date.year() % 100 + 100) % 100, 2);
        else
            out += padded(date.year(), 4);
        break;
    case u'h':
        out += padded(time.hour(), length);
        break;
    case u'n':
        out += padded(time.minute(), length);
        break;
    case u's':
        out += padded(time.second(), length);
        break;
    }
}

QString formatPicture(const QString& picture, QDate date, QTime time)
{
    QString out;
    const qsizetype size = picture.size();
    qsizetype i = 0;
    while (i < size) {
        const char16_t letter = picture.at(i).toLower().unicode();
        const int longest = longestForm(letter);
        if (longest == 0) {
            out += picture.at(i++);
            continue;
        }
        int length = 1;
        while (length < longest && i + length < size
               && picture.at(i + length).toLower().unicode() == letter)
            ++length;
        appendField(out, letter, length, date, time);
        i += length;
    }
    return out;
}

} // namespace

TStamp::TStamp()
{
    SetNow();
}

void TStamp::SetNow()
{
    SetDateTime(TClock::now());
}

void TStamp::SetDateTime(const QDateTime& dateTime)
{
    if (!dateTime.isValid()) {
        seconds_ = 0;
        throw EStamp(QStringLiteral("Invalid date or time"));
    }
    const QDate date = dateTime.date();
    const QTime time = dateTime.time();
    SetDateTime(date.year(), date.month(), date.day(), time.hour(), time.minute(),
                time.second());
}

void TStamp::SetDateTime(int year, int month, int day, int hour, int minute, int second)
{
    seconds_ = 0;
    if (year >= 0 && year <= 37)
        year += 2000;
    else if (year >= 38 && year <= 99)
        year += 1900;
    if (year < FirstYear)
        throw EStamp(QStringLiteral("Year precedes %1").arg(FirstYear));
    if (year > LastYear)
        throw EStamp(QStringLiteral("Year excedes %1").arg(LastYear));
    if (month < 1 || month > 12 || day < 1 || day > monthLength(month, year) / SecondsPerDay
        || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        throw EStamp(QStringLiteral("Invalid date or time"));

    qint32 total = 0;
    for (int y = FirstYear; y < year; ++y)
        total = add(total, yearLength(y));
    for (int m = 1; m < month; ++m)
        total = add(total, monthLength(m, year));
    total = add(total, multiply(day - 1, SecondsPerDay));
    total = add(total, multiply(hour, 3600));
    total = add(total, multiply(minute, 60));
    seconds_ = add(total, second);
    changed();
}

QDateTime TStamp::AsDateTime() const
{
    const Parts p = decode(seconds_);
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second));
}

void TStamp::SetSeconds(qint32 seconds)
{
    seconds_ = moved(0, seconds);
    changed();
}

qint32 TStamp::Seconds() const
{
    return seconds_;
}

int TStamp::Year() const
{
    return decode(seconds_).year;
}

int TStamp::Month() const
{
    return decode(seconds_).month;
}

int TStamp::Day() const
{
    return decode(seconds_).day;
}

int TStamp::Hour() const
{
    return decode(seconds_).hour;
}

int TStamp::Minute() const
{
    return decode(seconds_).minute;
}

int TStamp::Second() const
{
    return decode(seconds_).second;
}

QString TStamp::AsString() const
{
    // Formatted from the calendar parts rather than AsDateTime so that a wall
    // clock time that local time skips (a daylight-saving gap) reads as stored.
    const Parts p = decode(seconds_);
    return formatPicture(Format, QDate(p.year, p.month, p.day),
                         QTime(p.hour, p.minute, p.second));
}

QString TStamp::Key() const
{
    return QString::asprintf("%*.*d", Width, Width, seconds_);
}

QString TStamp::DayKey() const
{
    const qint32 intoDay = seconds_ % SecondsPerDay;
    return QString::asprintf("%*.*d", Width, Width, seconds_ - intoDay);
}

void TStamp::Increment(int unit, qint32 count)
{
    const bool known = unit >= 0 && unit < int(std::size(UnitLength));
    const qint32 step = multiply(count, known ? UnitLength[unit] : 0);
    seconds_ = moved(seconds_, step);
    changed();
}

void TStamp::TruncateToDay()
{
    const Parts p = decode(seconds_);
    SetDateTime(p.year, p.month, p.day, 0, 0, 0);
}

bool TStamp::IsToday() const
{
    const Parts p = decode(seconds_);
    return QDate(p.year, p.month, p.day) == TClock::now().date();
}

QString TStamp::FormatDateTime(const QString& picture, const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return QString();
    return formatPicture(picture, dateTime.date(), dateTime.time());
}

TStamp::Parts TStamp::decode(qint32 seconds)
{
    Parts p{};
    qint32 rest = seconds;
    p.year = FirstYear;
    while (p.year <= LastYear && rest >= yearLength(p.year)) {
        rest -= yearLength(p.year);
        ++p.year;
    }
    p.month = 1;
    while (p.month < 12 && rest >= monthLength(p.month, p.year)) {
        rest -= monthLength(p.month, p.year);
        ++p.month;
    }
    p.day = rest / SecondsPerDay + 1;
    p.hour = rest % SecondsPerDay / 3600;
    p.minute = rest % 3600 / 60;
    p.second = rest % 60;
    return p;
}

qint32 TStamp::moved(qint32 base, qint32 step)
{
    const qint32 result = add(base, step);
    // Counting years up from 1970 can never land before 1970, so a negative
    // count is the "before 1970" case and is refused here explicitly.
    if (result < 0 || decode(result).year > LastYear)
        throw EStamp(QStringLiteral("Increment out of range"));
    return result;
}

void TStamp::changed()
{
    if (OnChange)
        OnChange(this);
}
