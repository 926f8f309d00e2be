// Pass timing from the file name and the decoder's .STAT files.
//
// Departures from the plain rules, each for a result that would otherwise be wrong:
// - the local clock's offset from UTC is taken in whole minutes, not whole hours, so
//   computers in zones such as UTC+05:30 get the right pass start;
// - the .STAT start may fall on the day before or after the file-name start (the
//   decoder's clock is 3 hours ahead, so passes after 21:00 UTC read as the next day);
// - the .STAT seconds may use a decimal comma as well as a point;
// - .STAT files are found whatever the letter case of their names.
#include "pass/inputs/StatTiming.h"

#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace vantorel {
namespace {

// Reads a number written with either decimal separator: the first "," becomes ".".
std::optional<double> ParseRealEitherSeparator(std::string_view text) {
    return ParseReal(ReplaceFirst(text, ",", "."));
}

} // namespace

std::optional<TDateTime> LocalStartFromFileName(std::string_view fileName) {
    std::string s = ReplaceFirst(fileName, "_LRPT", "", /*ignoreCase=*/true);
    s = ReplaceFirst(s, ".", "-");
    s = ReplaceAll(s, "_", "-");
    const std::vector<std::string> fields = SplitDelimited(s, '-');
    if (fields.size() < 6) {
        return std::nullopt;
    }
    int v[6];
    for (size_t i = 0; i < 6; ++i) {
        const auto n = ParseInteger(fields[i]);
        if (!n) {
            return std::nullopt;
        }
        v[i] = *n;
    }
    const auto date = TryEncodeDate(v[0], v[1], v[2]);
    const auto time = TryEncodeTime(v[3], v[4], v[5]);
    if (!date || !time) {
        return std::nullopt;
    }
    return *date + *time;
}

TNameStart PassStartsFromFileName(const std::string& fileName, TPassReport& report,
                                  std::optional<double> clockOffset) {
    TNameStart start;
    if (const auto local = LocalStartFromFileName(ExtractFileName(fileName))) {
        const IClock& clock = CurrentClock();
        const double offset = clockOffset.value_or(clock.LocalOffsetAt(*local));
        start.Read = true;
        start.Offset = offset;
        start.Utc = *local - offset;
        constexpr double kAround = 2.0 / 24.0;
        // A chosen offset has no change of clocks.
        for (const double other : clockOffset ? std::vector<double>{}
                                              : std::vector<double>{
                                                    clock.LocalOffsetAt(*local - kAround),
                                                    clock.LocalOffsetAt(*local + kAround)}) {
            if (other != offset) {
                start.OtherUtc = *local - other;
            }
        }
    } else {
        report.Warning(TPassIssue::NoDateInName,
                       "Couldn't recognise the date and time from the file name");
    }
    report.Account(
        FormatDateTime("\"Pass start from file name: \"yyyy-mm-dd hh:nn:ss \"UTC\"", start.Utc));
    if (!start.Read) {
        report.Account("  The file name holds no pass date and time: the overlay is not placed "
                       "for this pass");
    }
    return start;
}

std::string FormatUtcOffset(double offsetDays) {
    const long minutes = std::lround(offsetDays * 24.0 * 60.0);
    const long whole = std::labs(minutes);
    const std::string sign = minutes < 0 ? "-" : "+";
    return whole % 60 == 0 ? Format("%s%d", sign, whole / 60)
                           : Format("%s%d:%02d", sign, whole / 60, whole % 60);
}

std::optional<int> ParseClockOffsetHours(std::string_view text) {
    const auto hours = ParseInteger(text);
    if (!hours || std::abs(*hours) > kMostClockOffsetHours) {
        return std::nullopt;
    }
    return *hours;
}

TDateTime PassStartFromFileName(const std::string& fileName, TPassReport& report) {
    return PassStartsFromFileName(fileName, report).Utc;
}

std::optional<double> StatLinePeriodSeconds(std::string_view line3) {
    return ParseRealEitherSeparator(line3);
}

TStatFile ParseStatFile(std::string_view bytes) {
    const std::vector<std::string> lines = SplitLines(bytes);
    TStatFile stat;
    if (!lines.empty()) {
        stat.ClockSeconds = StatClockSeconds(lines[0]);
    }
    if (lines.size() >= 2) {
        // "4000 lines" as some decoders write it, or the last line's clock time.
        const std::string second = Trim(lines[1]);
        const std::size_t digits = second.find_first_not_of("0123456789");
        if (const auto end = StatClockSeconds(second)) {
            stat.EndClockSeconds = end;
        } else if (digits != 0 && (digits == std::string::npos || second[digits] == ' ')) {
            if (const auto n = ParseInteger(second.substr(0, digits))) {
                stat.Lines = *n;
            }
        }
    }
    if (lines.size() >= 3) {
        stat.LinePeriodSeconds = StatLinePeriodSeconds(lines[2]);
    }
    return stat;
}

