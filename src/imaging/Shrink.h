#pragma once

// A picture made smaller for the screen, each screen pixel the average of the picture
// pixels it covers: thin lines and fine detail fade instead of breaking up. Straight from
// the 24-bit picture, in one pass over it on every core.

#include "imaging/Bitmap.h"

#include <cstdint>

namespace vantorel {

/// Writes `bitmap` (pf24bit, or pf8bit through its palette) shrunk to width x height into out, rows
/// outStride bytes apart, as 0xFFRRGGBB words. Each output pixel averages the picture's area it
/// covers, pixels on the area's edge weighed by the part inside. False, writing nothing, unless 1
/// <= width <= the bitmap's width and 1 <= height <= its height, with at most 250 rows to an output
/// row.
bool ShrinkByAreas(const TBitmap& bitmap, int width, int height, std::uint32_t* out,
                   std::int64_t outStride);
/// The same into `to`, a pf24bit bitmap of the size wanted.
bool ShrinkByAreas(const TBitmap& bitmap, TBitmap& to);

} // namespace vantorel
