// Test bodies for the hull-import tests, made with the Gmsh SDK and its OpenCASCADE kernel:
//
//   hull-fixture wigley-step OUT L B T     the half Wigley hull y = (B/2)(1-(2x/L)^2)(1-(z/T)^2),
//                                          z <= 0, as one exact Bezier surface in a STEP file
//   hull-fixture wigley-iges OUT L B T     the same surface in an IGES file
//   hull-fixture bulb-hull OUT.step OUT.stl L   a half hull y >= 0, z <= 0 with a transom, a
//                                          skeg and a bulbous bow (a solid); prints its volume
//   hull-fixture convert IN OUT [msh2]     reads a mesh and writes it again (format from OUT's
//                                          extension; "bin" as OUT's last word: binary STL)
#include <gmsh.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace occ = gmsh::model::occ;

namespace {

// The Wigley surface is a tensor product of quadratics: with x = L (u - 1/2) and z = T (v - 1),
//   1 - (2x/L)^2 = 4u(1-u) = 2 B1(u)  and  1 - (z/T)^2 = v(2-v) = B1(v) + B2(v)
// in the Bernstein basis B0 = (1-t)^2, B1 = 2t(1-t), B2 = t^2.  The control net of the
// degree-2 x 2 Bezier patch is x_i = L (i/2 - 1/2), z_j = T (j/2 - 1) (linear in u and v
// have equally spaced controls) and y_ij = (B/2) a_i b_j with a = (0, 2, 0), b = (0, 1, 1).
void wigley_step(const std::string& out, double L, double B, double T)
{
    const double a[3] = {0, 2, 0}, b[3] = {0, 1, 1};
    std::vector<int> pts;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            pts.push_back(occ::addPoint(L * (0.5 * i - 0.5), 0.5 * B * a[i] * b[j], T * (0.5 * j - 1.0)));
    occ::addBezierSurface(pts, 3);
    occ::synchronize();
    gmsh::write(out);
}

// The same patch as an IGES rational B-spline surface (entity 128), written here because
// Gmsh 4.8 exports STEP and BREP but not IGES.  Fixed columns: data in 1-72 (1-64 in the
// parameter section, the entity's directory pointer in 66-72), the section letter in 73, its
// line number in 74-80; lengths in metres (units flag 6).
void wigley_iges(const std::string& out, double L, double B, double T)
{
    const double a[3] = {0, 2, 0}, b[3] = {0, 1, 1};
    // Entity 128: upper indices 2, 2, degrees 2, 2, flags (open, open, polynomial, not
    // periodic x 2), knots 0 0 0 1 1 1 twice, nine weights 1, the control points, the
    // parameter ranges.
    std::string par = "128,2,2,2,2,0,0,1,0,0,0.,0.,0.,1.,1.,1.,0.,0.,0.,1.,1.,1.,1.,1.,1.,1.,1.,1.,1.,1.,1.,";
    char num[96];
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            std::snprintf(num, sizeof num, "%.12g,%.12g,%.12g,", L * (0.5 * i - 0.5), 0.5 * B * a[i] * b[j],
                          T * (0.5 * j - 1.0));
            par += num;
        }
    par += "0.,1.,0.,1.;";
    std::FILE* f = std::fopen(out.c_str(), "w");
    if (!f) throw 1;
    auto line = [&](const std::string& data, char section, int n) {
        std::fprintf(f, "%-72.72s%c%7d\n", data.c_str(), section, n);
    };
    line("Wigley hull patch for the hull-import tests", 'S', 1);
    const std::string global = "1H,,1H;,4Htest,8Hwig.iges,4Htest,4Htest,32,38,6,308,15,4Htest,1.,6,1HM,1,0.01,"
                               "15H20261206.000000,1.E-08,10.,4Htest,4Htest,11,0,15H20261206.000000;";
    int g = 0;
    for (std::size_t k = 0; k < global.size(); k += 72) line(global.substr(k, 72), 'G', ++g);
    std::vector<std::string> plines;
    for (std::size_t k = 0; k < par.size();) {
        std::size_t n = std::min<std::size_t>(64, par.size() - k);
        if (k + n < par.size()) n = par.rfind(',', k + n - 1) - k + 1;   // break after a comma
        plines.push_back(par.substr(k, n));
        k += n;
    }
    char d[96];
    std::snprintf(d, sizeof d, "%8d%8d%8d%8d%8d%8d%8d%8d%8s", 128, 1, 0, 0, 0, 0, 0, 0, "00000000");
    line(d, 'D', 1);
    std::snprintf(d, sizeof d, "%8d%8d%8d%8d%8d%8s%8s%8s%8d", 128, 0, 0, static_cast<int>(plines.size()), 0, "", "",
                  "", 0);
    line(d, 'D', 2);
    int p = 0;
    for (const std::string& l : plines) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%-64.64s %7d", l.c_str(), 1);
        line(buf, 'P', ++p);
    }
    std::snprintf(d, sizeof d, "S%7dG%7dD%7dP%7d", 1, g, 2, p);
    line(d, 'T', 1);
    std::fclose(f);
}

