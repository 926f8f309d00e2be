#include "RunOptions.h"

#include "batch/Inputs.h"
#include "cartography/Graticule.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "orbit/MeteorSeries.h"
#include "pass/inputs/StatTiming.h"
#include "settings/Registry.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <thread>

namespace vantorel::cli {
namespace {

// "A,B" read with parse (which gives an optional); kind names the numbers in the error.
template <typename T, typename Parse>
std::pair<T, T> ParseTwo(const std::string& text, const char* option, const char* kind,
                         Parse parse) {
    const auto fields = SplitDelimited(text, ',');
    const auto a = fields.size() == 2 ? parse(fields[0]) : std::nullopt;
    const auto b = fields.size() == 2 ? parse(fields[1]) : std::nullopt;
    if (!a || !b) {
        throw UsageError(std::string("--") + option + " takes two " + kind + ": A,B");
    }
    return {static_cast<T>(*a), static_cast<T>(*b)};
}

// More runs at once than this only share the same cores.
constexpr int kMostJobs = 256;

} // namespace

std::pair<int, int> ParsePair(const std::string& text, const char* option) {
    return ParseTwo<int>(text, option, "whole numbers",
                         [](const std::string& f) { return ParseInteger(f); });
}

std::pair<float, float> ParseRealPair(const std::string& text, const char* option) {
    return ParseTwo<float>(text, option, "numbers",
                           [](const std::string& f) { return ParseReal(f); });
}

const std::vector<std::string> kRunOptions = {
    "keplers", "satellite", "channel",   "composite", "offset",     "file-clock-offset",
    "colour",  "thickness", "start",     "line-period"};
const std::vector<std::string> kRunFlags = {"align", "no-align", "no-calibration", "stretch"};
const std::vector<std::string> kBatchOptions = {"out-dir", "format", "jobs", "report"};
const std::vector<std::string> kBatchFlags = {"overwrite", "no-graticule"};

Arguments BatchArguments(const std::vector<std::string>& args,
                         const std::vector<std::string>& valued,
                         const std::vector<std::string>& flags) {
    std::vector<std::string> allValued = kRunOptions;
    allValued.insert(allValued.end(), kBatchOptions.begin(), kBatchOptions.end());
    allValued.insert(allValued.end(), valued.begin(), valued.end());
    std::vector<std::string> allFlags = kRunFlags;
    allFlags.insert(allFlags.end(), kBatchFlags.begin(), kBatchFlags.end());
    allFlags.insert(allFlags.end(), flags.begin(), flags.end());
    return Arguments(args, allValued, allFlags, {"graticule"});
}

TRunSetup ReadRunSetup(const Arguments& a, std::ostream& err) {
    const TSavedSettings saved = ReadSavedSettings();
    err << TakeRegistryProblemReport();
    TRunSetup run;
    run.Keplers = a.Value("keplers").value_or(saved.keplerPath);
    const std::string satelliteName = a.Value("satellite").value_or(saved.satellite);
    run.Satellite = SatelliteNamed(satelliteName);
    run.SatelliteGiven = a.Has("satellite");
    if (const auto start = a.Value("start")) {
        run.Start = ParseUtcDateTime(*start);
        if (!run.Start) {
            throw UsageError("--start takes a UTC time, yyyy-mm-dd hh:nn[:ss[.zzz]] (a T may "
                             "stand for the blank), not \"" + *start + "\"");
        }
    }
    if (const auto period = a.Value("line-period")) {
        run.LinePeriodSeconds = ParseReal(*period);
        if (!run.LinePeriodSeconds || !(*run.LinePeriodSeconds > 0.0) ||
            *run.LinePeriodSeconds > kLongestLinePeriodSeconds) {
            throw UsageError(Format("--line-period takes seconds a line, above 0 and at most "
                                    "%.0f (an MSU-MR line takes 0.1538925)",
                                    kLongestLinePeriodSeconds));
        }
    }
    run.LineThickness = saved.lineThickness;
    run.Align = saved.align;
    run.Calibration = saved.calibration && !a.Has("no-calibration");
    if (a.Has("align") && a.Has("no-align")) {
        throw UsageError("give --align or --no-align, not both");
    }
    if (a.Has("align") || a.Has("no-align")) {
        run.Align = a.Has("align");
    }
    run.LineColour = saved.lineColour;
    if (const auto t = a.Value("thickness")) {
        const std::string v = LowerCase(*t);
        run.LineThickness = v == "thin" ? 0 : v == "normal" ? 1 : v == "thick" ? 2 : -1;
        if (run.LineThickness < 0) {
            throw UsageError("--thickness takes thin, normal or thick");
        }
    }
    if (const auto c = a.Value("colour")) {
        const bool hex =
            c->size() == 6 && c->find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (!hex) {
            throw UsageError("--colour takes six hex digits RRGGBB");
        }
        const auto rgb = static_cast<unsigned>(std::stoul(*c, nullptr, 16));
        run.LineColour =
            RGBColor(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                     static_cast<std::uint8_t>(rgb));
    }
    if (const auto o = a.Value("offset")) {
        run.Offset = ParsePair(*o, "offset");
    }
    run.FileClockOffsetHours = saved.fileClockOffset;
    if (const auto h = a.Value("file-clock-offset")) {
        const auto hours = ParseClockOffsetHours(*h);
        if (!hours && LowerCase(*h) != "local") {
            throw UsageError("--file-clock-offset takes whole hours from -14 to 14, or local");
        }
        run.FileClockOffsetHours = hours;
    }
    run.Graticule = saved.graticule;
    run.GraticuleColour = saved.graticuleColour;
    if (a.Has("graticule") && a.Has("no-graticule")) {
        throw UsageError("give --graticule or --no-graticule, not both");
    }
    if (const auto step = a.Value("graticule")) {
        run.Graticule = true;
        if (!step->empty()) {
            const auto degrees = ParseInteger(*step);
            if (!degrees || std::find(kGraticuleSteps.begin(), kGraticuleSteps.end(), *degrees) ==
                                kGraticuleSteps.end()) {
                throw UsageError("--graticule takes a step of 1, 2, 5 or 10 degrees");
            }
            run.GraticuleStep = static_cast<int>(*degrees);
        }
    }
    if (a.Has("no-graticule")) {
        run.Graticule = false;
    }
    run.Channel = a.Value("channel").value_or("");
    if (const auto composite = a.Value("composite")) {
        if (a.Has("channel")) {
            throw UsageError("give --channel or --composite, not both");
        }
        run.Composite = ParseCompositeChannels(*composite);
        if (!run.Composite) {
            throw UsageError("--composite takes three channel names R,G,B (1,2,4 or 2,2,1)");
        }
    }
    run.Stretch = a.Has("stretch");
    return run;
}

TBatchOptions ReadBatchOptions(const Arguments& a, const TRunSetup& setup, std::ostream& err) {
    TBatchOptions options;
    options.Setup = setup;
    options.Overwrite = a.Has("overwrite");
    options.Jobs = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    if (const auto jobs = a.Value("jobs")) {
        const auto n = ParseInteger(*jobs);
        if (!n || *n < 1 || *n > kMostJobs) {
            throw UsageError(Format("--jobs takes a whole number from 1 to %d", kMostJobs));
        }
        options.Jobs = static_cast<int>(*n);
    }
    if (const auto format = a.Value("format")) {
        const std::string f = LowerCase(*format);
        options.Output.Format = f == "jpeg" ? "jpg" : f;
        if (f != "bmp" && f != "jpg" && f != "jpeg" && f != "png" && f != "tif") {
            throw UsageError("--format takes bmp, jpg, png or tif");
        }
    }
    if (const auto dir = a.Value("out-dir")) {
        std::error_code ec;
        std::filesystem::create_directories(*dir, ec);
        if (!DirectoryExists(*dir)) {
            throw std::runtime_error("cannot make the output folder " + *dir +
                                     (ec ? ": " + ec.message() : std::string()));
        }
        options.Output.OutDir = *dir;
    }
    // A progress line only where someone watches it.
    options.Progress = &err == &std::cerr && ::isatty(STDERR_FILENO) != 0;
    return options;
}

std::string ReportTarget(const Arguments& a) {
    return a.Value("report").value_or("");
}

bool WriteReport(const std::string& target, const std::vector<TPassRecord>& records,
                 const TReportContext& context, std::ostream& out, std::ostream& err) {
    const std::string text = JsonText(ReportJson(records, context));
    if (target == "-") {
        out << text << std::flush;
        return true;
    }
    try {
        ReplaceFileContents(target, text);
    } catch (const std::exception& e) {
        err << "vantorel-cli " << context.Command << ": the report: " << e.what() << "\n";
        return false;
    }
    return true;
}

const char* const kRunHelp =
    "  --keplers=DIR            the multi-Kepler folder (default: the window's setting)\n"
    "  --channel=NAME           the channel of a SatDump product to process (\"1\", \"2\",\n"
    "                           ...; default: the picture named, else the first)\n"
    "  --composite=R,G,B        a colour composite of three channels of a SatDump\n"
    "                           product as red, green and blue (\"1,2,4\", \"2,2,1\"):\n"
    "                           each enhanced as a channel image, their lines laid\n"
    "                           together by the times they were scanned\n"
    "  --stretch                stretch each colour of a colour picture (a 24-bit\n"
    "                           composite read from a file); default: as it is\n"
    "  --satellite=NAME|NUMBER  METEOR-M2 (40069, the default), METEOR-M2 2 (44387),\n"
    "                           METEOR-M2 3 (57166) or METEOR-M2 4 (59051); default: the\n"
    "                           window's setting. Given, it goes over the satellite a\n"
    "                           product names (its element set then comes from the\n"
    "                           Kepler folder)\n"
    "  --start=TIME             the first line's time, UTC (2026-05-16T19:37:12.5Z), over\n"
    "                           the file name and the .STAT files: any decoder's picture\n"
    "                           can be placed. A picture that nothing gives a time fails\n"
    "  --line-period=S          seconds a line (0.1538925 for MSU-MR), over the .STAT\n"
    "                           files\n"
    "  --file-clock-offset=H    the computer that named the file ran H whole hours ahead\n"
    "                           of UTC, or \"local\": this computer's time zone\n"
    "                           (default: the window's setting, else local)\n"
    "  --offset=LINES,PIXELS    overlay offsets instead of the pass's defaults (and of\n"
    "                           what the alignment finds)\n"
    "  --no-calibration         the scanner model as it stands, with its default\n"
    "                           offsets, instead of the satellite's calibration in\n"
    "                           Scanner.cal (default: the UseCalibration setting, on)\n"
    "  --align, --no-align      look for the offsets that put the coasts on the\n"
    "                           picture's own coasts, or keep the defaults (default:\n"
    "                           the window's setting, on)\n"
    "  --colour=RRGGBB          line colour (default: the window's setting, yellow)\n"
    "  --thickness=thin|normal|thick  line thickness (default: the window's setting)\n";

const char* const kBatchHelp =
    "  --graticule[=STEP]       a latitude/longitude grid every STEP (1, 2, 5 or 10)\n"
    "                           degrees, labelled at the picture's edges; without\n"
    "                           STEP, the finest that puts at most 8 lines across\n"
    "  --no-graticule           no grid (default: the window's setting, off)\n"
    "  --out-dir=DIR            write the pictures there (made when missing), named\n"
    "                           as beside the image (a product's with the name of\n"
    "                           the folder that holds it in front)\n"
    "  --format=bmp|jpg|png|tif the pictures' format (default: the image's own; tif: a\n"
    "                           GeoTIFF with ground control points)\n"
    "  --overwrite              replace pictures that exist (default: such an input\n"
    "                           fails, saying so, and the others go on)\n"
    "  --jobs=N                 runs at once (default: the number of cores)\n"
    "  --report=FILE            the account of every input as JSON (README.md lists\n"
    "                           its fields); \"-\": on standard output, and what\n"
    "                           would go there goes to standard error\n";

} // namespace vantorel::cli
