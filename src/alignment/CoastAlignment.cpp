#include "alignment/CoastAlignment.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vantorel {
namespace {

// To the nearest whole number, for the positions of a picture (well within +-16384).
inline int Nearest(float v) {
    return static_cast<int>(v + 16384.5f) - 16384;
}

// The coarse search runs on the picture reduced by this factor.
constexpr int kCoarse = 4;
// Shore samples scored per offset: enough to outline every coast, few enough for speed.
constexpr std::size_t kCoarseSamples = 8000;
constexpr std::size_t kFineSamples = 40000;

// The change of brightness across a shore (a Sobel gradient, which smooths along the
// shore as it differentiates across it) on the picture itself, computed where asked.
class TFineLevel {
public:
    explicit TFineLevel(const TBitmap& image)
        : width_(image.Width()), height_(image.Height()), stride_(image.Stride()),
          pixels_(image.Bits().data()) {}

    int Width() const { return width_; }
    int Height() const { return height_; }

    bool Gradient(int x, int y, float& gx, float& gy) const {
        if (x < 1 || y < 1 || x + 1 >= width_ || y + 1 >= height_) {
            return false;
        }
        const std::uint8_t* up = pixels_ + static_cast<std::ptrdiff_t>(y - 1) * stride_ + x;
        const std::uint8_t* row = up + stride_;
        const std::uint8_t* down = row + stride_;
        gx = 0.125f *
             static_cast<float>((up[1] + 2 * row[1] + down[1]) - (up[-1] + 2 * row[-1] + down[-1]));
        gy = 0.125f *
             static_cast<float>((down[-1] + 2 * down[0] + down[1]) - (up[-1] + 2 * up[0] + up[1]));
        return true;
    }

    /// Kept for the coarse level: the mean of each kCoarse x kCoarse block.
    std::vector<float> Reduced(int& rw, int& rh) const {
        rw = width_ / kCoarse;
        rh = height_ / kCoarse;
        std::vector<float> out(static_cast<std::size_t>(rw) * rh, 0.0f);
        for (int y = 0; y < rh * kCoarse; ++y) {
            const std::uint8_t* row = pixels_ + static_cast<std::ptrdiff_t>(y) * stride_;
            float* target = &out[static_cast<std::size_t>(y / kCoarse) * rw];
            for (int x = 0; x < rw * kCoarse; ++x) {
                target[x / kCoarse] += row[x];
            }
        }
        for (float& v : out) {
            v /= static_cast<float>(kCoarse * kCoarse);
        }
        return out;
    }

private:
    int width_;
    int height_;
    int stride_;
    const std::uint8_t* pixels_;
};

// The same on the reduced picture, every pixel's gradient made once: the coarse search
// asks for each of them many times.
class TCoarseLevel {
public:
    explicit TCoarseLevel(const TFineLevel& fine) {
        const std::vector<float> p = fine.Reduced(width_, height_);
        gx_.assign(p.size(), 0.0f);
        gy_.assign(p.size(), 0.0f);
        for (int y = 1; y + 1 < height_; ++y) {
            const float* up = &p[static_cast<std::size_t>(y - 1) * width_];
            const float* row = up + width_;
            const float* down = row + width_;
            for (int x = 1; x + 1 < width_; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width_ + x;
                gx_[i] = 0.125f * ((up[x + 1] + 2.0f * row[x + 1] + down[x + 1]) -
                                   (up[x - 1] + 2.0f * row[x - 1] + down[x - 1]));
                gy_[i] = 0.125f * ((down[x - 1] + 2.0f * down[x] + down[x + 1]) -
                                   (up[x - 1] + 2.0f * up[x] + up[x + 1]));
            }
        }
    }

    int Width() const { return width_; }
    int Height() const { return height_; }

    bool Gradient(int x, int y, float& gx, float& gy) const {
        if (x < 1 || y < 1 || x + 1 >= width_ || y + 1 >= height_) {
            return false;
        }
        const std::size_t i = static_cast<std::size_t>(y) * width_ + x;
        gx = gx_[i];
        gy = gy_[i];
        return true;
    }

    /// Adds to out[i] the capped change across (nx, ny) at (x0 + i, y) for i = 0 .. n - 1
    /// (the border pixels, whose gradient is not made, add nothing).
    void AddAcross(int x0, int y, int n, float nx, float ny, float cap, double* out) const {
        if (y < 1 || y + 1 >= height_) {
            return;
        }
        const int first = std::max(0, 1 - x0);
        const int last = std::min(n, width_ - 1 - x0);
        const float* gx = &gx_[static_cast<std::size_t>(y) * width_ + x0];
        const float* gy = &gy_[static_cast<std::size_t>(y) * width_ + x0];
        for (int i = first; i < last; ++i) {
            out[i] += std::min(std::fabs(gx[i] * nx + gy[i] * ny), cap);
        }
    }

private:
    int width_ = 0;
    int height_ = 0;
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
    std::vector<float> m;
    const int step = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(level.Width()) *
                                                            level.Height() / 100000.0)));
    for (int y = 1; y + 1 < level.Height(); y += step) {
        for (int x = 1; x + 1 < level.Width(); x += step) {
            float gx = 0.0f, gy = 0.0f;
            level.Gradient(x, y, gx, gy);
            m.push_back(std::hypot(gx, gy));
        }
    }
    if (m.empty()) {
        return 0.0f;
    }
    const auto k = static_cast<std::size_t>(share * static_cast<double>(m.size() - 1));
    std::nth_element(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(k), m.end());
    return m[k];
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

struct TPeak {
    double Prominence = 0.0;
    double Ratio = 0.0;
};

// The plane a + b i + c j fitted to the scores outside the peak's neighbourhood, and the
// peak's height above it in the residuals' standard deviations; the ratio of its height
// to that of the highest residual away from it.
TPeak PeakAgainstPlane(const std::vector<double>& scores, int columns, int rows, int bi, int bj) {
    auto away = [&](int i, int j) { return std::abs(i - bi) > 2 || std::abs(j - bj) > 2; };
    // Normal equations of the plane; the cells form a full rectangle less a block.
    double m[3][4] = {};
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            if (!away(i, j)) {
                continue;
            }
            const double v[3] = {1.0, static_cast<double>(i), static_cast<double>(j)};
            const double s = scores[static_cast<std::size_t>(j) * columns + i];
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    m[r][c] += v[r] * v[c];
                }
                m[r][3] += v[r] * s;
            }
        }
    }
    for (int k = 0; k < 3; ++k) { // Gauss-Jordan; the system is well conditioned
        if (m[k][k] == 0.0) {
            return {};
        }
        for (int r = 0; r < 3; ++r) {
            if (r == k) {
                continue;
            }
            const double f = m[r][k] / m[k][k];
            for (int c = k; c < 4; ++c) {
                m[r][c] -= f * m[k][c];
            }
        }
    }
    const double a = m[0][3] / m[0][0], b = m[1][3] / m[1][1], c = m[2][3] / m[2][2];
    auto residual = [&](int i, int j) {
        return scores[static_cast<std::size_t>(j) * columns + i] - (a + b * i + c * j);
    };
    double squares = 0.0, runnerUp = 0.0;
    int n = 0;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            if (away(i, j)) {
                const double r = residual(i, j);
                squares += r * r;
                runnerUp = std::max(runnerUp, r);
                ++n;
            }
        }
    }
    TPeak peak;
    const double height = residual(bi, bj);
    const double spread = n > 3 ? std::sqrt(squares / (n - 3)) : 0.0;
    peak.Prominence = spread > 0.0 ? height / spread : 0.0;
    peak.Ratio = runnerUp > 0.0 ? height / runnerUp : 0.0;
    return peak;
}

std::size_t StrideFor(std::size_t samples, std::size_t wanted) {
    return std::max<std::size_t>(1, samples / wanted);
}

} // namespace

