// The event editor and its alarm dialog through their controls: times in
// five-minute steps, un-timed events, two-digit years, the user limit, the
// alarm box and the time its dialog offers, the OK rules and prompts, load
// failures, the e-mail to the other assignees, and the History of a stored
// event.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "DialogTest.h"
#include "EQuorla.h"
#include "TDateEdit.h"
#include "TDisplaySettings.h"
#include "TEventWriter.h"
#include "TfrmEvent.h"

using namespace DialogTest;

class tst_Event : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void okSavesAndNotifies_data();
    void okSavesAndNotifies();
    void okRefusedKeepsDialog_data();
    void okRefusedKeepsDialog();
    void controlsFollowTheUser();
    void historyInOrder();
    void alarmOffersTheEditorsTime();

private:
    // U02 edits; events start on Monday 2024-03-04 at 10:07, category Meeting.
    static DayEntryRecord entry(const QStringList& assignees, const QString& category = user(21), qint32 flags = 0)
    {
        DayEntryRecord e;
        e.initialise();
        e.setStartTime(QStringLiteral("1709546820"));
        e.setOwnerKey(user(2));
        e.setCategoryKey(category);
        e.setDescription(QStringLiteral("Review"));
        e.setFlags(flags);
        e.setAssigneeKeys(assignees);
        return e;
    }
    int run(DayEntryRecord& e, const std::function<void(QWidget*)>& act, bool isEdit = false)
    {
        whenModal(act);
        return frm.Execute(isEdit, e, alarm, *db, user(2), cfg);
    }

    std::unique_ptr<TQuorlaDB> db;
    TDisplaySettings cfg;
    TfrmEvent frm;
    AlarmRecord alarm;
};

void tst_Event::initTestCase()
{
    db = database(QStringLiteral("event"));
    for (const char* text : {"Meeting", "Holiday"}) {   // keys 1 and 2
        CategoryRecord category;
        category.setDescription(QString::fromLatin1(text));
        db->Categories().Insert(category.bytes());
    }
}

void tst_Event::okSavesAndNotifies_data()
{
    QTest::addColumn<qint32>("flags");
    QTest::addColumn<QStringList>("assignees");
    QTest::addColumn<bool>("isEdit");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QStringList>("mail");   // recipients, then the time line; empty: none prepared
    QTest::addColumn<QString>("noMail");     // why the workstation cannot hand mail over
    QTest::newRow("10:07 at 10:05, others in list order") << 0 << QStringList{user(5), user(2), user(3)} << false
        << "U02" << "1709546700" << QStringList{"U03", "U05", "Monday March 04, 10:05"} << QString();
    QTest::newRow("un-timed, owner gone") << 1 << QStringList{user(3)} << true << "ERR" << "1709510400"
        << QStringList{"U03", "Monday March 04, 00:00"} << QString();
    QTest::newRow("only the author, no mail") << 0 << QStringList{user(2)} << false << "U02" << "1709546700"
                                              << QStringList() << QString();
    QTest::newRow("no mail program: Notify unticked, says why") << 0 << QStringList{user(3)} << false << "U02"
        << "1709546700" << QStringList() << "No mail program is set up on this workstation";
}

void tst_Event::okSavesAndNotifies()
{
    QFETCH(qint32, flags);
    QFETCH(QStringList, assignees);
    QFETCH(bool, isEdit);
    QFETCH(QString, owner);
    QFETCH(QString, saved);
    QFETCH(QStringList, mail);
    QFETCH(QString, noMail);
    TScriptedServices services;
    if (!noMail.isEmpty())
        services.setMailAvailability({TServices::Outcome::NotAvailable, noMail});
    DayEntryRecord e = entry(assignees, user(21), flags);
    e.setOwnerKey(owner == "ERR" ? RecordKey::format(777) : user(2));
    QCOMPARE(run(e, [&](QWidget* w) {
                 QCOMPARE(child<QComboBox>(w, "cmbHour")->currentText() + child<QComboBox>(w, "cmbMinute")->currentText(),
                          QStringLiteral("1005"));
                 QCOMPARE(child(w, "cmbMinute")->isEnabled(), flags == 0);
                 QCOMPARE(child<QLineEdit>(w, "edtOwner")->text(), owner);
                 auto* notify = child<QCheckBox>(w, "chkNotify");
                 QCOMPARE(notify->isChecked() && notify->isEnabled(), noMail.isEmpty());
                 QVERIFY(notify->toolTip().contains(noMail));
                 click(w, "btnOk");
             }, isEdit),
             1);
    QCOMPARE(e.StartTime(), saved);
    // The editor only prepares the message; it goes once the event is stored.
    QVERIFY(services.mails().isEmpty());
    const TServices::MailMessage& prepared = frm.Mail();
    QCOMPARE(prepared.recipients, mail.mid(0, mail.size() - 1));
    if (mail.isEmpty())
        return;
    QCOMPARE(prepared.subject, isEdit ? "Updated Quorla Event" : "New Quorla Event");
    QCOMPARE(prepared.bodyLines,
             (QStringList{isEdit ? "An event in Quorla relating to you has been updated. The details are:"
                                 : "A new event has been added into Quorla for you. The details are:",
                          "", "Review", mail.last()}));
}

