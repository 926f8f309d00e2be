#include "pass/inputs/StatTiming.h"

#include "common/Clock.h"
#include "common/Notifier.h"
#include "common/StringList.h"

#include "TempDir.h"
#include "ScopedEnvironment.h"
#include "common/Files.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vantorel {
namespace {

using testing::TempDir;

constexpr double kOneMs = 1.0 / 86400000.0;

// A computer whose clock runs `hours` ahead of UTC (negative: behind), on 2017-03-20.
FixedClock ClockAhead(double hours) {
    return FixedClock(EncodeDateTime(2017, 3, 20, 12, 0, 0), hours / 24.0);
}

// The report's entries reach the diagnostics and the notifier as a run delivers them.
struct PassTiming : ::testing::Test {
    TStringList diags;
    RecordingNotifier notifier;
    TPassReport report;
    void SetUp() override {
        report.OnEntry = [this](const TReportEntry& e) { Deliver(e, diags, notifier); };
    }
};

TEST(PassStartGrammar, TheThreeNameFormsGiveTheSameStart) {
    const TDateTime expected = EncodeDateTime(2017, 3, 15, 8, 12, 34);
    for (const char* name : {"2017_03_15_08_12_34_68.bmp", "2017-03-15-08-12-34_64.bmp",
                             "2017_03_15_LRPT_08-12-34.s_68.bmp", "2017_03_15_lrpt_08_12_34_65.jpg",
                             "2017 03 15 08 12 34.bmp", "2017_3_15_8_12_34.bmp"}) {
        const auto t = LocalStartFromFileName(name);
        ASSERT_TRUE(t) << name;
        EXPECT_DOUBLE_EQ(*t, expected) << name;
    }
}

TEST(PassStartGrammar, NamesThatDoNotHoldAValidDateAndTime) {
    for (const char* name : {
             "image_68.bmp",
             "",
             "2017_03_15_08_12.bmp",              // a field missing ("bmp" is not a number)
             "2017_03_15_08.12.34_68.bmp",        // later dots stay inside one field
             "2017_LRPT_03_15_LRPT_08_12_34.bmp", // only the first _LRPT goes
             "2017__03_15_08_12_34.bmp",          // two separators give an empty field
             "2017_02_30_08_12_34_68.bmp",        // no such day
             "2017_03_15_24_00_00_68.bmp",        // no such hour
             "2017_03_15_08_60_00_68.bmp",
             "2017_13_15_08_12_34_68.bmp",
             "0000_03_15_08_12_34_68.bmp",
             "2017_03_15_08_12_3x_68.bmp",
             "99999999999_03_15_08_12_34.bmp",
         }) {
        EXPECT_FALSE(LocalStartFromFileName(name)) << name;
    }
}

TEST_F(PassTiming, WholeHourOffsetsForComputersAheadAndBehindUtc) {
    {
        const FixedClock clock = ClockAhead(1.0);
        ScopedClock scoped(clock);
        PassStartFromFileName("/data/2017_03_15_08_12_34_68.bmp", report);
    }
    {
        const FixedClock clock = ClockAhead(-5.0);
        ScopedClock scoped(clock);
        const TDateTime t = PassStartFromFileName("2017_03_15_08_12_34_68.bmp", report);
        EXPECT_NEAR(t, EncodeDateTime(2017, 3, 15, 13, 12, 34), kOneMs);
    }
    ASSERT_EQ(diags.Count(), 2);
    EXPECT_EQ(diags[0], "Pass start from file name: 2017-03-15 07:12:34 UTC");
    EXPECT_EQ(diags[1], "Pass start from file name: 2017-03-15 13:12:34 UTC");
    EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(PassTiming, ClockReadingsAMomentApartDoNotLoseAnHour) {
    // Local clock read a few milliseconds before UTC: the offset must still be whole.
    struct SkewedClock : IClock {
        TDateTime NowUTC() const override { return 42814.5 + 0.005 / 86400; }
        TDateTime NowLocal() const override { return 42814.5 + 3.0 / 24; }
    } clock;
    ScopedClock scoped(clock);
    const TDateTime t = PassStartFromFileName("2017_03_15_08_12_34_68.bmp", report);
    EXPECT_NEAR(t, EncodeDateTime(2017, 3, 15, 5, 12, 34), kOneMs);
}

TEST_F(PassTiming, HalfHourZonesKeepTheirHalfHour) {
    const FixedClock clock = ClockAhead(5.5);
    ScopedClock scoped(clock);
    PassStartFromFileName("2017_03_15_08_12_34_68.bmp", report);
    EXPECT_EQ(diags[0], "Pass start from file name: 2017-03-15 02:42:34 UTC");
}

TEST_F(PassTiming, UnrecognisedNameShowsTheMessageAndGivesTheZeroDateTime) {
    const FixedClock clock = ClockAhead(2.0);
    ScopedClock scoped(clock);
    const TDateTime t = PassStartFromFileName("/images/image_68.bmp", report);
    EXPECT_EQ(t, 0.0);
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_FALSE(notifier.entries[0].isBox);
    EXPECT_EQ(notifier.entries[0].text, "Couldn't recognise the date and time from the file name");
    EXPECT_EQ(diags[0], "Pass start from file name: 1899-12-30 00:00:00 UTC");
}

TEST_F(PassTiming, TheFolderTakesNoPartInTheNameGrammar) {
    const FixedClock clock = ClockAhead(0.0);
    ScopedClock scoped(clock);
    const TDateTime t =
        PassStartFromFileName("/2020_01_01_00_00_00/2017_03_15_08_12_34_68.bmp", report);
    EXPECT_NEAR(t, EncodeDateTime(2017, 3, 15, 8, 12, 34), kOneMs);
}

TEST_F(PassTiming, NamesAreReadWithTheOffsetInForceOnTheirOwnDate) {
    // The machine's clock, in a zone with summer time (no tzdata needed for this form).
    testing::ScopedEnvironment zone("TZ", std::string("GMT0BST,M3.5.0/1,M10.5.0"));
    tzset();
    TempDir dir;
    auto start = [&](const std::string& name, const char* statClock) {
        dir.Write(ChangeFileExt(name, ".stat"), std::string(statClock) + "\n\n0.1538925\n");
        const TNameStart named = PassStartsFromFileName(dir / name, report);
        return std::make_pair(named.Utc,
                              ExactStartFromStat(dir / name, named.Utc, report, named.OtherUtc));
    };
    const auto summer = start("2020_07_01_09_00_00_64.bmp", "11:00:10.000");
    EXPECT_NEAR(summer.first, EncodeDateTime(2020, 7, 1, 8, 0, 0), kOneMs);
    EXPECT_NEAR(summer.second, EncodeDateTime(2020, 7, 1, 8, 0, 10), kOneMs);
    const auto winter = start("2020_12_01_09_00_00_64.bmp", "12:00:10.000");
    EXPECT_NEAR(winter.first, EncodeDateTime(2020, 12, 1, 9, 0, 0), kOneMs);
    EXPECT_NEAR(winter.second, EncodeDateTime(2020, 12, 1, 9, 0, 10), kOneMs);
    // 01:30 on the night the clocks go back comes twice: the .STAT time says which.
    for (const int utcHour : {0, 1}) {
        const std::string stat = "0" + std::to_string(utcHour + 3) + ":30:05.000";
        const auto repeated = start("2020_10_25_01_30_00_64.bmp", stat.c_str());
        EXPECT_NEAR(repeated.second, EncodeDateTime(2020, 10, 25, utcHour, 30, 5), kOneMs);
    }
    tzset();
    EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(PassTiming, UnbelievableLinePeriodsAreRefused) {
    TempDir dir;
    dir.Write("2017_03_15_08_12_34_68.stat", "10:12:35.120\nx\n1538925\n"); // no separator
    double period = 0.0;
    EXPECT_FALSE(ReadLinePeriod(dir / "2017_03_15_08_12_34_68.bmp", period, report));
    EXPECT_DOUBLE_EQ(period, kDefaultLinePeriodDays);
    EXPECT_EQ(diags[1], "  STAT file " + (dir / "2017_03_15_08_12_34_68.stat") +
                            ": line period 1.53892e+06 seconds is not believable, not used");
}

TEST_F(PassTiming, LinePeriodIsTheMeanOfUsableStatValues) {
    TempDir dir;
    dir.Write("2017_03_15_08_12_34_64.stat", "10:12:35.120\r\nx\r\n0,1538\r\n");
    dir.Write("2017_03_15_08_12_34_65.stat", "10:12:35.120\nx\n0.05\n"); // too small
    dir.Write("2017_03_15_08_12_34_68.stat", "10:12:35.120\nx\n 0.1540 \n");
    dir.Write("2017_03_15_08_12_34_122.stat", "10:12:35.120\nx\n"); // two lines only
    dir.Write("2017_03_15_08_12_34_124.stat", "a\nb\nnot a number\n");
    dir.Write("2017_03_15_09_00_00_68.stat", "a\nb\n0.9\n"); // another pass
    double period = 0.0;
    EXPECT_TRUE(ReadLinePeriod(dir / "2017_03_15_08_12_34_68.bmp", period, report));
    EXPECT_NEAR(period * 86400.0, 0.1539, 1e-12);
    ASSERT_EQ(diags.Count(), 4);
    EXPECT_EQ(diags[0], "Checking for .STAT files ...");
    EXPECT_EQ(diags[1], "  STAT file 1: " + (dir / "2017_03_15_08_12_34_64.stat"));
    EXPECT_EQ(diags[2], "  STAT file 2: " + (dir / "2017_03_15_08_12_34_68.stat"));
    EXPECT_EQ(diags[3], "2 .STAT file(s) found, line period is 0.1539000 seconds");
}

TEST_F(PassTiming, NoUsableStatValueGivesTheDefaultPeriod) {
    TempDir dir;
    dir.Write("2017_03_15_08_12_34_65.stat", "a\nb\n0.05\n");
    double period = 0.0;
    EXPECT_FALSE(ReadLinePeriod(dir / "2017_03_15_08_12_34_68.bmp", period, report));
    EXPECT_DOUBLE_EQ(period, 0.1538925 / 86400.0);
    EXPECT_NEAR(period, 1.7811631944e-06, 1e-15);
    ASSERT_EQ(diags.Count(), 2);
    EXPECT_EQ(diags[1], "No .STAT files found, default line period used");
}

TEST_F(PassTiming, LrptNamesCutEightCharactersForTheMask) {
    EXPECT_EQ(StatMaskForPass("/d/2017_03_15_LRPT_08-12-34.s_68.bmp"),
              "/d/2017_03_15_LRPT_08-12-34.*.stat");
    EXPECT_EQ(StatMaskForPass("/d/2017_03_15_08_12_34_68.bmp"), "/d/2017_03_15_08_12_34_*.stat");
    EXPECT_EQ(StatMaskForPass("a.bmp"), "*.stat");
    TempDir dir;
    dir.Write("2017_03_15_LRPT_08-12-34.s_64.stat", "a\nb\n0.15\n");
    dir.Write("2017_03_15_LRPT_08-12-34.s_68.STAT", "a\nb\n0.16\n");
    double period = 0.0;
    EXPECT_TRUE(ReadLinePeriod(dir / "2017_03_15_LRPT_08-12-34.s_68.bmp", period, report));
    EXPECT_NEAR(period * 86400.0, 0.155, 1e-12);
}

TEST(StatFirstLine, ClockTimesWithPointOrComma) {
    EXPECT_DOUBLE_EQ(*StatClockSeconds("10:12:35.120"), 36755.12);
    EXPECT_DOUBLE_EQ(*StatClockSeconds("  10:12:35,120  "), 36755.12);
    EXPECT_DOUBLE_EQ(*StatClockSeconds("10:12:35.1209999"), 36755.12); // seconds: 6 chars
    EXPECT_DOUBLE_EQ(*StatClockSeconds("00:00:00"), 0.0);
    for (const char* bad : {"", "10:12", "9:12:35.120", "24:00:00.000", "10:60:00.000",
                            "10:12:60.000", "10:12:-1.000", "aa:bb:cc.ddd", "10:12:ab.cde"}) {
        EXPECT_FALSE(StatClockSeconds(bad)) << bad;
    }
    // The whole file as bytes: line 1 the clock, line 3 the period.
    const TStatFile stat = ParseStatFile("10:12:35.120\r\nx\r\n0,1538\r\n");
    EXPECT_DOUBLE_EQ(*stat.ClockSeconds, 36755.12);
    EXPECT_DOUBLE_EQ(*stat.LinePeriodSeconds, 0.1538);
    EXPECT_FALSE(ParseStatFile("10:12:35.120\nx\n").LinePeriodSeconds);
    EXPECT_FALSE(ParseStatFile("").ClockSeconds);
}

TEST_F(PassTiming, ExactStartWithinFifteenMinutesReplacesTheNameTime) {
    TempDir dir;
    const std::string image = dir / "2017_03_15_08_12_34_68.bmp";
    const TDateTime t = EncodeDateTime(2017, 3, 15, 7, 12, 34);
    dir.Write("2017_03_15_08_12_34_68.stat", "10:12:35.120\n\n0.1538\n");
    const TDateTime exact = ExactStartFromStat(image, t, report);
    EXPECT_NEAR(exact, EncodeDateTime(2017, 3, 15, 7, 12, 35, 120), kOneMs);
    EXPECT_EQ(diags[0], "Actual data start: 2017-03-15 07:12:35");
    EXPECT_TRUE(notifier.entries.empty());

    // A .STAT that is there but tells nothing (27 minutes off, garbage, empty) leaves the
    // name's time, as doubtful as no .STAT at all.
    for (const char* useless : {"10:40:00.000\n", "garbage\n", ""}) {
        dir.Write("2017_03_15_08_12_34_68.stat", useless);
        EXPECT_EQ(ExactStartFromStat(image, t, report), t) << useless;
    }
    EXPECT_EQ(diags[1], "Actual data start: 2017-03-15 07:12:34");
    ASSERT_EQ(notifier.entries.size(), 3u);
    EXPECT_EQ(notifier.entries[0].caption, "Vantorel - .STAT file not used");
    EXPECT_TRUE(notifier.entries[0].text.find("more than 15 minutes") != std::string::npos);
    EXPECT_TRUE(notifier.entries[2].text.find("does not start with a clock time") !=
                std::string::npos);
}

TEST_F(PassTiming, ExactStartWindowEdges) {
    const TDateTime t = EncodeDateTime(2017, 3, 15, 7, 12, 34);
    const double clock = 10 * 3600 + 12 * 60 + 34;
    EXPECT_TRUE(ExactStartCandidate(clock + 14 * 60 + 59, t));
    EXPECT_FALSE(ExactStartCandidate(clock + 15 * 60 + 1, t));
    EXPECT_TRUE(ExactStartCandidate(clock - 14 * 60 - 59, t));
    EXPECT_FALSE(ExactStartCandidate(clock - 15 * 60 - 1, t));
}

TEST_F(PassTiming, ExactStartAcrossMidnight) {
    // A pass at 22:58 UTC: the decoder's clock already reads 01:58 of the next day.
    const TDateTime t = EncodeDateTime(2017, 3, 15, 22, 58, 0);
    const auto late = ExactStartCandidate(1 * 3600 + 58 * 60 + 10.5, t);
    ASSERT_TRUE(late);
    EXPECT_NEAR(*late, EncodeDateTime(2017, 3, 15, 22, 58, 10, 500), kOneMs);
    // The name says 00:01 UTC, the decoder started at 23:59:50 UTC the day before.
    const TDateTime early = EncodeDateTime(2017, 3, 16, 0, 1, 0);
    const auto c = ExactStartCandidate(2 * 3600 + 59 * 60 + 50, early);
    ASSERT_TRUE(c);
    EXPECT_NEAR(*c, EncodeDateTime(2017, 3, 15, 23, 59, 50), kOneMs);
}

TEST_F(PassTiming, AppendedStatNameIsTheSecondChoice) {
    TempDir dir;
    const std::string image = dir / "2017_03_15_08_12_34_68.bmp";
    dir.Write("2017_03_15_08_12_34_68.bmp.stat", "10:12:40.000\n");
    EXPECT_EQ(MatchingStatFile(image), image + ".stat");
    const TDateTime t =
        ExactStartFromStat(image, EncodeDateTime(2017, 3, 15, 7, 12, 34), report);
    EXPECT_NEAR(t, EncodeDateTime(2017, 3, 15, 7, 12, 40), kOneMs);
    dir.Write("2017_03_15_08_12_34_68.STAT", "10:12:50.000\n");
    EXPECT_EQ(MatchingStatFile(image), dir / "2017_03_15_08_12_34_68.STAT");
}

TEST_F(PassTiming, MissingStatFileShowsTheBoxAndKeepsTheTime) {
    TempDir dir;
    const std::string image = dir / "2017_03_15_08_12_34_68.bmp";
    const TDateTime t = EncodeDateTime(2017, 3, 15, 7, 12, 34);
    EXPECT_EQ(ExactStartFromStat(image, t, report), t);
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_TRUE(notifier.entries[0].isBox);
    EXPECT_EQ(notifier.entries[0].caption, "Vantorel - missing .STAT file");
    EXPECT_EQ(notifier.entries[0].text, "File not found:  " + image +
                                            "\r\n\r\nA matching .STAT file is required.\r\n\r\n"
                                            "Continuing but results will NOT be correct.");
    EXPECT_EQ(diags[0], "Actual data start: 2017-03-15 07:12:34");
}

} // namespace
} // namespace vantorel
