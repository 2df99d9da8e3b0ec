// Checks of a panel model before any run: the mistakes that a run would otherwise carry
// silently into wrong results.
//
//  - Orientation.  A body sheet (kind 1 or 2) contributes V_s = -sum nz cz A over its interior
//    panels to the displacement, with n A = t1 x t2 the vector area of a panel from its
//    midlines (exact for a planar quadrilateral): the divergence theorem with the field
//    (0, 0, z), as the principal particulars compute it.  Summed over a body closed by the
//    planes z = 0 and y = 0 it is the volume, positive with the normals the setup expects
//    (out of the fluid, into the body).  One sheet alone may rightly give V_s < 0 (the top of
//    a submerged body), so sheets joined along shared edges are judged together: their
//    orientations must agree along the edges, and the body's sum must be positive.  A sheet
//    turned against its body, or a body whose sum is negative, fails.  A sheet lying in a
//    vertical plane (a transom) gives V_s = 0 and passes.
//  - Waterline fit.  The free surface (kind-3 sheets) must begin where the hull leaves the
//    water: every hull node at z = 0 on a body sheet's boundary must lie on the boundary of a
//    free-surface sheet, and the free-surface edge nearest the hull must lie on the hull's
//    waterline.  The gap is the distance from a node to the nearest segment of the other
//    polyline; the largest, in either direction, is reported with where it occurs.
//  - Panel shape.  Area from the diagonals (|d13 x d24| / 2, exact for a planar quadrilateral
//    and the mean projected area otherwise); aspect ratio = the longer midline over the
//    shorter; skew = 90 degrees minus the angle between the two midlines.  A panel whose area
//    is not above `degenerate_area` x the sheet's median panel area is degenerate.
//  - Overlap.  A panel whose centroid lies on a panel of another sheet that faces the same
//    way (within `overlap_distance` x that panel's size of its plane, inside its edges) means
//    two sheets cover the same surface.  Panels facing each other are the two sides of a thin
//    part of the body (a fine hull's halves meet so along the stem and keel).
//
// The checks read the model and write nothing; the caller prints mesh_report_lines().
#pragma once

#include <array>
#include <string>
#include <vector>

#include "mesh/panel_model.hpp"

namespace torva {

struct MeshCheckLimits {
    double max_aspect_ratio = 25.0;    // warning above
    double max_skew_degrees = 60.0;    // warning above
    double degenerate_area = 1.0e-6;   // failure at or below this fraction of the sheet's median area
    double waterline_gap = 1.0e-3;     // failure above this fraction of the waterline length
    double overlap_distance = 1.0e-3;  // fraction of a panel's size
    std::size_t worst_listed = 5;      // panels listed per shape measure
};

enum class CheckSeverity { warning, failure };

struct CheckFinding {
    CheckSeverity severity = CheckSeverity::failure;
    std::string text;                  // one line, without the "FAIL"/"WARN" prefix
};

// One interior panel's shape.  Panel numbers are the padded 1-based numbers of the model;
// (i, j) are its padded indices in its sheet (interior panels have i, j >= 1).
struct PanelShape {
    int panel = 0;
    int sheet = 0;                     // 1-based
    int i = 0, j = 0;
    double area = 0, aspect = 0, skew_degrees = 0;
    std::array<double, 3> centroid{};
};

struct SheetQuality {
    int sheet = 0;                     // 1-based
    int kind = 0, flag = 0;
    int interior = 0;                  // interior panels
    int degenerate = 0;
    double displacement = 0;           // V_s (body sheets; 0 for others)
    double area = 0;                   // sum of the panel areas
    double min_area = 0, max_area = 0, max_aspect = 0, max_skew_degrees = 0;
};

struct WaterlineFit {
    bool checked = false;              // false when there is no free surface or no waterline
    int hull_nodes = 0;                // hull nodes at z = 0 on body-sheet boundaries
    int free_surface_nodes = 0;        // nodes of the free-surface edge nearest the hull
    double waterline_length = 0;       // extent in x of the hull's waterline nodes
    double max_gap = 0;
    std::array<double, 3> where{};     // the node with the largest gap
    bool where_on_hull = true;         // that node is a hull node (else a free-surface node)
};

struct MeshCheckReport {
    std::vector<SheetQuality> sheets;
    std::vector<PanelShape> smallest_area, largest_aspect, largest_skew;   // worst first
    WaterlineFit waterline;
    std::vector<CheckFinding> findings;

    [[nodiscard]] int failures() const noexcept;
    [[nodiscard]] int warnings() const noexcept;
};

// Reads the body mesh `ssg` and, unless `fs` is empty or "0", the free-surface mesh `fs` for
// the checks: sizing pass, allocation and read_mesh_corners, lengths as in the files
// (ALENGTH 1).  Returns "" or why the files could not be read (one that does not open, more
// sheets than counted, or the reader's own message for a file it rejects).
[[nodiscard]] std::string read_mesh_for_checks(const std::string& ssg, const std::string& fs, PanelModel& model);

// Runs every check on a model whose sheet tables and corner records are filled: by
// read_mesh_corners (which does not stop on a degenerate panel) or by the full readers.
// Everything is computed from the corners in double.  Lengths are the model's (the files'
// divided by ALENGTH).
[[nodiscard]] MeshCheckReport check_mesh(const PanelModel& model, const MeshCheckLimits& limits = {});

// The orientation failures alone (the first check of check_mesh): body sheets turned
// against the sheets they join, bodies with a negative displacement.  The setup warns with
// them.
[[nodiscard]] std::vector<CheckFinding> orientation_findings(const PanelModel& model);

// V_s of every sheet from its corners (0 for sheets that are not body sheets), in sheet order.
[[nodiscard]] std::vector<double> sheet_displacements(const PanelModel& model);

// The report as text lines: the panel-quality table, the worst panels, the waterline fit and
// one "FAIL ..." or "WARN ..." line per finding.
[[nodiscard]] std::vector<std::string> mesh_report_lines(const MeshCheckReport& report);

}  // namespace torva
