// A station's folder of 16 passes (copies of the sample, each with its .STAT files)
// processed as one batch on 1 and on 2 threads, with the program's full boundary data and
// without the alignment. Each iteration writes every picture again.
#include "batch/Batch.h"

#include "common/Clock.h"
#include "common/DateTime.h"
#include "common/Program.h"
#include "imaging/Canvas.h"
#include "orbit/MeteorSeries.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

namespace vantorel {
namespace {

namespace fs = std::filesystem;
const std::string kSource = VANTOREL_SOURCE_DIR;
constexpr int kPasses = 16;

struct Station {
    fs::path folder = fs::temp_directory_path() / "vantorel-bench-batch";
    std::vector<TBatchInput> inputs;

    Station() {
        fs::remove_all(folder);
        fs::create_directories(folder / "program");
        for (const char* data : {"Countries.dat", "Boundaries.b", "Stations.dat", "Scanner.cal"}) {
            fs::copy_file(kSource + "/data/" + data, folder / "program" / data);
        }
        SetExecutablePath((folder / "program" / "vantorel-cli").string());
        for (int i = 0; i < kPasses; ++i) {
            const fs::path pass = folder / "passes" / std::to_string(i);
            fs::create_directories(pass);
            for (const char* name :
                 {"2020_09_27_08_00_58_64.bmp", "2020_09_27_08_00_58_64.stat",
                  "2020_09_27_08_00_58_65.stat", "2020_09_27_08_00_58_68.stat"}) {
                fs::copy_file(kSource + "/samples/" + name, pass / name);
            }
            inputs.push_back({(pass / "2020_09_27_08_00_58_64.bmp").string(), false, {}, {}});
        }
    }
    ~Station() { fs::remove_all(folder); }
};

void BM_BatchOfSixteenPasses(benchmark::State& state) {
    EnsureGuiApplication();
    static Station station;
    FixedClock utc(EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0);
    ScopedClock clock(utc);
    TBatchOptions options;
    options.Setup.Keplers = kSource + "/samples/keps";
    options.Setup.Satellite = *FindMeteorSatellite("40069");
    options.Setup.Align = false;
    options.Overwrite = true;
    options.Jobs = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::ostringstream out;
        std::ostringstream err;
        const std::vector<TPassRecord> records = RunBatch(station.inputs, options, out, err);
        if (CountStatuses(records).Done != kPasses) {
            state.SkipWithError(("not every pass was done: " + out.str()).c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kPasses);
}
BENCHMARK(BM_BatchOfSixteenPasses)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime() // the workers' time too: real over CPU tells the threads' use
    ->UseRealTime();

} // namespace
} // namespace vantorel
