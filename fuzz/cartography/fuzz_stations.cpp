// The place-mark line reader on arbitrary text, line by line.
#include "cartography/zorCartography.h"
#include "common/TextFile.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const std::string& line : vantorel::SplitLines(text)) {
        (void)vantorel::ParsePlaceMarkLine(line, vantorel::plS);
    }
    return 0;
}
