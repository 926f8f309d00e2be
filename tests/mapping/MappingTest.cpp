#include "mapping/MapWithWarp.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vantorel {
namespace {

constexpr double kRad = 3.14159265358979323846 / 180.0;

TEST(Mapping, BaseClassFieldsAndWidth) {
    TMapping m;
    int x = 7, y = 8;
    EXPECT_FALSE(m.LatLonToImage(x, y, 10.0f, 20.0f));
    EXPECT_EQ(x, 7);
    m.SetMapWidth(4);
    EXPECT_EQ(m.GetMapWidth(), 4);
    EXPECT_FLOAT_EQ(m.RecipMapWidth(), 0.25f);
    m.SetMapWidth(0);
    EXPECT_EQ(m.GetMapWidth(), 0);
    EXPECT_FLOAT_EQ(m.RecipMapWidth(), 0.25f); // a zero width keeps the old reciprocal
    EXPECT_EQ(m.ProjectionKind(), 0);
}

TEST(GreatCircle, DistancesAndBearingsOnKnownTracks) {
    float d = -1, b = -1;
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, 0.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_NEAR(d, 6378.135 * kRad, 1e-3); // one degree of a meridian
    EXPECT_NEAR(b, 0.0, 1e-4);
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, 0.0f, 0.0f, 1.0f, 0.0f));
    EXPECT_NEAR(b, 90.0, 1e-4);
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, 10.0f, 50.0f, 10.0f, 40.0f));
    EXPECT_NEAR(b, 180.0, 1e-4);
    EXPECT_NEAR(d, 6378.135 * 10 * kRad, 1e-2);
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, 1.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_NEAR(b, 270.0, 1e-4);
    // Antipodes: half the circumference.
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, 0.0f, 0.0f, 180.0f, 0.0f));
    EXPECT_NEAR(d, 6378.135 * 3.14159265358979, 1e-2);
    // From a pole the bearing is fixed.
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, 30.0f, 90.0f, 50.0f, 80.0f));
    EXPECT_EQ(b, 180.0f);
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, 30.0f, -90.0f, 50.0f, -80.0f));
    EXPECT_EQ(b, 0.0f);
    // Spherical law of cosines as an independent check of the haversine distance.
    ASSERT_TRUE(GreatCircleDistanceBearing(d, b, -0.1278f, 51.5074f, 37.6173f, 55.7558f));
    const double p1 = 51.5074 * kRad, p2 = 55.7558 * kRad, dl = (37.6173 + 0.1278) * kRad;
    const double law =
        std::acos(std::sin(p1) * std::sin(p2) + std::cos(p1) * std::cos(p2) * std::cos(dl)) *
        6378.135;
    EXPECT_NEAR(d, law, 0.01);
    // Arithmetic that fails leaves the outputs alone.
    d = b = 5.0f;
    EXPECT_FALSE(GreatCircleDistanceBearing(d, b, std::nanf(""), 0.0f, 1.0f, 1.0f));
    EXPECT_EQ(d, 5.0f);
    EXPECT_EQ(b, 5.0f);
}

// A mapping set up for a Meteor-like pass, without a fit.
TWarpedMapping Initialised(float lon0 = 20.0f, float lat0 = 50.0f) {
    TWarpedMapping m;
    m.InitialiseForPass(5, 1000, lon0, lat0, 830.0f, 1.1f, 55.37f);
    return m;
}

TEST(WarpedMapping, NotFittedAnswersFalseAndWritesNothing) {
    const TWarpedMapping m;
    EXPECT_FALSE(m.Fitted());
    EXPECT_EQ(m.GetMapHeight(), 2);
    int x = 3, y = 4;
    EXPECT_FALSE(m.LatLonToImage(x, y, 20.0f, 50.0f));
    float fx = 1.5f, fy = 2.5f;
    EXPECT_FALSE(m.LatLonToImageF(fx, fy, 20.0f, 50.0f, false));
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 4);
    EXPECT_EQ(fx, 1.5f);
    EXPECT_EQ(fy, 2.5f);
}

TEST(WarpedMapping, GroundToScanTableIsSymmetricMonotonicAndMatchesTheScanGeometry) {
    const TWarpedMapping m = Initialised();
    const double o = 769.5;
    for (int g = 0; g < 2048; ++g) {
        ASSERT_NEAR(m.GroundToScan(g) + m.GroundToScan(-g - 1), 2 * o, 1e-3) << g;
        if (g > 0) {
            ASSERT_GT(m.GroundToScan(g), m.GroundToScan(g - 1)) << g;
        }
    }
    // Entry i is the scan column of the ground point (i + 0.5) * r from the nadir, with
    // columns spread evenly in scan angle over the half-angle, and beyond it, where the
    // last columns of a 1568-pixel line lie (entry 1480: 57.2 degrees, column 1565).
    for (int i : {0, 100, 700, 1480}) {
        const double a = (i + 0.5) * 1.1 / 6378.135;
        const double beta = std::atan(std::sin(a) / (1 - std::cos(a) + 830.0 / 6378.135));
        EXPECT_NEAR(m.GroundToScan(i), o + 770.0 * beta / (55.37 * kRad), 1e-3);
    }
}

