// The warped scanner-image mapping. Geometry (projection, table building) is computed in
// 64-bit floats and stored in the 32-bit fields; rounding to whole pixels and table
// indices is to nearest with ties to even.
// Departures from the plain rules, all on inputs the fit never produces: formats 2 and 3
// are refused; non-finite positions give false instead of indexing tables with them; a
// residual-grid layout that does not fit the grid is refused.
// Where it goes further, so that every pixel of a 1568-column line on passes of up to 9000
// lines is placed within a pixel: the ground-to-scan table follows the scan geometry past
// the half-angle instead of a straight line, and the forward lookup takes its whole range
// (a line's last 27 columns lie past the half-angle, and at the ends of a long pass the
// projection stretches the swath by a tenth, beyond the 1540 ground pixels once allowed);
// the residual grid is read at fractional columns, by a cubic outside the location grid's
// samples when the fit gives its layout, and looked up again until it settles (at most
// four times).
#include "mapping/MapWithWarp.h"

#include "common/Angles.h"
#include "common/FastMath.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace vantorel {

namespace {

// Scan angle (radians) of the centre of ground pixel i (0 at the nadir) of size r km, seen
// from heightRatio earth radii above the ground.
double ScanAngle(int i, double r, double heightRatio) {
    const double a = (i + 0.5) * r / TWarpedMapping::kEarthRadiusKm;
    return std::atan(std::sin(a) / ((1.0 - std::cos(a)) + heightRatio));
}

// c / sin c of the great-circle distance c whose cosine is given: the azimuthal
// equidistant projection's scale along the direction to a point. Out to a quarter turn
// (where every point a picture can show lies) it is read from a table in
// v = (1 - cos c) / 2 = sin^2(c / 2), on which it is smooth, by a cubic through the four
// nearest entries (within 1e-10 of the exact ratio), and nearer the centre from its power
// series; further out, from the arc cosine.
// Near the centre, where 1 - cos c loses digits, the ratio is 1 + v * 2/3 + ..., so the
// lost digits do not matter. The centre and its antipode give 0 (both land on (0, 0)).
class TArcOverSine {
public:
    static constexpr int kCells = 512;
    static constexpr double kStep = 0.5 / kCells;

    TArcOverSine() {
        for (int i = 0; i < kCells + 3; ++i) {
            const double v = (i - 1) * kStep; // one entry before v = 0, two after 0.5
            const double root = std::sqrt(std::fabs(v));
            FValues[static_cast<size_t>(i)] =
                v == 0.0 ? 1.0
                         : (v > 0.0 ? std::asin(root) : std::asinh(root)) /
                               (root * std::sqrt(1.0 - v));
        }
    }

    double operator()(double cosC) const {
        if (!(std::fabs(cosC) < 1.0)) {
            return 0.0;
        }
        const double v = 0.5 * (1.0 - cosC);
        if (v <= kSeriesLimit) {
            double out;
            Series(v, out);
            return out;
        }
        if (v > 0.5) {
            return std::acos(cosC) / std::sqrt((1.0 - cosC) * (1.0 + cosC));
        }
        const double at = v * (1.0 / kStep);
        const int cell = std::min(static_cast<int>(at), kCells - 1);
        const double t = at - cell;
        const double* f = &FValues[static_cast<size_t>(cell)];
        // Lagrange weights of the entries at t = -1, 0, 1, 2.
        const double tm1 = t - 1.0;
        const double tm2 = t - 2.0;
        const double tp1 = t + 1.0;
        return (-t * tm1 * tm2 * f[0] + t * tp1 * tm1 * f[3]) * (1.0 / 6.0) +
               (tp1 * tm1 * tm2 * f[1] - tp1 * t * tm2 * f[2]) * 0.5;
    }

