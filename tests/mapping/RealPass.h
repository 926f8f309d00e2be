#pragma once

// Location grids of real Meteor-M 2 passes: the element set chosen from the committed
// history by the orbit code, and the grid built line by line as a processing run builds it.

#include "../TempDir.h"
#include "../TestData.h"
#include "common/DateTime.h"
#include "common/Notifier.h"
#include "common/Program.h"
#include "common/TextFile.h"
#include "mapping/FitMap.h"
#include "orbit/Orbits.h"

#include <string>

namespace vantorel::testing {

/// The Meteor line period, days.
inline constexpr double kMeteorLinePeriodDays = 0.1538925 / kSecondsPerDay;

/// Sets `orbit` up for METEOR-M2 and chooses the set nearest `start` from the history, laid
/// out as the per-satellite file of a Kepler folder beside a stand-in program. False when
/// none was chosen.
inline bool SelectHistorySet(TOrbit& orbit, TDateTime start) {
    TempDir dir;
    ScopedExecutablePath program(dir / "bin/vantorel");
    dir.Write("bin/Keps/METEOR-M2.txt", ReadTestData("keps/METEOR-M2-history.txt"));
    orbit.SetSatellite("METEOR-M2");
    orbit.SetKeplerPath(dir / "none");
    RecordingNotifier notifier;
    orbit.SelectForTime(start, notifier);
    return orbit.Valid;
}

struct RealPassGrid {
    LocationGrid grid;
    float midAltitudeKm = 0.0f; ///< height at the middle line, as the fit is given it
    bool northbound = false;
};

/// One row per line from `start`, point k from scan sample k, as the processing run does.
inline RealPassGrid BuildRealPassGrid(const TOrbit& orbit, TDateTime start, int lines) {
    RealPassGrid out;
    out.grid.resize(static_cast<size_t>(lines));
    const int mid = lines / 2;
    TScanLine scan;
    for (int i = 0; i < lines; ++i) {
        orbit.LocateScanLine(start + i * kMeteorLinePeriodDays, scan);
        GeoRow& row = out.grid[static_cast<size_t>(i)];
        for (size_t k = 0; k < row.size(); ++k) {
            row[k] = GeoPoint{scan.Points[k].Lat, scan.Points[k].Lon};
        }
        if (i == mid) {
            out.midAltitudeKm = static_cast<float>(scan.AltitudeKm);
        }
    }
    if (lines >= 3) {
        out.northbound = out.grid[static_cast<size_t>(mid + 1)][kNadirColumn].lat >
                         out.grid[static_cast<size_t>(mid - 1)][kNadirColumn].lat;
    }
    return out;
}

/// Fits `mapping` to the grid as the processing run does (Meteor format, 55.37 degrees).
inline bool FitRealPass(const RealPassGrid& pass, TWarpedMapping& mapping) {
    return FitMapToImage(pass.grid,
                         {static_cast<int>(pass.grid.size()), pass.midAltitudeKm, 55.37f, 5}, mapping)
        .fitted;
}

} // namespace vantorel::testing
