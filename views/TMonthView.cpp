#include "TMonthView.h"

#include "EQuorla.h"
#include "EStamp.h"
#include "TClock.h"
#include "TDayViewList.h"
#include "TStamp.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <exception>
#include <vector>

namespace {

constexpr int stripHeight = 16;
constexpr int lineHeight = 16;
const QString margin = QStringLiteral("  ");
const QDate firstReadable(1970, 1, 1);
const QDate lastReadable(2037, 12, 31);

// Text with its top-left corner at (x, y), as the day lists draw theirs.
void drawTextAt(QPainter& painter, const QFont& font, const QColor& colour, int x, int y, const QString& text)
{
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(x, y + QFontMetrics(font).ascent(), text);
}

// The stamp seconds of date at time; raises EStamp outside 1970 to 2037.
qint32 secondsOf(const QDate& date, const QTime& time)
{
    TStamp stamp;
    stamp.SetDateTime(date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second());
    return stamp.Seconds();
}

// A date in one of the program's date pictures.
QString formatted(const QString& picture, const QDate& date)
{
    return TStamp::FormatDateTime(picture, QDateTime(date, QTime(0, 0)));
}

QDate mondayOnOrBefore(QDate date)
{
    return date.addDays(1 - date.dayOfWeek());
}

} // namespace

TMonthView::TMonthView(QWidget* parent)
    : TPanel(parent),
      lines_(new TDayViewList(this)),
      headerColor_(Color())
{
    lines_->hide();
    lines_->setBorderStyle(TBorderStyle::bsNone);
    lines_->OnWantUserName = [this](QObject*, const QString& pk, QString& name) {
        if (OnWantUserName)
            OnWantUserName(this, pk, name);
    };
    lines_->OnWantAlarmedFlag = [this](QObject*, const QString& pk, bool& alarmed) {
        if (OnWantAlarmedFlag)
            OnWantAlarmedFlag(this, pk, alarmed);
    };
    lines_->OnWantRepeatingFlag = [this](QObject*, const QString& pk, TRepeatMark& mark) {
        if (OnWantRepeatingFlag)
            OnWantRepeatingFlag(this, pk, mark);
    };
    lines_->OnWantCategoryDescription = [this](QObject*, const QString& pk, QString& description) {
        if (OnWantCategoryDescription)
            OnWantCategoryDescription(this, pk, description);
    };
    lines_->OnError = [this](QObject*, const QString& message) { report(message); };
    setFocusPolicy(Qt::StrongFocus);

    const QDateTime now = TClock::now();
    time_ = now.time();
    setMonth(QDate(now.date().year(), now.date().month(), 1), now.date());
}

TMonthView::~TMonthView()
{
    // The list must not keep pointing at a box that goes before it does.
    lines_->setDayEntries(nullptr);
}

const TDayEntries& TMonthView::DayEntries(int index) const
{
    if (index < 0 || index >= Days)
        throw EQuorla(QStringLiteral("List index out of bounds (%1)").arg(index));
    return entries_[std::size_t(index)];
}

bool TMonthView::readable(const QDate& date)
{
    return date >= firstReadable && date <= lastReadable;
}

qint32 TMonthView::SelectedSeconds() const
{
    return secondsOf(selected_, time_);
}

void TMonthView::setMonth(const QDate& month, const QDate& selected)
{
    month_ = month;
    first_ = mondayOnOrBefore(month);
    selected_ = selected;
}

void TMonthView::ShowMonthOf(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        throw EStamp(QStringLiteral("Invalid date or time"));
    const QDate date = dateTime.date();
    // The stamp says what is wrong with a day it cannot hold.
    secondsOf(date, QTime(0, 0));
    time_ = dateTime.time();
    setMonth(QDate(date.year(), date.month(), 1), date);
    RefreshEntries();
    if (OnSelectDay)
        OnSelectDay(this);
}

void TMonthView::ShowToday()
{
    ShowMonthOf(TClock::now());
}

void TMonthView::NextMonth()
{
    // QDate keeps the day of the month, or takes the last day of a shorter one.
    ShowMonthOf(QDateTime(selected_.addMonths(1), time_));
}

void TMonthView::PrevMonth()
{
    ShowMonthOf(QDateTime(selected_.addMonths(-1), time_));
}

