// The event editor through its controls: times in five-minute steps, un-timed
// events, the user limit, the alarm box, the OK rules and prompts, load
// failures, and the e-mail to the other assignees.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "DialogTest.h"
#include "EQuorla.h"
#include "QuorlaTest.h"
#include "RecordKey.h"
#include "TDateEdit.h"
#include "TQuorlaCfg.h"
#include "TScriptedServices.h"
#include "TfrmEvent.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

using namespace DialogTest;
using Kind = TServices::MessageKind;
using Answer = TServices::MessageAnswer;

class tst_Event : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void timeAndOwner_data();
    void timeAndOwner();
    void userLimit_data();
    void userLimit();
    void alarmFollowsUsersAndHand();
    void categoryFillsEmptyDescription();
    void declinedPromptKeepsDialog_data();
    void declinedPromptKeepsDialog();
    void unknownAssigneeFailsBeforeShowing();
    void notification_data();
    void notification();

private:
    // Users "U01" to "U21" are inserted from U21 down, so U01 has key 21 and
    // the list's name order is the reverse of key order. U02 edits.
    static QString user(int n) { return RecordKey::format(22 - n); }
    DayEntryRecord entry(qint32 flags, const QStringList& assignees, const QString& category = user(21)) const;
    int run(DayEntryRecord& e, const std::function<void(QWidget*)>& act, bool isEdit = false);

    std::unique_ptr<TQuorlaDB> db;
    TQuorlaCfg cfg;
    TfrmEvent frm;
    AlarmRecord alarm;
};

void tst_Event::initTestCase()
{
    QStringList names;
    for (int n = 21; n >= 1; --n)
        names << QStringLiteral("U%1").arg(n, 2, 10, QLatin1Char('0'));
    db = database(QStringLiteral("event"), names);
    for (const char* text : {"Meeting", "Holiday"}) {
        CategoryRecord category;   // Meeting is key 1, Holiday key 2
        category.setDescription(QString::fromLatin1(text));
        db->Categories().Insert(category.bytes());
    }
}

DayEntryRecord tst_Event::entry(qint32 flags, const QStringList& assignees, const QString& category) const
{
    TStamp start;
    start.SetDateTime(2024, 3, 4, 10, 7, 0);
    DayEntryRecord e;
    e.initialise();
    e.setStartTime(start.Key());
    e.setOwnerKey(user(2));
    e.setCategoryKey(category);
    e.setDescription(QStringLiteral("Review"));
    e.setFlags(flags);
    e.setAssigneeKeys(assignees);
    return e;
}

int tst_Event::run(DayEntryRecord& e, const std::function<void(QWidget*)>& act, bool isEdit)
{
    whenModal(act);
    return frm.Execute(isEdit, e, alarm, *db, user(2), cfg);
}

void tst_Event::timeAndOwner_data()
{
    QTest::addColumn<qint32>("flags");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("shownOwner");
    QTest::addColumn<QString>("saved");
    QTest::newRow("timed, 10:07 steps down") << 0 << user(2) << "U02" << "04/03/2024 10:05:00";
    QTest::newRow("un-timed, owner gone") << 1 << QStringLiteral("0000000777") << "ERR" << "04/03/2024 00:00:00";
}

void tst_Event::timeAndOwner()
{
    QFETCH(qint32, flags);
    QFETCH(QString, owner);
    QFETCH(QString, shownOwner);
    QFETCH(QString, saved);
    TScriptedServices services;
    DayEntryRecord e = entry(flags, {user(2)});
    e.setOwnerKey(owner);
    QCOMPARE(run(e, [&](QWidget* w) {
                 QCOMPARE(child<QComboBox>(w, "cmbHour")->currentText(), QStringLiteral("10"));
                 QCOMPARE(child<QComboBox>(w, "cmbMinute")->currentText(), QStringLiteral("05"));
                 QCOMPARE(child(w, "cmbMinute")->isEnabled(), flags == 0);
                 QCOMPARE(child(w, "lblTime")->isEnabled(), flags == 0);
                 QCOMPARE(child<QLineEdit>(w, "edtOwner")->text(), shownOwner);
                 QTest::mouseClick(child(w, "btnOk"), Qt::LeftButton);
             }),
             1);
    TStamp stamp;
    stamp.Format = QStringLiteral("dd/mm/yyyy hh:nn:ss");
    stamp.SetSeconds(e.StartTime().toInt());
    QCOMPARE(stamp.AsString(), saved);
    QCOMPARE(e.Flags(), flags);
}

