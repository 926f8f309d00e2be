#pragma once

// JPEG file input and output for bitmaps, on libjpeg-turbo's libjpeg API.

#include "imaging/Bitmap.h"

#include <cstdint>
#include <span>
#include <string>

namespace vantorel {

/// Writes an 8-bit or 24-bit bitmap as a baseline JPEG file.
///   quality: 1..100 (values outside are clamped by the codec).
///   grey: with an 8-bit bitmap, one grey component without subsampling; otherwise three
///         components (Y, Cb, Cr; chroma 2 x 2 subsampled), pixels through the palette.
///   comment: written as a JPEG comment marker when not empty (at most 65 533 bytes).
/// Returns false, writing nothing, for a bitmap of width or height 0. Every other
/// failure (a pixel format other than pf8bit or pf24bit, a codec error, a file that
/// cannot be written) throws EWriteError("Error writing JPEG to file") and leaves no
/// file behind.
bool WriteJpegFile(const TBitmap& bitmap, const std::string& fileName, int quality, bool grey,
                   const std::string& comment);

/// Reads a JPEG file into a bitmap.
///   adoptFormat: false keeps the bitmap's pf8bit (colour JPEGs read as grey) or pf24bit
///                (grey JPEGs read as equal R, G, B); true gives pf8bit, pf24bit or
///                pf32bit for 1, 3 or 4 components.
///   scale: 0 full size, 1 one half, 2 one quarter, 3 one eighth (sizes rounded up:
///          (W + 1) / 2, (W + 3) / 4, (W + 7) / 8); other values read at full size.
///   reason: when given, receives the cause of a false result.
/// Returns false for a null bitmap, a missing or unreadable file, a bitmap that is
/// neither 8-bit nor 24-bit without adoptFormat (the bitmap untouched), a component
/// count other than 1, 3 or 4, a size that cannot be real (more pixels than 1024 per
/// byte of file, or beyond TBitmap's limits), and a decoding error; a failure after the
/// header has been read leaves the bitmap with its new size and format. Four-component
/// pixels are stored B, G, R, A with the colours premultiplied by A / 255.
bool ReadJpegFile(TBitmap* bitmap, const std::string& fileName, bool adoptFormat, int scale,
                  std::string* reason = nullptr);

/// ReadJpegFile on a JPEG held in memory.
bool ReadJpegData(TBitmap* bitmap, std::span<const std::uint8_t> data, bool adoptFormat, int scale,
                  std::string* reason = nullptr);

} // namespace vantorel
