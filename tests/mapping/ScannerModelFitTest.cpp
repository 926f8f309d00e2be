// The fitted mapping against the project's scanner model (TOrbit::LocateScanPoint) over the
// whole picture: the columns outside the outer samples (0 .. 20, 1522 .. 1567), the first
// and last lines, pictures too short for the full fit, long passes, a pass over the pole
// and one across the date line. Every ground point the scanner sees must come back within
// a pixel of where it was seen, and none may be refused.
#include "RealPass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

namespace vantorel {
namespace {

struct PassCase {
    const char* name;
    TDateTime start;
    int lines;
};

void PrintTo(const PassCase& c, std::ostream* os) {
    *os << c.name;
}

// Instants of the element-set history's last days: the Europe passes of RealPassFitTest,
// longer and shorter; the pass whose nadir turns at 81.5 N at 06:13:00 (its swath covers the
// pole) and the one that crosses 180 degrees at 19 S at 04:00:50, each centred there.
TDateTime At(int hour, int minute, double second) {
    return EncodeDateTime(2026, 8, 22, hour, minute, 0, 0) + second / kSecondsPerDay;
}
TDateTime CentredAt(int hour, int minute, double second, int lines) {
    return At(hour, minute, second) - (lines / 2) * testing::kMeteorLinePeriodDays;
}

const PassCase kCases[] = {
    {"Southbound5000", At(4, 36, 0), 5000},
    {"Northbound5000", At(14, 22, 0), 5000},
    {"Southbound7000", At(4, 34, 0), 7000},
    {"Southbound8000", At(4, 33, 0), 8000},
    {"Northbound8000", At(14, 20, 0), 8000},
    {"Southbound9000", At(4, 32, 0), 9000},
    {"Northbound9000", At(14, 20, 0), 9000},
    {"OverTheNorthPole8000", CentredAt(6, 13, 0, 8000), 8000},
    {"AcrossTheDateLine8000", CentredAt(4, 0, 50, 8000), 8000},
    {"Lines3", At(4, 42, 0), 3},
    {"Lines10", At(4, 42, 0), 10},
    {"Lines57", At(4, 42, 0), 57},
};

struct Figures {
    double worst = 0.0;       ///< over every point measured, pixels
    double median = 0.0;      ///< pixels
    double worstEdge = 0.0;   ///< columns 0 .. 20 and 1522 .. 1567
    double worstInside = 0.0; ///< columns 21 .. 1521
    int refused = 0;          ///< points the mapping answered false for
    int points = 0;
};

// Every picture line of short pictures, about 300 spread lines of long ones (the first and
// the last among them), each also half a line further; every column outside the outer
// samples and every 15th between them.
Figures Measure(const PassCase& c) {
    TOrbit orbit;
    EXPECT_TRUE(testing::SelectHistorySet(orbit, c.start));
    const testing::RealPassGrid pass = testing::BuildRealPassGrid(orbit, c.start, c.lines);
    TWarpedMapping mapping;
    EXPECT_TRUE(testing::FitRealPass(pass, mapping));

    const TScanLayout& layout = kMeteorScanLayout;
    std::vector<int> columns;
    for (int x = 0; x < layout.FirstColumn; ++x) {
        columns.push_back(x);
    }
    for (int x = layout.FirstColumn; x <= layout.LastColumn(); x += layout.Step / 2) {
        columns.push_back(x);
    }
    for (int x = layout.LastColumn() + 1; x < layout.Width; ++x) {
        columns.push_back(x);
    }
    std::vector<double> lines;
    const int stride = std::max(1, c.lines / 300) | 1;
    for (int l = 0; l < c.lines; l += stride) {
        lines.push_back(l);
        lines.push_back(l + 0.5);
    }
    lines.push_back(c.lines - 1);

    Figures f;
    std::vector<double> errors;
    for (double line : lines) {
        const TDateTime t = c.start + line * testing::kMeteorLinePeriodDays;
        for (int x : columns) {
            double lon = 0.0, lat = 0.0;
            const double angle =
                layout.CentreOffsetOfColumn(x) / layout.HalfWidth * orbit.ScanHalfAngle;
            EXPECT_TRUE(orbit.LocateScanPoint(t, angle, lon, lat));
            float fx = 0.0f, fy = 0.0f;
            ++f.points;
            if (!mapping.LatLonToImageF(fx, fy, static_cast<float>(lon), static_cast<float>(lat),
                                        true)) {
                ++f.refused;
                continue;
            }
            const double e = std::hypot(fx - x, fy - line);
            errors.push_back(e);
            double& worst =
                x < layout.FirstColumn || x > layout.LastColumn() ? f.worstEdge : f.worstInside;
            worst = std::max(worst, e);
        }
    }
    std::sort(errors.begin(), errors.end());
    if (!errors.empty()) {
        f.worst = errors.back();
        f.median = errors[errors.size() / 2];
    }
    return f;
}

class ScannerModelFit : public ::testing::TestWithParam<PassCase> {};

TEST_P(ScannerModelFit, EveryPixelWithinOnePixelOfTheScannerModel) {
    const PassCase& c = GetParam();
    const Figures f = Measure(c);
    std::cout << "[ figures ] " << c.name << ": worst " << f.worst << " px, median " << f.median
              << " px; worst outside the samples " << f.worstEdge << " px, inside " << f.worstInside
              << " px; refused " << f.refused << " of " << f.points << "\n";
    RecordProperty("worst_px", std::to_string(f.worst));
    RecordProperty("median_px", std::to_string(f.median));
    RecordProperty("worst_edge_px", std::to_string(f.worstEdge));
    EXPECT_EQ(f.refused, 0);
    EXPECT_LT(f.worst, 1.0);
    EXPECT_LT(f.median, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Passes, ScannerModelFit, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PassCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace vantorel
