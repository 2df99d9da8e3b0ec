// Least squares through a blocked Householder QR, with the same bits for any BLAS thread
// count (see blocked_lu.hpp for how).
//
//   A = Q R,  Q = H_0 H_1 ... H_(n-1),  H_j = I - tau_j v_j v_j^T          (1)
//   X = R^-1 (Q^T B)(0:n, :)  minimises |A X - B| column by column         (2)
//
// The reflectors of kQrBlock consecutive columns are applied together as
// H = I - V T V^T, T upper triangular (the compact WY form), so that the updates are matrix
// products.
#pragma once

namespace torva {

// Columns per block of reflectors.  Fixed: the rounding of the result depends on it.
inline constexpr int kQrBlock = 64;

// (2) as LAPACK's sgels(TRANS, M, N, NRHS, A, LDA, B, LDB, WORK, LWORK, INFO), with the
// workspace allocated here, for the overdetermined case: TRANS "N" (either case) and M >= N.
// a (m x n) is overwritten by its QR factors (R on and above the diagonal, the v_j below it);
// b (ldb x nrhs, m rows used) gets X in its first n rows.  Returns INFO: 0, -i for a bad i-th
// argument (TRANS other than "N" and M < N are refused as unsupported), or i > 0 when
// R(i, i) is exactly zero (A rank deficient; no solution formed).
[[nodiscard]] int blocked_sgels(char trans, int m, int n, int nrhs, float* a, int lda, float* b,
                                int ldb);

}  // namespace torva
