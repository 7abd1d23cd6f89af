#pragma once

#include "DayEntryRecord.h"
#include "RecordKey.h"
#include "TDisplayStyle.h"

#include <QColor>
#include <QDateTime>
#include <QImage>

class QWidget;
class TDayEntries;
class TDayViewList;

// Helpers shared by the view tests: building day entries and looking at what a
// widget really painted.
namespace ViewTest {

// The key of 1999-01-01 (a Friday), and the moment every view test takes as "now".
inline const QString Day19990101 = QStringLiteral("0915148800");
inline QDateTime pinnedNow() { return QDateTime(QDate(1999, 1, 1), QTime(10, 0)); }

// An entry with the given description, flags, start key, assignee keys (first
// slots) and category key, owned by user 7.
DayEntryRecord entry(const QString& description, qint32 flags = 0, const QString& start = QStringLiteral("0915181500"),
                     const QStringList& assignees = {}, const QString& category = QStringLiteral("0000000000"));

// Adds to `entries` the event of `spec`, "key|text|start|length|place": start
// "yyyy-MM-dd hh:mm", or "yyyy-MM-dd" for an un-timed event; length "90m"
// (minutes) or "3d" (days of an un-timed event), empty for none.
void addEvent(TDayEntries& entries, const QString& spec);
// What each line of `list` shows: its time, a space and its text.
QStringList lines(TDayViewList& list);

// The key of 1999-01-01 at hour:minute, and of a date's midnight.
inline QString at(int hour, int minute) { return RecordKey::format(915148800 + hour * 3600 + minute * 60); }
inline QString dayKey(const QDate& date) { return RecordKey::format(date.startOfDay(Qt::UTC).toSecsSinceEpoch()); }

// What the widget paints, as an ARGB32 image.
QImage shot(QWidget& widget);

// True when image, from topLeft on, holds exactly the pixels that drawing text
// in font with its top-left corner at topLeft over background gives, over the
// text's advance width (or `width` columns) and `height` rows.
bool textAt(const QImage& image, QPoint topLeft, const TFont& font, const QString& text, const QColor& background,
            int height = 14, int width = -1);

// Hands `view` its own style as `change` leaves it.
template <typename View, typename Change>
void restyle(View& view, Change change) { TDisplayStyle s = view.Style(); change(s); view.setStyle(s); }

} // namespace ViewTest
