// The file-name grammar and the .STAT readers on arbitrary input. The input is split
// at its first newline: the part before is a file name, the rest the .STAT content.
#include "app/Utils.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

const std::string& WorkFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vantorel-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp") + "/";
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string_view name = input.substr(0, newline);
    const std::string_view stat =
        newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

    // Pure parsers on the raw text.
    (void)LocalStartFromFileName(name);
    (void)StatClockSeconds(name);
    (void)StatLinePeriodSeconds(name);
    (void)SplitDelimited(input, ',');
    (void)MatchesMask(name, stat.substr(0, 64));
    for (const std::string& line : SplitLines(stat)) {
        (void)StatClockSeconds(line);
        (void)StatLinePeriodSeconds(line);
    }
    if (const auto t = LocalStartFromFileName(name)) {
        (void)FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", *t);
    }

    // The readers through real files: a fixed image name, the fuzzed .STAT content.
    const std::string image = WorkFolder() + "2017_03_15_08_12_34_68.bmp";
    const std::string statPath = WorkFolder() + "2017_03_15_08_12_34_68.stat";
    if (std::FILE* f = std::fopen(statPath.c_str(), "wb")) {
        std::fwrite(stat.data(), 1, stat.size(), f);
        std::fclose(f);
    }
    TStringList diags;
    RecordingNotifier notifier;
    double period = 0.0;
    ReadLinePeriod(image, period, diags);
    const TDateTime start = EncodeDateTime(2017, 3, 15, 7, 12, 34);
    (void)ExactStartFromStat(image, start, diags, notifier);
    (void)Format("%.7f", period);
    return 0;
}
