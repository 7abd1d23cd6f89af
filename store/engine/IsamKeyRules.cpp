#include "IsamKeyRules.h"

#include "IsamCode.h"

QByteArray IsamKeyRules::prefixSuccessor(QByteArray prefix)
{
    while (!prefix.isEmpty() && uchar(prefix.back()) == 0xFF)
        prefix.chop(1);
    if (!prefix.isEmpty())
        prefix.back() = char(uchar(prefix.back()) + 1);
    return prefix;
}

bool IsamKeyRules::conditionHolds(int mode, const QByteArray& value, const QByteArray& key)
{
    switch (mode) {
    case IsamReadPrefix:
        return value.startsWith(key);
    case IsamReadBelow:
        return value < key;
    case IsamReadAtMost:
        return value <= key;
    default:
        return true;
    }
}

QByteArray IsamKeyRules::column(int index)
{
    return index == 0 ? QByteArrayLiteral("pk") : "ix" + QByteArray::number(index);
}

bool IsamKeyRules::validKey(const QByteArray& key, int keyLength, qint64* number)
{
    if (key.size() != keyLength)
        return false;
    qint64 n = 0;
    for (char c : key) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (number)
        *number = n;
    return true;
}
