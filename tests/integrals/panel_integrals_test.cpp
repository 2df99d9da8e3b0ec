// Panel integrals against closed forms for flat panels, moment expansions in the far field,
// the partition of unity of the B-spline pieces, and a second method (singularity
// subtraction) for the own-panel rule on curved panels.
#include "integrals/panel_integrals.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace torva {
namespace {

// The methods' accuracy against closed forms: the adaptive rules stop when their estimate
// of the error is below tol = 1e-4 of the value; near a singular point the accepted value
// itself errs by about as much (integrators_2d_test measures one to two tol), so three tol.
constexpr double kRuleAccuracy = 3.0e-4;

// A flat rectangle of half-sides hx, hy centred at c0 in the plane of the orthonormal e1, e2;
// integration corners counter-clockwise about n = e1 x e2, so N points along n.
struct FlatRectangle {
    Vec3d c0, e1, e2, n;
    double hx, hy;

    Vec3d at(double x, double y, double h) const
    {
        return vec3::add(c0, vec3::add(vec3::scale(e1, x), vec3::add(vec3::scale(e2, y), vec3::scale(n, h))));
    }
    std::array<Vec3d, 4> corners() const
    {
        return {at(-hx, -hy, 0), at(hx, -hy, 0), at(hx, hy, 0), at(-hx, hy, 0)};
    }
};

FlatRectangle tilted_rectangle(double hx, double hy)
{
    // An orientation that is aligned with no axis, so every component of the code is used.
    const Vec3d e1 = vec3::scale(Vec3d{2.0, 1.0, 2.0}, 1.0 / 3.0);
    const Vec3d u{1.0, -2.0, 0.0};
    const Vec3d e2 = vec3::scale(u, 1.0 / vec3::norm(u));   // e1 . u = 0
    return FlatRectangle{{0.3, -1.2, 0.7}, e1, e2, vec3::cross(e1, e2), hx, hy};
}

// Antiderivatives in the panel plane for a field point at height h over the origin:
//     d^2 G / du dv = 1 / sqrt(u^2 + v^2 + h^2),    d^2 W / du dv = h / (u^2 + v^2 + h^2)^(3/2).
double potential_antiderivative(double u, double v, double h)
{
    const double d = std::sqrt(u * u + v * v + h * h);
    return u * std::log(v + d) + v * std::log(u + d) - h * std::atan(u * v / (h * d));
}
double solid_angle_antiderivative(double u, double v, double h)
{
    return std::atan(u * v / (h * std::sqrt(u * u + v * v + h * h)));
}

// Closed forms over the rectangle for the field point at local (x0, y0, h), h != 0.
template <class G>
double over_rectangle(const G& g, const FlatRectangle& rect, double x0, double y0, double h)
{
    const double u1 = -rect.hx - x0, u2 = rect.hx - x0;
    const double v1 = -rect.hy - y0, v2 = rect.hy - y0;
    return g(u2, v2, h) - g(u1, v2, h) - g(u2, v1, h) + g(u1, v1, h);
}

// 1/r over a rectangle of half-sides hx, hy seen from its centre (4 triangles' worth of
// the corner formula): 4 [hx ln((hy + d)/hx) + hy ln((hx + d)/hy)], d the half-diagonal.
// For a square of side a this is 4 a ln(1 + sqrt 2).
double rectangle_centre_potential(double hx, double hy)
{
    const double d = std::sqrt(hx * hx + hy * hy);
    return 4.0 * (hx * std::log((hy + d) / hx) + hy * std::log((hx + d) / hy));
}

// 1/r over a plane polygon from a point O inside it: the sum over the edges of the triangles
// (O, V1, V2), each p (asinh(t2/p) - asinh(t1/p)) with p the distance from O to the edge's
// line and t1, t2 the positions of V1, V2 along it from the foot of the perpendicular.
double polygon_potential(const std::array<Vec3d, 4>& v, const Vec3d& o)
{
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) {
        const Vec3d& v1 = v[k];
        const Vec3d& v2 = v[(k + 1) % 4];
        const Vec3d e = vec3::scale(vec3::sub(v2, v1), 1.0 / vec3::norm(vec3::sub(v2, v1)));
        const double t1 = vec3::dot(vec3::sub(v1, o), e);
        const double t2 = vec3::dot(vec3::sub(v2, o), e);
        const double p = vec3::norm(vec3::sub(vec3::sub(v1, o), vec3::scale(e, t1)));
        sum += p * (std::asinh(t2 / p) - std::asinh(t1 / p));
    }
    return sum;
}

