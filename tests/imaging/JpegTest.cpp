// JPEG input and output: pixels of files from another encoder, what the written files
// contain, scaled sizes and the failures.
#include "ImagingFixtures.h"
#include "TempDir.h"
#include "imaging/JPEG_IO.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace vantorel {
namespace {

using testing::ImagingData;

struct JpegLayout {
    int width = 0;
    int height = 0;
    std::vector<std::pair<int, int>> sampling; // (h, v) per component
    std::string comment;
};

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Walks the markers up to the first scan.
JpegLayout ParseMarkers(const std::string& s) {
    JpegLayout out;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    std::size_t pos = 2;
    while (pos + 4 <= s.size() && byte(pos) == 0xFF) {
        const int marker = byte(pos + 1);
        const std::size_t length = (byte(pos + 2) << 8) | byte(pos + 3);
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            out.height = (byte(pos + 5) << 8) | byte(pos + 6);
            out.width = (byte(pos + 7) << 8) | byte(pos + 8);
            for (int c = 0; c < byte(pos + 9); ++c) {
                const int hv = byte(pos + 11 + 3 * static_cast<std::size_t>(c));
                out.sampling.emplace_back(hv >> 4, hv & 15);
            }
        } else if (marker == 0xFE) {
            out.comment = s.substr(pos + 4, length - 2);
        } else if (marker == 0xDA) {
            break;
        }
        pos += 2 + length;
    }
    return out;
}

// A smooth test image (the formula of the committed cjpeg files).
TBitmap Gradient(TPixelFormat format, int width = 48, int height = 32) {
    TBitmap b;
    b.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>((200 - 2 * x - y) & 0xFF);
            row[3 * x + 1] = static_cast<std::uint8_t>((5 * y + 30) & 0xFF);
            row[3 * x + 2] = static_cast<std::uint8_t>((4 * x + 40) & 0xFF);
        }
    }
    b.SetPixelFormat(format);
    return b;
}

// Largest difference of any channel between two bitmaps of one size.
int MaxDifference(const TBitmap& a, const TBitmap& b) {
    int worst = 0;
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            const TColor p = a.PixelColor(x, y);
            const TColor q = b.PixelColor(x, y);
            worst = std::max({worst, std::abs(GetRValue(p) - GetRValue(q)),
                              std::abs(GetGValue(p) - GetGValue(q)),
                              std::abs(GetBValue(p) - GetBValue(q))});
        }
    }
    return worst;
}

