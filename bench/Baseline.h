#pragma once

// A yardstick measured in the same run as the figures: one copy of a 1568 x 5000 picture
// of 24 bits per pixel (23.5 MB). Each benchmark that opens a TBaselineRatio reports its
// time per iteration as a multiple of it, so that a figure can be judged on any machine.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vantorel::bench {

/// The copy's time in milliseconds: the median of 15, measured once per program.
inline double PictureCopyMs() {
    static const double ms = [] {
        const size_t bytes = size_t{1568} * 3 * 5000;
        std::vector<std::uint8_t> from(bytes, 1);
        std::vector<std::uint8_t> to(bytes, 0);
        std::vector<double> times;
        for (int i = 0; i < 15; ++i) {
            from[static_cast<size_t>(i)] = static_cast<std::uint8_t>(i);
            const auto start = std::chrono::steady_clock::now();
            std::memcpy(to.data(), from.data(), bytes);
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
            times.push_back(std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - start)
                                .count());
        }
        std::nth_element(times.begin(), times.begin() + 7, times.end());
        return times[7];
    }();
    return ms;
}

/// Times the benchmark's loop by the wall clock and adds the counters "copy_ms" (the
/// yardstick) and "copies" (the time per iteration in yardsticks).
class TBaselineRatio {
public:
    /// Open it just before the loop.
    explicit TBaselineRatio(benchmark::State& state) : state_(state) {
        PictureCopyMs();
        start_ = std::chrono::steady_clock::now();
    }
    TBaselineRatio(const TBaselineRatio&) = delete;
    TBaselineRatio& operator=(const TBaselineRatio&) = delete;
    ~TBaselineRatio() {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
                .count();
        const double iterations = static_cast<double>(std::max<benchmark::IterationCount>(
            state_.iterations(), 1));
        state_.counters["copy_ms"] = PictureCopyMs();
        state_.counters["copies"] = ms / iterations / PictureCopyMs();
    }
private:
    benchmark::State& state_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace vantorel::bench
