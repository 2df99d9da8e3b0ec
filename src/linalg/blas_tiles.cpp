// Fixed output tiles, one single-threaded library call each (see the header).
#include "linalg/blas_tiles.hpp"

#include <algorithm>

namespace torva::blas {

namespace {

[[nodiscard]] inline std::size_t offset(int i, int j, int ld)
{ return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * ld; }

// Runs f(i0, rows, j0, cols) for every tile of an m x n output cut every tm rows and tn columns.
template <class F>
void for_each_tile(int m, int n, int tm, int tn, F f)
{
    if (m <= 0 || n <= 0) return;
    const int row_tiles = (m + tm - 1) / tm;
    const int col_tiles = (n + tn - 1) / tn;
    const int tiles = row_tiles * col_tiles;
#pragma omp parallel for schedule(dynamic, 1) if (tiles > 1)
    for (int t = 0; t < tiles; ++t) {
        const int i0 = (t % row_tiles) * tm;
        const int j0 = (t / row_tiles) * tn;
        f(i0, std::min(tm, m - i0), j0, std::min(tn, n - j0));
    }
}

}  // namespace

OneThreadBlas::OneThreadBlas() : previous_(openblas_get_num_threads())
{
    if (previous_ != 1) openblas_set_num_threads(1);
}

OneThreadBlas::~OneThreadBlas()
{
    if (previous_ != 1) openblas_set_num_threads(previous_);
}

void gemm(char transa, char transb, int m, int n, int k, float alpha, const float* a, int lda,
          const float* b, int ldb, float beta, float* c, int ldc, int tile_rows, int tile_cols)
{
    const int lda1 = std::max(lda, 1);
    const int ldb1 = std::max(ldb, 1);
    for_each_tile(m, n, tile_rows, tile_cols, [&](int i0, int mi, int j0, int nj) {
        const float* ai = transa == 'N' ? a + i0 : a + offset(0, i0, lda);
        const float* bj = transb == 'N' ? b + offset(0, j0, ldb) : b + j0;
        sgemm_(&transa, &transb, &mi, &nj, &k, &alpha, ai, &lda1, bj, &ldb1, &beta,
               c + offset(i0, j0, ldc), &ldc, 1, 1);
    });
}

void trsm(char side, char uplo, char transa, char diag, int m, int n, float alpha,
          const float* t, int ldt, float* b, int ldb)
{
    const bool left = side == 'L';
    for_each_tile(m, n, left ? m : kTileRows, left ? kTileCols : n, [&](int i0, int mi, int j0, int nj) {
        strsm_(&side, &uplo, &transa, &diag, &mi, &nj, &alpha, t, &ldt, b + offset(i0, j0, ldb), &ldb,
               1, 1, 1, 1);
    });
}

void trmm_left(char uplo, char transa, char diag, int m, int n, float alpha, const float* t,
               int ldt, float* b, int ldb, int cols)
{
    const char side = 'L';
    for_each_tile(m, n, m, cols, [&](int, int mi, int j0, int nj) {
        strmm_(&side, &uplo, &transa, &diag, &mi, &nj, &alpha, t, &ldt, b + offset(0, j0, ldb), &ldb,
               1, 1, 1, 1);
    });
}

void laswp(int n, float* a, int lda, int k1, int k2, const int* ipiv)
{
    if (k2 <= k1) return;
    // slaswp interchanges rows K and IPIV(K) for K = K1 .. K2, 1-based throughout.
    const int first = k1 + 1;
    const int last = k2;
    const int inc = 1;
    for_each_tile(1, n, 1, kTileCols, [&](int, int, int j0, int nj) {
        slaswp_(&nj, a + offset(0, j0, lda), &lda, &first, &last, ipiv, &inc);
    });
}

}  // namespace torva::blas
