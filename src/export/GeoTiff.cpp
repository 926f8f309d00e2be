// GeoTIFFs through GDAL: its GTiff driver is the reference for the format, and its OSR
// (PROJ underneath) reads any coordinate system a user may name. GDAL's messages are kept
// from the terminal and put into the errors raised.
#include "export/GeoTiff.h"

#include "cartography/GeoExtent.h"
#include "cartography/zorCartography.h"
#include "common/Angles.h"
#include "common/Files.h"
#include "imaging/Canvas.h"
#include "mapping/MapWithWarp.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace vantorel {
namespace {

void RegisterDrivers() {
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

// GDAL's messages go to its last-error record, not to standard error, while one lives.
class TQuietGdal {
public:
    TQuietGdal() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~TQuietGdal() { CPLPopErrorHandler(); }
    TQuietGdal(const TQuietGdal&) = delete;
    TQuietGdal& operator=(const TQuietGdal&) = delete;

    static std::string Message() {
        const char* m = CPLGetLastErrorMsg();
        return m != nullptr && *m != '\0' ? m : "GDAL gave no reason";
    }
};

struct TDatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(d); }
};
using TDataset = std::unique_ptr<GDALDataset, TDatasetCloser>;

OGRSpatialReference Wgs84() {
    OGRSpatialReference srs;
    srs.SetWellKnownGeogCS("WGS84");
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER); // longitude first
    return srs;
}

// An in-memory dataset of `bands` byte bands holding the picture's pixels (grey, or B, G,
// R reordered to R, G, B), and alpha when given.
TDataset MemoryDataset(const TBitmap& picture, const std::vector<std::uint8_t>* alpha) {
    TBitmap rgb;
    const TBitmap* source = &picture;
    const bool grey = picture.PixelFormat() == TPixelFormat::pf8bit &&
                      picture.Palette() == GrayRamp() && alpha == nullptr;
    if (!grey && picture.PixelFormat() != TPixelFormat::pf24bit) {
        rgb = picture;
        rgb.SetPixelFormat(TPixelFormat::pf24bit);
        source = &rgb;
    }
    const int w = source->Width();
    const int h = source->Height();
    const int colours = grey ? 1 : 3;
    const int bands = colours + (alpha != nullptr ? 1 : 0);
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    // Pixel by pixel, as the GeoTIFF holds them: the copy into it takes whole rows.
    char** layout = CSLSetNameValue(nullptr, "INTERLEAVE", "PIXEL");
    TDataset ds(memory->Create("", w, h, bands, GDT_Byte, layout));
    CSLDestroy(layout);
    if (!ds) {
        throw EWriteError("Cannot make the GeoTIFF's picture", TQuietGdal::Message());
    }
    // Each row's blue, green and red go to bands 3, 2 and 1; all rows in one call.
    int order[] = {3, 2, 1};
    const auto stride = static_cast<GSpacing>(source->Stride());
    auto* pixels = const_cast<std::uint8_t*>(source->Bits().data());
    const bool written =
        ds->RasterIO(GF_Write, 0, 0, w, h, pixels, w, h, GDT_Byte, colours, grey ? nullptr : order,
                     colours, stride, 1, nullptr) == CE_None &&
        (alpha == nullptr || ds->GetRasterBand(bands)->RasterIO(
                                 GF_Write, 0, 0, w, h, const_cast<std::uint8_t*>(alpha->data()), w,
                                 h, GDT_Byte, 0, 0) == CE_None);
    if (!written) {
        throw EWriteError("Cannot make the GeoTIFF's picture", TQuietGdal::Message());
    }
    if (!grey) {
        ds->GetRasterBand(1)->SetColorInterpretation(GCI_RedBand);
        ds->GetRasterBand(2)->SetColorInterpretation(GCI_GreenBand);
        ds->GetRasterBand(3)->SetColorInterpretation(GCI_BlueBand);
    }
    if (alpha != nullptr) {
        ds->GetRasterBand(bands)->SetColorInterpretation(GCI_AlphaBand);
    }
    return ds;
}

