// Influence coefficients of the boundary-integral equations: source (1/r) and normal-dipole
// integrals of every panel, with constant strength and with the nine B-spline pieces,
// including the mirror image in y = 0 and the image in a flat bottom z = -depth.
//
//   getic2   one field point against all panels (a matrix row); the weighted integrals are
//            gathered onto the panels' nodes through the panel node table.
//   getic2a  one panel against all collocation points (a column), all integrals adaptive;
//            depth > 0 turns it into the bottom-image column.
//   getic2b  the same column, adaptive only for field points nearer than 0.1 L to the
//            panel; the others are sorted into four distance classes and integrated with
//            composite 4 x 4 Gauss rules, all points of a class at once, so each quadrature
//            point's geometry is computed once per class.  Adds the bottom image when
//            depth >= 0.
//
// Panel integrals, integrands and the regular / own-panel rules are in panel_integrals.hpp.
//
// getic2b geometry, in sigma = 2 s, tau = 2 t on [-1, 1]^2:
//     X~(sigma, tau) = C + A~ sigma + B~ tau + D~ sigma tau,  A~ = A/2, B~ = B/2, D~ = D/4, (1)
//     N~ = X~_sigma x X~_tau (area element |N~| dsigma dtau).
// Size measure L = max(|P1 - P3|, |P2 - P4|, the four side lengths).                    (2)
// Reference points: C, X~(+-0.7, +-0.7), X~(0, +-0.6), X~(+-0.6, 0); d = the least distance
// from the field point to them.  Classes (the constants 0.1, 0.2, 0.6, 0.7, 0.49 are the
// single-precision values widened to double):                                           (3)
//     d < 0.1 L: adaptive (method 3);  [0.1 L, 0.2 L): 1;  [0.2 L, 0.6 L): 2;
//     [0.6 L, 2 L): 3;  d >= 2 L: 4.
// Class c uses 4 x 4 Gauss on each of 8 x 8, 4 x 4, 2 x 2, 1 equal sub-squares.        (4)
// Own panel (field point C): 4 x 4 Gauss on the 12 squares of side 1/2 around [-1/2, 1/2]^2,
// the 12 squares of side 1/4 around [-1/4, 1/4]^2, and 8 triangles filling [-1/4, 1/4]^2
// with a common vertex at 0,
//     sigma = rho (a_m + b_m eta), tau = rho (c_m + d_m eta),  rho in [0, 2], eta in [-1, 1],
//     Jacobian rho |a_m d_m - b_m c_m|  (the rho cancels 1/r).                          (5)
// A quadrature point of weight w_q contributes, with w = w_q |N~|, n = N~/|N~|, R = F - X~:
//     source_k += w p_i(sigma) p_j(tau) / r,  dipole_k += w p_i p_j (n . R) / r^3,      (6)
// and points with |N~| < 1e-8 contribute nothing.
//
// Result arrays are column-major float matrices with leading dimension n (row = panel or
// field point, 1-based panel p at row p - 1).  Panel arrays have 12 columns (column 1 the
// source, column 7 the dipole; the others belong to the field quadrature's higher modes),
// weighted arrays 18 (columns 1-9 sources of weights 1-9, 10-18 dipoles).  With the
// symmetry flag > 0 every "sum" array holds direct + image and every "difference" array
// direct - image, the image being the field point mirrored in y = 0.  Each coefficient is
// computed in double; a sum and its difference are formed in double from the two doubles
// (so a field point in y = 0 gives an exactly zero difference); storing narrows to float,
// and adding to a stored value widens it, adds in double and rounds back.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "integrals/panel_integrals.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

// Columns of the result arrays (1-based, as the equation systems name them).
inline constexpr int kPanelColumns = 12;
inline constexpr int kWeightedColumns = 18;
inline constexpr int kSourceColumn = 1;
inline constexpr int kDipoleColumn = 7;

// The per-panel tables the influence routines read (views into the panel model).
struct PanelTables {
    std::span<const float> corners;     // stride 12: x1..x4, y1..y4, z1..z4 (stored corners)
    std::span<const float> colloc;      // stride 3: collocation point
    std::span<const int> node_table;    // stride 9: 1-based panel numbers of the 9 nodes, 0 none
    std::span<const int> active;        // stride 1: 0 = the panel takes no part
    std::span<const float> sides;       // stride 4: side lengths (getic2b's size measure)
};
[[nodiscard]] PanelTables panel_tables(const PanelModel& model);

// Receives diagnostic lines (as they appear on the listing, leading blank included) from
// routines that report and go on.  getic2b's numerics stay free of I/O this way; a caller
// running columns in parallel must pass a sink that is safe to call from several threads.
using DiagnosticSink = std::function<void(std::string_view line)>;

// getic2b's warning line for a failed adaptive integral.
inline constexpr std::string_view kGetic2bFailLine = " influence matrix fail in getic2b";

// The lines of the failure report of getic2 / getic2a (without the list-directed leading
// blank): "ERROR: Error in panel integration detected in <routine>:", then "x1 = " ..
// "x4 = " with P1..P4 and "xf = " with the field point.
[[nodiscard]] std::vector<std::string> integration_failure_report(
    std::string_view routine, const std::array<Vec3d, 4>& corners, const Vec3d& field);

