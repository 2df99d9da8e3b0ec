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

TEST(dense_lu, inverse_times_matrix_is_identity)
{
    // n = 130 is above LAPACK's block size, so the workspace query's blocked path is used.
    const int n = 130;
    const std::vector<float> a0 = dominant_matrix(n, 11);
    std::vector<float> inv = a0;
    std::vector<int> ipiv(n);
    ASSERT_EQ(sgetrf(n, inv, ipiv), 0);
    ASSERT_EQ(sgetri(n, inv, ipiv), 0);
    // |A^-1| ~ 1/n, |A| ~ 2n: each product entry carries about n * eps * |A||A^-1| ~ 2 n eps;
    // allow 4 n eps.
    const double tol = 4.0 * n * kEps;
    double worst = 0.0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            double s = 0.0;
            for (int k = 0; k < n; ++k)
                s += static_cast<double>(inv[i + static_cast<std::size_t>(k) * n])
                     * a0[k + static_cast<std::size_t>(j) * n];
            worst = std::max(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
        }
    }
    EXPECT_LT(worst, tol);
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

TEST(dense_least_squares, rank_deficient_matrix_reports_info)
{
    // A zero second column: the Householder step leaves it zero, so the triangular factor
    // has an exactly zero R(2,2), which LAPACK reports as INFO = 2.  (Two equal columns
    // would not do: rounding leaves a tiny non-zero R(2,2).)
    const int m = 5, n = 2;
    std::vector<float> a = {1, 2, 3, 4, 5, 0, 0, 0, 0, 0};
    std::vector<float> b = {1, 1, 1, 1, 1};
    std::vector<float> work(2 * m);
    EXPECT_EQ(sgels(m, n, 1, a, m, b, m, work, 2 * m), 2);
}

// ---- gauss_jordan_solve -------------------------------------------------------------------

