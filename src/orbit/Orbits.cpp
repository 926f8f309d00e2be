// The scanner model: a line of pixels swept at equal angle steps in the plane of the
// local vertical and the orbit normal, turned about the vertical by the yaw; each look
// direction is intersected with the WGS-72 ellipsoid in closed form (the ray-ellipsoid
// quadratic with the ellipsoid scaled to a sphere along z). Departures: the look
// direction is made a unit vector and its product with the position is used as it is,
// rather than r cos A, which holds only while the scan plane is square to the vertical
// (with a yaw offset or yaw steering it put the swath edges some 50 m off the
// ellipsoid); a look direction that misses the ellipsoid is given the point of its
// closest approach instead of a non-number; the ground points, which lie on the
// ellipsoid, take their latitude from the closed form for such points (the value the
// iteration of GeodeticPosition converges to) and share one sidereal angle per line, which
// makes a line about four times faster.
#include "orbit/Orbits.h"

#include "common/Angles.h"
#include "common/FastMath.h"
#include "common/StringUtils.h"
#include "orbit/MeteorSeries.h"
#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Time.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantorel {
namespace {

struct NameRow {
    std::string_view from;
    std::string_view to;
};

// Texts looked for in the name as given; a later row overrides an earlier one.
constexpr NameRow kCanonicalNames[] = {
    {"FENGYUN 1C", "FY1C"}, {"FENGYUN 1D", "FY1D"}, {"METOP A", "METOP-A"}, {"METOP B", "METOP-B"},
    {"METOP C", "METOP-C"}, {"NOAA 7", "NOAA-7"},   {"NOAA 10", "NOAA-10"}, {"NOAA 11", "NOAA-11"},
    {"NOAA 12", "NOAA-12"}, {"NOAA 13", "NOAA-13"}, {"NOAA 14", "NOAA-14"}, {"NOAA 15", "NOAA-15"},
    {"NOAA 16", "NOAA-16"}, {"NOAA 17", "NOAA-17"}, {"NOAA 18", "NOAA-18"}, {"NOAA 19", "NOAA-19"},
    {"SEASTAR", "SEASTAR"}, {"SPOT 4", "SPOT-4"},   {"SPOT-4", "SPOT-4"},
};

constexpr NameRow kShortNames[] = {
    {"FY1C", "fy1c"},       {"FY1D", "fy1d"},   {"METOP-A", "metopA"},  {"NOAA-7", "n7"},
    {"NOAA-10", "n10"},     {"NOAA-11", "n11"}, {"NOAA-12", "n12"},     {"NOAA-13", "n13"},
    {"NOAA-14", "n14"},     {"NOAA-15", "n15"}, {"NOAA-16", "n16"},     {"NOAA-17", "n17"},
    {"NOAA-18", "n18"},     {"NOAA-19", "n19"}, {"SEASTAR", "seastar"}, {"SPOT-4", "spot-4"},
    {"TIROS-N", "Tiros-N"},
};

constexpr NameRow kCatalogueNumbers[] = {
    {"FY1C", "25730"},        {"FY1D", "27431"},        {"FY3A", "32958"},
    {"FY3B", "37214"},        {"FY3C", "39260"},        {"METEOR-M1", "35865"},
    {"METEOR-M2", "40069"},   {"METEOR-M 2", "40069"},  {"METEOR-M2 2", "44387"},
    {"METEOR-M2 3", "57166"}, {"METEOR-M2 4", "59051"}, {"METOP-A", "29499"},
    {"METOP-B", "38771"},     {"METOP-C", "43689"},     {"NOAA-7", "12553"},
    {"NOAA-10", "16969"},     {"NOAA-11", "19531"},     {"NOAA-12", "21263"},
    {"NOAA-13", "22739"},     {"NOAA-14", "23455"},     {"NOAA-15", "25338"},
    {"NOAA-16", "26536"},     {"NOAA-17", "27453"},     {"NOAA-18", "28654"},
    {"NOAA-19", "33591"},     {"SEASTAR", "24883"},     {"SPOT-4", "25260"},
    {"TIROS-N", "11060"},     {"AQUA", "27424"},        {"TERRA", "25994"},
    {"ENVISAT", "27386"},
};

const NameRow* FindExact(std::string_view name, const NameRow* begin, const NameRow* end) {
    for (const NameRow* row = begin; row != end; ++row) {
        if (row->from == name) {
            return row;
        }
    }
    return nullptr;
}

// (a/b)^2 - 1 for the flattening 1/298.26, a/b = 1.0033640584000538.
constexpr double kEllipsoidK = 0.006739433689026623;

// Yaw steering turns the scan plane by -Vz / 115 rad (Vz in km/s).
constexpr double kYawSteeringDivisor = 115.0;

/// H turned about the vertical by a small angle (rad), towards the flight for angle > 0.
TVector TurnTowardsFlight(const TVector& h, double angle, const TVector& velocity) {
    return UnitVector(AddVectors(h, ScaleVector(angle, UnitVector(velocity))));
}

/// The satellite's state at one instant and the scan plane it looks along.
struct TScanFrame {
    TVector Position; // km, inertial
    TVector Velocity; // km/s, inertial
    TVector Up;       // unit vector from the centre of the Earth
    TVector Down;     // the scan's centre: straight down, or tilted along the track
    TVector Across;   // unit vector across the track, yaw applied
    double Sidereal = 0.0;
    double C = 0.0; // the constant term of the ray-ellipsoid quadratic
};

TScanFrame MakeScanFrame(TSatellite& elements, double jd, bool yawSteering, double yawOffsetDeg,
                         double pitchDeg) {
    TScanFrame f;
    TVector& p = f.Position;
    TVector& v = f.Velocity;
    elements.Propagate(jd, p, v);
    StateToKilometres(p, v);
    f.Sidereal = SiderealAngle(jd);
    f.Up = UnitVector(p);
    f.Across = UnitVector(CrossProduct(p, v));
    if (yawSteering) {
        f.Across = TurnTowardsFlight(f.Across, -v.Z / kYawSteeringDivisor, v);
    }
    if (yawOffsetDeg != 0.0) {
        f.Across = TurnTowardsFlight(f.Across, yawOffsetDeg * kDegreesToRadians, v);
    }
    f.Down = ScaleVector(-1.0, f.Up);
    if (pitchDeg != 0.0) {
        // Forward is across x up; the scan's centre leans that way.
        const TVector forward = UnitVector(CrossProduct(f.Across, f.Up));
        const double pitch = pitchDeg * kDegreesToRadians;
        f.Down = UnitVector(AddVectors(ScaleVector(-std::cos(pitch), f.Up),
                                       ScaleVector(std::sin(pitch), forward)));
    }
    const double r = p.Length;
    f.C = kEarthRadiusKm * kEarthRadiusKm - r * r - kEllipsoidK * p.Z * p.Z;
    return f;
}

TDoublePair SquareRoot(TDoublePair v) {
#if defined(__SSE2__)
    return reinterpret_cast<TDoublePair>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v)));
