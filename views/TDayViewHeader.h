#pragma once

#include "TPanel.h"

#include <QString>

// The caption strip above a day's list, showing the day's date. Its text keeps
// a two-space margin on the side it is aligned to: "  Monday" aligned left,
// "Monday  " aligned right, "Monday" centred. It takes its font from its parent,
// so a day view can show the current day's date in bold.
class TDayViewHeader : public TPanel
{
    Q_OBJECT

public:
    // Left alignment, no outer bevel, 16 pixels high.
    explicit TDayViewHeader(QWidget* parent = nullptr);

    // The caption without the margin of the current alignment.
    QString HeaderText() const;
    // Sets the caption: the text with the margin of the current alignment.
    void setHeaderText(const QString& text);

    // Qt::AlignLeft, Qt::AlignRight or Qt::AlignHCenter; the text stays the
    // same and takes the new alignment's margin.
    Qt::Alignment HeaderAlignment() const { return Alignment(); }
    void setHeaderAlignment(Qt::Alignment alignment);
};
