// The extended bitmap: histogram statistics, contrast operations, inversion, the
// 180-degree turn and the repairs of the tolerant reader.
#include "ImagingFixtures.h"
#include "TempDir.h"
#include "imaging/BMPExtImage.h"
#include "imaging/zorHistogram.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vantorel {
namespace {

using testing::FixtureIndex;
using testing::ImagingData;

TExtBitmap Grey(int width, int height) {
    TExtBitmap b;
    b.SetPixelFormat(TPixelFormat::pf8bit);
    b.SetSize(width, height);
    return b;
}

// A BMP file of 1, 4 or 8 bits per pixel with the given palette (entries declared as
// used), pixel (x, y) holding index(x, y); rows bottom-up.
template <typename Index>
std::string PaletteBmp(int bits, const std::vector<TRGBQuad>& palette, int width, int height,
                       Index index) {
    const auto u32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    const int stride = (width * bits + 31) / 32 * 4;
    const auto offset = static_cast<std::uint32_t>(54 + 4 * palette.size());
    std::string file = "BM" + u32(offset + static_cast<std::uint32_t>(stride * height)) + u32(0) +
                       u32(offset) + u32(40) + u32(static_cast<std::uint32_t>(width)) +
                       u32(static_cast<std::uint32_t>(height)) + std::string{1, 0} +
                       std::string{static_cast<char>(bits), 0} + u32(0) + u32(0) + u32(0) + u32(0) +
                       u32(static_cast<std::uint32_t>(palette.size())) + u32(0);
    for (const TRGBQuad& q : palette) {
        file += std::string{static_cast<char>(q.Blue), static_cast<char>(q.Green),
                            static_cast<char>(q.Red), 0};
    }
    for (int y = height - 1; y >= 0; --y) {
        std::string row(static_cast<std::size_t>(stride), '\0');
        for (int x = 0; x < width; ++x) {
            const int bit = x * bits;
            row[static_cast<std::size_t>(bit / 8)] |=
                static_cast<char>(index(x, y) << (8 - bits - bit % 8));
        }
        file += row;
    }
    return file;
}

std::vector<TRGBQuad> GreyPalette(int entries) {
    std::vector<TRGBQuad> palette;
    for (int i = 0; i < entries; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 255 / (entries - 1));
        palette.push_back(TRGBQuad{v, v, v, 0});
    }
    return palette;
}

TEST(Histogram, PercentileWalkRoundsLimitsTiesToEven) {
    TzorHistogram h(4);
    EXPECT_EQ(h.BinCount, 4);
    h.Bins = {10, 0, 30, 60};
    EXPECT_EQ(h.GetTotal(), 100);
    EXPECT_TRUE(h.Valid);
    EXPECT_EQ(h.Low, 0);    // lowLimit round(0.5) = 0 is never above the running sum
    EXPECT_EQ(h.Median, 3); // the sum before bin 3 (40) is still below 50
    EXPECT_EQ(h.High, 3);
    EXPECT_EQ(h.Mode, 3);

    // 0.5 % of 500 is 2.5, which rounds to 2: the sum before bin 1 (2) has reached it.
    TzorHistogram ties(3);
    ties.Bins = {2, 1, 497};
    EXPECT_EQ(ties.GetLow(), 0);
    ties.Clear();
    ties.Bins = {1, 1, 298}; // 0.5 % of 300 is 1.5 -> 2: bin 1 starts below it
    EXPECT_FALSE(ties.Valid);
    EXPECT_EQ(ties.GetLow(), 1);

    // Too few counts for the walk: the whole range.
    TzorHistogram sparse(256);
    sparse.Bins[40] = 100;
    sparse.Bins[41] = 156;
    EXPECT_EQ(sparse.GetLow(), 0);
    EXPECT_EQ(sparse.GetHigh(), 255);
    EXPECT_EQ(sparse.Mode, 41);
}

