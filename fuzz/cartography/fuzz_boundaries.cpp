// Both boundary readers on arbitrary bytes: no crash, no hang, and no segment holding
// fewer points than it claims.
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
        }
    }
    return 0;
}
