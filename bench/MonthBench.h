#pragma once

// Measures how fast the month view redraws offscreen with 100 entries on every
// one of its 42 days, beside the week view redrawing the same days in the same
// run as the baseline, for both line layouts; and the same with every day read
// again first. Needs a QApplication. When QUORLA_BENCH_SHOT names a file, the
// drawn month is also saved beside it as an image.
void runMonthBench();
