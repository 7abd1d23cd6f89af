#pragma once

#include "TServices.h"
#include "TWorkingHours.h"

#include <QDialog>
#include <QList>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class TChangeTrail;
class TQuorlaDB;
class TDayView;
class TQuorlaCfg;
class TWeekView;

namespace Ui {
class TfrmOptions;
}

// How both calendar views draw their entries: which parts show, the colour of
// each part, italics, and one or two lines per entry. The week view is the
// working copy: the dialog loads from it, writes into it on OK, and then the
// settings object captures from it and applies to both views, so the day view
// always ends up the same. Nothing reaches the workstation store here; the
// main window saves the settings when the program ends.
//
// The "Changes" tab shows how many days the shared change trail keeps its
// records, and the "Office" tab the office's time zone (the zone of the
// events' times for the calendar export and its feed). Both settings are the
// database's: an administrator changes them, stored at once on OK; other
// users see them greyed.
class TfrmOptions : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmOptions(TServices services, QWidget* parent = nullptr);
    ~TfrmOptions() override;

    // Loads the controls from `weekView` and shows the dialog modally. Returns 1
    // after OK (both views and `settings` changed), 2 after Cancel (nothing
    // changed).
    int Execute(TWeekView& weekView, TDayView& dayView, TQuorlaCfg& settings);

    // The trail whose days kept the next Execute shows, changeable when
    // `mayChange` (an administrator); null (no database) disables the
    // "Changes" tab.
    void UseTrail(TChangeTrail* trail, bool mayChange)
    {
        Trail = trail;
        MayChangeTrail = mayChange;
    }
    // The database whose office time zone the next Execute shows ("Office"
    // tab), and whether the user may change it (administrators); null
    // disables the tab.
    void UseOffice(TQuorlaDB* database, bool mayChange)
    {
        Office = database;
        MayChangeOffice = mayChange;
    }

    // OK's refusal of working hours that end before they start or have no
    // day: the dialog stays open, nothing changed.
    static const QString WorkingHoursRefused;

private:
    void LoadFromView();
    // The office's working hours, changeable when the office is.
    void LoadWorkingHours();
    // Those chosen; nothing when they are refused.
    std::optional<TWorkingHours> ChosenWorkingHours() const;
    QList<QCheckBox*> workDayBoxes() const;
    void btnOkClick();

    TServices services_;
    std::unique_ptr<Ui::TfrmOptions> ui;
    TDayView* DayView = nullptr;
    TWeekView* WeekView = nullptr;
    TQuorlaCfg* Settings = nullptr;
    TChangeTrail* Trail = nullptr;
    bool MayChangeTrail = false;
    TQuorlaDB* Office = nullptr;
    bool MayChangeOffice = false;
};
