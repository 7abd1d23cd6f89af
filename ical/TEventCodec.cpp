#include "TEventCodec.h"

#include "DayEntryRecord.h"
#include "TTextCapacity.h"
#include "TWallClock.h"

#include <libical/ical.h>

namespace {

constexpr qint64 SecondsPerDay = 86400;

QString textOf(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

int offsetIn(const QTimeZone& zone, qint64 utc)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, Qt::UTC));
}

int offsetIn(icaltimezone* zone, qint64 utc)
{
    icaltimetype at = icaltime_from_timet_with_zone(utc, 0, icaltimezone_get_utc_timezone());
    int daylight = 0;
    return icaltimezone_get_utc_offset_of_utc_time(zone, &at, &daylight);
}

// The moment of a wall-clock time in a zone (a time the clock skips there
// read as RFC 5545 reads it: 02:30 at 03:30).
template <typename Zone>
qint64 momentIn(const Zone& zone, const QDate& day, const QTime& time)
{
    return wallMoment(TEventCodec::WallOf(QDateTime(day, time, Qt::UTC)),
                      [&zone](qint64 utc) { return offsetIn(zone, utc); });
}

bool inStampYears(qint64 wall)
{
    const int year = TEventCodec::AsWall(wall).date().year();
    return year >= 1970 && year <= 2037;
}

QString labelOf(const QString& summary, qint64 wall, bool untimed)
{
    const QString when = TEventCodec::AsWall(wall).toString(untimed ? QStringLiteral("yyyy-MM-dd")
                                                                    : QStringLiteral("yyyy-MM-dd hh:mm"));
    return summary.isEmpty() ? when : QStringLiteral("%1, %2").arg(summary, when);
}

// `text` cut to `capacity` bytes of UTF-8, the cut said in `altered` as
// "its <what> was cut to <capacity> bytes".
QString kept(const QString& text, int capacity, const QString& what, QStringList& altered)
{
    if (TTextCapacity::fits(text, capacity))
        return text;
    altered << QStringLiteral("its %1 was cut to %2 bytes").arg(what).arg(capacity);
    return TTextCapacity::cut(text, capacity);
}

// The first line of `text` trimmed, as SUMMARY carries it.
QString firstLine(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    while (end < trimmed.size() && trimmed[end] != QLatin1Char('\n') && trimmed[end] != QLatin1Char('\r'))
        ++end;
    return end == trimmed.size() ? trimmed : trimmed.left(end).trimmed();
}

// The value of X-QUORLA-TEXT-LINES; 0 without one.
int textLinesOf(icalcomponent* event)
{
    for (icalproperty* x = icalcomponent_get_first_property(event, ICAL_X_PROPERTY); x;
         x = icalcomponent_get_next_property(event, ICAL_X_PROPERTY)) {
        if (qstricmp(icalproperty_get_x_name(x), TEventCodec::TextLinesName) == 0)
            return QByteArray(icalproperty_get_x(x)).trimmed().toInt();
    }
    return 0;
}

} // namespace

TEventCodec::TEventCodec(const QTimeZone& office)
    : office_(office)
{
}

qint64 TEventCodec::WallOf(const QDateTime& local)
{
    return QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch();
}

QDateTime TEventCodec::AsWall(qint64 wall)
{
    return QDateTime::fromSecsSinceEpoch(wall, Qt::UTC);
}

QTimeZone TEventCodec::NamedZone(const QByteArray& tzid)
{
    QByteArray name = tzid;
    static const QByteArray Prefix = "/freeassociation.sourceforge.net/";
    if (name.startsWith(Prefix))
        name = name.mid(Prefix.size());
    if (name.startsWith("Tzfile/"))
        name = name.mid(7);
    if (QTimeZone::isTimeZoneIdAvailable(name))
        return QTimeZone(name);
    // Outlook and Exchange name their zones the Windows way ("W. Europe
    // Standard Time"), often without a VTIMEZONE.
    const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(name);
    return iana.isEmpty() ? QTimeZone() : QTimeZone(iana);
}

