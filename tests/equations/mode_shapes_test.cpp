// Rigid-body mode shapes, checked against worked values and against the finite rotations
// whose first-order terms they are.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <stdexcept>

#include "equations/mode_shapes.hpp"

namespace {

using torva::mode_shape;

TEST(mode_shapes, rotations_at_5_2_minus1_give_the_worked_values)
{
    const std::array<float, 3> p = {5.0f, 2.0f, -1.0f};
    EXPECT_EQ(mode_shape(4, p), (std::array<float, 3>{0.0f, 1.0f, 2.0f}));
    EXPECT_EQ(mode_shape(5, p), (std::array<float, 3>{-1.0f, 0.0f, -5.0f}));
    EXPECT_EQ(mode_shape(6, p), (std::array<float, 3>{-2.0f, 5.0f, 0.0f}));
}

TEST(mode_shapes, translations_are_the_unit_vectors_everywhere)
{
    for (const std::array<float, 3> p : {std::array<float, 3>{0, 0, 0}, {3.5f, -7.0f, -0.25f}}) {
        EXPECT_EQ(mode_shape(1, p), (std::array<float, 3>{1, 0, 0}));
        EXPECT_EQ(mode_shape(2, p), (std::array<float, 3>{0, 1, 0}));
        EXPECT_EQ(mode_shape(3, p), (std::array<float, 3>{0, 0, 1}));
    }
}

// A rotation by theta about axis k moves x by theta (e_k x x) + O(theta^2): the mode shape
// must be the derivative of the finite rotation.  With theta = 1e-4 the second-order term is
// theta |x| / 2 ~ 5e-4 relative to |x| = 10, plus float rounding of the shape itself.
TEST(mode_shapes, rotation_modes_are_the_derivatives_of_finite_rotations)
{
    const std::array<double, 3> x = {3.0, -6.0, 8.0};
    const double theta = 1.0e-4;
    const double c = std::cos(theta), s = std::sin(theta);
    const std::array<std::array<double, 3>, 3> rotated = {{
        {x[0], c * x[1] - s * x[2], s * x[1] + c * x[2]},   // about x
        {c * x[0] + s * x[2], x[1], -s * x[0] + c * x[2]},  // about y
        {c * x[0] - s * x[1], s * x[0] + c * x[1], x[2]},   // about z
    }};
    for (int k = 0; k < 3; ++k) {
        const auto shape = mode_shape(4 + k, {3.0f, -6.0f, 8.0f});
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(shape[r], (rotated[k][r] - x[r]) / theta, 1.0e-3) << "mode " << 4 + k << " row " << r;
    }
}

TEST(mode_shapes, flexible_modes_are_rejected)
{
    EXPECT_THROW((void)mode_shape(7, {1, 2, 3}), std::invalid_argument);
}

}  // namespace
