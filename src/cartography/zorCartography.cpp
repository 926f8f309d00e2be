// The boundary store and its two file readers.
// Departures from the plain rules, for files that lie or are cut short: a record or
// polygon cut short keeps only its fully read points; a negative point count ends the
// file; MaxCount follows the points really read, so a lying count cannot make the
// drawing allocate for points that do not exist; capacity growth from a file's size is
// limited to what the file could hold.
#include "cartography/zorCartography.h"

#include "common/Angles.h"
#include "common/ByteOrder.h"
#include "common/Parallel.h"
#include "common/TextFile.h"
#include "imaging/Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantorel {

namespace {

std::uint32_t ByteSwap32(std::uint32_t v) {
    return ((v & 0xFFu) << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | (v >> 24);
}

// The GSHHS header as eleven 32-bit fields in the file's byte order made native.
struct GshhsHeader {
    std::uint32_t field[11] = {};

    static GshhsHeader From(const std::uint8_t* bytes, size_t length, bool swap) {
        GshhsHeader h;
        std::uint8_t padded[44] = {};
        std::memcpy(padded, bytes, std::min<size_t>(length, sizeof padded));
        for (size_t i = 0; i < 11; ++i) {
            const std::uint32_t v = LoadLE32(padded + 4 * i);
            h.field[i] = swap ? ByteSwap32(v) : v;
        }
        return h;
    }
    std::int32_t PointCount() const { return static_cast<std::int32_t>(field[1]); }
    std::uint8_t Level() const { return static_cast<std::uint8_t>(field[2] & 0xFF); }
    std::uint8_t Version() const { return static_cast<std::uint8_t>((field[2] >> 8) & 0xFF); }
    std::uint32_t Area() const { return field[7]; }
};

// Calls f(lonAt, latAt), the accessors of the longitude and latitude of point i of a GSHHS
// record at p (millionths of a degree), made for its byte order: loops over them have no
// test inside and run on vectors.
template <typename F> void WithGshhsPoints(const std::uint8_t* p, bool swap, F&& f) {
    const auto with = [&](auto order) {
        f([=](size_t i) { return static_cast<std::int32_t>(order(LoadLE32(p + 8 * i))); },
          [=](size_t i) { return static_cast<std::int32_t>(order(LoadLE32(p + 8 * i + 4))); });
    };
    if (swap) {
        with([](std::uint32_t v) { return ByteSwap32(v); });
    } else {
        with([](std::uint32_t v) { return v; });
    }
}

// Some edge is longer than the limit (degrees of arc), measured flat at the edge's mean
// latitude, which is close for the short edges that matter.
bool HasLongEdge(std::span<const BoundaryPoint> points, double limitDegrees) {
    const double limit2 = limitDegrees * limitDegrees;
    // Mostly every edge is short even measured unwrapped at the equator: that is found
    // without a branch per edge (an edge that short needs no wrapping either).
    bool allShort = true;
    for (size_t i = 1; i < points.size(); ++i) {
        const double dLat = static_cast<double>(points[i].lat) - points[i - 1].lat;
        const double dLon = static_cast<double>(points[i].lon) - points[i - 1].lon;
        allShort &= dLat * dLat + dLon * dLon <= limit2;
    }
    if (allShort) {
        return false;
    }
    for (size_t i = 1; i < points.size(); ++i) {
        const double dLat = static_cast<double>(points[i].lat) - points[i - 1].lat;
        const double dLon = WrapDegrees180(static_cast<double>(points[i].lon) - points[i - 1].lon);
        const double limit2 = limitDegrees * limitDegrees;
        if (dLat * dLat + dLon * dLon <= limit2) {
            continue; // short even at the equator
        }
        const double meanLat = (static_cast<double>(points[i].lat) + points[i - 1].lat) / 2;
        const double east = dLon * std::cos(meanLat * kDegreesToRadians);
        if (!(dLat * dLat + east * east <= limit2)) {
            return true;
        }
    }
    return false;
}

} // namespace

void TLineSegment::Widen(float lon, float lat) {
    North = std::max(North, lat);
    South = std::min(South, lat);
    East = std::max(East, lon);
    West = std::min(West, lon);
}

void TLineSegment::Add(float lon, float lat) {
    Points.push_back({lon, lat});
    Count = static_cast<std::int32_t>(Points.size());
    Widen(lon, lat);
}

void TLineSegment::WidenBounds() {
    // As Add would have, point by point in order.
    for (const BoundaryPoint& p : Points) {
        Widen(p.lon, p.lat);
    }
    Count = static_cast<std::int32_t>(Points.size());
}

size_t TByteStream::Read(void* out, size_t n) {
    const size_t got = std::min(n, data_.size() - pos_);
    if (got > 0) {
        std::memcpy(out, data_.data() + pos_, got);
    }
    pos_ += got;
    return got;
}

void TByteStream::Seek(long long delta) {
    const long long target = static_cast<long long>(pos_) + delta;
    pos_ =
        static_cast<size_t>(std::clamp<long long>(target, 0, static_cast<long long>(data_.size())));
}

TCartogList::TCartogList() : FStore(std::make_shared<TSegmentStore>()) {
    SetCapacity(kInitialCapacity);
}

TCartogList::TCartogList(const TCartogList& source, TShareSegments)
    : ViewSouth(source.ViewSouth), ViewNorth(source.ViewNorth), ViewWest(source.ViewWest),
      ViewEast(source.ViewEast), JumpLimit(source.JumpLimit), LabelScale(source.LabelScale),
      MaxCount(source.MaxCount), ClosePolylines(source.ClosePolylines),
      CullSegments(source.CullSegments), KeepCover(source.KeepCover), FStore(source.FStore) {}

TCartogList::TSegmentStore& TCartogList::OwnStore() {
    if (FStore.use_count() > 1) {
        auto own = std::make_shared<TSegmentStore>();
        own->items.reserve(FStore->items.capacity());
        for (size_t i = 0; i < FStore->items.size(); ++i) {
            const TItem& from = Item(i);
            auto item = std::make_unique<TItem>();
            item->segment = from.segment;
            item->shape = from.shape;
            item->pieces = from.pieces;
            own->items.push_back(std::move(item));
        }
        own->fileNames = FStore->fileNames;
        own->capacity = FStore->capacity;
        FStore = std::move(own);
    }
    return *FStore;
}

TCartogList::~TCartogList() = default;

void TCartogList::SetCapacity(int capacity) {
    TSegmentStore& store = OwnStore();
    store.capacity = std::max(capacity, Count());
    store.items.reserve(static_cast<size_t>(store.capacity));
}

void TCartogList::Clear() {
    if (FStore.use_count() > 1) { // shared: start a store of its own instead of copying
        auto own = std::make_shared<TSegmentStore>();
        own->capacity = FStore->capacity;
        own->items.reserve(static_cast<size_t>(own->capacity));
        own->fileNames = FStore->fileNames;
        FStore = std::move(own);
    }
    FStore->items.clear();
    FStore->views.clear();
    FSegments.clear();
    FProjectedMapping = nullptr; // the next drawing starts afresh
    MaxCount = 0;
}

TCartogList::SegmentShape TCartogList::ShapeOf(const TLineSegment& segment,
                                               std::vector<TGeoExtent::CellSpan>& pieces) {
    SegmentShape info;
    info.box = TGeoBox::OfPoints(segment.Points);
    info.cells = TGeoExtent::SpanOf(info.box);
    info.cullable = !HasLongEdge(segment.Points, kLongestCulledEdgeDegrees);
    const std::span<const BoundaryPoint> points(segment.Points);
    if (info.cullable && points.size() > 2 * kPiecePoints) {
        info.firstPiece = static_cast<std::uint32_t>(pieces.size());
        for (size_t first = 0; first + 1 < points.size(); first += kPiecePoints) {
            const size_t count = std::min(kPiecePoints + 1, points.size() - first);
            pieces.push_back(TGeoExtent::SpanOf(TGeoBox::OfPoints(points.subspan(first, count))));
        }
        info.endPiece = static_cast<std::uint32_t>(pieces.size());
    }
    return info;
}

void TCartogList::AddSegment(std::unique_ptr<TLineSegment> segment) {
    auto item = std::make_unique<TItem>();
    item->shape = ShapeOf(*segment, item->pieces);
    item->segment = std::move(*segment);
    Append(std::move(item));
}

void TCartogList::Append(std::unique_ptr<TItem> item) {
    TSegmentStore& store = OwnStore();
    store.items.push_back(std::move(item));
    FSegments.resize(store.items.size());
    FCover.generation = 0; // it lacks the new segment
    if (Count() == store.capacity) {
        SetCapacity(Count() + kCapacityStep);
    }
}

const TLineSegment* TCartogList::FirstSegment(int& cursor) const {
    cursor = 1;
    return FStore->items.empty() ? nullptr : &Item(0).segment;
}

const TLineSegment* TCartogList::NextSegment(int& cursor) const {
    if (cursor < 0 || cursor >= Count()) {
        return nullptr;
    }
    return &Item(static_cast<size_t>(cursor++)).segment;
}

const TCartogList::TItem& TCartogList::Item(size_t index) const {
    TItem& item = *FStore->items.at(index);
    item.read.Do(FStore->reading, [&item] {
        if (item.at != nullptr) {
            ReadGshhsPoints(item.at, item.n, item.swap, item.segment);
            item.shape = ShapeOf(item.segment, item.pieces);
        }
    });
    return item;
}

void TCartogList::ReadSegments(std::span<const size_t> indices) const {
    // Only those not read yet: a search that places a pass many times asks for the same
    // segments again and again, and waking the cores costs more than looking.
    std::vector<size_t> unread;
    for (const size_t i : indices) {
        if (!FStore->items.at(i)->read.Done()) {
            unread.push_back(i);
        }
    }
    const auto count = static_cast<long long>(unread.size());
    ForEachPart(count, ThreadsFor(count, 256), [this, &unread](long long first, long long end) {
        for (long long k = first; k < end; ++k) {
            Item(unread[static_cast<size_t>(k)]);
        }
    });
}

std::vector<int> TCartogList::Touching(const TGeoExtent& extent) const {
    std::vector<size_t> near; // read, or with cells round its points that reach the extent
    for (size_t i = 0; i < FStore->items.size(); ++i) {
        const TItem& item = *FStore->items[i];
        if (item.at == nullptr || extent.IntersectsCells(item.around)) {
            near.push_back(i);
        }
    }
    ReadSegments(near);
    std::vector<int> touching;
    for (const size_t i : near) {
        if (extent.Intersects(Item(i).shape.box)) {
            touching.push_back(static_cast<int>(i));
        }
    }
    return touching;
}

std::string TCartogList::FirstFileName() const {
    return FileNames().empty() ? std::string() : FileNames().front();
}

TCartogList::TBoundaryPlan TCartogList::PlanBoundaryFiles(const std::string& text,
                                                          const TBoundaryIndex* index) {
    TBoundaryPlan plan;
    if (!text.empty()) {
        size_t start = 0;
        while (true) {
            const size_t bar = text.find('|', start);
            plan.names_.push_back(text.substr(start, bar - start));
            if (bar == std::string::npos) {
                break;
            }
            start = bar + 1;
        }
    }
    for (const std::string& name : plan.names_) {
        TBoundaryPlan::TFile& file = plan.files_.emplace_back(PlanBoundaryFile(name, index));
        if (file.records.format == TRecords::TFormat::Native) {
            plan.count_ = 0; // a native file replaces what came before it
        }
        plan.count_ += static_cast<int>(file.records.list.size());
    }
    return plan;
}

TCartogList::TBoundaryPlan::TFile TCartogList::PlanBoundaryFile(const std::string& fileName,
                                                                const TBoundaryIndex* index) {
    TBoundaryPlan::TFile file;
    // With an index, only the pages of the segments read are touched.
    if (auto opened = TFileView::Open(fileName, kMostFileBytes,
                                      index != nullptr ? TFileView::TPages::AsTouched
                                                       : TFileView::TPages::Populated)) {
        file.view = std::make_shared<const TFileView>(std::move(*opened));
    }
    if (!file.view || file.view->Bytes().size() < 4) {
        return file;
    }
    TByteStream stream(file.view->Bytes());
    const std::uint32_t v = LoadLE32(file.view->Bytes().data());
    if (index != nullptr) {
        if (auto indexed = v == 0 ? RecordsOf(*index, file.view->Bytes()) : std::nullopt) {
            file.records = std::move(*indexed);
            return file;
        }
        file.view->Populate(); // walked through after all
    }
    if (v == 0) {
        file.records = ScanGshhs(stream);
    } else if (v != kSkippedFileTag) {
        file.records = ScanNative(stream);
    }
    return file;
}

void TCartogList::LoadPlanned(const TBoundaryPlan& plan, TPointReading reading) {
    Clear();
    OwnStore().fileNames = plan.names_;
    for (const TBoundaryPlan::TFile& file : plan.files_) {
        LoadPlannedFile(file, reading);
    }
}

void TCartogList::LoadPlannedFile(const TBoundaryPlan::TFile& file, TPointReading reading) {
    ClosePolylines = true;
    if (file.records.format == TRecords::TFormat::None) {
        return;
    }
    if (reading == TPointReading::Whole && !file.records.surround.empty()) {
        file.view->Populate(); // planned from an index, and now read through
    }
    TByteStream stream(file.view->Bytes());
    ReadRecords(stream, file.records, reading == TPointReading::AsAsked ? file.view : nullptr);
    if (file.records.format == TRecords::TFormat::Gshhs) {
        ClosePolylines = false;
    }
}

void TCartogList::LoadBoundaryFiles(const std::string& text) {
    LoadPlanned(PlanBoundaryFiles(text));
}

void TCartogList::LoadBoundaryFile(const std::string& fileName) {
    LoadPlannedFile(PlanBoundaryFile(fileName, nullptr), TPointReading::AsAsked);
}

void TCartogList::ReadNativeBoundaries(TByteStream& stream) {
    ReadRecords(stream, ScanNative(stream));
}

void TCartogList::ReadGshhsPolygons(TByteStream& stream) {
    ReadRecords(stream, ScanGshhs(stream));
}

TCartogList::TRecords TCartogList::ScanNative(TByteStream& stream) {
    TRecords records;
    records.format = TRecords::TFormat::Native;
    const size_t size = stream.Size();
    while (true) {
        std::uint8_t head[5];
        if (stream.Read(head, sizeof head) < sizeof head || stream.Position() == size) {
            break; // the record head reached the end of the file
        }
        const auto n = static_cast<std::int32_t>(LoadLE32(head));
        if (n < 0) {
            break;
        }
        records.list.push_back({stream.Position(), n, head[4], TLineRole::Unknown});
        stream.Seek(static_cast<long long>(n) * 4);
    }
    return records;
}

TCartogList::TRecords TCartogList::ScanGshhs(TByteStream& stream) {
    TRecords records;
    records.format = TRecords::TFormat::Gshhs;
    std::uint8_t first[44];
    const size_t got = stream.Read(first, sizeof first);
    stream.Seek(-static_cast<long long>(got));

    records.swap = LoadLE32(first + 4) > 2000000u;
    const GshhsHeader probe = GshhsHeader::From(first, got, records.swap);
    size_t headerSize = 36;
    if (probe.field[8] == 3) {
        headerSize = 40;
    }
    if (probe.Version() == 7 || probe.Version() == 9 || probe.Version() == 15) {
        headerSize = 44;
    }
    records.headerSize = headerSize;
    // One entry per 120 bytes, as the format's polygons average; at most one per header.
    records.capacity = std::min(stream.Size() / 120, stream.Size() / headerSize);
    // The three fields read in place, not each header copied whole. Each header says
    // where the next one lies, so the walk waits on memory at every step: the file is
    // asked for a page ahead of it (the headers lie about 350 bytes apart), which more
    // than halves the walk, most of a run's start.
    const std::span<const std::uint8_t> bytes = stream.Bytes();
    const size_t size = bytes.size();
    const bool swap = records.swap;
    const auto field = [&](size_t at, int i) {
        const std::uint32_t v = LoadLE32(bytes.data() + at + 4 * static_cast<size_t>(i));
        return swap ? ByteSwap32(v) : v;
    };
    constexpr size_t kAhead = 4096;
    size_t at = stream.Position();
    size_t asked = at;
    bool ended = false; // by a negative count, just past its header
    while (size - at >= headerSize) {
        for (const size_t until = std::min(at + kAhead, size); asked < until; asked += 64) {
            __builtin_prefetch(bytes.data() + asked);
        }
        const auto n = static_cast<std::int32_t>(field(at, 1));
        const auto level = static_cast<std::uint8_t>(field(at, 2) & 0xFF);
        const std::uint32_t area = field(at, 7);
        at += headerSize;
        if (n < 0) {
            ended = true;
            break;
        }
        if (level == 1 || level == 3 || level == 6 || (level == 2 && area >= 100)) {
            // Border files of the shoreline set write their lines as level 1 with no area.
            records.list.push_back(
                {at, n, 1, level == 1 && area == 0 ? TLineRole::Border : TLineRole::Shore});
        }
        at += std::min<size_t>(static_cast<size_t>(n) * 8, size - at);
    }
    // Where reading header by header leaves it: a header cut short is read to the end.
    const size_t end = ended || size - at >= headerSize ? at : size;
    stream.Seek(static_cast<long long>(end) - static_cast<long long>(stream.Position()));
    return records;
}

void TCartogList::ReadRecords(const TByteStream& stream, const TRecords& records,
                              const std::shared_ptr<const TFileView>& view) {
    if (records.format == TRecords::TFormat::Native) {
        Clear(); // the native format replaces the store's content
    } else if (records.format == TRecords::TFormat::Gshhs) {
        SetCapacity(Capacity() + static_cast<int>(records.capacity));
    }
    const bool native = records.format == TRecords::TFormat::Native;
    // A GSHHS file the store can hold on to is read as its segments are asked for.
    const bool later = !native && view != nullptr;
    const std::span<const std::uint8_t> bytes = stream.Bytes();
    const size_t pointBytes = native ? 4 : 8;
    const std::vector<TRecord>& list = records.list;
    std::vector<std::unique_ptr<TItem>> reads(list.size());
    const bool surrounded = records.surround.size() == list.size();
    const auto read = [&](size_t i) {
        const TRecord& record = list[i];
        auto item = std::make_unique<TItem>();
        item->segment.Kind = record.kind;
        item->segment.Role = record.role;
        item->n = WholePoints(record, bytes.size(), pointBytes);
        const std::uint8_t* p = bytes.data() + record.at;
        if (later) {
            item->at = p;
            item->swap = records.swap;
            if (surrounded) {
                item->around = records.surround[i].around;
                item->surelyCullable = records.surround[i].surelyCullable;
            } else {
                Surround(*item);
            }
        } else {
            if (native) {
                ReadNativePoints(p, item->n, item->segment);
            } else {
                ReadGshhsPoints(p, item->n, records.swap, item->segment);
            }
            item->shape = ShapeOf(item->segment, item->pieces);
        }
        return item;
    };
    // Each record read and worked out on any core, in parts of about equal numbers of
    // points, then all added in the file's order: the store is the same as from reading
    // one by one.
    constexpr int kParts = 16;
    std::vector<size_t> partStart{0};
    size_t total = 0;
    for (const TRecord& record : list) {
        total += static_cast<size_t>(record.n) + 1;
    }
    size_t sum = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        sum += static_cast<size_t>(list[i].n) + 1;
        if (sum * kParts >= total * partStart.size() && partStart.size() < kParts) {
            partStart.push_back(i + 1);
        }
    }
    partStart.push_back(list.size());
    const auto parts = static_cast<long long>(partStart.size() - 1);
    ForEachPart(parts, static_cast<int>(parts), [&](long long first, long long end) {
        for (auto part = static_cast<size_t>(first); part < static_cast<size_t>(end); ++part) {
            for (size_t i = partStart[part]; i < partStart[part + 1]; ++i) {
                reads[i] = read(i);
            }
        }
    });
    if (later) {
        OwnStore().views.push_back(view);
    }
    // Room for them all at once: grown one by one, the list would be copied over and over.
    FSegments.reserve(FSegments.size() + reads.size());
    for (std::unique_ptr<TItem>& item : reads) {
        MaxCount = std::max(MaxCount, static_cast<std::int32_t>(item->n));
        Append(std::move(item));
    }
}

