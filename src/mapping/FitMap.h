#pragma once

#include "mapping/MapWithWarp.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vantorel {

class INotifier;
class TStringList;

/// A ground position: latitude then longitude, degrees, north and east positive. A point
/// whose latitude or longitude is exactly 0 counts as having no location where the fit
/// says so.
struct GeoPoint {
    float lat = 0.0f;
    float lon = 0.0f;
};

/// One image line of the location grid: point k is the ground point of image column
/// first + spacing * k (21 + 30 k for the Meteor scanner); point 25 is the nadir.
using GeoRow = std::array<GeoPoint, kGridColumns>;
/// One row per image line, row 0 the top line.
using LocationGrid = std::vector<GeoRow>;

/// The grid column of the nadir point.
inline constexpr int kNadirColumn = 25;

/// Fits the warped mapping to one image from its location grid: track step, centre,
/// rotation, vertical warp, horizontal warp, horizontal skew, then the residual grid.
/// @param rows the location grid (at least lineCount rows; std::invalid_argument if not).
/// @param lineCount image height in lines.
/// @param diagnostics list the account is appended to, or nullptr.
/// @param altitudeKm satellite height at the mid-picture line (km).
/// @param halfAngleDeg scanner half-angle (degrees; 55.37 for the Meteor scanner).
/// @param format scan format (5 for the Meteor scanner; see InitialiseForPass).
/// @param mapping the mapping to set up.
/// @param residuals receives the residual grid (shared with the mapping).
/// @param logOnly reports go to the diagnostics instead of a message box.
/// @param notifier shows reports when logOnly is false.
/// @return true when every step succeeded. Polynomial-fit errors (EMathError) propagate.
bool FitMapToImage(std::span<const GeoRow> rows, int lineCount, TStringList* diagnostics,
                   float altitudeKm, float halfAngleDeg, std::uint8_t format,
                   TWarpedMapping& mapping, std::shared_ptr<ResidualGrid>& residuals, bool logOnly,
                   INotifier& notifier);

/// Mean ground distance per line (km) between rows row - 20 and row + 20 over all 51
/// columns; rows outside the grid contribute nothing.
float MeanTrackStep(std::span<const GeoRow> rows, int row);

} // namespace vantorel
