#pragma once

// Shared helpers of the imaging tests: fixture paths and the pixel formulas that
// tools/make_imaging_fixtures.py used to write them.

#include "TestData.h"
#include "imaging/Bitmap.h"

#include <cstdint>
#include <string>

namespace vantorel::testing {

inline std::string ImagingData(const std::string& name) {
    return TestDataPath("imaging/" + name);
}

inline TRGBQuad FixturePaletteEntry(int i) {
    return TRGBQuad{static_cast<std::uint8_t>((i * 3) % 256), static_cast<std::uint8_t>(255 - i),
                    static_cast<std::uint8_t>((i * 7) % 256), 0};
}
inline std::uint8_t FixtureIndex(int x, int y) {
    return static_cast<std::uint8_t>((x * 37 + y * 91 + 5) % 256);
}
inline TColor FixtureRgb(int x, int y) {
    return RGBColor(static_cast<std::uint8_t>((x * 50 + 10) % 256),
                    static_cast<std::uint8_t>((y * 70 + 20) % 256),
                    static_cast<std::uint8_t>((x * 20 + y * 30) % 256));
}

} // namespace vantorel::testing