void tst_Event::userLimit_data()
{
    QTest::addColumn<int>("ticked");
    QTest::newRow("twenty are accepted") << 20;
    QTest::newRow("a twenty-first is refused") << 21;
}

void tst_Event::userLimit()
{
    QFETCH(int, ticked);
    TScriptedServices services;
    if (ticked > 20)
        services.expectMessage(Kind::Error, QStringLiteral("A maximum of 20 users can be associated with an event"),
                               Answer::Ok);
    DayEntryRecord e = entry(0, {user(2)});
    const DayEntryRecord before = e;
    frm.findChild<QCheckBox*>(QStringLiteral("chkNotify"))->setChecked(false);
    const int result = run(e, [&](QWidget* w) {
        auto* users = child<QListWidget>(w, "lstUsers");
        for (int row = 0; row < ticked; ++row)
            users->item(row)->setCheckState(Qt::Checked);
        QTest::mouseClick(child(w, "btnOk"), Qt::LeftButton);
        if (QApplication::activeModalWidget() == w)
            QTest::mouseClick(child(w, "btnCancel"), Qt::LeftButton);
    });
    frm.findChild<QCheckBox*>(QStringLiteral("chkNotify"))->setChecked(true);
    QCOMPARE(result, ticked > 20 ? 2 : 1);
    if (ticked > 20)
        QVERIFY(e == before);
    else
        QCOMPARE(e.AssigneeKeys().size(), 20);
}

void tst_Event::alarmFollowsUsersAndHand()
{
    TScriptedServices services;
    DayEntryRecord e = entry(0, {user(2)});
    alarm.setFlags(1);
    int alarmDialogs = 0;
    const auto closeAlarm = [&] {
        whenModal([&](QWidget* a) {
            ++alarmDialogs;
            QTest::mouseClick(child(a, "btnClose"), Qt::LeftButton);
        });
    };
    run(e, [&](QWidget* w) {
        auto* chkAlarm = child<QCheckBox>(w, "chkAlarm");
        QVERIFY(chkAlarm->isChecked() && chkAlarm->isEnabled());
        auto* users = child<QListWidget>(w, "lstUsers");
        users->item(1)->setCheckState(Qt::Unchecked);   // U02, the only one
        QVERIFY(!chkAlarm->isChecked() && !chkAlarm->isEnabled());
        users->item(4)->setCheckState(Qt::Checked);
        QVERIFY(!chkAlarm->isChecked() && chkAlarm->isEnabled());
        for (int click = 0; click < 3; ++click) {
            if (!chkAlarm->isChecked())
                closeAlarm();
            chkAlarm->click();
        }
        QTest::mouseClick(child(w, "btnCancel"), Qt::LeftButton);
    });
    QCOMPARE(alarmDialogs, 2);   // ticked twice by hand, never while loading
    alarm.setFlags(0);
}

void tst_Event::categoryFillsEmptyDescription()
{
    TScriptedServices services;
    DayEntryRecord e = entry(0, {user(2)}, RecordKey::format(0));
    e.setDescription(QString());
    run(e, [](QWidget* w) {
        QVERIFY(!child(w, "btnOk")->isEnabled());
        QTest::keyClick(child(w, "cmbCategory"), Qt::Key_Down);
        QCOMPARE(child<QLineEdit>(w, "edtDescription")->text(), QStringLiteral("Holiday"));
        QVERIFY(child(w, "btnOk")->isEnabled());
        QTest::mouseClick(child(w, "btnCancel"), Qt::LeftButton);
    });
}

