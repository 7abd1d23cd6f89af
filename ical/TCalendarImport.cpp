#include "TCalendarImport.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "EStamp.h"
#include "IsamCode.h"
#include "ImportRecord.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TCategoryWriter.h"
#include "TBookingWriter.h"
#include "TCalendarExport.h"
#include "TClock.h"
#include "TDetailsStore.h"
#include "TEntryVisibility.h"
#include "TEventCodec.h"
#include "TEventWriter.h"
#include "TFilterRules.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TRecordWriter.h"
#include "TRecurrenceRule.h"
#include "TResourceParties.h"
#include "TSeriesWriter.h"
#include "TTextCapacity.h"
#include "TWallClock.h"
#include "TXIsamFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QTimeZone>

#include <libical/ical.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>

namespace {

// New single events written at once.
constexpr qsizetype ImportBatch = 2000;

// Why a deletion the file asks for is not made: the series holds an
// occurrence another user made private, which the importing user may not
// read, so may not delete either.
const QString HiddenOccurrence = QStringLiteral("its series holds a private event of another user");

struct ComponentFree
{
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

using TFields = TEventCodec::TDecoded;

// The events of one UID: the one without RECURRENCE-ID, and the changed
// occurrences.
struct TEventGroup
{
    QString uid;
    icalcomponent* master = nullptr;
    QList<icalcomponent*> overrides;
};

qint64 wallOf(const QDateTime& local)
{
    return TEventCodec::WallOf(local);
}

QDateTime asWall(qint64 wall)
{
    return TEventCodec::AsWall(wall);
}

using Converter = TEventCodec;

QString textOf(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

bool inStampYears(qint64 wall)
{
    const int year = asWall(wall).date().year();
    return year >= 1970 && year <= 2037;
}

// How a group is named where its fields could not be read: its summary, or
// its UID when it has none.
QString labelOfGroup(const TEventGroup& group)
{
    icalcomponent* event = group.master ? group.master : group.overrides.value(0);
    const QString summary = event ? textOf(icalcomponent_get_summary(event)) : QString();
    return summary.isEmpty() ? group.uid : summary;
}

// Where a series' rule starts: at the time written when it is a time of the
// office's own clock - also one the clock skips on the first day, which then
// happens later on that day alone (written 02:30: the first occurrence at
// 03:30, the rule's time 02:30) - otherwise at the start's wall-clock time in
// the office.
QDateTime ruleStart(icalcomponent* event, const Converter& convert, const TFields& fields)
{
    const icaltimetype t = icalcomponent_get_dtstart(event);
    const QDateTime written(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second), Qt::UTC);
    const bool asWritten = !fields.untimed && !icaltime_is_utc(t)
        && convert.OfficeWall(written.date(), written.time()) == fields.wall;
    return asWritten ? written : asWall(fields.wall);
}

QString timeKey(qint64 wall)
{
    return RecordKey::format(wall);
}

// The key of the day of wall-clock seconds `wall` (its midnight).
QString dayKeyOf(qint64 wall)
{
    return timeKey(wallOf(QDateTime(asWall(wall).date(), QTime(0, 0), Qt::UTC)));
}

QString sourceOf(const QString& userKey, const QString& uid)
{
    return userKey + QString::fromLatin1(QCryptographicHash::hash(uid.toUtf8(), QCryptographicHash::Sha1).toHex());
}

// The calendar `text` as libical reads it (a byte-order mark aside); null
// for a text that is no iCalendar.
Component parsed(const QByteArray& text)
{
    QByteArray body = text;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    if (!body.trimmed().startsWith("BEGIN:VCALENDAR"))
        return nullptr;
    return Component(icalparser_parse_string(body.constData()));
}

// The VCALENDARs of a parsed text: itself, or those it holds when libical
// read several.
QList<icalcomponent*> calendarsOf(icalcomponent* root)
{
    QList<icalcomponent*> calendars;
    if (icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT) {
        calendars << root;
        return calendars;
    }
    for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT); c;
         c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT))
        calendars << c;
    return calendars;
}

// The events by UID, in the file's order; one without a UID is known by its
// text, so the same file still finds it again.
QList<TEventGroup> groupsOf(const QList<icalcomponent*>& calendars)
{
    QList<TEventGroup> groups;
    QHash<QString, qsizetype> byUid;
    for (icalcomponent* calendar : calendars) {
        for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
             e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
            QString uid = textOf(icalcomponent_get_uid(e));
            if (uid.isEmpty()) {
                char* whole = icalcomponent_as_ical_string_r(e);
                uid = QString::fromLatin1(QCryptographicHash::hash(whole, QCryptographicHash::Sha1).toHex());
                icalmemory_free_buffer(whole);
            }
            auto found = byUid.constFind(uid);
            if (found == byUid.constEnd()) {
                found = byUid.insert(uid, groups.size());
                groups.append(TEventGroup{uid, nullptr, {}});
            }
            TEventGroup& group = groups[*found];
            if (icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY))
                group.overrides << e;
            else if (!group.master)
                group.master = e;
        }
    }
    return groups;
}

// The office's zone: `zone`, or the database's when empty; EQuorla for one
// not known.
QTimeZone officeZone(TQuorlaDB& database, const QByteArray& zone)
{
    const QByteArray name = zone.isEmpty() ? database.OfficeZone() : zone;
    const QTimeZone office(name);
    if (!office.isValid())
        throw EQuorla(QStringLiteral("Unknown time zone %1").arg(QString::fromUtf8(name)));
    return office;
}

