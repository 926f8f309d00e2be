// Both boundary readers on arbitrary bytes: no crash, no hang, no segment holding fewer
// points than it claims, and no point outside its segment's box (culling would lose it).
#include "cartography/zorCartography.h"

#include <cstdint>
#include <cstdlib>

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
    return 0;
}
