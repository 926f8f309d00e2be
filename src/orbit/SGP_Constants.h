#pragma once

// Physical constants of the orbit model: the WGS-72 earth shared by the propagation and
// the geodetic conversion, and the derived quantities of the SGP4/SDP4 models.

#include "common/Angles.h"

#include <cmath>

namespace vantorel {

/// A whole turn, rad (kPi comes from common/Angles.h).
inline constexpr double kTwoPi = 2.0 * kPi;

/// Earth equatorial radius, km; also the distance unit of the model (1 earth radius).
inline constexpr double kEarthRadiusKm = 6378.135;
/// Flattening of the ellipsoid (dimensionless).
inline constexpr double kFlattening = 1.0 / 298.26;
/// First eccentricity squared, f(2 - f).
inline constexpr double kEccentricitySquared = 0.006694317778266722;
/// Gravitational constant of the earth, km^3/s^2.
inline constexpr double kGravitationalConstant = 398600.8;

/// Zonal harmonics (dimensionless) and the model's k2 = J2/2, k4 = -3 J4/8.
inline constexpr double kJ2 = 1.0826158e-3;
inline constexpr double kJ3 = -2.53881e-6;
inline constexpr double kJ4 = -1.65597e-6;
inline constexpr double kK2 = 5.413079e-4;
inline constexpr double kK4 = 6.2098875e-7;

/// sqrt(GM) in earth radii^1.5 per minute: sqrt(3600 ge / radius^3), about 0.0743669161.
inline const double kKe =
    std::sqrt(3600.0 * kGravitationalConstant / (kEarthRadiusKm * kEarthRadiusKm * kEarthRadiusKm));

/// Parameter s of the atmospheric density function, earth radii: 1 + 78 km.
inline constexpr double kS = 1.0 + 78.0 / kEarthRadiusKm;
/// (q0 - s)^4 with q0 = 1 + 120 km, earth radii^4 (about 1.88e-9).
inline const double kQoms2t = std::pow((1.0 + 120.0 / kEarthRadiusKm) - kS, 4.0);

/// Kepler's equation is solved to this change in the eccentric anomaly, rad.
inline constexpr double kKeplerTolerance = 1e-6;
inline constexpr int kKeplerMaxIterations = 10;

/// Orbits of this period or longer (minutes, from the un-Kozai'd mean motion) use SDP4.
inline constexpr double kDeepSpacePeriodMinutes = 225.0;

} // namespace vantorel
