// Mesh files end to end: a box barge whose hydrostatics are known in closed form, the two
// layouts, the header edge cases, the link section, two-file reading, classification, the
// moment tables, the capacity status and the allocation stop.
#include "mesh/mesh_file.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <numbers>

#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "mesh/mesh_text.hpp"
#include "mesh/panel_geometry.hpp"
#include "support/fortran_runner.hpp"

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
    EXPECT_EQ(a.node_table, b.node_table);
    for (auto field : {&PanelModel::corners, &PanelModel::colloc, &PanelModel::frame, &PanelModel::moments,
                       &PanelModel::gnormal, &PanelModel::inv_midline_frame, &PanelModel::metric_inv})
        EXPECT_EQ(a.*field, b.*field);
}

TEST(mesh_file, header_values_are_scaled_and_converted)
{
    // ALENGTH 2.  Version layout: t = (1, 2, 3), angles (90, 45, 180) degrees, logical T.  Old
    // layout, third record "3, 0.5, 2.0 1.2": three sheets, t3 = 0.5, a2 = 2 degrees, t1 = 1.2,
    // everything else 0 and the logical false.
    const float pi_single = std::bit_cast<float>(std::uint32_t{0x40490FDA});
    const auto sheet = [](double x0) { return test::sheet_text(test::flat_sheet(2, 2, 3, 0, x0)); };
    const struct {
        std::string text;
        float lengths[3], degrees[3];
        bool translate;
        char code;
    } cases[] = {
        {test::version_header("hdr", 1, 1, "1.0 2.0 3.0 90. 45.D0 180", ".TRUE.") + sheet(0), {0.5f, 1.0f, 1.5f},
         {90, 45, 180}, true, 'N'},
        {"old title\n0 Y\n3, 0.5, 2.0 1.2\n" + sheet(0) + sheet(5) + sheet(10), {1.2f / 2.0f, 0.0f, 0.5f / 2.0f},
         {0, 2, 0}, false, 'Y'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 12));
        PanelModel m;
        ASSERT_EQ(test::load_mesh(m, c.text, 2.0f), 0);
        EXPECT_EQ(m.header.code, c.code);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(m.header.lengths[k], c.lengths[k]) << k;
            EXPECT_EQ(m.header.angles[k], c.degrees[k] * pi_single / 180.0f) << k;
        }
        EXPECT_EQ(m.header.translate_first, c.translate);
        if (c.translate) {
            EXPECT_NEAR(m.header.angles[0], std::numbers::pi / 2, 2 * kEps);
        }
    }
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

// The reader's stop messages are checked on the files of tests/corpus/mesh, in-process and by
// the whole program; sizing and reading through the mesh unit is what every whole run does
// (tests/driver), and the missing FILE_SSG stop is in the namelist corpus.  Only the missing
// FILE_FS is left here.
TEST(mesh_file, missing_fs_file_stops_with_its_name)
{
    const testing::TempDir dir("mesh_files");
    const std::string hull = dir.file("hull.ssg"), missing = dir.file("nowhere.ssg");
    std::ofstream(hull) << test::version_header("hull", 0, 1) + test::sheet_text(test::flat_sheet(2, 2, 2, 1));
    OpenOptions options;
    options.status = "OLD";
    ASSERT_EQ(units().open(kMeshUnit, hull, options), kIostatOk);
    try {
        (void)size_mesh(kMeshUnit, missing);
        ADD_FAILURE() << "a missing FILE_FS was sized";
    } catch (const MeshFault& fault) {
        EXPECT_EQ(fault.lines, (std::vector<std::string>{"ERROR: Unable to open mesh fs file", missing}));
    }
    units().close(kMeshUnit);
}

}  // namespace
}  // namespace torva
