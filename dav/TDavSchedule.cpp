#include "TDavSchedule.h"

#include "RecordKey.h"
#include "TBusyTimes.h"
#include "TDavReply.h"
#include "TDavXml.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TResourceParties.h"
#include "UserRecord.h"

#include <QDateTime>
#include <QUrl>

#include <libical/ical.h>

#include <algorithm>
#include <memory>

namespace {

struct TFree
{
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using TComponent = std::unique_ptr<icalcomponent, TFree>;

icaltimetype utc(qint64 seconds)
{
    return icaltime_from_timet_with_zone(time_t(seconds), 0, icaltimezone_get_utc_timezone());
}

QByteArray textOf(icalcomponent* component)
{
    char* text = icalcomponent_as_ical_string_r(component);
    QByteArray out(text);
    icalmemory_free_buffer(text);
    return out;
}

// A calendar holding `inner`, as the service writes its calendars.
TComponent calendarOf(icalcomponent* inner, bool reply)
{
    TComponent calendar(icalcomponent_new_vcalendar());
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//KLV//Quorla//EN"));
    if (reply)
        icalcomponent_add_property(calendar.get(), icalproperty_new_method(ICAL_METHOD_REPLY));
    icalcomponent_add_component(calendar.get(), inner);
    return calendar;
}

// A VFREEBUSY over start..end with a FREEBUSY period for each busy one.
icalcomponent* freeBusy(qint64 start, qint64 end, const TDavSchedule::TPeriods& busy)
{
    icalcomponent* component = icalcomponent_new_vfreebusy();
    icalcomponent_add_property(component, icalproperty_new_dtstamp(utc(QDateTime::currentSecsSinceEpoch())));
    icalcomponent_add_property(component, icalproperty_new_dtstart(utc(start)));
    icalcomponent_add_property(component, icalproperty_new_dtend(utc(end)));
    for (const auto& [from, to] : busy) {
        icalperiodtype period = icalperiodtype_null_period();
        period.start = utc(from);
        period.end = utc(to);
        icalproperty* property = icalproperty_new_freebusy(period);
        icalproperty_add_parameter(property, icalparameter_new_fbtype(ICAL_FBTYPE_BUSY));
        icalcomponent_add_property(component, property);
    }
    return component;
}

QByteArray statusElement(const char* status)
{
    return QByteArray("<c:request-status>") + status + "</c:request-status>";
}

TDavReply scheduleError(const char* condition, const QString& text)
{
    return TDavXml::Error(403, QByteArray("<c:") + condition + " xmlns:c=\"urn:ietf:params:xml:ns:caldav\"/>", text);
}

// CUTYPE of a calendar user.
icalparameter_cutype calendarUserType(const TDavSchedule::TWho& who)
{
    switch (who.kind) {
    case TDavSchedule::TWho::Kind::Room:
        return ICAL_CUTYPE_ROOM;
    case TDavSchedule::TWho::Kind::Resource:
        return ICAL_CUTYPE_RESOURCE;
    default:
        return ICAL_CUTYPE_INDIVIDUAL;
    }
}

} // namespace

TDavSchedule::TDavSchedule(TQuorlaDB& database, const UserRecord& asker, const QString& askerKey,
                           const QString& identity, const QTimeZone& zone, std::function<qint64(qint64)> momentOf)
    : database_(database), asker_(asker), askerKey_(askerKey), identity_(identity), zone_(zone),
      momentOf_(std::move(momentOf))
{
}

QString TDavSchedule::PrincipalPath(const TWho& who)
{
    return QStringLiteral("/dav/principals/%1/").arg(who.name);
}

QString TDavSchedule::AddressOf(const TWho& who) const
{
    const bool person = who.kind == TWho::Kind::Person;
    return QStringLiteral("urn:x-quorla:%1:%2:%3").arg(identity_, person ? QStringLiteral("user") : QStringLiteral("resource"), who.key);
}

TResourceParties& TDavSchedule::parties()
{
    if (!parties_)
        parties_ = std::make_shared<TResourceParties>(database_, identity_);
    return *parties_;
}

QString TDavSchedule::ResourceName(const QString& resourceKey)
{
    return QStringLiteral("resource-") + resourceKey;
}

std::optional<TDavSchedule::TWho> TDavSchedule::Resource(const QString& name)
{
    const QString prefix = ResourceName(QString());
    const std::optional<TResourceParties::TResource> found
        = name.startsWith(prefix) ? parties().Find(name.mid(prefix.size())) : std::nullopt;
    if (!found)
        return std::nullopt;
    return TWho{found->key, name, found->name, found->room ? TWho::Kind::Room : TWho::Kind::Resource};
}

std::optional<TDavSchedule::TWho> TDavSchedule::Person(const QString& name)
{
    UserRecord user;
    if (name.isEmpty() || !TLookup::Equal(database_.Users(), user.bytes(), UserRecord::UserNameIndex, UserRecord::NameOf(name)))
        return std::nullopt;
    return TWho{database_.Users().CurrentKey(), user.UserName(), user.FullName()};
}

std::optional<TDavSchedule::TWho> TDavSchedule::Addressed(const QString& address)
{
    const QString userUri = QStringLiteral("urn:x-quorla:%1:user:").arg(identity_);
    if (const std::optional<TResourceParties::TResource> resource = parties().Addressed(address))
        return Resource(ResourceName(resource->key));
    if (address.startsWith(userUri, Qt::CaseInsensitive)) {
        const QString key = address.mid(userUri.size());
        UserRecord user;
        if (key.size() != 10 || !database_.Users().GetEqual(user.bytes(), 0, key))
            return std::nullopt;
        return TWho{key, user.UserName(), user.FullName()};
    }
    // The principal, by its path or its URL.
    const QStringList parts = QUrl(address).path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() == 3 && parts[0] == QLatin1String("dav") && parts[1] == QLatin1String("principals"))
        return parts[2].startsWith(ResourceName(QString())) ? Resource(parts[2]) : Person(parts[2]);
    return std::nullopt;
}

