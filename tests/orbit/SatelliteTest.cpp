#include "CliRun.h"
#include "ReferenceTable.h"

#include "common/TextFile.h"
#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Time.h"
#include "orbit/Satellite.h"
#include "orbit/Support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

namespace vantorel {
namespace {

const std::string k88888Line1 =
    "1 88888U          80275.98708465  .00073094  13844-3  66816-4 0    87";
const std::string k88888Line2 =
    "2 88888  72.8435 115.9689 0086731  52.6988 110.5714 16.05824518  1058";
const std::string k11801Line1 =
    "1 11801U          80230.29629788  .01431103  00000-0  14311-1      13";
const std::string k11801Line2 =
    "2 11801  46.7916 230.4354 7318036  47.4722  10.4117  2.28537848    13";

constexpr double kDeg = kDegreesToRadians;

struct State {
    TVector position; ///< km
    TVector velocity; ///< km/s
};

State PropagateKm(TSatellite& s, double minutes) {
    State st;
    s.PropagateMinutes(minutes, st.position, st.velocity);
    StateToKilometres(st.position, st.velocity);
    return st;
}

double Distance(const TVector& a, double x, double y, double z) {
    return std::sqrt((a.X - x) * (a.X - x) + (a.Y - y) * (a.Y - y) + (a.Z - z) * (a.Z - z));
}

/// Line 2 of the 88888 set with other text in columns 27-33 (eccentricity) or 53-63.
std::string WithColumns(std::string line, size_t firstColumn, const std::string& text) {
    return line.replace(firstColumn - 1, text.size(), text);
}

TEST(SatelliteParse, ReadsEveryFieldInTheModelsUnits) {
    TSatellite s;
    s.ParseElements(k88888Line1, k88888Line2);
    EXPECT_EQ(s.CatalogueNumber, "88888");
    EXPECT_EQ(s.ElementSetNumber, "008");
    EXPECT_DOUBLE_EQ(s.Epoch, 80275.98708465);
    EXPECT_DOUBLE_EQ(s.EpochJD, JulianDateOfYear(1980) + 275.98708465);
    EXPECT_NEAR(s.MeanMotionDot, 0.00073094 * kTwoPi / (1440.0 * 1440.0), 1e-22);
    EXPECT_NEAR(s.MeanMotionDotDot, 0.13844e-3 * kTwoPi / (1440.0 * 1440.0 * 1440.0), 1e-24);
    EXPECT_NEAR(s.BStar, 0.66816e-4, 1e-18);
    EXPECT_NEAR(s.Inclination, 72.8435 * kDeg, 1e-15);
    EXPECT_NEAR(s.RightAscension, 115.9689 * kDeg, 1e-15);
    EXPECT_NEAR(s.Eccentricity, 0.0086731, 1e-16);
    EXPECT_NEAR(s.ArgumentOfPerigee, 52.6988 * kDeg, 1e-15);
    EXPECT_NEAR(s.MeanAnomaly, 110.5714 * kDeg, 1e-15);
    EXPECT_NEAR(s.MeanMotion, 16.05824518 * kTwoPi / 1440.0, 1e-15);
    EXPECT_EQ(s.RevolutionNumber, 105);
    EXPECT_FALSE(s.DeepSpace);
    EXPECT_TRUE(s.InitPending);
    EXPECT_DOUBLE_EQ(s.EpochDateTime(), EncodeDate(2080, 1, 1) - 1 + 275.98708465);
}

TEST(SatelliteParse, BlanksReadAsZeroAndBadFieldsAsZero) {
    TSatellite s;
    // Lower case is folded; "-.0000001" and "+11956-4" forms are read; "4x.1234" is no
    // number and reads as 0.
    s.ParseElements("1 4oo69u 14037A   17120.76300298 -.00000018 +00000-0 +11956-4 0  9996",
                    "2 4oo69 098.6594 176.4613 0005722 004.8139 355.3089 14.20641617145826");
    EXPECT_EQ(s.CatalogueNumber, "4OO69");
    EXPECT_EQ(s.Line1.substr(0, 8), "1 4OO69U");
    EXPECT_NEAR(s.MeanMotionDot, -0.00000018 * kTwoPi / (1440.0 * 1440.0), 1e-24);
    EXPECT_NEAR(s.BStar, 0.11956e-4, 1e-18);
    EXPECT_NEAR(s.Inclination, 98.6594 * kDeg, 1e-15);
    EXPECT_EQ(s.RevolutionNumber, 14582);

    s.ParseElements(k88888Line1, WithColumns(k88888Line2, 9, "4x.1234"));
    EXPECT_EQ(s.Inclination, 0.0);
    // A blank inside a field is a zero digit: " 1 .5" reads 10.5 degrees.
    s.ParseElements(k88888Line1, WithColumns(k88888Line2, 9, "  1 .5  "));
    EXPECT_NEAR(s.Inclination, 10.5 * kDeg, 1e-15);
}

TEST(SatelliteParse, AllZeroEccentricityBecomesOneTenBillionth) {
    TSatellite s;
    s.ParseElements(k88888Line1, WithColumns(k88888Line2, 27, "0000000"));
    EXPECT_EQ(s.Eccentricity, 1e-10);
    s.ParseElements(k88888Line1, WithColumns(k88888Line2, 27, "       "));
    EXPECT_EQ(s.Eccentricity, 1e-10);
    // The near-circular set propagates to a sound state.
    const State st = PropagateKm(s, 720.0);
    EXPECT_NEAR(st.position.Length, 6640.0, 200.0);
}

TEST(SatelliteParse, ModelSelectionUsesTheUnKozaiedMeanMotion) {
    // 6.4001 rev/day is 224.996 minutes on the line; at low inclination the recovered
    // mean motion is slower and the period passes 225 minutes.
    TSatellite s;
    const std::string low = WithColumns(WithColumns(k88888Line2, 9, "  5.0000"), 53, " 6.40010000");
    s.ParseElements(k88888Line1, low);
    EXPECT_TRUE(s.DeepSpace);
    // At the critical inclination (3 cos^2 i = 1) there is no correction: near-earth.
    const std::string critical =
        WithColumns(WithColumns(k88888Line2, 9, " 54.7356"), 53, " 6.40010000");
    s.ParseElements(k88888Line1, critical);
    EXPECT_FALSE(s.DeepSpace);
    s.ParseElements(k88888Line1, WithColumns(low, 53, " 6.41000000"));
    EXPECT_FALSE(s.DeepSpace);
    s.ParseElements(k11801Line1, k11801Line2);
    EXPECT_TRUE(s.DeepSpace);
}

TEST(SatelliteParse, ImpossibleElementsRaiseMathErrors) {
    TSatellite s;
    try {
        s.ParseElements(k88888Line1, WithColumns(k88888Line2, 27, "1.0E+07"));
        FAIL() << "an eccentricity of 1 was accepted";
    } catch (const EMathError& e) {
        EXPECT_STREQ(e.what(), "Invalid argument in Function Power!");
    }
    TVector p, v;
    EXPECT_THROW(s.PropagateMinutes(0.0, p, v), EMathError);

    EXPECT_THROW(s.ParseElements(k88888Line1, WithColumns(k88888Line2, 53, "00000000000")),
                 EMathError);
    EXPECT_THROW(s.ParseElements(k88888Line1, "2 88888"), EMathError);
    EXPECT_THROW(s.PropagateMinutes(0.0, p, v), EMathError);

    TSatellite never;
    EXPECT_THROW(never.PropagateMinutes(0.0, p, v), EMathError);
    EXPECT_DOUBLE_EQ(never.EpochDateTime(), 0.0);

    s.ParseElements(k88888Line1, k88888Line2);
    EXPECT_THROW(s.PropagateMinutes(std::nan(""), p, v), EMathError);
}

TEST(SatellitePropagate, ReportTestCasesAtTheirPublishedValues) {
    // Spacetrack Report No. 3, SGP4 and SDP4 test output (single precision, km and km/s).
    struct Case {
        const std::string* line1;
        const std::string* line2;
        double t, x, y, z, vx, vy, vz;
    };
    const Case cases[] = {
        {&k88888Line1, &k88888Line2, 0, 2328.97048951, -5995.22076416, 1719.97067261, 2.91207230,
         -0.98341546, -7.09081703},
        {&k88888Line1, &k88888Line2, 360, 2456.10705566, -6071.93853760, 1222.89727783, 2.67938992,
         -0.44829041, -7.22879231},
        {&k11801Line1, &k11801Line2, 0, 7473.37066650, 428.95261765, 5828.74786377, 5.10715413,
         6.44468284, -0.18613096},
        {&k11801Line1, &k11801Line2, 360, -3305.22537232, 32410.86328125, -24697.17675781,
         -1.30113538, -1.15131518, -0.28333528},
    };
    for (const Case& c : cases) {
        TSatellite s;
        s.ParseElements(*c.line1, *c.line2);
        const State st = PropagateKm(s, c.t);
        EXPECT_LT(Distance(st.position, c.x, c.y, c.z), 0.005) << s.CatalogueNumber << " " << c.t;
        EXPECT_LT(Distance(st.velocity, c.vx, c.vy, c.vz), 5e-6) << s.CatalogueNumber << " " << c.t;
    }
}

/// Tolerances against python3-sgp4 per set, position in m and velocity in m/s, with the
/// reason for the larger ones.
struct Tolerance {
    double positionM;
    double velocityMS;
};

Tolerance ToleranceFor(const std::string& name) {
    // Near-earth sets with low drag: the two implementations differ by rounding only.
    Tolerance t{1.0, 0.001};
    static const std::map<std::string, Tolerance> special = {
        // The revision differs from the report by a few metres for this set.
        {"REPORT SGP4 88888", {10.0, 0.01}},
        // Deep-space details changed in the revision: some tens of metres.
        {"REPORT SDP4 11801", {100.0, 0.05}},
        {"MOLNIYA 2-14", {50.0, 0.02}},
        // The revision floors the eccentricity at 1e-6 during propagation; the report
        // keeps 1e-10: 2 a e is about 14 m along the track.
        {"METEOR-M 2 CIRCULAR", {20.0, 0.02}},
        // 24-hour orbits below 0.2 rad of inclination: the revision applies the lunar-solar
        // periodics with the perturbed inclination (and flips a negative one); the report
        // with the epoch inclination. Without those periodics both agree to a metre.
        {"GEO 28626", {10000.0, 1.0}},
        {"GEO 14128", {5000.0, 0.5}},
    };
    const auto it = special.find(name);
    return it == special.end() ? t : it->second;
}

TEST(SatellitePropagate, AgreesWithPythonSgp4OverMinusOneToPlusThreeDays) {
    const auto sets = testing::ReadReferenceSets();
    std::map<std::string, double> worst;
    for (const auto& row : testing::ReadTable("sgp4_reference.csv", true)) {
        const auto& lines = sets.at(row.key);
        const auto& v = row.values;
        // A fresh set per time: the report's integrator and periodics keep state between
        // calls, the reference restarts at the epoch.
        TSatellite s;
        s.ParseElements(lines.first, lines.second);
        const State st = PropagateKm(s, v[0]);
        const Tolerance tol = ToleranceFor(row.key);
        const double dp = Distance(st.position, v[1], v[2], v[3]) * 1000.0;
        const double dv = Distance(st.velocity, v[4], v[5], v[6]) * 1000.0;
        EXPECT_LT(dp, tol.positionM) << row.key << " at " << v[0] << " min";
        EXPECT_LT(dv, tol.velocityMS) << row.key << " at " << v[0] << " min";
        worst[row.key] = std::max(worst[row.key], dp);
    }
    EXPECT_EQ(worst.size(), sets.size());
    for (const auto& [name, metres] : worst) {
        RecordProperty("worst_m " + name, std::to_string(metres));
    }
}

TEST(SatellitePropagate, StatesTheModelCannotServeAreMathErrorsNotWrongStates) {
    // python3-sgp4 on the published verification's failing sets and two made to fail.
    // The report's undamped Kepler iteration fails on 23333 where the revision's damped
    // one does not; 33333's perigee lies inside the earth (the revision fails from 25
    // minutes on).
    const std::map<std::string, std::string> failures = {
        {"VER 23333", "Kepler's equation did not converge"},
        {"VER 33333", "Perigee below the earth's surface: the elements describe no orbit"},
        {"VER 33334", "Eccentricity out of range after propagation"},
        {"ECCENTRICITY 0.9999999",
         "Perigee below the earth's surface: the elements describe no orbit"},
        {"DECAYING", "Satellite below the earth's surface: the orbit has decayed"},
    };
    const auto sets = testing::ReadReferenceSets("verification_sets.tle");
    int unsolved = 0;
    for (const auto& row : testing::ReadTable("verification_reference.csv", true)) {
        const auto& v = row.values; // minutes, error code, x, y, z
        SCOPED_TRACE(row.key + " at " + std::to_string(v[0]) + " min");
        TSatellite s;
        s.ParseElements(sets.at(row.key).first, sets.at(row.key).second);
        std::string failure;
        State st;
        try {
            st = PropagateKm(s, v[0]);
        } catch (const EMathError& e) {
            failure = e.what();
        }
        if (failure.empty()) {
            EXPECT_EQ(v[1], 0.0);
            // The report and the revision differ in deep-space details: 23333 reaches
            // 200,000 km, where they part by up to about 210 km.
            EXPECT_LT(Distance(st.position, v[2], v[3], v[4]), 250.0);
            continue;
        }
        EXPECT_EQ(failure, failures.at(row.key));
        EXPECT_TRUE(v[1] != 0.0 || row.key == "VER 23333" || row.key == "VER 33333");
        unsolved += row.key == "VER 23333";
    }
    // Among them 240 minutes, which was 330,000 km off before.
    EXPECT_EQ(unsolved, 9);

    const auto& wind = sets.at("VER 23333");
    const testing::CliRun cli =
        testing::Cli({"propagate", wind.first, wind.second, "0", "240", "600"});
    EXPECT_EQ(cli.code, cli::kExitFailure);
    EXPECT_EQ(cli.err,
              "vantorel-cli propagate: no state at 240.0000 minutes: Kepler's equation did not "
              "converge\n");
    EXPECT_EQ(SplitLines(cli.out).size(), 3u) << cli.out; // heads and the row at 0
}

TEST(SatellitePropagate, JulianDateAndMinutesGiveTheSameState) {
    TSatellite s;
    s.ParseElements(k88888Line1, k88888Line2);
    TVector p1, v1, p2, v2;
    s.Propagate(s.EpochJD + 0.25, p1, v1);
    s.PropagateMinutes(360.0, p2, v2);
    // The Julian date carries about 40 microseconds of rounding.
    EXPECT_LT(Distance(p1, p2.X, p2.Y, p2.Z) * kEarthRadiusKm, 1e-3);
    EXPECT_FALSE(s.InitPending);
}

TEST(SatellitePropagate, ResonanceIntegratorContinuesForwardExactly) {
    const auto sets = testing::ReadReferenceSets();
    for (const char* name : {"MOLNIYA 2-14", "GEO 28626"}) {
        const auto& lines = sets.at(name);
        TSatellite running;
        running.ParseElements(lines.first, lines.second);
        for (double t = 0.0; t <= 4320.0; t += 333.0) {
            TSatellite fresh;
            fresh.ParseElements(lines.first, lines.second);
            const State a = PropagateKm(running, t);
            const State b = PropagateKm(fresh, t);
            EXPECT_EQ(a.position.X, b.position.X) << name << " " << t;
            EXPECT_EQ(a.position.Z, b.position.Z) << name << " " << t;
        }
        // Going back towards the epoch steps the integrator back; the result stays close
        // to a fresh start (within the integrator's own error).
        TSatellite back;
        back.ParseElements(lines.first, lines.second);
        PropagateKm(back, 4320.0);
        const State a = PropagateKm(back, 1000.0);
        TSatellite fresh;
        fresh.ParseElements(lines.first, lines.second);
        const State b = PropagateKm(fresh, 1000.0);
        EXPECT_LT(Distance(a.position, b.position.X, b.position.Y, b.position.Z), 1.0) << name;
    }
}

TEST(SatellitePropagate, DeepSpaceTimeOutOfReachIsAMathError) {
    const auto sets = testing::ReadReferenceSets();
    const auto& lines = sets.at("GEO 28626");
    TSatellite s;
    s.ParseElements(lines.first, lines.second);
    TVector p, v;
    EXPECT_THROW(s.PropagateMinutes(1e12, p, v), EMathError);
    EXPECT_NO_THROW(s.PropagateMinutes(100.0, p, v));
}

} // namespace
} // namespace vantorel
