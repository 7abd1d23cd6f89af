#include "TDateEdit.h"

#include <QCalendarWidget>

TDateEdit::TDateEdit(QWidget* parent)
    : QDateEdit(parent)
{
    setDisplayFormat(QStringLiteral("dd/MM/yy"));
    setCalendarPopup(true);
    auto* calendar = new QCalendarWidget(this);
    calendar->setFirstDayOfWeek(Qt::Monday);
    setCalendarWidget(calendar);
}

int TDateEdit::windowedYear(int twoDigits)
{
    return twoDigits >= 70 ? 1900 + twoDigits : 2000 + twoDigits;
}

QDateTime TDateEdit::dateTimeFromText(const QString& text) const
{
    // Qt reads a two-digit year in the century of the current value; only the
    // two digits typed count, so they are put into our window here.
    QDateTime parsed = QDateEdit::dateTimeFromText(text);
    const QDate date = parsed.date();
    if (!date.isValid())
        return parsed;
    const QDate windowed(windowedYear(date.year() % 100), date.month(), date.day());
    if (windowed.isValid())
        parsed.setDate(windowed);
    return parsed;
}
