#pragma once

// The program's start to its first week painted, at 1,000,000 day entries,
// beside the same start at 10,000.
void runFirstWeekBench();
