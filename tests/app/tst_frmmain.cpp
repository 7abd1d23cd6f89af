#include "AppTestSupport.h"
#include "QuorlaTest.h"
#include "TScriptedServices.h"

#include "DayEntryRecord.h"
#include "TDayView.h"
#include "TDayViewList.h"
#include "TFilterRules.h"
#include "TInstanceLock.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "TWeekView.h"
#include "TWorkstationStore.h"
#include "TfrmDate.h"
#include "TfrmLogin.h"
#include "TfrmMain.h"
#include "UserRecord.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

using namespace AppTest;
using Kind = TServices::MessageKind;
using Answer = TServices::MessageAnswer;

namespace {

// Wednesday; its week starts on Monday 13 May 2024.
const QDateTime Now(QDate(2024, 5, 15), QTime(10, 30));

QString keyOf(int year, int month, int day, int hour = 0, int minute = 0)
{
    TStamp stamp;
    stamp.SetDateTime(year, month, day, hour, minute, 0);
    return stamp.Key();
}

QString welcome(const QString& name)
{
    return QStringLiteral("Welcome to Quorla as a new administrator\r\rYour user name is \"") + name
           + QStringLiteral("\" and your password is \"<blank>\"\r\rPlease do not forget this information");
}

const QString FailedLogin = QStringLiteral("You have failed to login. Please contact your administrator");
const QString WrongPassword = QStringLiteral(
    "Quorla was unable to verify your password.\r\r"
    "Please make sure you have entered the correct password or contact your Administrator.");

QAction* action(TfrmMain* main, const char* name)
{
    auto* found = main->findChild<QAction*>(QLatin1String(name));
    Q_ASSERT(found != nullptr);
    return found;
}

QString insertEntry(TQuorlaDB& db, const QString& start, const QString& owner, const QStringList& assignees,
                    qint32 flags = 0)
{
    DayEntryRecord entry;
    db.InitDayEntryRecord(entry);
    entry.setStartTime(start);
    entry.setOwnerKey(owner);
    entry.setAssigneeKeys(assignees);
    entry.setFlags(flags);
    entry.setDescription(QStringLiteral("entry"));
    if (!db.DayEntries().Insert(entry.bytes()))
        qFatal("cannot add an entry");
    return db.DayEntries().CurrentKey();
}

QStringList pksOf(const TDayView* day)
{
    QStringList pks;
    for (int i = 0; i < day->DayEntries().Count(); ++i)
        pks << day->DayEntries().PkAt(i);
    return pks;
}

// Starts the shell on a database that has users, logging in as `name`.
void startAs(Shell& shell, const QString& name, const QString& password = QString())
{
    answerModal([name, password](QWidget* dialog) { typeLogin(dialog, name, password); });
    shell.main->show();
    shell.main->FormActivate();
}

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    void newFolderCreatesTheFirstAdministrator_data();
    void newFolderCreatesTheFirstAdministrator();
    void secondInstanceOnlySaysSo();
    void startUpLogin_data();
    void startUpLogin();
    void loginAsAnotherUser_data();
    void loginAsAnotherUser();
    void privateEntries_data();
    void privateEntries();
    void rightsEnableCommands_data();
    void rightsEnableCommands();
    void adminCommandsRefreshTheView_data();
    void adminCommandsRefreshTheView();
    void doubleClickRespectsTheRightToAdd_data();
    void doubleClickRespectsTheRightToAdd();
    void nextInTheDayViewCrossesTheYear();
    void nextAndPreviousMoveTheWeekBy604800Seconds();
    void switchingViewsKeepsTheDay_data();
    void switchingViewsKeepsTheDay();
    void goToDateSundayShowsItsWeek();
    void goToDateOutOfRangeReturnsToToday();
    void entriesLandOnTheirDays();
    void changePath_data();
    void changePath();
    void helpOpensTheContents();
    void windowSize_data();
    void windowSize();
    void minimisingWithoutTrayKeepsTheWindow();
    void filteringRedrawsAndSetsTheCaption_data();
    void filteringRedrawsAndSetsTheCaption();
};

