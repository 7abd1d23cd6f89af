#include "TfrmMain.h"

#include "AlarmRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "TEntryQuery.h"
#include "TEntryVisibility.h"
#include "TLookup.h"
#include "TTextCapacity.h"
#include "TCategoryCache.h"
#include "TCommand.h"
#include "TDayEntries.h"
#include "TDayView.h"
#include "TEventCommands.h"
#include "TFilterRules.h"
#include "TInstanceLock.h"
#include "TMonthView.h"
#include "TProgramIcon.h"
#include "TQuorlaCfg.h"
#include "TQuorlaDB.h"
#include "TServices.h"
#include "TStamp.h"
#include "TUserCache.h"
#include "TWeekView.h"
#include "TWorkstationStore.h"
#include "TfrmCategories.h"
#include "TfrmDate.h"
#include "TfrmEvent.h"
#include "TfrmFiltering.h"
#include "TfrmGroups.h"
#include "TfrmLogin.h"
#include "TfrmNotify.h"
#include "TfrmOptions.h"
#include "TfrmReport.h"
#include "TfrmReportViewer.h"
#include "TfrmSelectGroup.h"
#include "TfrmTrouble.h"
#include "TfrmUsers.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

namespace {

using Kind = TServices::MessageKind;
using Buttons = TServices::MessageButtons;
using Answer = TServices::MessageAnswer;

constexpr int AlarmPollMs = 10000;
constexpr int MinimumWidth = 427;
constexpr int MinimumHeight = 320;
// Add entries, administer, modify other users' entries; not add entries for
// other users.
constexpr qint32 FirstAdministratorRights
    = UserRecord::CanAddEntries | UserRecord::CanAdminister | UserRecord::CanModifyOthersEntries;

const QString AppTitle = QStringLiteral("Quorla");
const QString WeekPage = QStringLiteral("WeekView");
const QString DayPage = QStringLiteral("DayView");
const QString MonthPage = QStringLiteral("MonthView");
const QString DayHeaderPicture = QStringLiteral("dddd, dd mmmm, yyyy");

const QString AlreadyRunning = QStringLiteral("Quorla is already running on this workstation");
const QString FailedLogin = QStringLiteral("You have failed to login. Please contact your administrator");
const QString ExitQuestion = QStringLiteral("Terminate Quorla and suspend all of your personal alarms. Are you sure?");
const QString ChangePathQuestion = QStringLiteral("Change the Quorla Database location, Are you sure?");
const QString ChangePathDone = QStringLiteral("Please restart Quorla to choose the new database location");
const QString RootPathValue = QStringLiteral("RootPath");

QString welcomeText(const QString& userName)
{
    return QStringLiteral("Welcome to Quorla as a new administrator\r\r"
                          "Your user name is \"%1\" and your password is \"<blank>\"\r\r"
                          "Please do not forget this information")
        .arg(userName);
}

} // namespace

const QString TfrmMain::HelpFile = QStringLiteral("qrc:/help/quorla.html");
const QString TfrmMain::HelpContents = QStringLiteral("Contents");