TEST(ExtBitmap, StretchMapsThePercentilesWithACappedGain) {
    TExtBitmap b = Grey(204, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 204; ++x) {
            b.ScanLine(y)[x] = static_cast<std::uint8_t>(100 + x % 51);
        }
    }
    b.SetModified(false);
    b.StretchContrast(3.0);
    EXPECT_EQ(b.Histogram().Low, 100);
    EXPECT_EQ(b.Histogram().High, 150);
    EXPECT_TRUE(b.Modified());
    for (int y = 0; y < 10; ++y) { // unsampled rows too
        EXPECT_EQ(b.ScanLine(y)[0], 0);
        EXPECT_EQ(b.ScanLine(y)[20], 60);
        EXPECT_EQ(b.ScanLine(y)[50], 150); // 50 x 3, gain 5.1 capped at 3
    }

    // Percentiles 8 levels apart, or too few pixels to count (gain 1): unchanged.
    TExtBitmap narrow = Grey(90, 4);
    for (int x = 0; x < 90; ++x) {
        for (int y = 0; y < 4; ++y) {
            narrow.ScanLine(y)[x] = static_cast<std::uint8_t>(100 + x % 9);
        }
    }
    const TExtBitmap before = narrow;
    narrow.SetModified(false);
    narrow.StretchContrast(3.0);
    EXPECT_FALSE(narrow.Modified());
    EXPECT_TRUE(std::equal(before.Bits().begin(), before.Bits().end(), narrow.Bits().begin()));
    TExtBitmap tiny = Grey(5, 5);
    tiny.ScanLine(2)[3] = 77;
    tiny.StretchContrast(3.0);
    EXPECT_EQ(tiny.ScanLine(2)[3], 77);
}

// A colour picture is stretched colour by colour: red 100..150 to 0..150 (gain capped at
// 3), green already spread over 0..255 kept, blue 8 levels wide left alone.
TEST(ExtBitmap, EachColourIsStretchedFromItsOwnPercentiles) {
    TExtBitmap b;
    b.SetSize(204, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 204; ++x) {
            std::uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(60 + x % 9);  // blue
            p[1] = static_cast<std::uint8_t>(x * 255 / 203); // green
            p[2] = static_cast<std::uint8_t>(100 + x % 51); // red
        }
    }
    EXPECT_TRUE(b.IsColour());
    const TExtBitmap before = b;
    b.StretchEachColour(3.0);
    for (const int x : {0, 20, 50, 203}) {
        const std::uint8_t* p = b.ScanLine(7) + 3 * x;
        const std::uint8_t* q = before.ScanLine(7) + 3 * x;
        EXPECT_EQ(p[2], std::min(255, (x % 51) * 3)) << x;
        EXPECT_EQ(p[0], q[0]) << x;
        EXPECT_NEAR(p[1], q[1], 1) << x;
    }

    // Grey in 24 bits is no colour; an 8-bit picture never is, whatever its palette.
    TExtBitmap grey = b;
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 204; ++x) {
            std::uint8_t* p = grey.ScanLine(y) + 3 * x;
            p[0] = p[1] = p[2];
        }
    }
    EXPECT_FALSE(grey.IsColour());
    TExtBitmap tinted = Grey(4, 4);
    tinted.SetPalette({TRGBQuad{0, 0, 255, 0}});
    EXPECT_FALSE(tinted.IsColour());
}

TEST(ExtBitmap, EqualizationTableFromAKnownHistogram) {
    // One row (always sampled): 500 pixels at level 50, 12 at level 200.
    TExtBitmap b = Grey(512, 1);
    for (int x = 0; x < 512; ++x) {
        b.ScanLine(0)[x] = x < 500 ? 50 : 200;
    }
    std::array<std::uint8_t, 256> table{};
    ASSERT_TRUE(b.BuildEqualizationTable(0, 256, false, 2.5, table));
    // t = 0 up to 50, trunc(500 x 255.99 / 512) = 249 up to 200, 255 after; 3-tap mean.
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[49], 0);
    EXPECT_EQ(table[50], 83);
    EXPECT_EQ(table[51], 166);
    EXPECT_EQ(table[100], 249);
    EXPECT_EQ(table[200], 251);
    EXPECT_EQ(table[255], 255);

    // Clip at 2.5: cap round(512 x 2.5 / 256) = 5 for both bins, so each takes half.
    ASSERT_TRUE(b.BuildEqualizationTable(0, 256, true, 2.5, table));
    EXPECT_EQ(table[50], 42);
    EXPECT_EQ(table[100], 127);
    EXPECT_EQ(table[200], 169);

    // lower 50 drops bins 0..50: only level 200 is left.
    ASSERT_TRUE(b.BuildEqualizationTable(50, 256, false, 2.5, table));
    EXPECT_EQ(table[100], 0);
    EXPECT_EQ(table[200], 85);
    // upper 200 drops bins 200..255: only level 50 is left.
    ASSERT_TRUE(b.BuildEqualizationTable(0, 200, false, 2.5, table));
    EXPECT_EQ(table[50], 85);

    EXPECT_TRUE(b.EqualizeContrast(0, 256, false, 2.5));
    EXPECT_EQ(b.ScanLine(0)[0], 83);
    EXPECT_EQ(b.ScanLine(0)[511], 251);

    // Refusals leave the image alone.
    TExtBitmap other = Grey(512, 1);
    other.ScanLine(0)[7] = 9;
    EXPECT_FALSE(other.EqualizeContrast(250, 256, false, 2.5)); // 250 > 256 - 10
    EXPECT_FALSE(other.EqualizeContrast(10, 256, false, 2.5));  // nothing above level 10
    EXPECT_EQ(other.ScanLine(0)[7], 9);
    TExtBitmap colour;
    colour.SetSize(4, 4);
    EXPECT_FALSE(colour.EqualizeContrast(0, 256, false, 2.5));
}