    // Several at once, into `out`: side by side where all lie within the series' reach.
    template <class V> void operator()(const V& cosC, V& out) const {
        constexpr int kLanes = sizeof(V) / sizeof(double);
        const V v = 0.5 * (1.0 - cosC);
        bool near = true;
        for (int i = 0; i < kLanes; ++i) {
            near = near && std::fabs(cosC[i]) < 1.0 && v[i] <= kSeriesLimit;
        }
        if (near) {
            Series(v, out);
            return;
        }
        for (int i = 0; i < kLanes; ++i) {
            out[i] = (*this)(cosC[i]);
        }
    }

private:
    static constexpr double kSeriesLimit = 0.16;

    // Its power series, sum a_n v^n with a_n = 4^n n!^2 / (2n + 1)!, to the 11th power:
    // within 1e-10 out to v = 0.16 (c = 47 degrees, beyond the ends of the longest pass),
    // and shorter to wait for than the table.
    template <class T> static void Series(const T& v, T& out) {
        const T v2 = v * v;
        const T v4 = v2 * v2;
        const T p0 = kSeries[0] + kSeries[1] * v;
        const T p2 = kSeries[2] + kSeries[3] * v;
        const T p4 = kSeries[4] + kSeries[5] * v;
        const T p6 = kSeries[6] + kSeries[7] * v;
        const T p8 = kSeries[8] + kSeries[9] * v;
        const T p10 = kSeries[10] + kSeries[11] * v;
        out = (p0 + v2 * p2) + v4 * ((p4 + v2 * p6) + v4 * (p8 + v2 * p10));
    }

    static constexpr std::array<double, 12> kSeries = [] {
        std::array<double, 12> a{};
        a[0] = 1.0;
        for (int n = 0; n + 1 < 12; ++n) {
            a[static_cast<size_t>(n + 1)] = a[static_cast<size_t>(n)] * (2.0 * (n + 1)) / (2 * n + 3);
        }
        return a;
    }();

    std::array<double, kCells + 3> FValues{};
};

const TArcOverSine& ArcOverSineTable() {
    static const TArcOverSine table;
    return table;
}

double ArcOverSine(double cosC) {
    return ArcOverSineTable()(cosC);
}
template <class V> void ArcOverSine(const V& cosC, V& out) {
    ArcOverSineTable()(cosC, out);
}

constexpr int kMeteorCentre = kMeteorScanLayout.CentreColumn;
constexpr int kWideCentre = kWideScanLayout.CentreColumn;

} // namespace

TWarpedMapping::TWarpedMapping() = default;

void TWarpedMapping::InitialiseForPass(std::uint8_t format, int midLine, float lon0, float lat0,
                                       float altitudeKm, float trackStepKm, float halfAngleDeg) {
    if (format == 0) {
        format = trackStepKm < 1.05f ? 4 : (trackStepKm < 2.2f ? 1 : 2);
    }
    if (format != 1 && format != 4 && format != 5) {
        throw std::invalid_argument("Scan format " + std::to_string(format) + " is not supported");
    }
    ProjectionChanged();
    FCentreLon = lon0;
    FCentreLat = lat0;
    const double phi0 = lat0 * kDegreesToRadians;
    FSinLat0 = std::sin(phi0);
    FCosLat0 = std::cos(phi0);
    FMidLine = midLine;
    SetRotation(0.0f);
    SetHorizontalWarp(0.0f, 0.0f, 1.0f);
    SetVerticalWarp(0.0f, 1.0f, 0.0f);
    SetHorizontalSkew(0.0f, 0.0f, 0.0f);
    FResiduals.reset();
    FResidualRows = nullptr;
    FGridRows = 0;
    FGridLayout = {};
    FScanFormat = format;
    BuildGroundToScan(altitudeKm, trackStepKm, halfAngleDeg);
    BuildScanToGround();
    if (format == 4 || format == 5) {
        const double span =
            static_cast<double>(FScanToGround770[2 * kMeteorCentre - 1]) -
            static_cast<double>(FScanToGround770[0]);
        FScale = std::isfinite(span) && std::fabs(span) < 1e9
                     ? static_cast<std::int32_t>(std::nearbyint(span))
                     : 0;
    }
}

