// The latitude/longitude grid: built as short pieces in a boundary store of its own, so that
// it is projected, culled and drawn by the boundaries' own rules, and labelled where its
// lines cross the picture's edges.
#include "cartography/Graticule.h"

#include "common/Angles.h"
#include "imaging/Bitmap.h"
#include "imaging/Canvas.h"
#include "mapping/zorMapping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace vantorel {
namespace {

// At most this many lines across the part in view.
constexpr double kMostLinesAcross = 8.0;
// Points a drawn piece holds: 2 degrees, short enough for drawing to cull the pieces that
// cannot reach the picture.
constexpr size_t kPiecePoints = 21;
// Neighbouring points (0.1 degree apart) farther apart than this on the picture lie on
// either side of a break of the mapping, not on one line.
constexpr long long kLongestStepPixels = 256;
// Parallels and meridians stay this far from the poles, where meridians meet.
constexpr double kPolarLimit = 89.5;

std::string DegreeText(int degrees, bool parallel) {
    static const std::string kDegree = "\xC2\xB0";
    if (degrees == 0 || (!parallel && std::abs(degrees) == 180)) {
        return std::to_string(std::abs(degrees)) + kDegree;
    }
    const char* hemisphere = parallel ? (degrees > 0 ? "N" : "S") : (degrees > 0 ? "E" : "W");
    return std::to_string(std::abs(degrees)) + kDegree + hemisphere;
}

// Multiples of `step` from the one at or below `low` to the one at or above `high`.
std::pair<int, int> WholeSteps(double low, double high, int step) {
    return {static_cast<int>(std::floor(low / step)) * step,
            static_cast<int>(std::ceil(high / step)) * step};
}

} // namespace

int GraticuleStepFor(const TGeoBox& box) {
    if (box.Empty()) {
        return kGraticuleSteps.back();
    }
    const double middle = 0.5 * (static_cast<double>(box.South) + box.North);
    const double across = std::max(static_cast<double>(box.North) - box.South,
                                   box.Width * std::cos(middle * kDegreesToRadians));
    for (const int step : kGraticuleSteps) {
        if (across / step <= kMostLinesAcross) {
            return step;
        }
    }
    return kGraticuleSteps.back();
}

TGeoBox GroundBox(const LocationGrid& grid, const TScanLayout& layout, int firstLine, int endLine,
                  int firstColumn, int endColumn) {
    const int lines = static_cast<int>(grid.size());
    firstLine = std::clamp(firstLine, 0, lines);
    endLine = std::clamp(endLine, firstLine, lines);
    if (endLine <= firstLine || endColumn <= firstColumn) {
        return {};
    }
    auto sample = [&](double column) {
        return (column - layout.FirstColumn) / layout.Step;
    };
    const int firstSample =
        std::clamp(static_cast<int>(std::floor(sample(firstColumn))), 0, kGridColumns - 1);
    const int lastSample =
        std::clamp(static_cast<int>(std::ceil(sample(endColumn - 1))), 0, kGridColumns - 1);
    // About 200 rows of a tall part are plenty for its box; the last row always counts.
    const int rowStep = std::max(1, (endLine - firstLine) / 200);
    std::vector<BoundaryPoint> points;
    auto addRow = [&](int line) {
        const GeoRow& row = grid[static_cast<size_t>(line)];
        for (int k = firstSample; k <= lastSample; ++k) {
            const GeoPoint& p = row[static_cast<size_t>(k)];
            if (p.lat != 0.0f || p.lon != 0.0f) {
                points.push_back({p.lon, p.lat});
            }
        }
    };
    for (int line = firstLine; line < endLine; line += rowStep) {
        addRow(line);
    }
    if ((endLine - 1 - firstLine) % rowStep != 0) {
        addRow(endLine - 1);
    }
    return TGeoBox::OfPoints(points);
}

TGraticule::TGraticule() {
    pieces_.ClosePolylines = false;
}

