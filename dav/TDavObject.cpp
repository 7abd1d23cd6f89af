#include "TDavObject.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TCalendarExport.h"
#include "TEventCodec.h"
#include "TResourceParties.h"

#include <QHash>

#include <libical/ical.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr qint64 SecondsPerDay = 86400;

// Lines libical leaves whole: it folds any longer than this.
constexpr qsizetype UnfoldedMost = 72;

void appendWritten(QByteArray& out, icalproperty* property)
{
    char* written = icalproperty_as_ical_string_r(property);
    out.append(written);
    icalmemory_free_buffer(written);
}

// Appends a TEXT property's line as libical writes it: here where the value
// is printable ASCII and the line, escaped, is not folded (a comma, a
// semicolon and a backslash escaped); else set into `property` and written
// by libical. Writing a listing's lines here in place of libical's whole
// calendar is most of the time the listing takes.
void textLine(QByteArray& out, const char* name, const QByteArray& value, icalproperty* property,
              void (*set)(icalproperty*, const char*))
{
    char line[UnfoldedMost + 2];
    qsizetype length = qsizetype(std::strlen(name));
    std::memcpy(line, name, std::size_t(length));
    line[length++] = ':';
    for (const char c : value) {
        const bool escaped = c == ',' || c == ';' || c == '\\';
        if (c < ' ' || c > '~' || length + (escaped ? 2 : 1) > UnfoldedMost) {
            set(property, value.constData());
            appendWritten(out, property);
            return;
        }
        if (escaped)
            line[length++] = '\\';
        line[length++] = c;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    out.append(line, length);
}

// Writes `value` as `width` digits at `at`.
char* digits(char* at, qint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i, value /= 10)
        at[i] = char('0' + value % 10);
    return at + width;
}

// A DATE-TIME in UTC, or (`date`) the DATE, of `seconds` read as if UTC.
void timeLine(QByteArray& out, const char* name, qint64 seconds, bool date)
{
    // The civil date of the day (days since 1970 to year, month and day in
    // the proleptic Gregorian calendar, eras of 400 years from 0000-03-01).
    const qint64 day = seconds >= 0 ? seconds / SecondsPerDay : (seconds - SecondsPerDay + 1) / SecondsPerDay;
    const qint64 time = seconds - day * SecondsPerDay;
    const qint64 z = day + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shifted = (5 * dayOfYear + 2) / 153;
    const qint64 month = shifted < 10 ? shifted + 3 : shifted - 9;
    const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[32];
    char* at = text;
    for (const char* c = date ? ";VALUE=DATE:" : ":"; *c; ++c)
        *at++ = *c;
    at = digits(digits(digits(at, year, 4), month, 2), dayOfYear - (153 * shifted + 2) / 5 + 1, 2);
    if (!date) {
        *at++ = 'T';
        at = digits(digits(digits(at, time / 3600, 2), time / 60 % 60, 2), time % 60, 2);
        *at++ = 'Z';
    }
    *at++ = '\r';
    *at++ = '\n';
    out.append(name).append(text, at - text);
}

} // namespace

// The properties libical writes where a line is not plain, made once and
// set anew for each entry, and the calendar's text around the event.
struct TDavObject::TParts
{
    icalproperty* uid = nullptr;
    icalproperty* location = nullptr;
    icalproperty* summary = nullptr;
    icalproperty* description = nullptr;
    icalproperty* textLines = nullptr;
    icalproperty* categories = nullptr;
    icalproperty* privacy = nullptr;
    icalcomponent* alarm = nullptr;
    icalproperty* alarmText = nullptr;
    icalproperty* trigger = nullptr;
    QByteArray head;
    QByteArray tail;
    // The DURATION lines written so far, by length (durationLine).
    QHash<int, QByteArray> durations;
};

