#include "mesh/mesh_checks.hpp"
#include "mesh/mesh_fault.hpp"

#include "mesh/mesh_file.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <unordered_map>

namespace torva {

namespace {

using Vec = std::array<double, 3>;

Vec operator+(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec operator-(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec scaled(double s, const Vec& a) { return {s * a[0], s * a[1], s * a[2]}; }
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const Vec& a) { return std::sqrt(dot(a, a)); }

bool is_body_kind(int kind) { return kind == kSheetKindBody1 || kind == kSheetKindBody; }

// Where a sheet's panels lie in the model.
struct SheetPlace {
    int first = 0;      // 0-based index of padded panel (0, 0)
    int np1 = 0, np2 = 0;   // padded counts
};

// A body sheet's place among the sheets it is joined to (see body_turns).
struct BodyTurn {
    std::vector<int> body;       // the sheets of its body, 0-based, itself included
    bool turned = false;         // runs against the first sheet of its body
    bool consistent = true;      // the body's sheets agree on their turns
    bool reversed = false;       // turned against the body's right orientation
    double body_volume = 0;      // the body's displacement, counted with this sheet as it is
};

std::vector<SheetPlace> sheet_places(const PanelModel& model)
{
    std::vector<SheetPlace> places;
    int first = 0;
    for (int s = 0; s < model.n_sheets; ++s) {
        places.push_back({first, model.np1[s], model.np2[s]});
        first += model.np[s];
    }
    return places;
}

// Corner k (0..3 for P1..P4) of the panel at 0-based index p.
Vec corner(const PanelModel& model, int p, int k)
{
    const float* c = &model.corners[static_cast<std::size_t>(kCornerStride) * static_cast<std::size_t>(p)];
    return {c[k], c[4 + k], c[8 + k]};
}

// Node (a, b) of a sheet, a = 0..NP1, b = 0..NP2, recovered from the corner records of the
// interior panels: P1 of panel (i, j) is node (i, j), P2 node (i, j-1), P3 node (i-1, j-1),
// P4 node (i-1, j).
Vec node(const PanelModel& model, const SheetPlace& s, int a, int b)
{
    const int i = std::max(a, 1), j = std::max(b, 1);
    const int k = a >= 1 ? (b >= 1 ? 0 : 1) : (b >= 1 ? 3 : 2);
    return corner(model, s.first + i + j * s.np1, k);
}

struct PanelVectors {
    Vec centroid, t1, t2, area_vector;   // area vector t1 x t2 (normal times area)
    double area = 0;                     // |d13 x d24| / 2
};

PanelVectors panel_vectors(const PanelModel& model, int p)
{
    const Vec p1 = corner(model, p, 0), p2 = corner(model, p, 1), p3 = corner(model, p, 2), p4 = corner(model, p, 3);
    PanelVectors v;
    v.centroid = scaled(0.25, p1 + p2 + p3 + p4);
    v.t1 = scaled(0.5, (p1 + p2) - (p3 + p4));
    v.t2 = scaled(0.5, (p1 + p4) - (p2 + p3));
    v.area_vector = cross(v.t1, v.t2);
    v.area = 0.5 * norm(cross(p1 - p3, p2 - p4));
    return v;
}

template <class Visit>
void for_each_interior(const SheetPlace& s, Visit visit)
{
    for (int j = 1; j <= s.np2 - 2; ++j)
        for (int i = 1; i <= s.np1 - 2; ++i) visit(s.first + i + j * s.np1, i, j);
}

// Distance from x to the segment [a, b].
double segment_distance(const Vec& x, const Vec& a, const Vec& b)
{
    const Vec ab = b - a;
    const double len2 = dot(ab, ab);
    double t = len2 > 0 ? dot(x - a, ab) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return norm(x - (a + scaled(t, ab)));
}

struct Polyline {
    std::vector<std::pair<Vec, Vec>> segments;
    std::vector<Vec> nodes;
};

double polyline_distance(const Vec& x, const Polyline& line)
{
    double best = std::numeric_limits<double>::infinity();
    for (const auto& [a, b] : line.segments) best = std::min(best, segment_distance(x, a, b));
    for (const Vec& n : line.nodes) best = std::min(best, norm(x - n));
    return best;
}

// The four sides of a sheet as node lists: b = 0, a = NP1, b = NP2, a = 0.
std::array<std::vector<Vec>, 4> sheet_sides(const PanelModel& model, const SheetPlace& s)
{
    const int n1 = s.np1 - 2, n2 = s.np2 - 2;
    std::array<std::vector<Vec>, 4> sides;
    for (int a = 0; a <= n1; ++a) sides[0].push_back(node(model, s, a, 0));
    for (int b = 0; b <= n2; ++b) sides[1].push_back(node(model, s, n1, b));
    for (int a = 0; a <= n1; ++a) sides[2].push_back(node(model, s, a, n2));
    for (int b = 0; b <= n2; ++b) sides[3].push_back(node(model, s, 0, b));
    return sides;
}

void add_side(Polyline& line, const std::vector<Vec>& side)
{
    for (std::size_t k = 0; k + 1 < side.size(); ++k) line.segments.push_back({side[k], side[k + 1]});
    if (side.size() == 1) line.nodes.push_back(side[0]);
}

std::string format(const char* fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string point_text(const Vec& x)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "(%.6g, %.6g, %.6g)", x[0], x[1], x[2]);
    return buf;
}

std::string panel_text(const PanelShape& p)
{
    return "panel " + std::to_string(p.panel) + " (sheet " + std::to_string(p.sheet) + ", i " + std::to_string(p.i) +
           ", j " + std::to_string(p.j) + ") at " + point_text(p.centroid);
}

void check_waterline(const PanelModel& model, const std::vector<SheetPlace>& places, const MeshCheckLimits& limits,
                     MeshCheckReport& report)
{
    // The body's size, for the tolerance of z = 0.
    double extent = 0;
    Vec lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (int s = 0; s < model.n_sheets; ++s)
        for_each_interior(places[s], [&](int p, int, int) {
            for (int k = 0; k < 4; ++k) {
                const Vec c = corner(model, p, k);
                for (int d = 0; d < 3; ++d) lo[d] = std::min(lo[d], c[d]), hi[d] = std::max(hi[d], c[d]);
            }
        });
    for (int d = 0; d < 3; ++d) extent = std::max(extent, hi[d] - lo[d]);
    const double z_tolerance = 1.0e-5 * extent;

    Polyline hull, free_surface;
    std::vector<Vec> hull_nodes;
    bool any_free_surface = false;
    for (int s = 0; s < model.n_sheets; ++s) {
        if (model.kp[s] == kSheetKindFreeSurface) {
            any_free_surface = true;
            for (const auto& side : sheet_sides(model, places[s])) add_side(free_surface, side);
            continue;
        }
        if (!is_body_kind(model.kp[s])) continue;
        for (const auto& side : sheet_sides(model, places[s])) {
            // Runs of consecutive boundary nodes at z = 0 are pieces of the waterline.
            std::vector<Vec> run;
            auto flush = [&] {
                add_side(hull, run);
                run.clear();
            };
            for (const Vec& n : side) {
                if (std::fabs(n[2]) <= z_tolerance) {
                    run.push_back(n);
                    hull_nodes.push_back(n);
                } else {
                    flush();
                }
            }
            flush();
        }
    }
    WaterlineFit& fit = report.waterline;
    if (!any_free_surface || hull_nodes.empty()) return;
    fit.checked = true;
    fit.hull_nodes = static_cast<int>(hull_nodes.size());
    double xmin = 1e300, xmax = -1e300;
    for (const Vec& n : hull_nodes) xmin = std::min(xmin, n[0]), xmax = std::max(xmax, n[0]);
    fit.waterline_length = xmax - xmin > 0 ? xmax - xmin : extent;

    // Every hull waterline node on the free surface's boundary.
    fit.max_gap = -1;
    for (const Vec& n : hull_nodes) {
        const double gap = polyline_distance(n, free_surface);
        if (gap > fit.max_gap) {
            fit.max_gap = gap;
            fit.where = n;
            fit.where_on_hull = true;
        }
    }
    // The free-surface side nearest the hull (smallest mean distance) on the hull's waterline.
    const std::vector<Vec>* inner = nullptr;
    std::vector<std::vector<Vec>> all_sides;
    for (int s = 0; s < model.n_sheets; ++s)
        if (model.kp[s] == kSheetKindFreeSurface)
            for (auto& side : sheet_sides(model, places[s])) all_sides.push_back(std::move(side));
    double best_mean = std::numeric_limits<double>::infinity();
    std::vector<double> inner_gaps;
    for (const auto& side : all_sides) {
        std::vector<double> gaps;
        double sum = 0;
        for (const Vec& n : side) gaps.push_back(polyline_distance(n, hull)), sum += gaps.back();
        const double mean = sum / static_cast<double>(side.size());
        if (mean < best_mean) best_mean = mean, inner = &side, inner_gaps = std::move(gaps);
    }
    if (inner != nullptr) {
        fit.free_surface_nodes = static_cast<int>(inner->size());
        for (std::size_t k = 0; k < inner->size(); ++k)
            if (inner_gaps[k] > fit.max_gap) {
                fit.max_gap = inner_gaps[k];
                fit.where = (*inner)[k];
                fit.where_on_hull = false;
            }
    }
    if (fit.max_gap > limits.waterline_gap * fit.waterline_length)
        report.findings.push_back(
            {CheckSeverity::failure,
             "hull and free surface do not meet along the waterline: a gap of " + format("%.4g", fit.max_gap) + " (" +
                 format("%.3g", 100.0 * fit.max_gap / fit.waterline_length) + " % of the waterline length " +
                 format("%.4g", fit.waterline_length) + ") at the " + (fit.where_on_hull ? "hull" : "free-surface") +
                 " node " + point_text(fit.where)});
}

// Panels whose centroid lies on a like-facing panel of another sheet.
void check_overlaps(const PanelModel& model, const std::vector<SheetPlace>& places, const MeshCheckLimits& limits,
                    MeshCheckReport& report)
{
    struct Candidate {
        int panel, sheet;
        PanelVectors v;
        Vec lo, hi;
        double size;
    };
    std::vector<Candidate> panels;
    for (int s = 0; s < model.n_sheets; ++s)
        for_each_interior(places[s], [&](int p, int, int) {
            Candidate c{p, s, panel_vectors(model, p), {}, {}, 0};
            c.lo = c.hi = corner(model, p, 0);
            for (int k = 1; k < 4; ++k) {
                const Vec x = corner(model, p, k);
                for (int d = 0; d < 3; ++d) c.lo[d] = std::min(c.lo[d], x[d]), c.hi[d] = std::max(c.hi[d], x[d]);
            }
            c.size = norm(c.hi - c.lo);
            if (c.v.area > 0) panels.push_back(c);
        });
    if (panels.size() < 2) return;
    std::vector<double> sizes;
    double largest = 0;
    for (const Candidate& c : panels) sizes.push_back(c.size), largest = std::max(largest, c.size);
    std::nth_element(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2), sizes.end());
    const double h = std::max({sizes[sizes.size() / 2], largest / 32.0, 1e-300});

