// Segment boxes, cell masks of the globe and the footprint of a picture on the globe.
//
// The footprint is found without inverting the mapping: the corners of every cell are
// projected once per mapping state, and a cell is taken when the box of its projected
// corners, widened, reaches the picture. The widening covers what corners miss: the bulge
// of a cell's curved edges and, with half a cell to spare, lines between points in cells
// that are left out. Cells cut by the edge of the mapped area (a scanner's swath) can
// hold mapped points beyond their mapped corners, so they are widened by a whole cell
// more and bring their neighbours in.
#include "cartography/GeoExtent.h"

#include "cartography/zorCartography.h"
#include "common/Angles.h"
#include "common/Parallel.h"
#include "mapping/zorMapping.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantorel {

namespace {

// A box a few metres larger all round, so that rounding the edges to float never leaves
// out a point of the line it was made from.
constexpr double kBoxSlackDegrees = 1e-4;

// [-180, 180)
double WestOf(double lon) {
    return WrapDegrees360(lon + 180.0) - 180.0;
}

} // namespace

TGeoBox TGeoBox::OfPoints(std::span<const BoundaryPoint> points) {
    if (points.empty()) {
        return {};
    }
    // Where no step between neighbours wraps (each lies in (-180, 180]) and every longitude
    // is zero or between 2^-20 and 512 degrees across, each difference of two longitudes,
    // and each running sum of the differences, is exact in double: the longitude followed
    // along the line is then each point's own, and the box the points' own extremes. Every
    // point finite too. Flags or'ed, not branches, in one pass: it runs on vectors.
    constexpr float kSmallest = 1.0f / (1 << 20);
    bool wraps = false;
    float south = points.front().lat, north = south;
    float low = points.front().lon, high = low;
    for (size_t i = 0; i < points.size(); ++i) {
        const BoundaryPoint& p = points[i];
        const double step = static_cast<double>(p.lon) - points[i == 0 ? 0 : i - 1].lon;
        const float size = std::fabs(p.lon);
        wraps |= !(step > -180.0) | !(step <= 180.0) | !(p.lat - p.lat == 0.0f) |
                 ((p.lon != 0.0f) & !((size >= kSmallest) & (size < 512.0f)));
        south = std::min(south, p.lat);
        north = std::max(north, p.lat);
        low = std::min(low, p.lon);
        high = std::max(high, p.lon);
    }
    return wraps ? FollowingTheLine(points) : FromRange(south, north, low, high);
}

TGeoBox TGeoBox::FollowingTheLine(std::span<const BoundaryPoint> points) {
    if (points.empty()) {
        return {};
    }
    double south = std::numeric_limits<double>::infinity();
    double north = -south;
    double unwrapped = points.front().lon;
    double previous = unwrapped;
    double low = unwrapped;
    double high = unwrapped;
    for (const BoundaryPoint& p : points) {
        if (!std::isfinite(p.lon) || !std::isfinite(p.lat)) {
            return Globe();
        }
        south = std::min<double>(south, p.lat);
        north = std::max<double>(north, p.lat);
        unwrapped += WrapDegrees180(p.lon - previous);
        previous = p.lon;
        low = std::min(low, unwrapped);
        high = std::max(high, unwrapped);
    }
    return FromRange(south, north, low, high);
}

TGeoBox TGeoBox::FromRange(double south, double north, double low, double high) {
    TGeoBox box;
    box.South = static_cast<float>(south - kBoxSlackDegrees);
    box.North = static_cast<float>(north + kBoxSlackDegrees);
    const double width = high - low + 2 * kBoxSlackDegrees;
    if (width >= 360.0) {
        box.West = -180.0f;
        box.Width = 360.0f;
    } else {
        box.West = static_cast<float>(WestOf(low - kBoxSlackDegrees));
        box.Width = static_cast<float>(width);
    }
    return box;
}

bool TGeoBox::Contains(float lon, float lat) const {
    if (Empty() || !(lat >= South && lat <= North)) {
        return false;
    }
    return Width >= 360.0f || WrapDegrees360(static_cast<double>(lon) - West) <= Width;
}

