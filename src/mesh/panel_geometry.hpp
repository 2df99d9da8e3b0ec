// Geometry of the quadrilateral panels of the padded panel model.
//
// A panel has corners P1..P4 (P1 = node (a+1, b+1), P2 = (a+1, b), P3 = (a, b),
// P4 = (a, b+1)).  With
//     c  = (P1 + P2 + P3 + P4) / 4                   (1)  collocation point
//     t1 = ((P1 + P2) - (P3 + P4)) / 2                (2)  midline, side 3-4 to side 1-2
//     t2 = ((P1 + P4) - (P2 + P3)) / 2                     midline, side 2-3 to side 4-1
//     e1 = t1/|t1|,  n = e1 x t2 / |e1 x t2|,  e2 = n x e1                        (3)
// the panel's local corners are xi_k = e1.(P_k - c), eta_k = e2.(P_k - c).  In (xi, eta) t1
// points along +xi and t2 has a positive eta part, so the corners run clockwise.
//
// Area moments M(m, n) = integral of xi^m eta^n over the (xi, eta) quadrilateral, m + n <= 4.
// For f homogeneous of degree d, div((xi, eta) f) = (d + 2) f, so by Green's theorem
//     M(m, n) = 1/(m + n + 2) * sum_k (eta_k dxi_k - xi_k deta_k) I_k(m, n)           (4)
// over the edges k -> k+1 (4 -> 1), traversed clockwise (hence the sign), where along the
// edge xi = xi_k + t dxi_k, eta = eta_k + t deta_k and xi deta - eta dxi is constant, and
//     I_k(m, n) = int_0^1 (xi_k + t dxi_k)^m (eta_k + t deta_k)^n dt
//               = sum_p sum_q C(m,p) C(n,q) xi_k^(m-p) dxi^p eta_k^(n-q) deta^q / (p+q+1).  (5)
// For m = n = 0, (4) is the shoelace area formula.  Everything is exact for a polygon.
//
// Second midline in (xi, eta): (dxi2, deta2) = ((xi1 + xi4) - (xi2 + xi3), (eta1 + eta4) -
// (eta2 + eta3)) / 2, slope s = -dxi2/deta2 and its cosine 1/sqrt(1 + s^2).             (6)
//
// Surface metric: with dc/di and dc/dj the centroid differences along the sheet's two
// directions (second-order one-sided at the first and last interior panel, central
// elsewhere), the 3 x 3 matrix with rows dc/di, dc/dj, n is inverted.                 (7)
#pragma once

#include <array>
#include <span>

#include "mesh/panel_model.hpp"

namespace torva {

// Geometry of one panel as stored in the panel model (interior values).
struct PanelGeometry {
    std::array<float, 3> colloc{};        // (1)
    std::array<float, 9> frame{};         // e1x e2x nx e1y e2y ny e1z e2z nz
    std::array<float, 4> xi{};
    std::array<float, 4> eta{};
    std::array<float, 4> sides{};         // |P2 - P1|, |P3 - P2|, |P4 - P3|, |P1 - P4| in (xi, eta)
    std::array<float, kMomentCount> moments{};   // (4), n outer, m inner
    std::array<float, kModeCount> gnormal{};     // n, c x n
    float midline_len1 = 0.0f;            // |t1| measured in (xi, eta)
    float midline_len2 = 0.0f;            // |t2| measured in (xi, eta)
    float midline_slope = 0.0f;           // (6)
    float midline_cos = 0.0f;             // (6)
    std::array<float, 9> midline_frame{}; // t1x t2x nx t1y t2y ny t1z t2z nz
    bool degenerate = false;              // zero midline or zero normal: frame and moments 0
};

// Index in the 15-entry moment table of M(m, n), m + n <= 4 (n outer, m inner).
[[nodiscard]] constexpr int moment_index(int m, int n) noexcept
{
    // rows n = 0..4 hold 5, 4, 3, 2, 1 entries
    return n * 5 - n * (n - 1) / 2 + m;
}

// (4), (5): the fifteen moments of the polygon (xi_k, eta_k), k = 1..4, traversed clockwise
// (a counter-clockwise polygon gives every moment with the opposite sign).
[[nodiscard]] std::array<double, kMomentCount> quadrilateral_moments(
    const std::array<double, 4>& xi, const std::array<double, 4>& eta) noexcept;

// (1)-(6) for one panel from its corner record (x1..x4, y1..y4, z1..z4).  Degenerate panels
// (|t1|^2 or |t2|^2 not positive, or |e1 x t2/|t2||^2 below the smallest normal float) get a
// zero frame, local corners, side lengths and moments, as the collocation and midline
// tables are still formed from what there is.  Works in double, narrows once.
[[nodiscard]] PanelGeometry panel_geometry(std::span<const float, kCornerStride> corners) noexcept;

// Panel node table of every padded panel of sheets [first_sheet, model.n_sheets): the nine
// panels (i-1..i+1) x (j-1..j+1) as 1-based numbers, j outer, 0 outside the padded sheet.
void fill_node_table(PanelModel& model, int first_sheet = 0);

// Active flags (1 interior, 0 ghost) of the panels of sheets [first_sheet, model.n_sheets).
void set_active_flags(PanelModel& model, int first_sheet = 0);

// Per-panel geometry of panels [first, last) (0-based indices): interior (active) panels get
// panel_geometry and the inverse of their midline frame (by gauss_jordan_solve, which stops
// the run on a singular frame); ghosts get the ghost values (zeros, midline lengths 1).
// The basis flow calls this again on displaced and mirrored meshes.
void compute_panel_geometry(PanelModel& model, int first, int last);

// (7) for the interior panels of sheets [first_sheet, model.n_sheets).  Centroids beyond
// the panels read (model.n_panels) count as zero, as the unread tables hold.
void compute_surface_metric(PanelModel& model, int first_sheet = 0);

}  // namespace torva
