// Source and dipole integrals of one bilinear panel seen from one field point.
//
// Geometry.  A panel is the doubly ruled surface through its integration corners P1..P4,
// parametrised on the square (s, t) in [-1/2, 1/2]^2:
//     X(s, t) = C + A s + B t + D s t,                                                  (1)
//     C = (P1 + P2 + P3 + P4)/4,      A = (P2 + P3 - P1 - P4)/2,
//     B = (P3 + P4 - P1 - P2)/2,      D = P1 - P2 + P3 - P4,
// so X(-1/2,-1/2) = P1, X(1/2,-1/2) = P2, X(1/2,1/2) = P3, X(-1/2,1/2) = P4 and X(0,0) = C.
// The tangents are X_s = A + D t, X_t = B + D s and the normal is N = X_s x X_t, not
// normalised: |N| ds dt is the area element.  The integration corners are the stored
// corners 3, 2, 1, 4 of the panel model's corner record; that order makes s run along the
// sheet's first grid direction, t along the second, and fixes the sign of N.
//
// Weights.  w_0 = 1; the B-spline pieces are
//     w_k(s, t) = 64 b_i(s) b_j(t),  k = 1 + i + 3 j,  i, j in {0, 1, 2},                (2)
//     b_0(u) = (u^2 - u)/2 + 1/8,  b_1(u) = 3/4 - u^2,  b_2(u) = (u^2 + u)/2 + 1/8,
// the uniform quadratic B-spline on [-1/2, 1/2]; they sum to 64 everywhere (b_0 + b_1 +
// b_2 = 1).  In sigma = 2 s they read p_i(sigma) p_j(tau), p_0 = (1 - sigma)^2,
// p_1 = 6 - 2 sigma^2, p_2 = (1 + sigma)^2.
//
// Integrands, for a field point F, R = F - X(s, t), r = |R|:
//     source  w |N| / r,           dipole  w (N . R) / r^3,                               (3)
// i.e. the integrals of w/r and of w d(1/r)/dn over the panel area, n = N/|N|.  No factor
// 4 pi is applied: for a closed surface with N outward the dipole integrals sum to -4 pi at
// an inside point, -2 pi at a smooth surface point and 0 outside.
//
// Regular rule: (3) over the whole square with the integrator of the method code
// (1 Romberg, 2 adaptive with the size criterion, 3 adaptive with two Gauss rules; any
// other code gives 0), tolerance 1e-4 each, source first; the dipole is skipped when the
// source failed.
//
// Own-panel rule: the field point is taken to lie at the parameter centre (0, 0).  With
// alpha = |A|, beta = |B|:
//     alpha > 3 beta:  rho = beta/(2 alpha); the end strips |s| >= rho take the regular
//                      integrand, the centre |s| <= rho, |t| <= 1/2 (equal physical sides)
//                      the collapsed one with half-widths h_s = rho, h_t = 1/2;          (4)
//     beta > 3 alpha:  the same with s and t exchanged;
//     otherwise:       the collapsed integrand over the whole panel, h_s = h_t = 1/2.
// The collapsed integrand splits the centre rectangle into four triangles with a vertex at
// (0, 0) (right, top, left, bottom) and maps each from the square (xi, eta) in
// [-1/2, 1/2]^2 with u = 1/2 + xi, v = xi - 1/2:
//     G(xi, eta) = 2 h_s h_t [ u (g(h_s u, 2 h_t u eta) + g(2 h_s u eta, h_t u))
//                             - v (g(h_s v, 2 h_t v eta) + g(2 h_s v eta, h_t v)) ],     (5)
// g the regular integrand; the Jacobians u and -v cancel the 1/r singularity.  The pieces
// are integrated in the order: strip 1 source, strip 1 dipole, collapsed source, collapsed
// dipole, strip 2 source, strip 2 dipole (strip 1 the one at negative s or t), each with a
// fresh tolerance, stopping at the first failure.  Methods 1 and 2 are replaced by 3 here:
// Romberg would sample the singular centre and (2) can never accept a piece when F = C.
#pragma once

#include <array>
#include <span>

#include "integrals/integrators_2d.hpp"

namespace torva {

// Method codes of the integrators.
inline constexpr int kMethodRomberg = 1;
inline constexpr int kMethodAdaptiveSize = 2;
inline constexpr int kMethodAdaptiveTworule = 3;

// Number of B-spline pieces of a panel.
inline constexpr int kSplineWeights = 9;

namespace vec3 {
[[nodiscard]] inline Vec3d add(const Vec3d& p, const Vec3d& q) noexcept
{ return {p[0] + q[0], p[1] + q[1], p[2] + q[2]}; }
[[nodiscard]] inline Vec3d sub(const Vec3d& p, const Vec3d& q) noexcept
{ return {p[0] - q[0], p[1] - q[1], p[2] - q[2]}; }
[[nodiscard]] inline Vec3d scale(const Vec3d& p, double f) noexcept
{ return {p[0] * f, p[1] * f, p[2] * f}; }
[[nodiscard]] inline double dot(const Vec3d& p, const Vec3d& q) noexcept
{ return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; }
[[nodiscard]] inline Vec3d cross(const Vec3d& p, const Vec3d& q) noexcept
{ return {p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]}; }
[[nodiscard]] double norm(const Vec3d& p) noexcept;
}  // namespace vec3