TGeoExtent::TGeoExtent(const Mask& cells)
    : cells_(cells), rowPrefix_(static_cast<size_t>(kRows) * (kColumns + 1), 0) {
    for (int r = 0; r < kRows; ++r) {
        std::uint16_t* prefix = &rowPrefix_[static_cast<size_t>(r) * (kColumns + 1)];
        for (int c = 0; c < kColumns; ++c) {
            prefix[c + 1] = static_cast<std::uint16_t>(prefix[c] + (cells_[Index(r, c)] ? 1 : 0));
        }
        count_ += prefix[kColumns];
    }
}

TGeoExtent TGeoExtent::Globe() {
    Mask all;
    all.fill(true);
    return TGeoExtent(all);
}

int TGeoExtent::RowOf(double lat) {
    if (!(lat > -90.0)) {
        return 0;
    }
    return std::min(kRows - 1,
                    static_cast<int>(std::floor((std::min(lat, 90.0) + 90.0) / kCellDegrees)));
}

int TGeoExtent::ColumnOf(double lon) {
    const double from180W = WrapDegrees360(lon + 180.0);
    if (!std::isfinite(from180W)) {
        return 0;
    }
    return std::min(kColumns - 1, static_cast<int>(std::floor(from180W / kCellDegrees)));
}

// Columns first..last, last possibly past the end of the row (the box runs on across the
// antimeridian); the caller takes a whole row when they cover it.
int TGeoExtent::CountInRow(int row, int firstColumn, int lastColumn) const {
    const std::uint16_t* prefix = &rowPrefix_[static_cast<size_t>(row) * (kColumns + 1)];
    if (lastColumn < kColumns) {
        return prefix[lastColumn + 1] - prefix[firstColumn];
    }
    return (prefix[kColumns] - prefix[firstColumn]) + prefix[lastColumn - kColumns + 1];
}

TGeoExtent::CellSpan TGeoExtent::SpanOf(const TGeoBox& box) {
    CellSpan span;
    if (box.Empty()) {
        return span;
    }
    span.firstRow = static_cast<std::int16_t>(RowOf(box.South));
    span.lastRow = static_cast<std::int16_t>(RowOf(box.North));
    int firstColumn = 0;
    int lastColumn = kColumns - 1;
    if (box.Width < 360.0f) {
        firstColumn = ColumnOf(box.West);
        const double fromColumn = WrapDegrees360(box.West + 180.0) - firstColumn * kCellDegrees;
        lastColumn =
            firstColumn + static_cast<int>(std::floor((fromColumn + box.Width) / kCellDegrees));
        if (lastColumn - firstColumn >= kColumns - 1) {
            firstColumn = 0;
            lastColumn = kColumns - 1;
        }
    }
    span.firstColumn = static_cast<std::int16_t>(firstColumn);
    span.lastColumn = static_cast<std::int16_t>(lastColumn);
    return span;
}

bool TGeoExtent::IntersectsCells(const CellSpan& span) const {
    if (count_ == 0) {
        return false;
    }
    for (int r = span.firstRow; r <= span.lastRow; ++r) {
        if (CountInRow(r, span.firstColumn, span.lastColumn) > 0) {
            return true;
        }
    }
    return false;
}

bool TGeoExtent::Holds(const TGeoExtent& other) const {
    for (size_t i = 0; i < cells_.size(); ++i) {
        if (other.cells_[i] && !cells_[i]) {
            return false;
        }
    }
    return true;
}

TGeoExtent TGeoExtent::With(const TGeoExtent& other) const {
    Mask both = cells_;
    for (size_t i = 0; i < both.size(); ++i) {
        both[i] = both[i] || other.cells_[i];
    }
    return TGeoExtent(both);
}

TGeoExtent TGeoExtent::Covering(const TGeoBox& box) {
    Mask cells{};
    const CellSpan span = SpanOf(box);
    for (int r = span.firstRow; r <= span.lastRow; ++r) {
        for (int c = span.firstColumn; c <= span.lastColumn; ++c) {
            cells[Index(r, c % kColumns)] = true;
        }
    }
    return TGeoExtent(cells);
}

