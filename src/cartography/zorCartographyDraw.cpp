// Drawing of the boundary store and of place marks through the store's mapping.
// Departure from the plain rules: a segment is closed back to its first point only when
// its first and last points are both on the map and the closing edge does not jump (see
// TraceRuns); otherwise the closing line would cross the picture.
//
// What makes it fast, none of which changes a pixel: segments that cannot reach the
// bitmap, and the pieces of long ones that cannot, are left out before they are
// projected (GeoExtent.h); the runs a segment draws
// are kept per mapping state, as they do not depend on where the overlay is placed; and
// from the second drawing of a mapping state on, the pixels the lines cover around the
// bitmap are kept, so that a redraw that moves the overlay copies them.
#include "cartography/zorCartography.h"

#include "common/Parallel.h"
#include "common/StringUtils.h"
#include "imaging/Bitmap.h"
#include "imaging/Canvas.h"
#include "mapping/zorMapping.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace vantorel {

namespace {

// Saves the canvas state a place mark changes and puts it back on every path.
class CanvasStateGuard {
public:
    explicit CanvasStateGuard(TCanvas& canvas)
        : canvas_(canvas), brush_(canvas.Brush), pen_(canvas.Pen), fontSize_(canvas.Font.Size) {}
    ~CanvasStateGuard() {
        canvas_.Brush = brush_;
        canvas_.Pen = pen_;
        canvas_.Font.Size = fontSize_;
    }
    CanvasStateGuard(const CanvasStateGuard&) = delete;
    CanvasStateGuard& operator=(const CanvasStateGuard&) = delete;
    const TBrush& SavedBrush() const { return brush_; }

private:
    TCanvas& canvas_;
    TBrush brush_;
    TPen pen_;
    int fontSize_;
};

void Line(TCanvas& c, int x1, int y1, int x2, int y2) {
    c.MoveTo(x1, y1);
    c.LineTo(x2, y2);
}

// Pixels around the bitmap that a cover keeps, so that the overlay can move that far
// (the arrow keys move it by 1 to 16) before the lines are drawn again.
constexpr int kCoverMargin = 128;

int PlacementCode(const std::string& field, int fallback) {
    static const char* const kCodes[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    const std::string upper = UpperCase(field);
    for (int i = 0; i < 8; ++i) {
        if (upper == kCodes[i]) {
            return i;
        }
    }
    return fallback;
}

} // namespace

bool TCartogList::IsDrawableKind(std::uint8_t kind) {
    const int k = kind & ~1;
    return k == 0 || k == 4 || k == 8;
}

void TCartogList::DrawBoundaries(TBitmap& bitmap, int pixelOffset, int lineOffset) {
    if (Mapping == nullptr || Count() == 0) {
        return;
    }
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = kBoundaryBrushColour;
    canvas.Brush.Style = TBrushStyle::bsClear;
    if (!CullSegments) {
        DrawBoundariesOnCanvas(canvas, pixelOffset, lineOffset);
        if (Drawn != nullptr) {
            Drawn->Known = false;
        }
    } else if (!KeepCover || Scale.Scaled() || !DrawFromCover(bitmap, pixelOffset, lineOffset)) {
        if (Drawn != nullptr) {
            Drawn->Known = false;
        }
        // Culled in the full-size picture's pixels, a pen as wide there as on the bitmap.
        const int width = Scale.Scaled() ? Scale.FullWidth : bitmap.Width();
        const int height = Scale.Scaled() ? Scale.FullHeight : bitmap.Height();
        const int pen = Scale.Scaled() && bitmap.Width() > 0 && bitmap.Height() > 0
                            ? canvas.Pen.Width *
                                  (std::max(width / bitmap.Width(), height / bitmap.Height()) + 1)
                            : canvas.Pen.Width;
        // The runs are traced as far as the cover reaches and a little further, so that
        // neither it nor the nudges that follow trace them again.
        constexpr int kReach = kCoverMargin + 32;
        const TGeoExtent reach = PictureExtent(width + 2 * kReach, height + 2 * kReach,
                                               pixelOffset + kReach, lineOffset - kReach, pen);
        TraceWithin(&reach);
        const TGeoExtent picture = PictureExtent(width, height, pixelOffset, lineOffset, pen);
        DrawBoundariesOnCanvas(canvas, pixelOffset, lineOffset, &picture);
    }
}

std::vector<std::pair<size_t, size_t>> TCartogList::RunPieces(size_t count) {
    std::vector<std::pair<size_t, size_t>> pieces;
    size_t start = 0;
    size_t remaining = count;
    while (remaining > 1) {
        const size_t n = std::min<size_t>(remaining, kMaxPolylinePoints);
        pieces.emplace_back(start, n);
        if (n < static_cast<size_t>(kMaxPolylinePoints)) {
            break;
        }
        // The next piece starts at the last point of this one.
        start += kMaxPolylinePoints - 1;
        remaining -= kMaxPolylinePoints - 1;
    }
    return pieces;
}

void TCartogList::FlushRun(TRunBatch& batch, std::span<const TPoint> run, std::uint8_t kind,
                           TPoint offset) const {
    if (!IsDrawableKind(kind)) {
        return;
    }
    const size_t at = batch.points.size();
    if (!Scale.Scaled()) {
        for (const TPoint& p : run) {
            batch.points.push_back({p.X + offset.X, p.Y + offset.Y});
        }
        for (const auto& [start, n] : RunPieces(run.size())) {
            batch.lines.emplace_back(at + start, n);
        }
        return;
    }
    // Many points of a run fall on one pixel of the smaller bitmap: each is drawn once (a
    // run within one pixel, too small to see, is not drawn at all).
    for (const TPoint& p : run) {
        const TPoint q = Scale.Apply({p.X + offset.X, p.Y + offset.Y});
        if (batch.points.size() == at || !(batch.points.back() == q)) {
            batch.points.push_back(q);
        }
    }
    for (const auto& [start, n] : RunPieces(batch.points.size() - at)) {
        batch.lines.emplace_back(at + start, n);
    }
}

void TCartogList::TRunBatch::DrawOn(TCanvas& canvas) {
    canvas.Polylines(points, lines);
    points.clear();
    lines.clear();
}

int TCartogList::EffectiveJumpLimit() const {
    if (JumpLimit > 0) {
        return JumpLimit;
    }
    const int m = Mapping->GetMapHeight();
    return Mapping->ProjectionKind() == TMapping::kVanDerGrinten ? m * 3 / 6 : m * 5 / 6;
}

void TCartogList::SyncProjection(int jumpLimit) {
    FSegments.resize(FStore->items.size()); // a store that shares its segments starts with none
    const bool sameMapping = FGeneration != 0 && FProjectedMapping == Mapping &&
                             FProjectedVersion == Mapping->ProjectionVersion();
    if (sameMapping && FTracedJumpLimit == jumpLimit && FTracedClose == ClosePolylines) {
        return;
    }
    ++FGeneration;
    FRuns.clear();
    FRunPoints.clear();
    FTracedJumpLimit = jumpLimit;
    FTracedClose = ClosePolylines;
    FTraceCells = TGeoExtent();
    FTraceGlobe = false;
    ++FTraceEpoch;
    if (!sameMapping) {
        FProjectedMapping = Mapping;
        FProjectedVersion = Mapping->ProjectionVersion();
        FFootprint = TPictureFootprint();
    }
}

void TCartogList::ProjectSegment(size_t index) {
    const std::vector<BoundaryPoint>& points = Item(index).segment.Points;
    FScratch.resize(points.size());
    Mapping->LatLonToImage(points, FScratch.data());
}

bool TCartogList::PlanProjection(size_t index, size_t at, std::vector<Stretch>& stretches) const {
    const TItem& item = Item(index);
    const SegmentShape& info = item.shape;
    const size_t count = item.segment.Points.size();
    if (FTraceGlobe || info.firstPiece == info.endPiece) {
        stretches.push_back({index, 0, count, at});
        return false;
    }
    // The runs break where a piece is left out: none of its lines reaches the cells. The
    // segment's own ends are placed all the same, as closing the ring depends on them.
    bool leftOut = false;
    size_t next = 0; // the first point not yet planned
    const auto plan = [&](size_t first, size_t end) {
        if (!stretches.empty() && stretches.back().segment == index &&
            stretches.back().end == first) {
            stretches.back().end = end;
        } else {
            stretches.push_back({index, first, end, at + first});
        }
        next = end;
    };
    for (std::uint32_t piece = info.firstPiece; piece < info.endPiece; ++piece) {
        const size_t first = (piece - info.firstPiece) * kPiecePoints;
        const size_t last = std::min(first + kPiecePoints, count - 1);
        if (!FTraceCells.IntersectsCells(item.pieces[piece])) {
            leftOut = true;
            continue;
        }
        if (next == 0 && first > 0) {
            plan(0, 1);
        }
        plan(std::max(first, next), last + 1);
    }
    if (next == 0) {
        plan(0, 1);
    }
    if (next < count) {
        plan(count - 1, count);
    }
    return leftOut;
}

void TCartogList::TraceWithin(const TGeoExtent* cells) {
    if (FTraceGlobe) {
        return;
    }
    if (cells == nullptr) {
        FTraceGlobe = true;
        ++FTraceEpoch;
    } else if (!FTraceCells.Holds(*cells)) {
        FTraceCells = FTraceCells.With(*cells);
        ++FTraceEpoch;
    }
}

namespace {

// Lines reaching this far (pixels) are cut short by the canvas where a shift of the whole
// drawing would cut them elsewhere: their segments are never kept in a cover.
constexpr int kFarCoordinate = 1 << 22;

// The drawing rules over one segment's projected points placed at `offset`: runs break
// where a point is off the map or the line jumps further across than the jump limit,
// repeats of the last point are dropped (but for the segment's last point), and with
// `close` a segment whose first and last points are on the map returns to its first.
// Each run goes to `flush`, in `run`. With `fromMinusOne` a run starts after the point
// (-1, -1), so that a first point placed there is dropped as a repeat, as the plain rules
// have it; without, a run's first point is always kept, which makes the runs the same,
// but for the offset, wherever the overlay is placed.
template <class Flush>
void TraceRuns(std::span<const TCartogList::ProjectedPoint> points, TPoint offset, int jumpLimit,
               bool close, bool fromMinusOne, std::vector<TPoint>& run, Flush&& flush) {
    constexpr TPoint kRestart{-1, -1};
    run.clear();
    TPoint last = kRestart;
    bool fresh = true; // nothing kept since the run began
    TPoint first;
    bool begun = false;      // a point of the segment has been on the map
    bool firstOnMap = false; // the segment's own first point was placed
    bool lastOnMap = false;  // and so was its last
    const size_t count = points.size();
    for (size_t i = 0; i < count; ++i) {
        lastOnMap = points[i].onMap;
        if (i == 0) {
            firstOnMap = lastOnMap;
        }
        if (!lastOnMap) {
            if (begun) {
                flush(std::span<const TPoint>(run));
                run.clear();
                last = kRestart;
                fresh = true;
            }
            continue;
        }
        const TPoint p{points[i].x + offset.X, points[i].y + offset.Y};
        const bool keep = fresh && !fromMinusOne;
        const long long dx = keep ? 0 : std::llabs(static_cast<long long>(last.X) - p.X);
        const long long dy = keep ? 0 : std::llabs(static_cast<long long>(last.Y) - p.Y);
        if (dx > jumpLimit && begun) {
            flush(std::span<const TPoint>(run));
            run.clear();
            last = kRestart;
            fresh = true;
        }
        if (!begun) {
            first = p;
            begun = true;
        }
        if (keep || dx > 0 || dy > 0 || i + 1 == count) {
            run.push_back(p);
            last = p;
            fresh = false;
        }
    }
    // Close the ring only along its own closing edge: from a last point on the map back
    // to a first point on the map, without a jump. A ring that leaves the map returns to
    // its start off the map, and a straight line across the picture would be drawn where
    // there is no boundary.
    if (close && firstOnMap && lastOnMap && !run.empty() &&
        std::llabs(static_cast<long long>(run.back().X) - first.X) <= jumpLimit) {
        run.push_back(first);
    }
    flush(std::span<const TPoint>(run));
}

} // namespace

void TCartogList::TraceSegments(std::span<const size_t> indices, int jumpLimit) {
    // Which points each segment not yet traced needs, then all of them projected on every
    // core, then the runs traced one segment after another.
    std::vector<size_t> todo;
    std::vector<size_t> at; // of each in FScratch
    std::vector<Stretch> stretches;
    size_t points = 0;
    for (const size_t index : indices) {
        SegmentInfo& info = FSegments[index];
        if (info.generation == FGeneration && (!info.partial || info.traceEpoch == FTraceEpoch)) {
            continue;
        }
        todo.push_back(index);
        at.push_back(points);
        info.partial = PlanProjection(index, points, stretches);
        points += Item(index).segment.Points.size();
    }
    if (todo.empty()) {
        return;
    }
    FScratch.assign(points, ProjectedPoint{});
    std::vector<size_t> stretchStart(stretches.size() + 1, 0); // in the projected points
    for (size_t k = 0; k < stretches.size(); ++k) {
        stretchStart[k + 1] = stretchStart[k] + (stretches[k].end - stretches[k].first);
    }
    const long long total = static_cast<long long>(stretchStart.back());
    ForEachPart(total, ThreadsFor(total, 16384), [&](long long first, long long end) {
        size_t k = static_cast<size_t>(
            std::upper_bound(stretchStart.begin(), stretchStart.end(), static_cast<size_t>(first)) -
            stretchStart.begin() - 1);
        for (long long n = first; n < end; ++k) {
            const Stretch& st = stretches[k];
            const std::vector<BoundaryPoint>& p = Item(st.segment).segment.Points;
            const size_t from = st.first + (static_cast<size_t>(n) - stretchStart[k]);
            const size_t to = std::min(st.end, from + static_cast<size_t>(end - n));
            Mapping->LatLonToImage(std::span(p).subspan(from, to - from),
                                   &FScratch[st.at + (from - st.first)]);
            n += static_cast<long long>(to - from);
        }
    });
    // The runs of each segment, the segments split by their points over the cores, each
    // part's runs kept apart and then appended in segment order.
    struct Traced {
        std::vector<Run> runs; // first: in points
        std::vector<TPoint> points;
    };
    const int parts = ThreadsFor(total, 32768);
    std::vector<Traced> traced(static_cast<size_t>(parts));
    std::vector<size_t> partStart(static_cast<size_t>(parts) + 1, todo.size());
    for (int p = 0; p < parts; ++p) {
        partStart[static_cast<size_t>(p)] = static_cast<size_t>(
            std::lower_bound(at.begin(), at.end(), points * static_cast<size_t>(p) / parts) -
            at.begin());
    }
    ForEachPart(parts, parts, [&](long long part, long long) {
        Traced& out = traced[static_cast<size_t>(part)];
        std::vector<TPoint> run;
        for (size_t k = partStart[static_cast<size_t>(part)];
             k < partStart[static_cast<size_t>(part) + 1]; ++k) {
            SegmentInfo& info = FSegments[todo[k]];
            info.traceEpoch = FTraceEpoch;
            info.firstRun = static_cast<std::uint32_t>(out.runs.size());
            info.far = false;
            const std::span<const ProjectedPoint> projected(FScratch.data() + at[k],
                                                            Item(todo[k]).segment.Points.size());
            TraceRuns(projected, TPoint{0, 0}, jumpLimit, ClosePolylines, false, run,
                      [&out, &info](std::span<const TPoint> r) {
                          if (r.size() >= 2) { // fewer points draw nothing
                              out.runs.push_back({static_cast<std::uint32_t>(out.points.size()),
                                                  static_cast<std::uint32_t>(r.size())});
                              out.points.insert(out.points.end(), r.begin(), r.end());
                              for (const TPoint& q : r) {
                                  info.far = info.far || std::abs(q.X) >= kFarCoordinate ||
                                             std::abs(q.Y) >= kFarCoordinate;
                              }
                          }
                      });
            info.endRun = static_cast<std::uint32_t>(out.runs.size());
            info.generation = FGeneration;
        }
    });
    for (int p = 0; p < parts; ++p) {
        const Traced& part = traced[static_cast<size_t>(p)];
        const auto runBase = static_cast<std::uint32_t>(FRuns.size());
        const auto pointBase = static_cast<std::uint32_t>(FRunPoints.size());
        for (size_t k = partStart[static_cast<size_t>(p)]; k < partStart[static_cast<size_t>(p) + 1];
             ++k) {
            FSegments[todo[k]].firstRun += runBase;
            FSegments[todo[k]].endRun += runBase;
        }
        for (const Run& r : part.runs) {
            FRuns.push_back({r.first + pointBase, r.count});
        }
        FRunPoints.insert(FRunPoints.end(), part.points.begin(), part.points.end());
    }
}

TGeoExtent TCartogList::PictureExtent(int width, int height, int pixelOffset, int lineOffset,
                                      int penWidth) {
    if (Mapping == nullptr) {
        return TGeoExtent::Globe();
    }
    SyncProjection(EffectiveJumpLimit());
    if (!FFootprint.Projected()) {
        FFootprint.Project(*Mapping);
    }
    // The bitmap in the mapping's pixels: placed x = x + pixelOffset, y = y - lineOffset.
    // A pen reaches its width beyond the line, and a mark of it at most as far again.
    const int margin = 2 * std::max(penWidth, 1) + 2;
    return FFootprint.Extent(-pixelOffset, lineOffset, width - pixelOffset, height + lineOffset,
                             margin);
}

void TCartogList::DrawBoundariesOnCanvas(TCanvas& canvas, int pixelOffset, int lineOffset,
                                         const TGeoExtent* picture) {
    if (Mapping != nullptr) {
        DrawSegments(canvas, TPoint{pixelOffset, -lineOffset}, picture, true, nullptr);
    }
}

bool TCartogList::InView(const TLineSegment& s) const {
    return ViewSouth == ViewNorth ||
           (s.North > ViewSouth && s.South < ViewNorth && s.East > ViewWest && s.West < ViewEast) ||
           s.South < -70.0f;
}

void TCartogList::DrawSegments(TCanvas& canvas, TPoint offset, const TGeoExtent* picture,
                               bool plainRules, std::vector<size_t>* far) {
    const int jumpLimit = EffectiveJumpLimit();
    SyncProjection(jumpLimit);
    TraceWithin(picture);
    std::vector<size_t> near;
    for (size_t index = 0; index < FStore->items.size(); ++index) {
        const TItem& unread = *FStore->items[index];
        if (!IsDrawableKind(unread.segment.Kind)) {
            continue; // an undrawable kind's runs would draw nothing
        }
        // Left unread where the cells round its points miss the picture and no edge of
        // it is long: it would be culled once read.
        if (picture != nullptr && unread.at != nullptr && unread.surelyCullable &&
            !picture->IntersectsCells(unread.around)) {
            continue;
        }
        near.push_back(index);
    }
    ReadSegments(near);
    std::vector<size_t> drawn;
    for (const size_t index : near) {
        const TItem& item = Item(index);
        if (!InView(item.segment)) {
            continue;
        }
        if (picture != nullptr && item.shape.cullable &&
            !picture->IntersectsCells(item.shape.cells)) {
            continue;
        }
        drawn.push_back(index);
    }
    TraceSegments(drawn, jumpLimit);
    std::vector<TPoint> run;
    run.reserve(static_cast<size_t>(MaxCount) + 2);
    // Room for what was traced, about what is drawn: the batch is not copied as it grows.
    TRunBatch batch;
    batch.points.reserve(FRunPoints.size());
    batch.lines.reserve(FRuns.size());
    for (const size_t index : drawn) {
        if (far != nullptr && FSegments[index].far) {
            far->push_back(index);
            continue;
        }
        DrawSegment(batch, index, offset, plainRules, run);
    }
    batch.DrawOn(canvas);
}

void TCartogList::DrawSegment(TRunBatch& batch, size_t index, TPoint offset, bool plainRules,
                              std::vector<TPoint>& run) {
    const SegmentInfo& info = FSegments[index];
    const std::uint8_t kind = Item(index).segment.Kind;
    if (plainRules && StartsRunAt(info, TPoint{-1 - offset.X, -1 - offset.Y})) {
        // There the plain rules drop the run's first point as a repeat of (-1, -1).
        ProjectSegment(index);
        TraceRuns(FScratch, offset, FTracedJumpLimit, ClosePolylines, true, run,
                  [&](std::span<const TPoint> r) { FlushRun(batch, r, kind); });
        return;
    }
    for (std::uint32_t r = info.firstRun; r < info.endRun; ++r) {
        const Run& traced = FRuns[r];
        FlushRun(batch, std::span(FRunPoints).subspan(traced.first, traced.count), kind, offset);
    }
}

bool TCartogList::StartsRunAt(const SegmentInfo& info, TPoint mapped) const {
    for (std::uint32_t r = info.firstRun; r < info.endRun; ++r) {
        if (FRunPoints[FRuns[r].first] == mapped) {
            return true;
        }
    }
    return false;
}

namespace {

bool EarlierPoint(const TPoint& a, const TPoint& b) {
    return a.X != b.X ? a.X < b.X : a.Y < b.Y;
}

// The bytes the canvas writes for a pen colour into a bitmap of this format and palette.
std::vector<std::uint8_t> InkBytes(const TBitmap& bitmap, TColor colour) {
    TBitmap probe;
    probe.SetPixelFormat(bitmap.PixelFormat());
    if (bitmap.PixelFormat() == TPixelFormat::pf8bit) {
        probe.SetPalette(bitmap.Palette());
    }
    probe.SetSize(2, 1);
    TCanvas& c = probe.Canvas();
    c.Pen.Color = colour;
    c.Pen.Width = 1;
    c.MoveTo(0, 0);
    c.LineTo(2, 0);
    const std::uint8_t* pixel = probe.ScanLine(0);
    return {pixel, pixel + BytesPerPixel(bitmap.PixelFormat())};
}

} // namespace

bool TCartogList::DrawFromCover(TBitmap& bitmap, int pixelOffset, int lineOffset) {
    const int penWidth = std::clamp(bitmap.Canvas().Pen.Width, 1, TBitmap::kMaxDimension);
    SyncProjection(EffectiveJumpLimit());
    // The bitmap in the mapping's pixels.
    const long long left = -static_cast<long long>(pixelOffset);
    const long long top = lineOffset;
    const long long right = left + bitmap.Width();
    const long long bottom = top + bitmap.Height();
    const std::array<float, 4> view{ViewSouth, ViewNorth, ViewWest, ViewEast};
    const bool kept = FCover.generation == FGeneration && FCover.penWidth == penWidth &&
                      FCover.view == view && left >= FCover.left && top >= FCover.top &&
                      right <= FCover.right && bottom <= FCover.bottom;
    if (!kept) {
        // A picture drawn once per mapping state (a pass processed without a window)
        // needs no cover: make one from the second drawing on.
        if (FCoverWanted != FGeneration) {
            FCoverWanted = FGeneration;
            return false;
        }
        if (!BuildCover(left, top, right, bottom, penWidth)) {
            return false;
        }
    }
    // A run starting on the bitmap's (-1, -1) is drawn otherwise by the plain rules.
    const TPoint corner{static_cast<int>(left - 1), static_cast<int>(top - 1)};
    if (std::binary_search(FCover.runStarts.begin(), FCover.runStarts.end(), corner,
                           EarlierPoint)) {
        return false;
    }

    const std::vector<std::uint8_t> ink = InkBytes(bitmap, bitmap.Canvas().Pen.Color);
    const size_t bpp = ink.size();
    // Both halves of the rows at once, each telling its own drawn spans, which are then
    // joined in row order.
    const int height = bitmap.Height();
    const int parts = ThreadsFor(FCover.rowStart[static_cast<size_t>(top + height - FCover.top)] -
                                     FCover.rowStart[static_cast<size_t>(top - FCover.top)],
                                 16384);
    std::vector<std::vector<TRowSpan>> told(static_cast<size_t>(parts));
    ForEachPart(height, parts, [&](long long firstRow, long long endRow) {
        int part = 0; // the part's number, from where its rows start
        while (part + 1 < parts && static_cast<long long>(height) * (part + 1) / parts <= firstRow) {
            ++part;
        }
        std::vector<TRowSpan>& spans = told[static_cast<size_t>(part)];
        for (int y = static_cast<int>(firstRow); y < endRow; ++y) {
            const size_t row = static_cast<size_t>(top + y - FCover.top);
            std::uint8_t* line = bitmap.ScanLine(y);
            for (std::uint32_t i = FCover.rowStart[row]; i < FCover.rowStart[row + 1]; ++i) {
                const long long from =
                    std::max<long long>(FCover.left + FCover.spans[i].first - left, 0);
                const long long to = std::min<long long>(
                    FCover.left + FCover.spans[i].last - left, bitmap.Width() - 1);
                if (Drawn != nullptr && from <= to) {
                    spans.push_back({y, static_cast<int>(from), static_cast<int>(to)});
                }
                if (bpp == 3) { // the display's format: a constant size the compiler inlines
                    for (long long x = from; x <= to; ++x) {
                        std::memcpy(line + static_cast<size_t>(x) * 3, ink.data(), 3);
                    }
                } else {
                    for (long long x = from; x <= to; ++x) {
                        std::memcpy(line + static_cast<size_t>(x) * bpp, ink.data(), bpp);
                    }
                }
            }
        }
    });
    if (Drawn != nullptr) {
        for (const std::vector<TRowSpan>& spans : told) {
            Drawn->Spans.insert(Drawn->Spans.end(), spans.begin(), spans.end());
        }
    }
    if (Drawn != nullptr && !FCover.far.empty()) {
        Drawn->Known = false;
    }
    std::vector<TPoint> run;
    TRunBatch batch;
    for (const size_t index : FCover.far) {
        DrawSegment(batch, index, TPoint{pixelOffset, -lineOffset}, true, run);
    }
    batch.DrawOn(bitmap.Canvas());
    bitmap.SetModified(true);
    return true;
}

bool TCartogList::BuildCover(long long left, long long top, long long right, long long bottom,
                             int penWidth) {
    FCover.generation = 0;
    left -= kCoverMargin;
    top -= kCoverMargin;
    right += kCoverMargin;
    bottom += kCoverMargin;
    if (right - left > TBitmap::kMaxDimension || bottom - top > TBitmap::kMaxDimension ||
        left < INT_MIN / 2 || right > INT_MAX / 2 || top < INT_MIN / 2 || bottom > INT_MAX / 2) {
        return false;
    }
    const int width = static_cast<int>(right - left);
    const int height = static_cast<int>(bottom - top);
    TBitmap mask;
    mask.SetPixelFormat(TPixelFormat::pf8bit);
    mask.SetPalette({TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}});
    mask.SetSize(width, height);
    TCanvas& canvas = mask.Canvas();
    canvas.Pen.Color = clWhite;
    canvas.Pen.Width = penWidth;
    const int pixelOffset = static_cast<int>(-left);
    const int lineOffset = static_cast<int>(top);
    const TGeoExtent picture = PictureExtent(width, height, pixelOffset, lineOffset, penWidth);
    // Every run as kept, whatever lands on the mask's (-1, -1): the rules' exception for
    // that point belongs to the bitmap, where it is checked at each drawing.
    FCover.far.clear();
    DrawSegments(canvas, TPoint{pixelOffset, -lineOffset}, &picture, false, &FCover.far);

