#pragma once

// Whether a pass is one a Meteor-M could have sent as the picture shows it: the picture's
// size, its line times, the element set, the satellite's days on the air and the fit. A
// check that finds the picture doubtful adds a warning; one that finds that no overlay of
// it can be right adds an error, and the run ends.

#include "common/DateTime.h"
#include "pass/PassReport.h"

#include <memory>
#include <string>
#include <vector>

namespace vantorel {

struct TLineTimes;
struct TPassSatellite;

/// No station sees a Meteor-M for longer than about 16 minutes; a picture's lines that
/// span more than this are not one pass.
inline constexpr double kLongestPassMinutes = 25.0;
/// How far (a share) the line times may rise from the scanner's line period.
inline constexpr double kLinePeriodTolerance = 0.01;
/// How far (seconds) a line's time may lie behind where its neighbours' steady rise puts it.
inline constexpr double kLargestTimeJumpSeconds = 1.0;
/// Farther than this (days) from the pass, an element set cannot place it at all: a
/// Meteor's set 105 days old still puts the coasts within 35 lines, where the alignment
/// finds them (and the run warns); after a year, drag and the model's drift leave nothing
/// an offset could make up for.
inline constexpr double kFarthestElementSetDays = 365.0;
/// What the fitted polynomials may leave at the ground points (rms, pixels): a pass leaves
/// 9-11.
inline constexpr double kLargestResidualRmsPixels = 25.0;

/// A picture of at least one column and three lines (an error otherwise).
bool CheckPictureSize(int width, int lines, const std::string& picture, TPassReport& report);

/// The line times rise, steadily, at the scanner's line period and over no longer than a
/// pass; an error naming the picture and the group (or line) where they do not, with an
/// account line of what they do.
bool CheckLineTimes(const TLineTimes& times, int lines, const std::string& picture,
                    TPassReport& report);

/// The satellite sent LRPT on the pass's day (launched, not yet silent); a warning that
/// says which satellites did otherwise.
void CheckTransmitting(const TPassSatellite& satellite, TDateTime start, TPassReport& report);

/// The element set's checksums (a warning naming the line) and its orbit (an error when it
/// is not a Meteor's: decayed, or edited).
bool CheckElementSetText(const std::string& line1, const std::string& line2,
                         const std::string& source, TPassReport& report);

/// The element set lies near enough the pass to place it (an error otherwise).
bool CheckElementSetNearPass(double daysFromPass, TDateTime epoch, TDateTime start,
                             TPassReport& report);

/// The fit was done (FitFailed otherwise, unless the fit said so already) and leaves what a
/// pass leaves at the ground points (FitResidual otherwise).
void CheckFit(bool fitted, double residualRmsPixels, const std::string& picture,
              TPassReport& report);

} // namespace vantorel
