#pragma once

// Arithmetic for the inner loops that project every boundary vertex: rounding and sines
// without a call into the maths library. The library's nearbyint is a call on the
// baseline x86-64 target (no SSE4.1), and its sincos is exact to the last bit at a cost
// the projection pays for every point, where 1e-16 is as good.

#include <cmath>

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace vantorel {

/// x rounded to the nearest whole number, ties to even, as std::nearbyint does in the
/// default rounding mode, for |x| < 2^51; larger values are returned as they are (they
/// are whole already, or beyond any table or picture).
inline double RoundToEven(double x) {
    constexpr double kShift = 6755399441055744.0; // 1.5 * 2^52: the sum keeps no fraction
    if (!(std::fabs(x) < 2251799813685248.0)) {   // 2^51
        return x;
    }
    return (x + kShift) - kShift;
}

/// x rounded to the nearest int, ties to even, as std::lrint does in the default rounding
/// mode; x must lie within the int range.
inline int RoundToInt(float x) {
#if defined(__SSE__) || defined(_M_X64)
    return _mm_cvtss_si32(_mm_set_ss(x));
#else
    return static_cast<int>(std::lrint(x));
#endif
}

namespace fastmath_detail {

// The series below, for one angle or for two side by side (GCC/Clang vectors: the pair
// costs about what one does).
template <class T> inline void SeriesOfDegrees(const T& degrees, T& n, T& s, T& c) {
    constexpr double kShift = 6755399441055744.0; // as in RoundToEven
    n = (degrees * (1.0 / 90.0) + kShift) - kShift;
    const T r = (degrees - 90.0 * n) * 0.017453292519943295769; // pi / 180
    const T z = r * r;
    const T z2 = z * z;
    const T z4 = z2 * z2;
    // sin r = r + r z (-1/3! + z/5! - ... - z^5/13!)
    s = r + r * z *
                ((-1.0 / 6 + z * (1.0 / 120)) + z2 * (-1.0 / 5040 + z * (1.0 / 362880)) +
                 z4 * (-1.0 / 39916800 + z * (1.0 / 6227020800.0)));
    // cos r = 1 + z (-1/2! + z/4! - ... + z^6/14!)
    c = 1.0 + z * ((-0.5 + z * (1.0 / 24)) + z2 * (-1.0 / 720 + z * (1.0 / 40320)) +
                   z4 * ((-1.0 / 3628800 + z * (1.0 / 479001600)) + z2 * (-1.0 / 87178291200.0)));
}

// Sine and cosine of r + n quarter turns from those of r.
inline void TurnByQuarters(double n, double s, double c, double& sine, double& cosine) {
    switch (static_cast<long long>(n) & 3) {
    case 0:
        sine = s;
        cosine = c;
        break;
    case 1:
        sine = c;
        cosine = -s;
        break;
    case 2:
        sine = -s;
        cosine = -c;
        break;
    default:
        sine = -c;
        cosine = s;
        break;
    }
}

} // namespace fastmath_detail

/// Sine and cosine of an angle in degrees, |degrees| up to 1e6 (in degrees the quarter
/// turns are taken off exactly; beyond, the angle is wrapped first). Within 1e-13 of the
/// true values, far below what a pixel needs: a Taylor series to the 13th and 14th power
/// on at most 45 degrees, evaluated in pairs of powers so that the products do not wait
/// on one another.
inline void SinCosDegrees(double degrees, double& sine, double& cosine) {
    if (!(std::fabs(degrees) <= 1e6)) {
        degrees = std::fmod(degrees, 360.0); // NaN for NaN and infinities
        if (std::isnan(degrees)) {
            sine = cosine = degrees;
            return;
        }
    }
    double n = 0.0, s = 0.0, c = 0.0;
    fastmath_detail::SeriesOfDegrees(degrees, n, s, c);
    fastmath_detail::TurnByQuarters(n, s, c, sine, cosine);
}

/// SinCosDegrees of two angles at once.
inline void SinCosDegrees(double a, double b, double& sineA, double& cosineA, double& sineB,
                          double& cosineB) {
#if defined(__GNUC__)
    if (std::fabs(a) <= 1e6 && std::fabs(b) <= 1e6) {
        using Pair = double __attribute__((vector_size(16)));
        const Pair degrees = {a, b};
        Pair n, s, c;
        fastmath_detail::SeriesOfDegrees(degrees, n, s, c);
        fastmath_detail::TurnByQuarters(n[0], s[0], c[0], sineA, cosineA);
        fastmath_detail::TurnByQuarters(n[1], s[1], c[1], sineB, cosineB);
        return;
    }
#endif
    SinCosDegrees(a, sineA, cosineA);
    SinCosDegrees(b, sineB, cosineB);
}

} // namespace vantorel
