// Timing helpers shared by the bench programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace bench {

// Runs op in batches for about seconds and returns operations per second.
inline double rate_of(const std::function<void()>& op, double seconds) {
    using Clock = std::chrono::steady_clock;
    uint64_t batch = 1, done = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
        for (uint64_t i = 0; i < batch; ++i) op();
        done += batch;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed < seconds / 20) batch *= 2;
    }
    return static_cast<double>(done) / elapsed;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace bench
