// The canvas: pixel-exact line ends and widths, clipping, ellipses, text placement and
// copying between formats.
#include "imaging/Canvas.h"
#include "imaging/Bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <set>
#include <vector>

namespace vantorel {
namespace {

TBitmap WhiteBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit) {
    TBitmap b;
    b.SetPixelFormat(format);
    b.SetSize(width, height);
    b.Canvas().Brush.Color = clWhite;
    b.Canvas().FillRect(0, 0, width, height);
    return b;
}

std::set<std::pair<int, int>> PixelsOf(const TBitmap& b, TColor c) {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x) {
            if (b.PixelColor(x, y) == c) {
                out.insert({x, y});
            }
        }
    }
    return out;
}

TEST(Canvas, LinesStopBeforeTheirEndPixel) {
    TBitmap b = WhiteBitmap(12, 12);
    TCanvas& c = b.Canvas();
    c.MoveTo(1, 1);
    c.LineTo(5, 1);
    EXPECT_EQ(c.PenPos(), (TPoint{5, 1}));
    c.MoveTo(8, 2);
    c.LineTo(8, 6);
    c.MoveTo(1, 10);
    c.LineTo(4, 7);
    c.MoveTo(10, 10);
    c.LineTo(10, 10); // a zero-length line draws nothing
    const std::set<std::pair<int, int>> expected = {{1, 1}, {2, 1}, {3, 1},  {4, 1}, {8, 2}, {8, 3},
                                                    {8, 4}, {8, 5}, {1, 10}, {2, 9}, {3, 8}};
    EXPECT_EQ(PixelsOf(b, clBlack), expected);

    // A polyline joins its points; only the very last pixel stays undrawn.
    TBitmap p = WhiteBitmap(8, 8);
    const TPoint pts[] = {{1, 1}, {4, 1}, {4, 4}};
    p.Canvas().Polyline(pts);
    EXPECT_EQ(PixelsOf(p, clBlack),
              (std::set<std::pair<int, int>>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 2}, {4, 3}}));
}

TEST(Canvas, PenWidthIsTheLineThicknessInPixels) {
    for (int width = 1; width <= 3; ++width) {
        SCOPED_TRACE(width);
        TBitmap b = WhiteBitmap(20, 20);
        TCanvas& c = b.Canvas();
        c.Pen.Width = width;
        c.Pen.Color = clRed;
        c.MoveTo(2, 5);
        c.LineTo(12, 5); // horizontal: rows
        c.MoveTo(16, 8);
        c.LineTo(16, 18); // vertical: columns
        std::set<int> rows;
        std::set<int> columns;
        for (const auto& [x, y] : PixelsOf(b, clRed)) {
            (x < 14 ? rows : columns).insert(x < 14 ? y : x);
        }
        EXPECT_EQ(static_cast<int>(rows.size()), width);
        EXPECT_EQ(static_cast<int>(columns.size()), width);
        EXPECT_TRUE(rows.count(5) == 1 && columns.count(16) == 1);
        // Even a wide pen leaves the end pixel's span undrawn.
        EXPECT_EQ(b.PixelColor(12, 5), clWhite);
        EXPECT_EQ(b.PixelColor(2, 5), clRed);
    }
    // The outer side of a bend in a thick polyline has no notch.
    TBitmap bend = WhiteBitmap(20, 20);
    bend.Canvas().Pen.Width = 3;
    const TPoint corner[] = {{2, 5}, {12, 5}, {12, 15}};
    bend.Canvas().Polyline(corner);
    EXPECT_EQ(bend.PixelColor(13, 4), clBlack);
    EXPECT_EQ(bend.PixelColor(14, 4), clWhite);
    EXPECT_EQ(bend.PixelColor(12, 15), clWhite);
}

