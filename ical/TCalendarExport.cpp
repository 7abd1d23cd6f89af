#include "TCalendarExport.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TChangeTrail.h"
#include "TDetailsStore.h"
#include "TEventCodec.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TSeriesWriter.h"
#include "TClock.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
#include "TStamp.h"
#include "TWallClock.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QHash>
#include <QVarLengthArray>
#include <QSet>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimeZone>

#include <libical/ical.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

struct ComponentFree
{
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

constexpr qint64 SecondsPerDay = 86400;
// Entries whose details are read at once.
constexpr std::size_t DetailsBatch = 512;

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

icaltimetype utcTime(qint64 seconds)
{
    return icaltime_from_timet_with_zone(seconds, 0, icaltimezone_get_utc_timezone());
}

icaltimetype utcTime(const QDateTime& moment)
{
    return utcTime(moment.toSecsSinceEpoch());
}

// Wall-clock seconds (TStamp's count, read as if UTC) as a floating time.
icaltimetype wallTime(qint64 wall, bool dateOnly)
{
    icaltimetype t = icaltime_from_timet_with_zone(wall, dateOnly ? 1 : 0, nullptr);
    t.zone = nullptr;
    return t;
}

int offsetAt(const QTimeZone& zone, qint64 utc)
{
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, Qt::UTC));
}

// A zone's offsets from UTC, learnt once for a span of time: an export asks
// for several per entry.
class ZoneOffsets
{
public:
    ZoneOffsets(const QTimeZone& zone, qint64 from, qint64 to)
        : zone_(zone), from_(from), to_(to), first_(offsetAt(zone, from))
    {
        for (const QTimeZone::OffsetData& change : zone.transitions(QDateTime::fromSecsSinceEpoch(from, Qt::UTC),
                                                                    QDateTime::fromSecsSinceEpoch(to, Qt::UTC))) {
            changes_.push_back(change.atUtc.toSecsSinceEpoch());
            offsets_.push_back(change.offsetFromUtc);
        }
    }
    int operator()(qint64 utc) const
    {
        if (utc < from_ || utc > to_)
            return offsetAt(zone_, utc);
        const auto after = std::upper_bound(changes_.begin(), changes_.end(), utc);
        return after == changes_.begin() ? first_ : offsets_[std::size_t(after - changes_.begin() - 1)];
    }

private:
    const QTimeZone& zone_;
    qint64 from_;
    qint64 to_;
    int first_;
    std::vector<qint64> changes_;
    std::vector<int> offsets_;
};

// The VTIMEZONE of `zone` for the years `first` to `last`: the observance in
// force when they begin and each change within them, nothing of the zone's
// history before or after (some readers refuse a whole history).
icalcomponent* zoneComponent(const QTimeZone& zone, int first, int last)
{
    icalcomponent* component = icalcomponent_new(ICAL_VTIMEZONE_COMPONENT);
    icalcomponent_add_property(component, icalproperty_new_tzid(zone.id().constData()));
    const QDateTime from(QDate(first, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime to(QDate(last + 1, 1, 1), QTime(0, 0), Qt::UTC);
    QTimeZone::OffsetDataList changes;
    const QTimeZone::OffsetData inForce = zone.previousTransition(from);
    if (inForce.atUtc.isValid()) {
        changes << inForce;
    } else {
        // A zone without a change before the range: its offset then, from
        // the range's start.
        QTimeZone::OffsetData only;
        only.atUtc = from;
        only.offsetFromUtc = zone.offsetFromUtc(from);
        only.daylightTimeOffset = 0;
        only.abbreviation = zone.abbreviation(from);
        changes << only;
    }
    changes << zone.transitions(from, to);
    for (const QTimeZone::OffsetData& change : changes) {
        const qint64 at = change.atUtc.toSecsSinceEpoch();
        const bool atRangeStart = !inForce.atUtc.isValid() && &change == &changes.first();
        const int previous = atRangeStart ? change.offsetFromUtc : offsetAt(zone, at - 1);
        icalcomponent* observance = icalcomponent_new(change.daylightTimeOffset != 0 ? ICAL_XDAYLIGHT_COMPONENT
                                                                                      : ICAL_XSTANDARD_COMPONENT);
        // The onset in the wall-clock time in force before it.
        icalcomponent_add_property(observance, icalproperty_new_dtstart(wallTime(at + previous, false)));
        icalcomponent_add_property(observance, icalproperty_new_tzoffsetfrom(previous));
        icalcomponent_add_property(observance, icalproperty_new_tzoffsetto(change.offsetFromUtc));
        if (!change.abbreviation.isEmpty())
            icalcomponent_add_property(observance, icalproperty_new_tzname(utf8(change.abbreviation).constData()));
        icalcomponent_add_component(component, observance);
    }
    return component;
}

// A record key (ten digits, see RecordKey) as its number, read where it is
// stored (`width` bytes, NUL-ended when shorter) or from a text: an export
// looks up several per event. -1 for anything else (an empty slot).
constexpr qsizetype KeyDigits = 10;

qint64 keyNumber(const char* at, std::size_t width)
{
    qint64 number = 0;
    std::size_t digits = 0;
    for (; digits < width && at[digits] >= '0' && at[digits] <= '9'; ++digits)
        number = number * 10 + (at[digits] - '0');
    return digits == KeyDigits && (digits == width || at[digits] == '\0') ? number : -1;
}

qint64 keyNumber(const QString& key)
{
    if (key.size() != KeyDigits)
        return -1;
    qint64 number = 0;
    for (const QChar c : key) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        number = number * 10 + (c.unicode() - '0');
    }
    return number;
}

icalproperty* person(icalproperty* property, const QByteArray& fullName)
{
    icalproperty_add_parameter(property, icalparameter_new_cn(fullName.constData()));
    return property;
}

// libical writes a CATEGORIES value as a list and so leaves its commas and
// semicolons bare; each category goes out as one value, so in each
// CATEGORIES line (a category is far too short to be folded) they are
// escaped after the fact.
void escapeCategories(QByteArray& text)
{
    static const QByteArray Name = "\r\nCATEGORIES:";
    for (qsizetype at = text.indexOf(Name); at >= 0; at = text.indexOf(Name, at + 1)) {
        const qsizetype begin = at + Name.size();
        const qsizetype end = text.indexOf("\r\n", begin);
        QByteArray value = text.mid(begin, end - begin);
        value.replace(',', "\\,").replace(';', "\\;");
        text.replace(begin, end - begin, value);
    }
}

struct PropertyFree
{
    void operator()(icalproperty* p) const { icalproperty_free(p); }
};
using Property = std::unique_ptr<icalproperty, PropertyFree>;

// Appends `size` bytes to a text that may grow to tens of megabytes. Room
// is made by doubling the capacity in place (a reallocation, which the system
// does without copying a block that large), not by the copy into a new block
// with which an append grows a QByteArray.
void appendTo(QByteArray& out, const char* text, qsizetype size)
{
    if (out.capacity() - out.size() < size)
        out.reserve(std::max(2 * out.capacity(), out.size() + size));
    out.append(text, size);
}

// libical's text of a property (of a component), appended to `out`.
void appendText(QByteArray& out, icalproperty* property)
{
    char* text = icalproperty_as_ical_string_r(property);
    appendTo(out, text, qsizetype(std::strlen(text)));
    icalmemory_free_buffer(text);
}

void appendText(QByteArray& out, icalcomponent* component)
{
    char* text = icalcomponent_as_ical_string_r(component);
    appendTo(out, text, qsizetype(std::strlen(text)));
    icalmemory_free_buffer(text);
}

// libical's text of a property made for it alone, which is freed.
QByteArray textOf(icalproperty* made)
{
    const Property property(made);
    QByteArray text;
    appendText(text, property.get());
    return text;
}

// The events written by libical straight onto the calendar's text, one
// property at a time, as it writes a VEVENT: its BEGIN line, its properties
// in the order given, its alarm, its END line. No tree of components,
// properties and parameters is made and freed per event (a hundred thousand
// of them cost more than the writing), nor a text of its own copied. The
// text of a property whose value many events share (the stamp, a user as
// organizer or attendee, a category) is libical's, made once and copied.
class EventText
{
public:
    explicit EventText(QByteArray& out) : out_(out)
    {
        // The lines around a VEVENT: libical's text of an empty one.
        const Component empty(icalcomponent_new(ICAL_VEVENT_COMPONENT));
        QByteArray lines;
        appendText(lines, empty.get());
        const qsizetype end = lines.indexOf("END:");
        begin_ = lines.left(end);
        end_ = lines.mid(end);
    }

    void begin() { write(begin_); }
    void end() { write(end_); }
    void write(const QByteArray& text) { appendTo(out_, text.constData(), text.size()); }
    void write(icalproperty* property) { appendText(out_, property); }
    void write(icalcomponent* component) { appendText(out_, component); }
    // A property made for this event alone, which is freed.
    void writeOnce(icalproperty* made)
    {
        const Property property(made);
        write(property.get());
    }

private:
    QByteArray& out_;
    QByteArray begin_;
    QByteArray end_;
};

} // namespace

