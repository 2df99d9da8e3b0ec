// The flat-panel source kernel: potential and velocity of a plane polygon carrying a unit
// source density and a unit normal dipole density.
//
// Symbols.  A panel lies in the plane zeta = 0 of its local frame; a global point x has the
// local coordinates (xi, eta, zeta) = R (x - c), c the panel's reference point and R the
// 3 x 3 frame stored column by column (rows e1, e2, n).  Its vertices are (xi_k, eta_k),
// k = 1..4, its edges run k -> k+1 (4 -> 1) with lengths d_k, its area is S, and
// M(m, n) = integral of xi^m eta^n over the panel (m0 = M(0,0) = S).  For a field point,
// r = |(xi, eta, zeta)| and, for a panel point x', R' = |x - x'|.
//
//     phi_s = integral of 1/R' dA                                                     (1)
//     phi_d = -d phi_s / d zeta = integral of zeta / R'^3 dA                          (2)
//
// phi_d is the solid angle under which the panel is seen, signed like zeta: +-2 pi just
// above / below the panel's interior, 0 in its plane outside it.  No factor 4 pi is
// applied anywhere.
//
// Regimes, by r^2 against S:
//     r^2 <= 40 S           near: closed form over the polygon (source_kernel.cpp, (5)-(12))
//     40 S < r^2 < 150 S    multipole expansion with the moments up to order 4
//     r^2 >= 150 S          multipole expansion with the moments up to order 2
// sqrt(40) ~ 6.3 panel sizes: beyond it the order-4 expansion is accurate to ~1e-6, and
// beyond sqrt(150) ~ 12 panel sizes the second-order one is.
//
// Line kernel: the source density of the panel continued along vertical half-lines below
// it, regularised by dropping the logarithm of the line length:
//     L(x) = integral over the panel of -ln(R' + Z') dA,   Z' = (x - x') . z_up           (3)
// evaluated by its Taylor expansion about c up to the second moments (see line_kernel).
//
// The routines here are pure: they read their arguments, write nothing and keep no state,
// so any number of them may run side by side.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "mesh/panel_model.hpp"

