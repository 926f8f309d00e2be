#include "orbit/SGP_Math.h"

#include <cmath>

namespace vantorel {

double Power(double base, double exponent) {
    if (!(base > 0.0)) {
        throw EMathError(kPowerErrorText);
    }
    return std::exp(exponent * std::log(base));
}

double QuadrantAngle(double sinePart, double cosinePart) {
    return QuadrantAngle(sinePart, cosinePart, [](double t) { return std::atan(t); });
}

double VectorLength(TVector& v) {
    v.Length = std::sqrt(v.X * v.X + v.Y * v.Y + v.Z * v.Z);
    return v.Length;
}

TVector AddVectors(const TVector& a, const TVector& b) {
    TVector r{a.X + b.X, a.Y + b.Y, a.Z + b.Z, 0.0};
    VectorLength(r);
    return r;
}

TVector ScaleVector(double k, const TVector& v) {
    return {k * v.X, k * v.Y, k * v.Z, std::fabs(k) * v.Length};
}

TVector CrossProduct(const TVector& a, const TVector& b) {
    TVector r{a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X, 0.0};
    VectorLength(r);
    return r;
}

TVector UnitVector(const TVector& v) {
    TVector r{v.X / v.Length, v.Y / v.Length, v.Z / v.Length, 0.0};
    VectorLength(r);
    return r;
}

} // namespace vantorel
