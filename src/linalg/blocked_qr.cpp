// Blocked Householder QR least squares (see the header for the equations).
//
// For each block of kQrBlock columns starting at column k:
//   1. the block is reduced by single reflectors, our own loops (the panel, below);
//   2. T is formed so that H_k ... H_(k+kb-1) = I - V T V^T (V unit lower trapezoidal);
//   3. H^T = I - V T^T V^T is applied to the columns right of the block and to B:
//          W = V^T C,  W <- T^T W,  C <- C - V W      (three matrix products).
// Then R X = B(0:n, :) is solved by block back-substitution.
#include "linalg/blocked_qr.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "linalg/blas_tiles.hpp"
#include "linalg/blocked_lu.hpp"

namespace torva {

namespace {

// Columns per output tile of the reflector products: the right-hand sides number a few
// thousand, and narrow tiles share them evenly among the threads.
constexpr int kReflectorTileColumns = 256;

[[nodiscard]] inline float* at(float* a, int lda, int i, int j)
{ return a + i + static_cast<std::size_t>(j) * lda; }

// x . y over n entries: eight partial sums in float (a fixed order, which the compiler can
// keep in vector registers), added pairwise in double.
[[nodiscard]] double dot(int n, const float* x, const float* y)
{
    float s[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    int i = 0;
    for (; i + 8 <= n; i += 8)
        for (int l = 0; l < 8; ++l) s[l] += x[i + l] * y[i + l];
    double tail = 0.0;
    for (; i < n; ++i) tail += static_cast<double>(x[i]) * y[i];
    return ((double(s[0]) + s[1]) + (double(s[2]) + s[3])) + ((double(s[4]) + s[5]) + (double(s[6]) + s[7])) + tail;
}

// Single reflectors on an m x n block (m >= n).  For column j with alpha = a(j, j) and x below
// it: beta = -sign(alpha) |(alpha, x)|, tau = (beta - alpha) / beta, v = (1, x / (alpha - beta)),
// so that (I - tau v v^T) (alpha, x) = (beta, 0); a(j, j) <- beta, v's tail is stored in place
// of x.  Each reflector is applied at once to the block's columns on its right.
void reduce_panel(int m, int n, float* a, int lda, float* tau)
{
    for (int j = 0; j < n; ++j) {
        float* col = at(a, lda, j, j);
        const int len = m - j - 1;                    // length of x
        const double xnorm2 = dot(len, col + 1, col + 1);
        if (xnorm2 == 0.0) {
            tau[j] = 0.0f;
            continue;
        }
        const double alpha = col[0];
        const double beta = -std::copysign(std::sqrt(alpha * alpha + xnorm2), alpha);
        tau[j] = static_cast<float>((beta - alpha) / beta);
        const float scale = static_cast<float>(1.0 / (alpha - beta));
        for (int i = 1; i <= len; ++i) col[i] *= scale;
        col[0] = static_cast<float>(beta);
        // C <- (I - tau v v^T) C for the columns right of j: w = v^T c, c -= tau w v.
        for (int l = j + 1; l < n; ++l) {
            float* c = at(a, lda, j, l);
            const float w = static_cast<float>(tau[j] * (c[0] + dot(len, col + 1, c + 1)));
            c[0] -= w;
            for (int i = 1; i <= len; ++i) c[i] -= w * col[i];
        }
    }
}

// The explicit V of a reduced block (unit diagonal, zeros above, the stored tails below) into
// v (m x n, leading dimension m), and T (n x n, leading dimension ldt, zero below the
// diagonal): T(j, j) = tau_j, T(0:j, j) = -tau_j T(0:j, 0:j) V(:, 0:j)^T v_j.
void form_v_and_t(int m, int n, const float* a, int lda, const float* tau, float* v, float* t,
                  int ldt)
{
    for (int l = 0; l < n; ++l) {
        float* vl = v + static_cast<std::size_t>(l) * m;
        const float* al = a + static_cast<std::size_t>(l) * lda;
        for (int i = 0; i < l; ++i) vl[i] = 0.0f;
        vl[l] = 1.0f;
        for (int i = l + 1; i < m; ++i) vl[i] = al[i];
    }
    for (int j = 0; j < n; ++j) {
        float* tj = t + static_cast<std::size_t>(j) * ldt;
        std::fill(tj, tj + n, 0.0f);
        tj[j] = tau[j];
        if (tau[j] == 0.0f) continue;
        const float* vj = v + static_cast<std::size_t>(j) * m;
        for (int l = 0; l < j; ++l) {
            const float* vl = v + static_cast<std::size_t>(l) * m;
            tj[l] = static_cast<float>(-tau[j] * dot(m - j, vl + j, vj + j));
        }
        // tj(0:j) <- T(0:j, 0:j) tj(0:j), column-oriented (T upper triangular).
        for (int k = 0; k < j; ++k) {
            const float xk = tj[k];
            const float* tk = t + static_cast<std::size_t>(k) * ldt;
            for (int i = 0; i < k; ++i) tj[i] += xk * tk[i];
            tj[k] = xk * tk[k];
        }
    }
}

// C (m x nc) <- (I - V T^T V^T) C; w and w2 hold n x nc each.
void apply_block_reflector(int m, int n, int nc, const float* v, const float* t, int ldt, float* c,
                           int ldc, float* w, float* w2)
{
    if (nc <= 0) return;
    const int rows = blas::kTileRows;
    const int cols = kReflectorTileColumns;
    blas::gemm('T', 'N', n, nc, m, 1.0f, v, m, c, ldc, 0.0f, w, n, rows, cols);
    blas::gemm('T', 'N', n, nc, n, 1.0f, t, ldt, w, n, 0.0f, w2, n, rows, cols);
    blas::gemm('N', 'N', m, nc, n, -1.0f, v, m, w2, n, 1.0f, c, ldc, rows, cols);
}

}  // namespace

int blocked_sgels(char trans, int m, int n, int nrhs, float* a, int lda, float* b, int ldb)
{
    if (trans != 'N' && trans != 'n') return -1;
    if (m < 0) return -2;
    if (n < 0 || n > m) return -3;
    if (nrhs < 0) return -4;
    if (lda < std::max(1, m)) return -6;
    if (ldb < std::max(1, m)) return -8;
    if (n == 0 || nrhs == 0) {
        for (int j = 0; j < nrhs; ++j) std::fill(at(b, ldb, 0, j), at(b, ldb, 0, j) + m, 0.0f);
        return 0;
    }

    const blas::OneThreadBlas one_thread;
    std::vector<float> tau(static_cast<std::size_t>(n));
    std::vector<float> v(static_cast<std::size_t>(m) * kQrBlock);
    std::vector<float> t(static_cast<std::size_t>(kQrBlock) * kQrBlock);
    const std::size_t wsize = static_cast<std::size_t>(kQrBlock) * std::max(n, nrhs);
    std::vector<float> w(wsize), w2(wsize);

    for (int k = 0; k < n; k += kQrBlock) {
        const int kb = std::min(kQrBlock, n - k);
        const int mr = m - k;
        reduce_panel(mr, kb, at(a, lda, k, k), lda, &tau[k]);
        form_v_and_t(mr, kb, at(a, lda, k, k), lda, &tau[k], v.data(), t.data(), kQrBlock);
        apply_block_reflector(mr, kb, n - k - kb, v.data(), t.data(), kQrBlock, at(a, lda, k, k + kb),
                              lda, w.data(), w2.data());
        apply_block_reflector(mr, kb, nrhs, v.data(), t.data(), kQrBlock, at(b, ldb, k, 0), ldb, w.data(),
                              w2.data());
    }

    for (int i = 0; i < n; ++i)
        if (*at(a, lda, i, i) == 0.0f) return i + 1;
    // R X = B(0:n, :), block rows from the last: X(J) = R(J, J)^-1 B(J), B(0:J) -= R(0:J, J) X(J).
    for (int j = ((n - 1) / kLuBlock) * kLuBlock; j >= 0; j -= kLuBlock) {
        const int jb = std::min(kLuBlock, n - j);
        blas::trsm('L', 'U', 'N', 'N', jb, nrhs, 1.0f, at(a, lda, j, j), lda, at(b, ldb, j, 0), ldb);
        if (j > 0)
            blas::gemm('N', 'N', j, nrhs, jb, -1.0f, at(a, lda, 0, j), lda, at(b, ldb, j, 0), ldb, 1.0f,
                       b, ldb);
    }
    return 0;
}

}  // namespace torva
