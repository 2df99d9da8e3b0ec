// torva-mesh import and offsets, judged from outside: the built program reads hulls written
// here (or by hull-fixture through the Gmsh SDK), and its mesh files are read back with a
// reader of this file and measured against truths that do not come from the importer:
// the analytic Wigley surface, the OpenCASCADE volume of a CAD solid, a barge's L B T, and
// the area and volume of the FPSO's own panels.
//
// Sheet area and volume by support/tools_mesh_file.hpp; a panel mesh's volume is
// V = sum_facets z_c n_z A with normals out of it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.hpp"
#include "support/tools_mesh_file.hpp"

namespace {

using namespace torva::testing;

// The largest distance between corresponding nodes of two meshes of the same sheets.
double max_node_distance(const TMesh& a, const TMesh& b)
{
    if (a.sheets.size() != b.sheets.size()) return INFINITY;
    double d = 0.0;
    for (std::size_t k = 0; k < a.sheets.size(); ++k) {
        const TSheet &s = a.sheets[k], &t = b.sheets[k];
        if (s.np1 != t.np1 || s.np2 != t.np2 || s.kind != t.kind) return INFINITY;
        for (std::size_t i = 0; i < s.nodes.size(); ++i) d = std::max(d, norm(sub(s.nodes[i], t.nodes[i])));
    }
    return d;
}

// ---- a half Wigley hull as triangles, in the text formats ------------------------------------

constexpr double kL = 2.0, kB = 0.2, kT = 0.125;
double wigley_y(double x, double z) { return 0.5 * kB * (1 - 4 * x * x / (kL * kL)) * (1 - z * z / (kT * kT)); }

struct Facets {
    std::vector<P3> nodes;
    std::vector<std::array<int, 3>> tris;   // normals out of the body (+y on the port side)
};

Facets wigley_facets(int nx, int nz)
{
    Facets f;
    for (int j = 0; j <= nz; ++j)
        for (int i = 0; i <= nx; ++i) {
            const double x = -0.5 * kL * std::cos(std::numbers::pi * i / nx), z = -kT + kT * j / nz;
            f.nodes.push_back({x, wigley_y(x, z), z});
        }
    auto id = [&](int i, int j) { return i + j * (nx + 1); };
    for (int j = 0; j < nz; ++j)
        for (int i = 0; i < nx; ++i) {
            f.tris.push_back({id(i, j), id(i, j + 1), id(i + 1, j)});
            f.tris.push_back({id(i + 1, j), id(i, j + 1), id(i + 1, j + 1)});
        }
    return f;
}

// The half hull (ISY = 1), or with `starboard` > 0 the whole body: the mirror image in y = 0
// (corner order reversed to keep the normals outward) with its y scaled by `starboard`.
std::string gdf(const Facets& f, bool reversed = false, double starboard = 0.0)
{
    std::ostringstream o;
    o.precision(17);
    o << "test hull\n1.0 9.81\n0 " << (starboard > 0.0 ? 0 : 1) << "\n"
      << f.tris.size() * (starboard > 0.0 ? 2 : 1) << "\n";
    for (auto t : f.tris) {
        if (reversed) std::swap(t[1], t[2]);
        for (int k : {t[0], t[1], t[2], t[2]})   // a triangle: the last vertex repeated
            o << f.nodes[k][0] << ' ' << f.nodes[k][1] << ' ' << f.nodes[k][2] << '\n';
    }
    if (starboard > 0.0)
        for (const auto& t : f.tris)
            for (int k : {t[0], t[2], t[1], t[1]})
                o << f.nodes[k][0] << ' ' << -starboard * f.nodes[k][1] << ' ' << f.nodes[k][2] << '\n';
    return o.str();
}

std::string dat(const Facets& f)
{
    std::ostringstream o;
    o.precision(17);
    o << "2 1\n";
    for (std::size_t i = 0; i < f.nodes.size(); ++i)
        o << i + 1 << ' ' << f.nodes[i][0] << ' ' << f.nodes[i][1] << ' ' << f.nodes[i][2] << '\n';
    o << "0 0. 0. 0.\n";
    for (const auto& t : f.tris) o << t[0] + 1 << ' ' << t[1] + 1 << ' ' << t[2] + 1 << ' ' << t[2] + 1 << '\n';
    o << "0 0 0 0\n";
    return o.str();
}

std::string stl(const Facets& f)
{
    std::ostringstream o;
    o.precision(17);
    o << "solid hull\n";
    for (const auto& t : f.tris) {
        o << " facet normal 0 0 0\n  outer loop\n";
        for (int k : t) o << "   vertex " << f.nodes[k][0] << ' ' << f.nodes[k][1] << ' ' << f.nodes[k][2] << '\n';
        o << "  endloop\n endfacet\n";
    }
    o << "endsolid hull\n";
    return o.str();
}

std::string mesh_tool() { return built_program("torva-mesh"); }
std::string fixture() { return built_program("hull-fixture"); }

// ---- the tests -------------------------------------------------------------------------------

TEST(HullImport, EveryMeshFormatGivesTheSameSheets)
{
    TempDir dir("hull_formats");
    const Facets f = wigley_facets(60, 12);
    write_text(dir.file("w.gdf"), gdf(f));
    write_text(dir.file("w.dat"), dat(f));
    write_text(dir.file("w.stl"), stl(f));
    write_text(dir.file("whole.gdf"), gdf(f, false, 1.0));   // written whole, imported as its half
    for (const char* conv : {"w.stl wb.stl bin", "w.stl w22.msh msh2", "w.stl w41.msh"})
        ASSERT_EQ(run_in(dir, fixture(), std::string("convert ") + conv).exit_code, 0) << conv;
    const char* opts = " --nx 16 --nz 8 --out ";
    ASSERT_EQ(run_in(dir, mesh_tool(), std::string("import w.gdf") + opts + "ref.ssg").exit_code, 0);
    const TMesh ref = read_tool_mesh(dir.file("ref.ssg"));
    EXPECT_EQ(ref.symmetry, 1);
    // The facets' corners lie on the Wigley hull, so the sheets come close to its volume
    // 4/9 L B T / 2 (12 chords down a parabolic section lose about 1 %).
    EXPECT_NEAR(measure(ref).volume, 2.0 / 9.0 * kL * kB * kT, 0.02 * 2.0 / 9.0 * kL * kB * kT);
    for (const char* file : {"w.dat", "w.stl", "wb.stl", "w22.msh", "w41.msh", "whole.gdf"}) {
        const auto r = run_in(dir, mesh_tool(), std::string("import ") + file + opts + "out.ssg");
        ASSERT_EQ(r.exit_code, 0) << file << '\n' << r.output;
        // Binary STL holds 32-bit floats: the same sheets to that rounding.
        EXPECT_LT(max_node_distance(read_tool_mesh(dir.file("out.ssg")), ref), 1e-6 * kL) << file;
    }
}

TEST(HullImport, FpsoAgreesWithItsPanelsAtTwoResolutions)
{
    const std::string gdf_path = std::string(TORVA_SOURCE_DIR) + "/examples/fpso/fpso_low.gdf";
    // The GDF's own area and volume, from its quadrilaterals (two triangles each).
    std::ifstream in(gdf_path);
    std::string line;
    for (int i = 0; i < 3; ++i) std::getline(in, line);
    int npan = 0;
    in >> npan;
    double area = 0.0, volume = 0.0;
    for (int p = 0; p < npan; ++p) {
        P3 v[4];
        for (P3& q : v) in >> q[0] >> q[1] >> q[2];
        for (const auto& t : {std::array<int, 3>{0, 1, 2}, std::array<int, 3>{0, 2, 3}}) {
            const P3 n = cross(sub(v[t[1]], v[t[0]]), sub(v[t[2]], v[t[0]]));
            area += 0.5 * norm(n);
            volume += 0.5 * n[2] * (v[t[0]][2] + v[t[1]][2] + v[t[2]][2]) / 3.0;
        }
    }
    ASSERT_TRUE(in);
    TempDir dir("hull_fpso");
    for (const auto& [grid, tolerance] : {std::pair{"--nx 40 --nz 16", 0.01}, std::pair{"--nx 80 --nz 32", 0.005}}) {
        const auto run = run_in(dir, mesh_tool(), "import " + gdf_path + " " + grid + " --out f.ssg");
        ASSERT_EQ(run.exit_code, 0) << run.output;
        const TMesh s = read_tool_mesh(dir.file("f.ssg"));
        EXPECT_EQ(s.symmetry, 1);
        EXPECT_EQ(s.sheets.size(), 3u) << "side, flat bottom and transom";
        const auto [a, v] = measure(s);
        EXPECT_NEAR(a / area, 1.0, tolerance) << grid;
        EXPECT_NEAR(v / volume, 1.0, tolerance) << grid;
    }
}

TEST(HullImport, CadWigleyNodesLieOnTheExactSurface)
{
    TempDir dir("hull_cad");
    for (const char* kind : {"step", "iges"}) {
        const std::string file = std::string("w.") + kind;
        ASSERT_EQ(run_in(dir, fixture(), std::string("wigley-") + kind + " " + file + " 2 0.2 0.125").exit_code, 0);
        const auto r = run_in(dir, mesh_tool(), "import " + file + " --nx 16 --nz 8 --out w.ssg");
        ASSERT_EQ(r.exit_code, 0) << r.output;
        const TMesh s = read_tool_mesh(dir.file("w.ssg"));
        double worst = 0.0;
        for (const P3& p : s.sheets[0].nodes) worst = std::max(worst, std::abs(p[1] - wigley_y(p[0], p[2])));
        EXPECT_LT(worst, 1e-4 * kL) << kind;
        EXPECT_NEAR(s.sheets[0].nodes.back()[0], 0.5 * kL, 1e-4 * kL) << kind << ": lengths in metres";
    }
}

TEST(HullImport, BulbSkegAndTransomKeepTheCadVolume)
{
    TempDir dir("hull_bulb");
    const auto made = run_in(dir, fixture(), "bulb-hull b.step b.stl 100");
    ASSERT_EQ(made.exit_code, 0) << made.output;
    const auto at = made.output.find("volume ");
    ASSERT_NE(at, std::string::npos);
    const double cad_volume = std::stod(made.output.substr(at + 7));
    for (const char* file : {"b.step", "b.stl"}) {
        const auto r = run_in(dir, mesh_tool(), std::string("import ") + file + " --nx 60 --nz 24 --out b.ssg");
        ASSERT_EQ(r.exit_code, 0) << file << '\n' << r.output;
        const TMesh s = read_tool_mesh(dir.file("b.ssg"));
        EXPECT_EQ(s.sheets.size(), 6u) << file << ": side, skeg bottom, fore body, transom, upper bow and bulb";
        // The STL's facets (2 % of the length) sit inside the curved surface and lose about
        // 1.2 % of the volume themselves; the STEP sections lie on the exact surface.
        EXPECT_NEAR(measure(s).volume / cad_volume, 1.0, std::string(file) == "b.step" ? 0.005 : 0.02) << file;
    }
}

TEST(HullImport, OffsetsOfABargeGiveItsVolumeAndAFreeSurface)
{
    TempDir dir("hull_offsets");
    write_text(dir.file("barge.csv"), "x\\z, -2, -1, 0, 1\n-5, 1.5, 1.5, 1.5, 1.5\n5, 1.5, 1.5, 1.5, 1.5\n");
    auto r = run_in(dir, mesh_tool(), "offsets barge.csv --nx 10 --nz 8 --fs-radius 12 --out b.ssg --fs-out fs.ssg");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    // The written files were read back and checked: the hull meets its free surface exactly.
    EXPECT_NE(r.output.find("largest gap 0 "), std::string::npos) << r.output;
    const TMesh s = read_tool_mesh(dir.file("b.ssg"));
    EXPECT_EQ(s.sheets.size(), 4u) << "side, flat bottom and two ends";
    const auto [a, v] = measure(s);
    EXPECT_NEAR(v, 10 * 1.5 * 2, 1e-9);              // half of L B T
    EXPECT_NEAR(a, 10 * 1.5 + 10 * 2 + 2 * 3.0, 1e-9);   // bottom, side, two ends
    // The free surface's inner edge is the hull's waterline, node for node.
    const TMesh fs = read_tool_mesh(dir.file("fs.ssg"));
    ASSERT_EQ(fs.sheets.size(), 1u);
    for (int i = 0; i <= fs.sheets[0].np1; ++i) {
        const P3 p = fs.sheets[0].nodes[static_cast<std::size_t>(i)];
        bool on_hull = false;
        for (const auto& sheet : s.sheets)
            for (const P3& q : sheet.nodes) on_hull = on_hull || (q == p);
        EXPECT_TRUE(on_hull) << "free-surface node " << i;
    }
    r = run_in(dir, mesh_tool(), "offsets barge.csv --nx 200 --nz 100 --out big.ssg");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.output.find("WARNING: 25000 panels"), std::string::npos) << r.output;
}

