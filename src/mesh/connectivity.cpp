// FIND_CONNECTIVITY and the connectivity.info dump.
//
// For every ghost node the record names the interior panel i next to it and the edge of i
// that faces it (iedge).  The neighbour across that edge is found geometrically:
//
//   M   = midpoint of the facing edge of panel i                                    (1)
//   h   = |M - midpoint of the opposite edge of i|,   search radius r = 0.1 h           (2)
//   for a candidate edge P_a -> P_b of an active panel of another sheet:
//   tau = ((M - P_a).(P_b - P_a)) / |P_b - P_a|^2, clamped to [0, 1]                  (3)
//   d   = |M - (P_a + tau (P_b - P_a))|                                               (4)
//
// and the edge with the smallest d < r wins (strictly smaller: the first of equal distances
// is kept).  tau places the matched point on the parameter square of panel j:
//   edge 1: (1/2, 1/2 - tau)   edge 2: (1/2 - tau, -1/2)   edge 3: (-1/2, tau - 1/2)
//   edge 4: (tau - 1/2, 1/2)                                                          (5)
// which is corner 1 = (1/2, 1/2), corner 2 = (1/2, -1/2), corner 3 = (-1/2, -1/2),
// corner 4 = (-1/2, 1/2) walked along the edge from its first corner.
#include "mesh/connectivity.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <new>

#include "frame/list_directed.hpp"
#include "frame/units.hpp"

