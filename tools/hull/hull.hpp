// Hull import for torva-mesh: a panel mesh, a CAD surface or an offsets table in, structured
// spline sheets of the wetted hull out.
//
// The pipeline, one stage per file:
//   hull_read.cpp     the two small text formats (WAMIT GDF low order, NEMOH/Capytaine .dat)
//   hull_gmsh.cpp     Gmsh .msh, STL, STEP and IGES through the Gmsh SDK
//   hull_surface.cpp  checks and repair of what was read: finite coordinates, duplicate nodes,
//                     the cut at the waterline, hanging nodes, open edges, orientation
//   hull_cgal.cpp     CGAL: consistent orientation, connected components, plane sections
//   hull_regrid.cpp   sections -> sheets: the main hull, transoms, a bulbous bow; offsets
//
// Conventions.  The input's z = waterline plane becomes z = 0 of the output, the free surface
// of the setup.  Triangles of the prepared surface have their normals out of the body (the
// convention of GDF, .dat and STL); sheets have theirs into the body, as every torva-mesh
// sheet (see mesh_shapes.hpp).  Sections are taken in planes x = const; a half hull keeps
// y >= 0 and is written with symmetry indicator 1.
#pragma once

#include "../mesh_shapes.hpp"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torva::hull {

using mesh_tool::MeshError;
using mesh_tool::Sheet;
using mesh_tool::Vec3;

// A surface as read: nodes and polygons of three or four corners (corner 3 = -1 for a
// triangle), in the file's orientation.
struct Surface {
    std::vector<Vec3> nodes;
    std::vector<std::array<int, 4>> faces;
    bool half = false;            // the file describes y >= 0 only (a symmetry flag in it)
    bool orientation_known = true;   // the format fixes normals out of the body
    std::string format;           // for messages
};

[[nodiscard]] Surface read_gdf(const std::string& path, std::vector<std::string>& notes);
[[nodiscard]] Surface read_dat(const std::string& path, std::vector<std::string>& notes);
// .msh (2.2 and 4.1) and STL (ASCII and binary), through the Gmsh SDK.
[[nodiscard]] Surface read_gmsh_mesh(const std::string& path);

// A CAD model (STEP or IGES) opened in the Gmsh SDK: a fine triangulation of its faces for
// the topology, and the exact surfaces for the nodes.
class CadModel {
public:
    CadModel(const std::string& path, double mesh_size_fraction);
    ~CadModel();
    CadModel(const CadModel&) = delete;
    CadModel& operator=(const CadModel&) = delete;
    [[nodiscard]] const Surface& triangulation() const { return tri_; }
    // The point of the exact surface nearest to p that keeps p's x, and y = 0 or z = `z0`
    // where p lies there (a keel or waterline node stays on its plane).
    [[nodiscard]] Vec3 project(Vec3 p, double z0) const;

private:
    Surface tri_;
    std::vector<int> faces_;                    // the model's surfaces
    std::vector<std::array<double, 6>> boxes_;  // and their bounding boxes, to tell lids
    double diag_ = 0.0;
};

// Area and displaced volume.  For triangles with normals out of the body and the waterline
// at z = 0:  V = sum z_c n_z A  (lids in z = 0 and y = 0 would add nothing, so a half hull
// open at its waterline and centre plane is measured as it is).
struct Measures {
    double area = 0.0;
    double volume = 0.0;
};
// For sheets (normals into the body, waterline z = 0): V = - sum n_z c_z A.
[[nodiscard]] Measures measure_sheets(const std::vector<Sheet>& sheets);

struct PrepareOptions {
    double waterline = 0.0;
    double merge_tolerance = -1.0;   // < 0: 1e-6 of the bounding box's diagonal
    bool check_orientation = true;
};

// The wetted surface, ready to be sectioned: triangles only, duplicate nodes merged, cut at
// the waterline (which is moved to z = 0), lids in z = 0 and y = 0 dropped, hanging nodes
// joined into their neighbours, consistently oriented with normals out of the body, one
// connected body without holes.  Whole symmetric bodies are kept whole here; `half` says
// whether everything lies in y >= 0.
struct Prepared {
    std::vector<Vec3> nodes;
    std::vector<std::array<int, 3>> tris;
    bool half = false;
    double x_min = 0, x_max = 0, y_max = 0, z_min = 0;
    double tolerance = 0;            // the merge tolerance used
    Measures source;                 // of the wetted part, before any re-gridding
};
[[nodiscard]] Prepared prepare(const Surface& in, const PrepareOptions& o, std::vector<std::string>& notes);

// Keeps the y >= 0 half (mirror = false) or the mirror image of the y <= 0 half (mirror =
// true, orientation kept out of the body).
[[nodiscard]] Prepared half_of(const Prepared& whole, bool mirror);

// ---- CGAL ----------------------------------------------------------------------------------

struct OrientResult {
    int components = 0;          // connected components of the triangle mesh
    std::vector<char> reversed;  // per triangle: its corner order was turned
};
// Orients the triangles consistently (each component on its own) and counts the components.
[[nodiscard]] OrientResult orient_consistently(std::vector<Vec3>& nodes, std::vector<std::array<int, 3>>& tris);

struct YZ {
    double y = 0.0, z = 0.0;
};
using Polyline = std::vector<YZ>;

// The sections of a triangle mesh by the planes x = const.
class Slicer {
public:
    explicit Slicer(const Prepared& p);
    ~Slicer();
    Slicer(const Slicer&) = delete;
    Slicer& operator=(const Slicer&) = delete;
    [[nodiscard]] std::vector<Polyline> operator()(double x) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---- sections to sheets --------------------------------------------------------------------

// The section of the half hull (y >= 0, waterline z = 0) in the plane x, as the pieces the
// plane cuts out, each a polyline in any direction.
using SectionFn = std::function<std::vector<Polyline>(double x)>;

struct RegridParams {
    int nx = 40;   // stations
    int nz = 16;   // panels along each section, keel to waterline (even)
};

struct HullExtent {
    double x_min = 0.0, x_max = 0.0;
    double end_offset = 0.0;   // the end sections are taken this far inside x_min and x_max
};

// Re-grids a half hull from its sections: the main sheet, a transom sheet at each end whose
// section has width, the sheets of a bulbous bow.  Throws MeshError with a plain message when
// the sections do not describe one hull.
[[nodiscard]] std::vector<Sheet> regrid(const SectionFn& section, const HullExtent& extent,
                                        const RegridParams& p, std::vector<std::string>& notes);

// Sections of an offsets table: a CSV whose header row holds the heights z (its first cell a
// label) and each further row a station x followed by the half-breadths at those heights.
struct OffsetsTable {
    std::vector<double> z;                  // increasing, relative to the waterline
    std::vector<double> x;                  // increasing
    std::vector<std::vector<double>> y;     // y[station][height]
};
[[nodiscard]] OffsetsTable read_offsets(const std::string& path, double waterline);
[[nodiscard]] SectionFn offsets_sections(const OffsetsTable& t);

}  // namespace torva::hull
