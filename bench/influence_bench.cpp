// Time per panel / field-point pair of the influence operations on a regular sheet of
// 20 x 20 gently curved panels (22 x 22 padded, 400 active): one row of getic2 for each
// method code, one column of getic2a (method 3) and one column of getic2b.  The counter
// "per_pair" is the time per active pair (each pair is 10 source and 10 dipole integrals
// for getic2 / getic2a, fewer points for getic2b's far classes).  Field point and panel
// are taken in the middle of the sheet, so every distance class occurs.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "frame/run_stop.hpp"
#include "integrals/influence_coefficients.hpp"

namespace {

using torva::PanelModel;
using torva::Vec3d;

constexpr int kSide = 20;

PanelModel make_bench_sheet()
{
    PanelModel m;
    const int n1 = kSide + 2, n2 = kSide + 2;
    const auto node = [](int a, int b) {
        const double x = 0.1 * a, y = 0.1 * b;
        return Vec3d{x, y, -1.0 + 0.05 * std::sin(x) * std::cos(y)};
    };
    for (int j = 0; j < n2; ++j) {
        for (int i = 0; i < n1; ++i) {
            const bool interior = i >= 1 && i <= n1 - 2 && j >= 1 && j <= n2 - 2;
            const int a = i - 1, b = j - 1;
            std::array<Vec3d, 4> stored{};   // stored corners 1..4 = node (a+1,b+1), (a+1,b), (a,b), (a,b+1)
            if (interior)
                stored = {node(a + 1, b + 1), node(a + 1, b), node(a, b), node(a, b + 1)};
            for (int axis = 0; axis < 3; ++axis)
                for (int k = 0; k < 4; ++k)
                    m.corners.push_back(static_cast<float>(stored[k][axis]));
            for (int axis = 0; axis < 3; ++axis)
                m.colloc.push_back(static_cast<float>(
                    (stored[0][axis] + stored[1][axis] + stored[2][axis] + stored[3][axis]) / 4.0));
            for (int k = 0; k < 4; ++k)
                m.sides.push_back(static_cast<float>(torva::vec3::norm(torva::vec3::sub(stored[(k + 1) % 4], stored[k]))));
            m.active.push_back(interior ? 1 : 0);
            for (int dj = -1; dj <= 1; ++dj)
                for (int di = -1; di <= 1; ++di) {
                    const int ii = i + di, jj = j + dj;
                    const bool inside = ii >= 0 && ii < n1 && jj >= 0 && jj < n2;
                    m.node_table.push_back(inside ? torva::to_panel_number(ii + jj * n1) : 0);
                }
            ++m.n_panels;
        }
    }
    return m;
}

const PanelModel& sheet()
{
    static const PanelModel model = make_bench_sheet();
    return model;
}

constexpr int kMiddlePanel = 1 + 11 + 11 * (kSide + 2);
constexpr int kActivePairs = kSide * kSide;

void set_pair_counter(benchmark::State& state)
{
    state.counters["per_pair"] = benchmark::Counter(
        static_cast<double>(kActivePairs), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void bm_getic2(benchmark::State& state)
{
    const PanelModel& m = sheet();
    const int n = m.n_panels;
    const int method = static_cast<int>(state.range(0));
    std::vector<float> ps(n * 12), ns(n * 12), pd(n * 12), nd(n * 12);
    const auto i = static_cast<std::size_t>(torva::to_panel_index(kMiddlePanel)) * 3;
    const std::array<float, 3> f{m.colloc[i], m.colloc[i + 1], m.colloc[i + 2]};
    for (auto _ : state) {
        (void)torva::getic2(m, 1, method, kMiddlePanel, f, n, ps, ns, pd, nd);
        benchmark::DoNotOptimize(ps.data());
    }
    set_pair_counter(state);
}
BENCHMARK(bm_getic2)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void bm_getic2a(benchmark::State& state)
{
    const PanelModel& m = sheet();
    const int n = m.n_panels;
    std::vector<float> ps(n * 12), ws(n * 18), pd(n * 12), wd(n * 18);
    for (auto _ : state) {
        (void)torva::getic2a(m, 1, 3, kMiddlePanel, n, ps, ws, pd, wd, -1.0f);
        benchmark::DoNotOptimize(ps.data());
    }
    set_pair_counter(state);
}
BENCHMARK(bm_getic2a)->Unit(benchmark::kMillisecond);

void bm_getic2b(benchmark::State& state)
{
    const PanelModel& m = sheet();
    const int n = m.n_panels;
    std::vector<float> ps(n * 12), ws(n * 18), pd(n * 12), wd(n * 18);
    std::array<std::vector<int>, 4> work;
    std::array<std::span<int>, 4> lists;
    for (int c = 0; c < 4; ++c) {
        work[c].assign(static_cast<std::size_t>(n), 0);
        lists[c] = work[c];
    }
    for (auto _ : state) {
        torva::getic2b(m, [](std::string_view) {}, 1, kMiddlePanel, n, lists, ps, ws, pd, wd, -1.0f);
        benchmark::DoNotOptimize(ps.data());
    }
    set_pair_counter(state);
}
BENCHMARK(bm_getic2b)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
