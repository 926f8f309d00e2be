#pragma once

// The bundled sample pass and its Kepler folder, for the tests that process it.

#include <string>

namespace vantorel::testing {

inline const std::string kSource = VANTOREL_SOURCE_DIR;
inline const std::string kSampleImage = kSource + "/samples/2020_09_27_08_00_58_64.bmp";
inline const std::string kSampleKeps = kSource + "/samples/keps/";

} // namespace vantorel::testing
