#include "TOutageWatch.h"

#include "TClock.h"
#include "TCommandScope.h"
#include "TXIsamFile.h"
#include "IsamCode.h"

bool TOutageWatch::IsOutage(const QString& message)
{
    return message.contains(TXIsamFile::ErrorText(IsamServerLost))
        || message.contains(TXIsamFile::ErrorText(IsamServerUnreachable))
        || message == QString::fromLatin1(TCommandScope::LostWhileSaving);
}

QString TOutageWatch::Clean(const QString& message)
{
    QString clean;
    clean.reserve(message.size());
    for (QChar c : message) {
        if (c == QLatin1Char('\n'))
            clean += QLatin1Char('\r');
        else if (c == QLatin1Char('\r') || !(c.category() == QChar::Other_Control))
            clean += c;
    }
    return clean;
}

QString TOutageWatch::Screen(const QString& message)
{
    const QString clean = Clean(message);
    if (!IsOutage(message))
        return clean;
    const bool lostWhileSaving = message == QString::fromLatin1(TCommandScope::LostWhileSaving);
    if (Away() && !lostWhileSaving)
        return {};
    if (!Away()) {
        since_ = TClock::now();
        if (OnChange)
            OnChange();
    }
    return lostWhileSaving ? clean : clean + QStringLiteral("\r\rQuorla tries again by itself; this message closes once the database is back.");
}

bool TOutageWatch::Reached()
{
    if (!Away())
        return false;
    since_ = QDateTime();
    if (OnChange)
        OnChange();
    return true;
}

QString TOutageWatch::Line() const
{
    if (!Away())
        return {};
    return QStringLiteral("The database is unreachable since %1; the views show what was last read, "
                          "days never read are marked \"not loaded\".")
        .arg(since_.toString(QStringLiteral("hh:mm:ss")));
}

QString TOutageWatch::Still() const
{
    if (!Away())
        return {};
    return QStringLiteral("The database is still unreachable (since %1): nothing was read or changed. "
                          "Try again once it is back.")
        .arg(since_.toString(QStringLiteral("hh:mm:ss")));
}
