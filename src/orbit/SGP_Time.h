#pragma once

// The orbit model's time base: Julian dates (days, the day starting at 12:00 UTC), the
// element-set epoch and the Greenwich mean sidereal angle.

#include "common/DateTime.h"

namespace vantorel {

/// Julian date of the date-time 1899-12-30 00:00 (TDateTime 0).
inline constexpr double kJulianDateOfDateTimeZero = 2415018.5;

/// Julian date of 0.0 January of a year (31 December of year - 1, 00:00 UTC), Gregorian.
double JulianDateOfYear(int year);

/// Day of the year of a date, 1 .. 366 (month 1 .. 12, day 1 .. 31).
int DayNumber(int year, int month, int day);

/// Fraction of a day (0 .. 1) of hours 0 .. 23, minutes 0 .. 59, seconds 0 .. 59 and
/// hundredths of a second 0 .. 99.
double FractionOfDay(int hours, int minutes, int seconds, int hundredths);

/// Julian date of a UTC date-time, to 0.01 s (the milliseconds are cut to hundredths).
double DateTimeToJD(TDateTime dateTime);

/// The two-digit year of an epoch YYDDD.dddddddd as a full year for the propagation:
/// below 57 it is 20YY, otherwise 19YY.
int EpochYear(double epoch);

/// Julian date of an element-set epoch written YYDDD.dddddddd (year rule of EpochYear).
double EpochToJD(double epoch);

/// Date-time (UTC) of an epoch YYDDD.dddddddd read with every YY as 20YY; 0 for epoch 0.
TDateTime EpochToDateTime(double epoch);

/// Greenwich mean sidereal angle at a Julian date (UT), rad, in [0, 2pi).
double SiderealAngle(double julianDate);

} // namespace vantorel
