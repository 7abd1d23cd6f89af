#include "TfrmDate.h"

#include "ui_TfrmDate.h"

#include "TCommand.h"
#include "TDialogFrame.h"
#include "TDayView.h"
#include "TMonthView.h"
#include "TServices.h"
#include "TWeekView.h"

#include <QCalendarWidget>
#include <QPushButton>
#include <QSignalBlocker>

TfrmDate::TfrmDate(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui_(std::make_unique<Ui::TfrmDate>())
{
    ui_->setupUi(this);
    TDialogFrame::Fixed(*this);
    connect(ui_->calMain, &QCalendarWidget::selectionChanged, this,
            [this] { TCommand::Run(services_.person(), [this] { calMainChange(); }); });
    connect(ui_->btnToday, &QPushButton::clicked, this, [this] { TCommand::Run(services_.person(), [this] { btnTodayClick(); }); });
    connect(ui_->btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmDate::~TfrmDate() = default;

int TfrmDate::ExecuteForDay(TDayView& view, const QDate& date)
{
    dayView_ = &view;
    weekView_ = nullptr;
    monthView_ = nullptr;
    return execute(date);
}

int TfrmDate::ExecuteForWeek(TWeekView& view, const QDate& date)
{
    weekView_ = &view;
    dayView_ = nullptr;
    monthView_ = nullptr;
    return execute(date);
}

int TfrmDate::ExecuteForMonth(TMonthView& view, const QDate& date)
{
    monthView_ = &view;
    dayView_ = nullptr;
    weekView_ = nullptr;
    return execute(date);
}

int TfrmDate::execute(const QDate& date)
{
    setCalendar(date);
    ui_->calMain->setFocus();
    return exec() == QDialog::Accepted ? 1 : 2;
}

void TfrmDate::setCalendar(const QDate& date)
{
    // Set from the program, the calendar raises no change: only the user's
    // picks move the view.
    const QSignalBlocker quiet(ui_->calMain);
    ui_->calMain->setSelectedDate(date);
    ui_->calMain->setCurrentPage(date.year(), date.month());
}

void TfrmDate::calMainChange()
{
    moveView(ui_->calMain->selectedDate(), false);
}

void TfrmDate::btnTodayClick()
{
    setCalendar(services_.machine().now().date());
    moveView(QDate(), true);
}

void TfrmDate::moveView(const QDate& date, bool today)
{
    const QDateTime now = services_.machine().now();
    try {
        if (weekView_ != nullptr) {
            if (today)
                weekView_->ShowToday();
            else
                weekView_->ShowWeekOf(QDateTime(date, QTime(0, 0)));
        } else if (monthView_ != nullptr) {
            monthView_->ShowMonthOf(today ? now : QDateTime(date, QTime(0, 0)));
        } else if (dayView_ != nullptr) {
            dayView_->Stamp.SetDateTime(today ? now : QDateTime(date, QTime(0, 0)));
        }
    } catch (...) {
        // Both back on today, then the error goes on to the error box.
        setCalendar(now.date());
        if (weekView_ != nullptr)
            weekView_->ShowWeekOf(now);
        else if (monthView_ != nullptr)
            monthView_->ShowMonthOf(now);
        else if (dayView_ != nullptr)
            dayView_->Stamp.SetDateTime(now);
        throw;
    }
}
