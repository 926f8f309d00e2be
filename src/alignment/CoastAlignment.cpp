#include "alignment/CoastAlignment.h"

#include "common/Parallel.h"
#include "common/Statistics.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace vantorel {
namespace {

// A shore point's share of a score: the brightness change across the shore less the change
// along it, each capped. A coast changes across itself only; cloud edges run every way and
// so add as much as they take away, wherever the overlay is put.
inline float Share(float gx, float gy, float nx, float ny, float cap) {
    return std::min(std::fabs(gx * nx + gy * ny), cap) -
           std::min(std::fabs(gy * nx - gx * ny), cap);
}

// To the nearest whole number, for the positions of a picture (well within +-16384).
inline int Nearest(float v) {
    return static_cast<int>(v + 16384.5f) - 16384;
}

// The change of brightness at column x of `row`, between the rows `up` and `down`: a
// Sobel gradient, which smooths along a shore as it differentiates across it. Byte rows
// sum in whole numbers, float rows in floats.
template <typename T>
inline void Sobel(const T* up, const T* row, const T* down, int x, float& gx, float& gy) {
    gx = 0.125f * static_cast<float>((up[x + 1] + 2 * row[x + 1] + down[x + 1]) -
                                     (up[x - 1] + 2 * row[x - 1] + down[x - 1]));
    gy = 0.125f * static_cast<float>((down[x - 1] + 2 * down[x] + down[x + 1]) -
                                     (up[x - 1] + 2 * up[x] + up[x + 1]));
}

// The coarse search runs on the picture reduced by this factor.
constexpr int kCoarse = 4;
// Shore samples scored per offset: enough to outline every coast, few enough for speed.
constexpr std::size_t kFineSamples = 40000;
// Rows (coarse steps of line offset) this far from the best are another place, for a
// search that judges its peak by its own other rows.
constexpr int kFarRows = 16;
// Shares worth a thread of their own. The searches split over the cores by what they
// sum (rows of offsets, chance placements), never within a sum: each sum adds the same
// shares in the same order as one thread would.
constexpr long long kSharesPerThread = 100000;
// Picture pixels worth a thread of their own, for the levels made of it.
constexpr long long kPixelsPerThread = 500000;

// The change of brightness across a shore (a Sobel gradient, which smooths along the
// shore as it differentiates across it) on the picture itself, computed where asked.
// Lines that are not the picture (the black lines of a dropout) are left out: a gradient
// that would reach one is none at all.
class TFineLevel {
public:
    TFineLevel(const TBitmap& image, std::span<const char> lostLines)
        : width_(image.Width()), height_(image.Height()), stride_(image.Stride()),
          pixels_(image.Bits().data()), near_(static_cast<std::size_t>(image.Height()), 0) {
        for (int y = 0; y < height_; ++y) {
            if (static_cast<std::size_t>(y) < lostLines.size() &&
                lostLines[static_cast<std::size_t>(y)]) {
                for (int k = std::max(y - 1, 0); k <= std::min(y + 1, height_ - 1); ++k) {
                    near_[static_cast<std::size_t>(k)] = 1;
                }
            }
        }
    }

    int Width() const { return width_; }
    int Height() const { return height_; }
    /// A line within one of a lost line.
    bool NearLost(int y) const { return near_[static_cast<std::size_t>(y)] != 0; }

    bool Gradient(int x, int y, float& gx, float& gy) const {
        if (x < 1 || y < 1 || x + 1 >= width_ || y + 1 >= height_ || NearLost(y)) {
            return false;
        }
        const std::uint8_t* up = pixels_ + static_cast<std::ptrdiff_t>(y - 1) * stride_;
        Sobel(up, up + stride_, up + 2 * stride_, x, gx, gy);
        return true;
    }