QTimeZone TEventCodec::ZoneOf(icalproperty* property, const icaltimetype& t) const
{
    if (t.is_date || icaltime_is_utc(t))
        return office_;
    if (t.zone && t.zone != icaltimezone_get_utc_timezone()) {
        const QTimeZone named = NamedZone(icaltimezone_get_tzid(const_cast<icaltimezone*>(t.zone)));
        return named.isValid() ? named : office_;
    }
    icalparameter* tzid = property ? icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER) : nullptr;
    const QTimeZone named = tzid ? NamedZone(icalparameter_get_tzid(tzid)) : QTimeZone();
    return named.isValid() ? named : office_;
}

qint64 TEventCodec::Wall(icalproperty* property, const icaltimetype& t, bool& date) const
{
    date = t.is_date != 0;
    const QDate day(t.year, t.month, t.day);
    if (date)
        return WallOf(QDateTime(day, QTime(0, 0), Qt::UTC));
    const QTime time(t.hour, t.minute, t.second);
    if (icaltime_is_utc(t))
        return FromMoment(QDateTime(day, time, Qt::UTC).toSecsSinceEpoch());
    if (t.zone && t.zone != icaltimezone_get_utc_timezone())
        return FromMoment(momentIn(const_cast<icaltimezone*>(t.zone), day, time));
    icalparameter* tzid = property ? icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER) : nullptr;
    if (tzid) {
        const QTimeZone zone = NamedZone(icalparameter_get_tzid(tzid));
        if (zone.isValid())
            return FromMoment(momentIn(zone, day, time));
    }
    // Floating: the same wall-clock time everywhere, the office's too.
    return OfficeWall(day, time);
}

qint64 TEventCodec::OfficeWall(const QDate& day, const QTime& time) const
{
    return FromMoment(momentIn(office_, day, time));
}

qint64 TEventCodec::WallAt(const QTimeZone& zone, const QDate& day, const QTime& time) const
{
    return FromMoment(momentIn(zone, day, time));
}

qint64 TEventCodec::FromMoment(qint64 moment) const
{
    return WallOf(QDateTime::fromSecsSinceEpoch(moment, office_));
}

qint64 TEventCodec::MomentOf(qint64 wall) const
{
    const QDateTime w = AsWall(wall);
    return QDateTime(w.date(), w.time(), office_).toSecsSinceEpoch();
}

bool TEventCodec::Decode(icalcomponent* event, TDecoded& decoded, QString& reason) const
{
    const QString summary = textOf(icalcomponent_get_summary(event)).trimmed();
    icalproperty* start = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
    if (!start) {
        decoded.label = summary;
        reason = QStringLiteral("it has no start");
        return false;
    }
    decoded.wall = Wall(start, icalcomponent_get_dtstart(event), decoded.untimed);
    decoded.label = labelOf(summary, decoded.wall, decoded.untimed);
    reason.clear();
    if (!inStampYears(decoded.wall))
        reason = QStringLiteral("it lies before 1970 or after 2037");
    else if (icalcomponent_get_status(event) == ICAL_STATUS_CANCELLED)
        reason = QStringLiteral("it is cancelled");
    else if (icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY))
        reason = QStringLiteral("its extra dates (RDATE) have no form here");
    if (!reason.isEmpty())
        return false;
    decodeTexts(event, summary, decoded);
    if (icalproperty* c = icalcomponent_get_first_property(event, ICAL_CLASS_PROPERTY)) {
        const icalproperty_class kind = icalproperty_get_class(c);
        decoded.isPrivate = kind == ICAL_CLASS_PRIVATE || kind == ICAL_CLASS_CONFIDENTIAL;
    }
    if (icalproperty* c = icalcomponent_get_first_property(event, ICAL_CATEGORIES_PROPERTY)) {
        decoded.category = textOf(icalproperty_get_categories(c)).trimmed();
        decoded.moreCategories = icalcomponent_get_next_property(event, ICAL_CATEGORIES_PROPERTY) != nullptr;
    }
    decodeEnd(event, decoded);
    decodeAlarm(event, decoded);
    resourcesOf(event, decoded);
    return true;
}

