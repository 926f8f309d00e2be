#pragma once

// TOrbit: what the rest of the program sees of the orbit. This unit holds the
// satellite's identity (canonical name, short name, catalogue number) and the scanner
// parameters that go with it.

#include <string>

namespace vantorel {

class TOrbit {
public:
    TOrbit() = default;

    /// Fills the identity and scanner fields for a satellite name such as "METEOR-M2" or
    /// "NOAA 18". The name is upper-cased; contained texts of the input (case-sensitive)
    /// select a canonical name; the tables then give the short name, the catalogue number,
    /// the scan half angle, the yaw offset and yaw steering. Fields without a row for the
    /// name keep their previous values, except the short name (cleared) and yaw steering
    /// (false).
    void SetSatellite(const std::string& name);

    /// True for the catalogue numbers of Meteor-M N2 ("40069") and N2-2 ("44387"): they
    /// select the Meteor scan layout.
    bool IsMeteorM2() const;

    std::string SatelliteName;    ///< canonical upper-case name; names the per-satellite files
    std::string ShortName;        ///< short file-style name ("n15"), empty when none
    std::string CatalogueNumber;  ///< five-digit NORAD catalogue number
    float ScanHalfAngle = 55.37f; ///< largest scan angle from nadir, degrees
    double YawOffset = 0.0;       ///< fixed yaw of the scan plane, degrees, + towards flight
    bool YawSteering = false;     ///< the platform steers its yaw
};

} // namespace vantorel
