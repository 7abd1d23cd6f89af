#include "TMainActions.h"

#include "TProgramIcon.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace {

struct TCommandText
{
    const char* name;
    const char* caption;
    const char* hint;
    // The desktop theme's icon name, and the program's own drawing under
    // :/icons/commands/; none for a command without an icon.
    const char* themeIcon;
    const char* ownIcon;
    const char* shortcut;
};

QAction* makeAction(QMainWindow& window, const TCommandText& text)
{
    const QString caption = QString::fromUtf8(text.caption);
    const QString hint = QString::fromUtf8(text.hint);
    auto* action = new QAction(caption, &window);
    action->setObjectName(QLatin1String(text.name));
    action->setStatusTip(hint);
    action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
    if (*text.ownIcon != '\0') {
        const QIcon own = TProgramIcon::Render(QStringLiteral(":/icons/commands/%1.svg").arg(QLatin1String(text.ownIcon)));
        action->setIcon(*text.themeIcon == '\0' ? own : QIcon::fromTheme(QLatin1String(text.themeIcon), own));
    }
    if (*text.shortcut != '\0')
        action->setShortcut(QKeySequence(QString::fromLatin1(text.shortcut)));
    return action;
}

// Previous and Next: caption and hint by weeks (and days), and by months.
const char* const PrevWeek[] = {"&Previous week", "Goto the previous week / day"};
const char* const NextWeek[] = {"&Next week", "Goto the next week / day"};
const char* const PrevMonth[] = {"&Previous month", "Goto the previous month"};
const char* const NextMonth[] = {"&Next month", "Goto the next month"};

} // namespace

TMainActions::TMainActions(QMainWindow& window)
{
    auto make = [&window](const TCommandText& text) { return makeAction(window, text); };
    actEventNew = make({"actEventNew", "&New event...", "Add a new event", "document-new", "event-new", "Ins"});
    actEventProperties = make({"actEventProperties", "Event &properties...", "Modify event properties",
                               "document-properties", "event-properties", ""});
    actEventDelete = make({"actEventDelete", "&Delete event...", "Delete event", "edit-delete", "event-delete", "Del"});
    actEventDeleted = make({"actEventDeleted", "Deleted e&vents...", "Restore deleted events", "", "", ""});
    actToday = make({"actToday", "&Today", "Goto today", "go-jump-today", "today", "Ctrl+T"});
    actDate = make({"actDate", "&Date...", "Goto a specific date", "x-office-calendar", "date", "Ctrl+D"});
    actPrev = make({"actPrev", PrevWeek[0], PrevWeek[1], "go-previous", "previous", "Ctrl+P"});
    actNext = make({"actNext", NextWeek[0], NextWeek[1], "go-next", "next", "Ctrl+N"});
    actToolsOptions = make({"actToolsOptions", "&Options...", "Configure Quorla options", "preferences-system",
                            "options", ""});
    actToolsFiltering = make({"actToolsFiltering", "&Filtering...", "Set filtering rules", "view-filter", "filter", ""});
    actToolsGroups = make({"actToolsGroups", "&Groups...", "Configure groups", "", "groups", ""});
    actToolsReport = make({"actToolsReport", "&Report...", "Generate a report", "document-print-preview", "report", ""});
    actToolsViewDay = make({"actToolsViewDay", "By &day", "View events by day", "view-calendar-day", "view-day", ""});
    actToolsViewWeek = make({"actToolsViewWeek", "By &week", "View events by week", "view-calendar-week",
                             "view-week", ""});
    actToolsViewMonth = make({"actToolsViewMonth", "By &month", "View events by month", "view-calendar-month",
                              "view-month", "Ctrl+M"});
    actUsers = make({"actUsers", "&Users", "Administer Quorla users", "system-users", "users", ""});
    actCategories = make({"actCategories", "&Categories", "Administer Quorla categories", "", "categories", ""});
    actResources = make({"actResources", "&Resources", "Administer the rooms and other things events book", "", "", ""});
    actTroubleshooting = make({"actTroubleshooting", "&Troubleshooting...", "", "", "", ""});
    actFileLogin = make({"actFileLogin", "&Login", "Login to Quorla as another user", "system-switch-user", "login",
                         ""});
    actFileExport = make({"actFileExport", "&Export calendar...",
                          "Export events to an iCalendar file for other calendars", "document-export", "export", ""});
    actFileImport = make({"actFileImport", "&Import calendar...",
                          "Import the events of an iCalendar file from another calendar", "document-import", "import",
                          ""});
    actFileExit = make({"actFileExit", "E&xit", "Quit Quorla", "application-exit", "exit", "Ctrl+X"});
    // Placed in no menu or bar, so its F1 never competes with the Help menu's.
    actHelpAbout = make({"actHelpAbout", "&About...", "Help about Quorla", "help-contents", "help", "F1"});
    mnuFileChangePath = make({"mnuFileChangePath", "&Change path", "Changes the database path", "", "", ""});
    mnuHelpQuorlaHelp = make({"mnuHelpQuorlaHelp", "&Quorla Help", "Help about Quorla", "help-contents", "help", "F1"});
    for (QAction* view : {actToolsViewDay, actToolsViewWeek, actToolsViewMonth})
        view->setCheckable(true);
    createMenus(window);
}

