#pragma once

// Where a GSHHS boundary file's segments lie and the cells their points reach, found once
// (when the program is built, beside Boundaries.b). A run that has it touches only the
// pages of the segments it draws: walking all 36 000 headers and reading every point to
// bound it cost the sample's start 12-20 ms of a core, and as much again on another.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vantorel {

/// The name of the file beside the boundary file.
inline constexpr const char* kBoundaryIndexFile = "Boundaries.index";

class TBoundaryIndex {
public:
    /// The file read, or nullopt where it is missing or not whole.
    static std::optional<TBoundaryIndex> Open(const std::string& path);
    /// The same from bytes in memory.
    static std::optional<TBoundaryIndex> FromBytes(std::string bytes);
    /// The index of a boundary file's bytes, as a run would find it by reading them all;
    /// nullopt for a file that is not GSHHS, or too large for the index to address.
    static std::optional<std::string> Write(std::span<const std::uint8_t> boundaryFile);

    /// The index may be of these bytes: the same size, and the same headers where it
    /// took samples of them (a few pages of the file read, not all).
    bool Fits(std::span<const std::uint8_t> file) const;

private:
    friend class TCartogList;
    TBoundaryIndex() = default;
    bool Check() const;

    std::string bytes_;
};

} // namespace vantorel
