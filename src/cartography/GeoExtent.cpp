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

void TGeoExtent::CellRange(const TGeoBox& box, int& firstRow, int& lastRow, int& firstColumn,
                           int& lastColumn) {
    firstRow = RowOf(box.South);
    lastRow = RowOf(box.North);
    firstColumn = 0;
    lastColumn = kColumns - 1;
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
}

bool TGeoExtent::Intersects(const TGeoBox& box) const {
    if (box.Empty() || count_ == 0) {
        return false;
    }
    int firstRow = 0, lastRow = 0, firstColumn = 0, lastColumn = 0;
    CellRange(box, firstRow, lastRow, firstColumn, lastColumn);
    for (int r = firstRow; r <= lastRow; ++r) {
        if (CountInRow(r, firstColumn, lastColumn) > 0) {
            return true;
        }
    }
    return false;
}

TGeoExtent TGeoExtent::Covering(const TGeoBox& box) {
    Mask cells{};
    if (!box.Empty()) {
        int firstRow = 0, lastRow = 0, firstColumn = 0, lastColumn = 0;
        CellRange(box, firstRow, lastRow, firstColumn, lastColumn);
        for (int r = firstRow; r <= lastRow; ++r) {
            for (int c = firstColumn; c <= lastColumn; ++c) {
                cells[Index(r, c % kColumns)] = true;
            }
        }
    }
    return TGeoExtent(cells);
}

void TPictureFootprint::Project(const TMapping& mapping) {
    nodes_.assign(static_cast<size_t>(TGeoExtent::kRows + 1) * TGeoExtent::kColumns, Node{});
    for (int r = 0; r <= TGeoExtent::kRows; ++r) {
        const auto lat = static_cast<float>(-90 + r * TGeoExtent::kCellDegrees);
        for (int c = 0; c < TGeoExtent::kColumns; ++c) {
            const auto lon = static_cast<float>(-180 + c * TGeoExtent::kCellDegrees);
            Node& n = nodes_[static_cast<size_t>(r) * TGeoExtent::kColumns + c];
            n.onMap = mapping.LatLonToImage(n.x, n.y, lon, lat);
        }
    }
}

TGeoExtent TPictureFootprint::Extent(int left, int top, int right, int bottom, int margin) const {
    constexpr int kRows = TGeoExtent::kRows;
    constexpr int kColumns = TGeoExtent::kColumns;
    if (nodes_.empty()) {
        return TGeoExtent::Globe();
    }
    struct CellShape {
        long long x0 = 0, y0 = 0, x1 = 0, y1 = 0; // box of the mapped corners
        int mapped = 0;                           // corners on the map
        long long size = -1;                      // larger side of the box, all four mapped
    };
    std::vector<CellShape> shapes(static_cast<size_t>(kRows) * kColumns);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            CellShape& s = shapes[static_cast<size_t>(r) * kColumns + c];
            for (const Node* n : {&At(r, c), &At(r, c + 1), &At(r + 1, c), &At(r + 1, c + 1)}) {
                if (!n->onMap) {
                    continue;
                }
                if (s.mapped++ == 0) {
                    s.x0 = s.x1 = n->x;
                    s.y0 = s.y1 = n->y;
                } else {
                    s.x0 = std::min<long long>(s.x0, n->x);
                    s.x1 = std::max<long long>(s.x1, n->x);
                    s.y0 = std::min<long long>(s.y0, n->y);
                    s.y1 = std::max<long long>(s.y1, n->y);
                }
            }
            if (s.mapped == 4) {
                s.size = std::max(s.x1 - s.x0, s.y1 - s.y0);
            }
        }
    }
    auto shape = [&](int r, int c) -> const CellShape& {
        return shapes[static_cast<size_t>(r) * kColumns +
                      static_cast<size_t>((c + kColumns) % kColumns)];
    };

    TGeoExtent::Mask taken{};
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const CellShape& s = shape(r, c);
            if (s.mapped == 0) {
                continue;
            }
            long long size = -1; // of the cells around, as the mapping draws them here
            for (int dr = -1; dr <= 1; ++dr) {
                for (int dc = -1; dc <= 1; ++dc) {
                    if (r + dr >= 0 && r + dr < kRows) {
                        size = std::max(size, shape(r + dr, c + dc).size);
                    }
                }
            }
            bool near = true; // nothing to measure by: keep the cell
            if (size >= 0) {
                const long long widen = (s.mapped == 4 ? size / 2 : size + size / 2) + margin;
                near = s.x0 - widen < right && s.x1 + widen >= left && s.y0 - widen < bottom &&
                       s.y1 + widen >= top;
            }
            taken[static_cast<size_t>(r) * kColumns + c] = near;
        }
    }
    TGeoExtent::Mask withNeighbours = taken;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const CellShape& s = shape(r, c);
            if (!taken[static_cast<size_t>(r) * kColumns + c] || s.mapped == 4) {
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
