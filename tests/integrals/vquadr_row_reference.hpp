// The row variant of the field quadrature one panel at a time: the per-panel formulas the
// vector sweep (vquadr_row_vectorised) must reproduce bit for bit.  Tests and the kernel
// benchmark compare the two.
#pragma once

#include <array>
#include <span>

#include "integrals/field_quadrature.hpp"
#include "integrals/field_quadrature_series.hpp"

namespace torva::reference {

using namespace field_series;


// The far sweep of vquadr_row.  Every array is named by its own restrict pointer, so that
// the compiler sees plain streams that do not alias.  The loop becomes vector code when
// the square root need not report to errno (-fno-math-errno); with errno semantics the
// compiler keeps a scalar branch around every root.
inline void far_sweep(float fx, float fy, float fz, std::size_t count, const RowPanels& panels,
               std::span<float> result, float* __restrict xi, float* __restrict eta,
               float* __restrict zeta) noexcept
{
    const float* __restrict cx = panels.centre[0].data();
    const float* __restrict cy = panels.centre[1].data();
    const float* __restrict cz = panels.centre[2].data();
    const float* __restrict r0 = panels.frame[0].data();
    const float* __restrict r1 = panels.frame[1].data();
    const float* __restrict r2p = panels.frame[2].data();
    const float* __restrict r3 = panels.frame[3].data();
    const float* __restrict r4 = panels.frame[4].data();
    const float* __restrict r5 = panels.frame[5].data();
    const float* __restrict r6 = panels.frame[6].data();
    const float* __restrict r7 = panels.frame[7].data();
    const float* __restrict r8 = panels.frame[8].data();
    const float* __restrict p0 = panels.moment[0].data();
    const float* __restrict p1 = panels.moment[1].data();
    const float* __restrict p2 = panels.moment[2].data();
    const float* __restrict p3 = panels.moment[3].data();
    const float* __restrict p4 = panels.moment[4].data();
    const float* __restrict p5 = panels.moment[5].data();
    const float* __restrict p6 = panels.moment[6].data();
    const float* __restrict p7 = panels.moment[7].data();
    const float* __restrict p8 = panels.moment[8].data();
    const float* __restrict p9 = panels.moment[9].data();
    const float* __restrict p10 = panels.moment[10].data();
    const float* __restrict p11 = panels.moment[11].data();
    const float* __restrict p12 = panels.moment[12].data();
    const float* __restrict p13 = panels.moment[13].data();
    const float* __restrict p14 = panels.moment[14].data();
    const float* __restrict w20 = panels.twist[0].data();
    const float* __restrict w11 = panels.twist[1].data();
    const float* __restrict w02 = panels.twist[2].data();
    float* __restrict s0 = result.data();
    float* __restrict s1 = s0 + count;
    float* __restrict s2 = s1 + count;
    float* __restrict s3 = s2 + count;
    float* __restrict s4 = s3 + count;
    float* __restrict s5 = s4 + count;
    float* __restrict d0 = s5 + count;
    float* __restrict d1 = d0 + count;
    float* __restrict d2 = d1 + count;
    float* __restrict d3 = d2 + count;
    float* __restrict d4 = d3 + count;
    float* __restrict d5 = d4 + count;
    // Near, intermediate or inactive panels get (possibly non-finite) values here that are
    // replaced afterwards.
    for (std::size_t j = 0; j < count; ++j) {
        const float dx = fx - cx[j];
        const float dy = fy - cy[j];
        const float dz = fz - cz[j];
        const float x = r0[j] * dx + r3[j] * dy + r6[j] * dz;
        const float y = r1[j] * dx + r4[j] * dy + r7[j] * dz;
        const float z = r2p[j] * dx + r5[j] * dy + r8[j] * dz;
        xi[j] = x;
        eta[j] = y;
        zeta[j] = z;
        const float r2 = x * x + y * y + z * z;
        const float u = 1.0f / std::sqrt(r2);
        const FarCoefficients<float> t = far_coefficients(x, y, z, r2, u);
        const float moment[kMomentCount] = {p0[j], p1[j], p2[j],  p3[j],  p4[j],
                                            p5[j], p6[j], p7[j],  p8[j],  p9[j],
                                            p10[j], p11[j], p12[j], p13[j], p14[j]};
        far_density<0, 0>(t, moment, s0[j], d0[j]);
        add_far_twist(t, w20[j], w11[j], w02[j], d0[j]);
        far_density<1, 0>(t, moment, s1[j], d1[j]);
        far_density<0, 1>(t, moment, s2[j], d2[j]);
        far_density<2, 0>(t, moment, s3[j], d3[j]);
        far_density<0, 2>(t, moment, s4[j], d4[j]);
        far_density<1, 1>(t, moment, s5[j], d5[j]);
    }
}


inline void vquadr_row(const std::array<float, 3>& field, int n,
                const RowPanels& panels, std::span<float> result, RowWorkspace& work)
{
    const auto count = static_cast<std::size_t>(n);
    work.xi.resize(count);
    work.eta.resize(count);
    work.zeta.resize(count);
    work.near.clear();
    work.intermediate.clear();

    const float fx = field[0];
    const float fy = field[1];
    const float fz = field[2];
    const float* moment[kMomentCount];
    for (std::size_t k = 0; k < kMomentCount; ++k) moment[k] = panels.moment[k].data();
    float* xi = work.xi.data();
    float* eta = work.eta.data();
    float* zeta = work.zeta.data();

    far_sweep(fx, fy, fz, count, panels, result, xi, eta, zeta);

    for (std::size_t j = 0; j < count; ++j) {
        if (panels.active[j] == 0) {
            zero_row(result, n, static_cast<int>(j), kDensityColumns);
            continue;
        }
        const float r2 = xi[j] * xi[j] + eta[j] * eta[j] + zeta[j] * zeta[j];
        switch (field_regime(r2, panels.moment[0][j])) {
        case FieldRegime::near: work.near.push_back(static_cast<int>(j)); break;
        case FieldRegime::intermediate: work.intermediate.push_back(static_cast<int>(j)); break;
        case FieldRegime::far: break;
        }
    }
    for (const int j : work.near) {
        const auto jj = static_cast<std::size_t>(j);
        store_row(result, n, j, near_density_integrals(xi[jj], eta[jj], zeta[jj], panels.polygon[jj], panels.lift[jj]));
    }
    for (const int j : work.intermediate) {
        const auto jj = static_cast<std::size_t>(j);
        std::array<float, kMomentCount> m{};
        for (std::size_t k = 0; k < kMomentCount; ++k) m[k] = moment[k][jj];
        const TwistMoments<float> w = {panels.twist[0][jj], panels.twist[1][jj], panels.twist[2][jj]};
        store_row(result, n, j, expansion_density_integrals(xi[jj], eta[jj], zeta[jj], m, true, w));
    }
}

inline void vquadr_row(const std::array<float, 3>& field, int n,
                const RowPanels& panels, std::span<float> result)
{
    RowWorkspace work;
    vquadr_row(field, n, panels, result, work);
}

}  // namespace torva::reference
