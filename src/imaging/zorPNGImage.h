#pragma once

// PNG file input and output on libpng 1.6: TPngImage decodes and encodes PNG streams and
// carries the header values, the text chunks and the decoded pixels; TPngGraphic wraps
// one shared image as a graphic that loads, saves and draws itself.

#include "common/DateTime.h"
#include "common/StringList.h"
#include "imaging/Bitmap.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantorel {

class TCanvas;

/// The phases of a progress report.
enum class TProgressStage { psStarting, psRunning, psEnding };

class TPngImage;
struct PngRows;

/// A progress report: the image, the phase, the share done (0..100 %) and a text
/// ("Start PNG read", "Running", "Ended PNG write", ...). An exception thrown by the
/// handler abandons the read or write and reaches its caller.
using TProgressEvent = std::function<void(TPngImage& sender, TProgressStage stage, int percentDone,
                                          const std::string& message)>;

/// A millisecond tick counter (any origin, only differences count).
using TTickSource = std::function<std::uint64_t()>;

/// The machine's monotonic millisecond ticks.
std::uint64_t SystemTickCount();

/// A PNG image: header values, text chunks and the decoded rows.
///
/// Decoded rows (what ReadStream leaves and WriteStream writes) hold BytesPerPixel()
/// samples per pixel of 8 bits, or of 16 bits stored little-endian; alpha is inverted
/// (0 = opaque, 255 = clear); palette indices are one per byte.
class TPngImage {
public:
    TPngImage();
    TPngImage(const TPngImage&) = delete;
    TPngImage& operator=(const TPngImage&) = delete;
    TPngImage(TPngImage&&) = default;
    TPngImage& operator=(TPngImage&&) = default;

    // ---- published properties ----------------------------------------------------

    /// Text chunk "Title" (read and written).
    std::string Title;
    /// Text chunk "Author" (read and written).
    std::string Author;
    /// Text chunk "Description" (read and written).
    std::string Description;
    /// Text chunk "Software" (written only).
    std::string Software;
    /// Filter mask for writing, libpng's PNG_FILTER_* bits; 56 = none, sub and up.
    int Filters = 56;
    /// Deflate level for writing, 0 (store) .. 9 (smallest); others make writing fail.
    int CompressionLevel = 3;
    /// Reading expands palette and grey images to RGB (grey + alpha to RGB + alpha).
    bool ForceColor = true;
    /// Starting, running and ending reports of reading and writing.
    TProgressEvent OnProgress;
    /// Where the row-progress rate limit reads the time; SystemTickCount by default.
    TTickSource TickCount = SystemTickCount;

    /// Bits per sample from the header (1, 2, 4, 8, 16); 0 before any image.
    int BitDepth() const { return bitDepth_; }
    /// Channels of the decoded rows (1..4); 0 before any image.
    int BytesPerPixel() const { return channels_; }
    /// PNG colour type: 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGB + alpha.
    int ColorType() const { return colorType_; }
    /// Rows.
    int Height() const { return height_; }
    /// Columns.
    int Width() const { return width_; }
    /// Interlace method: 0 none, 1 Adam7. Settable for writing.
    int Interlace() const { return interlace_; }
    void SetInterlace(int method) { interlace_ = method; }
    /// Compression method of the header (always 0 in valid files).
    int Compression() const { return compression_; }
    /// One line per text chunk read: key "=" text (UTF-8).
    const TStringList& TextChk() const { return textChk_; }
    /// The time chunk's date and time (whole seconds); 0 when the file has none.
    TDateTime LastModified() const { return lastModified_; }
    /// Whether the file has a background-colour chunk.
    bool Transparent() const { return transparent_; }
    /// Passes libpng reports for an interlaced image (7 for Adam7); 0 otherwise.
    int NumberOfPasses() const { return numberOfPasses_; }

    // ---- pixels ---------------------------------------------------------------------

    /// Bytes of one decoded row.
    std::size_t RowBytes() const { return rowBytes_; }
    /// Decoded row y (0 = top), RowBytes() bytes. Throws std::out_of_range outside.
    std::span<const std::uint8_t> Row(int y) const;
    /// The palette kept from a palette image read without ForceColor (red, green and
    /// blue in the order of TRGBQuad; Reserved 0); empty otherwise.
    const std::vector<TRGBQuad>& Palette() const { return palette_; }
    /// Whether the image holds pixels (Width() x Height() > 0).
    bool HasPixels() const { return !pixels_.empty(); }

    /// Gives the image new pixels to write, in the decoded-row layout above.
    ///   colorType: 0, 2, 3, 4 or 6; bitDepth: 8 or 16 (8 for palette images, one index
    ///   per byte); palette: 1..256 entries, used for colour type 3 only.
    ///   rows: height rows of width x channels x bitDepth / 8 bytes, top row first.
    /// Throws std::invalid_argument for a combination PNG does not allow, sizes outside
    /// 1..TBitmap::kMaxDimension or a byte count that does not match.
    void SetPixels(int width, int height, int colorType, int bitDepth,
                   std::vector<std::uint8_t> rows, std::vector<TRGBQuad> palette = {});

    /// Takes the bitmap's pixels as an 8-bit RGB image (what the bitmap shows, whatever
    /// its format). Throws std::invalid_argument for an empty bitmap.
    void AssignBitmap(const TBitmap& bitmap);

    // ---- streams and files ----------------------------------------------------------

    /// Decodes a PNG from the stream's current position. Throws EInvalidGraphic: "Is not
    /// a valid PNG !" when the first bytes are not the PNG signature, libpng's own text
    /// (also its Cause()) for a damaged file, "Unexpected end of PNG stream" for a file
    /// cut short, "Image too large" for a header whose pixels are more than TBitmap
    /// allows, and "Image too large for its file (cut short?)" for more than the rest of
    /// the stream could inflate to.
    /// The image keeps the fields already set then, but never pixels of a failed read.
    /// Each read keeps its state to itself: images may be read on several threads at once.
    void ReadStream(std::istream& stream);
    /// Encodes the image as a PNG. Throws EWriteError: "Cannot write a PNG without
    /// pixels" (nothing written), libpng's own text (also its Cause()), or "Cannot write
    /// the PNG stream". The time chunk takes the current UTC time from the clock seam
    /// (common/Clock.h). Safe on several threads at once, like ReadStream.
    void WriteStream(std::ostream& stream);
    /// Reads the file: EFOpenError when it cannot be opened, ReadStream's EInvalidGraphic
    /// with the file's name as its Path().
    void LoadFromFile(const std::string& fileName);
    /// Writes the file (created or overwritten): EWriteError when it cannot be written,
    /// with the file's name as its Path(). A write that fails leaves an old file as it was.
    void SaveToFile(const std::string& fileName);
    /// Writes the bitmap as AssignBitmap and SaveToFile would (8-bit RGB, this image's
    /// texts, filters, level and interlace), reading its rows where they lie: this image's
    /// pixels are left as they are. Throws std::invalid_argument for an empty bitmap,
    /// otherwise as SaveToFile.
    void SaveBitmapToFile(const TBitmap& bitmap, const std::string& fileName);

    // ---- bitmaps ---------------------------------------------------------------------

    /// Copies the pixels into the bitmap with the top-left pixel at (x, y) (0 or more),
    /// growing it to hold them. One channel: pf8bit, under the kept palette or else
    /// the grey ramp. Two channels (grey + alpha): pf8bit grey. Three or four: pf24bit.
    /// Pixels with alpha are blended over what the bitmap holds there:
    /// d := (a d + (255 - a) s) / 255 with the inverted alpha a. 16-bit samples give
    /// their high byte. Throws EInvalidGraphicOperation "Image too high" / "Image too
    /// wide" when the bitmap could not hold the result, std::invalid_argument for a
    /// negative x or y.
    void CopyToBitmap(TBitmap& bitmap, int x, int y) const;
    /// Draws the image on the canvas with its top-left pixel at (x, y), through a
    /// temporary bitmap.
    void Draw(TCanvas& canvas, int x, int y) const;

private:
    void ReportProgress(TProgressStage stage, int percent, const std::string& message);
    void ReportRow(std::uint32_t row, int height);
    void Encode(std::ostream& stream, const PngRows& rows);

    int bitDepth_ = 0;
    int channels_ = 0;
    int colorType_ = 2;
    int height_ = 0;
    int width_ = 0;
    int interlace_ = 0;
    int compression_ = 0;
    int filterMethod_ = 0;
    TStringList textChk_;
    TDateTime lastModified_ = 0;
    bool transparent_ = false;
    int numberOfPasses_ = 0;

    // The decoded layout, kept apart from the header values so that writing describes
    // the rows as they are held: sample bits (8 or 16; palette indices at the header's
    // depth) and the colour type of the rows.
    int rowDepth_ = 0;
    int rowColorType_ = 0;
    std::size_t rowBytes_ = 0;
    std::vector<std::uint8_t> pixels_;
    std::vector<TRGBQuad> palette_;
    std::uint64_t lastTick_ = 0;

    friend struct PngCallbacks;
    friend class PngReader;
};

/// A graphic holding one TPngImage, shared between graphics by Assign.
class TPngGraphic {
public:
    /// An empty graphic, transparent.
    TPngGraphic() = default;

    /// Read into the current image, shared with the graphics assigned from this one. A
    /// graphic without an image gets one only when the read succeeds.
    void LoadFromStream(std::istream& stream);
    void LoadFromFile(const std::string& fileName);
    /// Throw EInvalidGraphicOperation when the graphic is empty.
    void SaveToStream(std::ostream& stream) const;
    void SaveToFile(const std::string& fileName) const;

    /// Copies the image into a temporary bitmap at (0, 0) and draws that at the canvas
    /// origin; nothing when empty.
    void Draw(TCanvas& canvas) const;

    /// True when there is no image.
    bool Empty() const { return image_ == nullptr; }
    int Height() const { return image_ ? image_->Height() : 0; }
    int Width() const { return image_ ? image_->Width() : 0; }
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool transparent) { transparent_ = transparent; }

    /// Shares the other graphic's image (both see the same object afterwards).
    void Assign(const TPngGraphic& source);
    /// The image (nullptr when empty), shared with the graphics it was assigned to.
    const std::shared_ptr<TPngImage>& Image() const { return image_; }

    /// A PNG graphic keeps its image's size: these throw EInvalidGraphicOperation.
    [[noreturn]] void SetHeight(int height);
    [[noreturn]] void SetWidth(int width);
    [[noreturn]] void LoadFromClipboardFormat();
    [[noreturn]] void SaveToClipboardFormat() const;

    /// The file extension and description a picture class registers this graphic for.
    static constexpr const char* kFileExtension = "PNG";
    static constexpr const char* kFileDescription = "Portable Network Graphics";

private:
    std::shared_ptr<TPngImage> image_;
    bool transparent_ = true;
};

} // namespace vantorel
