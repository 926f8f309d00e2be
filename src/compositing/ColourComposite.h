#pragma once

// Colour composites: three channel images of one pass shown as red, green and blue. The
// channels of a pass start at different times and have different heights, and each loses
// its own lines in a dropout, so a line of the composite is made of the channels' lines
// scanned at its time, never of their lines of the same index.

#include "common/DateTime.h"
#include "imaging/Bitmap.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// The channels a composite shows as red, green and blue, by channel name ("1", "2", "4");
/// one channel may serve twice ("2,2,1").
using TCompositeChannels = std::array<std::string, 3>;

/// "R,G,B": three channel names separated by commas (spaces around a name ignored);
/// nullopt unless there are exactly three and none is empty.
std::optional<TCompositeChannels> ParseCompositeChannels(std::string_view text);
/// The names separated by commas ("1,2,4").
std::string FormatCompositeChannels(const TCompositeChannels& channels);
/// The file name a composite goes by in its product's folder ("composite-1-2-4.png").
std::string CompositeFileName(const TCompositeChannels& channels);

/// The shortest run of level-0 pixels on a line taken for a segment the decoder lost: a
/// lost segment is tens of pixels of 0 wide, while the darkest scene has a few at most.
inline constexpr int kLostRun = 8;

/// The pixels of a decoded channel image (8 bits, before any contrast step) in runs of
/// kLostRun or more of level 0: one byte a pixel, row by row, 1 where lost.
std::vector<std::uint8_t> LostPixels(const TBitmap& decoded);

/// A channel image and when each of its lines was scanned.
struct TTimedChannel {
    const TBitmap* Picture = nullptr; ///< 8 bits per pixel: each byte is the level
    /// One time per line from the top (UTC days); NaN for a line without one (a dropout's,
    /// black in the picture).
    std::span<const TDateTime> Times;
    /// Per pixel, row by row, non-zero where the decoder lost it (see LostPixels); empty
    /// when none is.
    std::span<const std::uint8_t> Lost;
};

/// A composite and when each of its lines was scanned.
struct TTimedComposite {
    TBitmap Picture;                   ///< 24 bits per pixel (B, G, R)
    std::vector<TDateTime> Times;      ///< one per line; NaN where no channel has a line
    std::array<int, 3> LinesUsed = {}; ///< lines of each channel (red, green, blue) placed
    int LinesComplete = 0;             ///< lines all three colours have (the others are black)
};

/// Lays three timed channels together as red, green and blue.
///
/// The composite covers the time all three channels cover: from the latest of their first
/// timed lines to the earliest of their last ones, so that no end of it shows only some of
/// the colours. Its lines are the channels' timed lines in that span, those scanned within
/// a quarter of a line period of each other being one line; where none of them has a line
/// for a line period or more, lines without a time keep the composite's rows in step with
/// time. Each channel's line is placed on the composite line whose time lies within half a
/// line period of its own; a composite line that a channel has no line for is black in
/// all three colours (it stays, with its time, to keep the rows in step), and so is a
/// pixel a channel lost.
/// @param period the line period, UTC days (> 0).
/// @throws std::invalid_argument when a channel is missing or not 8 bits per pixel, when
///   the channels differ in width or in line count from their times, or when they have no
///   time in common.
TTimedComposite ComposeByTime(const std::array<TTimedChannel, 3>& channels, double period);

} // namespace vantorel
