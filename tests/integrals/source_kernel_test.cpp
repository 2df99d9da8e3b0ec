// Tests of the flat-panel source kernel against truths it did not produce: a brute-force
// double-precision quadrature of the integrands over the polygon, the solid angle of a
// closed box, the remainder bound of the multipole series, and central differences.
// Brute force: brute_force_quadrature.hpp.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "integrals/brute_force_quadrature.hpp"

namespace torva {
namespace {

using namespace torva::brute;

constexpr double kPi = 3.14159265358979323846;
constexpr double kFloatEps = std::numeric_limits<float>::epsilon();

struct TestPanel : FlatQuad {
    KernelPanel kernel;
};
TestPanel make_panel(const FlatQuad& q) { return {q, kernel_panel_of(q)}; }
TestPanel skew_panel(std::array<double, 3> angles = {}, std::array<double, 3> c = {})
{
    return make_panel(skew_quad(1.0, true, angles, c));
}

// Reference values at local point (x, y, z) by brute force.
struct Reference {
    double phi_s, phi_d, dphis_dxi, dphis_deta, dphid_dxi, dphid_deta, dphid_dzeta;
};

Reference brute_force(const TestPanel& p, double x, double y, double z)
{
    auto q = [&](auto integrand) { return polygon_quadrature(p.vx, p.vy, x, y, z, integrand); };
    auto rr = [&](double u, double v) { return std::sqrt((x - u) * (x - u) + (y - v) * (y - v) + z * z); };
    Reference ref{};
    ref.phi_s = q([&](double u, double v) { return 1.0 / rr(u, v); });
    ref.phi_d = q([&](double u, double v) { return z / std::pow(rr(u, v), 3); });
    ref.dphis_dxi = q([&](double u, double v) { return -(x - u) / std::pow(rr(u, v), 3); });
    ref.dphis_deta = q([&](double u, double v) { return -(y - v) / std::pow(rr(u, v), 3); });
    ref.dphid_dxi = q([&](double u, double v) { return -3.0 * z * (x - u) / std::pow(rr(u, v), 5); });
    ref.dphid_deta = q([&](double u, double v) { return -3.0 * z * (y - v) / std::pow(rr(u, v), 5); });
    ref.dphid_dzeta = q([&](double u, double v) {
        const double r = rr(u, v);
        return 1.0 / std::pow(r, 3) - 3.0 * z * z / std::pow(r, 5);
    });
    return ref;
}

// The panels of a closed box with outward normals see an inside point under a total solid
// angle of 4 pi, so their dipole values (signed like the height above each panel) add to
// -4 pi inside and to 0 outside.
TEST(source_kernel, closed_box_dipoles_sum_to_minus_four_pi_inside_and_zero_outside)
{
    // Box [0, 2] x [0, 1] x [0, 1.5]; each face a rectangle: the Euler angles putting n along
    // the outward normal, its centre, its extents along e1 and e2.
    struct Face { double a, b, g; std::array<double, 3> c; double lx, ly; };
    const double h = kPi / 2;
    const std::vector<Face> faces = {
        {0.0, 0.0, 0.0, {1.0, 0.5, 1.5}, 2.0, 1.0},   // top, n = +z
        {kPi, 0.0, 0.0, {1.0, 0.5, 0.0}, 2.0, 1.0},   // bottom, n = -z
        {0.0, h, 0.0, {2.0, 0.5, 0.75}, 1.5, 1.0},    // n = +x
        {0.0, -h, 0.0, {0.0, 0.5, 0.75}, 1.5, 1.0},   // n = -x
        {-h, 0.0, 0.0, {1.0, 1.0, 0.75}, 2.0, 1.5},   // n = +y
        {h, 0.0, 0.0, {1.0, 0.0, 0.75}, 2.0, 1.5},    // n = -y
    };
    std::vector<TestPanel> panels;
    for (const Face& f : faces) {
        const double x = f.lx / 2, y = f.ly / 2;
        panels.push_back(make_panel(flat_quad({x, x, -x, -x}, {y, -y, -y, y}, true, {f.a, f.b, f.g}, f.c)));
    }
    for (const TestPanel& p : panels)   // every normal points out of the box
        ASSERT_GT(p.frame[2] * (p.c[0] - 1.0) + p.frame[5] * (p.c[1] - 0.5) + p.frame[8] * (p.c[2] - 0.75), 0.0);
    auto total = [&](std::array<float, 3> x) {
        double sum = 0.0;
        for (const TestPanel& p : panels) sum += source_kernel(x, 0, p.kernel, 0).phi_d;
        return sum;
    };
    // Six solid angles of size <= 2 pi, each to ~32 eps: allow 6 x 32 x 2 pi eps.
    const double tol = 6 * 32 * 2 * kPi * kFloatEps;
    for (const std::array<float, 3> inside : {std::array<float, 3>{1.0f, 0.5f, 0.75f},
                                              {0.1f, 0.9f, 0.2f}, {1.99f, 0.02f, 1.4f}})
        EXPECT_NEAR(total(inside), -4.0 * kPi, tol);
    for (const std::array<float, 3> outside : {std::array<float, 3>{3.0f, 0.5f, 0.75f},
                                               {-0.5f, -0.2f, 2.0f}, {1.0f, 0.5f, 1.6f}})
        EXPECT_NEAR(total(outside), 0.0, tol);
    // Far outside (expansions): the sum of six expansions, each exact to its remainder.
    EXPECT_NEAR(total({30.0f, 10.0f, -5.0f}), 0.0, 1e-6);
}

// ---- expansions -----------------------------------------------------------------------------

// 1/|x - x'| = sum_l rho^l / r^(l+1) P_l(cos), |P_l| <= 1, so a series cut after order K
// errs by at most S (rho/r)^(K+1) / (r - rho) on phi_s (rho the largest vertex distance
// from c).  Each term of its zeta-derivative is bounded by (l+1) rho^l / r^(l+2)
// (derivative of a solid harmonic of degree -(l+1)), giving
// S (rho/r)^(K+1) (K + 2 + rho/(r - rho)) / (r (r - rho)) for phi_d.  Float rounding adds
// ~8 eps of the result.
double series_bound(double area, double rho, double r, int order)
{ return area * std::pow(rho / r, order + 1) / (r - rho); }
double series_bound_dipole(double area, double rho, double r, int order)
{ return series_bound(area, rho, r, order) * (order + 2 + rho / (r - rho)) / r; }

double vertex_radius(const TestPanel& p)
{
    double rho = 0;
    for (int k = 0; k < 4; ++k) rho = std::max(rho, std::hypot(p.vx[k], p.vy[k]));
    return rho;
}

TEST(source_kernel, expansions_match_exact_integrals_within_their_remainder)
{
    // A long, skew quadrilateral: every third and fourth moment is of its own size.
    const TestPanel p = make_panel(flat_quad({0.5, 0.3, -0.4, -0.6}, {1.0, -0.9, -1.1, 0.8}, true));
    const double s = p.kernel.area;
    const double rho = vertex_radius(p);
    struct Case { double ratio; std::array<double, 3> dir; };
    for (const Case c : {Case{40.5, {0.6, 0.3, 0.74}}, Case{60.0, {-0.2, 0.9, -0.4}},
                         Case{149.0, {0.8, -0.1, 0.59}}, Case{150.0, {0.3, 0.3, 0.9}},
                         Case{400.0, {-0.5, -0.5, 0.7}}, Case{100.0, {0.05, 1.0, 0.1}},
                         Case{140.0, {0.02, -1.0, 0.3}}, Case{120.0, {1.0, 0.03, -0.2}}}) {
        const double norm = std::hypot(c.dir[0], c.dir[1], c.dir[2]);
        const double r = std::sqrt(c.ratio * s);
        const double x = r * c.dir[0] / norm, y = r * c.dir[1] / norm, z = r * c.dir[2] / norm;
        const LocalKernel k = local_source_kernel(static_cast<float>(x), static_cast<float>(y),
                                                  static_cast<float>(z), p.kernel, true);
        const Reference ref = brute_force(p, x, y, z);
        const int order = c.ratio < 150.0 ? 4 : 2;
        SCOPED_TRACE(testing::Message() << "r^2/S = " << c.ratio);
        EXPECT_NEAR(k.phi_s, ref.phi_s, series_bound(s, rho, r, order) + 8 * kFloatEps * ref.phi_s);
        EXPECT_NEAR(k.phi_d, ref.phi_d,
                    series_bound_dipole(s, rho, r, order) + 8 * kFloatEps * std::fabs(ref.phi_s / r));
        // The velocity terms take one more derivative: one more factor (K + 3)/r.
        const double bound_v = series_bound_dipole(s, rho, r, order) * (order + 3) / r +
                               8 * kFloatEps * ref.phi_s / (r * r);
        EXPECT_NEAR(k.dphis_dxi, ref.dphis_dxi, 2 * series_bound_dipole(s, rho, r, order) + bound_v);
        EXPECT_NEAR(k.dphid_dxi, ref.dphid_dxi, bound_v);
        EXPECT_NEAR(k.dphid_deta, ref.dphid_deta, bound_v);
        EXPECT_NEAR(k.dphid_dzeta, ref.dphid_dzeta, bound_v);
    }
}

// ---- global operation --------------------------------------------------------------------

// The global gradients against central differences of phi_s and phi_d themselves, for a
// rotated, displaced panel, in each regime.  Step h = 2e-3 r: truncation ~ h^2/6 |f'''| ~
// 1e-6 |f'| r... with float values the rounding term eps |f| / h dominates: allow
// 4 eps |f| / h + 1e-5 |grad| (the expansions' consistency with their own derivatives is
// exact; the closed form's to rounding).
TEST(source_kernel, gradient_matches_central_difference)
{
    const TestPanel p = skew_panel({0.4, 0.9, -0.3}, {0.5, -1.0, 2.0});
    for (const std::array<double, 3> local : {std::array<double, 3>{0.3, 0.2, 0.6},
                                              {2.0, -1.5, -1.0}, {5.0, 4.0, 3.0},
                                              {9.0, -7.0, 6.0}, {30.0, 10.0, -20.0}}) {
        const auto g = p.global(local[0], local[1], local[2]);
        std::array<float, 3> x{static_cast<float>(g[0]), static_cast<float>(g[1]), static_cast<float>(g[2])};
        const SourceKernelResult k = source_kernel(x, 1, p.kernel, 1);
        const double r = std::hypot(local[0], local[1], local[2]);
        const float h = static_cast<float>(2e-3 * std::max(r, 1.0));
        for (int i = 0; i < 3; ++i) {
            std::array<float, 3> xp = x, xm = x;
            xp[i] += h, xm[i] -= h;
            const double step = static_cast<double>(xp[i]) - static_cast<double>(xm[i]);
            const SourceKernelResult kp = source_kernel(xp, 1, p.kernel, 0);
            const SourceKernelResult km = source_kernel(xm, 1, p.kernel, 0);
            const double ds = (kp.phi_s - km.phi_s) / step;
            const double dd = (kp.phi_d - km.phi_d) / step;
            const double dl = (kp.line - km.line) / step;
            SCOPED_TRACE(testing::Message() << "r = " << r << " component " << i);
            EXPECT_NEAR(k.grad_phi_s[i], ds, 4 * kFloatEps * std::fabs(k.phi_s) / h + 1e-5 * std::fabs(ds) + 1e-7);
            EXPECT_NEAR(k.grad_phi_d[i], dd, 4 * kFloatEps * 2 * kPi / h + 1e-5 * std::fabs(dd) + 1e-7);
            EXPECT_NEAR(k.grad_line[i], dl, 4 * kFloatEps * std::fabs(k.line) / h + 1e-4 * std::fabs(dl) + 1e-6);
        }
    }
}

// The line kernel against a brute-force integral of -ln(R' + Z') over the panel, for a
// tilted panel (so that Z' is not zeta).  Its expansion stops at the second moments: the
// remainder is ~ S (rho/r)^3 (the third derivative of ln is ~ 2/r^3 ... times rho^3/6).
TEST(source_kernel, line_kernel_matches_quadrature_of_its_logarithm)
{
    const TestPanel p = skew_panel({0.5, 0.3, 0.2});
    const double v[3] = {p.frame[6], p.frame[7], p.frame[8]};
    const double rho = vertex_radius(p);
    for (const std::array<double, 3> x : {std::array<double, 3>{4.0, 2.0, 3.0},
                                          {-6.0, 1.0, -2.0}, {3.0, -8.0, 5.0}}) {
        const double ref = polygon_quadrature(p.vx, p.vy, 0.0, 0.0, 1.0, [&](double u, double w) {
            const double d[3] = {x[0] - u, x[1] - w, x[2]};
            const double rr = std::hypot(d[0], d[1], d[2]);
            return -std::log(rr + d[0] * v[0] + d[1] * v[1] + d[2] * v[2]);
        });
        const LineKernel k = line_kernel(static_cast<float>(x[0]), static_cast<float>(x[1]),
                                         static_cast<float>(x[2]), p.kernel, true);
        const double r = std::hypot(x[0], x[1], x[2]);
        const double tol = p.kernel.area * 8.0 * std::pow(rho / r, 3) + 16 * kFloatEps * std::fabs(ref);
        EXPECT_NEAR(k.value, ref, tol) << r;
    }
}

}  // namespace
}  // namespace torva
