#pragma once

#include "TfrmReport.h"

#include "UserRecord.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

class DayEntryRecord;
class QAction;
class QMenu;
class QStackedWidget;
class QSystemTrayIcon;
class QTimer;
class TAlarmPoller;
class TEventCommands;
class TCategoryCache;
class TDayEntries;
class TDayView;
class TFilterRules;
class TInstanceLock;
class TMonthView;
class TQuorlaCfg;
class TQuorlaDB;
class TStamp;
class TUserCache;
class TWeekView;
class TfrmCategories;
class TfrmDate;
class TfrmEvent;
class TfrmFiltering;
class TfrmGroups;
class TfrmLogin;
class TfrmNotify;
class TfrmOptions;
class TfrmReportViewer;
class TfrmSelectGroup;
class TfrmTrouble;
class TfrmUsers;

// The main window: the calendar as a week, a month or a single day, every command of
// the program as an action in the menus, on the command bar and in the views'
// context menu, and the owner of every long-lived object of a run.
//
// Life of a run: construction sizes the window (FormCreate); the first show
// runs Today and then, once, the start-up sequence (FormActivate): the
// single-instance test, the workstation settings, the two database
// connections, the first administrator or the log-in, the caches and the alarm
// timer. Any error there is shown and ends the program. Destruction is the
// shutdown: timer off, instance lock released, settings saved, owned objects
// freed.
//
// The views never read the data store: they ask through their "want" events,
// which the window answers from Database, the caches and EntryVisible. Every
// command runs inside TCommand::Run, so an error ends the command only.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The dialogs the window opens; created by the program entry after the
    // window, each once, and reused. Not owned.
    void AttachDialogs(TfrmLogin* login, TfrmDate* date);
    // The administration dialogs, owned by the window. One that is not
    // attached is made when first needed.
    void AttachAdminDialogs(TfrmUsers* users, TfrmCategories* categories);
    // The same for the options, filtering and troubleshooting dialogs; a
    // command whose dialog is not attached does nothing.
    void AttachToolDialogs(TfrmOptions* options, TfrmFiltering* filtering, TfrmTrouble* trouble);
    // The event editor, which the event commands open, and the alarm pop-up,
    // which the alarm poll shows. Not owned.
    // The groups dialog, and the report with its viewer and group picker.
    // One that is not attached is made when first needed.
    void AttachReportDialogs(TfrmGroups* groups, TfrmReport* report, TfrmReportViewer* viewer,
                             TfrmSelectGroup* selectGroup);
    void AttachEventDialogs(TfrmEvent* event, TfrmNotify* notify);

    // The event commands run by the double-click on the week view: New event
    // and Event properties. An unset command does nothing.
    std::function<void()> EventNewCommand;
    std::function<void()> EventPropertiesCommand;

    // The logged-in user; both describe the same user.
    const UserRecord& CurrentUser() const { return CurrentUser_; }
    const QString& CurrentUserKey() const { return CurrentUserKey_; }
    bool FirstActivation() const { return FirstActivation_; }
    // True once something asked the program to end (second instance, failed
    // log-in, start-up error, change of path).
    bool Terminating() const { return Terminating_; }
    // The status the program ends with: 1 when start-up failed (an error, no
    // login), so that whoever started it can tell; otherwise 0, also for a
    // second instance that only said so.
    int ExitCode() const { return ExitCode_; }

    TQuorlaDB* Database() const { return Database_.get(); }
    TQuorlaDB* AlarmDatabase() const { return AlarmDatabase_.get(); }
    TQuorlaCfg* Settings() const { return Settings_.get(); }
    TFilterRules* FilterRules() const { return FilterRules_.get(); }
    TUserCache* UserCache() const { return UserCache_.get(); }
    TCategoryCache* CategoryCache() const { return CategoryCache_.get(); }
    TEventCommands* EventCommands() const { return EventCommands_.get(); }
    TAlarmPoller* AlarmPoller() const { return AlarmPoller_.get(); }

    TWeekView* WeekView() const { return wvMain; }
    TDayView* DayView() const { return dvMain; }
    TMonthView* MonthView() const { return mvMain; }
    bool WeekViewActive() const;
    // While the month shows, the day view stands on its selected day, so that
    // whatever asks the day view for the selected day gets the month's.
    bool MonthViewActive() const;

    // Whether the logged-in user may see `entry` under `rules`: the rules must
    // accept it; then an entry that is not private is visible, and a private
    // one only to administrators and to its assignees (its owner counts for
    // nothing).
    bool EntryVisible(const DayEntryRecord& entry, const TFilterRules& rules) const;

    // Re-reads the active view from the database.
    void RefreshView();
    // Re-evaluates which actions are enabled and which view is ticked. Runs
    // whenever the program becomes idle.
    void UpdateActions();

    // The start-up sequence; does nothing after its first run. Runs by itself
    // on the first activation (or, at the latest, right after the first show).
    void FormActivate();

    // The alarm poll of tmrMain: the timer is off while it runs and on again
    // on every way out (unless the program is ending).
    void tmrMainTimer();

    // The views' requests, answered from the database and the caches. Each
    // leaves its answer alone while there is no database.
    void wvMainWantDayEntries(QObject* sender, const QString& datePkVal, TDayEntries& dayEntries);
    void wvMainWantUserName(QObject* sender, const QString& pk, QString& name);
    void wvMainWantAlarmedFlag(QObject* sender, const QString& pk, bool& alarmed);
    void wvMainWantCategoryDescription(QObject* sender, const QString& pk, QString& description);

    // Where the user guide lives and the topic the help command opens.
    static const QString HelpFile;
    static const QString HelpContents;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Opens the report dialog for a report or for an export.
    void runReportDialog(TfrmReport::Purpose purpose);
    void FormCreate();
    void FormDestroy();
    void createActions();
    void createMenus();
    void createTray();
    QAction* makeAction(const char* name, const QString& caption, const QString& hint,
                        const QString& themeIcon, int fallbackIcon, const QKeySequence& shortcut);
    void bind(QAction* action, void (TfrmMain::*handler)());
    void startUp();
    void logInAtStart();
    void addFirstAdministrator();
    void createCaches();
    // Ends the program with `exitCode` (see ExitCode) once the message loop runs.
    static constexpr int StartFailed = 1;
    void Terminate(int exitCode = 0);
    void restoreFromTray();

    void actTodayExecute();
    void actPrevExecute();
    void actNextExecute();
    void actDateExecute();
    void actToolsViewDayExecute();
    void actToolsViewWeekExecute();
    void actToolsViewMonthExecute();
    void actFileLoginExecute();
    void actFileExitExecute();
    void mnuFileChangePathClick();
    void actHelpAboutExecute();
    void actUsersExecute();
    void actCategoriesExecute();
    void actToolsGroupsExecute();
    void actToolsReportExecute();
    // File > Export calendar...: the report's choices, written as iCalendar.
    void actFileExportExecute();
    void wvMainDblClick();
    void actToolsOptionsExecute();
    void actToolsFilteringExecute();
    void actTroubleshootingExecute();

    // Held in the order the program creates and frees them.
    UserRecord CurrentUser_;
    std::unique_ptr<TStamp> ClockStamp;
    QString CurrentUserKey_;
    std::unique_ptr<TInstanceLock> InstanceMutex;
    bool FirstActivation_ = true;
    std::unique_ptr<TQuorlaDB> Database_;
    std::unique_ptr<TQuorlaCfg> Settings_;
    std::unique_ptr<TUserCache> UserCache_;
    std::unique_ptr<TQuorlaDB> AlarmDatabase_;
    std::unique_ptr<TFilterRules> FilterRules_;
    std::unique_ptr<TCategoryCache> CategoryCache_;
    std::unique_ptr<TEventCommands> EventCommands_;
    std::unique_ptr<TAlarmPoller> AlarmPoller_;
    bool Terminating_ = false;
    int ExitCode_ = 0;
    bool Shown_ = false;

    TfrmLogin* frmLogin = nullptr;
    TfrmDate* frmDate = nullptr;
    TfrmUsers* frmUsers = nullptr;
    TfrmCategories* frmCategories = nullptr;
    TfrmOptions* frmOptions = nullptr;
    TfrmFiltering* frmFiltering = nullptr;
    TfrmTrouble* frmTrouble = nullptr;
    TfrmNotify* frmNotify = nullptr;
    TfrmGroups* frmGroups = nullptr;
    TfrmReport* frmReport = nullptr;
    TfrmReportViewer* frmReportViewer = nullptr;
    TfrmSelectGroup* frmSelectGroup = nullptr;

    QStackedWidget* nbkMain = nullptr;
    QWidget* pageDayView = nullptr;
    QWidget* pageWeekView = nullptr;
    QWidget* pageMonthView = nullptr;
    TDayView* dvMain = nullptr;
    TWeekView* wvMain = nullptr;
    TMonthView* mvMain = nullptr;
    QTimer* tmrMain = nullptr;
    QSystemTrayIcon* traMain = nullptr;
    QMenu* mnuPopup = nullptr;

    QAction* actEventNew = nullptr;
    QAction* actEventProperties = nullptr;
    QAction* actEventDelete = nullptr;
    QAction* actToday = nullptr;
    QAction* actDate = nullptr;
    QAction* actPrev = nullptr;
    QAction* actNext = nullptr;
    QAction* actToolsOptions = nullptr;
    QAction* actToolsFiltering = nullptr;
    QAction* actToolsGroups = nullptr;
    QAction* actToolsReport = nullptr;
    QAction* actFileExport = nullptr;
    QAction* actToolsViewDay = nullptr;
    QAction* actToolsViewWeek = nullptr;
    QAction* actToolsViewMonth = nullptr;
    QAction* actUsers = nullptr;
    QAction* actCategories = nullptr;
    QAction* actTroubleshooting = nullptr;
    QAction* actFileLogin = nullptr;
    QAction* actFileExit = nullptr;
    QAction* actHelpAbout = nullptr;
    QAction* actHelpInfo = nullptr;
    QAction* mnuFileChangePath = nullptr;
    QAction* mnuHelpQuorlaHelp = nullptr;
};
