// Spline-sheet meshes of simple bodies for torva-mesh: the geometry generators and the writer
// of the mesh file in both layouts.  Header-only, because every tools/*.cpp is its own program.
//
// A sheet is a structured grid of (NP1 + 1) x (NP2 + 1) nodes X(a, b), a = 0 .. NP1 along the
// first direction, b = 0 .. NP2 along the second, written with a running fastest.  The setup
// takes the panel normal of the panel with nodes (a, b) .. (a+1, b+1) from its midlines
//     t1 = 1/2 [(X(a+1,b+1) + X(a+1,b)) - (X(a,b) + X(a,b+1))]      (along the first direction)
//     t2 = 1/2 [(X(a+1,b+1) + X(a,b+1)) - (X(a+1,b) + X(a,b))]      (along the second direction)
//     n  = t1 x t2 / |t1 x t2|                                        (1)
// so the order of the two grid directions fixes the side the normal points to.  Every sheet
// made here has n pointing out of the fluid:
//   - hull sheets (kind 2): into the body, so that the displacement by the divergence theorem,
//         V = - sum_panels n_z c_z A                                  (2)
//     (c the centroid, A the area), comes out positive for a body below z = 0;
//   - free-surface sheets (kind 3): upward, +z, since they lie in z = 0 above the fluid.
// Each generator states the orientation it builds; `require_normal` checks it on the middle
// panel of every sheet before anything is written.
//
// Symmetric (half) bodies keep y >= 0 only, and every node on the cut lies exactly in y = 0.
// Mirroring a sheet in y = 0 reverses its handedness, so `mirror_in_y` also reverses the first
// direction: with M = diag(1, -1, 1), (M t1) x (M t2) = -M (t1 x t2), and reversing t1 gives
// back M n, the mirror image of the original normal (still into the body, still upward).
//
// Sheets that meet share their edge nodes bit for bit (every grid coordinate comes from one
// table per axis, symmetric about its middle by construction), so that the boundary
// connectivity of the setup finds the panel across every sheet edge at distance 0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace torva::mesh_tool {

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

