#include "alignment/ThinnedShores.h"

#include "mapping/zorMapping.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <tuple>

namespace vantorel {
namespace {

// Little-endian throughout: a header, then the segments (digest, point count, first run,
// run count) in the order of digest and count, the runs (first point, point count), and
// the points (lon, lat as floats).
constexpr char kMagic[8] = {'V', 'T', 'S', 'H', 'O', 'R', 'E', '1'};
constexpr std::size_t kHeadBytes = 24;
constexpr std::size_t kEntryBytes = 24;
constexpr std::size_t kRunBytes = 8;
constexpr std::size_t kPointBytes = 8;

std::uint32_t Load32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t Load64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(Load32(p)) | static_cast<std::uint64_t>(Load32(p + 4)) << 32;
}

void Put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

void Put64(std::string& out, std::uint64_t v) {
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}

struct TEntry {
    std::uint64_t digest = 0;
    std::uint32_t points = 0;
    std::uint32_t firstRun = 0;
    std::uint32_t runs = 0;
};

} // namespace

std::uint64_t ShoreDigest(std::span<const TLonLat> points) {
    std::uint64_t h = 0x6A09E667F3BCC909ull ^ (points.size() * 0x9E3779B97F4A7C15ull);
    for (const TLonLat& p : points) {
        const std::uint64_t word = static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(p.lon)) |
                                   static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(p.lat))
                                       << 32;
        h ^= word * 0x9E3779B97F4A7C15ull;
        h = std::rotl(h, 31) * 0xBF58476D1CE4E5B9ull;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return h;
}

std::optional<TThinnedShores> TThinnedShores::Open(const std::string& path) {
    auto view = TFileView::Open(path);
    if (!view) {
        return std::nullopt;
    }
    TThinnedShores shores;
    shores.view_.emplace(std::move(*view));
    if (!shores.Check()) {
        return std::nullopt;
    }
    return shores;
}

std::optional<TThinnedShores> TThinnedShores::FromBytes(std::string bytes) {
    TThinnedShores shores;
    shores.copy_ = std::move(bytes);
    if (!shores.Check()) {
        return std::nullopt;
    }
    return shores;
}

std::span<const std::uint8_t> TThinnedShores::Bytes() const {
    if (view_) {
        return view_->Bytes();
    }
    return {reinterpret_cast<const std::uint8_t*>(copy_.data()), copy_.size()};
}

bool TThinnedShores::Check() {
    // Only the sizes here; each segment's runs are checked when they are asked for.
    const std::span<const std::uint8_t> bytes = Bytes();
    if (bytes.size() < kHeadBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return false;
    }
    entries_ = Load32(bytes.data() + 8);
    runs_ = Load32(bytes.data() + 12);
    points_ = Load32(bytes.data() + 16);
    const std::uint64_t whole = kHeadBytes + std::uint64_t{entries_} * kEntryBytes +
                                std::uint64_t{runs_} * kRunBytes +
                                std::uint64_t{points_} * kPointBytes;
    return whole == bytes.size();
}

std::optional<TShoreRuns> TThinnedShores::RunsOf(std::span<const TLonLat> points) const {
    const std::span<const std::uint8_t> bytes = Bytes();
    const std::uint8_t* entries = bytes.data() + kHeadBytes;
    const std::uint8_t* runs = entries + std::size_t{entries_} * kEntryBytes;
    const std::uint8_t* coordinates = runs + std::size_t{runs_} * kRunBytes;
    const auto entryAt = [entries](std::size_t i) {
        const std::uint8_t* e = entries + i * kEntryBytes;
        return TEntry{Load64(e), Load32(e + 8), Load32(e + 12), Load32(e + 16)};
    };
    const auto key = std::tuple{ShoreDigest(points), points.size()};
    // The first entry not before the key.
    std::size_t low = 0, high = entries_;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        const TEntry e = entryAt(mid);
        if (std::tuple{e.digest, std::size_t{e.points}} < key) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    if (low == entries_) {
        return std::nullopt;
    }
    const TEntry e = entryAt(low);
    if (std::tuple{e.digest, std::size_t{e.points}} != key ||
        std::uint64_t{e.firstRun} + e.runs > runs_) {
        return std::nullopt;
    }
    TShoreRuns out(e.runs);
    for (std::uint32_t r = 0; r < e.runs; ++r) {
        const std::uint8_t* run = runs + (std::size_t{e.firstRun} + r) * kRunBytes;
        const std::uint32_t first = Load32(run);
        const std::uint32_t count = Load32(run + 4);
        if (std::uint64_t{first} + count > points_ || count > points.size()) {
            return std::nullopt;
        }
        auto& to = out[r];
        to.resize(count);
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint8_t* p = coordinates + (std::size_t{first} + k) * kPointBytes;
            to[k] = {std::bit_cast<float>(Load32(p)), std::bit_cast<float>(Load32(p + 4))};
        }
    }
    return out;
}

std::string TThinnedShores::Write(std::span<const TSegment> segments) {
    // Each digest and count once: segments of the same points have the same runs.
    std::vector<std::pair<std::tuple<std::uint64_t, std::size_t>, const TShoreRuns*>> keyed;
    keyed.reserve(segments.size());
    for (const TSegment& s : segments) {
        keyed.push_back({{ShoreDigest(s.Points), s.Points.size()}, s.Runs});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    keyed.erase(std::unique(keyed.begin(), keyed.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                keyed.end());
    std::string entries, runs, coordinates;
    std::uint32_t runCount = 0, pointCount = 0;
    for (const auto& [key, shore] : keyed) {
        Put64(entries, std::get<0>(key));
        Put32(entries, static_cast<std::uint32_t>(std::get<1>(key)));
        Put32(entries, runCount);
        Put32(entries, static_cast<std::uint32_t>(shore->size()));
        Put32(entries, 0);
        for (const auto& run : *shore) {
            Put32(runs, pointCount);
            Put32(runs, static_cast<std::uint32_t>(run.size()));
            for (const auto& [lon, lat] : run) {
                Put32(coordinates, std::bit_cast<std::uint32_t>(lon));
                Put32(coordinates, std::bit_cast<std::uint32_t>(lat));
            }
            ++runCount;
            pointCount += static_cast<std::uint32_t>(run.size());
        }
    }
    std::string out(kMagic, sizeof kMagic);
    Put32(out, static_cast<std::uint32_t>(keyed.size()));
    Put32(out, runCount);
    Put32(out, pointCount);
    Put32(out, 0);
    return out + entries + runs + coordinates;
}

} // namespace vantorel
