#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct TDavReply;

// The XML of WebDAV and CalDAV as the service reads and writes it: what a
// PROPFIND or REPORT body asks (read with QXmlStreamReader; any element the
// service does not know is passed over), and the pieces of a multistatus
// answer, written directly with the prefixes d: (DAV:), c: (CalDAV) and cs:
// (CalendarServer).
class TDavXml
{
public:
    TDavXml() = delete;

    static const QString Dav;
    static const QString CalDav;
    static const QString CalServer;

    // A property: namespace and local name.
    using TName = QPair<QString, QString>;

    // What a PROPFIND or REPORT body asks.
    struct TAsked
    {
        // The root element's local name; empty for an empty body (allprop).
        QString root;
        QList<TName> props;
        bool allProps = false;
        QStringList hrefs;
        QString syncToken;
        // A time-range, when there is one.
        QDateTime start;
        QDateTime end;
        // calendar-data's expand: each series given as its instances from
        // expandStart to expandEnd, in UTC (invalid when not asked).
        QDateTime expandStart;
        QDateTime expandEnd;
        // A comp-filter names a component other than VCALENDAR and VEVENT.
        bool otherComponent = false;
        // A prop-filter on UID: the text it matches.
        QString uid;
        // Why the body is not well-formed XML; empty when it is.
        QString error;
    };
    static TAsked Parse(const QByteArray& body);

    // Text as XML character data.
    static QByteArray Escaped(const QString& text);
    // Appends bytes as XML character data, carriage returns kept.
    static void AppendBytes(QByteArray& out, QByteArrayView text);
    // A path percent-encoded, as a <d:href> holds it.
    static QByteArray Encoded(const QString& path);
    // <d:href> of a path, percent-encoded.
    static QByteArray Href(const QString& path);
    // A property element, empty or holding `content`.
    static QByteArray Element(const TName& name, const QByteArray& content = QByteArray());
    // Adds `prop` to the properties found, with `value`, when `known`; else
    // to those not found.
    static void Sort(QByteArray& found, QByteArray& missing, const TName& prop, bool known, const QByteArray& value);
    // The propstat of the properties found (200) and of those not (404).
    static QByteArray Propstats(const QByteArray& found, const QByteArray& missing);
    // A 207 answer holding `responses`, then `tail` (a sync token).
    static TDavReply Multistatus(const QByteArray& responses, const QByteArray& tail = QByteArray());
    // The same written in place: the responses appended to Opening(), then
    // Closed.
    static QByteArray Opening();
    static TDavReply Closed(QByteArray&& body, const QByteArray& tail = QByteArray());
    // A DAV:error answer naming the failed `condition`, with `text`.
    static TDavReply Error(int status, const QByteArray& condition, const QString& text);
};
