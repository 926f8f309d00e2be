// Renders a synthetic Meteor-M N2 channel image of a real pass, with the decoder's
// .STAT files and a multi-Kepler file, for the sample in samples/.
//
// Every pixel's ground point comes from the scanner model on its own: the satellite's
// state from the element set, a look direction in the plane of the local vertical and
// the orbit normal at scan angle (column - 770.5) / 769.5 x 55.37 degrees (columns grow
// to the left of the direction of flight), and the nearer intersection with the WGS-72
// ellipsoid. Land and sea come from the boundary file's rings (even-odd fill on an
// 30 arc-second grid), with a little texture and some cloud. The content is shifted 20
// pixels left and 10 lines up, as real decoder images sit against the model.
//
// Usage: make_sample_pass COUNTRIES_DAT OUTPUT_FOLDER
#include "cartography/zorCartography.h"
#include "common/Angles.h"
#include "common/DateTime.h"
#include "common/Format.h"
#include "imaging/BMPExtImage.h"
#include "orbit/SGP_Time.h"
#include "orbit/Satellite.h"
#include "orbit/Support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

const std::string kLine1 = "1 40069U 14037A   20271.10206173 -.00000043  00000-0 -42512-6 0  9995";
const std::string kLine2 = "2 40069  98.4943 304.7538 0005678 359.8115   0.3056 14.20675232322649";

constexpr int kWidth = 1568;
constexpr int kLines = 4000;
constexpr double kLinePeriodSeconds = 0.1538925;
constexpr int kShiftColumns = 20; // content sits this far left of the model position
constexpr int kShiftLines = 10;   // and this far up

constexpr double kA = 6378.135;                   // WGS-72 equatorial radius, km
constexpr double kB = kA * (1.0 - 1.0 / 298.26); // polar radius, km

struct Vec {
    double x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y, s * a.z}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec Unit(Vec a) { return (1.0 / std::sqrt(Dot(a, a))) * a; }

// Land (1) or sea (0) on a grid of 30 arc-seconds (finer than the image's pixels),
// filled even-odd from every ring.
class LandMask {
public:
    static constexpr double kCellsPerDegree = 120.0;

    LandMask(const TCartogList& store, double south, double north, double west, double east)
        : south_(std::floor(south)), west_(std::floor(west)),
          rows_(static_cast<int>((std::ceil(north) - south_) * kCellsPerDegree)),
          cols_(static_cast<int>((std::ceil(east) - west_) * kCellsPerDegree)),
          cells_(static_cast<size_t>(rows_) * static_cast<size_t>(cols_), 0) {
        const double top = south_ + rows_ / kCellsPerDegree;
        for (int i = 0; i < store.Count(); ++i) {
            const TLineSegment& ring = store[i];
            if (ring.North < south_ || ring.South > top) {
                continue; // no row of the grid crosses it
            }
            const auto& pts = ring.Points;
            for (size_t k = 0; k < pts.size(); ++k) {
                const BoundaryPoint& p = pts[k];
                const BoundaryPoint& q = pts[(k + 1) % pts.size()];
                if (std::fabs(q.lon - p.lon) <= 180.0f) {
                    Toggle(p.lon, p.lat, q.lon, q.lat);
                    continue;
                }
                // An edge across the date line: on the plane it becomes a way up the
                // edge of the map on one side and down it on the other, by the pole, so
                // that each side's rows stay balanced.
                const double side = p.lon > 0 ? 180.0 : -180.0;
                Toggle(side, p.lat, side, 90.0);
                Toggle(-side, 90.0, -side, q.lat);
            }
        }
        for (int r = 0; r < rows_; ++r) {
            std::uint8_t inside = 0;
            for (int c = 0; c < cols_; ++c) {
                inside ^= cells_[static_cast<size_t>(r) * static_cast<size_t>(cols_) + static_cast<size_t>(c)];
                cells_[static_cast<size_t>(r) * static_cast<size_t>(cols_) + static_cast<size_t>(c)] = inside;
            }
        }
    }
    // Flips the parity of the cells east of where the edge crosses each row's centre.
    void Toggle(double lon0, double lat0, double lon1, double lat1) {
        const double y0 = (lat0 - south_) * kCellsPerDegree - 0.5;
        const double y1 = (lat1 - south_) * kCellsPerDegree - 0.5;
        const int r0 = std::max(0, static_cast<int>(std::ceil(std::min(y0, y1))));
        const int r1 = std::min(rows_ - 1, static_cast<int>(std::ceil(std::max(y0, y1))) - 1);
        for (int r = r0; r <= r1; ++r) {
            const double t = (r - y0) / (y1 - y0);
            const double x = (lon0 + t * (lon1 - lon0) - west_) * kCellsPerDegree - 0.5;
            const int c = static_cast<int>(std::clamp(std::ceil(x), 0.0, static_cast<double>(cols_)));
            if (c < cols_) {
                cells_[static_cast<size_t>(r) * static_cast<size_t>(cols_) + static_cast<size_t>(c)] ^= 1;
            }
        }
    }

