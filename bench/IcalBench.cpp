#include "IcalBench.h"

#include "BenchServices.h"
#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "DayEntryRecord.h"
#include "ImportRecord.h"
#include "TIsamEngine.h"
#include "PostgresCluster.h"
#include "RecordKey.h"
#include "TCalendarExport.h"
#include "TCalendarImport.h"
#include "TDatabaseCopier.h"
#include "TDatabaseLocation.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TrailRecord.h"
#include "UserRecord.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <libical/ical.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int FeedEvents = 10000;
constexpr int YearEntries = 100000;
constexpr int Rounds = 3;
const QByteArray Zone = "Europe/Berlin";

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A feed as a web calendar serves it: Berlin's zone with its rules, events
// through 2027 at times in that zone, a fifth all day, a tenth with a longer
// description, a quarter with an alarm, some with a category.
QByteArray feed(int events)
{
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Web//Feed//EN\r\n"
                      "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n"
                      "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nTZNAME:CEST\r\n"
                      "DTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\n"
                      "BEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\n"
                      "DTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\n"
                      "END:VTIMEZONE\r\n";
    QRandomGenerator rng(events);
    const QDate first(2027, 1, 1);
    for (int i = 0; i < events; ++i) {
        const QDate day = first.addDays(rng.bounded(365));
        text += "BEGIN:VEVENT\r\nUID:event-" + QByteArray::number(i) + "@feed.example\r\nDTSTAMP:20261201T120000Z\r\n";
        if (rng.bounded(5) == 0) {
            text += "DTSTART;VALUE=DATE:" + day.toString(QStringLiteral("yyyyMMdd")).toLatin1() + "\r\n";
        } else {
            const QTime at(7 + rng.bounded(12), 15 * rng.bounded(4));
            text += "DTSTART;TZID=Europe/Berlin:" + day.toString(QStringLiteral("yyyyMMdd")).toLatin1() + "T"
                + at.toString(QStringLiteral("hhmmss")).toLatin1() + "\r\nDURATION:PT1H\r\n";
        }
        text += "SUMMARY:Meeting " + QByteArray::number(i) + " about the quarterly figures\r\n";
        if (rng.bounded(10) == 0)
            text += "DESCRIPTION:Meeting " + QByteArray::number(i)
                + " about the quarterly figures\\nRoom 3.14\\, second floor\r\n";
        if (rng.bounded(8) == 0)
            text += "CATEGORIES:Sales\r\n";
        if (rng.bounded(4) == 0)
            text += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n";
        text += "END:VEVENT\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

// Where the benchmark's databases are made: a new folder, or a new
// database on the server.
struct TPlace
{
    PostgresCluster* server = nullptr;
    std::vector<std::unique_ptr<QTemporaryDir>> folders;
    int serial = 0;

    QString fresh(const char* name)
    {
        if (server) {
            const QString uri = server->createDatabase(QStringLiteral("%1%2").arg(QLatin1String(name)).arg(++serial));
            check(!uri.isEmpty(), "server database");
            return uri;
        }
        folders.push_back(std::make_unique<QTemporaryDir>());
        check(folders.back()->isValid(), "folder");
        return folders.back()->path() + QLatin1Char('/');
    }
};

// A new database holding its administrator, user 1.
std::unique_ptr<TQuorlaDB> office(const QString& location, UserRecord& user)
{
    auto db = std::make_unique<TQuorlaDB>(BenchServices::running(), TDatabaseLocation(location));
    user.setUserName(QStringLiteral("ann"));
    user.setFullName(QStringLiteral("Ann Example"));
    user.setRights(UserRecord::CanAdminister | UserRecord::CanAddEntries);
    check(db->Users().Insert(user.bytes()), "user");
    return db;
}

// Every record of a dataset, as the adds of a batch.
template <typename Record>
QList<TXIsamFile::TBatchWrite> recordsOf(TXIsamFile& dataset)
{
    QList<TXIsamFile::TBatchWrite> writes;
    Record record;
    check(dataset.Rewind(0), "rewind");
    while (dataset.Get(record.bytes(), 0, QString(), TXIsamFile::ScanNext))
        writes << TXIsamFile::TBatchWrite{TXIsamFile::TBatchWrite::Add, dataset.CurrentKey(),
                                          QByteArray(record.bytes().data(), qsizetype(record.bytes().size()))};
    return writes;
}

// The datasets of a baseline's writes, made and opened beside nothing else.
struct TRawDatasets
{
    std::shared_ptr<TIsamConnection> connection;
    TXIsamFile entries, alarms, map, trail;

    explicit TRawDatasets(const QString& location)
    {
        const TDatabaseLocation where(location);
        if (where.IsServer())
            connection = TIsamEngine::forName(location).connect(location);
        const auto make = [&](TXIsamFile& f, QLatin1StringView name, QLatin1StringView format) {
            f.ShareConnection(connection);
            check(f.CreateDataset(where.DatasetName(name), 10, format) && f.Open(where.DatasetName(name)),
                  "baseline dataset");
        };
        make(entries, DayEntryRecord::FileName, DayEntryRecord::Format);
        make(alarms, AlarmRecord::FileName, AlarmRecord::Format);
        make(map, ImportRecord::FileName, ImportRecord::Format);
        make(trail, TrailRecord::FileName, TrailRecord::Format);
    }
};

void importSideBySide(TPlace& place)
{
    const QByteArray text = feed(FeedEvents);
    std::vector<double> ours, raw, parse;
    int added = 0;
    qsizetype records = 0;
    for (int round = 0; round < Rounds; ++round) {
        UserRecord user;
        const QString location = place.fresh("import");
        auto db = office(location, user);
        TCalendarImport import(*db, RecordKey::format(1), user);
        import.Zone = Zone;
        import.Today = QDate(2027, 1, 1);
        QElapsedTimer timer;
        timer.start();
        added = import.Import(text, QStringLiteral("feed.ics")).added;
        ours.push_back(double(timer.nsecsElapsed()) / 1e6);

        // libical's parse of the same text, and the records the import made
        // written as they are in one synced batch per dataset.
        QList<TXIsamFile::TBatchWrite> entryWrites = recordsOf<DayEntryRecord>(db->DayEntries());
        QList<TXIsamFile::TBatchWrite> alarmWrites = recordsOf<AlarmRecord>(db->Alarms());
        QString reason;
        QList<TXIsamFile::TBatchWrite> mapWrites = recordsOf<ImportRecord>(*db->ImportMap(reason));
        const TDatabaseLocation where(location);
        QList<TXIsamFile::TBatchWrite> trailWrites;
        {
            TXIsamFile trail;
            if (where.IsServer())
                trail.ShareConnection(db->Connection());
            check(trail.Open(where.DatasetName(TrailRecord::FileName)), "trail");
            trailWrites = recordsOf<TrailRecord>(trail);
        }
        records = entryWrites.size() + alarmWrites.size() + mapWrites.size() + trailWrites.size();
        db.reset();
        TRawDatasets target(place.fresh("raw"));
        timer.restart();
        icalcomponent* parsed = icalparser_parse_string(text.constData());
        check(parsed && icalcomponent_count_components(parsed, ICAL_VEVENT_COMPONENT) == FeedEvents, "libical parse");
        icalcomponent_free(parsed);
        parse.push_back(double(timer.nsecsElapsed()) / 1e6);
        check(target.entries.WriteBatch(entryWrites) && target.alarms.WriteBatch(alarmWrites)
                  && target.map.WriteBatch(mapWrites) && target.trail.WriteBatch(trailWrites),
              "baseline writes");
        raw.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("  import of a %d-event feed (%d added, %lld records)   ours %8.1f ms   libical parse %7.1f ms + "
                "batch writes %7.1f ms = %8.1f ms   ours/raw time %5.2f (goal 3)\n",
                FeedEvents, added, static_cast<long long>(records), median(ours), median(parse),
                median(raw) - median(parse), median(raw), median(ours) / median(raw));
    std::fflush(stdout);
}

// 100,000 entries through 2027: a fifth all day, five
// assignees among 30 users; user 1 has an alarm on a fifth of them.
void loadYear(const QString& folder)
{
    QRandomGenerator rng(YearEntries);
    const qint64 first = QDateTime(QDate(2027, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    constexpr qint64 Day = 86400;
    bulkLoad<DayEntryRecord>(folder + DayEntryRecord::FileName, YearEntries, [&](int, DayEntryRecord& r) {
        r.initialise();
        const qint64 day = first + Day * rng.bounded(365);
        const bool untimed = rng.bounded(5) == 0;
        r.setFlags(untimed ? DayEntryRecord::UnTimed : 0);
        r.setStartTime(key(untimed ? day : day + 60 * (7 * 60 + 15 * rng.bounded(48))));
        r.setOwnerKey(key(1 + rng.bounded(30)));
        r.setDescription(QStringLiteral("Meeting about the quarterly figures, with the team"));
        for (int a = 0; a < 5; ++a)
            r.setAssignee(a, key(1 + rng.bounded(30)));
    });
    bulkLoad<AlarmRecord>(folder + AlarmRecord::FileName, YearEntries / 5, [&](int i, AlarmRecord& r) {
        r.setFlags(AlarmRecord::AlarmWanted);
        r.setAlarmTime(key(first + Day * (i % 365)));
        r.setDayEntryKey(key(1 + 5 * i));
        r.setUserKey(key(1));
        r.rebuildUserAlarmKey();
    });
    bulkLoad<UserRecord>(folder + UserRecord::FileName, 30, [](int i, UserRecord& r) {
        r.setUserName(QStringLiteral("user%1").arg(i + 1));
        r.setFullName(QStringLiteral("User \"number\" %1").arg(i + 1));
        r.setRights(UserRecord::CanAddEntries);
    });
}

void exportSideBySide(const QString& location)
{
    TQuorlaDB db{BenchServices::running(), TDatabaseLocation(location)};
    TCalendarExport calendar;
    calendar.StartDate = QDate(2027, 1, 1);
    calendar.EndDate = QDate(2027, 12, 31);
    calendar.Zone = Zone;
    calendar.CurrentUserKey = key(1);
    int events = 0;
    QByteArray text;
    // As quorla_export runs it: the trail read anew for each export.
    const auto ours = [&] {
        calendar.Changes = TCalendarExport::FromTrail(db.Trail());
        text = calendar.Build(db, &events);
    };
    ours();
    icalcomponent* tree = icalparser_parse_string(text.constData());
    check(tree && icalcomponent_count_components(tree, ICAL_VEVENT_COMPONENT) == events, "libical parse of the export");
    const auto raw = [&] {
        char* written = icalcomponent_as_ical_string_r(tree);
        icalmemory_free_buffer(written);
    };
    const Alternated a = alternate(ours, raw, 1, Rounds, 0);
    std::printf("  export of 2027 (%d events, %lld bytes)   ours %8.1f ms   libical serialise %8.1f ms   "
                "ours/raw time min %5.2f median %5.2f (goal 2)\n",
                events, static_cast<long long>(text.size()), 1000 / a.first, 1000 / a.second, a.minRatio,
                a.medianRatio);
    std::fflush(stdout);
    icalcomponent_free(tree);
}

void runBoth()
{
    std::printf("iCalendar: import of a feed beside libical's parse and the same records' synced batch writes; "
                "export of a year beside libical's serialise of the same calendar\n");
    QTemporaryDir year;
    check(year.isValid(), "folder");
    const QString folder = year.path() + QLatin1Char('/');
    loadYear(folder);
    {
        std::printf(" folder\n");
        TPlace place;
        importSideBySide(place);
        exportSideBySide(folder);
    }
    PostgresCluster server({QStringLiteral("fsync=on")});
    if (!server.error().isEmpty()) {
        std::printf(" no server: %s\n", qPrintable(server.error()));
        return;
    }
    std::printf(" server (a private PostgreSQL cluster on a UNIX socket, fsync on)\n");
    TPlace place{&server, {}, 0};
    importSideBySide(place);
    const QString uri = server.createDatabase(QStringLiteral("year"));
    check(!uri.isEmpty(), "server database");
    // Throws, with the reason, when the copy fails.
    TDatabaseCopier{TDatabaseLocation(folder), TDatabaseLocation(uri)}.Run();
    exportSideBySide(uri);
}

} // namespace

void runIcalBench()
{
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    runBoth();
    BenchServices::install(previous);
}