void TestFrmMain::newFolderCreatesTheFirstAdministrator_data()
{
    QTest::addColumn<QString>("logonName");
    QTest::addColumn<QString>("expected");
    QTest::newRow("logged-on user") << QStringLiteral("jsmith") << QStringLiteral("JSMITH");
    QTest::newRow("no name from the system") << QString() << QStringLiteral("ADMIN");
    QTest::newRow("longer than 10") << QStringLiteral("christopherson") << QStringLiteral("CHRISTOPHE");
}

void TestFrmMain::newFolderCreatesTheFirstAdministrator()
{
    QFETCH(QString, logonName);
    QFETCH(QString, expected);
    const QString folder = freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.setUserName(logonName);
    services.expectMessage(Kind::Information, welcome(expected), Answer::Ok);

    Shell shell;
    shell.main->show();
    shell.main->FormActivate();

    QVERIFY(!shell.main->Terminating());
    for (const char* file : {"QLUsers.Ism", "QLAlarms.Ism", "QLCat.Ism", "QLDayEnt.Ism"})
        QVERIFY2(QFile::exists(folder + QLatin1Char('/') + QLatin1String(file)), file);
    const UserRecord& user = shell.main->CurrentUser();
    QCOMPARE(user.UserName(), expected);
    QCOMPARE(user.FullName(), expected);
    QCOMPARE(user.Abbreviation(), expected);
    QCOMPARE(user.Rights(), 7);
    QCOMPARE(user.Password(), QString());
    QCOMPARE(shell.main->CurrentUserKey(), QStringLiteral("0000000001"));
    QVERIFY(shell.main->WeekViewActive());
    QCOMPARE(shell.main->WeekView()->Days()[0]->Stamp.DayKey(), keyOf(2024, 5, 13));
    QVERIFY(shell.main->findChild<QTimer*>(QStringLiteral("tmrMain"))->isActive());
}

void TestFrmMain::secondInstanceOnlySaysSo()
{
    freshWorkstation();
    TWorkstationStore store;
    QVERIFY(store.OpenKey(true));
    QVERIFY(store.WriteInteger(QStringLiteral("TimeColor"), 4242));
    store.CloseKey();
    QFile file(TWorkstationStore().Location());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    TInstanceLock first;
    QVERIFY(first.Acquire());
    {
        TScriptedServices services;
        services.setNow(Now);
        services.expectMessage(Kind::Information, QStringLiteral("Quorla is already running on this workstation"),
                               Answer::Ok);
        Shell shell;
        shell.main->show();
        shell.main->FormActivate();
        QVERIFY(shell.main->Terminating());
        QVERIFY(!shell.main->isVisible());
        QVERIFY(shell.main->Database() == nullptr);
        QCOMPARE(services.messages().size(), 1);
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    QVERIFY(first.Held());
}

void TestFrmMain::startUpLogin_data()
{
    QTest::addColumn<QStringList>("wrongPasswords");
    QTest::addColumn<QString>("lastPassword"); // empty: cancel instead
    QTest::newRow("lower-case password") << QStringList() << QStringLiteral("secret");
    QTest::newRow("three wrong, then right")
        << QStringList{QStringLiteral("A"), QStringLiteral("SECRE"), QStringLiteral("SECRETS")} << QStringLiteral("SECRET");
    QTest::newRow("cancel") << QStringList{QStringLiteral("WRONG")} << QString();
}

void TestFrmMain::startUpLogin()
{
    QFETCH(QStringList, wrongPasswords);
    QFETCH(QString, lastPassword);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.setUserName(QStringLiteral("joe"));
    QString joe;
    {
        TQuorlaDB db;
        addUser(db, QStringLiteral("ANN"), QString(), 7);
        joe = addUser(db, QStringLiteral("JOE"), QStringLiteral("SECRET"), 1);
    }
    for (int i = 0; i < wrongPasswords.size(); ++i)
        services.expectMessage(Kind::Information, WrongPassword, Answer::Ok);
    if (lastPassword.isEmpty())
        services.expectMessage(Kind::Error, FailedLogin, Answer::Ok);

    bool openThroughout = true;
    QString prefilled;
    answerModal([&](QWidget* dialog) {
        prefilled = dialog->findChild<QLineEdit*>(QStringLiteral("edtUserName"))->text();
        for (const QString& wrong : wrongPasswords) {
            typeLogin(dialog, QStringLiteral("JOE"), wrong);
            openThroughout = openThroughout && dialog->isVisible();
        }
        if (lastPassword.isEmpty())
            dialog->findChild<QAction*>(QStringLiteral("actCancel"))->trigger();
        else
            typeLogin(dialog, QStringLiteral("JOE"), lastPassword);
    });
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();

    QCOMPARE(prefilled, QStringLiteral("JOE"));
    QVERIFY(openThroughout);
    if (lastPassword.isEmpty()) {
        QVERIFY(shell.main->Terminating());
        QVERIFY(!shell.main->isVisible());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    } else {
        QVERIFY(!shell.main->Terminating());
        QCOMPARE(shell.main->CurrentUserKey(), joe);
        QCOMPARE(shell.main->CurrentUser().UserName(), QStringLiteral("JOE"));
    }
}

void TestFrmMain::loginAsAnotherUser_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("switch to ANN") << false;
    QTest::newRow("cancel keeps JOE") << true;
}

