// The shipped fine boundary file, and drawing it over passes with and without culling.
#include "cartography/zorCartography.h"

#include "cartography/BoundaryIndex.h"
#include "common/Angles.h"
#include "common/Program.h"
#include "imaging/Bitmap.h"
#include "imaging/Canvas.h"
#include "mapping/RealPass.h"
#include "mapping/SyntheticPass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace vantorel {
namespace {

TCartogList& FineData() {
    static TCartogList store;
    if (store.Count() == 0) {
        // Planned as a run plans it, from the index the build made.
        const auto index = TBoundaryIndex::Open(ProgramFolder() + kBoundaryIndexFile);
        store.LoadPlanned(TCartogList::PlanBoundaryFiles(
            std::string(VANTOREL_SOURCE_DIR) + "/data/Boundaries.b", index ? &*index : nullptr));
    }
    return store;
}

// Distance (km, flat at the point's latitude) from a point to the nearest line.
double NearestLineKm(const TCartogList& store, float lon, float lat) {
    const double kmPerDegree = 111.2;
    const double east = kmPerDegree * std::cos(lat * kDegreesToRadians);
    double best = 1e9;
    for (int i = 0; i < store.Count(); ++i) {
        const TGeoBox& b = store.SegmentBox(i);
        if (lat < b.South - 0.1f || lat > b.North + 0.1f) {
            continue;
        }
        const auto& p = store[i].Points;
        for (size_t k = 1; k < p.size(); ++k) {
            const double ax = WrapDegrees180(p[k - 1].lon - lon) * east;
            const double ay = (p[k - 1].lat - lat) * kmPerDegree;
            const double dx = WrapDegrees180(p[k].lon - lon) * east - ax;
            const double dy = (p[k].lat - lat) * kmPerDegree - ay;
            const double len2 = dx * dx + dy * dy;
            const double t = len2 > 0 ? std::clamp(-(ax * dx + ay * dy) / len2, 0.0, 1.0) : 0.0;
            best = std::min(best, std::hypot(ax + t * dx, ay + t * dy));
        }
    }
    return best;
}

TEST(BoundaryData, LakeShoresAndIslandsInLakes) {
    const TCartogList& store = FineData();
    ASSERT_GT(store.Count(), 10000);
    EXPECT_FALSE(store.ClosePolylines); // lines, not rings: closing would add false edges
    struct Place {
        const char* name;
        float lon, lat;
    };
    // Places on the water's edge; the arc-minute Countries.dat has no line within 3 km.
    for (const Place& p :
         {Place{"Jet d'Eau, Lake Geneva", 6.1556f, 46.2074f},
          Place{"Tihany, Balaton", 17.89f, 46.91f}, Place{"Sortavala, Ladoga", 30.69f, 61.70f},
          Place{"Shlisselburg, Ladoga", 31.03f, 59.94f},
          Place{"Valaam island, Ladoga", 30.9472f, 61.3667f},
          Place{"Karlstad, Vanern", 13.5036f, 59.3793f},
          Place{"Listvyanka, Baikal", 104.87f, 51.85f},
          Place{"Navy Pier, Lake Michigan", -87.6053f, 41.8917f}}) {
        EXPECT_LT(NearestLineKm(store, p.lon, p.lat), 2.0) << p.name;
    }
}

TEST(BoundaryData, NoEdgesAlongTheAntimeridianNorAClosingEdgeOfAntarctica) {
    const TCartogList& store = FineData();
    double alongDateline = 0.0; // degrees
    float south = 90.0f;
    for (int i = 0; i < store.Count(); ++i) {
        const auto& p = store[i].Points;
        for (size_t k = 0; k < p.size(); ++k) {
            south = std::min(south, p[k].lat);
            if (k > 0 && std::fabs(p[k].lon) == 180.0f && p[k].lon == p[k - 1].lon) {
                alongDateline += std::fabs(p[k].lat - p[k - 1].lat);
            }
        }
    }
    EXPECT_LT(alongDateline, 0.05);
    EXPECT_GT(south, -80.0f); // the ice front, nowhere near a cut at 85 S or the pole
}

// Culling leaves the picture as it is, on a pass over Europe, one across the antimeridian
// and one over the north pole, at two placements of the overlay.
struct CulledDrawing : ::testing::TestWithParam<const char*> {};

TEST_P(CulledDrawing, IsPixelIdenticalAndLeavesMostSegmentsOut) {
    EnsureGuiApplication();
    constexpr int kLines = 3000;
    TWarpedMapping mapping;
    const std::string pass = GetParam();
    if (pass == "Europe") {
        TOrbit orbit;
        const TDateTime start = EncodeDateTime(2026, 8, 22, 4, 36, 0, 0);
        ASSERT_TRUE(testing::SelectHistorySet(orbit, start));
        ASSERT_TRUE(
            testing::FitRealPass(testing::BuildRealPassGrid(orbit, start, kLines), mapping));
    } else {
        testing::ScannerModel model;
        model.startLatDeg = 72.0;
        model.startLonDeg = pass == "Antimeridian" ? 179.0 : 20.0;
        model.azimuthDeg = pass == "Antimeridian" ? 190.0 : 0.0;
        ASSERT_TRUE(FitMapToImage(model.Grid(kLines), {kLines, 830.0f, 55.37f, 5}, mapping).fitted);
    }
    TCartogList& store = FineData();
    // Culled; culled and copied from the cover of the lines, which the second drawing
    // makes, a move of two pixels keeps and a long one makes again; then, through a copy
    // of the mapping (so that nothing traced for the culled drawings is reused), every
    // line drawn.
    const std::pair<int, int> placements[] = {{-20, 10}, {-18, 11}, {-16, 3}, {700, -900}};
    TBitmap drawn[4][3];
    const TWarpedMapping copy = mapping;
    for (const int way : {1, 2, 0}) {
        store.Mapping = way == 0 ? &copy : &mapping;
        for (int i = 0; i < 4; ++i) {
            TBitmap& b = drawn[i][way];
            b.SetPixelFormat(TPixelFormat::pf24bit);
            b.SetSize(1568, kLines);
            b.Canvas().Pen.Color = clYellow;
            b.Canvas().Pen.Width = 2;
            store.CullSegments = way > 0;
            store.KeepCover = way > 1;
            store.DrawBoundaries(b, placements[i].first, placements[i].second);
        }
    }
    for (int i = 0; i < 4; ++i) {
        const auto [pixelOffset, lineOffset] = placements[i];
        const auto all = drawn[i][0].Bits();
        EXPECT_NE(std::count(all.begin(), all.end(), std::uint8_t{0xFF}), 0) << "nothing drawn";
        for (int way = 1; way < 3; ++way) {
            ASSERT_EQ(drawn[i][way].Bits().size(), all.size());
            EXPECT_EQ(std::memcmp(drawn[i][way].Bits().data(), all.data(), all.size()), 0)
                << pass << " at " << pixelOffset << ", way " << way;
        }

        const TGeoExtent picture = store.PictureExtent(1568, kLines, pixelOffset, lineOffset, 2);
        int kept = 0;
        for (int s = 0; s < store.Count(); ++s) {
            kept += picture.Intersects(store.SegmentBox(s)) ? 1 : 0;
        }
        EXPECT_LT(kept, store.Count() / 4) << pass;
    }
    store.Mapping = nullptr;
    store.CullSegments = true;
    store.KeepCover = true;
}

INSTANTIATE_TEST_SUITE_P(Passes, CulledDrawing,
                         ::testing::Values("Europe", "Antimeridian", "NorthPole"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace vantorel
