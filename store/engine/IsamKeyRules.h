#pragma once

#include <QByteArray>

// The rules both dataset engines apply to keys and index values in the same
// way, so that a folder and a server agree byte for byte on what a key is and
// where a scan stops.
class IsamKeyRules
{
public:
    // The smallest byte string above every string that begins with `prefix`;
    // empty when there is none (the prefix is empty or all 0xFF).
    static QByteArray prefixSuccessor(QByteArray prefix);

    // Whether `value` still satisfies a bounded scan's condition (`mode` an
    // IsamReadMode) against `key`; true for the unbounded modes.
    static bool conditionHolds(int mode, const QByteArray& value, const QByteArray& key);

    // The table column of index `index`: "pk" for the primary key, "ixN".
    static QByteArray column(int index);

    // Whether `key` is a primary key of `keyLength` decimal digits; its
    // number in `number` when asked.
    static bool validKey(const QByteArray& key, int keyLength, qint64* number);
};
