#pragma once

// Little-endian fields of the files the program reads and writes, whatever the machine.

#include <cstdint>
#include <string>

namespace vantorel {

inline std::uint32_t LoadLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t LoadLE64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadLE32(p)) |
           (static_cast<std::uint64_t>(LoadLE32(p + 4)) << 32);
}

inline void AppendLE32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

inline void AppendLE64(std::string& out, std::uint64_t v) {
    AppendLE32(out, static_cast<std::uint32_t>(v));
    AppendLE32(out, static_cast<std::uint32_t>(v >> 32));
}

} // namespace vantorel
