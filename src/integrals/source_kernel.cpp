// The flat-panel source kernel (symbols as in source_kernel.hpp).
//
// ---- Near field: closed forms over the polygon -------------------------------------------
//
// Let O' = (xi, eta) be the foot of the field point and zeta0 its height: zeta itself, or
// +-1e-6 S (sign of zeta) when |zeta| <= 1e-6 S, so that every logarithm stays finite for a
// point in the panel plane.  For edge k from V_s = V_k to V_e = V_k+1, with unit direction
// t = (c, s), outward in-plane normal n (left of t for a clockwise polygon, right of it for
// a counter-clockwise one), and R_j = sqrt(zeta0^2 + |O' - V_j|^2):
//     h   = (V_s - O') . n        distance of O' from the edge line, > 0 on the inner side
//     a_s = (V_s - O') . t,  a_e = (V_e - O') . t     the edge ends seen from the foot
//     rho^2 = h^2 + zeta0^2       squared distance of the field point from the edge line
//     Q = integral over the edge of 1/R' = ln((R_s + R_e + d)/(R_s + R_e - d))          (5)
//                                       = ln((R_e + a_e)(R_s - a_s)/rho^2)
// The first form cancels when the point nears the edge itself (R_s + R_e -> d); there the
// edge is seen under an angle near pi, cos = (a_s/R_s)(a_e/R_e) <= -0.99, and the second
// form, free of cancellation, is used.  In single precision the first form goes through the
// odd series of ln((1+x)/(1-x)), x = d/(R_s + R_e), below x = 0.4 (a float logarithm of a
// quotient near 1 keeps only the digits of 2x that survived the addition).
//
// With div(u (R' - |zeta0|)/rho'^2) = 1/R' in the plane (u the offset from O', rho' = |u|)
// the divergence theorem gives
//     phi_s = sum_k h_k Q_k - |zeta0| Omega,                                           (6)
//     Omega = 2 pi w - sum_k [atan(|zeta0| a / (h R))] from a_s to a_e,                 (7)
// Omega the unsigned solid angle and w = 1 for a foot inside the polygon, 0 outside.  Each
// bracket is the arctangent of a difference, atan2(-N, M) with
//     N = h |zeta0| (a_s/R_s - a_e/R_e),   M = h^2 + zeta0^2 (a_s/R_s)(a_e/R_e)          (8)
// (both scaled by h^2 R_s R_e / R_s R_e > 0, which keeps the quadrant).  We accumulate
// theta = sum atan2(N, M) = Omega - 2 pi w and add 2 pi when it is negative; the dipole is
// phi_d = +-Omega with the sign of zeta0.  (8) is 0/0 over a vertex (h = a = 0 for both
// edges that meet there); grouped by vertices instead, the two arctangents at vertex k
// (edge k-1 ending, edge k starting there) combine into atan2(-g N_v, g M_v) with
//     N_v = o |zeta0| R_k (c_(k-1) s_k - s_(k-1) c_k),
//     M_v = zeta0^2 (c_(k-1) c_k + s_(k-1) s_k) + h_(k-1) h_k,                           (9)
// o = +1 for a counter-clockwise polygon, -1 for a clockwise one, g = sign(h_(k-1) h_k)
// (0 counting as +): the common factor |O' - V_k|^2 is divided out, so (9) stays defined
// over the vertex.  It is used when the point lies over a vertex, R_k < 1.005 |zeta0|.
// In single precision the arctangent is a rational minimax fit on |t| <= 1 (t = N/M, or
// -M/N with +-pi/2 when |M| < |N|), plus +-pi when M < 0.
//
// Derivatives.  phi_s depends on the foot only through the offsets, so d/dxi = -d/dxi',
// and the divergence theorem once more gives
//     (dphi_s/dxi, dphi_s/deta) = -sum_k n_k Q_k,      dphi_s/dzeta = -phi_d.           (10)
// With dQ/dzeta0 = -zeta0 G and n . grad Q = h G, where
//     G = integral over the edge of 1/R'^3 = (a_e/R_e - a_s/R_s)/rho^2
//       = d (a_e + a_s) / (R_s R_e (a_e R_s + a_s R_e))                                 (11)
// (second form when a_s a_e > 0, free of the cancellation of the first; the first, whose
// terms add, otherwise, with rho^2 kept above 1e-30), and Laplace's equation,
//     (dphi_d/dxi, dphi_d/deta) = -zeta0 sum_k n_k G_k,   dphi_d/dzeta = -sum_k h_k G_k. (12)
// G is singular on the edge itself (the velocity of a dipole sheet is infinite along its
// rim).  When the foot lies within the edge's extent and rho < 1e-4 d the point is moved in
// the plane, along n, to 2e-4 d outside the edge line, everything is evaluated again there,
// and the error flag is set to 2; a point within 1e-3 S of the reference point is left
// where it is.
//
// Higher moments over the polygon, for the field quadrature's polynomial densities (offsets
// u = xi' - xi, v = eta' - eta from the foot; on edge k a point is O' + h n + a t):
//     E1 = integral of R' da  = (1/2)[a R' + rho^2 ln(a + R')] = (P + rho^2 Q)/2,
//          P = a_e R_e - a_s R_s = (d/2)[(R_e + R_s) + (a_e + a_s)^2/(R_e + R_s)],
//     E2 = integral of a R' da = (R_e^3 - R_s^3)/3,  E1' = integral of a/R' da = R_e - R_s,
//          R_e - R_s = d (a_e + a_s)/(R_e + R_s)      (forms without cancellation).
// u/R' = d R'/du and u^2/R' = d(u R')/du - R', u v/R' = d(u R')/dv give, with
//     K = integral of R' dA = (sum_k h_k E1_k + zeta0^2 phi_s)/3                         (13)
// (from div(u R') = 2 R' + rho'^2/R' and rho'^2 = R'^2 - zeta0^2):
//     int u/R'   = sum n_u E1,                  int v/R' = sum n_v E1,
//     int u^2/R' = sum n_u (h n_u E1 + t_u E2) - K,   int v^2/R' likewise with v,       (14)
//     int u v/R' = sum n_v (h n_u E1 + t_u E2),
// and the dipoles follow as -d/dzeta0 of these (u, v do not depend on zeta0; dE1 = zeta0 Q,
// dE2 = zeta0 E1', dK = zeta0 phi_s):
//     int zeta0 u/R'^3   = -zeta0 sum n_u Q,
//     int zeta0 u^2/R'^3 = -zeta0 sum n_u (h n_u Q + t_u E1') + zeta0 phi_s,            (15)
//     int zeta0 u v/R'^3 = -zeta0 sum n_v (h n_u Q + t_u E1').
// For a point in the plane (|zeta| < 1e-6 S) all dipole values are 0 and theta is taken as
// 0, as for phi_d.
//
// ---- Far field: multipole expansion -----------------------------------------------------
//
// By (4) of the header, with the moments M(m, n) about c:
//     phi_s = sum M(m, n) a_(m,n,0),     phi_d = -d phi_s/d zeta = sum M(m, n) a_(m,n,1),
//     dphi_s/dxi = -sum (m+1) M(m, n) a_(m+1,n,0),   dphi_s/deta = -sum (n+1) M a_(m,n+1,0),
//     dphi_d/dxi = -sum (m+1) M a_(m+1,n,1),  dphi_d/deta = -sum (n+1) M a_(m,n+1,1),    (16)
//     dphi_d/dzeta = -2 sum M a_(m,n,2).
// The sums run over the moments of the 13-value table: order 0 and 2 always, 3 and 4 when
// r^2 < 150 S.  The first moments are not in the table: about the centroid they vanish.
// With the pre-scaled M20 = 1.5 M(2,0), M11 = 3 M(1,1), M02 = 1.5 M(0,2) the second-order
// part reads -(M20 + M02)/(3 r^3) + (xi^2 M20 + eta^2 M02 + xi eta M11)/r^5, the textbook
// quadrupole term.  Writing the third- and fourth-order terms through the Taylor
// coefficients keeps their factors exact (1/3!, 1/4! and the (2n-1)!! of the derivatives
// of 1/r are inside the a_k); they are summed from the highest order down.
#include "integrals/source_kernel.hpp"
#include "integrals/vector_lanes.hpp"