TDavSchedule::TPeriods TDavSchedule::Busy(const TWho& who, qint64 startUtc, qint64 endUtc)
{
    const auto wallOf = [this](qint64 moment) {
        return moment + zone_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(moment, QTimeZone::utc()));
    };
    // An hour more each side for a change of the offset; cut to the range
    // once in UTC.
    const qint64 from = std::max<qint64>(0, wallOf(startUtc) - 3600);
    const qint64 to = wallOf(endUtc) + 3600;
    TBusyTimes times(database_, asker_, askerKey_);
    times.SetBookingsReader(TBusyTimes::StoredBookings(database_));
    const bool person = who.kind == TWho::Kind::Person;
    const QList<TBusyInterval> taken
        = (person ? times.People({who.key}, from, to) : times.Resources({who.key}, from, to)).value(who.key);
    TPeriods busy;
    for (const TBusyInterval& one : taken) {
        const qint64 begin = momentOf_(one.start);
        const qint64 end = momentOf_(one.end);
        if (begin < endUtc && end > startUtc)
            busy.append({std::max(begin, startUtc), std::min(end, endUtc)});
    }
    return Merged(busy);
}

TDavSchedule::TPeriods TDavSchedule::Merged(TPeriods periods)
{
    std::sort(periods.begin(), periods.end());
    TPeriods merged;
    for (const auto& period : std::as_const(periods)) {
        if (!merged.isEmpty() && period.first <= merged.last().second)
            merged.last().second = std::max(merged.last().second, period.second);
        else
            merged.append(period);
    }
    return merged;
}

TDavReply TDavSchedule::FreeBusyReport(const TWho& who, qint64 startUtc, qint64 endUtc)
{
    const TComponent calendar = calendarOf(freeBusy(startUtc, endUtc, Busy(who, startUtc, endUtc)), false);
    TDavReply reply;
    reply.addHeader("Content-Type", "text/calendar; charset=utf-8");
    reply.body = textOf(calendar.get());
    return reply;
}

