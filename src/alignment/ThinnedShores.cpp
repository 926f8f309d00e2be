#include "alignment/ThinnedShores.h"

#include "common/ByteOrder.h"
#include "common/Digest.h"
#include "common/TextFile.h"
#include "mapping/zorMapping.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <tuple>

namespace vantorel {
namespace {

// Little-endian throughout: a header, then the segments (digest, point count, where their
// flags start) in the order of digest and count, then the flags.
constexpr char kMagic[8] = {'V', 'T', 'S', 'H', 'O', 'R', 'E', '2'};
constexpr std::size_t kHeadBytes = 16;
constexpr std::size_t kEntryBytes = 16;

std::size_t FlagBytes(std::size_t points) {
    return (points + 7) / 8;
}

} // namespace

std::uint64_t ShoreDigest(std::span<const TLonLat> points) {
    TDigest64 digest(points.size());
    for (const TLonLat& p : points) {
        digest.Add(static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(p.lon)) |
                   static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(p.lat)) << 32);
    }
    return digest.Value();
}

std::optional<TThinnedShores> TThinnedShores::Open(const std::string& path) {
    // Small (a bit a point), and read whole: a mapping would be faulted in page by page.
    auto bytes = ReadFileBytes(path);
    if (!bytes) {
        return std::nullopt;
    }
    return FromBytes(std::move(*bytes));
}

std::optional<TThinnedShores> TThinnedShores::FromBytes(std::string bytes) {
    TThinnedShores shores;
    shores.bytes_ = std::move(bytes);
    if (!shores.Check()) {
        return std::nullopt;
    }
    return shores;
}

bool TThinnedShores::Check() {
    // The sizes only: each segment's flags are checked when they are asked for.
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes_.data());
    if (bytes_.size() < kHeadBytes || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        return false;
    }
    entries_ = LoadLE32(data + 8);
    const std::uint64_t whole =
        kHeadBytes + std::uint64_t{entries_} * kEntryBytes + LoadLE32(data + 12);
    return whole == bytes_.size();
}

std::optional<std::span<const std::uint8_t>>
TThinnedShores::KeptOf(std::span<const TLonLat> points) const {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes_.data());
    const std::uint8_t* entries = data + kHeadBytes;
    const std::uint8_t* flags = entries + std::size_t{entries_} * kEntryBytes;
    const std::size_t flagBytes = LoadLE32(data + 12);
    const auto keyAt = [entries](std::size_t i) {
        const std::uint8_t* e = entries + i * kEntryBytes;
        return std::tuple{LoadLE64(e), std::size_t{LoadLE32(e + 8)}};
    };
    const auto key = std::tuple{ShoreDigest(points), points.size()};
    // The first entry not before the key.
    std::size_t low = 0, high = entries_;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (keyAt(mid) < key) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    if (low == entries_ || keyAt(low) != key) {
        return std::nullopt;
    }
    const std::size_t at = LoadLE32(entries + low * kEntryBytes + 12);
    if (at > flagBytes || FlagBytes(points.size()) > flagBytes - at) {
        return std::nullopt;
    }
    return std::span<const std::uint8_t>(flags + at, FlagBytes(points.size()));
}

std::string TThinnedShores::Write(std::span<const TSegment> segments) {
    // Each digest and count once: segments of the same points keep the same ones.
    std::vector<std::pair<std::tuple<std::uint64_t, std::size_t>, const TSegment*>> keyed;
    keyed.reserve(segments.size());
    for (const TSegment& s : segments) {
        keyed.push_back({{ShoreDigest(s.Points), s.Points.size()}, &s});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    keyed.erase(std::unique(keyed.begin(), keyed.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                keyed.end());
    std::string entries, flags;
    for (const auto& [key, segment] : keyed) {
        AppendLE64(entries, std::get<0>(key));
        AppendLE32(entries, static_cast<std::uint32_t>(std::get<1>(key)));
        AppendLE32(entries, static_cast<std::uint32_t>(flags.size()));
        std::string bits(FlagBytes(segment->Points.size()), '\0');
        for (std::size_t i = 0; i < segment->Kept.size() && i < segment->Points.size(); ++i) {
            if (segment->Kept[i]) {
                bits[i / 8] = static_cast<char>(bits[i / 8] | (1 << (i % 8)));
            }
        }
        flags += bits;
    }
    std::string out(kMagic, sizeof kMagic);
    AppendLE32(out, static_cast<std::uint32_t>(keyed.size()));
    AppendLE32(out, static_cast<std::uint32_t>(flags.size()));
    return out + entries + flags;
}

} // namespace vantorel
