#include "calibration/Calibrate.h"

#include "SamplePass.h"
#include "cartography/zorCartography.h"
#include "common/DateTime.h"
#include "common/TextFile.h"
#include "orbit/Orbits.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace vantorel {
namespace {

using testing::kSampleDay;
using testing::kSampleKeps;
using testing::kSource;

const char* const kLine1 = "1 40069U 14037A   20271.10206173 -.00000043  00000-0 -42512-6 0  9995";
const char* const kLine2 = "2 40069  98.4943 304.7538 0005678 359.8115   0.3056 14.20675232322649";

// Matches made from known parameters by the model's own slopes, with the noise, outliers and
// one-sided matches of a real pass: the solve must give back what made them, and hold what
// they cannot tell.
TEST(ScannerFit, RecoversKnownAnglesFromNoisyMatchesAndHoldsWhatTheyCannotTell) {
    TOrbit orbit;
    orbit.SetSatellite("METEOR-M2");
    const TDateTime south = EncodeDateTime(2020, 9, 27, 8, 1, 0);
    const TDateTime north = south + 50.0 / 1440.0; // half an orbit on: going north
    const TScannerCalibration at;
    const TParameterVector truth{0.3, -0.4, 0.0, 0.25, -0.35}; // steps from `at`
    const std::vector<double> passShift{0.1, -0.15};
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.3);
    std::vector<TFitObservation> all;
    for (int pass = 0; pass < 2; ++pass) {
        TLineTimes times;
        times.Start = pass == 0 ? south : north;
        orbit.UseElements(kLine1, kLine2, "test", times.Start);
        for (int row = 0; row < 10; ++row) {
            for (int column = 0; column < 8; ++column) {
                TFitObservation o;
                o.Pass = pass;
                o.Design = ScannerDesign(orbit, times, 2500, at, 98.0 + 196.0 * column,
                                         128.0 + 250.0 * row);
                for (std::size_t c = 0; c < 2; ++c) {
                    double shift = o.Design[c][kScannerParameters] * passShift[static_cast<std::size_t>(pass)];
                    for (std::size_t j = 0; j < kScannerParameters; ++j) {
                        shift += o.Design[c][j] * truth[j];
                    }
                    o.Shift[c] = shift + noise(random) + (all.size() % 11 == 3 ? 9.0 : 0.0);
                    o.Known[c] = !(c == 1 && all.size() % 7 == 2); // some tell the pixel only
                }
                all.push_back(o);
            }
        }
    }
    TFitState start;
    start.PassShifts = {0.0, 0.0};
    for (int j = 0; j < kScannerParameters; ++j) {
        start.Parameters[static_cast<std::size_t>(j)] = at.*kFittedFields[j];
    }
    TFitPriors priors;
    priors.Value = start.Parameters;
    priors.Sigma = {2.0, 2.0, 1.0, 5.0, 10.0};
    priors.PassShiftSigma = {0.2, 0.2};
    const TFitSolution s = SolveScannerFit(all, start, priors);
    EXPECT_NEAR(s.State.Parameters[0] - at.ScanAngle, truth[0], 0.03);
    EXPECT_NEAR(s.State.Parameters[1], truth[1], 0.01);
    EXPECT_NEAR(s.State.Parameters[3], truth[3], 0.03);
    // The clock and each pass's own shift trade off: what each pass was moved by is told.
    for (std::size_t p = 0; p < 2; ++p) {
        EXPECT_NEAR(s.State.Parameters[4] + s.State.PassShifts[p], truth[4] + passShift[p], 0.03);
    }
    EXPECT_LT(s.Scale[0], 0.5); // the outliers lost their say
    int rejected = 0;
    for (const auto& w : s.Weight) {
        rejected += w[0] < 0.05 ? 1 : 0;
    }
    EXPECT_GE(rejected, 12);

    // Pixel shifts alone say nothing of where the lines are in time.
    for (TFitObservation& o : all) {
        o.Known[1] = false;
    }
    const TFitSolution pixels = SolveScannerFit(all, start, priors);
    EXPECT_FALSE(pixels.Determined[4]);
    EXPECT_DOUBLE_EQ(pixels.State.Parameters[4], 0.0);
    EXPECT_NEAR(pixels.State.Parameters[1], truth[1], 0.02);
}

