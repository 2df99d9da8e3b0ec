// torva-mesh, as a smoke test judged from outside: the built program writes meshes, a small
// reader written here (not the generator's code) parses them, and the geometry is checked
// against the analytic bodies; the shipped examples (whose Wigley deck carries the free
// surface) must be what the tool writes today.
//
// Volumes by (1) of support/tools_mesh_file.hpp, exact for the bilinear panels the file describes.
//
// Tolerance of a volume against the analytic body: the bilinear panels deviate from the true
// surface by at most the sag e_p of panel p, so |V_mesh - V| <= sum_p A_p e_p.  e_p is taken
// as the largest distance from the surface over a 5 x 5 sample of the panel (for these smooth
// surfaces the error is a bubble peaking at the panel middle, which the sample contains), and
// a factor 1.5 covers the sampling.  Each test also requires that bound to be a small fraction
// of V, so a mesh bent far off the body cannot pass on a loose bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "support/run_program.hpp"
#include "support/tools_mesh_file.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torva::testing;

// sum_p A_p e_p with the sampled sag e_p; `distance` measures a point's distance to the body.
double sag_bound(const TMesh& m, const std::function<double(P3)>& distance)
{
    double bound = 0.0;
    for_each_body_panel(m, [&](const Patch& p) {
        double e = 0.0;
        for (int i = 0; i <= 4; ++i)
            for (int j = 0; j <= 4; ++j) e = std::max(e, distance(p.at(0.25 * i, 0.25 * j)));
        bound += 1.5 * e * norm(p.normal(0.5, 0.5));
    });
    return bound;
}

double max_abs_coordinate(const TMesh& m)
{
    double r = 0.0;
    for (const TSheet& s : m.sheets)
        for (const P3& p : s.nodes) r = std::max({r, std::abs(p[0]), std::abs(p[1]), std::abs(p[2])});
    return r;
}

// ---- running the tool -----------------------------------------------------------------------

const std::string kTool = built_program("torva-mesh");

class torva_mesh : public ::testing::Test {
protected:
    // Runs torva-mesh with `args` in the temp dir; returns the exit status.
    int tool(const std::string& args)
    {
        last = run_in(dir, kTool, args);
        return last.exit_code;
    }
    TempDir dir{"torva_mesh"};
    FortranRun last;
};

// ---- sheets meeting sheets -------------------------------------------------------------------
//
// Walk each sheet's rim with the sheet on the left (seen from the side its normal points to):
// (a, 0) -> (a+1, 0), (NP1, b) -> (NP1, b+1), (a+1, NP2) -> (a, NP2), (0, b+1) -> (0, b).  Two
// sheets are joined node to node and oriented alike exactly when each shared rim edge occurs
// once in each direction; a rim edge met twice in the same direction means one of the two
// sheets has its normal the wrong way.  Edges nobody shares must lie on the open boundary.
void expect_sheets_join(const TMesh& m, const std::function<bool(P3)>& on_open_boundary)
{
    std::map<std::array<double, 6>, int> edges;
    auto add = [&](P3 p, P3 q) { ++edges[{p[0], p[1], p[2], q[0], q[1], q[2]}]; };
    for (const TSheet& s : m.sheets) {
        for (int a = 0; a < s.np1; ++a) add(s.node(a, 0), s.node(a + 1, 0));
        for (int b = 0; b < s.np2; ++b) add(s.node(s.np1, b), s.node(s.np1, b + 1));
        for (int a = s.np1; a > 0; --a) add(s.node(a, s.np2), s.node(a - 1, s.np2));
        for (int b = s.np2; b > 0; --b) add(s.node(0, b), s.node(0, b - 1));
    }
    int shared = 0, open = 0;
    for (const auto& [e, count] : edges) {
        const P3 p{e[0], e[1], e[2]}, q{e[3], e[4], e[5]};
        EXPECT_EQ(count, 1) << "rim edge walked twice the same way: a sheet is turned over";
        if (edges.count({e[3], e[4], e[5], e[0], e[1], e[2]})) {
            ++shared;
        } else {
            ++open;
            EXPECT_TRUE(on_open_boundary(p) && on_open_boundary(q))
                << "unshared rim edge at " << p[0] << " " << p[1] << " " << p[2];
        }
    }
    EXPECT_GT(shared + open, 0);
}

TEST_F(torva_mesh, rejects_bad_options_and_explains_every_option)
{
    for (const char* bad : {"wigley --radius 1", "sphere --n 5 --symmetry 1", "sphere --radius 2 --depth 1",
                            "wigley --fs-radius 0.5", "wigley --nx two", "wigley --fs-nr 4", "torus",
                            "wigley --layout old --title 'Version 2.0 hull'"})
        EXPECT_NE(tool(bad), 0) << bad;
    EXPECT_FALSE(fs::exists(dir.file("wigley.ssg")));
    ASSERT_EQ(tool("--help"), 0);
    for (const char* opt : {"--length", "--beam", "--draft", "--nx", "--ny", "--nz", "--n", "--radius",
                            "--depth", "--diameter", "--x-spacing", "--fs-radius", "--fs-nr", "--fs-ratio",
                            "--symmetry", "--layout", "--title", "--out", "--fs-out", "--flag-rule"})
        EXPECT_NE(last.output.find(opt), std::string::npos) << "help does not explain " << opt;
}

