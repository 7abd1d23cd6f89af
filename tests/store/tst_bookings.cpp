// Resources and their bookings: a booking never overlaps another booking of
// its resource, whichever workstation books it and however.
// Runs on a folder, and once more (QUORLA_TEST_ENGINE=postgres) on a server.

#include "BookingRecord.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "ResourceRecord.h"
#include "TBookingStore.h"
#include "TBookingWriter.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TResourceWriter.h"
#include "TSeriesWriter.h"
#include "TestDatabase.h"

#include <QSemaphore>

#include <memory>
#include <thread>

namespace {

std::unique_ptr<PostgresCluster> server;
const QDate Monday(2027, 1, 4);

QString at(int day, int hour, int minute = 0)
{
    return TBookingStore::TimeKey(QDateTime(Monday.addDays(day), QTime(hour, minute)));
}

BookingRecord booking(int resource, int entry, const QString& start, const QString& end)
{
    BookingRecord b;
    b.setSlot(RecordKey::format(resource), start);
    b.setEntry(RecordKey::format(entry));
    b.setEnd(end);
    return b;
}

// An event written "day hh:mm minutes" (timed) or "day all days" (un-timed),
// day counted from Monday.
struct TEvent
{
    DayEntryRecord entry;
    TEntryDetails details;
};

TEvent planned(const QString& text, const QString& description = QStringLiteral("meeting"))
{
    const QStringList part = text.split(QLatin1Char(' '));
    TEvent e{TestDatabase::entry(description, {1}, 1), {}};
    const bool unTimed = part[1] == QLatin1String("all");
    const QTime time = unTimed ? QTime(0, 0) : QTime::fromString(part[1], QStringLiteral("hh:mm"));
    e.entry.setStartTime(TestDatabase::timeKey(QDateTime(Monday.addDays(part[0].toInt()), time)));
    e.entry.setFlags(unTimed ? DayEntryRecord::UnTimed : 0);
    (unTimed ? e.details.days : e.details.durationSeconds) = part[2].toInt() * (unTimed ? 1 : 60);
    return e;
}

// Books `rooms` for `text` through `db`: the refusal's text, or empty.
QString book(TQuorlaDB& db, const QString& text, const QStringList& rooms,
             const QString& description = QStringLiteral("meeting"))
{
    TEvent e = planned(text, description);
    AlarmRecord noAlarm;
    try {
        TEventWriter(db).insertEntryWithAlarms(e.entry, noAlarm, {}, e.details, rooms);
    } catch (const TBookingWriter::ERefused& refused) {
        return refused.message();
    }
    return {};
}

} // namespace

