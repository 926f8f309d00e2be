// Parts on the kept threads: every part once, nested calls, and a part's failure.
#include "common/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
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

} // namespace
} // namespace vantorel
