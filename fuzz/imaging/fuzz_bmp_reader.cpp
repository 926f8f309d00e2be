// The tolerant BMP reader on arbitrary bytes: either a bitmap or EInvalidGraphic, never
// a crash, a leak or an allocation beyond what the bytes can fill. A loaded bitmap is
// also put through the operations of the processing run.
#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"

#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    TExtBitmap bitmap;
    try {
        bitmap.LoadFromStream(stream);
    } catch (const EInvalidGraphic&) {
        return 0;
    }
    bitmap.EnsureGrayPalette();
    bitmap.EqualizeContrast(0, 256, true, 2.5);
    bitmap.StretchContrast(3.0);
    bitmap.Invert();
    try {
        bitmap.Rotate();
    } catch (const EInvalidGraphicOperation&) {
    }
    TBitmap display;
    display.SetSize(bitmap.Width(), bitmap.Height());
    display.Canvas().Draw(0, 0, bitmap);
    return 0;
}
