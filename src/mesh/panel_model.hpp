// The padded panel model: every sheet of the mesh with one ring of ghost panels around it.
//
// Numbering.  Sheets are kept in file order (the second mesh file's sheets after the first's).
// Padded panel (i, j) of a sheet, i = 0 .. NP1'-1, j = 0 .. NP2'-1, has the global number
//     offset + i + j * NP1' + 1,          offset = sum of NP' over the earlier sheets,
// and is interior when 1 <= i <= NP1'-2 and 1 <= j <= NP2'-2, a ghost otherwise.  Global
// numbers count from 1 (they are what the journal files and the listing show); the C++
// vectors below are indexed from 0, so panel number p lives at index p - 1
// (see to_panel_index / to_panel_number).
//
// Storage is structure of arrays: one contiguous vector per quantity, `stride` values per
// panel, panel after panel.  Kernels sweep one quantity over all panels, so this is the
// layout they want.  Ghost panels hold the values given in brackets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mesh/mesh_fault.hpp"

namespace torva {

// 1-based panel number <-> 0-based vector index.  The only place the base changes.
[[nodiscard]] constexpr int to_panel_index(int panel_number) noexcept { return panel_number - 1; }
[[nodiscard]] constexpr int to_panel_number(int panel_index) noexcept { return panel_index + 1; }

// Sheet kinds the setup treats.
inline constexpr int kSheetKindBody1 = 1;
inline constexpr int kSheetKindBody = 2;
inline constexpr int kSheetKindFreeSurface = 3;

// Rows of the generalised normal (n, c x n).
inline constexpr int kModeCount = 6;

// Values per panel of the per-panel tables.
inline constexpr int kCornerStride = 12;
inline constexpr int kNodeTableStride = 9;
inline constexpr int kMomentCount = 15;
inline constexpr int kLinkValueCount = 6;

struct MeshHeader {
    std::string title;             // up to 200 characters, as read
    int symmetry = 0;              // 1: half hull mirrored in y = 0
    char code = ' ';               // one-character code after the symmetry indicator
    float lengths[3] = {0, 0, 0};  // translation t (x, y, z), already divided by ALENGTH
    float angles[3] = {0, 0, 0};   // rotations about x, y, z in radians
    bool translate_first = false;  // header logical: T(p) = R (p + t) when true, R p + t when false
};

struct PanelModel {
    MeshHeader header;

    // ---- per sheet (one entry per sheet, padded sizes) -------------------------------------
    int n_sheets = 0;              // sheets read
    int sheet_capacity = 0;        // sheets the tables have room for (doubled for mirroring)
    std::vector<int> np1;          // NP1' = NP1 + 2
    std::vector<int> np2;          // NP2' = NP2 + 2
    std::vector<int> np;           // NP'  = NP1' * NP2'
    std::vector<int> kp;           // sheet kind
    std::vector<int> mp;           // sheet flag

    // ---- per panel --------------------------------------------------------------------------
    int n_panels = 0;              // N, the padded panel count
    int panel_capacity = 0;        // panels the tables have room for (doubled for mirroring)

    std::vector<float> corners;    // stride 12: x1..x4, y1..y4, z1..z4 of P1..P4 [0]
    std::vector<int> active;       // stride 1: 1 interior, 0 ghost
    std::vector<int> node_table;   // stride 9: panel numbers (1-based) of the 3x3 block, 0 = none
    std::vector<float> colloc;     // stride 3: centroid c [0]
    std::vector<float> frame;      // stride 9: e1x e2x nx e1y e2y ny e1z e2z nz [0]
    std::vector<float> xi;         // stride 4: local corner xi_k = e1.(P_k - c) [0]
    std::vector<float> eta;        // stride 4: local corner eta_k = e2.(P_k - c) [0]
    std::vector<float> sides;      // stride 4: in-plane side lengths 1-2, 2-3, 3-4, 4-1 [0]
    std::vector<float> moments;    // stride 15: M(m,n), n outer m inner, m+n <= 4 [0]
    std::vector<float> gnormal;    // stride kModeCount: n, c x n [0]
    std::vector<float> midline_len1;   // stride 1: side 3-4 midpoint to side 1-2 midpoint [1]
    std::vector<float> midline_len2;   // stride 1: side 2-3 midpoint to side 4-1 midpoint [1]
    std::vector<float> midline_slope;  // stride 1: s = -dxi/deta of the second midline [0]
    std::vector<float> midline_cos;    // stride 1: 1/sqrt(1 + s^2) [0]
    std::vector<float> midline_frame;  // stride 9: t1x t2x nx t1y t2y ny t1z t2z nz [0]
    std::vector<float> inv_midline_frame;  // stride 9: inverse of the midline frame (interior only)
    std::vector<float> metric_inv;     // stride 9: inverse of rows (dc/di, dc/dj, n) (interior only)
    std::vector<float> moment2;        // stride 2: (1.0, area)
    std::vector<float> moment13;       // stride 13: the 15 moments without M(1,0), M(0,1)
    // All tables above hold panel_capacity panels; with mirroring the second half stays zero
    // until the basis flow fills it.  The inverse tables are written for interior panels
    // only (ghosts keep 0).

