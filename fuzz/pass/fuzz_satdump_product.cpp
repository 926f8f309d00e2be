// The SatDump product.cbor reader on arbitrary bytes, and the line times of what it accepts.
#include "pass/inputs/SatDumpProduct.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    try {
        const TSatDumpProduct product = ParseSatDumpProduct({data, size}, "fuzz/product.cbor");
        for (const TSatDumpImage& image : product.Images) {
            // A picture one line taller than its groups cover, as tall as a real one at most.
            const std::size_t lines =
                image.Timestamps.size() * static_cast<std::size_t>(image.LinesPerTimestamp) + 1;
            (void)SatDumpLineTimes(product, image,
                                   static_cast<int>(std::min<std::size_t>(lines, 20000)));
        }
    } catch (const ESatDumpProduct&) {
    }
    try {
        (void)ParseSatDumpDataset(
            std::string_view(reinterpret_cast<const char*>(data), size), "fuzz/dataset.json");
    } catch (const ESatDumpProduct&) {
    }
    return 0;
}
