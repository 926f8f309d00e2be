// A whole processing run of a 1568 x 5000 channel image, the redraw every arrow key
// causes, and in the window the time from a key press to the repainted picture. The
// image is the sample pass lengthened to 5000 lines. Saving the picture is measured beside
// plain encodes of the same pixels by the libraries themselves. And what a station sees:
// vantorel-cli started afresh for the pass, from its start to its exit.
#include "Baseline.h"

#include "app/ProcessingRun.h"
#include "app/VantorelForm.h"

#include "common/Clock.h"
#include "common/Program.h"
#include "export/GeoTiff.h"
#include "export/PictureWriters.h"
#include "imaging/Canvas.h"
#include "pass/PassPipeline.h"
#include "settings/RegistryVariables.h"
#include "settings/SettingsSandbox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <jpeglib.h>
#include <png.h>

namespace vantorel {
namespace {

const std::string kSource = VANTOREL_SOURCE_DIR;

struct Bench {
    std::string folder;
    std::string image;
    std::string northbound; // the same pixels half an orbit later: the satellite climbs north
    RecordingNotifier notifier;
    FixedClock clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};

    Bench() {
        // The window needs the widgets' application; text drawing is content with it.
        if (QCoreApplication::instance() == nullptr) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
            }
            static int argc = 1;
            static char name[] = "vantorel";
            static char* argv[] = {name, nullptr};
            // Kept to the end of the process: static caches of fonts outlive statics.
            new QApplication(argc, argv);
        }
        EnsureGuiApplication();
        folder = (std::filesystem::temp_directory_path() / "vantorel-bench-run").string() + "/";
        std::filesystem::create_directories(folder);
        for (const char* data : {"Countries.dat", "Boundaries.b", "Stations.dat"}) {
            std::filesystem::copy_file(kSource + "/data/" + data, folder + data,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        SetExecutablePath(folder + "vantorel");
        TExtBitmap sample;
        sample.LoadFromFile(kSource + "/samples/2020_09_27_08_00_58_64.bmp");
        TExtBitmap longer(sample);
        longer.SetHeight(5000);
        for (int y = 4000; y < 5000; ++y) {
            std::copy_n(sample.ScanLine(y - 1000), sample.Stride(), longer.ScanLine(y));
        }
        image = folder + "2020_09_27_08_00_58_64.bmp";
        longer.SaveToFile(image);
        std::filesystem::copy_file(kSource + "/samples/2020_09_27_08_00_58_64.stat",
                                   folder + "2020_09_27_08_00_58_64.stat",
                                   std::filesystem::copy_options::overwrite_existing);
        northbound = folder + "2020_09_27_08_51_40_64.bmp";
        std::filesystem::copy_file(image, northbound,
                                   std::filesystem::copy_options::overwrite_existing);
        std::FILE* stat = std::fopen((folder + "2020_09_27_08_51_40_64.stat").c_str(), "w");
        std::fputs("11:51:40.000\n\n0.1538925\n", stat);
        std::fclose(stat);
    }
};

Bench& TheBench() {
    static Bench bench;
    return bench;
}

void BM_ProcessFile5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    ScopedClock scoped(b.clock);
    TProcessingRun run(b.notifier);
    run.Setup().Align = false; // measured on its own
    run.Start(kSource + "/samples/keps/", "0");
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        run.Diags().Clear();
        benchmark::DoNotOptimize(run.ProcessFile(b.image));
    }
}
BENCHMARK(BM_ProcessFile5000Lines)->Unit(benchmark::kMillisecond);

// The 5000-line pass processed, not aligned, for what follows a run.
struct ProcessedRun {
    Bench& b = TheBench();
    ScopedClock scoped{b.clock};
    TProcessingRun run{b.notifier};

    ProcessedRun() {
        run.Setup().Align = false;
        run.Start(kSource + "/samples/keps/", "0");
        run.ProcessFile(b.image);
    }
};

// Automatic alignment after a run: the shore points placed on the picture, and the search.
void BM_AlignToCoasts5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    TProcessingRun& run = processed.run;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        run.SetOffsets(10, -20);
        benchmark::DoNotOptimize(run.AlignToCoasts(false));
    }
}
BENCHMARK(BM_AlignToCoasts5000Lines)->Unit(benchmark::kMillisecond);

