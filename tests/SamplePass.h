#pragma once

// The bundled sample pass and its Kepler folder, for the tests that process it.

#include "TempDir.h"
#include "common/Clock.h"
#include "common/Program.h"
#include "imaging/Bitmap.h"
#include "pass/PassPipeline.h"

#include <algorithm>
#include <filesystem>
#include <string>

namespace vantorel::testing {

inline const std::string kSource = VANTOREL_SOURCE_DIR;
inline const std::string kSampleImage = kSource + "/samples/2020_09_27_08_00_58_64.bmp";
inline const std::string kSampleKeps = kSource + "/samples/keps/";
/// A day after the sample pass, when its element set is fresh.
inline const double kSampleDay = 44102.5; // 2020-09-28 12:00 UTC

/// The pipeline run on the sample pass (or another image of it) on the day after it, by a
/// computer on UTC.
inline TPassOutcome RunSamplePass(TPassSources& sources, TPassReport& report,
                                  const std::string& image = kSampleImage) {
    sources.Load(kSampleKeps, TPassSatellite{});
    FixedClock utc(kSampleDay, 0.0);
    ScopedClock scoped(utc);
    return ProcessChannelImageFile(image, {"", kSampleDay, std::nullopt}, sources, report);
}

/// A copy of the sample pass in `dir`, its picture moved right by dx pixels and down by
/// dy lines, with the pass's .STAT files; returns the image's path.
inline std::string ShiftedSampleCopy(const TempDir& dir, int dx, int dy) {
    TBitmap image;
    image.LoadFromFile(kSampleImage);
    TBitmap moved(image);
    for (int y = 0; y < image.Height(); ++y) {
        const std::uint8_t* from = image.ScanLine(std::clamp(y - dy, 0, image.Height() - 1));
        for (int x = 0; x < image.Width(); ++x) {
            moved.ScanLine(y)[x] = from[std::clamp(x - dx, 0, image.Width() - 1)];
        }
    }
    const std::string name = dir / "2020_09_27_08_00_58_64.bmp";
    moved.SaveToFile(name);
    for (const char* channel : {"64", "65", "68"}) {
        const std::string stat = std::string("2020_09_27_08_00_58_") + channel + ".stat";
        std::filesystem::copy_file(kSource + "/samples/" + stat, dir / stat);
    }
    return name;
}

/// The program's data files beside a stand-in executable "vantorel" in a temporary
/// folder, taken as this process's executable while the object lives.
struct ProgramFolder {
    TempDir folder;
    ScopedExecutablePath exe{CopyData(folder) / "vantorel"};

private:
    static const TempDir& CopyData(const TempDir& to) {
        for (const char* name : {"Countries.dat", "Stations.dat"}) {
            std::filesystem::copy_file(kSource + "/data/" + name, to / name);
        }
        return to;
    }
};

} // namespace vantorel::testing