namespace torva {

// Regime bounds, as multiples of the panel area S compared with r^2.
inline constexpr float kNearFieldRatio = 40.0f;
inline constexpr float kRichExpansionRatio = 150.0f;
// Error flag of the kernel when the field point had to be moved off an edge line.
inline constexpr int kMovedOffEdge = 2;

// One panel as the kernel reads it; built by hand in tests or copied from the panel model.
struct KernelPanel {
    std::array<float, 9> frame{};      // R, column by column: e1x e2x nx e1y e2y ny e1z e2z nz
    std::array<float, 4> xi{};         // vertices in the panel plane, in edge order
    std::array<float, 4> eta{};
    std::array<float, 3> centre{};     // c
    std::array<float, 4> sides{};      // d_k, length of edge k -> k+1
    std::array<float, 13> moments{};   // M(0,0) M(2,0) M(3,0) M(4,0) M(1,1) M(2,1) M(3,1)
                                       // M(0,2) M(1,2) M(2,2) M(0,3) M(1,3) M(0,4)
    float area = 0.0f;                 // S, the second value of the (1.0, S) pair
};

// Panel `panel_number` (1-based) of the model: frame, local corners, collocation point, side
// lengths, the 13-value moment table and the area of the (1.0, S) table.
[[nodiscard]] KernelPanel kernel_panel(const PanelModel& model, int panel_number);

enum class KernelRegime { near, rich_expansion, short_expansion };

// The tests are made on floats, exactly as written: r^2 = 40 S is near, r^2 = 150 S short.
[[nodiscard]] constexpr KernelRegime kernel_regime(float r2, float area) noexcept
{
    if (!(r2 > kNearFieldRatio * area)) return KernelRegime::near;
    return r2 < kRichExpansionRatio * area ? KernelRegime::rich_expansion
                                           : KernelRegime::short_expansion;
}

// The kernel in local coordinates.  d phi_s / d zeta = -phi_d is not stored again.
struct LocalKernel {
    float phi_s = 0.0f;
    float phi_d = 0.0f;
    float dphis_dxi = 0.0f;
    float dphis_deta = 0.0f;
    float dphid_dxi = 0.0f;
    float dphid_deta = 0.0f;
    float dphid_dzeta = 0.0f;
    int error_flag = 0;        // 0, or kMovedOffEdge
};

// Closed form over the polygon.  With `gradients` the derivatives are filled too, and a
// point on (or within 1e-4 d_k of) an edge is moved off it first (error_flag 2).
[[nodiscard]] LocalKernel near_field_kernel(float xi, float eta, float zeta,
                                            const KernelPanel& panel, bool gradients) noexcept;
// Multipole expansion: moments of order 0 and 2, with `rich` also 3 and 4.
[[nodiscard]] LocalKernel multipole_kernel(float xi, float eta, float zeta,
                                           const KernelPanel& panel, bool rich,
                                           bool gradients) noexcept;
// The regime's evaluation.
[[nodiscard]] LocalKernel local_source_kernel(float xi, float eta, float zeta,
                                              const KernelPanel& panel, bool gradients) noexcept;

// (3) and its derivatives in local coordinates.  `second` is -dL/dzeta, the value that
// takes the place of phi_d in the global gradient R^T (dL/dxi, dL/deta, -second).
struct LineKernel {
    float value = 0.0f;
    float second = 0.0f;
    float dxi = 0.0f;
    float deta = 0.0f;
};
[[nodiscard]] LineKernel line_kernel(float xi, float eta, float zeta, const KernelPanel& panel,
                                     bool gradients) noexcept;

// The source-kernel operation for a global field point.
struct SourceKernelResult {
    float phi_d = 0.0f;
    float phi_s = 0.0f;
    float line = 0.0f;                    // line_mode != 0
    float line_second = 0.0f;             // line_mode != 0: -dL/dzeta
    std::array<float, 3> grad_phi_s{};    // gradient_flag != 0
    std::array<float, 3> grad_phi_d{};    // gradient_flag != 0
    std::array<float, 3> grad_line{};     // gradient_flag != 0 and line_mode == 1
    int error_flag = 0;                   // 0, or kMovedOffEdge
};

// x in the panel's local frame: (xi, eta, zeta) = R (x - c).  The scalar kernel and the
// sweeps both call it, so a pair gets the same local coordinates, bit for bit, either way.
[[nodiscard]] std::array<float, 3> local_coordinates(const std::array<float, 3>& x, const KernelPanel& panel) noexcept;

// A moment of the 13-value table with its exponents, for the far-field expansion.
struct MomentTerm {
    int m;
    int n;
    int slot;
};
// Order 0 and 2, then 3 and 4: the positions in the 13-value table.
inline constexpr std::array<MomentTerm, 4> kShortTerms = {{{0, 0, 0}, {2, 0, 1}, {1, 1, 4}, {0, 2, 7}}};
inline constexpr std::array<MomentTerm, 9> kRichTerms = {{{3, 0, 2}, {2, 1, 5}, {1, 2, 8}, {0, 3, 10},
                                                          {4, 0, 3}, {3, 1, 6}, {2, 2, 9}, {1, 3, 11},
                                                          {0, 4, 12}}};

// x: the field point in global coordinates.  line_mode: 0 no line kernel, non-zero its
// value and second value, 1 also its global gradient (with gradient_flag).  gradient_flag:
// non-zero asks for the global gradients of phi_s and phi_d.
[[nodiscard]] SourceKernelResult source_kernel(const std::array<float, 3>& x, int line_mode,
                                               const KernelPanel& panel,
                                               int gradient_flag) noexcept;
[[nodiscard]] SourceKernelResult source_kernel(const std::array<float, 3>& x, int line_mode,
                                               int panel_number, const PanelModel& model,
                                               int gradient_flag);

// ---- shared with the field quadrature ------------------------------------------------------

// A plane polygon of up to four vertices (edge k runs k -> k+1, 4 -> 1; an edge of length
// <= 1e-6 S is skipped, so a triangle is a quadrilateral with one vertex repeated).  Either
// orientation is accepted.
template <class Real>
struct PanelPolygon {
    std::array<Real, 4> xi{};
    std::array<Real, 4> eta{};
    std::array<Real, 4> sides{};
    Real area = 0;
};

// What polygon_integrals computes besides phi_s and phi_d.
enum PolygonParts : unsigned {
    kPolygonPotentials = 0u,
    kPolygonMoments = 1u,     // the u, v and second-order integrals below
    kPolygonGradients = 2u,   // the derivatives of phi_s and phi_d, with the edge check
    kPolygonNoEdgeCheck = 4u  // gradients without the edge check (the repeated evaluation)
};

// Closed-form integrals over a polygon seen from (xi, eta, zeta).  u = xi' - xi and
// v = eta' - eta are the in-plane offsets of a panel point from the foot of the field point.
template <class Real>
struct PolygonIntegrals {
    Real zeta0 = 0;            // zeta, or +-1e-6 S when |zeta| <= 1e-6 S
    bool in_plane = false;     // |zeta| < 1e-6 S: all dipole values are 0
    Real source = 0;           // phi_s, (1)
    Real dipole = 0;           // phi_d, (2)
    // integrals of g/R' and of g zeta0/R'^3 for g = u, v, u^2, v^2, u v
    Real source_u = 0, source_v = 0, source_uu = 0, source_vv = 0, source_uv = 0;
    Real dipole_u = 0, dipole_v = 0, dipole_uu = 0, dipole_vv = 0, dipole_uv = 0;
    // derivatives (kPolygonGradients)
    Real dphis_dxi = 0, dphis_deta = 0;
    Real dphid_dxi = 0, dphid_deta = 0, dphid_dzeta = 0;
    // set by the edge check: the point lies within 1e-4 d_k of an edge; moving it by
    // (move_xi, move_eta) puts it 2e-4 d_k outside that edge's line
    bool near_edge = false;
    Real move_xi = 0, move_eta = 0;
};

template <class Real>
[[nodiscard]] PolygonIntegrals<Real> polygon_integrals(Real xi, Real eta, Real zeta,
                                                       const PanelPolygon<Real>& polygon,
                                                       unsigned parts) noexcept;
extern template PolygonIntegrals<float> polygon_integrals<float>(float, float, float,
                                                                 const PanelPolygon<float>&,
                                                                 unsigned) noexcept;
extern template PolygonIntegrals<double> polygon_integrals<double>(double, double, double,
                                                                   const PanelPolygon<double>&,
                                                                   unsigned) noexcept;

// Taylor coefficients of the inverse distance about the panel's reference point,
//     a_k(x) = (1/k!) d^k/dy^k |x - y|^-1 at y = 0,   k = (k1, k2, k3),  |k| = k1 + k2 + k3,
// so that for any density f on the panel
//     integral of f(x') / |x - x'| dA' = sum over k of a_k(x) * integral of f x'^k dA'.    (4)
// They obey (|k| >= 1, terms with a negative index left out)
//     |k| r^2 a_k = (2|k| - 1) sum_i x_i a_(k - e_i) - (|k| - 1) sum_i a_(k - 2 e_i),
// started from a_0 = 1/r; e.g. a_(1,0,0) = xi/r^3, a_(2,0,0) = (3 xi^2 - r^2)/(2 r^5).  Only
// k3 <= MaxK3 is filled (the panel has no extent along zeta; the derivatives along zeta
// come from k3 = 1, 2).  Derivatives in x: d a_k / d x_i = -(k_i + 1) a_(k + e_i).
template <class Real, int Order, int MaxK3>
struct InverseDistanceTaylor {
    static_assert(Order >= 0 && MaxK3 >= 0 && MaxK3 <= Order);
    Real a[MaxK3 + 1][Order + 1][Order + 1] = {};

