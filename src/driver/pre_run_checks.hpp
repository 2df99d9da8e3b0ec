// What the setup tells before the work starts, between the grid summary and the opening of
// the journal files: a warning for a body sheet turned inside out, and the estimate of the
// run with its stop when the journal files cannot fit on their file system.
#pragma once

#include "driver/run_estimate.hpp"
#include "input/run_parameters.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

// One "WARNING:" line, on the listing and on stderr, for every body sheet that gives its body
// a negative displacement -sum nz cz A or is turned against the sheets it joins (its normals
// point into the water; see orientation_findings).  The run goes on.
void warn_negative_displacement(int listing_unit, const PanelModel& model);

// Calibrates, writes the estimate block to the listing, and stops the run with "ERROR:"
// when the journal and filter files need more than the free space of the file system they
// go to.  `free_space` answers for a directory (tests give their own figure).
void report_run_estimate(int listing_unit, const PanelModel& model, const RunParameters& params,
                         const FreeSpaceQuery& free_space = free_space_bytes);

}  // namespace torva
