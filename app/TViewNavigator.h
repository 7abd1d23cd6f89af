#pragma once

#include <QString>

class QDate;
class QStackedWidget;
class QWidget;
class TDayView;
class TMonthView;
class TWeekView;
class TfrmDate;

// The main window's three calendar views - a day, a week, a month - on the
// pages "DayView", "WeekView" and "MonthView" of one page container, and the
// moves between them: Today, Previous, Next, Go to date and the switches of
// view, each keeping the day that was selected. The commands find the
// selected entry and the selected day here, whichever view shows.
//
// While the month shows, the day view stands on its selected day, so that
// whatever asks the day view for the selected day gets the month's.
class TViewNavigator
{
public:
    // Builds the views on pages of a new container under `parent`. The day
    // page shows first; the start-up turns to the week.
    explicit TViewNavigator(QWidget* parent);

    QStackedWidget* Pages() const { return nbkMain; }
    TDayView* DayView() const { return dvMain; }
    TWeekView* WeekView() const { return wvMain; }
    TMonthView* MonthView() const { return mvMain; }
    bool WeekViewActive() const;
    bool MonthViewActive() const;
    bool DayViewActive() const;

    // Re-reads the view on show.
    void RefreshView();

    // The selected entry of the view on show ("0000000000", "0000000000" and
    // "" without one; the month selects days, not entries).
    QString SelectedPk() const;
    QString SelectedOwnerKey() const;
    QString SelectedDescription() const;
    // The moment a new event starts at: the selected day of the view on show
    // with the time of day its stamps carry.
    QString SelectedDateKey() const;

    // The week's page, at start-up: nothing is read.
    void StartOnWeek();

    void Today();
    void Previous();
    void Next();
    // The go-to-date dialog on the view on show, opening on `today`.
    void GoToDate(TfrmDate& dialog, const QDate& today);
    void ShowWeek();
    void ShowDay();
    void ShowMonth();

private:
    QStackedWidget* nbkMain = nullptr;
    QWidget* pageDayView = nullptr;
    QWidget* pageWeekView = nullptr;
    QWidget* pageMonthView = nullptr;
    TDayView* dvMain = nullptr;
    TWeekView* wvMain = nullptr;
    TMonthView* mvMain = nullptr;
};
