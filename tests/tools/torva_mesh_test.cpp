// torva-mesh, judged from outside: the built program writes meshes, a small reader written
// here (not the generator's code) parses them, and the geometry is checked against the
// analytic bodies.
//
// Volumes use the divergence theorem over the bilinear panels the file describes,
//     V = - sum_panels  int int z (X_u x X_v)_z du dv,   X(u, v) bilinear in the 4 nodes,  (1)
// with the normal X_u x X_v oriented as the setup orients it (first grid direction x second).
// z is bilinear and (X_u x X_v)_z is bilinear too (X_u depends on v only, X_v on u only), so
// the integrand is biquadratic and the 2 x 2 Gauss rule integrates it exactly.
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
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace {

namespace fs = std::filesystem;
using torva::testing::TempDir;
using torva::testing::read_text;
using torva::testing::run_command;
using torva::testing::shell_quote;

using P3 = std::array<double, 3>;
P3 sub(P3 a, P3 b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
P3 cross(P3 a, P3 b) { return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}; }
double dot(P3 a, P3 b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm(P3 a) { return std::sqrt(dot(a, a)); }

// ---- an independent reader of the mesh file -------------------------------------------------

struct TSheet {
    int np1 = 0, np2 = 0, kind = 0, flag = 0;
    std::vector<P3> nodes;
    P3 node(int a, int b) const { return nodes[a + b * (np1 + 1)]; }
};

struct TMesh {
    bool version2 = false;
    std::string title;
    int symmetry = -1;
    std::string code;
    double reals[6] = {1, 1, 1, 1, 1, 1};
    std::string logical;
    std::vector<TSheet> sheets;
};

TMesh read_mesh(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    TMesh m;
    std::string first;
    std::getline(in, first);
    m.version2 = first.size() >= 11 && first.substr(0, 7) == "Version" && first.substr(8, 3) == "2.0";
    int count = 0;
    if (m.version2) {
        std::getline(in, m.title);
        in >> m.symmetry >> m.code >> count;
        for (double& r : m.reals) in >> r;
        in >> m.logical;
    } else {
        m.title = first;
        in >> m.symmetry >> m.code >> count >> m.reals[2] >> m.reals[4] >> m.reals[0];
        m.reals[1] = m.reals[3] = m.reals[5] = 0.0;
    }
    for (int s = 0; s < count; ++s) {
        TSheet sh;
        in >> sh.np1 >> sh.np2 >> sh.kind >> sh.flag;
        sh.nodes.resize(static_cast<std::size_t>((sh.np1 + 1) * (sh.np2 + 1)));
        for (P3& p : sh.nodes) in >> p[0] >> p[1] >> p[2];
        if (!in) throw std::runtime_error("mesh file ends early: " + path);
        m.sheets.push_back(std::move(sh));
    }
    std::string rest;
    if (in >> rest) throw std::runtime_error("unexpected text after the last sheet: " + rest);
    return m;
}

// ---- panel geometry from the bilinear patch -------------------------------------------------

struct Patch {
    P3 x00, x10, x01, x11;   // X(0,0) = node (a, b), X(1,0) = (a+1, b), ...
    P3 at(double u, double v) const
    {
        P3 r;
        for (int i = 0; i < 3; ++i)
            r[i] = (1 - u) * (1 - v) * x00[i] + u * (1 - v) * x10[i] + (1 - u) * v * x01[i] + u * v * x11[i];
        return r;
    }
    P3 normal(double u, double v) const   // X_u x X_v
    {
        P3 xu, xv;
        for (int i = 0; i < 3; ++i) {
            xu[i] = (1 - v) * (x10[i] - x00[i]) + v * (x11[i] - x01[i]);
            xv[i] = (1 - u) * (x01[i] - x00[i]) + u * (x11[i] - x10[i]);
        }
        return cross(xu, xv);
    }
};

Patch patch(const TSheet& s, int a, int b)
{
    return {s.node(a, b), s.node(a + 1, b), s.node(a, b + 1), s.node(a + 1, b + 1)};
}

template <class F>
void for_each_panel(const TMesh& m, F f, int kind = 2)
{
    for (const TSheet& s : m.sheets)
        if (s.kind == kind)
            for (int b = 0; b < s.np2; ++b)
                for (int a = 0; a < s.np1; ++a) f(patch(s, a, b));
}

// 2-point Gauss nodes on [0, 1], weights 1/2.
constexpr double kG0 = 0.5 - 0.5 / 1.7320508075688772, kG1 = 0.5 + 0.5 / 1.7320508075688772;

double gauss2(const std::function<double(double, double)>& f)
{
    return 0.25 * (f(kG0, kG0) + f(kG1, kG0) + f(kG0, kG1) + f(kG1, kG1));
}

// (1): exact for bilinear panels.
double volume(const TMesh& m)
{
    double v = 0.0;
    for_each_panel(m, [&](const Patch& p) {
        v -= gauss2([&](double u, double w) { return p.at(u, w)[2] * p.normal(u, w)[2]; });
    });
    return v;
}

// sum_p A_p e_p with the sampled sag e_p; `distance` measures a point's distance to the body.
double sag_bound(const TMesh& m, const std::function<double(P3)>& distance)
{
    double bound = 0.0;
    for_each_panel(m, [&](const Patch& p) {
        double e = 0.0;
        for (int i = 0; i <= 4; ++i)
            for (int j = 0; j <= 4; ++j) e = std::max(e, distance(p.at(0.25 * i, 0.25 * j)));
        bound += 1.5 * e * norm(p.normal(0.5, 0.5));
    });
    return bound;
}

// Every panel's normal at its middle (the setup's t1 x t2) within 45 degrees of `inward`.
void expect_normals_into_body(const TMesh& m, const std::function<P3(P3)>& inward)
{
    int wrong = 0, panels = 0;
    for_each_panel(m, [&](const Patch& p) {
        const P3 n = p.normal(0.5, 0.5), c = p.at(0.5, 0.5), w = inward(c);
        ++panels;
        if (!(dot(n, w) > std::cos(std::numbers::pi / 4) * norm(n) * norm(w))) ++wrong;
    });
    EXPECT_GT(panels, 0);
    EXPECT_EQ(wrong, 0) << "panels whose normal does not point into the body";
}

double max_abs_coordinate(const TMesh& m)
{
    double r = 0.0;
    for (const TSheet& s : m.sheets)
        for (const P3& p : s.nodes) r = std::max({r, std::abs(p[0]), std::abs(p[1]), std::abs(p[2])});
    return r;
}

// ---- running the tool -----------------------------------------------------------------------

const std::string kTool = std::string(TORVA_BINARY_DIR) + "/torva-mesh";

class torva_mesh : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kTool)) GTEST_SKIP() << "torva-mesh has not been built (" << kTool << ")";
    }
    // Runs torva-mesh with `args`, output files in the temp dir; returns the exit status.
    int tool(const std::string& args)
    {
        last = run_command("cd " + shell_quote(dir.path().string()) + " && " + shell_quote(kTool) + " " + args);
        return last.exit_code;
    }
    TMesh make(const std::string& args, const std::string& out = "m.ssg")
    {
        EXPECT_EQ(tool(args + " --out " + out), 0) << last.output;
        return read_mesh(dir.file(out));
    }
    TempDir dir{"torva_mesh"};
    torva::testing::FortranRun last;
};

