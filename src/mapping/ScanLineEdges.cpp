// Ground points beyond a scan line's outer samples, on a sphere: latitudes and longitudes
// are taken as spherical coordinates, which is how the mapping's projection reads them.
#include "mapping/ScanLineEdges.h"

#include "common/Angles.h"

#include <algorithm>
#include <cmath>

namespace vantorel {

namespace {

void UnitVector(const GeoPoint& p, double (&v)[3]) {
    const double lat = p.lat * kDegreesToRadians;
    const double lon = p.lon * kDegreesToRadians;
    v[0] = std::cos(lat) * std::cos(lon);
    v[1] = std::cos(lat) * std::sin(lon);
    v[2] = std::sin(lat);
}

void Cross(const double (&a)[3], const double (&b)[3], double (&out)[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// Central angle (radians) from the nadir of the ground point seen at a scan angle of sine
// sinBeta from k earth radii; NaN past the horizon.
double CentralAngle(double beta, double sinBeta, double k) {
    const double s = k * sinBeta;
    return s < 1.0 ? std::asin(s) - beta : std::nan("");
}

} // namespace

TScanLineEdges::TScanLineEdges(const TScanLayout& layout, double halfAngleDeg, double altitudeKm)
    : layout_(layout), halfAngle_(halfAngleDeg * kDegreesToRadians),
      startK_(1.0 + std::max(altitudeKm, 100.0) / TWarpedMapping::kEarthRadiusKm) {
    const auto setUp = [this](Side& side, int outer, int inner) {
        side.outerSample = outer;
        side.innerSample = inner;
        side.outerAngle = ScanAngle(layout_.ColumnOf(outer));
        side.sinOuter = std::sin(side.outerAngle);
        side.sinInner = std::sin(ScanAngle(layout_.ColumnOf(inner)));
        side.k = startK_;
    };
    setUp(left_, 0, 1);
    setUp(right_, kGridColumns - 1, kGridColumns - 2);
}

double TScanLineEdges::ScanAngle(double x) const {
    return std::fabs(layout_.CentreOffsetOfColumn(x) / layout_.HalfWidth * halfAngle_);
}

void TScanLineEdges::SetLine(const GeoRow& row) {
    Calibrate(left_, row);
    Calibrate(right_, row);
}

void TScanLineEdges::Calibrate(Side& side, const GeoRow& row) const {
    side.valid = false;
    const GeoPoint& outer = row[static_cast<size_t>(side.outerSample)];
    const GeoPoint& inner = row[static_cast<size_t>(side.innerSample)];
    if (outer.lat == 0.0f || outer.lon == 0.0f || inner.lat == 0.0f || inner.lon == 0.0f) {
        return;
    }
    double p1[3];
    UnitVector(outer, side.outer);
    UnitVector(inner, p1);
    double normal[3];
    Cross(p1, side.outer, normal);
    const double sinArc =
        std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    const double arc =
        std::atan2(sinArc, p1[0] * side.outer[0] + p1[1] * side.outer[1] + p1[2] * side.outer[2]);
    if (!(sinArc > 1e-12) || !std::isfinite(arc)) {
        return;
    }
    for (double& c : normal) {
        c /= sinArc;
    }
    Cross(normal, side.outer, side.outward);

    // Newton's method on arc = CentralAngle(outer) - CentralAngle(inner), from the last
    // line's k: one or two steps.
    const double innerAngle = std::asin(side.sinInner);
    double k = std::isfinite(side.k) ? side.k : startK_;
    const double horizon = 1.0 / side.sinOuter;
    for (int i = 0; i < 20; ++i) {
        const double so = k * side.sinOuter;
        const double si = k * side.sinInner;
        const double f = std::asin(so) - side.outerAngle - std::asin(si) + innerAngle - arc;
        const double slope =
            side.sinOuter / std::sqrt(1.0 - so * so) - side.sinInner / std::sqrt(1.0 - si * si);
        const double step = f / slope;
        if (!std::isfinite(step)) {
            side.k = startK_;
            return;
        }
        // Never as far as the outer sample looking past the horizon.
        k = std::clamp(k - step, 1.0, 0.5 * (k + horizon));
        if (std::fabs(step) < 1e-12) {
            break;
        }
    }
    side.k = k;
    side.outerCentral = CentralAngle(side.outerAngle, side.sinOuter, k);
    side.valid = std::isfinite(side.outerCentral);
}

bool TScanLineEdges::Locate(double x, GeoPoint& out) const {
    const Side& side = x < layout_.FirstColumn ? left_ : right_;
    if (!side.valid) {
        return false;
    }
    const double beta = ScanAngle(x);
    const double along = CentralAngle(beta, std::sin(beta), side.k) - side.outerCentral;
    if (!std::isfinite(along)) {
        return false;
    }
    const double c = std::cos(along);
    const double s = std::sin(along);
    double q[3];
    for (int i = 0; i < 3; ++i) {
        q[i] = side.outer[i] * c + side.outward[i] * s;
    }
    out.lat = static_cast<float>(std::asin(std::clamp(q[2], -1.0, 1.0)) * kRadiansToDegrees);
    out.lon = static_cast<float>(std::atan2(q[1], q[0]) * kRadiansToDegrees);
    return true;
}

} // namespace vantorel