TEST(JpegRead, DecodesFilesOfAnotherEncoderWithinTolerance) {
    const TBitmap colour = Gradient(TPixelFormat::pf24bit);
    TBitmap b; // 24-bit
    ASSERT_TRUE(ReadJpegFile(&b, ImagingData("cjpeg_colour_48x32.jpg"), false, 0).Complete());
    ASSERT_EQ(b.Width(), 48);
    ASSERT_EQ(b.Height(), 32);
    EXPECT_LE(MaxDifference(b, colour), 8); // 4:2:0 chroma at quality 95
    EXPECT_TRUE(b.Modified());

    // Colour into an 8-bit bitmap reads as grey (luminance), and keeps its palette.
    TBitmap grey;
    grey.SetPixelFormat(TPixelFormat::pf8bit);
    ASSERT_TRUE(ReadJpegFile(&grey, ImagingData("cjpeg_colour_48x32.jpg"), false, 0).Complete());
    ASSERT_EQ(grey.PixelFormat(), TPixelFormat::pf8bit);
    TBitmap expectedGrey = colour;
    expectedGrey.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_LE(MaxDifference(grey, expectedGrey), 4);

    // A grey file into 24 bits: equal R, G, B near 3x + 2y + 20.
    TBitmap rgb;
    ASSERT_TRUE(ReadJpegFile(&rgb, ImagingData("cjpeg_grey_48x32.jpg"), false, 0).Complete());
    for (int y = 0; y < 32; y += 5) {
        for (int x = 0; x < 48; x += 7) {
            const TColor c = rgb.PixelColor(x, y);
            EXPECT_EQ(GetRValue(c), GetBValue(c));
            EXPECT_NEAR(GetGValue(c), 3 * x + 2 * y + 20, 3);
        }
    }
    // Adopting the format: one component gives 8 bits, three give 24.
    ASSERT_TRUE(ReadJpegFile(&rgb, ImagingData("cjpeg_grey_48x32.jpg"), true, 0).Complete());
    EXPECT_EQ(rgb.PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_TRUE(ReadJpegFile(&grey, ImagingData("cjpeg_colour_48x32.jpg"), true, 0).Complete());
    EXPECT_EQ(grey.PixelFormat(), TPixelFormat::pf24bit);
}

TEST(JpegWrite, GreyIsOneComponentWithoutSubsamplingAndCarriesTheComment) {
    testing::TempDir dir;
    const TBitmap grey = Gradient(TPixelFormat::pf8bit);
    ASSERT_TRUE(WriteJpegFile(grey, dir / "grey.jpg", 92, true, "made by the tests"));
    const JpegLayout g = ParseMarkers(FileBytes(dir / "grey.jpg"));
    EXPECT_EQ(g.width, 48);
    EXPECT_EQ(g.height, 32);
    EXPECT_EQ(g.sampling, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_EQ(g.comment, "made by the tests");

    ASSERT_TRUE(WriteJpegFile(grey, dir / "three.jpg", 92, false, ""));
    const JpegLayout t = ParseMarkers(FileBytes(dir / "three.jpg"));
    EXPECT_EQ(t.sampling.size(), 3u);
    EXPECT_EQ(t.comment, "");

    // Read back: the grey file is close to its source.
    TBitmap back;
    back.SetPixelFormat(TPixelFormat::pf8bit);
    ASSERT_TRUE(ReadJpegFile(&back, dir / "grey.jpg", false, 0).Complete());
    EXPECT_LE(MaxDifference(back, grey), 4);
}

TEST(JpegWrite, AnotherDecoderReadsTheWrittenFile) {
    if (!std::filesystem::exists("/usr/bin/djpeg")) {
        GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) is not installed";
    }
    testing::TempDir dir;
    const TBitmap colour = Gradient(TPixelFormat::pf24bit);
    ASSERT_TRUE(WriteJpegFile(colour, dir / "c.jpg", 92, false, "comment"));
    const std::string command =
        "/usr/bin/djpeg -pnm -outfile '" + (dir / "c.ppm") + "' '" + (dir / "c.jpg") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string ppm = FileBytes(dir / "c.ppm");
    const std::string header = "P6\n48 32\n255\n";
    ASSERT_EQ(ppm.substr(0, header.size()), header);
    ASSERT_EQ(ppm.size(), header.size() + 48u * 32u * 3u);
    int worst = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 48; ++x) {
            const std::size_t at = header.size() + 3 * static_cast<std::size_t>(y * 48 + x);
            const TColor c = colour.PixelColor(x, y);
            worst = std::max({worst, std::abs(static_cast<std::uint8_t>(ppm[at]) - GetRValue(c)),
                              std::abs(static_cast<std::uint8_t>(ppm[at + 1]) - GetGValue(c)),
                              std::abs(static_cast<std::uint8_t>(ppm[at + 2]) - GetBValue(c))});
        }
    }
    EXPECT_LE(worst, 10);
}

// libjpeg's own one-pass coding of a picture with the settings of the writer, in memory.
std::vector<unsigned char> OnePass(const TBitmap& b, bool grey) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &data, &size);
    c.image_width = static_cast<JDIMENSION>(b.Width());
    c.image_height = static_cast<JDIMENSION>(b.Height());
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 92, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < b.Height(); ++y) {
        auto* row = const_cast<JSAMPROW>(b.ScanLine(y));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<unsigned char> out(data, data + size);
    std::free(data);
    return out;
}

