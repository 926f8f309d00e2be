#pragma once

// What a run is set up with, one record for the window, the command line and the watch:
// the window fills it from its controls; a headless run from the window's saved settings,
// read once, with the command line's choices over them (read before any thread starts; the
// runs only read it).

#include "compositing/ColourComposite.h"
#include "imaging/Bitmap.h"
#include "orbit/MeteorSeries.h"
#include "settings/RegistryVariables.h"

#include <optional>
#include <string>
#include <utility>

namespace vantorel {

/// The settings the window keeps, read without writing anything back.
struct TSavedSettings {
    std::string keplerPath;
    bool align = true;
    bool calibration = true;
    std::string satellite{kDefaultSatellite};
    int lineThickness = kDefaultLineThickness;
    TColor lineColour = static_cast<TColor>(kDefaultLineColour);
    std::optional<int> fileClockOffset; ///< hours; none: this computer's time zone
    bool graticule = false;
    TColor graticuleColour = static_cast<TColor>(kDefaultGraticuleColour);
};

/// The window's settings (the defaults where they are missing or unreadable). Problems
/// with the registry files are left in the registry's problem log.
TSavedSettings ReadSavedSettings();

/// A run's options, resolved.
struct TRunSetup {
    std::string Keplers; ///< the multi-Kepler folder
    TMeteorSatellite Satellite;
    /// The satellite was named on the command line: it goes over a product's own.
    bool SatelliteGiven = false;
    /// The pass start (UTC) and line period (seconds) of a channel image, over its name and
    /// its .STAT files.
    std::optional<double> Start;
    std::optional<double> LinePeriodSeconds;
    std::string Channel; ///< a product's channel; "" for the picture named, else the first
    /// A product's channels laid together as red, green and blue instead of one channel.
    std::optional<TCompositeChannels> Composite;
    bool Stretch = false; ///< stretch each colour of a colour picture read from a file
    bool Align = true;
    bool Calibration = true;
    int LineThickness = kDefaultLineThickness; ///< 0 thin, 1 normal, 2 thick
    TColor LineColour = static_cast<TColor>(kDefaultLineColour);
    /// The clock that named the files runs this many whole hours ahead of UTC; none: this
    /// computer's time zone.
    std::optional<int> FileClockOffsetHours;
    bool Graticule = false;
    int GraticuleStep = 0; ///< degrees; 0: the finest that suits the picture
    TColor GraticuleColour = static_cast<TColor>(kDefaultGraticuleColour);
    /// Offsets (lines, pixels) in place of the defaults and the alignment's.
    std::optional<std::pair<int, int>> Offset;
    /// The folder tried when a file is not found as named; "" skips that step.
    std::string FallbackFolder;
    /// End a run that nothing gives a pass time (the window warns and goes on instead).
    bool RequirePassTime = false;
};

} // namespace vantorel
