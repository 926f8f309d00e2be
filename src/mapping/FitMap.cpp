// The fit of the warped mapping to one image's location grid.
// Choices where the plain rules leave one open: a failed great-circle computation counts
// as distance 0 and bearing 0; the along-track rotation estimate is logged as 0.00 when
// the image has fewer than 27 lines (rows mid - 13 and mid + 13 do not exist); a track
// step that is not a number counts as invalid. No row outside the grid is ever read.
// Where it goes further than the plain rules: a picture of 3 to 57 lines, too short for 51
// nadir samples a whole number of lines apart, is fitted from every line's nadir point with
// straight lines for the vertical warp and the skew instead of being given up; and the
// residual grid reaches past the outer samples to the picture's first and last columns.
#include "mapping/FitMap.h"

#include "common/Angles.h"
#include "common/Format.h"
#include "common/Parallel.h"
#include "mapping/CurveFit.h"
#include "mapping/ScanLineEdges.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace vantorel {

namespace {

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

// Fits v ~ c0 + c1 u + ... and returns the coefficients (at least three; those past the
// fit's terms are 0, as the account prints three) and the correlation.
std::vector<double> Fit(const std::vector<double>& u, const std::vector<double>& v, int terms,
                        double& correl) {
    std::vector<double> c(static_cast<size_t>(std::max(terms, 3)), 0.0);
    PolyFit(u, v, c, correl, static_cast<int>(u.size()), terms);
    return c;
}

// One fit of one image: the grid, the mapping it sets up, and the account it keeps. Each
// step returns false when the fit ends there.
class TImageFit {
public:
    TImageFit(std::span<const GeoRow> rows, const TFitOptions& options, TWarpedMapping& mapping)
        : rows_(rows), options_(options), mapping_(mapping), lines_(options.lineCount),
          mid_(options.lineCount / 2) {}

