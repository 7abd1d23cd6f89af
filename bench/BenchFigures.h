#pragma once

#include <QElapsedTimer>

#include <cstdio>
#include <algorithm>
#include <functional>
#include <vector>

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

// Two ways of one task alternated in short rounds, so that both meet the same
// machine: the median rate of each (times `perOp`, for per-record figures) and
// the minimum, median and maximum over the rounds of how many times longer the first
// takes. Every other round runs the second first, so that neither always
// meets what the other left behind (a warm cache, a server's pending work).
struct Alternated
{
    double first = 0;
    double second = 0;
    double minRatio = 0;
    double medianRatio = 0;
    double maxRatio = 0;
};

inline Alternated alternate(const std::function<void()>& first, const std::function<void()>& second, double perOp,
                            int rounds, int minMs)
{
    std::vector<double> firstRates, secondRates, ratios;
    for (int round = 0; round < rounds; ++round) {
        double a = 0;
        double b = 0;
        if (round % 2 == 0) {
            a = opsPerSecond(first, minMs) * perOp;
            b = opsPerSecond(second, minMs) * perOp;
        } else {
            b = opsPerSecond(second, minMs) * perOp;
            a = opsPerSecond(first, minMs) * perOp;
        }
        firstRates.push_back(a);
        secondRates.push_back(b);
        ratios.push_back(b / a);
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    return {median(firstRates), median(secondRates), *std::min_element(ratios.begin(), ratios.end()), median(ratios),
            *std::max_element(ratios.begin(), ratios.end())};
}

// Ours against the baseline (alternate).
inline void printAlternated(const char* what, const std::function<void()>& ours, const std::function<void()>& raw,
                            double perOp = 1, int rounds = 7, int minMs = 150)
{
    const Alternated a = alternate(ours, raw, perOp, rounds, minMs);
    std::printf("  %-34s %12.0f ops/s   raw %12.0f ops/s   ours/raw time min %5.2f median %5.2f\n", what, a.first,
                a.second, a.minRatio, a.medianRatio);
    std::fflush(stdout);
}
