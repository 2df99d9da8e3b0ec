// The source kernel for many panels at once: the velocity sweeps of the equation systems and
// the basis flow, 8 pairs per vector instruction (vector_lanes.hpp), the near and rich pairs
// handed back to the scalar formulas of source_kernel.cpp.
#include "integrals/source_kernel.hpp"
#include "integrals/vector_lanes.hpp"

#include <algorithm>
#include <cmath>

namespace torva {

// ---- the velocity sweep -------------------------------------------------------------------
//
// source_kernel(x, 0, panel, 1).grad_phi_s for a list of panels.  In the second-moment range
// (r^2 >= 150 S, most pairs of a row) the gradient needs only
//     phi_d = sum M a(m,n,1),   dphi_s/dxi = -sum (m+1) M a(m+1,n,0),
//     dphi_s/deta = -sum (n+1) M a(m,n+1,0)          over (m,n) = (0,2), (1,1), (2,0), (0,0),
// the terms of expand<false, true> in its order, with Taylor coefficients up to order 3 and
// k3 <= 1; the lanes repeat those operations and the frame products of to_global exactly.
namespace {

bool generic_vector_kernels_forced = false;

}  // namespace

bool lanes::avx2_enabled() noexcept
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && !generic_vector_kernels_forced;
}

const char* vector_kernels_isa() noexcept { return lanes::avx2_enabled() ? "avx2" : "generic"; }

void force_generic_vector_kernels(bool on) noexcept { generic_vector_kernels_forced = on; }

VelocityPanels velocity_panels(std::span<const KernelPanel> panels, std::span<const int> columns)
{
    VelocityPanels out;
    const std::size_t count = columns.size();
    out.column.assign(columns.begin(), columns.end());
    for (auto& v : out.frame) v.resize(count);
    for (auto& v : out.centre) v.resize(count);
    for (auto& v : out.moment) v.resize(count);
    out.area.resize(count);
    out.panel.resize(count);
    constexpr std::size_t kSlots[4] = {0, 1, 4, 7};
    for (std::size_t j = 0; j < count; ++j) {
        const KernelPanel& p = panels[static_cast<std::size_t>(columns[j])];
        for (std::size_t k = 0; k < 9; ++k) out.frame[k][j] = p.frame[k];
        for (std::size_t k = 0; k < 3; ++k) out.centre[k][j] = p.centre[k];
        for (std::size_t k = 0; k < 4; ++k) out.moment[k][j] = p.moments[kSlots[k]];
        out.area[j] = p.area;
        out.panel[j] = p;
    }
    return out;
}

