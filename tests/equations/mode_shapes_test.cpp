// Rigid-body mode shapes against the finite motions whose first-order terms they are.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <stdexcept>

#include "equations/mode_shapes.hpp"

namespace {

using torva::mode_shape;

// A translation by theta along axis k moves x by theta e_k; a rotation by theta about axis k
// moves it by theta (e_k x x) + O(theta^2).  Each mode shape must be the derivative of its
// finite motion.  With theta = 1e-4 the second-order term is theta |x| / 2 ~ 5e-4 relative to
// |x| = 10, plus float rounding of the shape itself.
TEST(mode_shapes, modes_1_to_6_are_the_derivatives_of_finite_rigid_motions)
{
    const std::array<double, 3> x = {3.0, -6.0, 8.0};
    const double theta = 1.0e-4;
    const double c = std::cos(theta), s = std::sin(theta);
    const std::array<std::array<double, 3>, 6> moved = {{
        {x[0] + theta, x[1], x[2]},
        {x[0], x[1] + theta, x[2]},
        {x[0], x[1], x[2] + theta},
        {x[0], c * x[1] - s * x[2], s * x[1] + c * x[2]},   // about x
        {c * x[0] + s * x[2], x[1], -s * x[0] + c * x[2]},  // about y
        {c * x[0] - s * x[1], s * x[0] + c * x[1], x[2]},   // about z
    }};
    for (int k = 0; k < 6; ++k) {
        const auto shape = mode_shape(1 + k, {3.0f, -6.0f, 8.0f});
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(shape[r], (moved[k][r] - x[r]) / theta, 1.0e-3) << "mode " << 1 + k << " row " << r;
    }
    EXPECT_THROW((void)mode_shape(7, {1, 2, 3}), std::invalid_argument);   // no flexible modes
}

}  // namespace
