// The times of a product's picture that the product does not list, found by laying its
// channels together: three channels of N groups each, one group in 50 lost. Time per group
// should not grow with N (a product.cbor of 4 MB holds some 400,000 times).
#include "pass/inputs/SatDumpProduct.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <limits>

namespace vantorel {
namespace {

void BM_UnlistedPictureTimes(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    TSatDumpProduct product;
    for (const char* channel : {"1", "2", "3"}) {
        TSatDumpImage image;
        image.File = std::string("MSU-MR-") + channel + ".png";
        image.Channel = channel;
        image.LinesPerTimestamp = 8;
        for (int g = 0; g < groups; ++g) {
            image.Timestamps.push_back(g % 50 == 7 ? std::numeric_limits<double>::quiet_NaN()
                                                   : 1.6e9 + 1.231 * g);
        }
        product.Images.push_back(std::move(image));
    }
    // No channel alone has the picture's lines: all three are laid together.
    const int lines = 8 * groups + 8;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SatDumpPictureTimes(product, "msu_mr_rgb_321.png", lines));
    }
    state.SetItemsProcessed(state.iterations() * groups);
}
BENCHMARK(BM_UnlistedPictureTimes)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(130000)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantorel
