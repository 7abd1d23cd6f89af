// The troubleshooting dialog on records written straight through the data
// store: lines in time order, "ERR" for dangling references, private entries
// listed, and every tab switch reading the datasets afresh; the Changes page
// by user and dates, a page at a time.

#include "AppTestSupport.h"
#include "DayEntryRecord.h"
#include "DialogTest.h"
#include "IsamCode.h"
#include "CategoryRecord.h"
#include "TCategoryWriter.h"
#include "TUserRemoval.h"
#include "TfrmTrouble.h"

#include <QDateEdit>
#include <QPushButton>
#include <QTabWidget>

using namespace AppTest;
using namespace DialogTest;

namespace {

QString k(int n) { return RecordKey::format(n); }

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
    // Dangling references read "ERR"; a private entry is listed; a tab switch
    // reads the datasets afresh. A dataset that cannot be read (here: closed
    // under the dialog) is an error, shown as one, never a line saying "ERR"
    // as if the record were missing.
    void lists_data()
    {
        QTest::addColumn<QString>("unreadable");
        QTest::newRow("all read") << "";
        QTest::newRow("users unreadable") << "users";
        QTest::newRow("day entries unreadable") << "entries";
        QTest::newRow("alarms unreadable") << "alarms";
    }
    void lists()
    {
        QFETCH(QString, unreadable);
        TScriptedServices services;
        auto db = database(QStringLiteral("lists") + unreadable);   // key 1 is U21
        addEntry(*db, k(1700000000), k(1), {k(2)}, DayEntryRecord::Private, "secret");   // key 1, U20's only
        addEntry(*db, k(1699990000), k(3), {k(2)}, 0, "orphan");   // key 2, its owner removed below
        addEntry(*db, k(1700003600), k(1), {k(2)}, 0, "gone");     // key 3, removed below
        addAlarm(*db, k(1700003600), k(1), k(1));
        addAlarm(*db, k(1699990000), k(3), k(1));
        addAlarm(*db, k(1700000000), k(2), k(3));
        QVERIFY(db->Users().Delete(k(3)) && db->DayEntries().Delete(k(3)));
        TfrmTrouble dialog(TScriptedServices::ofTest());
        if (!unreadable.isEmpty()) {
            TXIsamFile& closed = unreadable == "users" ? db->Users() : unreadable == "entries" ? db->DayEntries() : db->Alarms();
            QVERIFY(closed.Close());
            // Should the dialog open after all, it is closed again.
            QTimer::singleShot(2000, &dialog, [] {
                if (QWidget* modal = QApplication::activeModalWidget())
                    modal->close();
            });
            QCOMPARE(thrown([&] { dialog.Execute(*db); }), TXIsamFile::ErrorText(IsamNotOpen));
            return;
        }
        QStringList shownAlarms, shownEvents, reread;
        whenModal([&](QWidget* w) {
            shownAlarms = lines(w, "lstAlarms");
            child<QTabWidget>(w, "pgTrouble")->setCurrentIndex(1);   // Events
            shownEvents = lines(w, "lstEvents");
            TQuorlaDB otherWorkstation(TScriptedServices::ofTest());
            addAlarm(otherWorkstation, k(1700007200), k(1), k(1));
            child<QTabWidget>(w, "pgTrouble")->setCurrentIndex(0);
            reread = lines(w, "lstAlarms");
            click(w, "btnClose");
        });
        QCOMPARE(dialog.Execute(*db), 1);
        QStringList alarms{"Time = 19:26:40 14/11/23, User = ERR, Description = secret",
                           "Time = 22:13:20 14/11/23, User = U20, Description = ERR",
                           "Time = 23:13:20 14/11/23, User = U21, Description = secret"};
        QCOMPARE(shownAlarms, alarms);
        QCOMPARE(shownEvents, (QStringList{"Time = 19:26:40 14/11/23, Owner = ERR, Description = ERR",
                                           "Time = 22:13:20 14/11/23, Owner = U21, Description = secret"}));
        QCOMPARE(reread, alarms << "Time = 00:13:20 15/11/23, User = U21, Description = secret");
    }
    void changes_data()
    {
        QTest::addColumn<int>("user");
        QTest::addColumn<int>("fromDay");
        QTest::addColumn<int>("toDay");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("first");
        // Categories added on 1 to 4 March by U21 (odd days) and U20 (even days),
        // then page 2: a hundred more on 5 March by U21, who then removes U20.
        // No dates chosen: day 0.
        QTest::newRow("everybody, latest first") << 0 << 0 << 0 << QStringList{"“c104”", "“c5”", "“c4”", "“c3”"}
                                                 << "05/03/26 09:17  U21 on ws-test: User removed by the wizard: “U20”";
        QTest::newRow("a removed user, named as the trail last named him")
            << 2 << 0 << 0 << QStringList{"“c4”", "“c2”"} << "04/03/26 09:00  U20 (removed) on ws-test: Category added";
        QTest::newRow("nothing on those days") << 0 << 6 << 7 << QStringList{} << "No changes recorded for this choice";
    }

