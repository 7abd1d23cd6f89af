#include "BusyBench.h"

#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "BenchServices.h"
#include "BookingRecord.h"
#include "DetailsBench.h"
#include "PostgresCluster.h"
#include "ResourceRecord.h"
#include "TBusyTimes.h"
#include "TDatabaseCopier.h"
#include "TFindTime.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TServerRoles.h"
#include "UserRecord.h"

#include <QDate>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace Calendar;

constexpr int Entries = 100000;
constexpr int Rooms = 3;
constexpr int People = 200;
// What a timed entry of the office takes (addBenchDetails).
constexpr qint64 BookedSeconds = 90 * 60;

bool workday(qint64 day)
{
    return QDate(1970, 1, 1).addDays(day / Day).dayOfWeek() <= 5;
}

// A booking as the writer leaves it: a room taken by a day entry.
struct TBooked
{
    int room;
    qint64 start;
};

// Three bookings of each working day, each room, at hours that move from day
// to day (three hours apart at least), over the calendar's years.
QList<TBooked> roomBookings()
{
    QList<TBooked> booked;
    for (int room = 0; room < Rooms; ++room)
        for (qint64 day = FirstDay; day < FirstDay + Days * Day; day += Day)
            for (int booking = 0; booking < 3 && workday(day); ++booking)
                booked.append({room, day + (8 + (day / Day + room + 3 * booking) % 10) * 3600});
    return booked;
}

// An office of People: the entries on the working days of the calendar's
// years, each for one to three of them; a timed one begins in working hours on
// the quarter hour, one in twenty is a whole day away, one in ten is private.
// The first of them book the rooms, each for its time (its details' hour and
// a half), as the bookings writer leaves them.
void loadOffice(const QString& folder)
{
    QList<qint64> days;
    for (qint64 day = FirstDay; day < FirstDay + Days * Day; day += Day)
        if (workday(day))
            days << day;
    const QList<TBooked> booked = roomBookings();
    QRandomGenerator rng(Entries);
    bulkLoad<DayEntryRecord>(folder + DayEntryRecord::FileName, Entries, [&](int i, DayEntryRecord& r) {
        r.initialise();
        const qint64 day = days[rng.bounded(int(days.size()))];
        const bool untimed = i >= booked.size() && rng.bounded(20) == 0;
        r.setFlags((untimed ? DayEntryRecord::UnTimed : 0) | (rng.bounded(10) == 0 ? DayEntryRecord::Private : 0));
        const qint64 start = i < booked.size() ? booked[i].start : untimed ? day : day + 8 * 3600 + 900 * rng.bounded(36);
        r.setStartTime(key(start));
        r.setOwnerKey(key(1 + rng.bounded(People)));
        r.setDescription(QStringLiteral("Meeting about the quarterly figures with the team"));
        for (int a = 0, count = 1 + rng.bounded(3); a < count; ++a)
            r.setAssignee(a, key(1 + rng.bounded(People)));
    });
    bulkLoad<AlarmRecord>(folder + AlarmRecord::FileName, 0, [](int, AlarmRecord&) {});
    addBenchDetails(folder);
    bulkLoad<ResourceRecord>(folder + ResourceRecord::FileName, Rooms, [](int i, ResourceRecord& r) {
        r.setName(QStringLiteral("Room %1").arg(i + 1));
        r.setFlags(ResourceRecord::Bookable);
    });
    bulkLoad<BookingRecord>(folder + BookingRecord::FileName, int(booked.size()), [&](int i, BookingRecord& r) {
        r.setSlot(key(1 + booked[i].room), key(booked[i].start));
        r.setEntry(key(i + 1));
        r.setEnd(key(booked[i].start + BookedSeconds));
    });
}

QStringList keys(int first, int count)
{
    QStringList out;
    for (int n = first; n < first + count; ++n)
        out << key(n);
    return out;
}

void figures(TQuorlaDB& db)
{
    UserRecord reader;
    TBusyTimes times(db, reader, key(1));
    times.SetBookingsReader(TBusyTimes::StoredBookings(db));
    const QStringList twenty = keys(1, 20);
    const QStringList ten = keys(3, 10);
    const QStringList threeRooms = keys(1, Rooms);
    int index = 0;
    // Mondays spread over the years, never the same twice running.
    const auto monday = [&] { return FirstDay + 5 * Day + 7 * Day * ((index = (index * 7 + 13) % (Days / 7 - 5))); };
    // The first read of a connection also reads every details' head once
    // (TDetailHeads): shown apart, so that the figure after it does not
    // depend on how many runs share it.
    QElapsedTimer first;
    first.start();
    times.People(twenty, FirstDay, FirstDay + 7 * Day);
    std::printf("  the first week, with the details' heads    %8.2f ms\n", first.nsecsElapsed() / 1e6);
    const double week = opsPerSecond([&] {
        const qint64 from = monday();
        times.People(twenty, from, from + 7 * Day);
        times.Resources(threeRooms, from, from + 7 * Day);
    });
    std::printf("  free/busy, 20 people and 3 rooms, a week   %8.2f ms\n", 1000 / week);
    int found = 0;
    int searches = 0;
    const double find = opsPerSecond([&] {
        const qint64 from = monday();
        ++searches;
        found += int(TFindTime::Search(times, ten, {threeRooms.first()}, TWorkingHours(), 3600, from, from + 28 * Day, 8)
                         .size());
    });
    std::printf("  Find a time, 10 people and a room, 4 weeks %8.2f ms (%.1f of 8 times found)\n", 1000 / find,
                double(found) / searches);
    std::fflush(stdout);
}

} // namespace

void runBusyBench()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    loadOffice(folder);
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    std::printf("busy: %d day entries with an end, 1 to 3 of %d people each, a tenth private; 3 bookings a day each "
                "room, read where they are stored\n",
                Entries, People);
    {
        std::printf(" folder\n");
        TQuorlaDB db{BenchServices::running(), TDatabaseLocation(folder)};
        figures(db);
    }
    PostgresCluster server;
    if (!server.error().isEmpty()) {
        std::printf(" no server: %s\n", qPrintable(server.error()));
    } else {
        const QString uri = server.createDatabase(QStringLiteral("busy"));
        check(!uri.isEmpty(), "server database");
        TDatabaseCopier{TDatabaseLocation(folder), TDatabaseLocation(uri)}.Run();
        // Setting up the roles rewrites the tables: no statement limit for it.
        qputenv("PGOPTIONS", "-c statement_timeout=0");
        TQuorlaDB db{BenchServices::running(), TDatabaseLocation(uri)};
        // As an office's server keeps them: its users as roles, whose
        // sessions read no private entry of others.
        TServerRoles(db).Install({});
        server.query(QStringLiteral("busy"), "VACUUM ANALYZE");
        std::printf(" server (a private PostgreSQL cluster on a UNIX socket, users kept as roles, asked as the tables' owner)\n");
        figures(db);
    }
    BenchServices::install(previous);
}
