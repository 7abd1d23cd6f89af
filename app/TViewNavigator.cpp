#include "TViewNavigator.h"

#include "RecordKey.h"
#include "TDayView.h"
#include "TMonthView.h"
#include "TClock.h"
#include "TStamp.h"
#include "TWeekView.h"
#include "TfrmDate.h"

#include <QStackedWidget>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString DayHeaderPicture = QStringLiteral("dddd, dd mmmm, yyyy");
const QString Hint = QStringLiteral("Right-click for options");

} // namespace

TViewNavigator::TViewNavigator(QWidget* parent)
{
    nbkMain = new QStackedWidget(parent);
    nbkMain->setObjectName(QStringLiteral("nbkMain"));
    pageDayView = new QWidget(nbkMain);
    pageDayView->setObjectName(QStringLiteral("DayView"));
    pageWeekView = new QWidget(nbkMain);
    pageWeekView->setObjectName(QStringLiteral("WeekView"));
    pageMonthView = new QWidget(nbkMain);
    pageMonthView->setObjectName(QStringLiteral("MonthView"));
    dvMain = new TDayView(pageDayView);
    dvMain->setObjectName(QStringLiteral("dvMain"));
    wvMain = new TWeekView(pageWeekView);
    wvMain->setObjectName(QStringLiteral("wvMain"));
    mvMain = new TMonthView(pageMonthView);
    mvMain->setObjectName(QStringLiteral("mvMain"));
    for (auto [page, view] : {std::pair<QWidget*, QWidget*>{pageDayView, dvMain}, {pageWeekView, wvMain},
                              {pageMonthView, mvMain}}) {
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
        nbkMain->addWidget(page);
    }
    wvMain->setStatusTip(Hint);
    wvMain->setToolTip(Hint);
    mvMain->setToolTip(Hint);
    dvMain->setDateFormat(DayHeaderPicture);
    wvMain->setDateFormat(DayHeaderPicture);
    mvMain->OnSelectDay = [this](QObject*) {
        if (MonthViewActive())
            dvMain->Stamp.SetSeconds(mvMain->SelectedSeconds());
    };
    // The day page shows first, so the first Today sets the day view's date;
    // the start-up turns to the week before anything is read.
    nbkMain->setCurrentWidget(pageDayView);
}

bool TViewNavigator::WeekViewActive() const
{
    return nbkMain->currentWidget() == pageWeekView;
}

bool TViewNavigator::MonthViewActive() const
{
    return nbkMain->currentWidget() == pageMonthView;
}

bool TViewNavigator::DayViewActive() const
{
    return nbkMain->currentWidget() == pageDayView;
}

void TViewNavigator::RefreshView()
{
    if (WeekViewActive())
        wvMain->RefreshEntries();
    else if (MonthViewActive())
        mvMain->RefreshEntries();
    else
        dvMain->RefreshEntries();
}

QString TViewNavigator::SelectedPk() const
{
    if (MonthViewActive())
        return QString(RecordKey::None);
    return WeekViewActive() ? wvMain->SelectedPk() : dvMain->SelectedPk();
}

QString TViewNavigator::SelectedOwnerKey() const
{
    if (MonthViewActive())
        return QString(RecordKey::None);
    return WeekViewActive() ? wvMain->SelectedOwnerKey() : dvMain->SelectedOwnerKey();
}

QString TViewNavigator::SelectedDescription() const
{
    if (MonthViewActive())
        return QString();
    return WeekViewActive() ? wvMain->SelectedDescription() : dvMain->SelectedDescription();
}

QString TViewNavigator::SelectedDateKey() const
{
    return WeekViewActive() ? wvMain->SelectedDateKey() : dvMain->Stamp.Key();
}

void TViewNavigator::StartOnWeek()
{
    nbkMain->setCurrentWidget(pageWeekView);
}

void TViewNavigator::Today()
{
    if (WeekViewActive())
        wvMain->ShowToday();
    else if (MonthViewActive())
        mvMain->ShowToday();
    else
        dvMain->Stamp.SetDateTime(TClock::now());
}

void TViewNavigator::Previous()
{
    if (WeekViewActive())
        wvMain->PrevWeek();
    else if (MonthViewActive())
        mvMain->PrevMonth();
    else
        dvMain->Stamp.Increment(TStamp::IncDays, -1);
}

void TViewNavigator::Next()
{
    if (WeekViewActive())
        wvMain->NextWeek();
    else if (MonthViewActive())
        mvMain->NextMonth();
    else
        dvMain->Stamp.Increment(TStamp::IncDays, 1);
}

void TViewNavigator::GoToDate(TfrmDate& dialog, const QDate& today)
{
    if (WeekViewActive())
        dialog.ExecuteForWeek(*wvMain, today);
    else if (MonthViewActive())
        dialog.ExecuteForMonth(*mvMain, today);
    else
        dialog.ExecuteForDay(*dvMain, today);
}

void TViewNavigator::ShowDay()
{
    if (DayViewActive())
        return;
    dvMain->Stamp.SetSeconds(WeekViewActive() ? wvMain->SelectedSeconds() : mvMain->SelectedSeconds());
    nbkMain->setCurrentWidget(pageDayView);
}

void TViewNavigator::ShowWeek()
{
    if (WeekViewActive())
        return;
    const QDateTime selected = MonthViewActive() ? mvMain->SelectedDateTime() : dvMain->Stamp.AsDateTime();
    wvMain->ShowWeekOf(selected);
    nbkMain->setCurrentWidget(pageWeekView);
    wvMain->RefreshEntries();
    wvMain->SelectDay(selected.date());
}

void TViewNavigator::ShowMonth()
{
    if (MonthViewActive())
        return;
    TStamp selected;
    selected.SetSeconds(WeekViewActive() ? wvMain->SelectedSeconds() : dvMain->Stamp.Seconds());
    nbkMain->setCurrentWidget(pageMonthView);
    mvMain->ShowMonthOf(selected.AsDateTime());
    mvMain->setFocus(Qt::OtherFocusReason);
}
