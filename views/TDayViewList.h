#pragma once

#include "DayEntryRecord.h"
#include "TDisplayStyle.h"
#include "TEntryDetails.h"
#include "TPanel.h"
#include "TStamp.h"
#include "TViewEvents.h"

#include <QHash>
#include <QListView>
#include <QPixmap>
#include <QString>

#include <vector>

class QPainter;
class QStringListModel;
class TDayEntries;

// The list of one day's events: item i shows event i of DayEntries. A line
// reads: a column with the time ("Day" for an un-timed event) as wide as the
// widest time in the time font plus a small gap, the
// private and alarm glyphs, the description in its own font, the assignees'
// names and the category. In dmDouble the description is word-wrapped, the
// glyphs sit in the time column below the time, and assignees and category
// take the item's last 16 pixels.
//
// The list holds no texts of its own: it asks its owner for names, category
// descriptions and alarm state through the OnWant events every time it draws
// an item. Items are painted on the list's colour whether selected or not; the
// only mark of the selected item is the dotted focus frame while the list has
// the keyboard focus.
//
// Painting and measuring never throw. A part that cannot be drawn because a
// handler or the event's StartTime failed is drawn as "?", and the first such
// failure after a rebuild of the items is raised through OnError once the paint
// is over; later failures wait for the next rebuild.
class TDayViewList : public QListView
{
    Q_OBJECT

public:
    explicit TDayViewList(QWidget* parent = nullptr);
    ~TDayViewList() override;

    // Splits an event's StartTime into hour and minute while drawing.
    TStamp TimeStamp;

    // The fonts, the layout and the switches. The layout: dmSingle, every item
    // 16 pixels high; dmDouble, each item measured from its description, again
    // whenever the width changes; until the list first scrolls or grows, only
    // the items in view are, and the others count as one line of text and the
    // assignee line: a step to another day or week measures what it shows, not
    // every event of the day. Writing redraws (and measures again what the
    // change touches).
    const TDisplayStyle& Style() const { return style_; }
    void setStyle(const TDisplayStyle& style);

    // 16 x 16 glyphs from the bitmap resources "ALARM" and "PRIVATE", with the
    // olive pixels made transparent.
    const QPixmap& AlarmGlyph() const { return alarmGlyph_; }
    const QPixmap& PrivateGlyph() const { return privateGlyph_; }
    // "REPEAT": the mark of an occurrence of a repeating event, after the
    // alarm glyph (on one line) or beside it below the time (two lines).
    const QPixmap& RepeatGlyph() const { return repeatGlyph_; }
    // "DETACHED": in its place, the mark of an occurrence that no longer
    // follows its series.
    const QPixmap& DetachedGlyph() const { return detachedGlyph_; }

    // The events drawn; not owned. Only the owner changes it, and then calls
    // RebuildItems; items beyond its Count are drawn empty.
    TDayEntries* DayEntries() const { return dayEntries_; }
    void setDayEntries(TDayEntries* entries);

    // Background of the list and of every item.
    TColor Color() const { return color_; }
    void setColor(TColor color);
    // Border: bsSingle draws a two-pixel sunken edge with Ctl3D, a one-pixel
    // line without; bsNone draws none. Default bsSingle with Ctl3D.
    bool Ctl3D() const { return ctl3D_; }
    void setCtl3D(bool on);
    TPanel::TBorderStyle BorderStyle() const { return borderStyle_; }
    void setBorderStyle(TPanel::TBorderStyle style);

    // Width in pixels of the time column in the time font.
    int TimeColumn() const { return timeColumn_; }

    // Number of items.
    int Count() const;
    // The selected item, or -1.
    int ItemIndex() const;
    // Selects an item and makes it the current one; -1 (or any index outside
    // the items) selects none.
    void setItemIndex(int index);

    // Replaces the items by one per event of DayEntries (none without it).
    // Clears the selection and lets the next drawing failure be reported.
    void RebuildItems();

