// Calendar files in the shapes other calendar programs write, imported into
// an office in Berlin and exported again: the same events at the same
// instants, read back by libical. Imported twice: nothing doubled. What
// cannot be taken is listed; the tool's refusals leave the database as it
// was.

#include "IcalTestSupport.h"
#include "PostgresCluster.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "RecordKey.h"
#include "TBookingStore.h"
#include "TResourceWriter.h"
#include "TCalendarImport.h"
#include "TEventCodec.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TSeriesWriter.h"
#include "TRecordLock.h"
#include "SeriesRecord.h"
#include "TestChild.h"
#include "TDatabaseLocation.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>

#include <ctime>

#include <memory>

namespace {

const QByteArray Office = "Europe/Berlin";

QByteArray calendar(const QByteArray& events)
{
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Someone//Other Calendar//EN\r\n" + events
        + "END:VCALENDAR\r\n";
    return text.replace("\r\n", "\n").replace("\n", "\r\n");
}

// New York's zone as a desktop calendar writes it, with the rules of both
// changes.
const QByteArray NewYork = R"(BEGIN:VTIMEZONE
TZID:America/New_York
BEGIN:DAYLIGHT
TZOFFSETFROM:-0500
TZOFFSETTO:-0400
TZNAME:EDT
DTSTART:19700308T020000
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU
END:DAYLIGHT
BEGIN:STANDARD
TZOFFSETFROM:-0400
TZOFFSETTO:-0500
TZNAME:EST
DTSTART:19701101T020000
RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU
END:STANDARD
END:VTIMEZONE
)";

// A daily series of three, the first on 2027-06-01 at 09:00 in the office.
const QByteArray StandUp = "DTSTART:20270601T070000Z\nRRULE:FREQ=DAILY;COUNT=3\nSUMMARY:Stand-up\n";

QByteArray vevent(const QByteArray& uid, const QByteArray& body)
{
    return "BEGIN:VEVENT\nUID:" + uid + "\nDTSTAMP:20270101T000000Z\n" + body + "END:VEVENT\n";
}

std::unique_ptr<PostgresCluster> server;

// Ann (1, administrator), Bob (2, adds entries), Cy (3, no rights); on the
// run's engine, or in a folder when `folder`.
std::unique_ptr<TQuorlaDB> makeDatabase(const QString& name, bool folder = false)
{
    const QString location = server && !folder ? server->createDatabase(name) : TestEnvironment::freshFolder(name);
    auto db = std::make_unique<TQuorlaDB>(TScriptedServices::ofTest(), TDatabaseLocation(location));
    addUsers(*db, {QStringLiteral("User 1"), QStringLiteral("User 2"), QStringLiteral("User 3")},
             {UserRecord::CanAdminister | UserRecord::CanAddEntries, UserRecord::CanAddEntries});
    return db;
}

TCalendarImport::TOutcome importAs(TQuorlaDB& db, int user, const QByteArray& text,
                                   const std::function<void(const TRecordWriter::TWrite&)>& onWrite = {})
{
    UserRecord record;
    const QString key = RecordKey::format(user);
    db.Users().GetEqual(record.bytes(), 0, key);
    TCalendarImport import(db, key, record);
    import.Zone = Office;
    import.Today = QDate(2027, 1, 4);
    import.OnWrite = onWrite;
    return import.Import(text, QStringLiteral("test.ics"));
}

QStringList reasons(const QList<TCalendarImport::TNote>& notes)
{
    QStringList lines;
    for (const auto& note : notes)
        lines << note.event + QStringLiteral(": ") + note.reason;
    return lines;
}

// The first event of `text` as the codec keeps it in the office's zone:
// "start | summary (its bytes) | length | location | notes' bytes", or
// "refused: <reason>"; what it altered into `altered`.
QString decoded(const QByteArray& text, QStringList& altered)
{
    icalcomponent* root = icalparser_parse_string(text.constData());
    TEventCodec::TDecoded event;
    QString reason;
    const bool kept = TEventCodec(QTimeZone(Office))
                          .Decode(icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT), event, reason);
    icalcomponent_free(root);
    altered = event.altered;
    if (!kept)
        return QStringLiteral("refused: ") + reason;
    const TEntryDetails& d = event.details;
    return QStringList{TEventCodec::AsWall(event.wall).toString(event.untimed ? "yyyy-MM-dd" : "yyyy-MM-dd hh:mm"),
                       QStringLiteral("%1 (%2)").arg(event.text.left(8)).arg(event.text.toUtf8().size()),
                       event.untimed ? QStringLiteral("%1d").arg(d.days) : QStringLiteral("%1s").arg(d.durationSeconds),
                       d.location, QString::number(d.notes.toUtf8().size())}
        .join(QStringLiteral(" | "));
}

} // namespace

