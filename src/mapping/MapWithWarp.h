#pragma once

#include "common/ScanLayout.h"
#include "mapping/zorMapping.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vantorel {

/// Remaining offset (image pixels) of one location-grid point after the polynomial warps.
struct ResidualPair {
    float dx = 0.0f;
    float dy = 0.0f;
};

/// Where the residual grid's columns lie on an image line: the location grid's samples and,
/// EdgeSpacing apart, as many more on either side as it takes to reach the line's first and
/// last pixels, which lie outside the outer samples but are still seen by the scanner. They
/// lie closer there than the samples do, as the residual bends fastest there.
struct TResidualLayout {
    int SampleFirst; ///< image column of sample 0
    int Spacing;     ///< image columns between neighbouring samples
    int Samples;     ///< samples in a row
    int Before;      ///< grid columns left of the samples: sample 0 is grid column Before
    int After;       ///< grid columns right of the samples
    int EdgeSpacing; ///< image columns between neighbouring grid columns beyond the samples

    constexpr int Columns() const { return Before + Samples + After; }
    constexpr int SampleLast() const { return SampleFirst + (Samples - 1) * Spacing; }
    /// Image column of grid column c (0 .. Columns() - 1).
    constexpr int ColumnOf(int c) const {
        return c < Before             ? SampleFirst - (Before - c) * EdgeSpacing
               : c < Before + Samples ? SampleFirst + (c - Before) * Spacing
                                      : SampleLast() + (c - Before - Samples + 1) * EdgeSpacing;
    }
};

constexpr TResidualLayout ResidualLayoutOf(const TScanLayout& scan) {
    const int edge = scan.Step / 2;
    return {scan.FirstColumn,
            scan.Step,
            kGridColumns,
            (scan.FirstColumn + edge - 1) / edge,
            (scan.Width - 1 - scan.LastColumn() + edge - 1) / edge,
            edge};
}

/// Residual pairs in a row: room for the widest residual layout.
inline constexpr int kResidualColumns = std::max(ResidualLayoutOf(kMeteorScanLayout).Columns(),
                                                 ResidualLayoutOf(kWideScanLayout).Columns());

/// One row per image line, one residual pair per grid column (TResidualLayout). Made by the
/// image fit and shared with the mapping, which keeps it alive after the fit's caller lets go.
using ResidualRow = std::array<ResidualPair, kResidualColumns>;
using ResidualGrid = std::vector<ResidualRow>;

/// The mapping from latitude/longitude to a pixel of one cross-track scanner image: an
/// azimuthal equidistant projection centred on the mid-picture nadir point, a rotation,
/// polynomial warps, the ground-distance-to-scan-column lookup and a residual grid.
/// Set up per image by InitialiseForPass and the fit's setters.
class TWarpedMapping : public TMapping {
public:
    /// Centre longitude of a mapping that has not been fitted.
    static constexpr float kNotFitted = -123456.0f;
    /// Earth radius (km, WGS-72 equatorial).
    static constexpr double kEarthRadiusKm = 6378.135;
    /// Normalised projection units per radian of great-circle distance.
    static constexpr double kProjectionScale = 4.3;
    /// The scanner's half-angle used when 0 is given (degrees).
    static constexpr double kDefaultHalfAngleDeg = 55.37;
    /// Ground-to-scan table index range: -2048 .. 2047.
    static constexpr int kTableHalf = 2048;
    /// Times, at most, the residual is looked up again at the corrected place.
    static constexpr int kResidualRefinements = 4;
    /// A residual that changes by less than this (pixels) from one look-up to the next is
    /// not looked up again.
    static constexpr float kResidualSettled = 0.01f;

    TWarpedMapping();

    /// Prepares the mapping for one image.
    /// @param format scan format: 1, 4 or 5; 0 chooses from the track step (4 below
    ///   1.05 km, 1 below 2.2 km, else 2). Formats 2 and 3 (reduced resolutions) are not
    ///   supported: std::invalid_argument "Scan format N is not supported".
    /// @param midLine image line of the projection centre.
    /// @param lon0, lat0 projection centre (degrees), the mid-picture nadir point.
    /// @param altitudeKm satellite height above the ground (km).
    /// @param trackStepKm ground step per image line (km); above 2.2 a third of it is the
    ///   ground pixel size.
    /// @param halfAngleDeg the scanner's half-angle (degrees; 0 means 55.37).
    void InitialiseForPass(std::uint8_t format, int midLine, float lon0, float lat0,
                           float altitudeKm, float trackStepKm, float halfAngleDeg);

    /// Image rotation in degrees.
    void SetRotation(float degrees);
    float RotationDegrees() const;
    /// y <- b2 y^2 + b1 y + b0 where |y| is below the vertical-warp limit.
    void SetVerticalWarp(float b2, float b1, float b0);
    /// x <- a3 x^3 + a2 x^2 + a1 x.
    void SetHorizontalWarp(float a3, float a2, float a1);
    /// x <- x + s2 y^2 + s1 y + s0.
    void SetHorizontalSkew(float s2, float s1, float s0);
    /// Takes a share of the residual grid and its layout: rows image lines (at most the
    /// grid's size), grid column j at image column first + spacing * j, columns (1 ..
    /// kResidualColumns).
    void SetResidualGrid(std::shared_ptr<const ResidualGrid> grid, int rows, int first, int spacing,
                         int columns);
    /// As above with the fit's layout, grid columns beyond the samples included: there,
    /// where the residual bends fastest, it is interpolated by a cubic through the four
    /// nearest grid columns instead of a straight line between two.
    void SetResidualGrid(std::shared_ptr<const ResidualGrid> grid, int rows,
                         const TResidualLayout& layout);

