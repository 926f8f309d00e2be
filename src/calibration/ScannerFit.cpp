#include "calibration/ScannerFit.h"

#include "common/Angles.h"
#include "common/Statistics.h"
#include "orbit/Orbits.h"
#include "pass/PassPipeline.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vantorel {
namespace {

using TMatrix = std::vector<std::vector<double>>;

// The inverse of a symmetric positive definite matrix (Gauss-Jordan with pivoting: the
// normal matrices here are a few dozen rows at most).
TMatrix Inverse(TMatrix a) {
    const std::size_t n = a.size();
    TMatrix inv(n, std::vector<double>(n, 0.0));
    for (std::size_t i = 0; i < n; ++i) {
        inv[i][i] = 1.0;
    }
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) {
                pivot = r;
            }
        }
        if (!(std::fabs(a[pivot][c]) > 0.0)) {
            throw std::runtime_error("the calibration's normal equations are singular");
        }
        std::swap(a[c], a[pivot]);
        std::swap(inv[c], inv[pivot]);
        const double d = a[c][c];
        for (std::size_t k = 0; k < n; ++k) {
            a[c][k] /= d;
            inv[c][k] /= d;
        }
        for (std::size_t r = 0; r < n; ++r) {
            if (r != c && a[r][c] != 0.0) {
                const double f = a[r][c];
                for (std::size_t k = 0; k < n; ++k) {
                    a[r][k] -= f * a[c][k];
                    inv[r][k] -= f * inv[c][k];
                }
            }
        }
    }
    return inv;
}

// The spread below which residuals count as fully good: a match is not better than this.
constexpr double kLeastScale = 0.15;
// Huber's and Tukey's tuning constants, in robust standard deviations.
constexpr double kHuber = 1.5;
constexpr double kTukey = 4.685;
constexpr int kHuberRounds = 3;
constexpr int kRounds = 12;
// A parameter whose uncertainty stays above this share of its prior's is not told by the
// matches.
constexpr double kUndetermined = 0.25;

struct TSolveResult {
    std::vector<double> Step;
    TMatrix Covariance;
};

} // namespace