// The master's RRULE as a rule starting at `start` (nullopt when it has
// none), its text in `written` and whether there are `several`. An UNTIL
// moment becomes the office's wall-clock time, which the rule compares with
// each day's occurrence.
std::optional<TRecurrenceRule> ruleOf(icalcomponent* master, const Converter& convert, const QDateTime& start,
                                      bool untimed, QString& written, bool& several)
{
    icalproperty* r = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY);
    if (!r)
        return std::nullopt;
    several = icalcomponent_get_next_property(master, ICAL_RRULE_PROPERTY) != nullptr;
    icalrecurrencetype recurrence = icalproperty_get_rrule(r);
    if (!icaltime_is_null_time(recurrence.until) && !recurrence.until.is_date) {
        bool date = false;
        recurrence.until = icaltime_from_timet_with_zone(convert.Wall(nullptr, recurrence.until, date), 0, nullptr);
        recurrence.until.zone = nullptr;
    }
    char* text = icalrecurrencetype_as_string_r(&recurrence);
    written = QString::fromLatin1(text);
    icalmemory_free_buffer(text);
    return TRecurrenceRule::FromRRule(written, start.date(), untimed ? QTime() : start.time());
}

// What `userKey`'s imported events became, by source: the map record's key
// and the record, in one range read.
QHash<QString, std::pair<QString, ImportRecord>> mappedOf(TXIsamFile& map, const QString& userKey)
{
    QHash<QString, std::pair<QString, ImportRecord>> mapped;
    ImportRecord record;
    if (!map.Range(record.bytes(), ImportRecord::SourceIndex, userKey + QString(40, QLatin1Char('0')),
                   userKey + QString(40, QLatin1Char('f')),
                   [&] {
                       mapped.insert(record.Source(), {map.CurrentKey(), record});
                       return true;
                   })
        && map.LastError() != IsamNotFound)
        throw EQuorla(map.ErrorText());
    return mapped;
}

// The categories' keys by name, case aside.
QHash<QString, QString> categoriesOf(TQuorlaDB& database)
{
    QHash<QString, QString> categories;
    CategoryRecord category;
    TLookup::Each(database.Categories(), category.bytes(),
                  [&](const QString& key) { categories.insert(category.Description().toCaseFolded(), key); });
    return categories;
}


// An entry opened for a change: its lock, the entry and its alarm as read
// under it, and the alarm time it had (empty without one).
struct TOpened
{
    std::optional<TRecordLock> lock;
    DayEntryRecord entry;
    AlarmRecord alarm;
    bool hadAlarm = false;
    QString openedAlarm;
};

// What an event of the file became before: its import map record (`mapKey`,
// empty while there is none; `known`, what it names) under its `source`.
struct TTarget
{
    QString source;
    QString mapKey;
    ImportRecord known;
    // It names a series.
    bool wasSeries = false;
    // No map record before this event: what it makes is counted as added.
    bool isNew = true;

    bool mapped() const { return !mapKey.isEmpty(); }
};

// A new single event waiting to be written with others.
struct TQueued
{
    QString source;
    DayEntryRecord entry;
    AlarmRecord alarm;
    TEntryDetails details;
};

// One import: the writers, the import map and what the user's events became,
// the categories by name, the new events not written yet, and the outcome so
// far. Each group of the file is taken in by the steps below.
class TImportRun
{
public:
    using TNote = TCalendarImport::TNote;
    using TOnWrite = std::function<void(const TRecordWriter::TWrite&)>;

    // Refuses with EQuorla an unknown `zone`, an import map that cannot be
    // had, or users whose identity cannot be read.
    TImportRun(TQuorlaDB& database, const QString& userKey, const UserRecord& user, const QByteArray& zone,
               const QDate& today, const TOnWrite& onWrite, bool book);

    // Takes each group in, then writes what is still queued.
    TCalendarImport::TOutcome run(const QList<TEventGroup>& groups);

private:
    void importGroup(const TEventGroup& group);
    void skipOrphans(const TEventGroup& group);
    bool readRule(icalcomponent* master, const TFields& fields, std::optional<TRecurrenceRule>& rule);
    bool findTarget(const QString& uid, const TFields& fields, TTarget& target);
    bool adoptOwn(const QString& uid, const TFields& fields, TTarget& target);
    QString ownTarget(const QString& uid, ImportRecord::Kind& kind, QString& owner);

    QStringList resourcesNamed(const TFields& fields);
    void importSingle(const TFields& fields, TTarget& target);
    void writeSingle(const TFields& fields, TTarget& target, const QStringList& booked);
    void bookSeries(const TFields& fields, const QString& seriesKey);
    TQueued newEvent(const QString& source, const TFields& fields);
    void queue(const QString& source, const TFields& fields);
    void flush();
    void mapBatch(const QStringList& keys);
    bool updateEntry(const QString& key, const TFields& fields, const QStringList& booked, bool& gone, QString& why);

    bool importSeries(const TFields& fields, const TRecurrenceRule& rule, TTarget& target, QString& seriesKey);
    SeriesRecord templateOf(const TFields& fields, const TRecurrenceRule& rule);
    bool updateSeries(const TFields& fields, const TRecurrenceRule& rule, SeriesRecord& templ,
                      const SeriesRecord& stored, const QString& key, QString& seriesKey);
    bool seriesUnchanged(const SeriesRecord& templ, const SeriesRecord& stored, const TRecurrenceRule& rule,
                         const QString& key);
    bool createSeries(const TFields& fields, SeriesRecord& templ, TTarget& target, QString& seriesKey);

    void alignToZone(icalcomponent* master, const TFields& fields, const QString& seriesKey);
    void moveOccurrence(const QString& entryKey, const QString& wanted, const QString& label, const QDate& day);
    void deleteExcluded(icalcomponent* master, const QString& label, const QString& seriesKey);
    bool leftAlone(const QHash<QString, SeriesLinkRecord>& byDay, qint64 wall);
    void deleteOccurrence(const QString& label, const QString& seriesKey, const QDate& day);
    void changeOccurrence(icalcomponent* event, const QString& seriesKey);
    void rewriteOccurrence(const SeriesLinkRecord& link, const TFields& changed);
    bool linkOf(const QString& seriesKey, qint64 wall, SeriesLinkRecord& found);

