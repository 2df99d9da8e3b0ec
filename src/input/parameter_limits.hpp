// Limits on the sizes that run parameters set.  A value beyond them would make the run hang
// (millions of bottom images), exhaust memory, or overflow the mesh lengths it scales; it is
// refused before any work with a line that names the key, its value and the limit.
#pragma once

#include "input/run_parameters.hpp"

namespace torva {

// ALENGTH divides every mesh length: outside these bounds a mesh in metres or millimetres
// would leave the float range in its lengths or in their fourth powers (the area moments).
inline constexpr float kMinAlength = 1.0e-6f;
inline constexpr float kMaxAlength = 1.0e6f;
// Bottom images of the basis flow: each one is a full pass of the kernel over every panel
// pair.  A thousand covers a depth of half a percent of the waterline length.
inline constexpr int kMaxKernelCount = 1000;

// Stops the run (listing, "ERROR: ...") when ALENGTH or N_KERNEL lies outside its limits.
void check_parameter_limits(const RunParameters& params);

// The number of bottom images for a depth (in mesh units, > 0): the smallest n >= 1 with
// n * depth >= 5 * waterline_length in float arithmetic, computed directly.  Stops the run,
// naming SEA_DEPTH (as given, `sea_depth_given`), when it exceeds kMaxKernelCount.
[[nodiscard]] int bottom_image_count(float depth, float waterline_length, float sea_depth_given);

}  // namespace torva
