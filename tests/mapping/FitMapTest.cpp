#include "mapping/FitMap.h"

#include "SyntheticPass.h"
#include "common/Errors.h"
#include "common/Format.h"
#include "common/Notifier.h"
#include "common/StringList.h"
#include "mapping/ScanLineEdges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

namespace vantorel {
namespace {

using testing::ScannerModel;

struct Fit : ::testing::Test {
    TStringList diags;
    RecordingNotifier notifier;
    TWarpedMapping mapping;
    std::shared_ptr<const ResidualGrid> residuals;

    // As a run hands the fit's report on: to the account when logging only, else to the user.
    bool Run(const LocationGrid& grid, int lines, bool logOnly = false) {
        TFitResult r = FitMapToImage(grid, {lines, 830.0f, 55.37f, 5}, mapping);
        for (const std::string& line : r.account) {
            diags.Add(line);
        }
        if (!r.report.empty()) {
            logOnly ? diags.Add(r.report) : notifier.ShowMessage(r.report);
        }
        residuals = r.residuals;
        return r.fitted;
    }
    bool Logged(const std::string& line) const {
        return std::find(diags.begin(), diags.end(), line) != diags.end();
    }
};

TEST_F(Fit, TwoLinesAreRefusedBeforeTheMappingIsTouched) {
    const LocationGrid grid = ScannerModel{}.Grid(2);
    EXPECT_FALSE(Run(grid, 2));
    ASSERT_EQ(diags.Count(), 2);
    EXPECT_EQ(diags[0], "Scale and warp map projection to match image");
    EXPECT_EQ(diags[1], "Cannot do any mapping with less then three lines!");
    EXPECT_FALSE(mapping.Fitted());
}

TEST_F(Fit, ShortImagesUseAnAssumedStepAndStraightWarpsFromEveryLine) {
    ScannerModel model;
    EXPECT_TRUE(Run(model.Grid(41), 41));
    EXPECT_EQ(diags[1], "  Ground track step per line (assumed) : 1.09 km");
    EXPECT_TRUE(mapping.Fitted());
    // 41 lines: spacing (9 * 41) div 520 = 0, so every line's nadir point is a sample; the
    // account says so just before the warps, and nothing goes to a message box.
    const std::string shortLine = "  Short picture (41 lines): vertical warp and skew fitted as "
                                  "straight lines to every line";
    const auto at = std::find(diags.begin(), diags.end(), shortLine);
    ASSERT_NE(at, diags.end());
    ASSERT_NE(at + 1, diags.end());
    EXPECT_EQ(at[1].rfind("  Vertical map warp:    0.00000 Y^2 + ", 0), 0u) << at[1];
    EXPECT_TRUE(notifier.entries.empty());

    model.stepKm = 3.3;
    diags.Clear();
    EXPECT_TRUE(Run(model.Grid(30), 30, /*logOnly=*/true));
    EXPECT_EQ(diags[1], "  Ground track step per line (assumed) : 3.27 km");
    EXPECT_FALSE(Logged("Cannot map earth locations with less than 60 lines of data."));
    EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(Fit, FiftySevenLinesFitLineByLineFiftyEightWithSpacedSamples) {
    ScannerModel model;
    EXPECT_TRUE(Run(model.Grid(57), 57, true));
    EXPECT_TRUE(Logged("  Short picture (57 lines): vertical warp and skew fitted as straight "
                       "lines to every line"));
    diags.Clear();
    EXPECT_TRUE(Run(model.Grid(58), 58, true));
    EXPECT_FALSE(Logged("  Short picture (58 lines): vertical warp and skew fitted as straight "
                        "lines to every line"));
    EXPECT_FALSE(Logged("Cannot map earth locations with less than 60 lines of data."));
}

TEST_F(Fit, AccountLinesInOrder) {
    const LocationGrid grid = ScannerModel{}.Grid(600);
    ASSERT_TRUE(Run(grid, 600));
    const std::vector<std::string> prefixes = {
        "Scale and warp map projection to match image",
        "  Ground track step per line (from locations) : ",
        "  Mid-picture line num: 300,  lon = ",
        "  Image rotation estimate: ",
        "  Image rotation estimate: ",
        "  Image rotation estimate: ",
        "  Image rotation used: ",
        "  Vertical map warp:    ",
        "  Horizontal map warp:  ",
        "  Horizontal map skew:  ",
    };
    ASSERT_EQ(diags.Count(), static_cast<int>(prefixes.size()));
    for (size_t i = 0; i < prefixes.size(); ++i) {
        EXPECT_EQ(diags[static_cast<int>(i)].rfind(prefixes[i], 0), 0u)
            << diags[static_cast<int>(i)];
    }
    EXPECT_NE(diags[3].find("(across track, great-circle)"), std::string::npos);
    EXPECT_NE(diags[4].find("(along track, great-cicle)"), std::string::npos);
    EXPECT_NE(diags[5].find("(across track, original)"), std::string::npos);
    EXPECT_NE(diags[2].find("altitude = 830.0 km"), std::string::npos);
    EXPECT_TRUE(notifier.entries.empty());
    ASSERT_TRUE(residuals);
    EXPECT_EQ(residuals->size(), 600u);
}

TEST_F(Fit, LongImagesTakeTheSmallestSubRowStepAboveTheFloor) {
    // The ground step shrinks along the image, so the first sub-row measures the smallest.
    ScannerModel model;
    model.stepKm = 1.3;
    model.stepGrowthPerLine = 1e-4;
    const LocationGrid grid = model.Grid(900);
    ASSERT_TRUE(Run(grid, 900, true));
    const int mid = 450;
    float smallest = MeanTrackStep(grid, mid);
    for (int i = 1; i <= 5; ++i) {
        const float s = MeanTrackStep(grid, (i * mid) / 3);
        if (s > 0.4f && s < smallest) {
            smallest = s;
        }
    }
    EXPECT_LT(smallest, MeanTrackStep(grid, mid));
    EXPECT_EQ(diags[1],
              Format("  Ground track step per line (from locations) : %.3f km", smallest));

    // With 400 lines only the middle row counts.
    diags.Clear();
    const LocationGrid shorter = model.Grid(400);
    Run(shorter, 400, true);
    EXPECT_EQ(diags[1], Format("  Ground track step per line (from locations) : %.3f km",
                               MeanTrackStep(shorter, 200)));
}

TEST_F(Fit, TrackStepBelowHalfAKilometreIsInvalid) {
    ScannerModel model;
    model.stepKm = 0.3;
    EXPECT_FALSE(Run(model.Grid(100), 100));
    EXPECT_EQ(diags[diags.Count() - 1], "Track step invalid!");
    EXPECT_FALSE(mapping.Fitted());
}

TEST_F(Fit, MissingNadirLocationsAreSkippedOrReported) {
    ScannerModel model;
    LocationGrid grid = model.Grid(200);
    for (auto& row : grid) {
        row[kNadirColumn] = GeoPoint{0.0f, 0.0f};
    }
    EXPECT_FALSE(Run(grid, 200));
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "No viable location data");

    // Exactly one usable nadir sample: the polynomial fit's own error leaves the fit.
    grid[100][kNadirColumn] = model.At(100, 771);
    EXPECT_THROW(Run(grid, 200), EMathError);
}

TEST_F(Fit, LinesWithoutLocationTakeTheResidualsOfTheLineAbove) {
    ScannerModel model;
    LocationGrid grid = model.Grid(300);
    grid[0][0].lat = 0.0f;
    grid[150][0].lat = 0.0f;
    ASSERT_TRUE(Run(grid, 300));
    for (int j = 0; j < kGridColumns; ++j) {
        EXPECT_EQ((*residuals)[0][static_cast<size_t>(j)].dx, 0.0f);
        EXPECT_EQ((*residuals)[0][static_cast<size_t>(j)].dy, 0.0f);
        EXPECT_EQ((*residuals)[150][static_cast<size_t>(j)].dx,
                  (*residuals)[149][static_cast<size_t>(j)].dx);
        EXPECT_EQ((*residuals)[150][static_cast<size_t>(j)].dy,
                  (*residuals)[149][static_cast<size_t>(j)].dy);
    }
}

// The figures are those of every residual's hypot, bit for bit: random lengths of all
// sizes, exact zeros and a non-finite residual.
TEST(ResidualFigures, AreThoseOfHypot) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> exponent(-40, 40);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    ResidualGrid grid(300);
    for (ResidualRow& row : grid) {
        for (ResidualPair& r : row) {
            r = {std::ldexp(mantissa(random), exponent(random)),
                 std::ldexp(mantissa(random), exponent(random))};
        }
    }
    grid[7][3] = {0.0f, -0.0f};
    const auto plain = [](const ResidualGrid& g) {
        double sum = 0.0, largest = 0.0;
        for (const ResidualRow& row : g) {
            for (const ResidualPair& r : row) {
                const double d = std::hypot(r.dx, r.dy);
                sum += d * d;
                largest = std::max(largest, d);
            }
        }
        return std::pair{std::sqrt(sum / static_cast<double>(g.size() * kResidualColumns)),
                         largest};
    };
    const TResidualFigures figures = ResidualFigures(&grid);
    EXPECT_EQ(figures.Points, grid.size() * kResidualColumns);
    EXPECT_EQ(figures.Rms, plain(grid).first);
    EXPECT_EQ(figures.Largest, plain(grid).second);
    grid[9][1] = {std::numeric_limits<float>::infinity(), std::nanf("")};
    EXPECT_EQ(ResidualFigures(&grid).Largest, std::numeric_limits<double>::infinity());
    EXPECT_EQ(ResidualFigures(nullptr).Points, 0u);
}

// The synthetic scanner looks along a great circle with asin(k sin b) - b, as the carrying
// on assumes: columns beyond the outer samples on both sides, on a pass from the north, one
// across the date line and one with the scanner rolled 2.3 degrees (its nadir 32 pixels off
// the line's centre), come out where it sees them. Float samples (a metre) limit it.
TEST(ScanLineEdges, CarryTheLineOnAsTheScannerSeesIt) {
    ScannerModel acrossDateLine;
    acrossDateLine.startLatDeg = 20.0;
    acrossDateLine.startLonDeg = 178.0;
    acrossDateLine.azimuthDeg = -10.0;
    ScannerModel rolled;
    rolled.rollDeg = 2.31;
    struct Case {
        const ScannerModel model;
        double line;
    };
    const Case cases[] = {
        {ScannerModel{}, 0}, {ScannerModel{}, 3000}, {acrossDateLine, 1500}, {rolled, 2000}};
    const auto rowAt = [](const ScannerModel& model, double line) {
        GeoRow row;
        for (int k = 0; k < kGridColumns; ++k) {
            row[static_cast<size_t>(k)] = model.At(line, kMeteorScanLayout.ColumnOf(k));
        }
        return row;
    };
    for (const Case& c : cases) {
        const GeoRow row = rowAt(c.model, c.line);
        TScanLineEdges edges(kMeteorScanLayout, 55.37, 830.0);
        ASSERT_TRUE(edges.FindNadir(rowAt(c.model, 0)));
        EXPECT_NEAR(edges.NadirColumn(), 770.5 - c.model.rollDeg / 55.37 * 769.5, 0.01);
        edges.SetLine(row);
        for (double x : {-9.0, 0.0, 10.5, 1522.0, 1551.0, 1567.0, 1581.0}) {
            GeoPoint p;
            ASSERT_TRUE(edges.Locate(x, p)) << x;
            const GeoPoint truth = c.model.At(c.line, x);
            float km = 0.0f, bearing = 0.0f;
            ASSERT_TRUE(
                GreatCircleDistanceBearing(km, bearing, p.lon, p.lat, truth.lon, truth.lat));
            EXPECT_LT(km, 0.02f) << "line " << c.line << " column " << x;
        }
    }
    // Outer samples without a location: nothing to carry on, and nothing written; and no
    // nadir is found from them.
    GeoRow row = rowAt(ScannerModel{}, 0);
    row[kGridColumns - 1] = GeoPoint{};
    TScanLineEdges edges(kMeteorScanLayout, 55.37, 830.0);
    EXPECT_FALSE(edges.FindNadir(row));
    EXPECT_EQ(edges.NadirColumn(), 770.5);
    edges.SetLine(row);
    GeoPoint p{1.0f, 2.0f};
    EXPECT_FALSE(edges.Locate(1551.0, p));
    EXPECT_EQ(p.lat, 1.0f);
    EXPECT_TRUE(edges.Locate(0.0, p));
}

// After a fit every grid point projects back onto its own pixel, and points between
// the grid points, and beyond the outer ones to the line's ends, land within a pixel of
// where they were seen.
struct RoundTrip {
    double worstGrid = 0;
    double worstBetween = 0;
    double medianBetween = 0;
    double worstEdge = 0; // columns 0 .. 20 and 1522 .. 1567
};

RoundTrip Measure(const ScannerModel& model, int lines) {
    const LocationGrid grid = model.Grid(lines);
    TWarpedMapping mapping;
    EXPECT_TRUE(
        FitMapToImage(grid, {lines, static_cast<float>(model.altitudeKm), 55.37f, 5}, mapping)
            .fitted);
    RoundTrip r;
    for (int l = 0; l < lines; ++l) {
        for (int j = 0; j < kGridColumns; ++j) {
            float x = 0, y = 0;
            const GeoPoint& p = grid[static_cast<size_t>(l)][static_cast<size_t>(j)];
            mapping.LatLonToImageF(x, y, p.lon, p.lat, true);
            r.worstGrid = std::max(r.worstGrid, std::hypot(x - (21.0 + 30 * j), y - l));
        }
    }
    std::vector<double> errors;
    for (int l = 7; l < lines; l += 37) {
        for (double column = 36; column < 1521; column += 30) { // halfway between columns
            const GeoPoint p = model.At(l + 0.5, column);
            float x = 0, y = 0;
            mapping.LatLonToImageF(x, y, p.lon, p.lat, true);
            errors.push_back(std::hypot(x - column, y - (l + 0.5)));
        }
        for (double column : {0.0, 10.0, 20.0, 1522.0, 1540.0, 1555.0, 1567.0}) {
            const GeoPoint p = model.At(l + 0.5, column);
            float x = 0, y = 0;
            mapping.LatLonToImageF(x, y, p.lon, p.lat, true);
            r.worstEdge = std::max(r.worstEdge, std::hypot(x - column, y - (l + 0.5)));
        }
    }
    std::sort(errors.begin(), errors.end());
    r.worstBetween = errors.back();
    r.medianBetween = errors[errors.size() / 2];
    return r;
}

TEST(FitRoundTrip, NorthToSouthPass) {
    ScannerModel model; // southbound from 60 N
    const RoundTrip r = Measure(model, 2500);
    EXPECT_LT(r.worstGrid, 0.5);
    EXPECT_LT(r.worstBetween, 1.0);
    EXPECT_LT(r.worstEdge, 1.0);
    RecordProperty("worst_between_px", std::to_string(r.worstBetween));
    RecordProperty("median_between_px", std::to_string(r.medianBetween));
}

TEST(FitRoundTrip, SouthToNorthPassAcrossTheDateLine) {
    ScannerModel model;
    model.startLatDeg = 20.0;
    model.startLonDeg = 175.0;
    model.azimuthDeg = -10.0;
    const RoundTrip r = Measure(model, 4000);
    EXPECT_LT(r.worstGrid, 0.5);
    EXPECT_LT(r.worstBetween, 1.0);
    EXPECT_LT(r.worstEdge, 1.0);
}

// A scanner rolled about the track, as a calibrated one is: the line's nadir lies 32 pixels
// off its centre, and the edge columns must still come out right.
TEST(FitRoundTrip, RolledScannerOutToTheLineEnds) {
    ScannerModel model;
    model.rollDeg = 2.31;
    const RoundTrip r = Measure(model, 6000);
    EXPECT_LT(r.worstGrid, 0.5);
    EXPECT_LT(r.worstBetween, 1.0);
    EXPECT_LT(r.worstEdge, 1.0);
    RecordProperty("worst_edge_px", std::to_string(r.worstEdge));
}

// Four projections side by side where the processor has AVX, two where not, one point
// alone: the same bits, over the swath, beyond it, round the globe and for bad input; and
// the same pixels from the batch that leaves refused points unrefined.
TEST(FittedMapping, BatchesGiveEachPointsOwnBitsWhateverTheirWidth) {
    const LocationGrid grid = ScannerModel{}.Grid(3000);
    TWarpedMapping mapping;
    ASSERT_TRUE(FitMapToImage(grid, {3000, 830.0f, 55.37f, 5}, mapping).fitted);
    std::vector<TLonLat> points;
    for (std::size_t l = 0; l < grid.size(); l += 61) {
        for (std::size_t j = 0; j < kGridColumns; j += 2) {
            const GeoPoint& p = grid[l][j];
            points.push_back({p.lon + 0.013f * static_cast<float>(j % 7), p.lat});
        }
    }
    for (int lat = -90; lat <= 90; lat += 9) {
        for (int lon = -180; lon < 540; lon += 13) {
            points.push_back({static_cast<float>(lon), static_cast<float>(lat)});
        }
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    points.insert(points.end(), {{nan, 50.0f}, {20.0f, nan}, {3e7f, 10.0f}});
    const std::size_t n = points.size(); // not a whole number of blocks or lanes
    ASSERT_NE(n % 4, 0u);
    using Lanes = TWarpedMapping::TLanes;
    for (const bool table : {true, false}) {
        std::vector<float> x2(n), y2(n), x4(n), y4(n);
        auto ok2 = std::make_unique<bool[]>(n);
        auto ok4 = std::make_unique<bool[]>(n);
        mapping.LatLonToImageF(points, x2.data(), y2.data(), ok2.get(), table, Lanes::Two);
        mapping.LatLonToImageF(points, x4.data(), y4.data(), ok4.get(), table, Lanes::Best);
        for (std::size_t i = 0; i < n; ++i) {
            float x1 = 0.0f, y1 = 0.0f;
            const bool ok1 = mapping.LatLonToImageF(x1, y1, points[i].lon, points[i].lat, table);
            ASSERT_EQ(ok2[i], ok1) << i;
            ASSERT_EQ(ok4[i], ok1) << i;
            if (ok1) {
                ASSERT_EQ(std::bit_cast<std::uint32_t>(x2[i]), std::bit_cast<std::uint32_t>(x1));
                ASSERT_EQ(std::bit_cast<std::uint32_t>(y2[i]), std::bit_cast<std::uint32_t>(y1));
                ASSERT_EQ(std::bit_cast<std::uint32_t>(x4[i]), std::bit_cast<std::uint32_t>(x1));
                ASSERT_EQ(std::bit_cast<std::uint32_t>(y4[i]), std::bit_cast<std::uint32_t>(y1));
            }
        }
    }
    std::vector<TProjectedPixel> pixels(n);
    mapping.LatLonToImage(points, pixels.data());
    for (std::size_t i = 0; i < n; ++i) {
        int x = 0, y = 0;
        ASSERT_EQ(pixels[i].onMap, mapping.LatLonToImage(x, y, points[i].lon, points[i].lat)) << i;
        if (pixels[i].onMap) {
            ASSERT_EQ(pixels[i].x, x) << i;
            ASSERT_EQ(pixels[i].y, y) << i;
        }
    }
}

} // namespace
} // namespace vantorel
