// Julian dates follow the usual Gregorian day-count formula (Meeus, Astronomical
// Algorithms, ch. 7) taken at 0.0 January; the sidereal angle is the IAU 1982 GMST
// polynomial evaluated at the preceding 0h UT plus the sidereal rate times the UT.
#include "orbit/SGP_Time.h"

#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Math.h"

#include <cmath>

namespace vantorel {

double JulianDateOfYear(int year) {
    const double a = static_cast<double>(year) - 1.0;
    const double b = std::trunc(a / 100.0);
    return std::trunc(365.25 * a) + 428.0 + 1720994.5 + (2.0 - b + std::trunc(b / 4.0));
}

int DayNumber(int year, int month, int day) {
    static constexpr int kMonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int result = day;
    for (int m = 1; m < month && m <= 12; ++m) {
        result += kMonthLengths[m - 1];
    }
    if (IsLeapYear(year) && month > 2) {
        result += 1;
    }
    return result;
}

double FractionOfDay(int hours, int minutes, int seconds, int hundredths) {
    return (((static_cast<double>(seconds) + hundredths / 100.0) / 60.0 + minutes) / 60.0 + hours) /
           24.0;
}

double DateTimeToJD(TDateTime dateTime) {
    const DateTimeParts p = DecodeDateTime(dateTime);
    return JulianDateOfYear(p.year) + DayNumber(p.year, p.month, p.day) +
           FractionOfDay(p.hour, p.minute, p.second, p.millisecond / 10);
}

namespace {

/// The two-digit year and the day with fraction of an epoch YYDDD.dddddddd.
struct EpochParts {
    int yy;
    double day;
};

EpochParts SplitEpoch(double epoch) {
    // Wild epochs (a fuzzed line) must not overflow the int conversion.
    const double yy = std::trunc(std::fmin(std::fmax(epoch / 1000.0, -1e6), 1e6));
    return {static_cast<int>(yy), epoch - yy * 1000.0};
}

} // namespace

int EpochYear(double epoch) {
    const int yy = SplitEpoch(epoch).yy;
    return yy < 57 ? 2000 + yy : 1900 + yy;
}

double EpochToJD(double epoch) {
    return JulianDateOfYear(EpochYear(epoch)) + SplitEpoch(epoch).day;
}

TDateTime EpochToDateTime(double epoch) {
    if (epoch == 0.0) {
        return 0.0;
    }
    const EpochParts p = SplitEpoch(epoch);
    // 1 January of 20YY, minus one day, plus the day with its fraction.
    return JulianDateOfYear(2000 + p.yy) + p.day - kJulianDateOfDateTimeZero;
}

double SiderealAngle(double julianDate) {
    const double ut = julianDate + 0.5 - std::floor(julianDate + 0.5);
    const double jd0 = julianDate - ut;
    const double tu = (jd0 - 2451545.0) / 36525.0;
    double gmst = 24110.54841 + tu * (8640184.812866 + tu * (0.093104 - tu * 6.2e-6));
    gmst = PositiveModulo(gmst + 86636.555366976 * ut, 86400.0);
    return kTwoPi * gmst / 86400.0;
}

} // namespace vantorel
