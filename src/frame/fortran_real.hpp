// A Fortran real constant as list-directed input reads it, converted to float in one
// correctly rounded step.
#pragma once

#include <string_view>

namespace torva {

// Parses `text` (one value, no blanks): an optional sign, digits with an optional decimal
// point (at least one digit), and an optional exponent: a letter E, D or Q (either case)
// with optional sign and digits, or -- when `sign_starts_exponent` -- a bare sign and digits
// (1.5-3 is 1.5e-3, as the Fortran run-time reads it).  Inf, Infinity, NaN and NaN(...) are
// accepted in any case.  Returns false when the text is no real; `out_of_range` is set when
// it is one but lies beyond the float range.  Values below the float range become subnormal
// or zero, as the run-time delivers them.
[[nodiscard]] bool parse_fortran_real(std::string_view text, float& value, bool& out_of_range,
                                      bool sign_starts_exponent = true);

}  // namespace torva