TEST(ExtBitmap, ContrastSamplesEveryTenthOfTheRows) {
    // Height 25: rows 0, 3, 6, ... 24 (multiples of 25 / 10 + 1) are counted.
    TExtBitmap b = Grey(8, 25);
    for (int y = 0; y < 25; ++y) {
        for (int x = 0; x < 8; ++x) {
            b.ScanLine(y)[x] = y % 3 == 0 ? 10 : 240;
        }
    }
    ASSERT_TRUE(b.EqualizeContrast(0, 256, false, 2.5));
    EXPECT_EQ(b.Histogram().Bins[10], 9 * 8);
    EXPECT_EQ(b.Histogram().Bins[240], 0);
}

TEST(ExtBitmap, InvertAndRotate) {
    TExtBitmap b;
    b.SetSize(3, 4);
    for (int y = 0; y < 4; ++y) {
        for (int i = 0; i < b.Stride(); ++i) {
            b.ScanLine(y)[i] = static_cast<std::uint8_t>(y * 40 + i * 9);
        }
    }
    const TExtBitmap original = b;
    b.Invert();
    EXPECT_EQ(b.ScanLine(1)[4], 255 - original.ScanLine(1)[4]);
    EXPECT_EQ(b.ScanLine(1)[10], original.ScanLine(1)[10]); // padding untouched
    b.Invert();
    EXPECT_TRUE(std::equal(b.Bits().begin(), b.Bits().end(), original.Bits().begin()));

    for (const TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf8bit}) {
        for (const int height : {3, 4}) {
            TExtBitmap turned = original;
            turned.SetPixelFormat(format);
            turned.SetHeight(height);
            const TExtBitmap before = turned;
            turned.Rotate();
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < 3; ++x) {
                    EXPECT_EQ(turned.PixelColor(x, y), before.PixelColor(2 - x, height - 1 - y));
                }
            }
        }
    }
    TExtBitmap twoRows = original;
    twoRows.SetHeight(2);
    const TExtBitmap kept = twoRows;
    twoRows.Rotate();
    EXPECT_EQ(twoRows.PixelColor(0, 0), kept.PixelColor(0, 0));

    TExtBitmap wide = original;
    wide.SetPixelFormat(TPixelFormat::pf32bit);
    const TExtBitmap unchanged = wide;
    try {
        wide.Rotate();
        FAIL() << "a 32-bit bitmap turned";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Error: Rotate called without 8-bit or 24-bit pixels.");
    }
    wide.Invert(); // other formats are left alone
    EXPECT_TRUE(std::equal(wide.Bits().begin(), wide.Bits().end(), unchanged.Bits().begin()));
}

TEST(ExtBitmap, EnsureGrayPaletteOnlyTouchesPalettedEightBit) {
    TExtBitmap b = Grey(2, 2);
    b.SetPalette(std::vector<TRGBQuad>(16, TRGBQuad{1, 2, 3, 0}));
    b.SetModified(false);
    b.EnsureGrayPalette();
    EXPECT_EQ(b.Palette(), GrayRamp());
    EXPECT_TRUE(b.Modified());
    b.SetModified(false);
    b.EnsureGrayPalette();
    EXPECT_FALSE(b.Modified());
    b.SetPalette({});
    b.EnsureGrayPalette();
    EXPECT_TRUE(b.Palette().empty());
}

