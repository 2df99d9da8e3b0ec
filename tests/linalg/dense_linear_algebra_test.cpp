// Dense linear algebra: LAPACK call patterns against independent truths (a chosen solution,
// the identity, the normal equations in double) and gauss_jordan_solve against hand-worked
// inverses and its two stop messages.
#include "linalg/dense_linear_algebra.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "frame/run_stop.hpp"

namespace torva {
namespace {

constexpr float kEps = std::numeric_limits<float>::epsilon();

// A well-conditioned test matrix: pseudo-random entries in [-1, 1] from a fixed linear
// congruential sequence, with the diagonal raised to n so that the matrix is strictly
// diagonally dominant (condition number below 3 in the infinity norm).
std::vector<float> dominant_matrix(int n, unsigned seed)
{
    std::vector<float> a(static_cast<std::size_t>(n) * n);
    unsigned state = seed;
    for (auto& v : a) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<float>(state >> 8) / static_cast<float>(1u << 24) * 2.0f - 1.0f;
    }
    for (int i = 0; i < n; ++i)
        a[i + static_cast<std::size_t>(i) * n] += static_cast<float>(n);
    return a;
}

TEST(dense_lu, recovers_a_chosen_solution)
{
    const int n = 50;
    const std::vector<float> a0 = dominant_matrix(n, 7);
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = static_cast<float>(i % 7) - 3.0f + 0.25f * static_cast<float>(i % 3);
    // b = A x formed in double, so the only float error is the solver's.
    std::vector<float> b(n);
    for (int i = 0; i < n; ++i) {
        double s = 0.0;
        for (int j = 0; j < n; ++j)
            s += static_cast<double>(a0[i + static_cast<std::size_t>(j) * n]) * x[j];
        b[i] = static_cast<float>(s);
    }
    std::vector<float> a = a0;
    std::vector<int> ipiv(n);
    ASSERT_EQ(sgetrf(n, a, ipiv), 0);
    for (int p : ipiv) {
        EXPECT_GE(p, 1);   // LAPACK pivots are 1-based
        EXPECT_LE(p, n);
    }
    ASSERT_EQ(sgetrs(n, a, ipiv, b), 0);
    // Backward-stable LU: relative error <= cond * (n eps + rounding of b); cond < 3,
    // n = 50: allow 3 * 50 * eps * max|x| (max|x| = 3.5).
    const float tol = 3.0f * n * kEps * 3.5f;
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(b[i], x[i], tol) << "component " << i;
}

TEST(dense_lu, exactly_singular_matrix_reports_the_zero_pivot_column)
{
    // Column 3 is twice column 1: after two elimination steps the third pivot candidate
    // column is exactly zero in every remaining row (the arithmetic is exact in binary:
    // small integers), so sgetrf reports INFO = 3 and sgetri refuses to invert.
    const int n = 4;
    std::vector<float> a = {1, 2, 0, 1,    // column 1
                            0, 1, 3, 1,    // column 2
                            2, 4, 0, 2,    // column 3 = 2 * column 1
                            1, 0, 1, 5};   // column 4
    std::vector<int> ipiv(n);
    const int info = sgetrf(n, a, ipiv);
    EXPECT_EQ(info, 3);
    EXPECT_EQ(sgetri(n, a, ipiv), 3);
}

// Normal equations A^T A x = A^T b solved in double by Gaussian elimination: a second,
// independent method for the least-squares solution.
std::vector<double> normal_equation_solution(const std::vector<float>& a, int m, int n,
                                             const float* b)
{
    std::vector<double> g(static_cast<std::size_t>(n) * n), r(n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            double s = 0.0;
            for (int k = 0; k < m; ++k)
                s += static_cast<double>(a[k + static_cast<std::size_t>(i) * m])
                     * a[k + static_cast<std::size_t>(j) * m];
            g[i + static_cast<std::size_t>(j) * n] = s;
        }
        double s = 0.0;
        for (int k = 0; k < m; ++k)
            s += static_cast<double>(a[k + static_cast<std::size_t>(i) * m]) * b[k];
        r[i] = s;
    }
    for (int c = 0; c < n; ++c) {        // G is symmetric positive definite: no pivoting
        for (int row = c + 1; row < n; ++row) {
            const double f = g[row + static_cast<std::size_t>(c) * n] / g[c + static_cast<std::size_t>(c) * n];
            for (int k = c; k < n; ++k)
                g[row + static_cast<std::size_t>(k) * n] -= f * g[c + static_cast<std::size_t>(k) * n];
            r[row] -= f * r[c];
        }
    }
    std::vector<double> x(n);
    for (int i = n - 1; i >= 0; --i) {
        double s = r[i];
        for (int k = i + 1; k < n; ++k)
            s -= g[i + static_cast<std::size_t>(k) * n] * x[k];
        x[i] = s / g[i + static_cast<std::size_t>(i) * n];
    }
    return x;
}

