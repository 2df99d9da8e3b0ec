// Checks and repair of an imported surface, up to the wetted, oriented triangle mesh that the
// sections are taken from.
#include "hull.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>

namespace torva::hull {

namespace {

using Tri = std::array<int, 3>;

std::string where(const Vec3& p)
{
    char b[96];
    std::snprintf(b, sizeof b, "(%.6g, %.6g, %.6g)", p.x, p.y, p.z);
    return b;
}

Vec3 tri_normal(const std::vector<Vec3>& n, const Tri& t)   // twice the vector area
{
    return mesh_tool::cross(n[t[1]] - n[t[0]], n[t[2]] - n[t[0]]);
}

Measures measure(const std::vector<Vec3>& nodes, const std::vector<Tri>& tris)
{
    Measures m;
    for (const Tri& t : tris) {
        const Vec3 a2 = tri_normal(nodes, t);
        const double zc = (nodes[t[0]].z + nodes[t[1]].z + nodes[t[2]].z) / 3.0;
        m.area += 0.5 * std::sqrt(mesh_tool::dot(a2, a2));
        m.volume += zc * 0.5 * a2.z;
    }
    return m;
}

// Merges nodes closer than `tol` (each to the first one met), in a hash grid of cells `tol`.
std::vector<int> merge_nodes(const std::vector<Vec3>& nodes, double tol, std::vector<Vec3>& merged)
{
    struct KeyHash {
        std::size_t operator()(const std::array<long long, 3>& k) const
        {
            return static_cast<std::size_t>(k[0] * 73856093LL ^ k[1] * 19349663LL ^ k[2] * 83492791LL);
        }
    };
    std::unordered_map<std::array<long long, 3>, std::vector<int>, KeyHash> grid;
    std::vector<int> map(nodes.size());
    const double cell = tol > 0.0 ? tol : 1.0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const Vec3& p = nodes[i];
        const std::array<long long, 3> k{static_cast<long long>(std::floor(p.x / cell)),
                                         static_cast<long long>(std::floor(p.y / cell)),
                                         static_cast<long long>(std::floor(p.z / cell))};
        int found = -1;
        for (long long dx = -1; dx <= 1 && found < 0; ++dx)
            for (long long dy = -1; dy <= 1 && found < 0; ++dy)
                for (long long dz = -1; dz <= 1 && found < 0; ++dz) {
                    const auto it = grid.find({k[0] + dx, k[1] + dy, k[2] + dz});
                    if (it == grid.end()) continue;
                    for (int j : it->second) {
                        const Vec3 d = merged[j] - p;
                        if (mesh_tool::dot(d, d) <= tol * tol) {
                            found = j;
                            break;
                        }
                    }
                }
        if (found < 0) {
            found = static_cast<int>(merged.size());
            merged.push_back(p);
            grid[k].push_back(found);
        }
        map[i] = found;
    }
    return map;
}

// Keeps the part of every triangle where sign * coordinate `axis` (1 = y, 2 = z) is <= 0.  A
// new node on an edge is made once per edge, so neighbours share it, and lies exactly in the
// plane.  Triangles lying in the plane go.
void clip(std::vector<Vec3>& nodes, std::vector<Tri>& tris, int axis, double sign, std::vector<char>* tags = nullptr)
{
    auto value = [axis, sign](const Vec3& v) { return sign * (axis == 1 ? v.y : v.z); };
    std::map<std::pair<int, int>, int> cut;
    std::vector<Tri> out;
    std::vector<char> out_tags;
    auto cut_node = [&](int a, int b) {
        const std::pair<int, int> key{std::min(a, b), std::max(a, b)};
        if (const auto it = cut.find(key); it != cut.end()) return it->second;
        const Vec3 p = nodes[key.first], q = nodes[key.second];
        const double vp = value(p), vq = value(q);
        const double t = vp / (vp - vq);
        const int id = static_cast<int>(nodes.size());
        Vec3 c = p + t * (q - p);
        (axis == 1 ? c.y : c.z) = 0.0;
        nodes.push_back(c);
        cut.emplace(key, id);
        return id;
    };
    for (std::size_t ti = 0; ti < tris.size(); ++ti) {
        const Tri& t = tris[ti];
        double v[3];
        bool any_below = false, any_above = false;
        for (int k = 0; k < 3; ++k) {
            v[k] = value(nodes[t[k]]);
            any_below = any_below || v[k] < 0.0;
            any_above = any_above || v[k] > 0.0;
        }
        if (!any_below) continue;   // above, or in the plane (a lid)
        auto keep = [&](const Tri& n) {
            out.push_back(n);
            if (tags) out_tags.push_back((*tags)[ti]);
        };
        if (!any_above) {
            keep(t);
            continue;
        }
        int poly[4], n = 0;
        for (int k = 0; k < 3; ++k) {
            const int a = t[k], b = t[(k + 1) % 3];
            const double va = v[k], vb = v[(k + 1) % 3];
            if (va <= 0.0) poly[n++] = a;
            if ((va < 0.0 && vb > 0.0) || (va > 0.0 && vb < 0.0)) poly[n++] = cut_node(a, b);
        }
        for (int k = 1; k + 1 < n; ++k) keep({poly[0], poly[k], poly[k + 1]});
    }
    tris.swap(out);
    if (tags) tags->swap(out_tags);
}

// Drops degenerate triangles and unused nodes, and renumbers.
void compact(std::vector<Vec3>& nodes, std::vector<Tri>& tris, double tol, std::vector<char>* tags = nullptr)
{
    std::vector<Tri> kept;
    std::vector<char> kept_tags;
    for (std::size_t i = 0; i < tris.size(); ++i) {
        const Tri& t = tris[i];
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) continue;
        const Vec3 a2 = tri_normal(nodes, t);
        if (std::sqrt(mesh_tool::dot(a2, a2)) <= tol * tol) continue;
        kept.push_back(t);
        if (tags) kept_tags.push_back((*tags)[i]);
    }
    std::vector<int> id(nodes.size(), -1);
    std::vector<Vec3> used;
    for (Tri& t : kept)
        for (int& k : t) {
            if (id[k] < 0) {
                id[k] = static_cast<int>(used.size());
                used.push_back(nodes[k]);
            }
            k = id[k];
        }
    nodes.swap(used);
    tris.swap(kept);
    if (tags) tags->swap(kept_tags);
}

