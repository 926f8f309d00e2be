#pragma once

// The latitude/longitude grid drawn over a pass: parallels and meridians every 1, 2, 5 or
// 10 degrees, projected through the same mapping and placed with the same offsets as the
// boundaries, with small degree labels where the lines leave the picture.

#include "cartography/GeoExtent.h"
#include "cartography/zorCartography.h"
#include "mapping/FitMap.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantorel {

class TBitmap;
class TMapping;

/// The steps the grid is drawn at, degrees.
inline constexpr std::array<int, 4> kGraticuleSteps{1, 2, 5, 10};

/// The finest step of kGraticuleSteps that puts at most 8 lines across the box: across
/// its latitude span and across its longitude span shortened by the cosine of its middle
/// latitude (the arc on the ground). 10 for an empty box.
int GraticuleStepFor(const TGeoBox& box);

/// The box that holds the ground points of the image lines firstLine .. endLine - 1 and
/// columns firstColumn .. endColumn - 1 (image pixels of the layout; the samples nearest
/// outside the columns are included, so that a part narrower than a sample step has an
/// extent). Empty when the part holds no line of the table.
TGeoBox GroundBox(const LocationGrid& grid, const TScanLayout& layout, int firstLine, int endLine,
                  int firstColumn, int endColumn);

/// A part of a picture: columns Left .. Right - 1, rows Top .. Bottom - 1.
struct TPictureArea {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool Empty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TPictureArea&) const = default;
};

/// A degree label where a grid line leaves the picture (or the part of it in view).
struct TGraticuleLabel {
    enum class TEdge : std::uint8_t { Left, Top, Right, Bottom };
    std::string Text; ///< "50°N", "10°W", "0°", "180°"
    TEdge Edge = TEdge::Left;
    /// Where on the edge: the row of the crossing on the left and right edges, the column
    /// on the top and bottom ones.
    int Position = 0;
};

class TGraticule {
public:
    TGraticule();

    /// Lines every `step` degrees (positive) over `area` widened by a step: parallels across
    /// its longitudes, meridians across its latitudes (within 89.5 degrees of the equator).
    /// Nothing for an empty area.
    void Build(int step, const TGeoBox& area);
    int Step() const { return step_; }
    const TGeoBox& Area() const { return area_; }
    /// Number of parallels and meridians built.
    int LineCount() const { return static_cast<int>(lines_.size()); }

    /// Draws the lines through `mapping` with the bitmap canvas's pen, placed at
    /// (x + pixelOffset, y - lineOffset) as the boundaries are; tells `drawn`, when given,
    /// the pixels drawn; with `scale` set, on a smaller bitmap as the boundaries are.
    void DrawLines(TBitmap& bitmap, const TMapping& mapping, int pixelOffset, int lineOffset,
                   TCartogList::TDrawnPixels* drawn = nullptr, const TDrawScale& scale = {});
    /// Where the lines, placed as DrawLines places them, cross the edges of `area` (the
    /// whole picture, or the part in view): one label at every crossing, its position in
    /// the picture's own rows or columns.
    std::vector<TGraticuleLabel> EdgeLabels(const TMapping& mapping, const TPictureArea& area,
                                            int pixelOffset, int lineOffset);

    /// Points along a line are this far apart, degrees: their chords stay well within a
    /// pixel of the projected curve.
    static constexpr float kPointSpacing = 0.1f;

private:
    struct Line {
        bool parallel = true;
        int degrees = 0;
        std::vector<BoundaryPoint> points;
    };
    using Projected = TProjectedPixel;
    void Project(const TMapping& mapping);

    int step_ = 0;
    TGeoBox area_;
    std::vector<Line> lines_;
    TCartogList pieces_; // the lines in short pieces, so that drawing culls those off the picture
    std::vector<std::vector<Projected>> projected_; // per line, for the mapping state below
    const TMapping* projectedMapping_ = nullptr;
    std::uint64_t projectedVersion_ = 0;
};

/// Writes the labels just inside the edges of `area` in `colour` with a dark halo, in an
/// 8 pt font; a label that would overlap one written before is left out.
/// turned: the picture was turned 180 degrees after the labels were found, so their edges,
/// positions and area are turned with it. `drawn`, when given, is told the labels' boxes.
void DrawGraticuleLabels(TBitmap& bitmap, const std::vector<TGraticuleLabel>& labels, TColor colour,
                         bool turned, TPictureArea area,
                         TCartogList::TDrawnPixels* drawn = nullptr);

} // namespace vantorel