// Every body shape against its analytic surface: the nodes on it (ten significant digits:
// within 2e-9 of the largest coordinate), the volume (1) within the sag bound of the exact one
// (and the bound a small part of it), and the sheets joined node to node with one orientation,
// open only where the body is cut.  A sheet turned over is caught by the joins; all of them
// turned, by the volume's sign.
TEST_F(torva_mesh, bodies_lie_on_their_surfaces_and_enclose_their_volumes)
{
    const double pi = std::numbers::pi;
    const auto sphere_at = [](double r, double depth) {
        return [=](P3 p) { return std::abs(norm(sub(p, P3{0, 0, -depth})) - r); };
    };
    // Wigley hull L = 2, B = 0.3, T = 0.2: |y| = B/2 (1 - 4x^2/L^2)(1 - z^2/T^2), a graph over
    // (x, z), so |y - y_w| bounds the distance; V = 4/9 LBT.
    const auto wigley_y = [](P3 p) { return 0.15 * (1 - p[0] * p[0]) * (1 - p[2] * p[2] / 0.04); };
    // Spheroid a = 2, r = 0.4 at depth 3: F = x^2/a^2 + (y^2 + (z + 3)^2)/r^2, distance (F - 1)/|grad F|.
    const auto spheroid = [](P3 p) {
        const double f = p[0] * p[0] / 4 + (p[1] * p[1] + (p[2] + 3) * (p[2] + 3)) / 0.16;
        return std::abs(f - 1) / norm(P3{p[0] / 2, 2 * p[1] / 0.16, 2 * (p[2] + 3) / 0.16});
    };
    // Box L = 3, B = 1.2, T = 0.4, half: distance to the nearest face plane.
    const auto box = [](P3 p) {
        return std::min({std::abs(p[2] + 0.4), std::abs(std::abs(p[1]) - 0.6), std::abs(std::abs(p[0]) - 1.5)});
    };
    struct Shape {
        const char* args;
        std::size_t sheets;
        std::function<double(P3)> distance;
        double volume;
        std::function<bool(P3)> open;   // where the rim may stay unshared
    };
    const auto nowhere = [](P3) { return false; };
    const Shape shapes[] = {
        {"sphere --radius 1.5 --depth 6 --n 10", 6, sphere_at(1.5, 6), 4.0 / 3.0 * pi * 3.375, nowhere},
        {"sphere --n 8 --symmetry 1", 5, sphere_at(1.0, 10), 2.0 / 3.0 * pi, [](P3 p) { return p[1] == 0.0; }},
        {"spheroid --length 4 --diameter 0.8 --depth 3 --nx 16 --n 8", 6, spheroid, 4.0 / 3.0 * pi * 2 * 0.16, nowhere},
        {"wigley --length 2 --beam 0.3 --draft 0.2 --nx 24 --nz 8", 2,
         [&](P3 p) { return std::abs(std::abs(p[1]) - wigley_y(p)); }, 4.0 / 9.0 * 2 * 0.3 * 0.2,
         [](P3 p) { return p[2] == 0.0; }},
        {"box --length 3 --beam 1.2 --draft 0.4 --nx 6 --ny 4 --nz 2 --symmetry 1", 4, box, 0.5 * 3 * 1.2 * 0.4,
         [](P3 p) { return p[2] == 0.0 || p[1] == 0.0; }},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.args);
        ASSERT_EQ(tool(std::string(shape.args) + " --out m.ssg"), 0) << last.output;
        const TMesh m = read_tool_mesh(dir.file("m.ssg"));
        const bool half = std::string(shape.args).find("--symmetry 1") != std::string::npos;
        EXPECT_EQ(m.symmetry, half ? 1 : 0);
        EXPECT_EQ(m.code, half ? "Y" : "N");
        ASSERT_EQ(m.sheets.size(), shape.sheets);
        const double tol = 2e-9 * max_abs_coordinate(m);
        for (const TSheet& s : m.sheets) {
            EXPECT_EQ(s.kind, 2);
            EXPECT_EQ(s.flag, 1);
            for (const P3& p : s.nodes) EXPECT_LT(shape.distance(p), tol) << p[0] << " " << p[1] << " " << p[2];
        }
        const double bound = sag_bound(m, shape.distance);
        EXPECT_LT(bound, 0.05 * shape.volume);
        EXPECT_NEAR(measure(m).volume, shape.volume, bound + 1e-8 * shape.volume);
        expect_sheets_join(m, shape.open);
    }
}

// Each shipped example opens with a comment, and make_mesh.sh regenerates its mesh files byte
// for byte with the built tool.
TEST_F(torva_mesh, shipped_examples_are_what_their_generator_writes)
{
    for (const char* example : {"wigley", "sphere"}) {
        SCOPED_TRACE(example);
        const fs::path home = fs::path(TORVA_SOURCE_DIR) / "examples" / example;
        EXPECT_EQ(read_text((home / (std::string(example) + ".inp")).string()).rfind("!", 0), 0u);
        const fs::path regen = dir.path() / example;
        fs::create_directory(regen);
        const auto made = run_command("sh " + shell_quote((home / "make_mesh.sh").string()) + " " +
                                      shell_quote(kTool) + " " + shell_quote(regen.string()));
        ASSERT_EQ(made.exit_code, 0) << made.output;
        int compared = 0;
        for (const auto& e : fs::directory_iterator(regen)) {
            EXPECT_TRUE(read_text(e.path()) == read_text(home / e.path().filename()))
                << e.path().filename() << " differs from what make_mesh.sh writes";
            ++compared;
        }
        EXPECT_EQ(compared, std::string(example) == "wigley" ? 2 : 1);
    }
}

}  // namespace
