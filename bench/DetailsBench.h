#pragma once

#include <QString>

// Reading a day and a week as the views do, with details (an end, a place)
// on every entry, against the same reads without them on the same database:
// the day entries of the days alone, then with TDetailsStore's batch for what
// is painted and the entries reaching in from earlier days. 100,000 entries
// on a folder.
void runDetailsBench();

// Gives every entry of the benchmark calendar in `folder` details (an end,
// three days for every 40th un-timed entry, a place), in a new details dataset.
void addBenchDetails(const QString& folder);

// The benchmark calendar of `entries` entries (loadCalendar's) in `folder`,
// each with details (addBenchDetails).
void loadCalendarWithDetails(const QString& folder, int entries);