// A failed integral of getic2 / getic2a: the routine, the panel's corners P1..P4 and the
// field point.  The routines return it instead of going on; the caller stops the run with
// integration_failure_report.
struct IntegrationFailure {
    std::string_view routine;
    std::array<Vec3d, 4> corners;
    Vec3d field;
};
[[nodiscard]] inline std::vector<std::string> integration_failure_report(const IntegrationFailure& failure)
{
    return integration_failure_report(failure.routine, failure.corners, failure.field);
}

// ---- getic2b geometry, reusable by the basis-flow integrals -----------------------------

// (1): the panel in sigma, tau (A/2, B/2, D/4); its point() and normal() give X~ and N~.
[[nodiscard]] BilinearPanel sigma_panel(const BilinearPanel& panel) noexcept;
// (2): `sides` holds the panel's four side lengths.
[[nodiscard]] double size_measure(const std::array<Vec3d, 4>& corners,
                                  std::span<const float> sides) noexcept;
// (3): the nine reference points of a sigma panel.
[[nodiscard]] std::array<Vec3d, 9> reference_points(const BilinearPanel& sigma) noexcept;
[[nodiscard]] double reference_distance(const std::array<Vec3d, 9>& refs, const Vec3d& f) noexcept;
// (3): 0 for "integrate adaptively", else the class 1..4.
[[nodiscard]] int distance_class(double d, double size) noexcept;

// A quadrature point in (sigma, tau) with its weight (Gauss weights times the sub-square or
// triangle Jacobian; the area element |N~| is applied by the user).
struct ParamPoint {
    double sigma;
    double tau;
    double weight;
};
// (5): the 512 points of the graded own-panel rule: outer ring, inner ring, triangles.
[[nodiscard]] std::span<const ParamPoint> graded_own_panel_points();
// (4): the points of class rule 1..4, sub-square by sub-square.
[[nodiscard]] std::span<const ParamPoint> class_rule_points(int distance_class);

// ---- the operations -----------------------------------------------------------------------

// One row.  Clears all columns of the four n x 12 arrays, then for each active panel j
// stores the weight-0 coefficients in row j of panel_sum (own-panel rule when j =
// own_panel, with the method codes 1 and 2 replaced by 3) and adds the weight-k
// coefficients to row (node k of panel j) of node_sum.  With symmetry > 0 the image at
// (F_x, -F_y, F_z) is integrated with the regular rule (own panel included) and the sum /
// difference arrays are formed.  The first failed integral ends the row and is returned;
// rows computed before keep their values.
[[nodiscard]] std::optional<IntegrationFailure> getic2(const PanelTables& panels, int symmetry, int method, int own_panel,
            const std::array<float, 3>& field, int n, std::span<float> panel_sum,
            std::span<float> node_sum, std::span<float> panel_diff, std::span<float> node_diff);
[[nodiscard]] std::optional<IntegrationFailure> getic2(const PanelModel& model, int symmetry, int method, int own_panel,
            const std::array<float, 3>& field, int n, std::span<float> panel_sum,
            std::span<float> node_sum, std::span<float> panel_diff, std::span<float> node_diff);

// One column, all adaptive: panel `panel` against the collocation points of all panels (its
// own centre C for itself).  Rows of active points are overwritten in columns 1 and 7
// (panel arrays) and 1-18 (weighted arrays); rows of inactive points are zeroed there (the
// difference arrays only with symmetry); columns 2-6 and 8-12 are left as they are.  With
// depth > 0 every field point is replaced by its image in the bottom, z -> -z - 2 depth.
// The first failed integral ends the column and is returned, as in getic2.
[[nodiscard]] std::optional<IntegrationFailure> getic2a(const PanelTables& panels, int symmetry, int method, int panel,
             int n, std::span<float> panel_sum, std::span<float> weighted_sum,
             std::span<float> panel_diff, std::span<float> weighted_diff, float depth);
[[nodiscard]] std::optional<IntegrationFailure> getic2a(const PanelModel& model, int symmetry, int method, int panel,
             int n, std::span<float> panel_sum, std::span<float> weighted_sum,
             std::span<float> panel_diff, std::span<float> weighted_diff, float depth);

// One column by distance classes (method 3 for the adaptive part).  Clears the four arrays
// whole, then adds the direct, y-mirror (symmetry > 0) and bottom-image (depth >= 0)
// contributions.  `class_lists` are four work lists of at least n entries each (their
// contents on return: the 1-based numbers of the field points of each class, in scan
// order, each list as long as its class).
// A failed adaptive integral sends kGetic2bFailLine to `sink` and the value the
// integrator returned is used.  Returns the number of failed integrals.
int getic2b(const PanelTables& panels, const DiagnosticSink& sink, int symmetry, int panel, int n,
            const std::array<std::span<int>, 4>& class_lists, std::span<float> panel_sum,
            std::span<float> weighted_sum, std::span<float> panel_diff,
            std::span<float> weighted_diff, float depth);
int getic2b(const PanelModel& model, const DiagnosticSink& sink, int symmetry, int panel, int n,
            const std::array<std::span<int>, 4>& class_lists, std::span<float> panel_sum,
            std::span<float> weighted_sum, std::span<float> panel_diff,
            std::span<float> weighted_diff, float depth);

}  // namespace torva
