// torva-inspect: the panels of a run as a VTK file for ParaView, with per-panel data.
//
// Geometry.  Each sheet's (NP1 + 1) x (NP2 + 1) mesh nodes become points, shared by the
// panels of that sheet; each interior panel becomes one quadrilateral.  Ghost panels carry no
// geometry and are left out.  An interior panel at padded position (i, j), (a, b) =
// (i - 1, j - 1), has the corners P1 = node (a+1, b+1), P2 = node (a+1, b), P3 = node (a, b),
// P4 = node (a, b+1), and its normal n points along t1 x t2 with t1 running in a and t2 in
// b.  VTK takes a polygon's normal from its point order by the right-hand rule, so the cell
// lists P1, P4, P3, P2 (counterclockwise in (a, b)): ParaView's normals then agree with n.
// Lengths are those the setup works with: the mesh file's divided by ALENGTH.
//
// Cell data: panel (global number, from 1), sheet (from 1), kind (KP), flag (MP), normal
// (3 components), area; and from the basis-flow record, when there is one: phi, u, v, w,
// ux, vy, weight and velocity = (u, v, w).
//
// Two formats: the legacy ASCII ".vtk" (DATASET UNSTRUCTURED_GRID) and the XML ".vtu"
// (UnstructuredGrid, ASCII data arrays).  Reals are written in the shortest form that reads
// back to the same float, so nothing of the 32-bit values is lost.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "mesh/panel_model.hpp"

namespace torva::inspect {

struct CellField {
    std::string name;
    int components = 1;
    bool integer = false;
    std::vector<float> reals;       // components per cell, when !integer
    std::vector<int> integers;      // components per cell, when integer
};

struct QuadMesh {
    std::string title;
    std::vector<float> points;                // x y z per point
    std::vector<std::array<int, 4>> quads;    // 0-based point indices
    std::vector<CellField> fields;
    [[nodiscard]] std::size_t point_count() const noexcept { return points.size() / 3; }
};

namespace detail {

inline std::string real_text(float v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    // to_chars writes "inf"/"nan"; VTK readers parse the C library's spellings.
    return s;
}

// Values of one field, `per_line` numbers per line.
inline void write_values(std::ostream& out, const CellField& f, std::size_t per_line)
{
    const std::size_t n = f.integer ? f.integers.size() : f.reals.size();
    for (std::size_t k = 0; k < n; ++k) {
        out << (f.integer ? std::to_string(f.integers[k]) : real_text(f.reals[k]));
        out << ((k + 1) % per_line == 0 || k + 1 == n ? '\n' : ' ');
    }
}

inline std::string xml_escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
        }
    }
    return out;
}

}  // namespace detail

inline constexpr int kVtkQuad = 9;   // VTK_QUAD

// Legacy ASCII VTK, version 3.0 (what ParaView and every VTK reader accept).
inline void write_vtk_legacy(std::ostream& out, const QuadMesh& mesh)
{
    std::string title = mesh.title;
    for (char& c : title)
        if (c == '\n' || c == '\r') c = ' ';
    if (title.size() > 255) title.resize(255);   // the header line holds 256 characters at most
    out << "# vtk DataFile Version 3.0\n" << (title.empty() ? "Torva Setup panels" : title) << "\nASCII\n"
        << "DATASET UNSTRUCTURED_GRID\n";
    out << "POINTS " << mesh.point_count() << " float\n";
    for (std::size_t p = 0; p < mesh.point_count(); ++p)
        out << detail::real_text(mesh.points[3 * p]) << ' ' << detail::real_text(mesh.points[3 * p + 1]) << ' '
            << detail::real_text(mesh.points[3 * p + 2]) << '\n';
    out << "CELLS " << mesh.quads.size() << ' ' << 5 * mesh.quads.size() << '\n';
    for (const auto& q : mesh.quads) out << "4 " << q[0] << ' ' << q[1] << ' ' << q[2] << ' ' << q[3] << '\n';
    out << "CELL_TYPES " << mesh.quads.size() << '\n';
    for (std::size_t c = 0; c < mesh.quads.size(); ++c) out << kVtkQuad << '\n';
    if (mesh.fields.empty()) return;
    out << "CELL_DATA " << mesh.quads.size() << '\n';
    for (const CellField& f : mesh.fields) {
        if (f.components == 3) {
            out << "VECTORS " << f.name << (f.integer ? " int\n" : " float\n");
            detail::write_values(out, f, 3);
        } else {
            out << "SCALARS " << f.name << (f.integer ? " int" : " float") << ' ' << f.components
                << "\nLOOKUP_TABLE default\n";
            detail::write_values(out, f, static_cast<std::size_t>(f.components));
        }
    }
}

