#include "common/Angles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vantorel {
namespace {

TEST(Angles, WrappingKeepsOrMovesByWholeTurns) {
    struct Row {
        double in, closed, halfOpen, positive;
    };
    const Row rows[] = {
        {0.0, 0.0, 0.0, 0.0},           {180.0, 180.0, 180.0, 180.0},
        {-180.0, -180.0, 180.0, 180.0}, {190.0, -170.0, -170.0, 190.0},
        {-190.0, 170.0, 170.0, 170.0},  {540.0, 180.0, 180.0, 180.0},
        {-540.0, -180.0, 180.0, 180.0}, {359.5, -0.5, -0.5, 359.5},
        {720.25, 0.25, 0.25, 0.25},     {-0.0, -0.0, -0.0, 0.0},
        {12960030.0, 30.0, 30.0, 30.0}, {-12960030.0, -30.0, -30.0, 330.0},
    };
    for (const Row& r : rows) {
        EXPECT_DOUBLE_EQ(WrapDegreesClosed180(r.in), r.closed) << r.in;
        EXPECT_DOUBLE_EQ(WrapDegrees180(r.in), r.halfOpen) << r.in;
        EXPECT_DOUBLE_EQ(WrapDegrees360(r.in), r.positive) << r.in;
    }
    // A value just below a whole turn must not round up to 360.
    EXPECT_LT(WrapDegrees360(-1e-20), 360.0);
}

TEST(Angles, NonFiniteValuesGiveNaNInsteadOfLooping) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(WrapDegreesClosed180(inf)));
    EXPECT_TRUE(std::isnan(WrapDegrees180(-inf)));
    EXPECT_TRUE(std::isnan(WrapDegrees360(std::nan(""))));
    EXPECT_DOUBLE_EQ(WrapDegrees180(1e300), WrapDegrees180(std::fmod(1e300, 360.0)));
}

} // namespace
} // namespace vantorel
