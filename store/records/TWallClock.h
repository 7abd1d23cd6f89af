#pragma once

#include <QtGlobal>

#include <algorithm>
#include <initializer_list>

// The moment (seconds since the epoch) at which a wall-clock time happens in
// a zone, read as RFC 5545 reads a local time: a time the clock skips (it
// jumps from 02:00 to 03:00) at the offset before the jump, so 02:30 happens
// at 03:30; a time the clock shows twice at its first. `wall` is the time's
// seconds counted as if it were UTC (TStamp's count); `offsetAt` gives the
// zone's offset from UTC, in seconds, at a moment. `plain`, when given, tells
// whether the time happens exactly once.
template <typename OffsetAt>
qint64 wallMoment(qint64 wall, const OffsetAt& offsetAt, bool* plain = nullptr)
{
    constexpr qint64 Day = 86400;
    const int before = offsetAt(wall - Day);
    const int after = offsetAt(wall + Day);
    int fits = 0;
    qint64 first = 0;
    for (const int offset : {before, after}) {
        if ((fits == 1 && offset == before) || offsetAt(wall - offset) != offset)
            continue;
        first = fits == 0 ? wall - offset : std::min(first, wall - offset);
        ++fits;
    }
    if (plain)
        *plain = fits == 1;
    return fits == 0 ? wall - before : first;
}
