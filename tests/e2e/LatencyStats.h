// Summaries of round-trip times for the test server's reports and benchmark output.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <vector>

namespace nelko::e2e {

struct LatencySummary {
    std::size_t count = 0;
    double minUs = 0;
    double medianUs = 0;
    double p99Us = 0;
    double maxUs = 0;
    double meanUs = 0;
};

// Nearest-rank percentile of an ascending sample: the smallest value with at least p percent
// of the sample at or below it. p in (0, 100].
inline double PercentileOfSorted(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

inline LatencySummary SummarizeLatencies(std::vector<double> samples) {
    LatencySummary s;
    s.count = samples.size();
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    s.minUs = samples.front();
    s.maxUs = samples.back();
    s.medianUs = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
    s.p99Us = PercentileOfSorted(samples, 99.0);
    s.meanUs = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(n);
    return s;
}

}  // namespace nelko::e2e
