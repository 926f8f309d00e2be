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

#include <span>
#include <string>

namespace vantorel {

struct TAlignmentOptions {
    int SearchPixels = 60; ///< searched either side of the starting pixel offset
    int SearchLines = 40;  ///< searched either side of the starting line offset
    /// The peak's height above the mean of the other offsets, in their standard
    /// deviations, below which the answer is not trusted.
    double MinProminence = 6.0;
    /// How much the peak must stand above the best offset away from it (ratio of their
    /// heights above the mean).
    double MinPeakRatio = 1.25;
    /// Shore points that must lie on a clear edge at the answer.
    int MinSupport = 150;
};

struct TAlignment {
    bool Confident = false;
    /// The offsets found (the overlay drawn at x + PixelOffset, y - LineOffset), to a
    /// fraction of a pixel; the starting offsets when nothing was found.
    double PixelOffset = 0.0;
    double LineOffset = 0.0;
    double Prominence = 0.0; ///< see TAlignmentOptions::MinProminence
    double PeakRatio = 0.0;  ///< see TAlignmentOptions::MinPeakRatio
    int Support = 0;         ///< shore points on a clear edge at the answer
    int ShorePoints = 0;     ///< shore points on or near the picture
    double Milliseconds = 0.0;
    /// Why the answer is not trusted ("" when it is).
    std::string Doubt;
};

/// Searches the offsets around (startLineOffset, startPixelOffset) for the one that puts
/// the shore samples on the image's edges.
/// @param image the channel image, 8 bits per pixel, unturned.
/// @param shore the shore as placed on that image by the pass's mapping (see
///   CoastSamplesOnImage).
TAlignment AlignToCoasts(const TBitmap& image, std::span<const TCoastSample> shore,
                         int startLineOffset, int startPixelOffset,
                         const TAlignmentOptions& options = {});

} // namespace vantorel
