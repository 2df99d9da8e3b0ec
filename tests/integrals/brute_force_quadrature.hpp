// A brute-force double-precision quadrature over a flat polygon, independent of the kernels
// it checks, and the flat test panels it integrates over.  The polygon is cut into triangles
// (O', V_k, V_k+1) around the foot O' of the field point and each is mapped from the unit square by x = O' + u (V_k - O' +
// v (V_k+1 - V_k)) (Duffy), whose Jacobian u cancels the 1/rho singularity at O'.  The
// remaining peaks (width ~|zeta| along u near 0, width ~ distance to the edge along v) are
// resolved by intervals shrinking geometrically (ratio 4) towards them, with 10 Gauss-Legendre
// points each: relative accuracy ~1e-10 on every integral the tests use.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "integrals/source_kernel.hpp"

namespace torva::brute {

inline constexpr double kBrutePi = 3.14159265358979323846;

// Legendre polynomial P_l(c) by its recurrence.
inline double legendre(int l, double c)
{
    double p0 = 1.0, p1 = c;
    if (l == 0) return p0;
    for (int k = 2; k <= l; ++k) {
        const double p2 = ((2.0 * k - 1.0) * c * p1 - (k - 1.0) * p0) / k;
        p0 = p1;
        p1 = p2;
    }
    return p1;
}

// The 10-point Gauss-Legendre rule on [0, 1]: the roots of P_10 by Newton's method.
struct GaussRule {
    std::array<double, 10> x{}, w{};
};
inline const GaussRule& rule10()
{
    static const GaussRule rule = [] {
        GaussRule g;
        for (int i = 0; i < 10; ++i) {
            double z = std::cos(kBrutePi * (i + 0.75) / 10.5), dp = 0.0;
            for (int it = 0; it < 100; ++it) {
                dp = 10.0 * (z * legendre(10, z) - legendre(9, z)) / (z * z - 1.0);
                const double dz = legendre(10, z) / dp;
                z -= dz;
                if (std::fabs(dz) < 1e-16) break;
            }
            g.x[i] = 0.5 * (1.0 - z);
            g.w[i] = 1.0 / ((1.0 - z * z) * dp * dp);
        }
        return g;
    }();
    return rule;
}

template <class F>
double graded_integral(const F& f, double focus, double finest)
{
    std::vector<double> b = {0.0, 1.0};
    for (double w = std::max(finest, 1e-12); w < 1.0; w *= 4.0) {
        if (focus - w > 0.0) b.push_back(focus - w);
        if (focus + w < 1.0) b.push_back(focus + w);
    }
    if (focus > 0.0 && focus < 1.0) b.push_back(focus);
    std::sort(b.begin(), b.end());
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        const double len = b[i + 1] - b[i];
        for (std::size_t g = 0; g < 10; ++g) sum += len * rule10().w[g] * f(b[i] + len * rule10().x[g]);
    }
    return sum;
}

inline double polygon_quadrature(const std::array<double, 4>& vx, const std::array<double, 4>& vy, double x0,
                          double y0, double z, const std::function<double(double, double)>& f)
{
    double twice_area = 0.0;
    for (int k = 0; k < 4; ++k) twice_area += vx[k] * vy[(k + 1) % 4] - vx[(k + 1) % 4] * vy[k];
    const double orientation = twice_area < 0.0 ? -1.0 : 1.0;
    double total = 0.0;
    for (int k = 0; k < 4; ++k) {
        const int e = (k + 1) % 4;
        const double ax = vx[k] - x0, ay = vy[k] - y0, ex = vx[e] - vx[k], ey = vy[e] - vy[k];
        const double edge = std::hypot(ex, ey);
        if (edge < 1e-14) continue;
        const double det = ax * ey - ay * ex;
        const double dist = std::fabs(det) / edge;
        if (dist < 1e-14) continue;
        const double vstar = std::clamp(-(ax * ex + ay * ey) / (edge * edge), 0.0, 1.0);
        const double reach = std::max(std::hypot(ax, ay), std::hypot(ax + ex, ay + ey));
        const double finest_u = 1e-2 * std::max(std::fabs(z), 1e-9) / reach;
        const double finest_v = 1e-2 * std::max(std::fabs(z), dist) / edge;
        auto inner = [&](double u) {
            return u * graded_integral([&](double v) { return f(x0 + u * (ax + v * ex), y0 + u * (ay + v * ey)); },
                                       vstar, finest_v / std::max(u, 1e-3));
        };
        total += orientation * det * graded_integral(inner, 0.0, finest_u);
    }
    return total;
}