TEST(gauss_jordan_solve, identity_stays_identity_and_leaves_b_unchanged)
{
    float a[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float b[6] = {0.1f, -2.5f, 3.0e7f, 4, 5, 6};
    const float b0[6] = {0.1f, -2.5f, 3.0e7f, 4, 5, 6};
    gauss_jordan_solve(a, 3, 3, b, 2, 2);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(a[i + 3 * j], i == j ? 1.0f : 0.0f);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(b[k], b0[k]);
}

TEST(gauss_jordan_solve, inverts_a_known_matrix_and_solves)
{
    // A = [1 2 3; 0 1 4; 5 6 0] has det 1 and the integer inverse
    // [-24 18 5; 20 -15 -4; -5 4 1] (worked by cofactors).
    float a[9] = {1, 0, 5, 2, 1, 6, 3, 4, 0};          // column by column
    const float inverse[9] = {-24, 20, -5, 18, -15, 4, 5, -4, 1};
    // Right-hand side b = A x for x = (1, -2, 3): b = (6, 10, -7).
    float b[3] = {6, 10, -7};
    gauss_jordan_solve(a, 3, 3, b, 1, 1);
    // cond_inf(A) = 11 * 47 = 517: allow 3 * 517 * eps relative to the largest entry 24.
    const float tol = 3.0f * 517.0f * kEps * 24.0f;
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(a[k], inverse[k], tol) << "entry " << k;
    EXPECT_NEAR(b[0], 1.0f, tol);
    EXPECT_NEAR(b[1], -2.0f, tol);
    EXPECT_NEAR(b[2], 3.0f, tol);
}

TEST(gauss_jordan_solve, works_on_the_leading_block_of_larger_arrays)
{
    // np = 4, mp = 3: the 2 x 2 block [4 1; 2 3] (inverse [0.3 -0.1; -0.2 0.4]) sits in a
    // 4 x 4 array whose other entries must not be touched.
    float a[16];
    for (float& v : a)
        v = -99.0f;
    a[0] = 4; a[1] = 2; a[4] = 1; a[5] = 3;
    float b[12];
    for (float& v : b)
        v = -77.0f;
    b[0] = 5; b[1] = 5;                  // x = (1, 1)
    gauss_jordan_solve(a, 2, 4, b, 1, 3);
    const float tol = 8.0f * kEps;
    EXPECT_NEAR(a[0], 0.3f, tol);
    EXPECT_NEAR(a[1], -0.2f, tol);
    EXPECT_NEAR(a[4], -0.1f, tol);
    EXPECT_NEAR(a[5], 0.4f, tol);
    EXPECT_NEAR(b[0], 1.0f, tol);
    EXPECT_NEAR(b[1], 1.0f, tol);
    for (int k : {2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})
        EXPECT_EQ(a[k], -99.0f) << "a entry " << k;
    for (int k = 2; k < 12; ++k)
        EXPECT_EQ(b[k], -77.0f) << "b entry " << k;
}

// Textbook Gauss-Jordan with the pivot positions handed in (0-based row, column), used to
// check which of several equal-magnitude candidates the search picks: the candidates give
// the same inverse in exact arithmetic but different float roundings.
void gauss_jordan_with_pivots(float* a, const std::pair<int, int> (&pivots)[3])
{
    for (const auto& [irow, icol] : pivots) {
        for (int l = 0; l < 3; ++l)
            std::swap(a[irow + 3 * l], a[icol + 3 * l]);
        const float pivinv = 1.0f / a[icol + 3 * icol];
        a[icol + 3 * icol] = 1.0f;
        for (int l = 0; l < 3; ++l)
            a[icol + 3 * l] *= pivinv;
        for (int ll = 0; ll < 3; ++ll) {
            if (ll == icol)
                continue;
            const float d = a[ll + 3 * icol];
            a[ll + 3 * icol] = 0.0f;
            for (int l = 0; l < 3; ++l)
                a[ll + 3 * l] -= a[icol + 3 * l] * d;
        }
    }
    for (int s = 2; s >= 0; --s)
        if (pivots[s].first != pivots[s].second)
            for (int k = 0; k < 3; ++k)
                std::swap(a[k + 3 * pivots[s].first], a[k + 3 * pivots[s].second]);
}

TEST(gauss_jordan_solve, ties_pick_the_last_candidate_in_row_then_column_order)
{
    // A = [0.3 0.1 2; 0.7 0.9 -2; 0.2 0.6 2]: the magnitude 2 ties at (1,3), (2,3), (3,3)
    // (1-based).  Worked by hand: the last, (3,3), is the first pivot; eliminating column 3
    // leaves rows 1 and 2 near (0.1, -0.5) and (0.9, 1.5), so (2,2) comes next, then (1,1).
    const float a0[9] = {0.3f, 0.7f, 0.2f, 0.1f, 0.9f, 0.6f, 2.0f, -2.0f, 2.0f};
    float a[9], expected[9], other[9];
    std::memcpy(a, a0, sizeof a);
    std::memcpy(expected, a0, sizeof a);
    std::memcpy(other, a0, sizeof a);
    float b[1] = {0};
    gauss_jordan_solve(a, 3, 3, b, 0, 1);
    gauss_jordan_with_pivots(expected, {{2, 2}, {1, 1}, {0, 0}});
    // Choosing the first tied candidate, (1,3), instead is an equally valid elimination:
    // row 1 moves to row 3, the rows left are near (-0.1, 0.5) and (1.0, 1.0), and with
    // (2,2) and then (1,1) it yields the same inverse in exact arithmetic, rounded
    // differently.  It must agree to rounding and differ in some bit, or this test could not
    // tell the two choices apart.
    gauss_jordan_with_pivots(other, {{0, 2}, {1, 1}, {0, 0}});
    // cond_inf(A) ~ 40, entries of A^-1 below 2: rounding differences below 3 * 40 * eps * 2.
    const float tol = 3.0f * 40.0f * kEps * 2.0f;
    bool differs = false;
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(a[k], expected[k]) << "entry " << k;
        EXPECT_NEAR(other[k], expected[k], tol) << "entry " << k;
        differs = differs || other[k] != expected[k];
    }
    EXPECT_TRUE(differs) << "the two tie choices round alike: the test cannot tell them apart";
}

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

TEST(gauss_jordan_solve, column_chosen_twice_stops_with_pivot_count_message)
{
    // After the first pivot (1,1) the remaining block is all NaN: no comparison succeeds, the
    // search keeps the previous pivot, column 1 becomes pivot column a second time and the
    // next search meets its count of 2.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float a[9] = {1, 0, 0, 0, nan, nan, 0, nan, nan};
    float b[1] = {0};
    try {
        gauss_jordan_solve(a, 3, 3, b, 0, 1);
        FAIL() << "a NaN matrix was inverted";
    } catch (const RunStopped& stop) {
        EXPECT_EQ(stop.status, 0);
        ASSERT_EQ(stop.lines.size(), 1u);
        EXPECT_EQ(stop.lines[0], "Singular matrix, IPIV(K) > 1");
    }
}

}  // namespace
}  // namespace torva
