#pragma once

// Angle helpers shared by the orbit, the mapping and the readout, so that wrapping is
// done one way everywhere and never loops on a huge or non-finite value.

#include <cmath>
#include <limits>

namespace vantorel {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kDegreesToRadians = kPi / 180.0;
inline constexpr double kRadiansToDegrees = 180.0 / kPi;

/// Degrees brought into [-180, 180] by whole turns; -180 and 180 are kept as they are
/// (values already in range are returned unchanged). NaN and infinities give NaN.
/// Inline, as the next: they run for every ground point.
inline double WrapDegreesClosed180(double degrees) {
    if (!std::isfinite(degrees)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (degrees >= -180.0 && degrees <= 180.0) {
        return degrees;
    }
    // Within a turn either way the remainder below comes to one turn off, exactly.
    if (degrees > 180.0 && degrees < 540.0) {
        return degrees - 360.0;
    }
    if (degrees < -180.0 && degrees > -540.0) {
        return degrees + 360.0;
    }
    double r = std::fmod(degrees, 360.0); // exact, in (-360, 360)
    if (r > 180.0) {
        r -= 360.0;
    } else if (r < -180.0) {
        r += 360.0;
    }
    return r;
}

/// Degrees brought into (-180, 180] by whole turns. NaN and infinities give NaN.
inline double WrapDegrees180(double degrees) {
    const double r = WrapDegreesClosed180(degrees);
    return r == -180.0 ? 180.0 : r;
}

/// Degrees brought into [0, 360) by whole turns. NaN and infinities give NaN.
double WrapDegrees360(double degrees);

} // namespace vantorel
