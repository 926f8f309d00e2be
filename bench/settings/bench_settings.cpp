// Loading and saving registry files: the window's settings are read at start and each
// one is saved as its own locked transaction at exit, so a large user file (one shared
// with the vendor's other products) is read several times in a row.
#include "Baseline.h"

#include "settings/Registry.h"
#include "settings/RegistryFile.h"
#include "settings/RegistryVariables.h"
#include "settings/SettingsSandbox.h"

#include "common/Format.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vantorel {
namespace {

// A user file of `keys` keys with 20 values each: texts, numbers and wrapped hex.
std::string RealisticFile(int keys) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int k = 0; k < keys; ++k) {
        text += Format("[HKEY_CURRENT_USER\\Software\\Corvane\\Product%d]\r\n", k);
        for (int v = 0; v < 8; ++v) {
            text += Format(
                "\"Path%d\"=\"C:\\\\Program Files\\\\Corvane\\\\Product%d\\\\Data%d\\\\\"\r\n", v,
                k, v);
        }
        for (int v = 0; v < 10; ++v) {
            text += Format("\"Setting%d\"=dword:%08x\r\n", v, k * 100 + v);
        }
        text += "\"Window\"=hex:2c,00,00,00,00,00,00,00,01,00,00,00,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,"
                "\\\r\n"
                "  ff,ff,ff,ff,d8,00,00,00,67,00,00,00,58,04,00,00,d3,02,00,00\r\n";
        text += "@=\"default\"\r\n\r\n";
    }
    return text;
}

void BM_ParseRegistryFile(benchmark::State& state) {
    const std::string bytes = RealisticFile(static_cast<int>(state.range(0)));
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TRegistryFile::Parse(bytes, RegistryRoot::CurrentUser));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseRegistryFile)->Arg(5)->Arg(50);

void BM_ChangeAndSerialise(benchmark::State& state) {
    const std::string bytes = RealisticFile(static_cast<int>(state.range(0)));
    const TRegistryFile file = TRegistryFile::Parse(bytes, RegistryRoot::CurrentUser);
    std::int32_t i = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        TRegistryFile copy = file;
        copy.SetValue("\\Software\\Corvane\\vantorel", "LineThickness", RegistryValue::Dword(++i));
        benchmark::DoNotOptimize(copy.Bytes());
    }
}
BENCHMARK(BM_ChangeAndSerialise)->Arg(5)->Arg(50);

// One saved variable end to end: read, lock, read again, write a temporary file,
// fsync, rename. Disk-bound; the figure depends on the file system.
void BM_SaveVariable(benchmark::State& state) {
    const TSettingsSandbox settings;
    const std::string folder = settings.Folder();
    std::ofstream(folder + "HKEY_CURRENT_USER.reg", std::ios::binary)
        << RealisticFile(static_cast<int>(state.range(0)));
    {
        // Destroyed (and so saved once more) while the temporary folder is in use.
        TRegistryInteger thickness("LineThickness", 1);
        std::int32_t i = 0;
        bench::TBaselineRatio ratio(state);
        for (auto _ : state) {
            thickness.SetValue(++i);
            benchmark::DoNotOptimize(thickness.Save());
        }
    }
}
BENCHMARK(BM_SaveVariable)->Arg(5)->Arg(50)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace vantorel
