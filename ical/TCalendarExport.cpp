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
#include "TResourceParties.h"
#include "TEventCodec.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TSeriesWriter.h"
#include "TClock.h"
#include "TEntryVisibility.h"
#include "TFilterRules.h"
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


// The text is written once: the events after room left for the calendar's
// head (its VTIMEZONE made last), which then goes right before them, the
// room before it dropped without moving the events.
constexpr qsizetype HeadRoom = 64 * 1024;

// Each user as organizer and as attendee (a URI naming him in this
// database, with his full name), as libical writes them: once, not once per
// event.
struct TPerson
{
    QByteArray organizer;
    QByteArray attendee;
};

// The users of an event as written: its owner as ORGANIZER, each assignee
// as ATTENDEE, those not in the users dataset left out.
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

// What an event is written from: an entry's fields or a series' template's.
struct TEventFields
{
    QString uid;
    qint32 flags = 0;
    QString description;
    QString categoryKey;
    TRoles roles;
    // Its start, in wall-clock seconds.
    qint64 wall = 0;
    // The entry whose trail gives LAST-MODIFIED and SEQUENCE (none for a
    // series, whose start is also kept in the zone where a single event's
    // would go out in UTC).
    QString changesKey;
    TEntryDetails details;
    // The resources it books.
    QStringList resources;
};

// One export's calendar as it is built: what every event draws on, read
// once (the users, the categories, the exporting user's alarms, the zone's
// offsets), the properties given each event's values, the series to go out,
// and the text written so far. Each event is written by libical as soon as
// it is whole (EventText), not held as part of one tree of a hundred
// thousand events. They go after the VTIMEZONE, made once the years it must
// cover are known: a series' rule reaches beyond the exported ones (to the
// stamps' last year, 2037, when it never ends).
class TCalendarBuild
{
public:
    using TChanges = TCalendarExport::TChanges;

    // Reads what every event draws on. Throws as TCalendarExport::Build.
    TCalendarBuild(const TCalendarExport& selection, TQuorlaDB& database);

    // The calendar's text; `count` takes the number of events.
    QByteArray build(int* count);

private:
    void readPeople();
    void readCategories();
    void readAlarms();
    void readZone();
    void makeProperties();
    void makeAlarm();
    std::array<Property, 2> inZoneAndNot(icalproperty* inZone, icalproperty* plain) const;
    void readLinks();

    qint64 momentOfWall(qint64 wall, bool& plain) const;
    icaltimetype startTime(qint64 wall, bool untimed, bool exact, bool& inZone) const;
    QByteArray addEvent(const TEventFields& fields);
    void writeTimes(const TEventFields& fields);
    QByteArray writeTexts(const TEventFields& fields);
    void writeParties(const TEventFields& fields);
    void writeChanges(const QString& changesKey);
    void writeSequence(int changes);
    void addAlarm(const QByteArray& summary, bool untimed, qint64 wall, qint64 ringWall);

    void writeEntries();
    void addUnmadeSeries();
    void writeOnlySeries();
    void take(const DayEntryRecord& entry, const QString& key);
    void flushPending();
    void takeWith(const DayEntryRecord& entry, const QString& key, const TEntryDetails& details);
    bool asOfSeries(const QString& key, QString& uid, QString& recurrenceId);
    void addSeries(const QString& seriesKey);
    TRoles rolesOf(const DayEntryRecord& entry) const;
    TRoles rolesOf(const SeriesRecord& series) const;
    QString seriesUid(const QString& seriesKey) const;
    bool seesTemplate(const QString& seriesKey);
    bool sees(const DayEntryRecord& entry) const;

    void writeSeries(const QString& seriesKey);
    void writeRule(const TRecurrenceRule& rule, bool untimed);
    void writeExdates(const QString& seriesKey, bool untimed);
    bool withoutOccurrence(const SeriesLinkRecord& link);
    QByteArray finish(int* count);

    const TCalendarExport& selection_;
    TQuorlaDB& database_;
    QString identity_;
    QHash<qint64, TPerson> people_;
    // Each category (one value, escaped) as libical writes it.
    QHash<QString, QByteArray> categories_;
    // The exporting user's alarms, by entry: the earliest of each.
    QHash<qint64, qint64> alarms_;

    QByteArray zoneName_;
    QTimeZone zone_;
    // An office on UTC (or a zone that is UTC all along) writes UTC times.
    bool inUtc_ = false;
    std::optional<ZoneOffsets> offsets_;
    int zoneFirst_ = 0;
    int zoneLast_ = 0;

