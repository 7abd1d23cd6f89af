#pragma once

#include <QElapsedTimer>

#include <cstdio>
#include <functional>

// Runs `op` until `minMs` milliseconds have passed (at least `minRuns` times)
// and answers operations per second.
inline double opsPerSecond(const std::function<void()>& op, int minMs = 400, int minRuns = 3)
{
    QElapsedTimer timer;
    timer.start();
    qint64 runs = 0;
    while (runs < minRuns || timer.elapsed() < minMs) {
        op();
        ++runs;
    }
    return double(runs) * 1e9 / double(timer.nsecsElapsed());
}

// One line of figures: ours, the baseline, and how many times slower ours is.
inline void printRatio(const char* what, double ours, double raw)
{
    std::printf("  %-34s %12.0f ops/s   raw %12.0f ops/s   ours/raw time %5.2f\n", what, ours, raw, raw / ours);
    std::fflush(stdout);
}
