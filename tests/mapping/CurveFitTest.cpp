#include "mapping/CurveFit.h"

#include "common/Errors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace vantorel {
namespace {

std::string MathErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EMathError& e) {
        return e.what();
    }
    return "";
}

TEST(PolyFit, RecoversAnExactPolynomialWithCorrelationOne) {
    std::vector<double> x, y;
    for (int i = 0; i < 51; ++i) {
        const double u = -1.0 + i * 0.04;
        x.push_back(u);
        y.push_back(0.25 - 1.5 * u + 0.75 * u * u + 2.0 * u * u * u);
    }
    std::vector<double> c(6, 99.0);
    double r = 0;
    PolyFit(x, y, c, r, 51, 4);
    EXPECT_NEAR(c[0], 0.25, 1e-12);
    EXPECT_NEAR(c[1], -1.5, 1e-12);
    EXPECT_NEAR(c[2], 0.75, 1e-12);
    EXPECT_NEAR(c[3], 2.0, 1e-12);
    EXPECT_NEAR(r, 1.0, 1e-9);
    EXPECT_EQ(c[4], 99.0); // entries beyond NTerms untouched
    EXPECT_EQ(c[5], 99.0);
}

TEST(PolyFit, LeastSquaresLineAgainstHandWorkedValues) {
    // Points (0,1) (1,3) (2,2) (3,5): slope 1.1, intercept 1.1, r^2 = 0.7118...
    const std::vector<double> x{0, 1, 2, 3}, y{1, 3, 2, 5};
    std::vector<double> c(2);
    double r = 0;
    PolyFit(x, y, c, r, 4, 2);
    EXPECT_NEAR(c[0], 1.1, 1e-12);
    EXPECT_NEAR(c[1], 1.1, 1e-12);
    // SSE = 2.7, SST = 8.75 -> r = sqrt(1 - 2.7 / 8.75)
    EXPECT_NEAR(r, std::sqrt(1.0 - 2.7 / 8.75), 1e-12);
}

TEST(PolyFit, OneTermFitsTheMean) {
    const std::vector<double> x{1, 2, 3}, y{2, 4, 9};
    std::vector<double> c(1);
    double r = -1;
    PolyFit(x, y, c, r, 3, 1);
    EXPECT_NEAR(c[0], 5.0, 1e-12);
    EXPECT_EQ(r, 0.0);
    const std::vector<double> flat{7, 7, 7};
    PolyFit(x, flat, c, r, 3, 1);
    EXPECT_NEAR(c[0], 7.0, 1e-12);
    EXPECT_EQ(r, 1.0);
}

TEST(PolyFit, ErrorsCarryTheirTexts) {
    const std::vector<double> x{1, 1, 1, 2}, y{1, 2, 3, 4};
    std::vector<double> c(4);
    double r = 0;
    EXPECT_EQ(MathErrorOf([&] { PolyFit(x, y, c, r, 1, 0); }),
              "PolyFit called with less than one term");
    EXPECT_EQ(MathErrorOf([&] { PolyFit(x, y, c, r, 1, 2); }),
              "PolyFit called with less than two points");
    // One distinct x value cannot carry three terms (values chosen so that the
    // elimination is exact and the zero pivot really is zero).
    const std::vector<double> same{1, 1, 1, 1};
    const std::string singular = MathErrorOf([&] { PolyFit(same, y, c, r, 4, 3); });
    EXPECT_TRUE(singular == "Error in GaussJordan: matrix is singular" ||
                singular == "Error in GaussJordan2: matrix is singular")
        << singular;
    EXPECT_THROW(PolyFit(x, y, c, r, 5, 2), std::invalid_argument); // arrays too short
}

TEST(GaussJordan, SolvesWithRowAndColumnPivoting) {
    // Zero on the diagonal forces pivoting; solution (1, -2, 3).
    TRealMatrix a{{0, 2, 1}, {1, 0, 0}, {3, 1, 1}};
    const TRealVector b{-1, 1, 4};
    bool singular = true;
    TRealVector s;
    GaussJordan(a, b, singular, 3, s);
    EXPECT_FALSE(singular);
    EXPECT_NEAR(s[0], 1.0, 1e-12);
    EXPECT_NEAR(s[1], -2.0, 1e-12);
    EXPECT_NEAR(s[2], 3.0, 1e-12);
}

TEST(GaussJordan, RankDeficientMatricesStopWithoutDividingByZero) {
    for (TRealMatrix a : {TRealMatrix{{0, 0}, {0, 0}}, TRealMatrix{{1, 2}, {2, 4}},
                          TRealMatrix{{1, 1, 1}, {1, 1, 1}, {0, 0, 1}}}) {
        const int n = static_cast<int>(a.size());
        bool singular = false;
        TRealVector s;
        const std::string error =
            MathErrorOf([&] { GaussJordan(a, TRealVector(a.size(), 1.0), singular, n, s); });
        EXPECT_NE(error.find("matrix is singular"), std::string::npos);
        EXPECT_TRUE(singular);
    }
    // Not a number anywhere: no pivot is ever larger than zero.
    TRealMatrix nan{{std::nan(""), 0}, {0, std::nan("")}};
    bool singular = false;
    TRealVector s;
    EXPECT_THROW(GaussJordan(nan, TRealVector{1, 1}, singular, 2, s), EMathError);
}

} // namespace
} // namespace vantorel
