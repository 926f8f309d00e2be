#include "alignment/CoastLines.h"

#include "alignment/ThinnedShores.h"
#include "cartography/GeoExtent.h"
#include "cartography/zorCartography.h"
#include "common/Angles.h"
#include "common/Parallel.h"
#include "mapping/MapWithWarp.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <span>

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

// The point strictly between a and b farthest from the line through them (from a itself
// where they meet), the first of equals, and whether it lies beyond `tolerance`: as the
// distances |cross| / hypot (or hypot from a) decide. Cross products and squares find the
// few candidates; hypot, slow but exact, is asked only where it may change the answer.
std::pair<std::size_t, bool> FarthestFromChord(const std::vector<double>& x,
                                               const std::vector<double>& y, std::size_t a,
                                               std::size_t b, double tolerance) {
    const double ax = x[a], ay = y[a];
    const double dx = x[b] - ax, dy = y[b] - ay;
    // The first of the candidates with the greatest distance, and whether it is beyond.
    auto decide = [&](double near, auto&& measure, auto&& distance) {
        double farthest = 0.0;
        std::size_t at = a;
        for (std::size_t i = a + 1; i < b; ++i) {
            if (measure(i) >= near) {
                const double d = distance(i);
                if (d > farthest) {
                    farthest = d;
                    at = i;
                }
            }
        }
        return std::pair{at, farthest > tolerance};
    };
    auto cross = [&](std::size_t i) { return std::fabs((x[i] - ax) * dy - (y[i] - ay) * dx); };
    // Candidates: those within a hair of the greatest cross product; all where a point is
    // not finite.
    double near = -std::numeric_limits<double>::infinity();
    if (std::isfinite(dx) && std::isfinite(dy) && (dx != 0.0 || dy != 0.0)) {
        // The greatest cross product, where it is, and the greatest of the others.
        double most = 0.0, second = 0.0;
        std::size_t first = a;
        for (std::size_t i = a + 1; i < b; ++i) {
            const double c = cross(i);
            if (c > most) {
                second = most;
                most = c;
                first = i;
            } else {
                second = std::max(second, c);
            }
        }
        if (!(most > 0.0)) {
            return {a, false};
        }
        near = most * (1.0 - 1e-12);
        if (second < near) {
            // One candidate is the farthest whatever the chord's length; its distance only
            // needs hypot where sqrt puts it too near the tolerance to tell.
            const double roughly = most / std::sqrt(dx * dx + dy * dy);
            if (roughly > tolerance * (1.0 + 1e-9) || roughly < tolerance * (1.0 - 1e-9)) {
                return {first, roughly > tolerance};
            }
        }
    }
    const double length = std::hypot(dx, dy);
    if (length > 0.0) {
        return decide(near, cross, [&](std::size_t i) { return cross(i) / length; });
    }
    // The ends meet (a closed ring): the farthest point from them.
    auto square = [&](std::size_t i) {
        const double px = x[i] - ax, py = y[i] - ay;
        return px * px + py * py;
    };
    double most = 0.0;
    for (std::size_t i = a + 1; i < b; ++i) {
        most = std::max(most, square(i));
    }
    return decide(most * (1.0 - 1e-12), square,
                  [&](std::size_t i) { return std::hypot(x[i] - ax, y[i] - ay); });
}

// Places runs of a shore on a picture and lays samples about a pixel apart along them,
// where two neighbouring points both fall on it.
class TRunPlacer {
public:
    // Samples go into blocks of a fixed size: a growing vector would copy them over and
    // over into fresh memory, each page of which the system first has to clear.
    static constexpr std::size_t kBlock = 4096;
    using TBlocks = std::vector<std::vector<TCoastSample>>;