#else
    return TDoublePair{std::sqrt(v[0]), std::sqrt(v[1])};
#endif
}

/// Inertial x, y, z (km; the earth's turn is taken off later) of the ground points seen
/// at two scan angles, given by their cosines and sines (positive left of the flight).
/// The two side by side take about the time of one.
void GroundIntersections(const TScanFrame& f, TDoublePair cosA, TDoublePair sinA, TDoublePair& x,
                         TDoublePair& y, TDoublePair& z) {
    const TVector& p = f.Position;
    // UnitVector(AddVectors(ScaleVector(cosA, Down), ScaleVector(sinA, Across))) written
    // out, in the same order of operations, without the lengths nothing here reads.
    const TDoublePair sumX = cosA * f.Down.X + sinA * f.Across.X;
    const TDoublePair sumY = cosA * f.Down.Y + sinA * f.Across.Y;
    const TDoublePair sumZ = cosA * f.Down.Z + sinA * f.Across.Z;
    const TDoublePair length = SquareRoot(sumX * sumX + sumY * sumY + sumZ * sumZ);
    const TDoublePair lookX = sumX / length;
    const TDoublePair lookY = sumY / length;
    const TDoublePair lookZ = sumZ / length;
    // -P.L is r cos A only while "across" is square to the vertical; a yawed scan plane
    // tilts it by the radial part of the velocity, so the product is taken as it is.
    const TDoublePair b = -(p.X * lookX + p.Y * lookY + p.Z * lookZ) - kEllipsoidK * p.Z * lookZ;
    const TDoublePair q = 1.0 + kEllipsoidK * lookZ * lookZ;
    const TDoublePair discriminant = b * b + q * f.C;
    // std::max(discriminant, 0.0) of each.
    const TDoublePair clamped = {discriminant[0] < 0.0 ? 0.0 : discriminant[0],
                                 discriminant[1] < 0.0 ? 0.0 : discriminant[1]};
    const TDoublePair d = (b - SquareRoot(clamped)) / q;
    x = p.X + d * lookX;
    y = p.Y + d * lookY;
    z = p.Z + d * lookZ;
}

