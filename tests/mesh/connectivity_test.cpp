// Boundary connectivity: ghost-node records, neighbour pairing, continuity rows, the dump.
//
// Sheets are built by hand as flat affine grids, mesh node (a, b) = O + a eu + b ev, with
// coordinates that are exact in float (multiples of 1/64), so the code and the test see the
// same geometry bit for bit.  On such a sheet a quadratic field q(x) is reproduced exactly
// by the biquadratic spline whose coefficient at the node centred on (U, V) is
//     c = (q(X(U, V)) - (q_UU + q_VV)/8) / 64                                        (Q)
// (the quadratic B-spline maps i^2 to x^2 + 1/4; the weights sum to 64).  A continuity row
// must then vanish for the field's own coefficients and known values, whatever direction or
// weights the code chose: that residual is the independent truth the row tests check.
#include "mesh/connectivity.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <fstream>
#include <functional>

#include "../../tools/mesh_shapes.hpp"
#include "frame/run_stop.hpp"
#include "support/fortran_runner.hpp"

namespace {

using namespace torva;

using V3 = mesh_tool::Vec3;
using mesh_tool::cross;
using mesh_tool::dot;
V3 unit(V3 a) { return (1 / std::sqrt(dot(a, a))) * a; }

// q(x) = c0 + g.x + x^T H x / 2, H symmetric (only the upper triangle is given).
struct Quadratic {
    double c0 = 0;
    V3 g;
    double hxx = 0, hyy = 0, hzz = 0, hxy = 0, hxz = 0, hyz = 0;
    V3 hess(V3 a) const
    {
        return {hxx * a.x + hxy * a.y + hxz * a.z, hxy * a.x + hyy * a.y + hyz * a.z,
                hxz * a.x + hyz * a.y + hzz * a.z};
    }
    double value(V3 x) const { return c0 + dot(g, x) + 0.5 * dot(x, hess(x)); }
    V3 grad(V3 x) const { return g + hess(x); }
};

struct SheetSpec {
    int np1, np2, kind;
    V3 origin, eu, ev;
};

// The padded model of a list of sheets, with the arrays the connectivity takes.
struct Mesh {
    std::vector<SheetSpec> sheets;
    std::vector<int> nu, nv, kind, offset, indom, node_table;
    std::vector<float> corners, xct;
    int n = 0;

