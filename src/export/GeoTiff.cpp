// GeoTIFFs and map coordinates through the GDAL module, loaded on the first use (see
// GdalModule.h); the resampling and the drawing are ours.
#include "export/GeoTiff.h"

#include "cartography/GeoExtent.h"
#include "cartography/zorCartography.h"
#include "common/Angles.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Module.h"
#include "common/Parallel.h"
#include "export/GdalModule.h"
#include "imaging/Canvas.h"
#include "mapping/MapWithWarp.h"
#include "mapping/zorMapping.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace vantorel {
namespace {

gdal::TModule& Gdal() {
    const auto& loaded = LoadModuleOnce<gdal::TModule>("vantorel-gdal.so", "VantorelGdalModule");
    if (loaded.Module == nullptr) {
        throw std::runtime_error(
            "GeoTIFFs need the GDAL module vantorel-gdal.so, which cannot be loaded (" +
            loaded.Failure + ")");
    }
    return *loaded.Module;
}

// The picture's pixels as the module takes them: grey as it is, anything else as B, G, R
// (converted into `rgb` when it is not 24-bit already).
gdal::TRaster RasterOf(const TBitmap& picture, const TByteBuffer* alpha, TBitmap& rgb) {
    const TBitmap* source = &picture;
    const bool grey = picture.PixelFormat() == TPixelFormat::pf8bit &&
                      picture.Palette() == GrayRamp() && alpha == nullptr;
    if (!grey && picture.PixelFormat() != TPixelFormat::pf24bit) {
        rgb = picture;
        rgb.SetPixelFormat(TPixelFormat::pf24bit);
        source = &rgb;
    }
    return {source->Bits().data(), source->Width(), source->Height(), source->Stride(),
            grey ? 1 : 3, alpha != nullptr ? alpha->data() : nullptr};
}

void Write(const TBitmap& picture, const TByteBuffer* alpha, const gdal::TGeoreference& where,
           const std::string& fileName) {
    gdal::TModule& module = Gdal();
    TBitmap rgb;
    const gdal::TRaster raster = RasterOf(picture, alpha, rgb);
    if (const auto failed = module.WriteGeoTiff(raster, where, fileName)) {
        if (failed->AtFile) {
            throw EWriteError(failed->What, failed->Why, fileName);
        }
        throw EWriteError(failed->What, failed->Why);
    }
}

// A coordinate system the module reads; std::invalid_argument when it cannot be used.
std::unique_ptr<gdal::TCrs> CrsOf(const std::string& name) {
    std::string error;
    std::unique_ptr<gdal::TCrs> crs = Gdal().Crs(name, error);
    if (!crs) {
        throw std::invalid_argument(error);
    }
    return crs;
}

// The colour of the picture (8-bit grey or 24-bit B, G, R) at a place (pixel centres at
// whole numbers), into bgr; false off the picture or on a lost line. Runs for every map
// pixel: the rows are found by arithmetic, not by the bitmap's checked look-up.
class TSampler {
public:
    TSampler(const TBitmap& image, std::span<const char> lost)
        : rows_(image.Height() > 0 ? image.ScanLine(0) : nullptr),
          stride_(image.Height() > 1 ? image.ScanLine(1) - image.ScanLine(0) : 0),
          width_(image.Width()), height_(image.Height()),
          bpp_(image.PixelFormat() == TPixelFormat::pf24bit ? 3 : 1), lost_(lost) {}

    bool operator()(double x, double y, std::uint8_t* bgr) const {
        // Also false for NaN.
        if (!(x >= 0.0 && y >= 0.0 && x < width_ - 1 && y < height_ - 1)) {
            return false;
        }
        const int x0 = static_cast<int>(x);
        const int y0 = static_cast<int>(y);
        if (Lost(y0) || Lost(y0 + 1)) {
            return false;
        }
        const double fx = x - x0, fy = y - y0;
        const std::uint8_t* a = rows_ + y0 * stride_ + static_cast<std::ptrdiff_t>(x0) * bpp_;
        const std::uint8_t* b = a + stride_;
        const auto level = [&](int c) {
            const double v = (1 - fy) * ((1 - fx) * a[c] + fx * a[c + bpp_]) +
                             fy * ((1 - fx) * b[c] + fx * b[c + bpp_]);
            return static_cast<std::uint8_t>(v + 0.5);
        };
        if (bpp_ == 1) {
            bgr[0] = bgr[1] = bgr[2] = level(0);
        } else {
            bgr[0] = level(0);
            bgr[1] = level(1);
            bgr[2] = level(2);
        }
        return true;
    }

private:
    bool Lost(int line) const {
        return static_cast<std::size_t>(line) < lost_.size() &&
               lost_[static_cast<std::size_t>(line)] != 0;
    }

