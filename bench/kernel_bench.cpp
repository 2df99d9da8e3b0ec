// Nanoseconds per field-point/panel pair of the source kernel and of the field quadrature's
// row variant, one case per regime (near r^2 < 40 S, intermediate, far r^2 >= 150 S).
//
// The row cases put 4096 unit panels (skew quadrilaterals, tilted frames) on a grid whose
// spacing keeps every panel in the chosen regime seen from the field point, so one call
// times 4096 pairs of that regime; the counter "ns_per_pair" is the figure to quote, with
// the machine it came from.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <vector>

#include "integrals/field_quadrature.hpp"
#include "integrals/source_kernel.hpp"
#include "../tests/integrals/vquadr_row_reference.hpp"

namespace {

using namespace torva;

constexpr int kPanels = 4096;

// A skew quadrilateral (clockwise) and its moments about the origin by a 256 x 256 midpoint
// rule on its bounding box (their accuracy does not matter for timing).
struct Panel {
    std::array<float, 4> xi{0.55f, 0.45f, -0.5f, -0.5f};
    std::array<float, 4> eta{0.45f, -0.55f, -0.45f, 0.55f};
    std::array<float, 15> moments{};
};

bool inside(const Panel& p, double x, double y)
{
    // Clockwise polygon: inside when right of every edge.
    for (int k = 0; k < 4; ++k) {
        const int e = (k + 1) % 4;
        const double cross = (p.xi[e] - p.xi[k]) * (y - p.eta[k]) - (p.eta[e] - p.eta[k]) * (x - p.xi[k]);
        if (cross > 0) return false;
    }
    return true;
}

Panel make_panel()
{
    Panel p;
    constexpr int kGrid = 256;
    std::array<double, 15> m{};
    for (int i = 0; i < kGrid; ++i)
        for (int j = 0; j < kGrid; ++j) {
            const double x = -0.6 + 1.2 * (i + 0.5) / kGrid;
            const double y = -0.6 + 1.2 * (j + 0.5) / kGrid;
            if (!inside(p, x, y)) continue;
            int slot = 0;
            for (int n = 0; n <= 4; ++n)
                for (int mm = 0; mm + n <= 4; ++mm)
                    m[static_cast<std::size_t>(slot++)] += std::pow(x, mm) * std::pow(y, n) * (1.44 / kGrid / kGrid);
        }
    for (std::size_t k = 0; k < 15; ++k) p.moments[k] = static_cast<float>(m[k]);
    return p;
}

KernelPanel kernel_panel_of(const Panel& p)
{
    KernelPanel k;
    k.frame = {0.8f, -0.36f, 0.48f, 0.6f, 0.48f, -0.64f, 0.0f, 0.8f, 0.6f};
    k.xi = p.xi;
    k.eta = p.eta;
    for (int i = 0; i < 4; ++i) {
        const int e = (i + 1) % 4;
        k.sides[i] = std::hypot(p.xi[e] - p.xi[i], p.eta[e] - p.eta[i]);
    }
    const int slots[13] = {0, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    for (int i = 0; i < 13; ++i) k.moments[i] = p.moments[slots[i]];
    k.area = p.moments[0];
    return k;
}

// Field points at a distance whose r^2/S is the given ratio.
std::vector<std::array<float, 3>> points_at(double ratio, double area)
{
    std::vector<std::array<float, 3>> pts;
    const double r = std::sqrt(ratio * area);
    for (int i = 0; i < 64; ++i) {
        const double a = 0.37 * i, b = 0.11 * i - 1.0;
        pts.push_back({static_cast<float>(r * std::cos(a) * std::cos(b)), static_cast<float>(r * std::sin(a) * std::cos(b)),
                       static_cast<float>(r * std::sin(b))});
    }
    return pts;
}

void source_kernel_case(benchmark::State& state, double ratio, int gradients)
{
    const Panel p = make_panel();
    const KernelPanel k = kernel_panel_of(p);
    const auto pts = points_at(ratio, k.area);
    std::size_t i = 0;
    for (auto _ : state) {
        const SourceKernelResult r = source_kernel(pts[i++ % pts.size()], 0, k, gradients);
        benchmark::DoNotOptimize(r);
    }
    state.counters["ns_per_pair"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// kPanels panels whose centres lie on a sphere of radius sqrt(ratio S) about the origin,
// so the origin sees every panel in one regime.
struct RowCase {
    std::vector<float> colloc, frame, xi, eta, moments;
    std::vector<int> active;
};

RowCase row_case(double ratio)
{
    const Panel p = make_panel();
    RowCase c;
    const double r = std::sqrt(ratio * p.moments[0]);
    for (int j = 0; j < kPanels; ++j) {
        const double a = 2.399963 * j, z = 1.0 - (2.0 * j + 1.0) / kPanels;
        const double s = std::sqrt(1.0 - z * z);
        c.colloc.insert(c.colloc.end(), {static_cast<float>(r * s * std::cos(a)),
                                         static_cast<float>(r * s * std::sin(a)), static_cast<float>(r * z)});
        const double ca = std::cos(a), sa = std::sin(a);
        c.frame.insert(c.frame.end(), {static_cast<float>(ca), static_cast<float>(-sa), 0.0f,
                                       static_cast<float>(sa), static_cast<float>(ca), 0.0f, 0.0f, 0.0f, 1.0f});
        c.xi.insert(c.xi.end(), p.xi.begin(), p.xi.end());
        c.eta.insert(c.eta.end(), p.eta.begin(), p.eta.end());
        c.moments.insert(c.moments.end(), p.moments.begin(), p.moments.end());
        c.active.push_back(1);
    }
    return c;
}

void row_variant_case(benchmark::State& state, double ratio)
{
    const RowCase c = row_case(ratio);
    const QuadraturePanels view{c.colloc, c.frame, c.xi, c.eta, c.moments, c.active, {}};
    const RowPanels rows = make_row_panels(view, kPanels);
    RowWorkspace work;
    std::vector<float> result(static_cast<std::size_t>(kPanels) * kDensityColumns);
    for (auto _ : state) {
        reference::vquadr_row({0.0f, 0.0f, 0.0f}, kPanels, rows, result, work);
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_pair"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kPanels, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void vquadr_case(benchmark::State& state, double ratio)
{
    RowCase c = row_case(ratio);
    // Panel 1 at the origin, every other collocation point on the sphere.
    c.colloc[0] = c.colloc[1] = c.colloc[2] = 0.0f;
    const QuadraturePanels view{c.colloc, c.frame, c.xi, c.eta, c.moments, c.active, {}};
    std::vector<float> result(static_cast<std::size_t>(kPanels) * kDensityColumns);
    for (auto _ : state) {
        vquadr(1, kPanels, view, result, 0.0f);
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_pair"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kPanels, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK_CAPTURE(source_kernel_case, near, 10.0, 0);
BENCHMARK_CAPTURE(source_kernel_case, intermediate, 90.0, 0);
BENCHMARK_CAPTURE(source_kernel_case, far, 400.0, 0);
BENCHMARK_CAPTURE(source_kernel_case, near_gradients, 10.0, 1);
BENCHMARK_CAPTURE(source_kernel_case, intermediate_gradients, 90.0, 1);
BENCHMARK_CAPTURE(source_kernel_case, far_gradients, 400.0, 1);
BENCHMARK_CAPTURE(row_variant_case, near, 10.0);
BENCHMARK_CAPTURE(row_variant_case, intermediate, 90.0);
BENCHMARK_CAPTURE(row_variant_case, far, 400.0);
BENCHMARK_CAPTURE(vquadr_case, near, 10.0);
BENCHMARK_CAPTURE(vquadr_case, intermediate, 90.0);
BENCHMARK_CAPTURE(vquadr_case, far, 400.0);

BENCHMARK_MAIN();