PanelIntegrals regular(int method, const Vec3d& f, const std::array<Vec3d, 4>& p)
{
    return panel_integrals(method, f, p[0], p[1], p[2], p[3]);
}

TEST(panel_integrals, flat_rectangle_matches_closed_forms_for_every_method)
{
    const FlatRectangle rect = tilted_rectangle(0.6, 0.4);
    const auto corners = rect.corners();
    // Above the centre, close over the panel, beside it below, and far off.
    const double points[4][3] = {{0.0, 0.0, 0.5}, {0.3, -0.2, 0.1}, {1.5, 0.7, -0.3}, {5.0, 3.0, 2.0}};
    for (const int method : {kMethodRomberg, kMethodAdaptiveSize, kMethodAdaptiveTworule}) {
        for (const auto& q : points) {
            const PanelIntegrals r = regular(method, rect.at(q[0], q[1], q[2]), corners);
            const double source = over_rectangle(potential_antiderivative, rect, q[0], q[1], q[2]);
            const double dipole = over_rectangle(solid_angle_antiderivative, rect, q[0], q[1], q[2]);
            EXPECT_EQ(r.error_flag, 0);
            EXPECT_NEAR(r.source, source, kRuleAccuracy * std::fabs(source)) << "method " << method;
            EXPECT_NEAR(r.dipole, dipole, kRuleAccuracy * std::fabs(dipole)) << "method " << method;
        }
    }
}

// Expanding 1/|F - X| about the centre, the first-moment term of a rectangle vanishes and
// the quadrupole term is at most 3/2 (rho/r)^2 of the monopole (rho the half-diagonal); the
// dipole kernel's next term is at most 5/2 (rho/r)^2 of its leading term... allow 3 (rho/r)^2.
TEST(panel_integrals, far_field_tends_to_area_over_distance)
{
    const FlatRectangle rect = tilted_rectangle(0.6, 0.4);
    const double area = 4.0 * rect.hx * rect.hy;
    const double rho = std::hypot(rect.hx, rect.hy);
    for (const double distance : {20.0, 40.0}) {
        const Vec3d dir = vec3::scale(Vec3d{0.3, 0.5, 0.8}, 1.0 / vec3::norm(Vec3d{0.3, 0.5, 0.8}));
        const Vec3d f = vec3::add(rect.c0, vec3::scale(dir, distance));
        const PanelIntegrals r = regular(kMethodAdaptiveTworule, f, rect.corners());
        const double rel = 3.0 * (rho / distance) * (rho / distance);
        EXPECT_NEAR(r.source, area / distance, rel * area / distance);
        const double dipole = area * vec3::dot(rect.n, vec3::sub(f, rect.c0)) / std::pow(distance, 3);
        EXPECT_NEAR(r.dipole, dipole, rel * std::fabs(dipole));
    }
}

// A twisted (non-planar) panel and points near and far.
std::array<Vec3d, 4> twisted_corners(double scale)
{
    const std::array<Vec3d, 4> base = {Vec3d{-0.5, -0.45, 0.08}, Vec3d{0.55, -0.5, -0.1},
                                       Vec3d{0.5, 0.5, 0.12}, Vec3d{-0.45, 0.55, -0.05}};
    std::array<Vec3d, 4> p;
    for (int k = 0; k < 4; ++k)
        p[k] = vec3::add(Vec3d{1.0, 2.0, -0.5}, vec3::scale(base[k], scale));
    return p;
}

