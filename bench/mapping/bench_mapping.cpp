// The projection runs for every boundary vertex on every redraw; the fit once per image.
#include "mapping/FitMap.h"

#include "Baseline.h"
#include "SyntheticPass.h"

#include <benchmark/benchmark.h>

namespace vantorel {
namespace {

struct FittedPass {
    LocationGrid grid;
    TWarpedMapping mapping;

    explicit FittedPass(int lines) : grid(testing::ScannerModel{}.Grid(lines)) {
        FitMapToImage(grid, {lines, 830.0f, 55.37f, 5}, mapping);
    }
};

void BM_LatLonToImage(benchmark::State& state) {
    static const FittedPass pass(5000);
    // Points spread over the swath and beyond it, as boundary vertices are.
    std::vector<GeoPoint> points;
    for (int l = 0; l < 5000; l += 97) {
        for (int j = 0; j < kGridColumns; j += 3) {
            GeoPoint p = pass.grid[static_cast<size_t>(l)][static_cast<size_t>(j)];
            p.lon += 0.37f * static_cast<float>(j % 5);
            points.push_back(p);
        }
    }
    size_t i = 0;
    int inside = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        int x = 0, y = 0;
        const GeoPoint& p = points[i];
        inside += pass.mapping.LatLonToImage(x, y, p.lon, p.lat) ? 1 : 0;
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
        i = (i + 1 == points.size()) ? 0 : i + 1;
    }
    benchmark::DoNotOptimize(inside);
}
BENCHMARK(BM_LatLonToImage);

// The same points a segment at a time, as boundaries are drawn; the time is per point.
void BM_LatLonToImageMany(benchmark::State& state) {
    static const FittedPass pass(5000);
    std::vector<TLonLat> points;
    for (int l = 0; l < 5000; l += 97) {
        for (int j = 0; j < kGridColumns; j += 3) {
            const GeoPoint& p = pass.grid[static_cast<size_t>(l)][static_cast<size_t>(j)];
            points.push_back({p.lon + 0.37f * static_cast<float>(j % 5), p.lat});
        }
    }
    std::vector<TProjectedPixel> out(points.size());
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        pass.mapping.LatLonToImage(points, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(points.size()));
    state.counters["ns_per_point"] = benchmark::Counter(
        static_cast<double>(points.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LatLonToImageMany);

void BM_InitialiseForPass(benchmark::State& state) {
    TWarpedMapping m;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        m.InitialiseForPass(5, 2500, 20.0f, 50.0f, 830.0f, 1.1f, 55.37f);
        benchmark::DoNotOptimize(m.GetMapHeight());
    }
}
BENCHMARK(BM_InitialiseForPass)->Unit(benchmark::kMicrosecond);

void BM_FitMapToImage5000Lines(benchmark::State& state) {
    const LocationGrid grid = testing::ScannerModel{}.Grid(5000);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        TWarpedMapping m;
        benchmark::DoNotOptimize(FitMapToImage(grid, {5000, 830.0f, 55.37f, 5}, m).fitted);
    }
}
BENCHMARK(BM_FitMapToImage5000Lines)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantorel
