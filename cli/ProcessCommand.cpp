// vantorel-cli process and locate: one processing run of a channel image, headless.
#include "Cli.h"

#include "app/ProcessingRun.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/Version.h"
#include "imaging/Canvas.h"
#include "orbit/MeteorSeries.h"
#include "orbit/Orbits.h"
#include "pass/inputs/SatDumpProduct.h"
#include "settings/Registry.h"
#include "settings/RegistryVariables.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>

namespace vantorel::cli {
namespace {

// The settings the window keeps, read without writing anything back.
struct SavedSettings {
    std::string keplerPath;
    bool align = true;
    bool calibration = true;
    std::string satellite{kDefaultSatellite};
    int lineThickness = kDefaultLineThickness;
    TColor lineColour = static_cast<TColor>(kDefaultLineColour);
    std::optional<int> fileClockOffset; // hours; none: this computer's time zone
    bool graticule = false;
    TColor graticuleColour = static_cast<TColor>(kDefaultGraticuleColour);
};

SavedSettings ReadSavedSettings() {
    SetRegistryProgramName(kWindowProgramName);
    SavedSettings saved;
    try {
        TRegistry registry(CurrentRegistrySettings().rootKey);
        if (registry.KeyExists(ProgramKeyPath()) && registry.OpenKeyReadOnly(ProgramKeyPath())) {
            saved.keplerPath = registry.ReadString(kKeplerPathValue).value_or("");
            saved.align = registry.ReadInteger(kAlignAutomaticallyValue).value_or(1) != 0;
            saved.calibration = registry.ReadInteger(kUseCalibrationValue).value_or(1) != 0;
            saved.satellite =
                registry.ReadString(kSatelliteValue).value_or(std::string(kDefaultSatellite));
            const int thickness =
                registry.ReadInteger(kLineThicknessValue).value_or(saved.lineThickness);
            if (thickness >= 0 && thickness <= 2) {
                saved.lineThickness = thickness;
            }
            saved.lineColour = static_cast<TColor>(
                registry.ReadInteger(kLineColourValue).value_or(kDefaultLineColour));
            saved.fileClockOffset =
                ParseClockOffsetHours(registry.ReadString(kFileClockOffsetValue).value_or(""));
            saved.graticule = registry.ReadInteger(kGraticuleValue).value_or(0) != 0;
            saved.graticuleColour = static_cast<TColor>(
                registry.ReadInteger(kGraticuleColourValue).value_or(kDefaultGraticuleColour));
        }
    } catch (const std::exception&) {
        // Unreadable settings: the defaults stand.
    }
    if (saved.keplerPath.empty()) {
        saved.keplerPath = HalvoryValue(kTwoLineDataPathValue);
    }
    return saved;
}

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

std::pair<int, int> ParsePair(const std::string& text, const char* option) {
    return ParseTwo<int>(text, option, "whole numbers",
                         [](const std::string& f) { return ParseInteger(f); });
}

std::pair<float, float> ParseRealPair(const std::string& text, const char* option) {
    return ParseTwo<float>(text, option, "numbers",
                           [](const std::string& f) { return ParseReal(f); });
}

// Farther than this (days) from the pass, an element set places the overlay kilometres off.
constexpr double kFarElementSetDays = 7.0;

// One run as both commands need it: options read, settings applied, the image processed.
class HeadlessRun {
public:
    HeadlessRun(const Arguments& a, std::ostream& out, std::ostream& err)
        : notifier_(err), run_(notifier_) {
        if (a.Positional().size() != 1) {
            throw UsageError("name exactly one channel image");
        }
        image_ = a.Positional()[0];
        EnsureGuiApplication(); // place-mark labels are drawn with the platform's fonts
        const SavedSettings saved = ReadSavedSettings();
        err << TakeRegistryProblemReport();
        std::string keplers = a.Value("keplers").value_or(saved.keplerPath);
        const std::string satelliteName = a.Value("satellite").value_or(saved.satellite);
        const auto satellite = FindMeteorSatellite(satelliteName);
        if (!satellite) {
            throw UsageError("--satellite takes METEOR-M2, METEOR-M2 2, METEOR-M2 3 or "
                             "METEOR-M2 4, or their catalogue numbers; not \"" +
                             satelliteName + "\"");
        }
        run_.LineThickness = saved.lineThickness;
        run_.AlignAutomatically = saved.align;
        run_.UseCalibration = saved.calibration && !a.Has("no-calibration");
        if (a.Has("align") && a.Has("no-align")) {
            throw UsageError("give --align or --no-align, not both");
        }
        if (a.Has("align") || a.Has("no-align")) {
            run_.AlignAutomatically = a.Has("align");
        }
        run_.LineColour = saved.lineColour;
        if (const auto t = a.Value("thickness")) {
            const std::string v = LowerCase(*t);
            run_.LineThickness = v == "thin" ? 0 : v == "normal" ? 1 : v == "thick" ? 2 : -1;
            if (run_.LineThickness < 0) {
                throw UsageError("--thickness takes thin, normal or thick");
            }
        }
        if (const auto c = a.Value("colour")) {
            unsigned rgb = 0;
            const bool hex = c->size() == 6 &&
                             c->find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
            if (!hex) {
                throw UsageError("--colour takes six hex digits RRGGBB");
            }
            rgb = static_cast<unsigned>(std::stoul(*c, nullptr, 16));
            run_.LineColour =
                RGBColor(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                         static_cast<std::uint8_t>(rgb));
        }
        if (const auto o = a.Value("offset")) {
            offset_ = ParsePair(*o, "offset");
        }
        run_.FileClockOffsetHours = saved.fileClockOffset;
        if (const auto h = a.Value("file-clock-offset")) {
            const auto hours = ParseClockOffsetHours(*h);
            if (!hours && LowerCase(*h) != "local") {
                throw UsageError("--file-clock-offset takes whole hours from -14 to 14, or local");
            }
            run_.FileClockOffsetHours = hours;
        }
        run_.Graticule = saved.graticule;
        run_.GraticuleColour = saved.graticuleColour;
        if (a.Has("graticule") && a.Has("no-graticule")) {
            throw UsageError("give --graticule or --no-graticule, not both");
        }
        if (const auto step = a.Value("graticule")) {
            run_.Graticule = true;
            if (!step->empty()) {
                const auto degrees = ParseInteger(*step);
                if (!degrees || std::find(kGraticuleSteps.begin(), kGraticuleSteps.end(),
                                          *degrees) == kGraticuleSteps.end()) {
                    throw UsageError("--graticule takes a step of 1, 2, 5 or 10 degrees");
                }
                run_.GraticuleStep = *degrees;
            }
        }
        if (a.Has("no-graticule")) {
            run_.Graticule = false;
        }
        run_.Diags().OnAdd = [&out](const std::string& line) { out << line << "\n"; };
        run_.Start(keplers, kVersion, TPassSatellite::Of(*satellite));
        if (const auto channel = a.Value("channel")) {
            run_.ProductChannel = *channel;
        }
        const bool product = FindSatDumpProductFile(image_).has_value();
        if (run_.Satellite() == nullptr && !product) {
            err << "vantorel-cli: no element set for " << satellite->DisplayName << " ("
                << satellite->CatalogueNumber << ") in the Kepler folder \"" << run_.KeplerFolder()
                << "\" (choose it with --keplers DIR)\n";
        }
        if (!FileExists(image_) && !DirectoryExists(image_)) {
            err << "vantorel-cli: no such file: " << image_ << "\n";
            processed_ = false;
            return;
        }
        // An error inside a stage ends the command as any other failure of the work does.
        std::optional<std::string> stageError;
        processed_ = run_.ProcessFile(image_, [&](const TReportEntry& e) {
            if (e.Kind == TReportEntry::TKind::Error && e.Issue == TPassIssue::StageFailed) {
                stageError = e.Text;
                return;
            }
            // The set's age against today says nothing about an archived pass; its
            // distance from the pass is judged below.
            if (e.Kind == TReportEntry::TKind::Warning && e.Issue != TPassIssue::StaleElementSet) {
                warned_ = true;
            }
            Deliver(e, run_.Diags(), notifier_);
        });
        if (stageError) {
            throw std::runtime_error(*stageError);
        }
        if (processed_ && std::fabs(run_.Orbit().EpochOffset) > kFarElementSetDays) {
            err << Format("vantorel-cli: the element set is %.1f days from the pass\n",
                          std::fabs(run_.Orbit().EpochOffset));
            warned_ = true;
        }
        if (processed_ && offset_) {
            run_.SetOffsets(offset_->first, offset_->second);
            run_.RedrawOverlay();
        }
        out.flush();
    }

