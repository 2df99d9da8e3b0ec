#include "equations/seteqn1.hpp"

#include "frame/run_stop.hpp"

namespace torva {

void seteqn1(const PanelModel&, const SeteqnUnits& units, int, int, int, const std::array<int, 3>&, int, int, int,
             float)
{
    stop_run_on(units.listing, {"ERROR: the panel-wise equation system (INFORDER other than 1) is not built yet"});
}

}  // namespace torva