// The icon and the user guide live in a static library; this keeps them linked
// in and registered. Q_INIT_RESOURCE may not stand inside a namespace.
static void initResources()
{
    Q_INIT_RESOURCE(quorla);
}

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent)
{
    initResources();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(AppTitle);
    setWindowIcon(TProgramIcon::Icon());

    nbkMain = new QStackedWidget(this);
    nbkMain->setObjectName(QStringLiteral("nbkMain"));
    pageDayView = new QWidget(nbkMain);
    pageDayView->setObjectName(DayPage);
    pageWeekView = new QWidget(nbkMain);
    pageWeekView->setObjectName(WeekPage);
    dvMain = new TDayView(pageDayView);
    dvMain->setObjectName(QStringLiteral("dvMain"));
    wvMain = new TWeekView(pageWeekView);
    wvMain->setObjectName(QStringLiteral("wvMain"));
    wvMain->setStatusTip(QStringLiteral("Right-click for options"));
    wvMain->setToolTip(QStringLiteral("Right-click for options"));
    pageMonthView = new QWidget(nbkMain);
    pageMonthView->setObjectName(MonthPage);
    mvMain = new TMonthView(pageMonthView);
    mvMain->setObjectName(QStringLiteral("mvMain"));
    mvMain->setToolTip(wvMain->toolTip());
    for (auto [page, view] : {std::pair<QWidget*, QWidget*>{pageDayView, dvMain}, {pageWeekView, wvMain},
                              {pageMonthView, mvMain}}) {
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
        nbkMain->addWidget(page);
    }
    // The day page shows first, so the first Today sets the day view's date;
    // the start-up switches to the week before anything is read.
    nbkMain->setCurrentWidget(pageDayView);
    setCentralWidget(nbkMain);

    dvMain->setDateFormat(DayHeaderPicture);
    wvMain->setDateFormat(DayHeaderPicture);
    auto wire = [this](auto* view) {
        view->OnWantDayEntries = [this](QObject* s, const QString& k, TDayEntries& e) { wvMainWantDayEntries(s, k, e); };
        view->OnWantUserName = [this](QObject* s, const QString& k, QString& n) { wvMainWantUserName(s, k, n); };
        view->OnWantAlarmedFlag = [this](QObject* s, const QString& k, bool& a) { wvMainWantAlarmedFlag(s, k, a); };
        view->OnWantCategoryDescription
            = [this](QObject* s, const QString& k, QString& d) { wvMainWantCategoryDescription(s, k, d); };
        // A drawing failure is reported like a failed command.
        view->OnError = [](QObject*, const QString& message) {
            TCommand::Run([&message] { throw EQuorla(message); });
        };
    };
    wire(dvMain);
    wire(wvMain);
    wire(mvMain);
    // Double-clicking a day of the month opens it in the day view.
    mvMain->OnDblClick = [this](QObject*) { TCommand::Run([this] { actToolsViewDayExecute(); }); };
    mvMain->OnSelectDay = [this](QObject*) {
        if (MonthViewActive())
            dvMain->Stamp.SetSeconds(mvMain->SelectedSeconds());
    };
    wvMain->OnDblClick = [this](QObject*) { TCommand::Run([this] { wvMainDblClick(); }); };

    tmrMain = new QTimer(this);
    tmrMain->setObjectName(QStringLiteral("tmrMain"));
    tmrMain->setInterval(AlarmPollMs);
    connect(tmrMain, &QTimer::timeout, this, [this] { TCommand::Run([this] { tmrMainTimer(); }); });
    EventCommands_ = std::make_unique<TEventCommands>(*this);

    createActions();
    createMenus();
    createTray();

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("pnlStatus"));
    setStatusBar(status);

    // Enabling follows the selection and the user as soon as the program is
    // idle, the way the event loop reports it before it waits.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TfrmMain::UpdateActions);

    FormCreate();
    UpdateActions();
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
}

void TfrmMain::AttachDialogs(TfrmLogin* login, TfrmDate* date)
{
    frmLogin = login;
    frmDate = date;
}

void TfrmMain::AttachAdminDialogs(TfrmUsers* users, TfrmCategories* categories)
{
    frmUsers = users;
    frmCategories = categories;
}

void TfrmMain::actUsersExecute()
{
    if (!frmUsers)
        frmUsers = new TfrmUsers(this);
    frmUsers->Execute(CurrentUserKey_, *Database_, *UserCache_);
    RefreshView();
}

void TfrmMain::actCategoriesExecute()
{
    if (!frmCategories)
        frmCategories = new TfrmCategories(this);
    frmCategories->Execute(*Database_, *CategoryCache_);
    RefreshView();
}

void TfrmMain::AttachToolDialogs(TfrmOptions* options, TfrmFiltering* filtering, TfrmTrouble* trouble)
{
    frmOptions = options;
    frmFiltering = filtering;
    frmTrouble = trouble;
}

void TfrmMain::AttachReportDialogs(TfrmGroups* groups, TfrmReport* report, TfrmReportViewer* viewer,
                                   TfrmSelectGroup* selectGroup)
{
    frmGroups = groups;
    frmReport = report;
    frmReportViewer = viewer;
    frmSelectGroup = selectGroup;
}

void TfrmMain::actToolsGroupsExecute()
{
    if (!Database_)
        return;
    if (!frmGroups)
        frmGroups = new TfrmGroups(this);
    frmGroups->Execute(*Settings_, *Database_);
}

void TfrmMain::actToolsReportExecute()
{
    runReportDialog(TfrmReport::Purpose::Report);
}

void TfrmMain::actFileExportExecute()
{
    runReportDialog(TfrmReport::Purpose::Export);
}

void TfrmMain::runReportDialog(TfrmReport::Purpose purpose)
{
    if (!Database_)
        return;
    if (!frmReport)
        frmReport = new TfrmReport(this);
    if (!frmReportViewer)
        frmReportViewer = new TfrmReportViewer(this);
    if (!frmSelectGroup)
        frmSelectGroup = new TfrmSelectGroup(this);
    TfrmSelectGroup* selectGroup = frmSelectGroup;
    frmReport->OnSelectGroup = [selectGroup](TQuorlaCfg& settings, QListWidget& checkList) {
        return selectGroup->Execute(settings, checkList);
    };
    frmReport->SetPurpose(purpose);
    frmReport->Execute(*FilterRules_, *Settings_, *Database_, CurrentUser_, CurrentUserKey_, *frmReportViewer);
}

