#pragma once

// Where on the globe a boundary segment lies and which part of the globe a picture can
// show, so that drawing projects only the segments that can reach the picture.

#include "mapping/zorMapping.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace vantorel {

class TMapping;
using BoundaryPoint = TLonLat;

/// A latitude/longitude box. Longitudes run eastwards from West over Width degrees, so a
/// box may cross the antimeridian; Width 360 holds every longitude.
struct TGeoBox {
    float South = 1.0f;   ///< degrees north; South > North is the empty box
    float North = -1.0f;  ///< degrees north
    float West = -180.0f; ///< degrees east, [-180, 180)
    float Width = 0.0f;   ///< degrees eastwards from West, [0, 360]

    /// Every point of the globe.
    static TGeoBox Globe() { return {-90.0f, 90.0f, -180.0f, 360.0f}; }
    /// The smallest box that holds every point of a line, its longitudes followed along
    /// the line: a line that crosses the antimeridian gets a box across it, one that
    /// goes all the way round gets every longitude. Empty for no points, the globe when a
    /// coordinate is not finite.
    static TGeoBox OfPoints(std::span<const BoundaryPoint> points);
    /// The same box, always by following the longitudes point by point (OfPoints takes
    /// the points' own extremes where that comes to the same).
    static TGeoBox FollowingTheLine(std::span<const BoundaryPoint> points);

    bool Empty() const { return !(South <= North); }
    /// The point (any longitude, wrapped) lies in the box, edges included.
    bool Contains(float lon, float lat) const;

private:
    /// The box of these extremes of latitude and of longitude followed along a line.
    static TGeoBox FromRange(double south, double north, double low, double high);
};

/// A part of the globe as a mask of cells of kCellDegrees by kCellDegrees, rows from the
/// south pole, columns eastwards from 180 W.
class TGeoExtent {
public:
    static constexpr int kCellDegrees = 2;
    static constexpr int kRows = 180 / kCellDegrees;
    static constexpr int kColumns = 360 / kCellDegrees;
    using Mask = std::array<bool, kRows * kColumns>;

    /// Nothing.
    TGeoExtent() : TGeoExtent(Mask{}) {}
    explicit TGeoExtent(const Mask& cells);
    static TGeoExtent Globe();
    /// The cells that a box touches.
    static TGeoExtent Covering(const TGeoBox& box);

    /// Row and column of the cell holding a point (longitude wrapped, latitude clamped).
    static int RowOf(double lat);
    static int ColumnOf(double lon);

    /// The rows and columns of the cells a box touches; lastColumn may run past the end
    /// of a row, on across the antimeridian. No rows for an empty box.
    struct CellSpan {
        std::int16_t firstRow = 0;
        std::int16_t lastRow = -1;
        std::int16_t firstColumn = 0;
        std::int16_t lastColumn = -1;
    };
    static CellSpan SpanOf(const TGeoBox& box);

    bool Cell(int row, int column) const { return cells_[Index(row, column)]; }
    int CellCount() const { return count_; }
    /// Some cell of the extent touches the box.
    bool Intersects(const TGeoBox& box) const { return IntersectsCells(SpanOf(box)); }
    bool IntersectsCells(const CellSpan& span) const;
    /// Every cell of `other` is a cell of this extent.
    bool Holds(const TGeoExtent& other) const;
    /// The cells of either extent.
    TGeoExtent With(const TGeoExtent& other) const;

private:
    static size_t Index(int row, int column) {
        return static_cast<size_t>(row) * kColumns + static_cast<size_t>(column);
    }
    int CountInRow(int row, int firstColumn, int lastColumn) const;

    Mask cells_;
    std::vector<std::uint16_t> rowPrefix_; // marked cells before each column, per row
    int count_ = 0;
};

/// The corners of every cell of TGeoExtent projected through one state of a mapping;
/// from them, the cells a picture can show.
class TPictureFootprint {
public:
    /// Projects the (kRows + 1) x kColumns cell corners and measures every cell.
    void Project(const TMapping& mapping);
    bool Projected() const { return !cells_.empty(); }

    /// The cells that may hold a point the mapping places within `margin` pixels of the
    /// rectangle left <= x < right, top <= y < bottom (the mapping's pixels), and every
    /// cell holding a point within half a cell's projected size of it, so that a line
    /// between two points in cells left out, no longer than a quarter of a cell, cannot
    /// cross the rectangle either. Cells cut by the edge of the mapped area count their
    /// neighbours in.
    TGeoExtent Extent(int left, int top, int right, int bottom, int margin) const;

private:
    struct Cell {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // box of the corners on the map
        long long widen = 0;     // how far beyond it the cell's points may lie; -1 unknown
        std::uint8_t mapped = 0; // corners on the map
    };
    std::vector<Cell> cells_; // kRows x kColumns
};

} // namespace vantorel
