#include "RecordKey.h"

#include <limits>

QString RecordKey::format(qint64 key)
{
    return QString::asprintf("%10.10lld", static_cast<long long>(key));
}

qint64 RecordKey::parse(const QString& text)
{
    constexpr qint64 Max = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (const QChar c : text) {
        if (c == QChar(u'\0'))
            break;
        if (c < QChar(u'0') || c > QChar(u'9'))
            return 0;
        const int digit = c.unicode() - u'0';
        if (value > (Max - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

bool RecordKey::isNone(const QString& text)
{
    return parse(text) == 0;
}
