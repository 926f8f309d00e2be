// vantorel-cli calibrate: a satellite's scanner calibration fitted on its real passes, a
// check of the calibration in use on passes, and the values that carry over to a satellite
// of the same instrument that has no passes of its own.
#include "Cli.h"
#include "RunOptions.h"

#include "batch/Inputs.h"
#include "calibration/Calibrate.h"
#include "cartography/zorCartography.h"
#include "common/Clock.h"
#include "common/Files.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"
#include "imaging/Canvas.h"
#include "orbit/MeteorSeries.h"
#include "pass/inputs/InputKind.h"
#include "pass/inputs/SatDumpProduct.h"
#include "session/SessionData.h"

namespace vantorel::cli {
namespace {

std::vector<TCalibrationInput> Inputs(const Arguments& a) {
    const std::string channel = a.Value("channel").value_or("");
    std::optional<double> fileClock;
    if (const auto hours = a.Value("file-clock-offset")) {
        const auto h = ParseInteger(*hours);
        if (!h || *h < -24 || *h > 24) {
            throw UsageError("--file-clock-offset takes whole hours from -24 to 24");
        }
        fileClock = *h / 24.0;
    }
    std::vector<TCalibrationInput> inputs;
    for (const std::string& path : a.Positional()) {
        inputs.push_back({path, [path, channel, fileClock](TPassSources& s, TPassReport& r) {
                              if (InputKindOf(path) == TInputKind::SatDumpProduct) {
                                  TProductOptions product;
                                  product.Channel = channel;
                                  return ProcessSatDumpProduct(path, product, s, r);
                              }
                              TChannelFileOptions o;
                              o.Now = NowUTC();
                              o.FileClockOffset = fileClock;
                              return ProcessChannelImageFile(path, o, s, r);
                          }});
    }
    return inputs;
}

TTileGrid Tiles(const Arguments& a) {
    TTileGrid grid;
    if (const auto t = a.Value("tiles")) {
        const auto [columns, lines] = ParsePair(*t, "--tiles");
        if (columns < 1 || columns > 64 || lines < 32) {
            throw UsageError("--tiles takes COLUMNS (1 to 64) and LINES (32 or more)");
        }
        grid.Columns = columns;
        grid.LinesPerRow = lines;
    }
    return grid;
}

TMeteorSatellite Satellite(const Arguments& a) {
    const auto name = a.Value("satellite");
    if (!name) {
        throw UsageError("--satellite names the satellite to calibrate");
    }
    return SatelliteNamed(*name);
}

// The command as the section records it: what was run, without where it wrote.
std::string CommandLine(const std::vector<std::string>& args) {
    std::string out = "vantorel-cli calibrate";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--write" || args[i] == "--calibration") {
            ++i;
            continue;
        }
        if (args[i].rfind("--write=", 0) == 0 || args[i].rfind("--calibration=", 0) == 0) {
            continue;
        }
        out += " " + args[i];
    }
    return out;
}

std::string CalibrationFile(const Arguments& a) {
    return a.Value("calibration").value_or(DataFilePath("Scanner.cal"));
}

void WriteSection(const std::string& file, const std::string& number, const std::string& section,
                  std::ostream& out) {
    const std::string old = ReadFileBytes(file).value_or("");
    ReplaceFileContents(file, ReplaceScannerSection(old, number, section));
    out << "Section [" << number << "] written to " << file << "\n";
}

