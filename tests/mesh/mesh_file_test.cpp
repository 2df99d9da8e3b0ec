// Mesh files end to end: a box barge whose hydrostatics are known in closed form, the two
// layouts, the header edge cases, the link section, two-file reading, classification, the
// moment tables, the capacity status and the allocation stop.
#include "mesh/mesh_file.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>

#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "mesh/mesh_text.hpp"
#include "mesh/panel_geometry.hpp"

namespace torva {
namespace {

using test::SheetSpec;

constexpr float kEps = std::numeric_limits<float>::epsilon();

// Half of a box barge (y >= 0) of length L, beam B and draft T in file units: bottom, side
// and two ends, every sheet kind 2 with flag 1, corners ordered so that n points into the
// hull (out of the fluid).
std::vector<SheetSpec> half_box(double L, double B, double T, int nx, int ny, int nz)
{
    const double hb = B / 2;
    SheetSpec bottom{nx, ny, 2, 1, [=](int a, int b) {
        return std::array<double, 3>{a * L / nx, b * hb / ny, -T}; }};          // n = +z
    SheetSpec side{nx, nz, 2, 1, [=](int a, int b) {
        return std::array<double, 3>{a * L / nx, hb, -T + b * T / nz}; }};      // n = -y
    SheetSpec stern{ny, nz, 2, 1, [=](int a, int b) {
        return std::array<double, 3>{0.0, a * hb / ny, -T + b * T / nz}; }};    // n = +x
    SheetSpec bow{ny, nz, 2, 1, [=](int a, int b) {
        return std::array<double, 3>{L, (ny - a) * hb / ny, -T + b * T / nz}; }};  // n = -x
    return {bottom, side, stern, bow};
}

struct Hydrostatics {
    double volume = 0, area = 0, mx = 0, mz = 0;
};

// Displacement, wetted surface and first moments by the divergence theorem over the
// interior panels of the flagged sheets, doubled for a half hull.
Hydrostatics hydrostatics(const PanelModel& m)
{
    Hydrostatics h;
    int offset = 0;
    for (int s = 0; s < m.n_sheets; ++s) {
        for (int p = offset; p < offset + m.np[s]; ++p) {
            if (m.active[p] != 1 || m.mp[s] == 0)
                continue;
            const double A = m.moments[15 * p], cx = m.colloc[3 * p], cz = m.colloc[3 * p + 2];
            const double nz = m.gnormal[6 * p + 2];
            h.volume -= nz * cz * A;
            h.area += A;
            h.mx -= cx * cz * nz * A;
            h.mz -= 0.5 * cz * cz * nz * A;
        }
        offset += m.np[s];
    }
    return h;
}

TEST(mesh_file, box_barge_has_closed_form_hydrostatics)
{
    // File units L = 20, B = 6, T = 3 with ALENGTH = 2: model L = 10, B = 3, T = 1.5.
    const std::string text = test::version_header("box barge", 1, 4)
                             + test::sheets_text(half_box(20, 6, 3, 5, 3, 2));
    PanelModel m;
    ASSERT_EQ(test::load_mesh(m, text, 2.0f), 0);
    EXPECT_EQ(m.header.title, "box barge");
    EXPECT_EQ(m.header.symmetry, 1);
    EXPECT_EQ(m.header.code, 'N');
    const Hydrostatics h = hydrostatics(m);
    const double L = 10, B = 3, T = 1.5;
    // Sums of ~50 panel values of size ~10 in float: allow 50 * 4 eps relative.
    const double rel = 50 * 4 * kEps;
    EXPECT_NEAR(2 * h.volume, L * B * T, rel * L * B * T);
    EXPECT_NEAR(2 * h.area, L * B + 2 * L * T + 2 * B * T, rel * 100);
    EXPECT_NEAR(h.mx / h.volume, L / 2, rel * L);                  // LCB amidships
    EXPECT_NEAR(h.mz / h.volume, -T / 2, rel * T);                 // VCB at half draft
    // Every body panel's normal points into the hull: the bottom's up, the side's to -y.
    EXPECT_FLOAT_EQ(m.gnormal[6 * (1 + 1 * 7) + 2], 1.0f);
    // Waterline: the side and the ends reach z = 0 from x = 0 to x = L.
    EXPECT_FLOAT_EQ(m.waterline_xmin, 0.0f);
    EXPECT_FLOAT_EQ(m.waterline_xmax, 10.0f);
    // Classification: all four sheets are flagged body sheets.
    const int interior = 5 * 3 + 5 * 2 + 3 * 2 + 3 * 2;
    const int padded = 7 * 5 + 7 * 4 + 5 * 4 + 5 * 4;
    EXPECT_EQ(m.n_panels, padded);
    EXPECT_EQ(m.n_interior_body, interior);
    EXPECT_EQ(m.n_flagged_interior_body, interior);
    EXPECT_EQ(m.n_body, padded);
    EXPECT_EQ(m.n_flagged_body, padded);
    EXPECT_EQ(m.n_free_surface, 0);
    EXPECT_EQ(m.n_interior_free_surface, 0);
}

TEST(mesh_file, both_layouts_give_the_same_model)
{
    const std::string sheets = test::sheets_text(half_box(8, 4, 2, 3, 2, 2));
    PanelModel a, b;
    ASSERT_EQ(test::load_mesh(a, test::version_header("same", 1, 4) + sheets, 1.0f), 0);
    ASSERT_EQ(test::load_mesh(b, test::old_header("same", 1, 4) + sheets, 1.0f), 0);
    EXPECT_EQ(a.header.title, b.header.title);
    EXPECT_EQ(a.n_panels, b.n_panels);
    EXPECT_EQ(a.corners, b.corners);
    EXPECT_EQ(a.colloc, b.colloc);
    EXPECT_EQ(a.frame, b.frame);
    EXPECT_EQ(a.moments, b.moments);
    EXPECT_EQ(a.gnormal, b.gnormal);
    EXPECT_EQ(a.inv_midline_frame, b.inv_midline_frame);
    EXPECT_EQ(a.metric_inv, b.metric_inv);
    EXPECT_EQ(a.node_table, b.node_table);
}

TEST(mesh_file, version_line_recognition)
{
    const std::string sheet = test::sheet_text(test::flat_sheet(2, 2, 3, 0));
    struct Case { const char* first_line; bool versioned; };
    for (const Case c : {Case{"Version 2.0", true}, Case{"Version_2.0", true},
                         Case{"Version 2.0 extra text", true}, Case{"Version 2.1", false},
                         Case{"version 2.0", false}}) {
        const std::string text = c.versioned
            ? test::version_header("the title", 0, 1, "0 0 0 0 0 0", "F", c.first_line) + sheet
            : std::string(c.first_line) + "\n0 N\n1 0.0 0.0 0.0\n" + sheet;
        PanelModel m;
        ASSERT_EQ(test::load_mesh(m, text, 1.0f), 0) << c.first_line;
        EXPECT_EQ(m.header.title, c.versioned ? "the title" : c.first_line);
        EXPECT_EQ(m.n_sheets, 1);
    }
}

TEST(mesh_file, header_values_are_scaled_and_converted)
{
    // Version layout: t = (1, 2, 3), angles (90, 45, 180) degrees, logical T, ALENGTH 2.
    const float pi_single = std::bit_cast<float>(std::uint32_t{0x40490FDA});
    PanelModel m;
    ASSERT_EQ(test::load_mesh(m, test::version_header("hdr", 1, 1, "1.0 2.0 3.0 90. 45.D0 180", ".TRUE.")
                                     + test::sheet_text(test::flat_sheet(2, 2, 3, 0)), 2.0f), 0);
    EXPECT_EQ(m.header.lengths[0], 0.5f);
    EXPECT_EQ(m.header.lengths[1], 1.0f);
    EXPECT_EQ(m.header.lengths[2], 1.5f);
    EXPECT_EQ(m.header.angles[0], 90.0f * pi_single / 180.0f);
    EXPECT_EQ(m.header.angles[1], 45.0f * pi_single / 180.0f);
    EXPECT_EQ(m.header.angles[2], 180.0f * pi_single / 180.0f);
    EXPECT_NEAR(m.header.angles[0], std::numbers::pi / 2, 2 * kEps);
    EXPECT_TRUE(m.header.translate_first);

    // Old layout third record "3, 0.5, 2.0 1.2": three sheets, t3 = 0.5, a2 = 2 degrees,
    // t1 = 1.2, everything else 0 and the logical false.
    PanelModel old;
    const std::string sheets = test::sheets_text({test::flat_sheet(2, 2, 3, 0), test::flat_sheet(2, 2, 3, 0, 5),
                                                  test::flat_sheet(2, 2, 3, 0, 10)});
    ASSERT_EQ(test::load_mesh(old, "old title\n0 Y\n3, 0.5, 2.0 1.2\n" + sheets, 2.0f), 0);
    EXPECT_EQ(old.n_sheets, 3);
    EXPECT_EQ(old.header.code, 'Y');
    EXPECT_EQ(old.header.lengths[2], 0.5f / 2.0f);
    EXPECT_EQ(old.header.angles[1], 2.0f * pi_single / 180.0f);
    EXPECT_EQ(old.header.lengths[0], 1.2f / 2.0f);
    EXPECT_EQ(old.header.lengths[1], 0.0f);
    EXPECT_EQ(old.header.angles[0], 0.0f);
    EXPECT_EQ(old.header.angles[2], 0.0f);
    EXPECT_FALSE(old.header.translate_first);
}

TEST(mesh_file, link_section_variants)
{
    // No section (the file ends), a count of 0, words where the count would be, and two records
    // after a blank record and a count with text after it (list-directed: the rest of the count's
    // record is dropped).
    const std::string body = test::version_header("links", 0, 1) + test::sheet_text(test::flat_sheet(2, 2, 2, 1));
    for (const auto& [tail, count] : {std::pair{"", 0}, std::pair{"0\n", 0}, std::pair{"end of mesh\n", 0},
                                      std::pair{"\n 2 extra\n6 1 2 3 4 5 6\n11, -1, -2, -3, -4, -5, -6\n", 2}}) {
        PanelModel m;
        ASSERT_EQ(test::load_mesh(m, body + tail, 1.0f), 0) << tail;
        EXPECT_EQ(m.link_record_count, count) << tail;
        if (count == 0) continue;
        for (int k = 0; k < 6; ++k) {                 // panel 6: 1 .. 6, panel 11: -1 .. -6
            EXPECT_EQ(m.link_values[6 * 5 + k], k + 1);
            EXPECT_EQ(m.link_values[6 * 10 + k], -(k + 1));
        }
    }
}

TEST(mesh_file, waterline_extent_defaults_without_flagged_body_sheets)
{
    // A kind-2 sheet with flag 2 and a kind-3 sheet, both in z = 0: neither counts.
    PanelModel m;
    ASSERT_EQ(test::load_mesh(m, test::version_header("no wl", 0, 2)
                                     + test::sheets_text({test::flat_sheet(2, 2, 2, 2), test::flat_sheet(2, 2, 3, 1)}),
                              1.0f), 0);
    EXPECT_EQ(m.waterline_xmax, -1.0e15f);
    EXPECT_EQ(m.waterline_xmin, 1.0e15f);
    EXPECT_EQ(m.waterline_xmax, -999999986991104.0f);
}

TEST(mesh_file, waterline_tolerance_scales_with_alength)
{
    // A slanted wall: node (a, b) at x = 2.5 + 2a + 3b, z = -b.  With ALENGTH 1 only the
    // row z = 0 is within 1e-5 of the waterline: x from 2.5 to 6.5.  With ALENGTH 1000 the stored
    // rows z = -0.001 and -0.002 are within 1e-5 * 1000 = 0.01 too: x from 0.0025 to
    // 0.0125.  (The offset 2.5 keeps the ghost-reaching metric of this 2 x 2 sheet regular.)
    SheetSpec wall{2, 2, 2, 1, [](int a, int b) {
        return std::array<double, 3>{2.5 + 2 * a + 3 * b, 0.0, -1.0 * b}; }};
    const std::string text = test::version_header("wl", 0, 1) + test::sheet_text(wall);
    PanelModel unit_scale, km_scale;
    ASSERT_EQ(test::load_mesh(unit_scale, text, 1.0f), 0);
    EXPECT_FLOAT_EQ(unit_scale.waterline_xmin, 2.5f);
    EXPECT_FLOAT_EQ(unit_scale.waterline_xmax, 6.5f);
    ASSERT_EQ(test::load_mesh(km_scale, text, 1000.0f), 0);
    EXPECT_FLOAT_EQ(km_scale.waterline_xmin, 0.0025f);
    EXPECT_FLOAT_EQ(km_scale.waterline_xmax, 0.0125f);
}

TEST(mesh_file, two_files_append_sheets_and_take_the_second_header)
{
    const std::string hull = test::version_header("hull", 1, 1, "1 0 0 0 0 0") + test::sheet_text(test::flat_sheet(2, 2, 2, 1))
                             + "1\n6 9 9 9 9 9 9\n";
    // The free-surface file also holds a flagged body sheet at z = 0 out to x = 50: it must
    // not move the waterline extent, which only the first file sets.
    const std::string fs = test::old_header("free surface", 0, 2, "0.0 0.0 7.0")
                           + test::sheets_text({test::flat_sheet(3, 2, 3, 0, -1.0), test::flat_sheet(2, 2, 2, 1, 40.0, 0.0, 5.0)})
                           + "1\n20 1 1 1 1 1 1\n";
    PanelModel m;
    ASSERT_EQ(test::load_mesh(m, hull, 1.0f, fs), 0);
    EXPECT_EQ(m.n_sheets, 3);
    EXPECT_EQ(m.n_panels, 16 + 20 + 16);
    EXPECT_EQ(m.header.title, "free surface");
    EXPECT_EQ(m.header.symmetry, 0);
    EXPECT_EQ(m.header.lengths[0], 7.0f);
    EXPECT_EQ(m.link_record_count, 2);
    EXPECT_EQ(m.link_values[6 * 5], 9);
    EXPECT_EQ(m.link_values[6 * 19], 1);
    EXPECT_FLOAT_EQ(m.waterline_xmin, 0.0f);
    EXPECT_FLOAT_EQ(m.waterline_xmax, 2.0f);
    // Second file's first sheet: numbering continues at 17; its corner (1,1) is node (1,1).
    const int p = 16 + 1 + 1 * 5;          // 0-based (i, j) = (1, 1), NP1' = 5
    EXPECT_EQ(m.corners[12 * p + 0], 0.0f);    // x of P1 = node (1, 1) = -1 + 1
    EXPECT_EQ(m.corners[12 * p + 2], -1.0f);   // x of P3 = node (0, 0)
    // Classification over both files.
    EXPECT_EQ(m.n_free_surface, 20);
    EXPECT_EQ(m.n_interior_free_surface, 6);
    EXPECT_EQ(m.n_body, 32);
    EXPECT_EQ(m.n_interior_body, 8);
    EXPECT_EQ(m.free_surface[0], 17);
    EXPECT_EQ(m.interior_free_surface[0], 17 + 1 + 5);
    EXPECT_EQ(m.interior_body[4], 37 + 1 + 4);
}

TEST(mesh_file, classification_skips_kind_one_and_unknown_kinds)
{
    PanelModel m;
    ASSERT_EQ(test::load_mesh(m, test::version_header("kinds", 0, 4)
                                     + test::sheets_text({test::flat_sheet(2, 2, 1, 1), test::flat_sheet(2, 2, 7, 1),
                                                          test::flat_sheet(2, 2, 2, 0), test::flat_sheet(2, 2, 2, 3)}),
                              1.0f), 0);
    EXPECT_EQ(m.n_body, 32);
    EXPECT_EQ(m.n_interior_body, 8);
    EXPECT_EQ(m.n_flagged_body, 16);           // only MP > 0
    EXPECT_EQ(m.n_flagged_interior_body, 4);
    EXPECT_EQ(m.body[0], 33);                  // after 2 x 16 panels of kinds 1 and 7
    EXPECT_EQ(m.flagged_body[0], 49);
    EXPECT_EQ(m.flagged_interior_body[0], 49 + 5);
}

TEST(mesh_file, moment_tables_drop_the_first_order_moments)
{
    // The trapezoid of the geometry tests, where M(1,0) = 0 but M(0,1) != 0.
    test::SheetSpec filler = test::flat_sheet(1, 3, 3, 0, 10.0);
    PanelModel m;
    // A one-by-one sheet alone has a singular metric, so the trapezoid P3 = (0,0),
    // P2 = (4,0), P1 = (3,2), P4 = (1,2) is the middle panel of a 3 x 1 strip.
    SheetSpec strip{3, 1, 2, 1, [](int a, int b) {
        const double x_bottom[4] = {-4.0, 0.0, 4.0, 8.0}, x_top[4] = {-3.0, 1.0, 3.0, 7.0};
        return std::array<double, 3>{b == 0 ? x_bottom[a] : x_top[a], 2.0 * b, 0.0}; }};
    ASSERT_EQ(test::load_mesh(m, test::version_header("moments", 0, 2) + test::sheets_text({strip, filler}), 1.0f), 0);
    fill_moment_tables(m);
    const int p = 2 + 1 * 5;                 // middle panel (i, j) = (2, 1), NP1' = 5
    const float* full = &m.moments[15 * p];
    EXPECT_NEAR(full[0], 6.0f, 4 * kEps * 6);
    EXPECT_EQ(m.moment2[2 * p], 1.0f);
    EXPECT_EQ(m.moment2[2 * p + 1], full[0]);
    int k = 0;
    for (int n = 0; n <= 4; ++n)
        for (int mm = 0; mm + n <= 4; ++mm) {
            if (mm + n == 1)
                continue;
            EXPECT_EQ(m.moment13[13 * p + k], full[moment_index(mm, n)]) << "M(" << mm << "," << n << ")";
            ++k;
        }
    EXPECT_EQ(k, 13);
    // Ghost panels: (1, 0).
    EXPECT_EQ(m.moment2[0], 1.0f);
    EXPECT_EQ(m.moment2[1], 0.0f);
    release_mesh_work_arrays(m);
    EXPECT_TRUE(m.raw_nodes.empty());
    EXPECT_TRUE(m.body.empty());
    EXPECT_EQ(m.n_body, 15);                  // counts stay
    EXPECT_EQ(m.interior_body[0], 1 + 1 + 5);
}

TEST(mesh_file, sheet_capacity_exceeded_returns_status_one)
{
    const std::string two_sheets = test::version_header("cap", 0, 2)
                                   + test::sheets_text({test::flat_sheet(2, 2, 3, 0), test::flat_sheet(2, 2, 3, 0)});
    PanelModel m;
    allocate_panel_model(m, 32, 1, false);           // room for one sheet only
    std::istringstream in(two_sheets);
    EXPECT_EQ(read_mesh_one_file(in, "cap.ssg", 1.0f, m), 1);
    // Two files of one sheet each, capacity 1: the first fits, both together do not.
    const std::string one_sheet = test::version_header("cap", 0, 1) + test::sheet_text(test::flat_sheet(2, 2, 3, 0));
    PanelModel n;
    allocate_panel_model(n, 32, 1, false);
    std::istringstream first(one_sheet), second(one_sheet);
    EXPECT_EQ(read_mesh_two_files(first, "a.ssg", second, "b.ssg", 1.0f, n), 1);
}

TEST(mesh_file, mirrored_allocation_doubles_the_tables_and_fills_half)
{
    const std::string text = test::version_header("mirror", 1, 1) + test::sheet_text(test::flat_sheet(2, 2, 2, 1));
    PanelModel m;
    ASSERT_EQ(test::load_mesh(m, text, 1.0f, "", true), 0);
    EXPECT_EQ(m.n_sheets, 1);
    EXPECT_EQ(m.sheet_capacity, 2);
    EXPECT_EQ(m.n_panels, 16);
    EXPECT_EQ(m.panel_capacity, 32);
    EXPECT_EQ(m.corners.size(), 12u * 32);
    EXPECT_EQ(m.raw_nodes.size(), 3u * 16);
    for (std::size_t k = 12 * 16; k < m.corners.size(); ++k)
        ASSERT_EQ(m.corners[k], 0.0f);
}

// ---- stops on bad input ------------------------------------------------------------------
//
// The reader's stop messages are checked on the files of tests/corpus/mesh, in-process and by
// the whole program; here only what a file cannot reach.

TEST(mesh_file, allocation_beyond_memory_stops_naming_the_bytes)
{
    // 2e9 panels fit the 32-bit count, but the mirrored doubling makes 4e9.
    PanelModel m;
    try {
        allocate_panel_model(m, 2000000000, 1, true);
        FAIL() << "4e9 panels were allocated";
    } catch (const RunStopped& stop) {
        ASSERT_EQ(stop.lines.size(), 2u);
        EXPECT_EQ(stop.lines[0], "ERROR: Insufficient memory for allocation of arrays.");
        EXPECT_NE(stop.lines[1].find("bytes needed for 2000000000 panels"), std::string::npos);
    }
}

// ---- files on units -----------------------------------------------------------------------

class MeshFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path()
               / ("torva_mesh_files_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed())
                  + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        units().close(kMeshUnit);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string write(const std::string& name, const std::string& text)
    {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << text;
        return path;
    }
    static void open_mesh(const std::string& path)
    {
        OpenOptions options;
        options.status = "OLD";
        ASSERT_EQ(units().open(kMeshUnit, path, options), kIostatOk);
    }
    std::filesystem::path dir_;
};

TEST_F(MeshFiles, sizing_and_reading_through_the_mesh_unit)
{
    const std::string hull = write("hull.ssg", test::version_header("hull", 1, 4)
                                                   + test::sheets_text(half_box(20, 6, 3, 4, 2, 2)));
    const std::string fs = write("fs.ssg", test::old_header("fs", 0, 1) + test::sheet_text(test::flat_sheet(3, 3, 3, 0)));

    open_mesh(hull);
    const MeshSizes one = size_mesh(kMeshUnit, std::string("0") + std::string(199, ' '));
    EXPECT_FALSE(units().is_open(kMeshUnit));
    EXPECT_EQ(one.n_sheets, 4);
    EXPECT_EQ(one.n_panels, 6 * 4 + 6 * 4 + 4 * 4 + 4 * 4);
    EXPECT_EQ(one.symmetry, 1);

    open_mesh(hull);
    const MeshSizes two = size_mesh(kMeshUnit, fs);
    EXPECT_EQ(two.n_sheets, 5);
    EXPECT_EQ(two.n_panels, one.n_panels + 25);
    EXPECT_EQ(two.symmetry, 0);                 // the last file's indicator

    PanelModel a;
    allocate_panel_model(a, one.n_panels, one.n_sheets, false);
    open_mesh(hull);
    ASSERT_EQ(read_mesh_one_file(kMeshUnit, 2.0f, a), 0);
    EXPECT_FALSE(units().is_open(kMeshUnit));
    EXPECT_NEAR(2 * hydrostatics(a).volume, 10 * 3 * 1.5, 1e-4 * 45);

    PanelModel b;
    allocate_panel_model(b, two.n_panels, two.n_sheets, false);
    ASSERT_EQ(read_mesh_two_files(kMeshUnit, hull + std::string(20, ' '), fs, 2.0f, b), 0);
    EXPECT_FALSE(units().is_open(kMeshUnit));
    EXPECT_EQ(b.n_sheets, 5);
    EXPECT_EQ(b.header.title, "fs");
    // The first file's panels are identical whichever reader took them.
    for (int k = 0; k < 12 * a.n_panels; ++k)
        ASSERT_EQ(a.corners[k], b.corners[k]);
}

TEST_F(MeshFiles, missing_files_stop_with_their_names)
{
    const std::string hull = write("hull.ssg", test::version_header("hull", 0, 1) + test::sheet_text(test::flat_sheet(2, 2, 2, 1)));
    const std::string missing = (dir_ / "nowhere.ssg").string();
    open_mesh(hull);
    try {
        (void)size_mesh(kMeshUnit, missing);
        FAIL() << "a missing FILE_FS was sized";
    } catch (const RunStopped& stop) {
        EXPECT_EQ(stop.lines, (std::vector<std::string>{"ERROR: Unable to open mesh fs file", missing}));
    }
    PanelModel m;
    allocate_panel_model(m, 16, 1, false);
    try {
        (void)read_mesh_two_files(kMeshUnit, missing, hull, 1.0f, m);
        FAIL() << "a missing FILE_SSG was read";
    } catch (const RunStopped& stop) {
        EXPECT_EQ(stop.lines, (std::vector<std::string>{"ERROR: Unable to open mesh ssg file", missing}));
    }
}

}  // namespace
}  // namespace torva
