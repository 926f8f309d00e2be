#pragma once

// Saving a picture: the format follows the file name, and each format is written the one
// way the program writes it.

#include "imaging/Bitmap.h"

#include <string>

namespace vantorel {

enum class TPictureFormat { Bmp, Jpeg, Png, GeoTiff };

/// Quality of saved JPEG pictures.
inline constexpr int kJpegQuality = 92;
/// The comment written into saved JPEG and PNG pictures.
inline constexpr const char* kPictureComment =
    "Geographic overlay drawn by Vantorel, a Corvane program";

/// JPEG for a ".jpg" or ".jpeg" name, PNG for a ".png" name, GeoTIFF for a ".tif" or
/// ".tiff" name (any case), otherwise a Windows bitmap whatever the extension.
TPictureFormat PictureFormatForName(const std::string& fileName);

/// Writes the picture in the format its name calls for: a 24-bit Windows bitmap, a JPEG
/// of quality 92 with the attribution comment, or a PNG naming the program (a GeoTIFF
/// needs its control points: see WriteGeoTiff). Errors of the writer are thrown.
void WritePicture(const TBitmap& picture, const std::string& fileName);
/// The same in a given format.
void WritePicture(const TBitmap& picture, const std::string& fileName, TPictureFormat format);

} // namespace vantorel
