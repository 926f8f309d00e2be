// The latitude/longitude grid: its step for the part in view, its lines and labels where
// the mapping and the offsets put them, and labels that turn with the picture.
#include "cartography/Graticule.h"

#include "PlateMapping.h"
#include "imaging/Bitmap.h"
#include "imaging/Canvas.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace vantorel {
namespace {

using testing::PlateMapping;
using TEdge = TGraticuleLabel::TEdge;

constexpr TColor kGrid = RGBColor(255, 0, 255);

TEST(Graticule, StepFollowsTheExtentInView) {
    struct Row {
        TGeoBox box;
        int step;
    };
    const Row rows[] = {
        {{45.0f, 45.5f, 10.0f, 0.7f}, 1},   // a few pixels
        {{40.0f, 46.0f, 10.0f, 8.0f}, 1},   // 6 degrees each way
        {{40.0f, 50.0f, 10.0f, 12.0f}, 2},  // 10 degrees tall
        {{30.0f, 60.0f, 0.0f, 30.0f}, 5},   // 30 degrees tall
        {{20.0f, 70.0f, 0.0f, 40.0f}, 10},  // a whole pass
        {{60.0f, 63.0f, 0.0f, 60.0f}, 5},   // wide in longitude, narrow on the ground
        {{70.0f, 80.0f, -180.0f, 360.0f}, 10},
        {TGeoBox{}, 10}, // nothing in view
    };
    for (const Row& r : rows) {
        EXPECT_EQ(GraticuleStepFor(r.box), r.step) << r.box.South << ".." << r.box.North;
    }
}

TEST(Graticule, LinesAndEdgeLabelsWhereTheMappingAndTheOffsetsPutThem) {
    EnsureGuiApplication();
    // 10 pixels a degree: longitude 0 at column 0, latitude 60 at row 0.
    const PlateMapping mapping(10.0, 0, 600, 1000);
    TGraticule grid;
    grid.Build(5, TGeoBox{42.0f, 58.0f, 2.0f, 26.0f});
    TBitmap bitmap;
    bitmap.SetSize(300, 200);
    bitmap.Canvas().Pen.Color = kGrid;
    grid.DrawLines(bitmap, mapping, 3, 4); // 3 right, 4 up, as the boundaries
    int wrong = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            const bool line = (y + 4) % 50 == 0 || (x >= 3 && (x - 3) % 50 == 0);
            wrong += (bitmap.PixelColor(x, y) == kGrid) != line;
        }
    }
    EXPECT_EQ(wrong, 0);

    // Labelled at the edges of the whole picture, or of the part in view.
    auto labelsAt = [&](const TPictureArea& area) {
        std::set<std::tuple<std::string, TEdge, int>> labels;
        for (const TGraticuleLabel& l : grid.EdgeLabels(mapping, area, 3, 4)) {
            labels.emplace(l.Text, l.Edge, l.Position);
        }
        return labels;
    };
    auto expected = [](std::vector<int> lats, std::vector<int> lons) {
        std::set<std::tuple<std::string, TEdge, int>> labels;
        for (const int lat : lats) { // row 600 - 10 lat - 4
            for (const TEdge edge : {TEdge::Left, TEdge::Right}) {
                labels.emplace(std::to_string(lat) + "\xC2\xB0N", edge, 596 - 10 * lat);
            }
        }
        for (const int lon : lons) { // column 10 lon + 3
            for (const TEdge edge : {TEdge::Top, TEdge::Bottom}) {
                labels.emplace(std::to_string(lon) + (lon == 0 ? "\xC2\xB0" : "\xC2\xB0" "E"),
                               edge, 10 * lon + 3);
            }
        }
        return labels;
    };
    EXPECT_EQ(labelsAt({0, 0, 300, 200}), expected({40, 45, 50, 55}, {0, 5, 10, 15, 20, 25}));
    EXPECT_EQ(labelsAt({50, 20, 250, 180}), expected({45, 50, 55}, {5, 10, 15, 20}));
}

TEST(Graticule, LabelsSitInsideTheirEdgeAndTurnWithThePicture) {
    EnsureGuiApplication();
    auto draw = [](bool turned) {
        TBitmap bitmap;
        bitmap.SetSize(300, 200);
        // Labelled at the left edge of the part in view, columns 40 .. 299.
        DrawGraticuleLabels(bitmap, {{"50\xC2\xB0N", TEdge::Left, 60}}, kGrid, turned,
                            {40, 0, 300, 200});
        // The box of the label's own colour.
        int left = 300, right = -1, top = 200, bottom = -1;
        for (int y = 0; y < 200; ++y) {
            for (int x = 0; x < 300; ++x) {
                if (bitmap.PixelColor(x, y) == kGrid) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        return std::make_tuple(left, right, top, bottom);
    };
    const auto [left, right, top, bottom] = draw(false);
    EXPECT_GE(left, 41);
    EXPECT_LT(left, 46);
    EXPECT_LT(right, 100);
    EXPECT_LE(top, 60);
    EXPECT_GE(bottom, 60);
    // Turned: on the right edge of the turned part (columns 0 .. 259), about row 200 - 1 - 60.
    const auto [tLeft, tRight, tTop, tBottom] = draw(true);
    EXPECT_GT(tRight, 253);
    EXPECT_LE(tRight, 258);
    EXPECT_LE(tTop, 139);
    EXPECT_GE(tBottom, 139);
}

} // namespace
} // namespace vantorel
