#pragma once

// Pass timing from a channel image's file name and the decoder's .STAT files beside it:
// when the first line was scanned and how long each line took.

#include "common/DateTime.h"
#include "pass/PassReport.h"

#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

/// The line period used when no .STAT file gives one: 0.1538925 s.
inline constexpr double kDefaultLinePeriodSeconds = 0.1538925;
/// The same in days.
inline constexpr double kDefaultLinePeriodDays = kDefaultLinePeriodSeconds / kSecondsPerDay;
/// Longer line periods (seconds) in a .STAT file are not believed.
inline constexpr double kLongestLinePeriodSeconds = 10.0;
/// The decoder's .STAT clock runs this far ahead of UTC (3 hours), in days.
inline constexpr double kStatClockAheadDays = 0.125;
/// How far (days, 15 minutes) a .STAT start may be from the file-name start to be used.
inline constexpr double kStatStartWindowDays = 0.0104166667;

/// The pass start written in a channel image's file name (no folder), as a local
/// date-time; nullopt when the name does not hold six numbers making a valid date and
/// time. Names that fit: 2017_03_15_08_12_34_68.bmp, 2017-03-15-08-12-34_64.bmp,
/// 2017_03_15_LRPT_08-12-34.s_68.bmp.
std::optional<TDateTime> LocalStartFromFileName(std::string_view fileName);

/// The pass start a file name gives in UTC.
struct TNameStart {
    bool Read = false;   ///< the name holds a date and time
    TDateTime Utc = 0.0; ///< its local time less the offset in force then (0 when not read)
    double Offset = 0.0; ///< that offset: how far ahead of UTC the clock ran, days
    /// Under the other offset, when a change of clocks lies within two hours of the
    /// name's local time: a computer may have named the pass on either side of it.
    std::optional<TDateTime> OtherUtc;
};

/// The pass start in UTC from the image's file name (a folder may precede the name): the
/// name's local time less the clock's offset at that date and time (the time zone's
/// rules), or less `clockOffset` (days) when the user gave the offset of the computer that
/// named the file. Reports "Pass start from file name: yyyy-mm-dd
/// hh:nn:ss UTC", after the warning "Couldn't recognise the date and time from the file
/// name" and with a line that says so plainly when there is none (then the start is 0).
TNameStart PassStartsFromFileName(const std::string& fileName, TPassReport& report,
                                  std::optional<double> clockOffset = std::nullopt);
/// A clock offset (days) as "+3", "-5", "+5:30" or "+0" (whole minutes).
std::string FormatUtcOffset(double offsetDays);
/// The whole hours ahead of UTC a computer's clock may run: -14 .. 14.
inline constexpr int kMostClockOffsetHours = 14;
/// Reads whole hours ahead of UTC ("3", "-5", "+2"); nullopt for anything else or an
/// offset beyond kMostClockOffsetHours.
std::optional<int> ParseClockOffsetHours(std::string_view text);
/// PassStartsFromFileName's start alone.
TDateTime PassStartFromFileName(const std::string& fileName, TPassReport& report);

/// The line period in seconds from the third line of a .STAT file ("0.1538" or
/// "0,1538"); nullopt when it holds no number.
std::optional<double> StatLinePeriodSeconds(std::string_view line3);

/// What a decoder's .STAT file says: the clock time of its first line and the line period
/// of its third, each nullopt when the line is missing or does not read.
struct TStatFile {
    std::optional<double> ClockSeconds;
    std::optional<double> LinePeriodSeconds;
    /// The second line: the number of lines ("4000 lines"), or the last line's clock time.
    std::optional<long long> Lines;
    std::optional<double> EndClockSeconds;
};
/// Reads a .STAT file's bytes (either line ending).
TStatFile ParseStatFile(std::string_view bytes);

/// Warns (StatLineCount) when the image's matching .STAT file counts other lines than the
/// picture has (beyond 8 lines or 1 %); nothing when it does not say.
/// @param linePeriod days, to count the lines between a first and a last clock time.
void CheckStatLineCount(const std::string& imagePath, int lines, double linePeriod,
                        TPassReport& report);
/// The mask that takes in the .STAT files of every channel of the pass.
std::string StatMaskForPass(const std::string& path);

/// Sets linePeriod (days) from the .STAT files of the pass that hold a value above
/// 0.1 s (their mean), or to the default period, with its account. True when at least
/// one .STAT value was used.
bool ReadLinePeriod(const std::string& fileName, double& linePeriod, TPassReport& report);

/// The .STAT file that belongs to an image: the path with its extension replaced by
/// ".stat", else the path with ".stat" appended (letter case of the name ignored);
/// nullopt when neither exists.
std::optional<std::string> MatchingStatFile(const std::string& imagePath);

/// Seconds after midnight on the decoder's clock from the first line of a .STAT file
/// ("HH:MM:SS.sss"; the seconds may have a decimal comma); nullopt when it does not
/// read as a time of day.
std::optional<double> StatClockSeconds(std::string_view line1);

/// The exact start from the clock time in a first .STAT line, given the file-name start
/// t: the candidate on the day of t (or the day before or after, for passes near
/// midnight) that lies within 15 minutes of t; nullopt when none does.
std::optional<TDateTime> ExactStartCandidate(double statClockSeconds, TDateTime t);

/// t corrected by the image's matching .STAT file, or t unchanged; reports "Actual data
/// start: yyyy-mm-dd hh:nn:ss", after the "Vantorel - missing .STAT file" warning when
/// there is no .STAT file. A .STAT time that is not within 15 minutes of t but is within
/// 15 minutes of `other` (the name under the other offset of a change of clocks) is taken.
TDateTime ExactStartFromStat(const std::string& imagePath, TDateTime t, TPassReport& report,
                             std::optional<TDateTime> other = std::nullopt);

} // namespace vantorel
