// The thread-invariant factorisations against independent truths (pivots forced by the
// matrix's construction, a chosen solution, the identity, the normal equations in double),
// against LAPACK's own routines within backward-error bounds, and bit for bit against
// themselves with the BLAS on one thread and on several, and our own loops on one thread
// and on several.
#include "linalg/blocked_lu.hpp"
#include "linalg/blocked_qr.hpp"
#include "linalg/dense_linear_algebra.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "support/linalg_random.hpp"

#if defined(_OPENMP)
#include <omp.h>
#endif

// OpenBLAS's thread query (its LAPACK entry points are declared in dense_linear_algebra.hpp).
extern "C" {
int openblas_get_num_threads(void);
}

namespace torva {
namespace {

using testing::random_matrix;

constexpr double kEps = std::numeric_limits<float>::epsilon();

std::size_t idx(int i, int j, int ld) { return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * ld; }

// A = P0 D with D column diagonally dominant (|d_jj| = n > sum of the column's other
// magnitudes) and P0 a random row permutation.  Elimination keeps a column-dominant matrix
// column dominant, so partial pivoting must pick, at step j, the row that holds D's row j:
// the pivots follow from P0 alone.  cond(A) < 3.
struct ForcedPivots {
    std::vector<float> a;
    std::vector<int> ipiv;   // LAPACK's 1-based interchanges that partial pivoting must produce
};

ForcedPivots forced_pivot_matrix(int n, unsigned seed)
{
    std::vector<float> d = random_matrix(idx(0, n, n), seed);
    for (int j = 0; j < n; ++j) d[idx(j, j, n)] = (j % 2 ? -1.0f : 1.0f) * static_cast<float>(n);
    std::vector<int> row_of(n);   // A's row r holds D's row row_of[r]
    std::iota(row_of.begin(), row_of.end(), 0);
    std::shuffle(row_of.begin(), row_of.end(), std::mt19937(seed + 1));
    ForcedPivots f{std::vector<float>(d.size()), std::vector<int>(n)};
    for (int j = 0; j < n; ++j)
        for (int r = 0; r < n; ++r) f.a[idx(r, j, n)] = d[idx(row_of[r], j, n)];
    std::vector<int> order = row_of;   // current row order while the interchanges are applied
    for (int j = 0; j < n; ++j) {
        const int p = static_cast<int>(std::find(order.begin() + j, order.end(), j) - order.begin());
        f.ipiv[j] = p + 1;
        std::swap(order[j], order[p]);
    }
    return f;
}

double max_abs_diff(const std::vector<float>& x, const std::vector<float>& y)
{
    double worst = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) worst = std::max(worst, std::fabs(double(x[i]) - y[i]));
    return worst;
}

bool same_bits(const std::vector<float>& x, const std::vector<float>& y)
{
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}

// Runs f with the BLAS on `blas` threads and our own loops on `own` threads, then restores both.
template <class F>
void with_threads(int blas, int own, F f)
{
    const int blas0 = openblas_get_num_threads();
    openblas_set_num_threads(blas);
#if defined(_OPENMP)
    const int own0 = omp_get_max_threads();
    omp_set_num_threads(own);
#else
    (void)own;
#endif
    f();
    openblas_set_num_threads(blas0);
#if defined(_OPENMP)
    omp_set_num_threads(own0);
#endif
}

// 700 = two full panels and a part panel; the panels recurse down to the unblocked leaves.
TEST(blocked_lu, forced_pivots_a_chosen_solution_the_inverse_and_lapack_agree)
{
    const int n = 700;
    const ForcedPivots f = forced_pivot_matrix(n, 3);
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i) x[i] = static_cast<float>(i % 7) - 3.0f;
    std::vector<float> b(n);   // A x in double, so that the only float error is the solver's
    for (int i = 0; i < n; ++i) {
        double s = 0.0;
        for (int j = 0; j < n; ++j) s += double(f.a[idx(i, j, n)]) * x[j];
        b[i] = static_cast<float>(s);
    }

    std::vector<float> lu = f.a;
    std::vector<int> ipiv(n);
    ASSERT_EQ(blocked_sgetrf(n, n, lu.data(), n, ipiv.data()), 0);
    EXPECT_EQ(ipiv, f.ipiv);
    blocked_sgetrs(n, lu.data(), n, ipiv.data(), b.data());
    // Backward stable: |x - x*| <= cond n eps |x| with cond < 3, |x| <= 3.
    EXPECT_LE(max_abs_diff(b, x), 3.0 * n * kEps * 3.0);