    Component calendar_;
    QByteArray written_ = QByteArray(HeadRoom, ' ');
    int events_ = 0;
    EventText event_;

    // The properties whose value changes from event to event, made once and
    // given each event's value; a start's property once with the zone's TZID
    // and once without. Those whose value never changes, as text.
    Property uidProperty_;
    QByteArray stampText_;
    Property locationProperty_;
    QByteArray durationText_;
    Property summaryProperty_;
    Property descriptionProperty_;
    Property textLinesProperty_;
    QByteArray privateText_;
    Property modifiedProperty_;
    Property sequenceProperty_;
    // SEQUENCE's text by its value, made at its first use: most entries
    // have changed a few times at most.
    std::vector<QByteArray> sequenceTexts_ = std::vector<QByteArray>(64);
    std::array<Property, 2> starts_;
    std::array<Property, 2> recurrenceIds_;
    Component valarm_;
    icalproperty* alarmDescription_ = nullptr;
    icalproperty* triggerProperty_ = nullptr;

    // Occurrences of a series go out as the series' one event with its
    // rule; an occurrence changed alone as an event of its own naming the
    // start the rule gave it (RECURRENCE-ID).
    std::unique_ptr<TSeriesWriter> seriesWriter_;
    QList<QString> seriesKeys_;
    QSet<QString> seriesSeen_;
    // Whether the user may see a series' template, read once per series.
    QHash<QString, bool> templateSeen_;
    // Every occurrence's link by its entry.
    QHash<QString, SeriesLinkRecord> linkOf_;
    // The entries' details are read for a batch of them at a time, not one
    // read per event.
    TDetailsStore detailsStore_;
    std::vector<std::pair<DayEntryRecord, QString>> pending_;
    // The resources the entries book, read with their details; each
    // resource's ATTENDEE as libical writes it, made at its first use.
    std::unique_ptr<TResourceParties> parties_;
    QHash<QString, QByteArray> resourceTexts_;
};

TCalendarBuild::TCalendarBuild(const TCalendarExport& selection, TQuorlaDB& database)
    : selection_(selection), database_(database), event_(written_), detailsStore_(database)
{
    if (!database_.Users().Identity(identity_))
        throw EQuorla(database_.Users().ErrorText());
    parties_ = std::make_unique<TResourceParties>(database_, identity_);
    readPeople();
    readCategories();
    readAlarms();
    // Dates outside the stamps' years are refused before anything is made.
    selection_.FirstKey();
    selection_.LastKey();
    readZone();
    calendar_.reset(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar_.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar_.get(), icalproperty_new_prodid("-//KLV//Quorla//EN"));
    icalcomponent_add_property(calendar_.get(), icalproperty_new_calscale("GREGORIAN"));
    makeProperties();
    makeAlarm();
    if (database_.Series())
        seriesWriter_ = std::make_unique<TSeriesWriter>(database_);
    readLinks();
}

void TCalendarBuild::readPeople()
{
    const QByteArray userUri = "urn:x-quorla:" + utf8(identity_) + ":user:";
    UserRecord user;
    TLookup::Each(database_.Users(), user.bytes(), [&](const QString& key) {
        const QByteArray uri = userUri + utf8(key);
        const QByteArray name = utf8(user.FullName());
        TPerson one{textOf(person(icalproperty_new_organizer(uri.constData()), name)),
                    textOf(person(icalproperty_new_attendee(uri.constData()), name))};
        people_.insert(keyNumber(key), std::move(one));
    });
}

void TCalendarBuild::readCategories()
{
    CategoryRecord category;
    TLookup::Each(database_.Categories(), category.bytes(), [&](const QString& key) {
        QByteArray line = "\r\n" + textOf(icalproperty_new_categories(utf8(category.Description()).constData()));
        escapeCategories(line);
        categories_.insert(key, line.mid(2));
    });
}

void TCalendarBuild::readAlarms()
{
    const QString& userKey = selection_.CurrentUserKey;
    TXIsamFile& alarmSet = database_.Alarms();
    AlarmRecord alarm;
    for (bool more = TLookup::Equal(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey)
             || TLookup::Next(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey, TXIsamFile::ScanPrefix);
         more;
         more = TLookup::Next(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, userKey, TXIsamFile::ScanPrefix)) {
        const qint64 entryKey = keyNumber(alarm.DayEntryKey());
        if (entryKey >= 0 && !alarms_.contains(entryKey))
            alarms_.insert(entryKey, RecordKey::parse(alarm.AlarmTime()));
    }
}