    TEventWriter::Result open(const QString& key, TOpened& opened);
    bool refill(TOpened& opened, const TFields& fields);
    bool detailsAre(const QString& key, const TEntryDetails& details);
    void fill(DayEntryRecord& entry, AlarmRecord& alarm, const TFields& fields);
    QString categoryKey(const TFields& fields);
    QString addCategory(const TFields& fields);
    void noteAltered(const TFields& fields);
    void remember(const QString& source, QString& mapKey, ImportRecord::Kind kind, const QString& key);
    std::function<void(const QString&)> rememberAs(TTarget& target, ImportRecord::Kind kind);
    int& counted(const TTarget& target);
    void skip(const QString& label, const QString& reason);
    void hold(const QString& holder);

    TQuorlaDB& database_;
    const QString userKey_;
    const UserRecord user_;
    const QTimeZone office_;
    const Converter convert_;
    const QDate today_;
    TEventWriter events_;
    std::unique_ptr<TSeriesWriter> series_;
    TRecordWriter mapWriter_;
    TXIsamFile* map_ = nullptr;
    QHash<QString, std::pair<QString, ImportRecord>> mapped_;
    QHash<QString, QString> categories_;
    bool mayAddCategories_ = false;
    QString identity_;
    // The resources of the database, when the file's are booked.
    std::unique_ptr<TResourceParties> parties_;
    QList<TQueued> queued_;
    TCalendarImport::TOutcome outcome_;
};

TImportRun::TImportRun(TQuorlaDB& database, const QString& userKey, const UserRecord& user, const QByteArray& zone,
                       const QDate& today, const TOnWrite& onWrite, bool book)
    : database_(database), userKey_(userKey), user_(user), office_(officeZone(database, zone)), convert_(office_),
      today_(today), events_(database)
{
    QString reason;
    map_ = database_.ImportMap(reason);
    if (!map_)
        throw EQuorla(reason);
    mapped_ = mappedOf(*map_, userKey_);
    categories_ = categoriesOf(database_);
    mayAddCategories_ = (user_.Rights() & UserRecord::CanAdminister) != 0;
    events_.OnWrite = onWrite;
    if (database_.Series()) {
        series_ = std::make_unique<TSeriesWriter>(database_);
        series_->OnWrite = onWrite;
    }
    mapWriter_.OnWrite = onWrite;
    if (!database_.Users().Identity(identity_))
        throw EQuorla(database_.Users().ErrorText());
    if (book)
        parties_ = std::make_unique<TResourceParties>(database_, identity_);
}

// A value the records cannot hold (a time no stamp can express) lists the
// event as not imported, and the rest of the file comes in.
TCalendarImport::TOutcome TImportRun::run(const QList<TEventGroup>& groups)
{
    for (const TEventGroup& group : groups) {
        try {
            importGroup(group);
        } catch (const EStamp& e) {
            skip(labelOfGroup(group), e.message());
        }
    }
    flush();
    return outcome_;
}

// One group of the file: its master and its changed occurrences.
void TImportRun::importGroup(const TEventGroup& group)
{
    if (!group.master) {
        skipOrphans(group);
        return;
    }
    TFields fields;
    QString why;
    if (!convert_.Decode(group.master, fields, why)) {
        skip(fields.label, why);
        return;
    }
    noteAltered(fields);
    std::optional<TRecurrenceRule> rule;
    TTarget target;
    if (!readRule(group.master, fields, rule) || !findTarget(group.uid, fields, target))
        return;
    if (!rule) {
        importSingle(fields, target);
        return;
    }
    QString seriesKey;
    if (!importSeries(fields, *rule, target, seriesKey))
        return;
    bookSeries(fields, seriesKey);
    alignToZone(group.master, fields, seriesKey);
    deleteExcluded(group.master, fields.label, seriesKey);
    for (icalcomponent* e : group.overrides)
        changeOccurrence(e, seriesKey);
}

void TImportRun::skipOrphans(const TEventGroup& group)
{
    for (icalcomponent* e : group.overrides) {
        TFields fields;
        QString why;
        convert_.Decode(e, fields, why);
        skip(fields.label, QStringLiteral("it changes an occurrence of a series the file does not hold"));
    }
}

// The master's rule, when it has one; false (listed as not imported) for a
// rule that has no form here or a database without series.
bool TImportRun::readRule(icalcomponent* master, const TFields& fields, std::optional<TRecurrenceRule>& rule)
{
    QString rrule;
    bool several = false;
    rule = ruleOf(master, convert_, ruleStart(master, convert_, fields), fields.untimed, rrule, several);
    if (rrule.isEmpty())
        return true;
    if (!rule || !rule->IsValid() || several) {
        skip(fields.label, QStringLiteral("its repeat rule has no form here (%1)").arg(rrule));
        return false;
    }
    if (!series_) {
        skip(fields.label, QStringLiteral("this database keeps no repeating events"));
        return false;
    }
    // A start the rule does not fit is no occurrence: the series starts on
    // its first, which names the same days, and which the editor's forms can
    // show (the nth weekday of the start's month).
    const QList<QDate> first = rule->Days(rule->Start(), QDate(2037, 12, 31), 1);
    if (!first.isEmpty())
        rule->setStart(first.first());
    return true;
}

