// Readers of the two small text formats of panel meshes.
//
// WAMIT GDF, low order:
//     title line
//     ULEN GRAV
//     ISX ISY          1 = the file holds the half x >= 0 (ISX) or y >= 0 (ISY) only
//     NPAN
//     4 x NPAN vertices x y z, free format, panel after panel
// Vertices run counter-clockwise seen from the fluid, so normals point out of the body.  A
// panel with two equal vertices is a triangle.  ULEN is the length that WAMIT makes its
// outputs dimensionless with; the coordinates are lengths already and are kept as they are.
//
// NEMOH / Capytaine .dat:
//     2 ISYM           ISYM = 1: the half y >= 0 only
//     id x y z         one node a line, ended by a line "0 0. 0. 0."
//     n1 n2 n3 n4      one panel a line (node ids), ended by "0 0 0 0"
// with normals out of the body as well.
#include "hull.hpp"

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace torva::hull {

namespace {

std::ifstream open_text(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw MeshError("cannot open '" + path + "'");
    return in;
}

// Reads one number; Fortran's D exponent is accepted.  Non-finite values are an error that
// names where they are.
bool next_number(std::istream& in, double& v, const std::string& where)
{
    std::string tok;
    if (!(in >> tok)) return false;
    for (char& c : tok)
        if (c == 'D' || c == 'd') c = 'E';
    char* end = nullptr;
    v = std::strtod(tok.c_str(), &end);
    if (end == tok.c_str() || *end != '\0') throw MeshError(where + ": '" + tok + "' is not a number");
    if (!std::isfinite(v)) throw MeshError(where + ": coordinate '" + tok + "' is not a finite number");
    return true;
}

std::istringstream line_of(std::istream& in, const std::string& path, const char* what)
{
    std::string line;
    if (!std::getline(in, line)) throw MeshError(path + ": the file ends before " + what);
    return std::istringstream(line);
}

// A quadrilateral with repeated corners becomes a triangle; fewer than three distinct corners
// is no panel at all (returns false).
bool as_polygon(std::array<int, 4>& f, const std::vector<Vec3>& nodes)
{
    int q[4], n = 0;
    auto same = [&](int a, int b) {
        return nodes[a].x == nodes[b].x && nodes[a].y == nodes[b].y && nodes[a].z == nodes[b].z;
    };
    for (int k = 0; k < 4; ++k) {
        if (f[k] < 0) continue;
        bool dup = false;
        for (int j = 0; j < n; ++j) dup = dup || same(q[j], f[k]);
        if (!dup) q[n++] = f[k];
    }
    if (n < 3) return false;
    f = {q[0], q[1], q[2], n == 4 ? q[3] : -1};
    return true;
}

}  // namespace

Surface read_gdf(const std::string& path, std::vector<std::string>& notes)
{
    std::ifstream in = open_text(path);
    Surface s;
    s.format = "GDF";
    std::string title;
    if (!std::getline(in, title)) throw MeshError(path + ": empty file");
    double ulen = 0.0, grav = 0.0;
    int isx = 0, isy = 0;
    long npan = 0;
    if (!(line_of(in, path, "ULEN GRAV") >> ulen >> grav) || !(ulen > 0.0))
        throw MeshError(path + ": line 2 must hold ULEN (> 0) and GRAV");
    if (!(line_of(in, path, "ISX ISY") >> isx >> isy) || isx < 0 || isx > 1 || isy < 0 || isy > 1)
        throw MeshError(path + ": line 3 must hold the symmetry flags ISX ISY (0 or 1 each)");
    if (!(line_of(in, path, "the panel count") >> npan) || npan < 1 || npan > 50000000)
        throw MeshError(path + ": line 4 must hold the panel count NPAN (> 0)");
    s.half = isy == 1;
    notes.push_back("GDF: ULEN " + std::to_string(ulen) + ", ISX " + std::to_string(isx) + ", ISY "
                    + std::to_string(isy) + ", " + std::to_string(npan) + " panels");
    s.nodes.reserve(static_cast<std::size_t>(4 * npan));
    long dropped = 0;
    for (long p = 0; p < npan; ++p) {
        std::array<int, 4> f{};
        for (int k = 0; k < 4; ++k) {
            Vec3 v;
            const std::string where = path + ": panel " + std::to_string(p + 1) + ", vertex " + std::to_string(k + 1);
            if (!next_number(in, v.x, where) || !next_number(in, v.y, where) || !next_number(in, v.z, where))
                throw MeshError(path + ": the file ends in panel " + std::to_string(p + 1) + " of "
                                + std::to_string(npan));
            f[k] = static_cast<int>(s.nodes.size());
            s.nodes.push_back(v);
        }
        if (as_polygon(f, s.nodes)) s.faces.push_back(f);
        else ++dropped;
    }
    if (dropped) notes.push_back("GDF: " + std::to_string(dropped) + " panels with fewer than three distinct vertices ignored");
    if (isx == 1) {
        // The half x >= 0 mirrored in x = 0; mirroring turns the orientation, so the corner
        // order is reversed to keep the normals out of the body.
        const std::size_t nn = s.nodes.size(), nf = s.faces.size();
        for (std::size_t i = 0; i < nn; ++i) s.nodes.push_back({-s.nodes[i].x, s.nodes[i].y, s.nodes[i].z});
        for (std::size_t i = 0; i < nf; ++i) {
            const auto& f = s.faces[i];
            const int o = static_cast<int>(nn);
            s.faces.push_back(f[3] < 0 ? std::array<int, 4>{f[2] + o, f[1] + o, f[0] + o, -1}
                                       : std::array<int, 4>{f[3] + o, f[2] + o, f[1] + o, f[0] + o});
        }
    }
    return s;
}

Surface read_dat(const std::string& path, std::vector<std::string>& notes)
{
    std::ifstream in = open_text(path);
    Surface s;
    s.format = ".dat";
    int two = 0, isym = 0;
    if (!(line_of(in, path, "the header") >> two >> isym) || two != 2 || isym < 0 || isym > 1)
        throw MeshError(path + ": the first line must be '2 ISYM' with ISYM 0 or 1");
    s.half = isym == 1;
    std::map<long, int> index;
    std::string line;
    int lineno = 1;
    bool ended = false;
    while (std::getline(in, line)) {
        ++lineno;
        std::istringstream ls(line);
        const std::string where = path + ": line " + std::to_string(lineno);
        double id = 0.0;
        Vec3 v;
        if (!next_number(ls, id, where)) continue;
        if (id == 0.0) {
            ended = true;
            break;
        }
        if (!next_number(ls, v.x, where) || !next_number(ls, v.y, where) || !next_number(ls, v.z, where))
            throw MeshError(where + ": a node needs an id and three coordinates");
        if (!index.emplace(static_cast<long>(id), static_cast<int>(s.nodes.size())).second)
            throw MeshError(where + ": node id " + std::to_string(static_cast<long>(id)) + " given twice");
        s.nodes.push_back(v);
    }
    if (!ended) throw MeshError(path + ": the node list has no end line '0 0. 0. 0.'");
    ended = false;
    long dropped = 0;
    while (std::getline(in, line)) {
        ++lineno;
        std::istringstream ls(line);
        long ids[4];
        int n = 0;
        while (n < 4 && ls >> ids[n]) ++n;
        if (n == 0) continue;
        if (ids[0] == 0) {
            ended = true;
            break;
        }
        if (n < 3) throw MeshError(path + ": line " + std::to_string(lineno) + ": a panel needs 3 or 4 node ids");
        std::array<int, 4> f{-1, -1, -1, -1};
        for (int k = 0; k < n; ++k) {
            const auto it = index.find(ids[k]);
            if (it == index.end())
                throw MeshError(path + ": line " + std::to_string(lineno) + ": no node " + std::to_string(ids[k]));
            f[k] = it->second;
        }
        if (as_polygon(f, s.nodes)) s.faces.push_back(f);
        else ++dropped;
    }
    if (!ended) throw MeshError(path + ": the panel list has no end line '0 0 0 0'");
    notes.push_back(".dat: " + std::to_string(s.nodes.size()) + " nodes, " + std::to_string(s.faces.size())
                    + " panels, ISYM " + std::to_string(isym));
    if (dropped) notes.push_back(".dat: " + std::to_string(dropped) + " panels with fewer than three distinct nodes ignored");
    return s;
}

}  // namespace torva::hull