// A large picture is coded in bands on every core, restart markers between them: it
// decodes, without a warning, to exactly the pixels of libjpeg's one-pass coding.
TEST(JpegWrite, APictureCodedInBandsDecodesAsOneCodedInOnePass) {
    testing::TempDir dir;
    for (const bool grey : {false, true}) {
        // Not a whole number of MCU rows, and noise so that every block differs.
        TBitmap picture = Gradient(TPixelFormat::pf24bit, 1001, 733);
        for (int y = 0; y < picture.Height(); ++y) {
            std::uint8_t* row = picture.ScanLine(y);
            for (int x = 0; x < 3 * picture.Width(); ++x) {
                row[x] = static_cast<std::uint8_t>(row[x] + (x * 7919 + y * 104729) % 23);
            }
        }
        if (grey) {
            picture.SetPixelFormat(TPixelFormat::pf8bit);
            picture.SetPalette(GrayRamp());
        }
        ASSERT_TRUE(WriteJpegFile(picture, dir / "b.jpg", 92, grey, ""));
        const std::string banded = FileBytes(dir / "b.jpg");
        EXPECT_NE(banded.find("\xFF\xDD"), std::string::npos) << "no restart interval";
        const std::vector<unsigned char> one = OnePass(picture, grey);
        TBitmap a, b;
        const TJpegReadResult readA = ReadJpegData(
            &a, {reinterpret_cast<const std::uint8_t*>(banded.data()), banded.size()}, true, 0);
        ReadJpegData(&b, {one.data(), one.size()}, true, 0);
        EXPECT_TRUE(readA.Complete());
        EXPECT_EQ(readA.Warning, "");
        ASSERT_EQ(a.Height(), 733);
        ASSERT_EQ(a.Bits().size(), b.Bits().size());
        EXPECT_TRUE(std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin())) << grey;
    }
}

TEST(JpegRead, ScaledReadsRoundTheSizeUp) {
    testing::TempDir dir;
    TBitmap big;
    big.SetPixelFormat(TPixelFormat::pf8bit);
    big.SetSize(1001, 999);
    ASSERT_TRUE(WriteJpegFile(big, dir / "big.jpg", 50, true, ""));
    const int expected[4][2] = {{1001, 999}, {501, 500}, {251, 250}, {126, 125}};
    for (int scale = 0; scale < 4; ++scale) {
        TBitmap b;
        ASSERT_TRUE(ReadJpegFile(&b, dir / "big.jpg", false, scale).Complete());
        EXPECT_EQ(b.Width(), expected[scale][0]);
        EXPECT_EQ(b.Height(), expected[scale][1]);
    }
}

TEST(JpegWrite, FailuresRaiseAndLeaveNoFile) {
    testing::TempDir dir;
    TBitmap wide;
    wide.SetPixelFormat(TPixelFormat::pf32bit);
    wide.SetSize(4, 4);
    try {
        WriteJpegFile(wide, dir / "a.jpg", 92, false, "");
        FAIL() << "a 32-bit bitmap was written";
    } catch (const EWriteError& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.substr(0, message.find('\n')), "Error writing JPEG to file");
        EXPECT_NE(e.Cause().find("32-bit"), std::string::npos) << e.Cause();
        EXPECT_EQ(e.Path(), dir / "a.jpg");
        EXPECT_NE(message.find("File: " + e.Path()), std::string::npos) << message;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "a.jpg"));
    TBitmap colour = Gradient(TPixelFormat::pf24bit);
    try {
        WriteJpegFile(colour, dir / "missing/folder/b.jpg", 92, false, "");
        FAIL() << "written into a missing folder";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Cause(), "No such file or directory");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    TBitmap empty;
    EXPECT_FALSE(WriteJpegFile(empty, dir / "c.jpg", 92, false, ""));
    EXPECT_FALSE(std::filesystem::exists(dir / "c.jpg"));
}

TEST(JpegRead, FailuresRaiseWithTheCauseAndTheFile) {
    testing::TempDir dir;
    EXPECT_THROW(ReadJpegFile(nullptr, ImagingData("cjpeg_grey_48x32.jpg"), true, 0),
                 std::invalid_argument);
    TBitmap b;
    try {
        ReadJpegFile(&b, dir / "none.jpg", true, 0);
        FAIL() << "a missing file was read";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Cause(), "No such file or directory");
        EXPECT_EQ(e.Path(), dir / "none.jpg");
    }

    TBitmap wide; // 32-bit without adopting: untouched
    wide.SetPixelFormat(TPixelFormat::pf32bit);
    wide.SetSize(3, 3);
    EXPECT_THROW(ReadJpegFile(&wide, ImagingData("cjpeg_grey_48x32.jpg"), false, 0),
                 EInvalidGraphicOperation);
    EXPECT_EQ(wide.Width(), 3);

    const auto failure = [&](const std::string& path) {
        try {
            ReadJpegFile(&b, path, true, 0);
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Path(), path);
            EXPECT_EQ(std::string(e.what()),
                      "JPEG image is not valid\n" + e.Cause() + "\nFile: " + path);
            return e.Cause();
        }
        return std::string("no error");
    };
    // libjpeg's own message is the cause.
    EXPECT_EQ(failure(dir.Write("garbage.jpg", "not a jpeg at all")),
              "Not a JPEG file: starts with 0x6e 0x6f");

    // A header that claims 60000 x 60000 pixels over 574 bytes.
    std::string lie = FileBytes(ImagingData("cjpeg_grey_48x32.jpg"));
    const std::size_t sof = lie.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    lie[sof + 5] = lie[sof + 7] = static_cast<char>(0xEA);
    lie[sof + 6] = lie[sof + 8] = static_cast<char>(0x60);
    const std::string reason = failure(dir.Write("lie.jpg", lie));
    EXPECT_NE(reason.find("cannot be held"), std::string::npos) << reason;
}

