// TBitmap's Windows bitmap (BMP) reader and writer, after Microsoft's description of
// BITMAPFILEHEADER, BITMAPCOREHEADER and BITMAPINFOHEADER (with the V4/V5 extensions
// read as far as their colour masks). Departures from a strict reader: the pixel offset
// of the file header is used only when it points past the headers and inside the file
// (otherwise the pixels are taken to follow the palette); the image-size field is not
// trusted for uncompressed data; the last row may lack its padding. Every size is
// checked against the bytes actually present before anything is allocated, so a lying
// header is refused instead of asking for gigabytes.
#include "common/Format.h"
#include "imaging/Bitmap.h"

#include "common/TextFile.h"
#include "imaging/FileErrors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>

namespace vantorel {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

const char* const kInvalidBitmap = "Bitmap image is not valid";

[[noreturn]] void Invalid(const std::string& reason) {
    throw EInvalidGraphic(kInvalidBitmap, reason);
}

std::uint16_t U16(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}
std::uint32_t U32(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | (static_cast<std::uint32_t>(d[at + 1]) << 8) |
           (static_cast<std::uint32_t>(d[at + 2]) << 16) |
           (static_cast<std::uint32_t>(d[at + 3]) << 24);
}

// One colour channel of a bit-field pixel, widened or narrowed to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit Channel(std::uint32_t m) : mask(m) {
        if (m != 0) {
            shift = std::countr_zero(m);
            bits = std::min(std::popcount(m >> shift), 32);
        }
    }
    std::uint8_t Level(std::uint32_t pixel) const {
        if (bits == 0) {
            return 0;
        }
        const std::uint64_t v = (pixel & mask) >> shift;
        if (bits >= 8) {
            return static_cast<std::uint8_t>(v >> (bits - 8));
        }
        const std::uint64_t top = (std::uint64_t{1} << bits) - 1;
        return static_cast<std::uint8_t>((v * 255 + top / 2) / top);
    }
};

void PutU16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void PutU32(std::string& out, std::uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

// What the file and information headers say about the pixels.
struct BmpHeader {
    std::int64_t width = 0;
    std::int64_t height = 0; // rows, whatever their order
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t colorsUsed = 0;
    std::uint32_t offBits = 0;
    std::uint32_t infoSize = 0;
    bool core = false; // BITMAPCOREHEADER: 16-bit sizes, 3-byte palette entries
    bool bitfields = false;
};

// The colour masks and the palette, and where the pixels start.
struct BmpColours {
    std::uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    std::vector<TRGBQuad> palette;
    std::size_t pixelsAt = 0;
};

BmpHeader ReadHeaders(std::span<const std::uint8_t> d) {
    const std::size_t n = d.size();
    if (n < kFileHeaderSize + 12 || d[0] != 'B' || d[1] != 'M') {
        Invalid("no bitmap file header");
    }
    BmpHeader h;
    h.offBits = U32(d, 10);
    h.infoSize = U32(d, 14);
    h.core = h.infoSize == 12;
    if (!h.core && (h.infoSize < 40 || h.infoSize > n - kFileHeaderSize)) {
        Invalid(Format("information header of %u bytes", h.infoSize));
    }
    if (h.core) {
        h.width = U16(d, 18);
        h.height = static_cast<std::int16_t>(U16(d, 20));
        h.bitCount = U16(d, 24);
    } else {
        h.width = static_cast<std::int32_t>(U32(d, 18));
        h.height = static_cast<std::int32_t>(U32(d, 22));
        h.bitCount = U16(d, 28);
        h.compression = U32(d, 30);
        h.colorsUsed = U32(d, 46);
    }
    h.topDown = h.height < 0;
    h.height = h.topDown ? -h.height : h.height;
    if (h.width < 0 || h.width > TBitmap::kMaxDimension || h.height > TBitmap::kMaxDimension) {
        Invalid(Format("size %d x %d", static_cast<long long>(h.width),
                       static_cast<long long>(h.height)));
    }
    h.bitfields = h.compression == kBiBitfields || h.compression == kBiAlphaBitfields;
    const int b = h.bitCount;
    if (!(b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32)) {
        Invalid(Format("%d bits per pixel", b));
    }
    if (!(h.compression == kBiRgb || (h.bitfields && (b == 16 || b == 32)))) {
        Invalid(Format("unsupported compression %u for %d bits per pixel", h.compression, b));
    }
    return h;
}

BmpColours ReadColours(std::span<const std::uint8_t> d, const BmpHeader& h) {
    const std::size_t n = d.size();
    BmpColours c;
    // Colour masks: inside a V2 or later header, else right after a 40-byte one.
    std::size_t tableAt = kFileHeaderSize + h.infoSize;
    if (h.bitfields) {
        const std::size_t maskCount = h.compression == kBiAlphaBitfields ? 4 : 3;
        std::size_t maskAt = kFileHeaderSize + 40;
        if (h.infoSize < 40 + 4 * maskCount) {
            tableAt += 4 * maskCount;
        }
        if (tableAt > n) {
            Invalid("file ends inside the colour masks");
        }
        for (std::size_t i = 0; i < maskCount && maskAt + 4 <= tableAt; ++i, maskAt += 4) {
            c.masks[i] = U32(d, maskAt);
        }
    } else if (h.bitCount == 16) {
        c.masks[0] = 0x7C00;
        c.masks[1] = 0x03E0;
        c.masks[2] = 0x001F;
    }

    // Palette: declared count, or the full table for the depth; a colour table beside
    // 16..32-bit pixels is kept as the platform keeps it.
    std::size_t entries = h.colorsUsed;
    if (h.bitCount <= 8 && entries == 0) {
        entries = std::size_t{1} << h.bitCount;
    }
    const std::size_t entrySize = h.core ? 3 : 4;
    if (entries > 256 && h.bitCount <= 8) {
        Invalid(Format("%u palette entries", h.colorsUsed));
    }
    entries = std::min<std::size_t>(entries, 256);
    const std::size_t paletteEnd = tableAt + entries * entrySize;
    if (paletteEnd > n) {
        Invalid("file ends inside the palette");
    }
    c.palette.resize(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t at = tableAt + i * entrySize;
        c.palette[i] = TRGBQuad{d[at], d[at + 1], d[at + 2], 0};
    }

    c.pixelsAt = h.offBits;
    if (c.pixelsAt < tableAt || c.pixelsAt >= n) {
        c.pixelsAt = paletteEnd;
    }
    return c;
}

// Bytes from one file row to the next.
std::int64_t FileStride(const BmpHeader& h) {
    return (h.width * h.bitCount + 31) / 32 * 4;
}

// Refuses a file whose pixel data is shorter than its header promises.
void CheckPixelBytes(std::span<const std::uint8_t> d, const BmpHeader& h, std::size_t pixelsAt) {
    const std::int64_t needed =
        h.height == 0 ? 0 : FileStride(h) * (h.height - 1) + (h.width * h.bitCount + 7) / 8;
    const std::int64_t present = static_cast<std::int64_t>(d.size() - std::min(d.size(), pixelsAt));
    if (needed > present) {
        Invalid(Format("file ends inside the pixel data (%d of %d bytes)",
                       static_cast<long long>(present), static_cast<long long>(needed)));
    }
}

TPixelFormat FormatOf(int bitCount) {
    switch (bitCount) {
    case 16:
        return TPixelFormat::pf16bit;
    case 24:
        return TPixelFormat::pf24bit;
    case 32:
        return TPixelFormat::pf32bit;
    default:
        return TPixelFormat::pf8bit; // palette indices, one per byte
    }
}

// Turns file rows into bitmap rows: palette indices one per byte, 16-bit pixels as 5-6-5,
// bit-field pixels through their masks.
class RowDecoder {
public:
    RowDecoder(const BmpHeader& h, const BmpColours& c)
        : bitCount_(h.bitCount), bitfields_(h.bitfields), width_(static_cast<std::size_t>(h.width)),
          red_(c.masks[0]), green_(c.masks[1]), blue_(c.masks[2]), alpha_(c.masks[3]) {}

    void Decode(const std::uint8_t* src, std::uint8_t* dst) const {
        const std::size_t w = width_;
        switch (bitCount_) {
        case 1:
        case 4:
            for (std::size_t x = 0; x < w; ++x) {
                const std::size_t bit = x * static_cast<std::size_t>(bitCount_);
                const int shift = 8 - bitCount_ - static_cast<int>(bit % 8);
                dst[x] =
                    static_cast<std::uint8_t>((src[bit / 8] >> shift) & ((1 << bitCount_) - 1));
            }
            break;
        case 8:
        case 24:
            std::memcpy(dst, src, w * static_cast<std::size_t>(bitCount_ / 8));
            break;
        case 16:
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
                const unsigned packed = ((red_.Level(v) >> 3u) << 11) |
                                        ((green_.Level(v) >> 2u) << 5) | (blue_.Level(v) >> 3u);
                dst[2 * x] = static_cast<std::uint8_t>(packed & 0xFF);
                dst[2 * x + 1] = static_cast<std::uint8_t>(packed >> 8);
            }
            break;
        case 32:
            if (!bitfields_) {
                std::memcpy(dst, src, w * 4);
                break;
            }
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint32_t v = U32({src + 4 * x, 4}, 0);
                dst[4 * x] = blue_.Level(v);
                dst[4 * x + 1] = green_.Level(v);
                dst[4 * x + 2] = red_.Level(v);
                dst[4 * x + 3] = alpha_.Level(v);
            }
            break;
        default:
            break;
        }
    }