// What the event `uid` became before, by the import map or by its own UID;
// false (listed) for another user's event the user may not change.
bool TImportRun::findTarget(const QString& uid, const TFields& fields, TTarget& target)
{
    target.source = sourceOf(userKey_, uid);
    if (const auto found = mapped_.constFind(target.source); found != mapped_.constEnd())
        std::tie(target.mapKey, target.known) = *found;
    if (!target.mapped() && !adoptOwn(uid, fields, target))
        return false;
    target.wasSeries = target.mapped() && target.known.kind() == ImportRecord::Kind::Series;
    target.isNew = !target.mapped();
    return true;
}

// This database's own export read back: what its UID names, where it still
// is, is what the event became (mapped from now on).
bool TImportRun::adoptOwn(const QString& uid, const TFields& fields, TTarget& target)
{
    ImportRecord::Kind kind = ImportRecord::Kind::Entry;
    QString owner;
    const QString own = ownTarget(uid, kind, owner);
    if (own.isEmpty())
        return true;
    if (owner != userKey_ && !(user_.Rights() & UserRecord::CanModifyOthersEntries)) {
        skip(fields.label, QStringLiteral("it is another user's event here"));
        return false;
    }
    remember(target.source, target.mapKey, kind, own);
    target.known.setKind(kind);
    target.known.setTargetKey(own);
    return true;
}

// The entry or series (`kind`, its `owner`) a UID of this database's own
// export names, when it is still there; empty otherwise.
QString TImportRun::ownTarget(const QString& uid, ImportRecord::Kind& kind, QString& owner)
{
    DayEntryRecord entry;
    SeriesRecord templ;
    kind = ImportRecord::Kind::Entry;
    if (uid.size() > 10 && uid == TCalendarExport::Uid(uid.left(10), identity_)
        && TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, uid.left(10))) {
        owner = entry.OwnerKey();
        return uid.left(10);
    }
    kind = ImportRecord::Kind::Series;
    if (series_ && uid.size() > 17 && uid == TCalendarExport::SeriesUid(uid.mid(7, 10), identity_)
        && series_->ReadSeries(uid.mid(7, 10), templ)) {
        owner = templ.OwnerKey();
        return uid.mid(7, 10);
    }
    return QString();
}

// The keys, in key order, of the resources here that the event's ATTENDEEs
// name (by address or by name); the others are no resource of this office.
QStringList TImportRun::resourcesNamed(const TFields& fields)
{
    QStringList keys;
    for (qsizetype i = 0; parties_ && i < fields.resources.size(); ++i)
        if (const auto found = parties_->Named(fields.resources[i], fields.resourceNames.value(i)))
            keys << found->key;
    keys.sort();
    keys.removeDuplicates();
    return keys;
}

// A single event, with the resources it names booked for its time: one
// that is busy then refuses the event (listed with whose booking it
// meets), nothing written.
void TImportRun::importSingle(const TFields& fields, TTarget& target)
{
    try {
        writeSingle(fields, target, resourcesNamed(fields));
    } catch (const TBookingWriter::ERefused& e) {
        skip(fields.label, QString(e.message()).replace(QLatin1Char('\r'), QLatin1Char(' ')));
    }
}

// The entry it became is changed; one new, or removed since, is made; a
// series it was replaced by it. Without `booked`, a changed entry keeps
// what it books.
void TImportRun::writeSingle(const TFields& fields, TTarget& target, const QStringList& booked)
{
    bool gone = true;
    if (target.mapped() && !target.wasSeries) {
        QString why;
        if (!updateEntry(target.known.TargetKey(), fields, booked, gone, why)) {
            skip(fields.label, why);
            return;
        }
        if (!gone) {
            ++outcome_.updated;
            return;
        }
    } else if (target.wasSeries) {
        // A series that repeats no more: the event replaces it, once it went.
        const TSeriesWriter::Result deleted = series_->Delete(target.known.TargetKey(), TSeriesWriter::Scope::All,
                                                              QDate(), TSeriesWriter::HeldOccurrences::Leave).result;
        if (deleted == TSeriesWriter::Result::Hidden || deleted == TSeriesWriter::Result::SeriesLocked) {
            skip(fields.label, deleted == TSeriesWriter::Result::Hidden ? HiddenOccurrence
                                                                        : QStringLiteral("it is open elsewhere"));
            return;
        }
    }
    if (!target.mapped() && booked.isEmpty()) {
        queue(target.source, fields);
        return;
    }
    TQueued made = newEvent(target.source, fields);
    // The entry's key goes into the map before the entry is written, so
    // that a kill in between leaves a map record naming a key nobody else
    // will ever use, which the next import finds empty and fills.
    events_.insertEntryWithAlarms(made.entry, made.alarm, rememberAs(target, ImportRecord::Kind::Entry), made.details,
                                  booked);
    ++counted(target);
}

// A new entry of the importing user's, its alarm and details from `fields`.
TQueued TImportRun::newEvent(const QString& source, const TFields& fields)
{
    TQueued made{source, {}, {}, fields.details};
    database_.InitDayEntryRecord(made.entry);
    made.entry.setOwnerKey(userKey_);
    made.entry.setAssigneeKeys({userKey_});
    database_.InitAlarmRecord(made.alarm);
    fill(made.entry, made.alarm, fields);
    return made;
}

// New single events go in ImportBatch at a time (a feed's thousands in a
// few transactions, not one each), their map records written before them
// as for one.
void TImportRun::queue(const QString& source, const TFields& fields)
{
    queued_ << newEvent(source, fields);
    if (queued_.size() >= ImportBatch)
        flush();
}

void TImportRun::flush()
{
    if (queued_.isEmpty())
        return;
    QList<DayEntryRecord> entries;
    QList<AlarmRecord> alarms;
    QList<TEntryDetails> details;
    for (const TQueued& q : queued_) {
        entries << q.entry;
        alarms << q.alarm;
        details << q.details;
    }
    events_.insertEntriesWithAlarms(entries, alarms, [this](const QStringList& keys) { mapBatch(keys); }, details);
    outcome_.added += int(queued_.size());
    queued_.clear();
}