    const std::uint8_t* rows_;
    std::ptrdiff_t stride_;
    int width_;
    int height_;
    int bpp_;
    std::span<const char> lost_;
};

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
    Write(picture, nullptr, {points, std::nullopt, ""}, fileName);
}

namespace {

// Longitudes followed from the middle of the pass, so that a pass across the antimeridian
// stays whole on a longitude/latitude grid.
struct TUnwrap {
    bool Unwrap = false;
    double CentreLon = 0.0;
    double operator()(double lon) const {
        return Unwrap ? CentreLon + WrapDegrees180(lon - CentreLon) : lon;
    }
};

// The map grid that covers the ground table: its extent, and a pixel of the step asked
// for or about the picture's own. False when the ground has no extent in the system.
bool CoverGround(const TProjectionInput& in, const gdal::TCrs& crs, const TUnwrap& unwrapped,
                 TMapGrid& g) {
    const LocationGrid& grid = *in.Grid;
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
        return false;
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
    return true;
}

// Each map pixel takes the picture's colour where it lies on the picture (alpha 255 where
// there is one): exactly at the nodes of a lattice every kCell pixels, between them by
// interpolation where the four nodes agree. Bands of cells on every core, each with a
// coordinate system of its own (a transformation is not to be shared between threads).
void Resample(const TProjectionInput& in, TProjectedPicture& out) {
    const TMapGrid& g = out.Grid;
    constexpr int kCell = 8;
    const int nx = g.Width / kCell + 2;
    const int ny = g.Height / kCell + 2;
    struct TNode {
        float X = 0.0f, Y = 0.0f;
        bool Placed = false;
    };
    // The ground at a map pixel's centre as the mapping takes it; false off the globe.
    const auto groundOf = [&](const gdal::TCrs& crs, double px, double py, TLonLat& at) {
        double lon = 0.0, lat = 0.0;
        if (!crs.Inverse(g.Left + (px + 0.5) * g.StepX, g.Top - (py + 0.5) * g.StepY, lon, lat) ||
            !(std::fabs(lat) <= 90.0)) {
            return false;
        }
        at = {static_cast<float>(WrapDegrees180(lon)), static_cast<float>(lat)};
        return true;
    };
    // Where the picture shows a place, the overlay's offsets applied.
    const auto nodeOf = [&](float x, float y, bool placed) {
        return TNode{x + static_cast<float>(in.PixelOffset), y - static_cast<float>(in.LineOffset),
                     placed};
    };
    auto place = [&](const gdal::TCrs& crs, double px, double py) {
        TLonLat at;
        if (!groundOf(crs, px, py, at)) {
            return TNode{};
        }
        float x = 0.0f, y = 0.0f;
        const bool placed = in.Mapping->LatLonToImageF(x, y, at.lon, at.lat, true);
        return nodeOf(x, y, placed);
    };
    // The nodes a row at a time, through the mapping's batch placing (the same places).
    std::vector<TNode> nodes(static_cast<std::size_t>(nx) * ny);
    const int threads = ThreadsFor(static_cast<long long>(g.Width) * g.Height, 1 << 20);
    ForEachPart(ny, threads, [&](long long first, long long end) {
        const std::unique_ptr<gdal::TCrs> crs = CrsOf(in.Crs);
        std::vector<TLonLat> ground(static_cast<std::size_t>(nx));
        std::vector<char> onGround(static_cast<std::size_t>(nx));
        std::vector<float> x(static_cast<std::size_t>(nx)), y(static_cast<std::size_t>(nx));
        const auto ok = std::make_unique<bool[]>(static_cast<std::size_t>(nx));
        for (auto j = static_cast<int>(first); j < end; ++j) {
            for (std::size_t k = 0; k < ground.size(); ++k) {
                ground[k] = {};
                onGround[k] = groundOf(*crs, static_cast<double>(k) * kCell,
                                       static_cast<double>(j) * kCell, ground[k]);
            }
            in.Mapping->LatLonToImageF(ground, x.data(), y.data(), ok.get(), true);
            for (std::size_t k = 0; k < ground.size(); ++k) {
                if (onGround[k]) {
                    nodes[static_cast<std::size_t>(j) * nx + k] = nodeOf(x[k], y[k], ok[k]);
                }
            }
        }
    });
    out.Picture.SetPixelFormat(TPixelFormat::pf24bit);
    // Cleared by the rows' own threads below, as they are first written.
    out.Picture.SetSizeForOverwrite(g.Width, g.Height);
    out.Alpha.resize(static_cast<std::size_t>(g.Width) * g.Height);
    const TSampler sample(*in.Channel, in.LostLines);
    auto put = [&](int px, int py, const TNode& at) {
        if (at.Placed && sample(at.X, at.Y, out.Picture.ScanLine(py) + 3 * px)) {
            out.Alpha[static_cast<std::size_t>(py) * g.Width + px] = 255;
        }
    };
    const auto drawCells = [&](const gdal::TCrs& crs, long long firstRow, long long endRow) {
        for (auto py = static_cast<int>(firstRow) * kCell;
             py < std::min(static_cast<int>(endRow) * kCell, g.Height); ++py) {
            std::memset(out.Picture.ScanLine(py), 0, static_cast<std::size_t>(3) * g.Width);
            std::memset(out.Alpha.data() + static_cast<std::size_t>(py) * g.Width, 0,
                        static_cast<std::size_t>(g.Width));
        }
        for (auto j = static_cast<int>(firstRow); j < endRow; ++j) {
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
                            put(px, py, place(crs, px, py));
                            continue;
                        }
                        const float fx = static_cast<float>(px - i * kCell) / kCell;
                        TNode here;
                        here.X = (1 - fy) * ((1 - fx) * a.X + fx * b.X) +
                                 fy * ((1 - fx) * c.X + fx * d.X);
                        here.Y = (1 - fy) * ((1 - fx) * a.Y + fx * b.Y) +
                                 fy * ((1 - fx) * c.Y + fx * d.Y);
                        here.Placed = true;
                        put(px, py, here);
                    }
                }
            }
        }
    };
    // Parts of rows of cells, taken as they come: the swath crosses the map aslant, so
    // halves of it differ in work. Each part has a coordinate system of its own, made and
    // ended on its thread (GDAL keeps the quiet error handling per thread).
    const int parts = threads == 1 ? 1 : std::min(ny - 1, 4 * threads);
    ForEachPart(ny - 1, parts, [&](long long firstRow, long long endRow) {
        drawCells(*CrsOf(in.Crs), firstRow, endRow);
    });
}

