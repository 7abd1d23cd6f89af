#include "SeriesBench.h"

#include "BenchServices.h"
#include "AlarmRecord.h"
#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "DayEntryRecord.h"
#include "PostgresCluster.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TAlarmPoller.h"
#include "TDatabaseCopier.h"
#include "TDatabaseLocation.h"
#include "TEventWriter.h"
#include "TEntryQuery.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"
#include "TSeriesWriter.h"
#include "TStamp.h"
#include "TfrmNotify.h"
#include "UserRecord.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr qint64 Day = 86400;
// The office around the series: a year of entries from today among 20 users,
// with alarms all ahead (a poll finds nothing due).
constexpr int Entries = 10000;
constexpr int Alarms = 20000;
constexpr int Users = 20;
// Each write is timed this many times (the series deleted between rounds,
// kept after the last), and the median shown.
constexpr int WriteRounds = 3;

// The Qt services with every message printed and answered at once: a
// benchmark waits for nobody.
class PrintedServices : public TQtServices
{
public:
    MessageAnswer message(MessageKind, MessageButtons, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return MessageAnswer::Ok;
    }
};

using Scope = TSeriesWriter::Scope;
using Held = TSeriesWriter::HeldOccurrences;

QString dayKey(const QDate& day)
{
    TStamp stamp;
    stamp.SetDateTime(QDateTime(day, QTime(0, 0)));
    return stamp.DayKey();
}

qint64 daySeconds(const QDate& day)
{
    TStamp stamp;
    stamp.SetDateTime(QDateTime(day, QTime(0, 0)));
    return stamp.Seconds();
}

// The same office in every database: entries and alarms loaded in one
// transaction each, then the datasets the program makes and 20 users.
void makeOffice(const QString& folder, const QDate& today)
{
    QRandomGenerator rng(Entries);
    const qint64 first = daySeconds(today);
    bulkLoad<DayEntryRecord>(folder + DayEntryRecord::FileName, Entries, [&](int, DayEntryRecord& r) {
        r.initialise();
        const qint64 day = first + Day * (1 + rng.bounded(365));
        const bool untimed = rng.bounded(5) == 0;
        r.setFlags(untimed ? DayEntryRecord::UnTimed : 0);
        r.setStartTime(key(untimed ? day : day + 60 * rng.bounded(24 * 60)));
        r.setOwnerKey(key(1 + rng.bounded(Users)));
        r.setDescription(QStringLiteral("Meeting about the quarterly figures with the team"));
        for (int a = 0; a < 5; ++a)
            r.setAssignee(a, key(1 + rng.bounded(Users)));
    });
    bulkLoad<AlarmRecord>(folder + AlarmRecord::FileName, Alarms, [&](int i, AlarmRecord& r) {
        r.setFlags(AlarmRecord::AlarmWanted);
        r.setAlarmTime(key(first + Day + rng.bounded(int(364 * Day))));
        r.setDayEntryKey(key(1 + i % Entries));
        r.setUserKey(key(1 + rng.bounded(Users)));
        r.rebuildUserAlarmKey();
    });
    TQuorlaDB db{BenchServices::running(), TDatabaseLocation(folder)};
    for (int i = 1; i <= Users; ++i) {
        UserRecord u;
        u.setFullName(QStringLiteral("User %1").arg(i));
        check(db.Users().Insert(u.bytes()), "user");
    }
}

