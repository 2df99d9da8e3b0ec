// Sections to sheets.
//
// A half hull (y >= 0, waterline z = 0) cut by the plane x = const leaves, in that plane, open
// curves (pieces).  Each end of a piece lies on the waterline (W) or on the centre plane y = 0
// (K, for keel), since the wetted half surface is open only there.  A piece K -> W is the main
// section; a piece K -> K lying below it is a bulbous bow that the plane cuts apart from the
// hull.  Anything else (a piece W -> W, a closed loop, two main pieces) means the body is not
// one hull: a catamaran, columns or pontoons.
//
// Along x the sections go   main ... main [main+bulb ... main+bulb [bulb ... bulb]]  from
// the stern to the bow.  The changes are found by bisection on x, and the hull becomes
//   - the main sheet, from the stern to the station x_s where the bulb parts from the hull
//     (or to the bow when there is no bulb), its sections resampled by arc length; where the
//     sections start with a flat bottom (or a skeg's), that stretch of stations is split into
//     a bottom sheet and a side sheet sharing the nodes of the bottom's edge;
//   - for a bulb, an upper sheet and a bulb sheet forward of x_s, both starting on the main
//     sheet's last section, which is split at the neck between them: the three sheets share
//     those nodes;
//   - a transom sheet at an end whose section has width (beyond 1 % of the largest half
//     beam), whose curved edges are the end section's nodes themselves.
// An end without width (a stem) has its section put on y = 0, so the waterline of the hull
// starts and ends on the centre plane, where the free surface needs it; an end with width but
// no depth lies on the waterline and is put on z = 0.
//
// Every sheet has its first direction along x and its second along the section from keel to
// waterline; on the port side (y > 0) that turns the normal (1) of mesh_shapes.hpp into the
// body, as on every torva-mesh hull.
#include "hull.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace torva::hull {

