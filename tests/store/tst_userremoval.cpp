// Removing a user: what the pass makes of each kind of entry and its alarms,
// that no alarm of a deleted entry is left behind (those left by entries
// deleted long ago go too; a later entry never takes a freed key, as
// tst_xisamfile's nextKey shows), and the pass racing another
// workstation that adds events for him.
// ANNA 1, BERT 2 (removed), CARL 3, DORA 4.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TEventWriter.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TScriptedServices.h"
#include "TestChild.h"
#include "TUserRemoval.h"
#include "TestDatabase.h"
#include "UserRecord.h"

#include <QThread>

#include <memory>

namespace {

const QString Bert = RecordKey::format(2);
const QStringList Staff{"ANNA", "BERT", "CARL", "DORA"};

QString key(int n) { return RecordKey::format(n); }

// An entry with an alarm for each assignee at `alarmTime`.
QString addEntry(TQuorlaDB& db, int owner, const QList<int>& assignees, const QString& description = QString(),
                 int alarmTime = 1000)
{
    AlarmRecord a = TestDatabase::alarmAt(key(alarmTime));
    return TEventWriter(db).insertEntryWithAlarms(TestDatabase::entry(description, assignees, owner), a);
}

// Every alarm as "entry:user".
QStringList alarms(TQuorlaDB& db)
{
    QStringList found;
    for (const auto& [key, a] : TestDatabase::alarms(db))
        found << QStringLiteral("%1:%2").arg(RecordKey::parse(a.DayEntryKey())).arg(RecordKey::parse(a.UserKey()));
    return found;
}

// Deleted ('D'), or given to CARL (his own entries) and DORA (those of his alone).
TUserRemoval::TChoices choose(const QByteArray& answers)
{
    return {answers[0] == 'D', key(3), answers[1] == 'D', key(4)};
}

} // namespace

class tst_UserRemoval : public QObject
{
    Q_OBJECT

private slots:
    // Answers: "D" delete or "T" transfer to CARL for his own entries, "D"
    // delete or "A" assign to DORA for those of his alone. Entry 2, the latest,
    // is the one under test; entry 1 (ANNA's, for CARL and DORA) stands by.
    void pass_data()
    {
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<int>("owner");
        QTest::addColumn<QList<int>>("assignees");
        QTest::addColumn<int>("newOwner"); // 0: the entry is gone
        QTest::addColumn<QStringList>("newAssignees");
        QTest::addColumn<QStringList>("alarmsLeft");
        QTest::addColumn<int>("alarmsHis"); // deleted with him: his own and those of his deleted entries

        QTest::newRow("his own, delete chosen: gone with everyone's alarms")
            << QByteArray("DA") << 2 << QList{1, 3} << 0 << QStringList() << QStringList{"1:3", "1:4"} << 2;
        QTest::newRow("assigned with others: his slot only")
            << QByteArray("TA") << 1 << QList{1, 2, 3} << 1 << QStringList{key(1), key(3)}
            << QStringList{"1:3", "1:4", "2:1", "2:3"} << 1;
        QTest::newRow("named twice: both slots empty")
            << QByteArray("TA") << 1 << QList{2, 1, 2} << 1 << QStringList{key(1)} << QStringList{"1:3", "1:4", "2:1"}
            << 2;
        QTest::newRow("his alone, delete chosen") << QByteArray("TD") << 1 << QList{2} << 0 << QStringList()
                                                  << QStringList{"1:3", "1:4"} << 1;
    }
    void pass()
    {
        QFETCH(QByteArray, answers);
        QFETCH(int, owner);
        QFETCH(QList<int>, assignees);
        QFETCH(int, newOwner);
        QFETCH(QStringList, alarmsLeft);
        TScriptedServices services;
        auto db = TestDatabase::database(QStringLiteral("pass"), Staff);
        addEntry(*db, 1, {3, 4});
        const QString entryKey = addEntry(*db, owner, assignees);
        // Left by an older program: DORA's alarm of an entry deleted long ago.
        AlarmRecord orphan;
        orphan.setUserKey(key(4));
        orphan.setDayEntryKey(key(7));
        orphan.setAlarmTime(key(900));
        orphan.rebuildUserAlarmKey();
        QVERIFY(db->Alarms().Insert(orphan.bytes()));

        TUserRemoval removal(*db, Bert, choose(answers));
        const TUserRemoval::TSummary survey = removal.survey();
        const TUserRemoval::TSummary done = removal.run();
        QCOMPARE(QList({survey.transferred, survey.reassigned, survey.unassigned, survey.deleted}),
                 QList({done.transferred, done.reassigned, done.unassigned, done.deleted}));

        UserRecord user;
        QVERIFY(!TLookup::Equal(db->Users(), user.bytes(), TXIsamFile::PrimaryIndex, Bert));
        DayEntryRecord entry;
        const bool kept = TLookup::Equal(db->DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, entryKey);
        QCOMPARE(kept, newOwner != 0);
        if (kept) {
            QCOMPARE(RecordKey::parse(entry.OwnerKey()), newOwner);
            QTEST(entry.AssigneeKeys(), "newAssignees");
        }
        QCOMPARE(alarms(*db), alarmsLeft);
        // DORA's stray alarm went too, but is none of his.
        QTEST(done.alarms, "alarmsHis");
        QCOMPARE(done.strays, 1);
    }

    // Another workstation adds events for him (alone, or with CARL) while he
    // is removed: whatever the order, no alarm is left without its entry, none
    // ends up on an entry it was not made for, and none is for a user its
    // entry does not have.
    void racingNewEvents()
    {
        TScriptedServices services;
        auto db = TestDatabase::database(QStringLiteral("race"), Staff);
        constexpr int Events = 80;
        TestChild adder([] {
            TQuorlaDB mine(TScriptedServices::ofTest());
            for (int n = 0; n < Events; ++n) {
                const QList<int> assignees = n % 2 ? QList{2, 3} : QList{2};
                if (!thrown([&] { addEntry(mine, 1, assignees, QStringLiteral("e%1").arg(n), 1000 + n); }).isEmpty())
                    return 1;
            }
            return 0;
        });
        while (db->DayEntries().RecordCount() < Events / 4)
            QThread::msleep(2);
        TUserRemoval removal(*db, Bert, choose("TD"));
        // The other workstation holds a new entry's lock for a moment.
        QCOMPARE(retried(TUserRemoval::Locked, 200, [&] { removal.run(); }), QString());
        QCOMPARE(adder.wait(), 0);

        AlarmRecord alarm;
        DayEntryRecord entry;
        int checked = 0;
        TLookup::Each(db->Alarms(), alarm.bytes(), [&](const QString&) {
            QVERIFY2(TLookup::Equal(db->DayEntries(), entry.bytes(), TXIsamFile::PrimaryIndex, alarm.DayEntryKey()),
                     "an alarm without its entry");
            QCOMPARE(entry.Description(), QStringLiteral("e%1").arg(RecordKey::parse(alarm.AlarmTime()) - 1000));
            QVERIFY(entry.AssigneeKeys().contains(alarm.UserKey()));
            ++checked;
        });
        QVERIFY(checked > 0);
    }
};

QUORLA_TEST_CORE_MAIN(tst_UserRemoval)
#include "tst_userremoval.moc"
