#include "compositing/ColourComposite.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace vantorel {
namespace {

constexpr double kPeriod = 2e-6; // days
constexpr double kStart = 46000.4;
constexpr int kWidth = 6;
constexpr int kFeatureTime = 12; // the line periods after kStart the feature was scanned
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A channel whose line i was scanned `first` + i line periods after kStart (jittered by
// `jitter` periods), lost for the periods `lostFrom`..`lostTo`. Each pixel holds its line's
// time in periods plus `base`; the feature, at column 2 of the line scanned at kFeatureTime,
// is 255.
struct Channel {
    TBitmap picture;
    std::vector<TDateTime> times;

    Channel(int first, int lines, int base, double jitter, int lostFrom, int lostTo) {
        picture.SetPixelFormat(TPixelFormat::pf8bit);
        picture.SetSize(kWidth, lines);
        for (int i = 0; i < lines; ++i) {
            const int at = first + i;
            const bool lost = at >= lostFrom && at <= lostTo;
            times.push_back(lost ? kNaN : kStart + (at + jitter) * kPeriod);
            for (int x = 0; x < kWidth; ++x) {
                picture.ScanLine(i)[x] =
                    lost
                        ? 0
                        : static_cast<std::uint8_t>(at == kFeatureTime && x == 2 ? 255 : base + at);
            }
        }
    }
    std::vector<std::uint8_t> lost; ///< per pixel; empty: none lost
    TTimedChannel Timed() const { return {&picture, times, lost}; }
};

// Channels that start at different times and have different heights meet line by line by
// their times: the feature is on one composite pixel in all three colours, each colour
// holds the line of its own channel scanned at that composite line's time, the composite
// spans the time all three cover, a dropout of all three keeps its rows, untimed, and a
// line or a pixel one colour lacks goes black.
TEST(ComposeByTime, LinesMeetByTheirTimesNotTheirIndex) {
    const Channel red(0, 30, 100, 0.0, 15, 17);
    const Channel green(5, 30, 50, 0.0, 15, 17);
    Channel blue(3, 20, 150, 0.2, 14, 17); // its clock a fifth of a line late
    blue.lost.assign(static_cast<std::size_t>(kWidth) * 20, 0);
    blue.lost[static_cast<std::size_t>(kWidth) * (9 - 3) + 5] = 1; // column 5, time 9
    const TTimedComposite c = ComposeByTime({red.Timed(), green.Timed(), blue.Timed()}, kPeriod);

    // From the latest start (green, 5) to the earliest end (blue, 22).
    ASSERT_EQ(c.Picture.Height(), 18);
    ASSERT_EQ(c.Times.size(), 18u);
    EXPECT_EQ(c.Picture.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(c.Picture.Width(), kWidth);
    EXPECT_NEAR(c.Times.front(), kStart + 5 * kPeriod, 1e-12);
    const int feature = kFeatureTime - 5;
    const std::uint8_t* f = c.Picture.ScanLine(feature) + 3 * 2;
    EXPECT_EQ(f[0], 255);
    EXPECT_EQ(f[1], 255);
    EXPECT_EQ(f[2], 255);
    for (int row = 0; row < 18; ++row) {
        const int at = 5 + row;
        const std::uint8_t* p = c.Picture.ScanLine(row) + 3 * 4;
        if (at >= 15 && at <= 17) {
            EXPECT_TRUE(std::isnan(c.Times[static_cast<std::size_t>(row)])) << row;
            EXPECT_EQ(p[0] + p[1] + p[2], 0) << row;
            continue;
        }
        EXPECT_NEAR(c.Times[static_cast<std::size_t>(row)], kStart + at * kPeriod, 0.25 * kPeriod);
        // Blue lost one line more: that line is black in all three colours.
        EXPECT_EQ(p[2], at == 14 ? 0 : 100 + at) << row; // red
        EXPECT_EQ(p[1], at == 14 ? 0 : 50 + at) << row;  // green
        EXPECT_EQ(p[0], at == 14 ? 0 : 150 + at) << row; // blue
    }
    EXPECT_EQ(c.LinesUsed[0], 15);
    EXPECT_EQ(c.LinesUsed[1], 15);
    EXPECT_EQ(c.LinesUsed[2], 14);
    EXPECT_EQ(c.LinesComplete, 14);
    const std::uint8_t* gone = c.Picture.ScanLine(9 - 5) + 3 * 5;
    EXPECT_EQ(gone[0] + gone[1] + gone[2], 0);

    // One channel serving twice, as in 2,2,1.
    const TTimedComposite twice =
        ComposeByTime({green.Timed(), green.Timed(), red.Timed()}, kPeriod);
    EXPECT_EQ(twice.Picture.Height(), 25);
    EXPECT_EQ(twice.Picture.ScanLine(0)[2], 50 + 5);
}

TEST(ComposeByTime, RefusesChannelsThatCannotMeet) {
    const Channel early(0, 10, 0, 0.0, -1, -1);
    const Channel late(20, 10, 0, 0.0, -1, -1);
    EXPECT_THROW(ComposeByTime({early.Timed(), late.Timed(), early.Timed()}, kPeriod),
                 std::invalid_argument);
    Channel narrow(0, 10, 0, 0.0, -1, -1);
    narrow.picture.SetWidth(kWidth - 1);
    EXPECT_THROW(ComposeByTime({early.Timed(), narrow.Timed(), early.Timed()}, kPeriod),
                 std::invalid_argument);
}

// A lost segment is a run of 8 or more pixels of 0; fewer are a dark scene.
TEST(ComposeByTime, LostSegmentsAreLongRunsOfZero) {
    TBitmap decoded;
    decoded.SetPixelFormat(TPixelFormat::pf8bit);
    decoded.SetSize(20, 2);
    std::fill_n(decoded.ScanLine(0), 20, std::uint8_t{9});
    std::fill_n(decoded.ScanLine(1), 20, std::uint8_t{9});
    std::fill_n(decoded.ScanLine(0) + 12, 8, std::uint8_t{0});
    std::fill_n(decoded.ScanLine(1) + 2, 7, std::uint8_t{0});
    const std::vector<std::uint8_t> lost = LostPixels(decoded);
    ASSERT_EQ(lost.size(), 40u);
    for (int x = 0; x < 20; ++x) {
        EXPECT_EQ(lost[static_cast<std::size_t>(x)], x >= 12 ? 1 : 0) << x;
        EXPECT_EQ(lost[20 + static_cast<std::size_t>(x)], 0) << x;
    }
}

TEST(CompositeChannels, ReadAsThreeNames) {
    EXPECT_EQ(ParseCompositeChannels("1,2,4"), (TCompositeChannels{"1", "2", "4"}));
    EXPECT_EQ(ParseCompositeChannels(" 2, 2 ,1"), (TCompositeChannels{"2", "2", "1"}));
    EXPECT_EQ(FormatCompositeChannels({"2", "2", "1"}), "2,2,1");
    for (const char* wrong : {"1,2", "1,2,4,5", "1,,4", ""}) {
        EXPECT_FALSE(ParseCompositeChannels(wrong)) << wrong;
    }
}

} // namespace
} // namespace vantorel
