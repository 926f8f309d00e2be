// Date-time arithmetic on the day-count representation. Calendar conversion uses the
// days-from-civil algorithm (proleptic Gregorian calendar), anchored at 1899-12-30.
#include "common/DateTime.h"

#include "common/StringUtils.h"

#include <array>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace vantorel {
namespace {

// Days from 1970-01-01 to 1899-12-30.
constexpr long long kUnixEpochOffset = 25569;

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

constexpr std::array<std::string_view, 12> kShortMonths = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 12> kLongMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

void AppendNumber(std::string& out, int value, int minDigits) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0) {
        out += '-';
    }
    for (int i = static_cast<int>(digits.size()); i < minDigits; ++i) {
        out += '0';
    }
    out += digits;
}

// Length of the run of the same letter (case-insensitive) starting at pos.
size_t RunLength(std::string_view s, size_t pos) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[pos])));
    size_t n = 1;
    while (pos + n < s.size() &&
           std::tolower(static_cast<unsigned char>(s[pos + n])) == static_cast<unsigned char>(c)) {
        ++n;
    }
    return n;
}

} // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return kDays[static_cast<size_t>(month - 1)] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
}

std::optional<TDateTime> TryEncodeDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return static_cast<TDateTime>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kUnixEpochOffset);
}

std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int millisecond) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999) {
        return std::nullopt;
    }
    const long long ms = ((hour * 60LL + minute) * 60LL + second) * 1000LL + millisecond;
    return static_cast<double>(ms) / kMilliSecondsPerDay;
}

TDateTime EncodeDate(int year, int month, int day) {
    if (auto d = TryEncodeDate(year, month, day)) {
        return *d;
    }
    throw std::invalid_argument("Invalid argument to date encode");
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    if (auto t = TryEncodeTime(hour, minute, second, millisecond)) {
        return *t;
    }
    throw std::invalid_argument("Invalid argument to time encode");
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    const TDateTime date = EncodeDate(year, month, day);
    const TDateTime time = EncodeTime(hour, minute, second, millisecond);
    // Before 1899-12-30 the time of day counts away from zero, so that the whole part
    // stays the date (see DecodeDateTime).
    return date < 0.0 ? date - time : date + time;
}

DateTimeParts DecodeDateTime(TDateTime dateTime) {
    DateTimeParts p;
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 3.0e6) {
        return p; // far outside years 1 .. 9999: report the zero date-time
    }
    double whole = std::trunc(dateTime);
    long long ms =
        static_cast<long long>(std::nearbyint(std::fabs(dateTime - whole) * kMilliSecondsPerDay));
    if (ms >= static_cast<long long>(kMilliSecondsPerDay)) {
        ms -= static_cast<long long>(kMilliSecondsPerDay);
        whole += 1.0;
    }
    CivilFromDays(static_cast<long long>(whole) - kUnixEpochOffset, p.year, p.month, p.day);
    p.millisecond = static_cast<int>(ms % 1000);
    const long long secs = ms / 1000;
    p.second = static_cast<int>(secs % 60);
    p.minute = static_cast<int>((secs / 60) % 60);
    p.hour = static_cast<int>(secs / 3600);
    return p;
}

int DayOfYear(TDateTime dateTime) {
    const DateTimeParts p = DecodeDateTime(dateTime);
    const auto jan1 = TryEncodeDate(p.year, 1, 1);
    const auto today = TryEncodeDate(p.year, p.month, p.day);
    if (!jan1 || !today) {
        return 1;
    }
    return static_cast<int>(*today - *jan1) + 1;
}

std::string_view ShortMonthName(int month) {
    return (month >= 1 && month <= 12) ? kShortMonths[static_cast<size_t>(month - 1)] : "";
}

std::string_view LongMonthName(int month) {
    return (month >= 1 && month <= 12) ? kLongMonths[static_cast<size_t>(month - 1)] : "";
}

std::string FormatDateTime(std::string_view pattern, TDateTime dateTime) {
    const DateTimeParts p = DecodeDateTime(dateTime);
    std::string out;
    out.reserve(pattern.size() + 8);
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '"' || c == '\'') {
            const size_t close = pattern.find(c, i + 1);
            const size_t end = close == std::string_view::npos ? pattern.size() : close;
            out.append(pattern.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? pattern.size() : close + 1;
            continue;
        }
        const size_t n = RunLength(pattern, i);
        switch (std::tolower(static_cast<unsigned char>(c))) {
        case 'y':
            if (n >= 3) {
                AppendNumber(out, p.year, 4);
            } else {
                AppendNumber(out, p.year % 100, 2);
            }
            break;
        case 'm':
            if (n >= 4) {
                out.append(LongMonthName(p.month));
            } else if (n == 3) {
                out.append(ShortMonthName(p.month));
            } else {
                AppendNumber(out, p.month, static_cast<int>(n));
            }
            break;
        case 'd':
            AppendNumber(out, p.day, n >= 2 ? 2 : 1);
            break;
        case 'h':
            AppendNumber(out, p.hour, n >= 2 ? 2 : 1);
            break;
        case 'n':
            AppendNumber(out, p.minute, n >= 2 ? 2 : 1);
            break;
        case 's':
            AppendNumber(out, p.second, n >= 2 ? 2 : 1);
            break;
        case 'z':
            AppendNumber(out, p.millisecond, n >= 3 ? 3 : 1);
            break;
        default:
            out.append(pattern.substr(i, n));
            break;
        }
        i += n;
    }
    return out;
}

std::optional<TDateTime> ParseUtcDateTime(std::string text) {
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
        text.pop_back();
    }
    if (text.size() < 16 || text[4] != '-' || text[7] != '-' ||
        (text[10] != ' ' && text[10] != 'T') || text[13] != ':') {
        return std::nullopt;
    }
    const auto year = ParseInteger(text.substr(0, 4));
    const auto month = ParseInteger(text.substr(5, 2));
    const auto day = ParseInteger(text.substr(8, 2));
    const auto hour = ParseInteger(text.substr(11, 2));
    const auto minute = ParseInteger(text.substr(14, 2));
    double seconds = 0.0;
    if (text.size() > 16) {
        const auto s = text[16] == ':' ? ParseReal(text.substr(17)) : std::nullopt;
        if (!s || *s < 0.0 || *s >= 60.0 ||
            text.substr(17).find_first_of("eE+-") != std::string::npos) {
            return std::nullopt;
        }
        seconds = *s;
    }
    if (!year || !month || !day || !hour || !minute) {
        return std::nullopt;
    }
    const auto date = TryEncodeDate(*year, *month, *day);
    const auto time = TryEncodeTime(*hour, *minute, 0);
    if (!date || !time) {
        return std::nullopt;
    }
    return *date + *time + seconds / kSecondsPerDay;
}


} // namespace vantorel