TEST(Canvas, ClippedLinesKeepTheirPixels) {
    // Every line drawn on a small bitmap must equal the matching window of the same
    // line drawn whole on a large one.
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-60, 100);
    const int offset = 100;
    for (int trial = 0; trial < 300; ++trial) {
        const TPoint a{coordinate(random), coordinate(random)};
        const TPoint b{coordinate(random), coordinate(random)};
        const int width = 1 + trial % 3;
        TBitmap small = WhiteBitmap(40, 30);
        small.Canvas().Pen.Width = width;
        small.Canvas().MoveTo(a.X, a.Y);
        small.Canvas().LineTo(b.X, b.Y);
        TBitmap large = WhiteBitmap(300, 300);
        large.Canvas().Pen.Width = width;
        large.Canvas().MoveTo(a.X + offset, a.Y + offset);
        large.Canvas().LineTo(b.X + offset, b.Y + offset);
        for (int y = 0; y < small.Height(); ++y) {
            for (int x = 0; x < small.Width(); ++x) {
                ASSERT_EQ(small.PixelColor(x, y), large.PixelColor(x + offset, y + offset))
                    << "line (" << a.X << "," << a.Y << ")-(" << b.X << "," << b.Y << ") width "
                    << width << " at " << x << "," << y;
            }
        }
    }
    // Many lines at once, drawn by bands of rows on every core, give each line's pixels:
    // lines across the bands' edges, off the bitmap and at the ends of int included.
    std::vector<TPoint> points;
    std::vector<std::pair<size_t, size_t>> lines;
    std::uniform_int_distribution<int> along(-20, 420), step(-9, 9);
    while (points.size() < 40000) {
        lines.emplace_back(points.size(), 2 + points.size() % 7);
        TPoint p{along(random) / 2, along(random)};
        for (size_t i = 0; i < lines.back().second; ++i) {
            points.push_back(p);
            p = {p.X + step(random), p.Y + step(random) * (i % 3 == 0 ? 9 : 1)};
        }
    }
    points.insert(points.end(), {{5, std::numeric_limits<int>::min()}, {9, 150},
                                 {12, std::numeric_limits<int>::max()}});
    lines.emplace_back(points.size() - 3, 3);
    TBitmap together = WhiteBitmap(200, 400);
    TBitmap alone = WhiteBitmap(200, 400);
    together.Canvas().Pen.Width = alone.Canvas().Pen.Width = 3;
    together.Canvas().Polylines(points, lines);
    for (const auto& [first, count] : lines) { // line by line, the current position kept
        alone.Canvas().MoveTo(points[first].X, points[first].Y);
        for (size_t i = first + 1; i < first + count; ++i) {
            alone.Canvas().LineTo(points[i].X, points[i].Y);
        }
    }
    EXPECT_EQ(PixelsOf(together, clBlack), PixelsOf(alone, clBlack));

    // Far-away ends (as projections of points behind the map give) are clipped safely.
    TBitmap b = WhiteBitmap(16, 16);
    b.Canvas().MoveTo(-2000000000, 7);
    b.Canvas().LineTo(2000000000, 7);
    b.Canvas().MoveTo(-2000000000, -2000000000);
    b.Canvas().LineTo(2000000000, 2000000000);
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(b.PixelColor(x, 7), clBlack);
        EXPECT_EQ(b.PixelColor(x, x), clBlack);
    }
    EXPECT_EQ(PixelsOf(b, clBlack).size(), 31u);
    // The extremes of int, with a wide pen, an ellipse and a box: no overflow.
    constexpr int lo = std::numeric_limits<int>::min();
    constexpr int hi = std::numeric_limits<int>::max();
    b.Canvas().Pen.Width = 3;
    b.Canvas().MoveTo(lo, lo);
    b.Canvas().LineTo(hi, hi);
    b.Canvas().LineTo(lo, hi);
    b.Canvas().Ellipse(lo, lo, hi, hi);
    b.Canvas().FillRect(hi, hi, lo, lo);
}

TEST(Canvas, EllipseFillsItsBoxWithoutTheRightAndBottomEdge) {
    TBitmap b = WhiteBitmap(16, 16);
    TCanvas& c = b.Canvas();
    c.Brush.Color = clRed;
    c.Ellipse(2, 3, 9, 10); // 7 x 7 pixels, centre (5, 6)
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            if (b.PixelColor(x, y) != clWhite) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
                // Symmetric about the centre pixel.
                EXPECT_EQ(b.PixelColor(x, y), b.PixelColor(10 - x, y));
                EXPECT_EQ(b.PixelColor(x, y), b.PixelColor(x, 12 - y));
            }
        }
    }
    EXPECT_EQ(minX, 2);
    EXPECT_EQ(maxX, 8);
    EXPECT_EQ(minY, 3);
    EXPECT_EQ(maxY, 9);
    EXPECT_EQ(b.PixelColor(2, 6), clBlack); // outline at the ends of the axes
    EXPECT_EQ(b.PixelColor(5, 3), clBlack);
    EXPECT_EQ(b.PixelColor(3, 6), clRed);
    EXPECT_EQ(b.PixelColor(5, 6), clRed);
    EXPECT_EQ(b.PixelColor(2, 3), clWhite); // corners of the box

    // A clear brush leaves the inside alone; a wider pen thickens the ring inwards.
    TBitmap ring = WhiteBitmap(16, 16);
    ring.Canvas().Brush.Style = TBrushStyle::bsClear;
    ring.Canvas().Pen.Width = 2;
    ring.Canvas().Ellipse(2, 3, 9, 10);
    EXPECT_EQ(ring.PixelColor(2, 6), clBlack);
    EXPECT_EQ(ring.PixelColor(3, 6), clBlack);
    EXPECT_EQ(ring.PixelColor(4, 6), clWhite);
    EXPECT_EQ(ring.PixelColor(5, 6), clWhite);
}

