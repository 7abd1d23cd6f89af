#pragma once

// Helpers of the iCalendar tests: an export of the test year, and the moments
// libical reads from a calendar.

#include "RecordKey.h"
#include "TCalendarExport.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <libical/ical.h>

// Users U1, U2, ... (keys from 1) with these full names and rights (none
// past the list's end).
inline void addUsers(TQuorlaDB& db, const QStringList& fullNames, const QList<qint32>& rights)
{
    for (int i = 0; i < fullNames.size(); ++i) {
        UserRecord user;
        user.setUserName(QStringLiteral("U%1").arg(i + 1));
        user.setFullName(fullNames[i]);
        user.setRights(rights.value(i));
        db.Users().Insert(user.bytes());
    }
}

// An export of 2027 for user `user`, in `zone` ("": the database's).
inline TCalendarExport exportOf(TQuorlaDB& db, int user, const QByteArray& zone)
{
    TCalendarExport calendar;
    calendar.StartDate = QDate(2027, 1, 1);
    calendar.EndDate = QDate(2027, 12, 31);
    calendar.Zone = zone;
    calendar.CurrentUserKey = RecordKey::format(user);
    db.Users().GetEqual(calendar.CurrentUser.bytes(), 0, calendar.CurrentUserKey);
    return calendar;
}

inline QString utcMoment(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyyMMddThhmmssZ"));
}

// "start | summary": the start in UTC, or the date of an all-day event.
inline QString occurrenceLine(qint64 at, bool untimed, const char* summary)
{
    return (untimed ? QDateTime::fromSecsSinceEpoch(at, Qt::UTC).toString(QStringLiteral("yyyyMMdd")) : utcMoment(at))
        + QStringLiteral(" | ") + QString::fromUtf8(summary);
}

// The moments of a calendar's events as libical expands them (RRULE, EXDATE,
// and each RECURRENCE-ID event in place of the occurrence it names), in
// order, as occurrence lines.
inline QStringList libicalOccurrences(const QByteArray& text)
{
    QStringList found;
    icalcomponent* calendar = icalparser_parse_string(text.constData());
    if (!calendar)
        return found;
    struct Walk
    {
        QStringList* found;
        QSet<qint64> replaced;
        bool untimed;
    };
    // The moment of a RECURRENCE-ID or EXDATE: libical 3.0 leaves their
    // TZID unresolved (and its expansion then takes them as UTC).
    const auto moment = [calendar](icalproperty* p, icaltimetype t) {
        if (icalparameter* tzid = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER))
            t.zone = icalcomponent_get_timezone(calendar, icalparameter_get_tzid(tzid));
        return qint64(icaltime_as_timet_with_zone(t, t.zone ? t.zone : icaltimezone_get_utc_timezone()));
    };
    QSet<qint64> replaced;
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
         e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY)) {
            replaced.insert(moment(icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY),
                                   icalcomponent_get_recurrenceid(e)));
            const icaltimetype start = icalcomponent_get_dtstart(e);
            found << occurrenceLine(icaltime_as_timet_with_zone(start, start.zone), start.is_date,
                                    icalcomponent_get_summary(e));
        }
    }
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
         e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY))
            continue;
        QSet<qint64> skipped = replaced;
        for (icalproperty* x = icalcomponent_get_first_property(e, ICAL_EXDATE_PROPERTY); x;
             x = icalcomponent_get_next_property(e, ICAL_EXDATE_PROPERTY)) {
            skipped.insert(moment(x, icalproperty_get_exdate(x)));
        }
        Walk walk{&found, skipped, icalcomponent_get_dtstart(e).is_date != 0};
        icalcomponent_foreach_recurrence(
            e, icaltime_from_string("20260101T000000Z"), icaltime_from_string("20300101T000000Z"),
            [](icalcomponent* c, icaltime_span* span, void* data) {
                auto* w = static_cast<Walk*>(data);
                if (w->replaced.contains(span->start))
                    return;
                *w->found << occurrenceLine(span->start, w->untimed, icalcomponent_get_summary(c));
            },
            &walk);
    }
    icalcomponent_free(calendar);
    found.sort();
    return found;
}

