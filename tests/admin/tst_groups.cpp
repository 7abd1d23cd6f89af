// The group dialogs: slots, typed names, the OK rule, the stored form, and
// ticking a group's members in another dialog's list.

#include "DialogTest.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TQuorlaCfg.h"
#include "TScriptedServices.h"
#include "TUserCheckList.h"
#include "TfrmAEGroup.h"
#include "TfrmGroups.h"
#include "TfrmSelectGroup.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace DialogTest;

class tst_Groups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void freedSlotTakesNewGroup();
    void okNeedsNameAndMembers_data();
    void okNeedsNameAndMembers();
    void selectTicksExactlyMembers();

private:
    std::unique_ptr<TQuorlaDB> db;
};

void tst_Groups::initTestCase()
{
    QStringList names;
    for (int i = 21; i >= 1; --i)
        names << QStringLiteral("User%1").arg(i, 2, 10, QLatin1Char('0'));
    db = database(QStringLiteral("groups"), names);   // User21 has key 1, User01 key 21
}

void tst_Groups::freedSlotTakesNewGroup()
{
    TScriptedServices services;
    services.expectMessage(TServices::MessageKind::Confirmation, QStringLiteral("Delete group \"G3\". Are you sure?"),
                           TServices::MessageAnswer::Yes);
    TQuorlaCfg cfg;
    for (int slot = 0; slot < 10; ++slot)
        cfg.Groups[slot].SetFromText(QStringLiteral("G%1,0000000001").arg(slot));
    TfrmGroups groups;
    whenModal([](QWidget* w) {
        auto* actNew = child<QAction>(w, "actNew");
        QVERIFY(!actNew->isEnabled());
        auto* list = child<QListWidget>(w, "lstGroups");
        list->setCurrentItem(list->findItems(QStringLiteral("G3"), Qt::MatchExactly).first());
        child<QAction>(w, "actDelete")->trigger();
        QVERIFY(actNew->isEnabled());
        whenModal([](QWidget* ae) {
            QTest::keyClicks(child(ae, "edtDescription"), QStringLiteral("Sales team-1,x!"));
            QCOMPARE(child<QLineEdit>(ae, "edtDescription")->text(), QStringLiteral("Salesteam1x"));
            auto* members = child<QListWidget>(ae, "lstMembers");
            members->item(0)->setCheckState(Qt::Checked);   // User01
            members->item(2)->setCheckState(Qt::Checked);   // User03
            QTest::mouseClick(child(ae, "btnOk"), Qt::LeftButton);
        });
        actNew->trigger();
        QVERIFY(!actNew->isEnabled());
        QTest::mouseClick(child(w, "btnClose"), Qt::LeftButton);
    });
    QCOMPARE(groups.Execute(cfg, *db), 1);
    QCOMPARE(cfg.Groups[3].AsText(), QStringLiteral("Salesteam1x,0000000021,0000000019"));
    TGroup copy;
    copy.SetFromText(cfg.Groups[3].AsText());
    QCOMPARE(copy.Members, cfg.Groups[3].Members);
}

void tst_Groups::okNeedsNameAndMembers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("ticked");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("no name") << QString() << 1 << false;
    QTest::newRow("no member") << "A" << 0 << false;
    QTest::newRow("one member") << "A" << 1 << true;
    QTest::newRow("twenty members") << "A" << 20 << true;
    QTest::newRow("twenty-one members") << "A" << 21 << false;
}

void tst_Groups::okNeedsNameAndMembers()
{
    QFETCH(QString, name);
    QFETCH(int, ticked);
    QFETCH(bool, enabled);
    TScriptedServices services;
    TGroup group;
    group.SetFromText(QStringLiteral("Old,0000000999"));   // a member who is no user any more
    TfrmAEGroup dialog;
    whenModal([&](QWidget* w) {
        QCOMPARE(w->windowTitle(), QStringLiteral("Group Properties"));
        QVERIFY(!child(w, "btnOk")->isEnabled());
        child<QLineEdit>(w, "edtDescription")->setText(name);
        auto* members = child<QListWidget>(w, "lstMembers");
        for (int row = 0; row < ticked; ++row)
            members->item(row)->setCheckState(Qt::Checked);
        QCOMPARE(child(w, "btnOk")->isEnabled(), enabled);
        QTest::mouseClick(child(w, enabled ? "btnOk" : "btnCancel"), Qt::LeftButton);
    });
    QCOMPARE(dialog.Execute(group, QStringLiteral("Group Properties"), *db), enabled ? 1 : 2);
    QCOMPARE(group.Name, enabled ? name : QStringLiteral("Old"));
    QCOMPARE(group.Members.size(), enabled ? ticked : 1);
}

void tst_Groups::selectTicksExactlyMembers()
{
    TScriptedServices services;
    TQuorlaCfg cfg;
    QListWidget users;
    TUserCheckList::Fill(users, db->Users());
    users.item(0)->setCheckState(Qt::Checked);
    TfrmSelectGroup select;
    whenModal([](QWidget* w) {
        QVERIFY(!child(w, "btnOk")->isEnabled());   // no groups at all
        QTest::mouseClick(child(w, "btnCancel"), Qt::LeftButton);
    });
    QCOMPARE(select.Execute(cfg, users), 2);

    cfg.Groups[4].SetFromText(QStringLiteral("Pair,0000000002,0000000999,0000000005"));
    whenModal([](QWidget* w) {
        child<QListWidget>(w, "lstGroups")->clearSelection();
        QVERIFY(!child(w, "btnOk")->isEnabled());
        child<QListWidget>(w, "lstGroups")->setCurrentRow(0);
        QTest::mouseClick(child(w, "btnOk"), Qt::LeftButton);
    });
    QCOMPARE(select.Execute(cfg, users), 1);
    QStringList ticked;
    for (int row = 0; row < users.count(); ++row) {
        if (TUserCheckList::Ticked(*users.item(row)))
            ticked << TUserCheckList::Key(*users.item(row));
    }
    QCOMPARE(ticked, (QStringList{QStringLiteral("0000000005"), QStringLiteral("0000000002")}));
}

QUORLA_TEST_GUI_MAIN(tst_Groups)
#include "tst_groups.moc"