    std::vector<float> lu_lapack = f.a;
    std::vector<int> ipiv_lapack(n);
    int info = -1;
    sgetrf_(&n, &n, lu_lapack.data(), &n, ipiv_lapack.data(), &info);
    ASSERT_EQ(info, 0);
    EXPECT_EQ(ipiv_lapack, ipiv);
    // Both factors are within n eps |A| of exact ones at worst (|A| <= n, multipliers below
    // 1); the rounding errors of n-term sums grow like sqrt(n) in practice.
    EXPECT_LE(max_abs_diff(lu, lu_lapack), 2.0 * std::sqrt(double(n)) * kEps * n);

    // The inverse from our factors, by ours and by sgetri.
    std::vector<float> inv = lu;
    ASSERT_EQ(blocked_sgetri(n, inv.data(), n, ipiv.data()), 0);
    // A A^-1 = I in double: |A| ~ 2n, |A^-1| ~ 1/n, so each entry carries ~ n eps |A||A^-1|
    // at worst, sqrt(n) eps |A||A^-1| in practice.
    double worst = 0.0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            double s = 0.0;
            for (int k = 0; k < n; ++k) s += double(f.a[idx(i, k, n)]) * inv[idx(k, j, n)];
            worst = std::max(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
        }
    EXPECT_LE(worst, 4.0 * std::sqrt(double(n)) * kEps);
    int lwork = n * 64;
    std::vector<float> work(static_cast<std::size_t>(lwork));
    sgetri_(&n, lu.data(), &n, ipiv.data(), work.data(), &lwork, &info);
    ASSERT_EQ(info, 0);
    // Entries of A^-1 are ~ 1/n, each inverse within a few eps of that of the exact one.
    EXPECT_LE(max_abs_diff(inv, lu), 8.0 * kEps / n);
}

TEST(blocked_lu, an_exactly_zero_pivot_is_named_as_lapack_names_it)
{
    // A zero column beyond the first panel: its pivot is exactly zero whatever the rounding.
    const int n = 300;
    std::vector<float> a = forced_pivot_matrix(n, 7).a;
    for (int i = 0; i < n; ++i) a[idx(i, 270, n)] = 0.0f;
    std::vector<float> a_lapack = a;
    std::vector<int> ipiv(n), ipiv_lapack(n);
    int info = -1;
    sgetrf_(&n, &n, a_lapack.data(), &n, ipiv_lapack.data(), &info);
    EXPECT_EQ(info, 271);
    EXPECT_EQ(blocked_sgetrf(n, n, a.data(), n, ipiv.data()), 271);
    EXPECT_EQ(blocked_sgetri(n, a.data(), n, ipiv.data()), 271);
}

