#pragma once

#include "TServices.h"

class QDate;
class QWidget;
class TSession;
class TViewNavigator;
class TfrmCategories;
class TfrmResources;
class TfrmDate;
class TfrmFiltering;
class TfrmGroups;
class TfrmLogin;
class TfrmOptions;
class TfrmReport;
class TfrmReportViewer;
class TfrmSelectGroup;
class TfrmTrouble;
class TfrmDeletedEvents;
class TfrmUsers;

// The main window's dialogs and the commands that open them with what each
// needs of the session and the views. The program entry creates each dialog
// once and attaches it; one that is not attached is made when first needed
// (belonging to the window), except the log-in and go-to-date dialogs and the
// options, filtering and troubleshooting dialogs, whose commands then do
// nothing. Every command does nothing before a user is logged in.
class TMainDialogs
{
public:
    TMainDialogs(TServices services, QWidget& owner, TSession& session, TViewNavigator& views);

    TfrmLogin* Login = nullptr;
    TfrmDate* Date = nullptr;
    TfrmUsers* Users = nullptr;
    TfrmCategories* Categories = nullptr;
    TfrmResources* Resources = nullptr;
    TfrmOptions* Options = nullptr;
    TfrmFiltering* Filtering = nullptr;
    TfrmTrouble* Trouble = nullptr;
    TfrmGroups* Groups = nullptr;
    TfrmReport* Report = nullptr;
    TfrmReportViewer* ReportViewer = nullptr;
    TfrmSelectGroup* SelectGroup = nullptr;
    TfrmDeletedEvents* Deleted = nullptr;

    // Users: afterwards the logged-in user's record is read again, so that a
    // change to it (his rights, his name) takes effect; the view is refreshed.
    void UsersCommand();
    // Categories, then the view is refreshed.
    void CategoriesCommand();
    // Event > Deleted events...: the bin; the view is refreshed after a
    // restore.
    void DeletedCommand();
    // Resources (rooms and other things events book).
    void ResourcesCommand();
    void GroupsCommand();
    void ReportCommand();
    // File > Export calendar...: the report's choices, written as iCalendar.
    void ExportCommand();
    // File > Import calendar...: an iCalendar file picked by the user taken
    // in his name (TCalendarImport); what came in and what did not is shown,
    // and the view refreshed.
    void ImportCommand();
    // The options change the views themselves; the month follows. An
    // administrator also sets there how long the change trail keeps changes.
    void OptionsCommand();
    // True when the filtering was confirmed: the view is then refreshed.
    bool FilteringCommand();
    void TroubleshootingCommand();
    // The go-to-date dialog on the view on show, opening on `today`.
    void DateCommand(const QDate& today);

private:
    void runReport(int purpose);

    TServices services_;
    QWidget& owner_;
    TSession& session_;
    TViewNavigator& views_;
};
