// The delete-user wizard around the store's pass: the answers reach it, the
// last page says what they will do, its message, and the last
// page kept after a lock held on another workstation stopped it.
// BERT (key 2) is removed; ANNA 1, CARL 3 and DORA 4 remain.

#include "AdminTestSupport.h"
#include "QuorlaTest.h"

#include "AlarmRecord.h"
#include "TScriptedServices.h"
#include "TfrmDeleteUser.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QStackedWidget>

using namespace AdminTest;

namespace {
const QString Bert = RecordKey::format(2);
const QString Locked = QStringLiteral("Unable to complete deletion. Another user has locked the database");

// Chooses the answers - "D" delete or "T" transfer to CARL on the Owner page, "D"
// delete or "A" assign to DORA on the Assigned page - and walks to the last page.
void answer(TfrmDeleteUser& w, const QByteArray& answers)
{
    click(&w, "actNext");
    w.findChild<QRadioButton*>(answers[0] == 'D' ? "rdoOwnerDelete" : "rdoOwnerTransfer")->click();
    child<QComboBox>(&w, "cmbOwner")->setCurrentIndex(1);
    click(&w, "actNext");
    w.findChild<QRadioButton*>(answers[1] == 'D' ? "rdoAssignedDelete" : "rdoAssignedAssign")->click();
    child<QComboBox>(&w, "cmbAssigned")->setCurrentIndex(2);
    click(&w, "actNext");
}
} // namespace

class tst_DeleteUser : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> db_;

private slots:
    void cleanup() { db_.reset(); services_.reset(); }
    void init()
    {
        services_ = std::make_unique<TScriptedServices>();
        db_ = database(QStringLiteral("wizard"));
        addUsers(*db_, {"ANNA", "BERT", "CARL", "DORA"});
    }

    void summaryText_data()
    {
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<QString>("summary");
        QTest::newRow("entries kept") << QByteArray("TA")
                                      << "2 entries transferred to CARL Full, 1 assignment to DORA Full, 0 entries "
                                         "deleted, this user's alarms deleted.";
        QTest::newRow("entries deleted, other users' alarms with them")
            << QByteArray("DD")
            << "3 entries deleted with all their alarms, other users' too, this user's alarms deleted.";
    }

    // The last page says what the answers will do, alarms of deleted entries
    // included.
    void summaryText()
    {
        QFETCH(QByteArray, answers);
        QFETCH(QString, summary);
        addEntry(*db_, 1, {2});
        addEntry(*db_, 2, {2, 3});
        addEntry(*db_, 2, {1});
        QString shown;
        TfrmDeleteUser wizard(TScriptedServices::ofTest());
        QCOMPARE(run<TfrmDeleteUser>(wizard, [&](TfrmDeleteUser& w) {
            answer(w, answers);
            shown = child<QLabel>(&w, "lblSummary")->text();
            click(&w, "actCancel");
        }, Bert, *db_), 2);
        QCOMPARE(shown, QStringLiteral("Delete will remove BERT Full (BERT): ") + summary);
    }

    // A lock held elsewhere stops the pass with the error box and keeps the
    // last page; Delete again finishes it, and says that alarms left without
    // entries went with him (the pass proves which).
    void lockedElsewhere()
    {
        const QString held = addEntry(*db_, 1, {2, 3});
        for (int user : {2, 1}) {
            AlarmRecord a;
            a.setUserKey(RecordKey::format(user));
            a.rebuildUserAlarmKey();
            db_->Alarms().Insert(a.bytes());
        }
        auto elsewhere = database();
        QVERIFY(elsewhere->DayEntries().Lock(held));
        services_->expectMessage(Kind::Error, Locked, Answer::Ok);
        services_->expectMessage(Kind::Information, QStringLiteral("Some alarms associated with this user were deleted"),
                                 Answer::Ok);
        bool stopped = false;
        TfrmDeleteUser wizard(TScriptedServices::ofTest());
        QCOMPARE(run<TfrmDeleteUser>(wizard, [&](TfrmDeleteUser& w) {
            answer(w, "TA");
            click(&w, "actDelete");
            stopped = !stored<UserRecord>(db_->Users(), Bert).isEmpty()
                      && child<QStackedWidget>(&w, "nbkMain")->currentIndex() == 3 && child<QLabel>(&w, "lblScanning")->isVisible();
            elsewhere->DayEntries().Unlock(held);
            click(&w, "actDelete");
        }, Bert, *db_), 1);
        QVERIFY(stopped);
        QCOMPARE(read<DayEntryRecord>(db_->DayEntries(), held).AssigneeKeys(), QStringList{RecordKey::format(3)});
    }
};

QUORLA_TEST_GUI_MAIN(tst_DeleteUser)
#include "tst_deleteuser.moc"
