#pragma once

#include "TReportBuilder.h"
#include "TServices.h"
#include "UserRecord.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class QListWidget;
class TDisplaySettings;
class TQuorlaDB;
class TfrmReportViewer;

namespace Ui {
class TfrmReport;
}

// The report dialog: a date range, optionally one category or the bookings of
// one resource, and a set of users (none ticked means all users). Go hides the dialog, builds the report
// (TReportBuilder), shows it in the report viewer and, once the viewer is
// closed or the run failed, shows the dialog again for the next report. It is
// created once and reused; ticks, dates and category stay as the user left them
// between runs of one opening.
//
// The same choices export the calendar (Purpose Export, "Export Calendar"):
// Export asks for a file name, writes the selected entries there as an
// iCalendar file (TCalendarExport), each timed one lasting the minutes of
// spnDuration, says how many it wrote and closes.
class TfrmReport : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmReport(TServices services, QWidget* parent = nullptr);
    ~TfrmReport() override;

    // Opens the group selection for `settings` on the user list; it ticks
    // exactly the members of the chosen group and answers its modal result.
    // The main window sets it to its group selection dialog; while it is not
    // set the group button is disabled.
    std::function<int(TDisplaySettings& settings, QListWidget& checkList)> OnSelectGroup;

    enum class Purpose { Report, Export };
    // What the next Execute is for; the caption, the Go button and the
    // duration follow it.
    void SetPurpose(Purpose purpose);

    // Borrows the objects for as long as the dialog is open: the settings and
    // database (each run builds filter rules of its own), the logged-in user and his key (whose rights and assignments
    // decide the private entries that are reported) and the viewer the report
    // goes to. Sets both dates to today, unticks and disables the category,
    // refills both lists, and shows the dialog modally until Close. Returns the
    // modal result: 2 (Cancel), the only way to close it. Dataset errors while
    // filling the lists are thrown before the dialog shows.
    int Execute(TDisplaySettings& settings, TQuorlaDB& database, const UserRecord& currentUser,
                const QString& currentUserKey, TfrmReportViewer& viewer);

    // Every user by full name, sorted, none ticked; each carries its RecordKey
    // as a number.
    void FillUserList();
    // "<None>" (0) and every category by description, sorted; the first item
    // is selected.
    void FillCategoryList();
    // Every resource by name, sorted, the first selected; "Resource" unticked
    // (and disabled while there is none).
    void FillResourceList();

    // What the controls ask for, as a report builder.
    TReportBuilder Builder() const;

    void chkCategoryClick();
    void chkResourceClick();
    void btnGroupClick();
    // Runs one report. Whatever happens, the dialog is shown again afterwards;
    // an error ends the run with an error box and nothing reaches the viewer.
    void btnGoClick();

private:
    void exportCalendar();

    TServices services_;
    std::unique_ptr<Ui::TfrmReport> ui;
    Purpose purpose_ = Purpose::Report;
    TQuorlaDB* Database = nullptr;
    TDisplaySettings* Settings = nullptr;
    UserRecord CurrentUser;
    QString CurrentUserKey;
    TfrmReportViewer* Viewer = nullptr;
};
