// Added mass of a deeply submerged sphere or prolate spheroid from the main equation system,
// measured against the exact potential-flow values.  No gtest here: the convergence test and
// the convergence benchmark both use it.
//
// The body is the cubed ellipsoid of torva-mesh, x^2/a^2 + (y^2 + z^2)/b^2 = 1 about
// (0, 0, -depth).  Its sheet for the cube face with outward axis s e_i maps the grid
// coordinates (p, q) (node indices, continuous) to
//     c_i = s,  c_first = tan(-pi/4 + pi/2 p/n_first),  c_second = tan(-pi/4 + pi/2 q/n_second),
//     X(p, q) = centre + (a, b, b) * c/|c|                                             (1)
// with (first, second) = (k, j) for s = +1 and (j, k) for s = -1, (i, j, k) cyclic; the
// tangents' product X_p x X_q points into the body.
//
// The solution is taken as the time-domain solver takes it: u = A^-1 B k with B the rows of
// .jou1 and k_c = n_d of body panel c (unit translation along axis d, normal out of the fluid).
// The potential of interior panel (i, j) at (s, t) in [-1/2, 1/2]^2 is the B-spline sum
//     phi(s, t) = sum_k 64 b_i(s) b_j(t) u_(node k)                                     (2)
// and the added mass m_dd = integral of phi n_d dS is integrated with a 5 x 5 Gauss rule per
// panel over the exact surface (1), p = i - 1/2 + s, q = j - 1/2 + t, so that neither the
// bilinear panels nor a low-order rule hides the solver's own error (support/journal_solver.hpp).
//
// Exact values (rho = 1, V = 4/3 pi a b^2, e = sqrt(1 - b^2/a^2), L = ln((1 + e)/(1 - e))):
//     alpha0 = 2 (1 - e^2)/e^3 (L/2 - e),   beta0 = 1/e^2 - (1 - e^2)/(2 e^3) L,
//     m_11 = alpha0/(2 - alpha0) V,         m_22 = m_33 = beta0/(2 - beta0) V,           (3)
// which for the sphere (e -> 0) are both V/2.
#pragma once

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "../../tools/mesh_shapes.hpp"
#include "equations/seteqn.hpp"
#include "journal_solver.hpp"
#include "memory_output.hpp"
#include "panel_models.hpp"

