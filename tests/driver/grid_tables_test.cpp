// Grid summary: the hydrostatics of a box barge against closed forms, the output axes against a
// rotation worked by hand, and the ES12.3 number form.  The table layouts are checked on the
// listing of a whole run (setup_run_test).
#include "driver/grid_tables.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "support/panel_models.hpp"

namespace {

using namespace torva::testing;

// The closed forms V = LBT, S = LB + 2LT + 2BT, centre of buoyancy (0, 0, -T/2), for the whole
// box and for its half mirrored in y = 0.  The corners are floats of the file's ten digits;
// the sums run in double: 1e-6 relative.
TEST(grid_extents, box_barge_matches_closed_forms_whole_and_half)
{
    const double L = 4.0, B = 1.0, T = 0.5;
    for (const bool half : {false, true}) {
        SCOPED_TRACE(half ? "half" : "whole");
        auto m = panel_model_from(box_barge(L, B, T, 4, 2, 2, half), half ? 1 : 0);
        const auto g = torva::compute_grid_extents(m);
        EXPECT_NEAR(g.volume, L * B * T, 1e-6 * L * B * T);
        EXPECT_NEAR(g.wetted_area, L * B + 2 * L * T + 2 * B * T, 1e-6 * L * L);
        EXPECT_NEAR(g.buoyancy[0], 0.0, 1e-6 * L);
        EXPECT_NEAR(g.buoyancy[1], 0.0, 1e-6 * L);
        EXPECT_NEAR(g.buoyancy[2], -T / 2, 1e-6 * L);
        EXPECT_NEAR(g.overall_length, L, 1e-6 * L);
        EXPECT_NEAR(g.waterline_beam, B, 1e-6 * L);
        EXPECT_NEAR(g.max_draft, T, 1e-6 * L);
        // A sheet with flag 0 does not count: without the bottom the area loses LB.
        m.mp[0] = 0;
        EXPECT_NEAR(torva::compute_grid_extents(m).wetted_area, 2 * L * T + 2 * B * T, 1e-6 * L * L);
    }
}

TEST(grid_tables, es12_3_is_fortran_exponent_form)
{
    EXPECT_EQ(torva::es12_3(1234.5), "   1.234E+03");   // 1234.5 rounds to even in binary: 1.234
    EXPECT_EQ(torva::es12_3(-0.015625), "  -1.562E-02");
    EXPECT_EQ(torva::es12_3(0.0), "   0.000E+00");
    EXPECT_EQ(torva::es12_3(2.0), "   2.000E+00");
}

TEST(grid_tables, output_axes_rotate_and_translate_in_the_header_order)
{
    torva::MeshHeader h;
    const double p[3] = {1, 2, 3}, t[3] = {10, 20, 30};
    double out[3];
    // No rotation: p + t either way; a rotation about z by 90 degrees, rows (0, 1, 0),
    // (-1, 0, 0), (0, 0, 1): R p + t, or R (p + t) when the header translates first.
    const std::array<double, 3> want[3] = {{11, 22, 33}, {12, 19, 33}, {22, -11, 33}};
    const double tol[3] = {0.0, 1e-6, 1e-5};
    for (int k = 0; k < 3; ++k) {
        h.angles[2] = k == 0 ? 0.0f : static_cast<float>(M_PI / 2);
        h.translate_first = k == 2;
        torva::output_axes(h, p, t, out);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(out[i], want[k][i], tol[k]) << "case " << k << " axis " << i;
    }
}

}  // namespace
