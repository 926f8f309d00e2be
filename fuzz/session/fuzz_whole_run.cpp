// A whole run on arbitrary bytes. The input is cut at each "\n--\n" into a channel picture,
// its .STAT file, an element file and a product.cbor. With a product.cbor the picture is
// the product's MSU-MR-2.png; without one it is a channel image named for the sample's
// pass. What the run draws is exported to memory: a bitmap, a PNG, a GeoTIFF with control
// points and the map-projected picture.
#include "common/Clock.h"
#include "common/Notifier.h"
#include "common/Program.h"
#include "export/GeoTiff.h"
#include "imaging/Canvas.h"
#include "imaging/zorPNGImage.h"
#include "mapping/MapWithWarp.h"
#include "session/PassSession.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

using namespace vantorel;
namespace fs = std::filesystem;

constexpr std::string_view kCut = "\n--\n";

// The program's data files, the Kepler folder and the inputs, in a folder of this process.
struct TWorld {
    fs::path Root;
    std::unique_ptr<ScopedExecutablePath> Exe;
    FixedClock Clock{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};
    std::unique_ptr<ScopedClock> Scoped;
    RecordingNotifier Notifier;
    std::unique_ptr<TPassSession> Run;
};

TWorld* world = nullptr;

void Write(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string_view> Cut(std::string_view data) {
    std::vector<std::string_view> parts;
    while (parts.size() < 3) {
        const std::size_t at = data.find(kCut);
        if (at == std::string_view::npos) {
            break;
        }
        parts.push_back(data.substr(0, at));
        data.remove_prefix(at + kCut.size());
    }
    parts.push_back(data);
    parts.resize(4);
    return parts;
}

std::string PictureExtension(std::string_view picture) {
    if (picture.starts_with("\x89PNG")) {
        return ".png";
    }
    return picture.starts_with("\xFF\xD8") ? ".jpg" : ".bmp";
}

void ExportToMemory(TPassSession& run) {
    const TExtBitmap& picture = run.PictureAtFullSize();
    std::ostringstream bmp;
    picture.SaveToStream(bmp);
    std::ostringstream png;
    TPngImage image;
    image.AssignBitmap(picture);
    image.WriteStream(png);

    const TPassResult& pass = *run.Pass();
    const auto points =
        ControlPoints(pass.GroundTable, kMeteorScanLayout, picture.Width(), picture.Height(),
                      run.LineOffset(), run.PixelOffset(), pass.Northbound);
    WriteGeoTiff(picture, "/vsimem/fuzz.tif", points); // GDAL's memory files: one, reused

    TProjectionInput in;
    in.Channel = &pass.Channel;
    in.Mapping = &pass.Mapping;
    in.Grid = &pass.GroundTable;
    in.LostLines = pass.LostLines;
    in.Boundaries = &run.Cartography();
    in.Step = 0.05; // coarse: the work, not the size, is what is tried
    (void)ProjectPicture(in);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EnsureGuiApplication();
    world = new TWorld;
    world->Root = fs::temp_directory_path() / ("vantorel-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(world->Root / "keps");
    const fs::path source = VANTOREL_SOURCE_DIR;
    for (const char* name : {"Countries.dat", "Stations.dat", "Scanner.cal"}) {
        fs::copy_file(source / "data" / name, world->Root / name,
                      fs::copy_options::overwrite_existing);
    }
    world->Exe = std::make_unique<ScopedExecutablePath>(world->Root / "vantorel");
    world->Scoped = std::make_unique<ScopedClock>(world->Clock);
    world->Run = std::make_unique<TPassSession>();
    world->Run->Setup.Keplers = (world->Root / "keps").string();
    world->Run->Setup.RequirePassTime = true;
    world->Run->Start(LoadSessionData(), "Vantorel - V1", {});
    std::atexit([] { fs::remove_all(world->Root); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string_view> part = Cut({reinterpret_cast<const char*>(data), size});
    const fs::path inputs = world->Root / "in";
    fs::remove_all(inputs);
    fs::create_directories(inputs);
    Write(world->Root / "keps" / "meteor.txt", part[2]);
    TPassSession& run = *world->Run;
    run.Diags().Clear(); // one input's account at a time
    run.ChooseSatellite(run.ChosenSatellite());
    fs::path input;
    if (!part[3].empty()) {
        input = inputs / "pass" / "MSU-MR";
        fs::create_directories(input);
        Write(input / "MSU-MR-2.png", part[0]);
        Write(input / "product.cbor", part[3]);
    } else {
        input = inputs / ("2020_09_27_08_00_58_64" + PictureExtension(part[0]));
        Write(input, part[0]);
        Write(inputs / "2020_09_27_08_00_58_64.stat", part[1]);
    }
    try {
        const auto deliver = [&run](const TReportEntry& entry) {
            Deliver(entry, run.Diags(), world->Notifier);
        };
        if (run.ProcessFile(input.string(), deliver).Finished && run.Pass() != nullptr) {
            ExportToMemory(run);
        }
    } catch (const std::exception&) {
        // A writer's refusal of what it was given is an answer, not a fault.
    }
    return 0;
}
