// TCanvas: lines by an integer DDA whose pixel for every step along the major axis is
// computed in closed form (minor offset = floor((2 i dminor + dmajor) / (2 dmajor))),
// so a line clipped to the bitmap starts at its first visible step with exactly the
// pixels of the unclipped line. Departure from GDI: wide pens are drawn as spans across
// the minor axis, with a pen-sized square at the start of each line for the joins,
// instead of a geometric pen with round caps and joins; a 3-pixel line costs about
// three times a 1-pixel one. Ellipses are scan converted row by row from the
// inscribed ellipse's equation. Text is the one thing left to QPainter, in the text module.
#include "imaging/Canvas.h"

#include "imaging/PixelRows.h"

#include "imaging/TextModule.h"

#include "common/Module.h"
#include "common/Parallel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>

namespace vantorel {

namespace {

// Coordinates beyond this are first clipped in floating point so that the integer
// arithmetic below cannot overflow.
constexpr std::int64_t kSafeCoordinate = std::int64_t{1} << 24;

// The bytes one pixel of a colour takes in a bitmap.
struct Ink {
    std::uint8_t bytes[4] = {0, 0, 0, 0};
};

int NearestPaletteIndex(const std::vector<TRGBQuad>& palette, TColor color) {
    if (palette.empty()) {
        return detail::GreyLevel(GetRValue(color), GetGValue(color), GetBValue(color));
    }
    int best = 0;
    long bestDistance = -1;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const long dr = palette[i].Red - GetRValue(color);
        const long dg = palette[i].Green - GetGValue(color);
        const long db = palette[i].Blue - GetBValue(color);
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

Ink InkFor(const TBitmap& bitmap, TColor color) {
    Ink ink;
    if (bitmap.PixelFormat() == TPixelFormat::pf8bit) {
        ink.bytes[0] = static_cast<std::uint8_t>(NearestPaletteIndex(bitmap.Palette(), color));
        return ink;
    }
    const std::uint8_t bgr[3] = {GetBValue(color), GetGValue(color), GetRValue(color)};
    detail::EncodeRow(bgr, 1, bitmap.PixelFormat(), ink.bytes);
    return ink;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

// Clips the segment to a box far larger than any bitmap (Liang-Barsky in doubles) when an
// end lies outside it. Returns false when nothing of it is inside.
bool ClipToSafeBox(std::int64_t& x0, std::int64_t& y0, std::int64_t& x1, std::int64_t& y1) {
    const auto outside = [](std::int64_t v) { return v < -kSafeCoordinate || v > kSafeCoordinate; };
    if (!outside(x0) && !outside(y0) && !outside(x1) && !outside(y1)) {
        return true;
    }
    const double limit = static_cast<double>(kSafeCoordinate);
    const double dx = static_cast<double>(x1 - x0);
    const double dy = static_cast<double>(y1 - y0);
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {static_cast<double>(x0) + limit, limit - static_cast<double>(x0),
                         static_cast<double>(y0) + limit, limit - static_cast<double>(y0)};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0) {
            if (q[k] < 0.0) {
                return false;
            }
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0.0) {
            t0 = std::max(t0, t);
        } else {
            t1 = std::min(t1, t);
        }
    }
    if (t0 > t1) {
        return false;
    }
    const double ox = static_cast<double>(x0);
    const double oy = static_cast<double>(y0);
    x0 = std::llround(ox + t0 * dx);
    y0 = std::llround(oy + t0 * dy);
    x1 = std::llround(ox + t1 * dx);
    y1 = std::llround(oy + t1 * dy);
    return true;
}

// The rows of a bitmap a drawing may touch: top .. bottom - 1. Drawing in bands of rows
// on several threads gives each the same pixels a drawing of the whole would put there.
struct RowBand {
    std::int64_t top = 0;
    std::int64_t bottom = 0;
};

// Calls f with the bitmap's bytes per pixel as a compile-time constant
// (std::integral_constant): a pixel's copy of a size known only at run time is a call.
template <class F> void WithBytesPerPixel(const TBitmap& bitmap, F&& f) {
    switch (BytesPerPixel(bitmap.PixelFormat())) {
    case 1:
        f(std::integral_constant<int, 1>{});
        break;
    case 2:
        f(std::integral_constant<int, 2>{});
        break;
    case 3:
        f(std::integral_constant<int, 3>{});
        break;
    default:
        f(std::integral_constant<int, 4>{});
        break;
    }
}

// Steps first..last of a line from (u0, v0) along the major axis u: at step i the minor
// coordinate is v0 + sv q, q advancing by one each time the remainder r (grown by twoAdv a
// step) reaches twoN; a pen of `width` spans lo..hi across it, clipped to vLo..vHi.
template <int Bpp>
void DrawSteps(TBitmap& bitmap, bool xMajor, std::int64_t u0, std::int64_t v0, std::int64_t su,
               std::int64_t sv, std::int64_t twoN, std::int64_t twoAdv, std::int64_t first,
               std::int64_t last, std::int64_t q, std::int64_t r, int lo, int hi,
               std::int64_t vLo, std::int64_t vHi, int width, const Ink& ink) {
    const std::int64_t stride = bitmap.Stride();
    std::uint8_t* bits = bitmap.Bits().data();
    const auto put = [&](std::int64_t x, std::int64_t y) {
        std::memcpy(bits + y * stride + x * Bpp, ink.bytes, Bpp);
    };
    for (std::int64_t i = first; i <= last; ++i) {
        const std::int64_t u = u0 + su * i;
        const std::int64_t v = v0 + sv * q;
        if (width == 1) {
            if (v >= vLo && v <= vHi) {
                xMajor ? put(u, v) : put(v, u);
            }
        } else {
            const std::int64_t from = std::max<std::int64_t>(v + lo, vLo);
            const std::int64_t to = std::min<std::int64_t>(v + hi, vHi);
            for (std::int64_t s = from; s <= to; ++s) {
                xMajor ? put(u, s) : put(s, u);
            }
        }
        r += twoAdv;
        if (r >= twoN) {
            r -= twoN;
            ++q;
        }
    }
}

// The line (x0, y0) -> (x1, y1) without its end pixel, `width` pixels across the minor
// axis, in the band's rows of a bitmap of Bpp bytes per pixel.
template <int Bpp>
void DrawLineT(TBitmap& bitmap, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
               int width, const Ink& ink, const RowBand& band) {
    if (!ClipToSafeBox(x0, y0, x1, y1)) {
        return;
    }
    const bool xMajor = std::llabs(x1 - x0) >= std::llabs(y1 - y0);
    // Major axis u, minor axis v, each with the pixels it may draw: lo .. hi.
    const std::int64_t u0 = xMajor ? x0 : y0;
    const std::int64_t v0 = xMajor ? y0 : x0;
    const std::int64_t du = (xMajor ? x1 : y1) - u0;
    const std::int64_t dv = (xMajor ? y1 : x1) - v0;
    const std::int64_t uLo = xMajor ? 0 : band.top;
    const std::int64_t uHi = xMajor ? bitmap.Width() - 1 : band.bottom - 1;
    const std::int64_t vLo = xMajor ? band.top : 0;
    const std::int64_t vHi = xMajor ? band.bottom - 1 : bitmap.Width() - 1;
    const std::int64_t n = std::llabs(du);
    if (n == 0) {
        return;
    }
    const std::int64_t su = du > 0 ? 1 : -1;
    const std::int64_t sv = dv >= 0 ? 1 : -1;
    const std::int64_t adv = std::llabs(dv);
    const int lo = -(width - 1) / 2;
    const int hi = width / 2;

    // A line wholly inside, pen and all (most boundary edges, a few pixels long), draws
    // every step: the clipping below, four 64-bit divisions, would give the same.
    const std::int64_t u1 = u0 + du;
    const std::int64_t v1 = v0 + dv;
    if (std::min(u0, u1) >= uLo && std::max(u0, u1) <= uHi && std::min(v0, v1) + lo >= vLo &&
        std::max(v0, v1) + hi <= vHi) {
        DrawSteps<Bpp>(bitmap, xMajor, u0, v0, su, sv, 2 * n, 2 * adv, 0, n - 1, 0, n, lo, hi,
                       vLo, vHi, width, ink);
        return;
    }
    // Steps i in [first, last] whose major coordinate lies inside.
    std::int64_t first = 0;
    std::int64_t last = n - 1;
    if (su > 0) {
        first = std::max(first, uLo - u0);
        last = std::min(last, uHi - u0);
    } else {
        first = std::max(first, u0 - uHi);
        last = std::min(last, u0 - uLo);
    }
    // Minor offsets q (v = v0 + sv q) whose span touches the inside.
    const std::int64_t vMin = vLo - hi;
    const std::int64_t vMax = vHi - lo;
    const std::int64_t qLo = sv > 0 ? vMin - v0 : v0 - vMax;
    const std::int64_t qHi = sv > 0 ? vMax - v0 : v0 - vMin;
    if (adv == 0) {
        if (qLo > 0 || qHi < 0) {
            return;
        }
    } else {
        // q(i) >= k  <=>  i >= (2 n k - n) / (2 adv);  q(i) <= k  <=>  i < (2 n (k+1) - n) / (2
        // adv)
        first = std::max(first, CeilDiv(2 * n * qLo - n, 2 * adv));
        last = std::min(last, CeilDiv(2 * n * (qHi + 1) - n, 2 * adv) - 1);
    }
    if (first > last) {
        return;
    }

    const std::int64_t num = 2 * first * adv + n; // q = num / (2n), as quotient + remainder
    DrawSteps<Bpp>(bitmap, xMajor, u0, v0, su, sv, 2 * n, 2 * adv, first, last, num / (2 * n),
                   num % (2 * n), lo, hi, vLo, vHi, width, ink);
}

void FillSpan(TBitmap& bitmap, int y, int x0, int x1, const Ink& ink) {
    x0 = std::max(x0, 0);
    x1 = std::min(x1, bitmap.Width() - 1);
    if (y < 0 || y >= bitmap.Height() || x0 > x1) {
        return;
    }
    WithBytesPerPixel(bitmap, [&](auto bpp) {
        constexpr int kBpp = decltype(bpp)::value;
        std::uint8_t* p = bitmap.ScanLine(y) + static_cast<std::ptrdiff_t>(x0) * kBpp;
        for (int x = x0; x <= x1; ++x, p += kBpp) {
            std::memcpy(p, ink.bytes, kBpp);
        }
    });
}

void DrawLine(TBitmap& bitmap, TPoint from, TPoint to, int width, const Ink& ink,
              const RowBand& band) {
    width = std::clamp(width, 1, TBitmap::kMaxDimension);
    WithBytesPerPixel(bitmap, [&](auto bpp) {
        DrawLineT<decltype(bpp)::value>(bitmap, from.X, from.Y, to.X, to.Y, width, ink, band);
    });
    // A wide line starts with a pen-sized square, so that consecutive lines of a polyline
    // (or of LineTo calls) join without a notch at the outer side of a bend.
    const bool near = from.X >= -width && from.X <= bitmap.Width() + width && from.Y >= -width &&
                      from.Y <= bitmap.Height() + width;
    if (width > 1 && !(from == to) && near) {
        const int lo = -(width - 1) / 2;
        const int hi = width / 2;
        const int top = std::max<int>(from.Y + lo, static_cast<int>(band.top));
        const int bottom = std::min<int>(from.Y + hi, static_cast<int>(band.bottom) - 1);
        for (int y = top; y <= bottom; ++y) {
            FillSpan(bitmap, y, from.X + lo, from.X + hi, ink);
        }
    }
}

// Columns [first, last] of row `y` whose centres lie inside the ellipse of centre (cx, cy)
// and semi-axes a, b (all in continuous coordinates, pixel x spanning [x, x + 1)).
// Returns false when the row misses it.
bool EllipseSpan(double cx, double cy, double a, double b, int y, int& first, int& last) {
    if (a <= 0.0 || b <= 0.0) {
        return false;
    }
    const double dy = (y + 0.5 - cy) / b;
    if (dy * dy > 1.0) {
        return false;
    }
    const double half = a * std::sqrt(1.0 - dy * dy);
    // Clamped well inside int: the callers clip to the bitmap anyway.
    constexpr double kFar = 1e9;
    first = static_cast<int>(std::clamp(std::ceil(cx - half - 0.5), -kFar, kFar));
    last = static_cast<int>(std::clamp(std::floor(cx + half - 0.5), -kFar, kFar));
    return first <= last;
}

text::TFontSpec SpecOf(const TFont& font) {
    return {font.Name, font.Size, font.Bold};
}

text::TRgb RgbOf(TColor c) {
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

// A row of 8-bit pixels through their palette's look-up into pixels of `toBpp` bytes.
void LookUpRow(const std::uint8_t* src, int count, const std::vector<Ink>& lookup, int toBpp,
               std::uint8_t* dst) {
    if (toBpp == 3) {
        // Four bytes at a time, each store's last byte overwritten by the next pixel's.
        for (int i = 0; i + 1 < count; ++i) {
            std::memcpy(dst + 3 * i, lookup[src[i]].bytes, 4);
        }
        std::memcpy(dst + 3 * (count - 1), lookup[src[count - 1]].bytes, 3);
    } else {
        for (int i = 0; i < count; ++i) {
            std::memcpy(dst + toBpp * i, lookup[src[i]].bytes, static_cast<std::size_t>(toBpp));
        }
    }
}

} // namespace

namespace {

text::TModule& Text() {
    const auto& loaded = LoadModuleOnce<text::TModule>("vantorel-text.so", "VantorelTextModule");
    if (loaded.Module == nullptr) {
        throw EInvalidGraphicOperation(
            "Text drawing needs the text module vantorel-text.so, which cannot be loaded (" +
            loaded.Failure + ")");
    }
    return *loaded.Module;
}

// The font list read for the application EnsureGuiApplication made, while the program
// goes on; joined before the application ends, or at exit where a program (a test) does
// not end it: the text module's own statics outlive it.
struct TFontsAhead {
    std::mutex lock;
    std::thread reading;
    void Join() {
        const std::lock_guard guard(lock);
        if (reading.joinable()) {
            reading.join();
        }
    }
    ~TFontsAhead() { Join(); }
};

TFontsAhead& FontsAhead() {
    static TFontsAhead ahead;
    return ahead;
}

// Held while the application is looked at or made: a QGuiApplication is the instance
// before its construction ends, and the font list asked of it then is not there yet.
std::mutex applicationLock;
// Set once an application runs for text (cleared when it ends): every text asks.
std::atomic<bool> applicationReady{false};
// The module answers for the application only once a program asked for one.
std::atomic<bool> askedForApplication{false};

} // namespace

void EnsureGuiApplication() {
    if (applicationReady) {
        return;
    }
    text::TModule& module = Text();
    const std::lock_guard guard(applicationLock);
    const bool had = module.HasApplication();
    if (!module.EnsureApplication()) {
        throw EInvalidGraphicOperation("Text drawing needs a QGuiApplication");
    }
    askedForApplication = true;
    applicationReady = true;
    if (!had) {
        TFontsAhead& ahead = FontsAhead();
        const std::lock_guard reading(ahead.lock);
        if (!ahead.reading.joinable()) {
            ahead.reading = std::thread([&module] {
                YieldCoresToOthers(); // wanted once the pass is drawn
                module.PrepareFonts();
            });
        }
    }
}

void EndGuiApplication() {
    FontsAhead().Join();
    const std::lock_guard guard(applicationLock);
    applicationReady = false;
    if (askedForApplication) {
        Text().EndApplication();
    }
}

void PrepareFonts() {
    // Loading the module is most of the wait; the fonts only once an application runs.
    text::TModule& module = Text();
    {
        const std::lock_guard guard(applicationLock);
        if (!module.HasApplication()) {
            return;
        }
    }
    module.PrepareFonts();
}

TCanvas::TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}

void TCanvas::MoveTo(int x, int y) {
    penPos_ = TPoint{x, y};
}

void TCanvas::LineTo(int x, int y) {
    DrawLine(bitmap_, penPos_, TPoint{x, y}, Pen.Width, InkFor(bitmap_, Pen.Color),
             RowBand{0, bitmap_.Height()});
    penPos_ = TPoint{x, y};
    bitmap_.SetModified(true);
}

void TCanvas::Polyline(std::span<const TPoint> points) {
    if (points.size() < 2) {
        return;
    }
    const std::pair<std::size_t, std::size_t> line{0, points.size()};
    Polylines(points, std::span(&line, 1));
}

void TCanvas::Polylines(std::span<const TPoint> points,
                        std::span<const std::pair<std::size_t, std::size_t>> lines) {
    const Ink ink = InkFor(bitmap_, Pen.Color);
    const int width = Pen.Width;
    const long long reach = std::clamp(width, 1, TBitmap::kMaxDimension);
    const long long height = bitmap_.Height();
    // The rows in bands of kBand, dealt out to the cores in turn (boundaries crowd some
    // parts of a picture); each core draws what of every line falls in its bands.
    constexpr long long kBand = 64;
    const int threads = ThreadsFor(static_cast<long long>(points.size()), 8192);
    ForEachPart(threads, threads, [&](long long part, long long) {
        for (const auto& [first, count] : lines) {
            for (std::size_t i = first + 1; i < first + count; ++i) {
                const TPoint& a = points[i - 1];
                const TPoint& b = points[i];
                const long long top = std::max(std::min<long long>(a.Y, b.Y) - reach, 0LL);
                const long long bottom =
                    std::min(std::max<long long>(a.Y, b.Y) + reach, height - 1);
                for (long long band = top / kBand; band <= bottom / kBand && top <= bottom;
                     ++band) {
                    if (band % threads == part) {
                        DrawLine(bitmap_, a, b, width, ink,
                                 RowBand{band * kBand, std::min((band + 1) * kBand, height)});
                    }
                }
            }
        }
    });
    bitmap_.SetModified(true);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
    if (x2 < x1) {
        std::swap(x1, x2);
    }
    if (y2 < y1) {
        std::swap(y1, y2);
    }
    const double cx = (static_cast<double>(x1) + x2) / 2.0;
    const double cy = (static_cast<double>(y1) + y2) / 2.0;
    const double a = (static_cast<double>(x2) - x1) / 2.0;
    const double b = (static_cast<double>(y2) - y1) / 2.0;
    const int pen = std::max(Pen.Width, 1);
    const Ink penInk = InkFor(bitmap_, Pen.Color);
    const Ink brushInk = InkFor(bitmap_, Brush.Color);
    const int top = std::max(y1, 0);
    const int bottom = std::min(y2, bitmap_.Height());
    for (int y = top; y < bottom; ++y) {
        int outerFirst = 0;
        int outerLast = -1;
        if (!EllipseSpan(cx, cy, a, b, y, outerFirst, outerLast)) {
            continue;
        }
        int innerFirst = 0;
        int innerLast = -1;
        if (!EllipseSpan(cx, cy, a - pen, b - pen, y, innerFirst, innerLast)) {
            FillSpan(bitmap_, y, outerFirst, outerLast, penInk);
            continue;
        }
        FillSpan(bitmap_, y, outerFirst, innerFirst - 1, penInk);
        FillSpan(bitmap_, y, innerLast + 1, outerLast, penInk);
        if (Brush.Style == TBrushStyle::bsSolid) {
            FillSpan(bitmap_, y, innerFirst, innerLast, brushInk);
        }
    }
    bitmap_.SetModified(true);
}

void TCanvas::FillRect(int x1, int y1, int x2, int y2) {
    const Ink ink = InkFor(bitmap_, Brush.Color);
    for (int y = std::max(std::min(y1, y2), 0); y < std::min(std::max(y1, y2), bitmap_.Height());
         ++y) {
        const int right = std::max(x1, x2);
        if (right > std::numeric_limits<int>::min()) {
            FillSpan(bitmap_, y, std::min(x1, x2), right - 1, ink);
        }
    }
    bitmap_.SetModified(true);
}

int TCanvas::TextWidth(const std::string& text) {
    EnsureGuiApplication();
    return Text().Width(SpecOf(Font), text);
}

int TCanvas::TextHeight(const std::string& /*text*/) {
    EnsureGuiApplication();
    return Text().Height(SpecOf(Font));
}

namespace {

// The text as TextOut paints it: an image of its own, transparent around the glyphs.
// QPainter cannot paint on indexed pixels, and on a whole 24-bit picture it is slow. The
// same labels are written on every redraw (the grid's four times more for their halo), and
// painting them is what costs, most at the large sizes of a zoomed-out view: each thread
// keeps the images it painted, up to a few megabytes.
const text::TPatch& TextPatch(const TFont& font, const TBrush& brush, const std::string& text) {
    constexpr std::size_t kKeptBytes = std::size_t{16} << 20;
    thread_local std::unordered_map<std::string, text::TPatch> kept;
    thread_local std::size_t keptBytes = 0;
    const bool solid = brush.Style == TBrushStyle::bsSolid;
    std::string key = font.Name;
    for (const TColor value : {static_cast<TColor>(font.Size), static_cast<TColor>(font.Bold),
                               font.Color, static_cast<TColor>(solid), solid ? brush.Color : 0}) {
        key += '\0' + std::to_string(value);
    }
    key += '\0' + text;
    if (const auto found = kept.find(key); found != kept.end()) {
        return found->second;
    }
    text::TPatch patch;
    const text::TRgb fill = RgbOf(brush.Color);
    Text().Paint(SpecOf(font), RgbOf(font.Color), solid ? &fill : nullptr, text, patch);
    const std::size_t bytes = patch.Pixels.size() * sizeof(std::uint32_t);
    if (keptBytes + bytes > kKeptBytes) {
        kept.clear();
        keptBytes = 0;
    }
    keptBytes += bytes;
    return kept.emplace(std::move(key), std::move(patch)).first->second;
}

} // namespace

void TCanvas::TextOut(int x, int y, const std::string& text) {
    EnsureGuiApplication();
    if (bitmap_.Width() == 0 || bitmap_.Height() == 0) {
        return;
    }
    const text::TPatch& patch = TextPatch(Font, Brush, text);
    if (patch.Width == 0 || patch.Height == 0) {
        return;
    }
    const int height = patch.Height;
    // The patch's columns that land on the bitmap.
    const int from =
        x < 0 ? static_cast<int>(std::min<long long>(-static_cast<long long>(x), patch.Width)) : 0;
    const int to = static_cast<int>(
        std::min<long long>(patch.Width, static_cast<long long>(bitmap_.Width()) - x));
    std::unordered_map<std::uint32_t, Ink> inks;
    // Text has few colours: the last one's ink is at hand (none at first: a clear pixel is
    // never drawn).
    std::uint32_t lastColour = 0;
    Ink lastInk;
    // Large labels paid a copy call for every pixel before the size was a constant.
    WithBytesPerPixel(bitmap_, [&](auto bpp) {
        constexpr int kBpp = decltype(bpp)::value;
        for (int py = 0; py < height; ++py) {
            const int ty = y + py;
            if (ty < 0 || ty >= bitmap_.Height()) {
                continue;
            }
            const std::uint32_t* src =
                patch.Pixels.data() + static_cast<std::size_t>(py) * patch.Width;
            std::uint8_t* dst = bitmap_.ScanLine(ty);
            for (int px = from; px < to; ++px) {
                if ((src[px] >> 24) == 0) {
                    continue;
                }
                if (src[px] != lastColour) {
                    auto found = inks.find(src[px]);
                    if (found == inks.end()) {
                        const TColor c = RGBColor(static_cast<std::uint8_t>(src[px] >> 16),
                                                  static_cast<std::uint8_t>(src[px] >> 8),
                                                  static_cast<std::uint8_t>(src[px]));
                        found = inks.emplace(src[px], InkFor(bitmap_, c)).first;
                    }
                    lastColour = src[px];
                    lastInk = found->second;
                }
                std::memcpy(dst + static_cast<std::ptrdiff_t>(x + px) * kBpp, lastInk.bytes,
                            kBpp);
            }
        }
    });
    bitmap_.SetModified(true);
}

void TCanvas::Draw(int x, int y, const TBitmap& source) {
    const int left = std::max(x, 0);
    const auto right =
        static_cast<int>(std::min<std::int64_t>(std::int64_t{x} + source.Width(), bitmap_.Width()));
    const int top = std::max(y, 0);
    const auto bottom = static_cast<int>(
        std::min<std::int64_t>(std::int64_t{y} + source.Height(), bitmap_.Height()));
    if (left >= right || top >= bottom) {
        return;
    }
    const int count = right - left;
    const TPixelFormat from = source.PixelFormat();
    const TPixelFormat to = bitmap_.PixelFormat();
    const int fromBpp = BytesPerPixel(from);
    const int toBpp = BytesPerPixel(to);
    const bool sameBytes =
        from == to && (from != TPixelFormat::pf8bit || source.Palette() == bitmap_.Palette());

    // Lookup of a source palette index -> destination pixel bytes, for 8-bit sources.
    std::vector<Ink> lookup;
    if (from == TPixelFormat::pf8bit && !sameBytes) {
        lookup.resize(256);
        for (int i = 0; i < 256; ++i) {
            const auto index = static_cast<std::size_t>(i);
            const TRGBQuad q =
                index < source.Palette().size() ? source.Palette()[index] : TRGBQuad{};
            lookup[index] = InkFor(bitmap_, RGBColor(q.Red, q.Green, q.Blue));
        }
    }
    // Copies and look-ups share the rows among the cores: a whole picture is copied on
    // every run. The conversions that keep state go row after row.
    if ((sameBytes || !lookup.empty()) && &source != &bitmap_) {
        const long long rows = bottom - top;
        ForEachPart(rows, ThreadsFor(rows * count * toBpp, 1 << 21),
                    [&](long long first, long long end) {
                        for (long long ty = top + first; ty < top + end; ++ty) {
                            const std::uint8_t* src =
                                source.ScanLine(static_cast<int>(ty) - y) + (left - x) * fromBpp;
                            std::uint8_t* dst =
                                bitmap_.ScanLine(static_cast<int>(ty)) + left * toBpp;
                            if (sameBytes) {
                                std::memcpy(dst, src, static_cast<std::size_t>(count) * toBpp);
                            } else {
                                LookUpRow(src, count, lookup, toBpp, dst);
                            }
                        }
                    });
        bitmap_.SetModified(true);
        return;
    }
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(count) * 3);
    std::unordered_map<TColor, std::uint8_t> indices;
    for (int ty = top; ty < bottom; ++ty) {
        const std::uint8_t* src = source.ScanLine(ty - y) + (left - x) * fromBpp;
        std::uint8_t* dst = bitmap_.ScanLine(ty) + left * toBpp;
        if (sameBytes) {
            std::memcpy(dst, src, static_cast<std::size_t>(count) * toBpp);
        } else if (!lookup.empty()) {
            LookUpRow(src, count, lookup, toBpp, dst);
        } else if (to != TPixelFormat::pf8bit) {
            detail::DecodeRow(src, from, source.Palette(), count, bgr.data());
            detail::EncodeRow(bgr.data(), count, to, dst);
        } else {
            detail::DecodeRow(src, from, source.Palette(), count, bgr.data());
            for (int i = 0; i < count; ++i) {
                const TColor c = RGBColor(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]);
                auto found = indices.find(c);
                if (found == indices.end()) {
                    found = indices
                                .emplace(c, static_cast<std::uint8_t>(
                                                NearestPaletteIndex(bitmap_.Palette(), c)))
                                .first;
                }
                dst[i] = found->second;
            }
        }
    }
    bitmap_.SetModified(true);
}

void TCanvas::DrawSpans(const TBitmap& source, std::span<const TRowSpan> spans) {
    const int width = std::min(source.Width(), bitmap_.Width());
    const int height = std::min(source.Height(), bitmap_.Height());
    if (source.PixelFormat() != TPixelFormat::pf8bit ||
        bitmap_.PixelFormat() != TPixelFormat::pf24bit) {
        Draw(0, 0, source); // the one case a redraw needs is made fast
        return;
    }
    std::array<Ink, 256> lookup;
    for (size_t i = 0; i < lookup.size(); ++i) {
        const TRGBQuad q = i < source.Palette().size() ? source.Palette()[i] : TRGBQuad{};
        lookup[i] = InkFor(bitmap_, RGBColor(q.Red, q.Green, q.Blue));
    }
    // Both halves of the rows at once: the spans lie scattered over the whole picture, and
    // the time goes in fetching their rows. Each half takes only its own rows' spans, so
    // no pixel is written by both.
    const long long spanCount = static_cast<long long>(spans.size());
    ForEachPart(height, ThreadsFor(spanCount, 16384), [&](long long top, long long bottom) {
        for (const TRowSpan& span : spans) {
            const int first = std::max(span.First, 0);
            const int last = std::min(span.Last, width - 1);
            if (span.Y < top || span.Y >= bottom || first > last) {
                continue;
            }
            const std::uint8_t* src = source.ScanLine(span.Y);
            std::uint8_t* dst = bitmap_.ScanLine(span.Y) + 3 * static_cast<std::ptrdiff_t>(first);
            // Four bytes at a time, the fourth the next pixel's first, which it writes again.
            for (int x = first; x < last; ++x, dst += 3) {
                std::memcpy(dst, lookup[src[x]].bytes, 4);
            }
            std::memcpy(dst, lookup[src[last]].bytes, 3);
        }
    });
    bitmap_.SetModified(true);
}

} // namespace vantorel
