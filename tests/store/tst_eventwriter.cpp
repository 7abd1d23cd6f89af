// What the event commands and the alarm pop-up write, as other workstations
// meet it in the moments between one write and the next.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TDatabaseLocation.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TScriptedServices.h"
#include "TestChild.h"
#include "TestDatabase.h"

#include <memory>
#include <optional>

namespace {

// A new entry "before" for users 1 to `users`, each with an alarm at 1000.
QString newEntry(TEventWriter& writer, AlarmRecord& alarm, int users = 2)
{
    alarm = TestDatabase::alarmAt(RecordKey::format(1000));
    const DayEntryRecord entry = TestDatabase::entry(QStringLiteral("before"), QList{1, 2, 3}.first(users));
    return writer.insertEntryWithAlarms(entry, alarm);
}

// The entry's alarms as "user@time", sorted.
QStringList alarmsOf(TQuorlaDB& db, const QString& entryKey)
{
    QStringList stored;
    for (const auto& [key, a] : TestDatabase::alarms(db, entryKey))
        stored << QStringLiteral("%1@%2").arg(RecordKey::parse(a.UserKey())).arg(RecordKey::parse(a.AlarmTime()));
    stored.sort();
    return stored;
}

// The key of `user`'s alarm of the entry.
QString alarmKeyOf(TQuorlaDB& db, const QString& entryKey, int user, AlarmRecord& found)
{
    bool more = db.Alarms().GetEqual(found.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey);
    while (more && found.UserKey() != RecordKey::format(user))
        more = db.Alarms().Get(found.bytes(), AlarmRecord::DayEntryKeyIndex, entryKey, TXIsamFile::ScanPrefix);
    return more ? db.Alarms().CurrentKey() : QString();
}

// Opens entry `key` and stores it with the assignees ("1 3") and the alarm
// time (empty: no alarm) given.
TEventWriter::Result edit(TEventWriter& writer, const QString& key, const QString& assignees, const QString& alarmTime)
{
    std::optional<TRecordLock> lock;
    DayEntryRecord entry;
    AlarmRecord alarm;
    bool hadAlarm = false;
    if (writer.openEntry(key, lock, entry, alarm, hadAlarm) != TEventWriter::Result::Done || !hadAlarm)
        return TEventWriter::Result::Gone;
    const QString opened = alarm.AlarmTime();
    QStringList keys;
    for (const QString& user : assignees.split(' '))
        keys << RecordKey::format(user.toInt());
    entry.setAssigneeKeys(keys);
    entry.setDescription(QStringLiteral("after"));
    alarm.setFlags(alarmTime.isEmpty() ? 0 : AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(RecordKey::format(alarmTime.toInt()));
    return writer.updateEntryWithAlarms(key, entry, alarm, opened);
}

} // namespace

class tst_EventWriter : public QObject
{
    Q_OBJECT

    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> db;
    std::unique_ptr<TEventWriter> writer;

private slots:
    void init()
    {
        services_ = std::make_unique<TScriptedServices>();
        db = TestDatabase::database(QStringLiteral("writer"), {});
        writer = std::make_unique<TEventWriter>(*db);
    }
    void cleanup() { writer.reset(); db.reset(); services_.reset(); }

    // Another workstation deleting a new entry before its alarms are in would
    // leave them to the next entry that takes the freed key.
    void newEntryHeldUntilItsAlarmsAreIn()
    {
        TQuorlaDB other(TScriptedServices::ofTest());
        TEventWriter::Result elsewhere = TEventWriter::Result::Done;
        writer->OnWrite = [&](const TEventWriter::TWrite& w) {
            if (w.made && w.dataset == &db->DayEntries())
                elsewhere = TEventWriter(other).deleteEntryWithAlarms(w.key);
        };
        AlarmRecord alarm;
        const QString key = newEntry(*writer, alarm);
        QCOMPARE(elsewhere, TEventWriter::Result::EntryLocked);
        QCOMPARE(db->Alarms().RecordCount(), 2);
        QCOMPARE(TEventWriter(other).deleteEntryWithAlarms(key), TEventWriter::Result::Done);
        QCOMPARE(db->Alarms().RecordCount(), 0);
    }