void TCartogList::ReadNativePoints(const std::uint8_t* p, size_t n, TLineSegment& segment) {
    std::vector<BoundaryPoint>& points = segment.Points;
    points.resize(n);
    for (size_t i = 0; i < n; ++i, p += 4) {
        const auto lon = static_cast<std::int16_t>(p[0] | (p[1] << 8));
        const auto lat = static_cast<std::int16_t>(p[2] | (p[3] << 8));
        points[i] = {static_cast<float>(lon) / 60.0f, static_cast<float>(lat) / 60.0f};
    }
    segment.WidenBounds();
}

void TCartogList::ReadGshhsPoints(const std::uint8_t* p, size_t n, bool swap,
                                  TLineSegment& segment) {
    std::vector<BoundaryPoint>& points = segment.Points;
    points.resize(n);
    WithGshhsPoints(p, swap, [&points, n](auto lonAt, auto latAt) {
        for (size_t i = 0; i < n; ++i) {
            points[i] = {static_cast<float>(lonAt(i) / 1000000.0),
                         static_cast<float>(latAt(i) / 1000000.0)};
        }
    });
    segment.WidenBounds();
    if (segment.East > 180.0f) {
        segment.East -= 360.0f;
    }
    if (segment.West > 180.0f) {
        segment.West -= 360.0f;
    }
}

