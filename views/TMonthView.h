#pragma once

#include "TDayEntries.h"
#include "TDisplayStyle.h"
#include "TPanel.h"
#include "TViewEvents.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QTime>

#include <array>
#include <vector>

class TDayViewList;

// One month as six rows of seven days, Monday first. The first row is the week
// that holds the 1st of the month, so a month that starts on a Monday begins
// in the top-left box and the rows below its last week show the days of the
// next month; days of the neighbouring months read greyed.
//
// Layout of the client area (W = width / 7, H = (height - 32) / 6, remainders
// uncovered at the right and bottom): a 16-pixel title strip with the month
// and year, a 16-pixel strip with the weekday names (long names where the
// longest fits in a box, short ones otherwise), then the 42 boxes, box (row,
// column) at (column W, 32 + row H). A box is a 16-pixel header with its day
// number ("1 Mar" on the first of a month and in the first box) over its list
// of entries; the last pixel column and row of every box are left for the grid
// lines. The current day's header reads in bold, as in the week view; the
// selected day's header is drawn in the highlight colours.
//
// A box lists its day's entries, each drawn exactly as the day view draws it
// (a day list of the view's own does the drawing, with the view's fonts,
// glyphs and switches). When they do not all fit, each is drawn on its first
// lines alone, its description unwrapped, as many as fit, and a last line
// "+N more" counts the ones left out. Lines are cut at the box's edges.
//
// The view never reads the data store: RefreshEntries asks OnWantDayEntries for
// each of the 42 days, in order, and draws what the handler added. Days before
// 1970 or after 2037 are never asked for, show no entries and cannot be
// selected. The lookups while drawing go out through the OnWant events with the
// month view as Sender, as the week view passes them.
//
// The view keeps a selected day and a time of day (carried from ShowMonthOf,
// as the week view carries it into its stamps): together they are
// SelectedSeconds, the day a new event starts on. A click selects the day under
// the pointer (the right button too, before the context menu opens); a
// double-click on a day, or Enter, selects it and raises OnDblClick. The arrow
// keys move the selection by a day or a week and Page Up / Page Down by a
// month; moving past the days on show shows the month of the new day.
//
// An event over several days is listed on each of them; within a row its
// lines are drawn as one bar across the days where it stands on the same line
// of each, else on each day alone.
//
// Nothing is read when the view is created: it shows the current month empty
// until the first ShowMonthOf, ShowToday or RefreshEntries.
class TMonthView : public TPanel
{
    Q_OBJECT

public:
    static constexpr int Columns = 7;
    static constexpr int Rows = 6;
    static constexpr int Days = Columns * Rows;

    explicit TMonthView(QWidget* parent = nullptr);
    ~TMonthView() override;

    TWantUserNameEvent OnWantUserName;
    TWantDayEntriesEvent OnWantDayEntries;
    // Asked once the days are read, for the events begun before the first
    // day shown that reach into the days shown (see TWeekView).
    TWantReachingEntriesEvent OnWantReachingEntries;
    TWantAlarmedFlagEvent OnWantAlarmedFlag;
    // Asked for every entry painted: which repeat glyph it gets, if any.
    TWantRepeatingFlagEvent OnWantRepeatingFlag;
    TWantCategoryDescriptionEvent OnWantCategoryDescription;
    // A line failed to draw, or a key or click failed (a month beyond 2037,
    // an error of a handler); each message once per refresh of the month.
    TViewErrorEvent OnError;
    // The selected day changed: by a click, a key, or a move of the month.
    TNotifyEvent OnSelectDay;

    // The 1st of the month shown.
    QDate Month() const { return month_; }
    // The Monday in the top-left box, and the day in box `index` (0 to 41,
    // row by row).
    QDate FirstDay() const { return first_; }
    QDate DayAt(int index) const { return first_.addDays(index); }
    // The events of box `index` as the last read left them.
    const TDayEntries& DayEntries(int index) const;

    // The selected day, at the time of day the view carries.
    QDate SelectedDate() const { return selected_; }
    QDateTime SelectedDateTime() const { return QDateTime(selected_, time_); }
    qint32 SelectedSeconds() const;

    // Shows the month containing dateTime with that day selected; its time of
    // day is kept for SelectedSeconds. Re-reads all 42 days. A month outside
    // 1970 to 2037 raises EStamp and changes nothing.
    void ShowMonthOf(const QDateTime& dateTime);
    // ShowMonthOf(now).
    void ShowToday();
    // One month on or back; the selected day keeps its day of the month, or
    // the month's last day when the month is shorter.
    void NextMonth();
    void PrevMonth();
    // Selects `date`: among the days on show it only moves the mark; any other
    // date shows its month. A date outside 1970 to 2037 changes nothing.
    void SelectDate(const QDate& date);
    // Re-reads the 42 days, first to last. Every box is emptied first; an error
    // of the handler stops the reading there and passes on, leaving the boxes
    // after it empty.
    void RefreshEntries();

    // How many of box `index`'s entries it shows (the rest counted in
    // "+N more").
    int LinesShown(int index);

    // Box `index` in the view's coordinates, header included, grid line not.
    QRect DayRect(int index) const;
    // The box under `point`, or -1.
    int DayIndexAt(const QPoint& point) const;

    // How the boxes' lines are drawn, as in the day and week views.
    const TDisplayStyle& Style() const;
    void setStyle(const TDisplayStyle& style);
    // Background of the boxes' lists.
    TColor ListColor() const;
    // Background of the title, the weekday names and the day headers.
    TColor HeaderColor() const { return headerColor_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The box layout's parts.
    QRect gridRect() const;
    int boxWidth() const;
    int boxHeight() const;

    void setMonth(const QDate& month, const QDate& selected);
    void changed();
    void paintMonth(QPainter& painter);
    void paintBox(QPainter& painter, int index);
    // The lines of box `index` in a list `width` by `height` pixels: their
    // heights, one per entry shown, and whether the entries are cut to their
    // first lines (drawn Unwrapped wide, cut at the box's edge).
    struct TBoxLines
    {
        std::vector<int> heights;
        bool cut = false;
    };
    static constexpr int Unwrapped = 1 << 16;
    TBoxLines boxLines(int index, int width, int height);
    // Runs a reaction to the person's input; an error goes to OnError instead
    // of the event loop.
    template <typename F>
    void guarded(F&& action) noexcept;
    void report(const QString& message) noexcept;

    static bool readable(const QDate& date);

    // Where paintBox drew each box's lines: their tops and heights.
    struct TPaintedLine
    {
        int top = 0;
        int height = 0;
    };
    std::array<std::vector<TPaintedLine>, Days> painted_;
    // An event over several days of a row drawn once across them, where it
    // stands on the same line of each.
    void paintBars(QPainter& painter);
    // How many boxes from `index` on, in its row, show line `line` as the
    // same event at the same place.
    int barLength(int index, int line) const;

    TDayViewList* lines_;
    std::array<TDayEntries, Days> entries_;
    QDate month_;
    QDate first_;
    QDate selected_;
    QTime time_;
    // The current day as of the last read, or an invalid date.
    QDate today_;
    TColor headerColor_;
    // Messages raised through OnError since the last read.
    QStringList reportedErrors_;
};
