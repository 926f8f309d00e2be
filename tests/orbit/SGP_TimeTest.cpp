#include "ReferenceTable.h"

#include "orbit/SGP_Time.h"

#include <gtest/gtest.h>

namespace vantorel {
namespace {

TEST(SgpTime, JulianDateOfYearStartsAtZeroJanuary) {
    EXPECT_DOUBLE_EQ(JulianDateOfYear(2000), 2451543.5);
    EXPECT_DOUBLE_EQ(JulianDateOfYear(1980), 2444238.5);
    EXPECT_DOUBLE_EQ(JulianDateOfYear(1900), 2415019.5);
    EXPECT_DOUBLE_EQ(JulianDateOfYear(2025) - JulianDateOfYear(2024), 366.0);
}

TEST(SgpTime, DayNumberCountsLeapDaysAfterFebruaryOnly) {
    EXPECT_EQ(DayNumber(2024, 2, 29), 60);
    EXPECT_EQ(DayNumber(2024, 3, 1), 61);
    EXPECT_EQ(DayNumber(2023, 3, 1), 60);
    EXPECT_EQ(DayNumber(1900, 12, 31), 365);
    EXPECT_EQ(DayNumber(2000, 12, 31), 366);
}

TEST(SgpTime, DateTimeToJulianDateToTheHundredthOfASecond) {
    EXPECT_DOUBLE_EQ(DateTimeToJD(EncodeDateTime(2000, 1, 1, 12, 0, 0)), 2451545.0);
    EXPECT_DOUBLE_EQ(DateTimeToJD(0.0), kJulianDateOfDateTimeZero);
    const double whole = DateTimeToJD(EncodeDateTime(2017, 3, 15, 7, 12, 34));
    // 999 ms is cut to 99 hundredths, 5 ms to none (a Julian date resolves about 40 us).
    EXPECT_NEAR(DateTimeToJD(EncodeDateTime(2017, 3, 15, 7, 12, 34, 999)) - whole, 0.99 / 86400,
                1e-9);
    EXPECT_NEAR(DateTimeToJD(EncodeDateTime(2017, 3, 15, 7, 12, 34, 5)) - whole, 0.0, 1e-9);
}

TEST(SgpTime, EpochYearsFiftySixAndFiftySeven) {
    EXPECT_EQ(EpochYear(56001.0), 2056);
    EXPECT_EQ(EpochYear(57001.0), 1957);
    EXPECT_DOUBLE_EQ(EpochToJD(57001.0), JulianDateOfYear(1957) + 1.0);
    EXPECT_DOUBLE_EQ(EpochToJD(56001.5), JulianDateOfYear(2056) + 1.5);
    // The date-time reads every two-digit year as 20YY.
    EXPECT_DOUBLE_EQ(EpochToDateTime(57001.5), EncodeDateTime(2057, 1, 1, 12, 0, 0));
    EXPECT_DOUBLE_EQ(EpochToDateTime(24244.25), EncodeDateTime(2024, 8, 31, 6, 0, 0));
    EXPECT_DOUBLE_EQ(EpochToDateTime(0.0), 0.0);
    // Propagation epoch and date-time agree for this century.
    EXPECT_NEAR(EpochToJD(24244.58341547) - kJulianDateOfDateTimeZero,
                EpochToDateTime(24244.58341547), 1e-9);
}

TEST(SgpTime, SiderealAngleAgreesWithTheIau1982Reference) {
    for (const auto& row : testing::ReadTable("sidereal_reference.csv", false)) {
        EXPECT_NEAR(SiderealAngle(row.values[0]), row.values[1], 2e-9) << row.values[0];
    }
}

TEST(SgpTime, SiderealAngleAtMidnightUsesZeroUniversalTime) {
    // 2000-01-01 00:00 UT: the polynomial alone, 24110.54841 s minus the 0.5-day TU offset.
    const double jd = 2451544.5;
    const double tu = (jd - 2451545.0) / 36525.0;
    const double seconds = 24110.54841 + tu * (8640184.812866 + tu * (0.093104 - tu * 6.2e-6));
    EXPECT_NEAR(SiderealAngle(jd), 2 * 3.14159265358979323846 * seconds / 86400.0, 1e-12);
}

} // namespace
} // namespace vantorel
