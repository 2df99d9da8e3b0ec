// The panel-wise equation system (INFORDER other than 1).
//
// The same boundary-integral system as seteqn (equations/seteqn.hpp), same unknowns, rows,
// signs and journal records, put together column block by column block: one call of the
// influence routine for source panel p gives the influence of p's constant densities and of
// its nine B-spline pieces at every collocation point, and that is added to whole columns of
// amat and of the right-hand-side matrix bmat, which is kept in memory.  The rows of the
// ghost unknowns are chosen by INFBND: 1 rim stencils, 0 the sheet connectivity, 2 "not yet
// available", anything else nothing.  The mathematics is in seteqn1.cpp.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "equations/seteqn.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

// The four influence arrays of one source panel (column-major, leading dimension N):
// panel arrays N x 12 (column 1 source, 7 dipole of the constant density), weighted arrays
// N x 18 (columns 1-9 sources, 10-18 dipoles of the nine B-spline pieces, in the order of the
// panel's node table), the difference arrays filled only with the symmetry indicator 1; plus
// getic2b's four integer work lists and the warning lines of this panel's integrals.  One
// set per panel being computed at the same time.
struct ColumnInfluenceArrays {
    std::vector<float> panel_sum, weighted_sum, panel_diff, weighted_diff;
    std::array<std::vector<int>, 4> class_lists;
    std::vector<std::string> warnings;   // listing lines (leading blank included), in order
    explicit ColumnInfluenceArrays(int n = 0);
};

// Which evaluation a call makes: the panel itself, or its image in the sea bottom.
enum class ColumnPass { direct, bottom_image };

// Fills the arrays for source panel `panel_number` (1-based) at every collocation point.
// Called concurrently from several threads, each with its own arrays.
using ColumnInfluence = std::function<void(int panel_number, ColumnPass pass, ColumnInfluenceArrays& arrays)>;

struct ColumnInfluenceRoutine {
    ColumnInfluence fill;
    bool image_pass = false;   // a second call with ColumnPass::bottom_image follows the direct one
};

// The influence routine selected by INFMETH: > 0 getic2a with that method code, = 0 getic2b
// (which adds the bottom itself), < 0 the field-quadrature wrapper with the ISPLINE switches.
// A separate bottom-image call is made when SEA_DEPTH > 0 and INFMETH != 0.
[[nodiscard]] ColumnInfluenceRoutine select_column_influence(const PanelModel& model, int listing_unit, int symmetry,
                                                             int infmeth, const std::array<int, 3>& ispline,
                                                             float sea_depth);

// The assembled and row-scaled system (steps before the right-hand sides are written):
// amat u = bmat k, and with the symmetry indicator 1 the antisymmetric amata u = bmata k.
// N x N column-major, a(r, c) at (r - 1) + (c - 1) N for 1-based r, c.
struct PanelwiseSystem {
    int n = 0;
    bool symmetric = false;
    std::vector<float> amat, bmat;
    std::vector<float> amata, bmata;     // empty without symmetry
    float cpu_start = 0.0f;              // CPU seconds when the panel loop starts
    float cpu_panels_done = 0.0f;        // ... and when it ends
};

// Allocation, the panel loop (column blocks, free terms, INFBND 1 rim stencils and velocity
// records to units.jou4), the INFBND 0 connectivity rows (connectivity.info written in the
// current directory) and the row scaling.  Stops the run with the system's messages.
[[nodiscard]] PanelwiseSystem assemble_panelwise_system(const PanelModel& model, const SeteqnOutput& units,
                                                        int symmetry, int nsheet, int n,
                                                        const ColumnInfluenceRoutine& influence, int infbnd,
                                                        float sea_depth);

// Assembles, writes the rows of bmat (bmata) to .jou1 (.jou1a), factorises or inverts and
// writes amat (amata) to .jou2, and prints the three timing lines.  Stops the run on any
// failure with the listing messages of the system.
void seteqn1(const PanelModel& model, const SeteqnOutput& units, int symmetry, int nsheet, int n,
             const std::array<int, 3>& ispline, int infmeth, int infbnd, int infinvs, float sea_depth);

// The same with the influence routine given (tests pass their own).
void seteqn1(const PanelModel& model, const SeteqnOutput& units, int symmetry, int nsheet, int n,
             const ColumnInfluenceRoutine& influence, int infbnd, int infinvs, float sea_depth);

}  // namespace torva
