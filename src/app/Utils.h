#pragma once

// Pass timing: when the first line of a channel image was scanned and how long each
// line took, from the image's file name and the decoder's .STAT files beside it.

#include "common/Clock.h"
#include "common/DateTime.h"
#include "common/Files.h"
#include "common/Notifier.h"
#include "common/StringList.h"

#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

/// The line period used when no .STAT file gives one: 0.1538925 s.
inline constexpr double kDefaultLinePeriodSeconds = 0.1538925;
/// The same in days.
inline constexpr double kDefaultLinePeriodDays = kDefaultLinePeriodSeconds / kSecondsPerDay;
/// The decoder's .STAT clock runs this far ahead of UTC (3 hours), in days.
inline constexpr double kStatClockAheadDays = 0.125;
/// How far (days, 15 minutes) a .STAT start may be from the file-name start to be used.
inline constexpr double kStatStartWindowDays = 0.0104166667;

/// The pass start written in a channel image's file name (no folder), as a local
/// date-time; nullopt when the name does not hold six numbers making a valid date and
/// time. Names that fit: 2017_03_15_08_12_34_68.bmp, 2017-03-15-08-12-34_64.bmp,
/// 2017_03_15_LRPT_08-12-34.s_68.bmp.
std::optional<TDateTime> LocalStartFromFileName(std::string_view fileName);

/// The offset of the local clock from UTC (days), taken as whole minutes so that the
/// moment between the two clock readings never costs a step.
double LocalClockOffsetDays(TDateTime localNow, TDateTime utcNow);

/// The pass start in UTC from the image's file name (a folder may precede the name):
/// adds "Pass start from file name: yyyy-mm-dd hh:nn:ss UTC" to diags, or shows
/// "Couldn't recognise the date and time from the file name" and gives 0.
TDateTime PassStartFromFileName(const std::string& fileName, TStringList& diags,
                                INotifier& notifier);

/// The line period in seconds from the third line of a .STAT file ("0.1538" or
/// "0,1538"); nullopt when it holds no number.
std::optional<double> StatLinePeriodSeconds(std::string_view line3);

/// The mask that takes in the .STAT files of every channel of the pass.
std::string StatMaskForPass(const std::string& path);

/// Sets linePeriod (days) from the .STAT files of the pass that hold a value above
/// 0.1 s (their mean), or to the default period; reports to diags. True when at least
/// one .STAT value was used.
bool ReadLinePeriod(const std::string& fileName, double& linePeriod, TStringList& diags);

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

/// t corrected by the image's matching .STAT file, or t unchanged; adds
/// "Actual data start: yyyy-mm-dd hh:nn:ss" to diags. A missing .STAT file shows the
/// "Vantorel - missing .STAT file" box.
TDateTime ExactStartFromStat(const std::string& imagePath, TDateTime t, TStringList& diags,
                             INotifier& notifier);

} // namespace vantorel
