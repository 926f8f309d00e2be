// TBitmap: memory layout, size and format changes, pixel colours. The BMP file format
// lives in BitmapFile.cpp.
#include "imaging/Bitmap.h"

#include "common/Format.h"
#include "imaging/Canvas.h"
#include "imaging/PixelRows.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vantorel {

int BytesPerPixel(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf8bit:
        return 1;
    case TPixelFormat::pf16bit:
        return 2;
    case TPixelFormat::pf24bit:
        return 3;
    case TPixelFormat::pf32bit:
        return 4;
    }
    return 3;
}

std::vector<TRGBQuad> GrayRamp() {
    std::vector<TRGBQuad> ramp(256);
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        ramp[static_cast<std::size_t>(i)] = TRGBQuad{v, v, v, 0};
    }
    return ramp;
}

namespace {

std::string ImageErrorMessage(const std::string& headline, const std::string& cause,
                              const std::string& path) {
    std::string message = headline;
    if (!cause.empty() && headline.find(cause) == std::string::npos) {
        message += "\n" + cause;
    }
    if (!path.empty() && headline.find(path) == std::string::npos) {
        message += "\nFile: " + path;
    }
    return message;
}

} // namespace

EImageError::EImageError(const std::string& headline, const std::string& cause,
                         const std::string& path)
    : EFileProblem(ImageErrorMessage(headline, cause, path), headline, cause, path) {}

using detail::DecodeRow;
using detail::EncodeRow;

namespace {

int StrideFor(int width, TPixelFormat format) {
    return (width * BytesPerPixel(format) + 3) / 4 * 4;
}

} // namespace

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

TBitmap::TBitmap(const TBitmap& other)
    : width_(other.width_), height_(other.height_), stride_(other.stride_), format_(other.format_),
      pixels_(other.pixels_), palette_(other.palette_), modified_(other.modified_) {}

TBitmap& TBitmap::operator=(const TBitmap& other) {
    if (this != &other) {
        width_ = other.width_;
        height_ = other.height_;
        stride_ = other.stride_;
        format_ = other.format_;
        pixels_ = other.pixels_;
        palette_ = other.palette_;
        modified_ = other.modified_;
    }
    return *this;
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : width_(std::exchange(other.width_, 0)), height_(std::exchange(other.height_, 0)),
      stride_(std::exchange(other.stride_, 0)), format_(other.format_),
      pixels_(std::move(other.pixels_)), palette_(std::move(other.palette_)),
      modified_(other.modified_) {
    other.pixels_.clear();
    other.palette_.clear();
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    if (this != &other) {
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
        stride_ = std::exchange(other.stride_, 0);
        format_ = other.format_;
        pixels_ = std::move(other.pixels_);
        palette_ = std::move(other.palette_);
        modified_ = other.modified_;
        other.pixels_.clear();
        other.palette_.clear();
    }
    return *this;
}

void TBitmap::SetWidth(int width) {
    SetSize(width, height_);
}
void TBitmap::SetHeight(int height) {
    SetSize(width_, height);
}
void TBitmap::SetSize(int width, int height) {
    Reshape(width, height, format_);
}

void TBitmap::SetSizeForOverwrite(int width, int height) {
    if (width != width_ || height != height_) {
        pixels_ = TByteBuffer();
        width_ = height_ = 0;
        Reshape(width, height, format_, false);
    }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == format_) {
        return;
    }
    const bool greyed = format == TPixelFormat::pf8bit && format_ != TPixelFormat::pf8bit;
    Reshape(width_, height_, format);
    if (greyed || (format == TPixelFormat::pf8bit && palette_.empty())) {
        palette_ = GrayRamp();
    }
}

void TBitmap::Reshape(int width, int height, TPixelFormat format, bool fill) {
    width = std::clamp(width, 0, kMaxDimension);
    height = std::clamp(height, 0, kMaxDimension);
    const int stride = StrideFor(width, format);
    const std::int64_t bytes = std::int64_t{stride} * height;
    if (bytes > kMaxBytes) {
        throw EInvalidGraphicOperation(
            Format("Bitmap too large: %d x %d pixels need more than %d MiB", width, height,
                   static_cast<int>(kMaxBytes >> 20)));
    }
    if (width == width_ && height == height_ && format == format_) {
        return;
    }
    TByteBuffer pixels = fill ? TByteBuffer(static_cast<std::size_t>(bytes), 0)
                              : TByteBuffer(static_cast<std::size_t>(bytes));
    const int keepWidth = std::min(width, width_);
    const int keepHeight = std::min(height, height_);
    std::vector<std::uint8_t> bgr;
    if (format != format_) {
        bgr.resize(static_cast<std::size_t>(keepWidth) * 3);
    }
    const auto rowBytes = static_cast<std::size_t>(width) * BytesPerPixel(format);
    for (int y = 0; !fill && rowBytes < static_cast<std::size_t>(stride) && y < height; ++y) {
        std::memset(pixels.data() + static_cast<std::size_t>(y) * stride + rowBytes, 0,
                    static_cast<std::size_t>(stride) - rowBytes);
    }
    for (int y = 0; keepWidth > 0 && y < keepHeight; ++y) {
        const std::uint8_t* src = pixels_.data() + static_cast<std::size_t>(y) * stride_;
        std::uint8_t* dst = pixels.data() + static_cast<std::size_t>(y) * stride;
        if (format == format_) {
            std::memcpy(dst, src, static_cast<std::size_t>(keepWidth) * BytesPerPixel(format));
        } else {
            DecodeRow(src, format_, palette_, keepWidth, bgr.data());
            EncodeRow(bgr.data(), keepWidth, format, dst);
        }
    }
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    stride_ = stride;
    format_ = format;
    modified_ = true;
}

std::uint8_t* TBitmap::ScanLine(int y) {
    return const_cast<std::uint8_t*>(std::as_const(*this).ScanLine(y));
}

const std::uint8_t* TBitmap::ScanLine(int y) const {
    if (y < 0 || y >= height_) {
        throw std::out_of_range(Format("Scan line index out of range: %d", y));
    }
    return pixels_.data() + static_cast<std::size_t>(y) * stride_;
}

void TBitmap::SetPalette(std::vector<TRGBQuad> palette) {
    if (palette.size() > 256) {
        palette.resize(256);
    }
    palette_ = std::move(palette);
    modified_ = true;
}

TColor TBitmap::PixelColor(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return clBlack;
    }
    std::uint8_t bgr[3] = {0, 0, 0};
    const std::uint8_t* row = pixels_.data() + static_cast<std::size_t>(y) * stride_;
    DecodeRow(row + static_cast<std::size_t>(x) * BytesPerPixel(format_), format_, palette_, 1,
              bgr);
    return RGBColor(bgr[2], bgr[1], bgr[0]);
}

TCanvas& TBitmap::Canvas() {
    if (!canvas_) {
        canvas_ = std::make_unique<TCanvas>(*this);
    }
    return *canvas_;
}

const TBitmap& As24Bit(const TBitmap& bitmap, std::optional<TBitmap>& converted) {
    if (bitmap.PixelFormat() == TPixelFormat::pf24bit) {
        return bitmap;
    }
    converted.emplace(bitmap);
    converted->SetPixelFormat(TPixelFormat::pf24bit);
    return *converted;
}

} // namespace vantorel
