// PNG input and output: files of another encoder (tools/make_png_fixtures.py) read pixel
// for pixel, what our written files contain, round trips, progress reports, failures.
#include "ImagingFixtures.h"
#include "TempDir.h"
#include "common/Clock.h"
#include "imaging/Canvas.h"
#include "imaging/zorPNGImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

namespace vantorel {
namespace {

std::string PngPath(const std::string& name) {
    return testing::ImagingData("png/" + name);
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The fixture script's sample formula.
int Sample(int depth, int x, int y, int c) {
    if (depth < 8) {
        return (x * 3 + y * 5 + c * 7) % (1 << depth);
    }
    if (depth == 8) {
        return (x * 37 + y * 91 + c * 53 + 5) % 256;
    }
    return (x * 4099 + y * 7919 + c * 12345 + 17) % 65536;
}
// A sample as one byte: small depths scaled to the full range, 16 bits by the high byte.
int Level(int depth, int x, int y, int c) {
    const int v = Sample(depth, x, y, c);
    return depth < 8 ? v * 255 / ((1 << depth) - 1) : depth == 16 ? v >> 8 : v;
}
TColor PaletteColour(int i) {
    return RGBColor(static_cast<std::uint8_t>((i * 7) % 256), static_cast<std::uint8_t>(255 - i),
                    static_cast<std::uint8_t>((i * 3) % 256));
}
// Colour s with alpha a (0 = clear) over black, as the copy blends it.
int OverBlack(int s, int a) {
    return a == 255 ? s : a * s / 255;
}
TColor Grey(int level) {
    const auto g = static_cast<std::uint8_t>(level);
    return RGBColor(g, g, g);
}

TPngImage ReadFixture(const std::string& name, bool forceColor) {
    TPngImage image;
    image.ForceColor = forceColor;
    image.LoadFromFile(PngPath(name));
    return image;
}

TBitmap ToBitmap(const TPngImage& image) {
    TBitmap bitmap;
    image.CopyToBitmap(bitmap, 0, 0);
    return bitmap;
}

std::string Chunk(const std::string& kind, const std::string& data) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((data.size() >> shift) & 0xFF);
    }
    const std::string body = kind + data;
    const auto crc =
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    out += body;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((crc >> shift) & 0xFF);
    }
    return out;
}

// The chunk kinds and bodies of a PNG held in memory.
std::vector<std::pair<std::string, std::string>> Chunks(const std::string& png) {
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
        std::size_t length = 0;
        for (int k = 0; k < 4; ++k) {
            length =
                (length << 8) | static_cast<std::uint8_t>(png[pos + static_cast<std::size_t>(k)]);
        }
        out.emplace_back(png.substr(pos + 4, 4), png.substr(pos + 8, length));
        pos += 12 + length;
    }
    return out;
}

struct FixtureCase {
    const char* file;
    bool forceColor;
    int bitDepth;
    int colorType;
    int channels;
    TPixelFormat format;
};