namespace {

// The 8 panels from j (all lanes valid when `rows` holds the arrays themselves; a tail block
// reads copies padded with the last panel).
struct VelocityBlock {
    const float* frame[9];
    const float* centre[3];
    const float* moment[4];
    const float* area;
};

// One block of 8 pairs: velocities into u, v, w (8 each) and a mask of the lanes that lie
// within 150 S (to be evaluated one by one).
template <bool Potential>
[[gnu::always_inline]] inline lanes::Ints velocity_block(const std::array<float, 3>& x, const VelocityBlock& b,
                                                         std::size_t j, float* phi, float* u, float* v,
                                                         float* w) noexcept
{
    using lanes::Floats;
    using lanes::load;
    Floats f[9];
    for (int k = 0; k < 9; ++k) f[k] = load(b.frame[k] + j);
    const Floats dx = x[0] - load(b.centre[0] + j);
    const Floats dy = x[1] - load(b.centre[1] + j);
    const Floats dz = x[2] - load(b.centre[2] + j);
    const Floats xi = f[0] * dx + f[3] * dy + f[6] * dz;
    const Floats eta = f[1] * dx + f[4] * dy + f[7] * dz;
    const Floats zeta = f[2] * dx + f[5] * dy + f[8] * dz;
    const Floats r2 = xi * xi + eta * eta + zeta * zeta;
    // kernel_regime's short range, r^2 > 40 S and not r^2 < 150 S, as its comparisons read.
    const Floats area = load(b.area + j);
    const lanes::Ints short_range = (r2 > kNearFieldRatio * area) & (r2 >= kRichExpansionRatio * area);

    const lanes::Taylor<3, 1> a(xi, eta, zeta);
    const Floats m0 = load(b.moment[0] + j);
    const Floats m20 = load(b.moment[1] + j);
    const Floats m11 = load(b.moment[2] + j);
    const Floats m02 = load(b.moment[3] + j);
    Floats phi_s = {};
    Floats phi_d = {};
    Floats dphis_dxi = {};
    Floats dphis_deta = {};
    // (0,2), (1,1), (2,0), (0,0): kShortTerms from the back, as add_moment_terms runs.
    if constexpr (Potential) {
        phi_s += m02 * a(0, 2, 0);
        phi_s += m11 * a(1, 1, 0);
        phi_s += m20 * a(2, 0, 0);
        phi_s += m0 * a(0, 0, 0);
        lanes::store(phi, phi_s);
    }
    phi_d += m02 * a(0, 2, 1);
    dphis_dxi -= 1.0f * m02 * a(1, 2, 0);
    dphis_deta -= 3.0f * m02 * a(0, 3, 0);
    phi_d += m11 * a(1, 1, 1);
    dphis_dxi -= 2.0f * m11 * a(2, 1, 0);
    dphis_deta -= 2.0f * m11 * a(1, 2, 0);
    phi_d += m20 * a(2, 0, 1);
    dphis_dxi -= 3.0f * m20 * a(3, 0, 0);
    dphis_deta -= 1.0f * m20 * a(2, 1, 0);
    phi_d += m0 * a(0, 0, 1);
    dphis_dxi -= 1.0f * m0 * a(1, 0, 0);
    dphis_deta -= 1.0f * m0 * a(0, 1, 0);
    const Floats g_zeta = -phi_d;
    lanes::store(u, f[0] * dphis_dxi + f[1] * dphis_deta + f[2] * g_zeta);
    lanes::store(v, f[3] * dphis_dxi + f[4] * dphis_deta + f[5] * g_zeta);
    lanes::store(w, f[6] * dphis_dxi + f[7] * dphis_deta + f[8] * g_zeta);
    return short_range;
}

template <bool Potential>
[[gnu::always_inline]] inline void velocity_lanes_body(const std::array<float, 3>& x, const VelocityPanels& p,
                                                       float* phi, float* u, float* v, float* w,
                                                       std::vector<int>& special) noexcept
{
    const std::size_t count = p.size();
    VelocityBlock rows;
    for (int k = 0; k < 9; ++k) rows.frame[k] = p.frame[k].data();
    for (int k = 0; k < 3; ++k) rows.centre[k] = p.centre[k].data();
    for (int k = 0; k < 4; ++k) rows.moment[k] = p.moment[k].data();
    rows.area = p.area.data();
    std::size_t j = 0;
    for (; j + lanes::kWidth <= count; j += lanes::kWidth) {
        const lanes::Ints in_range = velocity_block<Potential>(x, rows, j, Potential ? phi + j : nullptr, u + j, v + j, w + j);
        for (int i = 0; i < lanes::kWidth; ++i)
            if (in_range[i] == 0) special.push_back(static_cast<int>(j) + i);
    }
    if (j == count) return;
    // Tail: copies padded with the last panel; only the valid lanes are kept.
    float buffer[17][lanes::kWidth];
    VelocityBlock tail;
    const std::size_t valid = count - j;
    auto fill = [&](int slot, const std::vector<float>& values) {
        for (std::size_t i = 0; i < lanes::kWidth; ++i) buffer[slot][i] = values[j + std::min(i, valid - 1)];
        return &buffer[slot][0];
    };
    for (int k = 0; k < 9; ++k) tail.frame[k] = fill(k, p.frame[k]);
    for (int k = 0; k < 3; ++k) tail.centre[k] = fill(9 + k, p.centre[k]);
    for (int k = 0; k < 4; ++k) tail.moment[k] = fill(12 + k, p.moment[k]);
    tail.area = fill(16, p.area);
    float out[4][lanes::kWidth];
    const lanes::Ints in_range = velocity_block<Potential>(x, tail, 0, out[3], out[0], out[1], out[2]);
    for (std::size_t i = 0; i < valid; ++i) {
        if constexpr (Potential) phi[j + i] = out[3][i];
        u[j + i] = out[0][i];
        v[j + i] = out[1][i];
        w[j + i] = out[2][i];
        if (in_range[i] == 0) special.push_back(static_cast<int>(j + i));
    }
}

template <bool Potential>
__attribute__((target("avx2"))) void velocity_lanes_avx2(const std::array<float, 3>& x, const VelocityPanels& p,
                                                         float* phi, float* u, float* v, float* w,
                                                         std::vector<int>& special)
{
    velocity_lanes_body<Potential>(x, p, phi, u, v, w, special);
}

template <bool Potential>
void velocity_lanes_generic(const std::array<float, 3>& x, const VelocityPanels& p, float* phi, float* u, float* v,
                            float* w, std::vector<int>& special)
{
    velocity_lanes_body<Potential>(x, p, phi, u, v, w, special);
}

// The rich range (40 S < r^2 < 150 S) for gathered pairs: packed slots 0-2 xi, eta, zeta,
// 3-11 the frame, 12-24 the 13 moments, 25-27 the velocity, 28 phi_s; each slot `stride`
// floats.  The terms of expand<true, true> that the velocity (and phi_s) need, in
// add_moment_terms' order (the rich terms from the back, then the short ones), with
// coefficients up to order 5 and k3 <= 1.
constexpr std::size_t kRichSlots = 29;

template <bool Potential>
[[gnu::always_inline]] inline void rich_velocity_body(float* packed, std::size_t stride) noexcept
{
    using lanes::Floats;
    for (std::size_t j = 0; j < stride; j += lanes::kWidth) {
        // The lambdas must be inlined like the body: compiled apart, for the default target,
        // they would pass the 256-bit lanes by value across an ABI boundary (an -O0 or -O1
        // build, such as the sanitizer build, would then read garbage).
        auto slot = [&](std::size_t k) __attribute__((always_inline)) { return lanes::load(packed + k * stride + j); };
        const Floats xi = slot(0), eta = slot(1), zeta = slot(2);
        const lanes::Taylor<5, 1> a(xi, eta, zeta);
        Floats phi_s = {};
        Floats phi_d = {};
        Floats dphis_dxi = {};
        Floats dphis_deta = {};
        auto add = [&](const auto& terms) __attribute__((always_inline)) {
            for (auto it = terms.rbegin(); it != terms.rend(); ++it) {
                const int m = it->m;
                const int n = it->n;
                const Floats moment = slot(12 + static_cast<std::size_t>(it->slot));
                if constexpr (Potential) phi_s += moment * a(m, n, 0);
                phi_d += moment * a(m, n, 1);
                dphis_dxi -= static_cast<float>(m + 1) * moment * a(m + 1, n, 0);
                dphis_deta -= static_cast<float>(n + 1) * moment * a(m, n + 1, 0);
            }
        };
        add(kRichTerms);
        add(kShortTerms);
        const Floats g_zeta = -phi_d;
        Floats f[9];
        for (std::size_t k = 0; k < 9; ++k) f[k] = slot(3 + k);
        lanes::store(packed + 25 * stride + j, f[0] * dphis_dxi + f[1] * dphis_deta + f[2] * g_zeta);
        lanes::store(packed + 26 * stride + j, f[3] * dphis_dxi + f[4] * dphis_deta + f[5] * g_zeta);
        lanes::store(packed + 27 * stride + j, f[6] * dphis_dxi + f[7] * dphis_deta + f[8] * g_zeta);
        if constexpr (Potential) lanes::store(packed + 28 * stride + j, phi_s);
    }
}

template <bool Potential>
__attribute__((target("avx2"))) void rich_velocity_avx2(float* packed, std::size_t stride)
{
    rich_velocity_body<Potential>(packed, stride);
}

template <bool Potential>
void rich_velocity_generic(float* packed, std::size_t stride) { rich_velocity_body<Potential>(packed, stride); }

}  // namespace

