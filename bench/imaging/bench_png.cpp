// PNG costs on a picture of the usual display size (1568 x 5000, RGB): writing at the
// default deflate level 3 and at 6, reading it back, and the copy into a bitmap.
// Release build with g++ 12 on the 2-core development machine (loaded): writing 650 ms at
// level 3 (10.2 MB) and 2.3 s at level 6 (11.2 MB: on noisy rows the deeper search pays
// nothing with the none/sub/up filter mask), reading 116 ms, copying 8 ms.
#include "Baseline.h"

#include "imaging/zorPNGImage.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace vantorel;

constexpr int kWidth = 1568;
constexpr int kHeight = 5000;

// A noisy, smooth picture: about as compressible as a satellite image.
TPngImage Picture() {
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 12.0);
    std::size_t i = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double v = 90.0 + 60.0 * ((x + y / 3) % 400) / 400.0 + noise(random);
            const auto level = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            rows[i++] = level;
            rows[i++] = level;
            rows[i++] = static_cast<std::uint8_t>(level / 2);
        }
    }
    TPngImage image;
    image.SetPixels(kWidth, kHeight, 2, 8, std::move(rows));
    return image;
}

std::string Encoded(TPngImage& image) {
    std::ostringstream out;
    image.WriteStream(out);
    return std::move(out).str();
}

void BM_WritePng(benchmark::State& state) {
    TPngImage image = Picture();
    image.CompressionLevel = static_cast<int>(state.range(0));
    std::size_t size = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        size = Encoded(image).size();
        benchmark::DoNotOptimize(size);
    }
    state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_WritePng)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_ReadPng(benchmark::State& state) {
    TPngImage source = Picture();
    const std::string bytes = Encoded(source);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        std::istringstream in(bytes);
        TPngImage image;
        image.ReadStream(in);
        benchmark::DoNotOptimize(image.RowBytes());
    }
}
BENCHMARK(BM_ReadPng)->Unit(benchmark::kMillisecond);

void BM_CopyPngToBitmap(benchmark::State& state) {
    const TPngImage image = Picture();
    TBitmap bitmap;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        image.CopyToBitmap(bitmap, 0, 0);
        benchmark::DoNotOptimize(bitmap.Bits().data());
    }
}
BENCHMARK(BM_CopyPngToBitmap)->Unit(benchmark::kMillisecond);

} // namespace