    TFitResult Run() {
        Log("Scale and warp map projection to match image");
        if (lines_ < 3) {
            Log("Cannot do any mapping with less then three lines!");
            return std::move(result_);
        }
        const float step = TrackStep();
        if (!(step >= 0.5f)) {
            Log("Track step invalid!");
            return std::move(result_);
        }
        InitialiseAtCentre(step);
        FitRotation();
        sampleSpacing_ = (9 * lines_) / 520;
        if (sampleSpacing_ < 1) {
            // Too few lines for 51 samples apart: every line's nadir point, and straight
            // lines, as over so short a stretch of track there is no curve to fit.
            sampleSpacing_ = 1;
            nadirTerms_ = 2;
            Log(Format("  Short picture (%d lines): vertical warp and skew fitted as straight "
                       "lines to every line",
                       lines_));
        }
        if (!FitVerticalWarp()) {
            return std::move(result_);
        }
        FitHorizontalWarp();
        if (!FitHorizontalSkew()) {
            return std::move(result_);
        }
        FitResiduals();
        result_.fitted = true;
        return std::move(result_);
    }

private:
    const GeoPoint& At(int row, int column) const {
        return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    void Log(std::string line) { result_.account.push_back(std::move(line)); }

    // Km per image line: assumed from the middle rows of short images, measured over 40
    // lines (the smallest of six places on long ones) otherwise.
    float TrackStep() {
        float step = 0.0f;
        if (lines_ <= 41) {
            double sum = 0.0;
            for (int k = 0; k < kGridColumns; ++k) {
                sum += Distance(At(mid_ - 1, k), At(mid_ + 1, k));
            }
            const double measured = sum / kGridColumns / 2.0;
            step = measured < 2.2 ? 1.09f : 3.27f;
            Log(Format("  Ground track step per line (assumed) : %.2f km", step));
            return step;
        }
        const auto image = rows_.first(static_cast<size_t>(lines_));
        step = MeanTrackStep(image, mid_);
        if (lines_ > 400) {
            for (int i = 1; i <= 5; ++i) {
                const float s = MeanTrackStep(image, (i * mid_) / 3);
                if (s > 0.4f && s < step) {
                    step = s;
                }
            }
        }
        Log(Format("  Ground track step per line (from locations) : %.3f km", step));
        return step;
    }

    void InitialiseAtCentre(float step) {
        const GeoPoint& centre = At(mid_, kNadirColumn);
        mapping_.InitialiseForPass(options_.format, mid_, centre.lon, centre.lat,
                                   options_.altitudeKm, step, options_.halfAngleDeg);
        Log(Format("  Mid-picture line num: %d,  lon = %.2f degrees  lat = %.2f degrees  "
                   "altitude = %.1f km",
                   mid_, centre.lon, centre.lat, options_.altitudeKm));
    }

    // Three estimates are logged; the third (the middle row's slope through the
    // projection as it stands) is used.
    void FitRotation() {
        const double acrossGreatCircle =
            static_cast<double>(Bearing(At(mid_, 24), At(mid_, 26))) - 90.0;
        double alongTrack = 0.0;
        if (mid_ - 13 >= 0 && mid_ + 13 < lines_) {
            alongTrack = Bearing(At(mid_ - 13, kNadirColumn), At(mid_ + 13, kNadirColumn));
        }
        double acrossOriginal = 0.0;
        float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
        mapping_.LatLonToImageF(x1, y1, At(mid_, 5).lon, At(mid_, 5).lat, false);
        mapping_.LatLonToImageF(x2, y2, At(mid_, 45).lon, At(mid_, 45).lat, false);
        if (y2 != y1) {
            acrossOriginal =
                std::atan2(static_cast<double>(y2) - y1, static_cast<double>(x2) - x1) *
                kRadiansToDegrees;
        }
        Log(Format("  Image rotation estimate: %f degrees (across track, great-circle)",
                   acrossGreatCircle));
        Log(Format("  Image rotation estimate: %f degrees (along track, great-cicle)", alongTrack));
        Log(Format("  Image rotation estimate: %f degrees (across track, original)",
                   acrossOriginal));
        mapping_.SetRotation(static_cast<float>(acrossOriginal));
        Log(Format("  Image rotation used: %f degrees", mapping_.RotationDegrees()));
    }

    // The nadir points of 51 rows sampleSpacing_ lines apart around the middle, those with
    // a location, projected without the scan table through the mapping as it stands.
    template <typename Take> void ForEachNadirSample(const Take& take) const {
        for (int j = 0; j < kGridColumns; ++j) {
            const int row = mid_ + (j - kNadirColumn) * sampleSpacing_;
            if (row < 0 || row >= lines_) {
                continue;
            }
            const GeoPoint& p = At(row, kNadirColumn);
            if (!HasLocation(p)) {
                continue;
            }
            float xp = 0.0f, yp = 0.0f;
            mapping_.LatLonToImageF(xp, yp, p.lon, p.lat, false);
            take(row, xp, yp);
        }
    }

    bool FitVerticalWarp() {
        std::vector<double> u;
        std::vector<double> v;
        ForEachNadirSample([&](int row, float /*xp*/, float yp) {
            u.push_back((static_cast<double>(yp) - mid_) * (-2.0) / lines_);
            v.push_back(2.0 * (mid_ - row) / static_cast<double>(lines_));
        });
        if (u.empty()) {
            result_.report = "No viable location data";
            return false;
        }
        double r = 0.0;
        const auto c = Fit(u, v, nadirTerms_, r);
        Log(Format("  Vertical map warp:    %.5f Y^2 + %.5f Y + %.5f  (correl: %.6f)", c[2], c[1],
                   c[0], r));
        mapping_.SetVerticalWarp(static_cast<float>(c[2]), static_cast<float>(c[1]),
                                 static_cast<float>(c[0]));
        return true;
    }

    // From the 51 samples of the middle row against the scan table's ground offsets.
    void FitHorizontalWarp() {
        const TScanLayout& layout = ScanLayoutOfFormat(mapping_.ScanFormat());
        std::vector<double> u;
        std::vector<double> v;
        const int halfW = mapping_.GetMapHeight() / 2;
        for (int j = 0; j < kGridColumns; ++j) {
            const GeoPoint& p = At(mid_, j);
            float xp = 0.0f, yp = 0.0f;
            mapping_.LatLonToImageF(xp, yp, p.lon, p.lat, false);
            u.push_back(static_cast<double>(xp) - halfW);
            v.push_back(mapping_.ScanToGround(layout.ColumnOf(j) - layout.CentreColumn));
        }
        double r = 0.0;
        const auto c = Fit(u, v, 4, r);
        Log(Format("  Horizontal map warp:  %.5g X^3 + %.5g X^2 + %.5g X + (offset: "
                   "%.5g)  (correl: %.6f)",
                   c[3], c[2], c[1], c[0], r));
        mapping_.SetHorizontalWarp(static_cast<float>(c[3]), static_cast<float>(c[2]),
                                   static_cast<float>(c[1]));
    }

    // From the same nadir points, now through rotation and warps.
    bool FitHorizontalSkew() {
        std::vector<double> u;
        std::vector<double> v;
        const int h = mapping_.GetMapHeight() / 2;
        ForEachNadirSample([&](int row, float xp, float /*yp*/) {
            u.push_back(static_cast<double>(mid_ - row) / h);
            v.push_back((static_cast<double>(xp) - h) / h);
        });
        if (u.empty()) {
            result_.report = "No viable location data";
            return false;
        }
        double r = 0.0;
        const auto c = Fit(u, v, nadirTerms_, r);
        Log(Format("  Horizontal map skew:  %.5f Y^2 +  %.5f Y + %.5f  (correl: %.6f)", c[2], c[1],
                   c[0], r));
        mapping_.SetHorizontalSkew(static_cast<float>(-c[2]), static_cast<float>(-c[1]),
                                   static_cast<float>(-c[0]));
        return true;
    }

    // What the polynomials leave, per line and grid column; a line without a location
    // takes the residuals of the line above.
    void FitResiduals() {
        const TScanLayout& scan = ScanLayoutOfFormat(mapping_.ScanFormat());
        const TResidualLayout layout = ResidualLayoutOf(scan);
        auto grid = std::make_shared<ResidualGrid>(static_cast<size_t>(lines_));
        ForEachPart(lines_, ThreadsFor(lines_, 512), [&](long long first, long long end) {
            for (int l = static_cast<int>(first); l < end; ++l) {
                if (!LineHasLocation(l)) {
                    continue;
                }
                ResidualRow& out = (*grid)[static_cast<size_t>(l)];
                std::array<TLonLat, kGridColumns> points;
                for (int j = 0; j < kGridColumns; ++j) {
                    points[static_cast<size_t>(j)] = {At(l, j).lon, At(l, j).lat};
                }
                std::array<float, kGridColumns> x{}, y{};
                std::array<bool, kGridColumns> ok{};
                mapping_.LatLonToImageF(points, x.data(), y.data(), ok.data(), true);
                for (size_t j = 0; j < kGridColumns; ++j) {
                    out[static_cast<size_t>(layout.Before) + j] = {
                        static_cast<float>(scan.ColumnOf(static_cast<int>(j))) - x[j],
                        static_cast<float>(l) - y[j]};
                }
            }
        });
        FitEdgeResiduals(*grid, layout);
        for (int l = 0; l < lines_; ++l) {
            if (!LineHasLocation(l)) {
                (*grid)[static_cast<size_t>(l)] =
                    l == 0 ? ResidualRow{} : (*grid)[static_cast<size_t>(l - 1)];
            }
        }
        mapping_.SetResidualGrid(grid, lines_, layout);
        result_.residuals = std::move(grid);
    }

    // The fit's test for a line with a location: its first sample's latitude.
    bool LineHasLocation(int line) const { return At(line, 0).lat != 0.0f; }

    // Image column x minus where the mapping puts p, and likewise for the line.
    ResidualPair Residual(const GeoPoint& p, int x, int line) const {
        float xi = 0.0f, yi = 0.0f;
        mapping_.LatLonToImageF(xi, yi, p.lon, p.lat, true);
        return {static_cast<float>(x) - xi, static_cast<float>(line) - yi};
    }

    // The grid columns beyond the outer samples take ground points carried on along the
    // scan line (TScanLineEdges): the residual changes fastest there (by a line a column
    // across the swath edge at the ends of a long pass), and held at the outer sample's
    // value it would leave the picture's edge columns pixels off. It changes slowly from
    // line to line, so it is worked out on every kEdgeLineStep-th line and the last, and
    // drawn straight between them. Where a line cannot be carried on, the outer sample's
    // residual holds.
    void FitEdgeResiduals(ResidualGrid& grid, const TResidualLayout& layout) {
        const int lastSample = layout.Before + kGridColumns - 1;
        const auto isEdge = [&](int c) { return c < layout.Before || c > lastSample; };
        TScanLineEdges edges = TScanLineEdges::ForFit(options_, rows_[static_cast<size_t>(mid_)]);
        // One line's edge columns; false where they could not all be carried on.
        const auto work = [&](TScanLineEdges& edges, int l) {
            if (!LineHasLocation(l)) {
                return false;
            }
            ResidualRow& row = grid[static_cast<size_t>(l)];
            edges.SetLine(rows_[static_cast<size_t>(l)]);
            bool all = true;
            for (int c = 0; c < layout.Columns(); ++c) {
                if (!isEdge(c)) {
                    continue;
                }
                const int x = layout.ColumnOf(c);
                GeoPoint p;
                ResidualPair r{};
                bool good = edges.Locate(x, p);
                if (good) {
                    r = Residual(p, x, l);
                    good = std::isfinite(r.dx) && std::isfinite(r.dy);
                }
                row[static_cast<size_t>(c)] =
                    good ? r
                         : row[static_cast<size_t>(c < layout.Before ? layout.Before : lastSample)];
                all = all && good;
            }
            return all;
        };
        // The lines worked out in full, on every core (each with its own edges), then the
        // lines between them.
        std::vector<int> full;
        for (int l = 0;; l = std::min(l + kEdgeLineStep, lines_ - 1)) {
            full.push_back(l);
            if (l == lines_ - 1) {
                break;
            }
        }
        std::vector<char> worked(full.size());
        const auto count = static_cast<long long>(full.size());
        ForEachPart(count, ThreadsFor(count, 16), [&](long long first, long long end) {
            TScanLineEdges mine = edges;
            for (long long k = first; k < end; ++k) {
                worked[static_cast<size_t>(k)] = work(mine, full[static_cast<size_t>(k)]);
            }
        });
        for (size_t k = 1; k < full.size(); ++k) {
            const int last = full[k - 1];
            const int l = full[k];
            if (worked[k] && worked[k - 1]) {
                const ResidualRow& a = grid[static_cast<size_t>(last)];
                const ResidualRow& b = grid[static_cast<size_t>(l)];
                for (int m = last + 1; m < l; ++m) {
                    const float t = static_cast<float>(m - last) / static_cast<float>(l - last);
                    ResidualRow& row = grid[static_cast<size_t>(m)];
                    for (int c = 0; c < layout.Columns(); ++c) {
                        if (isEdge(c)) {
                            const size_t i = static_cast<size_t>(c);
                            row[i] = {a[i].dx + t * (b[i].dx - a[i].dx),
                                      a[i].dy + t * (b[i].dy - a[i].dy)};
                        }
                    }
                }
            } else {
                for (int m = last + 1; m < l; ++m) { // nothing to draw between: line by line
                    work(edges, m);
                }
            }
        }
    }

    std::span<const GeoRow> rows_;
    const TFitOptions& options_;
    TWarpedMapping& mapping_;
    const int lines_;
    const int mid_;
    int sampleSpacing_ = 0;
    int nadirTerms_ = 3; // polynomial terms of the vertical warp and the skew
    // Lines between those whose edge columns are worked out in full.
    static constexpr int kEdgeLineStep = 8;
    TFitResult result_;
};

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

TFitResult FitMapToImage(std::span<const GeoRow> rows, const TFitOptions& options,
                         TWarpedMapping& mapping) {
    if (options.lineCount < 0 || static_cast<size_t>(options.lineCount) > rows.size()) {
        throw std::invalid_argument("FitMapToImage: fewer grid rows than image lines");
    }
    return TImageFit(rows, options, mapping).Run();
}

TResidualFigures ResidualFigures(const ResidualGrid* grid) {
    TResidualFigures figures;
    if (grid == nullptr) {
        return figures;
    }
    // A residual's length as hypotf gives it, which is the float nearest the root of the
    // squares' sum in double (exact squares, one rounding each for the sum and the root)
    // for finite parts; without the call, which took milliseconds for a pass's grid.
    const auto length = [](float x, float y) -> float {
        if (!std::isfinite(x) || !std::isfinite(y)) {
            return std::hypot(x, y);
        }
        return static_cast<float>(
            std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y));
    };
    double sum = 0.0;
    for (const ResidualRow& row : *grid) {
        for (const ResidualPair& r : row) {
            const double d = length(r.dx, r.dy);
            sum += d * d;
            figures.Largest = std::max(figures.Largest, d);
            ++figures.Points;
        }
    }
    figures.Rms = figures.Points > 0 ? std::sqrt(sum / static_cast<double>(figures.Points)) : 0.0;
    return figures;
}

} // namespace vantorel
