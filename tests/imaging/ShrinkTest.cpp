// The picture shrunk for the screen: each screen pixel the average of what it covers.
#include "imaging/Shrink.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantorel {
namespace {

TBitmap Picture(int width, int height, std::uint8_t (*level)(int x, int y, int channel)) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                b.ScanLine(y)[3 * x + c] = level(x, y, c);
            }
        }
    }
    return b;
}

std::vector<std::uint32_t> Shrunk(const TBitmap& b, int width, int height) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * height, 0);
    EXPECT_TRUE(ShrinkByAreas(b, width, height, out.data(), width * 4));
    return out;
}

TEST(Shrink, EachPixelAveragesTheAreaItCovers) {
    // Halved: the mean of each 2 x 2 block, rounded; blue, green, red into 0xFFRRGGBB.
    const TBitmap halves = Picture(4, 2, [](int x, int y, int c) {
        return static_cast<std::uint8_t>(10 * x + 3 * y + 100 * (c == 2) + 50 * (c == 1));
    });
    // Block 0: x 0..1, y 0..1: 10 * 0.5 + 3 * 0.5 = 6.5, rounded up.
    EXPECT_EQ(Shrunk(halves, 2, 1), (std::vector<std::uint32_t>{0xFF6B3907u, 0xFF7F4D1Bu}));
    // Three columns to two: the middle one is shared half and half.
    const TBitmap thirds = Picture(3, 1, [](int x, int, int) {
        return static_cast<std::uint8_t>(x == 0 ? 30 : (x == 1 ? 90 : 150));
    });
    // (30 + 45) / 1.5 = 50, (45 + 150) / 1.5 = 130.
    EXPECT_EQ(Shrunk(thirds, 2, 1), (std::vector<std::uint32_t>{0xFF323232u, 0xFF828282u}));
    // The screen's shape of a long pass: an even picture stays even, to the last row.
    const TBitmap even = Picture(1568, 1000, [](int, int, int) { return std::uint8_t{201}; });
    for (const std::uint32_t pixel : Shrunk(even, 229, 146)) {
        ASSERT_EQ(pixel, 0xFFC9C9C9u);
    }
}

TEST(Shrink, RefusesToGrowOrToReadOtherFormats) {
    const TBitmap b = Picture(8, 8, [](int, int, int) { return std::uint8_t{1}; });
    std::vector<std::uint32_t> out(81, 7);
    EXPECT_FALSE(ShrinkByAreas(b, 9, 8, out.data(), 36));
    EXPECT_FALSE(ShrinkByAreas(b, 8, 0, out.data(), 32));
    TBitmap wide = b;
    wide.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_FALSE(ShrinkByAreas(wide, 4, 4, out.data(), 16));
    EXPECT_EQ(out.front(), 7u);
}

// A channel image is shrunk through its palette, into a bitmap as into words.
TEST(Shrink, AnIndexedPictureAveragesItsPaletteColours) {
    TBitmap indexed;
    indexed.SetPixelFormat(TPixelFormat::pf8bit);
    indexed.SetSize(2, 1);
    // Not a grey ramp: the mean of the colours, not the colour of the mean index.
    indexed.SetPalette({{0, 0, 200, 0}, {100, 0, 0, 0}});
    indexed.ScanLine(0)[1] = 1;
    std::uint32_t word = 0;
    ASSERT_TRUE(ShrinkByAreas(indexed, 1, 1, &word, 4));
    EXPECT_EQ(word, 0xFF640032u);
    TBitmap to;
    to.SetPixelFormat(TPixelFormat::pf24bit);
    to.SetSize(1, 1);
    ASSERT_TRUE(ShrinkByAreas(indexed, to));
    EXPECT_EQ(to.PixelColor(0, 0), TColor{0x00320064});
}

} // namespace
} // namespace vantorel
