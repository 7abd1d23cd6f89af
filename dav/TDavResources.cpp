// A resource (a room, a projector) as CalDAV clients see it: a principal of
// calendar-user-type ROOM or RESOURCE, and a calendar of its bookings that
// nobody writes (a resource is booked by naming it in an event). Everyone who
// logs in may read it: a booked entry he may see is shown as he sees it in
// his own calendar, any other as its time alone, private, "Busy".
//
//   /dav/principals/resource-<KEY>/                     its principal
//   /dav/calendars/resource-<KEY>/default/              its bookings
//   /dav/calendars/resource-<KEY>/default/<ENTRY>.ics   one booking's event

#include "TDavCalendar.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TBookingStore.h"
#include "TBookingWriter.h"
#include "TCalendarExport.h"
#include "TDavObject.h"
#include "TDavReply.h"
#include "TDavRequest.h"
#include "TDavXml.h"
#include "TDetailsStore.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QUrl>

namespace {

using TName = TDavCalendar::TName;

QString calendarPath(const TDavSchedule::TWho& resource)
{
    return QStringLiteral("/dav/calendars/%1/default/").arg(resource.name);
}

QString homePath(const TDavSchedule::TWho& resource)
{
    return QStringLiteral("/dav/calendars/%1/").arg(resource.name);
}

QByteArray bookingResponse(const QString& href, const QByteArray& etag, const QByteArray& data, bool withData)
{
    QByteArray out = "<d:response>" + TDavXml::Href(href) + "<d:propstat><d:prop><d:getetag>" + etag + "</d:getetag>";
    if (withData) {
        out += "<c:calendar-data>";
        TDavXml::AppendBytes(out, data);
        out += "</c:calendar-data>";
    }
    return out + "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>";
}

TDavReply readOnly()
{
    TDavReply reply = TDavXml::Error(403, "<d:need-privileges/>",
                                     QStringLiteral("A resource's calendar is read-only: book it from an event."));
    return reply;
}

} // namespace

TDavCalendar::TTarget TDavCalendar::resourceTarget(const QStringList& parts)
{
    TTarget target{Kind::Other, parts[2].mid(TDavSchedule::ResourceName(QString()).size())};
    if (parts[1] == QLatin1String("principals") && parts.size() == 3)
        target.kind = Kind::ResourcePrincipal;
    else if (parts[1] != QLatin1String("calendars") || (parts.size() > 3 && parts[3] != QLatin1String("default")))
        target.kind = Kind::Other;
    else if (parts.size() == 3)
        target.kind = Kind::ResourceHome;
    else if (parts.size() == 4)
        target.kind = Kind::ResourceCalendar;
    else if (parts.size() == 5 && parts[4].endsWith(QLatin1String(".ics")))
        target = {Kind::ResourceObject, target.name + QLatin1Char('/') + parts[4].chopped(4)};
    return target;
}

