// The BLAS calls of the blocked factorisations, made so that their rounding cannot depend on
// any thread count.
//
// OpenBLAS's threaded sgemm, strsm and strmm round a part of their output differently from
// the same call on one thread (measured: any shape large enough to be threaded, a tenth of
// the elements of a product differ in the last bits), so no choice of call shape makes the
// library's own threading safe.  Instead every call below is cut into tiles of the output
// whose sizes are fixed constants, each tile is one call of the library on one thread, and
// our own threads (OpenMP) share the tiles out.  A tile's bits then depend only on its shape
// and its data, not on which thread computed it or how many there were.  OneThreadBlas holds
// the library to one thread while a factorisation runs.
//
// Column-major, leading dimensions and letters as in the BLAS.
#pragma once

#include <cstddef>

extern "C" {
void sgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const float* alpha, const float* a, const int* lda, const float* b, const int* ldb,
            const float* beta, float* c, const int* ldc, std::size_t, std::size_t);
void strsm_(const char* side, const char* uplo, const char* transa, const char* diag,
            const int* m, const int* n, const float* alpha, const float* a, const int* lda,
            float* b, const int* ldb, std::size_t, std::size_t, std::size_t, std::size_t);
void strmm_(const char* side, const char* uplo, const char* transa, const char* diag,
            const int* m, const int* n, const float* alpha, const float* a, const int* lda,
            float* b, const int* ldb, std::size_t, std::size_t, std::size_t, std::size_t);
void slaswp_(const int* n, float* a, const int* lda, const int* k1, const int* k2,
             const int* ipiv, const int* incx);
int openblas_get_num_threads(void);
void openblas_set_num_threads(int threads);
}

namespace torva::blas {

// Output tiles: rows and columns per tile.
inline constexpr int kTileRows = 1024;
inline constexpr int kTileCols = 1024;

// Sets the library to one thread for its lifetime, and back to the previous count after.
class OneThreadBlas {
public:
    OneThreadBlas();
    ~OneThreadBlas();
    OneThreadBlas(const OneThreadBlas&) = delete;
    OneThreadBlas& operator=(const OneThreadBlas&) = delete;
private:
    int previous_;
};

// C (m x n) = alpha op(A) op(B) + beta C, op(A) m x k, op(B) k x n; tiles of
// tile_rows x tile_cols of C.
void gemm(char transa, char transb, int m, int n, int k, float alpha, const float* a, int lda,
          const float* b, int ldb, float beta, float* c, int ldc, int tile_rows = kTileRows,
          int tile_cols = kTileCols);

// B (m x n) = alpha op(T)^-1 B (side 'L', tiles of kTileCols columns) or alpha B op(T)^-1
// (side 'R', tiles of kTileRows rows), T triangular.
void trsm(char side, char uplo, char transa, char diag, int m, int n, float alpha,
          const float* t, int ldt, float* b, int ldb);

// B (m x n) = alpha op(T) B, T (m x m) triangular, in tiles of `cols` columns.
void trmm_left(char uplo, char transa, char diag, int m, int n, float alpha, const float* t,
               int ldt, float* b, int ldb, int cols);

// Row interchanges k1 .. k2 - 1 (0-based; ipiv holds LAPACK's 1-based targets) applied in
// order to the n columns of a, kTileCols columns at a time.
void laswp(int n, float* a, int lda, int k1, int k2, const int* ipiv);

}  // namespace torva::blas
