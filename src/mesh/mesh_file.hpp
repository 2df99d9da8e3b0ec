// Spline-sheet mesh files: the sizing pass, the one-file and two-file readers, and the
// classification of the panels by sheet kind.
//
// File layout ("Version 2.0" layout; the old layout in brackets):
//   record 1   "Version?2.0" (characters 1-7 "Version", 9-11 "2.0")   [the title]
//   record 2   the title, up to 200 characters kept                   [symmetry, code]
//   record 3   symmetry indicator, one-character code                 [sheets, t3, a2, t1]
//   record 4   number of sheets
//   record 5   t1 t2 t3 (lengths), a1 a2 a3 (angles in degrees)
//   record 6   one logical (translate before rotating)
//   per sheet  NP1 NP2 KP MP, then (NP1 + 1)(NP2 + 1) records x y z, first direction fastest
//   optional   link count, then that many records: panel number and six integers
// The old layout sets t2, a1, a3 to 0 and the logical to false.  Lengths and coordinates are
// divided by ALENGTH as read; angles become radians as value * 3.1415925 / 180, in float
// (3.1415925 is the float one unit below the float nearest to pi, bits 40490FDA).
//
// Sheets are padded with a ring of ghost panels: NP1' = NP1 + 2, NP2' = NP2 + 2; padded
// panel (i, j) has corners P1 = node (i, j), P2 = node (i, j - 1), P3 = node (i - 1, j - 1),
// P4 = node (i - 1, j) (ghosts all 0), and N = sum of NP1' NP2'.
//
// Bad input (a missing, unreadable or truncated file, a value that is not a number, a
// non-finite coordinate, a sheet without panels, counts whose tables could not fit in
// memory, a link record naming a panel that does not exist) throws MeshFault with an
// "ERROR:" line naming the file, the record and what was expected; the caller stops the run.  The only status a reader
// returns is 1 for more sheets than the capacity, which the driver reports.
#pragma once

#include <istream>
#include <string>

#include "mesh/mesh_fault.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

// Unit of the mesh files.
inline constexpr int kMeshUnit = 10;

// Value of FILE_FS that means "no second mesh file".
inline constexpr const char* kNoSecondMeshFile = "0";

// Threshold of the waterline test |z| < kWaterlineTolerance * ALENGTH.
inline constexpr float kWaterlineTolerance = 1.0e-5f;

struct MeshSizes {
    int n_sheets = 0;        // sheets of both files
    int n_panels = 0;        // N = sum of (NP1 + 2)(NP2 + 2)
    int symmetry = 0;        // the symmetry indicator of the last file read
};

// Sizing pass.  Reads the headers and sheet headers of the first file and, when `second`
// is given, of the second (node records are parsed and checked but not kept; the link
// section is not read).  Stops on bad input, and on counts whose panel tables could not fit
// in the memory available.
[[nodiscard]] MeshSizes size_mesh(std::istream& first, const std::string& first_name,
                                  std::istream* second, const std::string& second_name);
// The same from files: `unit` is open on FILE_SSG; it is closed after the first file, and
// FILE_FS (unless "0") is opened on it with status "OLD", counted and closed.
[[nodiscard]] MeshSizes size_mesh(int unit, const std::string& file_fs);

// One-file reader: fills `model` (allocated by allocate_panel_model; its sheet_capacity is
// the capacity) from one mesh: header, sheets, corner records, waterline extent, link
// section, then the node table, active flags, panel geometry and surface metric.  Returns 0,
// or 1 when the file has more sheets than the capacity (nothing further is read then).
[[nodiscard]] int read_mesh_one_file(std::istream& in, const std::string& name, float alength,
                                     PanelModel& model);
// The same on `unit`, open on FILE_SSG; the unit is closed afterwards.
[[nodiscard]] int read_mesh_one_file(int unit, float alength, PanelModel& model);

// Two-file reader: the first file as above (it alone sets the waterline extent), then the
// second file's sheets appended; the second file's header values replace the first's; the
// link-record count is the sum of both files'.  Returns 1 when the first file's sheets or
// both files' sheets together exceed the capacity.
[[nodiscard]] int read_mesh_two_files(std::istream& first, const std::string& first_name,
                                      std::istream& second, const std::string& second_name,
                                      float alength, PanelModel& model);
// The same from files: opens FILE_SSG and then FILE_FS on `unit` ("OLD"), closes each.
[[nodiscard]] int read_mesh_two_files(int unit, const std::string& file_ssg,
                                      const std::string& file_fs, float alength, PanelModel& model);

// The readers' sheet tables, corner records, node table and active flags, without the panel
// geometry (whose frame inversion stops the run on a degenerate panel): what a check of the
// mesh needs to see such a panel and report it.  `second` may be null (one file).  Returns
// 0, or 1 when the sheets exceed the model's sheet capacity.
[[nodiscard]] int read_mesh_corners(std::istream& first, const std::string& first_name,
                                    std::istream* second, const std::string& second_name,
                                    float alength, PanelModel& model);

// Six panel lists by sheet kind, with a running 1-based panel number:
//   kind 2: body (all), interior_body (active), and with MP > 0 flagged_body (all) and
//           flagged_interior_body (active);
//   kind 3: free_surface (all), interior_free_surface (active);
//   kind 1 and any other kind: none.
// Fills the lists (allocated by allocate_panel_model) and their counts in `model`.
void classify_panels(PanelModel& model);

}  // namespace torva
