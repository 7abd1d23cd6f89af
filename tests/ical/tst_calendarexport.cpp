// The iCalendar export read back field by field by libical and by readers
// that do not use it (Python's vobject, and icalendar for the start times),
// with the office in UTC, in Berlin and in New York, across both
// daylight-saving changes; UIDs across exports and databases; the trail's
// LAST-MODIFIED and SEQUENCE; the feed tool's zone, its file, which a reader
// never finds half written, and what the tool refuses without touching it.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "RecordKey.h"
#include "TCalendarExport.h"
#include "TEventCodec.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TBookingWriter.h"
#include "TRecordLock.h"
#include "TRecordWriter.h"
#include "TResourceWriter.h"
#include "TScriptedServices.h"
#include "TSeriesWriter.h"
#include "TestDatabase.h"
#include "IcalTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTimeZone>

#include <libical/ical.h>

#include <ctime>
#include <memory>

namespace {

// Ann (1, administrator), Bob (2, exports), Cy "the \"Third\"" (3).
// Categories: 1 "Sales, North; Q1 €", 2 "Plain".
std::unique_ptr<TQuorlaDB> makeDatabase(const QString& name)
{
    auto db = TestDatabase::database(name, {});
    addUsers(*db, {QStringLiteral("Ann Åberg"), QStringLiteral("Bob"), QStringLiteral("Cy \"the Third\"")},
             {UserRecord::CanAdminister});
    for (const QString& text : {QStringLiteral("Sales, North; Q1 €"), QStringLiteral("Plain")}) {
        CategoryRecord c;
        c.setDescription(text);
        db->Categories().Insert(c.bytes());
    }
    return db;
}

// One entry: "yyyy-MM-dd hh:mm" of the office's wall clock, description,
// flags, category, owner, assignees, and Bob's alarm that many seconds after
// the start (none: 0).
QString addEntry(TQuorlaDB& db, const QString& when, const QString& description, int flags, int category, int owner,
                 const QList<int>& assignees, int alarmAfter, const TEntryDetails& details = {},
                 const QStringList& resources = {})
{
    DayEntryRecord e = TestDatabase::entry(description, assignees, owner);
    // The tests run in UTC: wall-clock seconds are epoch seconds.
    const qint64 start = QDateTime::fromString(when, QStringLiteral("yyyy-MM-dd hh:mm")).toSecsSinceEpoch();
    e.setStartTime(RecordKey::format(start));
    e.setFlags(flags);
    e.setCategoryKey(RecordKey::format(category));
    AlarmRecord alarm;
    alarm.setFlags(alarmAfter != 0 ? AlarmRecord::AlarmWanted : 0);
    alarm.setAlarmTime(RecordKey::format(start + alarmAfter));
    return TEventWriter(db).insertEntryWithAlarms(e, alarm, {}, details, resources);
}

// Each event as libical reads it, by UID, as one line: start (the moment in
// UTC, or the date) | duration (or "day", or "<n> days" to its DTEND) |
// summary | description | categories | class | organizer | attendees | the
// alarm's moment in UTC [| @location, when it has one].
QHash<QString, QString> libicalEvents(const QByteArray& text)
{
    QHash<QString, QString> found;
    icalcomponent* calendar = icalparser_parse_string(text.constData());
    if (!calendar)
        return found;
    const auto all = [](icalcomponent* c, icalproperty_kind kind, const auto& value) {
        QStringList values;
        for (icalproperty* p = icalcomponent_get_first_property(c, kind); p; p = icalcomponent_get_next_property(c, kind))
            values << value(p);
        return values.isEmpty() ? QStringLiteral("-") : values.join('+');
    };
    // A room's or another resource's CUTYPE after its name.
    const auto cn = [](icalproperty* p) {
        const QString name = QString::fromUtf8(icalparameter_get_cn(icalproperty_get_first_parameter(p, ICAL_CN_PARAMETER)));
        icalparameter* type = icalproperty_get_first_parameter(p, ICAL_CUTYPE_PARAMETER);
        return type ? name + QStringLiteral(" (%1)").arg(icalparameter_enum_to_string(icalparameter_get_cutype(type))) : name;
    };
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
         e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        const icaltimetype start = icalcomponent_get_dtstart(e);
        const qint64 at = icaltime_as_timet_with_zone(start, start.zone);
        QStringList f;
        f << (start.is_date ? QString::fromLatin1(icaltime_as_ical_string(start)) : utcMoment(at));
        const int length = icaldurationtype_as_int(icalcomponent_get_duration(e));
        const bool ends = icalcomponent_get_first_property(e, ICAL_DTEND_PROPERTY) != nullptr;
        f << (!start.is_date ? QString::number(length)
                             : ends ? QStringLiteral("%1 days").arg(length / 86400) : QStringLiteral("day"));
        f << QString::fromUtf8(icalcomponent_get_summary(e));
        f << all(e, ICAL_DESCRIPTION_PROPERTY, [](icalproperty* p) { return QString::fromUtf8(icalproperty_get_description(p)); });
        f << all(e, ICAL_CATEGORIES_PROPERTY, [](icalproperty* p) { return QString::fromUtf8(icalproperty_get_categories(p)); });
        f << all(e, ICAL_CLASS_PROPERTY,
                 [](icalproperty* p) { return QString::fromUtf8(icalproperty_enum_to_string(icalproperty_get_class(p))); });
        f << all(e, ICAL_ORGANIZER_PROPERTY, cn) << all(e, ICAL_ATTENDEE_PROPERTY, cn);
        QString alarm = QStringLiteral("-");
        if (icalcomponent* a = icalcomponent_get_first_component(e, ICAL_VALARM_COMPONENT)) {
            const icaltriggertype t = icalproperty_get_trigger(icalcomponent_get_first_property(a, ICAL_TRIGGER_PROPERTY));
            alarm = icaltime_is_null_time(t.time) ? utcMoment(at + icaldurationtype_as_int(t.duration))
                                                  : utcMoment(icaltime_as_timet_with_zone(t.time, t.time.zone));
        }
        f << alarm;
        if (const char* place = icalcomponent_get_location(e))
            f << QLatin1Char('@') + QString::fromUtf8(place);
        found.insert(QString::fromUtf8(icalcomponent_get_uid(e)), f.join(" | "));
    }
    icalcomponent_free(calendar);
    return found;
}