private:
    int bitCount_;
    bool bitfields_;
    std::size_t width_;
    Channel red_, green_, blue_, alpha_;
};

} // namespace

void TBitmap::LoadFromStream(std::istream& stream) {
    LoadFromMemory(detail::ReadToEnd(stream));
}

void TBitmap::LoadFromFile(const std::string& fileName) {
    if (const auto file = TFileView::Open(fileName)) {
        detail::NamingFile(fileName, [&] { LoadFromBytes(file->Bytes()); });
        return;
    }
    detail::ReadFile(fileName, [this](std::istream& stream) { LoadFromStream(stream); });
}

void TBitmap::LoadFromMemory(std::span<const std::uint8_t> d) {
    const BmpHeader header = ReadHeaders(d);
    BmpColours colours = ReadColours(d, header);
    CheckPixelBytes(d, header, colours.pixelsAt);

    TBitmap result;
    result.format_ = FormatOf(header.bitCount);
    try {
        // Every pixel is written below.
        result.Reshape(static_cast<int>(header.width), static_cast<int>(header.height),
                       result.format_, false);
    } catch (const EInvalidGraphicOperation& e) {
        Invalid(e.what());
    }
    const RowDecoder decoder(header, colours);
    const std::int64_t stride = FileStride(header);
    for (std::int64_t row = 0; header.width > 0 && row < header.height; ++row) {
        const std::uint8_t* src = d.data() + colours.pixelsAt + row * stride;
        decoder.Decode(
            src, result.ScanLine(static_cast<int>(header.topDown ? row : header.height - 1 - row)));
    }
    width_ = result.width_;
    height_ = result.height_;
    stride_ = result.stride_;
    format_ = result.format_;
    pixels_ = std::move(result.pixels_);
    palette_ = std::move(colours.palette);
    modified_ = true;
}

void TBitmap::SaveToStream(std::ostream& stream) const {
    std::vector<TRGBQuad> table = palette_;
    if (format_ == TPixelFormat::pf8bit && table.empty()) {
        table = GrayRamp();
    }
    const bool masks = format_ == TPixelFormat::pf16bit;
    const std::uint32_t headersSize =
        static_cast<std::uint32_t>(kFileHeaderSize + 40 + (masks ? 12 : 0) + 4 * table.size());
    const std::uint32_t imageSize = static_cast<std::uint32_t>(pixels_.size());
    std::string head;
    head.reserve(headersSize);
    head += "BM";
    PutU32(head, headersSize + imageSize);
    PutU32(head, 0);
    PutU32(head, headersSize);
    PutU32(head, 40);
    PutU32(head, static_cast<std::uint32_t>(width_));
    PutU32(head, static_cast<std::uint32_t>(height_));
    PutU16(head, 1);
    PutU16(head, static_cast<std::uint32_t>(8 * BytesPerPixel(format_)));
    PutU32(head, masks ? kBiBitfields : kBiRgb);
    PutU32(head, imageSize);
    PutU32(head, 0);
    PutU32(head, 0);
    PutU32(head, static_cast<std::uint32_t>(table.size()));
    PutU32(head, 0);
    if (masks) {
        PutU32(head, 0xF800);
        PutU32(head, 0x07E0);
        PutU32(head, 0x001F);
    }
    for (const TRGBQuad& q : table) {
        head.push_back(static_cast<char>(q.Blue));
        head.push_back(static_cast<char>(q.Green));
        head.push_back(static_cast<char>(q.Red));
        head.push_back(0);
    }
    stream.write(head.data(), static_cast<std::streamsize>(head.size()));
    for (int y = height_ - 1; y >= 0; --y) {
        stream.write(reinterpret_cast<const char*>(ScanLine(y)), stride_);
    }
}

void TBitmap::SaveToFile(const std::string& fileName) {
    WriteFile(fileName);
}

void TBitmap::WriteFile(const std::string& fileName) const {
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file) {
        throw detail::CreateError(fileName);
    }
    SaveToStream(file);
    file.flush();
    if (!file) {
        throw EWriteError(Format("Error writing bitmap to file \"%s\"", fileName),
                          detail::SystemCause("the file cannot be written"), fileName);
    }
}

} // namespace vantorel
