#pragma once

// When the first line of a picture was scanned, found from its own coasts: for a decoder's
// picture that carries no line times, only a time somewhere in its pass.

#include "alignment/CoastLines.h"
#include "common/DateTime.h"
#include "pass/PassPipeline.h"

#include <optional>

namespace vantorel {

struct TStartSearchOptions {
    /// Beyond the picture's own length, how far (seconds) before and after the first line
    /// may lie from the time given: a decoder's time may be when it began or ended.
    double MarginSeconds = 180.0;
};

struct TStartFound {
    bool Found = false;
    TDateTime Start = 0.0;       ///< the first line's time, UTC
    double CoarseConfidence = 0; ///< of the search over the whole span
    double Confidence = 0;       ///< of the final alignment at the start found
    double UncertaintySeconds = 0;
    std::string Doubt; ///< why nothing was found
};

/// The search: the orbit's ground track over the whole span the first line may lie in is
/// laid out as long pictures, their coasts matched to the picture at every line (coarse);
/// then the pass is run at the best start and aligned, and the start moved by the line
/// offset found (fine). The start is taken only when the picture's tiles, each matched on
/// its own, agree with it. Its account goes to `report`.
/// @param picture the channel picture, enhanced, 8 bits, unturned.
/// @param around a time within (or near) the pass.
/// @param period the line period, days.
TStartFound FindStartFromCoasts(const TExtBitmap& picture, TDateTime around, double period,
                                TPassSources& sources, const TCoastLines& coasts,
                                TPassReport& report, const TStartSearchOptions& options = {});

} // namespace vantorel
