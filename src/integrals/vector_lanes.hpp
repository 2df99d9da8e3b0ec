// Vectors of 8 floats for the sweeps of the source kernel and the field quadrature.
//
// The sweeps over all panels of a row evaluate the kernel for 8 pairs at a time.  Each lane
// performs exactly the operations of the scalar routine, in the same order (the build forbids
// fused multiply-add, and the AVX2 target below enables no FMA instructions), so a lane's
// result is bit for bit the scalar one: the vectors only change how many pairs one instruction
// serves.  The sweeps are compiled twice from one body, for AVX2 and for the generic x86-64
// instruction set (where GCC splits each vector into two SSE halves), and the copy the machine
// can run is chosen when they are called; both give the same bits.
//
// Internal to the .cpp files of integrals/: the vector types change the calling convention
// between the two instruction sets (GCC's -Wpsabi note), so they never cross a public
// interface.  Between the always-inlined helpers here no such call is ever made, so the
// note is silenced for the files that include this header (GCC reports it at the end of the
// file, which a push/pop pair would not cover).
#pragma once

#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <utility>

namespace torva::lanes {

inline constexpr int kWidth = 8;
typedef float Floats __attribute__((vector_size(32)));
typedef int Ints __attribute__((vector_size(32)));
typedef double Doubles __attribute__((vector_size(32)));   // 4 doubles

[[gnu::always_inline]] inline Floats load(const float* p) noexcept
{
    Floats v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
[[gnu::always_inline]] inline void store(float* p, const Floats& v) noexcept { __builtin_memcpy(p, &v, sizeof v); }
[[gnu::always_inline]] inline Floats splat(float s) noexcept { return Floats{s, s, s, s, s, s, s, s}; }
// Lane-wise correctly rounded square root (one sqrtps when errno need not be set).
[[gnu::always_inline]] inline Floats sqrt(const Floats& v) noexcept
{
    Floats r;
    for (int i = 0; i < kWidth; ++i) r[i] = __builtin_sqrtf(v[i]);
    return r;
}

// InverseDistanceTaylor (source_kernel.hpp, (4)) for 8 points at once, the same recurrence
// term by term, so every coefficient equals the scalar one bit for bit.  An entry depends
// only on entries of lower order and no larger k3, so a smaller table holds the same values.
template <int Order, int MaxK3>
struct Taylor {
    Floats a[MaxK3 + 1][Order + 1][Order + 1];

    [[gnu::always_inline]] Floats operator()(int k1, int k2, int k3) const noexcept { return a[k3][k2][k1]; }

    [[gnu::always_inline]] Taylor(const Floats& x, const Floats& y, const Floats& z) noexcept
    {
        const Floats r2 = x * x + y * y + z * z;
        const Floats inv_r2 = 1.0f / r2;
        a[0][0][0] = 1.0f / lanes::sqrt(r2);
        // Unrolled whole, so that the table's entries stay in registers at fixed places.
#pragma GCC unroll 8
        for (int n = 1; n <= Order; ++n) {
            const float first_factor = static_cast<float>(2 * n - 1);
            const float second_factor = static_cast<float>(n - 1);
            const Floats inv_n = inv_r2 / static_cast<float>(n);
            for (int k3 = 0; k3 <= std::min(n, MaxK3); ++k3) {
#pragma GCC unroll 8
                for (int k2 = 0; k2 <= n - k3; ++k2) {
                    const int k1 = n - k2 - k3;
                    Floats first = {};
                    Floats second = {};
                    if (k1 >= 1) first += x * a[k3][k2][k1 - 1];
                    if (k2 >= 1) first += y * a[k3][k2 - 1][k1];
                    if (k3 >= 1) first += z * a[k3 - 1][k2][k1];
                    if (k1 >= 2) second += a[k3][k2][k1 - 2];
                    if (k2 >= 2) second += a[k3][k2 - 2][k1];
                    if (k3 >= 2) second += a[k3 - 2][k2][k1];
                    a[k3][k2][k1] = (first_factor * first - second_factor * second) * inv_n;
                }
            }
        }
    }
};

// Whether the AVX2 copies may run (the machine has AVX2 and no test forced the generic copy).
[[nodiscard]] bool avx2_enabled() noexcept;

// The one place that chooses between the two copies of a sweep: calls `avx2` when the
// machine may run it, else `generic`, with the same arguments.
template <class Avx2, class Generic, class... Args>
[[gnu::always_inline]] inline void dispatch(Avx2 avx2, Generic generic, Args&&... args)
{
    if (avx2_enabled()) avx2(std::forward<Args>(args)...);
    else generic(std::forward<Args>(args)...);
}

}  // namespace torva::lanes
