#pragma once

#include "TMainDialogs.h"
#include "TOutageScreen.h"
#include "TOutageWatch.h"
#include "TServices.h"
#include "TSession.h"
#include "TViewNavigator.h"

#include <QMainWindow>
#include <QString>

#include <memory>

class QLabel;
class QSystemTrayIcon;
class QTimer;
class TAlarmPoller;
class TEventCommands;
class TFilterRules;
class TMainActions;
class TQuorlaDB;
class TViewAnswers;
class TfrmEvent;
class TfrmNotify;
class UserRecord;

// The main window: the calendar as a week, a month or a single day
// (TViewNavigator) with the answers to the views' questions (TViewAnswers),
// every command of the program (TMainActions, the dialogs' in TMainDialogs,
// the event commands in TEventCommands), and the run's long-lived objects
// (TSession).
//
// Life of a run: before the window shows, the single-instance test
// (StartAlone). The first show runs Today and then, once, the start-up
// (FormActivate): the instance lock if not yet taken, the workstation
// settings, the two database connections, the first administrator or the
// log-in, the caches, the notification area's icon and the alarm timer. Any
// error there is shown and ends the program.
// Destruction is the shutdown: timer off, settings saved, instance lock
// released, everything freed.
//
// The program ends only through Exit, the close of this window, or the end of
// the start-up: hiding windows (into the notification area, or to ask a
// second instance's question) never ends it. A quit ends every running event
// loop, a message box's included, so the end is asked for only once nothing
// waits for an answer.
//
// Every command runs inside TCommand::Run, so an error ends the command only.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(TServices services, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The services the dialogs are made with: the window's, whose person
    // screens errors through its outage watch (TOutageScreen).
    TServices Services() const { return services_; }

    // The dialogs the window opens, created by the program entry after the
    // window, each once, and reused; all belong to the window. A dialog that
    // is not attached is made when first needed, except the log-in and
    // go-to-date dialogs: without them the start-up fails and Go to date
    // does nothing.
    void AttachDialogs(TfrmLogin* login, TfrmDate* date)
    {
        dialogs_->Login = login;
        dialogs_->Date = date;
    }
    void AttachAdminDialogs(TfrmUsers* users, TfrmCategories* categories)
    {
        dialogs_->Users = users;
        dialogs_->Categories = categories;
    }
    void AttachToolDialogs(TfrmOptions* options, TfrmFiltering* filtering, TfrmTrouble* trouble)
    {
        dialogs_->Options = options;
        dialogs_->Filtering = filtering;
        dialogs_->Trouble = trouble;
    }
    void AttachReportDialogs(TfrmGroups* groups, TfrmReport* report, TfrmReportViewer* viewer,
                             TfrmSelectGroup* selectGroup)
    {
        dialogs_->Groups = groups;
        dialogs_->Report = report;
        dialogs_->ReportViewer = viewer;
        dialogs_->SelectGroup = selectGroup;
    }
    // The event editor the event commands open, and the alarm pop-up the
    // alarm poll shows.
    void AttachEventDialogs(TfrmEvent* event, TfrmNotify* notify);

    // The run's objects and the logged-in user.
    TSession& Session() const { return *session_; }
    const UserRecord& CurrentUser() const { return session_->CurrentUser(); }
    const QString& CurrentUserKey() const { return session_->CurrentUserKey(); }
    TQuorlaDB* Database() const { return session_->Database(); }
    TQuorlaDB* AlarmDatabase() const { return session_->AlarmDatabase(); }
    TFilterRules* FilterRules() const { return &session_->FilterRules(); }
    TEventCommands* EventCommands() const { return EventCommands_.get(); }
    TViewAnswers* ViewAnswers() const { return answers_.get(); }

    bool FirstActivation() const { return FirstActivation_; }
    // True once something asked the program to end (second instance, failed
    // log-in, start-up error, change of path, Exit).
    bool Terminating() const { return Terminating_; }
    // The status the program ends with: 1 when start-up failed (an error, no
    // login), so that whoever started it can tell; otherwise 0, also for a
    // second instance that only said so.
    int ExitCode() const { return ExitCode_; }

    TViewNavigator& Navigator() const { return *navigator_; }
    TWeekView* WeekView() const { return navigator_->WeekView(); }
    TDayView* DayView() const { return navigator_->DayView(); }
    TMonthView* MonthView() const { return navigator_->MonthView(); }
    bool WeekViewActive() const { return navigator_->WeekViewActive(); }
    bool MonthViewActive() const { return navigator_->MonthViewActive(); }

    // Re-reads the active view from the database.
    void RefreshView();
    // Re-evaluates which actions are enabled and which view is ticked. Runs
    // whenever the program becomes idle.
    void UpdateActions();

    // The single-instance test, before the window shows: takes the
    // workstation's instance lock, or, while another instance holds it, says
    // "Quorla is already running on this workstation" and answers false, with
    // nothing shown but the message (no window, no tray icon) and no event
    // loop running but the message's own, which nothing else can end; the
    // program then ends with ExitCode 0 once the message is answered.
    bool StartAlone();

    // The start-up sequence; does nothing after its first run. Runs by itself
    // on the first activation (or, at the latest, right after the first show).
    void FormActivate();

    // The alarm poll of tmrMain: the timer is off while it runs and on again
    // on every way out (unless the program is ending). Each poll that works
    // also prunes a few expired records of the change trail.
    void tmrMainTimer();

    // Whether the database is out of reach, and since when (lblOutage).
    const TOutageWatch& Outage() const { return outage_; }

    // Where the user guide lives and the topic the help command opens.
    static const QString HelpFile;
    static const QString HelpContents;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void wireViews();
    void bindCommands();
    void createTray();
    void startUp();
    // Ends the program with `exitCode` (see ExitCode) once the message loop runs.
    static constexpr int StartFailed = 1;
    void Terminate(int exitCode = 0);
    void restoreFromTray();
    void showCurrentUser();

    void actFileLoginExecute();
    void actFileExitExecute();
    void mnuFileChangePathClick();
    void actHelpAboutExecute();
    void actUsersExecute();
    void actToolsFilteringExecute();
    // A double-click on the week's own surface or in a list: Event properties
    // when it is enabled (an entry the user may change selected); nothing on
    // an entry he may not change; otherwise New event on the selected day.
    void wvMainDblClick();

    // One message per outage: the person's services handed to everything the
    // window makes screen its commands' errors through the watch. Declared
    // before all that uses them, so they go last.
    TOutageWatch outage_;
    TOutageScreen screen_;
    TServices services_;
    std::unique_ptr<TSession> session_;
    std::unique_ptr<TViewNavigator> navigator_;
    std::unique_ptr<TMainActions> actions_;
    std::unique_ptr<TViewAnswers> answers_;
    std::unique_ptr<TMainDialogs> dialogs_;
    std::unique_ptr<TEventCommands> EventCommands_;
    std::unique_ptr<TAlarmPoller> AlarmPoller_;
    bool FirstActivation_ = true;
    bool Terminating_ = false;
    int ExitCode_ = 0;
    bool Shown_ = false;

    QTimer* tmrMain = nullptr;
    QSystemTrayIcon* traMain = nullptr;
    QLabel* lblCurrentUser = nullptr;
    // "The database is unreachable since ..." during an outage.
    QLabel* lblOutage = nullptr;
};