/// The geodetic latitudes and longitudes of two points on the ellipsoid.
void GeodeticOfGroundPoints(const TScanFrame& f, const TDoublePair& x, const TDoublePair& y,
                            const TDoublePair& z, TDoublePair& latitude, TDoublePair& longitude) {
    // On the ellipsoid the geodetic latitude has a closed form: tan(lat) = (1 + k) z / rho.
    // rho is 0 only at a pole, where the quotient's infinity gives +-90 degrees.
    latitude = ArcTangent((1.0 + kEllipsoidK) * z / SquareRoot(x * x + y * y));
    // FastMath's arc tangents: the library's took half the time of a scan line.
    const TDoublePair turn = ArcTangent(y / x);
    for (int i = 0; i < 2; ++i) {
        longitude[i] = PositiveModulo(
            QuadrantAngle(y[i], x[i], [&](double) { return turn[i]; }) - f.Sidereal, kTwoPi);
    }
}

/// Geodetic latitudes and longitudes in [0, 2 pi) (radians) of the ground points seen at
/// two scan angles: GroundIntersections, then GeodeticOfGroundPoints.
void GroundPointsAt(const TScanFrame& f, TDoublePair cosA, TDoublePair sinA,
                    TDoublePair& latitude, TDoublePair& longitude) {
    TDoublePair x, y, z;
    GroundIntersections(f, cosA, sinA, x, y, z);
    GeodeticOfGroundPoints(f, x, y, z, latitude, longitude);
}

} // namespace

TOrbit::TOrbit() = default;

TOrbit::~TOrbit() = default;

void TOrbit::SetKeplerPath(const std::string& path) {
    KeplerData.SetPath(path);
}

void TOrbit::SelectForTime(TDateTime time, INotifier& notifier) {
    PassTime = time;
    MainKeplerFile.clear();
    UpdatesKeplerFile.clear();
    Valid = false;
    Elements = std::make_unique<TSatellite>();

    const TElementSetChoice choice =
        KeplerData.GetElements(SatelliteName, CatalogueNumber, time, notifier);
    EpochOffset = choice.Offset;
    MainKeplerFile = choice.MainFile;
    UpdatesKeplerFile = choice.UpdatesFile;
    if (choice.Success) {
        Elements->ParseElements(choice.Line1, choice.Line2);
        Valid = true;
    }
}

void TOrbit::UseElements(const std::string& line1, const std::string& line2,
                         const std::string& source, TDateTime time) {
    PassTime = time;
    MainKeplerFile = source;
    UpdatesKeplerFile.clear();
    Valid = false;
    Elements = std::make_unique<TSatellite>();
    Elements->ParseElements(line1, line2);
    EpochOffset = Elements->EpochDateTime() - time;
    Valid = true;
}

TScanAngles TOrbit::GridScanAngles() const {
    TScanAngles angles;
    const TScanLayout& layout = ScanLayout();
    for (int m = 0; m < kGridColumns; ++m) {
        const double angle =
            (Calibration ? Calibration->AngleOfColumn(layout.ColumnOf(m))
                         : layout.CentreOffsetOf(m) / layout.HalfWidth * ScanHalfAngle) *
            kDegreesToRadians;
        angles.Cos[static_cast<size_t>(m)] = std::cos(angle);
        angles.Sin[static_cast<size_t>(m)] = std::sin(angle);
    }
    return angles;
}

bool TOrbit::LocateScanLine(TDateTime time, TScanLine& out) const {
    return LocateScanLine(time, GridScanAngles(), out);
}

