#include "export/PictureWriters.h"

#include "common/Files.h"
#include "common/Notifier.h"
#include "common/StringUtils.h"
#include "export/GeoTiff.h"
#include "imaging/JPEG_IO.h"
#include "imaging/zorPNGImage.h"

namespace vantorel {

namespace {

constexpr int kPngFilterSub = 0x10; // libpng's PNG_FILTER_SUB

} // namespace

TPictureFormat PictureFormatForName(const std::string& fileName) {
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    if (ext == ".JPG" || ext == ".JPEG") {
        return TPictureFormat::Jpeg;
    }
    if (ext == ".TIF" || ext == ".TIFF") {
        return TPictureFormat::GeoTiff;
    }
    return ext == ".PNG" ? TPictureFormat::Png : TPictureFormat::Bmp;
}

void WritePicture(const TBitmap& picture, const std::string& fileName) {
    WritePicture(picture, fileName, PictureFormatForName(fileName));
}

void WritePicture(const TBitmap& picture, const std::string& fileName, TPictureFormat format) {
    switch (format) {
    case TPictureFormat::Jpeg:
        WriteJpegFile(picture, fileName, kJpegQuality, false, kPictureComment);
        break;
    case TPictureFormat::Png: {
        TPngImage png;
        png.Software = kApplicationTitle;
        png.Description = kPictureComment;
        // The fastest deflate and one filter: at the default level and with the filter
        // chosen row by row a whole pass took well over half a second, for a file a
        // tenth smaller.
        png.CompressionLevel = 1;
        png.Filters = kPngFilterSub;
        png.SaveBitmapToFile(picture, fileName);
        break;
    }
    case TPictureFormat::GeoTiff:
        WriteGeoTiff(picture, fileName, {});
        break;
    case TPictureFormat::Bmp: {
        // A 24-bit picture is written as it is: copying 23 MB first cost more than the
        // writing.
        if (picture.PixelFormat() == TPixelFormat::pf24bit) {
            picture.WriteFile(fileName);
            break;
        }
        TBitmap copy(picture);
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        copy.WriteFile(fileName);
        break;
    }
    }
}

} // namespace vantorel