void TGraticule::Build(int step, const TGeoBox& area) {
    step_ = step;
    area_ = area;
    lines_.clear();
    pieces_.Clear();
    projectedMapping_ = nullptr;
    if (area.Empty() || step <= 0) {
        return;
    }
    const auto [south, north] = WholeSteps(std::max(-kPolarLimit, double(area.South) - step),
                                           std::min(kPolarLimit, double(area.North) + step), step);
    const bool round = area.Width + 2.0 * step >= 360.0;
    const auto [west, east] = round ? std::pair{-180, 180}
                                    : WholeSteps(double(area.West) - step,
                                                 double(area.West) + area.Width + step, step);
    const double latLow = std::max(double(south), -kPolarLimit);
    const double latHigh = std::min(double(north), kPolarLimit);

    auto add = [&](bool parallel, int degrees, double from, double to) {
        Line line;
        line.parallel = parallel;
        line.degrees = degrees;
        const int count = static_cast<int>(std::lround((to - from) / kPointSpacing));
        for (int i = 0; i <= count; ++i) {
            const double along = from + (to - from) * i / std::max(count, 1);
            line.points.push_back(
                parallel ? BoundaryPoint{float(WrapDegrees180(along)), float(degrees)}
                         : BoundaryPoint{float(WrapDegrees180(degrees)), float(along)});
        }
        for (size_t first = 0; first + 1 < line.points.size(); first += kPiecePoints - 1) {
            auto piece = std::make_unique<TLineSegment>();
            const size_t end = std::min(line.points.size(), first + kPiecePoints);
            for (size_t i = first; i < end; ++i) {
                piece->Add(line.points[i].lon, line.points[i].lat);
            }
            pieces_.AddSegment(std::move(piece));
        }
        lines_.push_back(std::move(line));
    };
    for (int lat = south; lat <= north; lat += step) {
        if (std::abs(lat) <= kPolarLimit) {
            add(true, lat, west, east);
        }
    }
    // Round the globe the last meridian is the first again.
    const int lastMeridian = round ? east - step : east;
    for (int lon = west; lon <= lastMeridian; lon += step) {
        add(false, static_cast<int>(WrapDegrees180(lon)), latLow, latHigh);
    }
}

void TGraticule::DrawLines(TBitmap& bitmap, const TMapping& mapping, int pixelOffset,
                           int lineOffset, TCartogList::TDrawnPixels* drawn,
                           const TDrawScale& scale) {
    pieces_.Mapping = &mapping;
    pieces_.Drawn = drawn;
    pieces_.Scale = scale;
    pieces_.DrawBoundaries(bitmap, pixelOffset, lineOffset);
    pieces_.Drawn = nullptr;
    pieces_.Scale = {};
}

void TGraticule::Project(const TMapping& mapping) {
    if (projectedMapping_ == &mapping && projectedVersion_ == mapping.ProjectionVersion()) {
        return;
    }
    projectedMapping_ = &mapping;
    projectedVersion_ = mapping.ProjectionVersion();
    projected_.assign(lines_.size(), {});
    for (size_t l = 0; l < lines_.size(); ++l) {
        const std::vector<BoundaryPoint>& points = lines_[l].points;
        std::vector<Projected>& out = projected_[l];
        out.resize(points.size());
        mapping.LatLonToImage(points, out.data());
    }
}

std::vector<TGraticuleLabel> TGraticule::EdgeLabels(const TMapping& mapping,
                                                    const TPictureArea& area, int pixelOffset,
                                                    int lineOffset) {
    std::vector<TGraticuleLabel> labels;
    if (area.Empty()) {
        return labels;
    }
    Project(mapping);
    const double left = area.Left;
    const double top = area.Top;
    const double right = area.Right - 1;
    const double bottom = area.Bottom - 1;
    auto inside = [&](double x, double y) {
        return x >= left && y >= top && x <= right && y <= bottom;
    };
    for (size_t l = 0; l < lines_.size(); ++l) {
        const std::vector<Projected>& points = projected_[l];
        for (size_t i = 1; i < points.size(); ++i) {
            const Projected& a = points[i - 1];
            const Projected& b = points[i];
            if (!a.onMap || !b.onMap ||
                std::llabs(static_cast<long long>(a.x) - b.x) +
                        std::llabs(static_cast<long long>(a.y) - b.y) >
                    kLongestStepPixels) {
                continue;
            }
            const double ax = a.x + pixelOffset;
            const double ay = a.y - lineOffset;
            const double bx = b.x + pixelOffset;
            const double by = b.y - lineOffset;
            const bool aIn = inside(ax, ay);
            if (aIn == inside(bx, by)) {
                continue;
            }
            // From the point inside towards the one outside: the first edge it reaches.
            const double ix = aIn ? ax : bx, iy = aIn ? ay : by;
            const double ox = aIn ? bx : ax, oy = aIn ? by : ay;
            TGraticuleLabel label;
            double first = 2.0;
            auto edge = [&](bool crossed, double t, TGraticuleLabel::TEdge which) {
                if (crossed && t < first) {
                    first = t;
                    label.Edge = which;
                }
            };
            edge(ox < left, (ix - left) / (ix - ox), TGraticuleLabel::TEdge::Left);
            edge(ox > right, (right - ix) / (ox - ix), TGraticuleLabel::TEdge::Right);
            edge(oy < top, (iy - top) / (iy - oy), TGraticuleLabel::TEdge::Top);
            edge(oy > bottom, (bottom - iy) / (oy - iy), TGraticuleLabel::TEdge::Bottom);
            const bool sideways = label.Edge == TGraticuleLabel::TEdge::Left ||
                                  label.Edge == TGraticuleLabel::TEdge::Right;
            const double along = sideways ? iy + first * (oy - iy) : ix + first * (ox - ix);
            label.Position = static_cast<int>(std::lround(along));
            label.Text = DegreeText(lines_[l].degrees, lines_[l].parallel);
            labels.push_back(std::move(label));
        }
    }
    return labels;
}