TDavReply TDavCalendar::resourceRequest(const TDavRequest& request, const TTarget& target)
{
    const std::optional<TDavSchedule::TWho> resource
        = schedule().Resource(TDavSchedule::ResourceName(target.name.section(QLatin1Char('/'), 0, 0)));
    if (!resource)
        return TDavReply::Text(404, QStringLiteral("There is nothing at %1.").arg(request.path));
    const QByteArray& method = request.method;
    if (method == "PUT" || method == "DELETE")
        return readOnly();
    const TDavXml::TAsked asked = TDavXml::Parse(request.body);
    if (!asked.error.isEmpty())
        return TDavReply::Text(400, QStringLiteral("The request is not well-formed XML: %1").arg(asked.error));
    if (method == "GET" || method == "HEAD") {
        if (target.kind != Kind::ResourceObject)
            return TDavReply::Text(200, QStringLiteral("Bookings of %1: %2").arg(resource->fullName, calendarPath(*resource)));
        const QString entry = target.name.section(QLatin1Char('/'), 1);
        for (const TBookedObject& one : bookedObjects(resource->key, 0, 9999999999)) {
            if (one.entry != entry)
                continue;
            TDavReply reply;
            reply.addHeader("Content-Type", "text/calendar; charset=utf-8; component=vevent");
            reply.addHeader("ETag", one.etag);
            reply.body = one.data;
            return reply;
        }
        return TDavReply::Text(404, QStringLiteral("There is no such event."));
    }
    if (method == "PROPFIND") {
        QByteArray responses = resourceCollection(target.kind, *resource, asked);
        const QByteArray depth = request.header("depth").trimmed();
        if (target.kind == Kind::ResourceHome && depth == "1")
            responses += resourceCollection(Kind::ResourceCalendar, *resource, asked);
        if (target.kind == Kind::ResourceCalendar && depth == "1")
            for (const TBookedObject& one : bookedObjects(resource->key, 0, 9999999999))
                responses += bookingResponse(calendarPath(*resource) + one.entry + QStringLiteral(".ics"), one.etag,
                                            one.data, false);
        return TDavXml::Multistatus(responses);
    }
    if (method != "REPORT" || target.kind != Kind::ResourceCalendar) {
        TDavReply reply = TDavReply::Text(405, QStringLiteral("A resource's calendar is read-only."));
        reply.addHeader("Allow", "OPTIONS, GET, HEAD, PROPFIND, REPORT");
        return reply;
    }
    const bool withData = asked.props.contains(TName{TDavXml::CalDav, QStringLiteral("calendar-data")});
    const qint64 start = asked.start.isValid() ? asked.start.toSecsSinceEpoch() : 0;
    const qint64 end = asked.start.isValid() ? asked.end.toSecsSinceEpoch() : 4102444800;
    if (asked.root == QLatin1String("free-busy-query")) {
        if (!asked.start.isValid() || start >= end)
            return TDavXml::Error(403, "<c:valid-filter xmlns:c=\"urn:ietf:params:xml:ns:caldav\"/>",
                                  QStringLiteral("A free-busy-query holds a time-range whose start is before its end."));
        return schedule().FreeBusyReport(*resource, start, end);
    }
    if (asked.root != QLatin1String("calendar-query") && asked.root != QLatin1String("calendar-multiget"))
        return TDavXml::Error(403, "<d:supported-report/>",
                              QStringLiteral("Reports on a resource's calendar are calendar-query, calendar-multiget "
                                             "and free-busy-query."));
    // A day's offset either side: the bookings are kept in the office's time.
    const QList<TBookedObject> booked = bookedObjects(resource->key, std::max<qint64>(0, start - 86400), end + 86400);
    QSet<QString> named;
    for (const QString& href : asked.hrefs)
        named.insert(QUrl(QUrl::fromPercentEncoding(href.toUtf8())).path().section(QLatin1Char('/'), -1).chopped(4));
    QByteArray responses;
    for (const TBookedObject& one : booked)
        if (asked.root == QLatin1String("calendar-query") || named.contains(one.entry))
            responses += bookingResponse(calendarPath(*resource) + one.entry + QStringLiteral(".ics"), one.etag,
                                        one.data, withData);
    return TDavXml::Multistatus(responses);
}

QList<TDavCalendar::TBookedObject> TDavCalendar::bookedObjects(const QString& resourceKey, qint64 fromWall,
                                                                qint64 toWall)
{
    QList<TBookedObject> objects;
    const QList<TBookingStore::TBooking> bookings
        = TBookingStore(database_).OfResource(resourceKey, RecordKey::format(fromWall), RecordKey::format(toWall));
    QStringList keys;
    for (const TBookingStore::TBooking& one : bookings)
        keys << one.entry;
    readDetails(keys);
    for (const TBookingStore::TBooking& one : bookings)
        objects.append(bookedObject(one.entry, one.start, one.end));
    return objects;
}

TDavCalendar::TBookedObject TDavCalendar::bookedObject(const QString& entryKey, const QString& start,
                                                        const QString& end)
{
    DayEntryRecord entry;
    TBookedObject object{entryKey, QByteArray(), QByteArray()};
    if (readVisible(entryKey, entry)) {
        const TKept& shown = kept(entry, entryKey, true);
        object.etag = shown.etag;
        object.data = shown.data;
        return object;
    }
    // Hidden from him: the time it takes, nothing more.
    DayEntryRecord busy;
    database_.InitDayEntryRecord(busy);
    busy.setStartTime(start);
    busy.setDescription(QStringLiteral("Busy"));
    busy.setFlags(DayEntryRecord::Private);
    TEntryDetails details;
    details.durationSeconds = qint32(RecordKey::parse(end) - RecordKey::parse(start));
    object.data = writer()->Text(busy, details, TCalendarExport::Uid(entryKey, identity_), QString(), QString(),
                                 [this](qint64 wall) { return momentOfWall(wall); });
    object.etag = '"' + QCryptographicHash::hash(object.data, QCryptographicHash::Sha1).toHex().left(20) + '"';
    return object;
}

