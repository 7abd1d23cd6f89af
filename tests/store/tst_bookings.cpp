// Resources and their bookings: a booking never overlaps another booking of
// its resource, whichever workstation books it and however.
// Runs on a folder, and once more (QUORLA_TEST_ENGINE=postgres) on a server.

#include "BookingRecord.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "ResourceRecord.h"
#include "TBookingStore.h"
#include "TQuorlaDB.h"
#include "TResourceStore.h"
#include "TestDatabase.h"

#include <memory>

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

} // namespace

class tst_Bookings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDatabase::Office> o;

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }
    void init() { o = std::make_unique<TestDatabase::Office>(QStringLiteral("rooms"), server.get(), 2); }
    void cleanup() { o.reset(); }

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