// The map grid as a mapping: a longitude and latitude to the map pixel that holds it, so
// that the boundaries are drawn on the map by the cartography's own drawing. That drawing
// projects on every core, and a coordinate system serves one thread at a time: the calls
// take turns.
class TMapGridMapping final : public TMapping {
public:
    TMapGridMapping(const TMapGrid& grid, const gdal::TCrs& crs, const TUnwrap& unwrapped)
        : grid_(grid), crs_(crs), unwrap_(unwrapped) {
        west_ = unwrapped.Unwrap ? grid.Left - 5.0 : -1e300;
        east_ = unwrapped.Unwrap ? grid.Left + grid.Width * grid.StepX + 5.0 : 1e300;
        SetMapWidth(grid.Width);
        SetMapHeight(grid.Height);
    }
    bool LatLonToImage(int& x, int& y, float lon, float lat) const override {
        const std::lock_guard lock(mutex_);
        return Place(lon, lat, x, y);
    }
    void LatLonToImage(std::span<const TLonLat> from, TProjectedPixel* to) const override {
        const std::lock_guard lock(mutex_);
        for (const TLonLat& p : from) {
            to->onMap = Place(p.lon, p.lat, to->x, to->y);
            ++to;
        }
    }

private:
    bool Place(float lon, float lat, int& x, int& y) const {
        double mx = 0.0, my = 0.0;
        const double east = unwrap_(lon);
        if (!crs_.Forward(east, lat, mx, my) || east < west_ || east > east_) {
            return false;
        }
        const double column = std::floor((mx - grid_.Left) / grid_.StepX);
        const double row = std::floor((grid_.Top - my) / grid_.StepY);
        constexpr double kFar = 1 << 30; // beyond any map, and within an int
        if (!(std::fabs(column) < kFar && std::fabs(row) < kFar)) {
            return false;
        }
        x = static_cast<int>(column);
        y = static_cast<int>(row);
        return true;
    }