    /// Adds to out[i] the share of a shore point with normal (nx, ny) at (x0 + i, y) for
    /// i = 0 .. N - 1 (N at most kRowShares), nothing where no gradient is made: the
    /// gradients of a row at once.
    static constexpr int kRowShares = 16;
    template <int N>
    void AddShares(int x0, int y, float nx, float ny, float cap, double* out) const {
        static_assert(N > 0 && N <= kRowShares);
        if (y < 1 || y + 1 >= height_ || NearLost(y)) {
            return;
        }
        const std::uint8_t* up = pixels_ + static_cast<std::ptrdiff_t>(y - 1) * stride_ + x0;
        const std::uint8_t* row = up + stride_;
        const std::uint8_t* down = row + stride_;
        // The shares first, then their sums: each loop runs on whole vectors. Inside the
        // picture the shares are made for whole vectors of four, the last ones unused.
        constexpr int kLanes = (N + 3) / 4 * 4;
        float shares[kRowShares];
        if (x0 >= 1 && x0 + kLanes < width_) {
            for (int i = 0; i < kLanes; ++i) {
                float gx = 0.0f, gy = 0.0f;
                Sobel(up, row, down, i, gx, gy);
                shares[i] = Share(gx, gy, nx, ny, cap);
            }
            for (int i = 0; i < N; ++i) {
                out[i] += shares[i];
            }
            return;
        }
        const int first = std::max(0, 1 - x0);
        const int last = std::min(N, width_ - 1 - x0);
        for (int i = first; i < last; ++i) {
            float gx = 0.0f, gy = 0.0f;
            Sobel(up, row, down, i, gx, gy);
            shares[i] = Share(gx, gy, nx, ny, cap);
        }
        for (int i = first; i < last; ++i) {
            out[i] += shares[i];
        }
    }

    /// Kept for the coarse level: the mean of each kCoarse x kCoarse block, and which of
    /// the blocks' rows reach a lost line.
    std::vector<float> Reduced(int& rw, int& rh, std::vector<char>& lost) const {
        rw = width_ / kCoarse;
        rh = height_ / kCoarse;
        std::vector<float> out(static_cast<std::size_t>(rw) * rh);
        lost.assign(static_cast<std::size_t>(rh), 0);
        const int w = rw;
        ForEachPart(rh, ThreadsFor(static_cast<long long>(width_) * height_, kPixelsPerThread),
                    [&](long long first, long long end) {
                        std::vector<int> columns(static_cast<std::size_t>(w) * kCoarse);
                        for (auto ry = static_cast<int>(first); ry < end; ++ry) {
                            ReduceRow(ry, w, columns, out, lost);
                        }
                    });
        return out;
    }

private:
    void ReduceRow(int ry, int rw, std::vector<int>& columns, std::vector<float>& out,
                   std::vector<char>& lost) const {
        std::fill(columns.begin(), columns.end(), 0);
        for (int k = 0; k < kCoarse; ++k) {
            const int y = ry * kCoarse + k;
            lost[static_cast<std::size_t>(ry)] |= static_cast<char>(NearLost(y));
            const std::uint8_t* row = pixels_ + static_cast<std::ptrdiff_t>(y) * stride_;
            for (std::size_t x = 0; x < columns.size(); ++x) {
                columns[x] += row[x];
            }
        }
        float* target = &out[static_cast<std::size_t>(ry) * rw];
        for (int rx = 0; rx < rw; ++rx) {
            const int* c = &columns[static_cast<std::size_t>(rx) * kCoarse];
            target[rx] = static_cast<float>(c[0] + c[1] + c[2] + c[3]) /
                         static_cast<float>(kCoarse * kCoarse);
        }
    }

    int width_;
    int height_;
    int stride_;
    const std::uint8_t* pixels_;
    std::vector<char> near_;
};

// The same on the reduced picture, every pixel's gradient made once: the coarse search
// asks for each of them many times.
class TCoarseLevel {
public:
    explicit TCoarseLevel(const TFineLevel& fine) {
        std::vector<char> lost;
        const std::vector<float> p = fine.Reduced(width_, height_, lost);
        lost_.assign(lost.size(), 1);
        gx_.assign(p.size(), 0.0f);
        gy_.assign(p.size(), 0.0f);
        ForEachPart(std::max(height_ - 2, 0),
                    ThreadsFor(static_cast<long long>(p.size()), kPixelsPerThread / kCoarse),
                    [&](long long first, long long end) {
                        for (auto y = static_cast<int>(first) + 1; y < end + 1; ++y) {
                            GradientRow(y, p, lost);
                        }
                    });
    }

    int Width() const { return width_; }
    int Height() const { return height_; }

    void GradientRow(int y, const std::vector<float>& p, const std::vector<char>& lost) {
        if (lost[static_cast<std::size_t>(y - 1)] || lost[static_cast<std::size_t>(y)] ||
            lost[static_cast<std::size_t>(y + 1)]) {
            return; // no gradient made here
        }
        lost_[static_cast<std::size_t>(y)] = 0;
        const float* up = &p[static_cast<std::size_t>(y - 1) * width_];
        const float* row = up + width_;
        const float* down = row + width_;
        for (int x = 1; x + 1 < width_; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * width_ + x;
            Sobel(up, row, down, x, gx_[i], gy_[i]);
        }
    }

    bool Gradient(int x, int y, float& gx, float& gy) const {
        if (x < 1 || y < 1 || x + 1 >= width_ || y + 1 >= height_) {
            return false;
        }
        const std::size_t i = static_cast<std::size_t>(y) * width_ + x;
        gx = gx_[i];
        gy = gy_[i];
        return true;
    }

    /// Adds to out[i] the share of a shore point with normal (nx, ny) at (x0 + i, y) for
    /// i = 0 .. n - 1, and counts in counted[i] the places on the picture (the border
    /// pixels and lost lines, whose gradient is not made, are none).
    void AddShares(int x0, int y, int n, float nx, float ny, float cap, double* out,
                   int* counted) const {
        if (y < 1 || y + 1 >= height_ || lost_[static_cast<std::size_t>(y)]) {
            return;
        }
        const int first = std::max(0, 1 - x0);
        const int last = std::min(n, width_ - 1 - x0);
        const float* gx = &gx_[static_cast<std::size_t>(y) * width_ + x0];
        const float* gy = &gy_[static_cast<std::size_t>(y) * width_ + x0];
        for (int i = first; i < last; ++i) {
            out[i] += Share(gx[i], gy[i], nx, ny, cap);
            ++counted[i];
        }
    }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<char> lost_; ///< non-zero: the row has no gradient
    std::vector<float> gx_;
    std::vector<float> gy_;
};

// The brightness change across a shore with normal (nx, ny) at a pixel, sign dropped; 0
// off the picture.
template <typename Level> float Across(const Level& level, int x, int y, float nx, float ny) {
    float gx = 0.0f, gy = 0.0f;
    return level.Gradient(x, y, gx, gy) ? std::fabs(gx * nx + gy * ny) : 0.0f;
}

// The gradient magnitude below which the given share of a spread of pixels lies.
template <typename Level> float MagnitudeQuantile(const Level& level, double share) {
    const int step = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(level.Width()) *
                                                            level.Height() / 100000.0)));
    // Ranked by their squares, exact in double and far cheaper than the magnitudes: the
    // magnitude grows with its square, so the one ranked k has the k-th magnitude.
    auto eachGradient = [&](auto&& take) {
        for (int y = 1; y + 1 < level.Height(); y += step) {
            for (int x = 1; x + 1 < level.Width(); x += step) {
                float gx = 0.0f, gy = 0.0f;
                level.Gradient(x, y, gx, gy);
                if (take(gx, gy, static_cast<double>(gx) * gx + static_cast<double>(gy) * gy)) {
                    return;
                }
            }
        }
    };
    std::vector<double> squares;
    squares.reserve(static_cast<std::size_t>((level.Width() / step + 1)) *
                    static_cast<std::size_t>(level.Height() / step + 1));
    eachGradient([&](float, float, double square) {
        squares.push_back(square);
        return false;
    });
    if (squares.empty()) {
        return 0.0f;
    }
    const auto k = static_cast<std::size_t>(share * static_cast<double>(squares.size() - 1));
    std::nth_element(squares.begin(), squares.begin() + static_cast<std::ptrdiff_t>(k),
                     squares.end());
    float magnitude = 0.0f;
    eachGradient([&](float gx, float gy, double square) {
        if (square != squares[k]) {
            return false;
        }
        magnitude = std::hypot(gx, gy);
        return true;
    });
    return magnitude;
}

// A shore sample at its nearest pixel.
struct TPixelSample {
    int X = 0;
    int Y = 0;
    float Nx = 0.0f;
    float Ny = 0.0f;
};

// The vertex of the parabola through three equally spaced values, as a shift from the
// middle one (within half a step).
double ParabolaPeak(double before, double at, double after) {
    const double curvature = before - 2.0 * at + after;
    if (curvature >= 0.0) {
        return 0.0;
    }
    return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
}

// How the peak of a score window stands out: its height above what chance placements of
// the shore score, in their standard deviations; and the ratios of that height to the
// heights of the best offset three or more steps from it, of the best in its own row (how
// well the pixel offset is told) and in its own column (the line offset), with the
// direction of the best away from it.
struct TPeak {
    double Chance = 0.0;
    double All = 0.0;
    double Row = 0.0;
    double Column = 0.0;
    bool RunnerUpAlongColumn = false;
};

constexpr double kUnrivalled = 99.0;

TPeak PeakHeights(const std::vector<double>& scores, int columns, int rows, int bi, int bj,
                  const std::vector<double>& chance) {
    auto at = [&](int i, int j) { return scores[static_cast<std::size_t>(j) * columns + i]; };
    auto away = [&](int i, int j) { return std::abs(i - bi) >= 3 || std::abs(j - bj) >= 3; };
    TPeak p;
    if (chance.size() < 8) {
        return p; // too little picture around the window to judge by
    }
    const TMeanAndSpread placed = MeanAndSpread(chance);
    const double mean = placed.Mean;
    const double peak = at(bi, bj);
    const double spread = std::max(placed.Spread, 1e-6 * std::fabs(peak) + 1e-12);
    double all = -1e300, row = -1e300, column = -1e300;
    bool alongColumn = false;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            if (!away(i, j)) {
                continue;
            }
            const double s = at(i, j);
            if (s > all) {
                all = s;
                alongColumn = std::abs(j - bj) > std::abs(i - bi);
            }
            if (j == bj) {
                row = std::max(row, s);
            }
            if (i == bi) {
                column = std::max(column, s);
            }
        }
    }
    // Nothing away from the peak above chance: as good as a ratio gets.
    auto ratio = [&](double other) {
        return other > mean ? (peak - mean) / (other - mean) : kUnrivalled;
    };
    p.Chance = (peak - mean) / spread;
    p.All = ratio(all);
    p.Row = ratio(row);
    p.Column = ratio(column);
    p.RunnerUpAlongColumn = alongColumn;
    return p;
}

std::size_t StrideFor(std::size_t samples, std::size_t wanted) {
    return std::max<std::size_t>(1, samples / wanted);
}

} // namespace

// The picture's edges at both levels and the strength of a strong edge.
struct TAlignmentPicture::TLevels {
    TBitmap Grey; ///< a colour picture's grey levels
    const TBitmap* Image = nullptr;
    bool Usable = false;
    std::optional<TFineLevel> Fine;
    std::optional<TCoarseLevel> Coarse;
    float FineCap = 0.0f;
    float CoarseCap = 0.0f;
};

