// The setup run: from the command line's INPUT option to "FINISHED: SUCCESS".
#pragma once

#include <string>

#include "frame/program_start.hpp"

namespace torva {

// The program's identity as the listing header shows it.
[[nodiscard]] ProgramIdentityTexts setup_program_identity();

// The whole run, in order; every failure stops it through stop_run (RunStopped).
void run_setup();

// The smallest n >= 1 with n * depth >= 5 * waterline length: enough bottom images that the
// last one lies five ship lengths away.
[[nodiscard]] int kernel_count(float sea_depth, float waterline_length);

}  // namespace torva