void TCartogList::Surround(TItem& item) {
    if (item.n == 0) {
        item.around = {};
        item.surelyCullable = true;
        return;
    }
    // A step of at most this much either way in both (millionths of a degree, unwrapped)
    // is short read as floats too: within kLongestCulledEdgeDegrees with room for their
    // rounding. Tested on 32-bit integers, so that the loop runs on vectors.
    constexpr std::uint32_t kShort = 346000;
    static_assert(kShort * 1.4143 < kLongestCulledEdgeDegrees * 1e6 * 0.99);
    std::int32_t south = 0, north = 0, west = 0, east = 0;
    int longEdges = 0;
    WithGshhsPoints(item.at, item.swap, [&](auto lonAt, auto latAt) {
        south = north = latAt(0);
        west = east = lonAt(0);
        for (size_t i = 1; i < item.n; ++i) {
            const std::int32_t lon = lonAt(i);
            const std::int32_t lat = latAt(i);
            south = std::min(south, lat);
            north = std::max(north, lat);
            west = std::min(west, lon);
            east = std::max(east, lon);
            // Differences modulo 2^32: the true ones where every coordinate lies within
            // 2^30 of 0, as checked below.
            const std::uint32_t dLon =
                static_cast<std::uint32_t>(lon) - static_cast<std::uint32_t>(lonAt(i - 1)) + kShort;
            const std::uint32_t dLat =
                static_cast<std::uint32_t>(lat) - static_cast<std::uint32_t>(latAt(i - 1)) + kShort;
            longEdges |= static_cast<int>(dLon > 2 * kShort) | static_cast<int>(dLat > 2 * kShort);
        }
    });
    constexpr std::int32_t kNear = 1 << 30;
    item.surelyCullable =
        longEdges == 0 && south > -kNear && north < kNear && west > -kNear && east < kNear;
    // Within less than half the world, no step wraps: the points' longitudes followed
    // along the line stay between the extremes, and a box round these holds theirs.
    if (static_cast<double>(east) - west >= 179e6) {
        item.around = TGeoExtent::SpanOf(TGeoBox::Globe());
        return;
    }
    constexpr double kRoom = 1e-3; // degrees, far more than rounding to float moves a point
    const std::array<BoundaryPoint, 2> corners{
        BoundaryPoint{static_cast<float>(west / 1e6 - kRoom),
                      static_cast<float>(south / 1e6 - kRoom)},
        BoundaryPoint{static_cast<float>(east / 1e6 + kRoom),
                      static_cast<float>(north / 1e6 + kRoom)}};
    item.around = TGeoExtent::SpanOf(TGeoBox::OfPoints(corners));
}

} // namespace vantorel
