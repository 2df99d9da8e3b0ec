// The fast paths of the main system's row loop against the per-pair routines they replace.
//
// The row loop evaluates the far field for 8 panels at a time, gathers the intermediate pairs
// into vectors, forms the B-spline pieces of a whole row at once, computes the velocity
// records for all panels of a row together and writes one block of rows while the next is
// assembled.  Each of these is checked here against the plain per-pair code on real panel
// geometry (a cubed sphere and a Wigley hull with its free surface), with field points placed
// in every distance regime, and for both instruction-set copies of the vector code:
//   - the row variant and the velocity sweep repeat the scalar operations lane by lane, so
//     they must agree bit for bit;
//   - the pieces are the same sums grouped differently in double precision, so they agree to
//     the float rounding of their largest term.
#include "equations/seteqn.hpp"
#include "integrals/vquadr_row_reference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "support/panel_models.hpp"

namespace {

namespace mt = torva::mesh_tool;
using torva::testing::cubed_sphere;
using torva::testing::panel_model_from;

// A half cubed sphere, and a Wigley hull with an O-grid of free surface around it.
const std::array<torva::PanelModel, 2>& models()
{
    static const std::array<torva::PanelModel, 2> m = [] {
        auto wigley = mt::wigley_hull({2.0, 0.2, 0.125, 12, 5, true}, false);
        for (auto& s : mt::free_surface(wigley, {3.0, 5, 1.15}, false)) wigley.push_back(s);
        return std::array{panel_model_from(cubed_sphere(6, 3.0, true), 1), panel_model_from(wigley, 0)};
    }();
    return m;
}

// Field points in every regime of some panels: the panel's centre moved along a random
// direction by a multiple of sqrt(S) (within 40 S, between 40 S and 150 S, beyond), on and
// off the panel plane, and the collocation points themselves.
std::vector<std::array<float, 3>> field_points(const torva::PanelModel& m, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> panel(0, m.n_panels - 1);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<std::array<float, 3>> points;
    for (int p = 0; p < m.n_panels; p += 7)
        if (m.active[p]) points.push_back({m.colloc[3 * p], m.colloc[3 * p + 1], m.colloc[3 * p + 2]});
    for (const float reach : {0.2f, 0.7f, 2.0f, 4.0f, 7.0f, 9.0f, 11.5f, 13.0f, 30.0f}) {
        for (int k = 0; k < 6; ++k) {
            const int p = panel(rng);
            if (!m.active[p]) continue;
            const float size = std::sqrt(m.moments[15 * p]);
            float d[3] = {g(rng), g(rng), g(rng)};
            if (k == 0) {   // in the panel plane: remove the normal part
                const float* n = &m.frame[9 * p + 2];
                const float dn = d[0] * n[0] + d[1] * n[3] + d[2] * n[6];
                for (int i = 0; i < 3; ++i) d[i] -= dn * n[3 * i];
            }
            const float len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            std::array<float, 3> x{};
            for (int i = 0; i < 3; ++i) x[i] = m.colloc[3 * p + i] + reach * size * d[i] / len;
            points.push_back(x);
        }
    }
    return points;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Runs `check` once with the AVX2 copy (where the machine has it) and once with the generic one.
template <class Check>
void for_each_instruction_set(Check&& check)
{
    for (const bool generic : {false, true}) {
        torva::force_generic_vector_kernels(generic);
        SCOPED_TRACE(torva::vector_kernels_isa());
        check();
    }
    torva::force_generic_vector_kernels(false);
}

TEST(row_variant_vectorised, equals_the_per_panel_row_variant_bit_for_bit_in_every_regime)
{
    for (const torva::PanelModel* m : {&models()[0], &models()[1]}) {
        const torva::RowPanels panels = torva::make_row_panels(*m);
        const int n = m->n_panels;
        // The panels fall in all three regimes over these points (checked, so that the test
        // cannot pass with one regime missing).
        int near = 0, intermediate = 0;
        for_each_instruction_set([&] {
            torva::RowWorkspace work;
            for (const auto& x : field_points(*m, 11)) {
                std::vector<float> want(12 * n, -1.0f), got(12 * n, -2.0f);
                torva::reference::vquadr_row(x, n, panels, want);
                torva::vquadr_row_vectorised(x, n, panels, got, work);
                ASSERT_TRUE(same_bits(got, want)) << "field point " << x[0] << " " << x[1] << " " << x[2];
                near += static_cast<int>(work.near.size());
                intermediate += static_cast<int>(work.intermediate.size());
            }
        });
        EXPECT_GT(near, 0);
        EXPECT_GT(intermediate, 0);
    }
}

TEST(velocity_sweep, equals_the_source_kernel_potential_and_gradient_bit_for_bit_in_every_regime)
{
    const torva::PanelModel& m = models()[1];
    // Every active panel, in a count that leaves a partial block of lanes.
    std::vector<int> columns;
    for (int p = 0; p < m.n_panels; ++p)
        if (m.active[p]) columns.push_back(p);
    if (columns.size() % 8 == 0) columns.pop_back();
    std::vector<torva::KernelPanel> kernel(m.n_panels);
    for (const int c : columns) kernel[c] = torva::kernel_panel(m, torva::to_panel_number(c));
    const torva::VelocityPanels panels = torva::velocity_panels(kernel, columns);
    const std::size_t count = columns.size();
    int special = 0;
    for_each_instruction_set([&] {
        torva::VelocitySweepWork work;
        for (const auto& x : field_points(m, 23)) {
            // Slots: u, v, w of velocity_sweep, then phi, u, v, w of potential_velocity_sweep.
            std::vector<float> got(7 * count, -7.0f), want(7 * count);
            torva::velocity_sweep(x, panels, got.data(), got.data() + count, got.data() + 2 * count, work);
            special += static_cast<int>(work.special.size());
            torva::potential_velocity_sweep(x, panels, got.data() + 3 * count, got.data() + 4 * count,
                                            got.data() + 5 * count, got.data() + 6 * count, work);
            for (std::size_t j = 0; j < count; ++j) {
                const torva::SourceKernelResult k = torva::source_kernel(x, 0, kernel[columns[j]], 1);
                want[3 * count + j] = k.phi_s;
                for (std::size_t c = 0; c < 3; ++c) want[c * count + j] = want[(4 + c) * count + j] = k.grad_phi_s[c];
            }
            ASSERT_TRUE(same_bits(got, want)) << "field point " << x[0] << " " << x[1] << " " << x[2];
        }
    });
    EXPECT_GT(special, 0);   // near and rich pairs were met
}

// Float rounding of a value computed in double from terms as large as `scale`: one unit in
// the last place of the value, plus 64 double roundings of the terms.
float piece_tolerance(double value, double scale)
{
    return static_cast<float>(std::ldexp(std::abs(value), -23) + 64.0 * std::ldexp(scale, -52));
}

TEST(spline_pieces_vectorised, agree_with_spline_piece_values_to_float_rounding_for_every_switch_setting)
{
    // Random panel shapes (midline lengths, slopes) and density values of both signs and
    // mixed sizes; 13 panels, so that the 4-lane loop leaves a tail.
    constexpr int n = 13;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> length(0.05, 2.0), slope(-0.8, 0.8), value(-1.0, 1.0);
    torva::PieceLanes lanes;
    std::vector<torva::PieceGeometry> geometry(n);
    for (auto& g : geometry) {
        g.a = static_cast<float>(length(rng));
        g.b = static_cast<float>(length(rng));
        const float sigma = static_cast<float>(slope(rng));
        g.m = -static_cast<double>(sigma);
        g.c = 1.0f / std::sqrt(1.0f + sigma * sigma);
        lanes.m.push_back(g.m);
        lanes.inv_a.push_back(1.0 / g.a);
        lanes.inv_bc.push_back(1.0 / (g.b * g.c));
    }
    std::vector<float> density(12 * n);
    for (std::size_t i = 0; i < density.size(); ++i)
        density[i] = static_cast<float>(value(rng) * std::pow(10.0, static_cast<int>(i % 5) - 2));
    const std::array<float, 9> weights = {1, 6, 1, 6, 36, 6, 1, 6, 1};
    for_each_instruction_set([&] {
        for (int bits = 0; bits < 8; ++bits) {
            const std::array<int, 3> switches = {bits & 1, (bits >> 1) & 1, (bits >> 2) & 1};
            const std::size_t stride = n + 3;
            std::vector<float> source(9 * stride, 0.0f), dipole(9 * stride, 0.0f);
            torva::spline_pieces_vectorised(density, n, lanes, switches, weights, source.data(), dipole.data(), stride);
            for (int q = 0; q < n; ++q) {
                for (int part = 0; part < 2; ++part) {
                    std::array<double, 6> v{};
                    for (int c = 0; c < 6; ++c) v[c] = density[(c + 6 * part) * n + q];
                    const auto& g = geometry[q];
                    const double bc = g.b * g.c;
                    // The largest term any piece can hold: 36 I_0 and 64 times each derived integral.
                    const double scale = 36 * std::abs(v[0]) + 64 * (std::abs(v[1]) + 2 * std::abs(g.m * v[2])) / g.a +
                            64 * std::abs(v[2]) / bc +
                            64 * (std::abs(v[3]) + std::abs(2 * g.m * v[5]) + std::abs(g.m * g.m * v[4])) / (g.a * g.a) +
                            64 * std::abs(v[4]) / (bc * bc) + 64 * (std::abs(v[5]) + std::abs(g.m * v[4])) / (g.a * bc);
                    const auto want = torva::spline_piece_values(v, g, switches, weights);
                    const std::vector<float>& got = part == 0 ? source : dipole;
                    for (int k = 0; k < 9; ++k)
                        EXPECT_NEAR(got[k * stride + q], static_cast<float>(want[k]), piece_tolerance(want[k], scale))
                            << "switches " << bits << " panel " << q << " piece " << k + 1 << " part " << part;
                }
            }
        }
    });
}

}  // namespace