void DrawGraticuleLabels(TBitmap& bitmap, const std::vector<TGraticuleLabel>& labels, TColor colour,
                         bool turned, TPictureArea area, TCartogList::TDrawnPixels* drawn) {
    using TEdge = TGraticuleLabel::TEdge;
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (turned) {
        area = {width - area.Right, height - area.Bottom, width - area.Left, height - area.Top};
    }
    area = {std::max(area.Left, 0), std::max(area.Top, 0), std::min(area.Right, width),
            std::min(area.Bottom, height)};
    if (labels.empty() || area.Empty()) {
        return;
    }
    TCanvas& c = bitmap.Canvas();
    const TFont savedFont = c.Font;
    const TBrush savedBrush = c.Brush;
    c.Font = TFont{};
    c.Font.Size = 8;
    c.Brush.Style = TBrushStyle::bsClear;
    constexpr int margin = 2;
    struct Box {
        int left, top, right, bottom;
    };
    std::vector<Box> written;
    for (const TGraticuleLabel& label : labels) {
        TEdge edge = label.Edge;
        int position = label.Position;
        if (turned) {
            const bool sideways = edge == TEdge::Left || edge == TEdge::Right;
            position = (sideways ? height : width) - 1 - position;
            edge = edge == TEdge::Left    ? TEdge::Right
                   : edge == TEdge::Right ? TEdge::Left
                   : edge == TEdge::Top   ? TEdge::Bottom
                                          : TEdge::Top;
        }
        const int w = c.TextWidth(label.Text);
        const int h = c.TextHeight(label.Text);
        int x = position - w / 2;
        int y = position - h / 2;
        switch (edge) {
        case TEdge::Left:
            x = area.Left + margin;
            break;
        case TEdge::Right:
            x = area.Right - margin - w;
            break;
        case TEdge::Top:
            y = area.Top + margin;
            break;
        case TEdge::Bottom:
            y = area.Bottom - margin - h;
            break;
        }
        x = std::clamp(x, area.Left, std::max(area.Left, area.Right - w));
        y = std::clamp(y, area.Top, std::max(area.Top, area.Bottom - h));
        const Box box{x - margin, y - margin, x + w + margin, y + h + margin};
        const bool overlaps = std::any_of(written.begin(), written.end(), [&](const Box& o) {
            return box.left < o.right && o.left < box.right && box.top < o.bottom &&
                   o.top < box.bottom;
        });
        if (overlaps) {
            continue;
        }
        written.push_back(box);
        if (drawn != nullptr) {
            // The halo lies within the margin.
            drawn->AddBox(box.left, box.top, box.right, box.bottom, width, height);
        }
        c.Font.Color = clBlack;
        for (const auto& [hx, hy] : {std::pair{-1, -1}, {1, -1}, {-1, 1}, {1, 1}}) {
            c.TextOut(x + hx, y + hy, label.Text);
        }
        c.Font.Color = colour;
        c.TextOut(x, y, label.Text);
    }
    c.Font = savedFont;
    c.Brush = savedBrush;
}

} // namespace vantorel