// XML VTK unstructured grid with ASCII data arrays.
inline void write_vtu(std::ostream& out, const QuadMesh& mesh)
{
    const std::size_t nc = mesh.quads.size();
    out << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" byte_order=\"LittleEndian\">\n"
        << "<!-- " << detail::xml_escape(mesh.title) << " -->\n"
        << "<UnstructuredGrid>\n"
        << "<Piece NumberOfPoints=\"" << mesh.point_count() << "\" NumberOfCells=\"" << nc << "\">\n"
        << "<Points>\n<DataArray type=\"Float32\" NumberOfComponents=\"3\" format=\"ascii\">\n";
    for (std::size_t p = 0; p < mesh.point_count(); ++p)
        out << detail::real_text(mesh.points[3 * p]) << ' ' << detail::real_text(mesh.points[3 * p + 1]) << ' '
            << detail::real_text(mesh.points[3 * p + 2]) << '\n';
    out << "</DataArray>\n</Points>\n<Cells>\n"
        << "<DataArray type=\"Int32\" Name=\"connectivity\" format=\"ascii\">\n";
    for (const auto& q : mesh.quads) out << q[0] << ' ' << q[1] << ' ' << q[2] << ' ' << q[3] << '\n';
    out << "</DataArray>\n<DataArray type=\"Int32\" Name=\"offsets\" format=\"ascii\">\n";
    for (std::size_t c = 0; c < nc; ++c) out << 4 * (c + 1) << ((c + 1) % 10 == 0 || c + 1 == nc ? '\n' : ' ');
    out << "</DataArray>\n<DataArray type=\"UInt8\" Name=\"types\" format=\"ascii\">\n";
    for (std::size_t c = 0; c < nc; ++c) out << kVtkQuad << ((c + 1) % 20 == 0 || c + 1 == nc ? '\n' : ' ');
    out << "</DataArray>\n</Cells>\n";
    if (!mesh.fields.empty()) {
        // The fields ParaView colours and draws glyphs with first: the potential when the
        // basis flow is there, else the area; the velocity, else the normal.
        std::string scalars, vectors;
        for (const CellField& f : mesh.fields) {
            if (f.components == 1 && !f.integer && (scalars.empty() || f.name == "phi")) scalars = f.name;
            if (f.components == 3 && (vectors.empty() || f.name == "velocity")) vectors = f.name;
        }
        out << "<CellData";
        if (!scalars.empty()) out << " Scalars=\"" << scalars << '"';
        if (!vectors.empty()) out << " Vectors=\"" << vectors << '"';
        out << ">\n";
        for (const CellField& f : mesh.fields) {
            out << "<DataArray type=\"" << (f.integer ? "Int32" : "Float32") << "\" Name=\"" << detail::xml_escape(f.name)
                << "\" NumberOfComponents=\"" << f.components << "\" format=\"ascii\">\n";
            detail::write_values(out, f, f.components == 1 ? 10 : static_cast<std::size_t>(f.components));
            out << "</DataArray>\n";
        }
        out << "</CellData>\n";
    }
    out << "</Piece>\n</UnstructuredGrid>\n</VTKFile>\n";
}

