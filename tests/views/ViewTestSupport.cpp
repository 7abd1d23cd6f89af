#include "ViewTestSupport.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

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

QString at(int hour, int minute)
{
    return QString::number(915148800 + hour * 3600 + minute * 60).rightJustified(10, QLatin1Char('0'));
}

QString dayKey(const QDate& date)
{
    return QString::number(date.startOfDay(Qt::UTC).toSecsSinceEpoch()).rightJustified(10, QLatin1Char('0'));
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

namespace {

// Whether p is background blended at least half-way towards colour: every
// channel moved by about the same share of its distance.
bool isInk(const QColor& p, const QColor& colour, const QColor& background)
{
    const int pc[3] = {p.red(), p.green(), p.blue()};
    const int cc[3] = {colour.red(), colour.green(), colour.blue()};
    const int bc[3] = {background.red(), background.green(), background.blue()};
    double low = 1e9;
    double high = -1e9;
    for (int i = 0; i < 3; ++i) {
        const int distance = cc[i] - bc[i];
        if (std::abs(distance) < 32) {
            if (std::abs(pc[i] - bc[i]) > 32)
                return false;
            continue;
        }
        const double share = double(pc[i] - bc[i]) / distance;
        low = std::min(low, share);
        high = std::max(high, share);
    }
    return low >= 0.5 && high - low < 0.25;
}

} // namespace

int inkLeft(const QImage& image, const QRect& area, const QColor& colour, const QColor& background)
{
    const QRect box = area.intersected(image.rect());
    for (int x = box.left(); x <= box.right(); ++x)
        for (int y = box.top(); y <= box.bottom(); ++y)
            if (isInk(image.pixelColor(x, y), colour, background))
                return x;
    return -1;
}

} // namespace ViewTest
