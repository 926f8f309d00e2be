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

namespace fastmath_detail {

// The arc tangents of the sixteenths 0, 1/16, ..., 1.
inline constexpr double kArcTangentOfSixteenths[17] = {
        0.0,                 0.06241880999595735, 0.12435499454676144, 0.18534794999569476,
        0.24497866312686414, 0.3028848683749714,  0.35877067027057225, 0.4124104415973873,
        0.4636476090008061,  0.5123894603107377,  0.5585993153435624,  0.6022873461349642,
        0.6435011087932844,  0.6823165548747481,  0.7188299996216245,  0.7531512809621944,
        0.7853981633974483,
};

// For a in [0, 1]: the nearest sixteenth k / 16 and atan(a) - atan(k / 16), a series to
// the 11th power in (a - c) / (1 + a c), which is at most 1/32 (a - c is exact: they lie
// within a 32nd). For one value or two side by side.
template <class T> inline void ArcTangentSeries(const T& a, T& k, T& series) {
    constexpr double kShift = 6755399441055744.0; // as in RoundToEven
    k = (a * 16.0 + kShift) - kShift;
    const T c = k * (1.0 / 16.0);
    const T u = (a - c) / (1.0 + a * c);
    const T z = u * u;
    series = u - u * z *
                     ((1.0 / 3 - z * (1.0 / 5)) +
                      z * z * ((1.0 / 7 - z * (1.0 / 9)) + z * z * (1.0 / 11)));
}

// The arc tangent of t from the series of a = |t| or 1 / |t| (`inverted`).
inline double ArcTangentFrom(double t, double a, bool inverted, double k, double series) {
    if (std::isnan(a)) {
        return a;
    }
    double r = kArcTangentOfSixteenths[static_cast<int>(k)] + series;
    if (inverted) {
        r = 1.5707963267948966 - r;
    }
    return std::copysign(r, t);
}

} // namespace fastmath_detail

/// The arctangent (radians) within 1e-15 of the library's, for the ground points of every
/// scan line: the argument (or its inverse, above 1) is taken to the nearest sixteenth,
/// whose arctangent is tabled, and the rest is a short series. NaN for NaN.
inline double ArcTangent(double t) {
    double a = std::fabs(t);
    const bool inverted = a > 1.0;
    if (inverted) {
        a = 1.0 / a;
    }
    double k = 0.0, series = 0.0;
    if (!std::isnan(a)) {
        fastmath_detail::ArcTangentSeries(a, k, series);
    }
    return fastmath_detail::ArcTangentFrom(t, a, inverted, k, series);
}

#if defined(__GNUC__)
/// Two doubles side by side (GCC/Clang vectors: arithmetic on the pair costs about what
/// it does on one).
using TDoublePair = double __attribute__((vector_size(16)));

/// ArcTangent of two values at once, the same to the bit.
inline TDoublePair ArcTangent(TDoublePair t) {
    TDoublePair a = {std::fabs(t[0]), std::fabs(t[1])};
    const bool inverted[2] = {a[0] > 1.0, a[1] > 1.0};
    const TDoublePair inverse = 1.0 / a;
    a = TDoublePair{inverted[0] ? inverse[0] : a[0], inverted[1] ? inverse[1] : a[1]};
    if (std::isnan(a[0]) || std::isnan(a[1])) {
        return TDoublePair{ArcTangent(t[0]), ArcTangent(t[1])};
    }
    TDoublePair k, series;
    fastmath_detail::ArcTangentSeries(a, k, series);
    return TDoublePair{fastmath_detail::ArcTangentFrom(t[0], a[0], inverted[0], k[0], series[0]),
                       fastmath_detail::ArcTangentFrom(t[1], a[1], inverted[1], k[1], series[1])};
}

/// Four doubles side by side: one AVX register where the code is built for it, two SSE
/// ones where not, with the same results.
using TDoubleQuad = double __attribute__((vector_size(32)));

/// SinCosDegrees of two or four angles side by side, the same to the bit, without a branch
/// on the quarter turn: the series' sine and cosine are swapped on odd quarters and their
/// signs set from n mod 4, by masks. Angles beyond 1e6 degrees or not finite take the
/// one-angle route.
template <class V> inline void SinCosDegrees(const V& degrees, V& sine, V& cosine) {
    constexpr int kLanes = sizeof(V) / sizeof(double);
    bool near = true;
    for (int i = 0; i < kLanes; ++i) {
        near = near && std::fabs(degrees[i]) <= 1e6;
    }
    if (!near) {
        for (int i = 0; i < kLanes; ++i) {
            double si, ci;
            SinCosDegrees(degrees[i], si, ci);
            sine[i] = si;
            cosine[i] = ci;
        }
        return;
    }
    constexpr double kShift = 6755399441055744.0; // as in RoundToEven
    V n, s, c;
    fastmath_detail::SeriesOfDegrees(degrees, n, s, c);
    // m = n - 4 round(n / 4), in -2 .. 2: quarter 0 is m 0, 1 is 1, 2 is +-2, 3 is -1.
    const V m = n - 4.0 * ((n * 0.25 + kShift) - kShift);
    const auto odd = (m == 1.0) | (m == -1.0);
    const V a = odd ? c : s;
    const V b = odd ? s : c;
    sine = ((m >= 0.0) & (m <= 1.0)) ? a : -a;
    cosine = ((m == 0.0) | (m == -1.0)) ? b : -b;
}
#endif

} // namespace vantorel