void tst_Event::okRefusedKeepsDialog_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<QStringList>("assignees");
    QTest::addColumn<int>("ticked");
    QTest::addColumn<QString>("message");   // none: accepted
    const QString noCategory = QStringLiteral("You have not chosen a category for this event. Is this ok?");
    QTest::newRow("no category, No") << RecordKey::format(0) << QStringList{user(2)} << 0 << noCategory;
    QTest::newRow("no users, No") << user(21) << QStringList() << 0
                                  << "You have not chosen any users for this event. Is this ok?";
    QTest::newRow("twenty users accepted") << user(21) << QStringList() << 20 << QString();
    QTest::newRow("twenty-one users") << user(21) << QStringList() << 21
                                      << "A maximum of 20 users can be associated with an event";
}

void tst_Event::okRefusedKeepsDialog()
{
    QFETCH(QString, category);
    QFETCH(QStringList, assignees);
    QFETCH(int, ticked);
    QFETCH(QString, message);
    TScriptedServices services;
    if (!message.isEmpty())
        services.expectMessage(ticked ? Kind::Error : Kind::Confirmation, message, ticked ? Answer::Ok : Answer::No);
    DayEntryRecord e = entry(assignees, category);
    const DayEntryRecord before = e;
    const int result = run(e, [&](QWidget* w) {
        tick(w, "lstUsers", ticked);
        click(w, "btnOk");
        if (QApplication::activeModalWidget() == w)
            click(w, "btnCancel");
    });
    QCOMPARE(result, message.isEmpty() ? 1 : 2);
    QCOMPARE(e.AssigneeKeys().size(), message.isEmpty() ? 20 : qsizetype(assignees.size()));
    QVERIFY(message.isEmpty() || e == before);
}

void tst_Event::controlsFollowTheUser()
{
    TScriptedServices services;
    DayEntryRecord e = entry({user(2)}, RecordKey::format(0));
    e.setDescription(QString());
    alarm.setFlags(1);
    alarm.setAlarmTime(QStringLiteral("1709542680"));   // 2024-03-04 08:58
    QStringList alarmTimes;
    run(e, [&](QWidget* w) {
        QVERIFY(!child(w, "btnOk")->isEnabled());
        QTest::keyClick(child(w, "cmbCategory"), Qt::Key_Down);
        QCOMPARE(child<QLineEdit>(w, "edtDescription")->text(), QStringLiteral("Holiday"));
        QVERIFY(child(w, "btnOk")->isEnabled());
        auto* chkAlarm = child<QCheckBox>(w, "chkAlarm");
        QVERIFY(chkAlarm->isChecked() && chkAlarm->isEnabled());
        child<QListWidget>(w, "lstUsers")->item(1)->setCheckState(Qt::Unchecked);   // U02, the only one
        QVERIFY(!chkAlarm->isChecked() && !chkAlarm->isEnabled());
        tick(w, "lstUsers", 1);
        QVERIFY(!chkAlarm->isChecked() && chkAlarm->isEnabled());
        for (const char* typed : {"020170", "", "010130"}) {   // ticked: Close; unticked; ticked: title bar
            if (!chkAlarm->isChecked())
                whenModal([&, typed](QWidget* a) {
                    alarmTimes << child<QComboBox>(a, "cmbHour")->currentText() + child<QComboBox>(a, "cmbMinute")->currentText();
                    child<TDateEdit>(a, "cmbDate")->setSelectedSection(QDateTimeEdit::DaySection);
                    QTest::keyClicks(child(a, "cmbDate"), QString::fromLatin1(typed));
                    alarmTimes.size() == 1 ? click(a, "btnClose") : void(a->close());
                });
            chkAlarm->click();
        }
        click(w, "btnCancel");
    });
    QCOMPARE(alarmTimes, (QStringList{"0855", "0855"}));   // opened by each tick by hand, none while loading
    QCOMPARE(alarm.AlarmTime(), QStringLiteral("0000118500"));   // 1970-01-02 08:55, kept by the title-bar close
    alarm.setFlags(0);
    e.setAssigneeKeys({user(2), RecordKey::format(999)});
    QVERIFY_THROWS_EXCEPTION(EQuorla, frm.Execute(true, e, alarm, *db, user(2), cfg));   // "Unknown user"
}

