// What the event commands and the alarm pop-up write, as other workstations
// meet it in the moments between one write and the next.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "QuorlaTest.h"
#include "TEventWriter.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TWorkstationStore.h"

#include <memory>

namespace {

const QString Entry2 = QStringLiteral("0000000002");

std::unique_ptr<TQuorlaDB> openIn(const QString& name)
{
    TWorkstationStore store;
    if (!store.OpenKey(true) || !store.WriteString(QStringLiteral("RootPath"), TestEnvironment::freshFolder(name)))
        return nullptr;
    return std::make_unique<TQuorlaDB>();
}

// Entry 1 for users 1 and 2, with its alarms.
QString newEntry(TEventWriter& writer, AlarmRecord& alarm)
{
    DayEntryRecord entry;
    entry.initialise();
    entry.setAssigneeKeys({QStringLiteral("0000000001"), QStringLiteral("0000000002")});
    alarm.clear();
    alarm.setFlags(AlarmRecord::AlarmWanted);
    alarm.setAlarmTime(QStringLiteral("0000001000"));
    return writer.insertEntryWithAlarms(entry, alarm);
}

} // namespace

class tst_EventWriter : public QObject
{
    Q_OBJECT

private slots:
    // Another workstation deleting a new entry before its alarms are in would
    // leave them to the next entry that takes the freed key.
    void newEntryHeldUntilItsAlarmsAreIn()
    {
        TScriptedServices services;
        const auto db = openIn(QStringLiteral("new"));
        QVERIFY(db);
        TQuorlaDB other;
        TEventWriter writer(*db);
        TEventWriter::Result elsewhere = TEventWriter::Result::Done;
        writer.OnWrite = [&](const TEventWriter::TWrite& w) {
            if (w.made && w.dataset == &db->DayEntries())
                elsewhere = TEventWriter(other).deleteEntryWithAlarms(w.key);
        };
        AlarmRecord alarm;
        const QString key = newEntry(writer, alarm);
        QCOMPARE(elsewhere, TEventWriter::Result::EntryLocked);
        QCOMPARE(db->Alarms().RecordCount(), 2);
        QCOMPARE(TEventWriter(other).deleteEntryWithAlarms(key), TEventWriter::Result::Done);
        QCOMPARE(db->Alarms().RecordCount(), 0);
    }

    // A change cut short after any of its writes (a crash) leaves the entry
    // with fewer alarms at most, never one for a user it no longer has.
    void changeCutShort()
    {
        TScriptedServices services;
        for (int cut = 1; cut <= 3; ++cut) {
            const auto db = openIn(QStringLiteral("cut%1").arg(cut));
            QVERIFY(db);
            TEventWriter writer(*db);
            AlarmRecord alarm;
            const QString key = newEntry(writer, alarm);
            DayEntryRecord entry;
            QVERIFY(db->DayEntries().GetEqual(entry.bytes(), 0, key));
            entry.setAssigneeKeys({QStringLiteral("0000000003")});
            int writes = 0;
            writer.OnWrite = [&](const TEventWriter::TWrite& w) {
                if (w.made && ++writes == cut)
                    throw EQuorla(QStringLiteral("cut"));
            };
            QVERIFY_THROWS_EXCEPTION(EQuorla, writer.updateEntryReplacingAlarms(key, entry, alarm));
            QVERIFY(db->DayEntries().GetEqual(entry.bytes(), 0, key));
            for (bool more = db->Alarms().GetEqual(alarm.bytes(), 3, key); more;
                 more = db->Alarms().Get(alarm.bytes(), 3, key, TXIsamFile::ScanPrefix))
                QVERIFY2(entry.AssigneeKeys().contains(alarm.UserKey()), qPrintable(QString::number(cut)));
        }
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
        TScriptedServices services;
        const auto db = openIn(QStringLiteral("stale"));
        QVERIFY(db);
        TEventWriter writer(*db);
        AlarmRecord shown;
        newEntry(writer, shown);
        const QString key = db->Alarms().CurrentKey();
        AlarmRecord other = shown;
        other.setDayEntryKey(Entry2);
        QVERIFY(db->Alarms().Delete(key) && db->Alarms().Insert(other.bytes(), key));

        const TEventWriter::Result result = snooze ? writer.snoozeAlarm(key, shown, QStringLiteral("0000002000"))
                                                   : writer.switchOffAlarm(key, shown);
        QCOMPARE(result, TEventWriter::Result::Gone);
        AlarmRecord stored;
        QVERIFY(db->Alarms().GetEqual(stored.bytes(), 0, key));
        QVERIFY(stored.bytes().size() == other.bytes().size()
                && std::equal(stored.bytes().begin(), stored.bytes().end(), other.bytes().begin()));
    }
};

QUORLA_TEST_CORE_MAIN(tst_EventWriter)
#include "tst_eventwriter.moc"
