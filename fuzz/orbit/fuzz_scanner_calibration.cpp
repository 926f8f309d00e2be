// The scanner calibration reader on arbitrary bytes. Whatever it keeps must lie in the
// ranges it promises, since the scan geometry is built from it unchecked. A section put
// into the same bytes by the calibration's writer must read back as written.
#include "orbit/ScannerCalibration.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantorel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TScannerCalibrations read = ParseScannerCalibrations(text);
    for (const auto& [satellite, c] : read.BySatellite) {
        const bool sound = c.ScanAngle >= 90.0 && c.ScanAngle <= 130.0 && c.Pixels >= 100 &&
                           c.Pixels <= 10000 && std::fabs(c.Roll) <= 10.0 &&
                           std::fabs(c.Pitch) <= 10.0 && std::fabs(c.Yaw) <= 10.0 &&
                           std::fabs(c.TimeOffset) <= 60.0;
        if (!sound || satellite.empty() || c.ScanAngleError < 0.0 || c.YawError < 0.0) {
            std::abort();
        }
    }
    TScannerCalibration written;
    written.Roll = -0.25;
    written.RollError = 0.02;
    const std::string replaced = ReplaceScannerSection(
        text, "57166", "[57166]  # written\n" + FormatScannerValues(written));
    const TScannerCalibrations back = ParseScannerCalibrations(replaced);
    const auto found = back.BySatellite.find("57166");
    if (found == back.BySatellite.end() || found->second.Roll != -0.25 ||
        found->second.RollError != 0.02) {
        std::abort();
    }
    return 0;
}