namespace torva {

namespace {

// A list-directed line without its leading blank: the stop that writes it adds that itself.
template <class... Items>
std::string message_line(const Items&... items)
{
    return list_directed(items...).substr(1);
}

struct PointF { float x, y, z; };
struct PointD { double x, y, z; };

// Corner k (1..4) of node `node` from the corner table (x1..x4, y1..y4, z1..z4).
PointF corner_of(std::span<const float> corners, int node, int k)
{
    const float* c = corners.data() + 12 * static_cast<std::size_t>(to_panel_index(node));
    return {c[k - 1], c[4 + k - 1], c[8 + k - 1]};
}

PointD widen(PointF p) { return {p.x, p.y, p.z}; }

float distance_f(PointF a, PointF b)
{
    const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double distance_d(PointD a, PointD b)
{
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

PointD midpoint_d(PointF a, PointF b)
{
    return {0.5 * (double{a.x} + double{b.x}), 0.5 * (double{a.y} + double{b.y}),
            0.5 * (double{a.z} + double{b.z})};
}

// Corners of the facing edge of panel i for iedge 1..4, and of the edge opposite it.
constexpr int kFacingEdge[5][2] = {{0, 0}, {1, 2}, {2, 3}, {3, 4}, {1, 4}};
constexpr int kOppositeEdge[5][2] = {{0, 0}, {3, 4}, {1, 4}, {1, 2}, {2, 3}};
// Corners of a candidate's edge e, from its first to its second corner.
constexpr int kEdgeWalk[5][2] = {{0, 0}, {1, 2}, {2, 3}, {3, 4}, {4, 1}};

// (5): the matched point on the parameter square of the candidate.
void matched_parameter(int edge, double tau, double& u, double& v)
{
    switch (edge) {
    case 1: u = 0.5; v = 0.5 - tau; break;
    case 2: u = 0.5 - tau; v = -0.5; break;
    case 3: u = -0.5; v = tau - 0.5; break;
    default: u = tau - 0.5; v = 0.5; break;
    }
}

int node_number(int offset, int nu, int iu, int iv) { return offset + iu + (iv - 1) * nu; }

// Step 1 without geometry: the records of every sheet in their fixed order.
void enumerate_ghost_nodes(const SheetGrid& grid, std::vector<PanelConnection>& pancon)
{
    int offset = 0;
    for (int s = 1; s <= grid.n_sheets; ++s) {
        const int nu = grid.nu[s - 1], nv = grid.nv[s - 1], kind = grid.kind[s - 1];
        auto node = [&](int iu, int iv) { return node_number(offset, nu, iu, iv); };
        auto add = [&](int iu, int iv, int iu_i, int iv_i, int iedge) -> PanelConnection& {
            PanelConnection& r = pancon.emplace_back();
            r.isheet = s;
            r.i_kp = kind;
            r.ieqn = node(iu, iv);
            r.i = node(iu_i, iv_i);
            r.iedge = iedge;
            r.iglview = (iv_i - 2) * (nu - 2) + (iu_i - 1);
            return r;
        };
        // Corner block: jc(a,b) = corner + (a-1) first + (b-1) second, the two inward steps.
        auto add_corner = [&](int iu, int iv, int iu_i, int iv_i, int first, int second) {
            PanelConnection& r = add(iu, iv, iu_i, iv_i, -1);
            r.corner = true;
            for (int b = 1; b <= 3; ++b)
                for (int a = 1; a <= 3; ++a)
                    r.jc[(a - 1) + 3 * (b - 1)] = r.ieqn + (a - 1) * first + (b - 1) * second;
        };
        add_corner(1, 1, 2, 2, +1, +nu);
        for (int iu = 2; iu <= nu - 1; ++iu) add(iu, 1, iu, 2, 2);
        add_corner(nu, 1, nu - 1, 2, +nu, -1);
        for (int iv = 2; iv <= nv - 1; ++iv) {
            add(1, iv, 2, iv, 3);
            add(nu, iv, nu - 1, iv, 1);
        }
        add_corner(1, nv, 2, nv - 1, -nu, +1);
        for (int iu = 2; iu <= nu - 1; ++iu) add(iu, nv, iu, nv - 1, 4);
        add_corner(nu, nv, nu - 1, nv - 1, -nu, -1);
        offset += nu * nv;
    }
}

// Step 1, geometry of an edge record: the symmetry plane and collapsed edges.  The tolerance
// is 1 % of panel i's longer diagonal, in 32 bits like the corners themselves.
void classify_edge(const SheetGrid& grid, int symmetry, PanelConnection& r)
{
    const auto c = [&](int k) { return corner_of(grid.corners, r.i, k); };
    const float tol = 0.01f * std::max(distance_f(c(1), c(3)), distance_f(c(2), c(4)));
    const PointF a = c(kFacingEdge[r.iedge][0]);
    const PointF b = c(kFacingEdge[r.iedge][1]);
    if (symmetry > 0 && std::fabs(a.y) < tol && std::fabs(b.y) < tol) {
        r.zero_y = true;
        r.posy0 = {static_cast<double>((a.x + b.x) * 0.5f), static_cast<double>((a.y + b.y) * 0.5f),
                   static_cast<double>((a.z + b.z) * 0.5f)};
    }
    if (distance_f(a, b) < tol) r.outer = true;
}

std::string record_items(const PanelConnection& r)
{
    std::string s = format_item(r.corner);
    for (int k : r.jc) s += ' ' + format_item(k);
    for (double p : r.posy0) s += ' ' + format_item(p);
    for (int k : {int(r.zero_y), int(r.outer)}) s += ' ' + format_item(k != 0);
    for (int k : {r.isheet, r.iedge, r.jedge, r.jsheet, r.ieqn, r.i, r.j, r.i_kp, r.j_kp, r.iglview,
                  r.jglview, r.ktype})
        s += ' ' + format_item(k);
    s += ' ' + format_item(r.u) + ' ' + format_item(r.v);
    return s;
}

[[noreturn]] void stop_on_record(const char* what, int ip, const PanelConnection& r)
{
    throw MeshFault({"ERROR: Error detected in FIND_CONNECTIVITY", what, message_line("ip = ", ip),
                               "pancon(ip) =  " + record_items(r)});
}

// Step 4 for one record: the nearest edge (4) of any active panel of another sheet.
void search_neighbour(const SheetGrid& grid, std::span<PanelConnection> pancon, int ip)
{
    PanelConnection& r = pancon[ip - 1];
    const auto c = [&](int k) { return corner_of(grid.corners, r.i, k); };
    const PointD m = midpoint_d(c(kFacingEdge[r.iedge][0]), c(kFacingEdge[r.iedge][1]));    // (1)
    const PointD mo = midpoint_d(c(kOppositeEdge[r.iedge][0]), c(kOppositeEdge[r.iedge][1]));
    const double radius = 0.1 * distance_d(m, mo);                                           // (2)

    // A degenerate candidate edge has no direction to project on; its midpoint stands for it.
    constexpr double kDegenerateEdge2 = 2.220446049250313e-16;
    double best = std::numeric_limits<double>::infinity();
    int best_node = 0, best_sheet = 0, best_ordinal = 0, best_edge = 0;
    double best_tau = 0.0;

    int offset = 0;
    for (int s = 1; s <= grid.n_sheets; ++s) {
        const int count = grid.nu[s - 1] * grid.nv[s - 1];
        if (s != r.isheet) {
            int ordinal = 0;
            for (int node = offset + 1; node <= offset + count; ++node) {
                if (grid.indom[to_panel_index(node)] == 0) continue;
                ++ordinal;
                for (int e = 1; e <= 4; ++e) {
                    const PointD pa = widen(corner_of(grid.corners, node, kEdgeWalk[e][0]));
                    const PointD pb = widen(corner_of(grid.corners, node, kEdgeWalk[e][1]));
                    const PointD ab{pb.x - pa.x, pb.y - pa.y, pb.z - pa.z};
                    const double len2 = ab.x * ab.x + ab.y * ab.y + ab.z * ab.z;
                    double tau = 0.5;
                    if (len2 >= kDegenerateEdge2) {
                        tau = ((m.x - pa.x) * ab.x + (m.y - pa.y) * ab.y + (m.z - pa.z) * ab.z) / len2;
                        tau = std::clamp(tau, 0.0, 1.0);                                     // (3)
                    }
                    const PointD q{pa.x + tau * ab.x, pa.y + tau * ab.y, pa.z + tau * ab.z};
                    const double d = distance_d(m, q);                                       // (4)
                    if (d < best && d < radius) {
                        best = d;
                        best_node = node;
                        best_sheet = s;
                        best_ordinal = ordinal;
                        best_edge = e;
                        best_tau = tau;
                    }
                }
            }
        }
        offset += count;
    }

    if (best_node == 0) {
        r.outer = true;
        return;
    }
    r.j = best_node;
    r.jsheet = best_sheet;
    r.jglview = best_ordinal;
    r.j_kp = grid.kind[best_sheet - 1];
    r.jedge = best_edge;
    r.outer = false;          // a neighbour overrides a collapsed facing edge
    r.ktype = 1;
    matched_parameter(best_edge, best_tau, r.u, r.v);                                        // (5)
    // Panels of different kinds carry different unknowns: no continuity is imposed.
    if (r.i_kp != r.j_kp) r.outer = true;
    // The earlier sheet's record of a matched pair is ktype 1, its partner on the later sheet
    // ktype 2: the two sides then write a value row and a slope row rather than the same one.
    if (r.jsheet < r.isheet) {
        for (int k = 0; k < ip; ++k) {
            const PanelConnection& partner = pancon[k];
            if (partner.i == r.j && partner.j == r.i) {
                r.ktype = (partner.ktype == 1) ? 2 : 1;
                break;
            }
        }
    }
}

}  // namespace

std::vector<PanelConnection> FIND_CONNECTIVITY(int symmetry, const SheetGrid& grid)
{
    std::size_t nodes = 0;
    int n_boundary_panel = 0;
    for (int s = 0; s < grid.n_sheets; ++s) {
        nodes += static_cast<std::size_t>(grid.nu[s]) * static_cast<std::size_t>(grid.nv[s]);
        n_boundary_panel += 2 * (grid.nu[s] + grid.nv[s]) - 4;
    }
    assert(grid.indom.size() >= nodes && grid.corners.size() >= 12 * nodes);

    std::vector<PanelConnection> pancon;
    try {
        pancon.reserve(static_cast<std::size_t>(std::max(n_boundary_panel, 0)) + 4);
    } catch (const std::bad_alloc&) {
        throw MeshFault({"ERROR: Error detected in FIND_CONNECTIVITY",
                                   "Not able to allocate pancon(n_boundary_panel).",
                                   message_line("n_boundary_panel = ", n_boundary_panel)});
    }

    // Step 2 before the geometry of step 1: a sheet too thin for its ghost ring (nu or nv
    // below 2) would otherwise send the geometry to panels outside its sheet.
    enumerate_ghost_nodes(grid, pancon);
    const int ip_made = static_cast<int>(pancon.size());
    if (ip_made != n_boundary_panel)
        throw MeshFault({"ERROR: Error detected in FIND_CONNECTIVITY", "ip /= n_boundary_panel",
                                   message_line("ip               = ", ip_made),
                                   message_line("n_boundary_panel = ", n_boundary_panel)});

    for (PanelConnection& r : pancon)
        if (!r.corner) classify_edge(grid, symmetry, r);

    // Step 3: a ghost node must not be a domain panel, its interior panel must be one.
    for (int ip = 1; ip <= ip_made; ++ip) {
        const PanelConnection& r = pancon[ip - 1];
        if (grid.indom[to_panel_index(r.ieqn)] > 0)
            stop_on_record("indom( pancon(ip)%ieqn ) > 0", ip, r);
        if (grid.indom[to_panel_index(r.i)] == 0)
            stop_on_record("indom( pancon(ip)%i ) = 0", ip, r);
    }

    // Step 4: corners get their rows from the block jc, symmetry-plane edges from the plane.
    for (int ip = 1; ip <= ip_made; ++ip) {
        const PanelConnection& r = pancon[ip - 1];
        if (!r.corner && !r.zero_y) search_neighbour(grid, pancon, ip);
    }
    return pancon;
}

std::vector<PanelConnection> FIND_CONNECTIVITY(int symmetry, const PanelModel& panels)
{
    const SheetGrid grid{panels.n_sheets, panels.np1, panels.np2, panels.kp, panels.active, panels.corners};
    return FIND_CONNECTIVITY(symmetry, grid);
}

void write_connectivity_info(std::span<const PanelConnection> pancon, std::span<const float> xct,
                             const std::string& path)
{
    UnitTable& table = units();
    // Unit 400 belongs to this file alone; a copy left open by an earlier dump is replaced.
    table.close(kConnectivityInfoUnit);
    OpenOptions options;
    options.status = "replace";
    const int iostat = table.open(kConnectivityInfoUnit, path, options);
    if (iostat != kIostatOk)
        throw MeshFault({"ERROR: Cannot open " + path + " for the connectivity dump", message_line("iostat = ", iostat)});

    auto put = [&](const std::string& line) { table.write_line(kConnectivityInfoUnit, line); };
    auto xct_line = [&](const char* label, int node) {
        const float* p = xct.data() + 3 * static_cast<std::size_t>(to_panel_index(node));
        put(list_directed(label, p[0], p[1], p[2]));
    };
    for (std::size_t k = 0; k < pancon.size(); ++k) {
        const PanelConnection& r = pancon[k];
        put(list_directed("Boundary panel: ", static_cast<int>(k) + 1));
        put(list_directed("    %i      = ", r.i));
        put(list_directed("    %ieqn   = ", r.ieqn));
        put(list_directed("    %corner = ", r.corner));
        put(list_directed("    %zero_y = ", r.zero_y));
        put(list_directed("    %outer  = ", r.outer));
        put(list_directed("    %isheet = ", r.isheet));
        put(list_directed("    %iglview= ", r.iglview));
        put(list_directed("    %i_kp   = ", r.i_kp));
        if (r.i > 0) xct_line("    xct(:,i)= ", r.i);
        if (r.corner) {
            for (int b = 1; b <= 3; ++b)
                for (int a = 1; a <= 3; ++a) put(list_directed("    %jc(i,j)= ", a, b, r.jc_at(a, b)));
        } else if (r.zero_y) {
            put(list_directed("    %posy0  = ", r.posy0[0], r.posy0[1], r.posy0[2]));
            put(list_directed("    %iedge  = ", r.iedge));
        } else if (!r.outer) {
            put(list_directed("    %j      = ", r.j));
            put(list_directed("    %iedge  = ", r.iedge));
            put(list_directed("    %jedge  = ", r.jedge));
            put(list_directed("    %jsheet = ", r.jsheet));
            put(list_directed("    %j_kp   = ", r.j_kp));
            put(list_directed("    %jglview= ", r.jglview));
            put(list_directed("    %ktype  = ", r.ktype));
            put(list_directed("    %u, %v  = ", r.u, r.v));
            if (r.j > 0) xct_line("    xct(:,j)= ", r.j);
        }
    }
    table.close(kConnectivityInfoUnit);
}

}  // namespace torva
