#pragma once

// Splitting a loop of independent steps over the machine's cores. Each step writes only
// its own results, so the outcome is the same as one thread's.

#include <algorithm>
#include <exception>
#include <functional>
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

/// Runs part(0) .. part(parts - 1), this thread among those that take them, and returns
/// when every part is done. The other threads are kept between calls (starting a thread
/// costs tens of microseconds, a redraw a few milliseconds). A part may itself call
/// RunParts: the calling thread takes the parts of its own call that no kept thread has,
/// so nothing waits on itself; it never takes another call's part while it waits, which
/// could wait in turn on what the caller holds.
void RunParts(int parts, const std::function<void(int)>& part);
/// Starts the threads RunParts keeps, where they are not running yet: a thread cannot start
/// while another loads a library (the loader holds its lock meanwhile).
void StartParts();
/// Ends the threads RunParts keeps, once no call is running; later calls run their parts
/// on the calling thread. A program calls it before it returns from main, so that its
/// threads end before the libraries' statics do (Qt keeps per-thread data of its own).
void StopParts();

/// Lowers the calling thread's share of the cores, for work wanted only later (the text
/// module loaded while a pass is worked out): where every core is busy it waits for the
/// pass's threads, not they for it. Threads it starts inherit that.
void YieldCoresToOthers();

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
    RunParts(threads, [&](int part) {
        try {
            work(count * part / threads, count * (part + 1) / threads);
        } catch (...) {
            failures[static_cast<size_t>(part)] = std::current_exception();
        }
    });
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

} // namespace vantorel