    // The page lists the changes latest first, by the user chosen (those removed
    // too) and between the dates chosen; More adds the older ones after the first
    // hundred; an empty choice says so.
    void changes()
    {
        QFETCH(int, user);
        QFETCH(int, fromDay);
        QFETCH(int, toDay);
        QFETCH(QStringList, shown);
        QFETCH(QString, first);
        TScriptedServices services;
        auto db = database(QStringLiteral("changes_") + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'),
                           {"U21", "U20"});
        for (int n = 1; n <= 104; ++n) {
            const int day = std::min(n, 5);
            services.setNow(QDateTime(QDate(2026, 3, day), QTime(9, 0)).addSecs(10 * n));
            db->SetActingUser(k(day % 2 ? 1 : 2));
            CategoryRecord c;
            // The oldest line is the longest: nothing of it may be cut off.
            TCategoryWriter(*db).addCategory(n == 1 ? QStringLiteral("Quarterly planning with owners") : QStringLiteral("c%1").arg(n), c);
        }
        TUserRemoval(*db, k(2), {false, k(1), false, k(1)}).run();
        TfrmTrouble dialog(TScriptedServices::ofTest());
        QStringList firstPage, all, cut;
        whenModal([&](QWidget* w) {
            child<QTabWidget>(w, "pgTrouble")->setCurrentWidget(child(w, "tabChanges"));
            auto* users = child<QComboBox>(w, "cmbChangesUser");
            users->setCurrentIndex(user);
            emit users->activated(user);
            if (fromDay > 0) {
                child<QDateEdit>(w, "cmbChangesFrom")->setDate(QDate(2026, 3, fromDay));
                child<QDateEdit>(w, "cmbChangesTo")->setDate(QDate(2026, 3, toDay));
                child<QCheckBox>(w, "chkChangesDates")->setChecked(true);
            }
            firstPage = lines(w, "lstChanges");
            if (child<QPushButton>(w, "btnChangesMore")->isEnabled())
                click(w, "btnChangesMore");
            all = lines(w, "lstChanges");
            auto* list = child<QListWidget>(w, "lstChanges");
            list->doItemsLayout();
            for (const QListWidgetItem* item : list->findItems(QString(), Qt::MatchContains))
                if (list->visualItemRect(item).width() < list->fontMetrics().horizontalAdvance(item->text()))
                    cut << item->text();
            click(w, "btnClose");
        });
        QCOMPARE(dialog.Execute(*db), 1);
        QCOMPARE(firstPage.size(), std::min<qsizetype>(all.size(), TfrmTrouble::PageSize));
        QStringList picked;
        for (const QString& line : all)
            if (shown.contains(line.section(QStringLiteral(": "), -1)))
                picked << line.section(QStringLiteral(": "), -1);
        QCOMPARE(picked, shown);
        QVERIFY2(all.value(0).startsWith(first), qPrintable(all.value(0)));
        QCOMPARE(cut, QStringList());
    }
};

QUORLA_TEST_GUI_MAIN(tst_Trouble)
#include "tst_trouble.moc"
