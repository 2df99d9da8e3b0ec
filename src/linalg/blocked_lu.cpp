// Blocked LU, triangular inverse, inverse and one-vector solve (see the header for the
// equations and for why the block sizes are fixed).
//
// The LU is right-looking, with a look-ahead of one panel: for each panel of kLuBlock columns
//     [A11]         [L11]
//     [A21] = P_k * [L21] U11                      (panel, recursive, below)
//     A12 <- L11^-1 A12                            (U12, strsm, unit lower triangle)
//     A22 <- A22 - L21 U12                         (Schur complement, sgemm, inner dimension kLuBlock)
// with the panel's row interchanges applied to the columns on either side of it.  The panel
// itself is factorised recursively: its left half, then the right half's update through the
// same three steps, then the right half, down to kLeafColumns columns, which our own loops
// eliminate one column at a time.
#include "linalg/blocked_lu.hpp"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <thread>
#include <utility>
#include <vector>

#include "linalg/blas_tiles.hpp"

namespace torva {

namespace {

// Panels this narrow are eliminated column by column: the BLAS calls would be too small to pay.
constexpr int kLeafColumns = 16;
// Column tiles of the triangular products of the inverse (a block column of kLuBlock is
// shared out in four).
constexpr int kTrmmColumns = 64;
// Column blocks of the LU's Schur-complement update beyond the next panel: wide, so that
// each library call packs its operands once for much arithmetic.
constexpr int kUpdateColumns = 1024;

[[nodiscard]] inline float* at(float* a, int lda, int i, int j)
{ return a + i + static_cast<std::size_t>(j) * lda; }
[[nodiscard]] inline const float* at(const float* a, int lda, int i, int j)
{ return a + i + static_cast<std::size_t>(j) * lda; }

// Unblocked elimination of an m x n panel (m >= n): for column j, the first entry of largest
// magnitude on or below the diagonal becomes the pivot, its row is interchanged with row j
// across the panel, the column below is divided by it (multiplied by its reciprocal unless
// that would overflow), and the rank-one update removes it from the columns to the right.
int panel_unblocked(int m, int n, float* a, int lda, int* ipiv)
{
    int info = 0;
    for (int j = 0; j < n; ++j) {
        float* col = at(a, lda, 0, j);
        int p = j;
        float big = std::fabs(col[j]);
        for (int i = j + 1; i < m; ++i) {
            if (std::fabs(col[i]) > big) {
                big = std::fabs(col[i]);
                p = i;
            }
        }
        ipiv[j] = p + 1;
        if (col[p] != 0.0f) {
            if (p != j)
                for (int l = 0; l < n; ++l) std::swap(*at(a, lda, j, l), *at(a, lda, p, l));
            const float pivot = col[j];
            if (std::fabs(pivot) >= FLT_MIN) {
                const float r = 1.0f / pivot;
                for (int i = j + 1; i < m; ++i) col[i] *= r;
            } else {
                for (int i = j + 1; i < m; ++i) col[i] /= pivot;
            }
        } else if (info == 0) {
            info = j + 1;
        }
        for (int l = j + 1; l < n; ++l) {
            float* c = at(a, lda, 0, l);
            const float u = c[j];
            for (int i = j + 1; i < m; ++i) c[i] -= col[i] * u;
        }
    }
    return info;
}

// Recursive panel: [A11 A12; A21 A22] with A11 n1 x n1, n1 = n / 2.  Pivots are 1-based
// relative to the panel's first row.
int panel_recursive(int m, int n, float* a, int lda, int* ipiv)
{
    if (n <= kLeafColumns) return panel_unblocked(m, n, a, lda, ipiv);
    const int n1 = n / 2;
    const int n2 = n - n1;
    int info = panel_recursive(m, n1, a, lda, ipiv);
    blas::laswp(n2, at(a, lda, 0, n1), lda, 0, n1, ipiv);
    blas::trsm('L', 'L', 'N', 'U', n1, n2, 1.0f, a, lda, at(a, lda, 0, n1), lda);
    blas::gemm('N', 'N', m - n1, n2, n1, -1.0f, at(a, lda, n1, 0), lda, at(a, lda, 0, n1), lda,
               1.0f, at(a, lda, n1, n1), lda);
    const int info2 = panel_recursive(m - n1, n2, at(a, lda, n1, n1), lda, ipiv + n1);
    if (info == 0 && info2 > 0) info = info2 + n1;
    for (int i = n1; i < n; ++i) ipiv[i] += n1;
    blas::laswp(n1, a, lda, n1, n, ipiv);
    return info;
}

// Inverse of an upper triangle of order n <= kLuBlock in place, column by column: with the
// leading j x j block already inverted, column j above the diagonal becomes
// -T(0:j, 0:j)^-1 u(0:j, j) / u(j, j), the product formed column-oriented.
void upper_inverse_unblocked(int n, float* a, int lda)
{
    for (int j = 0; j < n; ++j) {
        float* x = at(a, lda, 0, j);
        x[j] = 1.0f / x[j];
        const float ajj = -x[j];
        for (int k = 0; k < j; ++k) {
            const float xk = x[k];
            const float* t = at(a, lda, 0, k);
            for (int i = 0; i < k; ++i) x[i] += xk * t[i];
            x[k] = xk * t[k];
        }
        for (int i = 0; i < j; ++i) x[i] *= ajj;
    }
}

}  // namespace

int blocked_sgetrf(int m, int n, float* a, int lda, int* ipiv)
{
    if (m < 0) return -1;
    if (n < 0) return -2;
    if (lda < std::max(1, m)) return -4;
    const blas::OneThreadBlas one_thread;
    const int kmin = std::min(m, n);
    // Panel k: factors, pivots made global, the first zero pivot kept.
    const auto factor_panel = [&](int k) {
        const int kb = std::min(kLuBlock, kmin - k);
        const int panel_info = panel_recursive(m - k, kb, at(a, lda, k, k), lda, ipiv + k);
        for (int i = k; i < k + kb; ++i) ipiv[i] += k;
        return panel_info > 0 ? panel_info + k : 0;
    };
    std::vector<int> panel_info(static_cast<std::size_t>((kmin + kLuBlock - 1) / kLuBlock), 0);
    if (kmin > 0) panel_info[0] = factor_panel(0);

    // Step k updates the columns right of panel k as a list of work items that the threads
    // take in order:
    //   item 0       the next panel's kLuBlock columns (interchanges, U12, Schur complement),
    //                then the factorisation of that panel (look-ahead: one thread works down
    //                the critical path while the others update the rest);
    //   per block    of kUpdateColumns further columns: its interchanges and U12, then one
    //                item per kTileRows rows of its Schur complement (these wait until the
    //                block's U12 is done; it was taken earlier, so the wait is short);
    // Every item is the same library calls on the same shapes whichever thread takes it, so
    // the bits do not depend on the sharing.
    for (int k = 0; k < kmin; k += kLuBlock) {
        const int kb = std::min(kLuBlock, kmin - k);
        const int next = k + kb;
        const float* l11 = at(a, lda, k, k);
        const float* l21 = at(a, lda, next, k);
        const int below = m - next;
        const int first_width = std::min(kLuBlock, n - next);           // item 0's columns
        const int rest0 = next + std::max(first_width, 0);
        const int blocks = std::max(0, (n - rest0 + kUpdateColumns - 1) / kUpdateColumns);
        const int row_tiles = std::max(1, (below + blas::kTileRows - 1) / blas::kTileRows);
        const int per_block = 1 + row_tiles;
        const int items = (first_width > 0 ? 1 : 0) + blocks * per_block;
        const int first_block_item = first_width > 0 ? 1 : 0;
        std::vector<std::atomic<bool>> prepared(static_cast<std::size_t>(blocks));
        for (auto& p : prepared) p.store(false);
        std::atomic<int> next_item{0};

        // The interchanges and U12 of the columns j0 .. j0 + w.
        const auto prepare = [&](int j0, int w) {
            blas::laswp(w, at(a, lda, 0, j0), lda, k, next, ipiv);
            blas::trsm('L', 'L', 'N', 'U', kb, w, 1.0f, l11, lda, at(a, lda, k, j0), lda);
        };
#pragma omp parallel if (items > 1)
        for (int it = next_item++; it < items; it = next_item++) {
            if (it < first_block_item) {
                prepare(next, first_width);
                blas::gemm('N', 'N', below, first_width, kb, -1.0f, l21, lda, at(a, lda, k, next), lda, 1.0f,
                           at(a, lda, next, next), lda);
                if (next < kmin) panel_info[next / kLuBlock] = factor_panel(next);
                continue;
            }
            const int b = (it - first_block_item) / per_block;
            const int j0 = rest0 + b * kUpdateColumns;
            const int w = std::min(kUpdateColumns, n - j0);
            const int r = (it - first_block_item) % per_block;
            if (r == 0) {
                prepare(j0, w);
                prepared[b].store(true, std::memory_order_release);
                continue;
            }
            while (!prepared[b].load(std::memory_order_acquire)) std::this_thread::yield();
            const int i0 = (r - 1) * blas::kTileRows;
            const int rows = std::min(blas::kTileRows, below - i0);
            if (rows > 0)
                blas::gemm('N', 'N', rows, w, kb, -1.0f, l21 + i0, lda, at(a, lda, k, j0), lda, 1.0f,
                           at(a, lda, next + i0, j0), lda);
        }
    }
    // The interchanges of the later panels, applied to each panel's L in one pass at the end:
    // its values are not read again once its own step is done.
    const int panels = static_cast<int>(panel_info.size());
#pragma omp parallel for schedule(dynamic, 1)
    for (int p = 0; p < panels - 1; ++p) {
        const int j0 = p * kLuBlock;
        blas::laswp(kLuBlock, at(a, lda, 0, j0), lda, j0 + kLuBlock, kmin, ipiv);
    }
    for (const int i : panel_info)
        if (i > 0) return i;
    return 0;
}

// Block column j of T^-1, with the leading block already inverted:
//     X(0:j, j:j+jb) = -T(0:j, 0:j)^-1 T(0:j, j:j+jb) T(j:j+jb, j:j+jb)^-1,
// the product by the (inverted) leading triangle, the solve with the diagonal block, and then
// the diagonal block's own inverse.
int blocked_strtri(int n, float* a, int lda)
{
    if (n < 0) return -3;
    if (lda < std::max(1, n)) return -5;
    for (int i = 0; i < n; ++i)
        if (*at(a, lda, i, i) == 0.0f) return i + 1;
    const blas::OneThreadBlas one_thread;
    for (int j = 0; j < n; j += kLuBlock) {
        const int jb = std::min(kLuBlock, n - j);
        blas::trmm_left('U', 'N', 'N', j, jb, 1.0f, a, lda, at(a, lda, 0, j), lda, kTrmmColumns);
        blas::trsm('R', 'U', 'N', 'N', j, jb, -1.0f, at(a, lda, j, j), lda, at(a, lda, 0, j), lda);
        upper_inverse_unblocked(jb, at(a, lda, j, j), lda);
    }
    return 0;
}

// A^-1 = U^-1 L^-1 P^T.  With U^-1 in the upper triangle, X = A^-1 P solves X L = U^-1; block
// columns are taken from the last: X(:, J) = (U^-1(:, J) - X(:, J+) L(J+, J)) L(J, J)^-1, where
// J+ are the columns after block J, already final.  L's block column is moved to the
// workspace first, since X overwrites it.  Last, the columns are interchanged back (P^T).
int blocked_sgetri(int n, float* a, int lda, const int* ipiv)
{
    if (n < 0) return -1;
    if (lda < std::max(1, n)) return -3;
    const int info = blocked_strtri(n, a, lda);
    if (info != 0) return info;
    if (n == 0) return 0;

    const blas::OneThreadBlas one_thread;
    const int ldw = n;
    std::vector<float> work(static_cast<std::size_t>(n) * kLuBlock, 0.0f);
    for (int j = ((n - 1) / kLuBlock) * kLuBlock; j >= 0; j -= kLuBlock) {
        const int jb = std::min(kLuBlock, n - j);
        for (int jj = j; jj < j + jb; ++jj) {
            float* col = at(a, lda, 0, jj);
            float* w = &work[static_cast<std::size_t>(jj - j) * ldw];
            for (int i = jj + 1; i < n; ++i) {
                w[i] = col[i];
                col[i] = 0.0f;
            }
        }
        const int after = n - j - jb;
        if (after > 0)
            blas::gemm('N', 'N', n, jb, after, -1.0f, at(a, lda, 0, j + jb), lda, &work[j + jb], ldw,
                       1.0f, at(a, lda, 0, j), lda);
        blas::trsm('R', 'L', 'N', 'U', n, jb, 1.0f, &work[j], ldw, at(a, lda, 0, j), lda);
    }
    for (int j = n - 2; j >= 0; --j) {
        const int jp = ipiv[j] - 1;
        if (jp != j) std::swap_ranges(at(a, lda, 0, j), at(a, lda, 0, j) + n, at(a, lda, 0, jp));
    }
    return 0;
}

// P^T b, then L y = b forward and U x = y backward, each column-oriented.
void blocked_sgetrs(int n, const float* a, int lda, const int* ipiv, float* b)
{
    for (int i = 0; i < n; ++i) {
        const int p = ipiv[i] - 1;
        if (p != i) std::swap(b[i], b[p]);
    }
    for (int j = 0; j < n; ++j) {
        const float bj = b[j];
        if (bj == 0.0f) continue;
        const float* l = at(a, lda, 0, j);
        for (int i = j + 1; i < n; ++i) b[i] -= bj * l[i];
    }
    for (int j = n - 1; j >= 0; --j) {
        if (b[j] == 0.0f) continue;
        const float* u = at(a, lda, 0, j);
        b[j] /= u[j];
        const float bj = b[j];
        for (int i = 0; i < j; ++i) b[i] -= bj * u[i];
    }
}

}  // namespace torva
