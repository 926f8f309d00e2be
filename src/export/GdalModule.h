#pragma once

// What the export asks of GDAL, as an interface the GDAL module implements. GDAL brings
// about 120 shared libraries with it: linked into the programs, loading them took 70 ms
// of every start, though most runs write no GeoTIFF. The module is loaded the first time
// one is written. Only plain data crosses: the module links GDAL and nothing of ours.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vantorel {

/// A point of the picture and the ground position it shows. Pixel and line count from the
/// picture's top-left corner; a pixel's centre is at +0.5.
struct TControlPoint {
    double Pixel = 0.0;
    double Line = 0.0;
    double Lon = 0.0; ///< degrees east, WGS 84
    double Lat = 0.0; ///< degrees north
};

} // namespace vantorel

namespace vantorel::gdal {

/// Pixels to write: rows of `colours` bytes a pixel (1 grey, or 3 as B, G, R), and an
/// alpha byte a pixel (rows of width bytes) when given.
struct TRaster {
    const std::uint8_t* Pixels = nullptr;
    int Width = 0;
    int Height = 0;
    std::int64_t Stride = 0;
    int Colours = 1;
    const std::uint8_t* Alpha = nullptr;
};

/// Where the picture lies: control points, or a grid transform with the grid's system.
struct TGeoreference {
    std::span<const TControlPoint> Gcps;
    std::optional<std::array<double, 6>> Transform;
    std::string Wkt;
};

/// Why a write failed: a headline, GDAL's words, and whether the file was reached.
struct TFailure {
    std::string What;
    std::string Why;
    bool AtFile = false;
};

/// Map coordinates of WGS 84 longitude/latitude in one coordinate system, and back.
class TCrs {
public:
    virtual ~TCrs() = default;
    virtual bool Geographic() const = 0;
    /// Metres a unit of x and y (1 for a geographic system).
    virtual double Metres() const = 0;
    virtual const std::string& Wkt() const = 0;
    virtual bool Forward(double lon, double lat, double& x, double& y) const = 0;
    virtual bool Inverse(double x, double y, double& lon, double& lat) const = 0;
};

class TModule {
public:
    virtual ~TModule() = default;
    /// Writes a DEFLATE GeoTIFF; nothing is left at the file when it fails.
    virtual std::optional<TFailure> WriteGeoTiff(const TRaster& raster,
                                                 const TGeoreference& where,
                                                 const std::string& fileName) = 0;
    /// The system a user names ("" for WGS 84 longitude/latitude, else anything PROJ
    /// reads); null with the reason in `error` when it cannot be used.
    virtual std::unique_ptr<TCrs> Crs(const std::string& crs, std::string& error) = 0;
};

} // namespace vantorel::gdal

/// The module's one entry point: a module that lives as long as the process.
extern "C" vantorel::gdal::TModule* VantorelGdalModule();
