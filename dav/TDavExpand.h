#pragma once

#include <QByteArray>

// CalDAV's expand (RFC 4791 9.6.5): a calendar object with its recurrence
// set written out as the instances that overlap [fromUtc, toUtc), each a
// VEVENT of the object's UID with a RECURRENCE-ID and no RRULE, RDATE or
// EXDATE, every time in UTC (all-day ones stay dates) and no VTIMEZONE. An
// instance changed alone (a VEVENT with RECURRENCE-ID) takes its rule day's
// place; a day the rule gives but an EXDATE takes out has none. An object
// that does not repeat comes back as its one event in UTC when it overlaps.
QByteArray DavExpanded(const QByteArray& calendar, qint64 fromUtc, qint64 toUtc);
