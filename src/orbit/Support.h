#pragma once

// Conversions of the model's state: to kilometres, and from an inertial position to
// geodetic latitude, longitude and height on the WGS-72 ellipsoid.

#include "orbit/SGP_Math.h"

namespace vantorel {

/// A geodetic record.
struct TGeodetic {
    double Latitude = 0.0;       ///< rad, north positive, in [-pi/2, pi/2]
    double Longitude = 0.0;      ///< rad, east positive, in [0, 2pi)
    double Height = 0.0;         ///< km above the ellipsoid
    double RightAscension = 0.0; ///< rad, of the position, in (-pi/2, 3pi/2)
};

/// Converts the model's state in place: position from earth radii to km, velocity from
/// earth radii per minute to km/s; both lengths refreshed.
void StateToKilometres(TVector& position, TVector& velocity);

/// Geodetic record of an inertial position (km, true equator and mean equinox of date)
/// at a Julian date (UT). The latitude is iterated to 1e-10 rad. A position with a
/// non-finite coordinate, or a Julian date so far off that it
/// has no finite sidereal angle, raises EMathError.
TGeodetic GeodeticPosition(double julianDate, const TVector& positionKm);

} // namespace vantorel
