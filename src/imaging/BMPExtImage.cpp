// TExtBitmap. Departures from the operations it follows: the palette repair also points
// the file header's pixel offset at the pixels that now follow the shortened palette
// (the platform reader here honours that offset), and it is applied only when the file
// is long enough to hold a full palette and the pixels, so a file that truly carries
// 200 or 224 entries is not cut; the 180-degree turn swaps the rows in place.
#include "imaging/BMPExtImage.h"

#include "common/Parallel.h"
#include "imaging/FileErrors.h"
#include "imaging/PixelRows.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <iterator>
#include <span>
#include <vector>

namespace vantorel {

namespace {

constexpr std::size_t kHeadersSize = 54;
constexpr std::size_t kFullPaletteEnd = kHeadersSize + 4 * 256;

std::uint32_t U32(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | (static_cast<std::uint32_t>(d[at + 1]) << 8) |
           (static_cast<std::uint32_t>(d[at + 2]) << 16) |
           (static_cast<std::uint32_t>(d[at + 3]) << 24);
}
void SetU32(TByteBuffer& d, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        d[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint16_t U16(std::span<const std::uint8_t> d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}

// The file with one of the two header repairs applied, or nullopt-like empty when
// neither applies.
TByteBuffer Repaired(std::span<const std::uint8_t> file) {
    const std::uint32_t colorsUsed = U32(file, 46);
    const std::uint32_t colorsImportant = U32(file, 50);
    const auto width = static_cast<std::int32_t>(U32(file, 18));
    const auto height = static_cast<std::int32_t>(U32(file, 22));
    const std::int64_t rows = std::llabs(static_cast<std::int64_t>(height));
    const bool plausible = width > 0 && width <= TBitmap::kMaxDimension &&
                           rows <= TBitmap::kMaxDimension && U16(file, 28) <= 32;
    if (!plausible) {
        return {}; // the reader will refuse the file anyway
    }
    if (colorsUsed == colorsImportant && (colorsUsed == 200 || colorsUsed == 224)) {
        const std::size_t k = colorsUsed;
        const std::int64_t stride = (std::int64_t{width} * U16(file, 28) + 31) / 32 * 4;
        const std::int64_t pixels = std::max<std::int64_t>(stride, 0) * rows;
        if (static_cast<std::int64_t>(file.size()) <
            static_cast<std::int64_t>(kFullPaletteEnd) + pixels) {
            return {};
        }
        TByteBuffer out(
            file.begin(), file.begin() + static_cast<std::ptrdiff_t>(kHeadersSize + 4 * k));
        out.insert(out.end(), file.begin() + kFullPaletteEnd, file.end());
        SetU32(out, 2, static_cast<std::uint32_t>(out.size()));
        SetU32(out, 10, static_cast<std::uint32_t>(kHeadersSize + 4 * k));
        return out;
    }
    if (U16(file, 26) == 1 && U16(file, 28) == 8 && width == 2080 &&
        static_cast<std::int64_t>(U32(file, 34)) != std::int64_t{width} * rows) {
        TByteBuffer out(file.begin(), file.end());
        SetU32(out, 34, static_cast<std::uint32_t>(std::int64_t{width} * rows));
        return out;
    }
    return {};
}

// Every byte of an 8-bit bitmap's pixels through the table, the rows shared among the
// cores: each run passes a whole picture through one.
void MapBytes(TBitmap& bitmap, const std::array<std::uint8_t, 256>& table) {
    const int width = bitmap.Width();
    const long long rows = bitmap.Height();
    ForEachPart(rows, ThreadsFor(rows * width, 1 << 20), [&](long long first, long long end) {
        for (long long y = first; y < end; ++y) {
            std::uint8_t* row = bitmap.ScanLine(static_cast<int>(y));
            for (int x = 0; x < width; ++x) {
                row[x] = table[row[x]];
            }
        }
    });
}

} // namespace

TExtBitmap::TExtBitmap() = default;

void TExtBitmap::LoadFromBytes(std::span<const std::uint8_t> file) {
    TByteBuffer repaired;
    if (file.size() > kHeadersSize && file[0] == 'B' && file[1] == 'M') {
        repaired = Repaired(file);
    }
    try {
        LoadFromMemory(repaired.empty() ? file : std::span<const std::uint8_t>(repaired));
        return;
    } catch (const EInvalidGraphic&) {
        // Some writers append two stray bytes; read the file once more without them.
    }
    LoadFromMemory(file.first(file.size() >= 2 ? file.size() - 2 : 0));
}

void TExtBitmap::LoadFromStream(std::istream& stream) {
    const std::streampos start = stream.tellg();
    const TByteBuffer rest = detail::ReadToEnd(stream);
    if (start == std::streampos(0)) {
        LoadFromBytes(rest);
        return;
    }
    try {
        LoadFromMemory(rest);
        return;
    } catch (const EInvalidGraphic&) {
        // Some writers append two stray bytes; read the whole stream once more without them.
    }
    TByteBuffer whole;
    stream.clear();
    if (stream.seekg(0).good()) {
        whole = detail::ReadToEnd(stream);
    } else {
        whole = rest;
    }
    whole.resize(whole.size() >= 2 ? whole.size() - 2 : 0);
    LoadFromMemory(whole);
}

void TExtBitmap::SaveToFile(const std::string& fileName) {
    if (PixelFormat() == TPixelFormat::pf24bit) {
        ClearPalette();
    }
    TBitmap::SaveToFile(fileName);
}

void TExtBitmap::EnsureGrayPalette() {
    if (PixelFormat() != TPixelFormat::pf8bit || Palette().empty()) {
        return;
    }
    std::vector<TRGBQuad> ramp = GrayRamp();
    if (Palette() != ramp) {
        SetPalette(std::move(ramp));
    }
}

void TExtBitmap::ToGreyLevels() {
    std::vector<TRGBQuad> ramp = GrayRamp();
    if (PixelFormat() != TPixelFormat::pf8bit) {
        SetPixelFormat(TPixelFormat::pf8bit); // grey levels under the ramp
        return;
    }
    if (Palette() == ramp) {
        return;
    }
    if (Palette().empty()) {
        SetPalette(std::move(ramp)); // the levels are the indices already
        return;
    }
    std::array<std::uint8_t, 256> level{};
    const std::vector<TRGBQuad>& palette = Palette();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        level[i] = detail::GreyLevel(palette[i].Red, palette[i].Green, palette[i].Blue);
    }
    for (int y = 0; y < Height(); ++y) {
        std::uint8_t* row = ScanLine(y);
        for (int x = 0; x < Width(); ++x) {
            row[x] = level[row[x]];
        }
    }
    SetPalette(std::move(ramp));
}

void TExtBitmap::SampleRows(int first, int step) {
    const int rowStep = Height() / 10 + 1;
    for (int y = Height() - 1; y >= 0; --y) {
        if (y % rowStep != 0) {
            continue;
        }
        const std::uint8_t* row = ScanLine(y) + first;
        for (int x = 0; x < Width(); ++x) {
            ++histogram_.Bins[row[static_cast<std::ptrdiff_t>(x) * step]];
        }
    }
}

bool TExtBitmap::BuildEqualizationTable(int lower, int upper, bool clip, double limit,
                                        std::array<std::uint8_t, 256>& table) {
    if (upper - 10 < lower || Height() == 0 || Width() == 0 ||
        PixelFormat() != TPixelFormat::pf8bit) {
        return false;
    }
    histogram_.Clear();
    SampleRows();
    if (lower > 0) {
        for (int i = 0; i <= std::min(lower, 255); ++i) {
            histogram_.Bins[static_cast<std::size_t>(i)] = 0;
        }
    }
    if (upper < 255) {
        for (int i = std::max(upper, 0); i <= 255; ++i) {
            histogram_.Bins[static_cast<std::size_t>(i)] = 0;
        }
    }
    histogram_.Compute();
    std::int64_t total = histogram_.Total;
    if (total == 0) {
        return false;
    }
    std::array<std::int64_t, 256> h{};
    std::copy(histogram_.Bins.begin(), histogram_.Bins.end(), h.begin());
    const double c = clip ? limit : 0.0;
    if (c != 0.0) {
        const auto cap =
            static_cast<std::int64_t>(std::nearbyint(static_cast<double>(total) * c / 256.0));
        if (cap != 0) {
            total = 0;
            for (std::int64_t& count : h) {
                count = std::min(count, cap);
                total += count;
            }
        }
    }
    if (total <= 0) {
        return false;
    }
    std::array<int, 256> t{};
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        t[i] = static_cast<int>(
            std::trunc(static_cast<double>(sum) * 255.99 / static_cast<double>(total)));
        sum += h[i];
    }
    table[0] = static_cast<std::uint8_t>(t[0]);
    table[255] = static_cast<std::uint8_t>(t[255]);
    for (std::size_t i = 1; i < 255; ++i) {
        table[i] = static_cast<std::uint8_t>((t[i - 1] + t[i] + t[i + 1]) / 3);
    }
    return true;
}

bool TExtBitmap::EqualizeContrast(int lower, int upper, bool clip, double limit) {
    std::array<std::uint8_t, 256> table{};
    if (!BuildEqualizationTable(lower, upper, clip, limit, table)) {
        return false;
    }
    MapBytes(*this, table);
    SetModified(true);
    return true;
}

bool TExtBitmap::BuildStretchTable(int first, int step, double maximumGain,
                                   std::array<std::uint8_t, 256>& table) {
    histogram_.Clear();
    histogram_.LowPercent = 0.5f;
    histogram_.HighPercent = 99.5f;
    SampleRows(first, step);
    histogram_.Compute();
    const int low = histogram_.Low;
    const int range = histogram_.High - low;
    if (range <= 8) {
        return false;
    }
    const double gain = std::min(255.0 / range, maximumGain);
    for (int i = 0; i < 256; ++i) {
        const double v = std::nearbyint((i - low) * gain);
        table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
    }
    return true;
}

void TExtBitmap::StretchContrast(double maximumGain) {
    if (PixelFormat() != TPixelFormat::pf8bit || Height() < 2 || Width() == 0) {
        return;
    }
    std::array<std::uint8_t, 256> table{};
    if (!BuildStretchTable(0, 1, maximumGain, table)) {
        return;
    }
    MapBytes(*this, table);
    SetModified(true);
}

void TExtBitmap::StretchEachColour(double maximumGain) {
    if (PixelFormat() != TPixelFormat::pf24bit || Height() < 2 || Width() == 0) {
        return;
    }
    for (int colour = 0; colour < 3; ++colour) {
        std::array<std::uint8_t, 256> table{};
        if (!BuildStretchTable(colour, 3, maximumGain, table)) {
            continue;
        }
        for (int y = 0; y < Height(); ++y) {
            std::uint8_t* row = ScanLine(y) + colour;
            for (int x = 0; x < Width(); ++x) {
                row[3 * x] = table[row[3 * x]];
            }
        }
        SetModified(true);
    }
}

bool TExtBitmap::IsColour() const {
    const TPixelFormat format = PixelFormat();
    if (format == TPixelFormat::pf8bit) {
        return false;
    }
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(Width()) * 3);
    for (int y = 0; y < Height(); ++y) {
        detail::DecodeRow(ScanLine(y), format, Palette(), Width(), bgr.data());
        for (std::size_t i = 0; i < bgr.size(); i += 3) {
            if (bgr[i] != bgr[i + 1] || bgr[i] != bgr[i + 2]) {
                return true;
            }
        }
    }
    return false;
}