void TMonthView::SelectDate(const QDate& date)
{
    if (!readable(date) || date == selected_)
        return;
    if (date < first_ || date >= first_.addDays(Days)) {
        ShowMonthOf(QDateTime(date, time_));
        return;
    }
    selected_ = date;
    update();
    if (OnSelectDay)
        OnSelectDay(this);
}

void TMonthView::RefreshEntries()
{
    reportedErrors_.clear();
    const QDate today = TClock::now().date();
    today_ = today >= first_ && today < first_.addDays(Days) ? today : QDate();
    lines_->setDayEntries(nullptr);
    // No items: the list only lets its next drawing failure be reported.
    lines_->RebuildItems();
    for (TDayEntries& entries : entries_)
        entries.Clear();
    // Repainted whatever happens below: the boxes read so far are new.
    struct Repaint
    {
        TMonthView* view;
        ~Repaint() { view->update(); }
    } repaint{this};
    if (!OnWantDayEntries)
        return;
    TStamp stamp;
    QList<TDayEntries*> read;
    QStringList keys;
    for (int i = 0; i < Days; ++i) {
        const QDate day = DayAt(i);
        if (!readable(day))
            continue;
        stamp.SetDateTime(day.year(), day.month(), day.day(), 0, 0, 0);
        entries_[std::size_t(i)].Day = day;
        OnWantDayEntries(this, stamp.DayKey(), entries_[std::size_t(i)]);
        read << &entries_[std::size_t(i)];
        keys << stamp.DayKey();
    }
    TDayEntries earlier;
    if (OnWantReachingEntries && !keys.isEmpty())
        OnWantReachingEntries(this, keys.first(), keys.last(), earlier);
    TDayEntries::Spread(read, &earlier);
}

QRect TMonthView::gridRect() const
{
    const QRect client = contentsRect();
    return {client.left(), client.top(), boxWidth() * Columns, 2 * stripHeight + boxHeight() * Rows};
}

int TMonthView::boxWidth() const
{
    return contentsRect().width() / Columns;
}

int TMonthView::boxHeight() const
{
    return std::max(0, contentsRect().height() - 2 * stripHeight) / Rows;
}

QRect TMonthView::DayRect(int index) const
{
    if (index < 0 || index >= Days)
        return {};
    const QRect client = contentsRect();
    const int w = boxWidth();
    const int h = boxHeight();
    return {client.left() + (index % Columns) * w, client.top() + 2 * stripHeight + (index / Columns) * h,
            std::max(0, w - 1), std::max(0, h - 1)};
}

int TMonthView::DayIndexAt(const QPoint& point) const
{
    for (int i = 0; i < Days; ++i) {
        if (DayRect(i).contains(point))
            return i;
    }
    return -1;
}

void TMonthView::changed()
{
    update();
}

const TDisplayStyle& TMonthView::Style() const { return lines_->Style(); }
void TMonthView::setStyle(const TDisplayStyle& style) { lines_->setStyle(style); changed(); }
TColor TMonthView::ListColor() const { return lines_->Color(); }
void TMonthView::report(const QString& message) noexcept
{
    try {
        if (reportedErrors_.contains(message))
            return;
        reportedErrors_.append(message);
        if (OnError)
            OnError(this, message);
    } catch (...) {
        // Nobody is left to tell; the event loop must not see it.
    }
}

template <typename F>
void TMonthView::guarded(F&& action) noexcept
{
    try {
        action();
    } catch (...) {
        report(EQuorla::MessageOf(std::current_exception()));
    }
}

void TMonthView::paintEvent(QPaintEvent* event)
{
    TPanel::paintEvent(event);
    try {
        QPainter painter(this);
        paintMonth(painter);
    } catch (...) {
        // Reported from the event loop, never from inside the paint.
        const QString message = EQuorla::MessageOf(std::current_exception());
        QMetaObject::invokeMethod(this, [this, message] { report(message); }, Qt::QueuedConnection);
    }
}

