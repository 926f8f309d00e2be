#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

/// A date-time: days since 1899-12-30 00:00, the fraction being the time of day.
/// Always UTC inside the program.
using TDateTime = double;

inline constexpr double kHoursPerDay = 24.0;
inline constexpr double kMinutesPerDay = 1440.0;
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kMilliSecondsPerDay = 86400000.0;

struct DateTimeParts {
    int year = 1899;     ///< 1 .. 9999
    int month = 12;      ///< 1 .. 12
    int day = 30;        ///< 1 .. 31
    int hour = 0;        ///< 0 .. 23
    int minute = 0;      ///< 0 .. 59
    int second = 0;      ///< 0 .. 59
    int millisecond = 0; ///< 0 .. 999
};

bool IsLeapYear(int year);
/// Days in the month (28 .. 31), or 0 when the month is not 1 .. 12.
int DaysInMonth(int year, int month);

/// Date of year 1 .. 9999, month 1 .. 12, day 1 .. days in month; nullopt otherwise.
std::optional<TDateTime> TryEncodeDate(int year, int month, int day);
/// Time of day: hour 0 .. 23, minute 0 .. 59, second 0 .. 59, millisecond 0 .. 999.
std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int millisecond = 0);
/// As the Try forms, throwing std::invalid_argument on an invalid date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
/// Date plus time of day; before 1899-12-30 the time is subtracted (the convention
/// DecodeDateTime reads).
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);

/// Splits a date-time into its fields. The time of day is rounded to the nearest
/// millisecond first; for negative values the date is the whole part and the time the
/// absolute fraction (the classic convention of this date-time type).
DateTimeParts DecodeDateTime(TDateTime dateTime);

/// Day of the year, 1 .. 366.
int DayOfYear(TDateTime dateTime);

/// English month names; month 1 .. 12 (anything else gives "").
std::string_view ShortMonthName(int month);
std::string_view LongMonthName(int month);

/// Formats a date-time with a pattern. Specifiers (any letter case): yyyy, yy, m, mm,
/// mmm (Mar), mmmm (March), d, dd, h, hh, n, nn (minutes), s, ss, z, zzz (milliseconds).
/// Text inside double or single quotes is copied literally; any other character is
/// copied as it stands.
std::string FormatDateTime(std::string_view pattern, TDateTime dateTime);

/// A UTC date-time "yyyy-mm-dd hh:nn[:ss[.zzz]]" ("T" may stand for the blank, a final
/// "Z" is allowed), or nullopt when the text is not one.
std::optional<TDateTime> ParseUtcDateTime(std::string text);

} // namespace vantorel
