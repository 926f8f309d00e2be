#include "common/Angles.h"

#include <cmath>
#include <limits>

namespace vantorel {

double WrapDegreesClosed180(double degrees) {
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

double WrapDegrees180(double degrees) {
    const double r = WrapDegreesClosed180(degrees);
    return r == -180.0 ? 180.0 : r;
}

double WrapDegrees360(double degrees) {
    if (!std::isfinite(degrees)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    double r = std::fmod(degrees, 360.0);
    if (r < 0.0) {
        r += 360.0;
    }
    return r >= 360.0 ? 0.0 : r;
}

} // namespace vantorel
