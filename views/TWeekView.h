#pragma once

#include "TDisplayStyle.h"
#include "TPanel.h"
#include "TViewEvents.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>

class TDayView;

// One week, Monday to Sunday, as seven day views in two columns: Monday,
// Tuesday and Wednesday down the left half; Thursday and Friday in the top two
// thirds of the right half; Saturday and Sunday sharing its last third.
//
// The week has no date of its own: the dates are the seven days' stamps. It
// passes its settings down to every day and the days' requests up to its
// owner, always with the week view as Sender. A day whose list receives the
// keyboard focus becomes CurrentDay.
//
// Nothing is read when the view is created; the owner wires its handlers and
// then calls ShowToday (or ShowWeekOf).
class TWeekView : public TPanel
{
    Q_OBJECT

public:
    explicit TWeekView(QWidget* parent = nullptr);
    ~TWeekView() override;

    TWantUserNameEvent OnWantUserName;
    TWantDayEntriesEvent OnWantDayEntries;
    // Asked once the seven days are read, for the events begun before the
    // Monday that reach into the week; with the days' own events that reach
    // later days, they are shown on each day of the week they reach.
    TWantReachingEntriesEvent OnWantReachingEntries;
    TWantAlarmedFlagEvent OnWantAlarmedFlag;
    // Asked for every entry painted: which repeat glyph it gets, if any.
    TWantRepeatingFlagEvent OnWantRepeatingFlag;
    TWantCategoryDescriptionEvent OnWantCategoryDescription;
    // A day failed to draw (see TDayViewList::OnError). The same message is
    // raised once per refresh of the week, whichever and however many days
    // meet it.
    TViewErrorEvent OnError;
    // A double-click in a day's list (see TDayView::OnListDblClick); that day
    // is CurrentDay by then. Sender is the week view.
    TNotifyEvent OnListDblClick;

    // Index 0 is Monday, 6 Sunday.
    const std::array<TDayView*, 7>& Days() const { return days_; }
    // The day whose list last received the keyboard focus; nullptr until one
    // has.
    TDayView* CurrentDay() const { return currentDay_; }

    // Lays the days out in the client area (W = width / 2, H = height / 3):
    // Monday, Tuesday, Wednesday at (0, 0), (0, H), (0, 2H), each W x H;
    // Thursday and Friday at (W, 0) and (W, H); Saturday at (W, 2H) and Sunday
    // at (W, 3H - H/2), both W x H/2. Remainders stay uncovered at the right
    // and bottom. Runs on every resize.
    void ArrangeDays();

    // Moves the days to the Monday-to-Sunday week containing dateTime; its
    // time of day is carried into every stamp. Each day re-reads itself,
    // Monday first. An error stops at the failing day; the days before it show
    // the new week.
    void ShowWeekOf(const QDateTime& dateTime);
    // ShowWeekOf(now).
    void ShowToday();
    // Every day moves 7 days on or back; CurrentDay stays the same panel.
    void NextWeek();
    void PrevWeek();
    // Re-reads Monday to Sunday, in that order.
    void RefreshEntries();

    // Makes the day showing `date` the CurrentDay, as if its list had received
    // the keyboard focus, and gives that list the focus when the week is on
    // show; so switching from another view keeps the day that was selected
    // there. A date outside the week shown changes nothing.
    void SelectDay(const QDate& date);

    // CurrentDay's stamp, or Monday's before any day has had the focus.
    qint32 SelectedSeconds() const;
    QString SelectedDateKey() const;
    // CurrentDay's selection; "0000000000", "0000000000" and "" without a
    // CurrentDay.
    QString SelectedPk() const;
    QString SelectedOwnerKey() const;
    QString SelectedDescription() const;

    // Forwarded properties: writing sets Monday to Sunday in that order,
    // reading gives Monday's value.
    const TDisplayStyle& Style() const;
    void setStyle(const TDisplayStyle& style);
    QString DateFormat() const;
    void setDateFormat(const QString& format);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void clientChanged() override;

private:
    template <typename F>
    void forEachDay(F&& apply);
    void dayFailed(const QString& message);
    // The events that reach past their day, over the days they reach.
    void spreadDays();

    std::array<TDayView*, 7> days_{};
    TDayView* currentDay_ = nullptr;
    // Messages raised through OnError since the week was last moved or
    // refreshed.
    QStringList reportedErrors_;
};
