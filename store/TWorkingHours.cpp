#include "TWorkingHours.h"

#include "EQuorlaDB.h"
#include "IsamCode.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <QRegularExpression>

QString TWorkingHours::text() const
{
    QString weekdays;
    for (int day = 1; day <= 7; ++day)
        if (worksOn(day))
            weekdays += QString::number(day);
    return start.toString(u"hh:mm") + QLatin1Char('-') + end.toString(u"hh:mm") + QLatin1Char(' ') + weekdays;
}

std::optional<TWorkingHours> TWorkingHours::fromText(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d\\d:\\d\\d)-(\\d\\d:\\d\\d) ([1-7]+)$"));
    const QRegularExpressionMatch parts = form.match(text);
    if (!parts.hasMatch())
        return std::nullopt;
    TWorkingHours hours;
    hours.start = QTime::fromString(parts.captured(1), u"hh:mm");
    hours.end = QTime::fromString(parts.captured(2), u"hh:mm");
    hours.days = 0;
    for (const QChar day : parts.captured(3))
        hours.days |= 1 << (day.digitValue() - 1);
    if (!hours.start.isValid() || !hours.end.isValid() || hours.end <= hours.start)
        return std::nullopt;
    return hours;
}

TWorkingHours TWorkingHours::Of(TQuorlaDB& database)
{
    QString kept;
    TXIsamFile& users = database.Users();
    if (!users.ReadSetting(QString(Setting), kept)) {
        if (users.LastError() != IsamNotFound)
            throw EQuorlaDB(users.ErrorText());
        return {};
    }
    return fromText(kept).value_or(TWorkingHours());
}

void TWorkingHours::Store(TQuorlaDB& database, const TWorkingHours& hours)
{
    QString value = hours.text();
    TXIsamFile& users = database.Users();
    if (!users.WriteSetting(QString(Setting), value, false))
        throw EQuorlaDB(QStringLiteral("Unable to store the office's working hours\r\r") + users.ErrorText());
}