// Moment M(m, n) = integral of x^m y^n over the polygon (a polynomial: the rule is exact).
inline double polygon_moment(const std::array<double, 4>& vx, const std::array<double, 4>& vy, int m, int n)
{
    return polygon_quadrature(vx, vy, 0.013, -0.021, 1.0, [&](double x, double y) { return std::pow(x, m) * std::pow(y, n); });
}

// A flat quadrilateral of the panel model's kind: vertices in its plane, clockwise like the
// model's corners P1 (+,+), P2 (+,-), P3 (-,-), P4 (-,+), about its reference point (the
// area centroid, or the corner mean so that the first moments do not vanish); the moments
// M(m, n), m + n <= 4, in the model's slots (n outer, m inner); the frame R = Rz(g) Ry(b)
// Rx(a) in the model's layout (e1x e2x nx e1y e2y ny e1z e2z nz) and the centre c.
struct FlatQuad {
    std::array<double, 4> vx{}, vy{};
    std::array<double, 15> moments{};
    std::array<double, 9> frame{};
    std::array<double, 3> c{};

    // The global point at local (x, y, z).
    [[nodiscard]] std::array<double, 3> global(double x, double y, double z) const
    {
        std::array<double, 3> g = c;
        for (int i = 0; i < 3; ++i) g[i] += frame[3 * i] * x + frame[3 * i + 1] * y + frame[3 * i + 2] * z;
        return g;
    }
};

inline FlatQuad flat_quad(const std::array<double, 4>& lx, const std::array<double, 4>& ly, bool about_centroid,
                          std::array<double, 3> angles = {}, std::array<double, 3> c = {})
{
    double cx = (lx[0] + lx[1] + lx[2] + lx[3]) / 4, cy = (ly[0] + ly[1] + ly[2] + ly[3]) / 4;
    if (about_centroid) {
        const double area = polygon_moment(lx, ly, 0, 0);
        cx = polygon_moment(lx, ly, 1, 0) / area;
        cy = polygon_moment(lx, ly, 0, 1) / area;
    }
    FlatQuad q;
    for (int k = 0; k < 4; ++k) {
        q.vx[k] = lx[k] - cx;
        q.vy[k] = ly[k] - cy;
    }
    int slot = 0;
    for (int n = 0; n <= 4; ++n)
        for (int m = 0; m + n <= 4; ++m) q.moments[static_cast<std::size_t>(slot++)] = polygon_moment(q.vx, q.vy, m, n);
    const double ca = std::cos(angles[0]), sa = std::sin(angles[0]), cb = std::cos(angles[1]);
    const double sb = std::sin(angles[1]), cg = std::cos(angles[2]), sg = std::sin(angles[2]);
    q.frame = {cg * cb, cg * sb * sa - sg * ca, cg * sb * ca + sg * sa,
               sg * cb, sg * sb * sa + cg * ca, sg * sb * ca - cg * sa,
               -sb,     cb * sa,                cb * ca};
    q.c = c;
    return q;
}

// A general convex quadrilateral of size ~1 (times `scale`).
inline FlatQuad skew_quad(double scale, bool about_centroid, std::array<double, 3> angles = {},
                          std::array<double, 3> c = {})
{
    std::array<double, 4> x = {0.62, 0.48, -0.51, -0.43}, y = {0.41, -0.56, -0.47, 0.52};
    for (int k = 0; k < 4; ++k) {
        x[k] *= scale;
        y[k] *= scale;
    }
    return flat_quad(x, y, about_centroid, angles, c);
}

// The source kernel's view of a flat quadrilateral: 13 moments, leaving out the first ones,
// which vanish about the centroid.
inline KernelPanel kernel_panel_of(const FlatQuad& q)
{
    KernelPanel k;
    for (int i = 0; i < 9; ++i) k.frame[i] = static_cast<float>(q.frame[i]);
    for (int i = 0; i < 3; ++i) k.centre[i] = static_cast<float>(q.c[i]);
    for (int i = 0; i < 4; ++i) {
        k.xi[i] = static_cast<float>(q.vx[i]);
        k.eta[i] = static_cast<float>(q.vy[i]);
        k.sides[i] = static_cast<float>(std::hypot(q.vx[(i + 1) % 4] - q.vx[i], q.vy[(i + 1) % 4] - q.vy[i]));
    }
    constexpr int kKept[13] = {0, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    for (int i = 0; i < 13; ++i) k.moments[i] = static_cast<float>(q.moments[kKept[i]]);
    k.area = k.moments[0];
    return k;
}


}  // namespace torva::brute
