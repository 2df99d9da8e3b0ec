// A brute-force double-precision quadrature over a flat polygon, independent of the kernels
// it checks.  The polygon is cut into triangles (O', V_k, V_k+1) around the foot O' of the
// field point and each is mapped from the unit square by x = O' + u (V_k - O' +
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

namespace torva::brute {


inline constexpr double kBrutePi = 3.14159265358979323846;

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
                double p0 = 1.0, p1 = z;
                for (int k = 2; k <= 10; ++k) {
                    const double p2 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p0) / k;
                    p0 = p1;
                    p1 = p2;
                }
                dp = 10.0 * (z * p1 - p0) / (z * z - 1.0);
                const double dz = p1 / dp;
                z -= dz;
                if (std::fabs(dz) < 1e-16) break;
            }
            g.x[static_cast<std::size_t>(i)] = 0.5 * (1.0 - z);
            g.w[static_cast<std::size_t>(i)] = 1.0 / ((1.0 - z * z) * dp * dp);
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

}  // namespace torva::brute
