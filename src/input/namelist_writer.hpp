// Writer of the namelist group TORVA_INP: the parameter echo.
//
// Every key, in the group's order, as
//
//     &TORVA_INP
//      ALENGTH = 120.0
//      MFFB = 100*0
//      SDIS0 = 1.5, 2.5, 98*0.0
//      FILE_SSG = 'hull.ssg'
//     /
//
// so that a Fortran namelist READ of the group (and read_torva_inp) gives back the same
// values, bit for bit:
//   - reals in the shortest decimal form that reads back to the same 32-bit float (at most
//     nine significant digits), always with a period or an exponent;
//   - texts in apostrophes, an apostrophe inside doubled, without the trailing blanks that
//     pad them (a reader pads them back to the declared length);
//   - a run of equal consecutive elements as r*value;
//   - logicals T and F;
//   - a long array continued on further lines of about kEchoLineWidth characters.
#pragma once

#include <ostream>

#include "input/run_parameters.hpp"

namespace torva {

inline constexpr std::size_t kEchoLineWidth = 100;

// Writes the whole group.  Stream errors are left in `out`'s state for the caller.
void write_torva_inp(std::ostream& out, const RunParameters& params);

}  // namespace torva
