// Rigid-body mode shapes (equations in the header).
#include "equations/mode_shapes.hpp"

#include <stdexcept>
#include <string>

namespace torva {

float* mode_shape(float* result, std::ptrdiff_t stride, int mode, const std::array<float, 3>& point)
{
    if (mode > kRigidBodyModes)
        throw std::invalid_argument("mode_shape: mode " + std::to_string(mode)
                                    + " is a flexible mode, whose shape is never loaded by the setup");
    if (mode < 1)
        return result;
    const float x = point[0], y = point[1], z = point[2];
    std::array<float, 3> d{};
    switch (mode) {
    case 1: d = {1.0f, 0.0f, 0.0f}; break;   // (1)
    case 2: d = {0.0f, 1.0f, 0.0f}; break;
    case 3: d = {0.0f, 0.0f, 1.0f}; break;
    case 4: d = {0.0f, -z, y}; break;         // (2): e_x x (x, y, z)
    case 5: d = {z, 0.0f, -x}; break;         //      e_y x (x, y, z)
    default: d = {-y, x, 0.0f}; break;        //      e_z x (x, y, z)
    }
    for (std::ptrdiff_t k = 0; k < 3; ++k)
        result[k * stride] = d[static_cast<std::size_t>(k)];
    return result;
}

std::array<float, 3> mode_shape(int mode, const std::array<float, 3>& point, std::array<float, 3> result)
{
    mode_shape(result.data(), 1, mode, point);
    return result;
}

}  // namespace torva