void TWarpedMapping::BuildGroundToScan(float altitudeKm, float trackStepKm, float halfAngleDeg) {
    const double r = trackStepKm > 2.2f ? trackStepKm / 3.0 : static_cast<double>(trackStepKm);
    const double o = ScanLayoutOfFormat(FScanFormat).HalfWidth;
    const double betaMax =
        (halfAngleDeg == 0.0f ? kDefaultHalfAngleDeg : static_cast<double>(halfAngleDeg)) *
        kDegreesToRadians;
    const double heightRatio = altitudeKm / kEarthRadiusKm;

    FScale = 0;
    double w = 0.0;
    double previous = 0.0;
    double increment = 0.0;
    int i = 0;
    for (; i < kTableHalf; ++i) {
        const double beta = ScanAngle(i, r, heightRatio);
        w = (o + 0.5) * beta / betaMax;
        FGroundToScan[static_cast<size_t>(kTableHalf + i)] = static_cast<float>(o + w);
        FGroundToScan[static_cast<size_t>(kTableHalf - i - 1)] = static_cast<float>(o - w);
        increment = w - previous;
        previous = w;
        FScale += 2;
        if (beta > betaMax) {
            ++i;
            break;
        }
    }
    FLastIncrement = static_cast<float>(increment);
    // Past the half-angle the table keeps following the scan geometry: a Meteor line's
    // pixels reach about 2 degrees beyond it (1568 columns, the half-angle ends at 1540),
    // and further on a scanner rolled about the track, and a straight continuation would
    // put the last columns pixels off (its kink is more than the residual grid can bend
    // round). Only where the scan angle stops growing (towards the horizon) does the table
    // go on in a straight line.
    bool following = true;
    for (; i < kTableHalf; ++i) {
        const double next = following ? (o + 0.5) * ScanAngle(i, r, heightRatio) / betaMax : 0.0;
        following = following && std::isfinite(next) && next > w;
        if (following) {
            increment = next - w;
        }
        w += increment;
        FGroundToScan[static_cast<size_t>(kTableHalf + i)] = static_cast<float>(o + w);
        FGroundToScan[static_cast<size_t>(kTableHalf - i - 1)] = static_cast<float>(o - w);
    }
}

void TWarpedMapping::BuildScanToGround() {
    // Secant/relaxation search for the ground pixel whose scan column is the target.
    auto invert = [this](int a, double c, double clamp) -> float {
        double g = a;
        double change = 2.0;
        for (int iter = 0; iter < 11; ++iter) {
            const int k = static_cast<int>(std::nearbyint(g));
            const double v = GroundToScan(k);
            const double slope = v - static_cast<double>(GroundToScan(k - 1));
            const double target = a - (v - c);
            const double next =
                std::clamp(slope > 0.1 ? g + target / slope : g + 0.8 * target, -clamp, clamp);
            change = std::fabs(next - g);
            g = next;
            if (!std::isfinite(g)) {
                return 0.0f;
            }
            if (change < 1.0) {
                break;
            }
        }
        return change < 1.0 ? static_cast<float>(g) : 0.0f;
    };
    // ScanToGround reads only the present format's table, so only that one is built: the
    // other took as long again, every time a picture is fitted.
    if (FScanFormat == 4 || FScanFormat == 5) {
        for (int a = -kMeteorCentre; a < kMeteorCentre; ++a) {
            FScanToGround770[static_cast<size_t>(a + kMeteorCentre)] =
                invert(a, kMeteorCentre, 1400.0);
        }
    } else {
        for (int a = -kWideCentre; a < kWideCentre; ++a) {
            FScanToGround1024[static_cast<size_t>(a + kWideCentre)] =
                invert(a, kWideCentre, 1800.0);
        }
    }
}

float TWarpedMapping::GroundToScan(int g) const {
    if (g < -kTableHalf || g >= kTableHalf) {
        return 0.0f;
    }
    return FGroundToScan[static_cast<size_t>(g + kTableHalf)];
}

