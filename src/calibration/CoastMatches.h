#pragma once

// Where a pass's drawn coasts lie against the picture's own, tile by tile across the swath
// and along the pass. A shift that is the same across the swath is a roll (pixels) or a
// clock error (lines); one that grows towards the swath's edges a wrong scan angle; a line
// shift that changes sign across the swath a yaw.

#include "alignment/CoastAlignment.h"
#include "alignment/CoastLines.h"
#include "imaging/Bitmap.h"

#include <cstddef>
#include <span>
#include <vector>

namespace vantorel {

/// How a picture is cut into tiles: equal columns across the swath, rows of about
/// LinesPerRow lines along the pass.
struct TTileGrid {
    int Columns = 8;
    int LinesPerRow = 256;
};

/// One tile's match of drawn to seen coasts.
struct TTileMatch {
    int Column = 0; ///< tile column, 0 at the picture's left
    int Row = 0;    ///< tile row, 0 at the picture's top
    int X0 = 0, X1 = 0, Y0 = 0, Y1 = 0; ///< the tile: columns [X0, X1), lines [Y0, Y1)
    /// Where the tile's drawn shore lies on average (image column and line).
    double X = 0.0;
    double Y = 0.0;
    /// The shift from the drawn coast to the picture's, pixels (+ right) and lines (+ down),
    /// where it is known.
    double PixelShift = 0.0;
    double LineShift = 0.0;
    bool PixelKnown = false;
    bool LineKnown = false;
    double Confidence = 0.0;
    int Support = 0;     ///< shore points on a clear edge at the match
    int ShorePoints = 0; ///< drawn shore points in the tile
    bool Matched() const { return PixelKnown || LineKnown; }
};

/// How far drawn coasts lie from the picture's own: along each shore point's normal, to the
/// strongest change of brightness within 12 pixels, for the points where that change is
/// clear; a tile's figure is the median of its points.
struct TCoastDistance {
    double Median = 0.0; ///< over all points, pixels
    double P90 = 0.0;    ///< 90th percentile over all points, pixels
    double WorstTile = 0.0; ///< the largest median of a tile with 40 points or more
    std::size_t Points = 0;
};

/// The distance of the shore drawn at (x + pixelOffset, y - lineOffset) from the picture's
/// edges (8-bit channel, or 24-bit taken by its grey levels).
TCoastDistance CoastDistance(const TBitmap& picture, std::span<const TCoastSample> shore,
                             std::span<const char> lostLines, int lineOffset, int pixelOffset,
                             const TTileGrid& tiles = {});

/// Every tile's match, searched within `searchPixels` and `searchLines` of the offsets
/// (startLine, startPixel) by the alignment with at least `minSupport` shore points on
/// edges and a confidence of `minConfidence` (see TAlignmentOptions). A tile without a
/// clear match (cloud, no coast, lost lines) is left unmatched.
std::vector<TTileMatch> MatchCoastsInTiles(const TBitmap& picture,
                                           std::span<const TCoastSample> shore,
                                           std::span<const char> lostLines, const TTileGrid& tiles,
                                           int startLine, int startPixel, int searchLines,
                                           int searchPixels, int minSupport = 40,
                                           double minConfidence = 6.5);
/// The same on a picture made ready for alignment (its lost lines given then).
std::vector<TTileMatch> MatchCoastsInTiles(const TAlignmentPicture& picture,
                                           std::span<const TCoastSample> shore,
                                           const TTileGrid& tiles, int startLine, int startPixel,
                                           int searchLines, int searchPixels,
                                           int minSupport = 40, double minConfidence = 6.5);

} // namespace vantorel