void TestFrmMain::loginAsAnotherUser()
{
    QFETCH(bool, cancel);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    QString joe, ann;
    {
        TQuorlaDB db;
        ann = addUser(db, QStringLiteral("ANN"), QStringLiteral("PW"), 7);
        joe = addUser(db, QStringLiteral("JOE"), QString(), 1);
    }
    Shell shell;
    startAs(shell, QStringLiteral("JOE"));
    QCOMPARE(shell.main->CurrentUserKey(), joe);
    auto* timer = shell.main->findChild<QTimer*>(QStringLiteral("tmrMain"));

    if (cancel)
        services.expectMessage(Kind::Error, FailedLogin, Answer::Ok);
    bool timerOffMeanwhile = false;
    QString prefilled;
    answerModal([&](QWidget* dialog) {
        timerOffMeanwhile = !timer->isActive();
        prefilled = dialog->findChild<QLineEdit*>(QStringLiteral("edtUserName"))->text();
        if (cancel)
            dialog->findChild<QAction*>(QStringLiteral("actCancel"))->trigger();
        else
            typeLogin(dialog, QStringLiteral("ann"), QStringLiteral("pw"));
    });
    action(shell.main, "actFileLogin")->trigger();

    QCOMPARE(prefilled, QStringLiteral("JOE"));
    QVERIFY(timerOffMeanwhile);
    QVERIFY(timer->isActive());
    QCOMPARE(shell.main->CurrentUserKey(), cancel ? joe : ann);
    QCOMPARE(shell.main->CurrentUser().UserName(), cancel ? QStringLiteral("JOE") : QStringLiteral("ANN"));
}

void TestFrmMain::privateEntries_data()
{
    QTest::addColumn<QString>("viewer");
    QTest::addColumn<bool>("isPrivate");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("visible");
    // The entry is owned by C and assigned to A and B; ADM administers.
    QTest::newRow("assignee A") << QStringLiteral("A") << true << 0 << true;
    QTest::newRow("assignee B") << QStringLiteral("B") << true << 0 << true;
    QTest::newRow("owner C, not an assignee") << QStringLiteral("C") << true << 0 << false;
    QTest::newRow("administrator") << QStringLiteral("ADM") << true << 0 << true;
    QTest::newRow("administrator filtering on me") << QStringLiteral("ADM") << true << 1 << false;
    QTest::newRow("assignee filtering on me") << QStringLiteral("A") << true << 1 << true;
    QTest::newRow("not private, owner C") << QStringLiteral("C") << false << 0 << true;
}

