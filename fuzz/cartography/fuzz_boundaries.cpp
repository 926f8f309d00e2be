// Both boundary readers on arbitrary bytes: no crash, no hang, no segment holding fewer
// points than it claims, and no point outside its segment's box (culling would lose it).
// And the GSHHS reader of a file, which reads a segment's points when they are asked for:
// the segments found touching a part of the world, and their points, are those of reading
// from a stream at once.
#include "cartography/zorCartography.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

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
    TCartogList later;
    later.LoadBoundaryFile("/proc/self/fd/" + std::to_string(fd));
    close(fd); // the store holds the file as long as it needs it
    TCartogList atOnce;
    TByteStream stream(bytes);
    atOnce.ReadGshhsPolygons(stream);
    if (later.Count() != atOnce.Count() || later.MaxCount != atOnce.MaxCount) {
        std::abort();
    }
    if (atOnce.Count() == 0 || atOnce[0].Points.empty()) {
        return;
    }
    // A part of the world near the first point, as big as the input's last byte says.
    const BoundaryPoint& near = atOnce[0].Points.front();
    const float reach = static_cast<float>(bytes.back() % 40);
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