// The nine pieces add up to 64 at every point, so their integrals add up to 64 times the
// panel's.  Each of the ten integrals errs by up to kRuleAccuracy of the integral of its
// absolute integrand; the sources are positive, so the sum may err by 2 kRuleAccuracy of
// 64 |source|; the dipoles are bounded by their absolute sum.
TEST(panel_integrals_w9, pieces_add_up_to_sixty_four_times_the_panel)
{
    const auto p = twisted_corners(1.0);
    const Vec3d points[3] = {{1.1, 2.2, -0.2}, {1.6, 1.4, -0.9}, {3.0, 4.0, 1.0}};
    for (const int method : {kMethodRomberg, kMethodAdaptiveSize, kMethodAdaptiveTworule}) {
        for (const Vec3d& f : points) {
            const PanelIntegrals one = panel_integrals(method, f, p[0], p[1], p[2], p[3]);
            const PanelIntegralsW9 nine = panel_integrals_w9(method, f, p[0], p[1], p[2], p[3]);
            ASSERT_EQ(nine.error_flag, 0);
            EXPECT_EQ(nine.weights_done, 9);
            double source = 0.0, dipole = 0.0, dipole_abs = 0.0;
            for (int k = 0; k < 9; ++k) {
                source += nine.source[k];
                dipole += nine.dipole[k];
                dipole_abs += std::fabs(nine.dipole[k]);
            }
            EXPECT_NEAR(source, 64.0 * one.source, 2.0 * kRuleAccuracy * 64.0 * one.source);
            EXPECT_NEAR(dipole, 64.0 * one.dipole,
                        kRuleAccuracy * (dipole_abs + 64.0 * std::fabs(one.dipole)));
        }
    }
}

// Far along +e1 (the s direction) the pieces with i = 2 (k = 3, 6, 9) lie nearer than those
// with i = 0 (k = 1, 4, 7).  With 1/|F - X| = 1/R + x/R^2 + O(x^2/R^3), the pieces'
// integrals are 64 A (m_i m_j / R + hx 2 mu_i m_j / R^2), with the 1-D moments of the
// B-spline pieces m = (1/6, 2/3, 1/6), mu = int b_i(s) s ds = (-1/24, 0, 1/24), x = 2 hx s.
// So (I_3 - I_1)/(I_3 + I_1) = 2 hx (1/24)/(1/6) / R = hx / (2 R), to O((hx/R)^3) because
// the even terms cancel in the difference; likewise along e2 for k = 7 against k = 1.  The
// two integrals' quadrature errors (kRuleAccuracy each) add to the allowance.
TEST(panel_integrals_w9, far_field_pieces_follow_their_moments)
{
    const FlatRectangle rect = tilted_rectangle(0.6, 0.4);
    const auto p = rect.corners();
    const double distance = 12.0;
    const double pieces_m[3] = {1.0 / 6.0, 2.0 / 3.0, 1.0 / 6.0};
    const double area = 4.0 * rect.hx * rect.hy;

    const PanelIntegralsW9 along_s = panel_integrals_w9(kMethodAdaptiveTworule, rect.at(distance, 0, 0), p[0], p[1], p[2], p[3]);
    const double asym_s = (along_s.source[2] - along_s.source[0]) / (along_s.source[2] + along_s.source[0]);
    EXPECT_NEAR(asym_s, rect.hx / (2.0 * distance), std::pow(rect.hx / distance, 3) + kRuleAccuracy);
    // The monopole part: piece k = 5 (i = j = 1) carries 64 (2/3)^2 of the area.
    EXPECT_NEAR(along_s.source[4], 64.0 * pieces_m[1] * pieces_m[1] * area / distance,
                3.0 * std::pow(0.8 / distance, 2) * along_s.source[4]);

    const PanelIntegralsW9 along_t = panel_integrals_w9(kMethodAdaptiveTworule, rect.at(0, distance, 0), p[0], p[1], p[2], p[3]);
    const double asym_t = (along_t.source[6] - along_t.source[0]) / (along_t.source[6] + along_t.source[0]);
    EXPECT_NEAR(asym_t, rect.hy / (2.0 * distance), std::pow(rect.hy / distance, 3) + kRuleAccuracy);
    // Along t the s-pieces are symmetric: k = 1 and k = 3 agree.
    EXPECT_NEAR(along_t.source[0], along_t.source[2], 1e-6 * along_t.source[0]);
}