TEST_F(torva_mesh, rejects_bad_options_with_a_message_and_nonzero_status)
{
    EXPECT_NE(tool("wigley --radius 1"), 0);
    EXPECT_NE(last.output.find("--radius"), std::string::npos) << last.output;
    EXPECT_NE(tool("sphere --n 5 --symmetry 1"), 0);   // the cut y = 0 needs an even count
    EXPECT_NE(tool("sphere --radius 2 --depth 1"), 0);   // not submerged
    EXPECT_NE(tool("wigley --fs-radius 0.5"), 0);         // inside the waterline
    EXPECT_NE(tool("wigley --nx two"), 0);
    EXPECT_NE(tool("wigley --fs-nr 4"), 0);               // a free surface without its radius
    EXPECT_NE(tool("torus"), 0);
    EXPECT_NE(tool("wigley --layout old --title 'Version 2.0 hull'"), 0);
    EXPECT_FALSE(fs::exists(dir.file("wigley.ssg")));
    ASSERT_EQ(tool("--help"), 0);
    for (const char* opt : {"--length", "--beam", "--draft", "--nx", "--ny", "--nz", "--n", "--radius",
                            "--depth", "--diameter", "--x-spacing", "--fs-radius", "--fs-nr", "--fs-ratio",
                            "--symmetry", "--layout", "--title", "--out", "--fs-out", "--flag-rule"})
        EXPECT_NE(last.output.find(opt), std::string::npos) << "help does not explain " << opt;
}