// The map records of the queued events, under the keys set aside for them.
void TImportRun::mapBatch(const QStringList& keys)
{
    QList<TXIsamFile::TBatchWrite> writes;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        ImportRecord record;
        record.setSource(queued_[i].source);
        record.setKind(ImportRecord::Kind::Entry);
        record.setTargetKey(keys[i]);
        writes << TXIsamFile::TBatchWrite{TXIsamFile::TBatchWrite::Add, QString(), TRecordWriter::bytesOf(record.bytes())};
    }
    mapWriter_.writeBatch(*map_, writes);
}

// Changes an entry this user imported before; false when it is open
// elsewhere (`why` tells), true with `gone` when it was deleted since.
bool TImportRun::updateEntry(const QString& key, const TFields& fields, const QStringList& booked, bool& gone,
                             QString& why)
{
    TOpened opened;
    gone = false;
    const TEventWriter::Result result = open(key, opened);
    if (result == TEventWriter::Result::Gone) {
        gone = true;
        return true;
    }
    if (result != TEventWriter::Result::Done) {
        why = QStringLiteral("it is open elsewhere");
        return false;
    }
    const TEntryDetails details = TEventCodec::Onto(fields.details, TDetailsStore(database_).Entry(key));
    // The same again (a calendar read back): nothing to write.
    const bool rebook = !booked.isEmpty() && booked != parties_->Of(key);
    if (refill(opened, fields) && detailsAre(key, details) && !rebook)
        return true;
    if (events_.updateEntryWithAlarms(key, opened.entry, opened.alarm, opened.openedAlarm, details,
                                      rebook ? std::optional<QStringList>(booked) : std::nullopt)
        != TEventWriter::Result::Done) {
        why = QStringLiteral("its alarm is open elsewhere");
        return false;
    }
    return true;
}

// A series books the resources it names for every occurrence; one whose
// time meets another booking goes without, and a remark says which.
void TImportRun::bookSeries(const TFields& fields, const QString& seriesKey)
{
    const QStringList booked = resourcesNamed(fields);
    TRecordWriter records;
    records.OnWrite = mapWriter_.OnWrite;
    TBookingWriter bookings(database_, records);
    if (booked.isEmpty() || booked == bookings.ResourcesOfSeries(seriesKey))
        return;
    for (const QString& left : bookings.BookSeries(seriesKey, booked))
        outcome_.remarks << TNote{fields.label, QString(left).replace(QLatin1Char('\r'), QLatin1Char(' '))};
}

// A series: the one the event became is changed, or one is made; false
// (listed) when neither could be. `seriesKey` takes the series' key.
bool TImportRun::importSeries(const TFields& fields, const TRecurrenceRule& rule, TTarget& target, QString& seriesKey)
{
    SeriesRecord templ = templateOf(fields, rule);
    SeriesRecord stored;
    if (target.wasSeries && series_->ReadSeries(target.known.TargetKey(), stored))
        return updateSeries(fields, rule, templ, stored, target.known.TargetKey(), seriesKey);
    return createSeries(fields, templ, target, seriesKey);
}

// The series' template, made and kept as the series' own.
SeriesRecord TImportRun::templateOf(const TFields& fields, const TRecurrenceRule& rule)
{
    SeriesRecord templ;
    templ.initialise();
    templ.setOwnerKey(userKey_);
    templ.setAssigneeKeys({userKey_});
    templ.setDescription(fields.text);
    templ.setCategoryKey(categoryKey(fields));
    templ.setFlags((fields.untimed ? SeriesRecord::UnTimed : 0) | (fields.isPrivate ? SeriesRecord::Private : 0)
                   | (fields.alarm ? SeriesRecord::AlarmWanted : 0));
    templ.setAlarmOffset(fields.alarm ? qint32(fields.wall - fields.ringWall) : 0);
    templ.setRule(rule);
    return templ;
}

// Changes the series `key` (`stored`) to `templ`, unless it is so already.
bool TImportRun::updateSeries(const TFields& fields, const TRecurrenceRule& rule, SeriesRecord& templ,
                              const SeriesRecord& stored, const QString& key, QString& seriesKey)
{
    // Assignees given on a workstation since stay.
    templ.setAssigneeKeys(stored.AssigneeKeys());
    const TEntryDetails storedDetails = TDetailsStore(database_).Series(key);
    const TEntryDetails details = TEventCodec::Onto(fields.details, storedDetails);
    const bool unchanged = storedDetails == details && seriesUnchanged(templ, stored, rule, key);
    const TSeriesWriter::TOutcome changed
        = unchanged ? TSeriesWriter::TOutcome{}
                    : series_->Change(key, TSeriesWriter::Scope::All, rule.Start(), templ, today_,
                                      TSeriesWriter::HeldOccurrences::Leave, QString(), details);
    if (!changed.held.isEmpty())
        hold(changed.held.first().holder);
    if (changed.result != TSeriesWriter::Result::Done) {
        skip(fields.label, QStringLiteral("it is being changed elsewhere"));
        outcome_.held = outcome_.held || changed.result == TSeriesWriter::Result::SeriesLocked;
        return false;
    }
    seriesKey = changed.seriesKey.isEmpty() ? key : changed.seriesKey;
    ++outcome_.updated;
    return true;
}

// The same template and rule again: a change would only rewrite every
// occurrence and make their alarms anew. Not so for a series a writer left
// half-done (a noted change, a split, pending occurrences), nor one not made
// up to its horizon: the change finishes it, and makes the days the
// occurrences changed alone may name.
bool TImportRun::seriesUnchanged(const SeriesRecord& templ, const SeriesRecord& stored, const TRecurrenceRule& rule,
                                 const QString& key)
{
    SeriesRecord same = templ;
    same.setOwnerKey(stored.OwnerKey());
    same.setMadeUntil(stored.MadeUntil());
    same.setChange(stored.Change(), stored.ChangeFrom());
    same.setSplitFrom(stored.SplitFrom());
    same.setFlags(same.Flags() | (stored.Flags() & SeriesRecord::SplitDone));
    const QString horizon = timeKey(wallOf(QDateTime(TSeriesWriter::Horizon(rule, today_), QTime(0, 0), Qt::UTC)));
    return std::ranges::equal(same.bytes(), stored.bytes()) && stored.Change() == SeriesRecord::Pending::None
        && !stored.Splitting() && stored.MadeUntil() >= horizon
        && std::ranges::none_of(series_->Links(key), [](const auto& link) {
               return (link.second.Flags() & SeriesLinkRecord::Pending) != 0;
           });
}

// A new series in place of what the event became (an entry, deleted).
bool TImportRun::createSeries(const TFields& fields, SeriesRecord& templ, TTarget& target, QString& seriesKey)
{
    if (target.mapped() && !target.wasSeries)
        events_.deleteEntryWithAlarms(target.known.TargetKey());
    const TSeriesWriter::TOutcome made
        = series_->Create(templ, today_, rememberAs(target, ImportRecord::Kind::Series), fields.details);
    if (made.result != TSeriesWriter::Result::Done) {
        skip(fields.label, QStringLiteral("its repeat rule has no form here"));
        return false;
    }
    seriesKey = made.seriesKey;
    ++counted(target);
    return true;
}

// A series written in another zone happens at that zone's time: where the
// office's clock shows another time on an occurrence's day (their
// daylight-saving changes fall on other dates), that occurrence moves there,
// changed alone. Occurrences made later, past today's horizon, keep the
// office's time of the rule.
void TImportRun::alignToZone(icalcomponent* master, const TFields& fields, const QString& seriesKey)
{
    const icaltimetype t = icalcomponent_get_dtstart(master);
    const QTimeZone zone = convert_.ZoneOf(icalcomponent_get_first_property(master, ICAL_DTSTART_PROPERTY), t);
    if (fields.untimed || zone.id() == office_.id())
        return;
    const QTime time(t.hour, t.minute, t.second);
    const qint64 shift = asWall(fields.wall).date().daysTo(QDate(t.year, t.month, t.day));
    for (const auto& [linkKey, link] : series_->Links(seriesKey)) {
        if (RecordKey::isNone(link.EntryKey()) || (link.Flags() & (SeriesLinkRecord::Deleted | SeriesLinkRecord::Exception)))
            continue;
        const QDate day = asWall(RecordKey::parse(link.Start())).date();
        moveOccurrence(link.EntryKey(), timeKey(convert_.WallAt(zone, day.addDays(shift), time)), fields.label, day);
    }
}

// The occurrence `entryKey` (of `day`) starting at `wanted`, changed alone;
// one open elsewhere keeps the office's time, and a remark says so.
void TImportRun::moveOccurrence(const QString& entryKey, const QString& wanted, const QString& label, const QDate& day)
{
    TOpened opened;
    if (open(entryKey, opened) != TEventWriter::Result::Done) {
        outcome_.remarks << TNote{label, QStringLiteral("its occurrence of %1 is open elsewhere and keeps the office's time")
                                             .arg(day.toString(Qt::ISODate))};
        return;
    }
    if (opened.entry.StartTime() == wanted)
        return;
    if (!opened.hadAlarm) {
        database_.InitAlarmRecord(opened.alarm);
        opened.alarm.setFlags(0);
    }
    opened.entry.setStartTime(wanted);
    series_->ChangeOne(entryKey, opened.entry, opened.alarm, opened.openedAlarm);
}

// The occurrences the master's EXDATEs name are deleted (one beyond the
// horizon is kept as a deleted day before it is made), by the day the rule
// gives them.
void TImportRun::deleteExcluded(icalcomponent* master, const QString& label, const QString& seriesKey)
{
    if (!icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY))
        return;
    QHash<QString, SeriesLinkRecord> byDay;
    for (const auto& [key, link] : series_->Links(seriesKey))
        byDay.insert(link.DayKey(), link);
    for (icalproperty* x = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY); x;
         x = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY)) {
        bool date = false;
        const qint64 wall = convert_.Wall(x, icalproperty_get_exdate(x), date);
        if (inStampYears(wall) && !leftAlone(byDay, wall))
            deleteOccurrence(label, seriesKey, asWall(wall).date());
    }
}

// A day whose occurrence is deleted already (alone, or its entry as a plain
// entry) is left as it is, and so is one the importing user may not see:
// every calendar of his leaves a day private to others out with an EXDATE,
// which his client writes back (a server does not even let him read it).
bool TImportRun::leftAlone(const QHash<QString, SeriesLinkRecord>& byDay, qint64 wall)
{
    static const TFilterRules everyone;
    const auto made = byDay.constFind(dayKeyOf(wall));
    DayEntryRecord stillThere;
    return made != byDay.cend()
        && ((made->Flags() & SeriesLinkRecord::Deleted)
            || !TLookup::Equal(database_.DayEntries(), stillThere.bytes(), TXIsamFile::PrimaryIndex, made->EntryKey())
            || !EntryVisible(everyone, user_, userKey_, stillThere));
}

void TImportRun::deleteOccurrence(const QString& label, const QString& seriesKey, const QDate& day)
{
    const TSeriesWriter::TOutcome deleted
        = series_->Delete(seriesKey, TSeriesWriter::Scope::ThisOne, day, TSeriesWriter::HeldOccurrences::Leave);
    if (deleted.result == TSeriesWriter::Result::Hidden) {
        skip(label, HiddenOccurrence);
        return;
    }
    if (deleted.result != TSeriesWriter::Result::EntryLocked && deleted.result != TSeriesWriter::Result::SeriesLocked
        && deleted.held.isEmpty())
        return;
    skip(label, QStringLiteral("its occurrence of %1 is open elsewhere").arg(day.toString(Qt::ISODate)));
    outcome_.held = true;
    if (!deleted.held.isEmpty())
        outcome_.holder = deleted.held.first().holder;
}

// An occurrence changed alone (RECURRENCE-ID), by the day the rule gives
// it; one cancelled is deleted.
void TImportRun::changeOccurrence(icalcomponent* event, const QString& seriesKey)
{
    icalproperty* given = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY);
    bool date = false;
    const qint64 wall = convert_.Wall(given, icalproperty_get_recurrenceid(given), date);
    SeriesLinkRecord link;
    TFields changed;
    QString why;
    const bool taken = convert_.Decode(event, changed, why);
    if (!inStampYears(wall) || !linkOf(seriesKey, wall, link)) {
        skip(changed.label, QStringLiteral("it changes an occurrence the series does not have"));
    } else if (taken) {
        noteAltered(changed);
        rewriteOccurrence(link, changed);
    } else if (icalcomponent_get_status(event) == ICAL_STATUS_CANCELLED) {
        deleteOccurrence(changed.label, seriesKey, asWall(wall).date());
    } else {
        skip(changed.label, why);
    }
}

void TImportRun::rewriteOccurrence(const SeriesLinkRecord& link, const TFields& changed)
{
    TOpened opened;
    if (open(link.EntryKey(), opened) != TEventWriter::Result::Done) {
        skip(changed.label, QStringLiteral("it is open elsewhere"));
        hold(events_.LockHolder());
        return;
    }
    const TEntryDetails details = TEventCodec::Onto(changed.details, TDetailsStore(database_).Entry(link.EntryKey()));
    // Changed alone already, just so: left alone.
    if (refill(opened, changed) && (link.Flags() & SeriesLinkRecord::Exception) && detailsAre(link.EntryKey(), details))
        return;
    if (series_->ChangeOne(link.EntryKey(), opened.entry, opened.alarm, opened.openedAlarm, details).result
        != TSeriesWriter::Result::Done) {
        skip(changed.label, QStringLiteral("it is open elsewhere"));
        outcome_.held = true;
    }
}

// The occurrence the series has on the day of `wall` (not a deleted day).
bool TImportRun::linkOf(const QString& seriesKey, qint64 wall, SeriesLinkRecord& found)
{
    const QString dayKey = dayKeyOf(wall);
    for (const auto& [key, link] : series_->Links(seriesKey)) {
        if (link.DayKey() == dayKey && !(link.Flags() & SeriesLinkRecord::Deleted)) {
            found = link;
            return true;
        }
    }
    return false;
}

TEventWriter::Result TImportRun::open(const QString& key, TOpened& opened)
{
    const TEventWriter::Result result = events_.openEntry(key, opened.lock, opened.entry, opened.alarm, opened.hadAlarm);
    opened.openedAlarm = opened.hadAlarm ? opened.alarm.AlarmTime() : QString();
    return result;
}

// The opened entry and its alarm filled anew from `fields`: whether they
// are as they were.
bool TImportRun::refill(TOpened& opened, const TFields& fields)
{
    const DayEntryRecord before = opened.entry;
    database_.InitAlarmRecord(opened.alarm);
    fill(opened.entry, opened.alarm, fields);
    return std::ranges::equal(opened.entry.bytes(), before.bytes())
        && (fields.alarm ? opened.openedAlarm == opened.alarm.AlarmTime() : !opened.hadAlarm);
}

bool TImportRun::detailsAre(const QString& key, const TEntryDetails& details)
{
    return TDetailsStore(database_).Entry(key) == details;
}

void TImportRun::fill(DayEntryRecord& entry, AlarmRecord& alarm, const TFields& fields)
{
    entry.setStartTime(timeKey(fields.wall));
    entry.setFlags((fields.untimed ? DayEntryRecord::UnTimed : 0) | (fields.isPrivate ? DayEntryRecord::Private : 0));
    entry.setDescription(fields.text);
    entry.setCategoryKey(categoryKey(fields));
    alarm.setFlags(fields.alarm ? AlarmRecord::AlarmWanted : 0);
    alarm.setAlarmTime(timeKey(fields.alarm ? fields.ringWall : fields.wall));
}

// The key of the event's first category, by name (case aside); one not
// known is added when the user may.
QString TImportRun::categoryKey(const TFields& fields)
{
    if (fields.category.isEmpty())
        return QString(RecordKey::None);
    if (fields.moreCategories)
        outcome_.remarks << TNote{fields.label,
                                  QStringLiteral("only its first category, \"%1\", was kept").arg(fields.category)};
    const auto known = categories_.constFind(fields.category.toCaseFolded());
    return known != categories_.constEnd() ? *known : addCategory(fields);
}

// The event's category added; none (a remark says why) for a user who may
// not add one or a name too long for the dataset.
QString TImportRun::addCategory(const TFields& fields)
{
    if (!mayAddCategories_) {
        outcome_.remarks << TNote{fields.label,
                                  QStringLiteral("category \"%1\" is not known here; left without one").arg(fields.category)};
        return QString(RecordKey::None);
    }
    if (!TTextCapacity::fits(fields.category, CategoryRecord::DescriptionCapacity)) {
        outcome_.remarks << TNote{fields.label, QStringLiteral("category \"%1\" is longer than %2 bytes; left without one")
                                                    .arg(fields.category)
                                                    .arg(CategoryRecord::DescriptionCapacity)};
        return QString(RecordKey::None);
    }
    CategoryRecord added;
    const QString key = TCategoryWriter(database_).addCategory(fields.category, added);
    categories_.insert(fields.category.toCaseFolded(), key);
    return key;
}

