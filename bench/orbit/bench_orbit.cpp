// The calls a processing run makes thousands of times per pass: one propagation of an
// initialised set (near earth and deep space), one geodetic conversion, and the scan line
// of one image line (one propagation and 52 geodetic conversions), alone and as a pass.
#include "Baseline.h"

#include "orbit/Orbits.h"
#include "orbit/SGP_Time.h"
#include "orbit/Satellite.h"
#include "orbit/Support.h"

#include <benchmark/benchmark.h>

#include <string>

namespace vantorel {
namespace {

const char* const kMeteorLine1 =
    "1 40069U 14037A   24244.58341547  .00000495  00000-0  24728-3 0  9991";
const char* const kMeteorLine2 =
    "2 40069  98.4425 235.4727 0006641 131.1049 229.0703 14.21039520526338";

void PropagateEvery(benchmark::State& state, const char* line1, const char* line2) {
    TSatellite s;
    s.ParseElements(line1, line2);
    TVector p, v;
    s.PropagateMinutes(0.0, p, v); // initialisation outside the timing
    // Times advance as along a pass: 0.15 s per call.
    double t = 0.0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        s.PropagateMinutes(t, p, v);
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(v);
        t += 0.0025;
    }
}

void BM_PropagateNearEarth(benchmark::State& state) {
    PropagateEvery(state, kMeteorLine1, kMeteorLine2);
}
BENCHMARK(BM_PropagateNearEarth);

void BM_PropagateDeepSpaceMolniya(benchmark::State& state) {
    PropagateEvery(state, "1 08195U 75081A   06176.33215444  .00000099  00000-0  11873-3 0   813",
                   "2 08195  64.1586 279.0717 6877146 264.7651  20.2257  2.00491383225656");
}
BENCHMARK(BM_PropagateDeepSpaceMolniya);

void BM_PropagateDeepSpaceReport11801(benchmark::State& state) {
    PropagateEvery(state, "1 11801U          80230.29629788  .01431103  00000-0  14311-1      13",
                   "2 11801  46.7916 230.4354 7318036  47.4722  10.4117  2.28537848    13");
}
BENCHMARK(BM_PropagateDeepSpaceReport11801);

void BM_GeodeticPosition(benchmark::State& state) {
    TSatellite s;
    s.ParseElements(kMeteorLine1, kMeteorLine2);
    TVector p, v;
    s.PropagateMinutes(30.0, p, v);
    StateToKilometres(p, v);
    double jd = s.EpochJD;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GeodeticPosition(jd, p));
        jd += 1e-6;
    }
}
BENCHMARK(BM_GeodeticPosition);

void BM_ParseAndInitialise(benchmark::State& state) {
    TVector p, v;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        TSatellite s;
        s.ParseElements(kMeteorLine1, kMeteorLine2);
        s.PropagateMinutes(0.0, p, v);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_ParseAndInitialise);

/// A Meteor orbit with the set above in place, initialised.
void UseMeteorSet(TOrbit& orbit) {
    orbit.SetSatellite("METEOR-M2");
    orbit.Elements = std::make_unique<TSatellite>();
    orbit.Elements->ParseElements(kMeteorLine1, kMeteorLine2);
    orbit.Valid = true;
}

constexpr double kLinePeriodDays = 0.1538925 / 86400.0;

void BM_LocateScanLine(benchmark::State& state) {
    TOrbit orbit;
    UseMeteorSet(orbit);
    TScanLine line;
    TDateTime t = EpochToDateTime(orbit.Elements->Epoch) + 0.01;
    orbit.LocateScanLine(t, line);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        orbit.LocateScanLine(t, line);
        benchmark::DoNotOptimize(line);
        t += kLinePeriodDays;
    }
}
BENCHMARK(BM_LocateScanLine);

// The 5000 lines of a long pass, as the processing run asks for them.
void BM_LocateScanLinePassOf5000(benchmark::State& state) {
    TOrbit orbit;
    UseMeteorSet(orbit);
    TScanLine line;
    const TDateTime start = EpochToDateTime(orbit.Elements->Epoch) + 0.01;
    const TScanAngles angles = orbit.GridScanAngles();
    orbit.LocateScanLine(start, line);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        for (int i = 0; i < 5000; ++i) {
            orbit.LocateScanLine(start + i * kLinePeriodDays, angles, line);
            benchmark::DoNotOptimize(line);
        }
    }
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_LocateScanLinePassOf5000)->Unit(benchmark::kMillisecond);

// An element file of N distinct satellites, their names out of order as in the files
// stations fetch, read into the list; the Meteor's set looked up in it. Time per set should
// not grow with N.
void BM_LoadSatelliteList(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::string text;
    for (int i = 0; i < count; ++i) {
        const int n = (i * 7919) % count + 1; // a permutation: names in no order
        std::string number = std::to_string(n);
        number.insert(0, 5 - number.size(), '0');
        std::string line1 = kMeteorLine1;
        std::string line2 = kMeteorLine2;
        line1.replace(2, 5, number);
        line2.replace(2, 5, number);
        text += "OBJECT " + number + "\n" + line1 + "\n" + line2 + "\n";
    }
    for (auto _ : state) {
        TSatelliteList list;
        list.LoadFromText(text, "many.txt");
        benchmark::DoNotOptimize(list.SatelliteAt(list.IndexOfCatalogueNumber("00001")));
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_LoadSatelliteList)->Arg(10000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantorel
