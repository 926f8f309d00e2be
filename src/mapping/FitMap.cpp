// The fit of the warped mapping to one image's location grid.
// Choices where the plain rules leave one open: a failed great-circle computation counts
// as distance 0 and bearing 0; the along-track rotation estimate is logged as 0.00 when
// the image has fewer than 27 lines (rows mid - 13 and mid + 13 do not exist); a track
// step that is not a number counts as invalid. No row outside the grid is ever read.
#include "mapping/FitMap.h"

#include "common/Angles.h"
#include "common/Format.h"
#include "common/Notifier.h"
#include "common/StringList.h"
#include "mapping/CurveFit.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace vantorel {

namespace {

struct Account {
    TStringList* diagnostics;
    bool logOnly;
    INotifier& notifier;

    void Log(const std::string& line) const {
        if (diagnostics != nullptr) {
            diagnostics->Add(line);
        }
    }
    void Report(const std::string& line) const {
        if (logOnly) {
            Log(line);
        } else {
            notifier.ShowMessage(line);
        }
    }
};

bool HasLocation(const GeoPoint& p) {
    return p.lat != 0.0f && p.lon != 0.0f;
}

float Distance(const GeoPoint& a, const GeoPoint& b) {
    float d = 0.0f;
    float bearing = 0.0f;
    return GreatCircleDistanceBearing(d, bearing, a.lon, a.lat, b.lon, b.lat) ? d : 0.0f;
}

float Bearing(const GeoPoint& a, const GeoPoint& b) {
    float d = 0.0f;
    float bearing = 0.0f;
    return GreatCircleDistanceBearing(d, bearing, a.lon, a.lat, b.lon, b.lat) ? bearing : 0.0f;
}

struct GridLayout {
    int centre;
    int first;
    int spacing;
};

GridLayout LayoutOf(std::uint8_t format) {
    if (format == 4 || format == 5) {
        return {770, 21, 30};
    }
    return {1024, 24, 40};
}

// Fits v ~ c0 + c1 u + ... and returns the coefficients and the correlation.
std::vector<double> Fit(const std::vector<double>& u, const std::vector<double>& v, int terms,
                        double& correl) {
    std::vector<double> c(static_cast<size_t>(terms), 0.0);
    PolyFit(u, v, c, correl, static_cast<int>(u.size()), terms);
    return c;
}

} // namespace

float MeanTrackStep(std::span<const GeoRow> rows, int row) {
    const long lo = static_cast<long>(row) - 20;
    const long hi = static_cast<long>(row) + 20;
    if (lo < 0 || hi >= static_cast<long>(rows.size())) {
        return 0.0f;
    }
    double sum = 0.0;
    for (int k = 0; k < kGridColumns; ++k) {
        sum += Distance(rows[static_cast<size_t>(lo)][static_cast<size_t>(k)],
                        rows[static_cast<size_t>(hi)][static_cast<size_t>(k)]);
    }
    return static_cast<float>(sum / 2040.0);
}

