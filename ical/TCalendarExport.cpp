#include "TCalendarExport.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TChangeTrail.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TClock.h"
#include "TStamp.h"
#include "TXIsamFile.h"
#include "UserRecord.h"

#include <QHash>
#include <QSaveFile>
#include <QTimeZone>

#include <libical/ical.h>

#include <memory>
#include <optional>

namespace {

struct ComponentFree
{
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

// The time zone the entries' local times are in: the workstation's, as
// libical knows it, or none (the times then go out in UTC).
icaltimezone* localZone()
{
    const QByteArray id = QTimeZone::systemTimeZoneId();
    if (id.isEmpty() || id == "UTC" || id == "Etc/UTC")
        return nullptr;
    return icaltimezone_get_builtin_timezone(id.constData());
}

icaltimetype utcTime(const QDateTime& moment)
{
    return icaltime_from_timet_with_zone(moment.toSecsSinceEpoch(), 0, icaltimezone_get_utc_timezone());
}

// The local wall-clock moment of a time key in `zone` (UTC when none).
icaltimetype localTime(const QString& key, icaltimezone* zone, bool dateOnly)
{
    TStamp stamp;
    stamp.SetSeconds(static_cast<qint32>(RecordKey::parse(key)));
    icaltimetype t = icaltime_null_time();
    t.year = stamp.Year();
    t.month = stamp.Month();
    t.day = stamp.Day();
    if (dateOnly) {
        t.is_date = 1;
        return t;
    }
    t.hour = stamp.Hour();
    t.minute = stamp.Minute();
    t.second = stamp.Second();
    if (zone)
        return icaltime_set_timezone(&t, zone);
    // No zone libical knows: the local time converted to UTC.
    return utcTime(stamp.AsDateTime());
}

icalproperty* person(icalproperty* property, const QString& fullName)
{
    icalproperty_add_parameter(property, icalparameter_new_cn(utf8(fullName).constData()));
    return property;
}

} // namespace

void TCalendarExport::WriteFile(const QString& path, const QByteArray& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw EQuorla(QStringLiteral("Unable to write the calendar to %1\r\r%2").arg(path, file.errorString()));
}

std::function<QDateTime(const QString&)> TCalendarExport::FromTrail(TChangeTrail& trail)
{
    // Every entry's history in one range read at the first question, not one
    // read per exported event: the latest addition or change of each entry.
    auto latest = std::make_shared<std::optional<QHash<QString, QString>>>();
    return [&trail, latest](const QString& entryKey) {
        using Action = TChangeTrail::Action;
        if (!latest->has_value()) {
            QHash<QString, QString>& when = latest->emplace();
            try {
                const QString first = TChangeTrail::EntrySubject(RecordKey::format(1));
                const QString last = TChangeTrail::EntrySubject(RecordKey::format(9999999999));
                for (const TChangeTrail::TEntry& change : trail.History(first, last)) {
                    if (change.action == Action::EventAdded || change.action == Action::EventChanged
                        || change.action == Action::EventChangedByRemoval)
                        when.insert(change.subject, change.when);
                }
            } catch (const std::exception&) {
                when.clear();
            }
        }
        const auto found = (*latest)->constFind(TChangeTrail::EntrySubject(entryKey));
        if (found == (*latest)->constEnd())
            return QDateTime();
        TStamp moment;
        moment.SetSeconds(qint32(RecordKey::parse(*found)));
        return moment.AsDateTime();
    };
}

QString TCalendarExport::Uid(const QString& key, const QString& identity)
{
    return QStringLiteral("%1-%2@quorla").arg(key, identity);
}

QByteArray TCalendarExport::Build(TQuorlaDB& database, int* count) const
{
    QString identity;
    if (!database.Users().Identity(identity))
        throw EQuorla(database.Users().ErrorText());

    QHash<QString, QString> names;
    UserRecord user;
    TLookup::Each(database.Users(), user.bytes(), [&](const QString& key) { names.insert(key, user.FullName()); });
    QHash<QString, QString> categories;
    CategoryRecord category;
    TLookup::Each(database.Categories(), category.bytes(),
                  [&](const QString& key) { categories.insert(key, category.Description()); });
    // The exporting user's alarms, by entry: the earliest of each.
    QHash<QString, QString> alarms;
    TXIsamFile& alarmSet = database.Alarms();
    AlarmRecord alarm;
    for (bool more = TLookup::Equal(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, CurrentUserKey)
             || TLookup::Next(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, CurrentUserKey,
                              TXIsamFile::ScanPrefix);
         more;
         more = TLookup::Next(alarmSet, alarm.bytes(), AlarmRecord::UserAlarmIndex, CurrentUserKey,
                              TXIsamFile::ScanPrefix)) {
        if (!alarms.contains(alarm.DayEntryKey()))
            alarms.insert(alarm.DayEntryKey(), alarm.AlarmTime());
    }

    Component calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//KLV//Quorla//EN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_calscale("GREGORIAN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_method(ICAL_METHOD_PUBLISH));
    icaltimezone* zone = localZone();
    if (zone)
        icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(icaltimezone_get_component(zone)));

