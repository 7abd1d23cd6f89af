#include "TfrmMain.h"

#include "EQuorla.h"
#include "RecordKey.h"
#include "TAlarmPoller.h"
#include "TChangeTrail.h"
#include "TCommand.h"
#include "TDayView.h"
#include "TEventCommands.h"
#include "TFilterRules.h"
#include "TMainActions.h"
#include "TMainDialogs.h"
#include "TMonthView.h"
#include "TProgramIcon.h"
#include "TQuorlaCfg.h"
#include "TQuorlaDB.h"
#include "TServices.h"
#include "TSession.h"
#include "TViewAnswers.h"
#include "TViewNavigator.h"
#include "TWeekView.h"
#include "TWorkstationStore.h"
#include "TfrmLogin.h"
#include "TfrmEvent.h"
#include "TfrmNotify.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QScopeGuard>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindowStateChangeEvent>

namespace {

using Kind = TPersonServices::MessageKind;
using Buttons = TPersonServices::MessageButtons;
using Answer = TPersonServices::MessageAnswer;

constexpr int AlarmPollMs = 10000;
// How long the views' server session stays open without use.
constexpr int ViewsSessionIdleMs = 60000;
constexpr int MinimumWidth = 427;
constexpr int MinimumHeight = 320;

const QString AppTitle = QStringLiteral("Quorla");
const QString AlreadyRunning = QStringLiteral("Quorla is already running on this workstation");
const QString FailedLogin = QStringLiteral("You have failed to login. Please contact your administrator");
const QString ExitQuestion = QStringLiteral("Terminate Quorla and suspend all of your personal alarms. Are you sure?");
const QString StartOutage = QStringLiteral("The Quorla database cannot be reached at the moment.\r\r%1\r\rTry again?");
const QString ChangePathQuestion = QStringLiteral("Change the Quorla Database location, Are you sure?");
const QString ChangePathDone = QStringLiteral("Please restart Quorla to choose the new database location");

QString welcomeText(const QString& userName)
{
    return QStringLiteral("Welcome to Quorla as a new administrator\r\r"
                          "Your user name is \"%1\" and your password is \"<blank>\"\r\r"
                          "Please do not forget this information")
        .arg(userName);
}

// Where each person logs in as his own server role, the first administrator
// is the role that created the database, with its password.
QString serverWelcomeText(const QString& userName)
{
    return QStringLiteral("Welcome to Quorla as a new administrator\r\r"
                          "Your user name is \"%1\" and your password is the one you have just logged in with\r\r"
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

TfrmMain::TfrmMain(TServices services, QWidget* parent)
    : QMainWindow(parent),
      screen_(services.person(), outage_,
              [this] {
                  // A change whose commit lost its answer is followed by the
                  // view as the database holds it.
                  QTimer::singleShot(0, this, [this] { TCommand::Run(services_.person(), [this] { RefreshView(); }); });
              }),
      services_(&screen_, &services.desktop(), &services.machine()), session_(std::make_unique<TSession>(services_))
{
    initResources();
    // The program ends through Exit, the close of this window or the end of
    // the start-up, never because its last visible window went: the window
    // hides into the notification area, and a second instance hides it before
    // it says why it stops.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(AppTitle);
    setWindowIcon(TProgramIcon::Icon());

    navigator_ = std::make_unique<TViewNavigator>(this);
    setCentralWidget(navigator_->Pages());
    answers_ = std::make_unique<TViewAnswers>(services_, *session_);
    dialogs_ = std::make_unique<TMainDialogs>(services_, *this, *session_, *navigator_);
    wireViews();

    tmrMain = new QTimer(this);
    tmrMain->setObjectName(QStringLiteral("tmrMain"));
    tmrMain->setInterval(AlarmPollMs);
    connect(tmrMain, &QTimer::timeout, this, [this] { TCommand::Run(services_.person(), [this] { tmrMainTimer(); }); });
    EventCommands_ = std::make_unique<TEventCommands>(services_, screen_, *session_, *navigator_);

    actions_ = std::make_unique<TMainActions>(*this);
    bindCommands();

    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("pnlStatus"));
    lblCurrentUser = new QLabel(status);
    lblCurrentUser->setObjectName(QStringLiteral("lblCurrentUser"));
    status->addPermanentWidget(lblCurrentUser);
    lblOutage = new QLabel(status);
    lblOutage->setObjectName(QStringLiteral("lblOutage"));
    lblOutage->setVisible(false);
    status->addWidget(lblOutage, 1);
    setStatusBar(status);
    outage_.OnChange = [this] {
        lblOutage->setText(outage_.Line());
        lblOutage->setVisible(outage_.Away());
        if (!outage_.Away())
            screen_.OutageOver();
    };

    // Enabling follows the selection and the user as soon as the program is
    // idle, the way the event loop reports it before it waits.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TfrmMain::UpdateActions);

    FormCreate();
    UpdateActions();
}

TfrmMain::~TfrmMain()
{
    tmrMain->stop();
    AlarmPoller_.reset();
    // The settings' save says what went wrong whatever the outage.
    TCommand::Run(screen_.Unscreened(), [this] { session_->SaveSettings([this](TQuorlaCfg& settings) { settings.Capture(WeekView()->Style()); }); });
}

void TfrmMain::wireViews()
{
    answers_->Wire(*navigator_);
    // Double-clicking a day of the month opens it in the day view.
    MonthView()->OnDblClick = [this](QObject*) {
        TCommand::Run(screen_.Asked(), [this] {
            navigator_->ShowDay();
            UpdateActions();
        });
    };
    const auto dblClick = [this](QObject*) { TCommand::Run(screen_.Asked(), [this] { wvMainDblClick(); }); };
    WeekView()->OnDblClick = dblClick;
    WeekView()->OnListDblClick = dblClick;
    DayView()->OnListDblClick = dblClick;
}

void TfrmMain::bindCommands()
{
    TMainActions& a = *actions_;
    // Every action is the person's own asking: he gets an answer even during
    // an outage he was told of (TOutageScreen::Asked).
    TPersonServices& asked = screen_.Asked();
    const auto bind = [this, &asked](QAction* action, void (TfrmMain::*handler)()) {
        TCommand::Bind(action, asked, [this, handler] { (this->*handler)(); });
    };
    const auto view = [this, &asked](QAction* action, void (TViewNavigator::*move)()) {
        TCommand::Bind(action, asked, [this, move] {
            ((*navigator_).*move)();
            UpdateActions();
        });
    };
    TCommand::Bind(a.actEventNew, asked, [this] { EventCommands_->actEventNewExecute(); });
    TCommand::Bind(a.actEventProperties, asked, [this] { EventCommands_->actEventPropertiesExecute(); });
    TCommand::Bind(a.actEventDelete, asked, [this] { EventCommands_->actEventDeleteExecute(); });
    view(a.actToday, &TViewNavigator::Today);
    view(a.actPrev, &TViewNavigator::Previous);
    view(a.actNext, &TViewNavigator::Next);
    view(a.actToolsViewDay, &TViewNavigator::ShowDay);
    view(a.actToolsViewWeek, &TViewNavigator::ShowWeek);
    view(a.actToolsViewMonth, &TViewNavigator::ShowMonth);
    TMainDialogs& d = *dialogs_;
    TCommand::Bind(a.actDate, asked, [this, &d] { d.DateCommand(services_.machine().now().date()); });
    TCommand::Bind(a.actCategories, asked, [&d] { d.CategoriesCommand(); });
    TCommand::Bind(a.actEventDeleted, asked, [&d] { d.DeletedCommand(); });
    TCommand::Bind(a.actResources, asked, [&d] { d.ResourcesCommand(); });
    TCommand::Bind(a.actToolsGroups, asked, [&d] { d.GroupsCommand(); });
    TCommand::Bind(a.actToolsReport, asked, [&d] { d.ReportCommand(); });
    TCommand::Bind(a.actFileExport, asked, [&d] { d.ExportCommand(); });
    TCommand::Bind(a.actFileImport, asked, [&d] { d.ImportCommand(); });
    TCommand::Bind(a.actToolsOptions, asked, [&d] { d.OptionsCommand(); });
    TCommand::Bind(a.actTroubleshooting, asked, [&d] { d.TroubleshootingCommand(); });
    bind(a.actFileLogin, &TfrmMain::actFileLoginExecute);
    bind(a.actFileExit, &TfrmMain::actFileExitExecute);
    bind(a.mnuFileChangePath, &TfrmMain::mnuFileChangePathClick);
    bind(a.actHelpAbout, &TfrmMain::actHelpAboutExecute);
    bind(a.mnuHelpQuorlaHelp, &TfrmMain::actHelpAboutExecute);
    bind(a.actUsers, &TfrmMain::actUsersExecute);
    bind(a.actToolsFiltering, &TfrmMain::actToolsFilteringExecute);
    for (TPanel* view : std::initializer_list<TPanel*>{WeekView(), DayView(), MonthView()})
        view->setPopupMenu(a.mnuPopup);
}

void TfrmMain::AttachEventDialogs(TfrmEvent* event, TfrmNotify* notify)
{
    if (event != nullptr)
        EventCommands_->UseEditor(*event);
    AlarmPoller_.reset();
    if (notify != nullptr) {
        AlarmPoller_ = std::make_unique<TAlarmPoller>(
            [notify](AlarmRecord& alarm, const QString& key, TQuorlaDB& database) {
                return notify->Execute(alarm, key, database);
            });
        AlarmPoller_->AfterPopup = [this] { RefreshView(); };
    }
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
    TCommand::Run(services_.person(), [this] { RefreshView(); });
}

void TfrmMain::FormCreate()
{
    FirstActivation_ = true;
    const QSize screen = services_.desktop().screenSize();
    setMinimumSize(MinimumWidth, MinimumHeight);
    const int width = qMax(MinimumWidth, screen.width() * 8 / 10);
    const int height = qMax(MinimumHeight, screen.height() * 8 / 10);
    resize(width, height);
    move((screen.width() - width) / 2, (screen.height() - height) / 2);
    if (services_.desktop().startupShowState() == TDesktopServices::ShowState::Minimised)
        QTimer::singleShot(0, this, [this] { showMinimized(); });
    // Both views start on the present; nothing is read before the start-up.
    WeekView()->ShowToday();
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
    TCommand::Run(services_.person(), [this] { navigator_->Today(); });
    // A window that is never activated (started minimised, or on a desktop
    // that activates nothing by itself) still starts up.
    QTimer::singleShot(0, this, &TfrmMain::FormActivate);
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    TCommand::Run(services_.person(), [this] { RefreshView(); });
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
        TCommand::Run(services_.person(), [this] { RefreshView(); });
    }
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && !Terminating_)
        Terminate(ExitCode_);
}

void TfrmMain::FormActivate()
{
    if (!FirstActivation_)
        return;
    navigator_->StartOnWeek();
    FirstActivation_ = false;
    UpdateActions();
    for (;;) {
        try {
            startUp();
        } catch (...) {
            const QString message = TOutageWatch::Clean(EQuorla::MessageOf(std::current_exception()));
            // A server out of reach may be back in a moment: the person may
            // try again rather than start the program anew.
            if (!TOutageWatch::IsOutage(message))
                services_.person().message(Kind::Error, Buttons::Ok, message);
            else if (services_.person().message(Kind::Confirmation, Buttons::YesNo, StartOutage.arg(message))
                     == Answer::Yes)
                continue;
            Terminate(StartFailed);
        }
        break;
    }
    UpdateActions();
}

void TfrmMain::startUp()
{
    TfrmLogin* frmLogin = dialogs_->Login;
    const auto login = [frmLogin](const TSession::TCheck& check, UserRecord& user, QString& key) {
        if (frmLogin == nullptr || frmLogin->Execute(check, user) != 1)
            return false;
        key = frmLogin->EnteredKey();
        return true;
    };
    const auto apply = [this](const TQuorlaCfg& settings) {
        const TDisplayStyle style = settings.Style(WeekView()->Style());
        WeekView()->setStyle(style);
        DayView()->setStyle(style);
        MonthView()->setStyle(style);
    };
    const auto welcome = [this](const QString& name) {
        services_.person().message(Kind::Information, Buttons::Ok,
                                   session_->LogsInAsPerson() ? serverWelcomeText(name) : welcomeText(name));
    };
    switch (session_->StartUp(login, apply, welcome)) {
    case TSession::Start::AlreadyRunning:
        // Out of sight, the question first, then the end.
        hide();
        services_.person().message(Kind::Information, Buttons::Ok, AlreadyRunning);
        Terminate();
        return;
    case TSession::Start::NoLogin:
        services_.person().message(Kind::Error, Buttons::Ok, FailedLogin);
        Terminate(StartFailed);
        return;
    case TSession::Start::Running:
        break;
    }
    // The notification area shows the program once it runs, never a second
    // instance that only says so.
    createTray();
    showCurrentUser();
    tmrMain->start();
    WeekView()->RefreshEntries();
}

bool TfrmMain::StartAlone()
{
    if (session_->TakeInstanceLock())
        return true;
    Terminating_ = true;
    ExitCode_ = 0;
    services_.person().message(Kind::Information, Buttons::Ok, AlreadyRunning);
    return false;
}

void TfrmMain::Terminate(int exitCode)
{
    Terminating_ = true;
    ExitCode_ = exitCode;
    tmrMain->stop();
    hide();
    // Queued, so that it also ends a loop that has not started yet.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TfrmMain::showCurrentUser()
{
    lblCurrentUser->setText(session_->CurrentUser().FullName());
}

void TfrmMain::RefreshView()
{
    navigator_->RefreshView();
}

void TfrmMain::UpdateActions()
{
    TMainActions& a = *actions_;
    a.actEventNew->setEnabled(session_->MayAddEntries());
    a.actFileImport->setEnabled(session_->MayAddEntries());
    const QString selected = navigator_->SelectedPk();
    const bool mayChange = !RecordKey::isNone(selected) && session_->MayChange(navigator_->SelectedOwnerKey());
    a.actEventProperties->setEnabled(mayChange);
    a.actEventDelete->setEnabled(mayChange);
    const bool administrator = session_->MayAdminister();
    a.actUsers->setEnabled(administrator);
    a.actCategories->setEnabled(administrator);
    a.actResources->setEnabled(administrator);
    a.actTroubleshooting->setEnabled(administrator);
    a.actToolsViewDay->setChecked(navigator_->DayViewActive());
    a.actToolsViewWeek->setChecked(navigator_->WeekViewActive());
    a.actToolsViewMonth->setChecked(navigator_->MonthViewActive());
    a.StepByMonths(navigator_->MonthViewActive());
}

void TfrmMain::actFileLoginExecute()
{
    TfrmLogin* frmLogin = dialogs_->Login;
    if (!session_->LoggedIn() || frmLogin == nullptr)
        return;
    tmrMain->stop();
    // Alarm polling resumes on every way out, the failed log-in included.
    const auto resume = qScopeGuard([this] { tmrMain->start(); });
    const auto login = [frmLogin](const TSession::TCheck& check, UserRecord& user, QString& key) {
        if (frmLogin->Execute(check, user) != 1)
            return false;
        key = frmLogin->EnteredKey();
        return true;
    };
    if (!session_->SwitchUser(login))
        throw EQuorla(FailedLogin);
    showCurrentUser();
    UpdateActions();
    RefreshView();
}

void TfrmMain::actFileExitExecute()
{
    if (services_.person().message(Kind::Confirmation, Buttons::YesNo, ExitQuestion) == Answer::Yes)
        close();
}

void TfrmMain::mnuFileChangePathClick()
{
    if (services_.person().message(Kind::Warning, Buttons::OkCancel, ChangePathQuestion) != Answer::Ok)
        return;
    TWorkstationStore store;
    if (!store.OpenKey(false) || !store.DeleteValue(QStringLiteral("RootPath")))
        return;
    services_.person().message(Kind::Information, Buttons::Ok, ChangePathDone);
    Terminate();
}

void TfrmMain::actHelpAboutExecute()
{
    const TDesktopServices::HandOffResult result = services_.desktop().showHelp(HelpFile, HelpContents);
    if (result.outcome == TDesktopServices::Outcome::Failed)
        throw EQuorla(result.errorText);
}

void TfrmMain::actUsersExecute()
{
    dialogs_->UsersCommand();
    showCurrentUser();
    UpdateActions();
}

void TfrmMain::tmrMainTimer()
{
    if (!AlarmPoller_ || !session_->LoggedIn())
        return;
    tmrMain->stop();
    // Polling goes on after every poll, a failed one included; a failure that
    // lasts is shown once.
    const auto resume = qScopeGuard([this] {
        if (!Terminating_)
            tmrMain->start();
    });
    // On a server, a workstation nobody works at holds only the poll's
    // session, so that an office's many idle screens fit the server's limit.
    if (session_->Database())
        session_->Database()->ReleaseIdleSession(ViewsSessionIdleMs);
    // Whichever workstation polls takes a few of the trail's expired records;
    // not while the database is away, which the poll has told once already.
    if (!AlarmPoller_->PollReportingOnce(*session_->AlarmDatabase(), session_->CurrentUserKey()))
        return;
    session_->AlarmDatabase()->Trail().Prune();
    // The server is back: the views show what it holds now, without waiting
    // for a command.
    if (outage_.Reached())
        RefreshView();
}

void TfrmMain::wvMainDblClick()
{
    UpdateActions();
    if (actions_->actEventProperties->isEnabled())
        EventCommands_->actEventPropertiesExecute();
    else if (RecordKey::isNone(navigator_->SelectedPk()) && actions_->actEventNew->isEnabled())
        // Nothing opens on an entry this user may not change (a blank new
        // event there reads as that entry lost), nor without the right to add.
        EventCommands_->actEventNewExecute();
}

void TfrmMain::actToolsFilteringExecute()
{
    if (!dialogs_->FilteringCommand())
        return;
    switch (session_->FilterRules().Mode) {
    case TFilterRules::ShowMine:
        setWindowTitle(AppTitle + QStringLiteral(" - Filter On Me"));
        break;
    case TFilterRules::ShowChosen:
        setWindowTitle(AppTitle + QStringLiteral(" - Filter On Users"));
        break;
    case TFilterRules::ShowResource:
        setWindowTitle(AppTitle + QStringLiteral(" - Filter On Resource"));
        break;
    default:
        setWindowTitle(AppTitle);
        break;
    }
}
