#include "TBusyStrip.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr qint64 Hour = 3600;

} // namespace

TBusyStrip::TBusyStrip(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TBusyStrip::setDay(qint64 from, qint64 to, qint64 opens, qint64 closes)
{
    from_ = from;
    to_ = std::max(to, from + Hour);
    opens_ = opens;
    closes_ = closes;
    update();
}

void TBusyStrip::setRows(const QList<TRow>& rows)
{
    rows_ = rows;
    updateGeometry();
    update();
}

void TBusyStrip::setEvent(qint64 start, qint64 end)
{
    eventStart_ = start;
    eventEnd_ = end;
    update();
}

QStringList TBusyStrip::TakenAt(int row, qint64 moment) const
{
    QStringList texts;
    if (row < 0 || row >= rows_.size())
        return texts;
    for (const TBusyInterval& busy : rows_[row].busy)
        if (busy.overlaps(moment, moment + 1))
            texts << (busy.hidden ? QStringLiteral("Private") : busy.text);
    return texts;
}

QSize TBusyStrip::sizeHint() const
{
    return {NameWidth + 24 * 16, HeaderHeight + RowHeight * int(std::max<qsizetype>(rows_.size(), 1)) + 2};
}

int TBusyStrip::xOf(qint64 moment) const
{
    const qint64 clamped = std::clamp(moment, from_, to_);
    const int bars = std::max(width() - NameWidth - 2, 1);
    return NameWidth + int((clamped - from_) * bars / (to_ - from_));
}

void TBusyStrip::paintHeader(QPainter& painter) const
{
    painter.setPen(palette().color(QPalette::WindowText));
    for (qint64 hour = from_; hour < to_; hour += Hour) {
        const int x = xOf(hour);
        painter.drawLine(x, HeaderHeight - 3, x, height());
        painter.drawText(x + 2, HeaderHeight - 3, QString::number(hour % 86400 / Hour));
    }
}

void TBusyStrip::paintRow(QPainter& painter, int row) const
{
    const int top = HeaderHeight + row * RowHeight;
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(2, top, NameWidth - 4, RowHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(rows_[row].name, Qt::ElideRight, NameWidth - 4));
    const QRect bar(NameWidth, top + 2, xOf(to_) - NameWidth, RowHeight - 4);
    painter.fillRect(bar, palette().color(QPalette::Mid));
    painter.fillRect(QRect(QPoint(xOf(opens_), bar.top()), QPoint(xOf(closes_), bar.bottom())),
                     palette().color(QPalette::Base));
    for (const TBusyInterval& busy : rows_[row].busy) {
        const QRect taken(QPoint(xOf(busy.start), bar.top()), QPoint(std::max(xOf(busy.end) - 1, xOf(busy.start)), bar.bottom()));
        painter.fillRect(taken, busy.hidden ? QColor(Qt::darkGray) : palette().color(QPalette::Highlight));
    }
}

void TBusyStrip::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    paintHeader(painter);
    for (int row = 0; row < rows_.size(); ++row)
        paintRow(painter, row);
    if (eventEnd_ > eventStart_) {
        painter.setPen(QPen(Qt::red, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(QPoint(xOf(eventStart_), HeaderHeight),
                               QPoint(xOf(eventEnd_), HeaderHeight + RowHeight * int(rows_.size()) - 1)));
    }
}

bool TBusyStrip::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const int row = (help->pos().y() - HeaderHeight) / RowHeight;
    const int bars = std::max(width() - NameWidth - 2, 1);
    const qint64 moment = from_ + qint64(help->pos().x() - NameWidth) * (to_ - from_) / bars;
    const QStringList texts = help->pos().x() < NameWidth ? QStringList() : TakenAt(row, moment);
    if (texts.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), texts.join(QLatin1Char('\n')), this);
    return true;
}
