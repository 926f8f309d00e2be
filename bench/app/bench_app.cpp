// A whole processing run of a 1568 x 5000 channel image, the redraw every arrow key
// causes, and in the window the time from a key press to the repainted picture. The
// image is the sample pass lengthened to 5000 lines.
#include "app/ProcessingRun.h"
#include "app/VantorelForm.h"

#include "common/Clock.h"
#include "common/Program.h"
#include "export/GeoTiff.h"
#include "pass/PassPipeline.h"
#include "imaging/Canvas.h"
#include "settings/RegistryVariables.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <utility>
#include <vector>

namespace vantorel {
namespace {

const std::string kSource = VANTOREL_SOURCE_DIR;

struct Bench {
    std::string folder;
    std::string image;
    RecordingNotifier notifier;
    FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};

    Bench() {
        // The window needs the widgets' application; text drawing is content with it.
        if (QCoreApplication::instance() == nullptr) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
            }
            static int argc = 1;
            static char name[] = "vantorel";
            static char* argv[] = {name, nullptr};
            // Kept to the end of the process: static caches of fonts outlive statics.
            new QApplication(argc, argv);
        }
        EnsureGuiApplication();
        folder = (std::filesystem::temp_directory_path() / "vantorel-bench-run").string() + "/";
        std::filesystem::create_directories(folder);
        for (const char* data : {"Countries.dat", "Boundaries.b", "Stations.dat"}) {
            std::filesystem::copy_file(kSource + "/data/" + data, folder + data,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        SetExecutablePath(folder + "vantorel");
        TExtBitmap sample;
        sample.LoadFromFile(kSource + "/samples/2020_09_27_08_00_58_64.bmp");
        TExtBitmap longer(sample);
        longer.SetHeight(5000);
        for (int y = 4000; y < 5000; ++y) {
            std::copy_n(sample.ScanLine(y - 1000), sample.Stride(), longer.ScanLine(y));
        }
        image = folder + "2020_09_27_08_00_58_64.bmp";
        longer.SaveToFile(image);
        std::filesystem::copy_file(kSource + "/samples/2020_09_27_08_00_58_64.stat",
                                   folder + "2020_09_27_08_00_58_64.stat",
                                   std::filesystem::copy_options::overwrite_existing);
    }
};

Bench& TheBench() {
    static Bench bench;
    return bench;
}

void BM_ProcessFile5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    ScopedClock scoped(b.clock);
    TProcessingRun run(b.notifier);
    run.AlignAutomatically = false; // measured on its own
    run.Start(kSource + "/samples/keps/", "0");
    for (auto _ : state) {
        run.Diags().Clear();
        benchmark::DoNotOptimize(run.ProcessFile(b.image));
    }
}
BENCHMARK(BM_ProcessFile5000Lines)->Unit(benchmark::kMillisecond);

// The 5000-line pass processed, not aligned, for what follows a run.
struct ProcessedRun {
    Bench& b = TheBench();
    ScopedClock scoped{b.clock};
    TProcessingRun run{b.notifier};

    ProcessedRun() {
        run.AlignAutomatically = false;
        run.Start(kSource + "/samples/keps/", "0");
        run.ProcessFile(b.image);
    }
};

// Automatic alignment after a run: the shore points placed on the picture, and the search.
void BM_AlignToCoasts5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    TProcessingRun& run = processed.run;
    for (auto _ : state) {
        run.SetOffsets(10, -20);
        benchmark::DoNotOptimize(run.AlignToCoasts(false));
    }
}
BENCHMARK(BM_AlignToCoasts5000Lines)->Unit(benchmark::kMillisecond);

// The pass resampled to a longitude/latitude grid of about 1 km, overlay drawn in map
// space; and the whole export, written as a DEFLATE GeoTIFF with its world file.
void BM_ProjectPicture5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    const TPassResult& pass = *processed.run.Pass();
    TProjectionInput in;
    in.Channel = &pass.Channel;
    in.Mapping = &pass.Mapping;
    in.Grid = &pass.GroundTable;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProjectPicture(in));
    }
}
BENCHMARK(BM_ProjectPicture5000Lines)->Unit(benchmark::kMillisecond);