void TMonthView::paintMonth(QPainter& painter)
{
    const QRect grid = gridRect();
    if (grid.isEmpty())
        return;
    const QPalette& colours = palette();
    const QColor header = TColorRef::toQColor(headerColor_);
    const QColor text = colours.color(QPalette::WindowText);
    const QFont plain = font();
    // The grid lines are what the boxes leave uncovered.
    painter.fillRect(grid, colours.color(QPalette::Mid));

    const int w = boxWidth();
    const QRect title(grid.left(), grid.top(), grid.width() - 1, stripHeight - 1);
    painter.fillRect(title, header);
    drawTextAt(painter, plain, text, title.left(), title.top() + 1,
               margin + formatted(QStringLiteral("mmmm yyyy"), month_));

    // Long weekday names where the longest of them fits in a box.
    const QFontMetrics metrics(plain);
    bool longNames = true;
    for (int c = 0; c < Columns; ++c) {
        const QString name = margin + formatted(QStringLiteral("dddd"), first_.addDays(c));
        longNames = longNames && metrics.horizontalAdvance(name) <= w - 1;
    }
    for (int c = 0; c < Columns; ++c) {
        const QRect strip(grid.left() + c * w, grid.top() + stripHeight, w - 1, stripHeight - 1);
        painter.fillRect(strip, header);
        painter.save();
        painter.setClipRect(strip);
        drawTextAt(painter, plain, text, strip.left(), strip.top() + 1,
                   margin + formatted(longNames ? QStringLiteral("dddd") : QStringLiteral("ddd"), first_.addDays(c)));
        painter.restore();
    }

    for (int i = 0; i < Days; ++i)
        paintBox(painter, i);
    paintBars(painter);
    lines_->setDayEntries(nullptr);
}

void TMonthView::paintBox(QPainter& painter, int index)
{
    painted_[std::size_t(index)].clear();
    const QRect box = DayRect(index);
    if (box.isEmpty())
        return;
    const QPalette& colours = palette();
    const QDate day = DayAt(index);
    painter.save();
    painter.setClipRect(box);

    // Header: the day number, "1 Mar" where a month begins and in the first
    // box; greyed outside the month, bold on the current day, in the highlight
    // colours on the selected day.
    const QRect header(box.left(), box.top(), box.width(), std::min(lineHeight, box.height()));
    const bool selected = day == selected_;
    QColor headerText = colours.color(day.month() == month_.month() ? QPalette::Active : QPalette::Disabled,
                                      QPalette::WindowText);
    if (selected) {
        painter.fillRect(header, colours.color(QPalette::Highlight));
        headerText = colours.color(QPalette::HighlightedText);
    } else {
        painter.fillRect(header, TColorRef::toQColor(headerColor_));
    }
    QFont headerFont = font();
    headerFont.setBold(day == today_);
    const QString number = day.day() == 1 || index == 0
                               ? formatted(QStringLiteral("d mmm"), day)
                               : QString::number(day.day());
    const QString marked = entries_[std::size_t(index)].NotLoaded() ? number + TDayEntries::NotLoadedMark : number;
    drawTextAt(painter, headerFont, headerText, header.left(), header.top() + 1, margin + marked);

    // The list: as many lines as fit, then "+N more" for the rest.
    const QRect list(box.left(), box.top() + lineHeight, box.width(), box.height() - lineHeight);
    if (list.height() <= 0) {
        painter.restore();
        return;
    }
    painter.fillRect(list, TColorRef::toQColor(lines_->Color()));
    const int count = entries_[std::size_t(index)].Count();
    const TBoxLines lines = boxLines(index, list.width(), list.height());
    const int shown = int(lines.heights.size());
    int y = list.top();
    for (int i = 0; i < shown; ++i) {
        const int height = lines.heights[std::size_t(i)];
        lines_->DrawItem(painter, QRect(list.left(), y, lines.cut ? Unwrapped : list.width(), height), i, false);
        painted_[std::size_t(index)].push_back({y, height});
        y += height;
    }
    if (shown < count)
        drawTextAt(painter, font(), colours.color(QPalette::Text), list.left() + 1, y + 1,
                   QStringLiteral("+%1 more").arg(count - shown));
    painter.restore();
}