TEST(Canvas, TextLandsAtItsTopLeftCorner) {
    EnsureGuiApplication();
    for (const TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf8bit}) {
        SCOPED_TRACE(static_cast<int>(format));
        TBitmap b = WhiteBitmap(120, 60, format);
        TCanvas& c = b.Canvas();
        c.Font.Size = 12;
        c.Brush.Style = TBrushStyle::bsClear;
        const int w = c.TextWidth("HgH");
        const int h = c.TextHeight("HgH");
        ASSERT_GT(w, 10);
        ASSERT_GT(h, 10);
        c.TextOut(30, 20, "HgH");
        const auto ink = PixelsOf(b, clBlack);
        ASSERT_FALSE(ink.empty());
        int minX = 999, maxX = -1, minY = 999, maxY = -1;
        for (const auto& [x, y] : ink) {
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
        EXPECT_GE(minX, 30);
        EXPECT_LE(minX, 33); // "H" starts at the corner, give or take its side bearing
        EXPECT_LT(maxX, 30 + w);
        EXPECT_GE(minY, 20);
        EXPECT_LE(minY, 20 + h / 3); // a capital's top is near the line's top
        EXPECT_LT(maxY, 20 + h);
        EXPECT_GT(maxY, 20 + h / 2); // the "g" descends
        // No antialiasing: only the two colours appear.
        EXPECT_EQ(ink.size() + PixelsOf(b, clWhite).size(), 120u * 60u);

        // A solid brush fills the text's extent first.
        c.Brush.Style = TBrushStyle::bsSolid;
        c.Brush.Color = format == TPixelFormat::pf8bit ? RGBColor(128, 128, 128) : clYellow;
        c.TextOut(5, 5, "HgH");
        EXPECT_EQ(b.PixelColor(5, 5), c.Brush.Color);
        EXPECT_EQ(b.PixelColor(5 + w - 1, 5 + h - 1), c.Brush.Color);
        EXPECT_EQ(b.PixelColor(5 + w, 5), clWhite);
    }
}

TEST(Canvas, DrawCopiesAcrossFormats) {
    TBitmap grey;
    grey.SetPixelFormat(TPixelFormat::pf8bit);
    grey.SetSize(4, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            grey.ScanLine(y)[x] = static_cast<std::uint8_t>(60 * x + y);
        }
    }
    TBitmap display = WhiteBitmap(5, 5);
    display.Canvas().Draw(2, -1, grey); // clipped on the right and at the top
    EXPECT_EQ(display.PixelColor(2, 0), RGBColor(1, 1, 1));
    EXPECT_EQ(display.PixelColor(4, 1), RGBColor(122, 122, 122));
    EXPECT_EQ(display.PixelColor(1, 0), clWhite);
    EXPECT_EQ(display.PixelColor(2, 2), clWhite);

    // Through a colour palette, and back into 8 bits by the nearest palette entry.
    std::vector<TRGBQuad> palette(256);
    palette[60] = TRGBQuad{0, 0, 255, 0}; // red
    grey.SetPalette(palette);
    TBitmap colour = WhiteBitmap(4, 3);
    colour.Canvas().Draw(0, 0, grey);
    EXPECT_EQ(colour.PixelColor(1, 0), clRed);
    EXPECT_EQ(colour.PixelColor(0, 0), clBlack);
    TBitmap indexed;
    indexed.SetPixelFormat(TPixelFormat::pf8bit);
    indexed.SetSize(4, 3);
    indexed.SetPalette(palette);
    indexed.Canvas().Draw(0, 0, colour);
    EXPECT_EQ(indexed.ScanLine(0)[1], 60);
}

} // namespace
} // namespace vantorel
