// Matrix product with a fixed summation order.
//
// For A (m x k) and X (k x n), both column-major, the product
//
//     F(j, i) = ((0 + A(j,0) X(0,i)) + A(j,1) X(1,i)) + ... + A(j,k-1) X(k-1,i)         (1)
//
// is formed in single precision with k ascending and every product rounded before its
// addition (no fused multiply-add), so every element is bit-identical to the plain loop
//
//     for i: for j: s = 0; for kk = 0..k-1: s = s + A(j,kk) * X(kk,i); F(j,i) = s.
//
// sgemm reorders and fuses these operations and cannot promise that.  The kernel gets its
// speed the way a blocked GEMM does (packed panels, a register tile of F, cache blocks over
// rows, columns and k), while keeping (1): a register tile only ever adds the terms of one
// element in k order, and a k block continues the partial sums the previous block left in F.
//
// Terms with A(j,kk) = 0 are skipped when every entry of X is finite: such a term is a signed
// zero, and adding a signed zero to a partial sum of (1) never changes it (a sum that starts at
// +0 can only become -0 by adding -0 to -0, which never happens), so the result is still
// bit-identical.  This is what makes the product cheap for a sparse A such as a B-spline
// prolongation.  With an infinite or NaN entry in X every term is kept, since 0 * inf is NaN.
//
// Two products in the system are held to (1): the B-spline filter's F = P B (filter/) and the
// main system's inverse times right-hand-side matrix (seteqn's ordered_matrix_product), whose
// stored result must not depend on the machine's BLAS.
#pragma once

namespace torva {

// F = A X by (1).  a: m x k, leading dimension lda >= m; x: k x n, leading dimension
// ldx >= k; f: m x n, leading dimension ldf >= m, overwritten.  f may be the storage of x
// (f == x, ldf == ldx, then m <= ldx): each column of F replaces the column of X it is formed
// from.  Otherwise f must not overlap a or x.  Columns of F are shared out among OpenMP threads
// when the library is built with OpenMP; the result does not depend on the thread count.
// Throws std::bad_alloc when its packing buffers (about m*k floats plus a few small panels per
// thread) cannot be allocated.
void ordered_product(int m, int n, int k, const float* a, int lda, const float* x, int ldx,
                     float* f, int ldf);

// Which instruction set the kernel runs with on this machine: "avx2" or "generic".
[[nodiscard]] const char* ordered_product_isa() noexcept;

// Makes the kernel use its generic x86-64 code even where AVX2 exists, so that tests and
// benchmarks can check that copy too.  Not for use while a product is running.
void force_generic_ordered_product(bool on) noexcept;

}  // namespace torva
