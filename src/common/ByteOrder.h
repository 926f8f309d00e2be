#pragma once

// Little-endian fields of the files the program reads and writes, whatever the machine.

#include <cstdint>

namespace vantorel {

inline std::uint32_t LoadLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t LoadLE64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadLE32(p)) |
           (static_cast<std::uint64_t>(LoadLE32(p + 4)) << 32);
}

} // namespace vantorel
