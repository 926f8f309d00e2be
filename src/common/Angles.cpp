#include "common/Angles.h"

#include <cmath>
#include <limits>

namespace vantorel {

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
