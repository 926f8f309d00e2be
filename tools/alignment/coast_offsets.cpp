// How far a pass's drawn coasts lie from the coasts in its picture, over the whole picture
// and tile by tile across the swath and along the pass. The local offsets show what the
// scanner model gets wrong: a pixel offset that is the same across the swath is a roll, one
// that grows towards the edges a wrong scan angle, a line offset a clock error, one that
// changes across the swath a yaw.
//
//   coast_offsets [--keplers DIR] [--satellite S] [--channel C] [--tiles COLUMNS,ROWS]
//                 [--window PIXELS,LINES] [--start LINE,PIXEL] [--model 1]
//                 [--scan-angle DEG [--roll DEG] [--pitch DEG] [--yaw DEG]
//                 [--time-offset S]] IMAGE|PRODUCT
#include "alignment/CoastAlignment.h"
#include "alignment/CoastLines.h"
#include "app/ProcessingRun.h"
#include "calibration/CoastMatches.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "imaging/Canvas.h"
#include "orbit/MeteorSeries.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

using namespace vantorel;

namespace {

std::pair<int, int> Pair(const std::string& text) {
    const auto comma = text.find(',');
    return {std::stoi(text.substr(0, comma)), std::stoi(text.substr(comma + 1))};
}

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    std::string input;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            input.clear();
            break;
        }
        if (a.rfind("--", 0) == 0 && i + 1 < argc) {
            options[a.substr(2)] = argv[++i];
        } else {
            input = a;
        }
    }
    if (input.empty()) {
        std::cerr << "Usage: coast_offsets [--keplers DIR] [--satellite S] [--channel C] "
                     "[--tiles C,R] [--window P,L] [--start LINE,PIXEL] IMAGE|PRODUCT\n";
        return 2;
    }
    EnsureGuiApplication();
    StreamNotifier notifier(std::cerr);
    TProcessingRun run(notifier);
    run.Setup().Align = false;
    TPassSatellite satellite;
    if (options.count("satellite")) {
        satellite = TPassSatellite::Of(*FindMeteorSatellite(options["satellite"]));
    }
    run.Setup().Channel = options["channel"];
    run.Setup().Calibration = !options.count("model");
    run.Start(options["keplers"], "0", satellite);
    // A calibration to try, for every satellite of the series.
    if (options.count("scan-angle")) {
        TScannerCalibration c;
        c.ScanAngle = std::stod(options["scan-angle"]);
        c.Roll = options.count("roll") ? std::stod(options["roll"]) : 0.0;
        c.Pitch = options.count("pitch") ? std::stod(options["pitch"]) : 0.0;
        c.Yaw = options.count("yaw") ? std::stod(options["yaw"]) : 0.0;
        c.TimeOffset = options.count("time-offset") ? std::stod(options["time-offset"]) : 0.0;
        TScannerCalibrations all;
        for (const TMeteorSatellite& s : MeteorSatellites()) {
            all.BySatellite[std::string(s.CatalogueNumber)] = c;
        }
        run.SetCalibrations(all);
    }
    if (!run.ProcessFile(input)) {
        std::cerr << "the run ended early\n";
        return 1;
    }
    const TPassResult& pass = *run.Pass();
    const auto [startLine, startPixel] =
        options.count("start") ? Pair(options["start"]) : std::pair{0, 0};
    const auto [windowPixels, windowLines] =
        options.count("window") ? Pair(options["window"]) : std::pair{150, 100};
    const auto [columns, rows] = options.count("tiles") ? Pair(options["tiles"]) : std::pair{3, 3};

    TCoastLines lines(run.Cartography());
    const std::vector<TCoastSample> shore =
        lines.SamplesOnImage(pass.Mapping, pass.Channel.Width(), pass.Channel.Height(),
                             std::max(windowPixels, windowLines) + 8);
    const std::vector<char>& lost = pass.LostLines;
    TAlignmentOptions wide;
    wide.SearchPixels = windowPixels;
    wide.SearchLines = windowLines;
    const TAlignment all = AlignToCoasts(pass.Channel, shore, startLine, startPixel, wide, lost);
    std::printf("whole picture: line %+.1f pixel %+.1f  confidence %.1f (ratios %.2f, %.2f, "
                "%.2f) support %d/%d  %s%s\n",
                all.LineOffset, all.PixelOffset, all.Confidence, all.PeakRatio, all.PixelRatio,
                all.LineRatio, all.Support, all.ShorePoints,
                all.Confident ? "confident" : all.Doubt.c_str(),
                all.PixelOnly  ? " (pixels only)"
                : all.LineOnly ? " (lines only)"
                               : "");
    for (const auto& [what, line, pixel] :
         {std::tuple{"at the run's default offsets", pass.LineOffset, pass.PixelOffset},
          std::tuple{"at the offsets found", static_cast<int>(std::lround(all.LineOffset)),
                     static_cast<int>(std::lround(all.PixelOffset))}}) {
        const TCoastDistance d = CoastDistance(pass.Channel, shore, lost, line, pixel);
        std::printf("coast distance %s (line %d pixel %d): median %.1f px, 90%% within %.1f px "
                    "(%zu shore points on a clear coast)\n",
                    what, line, pixel, d.Median, d.P90, d.Points);
    }

    // Tile by tile, around the whole picture's answer.
    TAlignmentOptions local;
    local.SearchPixels = 40;
    local.SearchLines = 40;
    local.MinSupport = 60;
    const int w = pass.Channel.Width(), h = pass.Channel.Height();
    std::printf("tile  columns      lines        line   pixel  conf  (px  lines) support\n");
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const int x0 = c * w / columns, x1 = (c + 1) * w / columns;
            const int y0 = r * h / rows, y1 = (r + 1) * h / rows;
            std::vector<TCoastSample> part;
            for (const TCoastSample& s : shore) {
                if (s.X >= x0 && s.X < x1 && s.Y >= y0 && s.Y < y1) {
                    part.push_back(s);
                }
            }
            const TAlignment a =
                AlignToCoasts(pass.Channel, part, static_cast<int>(std::lround(all.LineOffset)),
                              static_cast<int>(std::lround(all.PixelOffset)), local, lost);
            std::printf(
                "%d,%d  %4d-%-4d  %5d-%-5d  %+6.1f  %+6.1f  %5.1f %5.1f %5.1f  %5d/%-5zu %s\n", c,
                r, x0, x1, y0, y1, a.LineOffset, a.PixelOffset, a.Confidence, a.PixelRatio,
                a.LineRatio, a.Support, part.size(),
                a.Confident ? (a.PixelOnly  ? "pixels only"
                               : a.LineOnly ? "lines only"
                                            : "")
                            : "(not confident)");
        }
    }
    return 0;
}
