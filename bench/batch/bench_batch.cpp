// A station's folder of 16 passes (copies of the sample, each with its .STAT files)
// processed as one batch on 1 and on 2 threads, with the program's full boundary data and
// without the alignment. Each iteration writes every picture again. The batch reads the
// program's data once for all its jobs; the yardstick beside it is the same jobs each
// reading the data for itself, as every job once did.
#include "batch/Batch.h"
#include "batch/JobPool.h"

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

// In memory where there is such a file system: the pictures' fsync would time the disk.
fs::path StationFolder() {
    const fs::path memory = "/dev/shm";
    return (fs::is_directory(memory) ? memory : fs::temp_directory_path()) / "vantorel-bench-batch";
}

struct Station {
    fs::path folder = StationFolder();
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

TBatchOptions Options(int jobs) {
    TBatchOptions options;
    options.Setup.Keplers = kSource + "/samples/keps";
    options.Setup.Satellite = *FindMeteorSatellite("40069");
    options.Setup.Align = false;
    options.Overwrite = true;
    options.Jobs = jobs;
    return options;
}

// Each job's "start" (its element sets, calibration and account), as the report times it.
void ReportStart(benchmark::State& state, const std::vector<TPassRecord>& records) {
    double ms = 0.0;
    for (const TPassRecord& r : records) {
        ms += r.Facts["timings_ms"]["start"].get<double>();
    }
    state.counters["start_ms"] = ms / static_cast<double>(records.size());
}

// The batch (range 1: 1), or its jobs on a pool of their own, each reading the data (0).
std::vector<TPassRecord> Sixteen(const Station& station, const TBatchOptions& options, bool batch) {
    std::ostringstream out;
    std::ostringstream err;
    if (batch) {
        return RunBatch(station.inputs, options, out, err);
    }
    std::vector<TPassRecord> records;
    const std::vector<TJob> jobs = PlanJobs(station.inputs, options, records);
    TJobPool pool(options.Jobs, [&options](const TJob& job) { return ProcessJob(job, options); });
    for (const TJob& job : jobs) {
        pool.Submit(job);
    }
    while (pool.Outstanding() > 0) {
        for (TJobResult& result : pool.TakeFinished(std::chrono::milliseconds(50))) {
            records[result.Id] = std::move(result.Record);
        }
    }
    return records;
}

void BM_BatchOfSixteenPasses(benchmark::State& state) {
    EnsureGuiApplication();
    static Station station;
    FixedClock utc(EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0);
    ScopedClock clock(utc);
    const TBatchOptions options = Options(static_cast<int>(state.range(0)));
    std::vector<TPassRecord> records;
    for (auto _ : state) {
        records = Sixteen(station, options, state.range(1) != 0);
        if (CountStatuses(records).Done != kPasses) {
            state.SkipWithError("not every pass was done");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kPasses);
    ReportStart(state, records);
}
BENCHMARK(BM_BatchOfSixteenPasses)
    ->ArgNames({"jobs", "data_once"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime() // the workers' time too: real over CPU tells the threads' use
    ->UseRealTime();

} // namespace
} // namespace vantorel
