#include "common/DateTime.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

// Day numbers of the day-count date type, as published for it (they equal spreadsheet
// serial numbers from 1900-03-01 on, and its documented minimum and maximum dates).
TEST(DateTime, EncodeDateMatchesPublishedDayNumbers) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 3, 1), 61.0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(2017, 3, 15), 42809.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
}

TEST(DateTime, RejectsInvalidDatesAndTimes) {
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29));
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29));
    EXPECT_FALSE(TryEncodeDate(2017, 2, 29));
    EXPECT_FALSE(TryEncodeDate(2017, 4, 31));
    EXPECT_FALSE(TryEncodeDate(2017, 13, 1));
    EXPECT_FALSE(TryEncodeDate(2017, 0, 1));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000));
    EXPECT_FALSE(TryEncodeTime(-1, 0, 0));
    EXPECT_THROW(EncodeDate(2017, 2, 30), std::invalid_argument);
    EXPECT_DOUBLE_EQ(*TryEncodeTime(12, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(*TryEncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST(DateTime, DecodeInvertsEncodeOverFourCenturies) {
    for (int y = 1600; y <= 2400; y += 7) {
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= DaysInMonth(y, m); d += 3) {
                const DateTimeParts p = DecodeDateTime(EncodeDateTime(y, m, d, 13, 47, 59, 125));
                ASSERT_EQ(p.year, y);
                ASSERT_EQ(p.month, m);
                ASSERT_EQ(p.day, d);
                ASSERT_EQ(p.hour, 13);
                ASSERT_EQ(p.minute, 47);
                ASSERT_EQ(p.second, 59);
                ASSERT_EQ(p.millisecond, 125);
            }
        }
    }
}

TEST(DateTime, DecodeRoundsToTheMillisecondAndCarriesIntoTheNextDay) {
    // 23:59:59.9996 rounds up to midnight of the next day.
    const TDateTime almost = EncodeDate(2016, 12, 31) + (86400.0 - 0.0004) / 86400.0;
    const DateTimeParts p = DecodeDateTime(almost);
    EXPECT_EQ(p.year, 2017);
    EXPECT_EQ(p.month, 1);
    EXPECT_EQ(p.day, 1);
    EXPECT_EQ(p.hour, 0);
    EXPECT_EQ(p.second, 0);
    // A time computed with a tiny error below a whole second still shows that second.
    EXPECT_EQ(FormatDateTime("hh:nn:ss", 0.3 - 1e-12), "07:12:00");
}

TEST(DateTime, NegativeValuesUseWholePartAndAbsoluteFraction) {
    const DateTimeParts p = DecodeDateTime(-1.25);
    EXPECT_EQ(p.year, 1899);
    EXPECT_EQ(p.month, 12);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 6);
}

TEST(DateTime, DayOfYear) {
    EXPECT_EQ(DayOfYear(EncodeDate(2017, 1, 1)), 1);
    EXPECT_EQ(DayOfYear(EncodeDate(2017, 3, 15)), 74);
    EXPECT_EQ(DayOfYear(EncodeDate(2016, 12, 31) + 0.99), 366);
    EXPECT_EQ(DayOfYear(EncodeDate(2017, 12, 31)), 365);
}

TEST(DateTime, FormatPatterns) {
    const TDateTime t = EncodeDateTime(2017, 3, 5, 8, 2, 4, 7);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", t), "2017-03-05 08:02:04");
    EXPECT_EQ(FormatDateTime("\"  starting at: \" yyyy-mmm-dd hh:nn \"UTC\"", t),
              "  starting at:  2017-Mar-05 08:02 UTC");
    EXPECT_EQ(FormatDateTime("d mmmm yy", t), "5 March 17");
    EXPECT_EQ(FormatDateTime("h:n:s.zzz", t), "8:2:4.007");
    EXPECT_EQ(FormatDateTime("YYYY/MM/DD", t), "2017/03/05");
    EXPECT_EQ(FormatDateTime("'day' dd", t), "day 05");
    EXPECT_EQ(FormatDateTime("\"unterminated", t), "unterminated");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", 0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(FormatDateTime("mmm", EncodeDate(2017, 12, 1)), "Dec");
}

TEST(DateTime, ValuesOutsideTheCalendarDoNotCrash) {
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", 1e300), "1899-12-30");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", std::numeric_limits<double>::quiet_NaN()), "1899-12-30");
}

} // namespace
} // namespace vantorel
