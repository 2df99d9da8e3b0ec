// LU factorisation with partial pivoting, the inverse from its factors and one-vector solves,
// built so that every bit of the result is the same whatever number of threads the BLAS
// library runs.
//
// Matrices are column-major float arrays, a(i, j) = a[i + j * lda], 0-based in C++; pivot
// vectors are 32-bit integers, 1-based, as LAPACK writes them: row i was interchanged with
// row ipiv[i] - 1, in the order i = 0, 1, ...
//
//   blocked_sgetrf   A = P L U            (1)  L unit lower (stored below the diagonal), U upper
//   blocked_strtri   U <- U^-1            (2)  upper, non-unit
//   blocked_sgetri   A <- A^-1            (3)  from the factors of (1): A^-1 = U^-1 L^-1 P^T
//   blocked_sgetrs   b <- A^-1 b          (4)  one right-hand side, from the factors of (1)
//
// Why not LAPACK's own routines: OpenBLAS's threaded LAPACK and BLAS round differently from
// their one-thread forms, so the journal files changed with OPENBLAS_NUM_THREADS.  Here the
// block sizes are fixed constants, the pivot search and the small triangles are our own
// single-threaded loops, and the BLAS is called only on output tiles of fixed size, each on
// one thread, with our own threads sharing the tiles (blas_tiles.hpp).  The bits of the
// result therefore depend on neither OPENBLAS_NUM_THREADS nor OMP_NUM_THREADS.  Row
// interchanges are plain copies and cannot round.
//
// The INFO conventions are LAPACK's: 0 success, > 0 the 1-based index of the first exactly
// zero pivot (the factorisation is still completed, the inverse is not formed).
#pragma once

namespace torva {

// Column width of the LU panels and of the inverse's block columns.  Fixed: the rounding of
// the result depends on it.
inline constexpr int kLuBlock = 256;

// (1) as LAPACK's sgetrf(M, N, A, LDA, IPIV, INFO); returns INFO.  ipiv gets min(m, n) entries.
[[nodiscard]] int blocked_sgetrf(int m, int n, float* a, int lda, int* ipiv);

// (2) as LAPACK's strtri("U", "N", N, A, LDA, INFO); returns INFO.  Only the upper triangle
// is read or written.
[[nodiscard]] int blocked_strtri(int n, float* a, int lda);

// (3) as LAPACK's sgetri(N, A, LDA, IPIV, WORK, LWORK, INFO), with the workspace (n x kLuBlock
// reals) allocated here; returns INFO.  Throws std::bad_alloc if that cannot be had.
[[nodiscard]] int blocked_sgetri(int n, float* a, int lda, const int* ipiv);

// (4) as LAPACK's sgetrs("N", N, 1, A, LDA, IPIV, B, LDB, INFO) for one right-hand side.
void blocked_sgetrs(int n, const float* a, int lda, const int* ipiv, float* b);

}  // namespace torva