    const icaltimetype stamp = utcTime(TClock::now());
    const QByteArray userUri = "urn:x-quorla:" + utf8(identity) + ":user:";
    int events = 0;
    Read(database.DayEntries(), [&](const DayEntryRecord& entry, const QString& key) {
        icalcomponent* event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
        icalcomponent_add_component(calendar.get(), event);
        ++events;
        icalcomponent_set_uid(event, utf8(Uid(key, identity)).constData());
        icalcomponent_set_dtstamp(event, stamp);
        const bool untimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
        icalcomponent_set_dtstart(event, localTime(entry.StartTime(), zone, untimed));
        if (!untimed)
            icalcomponent_set_duration(event, icaldurationtype_from_int(DurationMinutes * 60));
        icalcomponent_set_summary(event, utf8(entry.Description()).constData());
        if (!RecordKey::isNone(entry.CategoryKey()) && categories.contains(entry.CategoryKey()))
            icalcomponent_add_property(event,
                                       icalproperty_new_categories(utf8(categories.value(entry.CategoryKey())).constData()));
        if (entry.Flags() & DayEntryRecord::Private)
            icalcomponent_add_property(event, icalproperty_new_class(ICAL_CLASS_PRIVATE));
        if (names.contains(entry.OwnerKey()))
            icalcomponent_add_property(event, person(icalproperty_new_organizer((userUri + utf8(entry.OwnerKey())).constData()),
                                                     names.value(entry.OwnerKey())));
        for (const QString& assignee : entry.AssigneeKeys()) {
            if (names.contains(assignee))
                icalcomponent_add_property(event, person(icalproperty_new_attendee((userUri + utf8(assignee)).constData()),
                                                         names.value(assignee)));
        }
        if (LastModified) {
            const QDateTime changed = LastModified(key);
            if (changed.isValid())
                icalcomponent_add_property(event, icalproperty_new_lastmodified(utcTime(changed)));
        }
        const auto due = alarms.constFind(key);
        if (due != alarms.constEnd()) {
            icalcomponent* valarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
            icalcomponent_add_property(valarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
            icalcomponent_add_property(valarm, icalproperty_new_description(utf8(entry.Description()).constData()));
            icaltriggertype trigger;
            trigger.time = icaltime_null_time();
            trigger.duration = icaldurationtype_from_int(
                int(RecordKey::parse(*due) - RecordKey::parse(entry.StartTime())));
            icalcomponent_add_property(valarm, icalproperty_new_trigger(trigger));
            icalcomponent_add_component(event, valarm);
        }
    });
    if (count)
        *count = events;
    char* text = icalcomponent_as_ical_string_r(calendar.get());
    const QByteArray result(text);
    icalmemory_free_buffer(text);
    return result;
}
