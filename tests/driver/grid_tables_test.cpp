// Grid summary: hydrostatics of a box barge against closed forms, and the table layouts.
#include "driver/grid_tables.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "support/fortran_runner.hpp"

namespace {

// One flat rectangular panel per sheet, padded to 3 x 3 with ghosts, as the mesh model
// stores it.  Only the hydrostatic fields are filled: that is all the extents read.
void add_face(torva::PanelModel& m, const double c[3], const double n[3], double area,
              const float corners[12], int flag = 1)
{
    const int base = m.n_panels;
    m.n_panels += 9;
    m.corners.resize(12 * m.n_panels, 0.0f);
    m.active.resize(m.n_panels, 0);
    m.colloc.resize(3 * m.n_panels, 0.0f);
    m.moments.resize(15 * m.n_panels, 0.0f);
    m.gnormal.resize(torva::kModeCount * m.n_panels, 0.0f);
    const int p = base + 4;   // the interior panel (1, 1) of the 3 x 3 block
    m.active[p] = 1;
    for (int k = 0; k < 3; ++k) {
        m.colloc[3 * p + k] = static_cast<float>(c[k]);
        m.gnormal[torva::kModeCount * p + k] = static_cast<float>(n[k]);
    }
    m.moments[15 * p] = static_cast<float>(area);
    for (int k = 0; k < 12; ++k) m.corners[12 * p + k] = corners[k];
    m.n_sheets += 1;
    m.np1.push_back(3);
    m.np2.push_back(3);
    m.np.push_back(9);
    m.kp.push_back(2);
    m.mp.push_back(flag);
}

// Box barge L x B x T: x in [0, L], y in [-B/2, B/2], z in [-T, 0]; bottom and four sides,
// normals pointing into the box (out of the fluid).
torva::PanelModel box_barge(double L, double B, double T)
{
    torva::PanelModel m;
    const float l = float(L), b = float(B / 2), t = float(T);
    {   const double c[3] = {L / 2, 0, -T}, n[3] = {0, 0, 1};
        const float k[12] = {0, l, l, 0, -b, -b, b, b, -t, -t, -t, -t};
        add_face(m, c, n, L * B, k); }
    {   const double c[3] = {L / 2, -B / 2, -T / 2}, n[3] = {0, 1, 0};
        const float k[12] = {0, l, l, 0, -b, -b, -b, -b, -t, -t, 0, 0};
        add_face(m, c, n, L * T, k); }
    {   const double c[3] = {L / 2, B / 2, -T / 2}, n[3] = {0, -1, 0};
        const float k[12] = {0, l, l, 0, b, b, b, b, -t, -t, 0, 0};
        add_face(m, c, n, L * T, k); }
    {   const double c[3] = {0, 0, -T / 2}, n[3] = {1, 0, 0};
        const float k[12] = {0, 0, 0, 0, -b, b, b, -b, -t, -t, 0, 0};
        add_face(m, c, n, B * T, k); }
    {   const double c[3] = {L, 0, -T / 2}, n[3] = {-1, 0, 0};
        const float k[12] = {l, l, l, l, -b, b, b, -b, -t, -t, 0, 0};
        add_face(m, c, n, B * T, k); }
    return m;
}

TEST(grid_extents, box_barge_matches_closed_forms)
{
    const double L = 4.0, B = 1.0, T = 0.5;
    const auto g = torva::compute_grid_extents(box_barge(L, B, T));
    EXPECT_NEAR(g.volume, L * B * T, 1e-6);
    EXPECT_NEAR(g.wetted_area, L * B + 2 * L * T + 2 * B * T, 1e-6);
    EXPECT_NEAR(g.buoyancy[0], L / 2, 1e-6);
    EXPECT_NEAR(g.buoyancy[1], 0.0, 1e-6);
    EXPECT_NEAR(g.buoyancy[2], -T / 2, 1e-6);
    EXPECT_FLOAT_EQ(g.overall_length, 4.0f);
    EXPECT_FLOAT_EQ(g.waterline_beam, 1.0f);
    EXPECT_FLOAT_EQ(g.max_draft, 0.5f);
}

TEST(grid_extents, sheets_with_flag_zero_do_not_count_and_half_hulls_double)
{
    auto m = box_barge(2.0, 1.0, 1.0);
    const auto whole = torva::compute_grid_extents(m);
    m.mp[0] = 0;   // the bottom no longer counts
    const auto no_bottom = torva::compute_grid_extents(m);
    EXPECT_NEAR(no_bottom.wetted_area, whole.wetted_area - 2.0, 1e-6);
    m.mp[0] = 1;
    m.header.symmetry = 1;
    const auto doubled = torva::compute_grid_extents(m);
    EXPECT_NEAR(doubled.volume, 2 * whole.volume, 1e-6);
    EXPECT_NEAR(doubled.wetted_area, 2 * whole.wetted_area, 1e-6);
    EXPECT_FLOAT_EQ(doubled.buoyancy[1], 0.0f);
    EXPECT_FLOAT_EQ(doubled.waterline_beam, 2 * whole.waterline_beam);
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
    torva::output_axes(h, p, t, out);   // no rotation: p + t either way
    EXPECT_DOUBLE_EQ(out[0], 11);
    EXPECT_DOUBLE_EQ(out[2], 33);
    // Rotation about z by 90 degrees: rows (0, 1, 0), (-1, 0, 0), (0, 0, 1).
    h.angles[2] = static_cast<float>(M_PI / 2);
    torva::output_axes(h, p, t, out);   // R p + t
    EXPECT_NEAR(out[0], 2 + 10, 1e-6);
    EXPECT_NEAR(out[1], -1 + 20, 1e-6);
    h.translate_first = true;           // R (p + t)
    torva::output_axes(h, p, t, out);
    EXPECT_NEAR(out[0], 22, 1e-5);
    EXPECT_NEAR(out[1], -11, 1e-5);
    EXPECT_NEAR(out[2], 33, 1e-5);
}

TEST(grid_tables, layouts_have_the_fixed_columns)
{
    torva::testing::TempDir dir("tables");
    torva::OpenOptions o;
    o.status = "REPLACE";
    ASSERT_EQ(torva::units().open(6, dir.file("t.LIS"), o), 0);
    auto m = box_barge(4.0, 1.0, 0.5);
    m.header.title = "Box barge for the hydrostatics check, a long title";
    m.waterline_xmin = 0.0f;
    m.waterline_xmax = 4.0f;
    torva::print_grid_information(6, m);
    torva::print_principal_particulars(6, m, torva::compute_grid_extents(m), 2.0f);
    torva::units().close(6);
    std::ifstream in(dir.file("t.LIS"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 12u + 15u);   // 5 sheets; 10 particulars
    EXPECT_EQ(lines[0], "         " + std::string(58, '-'));
    EXPECT_EQ(lines[1], "                              GRID INFORMATION");
    EXPECT_EQ(lines[2], "                    Name    :    Box barge for the hydrostatics");
    EXPECT_EQ(lines[4], "                Sheet#    NP1     NP2      NP      KP      MP");
    EXPECT_EQ(lines[5], "                    1       3       3       9       2       1");
    EXPECT_EQ(lines[11], "");
    EXPECT_EQ(lines[13], "                            PRINCIPAL PARTICULARS");
    // Lengths scale with ALENGTH = 2, the volume with its cube.
    EXPECT_EQ(lines[15], "                  Overall Length        (L)  :   8.000E+00");
    EXPECT_EQ(lines[16], "                  Waterline Length      (L)  :   8.000E+00");
    EXPECT_EQ(lines[19], "                  Displacement        (L^3)  :   1.600E+01");
    EXPECT_EQ(lines[21], "                  LCB (from origin)     (L)  :   4.000E+00");
    EXPECT_EQ(lines[23], "                  VCB (from origin)     (L)  :  -5.000E-01");
    // From the keel: the translation's z is replaced by the draft (1.0 after scaling).
    EXPECT_EQ(lines[24], "                  VCB (from keel)       (L)  :   5.000E-01");
}

}  // namespace
