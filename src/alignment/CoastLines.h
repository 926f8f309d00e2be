#pragma once

// The boundaries that a picture can show: coasts and lake shores, not the land borders
// between countries, which no channel image draws. Where the boundary file says which
// lines are shores, that decides; where it does not (the native format), a point that two
// boundary rings share is a land border, and the runs of points only one ring has are
// shore.

#include "common/Once.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantorel {

class TCartogList;
class TThinnedShores;
class TWarpedMapping;

/// A point on a shore as a pass's mapping places it on the (unturned) image, with the unit
/// normal of the shore there: the direction in which the picture's brightness changes.
struct TCoastSample {
    float X = 0.0f; ///< image column, pixels
    float Y = 0.0f; ///< image line, pixels
    float Nx = 0.0f;
    float Ny = 0.0f;
};

/// Drops the points of a run of (lon, lat) that lie within about 100 m (a tenth of a pixel)
/// of the line through their neighbours (Douglas-Peucker, the farthest point first of
/// equals): the shore keeps its shape, and fewer points are projected.
void ThinShoreRun(std::vector<std::pair<float, float>>& run);
/// Which points of the run that thinning keeps.
std::vector<char> ShoreRunKept(const std::vector<std::pair<float, float>>& run);

/// The shores of one boundary store (which must outlive this object), worked out for a
/// segment the first time a picture may show it, or taken from the shores thinned ahead
/// where those have the segment's points. Threads may share one: each segment's shores are
/// worked out once, whichever thread asks first.
class TCoastLines {
public:
    explicit TCoastLines(const TCartogList& store,
                         std::shared_ptr<const TThinnedShores> thinned = nullptr);
    ~TCoastLines();

    /// The shore points of a picture of width x height placed by the mapping, about one
    /// pixel apart, reaching `margin` lines above and below the picture so that a shifted
    /// overlay still finds them. Beyond its sides lies ground the scanner did not see,
    /// crowded towards the horizon: no picture there to match, so no points either.
    /// Segments the picture cannot show are not projected.
    std::vector<TCoastSample> SamplesOnImage(const TWarpedMapping& mapping, int width, int height,
                                             int margin) const;

    /// The store's shores thinned, as the file of them that a later run reads.
    std::string ThinnedShores() const;

private:
    using TRun = std::vector<std::pair<float, float>>; // (lon, lat), thinned
    const std::vector<TRun>& RunsOf(int segment) const;
    void MakeRuns(int segment) const;
    /// each(first, end): the ranges of a segment's points that make its runs before
    /// thinning, at least two points each.
    template <class Each> void ForEachRawRun(int segment, Each&& each) const;
    void CountOwners() const;

    const TCartogList& store_;
    std::shared_ptr<const TThinnedShores> thinned_;
    mutable std::unordered_map<std::uint64_t, std::uint8_t> owners_; ///< for rings without roles
    mutable std::once_flag ownersCounted_;
    mutable std::vector<std::vector<TRun>> runs_;
    std::unique_ptr<TOnce[]> made_;
    mutable TOnceLocks making_;
};

} // namespace vantorel
