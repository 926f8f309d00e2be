#pragma once

// Automatic alignment: the overlay offsets that put the drawn shores on the picture's own
// land/water edges. A candidate offset is scored by how strongly the picture's brightness
// changes across each shore point, along the shore's normal and without regard to sign
// (water is dark in the visible channels and may be bright in the infrared), each point's
// share capped so that a few strong cloud edges cannot outvote a coast. The search runs
// coarse to fine, then to a fraction of a pixel; the confidence is the score's peak
// against the rest of the searched offsets and the number of shore points that carry it.

#include "alignment/CoastLines.h"
#include "imaging/Bitmap.h"

#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vantorel {

struct TAlignmentOptions {
    /// Searched either side of the starting offsets: a wrong clock or a stale element set
    /// moves a pass along the track by tens of lines; across it the scanner's angles move
    /// it less. The coarse window stays as large as it was (21 x 31 steps).
    int SearchPixels = 40;
    int SearchLines = 60;
    /// How far the best offset's score must stand above what the shore scores placed by
    /// chance (moved far, wrapped round the picture), in standard deviations of those.
    double MinConfidence = 6.5;
    /// How much higher above chance the best offset must stand than the best three or
    /// more search steps from it. When it does not, but stands this much above the best
    /// of its own row (column) and the best of the others lies along its column (row),
    /// the pixel (line) offset alone is trusted: a coast along the track tells the pixel
    /// offset only.
    double MinPeakRatio = 1.2;
    double MinAxisRatio = 2.0;
    /// Shore points that must lie on a clear edge at the answer.
    int MinSupport = 150;
    /// Shore points the coarse search scores at most (every n-th beyond): enough for a
    /// picture's shore; a shore laid out over a longer stretch than the picture needs more.
    int CoarseSamples = 8000;
    /// Judge the best offset against the best of every other line offset of the search
    /// (16 coarse steps or more away), not against the shore placed far from it: for a
    /// search much longer than the picture, where the shore wrapped round the picture
    /// would put more of itself on it than any true offset does.
    bool ChanceFromSearch = false;
};

struct TAlignment {
    bool Confident = false;
    /// The offsets found (the overlay drawn at x + PixelOffset, y - LineOffset), to a
    /// fraction of a pixel; the starting offsets when nothing was found.
    double PixelOffset = 0.0;
    double LineOffset = 0.0;
    double Confidence = 0.0; ///< see TAlignmentOptions::MinConfidence
    double PeakRatio = 0.0;  ///< see TAlignmentOptions::MinPeakRatio
    double PixelRatio = 0.0; ///< the same within the best offset's row
    double LineRatio = 0.0;  ///< the same within its column
    bool PixelOnly = false;  ///< only the pixel offset is trusted (LineOffset: the start)
    bool LineOnly = false;   ///< only the line offset is trusted
    int Support = 0;         ///< shore points on a clear edge at the answer
    int ShorePoints = 0;     ///< shore points on or near the picture
    double Milliseconds = 0.0;
    /// Why the answer is not trusted ("" when it is).
    std::string Doubt;
};

/// Below this confidence nothing in the search stands out of chance at all: a picture
/// whose coasts are only partly under cloud still scores 5 or more where they are.
inline constexpr double kNoMatchConfidence = 4.0;

/// Whether the picture shows clear coasts (enough shore points on its edges at the best
/// offset) and yet no offset near the overlay puts the overlay's coasts on them: the
/// satellite, the element set or the time is wrong rather than the weather.
bool CoastsContradictOverlay(const TAlignment& found, const TAlignmentOptions& options = {});

/// A picture made ready for alignments: its edges at the two levels of the search and the
/// strength of a strong edge, most of an alignment's work. Alignments of the same picture
/// with other shores (a picture's tiles, a time search's stretches) share one; they may
/// run at once. An 8-bit picture must outlive it (a colour one is copied as grey).
class TAlignmentPicture {
public:
    explicit TAlignmentPicture(const TBitmap& picture, std::span<const char> lostLines = {});
    ~TAlignmentPicture();
    TAlignmentPicture(const TAlignmentPicture&) = delete;
    TAlignmentPicture& operator=(const TAlignmentPicture&) = delete;

    struct TLevels;
    const TLevels& Levels() const { return *levels_; }
    int Width() const;
    int Height() const;

private:
    std::unique_ptr<TLevels> levels_;
};

/// Searches the offsets around (startLineOffset, startPixelOffset) for the one that puts
/// the shore samples on the image's edges.
/// @param image the channel image, 8 bits per pixel, or a colour picture (24 bits, taken by
///   its grey levels), unturned.
/// @param shore the shore as placed on that image by the pass's mapping (see
///   TCoastLines::SamplesOnImage).
/// @param lostLines per image line, non-zero for a line that is not the picture (the
///   black lines of a dropout): no edge is looked for next to one.
TAlignment AlignToCoasts(const TBitmap& image, std::span<const TCoastSample> shore,
                         int startLineOffset, int startPixelOffset,
                         const TAlignmentOptions& options = {},
                         std::span<const char> lostLines = {});
/// The same on a picture made ready (its lost lines given then).
TAlignment AlignToCoasts(const TAlignmentPicture& picture, std::span<const TCoastSample> shore,
                         int startLineOffset, int startPixelOffset,
                         const TAlignmentOptions& options = {});

} // namespace vantorel
