#include "TDavXml.h"

#include "TDavReply.h"

#include <QTimeZone>
#include <QUrl>
#include <QXmlStreamReader>

#include <array>

const QString TDavXml::Dav = QStringLiteral("DAV:");
const QString TDavXml::CalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");
const QString TDavXml::CalServer = QStringLiteral("http://calendarserver.org/ns/");

namespace {

// The start and end attributes of a time-range or expand, in UTC; either
// missing is unbounded. False when one is not written as 20270301T000000Z.
bool range(const QXmlStreamAttributes& attributes, QDateTime& start, QDateTime& end)
{
    const auto moment = [&](QLatin1StringView name, qint64 otherwise) {
        if (!attributes.hasAttribute(name))
            return QDateTime::fromSecsSinceEpoch(otherwise, QTimeZone::utc());
        QDateTime t = QDateTime::fromString(attributes.value(name).toString(), QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        t.setTimeZone(QTimeZone::utc());
        return t;
    };
    start = moment(QLatin1StringView("start"), 0);
    end = moment(QLatin1StringView("end"), Q_INT64_C(4102444800));
    return start.isValid() && end.isValid();
}

} // namespace

TDavXml::TAsked TDavXml::Parse(const QByteArray& body)
{
    TAsked asked;
    if (body.trimmed().isEmpty()) {
        asked.allProps = true;
        return asked;
    }
    QXmlStreamReader xml(body);
    int depth = 0;
    int propDepth = -1;
    bool onUid = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const QString ns = xml.namespaceUri().toString();
            const QString name = xml.name().toString();
            if (depth == 1) {
                asked.root = name;
            } else if (propDepth >= 0 && depth == propDepth + 1) {
                asked.props.append({ns, name});
            } else if (name == QLatin1String("prop") && ns == Dav && propDepth < 0) {
                propDepth = depth;
            } else if (name == QLatin1String("allprop") && ns == Dav) {
                asked.allProps = true;
            } else if (name == QLatin1String("href") && ns == Dav) {
                asked.hrefs.append(xml.readElementText().trimmed());
                --depth;
            } else if (name == QLatin1String("sync-token") && ns == Dav) {
                asked.syncToken = xml.readElementText().trimmed();
                --depth;
            } else if (name == QLatin1String("comp-filter") && ns == CalDav) {
                const QString component = xml.attributes().value(QLatin1String("name")).toString().toUpper();
                if (component != QLatin1String("VCALENDAR") && component != QLatin1String("VEVENT"))
                    asked.otherComponent = true;
            } else if (name == QLatin1String("prop-filter") && ns == CalDav) {
                onUid = xml.attributes().value(QLatin1String("name")).toString().toUpper() == QLatin1String("UID");
            } else if (name == QLatin1String("text-match") && ns == CalDav && onUid) {
                asked.uid = xml.readElementText().trimmed();
                --depth;
            } else if (name == QLatin1String("time-range") && ns == CalDav && !asked.start.isValid()) {
                if (!range(xml.attributes(), asked.start, asked.end))
                    asked.error = QStringLiteral("a time-range is written as 20270301T000000Z");
            } else if (name == QLatin1String("expand") && ns == CalDav) {
                if (!range(xml.attributes(), asked.expandStart, asked.expandEnd))
                    asked.error = QStringLiteral("an expand is written as 20270301T000000Z");
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == propDepth)
                propDepth = -1;
            --depth;
        }
    }
    if (xml.hasError())
        asked.error = xml.errorString();
    return asked;
}

QByteArray TDavXml::Escaped(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

// Bytes as XML character data; carriage returns kept as references, which a
// parser would otherwise fold into the line feeds after them. A listing
// writes every object's calendar here, a reference for each of its lines:
// written byte by byte into room made once for the worst case (every byte a
// reference of five bytes), then cut to what was written.
void TDavXml::AppendBytes(QByteArray& out, QByteArrayView text)
{
    // By byte: the reference it is written as, or none.
    static const auto references = [] {
        std::array<const char*, 256> made{};
        made['&'] = "&amp;";
        made['<'] = "&lt;";
        made['>'] = "&gt;";
        made['\r'] = "&#13;";
        return made;
    }();
    const qsizetype from = out.size();
    out.resize(from + text.size() * 5);
    char* const start = out.data();
    char* at = start + from;
    for (const char c : text) {
        const char* reference = references[static_cast<unsigned char>(c)];
        if (!reference) {
            *at++ = c;
            continue;
        }
        while (*reference)
            *at++ = *reference++;
    }
    out.resize(at - start);
}

void TDavXml::Sort(QByteArray& found, QByteArray& missing, const TName& prop, bool known, const QByteArray& value)
{
    if (known)
        found += Element(prop, value);
    else
        missing += Element(prop);
}

QByteArray TDavXml::Encoded(const QString& path)
{
    return QUrl::toPercentEncoding(path, "/@:");
}

QByteArray TDavXml::Href(const QString& path)
{
    return "<d:href>" + Encoded(path) + "</d:href>";
}

QByteArray TDavXml::Element(const TName& name, const QByteArray& content)
{
    QByteArray prefix;
    QByteArray declaration;
    if (name.first == Dav)
        prefix = "d:";
    else if (name.first == CalDav)
        prefix = "c:";
    else if (name.first == CalServer)
        prefix = "cs:";
    else
        declaration = " xmlns:x=\"" + Escaped(name.first) + '"', prefix = "x:";
    const QByteArray tag = prefix + name.second.toUtf8();
    if (content.isEmpty())
        return '<' + tag + declaration + "/>";
    return '<' + tag + declaration + '>' + content + "</" + tag + '>';
}

QByteArray TDavXml::Propstats(const QByteArray& found, const QByteArray& missing)
{
    QByteArray out;
    if (!found.isEmpty())
        out += "<d:propstat><d:prop>" + found + "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>";
    if (!missing.isEmpty())
        out += "<d:propstat><d:prop>" + missing + "</d:prop><d:status>HTTP/1.1 404 Not Found</d:status></d:propstat>";
    return out;
}

TDavReply TDavXml::Multistatus(const QByteArray& responses, const QByteArray& tail)
{
    QByteArray body = Opening();
    return Closed(std::move(body.append(responses)), tail);
}

QByteArray TDavXml::Opening()
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:multistatus xmlns:d=\"DAV:\" xmlns:c=\"" + CalDav.toUtf8()
        + "\" xmlns:cs=\"" + CalServer.toUtf8() + "\">";
}

TDavReply TDavXml::Closed(QByteArray&& body, const QByteArray& tail)
{
    TDavReply reply;
    reply.status = 207;
    reply.addHeader("Content-Type", "application/xml; charset=utf-8");
    reply.body = std::move(body.append(tail).append("</d:multistatus>\n"));
    return reply;
}

TDavReply TDavXml::Error(int status, const QByteArray& condition, const QString& text)
{
    TDavReply reply;
    reply.status = status;
    reply.addHeader("Content-Type", "application/xml; charset=utf-8");
    reply.body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:error xmlns:d=\"DAV:\">" + condition
        + "<d:responsedescription>" + Escaped(text) + "</d:responsedescription></d:error>\n";
    return reply;
}
