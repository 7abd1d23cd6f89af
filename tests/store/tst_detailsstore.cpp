// The details of entries and series (end, days, place, notes): stored whole,
// read back as written, and never left to another entry, whoever deletes
// its entry - also a workstation that knows only the four datasets.
// Runs on a folder, and once more (QUORLA_TEST_ENGINE=postgres) on a server.

#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "SeriesRecord.h"
#include "TDetailHeads.h"
#include "TDetailsStore.h"
#include "TDetailsWriter.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TSeriesWriter.h"
#include "TestDatabase.h"

#include <memory>
#include <optional>

namespace {

std::unique_ptr<PostgresCluster> server;
const QDate Monday(2027, 1, 4);

TEntryDetails details(int minutes, int days, const QString& location, const QString& notes)
{
    TEntryDetails d;
    d.durationSeconds = minutes * 60;
    d.days = days;
    d.location = location;
    d.notes = notes;
    return d;
}

// An entry on `day` at `time` (un-timed when invalid).
DayEntryRecord entryAt(const QDate& day, const QTime& time = {})
{
    DayEntryRecord e = TestDatabase::entry(QStringLiteral("meeting"), {}, 1);
    e.setStartTime(TestDatabase::timeKey(QDateTime(day, time.isValid() ? time : QTime(0, 0))));
    e.setFlags(time.isValid() ? 0 : DayEntryRecord::UnTimed);
    return e;
}

// User 1's series of `count` days from Monday, at `time` (none: the rule's
// own).
SeriesRecord daily(int count, const QTime& time)
{
    SeriesRecord s;
    s.initialise();
    s.setOwnerKey(RecordKey::format(1));
    TRecurrenceRule rule;
    rule.setFrequency(TRecurrenceRule::Frequency::Daily);
    rule.setStart(Monday);
    if (time.isValid())
        rule.setTime(time);
    rule.setCount(count);
    s.setRule(rule);
    return s;
}

int detailRecords(TQuorlaDB& db)
{
    return db.Details()->RecordCount();
}

} // namespace