    // A change cut short after any of its writes (a crash) leaves the entry
    // with fewer alarms at most, never one for a user it no longer has.
    void changeCutShort_data()
    {
        QTest::addColumn<int>("cut");
        for (int cut = 1; cut <= 3; ++cut)
            QTest::addRow("after write %d", cut) << cut;
    }
    void changeCutShort()
    {
        QFETCH(int, cut);
        AlarmRecord alarm;
        const QString key = newEntry(*writer, alarm);
        DayEntryRecord entry;
        QVERIFY(db->DayEntries().GetEqual(entry.bytes(), 0, key));
        entry.setAssigneeKeys({QStringLiteral("0000000003")});
        int writes = 0;
        writer->OnWrite = [&](const TEventWriter::TWrite& w) {
            if (w.made && ++writes == cut)
                throw EQuorla(QStringLiteral("cut"));
        };
        QVERIFY_THROWS_EXCEPTION(EQuorla, writer->updateEntryWithAlarms(key, entry, alarm, QString()));
        QVERIFY(db->DayEntries().GetEqual(entry.bytes(), 0, key));
        for (const auto& [alarmKey, left] : TestDatabase::alarms(*db, key))
            QVERIFY(entry.AssigneeKeys().contains(left.UserKey()));
    }

    // A new event whose alarms cannot be written (a folder busy past its
    // timeout) leaves nothing behind, or says what stayed.
    void newEntryFails_data()
    {
        QTest::addColumn<bool>("takeBackFails");
        QTest::newRow("the alarms") << false;
        QTest::newRow("the alarms, then taking the entry back") << true;
    }
    void newEntryFails()
    {
        QFETCH(bool, takeBackFails);
        int writes = 0;
        writer->OnWrite = [&](const TEventWriter::TWrite& w) {
            if (!w.made && (++writes == 2 || (takeBackFails && writes > 2)))
                throw EQuorla(QStringLiteral("busy"));
        };
        AlarmRecord alarm;
        const QString said = thrown([&] { newEntry(*writer, alarm); });
        QCOMPARE(said.endsWith(QString::fromLatin1(TEventWriter::KeptWithoutAlarms)), takeBackFails);
        QCOMPARE(db->DayEntries().RecordCount() + db->Alarms().RecordCount(), takeBackFails ? 1 : 0);
    }

