#pragma once

// The bundled sample pass and its Kepler folder, for the tests that process it.

#include "TempDir.h"
#include "common/Program.h"

#include <filesystem>
#include <string>

namespace vantorel::testing {

inline const std::string kSource = VANTOREL_SOURCE_DIR;
inline const std::string kSampleImage = kSource + "/samples/2020_09_27_08_00_58_64.bmp";
inline const std::string kSampleKeps = kSource + "/samples/keps/";

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