    TRunPlacer(const TWarpedMapping& mapping, int width, int height, int margin, TBlocks& out)
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
        mapping_.LatLonToImageF(points_, x_.data(), y_.data(), ok_.get(), true,
                                TWarpedMapping::TLanes::Best, TWarpedMapping::TRefused::Unrefined);
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
            if (out_.empty() || out_.back().size() == kBlock) {
                out_.emplace_back().reserve(kBlock);
            }
            out_.back().push_back({px + f * dx, py + f * dy, nx, ny});
        }
    }

    const TWarpedMapping& mapping_;
    float right_;
    float top_;
    float bottom_;
    TBlocks& out_;
    std::vector<TLonLat> points_;
    std::vector<float> x_;
    std::vector<float> y_;
    std::unique_ptr<bool[]> ok_;
    std::size_t okSize_ = 0;
};

} // namespace

std::vector<char> ShoreRunKept(const std::vector<std::pair<float, float>>& p) {
    std::vector<char> keep(p.size(), 1);
    if (p.size() < 3) {
        return keep;
    }
    constexpr double kTolerance = 0.001; // degrees of latitude
    double lat = 0.0;
    for (const auto& q : p) {
        lat += q.second;
    }
    const double shrink = std::cos(lat / static_cast<double>(p.size()) * kDegreesToRadians);
    std::vector<double> x(p.size()), y(p.size());
    for (std::size_t i = 0; i < p.size(); ++i) {
        x[i] = p[i].first * shrink;
        y[i] = p[i].second;
    }
    std::fill(keep.begin() + 1, keep.end() - 1, 0);
    std::vector<std::pair<std::size_t, std::size_t>> spans{{0, p.size() - 1}};
    while (!spans.empty()) {
        const auto [a, b] = spans.back();
        spans.pop_back();
        const auto [at, beyond] = FarthestFromChord(x, y, a, b, kTolerance);
        if (beyond) {
            keep[at] = 1;
            // A span without a point between its ends has nothing to keep.
            if (at - a > 1) {
                spans.push_back({a, at});
            }
            if (b - at > 1) {
                spans.push_back({at, b});
            }
        }
    }
    return keep;
}

void ThinShoreRun(std::vector<std::pair<float, float>>& p) {
    const std::vector<char> keep = ShoreRunKept(p);
    std::size_t out = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (keep[i]) {
            p[out++] = p[i];
        }
    }
    p.resize(out);
}

TCoastLines::TCoastLines(const TCartogList& store, std::shared_ptr<const TThinnedShores> thinned)
    : store_(store), thinned_(std::move(thinned)), runs_(static_cast<std::size_t>(store.Count())),
      made_(std::make_unique<TOnce[]>(static_cast<std::size_t>(store.Count()))) {}

TCoastLines::~TCoastLines() = default;

const std::vector<TCoastLines::TRun>& TCoastLines::RunsOf(int index) const {
    made_[static_cast<std::size_t>(index)].Do(making_, [this, index] { MakeRuns(index); });
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

template <class Each> void TCoastLines::ForEachRawRun(int index, Each&& each) const {
    const TLineSegment& s = store_[index];
    const bool byOwners = s.Role == TLineRole::Unknown;
    if (byOwners) {
        std::call_once(ownersCounted_, [this] { CountOwners(); });
    }
    // Counted once and only read from here on, by any thread.
    const auto owners = [this](const BoundaryPoint& p) {
        const auto found = owners_.find(KeyOf(p));
        return found == owners_.end() ? 0 : found->second;
    };
    const std::vector<BoundaryPoint>& p = s.Points;
    std::size_t first = 0, size = 0; // the run so far: [first, first + size)
    const auto close = [&] {
        if (size >= 2) {
            each(first, first + size);
        }
        size = 0;
    };
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (byOwners && owners(p[i]) != 1) {
            close();
            continue;
        }
        // Runs do not cross the antimeridian: a jump of half the world starts a new one.
        if (size > 0 && std::fabs(p[i].lon - p[i - 1].lon) > 180.0f) {
            close();
        }
        if (size == 0) {
            first = i;
        }
        ++size;
    }
    close();
}

void TCoastLines::MakeRuns(int index) const {
    auto& runs = runs_[static_cast<std::size_t>(index)];
    const TLineSegment& s = store_[index];
    if (s.Role == TLineRole::Border) {
        return;
    }
    // A shore's runs follow from its own points alone: where they were thinned ahead, the
    // file says which points stay.
    std::optional<std::span<const std::uint8_t>> filed;
    if (s.Role == TLineRole::Shore && thinned_) {
        filed = thinned_->KeptOf(s.Points);
    }
    const auto kept = [&filed](std::size_t i) { return ((*filed)[i / 8] >> (i % 8) & 1) != 0; };
    const std::vector<BoundaryPoint>& p = s.Points;
    bool sound = true;
    const auto make = [&](std::size_t first, std::size_t end) {
        TRun& run = runs.emplace_back();
        for (std::size_t i = first; i < end; ++i) {
            if (!filed || kept(i)) {
                run.emplace_back(p[i].lon, p[i].lat);
            }
        }
        if (!filed) {
            ThinShoreRun(run);
        } else if (!kept(first) || !kept(end - 1)) {
            sound = false; // thinning keeps a run's ends: not flags for these points
        }
    };
    ForEachRawRun(index, make);
    if (filed && !sound) {
        runs.clear();
        filed.reset();
        ForEachRawRun(index, make);
    }
}

std::string TCoastLines::ThinnedShores() const {
    std::vector<int> shores;
    for (int i = 0; i < store_.Count(); ++i) {
        if (store_[i].Role == TLineRole::Shore) {
            shores.push_back(i);
        }
    }
    std::vector<TThinnedShores::TSegment> segments(shores.size());
    ForEachPart(
        static_cast<long long>(shores.size()), ThreadsFor(static_cast<long long>(shores.size()), 1),
        [&](long long first, long long end) {
            for (auto k = static_cast<std::size_t>(first); k < static_cast<std::size_t>(end); ++k) {
                const std::vector<BoundaryPoint>& p = store_[shores[k]].Points;
                TThinnedShores::TSegment& segment = segments[k];
                segment.Points = p;
                segment.Kept.assign(p.size(), false);
                ForEachRawRun(shores[k], [&](std::size_t from, std::size_t end) {
                    std::vector<std::pair<float, float>> run;
                    for (std::size_t i = from; i < end; ++i) {
                        run.emplace_back(p[i].lon, p[i].lat);
                    }
                    const std::vector<char> keep = ShoreRunKept(run);
                    for (std::size_t i = from; i < end; ++i) {
                        segment.Kept[i] = keep[i - from] != 0;
                    }
                });
            }
        });
    return TThinnedShores::Write(segments);
}

std::vector<TCoastSample> TCoastLines::SamplesOnImage(const TWarpedMapping& mapping, int width,
                                                      int height, int margin) const {
    TPictureFootprint footprint;
    footprint.Project(mapping);
    const TGeoExtent extent = footprint.Extent(0, -margin, width, height + margin, 0);
    const std::vector<int> shown = store_.Touching(extent);
    // The segments in parts that the cores take as they come (their shores differ much in
    // length), each part's samples in order: the same samples as one thread's.
    constexpr int kParts = 16;
    const int parts = static_cast<int>(std::min<std::size_t>(kParts, shown.size()));
    std::vector<TRunPlacer::TBlocks> found(static_cast<std::size_t>(parts));
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
    for (const auto& blocks : found) {
        for (const auto& block : blocks) {
            total += block.size();
        }
    }
    std::vector<TCoastSample> samples;
    samples.reserve(total);
    for (const auto& blocks : found) {
        for (const auto& block : blocks) {
            samples.insert(samples.end(), block.begin(), block.end());
        }
    }
    return samples;
}

} // namespace vantorel