// Values per panel of the basis-flow record (.jou3): phi u v w ux vy weight.
inline constexpr std::size_t kBasisFlowValues = 7;

// The interior panels of `model` as quadrilaterals with their data.  `basis_flow` is the
// .jou3 record (7 reals per panel, N panels) or empty when there is none to show.
[[nodiscard]] inline QuadMesh panel_mesh(const PanelModel& model, std::span<const float> basis_flow)
{
    QuadMesh mesh;
    mesh.title = "Torva Setup panels: " + model.header.title;
    const bool with_flow = basis_flow.size() >= kBasisFlowValues * static_cast<std::size_t>(model.n_panels);

    CellField panel{"panel", 1, true, {}, {}}, sheet{"sheet", 1, true, {}, {}}, kind{"kind", 1, true, {}, {}},
        flag{"flag", 1, true, {}, {}}, normal{"normal", 3, false, {}, {}}, area{"area", 1, false, {}, {}};
    static const char* const kFlowNames[kBasisFlowValues] = {"phi", "u", "v", "w", "ux", "vy", "weight"};
    std::vector<CellField> flow;
    for (const char* name : kFlowNames) flow.push_back({name, 1, false, {}, {}});
    CellField velocity{"velocity", 3, false, {}, {}};

    int first_panel = 0;
    for (int s = 0; s < model.n_sheets; ++s) {
        const int np1 = model.np1[static_cast<std::size_t>(s)], np2 = model.np2[static_cast<std::size_t>(s)];
        const int nodes1 = np1 - 1;                      // NP1 + 1 nodes along the first direction
        const int first_point = static_cast<int>(mesh.point_count());
        mesh.points.resize(mesh.points.size() + 3 * static_cast<std::size_t>(nodes1) * static_cast<std::size_t>(np2 - 1), 0.0f);
        auto node = [&](int a, int b) { return first_point + a + b * nodes1; };
        for (int j = 1; j <= np2 - 2; ++j) {
            for (int i = 1; i <= np1 - 2; ++i) {
                const int p = first_panel + i + j * np1;   // 0-based panel index
                const auto pp = static_cast<std::size_t>(p);
                if (model.active[pp] != 1) continue;
                const int a = i - 1, b = j - 1;
                const std::array<int, 4> corner_node = {node(a + 1, b + 1), node(a + 1, b), node(a, b), node(a, b + 1)};
                const float* c = &model.corners[kCornerStride * pp];
                for (int k = 0; k < 4; ++k) {
                    float* x = &mesh.points[3 * static_cast<std::size_t>(corner_node[static_cast<std::size_t>(k)])];
                    x[0] = c[k];
                    x[1] = c[4 + k];
                    x[2] = c[8 + k];
                }
                mesh.quads.push_back({corner_node[0], corner_node[3], corner_node[2], corner_node[1]});
                panel.integers.push_back(to_panel_number(p));
                sheet.integers.push_back(s + 1);
                kind.integers.push_back(model.kp[static_cast<std::size_t>(s)]);
                flag.integers.push_back(model.mp[static_cast<std::size_t>(s)]);
                for (int k = 0; k < 3; ++k) normal.reals.push_back(model.gnormal[kModeCount * pp + static_cast<std::size_t>(k)]);
                area.reals.push_back(model.moments[kMomentCount * pp]);
                if (with_flow) {
                    const float* r = &basis_flow[kBasisFlowValues * pp];
                    for (std::size_t v = 0; v < kBasisFlowValues; ++v) flow[v].reals.push_back(r[v]);
                    velocity.reals.insert(velocity.reals.end(), {r[1], r[2], r[3]});
                }
            }
        }
        first_panel += model.np[static_cast<std::size_t>(s)];
    }
    mesh.fields = {panel, sheet, kind, flag, normal, area};
    if (with_flow) {
        for (CellField& f : flow) mesh.fields.push_back(std::move(f));
        mesh.fields.push_back(std::move(velocity));
    }
    return mesh;
}

}  // namespace torva::inspect
