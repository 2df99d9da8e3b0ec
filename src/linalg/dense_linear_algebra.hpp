// Dense linear algebra: the four single-precision LAPACK routines the equation systems use,
// and the small Gauss-Jordan solver of the panel model.
//
// Matrices are column-major float arrays, a(i, j) = data[i + j * lda], 0-based in C++;
// pivot vectors are 32-bit integers, 1-based as LAPACK writes them.
//
// LAPACK (the library's own routines; only the call patterns are ours):
//   sgetrf   A = P L U                       (1)  A overwritten by L (unit, below) and U
//   sgetri   A^-1 from the factors of (1)    (2)
//   sgetrs   x = A^-1 b from the factors     (3)  one right-hand side, no transpose
//   sgels    min |A x - B| for full-rank A   (4)  through the QR factorisation of A
// The wrappers return LAPACK's INFO unchanged (0 success, < 0 a bad argument, > 0 the 1-based
// index of a zero pivot or rank defect); every caller turns a non-zero INFO into its own
// listing message, so no message is written here.
//
// gauss_jordan_solve: Gauss-Jordan elimination with full pivoting, in place, for the 3 x 3
// frames of the panel model.  With A the leading n x n block of a and B the leading n x m
// block of b it leaves A^-1 in a and X = A^-1 B in b.
#pragma once

#include <cstddef>
#include <span>

// Fortran LAPACK entry points (gfortran calling convention: every argument by address,
// hidden character lengths appended as size_t).  OpenBLAS provides them.
extern "C" {
void sgetrf_(const int* m, const int* n, float* a, const int* lda, int* ipiv, int* info);
void sgetri_(const int* n, float* a, const int* lda, const int* ipiv, float* work,
             const int* lwork, int* info);
void sgetrs_(const char* trans, const int* n, const int* nrhs, const float* a, const int* lda,
             const int* ipiv, float* b, const int* ldb, int* info, std::size_t trans_len);
void sgels_(const char* trans, const int* m, const int* n, const int* nrhs, float* a,
            const int* lda, float* b, const int* ldb, float* work, const int* lwork, int* info,
            std::size_t trans_len);
void openblas_set_num_threads(int threads);
}

namespace torva {

// OpenBLAS takes its thread count from OPENBLAS_NUM_THREADS, else from OMP_NUM_THREADS, and
// its one-thread LU and QR round differently from its threaded ones (which agree with one
// another for any count of two or more).  So that OMP_NUM_THREADS, which sets the threads of
// this program's own loops, never changes a journal file, the library is given every CPU
// this process may run on unless OPENBLAS_NUM_THREADS (or GOTO_NUM_THREADS) names a count.
// Called once at start-up, before any LAPACK call.  Returns the count set (0: left alone).
int settle_blas_threads();
// Ends OpenBLAS's idle pool threads at once instead of letting them spin for a while; the
// LAPACK wrappers below call it when they return.
void quiet_blas_threads() noexcept;

// (1) LU factorisation of the n x n matrix a (leading dimension n), in place; ipiv receives
// n 1-based row interchanges.  Returns INFO; INFO > 0 is the column of the first exactly
// zero pivot (the factors are still complete, but U is singular).
[[nodiscard]] int sgetrf(int n, std::span<float> a, std::span<int> ipiv);

// (2) Inverse from the factors of sgetrf, in place (a: n x n, leading dimension n).
// The workspace is the size LAPACK asks for in a workspace query (LWORK = -1), which lets
// it use its blocked algorithm; should that much not be available, the smallest accepted
// size, n, is used.  Returns INFO (> 0: U(INFO, INFO) is zero, no inverse formed).
[[nodiscard]] int sgetri(int n, std::span<float> a, std::span<const int> ipiv);

// (3) Solves A x = b for one right-hand side (TRANS = "N") with the factors of sgetrf;
// b (n values) is overwritten by x.  Returns INFO.
[[nodiscard]] int sgetrs(int n, std::span<const float> a, std::span<const int> ipiv,
                         std::span<float> b);

// (4) Least-squares solution of the overdetermined system A X = B (TRANS = "n": LAPACK
// reads the first letter, case ignored, as no transpose).  a is m x n with leading
// dimension lda and is overwritten by its QR factors; b is ldb x nrhs and its first n rows
// are overwritten by X.  work holds lwork reals, lwork >= min(m,n) + max(min(m,n), nrhs).
// Returns INFO (> 0: A is rank deficient, no solution formed).
[[nodiscard]] int sgels(int m, int n, int nrhs, std::span<float> a, int lda, std::span<float> b,
                        int ldb, std::span<float> work, int lwork);

// Largest order gauss_jordan_solve accepts: its bookkeeping lives in fixed arrays so that it
// allocates nothing; the panel model only ever passes 3.
inline constexpr int kGaussJordanCapacity = 50;

// Gauss-Jordan elimination with full pivoting.  a: np x np array (column-major, leading
// dimension np), leading n x n block used, replaced by its inverse.  b: np x mp array,
// leading n x m block used, replaced by the solution of A X = B (m may be 0).
// A singular matrix stops the run with the classic messages "Singular matrix, IPIV(K) > 1"
// (a column chosen as pivot column twice) or "Singular matrix, A(I,I) = 0" (an exactly zero
// pivot), written to unit 123 only; see the definition for why.
void gauss_jordan_solve(float* a, int n, int np, float* b, int m, int mp);

}  // namespace torva
