#include "ReferenceTable.h"

#include "common/Format.h"
#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Time.h"
#include "orbit/Support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vantorel {
namespace {

/// Difference of two angles in rad, wrapped to (-pi, pi].
double AngleDifference(double a, double b) {
    return std::remainder(a - b, kTwoPi);
}

TEST(Support, GeodeticPositionMatchesProjOnWgs72) {
    // Earth-fixed points from PROJ, turned into the inertial frame at a few Julian dates.
    const double dates[] = {2460553.82361218, 2444238.5, 2451545.3};
    double worstLatitude = 0, worstHeight = 0;
    for (const double jd : dates) {
        const double theta = SiderealAngle(jd);
        for (const auto& row : testing::ReadTable("geodetic_reference.csv", false)) {
            const double x = row.values[0], y = row.values[1], z = row.values[2];
            TVector p{x * std::cos(theta) - y * std::sin(theta),
                      x * std::sin(theta) + y * std::cos(theta), z, 0};
            VectorLength(p);
            const TGeodetic g = GeodeticPosition(jd, p);
            const double latitude = row.values[3] * kDegreesToRadians;
            const double longitude = row.values[4] * kDegreesToRadians;
            EXPECT_NEAR(g.Latitude, latitude, 1e-9) << x << " " << y << " " << z;
            EXPECT_NEAR(AngleDifference(g.Longitude, longitude), 0.0, 1e-9);
            EXPECT_NEAR(g.Height, row.values[5], 1e-6);
            EXPECT_GE(g.Longitude, 0.0);
            EXPECT_LT(g.Longitude, kTwoPi);
            EXPECT_NEAR(AngleDifference(g.RightAscension, std::atan2(p.Y, p.X)), 0.0, 1e-12);
            worstLatitude = std::max(worstLatitude, std::fabs(g.Latitude - latitude));
            worstHeight = std::max(worstHeight, std::fabs(g.Height - row.values[5]));
        }
    }
    RecordProperty("worst_latitude_rad", Format("%.3e", worstLatitude));
    RecordProperty("worst_height_km", Format("%.3e", worstHeight));
}

TEST(Support, GeodeticPositionOnTheAxes) {
    const double jd = 2451545.0;
    // 100 m off the axis (within metres of it, r / cos(latitude) loses millimetres).
    const TGeodetic north = GeodeticPosition(jd, {0.1, 0, 7000, 7000});
    EXPECT_NEAR(north.Latitude, kPi / 2, 1e-4);
    EXPECT_NEAR(north.Height, 7000 - kEarthRadiusKm * (1 - kFlattening), 1e-6);
    const TGeodetic equator = GeodeticPosition(jd, {7000, 0, 0, 7000});
    EXPECT_DOUBLE_EQ(equator.Latitude, 0.0);
    EXPECT_NEAR(equator.Height, 7000 - kEarthRadiusKm, 1e-9);
    EXPECT_NEAR(equator.Longitude, PositiveModulo(-SiderealAngle(jd), kTwoPi), 1e-12);
}

TEST(Support, GeodeticPositionRefusesNonFinitePositions) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_THROW(GeodeticPosition(2451545.0, {nan, 0, 0, 0}), EMathError);
    EXPECT_THROW(GeodeticPosition(2451545.0, {7000, inf, 0, 0}), EMathError);
    EXPECT_THROW(GeodeticPosition(nan, {7000, 0, 0, 0}), EMathError);
    EXPECT_THROW(GeodeticPosition(5.7e124, {7000, 0, 0, 0}), EMathError);
}

TEST(Support, StateToKilometresScalesAndRefreshesLengths) {
    TVector p{1, 0, 0, 99};
    TVector v{0, 0.5, 0, 99};
    StateToKilometres(p, v);
    EXPECT_DOUBLE_EQ(p.X, kEarthRadiusKm);
    EXPECT_DOUBLE_EQ(p.Length, kEarthRadiusKm);
    EXPECT_DOUBLE_EQ(v.Y, 0.5 * kEarthRadiusKm / 60);
    EXPECT_DOUBLE_EQ(v.Length, 0.5 * kEarthRadiusKm / 60);
}

} // namespace
} // namespace vantorel
