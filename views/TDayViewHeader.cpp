#include "TDayViewHeader.h"

namespace {
const QString margin = QStringLiteral("  ");
}

TDayViewHeader::TDayViewHeader(QWidget* parent)
    : TPanel(parent)
{
    setAlignment(Qt::AlignLeft);
    setBevelOuter(TBevelCut::bvNone);
    setFixedHeight(16);
}

QString TDayViewHeader::HeaderText() const
{
    const QString caption = Caption();
    const Qt::Alignment alignment = Alignment();
    if (alignment == Qt::AlignLeft && caption.startsWith(margin))
        return caption.mid(margin.size());
    if (alignment == Qt::AlignRight && caption.endsWith(margin))
        return caption.chopped(margin.size());
    return caption;
}

void TDayViewHeader::setHeaderText(const QString& text)
{
    const Qt::Alignment alignment = Alignment();
    if (alignment == Qt::AlignLeft)
        setCaption(margin + text);
    else if (alignment == Qt::AlignRight)
        setCaption(text + margin);
    else
        setCaption(text);
}

void TDayViewHeader::setHeaderAlignment(Qt::Alignment alignment)
{
    const QString text = HeaderText();
    setAlignment(alignment);
    setHeaderText(text);
}
