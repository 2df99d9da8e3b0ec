// Dense linear algebra: LAPACK call patterns and gauss_jordan_solve (see the header for the
// equations).
#include "linalg/dense_linear_algebra.hpp"

#include <sched.h>

#include <array>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "frame/run_stop.hpp"

namespace torva {

namespace {

// Unit that gauss_jordan_solve reports to.  Nothing in the program opens it, so in practice
// the message reaches the standard error stream, exactly as the routine always behaved.
constexpr int kGaussJordanMessageUnit = 123;

[[nodiscard]] constexpr std::size_t span_need(int rows, int cols) noexcept
{ return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols); }

}  // namespace

// OpenBLAS's pool threads do not sleep when a call ends: they spin (yielding) for about
// 0.1 s first, taking a core from the OpenMP loops that follow every LAPACK call here (the
// basis flow after the factorisation, the field after sleqbf, the filter product after
// sgels).  The library's own shutdown of the pool ends them at once; its next call starts
// them again (a fraction of a millisecond).  Weak: a library without it spins, no more.
extern "C" int blas_thread_shutdown_() __attribute__((weak));

void quiet_blas_threads() noexcept
{
    if (blas_thread_shutdown_) blas_thread_shutdown_();
}

int settle_blas_threads()
{
    int set = 0;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (!std::getenv("OPENBLAS_NUM_THREADS") && !std::getenv("GOTO_NUM_THREADS") &&
        ::sched_getaffinity(0, sizeof(allowed), &allowed) == 0 && CPU_COUNT(&allowed) >= 1) {
        set = CPU_COUNT(&allowed);
        openblas_set_num_threads(set);
    }
    quiet_blas_threads();   // the pool would spin while the mesh is read
    return set;
}

int sgetrf(int n, std::span<float> a, std::span<int> ipiv)
{
    assert(n >= 0 && a.size() >= span_need(n, n) && ipiv.size() >= static_cast<std::size_t>(n));
    const int lda = n > 0 ? n : 1;          // LAPACK demands LDA >= max(1, N)
    int info = 0;
    sgetrf_(&n, &n, a.data(), &lda, ipiv.data(), &info);
    quiet_blas_threads();
    return info;
}

int sgetri(int n, std::span<float> a, std::span<const int> ipiv)
{
    assert(n >= 0 && a.size() >= span_need(n, n) && ipiv.size() >= static_cast<std::size_t>(n));
    const int lda = n > 0 ? n : 1;
    int info = 0;

    // Workspace query: LAPACK returns the size that lets it invert U block by block (a
    // level-3 BLAS update); with the minimal size n it falls back to column-by-column work.
    float optimal = 0.0f;
    const int query = -1;
    sgetri_(&n, a.data(), &lda, ipiv.data(), &optimal, &query, &info);
    if (info != 0)
        return info;

    int lwork = n > 0 ? n : 1;
    if (optimal > static_cast<float>(lwork) && optimal < 2.0e9f)
        lwork = static_cast<int>(optimal);
    std::vector<float> work;
    try {
        work.resize(static_cast<std::size_t>(lwork));
    } catch (const std::bad_alloc&) {
        // The blocked workspace is a convenience; the unblocked size always does.
        lwork = n > 0 ? n : 1;
        work.resize(static_cast<std::size_t>(lwork));
    }
    sgetri_(&n, a.data(), &lda, ipiv.data(), work.data(), &lwork, &info);
    quiet_blas_threads();
    return info;
}

int sgetrs(int n, std::span<const float> a, std::span<const int> ipiv, std::span<float> b)
{
    assert(n >= 0 && a.size() >= span_need(n, n) && ipiv.size() >= static_cast<std::size_t>(n)
           && b.size() >= static_cast<std::size_t>(n));
    const int lda = n > 0 ? n : 1;
    const int nrhs = 1;
    int info = 0;
    sgetrs_("N", &n, &nrhs, a.data(), &lda, ipiv.data(), b.data(), &lda, &info, 1);
    quiet_blas_threads();
    return info;
}

int sgels(int m, int n, int nrhs, std::span<float> a, int lda, std::span<float> b, int ldb,
          std::span<float> work, int lwork)
{
    assert(m >= 0 && n >= 0 && nrhs >= 0);
    assert(a.size() >= span_need(lda, n) && b.size() >= span_need(ldb, nrhs));
    assert(lwork <= 0 || work.size() >= static_cast<std::size_t>(lwork));
    int info = 0;
    // Lower-case "n", as the filter has always passed it: LAPACK's LSAME ignores case.
    sgels_("n", &m, &n, &nrhs, a.data(), &lda, b.data(), &ldb, work.data(), &lwork, &info, 1);
    quiet_blas_threads();
    return info;
}

