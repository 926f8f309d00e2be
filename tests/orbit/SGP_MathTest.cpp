#include "orbit/SGP_Math.h"
#include "orbit/SGP_Constants.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vantorel {
namespace {

TEST(SgpMath, PowerOfPositiveBases) {
    EXPECT_NEAR(Power(2.0, 3.0), 8.0, 1e-13);
    EXPECT_NEAR(Power(0.25, 0.5), 0.5, 1e-15);
    EXPECT_NEAR(Power(kKe / 0.06, 2.0 / 3.0), std::cbrt((kKe / 0.06) * (kKe / 0.06)), 1e-14);
}

TEST(SgpMath, PowerRefusesBasesAtOrBelowZero) {
    for (double base : {0.0, -1.0, -1e-300, std::nan("")}) {
        try {
            Power(base, 1.5);
            FAIL() << "no error for base " << base;
        } catch (const EMathError& e) {
            EXPECT_STREQ(e.what(), "Invalid argument in Function Power!");
        }
    }
}

TEST(SgpMath, QuadrantAngleInEveryQuadrantAndOnTheAxes) {
    EXPECT_DOUBLE_EQ(QuadrantAngle(1.0, 1.0), kPi / 4);
    EXPECT_DOUBLE_EQ(QuadrantAngle(1.0, -1.0), 3 * kPi / 4);
    EXPECT_DOUBLE_EQ(QuadrantAngle(-1.0, -1.0), 5 * kPi / 4);
    // Not normalised: the fourth quadrant comes out negative.
    EXPECT_DOUBLE_EQ(QuadrantAngle(-1.0, 1.0), -kPi / 4);
    EXPECT_DOUBLE_EQ(QuadrantAngle(2.0, 0.0), kPi / 2);
    EXPECT_DOUBLE_EQ(QuadrantAngle(-2.0, 0.0), 3 * kPi / 2);
    EXPECT_DOUBLE_EQ(QuadrantAngle(0.0, 0.0), 3 * kPi / 2);
    EXPECT_DOUBLE_EQ(QuadrantAngle(0.0, -3.0), kPi);
}

TEST(SgpMath, PositiveModuloLandsInRange) {
    EXPECT_DOUBLE_EQ(PositiveModulo(7.5, 2.0), 1.5);
    EXPECT_DOUBLE_EQ(PositiveModulo(-0.5, 2.0), 1.5);
    EXPECT_DOUBLE_EQ(PositiveModulo(-4.0, 2.0), 0.0);
    EXPECT_NEAR(PositiveModulo(-1.0, kTwoPi), kTwoPi - 1.0, 1e-15);
    EXPECT_NEAR(PositiveModulo(1000.0 * kTwoPi + 0.25, kTwoPi), 0.25, 1e-11);
    // Never the modulus itself, and in range for huge values.
    EXPECT_LT(PositiveModulo(-1e-20, kTwoPi), kTwoPi);
    for (double v : {1e23, -1e23, 4.5e15, -7.77e300}) {
        const double r = PositiveModulo(v, kTwoPi);
        EXPECT_GE(r, 0.0) << v;
        EXPECT_LT(r, kTwoPi) << v;
    }
}

TEST(SgpMath, VectorRoutinesKeepTheLengthAsDocumented) {
    TVector x{1, 0, 0, 1};
    TVector y{0, 2, 0, 2};
    const TVector z = CrossProduct(x, y);
    EXPECT_DOUBLE_EQ(z.Z, 2.0);
    EXPECT_DOUBLE_EQ(z.Length, 2.0);
    const TVector s = AddVectors(x, y);
    EXPECT_DOUBLE_EQ(s.Length, std::sqrt(5.0));

    // ScaleVector scales the stored length, even a stale one; the others recompute it.
    TVector stale{3, 4, 0, 10};
    EXPECT_DOUBLE_EQ(ScaleVector(-2.0, stale).Length, 20.0);
    EXPECT_DOUBLE_EQ(ScaleVector(-2.0, stale).X, -6.0);
    EXPECT_DOUBLE_EQ(VectorLength(stale), 5.0);
    EXPECT_DOUBLE_EQ(stale.Length, 5.0);
    const TVector u = UnitVector(stale);
    EXPECT_DOUBLE_EQ(u.X, 0.6);
    EXPECT_DOUBLE_EQ(u.Length, 1.0);
}

TEST(SgpConstants, DerivedValuesMatchTheModel) {
    EXPECT_NEAR(kKe, 0.0743669161, 1e-10);
    EXPECT_NEAR(kQoms2t, 1.8802791590152705e-9, 1e-21);
    EXPECT_NEAR(kS, 1.0122292801892716, 1e-15);
    EXPECT_NEAR(kFlattening * (2 - kFlattening), kEccentricitySquared, 1e-17);
    EXPECT_DOUBLE_EQ(kK2, kJ2 / 2);
    EXPECT_NEAR(kK4, -3 * kJ4 / 8, 1e-20);
}

} // namespace
} // namespace vantorel
