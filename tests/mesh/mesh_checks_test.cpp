// The mesh checks on hulls whose right answers are known without the checks: the Wigley
// hull's volume 4/9 L B T, a box's L B T (exact for flat panels), a sphere's 4/3 pi R^3, a
// free surface raised by a known height (its gap is that height), a sheet written twice
// (every panel overlaps), one face of a closed body turned.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <fstream>
#include <string>
#include <vector>

#include "../../tools/mesh_shapes.hpp"
#include "mesh/mesh_checks.hpp"
#include "support/fortran_runner.hpp"

namespace {

using namespace torva;
namespace mt = torva::mesh_tool;

// The sheets through a mesh file and the readers, as torva-inspect --check-mesh reads them.
PanelModel read_sheets(const std::vector<mt::Sheet>& sheets, int symmetry)
{
    const torva::testing::TempDir dir("mesh_checks");
    {
        std::ofstream out(dir.file("test.ssg"));
        mt::write_mesh(out, {"test", symmetry}, sheets, mt::Layout::version2);
    }
    PanelModel model;
    EXPECT_EQ(read_mesh_for_checks(dir.file("test.ssg"), "0", model), "");
    return model;
}

std::vector<mt::Sheet> wigley_with_free_surface()
{
    std::vector<mt::Sheet> sheets = mt::wigley_hull({2.0, 0.2, 0.125, 16, 6, true}, true);
    const auto fs = mt::free_surface(sheets, {3.0, 4, 1.2}, true);
    sheets.insert(sheets.end(), fs.begin(), fs.end());
    return sheets;
}

mt::Sheet reversed(const mt::Sheet& s)
{
    return mt::make_sheet(s.np1, s.np2, s.kind, [&](int a, int b) { return s.node(s.np1 - a, b); });
}

std::string failures_text(const MeshCheckReport& r)
{
    std::string t;
    for (const CheckFinding& f : r.findings)
        if (f.severity == CheckSeverity::failure) t += f.text + "\n";
    return t;
}

TEST(mesh_checks, good_hulls_pass_with_their_known_volumes)
{
    // Wigley: flat panels take the parabolas by chords.  In z that is the trapezoid rule over
    // 6 intervals, which loses h^2/6 of the 2/3 that (1 - zeta^2) integrates to, 0.7 %; the 16
    // cosine-spaced stations in x lose about as much (1.3 % together): 2 % holds.
    const MeshCheckReport wigley = check_mesh(read_sheets(wigley_with_free_surface(), 1));
    EXPECT_EQ(wigley.failures(), 0) << failures_text(wigley);
    EXPECT_NEAR(2 * wigley.sheets[0].displacement, 4.0 / 9.0 * 2.0 * 0.2 * 0.125, 0.02 * 0.0222);
    EXPECT_TRUE(wigley.waterline.checked);
    EXPECT_LT(wigley.waterline.max_gap, 1e-6);

    // A fine whole hull: its halves close to zero thickness at the stem and keel, where the
    // panels of one side lie within a hair of the other's but face it.
    const MeshCheckReport whole = check_mesh(read_sheets(mt::wigley_hull({2.0, 0.2, 0.125, 104, 36, true}, false), 0));
    EXPECT_EQ(whole.failures(), 0) << failures_text(whole);

    // Box: the vertical sides and ends give exactly nothing and must pass as well.
    const MeshCheckReport box = check_mesh(read_sheets(mt::box_hull({2.0, 1.0, 0.5, 8, 4, 2}, false), 0));
    EXPECT_EQ(box.failures(), 0) << failures_text(box);
    double volume = 0;
    for (const SheetQuality& q : box.sheets) volume += q.displacement;
    EXPECT_NEAR(volume, 2.0 * 1.0 * 0.5, 1e-6);
    EXPECT_FALSE(box.waterline.checked);   // no free surface

    // A submerged sphere of six joined faces: the top face alone counts negative in -nz z A,
    // the body counts its volume, short of 4/3 pi by the chords of 8 panels an edge (< 3 %).
    mt::CubedEllipsoidParams sphere;
    sphere.centre = {0.0, 0.0, -10.0};
    const PanelModel ball = read_sheets(mt::cubed_ellipsoid(sphere), 0);
    const MeshCheckReport closed = check_mesh(ball);
    EXPECT_EQ(closed.failures(), 0) << failures_text(closed);
    const std::vector<double> faces = sheet_displacements(ball);
    EXPECT_LT(*std::min_element(faces.begin(), faces.end()), 0.0);
    const double ball_volume = std::accumulate(faces.begin(), faces.end(), 0.0);
    EXPECT_NEAR(ball_volume, 4.0 / 3.0 * 3.14159265358979, 0.03 * 4.19);
}

TEST(mesh_checks, each_fault_fails_and_names_what_and_where)
{
    struct Case {
        const char* name;
        void (*spoil)(std::vector<mt::Sheet>&);
        std::string expected;   // in the failure text
    };
    const Case cases[] = {
        {"reversed hull sheet", [](std::vector<mt::Sheet>& s) { s[0] = reversed(s[0]); },
         "sheet 1 (kind 2) gives a negative displacement"},
        {"a face of a joined body reversed",
         [](std::vector<mt::Sheet>& s) {
             s = mt::cubed_ellipsoid({{0.0, 0.0, -10.0}, {1, 1, 1}, {4, 4, 4}, false, false});
             s[2] = reversed(s[2]);
         },
         "sheet 3 (kind 2) is turned against the sheets it joins (1 2 4 5 6)"},
        {"free surface raised by 0.01", [](std::vector<mt::Sheet>& s) { for (auto& p : s[1].nodes) p.z += 0.01; },
         "a gap of 0.01 "},
        {"hull sheet written twice", [](std::vector<mt::Sheet>& s) { s.insert(s.begin() + 1, s[0]); },
         "sheets 1 and 2 overlap: 96 panels of sheet"},
        {"a column of hull panels squashed flat below the waterline",
         [](std::vector<mt::Sheet>& s) {
             for (int b = 0; b < s[0].np2; ++b) s[0].node(5, b) = s[0].node(4, b);
         },
         "sheet 1 (kind 2): 5 degenerate panels"},
    };
    for (const Case& c : cases) {
        std::vector<mt::Sheet> sheets = wigley_with_free_surface();
        c.spoil(sheets);
        const MeshCheckReport report = check_mesh(read_sheets(sheets, 1));
        const std::string text = failures_text(report);
        EXPECT_EQ(report.failures(), 1) << c.name << ":\n" << text;
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.name << ":\n" << text;
    }
}

TEST(mesh_checks, reversal_turns_the_displacement_and_shapes_are_listed_worst_first)
{
    std::vector<mt::Sheet> sheets = wigley_with_free_surface();
    const double v = sheet_displacements(read_sheets(sheets, 1))[0];
    EXPECT_NEAR(sheet_displacements(read_sheets({reversed(sheets[0])}, 1))[0], -v, 1e-12);
    // The squashed column's zero-area panels head the smallest-area list, at their place (the
    // waterline node stays, so the column's top panel is a triangle).
    for (int b = 0; b < sheets[0].np2; ++b) sheets[0].node(5, b) = sheets[0].node(4, b);
    const MeshCheckReport report = check_mesh(read_sheets(sheets, 1));
    ASSERT_EQ(report.smallest_area.size(), 5u);
    for (const PanelShape& p : report.smallest_area) {
        EXPECT_EQ(p.sheet, 1);
        EXPECT_EQ(p.i, 5);   // padded index of the panel between nodes 4 and 5
        EXPECT_EQ(p.area, 0.0);
    }
    for (std::size_t k = 1; k < report.largest_aspect.size(); ++k)
        EXPECT_GE(report.largest_aspect[k - 1].aspect, report.largest_aspect[k].aspect);
    const std::vector<std::string> lines = mesh_report_lines(report);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("FAIL sheet 1 (kind 2): 5 degenerate", 0) == 0; }),
              lines.end());
}

TEST(mesh_checks, long_thin_panels_warn_without_failing)
{
    // A flat free-surface strip of 40 x 1 panels of 1 x 0.02: aspect ratio 50.
    const mt::Sheet strip = mt::make_sheet(40, 1, mt::kKindFreeSurface,
                                           [](int a, int b) { return mt::Vec3{0.02 * a, 1.0 * b, 0.0}; });
    const MeshCheckReport report = check_mesh(read_sheets({strip}, 0));
    EXPECT_EQ(report.failures(), 0);
    ASSERT_EQ(report.warnings(), 1);
    EXPECT_NE(report.findings[0].text.find("40 panels with an aspect ratio above 25, the largest 50"), std::string::npos)
        << report.findings[0].text;
}

}  // namespace
