#pragma once

// Measures how fast a full week view redraws offscreen: seven days of 30
// entries, five assignees each, names answered from memory as the main window
// answers from its user cache. Prints draws per second for both line layouts.
// Needs a QApplication. When QUORLA_BENCH_SHOT names a file, the drawn week is
// also saved there as an image, for a look at it.
void runViewBench();