namespace {

enum class Kind { none, main, main_bulb, bulb, odd };

struct Cut {
    Kind kind = Kind::none;
    std::string odd;   // why the section is not one hull's (kind odd)
    Polyline main;   // keel -> waterline
    Polyline bulb;   // lower -> upper end on y = 0
};

std::string num(double v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

double length_of(const Polyline& p)
{
    double g = 0.0;
    for (std::size_t i = 1; i < p.size(); ++i) g += std::hypot(p[i].y - p[i - 1].y, p[i].z - p[i - 1].z);
    return g;
}

// `noise`: pieces shorter than this are facets cut at a tip (a stem, a bulb's nose), where
// the plane meets a few triangles only and their chords need not reach the centre plane.
Cut classify(const std::vector<Polyline>& pieces, double x, double eps, double noise)
{
    Cut c;
    int mains = 0, bulbs = 0;
    const std::string at = "the section at x = " + num(x);
    for (Polyline p : pieces) {
        if (p.size() < 2 || length_of(p) <= noise) continue;
        const YZ a = p.front(), b = p.back();
        if (std::hypot(a.y - b.y, a.z - b.z) <= eps) {
            c.kind = Kind::odd;
            c.odd = at + " holds a closed loop: the body is not one hull (a column, pontoon or second hull "
                         "that reaches neither the waterline nor the centre plane)";
            return c;
        }
        auto end = [&](YZ e) {
            if (std::abs(e.z) <= eps) return 'W';
            if (std::abs(e.y) <= eps) return 'K';
            throw MeshError(at + " ends in the open at y = " + num(e.y) + ", z = " + num(e.z) + ": the surface has a hole");
        };
        const char ea = end(a), eb = end(b);
        if (ea == 'W' && eb == 'W') {
            c.kind = Kind::odd;
            c.odd = at + " has a piece from the waterline to the waterline: the body is not one hull "
                         "(a catamaran, or columns of a semi-submersible)";
            return c;
        }
        if (ea == 'K' && eb == 'K') {
            if (a.z > b.z) std::reverse(p.begin(), p.end());
            c.bulb = std::move(p);
            ++bulbs;
        } else {
            if (ea == 'W') std::reverse(p.begin(), p.end());
            c.main = std::move(p);
            ++mains;
        }
    }
    if (mains > 1 || bulbs > 1) {
        c.kind = Kind::odd;
        c.odd = at + " falls into " + std::to_string(mains + bulbs)
                + " pieces: the body is not one hull (several columns, pontoons or hulls)";
        return c;
    }
    if (mains && bulbs && c.bulb.back().z > c.main.front().z) {
        c.kind = Kind::odd;
        c.odd = at + " has a piece on the centre plane above the keel: the body is not one hull";
        return c;
    }
    c.kind = mains ? (bulbs ? Kind::main_bulb : Kind::main) : (bulbs ? Kind::bulb : Kind::none);
    return c;
}

// n + 1 points at equal arc length along p between the arc lengths s0 and s1.
std::vector<YZ> resample(const Polyline& p, double s0, double s1, int n)
{
    std::vector<double> s(p.size(), 0.0);
    for (std::size_t i = 1; i < p.size(); ++i) s[i] = s[i - 1] + std::hypot(p[i].y - p[i - 1].y, p[i].z - p[i - 1].z);
    std::vector<YZ> out;
    std::size_t j = 1;
    for (int k = 0; k <= n; ++k) {
        const double t = s0 + (s1 - s0) * k / n;
        while (j + 1 < p.size() && s[j] < t) ++j;
        const double len = s[j] - s[j - 1];
        const double f = len > 0.0 ? std::clamp((t - s[j - 1]) / len, 0.0, 1.0) : 0.0;
        out.push_back({p[j - 1].y + f * (p[j].y - p[j - 1].y), p[j - 1].z + f * (p[j].z - p[j - 1].z)});
    }
    return out;
}

// The point at arc length t along p (s: the arc lengths of p's points).
YZ point_at(const Polyline& p, const std::vector<double>& s, double t)
{
    const std::size_t j = std::clamp<std::size_t>(
        static_cast<std::size_t>(std::lower_bound(s.begin(), s.end(), t) - s.begin()), 1, p.size() - 1);
    const double len = s[j] - s[j - 1];
    const double f = len > 0.0 ? std::clamp((t - s[j - 1]) / len, 0.0, 1.0) : 0.0;
    return {p[j - 1].y + f * (p[j].y - p[j - 1].y), p[j - 1].z + f * (p[j].z - p[j - 1].z)};
}

// n + 1 points along p between the arc lengths s0 and s1 that keep its knuckles: a chine, the
// edge of a flat bottom or of a skeg.  Resampling at equal arc length would cut such a corner
// and lose the volume of the triangle it leaves out; here a point of p where the curve turns
// by more than 30 degrees (measured between points a quarter of a panel away on either side,
// so that the kinks of a faceted section do not count) becomes a node, and the panels are
// shared among the stretches between knuckles in proportion to their lengths.
std::vector<YZ> resample_keeping_knuckles(const Polyline& p, double s0, double s1, int n)
{
    std::vector<double> s(p.size(), 0.0);
    for (std::size_t i = 1; i < p.size(); ++i) s[i] = s[i - 1] + std::hypot(p[i].y - p[i - 1].y, p[i].z - p[i - 1].z);
    const double h = 0.25 * (s1 - s0) / n;
    std::vector<std::pair<double, double>> knuckles;   // (arc length, turn)
    for (std::size_t i = 1; i + 1 < p.size(); ++i) {
        if (s[i] - s0 < 2.0 * h || s1 - s[i] < 2.0 * h) continue;
        const YZ a = point_at(p, s, s[i] - h), b = point_at(p, s, s[i] + h);
        const double ay = p[i].y - a.y, az = p[i].z - a.z, by = b.y - p[i].y, bz = b.z - p[i].z;
        const double turn = std::atan2(std::abs(ay * bz - az * by), ay * by + az * bz);
        if (turn < 0.5236) continue;
        if (!knuckles.empty() && s[i] - knuckles.back().first < 2.0 * h) {
            if (turn > knuckles.back().second) knuckles.back() = {s[i], turn};
            continue;
        }
        knuckles.push_back({s[i], turn});
    }
    std::vector<double> cuts{s0};
    for (const auto& k : knuckles) cuts.push_back(k.first);
    cuts.push_back(s1);
    const int m = static_cast<int>(cuts.size()) - 1;
    if (m > n) return resample(p, s0, s1, n);
    // Panels per stretch: one each, the rest by largest remainder of the length share.
    std::vector<int> count(m, 1);
    std::vector<std::pair<double, int>> rest;
    int given = m;
    for (int k = 0; k < m; ++k) {
        const double share = (n - m) * (cuts[k + 1] - cuts[k]) / (s1 - s0);
        count[k] += static_cast<int>(share);
        given += static_cast<int>(share);
        rest.push_back({share - std::floor(share), k});
    }
    std::sort(rest.rbegin(), rest.rend());
    for (int k = 0; given < n; ++k, ++given) ++count[rest[static_cast<std::size_t>(k) % rest.size()].second];
    std::vector<YZ> out;
    for (int k = 0; k < m; ++k) {
        std::vector<YZ> part = resample(p, cuts[k], cuts[k + 1], count[k]);
        out.insert(out.end(), part.begin() + (k == 0 ? 0 : 1), part.end());
    }
    return out;
}

// The flat bottom of a section: the arc length from the keel along which it stays at the
// keel's height (within eps), to the point where it leaves it; 0 when it leaves at once.
double flat_bottom_edge(const Polyline& p, double eps)
{
    double s = 0.0;
    for (std::size_t i = 1; i < p.size(); ++i) {
        if (std::abs(p[i].z - p[0].z) > eps) break;
        s += std::hypot(p[i].y - p[i - 1].y, p[i].z - p[i - 1].z);
    }
    return s;
}

double point_y(const Polyline& p, double t)
{
    std::vector<double> s(p.size(), 0.0);
    for (std::size_t i = 1; i < p.size(); ++i) s[i] = s[i - 1] + std::hypot(p[i].y - p[i - 1].y, p[i].z - p[i - 1].z);
    return point_at(p, s, t).y;
}

// Arc length along p of the point of p nearest to q.
double arc_at(const Polyline& p, YZ q)
{
    double best = 1e300, at = 0.0, s = 0.0;
    for (std::size_t i = 1; i < p.size(); ++i) {
        const double dy = p[i].y - p[i - 1].y, dz = p[i].z - p[i - 1].z, len2 = dy * dy + dz * dz;
        const double t = len2 > 0.0 ? std::clamp(((q.y - p[i - 1].y) * dy + (q.z - p[i - 1].z) * dz) / len2, 0.0, 1.0) : 0.0;
        const double ey = p[i - 1].y + t * dy - q.y, ez = p[i - 1].z + t * dz - q.z;
        if (ey * ey + ez * ez < best) {
            best = ey * ey + ez * ez;
            at = s + t * std::sqrt(len2);
        }
        s += std::sqrt(len2);
    }
    return at;
}

// Stations x_0 .. x_n from a to b, clustered toward both ends (cosine spacing).
std::vector<double> stations(double a, double b, int n)
{
    const auto t = mesh_tool::cosine_table(n);
    std::vector<double> x(static_cast<std::size_t>(n) + 1);
    for (int i = 0; i <= n; ++i) x[i] = a + 0.5 * (t[i] + 1.0) * (b - a);
    x[0] = a;
    x[n] = b;
    return x;
}

Sheet sheet_of(const std::vector<double>& xs, const std::vector<std::vector<YZ>>& rows)
{
    const int n1 = static_cast<int>(xs.size()) - 1, n2 = static_cast<int>(rows[0].size()) - 1;
    return mesh_tool::make_sheet(n1, n2, mesh_tool::kKindBody, [&](int a, int b) {
        return Vec3{xs[a], rows[a][b].y, rows[a][b].z};
    });
}

// Reverses the first direction when the panel normals, summed, point against `wanted`.
void orient_toward(Sheet& s, Vec3 wanted)
{
    Vec3 sum;
    for (int b = 0; b < s.np2; ++b)
        for (int a = 0; a < s.np1; ++a) sum = sum + mesh_tool::panel_normal(s, a, b);
    if (mesh_tool::dot(sum, wanted) >= 0.0) return;
    Sheet r = s;
    for (int b = 0; b <= s.np2; ++b)
        for (int a = 0; a <= s.np1; ++a) r.node(a, b) = s.node(s.np1 - a, b);
    s = r;
}

// The transom in the plane x: a Coons patch whose four sides are the lower and upper halves
// of the end section (its nodes as they are), the waterline from the centre plane to the
// section's top, and the centre line from the keel up to the waterline:
//     X(u, v) = (1-u) S4(v) + u S2(v) + (1-v) S1(u) + v S3(u)
//               - [(1-u)(1-v) X00 + u(1-v) X10 + (1-u) v X01 + u v X11].
Sheet transom(const std::vector<YZ>& sec, double x, bool aft)
{
    const int nz = static_cast<int>(sec.size()) - 1, m = nz / 2;
    auto S1 = [&](int u) { return sec[u]; };
    auto S2 = [&](int v) { return sec[m + v]; };
    auto S3 = [&](int u) { return u == m ? sec[nz] : YZ{sec[nz].y * u / m, 0.0}; };
    auto S4 = [&](int v) { return v == 0 ? sec[0] : YZ{0.0, v == m ? 0.0 : sec[0].z * (1.0 - double(v) / m)}; };
    Sheet s = mesh_tool::make_sheet(m, m, mesh_tool::kKindBody, [&](int iu, int iv) {
        YZ p;
        if (iv == 0) p = S1(iu);
        else if (iu == m) p = S2(iv);
        else if (iv == m) p = S3(iu);
        else if (iu == 0) p = S4(iv);
        else {
            const double u = double(iu) / m, v = double(iv) / m;
            const YZ a = S4(iv), b = S2(iv), c = S1(iu), d = S3(iu);
            const YZ x00 = sec[0], x10 = sec[m], x01 = {0.0, 0.0}, x11 = sec[nz];
            p.y = (1 - u) * a.y + u * b.y + (1 - v) * c.y + v * d.y
                  - ((1 - u) * (1 - v) * x00.y + u * (1 - v) * x10.y + (1 - u) * v * x01.y + u * v * x11.y);
            p.z = (1 - u) * a.z + u * b.z + (1 - v) * c.z + v * d.z
                  - ((1 - u) * (1 - v) * x00.z + u * (1 - v) * x10.z + (1 - u) * v * x01.z + u * v * x11.z);
        }
        return Vec3{x, p.y, p.z};
    });
    orient_toward(s, {aft ? 1.0 : -1.0, 0.0, 0.0});
    return s;
}

double max_y(const std::vector<YZ>& r)
{
    double m = 0.0;
    for (const YZ& p : r) m = std::max(m, p.y);
    return m;
}

// The rows (resampled sections) of the main hull at the stations x, and its flat-bottom run.
// The stations whose sections start with a flat stretch wider than 2 % of the largest
// half-breadth form runs; the longest carries a bottom sheet of its own, nb panels across.
// Rows in the run are split at the bottom's edge; rows before it at the share of the girth
// that the run's first section gives its bottom, rows after it likewise (so the sheets meet
// node for node).  With a bulbous bow (neck > 0) the last row is split instead at the share
// `neck` of its girth with nzb panels below, where the bulb's sheet takes over, and the rows
// between the run and it go over from the one split to the other.
struct MainRows {
    std::vector<std::vector<YZ>> rows;
    int i0 = 0, i1 = -1, nb = 0;   // the bottom run, when i1 > i0
};

MainRows main_rows(const std::vector<double>& x, const std::vector<Polyline>& secs, int nz, double ymax, double eps,
                   double neck, int nzb)
{
    const int n = static_cast<int>(x.size()) - 1;
    std::vector<double> flat;
    for (const Polyline& sec : secs) flat.push_back(flat_bottom_edge(sec, eps));
    MainRows m;
    int i0 = 0, i1 = -1;
    for (int i = 0, start = 0; i <= n; ++i) {
        const bool wide = flat[i] > 0.0 && secs[i][0].y == 0.0 && point_y(secs[i], flat[i]) > 0.02 * ymax;
        if (!wide) {
            start = i + 1;
            continue;
        }
        if (i - start > i1 - i0) {
            i0 = start;
            i1 = i;
        }
    }
    // A sheet only one or two stations long gives the setup's spline sheets nothing to span:
    // the run is stretched to the end instead (short of a bulb, which needs its own stretch).
    if (i0 < 3) i0 = 0;
    if (neck > 0.0) i1 = std::min(i1, n - 3);
    else if (n - i1 < 3) i1 = n;
    const bool bottom = i1 - i0 >= 3;
    if (bottom) {
        const int im = (i0 + i1) / 2;
        m.nb = std::clamp(static_cast<int>(std::lround(nz * flat[im] / length_of(secs[im]))), 3, nz - 3);
        if (neck > 0.0) m.nb = std::min(m.nb, nz - 3);
        m.i0 = i0;
        m.i1 = i1;
    }
    auto split_row = [&](const Polyline& sec, double at, int below) {
        const double g = length_of(sec);
        std::vector<YZ> lo = below == 0 ? std::vector<YZ>{} : resample(sec, 0.0, at, below);
        if (below > 0 && neck > 0.0 && at == neck * g) lo = resample_keeping_knuckles(sec, 0.0, at, below);
        std::vector<YZ> hi = resample_keeping_knuckles(sec, at, g, nz - below);
        if (!lo.empty()) lo.insert(lo.end(), hi.begin() + 1, hi.end());
        else lo = hi;
        return lo;
    };
    for (int i = 0; i <= n; ++i) {
        const Polyline& sec = secs[i];
        const double g = length_of(sec);
        std::vector<YZ> row;
        if (!bottom) {
            row = neck > 0.0 ? split_row(sec, neck * g, nzb) : resample_keeping_knuckles(sec, 0.0, g, nz);
        } else if (i <= i1 || neck <= 0.0) {
            const int ie = i < i0 ? i0 : (i > i1 ? i1 : i);
            row = split_row(sec, i == ie ? flat[i] : g * flat[ie] / length_of(secs[ie]), m.nb);
        } else if (i == n) {
            row = split_row(sec, neck * g, nzb);
        } else {
            // Between the bottom's end (nb panels up to its share b) and the bulb's station (nzb
            // up to the neck's share): each node's share of the girth goes over linearly in x.
            const double b = flat[i1] / length_of(secs[i1]), w = (x[i] - x[i1]) / (x[n] - x[i1]);
            std::vector<double> s(sec.size(), 0.0);
            for (std::size_t j = 1; j < sec.size(); ++j)
                s[j] = s[j - 1] + std::hypot(sec[j].y - sec[j - 1].y, sec[j].z - sec[j - 1].z);
            auto share = [&](int k, int below, double at) {
                return k <= below ? at * k / below : at + (1.0 - at) * (k - below) / (nz - below);
            };
            for (int k = 0; k <= nz; ++k)
                row.push_back(point_at(sec, s, g * ((1.0 - w) * share(k, m.nb, b) + w * share(k, nzb, neck))));
        }
        row.front().y = 0.0;
        row.back().z = 0.0;
        m.rows.push_back(row);
    }
    return m;
}

// The main hull's sheets: one, or with a bottom run the stations before it, the bottom (keel
// to its edge) and the side (edge to waterline) along it, and the stations after it.
void push_main(const std::vector<double>& x, const MainRows& m, int nz, std::vector<Sheet>& sheets,
               std::vector<std::string>& notes)
{
    const int n = static_cast<int>(x.size()) - 1;
    auto part = [&](int a, int b, int lo, int hi) {
        const std::vector<double> xs(x.begin() + a, x.begin() + b + 1);
        std::vector<std::vector<YZ>> r;
        for (int i = a; i <= b; ++i) r.push_back(std::vector<YZ>(m.rows[i].begin() + lo, m.rows[i].begin() + hi + 1));
        return sheet_of(xs, r);
    };
    if (m.i1 <= m.i0) {
        sheets.push_back(part(0, n, 0, nz));
        return;
    }
    if (m.i0 > 0) sheets.push_back(part(0, m.i0, 0, nz));
    sheets.push_back(part(m.i0, m.i1, m.nb, nz));
    sheets.push_back(part(m.i0, m.i1, 0, m.nb));
    if (m.i1 < n) sheets.push_back(part(m.i1, n, 0, nz));
    notes.push_back("flat bottom from x = " + num(x[m.i0]) + " to " + num(x[m.i1]) + ": a sheet of its own, "
                    + std::to_string(m.nb) + " of the " + std::to_string(nz) + " panels of a section on it");
}

// Settles the end section `end` of a sheet whose sections are `rows`: a transom when it has
// width (beyond 1 % of the largest half-breadth) and depth (beyond 1 % of the deepest
// section), returning true; a stern or bow that ends on the waterline (a ramp rising through
// it) when it has width but no depth, put on z = 0; otherwise a stem, put on y = 0.
bool end_shape(std::vector<YZ>& end, const std::vector<std::vector<YZ>>& rows, double ymax)
{
    double deepest = 0.0, depth = 0.0;
    for (const auto& r : rows)
        for (const YZ& q : r) deepest = std::max(deepest, -q.z);
    for (const YZ& q : end) depth = std::max(depth, -q.z);
    if (!(max_y(end) > 0.01 * ymax)) {
        for (YZ& q : end) q.y = 0.0;
        return false;
    }
    if (!(depth > 0.01 * deepest)) {
        for (YZ& q : end) q.z = 0.0;
        return false;
    }
    return true;
}

}  // namespace

std::vector<Sheet> regrid(const SectionFn& section, const HullExtent& e, const RegridParams& p,
                          std::vector<std::string>& notes)
{
    if (p.nx < 6) throw MeshError("--nx must be at least 6");
    // Every sheet made here spans at least three panels in each direction (a transom nz / 2):
    // the setup's spline pieces reach over neighbouring panels, and a sheet one panel wide
    // leaves its system singular.
    if (p.nz < 6 || p.nz % 2 != 0) throw MeshError("--nz must be even and at least 6");
    const double len = e.x_max - e.x_min;
    if (!(len > 0.0)) throw MeshError("the hull has no length along x");
    const double eps = 1e-9 * len;
    auto cut = [&](double x) { return classify(section(x), x, eps, 2e-3 * len); };

    // Scan, then the changes of kind by bisection.
    const int n_scan = 200;
    const double a0 = e.x_min + e.end_offset, b0 = e.x_max - e.end_offset;
    std::vector<double> xs(n_scan + 1);
    std::vector<Kind> ks(n_scan + 1);
    std::vector<std::string> why(n_scan + 1);
    for (int i = 0; i <= n_scan; ++i) {
        xs[i] = a0 + (b0 - a0) * i / n_scan;
        const Cut c = cut(xs[i]);
        ks[i] = c.kind;
        why[i] = c.odd;
    }
    // A faceted tip (a nose whose last vertex lies off the centre plane) cuts into small odd
    // sections over the last percent of the length: those count as no section.  Anywhere
    // else an odd section means the body is not one hull.
    for (int i = 0; i <= n_scan; ++i) {
        if (ks[i] != Kind::odd) continue;
        const bool tip = xs[i] - a0 < 0.01 * len || b0 - xs[i] < 0.01 * len;
        if (!tip) throw MeshError(why[i]);
        ks[i] = Kind::none;
    }
    struct Change {
        Kind from, to;
        double left, right;   // last x of `from`, first x of `to`
    };
    std::vector<Change> changes;
    for (int i = 0; i < n_scan; ++i) {
        if (ks[i] == ks[i + 1]) continue;
        double l = xs[i], r = xs[i + 1];
        for (int it = 0; it < 48 && r - l > 1e-12 * len; ++it) {
            const double m = 0.5 * (l + r);
            Kind k = cut(m).kind;
            if (k == Kind::odd) k = Kind::none;
            (k == ks[i] ? l : r) = m;
        }
        changes.push_back({ks[i], ks[i + 1], l, r});
    }
    // The runs of kinds from stern to bow must read  none? main+ [main_bulb+ [bulb+]] none?.
    std::vector<Kind> runs{ks[0]};
    for (const Change& c : changes) runs.push_back(c.to);
    double x_start = a0, x_end = b0;
    if (runs.front() == Kind::none) {
        runs.erase(runs.begin());
        x_start = changes.front().right;
        changes.erase(changes.begin());
    }
    if (!runs.empty() && runs.back() == Kind::none) {
        runs.pop_back();
        x_end = changes.back().left;
        changes.pop_back();
    }
    const bool plain = runs.size() == 1 && runs[0] == Kind::main;
    const bool bulb_flush = runs.size() == 2 && runs[0] == Kind::main && runs[1] == Kind::main_bulb;
    const bool bulb_ahead = runs.size() == 3 && runs[0] == Kind::main && runs[1] == Kind::main_bulb && runs[2] == Kind::bulb;
    if (!plain && !bulb_flush && !bulb_ahead) {
        static const char* names[] = {"nothing", "hull", "hull and bulb", "bulb", "odd"};
        std::string seen = names[static_cast<int>(ks[0])] + std::string(" from x = ") + num(a0);
        for (const Change& c : changes) seen += ", " + std::string(names[static_cast<int>(c.to)]) + " from x = " + num(c.right);
        throw MeshError("the sections along x do not describe one hull with at most a bulbous bow (stern to bow: "
                        + seen + "): the body is not one hull");
    }

    std::vector<Sheet> sheets;
    const int nz = p.nz;
    if (plain) {
        const auto x = stations(x_start, x_end, p.nx);
        std::vector<Polyline> secs;
        double ymax = 0.0;
        for (double xi : x) {
            secs.push_back(cut(xi).main);
            for (const YZ& q : secs.back()) ymax = std::max(ymax, q.y);
        }
        MainRows m = main_rows(x, secs, nz, ymax, eps, 0.0, 0);
        auto& rows = m.rows;
        const bool stern_transom = end_shape(rows.front(), rows, ymax);
        const bool bow_transom = end_shape(rows.back(), rows, ymax);
        push_main(x, m, nz, sheets, notes);
        if (stern_transom) {
            sheets.push_back(transom(rows.front(), x.front(), true));
            notes.push_back("transom at x = " + num(x.front()) + ": a sheet of its own");
        }
        if (bow_transom) {
            sheets.push_back(transom(rows.back(), x.back(), false));
            notes.push_back("flat end at x = " + num(x.back()) + ": a sheet of its own");
        }
    } else {
        // The bulb parts from the hull between x_s (one piece, a narrow neck) and the next x.
        const Change& split = changes[0];
        const double x_s = split.left;
        const Cut right = cut(split.right);
        const YZ neck{0.0, 0.5 * (right.bulb.back().z + right.main.front().z)};
        const Cut at_s = cut(x_s);
        const double f = arc_at(at_s.main, neck) / length_of(at_s.main);
        const int nzb = std::clamp(static_cast<int>(std::lround(nz * f)), 3, nz - 3), nzu = nz - nzb;
        const double upper_end = bulb_ahead ? changes[1].left : x_end;
        const double bulb_end = x_end;

        const int nxa = std::max(3, static_cast<int>(std::lround(p.nx * (x_s - x_start) / (x_end - x_start))));
        const auto xa = stations(x_start, x_s, nxa);
        std::vector<Polyline> secs;
        double ymax = 0.0;
        for (double xi : xa) {
            secs.push_back(xi == x_s ? at_s.main : cut(xi).main);
            for (const YZ& q : secs.back()) ymax = std::max(ymax, q.y);
        }
        MainRows m = main_rows(xa, secs, nz, ymax, eps, f, nzb);
        auto& rows = m.rows;
        const bool stern_transom = end_shape(rows.front(), rows, ymax);
        push_main(xa, m, nz, sheets, notes);
        if (stern_transom) {
            sheets.push_back(transom(rows.front(), xa.front(), true));
            notes.push_back("transom at x = " + num(xa.front()) + ": a sheet of its own");
        }

        auto fore = [&](double x_last, int n_panels, bool take_bulb) {
            const int n = std::max(3, static_cast<int>(std::lround(p.nx * (x_last - x_s) / (x_end - x_start))));
            const auto xf = stations(x_s, x_last, n);
            std::vector<std::vector<YZ>> fr;
            const std::vector<YZ>& shared = rows.back();
            fr.push_back(take_bulb ? std::vector<YZ>(shared.begin(), shared.begin() + nzb + 1)
                                   : std::vector<YZ>(shared.begin() + nzb, shared.end()));
            for (std::size_t i = 1; i < xf.size(); ++i) {
                const Cut c = cut(xf[i]);
                const Polyline& piece = take_bulb ? c.bulb : c.main;
                if (piece.empty())
                    throw MeshError("the section at x = " + num(xf[i]) + " lost its " + (take_bulb ? "bulb" : "upper hull"));
                auto r = resample_keeping_knuckles(piece, 0.0, length_of(piece), n_panels);
                r.front().y = 0.0;
                if (take_bulb) r.back().y = 0.0;
                else r.back().z = 0.0;
                fr.push_back(r);
            }
            for (YZ& q : fr.back()) q.y = 0.0;   // the stem, or the bulb's nose
            return sheet_of(xf, fr);
        };
        sheets.push_back(fore(upper_end, nzu, false));
        sheets.push_back(fore(bulb_end, nzb, true));
        notes.push_back("bulbous bow forward of x = " + num(x_s) + ": a sheet of its own, "
                        + std::to_string(nzb) + " of the " + std::to_string(nz) + " panels of a section on it");
    }
    return sheets;
}

// ---- offsets table ----------------------------------------------------------------------------

OffsetsTable read_offsets(const std::string& path, double waterline)
{
    std::ifstream in(path);
    if (!in) throw MeshError("cannot open '" + path + "'");
    OffsetsTable t;
    std::string line;
    int lineno = 0;
    bool header = true;
    while (std::getline(in, line)) {
        ++lineno;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t,") == std::string::npos || line[line.find_first_not_of(" \t")] == '#') continue;
        std::vector<std::string> cells;
        std::stringstream ls(line);
        std::string cell;
        while (std::getline(ls, cell, ',')) cells.push_back(cell);
        const std::string at = path + ": line " + std::to_string(lineno);
        auto number = [&](const std::string& c) {
            char* end = nullptr;
            const double v = std::strtod(c.c_str(), &end);
            if (end == c.c_str() || std::string(end).find_first_not_of(" \t") != std::string::npos || !std::isfinite(v))
                throw MeshError(at + ": '" + c + "' is not a number");
            return v;
        };
        if (header) {
            for (std::size_t i = 1; i < cells.size(); ++i) t.z.push_back(number(cells[i]) - waterline);
            if (t.z.size() < 2) throw MeshError(at + ": the header needs a label and at least two heights z");
            for (std::size_t i = 1; i < t.z.size(); ++i)
                if (!(t.z[i] > t.z[i - 1])) throw MeshError(at + ": the heights must increase");
            header = false;
            continue;
        }
        if (cells.size() != t.z.size() + 1)
            throw MeshError(at + ": " + std::to_string(cells.size()) + " cells, the header has " + std::to_string(t.z.size() + 1));
        t.x.push_back(number(cells[0]));
        if (t.x.size() > 1 && !(t.x.back() > t.x[t.x.size() - 2])) throw MeshError(at + ": the stations x must increase");
        std::vector<double> row;
        for (std::size_t i = 1; i < cells.size(); ++i) {
            row.push_back(number(cells[i]));
            if (row.back() < 0.0) throw MeshError(at + ": a half-breadth is negative");
        }
        t.y.push_back(row);
    }
    if (t.x.size() < 2) throw MeshError(path + ": the table needs at least two stations");
    if (!(t.z.front() < 0.0)) throw MeshError(path + ": no height lies below the waterline");
    if (t.z.back() < 0.0) throw MeshError(path + ": the heights must reach the waterline");
    return t;
}

SectionFn offsets_sections(const OffsetsTable& t)
{
    return [&t](double x) {
        std::vector<Polyline> out;
        if (x < t.x.front() || x > t.x.back()) return out;
        const std::size_t i = std::min<std::size_t>(
            static_cast<std::size_t>(std::upper_bound(t.x.begin(), t.x.end(), x) - t.x.begin()), t.x.size() - 1);
        const double w = (x - t.x[i - 1]) / (t.x[i] - t.x[i - 1]);
        // Half-breadths linear in x between the stations and in z between the heights, up to
        // the waterline.
        Polyline pts;
        for (std::size_t j = 0; j < t.z.size(); ++j) {
            const double yj = (1.0 - w) * t.y[i - 1][j] + w * t.y[i][j];
            if (t.z[j] <= 0.0) pts.push_back({yj, t.z[j]});
            if (j + 1 < t.z.size() && t.z[j] < 0.0 && t.z[j + 1] > 0.0) {
                const double yk = (1.0 - w) * t.y[i - 1][j + 1] + w * t.y[i][j + 1];
                const double s = -t.z[j] / (t.z[j + 1] - t.z[j]);
                pts.push_back({yj + s * (yk - yj), 0.0});
            }
        }
        // The keel: the last height below the first non-zero half-breadth, or the centre
        // line under a flat bottom at the lowest height.
        std::size_t k = 0;
        while (k < pts.size() && pts[k].y == 0.0) ++k;
        Polyline sec;
        if (k == pts.size()) {
            sec = {{0.0, pts.front().z}, {0.0, 0.0}};   // no breadth: a stem along the centre line
        } else {
            if (k == 0) sec.push_back({0.0, pts[0].z});
            else sec.push_back(pts[k - 1]);
            sec.insert(sec.end(), pts.begin() + static_cast<long>(k), pts.end());
        }
        out.push_back(std::move(sec));
        return out;
    };
}

}  // namespace torva::hull