TEST_F(torva_mesh, sphere_has_six_faces_on_the_sphere_enclosing_its_volume)
{
    const double r = 1.5, depth = 6.0;
    const int n = 10;
    const TMesh m = make("sphere --radius 1.5 --depth 6 --n 10");
    ASSERT_EQ(m.sheets.size(), 6u);
    const P3 centre{0, 0, -depth};
    // Ten significant digits: each coordinate within 5e-10 relative, so |p - centre| within
    // sqrt(3) * 5e-10 * max|p|; allow 2e-9 * max|p|.
    const double tol = 2e-9 * max_abs_coordinate(m);
    for (const TSheet& s : m.sheets) {
        EXPECT_EQ(s.np1, n);
        EXPECT_EQ(s.np2, n);
        EXPECT_EQ(s.kind, 2);
        EXPECT_EQ(s.flag, 1);
        ASSERT_EQ(s.nodes.size(), static_cast<std::size_t>((n + 1) * (n + 1)));
        for (const P3& p : s.nodes) EXPECT_NEAR(norm(sub(p, centre)), r, tol);
    }
    expect_normals_into_body(m, [&](P3 c) { return sub(centre, c); });
    const double exact = 4.0 / 3.0 * std::numbers::pi * r * r * r;
    const double bound = sag_bound(m, [&](P3 p) { return std::abs(norm(sub(p, centre)) - r); });
    EXPECT_LT(bound, 0.05 * exact);
    EXPECT_NEAR(volume(m), exact, bound);
    // An inscribed surface: the bilinear panels lie inside the sphere, so the volume falls short.
    EXPECT_LT(volume(m), exact);
}

TEST_F(torva_mesh, half_sphere_is_cut_by_y0_and_doubles_to_the_whole)
{
    const TMesh whole = make("sphere --n 8", "whole.ssg");
    const TMesh half = make("sphere --n 8 --symmetry 1", "half.ssg");
    EXPECT_EQ(whole.symmetry, 0);
    EXPECT_EQ(half.symmetry, 1);
    ASSERT_EQ(half.sheets.size(), 5u);
    int whole_faces = 0, cut_faces = 0, nodes_on_cut = 0;
    for (const TSheet& s : half.sheets) {
        (s.np1 * s.np2 == 64 ? whole_faces : cut_faces) += 1;
        for (const P3& p : s.nodes) {
            EXPECT_GE(p[1], 0.0);
            nodes_on_cut += (p[1] == 0.0);
        }
    }
    EXPECT_EQ(whole_faces, 1);   // the +y face
    EXPECT_EQ(cut_faces, 4);     // +-x and +-z, halved
    EXPECT_EQ(nodes_on_cut, 4 * 9);
    // The same panels mirrored: equal up to the rounding of the file's ten digits.
    EXPECT_NEAR(2.0 * volume(half), volume(whole), 1e-8 * volume(whole));
}

TEST_F(torva_mesh, wigley_nodes_satisfy_the_hull_equation_and_enclose_4_9_LBT)
{
    const double l = 2.0, b = 0.3, t = 0.2;
    auto wigley_y = [&](double x, double z) {
        return 0.5 * b * (1 - 4 * x * x / (l * l)) * (1 - z * z / (t * t));
    };
    for (const char* spacing : {"cosine", "uniform"}) {
        SCOPED_TRACE(spacing);
        const TMesh m = make(std::string("wigley --length 2 --beam 0.3 --draft 0.2 --nx 24 --nz 8 --x-spacing ") + spacing);
        ASSERT_EQ(m.sheets.size(), 2u);
        const double tol = 2e-9 * max_abs_coordinate(m);
        for (const TSheet& s : m.sheets) {
            EXPECT_EQ(s.np1, 24);
            EXPECT_EQ(s.np2, 8);
            EXPECT_EQ(s.flag, 1);
            for (const P3& p : s.nodes) {
                EXPECT_NEAR(std::abs(p[1]), wigley_y(p[0], p[2]), tol);
                EXPECT_LE(std::abs(p[0]), 0.5 * l);
                EXPECT_TRUE(p[2] <= 0.0 && p[2] >= -t);
            }
        }
        // Into the body: minus the gradient of |y| - y_w(x, z).
        expect_normals_into_body(m, [&](P3 c) {
            const double sy = c[1] >= 0 ? 1.0 : -1.0;
            const double yx = -4 * b * c[0] / (l * l) * (1 - c[2] * c[2] / (t * t));
            const double yz = -b * c[2] / (t * t) * (1 - 4 * c[0] * c[0] / (l * l));
            return P3{yx, -sy, yz};
        });
        const double exact = 4.0 / 9.0 * l * b * t;
        // |y - y_w(x, z)| bounds the distance to the hull, which is a graph over (x, z).
        const double bound = sag_bound(m, [&](P3 p) { return std::abs(std::abs(p[1]) - wigley_y(p[0], p[2])); });
        EXPECT_LT(bound, 0.05 * exact);
        EXPECT_NEAR(volume(m), exact, bound);
    }
}

