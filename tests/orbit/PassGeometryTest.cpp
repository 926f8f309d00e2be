#include "orbit/Orbits.h"
#include "orbit/ScannerCalibration.h"

#include "common/Angles.h"
#include "common/Notifier.h"
#include "common/Program.h"
#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Time.h"

#include "ReferenceTable.h"
#include "TempDir.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace vantorel {
namespace {

using testing::TempDir;

constexpr double kLinePeriodDays = 0.1538925 / kSecondsPerDay;

/// A Meteor-M 2 orbit with one set of the committed reference sets in place.
void UseSet(TOrbit& orbit, const std::string& setName) {
    const auto sets = testing::ReadReferenceSets();
    const auto& lines = sets.at(setName);
    orbit.Elements = std::make_unique<TSatellite>();
    orbit.Elements->ParseElements(lines.first, lines.second);
    orbit.Valid = true;
}

/// Earth-fixed position (km) of a point on the WGS-72 ellipsoid.
TVector EarthFixed(double latDeg, double lonDeg) {
    const double lat = latDeg * kDegreesToRadians;
    const double lon = lonDeg * kDegreesToRadians;
    const double n =
        kEarthRadiusKm / std::sqrt(1.0 - kEccentricitySquared * std::sin(lat) * std::sin(lat));
    TVector v{n * std::cos(lat) * std::cos(lon), n * std::cos(lat) * std::sin(lon),
              n * (1.0 - kEccentricitySquared) * std::sin(lat), 0.0};
    VectorLength(v);
    return v;
}

/// The same point in the model's inertial frame at a Julian date.
TVector Inertial(const TGroundPoint& g, double jd) {
    const TVector f = EarthFixed(g.Lat, g.Lon);
    const double theta = SiderealAngle(jd);
    TVector v{f.X * std::cos(theta) - f.Y * std::sin(theta),
              f.X * std::sin(theta) + f.Y * std::cos(theta), f.Z, 0.0};
    VectorLength(v);
    return v;
}

double Dot(const TVector& a, const TVector& b) {
    return a.X * b.X + a.Y * b.Y + a.Z * b.Z;
}

/// The direction of flight square to the vertical (the velocity has a small radial part).
TVector Forward(const TScanLine& line) {
    TVector up = line.Position;
    up = UnitVector(up);
    const TVector normal = UnitVector(CrossProduct(line.Position, line.Velocity));
    return CrossProduct(normal, up);
}

TVector Minus(const TVector& a, const TVector& b) {
    TVector v{a.X - b.X, a.Y - b.Y, a.Z - b.Z, 0.0};
    VectorLength(v);
    return v;
}

/// Ground distance between two points, km (chord on the ellipsoid, fine below 100 km).
double ChordKm(const TGroundPoint& a, const TGroundPoint& b) {
    return Minus(EarthFixed(a.Lat, a.Lon), EarthFixed(b.Lat, b.Lon)).Length;
}

// A section written for a satellite reads back as it was, uncertainties and all, and
// replaces only that satellite's section (with the comments that lead into it).
TEST(PassGeometry, ACalibrationSectionReadsBackAndReplacesOnlyItsOwn) {
    TScannerCalibration c;
    c.ScanAngle = 110.315;
    c.ScanAngleError = 0.055;
    c.Yaw = 0.267;
    c.Measured = false;
    const std::string section = "[57166]  # new\n" + FormatScannerValues(c);
    const std::string file = "# head\n\n# old N2-3\n[57166]\nyaw = 2.9\n\n# N2\n[40069]\nroll = 2.31\n";
    const std::string replaced = ReplaceScannerSection(file, "57166", section);
    EXPECT_EQ(replaced, "# head\n\n" + section + "\n# N2\n[40069]\nroll = 2.31\n");
    const TScannerCalibrations read = ParseScannerCalibrations(replaced);
    EXPECT_TRUE(read.Problems.empty());
    const TScannerCalibration& back = read.BySatellite.at("57166");
    EXPECT_DOUBLE_EQ(back.ScanAngle, 110.315);
    EXPECT_DOUBLE_EQ(back.ScanAngleError, 0.055);
    EXPECT_DOUBLE_EQ(back.Yaw, 0.267);
    EXPECT_DOUBLE_EQ(back.YawError, 0.0);
    EXPECT_FALSE(back.Measured);
    EXPECT_DOUBLE_EQ(read.BySatellite.at("40069").Roll, 2.31);
    // A satellite without a section gets one at the end; bad uncertainties are refused.
    EXPECT_EQ(ReplaceScannerSection("[40069]\nroll = 1\n", "57166", section),
              "[40069]\nroll = 1\n\n" + section);
    EXPECT_EQ(ParseScannerCalibrations("[57166]\nroll = 1 +- -2\nmeasured = maybe\n").Problems.size(), 2u);
}

// A calibration moves the ground points as its angles say: a roll the nadir sideways by
// the height times the angle, a pitch along the track; a yaw moves the swath's edge, not its
// middle; a clock offset moves everything along the track by the ground speed.
TEST(PassGeometry, ScannerCalibrationMovesTheGroundPointsAsItsAnglesSay) {
    const TScannerCalibrations read =
        ParseScannerCalibrations("# Meteor\n[59051]\nscan-angle = 110.1\nroll=-0.39  # "
                                 "measured\nyaw = 40\n[1234]\nfoo = 1\n");
    ASSERT_EQ(read.BySatellite.count("59051"), 1u);
    EXPECT_DOUBLE_EQ(read.BySatellite.at("59051").ScanAngle, 110.1);
    EXPECT_DOUBLE_EQ(read.BySatellite.at("59051").Roll, -0.39);
    EXPECT_DOUBLE_EQ(read.BySatellite.at("59051").Yaw, 0.0); // 40 is refused
    EXPECT_EQ(read.Problems.size(), 3u);

    TOrbit orbit;
    orbit.SetSatellite("METEOR-M2");
    UseSet(orbit, "METEOR-M 2");
    const TDateTime t = EncodeDateTime(2024, 8, 31, 9, 12, 0);
    auto moved = [&](const TScannerCalibration& c, int sample, const TScanLine& from) {
        orbit.Calibration = c;
        TScanLine line;
        orbit.LocateScanLine(t, line);
        const auto k = static_cast<size_t>(sample);
        return Minus(EarthFixed(line.Points[k].Lat, line.Points[k].Lon),
                     EarthFixed(from.Points[k].Lat, from.Points[k].Lon));
    };
    TScanLine base;
    orbit.Calibration = TScannerCalibration{};
    ASSERT_TRUE(orbit.LocateScanLine(t, base));
    // Earth-fixed directions of the flight and of its left at the nadir.
    const TVector up = UnitVector(EarthFixed(base.Points[25].Lat, base.Points[25].Lon));
    TScanLine later;
    orbit.Calibration = TScannerCalibration{};
    orbit.LocateScanLine(t + 1.0 / kSecondsPerDay, later);
    const TVector along = UnitVector(Minus(EarthFixed(later.Points[25].Lat, later.Points[25].Lon),
                                           EarthFixed(base.Points[25].Lat, base.Points[25].Lon)));
    const TVector left = UnitVector(CrossProduct(up, along));
    const double altitude = base.AltitudeKm;
    const double degree = kDegreesToRadians;

    TScannerCalibration roll;
    roll.Roll = 1.0;
    const TVector r = moved(roll, 25, base);
    EXPECT_NEAR(r.Length, altitude * degree, 0.15 * altitude * degree);
    EXPECT_GT(Dot(r, left), 0.95 * r.Length);

    TScannerCalibration pitch;
    pitch.Pitch = 1.0;
    const TVector p = moved(pitch, 25, base);
    EXPECT_NEAR(p.Length, altitude * degree, 0.15 * altitude * degree);
    EXPECT_GT(Dot(p, along), 0.95 * p.Length);

    TScannerCalibration yaw;
    yaw.Yaw = 1.0;
    EXPECT_LT(moved(yaw, 25, base).Length, 0.5);
    const TVector edge = moved(yaw, 50, base); // the left edge turns towards the flight
    EXPECT_GT(Dot(edge, along), 15.0);

    TScannerCalibration clock;
    clock.TimeOffset = 1.0;
    const TVector c = moved(clock, 25, base);
    EXPECT_NEAR(c.Length, 6.6, 0.4); // the ground speed under an 830 km orbit, km/s
    EXPECT_GT(Dot(c, along), 0.99 * c.Length);
}

TEST(PassGeometry, NothingBeforeAnElementSetIsChosen) {
    TOrbit orbit;
    orbit.SetSatellite("METEOR-M2");
    TScanLine line;
    line.AltitudeKm = -7.0;
    line.Points[3] = {1.0f, 2.0f};
    EXPECT_FALSE(orbit.LocateScanLine(EncodeDate(2024, 8, 31), line));
    EXPECT_EQ(line.AltitudeKm, -7.0);
    EXPECT_EQ(line.Points[3].Lon, 1.0f);
    EXPECT_EQ(line.Points[4].Lat, 0.0f);
}

TEST(PassGeometry, AgreesWithAnIndependentScannerModelWithinTenMetres) {
    double worstM = 0.0;
    int rows = 0;
    for (const auto& row : testing::ReadTable("scan_reference.csv", true)) {
        const auto& v = row.values;
        TOrbit orbit;
        orbit.SetSatellite(v[7] != 0.0 ? "METEOR-M2" : "NOAA 19");
        orbit.YawSteering = v[8] != 0.0;
        orbit.YawOffset = v[9];
        UseSet(orbit, row.key);
        const TDateTime t =
            EncodeDateTime(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                           static_cast<int>(v[3]), static_cast<int>(v[4]), static_cast<int>(v[5]),
                           static_cast<int>(v[6]) * 10);
        TScanLine line;
        ASSERT_TRUE(orbit.LocateScanLine(t, line));
        const int m = static_cast<int>(v[10]);
        const TGroundPoint ref{static_cast<float>(v[11]), static_cast<float>(v[12])};
        // Single precision holds a degree to about 1e-5, a metre or so on the ground.
        const double dM = ChordKm(line.Points[static_cast<size_t>(m)], ref) * 1000.0;
        EXPECT_LT(dM, 10.0) << row.key << " sample " << m << " steer " << v[8] << " yaw " << v[9];
        EXPECT_NEAR(line.AltitudeKm, v[13], 0.010) << row.key;
        worstM = std::max(worstM, dM);
        ++rows;
    }
    EXPECT_EQ(rows, 510);
    std::cout << "[ scan ] worst distance from the independent model: " << worstM << " m\n";
}

/// Angle (degrees) of each sample's look direction from straight down, signed positive
/// to the left of the flight (towards the orbit normal).
double ScanAngleDeg(const TScanLine& line, double jd, int m) {
    const TVector look = Minus(Inertial(line.Points[static_cast<size_t>(m)], jd), line.Position);
    const TVector down = ScaleVector(-1.0 / line.Position.Length, line.Position);
    TVector normal = CrossProduct(line.Position, line.Velocity);
    normal = UnitVector(normal);
    const double across = Dot(look, normal);
    const double along = Dot(look, down);
    return std::atan2(across, along) * kRadiansToDegrees;
}

TEST(PassGeometry, SamplesSitAtTheirScanAnglesOnTheirSides) {
    const TDateTime t = EncodeDateTime(2024, 8, 31, 9, 12, 0, 0);
    const double jd = DateTimeToJD(t);
    struct Layout {
        const char* name;
        double centre, first, last; // fractions of the half angle for samples 25, 0, 50
    };
    for (const Layout& layout :
         {Layout{"METEOR-M2", 0.5 / 769.5, -749.5 / 769.5, 750.5 / 769.5},
          Layout{"NOAA 19", 0.5 / 1023.5, -999.5 / 1023.5, 1000.5 / 1023.5}}) {
        TOrbit orbit;
        orbit.SetSatellite(layout.name);
        UseSet(orbit, "METEOR-M 2");
        TScanLine line;
        ASSERT_TRUE(orbit.LocateScanLine(t, line));
        const double half = orbit.ScanHalfAngle;
        // Ground points are single precision (about a metre): 1e-4 degree is ample.
        EXPECT_NEAR(ScanAngleDeg(line, jd, 25), layout.centre * half, 1e-4) << layout.name;
        EXPECT_NEAR(ScanAngleDeg(line, jd, 0), layout.first * half, 1e-4) << layout.name;
        EXPECT_NEAR(ScanAngleDeg(line, jd, 50), layout.last * half, 1e-4) << layout.name;
        // Without yaw the look directions stay in the plane of the vertical and the orbit
        // normal: nothing along the flight beyond the precision of the points.
        const TVector flight = Forward(line);
        for (int m : {0, 10, 25, 40, 50}) {
            const TVector look =
                Minus(Inertial(line.Points[static_cast<size_t>(m)], jd), line.Position);
            EXPECT_LT(std::fabs(Dot(look, flight)) / look.Length, 1e-6) << layout.name << m;
        }
    }
}

TEST(PassGeometry, YawTurnsTheScanTowardsTheFlight) {
    const TDateTime t = EncodeDateTime(2024, 8, 31, 9, 12, 0, 0);
    const double jd = DateTimeToJD(t);
    TOrbit orbit;
    orbit.SetSatellite("METEOR-M2");
    orbit.YawOffset = 2.0;
    UseSet(orbit, "METEOR-M 2");
    TScanLine line;
    ASSERT_TRUE(orbit.LocateScanLine(t, line));
    const TVector flight = Forward(line);
    auto alongDeg = [&](int m) {
        const TVector look =
            Minus(Inertial(line.Points[static_cast<size_t>(m)], jd), line.Position);
        return std::asin(Dot(look, flight) / look.Length) * kRadiansToDegrees;
    };
    // The left edge leans forward, the right edge back, by about sin(scan) x yaw.
    const double left = 750.5 / 769.5 * 55.37 * kDegreesToRadians;
    EXPECT_NEAR(alongDeg(50), std::sin(left) * 2.0, 0.01);
    EXPECT_LT(alongDeg(0), -1.5);
    EXPECT_NEAR(alongDeg(25), 0.0, 0.01);
}

TEST(PassGeometry, LinesFollowTheTrackAtTheExpectedSpacingAndWidth) {
    TOrbit orbit;
    orbit.SetSatellite("METEOR-M2");
    UseSet(orbit, "METEOR-M 2");
    // 05:15 UTC: a southbound line over the Pacific that crosses 180 degrees.
    const TDateTime start = EncodeDateTime(2024, 8, 31, 5, 15, 0, 0);
    TScanLine previous, line;
    ASSERT_TRUE(orbit.LocateScanLine(start, previous));
    double minSpacing = 1e9, maxSpacing = 0.0, minWidth = 1e9, maxWidth = 0.0;
    bool crossedDateLine = false;
    for (int i = 1; i <= 5000; ++i) {
        ASSERT_TRUE(orbit.LocateScanLine(start + i * kLinePeriodDays, line));
        const double spacing = ChordKm(previous.Points[25], line.Points[25]);
        minSpacing = std::min(minSpacing, spacing);
        maxSpacing = std::max(maxSpacing, spacing);
        // Width along the ground: the sum of the chords between neighbouring samples.
        double width = 0.0;
        for (size_t m = 1; m < line.Points.size(); ++m) {
            width += ChordKm(line.Points[m - 1], line.Points[m]);
        }
        minWidth = std::min(minWidth, width);
        maxWidth = std::max(maxWidth, width);
        for (const TGroundPoint& p : line.Points) {
            ASSERT_GT(p.Lon, -180.0f);
            ASSERT_LE(p.Lon, 180.0f);
            ASSERT_LE(std::fabs(p.Lat), 90.0f);
            crossedDateLine |= p.Lon > 179.0f || p.Lon < -179.0f;
        }
        // Sample 50 lies left of the flight, sample 0 right of it.
        const TVector normal = UnitVector(CrossProduct(line.Position, line.Velocity));
        const double jd = DateTimeToJD(start + i * kLinePeriodDays);
        ASSERT_GT(Dot(Minus(Inertial(line.Points[50], jd), line.Position), normal), 1000.0);
        ASSERT_LT(Dot(Minus(Inertial(line.Points[0], jd), line.Position), normal), -1000.0);
        EXPECT_NEAR(line.AltitudeKm, line.SubSatellite.Height, 0.0);
        previous = line;
    }
    std::cout << "[ scan ] line spacing " << minSpacing << " .. " << maxSpacing << " km, swath "
              << minWidth << " .. " << maxWidth << " km\n";
    // About 1.0 to 1.1 km between lines; the samples span 97.5 % of the scan either side,
    // about 2700 km of the 2800 km swath.
    EXPECT_GT(minSpacing, 0.95);
    EXPECT_LT(maxSpacing, 1.1);
    EXPECT_GT(minWidth, 2600.0);
    EXPECT_LT(maxWidth, 2800.0);
    EXPECT_TRUE(crossedDateLine);
}

TEST(PassGeometry, SelectForTimeTakesTheNearestSetAndForgetsTheOldOne) {
    TempDir dir;
    ScopedExecutablePath program(dir / "bin/vantorel");
    const std::string text = testing::ReadTestData("keps/METEOR-M2-history.txt");
    dir.Write("bin/Keps/METEOR-M2.txt", text);
    RecordingNotifier notifier;
    TOrbit orbit;
    orbit.SetSatellite("METEOR-M2");
    orbit.SetKeplerPath(dir / "none");
    EXPECT_EQ(orbit.KeplerPath(), dir / "none");
    EXPECT_EQ(orbit.SatelliteCount(), 0);

    // 2026-08-22 06:00 UTC: the interpolation lands on 26234.24145536, 0.009 day away, so
    // the search starts four sets earlier and walks forward; it stops at 26233.95989853,
    // the first set within half a day, though the next one is nearer.
    const TDateTime t = EncodeDateTime(2026, 8, 22, 6, 0, 0, 0);
    orbit.SelectForTime(t, notifier);
    ASSERT_TRUE(orbit.Valid);
    EXPECT_EQ(orbit.PassTime, t);
    EXPECT_NEAR(orbit.EpochOffset, EncodeDate(2026, 1, 1) + 232.95989853 - t, 1e-9);
    EXPECT_EQ(orbit.MainKeplerFile, dir / "bin/Keps/METEOR-M2.txt");
    EXPECT_EQ(orbit.UpdatesKeplerFile, "");
    EXPECT_EQ(orbit.Elements->RevolutionNumber, 62866);
    TScanLine line;
    EXPECT_TRUE(orbit.LocateScanLine(t, line));

    orbit.SetSatellite("NOAA 19");
    orbit.SelectForTime(t, notifier);
    EXPECT_FALSE(orbit.Valid);
    EXPECT_EQ(orbit.MainKeplerFile, "");
    EXPECT_FALSE(orbit.LocateScanLine(t, line));
    ASSERT_EQ(notifier.entries.size(), 1u);
}

} // namespace
} // namespace vantorel