    // Entry 1 for users 1, 2 and 3 with an alarm at 1000 is edited. Either
    // user 2 snoozed his alarm to 2000 and user 3 switched his off, or another
    // workstation holds user 2's alarm (its user is snoozing it): then an edit
    // that would rewrite or delete that alarm saves nothing at all - neither
    // the entry nor any alarm - and tells whose alarm it is, and one that
    // leaves that alarm as it stands is saved.
    void editAndTheAlarms_data()
    {
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("assignees");
        QTest::addColumn<QString>("alarmTime"); // empty: no alarm
        QTest::addColumn<QString>("expected");  // the alarms after it
        QTest::addColumn<bool>("saved");
        const QString unchanged = QStringLiteral("1@1000 2@1000 3@1000");
        QTest::newRow("time kept, 1 out, 4 in") << false << "2 3 4" << "1000" << "2@2000 4@1000" << true;
        QTest::newRow("time changed") << false << "1 2 3" << "1500" << "1@1500 2@1500 3@1500" << true;
        QTest::newRow("held: time kept, 3 out, 2's alarm stays") << true << "1 2" << "1000" << "1@1000 2@1000" << true;
        QTest::newRow("held: time kept, 2 out") << true << "1 3" << "1000" << unchanged << false;
        QTest::newRow("held: time changed") << true << "1 2 3" << "1500" << unchanged << false;
    }
    void editAndTheAlarms()
    {
        QFETCH(bool, held);
        QFETCH(QString, assignees);
        QFETCH(QString, alarmTime);
        QFETCH(bool, saved);
        AlarmRecord second, third;
        const QString key = newEntry(*writer, second, 3);
        const QString secondKey = alarmKeyOf(*db, key, 2, second);
        std::unique_ptr<TestChild> elsewhere;
        if (held) {
            elsewhere = holdingChild([&] {
                auto* other = new TQuorlaDB{TScriptedServices::ofTest(), TDatabaseLocation(db->RootPath())}; // held until the child is killed
                return other->Alarms().Lock(secondKey);
            });
            QVERIFY(elsewhere);
        } else {
            QCOMPARE(writer->snoozeAlarm(secondKey, second, RecordKey::format(2000)), TEventWriter::Result::Done);
            QCOMPARE(writer->switchOffAlarm(alarmKeyOf(*db, key, 3, third), third), TEventWriter::Result::Done);
        }

        QCOMPARE(edit(*writer, key, assignees, alarmTime),
                 saved ? TEventWriter::Result::Done : TEventWriter::Result::AlarmLocked);
        QTEST(alarmsOf(*db, key).join(' '), "expected");
        DayEntryRecord entry;
        QVERIFY(db->DayEntries().GetEqual(entry.bytes(), TXIsamFile::PrimaryIndex, key));
        QCOMPARE(entry.Description(), saved ? QStringLiteral("after") : QStringLiteral("before"));
        if (!saved)
            QCOMPARE(writer->LockedAlarmUser(), RecordKey::format(2));
    }

    // The pop-up read an alarm that was then switched off elsewhere and whose
    // key a new alarm of another entry took: snooze and off leave that one be.
    void alarmKeyTakenMeanwhile_data()
    {
        QTest::addColumn<bool>("snooze");
        QTest::newRow("snooze") << true;
        QTest::newRow("off") << false;
    }
    void alarmKeyTakenMeanwhile()
    {
        QFETCH(bool, snooze);
        AlarmRecord shown;
        const QString key = alarmKeyOf(*db, newEntry(*writer, shown), 2, shown);
        AlarmRecord other = shown;
        other.setDayEntryKey(QStringLiteral("0000000002"));
        QVERIFY(db->Alarms().Delete(key) && db->Alarms().Insert(other.bytes(), key));

        const TEventWriter::Result result = snooze ? writer->snoozeAlarm(key, shown, QStringLiteral("0000002000"))
                                                   : writer->switchOffAlarm(key, shown);
        QCOMPARE(result, TEventWriter::Result::Gone);
        AlarmRecord stored;
        QVERIFY(db->Alarms().GetEqual(stored.bytes(), 0, key));
        QVERIFY(stored.bytes().size() == other.bytes().size()
                && std::equal(stored.bytes().begin(), stored.bytes().end(), other.bytes().begin()));
    }

    // The poll's clean-up of an alarm whose entry is gone takes the other
    // assignees' alarms of that entry with it; another entry's stay.
    void orphanAlarmsGoTogether()
    {
        AlarmRecord rang;
        const QString gone = newEntry(*writer, rang, 3);
        const QString kept = newEntry(*writer, rang, 3);
        QVERIFY(db->DayEntries().Delete(gone));
        const QString rangKey = alarmKeyOf(*db, gone, 2, rang);
        QCOMPARE(writer->deleteOrphanAlarm(rangKey, rang), TEventWriter::Result::Done);
        QCOMPARE(alarmsOf(*db, gone), QStringList());
        QCOMPARE(alarmsOf(*db, kept).size(), 3);
    }
};

QUORLA_TEST_CORE_MAIN(tst_EventWriter)
#include "tst_eventwriter.moc"