void bulb_hull(const std::string& step, const std::string& stl, double L)
{
    const double B = 0.16 * L, T = 0.06 * L;
    // Main hull: the lower half of an ellipsoid with semi-axes L/2, B/2, T.
    const int hull = occ::addSphere(0, 0, 0, 1);
    occ::dilate({{3, hull}}, 0, 0, 0, 0.5 * L, 0.5 * B, T);
    // Bulb: a small ellipsoid at the forefoot, reaching ahead of the stem.
    const int bulb = occ::addSphere(0.47 * L, 0, -0.6 * T, 1);
    occ::dilate({{3, bulb}}, 0.47 * L, 0, -0.6 * T, 0.06 * L, 0.025 * L, 0.22 * T);
    // Skeg: a thin fin under the after body, on the centre plane.
    const int skeg = occ::addBox(-0.4 * L, -0.004 * L, -1.25 * T, 0.15 * L, 0.008 * L, 0.95 * T);
    gmsh::vectorpair body, tmp;
    std::vector<gmsh::vectorpair> map;
    occ::fuse({{3, hull}}, {{3, bulb}, {3, skeg}}, body, map);
    // Transom: everything aft of x = -0.4 L cut away; then the wetted half y >= 0, z <= 0.
    const int aft = occ::addBox(-L, -L, -L, 0.6 * L, 2 * L, 2 * L);
    occ::cut(body, {{3, aft}}, tmp, map);
    const int keep = occ::addBox(-L, 0, -L, 2 * L, L, L);
    occ::intersect(tmp, {{3, keep}}, body, map);
    occ::synchronize();
    double volume = 0.0;
    for (const auto& dt : body) {
        double v = 0.0;
        occ::getMass(dt.first, dt.second, v);
        volume += v;
    }
    std::printf("volume %.12g\n", volume);
    gmsh::write(step);
    gmsh::option::setNumber("Mesh.MeshSizeMax", 0.02 * L);
    gmsh::model::mesh::generate(2);
    gmsh::write(stl);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> a(argv, argv + argc);
    gmsh::initialize();
    gmsh::option::setNumber("General.Terminal", 0);
    // The bodies are made in metres, and their CAD files say so.
    gmsh::option::setString("Geometry.OCCTargetUnit", "M");
    try {
        if (a.size() == 6 && a[1] == "wigley-step") {
            wigley_step(a[2], std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
        } else if (a.size() == 6 && a[1] == "wigley-iges") {
            wigley_iges(a[2], std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
        } else if (a.size() == 5 && a[1] == "bulb-hull") {
            bulb_hull(a[2], a[3], std::atof(argv[4]));
        } else if ((a.size() == 4 || a.size() == 5) && a[1] == "convert") {
            gmsh::open(a[2]);
            if (a.size() == 5 && a[4] == "msh2") gmsh::option::setNumber("Mesh.MshFileVersion", 2.2);
            if (a.size() == 5 && a[4] == "bin") gmsh::option::setNumber("Mesh.Binary", 1);
            gmsh::write(a[3]);
        } else {
            std::fprintf(stderr, "usage: hull-fixture wigley-step|wigley-iges|bulb-hull|convert ...\n");
            return 2;
        }
    } catch (...) {
        std::fprintf(stderr, "hull-fixture: gmsh failed\n");
        return 1;
    }
    gmsh::finalize();
    return 0;
}
