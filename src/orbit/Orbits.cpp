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

/// Geodetic latitude and longitude in [0, 2 pi) (radians) of the ground point seen at a
/// scan angle given by its cosine and sine (positive left of the flight).
void GroundPointAt(const TScanFrame& f, double cosA, double sinA, double& latitude,
                   double& longitude) {
    const TVector& p = f.Position;
    // UnitVector(AddVectors(ScaleVector(cosA, Down), ScaleVector(sinA, Across))) written
    // out, in the same order of operations, without the lengths nothing here reads.
    const double sumX = cosA * f.Down.X + sinA * f.Across.X;
    const double sumY = cosA * f.Down.Y + sinA * f.Across.Y;
    const double sumZ = cosA * f.Down.Z + sinA * f.Across.Z;
    const double length = std::sqrt(sumX * sumX + sumY * sumY + sumZ * sumZ);
    const TVector look{sumX / length, sumY / length, sumZ / length, 0.0};
    // -P.L is r cos A only while "across" is square to the vertical; a yawed scan plane
    // tilts it by the radial part of the velocity, so the product is taken as it is.
    const double b = -(p.X * look.X + p.Y * look.Y + p.Z * look.Z) - kEllipsoidK * p.Z * look.Z;
    const double q = 1.0 + kEllipsoidK * look.Z * look.Z;
    const double discriminant = b * b + q * f.C;
    const double d = (b - std::sqrt(std::max(discriminant, 0.0))) / q;
    const double x = p.X + d * look.X;
    const double y = p.Y + d * look.Y;
    const double z = p.Z + d * look.Z;
    // On the ellipsoid the geodetic latitude has a closed form: tan(lat) = (1 + k) z / rho.
    // rho is 0 only at a pole, where the quotient's infinity gives +-90 degrees.
    latitude = ArcTangent((1.0 + kEllipsoidK) * z / std::sqrt(x * x + y * y));
    // FastMath's arc tangents: the library's took half the time of a scan line.
    longitude = PositiveModulo(QuadrantAngle(y, x, [](double t) { return ArcTangent(t); }) -
                                   f.Sidereal,
                               kTwoPi);
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

    for (size_t m = 0; m < static_cast<size_t>(kGridColumns); ++m) {
        double latitude = 0.0, longitude = 0.0;
        GroundPointAt(frame, angles.Cos[m], angles.Sin[m], latitude, longitude);
        const float lon = static_cast<float>(longitude * kRadiansToDegrees);
        out.Points[m] = {static_cast<float>(WrapDegrees180(lon)),
                         static_cast<float>(latitude * kRadiansToDegrees)};
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
    double latitude = 0.0, longitude = 0.0;
    GroundPointAt(frame, std::cos(angle), std::sin(angle), latitude, longitude);
    lon = WrapDegrees180(longitude * kRadiansToDegrees);
    lat = latitude * kRadiansToDegrees;
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
