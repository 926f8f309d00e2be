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
/// cannot be written) throws EWriteError with the headline "Error writing JPEG to file",
/// the cause (libjpeg's own message, or the system's) and the file name, and leaves no
/// file behind.
bool WriteJpegFile(const TBitmap& bitmap, const std::string& fileName, int quality, bool grey,
                   const std::string& comment);

/// How much of a JPEG a read decoded. A file cut short (or whose coded data breaks off)
/// still gives a picture: the rows before the break hold their pixels, the rest what
/// libjpeg makes of missing data (flat grey).
struct TJpegReadResult {
    /// Rows of the bitmap decoded from the file's data, 1..RowsInHeader, from the top.
    /// Counted in whole groups of 8 or 16 file rows (libjpeg's unit), so a few rows
    /// beyond may hold pixels too. A multi-scan (progressive) file that breaks off after
    /// its first scan counts every row: each has its first, coarser pass (Warning still
    /// tells that the file is short).
    int RowsDecoded = 0;
    /// Rows the header promises, at the scale read (the bitmap's height).
    int RowsInHeader = 0;
    /// libjpeg's words for the damage it worked around ("Premature end of JPEG file",
    /// "Corrupt JPEG data: ..."); the first such message, or the one about the data
    /// running out when there is one. Empty for a clean file.
    std::string Warning;
    /// Whether every row was decoded.
    bool Complete() const { return RowsDecoded == RowsInHeader; }
};

/// Reads a JPEG file into a bitmap.
///   bitmap: must not be null (std::invalid_argument).
///   adoptFormat: false keeps the bitmap's pf8bit (colour JPEGs read as grey) or pf24bit
///                (grey JPEGs read as equal R, G, B); true gives pf8bit, pf24bit or
///                pf32bit for 1, 3 or 4 components.
///   scale: 0 full size, 1 one half, 2 one quarter, 3 one eighth (sizes rounded up:
///          (W + 1) / 2, (W + 3) / 4, (W + 7) / 8); other values read at full size.
/// Returns how many rows were decoded (see TJpegReadResult). Throws:
/// - EFOpenError for a missing or unreadable file;
/// - EInvalidGraphicOperation for a bitmap that is neither 8-bit nor 24-bit without
///   adoptFormat (the bitmap untouched);
/// - EInvalidGraphic with the headline "JPEG image is not valid", the cause and the file
///   name for a component count other than 1, 3 or 4, a size that cannot be real (more
///   pixels than 1024 per byte of file, or beyond TBitmap's limits), an error libjpeg
///   cannot work around (its own message is the cause), and data that break off before
///   the first row. A failure after the header has been read leaves the bitmap with its
///   new size and format.
/// Four-component pixels are stored B, G, R, A with the colours premultiplied by A / 255.
TJpegReadResult ReadJpegFile(TBitmap* bitmap, const std::string& fileName, bool adoptFormat,
                             int scale);

/// ReadJpegFile on a JPEG held in memory (the errors carry no file name).
TJpegReadResult ReadJpegData(TBitmap* bitmap, std::span<const std::uint8_t> data, bool adoptFormat,
                             int scale);

} // namespace vantorel