void BM_SaveProjectedGeoTiff5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    const std::string name = processed.b.folder + "projected.tif";
    for (auto _ : state) {
        benchmark::DoNotOptimize(processed.run.SaveProjectedPicture(name, "", 0.0));
    }
}
BENCHMARK(BM_SaveProjectedGeoTiff5000Lines)->Unit(benchmark::kMillisecond);

void BM_RedrawOverlay5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    ScopedClock scoped(b.clock);
    TProcessingRun run(b.notifier);
    run.Start(kSource + "/samples/keps/", "0");
    run.ProcessFile(b.image);
    for (auto _ : state) {
        run.ArrowKey(TArrowKey::Right, false);
    }
}
BENCHMARK(BM_RedrawOverlay5000Lines)->Unit(benchmark::kMillisecond);

// The status bar readout, on every mouse move: the look-up alone between the outer samples
// (range 0) and beyond them (range 1), and the whole readout text beyond them. The offsets
// are 0, so picture columns are image columns.
std::vector<std::pair<int, int>> ReadoutPositions(bool edges) {
    std::vector<std::pair<int, int>> at;
    for (int y = 0; y < 5000; y += 37) {
        if (edges) {
            for (int x = 0; x < 21; x += 4) {
                at.emplace_back(x, y);
                at.emplace_back(1567 - 2 * x, y);
            }
        } else {
            for (int x = 21; x <= 1521; x += 131) {
                at.emplace_back(x, y);
            }
        }
    }
    return at;
}

void BM_LookUpLonLat(benchmark::State& state) {
    ProcessedRun processed;
    const TProcessingRun& run = processed.run;
    const auto at = ReadoutPositions(state.range(0) != 0);
    size_t i = 0;
    for (auto _ : state) {
        float lon = 0.0f, lat = 0.0f;
        benchmark::DoNotOptimize(run.LookUpLonLat(at[i].first, at[i].second, lon, lat));
        benchmark::DoNotOptimize(lon);
        benchmark::DoNotOptimize(lat);
        i = (i + 1 == at.size()) ? 0 : i + 1;
    }
}
BENCHMARK(BM_LookUpLonLat)->ArgName("edges")->Arg(0)->Arg(1);

void BM_ReadoutAtTheEdges(benchmark::State& state) {
    ProcessedRun processed;
    TProcessingRun& run = processed.run;
    run.SetOffsets(0, 0);
    const auto at = ReadoutPositions(true);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(run.Readout(at[i].first, at[i].second));
        i = (i + 1 == at.size()) ? 0 : i + 1;
    }
}
BENCHMARK(BM_ReadoutAtTheEdges);

// In the window, shown at its start size and scrolled to the middle of the pass at 1:1
// (argument 0), or the whole pass fitted to the window with the grid (argument 1): a right
// arrow key press, then the event loop until the picture has been painted again.
void BM_WindowKeyToRepaint5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    ScopedClock scoped(b.clock);
    qputenv("VANTOREL_REGISTRY_DIR", QByteArray::fromStdString(b.folder));
    ResetRegistrySettings();
    { TRegistryString keplers(kKeplerPathValue, kSource + "/samples/keps/"); }
    TFormVantorelTest form({}, &b.notifier);
    form.resize(1000, 760);
    form.show();
    form.ProcessFile(b.image);
    if (form.Run().DisplayBitmap().Height() != 5000) {
        state.SkipWithError("the pass was not processed");
        return;
    }
    form.showNormal();
    if (state.range(0) == 0) {
        form.ZoomActualSize();
    } else {
        form.ZoomToFit();
        form.GraticuleClick(true);
    }
    QScrollBar* bar = form.ScrollBoxForImage()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    for (auto _ : state) {
        const int painted = form.ImageDisplay()->PaintCount();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(&form, &press);
        while (form.ImageDisplay()->PaintCount() == painted) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    qunsetenv("VANTOREL_REGISTRY_DIR");
}
BENCHMARK(BM_WindowKeyToRepaint5000Lines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantorel
