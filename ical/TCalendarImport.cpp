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
#include "TCalendarExport.h"
#include "TClock.h"
#include "TDetailsStore.h"
#include "TEventCodec.h"
#include "TEventWriter.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TRecordWriter.h"
#include "TRecurrenceRule.h"
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
    const QTimeZone office = officeZone(database_, Zone);
    const Converter convert(office);
    const QDate today = Today.isValid() ? Today : TClock::now().date();
    const QList<TEventGroup> groups = groupsOf(calendars);

    QString reason;
    TXIsamFile* map = database_.ImportMap(reason);
    if (!map)
        throw EQuorla(reason);
    QHash<QString, std::pair<QString, ImportRecord>> mapped = mappedOf(*map, userKey_);
    QHash<QString, QString> categories = categoriesOf(database_);
    const bool mayAddCategories = (user_.Rights() & UserRecord::CanAdminister) != 0;

    TOutcome outcome;
    TEventWriter events(database_);
    events.OnWrite = OnWrite;
    std::unique_ptr<TSeriesWriter> series;
    if (database_.Series()) {
        series = std::make_unique<TSeriesWriter>(database_);
        series->OnWrite = OnWrite;
    }
    TRecordWriter mapWriter;
    mapWriter.OnWrite = OnWrite;

    // The entry or series (`kind`, its `owner`) a UID of this database's own
    // export names, when it is still there; empty otherwise.
    QString identity;
    if (!database_.Users().Identity(identity))
        throw EQuorla(database_.Users().ErrorText());
    const auto ownTarget = [&](const QString& uid, ImportRecord::Kind& kind, QString& owner) {
        DayEntryRecord entry;
        SeriesRecord templ;
        kind = ImportRecord::Kind::Entry;
        if (uid.size() > 10 && uid == TCalendarExport::Uid(uid.left(10), identity)
            && TLookup::Equal(database_.DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, uid.left(10))) {
            owner = entry.OwnerKey();
            return uid.left(10);
        }
        kind = ImportRecord::Kind::Series;
        if (series && uid.size() > 17 && uid == TCalendarExport::SeriesUid(uid.mid(7, 10), identity)
            && series->ReadSeries(uid.mid(7, 10), templ)) {
            owner = templ.OwnerKey();
            return uid.mid(7, 10);
        }
        return QString();
    };
    // Whatever an event lost on its way in is said with it.
    const auto noteAltered = [&](const TFields& fields) {
        for (const QString& what : fields.altered)
            outcome.remarks << TNote{fields.label, what};
    };
    const auto categoryKey = [&](const TFields& fields) {
        if (fields.category.isEmpty())
            return QString(RecordKey::None);
        if (fields.moreCategories)
            outcome.remarks << TNote{fields.label,
                                     QStringLiteral("only its first category, \"%1\", was kept").arg(fields.category)};
        const auto known = categories.constFind(fields.category.toCaseFolded());
        if (known != categories.constEnd())
            return *known;
        if (!mayAddCategories) {
            outcome.remarks << TNote{fields.label,
                                     QStringLiteral("category \"%1\" is not known here; left without one").arg(fields.category)};
            return QString(RecordKey::None);
        }
        if (!TTextCapacity::fits(fields.category, CategoryRecord::DescriptionCapacity)) {
            outcome.remarks << TNote{fields.label, QStringLiteral("category \"%1\" is longer than %2 bytes; left without one")
                                                       .arg(fields.category)
                                                       .arg(CategoryRecord::DescriptionCapacity)};
            return QString(RecordKey::None);
        }
        CategoryRecord added;
        const QString key = TCategoryWriter(database_).addCategory(fields.category, added);
        categories.insert(fields.category.toCaseFolded(), key);
        return key;
    };
    const auto fill = [&](DayEntryRecord& entry, AlarmRecord& alarm, const TFields& fields) {
        entry.setStartTime(timeKey(fields.wall));
        entry.setFlags((fields.untimed ? DayEntryRecord::UnTimed : 0) | (fields.isPrivate ? DayEntryRecord::Private : 0));
        entry.setDescription(fields.text);
        entry.setCategoryKey(categoryKey(fields));
        alarm.setFlags(fields.alarm ? AlarmRecord::AlarmWanted : 0);
        alarm.setAlarmTime(timeKey(fields.alarm ? fields.ringWall : fields.wall));
    };
    // The entry's key goes into the map before the entry is written, so
    // that a kill in between leaves a map record naming a key nobody else
    // will ever use, which the next import finds empty and fills.
    const auto insertEntry = [&](const TFields& fields, const std::function<void(const QString&)>& reserved) {
        DayEntryRecord entry;
        database_.InitDayEntryRecord(entry);
        entry.setOwnerKey(userKey_);
        entry.setAssigneeKeys({userKey_});
        AlarmRecord alarm;
        database_.InitAlarmRecord(alarm);
        fill(entry, alarm, fields);
        return events.insertEntryWithAlarms(entry, alarm, reserved, fields.details);
    };
    // Changes an entry this user imported before; false when it is open
    // elsewhere (`why` tells), true with `gone` when it was deleted since.
    const auto updateEntry = [&](const QString& key, const TFields& fields, bool& gone, QString& why) {
        std::optional<TRecordLock> lock;
        DayEntryRecord entry;
        AlarmRecord alarm;
        bool hadAlarm = false;
        gone = false;
        const TEventWriter::Result opened = events.openEntry(key, lock, entry, alarm, hadAlarm);
        if (opened == TEventWriter::Result::Gone) {
            gone = true;
            return true;
        }
        if (opened != TEventWriter::Result::Done) {
            why = QStringLiteral("it is open elsewhere");
            return false;
        }
        const QString openedAlarm = hadAlarm ? alarm.AlarmTime() : QString();
        const DayEntryRecord before = entry;
        database_.InitAlarmRecord(alarm);
        fill(entry, alarm, fields);
        const TEntryDetails details = TEventCodec::Onto(fields.details, TDetailsStore(database_).Entry(key));
        // The same again (a calendar read back): nothing to write.
        if (std::ranges::equal(entry.bytes(), before.bytes())
            && (fields.alarm ? openedAlarm == alarm.AlarmTime() : !hadAlarm)
            && TDetailsStore(database_).Entry(key) == details)
            return true;
        if (events.updateEntryWithAlarms(key, entry, alarm, openedAlarm, details) != TEventWriter::Result::Done) {
            why = QStringLiteral("its alarm is open elsewhere");
            return false;
        }
        return true;
    };
    // New single events go in ImportBatch at a time (a feed's thousands in
    // a few transactions, not one each), their map records written before
    // them as for one.
    struct TQueued
    {
        QString source;
        DayEntryRecord entry;
        AlarmRecord alarm;
        TEntryDetails details;
    };
    QList<TQueued> queued;
    const auto flush = [&] {
        if (queued.isEmpty())
            return;
        QList<DayEntryRecord> entries;
        QList<AlarmRecord> alarms;
        QList<TEntryDetails> details;
        for (const TQueued& q : queued) {
            entries << q.entry;
            alarms << q.alarm;
            details << q.details;
        }
        events.insertEntriesWithAlarms(entries, alarms, [&](const QStringList& keys) {
            QList<TXIsamFile::TBatchWrite> writes;
            for (qsizetype i = 0; i < keys.size(); ++i) {
                ImportRecord record;
                record.setSource(queued[i].source);
                record.setKind(ImportRecord::Kind::Entry);
                record.setTargetKey(keys[i]);
                writes << TXIsamFile::TBatchWrite{TXIsamFile::TBatchWrite::Add, QString(),
                                                  TRecordWriter::bytesOf(record.bytes())};
            }
            mapWriter.writeBatch(*map, writes);
        }, details);
        outcome.added += int(queued.size());
        queued.clear();
    };

    // Points the map record of `source` (`mapKey`, set here when it is
    // new) at `key`.
    const auto remember = [&](const QString& source, QString& mapKey, ImportRecord::Kind kind, const QString& key) {
        ImportRecord record;
        record.setSource(source);
        record.setKind(kind);
        record.setTargetKey(key);
        if (mapKey.isEmpty())
            mapKey = mapWriter.insert(*map, record.bytes());
        else
            mapWriter.update(*map, mapKey, record.bytes());
    };

    // A series written in another zone happens at that zone's time: where
    // the office's clock shows another time on an occurrence's day (their
    // daylight-saving changes fall on other dates), that occurrence moves
    // there, changed alone. Occurrences made later, past today's horizon,
    // keep the office's time of the rule.
    const auto alignToZone = [&](icalcomponent* master, const TFields& fields, const QString& seriesKey) {
        const icaltimetype t = icalcomponent_get_dtstart(master);
        const QTimeZone zone = convert.ZoneOf(icalcomponent_get_first_property(master, ICAL_DTSTART_PROPERTY), t);
        if (fields.untimed || zone.id() == office.id())
            return;
        const QTime time(t.hour, t.minute, t.second);
        const qint64 shift = asWall(fields.wall).date().daysTo(QDate(t.year, t.month, t.day));
        for (const auto& [linkKey, link] : series->Links(seriesKey)) {
            if (RecordKey::isNone(link.EntryKey()) || (link.Flags() & (SeriesLinkRecord::Deleted | SeriesLinkRecord::Exception)))
                continue;
            const QDate day = asWall(RecordKey::parse(link.Start())).date();
            const QString wanted = timeKey(convert.WallAt(zone, day.addDays(shift), time));
            std::optional<TRecordLock> lock;
            DayEntryRecord entry;
            AlarmRecord alarm;
            bool hadAlarm = false;
            if (events.openEntry(link.EntryKey(), lock, entry, alarm, hadAlarm) != TEventWriter::Result::Done) {
                outcome.remarks << TNote{fields.label, QStringLiteral("its occurrence of %1 is open elsewhere and "
                                                                      "keeps the office's time")
                                                           .arg(day.toString(Qt::ISODate))};
                continue;
            }
            if (entry.StartTime() == wanted)
                continue;
            if (!hadAlarm) {
                database_.InitAlarmRecord(alarm);
                alarm.setFlags(0);
            }
            entry.setStartTime(wanted);
            series->ChangeOne(link.EntryKey(), entry, alarm, hadAlarm ? alarm.AlarmTime() : QString());
        }
    };

    // One group of the file: its master and its changed occurrences. A value
    // the records cannot hold (a time no stamp can express) lists the event
    // as not imported, and the rest of the file comes in.
    const auto importGroup = [&](const TEventGroup& group) {
            if (!group.master) {
                for (icalcomponent* e : group.overrides) {
                    TFields fields;
                    QString why;
                    convert.Decode(e, fields, why);
                    outcome.skipped << TNote{fields.label, QStringLiteral("it changes an occurrence of a series the file does not hold")};
                }
                return;
            }
            TFields fields;
            QString why;
            if (!convert.Decode(group.master, fields, why)) {
                outcome.skipped << TNote{fields.label, why};
                return;
            }
            noteAltered(fields);
            QString rrule;
            bool several = false;
            std::optional<TRecurrenceRule> rule = ruleOf(group.master, convert, ruleStart(group.master, convert, fields),
                                                         fields.untimed, rrule, several);
            if (!rrule.isEmpty()) {
                if (!rule || !rule->IsValid() || several) {
                    outcome.skipped << TNote{fields.label, QStringLiteral("its repeat rule has no form here (%1)").arg(rrule)};
                    return;
                }
                if (!series) {
                    outcome.skipped << TNote{fields.label, QStringLiteral("this database keeps no repeating events")};
                    return;
                }
                // A start the rule does not fit is no occurrence: the series
                // starts on its first, which names the same days, and which the
                // editor's forms can show (the nth weekday of the start's month).
                const QList<QDate> first = rule->Days(rule->Start(), QDate(2037, 12, 31), 1);
                if (!first.isEmpty())
                    rule->setStart(first.first());
            }

            const QString source = sourceOf(userKey_, group.uid);
            ImportRecord known;
            QString mapKey;
            if (const auto found = mapped.constFind(source); found != mapped.constEnd())
                std::tie(mapKey, known) = *found;
            if (mapKey.isEmpty()) {
                // This database's own export read back: what its UID names,
                // where it still is, is what the event became.
                ImportRecord::Kind kind = ImportRecord::Kind::Entry;
                QString owner;
                const QString own = ownTarget(group.uid, kind, owner);
                if (!own.isEmpty() && owner != userKey_ && !(user_.Rights() & UserRecord::CanModifyOthersEntries)) {
                    outcome.skipped << TNote{fields.label, QStringLiteral("it is another user's event here")};
                    return;
                }
                if (!own.isEmpty()) {
                    remember(source, mapKey, kind, own);
                    known.setKind(kind);
                    known.setTargetKey(own);
                }
            }
            const bool wasSeries = !mapKey.isEmpty() && known.kind() == ImportRecord::Kind::Series;
            int& counted = mapKey.isEmpty() ? outcome.added : outcome.updated;
            const auto rememberAs = [&](ImportRecord::Kind kind) {
                return [&, kind](const QString& key) { remember(source, mapKey, kind, key); };
            };

            if (!rule) {
                bool gone = true;
                if (!mapKey.isEmpty() && !wasSeries) {
                    if (!updateEntry(known.TargetKey(), fields, gone, why)) {
                        outcome.skipped << TNote{fields.label, why};
                        return;
                    }
                    if (!gone) {
                        ++outcome.updated;
                        return;
                    }
                } else if (wasSeries) {
                    // A series that repeats no more: the event replaces it.
                    series->Delete(known.TargetKey(), TSeriesWriter::Scope::All, QDate(),
                                   TSeriesWriter::HeldOccurrences::Leave);
                }
                if (mapKey.isEmpty()) {
                    TQueued q{source, {}, {}, fields.details};
                    database_.InitDayEntryRecord(q.entry);
                    q.entry.setOwnerKey(userKey_);
                    q.entry.setAssigneeKeys({userKey_});
                    database_.InitAlarmRecord(q.alarm);
                    fill(q.entry, q.alarm, fields);
                    queued << q;
                    if (queued.size() >= ImportBatch)
                        flush();
                    return;
                }
                insertEntry(fields, rememberAs(ImportRecord::Kind::Entry));
                ++counted;
                return;
            }

            // A series: its template, made and kept as the series' own.
            SeriesRecord templ;
            templ.initialise();
            templ.setOwnerKey(userKey_);
            templ.setAssigneeKeys({userKey_});
            templ.setDescription(fields.text);
            templ.setCategoryKey(categoryKey(fields));
            templ.setFlags((fields.untimed ? SeriesRecord::UnTimed : 0) | (fields.isPrivate ? SeriesRecord::Private : 0)
                           | (fields.alarm ? SeriesRecord::AlarmWanted : 0));
            templ.setAlarmOffset(fields.alarm ? qint32(fields.wall - fields.ringWall) : 0);
            templ.setRule(*rule);
            QString seriesKey;
            SeriesRecord stored;
            if (wasSeries && series->ReadSeries(known.TargetKey(), stored)) {
                // Assignees given on a workstation since stay.
                templ.setAssigneeKeys(stored.AssigneeKeys());
                // The same template and rule again: a change would only rewrite
                // every occurrence and make their alarms anew. Not so for a
                // series a writer left half-done (a noted change, a split, pending
                // occurrences), nor one not made up to its horizon: the change
                // finishes it, and makes the days the occurrences changed alone
                // below may name.
                SeriesRecord same = templ;
                same.setOwnerKey(stored.OwnerKey());
                same.setMadeUntil(stored.MadeUntil());
                same.setChange(stored.Change(), stored.ChangeFrom());
                same.setSplitFrom(stored.SplitFrom());
                same.setFlags(same.Flags() | (stored.Flags() & SeriesRecord::SplitDone));
                const QString horizon
                    = timeKey(wallOf(QDateTime(TSeriesWriter::Horizon(*rule, today), QTime(0, 0), Qt::UTC)));
                const TEntryDetails storedDetails = TDetailsStore(database_).Series(known.TargetKey());
                const TEntryDetails details = TEventCodec::Onto(fields.details, storedDetails);
                const bool unchanged = std::ranges::equal(same.bytes(), stored.bytes()) && storedDetails == details
                    && stored.Change() == SeriesRecord::Pending::None && !stored.Splitting()
                    && stored.MadeUntil() >= horizon
                    && std::ranges::none_of(series->Links(known.TargetKey()), [](const auto& link) {
                           return (link.second.Flags() & SeriesLinkRecord::Pending) != 0;
                       });
                const TSeriesWriter::TOutcome changed
                    = unchanged ? TSeriesWriter::TOutcome{}
                                : series->Change(known.TargetKey(), TSeriesWriter::Scope::All, rule->Start(), templ, today,
                                                 TSeriesWriter::HeldOccurrences::Leave, QString(), details);
                if (!changed.held.isEmpty()) {
                    outcome.held = true;
                    outcome.holder = changed.held.first().holder;
                }
                if (changed.result != TSeriesWriter::Result::Done) {
                    outcome.skipped << TNote{fields.label, QStringLiteral("it is being changed elsewhere")};
                    outcome.held = outcome.held || changed.result == TSeriesWriter::Result::SeriesLocked;
                    return;
                }
                seriesKey = changed.seriesKey.isEmpty() ? known.TargetKey() : changed.seriesKey;
                ++outcome.updated;
            } else {
                if (!mapKey.isEmpty() && !wasSeries)
                    events.deleteEntryWithAlarms(known.TargetKey());
                const TSeriesWriter::TOutcome made = series->Create(templ, today, rememberAs(ImportRecord::Kind::Series), fields.details);
                if (made.result != TSeriesWriter::Result::Done) {
                    outcome.skipped << TNote{fields.label, QStringLiteral("its repeat rule has no form here")};
                    return;
                }
                seriesKey = made.seriesKey;
                ++counted;
            }

            alignToZone(group.master, fields, seriesKey);

            // The occurrences deleted (EXDATE; one beyond the horizon is kept as
            // a deleted day before it is made) or changed alone (RECURRENCE-ID),
            // by the day the rule gives them.
            const auto linkOf = [&](qint64 wall, SeriesLinkRecord& found) {
                const QString dayKey = timeKey(wallOf(QDateTime(asWall(wall).date(), QTime(0, 0), Qt::UTC)));
                for (const auto& [key, link] : series->Links(seriesKey)) {
                    if (link.DayKey() == dayKey && !(link.Flags() & SeriesLinkRecord::Deleted)) {
                        found = link;
                        return true;
                    }
                }
                return false;
            };
            // A day whose occurrence is deleted already (alone, or its entry as
            // a plain entry) is left as it is.
            QHash<QString, SeriesLinkRecord> byDay;
            if (icalcomponent_get_first_property(group.master, ICAL_EXDATE_PROPERTY))
                for (const auto& [key, link] : series->Links(seriesKey))
                    byDay.insert(link.DayKey(), link);
            DayEntryRecord stillThere;
            for (icalproperty* x = icalcomponent_get_first_property(group.master, ICAL_EXDATE_PROPERTY); x;
                 x = icalcomponent_get_next_property(group.master, ICAL_EXDATE_PROPERTY)) {
                bool date = false;
                const qint64 wall = convert.Wall(x, icalproperty_get_exdate(x), date);
                if (!inStampYears(wall))
                    continue;
                const auto made = byDay.constFind(timeKey(wallOf(QDateTime(asWall(wall).date(), QTime(0, 0), Qt::UTC))));
                if (made != byDay.cend()
                    && ((made->Flags() & SeriesLinkRecord::Deleted)
                        || !TLookup::Equal(database_.DayEntries(), stillThere.bytes(), TXIsamFile::PrimaryIndex,
                                           made->EntryKey())))
                    continue;
                const TSeriesWriter::TOutcome deleted = series->Delete(seriesKey, TSeriesWriter::Scope::ThisOne,
                                                                       asWall(wall).date(),
                                                                       TSeriesWriter::HeldOccurrences::Leave);
                if (deleted.result == TSeriesWriter::Result::EntryLocked
                    || deleted.result == TSeriesWriter::Result::SeriesLocked || !deleted.held.isEmpty()) {
                    outcome.skipped << TNote{fields.label, QStringLiteral("its occurrence of %1 is open elsewhere")
                                                               .arg(asWall(wall).date().toString(Qt::ISODate))};
                    outcome.held = true;
                    if (!deleted.held.isEmpty())
                        outcome.holder = deleted.held.first().holder;
                }
            }
            for (icalcomponent* e : group.overrides) {
                icalproperty* given = icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY);
                bool date = false;
                const qint64 wall = convert.Wall(given, icalproperty_get_recurrenceid(given), date);
                SeriesLinkRecord link;
                TFields changed;
                QString changedWhy;
                const bool taken = convert.Decode(e, changed, changedWhy);
                if (!inStampYears(wall) || !linkOf(wall, link)) {
                    outcome.skipped << TNote{changed.label, QStringLiteral("it changes an occurrence the series does not have")};
                    continue;
                }
                if (taken)
                    noteAltered(changed);
                if (!taken) {
                    if (icalcomponent_get_status(e) == ICAL_STATUS_CANCELLED)
                        series->Delete(seriesKey, TSeriesWriter::Scope::ThisOne, asWall(wall).date(),
                                       TSeriesWriter::HeldOccurrences::Leave);
                    else
                        outcome.skipped << TNote{changed.label, changedWhy};
                    continue;
                }
                std::optional<TRecordLock> lock;
                DayEntryRecord entry;
                AlarmRecord alarm;
                bool hadAlarm = false;
                if (events.openEntry(link.EntryKey(), lock, entry, alarm, hadAlarm) != TEventWriter::Result::Done) {
                    outcome.skipped << TNote{changed.label, QStringLiteral("it is open elsewhere")};
                    outcome.held = true;
                    outcome.holder = events.LockHolder();
                    continue;
                }
                const QString openedAlarm = hadAlarm ? alarm.AlarmTime() : QString();
                const DayEntryRecord before = entry;
                const TEntryDetails changedDetails
                    = TEventCodec::Onto(changed.details, TDetailsStore(database_).Entry(link.EntryKey()));
                database_.InitAlarmRecord(alarm);
                fill(entry, alarm, changed);
                // Changed alone already, just so: left alone.
                if ((link.Flags() & SeriesLinkRecord::Exception) && std::ranges::equal(entry.bytes(), before.bytes())
                    && (changed.alarm ? openedAlarm == alarm.AlarmTime() : !hadAlarm)
                    && TDetailsStore(database_).Entry(link.EntryKey()) == changedDetails)
                    continue;
                if (series->ChangeOne(link.EntryKey(), entry, alarm, openedAlarm, changedDetails).result
                    != TSeriesWriter::Result::Done) {
                    outcome.skipped << TNote{changed.label, QStringLiteral("it is open elsewhere")};
                    outcome.held = true;
                }
            }
    };
    for (const TEventGroup& group : groups) {
        try {
            importGroup(group);
        } catch (const EStamp& e) {
            outcome.skipped << TNote{labelOfGroup(group), e.message()};
        }
    }
    flush();
    return outcome;
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
