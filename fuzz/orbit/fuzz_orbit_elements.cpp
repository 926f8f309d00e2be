// CheckElementSet, ParseElements and a few propagations on arbitrary element lines. The input is split
// into two lines of up to 69 characters (at its first newline, or at byte 69). A math
// error is an accepted outcome; a crash, a hang or a non-finite state reported as a
// result is not.
#include "orbit/ElementSetCheck.h"
#include "orbit/SGP_Math.h"
#include "orbit/Satellite.h"
#include "orbit/Support.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\n');
    size_t next = split + 1;
    if (split == std::string_view::npos) {
        split = std::min<size_t>(input.size(), 69);
        next = split;
    }
    const std::string line1(input.substr(0, std::min<size_t>(split, 69)));
    const std::string line2(input.substr(next, 69));

    // What the text alone tells (checksums, the orbit's kind) holds for any text.
    (void)CheckElementSet(line1, line2);
    TSatellite s;
    try {
        s.ParseElements(line1, line2);
    } catch (const EMathError&) {
        return 0;
    }
    (void)s.EpochDateTime();
    // Forward, back towards the epoch, and across it: the integrator's three paths.
    for (const double minutes : {0.0, 1440.0, 97.5, -720.0, 4320.0, 4300.0}) {
        TVector p, v;
        try {
            s.Propagate(s.EpochJD + minutes / 1440.0, p, v);
        } catch (const EMathError&) {
            continue;
        }
        if (!std::isfinite(p.Length) || !std::isfinite(v.Length)) {
            std::abort();
        }
        StateToKilometres(p, v);
        try {
            const TGeodetic g = GeodeticPosition(s.EpochJD + minutes / 1440.0, p);
            if (!(g.Longitude >= 0.0 && g.Longitude < 6.2831853071795866)) {
                std::abort();
            }
        } catch (const EMathError&) {
        }
    }
    return 0;
}
