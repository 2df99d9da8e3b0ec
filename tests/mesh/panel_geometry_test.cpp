// Panel geometry against closed forms: area moments of a rectangle, a trapezoid's moments,
// normal and frame under a rigid motion, the inverse midline frame, and the surface metric of
// grids whose centroid differences are exact.  A collapsed panel's stop is checked on
// tests/corpus/mesh.
#include "mesh/panel_geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "mesh/mesh_text.hpp"

namespace torva {
namespace {

constexpr float kEps = std::numeric_limits<float>::epsilon();

// Corner record of P1..P4.
std::array<float, kCornerStride> corner_record(const std::array<std::array<double, 3>, 4>& P)
{
    std::array<float, kCornerStride> c{};
    for (int k = 0; k < 4; ++k)
        for (int r = 0; r < 3; ++r)
            c[4 * r + k] = static_cast<float>(P[k][r]);
    return c;
}

// integral of xi^m over [-a/2, a/2]
double centred_power_integral(double a, int m)
{
    return (std::pow(a / 2, m + 1) - std::pow(-a / 2, m + 1)) / (m + 1);
}

TEST(panel_geometry, rectangle_moments_match_closed_form)
{
    // Rectangle 3 x 2 in z = 0 with P3 = (1, 1): corners in the order of the corner record.
    const double a = 3.0, b = 2.0;
    const PanelGeometry g = panel_geometry(corner_record(
        {{{1 + a, 1 + b, 0}, {1 + a, 1, 0}, {1, 1, 0}, {1, 1 + b, 0}}}));
    ASSERT_FALSE(g.degenerate);
    for (int n = 0; n <= 4; ++n)
        for (int m = 0; m + n <= 4; ++m) {
            const double expected = centred_power_integral(a, m) * centred_power_integral(b, n);
            // float storage of values up to (3/2)^4 * 2 ~ 10: allow 4 eps relative to 10.
            EXPECT_NEAR(g.moments[moment_index(m, n)], expected, 4 * kEps * 10)
                << "M(" << m << "," << n << ")";
        }
    // Sides P1P2, P2P3, P3P4, P4P1; the midlines a and b, square to each other; the centre.
    const float want[] = {6, 2, 3, 2, 3, 3, 2, 0, 1, 2.5f, 2};
    const float got[] = {g.moments[0], g.sides[0], g.sides[1], g.sides[2], g.sides[3], g.midline_len1,
                         g.midline_len2, g.midline_slope, g.midline_cos, g.colloc[0], g.colloc[1]};
    for (int k = 0; k < 11; ++k) EXPECT_FLOAT_EQ(got[k], want[k]) << "value " << k;
}

const std::array<std::array<double, 3>, 4> kTrapezoid = {{{3, 2, 0}, {4, 0, 0}, {0, 0, 0}, {1, 2, 0}}};

TEST(panel_geometry, moments_and_normal_follow_a_rigid_motion)
{
    // Rotate the trapezoid by 0.7 rad about the axis (1, 2, 3)/sqrt(14) and shift it by
    // (5, -3, 2): moments are intrinsic, the normal turns with R, c x n follows from c and n.
    const double th = 0.7;
    const double ax[3] = {1 / std::sqrt(14.0), 2 / std::sqrt(14.0), 3 / std::sqrt(14.0)};
    double R[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            R[i][j] = (i == j ? std::cos(th) : 0.0) + (1 - std::cos(th)) * ax[i] * ax[j];
    // Rodrigues' formula: R = cos I + (1 - cos) a a^T + sin [a]x
    R[0][1] -= std::sin(th) * ax[2]; R[0][2] += std::sin(th) * ax[1];
    R[1][0] += std::sin(th) * ax[2]; R[1][2] -= std::sin(th) * ax[0];
    R[2][0] -= std::sin(th) * ax[1]; R[2][1] += std::sin(th) * ax[0];
    const double shift[3] = {5, -3, 2};
    std::array<std::array<double, 3>, 4> moved{};
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 3; ++i)
            moved[k][i] = R[i][0] * kTrapezoid[k][0] + R[i][1] * kTrapezoid[k][1]
                          + R[i][2] * kTrapezoid[k][2] + shift[i];
    const PanelGeometry g0 = panel_geometry(corner_record(kTrapezoid));
    const PanelGeometry g = panel_geometry(corner_record(moved));
    // Corners are rounded to float at |P| ~ 8: 8 eps absolute error, moments of degree
    // <= 4 over a panel of size ~ 4 move by ~ 4^4 * 6 * 8 eps / 4: allow 4e-4 absolute.
    for (int k = 0; k < kMomentCount; ++k)
        EXPECT_NEAR(g.moments[k], g0.moments[k], 4e-4) << "moment " << k;
    const double n[3] = {R[0][2], R[1][2], R[2][2]};        // R z
    double c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = R[i][0] * 2 + R[i][1] * 1 + shift[i];         // R (2, 1, 0) + shift
    const double cxn[3] = {c[1] * n[2] - c[2] * n[1], c[2] * n[0] - c[0] * n[2], c[0] * n[1] - c[1] * n[0]};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(g.gnormal[i], n[i], 16 * kEps);
        EXPECT_NEAR(g.gnormal[3 + i], cxn[i], 16 * kEps * 8);
        EXPECT_NEAR(g.colloc[i], c[i], 8 * kEps * 8);
        // the frame's third row is n: entries 2, 5, 8
        EXPECT_NEAR(g.frame[2 + 3 * i], n[i], 16 * kEps);
    }
}

TEST(panel_model, inverse_midline_frame_times_frame_is_identity)
{
    // A curved sheet (z = 0.1 (x^2 - y^2)): every panel's frame is a general 3 x 3 matrix.
    const test::SheetSpec s{3, 2, 2, 1, [](int a, int b) {
        const double x = 0.7 * a, y = 0.4 * b + 0.1 * a;
        return std::array<double, 3>{x, y, 0.1 * (x * x - y * y)};
    }};
    PanelModel model;
    ASSERT_EQ(test::load_mesh(model, test::version_header("curved", 0, 1) + test::sheet_text(s), 1.0f), 0);
    for (int p = 0; p < model.n_panels; ++p) {
        if (model.active[p] != 1)
            continue;
        const float* f = &model.midline_frame[9 * p];
        const float* g = &model.inv_midline_frame[9 * p];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double s_ij = 0.0;
                for (int k = 0; k < 3; ++k)
                    s_ij += static_cast<double>(g[i + 3 * k]) * f[k + 3 * j];
                // 3 x 3 with entries ~ 0.5 and cond ~ 10: allow 3 * 10 * eps * 4
                EXPECT_NEAR(s_ij, i == j ? 1.0 : 0.0, 120 * kEps) << "panel " << p + 1;
            }
    }
}

