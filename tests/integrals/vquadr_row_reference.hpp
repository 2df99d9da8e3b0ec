// The row variant of the field quadrature one panel at a time: the per-panel formulas the
// vector sweep (vquadr_row_vectorised) must reproduce bit for bit.  Tests and the kernel
// benchmark compare the two; a lane that reads the wrong panel, coefficient or moment slot
// shows up as a changed bit here, far below what a tolerance against a quadrature would see.
#pragma once

#include <array>
#include <cmath>
#include <span>

#include "integrals/field_quadrature.hpp"
#include "integrals/field_quadrature_series.hpp"

namespace torva::reference {

using namespace field_series;

inline void vquadr_row(const std::array<float, 3>& field, int n, const RowPanels& panels,
                       std::span<float> result, RowWorkspace& /*unused*/)
{
    const auto count = static_cast<std::size_t>(n);
    for (std::size_t j = 0; j < count; ++j) {
        if (panels.active[j] == 0) {
            zero_row(result, n, static_cast<int>(j), kDensityColumns);
            continue;
        }
        const float dx = field[0] - panels.centre[0][j];
        const float dy = field[1] - panels.centre[1][j];
        const float dz = field[2] - panels.centre[2][j];
        const auto& r = panels.frame;
        const float x = r[0][j] * dx + r[3][j] * dy + r[6][j] * dz;
        const float y = r[1][j] * dx + r[4][j] * dy + r[7][j] * dz;
        const float z = r[2][j] * dx + r[5][j] * dy + r[8][j] * dz;
        const float r2 = x * x + y * y + z * z;
        float m[kMomentCount];
        for (std::size_t k = 0; k < kMomentCount; ++k) m[k] = panels.moment[k][j];
        const TwistMoments<float> w = {panels.twist[0][j], panels.twist[1][j], panels.twist[2][j]};
        switch (field_regime(r2, m[0])) {
        case FieldRegime::near:
            store_row(result, n, static_cast<int>(j), near_density_integrals(x, y, z, panels.polygon[j], panels.lift[j]));
            break;
        case FieldRegime::intermediate:
            store_row(result, n, static_cast<int>(j), expansion_density_integrals(x, y, z, std::to_array(m), true, w));
            break;
        case FieldRegime::far: {
            const FarCoefficients<float> t = far_coefficients(x, y, z, r2, 1.0f / std::sqrt(r2));
            float s[kDensityModes], d[kDensityModes];
            far_density<0, 0>(t, m, s[0], d[0]);
            add_far_twist(t, w.w20, w.w11, w.w02, d[0]);
            far_density<1, 0>(t, m, s[1], d[1]);
            far_density<0, 1>(t, m, s[2], d[2]);
            far_density<2, 0>(t, m, s[3], d[3]);
            far_density<0, 2>(t, m, s[4], d[4]);
            far_density<1, 1>(t, m, s[5], d[5]);
            for (std::size_t c = 0; c < kDensityModes; ++c) {
                result[j + c * count] = s[c];
                result[j + (c + kDensityModes) * count] = d[c];
            }
        }
        }
    }
}

inline void vquadr_row(const std::array<float, 3>& field, int n, const RowPanels& panels, std::span<float> result)
{
    RowWorkspace work;
    vquadr_row(field, n, panels, result, work);
}

}  // namespace torva::reference