TFitSolution SolveScannerFit(std::span<const TFitObservation> observations,
                             const TFitState& current, const TFitPriors& priors) {
    const std::size_t passes = current.PassShifts.size();
    const std::size_t n = kScannerParameters + passes;
    TFitSolution out;
    out.Determined.fill(true);
    out.Residual.assign(observations.size(), {0.0, 0.0});
    out.Weight.assign(observations.size(), {0.0, 0.0});
    for (std::size_t k = 0; k < observations.size(); ++k) {
        for (int c = 0; c < 2; ++c) {
            out.Weight[k][static_cast<std::size_t>(c)] = observations[k].Known[static_cast<std::size_t>(c)] ? 1.0 : 0.0;
        }
        if (observations[k].Pass < 0 || static_cast<std::size_t>(observations[k].Pass) >= passes) {
            throw std::invalid_argument("a match names a pass the fit does not have");
        }
    }
    out.Scale = {1.0, 1.0};

    auto solve = [&](const std::array<bool, kScannerParameters>& free) {
        TMatrix normal(n, std::vector<double>(n, 0.0));
        std::vector<double> rhs(n, 0.0);
        for (std::size_t k = 0; k < observations.size(); ++k) {
            const TFitObservation& o = observations[k];
            for (std::size_t c = 0; c < 2; ++c) {
                const double w = out.Weight[k][c] / (out.Scale[c] * out.Scale[c]);
                if (w <= 0.0) {
                    continue;
                }
                // The row: the five parameters, then the pass's own shift at its column.
                std::array<std::pair<std::size_t, double>, kScannerParameters + 1> row;
                for (std::size_t j = 0; j < kScannerParameters; ++j) {
                    row[j] = {j, o.Design[c][j]};
                }
                row[kScannerParameters] = {kScannerParameters + static_cast<std::size_t>(o.Pass),
                                           o.Design[c][kScannerParameters]};
                for (const auto& [i, a] : row) {
                    rhs[i] += w * a * o.Shift[c];
                    for (const auto& [j, b] : row) {
                        normal[i][j] += w * a * b;
                    }
                }
            }
        }
        for (std::size_t j = 0; j < kScannerParameters; ++j) {
            // A held parameter is pinned to its prior by a prior a million times narrower.
            const double sigma = priors.Sigma[j] * (free[j] ? 1.0 : 1e-6);
            normal[j][j] += 1.0 / (sigma * sigma);
            rhs[j] += (priors.Value[j] - current.Parameters[j]) / (sigma * sigma);
        }
        for (std::size_t p = 0; p < passes; ++p) {
            const double sigma = priors.PassShiftSigma.at(p);
            normal[kScannerParameters + p][kScannerParameters + p] += 1.0 / (sigma * sigma);
            rhs[kScannerParameters + p] -= current.PassShifts[p] / (sigma * sigma);
        }
        TSolveResult r;
        r.Covariance = Inverse(normal);
        r.Step.assign(n, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) {
                r.Step[i] += r.Covariance[i][j] * rhs[j];
            }
        }
        return r;
    };

    auto residuals = [&](const std::vector<double>& step) {
        for (std::size_t k = 0; k < observations.size(); ++k) {
            const TFitObservation& o = observations[k];
            for (std::size_t c = 0; c < 2; ++c) {
                double predicted = o.Design[c][kScannerParameters] *
                                   step[kScannerParameters + static_cast<std::size_t>(o.Pass)];
                for (std::size_t j = 0; j < kScannerParameters; ++j) {
                    predicted += o.Design[c][j] * step[j];
                }
                out.Residual[k][c] = o.Shift[c] - predicted;
            }
        }
    };

    auto reweigh = [&](int round) {
        for (std::size_t c = 0; c < 2; ++c) {
            std::vector<double> r;
            for (std::size_t k = 0; k < observations.size(); ++k) {
                if (observations[k].Known[c]) {
                    r.push_back(std::fabs(out.Residual[k][c]));
                }
            }
            out.Scale[c] = std::max(r.empty() ? 0.0 : 1.4826 * Percentile(r, 50), kLeastScale);
            for (std::size_t k = 0; k < observations.size(); ++k) {
                if (!observations[k].Known[c]) {
                    continue;
                }
                const double u = std::fabs(out.Residual[k][c]) / out.Scale[c];
                double w = 1.0;
                if (round < kHuberRounds) {
                    w = u <= kHuber ? 1.0 : kHuber / u;
                } else {
                    const double t = u / kTukey;
                    w = t < 1.0 ? (1.0 - t * t) * (1.0 - t * t) : 0.0;
                }
                out.Weight[k][c] = w;
            }
        }
    };

    std::array<bool, kScannerParameters> free;
    for (std::size_t j = 0; j < kScannerParameters; ++j) {
        free[j] = !priors.Held[j];
    }
    TSolveResult r;
    for (int pass = 0; pass <= kScannerParameters; ++pass) {
        for (int round = 0; round < kRounds; ++round) {
            r = solve(free);
            residuals(r.Step);
            if (round + 1 < kRounds) {
                reweigh(round);
            }
        }
        // Hold what the matches do not tell, and solve again without it.
        bool changed = false;
        for (std::size_t j = 0; j < kScannerParameters; ++j) {
            const double error = std::sqrt(std::max(r.Covariance[j][j], 0.0));
            if (free[j] && error > kUndetermined * priors.Sigma[j]) {
                free[j] = false;
                changed = true;
            }
        }
        if (!changed) {
            break;
        }
    }

    out.State.Parameters = current.Parameters;
    out.State.PassShifts = current.PassShifts;
    for (std::size_t j = 0; j < kScannerParameters; ++j) {
        out.Determined[j] = free[j];
        out.State.Parameters[j] = free[j] ? current.Parameters[j] + r.Step[j] : priors.Value[j];
        out.Error[j] = free[j] ? std::sqrt(std::max(r.Covariance[j][j], 0.0)) : priors.Sigma[j];
    }
    out.PassShiftError.assign(passes, 0.0);
    for (std::size_t p = 0; p < passes; ++p) {
        out.State.PassShifts[p] += r.Step[kScannerParameters + p];
        out.PassShiftError[p] =
            std::sqrt(std::max(r.Covariance[kScannerParameters + p][kScannerParameters + p], 0.0));
    }
    return out;
}