    SheetGrid grid() const { return {int(sheets.size()), nu, nv, kind, indom, corners}; }
    ContinuityGeometry geometry() const { return {node_table, xct}; }
    int node(int s, int iu, int iv) const { return offset[s - 1] + iu + (iv - 1) * nu[s - 1]; }
    // Sheet and (iu, iv) of a node.
    void locate(int node, int& s, int& iu, int& iv) const
    {
        for (s = 1; node > offset[s - 1] + nu[s - 1] * nv[s - 1]; ++s) {}
        const int k = node - offset[s - 1] - 1;
        iu = k % nu[s - 1] + 1;
        iv = k / nu[s - 1] + 1;
    }
    // Centre of node (iu, iv): U = iu - 3/2, V = iv - 3/2 in mesh-node units.
    V3 centre(int node) const
    {
        int s, iu, iv;
        locate(node, s, iu, iv);
        const SheetSpec& sp = sheets[s - 1];
        return sp.origin + (iu - 1.5) * sp.eu + (iv - 1.5) * sp.ev;
    }
    int sheet_of(int node) const { int s, iu, iv; locate(node, s, iu, iv); return s; }
    V3 normal(int s) const { return unit(cross(sheets[s - 1].eu, sheets[s - 1].ev)); }
    // Point of panel `node` at parameter (s, t).
    V3 at(int node, double s, double t) const
    {
        const SheetSpec& sp = sheets[sheet_of(node) - 1];
        return centre(node) + s * sp.eu + t * sp.ev;
    }
};

Mesh build_mesh(std::vector<SheetSpec> sheets)
{
    Mesh m;
    m.sheets = std::move(sheets);
    for (const SheetSpec& sp : m.sheets) {
        const int nu = sp.np1 + 2, nv = sp.np2 + 2, offset = m.n;
        m.nu.push_back(nu);
        m.nv.push_back(nv);
        m.kind.push_back(sp.kind);
        m.offset.push_back(offset);
        m.n += nu * nv;
        m.indom.resize(m.n, 0);
        m.corners.resize(12 * m.n, 0.0f);
        m.xct.resize(3 * m.n, 0.0f);
        m.node_table.resize(9 * m.n, 0);
        for (int iv = 1; iv <= nv; ++iv)
            for (int iu = 1; iu <= nu; ++iu) {
                const int p = offset + iu + (iv - 1) * nu - 1;
                for (int b = -1; b <= 1; ++b)
                    for (int a = -1; a <= 1; ++a) {
                        const int ju = iu + a, jv = iv + b;
                        if (ju >= 1 && ju <= nu && jv >= 1 && jv <= nv)
                            m.node_table[9 * p + (a + 1) + 3 * (b + 1)] = offset + ju + (jv - 1) * nu;
                    }
                if (iu == 1 || iu == nu || iv == 1 || iv == nv) continue;
                m.indom[p] = 1;
                // Corners 1..4 at mesh nodes (a+1, b+1), (a+1, b), (a, b), (a, b+1).
                const int a = iu - 2, b = iv - 2;
                const int ca[4] = {a + 1, a + 1, a, a}, cb[4] = {b + 1, b, b, b + 1};
                V3 sum;
                for (int k = 0; k < 4; ++k) {
                    const V3 x = sp.origin + double(ca[k]) * sp.eu + double(cb[k]) * sp.ev;
                    m.corners[12 * p + k] = float(x.x);
                    m.corners[12 * p + 4 + k] = float(x.y);
                    m.corners[12 * p + 8 + k] = float(x.z);
                    sum = sum + x;
                }
                m.xct[3 * p] = float(sum.x / 4);
                m.xct[3 * p + 1] = float(sum.y / 4);
                m.xct[3 * p + 2] = float(sum.z / 4);
            }
    }
    return m;
}

// (Q): coefficients of the spline field fields[s] on every node of every sheet.
std::vector<double> spline_coefficients(const Mesh& m, const std::vector<Quadratic>& fields)
{
    std::vector<double> c(m.n);
    for (int node = 1; node <= m.n; ++node) {
        const int s = m.sheet_of(node);
        const Quadratic& q = fields[s - 1];
        const SheetSpec& sp = m.sheets[s - 1];
        const double curvature = dot(sp.eu, q.hess(sp.eu)) + dot(sp.ev, q.hess(sp.ev));
        c[node - 1] = (q.value(m.centre(node)) - curvature / 8) / 64;
    }
    return c;
}

struct Matrices {
    int n;
    std::vector<float> amat, bmat, amata, bmata;
    explicit Matrices(int order)
        : n(order), amat(order * order, 7.0f), bmat(order * order, 7.0f), amata(order * order, 7.0f),
          bmata(order * order, 7.0f) {}     // 7: rows must be overwritten, not added to
    ContinuityMatrices spans() { return {amat, bmat, amata, bmata}; }
    static float at(const std::vector<float>& m, int n, int r, int c) { return m[(r - 1) + (c - 1) * n]; }
};

// r(row) = A(row,:) x - B(row,:) y, and the sum of the magnitudes of its terms.  Each stored
// coefficient is a float rounded once from double (relative error <= eps/2), so a correct
// row leaves |r| <= eps/2 * scale; we allow eps * scale.
struct Residual {
    double value = 0, scale = 0;
    bool holds() const { return std::fabs(value) <= FLT_EPSILON * scale; }
};
Residual residual(const std::vector<float>& a, const std::vector<float>& b, int n, int row,
                  const std::vector<double>& x, const std::vector<double>& y)
{
    Residual r;
    for (int c = 1; c <= n; ++c) {
        const double ta = Matrices::at(a, n, row, c) * x[c - 1];
        const double tb = b.empty() ? 0.0 : Matrices::at(b, n, row, c) * y[c - 1];
        r.value += ta - tb;
        r.scale += std::fabs(ta) + std::fabs(tb);
    }
    return r;
}

// Known values beside the spline: on body sheets dF/dn at the row's point P, on free-surface
// sheets F at the panel centre.
std::vector<double> known_values(const Mesh& m, const Quadratic& F, V3 p)
{
    std::vector<double> y(m.n);
    for (int node = 1; node <= m.n; ++node) {
        const int s = m.sheet_of(node);
        y[node - 1] = (m.kind[s - 1] == kSheetKindBody) ? dot(F.grad(p), m.normal(s)) : F.value(m.centre(node));
    }
    return y;
}

V3 edge_point(const Mesh& m, const PanelConnection& r)
{
    const double st[5][2] = {{0, 0}, {0.5, 0}, {0, -0.5}, {-0.5, 0}, {0, 0.5}};
    return m.at(r.i, st[r.iedge][0], st[r.iedge][1]);
}

std::vector<std::string> stop_lines(const std::function<void()>& run)
{
    try {
        run();
    } catch (const MeshFault& fault) {
        return fault.lines;
    }
    ADD_FAILURE() << "no fault reported";
    return {};
}

Matrices continuity(const Mesh& m, int symmetry, const std::vector<PanelConnection>& pancon)
{
    Matrices mats(m.n);
    sheet_continuity(m.n, symmetry, pancon, m.grid(), m.geometry(), mats.spans());
    return mats;
}

bool row_touches_sheet(const std::vector<float>& a, const Mesh& m, int row, int sheet)
{
    for (int c = 1; c <= m.n; ++c)
        if (m.sheet_of(c) == sheet && Matrices::at(a, m.n, row, c) != 0.0f) return true;
    return false;
}

// Shared geometry: a skewed body sheet, and a second sheet folded up from its u+ edge.
const V3 kEu1{0.5, 0.125, 0}, kEv1{-0.125, 0.5, 0.0625};
SheetSpec base_sheet(int kind = kSheetKindBody) { return {3, 2, kind, {0, 0, 0}, kEu1, kEv1}; }
SheetSpec folded_on_u_edge(int kind) { return {2, 2, kind, 3.0 * kEu1, {0.25, -0.125, 0.375}, kEv1}; }

// ---------------------------------------------------------------------------------------

TEST(FIND_CONNECTIVITY, one_sheet_of_5_by_4_nodes_gives_14_records_in_order_with_corner_blocks)
{
    const Mesh m = build_mesh({base_sheet()});     // 3 x 2 panels: 5 x 4 nodes
    const auto pancon = FIND_CONNECTIVITY(0, m.grid());
    ASSERT_EQ(pancon.size(), 14u);
    struct Want { int iu, iv, iu_i, iv_i, iedge, iglview; };
    const Want want[14] = {{1, 1, 2, 2, -1, 1}, {2, 1, 2, 2, 2, 1}, {3, 1, 3, 2, 2, 2}, {4, 1, 4, 2, 2, 3},
                           {5, 1, 4, 2, -1, 3}, {1, 2, 2, 2, 3, 1}, {5, 2, 4, 2, 1, 3}, {1, 3, 2, 3, 3, 4},
                           {5, 3, 4, 3, 1, 6},  {1, 4, 2, 3, -1, 4}, {2, 4, 2, 3, 4, 4}, {3, 4, 3, 3, 4, 5},
                           {4, 4, 4, 3, 4, 6},  {5, 4, 4, 3, -1, 6}};
    for (int k = 0; k < 14; ++k) {
        const PanelConnection& r = pancon[k];
        SCOPED_TRACE("record " + std::to_string(k + 1));
        EXPECT_EQ(r.ieqn, m.node(1, want[k].iu, want[k].iv));
        EXPECT_EQ(r.i, m.node(1, want[k].iu_i, want[k].iv_i));
        EXPECT_EQ(r.iedge, want[k].iedge);
        EXPECT_EQ(r.iglview, want[k].iglview);
        EXPECT_EQ(r.corner, want[k].iedge < 0);
        EXPECT_EQ(r.isheet, 1);
        EXPECT_EQ(r.i_kp, kSheetKindBody);
        // A lone sheet: every edge is free, and nothing is ever matched.
        EXPECT_EQ(r.outer, !r.corner);
        EXPECT_EQ(r.j, -1);
        EXPECT_EQ(r.ktype, -1);
        EXPECT_FALSE(r.zero_y);
    }
    // jc(a,b) of a corner record sits (a-1) steps along the first and (b-1) along the second
    // inward direction: (+u,+v) at (1,1), (+v,-u) at (nu,1), (-v,+u) at (1,nv), (-v,-u) at (nu,nv).
    const int nu = 5, nv = 4;
    struct Corner { int record, iu, iv, first_u, first_v, second_u, second_v; };
    const Corner corners[4] = {{0, 1, 1, 1, 0, 0, 1}, {4, nu, 1, 0, 1, -1, 0}, {9, 1, nv, 0, -1, 1, 0},
                               {13, nu, nv, 0, -1, -1, 0}};
    for (const Corner& c : corners)
        for (int b = 1; b <= 3; ++b)
            for (int a = 1; a <= 3; ++a) {
                const int iu = c.iu + (a - 1) * c.first_u + (b - 1) * c.second_u;
                const int iv = c.iv + (a - 1) * c.first_v + (b - 1) * c.second_v;
                EXPECT_EQ(pancon[c.record].jc_at(a, b), m.node(1, iu, iv)) << c.record << " " << a << b;
            }
}

TEST(FIND_CONNECTIVITY, shared_edge_partners_meet_at_distance_zero_and_another_kind_is_outer)
{
    for (const int kind : {kSheetKindBody, kSheetKindFreeSurface}) {
        SCOPED_TRACE("second sheet of kind " + std::to_string(kind));
        const Mesh m = build_mesh({base_sheet(), folded_on_u_edge(kind)});
        const auto pancon = FIND_CONNECTIVITY(0, m.grid());
        ASSERT_EQ(pancon.size(), 14u + 12u);
        int matched = 0;
        for (const PanelConnection& r : pancon) {
            int s, iu, iv;
            m.locate(r.ieqn, s, iu, iv);
            const bool shared = !r.corner && ((s == 1 && iu == 5) || (s == 2 && iu == 1));
            EXPECT_EQ(r.j > 0, shared) << "ghost " << r.ieqn;
            if (!shared) {
                EXPECT_EQ(r.outer, !r.corner);
                continue;
            }
            ++matched;
            // The ghost at (5, iv) of sheet 1 faces panel (2, iv) of sheet 2 and vice versa.
            EXPECT_EQ(r.j, s == 1 ? m.node(2, 2, iv) : m.node(1, 4, iv));
            EXPECT_EQ(r.jsheet, 3 - s);
            EXPECT_EQ(r.jedge, s == 1 ? 3 : 1);
            EXPECT_EQ(r.jglview, s == 1 ? (iv - 2) * 2 + 1 : (iv - 2) * 3 + 3);
            EXPECT_EQ(r.i_kp, m.kind[r.isheet - 1]);
            EXPECT_EQ(r.j_kp, m.kind[r.jsheet - 1]);
            // A neighbour of another kind is found, but its edge stays outer.
            EXPECT_EQ(r.outer, kind != kSheetKindBody);
            if (kind == kSheetKindBody) {
                EXPECT_EQ(r.ktype, s);
            }
            // The matched point on j is the midpoint of i's facing edge, exactly.
            const V3 on_j = m.at(r.j, r.u, r.v), mid = edge_point(m, r);
            EXPECT_EQ(on_j.x, mid.x);
            EXPECT_EQ(on_j.y, mid.y);
            EXPECT_EQ(on_j.z, mid.z);
        }
        EXPECT_EQ(matched, 4);
    }
}

// A sheet one node wide counts its corner nodes twice; a ghost node marked active stops with
// record 3 dumped whole (corner, jc(9), posy0(3), zero_y, outer, then isheet iedge jedge
// jsheet ieqn i j i_kp j_kp iglview jglview ktype u v); so does record 1 when its inner panel
// is marked a ghost.
TEST(FIND_CONNECTIVITY, bad_grids_stop_with_their_messages)
{
    const std::string error = "ERROR: Error detected in FIND_CONNECTIVITY";
    const std::string unset = "3.4028234663852886E+38 3.4028234663852886E+38 3.4028234663852886E+38";   // posy0
    const struct {
        std::function<void(Mesh&)> spoil;
        std::vector<std::string> lines;
    } cases[] = {
        {[](Mesh& m) { m.nu[0] = 1; m.nv[0] = 3; },
         {error, "ip /= n_boundary_panel", "ip               =  6", "n_boundary_panel =  4"}},
        {[](Mesh& m) { m.indom[m.node(1, 3, 1) - 1] = 1; }, {error, "indom( pancon(ip)%ieqn ) > 0", "ip =  3",
          "pancon(ip) =  F -1 -1 -1 -1 -1 -1 -1 -1 -1 " + unset + " F F 1 2 -1 0 3 8 -1 2 -1 2 -1 -1 0.0 0.0"}},
        {[](Mesh& m) { m.indom[m.node(1, 2, 2) - 1] = 0; }, {error, "indom( pancon(ip)%i ) = 0", "ip =  1",
          "pancon(ip) =  T 1 2 3 6 7 8 11 12 13 " + unset + " F F 1 -1 -1 0 1 7 -1 2 -1 1 -1 -1 0.0 0.0"}},
    };
    for (const auto& c : cases) {
        Mesh m = build_mesh({base_sheet()});
        c.spoil(m);
        EXPECT_EQ(stop_lines([&] { (void)FIND_CONNECTIVITY(0, m.grid()); }), c.lines);
    }
}

// ---------------------------------------------------------------------------------------

TEST(sheet_continuity, corner_rows_vanish_for_quadratics_in_the_grid_indices)
{
    const Mesh m = build_mesh({base_sheet()});
    const auto pancon = FIND_CONNECTIVITY(1, m.grid());
    Matrices mats = continuity(m, 1, pancon);
    std::vector<double> quadratic(m.n), cubic(m.n), none(m.n, 0.0);
    for (int node = 1; node <= m.n; ++node) {
        int s, iu, iv;
        m.locate(node, s, iu, iv);
        quadratic[node - 1] = 3 - 2 * iu + 5 * iv + 1.5 * iu * iu - 4 * iu * iv + 0.75 * iv * iv;
        cubic[node - 1] = iu * iu * iv;     // leaves 4 times its a^2 b or a b^2 part: +-4
    }
    for (const PanelConnection& r : pancon) {
        if (!r.corner) continue;
        EXPECT_TRUE(residual(mats.amat, mats.bmat, m.n, r.ieqn, quadratic, none).holds()) << r.ieqn;
        EXPECT_TRUE(residual(mats.amata, mats.bmata, m.n, r.ieqn, quadratic, none).holds()) << r.ieqn;
        // Not an empty identity: a cubic leaves a remainder.
        EXPECT_EQ(std::fabs(residual(mats.amat, mats.bmat, m.n, r.ieqn, cubic, none).value), 4.0);
        for (int c = 1; c <= m.n; ++c) EXPECT_EQ(Matrices::at(mats.bmat, m.n, r.ieqn, c), 0.0f);
    }
}

// Matched rows vanish for a quadratic field's own coefficients and known values: body sheets
// folded from sheet 1's u+ edge (edges 1 and 3 meet) and from its v+ edge (4 and 2), and two
// coplanar free-surface sheets, skewed and of different spacing across the edge.  Each matched
// pair writes one value row (ktype 1) and one slope row (ktype 2).
TEST(sheet_continuity, matched_rows_hold_for_a_quadratic_field)
{
    const Quadratic F{0.4, {0.7, -1.1, 0.9}, 1.3, -0.6, 0.8, 0.45, -0.35, 0.55};
    const V3 ev{-0.125, 0.5, 0};
    const std::vector<SheetSpec> cases[] = {
        {base_sheet(), folded_on_u_edge(kSheetKindBody)},
        {base_sheet(), {3, 2, kSheetKindBody, 2.0 * kEv1, kEu1, {0.125, 0.25, 0.5}}},
        {{2, 3, kSheetKindFreeSurface, {0, 0, 0}, {0.5, 0.125, 0}, ev},
         {2, 3, kSheetKindFreeSurface, {1, 0.25, 0}, {0.25, -0.125, 0}, ev}}};
    for (const auto& sheets : cases) {
        const Mesh m = build_mesh(sheets);
        const bool body = m.kind[0] == kSheetKindBody;
        SCOPED_TRACE(body ? "body" : "free surface");
        const auto pancon = FIND_CONNECTIVITY(0, m.grid());
        Matrices mats = continuity(m, 0, pancon);
        const std::vector<double> x = spline_coefficients(m, {F, F});
        int rows[3] = {0, 0, 0};
        for (const PanelConnection& r : pancon) {
            if (r.j < 1) continue;
            ++rows[r.ktype];
            const Residual res = residual(mats.amat, mats.bmat, m.n, r.ieqn, x, known_values(m, F, edge_point(m, r)));
            EXPECT_TRUE(res.holds()) << "ieqn " << r.ieqn << " ktype " << r.ktype << ": " << res.value;
            EXPECT_TRUE(row_touches_sheet(mats.amat, m, r.ieqn, 1) && row_touches_sheet(mats.amat, m, r.ieqn, 2));
            // B holds only a body slope row's normal parts -(n_i.d) and +(n_j.d), d the chord
            // between the centres; the other rows hold unknowns only.
            const V3 d = m.centre(r.j) - m.centre(r.i);
            const bool known = body && r.ktype == 2;
            for (int c = 1; c <= m.n; ++c) {
                const double want = !known ? 0.0 : c == r.i ? -dot(m.normal(r.isheet), d) : c == r.j ? dot(m.normal(r.jsheet), d) : 0.0;
                EXPECT_NEAR(Matrices::at(mats.bmat, m.n, r.ieqn, c), want, FLT_EPSILON) << r.ieqn << ", column " << c;
            }
        }
        EXPECT_EQ(rows[1], rows[2]);
        EXPECT_GE(rows[1], 2);   // one pair per panel along the shared edge
    }
}

TEST(sheet_continuity, free_surface_slope_rows_see_a_kink_across_the_edge)
{
    const Quadratic sigma{0.2, {0.6, -0.9, 0.3}, 1.1, 0.7, -0.4, -0.8, 0.25, 0.5};
    const V3 ev{-0.125, 0.5, 0};
    const Mesh m = build_mesh({{2, 3, kSheetKindFreeSurface, {0, 0, 0}, {0.5, 0.125, 0}, ev},
                               {2, 3, kSheetKindFreeSurface, {1, 0.25, 0}, {0.25, -0.125, 0}, ev}});
    const auto pancon = FIND_CONNECTIVITY(0, m.grid());
    Matrices mats = continuity(m, 0, pancon);
    const std::vector<double> nothing(m.n, 0.0);
    // A kink along the edge line: sigma + lambda dist on sheet 2 is continuous but its slope
    // across the edge jumps.  Value rows still hold, slope rows must not: d crosses the edge.
    Quadratic kinked = sigma;
    const V3 across = cross({0, 0, 1}, ev);                 // in the plane, normal to the edge
    kinked.g = kinked.g + 0.75 * across;
    kinked.c0 -= 0.75 * dot(across, V3{1, 0.25, 0});        // zero on the common edge line
    const std::vector<double> xk = spline_coefficients(m, {sigma, kinked});
    for (const PanelConnection& r : pancon)
        if (r.j > 0) {
            EXPECT_EQ(residual(mats.amat, mats.bmat, m.n, r.ieqn, xk, nothing).holds(), r.ktype == 1) << r.ieqn;
        }
    // d is normal to the edge within the surface: a field changing only along the edge line
    // has no slope across it, seen from either side alone.
    for (const PanelConnection& r : pancon)
        if (r.ktype == 2) {
            std::vector<Quadratic> one_side(2);
            one_side[r.isheet - 1] = {0.0, ev};
            const std::vector<double> xe = spline_coefficients(m, one_side);
            EXPECT_TRUE(residual(mats.amat, mats.bmat, m.n, r.ieqn, xe, nothing).holds()) << r.ieqn;
        }
}

TEST(sheet_continuity, zero_row_stops_as_singular_and_dumps_connectivity)
{
    // A sheet lying in the symmetry plane: every edge is zero_y and has no y slope at all.
    const torva::testing::TempDir dir("connectivity");
    const std::string info = dir.file("connectivity.info");
    const Mesh m = build_mesh({{2, 2, kSheetKindBody, {0, 0, 0}, {0.5, 0, 0}, {0, 0, 0.5}}});
    const auto pancon = FIND_CONNECTIVITY(1, m.grid());
    Matrices mats(m.n);
    const auto lines = stop_lines(
        [&] { sheet_continuity(m.n, 1, pancon, m.grid(), m.geometry(), mats.spans(), info); });
    EXPECT_EQ(lines, (std::vector<std::string>{"ERROR: Error detected in 'sheet_continuity'",
                                               "Singular equation detected 'amat' ieqn =  2",
                                               "index of boundary number =  2"}));
    std::ifstream in(info);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, " Boundary panel:  1");
}

