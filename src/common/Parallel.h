#pragma once

// Splitting a loop of independent steps over the machine's cores. Each step writes only
// its own results, so the outcome is the same as one thread's.

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace vantorel {

/// Threads worth starting for `count` steps of at least `minimumPerThread` each: the
/// cores there are, but no more than the work can keep busy (1 when it is small).
inline int ThreadsFor(long long count, long long minimumPerThread) {
    const long long cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<int>(
        std::clamp(count / std::max(minimumPerThread, 1LL), 1LL, std::min(cores, 8LL)));
}

/// Calls work(first, end) on consecutive parts of [0, count), in `threads` threads (this
/// one among them), and returns when every part is done. An exception of a part is
/// rethrown here (the first part's first) after all parts ended.
template <class Work> void ForEachPart(long long count, int threads, Work&& work) {
    threads = static_cast<int>(std::clamp<long long>(threads, 1, std::max(count, 1LL)));
    if (threads == 1) {
        work(0LL, count);
        return;
    }
    std::vector<std::exception_ptr> failures(static_cast<size_t>(threads));
    const auto run = [&](int part) {
        try {
            work(count * part / threads, count * (part + 1) / threads);
        } catch (...) {
            failures[static_cast<size_t>(part)] = std::current_exception();
        }
    };
    std::vector<std::thread> others;
    for (int part = 1; part < threads; ++part) {
        others.emplace_back(run, part);
    }
    run(0);
    for (std::thread& t : others) {
        t.join();
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

} // namespace vantorel
