// Field quadrature: the flat-panel kernel for many point-panel pairs at once, for six
// polynomial source densities on the panel.
//
// Densities, in the panel's local coordinates about its reference point c:
//     f_1..f_6 = 1, xi, eta, xi^2, eta^2, xi eta.                                       (1)
// For each pair the result row holds, columns 1-6, the source values integral f_i / R' dA
// and, columns 7-12, the dipole values integral f_i zeta / R'^3 dA (the same quantities as
// phi_s, phi_d of the source kernel for f = 1; no 4 pi).
//
// Regimes by r^2 = xi^2 + eta^2 + zeta^2 against the area S = M(0,0):
//     r^2 < 40 S            near: closed forms over the polygon                        (2)
//     40 S <= r^2 < 150 S   intermediate: Taylor series with every moment up to order 4
//     r^2 >= 150 S          far: Taylor series through its second-order terms
// With the Taylor coefficients a_k of the inverse distance (source_kernel.hpp, (4)) and the
// moments M(m, n) about c, a density xi^a eta^b has
//     source = sum M(m + a, n + b) a_(m,n,0),   dipole = sum M(m + a, n + b) a_(m,n,1),  (3)
// over m + n <= 4 - a - b (intermediate; the table ends at total order 4) or m + n <= 2
// (far); the first moments, not zero about a corner mean, are included.
//
// The near formulas write each density about the foot (xi0, eta0) of the field point,
// xi' = xi0 + u, eta' = eta0 + v, so that e.g. xi'^2 = xi0^2 + 2 xi0 u + u^2, and take the
// integrals of 1, u, v, u^2, v^2, u v over the polygon from polygon_integrals.
//
// B-spline pieces: with a, b the two midline lengths, sigma the midline slope, m = -sigma,
// c = 1/sqrt(1 + sigma^2), the panel parameters are s = (xi - m eta)/a, t = eta/(b c) and
// the pieces w_k = 64 b_i(s) b_j(t), k = 1 + i + 3 j, with
//     b_0 = u^2/2 - u/2 + 1/8,   b_1 = 3/4 - u^2,   b_2 = u^2/2 + u/2 + 1/8.              (4)
// Writing b_i = C_i + L_i u + Q_i u^2 (C = 1/8, 3/4, 1/8; L = -1/2, 0, 1/2; Q = 1/2, -1, 1/2)
// and keeping the terms of degree <= 2,
//     w_k ~ 64 C_i C_j + 64 (L_i C_j s + C_i L_j t) + 64 (Q_i C_j s^2 + C_i Q_j t^2 + L_i L_j s t)  (5)
// whose integrals follow from the density values with
//     I_s = (I_xi - m I_eta)/a,  I_t = I_eta/(b c),  I_ss = (I_xixi - 2 m I_xieta + m^2 I_etaeta)/a^2,
//     I_tt = I_etaeta/(b c)^2,   I_st = (I_xieta - m I_etaeta)/(a b c).
// Piece 1 so receives -4 (I_s + I_t) + 4 I_ss + 4 I_tt + 16 I_st, piece 5 -48 (I_ss + I_tt).
// The constant part takes the caller's table T in place of 64 C_i C_j = (1, 6, 1, 6, 36, ...).
#pragma once

#include <array>
#include <span>
#include <vector>

#include "integrals/panel_twist.hpp"
#include "integrals/source_kernel.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

inline constexpr int kDensityModes = 6;
inline constexpr int kDensityColumns = 12;       // n x 12 result arrays
inline constexpr int kPieceColumns = 18;         // n x 18 weighted arrays

// "ERROR: Insufficient memory for arrays in vquadr."
inline constexpr const char* kVquadrMemoryMessage = "ERROR: Insufficient memory for arrays in vquadr.";

enum class FieldRegime { near, intermediate, far };

// The tests exactly as written: 40 S is intermediate, 150 S is far.
template <class Real>
[[nodiscard]] constexpr FieldRegime field_regime(Real r2, Real area) noexcept
{
    if (r2 < Real(40) * area) return FieldRegime::near;
    return r2 < Real(150) * area ? FieldRegime::intermediate : FieldRegime::far;
}

template <class Real>
struct DensityIntegrals {
    std::array<Real, kDensityModes> source{};
    std::array<Real, kDensityModes> dipole{};
};

// (2): closed forms for the six densities.  `polygon` holds the vertices about c; `lift` is
// the panel's twist (panel_twist.hpp): when it is not 0 the constant density's dipole is the
// solid angle of the true corners instead of the flat image's.
template <class Real>
[[nodiscard]] DensityIntegrals<Real> near_density_integrals(Real xi, Real eta, Real zeta,
                                                            const PanelPolygon<Real>& polygon,
                                                            Real lift = Real(0)) noexcept;
// (3): `moments` in the panel model's order (n outer, m inner); `intermediate` selects the
// order-4 series, otherwise the far one.  `twist` adds the panel twist's leading share to the
// constant density's dipole (panel_twist.hpp, (4)).
template <class Real>
[[nodiscard]] DensityIntegrals<Real> expansion_density_integrals(Real xi, Real eta, Real zeta,
                                                                 const std::array<Real, kMomentCount>& moments,
                                                                 bool intermediate,
                                                                 const TwistMoments<Real>& twist = {}) noexcept;

// Views into the panel model's tables that the field quadrature reads (0-based panels).
struct QuadraturePanels {
    std::span<const float> colloc;    // stride 3: reference point c (also the field points)
    std::span<const float> frame;     // stride 9: R, column by column
    std::span<const float> xi;        // stride 4: vertices in the panel plane
    std::span<const float> eta;       // stride 4
    std::span<const float> moments;   // stride 15: M(m, n), n outer, m inner
    std::span<const int> active;      // stride 1
    std::span<const float> corners;   // stride 12: the corner record (empty: untwisted panels)
};
[[nodiscard]] QuadraturePanels quadrature_panels(const PanelModel& model);