// A SatDump folder without product.cbor: the sample's 4000 lines as MSU-MR-1.png and a
// dataset.json whose time lies 200 s into the pass; the whole run, the search for the
// first line's time from the coasts included.
void BM_ProcessFolderWithoutProduct4000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    ScopedClock scoped(b.clock);
    const std::string pass = b.folder + "no-product/MSU-MR/";
    std::filesystem::create_directories(pass);
    TExtBitmap sample;
    sample.LoadFromFile(kSource + "/samples/2020_09_27_08_00_58_64.bmp");
    WritePicture(sample, pass + "MSU-MR-1.png");
    std::FILE* dataset = std::fopen((b.folder + "no-product/dataset.json").c_str(), "w");
    std::fprintf(dataset, "{\"satellite\": \"METEOR-M2\", \"timestamp\": %.3f}",
                 (EncodeDateTime(2020, 9, 27, 8, 1, 0) - 25569.0) * 86400.0 + 200.0);
    std::fclose(dataset);
    TProcessingRun run(b.notifier);
    run.Setup().Align = false;
    run.Start(kSource + "/samples/keps/", "0");
    for (auto _ : state) {
        run.Diags().Clear();
        if (!run.ProcessFile(pass)) {
            state.SkipWithError("the start was not found");
            break;
        }
    }
}
BENCHMARK(BM_ProcessFolderWithoutProduct4000Lines)->Unit(benchmark::kMillisecond);

// The pass resampled to a longitude/latitude grid of about 1 km, overlay drawn in map
// space; and the whole export, written as a DEFLATE GeoTIFF with its world file.
void BM_ProjectPicture5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    const TPassResult& pass = *processed.run.Pass();
    TProjectionInput in;
    in.Channel = &pass.Channel;
    in.Mapping = &pass.Mapping;
    in.Grid = &pass.GroundTable;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProjectPicture(in));
    }
}
BENCHMARK(BM_ProjectPicture5000Lines)->Unit(benchmark::kMillisecond);

void BM_SaveProjectedGeoTiff5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    const std::string name = processed.b.folder + "projected.tif";
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(processed.run.SaveProjectedPicture(name, "", 0.0));
    }
}
BENCHMARK(BM_SaveProjectedGeoTiff5000Lines)->Unit(benchmark::kMillisecond);

void BM_RedrawOverlay5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    ScopedClock scoped(b.clock);
    TProcessingRun run(b.notifier);
    run.Start(kSource + "/samples/keps/", "0");
    run.ProcessFile(state.range(0) == 0 ? b.image : b.northbound);
    // Eight steps right, eight back: the overlay stays where the user nudges it.
    int step = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        run.ArrowKey((step++ / 8) % 2 == 0 ? TArrowKey::Right : TArrowKey::Left, false);
    }
    state.SetLabel(state.range(0) == 0 ? "southbound" : "northbound (turned)");
}
BENCHMARK(BM_RedrawOverlay5000Lines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The status bar readout, on every mouse move: the look-up alone between the outer samples
// (range 0) and beyond them (range 1), and the whole readout text beyond them. The offsets
// are 0, so picture columns are image columns.
std::vector<std::pair<int, int>> ReadoutPositions(bool edges) {
    std::vector<std::pair<int, int>> at;
    for (int y = 0; y < 5000; y += 37) {
        if (edges) {
            for (int x = 0; x < 21; x += 4) {
                at.emplace_back(x, y);
                at.emplace_back(1567 - 2 * x, y);
            }
        } else {
            for (int x = 21; x <= 1521; x += 131) {
                at.emplace_back(x, y);
            }
        }
    }
    return at;
}

void BM_LookUpLonLat(benchmark::State& state) {
    ProcessedRun processed;
    const TProcessingRun& run = processed.run;
    const auto at = ReadoutPositions(state.range(0) != 0);
    size_t i = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        float lon = 0.0f, lat = 0.0f;
        benchmark::DoNotOptimize(run.LookUpLonLat(at[i].first, at[i].second, lon, lat));
        benchmark::DoNotOptimize(lon);
        benchmark::DoNotOptimize(lat);
        i = (i + 1 == at.size()) ? 0 : i + 1;
    }
}
BENCHMARK(BM_LookUpLonLat)->ArgName("edges")->Arg(0)->Arg(1);

void BM_ReadoutAtTheEdges(benchmark::State& state) {
    ProcessedRun processed;
    TProcessingRun& run = processed.run;
    run.SetOffsets(0, 0);
    const auto at = ReadoutPositions(true);
    size_t i = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(run.Readout(at[i].first, at[i].second));
        i = (i + 1 == at.size()) ? 0 : i + 1;
    }
}
BENCHMARK(BM_ReadoutAtTheEdges);