TEST(connectivity_info, layout_line_by_line)
{
    // Sheet 1 (nodes 1..9) has its lower edge on y = 0; sheet 2 (nodes 10..18) is folded
    // from its u+ edge.
    const Mesh m = build_mesh({{1, 1, kSheetKindBody, {0, 0, 0}, {0.5, 0, 0}, {0, 0.5, 0}},
                               {1, 1, kSheetKindBody, {0.5, 0, 0}, {0.25, 0.125, 0.5}, {0, 0.5, 0}}});
    const auto pancon = FIND_CONNECTIVITY(1, m.grid());
    const torva::testing::TempDir dir("connectivity_info");
    write_connectivity_info(pancon, m.xct, dir.file("connectivity.info"));
    std::ifstream in(dir.file("connectivity.info"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);

    const std::vector<std::string> head = {" Boundary panel:  1", "     %i      =  5", "     %ieqn   =  1",
                                           "     %corner =  T", "     %zero_y =  F", "     %outer  =  F",
                                           "     %isheet =  1", "     %iglview=  1", "     %i_kp   =  2",
                                           "     xct(:,i)=  0.25 0.25 0.0"};
    std::vector<std::string> want = head;
    for (int b = 1; b <= 3; ++b)
        for (int a = 1; a <= 3; ++a)
            want.push_back("     %jc(i,j)=  " + std::to_string(a) + " " + std::to_string(b) + " " +
                           std::to_string(a + 3 * (b - 1)));
    // Record 2: the lower edge, in the symmetry plane.
    for (const char* s : {" Boundary panel:  2", "     %i      =  5", "     %ieqn   =  2", "     %corner =  F",
                          "     %zero_y =  T", "     %outer  =  F", "     %isheet =  1", "     %iglview=  1",
                          "     %i_kp   =  2", "     xct(:,i)=  0.25 0.25 0.0", "     %posy0  =  0.25 0.0 0.0",
                          "     %iedge  =  2"})
        want.push_back(s);
    ASSERT_GE(lines.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(lines[k], want[k]) << "line " << k + 1;

    // Record 4: the free left edge, no tail; record 5: the right edge, matched on sheet 2.
    auto from = [&](const std::string& first) {
        std::size_t k = 0;
        while (k < lines.size() && lines[k] != first) ++k;
        return k;
    };
    const std::size_t r4 = from(" Boundary panel:  4"), r5 = from(" Boundary panel:  5");
    EXPECT_EQ(r5 - r4, 10u);
    EXPECT_EQ(lines[r4 + 5], "     %outer  =  T");
    const std::vector<std::string> tail5 = {"     %j      =  14", "     %iedge  =  1", "     %jedge  =  3",
                                            "     %jsheet =  2", "     %j_kp   =  2", "     %jglview=  1",
                                            "     %ktype  =  1", "     %u, %v  =  -0.5 0.0",
                                            "     xct(:,j)=  0.625 0.3125 0.25"};
    ASSERT_GE(lines.size(), r5 + 10 + tail5.size());
    for (std::size_t k = 0; k < tail5.size(); ++k) EXPECT_EQ(lines[r5 + 10 + k], tail5[k]);
    // 16 records: 8 corners of 19 lines, 1 zero_y record of 12, 1 matched pair of 19 each,
    // and 5 free edges of 10.
    EXPECT_EQ(lines.size(), 8u * 19 + 12 + 2 * 19 + 5 * 10);
}

}  // namespace
