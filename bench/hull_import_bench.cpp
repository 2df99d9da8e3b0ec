// Timing of torva-mesh import on a 10,000-panel GDF: a half Wigley hull of 200 x 50
// quadrilaterals (L = 2, B = 0.2, T = 0.125, cosine-spaced along x), read, checked (duplicate
// nodes merged, the cut at the waterline, hanging nodes, open edges, orientation), sectioned
// and re-gridded into 40 x 16 panels -- everything `torva-mesh import` does before it writes.
// The mesh file is written once, outside the timing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "hull.hpp"

namespace {

constexpr int kNx = 200, kNz = 50;

std::string write_hull()
{
    const std::string path = (std::filesystem::temp_directory_path() / "torva_hull_bench.gdf").string();
    std::ofstream o(path);
    o.precision(10);
    o << "bench hull\n1.0 9.81\n0 1\n" << kNx * kNz << "\n";
    auto node = [&](int i, int j) {
        const double x = -std::cos(std::numbers::pi * i / kNx), z = -0.125 + 0.125 * j / kNz;
        const double y = 0.1 * (1 - x * x) * (1 - z * z / (0.125 * 0.125));
        o << x << ' ' << y << ' ' << z << '\n';
    };
    for (int j = 0; j < kNz; ++j)
        for (int i = 0; i < kNx; ++i) {   // counter-clockwise seen from the fluid (+y)
            node(i, j);
            node(i, j + 1);
            node(i + 1, j + 1);
            node(i + 1, j);
        }
    return path;
}

void BM_ImportGdf10000(benchmark::State& state)
{
    namespace h = torva::hull;
    const std::string path = write_hull();
    std::size_t sheets = 0;
    for (auto _ : state) {
        std::vector<std::string> notes;
        const h::Surface s = h::read_gdf(path, notes);
        const h::Prepared p = h::prepare(s, {}, notes);
        const h::Slicer slice(p);
        const h::HullExtent e{p.x_min, p.x_max, 1e-6 * (p.x_max - p.x_min)};
        const auto out = h::regrid([&slice](double x) { return slice(x); }, e, {40, 16}, notes);
        sheets = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["panels_in"] = kNx * kNz;
    state.counters["sheets"] = static_cast<double>(sheets);
    std::filesystem::remove(path);
}
BENCHMARK(BM_ImportGdf10000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
