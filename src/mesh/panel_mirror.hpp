// The panel model extended by its mirror image in y = 0, for the steps that need the whole
// hull of a half-hull mesh (the mode derivatives of the basis flow, IFSBC 3).
#pragma once

#include "mesh/panel_model.hpp"

namespace torva {

// Extends `model` (n_sheets sheets, n_panels panels) by its mirror image in y = 0: sheets
// s + n_sheets copy sheet s, panel p + N has the corners of panel p in reverse order (corner k
// takes corner 5 - k) with y negated; then node table, active flags, geometry, surface
// metric, moment tables and the interior-body list of the doubled mesh.  Tables too small
// for the doubled mesh are enlarged.
void mirror_panel_model(PanelModel& model);

}  // namespace torva
