// The bin of deleted entries and series: what a deletion removed comes back,
// on another workstation, exactly as it was stored; a private item is never
// listed to those who may not see it; a restore waits for a lock held
// elsewhere; the retention removes old items.
// Runs on a folder, and once more (QUORLA_TEST_ENGINE=postgres) on a server.

#include "BinRecord.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TBin.h"
#include "TBinRestore.h"
#include "TBookingStore.h"
#include "TBookingWriter.h"
#include "TClock.h"
#include "TEventWriter.h"
#include "TRecordLock.h"
#include "TResourceWriter.h"
#include "TSeriesWriter.h"
#include "TUserRemoval.h"
#include "TestDatabase.h"
#include "DetailRecord.h"
#include "SeriesLinkRecord.h"
#include "TLookup.h"

#include <QMap>

#include <memory>

namespace {

std::unique_ptr<PostgresCluster> server;
const QDate Today(2027, 1, 4);
using Scope = TSeriesWriter::Scope;
using Restored = TBinRestore::Result;

QString key(int n) { return RecordKey::format(n); }

UserRecord withRights(qint32 rights)
{
    UserRecord user;
    user.setRights(rights);
    return user;
}

// Every record of the calendar's datasets, by dataset and key.
QMap<QString, QByteArray> calendar(TQuorlaDB& db)
{
    QMap<QString, QByteArray> all;
    const std::pair<TXIsamFile*, std::size_t> datasets[] = {{&db.DayEntries(), DayEntryRecord::Size},
                                                            {&db.Alarms(), AlarmRecord::Size},
                                                            {db.Series(), SeriesRecord::Size},
                                                            {db.SeriesLinks(), SeriesLinkRecord::Size},
                                                            {db.Details(), DetailRecord::Size}};
    for (const auto& [dataset, size] : datasets) {
        QByteArray buffer(qsizetype(size), '\0');
        TLookup::Each(*dataset, std::span<char>(buffer.data(), std::size_t(buffer.size())),
                      [&](const QString& k) { all.insert(dataset->FileName() + k, buffer); });
    }
    return all;
}

// A weekly series on Mondays at 09:00 for users 1 and 2, alarm 15 minutes before.
SeriesRecord meeting(bool isPrivate = false)
{
    SeriesRecord s;
    s.initialise();
    s.setOwnerKey(key(1));
    s.setDescription(QStringLiteral("Team meeting"));
    s.setAssigneeKeys({key(1), key(2)});
    s.setFlags(SeriesRecord::AlarmWanted | (isPrivate ? SeriesRecord::Private : 0));
    s.setAlarmOffset(15 * 60);
    TRecurrenceRule rule;
    rule.setFrequency(TRecurrenceRule::Frequency::Weekly);
    rule.setStart(Today);
    rule.setTime(QTime(9, 0));
    rule.setCount(6);
    rule.setWeekdays(TRecurrenceRule::weekdayBit(1));
    s.setRule(rule);
    return s;
}

} // namespace

class tst_Bin : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDatabase::Office> o;

    // An hour's entry `description` at `time` for users 1 and 2 with an
    // alarm and details, booking `rooms`; its key.
    QString entry(bool isPrivate, const QStringList& rooms = {}, const QString& description = QStringLiteral("Budget"),
                  const QTime& time = QTime(10, 0))
    {
        DayEntryRecord e = TestDatabase::entry(description, {1, 2}, 1);
        e.setStartTime(TestDatabase::timeKey(QDateTime(Today, time)));
        e.setFlags(isPrivate ? DayEntryRecord::Private : 0);
        AlarmRecord alarm = TestDatabase::alarmAt(e.StartTime());
        TEntryDetails details;
        details.location = QStringLiteral("Room 4");
        details.durationSeconds = 3600;
        return TEventWriter(*o->db).insertEntryWithAlarms(e, alarm, {}, details, rooms);
    }

    // Makes what `what` names: an entry or a series (its occurrences an
    // hour long), booking `rooms`; its key.
    QString made(const QString& what, bool isPrivate = false, const QStringList& rooms = {})
    {
        if (what == QLatin1String("entry"))
            return entry(isPrivate, rooms);
        SeriesRecord series = meeting(isPrivate);
        TEntryDetails hour;
        hour.durationSeconds = 3600;
        const QString key = TSeriesWriter(*o->db).Create(series, Today, {}, hour).seriesKey;
        TRecordWriter records;
        TBookingWriter(*o->db, records).BookSeries(key, rooms);
        return key;
    }

    // Deletes `target` as `what` says, on `db`; answers the bin's item.
    static QString deleted(TQuorlaDB& db, const QString& what, const QString& target)
    {
        if (what == QLatin1String("entry")) {
            TEventWriter(db).deleteEntryWithAlarms(target);
            return QStringLiteral("E") + target;
        }
        const Scope scope = what == QLatin1String("occurrence") ? Scope::ThisOne
            : what == QLatin1String("following")                ? Scope::ThisAndFollowing
                                                                : Scope::All;
        TSeriesWriter(db).Delete(target, scope, Today.addDays(14), TSeriesWriter::HeldOccurrences::Refuse);
        const QList<TBin::TItem> items = TBin::Items(db, withRights(UserRecord::CanAdminister), key(1));
        return items.isEmpty() ? QString() : items.first().item;
    }