TAlignmentPicture::TAlignmentPicture(const TBitmap& picture, std::span<const char> lostLines)
    : levels_(std::make_unique<TLevels>()) {
    TLevels& l = *levels_;
    // A colour picture's shores are edges of its brightness as much as a channel's.
    if (picture.PixelFormat() == TPixelFormat::pf24bit) {
        l.Grey = picture;
        l.Grey.SetPixelFormat(TPixelFormat::pf8bit);
    }
    l.Image = l.Grey.Width() > 0 ? &l.Grey : &picture;
    l.Usable = l.Image->PixelFormat() == TPixelFormat::pf8bit &&
               l.Image->Width() >= 3 * kCoarse && l.Image->Height() >= 3 * kCoarse;
    if (l.Usable) {
        l.Fine.emplace(*l.Image, lostLines);
        l.Coarse.emplace(*l.Fine);
        // Each sample's share is capped at a strong edge of the picture, so that cloud
        // tops cannot outvote a coast.
        RunParts(2, [&l](int level) {
            if (level == 0) {
                l.CoarseCap = MagnitudeQuantile(*l.Coarse, 0.9);
            } else {
                l.FineCap = MagnitudeQuantile(*l.Fine, 0.9);
            }
        });
    }
}

TAlignmentPicture::~TAlignmentPicture() = default;

int TAlignmentPicture::Width() const {
    return levels_->Image->Width();
}

int TAlignmentPicture::Height() const {
    return levels_->Image->Height();
}

TAlignment AlignToCoasts(const TBitmap& picture, std::span<const TCoastSample> shore,
                         int startLineOffset, int startPixelOffset,
                         const TAlignmentOptions& options, std::span<const char> lostLines) {
    const auto started = std::chrono::steady_clock::now();
    const TAlignmentPicture prepared(picture, lostLines);
    TAlignment result =
        AlignToCoasts(prepared, shore, startLineOffset, startPixelOffset, options);
    result.Milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    return result;
}

namespace {

// The coarse search: every offset of the window, one level pixel apart, scored. An offset
// moves the overlay to (x + pixel offset, y - line offset).
struct TCoarseSearch {
    int HalfX = 0;
    int HalfY = 0;
    int Columns = 0;
    int Rows = 0;
    std::size_t Stride = 1;     ///< every this many shore samples are scored
    std::vector<double> Scores; ///< row by row, line offsets growing upwards
    std::size_t Best = 0;
};

TCoarseSearch SearchCoarsely(const TCoarseLevel& coarse, float coarseCap,
                             std::span<const TCoastSample> shore, int startLineOffset,
                             int startPixelOffset, const TAlignmentOptions& options) {
    TCoarseSearch c;
    c.HalfX = (options.SearchPixels + kCoarse - 1) / kCoarse;
    c.HalfY = (options.SearchLines + kCoarse - 1) / kCoarse;
    c.Columns = 2 * c.HalfX + 1;
    c.Rows = 2 * c.HalfY + 1;
    c.Stride =
        StrideFor(shore.size(), static_cast<std::size_t>(std::max(options.CoarseSamples, 1)));
    std::vector<double> sums(static_cast<std::size_t>(c.Columns) * c.Rows, 0.0);
    std::vector<int> counts(sums.size(), 0);
    // Sample by sample, each over the whole window: its positions stay close in memory.
    const int firstX = startPixelOffset - c.HalfX * kCoarse;
    const int firstY = -(startLineOffset - c.HalfY * kCoarse);
    const auto scored = static_cast<long long>(shore.size() / c.Stride);
    ForEachPart(c.Rows, ThreadsFor(scored * c.Rows * c.Columns, kSharesPerThread),
                [&](long long firstRow, long long endRow) {
                    for (std::size_t k = 0; k < shore.size(); k += c.Stride) {
                        const TCoastSample& s = shore[k];
                        // Column i and row j of the window move the sample by whole level
                        // pixels.
                        const int x0 = Nearest((s.X + static_cast<float>(firstX)) / kCoarse);
                        const int y0 = Nearest((s.Y + static_cast<float>(firstY)) / kCoarse);
                        for (auto j = static_cast<int>(firstRow); j < endRow; ++j) {
                            // Line offsets grow upwards: row j moves the overlay up by j steps.
                            coarse.AddShares(x0, y0 - j, c.Columns, s.Nx, s.Ny, coarseCap,
                                             sums.data() + j * c.Columns,
                                             counts.data() + j * c.Columns);
                        }
                    }
                });
    std::vector<double>& scores = sums;
    if (options.ChanceFromSearch) {
        // Over a long search the shore that lands on the picture grows and shrinks: each
        // offset is scored by how far its shores stand above the search's mean share, in
        // the spread a sum of that many shares has.
        double total = 0.0;
        double landed = 0.0;
        for (std::size_t k = 0; k < sums.size(); ++k) {
            total += sums[k];
            landed += counts[k];
        }
        const double mean = landed > 0.0 ? total / landed : 0.0;
        for (std::size_t k = 0; k < sums.size(); ++k) {
            scores[k] = counts[k] > 0 ? (sums[k] - counts[k] * mean) / std::sqrt(counts[k]) : 0.0;
        }
    }
    for (std::size_t k = 1; k < scores.size(); ++k) {
        if (scores[k] > scores[c.Best]) {
            c.Best = k;
        }
    }
    c.Scores = std::move(scores);
    return c;
}

// What placing the shore anywhere scores, the peak's yardstick: the shore moved far,
// wrapped round the picture so that as much of it stays on it, where no true coast can
// match; or, for a long search, the best of each of its far rows.
std::vector<double> ChanceScores(const TCoarseLevel& coarse, float coarseCap, const TBitmap& image,
                                 std::span<const TCoastSample> shore, const TCoarseSearch& c,
                                 const TAlignmentOptions& options) {
    std::vector<double> chance;
    if (options.ChanceFromSearch) {
        // Most of a long search is wrong: the best of each of its far rows is what chance
        // gives the best of a row.
        const int bj = static_cast<int>(c.Best) / c.Columns;
        for (int j = 0; j < c.Rows; ++j) {
            if (std::abs(j - bj) >= kFarRows) {
                const auto row = c.Scores.begin() + static_cast<std::ptrdiff_t>(j) * c.Columns;
                chance.push_back(*std::max_element(row, row + c.Columns));
            }
        }
        return chance;
    }
    const float width = static_cast<float>(image.Width());
    const float height = static_cast<float>(image.Height());
    auto wrapped = [](float v, float size) { return v - size * std::floor(v / size); };
    std::vector<std::pair<float, float>> moves;
    for (const float dx : {0.23f, 0.41f, 0.59f, 0.77f}) {
        for (const float dy : {0.0f, 0.19f, 0.37f, 0.53f, 0.71f, 0.89f}) {
            moves.emplace_back(dx, dy);
        }
    }
    chance.assign(moves.size(), 0.0);
    const auto scored = static_cast<long long>(shore.size() / c.Stride);
    const auto placements = static_cast<long long>(moves.size());
    // Each share lands anywhere on the picture, mostly a miss of the cache: a quarter as
    // many are worth a thread.
    ForEachPart(placements, ThreadsFor(scored * placements, kSharesPerThread / 4),
                [&](long long first, long long end) {
                    for (auto m = static_cast<std::size_t>(first);
                         m < static_cast<std::size_t>(end); ++m) {
                        const auto [dx, dy] = moves[m];
                        double sum = 0.0;
                        int landed = 0;
                        for (std::size_t k = 0; k < shore.size(); k += c.Stride) {
                            const TCoastSample& s = shore[k];
                            const float x = wrapped(s.X + dx * width, width);
                            const float y = wrapped(s.Y + (dy + 0.5f * dx) * height, height);
                            double share = 0.0;
                            coarse.AddShares(Nearest(x / kCoarse), Nearest(y / kCoarse), 1, s.Nx,
                                             s.Ny, coarseCap, &share, &landed);
                            sum += share;
                        }
                        chance[m] = sum;
                    }
                });
    return chance;
}

// The fine search round the coarse best: every pixel the coarse step may have passed
// over, then the parabola's vertex. Gives the whole-pixel offsets and the refined ones.
struct TFineFound {
    int Pixel = 0;
    int Line = 0;
    double PixelOffset = 0.0;
    double LineOffset = 0.0;
};

TFineFound SearchFinely(const TFineLevel& fine, float fineCap, std::span<const TCoastSample> shore,
                        int coarsePixel, int coarseLine) {
    const std::size_t fineStride = StrideFor(shore.size(), kFineSamples);
    std::vector<TPixelSample> scored;
    for (std::size_t k = 0; k < shore.size(); k += fineStride) {
        const TCoastSample& s = shore[k];
        scored.push_back({Nearest(s.X), Nearest(s.Y), s.Nx, s.Ny});
    }
    // Sample by sample over the window and one pixel round it (for the parabola): each
    // sample's patch of the picture stays in the cache. The window's rows split over the
    // cores.
    constexpr int kReach = kCoarse + 1;
    constexpr int kSide = 2 * kReach + 1;
    static_assert(kSide <= TFineLevel::kRowShares, "the window's rows fit AddShares");
    std::vector<double> window(static_cast<std::size_t>(kSide) * kSide, 0.0);
    ForEachPart(
        kSide, ThreadsFor(static_cast<long long>(scored.size()) * kSide * kSide, kSharesPerThread),
        [&](long long firstRow, long long endRow) {
            for (const TPixelSample& s : scored) {
                for (auto dl = static_cast<int>(firstRow) - kReach; dl < endRow - kReach; ++dl) {
                    double* out = &window[static_cast<std::size_t>(dl + kReach) * kSide];
                    fine.AddShares<kSide>(s.X + coarsePixel - kReach, s.Y - (coarseLine + dl), s.Nx,
                                          s.Ny, fineCap, out);
                }
            }
        });
    auto at = [&](int dp, int dl) {
        return window[static_cast<std::size_t>(dl + kReach) * kSide + (dp + kReach)];
    };
    int bestP = 0, bestL = 0;
    for (int dl = 1 - kReach; dl < kReach; ++dl) {
        for (int dp = 1 - kReach; dp < kReach; ++dp) {
            if (at(dp, dl) > at(bestP, bestL)) {
                bestP = dp;
                bestL = dl;
            }
        }
    }
    TFineFound f;
    f.Pixel = coarsePixel + bestP;
    f.Line = coarseLine + bestL;
    f.PixelOffset =
        f.Pixel + ParabolaPeak(at(bestP - 1, bestL), at(bestP, bestL), at(bestP + 1, bestL));
    f.LineOffset =
        f.Line + ParabolaPeak(at(bestP, bestL - 1), at(bestP, bestL), at(bestP, bestL + 1));
    return f;
}

// The shore points that lie on a clear edge at these offsets.
int Support(const TFineLevel& fine, float fineCap, std::span<const TCoastSample> shore, int pixel,
            int line) {
    std::atomic<int> support = 0;
    ForEachPart(static_cast<long long>(shore.size()),
                ThreadsFor(static_cast<long long>(shore.size()), kSharesPerThread),
                [&](long long first, long long end) {
                    int part = 0;
                    for (auto k = static_cast<std::size_t>(first);
                         k < static_cast<std::size_t>(end); ++k) {
                        const TCoastSample& s = shore[k];
                        const int x = Nearest(s.X) + pixel;
                        const int y = Nearest(s.Y) - line;
                        part += Across(fine, x, y, s.Nx, s.Ny) >= 0.5f * fineCap ? 1 : 0;
                    }
                    support += part;
                });
    return support;
}

// Why the answer is not trusted ("" when it is); an answer that one axis alone tells keeps
// the other offset at its start.
std::string Verdict(TAlignment& result, const TPeak& peak, const TFineFound& found,
                    int startLineOffset, int startPixelOffset, const TAlignmentOptions& options) {
    if (std::abs(found.Pixel - startPixelOffset) >= options.SearchPixels ||
        std::abs(found.Line - startLineOffset) >= options.SearchLines) {
        return "not confident (the best offset lies at the edge of the search)";
    }
    if (result.Support < options.MinSupport || result.Confidence < options.MinConfidence) {
        return "not confident (coasts hidden by cloud?)";
    }
    if (result.PeakRatio < options.MinPeakRatio) {
        // A coast that runs along one axis tells only the other: take that one alone.
        const bool pixelOnly =
            peak.RunnerUpAlongColumn && result.PixelRatio >= options.MinAxisRatio;
        const bool lineOnly = !peak.RunnerUpAlongColumn && result.LineRatio >= options.MinAxisRatio;
        if (!pixelOnly && !lineOnly) {
            return "not confident (more than one place fits the coasts)";
        }
        result.PixelOnly = pixelOnly;
        result.LineOnly = lineOnly;
        if (pixelOnly) {
            result.LineOffset = startLineOffset;
        } else {
            result.PixelOffset = startPixelOffset;
        }
    }
    return "";
}

} // namespace

TAlignment AlignToCoasts(const TAlignmentPicture& prepared, std::span<const TCoastSample> shore,
                         int startLineOffset, int startPixelOffset,
                         const TAlignmentOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const TAlignmentPicture::TLevels& levels = prepared.Levels();
    TAlignment result;
    result.ShorePoints = static_cast<int>(shore.size());
    auto finish = [&](std::string doubt) {
        result.Doubt = std::move(doubt);
        result.Confident = result.Doubt.empty();
        result.Milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count();
        return result;
    };
    if (!levels.Usable) {
        return finish("no picture to align with");
    }
    if (static_cast<int>(shore.size()) < options.MinSupport) {
        return finish("not confident (too little shore on the picture)");
    }
    if (!(levels.FineCap > 0.0f) || !(levels.CoarseCap > 0.0f)) {
        return finish("not confident (the picture has no edges)");
    }
    const TCoarseSearch coarse = SearchCoarsely(*levels.Coarse, levels.CoarseCap, shore,
                                                startLineOffset, startPixelOffset, options);
    const int bi = static_cast<int>(coarse.Best) % coarse.Columns;
    const int bj = static_cast<int>(coarse.Best) / coarse.Columns;
    const TPeak peak = PeakHeights(
        coarse.Scores, coarse.Columns, coarse.Rows, bi, bj,
        ChanceScores(*levels.Coarse, levels.CoarseCap, *levels.Image, shore, coarse, options));
    result.Confidence = peak.Chance;
    result.PeakRatio = peak.All;
    result.PixelRatio = peak.Row;
    result.LineRatio = peak.Column;

    const TFineFound found = SearchFinely(*levels.Fine, levels.FineCap, shore,
                                          startPixelOffset + (bi - coarse.HalfX) * kCoarse,
                                          startLineOffset + (bj - coarse.HalfY) * kCoarse);
    result.PixelOffset = found.PixelOffset;
    result.LineOffset = found.LineOffset;
    result.Support = Support(*levels.Fine, levels.FineCap, shore, found.Pixel, found.Line);
    return finish(Verdict(result, peak, found, startLineOffset, startPixelOffset, options));
}

bool CoastsContradictOverlay(const TAlignment& found, const TAlignmentOptions& options) {
    return !found.Confident && found.ShorePoints >= options.MinSupport &&
           found.Support >= options.MinSupport && found.Confidence < kNoMatchConfidence;
}

} // namespace vantorel