void TestFrmMain::privateEntries()
{
    QFETCH(QString, viewer);
    QFETCH(bool, isPrivate);
    QFETCH(int, mode);
    QFETCH(bool, visible);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    QString pk;
    {
        TQuorlaDB db;
        const QString a = addUser(db, QStringLiteral("A"), QString(), 1);
        const QString b = addUser(db, QStringLiteral("B"), QString(), 1);
        const QString c = addUser(db, QStringLiteral("C"), QString(), 1 | 4 | 8);
        addUser(db, QStringLiteral("ADM"), QString(), 7);
        pk = insertEntry(db, keyOf(2024, 5, 15, 9), c, {a, b}, isPrivate ? DayEntryRecord::Private : 0);
    }
    Shell shell;
    startAs(shell, viewer);
    shell.main->FilterRules()->Mode = quint8(mode);
    shell.main->RefreshView();
    const QStringList shown = pksOf(shell.main->WeekView()->Days()[2]);
    QCOMPARE(shown.contains(pk), visible);
}

void TestFrmMain::rightsEnableCommands_data()
{
    QTest::addColumn<int>("rights");
    QTest::addColumn<bool>("canAdd");
    QTest::addColumn<bool>("administers");
    QTest::newRow("none") << 0 << false << false;
    QTest::newRow("add entries") << 1 << true << false;
    QTest::newRow("administer only") << 2 << false << true;
    QTest::newRow("modify and add for others") << (4 | 8) << false << false;
    QTest::newRow("first administrator") << 7 << true << true;
}

void TestFrmMain::rightsEnableCommands()
{
    QFETCH(int, rights);
    QFETCH(bool, canAdd);
    QFETCH(bool, administers);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    {
        TQuorlaDB db;
        addUser(db, QStringLiteral("U"), QString(), rights);
    }
    Shell shell;
    startAs(shell, QStringLiteral("U"));
    shell.main->UpdateActions();
    QCOMPARE(action(shell.main, "actEventNew")->isEnabled(), canAdd);
    for (const char* name : {"actUsers", "actCategories", "actTroubleshooting"})
        QVERIFY2(action(shell.main, name)->isEnabled() == administers, name);
    // Nothing selected: nobody may change or delete.
    QVERIFY(!action(shell.main, "actEventProperties")->isEnabled());
    QVERIFY(!action(shell.main, "actEventDelete")->isEnabled());
}

void TestFrmMain::adminCommandsRefreshTheView_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("dialog");
    QTest::newRow("users") << "actUsers" << "TfrmUsers";
    QTest::newRow("categories") << "actCategories" << "TfrmCategories";
    QTest::newRow("groups") << "actToolsGroups" << "TfrmGroups";
    QTest::newRow("report") << "actToolsReport" << "TfrmReport";
}

// Each command opens its own dialog; an entry added elsewhere while the Users
// or Categories dialog is open shows as soon as it closes.
void TestFrmMain::adminCommandsRefreshTheView()
{
    QFETCH(QString, command);
    QFETCH(QString, dialog);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    QString admin;
    {
        TQuorlaDB db;
        admin = addUser(db, QStringLiteral("A"), QString(), 7);
    }
    Shell shell;
    startAs(shell, QStringLiteral("A"));
    QString pk;
    QString opened;
    answerModal([&](QWidget* modal) {
        opened = modal ? modal->objectName() : QString();
        TQuorlaDB other;
        pk = insertEntry(other, keyOf(2024, 5, 15, 9), admin, {admin});
        if (modal)
            modal->close();
    });
    action(shell.main, command.toLatin1().constData())->trigger();
    QCOMPARE(opened, dialog);
    const bool refreshes = command == "actUsers" || command == "actCategories";
    QCOMPARE(pksOf(shell.main->WeekView()->Days()[2]).contains(pk), refreshes);
}

