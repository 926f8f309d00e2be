// The PNG reader on arbitrary bytes: a decoded image or EInvalidGraphic, never a crash,
// a leak, a jump across C++ frames or a huge allocation from a lying header. Chunk CRCs
// are recomputed first when the last byte's low bit is set, so that mutations reach the
// decoder instead of stopping at the checksum; bit 1 picks ForceColor. A decoded image
// is copied into a bitmap and written, and the written file must read back.
#include "imaging/zorPNGImage.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include <zlib.h>

namespace {

void FixChunkCrcs(std::string& png) {
    std::size_t pos = 8;
    while (pos + 12 <= png.size()) {
        std::uint32_t length = 0;
        for (int k = 0; k < 4; ++k) {
            length =
                (length << 8) | static_cast<std::uint8_t>(png[pos + static_cast<std::size_t>(k)]);
        }
        if (length > png.size() - pos - 12) {
            return;
        }
        const auto* body = reinterpret_cast<const Bytef*>(png.data() + pos + 4);
        const uLong crc = crc32(0, body, length + 4);
        for (int k = 0; k < 4; ++k) {
            png[pos + 8 + length + static_cast<std::size_t>(k)] =
                static_cast<char>((crc >> (24 - 8 * k)) & 0xFF);
        }
        pos += 12 + length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::uint8_t options = size > 0 ? data[size - 1] : 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if ((options & 1) != 0) {
        FixChunkCrcs(bytes);
    }
    TPngImage image;
    image.ForceColor = (options & 2) != 0;
    image.TickCount = [] { return std::uint64_t{0}; };
    std::istringstream stream(bytes);
    try {
        image.ReadStream(stream);
    } catch (const EInvalidGraphic&) {
        return 0;
    }
    TBitmap bitmap;
    image.CopyToBitmap(bitmap, 1, 2);
    std::stringstream copy;
    try {
        image.WriteStream(copy);
    } catch (const EWriteError&) {
        // A palette index beyond the file's palette is refused on writing.
        return 0;
    }
    TPngImage back;
    back.ForceColor = false;
    back.ReadStream(copy);
    if (back.RowBytes() != image.RowBytes() || back.Height() != image.Height()) {
        std::abort();
    }
    return 0;
}