    bool Processed() const { return processed_; }
    /// The exit code of a run that drew its picture: warnings make it doubtful.
    int DoneCode() const { return warned_ ? kExitWarnings : kExitOk; }
    TProcessingRun& Run() { return run_; }
    const std::string& Image() const { return image_; }

private:
    StreamNotifier notifier_;
    TProcessingRun run_;
    std::string image_;
    std::optional<std::pair<int, int>> offset_;
    bool processed_ = false;
    bool warned_ = false;
};

const std::vector<std::string> kRunOptions = {"keplers", "satellite", "channel", "offset",
                                              "file-clock-offset", "colour", "thickness"};

int RunProcess(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> options = kRunOptions;
    for (const char* o : {"out", "project", "crs", "step"}) {
        options.push_back(o);
    }
    const Arguments a(args, options,
                      {"align", "no-align", "no-calibration", "no-overlay", "no-graticule"},
                      {"graticule"});
    std::optional<double> step;
    if (const auto s = a.Value("step")) {
        step = ParseReal(*s);
        if (!step || !(*step > 0.0)) {
            throw UsageError("--step takes a positive number of map units a pixel");
        }
    }
    HeadlessRun h(a, out, err);
    if (!h.Processed()) {
        err << "vantorel-cli process: the run ended before the picture was drawn\n";
        return kExitFailure;
    }
    const std::string target = a.Value("out").value_or(h.Run().SuggestedSaveName());
    out << h.Run().SavePicture(target, !a.Has("no-overlay")) << "\n";
    if (const auto projected = a.Value("project")) {
        out << h.Run().SaveProjectedPicture(*projected, a.Value("crs").value_or(""),
                                            step.value_or(0.0))
            << "\n";
    }
    return h.DoneCode();
}

int RunLocate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> options = kRunOptions;
    options.push_back("pixel");
    options.push_back("lonlat");
    const Arguments a(args, options, {"grid", "align", "no-align", "no-calibration"});
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
    HeadlessRun h(a, err, err); // the run's account goes to stderr: stdout is the answer
    if (!h.Processed()) {
        err << "vantorel-cli locate: the run ended before the map was fitted\n";
        return kExitFailure;
    }
    TProcessingRun& run = h.Run();
    if (pixel) {
        const auto text = run.Readout(pixel->first, pixel->second);
        if (!text) {
            err << "vantorel-cli locate: the pixel lies outside the picture\n";
            return kExitFailure;
        }
        out << *text << "\n";
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
        const LocationGrid& grid = run.GroundTable();
        for (size_t l = 0; l < grid.size(); ++l) {
            for (size_t k = 0; k < grid[l].size(); ++k) {
                out << Format("%d %d %.5f %.5f\n", l, k, grid[l][k].lat, grid[l][k].lon);
            }
        }
    }
    return h.DoneCode();
}

constexpr const char* kRunHelp =
    "  --keplers=DIR            the multi-Kepler folder (default: the window's setting)\n"
    "  --channel=NAME           the channel of a SatDump product to process (\"1\", \"2\",\n"
    "                           ...; default: the picture named, else the first)\n"
    "  --satellite=NAME|NUMBER  METEOR-M2 (40069, the default), METEOR-M2 2 (44387),\n"
    "                           METEOR-M2 3 (57166) or METEOR-M2 4 (59051); default: the\n"
    "                           window's setting\n"
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

constexpr const char* kExitHelp =
    "\nExit codes:\n"
    "  0  done, nothing doubtful\n"
    "  3  done (the picture is written), but the run warned: no date in the file name, no\n"
    "     .STAT file, an element set more than 7 days from the pass or a month newer, a\n"
    "     122/124/125 channel, a fit that failed, a picture cut short; standard error and\n"
    "     the account say which\n"
    "  1  the run ended before the picture was drawn\n"
    "  2  the command line was wrong\n";

} // namespace

