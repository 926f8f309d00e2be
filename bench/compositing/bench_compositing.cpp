// Laying three channels of the usual size (1568 x 5000) together by their line times, as
// a product's channels come: each starting a few hundred lines from the others, one with
// a dropout, its clock a fraction of a line off, and each with a lost segment.
#include "compositing/ColourComposite.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace vantorel;

constexpr int kWidth = 1568;
constexpr int kHeight = 5000;
constexpr double kPeriod = 0.1538 / 86400.0; // days
constexpr double kStart = 46061.7;

struct Channel {
    TBitmap Picture;
    std::vector<TDateTime> Times;
    std::vector<std::uint8_t> Lost;
};

Channel MakeChannel(int firstLine, double jitter, int lostFrom, int lostTo, unsigned seed) {
    Channel c;
    c.Picture.SetPixelFormat(TPixelFormat::pf8bit);
    c.Picture.SetSize(kWidth, kHeight);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> level(0, 255);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = c.Picture.ScanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            row[x] = static_cast<std::uint8_t>(level(random) | 1);
        }
        const bool lost = y >= lostFrom && y < lostTo;
        c.Times.push_back(lost ? std::numeric_limits<double>::quiet_NaN()
                               : kStart + (firstLine + y + jitter) * kPeriod);
    }
    std::fill_n(c.Picture.ScanLine(kHeight / 3) + 224, 112, std::uint8_t{0}); // a lost segment
    c.Lost = LostPixels(c.Picture);
    return c;
}

void BM_ComposeByTime(benchmark::State& state) {
    const Channel red = MakeChannel(0, 0.0, -1, -1, 1);
    const Channel green = MakeChannel(160, 0.1, 2000, 2080, 2);
    const Channel blue = MakeChannel(80, -0.1, -1, -1, 3);
    for (auto _ : state) {
        TTimedComposite c = ComposeByTime({TTimedChannel{&red.Picture, red.Times, red.Lost},
                                           TTimedChannel{&green.Picture, green.Times, green.Lost},
                                           TTimedChannel{&blue.Picture, blue.Times, blue.Lost}},
                                          kPeriod);
        benchmark::DoNotOptimize(c.Picture.ScanLine(0));
    }
}
BENCHMARK(BM_ComposeByTime)->Unit(benchmark::kMillisecond);

} // namespace
