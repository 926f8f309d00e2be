// Ground points beyond a scan line's outer samples, on a sphere: latitudes and longitudes
// are taken as spherical coordinates, which is how the mapping's projection reads them.
#include "mapping/ScanLineEdges.h"

#include "common/Angles.h"

#include <algorithm>
#include <cmath>

namespace vantorel {

namespace {

using TUnit = double[3];

void UnitVector(const GeoPoint& p, TUnit& v) {
    const double lat = p.lat * kDegreesToRadians;
    const double lon = p.lon * kDegreesToRadians;
    v[0] = std::cos(lat) * std::cos(lon);
    v[1] = std::cos(lat) * std::sin(lon);
    v[2] = std::sin(lat);
}

void Cross(const TUnit& a, const TUnit& b, TUnit& out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

double Dot(const TUnit& a, const TUnit& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The arc (radians) between two unit vectors.
double Arc(const TUnit& a, const TUnit& b) {
    TUnit n;
    Cross(a, b, n);
    return std::atan2(std::sqrt(Dot(n, n)), Dot(a, b));
}

bool HasLocation(const GeoPoint& p) {
    return p.lat != 0.0f && p.lon != 0.0f;
}

// Central angle (radians) from the nadir of the ground point seen at scan angle beta
// (radians, either sign: the result takes its sign) from k earth radii; NaN past the
// horizon.
double CentralAngle(double beta, double k) {
    const double s = k * std::sin(std::fabs(beta));
    return s < 1.0 ? std::copysign(std::asin(s) - std::fabs(beta), beta) : std::nan("");
}

} // namespace

TScanLineEdges::TScanLineEdges(const TScanLayout& layout, double halfAngleDeg, double altitudeKm)
    : layout_(&layout), step_(halfAngleDeg * kDegreesToRadians / layout.HalfWidth),
      nadir_(-layout.CentreOffsetOfColumn(0.0)), // the column at no offset from the centre
      startK_(1.0 + std::max(altitudeKm, 100.0) / TWarpedMapping::kEarthRadiusKm) {
    left_.outerSample = 0;
    left_.innerSample = 1;
    right_.outerSample = kGridColumns - 1;
    right_.innerSample = kGridColumns - 2;
    left_.k = right_.k = startK_;
}

double TScanLineEdges::ScanAngle(double x) const {
    return (x - nadir_) * step_;
}

bool TScanLineEdges::FindNadir(const GeoRow& row) {
    // Gauss-Newton on the nadir column and k: the signed arcs from the middle sample to
    // every other one against the model's.
    TUnit v[kGridColumns];
    for (int j = 0; j < kGridColumns; ++j) {
        if (!HasLocation(row[static_cast<size_t>(j)])) {
            return false;
        }
        UnitVector(row[static_cast<size_t>(j)], v[j]);
    }
    double arcs[kGridColumns];
    for (int j = 0; j < kGridColumns; ++j) {
        arcs[j] = (j < kNadirColumn ? -1.0 : 1.0) * Arc(v[kNadirColumn], v[j]);
    }
    double nadir = nadir_;
    double k = startK_;
    const auto angleAt = [&](double x) { return (x - nadir) * step_; };
    for (int iteration = 0; iteration < 20; ++iteration) {
        // Model arc and its derivatives by the nadir column and by k at scan angle b.
        const auto model = [&](double b, double& byNadir, double& byK) {
            const double s = std::sin(b);
            const double root = std::sqrt(1.0 - k * k * s * s);
            byNadir = -step_ * (k * std::cos(b) / root - 1.0);
            byK = s / root;
            return CentralAngle(b, k);
        };
        double dn0 = 0.0, dk0 = 0.0;
        const double c0 = model(angleAt(layout_->ColumnOf(kNadirColumn)), dn0, dk0);
        double a11 = 0.0, a12 = 0.0, a22 = 0.0, b1 = 0.0, b2 = 0.0;
        for (int j = 0; j < kGridColumns; ++j) {
            if (j == kNadirColumn) {
                continue;
            }
            double dn = 0.0, dk = 0.0;
            const double c = model(angleAt(layout_->ColumnOf(j)), dn, dk);
            const double r = c - c0 - arcs[j];
            dn -= dn0;
            dk -= dk0;
            a11 += dn * dn;
            a12 += dn * dk;
            a22 += dk * dk;
            b1 += dn * r;
            b2 += dk * r;
        }
        const double det = a11 * a22 - a12 * a12;
        const double stepNadir = (a22 * b1 - a12 * b2) / det;
        const double stepK = (a11 * b2 - a12 * b1) / det;
        if (!std::isfinite(stepNadir) || !std::isfinite(stepK)) {
            return false;
        }
        nadir -= stepNadir;
        k -= stepK;
        if (std::fabs(stepNadir) < 1e-4) {
            // A nadir off the line, or a k past the horizon, is no answer.
            if (!(nadir > layout_->FirstColumn && nadir < layout_->LastColumn()) ||
                !std::isfinite(CentralAngle(angleAt(layout_->FirstColumn), k)) ||
                !std::isfinite(CentralAngle(angleAt(layout_->LastColumn()), k))) {
                return false;
            }
            nadir_ = nadir;
            left_.k = right_.k = k;
            return true;
        }
    }
    return false;
}

TScanLineEdges TScanLineEdges::ForFit(const TFitOptions& options, const GeoRow& middle) {
    const double halfAngle = options.halfAngleDeg == 0.0f
                                 ? TWarpedMapping::kDefaultHalfAngleDeg
                                 : static_cast<double>(options.halfAngleDeg);
    TScanLineEdges edges(ScanLayoutOfFormat(options.format), halfAngle, options.altitudeKm);
    edges.FindNadir(middle); // else the line's centre
    return edges;
}

void TScanLineEdges::SetLine(const GeoRow& row) {
    Calibrate(left_, row);
    Calibrate(right_, row);
}

void TScanLineEdges::Calibrate(Side& side, const GeoRow& row) const {
    side.valid = false;
    const GeoPoint& outer = row[static_cast<size_t>(side.outerSample)];
    const GeoPoint& inner = row[static_cast<size_t>(side.innerSample)];
    const double outerAngle = ScanAngle(layout_->ColumnOf(side.outerSample));
    const double innerAngle = ScanAngle(layout_->ColumnOf(side.innerSample));
    // Both on one side of the nadir, the outer one further out.
    if (!HasLocation(outer) || !HasLocation(inner) || !(outerAngle * innerAngle > 0.0) ||
        !(std::fabs(outerAngle) > std::fabs(innerAngle))) {
        return;
    }
    TUnit p1;
    UnitVector(outer, side.outer);
    UnitVector(inner, p1);
    TUnit normal;
    Cross(p1, side.outer, normal);
    const double sinArc = std::sqrt(Dot(normal, normal));
    const double arc = std::atan2(sinArc, Dot(p1, side.outer));
    if (!(sinArc > 1e-12) || !std::isfinite(arc)) {
        return;
    }
    for (double& c : normal) {
        c /= sinArc;
    }
    Cross(normal, side.outer, side.outward);

    // Newton's method on arc = CentralAngle(outer) - CentralAngle(inner), from the last
    // line's k: one or two steps.
    const double bo = std::fabs(outerAngle);
    const double bi = std::fabs(innerAngle);
    const double so = std::sin(bo);
    const double si = std::sin(bi);
    double k = std::isfinite(side.k) ? side.k : startK_;
    for (int i = 0; i < 20; ++i) {
        const double ko = k * so;
        const double ki = k * si;
        const double f = std::asin(ko) - bo - std::asin(ki) + bi - arc;
        const double slope = so / std::sqrt(1.0 - ko * ko) - si / std::sqrt(1.0 - ki * ki);
        const double step = f / slope;
        if (!std::isfinite(step)) {
            side.k = startK_;
            return;
        }
        // Never as far as the outer sample looking past the horizon.
        k = std::clamp(k - step, 1.0, 0.5 * (k + 1.0 / so));
        if (std::fabs(step) < 1e-12) {
            break;
        }
    }
    side.k = k;
    side.outerAngle = bo;
    side.outerCentral = CentralAngle(bo, k);
    side.valid = std::isfinite(side.outerCentral);
}

bool TScanLineEdges::Locate(double x, GeoPoint& out) const {
    const Side& side = x < layout_->FirstColumn ? left_ : right_;
    if (!side.valid) {
        return false;
    }
    const double along = CentralAngle(std::fabs(ScanAngle(x)), side.k) - side.outerCentral;
    if (!std::isfinite(along)) {
        return false;
    }
    const double c = std::cos(along);
    const double s = std::sin(along);
    TUnit q;
    for (int i = 0; i < 3; ++i) {
        q[i] = side.outer[i] * c + side.outward[i] * s;
    }
    out.lat = static_cast<float>(std::asin(std::clamp(q[2], -1.0, 1.0)) * kRadiansToDegrees);
    out.lon = static_cast<float>(std::atan2(q[1], q[0]) * kRadiansToDegrees);
    return true;
}

} // namespace vantorel