[[nodiscard]] inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
[[nodiscard]] inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
[[nodiscard]] inline Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
[[nodiscard]] inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
[[nodiscard]] inline Vec3 cross(Vec3 a, Vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Sheet kinds and flags as the setup reads them.
inline constexpr int kKindBody = 2;
inline constexpr int kKindFreeSurface = 3;

// The generators report bad input (a count that is not even, a radius inside the hull) with
// this exception; torva-mesh turns it into one message and a non-zero exit.
struct MeshError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Sheet {
    int np1 = 0;                 // NP1: panels along the first direction
    int np2 = 0;                 // NP2: panels along the second direction
    int kind = kKindBody;        // KP
    int flag = 0;                // MP
    std::vector<Vec3> nodes;     // (np1 + 1) * (np2 + 1), node (a, b) at a + b * (np1 + 1)

    [[nodiscard]] const Vec3& node(int a, int b) const { return nodes[a + b * (np1 + 1)]; }
    Vec3& node(int a, int b) { return nodes[a + b * (np1 + 1)]; }
};

// Builds a sheet from its node function X(a, b).
[[nodiscard]] inline Sheet make_sheet(int np1, int np2, int kind,
                                      const std::function<Vec3(int, int)>& x_of)
{
    Sheet s;
    s.np1 = np1;
    s.np2 = np2;
    s.kind = kind;
    s.nodes.resize(static_cast<std::size_t>(np1 + 1) * static_cast<std::size_t>(np2 + 1));
    for (int b = 0; b <= np2; ++b)
        for (int a = 0; a <= np1; ++a) s.node(a, b) = x_of(a, b);
    return s;
}

// Normal (1) of panel (a, b), unnormalised.
[[nodiscard]] inline Vec3 panel_normal(const Sheet& s, int a, int b)
{
    const Vec3 p1 = s.node(a + 1, b + 1), p2 = s.node(a + 1, b);
    const Vec3 p3 = s.node(a, b), p4 = s.node(a, b + 1);
    const Vec3 t1 = 0.5 * ((p1 + p2) - (p3 + p4));
    const Vec3 t2 = 0.5 * ((p1 + p4) - (p2 + p3));
    return cross(t1, t2);
}

// Guards the orientation each generator promises: the normal (1) of the sheet's middle panel
// must have a positive component along `wanted`.  A failure is a bug of this tool.
inline void require_normal(const Sheet& s, Vec3 wanted, const char* what)
{
    const Vec3 n = panel_normal(s, s.np1 / 2, s.np2 / 2);
    if (!(dot(n, wanted) > 0.0))
        throw std::logic_error(std::string("torva-mesh built a sheet with its normal the wrong way: ")
                               + what);
}

// Mirror image in y = 0 with the first direction reversed (see the file header).
[[nodiscard]] inline Sheet mirror_in_y(const Sheet& s)
{
    Sheet m = s;
    for (int b = 0; b <= s.np2; ++b)
        for (int a = 0; a <= s.np1; ++a) {
            const Vec3 p = s.node(s.np1 - a, b);
            // y = 0 stays +0: a -0 would sort a waterline node to the wrong end by polar angle.
            m.node(a, b) = {p.x, p.y == 0.0 ? 0.0 : -p.y, p.z};
        }
    return m;
}

// ---- grid tables --------------------------------------------------------------------------
//
// Every table below holds n + 1 values v_0 .. v_n that are antisymmetric about their middle,
// v_{n-k} = -v_k, with the end points exact.  Setting the upper half from the lower one makes
// the antisymmetry exact in floating point, so a node on a plane of symmetry lies exactly on
// it and mirrored nodes are exact mirror images.

[[nodiscard]] inline std::vector<double> antisymmetric_table(int n, const std::function<double(int)>& v)
{
    std::vector<double> t(static_cast<std::size_t>(n) + 1);
    for (int k = 0; 2 * k < n; ++k) {
        t[k] = v(k);
        t[n - k] = -t[k];
    }
    if (n % 2 == 0) t[n / 2] = 0.0;
    return t;
}

// Uniform points on [-1, 1]: v_k = -1 + 2k/n.
[[nodiscard]] inline std::vector<double> uniform_table(int n)
{
    auto t = antisymmetric_table(n, [n](int k) { return -1.0 + 2.0 * k / n; });
    t[0] = -1.0;
    t[n] = 1.0;
    return t;
}

// Cosine points on [-1, 1]: v_k = -cos(pi k / n), clustered at both ends, where a slender
// hull's waterline and sections bend most.
[[nodiscard]] inline std::vector<double> cosine_table(int n)
{
    auto t = antisymmetric_table(n, [n](int k) { return -std::cos(std::numbers::pi * k / n); });
    t[0] = -1.0;
    t[n] = 1.0;
    return t;
}

// Equiangular cube coordinates on [-1, 1]: v_k = tan(-pi/4 + (pi/2) k / n).  Projecting the
// cube face through them onto the sphere gives panels of nearly equal angular size (the
// "equiangular cubed sphere"), far more even than a uniform grid on the cube face.
[[nodiscard]] inline std::vector<double> equiangular_table(int n)
{
    auto t = antisymmetric_table(n, [n](int k) {
        return std::tan(-0.25 * std::numbers::pi + 0.5 * std::numbers::pi * k / n);
    });
    t[0] = -1.0;
    t[n] = 1.0;
    return t;
}

// Fractions s_0 .. s_n of a geometrically stretched line, 0 = s_0 < ... < s_n = 1, each step
// `ratio` times the one before:
//     s_k = (q^k - 1) / (q^n - 1),   q = ratio  (s_k = k / n when q = 1)          (3)
[[nodiscard]] inline std::vector<double> stretched_fractions(int n, double ratio)
{
    std::vector<double> s(static_cast<std::size_t>(n) + 1);
    for (int k = 0; k <= n; ++k)
        s[k] = (ratio == 1.0) ? static_cast<double>(k) / n
                              : (std::pow(ratio, k) - 1.0) / (std::pow(ratio, n) - 1.0);
    s[0] = 0.0;
    s[n] = 1.0;
    return s;
}

// ---- Wigley hull ----------------------------------------------------------------------------
//
// y = (B/2) (1 - (2x/L)^2) (1 - (z/T)^2),  -L/2 <= x <= L/2,  -T <= z <= 0.          (4)
// Port sheet (y >= 0): first direction x increasing, second z increasing.  With X(x, z) =
// (x, y(x, z), z), X_x x X_z = (y_x, -1, y_z): its y component is -1, into the body.

struct WigleyParams {
    double length = 2.0, beam = 0.2, draft = 0.125;
    int nx = 32, nz = 10;
    bool cosine_x = true;
};

[[nodiscard]] inline double wigley_y(const WigleyParams& w, double x, double z)
{
    const double xi = 2.0 * x / w.length, zeta = z / w.draft;
    return 0.5 * w.beam * (1.0 - xi * xi) * (1.0 - zeta * zeta);
}

[[nodiscard]] inline std::vector<Sheet> wigley_hull(const WigleyParams& w, bool half)
{
    if (w.nx < 2 || w.nz < 1) throw MeshError("wigley needs --nx >= 2 and --nz >= 1");
    const auto xs = w.cosine_x ? cosine_table(w.nx) : uniform_table(w.nx);
    Sheet port = make_sheet(w.nx, w.nz, kKindBody, [&](int a, int b) {
        const double x = 0.5 * w.length * xs[a];
        // z_b = T (b - nz) / nz: exactly -T at the keel and exactly +0 at the waterline (a -0
        // would be written as "-0.0" and carried into the free surface's inner edge).
        const double z = w.draft * (b - w.nz) / w.nz;
        return Vec3{x, wigley_y(w, x, z), z};
    });
    require_normal(port, {0.0, -1.0, 0.0}, "wigley port side");
    std::vector<Sheet> sheets{port};
    if (!half) sheets.push_back(mirror_in_y(port));
    return sheets;
}

// ---- box barge ----------------------------------------------------------------------------
//
// |x| <= L/2, |y| <= B/2, -T <= z <= 0.  Bottom and four sides; the deck z = 0 is the free
// surface's business.  Orientation into the body, per sheet (first x second = wanted normal):
//   bottom   x+, y+   -> +z        side y = +B/2   x+, z+  -> -y     side y = -B/2   x-, z+ -> +y
//   end x = +L/2  y-, z+  -> -x    end x = -L/2    y+, z+  -> +x

struct BoxParams {
    double length = 2.0, beam = 1.0, draft = 0.5;
    int nx = 16, ny = 8, nz = 4;
};

[[nodiscard]] inline std::vector<Sheet> box_hull(const BoxParams& p, bool half)
{
    if (p.nx < 1 || p.ny < 1 || p.nz < 1) throw MeshError("box needs --nx, --ny, --nz >= 1");
    if (half && p.ny % 2 != 0) throw MeshError("box with --symmetry 1 needs an even --ny");
    const auto xs = uniform_table(p.nx), ys = uniform_table(p.ny), zs = uniform_table(p.nz);
    const double hl = 0.5 * p.length, hb = 0.5 * p.beam;
    // z from the table on [-1, 1] mapped to [-T, 0]: (v - 1) T / 2 is exactly 0 at v = 1.
    auto z_of = [&](int k) { return 0.5 * (zs[k] - 1.0) * p.draft; };
    const int y0 = half ? p.ny / 2 : 0;   // first index of the y table in the model
    const int ny = p.ny - y0;

    std::vector<Sheet> sheets;
    Sheet bottom = make_sheet(p.nx, ny, kKindBody, [&](int a, int b) {
        return Vec3{hl * xs[a], hb * ys[y0 + b], -p.draft};
    });
    require_normal(bottom, {0, 0, 1}, "box bottom");
    Sheet end_aft = make_sheet(ny, p.nz, kKindBody, [&](int a, int b) {
        return Vec3{-hl, hb * ys[y0 + a], z_of(b)};
    });
    require_normal(end_aft, {1, 0, 0}, "box aft end");
    Sheet side_port = make_sheet(p.nx, p.nz, kKindBody, [&](int a, int b) {
        return Vec3{hl * xs[a], hb, z_of(b)};
    });
    require_normal(side_port, {0, -1, 0}, "box port side");
    Sheet end_fore = make_sheet(ny, p.nz, kKindBody, [&](int a, int b) {
        return Vec3{hl, hb * ys[p.ny - a], z_of(b)};
    });
    require_normal(end_fore, {-1, 0, 0}, "box fore end");
    sheets = {bottom, end_aft, side_port, end_fore};
    if (!half) {
        Sheet side_stbd = make_sheet(p.nx, p.nz, kKindBody, [&](int a, int b) {
            return Vec3{hl * xs[p.nx - a], -hb, z_of(b)};
        });
        require_normal(side_stbd, {0, 1, 0}, "box starboard side");
        sheets.push_back(side_stbd);
    }
    return sheets;
}

// ---- cubed ellipsoid (sphere, hemisphere, spheroid) ------------------------------------------
//
// The cube [-1, 1]^3 is gridded with an equiangular table per axis (counts n_x, n_y, n_z), each
// face point c is projected to the unit sphere and scaled by the semi-axes:
//     X = centre + (a u_x, b u_y, c u_z),   u = c / |c|                                  (5)
// (a positive affine image of the sphere, so orientation is kept and every node lies on
// x^2/a^2 + y^2/b^2 + z^2/c^2 = 1 about the centre).  Face with outward axis s e_i uses the
// tangents (e_k, e_j) when s = +1 and (e_j, e_k) when s = -1, (i, j, k) cyclic, so that
// first x second = -s e_i: into the body.  |c|^2 is summed as x^2 + y^2 + z^2 in that fixed
// order whatever the face, so a node shared by two faces comes out bit for bit the same.
// Clipping keeps y >= 0 (half body) and/or z <= 0 (floating hemisphere): a face outside the
// kept region is dropped, a face across the cut keeps the half of its table on the kept side.

struct CubedEllipsoidParams {
    Vec3 centre;
    double semi[3] = {1.0, 1.0, 1.0};  // a, b, c
    int n[3] = {8, 8, 8};              // panels per cube edge along x, y, z
    bool keep_y_nonnegative = false;
    bool keep_z_nonpositive = false;
};

[[nodiscard]] inline std::vector<Sheet> cubed_ellipsoid(const CubedEllipsoidParams& p)
{
    std::vector<double> table[3];
    for (int i = 0; i < 3; ++i) {
        if (p.n[i] < 1) throw MeshError("cube-face panel counts must be >= 1");
        table[i] = equiangular_table(p.n[i]);
    }
    if (p.keep_y_nonnegative && p.n[1] % 2 != 0)
        throw MeshError("a half body needs an even panel count across y = 0");
    if (p.keep_z_nonpositive && p.n[2] % 2 != 0)
        throw MeshError("a floating body needs an even panel count across z = 0");

    // Index range [lo, hi] of axis `ax`'s table inside the kept region.
    auto kept_range = [&](int ax, int& lo, int& hi) {
        lo = 0;
        hi = p.n[ax];
        if (ax == 1 && p.keep_y_nonnegative) lo = p.n[1] / 2;
        if (ax == 2 && p.keep_z_nonpositive) hi = p.n[2] / 2;
    };

    std::vector<Sheet> sheets;
    const char* names[3][2] = {{"-x face", "+x face"}, {"-y face", "+y face"}, {"-z face", "+z face"}};
    for (int i = 0; i < 3; ++i) {
        for (int s : {-1, 1}) {
            if (i == 1 && s < 0 && p.keep_y_nonnegative) continue;
            if (i == 2 && s > 0 && p.keep_z_nonpositive) continue;
            const int j = (i + 1) % 3, k = (i + 2) % 3;
            const int first = (s > 0) ? k : j, second = (s > 0) ? j : k;
            int lo1, hi1, lo2, hi2;
            kept_range(first, lo1, hi1);
            kept_range(second, lo2, hi2);
            Sheet sh = make_sheet(hi1 - lo1, hi2 - lo2, kKindBody, [&](int a, int b) {
                double c[3];
                c[i] = s;
                c[first] = table[first][lo1 + a];
                c[second] = table[second][lo2 + b];
                const double r = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
                return Vec3{p.centre.x + p.semi[0] * (c[0] / r), p.centre.y + p.semi[1] * (c[1] / r),
                            p.centre.z + p.semi[2] * (c[2] / r)};
            });
            Vec3 inward;
            (i == 0 ? inward.x : i == 1 ? inward.y : inward.z) = -s;
            require_normal(sh, inward, names[i][s > 0 ? 1 : 0]);
            sheets.push_back(std::move(sh));
        }
    }
    return sheets;
}

// ---- free surface around the waterline ------------------------------------------------------
//
// An O-grid on z = 0 between the hull's waterline (half, y >= 0) and the half circle of
// radius R_fs.  The waterline nodes P_0 .. P_N run from (x < 0, y = 0) over y > 0 to
// (x > 0, y = 0) in order of decreasing polar angle; node i of the outer circle sits at the
// angle theta_i = pi (1 - i/N), and each radial line is cut by the stretched fractions (3):
//     X(i, k) = P_i + s_k (Q_i - P_i),   Q_i = R_fs (cos theta_i, sin theta_i, 0).        (6)
// First direction along the waterline (clockwise seen from above, about +x on y > 0), second
// outward (+y there): first x second = +z, up and out of the fluid.  The inner edge takes the
// hull's waterline nodes as they are, so hull and free surface meet node to node.

// The waterline of the hull sheets: every node with z == 0 and y >= 0, duplicates removed,
// sorted by decreasing polar angle.  The waterline must be star-shaped about the origin (its
// polar angle strictly monotone), which holds for all the bodies made here.
[[nodiscard]] inline std::vector<Vec3> waterline_nodes(const std::vector<Sheet>& hull)
{
    std::vector<Vec3> w;
    for (const Sheet& s : hull)
        for (const Vec3& p : s.nodes)
            if (p.z == 0.0 && p.y >= 0.0) w.push_back(p);
    auto angle = [](const Vec3& p) { return std::atan2(p.y, p.x); };
    std::sort(w.begin(), w.end(), [&](const Vec3& a, const Vec3& b) { return angle(a) > angle(b); });
    w.erase(std::unique(w.begin(), w.end(),
                        [](const Vec3& a, const Vec3& b) { return a.x == b.x && a.y == b.y; }),
            w.end());
    if (w.size() < 3) throw MeshError("the hull has no waterline to put a free surface around");
    for (std::size_t i = 1; i < w.size(); ++i)
        if (!(angle(w[i]) < angle(w[i - 1])))
            throw MeshError("the waterline is not star-shaped about the origin");
    if (w.front().y != 0.0 || w.back().y != 0.0 || !(w.front().x < 0.0) || !(w.back().x > 0.0))
        throw MeshError("the waterline must start and end on y = 0, aft and fore of the origin");
    return w;
}

struct FreeSurfaceParams {
    double radius = 0.0;   // R_fs; 0 means no free-surface sheets
    int nr = 8;            // panels along each radial line
    double ratio = 1.15;   // q of (3): each radial step this much longer than the one inside
};

[[nodiscard]] inline std::vector<Sheet> free_surface(const std::vector<Sheet>& hull,
                                                     const FreeSurfaceParams& f, bool half)
{
    if (f.nr < 1) throw MeshError("--fs-nr must be >= 1");
    if (!(f.ratio > 0.0)) throw MeshError("--fs-ratio must be > 0");
    const std::vector<Vec3> inner = waterline_nodes(hull);
    const int n = static_cast<int>(inner.size()) - 1;
    for (const Vec3& p : inner)
        if (!(std::hypot(p.x, p.y) < f.radius))
            throw MeshError("--fs-radius must exceed the waterline's distance from the origin ("
                            + std::to_string(std::hypot(p.x, p.y)) + ")");
    // Outer nodes, mirror-symmetric about x = 0 by construction: Q_{N-i} = (-Q_i.x, Q_i.y).
    std::vector<Vec3> outer(static_cast<std::size_t>(n) + 1);
    for (int i = 0; 2 * i <= n; ++i) {
        const double theta = std::numbers::pi * (1.0 - static_cast<double>(i) / n);
        outer[i] = {f.radius * std::cos(theta), f.radius * std::sin(theta), 0.0};
        if (2 * i == n) outer[i].x = 0.0;
        outer[n - i] = {-outer[i].x, outer[i].y, 0.0};
    }
    outer[0] = {-f.radius, 0.0, 0.0};
    outer[n] = {f.radius, 0.0, 0.0};
    const auto s = stretched_fractions(f.nr, f.ratio);
    Sheet fs = make_sheet(n, f.nr, kKindFreeSurface, [&](int i, int k) {
        if (k == 0) return inner[i];   // the hull's own nodes, bit for bit
        const Vec3 p = inner[i] + s[k] * (outer[i] - inner[i]);
        return Vec3{p.x, p.y, 0.0};
    });
    fs.flag = 0;
    require_normal(fs, {0, 0, 1}, "free surface");
    std::vector<Sheet> sheets{fs};
    if (!half) sheets.push_back(mirror_in_y(fs));
    return sheets;
}

// ---- the mesh file ------------------------------------------------------------------------

enum class Layout { version2, old };

struct FileHeader {
    std::string title;
    int symmetry = 0;      // 1: only y >= 0 is modelled, the setup mirrors it in y = 0
};

// The one-character code after the symmetry indicator: 'Y' for a body mirrored in y = 0,
// 'N' otherwise.  The setup carries it without acting on it.
[[nodiscard]] inline char symmetry_code(int symmetry) { return symmetry == 1 ? 'Y' : 'N'; }

// Writes one mesh file.  Both layouts carry the same sheets; the Version 2.0 layout adds the
// translation (0, 0, 0), the rotations (0, 0, 0) and the logical F (translate after rotating)
// used only for the principal particulars, and the old layout holds zeros in their place.
// Coordinates have ten significant digits: more than a 32-bit float keeps, so reading them
// back rounds each one once, to the float nearest the generated value.
inline void write_mesh(std::ostream& out, const FileHeader& h, const std::vector<Sheet>& sheets,
                       Layout layout)
{
    char line[96];
    auto put = [&](const char* fmt, auto... v) {
        std::snprintf(line, sizeof line, fmt, v...);
        out << line << '\n';
    };
    if (layout == Layout::version2) {
        out << "Version 2.0\n" << h.title << '\n';
        put("%d %c", h.symmetry, symmetry_code(h.symmetry));
        put("%d", static_cast<int>(sheets.size()));
        out << "0.0 0.0 0.0 0.0 0.0 0.0\nF\n";
    } else {
        out << h.title << '\n';
        put("%d %c", h.symmetry, symmetry_code(h.symmetry));
        // Sheet count, then the third length, the second angle and the first length.
        put("%d 0.0 0.0 0.0", static_cast<int>(sheets.size()));
    }
    for (const Sheet& s : sheets) {
        put("%6d %6d %6d %6d", s.np1, s.np2, s.kind, s.flag);
        for (const Vec3& p : s.nodes) put("%17.9E %17.9E %17.9E", p.x, p.y, p.z);
    }
    if (!out) throw MeshError("writing the mesh file failed");
}

// Whether the old layout would mistake this title for the version line: the first record is
// the version line when its first seven characters are "Version" and characters 9 to 11 are
// "2.0" (character 8 is not looked at).
[[nodiscard]] inline bool looks_like_version_line(const std::string& t)
{
    return t.size() >= 11 && t.compare(0, 7, "Version") == 0 && t.compare(8, 3, "2.0") == 0;
}

}  // namespace torva::mesh_tool
