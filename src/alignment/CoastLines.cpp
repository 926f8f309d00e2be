#include "alignment/CoastLines.h"

#include "cartography/GeoExtent.h"
#include "cartography/zorCartography.h"
#include "common/Angles.h"
#include "common/Parallel.h"
#include "mapping/MapWithWarp.h"

#include <algorithm>
#include <cmath>
#include <memory>

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
        if (length > 0.0) {
            for (std::size_t i = a + 1; i < b; ++i) {
                const double px = p[i].first * shrink - ax, py = p[i].second - ay;
                const double d = std::fabs(px * dy - py * dx) / length;
                if (d > farthest) {
                    farthest = d;
                    at = i;
                }
            }
        } else {
            // The ends meet (a closed ring): the farthest point from them. Squares find
            // the few candidates; hypot, slow but exact, decides among them as it would
            // among all.
            double most = 0.0;
            for (std::size_t i = a + 1; i < b; ++i) {
                const double px = p[i].first * shrink - ax, py = p[i].second - ay;
                most = std::max(most, px * px + py * py);
            }
            const double near = most * (1.0 - 1e-12);
            for (std::size_t i = a + 1; i < b; ++i) {
                const double px = p[i].first * shrink - ax, py = p[i].second - ay;
                if (px * px + py * py >= near) {
                    const double d = std::hypot(px, py);
                    if (d > farthest) {
                        farthest = d;
                        at = i;
                    }
                }
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

// Places runs of a shore on a picture and lays samples about a pixel apart along them,
// where two neighbouring points both fall on it.
class TRunPlacer {
public:
    TRunPlacer(const TWarpedMapping& mapping, int width, int height, int margin,
               std::vector<TCoastSample>& out)
        : mapping_(mapping), right_(static_cast<float>(width - 1)),
          top_(static_cast<float>(-margin)), bottom_(static_cast<float>(height + margin)),
          out_(out) {}

    void Place(const std::vector<std::pair<float, float>>& run) {
        points_.resize(run.size());
        for (std::size_t i = 0; i < run.size(); ++i) {
            points_[i] = {run[i].first, run[i].second};
        }
        x_.resize(run.size());
        y_.resize(run.size());
        if (okSize_ < run.size()) {
            okSize_ = run.size();
            ok_ = std::make_unique<bool[]>(okSize_);
        }
        mapping_.LatLonToImageF(points_, x_.data(), y_.data(), ok_.get(), true);
        bool havePrevious = false;
        float px = 0.0f, py = 0.0f;
        for (std::size_t i = 0; i < run.size(); ++i) {
            const float x = x_[i];
            const float y = y_[i];
            if (!(ok_[i] && x >= 0.0f && x <= right_ && y >= top_ && y <= bottom_)) {
                havePrevious = false;
                continue;
            }
            if (havePrevious) {
                Lay(px, py, x - px, y - py);
            }
            px = x;
            py = y;
            havePrevious = true;
        }
    }

private:
    void Lay(float px, float py, float dx, float dy) {
        // A step longer than this between two shore points is a gap in the picture (the
        // edge of the swath), not a line to follow.
        constexpr float kLongestStep = 40.0f;
        const float length = std::sqrt(dx * dx + dy * dy);
        if (!(length > 0.0f && length <= kLongestStep)) {
            return;
        }
        const float nx = dy / length;
        const float ny = -dx / length;
        const int steps = std::max(1, static_cast<int>(std::ceil(length)));
        for (int k = 0; k < steps; ++k) {
            const float f = static_cast<float>(k) / static_cast<float>(steps);
            out_.push_back({px + f * dx, py + f * dy, nx, ny});
        }
    }

    const TWarpedMapping& mapping_;
    float right_;
    float top_;
    float bottom_;
    std::vector<TCoastSample>& out_;
    std::vector<TLonLat> points_;
    std::vector<float> x_;
    std::vector<float> y_;
    std::unique_ptr<bool[]> ok_;
    std::size_t okSize_ = 0;
};

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
    const TGeoExtent extent = footprint.Extent(0, -margin, width, height + margin, 0);
    std::vector<int> shown;
    for (int index = 0; index < store_.Count(); ++index) {
        if (extent.Intersects(store_.SegmentBox(index))) {
            shown.push_back(index);
        }
    }
    // The segments in parts that the cores take as they come (their shores differ much in
    // length), each part's samples in order: the same samples as one thread's.
    constexpr int kParts = 16;
    const int parts = static_cast<int>(std::min<std::size_t>(kParts, shown.size()));
    std::vector<std::vector<TCoastSample>> found(static_cast<std::size_t>(parts));
    RunParts(parts, [&](int part) {
        const std::size_t first = shown.size() * static_cast<std::size_t>(part) / parts;
        const std::size_t end = shown.size() * static_cast<std::size_t>(part + 1) / parts;
        TRunPlacer placer(mapping, width, height, margin, found[static_cast<std::size_t>(part)]);
        for (std::size_t k = first; k < end; ++k) {
            for (const TRun& run : RunsOf(shown[k])) {
                placer.Place(run);
            }
        }
    });
    std::size_t total = 0;
    for (const auto& f : found) {
        total += f.size();
    }
    std::vector<TCoastSample> samples;
    samples.reserve(total);
    for (const auto& f : found) {
        samples.insert(samples.end(), f.begin(), f.end());
    }
    return samples;
}

} // namespace vantorel
