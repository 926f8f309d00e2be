// Text helpers on the paths every run and every redraw take.
#include "Baseline.h"

#include "pass/inputs/StatTiming.h"
#include "common/Format.h"
#include "common/StringUtils.h"

#include <benchmark/benchmark.h>

namespace vantorel {
namespace {

void BM_FormatDateTime(benchmark::State& state) {
    const TDateTime t = EncodeDateTime(2017, 3, 15, 8, 12, 34);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            FormatDateTime("\"Pass start from file name: \"yyyy-mm-dd hh:nn:ss \"UTC\"", t));
    }
}
BENCHMARK(BM_FormatDateTime);

void BM_FormatLine(benchmark::State& state) {
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Format("%d .STAT file(s) found, line period is %.7f seconds", 3, 0.1538925));
    }
}
BENCHMARK(BM_FormatLine);

void BM_SplitStationLine(benchmark::State& state) {
    const std::string line = "51.4769,-0.0005,\"Greenwich, London\",4,\"Royal Observatory\"";
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SplitDelimited(line, ','));
    }
}
BENCHMARK(BM_SplitStationLine);

void BM_PassStartGrammar(benchmark::State& state) {
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(LocalStartFromFileName("2017_03_15_LRPT_08-12-34.s_68.bmp"));
    }
}
BENCHMARK(BM_PassStartGrammar);

void BM_DecodeDateTime(benchmark::State& state) {
    TDateTime t = 42809.3;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeDateTime(t));
        t += 1.0e-3;
    }
}
BENCHMARK(BM_DecodeDateTime);

} // namespace
} // namespace vantorel