TAlignment AlignToCoasts(const TBitmap& image, std::span<const TCoastSample> shore,
                         int startLineOffset, int startPixelOffset,
                         const TAlignmentOptions& options) {
    const auto started = std::chrono::steady_clock::now();
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
    if (image.PixelFormat() != TPixelFormat::pf8bit || image.Width() < 3 * kCoarse ||
        image.Height() < 3 * kCoarse) {
        return finish("no picture to align with");
    }
    if (static_cast<int>(shore.size()) < options.MinSupport) {
        return finish("not confident (too little shore on the picture)");
    }

    const TFineLevel fine(image);
    const TCoarseLevel coarse(fine);
    // Each sample's share is capped at a strong edge of the picture, so that cloud tops
    // cannot outvote a coast.
    const float coarseCap = MagnitudeQuantile(coarse, 0.9);
    const float fineCap = MagnitudeQuantile(fine, 0.9);
    if (!(fineCap > 0.0f) || !(coarseCap > 0.0f)) {
        return finish("not confident (the picture has no edges)");
    }

    // Coarse: every offset of the window, one level pixel apart. An offset moves the
    // overlay to (x + pixel offset, y - line offset).
    const int halfX = (options.SearchPixels + kCoarse - 1) / kCoarse;
    const int halfY = (options.SearchLines + kCoarse - 1) / kCoarse;
    const int columns = 2 * halfX + 1;
    const int rows = 2 * halfY + 1;
    const std::size_t coarseStride = StrideFor(shore.size(), kCoarseSamples);
    std::vector<double> scores(static_cast<std::size_t>(columns) * rows, 0.0);
    // Sample by sample, each over the whole window: its positions stay close in memory.
    const int firstX = startPixelOffset - halfX * kCoarse;
    const int firstY = -(startLineOffset - halfY * kCoarse);
    for (std::size_t k = 0; k < shore.size(); k += coarseStride) {
        const TCoastSample& s = shore[k];
        // Column i and row j of the window move the sample by whole level pixels.
        const int x0 = Nearest((s.X + static_cast<float>(firstX)) / kCoarse);
        const int y0 = Nearest((s.Y + static_cast<float>(firstY)) / kCoarse);
        for (int j = 0; j < rows; ++j) {
            // Line offsets grow upwards: row j moves the overlay up by j steps.
            coarse.AddAcross(x0, y0 - j, columns, s.Nx, s.Ny, coarseCap,
                             &scores[static_cast<std::size_t>(j) * columns]);
        }
    }
    std::size_t best = 0;
    for (std::size_t k = 1; k < scores.size(); ++k) {
        if (scores[k] > scores[best]) {
            best = k;
        }
    }
    // The peak against the offsets away from it, less the window's tilt (shores leaving
    // the picture at one side of the window lower the scores there).
    const int bi = static_cast<int>(best) % columns;
    const int bj = static_cast<int>(best) / columns;
    const TPeak peak = PeakAgainstPlane(scores, columns, rows, bi, bj);
    result.Prominence = peak.Prominence;
    result.PeakRatio = peak.Ratio;

    // Fine: every pixel the coarse step may have passed over, then the parabola's vertex.
    const int coarsePixel = startPixelOffset + (bi - halfX) * kCoarse;
    const int coarseLine = startLineOffset + (bj - halfY) * kCoarse;
    const std::size_t fineStride = StrideFor(shore.size(), kFineSamples);
    std::vector<TPixelSample> scored;
    for (std::size_t k = 0; k < shore.size(); k += fineStride) {
        const TCoastSample& s = shore[k];
        scored.push_back({Nearest(s.X), Nearest(s.Y), s.Nx, s.Ny});
    }
    // Sample by sample over the window and one pixel round it (for the parabola): each
    // sample's patch of the picture stays in the cache.
    constexpr int kReach = kCoarse + 1;
    constexpr int kSide = 2 * kReach + 1;
    std::vector<double> window(static_cast<std::size_t>(kSide) * kSide, 0.0);
    for (const TPixelSample& s : scored) {
        for (int dl = -kReach; dl <= kReach; ++dl) {
            double* out = &window[static_cast<std::size_t>(dl + kReach) * kSide];
            const int y = s.Y - (coarseLine + dl);
            for (int dp = -kReach; dp <= kReach; ++dp) {
                out[dp + kReach] +=
                    std::min(Across(fine, s.X + coarsePixel + dp, y, s.Nx, s.Ny), fineCap);
            }
        }
    }
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
    const int pixel = coarsePixel + bestP;
    const int line = coarseLine + bestL;
    result.PixelOffset =
        pixel + ParabolaPeak(at(bestP - 1, bestL), at(bestP, bestL), at(bestP + 1, bestL));
    result.LineOffset =
        line + ParabolaPeak(at(bestP, bestL - 1), at(bestP, bestL), at(bestP, bestL + 1));

    for (const TCoastSample& s : shore) {
        const int x = Nearest(s.X) + pixel;
        const int y = Nearest(s.Y) - line;
        result.Support += Across(fine, x, y, s.Nx, s.Ny) >= 0.5f * fineCap ? 1 : 0;
    }

    if (result.Support < options.MinSupport || result.Prominence < options.MinProminence ||
        result.PeakRatio < options.MinPeakRatio) {
        return finish("not confident (coasts hidden by cloud?)");
    }
    if (std::abs(pixel - startPixelOffset) >= options.SearchPixels ||
        std::abs(line - startLineOffset) >= options.SearchLines) {
        return finish("not confident (the best offset lies at the edge of the search)");
    }
    return finish("");
}

} // namespace vantorel