    // Uniform grid of cells of size h holding the panels whose box touches them.
    auto cell_of = [h](double x) { return static_cast<std::int64_t>(std::floor(x / h)); };
    auto key = [](std::int64_t i, std::int64_t j, std::int64_t k) {
        return (i & 0x1fffff) | ((j & 0x1fffff) << 21) | ((k & 0x1fffff) << 42);
    };
    std::unordered_map<std::int64_t, std::vector<int>> grid;
    for (std::size_t q = 0; q < panels.size(); ++q) {
        const Candidate& c = panels[q];
        const double pad = limits.overlap_distance * c.size;
        for (std::int64_t i = cell_of(c.lo[0] - pad); i <= cell_of(c.hi[0] + pad); ++i)
            for (std::int64_t j = cell_of(c.lo[1] - pad); j <= cell_of(c.hi[1] + pad); ++j)
                for (std::int64_t k = cell_of(c.lo[2] - pad); k <= cell_of(c.hi[2] + pad); ++k)
                    grid[key(i, j, k)].push_back(static_cast<int>(q));
    }

    // Is x on panel q: near its plane and inside its two triangles (P1 P2 P3, P1 P3 P4)?
    auto lies_on = [&](const Vec& x, const Candidate& q) {
        const Vec n = scaled(1.0 / norm(q.v.area_vector), q.v.area_vector);
        if (std::fabs(dot(x - q.v.centroid, n)) > limits.overlap_distance * q.size) return false;
        const Vec p[4] = {corner(model, q.panel, 0), corner(model, q.panel, 1), corner(model, q.panel, 2),
                          corner(model, q.panel, 3)};
        auto in_triangle = [&](const Vec& a, const Vec& b, const Vec& c) {
            const Vec ab = b - a, ac = c - a, ax = x - a;
            const double d00 = dot(ab, ab), d01 = dot(ab, ac), d11 = dot(ac, ac), d20 = dot(ax, ab), d21 = dot(ax, ac);
            const double det = d00 * d11 - d01 * d01;
            if (!(det > 0)) return false;
            const double v = (d11 * d20 - d01 * d21) / det, w = (d00 * d21 - d01 * d20) / det;
            const double eps = 1e-9;
            return v > eps && w > eps && v + w < 1 - eps;
        };
        return in_triangle(p[0], p[1], p[2]) || in_triangle(p[0], p[2], p[3]);
    };