    [[nodiscard]] Real operator()(int k1, int k2, int k3) const noexcept { return a[k3][k2][k1]; }

    InverseDistanceTaylor(Real x, Real y, Real z) noexcept
    {
        const Real r2 = x * x + y * y + z * z;
        const Real inv_r2 = Real(1) / r2;
        a[0][0][0] = Real(1) / std::sqrt(r2);
        for (int n = 1; n <= Order; ++n) {
            const Real first_factor = Real(2 * n - 1);
            const Real second_factor = Real(n - 1);
            const Real inv_n = inv_r2 / Real(n);
            for (int k3 = 0; k3 <= std::min(n, MaxK3); ++k3) {
                for (int k2 = 0; k2 <= n - k3; ++k2) {
                    const int k1 = n - k2 - k3;
                    Real first = 0;
                    Real second = 0;
                    if (k1 >= 1) first += x * a[k3][k2][k1 - 1];
                    if (k2 >= 1) first += y * a[k3][k2 - 1][k1];
                    if (k3 >= 1) first += z * a[k3 - 1][k2][k1];
                    if (k1 >= 2) second += a[k3][k2][k1 - 2];
                    if (k2 >= 2) second += a[k3][k2 - 2][k1];
                    if (k3 >= 2) second += a[k3 - 2][k2][k1];
                    a[k3][k2][k1] = (first_factor * first - second_factor * second) * inv_n;
                }
            }
        }
    }
};

// ---- several pairs at once ------------------------------------------------------------------
//
// The sweeps below evaluate the kernel for 8 pairs at a time (integrals/vector_lanes.hpp);
// each pair's result is bit for bit that of the scalar routine named beside it.


// "avx2" or "generic": the instruction set the sweeps run with on this machine.
[[nodiscard]] const char* vector_kernels_isa() noexcept;
// Makes the sweeps use their generic code even where AVX2 exists (tests and benchmarks check
// that copy too).  Not for use while a sweep is running.
void force_generic_vector_kernels(bool on) noexcept;

// The panels whose velocity a row needs, structure of arrays (one vector per quantity), in the
// order the records are written.  Built once per panel model.
struct VelocityPanels {
    std::vector<int> column;                   // 0-based unknown of each panel
    std::array<std::vector<float>, 9> frame;   // R entry by entry
    std::array<std::vector<float>, 3> centre;  // c
    std::array<std::vector<float>, 4> moment;  // m0, M(2,0), M(1,1), M(0,2) (13-value slots 0, 1, 4, 7)
    std::vector<float> area;                   // S
    std::vector<KernelPanel> panel;            // the whole record, for the near and rich pairs
    [[nodiscard]] std::size_t size() const noexcept { return column.size(); }
};
[[nodiscard]] VelocityPanels velocity_panels(std::span<const KernelPanel> panels, std::span<const int> columns);

// Work arrays of velocity_sweep (one per thread); sized on first use, or beforehand by
// reserve (then a sweep over at most `panels` panels allocates nothing, as a parallel
// region wants).
struct VelocitySweepWork {
    std::vector<int> special;                  // pairs within 150 S: near or rich expansion
    std::vector<int> rich;                     // those in the rich range
    std::vector<float> local, packed;          // their local coordinates, and gathered data
    void reserve(std::size_t panels);
};

// The global gradient of phi_s (the source-induced velocity) at x for every panel of the
// list: u[j], v[j], w[j] = source_kernel(x, 0, panel[j], 1).grad_phi_s, bit for bit.  Pairs in
// the second- and fourth-moment ranges are evaluated 8 at a time, near pairs one by one.
void velocity_sweep(const std::array<float, 3>& x, const VelocityPanels& panels, float* u, float* v,
                    float* w, VelocitySweepWork& work);
// The same with phi[j] = source_kernel(x, 0, panel[j], 1).phi_s as well, bit for bit.
void potential_velocity_sweep(const std::array<float, 3>& x, const VelocityPanels& panels, float* phi, float* u,
                              float* v, float* w, VelocitySweepWork& work);

}  // namespace torva
