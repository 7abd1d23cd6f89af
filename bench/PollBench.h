#pragma once

// The alarm poll when nothing is due, on 1,000 and on 100,000 alarms: the
// earliest alarm of the user decides, so the cost must not grow with the
// dataset.
void runPollBench();