TDavReply TDavSchedule::OutboxPost(const TWho& asker, const QByteArray& body)
{
    const TComponent calendar(icalparser_parse_string(body.constData()));
    icalcomponent* request = calendar ? icalcomponent_get_first_component(calendar.get(), ICAL_VFREEBUSY_COMPONENT)
                                      : nullptr;
    if (!request || icalcomponent_get_method(calendar.get()) != ICAL_METHOD_REQUEST)
        return scheduleError("valid-scheduling-message",
                             QStringLiteral("The outbox takes a VFREEBUSY request (METHOD:REQUEST) only."));
    icalproperty* organizer = icalcomponent_get_first_property(request, ICAL_ORGANIZER_PROPERTY);
    const QString from = organizer ? QString::fromUtf8(icalproperty_get_organizer(organizer)) : QString();
    const std::optional<TWho> sender = Addressed(from);
    if (!sender || sender->key != asker.key)
        return scheduleError("organizer-allowed",
                             QStringLiteral("The ORGANIZER of a request is %1.").arg(AddressOf(asker)));
    const icaltimetype start = icalcomponent_get_dtstart(request);
    const icaltimetype end = icalcomponent_get_dtend(request);
    if (icaltime_is_null_time(start) || icaltime_is_null_time(end) || icaltime_compare(start, end) >= 0)
        return scheduleError("valid-scheduling-message",
                             QStringLiteral("A VFREEBUSY request has a DTSTART before its DTEND."));
    // Named first: a component has one property iterator, which the
    // answers' own look-ups move.
    QStringList recipients;
    for (icalproperty* attendee = icalcomponent_get_first_property(request, ICAL_ATTENDEE_PROPERTY); attendee;
         attendee = icalcomponent_get_next_property(request, ICAL_ATTENDEE_PROPERTY))
        recipients << QString::fromUtf8(icalproperty_get_attendee(attendee));
    QByteArray responses;
    for (const QString& recipient : std::as_const(recipients))
        responses += recipientResponse(recipient, request);
    if (responses.isEmpty())
        return scheduleError("recipient-specified", QStringLiteral("A VFREEBUSY request names its ATTENDEEs."));
    TDavReply reply;
    reply.addHeader("Content-Type", "application/xml; charset=utf-8");
    reply.body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<c:schedule-response xmlns:d=\"DAV:\" "
                 "xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
        + responses + "</c:schedule-response>";
    return reply;
}

QByteArray TDavSchedule::recipientResponse(const QString& address, icalcomponent* request)
{
    QByteArray out = "<c:response><c:recipient>" + TDavXml::Href(address) + "</c:recipient>";
    const std::optional<TWho> who = Addressed(address);
    if (!who)
        return out + statusElement("3.7;Invalid calendar user") + "</c:response>";
    const qint64 start = icaltime_as_timet_with_zone(icalcomponent_get_dtstart(request), icaltimezone_get_utc_timezone());
    const qint64 end = icaltime_as_timet_with_zone(icalcomponent_get_dtend(request), icaltimezone_get_utc_timezone());
    icalcomponent* answer = freeBusy(start, end, Busy(*who, start, end));
    if (const char* uid = icalcomponent_get_uid(request))
        icalcomponent_set_uid(answer, uid);
    if (icalproperty* organizer = icalcomponent_get_first_property(request, ICAL_ORGANIZER_PROPERTY))
        icalcomponent_add_property(answer, icalproperty_new_clone(organizer));
    icalproperty* attendee = icalproperty_new_attendee(address.toUtf8().constData());
    icalproperty_add_parameter(attendee, icalparameter_new_cn(who->fullName.toUtf8().constData()));
    icalproperty_add_parameter(attendee, icalparameter_new_cutype(calendarUserType(*who)));
    icalcomponent_add_property(answer, attendee);
    const TComponent calendar = calendarOf(answer, true);
    out += statusElement("2.0;Success") + "<c:calendar-data>";
    TDavXml::AppendBytes(out, textOf(calendar.get()));
    return out + "</c:calendar-data></c:response>";
}