TEST(HullImport, BrokenInputsEndInAClearMessage)
{
    const Facets f = wigley_facets(30, 8);
    Facets holed = f;
    holed.tris.erase(holed.tris.begin() + 100, holed.tris.begin() + 104);
    // Two closed boxes side by side: columns of a semi-submersible.
    auto box = [](double x0) {
        std::ostringstream o;
        const double c[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
        const int q[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
        for (const auto& face : q)
            for (int k : face) o << x0 + c[k][0] << ' ' << c[k][1] - 0.5 << ' ' << c[k][2] - 0.5 << '\n';
        return o.str();
    };
    std::string nan_gdf = gdf(f);
    nan_gdf.replace(nan_gdf.find('\n', nan_gdf.find("\n0 1\n") + 5) + 1, 1, "nan ");
    const struct {
        const char* name;
        std::string text;
        const char* options;
        const char* message;
    } rows[] = {
        {"reversed", gdf(f, true), "", "the hull is reversed"},
        {"holes", gdf(holed), "", "the surface has holes"},
        {"nan", nan_gdf, "", "not a finite number"},
        {"unsymmetric", gdf(f, false, 1.5), "", "not symmetric about y = 0"},
        {"columns", "two columns\n1 9.81\n0 0\n12\n" + box(0) + box(3), "", "separate bodies"},
        {"truncated", "hull\n1 9.81\n0 1\n5\n0 0 0 1 0 0\n", "", "the file ends in panel 1 of 5"},
        {"free surface inside the hull", gdf(f), " --fs-radius 0.5", "--fs-radius must exceed"},
    };
    TempDir dir("hull_broken");
    for (const auto& row : rows) {
        write_text(dir.file("bad.gdf"), row.text);
        const auto r = run_in(dir, mesh_tool(), std::string("import bad.gdf --nx 8 --nz 6") + row.options);
        EXPECT_NE(r.exit_code, 0) << row.name;
        EXPECT_NE(r.output.find(row.message), std::string::npos) << row.name << ": " << r.output;
        EXPECT_EQ(r.output.find("internal error"), std::string::npos) << row.name;
    }
}

}  // namespace