    /// The forward transform: image column x and line y (pixels) of lon, lat (degrees).
    /// With useScanTable false x is the linear ground-pixel column (0 at the left swath
    /// edge). False when not fitted (x, y untouched), beyond the swath or when the input
    /// is not finite (x, y written where they could be computed).
    bool LatLonToImageF(float& x, float& y, float lon, float lat, bool useScanTable) const;
    /// LatLonToImageF with the scan table, rounded to whole pixels (ties to even); writes
    /// nothing on failure.
    bool LatLonToImage(int& x, int& y, float lon, float lat) const override;
    /// In blocks, through the batch LatLonToImageF.
    void LatLonToImage(std::span<const TLonLat> from, TProjectedPixel* to) const override;
    /// How many projections a batch runs side by side: four where the processor has AVX
    /// (Best), else two. The results are the same to the bit (tests compare them).
    enum class TLanes { Two, Best };
    /// Where a batch refuses a point (ok false): its coordinates written as one point's
    /// are (Written), or left unrefined by the residuals, for callers that drop such points.
    enum class TRefused { Written, Unrefined };
    /// LatLonToImageF of many positions, into x, y and ok [0 .. from.size() - 1]: the same
    /// results, sooner (the fit's grid goes through this).
    void LatLonToImageF(std::span<const TLonLat> from, float* x, float* y, bool* ok,
                        bool useScanTable, TLanes lanes = TLanes::Best,
                        TRefused refused = TRefused::Written) const;
    /// The scale W: swath width in ground pixels.
    int GetMapHeight() const override { return FScale; }
    /// Ground-pixel offset from the nadir of the image column at `offset` from the centre
    /// column, from the current format's table; 0 outside the table.
    float ScanToGround(int offset) const;

    /// The ground-to-scan table entry of ground pixel g (-2048 .. 2047).
    float GroundToScan(int g) const;
    std::uint8_t ScanFormat() const { return FScanFormat; }
    bool Fitted() const { return FCentreLon != kNotFitted; }
    int MidLine() const { return FMidLine; }
    float LastTableIncrement() const { return FLastIncrement; }
    /// The normalised coordinates after projection, rotation and warps (tests).
    void Normalised(double& x, double& y, float lon, float lat) const;

private:
    // Points a batch takes through each stage together: enough for the processor to
    // overlap, few enough for the stage's results to stay in the nearest cache.
    static constexpr size_t kBatchBlock = 64;

    void BuildGroundToScan(float altitudeKm, float trackStepKm, float halfAngleDeg);
    void BuildScanToGround();
    template <class T> void NormalisedOf(T& x, T& y, const T& lon, const T& lat) const;
    // A batch's block of up to kBatchBlock points up to the residuals, V of them at a time.
    template <class V>
    void ScanPositions(const TLonLat* from, size_t n, float* x, float* y, bool* ok,
                       bool useScanTable) const;
    void ScanPositionsFour(const TLonLat* from, size_t n, float* x, float* y, bool* ok,
                           bool useScanTable) const;
    // The image position from normalised coordinates: the scan table, the residuals.
    bool FromNormalised(float& x, float& y, double nx, double ny, bool useScanTable) const;
    // FromNormalised before the residuals.
    bool ScanPosition(float& x, float& y, double nx, double ny, bool useScanTable) const;
    int GridRowOf(float y) const;
    ResidualPair ResidualAt(float x, float y) const;
    ResidualPair ResidualBeyondSamples(const ResidualRow& row, float x, float u) const;
    bool ResidualApplies(float x, float y) const;
    void ApplyResiduals(float& x, float& y) const;
    // Over many points, or only those whose `only` is set.
    void ApplyResiduals(std::span<float> x, std::span<float> y, const bool* only = nullptr) const;
    ResidualPair SettleByLookUps(float x, float y, ResidualPair r) const;
    bool SettleInOneCell(float x, float y, ResidualPair& r) const;

    float FCentreLon = kNotFitted;
    float FCentreLat = 0.0f;
    float FRotation = 0.0f; // radians
    // Double, not single: in single precision every point within about 1.5 km of the
    // centre gives cos c >= 1 and lands on the centre, a line off near the middle line.
    double FSinLat0 = 0.0;
    double FCosLat0 = 0.0;
    float FSinRot = 0.0f;
    float FCosRot = 0.0f;
    std::int32_t FMidLine = 0;
    std::array<float, 2 * kTableHalf> FGroundToScan{}; // index g + 2048
    // Scan offsets -CentreColumn .. CentreColumn - 1 of the wide and the Meteor layout.
    std::array<float, 2 * kWideScanLayout.CentreColumn> FScanToGround1024{};
    std::array<float, 2 * kMeteorScanLayout.CentreColumn> FScanToGround770{};
    std::int32_t FScale = 2;
    std::uint8_t FScanFormat = 0;
    float FVertWarpLimit = 4.0f;
    float FA3 = 0.0f, FA2 = 0.0f, FA1 = 0.0f;
    float FB2 = 0.0f, FB1 = 0.0f, FB0 = 0.0f;
    float FS2 = 0.0f, FS1 = 0.0f, FS0 = 0.0f;
    std::int32_t FGridRows = 0;
    TResidualLayout FGridLayout{};
    float FRecipGridSpacing = 0.0f;
    float FRecipEdgeSpacing = 0.0f;
    struct TCubicNodes {
        float at[4];    // image columns of four neighbouring grid columns
        float scale[4]; // 1 / prod_{j != i} (at[i] - at[j])
    };
    std::vector<TCubicNodes> FCubicNodes; // from each grid column that has three after it
    std::shared_ptr<const ResidualGrid> FResiduals;
    const ResidualRow* FResidualRows = nullptr; // FResiduals' rows, read on every look-up
    float FLastIncrement = 0.0f;
};

} // namespace vantorel
