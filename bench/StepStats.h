// Per-step timing figures shared by the benchmarks and the scene program:
// mean, p50, p95 and maximum milliseconds over every step after the first
// (which files and pairs everything from scratch). Includes nothing of the
// engine.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

struct StepStats {
    double mean = 0.0;
    double p50 = 0.0;
    double p95 = 0.0;
    double max = 0.0;

    static StepStats of(const std::vector<double>& ms) {
        StepStats stats;
        if (ms.size() < 2) {
            return stats;
        }
        std::vector<double> sorted(ms.begin() + 1, ms.end());
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        double sum = 0.0;
        for (double t : sorted) {
            sum += t;
        }
        stats.mean = sum / double(n);
        stats.p50 = sorted[(n - 1) / 2];
        stats.p95 = sorted[size_t(std::ceil(0.95 * double(n))) - 1];
        stats.max = sorted.back();
        return stats;
    }

    // The best of each figure over several runs.
    void keepMinimum(const StepStats& other, bool first) {
        if (first) {
            *this = other;
            return;
        }
        mean = std::min(mean, other.mean);
        p50 = std::min(p50, other.p50);
        p95 = std::min(p95, other.p95);
        max = std::min(max, other.max);
    }
};
