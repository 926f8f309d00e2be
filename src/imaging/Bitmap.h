#pragma once

// The platform bitmap: a device-independent pixel buffer with a palette, the stand-in
// for the desktop platform's bitmap class. Rows are stored top-down, each padded to a
// multiple of 4 bytes, so that a QImage (or a BMP row) can view the memory directly.

#include "common/Errors.h"
#include "common/Memory.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vantorel {

class TCanvas;

/// Leaves the elements a container makes without a value unset: for buffers of pictures
/// and files, which are written whole right after they are made.
template <class T> struct TUnsetAllocator : TLargeBufferAllocator<T> {
    template <class U> struct rebind {
        using other = TUnsetAllocator<U>;
    };
    TUnsetAllocator() = default;
    template <class U> TUnsetAllocator(const TUnsetAllocator<U>&) noexcept {}
    template <class U, class... Args> void construct(U* at, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) {
            ::new (static_cast<void*>(at)) U;
        } else {
            ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
        }
    }
};

/// Bytes that resize() leaves unset.
using TByteBuffer = std::vector<std::uint8_t, TUnsetAllocator<std::uint8_t>>;

/// A colour as the platform keeps it: 0x00BBGGRR (red in the low byte).
using TColor = std::uint32_t;

/// The colour of the given red, green and blue levels (0..255 each).
constexpr TColor RGBColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<TColor>(red) | (static_cast<TColor>(green) << 8) |
           (static_cast<TColor>(blue) << 16);
}
constexpr std::uint8_t GetRValue(TColor c) {
    return static_cast<std::uint8_t>(c & 0xFF);
}
constexpr std::uint8_t GetGValue(TColor c) {
    return static_cast<std::uint8_t>((c >> 8) & 0xFF);
}
constexpr std::uint8_t GetBValue(TColor c) {
    return static_cast<std::uint8_t>((c >> 16) & 0xFF);
}

inline constexpr TColor clBlack = RGBColor(0, 0, 0);
inline constexpr TColor clWhite = RGBColor(255, 255, 255);
inline constexpr TColor clRed = RGBColor(255, 0, 0);
inline constexpr TColor clLime = RGBColor(0, 255, 0);
inline constexpr TColor clBlue = RGBColor(0, 0, 255);
inline constexpr TColor clYellow = RGBColor(255, 255, 0);

/// One palette entry, in the byte order of a BMP colour table.
struct TRGBQuad {
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
    std::uint8_t Reserved = 0;
    friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

/// Pixel layouts. pf8bit: one palette index per pixel; pf16bit: 5-6-5 bits red, green,
/// blue in a little-endian 16-bit word; pf24bit: bytes B, G, R; pf32bit: B, G, R, X.
enum class TPixelFormat { pf8bit, pf16bit, pf24bit, pf32bit };

/// Bytes per pixel of a format (1, 2, 3 or 4).
int BytesPerPixel(TPixelFormat format);

/// The 256-level grey ramp (entry i = red i, green i, blue i).
std::vector<TRGBQuad> GrayRamp();

/// A picture file or stream that could not be read or written. what() is the headline
/// (the message the program has always given) followed, each on a line of its own, by
/// the cause and by "File: " and the path, each only when known and not already part of
/// the headline.
class EImageError : public EFileProblem {
public:
    ///   headline: the first line of the message.
    ///   cause: the reader's or codec's own words for what went wrong; empty when unknown.
    ///   path: the file concerned; empty for a stream or memory.
    explicit EImageError(const std::string& headline, const std::string& cause = {},
                         const std::string& path = {});
};
/// A file that is not a picture the reader understands, or is cut short.
class EInvalidGraphic : public EImageError {
public:
    using EImageError::EImageError;
};
/// A file could not be opened for reading.
class EFOpenError : public EImageError {
public:
    using EImageError::EImageError;
};
/// A picture could not be written.
class EWriteError : public EImageError {
public:
    using EImageError::EImageError;
};
/// An operation asked of a bitmap that cannot do it (wrong format, impossible size).
class EInvalidGraphicOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The platform bitmap. A new bitmap is 0 x 0, pf24bit, without palette.
class TBitmap {
public:
    /// Largest width or height accepted, pixels; larger sizes cannot be real images.
    static constexpr int kMaxDimension = 1 << 16;
    /// Largest pixel memory accepted, bytes.
    static constexpr std::int64_t kMaxBytes = std::int64_t{1} << 30;

    TBitmap();
    virtual ~TBitmap();
    /// Copies pixels, palette, format and the modified flag (never the canvas state).
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    /// Takes the pixels over without copying them, leaving `other` 0 x 0 (its format and
    /// canvas stay its own).
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;

    int Width() const { return width_; }
    int Height() const { return height_; }
    TPixelFormat PixelFormat() const { return format_; }
    /// Bytes from one row to the next: width x bytes per pixel rounded up to 4.
    int Stride() const { return stride_; }

    /// Each setter keeps the pixels that still fit (top-left aligned); new pixels are 0.
    /// Sizes are 0..kMaxDimension; a negative one is taken as 0. Throws
    /// EInvalidGraphicOperation when the memory would exceed kMaxBytes.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);
    /// SetSize for a caller that draws over the whole bitmap next: a changed size leaves
    /// the pixels unset (the padding of each row cleared) instead of clearing them.
    void SetSizeForOverwrite(int width, int height);
    /// Converts the pixels to the new format. Into pf8bit, colour pixels become their grey
    /// level (0.299 R + 0.587 G + 0.114 B) under a grey-ramp palette; a bitmap turning
    /// pf8bit without a palette gets the grey ramp.
    void SetPixelFormat(TPixelFormat format);

    /// Row y (0 = top), Stride() bytes. Throws std::out_of_range for a row outside 0..H-1.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    /// The whole pixel memory, Height() x Stride() bytes, top row first.
    std::span<std::uint8_t> Bits() { return pixels_; }
    std::span<const std::uint8_t> Bits() const { return pixels_; }

    /// Palette entries (at most 256); used by pf8bit, carried along by other formats.
    const std::vector<TRGBQuad>& Palette() const { return palette_; }
    /// Replaces the palette (entries beyond 256 are dropped) and marks the bitmap modified.
    void SetPalette(std::vector<TRGBQuad> palette);

    /// The colour of pixel (x, y); clBlack outside the bitmap or for an index beyond
    /// the palette.
    TColor PixelColor(int x, int y) const;

    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }

    /// Reads a Windows bitmap from the stream's current position to its end. Accepts
    /// uncompressed 1, 4 and 8 bits per pixel with a palette (read as pf8bit), 16 (5-5-5
    /// or bit fields, read as pf16bit 5-6-5), 24 and 32 bits per pixel (bit fields too),
    /// top-down or bottom-up rows, a final row without its padding. Throws EInvalidGraphic with the
    /// reason; the bitmap is unchanged then.
    virtual void LoadFromStream(std::istream& stream);
    /// Opens the file (EFOpenError when it cannot) and reads it as LoadFromStream does:
    /// a regular file through LoadFromBytes, mapped, not copied into fresh memory.
    void LoadFromFile(const std::string& fileName);
    /// A whole file held in memory, read as LoadFromStream reads a stream at its start:
    /// LoadFromMemory here.
    virtual void LoadFromBytes(std::span<const std::uint8_t> file) { LoadFromMemory(file); }
    /// Parses a complete BMP file held in memory (see LoadFromStream).
    void LoadFromMemory(std::span<const std::uint8_t> file);

    /// Writes a BMP file with a BITMAPINFOHEADER, rows bottom-up: pf8bit with its palette,
    /// pf24bit and pf32bit uncompressed (with the palette, if any, as colour table),
    /// pf16bit with 5-6-5 bit fields.
    void SaveToStream(std::ostream& stream) const;
    /// Throws EWriteError when the file cannot be written.
    virtual void SaveToFile(const std::string& fileName);
    /// SaveToStream into a file, the bitmap as it stands (SaveToFile of a derived bitmap
    /// may first adjust it). Throws as SaveToFile.
    void WriteFile(const std::string& fileName) const;

    /// The canvas drawing on this bitmap (made on first use, lives as long as the bitmap).
    TCanvas& Canvas();

protected:
    /// Drops the palette without marking the bitmap modified.
    void ClearPalette() { palette_.clear(); }

private:
    /// `fill` false leaves the pixels unset but for the padding of each row: only for a
    /// bitmap without pixels to keep, whose every pixel the caller writes next.
    void Reshape(int width, int height, TPixelFormat format, bool fill = true);

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    TPixelFormat format_ = TPixelFormat::pf24bit;
    TByteBuffer pixels_;
    std::vector<TRGBQuad> palette_;
    bool modified_ = false;
    std::unique_ptr<TCanvas> canvas_;
};

/// The bitmap's pixels as 24-bit rows of blue, green and red: the bitmap itself when it is
/// pf24bit, otherwise a pf24bit copy of it made in `converted`.
const TBitmap& As24Bit(const TBitmap& bitmap, std::optional<TBitmap>& converted);

} // namespace vantorel
