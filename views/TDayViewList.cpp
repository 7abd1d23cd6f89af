#include "TDayViewList.h"

#include "EQuorla.h"
#include "RecordKey.h"
#include "TDayEntries.h"
#include "TDayViewItemDelegate.h"

#include <QFontMetrics>
#include <QHash>
#include <QImage>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStringListModel>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <utility>

// Q_INIT_RESOURCE may not stand inside a namespace. Calling it also makes the
// linker keep the compiled resources of the static resource library.
static void initGlyphResources()
{
    Q_INIT_RESOURCE(glyphs);
}

namespace {

constexpr int glyphSize = 16;
constexpr int lineHeight = 16;
constexpr int gap = 5;
const QString missing = QStringLiteral("?");

// A glyph of the resources with its olive pixels (red 128, green 128, blue 0)
// made transparent. A glyph that cannot be loaded is fully transparent.
QPixmap loadGlyph(const QString& name)
{
    static const bool resourcesReady = (initGlyphResources(), true);
    Q_UNUSED(resourcesReady);
    QImage image(QStringLiteral(":/bitmaps/") + name);
    if (image.isNull()) {
        image = QImage(glyphSize, glyphSize, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        return QPixmap::fromImage(image);
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb olive = TColorRef::toQColor(TColorRef::clOlive).rgb();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] | 0xFF000000u) == olive)
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    return QPixmap::fromImage(image);
}

// Text with its top-left corner at (x, y), unclipped.
void drawTextAt(QPainter& painter, const TFont& font, int x, int y, const QString& text)
{
    if (text.isEmpty())
        return;
    painter.setFont(font.font());
    painter.setPen(font.qcolor());
    painter.drawText(x, y + QFontMetrics(font.font()).ascent(), text);
}

// Whether text in `font` placed at x can show before `edge`, past which
// nothing shows: a glyph reaches back before its place by less than the
// font's height.
bool showsBefore(const TFont& font, int x, int edge)
{
    return x < edge + QFontMetrics(font.font()).height();
}

} // namespace

