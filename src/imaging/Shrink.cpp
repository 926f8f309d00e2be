#include "imaging/Shrink.h"

#include "common/Parallel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace vantorel {
namespace {

// The source pixels output pixel i of n covers out of `size`, with the part of each that
// lies inside: [first, first + weights.size()).
struct TCover {
    int first = 0;
    std::vector<float> weights;
    float step = 1.0f; // source pixels an output pixel covers
};

std::vector<TCover> Covers(int size, int n) {
    std::vector<TCover> covers(static_cast<std::size_t>(n));
    const double step = static_cast<double>(size) / n;
    for (int i = 0; i < n; ++i) {
        const double from = i * step;
        const double to = i + 1 == n ? size : (i + 1) * step;
        TCover& c = covers[static_cast<std::size_t>(i)];
        c.first = static_cast<int>(std::floor(from));
        c.step = static_cast<float>(step);
        const int end = std::min(size, static_cast<int>(std::ceil(to)));
        for (int s = c.first; s < end; ++s) {
            const double part = std::min<double>(to, s + 1) - std::max<double>(from, s);
            c.weights.push_back(static_cast<float>(part / step));
        }
    }
    return covers;
}

// Whole rows added up in 16 bits: at most 257 bytes of 255.
constexpr int kMostRows = 250;

// Rows of a 24-bit picture as they are; of an 8-bit one through its palette, into a row
// of the caller's.
class TRowsAsBgr {
public:
    explicit TRowsAsBgr(const TBitmap& bitmap) : bitmap_(bitmap) {
        if (bitmap.PixelFormat() == TPixelFormat::pf8bit) {
            const std::vector<TRGBQuad>& palette = bitmap.Palette();
            for (std::size_t i = 0; i < 256; ++i) {
                // Entries past the palette are black, as the bitmap draws them.
                const TRGBQuad q = i < palette.size() ? palette[i] : TRGBQuad{};
                bgr_[3 * i] = q.Blue;
                bgr_[3 * i + 1] = q.Green;
                bgr_[3 * i + 2] = q.Red;
            }
        }
    }
    const std::uint8_t* Row(int y, std::vector<std::uint8_t>& room) const {
        if (bitmap_.PixelFormat() == TPixelFormat::pf24bit) {
            return bitmap_.ScanLine(y);
        }
        const std::uint8_t* index = bitmap_.ScanLine(y);
        room.resize(static_cast<std::size_t>(bitmap_.Width()) * 3);
        std::uint8_t* out = room.data();
        for (int x = 0; x < bitmap_.Width(); ++x, out += 3) {
            std::memcpy(out, &bgr_[3 * static_cast<std::size_t>(index[x])], 3);
        }
        return room.data();
    }

private:
    const TBitmap& bitmap_;
    std::array<std::uint8_t, 3 * 256> bgr_{};
};

// The shrinking itself; put(x, y, red, green, blue) takes each output pixel.
template <class Put> bool Shrink(const TBitmap& bitmap, int width, int height, const Put& put) {
    const int sw = bitmap.Width();
    const int sh = bitmap.Height();
    const TPixelFormat format = bitmap.PixelFormat();
    if ((format != TPixelFormat::pf24bit && format != TPixelFormat::pf8bit) || width < 1 ||
        height < 1 || width > sw || height > sh || sh / height > kMostRows) {
        return false;
    }
    const TRowsAsBgr source(bitmap);
    const std::vector<TCover> columns = Covers(sw, width);
    const std::vector<TCover> rows = Covers(sh, height);
    // Four parts a thread, taken as threads come free: between key presses another core
    // may join late, and with a part each the first to finish would wait on it.
    ForEachPart(height, 4 * ThreadsFor(static_cast<long long>(sh) * sw, 1 << 18),
                [&](long long first, long long end) {
        std::vector<float> sums(static_cast<std::size_t>(sw) * 3);
        std::vector<std::uint16_t> wholes(sums.size());
        std::vector<std::uint8_t> middleRoom, topRoom, bottomRoom;
        for (auto y = static_cast<int>(first); y < end; ++y) {
            // Down the rows the output row covers, then across. The rows wholly inside
            // weigh the same: their bytes are added as integers, the two partial rows apart.
            const TCover& r = rows[static_cast<std::size_t>(y)];
            const std::size_t count = r.weights.size();
            const std::size_t n = sums.size();
            float* __restrict sum = sums.data(); // bytes may alias anything: say they do not
            std::uint16_t* __restrict whole = wholes.data();
            std::fill(whole, whole + n, std::uint16_t{0});
            for (std::size_t k = 1; k + 1 < count; ++k) {
                const std::uint8_t* __restrict bgr =
                    source.Row(r.first + static_cast<int>(k), middleRoom);
                for (std::size_t i = 0; i < n; ++i) {
                    whole[i] = static_cast<std::uint16_t>(whole[i] + bgr[i]);
                }
            }
            const std::uint8_t* __restrict top = source.Row(r.first, topRoom);
            const std::uint8_t* __restrict bottom =
                source.Row(r.first + static_cast<int>(count) - 1, bottomRoom);
            const float full = 1.0f / r.step;
            const float wTop = r.weights.front();
            const float wBottom = count > 1 ? r.weights.back() : 0.0f;
            for (std::size_t i = 0; i < n; ++i) {
                sum[i] = full * static_cast<float>(whole[i]) + wTop * static_cast<float>(top[i]) +
                         wBottom * static_cast<float>(bottom[i]);
            }
            for (int x = 0; x < width; ++x) {
                const TCover& c = columns[static_cast<std::size_t>(x)];
                float b = 0.0f, g = 0.0f, red = 0.0f;
                const float* s = &sums[static_cast<std::size_t>(c.first) * 3];
                for (std::size_t k = 0; k < c.weights.size(); ++k, s += 3) {
                    b += c.weights[k] * s[0];
                    g += c.weights[k] * s[1];
                    red += c.weights[k] * s[2];
                }
                const auto level = [](float v) {
                    return static_cast<std::uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
                };
                put(x, y, level(red), level(g), level(b));
            }
        }
    });
    return true;
}

} // namespace

bool ShrinkByAreas(const TBitmap& bitmap, int width, int height, std::uint32_t* out,
                   std::int64_t outStride) {
    return Shrink(bitmap, width, height,
                  [&](int x, int y, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
                      auto* line = reinterpret_cast<std::uint32_t*>(
                          reinterpret_cast<std::uint8_t*>(out) + y * outStride);
                      line[x] = 0xFF000000u | (red << 16) | (green << 8) | blue;
                  });
}

bool ShrinkByAreas(const TBitmap& bitmap, TBitmap& to) {
    if (to.PixelFormat() != TPixelFormat::pf24bit) {
        return false;
    }
    return Shrink(bitmap, to.Width(), to.Height(),
                  [&](int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
                      std::uint8_t* p = to.ScanLine(y) + 3 * static_cast<std::ptrdiff_t>(x);
                      p[0] = blue;
                      p[1] = green;
                      p[2] = red;
                  });
}

} // namespace vantorel