void TEventCodec::decodeTexts(icalcomponent* event, const QString& summary, TDecoded& decoded) const
{
    const QString description = textOf(icalcomponent_get_description(event))
                                    .replace(QLatin1String("\r\n"), QLatin1String("\n"));
    // A text of several lines as the export writes it: the first line again
    // on top of the rest.
    const bool oneText = !description.isEmpty()
        && (summary.isEmpty() || description.trimmed() == summary
            || description.trimmed().startsWith(summary + QLatin1Char('\n')))
        && TTextCapacity::fits(description, DayEntryRecord::DescriptionCapacity);
    if (!splitTexts(event, summary, description, decoded)) {
        decoded.text = kept(oneText ? description : summary, DayEntryRecord::DescriptionCapacity,
                            QStringLiteral("summary"), decoded.altered);
        if (!oneText)
            decoded.details.notes = kept(description, TEntryDetails::MaxNotesBytes, QStringLiteral("description"),
                                         decoded.altered);
    }
    decoded.details.location = kept(textOf(icalcomponent_get_location(event)).trimmed(),
                                    TEntryDetails::MaxLocationBytes, QStringLiteral("location"), decoded.altered);
}

// A text of several lines beside notes, as Texts writes them: the text's
// lines, an empty line, the notes.
bool TEventCodec::splitTexts(icalcomponent* event, const QString& summary, const QString& description,
                             TDecoded& decoded)
{
    const int lines = textLinesOf(event);
    const QStringList all = description.split(QLatin1Char('\n'));
    if (lines <= 0 || all.size() < lines + 2 || !all[lines].isEmpty())
        return false;
    const QString text = all.mid(0, lines).join(QLatin1Char('\n'));
    if (firstLine(text) != summary || !TTextCapacity::fits(text, DayEntryRecord::DescriptionCapacity))
        return false;
    decoded.text = text;
    decoded.details.notes = kept(all.mid(lines + 1).join(QLatin1Char('\n')), TEntryDetails::MaxNotesBytes,
                                 QStringLiteral("description"), decoded.altered);
    return true;
}

void TEventCodec::resourcesOf(icalcomponent* event, TDecoded& decoded)
{
    for (icalproperty* attendee = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY); attendee;
         attendee = icalcomponent_get_next_property(event, ICAL_ATTENDEE_PROPERTY)) {
        const icalparameter* type = icalproperty_get_first_parameter(attendee, ICAL_CUTYPE_PARAMETER);
        const icalparameter_cutype kind = type ? icalparameter_get_cutype(type) : ICAL_CUTYPE_NONE;
        if (kind != ICAL_CUTYPE_ROOM && kind != ICAL_CUTYPE_RESOURCE)
            continue;
        const icalparameter* name = icalproperty_get_first_parameter(attendee, ICAL_CN_PARAMETER);
        decoded.resources << QString::fromUtf8(icalproperty_get_attendee(attendee));
        decoded.resourceNames << (name ? QString::fromUtf8(icalparameter_get_cn(name)).trimmed() : QString());
    }
}