void TPictureFootprint::Project(const TMapping& mapping) {
    constexpr int kRows = TGeoExtent::kRows;
    constexpr int kColumns = TGeoExtent::kColumns;
    using Node = TProjectedPixel;
    std::vector<TLonLat> corners;
    corners.reserve(static_cast<size_t>(kRows + 1) * kColumns);
    for (int r = 0; r <= kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            corners.push_back({static_cast<float>(-180 + c * TGeoExtent::kCellDegrees),
                               static_cast<float>(-90 + r * TGeoExtent::kCellDegrees)});
        }
    }
    std::vector<Node> nodes(corners.size());
    const auto count = static_cast<long long>(corners.size());
    ForEachPart(count, ThreadsFor(count, 4096), [&](long long first, long long end) {
        mapping.LatLonToImage(std::span(corners).subspan(static_cast<size_t>(first),
                                                         static_cast<size_t>(end - first)),
                              nodes.data() + first);
    });
    auto node = [&](int r, int c) -> const Node& {
        return nodes[static_cast<size_t>(r) * kColumns + static_cast<size_t>(c % kColumns)];
    };

    cells_.assign(static_cast<size_t>(kRows) * kColumns, Cell{});
    std::vector<long long> size(cells_.size(), -1); // larger side, all four corners mapped
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const size_t i = static_cast<size_t>(r) * kColumns + c;
            Cell& cell = cells_[i];
            for (const Node* n :
                 {&node(r, c), &node(r, c + 1), &node(r + 1, c), &node(r + 1, c + 1)}) {
                if (!n->onMap) {
                    continue;
                }
                if (cell.mapped++ == 0) {
                    cell.x0 = cell.x1 = n->x;
                    cell.y0 = cell.y1 = n->y;
                } else {
                    cell.x0 = std::min(cell.x0, n->x);
                    cell.x1 = std::max(cell.x1, n->x);
                    cell.y0 = std::min(cell.y0, n->y);
                    cell.y1 = std::max(cell.y1, n->y);
                }
            }
            if (cell.mapped == 4) {
                size[i] = std::max(static_cast<long long>(cell.x1) - cell.x0,
                                   static_cast<long long>(cell.y1) - cell.y0);
            }
        }
    }
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            Cell& cell = cells_[static_cast<size_t>(r) * kColumns + c];
            long long around = -1; // the cells' size here, as the mapping draws them
            for (int dr = -1; dr <= 1; ++dr) {
                for (int dc = -1; dc <= 1; ++dc) {
                    if (r + dr >= 0 && r + dr < kRows) {
                        around = std::max(
                            around, size[static_cast<size_t>(r + dr) * kColumns +
                                         static_cast<size_t>((c + dc + kColumns) % kColumns)]);
                    }
                }
            }
            cell.widen = around < 0 ? -1 : cell.mapped == 4 ? around / 2 : around + around / 2;
        }
    }
}

TGeoExtent TPictureFootprint::Extent(int left, int top, int right, int bottom, int margin) const {
    constexpr int kRows = TGeoExtent::kRows;
    constexpr int kColumns = TGeoExtent::kColumns;
    if (cells_.empty()) {
        return TGeoExtent::Globe();
    }
    TGeoExtent::Mask taken{};
    for (size_t i = 0; i < cells_.size(); ++i) {
        const Cell& cell = cells_[i];
        if (cell.mapped == 0) {
            continue;
        }
        if (cell.widen < 0) { // nothing to measure by: keep the cell
            taken[i] = true;
            continue;
        }
        const long long w = cell.widen + margin;
        taken[i] = cell.x0 - w < right && cell.x1 + w >= left && cell.y0 - w < bottom &&
                   cell.y1 + w >= top;
    }
    TGeoExtent::Mask withNeighbours = taken;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const size_t i = static_cast<size_t>(r) * kColumns + c;
            if (!taken[i] || cells_[i].mapped == 4) {
                continue;
            }
            for (int dr = -1; dr <= 1; ++dr) {
                for (int dc = -1; dc <= 1; ++dc) {
                    if (r + dr >= 0 && r + dr < kRows) {
                        withNeighbours[static_cast<size_t>(r + dr) * kColumns +
                                       static_cast<size_t>((c + dc + kColumns) % kColumns)] = true;
                    }
                }
            }
        }
    }
    return TGeoExtent(withNeighbours);
}

} // namespace vantorel