void tst_Event::declinedPromptKeepsDialog_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<QStringList>("assignees");
    QTest::addColumn<QString>("question");
    const QString noCategory = QStringLiteral("You have not chosen a category for this event. Is this ok?");
    QTest::newRow("no category") << RecordKey::format(0) << QStringList{user(2)} << noCategory;
    QTest::newRow("unlisted category reads as none") << RecordKey::format(99) << QStringList{user(2)} << noCategory;
    QTest::newRow("no users") << user(21) << QStringList()
                              << "You have not chosen any users for this event. Is this ok?";
}

void tst_Event::declinedPromptKeepsDialog()
{
    QFETCH(QString, category);
    QFETCH(QStringList, assignees);
    QFETCH(QString, question);
    TScriptedServices services;
    services.expectMessage(Kind::Confirmation, question, Answer::No);
    DayEntryRecord e = entry(0, assignees, category);
    const DayEntryRecord before = e;
    QCOMPARE(run(e, [](QWidget* w) {
                 QTest::mouseClick(child(w, "btnOk"), Qt::LeftButton);
                 QCOMPARE(QApplication::activeModalWidget(), w);
                 QTest::mouseClick(child(w, "btnCancel"), Qt::LeftButton);
             }),
             2);
    QVERIFY(e == before);
}

void tst_Event::unknownAssigneeFailsBeforeShowing()
{
    TScriptedServices services;
    DayEntryRecord e = entry(0, {user(2), RecordKey::format(999)});
    try {
        frm.Execute(true, e, alarm, *db, user(2), cfg);
        QFAIL("no error");
    } catch (const EQuorla& error) {
        QCOMPARE(error.message(), QStringLiteral("Unknown user"));
    }
}

void tst_Event::notification_data()
{
    QTest::addColumn<QStringList>("assignees");
    QTest::addColumn<bool>("isEdit");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QStringList>("recipients");
    QTest::newRow("others in list order") << QStringList{user(5), user(2), user(3)} << false << false
                                          << QStringList{"U03", "U05"};
    QTest::newRow("only the author") << QStringList{user(2)} << false << false << QStringList();
    QTest::newRow("failed hand-off still saves") << QStringList{user(3)} << true << true << QStringList{"U03"};
}

void tst_Event::notification()
{
    QFETCH(QStringList, assignees);
    QFETCH(bool, isEdit);
    QFETCH(bool, fails);
    QFETCH(QStringList, recipients);
    TScriptedServices services;
    services.setHandOffResult({fails ? TServices::Outcome::Failed : TServices::Outcome::Done, {}});
    if (fails)
        services.expectMessage(Kind::Information, QStringLiteral("Unable to send EMail as requested"), Answer::Ok);
    DayEntryRecord e = entry(0, assignees);
    e.setStartTime(QStringLiteral("0000000000"));
    QCOMPARE(run(e, [](QWidget* w) {
                 child<QComboBox>(w, "cmbHour")->setCurrentIndex(14);
                 child<QComboBox>(w, "cmbMinute")->setCurrentIndex(6);
                 child<TDateEdit>(w, "cmbDate")->setDate(QDate(2024, 3, 4));
                 QTest::mouseClick(child(w, "btnOk"), Qt::LeftButton);
             }, isEdit),
             1);
    QCOMPARE(e.AssigneeKeys().size(), assignees.size());   // the buffers were filled
    if (recipients.isEmpty()) {
        QVERIFY(services.mails().isEmpty());
        return;
    }
    QCOMPARE(services.mails().size(), 1);
    const TServices::MailMessage& mail = services.mails().first();
    QCOMPARE(mail.recipients, recipients);
    QCOMPARE(mail.subject, isEdit ? "Updated Quorla Event" : "New Quorla Event");
    QCOMPARE(mail.bodyLines,
             (QStringList{isEdit ? "An event in Quorla relating to you has been updated. The details are:"
                                 : "A new event has been added into Quorla for you. The details are:",
                          "", "Review", "Monday March 04, 14:30"}));
}

QUORLA_TEST_GUI_MAIN(tst_Event)
#include "tst_event.moc"