TEST(blocked_qr, least_squares_meets_the_normal_equations_and_agrees_with_sgels)
{
    // The filter's shape: M rows, N < M unknowns, B the M x M identity, so that X = A^+ ; n a
    // multiple of the reflector block and not; the back-substitution crosses blocks of 256.
    for (const auto& [m, n] : {std::pair{400, 150}, std::pair{700, 320}}) {
        const std::vector<float> a0 = random_matrix(idx(0, n, m), 11);
        std::vector<float> a = a0;
        std::vector<float> x(idx(0, m, m), 0.0f);
        for (int i = 0; i < m; ++i) x[idx(i, i, m)] = 1.0f;
        std::vector<float> b_lapack = x;
        ASSERT_EQ(blocked_sgels('n', m, n, m, a.data(), m, x.data(), m), 0);

        // A^T (A X - I) = 0: each column's residual is orthogonal to A's columns.  An error
        // of a few eps in X shows as |A^T A| ~ m / 3 times it: allow m eps.
        double worst = 0.0;
        std::vector<double> r(m);
        for (int col = 0; col < m; col += 37) {
            for (int i = 0; i < m; ++i) {
                double v = i == col ? -1.0 : 0.0;
                for (int k = 0; k < n; ++k) v += double(a0[idx(i, k, m)]) * x[idx(k, col, m)];
                r[i] = v;
            }
            for (int k = 0; k < n; ++k) {
                double v = 0.0;
                for (int i = 0; i < m; ++i) v += double(a0[idx(i, k, m)]) * r[i];
                worst = std::max(worst, std::fabs(v));
            }
        }
        EXPECT_LE(worst, m * kEps) << m << " x " << n;

        std::vector<float> a_lapack = a0;
        int lwork = 64 * m, info = -1;
        std::vector<float> work(static_cast<std::size_t>(lwork));
        sgels_("N", &m, &n, &m, a_lapack.data(), &m, b_lapack.data(), &m, work.data(), &lwork, &info, 1);
        ASSERT_EQ(info, 0);
        double diff = 0.0, x_max = 0.0;
        for (int j = 0; j < m; ++j)
            for (int i = 0; i < n; ++i) {
                diff = std::max(diff, std::fabs(double(x[idx(i, j, m)]) - b_lapack[idx(i, j, m)]));
                x_max = std::max(x_max, std::fabs(double(b_lapack[idx(i, j, m)])));
            }
        // Each solution is within a small multiple of cond(A)^2 eps |X| of the exact one;
        // cond(A) < 5.5 for these shapes ((1 + sqrt(n/m)) / (1 - sqrt(n/m)) for uniform
        // entries), so the two differ by less than 4 cond^2 eps |X|.
        EXPECT_LE(diff, 4.0 * 5.5 * 5.5 * kEps * x_max) << m << " x " << n;
    }
}

TEST(blocked_qr, a_rank_deficient_matrix_is_refused_as_sgels_refuses_it)
{
    const int m = 200, n = 90;
    std::vector<float> a = random_matrix(idx(0, n, m), 13);
    for (int i = 0; i < m; ++i) a[idx(i, 80, m)] = 0.0f;   // column 81 zero: R(81, 81) = 0
    std::vector<float> b(idx(0, 1, m), 1.0f);
    EXPECT_EQ(blocked_sgels('N', m, n, 1, a.data(), m, b.data(), m), 81);
    EXPECT_EQ(blocked_sgels('T', m, n, 1, a.data(), m, b.data(), m), -1);   // only the plain form
}

// Every result bit for bit the same with the BLAS on 1, 2 or 3 threads and our own loops on
// 1 or 2: sizes large enough that the library would thread them, with part tiles everywhere.
TEST(blocked_factor_threads, results_are_bit_identical_for_any_thread_count)
{
    const int n = 1100;
    const std::vector<float> a0 = random_matrix(idx(0, n, n), 17);   // general: cond ~ n, many pivots
    const int m = 2300, c = 330;
    const std::vector<float> p0 = random_matrix(idx(0, c, m), 19);

    struct Result {
        std::vector<float> lu, inv, ls;
        std::vector<int> ipiv;
    };
    const auto compute = [&] {
        Result r{a0, {}, p0, std::vector<int>(n)};
        EXPECT_EQ(blocked_sgetrf(n, n, r.lu.data(), n, r.ipiv.data()), 0);
        r.inv = r.lu;
        EXPECT_EQ(blocked_sgetri(n, r.inv.data(), n, r.ipiv.data()), 0);
        std::vector<float> b(idx(0, m, m), 0.0f);
        for (int i = 0; i < m; ++i) b[idx(i, i, m)] = 1.0f;
        EXPECT_EQ(blocked_sgels('n', m, c, m, r.ls.data(), m, b.data(), m), 0);
        r.ls.insert(r.ls.end(), b.begin(), b.end());
        return r;
    };
    Result first;
    with_threads(1, 1, [&] { first = compute(); });
    for (const auto& [blas, own] : {std::pair{2, 1}, std::pair{1, 2}, std::pair{2, 2}, std::pair{3, 2}}) {
        Result r;
        with_threads(blas, own, [&] { r = compute(); });
        EXPECT_EQ(r.ipiv, first.ipiv) << blas << " BLAS threads, " << own << " own";
        EXPECT_TRUE(same_bits(r.lu, first.lu)) << blas << " BLAS threads, " << own << " own";
        EXPECT_TRUE(same_bits(r.inv, first.inv)) << blas << " BLAS threads, " << own << " own";
        EXPECT_TRUE(same_bits(r.ls, first.ls)) << blas << " BLAS threads, " << own << " own";
    }
}

}  // namespace
}  // namespace torva