Command ProcessCommand() {
    return {"process", "[options] IMAGE|PRODUCT",
            "overlay borders and coastlines on a channel image and save the picture",
            std::string(
                "Runs the whole processing of one channel image (BMP, JPEG or PNG, named with\n"
                "its pass time and with the decoder's .STAT files beside it) or of a SatDump\n"
                "MSU-MR product (its folder, its product.cbor, or one channel picture in it):\n"
                "pass timing, element set, ground points, map fit, contrast enhancement,\n"
                "alignment to the coasts and overlay, and writes the picture as shown, turned\n"
                "for south-to-north passes.\n"
                "The account of each step goes to standard output, message boxes to\n"
                "standard error as \"Caption: text\".\n\n"
                "Options:\n"
                "  --out=FILE               the picture: .bmp (24-bit), .png, .jpg (quality\n"
                "                           92), or .tif: a GeoTIFF with ground control points\n"
                "                           (WGS 84) from the ground table; default: the\n"
                "                           image's name with .geo before its extension\n"
                "  --no-overlay             a GeoTIFF of the channel image alone\n"
                "  --project=FILE.tif       also the pass resampled to a map grid, the overlay\n"
                "                           drawn in map space, as a GeoTIFF with a world file\n"
                "  --crs=DEFINITION         its coordinate system, any PROJ reads (\"EPSG:32643\",\n"
                "                           \"+proj=laea +lat_0=60 ...\"); default longitude/\n"
                "                           latitude (WGS 84)\n"
                "  --step=UNITS             its pixel size in the system's units (default 0.01\n"
                "                           degree, or 1 km)\n"
                "  --graticule[=STEP]       a latitude/longitude grid every STEP (1, 2, 5 or 10)\n"
                "                           degrees, labelled at the picture's edges; without\n"
                "                           STEP, the finest that puts at most 8 lines across\n"
                "  --no-graticule           no grid (default: the window's setting, off)\n") +
                kRunHelp + kExitHelp,
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
