// The two-dimensional integrators against closed forms and the properties that define them.
#include "integrals/integrators_2d.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace torva {
namespace {

double power_integral(int p, double lo, double hi)
{
    return (std::pow(hi, p + 1) - std::pow(lo, p + 1)) / (p + 1);
}

// A Gauss-Legendre rule of m points is exact up to degree 2m - 1 in each variable and no
// further: the product rule over a rectangle must reproduce s^p t^q to rounding (double,
// about 16 terms of size 1: 1e-13 relative) for p, q <= 2m - 1, and miss s^(2m) visibly.
TEST(gauss_product, exact_up_to_its_degree_and_not_beyond)
{
    const double a = -0.3, b = 1.1, c = 0.2, d = 0.9;
    for (int p = 0; p <= 9; ++p) {
        for (int q = 0; q <= 9; ++q) {
            const auto f = [p, q](double s, double t) { return std::pow(s, p) * std::pow(t, q); };
            const double exact = power_integral(p, a, b) * power_integral(q, c, d);
            if (p <= 7 && q <= 7) {
                EXPECT_NEAR(gauss_product_4(f, a, b, c, d), exact, 1e-13 * std::fabs(exact) + 1e-15)
                    << "p=" << p << " q=" << q;
            }
            EXPECT_NEAR(gauss_product_5(f, a, b, c, d), exact, 1e-13 * std::fabs(exact) + 1e-15)
                << "p=" << p << " q=" << q;
        }
    }
    const auto s8 = [](double s, double) { return std::pow(s, 8); };
    const double exact8 = power_integral(8, a, b) * (d - c);
    EXPECT_GT(std::fabs(gauss_product_4(s8, a, b, c, d) - exact8), 1e-6 * exact8);
    const auto s10 = [](double s, double) { return std::pow(s, 10); };
    const double exact10 = power_integral(10, a, b) * (d - c);
    EXPECT_GT(std::fabs(gauss_product_5(s10, a, b, c, d) - exact10), 1e-6 * exact10);
}

// 1/r over the unit square from a corner: 2 ln(1 + sqrt 2).  Every accepted piece has its
// two rules within tol |q5| or tol |S|; on a smooth piece q5 is far better than that, but
// on the pieces touching the singular corner q5 errs by about as much as it differs from
// q4, and the corner piece is accepted against the whole sum S.  So the error is one to two
// tol of the integral (measured 0.5 to 1.7 tol for tol = 1e-3 .. 1e-6); allow 3 tol.
TEST(adaptive_2d_tworule, corner_singularity_matches_closed_form)
{
    const auto f = [](double s, double t) { return 1.0 / std::sqrt(s * s + t * t); };
    const double exact = 2.0 * std::log(1.0 + std::sqrt(2.0));
    for (const double tol : {1e-4, 1e-6}) {
        const Integral2d lower_left = adaptive_2d_tworule(f, 0.0, 1.0, 0.0, 1.0, tol);
        EXPECT_EQ(lower_left.error_flag, 0);
        EXPECT_NEAR(lower_left.value, exact, 3.0 * tol * exact);
        const Integral2d lower_right = adaptive_2d_tworule(f, -1.0, 0.0, 0.0, 1.0, tol);
        EXPECT_EQ(lower_right.error_flag, 0);
        EXPECT_NEAR(lower_right.value, exact, 3.0 * tol * exact);
    }
}

// On the flat map X = (s, t, 0) with F = (0, 0, h), criterion (2) 16 (2 w^2) < h^2 accepts
// square pieces of width w = 1/8 and rejects w = 1/4 when h = 1: 64 pieces of 16 points.
// With F on the surface (h = 0) no piece is ever small enough: the single 4 x 4 rule's value
// comes back with the failure.
TEST(adaptive_2d_size, subdivides_until_pieces_are_small_against_the_distance)
{
    int calls = 0;
    const double h = 1.0;
    const auto f = [&calls, h](double s, double t) { ++calls; return 1.0 / std::sqrt(s * s + t * t + h * h); };
    const auto map = [](double s, double t) { return Vec3d{s, t, 0.0}; };
    const Integral2d r = adaptive_2d_size(f, map, h * h, -0.5, 0.5, -0.5, 0.5);
    EXPECT_EQ(r.error_flag, 0);
    EXPECT_EQ(calls, 64 * 16);
    // Potential of the unit square above its centre:
    // 4 [x ln(y + d) + y ln(x + d) - h atan(x y / (h d))]-terms with x = y = 1/2.
    const double x = 0.5;
    const double dd = std::sqrt(2 * x * x + h * h);
    const double g = 2.0 * x * std::log(x + dd) - h * std::atan(x * x / (h * dd));
    const double g0 = 2.0 * x * std::log(std::sqrt(x * x + h * h));   // the terms at zero
    const double exact = 4.0 * (g - g0);
    // 4x4 Gauss on a piece seen from 4 diagonals away errs by far less than 1e-8.
    EXPECT_NEAR(r.value, exact, 1e-8 * exact);

    const Integral2d at_centre = adaptive_2d_size([](double s, double t) { return s * s + t * t; }, map, 0.0,
                                                  -0.5, 0.5, -0.5, 0.5);
    EXPECT_EQ(at_centre.error_flag, -1);
    EXPECT_NEAR(at_centre.value, 1.0 / 6.0, 1e-14);   // the single 4x4 rule is exact for s^2 + t^2
}

}  // namespace
}  // namespace torva
