// The far-field series of the field quadrature, written once for the scalar routines and
// the 8-lane sweeps (field_quadrature.cpp, field_quadrature_sweeps.cpp): the same operations
// in the same order whether T is float or a vector of 8 floats.  Internal to integrals/.
#pragma once

#include <new>
#include <span>
#include <stdexcept>

#include "integrals/field_quadrature.hpp"

namespace torva::field_series {

// Sizes the work arrays.  A size beyond what a vector can hold is reported like any other
// allocation failure, as std::bad_alloc, which the caller turns into kVquadrMemoryMessage.
template <class Fn>
inline void with_work_memory(Fn&& allocate)
{
    try {
        allocate();
    } catch (const std::length_error&) {
        throw std::bad_alloc();
    }
}

// Slot of M(m, n) in the 15-value table (n outer, m inner, m + n <= 4).
[[nodiscard]] constexpr int moment_slot(int m, int n) noexcept
{
    constexpr int kBase[5] = {0, 5, 9, 12, 14};
    return kBase[n] + m;
}

// Exponents (a, b) of the six densities.
inline constexpr int kDensityA[kDensityModes] = {0, 1, 0, 2, 0, 1};
inline constexpr int kDensityB[kDensityModes] = {0, 0, 1, 0, 2, 1};

template <class Real>
inline void store_row(std::span<float> result, int n, int j, const DensityIntegrals<Real>& d) noexcept
{
    const auto rows = static_cast<std::size_t>(n);
    const auto row = static_cast<std::size_t>(j);
    for (std::size_t i = 0; i < kDensityModes; ++i) {
        result[row + i * rows] = static_cast<float>(d.source[i]);
        result[row + (i + kDensityModes) * rows] = static_cast<float>(d.dipole[i]);
    }
}

inline void zero_row(std::span<float> result, int n, int j, int columns) noexcept
{
    for (int c = 0; c < columns; ++c)
        result[static_cast<std::size_t>(j) + static_cast<std::size_t>(c) * static_cast<std::size_t>(n)] = 0.0f;
}

// The far series (3) with m + n <= 2 for one density xi^A eta^B, from the explicit Taylor
// coefficients
//     a000 = 1/r,  a100 = xi/r^3,  a010 = eta/r^3,  a001 = zeta/r^3,
//     a200 = (3 xi^2 - r^2)/(2 r^5),  a110 = 3 xi eta/r^5,  a020 = (3 eta^2 - r^2)/(2 r^5),
//     a101 = 3 xi zeta/r^5,  a011 = 3 eta zeta/r^5,
//     a201 = zeta (15 xi^2 - 3 r^2)/(2 r^7),  a111 = 15 xi eta zeta/r^7,
//     a021 = zeta (15 eta^2 - 3 r^2)/(2 r^7)
// (the recurrence of source_kernel.hpp written out).
template <class T>
struct FarCoefficients {
    T a000, a100, a010, a200, a110, a020;
    T a001, a101, a011, a201, a111, a021;
};

// The coefficients at (x, y, z) with r^2 = x^2 + y^2 + z^2 and u = 1/r; T is float or a
// vector of 8 floats (the same operations lane by lane).
template <class T>
[[gnu::always_inline]] inline FarCoefficients<T> far_coefficients(const T& x, const T& y, const T& z,
                                                                  const T& r2, const T& u) noexcept
{
    const T u2 = u * u;
    const T u3 = u * u2;
    const T u5 = u3 * u2;
    const T u7 = u5 * u2;
    FarCoefficients<T> t;
    t.a000 = u;
    t.a100 = x * u3;
    t.a010 = y * u3;
    t.a200 = (1.5f * x * x - 0.5f * r2) * u5;
    t.a110 = 3.0f * x * y * u5;
    t.a020 = (1.5f * y * y - 0.5f * r2) * u5;
    t.a001 = z * u3;
    t.a101 = 3.0f * x * z * u5;
    t.a011 = 3.0f * y * z * u5;
    t.a201 = z * (7.5f * x * x - 1.5f * r2) * u7;
    t.a111 = 15.0f * x * y * z * u7;
    t.a021 = z * (7.5f * y * y - 1.5f * r2) * u7;
    return t;
}

template <int A, int B, class T>
[[gnu::always_inline]] inline void far_density(const FarCoefficients<T>& t, const T (&moment)[kMomentCount],
                                               T& source, T& dipole) noexcept
{
    const T m00 = moment[moment_slot(A, B)];
    const T m10 = moment[moment_slot(A + 1, B)];
    const T m01 = moment[moment_slot(A, B + 1)];
    const T m20 = moment[moment_slot(A + 2, B)];
    const T m11 = moment[moment_slot(A + 1, B + 1)];
    const T m02 = moment[moment_slot(A, B + 2)];
    source = ((m20 * t.a200 + m11 * t.a110 + m02 * t.a020) + (m10 * t.a100 + m01 * t.a010)) + m00 * t.a000;
    dipole = ((m20 * t.a201 + m11 * t.a111 + m02 * t.a021) + (m10 * t.a101 + m01 * t.a011)) + m00 * t.a001;
}

// The panel twist's share of the constant density's dipole (panel_twist.hpp, (4)), added to
// far_density<0, 0>'s; expand adds the same sum in the same order.  (Added through a
// reference: a vector value returned across the dispatch boundary would change the ABI.)
template <class T>
[[gnu::always_inline]] inline void add_far_twist(const FarCoefficients<T>& t, const T& w20, const T& w11, const T& w02,
                                                 T& dipole) noexcept
{
    dipole = dipole + ((w20 * t.a200 + w11 * t.a110) + w02 * t.a020);
}

}  // namespace torva::field_series
