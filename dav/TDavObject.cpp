#include "TDavObject.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TCalendarExport.h"
#include "TEventCodec.h"
#include "TResourceParties.h"

#include <libical/ical.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr qint64 SecondsPerDay = 86400;

icaltimetype utcTime(qint64 seconds)
{
    return icaltime_from_timet_with_zone(seconds, 0, icaltimezone_get_utc_timezone());
}

// The date of wall-clock seconds (read as if UTC).
icaltimetype dateOf(qint64 wall)
{
    icaltimetype t = icaltime_from_timet_with_zone(wall, 1, nullptr);
    t.zone = nullptr;
    return t;
}

} // namespace

// The event's first properties stay in it; the others are taken out after
// each object and put back, in this order, where the next entry has them.
struct TDavObject::TParts
{
    icalcomponent* calendar = nullptr;
    icalcomponent* event = nullptr;
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
    std::vector<icalproperty*> added;
    bool alarmAdded = false;
    // The calendar around the event, written once.
    QByteArray head;
    QByteArray tail;

    void add(icalproperty* property)
    {
        icalcomponent_add_property(event, property);
        added.push_back(property);
    }
};

TDavObject::TDavObject()
    : parts_(std::make_unique<TParts>())
{
    TParts& p = *parts_;
    p.calendar = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
    icalcomponent_add_property(p.calendar, icalproperty_new_version("2.0"));
    icalcomponent_add_property(p.calendar, icalproperty_new_prodid("-//KLV//Quorla//EN"));
    // The calendar's text around its event, as the export writes it: the
    // event alone is written for each entry.
    char* around = icalcomponent_as_ical_string_r(p.calendar);
    const QByteArray calendar(around);
    icalmemory_free_buffer(around);
    const qsizetype end = calendar.indexOf("END:VCALENDAR");
    p.head = calendar.left(end);
    p.tail = calendar.mid(end);
    p.event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_add_component(p.calendar, p.event);
    p.uid = icalproperty_new_uid("");
    p.stamp = icalproperty_new_dtstamp(utcTime(0));
    p.start = icalproperty_new_dtstart(utcTime(0));
    for (icalproperty* first : {p.uid, p.stamp, p.start})
        icalcomponent_add_property(p.event, first);
    p.end = icalproperty_new_dtend(dateOf(0));
    p.duration = icalproperty_new_duration(icaldurationtype_from_int(TEventCodec::AssumedSeconds));
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
    for (icalproperty* property : {p.end, p.duration, p.location, p.summary, p.description, p.textLines, p.categories,
                                    p.privacy}) {
        if (icalproperty_get_parent(property) != nullptr)
            icalcomponent_remove_property(p.event, property);
        icalproperty_free(property);
    }
    if (p.alarmAdded)
        icalcomponent_remove_component(p.event, p.alarm);
    icalcomponent_free(p.alarm);
    icalcomponent_free(p.calendar);
}

QByteArray TDavObject::Text(const DayEntryRecord& entry, const TEntryDetails& details, const QString& uid,
                            const QString& category, const QString& alarmTime,
                            const std::function<qint64(qint64)>& momentOf, const QStringList& resources,
                            const TResourceParties* parties)
{
    TParts& p = *parts_;
    for (icalproperty* property : p.added)
        icalcomponent_remove_property(p.event, property);
    p.added.clear();
    if (p.alarmAdded) {
        icalcomponent_remove_component(p.event, p.alarm);
        p.alarmAdded = false;
    }

    const qint64 wall = RecordKey::parse(entry.StartTime());
    const bool untimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
    const qint64 start = untimed ? wall : momentOf(wall);
    icalproperty_set_uid(p.uid, uid.toUtf8().constData());
    // Stable, so that the object's bytes change only when the entry does.
    icalproperty_set_dtstamp(p.stamp, utcTime(untimed ? momentOf(wall) : start));
    // The end as TEventCodec::EndProperty writes it, into the properties
    // made once; a date event of one day keeps its DTEND of the next day.
    if (untimed) {
        icalproperty_set_dtstart(p.start, dateOf(wall));
        icalproperty_set_dtend(p.end, dateOf(wall + std::max(details.days, 1) * SecondsPerDay));
        p.add(p.end);
    } else {
        icalproperty_set_dtstart(p.start, utcTime(start));
        const int length = details.durationSeconds > 0 ? details.durationSeconds : TEventCodec::AssumedSeconds;
        icalproperty_set_duration(p.duration, icaldurationtype_from_int(length));
        p.add(p.duration);
    }
    if (!details.location.isEmpty()) {
        icalproperty_set_location(p.location, details.location.toUtf8().constData());
        p.add(p.location);
    }
    const TEventCodec::TTexts texts = TEventCodec::Texts(entry.Description(), details.notes);
    const QByteArray summary = texts.summary.toUtf8();
    icalproperty_set_summary(p.summary, summary.constData());
    p.add(p.summary);
    if (!texts.description.isEmpty()) {
        icalproperty_set_description(p.description, texts.description.toUtf8().constData());
        p.add(p.description);
    }
    if (texts.textLines > 0) {
        icalproperty_set_x(p.textLines, QByteArray::number(texts.textLines).constData());
        p.add(p.textLines);
    }
    if (!category.isEmpty()) {
        icalproperty_set_categories(p.categories, category.toUtf8().constData());
        p.add(p.categories);
    }
    if (entry.Flags() & DayEntryRecord::Private)
        p.add(p.privacy);
    // Made for this object alone: freed once it is written.
    std::vector<icalproperty*> booked;
    for (const QString& resource : parties ? resources : QStringList()) {
        booked.push_back(parties->Attendee(resource));
        icalcomponent_add_property(p.event, booked.back());
    }
    if (!alarmTime.isEmpty()) {
        const qint64 ring = momentOf(RecordKey::parse(alarmTime));
        icalproperty_set_description(p.alarmText, summary.constData());
        icalproperty_set_trigger(p.trigger, TCalendarExport::AlarmTrigger(start, ring, untimed));
        icalcomponent_add_component(p.event, p.alarm);
        p.alarmAdded = true;
    }

    char* written = icalcomponent_as_ical_string_r(p.event);
    const qsizetype length = qsizetype(std::strlen(written));
    QByteArray out;
    out.reserve(p.head.size() + length + p.tail.size());
    out.append(p.head).append(written, length).append(p.tail);
    icalmemory_free_buffer(written);
    for (icalproperty* property : booked) {
        icalcomponent_remove_property(p.event, property);
        icalproperty_free(property);
    }
    if (!category.isEmpty())
        TCalendarExport::EscapeCategories(out);
    return out;
}