class tst_DetailsStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDatabase::Office> o;
    AlarmRecord noAlarm;

    QString add(const DayEntryRecord& entry, const TEntryDetails& d)
    {
        return TEventWriter(*o->db).insertEntryWithAlarms(entry, noAlarm, {}, d);
    }

    // Rewrites entry `key` through `db`: its details as given (none: kept),
    // on `day` when given.
    void edit(TQuorlaDB& db, const QString& key, const std::optional<TEntryDetails>& d, const QDate& day = {})
    {
        TEventWriter writer(db);
        std::optional<TRecordLock> lock;
        DayEntryRecord entry;
        AlarmRecord alarm;
        bool hadAlarm = false;
        QCOMPARE(writer.openEntry(key, lock, entry, alarm, hadAlarm), TEventWriter::Result::Done);
        if (day.isValid())
            entry.setStartTime(entryAt(day).StartTime());
        QCOMPARE(writer.updateEntryWithAlarms(key, entry, noAlarm, {}, d), TEventWriter::Result::Done);
    }

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }
    void init() { o = std::make_unique<TestDatabase::Office>(QStringLiteral("details"), server.get(), 2); }
    void cleanup() { o.reset(); }

    void roundTrip_data()
    {
        QTest::addColumn<TEntryDetails>("stored");
        QTest::addRow("none") << TEntryDetails();
        QTest::addRow("an end and a place") << details(90, 1, QStringLiteral("Room 4 – Nürnberg"), {});
        QTest::addRow("three days") << details(0, 3, {}, QStringLiteral("bring slides"));
        QTest::addRow("notes of 32 KiB") << details(30, 1, {}, QString(TEntryDetails::MaxNotesBytes, QLatin1Char('n')));
        // Characters of two, three and four bytes across every part's edge.
        QTest::addRow("multi-byte at the edges")
            << details(0, 1, QString(85, QChar(0x20AC)),
                       QStringLiteral("a") + QString(4000, QChar(0x00E9)) + QString(2000, QChar(0x20AC))
                           + QString::fromUtf8("\xF0\x9F\x98\x80").repeated(1500));
    }
    void roundTrip()
    {
        QFETCH(TEntryDetails, stored);
        const QString key = add(entryAt(Monday, QTime(9, 0)), stored);
        TDetailsStore store(*o->db);
        QCOMPARE(store.Entry(key), stored);
        QCOMPARE(store.Entries({key}, true).value(key), stored);
        TEntryDetails painted = stored;
        painted.notes.clear();
        QCOMPARE(store.Entries({key}).value(key), painted);
        QCOMPARE(store.Entries({key}).contains(key), !stored.isEmpty());
    }

    // What a change and a delete leave: the details as last given, then none.
    void replacedAndRemoved()
    {
        const QString key = add(entryAt(Monday, QTime(9, 0)), details(60, 1, QStringLiteral("A"), QString(3000, 'x')));
        const int records = detailRecords(*o->db);
        QCOMPARE(records, 1 + 12);
        edit(*o->db, key, std::nullopt);
        QCOMPARE(TDetailsStore(*o->db).Entry(key).notes.size(), 3000);
        edit(*o->db, key, details(30, 1, QStringLiteral("B"), QStringLiteral("short")));
        QCOMPARE(TDetailsStore(*o->db).Entry(key), details(30, 1, QStringLiteral("B"), QStringLiteral("short")));
        QCOMPARE(detailRecords(*o->db), 2);
        QCOMPARE(TEventWriter(*o->db).deleteEntryWithAlarms(key), TEventWriter::Result::Done);
        QCOMPARE(detailRecords(*o->db), 0);
    }

    // An occurrence answers its template's details; deleting the series
    // leaves none.
    void seriesTemplate()
    {
        SeriesRecord s = daily(3, QTime(22, 0));
        const TEntryDetails overnight = details(180, 1, QStringLiteral("Night shift"), QStringLiteral("n"));
        TSeriesWriter writer(*o->db);
        const QString seriesKey = writer.Create(s, Monday, {}, overnight).seriesKey;
        const QString first = writer.Links(seriesKey).first().second.EntryKey();
        TDetailsStore store(*o->db);
        QCOMPARE(store.Entry(first), overnight);
        QCOMPARE(store.Entries({first}).value(first).location, overnight.location);
        // Each night reaches into the next day.
        QCOMPARE(store.ReachingInto(Monday.addDays(1), Monday.addDays(1)), QStringList{first});
        QCOMPARE(writer.Delete(seriesKey, TSeriesWriter::Scope::All, Monday, TSeriesWriter::HeldOccurrences::Refuse)
                     .result,
                 TSeriesWriter::Result::Done);
        QCOMPARE(detailRecords(*o->db), 0);
    }

    // A batch in the order asked, notes and all: an occurrence without
    // details of its own between entries that have some and none, whether
    // the heads are looked up one by one or held.
    void inOrderWithTemplates_data()
    {
        QTest::addColumn<int>("asked");
        QTest::addRow("read one by one") << 0;
        QTest::addRow("held") << 2048;
    }
    void inOrderWithTemplates()
    {
        QFETCH(int, asked);
        SeriesRecord s = daily(2, QTime());
        const TEntryDetails shift = details(60, 1, QStringLiteral("Desk"), QString(700, 's'));
        TSeriesWriter writer(*o->db);
        const QString occurrence = writer.Links(writer.Create(s, Monday, {}, shift).seriesKey).first().second.EntryKey();
        const TEntryDetails own = details(30, 1, QStringLiteral("Hall"), QStringLiteral("own"));
        const QString withOwn = add(entryAt(Monday, QTime(9, 0)), own);
        const QString plain = add(entryAt(Monday, QTime(10, 0)), TEntryDetails());
        TDetailsStore store(*o->db);
        store.Entries(QStringList(asked, plain));
        QCOMPARE(store.EntriesInOrder({plain, occurrence, withOwn}, true), (QList{TEntryDetails(), shift, own}));
    }

    // What one workstation has read stands only until another writes: a
    // place changed, an end dropped, an entry moved so that it reaches into
    // a day - seen at the next read, whether the heads are read again in
    // full or, among many, only the few asked for.
    void anotherWorkstationWrites_data()
    {
        QTest::addColumn<int>("others");
        QTest::addRow("read again") << 0;
        QTest::addRow("looked up among many") << 40;
    }
    void anotherWorkstationWrites()
    {
        QFETCH(int, others);
        for (int i = 0; i < others; ++i)
            add(entryAt(Monday.addDays(14), QTime(8, 0)), details(30, 1, QStringLiteral("Hall"), {}));
        const QString changed = add(entryAt(Monday, QTime(9, 0)), details(60, 1, QStringLiteral("A"), QStringLiteral("n")));
        const QString dropped = add(entryAt(Monday, QTime(10, 0)), details(60, 1, QStringLiteral("B"), {}));
        const QString moved = add(entryAt(Monday.addDays(3)), details(0, 3, QStringLiteral("C"), {}));
        TDetailsStore store(*o->db);
        QCOMPARE(store.Entries({changed, dropped, moved}).size(), 3);
        QCOMPARE(store.ReachingInto(Monday.addDays(1), Monday.addDays(1)), QStringList());
        TQuorlaDB other(TScriptedServices::ofTest());
        edit(other, changed, details(60, 1, QStringLiteral("A2"), QStringLiteral("notes")));
        edit(other, dropped, TEntryDetails());
        edit(other, moved, std::nullopt, Monday);
        const QHash<QString, TEntryDetails> read = store.Entries({changed, dropped, moved}, true);
        QCOMPARE(read.value(changed), details(60, 1, QStringLiteral("A2"), QStringLiteral("notes")));
        QVERIFY(read.contains(moved) && !read.contains(dropped));
        QCOMPARE(store.ReachingInto(Monday.addDays(1), Monday.addDays(1)), QStringList{moved});
    }

    // Once a connection has asked enough to hold the heads and the reaching
    // entries' day entries (or a service's first large listing had the heads
    // read), it answers as it did reading them one by one: in the order
    // asked, and another's move seen at once.
    void heldHeads_data()
    {
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("wholeFrom");
        QTest::addColumn<int>("others");
        QTest::addRow("read one by one") << 0 << 0 << 0;
        QTest::addRow("held") << 2048 << 0 << 0;
        QTest::addRow("held from a service's large listing") << 8 << 8 << 0;
        QTest::addRow("held among 100 others") << 2048 << 0 << 100;
    }
    void heldHeads()
    {
        QFETCH(int, asked);
        QFETCH(int, wholeFrom);
        QFETCH(int, others);
        o->db->DetailHeads().ReadWholeFrom(wholeFrom);
        // Each with a length of its own, so that a head found under another's
        // key shows.
        QStringList otherKeys;
        QList<TEntryDetails> otherDetails;
        for (int i = 0; i < others; ++i) {
            otherDetails << details(i + 1, 1, QStringLiteral("Hall %1").arg(i % 3), {});
            otherKeys << add(entryAt(Monday.addDays(7), QTime(8, 0)), otherDetails.last());
        }
        const TEntryDetails overnight = details(90, 1, QStringLiteral("N"), {});
        const TEntryDetails long_ = details(0, 20, QStringLiteral("S"), {});
        const QString night = add(entryAt(Monday, QTime(23, 0)), overnight);
        const QString stay = add(entryAt(Monday), long_);
        const QString plain = add(entryAt(Monday.addDays(1), QTime(9, 0)), TEntryDetails());
        TDetailsStore store(*o->db);
        const QDate tuesday = Monday.addDays(1);
        store.Entries(QStringList(asked, plain));
        for (int i = 0; wholeFrom == 0 && i < asked / 2; ++i)
            store.ReachingInto(tuesday, tuesday);
        QCOMPARE(store.EntriesInOrder({plain, stay, night}), (QList{TEntryDetails(), long_, overnight}));
        QCOMPARE(store.EntriesInOrder(otherKeys), otherDetails);
        QCOMPARE(store.ReachingInto(tuesday, tuesday), (QStringList{night, stay}));
        TQuorlaDB other(TScriptedServices::ofTest());
        edit(other, stay, std::nullopt, Monday.addDays(30));
        QCOMPARE(store.ReachingInto(tuesday, tuesday), QStringList{night});
    }

    // The parts of one read look at the datasets once: another's write in
    // the middle of a view's read shows with the next read, never in half
    // of one.
    void oneReadLooksOnce()
    {
        const QString key = add(entryAt(Monday, QTime(9, 0)), details(60, 1, QStringLiteral("A"), {}));
        TDetailsStore store(*o->db);
        store.Entries(QStringList(2048, key));
        TQuorlaDB other(TScriptedServices::ofTest());
        {
            const TDetailsStore::TOneRead read(store);
            QCOMPARE(store.Entries({key}).value(key).location, QStringLiteral("A"));
            edit(other, key, details(60, 1, QStringLiteral("B"), {}));
            QCOMPARE(store.Entries({key}).value(key).location, QStringLiteral("A"));
        }
        QCOMPARE(store.Entries({key}).value(key).location, QStringLiteral("B"));
    }

    // A workstation that knows only the four datasets moves one entry and
    // deletes another: the other workstation shows the moved one on its new
    // days once swept, never the deleted one's details, and keeps no garbage.
    void workstationWithoutDetails()
    {
        const QString moved = add(entryAt(Monday), details(0, 3, QStringLiteral("fair"), {}));
        const QString deleted = add(entryAt(Monday), details(0, 2, {}, QString(600, 'd')));
        TDetailsStore store(*o->db);
        // Read before the other's writes too: what this one holds goes with them.
        QCOMPARE(store.ReachingInto(Monday.addDays(1), Monday.addDays(1)).size(), 2);
        TXIsamFile entries;
        QVERIFY(entries.Open(o->db->Location().DatasetName(DayEntryRecord::FileName)));
        DayEntryRecord record = entryAt(Monday.addDays(7));
        QVERIFY(entries.Update(record.bytes(), moved));
        QVERIFY(entries.Delete(deleted));
        QCOMPARE(store.ReachingInto(Monday.addDays(1), Monday.addDays(1)), QStringList());
        QCOMPARE(TDetailsWriter::Sweep(*o->db, {}, 100), QString());
        QCOMPARE(detailRecords(*o->db), 1);
        QCOMPARE(store.ReachingInto(Monday.addDays(9), Monday.addDays(9)), QStringList{moved});
        QCOMPARE(store.Entries({moved, deleted}).keys(), QList{moved});
        // A stay past a week is found from its far end as from its near one.
        const QString stay = add(entryAt(Monday), details(0, 20, QStringLiteral("leave"), {}));
        QCOMPARE(store.ReachingInto(Monday.addDays(19), Monday.addDays(19)), QStringList{stay});
        QCOMPARE(store.ReachingInto(Monday.addDays(20), Monday.addDays(20)), QStringList());
    }
};

QUORLA_TEST_CORE_MAIN(tst_DetailsStore)
#include "tst_detailsstore.moc"