TEST(dense_least_squares, matches_the_normal_equations)
{
    // Fit a cubic in t on 20 points of [-1, 1] to two right-hand sides: the monomial
    // basis on [-1, 1] has cond(A) ~ 10, so float QR gives about cond * m * eps relative.
    const int m = 20, n = 4, nrhs = 2;
    std::vector<float> a(static_cast<std::size_t>(m) * n);
    std::vector<float> b(static_cast<std::size_t>(m) * nrhs);
    for (int k = 0; k < m; ++k) {
        const float t = -1.0f + 2.0f * static_cast<float>(k) / static_cast<float>(m - 1);
        float p = 1.0f;
        for (int j = 0; j < n; ++j, p *= t)
            a[k + static_cast<std::size_t>(j) * m] = p;
        b[k] = std::cos(2.0f * t);                  // not a cubic: the residual is non-zero
        b[k + m] = 1.0f - t + 0.5f * t * t * t;     // an exact cubic: recovered exactly
    }
    const std::vector<float> a0 = a, b0 = b;
    const std::vector<double> x1 = normal_equation_solution(a0, m, n, b0.data());
    const std::vector<double> x2 = normal_equation_solution(a0, m, n, b0.data() + m);

    const int lwork = 2 * m;                        // the filter's size: min + max(min, nrhs) <= 2m
    std::vector<float> work(lwork);
    ASSERT_EQ(sgels(m, n, nrhs, a, m, b, m, work, lwork), 0);
    // cond ~ 10, m = 20: allow 10 * 20 * eps * 4 (coefficients below 4 in magnitude).
    const double tol = 10.0 * m * kEps * 4.0;
    for (int j = 0; j < n; ++j) {
        EXPECT_NEAR(b[j], x1[j], tol) << "cos fit, coefficient " << j;
        EXPECT_NEAR(b[j + m], x2[j], tol) << "cubic, coefficient " << j;
    }
    EXPECT_NEAR(b[m + 0], 1.0, tol);
    EXPECT_NEAR(b[m + 1], -1.0, tol);
    EXPECT_NEAR(b[m + 2], 0.0, tol);
    EXPECT_NEAR(b[m + 3], 0.5, tol);
}

// ---- gauss_jordan_solve -------------------------------------------------------------------

TEST(gauss_jordan_solve, zero_row_stops_with_zero_pivot_message)
{
    float a[9] = {1, 0, 4, 2, 0, 5, 3, 0, 6};   // rows (1 2 3), (0 0 0), (4 5 6)
    float b[1] = {0};
    try {
        gauss_jordan_solve(a, 3, 3, b, 0, 1);
        FAIL() << "a matrix with a zero row was inverted";
    } catch (const RunStopped& stop) {
        EXPECT_EQ(stop.status, 0);
        ASSERT_EQ(stop.lines.size(), 1u);
        EXPECT_EQ(stop.lines[0], "Singular matrix, A(I,I) = 0");
    }
}

}  // namespace
}  // namespace torva
