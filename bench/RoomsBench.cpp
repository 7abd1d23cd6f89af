#include "RoomsBench.h"

#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "BenchServices.h"
#include "BookingRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "PostgresCluster.h"
#include "RecordKey.h"
#include "ResourceRecord.h"
#include "TBookingWriter.h"
#include "TDatabaseCopier.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

namespace {

using namespace Calendar;

constexpr int Entries = 100000;
constexpr int Rooms = 3;
// Bookings of the calendar's entries: every room taken 09:00 to 17:00 on
// the days they cover, hour by hour.
constexpr int Booked = 60000;

void makeFolder(const QString& folder)
{
    loadCalendar(folder + DayEntryRecord::FileName, folder + AlarmRecord::FileName, Entries);
    TXIsamFile maker;
    check(maker.CreateDataset(folder + UserRecord::FileName, 10, UserRecord::Format)
              && maker.CreateDataset(folder + CategoryRecord::FileName, 10, CategoryRecord::Format),
          "create");
    bulkLoad<ResourceRecord>(folder + ResourceRecord::FileName, Rooms, [](int i, ResourceRecord& r) {
        r.setName(QStringLiteral("Room %1").arg(i + 1));
        r.setFlags(ResourceRecord::Bookable);
    });
    bulkLoad<BookingRecord>(folder + BookingRecord::FileName, Booked, [](int i, BookingRecord& r) {
        const int slot = i / Rooms;
        const qint64 start = FirstDay + Day * (slot / 8) + 3600 * (9 + slot % 8);
        r.setSlot(key(1 + i % Rooms), key(start));
        r.setEntry(key(1 + i));
        r.setEnd(key(start + 3600));
    });
}

// One booking of `room` by a new entry, in an evening no one has booked:
// the check and the write, synced.
struct TBooker
{
    TQuorlaDB& db;
    QString room;
    int serial = 0;

    void operator()()
    {
        const int n = serial++;
        const qint64 start = FirstDay + Day * (n % Days) + 3600 * 19 + 60 * (n / Days);
        TRecordWriter records;
        TBookingWriter writer(db, records);
        const QString entry = key(900000 + 10000 * RecordKey::parse(room) + n);
        TBookingWriter::TClaim claim = writer.Claim(entry, {room}, {key(start), key(start + 60)});
        writer.Write(claim, entry);
    }
};

void printOne(const char* where, TQuorlaDB& db)
{
    TBooker booker{db, key(1)};
    const double rate = opsPerSecond(std::ref(booker), 1000);
    std::printf("  a booking, check and write, synced (%s): %8.3f ms\n", where, 1000 / rate);
    std::fflush(stdout);
}

// Each of two workstations books its own room `count` times, alone and then
// both at once: the time of one booking each way.
void printTwo(const char* where, const TDatabaseLocation& location)
{
    constexpr int Count = 200;
    TQuorlaDB first(BenchServices::running(), location);
    TQuorlaDB second(BenchServices::running(), location);
    TBooker a{first, key(2), 0};
    TBooker b{second, key(3), 0};
    const auto timed = [](const std::function<void()>& run) {
        QElapsedTimer t;
        t.start();
        run();
        return double(t.nsecsElapsed()) / 1e6 / Count;
    };
    const double alone = timed([&] {
        for (int i = 0; i < Count; ++i)
            a();
    });
    double together = 0;
    std::thread other([&] {
        for (int i = 0; i < Count; ++i)
            b();
    });
    together = timed([&] {
        for (int i = 0; i < Count; ++i)
            a();
    });
    other.join();
    std::printf("  two workstations, rooms of their own (%s): alone %8.3f ms, both at once %8.3f ms a booking\n", where,
                alone, together);
    std::fflush(stdout);
}

// A workstation books room 2 while another holds room 3's lock for the whole
// run, as a booking under way holds it: the first never waits for that lock,
// so its bookings take as long as with no one else there.
void printHeld(const char* where, const TDatabaseLocation& location)
{
    TQuorlaDB holder(BenchServices::running(), location);
    TQuorlaDB booking(BenchServices::running(), location);
    TBooker free{booking, key(2), 1000};
    const double alone = 1000 / opsPerSecond(std::ref(free), 400);
    TRecordWriter records;
    TBookingWriter writer(holder, records);
    const qint64 start = FirstDay + Day * 3 + 3600 * 22;
    const TBookingWriter::TClaim held = writer.Claim(key(990000), {key(3)}, {key(start), key(start + 60)});
    const double beside = 1000 / opsPerSecond(std::ref(free), 400);
    std::printf("  a booking of room 2 (%s): alone %8.3f ms, while room 3's lock is held elsewhere %8.3f ms\n", where,
                alone, beside);
    std::fflush(stdout);
}

} // namespace

void runRoomsBench()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    makeFolder(folder);
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    std::printf("%d day entries, %d rooms, %d bookings\n", Entries, Rooms, Booked);
    {
        TQuorlaDB db{BenchServices::running(), TDatabaseLocation(folder)};
        printOne("folder", db);
    }
    printTwo("folder", TDatabaseLocation(folder));
    printHeld("folder", TDatabaseLocation(folder));
    PostgresCluster server;
    check(server.error().isEmpty(), "server");
    const QString uri = server.createDatabase(QStringLiteral("rooms"));
    TDatabaseCopier{TDatabaseLocation(folder), TDatabaseLocation(uri)}.Run();
    {
        TQuorlaDB db{BenchServices::running(), TDatabaseLocation(uri)};
        printOne("server", db);
    }
    printTwo("server", TDatabaseLocation(uri));
    printHeld("server", TDatabaseLocation(uri));
    BenchServices::install(previous);
}
