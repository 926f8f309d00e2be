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
    TExtBitmap Bitmap; ///< 8 bits per pixel
    TImageFileFormat Format = TImageFileFormat::Bmp;
};

/// Reads a channel image. A JPEG gets the grey ramp before decoding and is equalised
/// once (clip limiting off), its compression leaving the contrast flat; a PNG in colour or
/// with a palette becomes its grey levels, alpha blended over black; a BMP is read by the
/// bitmap's tolerant reader. Errors of the readers are thrown with their text.
TChannelImage LoadChannelImage(const std::string& path);

} // namespace vantorel