// Copies the dataset to a GeoTIFF file; nothing is left behind when that fails.
void CopyToGeoTiff(GDALDataset& ds, const std::string& fileName, bool worldFile) {
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    char** options = nullptr;
    options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
    options = CSLSetNameValue(options, "PREDICTOR", "2");
    // The strips are compressed on every core: compression is nearly all of the writing.
    options = CSLSetNameValue(options, "NUM_THREADS", "ALL_CPUS");
    if (worldFile) {
        options = CSLSetNameValue(options, "TFW", "YES");
    }
    if (ds.GetRasterCount() == 4) {
        options = CSLSetNameValue(options, "ALPHA", "YES");
    }
    TDataset out(gtiff->CreateCopy(fileName.c_str(), &ds, FALSE, options, nullptr, nullptr));
    CSLDestroy(options);
    if (!out) {
        const std::string why = TQuietGdal::Message();
        VSIUnlink(fileName.c_str());
        throw EWriteError("Cannot write the GeoTIFF", why, fileName);
    }
}

// Map coordinates of WGS 84 longitude/latitude in a grid's system, and back.
class TCrsTransform {
public:
    explicit TCrsTransform(const std::string& crs) {
        if (crs.empty()) {
            wkt_ = Wgs84WktText();
            return;
        }
        OGRSpatialReference target;
        if (target.SetFromUserInput(crs.c_str()) != OGRERR_NONE) {
            const char* why = CPLGetLastErrorMsg();
            throw std::invalid_argument("The coordinate system \"" + crs +
                                        "\" is not one PROJ reads" +
                                        (why != nullptr && *why != '\0' ? std::string(": ") + why
                                                                         : std::string()));
        }
        target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        const OGRSpatialReference wgs84 = Wgs84();
        forward_.reset(OGRCreateCoordinateTransformation(&wgs84, &target));
        inverse_.reset(OGRCreateCoordinateTransformation(&target, &wgs84));
        if (!forward_ || !inverse_) {
            throw std::invalid_argument("No transformation from WGS 84 to \"" + crs +
                                        "\": " + TQuietGdal::Message());
        }
        geographic_ = target.IsGeographic() != 0;
        metres_ = geographic_ ? 1.0 : target.GetLinearUnits();
        char* wkt = nullptr;
        target.exportToWkt(&wkt);
        wkt_ = wkt != nullptr ? wkt : "";
        CPLFree(wkt);
    }

    bool Geographic() const { return geographic_ || !forward_; }
    /// Metres a unit of the system's x and y (1 for degrees, which the step rule treats apart).
    double Metres() const { return metres_; }
    const std::string& Wkt() const { return wkt_; }

    bool Forward(double lon, double lat, double& x, double& y) const {
        x = lon;
        y = lat;
        return !forward_ || forward_->Transform(1, &x, &y) != 0;
    }
    bool Inverse(double x, double y, double& lon, double& lat) const {
        lon = x;
        lat = y;
        return !inverse_ || inverse_->Transform(1, &lon, &lat) != 0;
    }

private:
    static std::string Wgs84WktText() {
        char* wkt = nullptr;
        Wgs84().exportToWkt(&wkt);
        std::string text = wkt != nullptr ? wkt : "";
        CPLFree(wkt);
        return text;
    }

    std::unique_ptr<OGRCoordinateTransformation> forward_;
    std::unique_ptr<OGRCoordinateTransformation> inverse_;
    bool geographic_ = true;
    double metres_ = 1.0;
    std::string wkt_;
};

// The colour of the picture (8-bit grey or 24-bit B, G, R) at a place (pixel centres at
// whole numbers), into bgr; false off the picture or on a lost line.
bool Sample(const TBitmap& image, std::span<const char> lost, double x, double y,
            std::uint8_t* bgr) {
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    if (x0 < 0 || y0 < 0 || x0 + 1 >= image.Width() || y0 + 1 >= image.Height()) {
        return false;
    }
    auto gone = [&](int line) {
        return static_cast<std::size_t>(line) < lost.size() && lost[static_cast<std::size_t>(line)];
    };
    if (gone(y0) || gone(y0 + 1)) {
        return false;
    }
    const double fx = x - x0, fy = y - y0;
    const int bpp = image.PixelFormat() == TPixelFormat::pf24bit ? 3 : 1;
    const std::uint8_t* a = image.ScanLine(y0) + x0 * bpp;
    const std::uint8_t* b = image.ScanLine(y0 + 1) + x0 * bpp;
    for (int c = 0; c < bpp; ++c) {
        const double v = (1 - fy) * ((1 - fx) * a[c] + fx * a[c + bpp]) +
                         fy * ((1 - fx) * b[c] + fx * b[c + bpp]);
        bgr[c] = static_cast<std::uint8_t>(v + 0.5);
    }
    if (bpp == 1) {
        bgr[1] = bgr[2] = bgr[0];
    }
    return true;
}

// The cells of the globe the ground table touches and their neighbours: the boundaries
// elsewhere cannot reach the projected picture, and need not go through PROJ.
TGeoExtent GroundCells(const LocationGrid& grid) {
    TGeoExtent::Mask cells{};
    auto mark = [&](const GeoPoint& p) {
        const int row = TGeoExtent::RowOf(p.lat);
        const int column = TGeoExtent::ColumnOf(p.lon);
        // Near a pole the samples of a line lie more than a cell of longitude apart.
        const bool polar = std::fabs(p.lat) > 70.0;
        for (int r = std::max(row - 1, 0); r <= std::min(row + 1, TGeoExtent::kRows - 1); ++r) {
            for (int c = polar ? 0 : column - 1; c <= (polar ? TGeoExtent::kColumns - 1 : column + 1);
                 ++c) {
                const int wrapped = (c + TGeoExtent::kColumns) % TGeoExtent::kColumns;
                cells[static_cast<std::size_t>(r) * TGeoExtent::kColumns + wrapped] = true;
            }
        }
    };
    // A cell is 2 degrees, about 200 km: every 64th line (70 km) of a pass cannot skip one.
    for (std::size_t r = 0; r < grid.size(); r += 64) {
        for (const GeoPoint& p : grid[r]) {
            mark(p);
        }
    }
    for (const GeoPoint& p : grid.back()) {
        mark(p);
    }
    return TGeoExtent(cells);
}

} // namespace

