// A whole processing run of a 1568 x 5000 channel image, and the redraw every arrow key
// causes. The image is the sample pass lengthened to 5000 lines.
#include "app/ProcessingRun.h"

#include "common/Clock.h"
#include "common/Program.h"
#include "imaging/Canvas.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace vantorel {
namespace {

const std::string kSource = VANTOREL_SOURCE_DIR;

struct Bench {
    std::string folder;
    std::string image;
    RecordingNotifier notifier;
    FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};

    Bench() {
        EnsureGuiApplication();
        folder = (std::filesystem::temp_directory_path() / "vantorel-bench-run").string() + "/";
        std::filesystem::create_directories(folder);
        for (const char* data : {"Countries.dat", "Stations.dat"}) {
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
    run.Start(kSource + "/samples/keps/", "0");
    for (auto _ : state) {
        run.Diags().Clear();
        benchmark::DoNotOptimize(run.ProcessFile(b.image));
    }
}
BENCHMARK(BM_ProcessFile5000Lines)->Unit(benchmark::kMillisecond);

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

} // namespace
} // namespace vantorel