    // (sheet on which, sheet lying on it) -> count and first panel.
    std::map<std::pair<int, int>, std::pair<int, int>> overlaps;
    for (const Candidate& c : panels) {
        const auto it = grid.find(key(cell_of(c.v.centroid[0]), cell_of(c.v.centroid[1]), cell_of(c.v.centroid[2])));
        if (it == grid.end()) continue;
        for (const int q : it->second) {
            const Candidate& other = panels[static_cast<std::size_t>(q)];
            // Only panels facing the same way cover the same surface twice.  Two that face
            // each other a hair apart are the two sides of a body closing to zero thickness,
            // as a fine hull's halves do along its stem and keel.
            if (other.sheet == c.sheet || dot(c.v.area_vector, other.v.area_vector) <= 0 ||
                !lies_on(c.v.centroid, other))
                continue;
            auto& entry = overlaps[{other.sheet, c.sheet}];
            if (entry.first++ == 0) entry.second = c.panel;
            break;
        }
    }
    for (const auto& [pair, entry] : overlaps) {
        const int on = pair.first + 1, lying = pair.second + 1;
        if (on > lying && overlaps.count({pair.second, pair.first})) continue;   // reported with the pair
        report.findings.push_back({CheckSeverity::failure,
                                   "sheets " + std::to_string(std::min(on, lying)) + " and " +
                                       std::to_string(std::max(on, lying)) + " overlap: " +
                                       std::to_string(entry.first) + " panels of sheet " + std::to_string(lying) +
                                       " lie on sheet " + std::to_string(on) + ", the first panel " +
                                       std::to_string(to_panel_number(entry.second)) + " at " +
                                       point_text(panel_vectors(model, entry.second).centroid)});
    }
}

void keep_worst(std::vector<PanelShape>& list, const PanelShape& p, double PanelShape::*measure, bool largest,
                std::size_t count)
{
    auto worse = [&](const PanelShape& a, const PanelShape& b) {
        return largest ? a.*measure > b.*measure : a.*measure < b.*measure;
    };
    list.insert(std::upper_bound(list.begin(), list.end(), p, worse), p);
    if (list.size() > count) list.pop_back();
}

// Joined bodies.  Body sheets that share boundary edges (node for node) make one body; along
// a shared edge two sheets of the same orientation run in opposite directions (each panel's
// corners P1 P2 P3 P4 go round its normal the same way).  A breadth-first walk gives every
// sheet its turn relative to the first of its body; the body's displacement, counting each
// sheet with that turn, is positive for the right orientation, and the sheets whose turn
// makes it negative are the reversed ones.  For a body closed by the planes z = 0 and y = 0
// (where -nz z vanishes) the sum is the volume itself, whatever the shape: the top of a
// submerged sphere counts negative in V_s and is still the right way round.
std::vector<BodyTurn> body_turns(const PanelModel& model, const std::vector<SheetPlace>& places,
                                 const std::vector<double>& volumes, const std::vector<double>& tolerances)
{
    std::vector<BodyTurn> turns(static_cast<std::size_t>(model.n_sheets));
    // Node keys on a grid far finer than any panel: shared nodes are written alike.
    double extent = 0;
    for (int s = 0; s < model.n_sheets; ++s)
        for_each_interior(places[s], [&](int p, int, int) {
            for (int k = 0; k < 4; ++k)
                for (int d = 0; d < 3; ++d) extent = std::max(extent, std::fabs(corner(model, p, k)[d]));
        });
    const double grid = std::max(extent, 1e-30) * 1e-7;
    std::map<std::array<std::int64_t, 3>, int> node_ids;
    auto id_of = [&](const Vec& x) {
        const std::array<std::int64_t, 3> key = {std::llround(x[0] / grid), std::llround(x[1] / grid),
                                                 std::llround(x[2] / grid)};
        return node_ids.emplace(key, static_cast<int>(node_ids.size())).first->second;
    };
    // Boundary edges in the direction of the panel cycle (a,b) -> (a,b-1) -> (a-1,b-1) -> (a-1,b).
    std::map<std::pair<int, int>, std::vector<std::pair<int, bool>>> edges;   // -> (sheet, forward)
    for (int s = 0; s < model.n_sheets; ++s) {
        if (!is_body_kind(model.kp[s])) continue;
        const SheetPlace& pl = places[s];
        const int n1 = pl.np1 - 2, n2 = pl.np2 - 2;
        auto add = [&](int a0, int b0, int a1, int b1) {
            const int u = id_of(node(model, pl, a0, b0)), v = id_of(node(model, pl, a1, b1));
            if (u != v) edges[{std::min(u, v), std::max(u, v)}].push_back({s, u < v});
        };
        for (int a = 1; a <= n1; ++a) add(a, 0, a - 1, 0), add(a - 1, n2, a, n2);
        for (int b = 1; b <= n2; ++b) add(n1, b, n1, b - 1), add(0, b - 1, 0, b);
    }
    // Votes per pair of sheets: shared edges run opposite (same turn) or alike (other turn).
    std::map<std::pair<int, int>, int> votes;
    for (const auto& [edge, uses] : edges)
        for (std::size_t i = 0; i < uses.size(); ++i)
            for (std::size_t j = i + 1; j < uses.size(); ++j)
                if (uses[i].first != uses[j].first)
                    votes[{std::min(uses[i].first, uses[j].first), std::max(uses[i].first, uses[j].first)}] +=
                        uses[i].second != uses[j].second ? 1 : -1;
    std::vector<std::vector<std::pair<int, bool>>> joined(static_cast<std::size_t>(model.n_sheets));
    for (const auto& [pair, vote] : votes) {
        if (vote == 0) continue;
        joined[static_cast<std::size_t>(pair.first)].push_back({pair.second, vote < 0});
        joined[static_cast<std::size_t>(pair.second)].push_back({pair.first, vote < 0});
    }
    std::vector<bool> seen(static_cast<std::size_t>(model.n_sheets), false);
    for (int root = 0; root < model.n_sheets; ++root) {
        if (!is_body_kind(model.kp[root]) || seen[root]) continue;
        std::vector<int> body{root};
        seen[root] = true;
        bool consistent = true;
        for (std::size_t k = 0; k < body.size(); ++k) {
            const int s = body[k];
            for (const auto& [t, flips] : joined[static_cast<std::size_t>(s)]) {
                const bool turn = turns[s].turned != flips;
                if (!seen[t]) {
                    seen[t] = true;
                    turns[t].turned = turn;
                    body.push_back(t);
                } else if (turns[t].turned != turn) {
                    consistent = false;
                }
            }
        }
        double volume = 0, tolerance = 0;
        for (const int s : body) volume += turns[s].turned ? -volumes[s] : volumes[s], tolerance += tolerances[s];
        for (const int s : body) {
            turns[s].body = body;
            turns[s].consistent = consistent;
            // The body counted the right way round, and this sheet's turn against it.
            turns[s].reversed = consistent && std::fabs(volume) > tolerance && (volume < 0) != turns[s].turned;
            turns[s].body_volume = turns[s].turned ? -volume : volume;
        }
    }
    return turns;
}

}  // namespace