std::vector<TControlPoint> ControlPoints(const LocationGrid& grid, const TScanLayout& layout,
                                         int width, int height, int lineOffset,
                                         int pixelOffset, bool turned, int sampleStep,
                                         int lineStep) {
    std::vector<TControlPoint> points;
    const int lines = static_cast<int>(grid.size());
    auto steps = [](int count, int step) {
        std::vector<int> at;
        for (int i = 0; i < count; i += std::max(step, 1)) {
            at.push_back(i);
        }
        if (count > 0 && at.back() != count - 1) {
            at.push_back(count - 1);
        }
        return at;
    };
    for (const int l : steps(lines, lineStep)) {
        for (const int k : steps(kGridColumns, sampleStep)) {
            const GeoPoint& g = grid[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
            // The overlay draws the ground of this sample moved by the offsets.
            double x = layout.ColumnOf(k) + pixelOffset + 0.5;
            double y = l - lineOffset + 0.5;
            if (turned) {
                x = width - x;
                y = height - y;
            }
            if (x < 0.0 || y < 0.0 || x > width || y > height) {
                continue;
            }
            points.push_back({x, y, WrapDegrees180(g.lon), g.lat});
        }
    }
    return points;
}

void WriteGeoTiff(const TBitmap& picture, const std::string& fileName,
                  std::span<const TControlPoint> points) {
    RegisterDrivers();
    const TQuietGdal quiet;
    TDataset ds = MemoryDataset(picture, nullptr);
    std::vector<GDAL_GCP> gcps(points.size());
    std::vector<std::string> ids(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        ids[i] = std::to_string(i + 1);
        gcps[i].pszId = ids[i].data();
        gcps[i].pszInfo = const_cast<char*>("");
        gcps[i].dfGCPPixel = points[i].Pixel;
        gcps[i].dfGCPLine = points[i].Line;
        gcps[i].dfGCPX = points[i].Lon;
        gcps[i].dfGCPY = points[i].Lat;
        gcps[i].dfGCPZ = 0.0;
    }
    const OGRSpatialReference wgs84 = Wgs84();
    if (ds->SetGCPs(static_cast<int>(gcps.size()), gcps.data(), &wgs84) != CE_None) {
        throw EWriteError("Cannot write the GeoTIFF", TQuietGdal::Message(), fileName);
    }
    CopyToGeoTiff(*ds, fileName, false);
}

TProjectedPicture ProjectPicture(const TProjectionInput& in) {
    RegisterDrivers();
    const TQuietGdal quiet;
    const TCrsTransform crs(in.Crs);
    const LocationGrid& grid = *in.Grid;
    TProjectedPicture out;
    TMapGrid& g = out.Grid;
    g.Crs = in.Crs;
    g.Wkt = crs.Wkt();
    if (grid.empty() || in.Channel == nullptr || in.Mapping == nullptr) {
        return out;
    }
    // The extent of the ground table, longitudes followed from the middle of the pass so
    // that a pass across the antimeridian stays whole.
    const double centreLon = grid[grid.size() / 2][kNadirColumn].lon;
    auto unwrapped = [&](double lon) {
        return crs.Geographic() && in.Crs.empty() ? centreLon + WrapDegrees180(lon - centreLon)
                                                  : lon;
    };
    double left = 1e300, right = -1e300, bottom = 1e300, top = -1e300;
    auto take = [&](const GeoRow& row) {
        for (const GeoPoint& p : row) {
            double x = 0.0, y = 0.0;
            if (crs.Forward(unwrapped(p.lon), p.lat, x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                bottom = std::min(bottom, y);
                top = std::max(top, y);
            }
        }
    };
    const std::size_t rowStep = std::max<std::size_t>(1, grid.size() / 200);
    for (std::size_t r = 0; r < grid.size(); r += rowStep) {
        take(grid[r]);
    }
    take(grid.back());
    if (!(left < right && bottom < top)) {
        return out;
    }
    if (in.Step > 0.0) {
        g.StepX = g.StepY = in.Step;
    } else if (crs.Geographic()) {
        // Square on the ground at the middle of the pass, not in degrees.
        const double centreLat = grid[grid.size() / 2][kNadirColumn].lat;
        g.StepY = 0.01;
        g.StepX = 0.01 / std::max(std::cos(centreLat * kDegreesToRadians), 0.2);
    } else {
        g.StepX = g.StepY = 1000.0 / crs.Metres();
    }
    g.Left = std::floor(left / g.StepX) * g.StepX;
    g.Top = std::ceil(top / g.StepY) * g.StepY;
    g.Width = static_cast<int>(std::ceil((right - g.Left) / g.StepX)) + 1;
    g.Height = static_cast<int>(std::ceil((g.Top - bottom) / g.StepY)) + 1;
    constexpr int kLargest = 30000;
    if (g.Width > kLargest || g.Height > kLargest) {
        throw std::invalid_argument("The map grid would be " + std::to_string(g.Width) + " x " +
                                    std::to_string(g.Height) +
                                    " pixels: choose a coarser step or another system");
    }

    // Where each map pixel lies on the picture: exactly at the nodes of a lattice every
    // kCell pixels, between them by interpolation where the four nodes agree.
    constexpr int kCell = 8;
    const int nx = g.Width / kCell + 2;
    const int ny = g.Height / kCell + 2;
    struct TNode {
        float X = 0.0f, Y = 0.0f;
        bool Placed = false;
    };
    auto place = [&](double px, double py) {
        TNode n;
        double lon = 0.0, lat = 0.0;
        if (crs.Inverse(g.Left + (px + 0.5) * g.StepX, g.Top - (py + 0.5) * g.StepY, lon, lat) &&
            std::fabs(lat) <= 90.0) {
            float x = 0.0f, y = 0.0f;
            n.Placed = in.Mapping->LatLonToImageF(x, y, static_cast<float>(WrapDegrees180(lon)),
                                                  static_cast<float>(lat), true);
            n.X = x + static_cast<float>(in.PixelOffset);
            n.Y = y - static_cast<float>(in.LineOffset);
        }
        return n;
    };
    std::vector<TNode> nodes(static_cast<std::size_t>(nx) * ny);
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            nodes[static_cast<std::size_t>(j) * nx + i] = place(i * kCell, j * kCell);
        }
    }
    out.Picture.SetPixelFormat(TPixelFormat::pf24bit);
    out.Picture.SetSize(g.Width, g.Height);
    out.Alpha.assign(static_cast<std::size_t>(g.Width) * g.Height, 0);
    auto put = [&](int px, int py, const TNode& at) {
        if (at.Placed &&
            Sample(*in.Channel, in.LostLines, at.X, at.Y, out.Picture.ScanLine(py) + 3 * px)) {
            out.Alpha[static_cast<std::size_t>(py) * g.Width + px] = 255;
        }
    };
    for (int j = 0; j + 1 < ny; ++j) {
        for (int i = 0; i + 1 < nx; ++i) {
            const TNode& a = nodes[static_cast<std::size_t>(j) * nx + i];
            const TNode& b = nodes[static_cast<std::size_t>(j) * nx + i + 1];
            const TNode& c = nodes[static_cast<std::size_t>(j + 1) * nx + i];
            const TNode& d = nodes[static_cast<std::size_t>(j + 1) * nx + i + 1];
            const int placed = a.Placed + b.Placed + c.Placed + d.Placed;
            // A cell is far smaller than the swath: one with no corner on it shows none.
            if (placed == 0) {
                continue;
            }
            const bool smooth = placed == 4 && std::fabs(a.X - d.X) < 4.0f * kCell &&
                                std::fabs(a.Y - d.Y) < 4.0f * kCell &&
                                std::fabs(b.X - c.X) < 4.0f * kCell &&
                                std::fabs(b.Y - c.Y) < 4.0f * kCell;
            const int pyEnd = std::min((j + 1) * kCell, g.Height);
            const int pxEnd = std::min((i + 1) * kCell, g.Width);
            for (int py = j * kCell; py < pyEnd; ++py) {
                const float fy = static_cast<float>(py - j * kCell) / kCell;
                for (int px = i * kCell; px < pxEnd; ++px) {
                    if (!smooth) {
                        put(px, py, place(px, py));
                        continue;
                    }
                    const float fx = static_cast<float>(px - i * kCell) / kCell;
                    TNode here;
                    here.X = (1 - fy) * ((1 - fx) * a.X + fx * b.X) + fy * ((1 - fx) * c.X + fx * d.X);
                    here.Y = (1 - fy) * ((1 - fx) * a.Y + fx * b.Y) + fy * ((1 - fx) * c.Y + fx * d.Y);
                    here.Placed = true;
                    put(px, py, here);
                }
            }
        }
    }

    // The boundaries, placed on the map by its own coordinates.
    if (in.Boundaries != nullptr) {
        TCanvas& canvas = out.Picture.Canvas();
        canvas.Pen.Color = in.LineColour;
        canvas.Pen.Width = in.PenWidth;
        const double west = crs.Geographic() && in.Crs.empty() ? g.Left : -1e300;
        const double east =
            crs.Geographic() && in.Crs.empty() ? g.Left + g.Width * g.StepX : 1e300;
        const TGeoExtent ground = GroundCells(grid);
        for (int s = 0; s < in.Boundaries->Count(); ++s) {
            const TLineSegment& segment = (*in.Boundaries)[s];
            if (!ground.Intersects(in.Boundaries->SegmentBox(s))) {
                continue;
            }
            bool drawing = false;
            int lastX = 0, lastY = 0;
            for (const BoundaryPoint& p : segment.Points) {
                double x = 0.0, y = 0.0;
                const double lon = unwrapped(p.lon);
                if (!crs.Forward(lon, p.lat, x, y) || lon < west - 5.0 || lon > east + 5.0) {
                    drawing = false;
                    continue;
                }
                const int mx = static_cast<int>(std::floor((x - g.Left) / g.StepX));
                const int my = static_cast<int>(std::floor((g.Top - y) / g.StepY));
                if (drawing && std::abs(mx - lastX) < g.Width / 2 &&
                    std::abs(my - lastY) < g.Height / 2) {
                    canvas.LineTo(mx, my);
                } else {
                    canvas.MoveTo(mx, my);
                }
                drawing = true;
                lastX = mx;
                lastY = my;
            }
        }
    }
    return out;
}

void WriteProjectedGeoTiff(const TProjectedPicture& projected, const std::string& fileName) {
    RegisterDrivers();
    const TQuietGdal quiet;
    if (projected.Grid.Width == 0 || projected.Grid.Height == 0) {
        throw EWriteError("Cannot write the GeoTIFF", "the pass covers no map", fileName);
    }
    TDataset ds = MemoryDataset(projected.Picture, &projected.Alpha);
    const TMapGrid& g = projected.Grid;
    double transform[6] = {g.Left, g.StepX, 0.0, g.Top, 0.0, -g.StepY};
    OGRSpatialReference srs;
    srs.importFromWkt(g.Wkt.c_str());
    if (ds->SetGeoTransform(transform) != CE_None || ds->SetSpatialRef(&srs) != CE_None) {
        throw EWriteError("Cannot write the GeoTIFF", TQuietGdal::Message(), fileName);
    }
    CopyToGeoTiff(*ds, fileName, true);
}

} // namespace vantorel
