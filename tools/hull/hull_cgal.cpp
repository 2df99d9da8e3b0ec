// The work done with CGAL, kept in this one file because CGAL's headers are slow to compile:
// consistent orientation of a triangle soup, its connected components, and its sections by
// the planes x = const.
#include "hull.hpp"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/connected_components.h>
#include <CGAL/Polygon_mesh_processing/orient_polygon_soup.h>
#include <CGAL/Polygon_mesh_processing/polygon_soup_to_polygon_mesh.h>
#include <CGAL/Polygon_mesh_slicer.h>
#include <CGAL/Surface_mesh.h>

namespace torva::hull {

namespace {

using K = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point = K::Point_3;
using Mesh = CGAL::Surface_mesh<Point>;
namespace PMP = CGAL::Polygon_mesh_processing;

bool same(const Point& p, const Vec3& v) { return p.x() == v.x && p.y() == v.y && p.z() == v.z; }

}  // namespace

OrientResult orient_consistently(std::vector<Vec3>& nodes, std::vector<std::array<int, 3>>& tris)
{
    std::vector<Point> points;
    points.reserve(nodes.size());
    for (const Vec3& v : nodes) points.emplace_back(v.x, v.y, v.z);
    std::vector<std::vector<std::size_t>> polygons;
    polygons.reserve(tris.size());
    for (const auto& t : tris) polygons.push_back({std::size_t(t[0]), std::size_t(t[1]), std::size_t(t[2])});

    // Turns polygons so that neighbours agree; a node where the surface is not a manifold (two
    // sheets touching in a point) is split into copies, one per sheet.
    PMP::orient_polygon_soup(points, polygons);

    OrientResult r;
    r.reversed.assign(tris.size(), 0);
    for (std::size_t i = 0; i < tris.size(); ++i) {
        const auto& q = polygons[i];
        for (int k = 0; k < 3; ++k)
            if (same(points[q[k]], nodes[tris[i][0]])) {
                r.reversed[i] = !same(points[q[(k + 1) % 3]], nodes[tris[i][1]]);
                break;
            }
    }
    nodes.clear();
    for (const Point& p : points) nodes.push_back({p.x(), p.y(), p.z()});
    for (std::size_t i = 0; i < tris.size(); ++i)
        tris[i] = {int(polygons[i][0]), int(polygons[i][1]), int(polygons[i][2])};

    if (!PMP::is_polygon_soup_a_polygon_mesh(polygons))
        throw MeshError("the surface cannot be oriented consistently (a one-sided surface, or panels that "
                        "cross each other)");
    Mesh mesh;
    PMP::polygon_soup_to_polygon_mesh(points, polygons, mesh);
    auto component = mesh.add_property_map<Mesh::Face_index, std::size_t>("f:component", 0).first;
    r.components = static_cast<int>(PMP::connected_components(mesh, component));
    return r;
}

struct Slicer::Impl {
    Mesh mesh;
    std::unique_ptr<CGAL::Polygon_mesh_slicer<Mesh, K>> slicer;
};

Slicer::Slicer(const Prepared& p) : impl_(std::make_unique<Impl>())
{
    std::vector<Mesh::Vertex_index> v;
    v.reserve(p.nodes.size());
    for (const Vec3& n : p.nodes) v.push_back(impl_->mesh.add_vertex(Point(n.x, n.y, n.z)));
    for (const auto& t : p.tris)
        if (impl_->mesh.add_face(v[t[0]], v[t[1]], v[t[2]]) == Mesh::null_face())
            throw MeshError("the wetted surface is not a manifold: it cannot be sectioned");
    impl_->slicer = std::make_unique<CGAL::Polygon_mesh_slicer<Mesh, K>>(impl_->mesh);
}

Slicer::~Slicer() = default;

std::vector<Polyline> Slicer::operator()(double x) const
{
    std::vector<std::vector<Point>> lines;
    (*impl_->slicer)(K::Plane_3(1.0, 0.0, 0.0, -x), std::back_inserter(lines));
    std::vector<Polyline> out;
    for (const auto& l : lines) {
        Polyline pl;
        for (const Point& q : l) pl.push_back({q.y(), q.z()});
        out.push_back(std::move(pl));
    }
    return out;
}

}  // namespace torva::hull