void TestFrmMain::doubleClickRespectsTheRightToAdd_data()
{
    QTest::addColumn<int>("rights");
    QTest::addColumn<int>("newEvents");
    QTest::newRow("may add") << 1 << 1;
    QTest::newRow("may not add") << 2 << 0;
}

void TestFrmMain::doubleClickRespectsTheRightToAdd()
{
    QFETCH(int, rights);
    QFETCH(int, newEvents);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    {
        TQuorlaDB db;
        addUser(db, QStringLiteral("U"), QString(), rights);
    }
    Shell shell;
    startAs(shell, QStringLiteral("U"));
    int news = 0;
    int properties = 0;
    shell.main->EventNewCommand = [&news] { ++news; };
    shell.main->EventPropertiesCommand = [&properties] { ++properties; };
    TWeekView* week = shell.main->WeekView();
    week->OnDblClick(week);
    QCOMPARE(news, newEvents);
    QCOMPARE(properties, 0);
}

void TestFrmMain::nextInTheDayViewCrossesTheYear()
{
    freshWorkstation();
    TScriptedServices services;
    services.setNow(QDateTime(QDate(2024, 12, 31), QTime(15, 0)));
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    action(shell.main, "actToolsViewDay")->trigger();
    QVERIFY(!shell.main->WeekViewActive());
    action(shell.main, "actToday")->trigger();
    QCOMPARE(shell.main->DayView()->Stamp.DayKey(), keyOf(2024, 12, 31));
    action(shell.main, "actNext")->trigger();
    QCOMPARE(shell.main->DayView()->Stamp.DayKey(), keyOf(2025, 1, 1));
    action(shell.main, "actPrev")->trigger();
    action(shell.main, "actPrev")->trigger();
    QCOMPARE(shell.main->DayView()->Stamp.DayKey(), keyOf(2024, 12, 30));
}

void TestFrmMain::nextAndPreviousMoveTheWeekBy604800Seconds()
{
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    const auto& days = shell.main->WeekView()->Days();
    QList<qint32> before;
    for (TDayView* day : days)
        before << day->Stamp.Seconds();
    action(shell.main, "actNext")->trigger();
    for (int i = 0; i < 7; ++i)
        QCOMPARE(days[i]->Stamp.Seconds(), before[i] + 604800);
    action(shell.main, "actPrev")->trigger();
    action(shell.main, "actPrev")->trigger();
    for (int i = 0; i < 7; ++i)
        QCOMPARE(days[i]->Stamp.Seconds(), before[i] - 604800);
}

void TestFrmMain::switchingViewsKeepsTheDay_data()
{
    QTest::addColumn<int>("focusedDay"); // -1: none
    QTest::addColumn<QString>("expected");
    QTest::newRow("Wednesday selected") << 2 << keyOf(2024, 5, 15);
    QTest::newRow("Sunday selected") << 6 << keyOf(2024, 5, 19);
    QTest::newRow("nothing selected: Monday") << -1 << keyOf(2024, 5, 13);
}

