#include "cartography/zorCartography.h"

#include "PlateMapping.h"
#include "imaging/Bitmap.h"
#include "imaging/Canvas.h"
#include "mapping/zorMapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace vantorel {
namespace {

using testing::PlateMapping;

constexpr TColor kPen = RGBColor(255, 0, 0);

struct Drawing : ::testing::Test {
    TBitmap bitmap;
    TCartogList store;
    PlateMapping mapping{1.0, 200, 100, 600}; // jump limit 600 * 5 / 6 = 500

    void SetUp() override {
        EnsureGuiApplication();
        bitmap.SetSize(1200, 400);
        store.Mapping = &mapping;
        bitmap.Canvas().Pen.Color = kPen;
        bitmap.Canvas().Pen.Width = 1;
    }
    void Add(std::uint8_t kind, const std::vector<BoundaryPoint>& points) {
        auto s = std::make_unique<TLineSegment>();
        s->Kind = kind;
        for (const auto& p : points) {
            s->Add(p.lon, p.lat);
        }
        store.MaxCount = std::max(store.MaxCount, s->Count);
        store.AddSegment(std::move(s));
    }
    int PenPixels() const {
        int n = 0;
        for (int y = 0; y < bitmap.Height(); ++y) {
            for (int x = 0; x < bitmap.Width(); ++x) {
                n += bitmap.PixelColor(x, y) == kPen ? 1 : 0;
            }
        }
        return n;
    }
    bool Pen(int x, int y) const { return bitmap.PixelColor(x, y) == kPen; }
};

TEST_F(Drawing, OpenAndClosedSegmentsWithOffsetsAndThickness) {
    Add(0, {{0, 0}, {10, 0}});
    store.ClosePolylines = false;
    store.DrawBoundaries(bitmap, 5, 2); // right 5, up 2
    EXPECT_TRUE(Pen(205, 98));
    EXPECT_TRUE(Pen(214, 98));
    EXPECT_FALSE(Pen(215, 98)); // the end pixel of an open line is not drawn
    EXPECT_EQ(PenPixels(), 10);

    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    store.ClosePolylines = true; // back to the start: the end pixel gets drawn on the way
    bitmap.Canvas().Pen.Width = 3;
    store.DrawBoundaries(bitmap, 0, 0);
    for (int x = 200; x <= 210; ++x) {
        EXPECT_TRUE(Pen(x, 99) && Pen(x, 100) && Pen(x, 101)) << x;
    }
    EXPECT_FALSE(Pen(205, 98));
    EXPECT_FALSE(Pen(205, 102));
}

// A store that shares the segments draws what the source draws, on drawings of its own;
// adding into it leaves the source as it was.
// Zoomed out to a tenth: each line where it runs at full size, offsets added before the
// shrink (a nudge of a picture pixel is not lost in rounding), pens and marks as wide as
// ever.
TEST_F(Drawing, AScaledDrawingKeepsTheFullSizeLinesAndThePensWidth) {
    Add(0, {{-100, 37}, {100, 37}}); // full-size row 63, columns 100 .. 300
    store.ClosePolylines = false;
    store.Scale = {1200, 400, 120, 40};
    auto fresh = [&](int pen) {
        bitmap = TBitmap();
        bitmap.SetSize(120, 40);
        bitmap.Canvas().Pen.Color = kPen;
        bitmap.Canvas().Pen.Width = pen;
    };
    fresh(2);
    auto rows = [&] {
        std::vector<int> drawn;
        for (int y = 0; y < bitmap.Height(); ++y) {
            int n = 0;
            for (int x = 0; x < bitmap.Width(); ++x) {
                n += Pen(x, y);
            }
            if (n > 0) {
                EXPECT_EQ(n, 20) << y; // columns 10 .. 29
                drawn.push_back(y);
            }
        }
        return drawn;
    };
    store.DrawBoundaries(bitmap, 0, -6); // row 69: screen row 6
    EXPECT_EQ(rows(), (std::vector<int>{6, 7}));
    fresh(2);
    store.DrawBoundaries(bitmap, 0, -7); // one more: row 70, screen row 7
    EXPECT_EQ(rows(), (std::vector<int>{7, 8}));

    fresh(1);
    store.DrawPlaceMark(bitmap, 0, 0, {'+', "", 100.0f, 37.0f, plS},
                        {kPen, 1, TBrushStyle::bsClear, false, false});
    EXPECT_TRUE(Pen(30, 0) && Pen(30, 12) && Pen(24, 6) && Pen(36, 6)); // 13 pixels across
    EXPECT_EQ(PenPixels(), 25);
}

TEST_F(Drawing, AStoreSharingTheSegmentsDrawsTheSameAndCopiesBeforeItChanges) {
    Add(0, {{0, 0}, {10, 0}, {10, 10}});
    store.DrawBoundaries(bitmap, 0, 0);
    const int drawn = PenPixels();
    TCartogList sharing(store, TCartogList::TShareSegments{});
    sharing.Mapping = &mapping;
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    sharing.DrawBoundaries(bitmap, 0, 0);
    EXPECT_EQ(PenPixels(), drawn);
    EXPECT_EQ(&sharing[0], &store[0]);

    auto more = std::make_unique<TLineSegment>();
    more->Add(-20, 0);
    more->Add(-20, 10);
    sharing.AddSegment(std::move(more));
    EXPECT_EQ(sharing.Count(), 2);
    EXPECT_EQ(store.Count(), 1);
    EXPECT_NE(&sharing[0], &store[0]);
    EXPECT_EQ(sharing[0].Points.size(), store[0].Points.size());
}

TEST_F(Drawing, NothingWithoutMappingOrSegments) {
    store.DrawBoundaries(bitmap, 0, 0);
    Add(0, {{0, 0}, {10, 10}});
    store.Mapping = nullptr;
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_EQ(PenPixels(), 0);
}

TEST_F(Drawing, JumpLimitBreaksLinesOnlyBeyondIt) {
    // Four pixels per degree: 125 degrees are 500 pixels, the automatic limit 600 * 5 / 6.
    mapping = PlateMapping(4.0, 200, 100, 600);
    store.ClosePolylines = false;
    auto joined = [&](float lon) {
        bitmap.SetSize(0, 0);
        bitmap.SetSize(1200, 400);
        store.Clear();
        Add(0, {{0, 0}, {lon, 0}});
        store.DrawBoundaries(bitmap, 0, 0);
        return Pen(450, 100);
    };
    EXPECT_TRUE(joined(125.0f));   // 500 pixels apart
    EXPECT_FALSE(joined(125.25f)); // 501
    store.JumpLimit = 501;         // a positive limit of the store replaces the automatic one
    EXPECT_TRUE(joined(125.25f));
    store.JumpLimit = 0;
    mapping.SetMapHeight(602); // 602 * 5 / 6 = 501 in integer arithmetic
    EXPECT_TRUE(joined(125.25f));
}

TEST_F(Drawing, OnlyDrawableKindsProduceLines) {
    for (std::uint8_t k : {0, 1, 4, 5, 8, 9}) {
        EXPECT_TRUE(TCartogList::IsDrawableKind(k)) << int(k);
    }
    for (std::uint8_t k : {2, 3, 6, 7, 10, 12, 255}) {
        EXPECT_FALSE(TCartogList::IsDrawableKind(k)) << int(k);
    }
    Add(2, {{0, 0}, {10, 0}});
    Add(3, {{0, 5}, {10, 5}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_EQ(PenPixels(), 0);
    Add(5, {{0, 10}, {10, 10}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_GT(PenPixels(), 0);
}

TEST_F(Drawing, OffMapPointsSplitRunsAndAWhollyOffSegmentDrawsNothing) {
    Add(0, {{300, 0}, {300, 10}, {400, 20}}); // never on the map
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_EQ(PenPixels(), 0);
    store.Clear();
    store.ClosePolylines = false;
    Add(0, {{0, 0}, {10, 0}, {500, 0}, {20, 5}, {30, 5}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_TRUE(Pen(205, 100));
    EXPECT_TRUE(Pen(225, 95));
    EXPECT_FALSE(Pen(215, 98)); // no line across the gap
}

TEST(RunPieces, LongRunsAreDrawnInPiecesSharingTheirEnds) {
    using Pieces = std::vector<std::pair<size_t, size_t>>;
    EXPECT_EQ(TCartogList::RunPieces(40000), (Pieces{{0, 16000}, {15999, 16000}, {31998, 8002}}));
    EXPECT_EQ(TCartogList::RunPieces(16000), (Pieces{{0, 16000}}));
    EXPECT_EQ(TCartogList::RunPieces(16001), (Pieces{{0, 16000}, {15999, 2}}));
    EXPECT_EQ(TCartogList::RunPieces(1), Pieces{});
    EXPECT_EQ(TCartogList::RunPieces(0), Pieces{});
}

TEST_F(Drawing, PlaceMarkSymbols) {
    store.DrawPlaceMark(bitmap, 0, 0, {'+', "", 0.0f, 0.0f, plS},
                        {kPen, 1, TBrushStyle::bsClear, false, false});
    for (int d = -6; d <= 6; ++d) {
        EXPECT_TRUE(Pen(200, 100 + d)) << d;
        EXPECT_TRUE(Pen(200 + d, 100)) << d;
    }
    EXPECT_FALSE(Pen(200, 107));
    EXPECT_FALSE(Pen(207, 100));
    EXPECT_EQ(PenPixels(), 25);

    store.DrawPlaceMark(bitmap, 0, 0, {'X', "", 100.0f, 0.0f, plS},
                        {kPen, 1, TBrushStyle::bsClear, false, false});
    EXPECT_TRUE(Pen(300 - 8, 100 - 8));
    EXPECT_TRUE(Pen(300 + 8, 100 + 8));
    EXPECT_TRUE(Pen(300 + 8, 100 - 8));
    EXPECT_FALSE(Pen(300 + 9, 100 + 9));

    // Unknown symbols draw nothing; the canvas state comes back as it was.
    TCanvas& c = bitmap.Canvas();
    c.Pen.Width = 2;
    c.Brush.Style = TBrushStyle::bsSolid;
    c.Font.Size = 9;
    const int before = PenPixels();
    store.DrawPlaceMark(bitmap, 0, 0, {'?', "", -100.0f, 0.0f, plS},
                        {clBlue, 3, TBrushStyle::bsClear, false, false});
    EXPECT_EQ(PenPixels(), before);
    EXPECT_EQ(c.Pen.Width, 2);
    EXPECT_EQ(c.Pen.Color, kPen);
    EXPECT_EQ(c.Brush.Style, TBrushStyle::bsSolid);
    EXPECT_EQ(c.Font.Size, 9);
}

// The top-left corner of the label's solid background.
std::pair<int, int> LabelCorner(const TBitmap& b, TColor brush) {
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x) {
            if (b.PixelColor(x, y) == brush) {
                return {x, y};
            }
        }
    }
    return {-1, -1};
}

TEST_F(Drawing, LabelCornersFollowThePlacementTable) {
    const TColor brush = RGBColor(0, 0, 200);
    TCanvas& c = bitmap.Canvas();
    const std::string label = "Label";
    const int W = c.TextWidth(label);
    const int H = c.TextHeight(label);
    const int w2 = W / 2;
    struct Row {
        int placement, penWidth, ox, oy;
    };
    const Row rows[] = {
        {plN, 1, w2, -5 - H},
        {plNE, 1, -7, -5 - H},
        {plE, 1, -7, -1 - H / 2},
        {plSE, 1, -7, H - 4},
        {plSE, 3, -7, H},
        {plS, 1, w2, H - 4},
        {plS, 3, w2, H},
        {plSW, 3, 2 * w2 + 7, H},
        {plW, 1, 2 * w2 + 7, -1 - H / 2},
        {plNW, 1, 2 * w2 + 7, -5 - H},
        {42, 3, w2, H},
    };
    for (const Row& r : rows) {
        bitmap.SetSize(0, 0);
        bitmap.SetSize(1200, 400);
        c.Brush.Color = brush; // the saved brush colour fills a solid label
        store.DrawPlaceMark(bitmap, 0, 0, {' ', label, 0.0f, 0.0f, r.placement},
                            {kPen, r.penWidth, TBrushStyle::bsSolid, false, false});
        EXPECT_EQ(LabelCorner(bitmap, brush), std::make_pair(200 - r.ox, 100 + r.oy))
            << "placement " << r.placement << " pen " << r.penWidth;
    }
    // Mirrored "S": ox and oy become -ox and 2 oy.
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    store.DrawPlaceMark(bitmap, 0, 0, {' ', label, 0.0f, 0.0f, plS},
                        {kPen, 1, TBrushStyle::bsSolid, false, true});
    EXPECT_EQ(LabelCorner(bitmap, brush), std::make_pair(200 + w2, 100 + 2 * (H - 4)));
}

TEST_F(Drawing, PlaceMarkListSkipsCommentsAndBadLines) {
    const std::vector<std::string> lines = {
        "# comment,+,0,0",
        "+,Three fields,10",
        "+,Bad number,abc,0",
        ",Empty symbol,20,0",
        "x,Good,-50,0,XX", // unknown placement: the default
        "\"+\",\"Quoted, label\",50,0,n",
    };
    store.DrawPlaceMarks(bitmap, 0, 0, lines, kPen, /*bold=*/false, TBrushStyle::bsClear, plS,
                         /*halo=*/true);
    EXPECT_TRUE(Pen(150, 100));     // the "x" at -50
    EXPECT_TRUE(Pen(250, 100 - 6)); // the "+" at 50
    EXPECT_FALSE(Pen(210, 100));    // the comment's "+" at 0 is not drawn
    EXPECT_FALSE(Pen(220, 100));    // nor the line with an empty symbol
}

TEST_F(Drawing, HaloOutlinesTheLabelInBlack) {
    auto blackInLabel = [&](bool halo) {
        bitmap.Canvas().Brush.Color = clWhite;
        bitmap.Canvas().FillRect(0, 0, bitmap.Width(), bitmap.Height());
        store.DrawPlaceMark(bitmap, 0, 0, {' ', "Halo", 0.0f, 0.0f, plS},
                            {kPen, 1, TBrushStyle::bsClear, halo, false});
        int black = 0;
        int pen = 0;
        for (int y = 90; y < 150; ++y) {
            for (int x = 150; x < 260; ++x) {
                black += bitmap.PixelColor(x, y) == clBlack ? 1 : 0;
                pen += Pen(x, y) ? 1 : 0;
            }
        }
        EXPECT_GT(pen, 10);
        return black;
    };
    EXPECT_EQ(blackInLabel(false), 0);
    EXPECT_GT(blackInLabel(true), 10);
}

TEST(WorldPicture, CountriesOutlinePassesTheKnownCoasts) {
    EnsureGuiApplication();
    TCartogList store;
    store.LoadBoundaryFiles(std::string(VANTOREL_SOURCE_DIR) + "/data/Countries.dat");
    // Four pixels per degree, the whole world.
    PlateMapping mapping(4.0, 720, 360, 1440);
    store.Mapping = &mapping;
    TBitmap world;
    world.SetSize(1441, 721);
    world.Canvas().Pen.Color = kPen;
    store.DrawBoundaries(world, 0, 0);
    auto near = [&](double lon, double lat) {
        const int cx = static_cast<int>(std::lround(720 + lon * 4));
        const int cy = static_cast<int>(std::lround(360 - lat * 4));
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if (world.PixelColor(cx + dx, cy + dy) == kPen) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_TRUE(near(18.42, -33.93));  // Cape Town
    EXPECT_TRUE(near(-21.94, 64.15));  // Reykjavik
    EXPECT_TRUE(near(-67.27, -55.98)); // Cape Horn
    EXPECT_TRUE(near(151.21, -33.86)); // Sydney harbour
    EXPECT_FALSE(near(-30.0, 0.0));    // the middle of the Atlantic
    EXPECT_FALSE(near(-150.0, 0.0));   // the middle of the Pacific
    if (const char* out = std::getenv("VANTOREL_WORLD_PICTURE")) {
        world.SaveToFile(out);
    }
}

} // namespace
} // namespace vantorel

namespace vantorel {
namespace {

TEST_F(Drawing, RingsAreClosedOnlyAlongTheirOwnClosingEdge) {
    // A ring wholly on the map is closed: the edge from the last point back to the first.
    Add(0, {{0, 0}, {20, 0}, {20, 20}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_TRUE(Pen(210, 90)); // on the closing diagonal from (220, 80) to (200, 100)
    // A ring that leaves the map and comes back still has its own closing edge.
    store.Clear();
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    Add(0, {{0, 0}, {20, 0}, {300, 0}, {40, 20}, {40, 40}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_TRUE(Pen(210, 100));
    EXPECT_TRUE(Pen(240, 70));
    EXPECT_TRUE(Pen(220, 80)); // the edge from (240, 60) back to (200, 100)
    // A ring whose last point is off the map returns to its start off the map.
    store.Clear();
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    Add(0, {{0, 0}, {20, 0}, {20, 20}, {300, 0}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_FALSE(Pen(210, 90));
    // A ring whose first point is off the map is not closed to its first placed point.
    store.Clear();
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    Add(0, {{300, 0}, {0, 0}, {20, 0}, {20, 20}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_FALSE(Pen(210, 90));
    // A closing edge that would jump across the picture is left out.
    store.Clear();
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    mapping = PlateMapping(4.0, 600, 200, 600); // limit 500 pixels
    Add(0, {{-100, 0}, {-60, 0}, {0, 10}, {60, 0}, {100, 0}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_FALSE(Pen(600, 200)); // the closing line from x=1000 to x=200 would pass here
}

} // namespace
} // namespace vantorel

namespace vantorel {
namespace {

TEST(PlaceMarkLines, FieldsPlacementsAndRefusals) {
    const auto m = ParsePlaceMarkLine("o, \"Cape Town, ZA\" ,18.4241,-33.9258,ne", plS);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->symbol, 'o');
    EXPECT_EQ(m->label, "Cape Town, ZA");
    EXPECT_FLOAT_EQ(m->lon, 18.4241f);
    EXPECT_FLOAT_EQ(m->lat, -33.9258f);
    EXPECT_EQ(m->placement, plNE);
    EXPECT_EQ(ParsePlaceMarkLine("+ Oslo 10.7 59.9", plS)->placement, plS); // blanks separate
    EXPECT_EQ(ParsePlaceMarkLine("+,A,1,2,SOUTH", plW)->placement, plW);
    EXPECT_EQ(ParsePlaceMarkLine("+,A,1,2,nw", plS)->placement, plNW);
    for (const char* bad : {"#+,A,1,2", "+,A,1", ",A,1,2", "+,A,1;5,2", "+,A,1,", ""}) {
        EXPECT_FALSE(ParsePlaceMarkLine(bad, plS)) << bad;
    }
}

} // namespace
} // namespace vantorel

namespace vantorel {
namespace {

TEST_F(Drawing, ARedrawAfterTheMappingChangesProjectsAgain) {
    store.ClosePolylines = false;
    Add(0, {{0, 0}, {10, 0}});
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_TRUE(Pen(205, 100));
    mapping = PlateMapping(2.0, 200, 100, 600); // another state: the points move
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    store.DrawBoundaries(bitmap, 0, 0);
    EXPECT_TRUE(Pen(215, 100));
    EXPECT_EQ(PenPixels(), 20);
    // Only the offsets change: the same projection, moved.
    bitmap.SetSize(0, 0);
    bitmap.SetSize(1200, 400);
    store.DrawBoundaries(bitmap, 3, -4);
    EXPECT_TRUE(Pen(203, 104));
    EXPECT_TRUE(Pen(222, 104));
    EXPECT_EQ(PenPixels(), 20);
}

TEST_F(Drawing, ARunsFirstPointPlacedAtMinusOneIsDroppedWhereverTheOverlayIs) {
    // A run starts from the point (-1, -1), so a first point placed exactly there counts
    // as a repeat; kept runs must not carry that over to other placements, nor miss it.
    store.ClosePolylines = false;
    Add(0, {{0, 0}, {11, -11}}); // pixels (200, 100) and (211, 111)
    for (const auto& [pixelOffset, lineOffset, pixels] :
         {std::tuple{0, 0, 11}, {-201, 101, 0}, {-200, 100, 11}}) {
        bitmap.SetSize(0, 0);
        bitmap.SetSize(1200, 400);
        store.DrawBoundaries(bitmap, pixelOffset, lineOffset);
        EXPECT_EQ(PenPixels(), pixels) << pixelOffset;
    }
}

} // namespace
} // namespace vantorel
