#include "TMainDialogs.h"

#include "TBusyCursor.h"
#include "TServices.h"
#include "TCalendarImport.h"
#include "TChangeTrail.h"
#include "TMonthView.h"
#include "TQuorlaCfg.h"
#include "TQuorlaDB.h"
#include "TSession.h"
#include "TViewNavigator.h"
#include "TfrmCategories.h"
#include "TfrmResources.h"
#include "TfrmDate.h"
#include "TfrmFiltering.h"
#include "TfrmGroups.h"
#include "TfrmLogin.h"
#include "TfrmOptions.h"
#include "TfrmReport.h"
#include "TfrmReportViewer.h"
#include "TfrmSelectGroup.h"
#include "TfrmTrouble.h"
#include "TfrmDeletedEvents.h"
#include "TfrmUsers.h"

#include <QDate>
#include <QFileInfo>

namespace {

// `dialog`, made now when it was not attached; it belongs to `owner`.
template <typename Dialog>
Dialog& ensure(Dialog*& dialog, QWidget& owner, TServices services)
{
    if (dialog == nullptr) {
        if constexpr (std::is_constructible_v<Dialog, TServices, QWidget*>)
            dialog = new Dialog(services, &owner);
        else
            dialog = new Dialog(&owner);
    }
    return *dialog;
}

} // namespace

TMainDialogs::TMainDialogs(TServices services, QWidget& owner, TSession& session, TViewNavigator& views)
    : services_(services), owner_(owner), session_(session), views_(views)
{
}

void TMainDialogs::UsersCommand()
{
    if (!session_.LoggedIn())
        return;
    ensure(Users, owner_, services_).Execute(session_.CurrentUserKey(), *session_.Database(), *session_.UserCache());
    session_.ReloadCurrentUser();
    views_.RefreshView();
}

void TMainDialogs::DeletedCommand()
{
    if (session_.LoggedIn() && ensure(Deleted, owner_, services_).Execute(*session_.Database()) == 2)
        views_.RefreshView();
}

void TMainDialogs::CategoriesCommand()
{
    if (!session_.LoggedIn())
        return;
    ensure(Categories, owner_, services_).Execute(*session_.Database(), *session_.CategoryCache());
    views_.RefreshView();
}

void TMainDialogs::ResourcesCommand()
{
    if (session_.LoggedIn())
        ensure(Resources, owner_, services_).Execute(*session_.Database());
}

void TMainDialogs::GroupsCommand()
{
    if (session_.LoggedIn())
        ensure(Groups, owner_, services_).Execute(*session_.Settings(), *session_.Database());
}

void TMainDialogs::ReportCommand()
{
    runReport(int(TfrmReport::Purpose::Report));
}

void TMainDialogs::ExportCommand()
{
    runReport(int(TfrmReport::Purpose::Export));
}

void TMainDialogs::ImportCommand()
{
    if (!session_.LoggedIn())
        return;
    const QString path = services_.person().pickOpenFile(QStringLiteral("Import Calendar"),
                                               QStringLiteral("iCalendar files (*.ics *.ical *.ifb);;All files (*)"));
    if (path.isEmpty())
        return;
    TCalendarImport::TOutcome outcome;
    {
        TBusyCursor busy(services_.person());
        const QByteArray text = TCalendarImport::ReadFile(path);
        TCalendarImport import(*session_.Database(), session_.CurrentUserKey(), session_.CurrentUser());
        outcome = import.Import(text, QFileInfo(path).fileName());
    }
    views_.RefreshView();
    services_.person().message(outcome.skipped.isEmpty() && outcome.remarks.isEmpty() ? TPersonServices::MessageKind::Information
                                                                             : TPersonServices::MessageKind::Warning,
                     TPersonServices::MessageButtons::Ok, TCalendarImport::Report(outcome));
}

void TMainDialogs::runReport(int purpose)
{
    if (!session_.LoggedIn())
        return;
    TfrmSelectGroup* selectGroup = &ensure(SelectGroup, owner_, services_);
    TfrmReport& report = ensure(Report, owner_, services_);
    report.OnSelectGroup = [selectGroup](TDisplaySettings& settings, QListWidget& checkList) {
        return selectGroup->Execute(settings, checkList);
    };
    report.SetPurpose(TfrmReport::Purpose(purpose));
    report.Execute(*session_.Settings(), *session_.Database(), session_.CurrentUser(), session_.CurrentUserKey(),
                   ensure(ReportViewer, owner_, services_));
}

void TMainDialogs::OptionsCommand()
{
    if (Options == nullptr || session_.Settings() == nullptr)
        return;
    // Only administrators choose how long the change trail keeps changes.
    Options->UseTrail(session_.Database() != nullptr ? &session_.Database()->Trail() : nullptr,
                      session_.MayAdminister());
    Options->UseOffice(session_.Database(), session_.MayAdminister());
    Options->Execute(*views_.WeekView(), *views_.DayView(), *session_.Settings());
    views_.MonthView()->setStyle(session_.Settings()->Style(views_.MonthView()->Style()));
}

bool TMainDialogs::FilteringCommand()
{
    if (Filtering == nullptr || !session_.LoggedIn())
        return false;
    if (Filtering->Execute(*session_.Settings(), *session_.Database(), session_.FilterRules()) != 1)
        return false;
    views_.RefreshView();
    return true;
}

void TMainDialogs::TroubleshootingCommand()
{
    if (Trouble != nullptr && session_.LoggedIn())
        Trouble->Execute(*session_.Database());
}

void TMainDialogs::DateCommand(const QDate& today)
{
    if (Date != nullptr)
        views_.GoToDate(*Date, today);
}