// In the window, shown at its start size and scrolled to the middle of the pass at 1:1
// (argument 0), or the whole pass fitted to the window with the grid (argument 1): an
// arrow key press (eight right, eight left), then the event loop until the picture has
// been painted again.
void BM_WindowKeyToRepaint5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    ScopedClock scoped(b.clock);
    const TSettingsSandbox settings; // outlives the window, which saves its controls as it goes
    ResetRegistrySettings();
    {
        // Set, not defaulted: a value stored by an earlier run of another checkout wins.
        TRegistryString keplers(kKeplerPathValue, "");
        keplers.SetValue(kSource + "/samples/keps/");
    }
    TFormVantorelTest form({}, &b.notifier);
    form.resize(1000, 760);
    form.show();
    form.ProcessFile(b.image);
    if (form.Run().FullPictureSize().Height != 5000) {
        const std::string account = form.Run().Diags().Text();
        std::fprintf(stderr, "%s\n", account.c_str());
        state.SkipWithError("the pass was not processed");
        return;
    }
    form.showNormal();
    // Set either way: the grid's setting is stored, and an earlier run's would win.
    form.GraticuleClick(state.range(0) != 0);
    if (state.range(0) == 0) {
        form.ZoomActualSize();
    } else {
        form.ZoomToFit();
    }
    QScrollBar* bar = form.ScrollBoxForImage()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    int step = 0;
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        const int painted = form.ImageDisplay()->PaintCount();
        QKeyEvent press(QEvent::KeyPress, (step++ / 8) % 2 == 0 ? Qt::Key_Right : Qt::Key_Left,
                        Qt::NoModifier);
        QApplication::sendEvent(&form, &press);
        while (form.ImageDisplay()->PaintCount() == painted) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
}
BENCHMARK(BM_WindowKeyToRepaint5000Lines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Saving the displayed picture as the window does, by the file's extension.
const char* const kSaveExtensions[] = {".bmp", ".jpg", ".png"};

void BM_SavePicture5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    const std::string name =
        processed.b.folder + "saved" + kSaveExtensions[static_cast<size_t>(state.range(0))];
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(processed.run.SavePicture(name));
    }
    state.SetLabel(kSaveExtensions[static_cast<size_t>(state.range(0))]);
}
BENCHMARK(BM_SavePicture5000Lines)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The same pixels written by the libraries with nothing of ours around them: the bitmap's
// bytes behind its header, libjpeg-turbo at quality 92, libpng at the writer's level and
// filter.
void PlainBmp(const TBitmap& picture, std::FILE* file) {
    const auto u16 = [&](unsigned v) {
        std::fputc(static_cast<int>(v & 0xFF), file);
        std::fputc(static_cast<int>(v >> 8), file);
    };
    const auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    const auto size = static_cast<std::uint32_t>(picture.Bits().size());
    std::fputs("BM", file);
    for (const std::uint32_t v : {54u + size, 0u, 54u, 40u, static_cast<std::uint32_t>(picture.Width()),
                                  static_cast<std::uint32_t>(picture.Height())}) {
        u32(v);
    }
    u16(1);
    u16(24);
    for (const std::uint32_t v : {0u, size, 0u, 0u, 0u, 0u}) {
        u32(v);
    }
    for (int y = picture.Height() - 1; y >= 0; --y) {
        std::fwrite(picture.ScanLine(y), 1, static_cast<size_t>(picture.Stride()), file);
    }
}

void PlainJpeg(const TBitmap& picture, std::FILE* file) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(picture.Width());
    cinfo.image_height = static_cast<JDIMENSION>(picture.Height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < picture.Height(); ++y) {
        JSAMPROW row = const_cast<JSAMPLE*>(picture.ScanLine(y));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
}

void PlainPng(const TBitmap& picture, std::FILE* file) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_compression_level(png, 1); // the picture writer's level and filter
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.Width()),
                 static_cast<png_uint_32>(picture.Height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < picture.Height(); ++y) {
        png_write_row(png, picture.ScanLine(y));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
}

