#include "TWeekView.h"

#include "EStamp.h"
#include "RecordKey.h"
#include "TClock.h"
#include "TDayView.h"
#include "TDayViewList.h"

#include <QResizeEvent>

TWeekView::TWeekView(QWidget* parent)
    : TPanel(parent)
{
    for (auto& day : days_) {
        day = new TDayView(this);
        day->OnWantUserName = [this](QObject*, const QString& pk, QString& name) {
            if (OnWantUserName)
                OnWantUserName(this, pk, name);
        };
        day->OnReceivedFocus = [this, day](QObject*) { currentDay_ = day; };
        day->OnWantDayEntries = [this](QObject*, const QString& datePkVal, TDayEntries& entries) {
            if (OnWantDayEntries)
                OnWantDayEntries(this, datePkVal, entries);
        };
        day->OnWantAlarmedFlag = [this](QObject*, const QString& pk, bool& alarmed) {
            if (OnWantAlarmedFlag)
                OnWantAlarmedFlag(this, pk, alarmed);
        };
        day->OnWantRepeatingFlag = [this](QObject*, const QString& pk, TRepeatMark& mark) {
            if (OnWantRepeatingFlag)
                OnWantRepeatingFlag(this, pk, mark);
        };
        day->OnWantCategoryDescription = [this](QObject*, const QString& pk, QString& description) {
            if (OnWantCategoryDescription)
                OnWantCategoryDescription(this, pk, description);
        };
        day->OnError = [this](QObject*, const QString& message) { dayFailed(message); };
        day->OnListDblClick = [this, day](QObject*) {
            currentDay_ = day;
            if (OnListDblClick)
                OnListDblClick(this);
        };
    }
    ArrangeDays();
}

TWeekView::~TWeekView() = default;

void TWeekView::dayFailed(const QString& message)
{
    if (reportedErrors_.contains(message))
        return;
    reportedErrors_.append(message);
    if (OnError)
        OnError(this, message);
}

template <typename F>
void TWeekView::forEachDay(F&& apply)
{
    for (TDayView* day : days_)
        apply(*day);
}

void TWeekView::ArrangeDays()
{
    const QRect client = contentsRect();
    const int w = client.width() / 2;
    const int h = client.height() / 3;
    const int x = client.left();
    const int y = client.top();
    days_[0]->setGeometry(x, y, w, h);
    days_[1]->setGeometry(x, y + h, w, h);
    days_[2]->setGeometry(x, y + 2 * h, w, h);
    days_[3]->setGeometry(x + w, y, w, h);
    days_[4]->setGeometry(x + w, y + h, w, h);
    days_[5]->setGeometry(x + w, y + 2 * h, w, h / 2);
    days_[6]->setGeometry(x + w, y + 3 * h - h / 2, w, h / 2);
}

void TWeekView::ShowWeekOf(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        throw EStamp(QStringLiteral("Invalid date or time"));
    QDate monday = dateTime.date();
    while (monday.dayOfWeek() != Qt::Monday)
        monday = monday.addDays(-1);
    const QTime time = dateTime.time();
    reportedErrors_.clear();
    for (int i = 0; i < 7; ++i) {
        const QDate date = monday.addDays(i);
        days_[std::size_t(i)]->Stamp.SetDateTime(date.year(), date.month(), date.day(), time.hour(),
                                                 time.minute(), time.second());
    }
    spreadDays();
}

void TWeekView::spreadDays()
{
    // Without a reader the days keep what they hold: nothing to add to it.
    if (!OnWantDayEntries)
        return;
    TDayEntries earlier;
    if (OnWantReachingEntries)
        OnWantReachingEntries(this, days_[0]->Stamp.DayKey(), days_[6]->Stamp.DayKey(), earlier);
    TDayView::Spread(QList<TDayView*>(days_.begin(), days_.end()), earlier);
}

void TWeekView::ShowToday()
{
    ShowWeekOf(TClock::now());
}

void TWeekView::NextWeek()
{
    reportedErrors_.clear();
    forEachDay([](TDayView& day) { day.Stamp.Increment(TStamp::IncWeeks, 1); });
}

void TWeekView::PrevWeek()
{
    reportedErrors_.clear();
    forEachDay([](TDayView& day) { day.Stamp.Increment(TStamp::IncWeeks, -1); });
}

void TWeekView::RefreshEntries()
{
    reportedErrors_.clear();
    forEachDay([](TDayView& day) { day.RefreshEntries(); });
    spreadDays();
    update();
}

void TWeekView::SelectDay(const QDate& date)
{
    for (TDayView* day : days_) {
        if (day->Stamp.AsDateTime().date() != date)
            continue;
        currentDay_ = day;
        if (day->List()->isVisible())
            day->List()->setFocus(Qt::OtherFocusReason);
        return;
    }
}

qint32 TWeekView::SelectedSeconds() const
{
    return (currentDay_ != nullptr ? currentDay_ : days_[0])->Stamp.Seconds();
}

QString TWeekView::SelectedDateKey() const
{
    return (currentDay_ != nullptr ? currentDay_ : days_[0])->Stamp.Key();
}

QString TWeekView::SelectedPk() const
{
    return currentDay_ != nullptr ? currentDay_->SelectedPk() : QString(RecordKey::None);
}

QString TWeekView::SelectedOwnerKey() const
{
    return currentDay_ != nullptr ? currentDay_->SelectedOwnerKey() : QString(RecordKey::None);
}

QString TWeekView::SelectedDescription() const
{
    return currentDay_ != nullptr ? currentDay_->SelectedDescription() : QString();
}

const TDisplayStyle& TWeekView::Style() const
{
    return days_[0]->Style();
}

void TWeekView::setStyle(const TDisplayStyle& style)
{
    forEachDay([&](TDayView& day) { day.setStyle(style); });
}

QString TWeekView::DateFormat() const
{
    return days_[0]->DateFormat();
}

void TWeekView::setDateFormat(const QString& format)
{
    forEachDay([&](TDayView& day) { day.setDateFormat(format); });
}

void TWeekView::resizeEvent(QResizeEvent* event)
{
    TPanel::resizeEvent(event);
    ArrangeDays();
}

void TWeekView::clientChanged()
{
    if (days_[0] != nullptr)
        ArrangeDays();
}