TDavObject::TDavObject()
    : parts_(std::make_unique<TParts>())
{
    TParts& p = *parts_;
    icalcomponent* calendar = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
    icalcomponent_add_property(calendar, icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar, icalproperty_new_prodid("-//KLV//Quorla//EN"));
    // The calendar's text around its event, as the export writes it: the
    // event alone is written for each entry.
    char* around = icalcomponent_as_ical_string_r(calendar);
    const QByteArray text(around);
    icalmemory_free_buffer(around);
    icalcomponent_free(calendar);
    const qsizetype end = text.indexOf("END:VCALENDAR");
    p.head = text.left(end);
    p.tail = text.mid(end);
    p.uid = icalproperty_new_uid("");
    p.location = icalproperty_new_location("");
    p.summary = icalproperty_new_summary("");
    p.description = icalproperty_new_description("");
    p.textLines = TEventCodec::TextLinesProperty(0);
    p.categories = icalproperty_new_categories("");
    p.privacy = icalproperty_new_class(ICAL_CLASS_PRIVATE);
    p.alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
    icalcomponent_add_property(p.alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
    p.alarmText = icalproperty_new_description("");
    icalcomponent_add_property(p.alarm, p.alarmText);
    p.trigger = icalproperty_new_trigger(icaltriggertype_from_int(0));
    icalcomponent_add_property(p.alarm, p.trigger);
}

TDavObject::~TDavObject()
{
    TParts& p = *parts_;
    for (icalproperty* property : {p.uid, p.location, p.summary, p.description, p.textLines, p.categories, p.privacy})
        icalproperty_free(property);
    icalcomponent_free(p.alarm);
}

namespace {

// The DURATION line of `length` seconds, written by libical once and kept in
// `written`: a listing's entries last one of a few lengths, and libical's
// writing of one is slow.
const QByteArray& durationLine(QHash<int, QByteArray>& written, int length)
{
    QByteArray& line = written[length];
    if (line.isEmpty()) {
        char* duration = icaldurationtype_as_ical_string_r(icaldurationtype_from_int(length));
        line = QByteArray("DURATION:").append(duration).append("\r\n");
        icalmemory_free_buffer(duration);
    }
    return line;
}

} // namespace

QByteArray TDavObject::Text(const DayEntryRecord& entry, const TEntryDetails& details, const QString& uid,
                            const QString& category, const QString& alarmTime,
                            const std::function<qint64(qint64)>& momentOf, const QStringList& resources,
                            const TResourceParties* parties)
{
    TParts& p = *parts_;
    const qint64 wall = RecordKey::parse(entry.StartTime());
    const bool untimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
    const qint64 start = untimed ? wall : momentOf(wall);
    QByteArray out;
    out.reserve(p.head.size() + 512 + details.notes.size() * 2);
    out.append(p.head).append("BEGIN:VEVENT\r\n");
    textLine(out, "UID", uid.toUtf8(), p.uid, icalproperty_set_uid);
    // Stable, so that the object's bytes change only when the entry does.
    timeLine(out, "DTSTAMP", untimed ? momentOf(wall) : start, false);
    // The end as TEventCodec::EndProperty writes it; a date event of one day
    // keeps its DTEND of the next day.
    timeLine(out, "DTSTART", start, untimed);
    if (untimed) {
        timeLine(out, "DTEND", wall + std::max(details.days, 1) * SecondsPerDay, true);
    } else {
        const int length = details.durationSeconds > 0 ? details.durationSeconds : TEventCodec::AssumedSeconds;
        out.append(durationLine(p.durations, length));
    }
    if (!details.location.isEmpty())
        textLine(out, "LOCATION", details.location.toUtf8(), p.location, icalproperty_set_location);
    const TEventCodec::TTexts texts = TEventCodec::Texts(entry.Description(), details.notes);
    const QByteArray summary = texts.summary.toUtf8();
    textLine(out, "SUMMARY", summary, p.summary, icalproperty_set_summary);
    if (!texts.description.isEmpty())
        textLine(out, "DESCRIPTION", texts.description.toUtf8(), p.description, icalproperty_set_description);
    if (texts.textLines > 0) {
        icalproperty_set_x(p.textLines, QByteArray::number(texts.textLines).constData());
        appendWritten(out, p.textLines);
    }
    if (!category.isEmpty()) {
        icalproperty_set_categories(p.categories, category.toUtf8().constData());
        appendWritten(out, p.categories);
    }
    if (entry.Flags() & DayEntryRecord::Private)
        appendWritten(out, p.privacy);
    for (const QString& resource : parties ? resources : QStringList()) {
        icalproperty* attendee = parties->Attendee(resource);
        appendWritten(out, attendee);
        icalproperty_free(attendee);
    }
    if (!alarmTime.isEmpty()) {
        const qint64 ring = momentOf(RecordKey::parse(alarmTime));
        icalproperty_set_description(p.alarmText, summary.constData());
        icalproperty_set_trigger(p.trigger, TCalendarExport::AlarmTrigger(start, ring, untimed));
        char* alarm = icalcomponent_as_ical_string_r(p.alarm);
        out.append(alarm);
        icalmemory_free_buffer(alarm);
    }
    out.append("END:VEVENT\r\n").append(p.tail);
    if (!category.isEmpty())
        TCalendarExport::EscapeCategories(out);
    return out;
}