float TWarpedMapping::ScanToGround(int offset) const {
    if (FScanFormat == 4 || FScanFormat == 5) {
        return (offset >= -kMeteorCentre && offset < kMeteorCentre)
                   ? FScanToGround770[static_cast<size_t>(offset + kMeteorCentre)]
                   : 0.0f;
    }
    return (offset >= -kWideCentre && offset < kWideCentre)
               ? FScanToGround1024[static_cast<size_t>(offset + kWideCentre)]
               : 0.0f;
}

void TWarpedMapping::SetRotation(float degrees) {
    ProjectionChanged();
    FRotation = static_cast<float>(degrees * kDegreesToRadians);
    FSinRot = static_cast<float>(std::sin(static_cast<double>(FRotation)));
    FCosRot = static_cast<float>(std::cos(static_cast<double>(FRotation)));
}

float TWarpedMapping::RotationDegrees() const {
    return static_cast<float>(FRotation * kRadiansToDegrees);
}

void TWarpedMapping::SetVerticalWarp(float b2, float b1, float b0) {
    ProjectionChanged();
    FB2 = b2;
    FB1 = b1;
    FB0 = b0;
}

void TWarpedMapping::SetHorizontalWarp(float a3, float a2, float a1) {
    ProjectionChanged();
    FA3 = a3;
    FA2 = a2;
    FA1 = a1;
}

void TWarpedMapping::SetHorizontalSkew(float s2, float s1, float s0) {
    ProjectionChanged();
    FS2 = s2;
    FS1 = s1;
    FS0 = s0;
}

void TWarpedMapping::SetResidualGrid(std::shared_ptr<const ResidualGrid> grid, int rows, int first,
                                     int spacing, int columns) {
    SetResidualGrid(std::move(grid), rows, TResidualLayout{first, spacing, columns, 0, 0, spacing});
}

void TWarpedMapping::SetResidualGrid(std::shared_ptr<const ResidualGrid> grid, int rows,
                                     const TResidualLayout& layout) {
    if (!grid || rows < 1 || static_cast<size_t>(rows) > grid->size() || layout.Samples < 1 ||
        layout.Before < 0 || layout.After < 0 || layout.Columns() > kResidualColumns ||
        layout.Spacing < 1 || layout.EdgeSpacing < 1) {
        throw std::invalid_argument("Residual grid layout does not fit the grid");
    }
    ProjectionChanged();
    FResiduals = std::move(grid);
    FResidualRows = FResiduals->data();
    FGridRows = rows;
    FGridLayout = layout;
    FRecipGridSpacing = 1.0f / static_cast<float>(layout.Spacing);
    FRecipEdgeSpacing = 1.0f / static_cast<float>(layout.EdgeSpacing);
    // The cubic's nodes from each grid column on, with the reciprocals of their weights'
    // denominators: the look-ups beyond the samples then divide nothing.
    FCubicNodes.clear();
    for (int base = 0; base + 4 <= layout.Columns(); ++base) {
        TCubicNodes c{};
        for (int i = 0; i < 4; ++i) {
            c.at[i] = static_cast<float>(layout.ColumnOf(base + i));
        }
        for (int i = 0; i < 4; ++i) {
            double denominator = 1.0;
            for (int j = 0; j < 4; ++j) {
                if (j != i) {
                    denominator *= static_cast<double>(c.at[i]) - c.at[j];
                }
            }
            c.scale[i] = static_cast<float>(1.0 / denominator);
        }
        FCubicNodes.push_back(c);
    }
}

namespace {

// One value's or several side by side: the scale from the distance's cosine, and magnitudes.
// Written into their places: code built without AVX cannot return a vector of four in
// registers (the compiler warns that its calls would differ from AVX code's).
void ScaleOfDistance(double cosC, double& scale) {
    scale = TWarpedMapping::kProjectionScale * ArcOverSine(cosC);
}
template <class V> void ScaleOfDistance(const V& cosC, V& scale) {
    ArcOverSine(cosC, scale);
    scale = TWarpedMapping::kProjectionScale * scale;
}
void Magnitude(double v, double& out) {
    out = std::fabs(v);
}
template <class V> void Magnitude(const V& v, V& out) {
    out = v < 0.0 ? -v : v;
}
void SinCosOf(double dLon, double lat, double& sinDLon, double& cosDLon, double& sinPhi,
              double& cosPhi) {
    SinCosDegrees(dLon, lat, sinDLon, cosDLon, sinPhi, cosPhi);
}
template <class V>
void SinCosOf(const V& dLon, const V& lat, V& sinDLon, V& cosDLon, V& sinPhi, V& cosPhi) {
    SinCosDegrees(dLon, sinDLon, cosDLon);
    SinCosDegrees(lat, sinPhi, cosPhi);
}

} // namespace

template <class T>
inline __attribute__((always_inline)) void TWarpedMapping::NormalisedOf(T& x, T& y, const T& lon,
                                                                        const T& lat) const {
    T sinDLon, cosDLon, sinPhi, cosPhi;
    // Sines take whole turns as they come: no wrapping of the longitude difference.
    SinCosOf(lon - static_cast<double>(FCentreLon), lat, sinDLon, cosDLon, sinPhi, cosPhi);
    const T cosC = FSinLat0 * sinPhi + FCosLat0 * cosPhi * cosDLon;
    T k;
    ScaleOfDistance(cosC, k);
    x = k * cosPhi * sinDLon;
    y = k * (FCosLat0 * sinPhi - FSinLat0 * cosPhi * cosDLon);
    // Rotation, then the warps.
    const T xr = x * static_cast<double>(FCosRot) - y * static_cast<double>(FSinRot);
    const T yr = x * static_cast<double>(FSinRot) + y * static_cast<double>(FCosRot);
    const T xw = ((static_cast<double>(FA3) * xr + static_cast<double>(FA2)) * xr +
                  static_cast<double>(FA1)) *
                 xr;
    T magnitude;
    Magnitude(yr, magnitude);
    const T yw = magnitude < static_cast<double>(FVertWarpLimit)
                     ? (static_cast<double>(FB2) * yr + static_cast<double>(FB1)) * yr +
                           static_cast<double>(FB0)
                     : yr;
    x = xw + (static_cast<double>(FS2) * yw + static_cast<double>(FS1)) * yw +
        static_cast<double>(FS0);
    y = yw;
}

void TWarpedMapping::Normalised(double& x, double& y, float lon, float lat) const {
    NormalisedOf<double>(x, y, lon, lat);
}

bool TWarpedMapping::LatLonToImageF(float& x, float& y, float lon, float lat,
                                    bool useScanTable) const {
    if (FCentreLon == kNotFitted) {
        return false;
    }
    if (!std::isfinite(lon) || !std::isfinite(lat)) {
        return false;
    }
    double nx = 0.0;
    double ny = 0.0;
    Normalised(nx, ny, lon, lat);
    return FromNormalised(x, y, nx, ny, useScanTable);
}

namespace {

bool HaveFourLanes() {
#if defined(__GNUC__) && defined(__x86_64__)
    // The processor's and the system's word both (it checks that YMM state is saved).
    static const bool avx = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return avx;
#else
    return false;
#endif
}

} // namespace

void TWarpedMapping::LatLonToImageF(std::span<const TLonLat> from, float* x, float* y, bool* ok,
                                    bool useScanTable, TLanes lanes, TRefused refused) const {
    if (FCentreLon == kNotFitted) {
        std::fill(ok, ok + from.size(), false);
        return;
    }
    // A stage at a time: the projection several at a time, the scan table, then the
    // residuals. Each point's steps wait on one another, but the points do not, so the
    // processor overlaps many of them.
    const TLonLat* p = from.data();
    const size_t n = from.size();
    const bool four = lanes == TLanes::Best && HaveFourLanes();
    for (size_t start = 0; start < n; start += kBatchBlock) {
        const size_t m = std::min(kBatchBlock, n - start);
        if (four) {
            ScanPositionsFour(p + start, m, x + start, y + start, ok + start, useScanTable);
        } else {
            ScanPositions<TDoublePair>(p + start, m, x + start, y + start, ok + start,
                                       useScanTable);
        }
    }
    // Unrefined: not those refused already, beyond the swath, as most of a footprint round
    // the globe is.
    ApplyResiduals(std::span(x, n), std::span(y, n), refused == TRefused::Unrefined ? ok : nullptr);
    for (size_t i = 0; i < n; ++i) {
        // Non-finite input gives non-finite coordinates; it is refused as such.
        ok[i] = ok[i] && std::isfinite(p[i].lon) && std::isfinite(p[i].lat);
    }
}

template <class V>
inline __attribute__((always_inline)) void
TWarpedMapping::ScanPositions(const TLonLat* from, size_t n, float* x, float* y, bool* ok,
                              bool useScanTable) const {
    constexpr size_t kLanes = sizeof(V) / sizeof(double);
    V nx[kBatchBlock / kLanes], ny[kBatchBlock / kLanes];
    for (size_t i = 0; i < n; i += kLanes) {
        V lon, lat;
        for (size_t k = 0; k < kLanes; ++k) {
            const TLonLat& q = from[std::min(i + k, n - 1)]; // the last one again
            lon[k] = q.lon;
            lat[k] = q.lat;
        }
        NormalisedOf<V>(nx[i / kLanes], ny[i / kLanes], lon, lat);
    }
    for (size_t i = 0; i < n; ++i) {
        ok[i] = ScanPosition(x[i], y[i], nx[i / kLanes][i % kLanes], ny[i / kLanes][i % kLanes],
                             useScanTable);
    }
}

// Built for AVX, without FMA: the same operations in the same order, so the same bits.
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx")))
#endif
void TWarpedMapping::ScanPositionsFour(const TLonLat* from, size_t n, float* x, float* y, bool* ok,
                                       bool useScanTable) const {
    ScanPositions<TDoubleQuad>(from, n, x, y, ok, useScanTable);
}

bool TWarpedMapping::FromNormalised(float& x, float& y, double nx, double ny,
                                    bool useScanTable) const {
    const bool ok = ScanPosition(x, y, nx, ny, useScanTable);
    ApplyResiduals(x, y);
    return ok;
}

inline bool TWarpedMapping::ScanPosition(float& x, float& y, double nx, double ny,
                                         bool useScanTable) const {
    bool ok = true;
    double ix = nx;
    if (useScanTable) {
        ok = std::fabs(nx) <= 1.4;
        const double u = RoundToEven(nx * 0.5 * FScale - 0.5);
        if (!(u >= -kTableHalf && u <= kTableHalf - 1)) {
            ok = false; // x keeps its normalised value
        } else {
            ix = GroundToScan(static_cast<int>(u));
        }
    } else {
        ix = (0.5 * nx + 0.5) * FScale;
    }
    x = static_cast<float>(ix);
    y = static_cast<float>(FMidLine - 0.5 * FScale * ny);
    return ok;
}

inline int TWarpedMapping::GridRowOf(float y) const {
    // NaN and lines beyond the grid take its ends.
    const float last = static_cast<float>(FGridRows - 1);
    return RoundToInt(!(y > 0.0f) ? 0.0f : (y < last ? y : last));
}

inline ResidualPair TWarpedMapping::ResidualAt(float x, float y) const {
    const ResidualRow& r = FResidualRows[static_cast<size_t>(GridRowOf(y))];
    const TResidualLayout& g = FGridLayout;
    // Between the samples: straight between the two nearest, at the fractional column
    // (where the residual changes by a line a column, as at the swath edges at the ends of
    // a long pass, whole-pixel steps would cost half a line).
    const float u = (x - static_cast<float>(g.SampleFirst)) * FRecipGridSpacing;
    if (u >= 0.0f && u < static_cast<float>(g.Samples - 1)) {
        const long cell = static_cast<long>(u);
        const float t = u - static_cast<float>(cell);
        const ResidualPair& p = r[static_cast<size_t>(g.Before + cell)];
        const ResidualPair& q = r[static_cast<size_t>(g.Before + cell + 1)];
        return {p.dx + t * (q.dx - p.dx), p.dy + t * (q.dy - p.dy)};
    }
    return ResidualBeyondSamples(r, x, u);
}

