#pragma once

// How the MSU-MR scanner of each satellite really looks, as measured against the coasts in
// its pictures: the angle its line spans, and how the instrument sits on the platform and
// how its clock stands against the line times. The scanner model of the orbit applies it
// when a satellite has one; the values live in a data file beside the boundary data
// ("Scanner.cal").

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

struct TScannerCalibration {
    /// Degrees from the outer edge of a line's first pixel to that of its last: the
    /// pixels sweep equal angles, so pixel c (0-based, its centre) looks at
    /// (c - (Pixels - 1) / 2) x ScanAngle / Pixels degrees from the scan's centre.
    double ScanAngle = 110.6;
    int Pixels = 1568; ///< pixels a line
    /// Degrees added to every look angle; positive turns the line towards the left of the
    /// flight (towards higher image columns).
    double Roll = 0.0;
    /// Degrees the look direction is tilted along the track; positive looks ahead.
    double Pitch = 0.0;
    /// Degrees the scan plane is turned about the vertical; positive turns its left half
    /// towards the flight (as TOrbit::YawOffset).
    double Yaw = 0.0;
    /// Seconds added to a line's time before the scanner is placed: positive when the line
    /// was scanned after the time the picture gives it.
    double TimeOffset = 0.0;
    /// Whether the values were measured on real passes of this satellite; false for a
    /// section whose values were carried over from the satellites of the same instrument.
    bool Measured = true;
    /// The standard uncertainty of each value above as the calibration that made it
    /// found it, in the value's unit; 0 when the file gives none.
    double ScanAngleError = 0.0;
    double RollError = 0.0;
    double PitchError = 0.0;
    double YawError = 0.0;
    double TimeOffsetError = 0.0;

    /// The look angle (degrees, positive left of the flight) of an image column.
    double AngleOfColumn(double column) const {
        return (column - (Pixels - 1) / 2.0) * ScanAngle / Pixels + Roll;
    }
};

/// The calibrations of a calibration file, by catalogue number, and what could not be read.
struct TScannerCalibrations {
    std::map<std::string, TScannerCalibration> BySatellite;
    std::vector<std::string> Problems; ///< "line N: ..." for each line not used
};

/// Reads a calibration file's text: "[NNNNN]" starts the section of a catalogue number,
/// then "key = value" lines (scan-angle, pixels, roll, pitch, yaw, time-offset; "." as
/// decimal separator; a value may be followed by "+- UNCERTAINTY"; "measured = yes|no");
/// "#" starts a comment. A value out of its range (scan angle 90 to
/// 130 degrees, pixels 100 to 10000, angles within 10 degrees, time within 60 s) or a
/// line that does not read is left out and named in Problems.
TScannerCalibrations ParseScannerCalibrations(std::string_view text);

/// The "key = value" lines of a section as ParseScannerCalibrations reads them back, with
/// the uncertainties that are given (values to 3 decimals, uncertainties to 3).
std::string FormatScannerValues(const TScannerCalibration& calibration);

/// The calibration file's text with the section of one catalogue number replaced by
/// `section` (which starts with its "[NNNNN]" line), or added at the end when the file
/// has none. The comment lines just above the old section's header belong to it and go
/// with it; everything else stays as it was.
std::string ReplaceScannerSection(std::string_view text, const std::string& catalogueNumber,
                                  const std::string& section);

} // namespace vantorel
