#include "DetailsBench.h"

#include "BenchBulkLoad.h"
#include "BenchFigures.h"
#include "BenchServices.h"
#include "DetailRecord.h"
#include "TDetailsStore.h"
#include "TEntryQuery.h"
#include "TQtServices.h"
#include "TQuorlaDB.h"

#include <QDate>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace Calendar;

constexpr int Entries = 100000;
// Days read before the comparison: past the first full read of the heads and
// of the reaching entries' day entries.
constexpr int WarmUpReads = 1000;
// Many short rounds: a day's read is short, and this machine's pace drifts
// within a second; each pair of rounds meets the same pace.
constexpr int Rounds = 41;
constexpr int RoundMs = 25;

} // namespace

// A timed entry lasts 90 minutes, an un-timed one a day, every 40th of them
// three; each has a place.
void addBenchDetails(const QString& folder)
{
    TXIsamFile days;
    check(days.Open(folder + DayEntryRecord::FileName), "open the entries");
    QList<DetailRecord> heads;
    DayEntryRecord entry;
    days.Rewind(0);
    while (days.Get(entry.bytes(), 0, QString(), TXIsamFile::ScanNext)) {
        const bool unTimed = (entry.Flags() & DayEntryRecord::UnTimed) != 0;
        TEntryDetails details;
        details.durationSeconds = unTimed ? 0 : 90 * 60;
        details.days = unTimed && heads.size() % 40 == 0 ? 3 : 1;
        details.location = QStringLiteral("Room 2.14, second floor");
        const QString owner = DetailRecord::owner(DetailRecord::EntryMark, days.CurrentKey());
        heads << DetailRecords::Split(owner, details, entry.StartTime(), unTimed, false).first();
    }
    bulkLoad<DetailRecord>(folder + DetailRecord::FileName, int(heads.size()),
                           [&heads](int i, DetailRecord& r) { r = heads[i]; });
}

void loadCalendarWithDetails(const QString& folder, int entries)
{
    loadCalendar(folder + DayEntryRecord::FileName, folder + AlarmRecord::FileName, entries);
    addBenchDetails(folder);
}

namespace {

QStringList readDays(TXIsamFile& days, qint64 first, int count)
{
    QStringList keys;
    for (int d = 0; d < count; ++d)
        TEntryQuery::ReadDay(days, key(first + d * Day),
                             [&keys](const DayEntryRecord&, const QString& k) { keys << k; });
    return keys;
}

void withDetails(TDetailsStore& store, TXIsamFile& days, qint64 first, int count)
{
    // One read of a view, whose parts share the change marks as the views' do.
    const TDetailsStore::TOneRead read(store);
    QStringList keys = readDays(days, first, count);
    const QDate from = QDate(1970, 1, 1).addDays(first / Day);
    keys << store.ReachingInto(from, from.addDays(count - 1));
    store.EntriesInOrder(keys);
}

} // namespace

void runDetailsBench()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    loadCalendarWithDetails(folder, Entries);
    TQtServices services;
    const std::optional<TServices> previous = BenchServices::install(services);
    {
        TQuorlaDB db{BenchServices::running(), TDatabaseLocation(folder)};
        TDetailsStore store(db);
        TXIsamFile& days = db.DayEntries();
        std::printf("%d day entries, each with details\n", Entries);
        // Each side goes through the same days in the same order: a day's
        // entries are as many as chance gave it, and sides reading different
        // days would compare those counts as much as the reads.
        const auto next = [](int& index) { return FirstDay + Day * ((index = (index * 7 + 13) % (Days - 7))); };
        int with = 0;
        int without = 0;
        // A connection's first reads go without the heads, until it has
        // looked up enough to read them all (and the day entries of those
        // that reach past their day): a cost paid once, shown here, not
        // among the reads compared below. Both sides read the same days.
        QElapsedTimer first;
        first.start();
        for (int i = 0; i < WarmUpReads; ++i) {
            withDetails(store, days, next(with), 1);
            readDays(days, next(without), 1);
        }
        std::printf("  the first %d days with details and without, the heads read once  %8.2f ms\n", WarmUpReads,
                    first.nsecsElapsed() / 1e6);
        printAlternated("one day with details / without", [&] { withDetails(store, days, next(with), 1); },
                        [&] { readDays(days, next(without), 1); }, 1, Rounds, RoundMs);
        with = without = 0;
        printAlternated("one week with details / without", [&] { withDetails(store, days, next(with), 7); },
                        [&] { readDays(days, next(without), 7); }, 1, Rounds, RoundMs);
    }
    BenchServices::install(previous);
}
