#include "TDavObject.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TCalendarExport.h"
#include "TEventCodec.h"
#include "TResourceParties.h"

#include <libical/ical.h>

#include <algorithm>

namespace {

constexpr qint64 SecondsPerDay = 86400;

void appendWritten(QByteArray& out, icalproperty* property)
{
    char* written = icalproperty_as_ical_string_r(property);
    out.append(written);
    icalmemory_free_buffer(written);
}

// Sets `property` to `value` and appends it as libical writes it.
template <typename T>
void appendSet(QByteArray& out, icalproperty* property, void (*set)(icalproperty*, T), T value)
{
    set(property, value);
    appendWritten(out, property);
}

// A DATE-TIME in UTC, or (`date`) the DATE, of `seconds` read as if UTC.
icaltimetype timeOf(qint64 seconds, bool date)
{
    return icaltime_from_timet_with_zone(time_t(seconds), date ? 1 : 0, date ? nullptr : icaltimezone_get_utc_timezone());
}

} // namespace

// The event's properties, made once and set anew for each entry, and the
// calendar's text around the event.
struct TDavObject::TParts
{
    icalproperty* uid = nullptr;
    icalproperty* stamp = nullptr;
    icalproperty* start = nullptr;
    icalproperty* end = nullptr;
    icalproperty* duration = nullptr;
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
    p.stamp = icalproperty_new_dtstamp(timeOf(0, false));
    p.start = icalproperty_new_dtstart(timeOf(0, false));
    p.end = icalproperty_new_dtend(timeOf(0, true));
    p.duration = icalproperty_new_duration(icaldurationtype_from_int(0));
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
    for (icalproperty* property : {p.uid, p.stamp, p.start, p.end, p.duration, p.location, p.summary, p.description, p.textLines, p.categories, p.privacy})
        icalproperty_free(property);
    icalcomponent_free(p.alarm);
}

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
    appendSet(out, p.uid, icalproperty_set_uid, uid.toUtf8().constData());
    // Stable, so that the object's bytes change only when the entry does.
    appendSet(out, p.stamp, icalproperty_set_dtstamp, timeOf(untimed ? momentOf(wall) : start, false));
    // The end as TEventCodec::EndProperty writes it; a date event of one day
    // keeps its DTEND of the next day.
    appendSet(out, p.start, icalproperty_set_dtstart, timeOf(start, untimed));
    if (untimed) {
        appendSet(out, p.end, icalproperty_set_dtend, timeOf(wall + std::max(details.days, 1) * SecondsPerDay, true));
    } else {
        const int length = details.durationSeconds > 0 ? details.durationSeconds : TEventCodec::AssumedSeconds;
        appendSet(out, p.duration, icalproperty_set_duration, icaldurationtype_from_int(length));
    }
    if (!details.location.isEmpty())
        appendSet(out, p.location, icalproperty_set_location, details.location.toUtf8().constData());
    const TEventCodec::TTexts texts = TEventCodec::Texts(entry.Description(), details.notes);
    const QByteArray summary = texts.summary.toUtf8();
    appendSet(out, p.summary, icalproperty_set_summary, summary.constData());
    if (!texts.description.isEmpty())
        appendSet(out, p.description, icalproperty_set_description, texts.description.toUtf8().constData());
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