bool TEventCodec::decodeEnd(icalcomponent* event, TDecoded& decoded) const
{
    qint64 length = 0;
    if (icalproperty* end = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY)) {
        bool date = false;
        length = Wall(end, icalcomponent_get_dtend(event), date) - decoded.wall;
    } else if (icalproperty* duration = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
        // Nominal: a day of DURATION is a day of the calendar.
        const icaldurationtype given = icalproperty_get_duration(duration);
        if (icaldurationtype_is_bad_duration(given))
            return false;
        length = icaldurationtype_as_int(given);
    } else {
        return false;
    }
    if (decoded.untimed) {
        const qint64 days = (length + SecondsPerDay - 1) / SecondsPerDay;
        decoded.details.days = int(qBound(qint64(1), days, qint64(TEntryDetails::MaxDays)));
        if (days > TEntryDetails::MaxDays)
            decoded.altered << QStringLiteral("only its first %1 days were kept").arg(TEntryDetails::MaxDays);
        return true;
    }
    const qint64 longest = qint64(TEntryDetails::MaxDays) * SecondsPerDay;
    decoded.details.durationSeconds = qint32(qBound(qint64(0), length, longest));
    if (length > longest)
        decoded.altered << QStringLiteral("its end was moved to %1 days after its start").arg(TEntryDetails::MaxDays);
    return true;
}

void TEventCodec::decodeAlarm(icalcomponent* event, TDecoded& decoded) const
{
    for (icalcomponent* a = icalcomponent_get_first_component(event, ICAL_VALARM_COMPONENT); a && !decoded.alarm;
         a = icalcomponent_get_next_component(event, ICAL_VALARM_COMPONENT)) {
        icalproperty* trigger = icalcomponent_get_first_property(a, ICAL_TRIGGER_PROPERTY);
        if (!trigger)
            continue;
        const icaltriggertype t = icalproperty_get_trigger(trigger);
        decoded.alarm = true;
        if (!icaltime_is_null_time(t.time)) {
            bool date = false;
            decoded.ringWall = Wall(trigger, t.time, date);
            continue;
        }
        qint64 from = MomentOf(decoded.wall);
        icalparameter* related = icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER);
        if (related && icalparameter_get_related(related) == ICAL_RELATED_END) {
            const icaldurationtype length = icalcomponent_get_duration(event);
            from += icaldurationtype_is_bad_duration(length) ? 0 : icaldurationtype_as_int(length);
        }
        decoded.ringWall = FromMoment(from + icaldurationtype_as_int(t.duration));
    }
    if (decoded.alarm && !inStampYears(decoded.ringWall))
        decoded.alarm = false;
}

TEntryDetails TEventCodec::Onto(TEntryDetails decoded, const TEntryDetails& stored)
{
    if (stored.durationSeconds == 0 && decoded.durationSeconds == AssumedSeconds)
        decoded.durationSeconds = 0;
    return decoded;
}

icalproperty* TEventCodec::EndProperty(const TEntryDetails& details, bool untimed, qint64 wall, int defaultSeconds)
{
    if (!untimed)
        return icalproperty_new_duration(
            icaldurationtype_from_int(details.durationSeconds > 0 ? details.durationSeconds : defaultSeconds));
    if (details.days <= 1)
        return nullptr;
    icaltimetype end = icaltime_from_timet_with_zone(wall + qint64(details.days) * SecondsPerDay, 1, nullptr);
    end.zone = nullptr;
    icalproperty* property = icalproperty_new_dtend(end);
    icalproperty_add_parameter(property, icalparameter_new_value(ICAL_VALUE_DATE));
    return property;
}

TEventCodec::TTexts TEventCodec::Texts(const QString& text, const QString& notes)
{
    TTexts texts;
    texts.summary = firstLine(text);
    if (texts.summary == text)
        texts.description = notes;
    else if (notes.isEmpty())
        texts.description = text;
    else {
        texts.description = text + QStringLiteral("\n\n") + notes;
        texts.textLines = int(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).count(QLatin1Char('\n'))) + 1;
    }
    return texts;
}

icalproperty* TEventCodec::TextLinesProperty(int lines)
{
    icalproperty* property = icalproperty_new_x(QByteArray::number(lines).constData());
    icalproperty_set_x_name(property, TextLinesName);
    return property;
}