    FCover.runStarts.clear();
    FCover.spans.clear();
    FCover.rowStart.assign(static_cast<size_t>(height) + 1, 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = mask.ScanLine(y);
        for (int x = 0; x < width;) {
            std::uint64_t eight = 0; // most of a row is empty: skip it eight pixels at a time
            while (x + 8 <= width && (std::memcpy(&eight, row + x, 8), eight == 0)) {
                x += 8;
            }
            if (x >= width) {
                break;
            }
            if (row[x] == 0) {
                ++x;
                continue;
            }
            const int first = x;
            while (x < width && row[x] != 0) {
                ++x;
            }
            FCover.spans.push_back({first, x - 1});
        }
        FCover.rowStart[static_cast<size_t>(y) + 1] =
            static_cast<std::uint32_t>(FCover.spans.size());
    }
    for (size_t i = 0; i < FSegments.size(); ++i) {
        const SegmentInfo& info = FSegments[i];
        if (info.generation == FGeneration) {
            for (std::uint32_t r = info.firstRun; r < info.endRun; ++r) {
                FCover.runStarts.push_back(FRunPoints[FRuns[r].first]);
            }
        }
    }
    std::sort(FCover.runStarts.begin(), FCover.runStarts.end(), EarlierPoint);
    FCover.generation = FGeneration;
    FCover.penWidth = penWidth;
    FCover.view = {ViewSouth, ViewNorth, ViewWest, ViewEast};
    FCover.left = left;
    FCover.top = top;
    FCover.right = right;
    FCover.bottom = bottom;
    return true;
}

