#pragma once

// Where a cross-track scanner's ground samples fall on an image line. The orbit places the
// samples, the fit and the mapping turn them into pixels, the readout interpolates between
// them: all of them read the layout from here.

#include <cstdint>

namespace vantorel {

/// Ground samples across one scan line.
inline constexpr int kGridColumns = 51;
/// The sample at the middle of the swath (the nadir).
inline constexpr int kNadirColumn = kGridColumns / 2;

/// The sample layout of one scanner.
struct TScanLayout {
    int FirstColumn;  ///< image column of sample 0
    int Step;         ///< image columns between neighbouring samples
    int CentreColumn; ///< image column the scan offsets of the fit count from
    /// The line's centre as an image column, which is also its distance in pixels from the
    /// swath edge: the extent of the scan half-angle.
    double HalfWidth;
    int Width; ///< image columns in a line

    /// Image column of sample k (0 .. kGridColumns - 1).
    constexpr int ColumnOf(int k) const { return FirstColumn + Step * k; }
    /// Image column of the last sample.
    constexpr int LastColumn() const { return ColumnOf(kGridColumns - 1); }
    /// Pixels from the line's centre to image column x (fractional); positive above the
    /// nadir sample.
    constexpr double CentreOffsetOfColumn(double x) const {
        return x - ColumnOf(kNadirColumn) + 0.5;
    }
    /// Pixels from the line's centre to sample k; positive for samples above the nadir.
    constexpr double CentreOffsetOf(int k) const { return CentreOffsetOfColumn(ColumnOf(k)); }
};

/// The Meteor MSU-MR scanner: 1568 pixels a line, samples at columns 21, 51, ..., 1521.
inline constexpr TScanLayout kMeteorScanLayout{21, 30, 770, 769.5, 1568};
/// The wider 2048-pixel layout of the other scan formats: columns 24, 64, ..., 2024.
inline constexpr TScanLayout kWideScanLayout{24, 40, 1024, 1023.5, 2048};

/// The layout of a scan format: 4 and 5 are the Meteor layout, the others the wide one.
constexpr const TScanLayout& ScanLayoutOfFormat(std::uint8_t format) {
    return (format == 4 || format == 5) ? kMeteorScanLayout : kWideScanLayout;
}

} // namespace vantorel
