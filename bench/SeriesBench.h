#pragma once

// Repeating events on a folder (synced writes, as the program opens it) and
// on a private database server, side by side: creating a weekly series with
// 20 assignees and a daily one with 5 for a year, changing the time of all
// their occurrences, extending the horizon by a day, and the views' and the
// alarm poll's reads with the series against the same data without them.
void runSeriesBench();