TEST(PngRead, EveryColourTypeAndDepthGivesTheEncodedPixels) {
    using enum TPixelFormat;
    const FixtureCase cases[] = {
        {"grey1.png", true, 1, 0, 3, pf24bit},      {"grey2.png", true, 2, 0, 3, pf24bit},
        {"grey4.png", true, 4, 0, 3, pf24bit},      {"grey8.png", true, 8, 0, 3, pf24bit},
        {"grey16.png", true, 16, 0, 3, pf24bit},    {"grey4.png", false, 4, 0, 1, pf8bit},
        {"grey16.png", false, 16, 0, 1, pf8bit},    {"palette1.png", true, 1, 3, 3, pf24bit},
        {"palette2.png", false, 2, 3, 1, pf8bit},   {"palette4.png", false, 4, 3, 1, pf8bit},
        {"palette8.png", false, 8, 3, 1, pf8bit},   {"palette8.png", true, 8, 3, 3, pf24bit},
        {"rgb8.png", true, 8, 2, 3, pf24bit},       {"rgb16.png", true, 16, 2, 3, pf24bit},
        {"rgba8.png", true, 8, 6, 4, pf24bit},      {"rgba16.png", true, 16, 6, 4, pf24bit},
        {"greyalpha8.png", true, 8, 4, 4, pf24bit}, {"greyalpha16.png", false, 16, 4, 2, pf8bit},
        {"rgb8_adam7.png", true, 8, 2, 3, pf24bit}, {"grey2_adam7.png", false, 2, 0, 1, pf8bit},
    };
    for (const FixtureCase& fc : cases) {
        SCOPED_TRACE(std::string(fc.file) + (fc.forceColor ? " with ForceColor" : " without"));
        const TPngImage image = ReadFixture(fc.file, fc.forceColor);
        EXPECT_EQ(image.BitDepth(), fc.bitDepth);
        EXPECT_EQ(image.ColorType(), fc.colorType);
        EXPECT_EQ(image.BytesPerPixel(), fc.channels);
        const TBitmap bitmap = ToBitmap(image);
        ASSERT_EQ(bitmap.PixelFormat(), fc.format);
        ASSERT_EQ(bitmap.Width(), image.Width());
        ASSERT_EQ(bitmap.Height(), image.Height());
        if (fc.colorType == 3 && !fc.forceColor) {
            ASSERT_EQ(image.Palette().size(), 1u << fc.bitDepth);
        }
        const int d = fc.bitDepth;
        int wrong = 0;
        for (int y = 0; y < image.Height(); ++y) {
            for (int x = 0; x < image.Width(); ++x) {
                TColor expected = 0;
                switch (fc.colorType) {
                case 0:
                    expected = Grey(Level(d, x, y, 0));
                    break;
                case 3:
                    expected = PaletteColour(Sample(d, x, y, 0));
                    break;
                case 2:
                    expected = RGBColor(Level(d, x, y, 0), Level(d, x, y, 1), Level(d, x, y, 2));
                    break;
                case 4:
                    expected = Grey(OverBlack(Level(d, x, y, 0), Level(d, x, y, 1)));
                    break;
                case 6: {
                    const int a = Level(d, x, y, 3);
                    expected =
                        RGBColor(OverBlack(Level(d, x, y, 0), a), OverBlack(Level(d, x, y, 1), a),
                                 OverBlack(Level(d, x, y, 2), a));
                    break;
                }
                }
                wrong += bitmap.PixelColor(x, y) != expected;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PngRead, DecodedRowsAreLittleEndianWithInvertedAlpha) {
    const TPngImage image = ReadFixture("rgba16.png", true);
    ASSERT_EQ(image.RowBytes(), 9u * 8u);
    const auto row = image.Row(2);
    for (int c = 0; c < 4; ++c) {
        const int v =
            row[2 * static_cast<std::size_t>(c)] | (row[2 * static_cast<std::size_t>(c) + 1] << 8);
        EXPECT_EQ(v, c == 3 ? 65535 - Sample(16, 0, 2, 3) : Sample(16, 0, 2, c));
    }
    EXPECT_THROW(image.Row(5), std::out_of_range);
}

TEST(PngRead, TransparencyChunksBecomeAlpha) {
    const TPngImage grey = ReadFixture("grey8_trns.png", false);
    EXPECT_EQ(grey.BytesPerPixel(), 2);
    const TBitmap greyBitmap = ToBitmap(grey);
    EXPECT_EQ(greyBitmap.PixelColor(0, 1), clBlack); // level 96 is the clear one
    EXPECT_EQ(greyBitmap.PixelColor(1, 1), Grey(Sample(8, 1, 1, 0)));

    // Palette entries 0..3 have alpha 0, 80, 160, 240; the copy blends over white here.
    const TPngImage palette = ReadFixture("palette8_trns.png", false);
    EXPECT_EQ(palette.BytesPerPixel(), 4);
    EXPECT_TRUE(palette.Palette().empty());
    TBitmap white;
    white.SetSize(palette.Width(), palette.Height());
    std::fill(white.Bits().begin(), white.Bits().end(), std::uint8_t{255});
    palette.CopyToBitmap(white, 0, 0);
    const int alphas[] = {0, 80, 160, 240};
    int checked = 0;
    for (int y = 0; y < palette.Height(); ++y) {
        for (int x = 0; x < palette.Width(); ++x) {
            const int i = Sample(8, x, y, 0);
            const int alpha = i < 4 ? alphas[i] : 255;
            const TColor s = PaletteColour(i);
            const auto blend = [&](int v) {
                const int a = 255 - alpha;
                return static_cast<std::uint8_t>(a == 0 ? v : (a * 255 + (255 - a) * v) / 255);
            };
            EXPECT_EQ(white.PixelColor(x, y),
                      RGBColor(blend(GetRValue(s)), blend(GetGValue(s)), blend(GetBValue(s))));
            ++checked;
        }
    }
    EXPECT_EQ(checked, 66);
}

TEST(PngRead, InterlacedImagesReportTheirPasses) {
    EXPECT_EQ(ReadFixture("rgb8_adam7.png", true).NumberOfPasses(), 7);
    EXPECT_EQ(ReadFixture("rgb8_adam7.png", true).Interlace(), 1);
    EXPECT_EQ(ReadFixture("rgb8.png", true).NumberOfPasses(), 0);
}

TEST(PngRead, FileGammaIsCorrectedForTheScreen) {
    const TBitmap bitmap = ToBitmap(ReadFixture("grey8_gamma10.png", false));
    for (int x = 0; x < 9; ++x) {
        const double v = Sample(8, x, 3, 0);
        const double expected = 255.0 * std::pow(v / 255.0, 1.0 / 2.2);
        EXPECT_NEAR(GetRValue(bitmap.PixelColor(x, 3)), expected, 1.0) << "x " << x;
    }
}

TEST(PngRead, TextTimeAndBackgroundChunks) {
    const TPngImage image = ReadFixture("chunks.png", true);
    const std::vector<std::string> expected = {
        "title=Lower-case key", "Author=Caf\u00e9 owner", "Description=Compressed words",
        "Comment=\u00fcber \u2713", "Software=after the image"};
    EXPECT_EQ(image.TextChk().Lines(), expected);
    EXPECT_EQ(image.Title, "Lower-case key");
    EXPECT_EQ(image.Author, "Caf\u00e9 owner");
    EXPECT_EQ(image.Description, "Compressed words");
    EXPECT_DOUBLE_EQ(image.LastModified(), EncodeDateTime(2026, 12, 8, 1, 2, 3));
    EXPECT_TRUE(image.Transparent());

    const TPngImage plain = ReadFixture("rgb8.png", true);
    EXPECT_TRUE(plain.TextChk().Empty());
    EXPECT_EQ(plain.LastModified(), 0.0);
    EXPECT_FALSE(plain.Transparent());
}

// A stream that cannot seek (so the reader cannot know its length), counting the
// largest single request the reader makes of it.
class CountingBuffer : public std::streambuf {
public:
    explicit CountingBuffer(std::string data) : data_(std::move(data)) {
        setg(data_.data(), data_.data(), data_.data() + data_.size());
    }
    std::streamsize largest = 0;

protected:
    std::streamsize xsgetn(char* s, std::streamsize n) override {
        largest = std::max(largest, n);
        return std::streambuf::xsgetn(s, n);
    }

private:
    std::string data_;
};

TEST(PngRead, ChunksLongerThanEightKilobytesAreRead) {
    CountingBuffer buffer(FileBytes(PngPath("long_text.png")));
    std::istream stream(&buffer);
    TPngImage image;
    image.ReadStream(stream);
    EXPECT_GT(buffer.largest, 8193);
    EXPECT_EQ(image.Description.size(), 20000u);
    EXPECT_EQ(image.Description.substr(0, 3), "AHO");

    // A text chunk beyond 16 MiB is read when the stream holds it; a length beyond the
    // stream is refused before libpng takes memory for it.
    const std::string plain = FileBytes(PngPath("grey8.png"));
    std::string bytes = plain;
    bytes.insert(33, Chunk("tEXt", "Huge" + std::string(1, '\0') + std::string(17 << 20, 'x')));
    std::istringstream huge(bytes);
    TPngImage big;
    big.ReadStream(huge);
    ASSERT_EQ(big.TextChk().Count(), 1);
    EXPECT_EQ(big.TextChk()[0].size(), (17u << 20) + 5);
    bytes = plain;
    bytes.insert(33, std::string("\x70\x00\x00\x00tEXtHuge", 12));
    std::istringstream lying(bytes);
    EXPECT_THROW(big.ReadStream(lying), EInvalidGraphic);

    const TBitmap profiled = ToBitmap(ReadFixture("icc_profile.png", true));
    EXPECT_EQ(profiled.PixelColor(3, 2),
              RGBColor(Sample(8, 3, 2, 0), Sample(8, 3, 2, 1), Sample(8, 3, 2, 2)));
}

TEST(PngRead, DamagedStreamsRaiseAndKeepNoPixels) {
    const auto message = [](const std::string& bytes) {
        TPngImage image;
        std::istringstream stream(bytes);
        try {
            image.ReadStream(stream);
        } catch (const EInvalidGraphic& e) {
            EXPECT_FALSE(image.HasPixels());
            return std::string(e.what());
        }
        return std::string("no error");
    };
    const auto file = [](const std::string& name) { return FileBytes(PngPath(name)); };
    EXPECT_EQ(message(file("not_png.png")), "Is not a valid PNG !");
    EXPECT_EQ(message(""), "Is not a valid PNG !");
    EXPECT_EQ(message("\x89PNG"), "Unexpected end of PNG stream");
    EXPECT_EQ(message(file("truncated.png")), "Unexpected end of PNG stream");
    EXPECT_EQ(message(file("bad_crc.png")), "IHDR: CRC error");
    EXPECT_EQ(message(file("bad_data.png")), "IDAT: incorrect data check");

    // Headers promising more pixels than a bitmap holds, or than the rest could inflate to.
    const std::string signature = "\x89PNG\r\n\x1a\n";
    const auto ihdr = [](std::uint32_t w, std::uint32_t h, char depth, char type) {
        std::string d;
        for (std::uint32_t v : {w, h}) {
            for (int shift = 24; shift >= 0; shift -= 8) {
                d += static_cast<char>((v >> shift) & 0xFF);
            }
        }
        return Chunk("IHDR", d + depth + type + std::string(3, '\0'));
    };
    const std::string tail =
        Chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + Chunk("IEND", "");
    EXPECT_EQ(message(signature + ihdr(60000, 60000, 16, 6) + tail), "Image too large");
    EXPECT_EQ(message(signature + ihdr(5000, 5000, 8, 2) + tail),
              "Image too large for its file (cut short?)");
    EXPECT_EQ(message(signature + ihdr(70000, 1, 8, 0) + tail), "Invalid IHDR data");

    TPngImage image;
    std::istringstream stream(file("truncated.png"));
    EXPECT_THROW(image.ReadStream(stream), EInvalidGraphic);
    EXPECT_EQ(image.Width(), 16); // the header was read before the failure

    // From a file: libpng's message is also the cause, and the file is named.
    try {
        image.LoadFromFile(PngPath("bad_crc.png"));
        FAIL() << "a damaged file was read";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(std::string(e.what()), "IHDR: CRC error\nFile: " + PngPath("bad_crc.png"));
        EXPECT_EQ(e.Cause(), "IHDR: CRC error");
    }
}

TEST(PngWrite, EveryRowLayoutReadsBackUnchanged) {
    struct Layout {
        int colorType;
        int bitDepth;
        int interlace;
    };
    for (const Layout& l :
         {Layout{0, 8, 0}, Layout{0, 16, 1}, Layout{2, 8, 0}, Layout{2, 16, 0}, Layout{3, 8, 1},
          Layout{4, 8, 0}, Layout{4, 16, 0}, Layout{6, 8, 1}, Layout{6, 16, 0}}) {
        SCOPED_TRACE(::testing::Message()
                     << "colour type " << l.colorType << " depth " << l.bitDepth);
        const int channels = l.colorType == 2 ? 3 : l.colorType == 4 ? 2 : l.colorType == 6 ? 4 : 1;
        const int width = 7, height = 5;
        std::vector<std::uint8_t> rows(
            static_cast<std::size_t>(width * height * channels * l.bitDepth / 8));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i] = static_cast<std::uint8_t>(i * 31 + 7);
        }
        TPngImage image;
        std::vector<TRGBQuad> palette(256);
        for (int i = 0; i < 256; ++i) {
            palette[static_cast<std::size_t>(i)] = TRGBQuad{static_cast<std::uint8_t>(i), 1, 2, 0};
        }
        image.SetPixels(width, height, l.colorType, l.bitDepth, rows, palette);
        image.SetInterlace(l.interlace);
        std::stringstream stream;
        image.WriteStream(stream);

        TPngImage back;
        back.ForceColor = false;
        back.ReadStream(stream);
        EXPECT_EQ(back.ColorType(), l.colorType);
        EXPECT_EQ(back.BitDepth(), l.bitDepth);
        EXPECT_EQ(back.Interlace(), l.interlace);
        ASSERT_EQ(back.RowBytes() * static_cast<std::size_t>(height), rows.size());
        for (int y = 0; y < height; ++y) {
            const auto row = back.Row(y);
            EXPECT_TRUE(std::equal(row.begin(), row.end(),
                                   rows.begin() + static_cast<std::ptrdiff_t>(y * row.size())));
        }
        if (l.colorType == 3) {
            EXPECT_EQ(back.Palette(), palette);
        }
    }
}

TEST(PngWrite, ReadImagesWriteBackTheSamePicture) {
    for (const char* name : {"palette4.png", "grey2_adam7.png", "rgba16.png", "grey16.png"}) {
        for (const bool force : {true, false}) {
            SCOPED_TRACE(std::string(name) + (force ? " with ForceColor" : " without"));
            TPngImage first = ReadFixture(name, force);
            testing::TempDir dir;
            first.SaveToFile(dir / "copy.png");
            TPngImage second;
            second.ForceColor = force;
            second.LoadFromFile(dir / "copy.png");
            const TBitmap a = ToBitmap(first), b = ToBitmap(second);
            EXPECT_TRUE(
                std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin(), b.Bits().end()));
            EXPECT_EQ(a.Palette(), b.Palette());
        }
    }
}

