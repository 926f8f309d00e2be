#pragma once

// The shores of a boundary file thinned ahead of time (made when the program is built,
// beside Boundaries.b): thinning the shores a pass shows cost the sample 7 ms of CPU.
// Each segment's runs are filed under a digest of its own points, so a file made from
// other boundaries finds nothing to give, and the shores are worked out as before.

#include "common/TextFile.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vantorel {

struct TLonLat;

/// The name of the file beside the boundary file.
inline constexpr const char* kThinnedShoresFile = "Boundaries.shores";

/// A digest of a segment's points, exactly as read (their float bits, in order).
std::uint64_t ShoreDigest(std::span<const TLonLat> points);

/// One segment's shore runs (lon, lat), as filed.
using TShoreRuns = std::vector<std::vector<std::pair<float, float>>>;

class TThinnedShores {
public:
    /// The file read, or nullopt where it is missing or not whole and sound.
    static std::optional<TThinnedShores> Open(const std::string& path);
    /// The same from bytes in memory (checked alike).
    static std::optional<TThinnedShores> FromBytes(std::string bytes);

    /// The runs filed for a segment of these points, if any.
    std::optional<TShoreRuns> RunsOf(std::span<const TLonLat> points) const;

    /// The file's bytes for segments' runs, each with its points.
    struct TSegment {
        std::span<const TLonLat> Points;
        const TShoreRuns* Runs = nullptr;
    };
    static std::string Write(std::span<const TSegment> segments);

private:
    TThinnedShores() = default;
    bool Check();
    std::span<const std::uint8_t> Bytes() const;

    std::optional<TFileView> view_;
    std::string copy_;
    std::uint32_t entries_ = 0;
    std::uint32_t runs_ = 0;
    std::uint32_t points_ = 0;
};

} // namespace vantorel