std::optional<TPlaceMarkLine> ParsePlaceMarkLine(const std::string& line, int defaultPlacement) {
    if (!line.empty() && line[0] == '#') {
        return std::nullopt;
    }
    const std::vector<std::string> fields = SplitDelimited(line, ',');
    if (fields.size() < 4 || fields[0].empty()) {
        return std::nullopt;
    }
    const auto lon = ParseReal(fields[2]);
    const auto lat = ParseReal(fields[3]);
    if (!lon || !lat) {
        return std::nullopt;
    }
    TPlaceMarkLine mark;
    mark.symbol = fields[0][0];
    mark.label = fields[1];
    mark.lon = static_cast<float>(*lon);
    mark.lat = static_cast<float>(*lat);
    mark.placement =
        fields.size() > 4 ? PlacementCode(fields[4], defaultPlacement) : defaultPlacement;
    return mark;
}

void TCartogList::TDrawnPixels::AddBox(int left, int top, int right, int bottom, int width,
                                       int height) {
    for (int y = std::max(top, 0); y <= std::min(bottom, height - 1); ++y) {
        Spans.push_back({y, std::max(left, 0), std::min(right, width - 1)});
    }
}

void TCartogList::DrawPlaceMarks(TBitmap& bitmap, int pixelOffset, int lineOffset,
                                 const std::vector<std::string>& lines, TColor colour, bool bold,
                                 TBrushStyle labelBrushStyle, int defaultPlacement, bool halo) {
    const TPlaceMarkStyle style{colour, bold ? 3 : 1, labelBrushStyle, halo, false};
    for (const std::string& line : lines) {
        try {
            if (const auto mark = ParsePlaceMarkLine(line, defaultPlacement)) {
                DrawPlaceMark(bitmap, pixelOffset, lineOffset, *mark, style);
            }
        } catch (const std::exception&) {
            // A line that cannot be drawn is skipped; the next one is read.
        }
    }
}

