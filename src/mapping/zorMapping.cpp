// The mapping base class and the great-circle routine of the image fit.
// The great-circle distance is the haversine form on the WGS-72 equatorial radius; the
// bearing is the spherical forward azimuth on latitudes scaled by (1 - f)^2.
#include "mapping/zorMapping.h"

#include "common/Angles.h"

#include <atomic>
#include <cmath>

namespace vantorel {

namespace {
constexpr double kEarthRadiusKm = 6378.135;
constexpr double kLatitudeScale = 0.99330568222173; // (1 - 1/298.26)^2
} // namespace

std::uint64_t TMapping::NewProjectionVersion() {
    static std::atomic<std::uint64_t> counter{0};
    return ++counter;
}

bool TMapping::LatLonToImage(int& /*x*/, int& /*y*/, float /*lon*/, float /*lat*/) const {
    return false;
}

void TMapping::LatLonToImage(std::span<const TLonLat> from, TProjectedPixel* to) const {
    for (size_t i = 0; i < from.size(); ++i) {
        to[i].onMap = LatLonToImage(to[i].x, to[i].y, from[i].lon, from[i].lat);
    }
}

void TMapping::SetMapWidth(int width) {
    ProjectionChanged();
    FMapWidth = width;
    if (width != 0) {
        FRecipMapWidth = 1.0f / static_cast<float>(width);
    }
}

void TMapping::SetMapHeight(int height) {
    ProjectionChanged();
    FMapHeight = height;
    if (height != 0) {
        FRecipMapHeight = 1.0f / static_cast<float>(height);
    }
}

bool GreatCircleDistanceBearing(float& distanceKm, float& bearingDeg, float lon1, float lat1,
                                float lon2, float lat2) {
    const double phi1 = lat1 * kDegreesToRadians;
    const double phi2 = lat2 * kDegreesToRadians;
    const double lam1 = lon1 * kDegreesToRadians;
    const double lam2 = lon2 * kDegreesToRadians;

    const double sDphi = std::sin((phi1 - phi2) / 2.0);
    const double sDlam = std::sin((lam1 - lam2) / 2.0);
    double h = sDphi * sDphi + std::cos(phi1) * std::cos(phi2) * sDlam * sDlam;
    if (h > 1.0 && h < 1.0 + 1e-12) {
        h = 1.0; // rounding just past antipodal points
    }
    const double distance = 2.0 * std::asin(std::sqrt(h)) * kEarthRadiusKm;

    double bearing = 0.0;
    if (std::cos(phi1) < 0.00001) {
        bearing = lat1 > 0.0f ? 180.0 : 0.0;
    } else {
        const double p1 = std::atan(std::tan(phi1) / kLatitudeScale);
        const double p2 = std::atan(std::tan(phi2) / kLatitudeScale);
        const double dLam = lam2 - lam1;
        double b =
            std::atan2(std::sin(dLam) * std::cos(p2),
                       std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dLam));
        if (b < 0.0) {
            b += 2.0 * kPi;
        }
        bearing = b * kRadiansToDegrees;
    }
    if (!std::isfinite(distance) || !std::isfinite(bearing)) {
        return false;
    }
    distanceKm = static_cast<float>(distance);
    bearingDeg = static_cast<float>(bearing);
    return true;
}

} // namespace vantorel
