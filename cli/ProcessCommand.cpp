// vantorel-cli process and locate: processing runs of channel images and products, headless.
#include "Cli.h"
#include "RunOptions.h"

#include "batch/Batch.h"
#include "batch/HeadlessRun.h"
#include "batch/Inputs.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "export/GeoTiff.h"
#include "pass/inputs/ChannelImage.h"
#include "pass/inputs/InputKind.h"
#include "pass/inputs/SatDumpProduct.h"
#include "session/SessionData.h"

#include <chrono>
#include <optional>
#include <stdexcept>

namespace vantorel::cli {
namespace {

static_assert(kExitOk == 0 && kExitWarnings == 3 && kExitFailure == 1,
              "the batch's statuses map onto these");

// --step, checked before any run.
std::optional<double> ReadStep(const Arguments& a) {
    const auto text = a.Value("step");
    if (!text) {
        return std::nullopt;
    }
    const auto step = ParseReal(*text);
    if (!step || !(*step > 0.0)) {
        throw UsageError("--step takes a positive number of map units a pixel");
    }
    return step;
}

// A folder that is not a product folder is one to search.
bool SearchedFolder(const std::string& path) {
    return DirectoryExists(path) && !IsDecoderOutput(InputKindOf(path));
}

// One input as process has always run it: the account on standard output as it grows, the
// messages on standard error, the picture where --out says or beside the image.
int RunOne(const Arguments& a, const TBatchOptions& options, std::ostream& out,
           std::ostream& err) {
    const auto began = std::chrono::steady_clock::now();
    const std::string started = IsoUtc(NowUTC());
    const std::string report = ReportTarget(a);
    std::ostream& text = report == "-" ? err : out;
    const auto finish = [&](TPassRecord& record) {
        record.TotalMilliseconds = MillisecondsSince(began);
        if (!record.Failure.empty()) {
            err << "vantorel-cli process: " << record.Failure << "\n";
        }
        if (!report.empty() &&
            !WriteReport(report, {record}, {"process", started, IsoUtc(NowUTC()), 1}, out, err)) {
            return kExitFailure;
        }
        return ExitCode(record.Status);
    };

    const std::string path = a.Positional().front();
    const TBatchInput input{
        path, IsDecoderOutput(InputKindOf(path)), a.Value("out").value_or(""), {}};
    // Refused before the run, as in a batch: no picture is replaced unasked.
    std::vector<TPassRecord> refused;
    const std::vector<TJob> jobs = PlanJobs({input}, options, refused);
    if (jobs.empty()) {
        return finish(refused.front());
    }
    // A channel image is read while the boundaries are: the run needs it only once its
    // account has begun.
    std::optional<TChannelImageReadAhead> picture;
    if (!jobs.front().Input.Product && FileExists(jobs.front().Input.Path)) {
        picture.emplace(jobs.front().Input.Path);
    }
    // The data of the one run are left to the process's end.
    TBatchOptions own = options;
    own.Data = LoadSessionData(TPointReading::AsAsked);
    TPassRecord record = RunJob(jobs.front(), own, text, err);
    KeepUntilExit(std::move(own.Data));
    return finish(record);
}

int RunMany(const Arguments& a, const TBatchOptions& options, std::ostream& out,
            std::ostream& err) {
    const std::string started = IsoUtc(NowUTC());
    const std::string report = ReportTarget(a);
    std::ostream& text = report == "-" ? err : out;
    std::vector<std::string> empty;
    const std::vector<TBatchInput> inputs = ExpandInputs(a.Positional(), empty);
    for (const std::string& folder : empty) {
        err << "vantorel-cli process: no channel images or products in " << folder << "\n";
    }
    std::vector<TPassRecord> records;
    if (inputs.empty()) {
        err << "vantorel-cli process: nothing to process\n";
    } else {
        records = RunBatch(inputs, options, text, err);
    }
    if (!report.empty() && !WriteReport(report, records,
                                        {"process", started, IsoUtc(NowUTC()), options.Jobs},
                                        out, err)) {
        return kExitFailure;
    }
    return BatchExitCode(records, "process");
}

int RunProcess(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a = BatchArguments(args, {"out", "project", "crs", "step"}, {"no-overlay"});
    ReadStep(a);
    const std::vector<std::string>& named = a.Positional();
    if (named.empty()) {
        throw UsageError("name a channel image, a product or a folder");
    }
    const bool one = named.size() == 1 && !a.Has("out-dir") && !SearchedFolder(named.front());
    if (a.Has("out") && !one) {
        throw UsageError("--out names the picture of one input; for several give --out-dir");
    }
    for (const char* single : {"project", "crs", "step"}) {
        if (a.Has(single) && !one) {
            throw UsageError(std::string("--") + single + " is for one input, without --out-dir");
        }
    }
    // A system PROJ cannot read is a wrong command line, told before any picture is made.
    if (const auto crs = a.Value("crs")) {
        try {
            CheckCoordinateSystem(*crs);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
    }
    const TRunSetup setup = ReadRunSetup(a, err);
    TBatchOptions options = ReadBatchOptions(a, setup, err);
    options.Overlay = !a.Has("no-overlay");
    options.Projected = a.Value("project").value_or("");
    options.Crs = a.Value("crs").value_or("");
    options.Step = ReadStep(a).value_or(0.0);
    return one ? RunOne(a, options, out, err) : RunMany(a, options, out, err);
}

int RunLocate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> options = kRunOptions;
    options.push_back("pixel");
    options.push_back("lonlat");
    std::vector<std::string> flags = kRunFlags;
    flags.push_back("grid");
    const Arguments a(args, options, flags);
    const int asked =
        (a.Has("pixel") ? 1 : 0) + (a.Has("lonlat") ? 1 : 0) + (a.Has("grid") ? 1 : 0);
    if (asked != 1) {
        throw UsageError("give one of --pixel X,Y, --lonlat LON,LAT or --grid");
    }
    std::optional<std::pair<int, int>> pixel;
    std::optional<std::pair<float, float>> lonlat;
    if (a.Has("pixel")) {
        pixel = ParsePair(*a.Value("pixel"), "pixel");
    }
    if (a.Has("lonlat")) {
        lonlat = ParseRealPair(*a.Value("lonlat"), "lonlat");
    }
    if (a.Positional().size() != 1) {
        throw UsageError("name exactly one channel image");
    }
    const TRunSetup setup = ReadRunSetup(a, err);
    // The run's account goes to stderr: stdout is the answer.
    THeadlessRun h(setup, a.Positional().front(), err, err);
    if (h.StageError()) {
        throw std::runtime_error(*h.StageError());
    }
    if (!h.Processed()) {
        err << "vantorel-cli locate: the run ended before the map was fitted\n";
        return kExitFailure;
    }
    TPassSession& run = h.Run();
    if (pixel) {
        const auto answer = run.Readout(pixel->first, pixel->second);
        if (!answer) {
            err << "vantorel-cli locate: the pixel lies outside the picture\n";
            return kExitFailure;
        }
        if (!run.GroundAt(pixel->first, pixel->second)->LonLat) {
            err << Format("vantorel-cli locate: pixel %d,%d has no ground position: the overlay, "
                          "moved by its offsets (line %d, pixel %d), leaves that margin of the "
                          "picture without one\n",
                          pixel->first, pixel->second, run.LineOffset(), run.PixelOffset());
            return kExitFailure;
        }
        out << *answer << "\n";
    } else if (lonlat) {
        int x = 0;
        int y = 0;
        if (!run.PicturePosition(lonlat->first, lonlat->second, x, y)) {
            err << "vantorel-cli locate: the position cannot be placed on this pass\n";
            return kExitFailure;
        }
        out << Format("Lon: %.4f   Lat: %.4f     X: %d   Y: %d", lonlat->first, lonlat->second, x,
                      y)
            << "\n";
    } else {
        out << "line point latitude longitude\n";
        const LocationGrid& grid = run.Pass()->GroundTable;
        for (size_t l = 0; l < grid.size(); ++l) {
            for (size_t k = 0; k < grid[l].size(); ++k) {
                out << Format("%d %d %.5f %.5f\n", l, k, grid[l][k].lat, grid[l][k].lon);
            }
        }
    }
    return h.Warned() ? kExitWarnings : kExitOk;
}

constexpr const char* kExitHelp =
    "\nExit codes:\n"
    "  0  done, nothing doubtful\n"
    "  3  done (the picture is written), but the run warned: no date in the file name, no\n"
    "     .STAT file or one that tells nothing or counts other lines, an element set more\n"
    "     than 7 days from the pass or a month newer or failing its checksum, a satellite\n"
    "     that sent no LRPT that day, a 122/124/125 channel, a fit that failed or leaves\n"
    "     far more than a pass, coasts that match nowhere near the overlay, a picture cut\n"
    "     short; standard error and the account say which\n"
    "  1  the run ended before the picture was drawn (no pass time, line times that run\n"
    "     backwards or at no scanner's rate, a picture longer than a pass or of no\n"
    "     columns, an element set that is no Meteor's orbit or a year from the pass, ...),\n"
    "     or the picture was not written\n"
    "  2  the command line was wrong\n";

} // namespace

Command ProcessCommand() {
    return {
        "process", "[options] IMAGE|PRODUCT|FOLDER...",
        "overlay borders and coastlines on channel images and save the pictures",
        std::string(
            "Runs the whole processing of one channel image (BMP, JPEG or PNG, named with\n"
            "its pass time and with the decoder's .STAT files beside it) or of a SatDump\n"
            "MSU-MR product (its folder, its product.cbor, or one channel picture in it),\n"
            "or of a SatDump MSU-MR folder without product.cbor (MSU-MR-N.png and a\n"
            "dataset.json, in it or one folder up: the first line's time is found from the\n"
            "picture's coasts near the dataset's time, or the input fails):\n"
            "pass timing, element set, ground points, map fit, contrast enhancement,\n"
            "alignment to the coasts and overlay, and writes the picture as shown, turned\n"
            "for south-to-north passes.\n"
            "The account of each step goes to standard output, message boxes to\n"
            "standard error as \"Caption: text\".\n\n"
            "Several inputs, or a folder (searched with the folders below it for channel\n"
            "images named with their pass time and for product folders), are processed\n"
            "on all cores, each on its own: one line each as it ends (its messages on\n"
            "standard error when it warned or failed), a progress line on a terminal,\n"
            "and a summary. An existing picture is never replaced without --overwrite:\n"
            "that input fails, saying so, and the others go on.\n\n"
            "Options:\n"
            "  --out=FILE               the picture of one input: .bmp (24-bit), .png,\n"
            "                           .jpg (quality 92), or .tif: a GeoTIFF with ground\n"
            "                           control points (WGS 84) from the ground table;\n"
            "                           default: the image's name with .geo before its\n"
            "                           extension\n"
            "  --no-overlay             the enhanced picture alone, without the overlay\n"
            "  --project=FILE.tif       also the pass resampled to a map grid, the overlay\n"
            "                           drawn in map space, as a GeoTIFF with a world file\n"
            "  --crs=DEFINITION         its coordinate system, any PROJ reads (\"EPSG:32643\",\n"
            "                           \"+proj=laea +lat_0=60 ...\"); default longitude/\n"
            "                           latitude (WGS 84)\n"
            "  --step=UNITS             its pixel size in the system's units (default 0.01\n"
            "                           degree, or 1 km)\n"
            "  (--out, --project, --crs and --step: one input only)\n") +
            kBatchHelp + kRunHelp + kExitHelp +
            "  With several inputs the exit code is the worst of theirs: 1, else 3, else 0.\n",
        RunProcess};
}

Command LocateCommand() {
    return {
        "locate", "[options] IMAGE (--pixel=X,Y | --lonlat=LON,LAT | --grid)",
        "ground position of a pixel, or pixel of a position, after a run",
        std::string("After the run's timing, ground points and map fit:\n"
                    "  --pixel=X,Y              the longitude and latitude the readout shows\n"
                    "                           for that pixel of the picture\n"
                    "  --lonlat=LON,LAT         the pixel of the picture where the overlay\n"
                    "                           draws that position (offsets and turn included)\n"
                    "  --grid                   every ground point: line, point, latitude,\n"
                    "                           longitude\n\n"
                    "Options:\n") +
            kRunHelp + "\nThe run's account goes to standard error.\n" + kExitHelp,
        RunLocate};
}

} // namespace vantorel::cli
