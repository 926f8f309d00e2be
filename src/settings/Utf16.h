#pragma once

// Conversions between the UTF-8 held inside the program and the UTF-16 of registry
// files written by the platform's registry editor and of string values stored as bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

enum class ByteOrder { LittleEndian, BigEndian };

/// UTF-16 bytes (an odd final byte is an error) as UTF-8; nullopt when a surrogate is
/// unpaired. strict = false turns every fault into U+FFFD instead of failing.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes, ByteOrder order, bool strict);

/// UTF-8 as UTF-16 bytes. Bytes that are not UTF-8 become U+FFFD; a UTF-8 text that came
/// from Utf16ToUtf8 converts back to exactly the bytes it came from.
std::string Utf8ToUtf16(std::string_view text, ByteOrder order);

} // namespace vantorel