TEST_F(torva_mesh, wigley_half_plus_mirror_is_the_whole_and_lies_in_y_ge_0)
{
    const TMesh whole = make("wigley --nx 20 --nz 6", "whole.ssg");
    const TMesh half = make("wigley --nx 20 --nz 6 --symmetry 1", "half.ssg");
    ASSERT_EQ(half.sheets.size(), 1u);
    EXPECT_EQ(half.symmetry, 1);
    EXPECT_EQ(half.code, "Y");
    EXPECT_EQ(whole.code, "N");
    for (const P3& p : half.sheets[0].nodes) EXPECT_GE(p[1], 0.0);
    // Keel (b = 0) and both stems (a = 0, a = NP1) lie exactly in the plane of symmetry.
    const TSheet& s = half.sheets[0];
    for (int a = 0; a <= s.np1; ++a) EXPECT_EQ(s.node(a, 0)[1], 0.0);
    for (int b = 0; b <= s.np2; ++b) EXPECT_EQ(s.node(0, b)[1] + s.node(s.np1, b)[1], 0.0);
    EXPECT_NEAR(2.0 * volume(half), volume(whole), 1e-8 * volume(whole));
}

TEST_F(torva_mesh, box_faces_are_flat_and_enclose_LBT)
{
    const double l = 3.0, b = 1.2, t = 0.4;
    for (const char* sym : {"0", "1"}) {
        SCOPED_TRACE(sym);
        const TMesh m = make(std::string("box --length 3 --beam 1.2 --draft 0.4 --nx 6 --ny 4 --nz 2 --symmetry ") + sym);
        const bool half = sym[0] == '1';
        ASSERT_EQ(m.sheets.size(), half ? 4u : 5u);
        const double tol = 2e-9 * max_abs_coordinate(m);
        // Every node on one of the five faces, every panel flat on one face with its normal
        // the inward face normal.
        auto face_of = [&](P3 p) {
            if (std::abs(p[2] + t) < tol) return 0;
            if (std::abs(std::abs(p[1]) - 0.5 * b) < tol) return p[1] > 0 ? 1 : 2;
            if (std::abs(std::abs(p[0]) - 0.5 * l) < tol) return p[0] > 0 ? 3 : 4;
            return -1;
        };
        const P3 inward[5] = {{0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
        for (const TSheet& s : m.sheets)
            for (const P3& p : s.nodes) {
                EXPECT_NE(face_of(p), -1) << p[0] << " " << p[1] << " " << p[2];
                EXPECT_TRUE(p[2] <= 0.0 && (!half || p[1] >= 0.0));
            }
        for_each_panel(m, [&](const Patch& p) {
            const int f = face_of(p.at(0.5, 0.5));
            ASSERT_NE(f, -1);
            const P3 n = p.normal(0.5, 0.5);
            EXPECT_NEAR(dot(n, inward[f]), norm(n), 1e-9 * norm(n));
        });
        // Flat faces: no sag, only the file's rounding (3 coordinates, 5e-10 each, relative).
        EXPECT_NEAR(volume(m), (half ? 0.5 : 1.0) * l * b * t, 1e-8 * l * b * t);
    }
}

TEST_F(torva_mesh, spheroid_nodes_on_the_ellipsoid_and_volume)
{
    const double a = 2.0, r = 0.4, depth = 3.0;
    const TMesh m = make("spheroid --length 4 --diameter 0.8 --depth 3 --nx 16 --n 8");
    ASSERT_EQ(m.sheets.size(), 6u);
    auto f = [&](P3 p) { return p[0] * p[0] / (a * a) + (p[1] * p[1] + (p[2] + depth) * (p[2] + depth)) / (r * r); };
    // Distance to the surface to first order: (F - 1) / |grad F|.
    auto distance = [&](P3 p) {
        const P3 g{2 * p[0] / (a * a), 2 * p[1] / (r * r), 2 * (p[2] + depth) / (r * r)};
        return std::abs(f(p) - 1.0) / norm(g);
    };
    for (const TSheet& s : m.sheets)
        for (const P3& p : s.nodes) EXPECT_LT(distance(p), 2e-9 * max_abs_coordinate(m));
    expect_normals_into_body(m, [&](P3 c) { return P3{-c[0] / (a * a), -c[1] / (r * r), -(c[2] + depth) / (r * r)}; });
    const double exact = 4.0 / 3.0 * std::numbers::pi * a * r * r;
    const double bound = sag_bound(m, distance);
    EXPECT_LT(bound, 0.05 * exact);
    EXPECT_NEAR(volume(m), exact, bound);
}

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

TEST_F(torva_mesh, sheets_join_node_to_node_with_one_orientation)
{
    auto nowhere = [](P3) { return false; };
    auto in_y0 = [](P3 p) { return p[1] == 0.0; };
    auto on_circle = [](double r) { return [r](P3 p) { return std::abs(std::hypot(p[0], p[1]) - r) < 1e-8 * r; }; };
    {
        SCOPED_TRACE("sphere: closed");
        expect_sheets_join(make("sphere --n 4"), nowhere);
    }
    {
        SCOPED_TRACE("half spheroid: open on y = 0");
        expect_sheets_join(make("spheroid --nx 8 --n 4 --symmetry 1"), in_y0);
    }
    {
        SCOPED_TRACE("wigley without free surface: open at the waterline");
        expect_sheets_join(make("wigley --nx 8 --nz 3"), [](P3 p) { return p[2] == 0.0; });
    }
    {
        SCOPED_TRACE("half wigley with free surface");
        const auto circle = on_circle(2.0);
        expect_sheets_join(make("wigley --nx 8 --nz 3 --symmetry 1 --fs-radius 2 --fs-nr 3"),
                           [&](P3 p) { return in_y0(p) || circle(p); });
    }
    {
        SCOPED_TRACE("box with free surface: open on the outer circle only");
        expect_sheets_join(make("box --nx 4 --ny 2 --nz 2 --fs-radius 3 --fs-nr 3"), on_circle(3.0));
    }
    {
        SCOPED_TRACE("half hemisphere with free surface");
        const auto circle = on_circle(2.5);
        expect_sheets_join(make("hemisphere --n 4 --symmetry 1 --fs-radius 2.5 --fs-nr 3"),
                           [&](P3 p) { return in_y0(p) || circle(p); });
    }
}

// ---- free surface -------------------------------------------------------------------------

// Shoelace area of a closed polygon in the (x, y) plane, counter-clockwise positive.
double polygon_area(const std::vector<P3>& poly)
{
    double a = 0.0;
    for (std::size_t i = 0; i < poly.size(); ++i) {
        const P3 &p = poly[i], &q = poly[(i + 1) % poly.size()];
        a += 0.5 * (p[0] * q[1] - q[0] * p[1]);
    }
    return a;
}

// Checks the free-surface sheets of `m` (one per half) around the hull's waterline `wl_hull`
// (hull nodes at z = 0), out to `radius`, with radial growth `ratio`.
void check_free_surface(const TMesh& m, double radius, double ratio, bool half,
                        const std::function<bool(double, double)>& inside_waterplane)
{
    std::vector<P3> hull_wl;
    for (const TSheet& s : m.sheets)
        if (s.kind == 2)
            for (const P3& p : s.nodes)
                if (p[2] == 0.0) hull_wl.push_back(p);
    int fs_sheets = 0;
    double fs_area = 0.0;
    const double tol = 2e-9 * max_abs_coordinate(m);
    for (const TSheet& s : m.sheets) {
        if (s.kind != 3) continue;
        ++fs_sheets;
        EXPECT_EQ(s.flag, 0);
        for (const P3& p : s.nodes) EXPECT_EQ(p[2], 0.0);
        // The inner edge is the hull's waterline, node for node; the outer edge is on the circle.
        for (int a = 0; a <= s.np1; ++a) {
            const P3 p = s.node(a, 0);
            EXPECT_TRUE(std::find(hull_wl.begin(), hull_wl.end(), p) != hull_wl.end())
                << "inner node " << a << " is no hull waterline node";
            EXPECT_NEAR(std::hypot(s.node(a, s.np2)[0], s.node(a, s.np2)[1]), radius, tol);
            // Geometric growth along every radial line.
            for (int k = 1; k + 1 <= s.np2; ++k) {
                const double d0 = norm(sub(s.node(a, k), s.node(a, k - 1)));
                const double d1 = norm(sub(s.node(a, k + 1), s.node(a, k)));
                EXPECT_NEAR(d1 / d0, ratio, 1e-6);
            }
        }
        for (int b = 0; b < s.np2; ++b)
            for (int a = 0; a < s.np1; ++a) {
                const Patch p = patch(s, a, b);
                // Convex and upward: each corner's turn, (next - this) x (previous - this), points
                // up; then the normal t1 x t2 points up everywhere on the panel.
                const P3 c[4] = {p.x00, p.x10, p.x11, p.x01};
                for (int k = 0; k < 4; ++k)
                    EXPECT_GT(cross(sub(c[(k + 1) % 4], c[k]), sub(c[(k + 3) % 4], c[k]))[2], 0.0)
                        << "free-surface panel " << a << "," << b << " is not convex and upward";
                const P3 mid = p.at(0.5, 0.5);
                EXPECT_FALSE(inside_waterplane(mid[0], mid[1])) << "panel " << a << "," << b << " overlaps the hull";
                fs_area += gauss2([&](double u, double v) { return p.normal(u, v)[2]; });
            }
    }
    EXPECT_EQ(fs_sheets, half ? 1 : 2);
    // Tiling: the free surface fills the outer polygon minus the waterplane polygon exactly
    // when its panels neither overlap nor leave gaps (all of them being upward).  Both
    // polygons are closed along y = 0 in the half model; the whole model is twice that.
    const TSheet& fs = *std::find_if(m.sheets.begin(), m.sheets.end(), [](const TSheet& s) { return s.kind == 3; });
    std::vector<P3> outer, inner;
    for (int a = fs.np1; a >= 0; --a) outer.push_back(fs.node(a, fs.np2));   // counter-clockwise
    for (int a = fs.np1; a >= 0; --a) inner.push_back(fs.node(a, 0));
    const double ring = std::abs(polygon_area(outer)) - std::abs(polygon_area(inner));
    EXPECT_NEAR(fs_area, (half ? 1.0 : 2.0) * ring, 1e-8 * radius * radius);
}

TEST_F(torva_mesh, wigley_free_surface_tiles_the_water_plane_outside_the_hull)
{
    const double l = 2.0, b = 0.2;
    auto inside = [&](double x, double y) { return std::abs(x) < 0.5 * l && std::abs(y) < 0.5 * b * (1 - 4 * x * x / (l * l)); };
    for (const char* sym : {"1", "0"}) {
        SCOPED_TRACE(sym);
        const bool half = sym[0] == '1';
        // Stretched in the half model, evenly spaced (ratio 1) in the whole one.
        const std::string ratio = half ? "1.3" : "1";
        const TMesh m = make(std::string("wigley --nx 16 --nz 4 --fs-radius 3 --fs-nr 6 --fs-ratio ") + ratio
                             + " --symmetry " + sym);
        check_free_surface(m, 3.0, std::stod(ratio), half, inside);
        // The hull's volume is untouched by the free surface (z = 0 adds nothing to (1)).
        EXPECT_NEAR(volume(m), (half ? 0.5 : 1.0) * 4.0 / 9.0 * l * b * 0.125, 0.02 * l * b * 0.125);
    }
}

TEST_F(torva_mesh, hemisphere_floats_with_its_free_surface)
{
    const double r = 1.0;
    for (const char* sym : {"1", "0"}) {
        SCOPED_TRACE(sym);
        const bool half = sym[0] == '1';
        const TMesh m = make(std::string("hemisphere --n 8 --fs-radius 4 --fs-nr 5 --fs-ratio 1.1 --symmetry ") + sym);
        int hull_sheets = 0;
        for (const TSheet& s : m.sheets)
            if (s.kind == 2) {
                ++hull_sheets;
                for (const P3& p : s.nodes) {
                    EXPECT_NEAR(norm(p), r, 2e-9 * 4.0);
                    EXPECT_LE(p[2], 0.0);
                }
            }
        EXPECT_EQ(hull_sheets, half ? 4 : 5);
        expect_normals_into_body(m, [](P3 c) { return P3{-c[0], -c[1], -c[2]}; });
        const double exact = (half ? 1.0 : 2.0) / 3.0 * std::numbers::pi * r * r * r;
        const double bound = sag_bound(m, [&](P3 p) { return std::abs(norm(p) - r); });
        EXPECT_NEAR(volume(m), exact, bound);
        check_free_surface(m, 4.0, 1.1, half, [&](double x, double y) { return std::hypot(x, y) < r * 0.999; });
    }
}

TEST_F(torva_mesh, flag_rule_waterline_flags_only_sheets_reaching_z0)
{
    const TMesh m = make("hemisphere --n 4 --flag-rule waterline");
    int flagged = 0;
    for (const TSheet& s : m.sheets) {
        bool at_waterline = false;
        for (const P3& p : s.nodes) at_waterline = at_waterline || p[2] == 0.0;
        EXPECT_EQ(s.flag, at_waterline ? 1 : 0);
        flagged += s.flag;
    }
    EXPECT_EQ(flagged, 4);   // the four sides; the bottom cap stays 0
}

TEST_F(torva_mesh, second_file_holds_the_free_surface_of_the_one_file_mesh)
{
    const std::string args = "box --nx 4 --ny 2 --nz 2 --symmetry 1 --fs-radius 2.5 --fs-nr 3";
    const TMesh one = make(args, "one.ssg");
    ASSERT_EQ(tool(args + " --out hull.ssg --fs-out fs.ssg"), 0) << last.output;
    const TMesh hull = read_mesh(dir.file("hull.ssg")), fsm = read_mesh(dir.file("fs.ssg"));
    EXPECT_EQ(hull.symmetry, 1);
    EXPECT_EQ(fsm.symmetry, 1);   // the setup takes the symmetry from the last file it reads
    ASSERT_EQ(hull.sheets.size() + fsm.sheets.size(), one.sheets.size());
    for (std::size_t k = 0; k < one.sheets.size(); ++k) {
        const TSheet& s = k < hull.sheets.size() ? hull.sheets[k] : fsm.sheets[k - hull.sheets.size()];
        EXPECT_EQ(s.kind, k < hull.sheets.size() ? 2 : 3);
        EXPECT_EQ(s.nodes, one.sheets[k].nodes);
    }
}

// ---- a real Fortran reader, and the shipped examples -----------------------------------------

// Reads a mesh file with list-directed reads record by record, as the file format is defined,
// and prints what it found: the symmetry indicator and code, the header values, each sheet
// header and the coordinate sums of its nodes as read into default reals.
const char* kFortranMeshReader = R"(
program read_mesh
  implicit none
  character(len=200) :: line, title
  character(len=1) :: code
  integer :: isym, nsheet, is, k, np1, np2, kp, mp, ios, nlink
  real :: r(6), x, y, z
  double precision :: sx, sy, sz
  logical :: lg
  r = 9.0
  lg = .true.
  open (10, file='mesh.ssg', status='old')
  read (10, '(a)') line
  if (line(1:7) == 'Version' .and. line(9:11) == '2.0') then
    read (10, '(a)') title
    read (10, *) isym, code
    read (10, *) nsheet
    read (10, *) r
    read (10, *) lg
  else
    title = line
    read (10, *) isym, code
    read (10, *) nsheet, r(3), r(5), r(1)
    r(2) = 0.0; r(4) = 0.0; r(6) = 0.0; lg = .false.
  end if
  write (*, '(a,i0,1x,a,1x,i0,l2)') 'HEADER ', isym, code, nsheet, lg
  write (*, '(a,6es12.4)') 'REALS ', r
  do is = 1, nsheet
    read (10, *) np1, np2, kp, mp
    sx = 0d0; sy = 0d0; sz = 0d0
    do k = 1, (np1 + 1) * (np2 + 1)
      read (10, *) x, y, z
      sx = sx + x; sy = sy + y; sz = sz + z
    end do
    write (*, '(a,4(1x,i0),3es25.16)') 'SHEET', np1, np2, kp, mp, sx, sy, sz
  end do
  read (10, *, iostat=ios) nlink
  write (*, '(a,l2)') 'END_OF_FILE', ios < 0
  close (10)
end program
)";

TEST_F(torva_mesh, gfortran_list_directed_reads_both_layouts_of_the_same_geometry)
{
    std::vector<TMesh> layouts;
    for (const char* layout : {"v2", "old"}) {
        SCOPED_TRACE(layout);
        const TMesh m = make(std::string("hemisphere --n 4 --symmetry 1 --fs-radius 3 --fs-nr 3 --title 'Test hull' --layout ") + layout, "mesh.ssg");
        layouts.push_back(m);
        EXPECT_EQ(m.version2, layout == std::string("v2"));
        EXPECT_EQ(m.title, "Test hull");
        const auto run = torva::testing::compile_and_run_fortran(dir, kFortranMeshReader);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        std::istringstream out(run.output);
        std::string tag, code, lg;
        int isym = -1, nsheet = -1;
        out >> tag >> isym >> code >> nsheet >> lg;
        EXPECT_EQ(tag, "HEADER");
        EXPECT_EQ(isym, 1);
        EXPECT_EQ(code, "Y");
        EXPECT_EQ(lg, "F");
        ASSERT_EQ(nsheet, static_cast<int>(m.sheets.size()));
        out >> tag;
        for (int i = 0; i < 6; ++i) {
            double r = -1;
            out >> r;
            EXPECT_EQ(r, 0.0) << "header real " << i + 1;
        }
        for (const TSheet& s : m.sheets) {
            int np1, np2, kp, mp;
            double sum[3];
            out >> tag >> np1 >> np2 >> kp >> mp >> sum[0] >> sum[1] >> sum[2];
            EXPECT_EQ(tag, "SHEET");
            EXPECT_EQ(np1, s.np1);
            EXPECT_EQ(np2, s.np2);
            EXPECT_EQ(kp, s.kind);
            EXPECT_EQ(mp, s.flag);
            for (int c = 0; c < 3; ++c) {
                double expect = 0.0;
                for (const P3& p : s.nodes) expect += static_cast<float>(p[c]);
                // Fortran rounds the same decimal text to the same float and adds in the same order.
                EXPECT_NEAR(sum[c], expect, 1e-12 * s.nodes.size()) << "coordinate " << c;
            }
        }
        out >> tag >> lg;
        EXPECT_EQ(tag, "END_OF_FILE");
        EXPECT_EQ(lg, "T");
    }
    // The same sheets, node for node, whichever layout carries them.
    ASSERT_EQ(layouts[0].sheets.size(), layouts[1].sheets.size());
    for (std::size_t k = 0; k < layouts[0].sheets.size(); ++k) {
        const TSheet &v2 = layouts[0].sheets[k], &old = layouts[1].sheets[k];
        EXPECT_EQ(v2.np1, old.np1);
        EXPECT_EQ(v2.np2, old.np2);
        EXPECT_EQ(v2.kind, old.kind);
        EXPECT_EQ(v2.flag, old.flag);
        EXPECT_EQ(v2.nodes, old.nodes);
    }
}

// Reads an example's run-parameter file as a Fortran namelist of the keys the examples set.
const char* kFortranInpReader = R"(
program read_inp
  implicit none
  character(len=200) :: FILE_SSG, FILE_FS, FILEJOU
  character(len=80) :: FILESTATUS
  integer :: INFORDER, INFMETH, ISPLINE(0:1), H1, H2, IFSBC, INFINVS, ios
  real :: SEA_DEPTH, ALENGTH
  logical :: B_FILTER
  namelist /TORVA_INP/ ALENGTH, FILE_SSG, FILE_FS, FILEJOU, FILESTATUS, INFORDER, INFMETH, &
                       INFINVS, ISPLINE, IFSBC, B_FILTER, H1, H2, SEA_DEPTH
  FILE_FS = '0'; B_FILTER = .false.; H1 = 0; H2 = 0
  open (5, file='run.inp', status='old')
  read (5, nml=TORVA_INP, iostat=ios)
  write (*, '(a,i0)') 'IOSTAT ', ios
  write (*, '(a)') trim(FILE_SSG)
  write (*, '(a)') trim(FILE_FS)
  write (*, '(l1,2(1x,i0))') B_FILTER, H1, H2
end program
)";

