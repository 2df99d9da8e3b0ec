// Tests of the flat-panel kernels against truths they did not produce: a brute-force double
// quadrature of the same integrands and polynomial densities over the polygon
// (brute_force_quadrature.hpp), the solid angle of a closed box, the remainder bound and the
// Legendre form of the expansions, and central differences; for the field quadrature also
// vquadr against the row variant for the same pairs, the mirror and inactive rows, and the
// B-spline pieces against the spline functions themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "integrals/field_quadrature.hpp"
#include "integrals/brute_force_quadrature.hpp"
#include "integrals/vquadr_row_reference.hpp"

namespace torva {
namespace {

using namespace torva::brute;

constexpr double kPi = 3.14159265358979323846;
constexpr double kFloatEps = std::numeric_limits<float>::epsilon();
constexpr double kDoubleEps = std::numeric_limits<double>::epsilon();

// Density i at (x, y): 1, x, y, x^2, y^2, x y.
double density(int i, double x, double y)
{
    constexpr int kPowers[6][2] = {{0, 0}, {1, 0}, {0, 1}, {2, 0}, {0, 2}, {1, 1}};
    return std::pow(x, kPowers[i][0]) * std::pow(y, kPowers[i][1]);
}

template <class Real>
PanelPolygon<Real> polygon_of(const FlatQuad& q)
{
    PanelPolygon<Real> p;
    for (int k = 0; k < 4; ++k) {
        p.xi[k] = static_cast<Real>(q.vx[k]);
        p.eta[k] = static_cast<Real>(q.vy[k]);
        p.sides[k] = static_cast<Real>(std::hypot(q.vx[(k + 1) % 4] - q.vx[k], q.vy[(k + 1) % 4] - q.vy[k]));
    }
    p.area = static_cast<Real>(q.moments[0]);
    return p;
}

struct Brute {
    std::array<double, 6> source{}, dipole{};
};
Brute brute_force(const FlatQuad& q, double x, double y, double z)
{
    Brute b;
    for (int i = 0; i < 6; ++i) {
        b.source[static_cast<std::size_t>(i)] = polygon_quadrature(q.vx, q.vy, x, y, z, [&](double u, double v) {
            return density(i, u, v) / std::sqrt((x - u) * (x - u) + (y - v) * (y - v) + z * z);
        });
        b.dipole[static_cast<std::size_t>(i)] = polygon_quadrature(q.vx, q.vy, x, y, z, [&](double u, double v) {
            const double r = std::sqrt((x - u) * (x - u) + (y - v) * (y - v) + z * z);
            return density(i, u, v) * z / (r * r * r);
        });
    }
    return b;
}

// Points around a panel of size ~1 out to the edge of the near zone (r^2 < 40 S ~ 36): above
// and below the interior, beside it, near an edge, over a vertex, in the plane.
const std::vector<std::array<double, 3>> kNearPoints = {
    {0.1, 0.05, 0.3}, {0.1, 0.05, -0.3}, {0.2, -0.1, 0.02},  {-0.3, 0.2, -0.01}, {1.3, 0.4, 0.5},
    {-0.9, -1.1, -0.2}, {-0.9, -1.1, 0.2}, {0.55, 0.0, 0.05}, {0.0, 0.0, 1.5},  {2.5, 1.5, -3.0},
    {4.0, 3.0, 2.0},  {1.2, 0.3, 0.0},   {0.3, 0.3, 0.001},  {-0.2, 0.1, -0.0004}};

// Scale of density i's integrals seen from distance r: S L^deg / max(r, L).
double column_scale(int i, double area, double r)
{
    const int degree = i == 0 ? 0 : (i < 3 ? 1 : 2);
    return area * std::pow(0.7, degree) / std::max(r, 0.7);
}

// The edge sums of the higher densities cancel: their terms grow like X^deg J0 while the
// result is ~ S L^deg / r, a factor up to (1 + r)^(deg+1).  Float: allow 64 eps of the
// column scale times that factor.  Double: the brute force itself is good to ~1e-9 (graded
// Gauss near the small heights used here), so allow 1e-8 of the same.  The source kernel's
// near field (float, density 1): each edge term is rounded to ~4 eps, and the sum subtracts
// terms of size ~|h| Q ~ 1 from a result that falls like 1/r, so the absolute error is ~ 4
// edges x 4 eps x max(1, r): 32 eps max(1, r), the same on the solid angle (its arctangents
// are accurate to ~2 eps each, fit included).
TEST(field_quadrature, near_field_integrates_polynomial_densities_exactly)
{
    const FlatQuad q = skew_quad(1.0, false);
    const auto& m = q.moments;
    const PanelPolygon<double> pd = polygon_of<double>(q);
    const PanelPolygon<float> pf = polygon_of<float>(q);
    const KernelPanel kernel = kernel_panel_of(q);
    for (const auto& x : kNearPoints) {
        SCOPED_TRACE(testing::Message() << "point " << x[0] << " " << x[1] << " " << x[2]);
        const Brute b = brute_force(q, x[0], x[1], x[2]);
        const LocalKernel k = near_field_kernel(static_cast<float>(x[0]), static_cast<float>(x[1]),
                                                static_cast<float>(x[2]), kernel, false);
        EXPECT_NEAR(k.phi_s, b.source[0], 32.0 * kFloatEps * std::max(1.0, std::hypot(x[0], x[1], x[2])));
        EXPECT_NEAR(k.phi_d, b.dipole[0], 32.0 * kFloatEps * std::max(1.0, std::hypot(x[0], x[1], x[2])));
        EXPECT_EQ(k.error_flag, 0);
        const DensityIntegrals<double> d = near_density_integrals(x[0], x[1], x[2], pd);
        const DensityIntegrals<float> f = near_density_integrals(static_cast<float>(x[0]), static_cast<float>(x[1]),
                                                                 static_cast<float>(x[2]), pf);
        const double r = std::hypot(x[0], x[1], x[2]);
        const bool in_plane = x[2] == 0.0;
        for (std::size_t i = 0; i < 6; ++i) {
            const int degree = i == 0 ? 0 : (i < 3 ? 1 : 2);
            const double scale = column_scale(static_cast<int>(i), m[0], r);
            const double tol_d = 1e-8 * scale * std::pow(1 + r, degree + 1);
            const double tol_f = 64 * kFloatEps * scale * std::pow(1 + r, degree + 1);
            EXPECT_NEAR(d.source[i], b.source[i], tol_d) << "source " << i;
            EXPECT_NEAR(f.source[i], b.source[i], tol_f) << "source " << i;
            // In the plane the dipoles are 0 by convention (the caller adds free terms).
            EXPECT_NEAR(d.dipole[i], in_plane ? 0.0 : b.dipole[i], tol_d * 2 * kPi) << "dipole " << i;
            EXPECT_NEAR(f.dipole[i], in_plane ? 0.0 : b.dipole[i], tol_f * 2 * kPi) << "dipole " << i;
        }
    }
}

// The expansions sum, for density xi^a eta^b, the Legendre series of 1/|x - x'| weighted
// by the density through order K (K = 4 - a - b intermediate, 2 far):
//     sum_l<=K  integral of f(x') |x'|^l P_l(cos g) dA / r^(l+1),
// a polynomial integrand that the quadrature integrates exactly; its zeta-derivative is
// taken by double central differences (h = 1e-4 r).  Agreement to rounding: 16 eps of the
// column scale in double (terms alternate), 16 float eps in float.
double series(const FlatQuad& q, int i, std::array<double, 3> x, int order)
{
    const double r = std::hypot(x[0], x[1], x[2]);
    return polygon_quadrature(q.vx, q.vy, 0.0, 0.0, 1.0, [&](double u, double v) {
        const double rho = std::hypot(u, v);
        const double c = rho == 0.0 ? 0.0 : (x[0] * u + x[1] * v) / (r * rho);
        double sum = 0.0;
        for (int l = 0; l <= order; ++l) sum += std::pow(rho, l) * legendre(l, c) / std::pow(r, l + 1);
        return density(i, u, v) * sum;
    });
}

TEST(field_quadrature, expansions_sum_the_density_weighted_legendre_series)
{
    const FlatQuad q = skew_quad(1.3, false);
    const auto& m = q.moments;
    std::array<float, kMomentCount> mf{};
    for (std::size_t k = 0; k < kMomentCount; ++k) mf[k] = static_cast<float>(m[k]);
    for (const bool intermediate : {true, false}) {
        for (const std::array<double, 3> dir : {std::array<double, 3>{0.05, 1.0, 0.1}, {0.8, -0.3, 0.5},
                                                {-0.4, 0.2, -0.9}}) {
            const double r = std::sqrt((intermediate ? 60.0 : 200.0) * m[0]);
            const double nrm = std::hypot(dir[0], dir[1], dir[2]);
            const std::array<double, 3> x = {r * dir[0] / nrm, r * dir[1] / nrm, r * dir[2] / nrm};
            const DensityIntegrals<double> d = expansion_density_integrals(x[0], x[1], x[2], m, intermediate);
            const DensityIntegrals<float> f = expansion_density_integrals(
                static_cast<float>(x[0]), static_cast<float>(x[1]), static_cast<float>(x[2]), mf, intermediate);
            for (int i = 0; i < 6; ++i) {
                const int degree = i == 0 ? 0 : (i < 3 ? 1 : 2);
                const int order = intermediate ? 4 - degree : 2;
                const double s = series(q, i, x, order);
                const double h = 1e-4 * r;
                std::array<double, 3> xp = x, xm = x;
                xp[2] += h;
                xm[2] -= h;
                const double dip = -(series(q, i, xp, order) - series(q, i, xm, order)) / (2 * h);
                const double scale = column_scale(i, m[0], r);
                const auto ii = static_cast<std::size_t>(i);
                SCOPED_TRACE(testing::Message() << (intermediate ? "intermediate" : "far") << " density " << i);
                EXPECT_NEAR(d.source[ii], s, 1e4 * kDoubleEps * scale);   // quadrature ~1e-12
                EXPECT_NEAR(f.source[ii], s, 16 * kFloatEps * scale);
                // Central difference: truncation (h/r)^2 (K+3)^3/6 < 6e-8 of the value, and
                // rounding 1e-16 scale / h.
                EXPECT_NEAR(d.dipole[ii], dip, 1e-7 * std::fabs(dip) + 1e-9 * scale / r);
                EXPECT_NEAR(f.dipole[ii], dip, 16 * kFloatEps * scale / r);
            }
        }
    }
}

// A small panel model by hand: four panels (one a ghost) at different places and angles,
// tables in the panel model's layout.
struct PanelSet {
    int n = 0;
    std::vector<float> colloc, frame, xi, eta, moments;
    std::vector<int> active;
    QuadraturePanels view() const { return {colloc, frame, xi, eta, moments, active, {}}; }
};

void add_panel(PanelSet& set, const FlatQuad& q, int active = 1)
{
    for (int k = 0; k < 3; ++k) set.colloc.push_back(static_cast<float>(q.c[k]));
    for (int k = 0; k < 9; ++k) set.frame.push_back(static_cast<float>(q.frame[k]));
    for (int k = 0; k < 4; ++k) {
        set.xi.push_back(static_cast<float>(q.vx[k]));
        set.eta.push_back(static_cast<float>(q.vy[k]));
    }
    for (const double v : q.moments) set.moments.push_back(static_cast<float>(v));
    set.active.push_back(active);
    ++set.n;
}

PanelSet sample_set()
{
    PanelSet set;
    add_panel(set, skew_quad(1.0, false, {}, {0.0, 0.0, -1.0}));
    add_panel(set, skew_quad(0.8, false, {0.4, 0.0, 0.3}, {0.9, 0.3, -1.2}));      // near panel 1
    add_panel(set, skew_quad(1.1, false, {-0.7, 0.0, 1.2}, {6.0, -3.0, -2.5}));    // intermediate / far
    add_panel(set, skew_quad(0.5, false, {1.2, 0.0, -0.4}, {20.0, 8.0, -0.5}));    // far
    add_panel(set, skew_quad(1.0, false, {}, {0.5, -0.5, -1.0}), 0);               // ghost
    return set;
}

// vquadr (double) and the row variant (float) for the same point-panel pairs.  vquadr with
// depth D evaluates at (x_j, y_j, z_j + 2 c_z + 2 D) relative to the panel's own c and R,
// so that is the row variant's field point.  The float row loses the near-field
// cancellation of the higher densities: allow 64 eps (1 + r)^(deg+1) of the column scale.
TEST(field_quadrature, row_variant_matches_vquadr_for_the_same_pairs)
{
    const PanelSet set = sample_set();
    const int n = set.n;
    const RowPanels rows = make_row_panels(set.view(), n);
    const float depth = 0.75f;
    std::vector<float> column(n * kDensityColumns), row(n * kDensityColumns);
    for (int p = 1; p <= n - 1; ++p) {
        vquadr(p, n, set.view(), column, depth);
        const float* c0 = &set.colloc[3 * (p - 1)];
        for (int j = 0; j < n; ++j) {
            if (set.active[j] == 0) continue;
            const float* x = &set.colloc[3 * j];
            const std::array<float, 3> f = {x[0], x[1], static_cast<float>(double(x[2]) + 2.0 * c0[2] + 2.0 * depth)};
            reference::vquadr_row(f, n, rows, row);
            const double area = set.moments[15 * (p - 1)];
            const double r = std::hypot(f[0] - c0[0], f[1] - c0[1], f[2] - c0[2]);
            for (int c = 0; c < kDensityColumns; ++c) {
                const int i = c % 6;
                const int degree = i == 0 ? 0 : (i < 3 ? 1 : 2);
                const double tol = 64 * kFloatEps * column_scale(i, area, r) * std::pow(1 + r, degree + 1) *
                                   (c >= 6 ? 2 * kPi : 1.0);
                EXPECT_NEAR(column[j + c * n], row[(p - 1) + c * n], tol)
                    << "panel " << p << " point " << j + 1 << " column " << c + 1;
            }
        }
    }
}

// The wrapper with symmetry: a field point in y = 0 sees the mirrored panel as the panel
// itself, so its difference rows are exactly zero and its sum rows twice the direct value;
// the nine weighted sources of every row add up to 64 times the constant column.
TEST(field_quadrature, spline_wrapper_mirror_and_sum_identities)
{
    PanelSet set = sample_set();
    set.colloc[3 * 3 + 1] = 0.0f;   // panel 4's collocation point into y = 0
    const int n = set.n;
    const auto rows = static_cast<std::size_t>(n);
    std::vector<float> ps(rows * 12), ws(rows * 18), pd(rows * 12), wd(rows * 18), direct(rows * 12);
    const PieceGeometry g{1.1, 0.95, 0.1, 1.0 / std::sqrt(1.01)};
    const std::array<float, 9> t = {1, 6, 1, 6, 36, 6, 1, 6, 1};
    vquadr_spline(1, 1, n, set.view(), g, ps, ws, pd, wd, {1, 1, 1}, t, 0.6f);
    vquadr(1, n, set.view(), direct, 0.6f);
    for (int c = 0; c < 12; ++c) {
        const auto k = 3 + static_cast<std::size_t>(c) * rows;
        EXPECT_EQ(pd[k], 0.0f);
        EXPECT_EQ(ps[k], 2.0f * direct[k]);
    }
    for (int c = 0; c < 18; ++c) EXPECT_EQ(wd[3 + static_cast<std::size_t>(c) * rows], 0.0f);
    for (std::size_t j = 0; j < rows; ++j) {
        if (set.active[j] == 0) {
            for (int c = 0; c < 18; ++c) EXPECT_EQ(ws[j + static_cast<std::size_t>(c) * rows], 0.0f);
            continue;
        }
        for (const std::size_t first : {std::size_t{0}, std::size_t{9}}) {
            double sum = 0.0, size = 0.0;
            for (std::size_t k = 0; k < 9; ++k) {
                sum += ws[j + (first + k) * rows];
                size += std::fabs(ws[j + (first + k) * rows]);
            }
            const double constant = ps[j + (first == 0 ? 0 : 6) * rows];
            // Nine floats, each rounded once: 9 eps of their absolute sum.
            EXPECT_NEAR(sum, 64.0 * constant, 9 * kFloatEps * size + 64 * kFloatEps * std::fabs(constant));
        }
    }
    // The mirrored panel (-p) is the panel evaluated at the mirrored points.
    std::vector<float> mirrored(rows * 12), flipped(rows * 12);
    PanelSet flip = set;
    for (std::size_t j = 0; j < rows; ++j) flip.colloc[3 * j + 1] = -set.colloc[3 * j + 1];
    flip.colloc[1] = set.colloc[1];   // keep panel 1 itself in place
    vquadr(-1, n, set.view(), mirrored, 0.6f);
    vquadr(1, n, flip.view(), flipped, 0.6f);
    for (std::size_t k = 0; k < rows * 12; ++k) {
        if (k % rows == 0) continue;   // row 1: its own point moved too
        EXPECT_EQ(mirrored[k], flipped[k]);
    }
}

// ---- the source kernel ----------------------------------------------------------------------

// A flat quadrilateral about its centroid and the source kernel's view of it.
struct TestPanel : FlatQuad { KernelPanel kernel; };
TestPanel make_panel(const FlatQuad& q) { return {q, kernel_panel_of(q)}; }

// Reference values at local point (x, y, z) by brute force.
struct Reference {
    double phi_s, phi_d, dphis_dxi, dphis_deta, dphid_dxi, dphid_deta, dphid_dzeta;
};

Reference brute_kernel(const TestPanel& p, double x, double y, double z)
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
        const Reference ref = brute_kernel(p, x, y, z);
        const int order = c.ratio < 150.0 ? 4 : 2;
        SCOPED_TRACE(testing::Message() << "r^2/S = " << c.ratio);
        EXPECT_NEAR(k.phi_s, ref.phi_s, series_bound(s, rho, r, order) + 8 * kFloatEps * ref.phi_s);
        EXPECT_NEAR(k.phi_d, ref.phi_d,
                    series_bound_dipole(s, rho, r, order) + 8 * kFloatEps * std::fabs(ref.phi_s / r));
        // The velocity terms take one more derivative: one more factor (K + 3)/r.
        const double bound_v = series_bound_dipole(s, rho, r, order) * (order + 3) / r +
                               8 * kFloatEps * ref.phi_s / (r * r);
        EXPECT_NEAR(k.dphis_dxi, ref.dphis_dxi, 2 * series_bound_dipole(s, rho, r, order) + bound_v);
        EXPECT_NEAR(k.dphis_deta, ref.dphis_deta, 2 * series_bound_dipole(s, rho, r, order) + bound_v);
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
    const TestPanel p = make_panel(skew_quad(1.0, true, {0.4, 0.9, -0.3}, {0.5, -1.0, 2.0}));
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
    const TestPanel p = make_panel(skew_quad(1.0, true, {0.5, 0.3, 0.2}));
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
