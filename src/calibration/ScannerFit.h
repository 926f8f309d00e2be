#pragma once

// The scanner's angles and clock fitted to coast matches. Each match says how far the
// picture's coast lies from where the scanner model drew it; near the answer that shift is
// linear in small changes of the scan angle, roll, pitch, yaw and clock (and of the pass's
// own time shift, which its element set's age makes), with the slopes the orbit's model
// gives at the match's place. The fit is a weighted least-squares solve with a prior on
// each parameter, its weights made robust (Huber, then Tukey's biweight) so that matches
// to cloud edges and other outliers lose their say.

#include "orbit/ScannerCalibration.h"

#include <array>
#include <span>
#include <vector>

namespace vantorel {

class TOrbit;
struct TLineTimes;

/// The fitted parameters: scan angle, roll, pitch, yaw (degrees) and clock offset (s).
inline constexpr int kScannerParameters = 5;
/// The fitted fields of a calibration and their uncertainties, in that order.
inline constexpr double TScannerCalibration::*kFittedFields[kScannerParameters] = {
    &TScannerCalibration::ScanAngle, &TScannerCalibration::Roll, &TScannerCalibration::Pitch,
    &TScannerCalibration::Yaw, &TScannerCalibration::TimeOffset};
inline constexpr double TScannerCalibration::*kFittedErrors[kScannerParameters] = {
    &TScannerCalibration::ScanAngleError, &TScannerCalibration::RollError,
    &TScannerCalibration::PitchError, &TScannerCalibration::YawError,
    &TScannerCalibration::TimeOffsetError};
/// Their names as the calibration file has them, and their units.
inline constexpr const char* kFittedNames[kScannerParameters] = {"scan-angle", "roll", "pitch",
                                                                 "yaw", "time-offset"};
inline constexpr const char* kFittedUnits[kScannerParameters] = {"deg", "deg", "deg", "deg",
                                                                 "s"};

using TParameterVector = std::array<double, kScannerParameters>;
/// How a shift (pixels, lines) answers the five parameters and the pass's time shift.
using TShiftDesign = std::array<std::array<double, kScannerParameters + 1>, 2>;

/// One coast match of one pass.
struct TFitObservation {
    int Pass = 0;                     ///< index of the pass
    std::array<double, 2> Shift{};    ///< picture's coast minus drawn coast: pixels, lines
    std::array<bool, 2> Known{};      ///< which of the two the match tells
    TShiftDesign Design{};            ///< see TShiftDesign
};

/// What the fit starts from and leans on where the matches say little.
struct TFitPriors {
    TParameterVector Value{};
    TParameterVector Sigma{}; ///< a parameter's prior standard deviation
    /// Per pass: the standard deviation of its own time shift, seconds.
    std::vector<double> PassShiftSigma;
    /// Parameters held at their prior values from the start (an earlier solve found the
    /// matches do not determine them).
    std::array<bool, kScannerParameters> Held{};
};

/// The parameters and the passes' own time shifts (seconds, added to the clock offset).
struct TFitState {
    TParameterVector Parameters{};
    std::vector<double> PassShifts;
};

struct TFitSolution {
    TFitState State;                ///< the current state moved by the solved step
    TParameterVector Error{};       ///< standard uncertainties
    std::array<bool, kScannerParameters> Determined{}; ///< false: held at the prior
    std::vector<double> PassShiftError;
    std::array<double, 2> Scale{};  ///< robust spread of the residuals: pixels, lines
    std::vector<std::array<double, 2>> Residual; ///< per observation, after the step
    std::vector<std::array<double, 2>> Weight;   ///< per observation, robust weight 0..1
};

/// One robust solve around `current`. A parameter whose uncertainty stays above a quarter
/// of its prior's is not determined by the matches: it is held at its prior value and said
/// to be.
TFitSolution SolveScannerFit(std::span<const TFitObservation> observations,
                             const TFitState& current, const TFitPriors& priors);

/// The design of a match at image column x and line y (fractional) of a pass timed by
/// `times` (`lines` lines) and placed by `orbit` (with the pass's element set), around
/// the calibration `at`, by central differences of the orbit's model. The orbit's own
/// calibration is left as it was.
TShiftDesign ScannerDesign(TOrbit& orbit, const TLineTimes& times, int lines,
                           const TScannerCalibration& at, double x, double y);

} // namespace vantorel