void TestFrmMain::switchingViewsKeepsTheDay()
{
    QFETCH(int, focusedDay);
    QFETCH(QString, expected);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    TWeekView* week = shell.main->WeekView();
    if (focusedDay >= 0) {
        QFocusEvent focus(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(week->Days()[focusedDay]->List(), &focus);
        QCOMPARE(week->CurrentDay(), week->Days()[focusedDay]);
    }
    action(shell.main, "actToolsViewDay")->trigger();
    QVERIFY(!shell.main->WeekViewActive());
    QVERIFY(action(shell.main, "actToolsViewDay")->isChecked());
    QCOMPARE(shell.main->DayView()->Stamp.DayKey(), expected);

    // Back in the week: the week of the day shown, even after moving the day.
    action(shell.main, "actNext")->trigger();
    action(shell.main, "actToolsViewWeek")->trigger();
    QVERIFY(shell.main->WeekViewActive());
    QVERIFY(action(shell.main, "actToolsViewWeek")->isChecked());
    const qint32 shown = shell.main->DayView()->Stamp.Seconds();
    QVERIFY(week->Days()[0]->Stamp.Seconds() <= shown);
    QVERIFY(shown < week->Days()[6]->Stamp.Seconds() + 86400);
}

void TestFrmMain::goToDateSundayShowsItsWeek()
{
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    QDate opened;
    QString mondayWhileOpen;
    answerModal([&](QWidget* dialog) {
        auto* calendar = dialog->findChild<QCalendarWidget*>(QStringLiteral("calMain"));
        opened = calendar->selectedDate();
        calendar->setSelectedDate(QDate(2024, 6, 30)); // a Sunday
        mondayWhileOpen = shell.main->WeekView()->Days()[0]->Stamp.DayKey();
        dialog->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
    });
    action(shell.main, "actDate")->trigger();
    QCOMPARE(opened, QDate(2024, 5, 15));
    QCOMPARE(mondayWhileOpen, keyOf(2024, 6, 24));
    QCOMPARE(shell.main->WeekView()->Days()[6]->Stamp.DayKey(), keyOf(2024, 6, 30));
}

void TestFrmMain::goToDateOutOfRangeReturnsToToday()
{
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    action(shell.main, "actNext")->trigger();
    services.expectMessageStartingWith(Kind::Error, QStringLiteral("Year excedes 2037"), Answer::Ok);
    QDate calendarAfter;
    answerModal([&](QWidget* dialog) {
        auto* calendar = dialog->findChild<QCalendarWidget*>(QStringLiteral("calMain"));
        calendar->setSelectedDate(QDate(2040, 1, 4));
        calendarAfter = calendar->selectedDate();
        dialog->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
    });
    action(shell.main, "actDate")->trigger();
    QCOMPARE(calendarAfter, QDate(2024, 5, 15));
    QCOMPARE(shell.main->WeekView()->Days()[0]->Stamp.DayKey(), keyOf(2024, 5, 13));
}

void TestFrmMain::entriesLandOnTheirDays()
{
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    QString midnight, lastMinute, nextMidnight;
    {
        TQuorlaDB db;
        const QString u = addUser(db, QStringLiteral("U"), QString(), 1);
        nextMidnight = insertEntry(db, keyOf(2024, 5, 16), u, {u});
        lastMinute = insertEntry(db, keyOf(2024, 5, 15, 23, 59), u, {u});
        midnight = insertEntry(db, keyOf(2024, 5, 15), u, {u}, DayEntryRecord::UnTimed);
        insertEntry(db, keyOf(2024, 5, 14, 23, 59), u, {u});
    }
    Shell shell;
    startAs(shell, QStringLiteral("U"));
    const auto& days = shell.main->WeekView()->Days();
    QCOMPARE(pksOf(days[2]), (QStringList{midnight, lastMinute}));
    QCOMPARE(pksOf(days[3]), QStringList{nextMidnight});
}

void TestFrmMain::changePath_data()
{
    QTest::addColumn<bool>("valuePresent");
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true << true;
    QTest::newRow("cancelled") << true << false;
    QTest::newRow("value already absent") << false << true;
}

void TestFrmMain::changePath()
{
    QFETCH(bool, valuePresent);
    QFETCH(bool, confirm);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    TWorkstationStore store;
    QVERIFY(store.OpenKey(false));
    if (!valuePresent)
        QVERIFY(store.DeleteValue(QStringLiteral("RootPath")));

    services.expectMessage(Kind::Warning, QStringLiteral("Change the Quorla Database location, Are you sure?"),
                           confirm ? Answer::Ok : Answer::Cancel);
    const bool ends = valuePresent && confirm;
    if (ends)
        services.expectMessage(Kind::Information,
                               QStringLiteral("Please restart Quorla to choose the new database location"), Answer::Ok);
    const qsizetype shownBefore = services.messages().size();
    action(shell.main, "mnuFileChangePath")->trigger();

    QCOMPARE(services.messages().size() - shownBefore, ends ? 2 : 1);
    QCOMPARE(shell.main->Terminating(), ends);
    QVERIFY(store.OpenKey(false));
    QCOMPARE(store.ValueExists(QStringLiteral("RootPath")), valuePresent && !confirm);
}

void TestFrmMain::helpOpensTheContents()
{
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    action(shell.main, "mnuHelpQuorlaHelp")->trigger();
    QCOMPARE(services.helpTopics(), QStringList{QStringLiteral("Contents")});
    QVERIFY(QFile::exists(QStringLiteral(":/help/quorla.html")));

    QApplication::setActiveWindow(shell.main);
    QVERIFY(QTest::qWaitForWindowActive(shell.main));
    QTest::keyClick(shell.main, Qt::Key_F1);
    QCOMPARE(services.helpTopics().size(), 2);
}

void TestFrmMain::windowSize_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("80 percent") << QSize(1280, 1024) << QSize(1024, 819);
    QTest::newRow("small screen: the minimum") << QSize(500, 300) << QSize(427, 320);
}

