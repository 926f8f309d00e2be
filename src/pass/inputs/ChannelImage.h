#pragma once

// A channel image file as the decoder wrote it: a BMP, JPEG or PNG, told apart by its
// first bytes (the extension decides only when they say nothing), read into an 8-bit
// bitmap with a grey palette; or a colour picture (a composite of channels), kept in
// colour.

#include "imaging/BMPExtImage.h"

#include <string>
#include <string_view>

namespace vantorel {

enum class TImageFileFormat { Bmp, Jpeg, Png };

/// The format a file's first bytes announce; when they announce none, ".JPG", ".JPEG" and
/// ".PNG" names (any case) are taken at their word and everything else is read as a BMP.
TImageFileFormat ImageFileFormat(std::string_view firstBytes, const std::string& fileName);

/// The largest channel picture taken: wider than any scanner's lines (MSU-MR's are 1568),
/// longer than any pass (about 20 minutes of lines). Refused from its header, before any
/// memory is taken for it.
inline constexpr int kMostPictureWidth = 8192;
inline constexpr int kMostPictureLines = 65536;

struct TChannelImage {
    /// 8 bits per pixel under the 256-level grey ramp; for a colour picture 24 bits.
    TExtBitmap Bitmap;
    bool Colour = false; ///< a colour picture: Bitmap holds its colours as read
    TImageFileFormat Format = TImageFileFormat::Bmp;
    /// Rows decoded from the file and rows it should hold: fewer for a JPEG cut short.
    int RowsDecoded = 0;
    int RowsInFile = 0;
    /// What the decoder had to work around ("" for a clean file).
    std::string DecoderWarning;
};

/// Reads a channel image. A JPEG is equalised once (clip limiting off), its compression
/// leaving the contrast flat; a BMP is read by the bitmap's tolerant reader. Whatever its
/// depth and palette (1-bit, 4-bit, a palette of 224 entries, grey pixels in 24 bits),
/// every image then holds the grey level of each pixel under the full 256-level ramp, so
/// that contrast can spread it; alpha is blended over black. A picture of 16 bits or more
/// a pixel whose pixels are not all grey is a colour picture: it keeps its colours, in
/// 24 bits, untouched. Errors of the readers are thrown with their text.
TChannelImage LoadChannelImage(const std::string& path);

/// A channel image read on a thread of its own while it lives, for LoadChannelImage of
/// the same path to take (its errors too): a run's first steps, which need not the
/// picture, go on meanwhile. Where nothing took it, the read is waited for and dropped.
class TChannelImageReadAhead {
public:
    explicit TChannelImageReadAhead(const std::string& path);
    ~TChannelImageReadAhead();
    TChannelImageReadAhead(const TChannelImageReadAhead&) = delete;
    TChannelImageReadAhead& operator=(const TChannelImageReadAhead&) = delete;

private:
    std::string path_;
};

} // namespace vantorel
