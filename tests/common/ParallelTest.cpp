// Parts on the kept threads: every part once, nested calls, and a part's failure; and
// work done once per item, whoever asks.
#include "common/Parallel.h"
#include "common/Once.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

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