TShiftDesign ScannerDesign(TOrbit& orbit, const TLineTimes& times, int lines,
                           const TScannerCalibration& at, double x, double y) {
    const std::optional<TScannerCalibration> saved = orbit.Calibration;
    // The time of a fractional line, carried on beyond the first and last line.
    auto timeOf = [&](double line) {
        const int l = std::clamp(static_cast<int>(std::floor(line)), 0, std::max(lines - 2, 0));
        const double t0 = times.At(l);
        const double t1 = lines > 1 ? times.At(l + 1) : t0 + times.Period;
        return t0 + (line - l) * (t1 - t0);
    };
    double lon0 = 0.0, lat0 = 0.0;
    auto ground = [&](const TScannerCalibration& c, double px, double py, double& lon,
                      double& lat) {
        orbit.Calibration = c;
        if (!orbit.LocateScanPoint(timeOf(py), c.AngleOfColumn(px), lon, lat)) {
            orbit.Calibration = saved;
            throw std::runtime_error("the pass has no orbit to calibrate against");
        }
    };
    ground(at, x, y, lon0, lat0);
    const double east = std::cos(lat0 * kDegreesToRadians) * 111.32;
    constexpr double kNorth = 110.57;
    // Kilometres east and north of the match's ground point.
    auto local = [&](const TScannerCalibration& c, double px, double py) {
        double lon = 0.0, lat = 0.0;
        ground(c, px, py, lon, lat);
        return std::array<double, 2>{WrapDegrees180(lon - lon0) * east, (lat - lat0) * kNorth};
    };
    const auto xp = local(at, x + 1, y), xm = local(at, x - 1, y);
    const auto yp = local(at, x, y + 1), ym = local(at, x, y - 1);
    const double a = (xp[0] - xm[0]) / 2, b = (yp[0] - ym[0]) / 2;
    const double c = (xp[1] - xm[1]) / 2, d = (yp[1] - ym[1]) / 2;
    const double det = a * d - b * c;
    if (!(std::fabs(det) > 0.0)) {
        orbit.Calibration = saved;
        throw std::runtime_error("the scanner model is singular at a match");
    }
    // A change of the parameters moves the ground point; the picture's coast then lies
    // where the old model's pixel moves back onto it: shift = -(d ground / d pixel)^-1 x
    // d ground / d parameter.
    constexpr TParameterVector kSteps{0.1, 0.05, 0.05, 0.2, 0.1};
    TShiftDesign design{};
    for (int j = 0; j < kScannerParameters; ++j) {
        TScannerCalibration up = at, down = at;
        up.*kFittedFields[j] += kSteps[static_cast<std::size_t>(j)];
        down.*kFittedFields[j] -= kSteps[static_cast<std::size_t>(j)];
        const auto gu = local(up, x, y), gd = local(down, x, y);
        const double ge = (gu[0] - gd[0]) / (2 * kSteps[static_cast<std::size_t>(j)]);
        const double gn = (gu[1] - gd[1]) / (2 * kSteps[static_cast<std::size_t>(j)]);
        design[0][static_cast<std::size_t>(j)] = -(d * ge - b * gn) / det;
        design[1][static_cast<std::size_t>(j)] = -(-c * ge + a * gn) / det;
    }
    // The pass's own time shift acts as the clock does.
    design[0][kScannerParameters] = design[0][4];
    design[1][kScannerParameters] = design[1][4];
    orbit.Calibration = saved;
    return design;
}

} // namespace vantorel
