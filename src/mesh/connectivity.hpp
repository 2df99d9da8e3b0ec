// Boundary connectivity of the spline sheets.
//
// The unknowns of the equation systems are coefficients c of biquadratic B-splines, one per
// node of a sheet's nu x nv grid; the outer ring of every grid is made of ghost nodes whose
// coefficients are not collocated.  This module finds what lies across the sheet edge behind
// every ghost node (FIND_CONNECTIVITY), dumps that to "connectivity.info", and writes the
// equation rows of the ghost nodes (sheet_continuity).
//
// Numbering (1-based, as in the journal files): node (iu, iv) of sheet s, iu = 1..nu(s),
// iv = 1..nv(s), is  offset(s) + iu + (iv - 1) nu(s),  offset(s) = nodes of the earlier sheets.
// Every node is also a panel of the padded panel model (nu = NP1', nv = NP2').
//
// Panel corners (stride 12: x1..x4, y1..y4, z1..z4) lie at corner 3 = (u-, v-),
// corner 2 = (u+, v-), corner 1 = (u+, v+), corner 4 = (u-, v+).  Edge e of a panel runs
//     e = 1: corner 1 -> 2 (u+ side)     e = 2: corner 2 -> 3 (v- side)
//     e = 3: corner 3 -> 4 (u- side)     e = 4: corner 4 -> 1 (v+ side).
// On the parameter square (s, t) in [-1/2, 1/2]^2 of a panel, s runs along u and t along v.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "mesh/mesh_fault.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

inline constexpr int kConnectivityInfoUnit = 400;
inline constexpr const char* kConnectivityInfoName = "connectivity.info";

// The largest 32-bit float: the "not on the symmetry plane" value of posy0.
inline constexpr double kPosy0Unset = 3.4028234663852886e38;

// One `pancon` record: one ghost node and what lies across its sheet edge.  Defaults are
// those every record starts from.  Node, panel and sheet numbers are 1-based.
struct PanelConnection {
    bool corner = false;               // the ghost node is a sheet corner
    std::array<int, 9> jc{-1, -1, -1, -1, -1, -1, -1, -1, -1};
                                       // corner only: jc(a,b) at [(a-1) + 3 (b-1)], jc(1,1) the corner
    std::array<double, 3> posy0{kPosy0Unset, kPosy0Unset, kPosy0Unset};
                                       // symmetry plane only: midpoint of the edge in y = 0
    bool zero_y = false;               // the facing edge lies in the symmetry plane
    bool outer = false;                // free or collapsed edge, or a neighbour of another kind
    int isheet = -1;                   // sheet of the ghost node
    int iedge = -1;                    // edge of panel i facing the ghost node (1..4)
    int jedge = -1;                    // edge of panel j that was matched
    int jsheet = 0;                    // sheet of panel j (no default in the record: 0 = none)
    int ieqn = -1;                     // the ghost node: its equation row
    int i = -1;                        // interior panel next to the ghost node
    int j = -1;                        // neighbour panel across the edge
    int i_kp = -1;                     // sheet kind of isheet
    int j_kp = -1;                     // sheet kind of jsheet
    int iglview = -1;                  // ordinal of i among the active panels of its sheet
    int jglview = -1;                  // ordinal of j among the active panels of its sheet
    int ktype = -1;                    // 1: earlier side of a matched pair, 2: later side
    double u = 0.0, v = 0.0;           // matched point on panel j, in [-1/2, 1/2]^2 (0 = none)

    [[nodiscard]] int jc_at(int a, int b) const { return jc[(a - 1) + 3 * (b - 1)]; }
};

// The sheets and nodes as the connectivity sees them.  All spans are read only.
struct SheetGrid {
    int n_sheets = 0;
    std::span<const int> nu;           // per sheet: nodes along u, ghost ring included (NP1')
    std::span<const int> nv;           // per sheet: nodes along v (NP2')
    std::span<const int> kind;         // per sheet: sheet kind KP
    std::span<const int> indom;        // per node: 0 ghost, non-zero domain panel
    std::span<const float> corners;    // per node, stride 12 (see above)
};

// Builds the `pancon` records of every ghost node, sheet by sheet (corner (1,1), lower edge,
// corner (nu,1), left/right pairs, corner (1,nv), upper edge, corner (nu,nv)), checks them
// and pairs every edge record with the nearest panel edge of another sheet.  `symmetry` > 0
// means a half hull mirrored in y = 0: edges in that plane become zero_y records.
// Throws MeshFault on a record-count mismatch, a ghost that is a domain panel, or an
// interior neighbour that is not.
[[nodiscard]] std::vector<PanelConnection> FIND_CONNECTIVITY(int symmetry,
                                                             const SheetGrid& grid);
[[nodiscard]] std::vector<PanelConnection> FIND_CONNECTIVITY(int symmetry,
                                                             const PanelModel& panels);

// Writes every record to `path` on unit 400 (status "replace"), one list-directed item per
// line; `xct` is the collocation point table, stride 3, indexed by node.  Integers are plain,
// logicals T/F, floats and doubles in the shortest form that reads back to the same value
// (at most 9 and 17 significant digits).
void write_connectivity_info(std::span<const PanelConnection> pancon, std::span<const float> xct,
                             const std::string& path = kConnectivityInfoName);

// The model arrays sheet_continuity needs besides the grid.
struct ContinuityGeometry {
    std::span<const int> node_table;   // per node, stride 9: the 3 x 3 block, 1-based, 0 = none
    std::span<const float> xct;        // per node, stride 3: collocation point
};

// The four n x n column-major matrices (`a(r, c)` = data[(r-1) + (c-1) n], r, c 1-based):
// the symmetric system and its companion (right-hand-side) matrix, and the antisymmetric pair,
// which is touched only when symmetry > 0 (and may be empty otherwise).
struct ContinuityMatrices {
    std::span<float> amat, bmat, amata, bmata;
};

// Overwrites the rows ieqn of every record in the matrices (rows cleared first): corner rows,
// second differences at outer edges, symmetry-plane rows, and value or slope continuity to the
// neighbour sheet.  Then checks that no row of amat (amata) is all zero; a zero row writes
// `info_path` and throws MeshFault, as does every other failure.
void sheet_continuity(int n, int symmetry, std::span<const PanelConnection> pancon,
                      const SheetGrid& grid, const ContinuityGeometry& geometry,
                      const ContinuityMatrices& matrices,
                      const std::string& info_path = kConnectivityInfoName);
void sheet_continuity(int symmetry, std::span<const PanelConnection> pancon,
                      const PanelModel& panels, const ContinuityMatrices& matrices,
                      const std::string& info_path = kConnectivityInfoName);

}  // namespace torva