bool TOrbit::LocateScanLine(TDateTime time, const TScanAngles& angles, TScanLine& out) const {
    if (!Valid || !Elements) {
        return false;
    }
    const double jd = DateTimeToJD(time + (Calibration ? Calibration->TimeOffset / kSecondsPerDay : 0.0));
    const TScanFrame frame = MakeScanFrame(*Elements, jd, YawSteering, FrameYaw(), FramePitch());
    const TGeodetic sub = GeodeticPosition(jd, frame.Position);

    // A stage at a time over all the columns, two side by side: each column's steps wait
    // on one another, but the columns do not, so the processor overlaps them.
    constexpr size_t kColumns = kGridColumns;
    constexpr size_t kPairs = (kColumns + 1) / 2;
    std::array<TDoublePair, kPairs> x, y, z;
    for (size_t m = 0; m < kColumns; m += 2) {
        const size_t n = std::min(m + 1, kColumns - 1); // the last column twice
        GroundIntersections(frame, TDoublePair{angles.Cos[m], angles.Cos[n]},
                            TDoublePair{angles.Sin[m], angles.Sin[n]}, x[m / 2], y[m / 2],
                            z[m / 2]);
    }
    for (size_t m = 0; m < kColumns; m += 2) {
        TDoublePair latitude, longitude;
        GeodeticOfGroundPoints(frame, x[m / 2], y[m / 2], z[m / 2], latitude, longitude);
        for (size_t k = 0; k < 2 && m + k < kColumns; ++k) {
            const float lon = static_cast<float>(longitude[k] * kRadiansToDegrees);
            out.Points[m + k] = {static_cast<float>(WrapDegrees180(lon)),
                                 static_cast<float>(latitude[k] * kRadiansToDegrees)};
        }
    }
    out.AltitudeKm = sub.Height;
    out.SubSatellite = sub;
    out.Position = frame.Position;
    out.Velocity = frame.Velocity;
    return true;
}

bool TOrbit::LocateScanPoint(TDateTime time, double scanAngleDeg, double& lon, double& lat) const {
    if (!Valid || !Elements) {
        return false;
    }
    const double jd =
        DateTimeToJD(time + (Calibration ? Calibration->TimeOffset / kSecondsPerDay : 0.0));
    const TScanFrame frame = MakeScanFrame(*Elements, jd, YawSteering, FrameYaw(), FramePitch());
    const double angle = scanAngleDeg * kDegreesToRadians;
    TDoublePair latitude, longitude;
    GroundPointsAt(frame, TDoublePair{std::cos(angle), std::cos(angle)},
                   TDoublePair{std::sin(angle), std::sin(angle)}, latitude, longitude);
    lon = WrapDegrees180(longitude[0] * kRadiansToDegrees);
    lat = latitude[0] * kRadiansToDegrees;
    return true;
}

void TOrbit::SetSatellite(const std::string& name) {
    SatelliteName = UpperCase(name);
    for (const NameRow& row : kCanonicalNames) {
        if (name.find(row.from) != std::string::npos) {
            SatelliteName = row.to;
        }
    }

    ShortName.clear();
    if (const NameRow* row =
            FindExact(SatelliteName, std::begin(kShortNames), std::end(kShortNames))) {
        ShortName = row->to;
    }
    if (const NameRow* row =
            FindExact(SatelliteName, std::begin(kCatalogueNumbers), std::end(kCatalogueNumbers))) {
        CatalogueNumber = row->to;
    }

    if (SatelliteName == "NOAA-16") {
        ScanHalfAngle = 55.25f;
    } else if (SatelliteName == "SPOT-4") {
        ScanHalfAngle = 50.5f;
    } else if (SatelliteName == "METEOR-M1") {
        ScanHalfAngle = 54.0f;
    }

    if (SatelliteName == "METEOR-M1") {
        YawOffset = -1.1;
    } else if (SatelliteName == "METEOR-M2" || SatelliteName == "METEOR-M2 2" ||
               SatelliteName == "METEOR-M2 3" || SatelliteName == "METEOR-M2 4") {
        YawOffset = 0.0;
    }

    YawSteering =
        SatelliteName == "METOP-A" || SatelliteName == "METOP-B" || SatelliteName == "METOP-C";
}

bool TOrbit::IsMeteorM2() const {
    for (const TMeteorSatellite& s : MeteorSatellites()) {
        if (CatalogueNumber == s.CatalogueNumber) {
            return true;
        }
    }
    return false;
}

double TOrbit::FrameYaw() const {
    return Calibration ? Calibration->Yaw : YawOffset;
}

double TOrbit::FramePitch() const {
    return Calibration ? Calibration->Pitch : 0.0;
}

double TOrbit::FitHalfAngle() const {
    if (!Calibration) {
        return ScanHalfAngle;
    }
    // The fit's scan table reaches its half-angle half a pixel beyond the layout's line
    // centre; the calibrated scanner sweeps ScanAngle over Pixels.
    const TScanLayout& layout = ScanLayout();
    return Calibration->ScanAngle / Calibration->Pixels * (layout.HalfWidth + 0.5);
}

const TScanLayout& TOrbit::ScanLayout() const {
    return IsMeteorM2() ? kMeteorScanLayout : kWideScanLayout;
}

} // namespace vantorel
