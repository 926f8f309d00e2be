#include "common/Angles.h"
#include "common/FastMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

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

// The projection's own sines and rounding stand in for the library's: they must agree
// with it everywhere a longitude difference or a latitude can take them, and at the ties.
TEST(FastMath, SinesAndRoundingAgreeWithTheLibrary) {
    double worst = 0.0;
    std::vector<double> angles;
    for (double d = -400.0; d <= 400.0; d += 0.0137) {
        angles.push_back(d);
    }
    for (int k = -9; k <= 9; ++k) {
        angles.push_back(45.0 * k); // the quarter turns and the ties between them
    }
    for (const double d : angles) {
        double s = 0.0, c = 0.0;
        SinCosDegrees(d, s, c);
        worst = std::max({worst, std::fabs(s - std::sin(d * kDegreesToRadians)),
                          std::fabs(c - std::cos(d * kDegreesToRadians))});
        // The pair, every quarter turn and its sign included, is the same to the bit.
        TDoublePair ps, pc;
        SinCosDegrees(TDoublePair{d, -d}, ps, pc);
        double sm = 0.0, cm = 0.0;
        SinCosDegrees(-d, sm, cm);
        ASSERT_TRUE(ps[0] == s && pc[0] == c && ps[1] == sm && pc[1] == cm) << d;
    }
    EXPECT_LT(worst, 1e-13);
    double s = 0.0, c = 0.0;
    SinCosDegrees(360.0 * 1e7 + 30.0, s, c); // beyond the exact quarter turns: wrapped first
    EXPECT_NEAR(s, 0.5, 1e-9);
    SinCosDegrees(std::numeric_limits<double>::infinity(), s, c);
    EXPECT_TRUE(std::isnan(s) && std::isnan(c));
    for (const double x : {0.5, 1.5, 2.5, -0.5, -2.5, 1e15 + 0.5, 3.49999, -7.7, 1e300}) {
        EXPECT_EQ(RoundToEven(x), std::nearbyint(x)) << x;
    }
    for (const float x : {0.5f, 1.5f, 2.5f, -1.5f, 4999.5f, 123.4f}) {
        EXPECT_EQ(RoundToInt(x), std::lrint(x)) << x;
    }
    // The arctangent over every sixteenth and the ties between them, both sides of 1.
    double worstAtan = 0.0;
    for (double t = -40.0; t <= 40.0; t += 1.0 / 512 + 1e-7) {
        for (const double v : {t, 1.0 / 32 + t * 1e-3, 1.0 / t}) {
            worstAtan = std::max(worstAtan, std::fabs(ArcTangent(v) - std::atan(v)));
            const TDoublePair pair = ArcTangent(TDoublePair{v, -2.0 * v});
            EXPECT_TRUE(pair[0] == ArcTangent(v) && pair[1] == ArcTangent(-2.0 * v)) << v;
        }
    }
    EXPECT_LT(worstAtan, 1e-15);
    EXPECT_EQ(ArcTangent(TDoublePair{std::nan(""), 0.5})[1], ArcTangent(0.5));
    EXPECT_EQ(ArcTangent(std::numeric_limits<double>::infinity()), std::atan(HUGE_VAL));
    EXPECT_EQ(ArcTangent(-0.0), -0.0);
    EXPECT_TRUE(std::signbit(ArcTangent(-0.0)));
    EXPECT_TRUE(std::isnan(ArcTangent(std::nan(""))));
}

} // namespace
} // namespace vantorel
