// The platform bitmap: memory layout, size and format changes, BMP reading and writing.
#include "imaging/Bitmap.h"
#include "ImagingFixtures.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vantorel {
namespace {

using testing::FixtureIndex;
using testing::FixturePaletteEntry;
using testing::FixtureRgb;
using testing::ImagingData;

std::uint32_t ReadU32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

void FillPattern(TBitmap& b) {
    for (int y = 0; y < b.Height(); ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < b.Width() * BytesPerPixel(b.PixelFormat()); ++i) {
            row[i] = static_cast<std::uint8_t>(y * 31 + i * 7 + 1);
        }
    }
}

TEST(Bitmap, RowsArePaddedToFourBytesForEveryFormat) {
    for (const TPixelFormat f : {TPixelFormat::pf8bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                 TPixelFormat::pf32bit}) {
        for (int width = 1; width <= 9; ++width) {
            TBitmap b;
            b.SetPixelFormat(f);
            b.SetSize(width, 3);
            EXPECT_EQ(b.Stride() % 4, 0);
            EXPECT_GE(b.Stride(), width * BytesPerPixel(f));
            EXPECT_LT(b.Stride(), width * BytesPerPixel(f) + 4);
            EXPECT_EQ(b.Bits().size(), static_cast<std::size_t>(b.Stride()) * 3);
            EXPECT_EQ(b.ScanLine(2) - b.ScanLine(0), 2 * b.Stride());
        }
    }
    TBitmap b;
    b.SetSize(2, 2);
    EXPECT_THROW(b.ScanLine(2), std::out_of_range);
    EXPECT_THROW(b.ScanLine(-1), std::out_of_range);
}

TEST(Bitmap, ResizingKeepsThePixelsThatStillFit) {
    TBitmap b;
    b.SetSize(4, 3);
    FillPattern(b);
    const TBitmap before = b;
    b.SetModified(false);
    b.SetWidth(2);
    b.SetHeight(5);
    EXPECT_TRUE(b.Modified());
    b.SetWidth(4);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 4; ++x) {
            const TColor expected = (x < 2 && y < 3) ? before.PixelColor(x, y) : clBlack;
            EXPECT_EQ(b.PixelColor(x, y), expected) << x << "," << y;
        }
    }
    EXPECT_THROW(b.SetSize(TBitmap::kMaxDimension, TBitmap::kMaxDimension),
                 EInvalidGraphicOperation);
    EXPECT_EQ(b.Width(), 4); // a refused size leaves the bitmap as it was
}

TEST(Bitmap, FormatChangesConvertPixels) {
    TBitmap grey;
    grey.SetPixelFormat(TPixelFormat::pf8bit);
    ASSERT_EQ(grey.Palette(), GrayRamp()); // a new 8-bit bitmap gets the grey ramp
    grey.SetSize(3, 1);
    grey.ScanLine(0)[0] = 0;
    grey.ScanLine(0)[1] = 100;
    grey.ScanLine(0)[2] = 255;
    grey.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(grey.PixelColor(1, 0), RGBColor(100, 100, 100));
    EXPECT_EQ(grey.ScanLine(0)[8], 255);

    TBitmap colour;
    colour.SetSize(2, 1);
    std::uint8_t* p = colour.ScanLine(0);
    const std::uint8_t bgr[6] = {0, 0, 255, 200, 100, 50}; // red; (50, 100, 200)
    std::memcpy(p, bgr, 6);
    TBitmap wide = colour;
    wide.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(wide.PixelColor(1, 0), RGBColor(50, 100, 200));
    TBitmap packed = colour;
    packed.SetPixelFormat(TPixelFormat::pf16bit);
    const TColor c = packed.PixelColor(1, 0); // 5-6-5 keeps the top bits of each level
    EXPECT_NEAR(GetRValue(c), 50, 7);
    EXPECT_NEAR(GetGValue(c), 100, 3);
    EXPECT_NEAR(GetBValue(c), 200, 7);
    colour.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(colour.ScanLine(0)[0], 76); // 0.299 x 255
    EXPECT_EQ(colour.ScanLine(0)[1], 96); // 0.299 x 50 + 0.587 x 100 + 0.114 x 200
}

