// Rigid-body mode shapes: the displacement of a body point under a unit motion of mode m.
//
// For the point x = (x, y, z) in the body's axes (rotations about their origin):
//     m = 1, 2, 3 (surge, sway, heave):  e_m                                          (1)
//     m = 4, 5, 6 (roll, pitch, yaw):    e_(m-3) x x, i.e.
//         4: (0, -z, y),   5: (z, 0, -x),   6: (-y, x, 0)                              (2)
// A mode number below 1 leaves the result untouched.  Numbers above 6 would be flexible
// modes, whose shapes this program never loads: asking for one is a caller's error.
#pragma once

#include <array>
#include <cstddef>

namespace torva {

// Rigid-body modes the setup knows.
inline constexpr int kRigidBodyModes = 6;

// Writes the displacement of `point` under `mode` into result[0], result[stride],
// result[2 * stride] and returns `result`.  Throws std::invalid_argument for mode > 6.
float* mode_shape(float* result, std::ptrdiff_t stride, int mode, const std::array<float, 3>& point);

// The same for a contiguous vector, starting from `result` (returned as is for mode < 1).
[[nodiscard]] std::array<float, 3> mode_shape(int mode, const std::array<float, 3>& point,
                                              std::array<float, 3> result = {});

}  // namespace torva
