#pragma once

// TOrbit: what the rest of the program sees of the orbit: the satellite's identity
// (canonical name, short name, catalogue number) with its scanner parameters, the element
// set chosen for a pass, and the ground points the cross-track scanner sees at any
// instant of the pass.

#include "common/DateTime.h"
#include "common/ScanLayout.h"
#include "orbit/Keplers.h"
#include "orbit/SGP_Math.h"
#include "orbit/Satellite.h"
#include "orbit/ScannerCalibration.h"
#include "orbit/Support.h"

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace vantorel {

class INotifier;

/// One ground point of the scanner, single precision, degrees.
struct TGroundPoint {
    float Lon = 0.0f; ///< east positive, in (-180, 180]
    float Lat = 0.0f; ///< north positive, in [-90, 90]
};

/// What the scanner sees at one instant.
struct TScanLine {
    double AltitudeKm = 0.0; ///< height of the satellite above the ellipsoid, km
    /// Sample m lies at the scan layout's CentreOffsetOf(m) pixels from the line centre;
    /// samples above the nadir sample lie left of the direction of flight, below it right.
    std::array<TGroundPoint, kGridColumns> Points{};
    TGeodetic SubSatellite; ///< geodetic record of the satellite (rad, km)
    TVector Position;       ///< inertial position, km (true equator, mean equinox of date)
    TVector Velocity;       ///< inertial velocity, km/s
};

/// The cosine and sine of each grid column's scan angle, which are the same on every line.
struct TScanAngles {
    std::array<double, kGridColumns> Cos{};
    std::array<double, kGridColumns> Sin{};
};

class TOrbit {
public:
    /// No element set; the multi-Kepler list empty until SetKeplerPath.
    TOrbit();
    ~TOrbit();
    TOrbit(const TOrbit&) = delete;
    TOrbit& operator=(const TOrbit&) = delete;

    /// Sets the multi-Kepler folder and rebuilds its satellite list; the element set of
    /// the current pass is kept.
    void SetKeplerPath(const std::string& path);
    /// The multi-Kepler folder as last given.
    const std::string& KeplerPath() const { return KeplerData.Path; }
    /// Number of satellites in the multi-Kepler list.
    int SatelliteCount() const { return KeplerData.SatelliteCount(); }

    /// Chooses the element set nearest a pass start (UTC) for SatelliteName /
    /// CatalogueNumber from both sources and parses it; Valid tells whether one was
    /// found. Messages about the per-satellite files go through the notifier. Errors of
    /// the model (EMathError) pass through with Valid false.
    void SelectForTime(TDateTime time, INotifier& notifier);
    /// Takes a given element set (a decoder's own) for the pass at `time` instead of
    /// choosing one; `source` names it in MainKeplerFile. Valid once it parses; errors of
    /// the model (EMathError) pass through with Valid false.
    void UseElements(const std::string& line1, const std::string& line2, const std::string& source,
                     TDateTime time);

    /// The scan line at an instant (UTC): the satellite's state, its height and the 51
    /// ground points on the WGS-72 ellipsoid. Returns false and leaves `out` untouched
    /// when Valid is false. Errors of the model (EMathError) pass through. Does not
    /// allocate. A look direction that misses the ellipsoid (not possible with the scan
    /// angles and orbit heights in use) gives the point where it passes closest.
    /// Not thread-safe: deep-space sets keep propagation state in Elements.
    bool LocateScanLine(TDateTime time, TScanLine& out) const;
    /// The same with the scan angles made once for many lines by GridScanAngles, while
    /// the satellite, its calibration and ScanHalfAngle stay as they were then.
    bool LocateScanLine(TDateTime time, const TScanAngles& angles, TScanLine& out) const;
    /// The scan angles of the grid columns for the scanner as it is now.
    TScanAngles GridScanAngles() const;

    /// The ground point (degrees, double precision, longitude in (-180, 180]) seen at any
    /// scan angle (degrees, positive left of the flight; sample m of a Meteor line lies at
    /// (30 (m - 25) + 0.5) / 769.5 x ScanHalfAngle) by the model of LocateScanLine. Returns
    /// false and leaves lon, lat untouched when Valid is false.
    bool LocateScanPoint(TDateTime time, double scanAngleDeg, double& lon, double& lat) const;

    /// Fills the identity and scanner fields for a satellite name such as "METEOR-M2" or
    /// "NOAA 18". The name is upper-cased; contained texts of the input (case-sensitive)
    /// select a canonical name; the tables then give the short name, the catalogue number,
    /// the scan half angle, the yaw offset and yaw steering. Fields without a row for the
    /// name keep their previous values, except the short name (cleared) and yaw steering
    /// (false).
    void SetSatellite(const std::string& name);

    /// True for the catalogue numbers of the Meteor-M N2 series (N2 "40069", N2-2 "44387",
    /// N2-3 "57166", N2-4 "59051"): they select the Meteor scan layout.
    bool IsMeteorM2() const;
    /// Where the samples of a scan line fall on the image: the Meteor layout for Meteor-M
    /// N2 satellites, the wide one otherwise.
    const TScanLayout& ScanLayout() const;

private:
    double FrameYaw() const;
    double FramePitch() const;

public:

    /// The scanner as measured, when the satellite has a calibration: it replaces the scan
    /// half-angle and the yaw offset, and adds roll, pitch and a clock offset.
    std::optional<TScannerCalibration> Calibration;
    /// The half-angle for the map fit (degrees, reached half a pixel beyond the layout's
    /// line centre): ScanHalfAngle, or the calibrated scanner's.
    double FitHalfAngle() const;

    std::string SatelliteName;    ///< canonical upper-case name; names the per-satellite files
    std::string ShortName;        ///< short file-style name ("n15"), empty when none
    std::string CatalogueNumber;  ///< five-digit NORAD catalogue number
    float ScanHalfAngle = 55.37f; ///< largest scan angle from nadir, degrees
    double YawOffset = 0.0;       ///< fixed yaw of the scan plane, degrees, + towards flight
    bool YawSteering = false;     ///< the platform steers its yaw

    TKeplerData KeplerData;               ///< element-set sources
    std::unique_ptr<TSatellite> Elements; ///< the set of the current pass, null before one
    bool Valid = false;                   ///< a set was found and parsed for the pass
    TDateTime PassTime = 0.0;             ///< the time the set was chosen for, UTC
    double EpochOffset = 0.0;             ///< epoch of the set minus PassTime, days
    std::string MainKeplerFile;           ///< file the set came from
    std::string UpdatesKeplerFile;        ///< updates file that contributed, or ""
};

} // namespace vantorel