std::map<std::pair<int, int>, int> edge_counts(const std::vector<Tri>& tris)
{
    std::map<std::pair<int, int>, int> e;
    for (const Tri& t : tris)
        for (int k = 0; k < 3; ++k) ++e[{std::min(t[k], t[(k + 1) % 3]), std::max(t[k], t[(k + 1) % 3])}];
    return e;
}

// Panel meshes made of patches often meet at hanging nodes: a node of one patch lies on an
// edge of the next.  Such an edge is open only in name.  Each open edge with open-edge nodes
// on it has its triangle split at them, until none is left.  Where the seam is curved, both
// patches put their nodes on the curve and each one's chords miss the other's nodes by the
// chord's sag, about c^2 / (8 R) for a chord c on a radius R: a second round takes a node
// within `seam` times the edge's length as on it (5 % is the sag of a chord of 40 % of the
// radius), after a first round with `seam` = 0 has joined every node that lies on an edge
// exactly, so that no node is taken for the neighbouring edge it only comes close to.
void join_hanging_nodes(const std::vector<Vec3>& nodes, std::vector<Tri>& tris, double tol, double seam,
                        std::vector<char>& tags, int& joined)
{
    for (int pass = 0; pass < 8; ++pass) {
        const auto edges = edge_counts(tris);
        std::vector<int> open_nodes;
        for (const auto& [e, c] : edges)
            if (c == 1) {
                open_nodes.push_back(e.first);
                open_nodes.push_back(e.second);
            }
        std::sort(open_nodes.begin(), open_nodes.end());
        open_nodes.erase(std::unique(open_nodes.begin(), open_nodes.end()), open_nodes.end());
        std::sort(open_nodes.begin(), open_nodes.end(), [&](int a, int b) { return nodes[a].x < nodes[b].x; });
        std::vector<double> xs;
        for (int v : open_nodes) xs.push_back(nodes[v].x);

        bool changed = false;
        std::vector<Tri> out;
        std::vector<char> out_tags;
        for (std::size_t ti = 0; ti < tris.size(); ++ti) {
            const Tri& t = tris[ti];
            bool split = false;
            for (int k = 0; k < 3 && !split; ++k) {
                const int a = t[k], b = t[(k + 1) % 3], c = t[(k + 2) % 3];
                if (edges.at({std::min(a, b), std::max(a, b)}) != 1) continue;
                const Vec3 pa = nodes[a], ab = nodes[b] - pa;
                const double len2 = mesh_tool::dot(ab, ab);
                const double lo = std::min(pa.x, nodes[b].x) - tol, hi = std::max(pa.x, nodes[b].x) + tol;
                std::vector<std::pair<double, int>> on;
                for (auto it = std::lower_bound(xs.begin(), xs.end(), lo); it != xs.end() && *it <= hi; ++it) {
                    const int v = open_nodes[static_cast<std::size_t>(it - xs.begin())];
                    if (v == a || v == b || v == c) continue;
                    const Vec3 ap = nodes[v] - pa;
                    const double s = mesh_tool::dot(ap, ab) / len2;
                    if (s * s * len2 <= tol * tol || (1.0 - s) * (1.0 - s) * len2 <= tol * tol || s < 0.0 || s > 1.0)
                        continue;
                    const Vec3 off = ap - s * ab;
                    if (mesh_tool::dot(off, off) <= std::max(tol * tol, seam * seam * len2)) on.push_back({s, v});
                }
                if (on.empty()) continue;
                std::sort(on.begin(), on.end());
                int prev = a;
                for (const auto& [s, v] : on) {
                    out.push_back({prev, v, c});
                    out_tags.push_back(tags[ti]);
                    prev = v;
                }
                out.push_back({prev, b, c});
                out_tags.push_back(tags[ti]);
                joined += static_cast<int>(on.size());
                split = changed = true;
            }
            if (!split) {
                out.push_back(t);
                out_tags.push_back(tags[ti]);
            }
        }
        tris.swap(out);
        tags.swap(out_tags);
        if (!changed) return;
    }
}

