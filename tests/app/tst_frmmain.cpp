#include "AppTestSupport.h"
#include "QuorlaTest.h"
#include "TestFile.h"
#include "TScriptedServices.h"

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TDayView.h"
#include "TDayViewList.h"
#include "TInstanceLock.h"
#include "TQtServices.h"
#include "TEventCommands.h"
#include "TMonthView.h"
#include "TQuorlaDB.h"
#include "TWeekView.h"
#include "TWorkstationStore.h"
#include "TfrmMain.h"
#include "IsamCode.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QScreen>
#include <QToolBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

using namespace AppTest;

namespace {

// Wednesday; its week starts on Monday 13 May 2024.
const QDateTime Now(QDate(2024, 5, 15), QTime(10, 30));

const QString FailedLogin = QStringLiteral("You have failed to login. Please contact your administrator");
const QString WrongPassword = QStringLiteral(
    "Quorla was unable to verify your password.\r\r"
    "Please make sure you have entered the correct password or contact your Administrator.");

// The program running on a fresh workstation at `now`. Without users it is a
// new database opened by its first administrator, the workstation's user
// "christopherson"; otherwise the users ("NAME:rights", keys from 1, blank
// passwords) are added and `login` logs in.
struct Running
{
    explicit Running(const QStringList& users = {}, const QString& login = {}, const QDateTime& now = Now)
        : pinned((services.setNow(now), true)) // before the shell builds its views on "today"
    {
        if (users.isEmpty()) {
            services.setUserName(QStringLiteral("christopherson"));
            services.expectMessage(Kind::Information,
                                   "Welcome to Quorla as a new administrator\r\rYour user name is \"CHRISTOPHE\" and your "
                                   "password is \"<blank>\"\r\rPlease do not forget this information",
                                   Answer::Ok);
        } else {
            TQuorlaDB db(TScriptedServices::ofTest());
            for (const QString& user : users)
                addUser(db, user.section(':', 0, 0), QString(), user.section(':', 1).toInt());
            whenModal([login](QWidget* dialog) { typeLogin(dialog, login, QString()); });
        }
        shell.main->show();
        shell.main->FormActivate();
    }
    QAction* action(const char* name) const { return shell.main->findChild<QAction*>(QLatin1String(name)); }
    void trigger(const char* name) const { action(name)->trigger(); }
    TWeekView* week() const { return shell.main->WeekView(); }
    QStringList shown(int day) const
    {
        QStringList pks;
        for (int i = 0; i < week()->Days()[day]->DayEntries().Count(); ++i)
            pks << week()->Days()[day]->DayEntries().PkAt(i);
        return pks;
    }

    QString folder = freshWorkstation();
    TScriptedServices services;
    bool pinned;
    Shell shell;
};

QString key(int n) { return RecordKey::format(n); }

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    // A new database's first administrator is the workstation's user, his
    // logon name cut to the user name's ten letters.
    void newFolderCreatesTheFirstAdministrator()
    {
        Running run;
        QCOMPARE(run.shell.main->CurrentUser().UserName(), QStringLiteral("CHRISTOPHE"));
        QCOMPARE(run.shell.main->CurrentUser().Rights(), 7);
        QCOMPARE(run.shell.main->CurrentUserKey(), key(1));
    }

