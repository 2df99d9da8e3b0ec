// Panel models built from torva-mesh sheets in memory: the mesh text written as the tool
// writes it, sized and read by the readers a run uses, then classified with the moment
// tables filled, as the driver leaves them before the equation systems.
#pragma once

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../tools/mesh_shapes.hpp"
#include "mesh/mesh_file.hpp"
#include "mesh/panel_model.hpp"

namespace torva::testing {

// The mesh text as torva-mesh writes it, every length times `scale` (ALENGTH for a run).
inline std::string mesh_text(std::vector<mesh_tool::Sheet> sheets, int symmetry, double scale = 1.0,
                             const std::string& name = "in-memory mesh")
{
    for (auto& s : sheets)
        for (auto& v : s.nodes) v = scale * v;
    std::ostringstream out;
    mesh_tool::write_mesh(out, {name, symmetry}, sheets, mesh_tool::Layout::version2);
    return out.str();
}

// `link_section` is appended to the mesh text as given.  A mesh the reader refuses throws.
inline PanelModel panel_model_from(const std::vector<mesh_tool::Sheet>& sheets, int symmetry,
                                   const std::string& link_section = "")
{
    const std::string text = mesh_text(sheets, symmetry) + link_section;
    std::istringstream sizing(text), reading(text);
    const MeshSizes sizes = size_mesh(sizing, "test.ssg", nullptr, "");
    PanelModel model;
    allocate_panel_model(model, sizes.n_panels, sizes.n_sheets, false);
    if (read_mesh_one_file(reading, "test.ssg", 1.0f, model) != 0)
        throw std::runtime_error("the in-memory mesh did not read");
    classify_panels(model);
    fill_moment_tables(model);
    return model;
}

// A unit sphere meshed as a cubed sphere of n panels per cube edge about (0, 0, -depth), every
// sheet flagged (MP = 1); `half` keeps y >= 0 (symmetry 1), `floating` keeps z <= 0.
inline std::vector<mesh_tool::Sheet> cubed_sphere(int n, double depth, bool half = false, bool floating = false)
{
    mesh_tool::CubedEllipsoidParams p;
    p.centre = {0.0, 0.0, -depth};
    p.n[0] = p.n[1] = p.n[2] = n;
    p.keep_y_nonnegative = half;
    p.keep_z_nonpositive = floating;
    auto sheets = mesh_tool::cubed_ellipsoid(p);
    for (auto& s : sheets) s.flag = 1;
    return sheets;
}

// A box barge L x B x T, x in [-L/2, L/2], y in [-B/2, B/2], z in [-T, 0], every sheet
// flagged; the bottom is sheet 1.
inline std::vector<mesh_tool::Sheet> box_barge(double L, double B, double T, int nx, int ny, int nz, bool half)
{
    auto sheets = mesh_tool::box_hull({L, B, T, nx, ny, nz}, half);
    for (auto& s : sheets) s.flag = 1;
    return sheets;
}

}  // namespace torva::testing
