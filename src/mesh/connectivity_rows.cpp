// sheet_continuity: the equation rows of the ghost nodes.
//
// On every panel the spline field is
//     f(s, t) = sum_k w_k(s, t) c(node_k),   w_k = 64 b_a(s) b_b(t),   k = 1 + a + 3 b      (1)
//     b_0(x) = (x^2 - x)/2 + 1/8,   b_1(x) = 3/4 - x^2,   b_2(x) = (x^2 + x)/2 + 1/8,
// node_k the k-th entry of the panel's node table (a along s, b along t).  The panel itself is
// the bilinear surface through its corners P1..P4 = stored corners 3, 2, 1, 4:
//     X(s, t) = C + A s + B t + D s t,   X_s = A + D t,   X_t = B + D s,   N = X_s x X_t,
//     n = N/|N|,   e_s = (X_t x n)/|N|,   e_t = (n x X_s)/|N|                                (2)
// e_s, e_t are the dual tangents (e_s.X_s = 1, e_s.X_t = 0, e_s.n = 0), so the surface
// gradient is e_s f_s + e_t f_t and the derivative of the potential phi along a direction d is
//     d phi/d d = sum_k (dw_k/ds (e_s.d) + dw_k/dt (e_t.d)) c_k + (n.d) dphi/dn = D(d).c + (n.d) q  (3)
//
// What is unknown depends on the sheet kind.  On a body sheet (kind 2) the spline is phi and
// the normal velocity q = dphi/dn is known per panel.  On a free-surface sheet (kind 3) the
// spline is sigma = dphi/dn and phi is known per panel, so its surface derivative comes from
// differences of panel values; one grid step is one unit of s (or t), hence
//     phi_s ~ f (phi(after) - phi(before)),   f = 1/2 central, f = 1 one-sided            (4)
// with the panel itself standing in for a neighbour that is not a domain panel.
//
// Rows are written as amat(ieqn, :) x = bmat(ieqn, :) y: unknowns on the left, known panel
// values on the right.  For a neighbour pair (i, j) across an edge:
//   value row (ktype 1)   phi_i(P) = phi_j(P)                                             (5)
//   slope row (ktype 2)   dphi_i/dd (P) = dphi_j/dd (P), both sides by (3) or (4)          (6)
// and for two free-surface sheets the same continuity for the spline sigma itself (7).
// Corners:  3c11 - 4c21 + c31 - 4c12 + 4c22 + c13 - c33 = 0, exact for quadratics       (8)
// Outer:    c(ieqn) - 2 c(ieqn + step) + c(ieqn + 2 step) = 0                            (9)
// Symmetry plane:  dphi/dy = 0 (symmetric system),  phi = 0 (antisymmetric)             (10)
#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

#include "frame/list_directed.hpp"
#include "mesh/connectivity.hpp"

