// The per-satellite history readers on arbitrary text: the bytes up to the first NUL
// become Keps/METEOR-M2.txt beside a stand-in program, the rest (if any) its
// Updates/METEOR-M2.txt. Every set chosen must be two lines of the list that was read,
// and the search must end for any time.
#include "common/Notifier.h"
#include "common/Program.h"
#include "orbit/Keplers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

namespace {

const std::string& ProgramDir() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vantorel-fuzz-keps-XXXXXX";
        const char* made = mkdtemp(pattern);
        const std::string dir = std::string(made != nullptr ? made : "/tmp") + "/";
        ::mkdir((dir + "Keps").c_str(), 0700);
        ::mkdir((dir + "Keps/Updates").c_str(), 0700);
        return dir;
    }();
    return folder;
}

void WriteOrRemove(const std::string& path, const std::string_view* text) {
    if (text == nullptr) {
        std::remove(path.c_str());
        return;
    }
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text->data(), 1, text->size(), f);
        std::fclose(f);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t split = all.find('\0');
    const std::string_view main = all.substr(0, split);
    const std::string_view updates =
        split == std::string_view::npos ? std::string_view() : all.substr(split + 1);
    WriteOrRemove(ProgramDir() + "Keps/METEOR-M2.txt", &main);
    WriteOrRemove(ProgramDir() + "Keps/Updates/METEOR-M2.txt",
                  split == std::string_view::npos ? nullptr : &updates);
    SetExecutablePath(ProgramDir() + "vantorel");

    const TKeplerFiles files = FindKeplerFiles("METEOR-M2");
    for (const std::string& line : files.Lines) {
        (void)EpochOfLine(line);
    }
    RecordingNotifier notifier;
    for (TDateTime t :
         {0.0, 45535.5, 9.5e5, -9.5e5, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
        const TElementSetChoice c = SelectElementSet("METEOR-M2", t, notifier);
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
