// The delete-user wizard: what its pass makes of each kind of entry, the
// user's alarms, an empty calendar, a lock held on another workstation, and
// Cancel. BERT (key 2) is removed; ANNA 1, CARL 3 and DORA 4 remain.

#include "AdminTestSupport.h"
#include "QuorlaTest.h"

#include "AlarmRecord.h"
#include "TScriptedServices.h"
#include "TfrmDeleteUser.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QStackedWidget>

using namespace AdminTest;
using Kind = TServices::MessageKind;

namespace {
const QString Bert = RecordKey::format(2);
const QString Locked = QStringLiteral("Unable to complete deletion. Another user has locked the database");

// Chooses the answers (new owner CARL, new assignee DORA) and walks to the last page.
void answer(TfrmDeleteUser& w, bool ownerDelete, bool assignedDelete)
{
    click(w, "actNext");
    w.findChild<QRadioButton*>(ownerDelete ? "rdoOwnerDelete" : "rdoOwnerTransfer")->click();
    w.findChild<QComboBox*>("cmbOwner")->setCurrentIndex(1);
    click(w, "actNext");
    w.findChild<QRadioButton*>(assignedDelete ? "rdoAssignedDelete" : "rdoAssignedAssign")->click();
    w.findChild<QComboBox*>("cmbAssigned")->setCurrentIndex(2);
    click(w, "actNext");
}
} // namespace

class tst_DeleteUser : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { db_.reset(); services_.reset(); }
    void pass_data();
    void pass();
    void alarmsWithoutEntries();
    void lockedElsewhere();

private:
    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> db_;
};

void tst_DeleteUser::init()
{
    services_ = std::make_unique<TScriptedServices>();
    db_ = database(QStringLiteral("wizard"));
    addUsers(*db_, {"ANNA", "BERT", "CARL", "DORA"});
}

void tst_DeleteUser::pass_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("ownerDelete");
    QTest::addColumn<bool>("assignedDelete");
    QTest::addColumn<int>("owner");
    QTest::addColumn<QList<int>>("assignees");
    QTest::addColumn<int>("newOwner"); // 0: the entry is gone
    QTest::addColumn<QList<int>>("newAssignees");

    QTest::newRow("owned, his alone: transfer and assign") << false << false << false << 2 << QList{2} << 3 << QList{4, 0};
    QTest::newRow("owned, delete chosen: gone with others") << false << true << false << 2 << QList{1, 3} << 0 << QList<int>{};
    QTest::newRow("assigned with others: his slot only") << false << false << false << 1 << QList{1, 2, 3} << 1 << QList{1, 0, 3};
    QTest::newRow("his alone, delete chosen") << false << false << true << 1 << QList{2} << 0 << QList<int>{};
    QTest::newRow("cancel touches nothing") << true << true << true << 2 << QList{2} << 2 << QList{2, 0};
}

void tst_DeleteUser::pass()
{
    QFETCH(bool, cancel);
    QFETCH(bool, ownerDelete);
    QFETCH(bool, assignedDelete);
    QFETCH(int, owner);
    QFETCH(QList<int>, assignees);
    QFETCH(int, newOwner);
    QFETCH(QList<int>, newAssignees);

    const QString key = addEntry(*db_, owner, assignees);
    const QString bystander = addEntry(*db_, 1, {3, 4});
    const QByteArray bystanderBytes = stored<DayEntryRecord>(db_->DayEntries(), bystander);

    TfrmDeleteUser wizard;
    QCOMPARE(run<TfrmDeleteUser>(wizard, [&](TfrmDeleteUser& w) {
        answer(w, ownerDelete, assignedDelete);
        click(w, cancel ? "actCancel" : "actDelete");
    }, Bert, *db_), cancel ? 2 : 1);

    QCOMPARE(stored<UserRecord>(db_->Users(), Bert).isEmpty(), !cancel);
    QCOMPARE(stored<DayEntryRecord>(db_->DayEntries(), bystander), bystanderBytes);
    QCOMPARE(stored<DayEntryRecord>(db_->DayEntries(), key).isEmpty(), newOwner == 0);
    if (newOwner != 0) {
        const auto entry = read<DayEntryRecord>(db_->DayEntries(), key);
        QCOMPARE(entry.OwnerKey(), RecordKey::format(newOwner));
        for (int slot = 0; slot < newAssignees.size(); ++slot)
            QCOMPARE(entry.Assignee(slot), RecordKey::format(newAssignees[slot]));
    }
}

