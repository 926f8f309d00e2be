#pragma once

// Pictures that GIS tools place: a GeoTIFF of the picture as shown with ground control
// points taken from the pass's ground table, and a map-projected picture resampled through
// the pass's fitted mapping. Written through GDAL.

#include "common/ScanLayout.h"
#include "export/GdalModule.h"
#include "imaging/Bitmap.h"
#include "mapping/FitMap.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantorel {

class TCartogList;
class TWarpedMapping;

/// The ground table as control points of the picture as shown: sample k of line l lies
/// at the layout's column k, moved by the overlay's offsets (as the readout reads it) and
/// turned with the picture of a north-bound pass. Every `sampleStep`-th sample and
/// `lineStep`-th line, the last ones included.
std::vector<TControlPoint> ControlPoints(const LocationGrid& grid, const TScanLayout& layout,
                                         int width, int height, int lineOffset,
                                         int pixelOffset, bool turned, int sampleStep = 8,
                                         int lineStep = 32);

/// Writes a picture (8-bit grey or 24-bit colour) as a GeoTIFF that carries the control
/// points in WGS 84 longitude/latitude. Throws EWriteError with GDAL's words and the file.
void WriteGeoTiff(const TBitmap& picture, const std::string& fileName,
                  std::span<const TControlPoint> points);

/// A regular map grid: x eastwards, y northwards, in the units of its coordinate system.
struct TMapGrid {
    /// The coordinate system as the user gave it ("" for WGS 84 longitude/latitude,
    /// else any definition PROJ reads, e.g. "EPSG:32643" or "+proj=laea ...").
    std::string Crs;
    std::string Wkt; ///< its well-known text
    double Left = 0.0;  ///< x of the grid's left edge
    double Top = 0.0;   ///< y of its top edge
    double StepX = 0.0; ///< units a pixel eastwards
    double StepY = 0.0; ///< units a pixel northwards
    int Width = 0;
    int Height = 0;
};

/// A picture resampled to a map grid: RGB, with an alpha of 0 where it shows no picture
/// (beyond the swath, lines of a dropout).
struct TProjectedPicture {
    TMapGrid Grid;
    TBitmap Picture; ///< 24-bit
    TByteBuffer Alpha; ///< a byte a pixel, rows of Grid.Width
};

/// What the projection of a pass needs.
struct TProjectionInput {
    const TBitmap* Channel = nullptr;      ///< the unturned picture, 8-bit grey or 24-bit colour
    const TWarpedMapping* Mapping = nullptr; ///< fitted to it
    const LocationGrid* Grid = nullptr;    ///< its ground table
    int LineOffset = 0;                    ///< the overlay's offsets (the picture moves by them)
    int PixelOffset = 0;
    std::span<const char> LostLines;       ///< lines that are not the picture
    const TCartogList* Boundaries = nullptr; ///< drawn over it in map space, or none
    std::uint32_t LineColour = 0x00FFFF;   ///< 0x00BBGGRR
    int PenWidth = 2;
    std::string Crs;  ///< see TMapGrid::Crs
    /// Units a pixel, both ways; 0: about the picture's own, 1 km (0.01 degree of latitude
    /// and as many degrees of longitude as make 1.1 km at the middle of the pass).
    double Step = 0.0;
};

/// Resamples the picture (in its colours) to a map grid covering its ground, through the fitted
/// mapping (so that it agrees with the overlay drawn on the picture), and draws the
/// boundaries in map space. Throws std::invalid_argument for a coordinate system PROJ
/// does not read.
TProjectedPicture ProjectPicture(const TProjectionInput& input);

/// Checks a coordinate system as ProjectPicture takes it ("" for longitude and latitude):
/// std::invalid_argument, with PROJ's reason, when it cannot be used. For checking a
/// command line before any work.
void CheckCoordinateSystem(const std::string& crs);

/// Writes a projected picture as a GeoTIFF (RGB and alpha, DEFLATE) with its georeference,
/// and a world file (.tfw) beside it. Throws EWriteError with GDAL's words and the file.
void WriteProjectedGeoTiff(const TProjectedPicture& projected, const std::string& fileName);

} // namespace vantorel
