#pragma once

// The shores of a boundary file thinned ahead of time (made when the program is built,
// beside Boundaries.b): thinning the shores a pass shows cost the sample 7 ms of CPU.
// For each segment the file says which of its own points the thinning keeps, filed under
// a digest of those points: a file made from other boundaries finds nothing to give, and
// their shores are worked out as before.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantorel {

struct TLonLat;

/// The name of the file beside the boundary file.
inline constexpr const char* kThinnedShoresFile = "Boundaries.shores";

/// A digest of a segment's points, exactly as read (their float bits, in order).
std::uint64_t ShoreDigest(std::span<const TLonLat> points);

class TThinnedShores {
public:
    /// The file read, or nullopt where it is missing or not whole.
    static std::optional<TThinnedShores> Open(const std::string& path);
    /// The same from bytes in memory.
    static std::optional<TThinnedShores> FromBytes(std::string bytes);

    /// Which points of a segment of these points the thinning keeps, a bit each (point i
    /// in bit i % 8 of byte i / 8), if the file has it.
    std::optional<std::span<const std::uint8_t>> KeptOf(std::span<const TLonLat> points) const;

    /// The file's bytes for segments' kept points (a flag for each point).
    struct TSegment {
        std::span<const TLonLat> Points;
        std::vector<bool> Kept;
    };
    static std::string Write(std::span<const TSegment> segments);

private:
    TThinnedShores() = default;
    bool Check();

    std::string bytes_;
    std::uint32_t entries_ = 0;
};

} // namespace vantorel