void TfrmMain::AttachEventDialogs(TfrmEvent* event, TfrmNotify* notify)
{
    if (event != nullptr) {
        EventCommands_->UseEditor(*event);
        EventNewCommand = [this] { EventCommands_->actEventNewExecute(); };
        EventPropertiesCommand = [this] { EventCommands_->actEventPropertiesExecute(); };
    }
    frmNotify = notify;
    AlarmPoller_.reset();
    if (notify != nullptr) {
        AlarmPoller_ = std::make_unique<TAlarmPoller>(
            [notify](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
                return notify->Execute(alarm, key, database);
            });
        AlarmPoller_->AfterPopup = [this] { RefreshView(); };
    }
}

QAction* TfrmMain::makeAction(const char* name, const QString& caption, const QString& hint,
                              const QString& themeIcon, int fallbackIcon, const QKeySequence& shortcut)
{
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    action->setStatusTip(hint);
    action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
    if (!themeIcon.isEmpty()) {
        // The desktop's icon where it has one; our own or the style's otherwise.
        const QIcon fallback = fallbackIcon < 0 ? TProgramIcon::Icon()
                                                : style()->standardIcon(QStyle::StandardPixmap(fallbackIcon));
        action->setIcon(QIcon::fromTheme(themeIcon, fallback));
    }
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

void TfrmMain::bind(QAction* action, void (TfrmMain::*handler)())
{
    TCommand::Bind(action, [this, handler] { (this->*handler)(); });
}

void TfrmMain::createActions()
{
    const QKeySequence none;
    actEventNew = makeAction("actEventNew", QStringLiteral("&New event..."), QStringLiteral("Add a new event"),
                             QStringLiteral("document-new"), QStyle::SP_FileIcon, QKeySequence(Qt::Key_Insert));
    actEventProperties
        = makeAction("actEventProperties", QStringLiteral("Event &properties..."),
                     QStringLiteral("Modify event properties"), QStringLiteral("document-properties"),
                     QStyle::SP_FileDialogDetailedView, none);
    actEventDelete = makeAction("actEventDelete", QStringLiteral("&Delete event..."), QStringLiteral("Delete event"),
                                QStringLiteral("edit-delete"), QStyle::SP_TrashIcon, QKeySequence(Qt::Key_Delete));
    actToday = makeAction("actToday", QStringLiteral("&Today"), QStringLiteral("Goto today"),
                          QStringLiteral("go-jump-today"), QStyle::SP_DirHomeIcon, QKeySequence(QStringLiteral("Ctrl+T")));
    actDate = makeAction("actDate", QStringLiteral("&Date..."), QStringLiteral("Goto a specific date"),
                         QStringLiteral("x-office-calendar"), -1, QKeySequence(QStringLiteral("Ctrl+D")));
    actPrev = makeAction("actPrev", QStringLiteral("&Previous week"), QStringLiteral("Goto the previous week / day"),
                         QStringLiteral("go-previous"), QStyle::SP_ArrowBack, QKeySequence(QStringLiteral("Ctrl+P")));
    actNext = makeAction("actNext", QStringLiteral("&Next week"), QStringLiteral("Goto the next week / day"),
                         QStringLiteral("go-next"), QStyle::SP_ArrowForward, QKeySequence(QStringLiteral("Ctrl+N")));
    actToolsOptions = makeAction("actToolsOptions", QStringLiteral("&Options..."),
                                 QStringLiteral("Configure Quorla options"), QStringLiteral("preferences-system"),
                                 QStyle::SP_ComputerIcon, none);
    actToolsFiltering = makeAction("actToolsFiltering", QStringLiteral("&Filtering..."),
                                   QStringLiteral("Set filtering rules"), QStringLiteral("view-filter"),
                                   QStyle::SP_FileDialogContentsView, none);
    actToolsGroups = makeAction("actToolsGroups", QStringLiteral("&Groups..."), QStringLiteral("Configure groups"),
                                QStringLiteral("system-users"), QStyle::SP_DirLinkIcon, none);
    actToolsReport = makeAction("actToolsReport", QStringLiteral("&Report..."), QStringLiteral("Generate a report"),
                                QStringLiteral("document-print-preview"), QStyle::SP_FileDialogInfoView, none);
    actToolsViewDay = makeAction("actToolsViewDay", QStringLiteral("By &day"), QStringLiteral("View events by day"),
                                 QStringLiteral("view-calendar-day"), QStyle::SP_FileDialogDetailedView, none);
    actToolsViewWeek = makeAction("actToolsViewWeek", QStringLiteral("By &week"),
                                  QStringLiteral("View events by week"), QStringLiteral("view-calendar-week"),
                                  QStyle::SP_FileDialogListView, none);
    actToolsViewMonth = makeAction("actToolsViewMonth", QStringLiteral("By &month"),
                                   QStringLiteral("View events by month"), QString(), 0,
                                   QKeySequence(QStringLiteral("Ctrl+M")));
    actToolsViewMonth->setIcon(
        QIcon::fromTheme(QStringLiteral("view-calendar-month"), QIcon(QStringLiteral(":/icons/month.xpm"))));
    actUsers = makeAction("actUsers", QStringLiteral("&Users"), QStringLiteral("Administer Quorla users"),
                          QStringLiteral("system-users"), QStyle::SP_DirHomeIcon, none);
    actCategories = makeAction("actCategories", QStringLiteral("&Categories"),
                               QStringLiteral("Administer Quorla categories"), QStringLiteral("folder"),
                               QStyle::SP_DirIcon, none);
    actTroubleshooting
        = makeAction("actTroubleshooting", QStringLiteral("&Troubleshooting..."), QString(), QString(), 0, none);
    actFileLogin = makeAction("actFileLogin", QStringLiteral("&Login"), QStringLiteral("Login to Quorla as another user"),
                              QStringLiteral("system-switch-user"), QStyle::SP_DialogYesButton, none);
    actFileExport = makeAction("actFileExport", QStringLiteral("&Export calendar..."),
                               QStringLiteral("Export events to an iCalendar file for other calendars"),
                               QStringLiteral("document-export"), QStyle::SP_DialogSaveButton, none);
    actFileExit = makeAction("actFileExit", QStringLiteral("E&xit"), QStringLiteral("Quit Quorla"),
                             QStringLiteral("application-exit"), QStyle::SP_DialogCloseButton,
                             QKeySequence(QStringLiteral("Ctrl+X")));
    // Placed in no menu or bar, so its F1 never competes with the Help menu's.
    actHelpAbout = makeAction("actHelpAbout", QStringLiteral("&About..."), QStringLiteral("Help about Quorla"),
                              QStringLiteral("help-contents"), QStyle::SP_DialogHelpButton,
                              QKeySequence(Qt::Key_F1));
    actHelpInfo = makeAction("actHelpInfo", QStringLiteral("About"), QString(), QString(), 0, none);
    mnuFileChangePath = makeAction("mnuFileChangePath", QStringLiteral("&Change path"),
                                   QStringLiteral("Chnages the database path"), QString(), 0, none);
    mnuHelpQuorlaHelp = makeAction("mnuHelpQuorlaHelp", QStringLiteral("&Quorla Help"),
                                   QStringLiteral("Help about Quorla"), QStringLiteral("help-contents"),
                                   QStyle::SP_DialogHelpButton, QKeySequence(Qt::Key_F1));

    actToolsViewDay->setCheckable(true);
    actToolsViewWeek->setCheckable(true);
    actToolsViewMonth->setCheckable(true);

    TCommand::Bind(actEventNew, [this] { EventCommands_->actEventNewExecute(); });
    TCommand::Bind(actEventProperties, [this] { EventCommands_->actEventPropertiesExecute(); });
    TCommand::Bind(actEventDelete, [this] { EventCommands_->actEventDeleteExecute(); });
    bind(actToday, &TfrmMain::actTodayExecute);
    bind(actDate, &TfrmMain::actDateExecute);
    bind(actPrev, &TfrmMain::actPrevExecute);
    bind(actNext, &TfrmMain::actNextExecute);
    bind(actToolsViewDay, &TfrmMain::actToolsViewDayExecute);
    bind(actToolsViewWeek, &TfrmMain::actToolsViewWeekExecute);
    bind(actToolsViewMonth, &TfrmMain::actToolsViewMonthExecute);
    bind(actFileLogin, &TfrmMain::actFileLoginExecute);
    bind(actFileExport, &TfrmMain::actFileExportExecute);
    bind(actFileExit, &TfrmMain::actFileExitExecute);
    bind(mnuFileChangePath, &TfrmMain::mnuFileChangePathClick);
    bind(actHelpAbout, &TfrmMain::actHelpAboutExecute);
    bind(mnuHelpQuorlaHelp, &TfrmMain::actHelpAboutExecute);
    bind(actUsers, &TfrmMain::actUsersExecute);
    bind(actCategories, &TfrmMain::actCategoriesExecute);
    bind(actToolsOptions, &TfrmMain::actToolsOptionsExecute);
    bind(actToolsFiltering, &TfrmMain::actToolsFilteringExecute);
    bind(actTroubleshooting, &TfrmMain::actTroubleshootingExecute);
    bind(actToolsGroups, &TfrmMain::actToolsGroupsExecute);
    bind(actToolsReport, &TfrmMain::actToolsReportExecute);
}

void TfrmMain::createMenus()
{
    // Menus, command bar and context menu in the order the users know them.
    // Troubleshooting sits in the Admin menu only; the help's F1 is the Help
    // menu item's alone.
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("tbrMenu"));

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->addAction(actFileLogin);
    file->addAction(actFileExport);
    file->addSeparator();
    file->addAction(mnuFileChangePath);
    file->addSeparator();
    file->addAction(actFileExit);

    QMenu* event = bar->addMenu(QStringLiteral("&Event"));
    event->setObjectName(QStringLiteral("mnuEvent"));
    event->addAction(actEventNew);
    event->addAction(actEventDelete);
    event->addAction(actEventProperties);

    QMenu* navigate = bar->addMenu(QStringLiteral("&Navigate"));
    navigate->setObjectName(QStringLiteral("mnuNavigate"));
    navigate->addAction(actToday);
    navigate->addAction(actDate);
    navigate->addSeparator();
    navigate->addAction(actNext);
    navigate->addAction(actPrev);
    navigate->addSeparator();
    navigate->addAction(actToolsViewMonth);

    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    tools->addAction(actToolsOptions);
    tools->addAction(actToolsFiltering);
    tools->addAction(actToolsGroups);
    tools->addAction(actToolsReport);
    tools->addSeparator();
    QMenu* view = tools->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuToolsView"));
    view->addAction(actToolsViewDay);
    view->addAction(actToolsViewWeek);
    view->addAction(actToolsViewMonth);

    QMenu* admin = bar->addMenu(QStringLiteral("Admin"));
    admin->setObjectName(QStringLiteral("mnuAdmin"));
    admin->addAction(actUsers);
    admin->addAction(actCategories);
    // Troubleshooting has no image and stays off the command bar; without a
    // menu place it could not be run at all.
    admin->addAction(actTroubleshooting);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    help->addAction(mnuHelpQuorlaHelp);

    QToolBar* tools_bar = addToolBar(QStringLiteral("Tools"));
    tools_bar->setObjectName(QStringLiteral("tbrTools"));
    tools_bar->setMovable(false);
    tools_bar->addAction(actEventNew);
    tools_bar->addAction(actEventProperties);
    tools_bar->addAction(actEventDelete);
    tools_bar->addSeparator();
    tools_bar->addAction(actToday);
    tools_bar->addAction(actDate);
    tools_bar->addAction(actPrev);
    tools_bar->addAction(actNext);
    tools_bar->addSeparator();
    tools_bar->addAction(actToolsOptions);
    tools_bar->addAction(actToolsFiltering);
    tools_bar->addAction(actToolsGroups);
    tools_bar->addAction(actToolsReport);
    tools_bar->addAction(actToolsViewDay);
    tools_bar->addAction(actToolsViewWeek);
    tools_bar->addAction(actToolsViewMonth);
    tools_bar->addSeparator();
    tools_bar->addAction(actUsers);
    tools_bar->addAction(actCategories);

    mnuPopup = new QMenu(this);
    mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    mnuPopup->addAction(actEventNew);
    mnuPopup->addAction(actEventDelete);
    mnuPopup->addAction(actEventProperties);
    mnuPopup->addSeparator();
    mnuPopup->addAction(actToday);
    mnuPopup->addAction(actDate);
    mnuPopup->addSeparator();
    mnuPopup->addAction(actToolsOptions);
    mnuPopup->addAction(actToolsFiltering);
    mnuPopup->addAction(actToolsGroups);
    mnuPopup->addAction(actToolsReport);
    mnuPopup->addSeparator();
    QMenu* popupView = mnuPopup->addMenu(QStringLiteral("&View"));
    popupView->setObjectName(QStringLiteral("mnuPopupView"));
    popupView->addAction(actToolsViewDay);
    popupView->addAction(actToolsViewWeek);
    popupView->addAction(actToolsViewMonth);
    wvMain->setPopupMenu(mnuPopup);
    dvMain->setPopupMenu(mnuPopup);
    mvMain->setPopupMenu(mnuPopup);
}