    bool Land(double lat, double lon) const {
        const int r = static_cast<int>(std::floor((lat - south_) * kCellsPerDegree));
        const int c = static_cast<int>(std::floor((lon - west_) * kCellsPerDegree));
        if (r < 0 || r >= rows_ || c < 0 || c >= cols_) {
            return false;
        }
        return cells_[static_cast<size_t>(r) * static_cast<size_t>(cols_) + static_cast<size_t>(c)] != 0;
    }

private:
    double south_, west_;
    int rows_, cols_;
    std::vector<std::uint8_t> cells_;
};

// Smooth value noise in [0, 1] on the sphere's lat/lon (deterministic).
double Hash(int x, int y, int seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u +
                      static_cast<std::uint32_t>(seed) * 2147483647u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return static_cast<double>((h ^ (h >> 16)) & 0xFFFFFF) / 16777215.0;
}
double Noise(double x, double y, int seed) {
    const int xi = static_cast<int>(std::floor(x));
    const int yi = static_cast<int>(std::floor(y));
    const double fx = x - xi, fy = y - yi;
    const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const double a = Hash(xi, yi, seed), b = Hash(xi + 1, yi, seed);
    const double c = Hash(xi, yi + 1, seed), d = Hash(xi + 1, yi + 1, seed);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
}
double Fractal(double x, double y, int seed) {
    double sum = 0, amp = 0.5;
    for (int o = 0; o < 5; ++o) {
        sum += amp * Noise(x, y, seed + o);
        x *= 2.03;
        y *= 2.03;
        amp *= 0.5;
    }
    return sum / 0.96875;
}