void TExtBitmap::Invert() {
    if (PixelFormat() != TPixelFormat::pf8bit && PixelFormat() != TPixelFormat::pf24bit) {
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(Width()) * BytesPerPixel(PixelFormat());
    for (int y = 0; y < Height(); ++y) {
        std::uint8_t* row = ScanLine(y);
        for (std::size_t i = 0; i < bytes; ++i) {
            row[i] = static_cast<std::uint8_t>(255 - row[i]);
        }
    }
    SetModified(true);
}

namespace {

// Reverses the order of the pixels of a row (Bpp bytes each) in place.
template <int Bpp> void ReverseRow(std::uint8_t* row, int width) {
    for (int a = 0, b = width - 1; a < b; ++a, --b) {
        std::uint8_t tmp[Bpp];
        std::memcpy(tmp, row + a * Bpp, Bpp);
        std::memcpy(row + a * Bpp, row + b * Bpp, Bpp);
        std::memcpy(row + b * Bpp, tmp, Bpp);
    }
}

template <int Bpp> void Turn(TBitmap& bitmap) {
    const int h = bitmap.Height();
    const int w = bitmap.Width();
    if (w == 0) {
        return; // rows without pixels
    }
    const auto bytes = static_cast<std::size_t>(w) * Bpp;
    std::vector<std::uint8_t> spare(bytes);
    for (int top = 0, bottom = h - 1; top < bottom; ++top, --bottom) {
        std::uint8_t* a = bitmap.ScanLine(top);
        std::uint8_t* b = bitmap.ScanLine(bottom);
        std::memcpy(spare.data(), a, bytes);
        std::memcpy(a, b, bytes);
        std::memcpy(b, spare.data(), bytes);
        ReverseRow<Bpp>(a, w);
        ReverseRow<Bpp>(b, w);
    }
    if (h % 2 == 1) {
        ReverseRow<Bpp>(bitmap.ScanLine(h / 2), w);
    }
}

} // namespace

void TExtBitmap::Rotate() {
    if (PixelFormat() == TPixelFormat::pf8bit) {
        if (Height() >= 3) {
            Turn<1>(*this);
            SetModified(true);
        }
    } else if (PixelFormat() == TPixelFormat::pf24bit) {
        if (Height() >= 3) {
            Turn<3>(*this);
            SetModified(true);
        }
    } else {
        throw EInvalidGraphicOperation("Error: Rotate called without 8-bit or 24-bit pixels.");
    }
}

} // namespace vantorel