// The same line from Debian's python3-vobject, which knows nothing of
// libical (the quote in a name travels as RFC 6868's ^', which it does not
// decode: done here, as libical does); and Debian's python3-icalendar, which refuses a zone's whole
// history, must read the file too and place every start at the same moment.
const char* const VobjectReader = R"(
import sys, datetime, vobject, icalendar
utc = datetime.timezone.utc
def when(v):
    return v.astimezone(utc).strftime('%Y%m%dT%H%M%SZ') if isinstance(v, datetime.datetime) else v.strftime('%Y%m%d')
def cn(p):  # vobject leaves RFC 6868's ^' (a quote in a parameter) as it stands
    name = p.params['CN'][0].replace("^'", '"').replace('^n', '\n').replace('^^', '^')
    return name + (' (%s)' % p.params['CUTYPE'][0] if 'CUTYPE' in p.params else '')
def many(e, name, value):
    return '+'.join(value(p) for p in e.contents.get(name, [])) or '-'
text = sys.stdin.buffer.read().decode('utf-8')
for e in getattr(vobject.readOne(text), 'vevent_list', []):
    start = e.dtstart.value
    timed = isinstance(start, datetime.datetime)
    alarm = '-'
    if hasattr(e, 'valarm'):
        t = e.valarm.trigger.value
        alarm = when(t if isinstance(t, datetime.datetime) else start.astimezone(utc) + t)
    days = '%d days' % (e.dtend.value - start).days if hasattr(e, 'dtend') and not timed else 'day'
    f = [when(start), str(int(e.duration.value.total_seconds())) if timed else days, e.summary.value,
         many(e, 'description', lambda p: p.value), many(e, 'categories', lambda p: ','.join(p.value)),
         many(e, 'class', lambda p: p.value), many(e, 'organizer', cn), many(e, 'attendee', cn), alarm]
    f += ['@' + e.location.value] if hasattr(e, 'location') else []
    print(e.uid.value + '\t' + ' | '.join(f).replace('\n', '\\n'))
for e in icalendar.Calendar.from_ical(text).walk('VEVENT'):
    print('icalendar ' + str(e['UID']) + '\t' + when(e.decoded('DTSTART')))
)";

// What a Python script writes on reading `input`.
QByteArray runPython(const QString& script, const QByteArray& input)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script});
    python.write(input);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        qWarning("%s", python.readAllStandardError().constData());
    return python.readAllStandardOutput();
}

QHash<QString, QString> pythonEvents(const QByteArray& text)
{
    QHash<QString, QString> found;
    const QString lines = QString::fromUtf8(runPython(QString::fromLatin1(VobjectReader), text));
    for (const QString& line : lines.split('\n', Qt::SkipEmptyParts))
        found.insert(line.section('\t', 0, 0), line.section('\t', 1).replace(QLatin1String("\\n"), QLatin1String("\n")));
    return found;
}

} // namespace

