#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

// The key of every record and of every reference between records: the record's
// number as 10 decimal digits, zero-padded, so that text order is number order.
// Keys are handed out from 1 upwards; "0000000000" refers to no record (no
// category, an empty assignee slot). List controls carry a key as an integer
// beside each item and turn it back into text with format().
class RecordKey
{
public:
    RecordKey() = delete;

    // The key text that refers to no record.
    static constexpr QLatin1StringView None{"0000000000"};

    // The key text of a record number, as printf "%10.10d" writes it: at least
    // 10 digits, zero-padded. Keys are never negative; a negative number would
    // come out with a leading '-' and is not a valid key.
    static QString format(qint64 key);

    // The number in a key text: a plain decimal conversion of the characters up
    // to the end of the text or its first NUL. A text that is empty, holds
    // anything but the digits 0-9 before that point (signs and blanks included),
    // or names a number too large for qint64 gives 0, which no record has.
    static qint64 parse(const QString& text);

    // Whether a key text refers to no record: it is empty or converts to 0
    // (see parse), as "0000000000" does.
    static bool isNone(const QString& text);
};