TEST(BitmapFile, ReadsFilesWrittenByAnotherProgram) {
    for (const char* name : {"pal8_bottomup_w5.bmp", "pal8_topdown_w7.bmp"}) {
        SCOPED_TRACE(name);
        TBitmap b;
        b.LoadFromFile(ImagingData(name));
        ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
        ASSERT_EQ(b.Palette().size(), 256u);
        EXPECT_EQ(b.Palette()[77], FixturePaletteEntry(77));
        for (int y = 0; y < b.Height(); ++y) {
            for (int x = 0; x < b.Width(); ++x) {
                EXPECT_EQ(b.ScanLine(y)[x], FixtureIndex(x, y)) << x << "," << y;
            }
        }
    }
    for (const char* name : {"rgb24_bottomup_w3.bmp", "rgb24_topdown_w5.bmp"}) {
        SCOPED_TRACE(name);
        TBitmap b;
        b.LoadFromFile(ImagingData(name));
        ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
        for (int y = 0; y < b.Height(); ++y) {
            for (int x = 0; x < b.Width(); ++x) {
                EXPECT_EQ(b.PixelColor(x, y), FixtureRgb(x, y)) << x << "," << y;
            }
        }
    }
    TBitmap four;
    four.LoadFromFile(ImagingData("pal4_w9.bmp"));
    ASSERT_EQ(four.Width(), 9);
    ASSERT_EQ(four.Palette().size(), 16u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 9; ++x) {
            EXPECT_EQ(four.ScanLine(y)[x], (x + y) % 16) << x << "," << y;
        }
    }
}

TEST(BitmapFile, TruncatedAndLyingFilesAreRefusedWithoutChange) {
    TBitmap b;
    b.SetSize(2, 2);
    try {
        b.LoadFromFile(ImagingData("rgb24_truncated.bmp"));
        FAIL() << "a truncated file loaded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find("ends inside the pixel data"), std::string::npos);
        EXPECT_EQ(e.Headline(), "Bitmap image is not valid");
        EXPECT_EQ(e.Path(), ImagingData("rgb24_truncated.bmp"));
    }
    EXPECT_EQ(b.Width(), 2);
    EXPECT_THROW(b.LoadFromFile(ImagingData("no such file.bmp")), EFOpenError);

    // A header claiming 60000 x 60000 pixels over a few bytes of data.
    std::ifstream f(ImagingData("rgb24_bottomup_w3.bmp"), std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto patch = [&](std::size_t at, std::uint32_t v) {
        std::string s = file;
        for (int i = 0; i < 4; ++i) {
            s[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
        }
        return s;
    };
    for (const std::string& lie :
         {patch(18, 60000) /* width */, patch(22, 60000) /* height */, patch(18, 0x80000000u),
          patch(14, 0x7FFFFFFF), patch(46, 100000) /* colours */, file.substr(0, 20)}) {
        std::istringstream in(lie);
        EXPECT_THROW(b.LoadFromStream(in), EInvalidGraphic);
    }
    EXPECT_EQ(b.Width(), 2);

    // Only the final row's padding missing: accepted.
    std::istringstream shortPad(file.substr(0, file.size() - 3));
    b.LoadFromStream(shortPad);
    EXPECT_EQ(b.PixelColor(2, 0), FixtureRgb(2, 0));
}

TEST(BitmapFile, WritesInfoHeaderFilesThatReadBackUnchanged) {
    testing::TempDir dir;
    for (const TPixelFormat f : {TPixelFormat::pf8bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                 TPixelFormat::pf32bit}) {
        TBitmap b;
        b.SetPixelFormat(f);
        b.SetSize(5, 3);
        FillPattern(b);
        if (f == TPixelFormat::pf8bit) {
            std::vector<TRGBQuad> palette;
            for (int i = 0; i < 256; ++i) {
                palette.push_back(FixturePaletteEntry(i));
            }
            b.SetPalette(palette);
        }
        const std::string path = dir / "out.bmp";
        b.SaveToFile(path);
        TBitmap back;
        back.LoadFromFile(path);
        EXPECT_EQ(back.PixelFormat(), f);
        EXPECT_EQ(back.Palette(), b.Palette());
        EXPECT_TRUE(
            std::equal(b.Bits().begin(), b.Bits().end(), back.Bits().begin(), back.Bits().end()));

        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        EXPECT_EQ(ReadU32(bytes, 2), bytes.size());
        EXPECT_EQ(ReadU32(bytes, 14), 40u); // BITMAPINFOHEADER
        EXPECT_EQ(ReadU32(bytes, 22), 3u);  // positive height: bottom-up rows
        // The first stored row is the bottom one.
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[ReadU32(bytes, 10)]), b.ScanLine(2)[0]);
    }
}

} // namespace
} // namespace vantorel