// A bitmap written from its own rows makes the file of the image it would be assigned to,
// replacing the old one in its place: the mode kept, a link written through, no temporary
// file left.
TEST(PngWrite, BitmapsAreWrittenAsTheirAssignedImagesOverTheOldFile) {
    namespace fs = std::filesystem;
    const FixedClock clock(EncodeDateTime(2026, 12, 8, 1, 2, 3), 0);
    const ScopedClock scoped(clock);
    testing::TempDir dir;
    const std::string real = dir.Write("real.png", "old");
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(real, mode);
    fs::create_symlink(real, dir / "link.png");
    for (const TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf8bit}) {
        SCOPED_TRACE(format == TPixelFormat::pf8bit ? "8-bit, through the link" : "24-bit");
        TBitmap bitmap = ToBitmap(ReadFixture("rgb8.png", true));
        bitmap.SetPixelFormat(format);
        TPngImage assigned;
        assigned.Software = "Vantorel";
        assigned.AssignBitmap(bitmap);
        assigned.SaveToFile(dir / "assigned.png");
        TPngImage streamed;
        streamed.Software = "Vantorel";
        streamed.SaveBitmapToFile(bitmap, format == TPixelFormat::pf8bit ? dir / "link.png" : real);
        EXPECT_FALSE(streamed.HasPixels());
        EXPECT_EQ(FileBytes(real), FileBytes(dir / "assigned.png"));
        EXPECT_EQ(fs::status(real).permissions(), mode);
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3);
}