std::string read_mesh_for_checks(const std::string& ssg, const std::string& fs, PanelModel& model)
{
    const bool two = !fs.empty() && fs != kNoSecondMeshFile;
    std::ifstream sizing_first(ssg), sizing_second, first(ssg), second;
    if (two) sizing_second.open(fs), second.open(fs);
    if (!first) return "cannot open the mesh file " + ssg;
    if (two && !second) return "cannot open the mesh file " + fs;
    try {
        const MeshSizes sizes = size_mesh(sizing_first, ssg, two ? &sizing_second : nullptr, fs);
        allocate_panel_model(model, std::max(sizes.n_panels, 0), sizes.n_sheets, false);
        if (read_mesh_corners(first, ssg, two ? &second : nullptr, fs, 1.0f, model) != 0)
            return "the mesh has more sheets than its header counted";
    } catch (const MeshFault& fault) {
        // The reader's own message, as a run would stop with it.
        std::string why;
        for (const std::string& line : fault.lines) why += (why.empty() ? "" : "; ") + line;
        return why;
    }
    return {};
}

int MeshCheckReport::failures() const noexcept
{
    return static_cast<int>(std::count_if(findings.begin(), findings.end(),
                                          [](const CheckFinding& f) { return f.severity == CheckSeverity::failure; }));
}

