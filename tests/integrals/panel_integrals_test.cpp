// Panel integrals against closed forms for flat panels, the partition of unity of the
// B-spline pieces, and a second method (singularity subtraction) for the own-panel rule on
// curved panels.
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

// Each method against the closed forms, and its nine B-spline pieces, which add up to 64 at
// every point, so that their integrals add up to 64 times the panel's.  Each integral errs by
// up to kRuleAccuracy of the integral of its absolute integrand: the sources are positive, so
// their sum may err by kRuleAccuracy of 64 |source|, doubled for the closed form's tolerance;
// the dipoles are bounded by their absolute sum.  (The pieces of twisted panels are summed on
// the cubed sphere in influence_coefficients_test.)
TEST(panel_integrals, flat_rectangle_matches_closed_forms_for_every_method)
{
    const FlatRectangle rect = tilted_rectangle(0.6, 0.4);
    const auto p = rect.corners();
    // Above the centre, close over the panel, beside it below, and far off.
    const double points[4][3] = {{0.0, 0.0, 0.5}, {0.3, -0.2, 0.1}, {1.5, 0.7, -0.3}, {5.0, 3.0, 2.0}};
    for (const int method : {kMethodRomberg, kMethodAdaptiveSize, kMethodAdaptiveTworule}) {
        for (const auto& q : points) {
            SCOPED_TRACE(testing::Message() << "method " << method << " point " << q[0] << " " << q[1] << " " << q[2]);
            const Vec3d f = rect.at(q[0], q[1], q[2]);
            const PanelIntegrals r = panel_integrals(method, f, p[0], p[1], p[2], p[3]);
            const double source = over_rectangle(potential_antiderivative, rect, q[0], q[1], q[2]);
            const double dipole = over_rectangle(solid_angle_antiderivative, rect, q[0], q[1], q[2]);
            EXPECT_EQ(r.error_flag, 0);
            EXPECT_NEAR(r.source, source, kRuleAccuracy * std::fabs(source));
            EXPECT_NEAR(r.dipole, dipole, kRuleAccuracy * std::fabs(dipole));
            const PanelIntegralsW9 nine = panel_integrals_w9(method, f, p[0], p[1], p[2], p[3]);
            ASSERT_EQ(nine.error_flag, 0);
            EXPECT_EQ(nine.weights_done, 9);
            double source9 = 0.0, dipole9 = 0.0, dipole_abs = 0.0;
            for (int k = 0; k < 9; ++k) {
                source9 += nine.source[k];
                dipole9 += nine.dipole[k];
                dipole_abs += std::fabs(nine.dipole[k]);
            }
            EXPECT_NEAR(source9, 64.0 * source, 2.0 * kRuleAccuracy * 64.0 * source);
            EXPECT_NEAR(dipole9, 64.0 * dipole, kRuleAccuracy * (dipole_abs + 64.0 * std::fabs(dipole)));
        }
    }
}

// A twisted (non-planar) panel.
std::array<Vec3d, 4> twisted_corners(double scale)
{
    const std::array<Vec3d, 4> base = {Vec3d{-0.5, -0.45, 0.08}, Vec3d{0.55, -0.5, -0.1},
                                       Vec3d{0.5, 0.5, 0.12}, Vec3d{-0.45, 0.55, -0.05}};
    std::array<Vec3d, 4> p;
    for (int k = 0; k < 4; ++k)
        p[k] = vec3::add(Vec3d{1.0, 2.0, -0.5}, vec3::scale(base[k], scale));
    return p;
}

// At its centre a flat rectangle's source integral is the polygon's closed form and its dipole
// integral vanishes (N . R = 0 in the plane; rounding leaves ~1e-16 of the source).  The
// cases cover the square rule (1:1, 3:1 exactly) and the strip split in s and in t.  The
// method codes 1 and 2 are replaced by 3 on the own panel, so all three give one result.
TEST(self_panel_integrals, flat_rectangle_at_its_centre_matches_closed_form)
{
    const double shapes[5][2] = {{0.5, 0.5}, {0.75, 0.25}, {1.25, 0.25}, {0.1, 0.9}, {0.3, 0.2}};
    for (const auto& shape : shapes) {
        const FlatRectangle rect = tilted_rectangle(shape[0], shape[1]);
        const auto p = rect.corners();
        const double exact = polygon_potential(p, rect.c0);
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
        std::array<Vec3d, 4> tangent;
        for (int k = 0; k < 4; ++k)
            tangent[k] = vec3::add(panel.c, vec3::add(vec3::scale(panel.a, k == 1 || k == 2 ? 0.5 : -0.5),
                                                      vec3::scale(panel.b, k >= 2 ? 0.5 : -0.5)));
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

}  // namespace
}  // namespace torva