void TfrmMain::createTray()
{
    // Minimising hides the window into the notification area only where there
    // is one; without it the window stays an ordinary minimised window, since
    // hiding it would leave no way back to it.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    traMain = new QSystemTrayIcon(windowIcon(), this);
    traMain->setObjectName(QStringLiteral("traMain"));
    traMain->setToolTip(AppTitle);
    connect(traMain, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            restoreFromTray();
    });
    traMain->show();
}

void TfrmMain::restoreFromTray()
{
    showNormal();
    raise();
    activateWindow();
    TCommand::Run([this] { RefreshView(); });
}

void TfrmMain::FormCreate()
{
    FirstActivation_ = true;
    TServices& services = TServices::current();
    const QSize screen = services.screenSize();
    setMinimumSize(MinimumWidth, MinimumHeight);
    const int width = qMax(MinimumWidth, screen.width() * 8 / 10);
    const int height = qMax(MinimumHeight, screen.height() * 8 / 10);
    resize(width, height);
    move((screen.width() - width) / 2, (screen.height() - height) / 2);
    if (services.startupShowState() == TServices::ShowState::Minimised)
        QTimer::singleShot(0, this, [this] { showMinimized(); });
    // Both views start on the present; nothing is read before the start-up.
    wvMain->ShowToday();
}

bool TfrmMain::WeekViewActive() const
{
    return nbkMain->currentWidget() != nullptr && nbkMain->currentWidget()->objectName() == WeekPage;
}

bool TfrmMain::MonthViewActive() const
{
    return nbkMain->currentWidget() == pageMonthView;
}

bool TfrmMain::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && FirstActivation_)
        QTimer::singleShot(0, this, &TfrmMain::FormActivate);
    return QMainWindow::event(event);
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous() || Shown_)
        return;
    // Today runs on the first show only: a window coming back from the
    // notification area keeps its place and is refreshed instead.
    Shown_ = true;
    TCommand::Run([this] { actTodayExecute(); });
    // A window that is never activated (started minimised, or on a desktop
    // that activates nothing by itself) still starts up.
    QTimer::singleShot(0, this, &TfrmMain::FormActivate);
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    TCommand::Run([this] { RefreshView(); });
}

void TfrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (isMinimized()) {
        if (traMain != nullptr)
            QTimer::singleShot(0, this, &QWidget::hide);
    } else if (change->oldState() & Qt::WindowMinimized) {
        TCommand::Run([this] { RefreshView(); });
    }
}

void TfrmMain::FormActivate()
{
    if (!FirstActivation_)
        return;
    nbkMain->setCurrentWidget(pageWeekView);
    FirstActivation_ = false;
    UpdateActions();
    try {
        startUp();
    } catch (...) {
        const QString message = TCommand::MessageOf(std::current_exception());
        TServices::current().message(Kind::Error, Buttons::Ok, message);
        Terminate(StartFailed);
    }
    UpdateActions();
}