class tst_Bookings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDatabase::Office> o;

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }
    void init()
    {
        o = std::make_unique<TestDatabase::Office>(QStringLiteral("rooms"), server.get(), 2);
        for (const QString& name : {QStringLiteral("Room 1"), QStringLiteral("Room 2")}) {
            TResourceStore::TResource room{{}, name, {}, true};
            QCOMPARE(TResourceWriter(*o->db).Add(room), TResourceWriter::Result::Done);
        }
    }
    void cleanup() { o.reset(); }

    // The second of two events booking one room stands only when it shares
    // no moment with the first: times are half-open, un-timed events book
    // whole days.
    void overlapRule_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("refusal");
        const QString booked = QStringLiteral("Room 1 is already booked by \"first\" of User 1, ");
        QTest::addRow("touching after") << "0 09:00 60" << "0 10:00 30" << QString();
        QTest::addRow("touching before") << "0 09:00 60" << "0 08:00 60" << QString();
        QTest::addRow("inside") << "0 09:00 60" << "0 09:15 15" << booked + "Mon 04/01/2027 09:00–10:00.";
        QTest::addRow("around") << "0 09:00 60" << "0 08:00 180" << booked + "Mon 04/01/2027 09:00–10:00.";
        QTest::addRow("all day, timed that day") << "0 all 1" << "0 17:00 30" << booked + "Mon 04/01/2027.";
        QTest::addRow("all day, timed the next") << "0 all 1" << "1 00:00 30" << QString();
        QTest::addRow("three days, on the third") << "0 all 3" << "2 23:30 30"
                                                   << booked + "Mon 04/01/2027 to Wed 06/01/2027.";
        QTest::addRow("three days, the day after") << "0 all 3" << "3 all 1" << QString();
        QTest::addRow("overnight, the next day") << "0 23:00 120" << "1 all 1"
                                                  << booked + "Mon 04/01/2027 23:00–Tue 05/01/2027 01:00.";
        QTest::addRow("two weeks, reaching a week back") << "0 all 14" << "10 09:00 60"
                                                         << booked + "Mon 04/01/2027 to Sun 17/01/2027.";
        QTest::addRow("no end") << "0 09:00 60" << "0 12:00 0" << TBookingWriter::NeedsEnd;
    }
    void overlapRule()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, refusal);
        const QStringList room{RecordKey::format(1)};
        QCOMPARE(book(*o->db, first, room, QStringLiteral("first")), QString());
        QCOMPARE(book(*o->db, second, room), refusal);
        // Another room is free whenever.
        QCOMPARE(book(*o->db, second, {RecordKey::format(2)}), refusal == TBookingWriter::NeedsEnd ? refusal : QString());
        // A refused event is not stored at all.
        QCOMPARE(o->db->DayEntries().RecordCount(), 1 + int(refusal.isEmpty()) + int(refusal != TBookingWriter::NeedsEnd));
    }

    // Two workstations book one room for the same hour at the same moment:
    // exactly one booking stands, and the other is told whose it is.
    void twoWorkstationsAtOnce()
    {
        TQuorlaDB other(TScriptedServices::ofTest(), TDatabaseLocation(o->db->RootPath()));
        const QStringList room{RecordKey::format(1)};
        QSemaphore ready;
        QString refusals[2];
        const auto run = [&](TQuorlaDB* db, int n) {
            ready.release();
            ready.acquire(2);
            ready.release(2);
            refusals[n] = book(*db, QStringLiteral("0 09:00 60"), room, QStringLiteral("by %1").arg(n));
        };
        std::thread a(run, o->db.get(), 0), b(run, &other, 1);
        a.join();
        b.join();
        QCOMPARE(int(refusals[0].isEmpty()) + int(refusals[1].isEmpty()), 1);
        const int winner = refusals[0].isEmpty() ? 0 : 1;
        QVERIFY2(refusals[1 - winner].contains(QStringLiteral("\"by %1\" of User 1").arg(winner)),
                 qPrintable(refusals[1 - winner]));
        QCOMPARE(TBookingStore(*o->db).OfResource(room[0], at(0, 0), at(1, 0)).size(), 1);
    }

    // A change books over the entry's new time; a deletion frees the room.
    void movedAndDeleted()
    {
        const QStringList room{RecordKey::format(1)};
        QCOMPARE(book(*o->db, QStringLiteral("0 09:00 60"), room, QStringLiteral("first")), QString());
        QCOMPARE(book(*o->db, QStringLiteral("0 11:00 60"), room), QString());
        TEvent moved = planned(QStringLiteral("0 09:30 60"));
        AlarmRecord noAlarm;
        TEventWriter writer(*o->db);
        QVERIFY_THROWS_EXCEPTION(TBookingWriter::ERefused,
                                 writer.updateEntryWithAlarms(RecordKey::format(2), moved.entry, noAlarm, {}, moved.details));
        QCOMPARE(writer.deleteEntryWithAlarms(RecordKey::format(1)), TEventWriter::Result::Done);
        QCOMPARE(writer.updateEntryWithAlarms(RecordKey::format(2), moved.entry, noAlarm, {}, moved.details),
                 TEventWriter::Result::Done);
        const QList<TBookingStore::TBooking> now = TBookingStore(*o->db).OfResource(room[0], at(0, 0), at(1, 0));
        QCOMPARE(now.size(), 1);
        QCOMPARE(now[0].start, at(0, 9, 30));
    }

    // A weekly hour over four Mondays booking a room taken on the second:
    // the series books the rest and names the day left out; a single event
    // later meets an occurrence's booking; the series changed to another
    // hour books the new times.
    void seriesAgainstSingle()
    {
        const QStringList room{RecordKey::format(1)};
        QCOMPARE(book(*o->db, QStringLiteral("7 09:30 60"), room, QStringLiteral("first")), QString());
        SeriesRecord series;
        series.initialise();
        series.setOwnerKey(RecordKey::format(1));
        series.setDescription(QStringLiteral("weekly"));
        TRecurrenceRule rule;
        rule.setFrequency(TRecurrenceRule::Frequency::Weekly);
        rule.setStart(Monday);
        rule.setTime(QTime(9, 0));
        rule.setCount(4);
        rule.setWeekdays(TRecurrenceRule::weekdayBit(1));
        series.setRule(rule);
        TEntryDetails hour;
        hour.durationSeconds = 3600;
        TSeriesWriter writer(*o->db);
        const QString key = writer.Create(series, Monday, {}, hour).seriesKey;
        TRecordWriter records;
        const QStringList left = TBookingWriter(*o->db, records).BookSeries(key, room);
        QCOMPARE(left, QStringList{"Mon 11/01/2027: Room 1 is already booked by \"first\" of User 1, Mon 11/01/2027 09:30–10:30."});
        QCOMPARE(book(*o->db, QStringLiteral("14 09:59 1"), room), "Room 1 is already booked by \"weekly\" of User 1, Mon 18/01/2027 09:00–10:00.");
        rule.setTime(QTime(11, 0));
        series.setRule(rule);
        QCOMPARE(writer.Change(key, TSeriesWriter::Scope::All, Monday, series, Monday, TSeriesWriter::HeldOccurrences::Refuse).result,
                 TSeriesWriter::Result::Done);
        QCOMPARE(TBookingStore(*o->db).OfResource(room[0], at(0, 0), at(28, 0)).size(), 5);
        QCOMPARE(book(*o->db, QStringLiteral("14 09:59 1"), room), QString());
    }

    // The stored layout read back; on a server the table itself refuses an
    // overlap written past every writer, and takes one that only touches.
    void storedLayout()
    {
        TXIsamFile& bookings = *o->db->Bookings();
        QVERIFY(bookings.Insert(booking(1, 7, at(0, 9), at(0, 10)).bytes()));
        QVERIFY(bookings.Insert(booking(1, 8, at(0, 10), at(0, 11)).bytes()));
        QVERIFY(bookings.Insert(booking(2, 8, at(0, 9), at(0, 10)).bytes()));
        QCOMPARE(bookings.Insert(booking(1, 9, at(0, 9, 30), at(0, 9, 45)).bytes()), !server);
        TBookingStore store(*o->db);
        QCOMPARE(store.OfResource(RecordKey::format(1), at(0, 10), at(0, 12)).size(), 1);
        QCOMPARE(store.OfEntry(RecordKey::format(8)).size(), 2);
    }
};

QUORLA_TEST_CORE_MAIN(tst_Bookings)
#include "tst_bookings.moc"