ResidualPair TWarpedMapping::ResidualBeyondSamples(const ResidualRow& r, float x, float u) const {
    // The grid column (fractional) among those EdgeSpacing apart; held at the grid's ends.
    const TResidualLayout& g = FGridLayout;
    const int columns = g.Columns();
    const float v = u < 0.0f ? static_cast<float>(g.Before) +
                                   (x - static_cast<float>(g.SampleFirst)) * FRecipEdgeSpacing
                             : static_cast<float>(g.Before + g.Samples - 1) +
                                   (x - static_cast<float>(g.SampleLast())) * FRecipEdgeSpacing;
    if (!(v > 0.0f) || columns < 4) {
        return r[v > 0.0f ? static_cast<size_t>(columns - 1) : 0];
    }
    if (v >= static_cast<float>(columns - 1)) {
        return r[static_cast<size_t>(columns - 1)];
    }
    // Lagrange cubic through the four nearest grid columns, at their image columns.
    const int base = std::clamp(static_cast<int>(v) - 1, 0, columns - 4);
    const TCubicNodes& c = FCubicNodes[static_cast<size_t>(base)];
    const float d0 = x - c.at[0];
    const float d1 = x - c.at[1];
    const float d2 = x - c.at[2];
    const float d3 = x - c.at[3];
    const float w[4] = {d1 * d2 * d3 * c.scale[0], d0 * d2 * d3 * c.scale[1],
                        d0 * d1 * d3 * c.scale[2], d0 * d1 * d2 * c.scale[3]};
    ResidualPair out;
    for (int i = 0; i < 4; ++i) {
        const ResidualPair& n = r[static_cast<size_t>(base + i)];
        out.dx += w[i] * n.dx;
        out.dy += w[i] * n.dy;
    }
    return out;
}

bool TWarpedMapping::SettleInOneCell(float x, float y, ResidualPair& r) const {
    // Where the first correction lands, the residual is a straight line along the row
    // between two samples: the place the look-ups close in on is then solved for at
    // once. It holds when that place lies in the same cell and row; else the look-ups run.
    const TResidualLayout& g = FGridLayout;
    const int row = GridRowOf(y + r.dy);
    const float u = (x + r.dx - static_cast<float>(g.SampleFirst)) * FRecipGridSpacing;
    if (!(u >= 0.0f && u < static_cast<float>(g.Samples - 1))) {
        return false;
    }
    const int cell = static_cast<int>(u);
    const ResidualRow& cells = FResidualRows[static_cast<size_t>(row)];
    const ResidualPair& p = cells[static_cast<size_t>(g.Before + cell)];
    const ResidualPair& q = cells[static_cast<size_t>(g.Before + cell + 1)];
    const float left = static_cast<float>(g.SampleFirst + cell * g.Spacing);
    const float slopeX = (q.dx - p.dx) * FRecipGridSpacing;
    const float slopeY = (q.dy - p.dy) * FRecipGridSpacing;
    if (!(std::fabs(slopeX) < 0.2f && std::fabs(slopeY) < 0.2f)) {
        return false;
    }
    // dx = p.dx + slopeX (x + dx - left), and dy likewise at that column.
    const float dx = (p.dx + slopeX * (x - left)) / (1.0f - slopeX);
    const float dy = p.dy + slopeY * (x + dx - left);
    const float at = x + dx - left;
    if (!(at >= 0.0f && at < static_cast<float>(g.Spacing)) ||
        GridRowOf(y + dy) != row) {
        return false;
    }
    r = {dx, dy};
    return true;
}

