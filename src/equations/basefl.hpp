// The basis flow: the steady flow around the hull under a rigid still-water surface, solved
// once and written to .jou3, and (IFSBC = 3) its finite-difference derivatives with respect
// to the rigid-body modes, written to .jou4.
//
// Formulation.  Constant source strengths sigma_i on the M interior body panels i give
//     phi(x) = sum_i sigma_i G_i(x),   G_i(x) = integral over panel i (and its images) of 1/r,
// with the images of the wall z = 0, of the symmetry plane y = 0 (symmetry indicator > 0) and
// of a flat bottom (N_KERNEL reflections, basis_flow_integrals.hpp (4)).  Hull normals point
// into the body; on the fluid side of panel j
//     dphi/dn_j = sum_i a(j, i) sigma_i,  a(j, i) = n_j . grad G_i(c_j),  a(i, i) = PV + 2 pi, (1)
// and the right-hand side
//     b(i) = weight(i) n_x(i) - q(i)                                                        (2)
// makes phi the disturbance potential of the hull advancing at unit speed along +x
// (dphi/dn = n_x on the hull when weight = 1, q = 0); in the ship's frame the steady flow is
// -x + phi.  The system a sigma = b is solved by LU (sleqbf).  What is written:
//     phi, (u, v, w) = grad phi at every collocation point,                                (3)
// so that n . (u, v, w) = weight n_x - q at the hull collocation points.
//
// Weights (IFLUX_DB != 1, a link section present): on each body sheet, with x_min, x_max the
// extreme collocation x of its four interior corner panels, h = (x_max - x_min)/2 and
// d = x - x_min,
//     weight = 1 - exp(-4.6052 (d/h)^2)  for d < h,   1 otherwise,                        (4)
// which lets the flow pass through the hull near x_min (0 at d = 0, 0.99 at d = h).
//
// Prescribed fluxes q: entry k = 1..NPANFLUX names panel (IPANFLUX(k), JPANFLUX(k)) of sheet
// KPANFLUX(k), 1-based interior indices of the sheet's grid (1..NP1, 1..NP2), and FPANFLUX(k)
// is its outflow velocity in units of the forward speed (positive from the hull into the
// water).  Entries naming the same panel add.
//
// Free-surface derivatives on the interior panels of kind-3 sheets, with (d/da, d/db) the
// panel differences along the sheet's grid (forward at the first interior panel, backward
// at the last, half the central difference elsewhere) and G the surface metric inverse:
//     ux = G11 du/da + G12 du/db,  vy = G21 dv/da + G22 dv/db,
//     uvs = (G21 du/da + G22 du/db + G11 dv/da + G12 dv/db) / 2.                          (5)
//
// Mode derivatives (IFSBC = 3): the mesh (mirrored into a whole hull first when the
// symmetry indicator is 1) is displaced by eps times the mode shape, eps = 0.05 halved until
// every collocation point off the still-water plane stays below it, the basis flow is solved
// again, and  (u_m - u)/eps  (with v of the mirrored half's undisplaced partner entering as
// -v, its mirror image) is written for the hull panels.  These steps work on a private copy
// of the panel model: the driver's model (and its sheet count, which the filters read
// afterwards) is never changed.  On the whole mirrored hull the y-image is not added again.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "equations/journal.hpp"
#include "integrals/influence_coefficients.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

// Weight parameter of (4): 4.6052 = -ln(0.01), so the weight reaches 0.99 at d = h.
inline constexpr float kFluxWeightExponent = 4.6052f;
// Mode displacement: first step and the test levels of its halving.
inline constexpr float kModeStepStart = 0.05f;
inline constexpr float kModeStepZTest = 0.001f;       // collocation points taking part
inline constexpr float kModeClampZTest = 0.0001f;     // corners kept at or below z = 0
inline constexpr float kModeStepNoPoint = -10.0f;     // largest z before any point

// Modes whose finite differences are written (surge, sway and yaw change nothing the solver
// needs from the basis flow, so they are skipped).
[[nodiscard]] constexpr bool mode_gets_record(int mode) noexcept
{ return mode != 1 && mode != 2 && mode != 6; }

// (4) for panels 1..n of `model` (first n entries of `weight`, overwritten).
void basis_flow_weights(const PanelModel& model, int n, int iflux_db, int link_count,
                        std::span<float> weight);