TEST(WarpedMapping, ScaleIsTheGroundWidthOfTheScanLine) {
    const TWarpedMapping m = Initialised();
    // Independent inversion by bisection of the continuous scan geometry: ground pixel
    // g (fractional) is centred (g + 0.5) * r from the nadir; column offsets are taken
    // from the centre column 770.
    auto groundPixelOfOffset = [](double offset) {
        const double betaMax = 55.37 * kRad;
        auto columnOffset = [&](double g) {
            const double s = g + 0.5;
            const double a = std::fabs(s) * 1.1 / 6378.135;
            const double beta = std::atan(std::sin(a) / (1 - std::cos(a) + 830.0 / 6378.135));
            return (s < 0 ? -1 : 1) * 770.0 * beta / betaMax - 0.5;
        };
        double lo = -2000, hi = 2000;
        for (int it = 0; it < 200; ++it) {
            const double g = 0.5 * (lo + hi);
            (columnOffset(g) < offset ? lo : hi) = g;
        }
        return 0.5 * (lo + hi);
    };
    const double width = groundPixelOfOffset(769) - groundPixelOfOffset(-770);
    EXPECT_NEAR(m.GetMapHeight(), width, 1.0);
    EXPECT_GT(m.GetMapHeight(), 2400);
    EXPECT_LT(m.GetMapHeight(), 3000);
    EXPECT_NEAR(m.ScanToGround(0), groundPixelOfOffset(0), 1.0);
    EXPECT_EQ(m.ScanToGround(770), 0.0f); // outside the table
    EXPECT_EQ(m.ScanToGround(-771), 0.0f);
}

TEST(WarpedMapping, CentreAntipodeAndDueNorth) {
    const TWarpedMapping m = Initialised(20.0f, 50.0f);
    double nx = 1, ny = 1;
    m.Normalised(nx, ny, 20.0f, 50.0f);
    EXPECT_EQ(nx, 0.0);
    EXPECT_EQ(ny, 0.0);
    m.Normalised(nx, ny, -160.0f, -50.0f);
    EXPECT_EQ(nx, 0.0);
    EXPECT_EQ(ny, 0.0);
    // Due north: x = 0 rounds (ties to even) to table index 0, above the middle line.
    float fx = 0, fy = 0;
    EXPECT_TRUE(m.LatLonToImageF(fx, fy, 20.0f, 51.0f, true));
    EXPECT_FLOAT_EQ(fx, m.GroundToScan(0));
    EXPECT_LT(fy, 1000.0f);
    // One degree of latitude is 1/57.3 rad, 4.3/57.3 normalised, W/2 of that in lines.
    EXPECT_NEAR(fy, 1000.0 - 0.5 * m.GetMapHeight() * 4.3 * kRad, 0.01);
    // Without the scan table: the linear ground-pixel column of the swath centre.
    EXPECT_TRUE(m.LatLonToImageF(fx, fy, 20.0f, 51.0f, false));
    EXPECT_FLOAT_EQ(fx, 0.5f * m.GetMapHeight());
}

TEST(WarpedMapping, LongitudesAcrossTheDateLineAreWrapped) {
    const TWarpedMapping m = Initialised(179.5f, 10.0f);
    float ax = 0, ay = 0, bx = 0, by = 0;
    ASSERT_TRUE(m.LatLonToImageF(ax, ay, -179.5f, 10.0f, false));
    ASSERT_TRUE(m.LatLonToImageF(bx, by, 180.5f, 10.0f, false));
    EXPECT_FLOAT_EQ(ax, bx);
    EXPECT_GT(ax, 0.5f * m.GetMapHeight()); // one degree east of the centre
}

TEST(WarpedMapping, VerticalWarpActsOnlyInsideItsLimit) {
    TWarpedMapping m = Initialised(0.0f, 0.0f);
    m.SetVerticalWarp(0.0f, 2.0f, 0.0f);
    double nx = 0, ny = 0;
    // 10 degrees north: normalised y = 4.3 * 10 deg in rad = 0.75 -> doubled.
    m.Normalised(nx, ny, 0.0f, 10.0f);
    EXPECT_NEAR(ny, 2 * 4.3 * 10 * kRad, 1e-6);
    // 60 degrees north: y = 4.50, beyond the limit of 4.0 -> unchanged.
    m.Normalised(nx, ny, 0.0f, 60.0f);
    EXPECT_NEAR(ny, 4.3 * 60 * kRad, 1e-6);
}

