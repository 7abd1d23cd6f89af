#include "BusyBench.h"

#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "BenchServices.h"
#include "DetailsBench.h"
#include "PostgresCluster.h"
#include "TBusyTimes.h"
#include "TDatabaseCopier.h"
#include "TFindTime.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "UserRecord.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace Calendar;

constexpr int Entries = 100000;
constexpr int Rooms = 3;

// Ten bookings of an hour a day, each room, over the calendar's years, in
// start order: what the bookings store answers, without its reads.
class TStandInRooms
{
public:
    TStandInRooms()
    {
        for (int room = 0; room < Rooms; ++room)
            for (qint64 day = FirstDay; day < FirstDay + Days * Day; day += Day)
                for (int hour = 8; hour < 18; ++hour)
                    booked_[room].push_back({day + hour * 3600, day + hour * 3600 + 3600, key(day + hour)});
    }
    QList<TBusyInterval> Read(const QString& room, qint64 from, qint64 to) const
    {
        const std::vector<TBusyInterval>& all = booked_[std::clamp(room.toInt() - 1, 0, Rooms - 1)];
        auto at = std::lower_bound(all.begin(), all.end(), from,
                                   [](const TBusyInterval& one, qint64 moment) { return one.end <= moment; });
        QList<TBusyInterval> found;
        for (; at != all.end() && at->start < to; ++at)
            found.append(*at);
        return found;
    }

private:
    std::vector<TBusyInterval> booked_[Rooms];
};

QStringList keys(int first, int count)
{
    QStringList out;
    for (int n = first; n < first + count; ++n)
        out << key(n);
    return out;
}

void figures(TQuorlaDB& db, const TStandInRooms& rooms)
{
    UserRecord reader;
    TBusyTimes times(db, reader, key(1));
    times.SetBookingsReader([&rooms](const QString& room, qint64 from, qint64 to) { return rooms.Read(room, from, to); });
    const QStringList twenty = keys(1, 20);
    const QStringList ten = keys(3, 10);
    const QStringList threeRooms = keys(1, Rooms);
    int index = 0;
    // Mondays spread over the years, never the same twice running.
    const auto monday = [&] { return FirstDay + 5 * Day + 7 * Day * ((index = (index * 7 + 13) % (Days / 7 - 5))); };
    const double week = opsPerSecond([&] {
        const qint64 from = monday();
        times.People(twenty, from, from + 7 * Day);
        times.Resources(threeRooms, from, from + 7 * Day);
    });
    std::printf("  free/busy, 20 people and 3 rooms, a week   %8.2f ms\n", 1000 / week);
    int found = 0;
    const double find = opsPerSecond([&] {
        const qint64 from = monday();
        found += int(TFindTime::Search(times, ten, {threeRooms.first()}, TWorkingHours(), 3600, from, from + 28 * Day, 8)
                         .size());
    });
    std::printf("  Find a time, 10 people and a room, 4 weeks %8.2f ms (%d times found)\n", 1000 / find, found);
    std::fflush(stdout);
}

} // namespace

void runBusyBench()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    loadCalendarWithDetails(folder, Entries);
    const TStandInRooms rooms;
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    std::printf("busy: %d day entries with an end, 5 of %d users each; rooms stand in\n", Entries, Users);
    {
        std::printf(" folder\n");
        TQuorlaDB db{BenchServices::running(), TDatabaseLocation(folder)};
        figures(db, rooms);
    }
    PostgresCluster server;
    if (!server.error().isEmpty()) {
        std::printf(" no server: %s\n", qPrintable(server.error()));
    } else {
        const QString uri = server.createDatabase(QStringLiteral("busy"));
        check(!uri.isEmpty(), "server database");
        TDatabaseCopier{TDatabaseLocation(folder), TDatabaseLocation(uri)}.Run();
        server.query(QStringLiteral("busy"), "VACUUM ANALYZE");
        std::printf(" server (a private PostgreSQL cluster on a UNIX socket)\n");
        TQuorlaDB db{BenchServices::running(), TDatabaseLocation(uri)};
        figures(db, rooms);
    }
    BenchServices::install(previous);
}