bool FitMapToImage(std::span<const GeoRow> rows, int lineCount, TStringList* diagnostics,
                   float altitudeKm, float halfAngleDeg, std::uint8_t format,
                   TWarpedMapping& mapping, std::shared_ptr<ResidualGrid>& residuals, bool logOnly,
                   INotifier& notifier) {
    if (lineCount < 0 || static_cast<size_t>(lineCount) > rows.size()) {
        throw std::invalid_argument("FitMapToImage: fewer grid rows than image lines");
    }
    const Account account{diagnostics, logOnly, notifier};
    const int nLines = lineCount;
    const int mid = nLines / 2;
    auto at = [&rows](int row, int column) -> const GeoPoint& {
        return rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
    };

    account.Log("Scale and warp map projection to match image");
    if (nLines < 3) {
        account.Log("Cannot do any mapping with less then three lines!");
        return false;
    }

    // Track step, km per image line.
    float step = 0.0f;
    if (nLines <= 41) {
        double sum = 0.0;
        for (int k = 0; k < kGridColumns; ++k) {
            sum += Distance(at(mid - 1, k), at(mid + 1, k));
        }
        const double measured = sum / kGridColumns / 2.0;
        step = measured < 2.2 ? 1.09f : 3.27f;
        account.Log(Format("  Ground track step per line (assumed) : %.2f km", step));
    } else {
        step = MeanTrackStep(rows.first(static_cast<size_t>(nLines)), mid);
        if (nLines > 400) {
            for (int i = 1; i <= 5; ++i) {
                const float s =
                    MeanTrackStep(rows.first(static_cast<size_t>(nLines)), (i * mid) / 3);
                if (s > 0.4f && s < step) {
                    step = s;
                }
            }
        }
        account.Log(Format("  Ground track step per line (from locations) : %.3f km", step));
    }
    if (!(step >= 0.5f)) {
        account.Log("Track step invalid!");
        return false;
    }

    const GeoPoint& centre = at(mid, kNadirColumn);
    mapping.InitialiseForPass(format, mid, centre.lon, centre.lat, altitudeKm, step, halfAngleDeg);
    account.Log(Format(
        "  Mid-picture line num: %d,  lon = %.2f degrees  lat = %.2f degrees  altitude = %.1f km",
        mid, centre.lon, centre.lat, altitudeKm));
    const std::uint8_t usedFormat = mapping.ScanFormat();

    // Rotation: three estimates, the third is used.
    const double acrossGreatCircle = static_cast<double>(Bearing(at(mid, 24), at(mid, 26))) - 90.0;
    double alongTrack = 0.0;
    if (mid - 13 >= 0 && mid + 13 < nLines) {
        alongTrack = Bearing(at(mid - 13, kNadirColumn), at(mid + 13, kNadirColumn));
    }
    double acrossOriginal = 0.0;
    {
        float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
        mapping.LatLonToImageF(x1, y1, at(mid, 5).lon, at(mid, 5).lat, false);
        mapping.LatLonToImageF(x2, y2, at(mid, 45).lon, at(mid, 45).lat, false);
        if (y2 != y1) {
            acrossOriginal =
                std::atan2(static_cast<double>(y2) - y1, static_cast<double>(x2) - x1) *
                kRadiansToDegrees;
        }
    }
    account.Log(Format("  Image rotation estimate: %f degrees (across track, great-circle)",
                       acrossGreatCircle));
    account.Log(
        Format("  Image rotation estimate: %f degrees (along track, great-cicle)", alongTrack));
    account.Log(
        Format("  Image rotation estimate: %f degrees (across track, original)", acrossOriginal));
    mapping.SetRotation(static_cast<float>(acrossOriginal));
    account.Log(Format("  Image rotation used: %f degrees", mapping.RotationDegrees()));

    const int n = (9 * nLines) / 520;
    if (n < 1) {
        account.Report("Cannot map earth locations with less than 60 lines of data.");
        return false;
    }

    // The nadir points of 51 rows n lines apart around the middle, those with a location,
    // projected without the scan table through the mapping as it stands.
    auto forEachNadirSample = [&](const auto& take) {
        for (int j = 0; j < kGridColumns; ++j) {
            const int row = mid + (j - kNadirColumn) * n;
            if (row < 0 || row >= nLines) {
                continue;
            }
            const GeoPoint& p = at(row, kNadirColumn);
            if (!HasLocation(p)) {
                continue;
            }
            float xp = 0.0f, yp = 0.0f;
            mapping.LatLonToImageF(xp, yp, p.lon, p.lat, false);
            take(row, xp, yp);
        }
    };

    // Vertical warp.
    {
        std::vector<double> u;
        std::vector<double> v;
        forEachNadirSample([&](int row, float /*xp*/, float yp) {
            u.push_back((static_cast<double>(yp) - mid) * (-2.0) / nLines);
            v.push_back(2.0 * (mid - row) / static_cast<double>(nLines));
        });
        if (u.empty()) {
            account.Report("No viable location data");
            return false;
        }
        double r = 0.0;
        const auto c = Fit(u, v, 3, r);
        account.Log(Format("  Vertical map warp:    %.5f Y^2 + %.5f Y + %.5f  (correl: %.6f)", c[2],
                           c[1], c[0], r));
        mapping.SetVerticalWarp(static_cast<float>(c[2]), static_cast<float>(c[1]),
                                static_cast<float>(c[0]));
    }

    // Horizontal warp from the 51 columns of the middle row.
    const GridLayout layout = LayoutOf(usedFormat);
    {
        std::vector<double> u;
        std::vector<double> v;
        const int halfW = mapping.GetMapHeight() / 2;
        for (int j = 0; j < kGridColumns; ++j) {
            const int pos = layout.first + layout.spacing * j;
            const GeoPoint& p = at(mid, j);
            float xp = 0.0f, yp = 0.0f;
            mapping.LatLonToImageF(xp, yp, p.lon, p.lat, false);
            u.push_back(static_cast<double>(xp) - halfW);
            v.push_back(mapping.ScanToGround(pos - layout.centre));
        }
        double r = 0.0;
        const auto c = Fit(u, v, 4, r);
        account.Log(Format("  Horizontal map warp:  %.5g X^3 + %.5g X^2 + %.5g X + (offset: "
                           "%.5g)  (correl: %.6f)",
                           c[3], c[2], c[1], c[0], r));
        mapping.SetHorizontalWarp(static_cast<float>(c[3]), static_cast<float>(c[2]),
                                  static_cast<float>(c[1]));
    }

    // Horizontal skew from the same nadir points, now through rotation and warps.
    {
        std::vector<double> u;
        std::vector<double> v;
        const int h = mapping.GetMapHeight() / 2;
        forEachNadirSample([&](int row, float xp, float /*yp*/) {
            u.push_back(static_cast<double>(mid - row) / h);
            v.push_back((static_cast<double>(xp) - h) / h);
        });
        if (u.empty()) {
            account.Report("No viable location data");
            return false;
        }
        double r = 0.0;
        const auto c = Fit(u, v, 3, r);
        account.Log(Format("  Horizontal map skew:  %.5f Y^2 +  %.5f Y + %.5f  (correl: %.6f)",
                           c[2], c[1], c[0], r));
        mapping.SetHorizontalSkew(static_cast<float>(-c[2]), static_cast<float>(-c[1]),
                                  static_cast<float>(-c[0]));
    }

    // Residual grid: what the polynomials leave, per line and grid column.
    auto grid = std::make_shared<ResidualGrid>(static_cast<size_t>(nLines));
    for (int l = 0; l < nLines; ++l) {
        ResidualRow& out = (*grid)[static_cast<size_t>(l)];
        if (at(l, 0).lat == 0.0f) {
            out = l == 0 ? ResidualRow{} : (*grid)[static_cast<size_t>(l - 1)];
            continue;
        }
        for (int j = 0; j < kGridColumns; ++j) {
            const int pos = layout.first + layout.spacing * j;
            float xi = 0.0f, yi = 0.0f;
            mapping.LatLonToImageF(xi, yi, at(l, j).lon, at(l, j).lat, true);
            out[static_cast<size_t>(j)] = {static_cast<float>(pos) - xi,
                                           static_cast<float>(l) - yi};
        }
    }
    residuals = grid;
    mapping.SetResidualGrid(grid, nLines, layout.first, layout.spacing, kGridColumns);
    return true;
}

} // namespace vantorel
