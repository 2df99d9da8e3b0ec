// Two independent routes to the same panel integrals: the flat-panel closed forms of the
// source kernel (single precision, edge by edge) against adaptive two-rule quadrature of the
// bilinear panel (double precision).  For a flat quadrilateral the two describe the same
// surface, so they must agree to the kernel's float accuracy.
#include <gtest/gtest.h>

#include <cmath>

#include "integrals/basis_flow_integrals.hpp"
#include "integrals/panel_integrals.hpp"
#include "integrals/source_kernel.hpp"
#include "mesh/mesh_text.hpp"

namespace {

using torva::test::SheetSpec;

// Flat, skewed quadrilaterals in a tilted plane: a 3 x 1 sheet (a single panel would leave
// the surface metric of the mesh model undefined); the middle one is the test panel.
torva::PanelModel tilted_panel()
{
    SheetSpec s;
    s.np1 = 3;
    s.np2 = 1;
    s.node = [](int a, int b) {
        // in-plane coordinates: columns fan out with b, so every panel is a trapezoid
        const double ua = a * (1.0 + 0.3 * b) - 0.2 * b, vb = 0.6 * b;
        const double u[3] = {0.8, 0.0, 0.6}, v[3] = {0.0, 1.0, 0.0};
        return std::array<double, 3>{0.3 + ua * u[0] + vb * v[0], -0.2 + ua * u[1] + vb * v[1],
                                     -1.0 + ua * u[2] + vb * v[2]};
    };
    torva::PanelModel m;
    EXPECT_EQ(torva::test::load_mesh(m, torva::test::version_header("tilted", 0, 1) + torva::test::sheet_text(s), 1.0f), 0);
    torva::fill_moment_tables(m);
    return m;
}

TEST(kernel_cross, near_field_closed_forms_match_adaptive_quadrature_of_the_same_panel)
{
    const torva::PanelModel m = tilted_panel();
    const int p = 2 + 5 * 1;   // the interior panel (2, 1) of the padded 5 x 3 sheet, 0-based
    const torva::KernelPanel kp = torva::kernel_panel(m, torva::to_panel_number(p));
    const auto c = torva::integration_corners(std::span<const float>(&m.corners[12 * p], 12));
    const torva::BilinearPanel bp = torva::make_bilinear_panel(c[0], c[1], c[2], c[3]);
    const double n[3] = {kp.frame[2], kp.frame[5], kp.frame[8]};
    const double centre[3] = {m.colloc[3 * p], m.colloc[3 * p + 1], m.colloc[3 * p + 2]};
    // Field points in the near field (r^2 <= 40 S): above, below, off to the side, in the
    // plane outside the panel, and near a corner.
    const double offsets[][3] = {{0.0, 0.0, 0.5}, {0.2, 0.1, -0.3}, {1.2, 0.3, 0.4},
                                 {0.9, -0.8, 0.05}, {0.5, 0.35, 1.5}, {-0.4, 0.5, -0.9}};
    for (const auto& o : offsets) {
        // o = (along e1, along e2, along n)
        torva::Vec3d f{};
        for (int k = 0; k < 3; ++k)
            f[k] = centre[k] + o[0] * kp.frame[3 * k] + o[1] * kp.frame[3 * k + 1] + o[2] * n[k];
        const std::array<float, 3> ff = {float(f[0]), float(f[1]), float(f[2])};
        const auto exact = torva::source_kernel(ff, 0, kp, 1);
        const auto quad = torva::panel_integrals(3, f, c[0], c[1], c[2], c[3]);
        const auto vel = torva::potential_velocity_integrals(2, f, bp);
        ASSERT_EQ(quad.error_flag, 0);
        ASSERT_EQ(vel.error_flag, 0);
        // Float closed forms of a few terms each of size ~ the result: 1e-5 relative.
        EXPECT_NEAR(exact.phi_s, quad.source, 1e-5 * std::abs(quad.source)) << o[0] << " " << o[1] << " " << o[2];
        // The dipole is a solid angle summed from four edge angles of size up to pi, each
        // formed in float from differences of order-one terms (about 10 float epsilons):
        // 4 x pi x 1.2e-6, rounded up to 2e-5 absolute.
        EXPECT_NEAR(exact.phi_d, quad.dipole, 2e-5) << o[2];
        // The velocity integrals are  int (F - X) / r^3 dA = -grad of the source potential.
        const double scale = std::hypot(vel.values[1], vel.values[2], vel.values[3]);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(exact.grad_phi_s[k], -vel.values[1 + k], 2e-5 * scale) << "component " << k;
        EXPECT_NEAR(exact.phi_s, vel.values[0], 1e-5 * std::abs(vel.values[0]));
    }
}

}  // namespace