TEST(PngWrite, TextChunksOnlyWhenNotBlankAndTheTimeFromTheClock) {
    const FixedClock clock(EncodeDateTime(2026, 12, 8, 1, 2, 3), 0);
    const ScopedClock scoped(clock);
    TPngImage image;
    image.SetPixels(2, 2, 0, 8, {1, 2, 3, 4});
    image.Software = "   ";
    image.Author = "x";
    image.Description = "Caf\u00e9 \u2713";
    std::ostringstream stream;
    image.WriteStream(stream);
    std::vector<std::string> texts, kinds;
    for (const auto& [kind, body] : Chunks(stream.str())) {
        kinds.push_back(kind);
        if (kind == "tEXt") {
            texts.push_back(body);
        }
        if (kind == "tIME") {
            EXPECT_EQ(body, std::string("\x07\xea\x0c\x08\x01\x02\x03", 7));
        }
    }
    EXPECT_EQ(texts, (std::vector<std::string>{std::string("Author\0x", 8),
                                               std::string("Description\0Caf\xe9 ?", 18)}));
    EXPECT_EQ(kinds, (std::vector<std::string>{"IHDR", "tEXt", "tEXt", "IDAT", "tIME", "IEND"}));

    std::istringstream in(stream.str());
    TPngImage back;
    back.ReadStream(in);
    EXPECT_DOUBLE_EQ(back.LastModified(), EncodeDateTime(2026, 12, 8, 1, 2, 3));
    EXPECT_EQ(back.Description, "Caf\u00e9 ?");
}

