// The per-satellite history reader on arbitrary text: the bytes up to the first NUL are
// the main file's, the rest (if any) the updates file's. Every set chosen must be two
// lines of the list that was read, and the search must end for any time.
#include "common/Notifier.h"
#include "orbit/Keplers.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t split = all.find('\0');
    const TKeplerText main{"/keps/METEOR-M2.txt", all.substr(0, split)};
    std::optional<TKeplerText> updates;
    if (split != std::string_view::npos) {
        updates = TKeplerText{"/keps/Updates/METEOR-M2.txt", all.substr(split + 1)};
    }

    const TKeplerFiles files = ParseKeplerFiles("METEOR-M2", main, updates);
    for (const std::string& line : files.Lines) {
        (void)EpochOfLine(line);
    }
    RecordingNotifier notifier;
    for (TDateTime t :
         {0.0, 45535.5, 9.5e5, -9.5e5, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
        const TElementSetChoice c = SelectElementSet(files, t, notifier);
        if (c.Success) {
            const auto at = std::find(files.Lines.begin(), files.Lines.end(), c.Line1);
            if (at == files.Lines.end() ||
                std::find(files.Lines.begin(), files.Lines.end(), c.Line2) == files.Lines.end()) {
                std::abort();
            }
        }
    }
    return 0;
}
