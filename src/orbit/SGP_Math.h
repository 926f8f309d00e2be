#pragma once

// Small numeric routines of the orbit model: the checked power, the quadrant-aware arc
// tangent, the positive modulo and the four-element vectors.

#include "common/Errors.h"

#include <cmath>
#include <string>

namespace vantorel {

/// The text of the error Power raises for a base <= 0.
inline constexpr const char* kPowerErrorText = "Invalid argument in Function Power!";

/// A vector: x, y, z (any length unit) and, in the fourth place, its length (same unit).
/// Every routine that makes a vector refreshes the length, except ScaleVector.
struct TVector {
    double X = 0.0;
    double Y = 0.0;
    double Z = 0.0;
    double Length = 0.0;
};

/// base^exponent = exp(exponent ln base). base > 0; otherwise EMathError with
/// kPowerErrorText.
double Power(double base, double exponent);

/// The angle whose tangent is sinePart / cosinePart, placed by the signs, rad, in
/// (-pi/2, 3pi/2): cosinePart 0 gives pi/2 when sinePart > 0, else 3pi/2; cosinePart > 0
/// the arc tangent; cosinePart < 0 the arc tangent + pi. Not normalised to [0, 2pi).
double QuadrantAngle(double sinePart, double cosinePart);
/// QuadrantAngle with the arc tangent of `arcTangent`.
template <class ArcTangentOf>
double QuadrantAngle(double sinePart, double cosinePart, ArcTangentOf arcTangent) {
    constexpr double kHalfPi = 1.5707963267948966;
    if (cosinePart == 0.0) {
        return sinePart > 0.0 ? kHalfPi : 3.0 * kHalfPi;
    }
    const double angle = arcTangent(sinePart / cosinePart);
    return cosinePart > 0.0 ? angle : angle + 2.0 * kHalfPi;
}

/// value - modulus trunc(value / modulus) (evaluated exactly), plus the modulus when that
/// is negative: the result lies in [0, modulus) for modulus > 0 and finite values.
/// Inline: it runs for every ground point.
inline double PositiveModulo(double value, double modulus) {
    // fmod is value - modulus trunc(value / modulus) without rounding, so large values
    // keep a result in range. Below twice the modulus that is the value itself or one
    // modulus off, which the subtraction gives exactly too, without the call (this runs
    // for every ground point).
    const double size = std::fabs(value);
    double result = size < modulus         ? value
                    : size < 2.0 * modulus ? value - std::copysign(modulus, value)
                                           : std::fmod(value, modulus);
    if (result < 0.0) {
        result += modulus;
        // A tiny negative remainder rounds up to the modulus itself; its nearest value in
        // range is 0.
        if (result >= modulus) {
            result = 0.0;
        }
    }
    return result;
}

/// Refreshes v.Length from x, y, z and returns it.
double VectorLength(TVector& v);
/// a + b, length refreshed.
TVector AddVectors(const TVector& a, const TVector& b);
/// k v; the length becomes |k| times the stored length (not recomputed).
TVector ScaleVector(double k, const TVector& v);
/// a x b, length refreshed.
TVector CrossProduct(const TVector& a, const TVector& b);
/// v divided by its stored length (which must be current and non-zero); length refreshed.
TVector UnitVector(const TVector& v);

} // namespace vantorel