void BM_PlainEncode5000Lines(benchmark::State& state) {
    ProcessedRun processed;
    const TBitmap& picture = processed.run.DisplayBitmap();
    const size_t kind = static_cast<size_t>(state.range(0));
    const std::string name = processed.b.folder + "plain" + kSaveExtensions[kind];
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        std::FILE* file = std::fopen(name.c_str(), "wb");
        if (file == nullptr) {
            state.SkipWithError("cannot write the file");
            return;
        }
        (kind == 0 ? PlainBmp : kind == 1 ? PlainJpeg : PlainPng)(picture, file);
        std::fclose(file);
    }
    state.SetLabel(kSaveExtensions[kind]);
}
BENCHMARK(BM_PlainEncode5000Lines)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// A program run to its exit with the given arguments (found on the PATH unless it names a
// folder), its output thrown away; its exit code, or -1 where it did not run or exit.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, program.c_str(), &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    int status = 0;
    if (failed != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// The program in the bench's own folder, run to its exit with the given arguments and
// the bench's settings folder; false unless it exits 0 (3: warnings, as the old element
// set gives, counts as done).
bool RunCli(const std::vector<std::string>& arguments) {
    static const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vantorel-cli").string();
    const int code = RunProgram(program, arguments);
    return code == 0 || code == 3;
}

// The arguments of a process run of a channel image of the bundled pass's time.
std::vector<std::string> ProcessArguments(bool align, const std::string& out,
                                          const std::string& image) {
    return {"process",
            "--keplers",
            kSource + "/samples/keps",
            "--file-clock-offset",
            "0",
            "--no-calibration",
            "--overwrite",
            align ? "--align" : "--no-align",
            "--out",
            out,
            image};
}

// vantorel-cli process on the 5000-line pass, a process each time: loading the program
// and its data, the run, writing the BMP (arg 0), with the alignment (arg 1); beside it
// the program's start alone (--version).
void BM_CliProcessPass5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    const std::vector<std::string> arguments =
        ProcessArguments(state.range(0) != 0, b.folder + "cli.geo.bmp", b.image);
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        if (!RunCli(arguments)) {
            state.SkipWithError("vantorel-cli failed");
            break;
        }
    }
}
BENCHMARK(BM_CliProcessPass5000Lines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same with the alignment, each run after two seconds of rest, as a station runs its
// passes: a virtual machine's host may take back memory left unused meanwhile, and pages
// touched afresh then cost more (huge pages twenty times their worth). Only the runs are
// timed.
void BM_CliProcessPassAfterRest5000Lines(benchmark::State& state) {
    Bench& b = TheBench();
    const std::vector<std::string> arguments =
        ProcessArguments(true, b.folder + "cli.geo.bmp", b.image);
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const auto started = std::chrono::steady_clock::now();
        if (!RunCli(arguments)) {
            state.SkipWithError("vantorel-cli failed");
            break;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
}
BENCHMARK(BM_CliProcessPassAfterRest5000Lines)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// The whole process of the bundled sample (4000 lines, aligned, JPEG out) against cjpeg
// -quality 92 coding that run's own picture, read back as a BMP: the two take turns, and
// "ratio" is the sample's time as a multiple of cjpeg's, both measured in this run.
void BM_CliSampleAgainstCjpeg(benchmark::State& state) {
    Bench& b = TheBench();
    const std::string picture = b.folder + "sample.geo.jpg";
    const std::vector<std::string> arguments =
        ProcessArguments(true, picture, kSource + "/samples/2020_09_27_08_00_58_64.bmp");
    const std::string decoded = b.folder + "sample.geo.bmp";
    if (!RunCli(arguments) || RunProgram("djpeg", {"-bmp", "-outfile", decoded, picture}) != 0) {
        state.SkipWithError("no picture of the sample, or no djpeg (libjpeg-turbo-progs)");
        return;
    }
    const std::vector<std::string> coding{"-quality", "92", "-outfile", b.folder + "cjpeg.jpg",
                                          decoded};
    const auto seconds = [](auto&& run) {
        const auto started = std::chrono::steady_clock::now();
        run();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    double cli = 0, cjpeg = 0;
    for (auto _ : state) {
        bool ran = true;
        const double one = seconds([&] { ran = RunCli(arguments); });
        cjpeg += seconds([&] { ran = RunProgram("cjpeg", coding) == 0 && ran; });
        if (!ran) {
            state.SkipWithError("vantorel-cli or cjpeg failed");
            break;
        }
        cli += one;
        state.SetIterationTime(one);
    }
    if (cjpeg > 0) {
        state.counters["cjpeg_ms"] = 1e3 * cjpeg / static_cast<double>(state.iterations());
        state.counters["ratio"] = cli / cjpeg;
    }
}
BENCHMARK(BM_CliSampleAgainstCjpeg)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_CliStart(benchmark::State& state) {
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        if (!RunCli({"--version"})) {
            state.SkipWithError("vantorel-cli failed");
            break;
        }
    }
}
BENCHMARK(BM_CliStart)->Unit(benchmark::kMillisecond);

void BM_Baseline_PictureCopy(benchmark::State& state) {
    std::vector<std::uint8_t> from(size_t{1568} * 3 * 5000, 1);
    std::vector<std::uint8_t> to(from.size());
    bench::TBaselineRatio ratio(state);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Baseline_PictureCopy)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace vantorel