namespace {

// Whether a mark at (x, y), symbol and label, could reach the bitmap at all (the redraw
// runs on every arrow key: the text work of marks far off is skipped).
bool MayReach(TCanvas& c, const TBitmap& bitmap, int x, int y, const std::string& label,
              int penWidth) {
    const int reach = 12 + penWidth; // the largest symbol, with its pen
    const int textWidth = label.empty() ? 0 : c.TextWidth(label);
    const int textHeight = label.empty() ? 0 : c.TextHeight(label);
    const int span = std::max(reach, 2 * textWidth + 16 + 2 * textHeight + 8); // halo too
    return x + span >= 0 && y + span >= 0 && x - span < bitmap.Width() &&
           y - span < bitmap.Height();
}

void DrawSymbol(TCanvas& c, int X, int Y, char symbol) {
    auto plus = [&] {
        Line(c, X, Y - 6, X, Y + 7);
        Line(c, X - 6, Y, X + 7, Y);
    };
    auto cross = [&] {
        Line(c, X - 5, Y - 5, X + 6, Y + 6);
        Line(c, X - 5, Y + 5, X + 6, Y - 6);
    };
    switch (symbol) {
    case '+':
        plus();
        break;
    case 'x':
        cross();
        break;
    case 'X':
        Line(c, X - 8, Y - 8, X + 9, Y + 9);
        Line(c, X - 8, Y + 8, X + 9, Y - 9);
        break;
    case '*':
        plus();
        cross();
        break;
    case '^':
        c.MoveTo(X - 4, Y + 2);
        c.LineTo(X, Y - 3);
        c.LineTo(X + 4, Y + 2);
        break;
    case '~':
        c.MoveTo(X - 8, Y);
        c.LineTo(X - 4, Y - 2);
        c.LineTo(X + 4, Y + 2);
        c.LineTo(X + 8, Y);
        break;
    case '.':
        c.Pen.Width = 1;
        c.Ellipse(X - 3, Y - 3, X + 4, Y + 4);
        break;
    case 'o':
        c.Ellipse(X - 7, Y - 7, X + 8, Y + 8);
        break;
    case 'O':
        c.Ellipse(X - 10, Y - 10, X + 11, Y + 11);
        break;
    default:
        break;
    }
}

// How far the label's corner lies left of (ox) and below (oy) the mark, for a label of
// W x H drawn with this pen.
std::pair<int, int> LabelShift(int placement, int W, int H, int penWidth, bool mirror) {
    const int w2 = W / 2;
    const int below = penWidth == 1 ? H - 4 : H;
    switch (placement) {
    case plN:
        return {w2, -5 - H};
    case plNE:
        return {-7, -5 - H};
    case plE:
        return {-7, -1 - H / 2};
    case plSE:
        return {-7, below};
    case plSW:
        return {2 * w2 + 7, below};
    case plW:
        return {2 * w2 + 7, -1 - H / 2};
    case plNW:
        return {2 * w2 + 7, -5 - H};
    default: // "S" and unknown codes
        return mirror ? std::pair{-w2, 2 * below} : std::pair{w2, below};
    }
}

} // namespace

