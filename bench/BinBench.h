#pragma once

// Deleting an event into the bin against a plain delete (the same database
// without the bin, as a workstation that knows none deletes), on a folder
// and on a private database server: entries with two assignees, an alarm
// each and a place, deleted in alternating rounds. Goal: the bin's delete
// takes at most 1.3 times as long.
void runBinBench();