private slots:
    void initTestCase() { QUORLA_TEST_SERVER(server); }
    void cleanupTestCase() { server.reset(); }
    void init() { o = std::make_unique<TestDatabase::Office>(QStringLiteral("bin"), server.get(), 3); }
    void cleanup()
    {
        TClock::setOverride({});
        o.reset();
    }

    // Deleted on one workstation, restored on another: every record is
    // back under its key as it was stored (occurrences, alarms, links,
    // details), and the bin is empty again.
    void restoredElsewhereAsBefore_data()
    {
        QTest::addColumn<QString>("what");
        for (const char* what : {"entry", "occurrence", "series", "following"})
            QTest::addRow("%s", what) << QString::fromLatin1(what);
    }
    void restoredElsewhereAsBefore()
    {
        QFETCH(QString, what);
        const QString target = made(what);
        const QMap<QString, QByteArray> before = calendar(*o->db);
        const QString item = deleted(*o->db, what, target);
        QVERIFY(calendar(*o->db) != before);
        TQuorlaDB other(TScriptedServices::ofTest());
        other.SetActingUser(key(2));
        const UserRecord mayChange = withRights(UserRecord::CanModifyOthersEntries);
        QCOMPARE(TBinRestore(other).Restore(item, mayChange, key(2)), Restored::Done);
        QCOMPARE(calendar(*o->db), before);
        QCOMPARE(o->db->Bin()->RecordCount(), 0);
        QCOMPARE(TBinRestore(other).Restore(item, mayChange, key(2)), Restored::Gone);
    }

    // A private entry is listed only to an administrator and its assignees,
    // and restored only by those of them who may change it.
    void privateOnlyToItsReaders_data()
    {
        QTest::addColumn<int>("user");
        QTest::addColumn<int>("rights");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<Restored>("restore");
        QTest::addRow("owner and assignee") << 1 << 0 << true << Restored::Done;
        QTest::addRow("assignee") << 2 << 0 << true << Restored::Refused;
        QTest::addRow("assignee who changes others' entries")
            << 2 << int(UserRecord::CanModifyOthersEntries) << true << Restored::Done;
        QTest::addRow("others' entries, not assigned")
            << 3 << int(UserRecord::CanModifyOthersEntries) << false << Restored::Refused;
        QTest::addRow("administrator") << 3 << int(UserRecord::CanAdminister | UserRecord::CanModifyOthersEntries)
                                       << true << Restored::Done;
    }
    void privateOnlyToItsReaders()
    {
        QFETCH(int, user);
        QFETCH(int, rights);
        QFETCH(bool, listed);
        QFETCH(Restored, restore);
        const QString item = deleted(*o->db, QStringLiteral("entry"), entry(true));
        QCOMPARE(TBin::Items(*o->db, withRights(rights), key(user)).size(), listed ? 1 : 0);
        QCOMPARE(TBinRestore(*o->db).Restore(item, withRights(rights), key(user)), restore);
    }

    // An entry's or a series' key held open elsewhere refuses the restore.
    void refusedWhileOpenElsewhere_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addRow("entry") << QStringLiteral("entry");
        QTest::addRow("occurrence") << QStringLiteral("occurrence");
        QTest::addRow("series") << QStringLiteral("series");
    }
    void refusedWhileOpenElsewhere()
    {
        QFETCH(QString, what);
        const QString target = made(what);
        const QString item = deleted(*o->db, what, target);
        TQuorlaDB other(TScriptedServices::ofTest());
        const bool entryHeld = what == QLatin1String("entry");
        const TRecordLock held(entryHeld ? other.DayEntries() : *other.Series(), target);
        QVERIFY(held.Held());
        const int kept = o->db->Bin()->RecordCount();
        const UserRecord administrator = withRights(UserRecord::CanAdminister | UserRecord::CanModifyOthersEntries);
        QCOMPARE(TBinRestore(*o->db).Restore(item, administrator, key(1)), Restored::Locked);
        QCOMPARE(o->db->Bin()->RecordCount(), kept);
    }

    // A deletion stopped after the bin's batch leaves its entry and its item;
    // the next deletion keeps the entry once, in place of that item.
    void unfinishedDeletionKeptOnce()
    {
        const QString entryKey = entry(false);
        TBin(*o->db).KeepEntry(entryKey);
        const qsizetype once = TBin::Records(*o->db, QStringLiteral("E") + entryKey).size();
        QCOMPARE(TEventWriter(*o->db).deleteEntryWithAlarms(entryKey), TEventWriter::Result::Done);
        QCOMPARE(TBin::Records(*o->db, QStringLiteral("E") + entryKey).size(), once);
    }

    // Every record of an item repeats its head's fields, which a server's
    // row policy tests row by row: a record without them would be left
    // unread by a restore.
    void everyRecordRepeatsItsHead()
    {
        const QString entryKey = entry(true);
        QCOMPARE(TEventWriter(*o->db).deleteEntryWithAlarms(entryKey), TEventWriter::Result::Done);
        const auto records = TBin::Records(*o->db, QStringLiteral("E") + entryKey);
        QVERIFY(records.size() > 2);
        const BinRecord& head = records.first().second;
        for (const auto& [binKey, record] : records) {
            QCOMPARE(record.Item(), head.Item());
            QCOMPARE(record.DeletedAt(), head.DeletedAt());
            QCOMPARE(record.DeletedBy(), head.DeletedBy());
            QCOMPARE(record.OwnerKey(), key(1));
            QCOMPARE(record.AssigneeKeys(), (QStringList{key(1), key(2)}));
            QCOMPARE(record.Flags() & ~BinRecord::Head, BinRecord::Private);
        }
    }

    // The delete-user wizard's deletions land in the bin; what comes back
    // leaves the removed user out (his alarm, his place), its owner the
    // person restoring it.
    void removedUsersEntryComesBackWithoutHim()
    {
        DayEntryRecord e = TestDatabase::entry(QStringLiteral("Handover"), {3, 2}, 3);
        AlarmRecord alarm = TestDatabase::alarmAt(TestDatabase::timeKey(QDateTime(Today, QTime(9, 0))));
        const QString entryKey = TEventWriter(*o->db).insertEntryWithAlarms(e, alarm);
        TUserRemoval::TChoices choices;
        choices.deleteOwned = true;
        TUserRemoval(*o->db, key(3), choices).run();
        const UserRecord mayChange = withRights(UserRecord::CanModifyOthersEntries);
        QCOMPARE(TBinRestore(*o->db).Restore(QStringLiteral("E") + entryKey, mayChange, key(1)), Restored::Done);
        QVERIFY(TLookup::Equal(o->db->DayEntries(), e.bytes(), TXIsamFile::PrimaryIndex, entryKey));
        QCOMPARE(e.OwnerKey(), key(1));
        QCOMPARE(e.AssigneeKeys(), QStringList{key(2)});
        const auto alarms = TestDatabase::alarms(*o->db, entryKey);
        QCOMPARE(alarms.size(), 1);
        QCOMPARE(alarms.first().second.UserKey(), key(2));
    }

    // What is restored books its room again; a room another event took
    // meanwhile is left out, the rest restored, and the restore names the
    // booking it met.
    void bookingsComeBack_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("booked");
        QTest::addColumn<QString>("leftOut");
        const QString met = QStringLiteral(
            "Mon 04/01/2027: Room 1 is already booked by \"Taker\" of User 1, Mon 04/01/2027 09:30–10:30.");
        QTest::addRow("entry with its room") << "entry" << 1 << QString();
        QTest::addRow("entry, room taken meanwhile") << "entry" << 0 << met;
        QTest::addRow("occurrence with its room") << "occurrence" << 6 << QString();
        QTest::addRow("series with its room") << "series" << 6 << QString();
        QTest::addRow("series, one day's room taken meanwhile") << "series" << 5 << met;
    }
    void bookingsComeBack()
    {
        QFETCH(QString, what);
        QFETCH(int, booked);
        QFETCH(QString, leftOut);
        TResourceStore::TResource room{{}, QStringLiteral("Room 1"), {}, true};
        QCOMPARE(TResourceWriter(*o->db).Add(room), TResourceWriter::Result::Done);
        const QStringList rooms{key(1)};
        const QString item = deleted(*o->db, what, made(what, false, rooms));
        const QString taker = !leftOut.isEmpty() ? entry(false, rooms, QStringLiteral("Taker"), QTime(9, 30)) : QString();
        TBinRestore restore(*o->db);
        QCOMPARE(restore.Restore(item, withRights(UserRecord::CanAdminister), key(1)), Restored::Done);
        QCOMPARE(restore.LeftOut().join(QLatin1Char('\r')), leftOut);
        int restored = 0;
        for (const auto& one : TBookingStore(*o->db).OfResource(rooms[0], QDateTime(Today, {}), QDateTime(Today.addDays(60), {})))
            restored += one.entry != taker;
        QCOMPARE(restored, booked);
    }

    // Items deleted longer ago than the trail's days kept go at the sweep.
    void retentionRemovesOldItems()
    {
        const QDateTime longAgo(Today.addYears(-2), QTime(12, 0));
        TClock::setOverride([&] { return longAgo; });
        deleted(*o->db, QStringLiteral("entry"), entry(false));
        TClock::setOverride({});
        deleted(*o->db, QStringLiteral("series"), made(QStringLiteral("series")));
        const int young = o->db->Bin()->RecordCount() - 4;
        QCOMPARE(TBin::Sweep(*o->db, 100), 4);
        QCOMPARE(o->db->Bin()->RecordCount(), young);
        QCOMPARE(TBin::Items(*o->db, withRights(UserRecord::CanAdminister), key(1)).size(), 1);
    }
};

QUORLA_TEST_CORE_MAIN(tst_Bin)
#include "tst_bin.moc"
