// The group dialogs: slots, typed names, the OK rule, the stored form, and
// ticking a group's members in another dialog's list.

#include "DialogTest.h"
#include "TDisplaySettings.h"
#include "TUserCheckList.h"
#include "TfrmAEGroup.h"
#include "TfrmGroups.h"
#include "TfrmSelectGroup.h"

#include <QAction>

using namespace DialogTest;

class tst_Groups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { db = database(QStringLiteral("groups")); }
    void freedSlotTakesNewGroup()
    {
        TScriptedServices services;
        services.expectMessage(Kind::Confirmation, QStringLiteral("Delete group \"G3\". Are you sure?"), Answer::Yes);
        TDisplaySettings cfg;
        for (int slot = 0; slot < 10; ++slot)
            cfg.Groups[slot].SetFromText(QStringLiteral("G%1,0000000001").arg(slot));
        TfrmGroups groups(TScriptedServices::ofTest());
        whenModal([](QWidget* w) {
            auto* actNew = child<QAction>(w, "actNew");
            QVERIFY(!actNew->isEnabled());
            child<QListWidget>(w, "lstGroups")->setCurrentRow(3);
            child<QAction>(w, "actDelete")->trigger();
            QVERIFY(actNew->isEnabled());
            whenModal([](QWidget* ae) {
                QTest::keyClicks(child(ae, "edtDescription"), QStringLiteral("Sales team-1,x!"));
                QCOMPARE(child<QLineEdit>(ae, "edtDescription")->text(), QStringLiteral("Salesteam1x"));
                child<QListWidget>(ae, "lstMembers")->item(2)->setCheckState(Qt::Checked);   // U03
                child<QListWidget>(ae, "lstMembers")->item(0)->setCheckState(Qt::Checked);   // U01
                click(ae, "btnOk");
            });
            actNew->trigger();
            QVERIFY(!actNew->isEnabled());
            click(w, "btnClose");
        });
        QCOMPARE(groups.Execute(cfg, *db), 1);
        QCOMPARE(cfg.Groups[3].AsText(), QStringLiteral("Salesteam1x,0000000021,0000000019"));   // list order
    }
    void okNeedsNameAndMembers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ticked");
        QTest::addColumn<bool>("enabled");   // OK enabled, and so pressed
        QTest::newRow("no name") << QString() << 1 << false;
        QTest::newRow("no member") << "A" << 0 << false;
        QTest::newRow("twenty members") << "A" << 20 << true;
        QTest::newRow("twenty-one members") << "A" << 21 << false;
    }
    void okNeedsNameAndMembers()
    {
        QFETCH(QString, name);
        QFETCH(int, ticked);
        QFETCH(bool, enabled);
        TScriptedServices services;
        TGroup group;
        group.SetFromText(QStringLiteral("Old,0000000999"));   // a member who is no user any more
        TfrmAEGroup dialog;
        whenModal([&](QWidget* w) {
            QVERIFY(!child(w, "btnOk")->isEnabled());
            child<QLineEdit>(w, "edtDescription")->setText(name);
            tick(w, "lstMembers", ticked);
            QCOMPARE(child(w, "btnOk")->isEnabled(), enabled);
            click(w, enabled ? "btnOk" : "btnCancel");
        });
        QCOMPARE(dialog.Execute(group, QStringLiteral("Group Properties"), *db), enabled ? 1 : 2);
        QCOMPARE(group.Name, enabled ? name : QStringLiteral("Old"));
        QCOMPARE(group.Members.size(), enabled ? ticked : 1);
    }
    void selectTicksExactlyMembers()
    {
        TScriptedServices services;
        TDisplaySettings cfg;
        QListWidget users;
        TUserCheckList::Fill(users, db->Users());
        users.item(0)->setCheckState(Qt::Checked);
        TfrmSelectGroup select;
        cfg.Groups[4].SetFromText(QStringLiteral("Pair,0000000002,0000000999,0000000005"));
        whenModal([](QWidget* w) {
            child<QListWidget>(w, "lstGroups")->clearSelection();
            QVERIFY(!child(w, "btnOk")->isEnabled());
            child<QListWidget>(w, "lstGroups")->setCurrentRow(0);
            click(w, "btnOk");
        });
        QCOMPARE(select.Execute(cfg, users), 1);
        QCOMPARE(TUserCheckList::TickedCount(users), 2);
        QVERIFY(TUserCheckList::Ticked(*users.item(16)) && TUserCheckList::Ticked(*users.item(19)));   // U17, U20
    }

private:
    std::unique_ptr<TQuorlaDB> db;
};

QUORLA_TEST_GUI_MAIN(tst_Groups)
#include "tst_groups.moc"