int MeshCheckReport::warnings() const noexcept
{
    return static_cast<int>(findings.size()) - failures();
}

std::vector<double> sheet_displacements(const PanelModel& model)
{
    std::vector<double> volumes;
    for (const SheetPlace& s : sheet_places(model)) {
        double v = 0;
        if (is_body_kind(model.kp[volumes.size()]))
            for_each_interior(s, [&](int p, int, int) {
                const PanelVectors pv = panel_vectors(model, p);
                v -= pv.area_vector[2] * pv.centroid[2];
            });
        volumes.push_back(v);
    }
    return volumes;
}

std::vector<CheckFinding> orientation_findings(const PanelModel& model)
{
    const std::vector<SheetPlace> places = sheet_places(model);
    const std::vector<double> volumes = sheet_displacements(model);
    // A reversed sheet gives V_s near -sum |nz cz A|; a vertical one (a transom) gives a V_s
    // of rounding size, which the second term lets pass.
    std::vector<double> tolerances;
    for (int s = 0; s < model.n_sheets; ++s) {
        double magnitude = 0, area = 0, z_extent = 0;
        if (is_body_kind(model.kp[s]))
            for_each_interior(places[s], [&](int p, int, int) {
                const PanelVectors v = panel_vectors(model, p);
                magnitude += std::fabs(v.area_vector[2] * v.centroid[2]);
                area += v.area;
                z_extent = std::max(z_extent, std::fabs(v.centroid[2]));
            });
        tolerances.push_back(std::max(1.0e-3 * magnitude, 1.0e-6 * area * z_extent));
    }
    const std::vector<BodyTurn> turns = body_turns(model, places, volumes, tolerances);
    auto sheet_list = [](std::vector<int> sheets, int leave_out) {
        std::sort(sheets.begin(), sheets.end());
        std::string t;
        for (const int s : sheets)
            if (s != leave_out) t += (t.empty() ? "" : " ") + std::to_string(s + 1);
        return t;
    };
    std::vector<CheckFinding> findings;
    for (int s = 0; s < model.n_sheets; ++s) {
        const BodyTurn& t = turns[static_cast<std::size_t>(s)];
        if (!is_body_kind(model.kp[s])) continue;
        const std::string sheet = "sheet " + std::to_string(s + 1) + " (kind " + std::to_string(model.kp[s]) + ")";
        if (!t.consistent && t.body.front() == s)
            findings.push_back({CheckSeverity::failure, "sheets " + sheet_list(t.body, -1) +
                                                            " join along edges in orientations that cannot agree"});
        if (!t.reversed) continue;
        bool whole_body = true;
        for (const int b : t.body) whole_body = whole_body && turns[static_cast<std::size_t>(b)].reversed;
        std::string text;
        if (t.body.size() == 1)
            text = sheet + " gives a negative displacement (" + format("%.6g", volumes[s]) + ")";
        else if (whole_body)
            text = sheet + " gives its body (sheets " + sheet_list(t.body, -1) + ") a negative displacement (" +
                   format("%.6g", t.body_volume) + ")";
        else
            text = sheet + " is turned against the sheets it joins (" + sheet_list(t.body, s) + ")";
        findings.push_back({CheckSeverity::failure, text + ": its normals point into the water; reverse its node order"});
    }
    return findings;
}