namespace torva::testing {

struct Ellipsoid {
    double a = 1.0;               // semi-axis along x
    double b = 1.0;               // semi-axis along y and z
    int n[3] = {8, 8, 8};         // panels per cube edge along x, y, z
    double depth = 10.0;          // centre at (0, 0, -depth)
};

inline PanelModel ellipsoid_model(const Ellipsoid& e)
{
    mesh_tool::CubedEllipsoidParams p;
    p.centre = {0.0, 0.0, -e.depth};
    p.semi[0] = e.a;
    p.semi[1] = p.semi[2] = e.b;
    for (int i = 0; i < 3; ++i) p.n[i] = e.n[i];
    return panel_model_from(mesh_tool::cubed_ellipsoid(p), 0);
}

// (3): the exact added mass for a translation along axis d (0 = x).
inline double exact_added_mass(const Ellipsoid& e, int d)
{
    const double volume = 4.0 / 3.0 * std::numbers::pi * e.a * e.b * e.b;
    if (e.a == e.b) return 0.5 * volume;
    const double ecc = std::sqrt(1.0 - e.b * e.b / (e.a * e.a));
    const double e2 = ecc * ecc, e3 = e2 * ecc;
    const double L = std::log((1.0 + ecc) / (1.0 - ecc));
    const double k = d == 0 ? 2.0 * (1.0 - e2) / e3 * (0.5 * L - ecc) : 1.0 / e2 - (1.0 - e2) / (2.0 * e3) * L;
    return k / (2.0 - k) * volume;
}

// The point and the area vector X_p x X_q of (1) on sheet `sheet` (the generator's order).
struct SurfacePoint {
    std::array<double, 3> x, area;
};

inline SurfacePoint exact_surface(const Ellipsoid& e, int sheet, double p, double q)
{
    const int i = sheet / 2, s = sheet % 2 == 0 ? -1 : 1;
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    const int first = s > 0 ? k : j, second = s > 0 ? j : k;
    const double quarter = 0.25 * std::numbers::pi;
    std::array<double, 3> c{}, cp{}, cq{};
    const double ap = -quarter + 2.0 * quarter * p / e.n[first];
    const double aq = -quarter + 2.0 * quarter * q / e.n[second];
    c[i] = s;
    c[first] = std::tan(ap);
    c[second] = std::tan(aq);
    cp[first] = 2.0 * quarter / e.n[first] / (std::cos(ap) * std::cos(ap));
    cq[second] = 2.0 * quarter / e.n[second] / (std::cos(aq) * std::cos(aq));
    const double r = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    const double semi[3] = {e.a, e.b, e.b};
    const double cdp = c[first] * cp[first] / (r * r * r), cdq = c[second] * cq[second] / (r * r * r);
    SurfacePoint out;
    std::array<double, 3> xp, xq;
    for (int m = 0; m < 3; ++m) {
        out.x[m] = semi[m] * c[m] / r + (m == 2 ? -e.depth : 0.0);
        xp[m] = semi[m] * (cp[m] / r - c[m] * cdp);
        xq[m] = semi[m] * (cq[m] / r - c[m] * cdq);
    }
    out.area = {xp[1] * xq[2] - xp[2] * xq[1], xp[2] * xq[0] - xp[0] * xq[2], xp[0] * xq[1] - xp[1] * xq[0]};
    return out;
}

// The largest distance between a stored corner and the exact surface point (1) of its node:
// proves that (1) is the surface the mesh was made from.
inline double corner_mismatch(const Ellipsoid& e, const PanelModel& model)
{
    double worst = 0.0;
    for (int sh = 0, p0 = 0; sh < model.n_sheets; p0 += model.np[sh], ++sh)
        for (int j = 1; j + 1 < model.np2[sh]; ++j)
            for (int i = 1; i + 1 < model.np1[sh]; ++i) {
                const float* cr = &model.corners[12 * std::size_t(p0 + i + j * model.np1[sh])];
                // Stored corner 3 is node (i - 1, j - 1) and corner 1 node (i, j).
                for (const auto& [corner, di] : {std::pair{2, 1}, std::pair{0, 0}}) {
                    const SurfacePoint x = exact_surface(e, sh, i - di, j - di);
                    for (int m = 0; m < 3; ++m) worst = std::max(worst, std::abs(x.x[m] - cr[4 * m + corner]));
                }
            }
    return worst;
}

// The main system of `model` with the given influence path, solved for the three unit
// translations: u[d] the spline coefficients of translation d.
inline std::array<std::vector<float>, 3> solve_translations(const PanelModel& model, int infmeth,
                                                             const std::array<int, 3>& ispline)
{
    testing::MemoryOutput o;
    seteqn(model, o.out, 0, model.n_sheets, model.n_panels, ispline, infmeth, 1, -1.0f);
    const std::vector<std::vector<float>> rows = o.floats(JournalFile::jou1);
    std::array<std::vector<float>, 3> out;
    for (int d = 0; d < 3; ++d)
        out[static_cast<std::size_t>(d)] = solve_from_journals(model.n_panels, rows, o.journal.records(JournalFile::jou2),
                                                               0, 1, translation_condition(model, d));
    return out;
}

// m_dd: (2) integrated over the exact surface (1).
inline double added_mass_on_surface(const Ellipsoid& e, const PanelModel& model, const std::vector<float>& u, int d)
{
    return potential_integral(model, u, d, [&](int sheet, int, int q, double s, double t) {
        const int np1 = model.np1[sheet];
        return exact_surface(e, sheet, q % np1 - 0.5 + s, q / np1 - 0.5 + t).area;
    });
}

// Relative added-mass errors (m - exact)/exact of the three translations.
inline std::array<double, 3> added_mass_errors(const Ellipsoid& e, int infmeth, const std::array<int, 3>& ispline)
{
    const PanelModel model = ellipsoid_model(e);
    const auto u = solve_translations(model, infmeth, ispline);
    std::array<double, 3> err{};
    for (int d = 0; d < 3; ++d) {
        const double exact = exact_added_mass(e, d);
        err[static_cast<std::size_t>(d)] = (added_mass_on_surface(e, model, u[static_cast<std::size_t>(d)], d) - exact) / exact;
    }
    return err;
}

}  // namespace torva::testing
