// Source and dipole integrals of one bilinear panel; equations (1)-(5) are given in
// panel_integrals.hpp.
#include "integrals/panel_integrals.hpp"

#include <algorithm>
#include <cmath>

namespace torva {

namespace vec3 {
double norm(const Vec3d& p) noexcept { return std::sqrt(dot(p, p)); }
}  // namespace vec3

Vec3d BilinearPanel::point(double s, double t) const noexcept
{
    Vec3d x;
    for (int m = 0; m < 3; ++m)
        x[m] = c[m] + a[m] * s + b[m] * t + d[m] * s * t;   // (1)
    return x;
}

Vec3d BilinearPanel::normal(double s, double t) const noexcept
{
    Vec3d xs;
    Vec3d xt;
    for (int m = 0; m < 3; ++m) {
        xs[m] = a[m] + d[m] * t;
        xt[m] = b[m] + d[m] * s;
    }
    return vec3::cross(xs, xt);
}

BilinearPanel make_bilinear_panel(const Vec3d& p1, const Vec3d& p2, const Vec3d& p3,
                                  const Vec3d& p4) noexcept
{
    BilinearPanel panel;
    for (int m = 0; m < 3; ++m) {
        panel.c[m] = (p1[m] + p2[m] + p3[m] + p4[m]) / 4.0;
        panel.a[m] = (p2[m] + p3[m] - p1[m] - p4[m]) / 2.0;
        panel.b[m] = (p3[m] + p4[m] - p1[m] - p2[m]) / 2.0;
        panel.d[m] = p1[m] - p2[m] + p3[m] - p4[m];
    }
    return panel;
}

std::array<Vec3d, 4> integration_corners(std::span<const float> record)
{
    // Stored corner k has x at record[k-1], y at record[k+3], z at record[k+7].
    const auto stored = [&](int k) {
        return Vec3d{static_cast<double>(record[k - 1]), static_cast<double>(record[k + 3]),
                     static_cast<double>(record[k + 7])};
    };
    return {stored(3), stored(2), stored(1), stored(4)};
}

namespace {

// The uniform quadratic B-spline pieces of (2) on [-1/2, 1/2].
double bspline_piece(int i, double u) noexcept
{
    switch (i) {
    case 0: return (u * u - u) / 2.0 + 0.125;
    case 1: return 0.75 - u * u;
    default: return (u * u + u) / 2.0 + 0.125;
    }
}

}  // namespace

double spline_weight(int k, double s, double t) noexcept
{
    if (k == 0)
        return 1.0;
    const int i = (k - 1) % 3;   // along s
    const int j = (k - 1) / 3;   // along t
    return 64.0 * bspline_piece(i, s) * bspline_piece(j, t);
}

std::array<double, 3> spline_pieces_sigma(double sigma) noexcept
{
    return {(1.0 - sigma) * (1.0 - sigma), 6.0 - 2.0 * sigma * sigma,
            (1.0 + sigma) * (1.0 + sigma)};
}

double source_integrand(const IntegrationContext& ctx, double s, double t) noexcept
{
    const Vec3d x = ctx.panel.point(s, t);
    const Vec3d n = ctx.panel.normal(s, t);
    const double r = vec3::norm(vec3::sub(ctx.field, x));
    return spline_weight(ctx.weight, s, t) * vec3::norm(n) / r;   // (3)
}

double dipole_integrand(const IntegrationContext& ctx, double s, double t) noexcept
{
    const Vec3d x = ctx.panel.point(s, t);
    const Vec3d n = ctx.panel.normal(s, t);
    const Vec3d rvec = vec3::sub(ctx.field, x);
    const double r = vec3::norm(rvec);
    return spline_weight(ctx.weight, s, t) * vec3::dot(n, rvec) / (r * r * r);   // (3)
}

Integral2d integrate_with_method(int method, Integrand2d f, const IntegrationContext& ctx,
                                 double a, double b, double c, double d)
{
    switch (method) {
    case kMethodRomberg:
        return romberg_2d(f, a, b, c, d, kPanelTolerance);
    case kMethodAdaptiveSize: {
        const auto panel_point = [&ctx](double s, double t) { return ctx.panel.point(s, t); };
        const Vec3d offset = vec3::sub(ctx.field, ctx.panel.c);
        return adaptive_2d_size(f, panel_point, vec3::dot(offset, offset), a, b, c, d);
    }
    case kMethodAdaptiveTworule:
        return adaptive_2d_tworule(f, a, b, c, d, kPanelTolerance);
    default:
        return Integral2d{};
    }
}

OwnPanelSplit own_panel_split(const BilinearPanel& panel) noexcept
{
    const double alpha = vec3::norm(panel.a);
    const double beta = vec3::norm(panel.b);
    // (4): the centre part gets equal physical sides, 2 rho alpha = beta (or with s and t
    // exchanged), so the collapsed triangles are not slivers on a long panel.
    if (alpha > 3.0 * beta)
        return OwnPanelSplit{1, 0.5 * beta / alpha};
    if (beta > 3.0 * alpha)
        return OwnPanelSplit{2, 0.5 * alpha / beta};
    return OwnPanelSplit{0, 0.5};
}

namespace {

constexpr double kHalf = 0.5;

// Regular rule for one weight: source, then dipole unless the source failed.
PanelIntegrals regular_rule(int method, const IntegrationContext& ctx)
{
    PanelIntegrals result;
    const auto source = [&ctx](double s, double t) { return source_integrand(ctx, s, t); };
    const Integral2d src = integrate_with_method(method, source, ctx, -kHalf, kHalf, -kHalf, kHalf);
    result.source = src.value;
    result.error_flag = src.error_flag;
    if (result.error_flag != 0)
        return result;
    const auto dipole = [&ctx](double s, double t) { return dipole_integrand(ctx, s, t); };
    const Integral2d dip = integrate_with_method(method, dipole, ctx, -kHalf, kHalf, -kHalf, kHalf);
    result.dipole = dip.value;
    result.error_flag = dip.error_flag;
    return result;
}

// (5): the collapsed form of integrand g over the centre rectangle |s| <= h_s, |t| <= h_t.
template <class G>
double collapsed(const G& g, double h_s, double h_t, double xi, double eta)
{
    const double u = 0.5 + xi;   // in [0, 1]: right and top triangles
    const double v = xi - 0.5;   // in [-1, 0]: left and bottom triangles
    const double g1 = g(h_s * u, 2.0 * h_t * u * eta);
    const double g2 = g(2.0 * h_s * u * eta, h_t * u);
    const double g3 = g(h_s * v, 2.0 * h_t * v * eta);
    const double g4 = g(2.0 * h_s * v * eta, h_t * v);
    return 2.0 * h_s * h_t * (u * (g1 + g2) - v * (g3 + g4));
}

// The field point the own-panel rule integrates at.  A caller passes the panel's
// collocation point, a float copy of the centre C that is off C by float rounding
// (~1e-8 of the coordinates).  Taken literally, that offset has a normal component, and the
// dipole kernel then holds a spike of width ~1e-8 at the triangles' common vertex that
// carries a part of the +-2 pi jump across the surface: the integrators cannot resolve it
// (the integral fails at the stack limit with a meaningless value), and the equation
// systems want the principal value at C anyway, since they add the free term themselves.
// So a point within float rounding of C (16 units of 2^-24 of the coordinates' and the
// panel's scale) is taken to be C; any other point is used as given.
Vec3d own_panel_field(const IntegrationContext& ctx)
{
    const BilinearPanel& p = ctx.panel;
    double scale = vec3::norm(p.a) + vec3::norm(p.b) + vec3::norm(p.d);
    for (int m = 0; m < 3; ++m)
        scale = std::max(scale, std::fabs(p.c[m]));
    constexpr double kFloatRounding = 16.0 * 0x1p-24;
    const Vec3d offset = vec3::sub(ctx.field, p.c);
    return vec3::norm(offset) <= kFloatRounding * scale ? p.c : ctx.field;
}

// Own-panel rule (4)-(5) for one weight, pieces in the documented order.
PanelIntegrals own_panel_rule(int method, const IntegrationContext& given)
{
    IntegrationContext ctx = given;
    ctx.field = own_panel_field(given);

    const int own_method = own_panel_method(method);
    const OwnPanelSplit split = own_panel_split(ctx.panel);
    const double rho = split.rho;
    const double h_s = split.axis == 1 ? rho : kHalf;
    const double h_t = split.axis == 2 ? rho : kHalf;

    const auto source = [&ctx](double s, double t) { return source_integrand(ctx, s, t); };
    const auto dipole = [&ctx](double s, double t) { return dipole_integrand(ctx, s, t); };
    const auto collapsed_source = [&](double xi, double eta) {
        return collapsed(source, h_s, h_t, xi, eta);
    };
    const auto collapsed_dipole = [&](double xi, double eta) {
        return collapsed(dipole, h_s, h_t, xi, eta);
    };

    PanelIntegrals result;
    // Adds one piece; false once a piece has failed (the sequence stops there).
    const auto piece = [&](Integrand2d f, double a, double b, double c, double d) {
        const Integral2d part = integrate_with_method(own_method, f, ctx, a, b, c, d);
        result.error_flag = part.error_flag;
        return part;
    };
    struct Strip {
        double a, b, c, d;
    };
    Strip first{};
    Strip second{};
    if (split.axis == 1) {
        first = Strip{-kHalf, -rho, -kHalf, kHalf};
        second = Strip{rho, kHalf, -kHalf, kHalf};
    } else if (split.axis == 2) {
        first = Strip{-kHalf, kHalf, -kHalf, -rho};
        second = Strip{-kHalf, kHalf, rho, kHalf};
    }

    const auto strip_pair = [&](const Strip& strip) {
        const Integral2d src = piece(source, strip.a, strip.b, strip.c, strip.d);
        result.source += src.value;
        if (src.error_flag != 0)
            return false;
        const Integral2d dip = piece(dipole, strip.a, strip.b, strip.c, strip.d);
        result.dipole += dip.value;
        return dip.error_flag == 0;
    };

    if (split.axis != 0 && !strip_pair(first))
        return result;
    const Integral2d src = piece(collapsed_source, -kHalf, kHalf, -kHalf, kHalf);
    result.source += src.value;
    if (src.error_flag != 0)
        return result;
    const Integral2d dip = piece(collapsed_dipole, -kHalf, kHalf, -kHalf, kHalf);
    result.dipole += dip.value;
    if (dip.error_flag != 0)
        return result;
    if (split.axis != 0)
        strip_pair(second);
    return result;
}

template <class Rule>
PanelIntegralsW9 nine_weights(const Rule& rule, int method, IntegrationContext ctx)
{
    PanelIntegralsW9 result;
    for (int k = 1; k <= kSplineWeights; ++k) {
        ctx.weight = k;
        const PanelIntegrals one = rule(method, ctx);
        result.source[k - 1] = one.source;
        result.dipole[k - 1] = one.dipole;
        result.error_flag = one.error_flag;
        if (one.error_flag != 0)
            return result;
        result.weights_done = k;
    }
    return result;
}

IntegrationContext context_of(const Vec3d& f, const Vec3d& p1, const Vec3d& p2, const Vec3d& p3,
                              const Vec3d& p4)
{
    return IntegrationContext{make_bilinear_panel(p1, p2, p3, p4), f, 0};
}

}  // namespace

PanelIntegrals panel_integrals(int method, const Vec3d& f, const Vec3d& p1, const Vec3d& p2,
                               const Vec3d& p3, const Vec3d& p4)
{
    return regular_rule(method, context_of(f, p1, p2, p3, p4));
}

PanelIntegralsW9 panel_integrals_w9(int method, const Vec3d& f, const Vec3d& p1, const Vec3d& p2,
                                    const Vec3d& p3, const Vec3d& p4)
{
    return nine_weights(regular_rule, method, context_of(f, p1, p2, p3, p4));
}

PanelIntegrals self_panel_integrals(int method, const Vec3d& f, const Vec3d& p1, const Vec3d& p2,
                                    const Vec3d& p3, const Vec3d& p4)
{
    return own_panel_rule(method, context_of(f, p1, p2, p3, p4));
}

PanelIntegralsW9 self_panel_integrals_w9(int method, const Vec3d& f, const Vec3d& p1,
                                         const Vec3d& p2, const Vec3d& p3, const Vec3d& p4)
{
    return nine_weights(own_panel_rule, method, context_of(f, p1, p2, p3, p4));
}

}  // namespace torva
