#include "TDavObject.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"

namespace {

constexpr qint64 SecondsPerDay = 86400;

// RFC 5545 text: backslash, semicolon, comma and line breaks escaped.
QByteArray icalText(const QString& text)
{
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size() + 8);
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case ';': out += "\\;"; break;
        case ',': out += "\\,"; break;
        case '\n': out += "\\n"; break;
        case '\r': break;
        default: out += c;
        }
    }
    return out;
}

// A content line folded at 75 octets, never inside a UTF-8 sequence.
void addLine(QByteArray& out, const QByteArray& line)
{
    qsizetype at = 0;
    qsizetype room = 75;
    while (line.size() - at > room) {
        qsizetype cut = at + room;
        while (cut > at && (uchar(line[cut]) & 0xC0) == 0x80)
            --cut;
        out += line.mid(at, cut - at) + "\r\n ";
        at = cut;
        room = 74;
    }
    out += line.mid(at) + "\r\n";
}

// The civil date of a day count since 1970-01-01 (proleptic Gregorian).
void civil(qint64 days, int& year, int& month, int& day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shifted = (5 * dayOfYear + 2) / 153;
    day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
    month = int(shifted < 10 ? shifted + 3 : shifted - 9);
    year = int(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

void digits(char* at, int value, int count)
{
    for (int i = count - 1; i >= 0; --i, value /= 10)
        at[i] = char('0' + value % 10);
}

// Seconds since 1970 as 20270301 or 20270301T093000Z.
QByteArray stampText(qint64 seconds, bool withTime)
{
    const qint64 days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const qint64 rest = seconds - days * 86400;
    int year = 0;
    int month = 0;
    int day = 0;
    civil(days, year, month, day);
    char text[16];
    digits(text, year, 4);
    digits(text + 4, month, 2);
    digits(text + 6, day, 2);
    if (!withTime)
        return QByteArray(text, 8);
    text[8] = 'T';
    digits(text + 9, int(rest / 3600), 2);
    digits(text + 11, int(rest % 3600 / 60), 2);
    digits(text + 13, int(rest % 60), 2);
    text[15] = 'Z';
    return QByteArray(text, 16);
}

QByteArray utcText(qint64 moment)
{
    return stampText(moment, true);
}

QByteArray dateText(qint64 wall)
{
    return stampText(wall, false);
}

QByteArray duration(qint64 seconds)
{
    QByteArray out = seconds < 0 ? "-PT" : "PT";
    const qint64 length = seconds < 0 ? -seconds : seconds;
    out += QByteArray::number(length / 3600) + 'H' + QByteArray::number(length % 3600 / 60) + 'M'
        + QByteArray::number(length % 60) + 'S';
    return out;
}

} // namespace

QByteArray TDavObject::Text(const DayEntryRecord& entry, const QString& uid, const QString& category,
                            const QString& alarmTime, const std::function<qint64(qint64)>& momentOf)
{
    const qint64 wall = RecordKey::parse(entry.StartTime());
    const bool untimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
    const qint64 start = untimed ? wall : momentOf(wall);
    QByteArray out;
    out.reserve(512);
    out += "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//KLV//Quorla//EN\r\nBEGIN:VEVENT\r\n";
    addLine(out, "UID:" + icalText(uid));
    // Stable, so that the object's bytes change only when the entry does.
    out += "DTSTAMP:" + utcText(untimed ? momentOf(wall) : start) + "\r\n";
    if (untimed) {
        out += "DTSTART;VALUE=DATE:" + dateText(wall) + "\r\nDTEND;VALUE=DATE:" + dateText(wall + SecondsPerDay)
            + "\r\n";
    } else {
        out += "DTSTART:" + utcText(start) + "\r\nDURATION:PT30M\r\n";
    }
    const QString text = entry.Description();
    const QString trimmed = text.trimmed();
    const qsizetype lineEnd = trimmed.indexOf(QLatin1Char('\n'));
    const QString summary = lineEnd < 0 ? trimmed : trimmed.left(lineEnd).trimmed();
    addLine(out, "SUMMARY:" + icalText(summary));
    if (summary != text)
        addLine(out, "DESCRIPTION:" + icalText(text));
    if (!category.isEmpty())
        addLine(out, "CATEGORIES:" + icalText(category));
    if (entry.Flags() & DayEntryRecord::Private)
        out += "CLASS:PRIVATE\r\n";
    if (!alarmTime.isEmpty()) {
        const qint64 ring = momentOf(RecordKey::parse(alarmTime));
        out += "BEGIN:VALARM\r\nACTION:DISPLAY\r\n";
        addLine(out, "DESCRIPTION:" + icalText(summary));
        if (untimed)
            out += "TRIGGER;VALUE=DATE-TIME:" + utcText(ring) + "\r\n";
        else
            out += "TRIGGER:" + duration(ring - start) + "\r\n";
        out += "END:VALARM\r\n";
    }
    out += "END:VEVENT\r\nEND:VCALENDAR\r\n";
    return out;
}