// Nearer intersection of the ray P + d L with the ellipsoid; false when it misses.
bool HitEllipsoid(Vec p, Vec l, Vec& g) {
    const double e2 = (kA * kA) / (kB * kB);
    const double qa = l.x * l.x + l.y * l.y + e2 * l.z * l.z;
    const double qb = 2.0 * (p.x * l.x + p.y * l.y + e2 * p.z * l.z);
    const double qc = p.x * p.x + p.y * p.y + e2 * p.z * p.z - kA * kA;
    const double disc = qb * qb - 4 * qa * qc;
    if (disc < 0) {
        return false;
    }
    const double d = (-qb - std::sqrt(disc)) / (2 * qa);
    g = p + d * l;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_sample_pass COUNTRIES_DAT OUTPUT_FOLDER\n";
        return 2;
    }
    const std::string out = std::string(argv[2]) + "/";
    const TDateTime start = EncodeDateTime(2020, 9, 27, 8, 1, 0);
    TSatellite sat;
    sat.ParseElements(kLine1, kLine2);

    // Ground points of every pixel of the model image, which reaches past the picture by
    // the shift of its content.
    constexpr int kModelWidth = kWidth + kShiftColumns;
    constexpr int kModelLines = kLines + kShiftLines;
    std::vector<float> lat(static_cast<size_t>(kModelWidth) * kModelLines), lon(lat.size());
    double south = 90, north = -90, west = 180, east = -180;
    for (int line = 0; line < kModelLines; ++line) {
        const double jd = DateTimeToJD(start + line * kLinePeriodSeconds / 86400.0);
        TVector p, v;
        sat.Propagate(jd, p, v);
        StateToKilometres(p, v);
        const Vec P{p.X, p.Y, p.Z};
        const Vec up = Unit(P);
        const Vec across = Unit(Cross(P, Vec{v.X, v.Y, v.Z}));
        for (int col = 0; col < kModelWidth; ++col) {
            const double a = (col - 770.5) / 769.5 * 55.37 * kPi / 180.0;
            const Vec look = Unit((-std::cos(a)) * up + std::sin(a) * across);
            Vec g{};
            const size_t i = static_cast<size_t>(line) * kModelWidth + static_cast<size_t>(col);
            if (!HitEllipsoid(P, look, g)) {
                lat[i] = lon[i] = NAN;
                continue;
            }
            TVector gv{g.x, g.y, g.z, std::sqrt(Dot(g, g))};
            const TGeodetic geo = GeodeticPosition(jd, gv);
            double lo = geo.Longitude * 180.0 / kPi;
            if (lo > 180.0) {
                lo -= 360.0;
            }
            lat[i] = static_cast<float>(geo.Latitude * 180.0 / kPi);
            lon[i] = static_cast<float>(lo);
            south = std::min(south, static_cast<double>(lat[i]));
            north = std::max(north, static_cast<double>(lat[i]));
            west = std::min(west, lo);
            east = std::max(east, lo);
        }
    }
    std::cout << Format("Pass %s: %.2f..%.2f N, %.2f..%.2f E\n",
                        FormatDateTime("yyyy-mm-dd hh:nn:ss", start), south, north, west, east);

    TCartogList store;
    store.LoadBoundaryFiles(argv[1]);
    const LandMask mask(store, south - 1, north + 1, west - 1, east + 1);

    TExtBitmap image;
    image.SetPixelFormat(TPixelFormat::pf8bit);
    image.EnsureGrayPalette();
    image.SetSize(kWidth, kLines);
    for (int y = 0; y < kLines; ++y) {
        std::uint8_t* row = image.ScanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            // This pixel shows the ground of the model pixel (x + 20, y + 10).
            const size_t i = static_cast<size_t>(y + kShiftLines) * kModelWidth +
                             static_cast<size_t>(x + kShiftColumns);
            if (std::isnan(lat[i])) {
                row[x] = 0;
                continue;
            }
            const double la = lat[i], lo = lon[i];
            const bool land = mask.Land(la, lo);
            const double texture = Fractal(lo * 6.0, la * 9.0, 7);
            double v = land ? 105.0 + 50.0 * (texture - 0.5) : 38.0 + 8.0 * (texture - 0.5);
            const double cloud = Fractal(lo * 1.3 + 40.0, la * 2.1, 91);
            // Clouds with sharp edges, so that land and sea stay easy to tell apart.
            const double alpha = std::clamp((cloud - 0.66) * 25.0, 0.0, 0.9);
            v = v * (1 - alpha) + 235.0 * alpha;
            row[x] = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
    // The decoder names the file by the local clock of the recording computer (here UTC)
    // a moment before the first line; its .STAT clock runs 3 hours ahead of UTC.
    const std::string base = out + "2020_09_27_08_00_58_";
    image.SaveToFile(base + "64.bmp");
    for (const char* channel : {"64", "65", "68"}) {
        std::ofstream stat(base + channel + ".stat", std::ios::binary);
        stat << "11:01:00.000\r\n" << kLines << " lines\r\n" << "0,1538925\r\n";
    }
    std::ofstream keps(out + "keps/meteor.txt", std::ios::binary);
    keps << "METEOR-M 2\r\n" << kLine1 << "\r\n" << kLine2 << "\r\n";
    std::cout << "Wrote " << base << "64.bmp and its .STAT files\n";
    return 0;
}
