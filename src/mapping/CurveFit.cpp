// Gauss-Jordan elimination with full pivoting (after the classic formulation in
// Numerical Recipes), used only for the small normal equations of PolyFit.
// Departure: when no non-zero pivot remains (a rank-deficient matrix), elimination stops
// with the singular-matrix error instead of dividing by zero or reusing a pivot.
#include "mapping/CurveFit.h"

#include "common/Errors.h"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace vantorel {

namespace {
constexpr const char* kSingular2 = "Error in GaussJordan2: matrix is singular";
constexpr const char* kSingular = "Error in GaussJordan: matrix is singular";
} // namespace

void SwapDouble(double& a, double& b) {
    std::swap(a, b);
}

void GaussJordan2(TRealMatrix& A, TRealMatrix& B, std::vector<TPivot>& pivots, int N, int M) {
    const auto n = static_cast<size_t>(N);
    const auto m = static_cast<size_t>(M);
    if (A.size() < n || B.size() < n) {
        throw std::invalid_argument("GaussJordan2: matrix smaller than N");
    }
    for (size_t r = 0; r < n; ++r) {
        if (A[r].size() < n || B[r].size() < m) {
            throw std::invalid_argument("GaussJordan2: row shorter than N");
        }
    }
    // chosen[k]: how many times column k has been picked as pivot column.
    std::vector<int> chosen(n, 0);
    pivots.assign(n, TPivot{});
    for (size_t step = 0; step < n; ++step) {
        double best = 0.0;
        bool found = false;
        size_t prow = 0;
        size_t pcol = 0;
        for (size_t j = 0; j < n; ++j) {
            if (chosen[j] == 1) {
                continue;
            }
            for (size_t k = 0; k < n; ++k) {
                if (chosen[k] == 0) {
                    if (std::fabs(A[j][k]) > best) {
                        best = std::fabs(A[j][k]);
                        prow = j;
                        pcol = k;
                        found = true;
                    }
                } else if (chosen[k] > 1) {
                    throw EMathError(kSingular2);
                }
            }
        }
        if (!found) {
            throw EMathError(kSingular2); // nothing non-zero left to pivot on
        }
        ++chosen[pcol];
        pivots[step] = {static_cast<int>(prow), static_cast<int>(pcol)};
        if (prow != pcol) {
            for (size_t k = 0; k < n; ++k) {
                SwapDouble(A[prow][k], A[pcol][k]);
            }
            for (size_t k = 0; k < m; ++k) {
                SwapDouble(B[prow][k], B[pcol][k]);
            }
        }
        const double pivot = A[pcol][pcol];
        A[pcol][pcol] = 1.0;
        for (size_t k = 0; k < n; ++k) {
            A[pcol][k] /= pivot;
        }
        for (size_t k = 0; k < m; ++k) {
            B[pcol][k] /= pivot;
        }
        for (size_t r = 0; r < n; ++r) {
            if (r == pcol) {
                continue;
            }
            const double f = A[r][pcol];
            A[r][pcol] = 0.0;
            for (size_t k = 0; k < n; ++k) {
                A[r][k] -= A[pcol][k] * f;
            }
            for (size_t k = 0; k < m; ++k) {
                B[r][k] -= B[pcol][k] * f;
            }
        }
    }
    for (size_t k = 0; k < n; ++k) {
        if (chosen[k] != 1) {
            throw EMathError(kSingular);
        }
    }
}

void GaussJordan(TRealMatrix& A, const TRealVector& B, bool& Singular, int N,
                 TRealVector& Solution) {
    const auto n = static_cast<size_t>(N);
    if (B.size() < n) {
        throw std::invalid_argument("GaussJordan: right-hand side shorter than N");
    }
    TRealMatrix rhs(n, TRealVector(1, 0.0));
    for (size_t i = 0; i < n; ++i) {
        rhs[i][0] = B[i];
    }
    std::vector<TPivot> pivots;
    try {
        GaussJordan2(A, rhs, pivots, N, 1);
    } catch (const EMathError&) {
        Singular = true;
        throw;
    }
    Singular = false;
    Solution.assign(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
        Solution[i] = rhs[i][0];
    }
}

void PolyFit(std::span<const double> X, std::span<const double> Y, std::span<double> Coeffs,
             double& Correl, int NPoints, int NTerms) {
    if (NTerms < 1) {
        throw EMathError("PolyFit called with less than one term");
    }
    if (NPoints < 2) {
        throw EMathError("PolyFit called with less than two points");
    }
    const auto np = static_cast<size_t>(NPoints);
    const auto nt = static_cast<size_t>(NTerms);
    if (X.size() < np || Y.size() < np || Coeffs.size() < nt) {
        throw std::invalid_argument("PolyFit: arrays shorter than NPoints or NTerms");
    }

    TRealMatrix design(np, TRealVector(nt, 1.0));
    for (size_t i = 0; i < np; ++i) {
        for (size_t j = 1; j < nt; ++j) {
            design[i][j] = design[i][j - 1] * X[i];
        }
    }
    TRealMatrix normal(nt, TRealVector(nt, 0.0));
    TRealVector rhs(nt, 0.0);
    for (size_t i = 0; i < nt; ++i) {
        for (size_t k = 0; k < nt; ++k) {
            double s = 0.0;
            for (size_t l = 0; l < np; ++l) {
                s += design[l][i] * design[l][k];
            }
            normal[i][k] = s;
        }
        double s = 0.0;
        for (size_t l = 0; l < np; ++l) {
            s += Y[l] * design[l][i];
        }
        rhs[i] = s;
    }

    bool singular = false;
    TRealVector c;
    GaussJordan(normal, rhs, singular, NTerms, c);
    for (size_t j = 0; j < nt; ++j) {
        Coeffs[j] = c[j];
    }

    double sse = 0.0;
    double sum = 0.0;
    double sum2 = 0.0;
    for (size_t i = 0; i < np; ++i) {
        double fitted = 0.0;
        for (size_t j = 0; j < nt; ++j) {
            fitted += c[j] * design[i][j];
        }
        sse += (fitted - Y[i]) * (fitted - Y[i]);
        sum += Y[i];
        sum2 += Y[i] * Y[i];
    }
    const double sst = sum2 - sum * sum / static_cast<double>(np);
    double q = sst;
    if (sst != 0.0) {
        q = sse / sst;
    }
    Correl = q >= 1.0 ? 0.0 : std::sqrt(1.0 - q);
}

} // namespace vantorel
