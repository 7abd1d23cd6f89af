#include "IsamDataset.h"

#include "IsamCode.h"

int TIsamDataset::range(int index, const QByteArray& from, const QByteArray& to, std::span<char> record,
                        const TRangeReader& take)
{
    if (from > to)
        return IsamOk;
    QByteArray key;
    int code = get(index, IsamReadEqual, from, key, record);
    if (code == IsamOk && !take(key))
        return IsamOk;
    if (code != IsamOk && code != IsamNotFound)
        return code;
    while ((code = get(index, IsamReadAtMost, to, key, record)) == IsamOk) {
        if (!take(key))
            return IsamOk;
    }
    return code == IsamNotFound ? int(IsamOk) : code;
}
