#include "session/RunSetup.h"

#include "pass/inputs/StatTiming.h"
#include "settings/Registry.h"

#include <exception>

namespace vantorel {

TSavedSettings ReadSavedSettings() {
    SetRegistryProgramName(kWindowProgramName);
    TSavedSettings saved;
    try {
        TRegistry registry(CurrentRegistrySettings().rootKey);
        if (registry.KeyExists(ProgramKeyPath()) && registry.OpenKeyReadOnly(ProgramKeyPath())) {
            saved.keplerPath = registry.ReadString(kKeplerPathValue).value_or("");
            saved.align = registry.ReadInteger(kAlignAutomaticallyValue).value_or(1) != 0;
            saved.calibration = registry.ReadInteger(kUseCalibrationValue).value_or(1) != 0;
            saved.satellite =
                registry.ReadString(kSatelliteValue).value_or(std::string(kDefaultSatellite));
            const int thickness =
                registry.ReadInteger(kLineThicknessValue).value_or(saved.lineThickness);
            if (thickness >= 0 && thickness <= 2) {
                saved.lineThickness = thickness;
            }
            saved.lineColour = static_cast<TColor>(
                registry.ReadInteger(kLineColourValue).value_or(kDefaultLineColour));
            saved.fileClockOffset =
                ParseClockOffsetHours(registry.ReadString(kFileClockOffsetValue).value_or(""));
            saved.graticule = registry.ReadInteger(kGraticuleValue).value_or(0) != 0;
            saved.graticuleColour = static_cast<TColor>(
                registry.ReadInteger(kGraticuleColourValue).value_or(kDefaultGraticuleColour));
        }
    } catch (const std::exception&) {
        // Unreadable settings: the defaults stand.
    }
    if (saved.keplerPath.empty()) {
        saved.keplerPath = HalvoryValue(kTwoLineDataPathValue);
    }
    return saved;
}

} // namespace vantorel
