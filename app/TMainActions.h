#pragma once

class QAction;
class QMainWindow;
class QMenu;

// The main window's command table: every command as an action with its
// caption, hint, icon and shortcut, placed in the menus, on the command bar
// and in the views' context menu in the order the users know them. The
// actions belong to the window; what each one runs is bound by the window.
//
// Icons: the desktop theme's where it has one, otherwise the program's own
// drawing for each command (resources/icons/commands), so that the command
// bar reads on a desktop without an icon theme too.
class TMainActions
{
public:
    explicit TMainActions(QMainWindow& window);

    // Previous and Next name what they step by: a month while the month view
    // shows, otherwise a week (the day view steps a day under the same words).
    void StepByMonths(bool months);

    QAction* actEventNew;
    QAction* actEventProperties;
    QAction* actEventDelete;
    QAction* actEventDeleted;
    QAction* actToday;
    QAction* actDate;
    QAction* actPrev;
    QAction* actNext;
    QAction* actToolsOptions;
    QAction* actToolsFiltering;
    QAction* actToolsGroups;
    QAction* actToolsReport;
    QAction* actFileExport;
    QAction* actFileImport;
    QAction* actToolsViewDay;
    QAction* actToolsViewWeek;
    QAction* actToolsViewMonth;
    QAction* actUsers;
    QAction* actCategories;
    QAction* actResources;
    QAction* actTroubleshooting;
    QAction* actFileLogin;
    QAction* actFileExit;
    QAction* actHelpAbout;
    QAction* mnuFileChangePath;
    QAction* mnuHelpQuorlaHelp;
    // The views' context menu.
    QMenu* mnuPopup;

private:
    void createMenus(QMainWindow& window);
};
