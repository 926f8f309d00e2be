#include "calibration/CoastMatches.h"

#include "common/Parallel.h"
#include "common/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vantorel {
namespace {

// The picture as grey levels: a colour picture's coasts are edges of its brightness.
const TBitmap& GreyOf(const TBitmap& picture, TBitmap& grey) {
    if (picture.PixelFormat() != TPixelFormat::pf24bit) {
        return picture;
    }
    grey = picture;
    grey.SetPixelFormat(TPixelFormat::pf8bit);
    return grey;
}

int TileCount(int size, int per) {
    return std::max(1, (size + per / 2) / per);
}

} // namespace

TCoastDistance CoastDistance(const TBitmap& picture, std::span<const TCoastSample> shore,
                             std::span<const char> lostLines, int lineOffset, int pixelOffset,
                             const TTileGrid& tiles) {
    TBitmap grey;
    const TBitmap& image = GreyOf(picture, grey);
    TCoastDistance out;
    if (image.PixelFormat() != TPixelFormat::pf8bit || image.Width() < 2 || image.Height() < 2) {
        return out;
    }
    auto lost = [&](int y) {
        return static_cast<std::size_t>(y) < lostLines.size() &&
               lostLines[static_cast<std::size_t>(y)] != 0;
    };
    auto at = [&](double x, double y) -> double {
        const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
        if (ix < 0 || iy < 0 || ix + 1 >= image.Width() || iy + 1 >= image.Height() || lost(iy) ||
            lost(iy + 1)) {
            return -1.0;
        }
        const double fx = x - ix, fy = y - iy;
        const std::uint8_t* a = image.ScanLine(iy);
        const std::uint8_t* b = image.ScanLine(iy + 1);
        return (1 - fy) * ((1 - fx) * a[ix] + fx * a[ix + 1]) +
               fy * ((1 - fx) * b[ix] + fx * b[ix + 1]);
    };
    const int columns = std::max(1, tiles.Columns);
    const int rows = TileCount(image.Height(), std::max(1, tiles.LinesPerRow));
    std::vector<std::vector<double>> byTile(static_cast<std::size_t>(columns) * rows);
    std::vector<double> all;
    constexpr int kReach = 12;
    for (const TCoastSample& s : shore) {
        const double x0 = s.X + pixelOffset, y0 = s.Y - lineOffset;
        double profile[2 * kReach + 3];
        bool whole = true;
        for (int k = -kReach - 1; k <= kReach + 1 && whole; ++k) {
            profile[k + kReach + 1] = at(x0 + k * s.Nx, y0 + k * s.Ny);
            whole = profile[k + kReach + 1] >= 0.0;
        }
        if (!whole) {
            continue;
        }
        double best = 0.0;
        int where = 0;
        double change[2 * kReach + 1];
        for (int k = -kReach; k <= kReach; ++k) {
            change[k + kReach] = std::fabs(profile[k + kReach + 2] - profile[k + kReach]) / 2.0;
            if (change[k + kReach] > best) {
                best = change[k + kReach];
                where = k;
            }
        }
        if (best < 12.0 || where == -kReach || where == kReach) {
            continue; // no clear coast here (cloud, or none within reach)
        }
        const double l = change[where + kReach - 1], c = change[where + kReach],
                     r = change[where + kReach + 1];
        const double curvature = l - 2 * c + r;
        const double d = std::fabs(where + (curvature < 0 ? 0.5 * (l - r) / curvature : 0.0));
        all.push_back(d);
        const int tc = std::clamp(static_cast<int>(x0 * columns / image.Width()), 0, columns - 1);
        const int tr = std::clamp(static_cast<int>(y0 * rows / image.Height()), 0, rows - 1);
        byTile[static_cast<std::size_t>(tr) * columns + tc].push_back(d);
    }
    out.Points = all.size();
    if (all.empty()) {
        return out;
    }
    out.Median = Percentile(all, 50);
    out.P90 = Percentile(all, 90);
    for (std::vector<double>& t : byTile) {
        if (t.size() >= 40) {
            out.WorstTile = std::max(out.WorstTile, Percentile(t, 50));
        }
    }
    return out;
}

std::vector<TTileMatch> MatchCoastsInTiles(const TBitmap& picture,
                                           std::span<const TCoastSample> shore,
                                           std::span<const char> lostLines, const TTileGrid& tiles,
                                           int startLine, int startPixel, int searchLines,
                                           int searchPixels, int minSupport,
                                           double minConfidence) {
    const TAlignmentPicture prepared(picture, lostLines);
    return MatchCoastsInTiles(prepared, shore, tiles, startLine, startPixel, searchLines,
                              searchPixels, minSupport, minConfidence);
}

std::vector<TTileMatch> MatchCoastsInTiles(const TAlignmentPicture& prepared,
                                           std::span<const TCoastSample> shore,
                                           const TTileGrid& tiles, int startLine, int startPixel,
                                           int searchLines, int searchPixels, int minSupport,
                                           double minConfidence) {
    const int w = prepared.Width(), h = prepared.Height();
    const int columns = std::max(1, tiles.Columns);
    const int rows = TileCount(h, std::max(1, tiles.LinesPerRow));
    std::vector<std::vector<TCoastSample>> parts(static_cast<std::size_t>(columns) * rows);
    for (const TCoastSample& s : shore) {
        if (s.X < 0 || s.Y < 0 || s.X >= w || s.Y >= h) {
            continue;
        }
        const int c = std::min(static_cast<int>(s.X) * columns / w, columns - 1);
        const int r = std::min(static_cast<int>(s.Y) * rows / h, rows - 1);
        parts[static_cast<std::size_t>(r) * columns + c].push_back(s);
    }
    TAlignmentOptions local;
    local.SearchLines = searchLines;
    local.SearchPixels = searchPixels;
    local.MinSupport = minSupport;
    local.MinConfidence = minConfidence;
    std::vector<TTileMatch> out(parts.size());
    // Each tile is matched on its own: the tiles share the cores, each writing its own.
    RunParts(static_cast<int>(parts.size()), [&](int index) {
        {
            const int r = index / columns;
            const int c = index % columns;
            const std::vector<TCoastSample>& part = parts[static_cast<std::size_t>(index)];
            TTileMatch m;
            m.Column = c;
            m.Row = r;
            m.X0 = c * w / columns;
            m.X1 = (c + 1) * w / columns;
            m.Y0 = r * h / rows;
            m.Y1 = (r + 1) * h / rows;
            m.ShorePoints = static_cast<int>(part.size());
            m.X = 0.5 * (m.X0 + m.X1);
            m.Y = 0.5 * (m.Y0 + m.Y1);
            if (!part.empty()) {
                double sx = 0.0, sy = 0.0;
                for (const TCoastSample& s : part) {
                    sx += s.X;
                    sy += s.Y;
                }
                m.X = sx / static_cast<double>(part.size());
                m.Y = sy / static_cast<double>(part.size());
            }
            if (static_cast<int>(part.size()) >= minSupport) {
                const TAlignment a =
                    AlignToCoasts(prepared, part, startLine, startPixel, local);
                m.Confidence = a.Confidence;
                m.Support = a.Support;
                if (a.Confident) {
                    m.PixelKnown = !a.LineOnly;
                    m.LineKnown = !a.PixelOnly;
                    m.PixelShift = a.PixelOffset;
                    m.LineShift = -a.LineOffset; // the overlay moves up for a positive offset
                }
            }
            out[static_cast<std::size_t>(index)] = m;
        }
    });
    return out;
}

} // namespace vantorel
