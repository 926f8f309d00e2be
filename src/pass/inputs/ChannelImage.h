#pragma once

// A channel image file as the decoder wrote it: a BMP, JPEG or PNG, told apart by its
// first bytes (the extension decides only when they say nothing), read into an 8-bit
// bitmap with a grey palette.

#include "imaging/BMPExtImage.h"

#include <string>
#include <string_view>

namespace vantorel {

enum class TImageFileFormat { Bmp, Jpeg, Png };

/// The format a file's first bytes announce; when they announce none, ".JPG", ".JPEG" and
/// ".PNG" names (any case) are taken at their word and everything else is read as a BMP.
TImageFileFormat ImageFileFormat(std::string_view firstBytes, const std::string& fileName);

struct TChannelImage {
    TExtBitmap Bitmap; ///< 8 bits per pixel under the 256-level grey ramp
    TImageFileFormat Format = TImageFileFormat::Bmp;
    /// Rows decoded from the file and rows it should hold: fewer for a JPEG cut short.
    int RowsDecoded = 0;
    int RowsInFile = 0;
    /// What the decoder had to work around ("" for a clean file).
    std::string DecoderWarning;
};

/// Reads a channel image. A JPEG gets the grey ramp before decoding and is equalised
/// once (clip limiting off), its compression leaving the contrast flat; a BMP is read by
/// the bitmap's tolerant reader. Whatever its depth and palette (1-bit, 4-bit, a palette
/// of 224 entries, colour), every image then holds the grey level of each pixel's colour
/// under the full 256-level ramp, so that contrast can spread it; alpha is blended over
/// black. Errors of the readers are thrown with their text.
TChannelImage LoadChannelImage(const std::string& path);

} // namespace vantorel