TEST(PngWrite, ImageDataInflatesToBigEndianUnfilteredRows) {
    // Only zlib between us and the rows: with the filter mask "none" every row is its
    // filter byte 0 and the samples big-endian, alpha opaque = 65535 again.
    TPngImage image;
    std::vector<std::uint8_t> rows;
    for (int i = 0; i < 3 * 2 * 4; ++i) {
        const int v = i * 2500 + 3;
        rows.push_back(static_cast<std::uint8_t>(v & 0xFF));
        rows.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    image.SetPixels(3, 2, 6, 16, rows);
    image.Filters = 8;
    std::ostringstream out;
    image.WriteStream(out);
    std::string compressed;
    for (const auto& [kind, body] : Chunks(out.str())) {
        if (kind == "IDAT") {
            compressed += body;
        }
    }
    std::vector<Bytef> raw(2 * (1 + 3 * 8) + 1);
    uLongf length = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &length, reinterpret_cast<const Bytef*>(compressed.data()),
                         static_cast<uLong>(compressed.size())),
              Z_OK);
    ASSERT_EQ(length, 2u * (1 + 3 * 8));
    for (int y = 0; y < 2; ++y) {
        const Bytef* row = raw.data() + y * 25;
        EXPECT_EQ(row[0], 0);
        for (int k = 0; k < 12; ++k) {
            const int i = y * 12 + k;
            const int v = (row[1 + 2 * k] << 8) | row[2 + 2 * k];
            EXPECT_EQ(v, k % 4 == 3 ? 65535 - (i * 2500 + 3) : i * 2500 + 3) << "sample " << i;
        }
    }
}