TMonthView::TBoxLines TMonthView::boxLines(int index, int width, int height)
{
    TDayEntries& entries = entries_[std::size_t(index)];
    lines_->setDayEntries(&entries);
    const int count = entries.Count();
    TBoxLines lines;
    int total = 0;
    for (int i = 0; i < count && total <= height; ++i) {
        lines.heights.push_back(lines_->MeasureItem(i, width).height());
        total += lines.heights.back();
    }
    if (total <= height)
        return lines;
    // Not all fit: each entry on its first lines alone, so that a long one
    // does not push the others out.
    lines = {{}, true};
    int used = 0;
    for (int i = 0; i < count; ++i) {
        const int line = lines_->MeasureItem(i, Unwrapped).height();
        if (used + line + (i + 1 < count ? lineHeight : 0) > height)
            break;
        lines.heights.push_back(line);
        used += line;
    }
    return lines;
}

int TMonthView::barLength(int index, int line) const
{
    const TDayEntries& first = entries_[std::size_t(index)];
    const auto& lines = painted_[std::size_t(index)];
    if (line >= int(lines.size()) || line >= first.Count())
        return 1;
    const QString pk = first.PkAt(line);
    int length = 1;
    for (int next = index + 1; next % Columns != 0; ++next, ++length) {
        const TDayEntries& entries = entries_[std::size_t(next)];
        const auto& shown = painted_[std::size_t(next)];
        if (line >= int(shown.size()) || line >= entries.Count() || !entries.Continued(line)
            || entries.PkAt(line) != pk || shown[std::size_t(line)].top != lines[std::size_t(line)].top
            || shown[std::size_t(line)].height != lines[std::size_t(line)].height)
            break;
    }
    return length;
}

void TMonthView::paintBars(QPainter& painter)
{
    const QColor ground = TColorRef::toQColor(lines_->Color());
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlpha(48);
    for (int index = 0; index < Days; ++index) {
        TDayEntries& entries = entries_[std::size_t(index)];
        // A bar starts where its event is not continued from the box before
        // in the same row.
        for (int line = 0; line < int(painted_[std::size_t(index)].size()) && line < entries.Count(); ++line) {
            if (index % Columns != 0 && barLength(index - 1, line) > 1)
                continue;
            const int length = barLength(index, line);
            if (length < 2)
                continue;
            const TPaintedLine& at = painted_[std::size_t(index)][std::size_t(line)];
            const QRect first = DayRect(index);
            const QRect bar(first.left(), at.top, DayRect(index + length - 1).right() - first.left() + 1, at.height);
            painter.save();
            painter.setClipRect(bar);
            painter.fillRect(bar, ground);
            painter.fillRect(bar, tint);
            lines_->setDayEntries(&entries);
            lines_->DrawItem(painter, QRect(bar.left(), bar.top(), Unwrapped, bar.height()), line, false);
            painter.restore();
        }
    }
}

int TMonthView::LinesShown(int index)
{
    const QRect box = DayRect(index);
    if (box.height() <= lineHeight)
        return 0;
    const int shown = int(boxLines(index, box.width(), box.height() - lineHeight).heights.size());
    lines_->setDayEntries(nullptr);
    return shown;
}

void TMonthView::mousePressEvent(QMouseEvent* event)
{
    TPanel::mousePressEvent(event);
    const int index = DayIndexAt(event->position().toPoint());
    if (index >= 0)
        guarded([&] { SelectDate(DayAt(index)); });
}

void TMonthView::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    const int index = DayIndexAt(event->position().toPoint());
    if (index < 0 || !readable(DayAt(index)))
        return;
    guarded([&] {
        SelectDate(DayAt(index));
        if (OnDblClick)
            OnDblClick(this);
    });
}

void TMonthView::keyPressEvent(QKeyEvent* event)
{
    int days = 0;
    int months = 0;
    switch (event->key()) {
    case Qt::Key_Left:
        days = -1;
        break;
    case Qt::Key_Right:
        days = 1;
        break;
    case Qt::Key_Up:
        days = -Columns;
        break;
    case Qt::Key_Down:
        days = Columns;
        break;
    case Qt::Key_PageUp:
        months = -1;
        break;
    case Qt::Key_PageDown:
        months = 1;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        guarded([&] {
            if (OnDblClick)
                OnDblClick(this);
        });
        return;
    default:
        TPanel::keyPressEvent(event);
        return;
    }
    event->accept();
    guarded([&] {
        if (months != 0)
            ShowMonthOf(QDateTime(selected_.addMonths(months), time_));
        else
            SelectDate(selected_.addDays(days));
    });
}