TEST(WarpedMapping, BeyondTheSwathIsFalseButTheFloatFormStillWrites) {
    // A coarser track step keeps the table index of |x| just above 1.4 inside the table.
    TWarpedMapping m;
    m.InitialiseForPass(5, 1000, 0.0f, 0.0f, 830.0f, 1.6f, 55.37f);
    // 19 degrees east: normalised x = 4.3 * 0.3316 = 1.43 > 1.4.
    ASSERT_LT(std::nearbyint(4.3 * 19 * kRad * 0.5 * m.GetMapHeight() - 0.5), 1540.0);
    float fx = -1, fy = -1;
    EXPECT_FALSE(m.LatLonToImageF(fx, fy, 19.0f, 0.0f, true));
    EXPECT_GT(fx, 1539.0f); // a table column past the right edge
    EXPECT_NEAR(fy, 1000.0f, 1e-3f);
    int x = 5, y = 6;
    EXPECT_FALSE(m.LatLonToImage(x, y, 19.0f, 0.0f));
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    // Far away: the index leaves the table and x keeps its normalised value.
    EXPECT_FALSE(m.LatLonToImageF(fx, fy, 60.0f, 0.0f, true));
    EXPECT_NEAR(fx, 4.3 * 60 * kRad, 1e-4);
    // Not a number: refused, nothing indexed.
    EXPECT_FALSE(m.LatLonToImage(x, y, std::nanf(""), 0.0f));
}

TEST(WarpedMapping, ResidualGridColumnAndLineRules) {
    TWarpedMapping m = Initialised(0.0f, 0.0f);
    auto grid = std::make_shared<ResidualGrid>(3);
    for (int row = 0; row < 3; ++row) {
        for (int j = 0; j < kGridColumns; ++j) {
            (*grid)[static_cast<size_t>(row)][static_cast<size_t>(j)] = {
                0.01f * static_cast<float>(j), static_cast<float>(100 * row)};
        }
    }
    // Column residuals small enough that the corrected point stays on its pixel; rows far
    // below the grid (the centre line is 1000) clamp to the last row.
    m.SetResidualGrid(grid, 3, 21, 30, kGridColumns);
    float plainX = 0, plainY = 0;
    TWarpedMapping bare = Initialised(0.0f, 0.0f);
    auto offsetAt = [&](float lon) {
        float x = 0, y = 0;
        bare.LatLonToImageF(plainX, plainY, lon, 0.0f, false);
        m.LatLonToImageF(x, y, lon, 0.0f, false);
        return std::pair<float, float>(x - plainX, y - plainY);
    };
    // Linear columns: W/2 at the centre. Find longitudes landing on chosen columns.
    auto lonForColumn = [&](double column) {
        double lo = -20, hi = 20;
        for (int i = 0; i < 100; ++i) {
            const double mid = 0.5 * (lo + hi);
            float x = 0, y = 0;
            bare.LatLonToImageF(x, y, static_cast<float>(mid), 0.0f, false);
            (x < column ? lo : hi) = mid;
        }
        return static_cast<float>(0.5 * (lo + hi));
    };
    {
        const auto [dx, dy] = offsetAt(lonForColumn(21 + 30 * 10)); // on grid column 10
        EXPECT_NEAR(dx, 0.10f, 1e-4f);
        EXPECT_NEAR(dy, 200.0f, 1e-4f); // last row, clamped
    }
    {
        const auto [dx, dy] = offsetAt(lonForColumn(21 + 30 * 10 + 15)); // halfway
        EXPECT_NEAR(dx, 0.105f, 1e-4f);
    }
    {
        const auto [dx, dy] = offsetAt(lonForColumn(5)); // before the first column
        EXPECT_NEAR(dx, 0.0f, 1e-4f);
    }
    {
        const auto [dx, dy] = offsetAt(lonForColumn(21 + 30 * 50 + 40)); // past the last
        EXPECT_NEAR(dx, 0.50f, 1e-4f);
    }
    EXPECT_THROW(m.SetResidualGrid(grid, 4, 21, 30, kGridColumns), std::invalid_argument);
    EXPECT_THROW(m.SetResidualGrid(grid, 3, 21, 30, kResidualColumns + 1), std::invalid_argument);
    // The mapping keeps its share after the caller lets go.
    grid.reset();
    float x = 0, y = 0;
    EXPECT_TRUE(m.LatLonToImageF(x, y, 0.0f, 0.0f, false));
}

TEST(WarpedMapping, ReducedResolutionFormatsAreRefused) {
    TWarpedMapping m;
    for (std::uint8_t f : {2, 3, 6}) {
        EXPECT_THROW(m.InitialiseForPass(f, 10, 0, 0, 830, 1.1f, 55.37f), std::invalid_argument);
    }
    EXPECT_FALSE(m.Fitted());
    try {
        m.InitialiseForPass(2, 10, 0, 0, 830, 1.1f, 55.37f);
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Scan format 2 is not supported");
    }
    m.InitialiseForPass(0, 10, 0, 0, 830, 1.0f, 0.0f); // automatic: step below 1.05 -> 4
    EXPECT_EQ(m.ScanFormat(), 4);
    m.InitialiseForPass(0, 10, 0, 0, 830, 1.5f, 0.0f);
    EXPECT_EQ(m.ScanFormat(), 1);
}

} // namespace
} // namespace vantorel