class tst_CalendarExport : public QObject
{
    Q_OBJECT

private slots:
    void init() { services_ = std::make_unique<TScriptedServices>(); }
    void cleanup() { services_.reset(); }
    // What Bob (no administrator) gets, read back by each reader: start |
    // duration | summary | description | categories | class | organizer |
    // attendees | alarm. Ann owns every entry; zone "" is the database's,
    // UTC here. Wall-clock times a change skips or repeats, and alarms a day
    // before across a change, land on the same moment in every reader.
    void fields_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("category");
        QTest::addColumn<QList<int>>("assignees");
        QTest::addColumn<int>("alarmAfter");
        QTest::addColumn<QString>("expected"); // empty: not exported
        const QString ann = QStringLiteral(" | Ann Åberg | ");
        const int day = 86400;
        // A timed "Plan" for Bob; `moments`: its start and its alarm.
        const auto row = [&](const char* name, const char* zone, const char* when, int alarmAfter, const QString& moments) {
            QTest::newRow(name) << QByteArray(zone) << QString::fromLatin1(when) << QStringLiteral("Plan") << 0 << 0
                                << QList{2} << alarmAfter
                                << moments.section(" | ", 0, 0) + " | 1800 | Plan | - | - | -" + ann + "Bob | "
                    + moments.section(" | ", 1, 1);
        };
        QTest::newRow("UTC: timed, category with , and ;, alarm before")
            << QByteArray() << "2027-03-10 09:30" << "Budget" << 0 << 1 << QList{2, 3} << -900
            << "20270310T093000Z | 1800 | Budget | - | Sales, North; Q1 € | -" + ann + "Bob+Cy \"the Third\" | 20270310T091500Z";
        QTest::newRow("UTC: un-timed, an all-day date")
            << QByteArray() << "2027-03-11 00:00" << "Holiday" << int(DayEntryRecord::UnTimed) << 0 << QList{3} << 0
            << "20270311 | day | Holiday | - | - | -" + ann + "Cy \"the Third\" | -";
        QTest::newRow("UTC: private, his") << QByteArray() << "2027-03-12 10:00" << "Doctor" << int(DayEntryRecord::Private)
                                           << 2 << QList{2} << 0
                                           << "20270312T100000Z | 1800 | Doctor | - | Plain | PRIVATE" + ann + "Bob | -";
        QTest::newRow("UTC: private, not his: left out")
            << QByteArray() << "2027-03-12 11:00" << "Secret" << int(DayEntryRecord::Private) << 0 << QList{3} << 0 << "";
        QTest::newRow("UTC: outside the range") << QByteArray() << "2028-01-01 00:00" << "Dec" << 0 << 0 << QList{2} << 0 << "";
        QTest::newRow("Berlin: lines, commas, semicolons, quotes, backslash")
            << QByteArray("Europe/Berlin") << "2027-03-13 08:15" << "Lunch, \"Café\"; Straße\nsecond \\ line" << 0 << 0
            << QList<int>() << 0
            << "20270313T071500Z | 1800 | Lunch, \"Café\"; Straße | Lunch, \"Café\"; Straße\nsecond \\ line | - | -" + ann + "- | -";
        QTest::newRow("UTC: a blank first line") << QByteArray() << "2027-03-14 08:00" << "\n Agenda \nitem" << 0 << 0
                                                 << QList<int>() << 0
                                                 << "20270314T080000Z | 1800 | Agenda | \n Agenda \nitem | - | -" + ann + "- | -";
        row("Berlin: summer", "Europe/Berlin", "2027-07-01 09:30", -900, "20270701T073000Z | 20270701T071500Z");
        row("Berlin: skipped 02:30", "Europe/Berlin", "2027-03-28 02:30", 0, "20270328T013000Z | -");
        row("Berlin: repeated 02:30, the first", "Europe/Berlin", "2027-10-31 02:30", 0, "20271031T003000Z | -");
        row("Berlin: alarm a day before, spring", "Europe/Berlin", "2027-03-28 10:00", -day, "20270328T080000Z | 20270327T090000Z");
        row("Berlin: alarm a day before, autumn", "Europe/Berlin", "2027-10-31 10:00", -day, "20271031T090000Z | 20271030T080000Z");
        QTest::newRow("Berlin: all-day, alarm the evening before a change")
            << QByteArray("Europe/Berlin") << "2027-03-28 00:00" << "Fair" << int(DayEntryRecord::UnTimed) << 0
            << QList{2} << -6 * 3600 << "20270328 | day | Fair | - | - | -" + ann + "Bob | 20270327T170000Z";
        row("New York: winter", "America/New_York", "2027-01-15 09:30", 0, "20270115T143000Z | -");
        row("New York: skipped 02:30", "America/New_York", "2027-03-14 02:30", 0, "20270314T073000Z | -");
        row("New York: repeated 01:30, the first", "America/New_York", "2027-11-07 01:30", -1800, "20271107T053000Z | 20271107T050000Z");
        row("New York: alarm a day before, spring", "America/New_York", "2027-03-14 10:00", -day, "20270314T140000Z | 20270313T150000Z");
    }
    void fields()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, when);
        QFETCH(QString, description);
        QFETCH(int, flags);
        QFETCH(int, category);
        QFETCH(QList<int>, assignees);
        QFETCH(int, alarmAfter);
        QFETCH(QString, expected);
        services_->setNow(QDateTime(QDate(2027, 2, 1), QTime(12, 0)));
        auto db = makeDatabase(QStringLiteral("fields"));
        const QString key = addEntry(*db, when, description, flags, category, 1, assignees, alarmAfter);
        int count = -1;
        const QByteArray text = exportOf(*db, 2, zone).Build(*db, &count);
        QCOMPARE(count, expected.isEmpty() ? 0 : 1);
        QVERIFY2(!text.contains("METHOD") && !text.contains("freeassociation"), text.constData());
        const QHash<QString, QString> found = libicalEvents(text);
        QHash<QString, QString> python = pythonEvents(text);
        QCOMPARE(found.size(), count);
        if (expected.isEmpty())
            return;
        const QString uid = found.cbegin().key();
        QVERIFY(uid.startsWith(key + QLatin1Char('-')));
        QCOMPARE(found.value(uid), expected);
        QCOMPARE(python.value(uid), expected);
        QCOMPARE(python.value(QStringLiteral("icalendar ") + uid), expected.section(QLatin1String(" | "), 0, 0));
    }

    // An entry's (or a series') end, days, place and notes go out as
    // DURATION or a DTEND date, LOCATION and DESCRIPTION, read alike by
    // libical and vobject, and come back through the codec as they were,
    // also once vobject has written them again; a text of several lines
    // beside notes too.
    // One export of every form: series or flags | seconds | days | location |
    // notes | the line read back.
    void details()
    {
        struct TRow
        {
            int form; // -1: a series, else the entry's flags
            TEntryDetails details;
            QString expected;
            bool booked = false; // books Room 4 and the projector
            QString text = QStringLiteral("Plan");
        };
        const QString people = QStringLiteral(" | - | - | Ann Åberg | Bob | -");
        const QString notes(5000, QLatin1Char('n'));
        const QList<TRow> rows{
            {0, {3600, 1, "Room 4, 2nd floor", "Bring\nfigures"},
             "20270310T093000Z | 3600 | Plan | Bring\nfigures" + people + " | @Room 4, 2nd floor"},
            {DayEntryRecord::UnTimed, {0, 3, {}, {}}, "20270311 | 3 days | Plan | -" + people},
            {0, {90, 1, {}, notes}, "20270312T093000Z | 90 | Plan | " + notes + people},
            {-1, {5400, 1, "Hall", "Weekly notes"}, "20270313T093000Z | 5400 | Plan | Weekly notes" + people + " | @Hall"},
            {0, {3600, 1, {}, {}},
             "20270314T093000Z | 3600 | Plan | - | - | - | Ann Åberg | Bob+Room 4 (ROOM)+Projector (RESOURCE) | - | @Room 4",
             true},
            {0, {3600, 1, {}, "Bring\nfigures"},
             "20270315T093000Z | 3600 | Plan | Plan\n agenda\n\nBring\nfigures" + people, false, "Plan\n agenda"}};
        auto db = makeDatabase(QStringLiteral("details"));
        QStringList resources;
        for (TResourceStore::TResource one : {TResourceStore::TResource{{}, "Room 4", "Seats eight"},
                                              TResourceStore::TResource{{}, "Projector", "Beamer"}}) {
            QCOMPARE(TResourceWriter(*db).Add(one), TResourceWriter::Result::Done);
            resources << one.key;
        }
        QStringList keys;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QDate day(2027, 3, 10 + int(i));
            if (rows[i].form < 0) {
                SeriesRecord s;
                s.initialise();
                s.setOwnerKey(RecordKey::format(1));
                s.setDescription(QStringLiteral("Plan"));
                s.setAssigneeKeys({RecordKey::format(2)});
                s.setRule(*TRecurrenceRule::FromRRule(QStringLiteral("FREQ=YEARLY;COUNT=2"), day, QTime(9, 30)));
                keys << QStringLiteral("series-") + TSeriesWriter(*db).Create(s, QDate(2027, 1, 1), {}, rows[i].details).seriesKey;
                continue;
            }
            const QString when = day.toString(Qt::ISODate) + (rows[i].form ? " 00:00" : " 09:30");
            keys << addEntry(*db, when, rows[i].text, rows[i].form, 0, 1, {2}, 0, rows[i].details,
                             rows[i].booked ? resources : QStringList());
        }
        const QByteArray text = exportOf(*db, 2, "UTC").Build(*db);
        const QHash<QString, QString> libical = libicalEvents(text);
        const QHash<QString, QString> python = pythonEvents(text);
        // As written, and as vobject writes it again.
        const QByteArray again = runPython(QStringLiteral("import sys, vobject; "
                                                          "sys.stdout.write(vobject.readOne(sys.stdin.read()).serialize())"),
                                           text);
        for (const QByteArray& written : {text, again}) {
            icalcomponent* parsed = icalparser_parse_string(written.constData());
            int events = 0;
            for (icalcomponent* e = icalcomponent_get_first_component(parsed, ICAL_VEVENT_COMPONENT); e;
                 e = icalcomponent_get_next_component(parsed, ICAL_VEVENT_COMPONENT), ++events) {
                const QString uid = QString::fromUtf8(icalcomponent_get_uid(e));
                const qsizetype i = std::ranges::find_if(keys, [&](const QString& k) { return uid.startsWith(k + '-'); })
                    - keys.begin();
                QVERIFY(i < rows.size());
                QCOMPARE(libical.value(uid), rows[i].expected);
                QCOMPARE(python.value(uid), rows[i].expected);
                TEventCodec::TDecoded back;
                QString reason;
                QVERIFY(TEventCodec(QTimeZone("UTC")).Decode(e, back, reason));
                // The rooms it books come back as its place, and as the resources it asks for.
                TEntryDetails shown = rows[i].details;
                if (rows[i].booked)
                    shown.location = QStringLiteral("Room 4");
                QVERIFY(back.details == shown && back.altered.isEmpty());
                QCOMPARE(back.text, rows[i].text);
                QCOMPARE(back.resources.size(), rows[i].booked ? 2 : 0);
            }
            icalcomponent_free(parsed);
            QCOMPARE(events, rows.size());
        }
    }

    // The VTIMEZONE holds the observance in force when the exported years
    // begin and each change within them: onset | from | to.
    void observances_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("Berlin, one year") << QByteArray("Europe/Berlin") << QDate(2027, 11, 30)
                                          << QStringList{"20261025T030000 +0200 +0100", "20270328T020000 +0100 +0200",
                                                         "20271031T030000 +0200 +0100"};
        QTest::newRow("New York, into the next year")
            << QByteArray("America/New_York") << QDate(2028, 1, 31)
            << QStringList{"20261101T020000 -0400 -0500", "20270314T020000 -0500 -0400", "20271107T020000 -0400 -0500",
                           "20280312T020000 -0500 -0400", "20281105T020000 -0400 -0500"};
    }
    void observances()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, to);
        auto db = makeDatabase(QStringLiteral("observances"));
        TCalendarExport calendar = exportOf(*db, 2, zone);
        calendar.EndDate = to;
        icalcomponent* parsed = icalparser_parse_string(calendar.Build(*db).constData());
        icalcomponent* timezone = icalcomponent_get_first_component(parsed, ICAL_VTIMEZONE_COMPONENT);
        QVERIFY(timezone);
        QCOMPARE(QByteArray(icalproperty_get_tzid(icalcomponent_get_first_property(timezone, ICAL_TZID_PROPERTY))), zone);
        QStringList found;
        const auto offset = [](int seconds) {
            return QString::asprintf("%c%02d%02d", seconds < 0 ? '-' : '+', qAbs(seconds) / 3600,
                                     qAbs(seconds) % 3600 / 60);
        };
        for (icalcomponent* o = icalcomponent_get_first_component(timezone, ICAL_ANY_COMPONENT); o;
             o = icalcomponent_get_next_component(timezone, ICAL_ANY_COMPONENT)) {
            found << QStringLiteral("%1 %2 %3")
                         .arg(QString::fromLatin1(icaltime_as_ical_string(icalcomponent_get_dtstart(o))),
                              offset(icalproperty_get_tzoffsetfrom(icalcomponent_get_first_property(o, ICAL_TZOFFSETFROM_PROPERTY))),
                              offset(icalproperty_get_tzoffsetto(icalcomponent_get_first_property(o, ICAL_TZOFFSETTO_PROPERTY))));
        }
        icalcomponent_free(parsed);
        QTEST(found, "expected");
    }

    // LAST-MODIFIED is the moment of the entry's latest change in the trail
    // in true UTC, whatever the zone of the office, of the writing process
    // (here New York) or of the reading one, and SEQUENCE counts its changes.
    // An entry keeps its UID from export to export, changed or not; another
    // database's entry with the same key gets another.
    void changesFromTrail_data()
    {
        QTest::addColumn<QByteArray>("reader");
        QTest::newRow("read where written") << QByteArray("America/New_York");
        QTest::newRow("read in Tokyo") << QByteArray("Asia/Tokyo");
    }
    void changesFromTrail()
    {
        QFETCH(QByteArray, reader);
        qputenv("TZ", "America/New_York");
        ::tzset();
        const auto utc = qScopeGuard([] { qputenv("TZ", "UTC"); ::tzset(); });
        services_->setNow(QDateTime(QDate(2027, 2, 1), QTime(8, 15)));
        auto db = makeDatabase(QStringLiteral("trail"));
        const QString key = addEntry(*db, QStringLiteral("2027-03-10 09:30"), QStringLiteral("A"), 0, 0, 1, {2}, 0);
        services_->setNow(QDateTime(QDate(2027, 2, 2), QTime(10, 0)));
        addEntry(*db, QStringLiteral("2027-03-11 09:30"), QStringLiteral("B"), 0, 0, 1, {2}, 0);
        // Each event's own LAST-MODIFIED and SEQUENCE, in start order, from one
        // trail read; its UID into `uids`.
        QStringList uids;
        const auto changes = [&](const QByteArray& zone) {
            qputenv("TZ", reader);
            ::tzset();
            const auto writer = qScopeGuard([] { qputenv("TZ", "America/New_York"); ::tzset(); });
            uids.clear();
            TCalendarExport calendar = exportOf(*db, 2, zone);
            calendar.Changes = TCalendarExport::FromTrail(db->Trail());
            icalcomponent* parsed = icalparser_parse_string(calendar.Build(*db).constData());
            QStringList texts;
            for (icalcomponent* event = icalcomponent_get_first_component(parsed, ICAL_VEVENT_COMPONENT); event;
                 event = icalcomponent_get_next_component(parsed, ICAL_VEVENT_COMPONENT)) {
                icalproperty* p = icalcomponent_get_first_property(event, ICAL_LASTMODIFIED_PROPERTY);
                texts << (p ? QString::fromLatin1(icaltime_as_ical_string(icalproperty_get_lastmodified(p))) : "-")
                        + QStringLiteral(" %1").arg(icalcomponent_get_sequence(event));
                uids << QString::fromUtf8(icalcomponent_get_uid(event));
            }
            icalcomponent_free(parsed);
            return texts.join(QStringLiteral(", "));
        };
        QCOMPARE(changes({}), QStringLiteral("20270201T131500Z 0, 20270202T150000Z 0"));
        const QStringList kept = uids;
        QCOMPARE(changes("Europe/Berlin"), QStringLiteral("20270201T131500Z 0, 20270202T150000Z 0"));
        TEventWriter writer(*db);
        for (const int day : {3, 4}) {
            services_->setNow(QDateTime(QDate(2027, 2, day), QTime(17, 40)));
            DayEntryRecord entry;
            AlarmRecord alarm;
            QVERIFY(db->DayEntries().GetEqual(entry.bytes(), 0, key));
            entry.setDescription(QStringLiteral("B%1").arg(day));
            QCOMPARE(writer.updateEntryWithAlarms(key, entry, alarm, QString()), TEventWriter::Result::Done);
        }
        QCOMPARE(changes({}), QStringLiteral("20270204T224000Z 2, 20270202T150000Z 0"));
        QCOMPARE(uids, kept);
        db = makeDatabase(QStringLiteral("other"));
        addEntry(*db, QStringLiteral("2027-03-10 09:30"), QStringLiteral("A"), 0, 0, 1, {2}, 0);
        changes({});
        QCOMPARE(uids.size(), 1);
        QVERIFY(uids.first() != kept.first());
    }

    // The feed tool ("DB": a database with one entry in March and New York
    // as its zone, "EMPTY": an empty folder): the zone from the database or
    // --zone; what it refuses, saying why, the feed already there and the
    // empty folder (where no database is made) staying as they were.
    void tool_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // in the feed, or on standard error
        const QStringList march{"DB", "--from", "2027-03-01", "--to", "2027-03-31"};
        QTest::newRow("the database's zone") << march << 0 << "DTSTART;TZID=America/New_York:20270310T093000";
        QTest::newRow("--zone") << march + QStringList{"--zone", "Europe/Berlin"} << 0
                                << "DTSTART;TZID=Europe/Berlin:20270310T093000";
        QTest::newRow("--zone UTC") << march + QStringList{"--zone", "UTC"} << 0 << "DTSTART:20270310T093000Z";
        QTest::newRow("--from after --to") << QStringList{"DB", "--from", "2027-03-10", "--to", "2027-03-01"} << 2
                                           << "the first day (--from 2027-03-10) is after the last (--to 2027-03-01)";
        QTest::newRow("empty folder") << QStringList{"EMPTY"} << 1
                                      << "EMPTY/ holds no QLUsers.Ism: it is no Quorla database";
        QTest::newRow("unknown zone") << QStringList{"DB", "--zone", "Mars/Olympus"} << 2
                                      << "unknown time zone Mars/Olympus";
        QTest::newRow("--out a symbolic link") << QStringList{"DB", "--out", "LINK"} << 1
                                               << "LINK: it is a symbolic link, which is never written through";
        QTest::newRow("another scheme") << QStringList{"mysql://host/db"} << 2
                                        << "'mysql://host/db' is neither a database folder nor a postgresql:// URI";
    }
    void tool()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        auto db = makeDatabase(QStringLiteral("tool"));
        addEntry(*db, QStringLiteral("2027-03-10 09:30"), QStringLiteral("A"), 0, 0, 1, {2}, 0);
        db->SetOfficeZone("America/New_York");
        const QString empty = TestEnvironment::freshFolder(QStringLiteral("empty"));
        const QString out = TestEnvironment::freshFolder(QStringLiteral("out")) + QStringLiteral("/feed.ics");
        QVERIFY(TestFile::write(out, "the good feed"));
        const QString link = QFileInfo(out).path() + QStringLiteral("/link.ics");
        QVERIFY(QFile::link(out, link));
        const auto place = [&](QString text) {
            return text.replace(QLatin1String("LINK"), link).replace(QLatin1String("EMPTY"), empty)
                .replace(QLatin1String("DB"), db->RootPath());
        };
        QStringList all{QStringLiteral("--user"), QStringLiteral("U2"), QStringLiteral("--out"), out,
                        QStringLiteral("--database")};
        for (const QString& argument : arguments)
            all << place(argument);
        QProcess tool;
        tool.start(QStringLiteral(QUORLA_EXPORT), all);
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), status);
        const QString error = QString::fromLocal8Bit(tool.readAllStandardError());
        const QByteArray written = TestFile::read(out);
        if (status == 0) {
            QVERIFY2(written.contains(said.toUtf8()), written.constData());
            return;
        }
        QVERIFY2(error.contains(place(said)), qPrintable(error));
        QCOMPARE(written, QByteArray("the good feed"));
        QCOMPARE(QDir(empty).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // A series goes out as one event with its rule, a deleted occurrence as
    // EXDATE, one changed alone as a RECURRENCE-ID event; libical expands it
    // to the database's occurrences at the same moments, in the office's
    // zone.
    void series_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("rrule");
        QTest::addColumn<QDate>("start");
        QTest::addColumn<QTime>("time");
        QTest::addRow("weekly, count, Berlin across the change")
            << QByteArray("Europe/Berlin") << "FREQ=WEEKLY;BYDAY=MO,TH;COUNT=20" << QDate(2027, 3, 1) << QTime(9, 0);
        QTest::addRow("monthly last Friday, until, New York")
            << QByteArray("America/New_York") << "FREQ=MONTHLY;BYDAY=-1FR;UNTIL=20271031" << QDate(2027, 1, 29)
            << QTime(14, 30);
        QTest::addRow("daily all day, UTC") << QByteArray("UTC") << "FREQ=DAILY;INTERVAL=3;COUNT=12" << QDate(2027, 3, 20)
                                            << QTime();
    }
    void series()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, rrule);
        QFETCH(QDate, start);
        QFETCH(QTime, time);
        auto db = makeDatabase(QStringLiteral("series"));
        addEntry(*db, QStringLiteral("2027-03-02 10:00"), QStringLiteral("Alone"), 0, 0, 1, {2}, 0);
        SeriesRecord s;
        s.initialise();
        s.setOwnerKey(RecordKey::format(1));
        s.setDescription(QStringLiteral("Review, weekly; Ω"));
        s.setCategoryKey(RecordKey::format(1));
        s.setAssigneeKeys({RecordKey::format(2)});
        s.setFlags(SeriesRecord::AlarmWanted | (time.isValid() ? 0 : SeriesRecord::UnTimed));
        s.setAlarmOffset(15 * 60);
        const auto rule = TRecurrenceRule::FromRRule(rrule, start, time);
        QVERIFY(rule);
        s.setRule(*rule);
        TSeriesWriter writer(*db);
        const QString seriesKey = writer.Create(s, QDate(2027, 1, 1)).seriesKey;
        const auto links = writer.Links(seriesKey);
        QVERIFY(links.size() > 6);
        // The third deleted alone, the fifth moved by an hour (a day for all-day).
        const QDate third = QDateTime::fromSecsSinceEpoch(RecordKey::parse(links[2].second.DayKey()), Qt::UTC).date();
        QCOMPARE(writer.Delete(seriesKey, TSeriesWriter::Scope::ThisOne, third,
                               TSeriesWriter::HeldOccurrences::Refuse).result,
                 TSeriesWriter::Result::Done);
        const QString changedKey = links[4].second.EntryKey();
        std::optional<TRecordLock> lock;
        DayEntryRecord entry;
        AlarmRecord alarm;
        bool hadAlarm = false;
        QCOMPARE(TEventWriter(*db).openEntry(changedKey, lock, entry, alarm, hadAlarm), TEventWriter::Result::Done);
        entry.setDescription(QStringLiteral("Moved"));
        entry.setStartTime(RecordKey::format(RecordKey::parse(entry.StartTime()) + (time.isValid() ? 3600 : 86400)));
        QCOMPARE(writer.ChangeOne(changedKey, entry, alarm, alarm.AlarmTime()).result, TSeriesWriter::Result::Done);
        lock.reset();

        // The database's occurrences at their moments in the zone.
        const QTimeZone office(zone);
        QStringList expected;
        for (const auto& [key, link] : writer.Links(seriesKey)) {
            if (link.Flags() & SeriesLinkRecord::Deleted)
                continue;
            QVERIFY(db->DayEntries().GetEqual(entry.bytes(), 0, link.EntryKey()));
            const QDateTime wall = QDateTime::fromSecsSinceEpoch(RecordKey::parse(entry.StartTime()), Qt::UTC);
            const QDateTime at(wall.date(), wall.time(), office);
            expected << (time.isValid() ? utcMoment(at.toSecsSinceEpoch()) : wall.toString(QStringLiteral("yyyyMMdd")))
                    + QStringLiteral(" | ") + entry.Description().section('\n', 0, 0);
        }
        expected.sort();

        TCalendarExport calendar = exportOf(*db, 2, zone);
        int count = 0;
        const QByteArray text = calendar.Build(*db, &count);
        QCOMPARE(count, 3); // the plain entry, the series, its exception
        QCOMPARE(text.count("RRULE:"), 1);
        QCOMPARE(text.count("EXDATE"), 1);
        QStringList found = libicalOccurrences(text);
        QVERIFY(found.removeAll(utcMoment(QDateTime(QDate(2027, 3, 2), QTime(10, 0), office).toSecsSinceEpoch())
                                + QStringLiteral(" | Alone")) == 1);
        QCOMPARE(found, expected);
        // The series' template: its category as one, the alarm before each.
        const QHash<QString, QString> events = libicalEvents(text);
        QString identity;
        QVERIFY(db->Users().Identity(identity));
        const QString master = events.value(TCalendarExport::SeriesUid(seriesKey, identity));
        QVERIFY2(master.contains(QStringLiteral("| Sales, North; Q1 € |")), qPrintable(master));
        QVERIFY2(!master.endsWith(QLatin1String("| -")), qPrintable(master));
    }

    // Only what the user may see leaves: "Weekly" for Cy, owned by Bob, its
    // second day made "Open" alone, public where the series is private and
    // private where it is public (days libical expands: "MMdd summary").
    void privateSeries_data()
    {
        QTest::addColumn<bool>("privateSeries");
        QTest::addColumn<int>("user");
        QTest::addColumn<QString>("seen");
        QTest::newRow("private, one made public, for its owner") << true << 2 << "0308 Open";
        QTest::newRow("private, for its assignee") << true << 3 << "0301 Weekly, 0308 Open, 0315 Weekly";
        QTest::newRow("public, one made private, for its owner") << false << 2 << "0301 Weekly, 0315 Weekly";
    }
    void privateSeries()
    {
        QFETCH(bool, privateSeries);
        QFETCH(int, user);
        auto db = makeDatabase(QStringLiteral("private"));
        SeriesRecord s;
        s.initialise();
        s.setOwnerKey(RecordKey::format(2));
        s.setDescription(QStringLiteral("Weekly"));
        s.setAssigneeKeys({RecordKey::format(3)});
        s.setFlags(privateSeries ? SeriesRecord::Private : 0);
        s.setRule(*TRecurrenceRule::FromRRule(QStringLiteral("FREQ=WEEKLY;COUNT=3"), QDate(2027, 3, 1), QTime(9, 0)));
        TSeriesWriter writer(*db);
        const QString second = writer.Links(writer.Create(s, QDate(2027, 1, 1)).seriesKey)[1].second.EntryKey();
        DayEntryRecord entry;
        AlarmRecord none;
        QVERIFY(db->DayEntries().GetEqual(entry.bytes(), 0, second));
        entry.setDescription(QStringLiteral("Open"));
        entry.setFlags(privateSeries ? 0 : DayEntryRecord::Private);
        QCOMPARE(writer.ChangeOne(second, entry, none, QString()).result, TSeriesWriter::Result::Done);
        QStringList seen;
        for (const QString& line : libicalOccurrences(exportOf(*db, user, "UTC").Build(*db)))
            seen << line.mid(4, 4) + QLatin1Char(' ') + line.section(QStringLiteral(" | "), 1);
        QTEST(seen.join(QStringLiteral(", ")), "seen");
    }

    // An export of Room 1's bookings lists what books it: "Weekly" (Mondays
    // from 1 March, made up to its horizon) goes without the room on the 8th,
    // when "Other" has it, and books nothing past its horizon.
    void resourceBookings_data()
    {
        QTest::addColumn<QDate>("from"); // three weeks from
        QTest::addColumn<QString>("seen");
        QTest::newRow("made") << QDate(2027, 3, 1) << "0301 Weekly, 0308 Other, 0315 Weekly";
        QTest::newRow("past the horizon") << QDate(2028, 3, 1) << "";
    }
    void resourceBookings()
    {
        QFETCH(QDate, from);
        auto db = makeDatabase(QStringLiteral("bookings"));
        TResourceStore::TResource room{{}, QStringLiteral("Room 1"), {}};
        QCOMPARE(TResourceWriter(*db).Add(room), TResourceWriter::Result::Done);
        const TEntryDetails hour{3600, 1, {}, {}};
        addEntry(*db, QStringLiteral("2027-03-08 09:00"), QStringLiteral("Other"), 0, 0, 1, {2}, 0, hour, {room.key});
        SeriesRecord s;
        s.initialise();
        s.setOwnerKey(RecordKey::format(1));
        s.setDescription(QStringLiteral("Weekly"));
        s.setAssigneeKeys({RecordKey::format(2)});
        s.setRule(*TRecurrenceRule::FromRRule(QStringLiteral("FREQ=WEEKLY"), QDate(2027, 3, 1), QTime(9, 0)));
        const QString series = TSeriesWriter(*db).Create(s, QDate(2027, 1, 1), {}, hour).seriesKey;
        TRecordWriter records;
        QCOMPARE(TBookingWriter(*db, records).BookSeries(series, QStringList{room.key}).size(), 1);
        TCalendarExport calendar = exportOf(*db, 1, "UTC");
        calendar.StartDate = from;
        calendar.EndDate = from.addDays(20);
        calendar.RestrictResource = true;
        calendar.ResourceKey = room.key;
        calendar.ReadBookings(*db);
        QStringList seen;
        for (const QString& line : libicalOccurrences(calendar.Build(*db)))
            seen << line.mid(4, 4) + QLatin1Char(' ') + line.section(QStringLiteral(" | "), 1);
        QTEST(seen.join(QStringLiteral(", ")), "seen");
    }

    // The feed tool rewrites the file over and over while a reader keeps
    // reading it: every read is one whole calendar.
    void feedAlwaysWhole()
    {
        auto db = makeDatabase(QStringLiteral("feed"));
        for (int day = 1; day <= 28; ++day)
            addEntry(*db, QStringLiteral("2027-03-%1 09:00").arg(day, 2, 10, QLatin1Char('0')), QString(200, u'x'), 0, 0,
                     1, {2}, 0);
        const QString out = TestEnvironment::freshFolder(QStringLiteral("out")) + QStringLiteral("/feed.ics");
        const QString script = QStringLiteral("for i in $(seq 12); do for to in 2027-03-05 2027-03-28; do "
                                              "\"%1\" --database \"%2\" --user U2 --from 2027-03-01 --to $to --out \"%3\" "
                                              "|| exit 1; done; done")
                                   .arg(QStringLiteral(QUORLA_EXPORT), db->RootPath(), out);
        QProcess writer;
        writer.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        QVERIFY(writer.waitForStarted());
        int reads = 0;
        QSet<int> sizes;
        while (writer.state() != QProcess::NotRunning || reads == 0) {
            writer.waitForFinished(5);
            const QByteArray text = TestFile::read(out);
            if (text.isEmpty())
                continue;
            ++reads;
            sizes.insert(libicalEvents(text).size());
            QVERIFY2(text.startsWith("BEGIN:VCALENDAR") && text.endsWith("END:VCALENDAR\r\n"), text.right(40).constData());
        }
        QCOMPARE(writer.exitCode(), 0);
        QVERIFY(reads > 1);
        QVERIFY((sizes - QSet<int>{5, 28}).isEmpty());
    }

private:
    std::unique_ptr<TScriptedServices> services_;
};

QUORLA_TEST_CORE_MAIN(tst_CalendarExport)
#include "tst_calendarexport.moc"
