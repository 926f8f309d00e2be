#pragma once

// Least-squares polynomial fitting on a small Gauss-Jordan solver. All arithmetic is in
// 64-bit floats; failures raise EMathError with fixed texts.

#include <span>
#include <vector>

namespace vantorel {

using TRealVector = std::vector<double>;
using TRealMatrix = std::vector<std::vector<double>>;

/// Row and column of the pivot chosen at one elimination step.
struct TPivot {
    int row = -1;
    int column = -1;
};

/// Fits Y ~ sum_j Coeffs[j] * X^j over the first NPoints points, writing Coeffs[0 ..
/// NTerms-1] (entries beyond are untouched) and the correlation coefficient Correl (the
/// square root of the coefficient of determination, in [0, 1]; 1 for a constant Y).
/// Raises EMathError "PolyFit called with less than one term" (NTerms < 1), "PolyFit
/// called with less than two points" (NPoints < 2) or a singular-matrix error.
/// X and Y must hold NPoints entries and Coeffs NTerms (std::invalid_argument otherwise).
void PolyFit(std::span<const double> X, std::span<const double> Y, std::span<double> Coeffs,
             double& Correl, int NPoints, int NTerms);

/// Solves A * Solution = B for the N x N matrix A (overwritten) with full pivoting.
/// Sets Singular and raises EMathError with a singular-matrix text when A has no inverse.
void GaussJordan(TRealMatrix& A, const TRealVector& B, bool& Singular, int N,
                 TRealVector& Solution);

/// The elimination stage: reduces A (N x N) to the identity and applies the same row
/// operations to the M right-hand-side columns of B; pivots receives one entry per step.
void GaussJordan2(TRealMatrix& A, TRealMatrix& B, std::vector<TPivot>& pivots, int N, int M);

/// Exchanges two values.
void SwapDouble(double& a, double& b);

} // namespace vantorel
