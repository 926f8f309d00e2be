// The file-name grammar and the .STAT parser on arbitrary input. The input is split at its
// first newline: the part before is a file name, the rest the .STAT file's bytes.
#include "common/DateTime.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "pass/inputs/StatTiming.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string_view name = input.substr(0, newline);
    const std::string_view stat =
        newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

    (void)SplitDelimited(input, ',');
    (void)MatchesMask(name, stat.substr(0, 64));
    (void)StatMaskForPass(std::string(name));
    if (const auto t = LocalStartFromFileName(name)) {
        (void)FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", *t);
    }
    const TStatFile parsed = ParseStatFile(stat);
    if (parsed.ClockSeconds) {
        (void)ExactStartCandidate(*parsed.ClockSeconds, EncodeDateTime(2017, 3, 15, 7, 12, 34));
    }
    if (parsed.LinePeriodSeconds) {
        (void)Format("%.7f", *parsed.LinePeriodSeconds);
    }
    return 0;
}