TEST(JpegRead, AFileCutShortKeepsItsDecodedRowsAndSaysHowMany) {
    // The grey fixture (48 x 32, one component: groups of 8 rows) cut halfway through
    // the coded data that follows its scan header.
    const std::string whole = FileBytes(ImagingData("cjpeg_grey_48x32.jpg"));
    const std::size_t sos = whole.find("\xFF\xDA");
    ASSERT_NE(sos, std::string::npos);
    const std::size_t data = sos + 2 +
                             ((static_cast<std::uint8_t>(whole[sos + 2]) << 8) |
                              static_cast<std::uint8_t>(whole[sos + 3]));
    testing::TempDir dir;
    const std::string cut = dir.Write("cut.jpg", whole.substr(0, (data + whole.size() - 2) / 2));

    TBitmap full;
    full.SetPixelFormat(TPixelFormat::pf8bit);
    ASSERT_TRUE(ReadJpegFile(&full, ImagingData("cjpeg_grey_48x32.jpg"), false, 0).Complete());
    TBitmap part;
    part.SetPixelFormat(TPixelFormat::pf8bit);
    const TJpegReadResult read = ReadJpegFile(&part, cut, false, 0);
    EXPECT_FALSE(read.Complete());
    EXPECT_EQ(read.RowsInHeader, 32);
    EXPECT_EQ(read.RowsDecoded % 8, 0);
    EXPECT_GE(read.RowsDecoded, 8);
    EXPECT_LE(read.RowsDecoded, 24);
    EXPECT_EQ(read.Warning, "Premature end of JPEG file");
    ASSERT_EQ(part.Height(), 32);
    for (int y = 0; y < read.RowsDecoded; ++y) {
        EXPECT_EQ(std::memcmp(part.ScanLine(y), full.ScanLine(y), 48), 0) << "row " << y;
    }
    EXPECT_NE(std::memcmp(part.ScanLine(31), full.ScanLine(31), 48), 0); // libjpeg's fill

    // Cut before the first row: nothing to keep, an error.
    EXPECT_THROW(ReadJpegFile(&part, dir.Write("head.jpg", whole.substr(0, data)), false, 0),
                 EInvalidGraphic);
}

TEST(JpegRead, FourComponentsArePremultiplied) {
    // A 4-component file made directly with libjpeg: every pixel (200, 100, 50, 128).
    testing::TempDir dir;
    const std::string path = dir / "four.jpg";
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr err{};
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, f);
        cinfo.image_width = 16;
        cinfo.image_height = 8;
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_CMYK;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 100, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<unsigned char> row;
        for (int x = 0; x < 16; ++x) {
            row.insert(row.end(), {200, 100, 50, 128});
        }
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&cinfo, &r, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::fclose(f);
    }
    TBitmap b;
    ASSERT_TRUE(ReadJpegFile(&b, path, true, 0).Complete());
    ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
    const std::uint8_t* p = b.ScanLine(4) + 4 * 7;
    EXPECT_NEAR(p[3], 128, 2);
    EXPECT_NEAR(p[2], 200 * 128 / 255, 2); // red
    EXPECT_NEAR(p[1], 100 * 128 / 255, 2);
    EXPECT_NEAR(p[0], 50 * 128 / 255, 2);

    TBitmap rgb; // without adopting: the premultiplied colour in 24 bits
    ASSERT_TRUE(ReadJpegFile(&rgb, path, false, 0).Complete());
    EXPECT_EQ(rgb.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_NEAR(GetRValue(rgb.PixelColor(3, 3)), 100, 2);
}

} // namespace
} // namespace vantorel