// A large picture with one filter is deflated in bands on every core: its chunks come in
// libpng's order and its image data inflate, Adler-32 and all, to exactly the rows
// libpng itself deflates.
TEST(PngWrite, RowsDeflatedInBandsAreTheRowsLibpngDeflates) {
    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(1001, 733);
    for (int y = 0; y < picture.Height(); ++y) {
        std::uint8_t* row = picture.ScanLine(y);
        for (int i = 0; i < 3 * picture.Width(); ++i) {
            row[i] = static_cast<std::uint8_t>(i / 5 + y + (i * 7919 + y * 104729) % 13);
        }
    }
    const auto write = [&](bool watched, std::vector<std::string>& kinds) {
        TPngImage png;
        png.Software = "test";
        png.CompressionLevel = 1;
        png.Filters = 0x10; // sub
        if (watched) {      // rows watched: libpng codes them
            png.OnProgress = [](TPngImage&, TProgressStage, int, const std::string&) {};
        }
        testing::TempDir dir;
        png.SaveBitmapToFile(picture, dir / "p.png");
        std::ifstream in(dir / "p.png", std::ios::binary);
        const std::string file{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        std::string compressed;
        for (const auto& [kind, body] : Chunks(file)) {
            if (kinds.empty() || kinds.back() != kind) {
                kinds.push_back(kind);
            }
            if (kind == "IDAT") {
                compressed += body;
            }
        }
        std::vector<Bytef> raw(733u * (1 + 3 * 1001) + 1);
        uLongf length = raw.size();
        EXPECT_EQ(uncompress(raw.data(), &length, reinterpret_cast<const Bytef*>(compressed.data()),
                             static_cast<uLong>(compressed.size())),
                  Z_OK);
        raw.resize(length);
        return raw;
    };
    std::vector<std::string> bandedKinds, libpngKinds;
    const std::vector<Bytef> banded = write(false, bandedKinds);
    const std::vector<Bytef> libpng = write(true, libpngKinds);
    EXPECT_EQ(banded.size(), 733u * (1 + 3 * 1001));
    EXPECT_TRUE(banded == libpng);
    EXPECT_EQ(bandedKinds, libpngKinds);
}

TEST(PngWrite, FailuresRaiseAndWriteNothingUsable) {
    TPngImage empty;
    std::ostringstream stream;
    EXPECT_THROW(empty.WriteStream(stream), EWriteError);
    EXPECT_TRUE(stream.str().empty());

    TPngImage image;
    image.SetPixels(2, 1, 2, 8, {1, 2, 3, 4, 5, 6});
    image.CompressionLevel = 12;
    EXPECT_THROW(image.WriteStream(stream), EWriteError);

    testing::TempDir dir;
    const std::string kept = dir.Write("kept.png", "old");
    EXPECT_THROW(image.SaveToFile(kept), EWriteError);
    EXPECT_EQ(FileBytes(kept), "old");
    image.CompressionLevel = 9;
    EXPECT_THROW(image.SaveToFile(dir / "no/such/folder/x.png"), EWriteError);
    EXPECT_THROW(image.LoadFromFile(dir / "missing.png"), EFOpenError);
    EXPECT_THROW(image.SetPixels(2, 1, 3, 16, std::vector<std::uint8_t>(4), {TRGBQuad{}}),
                 std::invalid_argument);
    EXPECT_THROW(image.SetPixels(2, 1, 2, 8, {1, 2, 3}), std::invalid_argument);
}

TEST(PngProgress, RowReportsAreRateLimitedByTheTickSource) {
    for (const bool writing : {false, true}) {
        SCOPED_TRACE(writing ? "writing" : "reading");
        std::uint64_t ticks = 0;
        std::vector<std::string> reports;
        TPngImage image;
        image.TickCount = [&ticks] { return ticks += 40; }; // three calls per report
        image.OnProgress = [&](TPngImage&, TProgressStage stage, int percent,
                               const std::string& text) {
            reports.push_back(std::to_string(static_cast<int>(stage)) + " " +
                              std::to_string(percent) + " " + text);
        };
        if (writing) {
            image.SetPixels(3, 9, 0, 8, std::vector<std::uint8_t>(27));
            std::ostringstream out;
            image.WriteStream(out);
        } else {
            image.LoadFromFile(PngPath("grey8_gamma10.png")); // 5 rows
        }
        const std::vector<std::string> expected =
            writing
                ? std::vector<std::string>{"0 0 Starting PNG write", "1 33 Running", "1 66 Running",
                                           "1 100 Running", "2 100 Ended PNG write"}
                : std::vector<std::string>{"0 0 Start PNG read", "1 60 Running",
                                           "2 100 Ended PNG read"};
        EXPECT_EQ(reports, expected);
    }
}

TEST(PngProgress, AHandlerThatThrowsStopsTheReadCleanly) {
    TPngImage image;
    std::uint64_t ticks = 0;
    image.TickCount = [&ticks] { return ticks += 1000; };
    image.OnProgress = [](TPngImage&, TProgressStage stage, int, const std::string&) {
        if (stage == TProgressStage::psRunning) {
            throw std::runtime_error("cancelled");
        }
    };
    EXPECT_THROW(image.LoadFromFile(PngPath("rgb8_adam7.png")), std::runtime_error);
    EXPECT_FALSE(image.HasPixels());
    image.OnProgress = nullptr;
    image.LoadFromFile(PngPath("rgb8_adam7.png"));
    EXPECT_TRUE(image.HasPixels());
}

TEST(PngThreads, TwoThreadsReadAndWriteAtOnce) {
    // Each thread writes a picture of its own, reads it back and reads a copy cut short,
    // over and over: state shared between reads would mix pictures or messages (and
    // ThreadSanitizer would say so).
    const auto work = [](int seed, int& faults) {
        std::vector<std::uint8_t> rows(64 * 48 * 3);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i] = static_cast<std::uint8_t>(i * static_cast<std::size_t>(seed) % 251);
        }
        TPngImage image;
        image.SetPixels(64, 48, 2, 8, rows);
        image.TickCount = [] { return std::uint64_t{0}; }; // no running reports
        int reports = 0;
        image.OnProgress = [&reports](TPngImage&, TProgressStage, int, const std::string&) {
            ++reports;
        };
        for (int round = 0; round < 40; ++round) {
            std::stringstream written;
            image.WriteStream(written);
            TPngImage back;
            back.ReadStream(written);
            for (int y = 0; y < 48; ++y) {
                const auto row = back.Row(y);
                faults += !std::equal(row.begin(), row.end(), rows.begin() + y * 64 * 3);
            }
            std::istringstream cut(written.str().substr(0, written.str().size() / 2));
            try {
                back.ReadStream(cut);
                ++faults;
            } catch (const EInvalidGraphic& e) {
                faults += std::string(e.what()) != "Unexpected end of PNG stream";
            }
        }
        faults += reports != 40 * 2;
    };
    int faultsA = 0;
    int faultsB = 0;
    std::thread a(work, 7, std::ref(faultsA));
    std::thread b(work, 13, std::ref(faultsB));
    a.join();
    b.join();
    EXPECT_EQ(faultsA, 0);
    EXPECT_EQ(faultsB, 0);
}

