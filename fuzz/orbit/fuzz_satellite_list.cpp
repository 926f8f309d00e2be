// The multi-Kepler reader and the notes reader on arbitrary bytes, through a real file as
// the list reads them. Every set kept must be usable: a catalogue look-up finds an entry
// and the set propagates or reports a math error.
#include "orbit/SGP_Math.h"
#include "orbit/Satellite.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& WorkFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vantorel-fuzz-orbit-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp") + "/";
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string path = WorkFolder() + "elements.txt";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    TSatelliteList list;
    list.LoadFromFile(path);
    list.ReadNotes(path);
    for (int i = 0; i < list.Count(); ++i) {
        TSatellite* s = list.SatelliteAt(i);
        if (s == nullptr || list.IndexOfCatalogueNumber(s->CatalogueNumber) < 0) {
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
