// Two-dimensional integrators; the formulas (1)-(4) are given in integrators_2d.hpp.
#include "integrals/integrators_2d.hpp"

#include <cmath>

namespace torva {

namespace {

// 2^-23: a difference of the two Gauss rules below this is accepted whatever the tolerance;
// it keeps pieces of a vanishing integrand from being split down to the stack limit.
constexpr double kTworuleAbsoluteFloor = 1.1920928955078125e-7;

// Deep-piece limits of the two adaptive integrators (stack indices count from 1).
constexpr int kSizeRuleDeepIndex = 28;      // method 2 accepts at index > 28
constexpr int kTworuleDeepIndex = 29;       // method 3 accepts at index >= 29

struct Rect {
    double s1, s2, t1, t2;
};

template <std::size_t M>
double gauss_product(Integrand2d f, double a, double b, double c, double d,
                     const std::array<double, M>& x, const std::array<double, M>& w)
{
    const double half_s = 0.5 * (b - a);
    const double half_t = 0.5 * (d - c);
    const double mid_s = 0.5 * (a + b);
    const double mid_t = 0.5 * (c + d);
    double sum = 0.0;
    for (std::size_t i = 0; i < M; ++i) {
        const double s = mid_s + half_s * x[i];
        for (std::size_t j = 0; j < M; ++j) {
            const double t = mid_t + half_t * x[j];
            sum += w[i] * w[j] * f(s, t);
        }
    }
    return sum * half_s * half_t;   // (4)
}

// Replaces the rectangle at stack[top] by its four quarters; returns the new top index.
// The order (lower-left at the old index, upper-left on top) decides which quarter is
// examined next and so the order in which the accepted pieces are summed.
int split_into_quarters(std::array<Rect, kAdaptiveStackSize + 1>& stack, int top)
{
    const Rect r = stack[top];
    const double sm = 0.5 * (r.s1 + r.s2);
    const double tm = 0.5 * (r.t1 + r.t2);
    stack[top] = Rect{r.s1, sm, r.t1, tm};        // lower-left
    stack[top + 1] = Rect{sm, r.s2, r.t1, tm};    // lower-right
    stack[top + 2] = Rect{sm, r.s2, tm, r.t2};    // upper-right
    stack[top + 3] = Rect{r.s1, sm, tm, r.t2};    // upper-left
    return top + 3;
}

double distance_sq(const Vec3d& p, const Vec3d& q)
{
    const double dx = p[0] - q[0];
    const double dy = p[1] - q[1];
    const double dz = p[2] - q[2];
    return dx * dx + dy * dy + dz * dz;
}

}  // namespace

double gauss_product_4(Integrand2d f, double a, double b, double c, double d)
{
    return gauss_product(f, a, b, c, d, kGauss4Nodes, kGauss4Weights);
}

double gauss_product_5(Integrand2d f, double a, double b, double c, double d)
{
    return gauss_product(f, a, b, c, d, kGauss5Nodes, kGauss5Weights);
}

Integral2d romberg_2d(Integrand2d f, double a, double b, double c, double d, double tol)
{
    // The extrapolation step of (1) is held in single precision: f_m = 1/(4^m - 1) rounded
    // to float, c2_m = -f_m and c1_m = 1 + f_m in double (c1_1 = 1.3333333432674408, not
    // 4/3).  c1_m + c2_m is exactly 1, so an integrand the midpoint rule already gets
    // right stays exact; the rounding of f_m limits the extrapolated values to about 1e-7
    // relative, whatever the tolerance.
    std::array<double, kRombergMaxLevel + 1> c1{};
    std::array<double, kRombergMaxLevel + 1> c2{};
    double four_m = 1.0;
    for (int m = 1; m <= kRombergMaxLevel; ++m) {
        four_m *= 4.0;
        const double f_m = static_cast<double>(static_cast<float>(1.0 / (four_m - 1.0)));
        c1[m] = 1.0 + f_m;
        c2[m] = -f_m;
    }

    const double width = b - a;
    const double height = d - c;
    std::array<double, kRombergMaxLevel + 1> previous{};
    std::array<double, kRombergMaxLevel + 1> current{};
    previous[0] = f(a + 0.5 * width, c + 0.5 * height) * width * height;

    long long cells = 1;
    for (int k = 1; k <= kRombergMaxLevel; ++k) {
        cells *= 2;
        const double hs = width / static_cast<double>(cells);
        const double ht = height / static_cast<double>(cells);
        double sum = 0.0;
        for (long long i = 0; i < cells; ++i) {
            const double s = a + (static_cast<double>(i) + 0.5) * hs;
            for (long long j = 0; j < cells; ++j)
                sum += f(s, c + (static_cast<double>(j) + 0.5) * ht);
        }
        current[0] = sum * hs * ht;
        for (int m = 1; m <= k; ++m)
            current[m] = c1[m] * current[m - 1] + c2[m] * previous[m - 1];   // (1)

        const double estimate = current[k];
        // A non-finite estimate (the integrand blew up on a midpoint) cannot improve with
        // finer grids; report it now instead of evaluating 2^38 points.
        if (!std::isfinite(estimate))
            return Integral2d{estimate, -1};
        if (std::fabs(estimate - previous[k - 1]) <= tol * std::fabs(estimate))
            return Integral2d{estimate, 0};
        previous = current;
    }
    return Integral2d{previous[kRombergMaxLevel], -1};
}

Integral2d adaptive_2d_size(Integrand2d f, SurfaceMap2d panel_point, double reference_distance_sq,
                            double a, double b, double c, double d)
{
    // (2) can never hold for a field point at the centre, and the pieces at the bottom of the
    // stack would be quartered without end; take the whole rectangle and report the failure.
    if (!(reference_distance_sq > 0.0))
        return Integral2d{gauss_product_4(f, a, b, c, d), -1};

    std::array<Rect, kAdaptiveStackSize + 1> stack{};
    int top = 1;
    stack[top] = Rect{a, b, c, d};
    Integral2d result;
    while (top > 0) {
        const Rect r = stack[top];
        bool accept = false;
        if (top > kSizeRuleDeepIndex) {
            accept = true;
            result.error_flag = -1;
        } else {
            const Vec3d x11 = panel_point(r.s1, r.t1);
            const Vec3d x21 = panel_point(r.s2, r.t1);
            const Vec3d x22 = panel_point(r.s2, r.t2);
            const Vec3d x12 = panel_point(r.s1, r.t2);
            const double delta1_sq = distance_sq(x11, x22);
            const double delta2_sq = distance_sq(x21, x12);
            const double delta_sq = delta1_sq > delta2_sq ? delta1_sq : delta2_sq;
            accept = 16.0 * delta_sq < reference_distance_sq;   // (2)
        }
        if (accept) {
            result.value += gauss_product_4(f, r.s1, r.s2, r.t1, r.t2);
            --top;
        } else {
            top = split_into_quarters(stack, top);
        }
    }
    return result;
}

Integral2d adaptive_2d_tworule(Integrand2d f, double a, double b, double c, double d, double tol)
{
    std::array<Rect, kAdaptiveStackSize + 1> stack{};
    int top = 1;
    stack[top] = Rect{a, b, c, d};
    Integral2d result;
    while (top > 0) {
        const Rect r = stack[top];
        const double q4 = gauss_product_4(f, r.s1, r.s2, r.t1, r.t2);
        const double q5 = gauss_product_5(f, r.s1, r.s2, r.t1, r.t2);
        const double delta = std::fabs(q4 - q5);
        const bool deep = top >= kTworuleDeepIndex;
        // A NaN difference (the integrand is infinite on a Gauss node) would fail every test
        // of (3) and the pieces at the bottom of the stack would be split for ever.
        const bool broken = std::isnan(delta);
        if (std::fabs(q5 * tol) > delta || std::fabs(tol * result.value) > delta ||
            delta < kTworuleAbsoluteFloor || deep || broken) {   // (3)
            result.value += q5;
            if (deep || broken)
                result.error_flag = -1;
            --top;
        } else {
            top = split_into_quarters(stack, top);
        }
    }
    return result;
}

}  // namespace torva
