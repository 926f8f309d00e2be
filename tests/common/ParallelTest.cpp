// Parts on the kept threads: every part once, nested calls, and a part's failure; and
// work done once per item, whoever asks.
#include "common/Parallel.h"
#include "common/Once.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace vantorel {
namespace {

TEST(Parallel, EveryPartRunsOnceNestedCallsIncluded) {
    for (int round = 0; round < 200; ++round) {
        std::vector<std::atomic<int>> hits(64 * 64);
        ForEachPart(64, 4, [&](long long first, long long end) {
            for (long long i = first; i < end; ++i) {
                ForEachPart(64, 3, [&](long long a, long long b) {
                    for (long long j = a; j < b; ++j) {
                        ++hits[static_cast<size_t>(i * 64 + j)];
                    }
                });
            }
        });
        for (const std::atomic<int>& h : hits) {
            ASSERT_EQ(h.load(), 1);
        }
    }
}

TEST(Parallel, APartsFailureIsRethrownAfterAllPartsEnded) {
    std::atomic<int> ended{0};
    EXPECT_THROW(ForEachPart(8, 4,
                             [&](long long first, long long) {
                                 ++ended;
                                 if (first >= 4) {
                                     throw std::runtime_error("part failed");
                                 }
                             }),
                 std::runtime_error);
    EXPECT_EQ(ended.load(), 4);
}

// A thread that waits for its own parts takes no part of another call: that part could
// wait on what the waiting thread's caller holds (a thread reading the boundaries once took
// a part that waited for the boundaries, and the run hung).
TEST(Parallel, AWaitingCallerTakesNoPartOfAnotherCall) {
    if (std::thread::hardware_concurrency() < 2) {
        GTEST_SKIP() << "no kept thread to hold a part";
    }
    std::atomic<bool> keptThreadHolds{false}, otherQueued{false}, ownPartDone{false},
        release{false};
    std::atomic<std::thread::id> lastPartOn{};
    const auto until = [](const std::atomic<bool>& flag) {
        while (!flag) {
            std::this_thread::yield();
        }
    };
    std::thread::id waiting;
    std::thread caller([&] {
        waiting = std::this_thread::get_id();
        RunParts(2, [&](int part) {
            if (part == 0) { // here, until a kept thread holds part 1 and another call waits
                until(keptThreadHolds);
                until(otherQueued);
                ownPartDone = true;
            } else {
                keptThreadHolds = true;
                until(release);
            }
        });
    });
    until(keptThreadHolds);
    RunParts(2, [&](int part) {
        if (part == 0) { // the caller above now waits for part 1, and part 1 here is free
            otherQueued = true;
            until(ownPartDone);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } else {
            lastPartOn = std::this_thread::get_id();
        }
    });
    release = true;
    caller.join();
    EXPECT_NE(lastPartOn.load(), waiting);
}

#if defined(__linux__)
// Only the thread that yields waits for the others; the program's other threads keep their
// share.
TEST(Parallel, YieldingLowersTheCallingThreadAlone) {
    const auto niceness = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int before = niceness();
    int yielded = before;
    std::thread([&] {
        YieldCoresToOthers();
        yielded = niceness();
    }).join();
    EXPECT_GT(yielded, before);
    EXPECT_EQ(niceness(), before);
}
#endif

// Threads asking for the same items at once: each item's work runs once, and every asker
// sees what it made.
TEST(Once, EachItemIsWorkedOutOnceWhoeverAsks) {
    constexpr int kItems = 2000;
    TOnceLocks locks;
    std::vector<TOnce> once(kItems);
    std::vector<int> made(kItems, 0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> askers;
    for (int t = 0; t < 4; ++t) {
        askers.emplace_back([&] {
            for (int i = 0; i < kItems; ++i) {
                once[static_cast<size_t>(i)].Do(locks, [&] { ++made[static_cast<size_t>(i)]; });
                wrong += made[static_cast<size_t>(i)] != 1 ? 1 : 0;
            }
        });
    }
    for (std::thread& t : askers) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(std::count(made.begin(), made.end(), 1), kItems);
}

} // namespace
} // namespace vantorel
