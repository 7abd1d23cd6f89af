#pragma once

#include "TServices.h"

#include <QDate>
#include <QDialog>

#include <memory>

class TDayView;
class TMonthView;
class TWeekView;

namespace Ui {
class TfrmDate;
}

// The go-to-date dialog: a month calendar (weeks from Monday) that drives one
// view, the day, week or month view, while it is open. Every day picked
// moves the view at once; Close keeps wherever the view stands. A day the view
// cannot show (outside 1970 to 2037) puts both the view and the calendar back
// on today and then reports the error.
class TfrmDate : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmDate(TServices services, QWidget* parent = nullptr);
    ~TfrmDate() override;

    // Binds the day view (unbinding any week view), sets the calendar to `date`
    // without moving the view, focuses the calendar and shows the dialog
    // modally. Returns 1 (Close) or 2 (the window closed otherwise).
    int ExecuteForDay(TDayView& view, const QDate& date);
    // The same for the week view.
    int ExecuteForWeek(TWeekView& view, const QDate& date);
    // The same for the month view: every day picked shows its month with that
    // day selected.
    int ExecuteForMonth(TMonthView& view, const QDate& date);

private:
    int execute(const QDate& date);
    void calMainChange();
    void btnTodayClick();
    // Moves the bound view to `date` at 00:00, or to now when `today`.
    void moveView(const QDate& date, bool today);
    void setCalendar(const QDate& date);

    TServices services_;
    std::unique_ptr<Ui::TfrmDate> ui_;
    TDayView* dayView_ = nullptr;
    TWeekView* weekView_ = nullptr;
    TMonthView* monthView_ = nullptr;
};