void TCartogList::DrawPlaceMark(TBitmap& bitmap, int pixelOffset, int lineOffset,
                                const TPlaceMarkLine& mark, const TPlaceMarkStyle& style) {
    int px = 0;
    int py = 0;
    if (Mapping == nullptr || !Mapping->LatLonToImage(px, py, mark.lon, mark.lat)) {
        return;
    }
    const auto [X, Y] = Scale.Apply({px + pixelOffset, py - lineOffset});
    TCanvas& c = bitmap.Canvas();
    const CanvasStateGuard saved(c);
    c.Font.Size = LabelScale * c.Font.Size;
    c.Pen.Color = style.Colour;
    c.Pen.Width = style.PenWidth;
    c.Brush.Style = TBrushStyle::bsClear;
    if (!MayReach(c, bitmap, X, Y, mark.label, style.PenWidth)) {
        return;
    }
    // What a redraw has to put back: the box of the largest symbol with its pen, and the
    // label's box with its halo.
    const auto drawnBox = [&](int left, int top, int right, int bottom) {
        if (Drawn != nullptr) {
            Drawn->AddBox(left, top, right, bottom, bitmap.Width(), bitmap.Height());
        }
    };
    const int reach = 12 + style.PenWidth;
    drawnBox(X - reach, Y - reach, X + reach, Y + reach);
    DrawSymbol(c, X, Y, mark.symbol);
    if (mark.label.empty()) {
        return;
    }
    c.Brush.Style = style.LabelBrush;
    if (style.LabelBrush != TBrushStyle::bsClear) {
        c.Brush.Color = saved.SavedBrush().Color;
    }
    const int W = c.TextWidth(mark.label);
    const int H = c.TextHeight(mark.label);
    const auto [ox, oy] = LabelShift(mark.placement, W, H, c.Pen.Width, style.Mirror);
    const int cx = X - ox;
    const int cy = Y + oy;
    drawnBox(cx - 1, cy - 1, cx + W, cy + H);
    c.Font.Color = clBlack;
    if (style.Halo) {
        for (const auto& [hx, hy] : {std::pair{-1, -1}, {1, -1}, {-1, 1}, {1, 1}}) {
            c.TextOut(cx + hx, cy + hy, mark.label);
        }
    }
    c.Font.Color = c.Pen.Color;
    c.TextOut(cx, cy, mark.label);
    c.Font.Color = clBlack;
}

} // namespace vantorel