TEST(PngBitmap, CopyGrowsTheBitmapAndKeepsWhatItHeld) {
    const TPngImage image = ReadFixture("rgb8.png", true);
    TBitmap bitmap;
    bitmap.SetSize(20, 2);
    bitmap.Canvas().Brush.Color = clYellow;
    bitmap.Canvas().FillRect(0, 0, 20, 2);
    image.CopyToBitmap(bitmap, 4, 1);
    EXPECT_EQ(bitmap.Width(), 20);
    EXPECT_EQ(bitmap.Height(), 6);
    EXPECT_EQ(bitmap.PixelColor(3, 1), clYellow);
    EXPECT_EQ(bitmap.PixelColor(4, 1),
              RGBColor(Sample(8, 0, 0, 0), Sample(8, 0, 0, 1), Sample(8, 0, 0, 2)));
    EXPECT_EQ(bitmap.PixelColor(4, 0), clYellow);
    EXPECT_THROW(image.CopyToBitmap(bitmap, TBitmap::kMaxDimension - 8, 0),
                 EInvalidGraphicOperation);
    EXPECT_THROW(image.CopyToBitmap(bitmap, 0, TBitmap::kMaxDimension - 4),
                 EInvalidGraphicOperation);
}

TEST(PngGraphic, SharesItsImageAndRefusesSizeChanges) {
    TPngGraphic graphic;
    EXPECT_TRUE(graphic.Empty());
    EXPECT_TRUE(graphic.Transparent());
    EXPECT_THROW(graphic.LoadFromFile(PngPath("not_png.png")), EInvalidGraphic);
    EXPECT_TRUE(graphic.Empty());
    graphic.LoadFromFile(PngPath("rgb8.png"));
    EXPECT_EQ(graphic.Width(), 9);
    EXPECT_EQ(graphic.Height(), 5);

    TPngGraphic other;
    other.Assign(graphic);
    EXPECT_EQ(other.Image(), graphic.Image());
    other.LoadFromFile(PngPath("grey1.png"));
    EXPECT_EQ(graphic.Width(), 13); // one image, seen by both

    TBitmap target;
    target.SetSize(20, 10);
    graphic.Draw(target.Canvas());
    EXPECT_EQ(target.PixelColor(12, 6), Grey(Level(1, 12, 6, 0)));
    EXPECT_EQ(target.PixelColor(13, 6), clBlack);

    const auto message = [](auto action) {
        try {
            action();
        } catch (const EInvalidGraphicOperation& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(message([&] { graphic.SetHeight(3); }), "Cannot set height on a TPngGraphic");
    EXPECT_EQ(message([&] { graphic.SetWidth(3); }), "Cannot set width on a TPngGraphic");
    EXPECT_EQ(message([&] { graphic.LoadFromClipboardFormat(); }),
              "Cannot load a TPngGraphic from the Clipboard");
    EXPECT_EQ(message([&] { graphic.SaveToClipboardFormat(); }),
              "Cannot save a TPngGraphic to the Clipboard");
    std::ostringstream out;
    EXPECT_FALSE(message([&] { TPngGraphic().SaveToStream(out); }).empty());
}

} // namespace
} // namespace vantorel