// History lists a stored event's changes in the order they were made, and
// has nothing to list for a new one.
void tst_Event::historyInOrder()
{
    TScriptedServices services;
    services.setNow(QDateTime(QDate(2024, 3, 1), QTime(9, 30)));
    db->SetActingUser(user(2));
    DayEntryRecord e = entry({user(2)});
    alarm.clear();
    const QString key = TEventWriter(*db).insertEntryWithAlarms(e, alarm);
    services.setNow(QDateTime(QDate(2024, 3, 1), QTime(9, 45)));
    db->SetActingUser(user(3));
    e.setDescription(QStringLiteral("Review, second round"));
    TEventWriter(*db).updateEntryWithAlarms(key, e, alarm, QString());
    QStringList shown;
    bool enabledForNew = true;
    frm.SetEntryKey(key);
    run(e, [&](QWidget* w) {
        whenModal([&](QWidget* h) {
            for (int row = 0; row < child<QListWidget>(h, "lstHistory")->count(); ++row)
                shown << child<QListWidget>(h, "lstHistory")->item(row)->text();
            click(h, "btnClose");
        });
        click(w, "btnHistory");
        click(w, "btnCancel");
    }, true);
    frm.SetEntryKey(QString());
    run(e, [&](QWidget* w) {
        enabledForNew = child(w, "btnHistory")->isEnabled();
        click(w, "btnCancel");
    });
    QCOMPARE(shown, (QStringList{"01/03/24 09:30  U02 on ws-test: Event added: “Review”; 04/03/24 10:07; for U02",
                                 "01/03/24 09:45  U03 on ws-test: Event changed: description “Review, second round”"}));
    QVERIFY(!enabledForNew);
}

// A new event without users: picking a group enables the Alarm box; the alarm
// dialog then offers the date and time set in the editor, not those it was
// opened with.
void tst_Event::alarmOffersTheEditorsTime()
{
    TScriptedServices services;
    cfg.Groups[0].SetFromText(QStringLiteral("Team,") + user(3));
    DayEntryRecord e = entry({});
    alarm.setFlags(0);
    alarm.setAlarmTime(e.StartTime());
    bool enabled = false;
    QString offered;
    run(e, [&](QWidget* w) {
        whenModal([](QWidget* groups) { click(groups, "btnOk"); });
        click(w, "btnGroup");
        enabled = child(w, "chkAlarm")->isEnabled();
        child<QComboBox>(w, "cmbHour")->setCurrentIndex(14);
        whenModal([&](QWidget* a) {
            offered = child<QDateEdit>(a, "cmbDate")->date().toString(Qt::ISODate) + ' '
                      + child<QComboBox>(a, "cmbHour")->currentText() + child<QComboBox>(a, "cmbMinute")->currentText();
            click(a, "btnClose");
        });
        child<QCheckBox>(w, "chkAlarm")->click();
        click(w, "btnCancel");
    });
    QVERIFY(enabled);
    QCOMPARE(offered, QStringLiteral("2024-03-04 1405"));
}

QUORLA_TEST_GUI_MAIN(tst_Event)
#include "tst_event.moc"
