#include "ViewTestSupport.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

namespace ViewTest {

DayEntryRecord entry(const QString& description, qint32 flags, const QString& start, const QStringList& assignees,
                     const QString& category)
{
    DayEntryRecord record;
    record.initialise();
    record.setFlags(flags);
    record.setStartTime(start);
    record.setDescription(description);
    record.setAssigneeKeys(assignees);
    record.setCategoryKey(category);
    record.setOwnerKey(QStringLiteral("0000000007"));
    return record;
}

QImage shot(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

bool textAt(const QImage& image, QPoint topLeft, const TFont& font, const QString& text, const QColor& background,
            int height, int width)
{
    const QFontMetrics metrics(font.font());
    const QRect box = QRect(topLeft, QSize(width < 0 ? metrics.horizontalAdvance(text) : width, height))
                          .intersected(image.rect());
    // The same box of the text drawn over background alone.
    QImage reference(image.size(), QImage::Format_ARGB32);
    reference.fill(background);
    QPainter painter(&reference);
    painter.setFont(font.font());
    painter.setPen(font.qcolor());
    painter.drawText(topLeft.x(), topLeft.y() + metrics.ascent(), text);
    painter.end();
    return !box.isEmpty() && image.copy(box) == reference.copy(box);
}

} // namespace ViewTest