QByteArray TDavCalendar::resourceCollection(Kind kind, const TDavSchedule::TWho& resource, const TDavXml::TAsked& asked)
{
    const QString href = kind == Kind::ResourcePrincipal ? TDavSchedule::PrincipalPath(resource)
        : kind == Kind::ResourceHome                     ? homePath(resource)
                                                          : calendarPath(resource);
    QList<TName> wanted = asked.props;
    if (asked.allProps)
        wanted = {{TDavXml::Dav, QStringLiteral("resourcetype")}, {TDavXml::Dav, QStringLiteral("displayname")}};
    QByteArray found;
    QByteArray missing;
    for (const TName& prop : wanted) {
        const QString& n = prop.second;
        const bool dav = prop.first == TDavXml::Dav;
        const bool calDav = prop.first == TDavXml::CalDav;
        const bool principal = kind == Kind::ResourcePrincipal;
        QByteArray value;
        bool known = true;
        if (dav && n == QLatin1String("resourcetype"))
            value = principal ? "<d:principal/>" : kind == Kind::ResourceHome ? "<d:collection/>" : "<d:collection/><c:calendar/>";
        else if (dav && n == QLatin1String("displayname"))
            value = TDavXml::Escaped(resource.fullName);
        else if (dav && n == QLatin1String("current-user-principal"))
            value = TDavXml::Href(PrincipalPath(user_.UserName()));
        else if (dav && (n == QLatin1String("principal-URL") || n == QLatin1String("owner")))
            value = TDavXml::Href(TDavSchedule::PrincipalPath(resource));
        else if (calDav && n == QLatin1String("calendar-home-set") && principal)
            value = TDavXml::Href(homePath(resource));
        else if (calDav && n == QLatin1String("calendar-user-type") && principal)
            value = resource.kind == TDavSchedule::TWho::Kind::Room ? "ROOM" : "RESOURCE";
        else if (calDav && n == QLatin1String("calendar-user-address-set") && principal)
            value = TDavXml::Href(schedule().AddressOf(resource)) + TDavXml::Href(TDavSchedule::PrincipalPath(resource));
        else if (calDav && n == QLatin1String("supported-calendar-component-set") && kind == Kind::ResourceCalendar)
            value = "<c:comp name=\"VEVENT\"/>";
        else if (dav && n == QLatin1String("current-user-privilege-set") && !principal)
            value = "<d:privilege><d:read/></d:privilege>";
        else
            known = false;
        TDavXml::Sort(found, missing, prop, known, value);
    }
    return "<d:response>" + TDavXml::Href(href) + TDavXml::Propstats(found, missing) + "</d:response>";
}

QStringList TDavCalendar::resourcesNamed(const TCalendarImport::TEvent& event)
{
    QStringList keys;
    TDavSchedule addresses = schedule();
    for (const QString& address : event.resources) {
        const std::optional<TDavSchedule::TWho> who = addresses.Addressed(address);
        if (who && who->kind != TDavSchedule::TWho::Kind::Person)
            keys << who->key;
    }
    keys.sort();
    keys.removeDuplicates();
    return keys;
}

std::optional<TDavReply> TDavCalendar::claimResources(TBookingWriter& bookings, const TCalendarImport::TEvent& event,
                                                      std::optional<TBookingWriter::TClaim>& claim)
{
    const QStringList resources = resourcesNamed(event);
    if (resources.isEmpty())
        return std::nullopt;
    if (event.repeats)
        return TDavXml::Error(422, "<c:valid-calendar-object-resource xmlns:c=\"urn:ietf:params:xml:ns:caldav\"/>",
                              QStringLiteral("The event cannot be stored: a repeating event books resources on a "
                                             "workstation, where the occurrences that collide are seen."));
    DayEntryRecord entry;
    database_.InitDayEntryRecord(entry);
    fillFrom(entry, event);
    try {
        claim.emplace(bookings.Claim(QString(), resources, TBookingWriter::SpanOf(entry, event.details)));
    } catch (const TBookingWriter::ERefused& e) {
        return bookingRefused(e.message());
    }
    return std::nullopt;
}

TDavReply TDavCalendar::bookingRefused(const QString& text)
{
    QString said = text;
    return TDavReply::Text(409, said.replace(QLatin1Char('\r'), QLatin1Char('\n')));
}
