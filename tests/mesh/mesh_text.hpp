// Mesh texts for the mesh tests, written the way a mesh generator writes them, and a helper
// that runs the driver's sequence (size, allocate, read, classify) on in-memory text.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "mesh/mesh_file.hpp"
#include "mesh/panel_model.hpp"

namespace torva::test {

// One sheet: panel counts, kind, flag and its node positions (a = 0..np1, b = 0..np2).
struct SheetSpec {
    int np1 = 1, np2 = 1, kp = 2, mp = 1;
    std::function<std::array<double, 3>(int a, int b)> node;
};

inline std::string number(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

inline std::string sheet_text(const SheetSpec& s)
{
    std::string text = "  " + std::to_string(s.np1) + "  " + std::to_string(s.np2) + "  "
                       + std::to_string(s.kp) + "  " + std::to_string(s.mp) + "\n";
    for (int b = 0; b <= s.np2; ++b)
        for (int a = 0; a <= s.np1; ++a) {
            const auto p = s.node(a, b);
            text += "  " + number(p[0]) + "  " + number(p[1]) + "  " + number(p[2]) + "\n";
        }
    return text;
}

inline std::string sheets_text(const std::vector<SheetSpec>& sheets)
{
    std::string text;
    for (const auto& s : sheets) text += sheet_text(s);
    return text;
}

// "Version 2.0" layout header.
inline std::string version_header(const std::string& title, int symmetry, int n_sheets,
                                  const std::string& lengths_and_angles = "0. 0. 0. 0. 0. 0.",
                                  const std::string& logical = "F",
                                  const std::string& first_line = "Version 2.0")
{
    return first_line + "\n" + title + "\n" + std::to_string(symmetry) + " N\n"
           + std::to_string(n_sheets) + "\n" + lengths_and_angles + "\n" + logical + "\n";
}

// Old layout header: title, symmetry and code, then sheets with t3, a2, t1.
inline std::string old_header(const std::string& title, int symmetry, int n_sheets,
                              const std::string& t3_a2_t1 = "0.0 0.0 0.0")
{
    return title + "\n" + std::to_string(symmetry) + " N\n" + std::to_string(n_sheets) + " "
           + t3_a2_t1 + "\n";
}

// A flat rectangular grid in z = z0: node (a, b) at (x0 + a dx, y0 + b dy, z0).
inline SheetSpec flat_sheet(int np1, int np2, int kp, int mp, double x0 = 0.0, double y0 = 0.0,
                            double dx = 1.0, double dy = 1.0, double z0 = 0.0)
{
    return {np1, np2, kp, mp, [=](int a, int b) { return std::array<double, 3>{x0 + a * dx, y0 + b * dy, z0}; }};
}

// The driver's sequence on in-memory text: sizing pass, allocation, reading, classification.
// `second` empty means one file.  Returns the reader's status.
inline int load_mesh(PanelModel& model, const std::string& first, float alength,
                     const std::string& second = "", bool mirrored = false)
{
    std::istringstream size_first(first), size_second(second);
    const MeshSizes sizes = size_mesh(size_first, "first.ssg",
                                      second.empty() ? nullptr : &size_second, "second.ssg");
    allocate_panel_model(model, sizes.n_panels, sizes.n_sheets, mirrored);
    std::istringstream read_first(first), read_second(second);
    const int status = second.empty()
        ? read_mesh_one_file(read_first, "first.ssg", alength, model)
        : read_mesh_two_files(read_first, "first.ssg", read_second, "second.ssg", alength, model);
    if (status == 0) classify_panels(model);
    return status;
}

}  // namespace torva::test
