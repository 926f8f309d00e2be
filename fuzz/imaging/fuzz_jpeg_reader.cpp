// The JPEG reader on arbitrary bytes: a bitmap with its count of decoded rows, or
// EInvalidGraphic (EInvalidGraphicOperation for a 32-bit bitmap without adopt-format),
// never a crash, a leak, a jump across C++ frames or a huge allocation from a lying
// header. The last two bytes pick the bitmap's format, adopt-format and the scale.
#include "imaging/JPEG_IO.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::uint8_t options = size > 0 ? data[size - 1] : 0;
    const std::uint8_t format = size > 1 ? data[size - 2] : 0;
    TBitmap bitmap;
    bitmap.SetPixelFormat(format % 3 == 0   ? TPixelFormat::pf8bit
                          : format % 3 == 1 ? TPixelFormat::pf24bit
                                            : TPixelFormat::pf32bit);
    try {
        const TJpegReadResult read =
            ReadJpegData(&bitmap, {data, size}, (options & 4) != 0, options & 3);
        if (read.RowsInHeader != bitmap.Height() || read.RowsDecoded < 1 ||
            read.RowsDecoded > read.RowsInHeader) {
            std::abort();
        }
    } catch (const EInvalidGraphic&) {
    } catch (const EInvalidGraphicOperation&) {
    }
    return 0;
}