// A series from tomorrow at `time` (weekly on tomorrow's weekday, or daily),
// endless, for the first `assignees` users, alarm 15 minutes before: the
// horizon makes a year of it.
SeriesRecord meeting(const QDate& today, int assignees, bool daily, const QTime& time)
{
    SeriesRecord s;
    s.initialise();
    s.setOwnerKey(key(1));
    s.setDescription(daily ? QStringLiteral("Morning round") : QStringLiteral("Team meeting"));
    QStringList users;
    for (int i = 1; i <= assignees; ++i)
        users << key(i);
    s.setAssigneeKeys(users);
    s.setFlags(SeriesRecord::AlarmWanted);
    s.setAlarmOffset(15 * 60);
    TRecurrenceRule rule;
    rule.setFrequency(daily ? TRecurrenceRule::Frequency::Daily : TRecurrenceRule::Frequency::Weekly);
    rule.setStart(today.addDays(1));
    rule.setTime(time);
    s.setRule(rule);
    return s;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double msSince(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

// One engine's pair of databases: the office with the series, and the same
// office without.
struct Engine
{
    const char* name;
    std::unique_ptr<TQuorlaDB> withSeries;
    std::unique_ptr<TQuorlaDB> plain;
};

struct WriteFigures
{
    int occurrences = 0;
    int alarms = 0;
    int changed = 0;
    double createMs = 0;
    double changeMs = 0;
    double deleteMs = 0;
    QString seriesKey;
};

// Creates, changes the time of all occurrences of, and deletes one series,
// WriteRounds times; the last round's series stays.
WriteFigures writeSeries(TQuorlaDB& db, const QDate& today, int assignees, bool daily)
{
    WriteFigures figures;
    std::vector<double> create, change, remove;
    TSeriesWriter writer(db);
    for (int round = 0; round < WriteRounds; ++round) {
        SeriesRecord s = meeting(today, assignees, daily, QTime(9, 0));
        QElapsedTimer timer;
        timer.start();
        const auto made = writer.Create(s, today);
        create.push_back(msSince(timer));
        check(made.result == TSeriesWriter::Result::Done, "create a series");
        figures.occurrences = made.touched;
        figures.alarms = made.touched * assignees;
        figures.seriesKey = made.seriesKey;

        const SeriesRecord later = meeting(today, assignees, daily, QTime(10, 30));
        timer.start();
        const auto changed = writer.Change(made.seriesKey, Scope::All, today.addDays(1), later, today, Held::Refuse);
        change.push_back(msSince(timer));
        check(changed.result == TSeriesWriter::Result::Done, "change a series");
        figures.changed = changed.touched;

        if (round + 1 < WriteRounds) {
            timer.start();
            const auto deleted = writer.Delete(made.seriesKey, Scope::All, today.addDays(1), Held::Refuse);
            remove.push_back(msSince(timer));
            check(deleted.result == TSeriesWriter::Result::Done, "delete a series");
        }
    }
    figures.createMs = median(create);
    figures.changeMs = median(change);
    figures.deleteMs = median(remove);
    return figures;
}

void printWrites(const char* what, const WriteFigures& folder, const WriteFigures& server)
{
    std::printf("  %s: %d occurrences, %d alarms\n", what, folder.occurrences, folder.alarms);
    std::printf("    %-32s folder %9.1f ms   server %9.1f ms\n", "create", folder.createMs, server.createMs);
    std::printf("    %-32s folder %9.1f ms   server %9.1f ms   (%d occurrences rewritten)\n",
                "change the time of all", folder.changeMs, server.changeMs, folder.changed);
    std::printf("    %-32s folder %9.1f ms   server %9.1f ms\n", "delete all", folder.deleteMs, server.deleteMs);
    std::fflush(stdout);
}

// The baseline of a series' creation: the same occurrences typed as single
// events (TEventWriter, one synced transaction per record), into a database
// of their own.
double typedMs(TQuorlaDB& db, const QDate& today, int assignees, int count, int stepDays)
{
    QStringList users;
    for (int i = 1; i <= assignees; ++i)
        users << key(i);
    TEventWriter writer(db);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        TStamp start;
        start.SetDateTime(QDateTime(today.addDays(1 + i * stepDays), QTime(9, 0)));
        DayEntryRecord entry;
        db.InitDayEntryRecord(entry);
        entry.setOwnerKey(key(1));
        entry.setDescription(QStringLiteral("Team meeting"));
        entry.setAssigneeKeys(users);
        entry.setStartTime(start.Key());
        AlarmRecord alarm;
        db.InitAlarmRecord(alarm);
        alarm.setFlags(AlarmRecord::AlarmWanted);
        alarm.setAlarmTime(key(start.Seconds() - 15 * 60));
        writer.insertEntryWithAlarms(entry, alarm);
    }
    return msSince(timer);
}

// The repeat glyphs' marks as the views keep them: the occurrences' keys,
// read again only when the links' change mark moved.
struct RepeatMarks
{
    QByteArray mark;
    QSet<QString> keys;
    bool read = false;
};

// The views' read of `days` days from `first`: the entries of each day, and
// with `glyphs` then the repeat glyphs' marks (one look at the links' change
// mark per refresh).
int readDays(TQuorlaDB& db, const QDate& first, int days, RepeatMarks* glyphs)
{
    QList<QString> shown;
    for (int d = 0; d < days; ++d)
        TEntryQuery::ReadDay(db.DayEntries(), dayKey(first.addDays(d)),
                             [&](const DayEntryRecord&, const QString& pk) { shown << pk; });
    int n = int(shown.size());
    if (glyphs != nullptr) {
        QByteArray mark;
        check(db.SeriesLinks()->ChangeMark(mark), "change mark");
        if (!glyphs->read || mark != glyphs->mark) {
            glyphs->keys = TSeriesWriter(db).OccurrenceKeys();
            glyphs->mark = mark;
            glyphs->read = true;
        }
        for (const QString& pk : shown)
            n += glyphs->keys.contains(pk) ? 1 : 0;
    }
    return n;
}

void reads(Engine& engine, const QDate& today)
{
    int dayIndex = 0;
    const auto nextDay = [&] {
        dayIndex = (dayIndex * 7 + 13) % 358;
        return today.addDays(1 + dayIndex);
    };
    std::printf("  %s: reads with the series (ours) against the same office without (raw)\n", engine.name);
    RepeatMarks ours, raw;
    const auto pair = [&](const char* what, int days, bool glyphs) {
        printAlternated(what, [&] { readDays(*engine.withSeries, nextDay(), days, glyphs ? &ours : nullptr); },
                        [&] { readDays(*engine.plain, nextDay(), days, glyphs ? &raw : nullptr); });
    };
    pair("one day, entries only", 1, false);
    pair("one day, with repeat glyphs", 1, true);
    pair("one week, entries only", 7, false);
    pair("one week, with repeat glyphs", 7, true);
    TfrmNotify notify(BenchServices::running());
    TAlarmPoller poller([&notify](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
        return notify.Execute(alarm, key, database);
    });
    int user = 0;
    printAlternated("alarm poll, nothing due", [&] { poller.Poll(*engine.withSeries, key(1 + (user++ % Users))); },
                    [&] { poller.Poll(*engine.plain, key(1 + (user++ % Users))); });
    // How many links the glyphs' marks hold (read once, then only when the
    // links change).
    SeriesLinkRecord link;
    int total = 0;
    engine.withSeries->SeriesLinks()->Range(link.bytes(), SeriesLinkRecord::EntryKeyIndex, RecordKey::None.toString(),
                                            QStringLiteral("9999999999"), [&] {
                                                ++total;
                                                return true;
                                            });
    std::printf("  %-34s %d\n", "links in the dataset", total);
    std::fflush(stdout);
}

// Three polls on each following day (each engine paces a due series' share
// over six polls, one write a poll): every series made up to its new horizon
// (a due series is made a week ahead, so most polls find nothing due).
void extend(Engine& engine, const QDate& today)
{
    TSeriesWriter writer(*engine.withSeries);
    std::vector<double> times;
    int made = 0;
    for (int poll = 3; poll < 3 * 29; ++poll) {
        QElapsedTimer timer;
        timer.start();
        made += writer.Extend(today.addDays(poll / 3));
        times.push_back(msSince(timer));
    }
    double sum = 0;
    for (const double t : times)
        sum += t;
    std::printf("  %-34s %s: median %7.2f ms, mean %7.2f ms, slowest %7.2f ms (%d occurrence steps over 28 days)\n",
                "a poll, three a day,", engine.name, median(times), sum / double(times.size()),
                *std::max_element(times.begin(), times.end()), made);
    std::fflush(stdout);
}

// The series writes on both engines, and the same occurrences typed as
// single events into the empty databases `typedFolder` and `typedUri`.
void writes(Engine& folder, Engine& postgres, const QString& typedFolder, const QString& typedUri,
            const QDate& today)
{
    std::printf("Series writes (median of %d; goal: each under 1 s on the folder)\n", WriteRounds);
    const WriteFigures weeklyFolder = writeSeries(*folder.withSeries, today, 20, false);
    const WriteFigures weeklyServer = writeSeries(*postgres.withSeries, today, 20, false);
    printWrites("weekly, 20 assignees", weeklyFolder, weeklyServer);
    {
        TQuorlaDB folderDb{BenchServices::running(), TDatabaseLocation(typedFolder)};
        TQuorlaDB serverDb{BenchServices::running(), TDatabaseLocation(typedUri)};
        const double onFolder = typedMs(folderDb, today, 20, weeklyFolder.occurrences, 7);
        const double onServer = typedMs(serverDb, today, 20, weeklyFolder.occurrences, 7);
        std::printf("    %-32s folder %9.1f ms   server %9.1f ms   (series create / typed: folder %5.3f, server %5.3f)\n",
                    "typed as single events (raw)", onFolder, onServer, weeklyFolder.createMs / onFolder,
                    weeklyServer.createMs / onServer);
        std::fflush(stdout);
    }
    const WriteFigures dailyFolder = writeSeries(*folder.withSeries, today, 5, true);
    const WriteFigures dailyServer = writeSeries(*postgres.withSeries, today, 5, true);
    printWrites("daily, 5 assignees", dailyFolder, dailyServer);
}

// What one synced transaction costs on each: the extension's unit.
void syncedInsert(const QString& typedFolder, const QString& typedUri, const QDate& today)
{
    TQuorlaDB folderDb{BenchServices::running(), TDatabaseLocation(typedFolder)};
    TQuorlaDB serverDb{BenchServices::running(), TDatabaseLocation(typedUri)};
    DayEntryRecord entry;
    entry.initialise();
    entry.setStartTime(key(daySeconds(today)));
    const auto insertMs = [&](TQuorlaDB& db) {
        std::vector<double> times;
        for (int i = 0; i < 15; ++i) {
            QElapsedTimer timer;
            timer.start();
            check(db.DayEntries().Insert(entry.bytes()), "insert");
            times.push_back(msSince(timer));
        }
        return median(times);
    };
    const double onFolder = insertMs(folderDb);
    const double onServer = insertMs(serverDb);
    std::printf("  %-34s folder: median %7.2f ms; server: median %7.2f ms\n", "one synced insert (raw)", onFolder,
                onServer);
    std::fflush(stdout);
}

void measure()
{
    std::printf("Repeating events on a folder (synced writes) and on a private PostgreSQL server (fsync on), "
                "among %d entries and %d alarms of a year\n",
                Entries, Alarms);
    PostgresCluster server({QStringLiteral("fsync=on")});
    if (!server.error().isEmpty()) {
        std::printf("  no server: %s\n", qPrintable(server.error()));
        return;
    }
    const QDate today = QDate::currentDate();
    QTemporaryDir dir;
    check(dir.isValid(), "folder");
    const QString seriesFolder = dir.filePath(QStringLiteral("series/"));
    const QString plainFolder = dir.filePath(QStringLiteral("plain/"));
    check(QDir().mkpath(seriesFolder) && QDir().mkpath(plainFolder), "folders");
    makeOffice(seriesFolder, today);
    makeOffice(plainFolder, today);
    QStringList uris;
    for (const QString& name : {QStringLiteral("series"), QStringLiteral("plain")}) {
        const QString uri = server.createDatabase(name);
        check(!uri.isEmpty(), "server database");
        // Throws, with the reason, when the copy fails.
        TDatabaseCopier{TDatabaseLocation(plainFolder), TDatabaseLocation(uri)}.Run();
        uris << uri;
    }
    Engine folder{"folder", std::make_unique<TQuorlaDB>(BenchServices::running(), TDatabaseLocation(seriesFolder)),
                  std::make_unique<TQuorlaDB>(BenchServices::running(), TDatabaseLocation(plainFolder))};
    Engine postgres{"server", std::make_unique<TQuorlaDB>(BenchServices::running(), TDatabaseLocation(uris[0])),
                    std::make_unique<TQuorlaDB>(BenchServices::running(), TDatabaseLocation(uris[1]))};
    for (Engine* engine : {&folder, &postgres}) {
        check(engine->withSeries->Series() != nullptr, "series datasets");
        engine->withSeries->SetActingUser(key(1));
    }
    const QString typedFolder = dir.filePath(QStringLiteral("typed/"));
    const QString typedUri = server.createDatabase(QStringLiteral("typed"));
    check(!typedUri.isEmpty() && QDir().mkpath(typedFolder), "typed databases");

    writes(folder, postgres, typedFolder, typedUri, today);
    std::printf("Reads (goal: unchanged, ours/raw near 1)\n");
    reads(folder, today);
    reads(postgres, today);
    std::printf("The poll's extension (goal: under 5 ms)\n");
    extend(folder, today);
    extend(postgres, today);
    syncedInsert(typedFolder, typedUri, today);
}

} // namespace

void runSeriesBench()
{
    PrintedServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    measure();
    BenchServices::install(previous);
}