MeshCheckReport check_mesh(const PanelModel& model, const MeshCheckLimits& limits)
{
    MeshCheckReport report;
    const std::vector<SheetPlace> places = sheet_places(model);
    report.findings = orientation_findings(model);

    for (int s = 0; s < model.n_sheets; ++s) {
        SheetQuality q;
        q.sheet = s + 1;
        q.kind = model.kp[s];
        q.flag = model.mp[s];
        std::vector<PanelShape> shapes;
        for_each_interior(places[s], [&](int p, int i, int j) {
            const PanelVectors v = panel_vectors(model, p);
            PanelShape shape;
            shape.panel = to_panel_number(p);
            shape.sheet = s + 1;
            shape.i = i;
            shape.j = j;
            shape.area = v.area;
            shape.centroid = v.centroid;
            const double l1 = norm(v.t1), l2 = norm(v.t2);
            shape.aspect = std::min(l1, l2) > 0 ? std::max(l1, l2) / std::min(l1, l2)
                                                : std::numeric_limits<double>::infinity();
            const double cosine = l1 > 0 && l2 > 0 ? std::clamp(dot(v.t1, v.t2) / (l1 * l2), -1.0, 1.0) : 1.0;
            shape.skew_degrees = std::fabs(90.0 - std::acos(cosine) * 180.0 / 3.14159265358979323846);
            shapes.push_back(shape);
            if (is_body_kind(q.kind)) q.displacement -= v.area_vector[2] * v.centroid[2];
        });
        q.interior = static_cast<int>(shapes.size());
        std::vector<double> areas;
        for (const PanelShape& p : shapes) areas.push_back(p.area);
        std::nth_element(areas.begin(), areas.begin() + static_cast<std::ptrdiff_t>(areas.size() / 2), areas.end());
        const double median = areas.empty() ? 0 : areas[areas.size() / 2];

        q.min_area = std::numeric_limits<double>::infinity();
        int first_degenerate = -1, many_aspect = 0, many_skew = 0;
        const PanelShape* worst_aspect = nullptr;
        const PanelShape* worst_skew = nullptr;
        for (const PanelShape& p : shapes) {
            q.area += p.area;
            q.min_area = std::min(q.min_area, p.area);
            q.max_area = std::max(q.max_area, p.area);
            keep_worst(report.smallest_area, p, &PanelShape::area, false, limits.worst_listed);
            if (!(p.area > limits.degenerate_area * median)) {
                if (q.degenerate++ == 0) first_degenerate = static_cast<int>(&p - shapes.data());
                continue;   // its aspect and skew mean nothing
            }
            q.max_aspect = std::max(q.max_aspect, p.aspect);
            q.max_skew_degrees = std::max(q.max_skew_degrees, p.skew_degrees);
            keep_worst(report.largest_aspect, p, &PanelShape::aspect, true, limits.worst_listed);
            keep_worst(report.largest_skew, p, &PanelShape::skew_degrees, true, limits.worst_listed);
            if (p.aspect > limits.max_aspect_ratio && (++many_aspect, !worst_aspect || p.aspect > worst_aspect->aspect))
                worst_aspect = &p;
            if (p.skew_degrees > limits.max_skew_degrees &&
                (++many_skew, !worst_skew || p.skew_degrees > worst_skew->skew_degrees))
                worst_skew = &p;
        }
        const std::string sheet = "sheet " + std::to_string(s + 1) + " (kind " + std::to_string(q.kind) + ")";
        if (q.degenerate > 0)
            report.findings.push_back(
                {CheckSeverity::failure, sheet + ": " + std::to_string(q.degenerate) +
                                             " degenerate panels (area not above " + format("%.3g", limits.degenerate_area) +
                                             " x the median panel area), the first " +
                                             panel_text(shapes[static_cast<std::size_t>(first_degenerate)])});
        if (worst_aspect)
            report.findings.push_back({CheckSeverity::warning,
                                       sheet + ": " + std::to_string(many_aspect) + " panels with an aspect ratio above " +
                                           format("%g", limits.max_aspect_ratio) + ", the largest " +
                                           format("%.3g", worst_aspect->aspect) + " at " + panel_text(*worst_aspect)});
        if (worst_skew)
            report.findings.push_back({CheckSeverity::warning,
                                       sheet + ": " + std::to_string(many_skew) + " panels skewed by more than " +
                                           format("%g", limits.max_skew_degrees) + " degrees, the most " +
                                           format("%.3g", worst_skew->skew_degrees) + " at " + panel_text(*worst_skew)});
        if (q.interior == 0) q.min_area = 0;
        report.sheets.push_back(q);
    }
    check_waterline(model, places, limits, report);
    check_overlaps(model, places, limits, report);
    return report;
}