void TCalendarBuild::readZone()
{
    zoneName_ = selection_.Zone.isEmpty() ? database_.OfficeZone() : selection_.Zone;
    zone_ = QTimeZone(zoneName_);
    if (!zone_.isValid())
        throw EQuorla(QStringLiteral("Unknown time zone %1").arg(QString::fromUtf8(zoneName_)));
    zoneFirst_ = selection_.StartDate.year();
    zoneLast_ = std::max(selection_.EndDate.year(), zoneFirst_);
    const QDateTime rangeStart(QDate(zoneFirst_, 1, 1), QTime(0, 0), Qt::UTC);
    inUtc_ = zone_.offsetFromUtc(rangeStart) == 0 && !zone_.previousTransition(rangeStart).atUtc.isValid()
        && zone_.transitions(rangeStart, QDateTime(QDate(zoneLast_ + 1, 1, 1), QTime(0, 0), Qt::UTC)).isEmpty();
    // The range's days, with room for the look on either side of a time.
    offsets_.emplace(zone_,
                     QDateTime(selection_.StartDate, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() - 3 * SecondsPerDay,
                     QDateTime(selection_.EndDate, QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + 4 * SecondsPerDay);
}

void TCalendarBuild::makeProperties()
{
    uidProperty_.reset(icalproperty_new_uid(""));
    stampText_ = textOf(icalproperty_new_dtstamp(utcTime(TClock::now())));
    locationProperty_.reset(icalproperty_new_location(""));
    durationText_ = textOf(icalproperty_new_duration(icaldurationtype_from_int(selection_.DurationMinutes * 60)));
    summaryProperty_.reset(icalproperty_new_summary(""));
    descriptionProperty_.reset(icalproperty_new_description(""));
    textLinesProperty_.reset(TEventCodec::TextLinesProperty(0));
    privateText_ = textOf(icalproperty_new_class(ICAL_CLASS_PRIVATE));
    modifiedProperty_.reset(icalproperty_new_lastmodified(icaltime_null_time()));
    sequenceProperty_.reset(icalproperty_new_sequence(0));
    starts_ = inZoneAndNot(icalproperty_new_dtstart(icaltime_null_time()),
                           icalproperty_new_dtstart(icaltime_null_time()));
    recurrenceIds_ = inZoneAndNot(icalproperty_new_recurrenceid(icaltime_null_time()),
                                  icalproperty_new_recurrenceid(icaltime_null_time()));
}

// The VALARM every alarm is written from, its description and trigger given
// each alarm's values.
void TCalendarBuild::makeAlarm()
{
    valarm_.reset(icalcomponent_new(ICAL_VALARM_COMPONENT));
    icalcomponent_add_property(valarm_.get(), icalproperty_new_action(ICAL_ACTION_DISPLAY));
    alarmDescription_ = icalproperty_new_description("");
    icalcomponent_add_property(valarm_.get(), alarmDescription_);
    icaltriggertype noTrigger;
    noTrigger.time = icaltime_null_time();
    noTrigger.duration = icaldurationtype_null_duration();
    triggerProperty_ = icalproperty_new_trigger(noTrigger);
    icalcomponent_add_property(valarm_.get(), triggerProperty_);
}

std::array<Property, 2> TCalendarBuild::inZoneAndNot(icalproperty* inZone, icalproperty* plain) const
{
    icalproperty_add_parameter(inZone, icalparameter_new_tzid(zoneName_.constData()));
    return std::array<Property, 2>{Property(plain), Property(inZone)};
}

// Every occurrence's link by its entry, in one range read, not one read per
// exported entry (a server's round trip each); one series' own links when
// only that series is written.
void TCalendarBuild::readLinks()
{
    if (!seriesWriter_)
        return;
    if (!selection_.OnlySeries.isEmpty()) {
        for (const auto& [linkKey, link] : seriesWriter_->Links(selection_.OnlySeries))
            linkOf_.insert(link.EntryKey(), link);
        return;
    }
    TXIsamFile& links = *database_.SeriesLinks();
    SeriesLinkRecord link;
    if (!links.Range(link.bytes(), SeriesLinkRecord::EntryKeyIndex, RecordKey::format(1), RecordKey::format(9999999999),
                     [&] {
                         linkOf_.insert(link.EntryKey(), link);
                         return true;
                     })
        && links.LastError() != IsamNotFound)
        throw EQuorla(links.ErrorText());
}

qint64 TCalendarBuild::momentOfWall(qint64 wall, bool& plain) const
{
    plain = true;
    return inUtc_ ? wall : wallMoment(wall, *offsets_, &plain);
}

// A start (DTSTART, RECURRENCE-ID, EXDATE) at wall-clock seconds `wall`: a
// date, a time in the zone, or UTC where the zone is UTC or (`exact`, a
// single event's start) the time is skipped or repeated.
icaltimetype TCalendarBuild::startTime(qint64 wall, bool untimed, bool exact, bool& inZone) const
{
    bool plain = true;
    const qint64 start = momentOfWall(wall, plain);
    inZone = false;
    if (untimed)
        return wallTime(wall, true);
    if (inUtc_ || (exact && !plain))
        return utcTime(start);
    inZone = true;
    return wallTime(wall, false);
}

// The event is started with the fields every event has; returns its
// summary.
QByteArray TCalendarBuild::addEvent(const TEventFields& fields)
{
    ++events_;
    event_.begin();
    icalproperty_set_uid(uidProperty_.get(), utf8(fields.uid).constData());
    event_.write(uidProperty_.get());
    event_.write(stampText_);
    writeTimes(fields);
    const QByteArray summary = writeTexts(fields);
    writeParties(fields);
    writeChanges(fields.changesKey);
    return summary;
}

// DTSTART, and the end TEventCodec gives (DurationMinutes for a timed event
// without a length of its own).
void TCalendarBuild::writeTimes(const TEventFields& fields)
{
    const bool untimed = (fields.flags & DayEntryRecord::UnTimed) != 0;
    bool inZone = false;
    const icaltimetype start = startTime(fields.wall, untimed, !fields.changesKey.isEmpty(), inZone);
    icalproperty_set_dtstart(starts_[inZone].get(), start);
    event_.write(starts_[inZone].get());
    if (!untimed && fields.details.durationSeconds <= 0)
        event_.write(durationText_);
    else if (icalproperty* end
             = TEventCodec::EndProperty(fields.details, untimed, fields.wall, selection_.DurationMinutes * 60))
        event_.writeOnce(end);
}

// SUMMARY, DESCRIPTION and LOCATION; returns the summary.
QByteArray TCalendarBuild::writeTexts(const TEventFields& fields)
{
    const TEventCodec::TTexts texts = TEventCodec::Texts(fields.description, fields.details.notes);
    const QByteArray summary = utf8(texts.summary);
    icalproperty_set_summary(summaryProperty_.get(), summary.constData());
    event_.write(summaryProperty_.get());
    if (!texts.description.isEmpty()) {
        icalproperty_set_description(descriptionProperty_.get(), utf8(texts.description).constData());
        event_.write(descriptionProperty_.get());
    }
    if (texts.textLines > 0) {
        icalproperty_set_x(textLinesProperty_.get(), QByteArray::number(texts.textLines).constData());
        event_.write(textLinesProperty_.get());
    }
    if (!fields.details.location.isEmpty()) {
        icalproperty_set_location(locationProperty_.get(), utf8(fields.details.location).constData());
        event_.write(locationProperty_.get());
    }
    return summary;
}

// CATEGORIES, CLASS, ORGANIZER and ATTENDEE.
void TCalendarBuild::writeParties(const TEventFields& fields)
{
    if (!RecordKey::isNone(fields.categoryKey)) {
        const auto named = categories_.constFind(fields.categoryKey);
        if (named != categories_.constEnd())
            event_.write(*named);
    }
    if (fields.flags & DayEntryRecord::Private)
        event_.write(privateText_);
    if (fields.roles.owner)
        event_.write(fields.roles.owner->organizer);
    for (const TPerson* assignee : fields.roles.assignees)
        event_.write(assignee->attendee);
    for (const QString& resource : fields.resources) {
        auto text = resourceTexts_.find(resource);
        if (text == resourceTexts_.end())
            text = resourceTexts_.insert(resource, textOf(parties_->Attendee(resource)));
        event_.write(*text);
    }
}

// LAST-MODIFIED and SEQUENCE from the trail of the entry `changesKey`.
void TCalendarBuild::writeChanges(const QString& changesKey)
{
    TChanges changes;
    if (selection_.Changes && !changesKey.isEmpty())
        changes = selection_.Changes(changesKey);
    if (changes.lastModified.isValid()) {
        icalproperty_set_lastmodified(modifiedProperty_.get(), utcTime(changes.lastModified));
        event_.write(modifiedProperty_.get());
    }
    writeSequence(changes.changes);
}

void TCalendarBuild::writeSequence(int changes)
{
    icalproperty_set_sequence(sequenceProperty_.get(), changes);
    if (changes < 0 || std::size_t(changes) >= sequenceTexts_.size()) {
        event_.write(sequenceProperty_.get());
        return;
    }
    QByteArray& text = sequenceTexts_[std::size_t(changes)];
    if (text.isEmpty())
        appendText(text, sequenceProperty_.get());
    event_.write(text);
}

// The alarm ringing at wall-clock seconds `ringWall` for an event that
// starts at `wall`, with the event's summary.
void TCalendarBuild::addAlarm(const QByteArray& summary, bool untimed, qint64 wall, qint64 ringWall)
{
    bool unused = true;
    const qint64 start = momentOfWall(wall, unused);
    icalproperty_set_description(alarmDescription_, summary.constData());
    const qint64 ring = momentOfWall(ringWall, unused);
    icalproperty_set_trigger(triggerProperty_, TCalendarExport::AlarmTrigger(start, ring, untimed));
    event_.write(valarm_.get());
}

QByteArray TCalendarBuild::build(int* count)
{
    if (selection_.OnlySeries.isEmpty())
        writeEntries();
    else if (seriesWriter_)
        writeOnlySeries();
    for (const QString& seriesKey : seriesKeys_)
        writeSeries(seriesKey);
    return finish(count);
}

void TCalendarBuild::writeEntries()
{
    selection_.Read(database_.DayEntries(),
                    [this](const DayEntryRecord& entry, const QString& key) { take(entry, key); });
    flushPending();
    // Occurrences not made yet book nothing: a resource's bookings have none.
    if (seriesWriter_ && !selection_.RestrictResource)
        addUnmadeSeries();
}

// A series whose days in the range lie past its horizon, none of its
// occurrences made there yet, goes out when its occurrence would.
void TCalendarBuild::addUnmadeSeries()
{
    SeriesRecord series;
    TLookup::Each(*database_.Series(), series.bytes(), [&](const QString& key) {
        if (seriesSeen_.contains(key))
            return;
        const QDate day = TSeriesWriter::FirstUnmade(series, selection_.StartDate, selection_.EndDate);
        if (day.isValid() && selection_.Takes(TSeriesWriter::Occurrence(series, day)))
            addSeries(key);
    });
}

// The one series asked for, with each occurrence changed alone that the
// user may see.
void TCalendarBuild::writeOnlySeries()
{
    addSeries(selection_.OnlySeries);
    for (const auto& [entryKey, link] : linkOf_.asKeyValueRange()) {
        DayEntryRecord changed;
        if ((link.Flags() & SeriesLinkRecord::Exception) && !(link.Flags() & SeriesLinkRecord::Deleted)
            && TLookup::Equal(database_.DayEntries(), changed.bytes(), TXIsamFile::PrimaryIndex, entryKey)
            && sees(changed))
            take(changed, entryKey);
    }
    flushPending();
}

void TCalendarBuild::take(const DayEntryRecord& entry, const QString& key)
{
    pending_.emplace_back(entry, key);
    if (pending_.size() >= DetailsBatch)
        flushPending();
}

void TCalendarBuild::flushPending()
{
    QStringList keys;
    for (const auto& one : pending_)
        keys << one.second;
    const QHash<QString, TEntryDetails> details = detailsStore_.Entries(keys, true);
    parties_->Read(keys);
    for (const auto& [entry, key] : pending_)
        takeWith(entry, key, details.value(key));
    pending_.clear();
}

// The entry `key` as an event of its own, unless its series' rule gives it.
void TCalendarBuild::takeWith(const DayEntryRecord& entry, const QString& key, const TEntryDetails& details)
{
    QString uid = TCalendarExport::Uid(key, identity_);
    QString recurrenceId;
    if (!asOfSeries(key, uid, recurrenceId))
        return;
    const bool untimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
    TEventFields fields{uid, entry.Flags(), entry.Description(), entry.CategoryKey(), rolesOf(entry),
                        RecordKey::parse(entry.StartTime()), key, details, parties_->Of(key)};
    fields.details.location = parties_->Location(details, fields.resources);
    const QByteArray summary = addEvent(fields);
    if (!recurrenceId.isEmpty()) {
        bool inZone = false;
        const icaltimetype given = startTime(RecordKey::parse(recurrenceId), untimed, false, inZone);
        icalproperty_set_recurrenceid(recurrenceIds_[inZone].get(), given);
        event_.write(recurrenceIds_[inZone].get());
    }
    const auto due = alarms_.constFind(keyNumber(key));
    if (due != alarms_.constEnd())
        addAlarm(summary, untimed, fields.wall, *due);
    event_.end();
}

// An occurrence of a series whose template the user sees: the series goes
// out, and the occurrence only when changed alone, under the series' UID
// (`uid`) with the start the rule gave it (`recurrenceId`). False when the
// series' rule gives it. A series he may not see leaves nothing of itself
// (text, class, rule): the occurrences he may see go out as events of their
// own. So do a resource's bookings: the rule would give days that do not book
// it (not made yet, or left without it).
bool TCalendarBuild::asOfSeries(const QString& key, QString& uid, QString& recurrenceId)
{
    const auto linked = linkOf_.constFind(key);
    if (selection_.RestrictResource || linked == linkOf_.constEnd() || !seesTemplate(linked->SeriesKey()))
        return true;
    addSeries(linked->SeriesKey());
    if (!(linked->Flags() & SeriesLinkRecord::Exception))
        return false;
    uid = seriesUid(linked->SeriesKey());
    recurrenceId = linked->Start();
    return true;
}

void TCalendarBuild::addSeries(const QString& seriesKey)
{
    if (seriesSeen_.contains(seriesKey))
        return;
    seriesSeen_.insert(seriesKey);
    seriesKeys_ << seriesKey;
}

// The users' keys read where they are stored, not as texts.
TRoles TCalendarBuild::rolesOf(const DayEntryRecord& entry) const
{
    const char* const stored = entry.bytes().data();
    TRoles roles;
    roles.add(people_, keyNumber(stored + DayEntryRecord::OwnerKeyOffset, DayEntryRecord::OwnerKeyWidth), true);
    for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot)
        roles.add(people_,
                  keyNumber(stored + DayEntryRecord::AssigneesOffset + std::size_t(slot) * DayEntryRecord::AssigneeWidth,
                            DayEntryRecord::AssigneeWidth),
                  false);
    return roles;
}

TRoles TCalendarBuild::rolesOf(const SeriesRecord& series) const
{
    TRoles roles;
    roles.add(people_, keyNumber(series.OwnerKey()), true);
    for (const QString& assignee : series.AssigneeKeys())
        roles.add(people_, keyNumber(assignee), false);
    return roles;
}

QString TCalendarBuild::seriesUid(const QString& seriesKey) const
{
    return !selection_.OnlySeriesUid.isEmpty() && seriesKey == selection_.OnlySeries
        ? selection_.OnlySeriesUid
        : TCalendarExport::SeriesUid(seriesKey, identity_);
}

bool TCalendarBuild::seesTemplate(const QString& seriesKey)
{
    auto known = templateSeen_.constFind(seriesKey);
    if (known == templateSeen_.constEnd()) {
        SeriesRecord series;
        known = templateSeen_.insert(seriesKey, seriesWriter_->ReadSeries(seriesKey, series)
                                                    && SeriesVisible(selection_.CurrentUser, selection_.CurrentUserKey,
                                                                     series));
    }
    return *known;
}

// Privacy alone, without the selection's choice of users: whether the user
// may see an occurrence of a series that goes out.
bool TCalendarBuild::sees(const DayEntryRecord& entry) const
{
    static const TFilterRules everyone;
    return EntryVisible(everyone, selection_.CurrentUser, selection_.CurrentUserKey, entry);
}

// The series' one event: its template's fields, its rule, the days left
// out, and the user's alarm when the template gives him one.
void TCalendarBuild::writeSeries(const QString& seriesKey)
{
    SeriesRecord series;
    if (!seriesWriter_->ReadSeries(seriesKey, series)
        || !SeriesVisible(selection_.CurrentUser, selection_.CurrentUserKey, series))
        return;
    const TRecurrenceRule rule = series.Rule();
    if (!rule.IsValid())
        return;
    const bool untimed = rule.UnTimed();
    const qint32 flags = (untimed ? DayEntryRecord::UnTimed : 0)
        | ((series.Flags() & SeriesRecord::Private) ? DayEntryRecord::Private : 0);
    const TEventFields fields{seriesUid(seriesKey), flags, series.Description(), series.CategoryKey(), rolesOf(series),
                              RecordKey::parse(series.Start()), QString(), detailsStore_.Series(seriesKey), {}};
    const QByteArray summary = addEvent(fields);
    writeRule(rule, untimed);
    writeExdates(seriesKey, untimed);
    if ((series.Flags() & SeriesRecord::AlarmWanted) && series.AssigneeKeys().contains(selection_.CurrentUserKey))
        addAlarm(summary, untimed, fields.wall, std::max<qint64>(0, fields.wall - series.AlarmOffset()));
    event_.end();
}

// RRULE, and the years the VTIMEZONE covers stretched to the rule's.
void TCalendarBuild::writeRule(const TRecurrenceRule& rule, bool untimed)
{
    zoneFirst_ = std::min(zoneFirst_, rule.Start().year());
    zoneLast_ = std::max(zoneLast_, rule.LastDay().isValid() ? rule.LastDay().year() : 2037);
    icalrecurrencetype recurrence = icalrecurrencetype_from_string(rule.ToRRule().toLatin1().constData());
    // A time of day in the zone ends at a moment: UNTIL in UTC.
    if (!untimed && !icaltime_is_null_time(recurrence.until) && !recurrence.until.is_date) {
        bool unused = true;
        recurrence.until = utcTime(momentOfWall(icaltime_as_timet(recurrence.until), unused));
    }
    event_.writeOnce(icalproperty_new_rrule(recurrence));
}

// An EXDATE for each of the rule's days without an occurrence the user may
// see.
void TCalendarBuild::writeExdates(const QString& seriesKey, bool untimed)
{
    for (const auto& [linkKey, link] : seriesWriter_->Links(seriesKey)) {
        if (!withoutOccurrence(link))
            continue;
        bool inZone = false;
        const icaltimetype day = startTime(RecordKey::parse(link.Start()), untimed, false, inZone);
        icalproperty* const exdate = icalproperty_new_exdate(day);
        if (inZone)
            icalproperty_add_parameter(exdate, icalparameter_new_tzid(zoneName_.constData()));
        event_.writeOnce(exdate);
    }
}

// The day is deleted alone, its entry removed as a plain entry, or private
// to others (one a server does not let him read alike): his views show
// nothing that day, and so does every object, a CalDAV one too. A client
// writing that EXDATE back deletes nothing he may not see (TCalendarImport).
bool TCalendarBuild::withoutOccurrence(const SeriesLinkRecord& link)
{
    if (link.Flags() & SeriesLinkRecord::Deleted)
        return true;
    DayEntryRecord occurrence;
    return !RecordKey::isNone(link.EntryKey())
        && !(database_.DayEntries().GetEqual(occurrence.bytes(), 0, link.EntryKey()) && sees(occurrence));
}

// The calendar's head (its VTIMEZONE, now that its years are known) put
// right before the events, and its end after them.
QByteArray TCalendarBuild::finish(int* count)
{
    if (!inUtc_)
        icalcomponent_add_component(calendar_.get(), zoneComponent(zone_, zoneFirst_, zoneLast_));
    if (count)
        *count = events_;
    char* text = icalcomponent_as_ical_string_r(calendar_.get());
    static const QByteArray End = "END:VCALENDAR\r\n";
    const qsizetype head = qsizetype(std::strlen(text)) - End.size();
    if (head <= HeadRoom) {
        std::memcpy(written_.data() + HeadRoom - head, text, std::size_t(head));
        written_.remove(0, HeadRoom - head);
    } else {
        written_.replace(0, HeadRoom, QByteArray(text, head));
    }
    icalmemory_free_buffer(text);
    written_.append(End);
    return std::move(written_);
}

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
        std::optional<int> utcOffset; // its writer's
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
                    entry.utcOffset = change.utcOffset;
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
        found.lastModified = TChangeTrail::Moment(it->latest, it->utcOffset);
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
    TCalendarBuild calendar(*this, database);
    return calendar.build(count);
}