// The prescribed fluxes q of (2) per panel (0-based panel index; n entries, 0 where none).
// An entry that names no interior panel of a body sheet, or NPANFLUX beyond the arrays,
// stops the run with an "ERROR:" line naming the entry.
[[nodiscard]] std::vector<float> prescribed_panel_fluxes(const PanelModel& model, int n, int npanflux,
                                                         std::span<const int> kpanflux,
                                                         std::span<const int> ipanflux,
                                                         std::span<const int> jpanflux,
                                                         std::span<const float> fpanflux,
                                                         int listing_unit);

// (5) on the kind-3 sheets of `model`; ux, vy, uvs (n entries) are cleared first.
void free_surface_derivatives(const PanelModel& model, int n, std::span<const float> u,
                              std::span<const float> v, std::span<float> ux, std::span<float> vy,
                              std::span<float> uvs);

// INFNMR = 1: the matrix (1) and right-hand side (2) with every panel influence from the
// flat-panel source kernel (direct, surface, y-mirror and bottom images as in
// basis_flow_images), the diagonal gaining 2 pi after the sum.  Cleared first.
void kernel_basis_flow_matrix(const PanelModel& model, int symmetry, std::span<const float> weight,
                              std::span<const float> prescribed_flux, int m,
                              std::span<const int> panel_list, std::span<float> matrix,
                              std::span<float> vector, int n_kernel, float depth);

// INFNMR = 1: phi and grad phi (3) at the collocation point of every active panel 1..n
// (inactive panels keep what the arrays hold), from the strengths of the M listed panels;
// at a source panel's own collocation point the fluid-side gradient (+2 pi sigma n).
void kernel_basis_flow_field(const PanelModel& model, int symmetry, int n, std::span<const int> panel_list,
                             std::span<const float> strengths, std::span<float> phi,
                             std::span<float> u, std::span<float> v, std::span<float> w,
                             int n_kernel, float depth);

// Solves matrix x = vector in place (m x m, column-major, leading dimension m): pivots
// allocated here, blocked_sgetrf, blocked_sgetrs.  Stops the run with the messages of the basis flow.
void sleqbf(int listing_unit, int m, std::span<float> matrix, std::span<float> vector);

// Working arrays of one basis-flow solution, sized once for the largest mesh of the call.
struct BasisFlowArrays {
    std::vector<float> phi, u, v, w, weight;      // N each
    std::vector<float> source_matrix;             // M x M
    std::vector<float> source_vector;             // M (the strengths after the solve)
    std::array<std::vector<int>, 4> class_lists;  // M each
};
// Allocates `arrays` for n panels and m sources; failure stops the run with
// "ERROR: Insufficient memory for basefl arrays".
void allocate_basis_flow_arrays(BasisFlowArrays& arrays, int n, int m, int listing_unit);

struct BasisFlowSettings {
    int iflux_db = 0;
    int infnmr = 1;
    int n_kernel = 0;
    float sea_depth = -1.0f;
};

// Steps 2 to 4 of the basis flow on `model`: weights, matrix (INFNMR 0 or 1), sleqbf, and
// phi, u, v, w at the collocation points (INFNMR 0: all n points by fstgrd1; 1: active
// panels).  `prescribed_flux` holds q per panel (n entries, or empty).
void solve_basis_flow(const PanelModel& model, int listing_unit, int symmetry, int n, int link_count,
                      int m, std::span<const int> panel_list, const BasisFlowSettings& settings,
                      std::span<const float> prescribed_flux, BasisFlowArrays& arrays);

// Displaces `model` by mode shape `mode` from the saved corner records `saved` (12 per panel
// of model.n_panels): collocation points restored from the saved corners, the step eps of
// the header chosen on them, corners set to saved + eps shape (those with |saved z| >= 1e-4
// kept at or below z = 0), geometry and moment tables recomputed.  Returns eps.  Stops the
// run when no step keeps the mesh below the water plane (a collocation point above it).
float displace_panel_model(PanelModel& model, std::span<const float> saved, int mode, int listing_unit);

// The basis flow of the run (arguments in the order the driver passes them).  `model` is
// the driver's panel model (moment tables filled); `m` and model.interior_body give the
// source panels.  Writes one .jou3 record of 7 N reals (phi, u, v, w, ux, vy, weight per
// panel) and, with IFSBC = 3, one .jou4 record of 3 N reals per mode 3, 4, 5 (after
// discarding what .jou4 held).  Every failure stops the run.
void basefl(const PanelModel& model, int listing_unit, Journal& journal, int symmetry,
            int nsheet, int n, int link_count, int m, int iflux_db, int npanflux,
            std::span<const int> kpanflux, std::span<const int> ipanflux,
            std::span<const int> jpanflux, std::span<const float> fpanflux, int infnmr,
            int n_kernel, float sea_depth, int ifsbc, int mode_count);

}  // namespace torva