void tst_DeleteUser::alarmsWithoutEntries()
{
    QStringList alarmKeys;
    for (int user : {2, 1, 2}) {
        AlarmRecord a;
        db_->InitAlarmRecord(a);
        a.setUserKey(RecordKey::format(user));
        a.rebuildUserAlarmKey();
        QVERIFY(db_->Alarms().Insert(a.bytes()));
        alarmKeys << db_->Alarms().CurrentKey();
    }
    services_->expectMessage(Kind::Information, QStringLiteral("Some alarms associated with this user were deleted"), TServices::MessageAnswer::Ok);

    TfrmDeleteUser wizard;
    QCOMPARE(run<TfrmDeleteUser>(wizard, [](TfrmDeleteUser& w) {
        answer(w, false, false);
        click(w, "actDelete");
    }, Bert, *db_), 1);

    auto* progress = wizard.findChild<QProgressBar*>("prgScanning");
    QCOMPARE(QList({progress->maximum(), progress->value()}), QList({0, 0}));
    QCOMPARE(QList({stored<AlarmRecord>(db_->Alarms(), alarmKeys[0]).isEmpty(), stored<AlarmRecord>(db_->Alarms(), alarmKeys[1]).isEmpty(),
                    stored<AlarmRecord>(db_->Alarms(), alarmKeys[2]).isEmpty()}), QList({true, false, true}));
    QCOMPARE(db_->Users().RecordCount(), 3);
    QCOMPARE(services_->busyDepth(), 0);
}

void tst_DeleteUser::lockedElsewhere()
{
    const QStringList keys{addEntry(*db_, 1, {2}), addEntry(*db_, 1, {2, 3}), addEntry(*db_, 2, {1})};
    auto elsewhere = database();
    QVERIFY(elsewhere->DayEntries().Lock(keys[1]));
    services_->expectMessage(Kind::Error, Locked, TServices::MessageAnswer::Ok);

    QList<bool> stopped;
    TfrmDeleteUser wizard;
    QCOMPARE(run<TfrmDeleteUser>(wizard, [&](TfrmDeleteUser& w) {
        answer(w, false, false);
        click(w, "actDelete");
        stopped = {stored<UserRecord>(db_->Users(), Bert).isEmpty(),
                   read<DayEntryRecord>(db_->DayEntries(), keys[0]).Assignee(0) == RecordKey::format(4),
                   read<DayEntryRecord>(db_->DayEntries(), keys[1]).Assignee(0) == Bert,
                   w.findChild<QStackedWidget*>("nbkMain")->currentIndex() == 3 && w.findChild<QLabel*>("lblScanning")->isVisible()};
        elsewhere->DayEntries().Unlock(keys[1]);
        click(w, "actDelete");
    }, Bert, *db_), 1);

    QCOMPARE(stopped, QList({false, true, true, true}));
    QCOMPARE(read<DayEntryRecord>(db_->DayEntries(), keys[1]).AssigneeKeys(), QStringList{RecordKey::format(3)});
    QCOMPARE(read<DayEntryRecord>(db_->DayEntries(), keys[2]).OwnerKey(), RecordKey::format(3));
    QVERIFY(stored<UserRecord>(db_->Users(), Bert).isEmpty());
}

QUORLA_TEST_GUI_MAIN(tst_DeleteUser)
#include "tst_deleteuser.moc"
