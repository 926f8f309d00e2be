#pragma once

#include "mapping/MapWithWarp.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantorel {

/// A ground position: latitude then longitude, degrees, north and east positive. A point
/// whose latitude or longitude is exactly 0 counts as having no location where the fit
/// says so.
struct GeoPoint {
    float lat = 0.0f;
    float lon = 0.0f;
};

/// One image line of the location grid: point k is the ground point of the layout's
/// image column k (21 + 30 k for the Meteor scanner); point kNadirColumn is the nadir.
using GeoRow = std::array<GeoPoint, kGridColumns>;
/// One row per image line, row 0 the top line.
using LocationGrid = std::vector<GeoRow>;

/// What the fit needs to know besides the location grid.
struct TFitOptions {
    int lineCount = 0;       ///< image height in lines (at most the grid's rows)
    float altitudeKm = 0.0f; ///< satellite height at the mid-picture line, km
    /// The scanner's half-angle, degrees (0 means the mapping's default, 55.37).
    float halfAngleDeg = 0.0f;
    std::uint8_t format = 5; ///< scan format (5 for the Meteor scanner; see InitialiseForPass)
};

/// The outcome of a fit: its account, and what it has to tell the user.
struct TFitResult {
    bool fitted = false;              ///< every step succeeded
    std::vector<std::string> account; ///< diagnostics lines, in order
    /// A failure the user should be told of, after the account (a message box in the
    /// window); empty when there is none. Failures that only belong in the account are
    /// its last line instead.
    std::string report;
    std::shared_ptr<const ResidualGrid> residuals; ///< the grid the mapping was given
};

/// Fits the warped mapping to one image from its location grid, in steps: the track
/// step, the centre and rotation, the vertical warp, the horizontal warp, the horizontal
/// skew, then the residual grid.
/// @param rows the location grid (at least options.lineCount rows; std::invalid_argument
///   if not).
/// @param mapping the mapping to set up.
/// Polynomial-fit errors (EMathError) propagate.
TFitResult FitMapToImage(std::span<const GeoRow> rows, const TFitOptions& options,
                         TWarpedMapping& mapping);

/// What a fit leaves at the ground points: the root mean square and the largest of the
/// residuals' lengths (pixels) over all of them.
struct TResidualFigures {
    double Rms = 0.0;
    double Largest = 0.0;
    std::size_t Points = 0;
};
/// The figures of a residual grid (all 0 for none).
TResidualFigures ResidualFigures(const ResidualGrid* grid);

/// Mean ground distance per line (km) between rows row - 20 and row + 20 over all 51
/// columns; rows outside the grid contribute nothing.
float MeanTrackStep(std::span<const GeoRow> rows, int row);

} // namespace vantorel