    // ---- work arrays of the reading, sized by N (released by release_mesh_work_arrays) -----
    std::vector<float> raw_nodes;      // stride 3: x y z of every node as read (divided by
                                       // ALENGTH), sheet after sheet, first direction fastest
    int n_raw_nodes = 0;               // nodes held, sum of (NP1 + 1)(NP2 + 1)
    std::vector<int> link_values;      // stride 6: the link section's six integers per panel

    // ---- from the mesh file -----------------------------------------------------------------
    int link_record_count = 0;     // link records read (handed to the basis flow)
    float waterline_xmax = -1.0e15f;
    float waterline_xmin = 1.0e15f;

    // ---- panel lists (1-based panel numbers) ------------------------------------------------
    std::vector<int> interior_body;    // the one list kept for the whole run (capacity panels)
    // The other five, sized by N and released after classification.
    std::vector<int> flagged_interior_body;
    std::vector<int> flagged_body;
    std::vector<int> body;
    std::vector<int> interior_free_surface;
    std::vector<int> free_surface;
    int n_flagged_interior_body = 0;
    int n_flagged_body = 0;
    int n_body = 0;
    int n_interior_body = 0;
    int n_interior_free_surface = 0;
    int n_free_surface = 0;
};

// The tables sized by the capacities, each with its values per panel (or per sheet): calls
// f(table, stride) for each.  The one list of them, so that allocating, enlarging and
// costing the model cannot forget one.
template <class Model, class F>
void for_each_sheet_table(Model& m, F&& f)
{
    for (auto* t : {&m.np1, &m.np2, &m.np, &m.kp, &m.mp}) f(*t, 1);
}
template <class Model, class F>
void for_each_capacity_table(Model& m, F&& f)
{
    f(m.corners, kCornerStride);
    f(m.active, 1);
    f(m.node_table, kNodeTableStride);
    f(m.colloc, 3);
    f(m.frame, 9);
    f(m.xi, 4);
    f(m.eta, 4);
    f(m.sides, 4);
    f(m.moments, kMomentCount);
    f(m.gnormal, kModeCount);
    f(m.midline_len1, 1);
    f(m.midline_len2, 1);
    f(m.midline_slope, 1);
    f(m.midline_cos, 1);
    f(m.midline_frame, 9);
    f(m.inv_midline_frame, 9);
    f(m.metric_inv, 9);
    f(m.moment2, 2);
    f(m.moment13, 13);
    f(m.interior_body, 1);
}

// 0-based index of the first panel of sheet `sheet` (0-based): the sum of NP' before it.
[[nodiscard]] int sheet_first_panel(const PanelModel& model, int sheet) noexcept;

// Bytes the panel model needs: the per-panel tables for `panel_capacity` panels, the work
// arrays for `n_panels`, the sheet tables for `sheet_capacity` sheets.
[[nodiscard]] std::int64_t panel_model_bytes(std::int64_t n_panels, std::int64_t panel_capacity,
                                             std::int64_t sheet_capacity) noexcept;

// Memory the machine can give now: MemAvailable of /proc/meminfo, else the free physical
// pages; -1 when neither is known.
[[nodiscard]] std::int64_t available_memory_bytes() noexcept;

// Sizes every table of `model` (zero-filled) for a mesh of `n_panels` padded panels in
// `n_sheets` sheets.  With `mirrored` (IFSBC 3 on a half hull) the sheet and panel tables get
// room for twice the sheets and panels and sheet_capacity is 2 * n_sheets; the work arrays
// stay at n_panels.  n_sheets and n_panels of the model are left 0 for the reader to count.
// Checks the need against the memory available first, and throws MeshFault
// ("ERROR: Insufficient memory for allocation of arrays.", then the byte counts) when it
// cannot fit or the allocation fails.
void allocate_panel_model(PanelModel& model, int n_panels, int n_sheets, bool mirrored);

// The two moment tables read by the equation systems: moment2 = (1, area) and moment13 =
// the fifteen area moments without the first-order M(1,0) and M(0,1), for panels 1..N.
void fill_moment_tables(PanelModel& model);

// Releases what only the reading and the classification need: the raw nodes, the link
// values and the five panel lists other than interior_body (their counts stay).
void release_mesh_work_arrays(PanelModel& model);

}  // namespace torva