TEST(own_panel_split, strict_three_to_one_test_and_equal_physical_centre)
{
    // Axis-aligned with binary fractions, so that |A| = 3 |B| holds exactly.
    const auto panel_of = [](double hx, double hy) {
        const FlatRectangle rect{{0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, hx, hy};
        const auto c = rect.corners();
        return make_bilinear_panel(c[0], c[1], c[2], c[3]);
    };
    // alpha = |A| = 2 hx: 3:1 exactly is still the square rule.
    EXPECT_EQ(own_panel_split(panel_of(0.75, 0.25)).axis, 0);
    EXPECT_EQ(own_panel_split(panel_of(0.25, 0.75)).axis, 0);
    const OwnPanelSplit long_s = own_panel_split(panel_of(0.75 + 0x1p-40, 0.25));
    EXPECT_EQ(long_s.axis, 1);
    // The centre part |s| <= rho is as long (2 rho alpha) as it is wide (beta).
    EXPECT_NEAR(2.0 * long_s.rho * 1.5, 0.5, 1e-11);
    const OwnPanelSplit long_t = own_panel_split(panel_of(0.2, 1.0));
    EXPECT_EQ(long_t.axis, 2);
    EXPECT_NEAR(2.0 * long_t.rho * 2.0, 0.4, 1e-14);
}

// At its centre a flat rectangle's source integral is the closed form above and its dipole
// integral vanishes (N . R = 0 in the plane; rounding leaves ~1e-16 of the source).  The
// cases cover the square rule (1:1, 3:1 exactly) and the strip split in s and in t.  The
// method codes 1 and 2 are replaced by 3 on the own panel, so all three give one result.
TEST(self_panel_integrals, flat_rectangle_at_its_centre_matches_closed_form)
{
    const double shapes[5][2] = {{0.5, 0.5}, {0.75, 0.25}, {1.25, 0.25}, {0.1, 0.9}, {0.3, 0.2}};
    for (const auto& shape : shapes) {
        const FlatRectangle rect = tilted_rectangle(shape[0], shape[1]);
        const auto p = rect.corners();
        const double exact = rectangle_centre_potential(shape[0], shape[1]);
        const PanelIntegrals three = self_panel_integrals(3, rect.c0, p[0], p[1], p[2], p[3]);
        EXPECT_EQ(three.error_flag, 0);
        EXPECT_NEAR(three.source, exact, kRuleAccuracy * exact) << shape[0] << " x " << shape[1];
        EXPECT_NEAR(three.dipole, 0.0, 1e-12 * exact);
        for (const int method : {1, 2}) {
            const PanelIntegrals other = self_panel_integrals(method, rect.c0, p[0], p[1], p[2], p[3]);
            EXPECT_EQ(other.source, three.source);
            EXPECT_EQ(other.dipole, three.dipole);
        }
        const PanelIntegralsW9 nine = self_panel_integrals_w9(3, rect.c0, p[0], p[1], p[2], p[3]);
        double source = 0.0;
        for (int k = 0; k < 9; ++k) {
            source += nine.source[k];
            EXPECT_NEAR(nine.dipole[k], 0.0, 1e-12 * exact);
        }
        EXPECT_NEAR(source, 64.0 * exact, 2.0 * kRuleAccuracy * 64.0 * exact);
    }
    // Unknown method codes give nothing, on the own panel too.
    const auto p = tilted_rectangle(0.5, 0.5).corners();
    const PanelIntegrals none = self_panel_integrals(4, p[0], p[0], p[1], p[2], p[3]);
    EXPECT_EQ(none.source, 0.0);
    EXPECT_EQ(none.dipole, 0.0);
    EXPECT_EQ(none.error_flag, 0);
}

// Second method for the own panel of a twisted panel.  Source: subtract the tangent
// parallelogram C + A s + B t, whose 1/r integral from C is the polygon closed form, and
// integrate the bounded remainder adaptively.  Dipole: N . R = s t [A, B, D] exactly on a
// bilinear panel, an O(1/r) integrand, integrated directly.  Both adaptive integrals run on
// the four quadrants, each reflected so that the centre is its lower-left corner (never
// sampled, and at the bottom of the integrator's stack, so the stack limit is not met), to
// 1e-9.  Tolerance: kRuleAccuracy of the integral of the absolute integrand.  The agreement
// must hold as the panel is refined (scales 1, 1/2, 1/4).
TEST(self_panel_integrals, twisted_panel_agrees_with_a_second_method)
{
    for (const double scale : {1.0, 0.5, 0.25}) {
        const auto p = twisted_corners(scale);
        const BilinearPanel panel = make_bilinear_panel(p[0], p[1], p[2], p[3]);
        const Vec3d ab = vec3::cross(panel.a, panel.b);
        const auto r_of = [&](double s, double t) { return vec3::norm(vec3::sub(panel.point(s, t), panel.c)); };
        const auto r0_of = [&](double s, double t) {
            return vec3::norm(vec3::add(vec3::scale(panel.a, s), vec3::scale(panel.b, t)));
        };
        const auto source_rest = [&](double s, double t) {
            return vec3::norm(panel.normal(s, t)) / r_of(s, t) - vec3::norm(ab) / r0_of(s, t);
        };
        const auto dipole = [&](double s, double t) {
            const Vec3d rvec = vec3::sub(panel.c, panel.point(s, t));
            const double r = vec3::norm(rvec);
            return vec3::dot(panel.normal(s, t), rvec) / (r * r * r);
        };
        const auto dipole_abs = [&](double s, double t) { return std::fabs(dipole(s, t)); };
        const auto quadrants = [](const auto& f) {
            double sum = 0.0;
            for (const double ss : {-1.0, 1.0}) {
                for (const double st : {-1.0, 1.0}) {
                    const auto reflected = [&](double s, double t) { return f(ss * s, st * t); };
                    const Integral2d part = adaptive_2d_tworule(reflected, 0.0, 0.5, 0.0, 0.5, 1e-9);
                    EXPECT_EQ(part.error_flag, 0);
                    sum += part.value;
                }
            }
            return sum;
        };
        const std::array<Vec3d, 4> tangent = {
            vec3::add(panel.c, vec3::add(vec3::scale(panel.a, -0.5), vec3::scale(panel.b, -0.5))),
            vec3::add(panel.c, vec3::add(vec3::scale(panel.a, 0.5), vec3::scale(panel.b, -0.5))),
            vec3::add(panel.c, vec3::add(vec3::scale(panel.a, 0.5), vec3::scale(panel.b, 0.5))),
            vec3::add(panel.c, vec3::add(vec3::scale(panel.a, -0.5), vec3::scale(panel.b, 0.5)))};
        const double source_ref = polygon_potential(tangent, panel.c) + quadrants(source_rest);
        const double dipole_ref = quadrants(dipole);
        const double dipole_scale = quadrants(dipole_abs);

        const PanelIntegrals own = self_panel_integrals(3, panel.c, p[0], p[1], p[2], p[3]);
        EXPECT_EQ(own.error_flag, 0);
        EXPECT_NEAR(own.source, source_ref, kRuleAccuracy * source_ref) << "scale " << scale;
        EXPECT_NEAR(own.dipole, dipole_ref, kRuleAccuracy * dipole_scale) << "scale " << scale;
        // The twist is felt: the dipole is not the flat panel's zero.
        EXPECT_GT(std::fabs(dipole_ref), 10.0 * kRuleAccuracy * dipole_scale);
    }
}

// The own-panel rule takes the collocation point, the float copy of the centre, as the
// centre itself: bit for bit the result at C, without the failure that the rounding offset
// (here 1.5e-8 along the normal) would cause.  A point that is genuinely elsewhere is used
// as given: above a flat panel off its centre the rule reproduces the closed form.
TEST(self_panel_integrals, collocation_point_is_the_centre_and_other_points_are_kept)
{
    const std::array<Vec3d, 4> p = {Vec3d{0.0, 0.5, -0.6000000238418579}, Vec3d{0.4000000059604645, 0.5, -0.6299999952316284},
                                    Vec3d{0.4000000059604645, 0.8500000238418579, -0.5799999833106995},
                                    Vec3d{0.0, 0.8500000238418579, -0.6000000238418579}};
    const BilinearPanel panel = make_bilinear_panel(p[0], p[1], p[2], p[3]);
    Vec3d colloc;
    for (int m = 0; m < 3; ++m)
        colloc[m] = static_cast<double>(static_cast<float>(panel.c[m]));
    ASSERT_NE(colloc, panel.c);
    const PanelIntegralsW9 at_colloc = self_panel_integrals_w9(3, colloc, p[0], p[1], p[2], p[3]);
    const PanelIntegralsW9 at_centre = self_panel_integrals_w9(3, panel.c, p[0], p[1], p[2], p[3]);
    EXPECT_EQ(at_colloc.error_flag, 0);
    EXPECT_EQ(at_colloc.source, at_centre.source);
    EXPECT_EQ(at_colloc.dipole, at_centre.dipole);

    const FlatRectangle rect = tilted_rectangle(0.5, 0.3);
    const auto q = rect.corners();
    const PanelIntegrals off = self_panel_integrals(3, rect.at(0.1, 0.05, 0.2), q[0], q[1], q[2], q[3]);
    const double source = over_rectangle(potential_antiderivative, rect, 0.1, 0.05, 0.2);
    const double dipole = over_rectangle(solid_angle_antiderivative, rect, 0.1, 0.05, 0.2);
    EXPECT_EQ(off.error_flag, 0);
    EXPECT_NEAR(off.source, source, kRuleAccuracy * source);
    EXPECT_NEAR(off.dipole, dipole, kRuleAccuracy * dipole);
}

TEST(panel_integrals, unknown_method_codes_give_zero)
{
    const auto p = twisted_corners(1.0);
    for (const int method : {0, 4, -1}) {
        const PanelIntegrals r = panel_integrals(method, Vec3d{0, 0, 3}, p[0], p[1], p[2], p[3]);
        EXPECT_EQ(r.source, 0.0);
        EXPECT_EQ(r.dipole, 0.0);
        EXPECT_EQ(r.error_flag, 0);
        const PanelIntegralsW9 w = panel_integrals_w9(method, Vec3d{0, 0, 3}, p[0], p[1], p[2], p[3]);
        for (int k = 0; k < 9; ++k) {
            EXPECT_EQ(w.source[k], 0.0);
            EXPECT_EQ(w.dipole[k], 0.0);
        }
    }
}

// The stored corner record (x1..x4, y1..y4, z1..z4) is read as P1..P4 = stored 3, 2, 1, 4,
// and the spline weight pieces are the uniform quadratic B-spline: at s = t = 0 piece 5
// carries 64 (3/4)^2 and each edge piece 64 (3/4)(1/8).
TEST(bilinear_panel, corner_order_and_bilinear_map)
{
    const float record[12] = {1, 2, 3, 4, 10, 20, 30, 40, 100, 200, 300, 400};
    const auto p = integration_corners(record);
    EXPECT_EQ(p[0], (Vec3d{3, 30, 300}));
    EXPECT_EQ(p[1], (Vec3d{2, 20, 200}));
    EXPECT_EQ(p[2], (Vec3d{1, 10, 100}));
    EXPECT_EQ(p[3], (Vec3d{4, 40, 400}));
    const BilinearPanel panel = make_bilinear_panel(p[0], p[1], p[2], p[3]);
    EXPECT_EQ(panel.point(-0.5, -0.5), p[0]);
    EXPECT_EQ(panel.point(0.5, -0.5), p[1]);
    EXPECT_EQ(panel.point(0.5, 0.5), p[2]);
    EXPECT_EQ(panel.point(-0.5, 0.5), p[3]);
    EXPECT_DOUBLE_EQ(spline_weight(5, 0.0, 0.0), 64.0 * 0.75 * 0.75);
    EXPECT_DOUBLE_EQ(spline_weight(2, 0.0, 0.0), 64.0 * 0.75 * 0.125);
    EXPECT_DOUBLE_EQ(spline_weight(6, 0.0, 0.0), 64.0 * 0.125 * 0.75);
    // At the corner s = t = 1/2 only the pieces i, j >= 1 live: b_0(1/2) = 0.
    EXPECT_DOUBLE_EQ(spline_weight(1, 0.5, 0.5), 0.0);
    EXPECT_DOUBLE_EQ(spline_weight(9, 0.5, 0.5), 64.0 * 0.5 * 0.5);
}

}  // namespace
}  // namespace torva