TDayViewList::TDayViewList(QWidget* parent)
    : QListView(parent),
      model_(new QStringListModel(this)),
      alarmGlyph_(loadGlyph(QStringLiteral("ALARM"))),
      privateGlyph_(loadGlyph(QStringLiteral("PRIVATE"))), repeatGlyph_(loadGlyph(QStringLiteral("REPEAT"))),
      detachedGlyph_(loadGlyph(QStringLiteral("DETACHED")))
{
    setModel(model_);
    setItemDelegate(new TDayViewItemDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUniformItemSizes(true);
    setFocusPolicy(Qt::StrongFocus);
    // Queued: the bar moves while the view lays out, and the layout must not
    // start again inside itself.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TDayViewList::measureRest, Qt::QueuedConnection);
    color_ = TColorRef::fromQColor(palette().color(QPalette::Base));
    updateFrame();
    measureTimeColumn();
}

TDayViewList::~TDayViewList() = default;

void TDayViewList::changed()
{
    viewport()->update();
}

void TDayViewList::setStyle(const TDisplayStyle& style)
{
    if (style == style_)
        return;
    const TDisplayStyle old = std::exchange(style_, style);
    widths_.clear();
    if (!(style_.TimeFont == old.TimeFont))
        measureTimeColumn();
    if (style_.DisplayMode != old.DisplayMode) {
        forgetHeights();
        setUniformItemSizes(style_.DisplayMode == TDisplayMode::dmSingle);
        doItemsLayout();
    } else if (!(style_.PrivateFont == old.PrivateFont && style_.DescriptionFont == old.DescriptionFont)) {
        forgetHeights();
    }
    changed();
}

void TDayViewList::measureTimeColumn()
{
    // Every time a line can show, measured: digits differ in width in most
    // fonts, and "Day" may be wider than any of them. Once per font for all
    // lists: the week's seven lists and every font setter ask again, and the
    // answer depends on the font alone.
    static QHash<QString, int> widestOfFont;
    const QFont font = style_.TimeFont.font();
    const QString fontKey = font.key();
    auto known = widestOfFont.constFind(fontKey);
    if (known == widestOfFont.constEnd()) {
        const QFontMetrics metrics(font);
        int widest = metrics.horizontalAdvance(QStringLiteral("Day"));
        for (int hour = 0; hour < 24; ++hour)
            for (int minute = 0; minute < 60; ++minute)
                widest = std::max(widest, metrics.horizontalAdvance(QString::asprintf("%2.2d:%2.2d", hour, minute)));
        known = widestOfFont.insert(fontKey, widest);
    }
    const int widest = *known;
    // The time is drawn one pixel in; the description keeps a gap from it.
    timeColumn_ = 1 + widest + gap;
}

void TDayViewList::setDayEntries(TDayEntries* entries)
{
    dayEntries_ = entries;
    changed();
}

void TDayViewList::setColor(TColor color)
{
    color_ = color;
    QPalette p = palette();
    p.setColor(QPalette::Base, TColorRef::toQColor(color));
    setPalette(p);
    changed();
}

void TDayViewList::setCtl3D(bool on)
{
    if (on == ctl3D_)
        return;
    ctl3D_ = on;
    updateFrame();
}

void TDayViewList::setBorderStyle(TPanel::TBorderStyle style)
{
    if (style == borderStyle_)
        return;
    borderStyle_ = style;
    updateFrame();
}

void TDayViewList::updateFrame()
{
    if (borderStyle_ == TPanel::TBorderStyle::bsNone) {
        setFrameStyle(QFrame::NoFrame);
    } else if (ctl3D_) {
        setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    } else {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
    }
}

int TDayViewList::Count() const
{
    return model_->rowCount();
}

int TDayViewList::ItemIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TDayViewList::setItemIndex(int index)
{
    const QModelIndex item = model_->index(index, 0);
    if (item.isValid()) {
        selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    } else {
        selectionModel()->clearSelection();
        selectionModel()->clearCurrentIndex();
    }
    changed();
}

void TDayViewList::RebuildItems()
{
    const int count = dayEntries_ != nullptr ? dayEntries_->Count() : 0;
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    forgetHeights();
    model_->setStringList(QStringList(count));
    errorNoted_ = false;
    setUpdatesEnabled(updates);
}

void TDayViewList::noteError(const QString& message) noexcept
{
    if (errorNoted_)
        return;
    errorNoted_ = true;
    try {
        // Raised after the paint, from the event loop: the handler may open a
        // message box, which must not happen inside painting.
        QTimer::singleShot(0, this, [this, message] {
            if (!OnError)
                return;
            try {
                OnError(this, message);
            } catch (...) {
                // The owner could not show the error; there is nobody left to
                // tell, and the event loop must not see the exception.
            }
        });
    } catch (...) {
    }
}

template <typename F>
bool TDayViewList::guarded(F&& lookup) noexcept
{
    try {
        lookup();
        return true;
    } catch (...) {
        noteError(EQuorla::MessageOf(std::current_exception()));
        return false;
    }
}

void TDayViewList::forgetHeights()
{
    heights_.clear();
    heightsWidth_ = -1;
}

int TDayViewList::leastDoubleHeight() const
{
    return QFontMetrics(style_.DescriptionFont.font()).height() + lineHeight;
}

QSize TDayViewList::MeasureItem(int index) noexcept
{
    const int width = viewport()->width();
    if (style_.DisplayMode == TDisplayMode::dmSingle || index < 0 || index >= Count())
        return MeasureItem(index, width);
    if (heightsWidth_ != width || heights_.size() != std::size_t(Count())) {
        heights_.assign(std::size_t(Count()), -1);
        heightsWidth_ = width;
    }
    int& height = heights_[std::size_t(index)];
    if (height >= 0)
        return {width, height};
    // Below the part in view an item is not measured yet.
    const int least = leastDoubleHeight();
    if (topOf(index, least) >= shownFrom(least) + viewport()->height())
        return {width, least};
    height = MeasureItem(index, width).height();
    return {width, height};
}

int TDayViewList::topOf(int index, int least) const
{
    // As laid out: measured heights above it, the least for the others.
    int top = 0;
    for (int i = 0; i < index && i < int(heights_.size()); ++i)
        top += heights_[std::size_t(i)] >= 0 ? heights_[std::size_t(i)] : least;
    return top;
}

int TDayViewList::shownFrom(int least) const
{
    // Scrolled by items, the bar's value is the first item shown. Counted
    // here, not asked of the view: this runs while the view lays out.
    const int value = verticalScrollBar()->value();
    return verticalScrollMode() == QAbstractItemView::ScrollPerPixel ? value : topOf(value, least);
}

void TDayViewList::measureRest()
{
    if (style_.DisplayMode != TDisplayMode::dmDouble)
        return;
    const int width = viewport()->width();
    if (heightsWidth_ != width || heights_.size() != std::size_t(Count())) {
        heights_.assign(std::size_t(Count()), -1);
        heightsWidth_ = width;
    }
    if (std::find(heights_.begin(), heights_.end(), -1) == heights_.end())
        return;
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() > 0 && bar->value() == bar->maximum();
    for (int i = 0; i < int(heights_.size()); ++i) {
        if (heights_[std::size_t(i)] < 0)
            heights_[std::size_t(i)] = MeasureItem(i, heightsWidth_).height();
    }
    doItemsLayout();
    // Scrolled to the end with the least heights: still at the end.
    if (atEnd)
        bar->setValue(bar->maximum());
}

QSize TDayViewList::MeasureItem(int index, int width) noexcept
{
    if (style_.DisplayMode == TDisplayMode::dmSingle)
        return {width, lineHeight};
    try {
        if (dayEntries_ == nullptr || index < 0 || index >= dayEntries_->Count())
            return {width, lineHeight};
        const DayEntryRecord entry = dayEntries_->Entry(index);
        const TFont& font
            = (entry.Flags() & DayEntryRecord::Private) != 0 ? style_.PrivateFont : style_.DescriptionFont;
        const QFontMetrics metrics(font.font());
        QString time;
        if (!guarded([&] { time = LineTime(index); }))
            time = missing;
        const QRect bounds(0, 0, std::max(1, width - lineColumn(time)), 1 << 20);
        const int textHeight = std::max(
            metrics.height(),
            metrics.boundingRect(bounds, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                                 LineText(entry, dayEntries_->Details(index)))
                .height());
        return {width, textHeight + lineHeight};
    } catch (...) {
        noteError(EQuorla::MessageOf(std::current_exception()));
        return {width, lineHeight};
    }
}

void TDayViewList::DrawItem(QPainter& painter, const QRect& rect, int index, bool focused) noexcept
{
    try {
        painter.save();
        drawItem(painter, rect, index, focused);
        painter.restore();
    } catch (...) {
        noteError(EQuorla::MessageOf(std::current_exception()));
        try {
            painter.restore();
        } catch (...) {
        }
    }
}

void TDayViewList::drawItem(QPainter& painter, const QRect& rect, int index, bool focused)
{
    // The ground is the list's colour already: the viewport fills what it
    // repaints with it (its Base), as the month view fills its boxes.
    if (dayEntries_ != nullptr && index >= 0 && index < dayEntries_->Count())
        drawDayEntry(painter, rect, index);
    if (focused) {
        QPen pen(palette().color(QPalette::Text));
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
    }
}

void TDayViewList::drawDayEntry(QPainter& painter, const QRect& rect, int index)
{
    // Edges as the layout counts them: Right and Bottom lie just outside.
    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.left() + rect.width();
    const int bottom = rect.top() + rect.height();

    const DayEntryRecord entry = dayEntries_->Entry(index);
    const qint32 flags = entry.Flags();
    const bool isPrivate = (flags & DayEntryRecord::Private) != 0;
    const bool double_ = style_.DisplayMode == TDisplayMode::dmDouble;

    // Assignees, in slot order. Name keeps the previous answer when the next
    // slot is asked, as the handler may leave it alone.
    QString names;
    if (OnWantUserName) {
        QString name;
        for (int slot = 0; slot < DayEntryRecord::MaxAssignees; ++slot) {
            const QString key = entry.Assignee(slot);
            if (key.isEmpty() || key == RecordKey::None)
                continue;
            if (!guarded([&] { OnWantUserName(this, key, name); }))
                name = missing;
            names = names.isEmpty() ? name : names + QStringLiteral(", ") + name;
        }
    }

    QString category;
    const QString categoryKey = entry.CategoryKey();
    if (style_.ShowCategories && !categoryKey.isEmpty() && categoryKey != RecordKey::None
        && OnWantCategoryDescription) {
        if (!guarded([&] { OnWantCategoryDescription(this, categoryKey, category); }))
            category = missing;
    }

    bool alarmed = false;
    bool alarmKnown = true;
    if (style_.ShowAlarmGlyphs && OnWantAlarmedFlag) {
        const QString pk = dayEntries_->PkAt(index);
        alarmKnown = guarded([&] { OnWantAlarmedFlag(this, pk, alarmed); });
    }
    // A failed look-up leaves the mark off: the failure is reported all the same.
    TRepeatMark mark = TRepeatMark::None;
    if (OnWantRepeatingFlag) {
        const QString pk = dayEntries_->PkAt(index);
        if (!guarded([&] { OnWantRepeatingFlag(this, pk, mark); }))
            mark = TRepeatMark::None;
    }
    const bool repeating = mark != TRepeatMark::None;
    const QPixmap& repeatGlyph = mark == TRepeatMark::Detached ? detachedGlyph_ : repeatGlyph_;

    QString time;
    if (!guarded([&] { time = LineTime(index); }))
        time = missing;
    drawTextAt(painter, style_.TimeFont, left + 1, top + 1, time);
    // A time wider than the column (one with its end) moves the rest of its
    // line along; the others keep the column.
    const int column = lineColumn(time);

    // Glyphs: beside the time on one line, below it in the two-line layout.
    int g = 0;
    if (style_.ShowPrivateGlyphs && isPrivate) {
        if (double_) {
            painter.drawPixmap(left, top + lineHeight, privateGlyph_);
        } else {
            painter.drawPixmap(left + column, top, privateGlyph_);
            g = glyphSize;
        }
    }
    if (alarmed || !alarmKnown) {
        const int x = double_ ? left + glyphSize : left + g + column;
        const int y = double_ ? top + lineHeight : top;
        if (alarmKnown)
            painter.drawPixmap(x, y, alarmGlyph_);
        else
            drawTextAt(painter, style_.TimeFont, x + 4, y + 1, missing);
        if (!double_)
            g += glyphSize;
    }
    if (repeating) {
        if (double_) {
            // Below the time, in the first of the private and alarm places
            // left free; with both taken, after them where the time column
            // has room, else on the line below when the item has one.
            const bool privateShown = style_.ShowPrivateGlyphs && isPrivate;
            const bool alarmShown = alarmed || !alarmKnown;
            QPoint at(left + (privateShown ? (alarmShown ? 2 : 1) : 0) * glyphSize, top + lineHeight);
            if (privateShown && alarmShown && 3 * glyphSize > column && rect.height() >= 3 * lineHeight)
                at = QPoint(left, top + 2 * lineHeight);
            painter.drawPixmap(at, repeatGlyph);
        } else {
            painter.drawPixmap(left + g + column, top, repeatGlyph);
            g += glyphSize;
        }
    }

    const TFont& textFont = isPrivate ? style_.PrivateFont : style_.DescriptionFont;
    const QString description = LineText(entry, dayEntries_->Details(index));
    if (!double_) {
        // The viewport's edge, when the line is narrower than the list.
        drawOneLine(painter, left + g + column, top + 1, std::max(right, viewport()->width()), textFont, description,
                    names, category);
    } else {
        painter.setFont(textFont.font());
        painter.setPen(textFont.qcolor());
        const QRect wrapped(left + column, top + 1, right - left - column, bottom - top - 1);
        painter.drawText(wrapped, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, description);
        const int x = left + column;
        if (style_.ShowCategories && !category.isEmpty()) {
            const int w2 = drawTextAndWidth(painter, style_.AssigneeFont, x, bottom - lineHeight, names);
            drawTextAt(painter, style_.CategoryFont, x + w2 + gap, bottom - lineHeight, category);
        } else {
            drawTextAt(painter, style_.AssigneeFont, x, bottom - lineHeight, names);
        }
    }
}

int TDayViewList::drawTextAndWidth(QPainter& painter, const TFont& font, int x, int y, const QString& text)
{
    drawTextAt(painter, font, x, y, text);
    if (text.isEmpty())
        return 0;
    // A second layout of the text, paid once per text and font: a week's
    // lines repeat their texts and names (a series' occurrences, the same
    // people), and measuring costs about as much as drawing.
    QHash<QString, int>& known = widths_[&font];
    if (const auto found = known.constFind(text); found != known.constEnd())
        return *found;
    if (known.size() >= WidthsKept)
        known.clear();
    const int width = QFontMetrics(font.font()).horizontalAdvance(text);
    known.insert(text, width);
    return width;
}

void TDayViewList::drawOneLine(QPainter& painter, int x, int y, int right, const TFont& textFont,
                               const QString& description, const QString& names, const QString& category)
{
    // The names and the category follow the text; those that would start
    // past `right` (a long text in a narrow day), where the painter's clip
    // ends, are neither shaped nor measured, as nothing of them would show.
    const bool withCategory = style_.ShowCategories && !category.isEmpty();
    if (names.isEmpty() && !withCategory) {
        drawTextAt(painter, textFont, x, y, description);
        return;
    }
    const int namesAt = x + drawTextAndWidth(painter, textFont, x, y, description) + gap;
    if (!withCategory) {
        if (showsBefore(style_.AssigneeFont, namesAt, right))
            drawTextAt(painter, style_.AssigneeFont, namesAt, y, names);
        return;
    }
    if (!showsBefore(style_.AssigneeFont, namesAt, right) && !showsBefore(style_.CategoryFont, namesAt + gap, right))
        return;
    const int w2 = drawTextAndWidth(painter, style_.AssigneeFont, namesAt, y, names);
    drawTextAt(painter, style_.CategoryFont, namesAt + w2 + gap, y, category);
}

QString TDayViewList::LineTime(int index)
{
    const DayEntryRecord entry = dayEntries_->Entry(index);
    if ((entry.Flags() & DayEntryRecord::UnTimed) != 0)
        return QStringLiteral("Day");
    const QString text = entry.StartTime();
    bool number = false;
    const int seconds = text.toInt(&number);
    if (!number)
        throw EQuorla(QStringLiteral("'%1' is not a valid integer value").arg(text));
    TimeStamp.SetSeconds(seconds);
    const QString start = QString::asprintf("%2.2d:%2.2d", TimeStamp.Hour(), TimeStamp.Minute());
    const qint32 length = dayEntries_->Details(index).durationSeconds;
    if (length <= 0)
        return start;
    TimeStamp.SetSeconds(seconds + length);
    const QString end = QString::asprintf("%2.2d:%2.2d", TimeStamp.Hour(), TimeStamp.Minute());
    // Over several days: its start on the first, its end on the last, the
    // days between it fills.
    const auto [first, last] = dayEntries_->DaysOf(index);
    const QDate day = dayEntries_->Day.isValid() ? dayEntries_->Day : first;
    if (day <= first)
        return last == first ? start + QLatin1Char('-') + end : start + QLatin1Char('-');
    return day < last ? QStringLiteral("Day") : QLatin1Char('-') + end;
}

QString TDayViewList::LineText(const DayEntryRecord& entry, const TEntryDetails& details)
{
    const QString description = entry.Description();
    return details.location.isEmpty() ? description
                                      : description + QStringLiteral(" (") + details.location + QLatin1Char(')');
}

int TDayViewList::lineColumn(const QString& time) const
{
    return std::max(timeColumn_, 1 + QFontMetrics(style_.TimeFont.font()).horizontalAdvance(time) + gap);
}

void TDayViewList::focusInEvent(QFocusEvent* event)
{
    QListView::focusInEvent(event);
    if (OnReceivedFocus)
        guarded([&] { OnReceivedFocus(this); });
}

void TDayViewList::mousePressEvent(QMouseEvent* event)
{
    QListView::mousePressEvent(event);
    if (event->button() != Qt::RightButton)
        return;
    // The item under the pointer becomes the selected one, so that a context
    // menu opened by the same click acts on it; below the last item none is.
    setItemIndex(indexAt(event->position().toPoint()).row());
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
}

void TDayViewList::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListView::mouseDoubleClickEvent(event);
    // Not passed on: the panels around the list react only to double-clicks on
    // their own surface.
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    setItemIndex(indexAt(event->position().toPoint()).row());
    if (OnItemDblClick)
        guarded([&] { OnItemDblClick(this); });
}

void TDayViewList::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    if (style_.DisplayMode == TDisplayMode::dmDouble && event->size().width() != event->oldSize().width())
        scheduleDelayedItemsLayout();
    else if (event->size().height() > event->oldSize().height())
        QMetaObject::invokeMethod(this, &TDayViewList::measureRest, Qt::QueuedConnection);
}