TEST(ExtBitmap, GreyLevelsKeepEveryPaletteImageThroughEqualisation) {
    struct Case {
        int bits;
        int entries;
    };
    for (const Case c : {Case{1, 2}, Case{4, 16}, Case{8, 224}}) {
        SCOPED_TRACE(c.entries);
        const int width = 224;
        std::istringstream file(PaletteBmp(c.bits, GreyPalette(c.entries), width, 12,
                                           [&](int x, int y) { return (x + y) % c.entries; }));
        TExtBitmap b;
        b.LoadFromStream(file);
        b.ToGreyLevels();
        ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
        ASSERT_EQ(b.Palette(), GrayRamp());
        EXPECT_EQ(b.ScanLine(0)[c.entries - 1], 255);
        ASSERT_TRUE(b.EqualizeContrast(0, 256, true, 2.5));
        // Each palette index keeps a level of its own, in the same order, the brightest
        // staying far from black.
        std::vector<int> level(static_cast<std::size_t>(c.entries), -1);
        for (int x = 0; x < width; ++x) {
            const int now = GetRValue(b.PixelColor(x, 0));
            int& seen = level[static_cast<std::size_t>(x % c.entries)];
            EXPECT_TRUE(seen == -1 || seen == now) << "index " << x % c.entries;
            seen = now;
        }
        for (std::size_t i = 1; i < level.size(); ++i) {
            EXPECT_GT(level[i], level[i - 1]) << "index " << i;
        }
        EXPECT_GE(level.back(), 127);
    }

    // Colour becomes its luma, from a palette or from 24-bit pixels alike.
    TExtBitmap colour = Grey(2, 1);
    colour.SetPalette({TRGBQuad{200, 100, 50, 0}});
    colour.ScanLine(0)[1] = 1;
    colour.ToGreyLevels();
    EXPECT_EQ(colour.ScanLine(0)[0], 96); // 0.299 x 50 + 0.587 x 100 + 0.114 x 200
    EXPECT_EQ(colour.ScanLine(0)[1], 0);  // beyond the palette: black
    colour.SetPixelFormat(TPixelFormat::pf24bit);
    colour.SetPalette({});
    colour.ScanLine(0)[0] = 200; // B, G, R
    colour.ScanLine(0)[1] = 100;
    colour.ScanLine(0)[2] = 50;
    colour.ToGreyLevels();
    EXPECT_EQ(colour.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(colour.PixelColor(0, 0), RGBColor(96, 96, 96));
}

TEST(ExtBitmap, TolerantReaderRepairsKnownWriterFaults) {
    // 224 colours declared, a full palette carried: the pixels stay intact.
    TExtBitmap repaired;
    repaired.LoadFromFile(ImagingData("pal8_224_colours.bmp"));
    ASSERT_EQ(repaired.Width(), 6);
    EXPECT_EQ(repaired.Palette().size(), 224u);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(repaired.ScanLine(y)[x], FixtureIndex(x, y)) << x << "," << y;
        }
    }
    // The plain reader trusts the header and reads palette entries as pixels.
    TBitmap plain;
    plain.LoadFromFile(ImagingData("pal8_224_colours.bmp"));
    EXPECT_NE(plain.ScanLine(3)[0], FixtureIndex(0, 3));

    TExtBitmap wide;
    wide.LoadFromFile(ImagingData("pal8_2080_wrong_size.bmp"));
    ASSERT_EQ(wide.Width(), 2080);
    EXPECT_EQ(wide.ScanLine(1)[2079], FixtureIndex(2079, 1));
    EXPECT_EQ(wide.ScanLine(0)[1000], FixtureIndex(1000, 0));

    // A file that truly carries 224 entries is not cut.
    testing::TempDir dir;
    TExtBitmap small = Grey(6, 2);
    small.ScanLine(1)[5] = 200;
    small.SetPalette(std::vector<TRGBQuad>(224, TRGBQuad{9, 9, 9, 0}));
    small.SaveToFile(dir / "true224.bmp");
    std::string bytes;
    {
        std::ifstream in(dir / "true224.bmp", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bytes[50] = static_cast<char>(224); // colours important = 224 as well
    std::istringstream stream(bytes);
    TExtBitmap honest;
    honest.LoadFromStream(stream);
    EXPECT_EQ(honest.ScanLine(1)[5], 200);

    // A truncated file fails both attempts; the error reaches the caller.
    TExtBitmap cut;
    EXPECT_THROW(cut.LoadFromFile(ImagingData("rgb24_truncated.bmp")), EInvalidGraphic);
    EXPECT_EQ(cut.Width(), 0);
}

TEST(ExtBitmap, SavingTwentyFourBitsDropsThePalette) {
    testing::TempDir dir;
    TExtBitmap b;
    b.SetSize(3, 2);
    b.SetPalette(GrayRamp());
    b.SaveToFile(dir / "x.bmp");
    EXPECT_TRUE(b.Palette().empty());
    std::ifstream in(dir / "x.bmp", std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long>(in.tellg()), 54 + 2 * 12);
}

} // namespace
} // namespace vantorel