#include <cmath>
#include <limits>
#include <type_traits>

namespace torva {

namespace {

// Height below which a point counts as lying in the panel plane, as a multiple of S.
constexpr double kPlaneGuard = 1.0e-6;
// cos of the angle under which the point sees an edge, below which (5) takes its product form.
constexpr double kEdgeCosine = -0.99;
// A point over a vertex: R_k < 1.005 |zeta0|.
constexpr double kOverVertex = 1.005;
// Edge check of the derivatives: rho < 1e-4 d is too close; the point is moved to 2e-4 d.
constexpr double kEdgeClearance = 1.0e-4;
constexpr double kEdgeMove = 2.0e-4;
// A point this close to the reference point (times S) is never moved.
constexpr double kOriginGuard = 1.0e-3;
// Smallest rho^2 in (11).
constexpr double kRhoFloor = 1.0e-30;

// ln((1+x)/(1-x)) for 0 <= x < 0.4 in single precision: the odd series 2(x + x^3/3 + ...)
// as a minimax polynomial.
[[nodiscard]] inline float log_ratio_series(float x) noexcept
{
    const float x2 = x * x;
    return x * (1.9999928f + x2 * (0.6672544f + x2 * (0.3872259f + 0.3850846f * x2)));
}

// atan2(n, m) in single precision: a rational fit of atan on |t| <= 1 with the quadrant
// added by hand.
[[nodiscard]] inline float arctangent2(float n, float m) noexcept
{
    constexpr float kHalfPi = 1.5707963f;
    constexpr float kPi = 3.1415927f;
    float base = 0.0f;
    float t = 0.0f;
    if (std::fabs(m) < std::fabs(n)) {
        t = -m / n;
        base = n >= 0.0f ? kHalfPi : -kHalfPi;
    } else {
        if (m == 0.0f) return 0.0f;   // n = m = 0: no angle (only reachable for a zero edge)
        t = n / m;
        if (m < 0.0f) base = n >= 0.0f ? kPi : -kPi;
    }
    const float t2 = t * t;
    return base + t * ((0.24091198f * t2 + 3.7851121f) * t2 + 5.677072f) /
                      ((t2 + 5.677285f) * t2 + 5.677075f);
}

template <class Real>
[[nodiscard]] inline Real angle_of(Real n, Real m) noexcept
{
    if constexpr (std::is_same_v<Real, float>) {
        return arctangent2(n, m);
    } else {
        return (n == 0 && m == 0) ? Real(0) : std::atan2(n, m);
    }
}

template <class Real>
[[nodiscard]] inline Real two_pi() noexcept
{
    if constexpr (std::is_same_v<Real, float>) return 6.2831855f;
    else return 6.283185307179586;
}

// (5): the integral of 1/R' along one edge.
template <class Real>
[[nodiscard]] inline Real edge_log(Real d, Real r_s, Real r_e, Real a_s, Real a_e,
                                   Real rho2) noexcept
{
    if ((a_s / r_s) * (a_e / r_e) <= Real(kEdgeCosine))
        return std::log((r_e + a_e) * (r_s - a_s) / rho2);
    const Real sum = r_s + r_e;
    const Real x = d / sum;
    if constexpr (std::is_same_v<Real, float>) {
        if (x < 0.4f) return log_ratio_series(x);
        return std::log((sum + d) / (sum - d));
    } else {
        if (x < 0.4) return std::log1p(2.0 * x / (1.0 - x));
        return std::log((sum + d) / (sum - d));
    }
}

}  // namespace

template <class Real>
PolygonIntegrals<Real> polygon_integrals(Real xi, Real eta, Real zeta,
                                         const PanelPolygon<Real>& polygon,
                                         unsigned parts) noexcept
{
    PolygonIntegrals<Real> out;
    const Real area = polygon.area;
    // A panel without area has no influence (and would leave zeta0 = 0 below).
    if (!(area > 0)) return out;

    const bool want_moments = (parts & kPolygonMoments) != 0;
    const bool want_gradients = (parts & (kPolygonGradients | kPolygonNoEdgeCheck)) != 0;
    const bool edge_check = (parts & kPolygonGradients) != 0 && (parts & kPolygonNoEdgeCheck) == 0;

    const Real guard = Real(kPlaneGuard) * area;
    const Real zeta0 = std::fabs(zeta) <= guard ? (zeta < 0 ? -guard : guard) : zeta;
    const Real zeta_abs = std::fabs(zeta0);
    const Real zeta2 = zeta0 * zeta0;
    out.zeta0 = zeta0;
    out.in_plane = std::fabs(zeta) < guard;

    // Orientation o of (9) and of the outward normals: twice the signed area.
    Real twice_area = 0;
    for (int k = 0; k < 4; ++k) {
        const int e = (k + 1) % 4;
        twice_area += polygon.xi[k] * polygon.eta[e] - polygon.xi[e] * polygon.eta[k];
    }
    const Real orientation = twice_area > 0 ? Real(1) : Real(-1);

    // Offsets of the vertices from the foot (V_k - O') and the distances R_k.
    std::array<Real, 4> du{}, dv{}, r{};
    bool over_vertex = false;
    for (int k = 0; k < 4; ++k) {
        du[k] = polygon.xi[k] - xi;
        dv[k] = polygon.eta[k] - eta;
        r[k] = std::sqrt(zeta2 + du[k] * du[k] + dv[k] * dv[k]);
        if (r[k] < Real(kOverVertex) * zeta_abs) over_vertex = true;
    }
    const Real r_origin = std::sqrt(xi * xi + eta * eta + zeta * zeta);

    // Per edge: direction, inward distance h (kept for the vertex form (9)).
    std::array<Real, 4> tc{}, ts{}, hk{};
    std::array<bool, 4> used{};

    Real sum_hq = 0, theta = 0;
    Real sum_nu_q = 0, sum_nv_q = 0;                       // (10), (15)
    Real sum_nu_g = 0, sum_nv_g = 0, sum_h_g = 0;          // (12)
    Real sum_h_e1 = 0, sum_nu_e1 = 0, sum_nv_e1 = 0;       // (13), (14)
    Real w_uu = 0, w_vv = 0, w_uv = 0;                     // (14)
    Real q_uu = 0, q_vv = 0, q_uv = 0;                     // (15)

    for (int k = 0; k < 4; ++k) {
        const Real d = polygon.sides[k];
        if (!(d > guard)) continue;
        const int e = (k + 1) % 4;
        used[k] = true;
        const Real c = (polygon.xi[e] - polygon.xi[k]) / d;
        const Real s = (polygon.eta[e] - polygon.eta[k]) / d;
        tc[k] = c;
        ts[k] = s;
        const Real nu = orientation * s;
        const Real nv = -orientation * c;
        const Real h = du[k] * nu + dv[k] * nv;
        hk[k] = h;
        const Real a_s = du[k] * c + dv[k] * s;
        const Real a_e = du[e] * c + dv[e] * s;
        const Real r_s = r[k];
        const Real r_e = r[e];
        const Real rho2 = h * h + zeta2;

        const Real q = edge_log(d, r_s, r_e, a_s, a_e, rho2);   // (5)
        sum_hq += h * q;
        sum_nu_q += nu * q;
        sum_nv_q += nv * q;

        if (!over_vertex) {                                     // (8)
            const Real cos_s = a_s / r_s;
            const Real cos_e = a_e / r_e;
            theta += angle_of(h * zeta_abs * (cos_s - cos_e), h * h + zeta2 * cos_s * cos_e);
        }

        if (want_gradients) {                                   // (11), (12)
            Real g;
            if (a_s * a_e > 0) {
                g = d * (a_e + a_s) / (r_s * r_e * (a_e * r_s + a_s * r_e));
            } else {
                g = (a_e / r_e - a_s / r_s) / std::max(rho2, Real(kRhoFloor));
                if (edge_check && !out.near_edge &&
                    rho2 < Real(kEdgeClearance * kEdgeClearance) * d * d &&
                    r_origin >= Real(kOriginGuard) * area) {
                    // Move along n (outward) until h = -2e-4 d.
                    const Real shift = h + Real(kEdgeMove) * d;
                    out.near_edge = true;
                    out.move_xi = nu * shift;
                    out.move_eta = nv * shift;
                }
            }
            sum_nu_g += nu * g;
            sum_nv_g += nv * g;
            sum_h_g += h * g;
        }

        if (want_moments) {                                     // (13)-(15)
            const Real r_sum = r_e + r_s;
            const Real a_sum = a_e + a_s;
            const Real p = Real(0.5) * d * (r_sum + a_sum * a_sum / r_sum);
            const Real e1 = Real(0.5) * (p + rho2 * q);
            const Real e1_prime = d * a_sum / r_sum;
            const Real e2 = e1_prime * (r_e * r_e + r_e * r_s + r_s * r_s) / Real(3);
            sum_h_e1 += h * e1;
            sum_nu_e1 += nu * e1;
            sum_nv_e1 += nv * e1;
            w_uu += nu * (h * nu * e1 + c * e2);
            w_vv += nv * (h * nv * e1 + s * e2);
            w_uv += nv * (h * nu * e1 + c * e2);
            q_uu += nu * (h * nu * q + c * e1_prime);
            q_vv += nv * (h * nv * q + s * e1_prime);
            q_uv += nv * (h * nu * q + c * e1_prime);
        }
    }

    if (over_vertex) {                                          // (9)
        // Consecutive edges in use, each pair meeting at the start vertex of the later one.
        int previous = -1;
        for (int k = 3; k >= 0; --k) {
            if (used[k]) { previous = k; break; }
        }
        for (int k = 0; k < 4 && previous >= 0; ++k) {
            if (!used[k]) continue;
            const Real g = ((hk[previous] < 0) != (hk[k] < 0)) ? Real(-1) : Real(1);
            const Real n_v = orientation * zeta_abs * r[k] * (tc[previous] * ts[k] - ts[previous] * tc[k]);
            const Real m_v = zeta2 * (tc[previous] * tc[k] + ts[previous] * ts[k]) + hk[previous] * hk[k];
            theta += angle_of(-g * n_v, g * m_v);
            previous = k;
        }
    }

    if (theta < 0) theta += two_pi<Real>();
    if (out.in_plane) theta = 0;
    out.dipole = zeta0 < 0 ? -theta : theta;
    out.source = sum_hq - zeta_abs * theta;                    // (6)

    if (want_gradients) {                                       // (10), (12)
        out.dphis_dxi = -sum_nu_q;
        out.dphis_deta = -sum_nv_q;
        out.dphid_dxi = -zeta0 * sum_nu_g;
        out.dphid_deta = -zeta0 * sum_nv_g;
        out.dphid_dzeta = -sum_h_g;
    }

    if (want_moments) {
        const Real k_integral = (sum_h_e1 + zeta2 * out.source) / Real(3);   // (13)
        out.source_u = sum_nu_e1;
        out.source_v = sum_nv_e1;
        out.source_uu = w_uu - k_integral;
        out.source_vv = w_vv - k_integral;
        out.source_uv = w_uv;
        if (!out.in_plane) {                                    // (15)
            out.dipole_u = -zeta0 * sum_nu_q;
            out.dipole_v = -zeta0 * sum_nv_q;
            out.dipole_uu = -zeta0 * q_uu + zeta0 * out.source;
            out.dipole_vv = -zeta0 * q_vv + zeta0 * out.source;
            out.dipole_uv = -zeta0 * q_uv;
        }
    }
    return out;
}

template PolygonIntegrals<float> polygon_integrals<float>(float, float, float,
                                                          const PanelPolygon<float>&,
                                                          unsigned) noexcept;
template PolygonIntegrals<double> polygon_integrals<double>(double, double, double,
                                                            const PanelPolygon<double>&,
                                                            unsigned) noexcept;

// ---- the kernel ---------------------------------------------------------------------------

KernelPanel kernel_panel(const PanelModel& model, int panel_number)
{
    const auto i = static_cast<std::size_t>(to_panel_index(panel_number));
    KernelPanel panel;
    for (std::size_t k = 0; k < 9; ++k) panel.frame[k] = model.frame[9 * i + k];
    for (std::size_t k = 0; k < 4; ++k) {
        panel.xi[k] = model.xi[4 * i + k];
        panel.eta[k] = model.eta[4 * i + k];
        panel.sides[k] = model.sides[4 * i + k];
    }
    for (std::size_t k = 0; k < 3; ++k) panel.centre[k] = model.colloc[3 * i + k];
    for (std::size_t k = 0; k < 13; ++k) panel.moments[k] = model.moment13[13 * i + k];
    panel.area = model.moment2[2 * i + 1];
    return panel;
}

namespace {

[[nodiscard]] PanelPolygon<float> polygon_of(const KernelPanel& panel) noexcept
{
    PanelPolygon<float> polygon;
    polygon.xi = panel.xi;
    polygon.eta = panel.eta;
    polygon.sides = panel.sides;
    polygon.area = panel.area;
    return polygon;
}

// (16) over one list of terms, added to `out`.
template <bool Gradients, class Taylor, std::size_t N>
void add_moment_terms(const Taylor& a, const std::array<MomentTerm, N>& terms,
                      const std::array<float, 13>& moments, LocalKernel& out) noexcept
{
    for (auto it = terms.rbegin(); it != terms.rend(); ++it) {
        const int m = it->m;
        const int n = it->n;
        const float moment = moments[static_cast<std::size_t>(it->slot)];
        out.phi_s += moment * a(m, n, 0);
        out.phi_d += moment * a(m, n, 1);
        if constexpr (Gradients) {
            out.dphis_dxi -= static_cast<float>(m + 1) * moment * a(m + 1, n, 0);
            out.dphis_deta -= static_cast<float>(n + 1) * moment * a(m, n + 1, 0);
            out.dphid_dxi -= static_cast<float>(m + 1) * moment * a(m + 1, n, 1);
            out.dphid_deta -= static_cast<float>(n + 1) * moment * a(m, n + 1, 1);
            out.dphid_dzeta -= 2.0f * moment * a(m, n, 2);
        }
    }
}

// The Taylor table's order: the moments' order, +1 for phi_d or a derivative in the plane,
// +2 for dphi_d/dzeta (k3 = 2).
template <bool Rich, bool Gradients>
LocalKernel expand(float xi, float eta, float zeta, const KernelPanel& panel) noexcept
{
    constexpr int kOrder = (Rich ? 4 : 2) + (Gradients ? 2 : 1);
    constexpr int kMaxK3 = Gradients ? 2 : 1;
    const InverseDistanceTaylor<float, kOrder, kMaxK3> a(xi, eta, zeta);
    LocalKernel out;
    if constexpr (Rich) add_moment_terms<Gradients>(a, kRichTerms, panel.moments, out);
    add_moment_terms<Gradients>(a, kShortTerms, panel.moments, out);
    return out;
}

}  // namespace

LocalKernel near_field_kernel(float xi, float eta, float zeta, const KernelPanel& panel,
                              bool gradients) noexcept
{
    const PanelPolygon<float> polygon = polygon_of(panel);
    const unsigned parts = gradients ? kPolygonGradients : kPolygonPotentials;
    PolygonIntegrals<float> p = polygon_integrals(xi, eta, zeta, polygon, parts);
    LocalKernel out;
    if (p.near_edge) {
        p = polygon_integrals(xi + p.move_xi, eta + p.move_eta, zeta, polygon,
                              static_cast<unsigned>(kPolygonNoEdgeCheck));
        out.error_flag = kMovedOffEdge;
    }
    out.phi_s = p.source;
    out.phi_d = p.dipole;
    out.dphis_dxi = p.dphis_dxi;
    out.dphis_deta = p.dphis_deta;
    out.dphid_dxi = p.dphid_dxi;
    out.dphid_deta = p.dphid_deta;
    out.dphid_dzeta = p.dphid_dzeta;
    return out;
}

LocalKernel multipole_kernel(float xi, float eta, float zeta, const KernelPanel& panel, bool rich,
                             bool gradients) noexcept
{
    if (gradients) {
        return rich ? expand<true, true>(xi, eta, zeta, panel)
                    : expand<false, true>(xi, eta, zeta, panel);
    }
    return rich ? expand<true, false>(xi, eta, zeta, panel)
                : expand<false, false>(xi, eta, zeta, panel);
}

LocalKernel local_source_kernel(float xi, float eta, float zeta, const KernelPanel& panel,
                                bool gradients) noexcept
{
    const float r2 = xi * xi + eta * eta + zeta * zeta;
    switch (kernel_regime(r2, panel.area)) {
    case KernelRegime::near:
        return near_field_kernel(xi, eta, zeta, panel, gradients);
    case KernelRegime::rich_expansion:
        return multipole_kernel(xi, eta, zeta, panel, true, gradients);
    case KernelRegime::short_expansion:
        break;
    }
    return multipole_kernel(xi, eta, zeta, panel, false, gradients);
}

// Line kernel (3).  For one source point at the reference point, with v the upward unit
// vector in local coordinates (the third column of R), Z = x . v and w = r + Z:
//     g = -ln w,   g_i = -q_i / w,   q_i = x_i/r + v_i,
//     g_ij = -h_ij / w + q_i q_j / w^2,   h_ij = dq_i/dx_j = (delta_ij - x_i x_j / r^2)/r,
//     g_ijk = -dh_ij/dx_k / w + (h_ij q_k + h_ik q_j + h_jk q_i)/w^2 - 2 q_i q_j q_k / w^3,
//     dh_ij/dx_k = -(delta_ij x_k + delta_ik x_j + delta_jk x_i)/r^3 + 3 x_i x_j x_k / r^5.
// The expansion of -ln(R' + Z') about c to the second moments (the first vanish) is
//     L = m0 g + (1/2)(M(2,0) g_11 + 2 M(1,1) g_12 + M(0,2) g_22)
//       = m0 g + (1/3)(M20 g_11 + M11 g_12 + M02 g_22)     (pre-scaled moments),
// and its derivatives are the same sums over g_k and g_ijk.  It serves at every distance:
// the line kernel is a smooth correction that the callers weight by the panel moments.
// w -> 0 only on the half-line itself (below c); for Z < 0 it is formed as
// |x x v|^2/(r - Z), which does not cancel, and kept above 1e-30.
LineKernel line_kernel(float xi, float eta, float zeta, const KernelPanel& panel,
                       bool gradients) noexcept
{
    const std::array<float, 3> x = {xi, eta, zeta};
    const std::array<float, 3> v = {panel.frame[6], panel.frame[7], panel.frame[8]};
    const float r2 = xi * xi + eta * eta + zeta * zeta;
    const float r = std::sqrt(r2);
    LineKernel out;
    if (!(r > 0.0f)) return out;
    const float z = xi * v[0] + eta * v[1] + zeta * v[2];
    float w;
    if (z >= 0.0f) {
        w = r + z;
    } else {
        const float cx = eta * v[2] - zeta * v[1];
        const float cy = zeta * v[0] - xi * v[2];
        const float cz = xi * v[1] - eta * v[0];
        w = (cx * cx + cy * cy + cz * cz) / (r - z);
    }
    w = std::max(w, static_cast<float>(kRhoFloor));

    std::array<float, 3> q{};
    for (int i = 0; i < 3; ++i) q[i] = x[i] / r + v[i];
    float h[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) h[i][j] = ((i == j ? 1.0f : 0.0f) - x[i] * x[j] / r2) / r;

    const float inv_w = 1.0f / w;
    const float inv_w2 = inv_w * inv_w;
    const float g = -std::log(w);
    auto g2 = [&](int i, int j) { return -h[i][j] * inv_w + q[i] * q[j] * inv_w2; };

    const float m0 = panel.moments[0];
    const float m20 = panel.moments[1];
    const float m11 = panel.moments[4];
    const float m02 = panel.moments[7];
    out.value = 0.5f * (m20 * g2(0, 0) + 2.0f * m11 * g2(0, 1) + m02 * g2(1, 1)) + m0 * g;
    const float r3 = r2 * r;
    const float r5 = r3 * r2;
    auto dh = [&](int i, int j, int k) {
        const float d_ij = i == j ? 1.0f : 0.0f;
        const float d_ik = i == k ? 1.0f : 0.0f;
        const float d_jk = j == k ? 1.0f : 0.0f;
        return -(d_ij * x[k] + d_ik * x[j] + d_jk * x[i]) / r3 + 3.0f * x[i] * x[j] * x[k] / r5;
    };
    auto g3 = [&](int i, int j, int k) {
        return -dh(i, j, k) * inv_w + (h[i][j] * q[k] + h[i][k] * q[j] + h[j][k] * q[i]) * inv_w2 -
               2.0f * q[i] * q[j] * q[k] * inv_w2 * inv_w;
    };
    auto derivative = [&](int k) {
        return 0.5f * (m20 * g3(0, 0, k) + 2.0f * m11 * g3(0, 1, k) + m02 * g3(1, 1, k)) +
               m0 * (-q[k] * inv_w);
    };
    out.second = -derivative(2);
    if (gradients) {
        out.dxi = derivative(0);
        out.deta = derivative(1);
    }
    return out;
}

namespace {

// R^T g: a local vector back to global coordinates (R column by column, rows e1, e2, n).
[[nodiscard]] std::array<float, 3> to_global(const std::array<float, 9>& frame, float g_xi,
                                             float g_eta, float g_zeta) noexcept
{
    return {frame[0] * g_xi + frame[1] * g_eta + frame[2] * g_zeta,
            frame[3] * g_xi + frame[4] * g_eta + frame[5] * g_zeta,
            frame[6] * g_xi + frame[7] * g_eta + frame[8] * g_zeta};
}

}  // namespace

std::array<float, 3> local_coordinates(const std::array<float, 3>& x, const KernelPanel& panel) noexcept
{
    const std::array<float, 9>& frame = panel.frame;
    const float dx = x[0] - panel.centre[0];
    const float dy = x[1] - panel.centre[1];
    const float dz = x[2] - panel.centre[2];
    return {frame[0] * dx + frame[3] * dy + frame[6] * dz, frame[1] * dx + frame[4] * dy + frame[7] * dz,
            frame[2] * dx + frame[5] * dy + frame[8] * dz};
}

SourceKernelResult source_kernel(const std::array<float, 3>& x, int line_mode,
                                 const KernelPanel& panel, int gradient_flag) noexcept
{
    const std::array<float, 9>& frame = panel.frame;
    const auto [xi, eta, zeta] = local_coordinates(x, panel);

    const bool gradients = gradient_flag != 0;
    const LocalKernel local = local_source_kernel(xi, eta, zeta, panel, gradients);
    SourceKernelResult out;
    out.phi_s = local.phi_s;
    out.phi_d = local.phi_d;
    out.error_flag = local.error_flag;
    if (gradients) {
        out.grad_phi_s = to_global(frame, local.dphis_dxi, local.dphis_deta, -local.phi_d);
        out.grad_phi_d = to_global(frame, local.dphid_dxi, local.dphid_deta, local.dphid_dzeta);
    }
    if (line_mode != 0) {
        const bool line_gradient = gradients && line_mode == 1;
        const LineKernel line = line_kernel(xi, eta, zeta, panel, line_gradient);
        out.line = line.value;
        out.line_second = line.second;
        if (line_gradient) out.grad_line = to_global(frame, line.dxi, line.deta, -line.second);
    }
    return out;
}

SourceKernelResult source_kernel(const std::array<float, 3>& x, int line_mode, int panel_number,
                                 const PanelModel& model, int gradient_flag)
{
    return source_kernel(x, line_mode, kernel_panel(model, panel_number), gradient_flag);
}

}  // namespace torva