// Whatever an event lost on its way in is said with it.
void TImportRun::noteAltered(const TFields& fields)
{
    for (const QString& what : fields.altered)
        outcome_.remarks << TNote{fields.label, what};
}

// Points the map record of `source` (`mapKey`, set here when it is new) at
// `key`.
void TImportRun::remember(const QString& source, QString& mapKey, ImportRecord::Kind kind, const QString& key)
{
    ImportRecord record;
    record.setSource(source);
    record.setKind(kind);
    record.setTargetKey(key);
    if (mapKey.isEmpty())
        mapKey = mapWriter_.insert(*map_, record.bytes());
    else
        mapWriter_.update(*map_, mapKey, record.bytes());
}

// What a writer tells the key it set aside: mapped as `target`'s before
// anything is written under it.
std::function<void(const QString&)> TImportRun::rememberAs(TTarget& target, ImportRecord::Kind kind)
{
    return [this, &target, kind](const QString& key) { remember(target.source, target.mapKey, kind, key); };
}

int& TImportRun::counted(const TTarget& target)
{
    return target.isNew ? outcome_.added : outcome_.updated;
}

void TImportRun::skip(const QString& label, const QString& reason)
{
    outcome_.skipped << TNote{label, reason};
}

void TImportRun::hold(const QString& holder)
{
    outcome_.held = true;
    outcome_.holder = holder;
}

} // namespace

TCalendarImport::TCalendarImport(TQuorlaDB& database, const QString& userKey, const UserRecord& user)
    : database_(database), userKey_(userKey), user_(user)
{
}

QString TCalendarImport::NotCalendarMessage(const QString& name)
{
    return QStringLiteral("%1 is not an iCalendar file").arg(name);
}

QString TCalendarImport::NoRightMessage(const QString& fullName)
{
    return QStringLiteral("%1 may not add entries").arg(fullName);
}

QByteArray TCalendarImport::ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EQuorla(QStringLiteral("Unable to read %1\r\r%2").arg(path, file.errorString()));
    // One byte past the bound tells a larger input, a file or an endless
    // stream, without ever holding more than that.
    QByteArray text = file.read(MaxInputBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw EQuorla(QStringLiteral("Unable to read %1\r\r%2").arg(path, file.errorString()));
    if (text.size() > MaxInputBytes)
        throw EQuorla(QStringLiteral("Unable to read %1\r\rit is larger than %2 MiB, the most a calendar to import "
                                     "may be")
                          .arg(path, QString::number(MaxInputBytes / (1024 * 1024))));
    return text;
}

QString TCalendarImport::Report(const TOutcome& outcome)
{
    QString text = QStringLiteral("%1 %2 added, %3 updated.")
                       .arg(outcome.added)
                       .arg(outcome.added == 1 ? QStringLiteral("event") : QStringLiteral("events"))
                       .arg(outcome.updated);
    const auto list = [&text](const QString& title, const QList<TNote>& notes) {
        if (notes.isEmpty())
            return;
        text += QStringLiteral("\n\n") + title;
        for (const TNote& note : notes)
            text += QStringLiteral("\n%1: %2").arg(note.event, note.reason);
    };
    list(QStringLiteral("Not imported:"), outcome.skipped);
    list(QStringLiteral("Imported in part:"), outcome.remarks);
    return text;
}

TCalendarImport::TOutcome TCalendarImport::Import(const QByteArray& text, const QString& name)
{
    if (!(user_.Rights() & UserRecord::CanAddEntries))
        throw EQuorla(NoRightMessage(user_.FullName()));
    const Component root = parsed(text);
    const QList<icalcomponent*> calendars = root ? calendarsOf(root.get()) : QList<icalcomponent*>();
    if (calendars.isEmpty())
        throw EQuorla(NotCalendarMessage(name));
    TImportRun run(database_, userKey_, user_, Zone, Today.isValid() ? Today : TClock::now().date(), OnWrite,
                   BookResources);
    return run.run(groupsOf(calendars));
}

bool TCalendarImport::ReadEvent(const QByteArray& text, const QString& name, TEvent& event, QString& reason)
{
    reason = NotCalendarMessage(name);
    const Component root = parsed(text);
    if (!root || icalcomponent_isa(root.get()) != ICAL_VCALENDAR_COMPONENT)
        return false;
    icalcomponent* found = nullptr;
    for (icalcomponent* e = icalcomponent_get_first_component(root.get(), ICAL_VEVENT_COMPONENT); e && !found;
         e = icalcomponent_get_next_component(root.get(), ICAL_VEVENT_COMPONENT)) {
        if (!icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY))
            found = e;
    }
    if (!found) {
        reason = QStringLiteral("%1 holds no event").arg(name);
        return false;
    }
    if (!TEventCodec(officeZone(database_, Zone)).Decode(found, event, reason))
        return false;
    event.uid = textOf(icalcomponent_get_uid(found));
    if (event.moreCategories)
        event.altered << QStringLiteral("only its first category, \"%1\", was kept").arg(event.category);
    event.repeats = icalcomponent_get_first_property(found, ICAL_RRULE_PROPERTY) != nullptr
        || icalcomponent_get_first_property(found, ICAL_RDATE_PROPERTY) != nullptr;
    reason.clear();
    return true;
}

QString TCalendarImport::SourceOf(const QString& userKey, const QString& uid)
{
    return sourceOf(userKey, uid);
}
