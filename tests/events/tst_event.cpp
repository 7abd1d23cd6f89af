// The event editor and its alarm dialog through their controls: times in
// five-minute steps, un-timed events, two-digit years, the user limit, the
// alarm box and the time its dialog offers, the OK rules and prompts, load
// failures, the e-mail to the other assignees, the History of a stored
// event, the Repeat section with its summary and refusals, and the end, place
// and notes.

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "DialogTest.h"
#include "EQuorla.h"
#include "TDateEdit.h"
#include "TDisplaySettings.h"
#include "TEventWriter.h"
#include "TSeriesWriter.h"
#include "SeriesRecord.h"
#include "TfrmDeletedEvents.h"
#include "TBusyStrip.h"
#include "TfrmEvent.h"

#include <QLabel>
#include <QTreeWidget>
#include <QTimeEdit>
#include <QStandardItemModel>
#include <QRadioButton>
#include <QSpinBox>

using namespace DialogTest;

class tst_Event : public QObject
{
    Q_OBJECT

private slots:
    void init() { services_ = std::make_unique<TScriptedServices>(); }
    void cleanup() { services_.reset(); }
    void initTestCase()
    {
        db = database(QStringLiteral("event"));
        for (const char* text : {"Meeting", "Holiday"}) {   // keys 1 and 2
            CategoryRecord category;
            category.setDescription(QString::fromLatin1(text));
            db->Categories().Insert(category.bytes());
        }
    }
    void okSavesAndNotifies_data()
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
    void okSavesAndNotifies()
    {
        QFETCH(qint32, flags);
        QFETCH(QStringList, assignees);
        QFETCH(bool, isEdit);
        QFETCH(QString, owner);
        QFETCH(QStringList, mail);
        QFETCH(QString, noMail);
        if (!noMail.isEmpty())
            services_->setMailAvailability({TDesktopServices::Outcome::NotAvailable, noMail});
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
        QTEST(e.StartTime(), "saved");
        // The editor only prepares the message; it goes once the event is stored.
        QVERIFY(services_->mails().isEmpty());
        const TDesktopServices::MailMessage& prepared = frm.Mail();
        QCOMPARE(prepared.recipients, mail.mid(0, mail.size() - 1));
        if (mail.isEmpty())
            return;
        QCOMPARE(prepared.subject, isEdit ? "Updated Quorla Event" : "New Quorla Event");
        QCOMPARE(prepared.bodyLines,
                 (QStringList{isEdit ? "An event in Quorla relating to you has been updated. The details are:"
                                     : "A new event has been added into Quorla for you. The details are:",
                              "", "Review", mail.last()}));
    }
    void okRefusedKeepsDialog_data()
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
    void okRefusedKeepsDialog()
    {
        QFETCH(QString, category);
        QFETCH(QStringList, assignees);
        QFETCH(int, ticked);
        QFETCH(QString, message);
        if (!message.isEmpty())
            services_->expectMessage(ticked ? Kind::Error : Kind::Confirmation, message, ticked ? Answer::Ok : Answer::No);
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
    void controlsFollowTheUser()
    {
        DayEntryRecord e = entry({user(2)}, RecordKey::format(0));
        e.setDescription(QString());
        alarm.setFlags(1);
        alarm.setAlarmTime(QStringLiteral("1709542680"));   // 2024-03-04 08:58
        QStringList alarmTimes;
        run(e, [&](QWidget* w) {
            QVERIFY(!child(w, "btnHistory")->isEnabled()); // a new event has no history
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

    // History lists an occurrence's changes in the order they were made, its
    // series' among them. (A new event's History button is off:
    // controlsFollowTheUser; a plain event's own records: tst_changetrail.)
    void historyInOrder()
    {
        db->SetActingUser(user(3));
        DayEntryRecord e = entry({user(2)});
        alarm.clear();
        services_->setNow(QDateTime(QDate(2024, 3, 1), QTime(10, 0)));
        const auto rule = *TRecurrenceRule::FromRRule("FREQ=WEEKLY;COUNT=2", QDate(2024, 3, 4), QTime(10, 0));
        SeriesRecord weekly;
        weekly.initialise();
        weekly.setOwnerKey(user(2));
        weekly.setDescription(QStringLiteral("Stand-up"));
        weekly.setAssigneeKeys({user(2)});
        weekly.setRule(rule);
        TSeriesWriter series(*db);
        const QString seriesKey = series.Create(weekly, QDate(2024, 3, 1)).seriesKey;
        const QString first = series.Links(seriesKey).first().second.EntryKey();
        services_->setNow(QDateTime(QDate(2024, 3, 1), QTime(10, 15)));
        DayEntryRecord occurrence;
        QVERIFY(db->DayEntries().GetEqual(occurrence.bytes(), 0, first));
        occurrence.setDescription(QStringLiteral("Stand-up, moved"));
        QCOMPARE(TEventWriter(*db).updateEntryWithAlarms(first, occurrence, alarm, QString()), TEventWriter::Result::Done);
        services_->setNow(QDateTime(QDate(2024, 3, 1), QTime(10, 30)));
        weekly.setDescription(QStringLiteral("Daily stand-up"));
        series.Change(seriesKey, TSeriesWriter::Scope::All, rule.Start(), weekly, QDate(2024, 3, 1),
                      TSeriesWriter::HeldOccurrences::Leave);
        // What History lists for the occurrence.
        QStringList shown;
        frm.SetEntryKey(first);
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
        QCOMPARE(shown, (QStringList{
            "01/03/24 10:00  U03 on ws-test: Repeating event added: “Stand-up” for U02, Every Monday at 10:00, 2 times; "
            "2 occurrences made",
            "01/03/24 10:15  U03 on ws-test: Event changed: description “Stand-up, moved”",
            "01/03/24 10:30  U03 on ws-test: Repeating event changed: all: “Daily stand-up” for U02, Every Monday at 10:00, "
            "2 times; 2 occurrences touched"}));
        // Gone again: the other cases' events at that time are U02's only events.
        series.Delete(seriesKey, TSeriesWriter::Scope::All, rule.Start(), TSeriesWriter::HeldOccurrences::Leave);
    }

    // Deleted events lists what the user deleted, with who and when, and
    // Restore brings it back.
    void deletedEventRestored()
    {
        db->SetActingUser(user(2));
        DayEntryRecord e = entry({user(2)});
        e.setOwnerKey(user(2));
        e.setDescription(QStringLiteral("Budget"));
        AlarmRecord none;
        const QString key = TEventWriter(*db).insertEntryWithAlarms(e, none);
        QCOMPARE(TEventWriter(*db).deleteEntryWithAlarms(key), TEventWriter::Result::Done);
        TfrmDeletedEvents deleted{TScriptedServices::ofTest()};
        QStringList listed;
        int left = -1;
        whenModal([&](QWidget* d) {
            const QTreeWidgetItem* line = child<QTreeWidget>(d, "lstDeleted")->topLevelItem(0);
            listed = {line->text(0), line->text(2)};
            click(d, "btnRestore");
            left = child<QTreeWidget>(d, "lstDeleted")->topLevelItemCount();
            click(d, "btnClose");
        });
        QCOMPARE(deleted.Execute(*db), 2);
        QCOMPARE(listed, (QStringList{"Budget", "U02"}));
        QCOMPARE(left, 1);   // the line that says none are kept
        QVERIFY(db->DayEntries().GetEqual(e.bytes(), 0, key));
        // Gone again: the later cases' events at that time would meet it.
        QCOMPARE(TEventWriter(*db).deleteEntryWithAlarms(key), TEventWriter::Result::Done);
    }

    // A new event without users: picking a group enables the Alarm box; the alarm
    // dialog then offers the date and time set in the editor, not those it was
    // opened with.
    void alarmOffersTheEditorsTime()
    {
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

    // The Repeat section of a new event on Monday 4 March 2024 at 10:05: what
    // the controls make, in the summary and in the rule handed back, and the
    // repeats OK refuses (the dialog stays open, nothing written).
    void repeatSection_data()
    {
        QTest::addColumn<int>("repeat");          // cmbRepeat: 0 none ... 4 yearly
        QTest::addColumn<int>("every");
        QTest::addColumn<QString>("days");        // weekday boxes ticked, after the section's own choice is cleared
        QTest::addColumn<int>("monthly");         // cmbRepeatMonthly's row
        QTest::addColumn<QString>("end");         // "", "yyyy-MM-dd" or a count
        QTest::addColumn<QString>("summary");
        QTest::addColumn<bool>("refused");        // with the summary's text
        QTest::newRow("none") << 0 << 1 << "" << 0 << "" << "Does not repeat" << false;
        QTest::newRow("weekly on two days until a date") << 2 << 1 << "Mon Thu" << 0 << "2027-06-30"
            << "Every Monday and Thursday at 10:05 until 30 June 2027" << false;
        QTest::newRow("every 2 weeks, 10 times") << 2 << 2 << "Mon" << 0 << "10"
            << "Every 2 weeks on Monday at 10:05, 10 times" << false;
        QTest::newRow("monthly on the first Monday") << 3 << 1 << "" << 1 << ""
            << "Monthly on the first Monday at 10:05" << false;
        QTest::newRow("weekly without a weekday") << 2 << 1 << "" << 0 << "" << TfrmEvent::RepeatNoWeekday << true;
        QTest::newRow("ends before the start") << 1 << 1 << "" << 0 << "2024-03-01"
            << TfrmEvent::RepeatEndsBeforeStart << true;
        QTest::newRow("count 0") << 1 << 1 << "" << 0 << "0" << TfrmEvent::RepeatNoCount << true;
        QTest::newRow("no day before the end") << 2 << 1 << "Fri" << 0 << "2024-03-07"
            << TfrmEvent::RepeatNoOccurrence << true;
    }
    void repeatSection()
    {
        QFETCH(int, repeat);
        QFETCH(int, every);
        QFETCH(QString, days);
        QFETCH(int, monthly);
        QFETCH(QString, end);
        QFETCH(QString, summary);
        QFETCH(bool, refused);
        if (refused)
            services_->expectMessage(Kind::Warning, summary, Answer::Ok);
        DayEntryRecord e = entry({user(2)});
        const DayEntryRecord before = e;
        alarm.setFlags(0);
        QString shown;
        const int result = run(e, [&](QWidget* w) {
            QCOMPARE(child<QLabel>(w, "lblRepeatSummary")->text(), QStringLiteral("Does not repeat"));
            QVERIFY(!child(w, "spnRepeatEvery")->isEnabled());
            child<QComboBox>(w, "cmbRepeat")->setCurrentIndex(repeat);
            child<QSpinBox>(w, "spnRepeatEvery")->setValue(every);
            for (const char* day : {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"})
                child<QCheckBox>(w, (QByteArray("chkRepeat") + day).constData())->setChecked(days.contains(QLatin1String(day)));
            child<QComboBox>(w, "cmbRepeatMonthly")->setCurrentIndex(monthly);
            if (end.contains('-')) {
                child<QRadioButton>(w, "rdoRepeatEndDate")->setChecked(true);
                child<QDateEdit>(w, "cmbRepeatUntil")->setDate(QDate::fromString(end, Qt::ISODate));
            } else if (!end.isEmpty()) {
                child<QRadioButton>(w, "rdoRepeatEndCount")->setChecked(true);
                child<QSpinBox>(w, "spnRepeatCount")->setValue(end.toInt());
            }
            QCOMPARE(child(w, "chkRepeatMon")->isHidden(), repeat != 2);
            QCOMPARE(child(w, "cmbRepeatMonthly")->isHidden(), repeat != 3);
            shown = child<QLabel>(w, "lblRepeatSummary")->text();
            click(w, "btnOk");
            if (QApplication::activeModalWidget() == w)
                click(w, "btnCancel");
        });
        QCOMPARE(shown, summary);
        QCOMPARE(result, refused ? 2 : 1);
        if (refused) {
            QVERIFY(e == before);
            return;
        }
        QCOMPARE(frm.Rule().has_value(), repeat != 0);
        if (frm.Rule()) {
            QCOMPARE(frm.Rule()->Summary(), summary);
            QCOMPARE(frm.Rule()->Start(), QDate(2024, 3, 4));
        }
    }

    // An occurrence changed alone shows its series' repeat, which cannot be
    // changed there; a series changed as a whole cannot be made to stop
    // repeating; the next event shows none again.
    void repeatShownUnchangeable()
    {
        const auto rule
            = *TRecurrenceRule::FromRRule("FREQ=MONTHLY;BYDAY=1MO;COUNT=5", QDate(2024, 3, 4), QTime(10, 5));
        frm.SetRepeat(rule, false);
        DayEntryRecord e = entry({user(2)});
        QStringList seen;
        const auto look = [&](QWidget* w) {
            seen << child<QComboBox>(w, "cmbRepeat")->currentText() + (child(w, "cmbRepeat")->isEnabled() ? " open" : " shut")
                        + ": " + child<QLabel>(w, "lblRepeatSummary")->text();
            click(w, "btnCancel");
        };
        const auto noneOffered = [&](QWidget* w) {
            const auto* choices = qobject_cast<QStandardItemModel*>(child<QComboBox>(w, "cmbRepeat")->model());
            seen << QStringLiteral("None offered: %1").arg(choices->item(0)->isEnabled());
            look(w);
        };
        run(e, look, true);
        frm.SetRepeat(rule, true);
        run(e, noneOffered, true);
        run(e, noneOffered, true);
        QCOMPARE(seen, (QStringList{"Monthly shut: Monthly on the first Monday at 10:05, 5 times", "None offered: 0",
                                    "Monthly open: Monthly on the first Monday at 10:05, 5 times", "None offered: 1",
                                    "None open: Does not repeat"}));
    }

    // End, place and notes shown as stored and read back from the fields (the
    // start 10:07 shows as 10:05): the end moves with the start; one before
    // the start or past the longest span is refused.
    void detailsRoundTrip_data()
    {
        QTest::addColumn<qint32>("flags");
        QTest::addColumn<TEntryDetails>("shown");
        QTest::addColumn<QString>("typed");   // "d hh:mm": an end days after the start; "+1": the start a day on
        QTest::addColumn<QString>("message"); // a refusal: nothing saved
        QTest::addColumn<TEntryDetails>("saved");
        const TEntryDetails hall{5400, 1, "Hall", "Agenda\nline two"};
        QTest::newRow("stored kept") << 0 << hall << "" << "" << hall;
        QTest::newRow("new end") << 0 << TEntryDetails{} << "0 12:05" << "" << TEntryDetails{7200, 1, {}, {}};
        QTest::newRow("start moved") << 0 << TEntryDetails{5400, 1, {}, {}} << "+1" << "" << TEntryDetails{5400, 1, {}, {}};
        QTest::newRow("un-timed, 3 days") << 1 << TEntryDetails{0, 3, "Alps", {}} << "" << "" << TEntryDetails{0, 3, "Alps", {}};
        QTest::newRow("end before start") << 0 << TEntryDetails{} << "0 09:00" << TfrmEvent::EndBeforeStart << TEntryDetails{};
        QTest::newRow("too long") << 1 << TEntryDetails{} << "366 00:00" << TfrmEvent::EndTooLate << TEntryDetails{};
    }
    void detailsRoundTrip()
    {
        QFETCH(qint32, flags);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        if (!message.isEmpty())
            services_->expectMessage(Kind::Warning, message, Answer::Ok);
        DayEntryRecord e = entry({user(2)}, user(21), flags);
        QFETCH(TEntryDetails, shown);
        frm.SetDetails(shown);
        const int result = run(e, [&](QWidget* w) {
            auto* date = child<QDateEdit>(w, "cmbDate");
            if (typed == "+1")
                date->setDate(date->date().addDays(1));
            else if (!typed.isEmpty()) {
                child<QDateEdit>(w, "dtpEndDate")->setDate(date->date().addDays(typed.section(' ', 0, 0).toInt()));
                child<QTimeEdit>(w, "edtEndTime")->setTime(QTime::fromString(typed.section(' ', 1), "hh:mm"));
            }
            click(w, "btnOk");
            if (QApplication::activeModalWidget() == w)
                click(w, "btnCancel");
        }, true);
        QCOMPARE(result, message.isEmpty() ? 1 : 2);
        if (result == 1)
            QTEST(frm.Details(), "saved");
    }

    // "Free and busy" around an hour's event for U02 and U03 at 10:05 while
    // U02 has "Budget" at 10:00-11:00 and U03 a private event (U02 may not
    // see) at 11:00-12:00 (and U02 "Budget" on Tuesday at 12:00): the strip
    // shows both, "Find a time" offers 08:00, 09:00 (touching is free), then
    // 12:00; OK on a taken time asks first, for a repeating event on the
    // days it repeats.
    void freeAndBusy_data()
    {
        QTest::addColumn<int>("proposal");
        QTest::addColumn<Answer>("answer");   // to the overlap question, when asked
        QTest::addColumn<QString>("saved");   // start time; empty: not saved
        QTest::addColumn<QString>("warning"); // the overlaps named
        const QString monday = "U02: \"Budget\", Mon 04/03/2024 10:00-11:00\rU03: a private event, Mon 04/03/2024 11:00-12:00";
        QTest::newRow("a free time chosen") << 2 << Answer::Ok << "1709553600" << "";
        QTest::newRow("taken, No") << -1 << Answer::No << "" << monday;
        QTest::newRow("taken, Yes") << -1 << Answer::Yes << "1709546700" << monday;
        QTest::newRow("daily, taken on Tuesday") << 2 << Answer::No << "" << "U02: \"Budget\", Tue 05/03/2024 12:00-13:00";
    }
    void freeAndBusy()
    {
        QFETCH(int, proposal);
        QFETCH(Answer, answer);
        QFETCH(QString, saved);
        QFETCH(QString, warning);
        services_->setNow(QDateTime(QDate(2024, 3, 1), QTime(9, 0)));
        const qint64 monday = 1709510400;
        QStringList taken;
        for (const auto& [who, hour, flags] :
             {std::tuple{user(2), 10, 0}, {user(3), 11, DayEntryRecord::Private}, {user(2), 36, 0}}) {
            DayEntryRecord other = entry({who});
            other.setDescription(QStringLiteral("Budget"));
            other.setStartTime(RecordKey::format(monday + hour * 3600));
            other.setFlags(flags);
            taken << TEventWriter(*db).insertEntryWithAlarms(other, alarm, {}, TEntryDetails{3600, 1, {}, {}});
        }
        if (!warning.isEmpty())
            services_->expectMessage(Kind::Confirmation, "Some of the event's users have other events at its time:\r"
                                         + warning + "\r\rSave the event all the same?", answer);
        DayEntryRecord e = entry({user(2), user(3)});
        frm.SetDetails(TEntryDetails{3600, 1, {}, {}});
        if (QString(QTest::currentDataTag()).startsWith("daily")) {
            TRecurrenceRule daily;
            daily.setStart(QDate(2024, 3, 4));
            daily.setCount(3);
            frm.SetRepeat(daily, true);
        }
        QStringList shown;
        const int result = run(e, [&](QWidget* w) {
            QCoreApplication::processEvents();
            const auto* strip = child<TBusyStrip>(w, "stripBusy");
            for (int row = 0; row < strip->rows().size(); ++row)
                shown << strip->rows()[row].name + ": " + strip->TakenAt(row, monday + 10 * 3600 + 1800).join(',')
                             + strip->TakenAt(row, monday + 11 * 3600 + 1800).join(',');
            click(w, "btnFindTime");
            auto* times = child<QComboBox>(w, "cmbFreeTimes");
            shown << times->itemText(0) << times->itemText(1) << times->itemText(2);
            if (proposal >= 0)
                emit times->activated(proposal);
            click(w, "btnOk");
            if (QApplication::activeModalWidget() == w)
                click(w, "btnCancel");
        });
        for (const QString& key : taken)
            TEventWriter(*db).deleteEntryWithAlarms(key);
        QCOMPARE(shown, (QStringList{"U02: Budget", "U03: Private", "Mon 04/03/2024 08:00-09:00",
                                     "Mon 04/03/2024 09:00-10:00", "Mon 04/03/2024 12:00-13:00"}));
        QCOMPARE(result, saved.isEmpty() ? 2 : 1);
        QVERIFY(saved.isEmpty() || e.StartTime() == saved);
    }

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

    std::unique_ptr<TScriptedServices> services_;
    std::unique_ptr<TQuorlaDB> db;
    TDisplaySettings cfg;
    TfrmEvent frm{TScriptedServices::ofTest()};
    AlarmRecord alarm;
};

QUORLA_TEST_GUI_MAIN(tst_Event)
#include "tst_event.moc"