class tst_CalendarImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }

    // What real producers write, as the codec keeps it, and what it says it
    // altered.
    void codec_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("altered");
        const QByteArray eastern = "TZID=Eastern Standard Time:2027030";
        const QByteArray berlin = "TZID=Europe/Berlin:20270302T";
        const auto row = [](const char* name, const QByteArray& body, const char* stored, const QStringList& altered = {}) {
            QTest::newRow(name) << body << QString::fromUtf8(stored) << altered;
        };
        row("17:00-18:00 in Berlin", "DTSTART;" + berlin + "170000\nDTEND;" + berlin + "180000\nSUMMARY:Review\n",
            "2027-03-02 17:00 | Review (6) | 3600s |  | 0");
        row("three days, DTEND the day after", "DTSTART;VALUE=DATE:20270302\nDTEND;VALUE=DATE:20270305\nSUMMARY:Fair\n",
            "2027-03-02 | Fair (4) | 3d |  | 0");
        row("two days as DURATION", "DTSTART;VALUE=DATE:20270302\nDURATION:P2D\nSUMMARY:Fair\n",
            "2027-03-02 | Fair (4) | 2d |  | 0");
        row("past midnight in UTC", "DTSTART:20270302T220000Z\nDTEND:20270303T010000Z\nSUMMARY:Late\n",
            "2027-03-02 23:00 | Late (4) | 10800s |  | 0");
        row("RDATE on a single event", "DTSTART:20270302T100000Z\nRDATE:20270309T100000Z\nSUMMARY:Twice\n",
            "refused: its extra dates (RDATE) have no form here");
        row("Outlook's Windows zone without VTIMEZONE",
            "DTSTART;" + eastern + "2T090000\nDTEND;" + eastern + "2T103000\nSUMMARY:Outlook\n",
            "2027-03-02 15:00 | Outlook (7) | 5400s |  | 0");
        row("Google's long description and a place",
            "DTSTART:20270302T100000Z\nSUMMARY:Planning\nLOCATION:Room 4\nDESCRIPTION:" + QByteArray(2000, 'n') + "\n",
            "2027-03-02 11:00 | Planning (8) | 0s | Room 4 | 2000");
        row("notes past 32 KiB", "DTSTART:20270302T100000Z\nSUMMARY:Log\nDESCRIPTION:" + QByteArray(40000, 'n') + "\n",
            "2027-03-02 11:00 | Log (3) | 0s |  | 32768", {"its description was cut to 32768 bytes"});
        row("summary past 254 bytes, cut between characters",
            "DTSTART:20270302T100000Z\nSUMMARY:x" + QString(200, QChar(0xE4)).toUtf8() + "\n",
            "2027-03-02 11:00 | xäääääää (253) | 0s |  | 0", {"its summary was cut to 254 bytes"});
        row("a text of several lines as the export writes it",
            "DTSTART:20270302T100000Z\nSUMMARY:Call\nDESCRIPTION:Call\\nBring figures\n",
            "2027-03-02 11:00 | Call\nBri (18) | 0s |  | 0");
        row("a span past 366 days", "DTSTART;VALUE=DATE:20270101\nDTEND;VALUE=DATE:20280601\nSUMMARY:Year\n",
            "2027-01-01 | Year (4) | 366d |  | 0", {"only its first 366 days were kept"});
    }
    void codec()
    {
        QFETCH(QByteArray, body);
        QStringList altered;
        QTEST(decoded(calendar(vevent("c@producer", body)), altered), "stored");
        QTEST(altered, "altered");
    }

    // Quorla's own export imported into the same database adds nothing.
    void ownExport()
    {
        TScriptedServices services;
        auto db = makeDatabase(QStringLiteral("own"));
        importAs(*db, 2, calendar(vevent("o1", "DTSTART:20270301T100000Z\nSUMMARY:Single\n")
                                  + vevent("o2", "DTSTART:20270302T100000Z\nRRULE:FREQ=WEEKLY;COUNT=3\nSUMMARY:Weekly\n")));
        const qint64 entries = db->DayEntries().RecordCount();
        const auto again = importAs(*db, 2, exportOf(*db, 2, Office).Build(*db));
        QCOMPARE(again.added, 0);
        QCOMPARE(again.updated, 2);
        QCOMPARE(db->DayEntries().RecordCount(), entries);
    }

    // Each file imported by Bob, then exported again: the events libical
    // finds, at their instants in UTC (all-day ones as dates), and Bob's
    // alarms in the database; every occurrence made, by the polls too, and
    // none on an excluded day.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("alarms");
        // `events` in a calendar of their own.
        const auto row = [](const char* name, const QByteArray& events, const QStringList& expected, int alarms = 0) {
            QTest::newRow(name) << calendar(events) << expected << alarms;
        };
        row("all day, a web calendar",
            vevent("a@web", "DTSTART;VALUE=DATE:20270315\nDTEND;VALUE=DATE:20270316\nSUMMARY:Audit\n"),
            {"20270315 | Audit"});
        row("floating time is the office's", vevent("f@desk", "DTSTART:20270316T090000\nSUMMARY:Floating\n"),
            {"20270316T080000Z | Floating"});
        row("UTC, after the change", vevent("u@desk", "DTSTART:20270401T120000Z\nDURATION:PT1H\nSUMMARY:Call\n"),
            {"20270401T120000Z | Call"});
        row("TZID with VTIMEZONE, between the two changes",
            NewYork + vevent("ny@desk", "DTSTART;TZID=America/New_York:20270318T090000\nSUMMARY:NY\n"),
            {"20270318T130000Z | NY"});
        row("weekly, COUNT, EXDATE, across the change",
            vevent("w@desk", "DTSTART;TZID=Europe/Berlin:20270301T100000\nRRULE:FREQ=WEEKLY;BYDAY=MO;COUNT=6\n"
                             "EXDATE;TZID=Europe/Berlin:20270308T100000\nSUMMARY:Weekly\n"),
            {"20270301T090000Z | Weekly", "20270315T090000Z | Weekly", "20270322T090000Z | Weekly",
             "20270329T080000Z | Weekly", "20270405T080000Z | Weekly"});
        row("daily all day, UNTIL",
            vevent("d@web", "DTSTART;VALUE=DATE:20270403\nRRULE:FREQ=DAILY;UNTIL=20270405\nSUMMARY:Fair\n"),
            {"20270403 | Fair", "20270404 | Fair", "20270405 | Fair"});
        row("EXDATE beyond the horizon",
            vevent("m@desk", "DTSTART;TZID=Europe/Berlin:20271206T100000\nRRULE:FREQ=MONTHLY;COUNT=5\n"
                             "EXDATE;TZID=Europe/Berlin:20280306T100000\nSUMMARY:Monthly\n"),
            {"20271206T090000Z | Monthly", "20280106T090000Z | Monthly", "20280206T090000Z | Monthly",
             "20280406T080000Z | Monthly"});
        row("an occurrence changed alone",
            vevent("x@desk", "DTSTART:20270601T070000Z\nRRULE:FREQ=DAILY;COUNT=3\nSUMMARY:Stand-up\n"
                             "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER:-PT10M\nEND:VALARM\n")
                + vevent("x@desk", "RECURRENCE-ID:20270602T070000Z\nDTSTART:20270602T090000Z\nSUMMARY:Late\n"),
            {"20270601T070000Z | Stand-up", "20270602T090000Z | Late", "20270603T070000Z | Stand-up"}, 2);
        row("a Windows zone without VTIMEZONE",
            vevent("o@outlook", "DTSTART;TZID=Eastern Standard Time:20270316T090000\nSUMMARY:Outlook\n"),
            {"20270316T130000Z | Outlook"});
        row("a series from a zone with other change dates",
            NewYork + vevent("s@ny", "DTSTART;TZID=America/New_York:20270301T090000\nRRULE:FREQ=WEEKLY;COUNT=5\n"
                                     "SUMMARY:NY weekly\n"),
            {"20270301T140000Z | NY weekly", "20270308T140000Z | NY weekly", "20270315T130000Z | NY weekly",
             "20270322T130000Z | NY weekly", "20270329T130000Z | NY weekly"});
        row("a phone's UNTIL, the last day's end in UTC",
            vevent("p@phone", "DTSTART;TZID=Europe/Berlin:20270301T090000\nRRULE:FREQ=DAILY;UNTIL=20270303T225959Z\n"
                              "SUMMARY:Phone\n"),
            {"20270301T080000Z | Phone", "20270302T080000Z | Phone", "20270303T080000Z | Phone"});
        row("VALARM, folded long line, non-ASCII",
            vevent("v@desk", "DTSTART:20270701T100000Z\nSUMMARY:Überprüfung der Straßenbeleuchtung und der "
                             "Ampeln\n  an der Hauptstraße – 5 €\nBEGIN:VALARM\nACTION:DISPLAY\n"
                             "DESCRIPTION:x\nTRIGGER:-PT15M\nEND:VALARM\n"),
            {"20270701T100000Z | Überprüfung der Straßenbeleuchtung und der Ampeln an der Hauptstraße – 5 €"}, 1);
    }
    void roundTrip()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, expected);
        TScriptedServices services;
        static int serial = 0;
        auto db = makeDatabase(QStringLiteral("roundtrip%1").arg(++serial));
        // On a folder each write stands alone: an import killed right after
        // its first entry went in leaves what the next one finishes, never a
        // double. (On a server the two are one transaction.)
        if (!server) {
            TestChild child([&] {
                TQuorlaDB again{TScriptedServices::ofTest(), TDatabaseLocation(db->RootPath())};
                importAs(again, 2, text, [&](const TRecordWriter::TWrite& w) {
                    if (w.made && w.dataset == &again.DayEntries())
                        ::_exit(3);
                });
                return 0;
            });
            QCOMPARE(child.wait(), 3);
        }
        const auto first = importAs(*db, 2, text);
        QVERIFY2(first.skipped.isEmpty(), qPrintable(reasons(first.skipped).join('\n')));
        TSeriesWriter(*db).Extend(QDate(2029, 1, 1), 1000);
        QCOMPARE(db->DayEntries().RecordCount(), expected.size());
        QCOMPARE(libicalOccurrences(exportOf(*db, 2, Office).Build(*db)), expected);
        QTEST(db->Alarms().RecordCount(), "alarms");
        // Again: updated, nothing doubled.
        const auto second = importAs(*db, 2, text);
        QCOMPARE(second.added, 0);
        QCOMPARE(second.updated, first.added + first.updated);
        QCOMPARE(db->DayEntries().RecordCount(), expected.size());
        QTEST(db->Alarms().RecordCount(), "alarms");
        QCOMPARE(libicalOccurrences(exportOf(*db, 2, Office).Build(*db)), expected);
    }

    // Series at the edges of the office's clock and of the horizon, beside a
    // plain event: the rule as the workstation states it, the entries made,
    // and the export's line.
    void seriesEdges_data()
    {
        QTest::addColumn<QByteArray>("master");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("exported");
        QTest::newRow("UNTIL a moment before the last day's start")
            << QByteArray("DTSTART;TZID=Europe/Berlin:20270104T090000\nRRULE:FREQ=DAILY;UNTIL=20270108T075959Z\n")
            << "Every day at 09:00 until 7 January 2027" << 5 << "RRULE:FREQ=DAILY;UNTIL=20270107T225959Z";
        QTest::newRow("from a time the spring change skips")
            << QByteArray("DTSTART;TZID=Europe/Berlin:20270328T021500\nRRULE:FREQ=MONTHLY;BYDAY=-1SU;COUNT=3\n")
            << "Monthly on the last Sunday at 02:15, 3 times" << 4 << "DTSTART;TZID=Europe/Berlin:20270328T021500";
        QTest::newRow("floating, at a skipped time") << QByteArray("DTSTART:20270328T023000\nRRULE:FREQ=DAILY;COUNT=2\n")
                                                     << "Every day at 02:30, 2 times" << 3
                                                     << "DTSTART;TZID=Europe/Berlin:20270328T023000";
        QTest::newRow("every 2 months on the 2nd Tuesday from the 4th: from the first")
            << QByteArray("DTSTART;TZID=Europe/Berlin:20270126T100000\nRRULE:FREQ=MONTHLY;INTERVAL=2;BYDAY=2TU;"
                          "COUNT=3\n")
            << "Every 2 months on the second Tuesday at 10:00, 3 times" << 4
            << "DTSTART;TZID=Europe/Berlin:20270309T100000";
        QTest::newRow("from beyond the horizon")
            << QByteArray("DTSTART;TZID=Europe/Berlin:20280331T090000\nRRULE:FREQ=MONTHLY;BYMONTHDAY=31\n")
            << "Monthly on the 31st at 09:00" << 1 << "RRULE:FREQ=MONTHLY;BYMONTHDAY=31";
    }
    void seriesEdges()
    {
        QFETCH(QByteArray, master);
        QFETCH(QString, exported);
        // The workstation keeps the office's clock.
        qputenv("TZ", Office);
        ::tzset();
        const auto utc = qScopeGuard([] { qputenv("TZ", "UTC"); ::tzset(); });
        TScriptedServices services;
        static int serial = 0;
        auto db = makeDatabase(QStringLiteral("edges%1").arg(++serial));
        const QByteArray plain = vevent("p", "DTSTART:20270329T090000Z\nSUMMARY:P\n");
        const auto outcome = importAs(*db, 2, calendar(vevent("s", master + "SUMMARY:S\n") + plain));
        QVERIFY2(outcome.skipped.isEmpty(), qPrintable(reasons(outcome.skipped).join('\n')));
        SeriesRecord series;
        QVERIFY(TSeriesWriter(*db).ReadSeries(RecordKey::format(1), series));
        QTEST(series.Rule().Summary(), "summary");
        QTEST(db->DayEntries().RecordCount(), "entries");
        TCalendarExport calendar = exportOf(*db, 2, Office);
        calendar.EndDate = QDate(2028, 12, 31);
        const QByteArray written = calendar.Build(*db);
        QVERIFY2(written.contains(exported.toLatin1() + "\r\n"), written.constData());
    }

    // A calendar changed since the last import: its events are changed in
    // place, also from a single event to a series and back.
    void changedSince()
    {
        TScriptedServices services;
        auto db = makeDatabase(QStringLiteral("changed"));
        importAs(*db, 2, calendar(vevent("c1", "DTSTART:20270301T100000Z\nSUMMARY:Once\n")
                                  + vevent("c2", "DTSTART:20270302T100000Z\nRRULE:FREQ=DAILY;COUNT=2\nSUMMARY:Twice\n")));
        const auto again = importAs(
            *db, 2,
            calendar(vevent("c1", "DTSTART:20270301T110000Z\nRRULE:FREQ=DAILY;COUNT=2\nSUMMARY:Now twice\n")
                     + vevent("c2", "DTSTART:20270302T100000Z\nSUMMARY:Now once\n")));
        QCOMPARE(again.added, 0);
        QCOMPARE(again.updated, 2);
        QCOMPARE(db->DayEntries().RecordCount(), 3);
        QCOMPARE(libicalOccurrences(exportOf(*db, 2, Office).Build(*db)),
                 (QStringList{"20270301T110000Z | Now twice", "20270302T100000Z | Now once",
                              "20270302T110000Z | Now twice"}));
    }

    // The rooms a file's events name, by address or by name, are booked; a
    // room booked then by another event refuses that event, the rest come in.
    void bookings_data()
    {
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<QStringList>("booked");
        const QByteArray room = "ATTENDEE;CUTYPE=ROOM;CN=room 1:mailto:r1@example.com\n";
        QTest::addRow("by name") << "DTSTART:20270301T100000Z\n" + room << "" << QStringList{"Room 1: 2", "Beamer: 0"};
        QTest::addRow("by address") << QByteArray("DTSTART:20270301T093000Z\n"
                                                  "ATTENDEE;CUTYPE=RESOURCE:urn:x-quorla:%1:resource:%2\n")
                                    << "" << QStringList{"Room 1: 1", "Beamer: 1"};
        QTest::addRow("busy") << "DTSTART:20270301T093000Z\n" + room
                              << "New, 2027-03-01 10:30: Room 1 is already booked by \"Held\" of User 1, Mon 01/03/2027 "
                                 "10:00\u2013" "11:00." << QStringList{"Room 1: 1", "Beamer: 0"};
    }
    void bookings()
    {
        QFETCH(QByteArray, event);
        TScriptedServices services;
        auto db = makeDatabase(QStringLiteral("bookings%1").arg(QTest::currentDataTag()).remove(' '));
        QStringList keys;
        for (const char* name : {"Room 1", "Beamer"}) {
            TResourceStore::TResource resource{{}, QString::fromUtf8(name), {}};
            QCOMPARE(TResourceWriter(*db).Add(resource), TResourceWriter::Result::Done);
            keys << resource.key;
        }
        QString identity;
        db->Users().Identity(identity);
        importAs(*db, 1, calendar(vevent("held", "DTSTART:20270301T090000Z\nDURATION:PT1H\nSUMMARY:Held\n"
                                                 "ATTENDEE;CUTYPE=ROOM;CN=Room 1:mailto:r1@example.com\n")));
        const QByteArray named = QByteArray(event).replace("%1", identity.toUtf8()).replace("%2", keys[1].toUtf8());
        const auto outcome = importAs(*db, 2, calendar(vevent("new", named + "DURATION:PT1H\nSUMMARY:New\n")
                                                      + vevent("plain", "DTSTART:20270301T093000Z\nSUMMARY:Plain\n")));
        QCOMPARE(outcome.added, outcome.skipped.isEmpty() ? 2 : 1);
        QTEST(reasons(outcome.skipped).join(QString()), "skipped");
        QStringList booked;
        for (int i = 0; i < 2; ++i)
            booked << QStringLiteral("%1: %2").arg(i ? "Beamer" : "Room 1").arg(
                TBookingStore(*db).OfResource(keys[i], QDateTime(QDate(2027, 1, 1), {}), QDateTime(QDate(2028, 1, 1), {})).size());
        QTEST(booked, "booked");
    }

    // What cannot be taken is listed with its reason and the rest goes in;
    // a category is matched by name, made by an administrator, left out
    // (and said) for anyone else.
    void partial_data()
    {
        QTest::addColumn<int>("user");
        QTest::addColumn<QStringList>("skipped");
        QTest::addColumn<QStringList>("remarks");
        const QStringList skipped{"Rule, 2027-03-01 10:00: its repeat rule has no form here (FREQ=MONTHLY;BYDAY=MO,TU)",
                                  "Old, 1969-12-31: it lies before 1970 or after 2037",
                                  "Extra, 2027-03-02 10:00: its extra dates (RDATE) have no form here"};
        QTest::addRow("administrator")
            << 1 << skipped << QStringList{"Fine, 2027-03-04 10:00: only its first category, \"Plain\", was kept"};
        QTest::addRow("not an administrator")
            << 2 << skipped << QStringList{"Sales, North, 2027-03-03 10:00: category \"Sales, North\" is not known here; left without one",
                           "Fine, 2027-03-04 10:00: only its first category, \"Plain\", was kept",
                           "Fine, 2027-03-04 10:00: category \"Plain\" is not known here; left without one"};
    }
    void partial()
    {
        QFETCH(int, user);
        TScriptedServices services;
        auto db = makeDatabase(QStringLiteral("partial%1").arg(user));
        const QByteArray text = calendar(
            vevent("1", "DTSTART:20270301T100000\nRRULE:FREQ=MONTHLY;BYDAY=MO,TU\nSUMMARY:Rule\n")
            + vevent("2", "DTSTART;VALUE=DATE:19691231\nSUMMARY:Old\n")
            + vevent("3", "DTSTART:20270302T100000\nRDATE:20270309T100000\nSUMMARY:Extra\n")
            + vevent("4", "DTSTART:20270303T100000\nSUMMARY:Sales\\, North\nCATEGORIES:Sales\\, North\n")
            + vevent("5", "DTSTART:20270304T100000\nSUMMARY:Fine\nCATEGORIES:Plain,Other\n"));
        const auto outcome = importAs(*db, user, text);
        QTEST(reasons(outcome.skipped), "skipped");
        QTEST(reasons(outcome.remarks), "remarks");
        QCOMPARE(outcome.added, 2);
        QCOMPARE(exportOf(*db, user, Office).Build(*db).contains("CATEGORIES:Sales\\, North\r\n"), user == 1);
    }

    // An occurrence the file deletes (an EXDATE, or the occurrence sent alone
    // as cancelled) while it is open elsewhere stays, and the import lists
    // it; once it is closed the same file deletes it.
    void occurrenceDeletedWhileOpen_data()
    {
        QTest::addColumn<QByteArray>("deletion");
        QTest::addColumn<QString>("listed");
        QTest::newRow("EXDATE") << vevent("o@desk", StandUp + "EXDATE:20270602T070000Z\n")
                                << "Stand-up, 2027-06-01 09:00: its occurrence of 2027-06-02 is open elsewhere";
        QTest::newRow("cancelled alone")
            << vevent("o@desk", StandUp)
                + vevent("o@desk", "RECURRENCE-ID:20270602T070000Z\nDTSTART:20270602T070000Z\nSUMMARY:Stand-up\n"
                                   "STATUS:CANCELLED\n")
            << "Stand-up, 2027-06-02 09:00: its occurrence of 2027-06-02 is open elsewhere";
    }
    void occurrenceDeletedWhileOpen()
    {
        QFETCH(QByteArray, deletion);
        QFETCH(QString, listed);
        TScriptedServices services;
        static int serial = 0;
        auto db = makeDatabase(QStringLiteral("deletedwhileopen%1").arg(++serial));
        QVERIFY(importAs(*db, 2, calendar(vevent("o@desk", StandUp))).skipped.isEmpty());
        SeriesRecord series;
        QString seriesKey;
        db->Series()->Range(series.bytes(), 0, RecordKey::None, QStringLiteral("9999999999"), [&] {
            seriesKey = db->Series()->CurrentKey();
            return false;
        });
        const QString second = TSeriesWriter(*db).Links(seriesKey).value(1).second.EntryKey();
        QVERIFY(!second.isEmpty());
        {
            TQuorlaDB other{TScriptedServices::ofTest(), db->Location()};
            const TRecordLock held(other.DayEntries(), second);
            QVERIFY(held.Held());
            const auto refused = importAs(*db, 2, calendar(deletion));
            QCOMPARE(reasons(refused.skipped), QStringList{listed});
            QCOMPARE(db->DayEntries().RecordCount(), 3);
        }
        QVERIFY(importAs(*db, 2, calendar(deletion)).skipped.isEmpty());
        QCOMPARE(db->DayEntries().RecordCount(), 2);
    }

    // quorla_import: exit 0 with the outcome on standard output; 1 for a
    // refusal, 2 for a usage error, both leaving the database as it was.
    void tool_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addRow("imported") << "u2" << "good.ics" << 0 << "1 event added, 0 updated.";
        QTest::addRow("not iCalendar") << "U2" << "plain.txt" << 1 << "plain.txt is not an iCalendar file";
        QTest::addRow("unreadable") << "U2" << "missing.ics" << 1 << "Unable to read";
        QTest::addRow("past the bound") << "U2" << "huge.ics" << 1 << "huge.ics: it is larger than 64 MiB";
        QTest::addRow("endless stream") << "U2" << "/dev/zero" << 1 << "/dev/zero: it is larger than 64 MiB";
        QTest::addRow("unknown user") << "U9" << "good.ics" << 1 << "No user is called U9";
        QTest::addRow("no right") << "U3" << "good.ics" << 1 << "User 3 may not add entries";
        QTest::addRow("no user given") << "" << "good.ics" << 2 << "missing --user";
    }
    void tool()
    {
        QFETCH(QString, user);
        QFETCH(QString, file);
        QFETCH(int, status);
        QFETCH(QString, said);
        TScriptedServices services;
        auto db = makeDatabase(QStringLiteral("tool"), true);
        const QString root = db->RootPath();
        db.reset();
        const QString files = TestEnvironment::freshFolder(QStringLiteral("files"));
        const QByteArray good = calendar(vevent("t@desk", "DTSTART:20270301T100000Z\nSUMMARY:Tool\n"));
        for (const auto& [name, text] : {std::pair{"/good.ics", good}, {"/plain.txt", "Meeting on Monday at ten\n"}})
            QVERIFY(TestFile::write(files + QLatin1String(name), text));
        QFile huge(files + QStringLiteral("/huge.ics")); // sparse: no disk taken
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(TCalendarImport::MaxInputBytes + 1));
        const QStringList before = QDir(root).entryList(QDir::Files);
        QStringList arguments{QStringLiteral("--database"), root, QStringLiteral("--zone"), QString::fromLatin1(Office)};
        if (!user.isEmpty())
            arguments << QStringLiteral("--user") << user;
        arguments << (file.startsWith(QLatin1Char('/')) ? file : files + QLatin1Char('/') + file);
        QProcess tool;
        tool.start(QStringLiteral(QUORLA_IMPORT), arguments);
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), status);
        const QString output = QString::fromLocal8Bit(tool.readAllStandardOutput() + tool.readAllStandardError());
        QVERIFY2(output.contains(said), qPrintable(output));
        if (status != 0)
            QCOMPARE(QDir(root).entryList(QDir::Files), before);
    }
};

QUORLA_TEST_CORE_MAIN(tst_CalendarImport)
#include "tst_calendarimport.moc"