    // The second start says so before anything of it shows: the message is on
    // the screen alone, over no window, with no event loop running but its own,
    // so that nothing can end it before it is answered. Then the program ends
    // with 0, leaving the first instance's settings alone.
    void secondInstanceSaysSoThenEnds()
    {
        freshWorkstation();
        const QByteArray before = TestFile::read(TWorkstationStore().Location());
        QVERIFY(!before.isEmpty());

        TInstanceLock first;
        QVERIFY(first.Acquire());
        TQtServices real;
        {
            QString seen;
            QStringList alongside; // other windows on show with the message
            int loops = -1;
            whenModal([&](QWidget* modal) {
                auto* box = static_cast<QMessageBox*>(modal);
                if (box->screen()->geometry().contains(box->frameGeometry().center()) && box->parentWidget() == nullptr)
                    seen = box->text();
                loops = QThread::currentThread()->loopLevel();
                for (QWidget* other : QApplication::topLevelWidgets())
                    if (other != box && other->isVisible())
                        alongside << other->objectName();
                box->button(QMessageBox::Ok)->click();
            });
            Shell shell(real);
            QVERIFY(!shell.main->StartAlone());
            QCOMPARE(seen, QStringLiteral("Quorla is already running on this workstation"));
            QCOMPARE(alongside, QStringList());
            QCOMPARE(loops, 1);
            QVERIFY(shell.main->Terminating());
            QCOMPARE(shell.main->ExitCode(), 0);
            QVERIFY(!shell.main->isVisible());
            QVERIFY(shell.main->Database() == nullptr);
        }
        QCOMPARE(TestFile::read(TWorkstationStore().Location()), before);
        QVERIFY(first.Held());
    }
    // At the start (the workstation's user name offered) and by File > Log in
    // (the current user's name offered): a wrong password is told and the
    // dialog stays open, cleared, for the next; Cancel ends the program at the
    // start and keeps the user later. Nothing of the calendar is read while
    // nobody is logged in, and the alarm poll rests while the dialog is open.
    void login_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<QStringList>("wrongPasswords");
        QTest::addColumn<QString>("last"); // name and password typed last; empty: cancel instead
        QTest::addColumn<QString>("user"); // logged in after; empty: the program ends
        QTest::addColumn<bool>("unreadable"); // the users cannot be read (a share or a server away)
        QTest::newRow("lower-case password") << true << QStringList() << "joe secret" << "JOE" << false;
        QTest::newRow("three wrong, then right")
            << true << QStringList{QStringLiteral("A"), QStringLiteral("SECRE"), QStringLiteral("SECRETS")} << "JOE SECRET"
            << "JOE" << false;
        QTest::newRow("cancel at the start") << true << QStringList{QStringLiteral("WRONG")} << "" << "" << false;
        QTest::newRow("switch to ANN") << false << QStringList() << "ann " << "ANN" << false;
        QTest::newRow("cancel keeps JOE") << false << QStringList() << "" << "JOE" << false;
        // The read error is told, not taken for a wrong password or an unknown user.
        QTest::newRow("users unreadable") << true << QStringList{QStringLiteral("SECRET")} << "" << "" << true;
    }
    void login()
    {
        QFETCH(bool, atStart);
        QFETCH(QStringList, wrongPasswords);
        QFETCH(QString, last);
        QFETCH(QString, user);
        QFETCH(bool, unreadable);
        freshWorkstation();
        TScriptedServices services;
        services.setNow(Now);
        services.setUserName(QStringLiteral("joe"));
        {
            TQuorlaDB db(TScriptedServices::ofTest());
            addUser(db, QStringLiteral("ANN"), QString(), 7);
            addUser(db, QStringLiteral("JOE"), QStringLiteral("SECRET"), 1);
            addEntry(db, keyOf(2024, 5, 15, 9), key(1), {key(1)});
        }
        for (int i = 0; i < wrongPasswords.size(); ++i)
            services.expectMessage(unreadable ? Kind::Error : Kind::Information,
                                   unreadable ? TXIsamFile::ErrorText(IsamNotOpen) : WrongPassword, Answer::Ok);
        if (last.isEmpty())
            services.expectMessage(Kind::Error, FailedLogin, Answer::Ok);
        Shell shell;
        auto* timer = shell.main->findChild<QTimer*>(QStringLiteral("tmrMain"));
        if (!atStart) {
            whenModal([](QWidget* dialog) { typeLogin(dialog, QStringLiteral("JOE"), QStringLiteral("SECRET")); });
            shell.main->show();
            shell.main->FormActivate();
        }
        bool openThroughout = true;
        bool clearedWithFocus = true;
        bool timerOffMeanwhile = false;
        QString prefilled;
        int shownBeforeLogin = -1;
        whenModal([&](QWidget* dialog) {
            timerOffMeanwhile = !timer->isActive();
            shell.main->resize(shell.main->size() + QSize(10, 10));
            shell.main->RefreshView();
            shownBeforeLogin = shell.main->WeekView()->Days()[2]->DayEntries().Count();
            prefilled = dialog->findChild<QLineEdit*>(QStringLiteral("edtUserName"))->text();
            auto* password = dialog->findChild<QLineEdit*>(QStringLiteral("edtPassword"));
            if (unreadable)
                shell.main->Database()->Users().Close();
            for (const QString& wrong : wrongPasswords) {
                typeLogin(dialog, QStringLiteral("JOE"), wrong);
                openThroughout = openThroughout && dialog->isVisible();
                clearedWithFocus = clearedWithFocus && password->text().isEmpty() && dialog->focusWidget() == password;
            }
            if (last.isEmpty())
                dialog->findChild<QAction*>(QStringLiteral("actCancel"))->trigger();
            else
                typeLogin(dialog, last.section(' ', 0, 0), last.section(' ', 1));
        });
        if (atStart) {
            shell.main->show();
            shell.main->FormActivate();
        } else {
            shell.main->findChild<QAction*>(QStringLiteral("actFileLogin"))->trigger();
        }

        QCOMPARE(prefilled, QStringLiteral("JOE"));
        QCOMPARE(shownBeforeLogin, atStart ? 0 : 1);
        QVERIFY(openThroughout && timerOffMeanwhile);
        // A wrong password is cleared for the next try; one never checked is not.
        QCOMPARE(clearedWithFocus, !unreadable);
        QCOMPARE(shell.main->Terminating(), user.isEmpty());
        QCOMPARE(shell.main->ExitCode(), user.isEmpty() ? 1 : 0);
        if (user.isEmpty()) {
            QVERIFY(!shell.main->isVisible());
            QVERIFY(QApplication::activeModalWidget() == nullptr);
            return;
        }
        QVERIFY(timer->isActive());
        QCOMPARE(shell.main->CurrentUserKey(), key(user == "ANN" ? 1 : 2));
        QCOMPARE(shell.main->CurrentUser().UserName(), user);
        QCOMPARE(shell.main->WeekView()->Days()[2]->DayEntries().Count(), 1);
    }

    // The user's rights enable the commands; a double-click runs Event
    // properties on an entry he may change, nothing on one he may not, and New
    // event where no entry is selected.
    void doubleClicks_data()
    {
        // ME (key 1) has an entry on Wednesday; ANN (key 2) one on Thursday.
        QTest::addColumn<int>("rights");
        QTest::addColumn<QString>("where"); // "day:row", or "margin"
        QTest::addColumn<QString>("opened"); // "edit" or "new" and the entry's day; empty: nothing
        QTest::newRow("his entry: properties") << 1 << "2:0" << "edit 2024-05-15";
        QTest::newRow("below the entries: new event that day") << 1 << "4:-1" << "new 2024-05-17";
        QTest::newRow("another's entry, no right to change it: nothing") << 1 << "3:0" << "";
        QTest::newRow("another's entry, right to change it") << 5 << "3:0" << "edit 2024-05-16";
        QTest::newRow("the week's margin") << 1 << "margin" << "new 2024-05-13";
        QTest::newRow("administer only: no right to add") << 2 << "4:-1" << "";
    }
    void doubleClicks()
    {
        QFETCH(int, rights);
        QFETCH(QString, where);
        Running run({QStringLiteral("ME:%1").arg(rights), "ANN:1"}, QStringLiteral("ME"));
        run.shell.main->UpdateActions();
        for (const char* name : {"actEventNew", "actFileImport"})
            QVERIFY2(run.action(name)->isEnabled() == ((rights & 1) != 0), name);
        for (const char* name : {"actUsers", "actCategories", "actTroubleshooting"})
            QVERIFY2(run.action(name)->isEnabled() == ((rights & 2) != 0), name);
        // Nothing selected: nobody may change or delete.
        QVERIFY(!run.action("actEventProperties")->isEnabled() && !run.action("actEventDelete")->isEnabled());
        addEntry(*run.shell.main->Database(), keyOf(2024, 5, 15, 9), key(1), {key(1)});
        addEntry(*run.shell.main->Database(), keyOf(2024, 5, 16, 9), key(2), {key(2)});
        run.shell.main->RefreshView();
        QString opened;
        run.shell.main->EventCommands()->Editor
            = [&](bool isEdit, bool, DayEntryRecord& entry, AlarmRecord&, TDesktopServices::MailMessage&) {
                  opened = (isEdit ? "edit " : "new ") + dayOf(entry.StartTime()).toString(Qt::ISODate);
                  return 2;
              };
        if (where == "margin") {
            run.week()->OnDblClick(run.week());
        } else {
            TDayViewList* list = run.week()->Days()[std::size_t(where.section(':', 0, 0).toInt())]->List();
            const int row = where.section(':', 1).toInt();
            const QPoint at = row < 0 ? QPoint(5, list->viewport()->height() - 5)
                                      : list->visualRect(list->model()->index(row, 0)).center();
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        }
        QTEST(opened, "opened");
    }

    // Every command on the command bar has an icon of its own, on a desktop
    // without an icon theme too.
    void commandIconsDiffer()
    {
        Running run;
        QList<QImage> seen;
        for (QAction* action : run.shell.main->findChild<QToolBar*>(QStringLiteral("tbrTools"))->actions()) {
            if (action->isSeparator())
                continue;
            const QImage image = action->icon().pixmap(24, 24).toImage();
            QVERIFY2(!image.isNull(), qPrintable(action->objectName()));
            QVERIFY2(!seen.contains(image), qPrintable(action->objectName()));
            seen << image;
        }
    }

    // File > Import calendar...: the picked file comes in, the outcome is said
    // and the view shows it. (Who may start it: doubleClicks; the refusals
    // and their texts: tst_calendarimport.)
    void importCalendar()
    {
        Running run({"A:1"}, QStringLiteral("A"));
        const QString path = run.folder + QStringLiteral("/import.ics");
        QVERIFY(TestFile::write(path, "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\nBEGIN:VEVENT\r\nUID:i1\r\n"
                                      "DTSTAMP:20240101T000000Z\r\nDTSTART:20240515T090000\r\nSUMMARY:Imported\r\n"
                                      "CATEGORIES:Unknown\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"));
        run.services.expectOpenFile(path);
        run.services.expectMessage(Kind::Warning,
                                   "1 event added, 0 updated.\n\nImported in part:\nImported, 2024-05-15 09:00: "
                                   "category \"Unknown\" is not known here; left without one",
                                   Answer::Ok);
        run.trigger("actFileImport");
        QCOMPARE(run.shown(2).size(), 1);
    }

    // Each command opens its own dialog; an entry added elsewhere while the
    // Users or Categories dialog is open shows as soon as it closes, and so
    // does a change the administrator made to his own record in Users: his
    // rights, and the name the status bar shows.
    void adminCommandsRefreshTheView_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("users") << "actUsers" << "TfrmUsers";
        QTest::newRow("categories") << "actCategories" << "TfrmCategories";
        QTest::newRow("report") << "actToolsReport" << "TfrmReport";
    }
    void adminCommandsRefreshTheView()
    {
        QFETCH(QString, command);
        Running run({"A:7"}, QStringLiteral("A"));
        auto* name = run.shell.main->findChild<QLabel*>(QStringLiteral("lblCurrentUser"));
        QCOMPARE(name->text(), QStringLiteral("A"));
        QString pk;
        QString opened;
        whenModal([&](QWidget* modal) {
            opened = modal->objectName();
            TQuorlaDB other(TScriptedServices::ofTest());
            pk = addEntry(other, keyOf(2024, 5, 15, 9), key(1), {key(1)});
            if (opened == QLatin1String("TfrmUsers")) {
                modal->findChild<QLineEdit*>(QStringLiteral("edtFullname"))->setText(QStringLiteral("Ann Archer"));
                modal->findChild<QListWidget*>(QStringLiteral("lstFlags"))->item(3)->setCheckState(Qt::Checked);
                modal->findChild<QPushButton*>(QStringLiteral("actUpdate"))->click();
            }
            modal->close();
        });
        run.trigger(command.toLatin1().constData());
        QTEST(opened, "dialog");
        QCOMPARE(run.shown(2).contains(pk), command != "actToolsReport");
        const bool changed = opened == QLatin1String("TfrmUsers");
        QCOMPARE(run.shell.main->CurrentUser().Rights(), changed ? 15 : 7);
        QCOMPARE(name->text(), changed ? QStringLiteral("Ann Archer") : QStringLiteral("A"));
    }

    // A Sunday picked shows its week.
    void goToDate()
    {
        Running run;
        run.trigger("actNext"); // the calendar opens on today, not on the week shown
        QDate opened;
        QString mondayWhileOpen;
        whenModal([&](QWidget* dialog) {
            auto* calendar = dialog->findChild<QCalendarWidget*>(QStringLiteral("calMain"));
            opened = calendar->selectedDate();
            calendar->setSelectedDate(QDate(2024, 6, 30));
            mondayWhileOpen = run.week()->Days()[0]->Stamp.DayKey();
            dialog->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
        });
        run.trigger("actDate");
        QCOMPARE(opened, QDate(2024, 5, 15));
        QCOMPARE(mondayWhileOpen, keyOf(2024, 6, 24));
        QCOMPARE(run.week()->Days()[0]->Stamp.DayKey(), keyOf(2024, 6, 24));
    }
    void viewsKeepTheSelectedDay_data()
    {
        // Steps "command view day": a command (an action, "select:DAY" in the week,
        // "dbl:DAY" on the month), then the view on show and its selected day.
        QTest::addColumn<QString>("steps");
        QTest::newRow("week, month, next, day")
            << "select:2024-05-17 week 2024-05-17, actToolsViewMonth month 2024-05-17, actNext month 2024-06-17, "
               "actToolsViewDay day 2024-06-17";
        QTest::newRow("double-click a day, then the week")
            << "actToolsViewMonth month 2024-05-13, dbl:2024-05-30 day 2024-05-30, actToolsViewWeek week 2024-05-30, "
               "actToolsViewDay day 2024-05-30";
        QTest::newRow("day, month, today") << "actToolsViewDay day 2024-05-13, actPrev day 2024-05-12, "
                                              "actToolsViewMonth month 2024-05-12, actToday month 2024-05-15";
    }
    void viewsKeepTheSelectedDay()
    {
        QFETCH(QString, steps);
        Running run;
        addEntry(*run.shell.main->Database(), keyOf(2024, 5, 20, 9), key(1), {key(1)});
        TMonthView* month = run.shell.main->MonthView();
        for (const QString& step : steps.split(QStringLiteral(", "))) {
            const QStringList part = step.split(' ');
            const QDate day = QDate::fromString(part[0].section(':', 1), Qt::ISODate);
            if (part[0].startsWith("select"))
                run.week()->SelectDay(day);
            else if (part[0].startsWith("dbl"))
                QTest::mouseDClick(month, Qt::LeftButton, {}, month->DayRect(int(month->FirstDay().daysTo(day))).center());
            else
                run.trigger(qPrintable(part[0]));
            QDate selected = run.shell.main->DayView()->Stamp.AsDateTime().date();
            if (part[1] == "week") {
                QVERIFY(run.shell.main->WeekViewActive());
                selected = dayOf(RecordKey::format(run.week()->SelectedSeconds()));
            } else if (part[1] == "month") {
                QVERIFY(run.shell.main->MonthViewActive());
                // New events start on the day view's day.
                QCOMPARE(selected, month->SelectedDate());
                if (month->Month() == QDate(2024, 5, 1))
                    QCOMPARE(month->DayEntries(int(month->FirstDay().daysTo(QDate(2024, 5, 20)))).Count(), 1);
            }
            QCOMPARE(selected.toString(Qt::ISODate), part[2]);
            // Previous and Next say what they step by.
            const QString by = part[1] == "month" ? "month" : "week";
            QCOMPARE(run.action("actPrev")->text(), "&Previous " + by);
            QVERIFY(run.action("actNext")->toolTip().startsWith("Goto the next " + by));
            QVERIFY(run.action(part[1] == "week"    ? "actToolsViewWeek"
                               : part[1] == "month" ? "actToolsViewMonth"
                                                    : "actToolsViewDay")
                        ->isChecked());
        }
    }

    // Confirmed: the recorded folder goes and the program ends; with none
    // recorded nothing happens.
    void changePath_data()
    {
        QTest::addColumn<bool>("valuePresent");
        QTest::newRow("confirmed") << true;
        QTest::newRow("value already absent") << false;
    }
    void changePath()
    {
        QFETCH(bool, valuePresent);
        Running run;
        TWorkstationStore store;
        QVERIFY(store.OpenKey(false));
        if (!valuePresent)
            QVERIFY(store.DeleteValue(QStringLiteral("RootPath")));
        run.services.expectMessage(Kind::Warning, QStringLiteral("Change the Quorla Database location, Are you sure?"),
                                   Answer::Ok);
        if (valuePresent)
            run.services.expectMessage(Kind::Information,
                                       QStringLiteral("Please restart Quorla to choose the new database location"),
                                       Answer::Ok);
        run.trigger("mnuFileChangePath");
        QCOMPARE(run.shell.main->Terminating(), valuePresent);
        QVERIFY(store.OpenKey(false));
        QVERIFY(!store.ValueExists(QStringLiteral("RootPath")));
    }

    // Filtering on me hides another's entry at once; all events brings it back.
    void filteringRedraws()
    {
        Running run;
        addEntry(*run.shell.main->Database(), keyOf(2024, 5, 15), key(77), {key(77)});
        for (const auto& [radio, shown] : {std::pair{"rdoMe", 0}, std::pair{"rdoAll", 1}}) {
            whenModal([radio](QWidget* dialog) {
                dialog->findChild<QRadioButton*>(QLatin1String(radio))->click();
                dialog->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
            });
            run.trigger("actToolsFiltering");
            QCOMPARE(run.week()->Days()[2]->DayEntries().Count(), shown);
        }
    }
};

QUORLA_TEST_GUI_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