    const TMapGrid& grid_;
    const gdal::TCrs& crs_;
    TUnwrap unwrap_;
    double west_ = 0.0;
    double east_ = 0.0;
    mutable std::mutex mutex_;
};

// The boundaries over the map, drawn as over the picture (a line breaks where it jumps half
// the map across).
void DrawBoundariesOnMap(const TProjectionInput& in, const gdal::TCrs& crs,
                         const TUnwrap& unwrapped, TProjectedPicture& out) {
    const TMapGridMapping mapping(out.Grid, crs, unwrapped);
    TCartogList boundaries(*in.Boundaries, TCartogList::TShareSegments{});
    boundaries.Mapping = &mapping;
    boundaries.JumpLimit = std::max(1, out.Grid.Width / 2 - 1);
    boundaries.ClosePolylines = false;
    boundaries.KeepCover = false; // drawn once
    TCanvas& canvas = out.Picture.Canvas();
    canvas.Pen.Color = in.LineColour;
    canvas.Pen.Width = in.PenWidth;
    canvas.Brush.Style = TBrushStyle::bsClear;
    // Only where the picture is: beyond the swath the map is transparent.
    const TGeoExtent ground = GroundCells(*in.Grid);
    boundaries.DrawBoundariesOnCanvas(canvas, 0, 0, &ground);
}

} // namespace

TProjectedPicture ProjectPicture(const TProjectionInput& in) {
    const std::unique_ptr<gdal::TCrs> crsOwned = CrsOf(in.Crs);
    const gdal::TCrs& crs = *crsOwned;
    TProjectedPicture out;
    out.Grid.Crs = in.Crs;
    out.Grid.Wkt = crs.Wkt();
    if (in.Grid->empty() || in.Channel == nullptr || in.Mapping == nullptr) {
        return out;
    }
    const LocationGrid& grid = *in.Grid;
    const TUnwrap unwrapped{crs.Geographic() && in.Crs.empty(),
                            grid[grid.size() / 2][kNadirColumn].lon};
    if (!CoverGround(in, crs, unwrapped, out.Grid)) {
        return out;
    }
    Resample(in, out);
    if (in.Boundaries != nullptr) {
        DrawBoundariesOnMap(in, crs, unwrapped, out);
    }
    return out;
}

void WriteProjectedGeoTiff(const TProjectedPicture& projected, const std::string& fileName) {
    if (projected.Grid.Width == 0 || projected.Grid.Height == 0) {
        throw EWriteError("Cannot write the GeoTIFF", "the pass covers no map", fileName);
    }
    const TMapGrid& g = projected.Grid;
    WriteWhole(fileName, [&](const std::string& file) {
        Write(projected.Picture, &projected.Alpha,
              {{}, std::array<double, 6>{g.Left, g.StepX, 0.0, g.Top, 0.0, -g.StepY}, g.Wkt}, file);
    });
    // The world file names the centre of the top-left pixel, one value a line.
    const std::string world = Format("%.10f\n%.10f\n%.10f\n%.10f\n%.10f\n%.10f\n", g.StepX, 0.0,
                                     0.0, -g.StepY, g.Left + g.StepX / 2.0, g.Top - g.StepY / 2.0);
    ReplaceFileContents(ChangeFileExt(fileName, ".tfw"), world);
}

void CheckCoordinateSystem(const std::string& crs) {
    (void)CrsOf(crs);
}

} // namespace vantorel