// One panel against the n collocation points, in double precision, for the image of the
// panel in the plane z = -depth: row j uses d = (x_j - c_x, y_j - c_y, z_j + c_z + 2 depth)
// and (xi, eta, zeta) = R d; panel_number < 0 takes panel -panel_number mirrored in y = 0
// (y_j -> -y_j).  Rows of inactive points are zeroed.  `result` is n x 12, column-major.
// Throws std::bad_alloc when its work arrays cannot be had (as do the other routines of
// this file that size work arrays); callers stop with kVquadrMemoryMessage.
void vquadr(int panel_number, int n, const QuadraturePanels& panels,
            std::span<float> result, float depth);
void vquadr(int panel_number, int n, const PanelModel& model,
            std::span<float> result, float depth);

// The row variant's per-panel data, structure of arrays so that the far-field sweep over
// all panels runs on contiguous vectors.  Built once per panel model.
struct RowPanels {
    int n = 0;
    std::array<std::vector<float>, 3> centre;              // c_x, c_y, c_z
    std::array<std::vector<float>, 9> frame;               // R entry by entry
    std::array<std::vector<float>, kMomentCount> moment;   // M(m, n) slot by slot
    std::vector<int> active;
    std::vector<PanelPolygon<float>> polygon;              // vertices, sides, area (near list)
    std::vector<float> lift;                               // twist (panel_twist.hpp), near list
    std::array<std::vector<float>, 3> twist;               // its series weights w20, w11, w02
};
[[nodiscard]] RowPanels make_row_panels(const QuadraturePanels& panels, int n);
[[nodiscard]] RowPanels make_row_panels(const PanelModel& model);

// Work arrays of the row variant: local coordinates and the near and intermediate lists.
// A caller that runs rows in parallel keeps one per thread.
struct RowWorkspace {
    std::vector<float> xi, eta, zeta;
    std::vector<int> near, intermediate;
    std::vector<int> special;     // vquadr_row_vectorised: panels not in the far range, or inactive
    std::vector<float> packed;    // vquadr_row_vectorised: the intermediate pairs, gathered
};

// One field point against every panel, in single precision, the far and intermediate
// series evaluated for 8 panels at a time.  Rows of inactive panels are zeroed.  `result`
// is n x 12, column-major.  Each value is the one the per-panel formulas give, bit for bit.
void vquadr_row_vectorised(const std::array<float, 3>& field, int n,
                           const RowPanels& panels, std::span<float> result, RowWorkspace& work);

// The source panel's geometry for (4): a, b, m = -sigma, c = 1/sqrt(1 + sigma^2).
struct PieceGeometry {
    double a = 1.0;
    double b = 1.0;
    double m = 0.0;
    double c = 1.0;
};
[[nodiscard]] PieceGeometry piece_geometry(const PanelModel& model, int panel_number);

// The nine piece values (5) from six density values.  Each part is on when its switch
// (ISPLINE) is 1: switches[0] the constant part (T_k times the constant density; without
// it the sum starts from 0), [1] the linear part, [2] the quadratic part.
[[nodiscard]] std::array<double, 9> spline_piece_values(const std::array<double, kDensityModes>& density,
                                                        const PieceGeometry& geometry,
                                                        const std::array<int, 3>& switches,
                                                        const std::array<float, 9>& weights) noexcept;

// The pieces of every panel of a row at once.  Per panel, structure of arrays: m = -sigma,
// 1/a and 1/(b c) in double (PieceGeometry's values, the reciprocals formed once).
struct PieceLanes {
    std::vector<double> m, inv_a, inv_bc;
};
[[nodiscard]] PieceLanes piece_lanes(const PanelModel& model);

// spline_piece_values for panels 0..n-1 of an n x 12 density array (columns 1-6 sources,
// 7-12 dipoles): piece k of panel q into source[k * stride + q] and dipole[k * stride + q],
// rounded to float.  The sums are grouped differently (see field_quadrature.cpp), so a value
// may differ from spline_piece_values' by a unit in the last place of the largest term.
// Inactive panels are not singled out: their (zero) densities give zero pieces.
void spline_pieces_vectorised(std::span<const float> density, int n, const PieceLanes& geometry,
                              const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                              float* source, float* dipole, std::size_t stride) noexcept;

// The quadrature-based influence column of panel p (1-based): vquadr into panel_sum; with
// symmetry == 1 also the y-mirrored panel (weighted_sum as scratch) and panel_diff = sum -
// image, panel_sum = sum + image; then row by row the 18 weighted columns (pieces 1-9 of
// the sources, then of the dipoles) from the 12 density columns, into weighted_sum (and
// from panel_diff into weighted_diff with symmetry).  Inactive rows get zeros.  Without
// symmetry panel_diff and weighted_diff are left as they are.
void vquadr_spline(int symmetry, int panel_number, int n,
                   const QuadraturePanels& panels, const PieceGeometry& geometry,
                   std::span<float> panel_sum, std::span<float> weighted_sum,
                   std::span<float> panel_diff, std::span<float> weighted_diff,
                   const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                   float depth);
void vquadr_spline(const PanelModel& model, int symmetry, int panel_number,
                   int n, std::span<float> panel_sum, std::span<float> weighted_sum,
                   std::span<float> panel_diff, std::span<float> weighted_diff,
                   const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                   float depth);

}  // namespace torva