void TestFrmMain::windowSize()
{
    QFETCH(QSize, screen);
    QFETCH(QSize, expected);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.setScreenSize(screen);
    Shell shell;
    QCOMPARE(shell.main->size(), expected);
    QCOMPARE(shell.main->minimumSize(), QSize(427, 320));
    QCOMPARE(shell.main->windowTitle(), QStringLiteral("Quorla"));
}

void TestFrmMain::minimisingWithoutTrayKeepsTheWindow()
{
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    QVERIFY(shell.main->findChild<QObject*>(QStringLiteral("traMain")) == nullptr);
    shell.main->showMinimized();
    QTest::qWait(20);
    QVERIFY(shell.main->isMinimized());
    QVERIFY(shell.main->isVisible());
}

void TestFrmMain::filteringRedrawsAndSetsTheCaption_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("shown");
    QTest::newRow("all") << QStringLiteral("rdoAll") << QStringLiteral("Quorla") << 1;
    QTest::newRow("me") << QStringLiteral("rdoMe") << QStringLiteral("Quorla - Filter On Me") << 0;
    QTest::newRow("users") << QStringLiteral("rdoUsers") << QStringLiteral("Quorla - Filter On Users") << 0;
}

void TestFrmMain::filteringRedrawsAndSetsTheCaption()
{
    QFETCH(QString, radio);
    freshWorkstation();
    TScriptedServices services;
    services.setNow(Now);
    services.expectMessage(Kind::Information, welcome(QStringLiteral("ADMIN")), Answer::Ok);
    Shell shell;
    shell.main->show();
    shell.main->FormActivate();
    insertEntry(*shell.main->Database(), keyOf(2024, 5, 15), QStringLiteral("0000000077"), {QStringLiteral("0000000077")});
    auto filter = [&shell](const QString& choice, const char* button) {
        answerModal([choice, button](QWidget* dialog) {
            dialog->findChild<QRadioButton*>(choice)->click();
            dialog->findChild<QPushButton*>(QLatin1String(button))->click();
        });
        action(shell.main, "actToolsFiltering")->trigger();
    };
    filter(QStringLiteral("rdoUsers"), "btnOk");   // nobody ticked
    QCOMPARE(shell.main->windowTitle(), QStringLiteral("Quorla - Filter On Users"));
    filter(radio, "btnOk");
    QTEST(shell.main->windowTitle(), "caption");
    QTEST(shell.main->WeekView()->Days()[2]->DayEntries().Count(), "shown");
}

QUORLA_TEST_GUI_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