void CheckStatLineCount(const std::string& imagePath, int lines, double linePeriod,
                        TPassReport& report) {
    const auto path = MatchingStatFile(imagePath);
    const auto bytes = path ? ReadFileBytes(*path, kMostStatBytes) : std::nullopt;
    if (!bytes) {
        return;
    }
    const TStatFile stat = ParseStatFile(*bytes);
    std::optional<long long> counted = stat.Lines;
    if (!counted && stat.ClockSeconds && stat.EndClockSeconds && linePeriod > 0.0) {
        double seconds = *stat.EndClockSeconds - *stat.ClockSeconds;
        seconds += seconds < 0.0 ? kSecondsPerDay : 0.0; // over midnight
        counted = std::llround(seconds / (linePeriod * kSecondsPerDay)) + 1;
    }
    if (!counted) {
        return;
    }
    const long long off = std::llabs(*counted - lines);
    if (off > std::max(8LL, lines / 100LL)) {
        report.Warning(TPassIssue::StatLineCount,
                       Format("The .STAT file %s counts %d lines, the picture has %d: the "
                              "picture is not the whole pass it describes (or not its picture), "
                              "and its lines may lie off their times.",
                              path->c_str(), static_cast<int>(*counted), lines),
                       "Vantorel - .STAT line count");
    }
}

std::string StatMaskForPass(const std::string& path) {
    const size_t cut = ContainsText(ExtractFileName(path), "LRPT") ? 8 : 6;
    const std::string stem = path.size() > cut ? path.substr(0, path.size() - cut) : "";
    return stem + "*.stat";
}

bool ReadLinePeriod(const std::string& fileName, double& linePeriod, TPassReport& report) {
    std::vector<std::string> paths;
    FindFiles(StatMaskForPass(fileName), paths);
    report.Account("Checking for .STAT files ...");

    double sum = 0.0;
    int count = 0;
    for (const std::string& path : paths) {
        if (!FileExists(path)) {
            continue;
        }
        const auto bytes = ReadFileBytes(path, kMostStatBytes);
        if (!bytes) {
            continue;
        }
        const auto v = ParseStatFile(*bytes).LinePeriodSeconds;
        if (v && *v > kLongestLinePeriodSeconds) {
            // A period without its separator reads as days; one such file must not skew
            // the mean.
            report.Account(Format("  STAT file %s: line period %g seconds is not believable, "
                                  "not used",
                                  path, *v));
            continue;
        }
        if (v && *v > 0.1) {
            sum += *v;
            ++count;
            report.Account(Format("  STAT file %d: %s", count, path));
        }
    }

    double seconds = kDefaultLinePeriodSeconds;
    if (sum < 0.1) {
        report.Account("No .STAT files found, default line period used");
    } else {
        seconds = sum / count;
        report.Account(
            Format("%d .STAT file(s) found, line period is %.7f seconds", count, seconds));
    }
    linePeriod = seconds / kSecondsPerDay;
    return count > 0;
}

std::optional<std::string> MatchingStatFile(const std::string& imagePath) {
    if (auto replaced = FindFileIgnoringCase(ChangeFileExt(imagePath, ".stat"))) {
        return replaced;
    }
    return FindFileIgnoringCase(imagePath + ".stat");
}

std::optional<double> StatClockSeconds(std::string_view line1) {
    const std::string s = Trim(line1);
    if (s.size() < 7) {
        return std::nullopt;
    }
    const auto hours = ParseInteger(s.substr(0, 2));
    const auto minutes = ParseInteger(s.substr(3, 2));
    const auto seconds = ParseRealEitherSeparator(s.substr(6, 6));
    if (!hours || !minutes || !seconds || *hours < 0 || *hours > 23 || *minutes < 0 ||
        *minutes > 59 || !(*seconds >= 0.0 && *seconds < 60.0)) {
        return std::nullopt;
    }
    return *hours * 3600.0 + *minutes * 60.0 + *seconds;
}

std::optional<TDateTime> ExactStartCandidate(double statClockSeconds, TDateTime t) {
    const TDateTime onDayOfT =
        std::trunc(t) + statClockSeconds / kSecondsPerDay - kStatClockAheadDays;
    for (const double dayShift : {0.0, -1.0, 1.0}) {
        const TDateTime c = onDayOfT + dayShift;
        if (std::fabs(c - t) < kStatStartWindowDays) {
            return c;
        }
    }
    return std::nullopt;
}

TDateTime ExactStartFromStat(const std::string& imagePath, TDateTime t, TPassReport& report,
                             std::optional<TDateTime> other) {
    if (const auto stat = MatchingStatFile(imagePath)) {
        const auto bytes = ReadFileBytes(*stat, kMostStatBytes);
        const auto clock = bytes ? ParseStatFile(*bytes).ClockSeconds : std::nullopt;
        std::optional<TDateTime> exact;
        if (clock) {
            exact = ExactStartCandidate(*clock, t);
            if (!exact && other) {
                exact = ExactStartCandidate(*clock, *other);
            }
            if (exact) {
                t = *exact;
            }
        }
        // A .STAT file that is there but tells nothing leaves the start as doubtful as none.
        if (!exact) {
            report.Warning(TPassIssue::StatNotUsed,
                           "The .STAT file " + *stat +
                               (!bytes   ? " cannot be read"
                                : !clock ? " does not start with a clock time (HH:MM:SS.sss)"
                                         : " gives a start more than 15 minutes from the file "
                                           "name's") +
                               ": the file name's time is used, and the overlay may lie lines "
                               "off.",
                           "Vantorel - .STAT file not used");
        }
    } else {
        report.Warning(TPassIssue::MissingStat,
                       "File not found:  " + imagePath + "\r\n\r\n" +
                           "A matching .STAT file is required." + "\r\n\r\n" +
                           "Continuing but results will NOT be correct.",
                       "Vantorel - missing .STAT file");
    }
    report.Account(FormatDateTime("\"Actual data start: \"yyyy-mm-dd hh:nn:ss", t));
    return t;
}

} // namespace vantorel
