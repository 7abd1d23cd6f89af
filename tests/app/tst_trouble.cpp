// The troubleshooting dialog on records written straight through the data
// store: lines in time order, "ERR" for dangling references, private entries
// listed, and every tab switch reading the datasets afresh.

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "DialogTest.h"
#include "TfrmTrouble.h"

#include <QTabWidget>

using namespace DialogTest;

namespace {

QString k(int n) { return RecordKey::format(n); }

void addEntry(TQuorlaDB& db, qint32 start, int owner, const QString& description, qint32 flags = 0)
{
    DayEntryRecord entry;
    entry.setStartTime(k(start));
    entry.setOwnerKey(k(owner));
    entry.setDescription(description);
    entry.setFlags(flags);
    entry.setAssigneeKeys({k(2)});
    QVERIFY(db.DayEntries().Insert(entry.bytes()));
}

void addAlarm(TQuorlaDB& db, qint32 time, int user, int entry)
{
    AlarmRecord alarm;
    alarm.setAlarmTime(k(time));
    alarm.setUserKey(k(user));
    alarm.setDayEntryKey(k(entry));
    alarm.rebuildUserAlarmKey();
    QVERIFY(db.Alarms().Insert(alarm.bytes()));
}

QStringList lines(QWidget* dialog, const char* list)
{
    QStringList texts;
    for (const QListWidgetItem* item : child<QListWidget>(dialog, list)->findItems(QString(), Qt::MatchContains))
        texts << item->text();
    return texts;
}

} // namespace

class tst_Trouble : public QObject
{
    Q_OBJECT

private slots:
    void lists_data();
    void lists();
};

void tst_Trouble::lists_data()
{
    QTest::addColumn<bool>("filled");
    QTest::addColumn<QStringList>("alarms");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("added");
    QTest::newRow("empty database") << false << QStringList{} << QStringList{}
                                    << "Time = 00:13:20 15/11/23, User = U21, Description = ERR";
    QTest::newRow("dangling references")
        << true
        << QStringList{"Time = 19:26:40 14/11/23, User = ERR, Description = secret",
                       "Time = 22:13:20 14/11/23, User = U20, Description = ERR",
                       "Time = 23:13:20 14/11/23, User = U21, Description = secret"}
        << QStringList{"Time = 19:26:40 14/11/23, Owner = ERR, Description = ERR",
                       "Time = 22:13:20 14/11/23, Owner = U21, Description = secret"}
        << "Time = 00:13:20 15/11/23, User = U21, Description = secret";
}

void tst_Trouble::lists()
{
    QFETCH(bool, filled);
    TScriptedServices services;
    auto db = database(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'));   // key 1 is U21
    if (filled) {
        addEntry(*db, 1700000000, 1, QStringLiteral("secret"), DayEntryRecord::Private);   // key 1, U20's only
        addEntry(*db, 1699990000, 3, QStringLiteral("orphan"));   // key 2, its owner removed below
        addEntry(*db, 1700003600, 1, QStringLiteral("gone"));     // key 3, removed below
        addAlarm(*db, 1700003600, 1, 1);
        addAlarm(*db, 1699990000, 3, 1);
        addAlarm(*db, 1700000000, 2, 3);
        QVERIFY(db->Users().Delete(k(3)) && db->DayEntries().Delete(k(3)));
    }
    TfrmTrouble dialog;
    QStringList shownAlarms, shownEvents, reread;
    whenModal([&](QWidget* w) {
        shownAlarms = lines(w, "lstAlarms");
        child<QTabWidget>(w, "pgTrouble")->setCurrentIndex(1);   // Events
        shownEvents = lines(w, "lstEvents");
        TQuorlaDB otherWorkstation;
        addAlarm(otherWorkstation, 1700007200, 1, 1);
        child<QTabWidget>(w, "pgTrouble")->setCurrentIndex(0);
        reread = lines(w, "lstAlarms");
        click(w, "btnClose");
    });
    QCOMPARE(dialog.Execute(*db), 1);
    QTEST(shownAlarms, "alarms");
    QTEST(shownEvents, "events");
    QFETCH(QStringList, alarms);
    QFETCH(QString, added);
    QCOMPARE(reread, alarms << added);
}

QUORLA_TEST_GUI_MAIN(tst_Trouble)
#include "tst_trouble.moc"
