#include "cartography/zorCartography.h"

#include "PlateMapping.h"
#include "mapping/zorMapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace vantorel {
namespace {

TEST(GeoBox, FollowsTheLineAcrossTheAntimeridianAndRoundThePole) {
    const std::vector<BoundaryPoint> across{{179.0f, 65.0f}, {-179.5f, 66.0f}, {-178.0f, 65.5f}};
    const TGeoBox a = TGeoBox::OfPoints(across);
    EXPECT_NEAR(a.West, 179.0f, 1e-3f);
    EXPECT_NEAR(a.Width, 3.0f, 1e-3f);
    EXPECT_TRUE(a.Contains(180.0f, 65.5f) && a.Contains(-180.0f, 65.5f));
    EXPECT_TRUE(a.Contains(179.0f, 65.0f) && a.Contains(-178.0f, 66.0f)); // edges included
    EXPECT_FALSE(a.Contains(0.0f, 65.5f) || a.Contains(179.5f, 66.1f));
    // Longitudes past 180 (GSHHS keeps 0..360) describe the same place.
    const std::vector<BoundaryPoint> east{{190.0f, 10.0f}, {200.0f, 12.0f}};
    EXPECT_TRUE(TGeoBox::OfPoints(east).Contains(-165.0f, 11.0f));

    std::vector<BoundaryPoint> ring; // round the south pole, as a shore of Antarctica
    for (int lon = -180; lon <= 180; lon += 10) {
        ring.push_back({static_cast<float>(lon), -70.0f});
    }
    EXPECT_EQ(TGeoBox::OfPoints(ring).Width, 360.0f);

    EXPECT_TRUE(TGeoBox::OfPoints({}).Empty());
    const std::vector<BoundaryPoint> bad{{0.0f, std::numeric_limits<float>::quiet_NaN()}};
    EXPECT_EQ(TGeoBox::OfPoints(bad).Width, 360.0f); // unknown: everywhere
}

// The points' own extremes, where OfPoints takes them, make the very box that following
// the line does: lines near the antimeridian, through 0 and with tiny longitudes, steps of
// exactly half the world, longitudes past 360.
TEST(GeoBox, ExtremesGiveTheBoxFollowingTheLine) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> step(-0.3f, 0.3f);
    const float starts[] = {179.9f, -179.9f, 0.0f, 1e-7f, -3e-6f, 359.8f, 511.9f, 45.0f};
    const float jumps[] = {0.0f, 180.0f, -180.0f, 179.99f, 1e-9f};
    for (const float start : starts) {
        for (const float jump : jumps) {
            std::vector<BoundaryPoint> line{{start, 10.0f}};
            for (int i = 0; i < 200; ++i) {
                const BoundaryPoint& last = line.back();
                line.push_back(
                    {last.lon + step(random) + (i == 100 ? jump : 0.0f), last.lat + step(random)});
            }
            const TGeoBox fast = TGeoBox::OfPoints(line);
            const TGeoBox followed = TGeoBox::FollowingTheLine(line);
            EXPECT_EQ(std::memcmp(&fast, &followed, sizeof fast), 0) << start << " " << jump;
        }
    }
}

TEST(GeoExtent, CellsAcrossTheAntimeridianAndAtThePoles) {
    const TGeoExtent dateline = TGeoExtent::Covering({60.0f, 70.0f, 175.0f, 10.0f});
    EXPECT_TRUE(dateline.Intersects({64.0f, 65.0f, 177.0f, 1.0f}));
    EXPECT_TRUE(dateline.Intersects({64.0f, 65.0f, -176.0f, 1.0f}));
    EXPECT_TRUE(dateline.Intersects({64.0f, 65.0f, 90.0f, 100.0f})); // reaches it from the west
    EXPECT_FALSE(dateline.Intersects({64.0f, 65.0f, -160.0f, 300.0f}));
    EXPECT_FALSE(dateline.Intersects({72.1f, 80.0f, 170.0f, 20.0f}));

    const TGeoExtent pole = TGeoExtent::Covering({88.0f, 90.0f, -180.0f, 360.0f});
    EXPECT_EQ(pole.CellCount(), TGeoExtent::kColumns);
    EXPECT_TRUE(pole.Intersects({89.0f, 90.0f, 37.0f, 0.0f}));
    EXPECT_FALSE(pole.Intersects({80.0f, 87.9f, -180.0f, 360.0f}));

    EXPECT_FALSE(TGeoExtent().Intersects(TGeoBox::Globe()));
    EXPECT_FALSE(TGeoExtent::Globe().Intersects(TGeoBox{}));
}

using testing::PlateMapping;

TEST(PictureFootprint, CellsNearThePictureOnlyAndAcrossTheEdgeOfTheMappedArea) {
    // Ten pixels a degree; the picture 0..400 x 0..200 shows lon 0..40, lat 30..50.
    PlateMapping mapping(10.0, 0, 500, 100000);
    TPictureFootprint footprint;
    footprint.Project(mapping);
    const TGeoExtent e = footprint.Extent(0, 0, 400, 200, 4);
    EXPECT_TRUE(e.Intersects({30.5f, 31.0f, 0.5f, 0.1f}));
    EXPECT_TRUE(e.Intersects({49.0f, 49.5f, 39.0f, 0.5f}));
    EXPECT_FALSE(e.Intersects({30.0f, 50.0f, 45.0f, 5.0f})); // a cell and a half east
    EXPECT_FALSE(e.Intersects({20.0f, 26.0f, 0.0f, 40.0f}));
    EXPECT_FALSE(e.Intersects({-60.0f, 60.0f, 60.0f, 100.0f}));

    // Mapped only to lon 3.9: the cell 2..4 has its eastern corners off the map and its
    // western ones 16 pixels short of a picture that starts at lon 3.6, where its points
    // up to 3.9 are placed.
    PlateMapping swath(10.0, 0, 500, 100000, 3.9f);
    footprint.Project(swath);
    EXPECT_TRUE(footprint.Extent(36, 0, 100, 200, 0).Intersects({40.0f, 41.0f, 3.8f, 0.0f}));
}

} // namespace
} // namespace vantorel
