#include "TPanel.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

namespace {

// One bevel of one pixel around r: light on the top and left, dark on the
// bottom and right for a raised cut, the other way round for a lowered one.
void drawBevel(QPainter& painter, const QRect& r, TPanel::TBevelCut cut, const QPalette& palette,
               const QColor& face)
{
    if (cut == TPanel::TBevelCut::bvNone || r.width() <= 0 || r.height() <= 0)
        return;
    QColor topLeft = face;
    QColor bottomRight = face;
    if (cut == TPanel::TBevelCut::bvRaised) {
        topLeft = palette.color(QPalette::Light);
        bottomRight = palette.color(QPalette::Dark);
    } else if (cut == TPanel::TBevelCut::bvLowered) {
        topLeft = palette.color(QPalette::Dark);
        bottomRight = palette.color(QPalette::Light);
    }
    painter.setPen(topLeft);
    painter.drawLine(r.left(), r.top(), r.right(), r.top());
    painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
    painter.setPen(bottomRight);
    painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

} // namespace

TPanel::TPanel(QWidget* parent)
    : QFrame(parent)
{
    color_ = TColorRef::fromQColor(palette().color(QPalette::Button));
    setAutoFillBackground(true);
    setColor(color_);
    updateFrame();
}

void TPanel::setBevelOuter(TBevelCut cut)
{
    if (cut == bevelOuter_)
        return;
    bevelOuter_ = cut;
    clientChanged();
    update();
}

void TPanel::setBevelInner(TBevelCut cut)
{
    if (cut == bevelInner_)
        return;
    bevelInner_ = cut;
    clientChanged();
    update();
}

void TPanel::setBorderStyle(TBorderStyle style)
{
    if (style == borderStyle_)
        return;
    borderStyle_ = style;
    updateFrame();
}

void TPanel::setCtl3D(bool on)
{
    if (on == ctl3D_)
        return;
    ctl3D_ = on;
    updateFrame();
}

void TPanel::setColor(TColor color)
{
    color_ = color;
    QPalette p = palette();
    p.setColor(QPalette::Window, TColorRef::toQColor(color));
    setPalette(p);
    update();
}

void TPanel::setCaption(const QString& caption)
{
    caption_ = caption;
    update();
}

void TPanel::setAlignment(Qt::Alignment alignment)
{
    alignment_ = normalised(alignment);
    update();
}

Qt::Alignment TPanel::normalised(Qt::Alignment alignment)
{
    if (alignment & Qt::AlignRight)
        return Qt::AlignRight;
    if (alignment & Qt::AlignHCenter)
        return Qt::AlignHCenter;
    return Qt::AlignLeft;
}

QRect TPanel::InnerRect() const
{
    int inset = 0;
    if (bevelOuter_ != TBevelCut::bvNone)
        ++inset;
    if (bevelInner_ != TBevelCut::bvNone)
        ++inset;
    return contentsRect().adjusted(inset, inset, -inset, -inset);
}

void TPanel::updateFrame()
{
    if (borderStyle_ == TBorderStyle::bsNone) {
        setFrameStyle(QFrame::NoFrame);
    } else if (ctl3D_) {
        setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    } else {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
    }
    clientChanged();
    update();
}

void TPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QColor face = TColorRef::toQColor(color_);
    QRect r = contentsRect();
    drawBevel(painter, r, bevelOuter_, palette(), face);
    if (bevelOuter_ != TBevelCut::bvNone)
        r.adjust(1, 1, -1, -1);
    drawBevel(painter, r, bevelInner_, palette(), face);
    if (!caption_.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setFont(font());
        painter.drawText(InnerRect(), int(alignment_ | Qt::AlignVCenter | Qt::TextSingleLine),
                         caption_);
    }
}

void TPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (OnDblClick)
        OnDblClick(this);
}

void TPanel::contextMenuEvent(QContextMenuEvent* event)
{
    if (popupMenu_ == nullptr) {
        event->ignore();
        return;
    }
    event->accept();
    popupMenu_->popup(event->globalPos());
}