// The sample pass was rendered by a ray tracer of its own (tools/sample) with a scan of
// 55.37 degrees either side of the line's centre, its content moved 20 pixels left and 10
// lines up: in this scanner's terms a scan angle of 112.83 degrees, a roll of 33 pixels
// (2.374 degrees) and a clock 10 lines (1.539 s) late, no yaw. Calibrated on it from the
// plain values, through its clouds and with lines lost, the fit finds them.
TEST(Calibration, FindsTheScannerASamplePassWasRenderedWithThroughCloudsAndLostLines) {
    testing::TempDir dir;
    const std::string copy = testing::ShiftedSampleCopy(dir, 0, 0);
    TBitmap image;
    image.LoadFromFile(copy);
    for (const auto& [first, last] : {std::pair{700, 760}, std::pair{2100, 2101}, std::pair{3300, 3420}}) {
        for (int y = first; y <= last; ++y) {
            std::fill_n(image.ScanLine(y), image.Width(), std::uint8_t{0});
        }
    }
    image.SaveToFile(copy);
    TCartogList boundaries;
    boundaries.LoadBoundaryFiles(kSource + "/data/Countries.dat");
    TPassSources sources;
    sources.Load(kSampleKeps, TPassSatellite{});
    FixedClock utc(kSampleDay, 0.0);
    ScopedClock scoped(utc);
    const TCalibrationInput input{"sample", [&](TPassSources& s, TPassReport& r) {
                                      return ProcessChannelImageFile(copy, {"", kSampleDay, 0.0},
                                                                     s, r);
                                  }};
    TCalibrationOptions options;
    options.Iterations = 5;
    const TCalibrationResult r =
        CalibrateScanner("40069", std::span(&input, 1), sources, boundaries, options);
    const TScannerCalibration& c = r.Calibration;
    EXPECT_NEAR(c.ScanAngle, 112.83, 0.15);
    EXPECT_NEAR(c.Roll, 2.374, 0.03);
    EXPECT_NEAR(c.Yaw, 0.0, 0.05);
    // Within about a line: the fit leaves the clock a line short of the renderer's.
    EXPECT_NEAR(c.TimeOffset + r.Passes[0].Shift, 1.539, 0.2);
    EXPECT_GT(r.Matches, 40);
    const TCoastDistance& after = r.Passes[0].After.AtModel;
    EXPECT_LT(after.Median, 2.5);
    EXPECT_LT(after.Median, r.Passes[0].Before.AtModel.Median - 3.0);
    EXPECT_TRUE(r.Passes[0].Disagreement.empty()) << r.Passes[0].Disagreement;
    // What is written reads back as found, with where it came from.
    const std::string section = CalibrationSection(r, "Meteor-M N2", "vantorel-cli calibrate x", 0.0);
    const TScannerCalibrations back = ParseScannerCalibrations(section);
    EXPECT_TRUE(back.Problems.empty());
    EXPECT_NEAR(back.BySatellite.at("40069").Roll, c.Roll, 0.001);
    EXPECT_NE(section.find("# Made by: vantorel-cli calibrate x"), std::string::npos);
}

// Values carry over to a satellite without passes only where the measured ones agree.
TEST(Calibration, CarriesOverTheScanAngleAndOnlyWhatTheMeasuredSatellitesAgreeOn) {
    TScannerCalibration a, b;
    a.ScanAngle = 110.3;
    a.ScanAngleError = b.ScanAngleError = 0.05;
    b.ScanAngle = 110.2;
    a.Yaw = 0.27;
    b.Yaw = 0.05;
    a.YawError = b.YawError = 0.02;
    a.TimeOffset = -0.33;
    b.TimeOffset = -0.10;
    a.TimeOffsetError = b.TimeOffsetError = 0.1;
    a.Roll = b.Roll = -0.3;
    std::vector<std::string> account;
    const TScannerCalibration c = CarriedOverCalibration(std::vector{a, b}, account);
    EXPECT_FALSE(c.Measured);
    EXPECT_NEAR(c.ScanAngle, 110.25, 1e-9);
    EXPECT_DOUBLE_EQ(c.Yaw, 0.0);
    EXPECT_NEAR(c.TimeOffset, -0.215, 1e-9);
    EXPECT_DOUBLE_EQ(c.Roll, 0.0);
    ASSERT_EQ(account.size(), 4u);
    EXPECT_NE(account[1].find("do not agree"), std::string::npos);
}

// The development passes, when VANTOREL_REALPASSES names their folder: the calibration
// rerun on them gives the values data/Scanner.cal holds, and leaves their coasts on the
// pictures' own.
TEST(Calibration, TheDevelopmentPassesGiveTheValuesOfTheCalibrationFile) {
    const char* folder = std::getenv("VANTOREL_REALPASSES");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "VANTOREL_REALPASSES is not set: the real passes are not calibrated on";
    }
    const auto file = ReadFileBytes(kSource + "/data/Scanner.cal");
    ASSERT_TRUE(file);
    const TScannerCalibrations written = ParseScannerCalibrations(*file);
    TCartogList boundaries;
    boundaries.LoadBoundaryFiles(kSource + "/data/Boundaries.b");
    for (const auto& [number, passes] :
         {std::pair{"59051", std::vector<std::string>{"m2-4-2026-02-08", "m2-4-2026-06-18"}},
          std::pair{"57166", std::vector<std::string>{"m2-3-2026-06-09", "m2-3-2026-06-13",
                                                      "m2-3-2026-06-18"}}}) {
        std::vector<TCalibrationInput> inputs;
        for (const std::string& p : passes) {
            const std::string path = std::string(folder) + "/" + p + "/MSU-MR";
            inputs.push_back({p, [path](TPassSources& s, TPassReport& r) {
                                  TProductOptions product;
                                  product.Channel = "2";
                                  return ProcessSatDumpProduct(path, product, s, r);
                              }});
        }
        TPassSources sources;
        sources.Load("", TPassSatellite{});
        const TCalibrationResult r = CalibrateScanner(number, inputs, sources, boundaries, {});
        const TScannerCalibration& want = written.BySatellite.at(number);
        EXPECT_TRUE(want.Measured);
        for (int j = 0; j < kScannerParameters; ++j) {
            EXPECT_NEAR(r.Calibration.*kFittedFields[j], want.*kFittedFields[j],
                        3.0 * want.*kFittedErrors[j] + 1e-9)
                << number << " " << kFittedNames[j];
        }
        for (const TPassCalibration& p : r.Passes) {
            EXPECT_LT(p.After.AtModel.Median, 2.5) << p.Label;
            EXPECT_LT(p.After.AtModel.Median, p.Before.AtModel.Median) << p.Label;
        }
    }
}

} // namespace
} // namespace vantorel
