#pragma once

// Row conversions between the pixel formats and B, G, R triples, shared by the bitmap
// and its canvas. Internal to the imaging library.

#include "imaging/Bitmap.h"

#include <cstring>

namespace vantorel::detail {

inline std::uint8_t GreyLevel(int red, int green, int blue) {
    return static_cast<std::uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

// Decodes `count` pixels of a row into B, G, R triples.
inline void DecodeRow(const std::uint8_t* src, TPixelFormat format,
                      const std::vector<TRGBQuad>& palette, int count, std::uint8_t* bgr) {
    for (int x = 0; x < count; ++x, bgr += 3) {
        switch (format) {
        case TPixelFormat::pf8bit: {
            const std::size_t i = src[x];
            const TRGBQuad q = i < palette.size() ? palette[i] : TRGBQuad{};
            bgr[0] = q.Blue;
            bgr[1] = q.Green;
            bgr[2] = q.Red;
            break;
        }
        case TPixelFormat::pf16bit: {
            const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
            const unsigned r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
            bgr[0] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
            bgr[1] = static_cast<std::uint8_t>((g << 2) | (g >> 4));
            bgr[2] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
            break;
        }
        case TPixelFormat::pf24bit:
            std::memcpy(bgr, src + 3 * x, 3);
            break;
        case TPixelFormat::pf32bit:
            std::memcpy(bgr, src + 4 * x, 3);
            break;
        }
    }
}

// Encodes B, G, R triples into `count` pixels of a row (pf8bit as grey levels).
inline void EncodeRow(const std::uint8_t* bgr, int count, TPixelFormat format, std::uint8_t* dst) {
    for (int x = 0; x < count; ++x, bgr += 3) {
        switch (format) {
        case TPixelFormat::pf8bit:
            dst[x] = GreyLevel(bgr[2], bgr[1], bgr[0]);
            break;
        case TPixelFormat::pf16bit: {
            const unsigned v = ((bgr[2] >> 3u) << 11) | ((bgr[1] >> 2u) << 5) | (bgr[0] >> 3u);
            dst[2 * x] = static_cast<std::uint8_t>(v & 0xFF);
            dst[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
            break;
        }
        case TPixelFormat::pf24bit:
            std::memcpy(dst + 3 * x, bgr, 3);
            break;
        case TPixelFormat::pf32bit:
            std::memcpy(dst + 4 * x, bgr, 3);
            dst[4 * x + 3] = 0;
            break;
        }
    }
}

} // namespace vantorel::detail