// (1): the bilinear panel.
struct BilinearPanel {
    Vec3d c{}, a{}, b{}, d{};

    [[nodiscard]] Vec3d point(double s, double t) const noexcept;
    [[nodiscard]] Vec3d normal(double s, double t) const noexcept;   // N = X_s x X_t
};

[[nodiscard]] BilinearPanel make_bilinear_panel(const Vec3d& p1, const Vec3d& p2, const Vec3d& p3,
                                                const Vec3d& p4) noexcept;

// Integration corners P1..P4 of a stored corner record (x1..x4, y1..y4, z1..z4 of the
// stored corners 1..4; at least 12 values): P1..P4 = stored corners 3, 2, 1, 4, widened.
[[nodiscard]] std::array<Vec3d, 4> integration_corners(std::span<const float> record);

// (2): w_k(s, t); k = 0 gives 1, k = 1..9 the B-spline pieces.
[[nodiscard]] double spline_weight(int k, double s, double t) noexcept;
// The three 1-D pieces p_0..p_2 of (2) in sigma = 2 s.
[[nodiscard]] std::array<double, 3> spline_pieces_sigma(double sigma) noexcept;

// What an integrand needs besides (s, t): the panel, the field point and the weight.
// Passed explicitly (no module state), so integrations can run side by side.
struct IntegrationContext {
    BilinearPanel panel;
    Vec3d field{};
    int weight = 0;   // 0 constant, 1..9 B-spline piece
};

// (3) at (s, t).
[[nodiscard]] double source_integrand(const IntegrationContext& ctx, double s, double t) noexcept;
[[nodiscard]] double dipole_integrand(const IntegrationContext& ctx, double s, double t) noexcept;

// The integrator of `method` applied to f over [a, b] x [c, d] with tolerance 1e-4; method
// 2 measures pieces on ctx.panel against |ctx.field - C|.  Other codes give {0, 0}.
[[nodiscard]] Integral2d integrate_with_method(int method, Integrand2d f,
                                               const IntegrationContext& ctx, double a,
                                               double b, double c, double d);

// Method code used on the own panel: 1 and 2 become 3, every other code is kept.
[[nodiscard]] constexpr int own_panel_method(int method) noexcept
{ return (method == kMethodRomberg || method == kMethodAdaptiveSize) ? kMethodAdaptiveTworule : method; }

// (4): how the own-panel rule divides the parameter square.  `axis` is 0 for no strips,
// 1 for strips in s, 2 for strips in t; rho is the half-width of the centre part along
// that axis (1/2 without strips).  The tests alpha > 3 beta are strict.
struct OwnPanelSplit {
    int axis = 0;
    double rho = 0.5;
};
[[nodiscard]] OwnPanelSplit own_panel_split(const BilinearPanel& panel) noexcept;

struct PanelIntegrals {
    double source = 0.0;
    double dipole = 0.0;
    int error_flag = 0;
};

struct PanelIntegralsW9 {
    std::array<double, kSplineWeights> source{};   // weight k at [k - 1]
    std::array<double, kSplineWeights> dipole{};
    int error_flag = 0;
    // Weights whose source and dipole both finished without error: 9 on success, k - 1 when
    // weight k failed (its failing value is still stored; later weights stay 0).
    int weights_done = 0;
};

// Regular rule, weight 0 / weights 1..9, at field point f.
[[nodiscard]] PanelIntegrals panel_integrals(int method, const Vec3d& f, const Vec3d& p1,
                                             const Vec3d& p2, const Vec3d& p3, const Vec3d& p4);
[[nodiscard]] PanelIntegralsW9 panel_integrals_w9(int method, const Vec3d& f, const Vec3d& p1,
                                                  const Vec3d& p2, const Vec3d& p3,
                                                  const Vec3d& p4);
// Own-panel rule (4)-(5); the singular point is the parameter centre.  The integrands use
// f as given, except that a point within float rounding of the centre C (the panel's
// collocation point, a float copy of C) is taken to be C: the principal value at C is
// what the equation systems want, and the rounding offset would otherwise put an
// unresolvable spike into the dipole integrand.
[[nodiscard]] PanelIntegrals self_panel_integrals(int method, const Vec3d& f, const Vec3d& p1,
                                                  const Vec3d& p2, const Vec3d& p3,
                                                  const Vec3d& p4);
[[nodiscard]] PanelIntegralsW9 self_panel_integrals_w9(int method, const Vec3d& f,
                                                       const Vec3d& p1, const Vec3d& p2,
                                                       const Vec3d& p3, const Vec3d& p4);

}  // namespace torva