void TfrmMain::startUp()
{
    TServices& services = TServices::current();
    ClockStamp = std::make_unique<TStamp>();
    FilterRules_ = std::make_unique<TFilterRules>();

    InstanceMutex = std::make_unique<TInstanceLock>();
    if (!InstanceMutex->Acquire()) {
        const QSize screen = services.screenSize();
        setMinimumSize(0, 0);
        setGeometry(screen.width(), 0, 0, 0);
        hide();
        services.message(Kind::Information, Buttons::Ok, AlreadyRunning);
        Terminate();
        return;
    }

    // Loading creates the workstation's key, where the database then looks for
    // its folder.
    Settings_ = std::make_unique<TQuorlaCfg>();
    Settings_->Load();
    Settings_->ApplyToViews(*wvMain, *dvMain);
    Settings_->ApplyToView(*mvMain);
    Database_ = std::make_unique<TQuorlaDB>();
    AlarmDatabase_ = std::make_unique<TQuorlaDB>();

    UserRecord user;
    if (Database_->Users().RecordCount() != 0) {
        user.setUserName(TTextCapacity::cut(services.userName().toUpper(), UserRecord::UserNameCapacity));
        if (frmLogin == nullptr || frmLogin->Execute(*Database_, user) != 1) {
            services.message(Kind::Error, Buttons::Ok, FailedLogin);
            Terminate(StartFailed);
            return;
        }
        if (!Database_->Users().GetEqual(user.bytes(), UserRecord::UserNameIndex, frmLogin->EnteredUserName()))
            throw EQuorla(Database_->Users().ErrorText());
    } else {
        QString name = services.userName().toUpper();
        if (name.isEmpty())
            name = QStringLiteral("ADMIN");
        Database_->InitUserRecord(user);
        user.setRights(FirstAdministratorRights);
        // Cut to what the field holds (ten letters, fewer with accents).
        user.setUserName(TTextCapacity::cut(name, UserRecord::UserNameCapacity));
        user.setFullName(user.UserName());
        user.setAbbreviation(user.UserName());
        if (!Database_->Users().Insert(user.bytes()))
            throw EQuorla(Database_->Users().ErrorText());
        services.message(Kind::Information, Buttons::Ok, welcomeText(user.UserName()));
    }
    CurrentUserKey_ = Database_->Users().CurrentKey();
    CurrentUser_ = user;

    createCaches();
    tmrMain->start();
    wvMain->RefreshEntries();
}

void TfrmMain::createCaches()
{
    UserCache_ = std::make_unique<TUserCache>(Database_->Users());
    UserCache_->OnUpdate = [this](TQuorlaCache& cache) { cache.FillFrom(Database_->Users()); };
    CategoryCache_ = std::make_unique<TCategoryCache>(Database_->Categories());
    CategoryCache_->OnUpdate = [this](TQuorlaCache& cache) { cache.FillFrom(Database_->Categories()); };
}