void bounds(Prepared& p)
{
    p.x_min = 1e300;
    p.x_max = -1e300;
    p.y_max = 0.0;
    p.z_min = 0.0;
    for (const Vec3& v : p.nodes) {
        p.x_min = std::min(p.x_min, v.x);
        p.x_max = std::max(p.x_max, v.x);
        p.y_max = std::max(p.y_max, std::abs(v.y));
        p.z_min = std::min(p.z_min, v.z);
    }
}

}  // namespace

Measures measure_sheets(const std::vector<Sheet>& sheets)
{
    Measures m;
    for (const Sheet& s : sheets)
        for (int b = 0; b < s.np2; ++b)
            for (int a = 0; a < s.np1; ++a) {
                // (1) of mesh_shapes.hpp: |t1 x t2| is the area of a flat quadrilateral and
                // t1 x t2 its vector area, along the normal into the body.
                const Vec3 n = mesh_tool::panel_normal(s, a, b);
                const double zc = 0.25 * (s.node(a, b).z + s.node(a + 1, b).z + s.node(a, b + 1).z + s.node(a + 1, b + 1).z);
                m.area += std::sqrt(mesh_tool::dot(n, n));
                m.volume -= n.z * zc;
            }
    return m;
}

Prepared prepare(const Surface& in, const PrepareOptions& o, std::vector<std::string>& notes)
{
    if (in.faces.empty()) throw MeshError("the file holds no panels");
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (std::size_t i = 0; i < in.nodes.size(); ++i) {
        const Vec3& p = in.nodes[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            throw MeshError("node " + std::to_string(i + 1) + " has a coordinate that is not a finite number");
        const double c[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], c[k]);
            hi[k] = std::max(hi[k], c[k]);
        }
    }
    const double diag = std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1])
                                  + (hi[2] - lo[2]) * (hi[2] - lo[2]));
    if (!(diag > 0.0)) throw MeshError("the surface has no extent");
    const double tol = o.merge_tolerance >= 0.0 ? o.merge_tolerance : 1e-6 * diag;
    if (in.half && lo[1] < -tol)
        throw MeshError("the file says it holds the half y >= 0 only, but has nodes down to y = " + std::to_string(lo[1]));
    if (!(lo[2] < o.waterline - tol))
        throw MeshError("nothing of the surface lies below the waterline z = " + std::to_string(o.waterline));

    Prepared p;
    p.tolerance = tol;
    // The waterline becomes z = 0; coordinates within the tolerance of z = 0 or y = 0 are put
    // on those planes, so that the cut and the centre plane are exact.
    std::vector<Vec3> shifted = in.nodes;
    for (Vec3& v : shifted) {
        v.z -= o.waterline;
        if (std::abs(v.z) <= tol) v.z = 0.0;
        if (std::abs(v.y) <= tol) v.y = 0.0;
    }
    const std::vector<int> map = merge_nodes(shifted, tol, p.nodes);
    if (p.nodes.size() < shifted.size())
        notes.push_back("merged " + std::to_string(shifted.size() - p.nodes.size()) + " duplicate nodes (tolerance "
                        + std::to_string(tol) + ")");

    std::vector<Tri> tris;
    std::vector<char> tags;   // 1 where the triangle keeps the corner order it was read with
    for (const auto& f : in.faces) {
        const int c[4] = {map[f[0]], map[f[1]], map[f[2]], f[3] < 0 ? -1 : map[f[3]]};
        if (c[3] < 0) {
            tris.push_back({c[0], c[1], c[2]});
        } else {
            // The shorter diagonal splits a quadrilateral: the better pair of triangles.
            const Vec3 d02 = p.nodes[c[2]] - p.nodes[c[0]], d13 = p.nodes[c[3]] - p.nodes[c[1]];
            if (mesh_tool::dot(d02, d02) <= mesh_tool::dot(d13, d13)) {
                tris.push_back({c[0], c[1], c[2]});
                tris.push_back({c[0], c[2], c[3]});
            } else {
                tris.push_back({c[0], c[1], c[3]});
                tris.push_back({c[1], c[2], c[3]});
            }
            tags.push_back(1);
        }
        tags.push_back(1);
    }
    clip(p.nodes, tris, 2, 1.0, &tags);
    {
        // Two patches meeting on an edge that the waterline cuts each make a node there.
        std::vector<Vec3> cut_nodes;
        const std::vector<int> again = merge_nodes(p.nodes, tol, cut_nodes);
        for (Tri& t : tris)
            for (int& k : t) k = again[k];
        p.nodes.swap(cut_nodes);
    }
    p.half = in.half || lo[1] >= -tol;
    if (p.half) {
        // Lids in the centre plane of a closed half body belong to no wetted surface.
        std::vector<Tri> kept;
        std::vector<char> kept_tags;
        for (std::size_t i = 0; i < tris.size(); ++i) {
            const Tri& t = tris[i];
            if (p.nodes[t[0]].y == 0.0 && p.nodes[t[1]].y == 0.0 && p.nodes[t[2]].y == 0.0) continue;
            kept.push_back(t);
            kept_tags.push_back(tags[i]);
        }
        tris.swap(kept);
        tags.swap(kept_tags);
    }
    compact(p.nodes, tris, tol, &tags);
    // A panel given twice on the same nodes (the two sides of a fin of no thickness, or one
    // written twice) encloses nothing: both copies go.
    {
        std::map<std::array<int, 3>, int> seen;
        for (const Tri& t : tris) {
            std::array<int, 3> k = t;
            std::sort(k.begin(), k.end());
            ++seen[k];
        }
        std::vector<Tri> kept;
        std::vector<char> kept_tags;
        for (std::size_t i = 0; i < tris.size(); ++i) {
            std::array<int, 3> k = tris[i];
            std::sort(k.begin(), k.end());
            if (seen[k] > 1) continue;
            kept.push_back(tris[i]);
            kept_tags.push_back(tags[i]);
        }
        if (kept.size() < tris.size())
            notes.push_back("dropped " + std::to_string(tris.size() - kept.size()) + " panels given twice on the same nodes");
        tris.swap(kept);
        tags.swap(kept_tags);
        compact(p.nodes, tris, tol, &tags);
    }
    if (tris.empty()) throw MeshError("no panel lies below the waterline");

    int joined = 0;
    join_hanging_nodes(p.nodes, tris, tol, 0.0, tags, joined);
    compact(p.nodes, tris, tol, &tags);
    join_hanging_nodes(p.nodes, tris, tol, 0.05, tags, joined);
    compact(p.nodes, tris, tol, &tags);
    if (joined) notes.push_back("joined " + std::to_string(joined) + " hanging nodes into the edges they lie on");

    // Edges: used by more than two triangles is no surface; used once away from the waterline
    // and (for a half hull) the centre plane is a hole.
    long holes = 0;
    Vec3 first_hole;
    for (const auto& [e, c] : edge_counts(tris)) {
        const Vec3 a = p.nodes[e.first], b = p.nodes[e.second];
        if (c > 2)
            throw MeshError("the edge " + where(a) + " - " + where(b) + " is shared by " + std::to_string(c)
                            + " panels: the surface is not a simple hull surface");
        if (c != 1) continue;
        if (a.z == 0.0 && b.z == 0.0) continue;
        if (p.half && a.y == 0.0 && b.y == 0.0) continue;
        if (holes++ == 0) first_hole = 0.5 * (a + b);
    }
    if (holes)
        throw MeshError("the surface has holes: " + std::to_string(holes)
                        + " open edges away from the waterline" + (p.half ? " and the centre plane y = 0" : "")
                        + ", the first near " + where(first_hole + Vec3{0, 0, o.waterline})
                        + " (a whole hull must be closed below the waterline, a half hull open only on y = 0)");

    const OrientResult orient = orient_consistently(p.nodes, tris);
    if (orient.components > 1)
        throw MeshError("the surface is " + std::to_string(orient.components)
                        + " separate bodies below the waterline (columns, pontoons or several hulls): "
                          "torva-mesh imports one hull");
    for (std::size_t i = 0; i < tris.size(); ++i)
        if (orient.reversed[i]) tags[i] = static_cast<char>(!tags[i]);
    p.source = measure(p.nodes, tris);
    if (p.source.volume < 0.0) {
        for (Tri& t : tris) std::swap(t[1], t[2]);
        for (char& t : tags) t = static_cast<char>(!t);
        p.source.volume = -p.source.volume;
    }
    long turned = 0;
    for (char t : tags) turned += t == 0;
    if (in.orientation_known && 2 * turned > static_cast<long>(tris.size())) {
        if (o.check_orientation)
            throw MeshError("the hull is reversed: " + std::to_string(turned) + " of " + std::to_string(tris.size())
                            + " triangles have their normals into the body, where " + in.format
                            + " has them out of it (the displaced volume comes out negative); "
                              "--orientation ignore imports it anyway");
        notes.push_back("the panels' normals pointed into the body; turned");
    } else if (in.orientation_known && turned > 0) {
        notes.push_back("turned " + std::to_string(turned) + " triangles to agree with their neighbours");
    }
    p.tris = std::move(tris);
    bounds(p);
    return p;
}

Prepared half_of(const Prepared& whole, bool mirror)
{
    Prepared h = whole;
    clip(h.nodes, h.tris, 1, mirror ? 1.0 : -1.0);
    if (mirror) {
        for (Vec3& v : h.nodes) v.y = v.y == 0.0 ? 0.0 : -v.y;
        for (Tri& t : h.tris) std::swap(t[1], t[2]);
    }
    compact(h.nodes, h.tris, whole.tolerance);
    if (h.tris.empty()) throw MeshError("the hull has no part on one side of y = 0");
    h.half = true;
    h.source = measure(h.nodes, h.tris);
    bounds(h);
    return h;
}

}  // namespace torva::hull
