// The main boundary-integral equation system (INFORDER 1).
//
// Row r is Green's second identity at the collocation point x_r of unknown r:
//
//     2 pi phi(x_r) + sum_c D(r, c) phi_c - sum_c S(r, c) dphi/dn_c = 0            (1)
//
// with S the source and D the dipole influence of unknown c at x_r.  On body sheets (kind 2)
// the normal derivative is known and the potential's spline coefficients are unknown; on
// kinds 1 and 3 the potential is known (panel-constant) and the normal derivative is unknown.
// Moving the known terms to the right gives  amat u = B k,  row by row:
//
//     kind 2 column c:      amat(r, c) = NS(c, 7)          brow(c) = -PS(c, 1)          (2)
//     kinds 1, 3 column c:  amat(r, c) = -NS(c, 1)         brow(c) =  PS(c, 7)          (3)
//     free term 2 pi:  kind 2 rows spread it over the nine spline coefficients of the
//                      collocation point with the B-spline values 1/64 (1,6,1) x (1,6,1)
//                      (times 64, since the weights are 64 b_i b_j); kinds 1, 3 add it to
//                      brow(r).                                                           (4)
//     brow <- -brow  (so that  sum amat(r,c) u_c = sum brow(c) k_c),  and the row and its
//     right-hand side are divided by the Euclidean norm of the amat row.                  (5)
//
// PS/NS are the panel and node arrays of the influence routine (columns 1 source, 7 dipole);
// with the symmetry indicator 1 the sum arrays (direct + y-image) build amat and the
// difference arrays (direct - y-image) the antisymmetric amata.  Rim rows (ghost panels)
// carry the extrapolation  u_r - 2 u_{r+-1} + u_{r+-2} = 0  instead, scaled by 1/sqrt 6.
//
// Rows are assembled in blocks, the rows of a block in parallel (OpenMP); the right-hand-side
// rows of a block are written to .jou1/.jou1a and the velocity records to .jou4 in row order
// before the next block starts, so the right-hand-side matrix is never held whole and the
// files do not depend on the thread count.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <vector>

#include "equations/journal.hpp"
#include "integrals/field_quadrature.hpp"
#include "integrals/source_kernel.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

// The four N x 12 influence arrays of one field point (column-major, leading dimension N),
// and the scratch of the routine that fills them (one set per thread).
struct RowInfluenceArrays {
    std::vector<float> panel_sum, node_sum, panel_diff, node_diff;
    std::vector<float> mirrored;          // N x 12: the row variant at the y-mirrored point
    std::vector<float> pieces;            // N x 9 x 4: piece values of every panel
    RowWorkspace row_work;
    explicit RowInfluenceArrays(int n = 0);
};

// Fills the four arrays for the field point `field` of row `row_number` (1-based; the panel
// that holds the field point is the own panel).  Called concurrently from several threads,
// each with its own arrays.
using RowInfluence =
    std::function<void(const std::array<float, 3>& field, int row_number, RowInfluenceArrays& arrays)>;

// The influence routine selected by INFMETH: > 0 getic2 with that method code; < 0 the
// gathering and = 0 the scattering quadrature-based routine (ISPLINE switches the parts).
[[nodiscard]] RowInfluence select_row_influence(const PanelModel& model, int listing_unit, int symmetry,
                                                int infmeth, const std::array<int, 3>& ispline);

// One .jou4 record of getvel for field point `field` and unknown `column` (1-based, its
// flat-panel kernel data in panels[column - 1]), appended to `record`; nothing is appended
// when SEA_DEPTH is exactly 0.  The velocity is the gradient of the source potential.
void getvel(std::span<const KernelPanel> panels, int symmetry, const std::array<float, 3>& field, int column,
            float sea_depth, std::vector<float>& record);

// Where a system goes: the listing unit (timings, stop messages) and the journal.
struct SeteqnOutput {
    int listing;
    Journal& journal;
};

// Assembles, scales, factorises or inverts and writes the system(s).  Stops the run on any
// failure with the listing messages of the system.
void seteqn(const PanelModel& model, const SeteqnOutput& out, int symmetry, int nsheet, int n,
            const std::array<int, 3>& ispline, int infmeth, int infinvs, float sea_depth);

// The same with the influence routine given (tests pass their own).
void seteqn(const PanelModel& model, const SeteqnOutput& out, int symmetry, int nsheet, int n,
            const RowInfluence& influence, int infinvs, float sea_depth);

// The row pass alone: fills amat (and amata with symmetry 1; n x n, column-major, zero on
// entry) row by row, scaled, and writes the right-hand-side rows to jou1/jou1a and the
// velocity records to jou4.  seteqn = assemble_system + factorisation.
void assemble_system(const PanelModel& model, const SeteqnOutput& out, int symmetry, int nsheet, int n,
                     const RowInfluence& influence, float sea_depth, std::span<float> amat, std::span<float> amata);

// C = A B for n x n column-major float matrices, each element summed over j ascending in
// single precision without fused multiply-add: bit-identical to the plain loop
//     C(:, k) += A(:, j) * B(j, k),  j = 1..n,
// but blocked for the cache.  `c` must not alias `a` or `b`.
void ordered_matrix_product(int n, std::span<const float> a, std::span<const float> b, std::span<float> c);

}  // namespace torva