std::vector<std::string> mesh_report_lines(const MeshCheckReport& report)
{
    std::vector<std::string> lines;
    char buf[512];
    lines.push_back("panel quality (lengths in the mesh's units):");
    lines.push_back("  sheet kind flag interior  displacement      sum area      min area      max area  max aspect  "
                    "max skew  degenerate");
    for (const SheetQuality& q : report.sheets) {
        std::snprintf(buf, sizeof buf, "  %5d %4d %4d %8d %13.6g %13.6g %13.6g %13.6g %11.4g %9.4g %11d", q.sheet, q.kind,
                      q.flag, q.interior, q.displacement, q.area, q.min_area, q.max_area, q.max_aspect,
                      q.max_skew_degrees, q.degenerate);
        lines.push_back(buf);
    }
    auto list = [&](const char* title, const std::vector<PanelShape>& panels) {
        lines.push_back(title);
        for (const PanelShape& p : panels) {
            std::snprintf(buf, sizeof buf, "  %8d %5d %5d %5d %13.6g %11.4g %9.4g  %s", p.panel, p.sheet, p.i, p.j, p.area,
                          p.aspect, p.skew_degrees, point_text(p.centroid).c_str());
            lines.push_back(buf);
        }
    };
    lines.push_back("worst panels:     panel sheet     i     j          area      aspect      skew  centroid");
    list(" smallest area", report.smallest_area);
    list(" largest aspect ratio", report.largest_aspect);
    list(" largest skew (degrees from square)", report.largest_skew);
    const WaterlineFit& w = report.waterline;
    if (w.checked) {
        std::snprintf(buf, sizeof buf,
                      "waterline: %d hull nodes, %d free-surface edge nodes, largest gap %.4g (%.3g %% of the "
                      "waterline length %.4g) at %s",
                      w.hull_nodes, w.free_surface_nodes, w.max_gap, 100.0 * w.max_gap / w.waterline_length,
                      w.waterline_length, point_text(w.where).c_str());
        lines.push_back(buf);
    } else {
        lines.push_back("waterline: not checked (no free-surface sheet, or no hull node at z = 0)");
    }
    for (const CheckFinding& f : report.findings)
        lines.push_back((f.severity == CheckSeverity::failure ? "FAIL " : "WARN ") + f.text);
    return lines;
}

}  // namespace torva
