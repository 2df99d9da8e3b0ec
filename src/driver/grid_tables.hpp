// The grid summary of the listing: GRID INFORMATION (the sheets as read) and PRINCIPAL
// PARTICULARS (hydrostatics of the wetted body).
//
// Hydrostatics are sums over the interior panels (active flag 1) of every sheet whose flag MP
// is not 0, with c the collocation point, n the unit normal (pointing out of the fluid) and
// A the panel area:
//     V  = -sum nz cz A                           (1)  displacement (divergence theorem)
//     S  =  sum A                                 (2)  wetted surface
//     Mx = -sum cx cz nz A,  My = -sum cy cz nz A,  Mz = -sum 1/2 cz^2 nz A        (3)
// so that (Mx, My, Mz)/V is the centre of buoyancy.  For a half hull (symmetry 1) V, S, Mx,
// Mz double and My is 0 by symmetry.
#pragma once

#include <string>

#include "mesh/panel_model.hpp"

namespace torva {

struct GridExtents {
    double volume = 0, wetted_area = 0;
    double mx = 0, my = 0, mz = 0;
    float xmin = 1.0e6f, xmax = -1.0e6f, ymin = 1.0e6f, ymax = -1.0e6f, zmin = 1.0e6f, zmax = -1.0e6f;
    float overall_length = 0, max_draft = 0, waterline_beam = 0;
    float buoyancy[3] = {0, 0, 0};   // centre of buoyancy (0 when V = 0)
};

[[nodiscard]] GridExtents compute_grid_extents(const PanelModel& model);

// Fortran ES12.3: 3 decimals, one digit before the point, exponent form, right-justified in 12.
[[nodiscard]] std::string es12_3(double value);

// Writes the two tables to `listing_unit`.
void print_grid_information(int listing_unit, const PanelModel& model);
void print_principal_particulars(int listing_unit, const PanelModel& model, const GridExtents& extents,
                                 float alength);

// T(p; t) of the mesh header: R (p + t) when the header logical is true, R p + t otherwise.
void output_axes(const MeshHeader& header, const double p[3], const double t[3], double out[3]);

}  // namespace torva
