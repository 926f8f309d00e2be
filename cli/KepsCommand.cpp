// vantorel-cli keps update: fresh element sets into the multi-Kepler folder.
#include "Cli.h"

#include "common/Clock.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "keps/ElementSetUpdate.h"
#include "settings/Registry.h"
#include "settings/RegistryVariables.h"

#include <chrono>
#include <cmath>

namespace vantorel::cli {
namespace {

constexpr double kMaxTimeoutSeconds = 3600.0;
constexpr double kMaxIfOlderHours = 100000.0;

double ParsePositive(const std::string& text, const char* option, double maximum) {
    const auto v = ParseReal(text);
    if (!v || !std::isfinite(*v) || *v <= 0.0 || *v > maximum) {
        throw UsageError(Format("--%s takes a number above 0, at most %g", option, maximum));
    }
    return *v;
}

} // namespace

int RunKeps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a(args, {"url", "keplers", "if-older", "timeout"}, {});
    if (a.Positional().size() != 1 || a.Positional()[0] != "update") {
        throw UsageError("the only keps command is \"update\"");
    }
    SetRegistryProgramName(kWindowProgramName);

    TElementSetUpdateRequest request;
    if (const auto seconds = a.Value("timeout")) {
        request.Limits.Timeout = std::chrono::milliseconds(
            std::llround(ParsePositive(*seconds, "timeout", kMaxTimeoutSeconds) * 1000.0));
    }
    std::optional<double> ifOlderHours;
    if (const auto hours = a.Value("if-older")) {
        ifOlderHours = ParsePositive(*hours, "if-older", kMaxIfOlderHours);
    }
    request.Urls.clear();
    for (const std::string& given : a.Values("url")) {
        for (std::string& url : SplitElementSetUrls(given)) {
            request.Urls.push_back(std::move(url));
        }
    }
    if (request.Urls.empty()) {
        request.Urls = ConfiguredElementSetUrls();
    }
    if (const auto folder = a.Value("keplers")) {
        request.KeplerFolder = *folder;
    } else {
        // As the window starts: its own setting, else the sibling tracker's folder.
        request.KeplerFolder = ProgramRegistryValue(kKeplerPathValue);
        if (request.KeplerFolder.empty()) {
            request.KeplerFolder = HalvoryValue(kTwoLineDataPathValue);
        }
    }
    err << TakeRegistryProblemReport();

    if (ifOlderHours) {
        const auto newest = NewestElementFile(request.KeplerFolder);
        const double ageHours = newest ? (NowUTC() - newest->Modified) * 24.0 : 0.0;
        if (newest && ageHours < *ifOlderHours) {
            out << Format("Element sets not fetched: the newest element file, %s, is %.1f hours "
                          "old (--if-older %g)\n",
                          newest->FileName, ageHours, *ifOlderHours);
            return kExitOk;
        }
    }

    const TElementSetUpdate update = UpdateElementSets(request);
    std::ostream& report = update.Outcome == TElementSetUpdate::TOutcome::Failed ? err : out;
    for (const std::string& line : update.Report) {
        report << line << "\n";
    }
    return update.Outcome == TElementSetUpdate::TOutcome::Failed ? kExitFailure : kExitOk;
}

namespace {

constexpr const char* kHelp =
    "Fetches element sets and writes them into the multi-Kepler folder as\n"
    "weather-YYYY-MM-DD.txt (today's UTC date; -2, -3, ... before .txt when a\n"
    "different file has that name; a file with the same content is left as it is).\n"
    "Older files stay: they serve passes of their time. The window's \"Update element\n"
    "sets\" button on the Kepler data tab does the same.\n\n"
    "What arrives must hold three-line element sets (name, line 1, line 2), among\n"
    "them those of the four Meteor-M N2 satellites (40069, 44387, 57166, 59051). On\n"
    "any failure (network, timeout, HTTP status, content) nothing in the folder\n"
    "changes and standard error names the URL and the cause.\n\n"
    "Options:\n"
    "  --url=URL          fetch URL instead of the KepsUrls setting; repeat it, or\n"
    "                     separate URLs by \"|\", for several. Every URL must succeed;\n"
    "                     their sets go into one file.\n"
    "  --keplers=FOLDER   the multi-Kepler folder (default: the window's KeplerPath\n"
    "                     setting, else the sibling tracker's); it must exist\n"
    "  --if-older=HOURS   fetch only when the newest *.txt, *.tle or *.2li file of the\n"
    "                     folder (notes files aside) was modified HOURS ago or more;\n"
    "                     otherwise say so and exit 0 (for cron and timers)\n"
    "  --timeout=SECONDS  the most each URL may take, whole transfer (default 30)\n\n"
    "Setting: KepsUrls holds the URLs, separated by spaces or \"|\" (vantorel-cli\n"
    "settings KepsUrls=\"URL URL\"); unset or empty, it means CelesTrak's weather group:\n";

constexpr const char* kHelpEnd =
    "Only http and https URLs are fetched; https certificates are verified and\n"
    "redirects never lead from https to http. A reply over 4 MiB is refused.\n\n"
    "Exit codes: 0 fetched, already there or skipped by --if-older; 1 failed;\n"
    "2 the command line was wrong.\n";

} // namespace

Command KepsCommand() {
    return {"keps",
            "update [--url URL]... [--keplers FOLDER] [--if-older HOURS] [--timeout SECONDS]",
            "fetch fresh element sets into the multi-Kepler folder",
            kHelp + ("  " + std::string(kDefaultElementSetUrl) + "\n") + kHelpEnd, RunKeps};
}

} // namespace vantorel::cli