void TMainActions::StepByMonths(bool months)
{
    const auto name = [](QAction* action, const char* const* text) {
        action->setText(QString::fromUtf8(text[0]));
        action->setStatusTip(QString::fromUtf8(text[1]));
        action->setToolTip(QString::fromUtf8(text[1]));
    };
    name(actPrev, months ? PrevMonth : PrevWeek);
    name(actNext, months ? NextMonth : NextWeek);
}

void TMainActions::createMenus(QMainWindow& window)
{
    // Troubleshooting sits in the Admin menu only; the help's F1 is the Help
    // menu item's alone.
    QMenuBar* bar = window.menuBar();
    bar->setObjectName(QStringLiteral("tbrMenu"));
    auto menu = [](QMenu* parent, const char* name, std::initializer_list<QAction*> actions) {
        parent->setObjectName(QLatin1String(name));
        for (QAction* action : actions) {
            if (action == nullptr)
                parent->addSeparator();
            else
                parent->addAction(action);
        }
        return parent;
    };
    menu(bar->addMenu(QStringLiteral("&File")), "mnuFile",
         {actFileLogin, actFileExport, actFileImport, nullptr, mnuFileChangePath, nullptr, actFileExit});
    menu(bar->addMenu(QStringLiteral("&Event")), "mnuEvent", {actEventNew, actEventDelete, actEventProperties, nullptr, actEventDeleted});
    menu(bar->addMenu(QStringLiteral("&Navigate")), "mnuNavigate", {actToday, actDate, nullptr, actNext, actPrev});
    QMenu* tools = menu(bar->addMenu(QStringLiteral("&Tools")), "mnuTools",
                        {actToolsOptions, actToolsFiltering, actToolsGroups, actToolsReport, nullptr});
    menu(tools->addMenu(QStringLiteral("&View")), "mnuToolsView", {actToolsViewDay, actToolsViewWeek, actToolsViewMonth});
    // Troubleshooting has no image and stays off the command bar; without a
    // menu place it could not be run at all.
    menu(bar->addMenu(QStringLiteral("Admin")), "mnuAdmin", {actUsers, actCategories, actResources, actTroubleshooting});
    menu(bar->addMenu(QStringLiteral("&Help")), "mnuHelp", {mnuHelpQuorlaHelp});

    QToolBar* commandBar = window.addToolBar(QStringLiteral("Tools"));
    commandBar->setObjectName(QStringLiteral("tbrTools"));
    commandBar->setMovable(false);
    for (QAction* action : {actEventNew, actEventProperties, actEventDelete, static_cast<QAction*>(nullptr), actToday,
                            actDate, actPrev, actNext, static_cast<QAction*>(nullptr), actToolsOptions,
                            actToolsFiltering, actToolsGroups, actToolsReport, actToolsViewDay, actToolsViewWeek,
                            actToolsViewMonth, static_cast<QAction*>(nullptr), actUsers, actCategories}) {
        if (action == nullptr)
            commandBar->addSeparator();
        else
            commandBar->addAction(action);
    }

    mnuPopup = menu(new QMenu(&window), "mnuPopup",
                    {actEventNew, actEventDelete, actEventProperties, nullptr, actToday, actDate, nullptr,
                     actToolsOptions, actToolsFiltering, actToolsGroups, actToolsReport, nullptr});
    menu(mnuPopup->addMenu(QStringLiteral("&View")), "mnuPopupView",
         {actToolsViewDay, actToolsViewWeek, actToolsViewMonth});
}
