// Both boundary readers on arbitrary bytes: no crash, no hang, no segment holding fewer
// points than it claims, and no point outside its segment's box (culling would lose it).
// And the GSHHS reader of a file, which reads a segment's points when they are asked for,
// walking the file or planned from its index: the segments found touching a part of the
// world, and their points, are those of reading from a stream at once. An index damaged
// where the input says, or the input itself taken for one, is refused or read safely.
#include "cartography/BoundaryIndex.h"
#include "cartography/zorCartography.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

void CheckSameAsAtOnce(const vantorel::TCartogList& later, const vantorel::TCartogList& atOnce,
                       std::uint8_t last);

void CheckReadAsAskedFor(const std::uint8_t* data, size_t size) {
    using namespace vantorel;
    if (size < 4) {
        return;
    }
    std::vector<std::uint8_t> bytes(data, data + size);
    std::memset(bytes.data(), 0, 4); // a GSHHS file
    const int fd = memfd_create("boundaries", 0);
    if (fd < 0) {
        return;
    }
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        close(fd);
        return;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const std::optional<std::string> written = TBoundaryIndex::Write(bytes);
    if (!written || !TBoundaryIndex::FromBytes(*written)->Fits(bytes)) {
        std::abort(); // a GSHHS file of its size always has an index, which fits it
    }
    // Damaged in the byte the input's first says, by its second: read safely, whatever it
    // gives; and the input taken for an index.
    std::string damaged = *written;
    damaged[data[0] * 7919u % damaged.size()] ^= static_cast<char>(data[size > 1 ? 1 : 0] | 1);
    for (const std::string& other : {damaged, std::string(data, data + size)}) {
        if (const auto index = TBoundaryIndex::FromBytes(other)) {
            TCartogList store;
            store.LoadPlanned(TCartogList::PlanBoundaryFiles(path, &*index));
            store.Touching(TGeoExtent::Globe());
            for (int i = 0; i < store.Count(); ++i) {
                store.SegmentBox(i);
            }
        }
    }
    const auto index = TBoundaryIndex::FromBytes(*written);
    TCartogList walked, indexed;
    walked.LoadBoundaryFile(path);
    indexed.LoadPlanned(TCartogList::PlanBoundaryFiles(path, &*index));
    close(fd); // the stores hold the file as long as they need it
    TCartogList atOnce;
    TByteStream stream(bytes);
    atOnce.ReadGshhsPolygons(stream);
    for (const TCartogList* later : {&walked, &indexed}) {
        CheckSameAsAtOnce(*later, atOnce, bytes.back());
    }
}

// The store read as asked holds what the one read at once does.
void CheckSameAsAtOnce(const vantorel::TCartogList& later, const vantorel::TCartogList& atOnce,
                       std::uint8_t last) {
    using namespace vantorel;
    if (later.Count() != atOnce.Count() || later.MaxCount != atOnce.MaxCount) {
        std::abort();
    }
    if (atOnce.Count() == 0 || atOnce[0].Points.empty()) {
        return;
    }
    // A part of the world near the first point, as big as the input's last byte says.
    const BoundaryPoint& near = atOnce[0].Points.front();
    const float reach = static_cast<float>(last % 40);
    const TGeoExtent extent =
        TGeoExtent::Covering({near.lat - reach, near.lat + reach, near.lon - reach, 2 * reach});
    std::vector<int> touching;
    for (int i = 0; i < atOnce.Count(); ++i) {
        if (extent.Intersects(atOnce.SegmentBox(i))) {
            touching.push_back(i);
        }
    }
    if (later.Touching(extent) != touching) {
        std::abort();
    }
    for (int i = 0; i < atOnce.Count(); ++i) {
        const TLineSegment& a = later[i];
        const TLineSegment& b = atOnce[i];
        if (a.Points.size() != b.Points.size() ||
            (!a.Points.empty() && std::memcmp(a.Points.data(), b.Points.data(),
                                              a.Points.size() * sizeof a.Points[0]) != 0) ||
            std::memcmp(&later.SegmentBox(i), &atOnce.SegmentBox(i), sizeof(TGeoBox)) != 0) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::span<const std::uint8_t> bytes(data, size);
    for (int reader = 0; reader < 2; ++reader) {
        TCartogList store;
        TByteStream stream(bytes);
        if (reader == 0) {
            store.ReadNativeBoundaries(stream);
        } else {
            store.ReadGshhsPolygons(stream);
        }
        int cursor = 0;
        for (const TLineSegment* s = store.FirstSegment(cursor); s != nullptr;
             s = store.NextSegment(cursor)) {
            if (static_cast<size_t>(s->Count) != s->Points.size() || s->Count > store.MaxCount) {
                std::abort();
            }
            const TGeoBox& box = store.SegmentBox(cursor - 1);
            for (const BoundaryPoint& p : s->Points) {
                if (!box.Contains(p.lon, p.lat)) {
                    std::abort();
                }
            }
            if (cursor <= 4 && !s->Points.empty()) { // and the box's cells hold them (costlier)
                const TGeoExtent cells = TGeoExtent::Covering(box);
                for (const BoundaryPoint& p : s->Points) {
                    if (!cells.Intersects(TGeoBox{p.lat, p.lat, p.lon, 0.0f})) {
                        std::abort();
                    }
                }
            }
        }
    }
    CheckReadAsAskedFor(data, size);
    return 0;
}