void VelocitySweepWork::reserve(std::size_t panels)
{
    const std::size_t stride = (panels + lanes::kWidth - 1) / lanes::kWidth * lanes::kWidth;
    special.reserve(panels);
    rich.reserve(panels);
    local.reserve(3 * panels);
    if (packed.size() < kRichSlots * stride) packed.resize(kRichSlots * stride);
}

namespace {

template <bool Potential>
void sweep(const std::array<float, 3>& x, const VelocityPanels& panels, float* phi, float* u, float* v, float* w,
           VelocitySweepWork& work)
{
    work.special.clear();
    work.rich.clear();
    lanes::dispatch(velocity_lanes_avx2<Potential>, velocity_lanes_generic<Potential>, x, panels, phi, u, v, w,
                    work.special);
    // Near pairs: the scalar kernel itself.  Rich pairs: gathered, then 8 at a time.
    for (const int j : work.special) {
        const auto jj = static_cast<std::size_t>(j);
        const KernelPanel& panel = panels.panel[jj];
        const auto [xi, eta, zeta] = local_coordinates(x, panel);
        if (kernel_regime(xi * xi + eta * eta + zeta * zeta, panel.area) == KernelRegime::rich_expansion) {
            work.rich.push_back(j);
            work.local.insert(work.local.end(), {xi, eta, zeta});
            continue;
        }
        const SourceKernelResult k = source_kernel(x, 0, panel, 1);
        const std::array<float, 3>& g = k.grad_phi_s;
        if constexpr (Potential) phi[jj] = k.phi_s;
        u[jj] = g[0];
        v[jj] = g[1];
        w[jj] = g[2];
    }
    const std::size_t listed = work.rich.size();
    if (listed == 0) {
        work.local.clear();
        return;
    }
    const std::size_t stride = (listed + lanes::kWidth - 1) / lanes::kWidth * lanes::kWidth;
    if (work.packed.size() < kRichSlots * stride) work.packed.resize(kRichSlots * stride);
    float* packed = work.packed.data();
    for (std::size_t e = 0; e < stride; ++e) {
        // Lanes past the list repeat its last pair; their results are not used.
        const std::size_t from = std::min(e, listed - 1);
        const KernelPanel& panel = panels.panel[static_cast<std::size_t>(work.rich[from])];
        for (std::size_t k = 0; k < 3; ++k) packed[k * stride + e] = work.local[3 * from + k];
        for (std::size_t k = 0; k < 9; ++k) packed[(3 + k) * stride + e] = panel.frame[k];
        for (std::size_t k = 0; k < 13; ++k) packed[(12 + k) * stride + e] = panel.moments[k];
    }
    work.local.clear();
    lanes::dispatch(rich_velocity_avx2<Potential>, rich_velocity_generic<Potential>, packed, stride);
    for (std::size_t e = 0; e < listed; ++e) {
        const auto jj = static_cast<std::size_t>(work.rich[e]);
        u[jj] = packed[25 * stride + e];
        v[jj] = packed[26 * stride + e];
        w[jj] = packed[27 * stride + e];
        if constexpr (Potential) phi[jj] = packed[28 * stride + e];
    }
}

}  // namespace

void velocity_sweep(const std::array<float, 3>& x, const VelocityPanels& panels, float* u, float* v, float* w,
                    VelocitySweepWork& work)
{
    sweep<false>(x, panels, nullptr, u, v, w, work);
}

void potential_velocity_sweep(const std::array<float, 3>& x, const VelocityPanels& panels, float* phi, float* u,
                              float* v, float* w, VelocitySweepWork& work)
{
    sweep<true>(x, panels, phi, u, v, w, work);
}

}  // namespace torva