TEST(panel_model, surface_metric_of_a_quadratically_spaced_grid_is_exact)
{
    // x = a^2, y = 0.5 b: interior panel i has centroid x = i^2 - i + 0.5, so dc/di = 2i - 1
    // and dc/dj = 0.5 everywhere; the second-order one-sided formulas at the first and last
    // interior columns are exact for a quadratic, the central one everywhere between.
    const test::SheetSpec s{5, 3, 2, 1, [](int a, int b) { return std::array<double, 3>{double(a) * a, 0.5 * b, 0.0}; }};
    PanelModel model;
    ASSERT_EQ(test::load_mesh(model, test::version_header("quadratic", 0, 1) + test::sheet_text(s), 1.0f), 0);
    const int np1 = model.np1[0];
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 5; ++i) {
            const float* g = &model.metric_inv[9 * static_cast<std::size_t>(i + j * np1)];
            // inverse of diag(2i - 1, 0.5, 1)
            EXPECT_FLOAT_EQ(g[0], 1.0f / static_cast<float>(2 * i - 1)) << i << "," << j;
            EXPECT_FLOAT_EQ(g[4], 2.0f);
            EXPECT_FLOAT_EQ(g[8], 1.0f);
            for (int k : {1, 2, 3, 5, 6, 7})
                EXPECT_EQ(g[k], 0.0f) << "entry " << k << " of " << i << "," << j;
        }
}

}  // namespace
}  // namespace torva