    TWantUserNameEvent OnWantUserName;
    TReceivedFocusEvent OnReceivedFocus;
    TWantAlarmedFlagEvent OnWantAlarmedFlag;
    // Asked for every entry painted: which repeat glyph it gets, if any.
    TWantRepeatingFlagEvent OnWantRepeatingFlag;
    TWantCategoryDescriptionEvent OnWantCategoryDescription;
    TViewErrorEvent OnError;
    // A double-click in the list, after the item under the pointer became the
    // selected one (none below the last item).
    TNotifyEvent OnItemDblClick;

    // Paints item index into rect; focused draws the focus frame. Never throws.
    void DrawItem(QPainter& painter, const QRect& rect, int index, bool focused) noexcept;
    // The size of item index at the list's own width (in dmDouble, below the
    // part in view and not yet measured: the least). Never throws.
    QSize MeasureItem(int index) noexcept;
    // The size of item index were the list `width` pixels wide: other views
    // that draw their lines with a list of their own (the month view) measure
    // them for their own boxes. Never throws.
    QSize MeasureItem(int index, int width) noexcept;

    // The time item index shows: "Day" for an un-timed entry; its start
    // ("09:00"), with its end when it has one ("09:00-10:30"); over several
    // days, its start and a dash on its first day, "Day" on the days
    // between and a dash and its end on its last ("22:00-", "-02:00").
    // Throws for a StartTime that is not a stamp's.
    QString LineTime(int index);
    // The text of a line: the description, and the place in brackets after it.
    static QString LineText(const DayEntryRecord& entry, const TEntryDetails& details);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void drawItem(QPainter& painter, const QRect& rect, int index, bool focused);
    void drawDayEntry(QPainter& painter, const QRect& rect, int index);
    // Draws `text` with its top-left corner at (x, y), unclipped, and
    // answers its width (remembered in widths_).
    int drawTextAndWidth(QPainter& painter, const TFont& font, int x, int y, const QString& text);
    // The one-line layout's text, names and category from (x, y) on, the
    // line ending at `right`.
    void drawOneLine(QPainter& painter, int x, int y, int right, const TFont& textFont, const QString& description,
                     const QString& names, const QString& category);
    // Runs one lookup; on failure notes the error and returns false.
    template <typename F>
    bool guarded(F&& lookup) noexcept;
    void noteError(const QString& message) noexcept;
    void updateFrame();
    void changed();
    void measureTimeColumn();
    // Where the line's text starts after `time`: the time column, or past
    // a wider time.
    int lineColumn(const QString& time) const;
    // dmDouble: forgets the measured heights; measures all that are not yet
    // and lays the items out again, once the list scrolls or grows.
    void forgetHeights();
    void measureRest();
    int leastDoubleHeight() const;
    // The top of item index as laid out, and of the part in view.
    int topOf(int index, int least) const;
    int shownFrom(int least) const;

    QStringListModel* model_;
    TDisplayStyle style_;
    QPixmap alarmGlyph_;
    QPixmap privateGlyph_;
    QPixmap repeatGlyph_;
    QPixmap detachedGlyph_;
    TDayEntries* dayEntries_ = nullptr;
    TColor color_ = TColorRef::clWhite;
    bool ctl3D_ = true;
    TPanel::TBorderStyle borderStyle_ = TPanel::TBorderStyle::bsSingle;
    int timeColumn_ = 0;
    // dmDouble: the heights measured at heightsWidth_, -1 where not yet.
    std::vector<int> heights_;
    // The widths of texts drawn, by the style's font they were drawn in
    // (forgotten with the style); each font's at most WidthsKept.
    QHash<const TFont*, QHash<QString, int>> widths_;
    static constexpr qsizetype WidthsKept = 2048;
    int heightsWidth_ = -1;
    // A failure has been noted since the last rebuild.
    bool errorNoted_ = false;
};
