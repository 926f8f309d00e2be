#include "pass/inputs/ChannelImage.h"

#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "imaging/JPEG_IO.h"
#include "imaging/zorPNGImage.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>

namespace vantorel {
namespace {

std::string FirstBytes(const std::string& path, std::size_t count) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(count, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return bytes;
}

// A colour picture stays in colour, in 24 bits.
bool KeepColour(TChannelImage& image) {
    image.Colour = image.Bitmap.IsColour();
    if (image.Colour && image.Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        image.Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    }
    return image.Colour;
}

// The reads ahead not yet taken, by path.
struct TReadsAhead {
    std::mutex lock;
    std::map<std::string, std::future<TChannelImage>> pending;

    std::future<TChannelImage> Take(const std::string& path) {
        const std::lock_guard guard(lock);
        const auto found = pending.find(path);
        if (found == pending.end()) {
            return {};
        }
        std::future<TChannelImage> read = std::move(found->second);
        pending.erase(found);
        return read;
    }
};

TReadsAhead& ReadsAhead() {
    static TReadsAhead reads;
    return reads;
}

TChannelImage ReadChannelImage(const std::string& path);

} // namespace

TChannelImage LoadChannelImage(const std::string& path) {
    if (std::future<TChannelImage> ahead = ReadsAhead().Take(path); ahead.valid()) {
        return ahead.get();
    }
    return ReadChannelImage(path);
}

TChannelImageReadAhead::TChannelImageReadAhead(const std::string& path) : path_(path) {
    TReadsAhead& reads = ReadsAhead();
    const std::lock_guard guard(reads.lock);
    if (!reads.pending.contains(path)) {
        reads.pending.emplace(
            path, std::async(std::launch::async, [path] { return ReadChannelImage(path); }));
    }
}

TChannelImageReadAhead::~TChannelImageReadAhead() {
    if (std::future<TChannelImage> left = ReadsAhead().Take(path_); left.valid()) {
        left.wait();
    }
}

TImageFileFormat ImageFileFormat(std::string_view firstBytes, const std::string& fileName) {
    if (firstBytes.substr(0, 2) == "BM") {
        return TImageFileFormat::Bmp;
    }
    if (firstBytes.substr(0, 3) == "\xFF\xD8\xFF") {
        return TImageFileFormat::Jpeg;
    }
    if (firstBytes.substr(0, 8) == "\x89PNG\r\n\x1A\n") {
        return TImageFileFormat::Png;
    }
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    if (ext == ".JPG" || ext == ".JPEG") {
        return TImageFileFormat::Jpeg;
    }
    return ext == ".PNG" ? TImageFileFormat::Png : TImageFileFormat::Bmp;
}

namespace {

TChannelImage ReadChannelImage(const std::string& path) {
    // A FIFO or a device named like a picture would be waited on for ever.
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) {
        throw EInvalidGraphic("Cannot read the picture " + path + ": it is no regular file",
                              "it is no regular file (a FIFO, a device or a folder)", path);
    }
    TChannelImage image;
    const std::string head = FirstBytes(path, 26);
    image.Format = ImageFileFormat(head, path);
    // A PNG deflates a huge blank picture to a few hundred kilobytes: its header is believed
    // only within a pass's size. (A BMP holds its pixels as they are, a JPEG's size is
    // checked against its bytes when it is read.)
    if (image.Format == TImageFileFormat::Png && head.size() >= 24 &&
        head.compare(12, 4, "IHDR") == 0) {
        auto u32 = [&head](std::size_t at) {
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < 4; ++i) {
                v = (v << 8) | static_cast<std::uint8_t>(head[at + i]);
            }
            return v;
        };
        const std::uint32_t width = u32(16);
        const std::uint32_t height = u32(20);
        if (width > static_cast<std::uint32_t>(kMostPictureWidth) ||
            height > static_cast<std::uint32_t>(kMostPictureLines)) {
            throw EInvalidGraphic(
                Format("Cannot read the picture %s: it is %d x %d pixels, larger than any "
                       "pass's picture (at most %d x %d)",
                       path.c_str(), static_cast<long long>(width),
                       static_cast<long long>(height), kMostPictureWidth, kMostPictureLines),
                "larger than any pass's picture", path);
        }
    }
    TExtBitmap& bitmap = image.Bitmap;
    switch (image.Format) {
    case TImageFileFormat::Jpeg: {
        try {
            // Colour comes through as three components; a grey picture as one, or as three
            // equal ones, which are its grey levels exactly.
            const TJpegReadResult read = ReadJpegFile(&bitmap, path, true, 0);
            image.RowsDecoded = read.RowsDecoded;
            image.RowsInFile = read.RowsInHeader;
            image.DecoderWarning = read.Warning;
        } catch (const EImageError& e) {
            const std::string& reason = e.Cause().empty() ? e.Headline() : e.Cause();
            throw EInvalidGraphic("Cannot read the JPEG file " + path + ": " + reason, reason,
                                  path);
        }
        if (KeepColour(image)) {
            return image;
        }
        bitmap.ToGreyLevels();
        bitmap.EqualizeContrast(0, 256, false, 2.5);
        return image;
    }
    case TImageFileFormat::Png: {
        // Lossless like a bitmap, so no contrast work at load.
        TPngImage png;
        png.ForceColor = false;
        png.LoadFromFile(path);
        TBitmap pixels;
        png.CopyToBitmap(pixels, 0, 0);
        static_cast<TBitmap&>(bitmap) = std::move(pixels);
        break;
    }
    case TImageFileFormat::Bmp:
        bitmap.LoadFromFile(path);
        break;
    }
    image.RowsDecoded = image.RowsInFile = bitmap.Height();
    if (!KeepColour(image)) {
        bitmap.ToGreyLevels();
    }
    return image;
}

} // namespace

} // namespace vantorel