void TfrmMain::Terminate(int exitCode)
{
    Terminating_ = true;
    ExitCode_ = exitCode;
    tmrMain->stop();
    hide();
    // Queued, so that it also ends a loop that has not started yet. Only the
    // application's own loop: QCoreApplication::exit would end every running
    // loop, a modal dialog's too.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TfrmMain::FormDestroy()
{
    tmrMain->stop();
    AlarmPoller_.reset();
    if (InstanceMutex)
        InstanceMutex->Release();
    // A second instance stopped before it had settings and saves nothing.
    if (Settings_) {
        TCommand::Run([this] {
            Settings_->CaptureFromViews(*wvMain);
            Settings_->Save();
        });
        Settings_.reset();
    }
    AlarmDatabase_.reset();
    CategoryCache_.reset();
    FilterRules_.reset();
    UserCache_.reset();
    Database_.reset();
    ClockStamp.reset();
}

bool TfrmMain::EntryVisible(const DayEntryRecord& entry, const TFilterRules& rules) const
{
    return ::EntryVisible(rules, CurrentUser_, CurrentUserKey_, entry);
}

void TfrmMain::wvMainWantDayEntries(QObject* /*sender*/, const QString& datePkVal, TDayEntries& dayEntries)
{
    if (!Database_ || !FilterRules_)
        return;
    TEntryQuery::ReadDay(Database_->DayEntries(), datePkVal, [&](const DayEntryRecord& entry, const QString& key) {
        if (EntryVisible(entry, *FilterRules_))
            dayEntries.Add(entry, key);
    });
}

void TfrmMain::wvMainWantUserName(QObject* /*sender*/, const QString& pk, QString& name)
{
    if (!Database_ || !UserCache_)
        return;
    UserRecord user;
    UserCache_->Lookup(pk, user);
    name = user.Abbreviation();
}

void TfrmMain::wvMainWantAlarmedFlag(QObject* /*sender*/, const QString& pk, bool& alarmed)
{
    if (!Database_)
        return;
    AlarmRecord alarm;
    alarmed = TLookup::Equal(Database_->Alarms(), alarm.bytes(), AlarmRecord::DayEntryKeyIndex, pk);
}

void TfrmMain::wvMainWantCategoryDescription(QObject* /*sender*/, const QString& pk, QString& description)
{
    if (!Database_ || !CategoryCache_)
        return;
    CategoryRecord category;
    CategoryCache_->Lookup(pk, category);
    description = category.Description();
}

void TfrmMain::RefreshView()
{
    if (WeekViewActive())
        wvMain->RefreshEntries();
    else if (MonthViewActive())
        mvMain->RefreshEntries();
    else
        dvMain->RefreshEntries();
}

void TfrmMain::UpdateActions()
{
    const qint32 rights = CurrentUser_.Rights();
    actEventNew->setEnabled((rights & UserRecord::CanAddEntries) != 0);

    const bool week = WeekViewActive();
    const QString selected = week ? wvMain->SelectedPk() : dvMain->SelectedPk();
    const QString owner = week ? wvMain->SelectedOwnerKey() : dvMain->SelectedOwnerKey();
    // The month selects days, not entries.
    const bool mayChange = !MonthViewActive() && !RecordKey::isNone(selected)
                           && (owner == CurrentUserKey_ || (rights & UserRecord::CanModifyOthersEntries) != 0);
    actEventProperties->setEnabled(mayChange);
    actEventDelete->setEnabled(mayChange);

    const bool administrator = (rights & UserRecord::CanAdminister) != 0;
    actUsers->setEnabled(administrator);
    actCategories->setEnabled(administrator);
    actTroubleshooting->setEnabled(administrator);

    actToolsViewDay->setChecked(!week && !MonthViewActive());
    actToolsViewWeek->setChecked(week);
    actToolsViewMonth->setChecked(MonthViewActive());
}

void TfrmMain::actTodayExecute()
{
    if (WeekViewActive())
        wvMain->ShowToday();
    else if (MonthViewActive())
        mvMain->ShowToday();
    else
        dvMain->Stamp.SetDateTime(TServices::current().now());
}

void TfrmMain::actPrevExecute()
{
    if (WeekViewActive())
        wvMain->PrevWeek();
    else if (MonthViewActive())
        mvMain->PrevMonth();
    else
        dvMain->Stamp.Increment(TStamp::IncDays, -1);
}

void TfrmMain::actNextExecute()
{
    if (WeekViewActive())
        wvMain->NextWeek();
    else if (MonthViewActive())
        mvMain->NextMonth();
    else
        dvMain->Stamp.Increment(TStamp::IncDays, 1);
}

void TfrmMain::actDateExecute()
{
    if (frmDate == nullptr)
        return;
    const QDate today = TServices::current().now().date();
    if (WeekViewActive())
        frmDate->ExecuteForWeek(*wvMain, today);
    else if (MonthViewActive())
        frmDate->ExecuteForMonth(*mvMain, today);
    else
        frmDate->ExecuteForDay(*dvMain, today);
}

void TfrmMain::actToolsViewDayExecute()
{
    if (nbkMain->currentWidget() == pageDayView) {
        UpdateActions();
        return;
    }
    dvMain->Stamp.SetSeconds(WeekViewActive() ? wvMain->SelectedSeconds() : mvMain->SelectedSeconds());
    nbkMain->setCurrentWidget(pageDayView);
    UpdateActions();
}

void TfrmMain::actToolsViewWeekExecute()
{
    if (WeekViewActive()) {
        UpdateActions();
        return;
    }
    const QDateTime selected = MonthViewActive() ? mvMain->SelectedDateTime() : dvMain->Stamp.AsDateTime();
    wvMain->ShowWeekOf(selected);
    nbkMain->setCurrentWidget(pageWeekView);
    wvMain->RefreshEntries();
    wvMain->SelectDay(selected.date());
    UpdateActions();
}

void TfrmMain::actToolsViewMonthExecute()
{
    if (MonthViewActive()) {
        UpdateActions();
        return;
    }
    TStamp selected;
    selected.SetSeconds(WeekViewActive() ? wvMain->SelectedSeconds() : dvMain->Stamp.Seconds());
    nbkMain->setCurrentWidget(pageMonthView);
    mvMain->ShowMonthOf(selected.AsDateTime());
    mvMain->setFocus(Qt::OtherFocusReason);
    UpdateActions();
}

void TfrmMain::actFileLoginExecute()
{
    if (!Database_ || frmLogin == nullptr)
        return;
    tmrMain->stop();
    // Alarm polling resumes on every way out, the failed log-in included.
    const auto resume = qScopeGuard([this] { tmrMain->start(); });
    UserRecord user;
    user.setUserName(CurrentUser_.UserName());
    if (frmLogin->Execute(*Database_, user) != 1)
        throw EQuorla(FailedLogin);
    UserRecord found;
    if (!Database_->Users().GetEqual(found.bytes(), UserRecord::UserNameIndex, frmLogin->EnteredUserName()))
        throw EQuorla(Database_->Users().ErrorText());
    CurrentUserKey_ = Database_->Users().CurrentKey();
    CurrentUser_ = found;
    UpdateActions();
    RefreshView();
}

void TfrmMain::actFileExitExecute()
{
    if (TServices::current().message(Kind::Confirmation, Buttons::YesNo, ExitQuestion) == Answer::Yes)
        close();
}

void TfrmMain::mnuFileChangePathClick()
{
    TServices& services = TServices::current();
    if (services.message(Kind::Warning, Buttons::OkCancel, ChangePathQuestion) != Answer::Ok)
        return;
    TWorkstationStore store;
    if (!store.OpenKey(false) || !store.DeleteValue(RootPathValue))
        return;
    services.message(Kind::Information, Buttons::Ok, ChangePathDone);
    Terminate();
}

void TfrmMain::actHelpAboutExecute()
{
    const TServices::HandOffResult result = TServices::current().showHelp(HelpFile, HelpContents);
    if (result.outcome == TServices::Outcome::Failed)
        throw EQuorla(result.errorText);
}

void TfrmMain::tmrMainTimer()
{
    if (!AlarmPoller_ || !AlarmDatabase_ || CurrentUserKey_.isEmpty())
        return;
    tmrMain->stop();
    // Polling goes on after every poll, a failed one included.
    const auto resume = qScopeGuard([this] {
        if (!Terminating_)
            tmrMain->start();
    });
    AlarmPoller_->Poll(*AlarmDatabase_, CurrentUserKey_);
}

void TfrmMain::wvMainDblClick()
{
    UpdateActions();
    if (actEventProperties->isEnabled()) {
        if (EventPropertiesCommand)
            EventPropertiesCommand();
    } else if (actEventNew->isEnabled()) {
        // Without the right to add entries a double-click opens nothing.
        if (EventNewCommand)
            EventNewCommand();
    }
}

void TfrmMain::actToolsOptionsExecute()
{
    // Before the start-up there are no settings to change.
    if (frmOptions != nullptr && Settings_) {
        frmOptions->Execute(*wvMain, *dvMain, *Settings_);
        Settings_->ApplyToView(*mvMain);
    }
}

void TfrmMain::actToolsFilteringExecute()
{
    if (frmFiltering == nullptr || !Database_ || !FilterRules_)
        return;
    if (frmFiltering->Execute(*Settings_, *Database_, *FilterRules_) != 1)
        return;
    RefreshView();
    switch (FilterRules_->Mode) {
    case TFilterRules::ShowMine:
        setWindowTitle(AppTitle + QStringLiteral(" - Filter On Me"));
        break;
    case TFilterRules::ShowChosen:
        setWindowTitle(AppTitle + QStringLiteral(" - Filter On Users"));
        break;
    default:
        setWindowTitle(AppTitle);
        break;
    }
}

void TfrmMain::actTroubleshootingExecute()
{
    if (frmTrouble != nullptr && Database_)
        frmTrouble->Execute(*Database_);
}
