#pragma once

#include "DayEntryRecord.h"
#include "TFont.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

class QWidget;

// Helpers shared by the view tests: building day entries and looking at what a
// widget really painted.
namespace ViewTest {

// Keys of 1999-01-01 and of some moments of that day.
inline const QString Day19990101 = QStringLiteral("0915148800");

// An entry starting at start (a stamp key), with the given flags, description,
// assignee keys (first slots) and category key.
DayEntryRecord entry(const QString& description, qint32 flags = 0,
                     const QString& start = QStringLiteral("0915181500"),
                     const QStringList& assignees = {},
                     const QString& category = QStringLiteral("0000000000"),
                     const QString& owner = QStringLiteral("0000000007"));

// The key of 1999-01-01 at hour:minute.
QString at(int hour, int minute);

// What the widget paints, as an ARGB32 image.
QImage shot(QWidget& widget);

// True when image, from topLeft on, holds exactly the pixels that drawing text
// in font with its top-left corner at topLeft over background gives, over the
// text's advance width (or `width` columns) and `height` rows.
bool textAt(const QImage& image, QPoint topLeft, const TFont& font, const QString& text,
            const QColor& background, int height = 14, int width = -1);

// True when image holds glyph drawn over background at topLeft.
bool glyphAt(const QImage& image, QPoint topLeft, const QPixmap& glyph, const QColor& background);

// The leftmost column inside area holding a pixel at least half-way from
// background to colour, or -1.
int inkLeft(const QImage& image, const QRect& area, const QColor& colour, const QColor& background);

} // namespace ViewTest
