// The redraw runs on every arrow key: the whole boundary file, projected through a fitted
// mapping (once per fit), drawn onto a full-size 24-bit picture.
#include "Baseline.h"

#include "cartography/zorCartography.h"

#include "alignment/CoastLines.h"
#include "alignment/ThinnedShores.h"
#include "cartography/BoundaryIndex.h"
#include "common/Program.h"

#include "RealPass.h"
#include "SyntheticPass.h"
#include "imaging/Bitmap.h"
#include "imaging/Canvas.h"
#include "mapping/FitMap.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>

namespace vantorel {
namespace {

struct Scene {
    TCartogList store;
    TWarpedMapping mapping;
    TBitmap bitmap;

    Scene() {
        testing::ScannerModel model; // southbound over Scandinavia and central Europe
        model.startLatDeg = 70.0;
        model.startLonDeg = 25.0;
        const LocationGrid grid = model.Grid(5000);
        FitMapToImage(grid, {5000, 830.0f, 55.37f, 5}, mapping);
        store.LoadBoundaryFiles(std::string(VANTOREL_SOURCE_DIR) + "/data/Countries.dat");
        store.Mapping = &mapping;
        bitmap.SetSize(1568, 5000);
        bitmap.Canvas().Pen.Color = clYellow;
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_DrawBoundaries(benchmark::State& state) {
    Scene& s = TheScene();
    s.bitmap.Canvas().Pen.Width = static_cast<int>(state.range(0));
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        s.store.DrawBoundaries(s.bitmap, -20, 10);
    }
    state.counters["segments"] = s.store.Count();
}
BENCHMARK(BM_DrawBoundaries)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// The first redraw after a fit also projects every point.
void BM_DrawBoundariesAfterAFit(benchmark::State& state) {
    Scene& s = TheScene();
    s.bitmap.Canvas().Pen.Width = 2;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        s.mapping.SetMapWidth(5000); // a new projection state, as after a fit
        s.store.DrawBoundaries(s.bitmap, -20, 10);
    }
}
BENCHMARK(BM_DrawBoundariesAfterAFit)->Unit(benchmark::kMillisecond);

// A real southbound pass over Europe (2026-08-22 04:36 UTC, 5000 lines), fitted to the grid
// the orbit code gives, as a processing run fits it; drawn from either boundary file.
const char* const kDataFiles[] = {"/data/Countries.dat", "/data/Boundaries.b"};

struct RealScene {
    TCartogList stores[2];
    TWarpedMapping mapping;
    TBitmap bitmap;

    RealScene() {
        TOrbit orbit;
        const TDateTime start = EncodeDateTime(2026, 8, 22, 4, 36, 0, 0);
        if (testing::SelectHistorySet(orbit, start)) {
            testing::FitRealPass(testing::BuildRealPassGrid(orbit, start, 5000), mapping);
        }
        for (int i = 0; i < 2; ++i) {
            stores[i].LoadBoundaryFiles(std::string(VANTOREL_SOURCE_DIR) + kDataFiles[i]);
            stores[i].Mapping = &mapping;
        }
        bitmap.SetSize(1568, 5000);
        bitmap.Canvas().Pen.Color = clYellow;
        bitmap.Canvas().Pen.Width = 2;
    }
};

RealScene& TheRealScene() {
    static RealScene scene;
    return scene;
}

// redraw 0: the first draw after the fit; 1: the first redraw after it, the overlay moved
// by a pixel, as on an arrow key; 2: the redraws after that. data 0: Countries.dat, 1:
// Boundaries.b. cull: leave out the segments off the picture before projecting and keep
// the lines' cover for redraws.
void BM_DrawBoundariesRealPass(benchmark::State& state) {
    RealScene& s = TheRealScene();
    if (!s.mapping.Fitted()) {
        state.SkipWithError("no element set or fit for the pass");
        return;
    }
    const int redraw = static_cast<int>(state.range(0));
    TCartogList& store = s.stores[state.range(1)];
    store.CullSegments = state.range(2) != 0;
    store.DrawBoundaries(s.bitmap, -20, 10);
    store.DrawBoundaries(s.bitmap, -21, 10);
    int step = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        if (redraw < 2) {
            s.mapping.SetMapWidth(5000); // a new projection state, as after a fit
        }
        if (redraw == 1) {
            state.PauseTiming();
            store.DrawBoundaries(s.bitmap, -20, 10);
            state.ResumeTiming();
        }
        store.DrawBoundaries(s.bitmap, -20 + (++step & 1), 10);
    }
    state.counters["segments"] = store.Count();
    if (store.CullSegments) {
        const TGeoExtent picture = store.PictureExtent(1568, 5000, -20, 10, 2);
        int kept = 0;
        double keptPoints = 0;
        for (int i = 0; i < store.Count(); ++i) {
            if (picture.Intersects(store.SegmentBox(i))) {
                kept += 1;
                keptPoints += store[i].Count;
            }
        }
        state.counters["kept"] = kept;
        state.counters["keptPoints"] = keptPoints;
    }
}
BENCHMARK(BM_DrawBoundariesRealPass)
    ->ArgNames({"redraw", "data", "cull"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// What an alignment asks for first in a fresh run: the shores of the segments the pass
// can show, worked out (filed: taken from the build's Boundaries.shores) and placed on its
// picture (Boundaries.b).
void BM_ShoreOfRealPass(benchmark::State& state) {
    RealScene& s = TheRealScene();
    if (!s.mapping.Fitted()) {
        state.SkipWithError("no element set or fit for the pass");
        return;
    }
    std::shared_ptr<const TThinnedShores> filed;
    if (state.range(0) != 0) {
        auto opened = TThinnedShores::Open(ProgramFolder() + kThinnedShoresFile);
        if (!opened) {
            state.SkipWithError("no Boundaries.shores beside the program");
            return;
        }
        filed = std::make_shared<const TThinnedShores>(std::move(*opened));
    }
    std::size_t samples = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        const TCoastLines coasts(s.stores[1], filed);
        samples = coasts.SamplesOnImage(s.mapping, 1568, 5000, 48).size();
        benchmark::DoNotOptimize(samples);
    }
    state.counters["samples"] = static_cast<double>(samples);
}
BENCHMARK(BM_ShoreOfRealPass)->ArgName("filed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The shores of the whole fine boundary file thinned, a record at a time as a run's coast
// lines are made; the label carries a digest of what was kept, to compare builds by.
void BM_ThinShores(benchmark::State& state) {
    static const std::vector<std::vector<std::pair<float, float>>> runs = [] {
        TCartogList store;
        store.LoadPlanned(
            TCartogList::PlanBoundaryFiles(std::string(VANTOREL_SOURCE_DIR) + "/data/Boundaries.b"),
            TPointReading::Whole);
        std::vector<std::vector<std::pair<float, float>>> all;
        for (int i = 0; i < store.Count(); ++i) {
            if (store[i].Role == TLineRole::Shore) {
                auto& run = all.emplace_back();
                for (const BoundaryPoint& p : store[i].Points) {
                    run.emplace_back(p.lon, p.lat);
                }
            }
        }
        return all;
    }();
    std::uint64_t digest = 0;
    std::size_t kept = 0;
    std::vector<std::pair<float, float>> run;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        digest = 1469598103934665603ull;
        kept = 0;
        for (const auto& r : runs) {
            run = r;
            ThinShoreRun(run);
            kept += run.size();
            for (const auto& [lon, lat] : run) {
                digest = (digest ^ std::bit_cast<std::uint32_t>(lon)) * 1099511628211ull;
                digest = (digest ^ std::bit_cast<std::uint32_t>(lat)) * 1099511628211ull;
            }
        }
    }
    state.counters["kept"] = static_cast<double>(kept);
    state.SetLabel(std::to_string(digest));
}
BENCHMARK(BM_ThinShores)->Unit(benchmark::kMillisecond);

// Start-up reads the boundary file: a run's own (the shores' points left to be read as a
// pass asks for them), or whole, as the window and the watch keep it; the fine file
// walked through or planned from the build's index of it.
void BM_LoadBoundaries(benchmark::State& state) {
    const std::string file = std::string(VANTOREL_SOURCE_DIR) + kDataFiles[state.range(0)];
    const auto index = state.range(2) != 0
                           ? TBoundaryIndex::Open(ProgramFolder() + kBoundaryIndexFile)
                           : std::nullopt;
    if (state.range(2) != 0 && !index) {
        state.SkipWithError("no Boundaries.index beside the program");
        return;
    }
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        TCartogList store;
        store.LoadPlanned(TCartogList::PlanBoundaryFiles(file, index ? &*index : nullptr),
                          state.range(1) != 0 ? TPointReading::Whole : TPointReading::AsAsked);
        benchmark::DoNotOptimize(store.Count());
    }
}
BENCHMARK(BM_LoadBoundaries)
    ->ArgNames({"data", "whole", "indexed"})
    ->Args({0, 0, 0})
    ->Args({0, 1, 0})
    ->ArgsProduct({{1}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantorel
