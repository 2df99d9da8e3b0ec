// The influence routines of one row of the main system, chosen by INFMETH, and getvel.
#include "equations/seteqn.hpp"

#include "frame/run_stop.hpp"
#include "integrals/influence_coefficients.hpp"

namespace torva {

RowInfluence select_row_influence(const PanelModel& model, int listing_unit, int symmetry, int infmeth,
                                  const std::array<int, 3>& ispline)
{
    (void)ispline;
    if (infmeth > 0) {
        const PanelTables tables = panel_tables(model);
        return [tables, listing_unit, symmetry, infmeth, n = model.n_panels](
                   const std::array<float, 3>& field, int row_number, RowInfluenceArrays& a) {
            getic2(tables, listing_unit, symmetry, infmeth, row_number, field, n, a.panel_sum, a.node_sum,
                   a.panel_diff, a.node_diff);
        };
    }
    stop_run_on(listing_unit, {"ERROR: the quadrature-based influence routines (INFMETH <= 0) are not built yet"});
}

std::vector<float> getvel(const PanelModel&, int, const std::array<float, 3>&, int, float)
{
    stop_run({"ERROR: getvel (velocity records) is not built yet"});
}

}  // namespace torva
