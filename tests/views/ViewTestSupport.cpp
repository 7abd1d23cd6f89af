#include "ViewTestSupport.h"

#include "TDayEntries.h"
#include "TDayViewList.h"

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

void addEvent(TDayEntries& entries, const QString& spec)
{
    const QStringList f = spec.split(QLatin1Char('|'));
    const bool unTimed = f[2].size() == 10;
    const QDateTime start = QDateTime::fromString(unTimed ? f[2] + " 00:00" : f[2], "yyyy-MM-dd hh:mm");
    TEntryDetails details;
    details.location = f[4];
    if (f[3].endsWith(QLatin1Char('d')))
        details.days = f[3].chopped(1).toInt();
    else if (!f[3].isEmpty())
        details.durationSeconds = f[3].chopped(1).toInt() * 60;
    entries.Add(entry(f[1], unTimed ? DayEntryRecord::UnTimed : 0, RecordKey::format(start.toSecsSinceEpoch())),
                f[0], details);
}

QStringList lines(TDayViewList& list)
{
    QStringList shown;
    for (int i = 0; i < list.DayEntries()->Count(); ++i)
        shown << list.LineTime(i) + QLatin1Char(' ')
                + TDayViewList::LineText(list.DayEntries()->Entry(i), list.DayEntries()->Details(i));
    return shown;
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