inline bool TWarpedMapping::ResidualApplies(float x, float y) const {
    return FResiduals && std::isfinite(x) && std::isfinite(y) && std::fabs(x) <= 1e9f &&
           std::fabs(y) <= 1e9f;
}

ResidualPair TWarpedMapping::SettleByLookUps(float x, float y, ResidualPair r) const {
    for (int i = 0; i < kResidualRefinements; ++i) {
        const ResidualPair next = ResidualAt(x + r.dx, y + r.dy);
        const bool settled = std::fabs(next.dx - r.dx) < kResidualSettled &&
                             std::fabs(next.dy - r.dy) < kResidualSettled;
        r = next;
        if (settled) {
            break;
        }
    }
    return r;
}

void TWarpedMapping::ApplyResiduals(float& x, float& y) const {
    if (!ResidualApplies(x, y)) {
        return;
    }
    // The residual is looked up where the point lands once corrected, not where the
    // polynomials put it: the two differ by up to tens of lines and columns at the ends of
    // a long pass, and only the corrected place makes grid points land on their own pixels.
    // Each look-up shrinks the distance to that place about tenfold; the last ones are
    // needed only where the residual changes fast (the swath edges at the pass ends).
    ResidualPair r = ResidualAt(x, y);
    if (!SettleInOneCell(x, y, r)) {
        r = SettleByLookUps(x, y, r);
    }
    x += r.dx;
    y += r.dy;
}

void TWarpedMapping::ApplyResiduals(std::span<float> x, std::span<float> y,
                                    const bool* only) const {
    // ApplyResiduals of each, a step at a time over all of them: the steps of one point
    // wait on one another, those of different points do not.
    ResidualPair r[kBatchBlock];
    bool applies[kBatchBlock];
    for (size_t start = 0; start < x.size(); start += kBatchBlock) {
        const size_t n = std::min(kBatchBlock, x.size() - start);
        float* px = x.data() + start;
        float* py = y.data() + start;
        for (size_t i = 0; i < n; ++i) {
            applies[i] = (only == nullptr || only[start + i]) && ResidualApplies(px[i], py[i]);
            r[i] = applies[i] ? ResidualAt(px[i], py[i]) : ResidualPair{};
        }
        for (size_t i = 0; i < n; ++i) {
            if (applies[i] && !SettleInOneCell(px[i], py[i], r[i])) {
                r[i] = SettleByLookUps(px[i], py[i], r[i]);
            }
        }
        for (size_t i = 0; i < n; ++i) {
            if (applies[i]) {
                px[i] += r[i].dx;
                py[i] += r[i].dy;
            }
        }
    }
}

namespace {

// The whole pixel of an image position; false beyond any picture.
bool ToPixel(float fx, float fy, int& x, int& y) {
    if (!(std::fabs(fx) < 1e9f && std::fabs(fy) < 1e9f)) {
        return false;
    }
    x = static_cast<int>(RoundToEven(fx));
    y = static_cast<int>(RoundToEven(fy));
    return true;
}

} // namespace

bool TWarpedMapping::LatLonToImage(int& x, int& y, float lon, float lat) const {
    float fx = 0.0f;
    float fy = 0.0f;
    return LatLonToImageF(fx, fy, lon, lat, true) && ToPixel(fx, fy, x, y);
}

void TWarpedMapping::LatLonToImage(std::span<const TLonLat> from, TProjectedPixel* to) const {
    float x[kBatchBlock], y[kBatchBlock];
    bool ok[kBatchBlock];
    for (size_t start = 0; start < from.size(); start += kBatchBlock) {
        const size_t n = std::min(kBatchBlock, from.size() - start);
        LatLonToImageF(from.subspan(start, n), x, y, ok, true, TLanes::Best, TRefused::Unrefined);
        TProjectedPixel* out = to + start;
        for (size_t i = 0; i < n; ++i) {
            out[i].onMap = ok[i] && ToPixel(x[i], y[i], out[i].x, out[i].y);
        }
    }
}

} // namespace vantorel