void TCalendarExport::WriteFile(const QString& path, const QByteArray& text)
{
    const QFileInfo target(path);
    QFile file(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.')
               + QString::number(QRandomGenerator::global()->generate64(), 36));
    const auto fail = [&](const QString& reason) {
        if (file.isOpen())
            file.remove();
        throw EQuorla(QStringLiteral("Unable to write the calendar to %1\r\r%2").arg(path, reason));
    };
    // A link there is refused, never followed: it could lead to any file
    // the caller may write.
    if (target.isSymLink())
        fail(QStringLiteral("it is a symbolic link, which is never written through"));
    // A new file all our own (the umask's permissions, or the old file's),
    // on the disk before it takes the name.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(text) != text.size() || !file.flush()
        || (target.exists() && !file.setPermissions(target.permissions())))
        fail(file.errorString());
    if (::fsync(file.handle()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    // rename() replaces whatever bears the name by now, a link too, and
    // never follows one.
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
}

std::function<TCalendarExport::TChanges(const QString&)> TCalendarExport::FromTrail(TChangeTrail& trail)
{
    struct TSeen {
        QString latest; // the stamp key of the latest addition or change
        int changes = 0;
    };
    // Every entry's history in one range read at the first question, not one
    // read per exported event: the latest addition or change of each entry
    // and how many changes it had.
    auto seen = std::make_shared<std::optional<QHash<QString, TSeen>>>();
    return [&trail, seen](const QString& entryKey) {
        using Action = TChangeTrail::Action;
        if (!seen->has_value()) {
            QHash<QString, TSeen>& bySubject = seen->emplace();
            try {
                const QString first = TChangeTrail::EntrySubject(RecordKey::format(1));
                const QString last = TChangeTrail::EntrySubject(RecordKey::format(9999999999));
                // Oldest first, so the last one kept is the latest.
                for (const TChangeTrail::TEntry& change : trail.History(first, last)) {
                    const bool changed =
                        change.action == Action::EventChanged || change.action == Action::EventChangedByRemoval;
                    if (!changed && change.action != Action::EventAdded)
                        continue;
                    TSeen& entry = bySubject[change.subject];
                    entry.latest = change.when;
                    entry.changes += changed ? 1 : 0;
                }
            } catch (const std::exception&) {
                bySubject.clear();
            }
        }
        TChanges found;
        const auto it = (*seen)->constFind(TChangeTrail::EntrySubject(entryKey));
        if (it == (*seen)->constEnd())
            return found;
        TStamp moment;
        moment.SetSeconds(qint32(RecordKey::parse(it->latest)));
        found.lastModified = moment.AsDateTime();
        found.changes = it->changes;
        return found;
    };
}

icaltriggertype TCalendarExport::AlarmTrigger(qint64 start, qint64 ring, bool untimed)
{
    icaltriggertype trigger;
    trigger.time = icaltime_null_time();
    trigger.duration = icaldurationtype_null_duration();
    if (untimed) {
        trigger.time = utcTime(ring);
        return trigger;
    }
    const qint64 interval = ring - start;
    const qint64 length = interval < 0 ? -interval : interval;
    trigger.duration.is_neg = interval < 0 ? 1 : 0;
    trigger.duration.hours = unsigned(length / 3600);
    trigger.duration.minutes = unsigned(length % 3600 / 60);
    trigger.duration.seconds = unsigned(length % 60);
    return trigger;
}

void TCalendarExport::EscapeCategories(QByteArray& text)
{
    escapeCategories(text);
}

QString TCalendarExport::Uid(const QString& key, const QString& identity)
{
    return QStringLiteral("%1-%2@quorla").arg(key, identity);
}

QString TCalendarExport::SeriesUid(const QString& seriesKey, const QString& identity)
{
    return QStringLiteral("series-%1-%2@quorla").arg(seriesKey, identity);
}

QByteArray TCalendarExport::Build(TQuorlaDB& database, int* count) const
{
    QString identity;
    if (!database.Users().Identity(identity))
        throw EQuorla(database.Users().ErrorText());

    // Each user as organizer and as attendee (a URI naming him in this
    // database, with his full name), and each category (one value, escaped),
    // as libical writes them: once, not once per event.
    struct TPerson
    {
        QByteArray organizer;
        QByteArray attendee;
    };
    const QByteArray userUri = "urn:x-quorla:" + utf8(identity) + ":user:";
    QHash<qint64, TPerson> people;
    UserRecord user;
    TLookup::Each(database.Users(), user.bytes(), [&](const QString& key) {
        const QByteArray uri = userUri + utf8(key);
        const QByteArray name = utf8(user.FullName());
        TPerson one{textOf(person(icalproperty_new_organizer(uri.constData()), name)),
                    textOf(person(icalproperty_new_attendee(uri.constData()), name))};
        people.insert(keyNumber(key), std::move(one));
    });
    QHash<QString, QByteArray> categories;
    CategoryRecord category;
    TLookup::Each(database.Categories(), category.bytes(), [&](const QString& key) {
        QByteArray line = "\r\n" + textOf(icalproperty_new_categories(utf8(category.Description()).constData()));
        escapeCategories(line);
        categories.insert(key, line.mid(2));
    });
    // The exporting user's alarms, by entry: the earliest of each.
    QHash<qint64, qint64> alarms;
    TXIsamFile& alarmSet = database.Alarms();
    AlarmRecord alarm;
    for (bool more = TLookup::Equal(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, CurrentUserKey)
             || TLookup::Next(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, CurrentUserKey,
                              TXIsamFile::ScanPrefix);
         more;
         more = TLookup::Next(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, CurrentUserKey,
                              TXIsamFile::ScanPrefix)) {
        const qint64 entryKey = keyNumber(alarm.DayEntryKey());
        if (entryKey >= 0 && !alarms.contains(entryKey))
            alarms.insert(entryKey, RecordKey::parse(alarm.AlarmTime()));
    }

    // Dates outside the stamps' years are refused before anything is made.
    FirstKey();
    LastKey();
    const QByteArray zoneName = Zone.isEmpty() ? database.OfficeZone() : Zone;
    const QTimeZone zone(zoneName);
    if (!zone.isValid())
        throw EQuorla(QStringLiteral("Unknown time zone %1").arg(QString::fromUtf8(zoneName)));
    const int firstYear = StartDate.year();
    const int lastYear = std::max(EndDate.year(), firstYear);
    // An office on UTC (or a zone that is UTC all along) writes UTC times.
    const QDateTime rangeStart(QDate(firstYear, 1, 1), QTime(0, 0), Qt::UTC);
    const bool inUtc = zone.offsetFromUtc(rangeStart) == 0 && !zone.previousTransition(rangeStart).atUtc.isValid()
        && zone.transitions(rangeStart, QDateTime(QDate(lastYear + 1, 1, 1), QTime(0, 0), Qt::UTC)).isEmpty();
    // The range's days, with room for the look on either side of a time.
    const ZoneOffsets offsets(zone, QDateTime(StartDate, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() - 3 * SecondsPerDay,
                              QDateTime(EndDate, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + 4 * SecondsPerDay);
    const auto momentOfWall = [&](qint64 wall, bool& plain) {
        plain = true;
        return inUtc ? wall : wallMoment(wall, offsets, &plain);
    };

    Component calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//KLV//Quorla//EN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_calscale("GREGORIAN"));
    // Each event is written by libical as soon as it is whole (EventText),
    // not held as part of one tree of a hundred thousand events. They go
    // after the VTIMEZONE, made once the years it must cover are known: a
    // series' rule reaches beyond the exported ones (to the stamps' last
    // year, 2037, when it never ends).
    // The text is written once: the events after room left for the
    // calendar's head (its VTIMEZONE made last), which then goes right before
    // them, the room before it dropped without moving the events.
    constexpr qsizetype HeadRoom = 64 * 1024;
    QByteArray written(HeadRoom, ' ');
    int events = 0;
    EventText event(written);
    int zoneFirst = firstYear;
    int zoneLast = lastYear;

    // The properties whose value changes from event to event, made once and
    // given each event's value; a start's property once with the zone's TZID
    // and once without. Those whose value never changes, as text.
    const Property uidProperty(icalproperty_new_uid(""));
    const QByteArray stampText = textOf(icalproperty_new_dtstamp(utcTime(TClock::now())));
    const Property locationProperty(icalproperty_new_location(""));
    const QByteArray durationText = textOf(icalproperty_new_duration(icaldurationtype_from_int(DurationMinutes * 60)));
    const Property summaryProperty(icalproperty_new_summary(""));
    const Property descriptionProperty(icalproperty_new_description(""));
    const QByteArray privateText = textOf(icalproperty_new_class(ICAL_CLASS_PRIVATE));
    const Property modifiedProperty(icalproperty_new_lastmodified(icaltime_null_time()));
    const Property sequenceProperty(icalproperty_new_sequence(0));
    // SEQUENCE's text by its value, made at its first use: most entries
    // have changed a few times at most.
    std::vector<QByteArray> sequenceTexts(64);
    const auto inZoneAndNot = [&](icalproperty* inZone, icalproperty* plain) {
        icalproperty_add_parameter(inZone, icalparameter_new_tzid(zoneName.constData()));
        return std::array<Property, 2>{Property(plain), Property(inZone)};
    };
    const auto starts = inZoneAndNot(icalproperty_new_dtstart(icaltime_null_time()),
                                     icalproperty_new_dtstart(icaltime_null_time()));
    const auto recurrenceIds = inZoneAndNot(icalproperty_new_recurrenceid(icaltime_null_time()),
                                            icalproperty_new_recurrenceid(icaltime_null_time()));
    const Component valarm(icalcomponent_new(ICAL_VALARM_COMPONENT));
    icalcomponent_add_property(valarm.get(), icalproperty_new_action(ICAL_ACTION_DISPLAY));
    icalproperty* const alarmDescription = icalproperty_new_description("");
    icalcomponent_add_property(valarm.get(), alarmDescription);
    icaltriggertype noTrigger;
    noTrigger.time = icaltime_null_time();
    noTrigger.duration = icaldurationtype_null_duration();
    icalproperty* const triggerProperty = icalproperty_new_trigger(noTrigger);
    icalcomponent_add_property(valarm.get(), triggerProperty);

    // A start (DTSTART, RECURRENCE-ID, EXDATE) at wall-clock seconds `wall`:
    // a date, a time in the zone, or UTC where the zone is UTC or (`exact`,
    // a single event's start) the time is skipped or repeated.
    const auto startTime = [&](qint64 wall, bool untimed, bool exact, bool& inZone) {
        bool plain = true;
        const qint64 start = momentOfWall(wall, plain);
        inZone = false;
        if (untimed)
            return wallTime(wall, true);
        if (inUtc || (exact && !plain))
            return utcTime(start);
        inZone = true;
        return wallTime(wall, false);
    };
    // The users of an event as written: its owner as ORGANIZER, each
    // assignee as ATTENDEE, those not in the users dataset left out.
    struct TRoles
    {
        const TPerson* owner = nullptr;
        QVarLengthArray<const TPerson*, DayEntryRecord::MaxAssignees> assignees;

        void add(const QHash<qint64, TPerson>& people, qint64 key, bool isOwner)
        {
            const auto found = key < 0 ? people.constEnd() : people.constFind(key);
            if (found == people.constEnd())
                return;
            if (isOwner)
                owner = &*found;
            else
                assignees.append(&*found);
        }
    };
    // The event is started with the fields every event has, starting at
    // wall-clock seconds `wall`; `changesKey` is the entry whose trail gives
    // LAST-MODIFIED and SEQUENCE (none for a series, whose start is also
    // kept in the zone where a single event's would go out in UTC).
    const auto addEvent = [&](const QString& uid, qint32 flags, const QString& description, const QString& categoryKey,
                              const TRoles& roles, qint64 wall, const QString& changesKey, const TEntryDetails& details) {
        ++events;
        event.begin();
        icalproperty_set_uid(uidProperty.get(), utf8(uid).constData());
        event.write(uidProperty.get());
        event.write(stampText);
        const bool untimed = (flags & DayEntryRecord::UnTimed) != 0;
        bool inZone = false;
        const icaltimetype start = startTime(wall, untimed, !changesKey.isEmpty(), inZone);
        icalproperty_set_dtstart(starts[inZone].get(), start);
        event.write(starts[inZone].get());
        if (!untimed && details.durationSeconds <= 0)
            event.write(durationText);
        else if (icalproperty* end = TEventCodec::EndProperty(details, untimed, wall, DurationMinutes * 60))
            event.writeOnce(end);
        QString notes;
        const QByteArray summary = utf8(TEventCodec::Summary(description, notes, details.notes));
        icalproperty_set_summary(summaryProperty.get(), summary.constData());
        event.write(summaryProperty.get());
        if (!notes.isEmpty()) {
            icalproperty_set_description(descriptionProperty.get(), utf8(notes).constData());
            event.write(descriptionProperty.get());
        }
        if (!details.location.isEmpty()) {
            icalproperty_set_location(locationProperty.get(), utf8(details.location).constData());
            event.write(locationProperty.get());
        }
        if (!RecordKey::isNone(categoryKey)) {
            const auto named = categories.constFind(categoryKey);
            if (named != categories.constEnd())
                event.write(*named);
        }
        if (flags & DayEntryRecord::Private)
            event.write(privateText);
        if (roles.owner)
            event.write(roles.owner->organizer);
        for (const TPerson* assignee : roles.assignees)
            event.write(assignee->attendee);
        TChanges changes;
        if (Changes && !changesKey.isEmpty())
            changes = Changes(changesKey);
        if (changes.lastModified.isValid()) {
            icalproperty_set_lastmodified(modifiedProperty.get(), utcTime(changes.lastModified));
            event.write(modifiedProperty.get());
        }
        icalproperty_set_sequence(sequenceProperty.get(), changes.changes);
        if (changes.changes >= 0 && std::size_t(changes.changes) < sequenceTexts.size()) {
            QByteArray& text = sequenceTexts[std::size_t(changes.changes)];
            if (text.isEmpty())
                appendText(text, sequenceProperty.get());
            event.write(text);
        } else {
            event.write(sequenceProperty.get());
        }
        return summary;
    };
    // The alarm ringing at wall-clock seconds `ringWall` for an event that
    // starts at `wall`, with the event's summary.
    const auto addAlarm = [&](const QByteArray& summary, bool untimed, qint64 wall, qint64 ringWall) {
        bool unused = true;
        const qint64 start = momentOfWall(wall, unused);
        icalproperty_set_description(alarmDescription, summary.constData());
        const qint64 ring = momentOfWall(ringWall, unused);
        icalproperty_set_trigger(triggerProperty, AlarmTrigger(start, ring, untimed));
        event.write(valarm.get());
    };

    // Occurrences of a series go out as the series' one event with its rule;
    // an occurrence changed alone as an event of its own naming the start
    // the rule gave it (RECURRENCE-ID).
    std::unique_ptr<TSeriesWriter> seriesWriter;
    if (database.Series())
        seriesWriter = std::make_unique<TSeriesWriter>(database);
    QList<QString> seriesKeys;
    QSet<QString> seriesSeen;
    const auto seriesUid = [&](const QString& seriesKey) {
        return !OnlySeriesUid.isEmpty() && seriesKey == OnlySeries ? OnlySeriesUid : SeriesUid(seriesKey, identity);
    };
    // Whether the user may see a series' template, read once per series. One
    // he may not see leaves nothing of itself (text, class, rule): the
    // occurrences he may see go out as events of their own.
    QHash<QString, bool> templateSeen;
    const auto seesTemplate = [&](const QString& seriesKey) {
        auto known = templateSeen.constFind(seriesKey);
        if (known == templateSeen.constEnd()) {
            SeriesRecord series;
            known = templateSeen.insert(seriesKey, seriesWriter->ReadSeries(seriesKey, series)
                                                       && SeriesVisible(CurrentUser, CurrentUserKey, series));
        }
        return *known;
    };
    // Privacy alone, without the selection's choice of users: whether the
    // user may see an occurrence of a series that goes out.
    static const TFilterRules everyone;
    const auto sees = [&](const DayEntryRecord& entry) {
        return EntryVisible(everyone, CurrentUser, CurrentUserKey, entry);
    };
    // Every occurrence's link by its entry, in one range read, not one read
    // per exported entry (a server's round trip each); one series' own links
    // when only that series is written.
    QHash<QString, SeriesLinkRecord> linkOf;
    if (seriesWriter && OnlySeries.isEmpty()) {
        TXIsamFile& links = *database.SeriesLinks();
        SeriesLinkRecord link;
        if (!links.Range(link.bytes(), SeriesLinkRecord::EntryKeyIndex, RecordKey::format(1), RecordKey::format(9999999999),
                         [&] {
                             linkOf.insert(link.EntryKey(), link);
                             return true;
                         })
            && links.LastError() != IsamNotFound)
            throw EQuorla(links.ErrorText());
    } else if (seriesWriter) {
        for (const auto& [linkKey, link] : seriesWriter->Links(OnlySeries))
            linkOf.insert(link.EntryKey(), link);
    }
    const auto takeWith = [&](const DayEntryRecord& entry, const QString& key, const TEntryDetails& details) {
        QString uid = Uid(key, identity);
        QString recurrenceId;
        const auto linked = linkOf.constFind(key);
        if (linked != linkOf.constEnd() && seesTemplate(linked->SeriesKey())) {
            const SeriesLinkRecord& link = *linked;
            if (!seriesSeen.contains(link.SeriesKey())) {
                seriesSeen.insert(link.SeriesKey());
                seriesKeys << link.SeriesKey();
            }
            if (!(link.Flags() & SeriesLinkRecord::Exception))
                return;
            uid = seriesUid(link.SeriesKey());
            recurrenceId = link.Start();
        }
        const bool untimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
        const qint64 wall = RecordKey::parse(entry.StartTime());
        // The users' keys read where they are stored, not as texts.
        const char* const stored = entry.bytes().data();
        TRoles roles;
        roles.add(people, keyNumber(stored + DayEntryRecord::OwnerKeyOffset, DayEntryRecord::OwnerKeyWidth), true);
        for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot)
            roles.add(people,
                      keyNumber(stored + DayEntryRecord::AssigneesOffset + std::size_t(slot) * DayEntryRecord::AssigneeWidth,
                                DayEntryRecord::AssigneeWidth),
                      false);
        const QByteArray summary
            = addEvent(uid, entry.Flags(), entry.Description(), entry.CategoryKey(), roles, wall, key, details);
        if (!recurrenceId.isEmpty()) {
            bool inZone = false;
            const icaltimetype given = startTime(RecordKey::parse(recurrenceId), untimed, false, inZone);
            icalproperty_set_recurrenceid(recurrenceIds[inZone].get(), given);
            event.write(recurrenceIds[inZone].get());
        }
        const auto due = alarms.constFind(keyNumber(key));
        if (due != alarms.constEnd())
            addAlarm(summary, untimed, wall, *due);
        event.end();
    };
    // The entries' details are read for a batch of them at a time, not one
    // read per event.
    TDetailsStore detailsStore(database);
    std::vector<std::pair<DayEntryRecord, QString>> pending;
    const auto flush = [&] {
        QStringList keys;
        for (const auto& one : pending)
            keys << one.second;
        const QHash<QString, TEntryDetails> details = detailsStore.Entries(keys, true);
        for (const auto& [entry, key] : pending)
            takeWith(entry, key, details.value(key));
        pending.clear();
    };
    const auto take = [&](const DayEntryRecord& entry, const QString& key) {
        pending.emplace_back(entry, key);
        if (pending.size() >= DetailsBatch)
            flush();
    };
    if (OnlySeries.isEmpty()) {
        Read(database.DayEntries(), take);
        flush();
        // A series whose days in the range lie past its horizon, none of its
        // occurrences made there yet, goes out when its occurrence would.
        if (seriesWriter) {
            SeriesRecord series;
            TLookup::Each(*database.Series(), series.bytes(), [&](const QString& key) {
                if (seriesSeen.contains(key))
                    return;
                const QDate day = TSeriesWriter::FirstUnmade(series, StartDate, EndDate);
                if (!day.isValid() || !Takes(TSeriesWriter::Occurrence(series, day)))
                    return;
                seriesSeen.insert(key);
                seriesKeys << key;
            });
        }
    } else if (seriesWriter) {
        seriesKeys << OnlySeries;
        seriesSeen.insert(OnlySeries);
        for (const auto& [entryKey, link] : linkOf.asKeyValueRange()) {
            DayEntryRecord changed;
            if ((link.Flags() & SeriesLinkRecord::Exception) && !(link.Flags() & SeriesLinkRecord::Deleted)
                && TLookup::Equal(database.DayEntries(), changed.bytes(), TXIsamFile::PrimaryIndex, entryKey)
                && sees(changed))
                take(changed, entryKey);
        }
        flush();
    }

    for (const QString& seriesKey : seriesKeys) {
        SeriesRecord series;
        if (!seriesWriter->ReadSeries(seriesKey, series) || !SeriesVisible(CurrentUser, CurrentUserKey, series))
            continue;
        const TRecurrenceRule rule = series.Rule();
        if (!rule.IsValid())
            continue;
        const bool untimed = rule.UnTimed();
        qint32 flags = 0;
        if (untimed)
            flags |= DayEntryRecord::UnTimed;
        if (series.Flags() & SeriesRecord::Private)
            flags |= DayEntryRecord::Private;
        const qint64 wall = RecordKey::parse(series.Start());
        TRoles roles;
        roles.add(people, keyNumber(series.OwnerKey()), true);
        for (const QString& assignee : series.AssigneeKeys())
            roles.add(people, keyNumber(assignee), false);
        const QByteArray summary =
            addEvent(seriesUid(seriesKey), flags, series.Description(), series.CategoryKey(), roles, wall, QString(),
                     detailsStore.Series(seriesKey));
        zoneFirst = std::min(zoneFirst, rule.Start().year());
        zoneLast = std::max(zoneLast, rule.LastDay().isValid() ? rule.LastDay().year() : 2037);
        icalrecurrencetype recurrence = icalrecurrencetype_from_string(rule.ToRRule().toLatin1().constData());
        // A time of day in the zone ends at a moment: UNTIL in UTC.
        if (!untimed && !icaltime_is_null_time(recurrence.until) && !recurrence.until.is_date) {
            bool unused = true;
            recurrence.until = utcTime(momentOfWall(icaltime_as_timet(recurrence.until), unused));
        }
        event.writeOnce(icalproperty_new_rrule(recurrence));
        // The rule's days without an occurrence the user may see: deleted
        // alone, their entry removed as a plain entry, or private to others.
        // A CalDAV object (OnlySeries) is written back whole by its client,
        // which would delete such a day: there one private to others is only
        // left out.
        for (const auto& [linkKey, link] : seriesWriter->Links(seriesKey)) {
            DayEntryRecord occurrence;
            const bool deleted = (link.Flags() & SeriesLinkRecord::Deleted) != 0;
            if (!deleted && (RecordKey::isNone(link.EntryKey())
                             || (database.DayEntries().GetEqual(occurrence.bytes(), 0, link.EntryKey())
                                 && (!OnlySeries.isEmpty() || sees(occurrence)))))
                continue;
            bool inZone = false;
            const icaltimetype day = startTime(RecordKey::parse(link.Start()), untimed, false, inZone);
            icalproperty* const exdate = icalproperty_new_exdate(day);
            if (inZone)
                icalproperty_add_parameter(exdate, icalparameter_new_tzid(zoneName.constData()));
            event.writeOnce(exdate);
        }
        if ((series.Flags() & SeriesRecord::AlarmWanted) && series.AssigneeKeys().contains(CurrentUserKey))
            addAlarm(summary, untimed, wall, std::max<qint64>(0, wall - series.AlarmOffset()));
        event.end();
    }
    if (!inUtc)
        icalcomponent_add_component(calendar.get(), zoneComponent(zone, zoneFirst, zoneLast));
    if (count)
        *count = events;
    // The events before the calendar's end.
    char* text = icalcomponent_as_ical_string_r(calendar.get());
    static const QByteArray End = "END:VCALENDAR\r\n";
    const qsizetype head = qsizetype(std::strlen(text)) - End.size();
    if (head <= HeadRoom) {
        std::memcpy(written.data() + HeadRoom - head, text, std::size_t(head));
        written.remove(0, HeadRoom - head);
    } else {
        written.replace(0, HeadRoom, QByteArray(text, head));
    }
    icalmemory_free_buffer(text);
    return written.append(End);
}