// Gauss-Jordan with full pivoting.  Step i picks, among the rows and columns not yet used as
// pivots, the element of largest magnitude; the comparison is >=, so among equal magnitudes
// the last one met (rows ascending, then columns ascending) wins, which fixes the rounding of
// the result.  The pivot row is swapped onto the diagonal of the pivot column, scaled, and
// eliminated from every other row, so a ends up holding A^-1 with its columns permuted; the
// recorded interchanges are undone on the columns at the end.
//
// The bookkeeping arrays live on the stack (nothing is allocated, and unlike a static work
// area this keeps the routine re-entrant).
void gauss_jordan_solve(float* a, int n, int np, float* b, int m, int mp)
{
    if (n > kGaussJordanCapacity || n > np || m > mp || n < 0 || m < 0)
        stop_run({"ERROR: gauss_jordan_solve called with order " + std::to_string(n)
                  + " and " + std::to_string(m) + " right-hand sides for arrays of "
                  + std::to_string(np) + " x " + std::to_string(mp) + " (capacity "
                  + std::to_string(kGaussJordanCapacity) + ")"});

    const auto A = [a, np](int row, int col) -> float& {
        return a[static_cast<std::size_t>(row) + static_cast<std::size_t>(col) * np];
    };
    const auto B = [b, np](int row, int col) -> float& {
        return b[static_cast<std::size_t>(row) + static_cast<std::size_t>(col) * np];
    };

    // A singular matrix ends the program with a plain stop: the message goes to unit 123 and
    // nothing is written to the listing, as this routine has always done.  That is a stop on
    // another unit, which the frame's stop_run_on provides (lines to that unit, echoed on
    // stderr, RunStopped with status 0), so no second exit path is needed.
    const auto singular = [](const char* text) { stop_run_on(kGaussJordanMessageUnit, {text}, 0); };

    std::array<int, kGaussJordanCapacity> pivot_count{};   // times each column was pivot column
    std::array<int, kGaussJordanCapacity> pivot_row{};     // row of the pivot of step i
    std::array<int, kGaussJordanCapacity> pivot_col{};     // column of the pivot of step i

    // Kept across steps: a step that finds no candidate (possible only with NaN entries)
    // reuses the previous pivot, whose column count then passes 1 and is caught as singular.
    int irow = 0;
    int icol = 0;
    for (int i = 0; i < n; ++i) {
        float big = 0.0f;
        for (int j = 0; j < n; ++j) {
            if (pivot_count[j] == 1)
                continue;
            for (int k = 0; k < n; ++k) {
                if (pivot_count[k] == 0) {
                    if (std::fabs(A(j, k)) >= big) {
                        big = std::fabs(A(j, k));
                        irow = j;
                        icol = k;
                    }
                } else if (pivot_count[k] > 1) {
                    singular("Singular matrix, IPIV(K) > 1");
                }
            }
        }
        ++pivot_count[icol];

        if (irow != icol) {
            for (int l = 0; l < n; ++l)
                std::swap(A(irow, l), A(icol, l));
            for (int l = 0; l < m; ++l)
                std::swap(B(irow, l), B(icol, l));
        }
        pivot_row[i] = irow;
        pivot_col[i] = icol;

        if (A(icol, icol) == 0.0f)
            singular("Singular matrix, A(I,I) = 0");

        const float pivinv = 1.0f / A(icol, icol);
        A(icol, icol) = 1.0f;
        for (int l = 0; l < n; ++l)
            A(icol, l) *= pivinv;
        for (int l = 0; l < m; ++l)
            B(icol, l) *= pivinv;

        for (int ll = 0; ll < n; ++ll) {
            if (ll == icol)
                continue;
            const float d = A(ll, icol);
            A(ll, icol) = 0.0f;
            for (int l = 0; l < n; ++l)
                A(ll, l) -= A(icol, l) * d;
            for (int l = 0; l < m; ++l)
                B(ll, l) -= B(icol, l) * d;
        }
    }

    for (int l = n - 1; l >= 0; --l) {
        if (pivot_row[l] != pivot_col[l]) {
            for (int k = 0; k < n; ++k)
                std::swap(A(k, pivot_row[l]), A(k, pivot_col[l]));
        }
    }
}

}  // namespace torva
