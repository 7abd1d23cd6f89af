#include "TDavExpand.h"

#include <libical/ical.h>

#include <QList>
#include <QSet>

#include <cstring>

namespace {

icaltimezone* utc()
{
    return icaltimezone_get_utc_timezone();
}

// `t` in UTC; a date stays a date.
icaltimetype inUtc(icaltimetype t)
{
    return t.is_date ? t : icaltime_convert_to_zone(t, utc());
}

qint64 secondsOf(icaltimetype t)
{
    return qint64(icaltime_as_timet_with_zone(t, t.is_date || !t.zone ? utc() : t.zone));
}

void removeAll(icalcomponent* event, icalproperty_kind kind)
{
    for (icalproperty* p = icalcomponent_get_first_property(event, kind); p;
         p = icalcomponent_get_first_property(event, kind)) {
        icalcomponent_remove_property(event, p);
        icalproperty_free(p);
    }
}

// Replaces every `kind` property of `event` by one of `value` made by `make`
// (a TZID parameter goes with the old one).
void replace(icalcomponent* event, icalproperty_kind kind, icaltimetype value, icalproperty* (*make)(icaltimetype))
{
    removeAll(event, kind);
    icalcomponent_add_property(event, make(value));
}

// One instance of `event` starting at `start` (its length kept), in UTC.
icalcomponent* instance(icalcomponent* event, icaltimetype start, icaltimetype recurrenceId)
{
    const icaltimetype begin = icalcomponent_get_dtstart(event);
    const bool hasEnd = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY) != nullptr;
    const qint64 length = hasEnd ? secondsOf(icalcomponent_get_dtend(event)) - secondsOf(begin) : 0;
    icalcomponent* copy = icalcomponent_new_clone(event);
    for (icalproperty_kind kind : {ICAL_RRULE_PROPERTY, ICAL_RDATE_PROPERTY, ICAL_EXDATE_PROPERTY})
        removeAll(copy, kind);
    const icaltimetype first = inUtc(start);
    replace(copy, ICAL_DTSTART_PROPERTY, first, icalproperty_new_dtstart);
    if (hasEnd) {
        icaltimetype end = icaltime_from_timet_with_zone(time_t(secondsOf(first) + length), first.is_date, utc());
        replace(copy, ICAL_DTEND_PROPERTY, end, icalproperty_new_dtend);
    }
    replace(copy, ICAL_RECURRENCEID_PROPERTY, inUtc(recurrenceId), icalproperty_new_recurrenceid);
    return copy;
}

struct TExpansion
{
    icalcomponent* master = nullptr;
    icalcomponent* out = nullptr;
    QSet<qint64> changed; // the rule days an instance changed alone takes
};

void addRuleDay(icalcomponent*, icaltime_span* span, void* data)
{
    auto& expansion = *static_cast<TExpansion*>(data);
    const icaltimetype dtstart = icalcomponent_get_dtstart(expansion.master);
    const icaltimetype start = icaltime_from_timet_with_zone(span->start, dtstart.is_date, utc());
    if (!expansion.changed.contains(secondsOf(start)))
        icalcomponent_add_component(expansion.out, instance(expansion.master, start, start));
}

bool overlaps(icalcomponent* event, qint64 from, qint64 to)
{
    const icaltimetype start = icalcomponent_get_dtstart(event);
    const qint64 begin = secondsOf(start);
    const bool hasEnd = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY)
        || icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY);
    const qint64 end = hasEnd ? secondsOf(icalcomponent_get_dtend(event)) : begin + (start.is_date ? 86400 : 0);
    return begin < to && (end > from || (end == begin && begin >= from));
}

} // namespace

QByteArray DavExpanded(const QByteArray& calendar, qint64 fromUtc, qint64 toUtc)
{
    icalcomponent* whole = icalparser_parse_string(calendar.constData());
    if (!whole)
        return calendar;
    TExpansion expansion;
    expansion.out = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
    for (icalproperty* p = icalcomponent_get_first_property(whole, ICAL_ANY_PROPERTY); p;
         p = icalcomponent_get_next_property(whole, ICAL_ANY_PROPERTY))
        icalcomponent_add_property(expansion.out, icalproperty_new_clone(p));
    QList<icalcomponent*> changed;
    for (icalcomponent* event = icalcomponent_get_first_component(whole, ICAL_VEVENT_COMPONENT); event;
         event = icalcomponent_get_next_component(whole, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
            changed << event;
        else
            expansion.master = event;
    }
    for (icalcomponent* event : std::as_const(changed)) {
        const icaltimetype id = icalcomponent_get_recurrenceid(event);
        expansion.changed.insert(secondsOf(id));
        if (overlaps(event, fromUtc, toUtc))
            icalcomponent_add_component(expansion.out, instance(event, icalcomponent_get_dtstart(event), id));
    }
    if (expansion.master) {
        if (icalcomponent_get_first_property(expansion.master, ICAL_RRULE_PROPERTY)
            || icalcomponent_get_first_property(expansion.master, ICAL_RDATE_PROPERTY)) {
            icalcomponent_foreach_recurrence(expansion.master, icaltime_from_timet_with_zone(time_t(fromUtc), 0, utc()),
                                             icaltime_from_timet_with_zone(time_t(toUtc), 0, utc()), addRuleDay,
                                             &expansion);
        } else if (overlaps(expansion.master, fromUtc, toUtc)) {
            icalcomponent* copy = icalcomponent_new_clone(expansion.master);
            replace(copy, ICAL_DTSTART_PROPERTY, inUtc(icalcomponent_get_dtstart(copy)), icalproperty_new_dtstart);
            icalcomponent_add_component(expansion.out, copy);
        }
    }
    char* text = icalcomponent_as_ical_string_r(expansion.out);
    const QByteArray written(text);
    icalmemory_free_buffer(text);
    icalcomponent_free(expansion.out);
    icalcomponent_free(whole);
    return written;
}