namespace torva {

namespace {

template <class... Items>
std::string message_line(const Items&... items)
{
    return list_directed(items...).substr(1);
}

struct Vec {
    double x = 0, y = 0, z = 0;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(double f, Vec a) { return {f * a.x, f * a.y, f * a.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// The spline and the surface at one point (s, t) of one panel.
struct SplinePoint {
    std::array<int, 9> nodes{};
    std::array<double, 9> w{}, w_s{}, w_t{};     // (1) and its parameter derivatives
    Vec n, e_s, e_t;                             // (2)

    // Weights of the derivative along d, the D(d) of (3).
    [[nodiscard]] std::array<double, 9> along(Vec d) const
    {
        const double ds = dot(e_s, d), dt = dot(e_t, d);
        std::array<double, 9> out{};
        for (int k = 0; k < 9; ++k) out[k] = w_s[k] * ds + w_t[k] * dt;
        return out;
    }
};

// Where the patch normal vanishes (a collapsed edge, a triangle-like panel), the mean normal
// A x B of the panel stands in for X_s x X_t; 1e-12 is far below |N|^2 of any panel that
// lengths scaled by ALENGTH produce, yet far above the rounding of a true zero.
constexpr double kDegenerateNormal2 = 1.0e-12;

SplinePoint spline_point(const SheetGrid& grid, const ContinuityGeometry& geometry, int panel, double s, double t)
{
    SplinePoint p;
    const std::size_t base = static_cast<std::size_t>(to_panel_index(panel));
    for (int k = 0; k < 9; ++k) p.nodes[k] = geometry.node_table[9 * base + k];

    const double b[3] = {(s * s - s) / 2 + 0.125, 0.75 - s * s, (s * s + s) / 2 + 0.125};
    const double db[3] = {s - 0.5, -2 * s, s + 0.5};
    const double c[3] = {(t * t - t) / 2 + 0.125, 0.75 - t * t, (t * t + t) / 2 + 0.125};
    const double dc[3] = {t - 0.5, -2 * t, t + 0.5};
    for (int bb = 0; bb < 3; ++bb)
        for (int a = 0; a < 3; ++a) {
            const int k = a + 3 * bb;
            p.w[k] = 64 * b[a] * c[bb];
            p.w_s[k] = 64 * db[a] * c[bb];
            p.w_t[k] = 64 * b[a] * dc[bb];
        }

    const float* q = grid.corners.data() + 12 * base;
    auto stored = [&](int k) { return Vec{q[k - 1], q[4 + k - 1], q[8 + k - 1]}; };
    const Vec p1 = stored(3), p2 = stored(2), p3 = stored(1), p4 = stored(4);
    const Vec A = 0.5 * ((p2 + p3) - (p1 + p4));
    const Vec B = 0.5 * ((p3 + p4) - (p1 + p2));
    const Vec D = (p1 - p2) + (p3 - p4);
    const Vec x_s = A + t * D, x_t = B + s * D;
    Vec N = cross(x_s, x_t);
    if (dot(N, N) < kDegenerateNormal2) N = cross(A, B);
    const double area = std::sqrt(dot(N, N));
    if (area > 0) {
        p.n = (1 / area) * N;
        p.e_s = (1 / area) * cross(x_t, p.n);
        p.e_t = (1 / area) * cross(p.n, x_s);
    }
    return p;
}

// Parameter point of the middle of edge `iedge` on panel i.
std::pair<double, double> edge_parameter(int iedge)
{
    switch (iedge) {
    case 1: return {0.5, 0.0};
    case 2: return {0.0, -0.5};
    case 3: return {-0.5, 0.0};
    default: return {0.0, 0.5};
    }
}

// The in-surface direction that crosses an edge: e_s across the u-edges 1 and 3, e_t across
// the v-edges 2 and 4.
Vec crossing_direction(const SplinePoint& p, int edge) { return (edge == 1 || edge == 3) ? p.e_s : p.e_t; }

Vec point_of(std::span<const float> xct, int node)
{
    const float* p = xct.data() + 3 * static_cast<std::size_t>(to_panel_index(node));
    return {p[0], p[1], p[2]};
}

// A row under construction: (column, coefficient) pairs, summed per column in double.
struct Row {
    std::vector<std::pair<int, double>> entries;
    void add(int column, double value)
    {
        if (column <= 0) return;   // outside the padded sheet: no unknown there
        for (auto& e : entries)
            if (e.first == column) {
                e.second += value;
                return;
            }
        entries.emplace_back(column, value);
    }
    void add(const SplinePoint& p, const std::array<double, 9>& weights, double sign)
    {
        for (int k = 0; k < 9; ++k) add(p.nodes[k], sign * weights[k]);
    }
};

struct RecordRows {
    Row a, b;        // symmetric system and its companion
    Row aa, ba;      // antisymmetric pair
};

void write_row(std::span<float> m, int n, int row, const Row& r)
{
    const std::size_t rn = static_cast<std::size_t>(n);
    const std::size_t ri = static_cast<std::size_t>(to_panel_index(row));
    for (std::size_t c = 0; c < rn; ++c) m[ri + c * rn] = 0.0f;
    for (const auto& [column, value] : r.entries)
        m[ri + static_cast<std::size_t>(to_panel_index(column)) * rn] = static_cast<float>(value);
}

bool row_is_zero(std::span<const float> m, int n, int row)
{
    const std::size_t rn = static_cast<std::size_t>(n);
    const std::size_t ri = static_cast<std::size_t>(to_panel_index(row));
    for (std::size_t c = 0; c < rn; ++c)
        if (m[ri + c * rn] != 0.0f) return false;
    return true;
}

[[noreturn]] void stop_unsupported()
{
    throw MeshFault({"ERROR: Error detected in 'sheet_continuity'", "The procedure can not yet handle this sheets."});
}

struct Context {
    const SheetGrid& grid;
    const ContinuityGeometry& geometry;
};

// (4) along d for a free-surface panel: the u difference weighted by e_s.d, the v difference
// by e_t.d, added to the companion row with `sign`.  `sheet` names the panel's sheet in the
// message when a direction has no domain panel on either side.
void add_panel_differences(const Context& ctx, Row& row, const SplinePoint& p, int panel, int sheet, Vec d,
                           double sign)
{
    struct Direction {
        int before, after;     // node-table entries (1-based)
        double weight;
        const char* message;
    };
    const Direction directions[2] = {{4, 6, dot(p.e_s, d), "Less than two physical panels in u-dir"},
                                     {2, 8, dot(p.e_t, d), "Less than two physical panels in v-dir"}};
    const auto is_domain = [&](int node) { return node > 0 && ctx.grid.indom[to_panel_index(node)] >= 1; };
    for (const Direction& dir : directions) {
        int before = p.nodes[dir.before - 1], after = p.nodes[dir.after - 1];
        const bool has_before = is_domain(before), has_after = is_domain(after);
        if (!has_before && !has_after)
            throw MeshFault({"ERROR: Error detected in 'sheet continuity'", dir.message,
                                           message_line("for sheet number:", sheet)});
        const double f = (has_before && has_after) ? 0.5 : 1.0;
        if (!has_before) before = panel;
        if (!has_after) after = panel;
        row.add(after, sign * f * dir.weight);
        row.add(before, -sign * f * dir.weight);
    }
}

// Rows (5)-(7) of a record with a neighbour panel j.
void neighbour_rows(const Context& ctx, int ip, const PanelConnection& r, RecordRows& rows)
{
    if (r.j < 1)
        throw MeshFault({"ERROR: Error detected in 'sheet_continuity'", message_line("i           = ", ip),
                                       message_line("pancon(i)%i = ", r.i), message_line("pancon(i)%j = ", r.j)});
    if (r.j_kp != kSheetKindBody && r.j_kp != kSheetKindFreeSurface) stop_unsupported();
    if (r.ktype != 1 && r.ktype != 2)
        throw MeshFault({"ERROR: Error in boundary connectivity", message_line("panel", r.i, " ktype", r.ktype)});

    const auto [s, t] = edge_parameter(r.iedge);
    const SplinePoint pi = spline_point(ctx.grid, ctx.geometry, r.i, s, t);
    const SplinePoint pj = spline_point(ctx.grid, ctx.geometry, r.j, r.u, r.v);
    const bool body_i = r.i_kp == kSheetKindBody, body_j = r.j_kp == kSheetKindBody;
    Row& a = rows.a;
    Row& b = rows.b;

    if (r.ktype == 1) {
        // (5): a spline of phi meets a spline of phi, or the known panel value of phi on the
        // free-surface side.  Two free-surface sheets: continuity of the spline sigma (7).
        if (body_i == body_j) {
            a.add(pi, pi.w, +1.0);
            a.add(pj, pj.w, -1.0);
        } else if (body_i) {
            a.add(pi, pi.w, +1.0);
            b.add(r.j, 1.0);
        } else {
            a.add(pj, pj.w, +1.0);
            b.add(r.i, 1.0);
        }
    } else if (body_i && body_j) {
        // (6) by (3) on both sides, d the chord between the two collocation points.  The normal
        // parts (n.d) q are known and go to the companion matrix.
        const Vec d = point_of(ctx.geometry.xct, r.j) - point_of(ctx.geometry.xct, r.i);
        a.add(pi, pi.along(d), +1.0);
        a.add(pj, pj.along(d), -1.0);
        b.add(r.i, -dot(pi.n, d));
        b.add(r.j, +dot(pj.n, d));
    } else if (body_i) {
        // (6), body panel i against free-surface panel j, d crossing the edge in i's surface.
        //   D_i(d).c_i + (n_i.d) q_i = [(4) of phi_j along d] + (n_j.d) sigma_j(u, v)
        // The free surface's normal part (n_j.d) sigma_j is an unknown and stays in the row:
        // without it the row would hold body unknowns only, and the free-surface ghost
        // coefficients of this edge would be left without any equation.
        const Vec d = crossing_direction(pi, r.iedge);
        a.add(pi, pi.along(d), +1.0);
        a.add(pj, pj.w, -dot(pj.n, d));
        b.add(r.i, -dot(pi.n, d));
        add_panel_differences(ctx, b, pj, r.j, r.jsheet, d, +1.0);
    } else if (body_j) {
        // (6), free-surface panel i against body panel j.  d is the direction that crosses the
        // edge in the body's surface (e_s or e_t of j by jedge), the same direction the body's
        // own record uses.  Any d tangent to the free surface would make n_i.d = 0 and drop
        // sigma_i, the only unknown of this sheet in the row (see above).
        //   (n_i.d) sigma_i(P) - D_j(d).c_j = -[(4) of phi_i along d] + (n_j.d) q_j
        const Vec d = crossing_direction(pj, r.jedge);
        a.add(pi, pi.w, dot(pi.n, d));
        a.add(pj, pj.along(d), -1.0);
        add_panel_differences(ctx, b, pi, r.i, r.isheet, d, -1.0);
        b.add(r.j, +dot(pj.n, d));
    } else {
        // (7): two free-surface sheets, continuity of the tangential derivative of sigma
        // across the edge, d crossing it in i's surface.  sigma has no normal part to carry,
        // so the companion row stays empty.
        const Vec d = crossing_direction(pi, r.iedge);
        a.add(pi, pi.along(d), +1.0);
        a.add(pj, pj.along(d), -1.0);
    }
    rows.aa = rows.a;
    rows.ba = rows.b;
}

// (10) at the edge point of panel i.  Symmetric system: the y derivative vanishes; on a body
// sheet that is (3) with d = y, the normal part -n_y q on the right.  On a free-surface sheet
// the spline sigma is itself even in y and its y derivative vanishes, with nothing known to
// move across.  Antisymmetric system: the spline itself vanishes.
void symmetry_plane_rows(const Context& ctx, const PanelConnection& r, RecordRows& rows)
{
    const auto [s, t] = edge_parameter(r.iedge);
    const SplinePoint pi = spline_point(ctx.grid, ctx.geometry, r.i, s, t);
    const Vec y_axis{0.0, 1.0, 0.0};
    rows.a.add(pi, pi.along(y_axis), +1.0);
    if (r.i_kp == kSheetKindBody) rows.b.add(r.i, -pi.n.y);
    rows.aa.add(pi, pi.w, +1.0);
}

}  // namespace

void sheet_continuity(int n, int symmetry, std::span<const PanelConnection> pancon,
                      const SheetGrid& grid, const ContinuityGeometry& geometry,
                      const ContinuityMatrices& matrices, const std::string& info_path)
{
    const std::size_t n2 = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    assert(matrices.amat.size() >= n2 && matrices.bmat.size() >= n2);
    assert(symmetry <= 0 || (matrices.amata.size() >= n2 && matrices.bmata.size() >= n2));
    (void)n2;
    const Context ctx{grid, geometry};

    for (std::size_t k = 0; k < pancon.size(); ++k) {
        const int ip = static_cast<int>(k) + 1;
        const PanelConnection& r = pancon[k];
        if (r.i_kp != kSheetKindBody && r.i_kp != kSheetKindFreeSurface) stop_unsupported();

        RecordRows rows;
        if (r.corner) {                                                                     // (8)
            const double coefficient[3][3] = {{3, -4, 1}, {-4, 4, 0}, {1, 0, -1}};   // [b-1][a-1]
            for (int bb = 1; bb <= 3; ++bb)
                for (int a = 1; a <= 3; ++a)
                    if (coefficient[bb - 1][a - 1] != 0) rows.a.add(r.jc_at(a, bb), coefficient[bb - 1][a - 1]);
            rows.aa = rows.a;
        } else if (r.outer) {                                                               // (9)
            // A collapsed edge on the symmetry plane is outer as well as zero_y; the second
            // difference is taken, as the y derivative of a collapsed edge has no direction.
            const int nu = grid.nu[r.isheet - 1];
            const int step = (r.iedge == 1) ? -1 : (r.iedge == 2) ? nu : (r.iedge == 3) ? 1 : -nu;
            rows.a.add(r.ieqn, 1.0);
            rows.a.add(r.ieqn + step, -2.0);
            rows.a.add(r.ieqn + 2 * step, 1.0);
            rows.aa = rows.a;
        } else if (r.zero_y) {
            symmetry_plane_rows(ctx, r, rows);
        } else {
            neighbour_rows(ctx, ip, r, rows);
        }

        write_row(matrices.amat, n, r.ieqn, rows.a);
        write_row(matrices.bmat, n, r.ieqn, rows.b);
        if (symmetry > 0) {
            write_row(matrices.amata, n, r.ieqn, rows.aa);
            write_row(matrices.bmata, n, r.ieqn, rows.ba);
        }
    }

    for (std::size_t k = 0; k < pancon.size(); ++k) {
        const int ip = static_cast<int>(k) + 1;
        const int ieqn = pancon[k].ieqn;
        const char* singular = nullptr;
        if (row_is_zero(matrices.amat, n, ieqn))
            singular = "Singular equation detected 'amat' ieqn = ";
        else if (symmetry > 0 && row_is_zero(matrices.amata, n, ieqn))
            singular = "Singular equation detected 'amata' ieqn = ";
        if (singular) {
            write_connectivity_info(pancon, geometry.xct, info_path);
            throw MeshFault({"ERROR: Error detected in 'sheet_continuity'", message_line(singular, ieqn),
                                       message_line("index of boundary number = ", ip)});
        }
    }
}

void sheet_continuity(int symmetry, std::span<const PanelConnection> pancon,
                      const PanelModel& panels, const ContinuityMatrices& matrices, const std::string& info_path)
{
    const SheetGrid grid{panels.n_sheets, panels.np1, panels.np2, panels.kp, panels.active, panels.corners};
    const ContinuityGeometry geometry{panels.node_table, panels.colloc};
    sheet_continuity(panels.n_panels, symmetry, pancon, grid, geometry, matrices, info_path);
}

}  // namespace torva
