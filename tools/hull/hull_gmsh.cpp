// The formats read through the Gmsh SDK: Gmsh .msh (2.2 and 4.1), STL (ASCII and binary), and
// CAD models (STEP, IGES) through its OpenCASCADE kernel.
#include "hull.hpp"

#include <gmsh.h>

#include <cmath>
#include <map>

namespace torva::hull {

namespace {

// One Gmsh session per read; Gmsh keeps one global model, so the session clears it.
class Session {
public:
    Session()
    {
        gmsh::initialize();
        gmsh::option::setNumber("General.Terminal", 0);
        gmsh::option::setNumber("General.Verbosity", 1);
    }
    ~Session() { gmsh::finalize(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

// Gmsh reports failures by throwing; the last logged error says what went wrong.
[[noreturn]] void fail(const std::string& path, const std::string& what)
{
    std::string last;
    try {
        gmsh::logger::getLastError(last);
    } catch (...) {
    }
    // The message may quote the file itself: nothing unprintable reaches the terminal.
    for (char& c : last)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
    if (last.size() > 200) last = last.substr(0, 200) + "...";
    throw MeshError("cannot read '" + path + "' as " + what + (last.empty() ? "" : ": " + last));
}

// The surface elements of the current model: corner nodes of every triangle and
// quadrilateral (of any order), in the element's own orientation.
Surface surface_of_model(const std::string& path)
{
    Surface s;
    std::vector<std::size_t> tags;
    std::vector<double> coord, param;
    gmsh::model::mesh::getNodes(tags, coord, param, -1, -1, true, false);
    std::map<std::size_t, int> index;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (index.emplace(tags[i], static_cast<int>(s.nodes.size())).second)
            s.nodes.push_back({coord[3 * i], coord[3 * i + 1], coord[3 * i + 2]});
    }
    std::vector<int> types;
    std::vector<std::vector<std::size_t>> elements, nodes;
    gmsh::model::mesh::getElements(types, elements, nodes, 2, -1);
    for (std::size_t k = 0; k < types.size(); ++k) {
        std::string name;
        int dim = 0, order = 0, nn = 0, corners = 0;
        std::vector<double> local;
        gmsh::model::mesh::getElementProperties(types[k], name, dim, order, nn, local, corners);
        if (corners != 3 && corners != 4) continue;
        for (std::size_t e = 0; e + nn <= nodes[k].size(); e += static_cast<std::size_t>(nn)) {
            std::array<int, 4> f{-1, -1, -1, -1};
            for (int c = 0; c < corners; ++c) {
                const auto it = index.find(nodes[k][e + c]);
                if (it == index.end()) throw MeshError(path + ": an element refers to a node that is not there");
                f[c] = it->second;
            }
            s.faces.push_back(f);
        }
    }
    if (s.faces.empty()) throw MeshError(path + ": no triangles or quadrilaterals in the file");
    return s;
}

}  // namespace

Surface read_gmsh_mesh(const std::string& path)
{
    Session session;
    try {
        gmsh::open(path);
    } catch (...) {
        fail(path, "a mesh");
    }
    Surface s = surface_of_model(path);
    s.format = "the mesh file";
    return s;
}

CadModel::CadModel(const std::string& path, double mesh_size_fraction)
{
    gmsh::initialize();
    gmsh::option::setNumber("General.Terminal", 0);
    gmsh::option::setNumber("General.Verbosity", 1);
    try {
        // Lengths in metres whatever unit the file declares (OpenCASCADE's own default would
        // give millimetres, a hull drawn in metres a thousand times too large).  Its IGES
        // reader takes no target unit: it gives millimetres, scaled here.
        gmsh::vectorpair shapes;
        try {
            gmsh::option::setString("Geometry.OCCTargetUnit", "M");
            gmsh::model::occ::importShapes(path, shapes);
        } catch (...) {
            gmsh::option::setString("Geometry.OCCTargetUnit", "");
            shapes.clear();
            gmsh::model::occ::importShapes(path, shapes);
            gmsh::model::occ::dilate(shapes, 0.0, 0.0, 0.0, 1e-3, 1e-3, 1e-3);
        }
        gmsh::model::occ::synchronize();
        double x0, y0, z0, x1, y1, z1;
        gmsh::model::getBoundingBox(-1, -1, x0, y0, z0, x1, y1, z1);
        const double diag = std::sqrt((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0) + (z1 - z0) * (z1 - z0));
        gmsh::option::setNumber("Mesh.MeshSizeMax", mesh_size_fraction * diag);
        gmsh::option::setNumber("Mesh.MeshSizeFromCurvature", 12);
        gmsh::model::mesh::generate(2);
        gmsh::vectorpair faces;
        gmsh::model::getEntities(faces, 2);
        diag_ = diag;
        for (const auto& f : faces) {
            std::array<double, 6> b{};
            gmsh::model::getBoundingBox(2, f.second, b[0], b[1], b[2], b[3], b[4], b[5]);
            faces_.push_back(f.second);
            boxes_.push_back(b);
        }
    } catch (...) {
        gmsh::finalize();
        fail(path, "a CAD model (STEP or IGES)");
    }
    tri_ = surface_of_model(path);
    tri_.format = "the CAD model";
    tri_.orientation_known = false;   // the faces of a CAD model carry no agreed side
    if (faces_.empty()) {
        gmsh::finalize();
        throw MeshError(path + ": the CAD model has no surfaces");
    }
}

CadModel::~CadModel() { gmsh::finalize(); }

Vec3 CadModel::project(Vec3 p, double z0) const
{
    // Alternate between the nearest point of the exact surface and the plane x = p.x (and the
    // keel's y = 0 or the waterline's z = z0): the distance along x that each step leaves
    // shrinks by the square of the surface normal's x component, so a few steps suffice away
    // from a bow or stern that faces along x.  The face is chosen once, among all faces that
    // are not lids (in y = 0 or in the waterplane), and kept while the node converges.
    const bool keel = p.y == 0.0, waterline = p.z == z0;
    const double flat = 1e-5 * diag_;
    auto nearest_on = [](int tag, const Vec3& q, Vec3& r) {
        std::vector<double> near, uv;
        gmsh::model::getClosestPoint(2, tag, {q.x, q.y, q.z}, near, uv);
        if (near.size() < 3) return false;
        r = {near[0], near[1], near[2]};
        return true;
    };
    int face = -1;
    double best = 1e300;
    Vec3 c = p;
    for (std::size_t k = 0; k < faces_.size(); ++k) {
        const auto& b = boxes_[k];
        if ((b[4] - b[1] < flat && std::abs(b[1]) < flat) || (b[5] - b[2] < flat && std::abs(b[5] - z0) < flat))
            continue;
        Vec3 r;
        if (!nearest_on(faces_[k], p, r)) continue;
        const Vec3 d = r - p;
        if (mesh_tool::dot(d, d) < best) {
            best = mesh_tool::dot(d, d);
            face = faces_[k];
            c = r;
        }
    }
    if (face < 0) return p;
    Vec3 q = p;
    for (int it = 0; it < 60; ++it) {
        const Vec3 next{p.x, keel ? 0.0 : c.y, waterline ? z0 : c.z};
        const Vec3 step = next - q;
        q = next;
        if (mesh_tool::dot(step, step) < 1e-24 * diag_ * diag_) break;
        if (!nearest_on(face, q, c)) break;
    }
    return q;
}

}  // namespace torva::hull
