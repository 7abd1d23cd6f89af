#pragma once

#include "TEntrySelection.h"

#include <QStringList>

class TDetailsStore;
class TXIsamFile;

// Turns the calendar events of a date range into the lines of the plain-text
// report: four header lines, then the events in start-time order under month
// headings, each as a tab-separated line of day, time and description followed
// by a line of assignee names. A report for a resource says so in a fifth
// header line ("Resource = <name>") and takes the entries booking it. With the entries' details the time shows the
// end ("09:30-10:30", or "22:00 to Tue 05 02:00" and "Day to Wed 06" over
// several days), the place follows the description after a tab, and the
// notes follow the names, one line each.
//
// The caller fills the selection (TEntrySelection) and calls Build, which reads the day entries
// through their start-time index and the assignees' names from one pass over
// the users dataset. It moves the positions of both datasets.
class TReportBuilder : public TEntrySelection
{
public:
    // The report's lines. Throws EQuorla "Unable to locate user" for an
    // assignee the users dataset does not hold, EQuorla with the engine's error
    // text when a read fails for any other reason than "no such record", and
    // EStamp for a date outside 1970 to 2037.
    // `details`, when given, answers the entries' end, place and notes, read
    // at once for every entry of the report.
    QStringList Build(TXIsamFile& dayEntries, TXIsamFile& users, TDetailsStore* details = nullptr) const;

private:
    // The header lines: the range, the category, the users and the resource.
    QStringList headLines() const;
};
