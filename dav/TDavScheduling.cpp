// The calendar's scheduling: free and busy time of the user and of his
// colleagues (RFC 4791 7.10), his scheduling outbox and inbox and the
// principal's properties that lead to them (RFC 6638).

#include "TDavCalendar.h"

#include "TDavReply.h"
#include "TDavRequest.h"
#include "TDavXml.h"

namespace {

TDavReply notAllowed(const QByteArray& allowed)
{
    TDavReply reply = TDavReply::Text(405, QStringLiteral("This collection takes %1 only.").arg(QString::fromLatin1(allowed)));
    reply.addHeader("Allow", allowed);
    return reply;
}

} // namespace

TDavSchedule TDavCalendar::schedule()
{
    return TDavSchedule(database_, user_, userKey_, identity_, zone_, [this](qint64 wall) { return momentOfWall(wall); });
}

std::optional<TDavReply> TDavCalendar::scheduling(const TDavRequest& request, const TTarget& target)
{
    const QByteArray& method = request.method;
    if (target.kind == Kind::ResourcePrincipal || target.kind == Kind::ResourceHome
        || target.kind == Kind::ResourceCalendar || target.kind == Kind::ResourceObject)
        return resourceRequest(request, target);
    if (target.kind == Kind::Outbox || target.kind == Kind::Inbox) {
        const bool outbox = target.kind == Kind::Outbox;
        if (method == "PROPFIND") {
            const TDavXml::TAsked asked = TDavXml::Parse(request.body);
            if (!asked.error.isEmpty())
                return TDavReply::Text(400, QStringLiteral("The request is not well-formed XML: %1").arg(asked.error));
            return TDavXml::Multistatus(collectionResponse(target.kind, request.path, asked.props, asked.allProps));
        }
        // Nothing is ever delivered to the inbox: a client's look finds it empty.
        if (method == "REPORT" && !outbox)
            return TDavXml::Multistatus(QByteArray());
        if (method == "POST" && outbox) {
            const std::optional<TDavSchedule::TWho> asker = schedule().Person(user_.UserName());
            if (!asker)
                return TDavReply::Text(404, QStringLiteral("There is no such user."));
            return schedule().OutboxPost(*asker, request.body);
        }
        return notAllowed(outbox ? "OPTIONS, PROPFIND, POST" : "OPTIONS, PROPFIND, REPORT");
    }
    const bool calendar = target.kind == Kind::Calendar || target.kind == Kind::OthersCalendar;
    if (method != "REPORT" || !calendar || !request.body.contains("free-busy-query"))
        return std::nullopt;
    const TDavXml::TAsked asked = TDavXml::Parse(request.body);
    if (asked.root != QLatin1String("free-busy-query") || !asked.error.isEmpty())
        return std::nullopt;
    if (!asked.start.isValid() || asked.start >= asked.end)
        return TDavXml::Error(403, "<c:valid-filter xmlns:c=\"urn:ietf:params:xml:ns:caldav\"/>",
                              QStringLiteral("A free-busy-query holds a time-range whose start is before its end."));
    const std::optional<TDavSchedule::TWho> who
        = schedule().Person(target.kind == Kind::Calendar ? user_.UserName() : target.name);
    if (!who)
        return TDavReply::Text(404, QStringLiteral("There is nothing at %1.").arg(request.path));
    return schedule().FreeBusyReport(*who, asked.start.toSecsSinceEpoch(), asked.end.toSecsSinceEpoch());
}

bool TDavCalendar::scheduleProperty(const TName& prop, QByteArray& value)
{
    if (prop.first != TDavXml::CalDav)
        return false;
    const QString& name = prop.second;
    const QString user = user_.UserName();
    if (name == QLatin1String("schedule-outbox-URL"))
        value = TDavXml::Href(HomePath(user) + QStringLiteral("outbox/"));
    else if (name == QLatin1String("schedule-inbox-URL"))
        value = TDavXml::Href(HomePath(user) + QStringLiteral("inbox/"));
    else if (name == QLatin1String("calendar-user-type"))
        value = "INDIVIDUAL";
    else if (name == QLatin1String("calendar-user-address-set"))
        value = TDavXml::Href(schedule().AddressOf({userKey_, user, user_.FullName()})) + TDavXml::Href(PrincipalPath(user));
    else
        return false;
    return true;
}
