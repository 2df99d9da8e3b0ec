// The panel-wise equation system (INFORDER other than 1).
#pragma once

#include <array>

#include "equations/seteqn.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

void seteqn1(const PanelModel& model, const SeteqnUnits& units, int symmetry, int nsheet, int n,
             const std::array<int, 3>& ispline, int infmeth, int infbnd, int infinvs, float sea_depth);

}  // namespace torva
