// vantorel-cli timing: the pass start, line period and exact start of channel images.
#include "Cli.h"

#include "pass/inputs/StatTiming.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/Notifier.h"
#include "common/StringList.h"
#include "common/StringUtils.h"

#include <memory>

namespace vantorel::cli {
namespace {

int RunTiming(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a(args, {"local-offset"}, {});
    if (a.Positional().empty()) {
        throw UsageError("no channel image named");
    }
    std::unique_ptr<OffsetClock> clock;
    std::unique_ptr<ScopedClock> scoped;
    if (const auto text = a.Value("local-offset")) {
        const auto minutes = ParseInteger(*text);
        if (!minutes || *minutes < -24 * 60 || *minutes > 24 * 60) {
            throw UsageError("--local-offset takes whole minutes from -1440 to 1440");
        }
        clock = std::make_unique<OffsetClock>(*minutes / kMinutesPerDay);
        scoped = std::make_unique<ScopedClock>(*clock);
    }

    StreamNotifier notifier(err);
    for (const std::string& image : a.Positional()) {
        TStringList diags;
        diags.OnAdd = [&out](const std::string& line) { out << line << "\n"; };
        TPassReport report;
        report.OnEntry = [&](const TReportEntry& e) { Deliver(e, diags, notifier); };
        out << "Image: " << image << "\n";
        TDateTime start = PassStartFromFileName(image, report);
        double linePeriod = kDefaultLinePeriodDays;
        ReadLinePeriod(image, linePeriod, report);
        start = ExactStartFromStat(image, start, report);
        out << FormatDateTime("\"Start: \"yyyy-mm-dd hh:nn:ss.zzz \"UTC\"", start) << "\n"
            << Format("Line period: %.7f s", linePeriod * kSecondsPerDay) << "\n";
    }
    out.flush();
    return kExitOk;
}

} // namespace

Command TimingCommand() {
    return {"timing", "[--local-offset=MINUTES] IMAGE...",
            "work out when each line of channel images was scanned",
            "Reads the pass start from each image's file name (local time of this computer),\n"
            "the line period from the .STAT files of the pass and the exact start from the\n"
            "image's own .STAT file, and prints the account of each step.\n\n"
            "Options:\n"
            "  --local-offset=MINUTES  the clock that named the files runs MINUTES ahead of\n"
            "                          UTC (default: this computer's time zone)\n",
            RunTiming};
}

} // namespace vantorel::cli
