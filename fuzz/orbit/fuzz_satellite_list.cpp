// The multi-Kepler reader and the notes reader on arbitrary bytes, in memory. Every set
// kept must be usable: a catalogue look-up finds an entry and the set propagates or
// reports a math error.
#include "orbit/SGP_Math.h"
#include "orbit/Satellite.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TSatelliteList list;
    list.LoadFromText(text, "/keps/elements.txt");
    list.ReadNotesFromText(text);
    for (int i = 0; i < list.Count(); ++i) {
        TSatellite* s = list.SatelliteAt(i);
        if (s == nullptr || list.IndexOfCatalogueNumber(s->CatalogueNumber) < 0 ||
            s->SourceFile != "elements.txt") {
            std::abort();
        }
        TVector p, v;
        try {
            s->PropagateMinutes(60.0, p, v);
        } catch (const EMathError&) {
        }
    }
    return 0;
}
