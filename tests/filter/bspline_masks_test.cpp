// The refinement masks c_h: the values worked by hand for h = 2, 3, 4, and the two identities
// every h must satisfy, the total h and the partition of unity of its h-shifts.
#include "filter/bspline_masks.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr float kEps = std::numeric_limits<float>::epsilon();

void expect_mask(int h, const std::vector<int>& numerators)
{
    const auto mask = torva::bspline_mask(h);
    ASSERT_EQ(mask.size(), numerators.size()) << "h = " << h;
    // Each entry is the correctly rounded quotient, and numerator and h^2 are exact in float,
    // so one float division gives the same bits.
    for (std::size_t k = 0; k < mask.size(); ++k)
        EXPECT_EQ(mask[k], static_cast<float>(numerators[k]) / static_cast<float>(h * h))
            << "h = " << h << ", k = " << k + 1;
}

TEST(bspline_masks, match_the_masks_worked_by_hand)
{
    expect_mask(2, {1, 3, 3, 1});
    expect_mask(3, {1, 3, 6, 7, 6, 3, 1});
    expect_mask(4, {1, 3, 6, 10, 12, 12, 10, 6, 3, 1});
}

TEST(bspline_masks, exist_for_factors_two_to_ten_sum_to_the_factor_and_their_shifts_sum_to_one)
{
    for (int h : {0, 1, 11}) EXPECT_TRUE(torva::bspline_mask(h).empty()) << "h = " << h;
    for (int h = 2; h <= 10; ++h) {
        const auto mask = torva::bspline_mask(h);
        ASSERT_EQ(mask.size(), static_cast<std::size_t>(3 * h - 2));
        // Symmetric: the triple convolution of a symmetric box is symmetric, exactly.
        for (std::size_t k = 0; k < mask.size(); ++k) EXPECT_EQ(mask[k], mask[mask.size() - 1 - k]);

        // Each entry carries a relative rounding error of at most eps/2; summed in double the
        // 3h - 2 entries (each <= 1) are off from h by at most (3h - 2) * eps / 2.
        double total = 0.0;
        for (float v : mask) total += v;
        EXPECT_NEAR(total, h, (3 * h - 2) * kEps / 2) << "h = " << h;

        // Partition of unity: for every offset r, the entries r, r + h, r + 2h, ... (at most 3)
        // sum to 1, within 3 * eps / 2 by the same argument.
        for (int r = 0; r < h; ++r) {
            double shifted = 0.0;
            for (std::size_t k = r; k < mask.size(); k += h) shifted += mask[k];
            EXPECT_NEAR(shifted, 1.0, 3 * kEps / 2) << "h = " << h << ", offset " << r;
        }
    }
}

TEST(bspline_masks, sample_the_quadratic_spline_for_large_factors)
{
    // (b*b*b)(k) counts the triples of 0-based box indices i + j + l = k - 1; divided by h^3 it
    // is the distribution of a sum of three discrete uniforms, which approaches the density
    // B of a sum of three uniforms on [0, 1] (the quadratic B-spline on [0, 3]) at the scaled
    // midpoint t = (k - 1 + 3/2) / h, times the spacing 1/h.  So c_h(k) = (b*b*b)(k) / h^2
    // tends to B(t).  Replacing each box by its midpoint sample errs by O(1/h^2) on a
    // piecewise quadratic (the variance of a box of width 1/h is 1/(12 h^2), and B'' is at
    // most 2 in size); for h = 10 we allow 1/h^2.
    for (int h : {8, 9, 10}) {
        const auto mask = torva::bspline_mask(h);
        for (std::size_t k = 0; k < mask.size(); ++k) {
            const double t = (static_cast<double>(k) + 1.5) / h;
            const double spline = t < 1 ? t * t / 2 : t < 2 ? (-2 * t * t + 6 * t - 3) / 2 : (3 - t) * (3 - t) / 2;
            EXPECT_NEAR(mask[k], spline, 1.0 / (h * h)) << "h = " << h << ", k = " << k + 1;
        }
    }
}

}  // namespace
