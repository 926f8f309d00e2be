#include "alignment/CoastLines.h"

#include "cartography/GeoExtent.h"
#include "cartography/zorCartography.h"
#include "common/Angles.h"
#include "mapping/MapWithWarp.h"

#include <algorithm>
#include <cmath>

namespace vantorel {
namespace {

// Positions to a ten-thousandth of a degree (about 10 m): rings that share a border store
// its points alike.
std::uint64_t KeyOf(const BoundaryPoint& p) {
    const auto lon =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(p.lon * 1e4)));
    const auto lat =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(p.lat * 1e4)));
    return (static_cast<std::uint64_t>(lon) << 32) | lat;
}

// A ring that closes on its first point lists it twice; it counts once.
std::size_t DistinctCount(const TLineSegment& s) {
    const auto& p = s.Points;
    const bool closed = p.size() > 1 && KeyOf(p.front()) == KeyOf(p.back());
    return closed ? p.size() - 1 : p.size();
}

// Drops the points of a run that lie within about 100 m (a tenth of a pixel) of the line
// through their neighbours: the shore keeps its shape, and fewer points are projected.
void Thin(std::vector<std::pair<float, float>>& p) {
    if (p.size() < 3) {
        return;
    }
    constexpr double kTolerance = 0.001; // degrees of latitude
    double lat = 0.0;
    for (const auto& q : p) {
        lat += q.second;
    }
    const double shrink = std::cos(lat / static_cast<double>(p.size()) * kDegreesToRadians);
    std::vector<char> keep(p.size(), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<std::size_t, std::size_t>> spans{{0, p.size() - 1}};
    while (!spans.empty()) {
        const auto [a, b] = spans.back();
        spans.pop_back();
        const double ax = p[a].first * shrink, ay = p[a].second;
        const double dx = p[b].first * shrink - ax, dy = p[b].second - ay;
        const double length = std::hypot(dx, dy);
        double farthest = 0.0;
        std::size_t at = a;
        for (std::size_t i = a + 1; i < b; ++i) {
            const double px = p[i].first * shrink - ax, py = p[i].second - ay;
            const double d =
                length > 0.0 ? std::fabs(px * dy - py * dx) / length : std::hypot(px, py);
            if (d > farthest) {
                farthest = d;
                at = i;
            }
        }
        if (farthest > kTolerance) {
            keep[at] = 1;
            spans.push_back({a, at});
            spans.push_back({at, b});
        }
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (keep[i]) {
            p[out++] = p[i];
        }
    }
    p.resize(out);
}

} // namespace

TCoastLines::TCoastLines(const TCartogList& store)
    : store_(store), runs_(static_cast<std::size_t>(store.Count())),
      made_(std::make_unique<std::once_flag[]>(static_cast<std::size_t>(store.Count()))) {}

const std::vector<TCoastLines::TRun>& TCoastLines::RunsOf(int index) const {
    std::call_once(made_[static_cast<std::size_t>(index)], [this, index] { MakeRuns(index); });
    return runs_[static_cast<std::size_t>(index)];
}

void TCoastLines::CountOwners() const {
    for (int i = 0; i < store_.Count(); ++i) {
        const TLineSegment& other = store_[i];
        if (other.Role != TLineRole::Unknown) {
            continue;
        }
        const std::size_t n = DistinctCount(other);
        for (std::size_t k = 0; k < n; ++k) {
            std::uint8_t& count = owners_[KeyOf(other.Points[k])];
            count = static_cast<std::uint8_t>(std::min(count + 1, 2));
        }
    }
}

void TCoastLines::MakeRuns(int index) const {
    auto& runs = runs_[static_cast<std::size_t>(index)];
    const TLineSegment& s = store_[index];
    if (s.Role == TLineRole::Border) {
        return;
    }
    if (s.Role == TLineRole::Unknown) {
        std::call_once(ownersCounted_, [this] { CountOwners(); });
    }
    // Counted once and only read from here on, by any thread.
    const auto owners = [this](const BoundaryPoint& p) {
        const auto found = owners_.find(KeyOf(p));
        return found == owners_.end() ? 0 : found->second;
    };
    TRun run;
    auto close = [&runs, &run] {
        if (run.size() >= 2) {
            Thin(run);
            runs.push_back(std::move(run));
        }
        run.clear();
    };
    for (const BoundaryPoint& p : s.Points) {
        if (s.Role == TLineRole::Unknown && owners(p) != 1) {
            close();
            continue;
        }
        // Runs do not cross the antimeridian: a jump of half the world starts a new one.
        if (!run.empty() && std::fabs(p.lon - run.back().first) > 180.0f) {
            close();
        }
        run.emplace_back(p.lon, p.lat);
    }
    close();
}

std::vector<TCoastSample> TCoastLines::SamplesOnImage(const TWarpedMapping& mapping, int width,
                                                      int height, int margin) const {
    TPictureFootprint footprint;
    footprint.Project(mapping);
    const TGeoExtent extent =
        footprint.Extent(0, -margin, width, height + margin, 0);
    const float left = 0.0f;
    const float right = static_cast<float>(width - 1);
    const float top = static_cast<float>(-margin);
    const float bottom = static_cast<float>(height + margin);
    // A step longer than this between two shore points is a gap in the picture (the edge
    // of the swath), not a line to follow.
    constexpr float kLongestStep = 40.0f;

    std::vector<TCoastSample> samples;
    for (int index = 0; index < store_.Count(); ++index) {
        if (!extent.Intersects(store_.SegmentBox(index))) {
            continue;
        }
        for (const TRun& run : RunsOf(index)) {
            bool havePrevious = false;
            float px = 0.0f, py = 0.0f;
            for (const auto& [lon, lat] : run) {
                float x = 0.0f, y = 0.0f;
                const bool placed = mapping.LatLonToImageF(x, y, lon, lat, true) && x >= left &&
                                    x <= right && y >= top && y <= bottom;
                if (!placed) {
                    havePrevious = false;
                    continue;
                }
                if (havePrevious) {
                    const float dx = x - px;
                    const float dy = y - py;
                    const float length = std::sqrt(dx * dx + dy * dy);
                    if (length > 0.0f && length <= kLongestStep) {
                        const float nx = dy / length;
                        const float ny = -dx / length;
                        const int steps = std::max(1, static_cast<int>(std::ceil(length)));
                        for (int k = 0; k < steps; ++k) {
                            const float f = static_cast<float>(k) / static_cast<float>(steps);
                            samples.push_back({px + f * dx, py + f * dy, nx, ny});
                        }
                    }
                }
                px = x;
                py = y;
                havePrevious = true;
            }
        }
    }
    return samples;
}

} // namespace vantorel