int RunCalibrate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a(args,
                      {"satellite", "keplers", "channel", "file-clock-offset", "tiles", "write",
                       "calibration", "carry-over"},
                      {"check", "no-calibration"});
    EnsureGuiApplication();
    const TMeteorSatellite satellite = Satellite(a);
    const std::string number(satellite.CatalogueNumber);
    const std::string displayName = TPassSatellite::Of(satellite).DisplayName;
    const auto written = ReadFileBytes(CalibrationFile(a));

    if (const auto from = a.Value("carry-over")) {
        if (!a.Positional().empty()) {
            throw UsageError("--carry-over takes no passes");
        }
        const TScannerCalibrations file = ParseScannerCalibrations(written.value_or(""));
        std::vector<TScannerCalibration> measured;
        for (const std::string& id : SplitDelimited(*from, ',')) {
            const auto s = FindMeteorSatellite(Trim(id));
            const auto found = s ? file.BySatellite.find(std::string(s->CatalogueNumber))
                                 : file.BySatellite.end();
            if (found == file.BySatellite.end() || !found->second.Measured) {
                err << "vantorel-cli calibrate: " << CalibrationFile(a) << " has no measured "
                    << "section of '" << Trim(id) << "'\n";
                return kExitFailure;
            }
            measured.push_back(found->second);
        }
        std::vector<std::string> account;
        const TScannerCalibration c = CarriedOverCalibration(measured, account);
        std::string section = "[" + number + "]  # " + displayName +
                              ", not measured on its own passes\n# Made by: " +
                              CommandLine(args) + "\n";
        for (const std::string& line : account) {
            out << line << "\n";
            section += "# " + line + "\n";
        }
        section += FormatScannerValues(c);
        out << section;
        if (const auto target = a.Value("write")) {
            WriteSection(*target, number, section, out);
        }
        return kExitOk;
    }

    if (a.Positional().empty()) {
        throw UsageError("no pass named");
    }
    TCartogList boundaries;
    const std::string fine = DataFilePath("Boundaries.b");
    boundaries.LoadBoundaryFiles(FileExists(fine) ? fine : DataFilePath("Countries.dat"));
    TPassSources sources;
    sources.Load(a.Value("keplers").value_or(""), TPassSatellite::Of(satellite));
    const std::vector<TCalibrationInput> inputs = Inputs(a);

    if (a.Has("check")) {
        sources.SetCalibrations(ParseScannerCalibrations(written.value_or("")),
                                !a.Has("no-calibration"));
        const TTileGrid tiles = Tiles(a);
        for (const TCalibrationInput& input : inputs) {
            out << MeasureReport(MeasurePass(input, sources, boundaries, tiles));
        }
        return kExitOk;
    }

    TCalibrationOptions options;
    options.Tiles = Tiles(a);
    const TCalibrationResult result =
        CalibrateScanner(number, inputs, sources, boundaries, options,
                         [&err](const std::string& line) { err << line << "\n" << std::flush; });
    out << CalibrationReport(result);
    const std::string section = CalibrationSection(result, displayName, CommandLine(args), NowUTC());
    out << "\n" << section;
    if (const auto target = a.Value("write")) {
        WriteSection(*target, number, section, out);
    }
    bool disagree = false;
    for (const TPassCalibration& p : result.Passes) {
        disagree |= !p.Disagreement.empty();
    }
    // Values that did not settle, or passes at odds with the rest, ask for a look.
    return result.Settled && !disagree ? kExitOk : kExitWarnings;
}

} // namespace

Command CalibrateCommand() {
    return {"calibrate",
            "--satellite=NAME|NUMBER [options] PASS...\n"
            "  or:  vantorel-cli calibrate --satellite=NAME|NUMBER --check PASS...\n"
            "  or:  vantorel-cli calibrate --satellite=NAME|NUMBER --carry-over=SAT,SAT",
            "fit a satellite's scanner calibration on its real passes",
            "Runs each PASS (a SatDump product folder, its product.cbor or a picture in it, or\n"
            "a channel image with its .STAT files) with the calibration as it stands, matches\n"
            "the drawn coasts to the picture's own in tiles across the swath and along the\n"
            "pass, and fits the scan angle, roll, pitch, yaw and clock offset to every match\n"
            "together by robust least squares, with a time shift of each pass's own; then again\n"
            "from the new values until they settle. Tiles without a clear match (cloud, lost\n"
            "lines) carry no weight, outliers are down-weighted. Prints the parameters with\n"
            "their uncertainties (a parameter the passes cannot determine stays at its prior),\n"
            "per pass its shift and whether it disagrees with the others, and per tile the\n"
            "shift before and after; then the satellite's section of Scanner.cal. Exit 3 when\n"
            "the values did not settle or a pass disagrees.\n\n"
            "Options:\n"
            "  --satellite=NAME|NUMBER  the satellite: METEOR-M2 (40069), METEOR-M2 2\n"
            "                           (44387), METEOR-M2 3 (57166), METEOR-M2 4 (59051)\n"
            "  --keplers=DIR            a multi-Kepler folder (default none: products carry\n"
            "                           their own element sets)\n"
            "  --channel=NAME           a product's channel (default: the first)\n"
            "  --file-clock-offset=H    the computer that named channel images ran H hours\n"
            "                           ahead of UTC (default: this computer's time zone)\n"
            "  --tiles=COLUMNS,LINES    tiles across the swath and lines a tile (8,256)\n"
            "  --write=FILE             replace the satellite's section of FILE (a\n"
            "                           Scanner.cal) with the one found\n"
            "  --check                  fit nothing: each pass's alignment, coast distances\n"
            "                           and tile shifts with the calibration in use\n"
            "  --no-calibration         with --check: the plain scanner model\n"
            "  --calibration=FILE       the Scanner.cal to check with or carry over from\n"
            "                           (default: the program's)\n"
            "  --carry-over=SAT,SAT     a section for a satellite without passes from the\n"
            "                           measured sections of these: the scan angle, and the\n"
            "                           yaw and clock where they agree\n",
            RunCalibrate};
}

} // namespace vantorel::cli