TEST_F(torva_mesh, shipped_examples_read_as_namelists_and_match_their_generator)
{
    for (const char* example : {"wigley", "sphere"}) {
        SCOPED_TRACE(example);
        const fs::path home = fs::path(TORVA_SOURCE_DIR) / "examples" / example;
        const fs::path inp = home / (std::string(example) + ".inp");
        ASSERT_TRUE(fs::exists(inp));
        {
            std::ifstream in(inp);
            std::string first;
            std::getline(in, first);
            EXPECT_EQ(first.rfind("!", 0), 0u) << "the deck should open with a comment";
        }
        fs::copy_file(inp, dir.file("run.inp"), fs::copy_options::overwrite_existing);
        const auto run = torva::testing::compile_and_run_fortran(dir, kFortranInpReader);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        std::istringstream out(run.output);
        std::string tag, ssg, fsname, filter;
        int ios = -1, h1 = 0, h2 = 0;
        out >> tag >> ios >> ssg >> fsname >> filter >> h1 >> h2;
        ASSERT_EQ(ios, 0) << run.output;
        // The mesh files it names are shipped beside it and carry the sheets it asks for.
        const TMesh hull = read_mesh((home / ssg).string());
        int fs_sheets = 0;
        if (fsname != "0") {
            const TMesh fsm = read_mesh((home / fsname).string());
            EXPECT_EQ(fsm.symmetry, hull.symmetry);
            for (const TSheet& s : fsm.sheets) fs_sheets += (s.kind == 3);
        }
        if (filter == "T") {
            EXPECT_GT(fs_sheets, 0) << "B_FILTER without free-surface sheets";
            EXPECT_TRUE(h1 >= 2 && h1 <= 10 && h2 >= 2 && h2 <= 10);
        }
        // make_mesh.sh regenerates the shipped files byte for byte.
        const fs::path regen = dir.path() / (std::string("regen_") + example);
        fs::create_directory(regen);
        const auto made = run_command("sh " + shell_quote((home / "make_mesh.sh").string()) + " " + shell_quote(kTool)
                                      + " " + shell_quote(regen.string()));
        ASSERT_EQ(made.exit_code, 0) << made.output;
        int compared = 0;
        for (const auto& e : fs::directory_iterator(regen)) {
            EXPECT_TRUE(read_text(e.path()) == read_text(home / e.path().filename()))
                << e.path().filename() << " differs from what make_mesh.sh writes";
            ++compared;
        }
        EXPECT_EQ(compared, fsname != "0" ? 2 : 1);
    }
}

}  // namespace
