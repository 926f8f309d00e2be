// GeodeticPosition follows the classic fixed-point iteration for the geodetic latitude
// (as in Escobal, Methods of Orbit Determination, and Kelso's geodetic routines): the
// latitude is refined with the radius of curvature in the prime vertical until it
// changes by less than 1e-10 rad. Departure: a position with a non-finite coordinate, or
// a date without a finite sidereal angle, is refused, and the iteration is capped, so that
// a bad state cannot hang the caller.
#include "orbit/Support.h"

#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Time.h"

#include <cmath>

namespace vantorel {

void StateToKilometres(TVector& position, TVector& velocity) {
    constexpr double kVelocityScale = kEarthRadiusKm / 60.0;
    position.X *= kEarthRadiusKm;
    position.Y *= kEarthRadiusKm;
    position.Z *= kEarthRadiusKm;
    velocity.X *= kVelocityScale;
    velocity.Y *= kVelocityScale;
    velocity.Z *= kVelocityScale;
    VectorLength(position);
    VectorLength(velocity);
}

TGeodetic GeodeticPosition(double julianDate, const TVector& p) {
    if (!std::isfinite(p.X) || !std::isfinite(p.Y) || !std::isfinite(p.Z) ||
        !std::isfinite(julianDate)) {
        throw EMathError("Invalid position in Function GeodeticPosition!");
    }
    // A Julian date far outside any calendar (an absurd epoch) has no sidereal angle.
    const double sidereal = SiderealAngle(julianDate);
    if (!std::isfinite(sidereal)) {
        throw EMathError("Invalid date in Function GeodeticPosition!");
    }
    TGeodetic g;
    g.RightAscension = QuadrantAngle(p.Y, p.X);
    g.Longitude = PositiveModulo(g.RightAscension - sidereal, kTwoPi);
    const double r = std::sqrt(p.X * p.X + p.Y * p.Y);
    double latitude = QuadrantAngle(p.Z, r);
    double c = 1.0;
    // Convergence is geometric with ratio about e^2; 100 rounds cover any finite input.
    for (int i = 0; i < 100; ++i) {
        const double phi = latitude;
        const double sinPhi = std::sin(phi);
        c = 1.0 / std::sqrt(1.0 - kEccentricitySquared * sinPhi * sinPhi);
        latitude = QuadrantAngle(p.Z + kEarthRadiusKm * c * kEccentricitySquared * sinPhi, r);
        if (std::fabs(latitude - phi) < 1e-10) {
            break;
        }
    }
    g.Latitude = latitude;
    g.Height = r / std::cos(latitude) - kEarthRadiusKm * c;
    return g;
}

} // namespace vantorel
