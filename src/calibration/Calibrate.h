#pragma once

// A satellite's scanner calibration from several of its real passes: each pass is run with
// the calibration as it stands, its coasts matched tile by tile, and the scanner's scan
// angle, roll, pitch, yaw and clock fitted to all the matches together, with a time shift
// of each pass's own (its element set's age moves it along the track); then again from
// the new values until they settle. What the passes cannot tell stays at its prior.

#include "calibration/CoastMatches.h"
#include "calibration/ScannerFit.h"
#include "common/DateTime.h"
#include "orbit/ScannerCalibration.h"
#include "pass/PassPipeline.h"

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vantorel {

class TCartogList;

/// One pass to calibrate on: its name and how to run it (with the sources' calibration).
struct TCalibrationInput {
    std::string Label;
    std::function<TPassOutcome(TPassSources&, TPassReport&)> Run;
};

struct TCalibrationOptions {
    TTileGrid Tiles;
    int Iterations = 8; ///< at most, each a run of every pass and a solve
    /// The values the fit starts from and falls back on.
    TScannerCalibration Prior;
    /// Their standard deviations: scan angle, roll, pitch, yaw (degrees), clock (s).
    TParameterVector PriorSigma{2.0, 2.0, 1.0, 5.0, 10.0};
    /// A pass's own time shift has a standard deviation of Fixed + PerDay x the age of its
    /// element set in days: on N2-4 a set 16 days old moved a pass by about 0.26 s.
    double ShiftSigmaFixed = 0.05;
    double ShiftSigmaPerDay = 0.02;
    /// Lines and pixels the tiles are searched either side of the whole picture's match:
    /// on the first round, then once the values are near.
    int FirstSearch = 40;
    int LaterSearch = 12;
    /// The confidence a tile's match needs (see TAlignmentOptions::MinConfidence): on the
    /// first round, and within the narrower search of the later ones, where chance has
    /// fewer places to fit and the robust weights deal with what it still fits.
    double FirstConfidence = 6.5;
    double LaterConfidence = 4.0;
};

/// What a pass shows at one calibration.
struct TPassMeasure {
    TAlignment Whole; ///< the run's own alignment, from no offsets
    std::vector<TTileMatch> Tiles;
    TCoastDistance AtModel;   ///< the coasts where the model draws them (no offsets)
    TCoastDistance AsAligned; ///< at the alignment's offsets when it is confident
};

/// A pass's part in a calibration.
struct TPassCalibration {
    std::string Label;
    TDateTime Start = 0.0;
    bool Northbound = false;
    int Lines = 0;
    int Width = 0;
    double ElementSetAge = 0.0; ///< days, pass start minus epoch
    double ShiftSigma = 0.0;    ///< its own time shift's prior, s
    double Shift = 0.0;         ///< its own time shift, s (added to the clock offset)
    double ShiftError = 0.0;
    TPassMeasure Before; ///< at the prior
    TPassMeasure After;  ///< at the calibration found, with the pass's own shift
    /// Per tile of After: the last solve's robust weight of its pixel and line shift (-1:
    /// not in the solve).
    std::vector<std::array<double, 2>> Weight;
    std::string Disagreement; ///< why the pass does not agree with the others; "" if it does
};

struct TCalibrationResult {
    std::string CatalogueNumber;
    std::string SatelliteName;
    TScannerCalibration Calibration; ///< the values found, with their uncertainties
    std::array<bool, kScannerParameters> Determined{};
    TCalibrationOptions Options;
    std::array<double, 2> Scale{}; ///< the robust spread of the last solve: pixels, lines
    int Iterations = 0;
    int Matches = 0; ///< tiles in the last solve
    bool Settled = false; ///< the last round moved nothing by more than its uncertainty
    std::vector<TPassCalibration> Passes;
};

/// Calibrates the scanner of one satellite (by catalogue number) on its passes. Throws
/// std::runtime_error, naming the pass, for a pass that ends early, is of another satellite
/// or matches no coast; and when no pass is given.
/// @param progress told a line as each round ends (may be empty)
TCalibrationResult CalibrateScanner(const std::string& catalogueNumber,
                                    std::span<const TCalibrationInput> inputs,
                                    TPassSources& sources, const TCartogList& boundaries,
                                    const TCalibrationOptions& options,
                                    const std::function<void(const std::string&)>& progress = {});

/// A pass at the calibration the sources hold (no fit): the run's alignment, the tiles and
/// the coast distances. Throws as CalibrateScanner does.
TPassCalibration MeasurePass(const TCalibrationInput& input, TPassSources& sources,
                             const TCartogList& boundaries, const TTileGrid& tiles);

/// The calibration's account: the parameters with their uncertainties (and which were held
/// at their priors), then per pass its shift, whether it disagrees, and per tile the shift
/// before and after.
std::string CalibrationReport(const TCalibrationResult& result);
/// A pass as MeasurePass found it, for a check of the calibration in use.
std::string MeasureReport(const TPassCalibration& pass);

/// The satellite's section of Scanner.cal: the values, where they came from (the command,
/// the passes with their dates and residuals) and what was held at its prior.
std::string CalibrationSection(const TCalibrationResult& result, const std::string& displayName,
                               const std::string& command, TDateTime made);

/// A satellite with no passes of its own, of the same instrument as the measured ones: the
/// scan angle carries over (their weighted mean), the yaw and clock only if the measured
/// satellites agree on them within their uncertainties (else 0, the plain model's); roll
/// and pitch, which depend on how the instrument sits on its platform, stay 0. Measured is
/// false. `account` is told, line by line, what carried over and what did not.
TScannerCalibration CarriedOverCalibration(std::span<const TScannerCalibration> measured,
                                           std::vector<std::string>& account);

} // namespace vantorel
